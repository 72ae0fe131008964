#include "import/ImportRun.h"
#include "import/RowReport.h"
#include "import/StoreFixture.h"
#include "mapping/EntryList.h"
#include "mapping/Profile.h"
#include "support/ScriptedPrompts.h"
#include "support/XlsxBuilder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

using namespace goldmine;
using namespace import;
using namespace mapping;

namespace {

class Sink : public ImportSink
{
public:
    void appendLog(const QString &piece) override { log += piece; }
    void setProgress(const QString &) override {}
    void processEvents() override {}
    void setBusy(bool) override {}
    void setTotal(int64_t rows) override { total = rows; }
    void rowDone(int64_t row) override { done = row; }
    bool stopRequested() override { return stopAfter >= 0 && done >= stopAfter; }
    QString log;
    int64_t total = -2;
    int64_t done = 0;
    int64_t stopAfter = -1;
};

// Keeps the records a run hands over, as a report file would.
class Records : public RowReport
{
public:
    void write(const RowRecord &record) override { records.append(record); }
    ::import::Result<void> finish() override { return {}; }
    QList<RowRecord> records;
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every row of every table of a store's two databases. (Their files are no
// measure: a mere read updates the shared-memory index of a WAL database.)
QStringList storeContents(const QString &directory)
{
    QStringList contents;
    for (const char *name : {"/store/common.db", "/store/goldmine.db"}) {
        sqlite3 *db = nullptr;
        const QByteArray path = (directory + QLatin1String(name)).toUtf8();
        if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return {QStringLiteral("cannot open ") + QLatin1String(name)};
        }
        QStringList tables;
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name",
                           -1, &statement, nullptr);
        while (sqlite3_step(statement) == SQLITE_ROW)
            tables.append(QString::fromUtf8(
                reinterpret_cast<const char *>(sqlite3_column_text(statement, 0))));
        sqlite3_finalize(statement);
        for (const QString &table : tables) {
            const QByteArray sql =
                QStringLiteral("SELECT * FROM \"%1\" ORDER BY rowid").arg(table).toUtf8();
            sqlite3_prepare_v2(db, sql.constData(), -1, &statement, nullptr);
            while (sqlite3_step(statement) == SQLITE_ROW) {
                QStringList row{table};
                for (int column = 0; column < sqlite3_column_count(statement); ++column)
                    row.append(QString::fromUtf8(
                        reinterpret_cast<const char *>(sqlite3_column_text(statement, column))));
                contents.append(row.join(QLatin1Char('|')));
            }
            sqlite3_finalize(statement);
        }
        sqlite3_close(db);
    }
    return contents;
}

class TestCheckAndReport : public QObject
{
    Q_OBJECT

    struct Harness
    {
        StoreFixture store;
        QTemporaryDir dir;
        ScriptedPrompts prompts;
        Sink sink;
        ImportState state;
        EntryList entries;
        ImportOptions options;

        Harness() { options.emailColumn = QStringLiteral("Email"); }
        void workbook(const QList<QVariantList> &rows)
        {
            options.workbookPath = dir.filePath(QStringLiteral("book.xlsx"));
            QVERIFY(writeXlsx(options.workbookPath, rows));
        }
        ImportSummary go(bool check, RowReport *report)
        {
            ImportRun run(store.api(), prompts, state, sink);
            run.setReport(report);
            const auto read = [this]() -> const EntryList & {
                return entries;
            };
            return check ? run.check(options, read) : run.btnImport_Click(options, read);
        }
    };

