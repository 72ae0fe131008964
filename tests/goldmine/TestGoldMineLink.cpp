// The GoldMine link against the real gmclient process and the real libgm7s32.

#include "goldmine/DdeLink.h"
#include "goldmine/DdeProtocol.h"
#include "goldmine/LibraryGoldMineApi.h"
#include "goldmine/Lookups.h"
#include "goldmine/Startup.h"
#include "support/ScriptedPrompts.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using util::PromptIcon;
using namespace goldmine;

namespace {

const QString kBinDir = QStringLiteral(RUVELO_BIN_DIR);
const QString kPassword = QStringLiteral("Tr0ub4dor & 3");

QString gmclientPath()
{
    return kBinDir + QStringLiteral("/gmclient");
}

QString libraryPath()
{
    return kBinDir + QStringLiteral("/libgm7s32.so");
}

// Counts the loads, so a test can tell the API was never opened.
class CountingApi : public LibraryGoldMineApi
{
public:
    CountingApi()
        : LibraryGoldMineApi(libraryPath())
    {}
    int loads = 0;
    int32_t GMW_LoadBDE(const QString &sysDir, const QString &goldDir, const QString &commonDir,
                        const QString &userName, const QString &password) override
    {
        ++loads;
        return LibraryGoldMineApi::GMW_LoadBDE(sysDir, goldDir, commonDir, userName, password);
    }
};

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runGmclient(const QStringList &arguments, const QByteArray &input = QByteArray())
{
    QProcess process;
    process.start(gmclientPath(), arguments);
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

// A raw connection to the socket, as a client that is not DdeLink would make.
int connectTo(const QString &path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
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

mode_t modeOf(const QString &path)
{
    struct stat info;
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

} // namespace

class TestGoldMineLink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void initPrintsServedItems();
    void startupGoldMineNotRunning();
    void startupGoldMine6();
    void linkFolderNotPrivate_data();
    void linkFolderNotPrivate();
    void startupWrongPassword();
    void startupAndLookups();
    void serverAnswersExactly();
    void serverSocketIsPrivate();
    void secondServerRefused();
    void serverRemovesSocketWhenStopped_data();
    void serverRemovesSocketWhenStopped();
    void serverReplacesSocketOfDeadServer();
    void serverRefusesOtherUser();
    void serverDropsBadRequests_data();
    void serverDropsBadRequests();
    void serverDropsSilentClient();
    void serverRefusesSocketOfAnotherUser();
    void libraryBesideExecutableFirst();
    void missingLibrary_data();
    void missingLibrary();
    void damagedStoreNamedAtStartup_data();
    void damagedStoreNamedAtStartup();

private:
    QString storeDir() const { return m_store->path() + QStringLiteral("/store"); }
    QString socketPath() const
    {
        return m_runtime->path() + QStringLiteral("/ruvelo-dde/GoldMine.Data");
    }
    QStringList createStore(const QString &user, bool demo);
    bool startServer(const QStringList &options);
    void stopServer();

    std::unique_ptr<QTemporaryDir> m_runtime;
    std::unique_ptr<QTemporaryDir> m_store;
    std::unique_ptr<QProcess> m_server;
};

QStringList TestGoldMineLink::createStore(const QString &user, bool demo)
{
    QStringList arguments{QStringLiteral("init"), storeDir(), QStringLiteral("--user"), user};
    if (demo)
        arguments << QStringLiteral("--demo");
    const Run run = runGmclient(arguments, kPassword.toUtf8() + "\n");
    if (run.exitCode != 0)
        qWarning("gmclient init: %s", qPrintable(run.err));
    return run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool TestGoldMineLink::startServer(const QStringList &options)
{
    m_server = std::make_unique<QProcess>();
    m_server->setProcessChannelMode(QProcess::SeparateChannels);
    m_server->start(gmclientPath(), QStringList{QStringLiteral("serve"), storeDir()} + options);
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

void TestGoldMineLink::stopServer()
{
    if (!m_server)
        return;
    m_server->terminate();
    if (!m_server->waitForFinished(10000))
        m_server->kill();
    m_server.reset();
}

void TestGoldMineLink::initTestCase()
{
    QVERIFY2(QFile::exists(gmclientPath()), qPrintable(gmclientPath()));
    QVERIFY2(QFile::exists(libraryPath()), qPrintable(libraryPath()));
}

void TestGoldMineLink::init()
{
    // Every test has its own runtime directory, so tests running side by side
    // never meet on one socket.
    m_runtime = std::make_unique<QTemporaryDir>();
    m_store = std::make_unique<QTemporaryDir>();
    QVERIFY(m_runtime->isValid() && m_store->isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime->path()));
}

void TestGoldMineLink::cleanup()
{
    stopServer();
    m_store.reset();
    m_runtime.reset();
}

void TestGoldMineLink::initPrintsServedItems()
{
    const QStringList items = createStore(QStringLiteral("ANN"), false);
    QCOMPARE(items.size(), 4);
    QCOMPARE(items.at(0), QStringLiteral("&sysdir=") + storeDir());
    QVERIFY(items.at(1).startsWith(QStringLiteral("&golddir=")) &&
            items.at(1).endsWith(QLatin1Char(':')));
    QVERIFY(items.at(2).startsWith(QStringLiteral("&commondir=")) &&
            items.at(2).endsWith(QLatin1Char(':')));
    QCOMPARE(items.at(3), QStringLiteral("&username=ANN"));

    // The same store is not made twice.
    const Run again = runGmclient({QStringLiteral("init"), storeDir()}, "pw\n");
    QVERIFY(again.exitCode != 0);
    QVERIFY(!again.err.isEmpty());

    // serve answers what init printed.
    QVERIFY(startServer({}));
    DdeLink link;
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::Linked);
    for (const QString &line : items) {
        const QString item = line.section(QLatin1Char('='), 0, 0);
        Result<QString> answer = link.DDERequest(item);
        QVERIFY(answer.ok());
        QCOMPARE(item + QLatin1Char('=') + *answer, line);
    }
}

void TestGoldMineLink::startupGoldMineNotRunning()
{
    DdeLink link;
    CountingApi api;
    ScriptedPrompts prompts;
    ConnectionSettings settings;
    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::EndProgram);
    QCOMPARE(prompts.shown().size(), 1);
    QCOMPARE(prompts.shown().first().kind, ScriptedPrompts::Shown::Message);
    QCOMPARE(prompts.shown().first().text,
             QStringLiteral("GoldMine is not running!  Please launch GoldMine before attempting "
                            "to run this operation."));
    QCOMPARE(prompts.shown().first().title, QStringLiteral("DDE Error"));
    QCOMPARE(prompts.shown().first().icon, PromptIcon::Critical);
    QCOMPARE(api.loads, 0);
}

void TestGoldMineLink::startupGoldMine6()
{
    QCOMPARE(createStore(QStringLiteral("ANN"), false).size(), 4);
    QVERIFY(startServer({QStringLiteral("--golddir"), QStringLiteral("C:\\GOLDMINE\\")}));
    DdeLink link;
    CountingApi api;
    ScriptedPrompts prompts;
    prompts.answerInput(kPassword);
    ConnectionSettings settings;
    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::EndProgram);
    QCOMPARE(prompts.shown().size(), 2);
    QCOMPARE(prompts.shown().at(0).kind, ScriptedPrompts::Shown::Input);
    QCOMPARE(prompts.shown().at(0).text, QStringLiteral("GoldMine Password for ANN: "));
    QCOMPARE(prompts.shown().at(1).text,
             QStringLiteral("Sorry, GoldMine 6 and older are NOT supported.."));
    QCOMPARE(prompts.shown().at(1).title, QStringLiteral("Ruvelo"));
    QCOMPARE(settings.sGoldDir, QStringLiteral("C:\\GOLDMINE\\"));
    QCOMPARE(api.loads, 0);
}

