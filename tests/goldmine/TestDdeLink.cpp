#include "goldmine/DdeLink.h"
#include "goldmine/DdeProtocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <atomic>
#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace goldmine;

namespace {

// A raw server on the link's socket path that answers each request with the
// bytes reply() gives (an empty reply closes the connection), in a thread.
// With closeAfterReply, the first reply is also the last.
class ScriptedServer
{
public:
    using Reply = std::function<QByteArray(const QString &item)>;

    ScriptedServer(const QString &path, Reply reply, bool closeAfterReply = false)
        : m_reply(std::move(reply))
        , m_closeAfterReply(closeAfterReply)
    {
        m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(path);
        std::memcpy(address.sun_path, native.constData(), static_cast<size_t>(native.size()));
        m_bound = bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                  listen(m_fd, 4) == 0;
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedServer()
    {
        shutdown(m_fd, SHUT_RDWR);
        ::close(m_fd);
        m_thread.join();
    }
    bool bound() const { return m_bound; }
    int requests() const { return m_requests; }

private:
    void serve()
    {
        const int connection = accept(m_fd, nullptr, nullptr);
        if (connection < 0)
            return;
        for (;;) {
            char header[4];
            if (recv(connection, header, 4, MSG_WAITALL) != 4)
                break;
            const quint32 length = qFromBigEndian<quint32>(header);
            QByteArray item(static_cast<qsizetype>(length), '\0');
            if (length > 0 && recv(connection, item.data(), length, MSG_WAITALL) != ssize_t(length))
                break;
            ++m_requests;
            const QByteArray reply = m_reply(QString::fromUtf8(item));
            if (reply.isEmpty())
                break;
            if (send(connection, reply.constData(), static_cast<size_t>(reply.size()),
                     MSG_NOSIGNAL) < 0 ||
                m_closeAfterReply)
                break;
        }
        ::close(connection);
    }

    Reply m_reply;
    bool m_closeAfterReply = false;
    int m_fd = -1;
    bool m_bound = false;
    std::atomic<int> m_requests = 0;
    std::thread m_thread;
};

QByteArray okAnswer(const QString &text)
{
    return dde::encodeAnswer(dde::AnswerStatus::Ok, text);
}

mode_t modeOf(const QString &path)
{
    struct stat info;
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

} // namespace

class TestDdeLink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void frames_data();
    void frames();
    void answers();
    void privateDirectory();
    void directoryRefused_data();
    void directoryRefused();
    void directoryWithoutRuntimeDir();
    void folderWithoutRuntimeDir_data();
    void folderWithoutRuntimeDir();
    void peerUid();
    void notRunning_data();
    void notRunning();
    void requestsReturnValuesExactly();
    void errorAnswerKeepsLink();
    void brokenAnswersDropLink_data();
    void brokenAnswersDropLink();
    void silentServerTimesOut();
    void requestWithoutLink();
    void serverOfAnotherUserRefused();

private:
    QString socketPath() const
    {
        return m_runtime->path() + QStringLiteral("/ruvelo-dde/GoldMine.Data");
    }
    void makeDirectory() const { QVERIFY(dde::socketDirectory(true).ok()); }

    std::unique_ptr<QTemporaryDir> m_runtime;
};

void TestDdeLink::init()
{
    m_runtime = std::make_unique<QTemporaryDir>();
    QVERIFY(m_runtime->isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime->path()));
}

void TestDdeLink::cleanup()
{
    m_runtime.reset();
}

