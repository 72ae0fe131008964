// gmclient as a user meets it on the command line: creating stores, listing
// them, and what it says about stores that are damaged or in the way.

#include "goldmine/DdeLink.h"
#include "goldmine/DdeProtocol.h"
#include "goldmine/gm7s32.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <functional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

const QString kBinDir = QStringLiteral(RUVELO_BIN_DIR);
const QByteArray kPassword = "Tr0ub4dor & 3";

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runGmclient(const QStringList &arguments, const QByteArray &input,
                const std::function<void()> &inChild = {})
{
    QProcess process;
    if (inChild)
        process.setChildProcessModifier(inChild);
    process.start(kBinDir + QStringLiteral("/gmclient"), arguments);
    Run run;
    if (!process.waitForStarted())
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000))
        process.kill();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

mode_t modeOf(const QString &path)
{
    struct stat info;
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

// A connection to path that does not wait for the server to accept it;
// -1 when the server's queue is full or nobody listens.
int connectWithoutWaiting(const QString &path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    std::memcpy(address.sun_path, native.constData(), static_cast<size_t>(native.size()));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The process's resident memory in kB, from /proc.
qint64 residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// The sockets the process holds open.
int socketsOf(qint64 pid)
{
    int sockets = 0;
    const QString directory = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString &entry : QDir(directory).entryList(QDir::Files | QDir::System)) {
        if (QFile::symLinkTarget(directory + QLatin1Char('/') + entry)
                .contains(QStringLiteral("socket:")))
            ++sockets;
    }
    return sockets;
}

// True when the server hung up on fd within timeoutMs. Answers waiting to be
// read are left alone: reading them would let the server go on.
bool hungUp(int fd, int timeoutMs)
{
    pollfd waitFor{fd, POLLRDHUP, 0};
    return poll(&waitFor, 1, timeoutMs) == 1 && (waitFor.revents & (POLLRDHUP | POLLHUP)) != 0;
}

// Asks the running server for &sysdir the way Ruvelo does.
bool linkAnswers(const QString &expected)
{
    goldmine::DdeLink link;
    if (link.DDEInitiate() != goldmine::DdeLink::Status::Linked) {
        qWarning("no link: %s", qPrintable(link.lastError()));
        return false;
    }
    goldmine::Result<QString> answer = link.DDERequest(QStringLiteral("&sysdir"));
    if (!answer.ok())
        qWarning("no answer: %s", qPrintable(answer.error().message));
    return answer.ok() && *answer == expected;
}

int32_t loadStore(const QString &directory, const QByteArray &user, const QByteArray &password)
{
    return GMW_LoadBDE(QFile::encodeName(directory).constData(),
                       "GoldMine:", "Common:", user.constData(), password.constData());
}

} // namespace

class TestGmclient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void initMakesPrivateStore_data();
    void initMakesPrivateStore();
    void initRefusesEmptyPassword_data();
    void initRefusesEmptyPassword();
    void demoStoreWithoutPasswordGetsDemoPassword();
    void initNeverOverwritesStore();
    void damagedStoreNamed_data();
    void damagedStoreNamed();
    void configurationWithByteOrderMark();
    void serveWithFewDescriptors();
    void serveCapsConnections();
    void servePipeliningClient();

private:
    QString storeDir() const { return m_dir->path() + QStringLiteral("/store"); }
    bool makeStore(const QStringList &options = {});
    // Starts gmclient serve on the store; inChild runs in the child first.
    bool startServer(const std::function<void()> &inChild = {});
    QString socketPath() const
    {
        return m_dir->path() + QStringLiteral("/runtime/ruvelo-dde/GoldMine.Data");
    }

    std::unique_ptr<QProcess> m_server;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestGmclient::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestGmclient::cleanup()
{
    if (m_server) {
        m_server->terminate();
        if (!m_server->waitForFinished(10000))
            m_server->kill();
        m_server.reset();
    }
    GMW_LoadBDE("", "", "", "", "");
    m_dir.reset();
}