void TestGoldMineLink::linkFolderNotPrivate_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("open to other users") << "open"
                                         << "is open to other users";
    if (geteuid() == 0)
        QTest::newRow("another user's") << "other"
                                        << "belongs to another user";
}

void TestGoldMineLink::linkFolderNotPrivate()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QCOMPARE(createStore(QStringLiteral("ANN"), false).size(), 4);
    const QString folder = m_runtime->path() + QStringLiteral("/ruvelo-dde");
    const QByteArray native = QFile::encodeName(folder);
    QCOMPARE(mkdir(native.constData(), 0700), 0);
    if (kind == QStringLiteral("open"))
        QCOMPARE(chmod(native.constData(), 0755), 0);
    else
        QCOMPARE(chown(native.constData(), 65534, 65534), 0);

    // The client stand-in will not serve there, and says where and why.
    const Run server = runGmclient({QStringLiteral("serve"), storeDir()});
    QCOMPARE(server.exitCode, 1);
    QVERIFY2(server.err.contains(folder) && server.err.contains(reason), qPrintable(server.err));

    // Ruvelo says the same, instead of blaming the GoldMine version.
    DdeLink link;
    CountingApi api;
    ScriptedPrompts prompts;
    prompts.answerInput(kPassword);
    ConnectionSettings settings;
    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::EndProgram);
    QCOMPARE(prompts.shown().size(), 1);
    const ScriptedPrompts::Shown &box = prompts.shown().first();
    QCOMPARE(box.kind, ScriptedPrompts::Shown::Message);
    QCOMPARE(box.title, QStringLiteral("DDE Error"));
    QCOMPARE(box.icon, PromptIcon::Critical);
    QVERIFY2(box.text.startsWith(QStringLiteral("Cannot link to GoldMine over DDE: the folder ") +
                                 folder + QLatin1Char(' ') + reason),
             qPrintable(box.text));
    QCOMPARE(api.loads, 0);
}