void TestDdeLink::frames_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<int>("state");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("rest");

    const int incomplete = int(dde::FrameState::Incomplete);
    const int complete = int(dde::FrameState::Complete);
    const int tooLarge = int(dde::FrameState::TooLarge);
    QTest::newRow("empty") << QByteArray() << incomplete << QByteArray() << QByteArray();
    QTest::newRow("part of the header")
        << QByteArray("\0\0\0", 3) << incomplete << QByteArray() << QByteArray("\0\0\0", 3);
    QTest::newRow("part of the payload") << QByteArray("\0\0\0\5abc", 7) << incomplete
                                         << QByteArray() << QByteArray("\0\0\0\5abc", 7);
    QTest::newRow("empty payload")
        << QByteArray("\0\0\0\0", 4) << complete << QByteArray("") << QByteArray();
    QTest::newRow("two frames") << QByteArray("\0\0\0\2ab\0\0\0\1c", 11) << complete
                                << QByteArray("ab") << QByteArray("\0\0\0\1c", 5);
    QTest::newRow("just over the limit")
        << QByteArray("\0\1\0\1", 4) << tooLarge << QByteArray() << QByteArray("\0\1\0\1", 4);
    QTest::newRow("huge length") << QByteArray("\xff\xff\xff\xff", 4) << tooLarge << QByteArray()
                                 << QByteArray("\xff\xff\xff\xff", 4);
}

void TestDdeLink::frames()
{
    QFETCH(QByteArray, buffer);
    QFETCH(int, state);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, rest);

    QByteArray taken;
    QCOMPARE(int(dde::takeFrame(buffer, &taken)), state);
    QCOMPARE(taken, payload);
    QCOMPARE(buffer, rest);
}

void TestDdeLink::answers()
{
    for (const QString &text :
         {QString(), QStringLiteral("  GoldMine:  "), QStringLiteral("Zoë\tÆrø\r\n")}) {
        QByteArray framed = dde::encodeAnswer(dde::AnswerStatus::Ok, text);
        QByteArray payload;
        QCOMPARE(dde::takeFrame(framed, &payload), dde::FrameState::Complete);
        Result<dde::Answer> answer = dde::decodeAnswer(payload);
        QVERIFY(answer.ok());
        QCOMPARE(answer->status, dde::AnswerStatus::Ok);
        QCOMPARE(answer->text, text);
    }
    QVERIFY(!dde::decodeAnswer(QByteArray()).ok());
    QVERIFY(!dde::decodeAnswer(QByteArray("\x07text")).ok());
}

void TestDdeLink::privateDirectory()
{
    const QString expected = m_runtime->path() + QStringLiteral("/ruvelo-dde");
    Result<QString> missing = dde::socketDirectory(false);
    QVERIFY(!missing.ok());
    QCOMPARE(missing.error().code, ErrorCode::DirectoryMissing);

    Result<QString> created = dde::socketDirectory(true);
    QVERIFY2(created.ok(), qPrintable(created.ok() ? QString() : created.error().message));
    QCOMPARE(*created, expected);
    QCOMPARE(modeOf(expected), mode_t(0700));
    // A second server finds it as made.
    Result<QString> again = dde::socketDirectory(false);
    QVERIFY(again.ok());
    QCOMPARE(*again, expected);
}

void TestDdeLink::directoryRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("open to the group") << "0750";
    QTest::newRow("open to others") << "0701";
    QTest::newRow("symbolic link") << "link";
    QTest::newRow("regular file") << "file";
}

void TestDdeLink::directoryRefused()
{
    QFETCH(QString, kind);
    const QString path = m_runtime->path() + QStringLiteral("/ruvelo-dde");
    const QByteArray native = QFile::encodeName(path);
    if (kind == QStringLiteral("link")) {
        QTemporaryDir elsewhere;
        QVERIFY(QFile::link(elsewhere.path(), path));
        chmod(QFile::encodeName(elsewhere.path()).constData(), 0700);
    } else if (kind == QStringLiteral("file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else {
        QCOMPARE(mkdir(native.constData(), 0700), 0);
        QCOMPARE(chmod(native.constData(), kind.toUInt(nullptr, 8)), 0);
    }
    for (const bool create : {false, true}) {
        Result<QString> directory = dde::socketDirectory(create);
        QVERIFY(!directory.ok());
        QCOMPARE(directory.error().code, ErrorCode::DirectoryInsecure);
    }
    // A link through such a directory is refused, not "not running", and the
    // reason names the folder.
    DdeLink link;
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::Refused);
    QVERIFY2(link.lastError().contains(path), qPrintable(link.lastError()));
}

