#include "goldmine/DdeLink.h"

#ifdef _WIN32

#include "goldmine/DdemlClient.h"

namespace goldmine {

DdeLink::DdeLink(const QString &application, const QString &topic)
    : m_application(application)
    , m_topic(topic)
{}

DdeLink::~DdeLink() = default;

void DdeLink::drop()
{
    m_client.reset();
    m_linkMode = kLinkNone;
}

DdeLink::Status DdeLink::fail(Status status, const QString &reason)
{
    drop();
    m_lastError = reason;
    return status;
}

DdeLink::Status DdeLink::DDEInitiate()
{
    drop();
    m_linkTopic = m_application + QLatin1Char('|') + m_topic;
    m_lastError.clear();
    m_client =
        std::make_unique<dde::DdemlClient>(m_application.toStdWString(), m_topic.toStdWString());
    const dde::DdemlClient::Answer probe = m_client->probe();
    if (probe.status != dde::DdemlClient::Status::Ok)
        return fail(probe.status == dde::DdemlClient::Status::NotRunning ? Status::NotRunning
                                                                         : Status::Failed,
                    QString::fromStdString(probe.error));
    m_linkMode = kLinkManual;
    return Status::Linked;
}

Result<QString> DdeLink::DDERequest(const QString &item)
{
    m_linkItem = item;
    if (m_linkMode != kLinkManual)
        return Error{QStringLiteral("no DDE link")};
    const dde::DdemlClient::Answer answer = m_client->request(item.toStdWString());
    if (answer.status != dde::DdemlClient::Status::Ok) {
        m_lastError = QString::fromStdString(answer.error);
        return Error{m_lastError};
    }
    m_text = QString::fromStdWString(answer.value);
    return m_text;
}

} // namespace goldmine

#else

#include "goldmine/DdeProtocol.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace goldmine {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(strerror(error));
}

// Sends all of bytes before the deadline.
Result<void> sendAll(int fd, const QByteArray &bytes, const QDeadlineTimer &deadline)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        pollfd waitFor{fd, POLLOUT, 0};
        const int ready = poll(&waitFor, 1, static_cast<int>(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return Error{ready == 0 ? QStringLiteral("time-out") : systemError(errno)};
        const ssize_t written = send(fd, bytes.constData() + sent,
                                     static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return Error{systemError(errno)};
        }
        sent += written;
    }
    return {};
}

// Reads exactly count bytes before the deadline.
Result<QByteArray> receiveExactly(int fd, qsizetype count, const QDeadlineTimer &deadline)
{
    QByteArray bytes(count, '\0');
    qsizetype received = 0;
    while (received < count) {
        pollfd waitFor{fd, POLLIN, 0};
        const int ready = poll(&waitFor, 1, static_cast<int>(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return Error{ready == 0 ? QStringLiteral("time-out") : systemError(errno)};
        const ssize_t got =
            recv(fd, bytes.data() + received, static_cast<size_t>(count - received), 0);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return Error{systemError(errno)};
        }
        if (got == 0)
            return Error{QStringLiteral("the server closed the conversation")};
        received += got;
    }
    return bytes;
}

} // namespace

DdeLink::DdeLink(const QString &application, const QString &topic)
    : m_application(application)
    , m_topic(topic)
{}

DdeLink::~DdeLink()
{
    drop();
}

void DdeLink::drop()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_linkMode = kLinkNone;
}

DdeLink::Status DdeLink::fail(Status status, const QString &reason)
{
    drop();
    m_lastError = reason;
    return status;
}

DdeLink::Status DdeLink::DDEInitiate()
{
    drop();
    m_linkTopic = m_application + QLatin1Char('|') + m_topic;
    m_lastError.clear();

    Result<QString> directory = dde::socketDirectory(false);
    if (!directory) {
        const ErrorCode code = directory.error().code;
        return fail(code == ErrorCode::DirectoryMissing    ? Status::NotRunning
                    : code == ErrorCode::DirectoryInsecure ? Status::Refused
                                                           : Status::Failed,
                    directory.error().message);
    }
    const QByteArray path =
        QFile::encodeName(*directory + QLatin1Char('/') + dde::socketName(m_application, m_topic));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return fail(Status::Failed, QStringLiteral("socket path too long"));
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));

    m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return fail(Status::Failed, systemError(errno));
    // A server whose backlog is full must not hold the program forever.
    timeval timeout{dde::kTimeoutMs / 1000, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    const QString socketPath = QFile::decodeName(path);
    if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ECONNREFUSED)
            return fail(Status::NotRunning, systemError(error));
        if (error == EACCES || error == EPERM)
            return fail(Status::Refused, QStringLiteral("the socket ") + socketPath +
                                             QStringLiteral(" cannot be reached: ") +
                                             systemError(error));
        return fail(Status::Failed, systemError(error));
    }
    // Whoever listens here learns nothing from us unless it is our own user.
    if (!dde::peerIsSameUser(m_fd))
        return fail(Status::Refused, QStringLiteral("the program answering on ") + socketPath +
                                         QStringLiteral(" runs as another user"));

    m_linkMode = kLinkManual;
    return Status::Linked;
}

Result<QString> DdeLink::DDERequest(const QString &item)
{
    m_linkItem = item;
    if (m_linkMode != kLinkManual)
        return Error{QStringLiteral("no DDE link")};

    // Any transport failure leaves the stream out of step, so it drops the link.
    const auto lost = [this](const QString &reason) -> Result<QString> {
        drop();
        m_lastError = reason;
        return Error{reason};
    };
    const QDeadlineTimer deadline(dde::kTimeoutMs);
    if (Result<void> sent = sendAll(m_fd, dde::encodeRequest(item), deadline); !sent)
        return lost(sent.error().message);
    Result<QByteArray> header = receiveExactly(m_fd, dde::kHeaderSize, deadline);
    if (!header)
        return lost(header.error().message);
    const quint32 length = qFromBigEndian<quint32>(header->constData());
    if (length > static_cast<quint32>(dde::kMaxFrameSize))
        return lost(QStringLiteral("answer too large"));
    Result<QByteArray> body = receiveExactly(m_fd, static_cast<qsizetype>(length), deadline);
    if (!body)
        return lost(body.error().message);
    Result<dde::Answer> answer = dde::decodeAnswer(*body);
    if (!answer)
        return lost(answer.error().message);
    if (answer->status != dde::AnswerStatus::Ok) {
        m_lastError = answer->text;
        return Error{answer->text};
    }
    m_text = answer->text;
    return m_text;
}

} // namespace goldmine

#endif
