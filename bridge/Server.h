// gm7bridge's serving loop: reads requests (Protocol.h), makes the API calls
// on the loaded library and writes the answers.
#pragma once

#include "bridge/Protocol.h"
#include "bridge/Stream.h"

#include <memory>
#include <string>

namespace bridge {

class Library;

class Server
{
public:
    Server(Library &library, InputStream &input, OutputStream &output);
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Serves until the input ends. Answers the process's exit status: 0 for
    // an input that ended between requests, 2 for a malformed or cut request,
    // 3 when the answers could not be written.
    int run();

    // The reason run() stopped early ("" after a clean end); never contains
    // request contents.
    const std::string &failure() const { return m_failure; }

private:
    enum class Outcome { Continue, Malformed, Broken };

    Outcome serve(std::string &body);
    Outcome malformed(const std::string &reason);
    Outcome answer(Writer &writer);
    void callFailed(Call call, int32_t result);

    struct Functions;

    Library &m_library;
    InputStream &m_input;
    OutputStream &m_output;
    bool m_greeted = false;
    std::unique_ptr<Functions> m_functions;
    std::string m_failure;

    // The first failure of a call sent without waiting, until the next
    // answered request reports it.
    bool m_earlierFailed = false;
    Call m_earlierCall = Call::Hello;
    int32_t m_earlierResult = 0;
};

} // namespace bridge