    // A workbook with every kind of row a check tells about.
    static void fillWorkbook(Harness &h)
    {
        h.store.addContact({{"Email", "known@x.org"}, {"Company", "Old"}});
        h.workbook({{"Email", "Company", "Remark"},
                    {"new@x.org", "New", "hello"},
                    {"known@x.org", "Known", ""},
                    {"NEW@x.org", "Again", ""},                        // repeats row 2
                    {"wide@x.org", QString(41, QLatin1Char('w')), ""}, // too long
                    {"not an address", "Odd", ""},
                    {"", "Nobody", ""}});
        h.entries.addColumnEntry(QStringLiteral("Company"), QStringLiteral("COMPANY"));
        h.entries.addColumnEntry(QStringLiteral("Remark"), QStringLiteral("NOTES"));
        h.options.updateMatches = true;
    }

private Q_SLOTS:
    void checkWritesNothingAndPredictsTheRun()
    {
        Harness h;
        fillWorkbook(h);
        const QStringList before = storeContents(h.store.directory());
        QVERIFY(before.size() > 10);
        const int queriesBefore = h.store.api().queryCount();
        Records predicted;
        const ImportSummary check = h.go(true, &predicted);
        QVERIFY(check.started);
        QVERIFY(check.check);
        QCOMPARE(storeContents(h.store.directory()), before);
        QCOMPARE(h.store.api().executeCount(QStringLiteral("WriteContact")), 1); // the seed
        QVERIFY(h.store.api().queryCount() > queriesBefore); // it did look GoldMine up
        QCOMPARE(h.sink.total, 6);
        QCOMPARE(check.rows, 6);
        QCOMPARE(check.created, 3); // new, not an address, nobody
        QCOMPARE(check.matched, 2); // known, and NEW@ repeating row 2
        QCOMPARE(check.updated, 2);
        QCOMPARE(check.failedRows, 1);

        // The problems, by the row the workbook shows them in.
        QStringList problems;
        for (const Problem &problem : check.problems)
            problems.append(QStringLiteral("%1|%2|%3|%4")
                                .arg(problem.row)
                                .arg(problem.column, problem.message)
                                .arg(problem.failsRow));
        QCOMPARE(problems,
                 QStringList({"4|Email|The address is in row 2 too: this row would match that "
                              "row's contact.|0",
                              "5|Company|Company: 41 characters, COMPANY holds 40.|1",
                              "6|Email|\"notanaddress\" does not look like an e-mail address.|0",
                              "7|Email|The e-mail address is empty: the row would be imported "
                              "as a new contact.|0"}));
        QCOMPARE(check.problemRows, 4);
        QVERIFY2(check.checkText().startsWith(QStringLiteral("Checked 6 rows: would create 3, "
                                                             "would match 2 (2 of them updated), "
                                                             "would fail 1.\n4 problems in 4 "
                                                             "rows.")),
                 qPrintable(check.checkText()));

        // The run then does row by row what the check said it would.
        Records happened;
        const ImportSummary run = h.go(false, &happened);
        QCOMPARE(run.rows, 6);
        QCOMPARE(happened.records.size(), predicted.records.size());
        const QHash<Outcome, Outcome> realised{{Outcome::WouldCreate, Outcome::Created},
                                               {Outcome::WouldMatch, Outcome::Matched},
                                               {Outcome::WouldUpdate, Outcome::Updated},
                                               {Outcome::WouldFail, Outcome::Failed}};
        for (qsizetype i = 0; i < happened.records.size(); ++i) {
            const RowRecord &p = predicted.records.at(i);
            const RowRecord &r = happened.records.at(i);
            QCOMPARE(r.row, p.row);
            QCOMPARE(r.email, p.email);
            QVERIFY2(realised.value(p.outcome) == r.outcome,
                     qPrintable(QStringLiteral("row %1: %2 then %3")
                                    .arg(r.row)
                                    .arg(outcomeText(p.outcome), outcomeText(r.outcome))));
        }
        QCOMPARE(h.store.count(QStringLiteral("select count(*) from contact1")), 1 + 3);
    }