void TestGoldMineLink::startupWrongPassword()
{
    QCOMPARE(createStore(QStringLiteral("ANN"), false).size(), 4);
    QVERIFY(startServer({}));
    DdeLink link;
    CountingApi api;
    ScriptedPrompts prompts;
    prompts.answerInput(QStringLiteral("not the password"));
    ConnectionSettings settings;
    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::EndProgram);
    QCOMPARE(api.loads, 1);
    QCOMPARE(prompts.messages().size(), 1);
    const QByteArray text = prompts.messages().first().text.toLatin1();
    QCOMPARE(text, QByteArray("Error#: -4\x0a\x0dGoldMine API cannot validate the GoldMine "
                              "username/password."));
    QCOMPARE(prompts.messages().first().icon, PromptIcon::None);
    QCOMPARE(prompts.messages().first().title, QStringLiteral("Ruvelo"));
    QVERIFY(settings.sPassword.isEmpty());
}

void TestGoldMineLink::startupAndLookups()
{
    const QStringList items = createStore(QStringLiteral("ANN"), true);
    QCOMPARE(items.size(), 4);
    const Run listing = runGmclient({QStringLiteral("contacts"), storeDir()});
    QCOMPARE(listing.exitCode, 0);
    const QStringList contacts = listing.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(contacts.size(), 300);

    QVERIFY(startServer({}));
    DdeLink link;
    CountingApi api;
    ScriptedPrompts prompts;
    prompts.answerInput(kPassword);
    ConnectionSettings settings;
    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::Ready);
    QVERIFY(prompts.messages().isEmpty());
    QCOMPARE(QStringLiteral("&sysdir=") + settings.sSysDir, items.at(0));
    QCOMPARE(QStringLiteral("&golddir=") + settings.sGoldDir, items.at(1));
    QCOMPARE(QStringLiteral("&commondir=") + settings.sCommonDir, items.at(2));
    QCOMPARE(QStringLiteral("&username=") + settings.sUserName, items.at(3));

    // Every kind of demo address is found again by its lookups: plain, upper
    // case, longer than 35 characters, holding an apostrophe.
    ImportState state;
    RecordLookups lookups(api, prompts, state);
    bool sawLong = false;
    bool sawApostrophe = false;
    bool sawUpper = false;
    for (const QString &line : contacts) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        QCOMPARE(fields.size(), 7);
        const QString &email = fields.at(4);
        const bool isLong = email.size() > 35;
        const bool hasApostrophe = email.contains(QLatin1Char('\''));
        const bool isUpper = email == email.toUpper();
        if (!(isLong && !sawLong) && !(hasApostrophe && !sawApostrophe) &&
            !(isUpper && !sawUpper) && line != contacts.first())
            continue;
        sawLong |= isLong;
        sawApostrophe |= hasApostrophe;
        sawUpper |= isUpper;
        state.sEmail = email;
        state.sRecid.clear();
        QVERIFY2(lookups.EmailExists(), qPrintable(email));
        QCOMPARE(state.sRecid, fields.at(1));
        QCOMPARE(lookups.GetAccountno(), fields.at(0));
    }
    QVERIFY(sawLong && sawApostrophe && sawUpper);

    state.sEmail = QStringLiteral("nobody@nowhere.invalid");
    state.sRecid = QStringLiteral("earlier");
    QVERIFY(!lookups.EmailExists());
    QCOMPARE(state.sRecid, QStringLiteral("earlier"));
    QVERIFY(!lookups.lastQueryFailed());
    state.sRecid = QStringLiteral("no such id");
    QCOMPARE(lookups.GetAccountno(), QString());

    // A query the store refuses: the message names the lookup, and the program goes on.
    QVERIFY(!RunSqlQuery(api, prompts, QStringLiteral("select nonsense from nowhere"), 2000,
                         QStringLiteral("GoldMine Accountno Seek -- Error"),
                         [](const QString &) { QFAIL("no value expected"); }));
    QCOMPARE(prompts.messages().size(), 1);
    QVERIFY(prompts.messages().first().text.startsWith(
        QStringLiteral("Connectivity to GoldMine Unexpectedly LOST!  GoldMine responded:")));

    // A group made through the API shows in the listing.
    const int32_t request = api.GMW_NV_Create();
    api.GMW_NV_SetValue(request, QStringLiteral("GroupName"), QStringLiteral("Spring fair"));
    api.GMW_NV_SetValue(request, QStringLiteral("GroupCode"), QStringLiteral("MKT"));
    api.GMW_NV_SetValue(request, QStringLiteral("SyncGroup"), QStringLiteral("1"));
    QVERIFY(api.GMW_Execute(QStringLiteral("CreateContactGroup"), request) >= 0);
    const QString groupNo = api.GMW_NV_GetValue(request, QStringLiteral("GroupNo"), QString());
    QVERIFY(!groupNo.isEmpty());
    const int32_t member = api.GMW_NV_Create();
    const int32_t membership = api.GMW_NV_Create();
    const QString accountNo = contacts.first().section(QLatin1Char('\t'), 0, 0);
    api.GMW_NV_SetValue(member, QStringLiteral("Accountno"), accountNo);
    api.GMW_NV_SetValue(membership, QStringLiteral("GroupNo"), groupNo);
    api.GMW_NV_AppendNvValue(membership, QStringLiteral("Members"), member);
    QVERIFY(api.GMW_Execute(QStringLiteral("AddContactGrpMembers"), membership) >= 0);
    const Run groups = runGmclient({QStringLiteral("groups"), storeDir()});
    QCOMPARE(groups.exitCode, 0);
    const QStringList groupFields = groups.out.trimmed().split(QLatin1Char('\t'));
    QCOMPARE(groupFields.size(), 5);
    QCOMPARE(groupFields.at(0), groupNo);
    QCOMPARE(groupFields.at(1), QStringLiteral("Spring fair"));
    QCOMPARE(groupFields.at(2), QStringLiteral("MKT"));
    QCOMPARE(groupFields.at(3), accountNo);
}

