#include "DdeServer.h"

#include "goldmine/DdeProtocol.h"

#include <QFile>
#include <QSocketNotifier>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// How long to wait before accepting again when the descriptors ran out and
// not even the reserve was left.
constexpr int kAcceptRetryMs = 100;
// What a closing connection reads and throws away at most.
constexpr std::size_t kMostDrained = std::size_t{64} * 1024;

QString systemError(int error)
{
    return QString::fromLocal8Bit(strerror(error));
}

} // namespace

// One client's conversation: the bytes of the request under way, or the
// answer not yet sent, never both. The timer closes a connection that sends
// no whole request, or takes no answer, within the DDE time-out.
class DdeServer::Connection : public QObject
{
public:
    Connection(int fd, DdeServer *server)
        : QObject(server)
        , m_fd(fd)
        , m_server(server)
        , m_reading(fd, QSocketNotifier::Read, this)
        , m_writing(fd, QSocketNotifier::Write, this)
    {
        m_writing.setEnabled(false);
        connect(&m_reading, &QSocketNotifier::activated, this, [this] { readSome(); });
        connect(&m_writing, &QSocketNotifier::activated, this, [this] { writeSome(); });
        m_deadline.setSingleShot(true);
        m_deadline.setInterval(goldmine::dde::kTimeoutMs);
        connect(&m_deadline, &QTimer::timeout, this, [this] { m_server->drop(this); });
        m_deadline.start();
        m_waiting.start();
    }
    ~Connection() override { closeSocket(); }

    // No answer pending: the client is the one to act.
    bool idle() const { return m_answer.isEmpty(); }
    qint64 waitedMs() const { return m_waiting.elapsed(); }

    void closeSocket()
    {
        if (m_fd < 0)
            return;
        // The notifiers must let go of the descriptor before it is closed.
        m_reading.setEnabled(false);
        m_writing.setEnabled(false);
        m_deadline.stop();
        // Bytes left unread would make the close a reset for the client
        // rather than the end of the conversation: take what is there now.
        char scratch[4096];
        for (std::size_t drained = 0; drained < kMostDrained;) {
            const ssize_t got = recv(m_fd, scratch, sizeof scratch, MSG_DONTWAIT);
            if (got <= 0)
                break;
            drained += static_cast<std::size_t>(got);
        }
        ::close(m_fd);
        m_fd = -1;
    }

    void send(QByteArray answer)
    {
        m_answer = std::move(answer);
        m_sent = 0;
        m_reading.setEnabled(false);
        writeSome();
    }

private:
    // Reads no further than the end of the request under way: the next one
    // stays in the socket until this one's answer has gone.
    void readSome()
    {
        using goldmine::dde::kHeaderSize;
        qsizetype wanted = kHeaderSize - m_request.size();
        if (wanted <= 0) {
            const quint32 length = qFromBigEndian<quint32>(m_request.constData());
            if (length > static_cast<quint32>(goldmine::dde::kMaxFrameSize)) {
                m_server->drop(this);
                return;
            }
            wanted = kHeaderSize + static_cast<qsizetype>(length) - m_request.size();
        }
        if (wanted > 0) {
            const qsizetype had = m_request.size();
            m_request.resize(had + wanted);
            const ssize_t got = recv(m_fd, m_request.data() + had, static_cast<size_t>(wanted), 0);
            if (got <= 0) {
                m_request.resize(had);
                if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                    return;
                m_server->drop(this); // closed by the client, or broken
                return;
            }
            m_request.resize(had + got);
        }
        QByteArray payload;
        switch (goldmine::dde::takeFrame(m_request, &payload)) {
        case goldmine::dde::FrameState::Incomplete:
            return;
        case goldmine::dde::FrameState::TooLarge:
            m_server->drop(this);
            return;
        case goldmine::dde::FrameState::Complete:
            m_server->answer(this, payload);
            return;
        }
    }

    void writeSome()
    {
        while (m_sent < m_answer.size()) {
            const ssize_t written =
                ::send(m_fd, m_answer.constData() + m_sent,
                       static_cast<size_t>(m_answer.size() - m_sent), MSG_NOSIGNAL);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    m_writing.setEnabled(true);
                    return;
                }
                m_server->drop(this);
                return;
            }
            m_sent += written;
        }
        m_answer = QByteArray();
        m_sent = 0;
        m_writing.setEnabled(false);
        m_reading.setEnabled(true);
        m_deadline.start(); // the next request gets the whole time-out
        m_waiting.start();
    }

    int m_fd;
    DdeServer *m_server;
    QSocketNotifier m_reading;
    QSocketNotifier m_writing;
    QTimer m_deadline;
    QElapsedTimer m_waiting;
    QByteArray m_request;
    QByteArray m_answer;
    qsizetype m_sent = 0;
};

DdeServer::DdeServer(const QHash<QString, QString> &items, QObject *parent)
    : QObject(parent)
{
    for (auto it = items.cbegin(); it != items.cend(); ++it)
        m_items.insert(it.key().toLower(), it.value());
    m_acceptRetry.setSingleShot(true);
    m_acceptRetry.setInterval(kAcceptRetryMs);
    connect(&m_acceptRetry, &QTimer::timeout, this, [this] {
        if (m_acceptNotifier)
            m_acceptNotifier->setEnabled(true);
    });
}

DdeServer::~DdeServer()
{
    close();
}