bool TestGmclient::makeStore(const QStringList &options)
{
    const Run run = runGmclient(QStringList{QStringLiteral("init"), storeDir(),
                                            QStringLiteral("--user"), QStringLiteral("ANN")} +
                                    options,
                                kPassword + '\n');
    if (run.exitCode != 0)
        qWarning("gmclient init: %s", qPrintable(run.err));
    return run.exitCode == 0;
}

bool TestGmclient::startServer(const std::function<void()> &inChild)
{
    const QString runtime = m_dir->path() + QStringLiteral("/runtime");
    if (!QDir().mkpath(runtime) ||
        !QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner))
        return false;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    m_server = std::make_unique<QProcess>();
    if (inChild)
        m_server->setChildProcessModifier(inChild);
    m_server->start(kBinDir + QStringLiteral("/gmclient"), {QStringLiteral("serve"), storeDir()});
    if (!m_server->waitForStarted())
        return false;
    while (!m_server->canReadLine()) {
        if (!m_server->waitForReadyRead(20000)) {
            qWarning("gmclient serve: %s", m_server->readAllStandardError().constData());
            return false;
        }
    }
    return m_server->readLine().startsWith("gmclient: serving GoldMine|Data on ");
}

void TestGmclient::initMakesPrivateStore_data()
{
    QTest::addColumn<int>("mask");
    QTest::newRow("usual mask") << 022;
    QTest::newRow("no mask at all") << 0;
}

void TestGmclient::initMakesPrivateStore()
{
    QFETCH(int, mask);
    const Run run = runGmclient({QStringLiteral("init"), storeDir(), QStringLiteral("--demo")},
                                kPassword + '\n', [mask] { umask(static_cast<mode_t>(mask)); });
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(modeOf(storeDir()), mode_t(0700));
    const QStringList files = QDir(storeDir()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(files, (QStringList{"common.db", "gm7s32.ini", "goldmine.db"}));
    for (const QString &file : files)
        QCOMPARE(modeOf(storeDir() + QLatin1Char('/') + file), mode_t(0600));
}

void TestGmclient::initRefusesEmptyPassword_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("no input at all") << QByteArray();
    QTest::newRow("an empty line") << QByteArray("\n");
    QTest::newRow("an empty Windows line") << QByteArray("\r\n");
}

void TestGmclient::initRefusesEmptyPassword()
{
    QFETCH(QByteArray, input);
    const Run run = runGmclient({QStringLiteral("init"), storeDir()}, input);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.startsWith(QStringLiteral("gmclient: ")), qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("password is empty")), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    QVERIFY(!QFile::exists(storeDir() + QStringLiteral("/gm7s32.ini")));
    QVERIFY(!QFile::exists(storeDir() + QStringLiteral("/goldmine.db")));
}

void TestGmclient::demoStoreWithoutPasswordGetsDemoPassword()
{
    const Run run = runGmclient({QStringLiteral("init"), storeDir(), QStringLiteral("--demo"),
                                 QStringLiteral("--user"), QStringLiteral("MASTER")},
                                QByteArray());
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 5);
    QVERIFY2(lines.last().startsWith(QStringLiteral("demo password: ")), qPrintable(run.out));
    const QByteArray password = lines.last().mid(15).toUtf8();
    QVERIFY(!password.isEmpty());
    QCOMPARE(loadStore(storeDir(), "MASTER", ""), -4);
    QCOMPARE(loadStore(storeDir(), "MASTER", password), 0);

    // A typed password is kept, and not printed.
    QTemporaryDir other;
    const Run typed =
        runGmclient({QStringLiteral("init"), other.path() + QStringLiteral("/s"),
                     QStringLiteral("--demo"), QStringLiteral("--user"), QStringLiteral("MASTER")},
                    kPassword + '\n');
    QCOMPARE(typed.exitCode, 0);
    QVERIFY(!typed.out.contains(QStringLiteral("password")));
    QCOMPARE(loadStore(other.path() + QStringLiteral("/s"), "MASTER", kPassword), 0);
}