void TestGoldMineLink::serverAnswersExactly()
{
    QCOMPARE(createStore(QStringLiteral("ANN"), false).size(), 4);
    QVERIFY(startServer({QStringLiteral("--username"), QStringLiteral("  Zoë O'Brien  "),
                         QStringLiteral("--commondir"), QString()}));
    DdeLink link;
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::Linked);
    Result<QString> user = link.DDERequest(QStringLiteral("&username"));
    QVERIFY(user.ok());
    QCOMPARE(*user, QStringLiteral("  Zoë O'Brien  "));
    Result<QString> common = link.DDERequest(QStringLiteral("&commondir"));
    QVERIFY(common.ok());
    QCOMPARE(*common, QString());
    Result<QString> unknown = link.DDERequest(QStringLiteral("&bogus"));
    QVERIFY(!unknown.ok());
    QVERIFY(unknown.error().message.contains(QStringLiteral("&bogus")));
    // The link stays usable after an unknown item.
    QVERIFY(link.DDERequest(QStringLiteral("&sysdir")).ok());
}

void TestGoldMineLink::serverSocketIsPrivate()
{
    QCOMPARE(createStore(QStringLiteral("ANN"), false).size(), 4);
    QVERIFY(startServer({}));
    QCOMPARE(modeOf(m_runtime->path() + QStringLiteral("/ruvelo-dde")), mode_t(0700));
    QCOMPARE(modeOf(socketPath()), mode_t(0600));
    struct stat info;
    QCOMPARE(lstat(QFile::encodeName(socketPath()).constData(), &info), 0);
    QVERIFY(S_ISSOCK(info.st_mode));
    QCOMPARE(info.st_uid, getuid());
}

