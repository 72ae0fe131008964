#include "standin/gm7s32/Store.h"
#include "support/XlsxBuilder.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

// ruvelo-import as a user runs it: a real process on a real store.
class TestCli : public QObject
{
    Q_OBJECT

    struct Outcome
    {
        int exitCode = -1;
        QString out;
        QString err;
    };

    QTemporaryDir m_dir;
    QString m_store;

    Outcome run(const QStringList &arguments, const QString &password = QStringLiteral("secret"))
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("RUVELO_PASSWORD"));
        if (!password.isNull())
            environment.insert(QStringLiteral("RUVELO_PASSWORD"), password);
        // No GoldMine client runs here: the DDE link must find nobody.
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                           m_dir.filePath(QStringLiteral("run")));
        process.setProcessEnvironment(environment);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(QStringLiteral(RUVELO_BIN_DIR "/ruvelo-import"), arguments);
        Outcome outcome;
        if (!process.waitForFinished(60000))
            return outcome;
        outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        outcome.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        outcome.err = QString::fromLocal8Bit(process.readAllStandardError());
        return outcome;
    }

    QStringList connection() const
    {
        return {"--sysdir",    m_store,
                "--golddir",   QString::fromStdString(gm7s32::goldMineAlias()),
                "--commondir", QString::fromStdString(gm7s32::commonAlias()),
                "--user",      "MASTER"};
    }

    QString book(const QString &name, const QList<QVariantList> &rows)
    {
        const QString path = m_dir.filePath(name);
        return writeXlsx(path, rows) ? path : QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QDir().mkpath(m_dir.filePath(QStringLiteral("run")));
        QFile::setPermissions(m_dir.filePath(QStringLiteral("run")), QFileDevice::ReadOwner |
                                                                         QFileDevice::WriteOwner |
                                                                         QFileDevice::ExeOwner);
        m_store = m_dir.filePath(QStringLiteral("store"));
        std::string error;
        QVERIFY2(gm7s32::createStore(m_store.toStdString(), "MASTER", "secret", &error),
                 error.c_str());
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no workbook") << QStringList{"--email-column", "Email"};
        QTest::newRow("unknown option") << QStringList{"--workbook", "x.xlsx", "--frobnicate"};
        QTest::newRow("map without field") << QStringList{"--workbook", "x.xlsx", "--map", "Name="};
        QTest::newRow("map without column")
            << QStringList{"--workbook", "x.xlsx", "--map", "=CITY"};
        QTest::newRow("fixed without field")
            << QStringList{"--workbook", "x.xlsx", "--fixed", "Fair"};
        QTest::newRow("half a connection")
            << QStringList{"--workbook", "x.xlsx", "--sysdir", "/tmp"};
    }
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        const Outcome outcome = run(arguments);
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY(!outcome.err.isEmpty());
        QVERIFY(outcome.out.isEmpty());
    }

    void shippedProgramHasNoTestHooks()
    {
        // The kill switch of the kill-and-rerun tests lives in a test-only build.
        QFile program(QStringLiteral(RUVELO_BIN_DIR "/ruvelo-import"));
        QVERIFY(program.open(QIODevice::ReadOnly));
        const QByteArray bytes = program.readAll().toLower();
        QVERIFY(!bytes.isEmpty());
        for (const char *trace : {"kill switch", "ruvelo_test", "lookup|contact|notes|group"})
            QVERIFY2(!bytes.contains(trace), trace);
    }

    void helpListsTheOptions()
    {
        const Outcome outcome = run({"--help"});
        QCOMPARE(outcome.exitCode, 0);
        for (const char *option :
             {"--workbook", "--email-column", "--map", "--fixed", "--no-match", "--update",
              "--group", "--password-file", "--columns", "--dump", "RUVELO_PASSWORD"})
            QVERIFY2(outcome.out.contains(QLatin1String(option)), option);
    }

    void columnsAndDump()
    {
        const QString path = book("dump.xlsx", {{"Email", "Name=Full", "Note"},
                                                {"a@x.com", "Ann", "two\nlines\tand \\ slash"},
                                                {"b@x.com", QVariant(), 42}});
        Outcome outcome = run({"--workbook", path, "--columns"});
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(outcome.out, QStringLiteral("Email\nName=Full\nNote\n"));
        outcome = run({"--workbook", path, "--dump"});
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(outcome.out, QStringLiteral("Email\tName=Full\tNote\n"
                                             "a@x.com\tAnn\ttwo\\nlines\\tand \\\\ slash\n"
                                             "b@x.com\t\t42\n"));
    }

    void workbookErrorsCannotStart()
    {
        Outcome outcome = run({"--workbook", m_dir.filePath("absent.xlsx"), "--columns"});
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY(outcome.err.contains("Can't find the specified file!"));
        outcome = run(QStringList{"--workbook", m_dir.filePath("book.csv"), "--email-column", "E"} +
                      connection());
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY(outcome.err.contains("Can't find the specified file!"));
    }

    void goldMineErrorsCannotStart()
    {
        const QString path = book("one.xlsx", {{"Email"}, {"a@x.com"}});
        // Nobody answers over DDE.
        Outcome outcome = run({"--workbook", path, "--email-column", "Email"});
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY(outcome.err.contains("GoldMine is not running!"));
        // A wrong password.
        outcome = run(QStringList{"--workbook", path, "--email-column", "Email"} + connection(),
                      QStringLiteral("wrong"));
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY(outcome.err.contains(
            "Error#: -4\nGoldMine API cannot validate the GoldMine username/password."));
        QVERIFY(!outcome.err.contains("wrong"));
        // The password from a file; a missing file cannot start.
        outcome = run(QStringList{"--workbook", path, "--email-column", "Email", "--password-file",
                                  m_dir.filePath("no-such-file")} +
                          connection(),
                      QString());
        QCOMPARE(outcome.exitCode, 2);
    }

    void importsAndReports()
    {
        const QString path = book("import.xlsx", {{"Email", "Firm", "City=Town"},
                                                  {"c1@x.com", "One", "Oslo"},
                                                  {"c2@x.com", QString(300, 'x'), "Rome"},
                                                  {"c1@x.com", "One again", "Bergen"}});
        QFile passwordFile(m_dir.filePath("password"));
        QVERIFY(passwordFile.open(QIODevice::WriteOnly));
        passwordFile.write("secret\n");
        passwordFile.close();
        const Outcome outcome =
            run(QStringList{"--workbook", path, "--email-column", "Email", "--map", "Firm=COMPANY",
                            "--map", "City=Town=CITY", "--fixed", "Fair=SOURCE", "--update",
                            "--group", "Autumn", "--password-file", passwordFile.fileName()} +
                    connection(),
                QString());
        // The 300-character company does not fit its field: that row fails.
        QCOMPARE(outcome.exitCode, 1);
        const QStringList lines = outcome.out.split('\n');
        QCOMPARE(lines.value(0), QStringLiteral("c1@x.com Imported.... and added to group."));
        // Said before anything is sent: which column, how long, and what fits.
        QCOMPARE(lines.value(1),
                 QStringLiteral("c2@x.com NOT imported (Firm: 300 characters, COMPANY holds 40)."));
        QCOMPARE(lines.value(2), QStringLiteral("c1@x.com already in database.c1@x.com "
                                                "Updated....and added to group."));
        QCOMPARE(lines.value(3), QStringLiteral(" 3 records processed!"));
        QCOMPARE(lines.value(4), QStringLiteral(" 1 of them failed; see the log."));
    }

    void laterEntryWinsAcrossMapAndFixed()
    {
        const QString path = book("order.xlsx", {{"Email", "Town"}, {"o1@x.com", "Oslo"}});
        const Outcome outcome =
            run(QStringList{"--workbook", path, "--email-column", "Email", "--fixed",
                            "Nowhere=CITY", "--map", "Town=CITY", "--map", "Town=STATE",
                            "--fixed=Fixed=STATE", "--no-match"} +
                connection());
        QCOMPARE(outcome.exitCode, 0);
        sqlite3 *db = nullptr;
        const QByteArray file = (m_store + QStringLiteral("/common.db")).toUtf8();
        QCOMPARE(sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt *statement = nullptr;
        QCOMPARE(sqlite3_prepare_v2(db,
                                    "SELECT c.CITY, c.STATE FROM CONTACT1 c JOIN CONTSUPP s ON "
                                    "s.ACCOUNTNO = c.ACCOUNTNO WHERE s.CONTSUPREF = 'o1@x.com'",
                                    -1, &statement, nullptr),
                 SQLITE_OK);
        QCOMPARE(sqlite3_step(statement), SQLITE_ROW);
        const QString city =
            QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
        const QString state =
            QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 1)));
        sqlite3_finalize(statement);
        sqlite3_close(db);
        QCOMPARE(city, QStringLiteral("Oslo"));
        QCOMPARE(state, QStringLiteral("Fixed"));
    }

    void twoImportsAtOnceLeaveOneContactPerAddress()
    {
        const QString store = m_dir.filePath("twice-store");
        std::string error;
        QVERIFY2(gm7s32::createStore(store.toStdString(), "MASTER", "secret", &error),
                 error.c_str());
        QList<QVariantList> rows{{"Email", "Name"}};
        for (int row = 1; row <= 1500; ++row)
            rows.append(
                {QStringLiteral("twice%1@x.com").arg(row), QStringLiteral("N %1").arg(row)});
        const QString path = book("twice.xlsx", rows);
        QStringList arguments{"--workbook",     path,
                              "--email-column", "Email",
                              "--map",          "Name=CONTACT",
                              "--sysdir",       store,
                              "--golddir",      QString::fromStdString(gm7s32::goldMineAlias()),
                              "--commondir",    QString::fromStdString(gm7s32::commonAlias()),
                              "--user",         "MASTER"};
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("RUVELO_PASSWORD", "secret");
        environment.insert("XDG_RUNTIME_DIR", m_dir.filePath("run"));
        QProcess first;
        QProcess second;
        for (QProcess *process : {&first, &second}) {
            process->setProcessEnvironment(environment);
            process->setStandardInputFile(QProcess::nullDevice());
            process->start(QStringLiteral(RUVELO_BIN_DIR "/ruvelo-import"), arguments);
        }
        QVERIFY(first.waitForFinished(120000));
        QVERIFY(second.waitForFinished(120000));
        // Whichever came second either waited its turn and matched everything,
        // or was refused before it wrote anything.
        QStringList refusals;
        for (QProcess *process : {&first, &second}) {
            const QString err = QString::fromLocal8Bit(process->readAllStandardError());
            QVERIFY2(process->exitCode() == 0 || process->exitCode() == 2, qPrintable(err));
            if (process->exitCode() == 2)
                refusals.append(err);
        }
        QVERIFY(refusals.size() <= 1);
        for (const QString &refusal : refusals)
            QVERIFY2(refusal.contains("Another import into this GoldMine database is running "
                                      "(MASTER, since "),
                     qPrintable(refusal));

        sqlite3 *db = nullptr;
        const QByteArray file = (store + QStringLiteral("/common.db")).toUtf8();
        QCOMPARE(sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        const auto number = [db](const char *sql) {
            sqlite3_stmt *statement = nullptr;
            sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
            const int value =
                sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
            sqlite3_finalize(statement);
            return value;
        };
        const int contacts = number("SELECT COUNT(*) FROM CONTACT1");
        const int addresses = number("SELECT COUNT(DISTINCT lower(CONTSUPREF)) FROM CONTSUPP");
        const int shared = number("SELECT COUNT(*) FROM (SELECT lower(CONTSUPREF) FROM CONTSUPP "
                                  "GROUP BY 1 HAVING COUNT(DISTINCT ACCOUNTNO) > 1)");
        sqlite3_close(db);
        QCOMPARE(contacts, 1500);
        QCOMPARE(addresses, 1500);
        QCOMPARE(shared, 0);
    }

    void missingEmailColumnCannotStart()
    {
        const QString path = book("nocolumn.xlsx", {{"Email"}, {"n@x.com"}});
        const Outcome outcome = run(QStringList{"--workbook", path} + connection());
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY2(outcome.err.startsWith("ruvelo-import: --email-column NAME is required"),
                 qPrintable(outcome.err));
        QVERIFY(outcome.out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "TestCli.moc"