void TestDdeLink::directoryWithoutRuntimeDir()
{
    // Another user got to the shared temporary folder first: that must not
    // matter any more.
    const QString temp = m_runtime->path() + QStringLiteral("/tmp");
    const QString planted = temp + QStringLiteral("/ruvelo-dde-") + QString::number(getuid());
    QVERIFY(QDir().mkpath(planted));
    QCOMPARE(chmod(QFile::encodeName(planted).constData(), 0777), 0);
    const QString home = m_runtime->path() + QStringLiteral("/home");
    QVERIFY(QDir().mkpath(home));
    QCOMPARE(chmod(QFile::encodeName(home).constData(), 0755), 0);

    qunsetenv("XDG_RUNTIME_DIR");
    const QByteArray savedTemp = qgetenv("TMPDIR");
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("TMPDIR", QFile::encodeName(temp));
    qputenv("HOME", QFile::encodeName(home));
    Result<QString> created = dde::socketDirectory(true);
    qputenv("TMPDIR", savedTemp);
    qputenv("HOME", savedHome);
    if (savedTemp.isEmpty())
        qunsetenv("TMPDIR");
    QVERIFY2(created.ok(), qPrintable(created.ok() ? QString() : created.error().message));
    // The user's own runtime folder where the system made one, else the home.
    const QString runUser = QStringLiteral("/run/user/") + QString::number(getuid());
    const QString expected = modeOf(runUser) == 0700 && QFileInfo(runUser).ownerId() == getuid()
                                 ? runUser + QStringLiteral("/ruvelo-dde")
                                 : home + QStringLiteral("/.ruvelo-dde");
    QCOMPARE(*created, expected);
    QCOMPARE(modeOf(*created), mode_t(0700));
}

void TestDdeLink::folderWithoutRuntimeDir_data()
{
    QTest::addColumn<QString>("runUser");  // "private", "none", "open", "link", "other"
    QTest::addColumn<QString>("home");     // "private", "readable", "writable", "other"
    QTest::addColumn<QString>("expected"); // "run", "home" or "refused"

    QTest::newRow("runtime folder of the user's") << "private"
                                                  << "private"
                                                  << "run";
    QTest::newRow("no runtime folder") << "none"
                                       << "private"
                                       << "home";
    QTest::newRow("home others may read") << "none"
                                          << "readable"
                                          << "home";
    QTest::newRow("runtime folder open to others") << "open"
                                                   << "private"
                                                   << "home";
    QTest::newRow("runtime folder is a link") << "link"
                                              << "private"
                                              << "home";
    QTest::newRow("home others may write into") << "none"
                                                << "writable"
                                                << "refused";
    if (geteuid() == 0) {
        QTest::newRow("runtime folder of another user") << "other"
                                                        << "private"
                                                        << "home";
        QTest::newRow("home of another user") << "none"
                                              << "other"
                                              << "refused";
    }
}