void TestGmclient::initNeverOverwritesStore()
{
    QVERIFY(makeStore({QStringLiteral("--demo")}));
    const Run before = runGmclient({QStringLiteral("contacts"), storeDir()}, QByteArray());
    QCOMPARE(before.exitCode, 0);

    const Run again = runGmclient({QStringLiteral("init"), storeDir(), QStringLiteral("--demo"),
                                   QStringLiteral("--user"), QStringLiteral("BOB")},
                                  "another password\n");
    QCOMPARE(again.exitCode, 1);
    QVERIFY2(again.err.contains(storeDir()), qPrintable(again.err));
    QVERIFY2(again.err.contains(QStringLiteral("already holds a store")), qPrintable(again.err));
    QVERIFY(again.out.isEmpty());

    const Run after = runGmclient({QStringLiteral("contacts"), storeDir()}, QByteArray());
    QCOMPARE(after.out, before.out);
    QCOMPARE(loadStore(storeDir(), "ANN", kPassword), 0);
    QCOMPARE(loadStore(storeDir(), "BOB", "another password"), -4);
}

void TestGmclient::damagedStoreNamed_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("reported");
    QTest::newRow("contacts, contact database cut short") << "contacts"
                                                          << "common.db"
                                                          << "truncate"
                                                          << "database disk image is malformed";
    QTest::newRow("groups, text as contact database") << "groups"
                                                      << "common.db"
                                                      << "text"
                                                      << "file is not a database";
    QTest::newRow("serve, GoldMine database cut short") << "serve"
                                                        << "goldmine.db"
                                                        << "truncate"
                                                        << "database disk image is malformed";
    QTest::newRow("serve, GoldMine database missing") << "serve"
                                                      << "goldmine.db"
                                                      << "remove"
                                                      << "missing";
}

void TestGmclient::damagedStoreNamed()
{
    QFETCH(QString, command);
    QFETCH(QString, file);
    QFETCH(QString, damage);
    QFETCH(QString, reported);
    QVERIFY(makeStore({QStringLiteral("--demo")}));
    const QString path = storeDir() + QLatin1Char('/') + file;
    if (damage == QStringLiteral("truncate")) {
        QVERIFY(QFile::resize(path, QFileInfo(path).size() / 2));
    } else if (damage == QStringLiteral("text")) {
        QFile text(path);
        QVERIFY(text.open(QIODevice::WriteOnly | QIODevice::Truncate));
        text.write("Minutes of the meeting, not a database.\n");
    } else {
        QVERIFY(QFile::remove(path));
    }
    const QString runtime = m_dir->path() + QStringLiteral("/runtime");
    QVERIFY(QDir().mkpath(runtime));
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    const Run run = runGmclient({command, storeDir()}, QByteArray());
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(QStringLiteral("gmclient: ") + path), qPrintable(run.err));
    QVERIFY2(run.err.contains(reported), qPrintable(run.err));
}

void TestGmclient::configurationWithByteOrderMark()
{
    QVERIFY(makeStore({QStringLiteral("--demo")}));
    const Run before = runGmclient({QStringLiteral("contacts"), storeDir()}, QByteArray());
    QFile config(storeDir() + QStringLiteral("/gm7s32.ini"));
    QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
    config.write("\xEF\xBB\xBF[Aliases]\r\nGoldMine:=goldmine.db\r\nCommon:=common.db\r\n");
    config.close();
    const Run after = runGmclient({QStringLiteral("contacts"), storeDir()}, QByteArray());
    QCOMPARE(after.exitCode, 0);
    QCOMPARE(after.out, before.out);
    QCOMPARE(after.out.count(QLatin1Char('\n')), 300);
    QCOMPARE(loadStore(storeDir(), "ANN", kPassword), 0);
}