bool DdeServer::listen(const QString &application, const QString &topic, QString *error)
{
    goldmine::Result<QString> directory = goldmine::dde::socketDirectory(true);
    if (!directory) {
        *error = QStringLiteral("cannot serve %1|%2: %3")
                     .arg(application, topic, directory.error().message);
        return false;
    }
    const QString path =
        *directory + QLatin1Char('/') + goldmine::dde::socketName(application, topic);
    const QByteArray native = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (native.size() >= static_cast<qsizetype>(sizeof address.sun_path)) {
        *error = QStringLiteral("the socket path %1 is too long").arg(path);
        return false;
    }
    std::memcpy(address.sun_path, native.constData(), static_cast<size_t>(native.size()));

    // The lock decides which of two servers starting together wins; whoever
    // holds it may replace a socket file left behind by a server that died.
    const QByteArray lockPath = QFile::encodeName(path + QStringLiteral(".lock"));
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (m_lockFd < 0) {
        *error = QStringLiteral("cannot open %1: %2")
                     .arg(QFile::decodeName(lockPath), systemError(errno));
        return false;
    }
    if (flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
        *error = QStringLiteral("another GoldMine client already answers %1|%2 on %3")
                     .arg(application, topic, path);
        return false;
    }
    // Only a file of our own (left by a server of ours that died) may be
    // replaced; anyone else's socket in the private folder means tampering.
    struct stat existing;
    if (lstat(native.constData(), &existing) == 0) {
        if (existing.st_uid != geteuid()) {
            *error = QStringLiteral("%1 belongs to another user; not replacing it").arg(path);
            return false;
        }
        ::unlink(native.constData());
    }

    m_listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0) {
        *error = QStringLiteral("cannot make a socket: %1").arg(systemError(errno));
        return false;
    }
    const mode_t previousMask = umask(S_IRWXG | S_IRWXO);
    const bool bound =
        bind(m_listenFd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    const int bindError = errno;
    umask(previousMask);
    if (!bound || ::listen(m_listenFd, kMostConnections) != 0) {
        *error = QStringLiteral("cannot listen on %1: %2")
                     .arg(path, systemError(bound ? errno : bindError));
        ::close(m_listenFd);
        m_listenFd = -1;
        return false;
    }
    chmod(native.constData(), S_IRUSR | S_IWUSR);
    m_socketPath = path;
    takeReserve();
    m_acceptNotifier = new QSocketNotifier(m_listenFd, QSocketNotifier::Read, this);
    connect(m_acceptNotifier, &QSocketNotifier::activated, this, &DdeServer::acceptConnections);
    return true;
}

void DdeServer::close()
{
    for (Connection *connection : m_connections)
        delete connection;
    m_connections.clear();
    if (m_acceptNotifier) {
        m_acceptNotifier->setEnabled(false);
        delete m_acceptNotifier;
        m_acceptNotifier = nullptr;
    }
    m_acceptRetry.stop();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
        QFile::remove(m_socketPath);
    }
    releaseReserve();
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
}

void DdeServer::acceptConnections()
{
    for (;;) {
        const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            if (error == EINTR || error == ECONNABORTED)
                continue;
            if (error != EMFILE && error != ENFILE && error != ENOBUFS && error != ENOMEM)
                return; // EAGAIN: nobody else is waiting
            // Out of descriptors. The listener stays: with the reserve let go
            // there is room to work, an idle client makes room for the
            // waiting one, or else the waiting one is turned away.
            const bool hadReserve = releaseReserve();
            const bool shed = shedOldestIdle();
            if (!shed && hadReserve) {
                const int refused = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
                if (refused >= 0)
                    ::close(refused);
            }
            takeReserve();
            if (!shed && !hadReserve) {
                // Nothing to give back: wait a little rather than spin.
                m_acceptNotifier->setEnabled(false);
                m_acceptRetry.start();
                return;
            }
            continue;
        }
        if (!goldmine::dde::peerIsSameUser(fd)) {
            ::close(fd);
            continue;
        }
        if (static_cast<int>(m_connections.size()) >= kMostConnections && !shedOldestIdle()) {
            ::close(fd); // every connection is busy with an answer: try later
            continue;
        }
        m_connections.push_back(new Connection(fd, this));
    }
}

bool DdeServer::releaseReserve()
{
    if (m_reserve[0] < 0)
        return false;
    ::close(m_reserve[0]);
    ::close(m_reserve[1]);
    m_reserve[0] = m_reserve[1] = -1;
    return true;
}

void DdeServer::takeReserve()
{
    if (m_reserve[0] < 0 && pipe2(m_reserve, O_CLOEXEC) != 0)
        m_reserve[0] = m_reserve[1] = -1;
}

bool DdeServer::shedOldestIdle()
{
    Connection *oldest = nullptr;
    for (Connection *connection : m_connections) {
        if (connection->idle() && (!oldest || connection->waitedMs() > oldest->waitedMs()))
            oldest = connection;
    }
    if (!oldest)
        return false;
    drop(oldest);
    return true;
}

void DdeServer::drop(Connection *connection)
{
    const auto found = std::find(m_connections.begin(), m_connections.end(), connection);
    if (found == m_connections.end())
        return;
    m_connections.erase(found);
    // The descriptor is free at once; the object goes once the event that
    // led here (perhaps one of its own) is over.
    connection->closeSocket();
    connection->deleteLater();
}

void DdeServer::answer(Connection *connection, const QByteArray &request)
{
    bool known = false;
    const QString text = answerFor(goldmine::dde::decodeRequest(request), &known);
    connection->send(goldmine::dde::encodeAnswer(
        known ? goldmine::dde::AnswerStatus::Ok : goldmine::dde::AnswerStatus::Error, text));
}

QString DdeServer::answerFor(const QString &item, bool *known) const
{
    const auto found = m_items.constFind(item.toLower());
    *known = found != m_items.cend();
    return *known ? *found : QStringLiteral("unknown item: ") + item;
}
