#pragma once

#include "goldmine/Errors.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace goldmine {

#ifdef _WIN32
namespace dde {
class DdemlClient;
}
#endif

// The client end of the DDE conversation with the running GoldMine client:
// application "GoldMine", topic "Data", a manual link (the server sends an
// item only when it is requested). On Windows the conversation is DDEML's
// (DdemlClient.h); elsewhere it runs over the user's private local socket
// (see DdeProtocol.h).
class DdeLink
{
public:
    enum class Status {
        Linked,     // the conversation is open
        NotRunning, // no server answers for the application and topic
        Refused,    // the link's folder or socket is not safely this user's, or
                    // permission was denied; lastError() names it and says why
        Failed,     // any other failure; the link is down
    };
    enum LinkMode : int16_t { kLinkNone = 0, kLinkManual = 2 };

    explicit DdeLink(const QString &application = QStringLiteral("GoldMine"),
                     const QString &topic = QStringLiteral("Data"));
    virtual ~DdeLink();
    DdeLink(const DdeLink &) = delete;
    DdeLink &operator=(const DdeLink &) = delete;

    // Drops any earlier link, then opens the conversation. The caller decides
    // what "not running" means for the program.
    virtual Status DDEInitiate();
    // Requests one item and waits (at most a few seconds) for the answer: the
    // value exactly as the server sent it, or the reason the request failed.
    virtual Result<QString> DDERequest(const QString &item);

    LinkMode linkMode() const { return m_linkMode; }
    QString linkTopic() const { return m_linkTopic; } // "GoldMine|Data"
    QString linkItem() const { return m_linkItem; }   // the item last requested
    QString text() const { return m_text; }           // the last answer
    QString lastError() const { return m_lastError; }

protected:
    // Drops the link and keeps reason for lastError().
    Status fail(Status status, const QString &reason);

private:
    void drop();

    QString m_application;
    QString m_topic;
#ifdef _WIN32
    std::unique_ptr<dde::DdemlClient> m_client;
#else
    int m_fd = -1;
#endif
    LinkMode m_linkMode = kLinkNone;
    QString m_linkTopic;
    QString m_linkItem;
    QString m_text;
    QString m_lastError;
};

} // namespace goldmine