void TestGoldMineLink::secondServerRefused()
{
    QCOMPARE(createStore(QStringLiteral("ANN"), false).size(), 4);
    QVERIFY(startServer({}));
    const Run second = runGmclient({QStringLiteral("serve"), storeDir()});
    QCOMPARE(second.exitCode, 1);
    QVERIFY2(second.err.contains(QStringLiteral("already")), qPrintable(second.err));
    // The first one still answers.
    DdeLink link;
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::Linked);
    QVERIFY(link.DDERequest(QStringLiteral("&golddir")).ok());
}

void TestGoldMineLink::serverRemovesSocketWhenStopped_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestGoldMineLink::serverRemovesSocketWhenStopped()
{
    QFETCH(int, signalNumber);
    QCOMPARE(createStore(QStringLiteral("ANN"), false).size(), 4);
    QVERIFY(startServer({}));
    QVERIFY(QFile::exists(socketPath()));
    ::kill(static_cast<pid_t>(m_server->processId()), signalNumber);
    QVERIFY(m_server->waitForFinished(10000));
    QCOMPARE(m_server->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_server->exitCode(), 0);
    QVERIFY(!QFile::exists(socketPath()));
    DdeLink link;
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::NotRunning);
}

void TestGoldMineLink::serverReplacesSocketOfDeadServer()
{
    QCOMPARE(createStore(QStringLiteral("ANN"), false).size(), 4);
    QVERIFY(startServer({}));
    m_server->kill(); // no chance to clean up
    QVERIFY(m_server->waitForFinished(10000));
    QVERIFY(QFile::exists(socketPath()));
    DdeLink link;
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::NotRunning);
    QVERIFY(startServer({}));
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::Linked);
}

void TestGoldMineLink::serverRefusesOtherUser()
{
    if (geteuid() != 0)
        QSKIP("needs root to connect as another user");
    QCOMPARE(createStore(QStringLiteral("ANN"), false).size(), 4);
    QVERIFY(startServer({}));
    // Open the way in, as a careless umask or a wrong chmod might; the peer
    // check must still keep the answers from another user.
    const QByteArray directory = QFile::encodeName(m_runtime->path());
    const QByteArray socketDirectory = QFile::encodeName(m_runtime->path() + "/ruvelo-dde");
    const QByteArray socketFile = QFile::encodeName(socketPath());
    chmod(directory.constData(), 0711);
    chmod(socketDirectory.constData(), 0711);
    chmod(socketFile.constData(), 0666);
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(10);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, socketFile.constData(),
                    static_cast<size_t>(socketFile.size()));
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            _exit(11);
        const char request[] = {0, 0, 0, 7, '&', 's', 'y', 's', 'd', 'i', 'r'};
        [[maybe_unused]] const ssize_t sent = send(fd, request, sizeof request, MSG_NOSIGNAL);
        char answer[64];
        const ssize_t got = recv(fd, answer, sizeof answer, 0);
        _exit(got > 0 ? 12 : 0);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    chmod(socketDirectory.constData(), 0700);
    chmod(directory.constData(), 0700);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    // Our own user is still served.
    DdeLink link;
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::Linked);
    QVERIFY(link.DDERequest(QStringLiteral("&sysdir")).ok());
}

