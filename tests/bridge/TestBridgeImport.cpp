#include "goldmine/ApiFactory.h"
#include "goldmine/BridgeGoldMineApi.h"
#include "goldmine/LibraryGoldMineApi.h"
#include "import/ImportRun.h"
#include "mapping/EntryList.h"
#include "standin/gm7s32/Store.h"
#include "support/DirectGoldMineApi.h"
#include "support/ScriptedPrompts.h"
#include "support/XlsxBuilder.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>
#include <unistd.h>

using namespace goldmine;

namespace {

const QString kBridge = QStringLiteral(RUVELO_BIN_DIR "/gm7bridge");
const char *const kPassword = "secret";

class RecordingSink : public import::ImportSink
{
public:
    void appendLog(const QString &piece) override { log += piece; }
    void setProgress(const QString &) override {}
    void processEvents() override {}
    void setBusy(bool) override {}
    QString log;
};

// Passes every call on, and ends the bridge's process right after the n-th
// "WriteContact" has come back, as a crash inside GoldMine's library would.
class KillAfterWrite : public GoldMineApi
{
public:
    KillAfterWrite(BridgeGoldMineApi &api, int after)
        : m_api(api)
        , m_after(after)
    {}
    int32_t GMW_LoadBDE(const QString &a, const QString &b, const QString &c, const QString &d,
                        const QString &e) override
    {
        return m_api.GMW_LoadBDE(a, b, c, d, e);
    }
    int32_t GMW_DS_Query(const QString &sql) override { return m_api.GMW_DS_Query(sql); }
    int32_t GMW_DS_Fetch(int32_t h, char *b, int32_t s, int32_t c) override
    {
        return m_api.GMW_DS_Fetch(h, b, s, c);
    }
    int32_t GMW_DS_Close(int32_t h) override { return m_api.GMW_DS_Close(h); }
    int32_t GMW_NV_Create() override { return m_api.GMW_NV_Create(); }
    int32_t GMW_NV_SetValue(int32_t c, const QString &n, const QString &v) override
    {
        return m_api.GMW_NV_SetValue(c, n, v);
    }
    int32_t GMW_NV_AppendNvValue(int32_t c, const QString &n, int32_t nested) override
    {
        return m_api.GMW_NV_AppendNvValue(c, n, nested);
    }
    QString GMW_NV_GetValue(int32_t c, const QString &n, const QString &d) override
    {
        return m_api.GMW_NV_GetValue(c, n, d);
    }
    int32_t GMW_NV_EraseAll(int32_t c) override { return m_api.GMW_NV_EraseAll(c); }
    int32_t GMW_NV_Delete(int32_t c) override { return m_api.GMW_NV_Delete(c); }
    int32_t GMW_Execute(const QString &call, int32_t c) override
    {
        const int32_t result = m_api.GMW_Execute(call, c);
        if (call == QLatin1String("WriteContact") && ++m_writes == m_after)
            ::kill(static_cast<pid_t>(m_api.bridgeProcessId()), SIGKILL);
        return result;
    }
    QString stoppedReason() const override { return m_api.stoppedReason(); }

private:
    BridgeGoldMineApi &m_api;
    int m_after;
    int m_writes = 0;
};

QList<QStringList> query(const QString &store, const QString &sql)
{
    QList<QStringList> rows;
    sqlite3 *db = nullptr;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_open_v2((store + "/common.db").toUtf8().constData(), &db, SQLITE_OPEN_READONLY,
                        nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            QStringList row;
            for (int column = 0; column < sqlite3_column_count(statement); ++column)
                row.append(QString::fromUtf8(
                    reinterpret_cast<const char *>(sqlite3_column_text(statement, column))));
            rows.append(row);
        }
    } else {
        rows.append({"error: " + QString::fromUtf8(sqlite3_errmsg(db))});
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

// The gm7bridge processes this test started, found as another process would.
QList<pid_t> bridgeChildren()
{
    QList<pid_t> children;
    const QString self = QString::number(getpid());
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString line = QString::fromUtf8(stat.readAll());
        const qsizetype close = line.lastIndexOf(')');
        const QStringList after = line.mid(close + 2).split(' ');
        if (line.contains("(gm7bridge)") && after.value(1) == self)
            children.append(entry.toInt());
    }
    return children;
}

QString scalar(const QString &store, const QString &sql)
{
    return query(store, sql).value(0).value(0);
}

} // namespace

