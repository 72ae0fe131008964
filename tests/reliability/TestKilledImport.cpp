#include "standin/gm7s32/Store.h"
#include "support/XlsxBuilder.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <csignal>

// An import killed at any moment and run again leaves every address exactly
// once, complete, in an intact store; a further run writes nothing new.
class TestKilledImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    struct Workbook
    {
        QString path;
        QSet<QString> addresses; // lower case, spaces removed
    };

    // Rows with notes; some addresses repeat in another case or with spaces.
    Workbook makeWorkbook(const QString &name, int rows)
    {
        Workbook book;
        book.path = m_dir.filePath(name);
        QList<QVariantList> cells = {{"Email", "Name", "Remark"}};
        for (int row = 1; row <= rows; ++row) {
            QString address = QStringLiteral("person%1@example.com").arg(row);
            if (row % 10 == 0) // repeats an earlier address, written differently
                address = QStringLiteral(" PERSON%1@Example.com ").arg(row - 7);
            cells.append({address, QStringLiteral("Person %1").arg(row),
                          QStringLiteral("note of row %1").arg(row)});
            book.addresses.insert(address.remove(QLatin1Char(' ')).toLower());
        }
        if (!writeXlsx(book.path, cells))
            book.path.clear();
        return book;
    }

    QString newStore(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        std::string error;
        return gm7s32::createStore(path.toStdString(), "MASTER", "secret", &error) ? path
                                                                                   : QString();
    }

    QProcess *startImport(const QString &store, const Workbook &book, const QString &killAfter)
    {
        auto *process = new QProcess(this);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("RUVELO_PASSWORD"), QStringLiteral("secret"));
        process->setProcessEnvironment(environment);
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardOutputFile(QProcess::nullDevice());
        QStringList arguments{"--workbook", book.path, "--email-column", "Email", "--map",
                              "Name=CONTACT", "--map", "Remark=NOTES", "--update", "--group", "Run",
                              // every run makes its own group of that name
                              "--group-exists=add", "--sysdir", store, "--golddir",
                              QString::fromStdString(gm7s32::goldMineAlias()), "--commondir",
                              QString::fromStdString(gm7s32::commonAlias()), "--user", "MASTER"};
        // The shipped program has no kill switch; a test-only build of it does.
        if (killAfter.isEmpty()) {
            process->start(QStringLiteral(RUVELO_BIN_DIR "/ruvelo-import"), arguments);
        } else {
            arguments.prepend(killAfter);
            process->start(QStringLiteral(RUVELO_BIN_DIR "/ruvelo-import-killable"), arguments);
        }
        return process;
    }

    // Runs to the end; true when the run exited with status 0.
    bool completeImport(const QString &store, const Workbook &book)
    {
        std::unique_ptr<QProcess> process(startImport(store, book, {}));
        return process->waitForFinished(300000) && process->exitStatus() == QProcess::NormalExit &&
               process->exitCode() == 0;
    }

    static QList<QStringList> query(sqlite3 *db, const char *sql)
    {
        QList<QStringList> rows;
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
            return {{QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db))}};
        while (sqlite3_step(statement) == SQLITE_ROW) {
            QStringList row;
            for (int column = 0; column < sqlite3_column_count(statement); ++column)
                row.append(QString::fromUtf8(
                    reinterpret_cast<const char *>(sqlite3_column_text(statement, column))));
            rows.append(row);
        }
        sqlite3_finalize(statement);
        return rows;
    }

    // What the store must hold after a complete run; "" when it does.
    QString storeProblems(const QString &store, const Workbook &book)
    {
        sqlite3 *db = nullptr;
        const QByteArray file = (store + QStringLiteral("/common.db")).toUtf8();
        if (sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return QStringLiteral("cannot open the store");
        }
        QStringList problems;
        const auto integrity = query(db, "PRAGMA integrity_check");
        if (integrity != QList<QStringList>{{"ok"}})
            problems << QStringLiteral("integrity: %1").arg(integrity.value(0).join(' '));
        const int contacts = query(db, "SELECT COUNT(*) FROM CONTACT1").value(0).value(0).toInt();
        if (contacts != book.addresses.size())
            problems << QStringLiteral("%1 contacts for %2 addresses")
                            .arg(contacts)
                            .arg(book.addresses.size());
        const auto perAddress =
            query(db, "SELECT lower(s.CONTSUPREF), COUNT(DISTINCT c.ACCOUNTNO) FROM CONTACT1 c "
                      "JOIN CONTSUPP s ON s.ACCOUNTNO = c.ACCOUNTNO AND s.RECTYPE = 'P' AND "
                      "s.CONTACT = 'E-mail Address' GROUP BY 1");
        QSet<QString> found;
        for (const QStringList &row : perAddress) {
            found.insert(row.value(0));
            if (row.value(1) != QLatin1String("1"))
                problems << QStringLiteral("%1 contacts own %2").arg(row.value(1), row.value(0));
        }
        if (found != book.addresses)
            problems << QStringLiteral("addresses differ: %1 found").arg(found.size());
        const char *withoutAddress = "SELECT COUNT(*) FROM CONTACT1 c WHERE NOT EXISTS (SELECT 1 "
                                     "FROM CONTSUPP s WHERE s.ACCOUNTNO = c.ACCOUNTNO AND "
                                     "s.CONTACT = 'E-mail Address')";
        if (query(db, withoutAddress).value(0).value(0) != QLatin1String("0"))
            problems << QStringLiteral("contacts without an e-mail record");
        const char *withoutNotes = "SELECT COUNT(*) FROM CONTACT1 c WHERE NOT EXISTS (SELECT 1 "
                                   "FROM NOTES n WHERE n.ACCOUNTNO = c.ACCOUNTNO)";
        if (query(db, withoutNotes).value(0).value(0) != QLatin1String("0"))
            problems << QStringLiteral("contacts without notes");
        const char *members = "SELECT COUNT(DISTINCT ACCOUNTNO) FROM CONTGRPS WHERE USERID = "
                              "(SELECT RECID FROM CONTGRPS WHERE ACCOUNTNO = '' ORDER BY rowid "
                              "DESC LIMIT 1)";
        const int inGroup = query(db, members).value(0).value(0).toInt();
        if (inGroup != book.addresses.size())
            problems << QStringLiteral("%1 members in the last run's group").arg(inGroup);
        sqlite3_close(db);
        return problems.join(QStringLiteral("; "));
    }

    int contactCount(const QString &store)
    {
        sqlite3 *db = nullptr;
        const QByteArray file = (store + QStringLiteral("/common.db")).toUtf8();
        sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        const int count = query(db, "SELECT COUNT(*) FROM CONTACT1").value(0).value(0).toInt();
        sqlite3_close(db);
        return count;
    }

    void rerunAndCheck(const QString &store, const Workbook &book)
    {
        QVERIFY(completeImport(store, book));
        const QString problems = storeProblems(store, book);
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
        const int contacts = contactCount(store);
        QVERIFY(completeImport(store, book));
        QCOMPARE(contactCount(store), contacts);
    }