    // Rows are named as the operator sees them in the workbook, blank rows and
    // all, so that a problem can be found there.
    void rowNumbersAreTheWorkbooksOwn()
    {
        Harness h;
        h.workbook({{},
                    {"Email", "Company"},
                    {"a@x.org", "A"},
                    {},
                    {},
                    {"A@x.org", QString(41, QLatin1Char('w'))}});
        h.entries.addColumnEntry(QStringLiteral("Company"), QStringLiteral("COMPANY"));
        h.options.updateMatches = true;
        Records predicted;
        const ImportSummary check = h.go(true, &predicted);
        QStringList problems;
        for (const Problem &problem : check.problems)
            problems.append(QStringLiteral("%1|%2").arg(problem.row).arg(problem.message));
        QCOMPARE(problems, QStringList({"6|The address is in row 3 too: this row would match "
                                        "that row's contact.",
                                        "6|Company: 41 characters, COMPANY holds 40."}));
        Records happened;
        h.go(false, &happened);
        for (const Records *records : {&predicted, &happened}) {
            QCOMPARE(records->records.size(), 2);
            QCOMPARE(records->records.at(0).row, 3);
            QCOMPARE(records->records.at(1).row, 6);
        }
    }

    void checkFindsWhatWouldStopTheRun()
    {
        Harness h;
        h.workbook({{"Email", "Town"}, {"a@x.org", "Oslo"}});
        h.entries.addColumnEntry(QStringLiteral("City"), QStringLiteral("CITY"));
        h.entries.addColumnEntry(QStringLiteral("Town"), QStringLiteral("RECID"));
        h.entries.addCustomEntry(QString(41, QLatin1Char('f')), QStringLiteral("COMPANY"));
        h.options.group = true;
        const ImportSummary check = h.go(true, nullptr);
        QVERIFY(check.started);
        QVERIFY(h.prompts.messages().isEmpty()); // a check shows no box, it lists
        QStringList messages;                    // the run's own problems, before any row's
        for (const Problem &problem : check.problems) {
            if (problem.row == 0)
                messages.append(problem.message);
        }
        QCOMPARE(messages.size(), 4);
        QVERIFY(messages.at(0).contains(QStringLiteral("no column named:\nCity")));
        QVERIFY(messages.at(1).contains(QStringLiteral("RECID")));
        QVERIFY(messages.at(2).contains(QStringLiteral("41 characters; COMPANY holds 40")));
        QCOMPARE(messages.at(3), QStringLiteral("Please type a name for the new group."));
    }

