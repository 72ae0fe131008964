#include "standin/gm7s32/Store.h"
#include "support/XlsxBuilder.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <csignal>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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

    // A workbook big enough that a run is still going when it is interrupted.
    QString bigBook(const QString &name, int rows)
    {
        QList<QVariantList> cells{{"Email", "Name"}};
        for (int row = 1; row <= rows; ++row)
            cells.append({QStringLiteral("%1%2@x.com").arg(name).arg(row), QStringLiteral("N")});
        return book(name + QStringLiteral(".xlsx"), cells);
    }

    QString newStore(const QString &name)
    {
        const QString store = m_dir.filePath(name);
        std::string error;
        return gm7s32::createStore(store.toStdString(), "MASTER", "secret", &error) ? store
                                                                                    : QString();
    }

    QStringList connectionTo(const QString &store) const
    {
        return {"--sysdir",    store,
                "--golddir",   QString::fromStdString(gm7s32::goldMineAlias()),
                "--commondir", QString::fromStdString(gm7s32::commonAlias()),
                "--user",      "MASTER"};
    }

    static int storeCount(const QString &store, const char *sql)
    {
        sqlite3 *db = nullptr;
        const QByteArray file = (store + QStringLiteral("/common.db")).toUtf8();
        if (sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return -1;
        }
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
        const int value =
            sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return value;
    }

    // Runs ruvelo-import with its standard input, output and error on a
    // pseudo-terminal, as a person at a terminal would; onOutput sees all it
    // has written so far and may type into it or act on the process.
    struct TerminalRun
    {
        QByteArray output;
        int status = -1; // waitpid's status
    };
    TerminalRun runOnTerminal(const QStringList &arguments, const QStringList &environment,
                              const std::function<void(pid_t, int, const QByteArray &)> &onOutput)
    {
        TerminalRun result;
        std::vector<QByteArray> argv{QByteArray(RUVELO_BIN_DIR "/ruvelo-import")};
        for (const QString &argument : arguments)
            argv.push_back(argument.toLocal8Bit());
        std::vector<QByteArray> envp;
        envp.reserve(size_t(environment.size()));
        for (const QString &entry : environment)
            envp.push_back(entry.toLocal8Bit());
        std::vector<char *> argPointers;
        argPointers.reserve(argv.size() + 1);
        for (QByteArray &argument : argv)
            argPointers.push_back(argument.data());
        argPointers.push_back(nullptr);
        std::vector<char *> envPointers;
        envPointers.reserve(envp.size() + 1);
        for (QByteArray &entry : envp)
            envPointers.push_back(entry.data());
        envPointers.push_back(nullptr);
        int master = -1;
        const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
        if (pid == 0) {
            execve(argPointers[0], argPointers.data(), envPointers.data());
            _exit(127);
        }
        if (pid < 0)
            return result;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 120000) {
            pollfd ready{master, POLLIN, 0};
            if (poll(&ready, 1, 50) > 0) {
                char buffer[4096];
                const ssize_t got = read(master, buffer, sizeof buffer);
                if (got <= 0)
                    break; // the terminal closed: the program has ended
                result.output.append(buffer, got);
            }
            if (onOutput)
                onOutput(pid, master, result.output);
        }
        waitpid(pid, &result.status, 0);
        close(master);
        return result;
    }

    QStringList baseEnvironment() const
    {
        QStringList environment;
        for (const QString &entry : QProcessEnvironment::systemEnvironment().toStringList()) {
            if (!entry.startsWith("RUVELO_PASSWORD="))
                environment.append(entry);
        }
        environment.append("XDG_RUNTIME_DIR=" + m_dir.filePath("run"));
        return environment;
    }

    // What another process running as root could read of a live process's
    // writable memory.
    static QByteArray writableMemory(pid_t pid)
    {
        QByteArray memory;
        QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
        QFile mem(QStringLiteral("/proc/%1/mem").arg(pid));
        if (!maps.open(QIODevice::ReadOnly) || !mem.open(QIODevice::ReadOnly))
            return memory;
        for (const QByteArray &line : maps.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() < 2 || !fields.at(1).startsWith("rw"))
                continue;
            const QList<QByteArray> range = fields.at(0).split('-');
            const quint64 start = range.value(0).toULongLong(nullptr, 16);
            const quint64 end = range.value(1).toULongLong(nullptr, 16);
            // Sanitizer shadow memory is huge and never holds program data.
            if (end <= start || end - start > (quint64(1) << 31))
                continue;
            QByteArray chunk(static_cast<qsizetype>(end - start), '\0');
            const ssize_t got = pread(mem.handle(), chunk.data(), static_cast<size_t>(end - start),
                                      static_cast<off_t>(start));
            if (got > 0)
                memory.append(chunk.constData(), got);
        }
        return memory;
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
        outcome = run(QStringList{"--workbook", m_dir.filePath("book.txt"), "--email-column", "E"} +
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
            "Error#: -4\n  GoldMine API cannot validate the GoldMine username/password."));
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

    // An exported contact list: semicolons, a quoted value with the separator,
    // and numbers that must stay text.
    void importsACsvFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("export.CSV"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\xEF\xBB\xBFMail;Firm;Phone\r\n"
                   "csv1@x.com;\"Smith; Jones & Co\";00471234\r\n"
                   "csv2@x.com;\"Say \"\"hi\"\"\";12345678901234567890\r\n");
        file.close();
        const Outcome outcome = run(QStringList{"--workbook", path, "--email-column", "Mail",
                                                "--map", "Firm=COMPANY", "--map", "Phone=PHONE1"} +
                                    connection());
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY2(outcome.out.startsWith("csv1@x.com Imported.\ncsv2@x.com Imported.\n"),
                 qPrintable(outcome.out));

        sqlite3 *db = nullptr;
        const QByteArray store = (m_store + QStringLiteral("/common.db")).toUtf8();
        QCOMPARE(sqlite3_open_v2(store.constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT COMPANY, PHONE1 FROM CONTACT1 JOIN CONTSUPP USING (ACCOUNTNO) "
                           "WHERE CONTSUPREF LIKE 'csv%' ORDER BY CONTSUPREF",
                           -1, &statement, nullptr);
        QStringList stored;
        while (sqlite3_step(statement) == SQLITE_ROW)
            stored << QString::fromUtf8(
                          reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)))
                   << QString::fromUtf8(
                          reinterpret_cast<const char *>(sqlite3_column_text(statement, 1)));
        sqlite3_finalize(statement);
        sqlite3_close(db);
        QCOMPARE(stored, QStringList({"Smith; Jones & Co", "00471234", "Say \"hi\"",
                                      "12345678901234567890"}));
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

    void interruptLetsTheRowFinish_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("status");
        QTest::newRow("interrupt") << int(SIGINT) << 130;
        QTest::newRow("termination") << int(SIGTERM) << 143;
    }
    void interruptLetsTheRowFinish()
    {
        QFETCH(int, signal);
        QFETCH(int, status);
        const QString store = newStore(QStringLiteral("signal-%1").arg(signal));
        const QString path = bigBook(QStringLiteral("signal%1-").arg(signal), 3000);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("RUVELO_PASSWORD", "secret");
        environment.insert("XDG_RUNTIME_DIR", m_dir.filePath("run"));
        process.setProcessEnvironment(environment);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(
            QStringLiteral(RUVELO_BIN_DIR "/ruvelo-import"),
            QStringList{"--workbook", path, "--email-column", "Email", "--map", "Name=CONTACT"} +
                connectionTo(store));
        QByteArray out;
        while (out.count('\n') < 20 && process.waitForReadyRead(30000))
            out += process.readAllStandardOutput();
        QVERIFY(process.state() == QProcess::Running);
        ::kill(static_cast<pid_t>(process.processId()), signal);
        QVERIFY(process.waitForFinished(60000));
        out += process.readAllStandardOutput();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), status);
        const QStringList lines = QString::fromLocal8Bit(out).split('\n', Qt::SkipEmptyParts);
        QVERIFY(lines.size() >= 23);
        const QRegularExpression stopped(
            QStringLiteral("^Stopped by the user after row (\\d+) of 3000\\.$"));
        const QRegularExpressionMatch match = stopped.match(lines.at(lines.size() - 3));
        QVERIFY2(match.hasMatch(), qPrintable(lines.at(lines.size() - 3)));
        const int rows = match.captured(1).toInt();
        QCOMPARE(lines.at(lines.size() - 2), QStringLiteral(" %1 records processed!").arg(rows));
        QCOMPARE(lines.last(), QStringLiteral("The import was stopped."));
        // The log and the store agree: every row begun was finished, no more.
        QCOMPARE(lines.size() - 3, rows);
        QCOMPARE(storeCount(store, "SELECT COUNT(*) FROM CONTACT1"), rows);
    }

    void secondInterruptEndsAtOnce()
    {
        const QString store = newStore(QStringLiteral("twice-signal"));
        const QString path = bigBook(QStringLiteral("again"), 3000);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("RUVELO_PASSWORD", "secret");
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(RUVELO_BIN_DIR "/ruvelo-import"),
                      QStringList{"--workbook", path, "--email-column", "Email"} +
                          connectionTo(store));
        QByteArray out;
        while (out.count('\n') < 5 && process.waitForReadyRead(30000))
            out += process.readAllStandardOutput();
        const auto pid = static_cast<pid_t>(process.processId());
        // Two of one kind could merge into one pending signal: an interrupt,
        // then a termination.
        ::kill(pid, SIGINT);
        ::kill(pid, SIGTERM);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QVERIFY(!process.readAllStandardOutput().contains("records processed"));
        QCOMPARE(storeCount(store, "SELECT COUNT(*) FROM pragma_integrity_check WHERE "
                                   "integrity_check = 'ok'"),
                 1);
    }

    void progressOnATerminalOnly()
    {
        const QString store = newStore(QStringLiteral("progress"));
        const QString path = bigBook(QStringLiteral("progress"), 1500);
        QStringList environment = baseEnvironment();
        environment.append("RUVELO_PASSWORD=secret");
        const TerminalRun terminal =
            runOnTerminal(QStringList{"--workbook", path, "--email-column", "Email", "--no-match"} +
                              connectionTo(store),
                          environment, {});
        QVERIFY(WIFEXITED(terminal.status));
        QCOMPARE(WEXITSTATUS(terminal.status), 0);
        const QString shown = QString::fromLocal8Bit(terminal.output);
        QVERIFY2(shown.contains(QRegularExpression(
                     QStringLiteral("\r\033\\[Krow [0-9]+ of 1500, [0-9]+ rows/s, "))),
                 qPrintable(shown.left(400)));
        // Piped: the log only, no progress line anywhere.
        const Outcome piped = run(
            QStringList{"--workbook", path, "--email-column", "Email", "--no-match", "--quiet"} +
            connectionTo(store));
        QCOMPARE(piped.exitCode, 0);
        QVERIFY(!piped.err.contains("rows/s"));
        QVERIFY(!piped.err.contains('\r'));
        // --quiet: the closing count and nothing of the rows.
        QCOMPARE(piped.out, QStringLiteral(" 1500 records processed!\n"));
    }

    void noPasswordSaysSoOnce()
    {
        const QString path = book("nopassword.xlsx", {{"Email"}, {"n@x.com"}});
        const Outcome outcome = run(
            QStringList{"--workbook", path, "--email-column", "Email"} + connection(), QString());
        QCOMPARE(outcome.exitCode, 2);
        QCOMPARE(outcome.err, QStringLiteral("ruvelo-import: No GoldMine password: set "
                                             "RUVELO_PASSWORD, use --password-file, or run on a "
                                             "terminal.\n"));
        QVERIFY(outcome.out.isEmpty());
    }

    void typedPasswordLeavesNoTraceInMemory()
    {
        const QByteArray password = QByteArrayLiteral("Typed-5b7e-Sentinel");
        const QString store = m_dir.filePath(QStringLiteral("typed-store"));
        std::string error;
        QVERIFY(gm7s32::createStore(store.toStdString(), "MASTER", password.toStdString(), &error));
        const QString path = bigBook(QStringLiteral("typed"), 3000);
        bool typed = false;
        bool looked = false;
        QByteArray memory;
        QByteArray limits;
        const TerminalRun terminal = runOnTerminal(
            QStringList{"--workbook", path, "--email-column", "Email"} + connectionTo(store),
            baseEnvironment(), [&](pid_t pid, int master, const QByteArray &output) {
                if (!typed && output.contains("GoldMine Password for MASTER: ")) {
                    typed = true;
                    QVERIFY(write(master, password.constData(),
                                  static_cast<size_t>(password.size())) == password.size());
                    QVERIFY(write(master, "\r", 1) == 1);
                }
                // Once rows are being imported the password has been used.
                if (typed && !looked && output.count("Imported.") >= 20) {
                    looked = true;
                    ::kill(pid, SIGSTOP);
                    memory = writableMemory(pid);
                    QFile file(QStringLiteral("/proc/%1/limits").arg(pid));
                    if (file.open(QIODevice::ReadOnly))
                        limits = file.readAll();
                    ::kill(pid, SIGCONT);
                }
            });
        QVERIFY(typed);
        QVERIFY(looked);
        QVERIFY(WIFEXITED(terminal.status));
        QCOMPARE(WEXITSTATUS(terminal.status), 0);
        QVERIFY2(memory.size() > 1000000, "the process's memory could not be read");
        QVERIFY(!memory.contains(password));
        QVERIFY(!memory.contains(QString::fromLatin1(password).toUtf8()));
        const QByteArray wide(reinterpret_cast<const char *>(QString::fromLatin1(password).utf16()),
                              password.size() * 2);
        QVERIFY(!memory.contains(wide));
        QVERIFY(!terminal.output.contains(password)); // not echoed
        // No core dump could carry it either.
        QVERIFY2(QRegularExpression(QStringLiteral("Max core file size\\s+0\\s+0"))
                     .match(QString::fromLatin1(limits))
                     .hasMatch(),
                 limits.constData());
    }

    void usageRefusals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("says");
        QTest::newRow("no-match with update")
            << QStringList{"--workbook", "b.xlsx", "--no-match", "--update"} << "--no-match";
        QTest::newRow("columns with dump")
            << QStringList{"--workbook", "b.xlsx", "--columns", "--dump"} << "cannot go together";
        QTest::newRow("dry run with columns")
            << QStringList{"--workbook", "b.xlsx", "--columns", "--dry-run"} << "--dry-run";
    }
    void usageRefusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, says);
        const Outcome outcome = run(arguments);
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY(outcome.err.startsWith("ruvelo-import: "));
        QVERIFY2(outcome.err.contains(says), qPrintable(outcome.err));
    }

    void versionAndMessagesNameTheProgram()
    {
        Outcome outcome = run({"--version"});
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY(QRegularExpression(QStringLiteral("^ruvelo-import \\d+\\.\\d+\\.\\d+\\n$"))
                    .match(outcome.out)
                    .hasMatch());
        // Every message the program writes starts with its name.
        const QString path = book("names.xlsx", {{"Email"}, {"n@x.com"}});
        for (const QStringList &arguments :
             {QStringList{"--workbook", m_dir.filePath("absent.xlsx"), "--email-column", "E"} +
                  connection(),
              QStringList{"--workbook", path, "--email-column", "Mail"} + connection(),
              QStringList{"--workbook", path, "--email-column", "Email", "--map", "Email=RECID"} +
                  connection()}) {
            outcome = run(arguments);
            QCOMPARE(outcome.exitCode, 2);
            // A message's further lines are indented under its first.
            for (const QString &line : outcome.err.split('\n', Qt::SkipEmptyParts))
                QVERIFY2(line.startsWith("ruvelo-import: ") || line.startsWith("  "),
                         qPrintable(outcome.err));
        }
    }

    void undecodableFileNameIsShownByItsBytes()
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LC_ALL", "C.UTF-8");
        process.setProcessEnvironment(environment);
        // QProcess would encode the name; a shell passes the bytes as they are.
        process.start("/bin/sh", {"-c",
                                  "exec \"$0\" --workbook \"$(printf 'caf\\351.xlsx')\" "
                                  "--columns",
                                  QStringLiteral(RUVELO_BIN_DIR "/ruvelo-import")});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 2);
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(err.contains("caf\\xe9.xlsx"), qPrintable(err));
        QVERIFY(!err.contains("does not exist"));
    }

    void dryRunWritesNothingAndSaysWhatItFound()
    {
        const QString store = newStore(QStringLiteral("dry"));
        const QString path = book("dry.xlsx", {{"Email", "Company"},
                                               {"a@x.com", "Fine"},
                                               {"a@x.com", "Twice"},
                                               {"b@x.com", QString(41, 'w')}});
        const QString report = m_dir.filePath("dry-report.csv");
        Outcome outcome = run(QStringList{"--workbook", path, "--email-column", "Email", "--map",
                                          "Company=COMPANY", "--dry-run", "--report", report} +
                              connectionTo(store));
        QCOMPARE(outcome.exitCode, 1); // a row would fail
        QCOMPARE(outcome.out,
                 QStringLiteral("row 3, Email: The address is in row 2 too: this row would match "
                                "that row's contact.\n"
                                "row 4, Company: Company: 41 characters, COMPANY holds 40.\n"
                                "Checked 3 rows: would create 1, would match 1 (0 of them "
                                "updated), would fail 1.\n2 problems in 2 rows.\n"));
        QCOMPARE(storeCount(store, "SELECT COUNT(*) FROM CONTACT1"), 0);
        QFile file(report);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("3,a@x.com,would match,"));
        // Nothing that would fail a row: exit 0.
        outcome = run(QStringList{"--workbook", path, "--email-column", "Email", "--dry-run"} +
                      connectionTo(store));
        QCOMPARE(outcome.exitCode, 0);
    }

    void profilesSaveAndLoad()
    {
        const QString store = newStore(QStringLiteral("profile"));
        const QString path =
            book("profile.xlsx", {{"Email", "Company", "Town"}, {"p@x.com", "Acme", "Oslo"}});
        const QString profile = m_dir.filePath("fair-profile.json");
        Outcome outcome = run(QStringList{"--workbook", path, "--email-column", "Email", "--map",
                                          "Company=COMPANY", "--fixed", "Sales/EMEA=SOURCE",
                                          "--update", "--save-profile", profile} +
                              connectionTo(store));
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY(QFile::exists(profile));
        // The profile alone gives the same mappings and options; the command
        // line adds to them and wins.
        const QString next =
            book("profile2.xlsx", {{"Email", "Company", "Town"}, {"p@x.com", "Acme Two", "Rome"}});
        outcome = run(QStringList{"--workbook", next, "--profile", profile, "--map", "Town=CITY"} +
                      connectionTo(store));
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY2(outcome.out.startsWith("p@x.com already in database.p@x.com Updated."),
                 qPrintable(outcome.out));
        QCOMPARE(storeCount(store, "SELECT COUNT(*) FROM CONTACT1 WHERE COMPANY='Acme Two' AND "
                                   "CITY='Rome' AND SOURCE='Sales/EMEA'"),
                 1);
        // A profile whose column the workbook lacks: nothing starts.
        const QString other = book("profile3.xlsx", {{"Email", "Firm"}, {"q@x.com", "Q"}});
        outcome = run(QStringList{"--workbook", other, "--profile", profile} + connectionTo(store));
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY2(outcome.err.contains("no column named:\n  Company"), qPrintable(outcome.err));
    }

    void bridgeOptionReachesTheApiThroughGm7bridge()
    {
        const QString store = newStore(QStringLiteral("bridged"));
        const QString path = book("bridged.xlsx", {{"Email", "Name"}, {"b1@x.com", "Zoë"}});
        Outcome outcome =
            run(QStringList{"--workbook", path, "--email-column", "Email", "--map", "Name=CONTACT",
                            "--bridge", QStringLiteral(RUVELO_BIN_DIR "/gm7bridge")} +
                connectionTo(store));
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(storeCount(store, "SELECT COUNT(*) FROM CONTACT1 WHERE CONTACT = 'Zoë'"), 1);
        // A bridge that is not there: said, nothing written.
        outcome = run(QStringList{"--workbook", path, "--email-column", "Email", "--bridge",
                                  m_dir.filePath("no-such-bridge")} +
                      connectionTo(store));
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY2(outcome.err.startsWith("ruvelo-import: "), qPrintable(outcome.err));
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