void TestDdeLink::folderWithoutRuntimeDir()
{
    QFETCH(QString, runUser);
    QFETCH(QString, home);
    QFETCH(QString, expected);
    const QString runPath = m_runtime->path() + QStringLiteral("/run-user");
    const QString homePath = m_runtime->path() + QStringLiteral("/home");
    const QByteArray runNative = QFile::encodeName(runPath);
    const QByteArray homeNative = QFile::encodeName(homePath);
    QCOMPARE(mkdir(homeNative.constData(), 0700), 0);
    if (runUser == QStringLiteral("link")) {
        const QString target = m_runtime->path() + QStringLiteral("/elsewhere");
        QCOMPARE(mkdir(QFile::encodeName(target).constData(), 0700), 0);
        QVERIFY(QFile::link(target, runPath));
    } else if (runUser != QStringLiteral("none")) {
        QCOMPARE(mkdir(runNative.constData(), 0700), 0);
        QCOMPARE(chmod(runNative.constData(), runUser == QStringLiteral("open") ? 0755 : 0700), 0);
        if (runUser == QStringLiteral("other"))
            QCOMPARE(chown(runNative.constData(), 65534, 65534), 0);
    }
    if (home == QStringLiteral("readable"))
        QCOMPARE(chmod(homeNative.constData(), 0755), 0);
    else if (home == QStringLiteral("writable"))
        QCOMPARE(chmod(homeNative.constData(), 0777), 0);
    else if (home == QStringLiteral("other"))
        QCOMPARE(chown(homeNative.constData(), 65534, 65534), 0);

    Result<QString> chosen = dde::socketDirectoryWithoutRuntimeDir(runPath, homePath);
    if (expected == QStringLiteral("refused")) {
        QVERIFY(!chosen.ok());
        QCOMPARE(chosen.error().code, ErrorCode::DirectoryInsecure);
        QVERIFY2(chosen.error().message.contains(homePath), qPrintable(chosen.error().message));
    } else {
        QVERIFY2(chosen.ok(), qPrintable(chosen.ok() ? QString() : chosen.error().message));
        QCOMPARE(*chosen, expected == QStringLiteral("run")
                              ? runPath + QStringLiteral("/ruvelo-dde")
                              : homePath + QStringLiteral("/.ruvelo-dde"));
    }
}

void TestDdeLink::peerUid()
{
    int pair[2];
    QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    QVERIFY(dde::peerHasUid(pair[0], getuid()));
    QVERIFY(dde::peerIsSameUser(pair[1]));
    QVERIFY(!dde::peerHasUid(pair[0], getuid() + 1));
    ::close(pair[0]);
    ::close(pair[1]);
    int pipeEnds[2];
    QCOMPARE(pipe(pipeEnds), 0);
    QVERIFY(!dde::peerIsSameUser(pipeEnds[0])); // not a socket
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

void TestDdeLink::notRunning_data()
{
    QTest::addColumn<QString>("setup");
    QTest::newRow("no directory") << "none";
    QTest::newRow("no socket") << "directory";
    QTest::newRow("socket left by a server that stopped") << "stale";
}

void TestDdeLink::notRunning()
{
    QFETCH(QString, setup);
    if (setup != QStringLiteral("none"))
        makeDirectory();
    if (setup == QStringLiteral("stale")) {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(socketPath());
        std::memcpy(address.sun_path, native.constData(), static_cast<size_t>(native.size()));
        QCOMPARE(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::close(fd);
        QVERIFY(QFile::exists(socketPath()));
    }
    DdeLink link;
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::NotRunning);
    QCOMPARE(link.linkMode(), DdeLink::kLinkNone);
    QCOMPARE(link.linkTopic(), QStringLiteral("GoldMine|Data"));
}

void TestDdeLink::requestsReturnValuesExactly()
{
    makeDirectory();
    const QHash<QString, QString> values{
        {"&sysdir", "/srv/gold mine/store"},
        {"&golddir", "  GoldMine:  "},
        {"&commondir", ""},
        {"&username", "Zoë\tO'Brien"},
    };
    ScriptedServer server(socketPath(),
                          [&values](const QString &item) { return okAnswer(values.value(item)); });
    QVERIFY(server.bound());

    DdeLink link;
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::Linked);
    QCOMPARE(link.linkMode(), DdeLink::kLinkManual);
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        Result<QString> answer = link.DDERequest(it.key());
        QVERIFY(answer.ok());
        QCOMPARE(*answer, it.value());
        QCOMPARE(link.text(), it.value());
        QCOMPARE(link.linkItem(), it.key());
    }
    QCOMPARE(server.requests(), 4);
}