void TestGoldMineLink::serverDropsBadRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("length over the limit") << QByteArray("\0\1\0\1&sysdir", 11);
    QTest::newRow("request never finished") << QByteArray("\0\0\0\x07&sys", 8);
}

void TestGoldMineLink::serverDropsBadRequests()
{
    QFETCH(QByteArray, request);
    QCOMPARE(createStore(QStringLiteral("ANN"), false).size(), 4);
    QVERIFY(startServer({}));
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socketPath());
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    QCOMPARE(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    QCOMPARE(send(fd, request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL),
             ssize_t(request.size()));
    // The server hangs up without an answer, at the latest after its time-out.
    timeval timeout{15, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char answer[16];
    QCOMPARE(recv(fd, answer, sizeof answer, 0), ssize_t(0));
    ::close(fd);
    // Others are still served.
    DdeLink link;
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::Linked);
    QVERIFY(link.DDERequest(QStringLiteral("&username")).ok());
}

void TestGoldMineLink::serverDropsSilentClient()
{
    QCOMPARE(createStore(QStringLiteral("ANN"), false).size(), 4);
    QVERIFY(startServer({}));
    const int silent = connectTo(socketPath());
    QVERIFY(silent >= 0);
    QElapsedTimer timer;
    timer.start();
    // While it sits there, others are served at once.
    DdeLink link;
    QCOMPARE(link.DDEInitiate(), DdeLink::Status::Linked);
    QVERIFY(link.DDERequest(QStringLiteral("&sysdir")).ok());
    QVERIFY(timer.elapsed() < dde::kTimeoutMs);
    // Then the server hangs up on it, after the time-out and not long after.
    timeval timeout{15, 0};
    setsockopt(silent, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char answer[16];
    QCOMPARE(recv(silent, answer, sizeof answer, 0), ssize_t(0));
    const qint64 waited = timer.elapsed();
    ::close(silent);
    // A coarse timer may fire up to 5% early.
    QVERIFY2(waited >= qint64{dde::kTimeoutMs} * 9 / 10 && waited < qint64{dde::kTimeoutMs} * 2,
             qPrintable(QString::number(waited)));
}

void TestGoldMineLink::serverRefusesSocketOfAnotherUser()
{
    if (geteuid() != 0)
        QSKIP("needs root to plant a socket of another user");
    QCOMPARE(createStore(QStringLiteral("ANN"), false).size(), 4);
    QVERIFY(dde::socketDirectory(true).ok());
    // Plant a socket that nobody listens on, owned by "nobody".
    const QByteArray native = QFile::encodeName(socketPath());
    const int planted = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, native.constData(), static_cast<size_t>(native.size()));
    QCOMPARE(bind(planted, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ::close(planted);
    QCOMPARE(lchown(native.constData(), 65534, 65534), 0);

    const Run server = runGmclient({QStringLiteral("serve"), storeDir()});
    QCOMPARE(server.exitCode, 1);
    QVERIFY2(server.err.contains(QStringLiteral("another user")), qPrintable(server.err));
    struct stat info;
    QCOMPARE(lstat(native.constData(), &info), 0);
    QCOMPARE(info.st_uid, uid_t(65534)); // left where it was, for the operator to see
    DdeLink link;
    QVERIFY(link.DDEInitiate() != DdeLink::Status::Linked);
}

void TestGoldMineLink::libraryBesideExecutableFirst()
{
    // This test runs from the directory that holds libgm7s32.so.
    LibraryGoldMineApi api;
    QCOMPARE(api.libraryFileName(), libraryPath());
    QVERIFY(api.GMW_NV_Create() > 0);
    QVERIFY(api.lastBindError().isEmpty());
}

void TestGoldMineLink::missingLibrary_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("no such file") << QStringLiteral("/nonexistent-ruvelo/libgm7s32.so");
    QTest::newRow("a library without the functions") << QStringLiteral("libsqlite3.so.0");
}

void TestGoldMineLink::missingLibrary()
{
    QFETCH(QString, path);
    LibraryGoldMineApi api(path);
    QCOMPARE(api.GMW_LoadBDE("/s", "G:", "C:", "U", "P"), LibraryGoldMineApi::kMissingLibrary);
    QVERIFY(!api.lastBindError().isEmpty());
    QVERIFY(api.GMW_DS_Query(QStringLiteral("select 1")) < 0);
    QVERIFY(api.GMW_NV_Create() < 0);
    QCOMPARE(api.GMW_NV_GetValue(1, QStringLiteral("x"), QStringLiteral("d")), QString());
    QVERIFY(api.GMW_Execute(QStringLiteral("WriteContact"), 1) < 0);

    // Start-up reports it as the plain "cannot load" reason, with the
    // binding's own account of what went wrong under it.
    ScriptedPrompts prompts;
    ConnectionSettings settings{"/s", "G:", "C:", "U", ""};
    DdeLink link;
    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::EndProgram);
    QCOMPARE(api.loadFailureReason(), api.lastBindError());
    QCOMPARE(prompts.messages().first().text,
             QStringLiteral("Error#: -2\n\rUnable to Load GoldMine API.\n\r") +
                 api.lastBindError());
    QVERIFY2(api.lastBindError().contains(path.section(QLatin1Char('/'), -1)),
             qPrintable(api.lastBindError()));
    QVERIFY2(api.lastBindError().contains(QStringLiteral("GMW_LoadBDE")) ||
                 api.lastBindError().contains(QStringLiteral("No such file")),
             qPrintable(api.lastBindError()));
}