private Q_SLOTS:
    void killedAtEachWriteStep_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<int>("row");
        // The workbook's 9 rows have distinct addresses, so the n-th step is row n's.
        for (const char *step : {"lookup", "contact", "notes", "group"}) {
            for (int row : {1, 5, 9})
                QTest::addRow("%s, row %d", step, row) << QString::fromLatin1(step) << row;
        }
    }
    void killedAtEachWriteStep()
    {
        QFETCH(QString, step);
        QFETCH(int, row);
        const Workbook book = makeWorkbook(QStringLiteral("nine.xlsx"), 9);
        QVERIFY(!book.path.isEmpty());
        const QString store = newStore(QStringLiteral("step-%1-%2").arg(step).arg(row));
        QVERIFY(!store.isEmpty());
        std::unique_ptr<QProcess> killed(
            startImport(store, book, step + ':' + QString::number(row)));
        QVERIFY(killed->waitForFinished(60000));
        QCOMPARE(killed->exitStatus(), QProcess::CrashExit);
        // Run once more through gm7bridge (RUVELO_GM7BRIDGE), the killed
        // program must really have reached GoldMine that way.
        const QString bridge = qEnvironmentVariable("RUVELO_GM7BRIDGE");
        if (!bridge.isEmpty())
            QVERIFY(killed->readAllStandardError().contains(("through " + bridge).toUtf8()));
        rerunAndCheck(store, book);
    }

    void killedAtRandomMoments()
    {
        // Each round costs two whole runs after the kill; the default keeps the
        // suite short, RUVELO_KILL_ROUNDS=100 runs the long series (give it
        // QTEST_FUNCTION_TIMEOUT=3600000 too: Qt Test stops a function after 5 minutes).
        const int rounds = qEnvironmentVariableIsSet("RUVELO_KILL_ROUNDS")
                               ? qEnvironmentVariableIntValue("RUVELO_KILL_ROUNDS")
                               : 8;
        const Workbook book = makeWorkbook(QStringLiteral("big.xlsx"), 2000);
        QVERIFY(!book.path.isEmpty());
        const QString store = newStore(QStringLiteral("random"));
        QVERIFY(!store.isEmpty());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(completeImport(store, book)); // also measures one whole run
        const qint64 wholeRun = timer.elapsed();
        QRandomGenerator random(20261207);
        int killedMidway = 0;
        for (int round = 0; round < rounds; ++round) {
            // Each round starts from a fresh store, so the kill can hit new contacts.
            const QString fresh = newStore(QStringLiteral("random-%1").arg(round));
            std::unique_ptr<QProcess> process(startImport(fresh, book, {}));
            QVERIFY(process->waitForStarted());
            QTest::qWait(static_cast<int>(random.bounded(wholeRun)));
            if (process->state() == QProcess::Running) {
                ::kill(static_cast<pid_t>(process->processId()), SIGKILL);
                ++killedMidway;
            }
            // A run that ended during the wait has been reaped already, and
            // waitForFinished() answers false for a process that is not running.
            if (process->state() != QProcess::NotRunning)
                QVERIFY(process->waitForFinished(60000));
            rerunAndCheck(fresh, book);
        }
        qInfo("%d of %d kills landed during the import", killedMidway, rounds);
        QVERIFY2(killedMidway >= rounds / 2, "most kills should land during the import");
    }
};

QTEST_GUILESS_MAIN(TestKilledImport)
#include "TestKilledImport.moc"
