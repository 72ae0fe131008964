// The program's end of gm7bridge: starts the bridge at the first call and
// makes the GoldMine API's calls through it (Protocol.h). Text goes in and
// comes back as the API's 8-bit bytes. Qt-free, so that it is built and
// tested for Windows as well.
#pragma once

#include "bridge/ChildProcess.h"
#include "bridge/Protocol.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bridge {

class Client
{
public:
    // What every call answers once the bridge has stopped or could not start.
    static constexpr int32_t kStopped = -1000;

    // bridgePath: the gm7bridge executable (UTF-8); arguments are passed on,
    // e.g. {"--library", path}.
    explicit Client(std::string bridgePath, std::vector<std::string> arguments = {});
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    int32_t loadBDE(std::string_view sysDir, std::string_view goldDir, std::string_view commonDir,
                    std::string_view userName, std::string_view password);
    int32_t dsQuery(std::string_view sql);
    int32_t dsFetch(int32_t handle, char *buffer, int32_t size, int32_t count);
    // Sent without waiting for a handle > 0, as the three below.
    int32_t dsClose(int32_t handle);
    int32_t nvCreate();
    // These three are sent without waiting for their answers: they answer 0,
    // and a failure makes the next answered call fail with its result.
    int32_t nvSetValue(int32_t container, std::string_view name, std::string_view value);
    int32_t nvAppendNvValue(int32_t container, std::string_view name, int32_t nested);
    int32_t nvEraseAll(int32_t container);
    // The text the API handed back; nullopt for a null pointer. After a
    // failure of the bridge itself, the default comes back, as the library
    // gives it for a container it does not know.
    std::optional<std::string> nvGetValue(int32_t container, std::string_view name,
                                          std::string_view defaultValue);
    // Sent without waiting for a container > 0, as the three above.
    int32_t nvDelete(int32_t container);
    int32_t execute(std::string_view callName, int32_t container);

    // What the stand-in says about the last failed GMW_LoadBDE; nullopt where
    // the library has no such call or the bridge has stopped.
    std::optional<std::string> loadFailureReason();

    // Sends what is waiting to be sent; false when the bridge has stopped.
    bool flush();

    // Empty while the bridge serves; otherwise a sentence saying why it no
    // longer does ("The GoldMine API stopped: ...").
    const std::string &stoppedReason() const { return m_stoppedReason; }
    // Why the library or a function could not be bound ("" when all were).
    const std::string &bindError() const { return m_bindError; }
    // The unanswered call whose failure the latest answered call reported.
    struct EarlierFailure
    {
        Call call = Call::Hello;
        int32_t result = 0;
    };
    const std::optional<EarlierFailure> &earlierFailure() const { return m_earlierFailure; }
    // The bridge's process id once started (tests end it to play a crash).
    long long processId() const { return m_process.processId(); }
    // The bridge's pointer width in bits, from its greeting (0 before).
    uint32_t bridgeBits() const { return m_bridgeBits; }

private:
    // The answer's body after its status byte, or nullopt when the bridge
    // stopped; *status receives the status.
    std::optional<std::string> roundTrip(Writer &request, Status *status);
    void queue(Writer &request);
    bool ensureStarted();
    void stop(const std::string &why);
    // Stops with how the bridge ended, once a pipe to it broke.
    void ended();
    // Reads an i32 result answer, handling every status.
    int32_t resultOf(Writer &request);
    // The result for an answer other than Ok (Unbound, EarlierFailed).
    int32_t notOk(Status status, const std::string &body);
    // Ends a bridge whose answer made no sense.
    int32_t unreadable();
    std::optional<std::string> readAnswer(Status *status);

    std::string m_bridgePath;
    std::vector<std::string> m_arguments;
    ChildProcess m_process;
    bool m_startTried = false;
    std::string m_pending; // unanswered requests not yet written
    std::string m_stoppedReason;
    std::string m_bindError;
    std::optional<EarlierFailure> m_earlierFailure;
    uint32_t m_bridgeBits = 0;
    std::string m_answer;

    // The reading call the bridge made ahead, after the latest sizing call.
    struct ReadAhead
    {
        int32_t handle = 0;
        int32_t size = -1;
        int32_t result = 0;
        std::string buffer;
    };
    std::optional<ReadAhead> m_readAhead;
};

} // namespace bridge