void TestGmclient::serveWithFewDescriptors()
{
    QVERIFY(makeStore());
    QVERIFY(startServer([] {
        const rlimit few{32, 32};
        setrlimit(RLIMIT_NOFILE, &few);
    }));
    // Far more clients than the server has descriptors for, all silent.
    std::vector<int> flood;
    QElapsedTimer timer;
    timer.start();
    while (flood.size() < 120 && timer.elapsed() < 3000) {
        const int fd = connectWithoutWaiting(socketPath());
        if (fd >= 0)
            flood.push_back(fd);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    QVERIFY2(flood.size() > 40, qPrintable(QString::number(flood.size())));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    // Still listening, and a new client is served before the silent ones'
    // time-out would have made room.
    QVERIFY(QFile::exists(socketPath()));
    QCOMPARE(m_server->state(), QProcess::Running);
    QElapsedTimer served;
    served.start();
    QVERIFY(linkAnswers(storeDir()));
    QVERIFY2(timer.elapsed() < goldmine::dde::kTimeoutMs - 500,
             qPrintable(QString::number(timer.elapsed())));
    // The one that waited longest made room.
    QVERIFY(hungUp(flood.front(), 1000));
    for (const int fd : flood)
        ::close(fd);
    QVERIFY(linkAnswers(storeDir()));
}

void TestGmclient::serveCapsConnections()
{
    QVERIFY(makeStore());
    QVERIFY(startServer());
    const qint64 pid = m_server->processId();
    const int before = socketsOf(pid);
    std::vector<int> flood;
    QElapsedTimer timer;
    timer.start();
    while (flood.size() < 200 && timer.elapsed() < 3000) {
        const int fd = connectWithoutWaiting(socketPath());
        if (fd >= 0)
            flood.push_back(fd);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    QVERIFY2(flood.size() > 100, qPrintable(QString::number(flood.size())));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int held = socketsOf(pid) - before;
    QVERIFY2(held <= 64, qPrintable(QString::number(held)));
    QVERIFY(linkAnswers(storeDir()));
    QVERIFY2(timer.elapsed() < goldmine::dde::kTimeoutMs - 500,
             qPrintable(QString::number(timer.elapsed())));
    for (const int fd : flood)
        ::close(fd);
}

void TestGmclient::servePipeliningClient()
{
    QVERIFY(makeStore());
    QVERIFY(startServer());
    const qint64 pid = m_server->processId();
    QVERIFY(linkAnswers(storeDir()));
    const qint64 residentBefore = residentKb(pid);

    // A client that sends request after request and never reads an answer.
    const int greedy = connectWithoutWaiting(socketPath());
    QVERIFY(greedy >= 0);
    QByteArray requests;
    for (int i = 0; i < 4096; ++i)
        requests += goldmine::dde::encodeRequest(QStringLiteral("&sysdir"));
    qint64 sent = 0;
    QElapsedTimer timer;
    timer.start();
    QElapsedTimer stalled;
    stalled.start();
    while (timer.elapsed() < 3000 && stalled.elapsed() < 500) {
        const ssize_t written =
            send(greedy, requests.constData(), static_cast<size_t>(requests.size()), MSG_NOSIGNAL);
        if (written > 0) {
            sent += written;
            stalled.start();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    // The server stopped taking requests once its answers backed up: what
    // got through is what the sockets' buffers hold, not all it could send.
    QVERIFY2(sent < qint64{8} * 1024 * 1024, qPrintable(QString::number(sent)));
    QVERIFY2(stalled.elapsed() >= 500, "the server kept reading");

    // Others are still served at once, and the server's memory stayed put.
    QVERIFY(linkAnswers(storeDir()));
    const qint64 residentAfter = residentKb(pid);
    QVERIFY2(
        residentAfter < qint64{64} * 1024 && residentAfter - residentBefore < qint64{16} * 1024,
        qPrintable(
            QStringLiteral("%1 kB before, %2 kB after").arg(residentBefore).arg(residentAfter)));
    // The greedy client is dropped once its answer has waited the time-out.
    QVERIFY(hungUp(greedy, 2 * goldmine::dde::kTimeoutMs));
    ::close(greedy);
}

QTEST_GUILESS_MAIN(TestGmclient)
#include "TestGmclient.moc"
