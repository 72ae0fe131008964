// The Windows client end of the DDE conversation with the running GoldMine
// client, over DDEML. Qt-free, so that it is built and tested on Windows
// (under Wine) by itself; DdeLink wraps it for the program.
#pragma once

#ifdef _WIN32

#include <string>
#include <string_view>

namespace goldmine::dde {

inline constexpr unsigned kDdemlTimeoutMs = 5000;

class DdemlClient
{
public:
    enum class Status {
        Ok,
        NotRunning, // no server answers for the service and topic
        Failed,     // any other failure
    };
    struct Answer
    {
        Status status = Status::Failed;
        std::wstring value; // CF_TEXT read in the ANSI code page, up to its zero
        std::string error;  // why it failed, for the operator
    };

    DdemlClient(std::wstring service, std::wstring topic, unsigned timeoutMs = kDdemlTimeoutMs);
    ~DdemlClient();
    DdemlClient(const DdemlClient &) = delete;
    DdemlClient &operator=(const DdemlClient &) = delete;

    // Opens and closes one conversation: whether a server answers at all.
    Answer probe();
    // Requests one item in CF_TEXT in a conversation of its own. A server
    // built on Wine's DDEML answers a request with its data and then with a
    // stray positive acknowledgement, which a second request in the same
    // conversation takes as its (negative) answer; a fresh conversation per
    // request gets every answer right there and on Windows alike.
    Answer request(std::wstring_view item);

private:
    Answer failure(Status status, const std::string &what);

    std::wstring m_service;
    std::wstring m_topic;
    unsigned m_timeoutMs;
    unsigned long m_instance = 0;
    std::string m_initError;
};

} // namespace goldmine::dde

#endif