void TestGoldMineLink::damagedStoreNamedAtStartup_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reported");
    QTest::newRow("GoldMine database cut short") << "truncate" << -1 << "goldmine.db"
                                                 << "database disk image is malformed";
    QTest::newRow("text in place of the contact database") << "text" << -1 << "common.db"
                                                           << "file is not a database";
    QTest::newRow("contact database missing") << "remove" << -1 << "common.db"
                                              << "missing";
}

void TestGoldMineLink::damagedStoreNamedAtStartup()
{
    QFETCH(QString, damage);
    QFETCH(int, result);
    QFETCH(QString, file);
    QFETCH(QString, reported);
    QCOMPARE(createStore(QStringLiteral("ANN"), false).size(), 4);
    const QString path = storeDir() + QLatin1Char('/') + file;
    if (damage == QStringLiteral("truncate")) {
        QVERIFY(QFile::resize(path, QFileInfo(path).size() / 2));
    } else if (damage == QStringLiteral("text")) {
        QFile text(path);
        QVERIFY(text.open(QIODevice::WriteOnly | QIODevice::Truncate));
        text.write("Dear diary, today the database became a letter.\n");
    } else {
        QVERIFY(QFile::remove(path));
    }
    // Told the user name, the client need not read the store itself.
    QVERIFY(startServer({QStringLiteral("--username"), QStringLiteral("ANN")}));
    DdeLink link;
    CountingApi api;
    ScriptedPrompts prompts;
    prompts.answerInput(kPassword);
    ConnectionSettings settings;
    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::EndProgram);
    QCOMPARE(api.loads, 1);
    QCOMPARE(prompts.messages().size(), 1);
    const QStringList lines = prompts.messages().first().text.split(QStringLiteral("\n\r"));
    QCOMPARE(lines.value(0), QStringLiteral("Error#: ") + QString::number(result));
    QCOMPARE(lines.value(1), QStringLiteral("Unable to Load GoldMine API."));
    QVERIFY2(lines.value(2).startsWith(path), qPrintable(lines.value(2)));
    QVERIFY2(lines.value(2).contains(reported), qPrintable(lines.value(2)));
}

QTEST_GUILESS_MAIN(TestGoldMineLink)
#include "TestGoldMineLink.moc"
