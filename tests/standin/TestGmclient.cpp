// gmclient as a user meets it on the command line: creating stores, listing
// them, and what it says about stores that are damaged or in the way.

#include "goldmine/gm7s32.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <sys/stat.h>

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

private:
    QString storeDir() const { return m_dir->path() + QStringLiteral("/store"); }
    bool makeStore(const QStringList &options = {});

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestGmclient::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestGmclient::cleanup()
{
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

QTEST_GUILESS_MAIN(TestGmclient)
#include "TestGmclient.moc"