void TestDdeLink::errorAnswerKeepsLink()
{
    makeDirectory();
    ScriptedServer server(socketPath(), [](const QString &item) {
        return item == QStringLiteral("&bogus")
                   ? dde::encodeAnswer(dde::AnswerStatus::Error, QStringLiteral("unknown item"))
                   : okAnswer(QStringLiteral("MASTER"));
    });
    DdeLink link;
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::Linked);
    Result<QString> refused = link.DDERequest(QStringLiteral("&bogus"));
    QVERIFY(!refused.ok());
    QCOMPARE(refused.error().message, QStringLiteral("unknown item"));
    Result<QString> answer = link.DDERequest(QStringLiteral("&username"));
    QVERIFY(answer.ok());
    QCOMPARE(*answer, QStringLiteral("MASTER"));
}

void TestDdeLink::brokenAnswersDropLink_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("length over the limit") << QByteArray("\0\1\0\1", 4) + QByteArray(100, 'x');
    QTest::newRow("answer cut short") << QByteArray("\0\0\0\x10\0abc", 8);
    QTest::newRow("unknown status") << QByteArray("\0\0\0\2\x09x", 6);
    QTest::newRow("connection closed") << QByteArray();
}

void TestDdeLink::brokenAnswersDropLink()
{
    QFETCH(QByteArray, reply);
    makeDirectory();
    ScriptedServer server(
        socketPath(), [&reply](const QString &) { return reply; }, true);
    DdeLink link;
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::Linked);
    QVERIFY(!link.DDERequest(QStringLiteral("&sysdir")).ok());
    QCOMPARE(link.linkMode(), DdeLink::kLinkNone);
    QVERIFY(!link.lastError().isEmpty());
}

void TestDdeLink::silentServerTimesOut()
{
    makeDirectory();
    std::atomic<bool> release = false;
    ScriptedServer server(socketPath(), [&release](const QString &) {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return QByteArray();
    });
    DdeLink link;
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::Linked);
    QElapsedTimer timer;
    timer.start();
    Result<QString> answer = link.DDERequest(QStringLiteral("&sysdir"));
    const qint64 waited = timer.elapsed();
    release = true;
    QVERIFY(!answer.ok());
    QCOMPARE(answer.error().message, QStringLiteral("time-out"));
    QVERIFY2(waited >= dde::kTimeoutMs - 100 && waited < qint64{dde::kTimeoutMs} * 2,
             qPrintable(QString::number(waited)));
}

void TestDdeLink::requestWithoutLink()
{
    DdeLink link;
    QVERIFY(!link.DDERequest(QStringLiteral("&sysdir")).ok());
    QCOMPARE(link.linkItem(), QStringLiteral("&sysdir"));
}

void TestDdeLink::serverOfAnotherUserRefused()
{
    if (geteuid() != 0)
        QSKIP("needs root to listen as another user");
    makeDirectory();
    // The child binds as root (the directory is private), then listens as
    // "nobody": the listener's credentials are what a client sees.
    int ready[2];
    QCOMPARE(pipe(ready), 0);
    const QByteArray native = QFile::encodeName(socketPath());
    const pid_t child = fork();
    if (child == 0) {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, native.constData(), static_cast<size_t>(native.size()));
        if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            setgid(65534) != 0 || setuid(65534) != 0 || listen(fd, 1) != 0)
            _exit(1);
        [[maybe_unused]] ssize_t written = write(ready[1], "r", 1);
        const int connection = accept(fd, nullptr, nullptr);
        char byte;
        // Anything the client sends would show up here.
        const ssize_t got = connection >= 0 ? recv(connection, &byte, 1, 0) : -1;
        _exit(got > 0 ? 3 : 0);
    }
    char byte;
    QCOMPARE(read(ready[0], &byte, 1), ssize_t(1));
    DdeLink link;
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::Refused);
    QVERIFY2(link.lastError().contains(socketPath()), qPrintable(link.lastError()));
    QVERIFY(!link.DDERequest(QStringLiteral("&sysdir")).ok());
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0); // nothing reached the other user
    ::close(ready[0]);
    ::close(ready[1]);
}

QTEST_GUILESS_MAIN(TestDdeLink)
#include "TestDdeLink.moc"
