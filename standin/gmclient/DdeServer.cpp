#include "DdeServer.h"

#include "goldmine/DdeProtocol.h"

#include <QFile>
#include <QLocalSocket>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// The bytes received so far on one connection. A connection that sends no
// whole request for longer than the time-out (silent, or a request left
// half-sent) is closed, so idle clients cannot pile up. Owned by its socket.
class DdeServer::Connection : public QObject
{
public:
    explicit Connection(QLocalSocket *socket)
        : QObject(socket)
    {
        m_timer.setSingleShot(true);
        m_timer.setInterval(goldmine::dde::kTimeoutMs);
        QObject::connect(&m_timer, &QTimer::timeout, socket, &QLocalSocket::abort);
        m_timer.start();
    }
    QByteArray buffer;
    QTimer &timer() { return m_timer; }

private:
    QTimer m_timer;
};

DdeServer::DdeServer(QHash<QString, QString> items, QObject *parent)
    : QObject(parent)
{
    for (auto it = items.cbegin(); it != items.cend(); ++it)
        m_items.insert(it.key().toLower(), it.value());
    connect(&m_server, &QLocalServer::newConnection, this, &DdeServer::acceptConnections);
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

    // The lock decides which of two servers starting together wins; whoever
    // holds it may replace a socket file left behind by a server that died.
    const QByteArray lockPath = QFile::encodeName(path + QStringLiteral(".lock"));
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (m_lockFd < 0) {
        *error = QStringLiteral("cannot open %1: %2")
                     .arg(QFile::decodeName(lockPath), QString::fromLocal8Bit(strerror(errno)));
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
    if (lstat(QFile::encodeName(path).constData(), &existing) == 0 &&
        existing.st_uid != geteuid()) {
        *error = QStringLiteral("%1 belongs to another user; not replacing it").arg(path);
        return false;
    }
    QLocalServer::removeServer(path);

    const mode_t previousMask = umask(S_IRWXG | S_IRWXO);
    const bool listening = m_server.listen(path);
    umask(previousMask);
    if (!listening) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(path, m_server.errorString());
        return false;
    }
    chmod(QFile::encodeName(path).constData(), S_IRUSR | S_IWUSR);
    m_socketPath = path;
    return true;
}

void DdeServer::close()
{
    if (m_server.isListening()) {
        m_server.close();
        // Qt removes the file on close; make sure of it for any version.
        QFile::remove(m_socketPath);
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
}

void DdeServer::acceptConnections()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!goldmine::dde::peerIsSameUser(static_cast<int>(socket->socketDescriptor()))) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto *connection = new Connection(socket);
        connect(socket, &QLocalSocket::readyRead, connection,
                [this, socket, connection] { readRequests(socket, connection); });
        readRequests(socket, connection);
    }
}

void DdeServer::readRequests(QLocalSocket *socket, Connection *connection)
{
    connection->buffer.append(socket->readAll());
    for (;;) {
        QByteArray payload;
        const goldmine::dde::FrameState state =
            goldmine::dde::takeFrame(connection->buffer, &payload);
        if (state == goldmine::dde::FrameState::TooLarge) {
            socket->abort();
            return;
        }
        if (state == goldmine::dde::FrameState::Incomplete)
            break;
        bool known = false;
        const QString answer = answerFor(goldmine::dde::decodeRequest(payload), &known);
        socket->write(goldmine::dde::encodeAnswer(
            known ? goldmine::dde::AnswerStatus::Ok : goldmine::dde::AnswerStatus::Error, answer));
        connection->timer().start(); // the next request gets the whole time-out
    }
}

QString DdeServer::answerFor(const QString &item, bool *known) const
{
    const auto found = m_items.constFind(item.toLower());
    *known = found != m_items.cend();
    return *known ? *found : QStringLiteral("unknown item: ") + item;
}