// The import through gm7bridge into a real store: the same result as in
// process, and a bridge that dies mid-run stops the run, loses nothing that
// was committed and leaves a store that a second run completes.
class TestBridgeImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_book;
    QSet<QString> m_addresses; // lower case, spaces removed
    int m_runs = 0;

    QString newStore(const QString &name)
    {
        QString path = m_dir.filePath(name);
        std::string error;
        if (!gm7s32::createStore(path.toStdString(), "MASTER", kPassword, &error))
            return {};
        return path;
    }

    struct Outcome
    {
        import::ImportSummary summary;
        QString log;
        QList<ScriptedPrompts::Shown> messages;
        QString stoppedReason;
    };

    Outcome runImport(GoldMineApi &api, const QString &store)
    {
        Outcome outcome;
        ScriptedPrompts prompts;
        RecordingSink sink;
        if (api.GMW_LoadBDE(store, QString::fromStdString(gm7s32::goldMineAlias()),
                            QString::fromStdString(gm7s32::commonAlias()), "MASTER", kPassword) < 0)
            return outcome;
        mapping::EntryList entries;
        entries.addColumnEntry("Name", "CONTACT");
        entries.addColumnEntry("Firm", "COMPANY");
        entries.addColumnEntry("Remark", "NOTES");
        import::ImportOptions options;
        options.workbookPath = m_book;
        options.emailColumn = "Email";
        options.updateMatches = true;
        options.group = true;
        options.groupName = QStringLiteral("Bridge run %1").arg(++m_runs);
        ImportState state;
        import::ImportRun run(api, prompts, state, sink);
        outcome.summary = run.btnImport_Click(
            options, [&entries]() -> const mapping::EntryList & { return entries; });
        outcome.log = sink.log;
        outcome.messages = prompts.messages();
        outcome.stoppedReason = api.stoppedReason();
        return outcome;
    }

    // What a store must hold after a complete run; "" when it does.
    QString problems(const QString &store)
    {
        QStringList found;
        if (scalar(store, "PRAGMA integrity_check") != "ok")
            found << "integrity check failed";
        const int contacts = scalar(store, "select count(*) from contact1").toInt();
        if (contacts != m_addresses.size())
            found << QStringLiteral("%1 contacts for %2 addresses")
                         .arg(contacts)
                         .arg(m_addresses.size());
        QSet<QString> addresses;
        for (const QStringList &row :
             query(store, "select lower(s.contsupref), count(distinct c.accountno) from contact1 "
                          "c join contsupp s on s.accountno=c.accountno and s.contact='E-mail "
                          "Address' group by 1")) {
            addresses.insert(row.value(0));
            if (row.value(1) != "1")
                found << row.value(1) + " contacts own " + row.value(0);
        }
        if (addresses != m_addresses)
            found << QStringLiteral("%1 addresses found").arg(addresses.size());
        if (scalar(store, "select count(*) from contact1 c where not exists (select 1 from notes "
                          "n where n.accountno=c.accountno)") != "0")
            found << "contacts without notes";
        const int members = scalar(store, "select count(distinct accountno) from contgrps where "
                                          "userid=(select recid from contgrps where accountno='' "
                                          "order by rowid desc limit 1)")
                                .toInt();
        if (members != m_addresses.size())
            found << QStringLiteral("%1 members in the last run's group").arg(members);
        return found.join("; ");
    }

    // Contacts by address with the fields the run writes, for comparing stores.
    QStringList contents(const QString &store)
    {
        QStringList lines;
        for (const QStringList &row :
             query(store, "select lower(s.contsupref), c.contact, c.company, "
                          "(select group_concat(n.notes, '|') from notes n where "
                          "n.accountno=c.accountno) from contact1 c join contsupp s on "
                          "s.accountno=c.accountno and s.contact='E-mail Address' order by 1"))
            lines << row.join('\t');
        return lines;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_book = m_dir.filePath("book.xlsx");
        QList<QVariantList> rows = {{"Email", "Name", "Firm", "Remark"}};
        for (int row = 1; row <= 120; ++row) {
            QString address = QStringLiteral("person%1@bridge.example").arg(row);
            if (row % 10 == 0) // an earlier address again, written differently
                address = QStringLiteral(" PERSON%1@Bridge.example ").arg(row - 7);
            rows.append({address, QStringLiteral("Zoë Ørsted %1").arg(row),
                         QStringLiteral("Łódź Works %1").arg(row % 7),
                         QStringLiteral("note of row %1").arg(row)});
            m_addresses.insert(address.remove(' ').toLower());
        }
        QVERIFY(writeXlsx(m_book, rows));
    }

    void factoryChoosesTheBridge()
    {
        qputenv(kBridgeVariable, kBridge.toLocal8Bit());
        QCOMPARE(chosenBridge(), kBridge);
        QVERIFY(dynamic_cast<BridgeGoldMineApi *>(makeGoldMineApi().get()));
        QCOMPARE(chosenBridge("/elsewhere/gm7bridge"), QStringLiteral("/elsewhere/gm7bridge"));
        qunsetenv(kBridgeVariable);
        QCOMPARE(chosenBridge(), QString());
        QVERIFY(dynamic_cast<LibraryGoldMineApi *>(makeGoldMineApi().get()));
    }

    void loadFailureReasons()
    {
        BridgeGoldMineApi api(kBridge);
        QVERIFY(api.GMW_LoadBDE(m_dir.filePath("nowhere"), "GoldMine:", "Common:", "MASTER",
                                kPassword) < 0);
        QVERIFY2(api.loadFailureReason().contains("nowhere is not a directory"),
                 qPrintable(api.loadFailureReason()));
        BridgeGoldMineApi noLibrary(kBridge, m_dir.filePath("absent.so"));
        QCOMPARE(noLibrary.GMW_LoadBDE("x", "GoldMine:", "Common:", "MASTER", kPassword), -2);
        QVERIFY2(noLibrary.loadFailureReason().contains("absent.so"),
                 qPrintable(noLibrary.loadFailureReason()));
        BridgeGoldMineApi noBridge(m_dir.filePath("no-bridge"));
        QVERIFY(noBridge.GMW_LoadBDE("x", "GoldMine:", "Common:", "MASTER", kPassword) < 0);
        QVERIFY(noBridge.loadFailureReason().startsWith("The GoldMine API stopped: gm7bridge could "
                                                        "not be started"));
    }

    void sameStoreAsInProcess()
    {
        const QString inProcess = newStore("in-process");
        const QString bridged = newStore("bridged");
        QVERIFY(!inProcess.isEmpty() && !bridged.isEmpty());
        DirectGoldMineApi direct;
        const Outcome expected = runImport(direct, inProcess);
        BridgeGoldMineApi api(kBridge);
        const Outcome outcome = runImport(api, bridged);
        QVERIFY(outcome.summary.started);
        QCOMPARE(outcome.summary.rows, 120);
        QCOMPARE(outcome.summary.failedRows, 0);
        QVERIFY(!outcome.summary.stopped);
        QCOMPARE(outcome.log, expected.log);
        QCOMPARE(outcome.stoppedReason, QString());
        QCOMPARE(contents(bridged), contents(inProcess));
        QCOMPARE(problems(bridged), QString());
        QCOMPARE(scalar(bridged, "select c.contact from contact1 c join contsupp s on "
                                 "s.accountno=c.accountno where s.contsupref='person4@bridge."
                                 "example'"),
                 QStringLiteral("Zoë Ørsted 4"));
    }

    void bridgeKilledAfterWrite_data()
    {
        QTest::addColumn<int>("after");
        QTest::newRow("first contact") << 1;
        QTest::newRow("fortieth contact") << 40;
    }
    void bridgeKilledAfterWrite()
    {
        QFETCH(int, after);
        const QString store = newStore(QStringLiteral("killed-after-%1").arg(after));
        QVERIFY(!store.isEmpty());
        BridgeGoldMineApi bridged(kBridge);
        KillAfterWrite api(bridged, after);
        const Outcome outcome = runImport(api, store);
        QVERIFY(outcome.summary.started);
        QVERIFY(outcome.summary.stopped);
        QVERIFY2(outcome.stoppedReason ==
                     "The GoldMine API stopped: gm7bridge was ended by signal 9 (Killed).",
                 qPrintable(outcome.stoppedReason));
        // The run stopped at the first call the dead API could not answer,
        // saying why in the log, its closing text and the lookup's box.
        QVERIFY2(outcome.log.endsWith(QStringLiteral(". The GoldMine API stopped: gm7bridge was "
                                                     "ended by signal 9 (Killed).\r\n")),
                 qPrintable(outcome.log.right(300)));
        QVERIFY(outcome.summary.closingText().contains(
            QStringLiteral("The GoldMine API stopped: gm7bridge was ended by signal 9")));
        bool said = false;
        for (const ScriptedPrompts::Shown &box : outcome.messages)
            said = said || box.text.startsWith("The GoldMine API stopped:");
        QVERIFY(said);
        // Every contact written before the kill is there with its e-mail record.
        // Every tenth row updates an earlier contact rather than adding one.
        QCOMPARE(scalar(store, "select count(*) from contact1").toInt(), after - after / 10);
        QCOMPARE(scalar(store, "select count(*) from contact1 c where not exists (select 1 from "
                               "contsupp s where s.accountno=c.accountno)"),
                 QStringLiteral("0"));
        QCOMPARE(scalar(store, "PRAGMA integrity_check"), QStringLiteral("ok"));

        BridgeGoldMineApi again(kBridge);
        const Outcome rerun = runImport(again, store);
        QVERIFY(rerun.summary.started);
        QCOMPARE(rerun.summary.rows, 120);
        QCOMPARE(rerun.summary.failedRows, 0);
        QVERIFY(!rerun.summary.stopped);
        QCOMPARE(problems(store), QString());
    }

    // The kill lands wherever the run happens to be: inside a call, between
    // the halves of a request, while the bridge writes an answer.
    void bridgeKilledAtRandomMoments()
    {
        QRandomGenerator random(20261207);
        for (int round = 0; round < 4; ++round) {
            const QString store = newStore(QStringLiteral("random-%1").arg(round));
            QVERIFY(!store.isEmpty());
            BridgeGoldMineApi api(kBridge);
            std::atomic<bool> done{false};
            const auto delay = std::chrono::milliseconds(50 + random.bounded(400));
            std::thread killer([&]() {
                const auto until = std::chrono::steady_clock::now() + delay;
                while (!done && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (!done) {
                    for (const pid_t bridge : bridgeChildren())
                        ::kill(bridge, SIGKILL);
                }
            });
            const Outcome outcome = runImport(api, store);
            done = true;
            killer.join();
            if (outcome.summary.stopped)
                QVERIFY(outcome.stoppedReason.startsWith("The GoldMine API stopped: "));
            QCOMPARE(scalar(store, "PRAGMA integrity_check"), QStringLiteral("ok"));
            BridgeGoldMineApi again(kBridge);
            const Outcome rerun = runImport(again, store);
            QVERIFY(rerun.summary.started);
            QCOMPARE(rerun.summary.rows, 120);
            QVERIFY(!rerun.summary.stopped);
            QCOMPARE(problems(store), QString());
        }
    }
};

QTEST_GUILESS_MAIN(TestBridgeImport)
#include "TestBridgeImport.moc"