    void reportFilesSayWhatHappened()
    {
        Harness h;
        fillWorkbook(h);
        // A fixed text that a spreadsheet would take for a formula.
        h.entries.addCustomEntry(QStringLiteral("=HYPERLINK(\"x\")"), QStringLiteral("SOURCE"));
        const QString csvPath = h.dir.filePath(QStringLiteral("report.csv"));
        auto report = openReport(csvPath);
        QVERIFY(report);
        h.workbook({{"Email", "Company", "Remark"},
                    {"=cmd@x.org", "Formula", "x"},
                    {"known@x.org", "Known, Ltd", "line one\nline \"two\""},
                    {"wide@x.org", QString(41, QLatin1Char('w')), ""}});
        h.go(false, report->get());
        QVERIFY((*report)->finish());
        const QByteArray csv = readFile(csvPath);
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
        const QStringList lines =
            QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0),
                 QStringLiteral("Row,E-mail,Outcome,Record id,Account number,In group,Message"));
        QVERIFY2(lines.value(1).startsWith(QStringLiteral("2,'=cmd@x.org,created,")),
                 qPrintable(lines.value(1)));
        QVERIFY2(lines.value(2).startsWith(QStringLiteral("3,known@x.org,updated,")),
                 qPrintable(lines.value(2)));
        QVERIFY(lines.value(2).endsWith(QStringLiteral(",no,")));
        QCOMPARE(lines.value(3),
                 QStringLiteral("4,wide@x.org,failed,,,no,\"Company: 41 characters, COMPANY "
                                "holds 40\""));
        // The record id and account number are the contact's own.
        const QStringList known = lines.value(2).split(QLatin1Char(','));
        QCOMPARE(known.value(4), h.store.value(QStringLiteral("select accountno from contsupp "
                                                              "where contsupref='known@x.org'")));

        // The same as a workbook: text stays text, with nothing to run.
        const QString xlsxPath = h.dir.filePath(QStringLiteral("report.xlsx"));
        QVERIFY(convertReportToXlsx(csvPath, xlsxPath));
        QVERIFY(readFile(xlsxPath).startsWith("PK"));
    }

    void anInterruptedRunLeavesItsRowsInTheReport()
    {
        Harness h;
        QList<QVariantList> rows{{"Email"}};
        for (int i = 1; i <= 6; ++i)
            rows.append({QStringLiteral("p%1@x.org").arg(i)});
        h.workbook(rows);
        const QString path = h.dir.filePath(QStringLiteral("partial.xlsx"));
        auto report = openReport(path);
        QVERIFY(report);
        h.sink.stopAfter = 2;
        const ImportSummary summary = h.go(false, report->get());
        QVERIFY(summary.stopped);
        QCOMPARE(summary.rows, 2);
        QVERIFY(h.sink.log.endsWith(QStringLiteral("Stopped by the user after row 2 of 6.\r\n")));
        QCOMPARE(summary.closingText(),
                 QStringLiteral(" 2 records processed!\nThe import was stopped."));
        // Before the report is finished (as if the process had died), its rows
        // are already on disk beside it.
        const QStringList partial = QString::fromUtf8(readFile(path + ".partial.csv"))
                                        .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(partial.size(), 3);
        QVERIFY(partial.at(2).startsWith(QStringLiteral("3,p2@x.org,created,")));
        QVERIFY((*report)->finish());
        QVERIFY(readFile(path).startsWith("PK"));
        QVERIFY(!QFile::exists(path + ".partial.csv"));
    }

    void profilesRoundTripAndFit()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("fair.json"));
        Profile saved;
        saved.emailColumn = QStringLiteral("Email");
        saved.match = true;
        saved.updateMatches = true;
        saved.group = true;
        saved.groupName = QStringLiteral("Fair 2026");
        saved.mappings = {{false, QStringLiteral("Company"), QStringLiteral("COMPANY")},
                          {true, QStringLiteral("Sales/EMEA"), QStringLiteral("SOURCE")},
                          {false, QStringLiteral("Fax"), QStringLiteral("FAX")},
                          {false, QStringLiteral("Town"), QStringLiteral("SHOESIZE")}};
        QVERIFY(writeProfile(path, saved));
        const mapping::Result<Profile> read = readProfile(path);
        QVERIFY2(read, qPrintable(read ? QString() : read.error().message));
        QCOMPARE(read->emailColumn, saved.emailColumn);
        QCOMPARE(read->updateMatches, true);
        QCOMPARE(read->groupName, saved.groupName);
        QCOMPARE(read->mappings.size(), 4);
        QVERIFY(read->mappings.at(1).fixed);
        QCOMPARE(read->mappings.at(1).source, QStringLiteral("Sales/EMEA"));

        const ProfileFit fit =
            fitProfile(*read, {"Email", "Company", "Town"}, {"COMPANY", "SOURCE", "FAX"});
        QCOMPARE(fit.taken.size(), 2);
        QCOMPARE(fit.refused,
                 QStringList({"Fax to FAX: the workbook has no column Fax.",
                              "Town to SHOESIZE: GoldMine has no contact field SHOESIZE."}));

        // Not a profile at all, or damaged: said, never half read.
        QFile other(dir.filePath(QStringLiteral("other.json")));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write("{\"mappings\": []}");
        other.close();
        QVERIFY(!readProfile(other.fileName()));
        QVERIFY(readProfile(other.fileName())
                    .error()
                    .message.contains(QStringLiteral("not a Ruvelo mapping profile")));
        QVERIFY(!readProfile(dir.filePath(QStringLiteral("missing.json"))));
    }
};

} // namespace

QTEST_GUILESS_MAIN(TestCheckAndReport)
#include "TestCheckAndReport.moc"
