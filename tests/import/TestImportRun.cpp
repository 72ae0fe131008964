#include "import/ImportRun.h"
#include "import/StoreFixture.h"
#include "mapping/EntryList.h"
#include "support/ScriptedPrompts.h"
#include "support/XlsxBuilder.h"

#include <QTemporaryDir>
#include <QTest>

using util::PromptIcon;
using namespace goldmine;
using namespace mapping;
using namespace import;

namespace {

class RecordingSink : public ImportSink
{
public:
    void appendLog(const QString &piece) override
    {
        log += piece;
        pieces.append(piece);
    }
    void setProgress(const QString &caption) override { progress.append(caption); }
    void processEvents() override { ++yields; }
    void setBusy(bool busy) override { busyChanges.append(busy); }

    QString log;
    QStringList pieces;
    QStringList progress;
    int yields = 0;
    QList<bool> busyChanges;
};

const QString CrLf = QStringLiteral("\r\n");

} // namespace

class TestImportRun : public QObject
{
    Q_OBJECT

    // One run against a fresh store; the workbook is written from rows.
    struct Harness
    {
        StoreFixture store;
        QTemporaryDir dir;
        ScriptedPrompts prompts;
        RecordingSink sink;
        ImportState state;
        EntryList entries;
        ImportOptions options;

        QString workbook(const QList<QVariantList> &rows)
        {
            QString path = dir.filePath(QStringLiteral("book.xlsx"));
            if (!writeXlsx(path, rows))
                return {};
            options.workbookPath = path;
            return path;
        }
        ImportSummary summary;
        ImportSummary run()
        {
            ImportRun importRun(store.api(), prompts, state, sink);
            summary = importRun.btnImport_Click(options,
                                                [this]() -> const EntryList & { return entries; });
            return summary;
        }
        // The front end shows this once a started run has ended.
        QString closing() const { return summary.started ? summary.closingText() : QString(); }
        int contacts() { return store.count(QStringLiteral("select count(*) from contact1")); }
        QString field(const QString &field, const QString &email)
        {
            return store.value(QStringLiteral("select c.%1 from contact1 c join contsupp s on "
                                              "s.accountno=c.accountno where s.contsupref='%2'")
                                   .arg(field, email));
        }
    };

private Q_SLOTS:
    void outcomeTable_data()
    {
        QTest::addColumn<bool>("match");
        QTest::addColumn<QString>("email");
        QTest::addColumn<bool>("update");
        QTest::addColumn<QString>("expectedLog");
        QTest::addColumn<int>("expectedContacts");
        QTest::addColumn<QString>("expectedCompany");

        // The store holds known@x.com at "Old Co"; the row carries "New Co".
        QTest::newRow("no match: new even when known")
            << false << "known@x.com" << false << "known@x.com Imported.\r\n"
            << 2 << "";
        QTest::newRow("match, empty e-mail: new") << true << "" << false << " Imported.\r\n"
                                                  << 2 << "";
        QTest::newRow("match, unknown: new")
            << true << "fresh@x.com" << true << "fresh@x.com Imported.\r\n"
            << 2 << "New Co";
        QTest::newRow("match, known, update")
            << true << "known@x.com" << true
            << "known@x.com already in database.known@x.com Updated.\r\n"
            << 1 << "New Co";
        QTest::newRow("match, known, no update")
            << true << "known@x.com" << false << "known@x.com already in database.\r\n"
            << 1 << "Old Co";
        QTest::newRow("match, known in other case")
            << true << "KNOWN@X.COM" << false << "KNOWN@X.COM already in database.\r\n"
            << 1 << "Old Co";
    }
    void outcomeTable()
    {
        QFETCH(bool, match);
        QFETCH(QString, email);
        QFETCH(bool, update);
        QFETCH(QString, expectedLog);
        QFETCH(int, expectedContacts);
        QFETCH(QString, expectedCompany);

        Harness h;
        QVERIFY(h.store.ok());
        QVERIFY(!h.store.addContact({{"Email", "known@x.com"}, {"Company", "Old Co"}}).isEmpty());
        QVERIFY(!h.workbook({{"Mail", "Firm"}, {email.isEmpty() ? QVariant() : email, "New Co"}})
                     .isEmpty());
        h.entries.addColumnEntry("Firm", "COMPANY");
        h.options.emailColumn = "Mail";
        h.options.match = match;
        h.options.updateMatches = update;

        const ImportSummary summary = h.run();
        QVERIFY(summary.started);
        QCOMPARE(h.sink.log, expectedLog);
        QCOMPARE(h.contacts(), expectedContacts);
        if (!email.isEmpty() && expectedContacts == 1)
            QCOMPARE(h.field("COMPANY", "known@x.com"), expectedCompany);
        if (email == "fresh@x.com")
            QCOMPARE(h.field("COMPANY", "fresh@x.com"), expectedCompany);
        QCOMPARE(h.closing(), QStringLiteral(" 1 records processed!"));
        QCOMPARE(h.sink.busyChanges, QList<bool>({true, false}));
    }

    void mixedRunLogAndGroup()
    {
        Harness h;
        QVERIFY(h.store.ok());
        h.store.addContact({{"Email", "a@x.com"}, {"Company", "A"}});
        h.workbook({{"Email", "Name"},
                    {" a @x.com ", "Ann"},
                    {"b@x.com", "Bob"},
                    {"a@x.com", "Ann again"},
                    {QVariant(), "Nobody"}});
        h.entries.addColumnEntry("Name", "CONTACT");
        h.options.emailColumn = "Email";
        h.options.updateMatches = true;
        h.options.group = true;
        h.options.groupName = "Spring fair";

        const ImportSummary summary = h.run();
        QCOMPARE(summary.rows, 4);
        QCOMPARE(summary.failedRows, 0);
        QCOMPARE(h.sink.log,
                 QStringLiteral("a@x.com already in database.a@x.com Updated....and added to "
                                "group.\r\n"
                                "b@x.com Imported.... and added to group.\r\n"
                                "a@x.com already in database.a@x.com Updated....and added to "
                                "group.\r\n"
                                " Imported.... and added to group.\r\n"));
        QCOMPARE(h.sink.progress, QStringList({" 2   b@x.com", " 4   "}));
        // Once per row at least; the lookups yield after each value they read too.
        QVERIFY(h.sink.yields >= 4);
        // The engine shows no box of its own; the closing text is the front end's.
        QVERIFY(h.prompts.messages().isEmpty());
        QCOMPARE(h.closing(), QStringLiteral(" 4 records processed!"));
        QCOMPARE(h.field("CONTACT", "a@x.com"), QStringLiteral("Ann again"));
        QCOMPARE(h.contacts(), 3);
        // One group, four memberships (the matched contact twice).
        QCOMPARE(h.store.count("select count(*) from contgrps where ref='Spring fair'"), 1);
        QCOMPARE(h.store.api().executeCount("AddContactGrpMembers"), 4);
        QCOMPARE(h.store.api().executeCount("CreateContactGroup"), 1);
        QCOMPARE(h.store.api().liveContainers(), 0);
    }

    void emptySheetStillMakesGroup()
    {
        Harness h;
        h.workbook({{"Email", "Name"}});
        h.options.emailColumn = "Email";
        h.options.group = true;
        h.options.groupName = "Empty";
        const ImportSummary summary = h.run();
        QVERIFY(summary.started);
        QCOMPARE(summary.rows, 0);
        QCOMPARE(h.sink.log, QString());
        QCOMPARE(h.closing(), QStringLiteral(" 0 records processed!"));
        QCOMPARE(h.store.api().executeCount("CreateContactGroup"), 1);
        QCOMPARE(h.store.api().executeCount("WriteContact"), 0);
    }

    void matchedWithoutUpdateJoinsGroupAndWritesNothing()
    {
        Harness h;
        h.store.addContact({{"Email", "a@x.com"}, {"Company", "Keep"}});
        h.workbook({{"Email", "Firm"}, {"a@x.com", ""}});
        h.entries.addColumnEntry("Firm", "COMPANY");
        h.options.emailColumn = "Email";
        h.options.group = true;
        h.options.groupName = "G";
        h.run();
        QCOMPARE(h.sink.log,
                 QStringLiteral("a@x.com already in database....and added to group.\r\n"));
        QCOMPARE(h.store.api().executeCount("WriteContact"), 1); // the seeded contact only
        QCOMPARE(h.field("COMPANY", "a@x.com"), QStringLiteral("Keep"));
        QVERIFY(h.sink.progress.isEmpty());
    }

    void updateOverwritesWithBlanks()
    {
        Harness h;
        h.store.addContact({{"Email", "a@x.com"}, {"Company", "Old"}, {"City", "Rome"}});
        h.workbook({{"Email", "Firm", "Town"}, {"a@x.com", QVariant(), "Oslo"}});
        h.entries.addColumnEntry("Firm", "COMPANY");
        h.entries.addColumnEntry("Town", "CITY");
        h.options.emailColumn = "Email";
        h.options.updateMatches = true;
        h.run();
        QCOMPARE(h.field("COMPANY", "a@x.com"), QString());
        QCOMPARE(h.field("CITY", "a@x.com"), QStringLiteral("Oslo"));
    }

    void customEntriesAndNotes()
    {
        Harness h;
        h.workbook({{"Email", "Remark", "Other"},
                    {"a@x.com", "first note", "x"},
                    {"b@x.com", QVariant(), "y"},
                    {"c@x.com", "third note", "z"}});
        h.entries.addColumnEntry("Other", "CITY");
        h.entries.makeCustom(0, "Lead/Fair"); // fixed "LeadFair" into CITY
        h.entries.addColumnEntry("Remark", "Notes");
        h.options.emailColumn = "Email";
        h.run();
        QCOMPARE(h.field("CITY", "a@x.com"), QStringLiteral("Lead/Fair"));
        QCOMPARE(h.field("CITY", "c@x.com"), QStringLiteral("Lead/Fair"));
        // Row b has an empty notes cell: no notes write, and a's note does not carry over.
        QCOMPARE(h.store.api().executeCount("WriteContactNotes"), 2);
        QCOMPARE(h.field("NOTES", "b@x.com"), QString());
        QCOMPARE(h.field("NOTES", "c@x.com"), QStringLiteral("third note"));
    }

    void twoNotesEntriesLaterWins()
    {
        Harness h;
        h.workbook({{"Email", "N1", "N2"}, {"a@x.com", "one", "two"}});
        h.entries.addColumnEntry("N1", "NOTES");
        h.entries.addColumnEntry("N2", "notes");
        h.options.emailColumn = "Email";
        h.run();
        QCOMPARE(h.store.api().executeCount("WriteContactNotes"), 1);
        QCOMPARE(h.field("NOTES", "a@x.com"), QStringLiteral("two"));
    }

    void customNotesEntryGivesItsFixedText()
    {
        Harness h;
        h.workbook({{"Email"}, {"a@x.com"}});
        h.entries.addColumnEntry("ignored", "NOTES");
        h.entries.makeCustom(0, "met at the fair");
        h.options.emailColumn = "Email";
        h.run();
        QCOMPARE(h.store.api().executeCount("WriteContactNotes"), 1);
        QCOMPARE(h.field("NOTES", "a@x.com"), QStringLiteral("met at the fair"));
    }

    void emailSpacesRemovedOtherWhiteSpaceKept()
    {
        Harness h;
        const QString nbsp(QChar(0x00A0));
        h.workbook({{"Email"}, {"  jo hn@x.com  "}, {"tab\t@x.com"}, {"nb" + nbsp + "sp@x.com"}});
        h.options.emailColumn = "Email";
        h.options.match = false;
        h.run();
        QCOMPARE(h.sink.log, "john@x.com Imported.\r\ntab\t@x.com Imported.\r\nnb" + nbsp +
                                 "sp@x.com Imported.\r\n");
        QCOMPARE(h.store.count("select count(*) from contsupp where contsupref='john@x.com'"), 1);
    }

    void refusedWriteIsReported()
    {
        Harness h;
        h.store.addContact({{"Email", "known@x.com"}});
        h.workbook({{"Email"}, {"a@x.com"}, {"known@x.com"}, {"c@x.com"}});
        h.options.emailColumn = "Email";
        h.options.updateMatches = true;
        h.options.group = true;
        h.options.groupName = "G";
        // The seed was call 1; rows a, known, c are calls 2, 3, 4: a and known fail.
        h.store.api().failExecute("WriteContact", 2, -8);
        h.store.api().failExecute("AddContactGrpMembers", 1, -7);
        const ImportSummary summary = h.run();
        QCOMPARE(summary.failedRows, 3);
        QCOMPARE(h.sink.log,
                 QStringLiteral(
                     "a@x.com NOT imported (WriteContact failed with GoldMine result -8: a value "
                     "the call needs is missing).\r\n"
                     "known@x.com already in database.known@x.com NOT updated (WriteContact failed "
                     "with GoldMine result -8: a value the call needs is missing)....but NOT added "
                     "to group (AddContactGrpMembers failed with GoldMine result -7: the group "
                     "does not exist).\r\n"
                     "c@x.com NOT imported (WriteContact failed with GoldMine result -8: a value "
                     "the call needs is missing).\r\n"));
        // A contact that was not created gets no notes and no membership attempt.
        QCOMPARE(h.store.api().executeCount("AddContactGrpMembers"), 1);
        QCOMPARE(h.closing(),
                 QStringLiteral(" 3 records processed!\n 3 of them failed; see the log."));
    }

    void failedNotesAndGroupCreation()
    {
        Harness h;
        h.workbook({{"Email", "Remark"}, {"a@x.com", "hello"}});
        h.entries.addColumnEntry("Remark", "NOTES");
        h.options.emailColumn = "Email";
        h.options.group = true;
        h.options.groupName = "G";
        h.store.api().failExecute("WriteContactNotes", 1, -6);
        h.store.api().failExecute("CreateContactGroup", 1, -4);
        const ImportSummary summary = h.run();
        QCOMPARE(summary.failedRows, 1);
        QCOMPARE(h.sink.log,
                 QStringLiteral("Group \"G\" NOT made (CreateContactGroup failed with GoldMine "
                                "result -4: a field is unknown).\r\n"
                                "a@x.com Imported, but its notes were NOT written "
                                "(WriteContactNotes failed with GoldMine result -6: the contact "
                                "does not exist).... but NOT added to group (CreateContactGroup "
                                "failed with GoldMine result -4: a field is unknown).\r\n"));
        QCOMPARE(h.store.api().executeCount("AddContactGrpMembers"), 0);
    }

    void failedLookupStopsTheRun()
    {
        Harness h;
        h.workbook({{"Email"}, {"a@x.com"}, {"b@x.com"}, {"c@x.com"}, {"d@x.com"}});
        h.options.emailColumn = "Email";
        // Row a: e-mail and account lookups (queries 1, 2); row b's e-mail lookup fails.
        h.store.api().failQueriesFrom(3, 0);
        const ImportSummary summary = h.run();
        QVERIFY(summary.stopped);
        QCOMPARE(summary.rows, 2);
        h.store.api().failQueriesFrom(0, 0); // GoldMine answers again, for the checks
        QCOMPARE(h.contacts(), 1);
        QVERIFY(h.sink.log.endsWith("b@x.com NOT imported (the e-mail lookup failed, so the import "
                                    "stopped at row 2).\r\n"));
        const auto boxes = h.prompts.messages();
        QCOMPARE(boxes.size(), 1); // the lookup's own message
        QCOMPARE(boxes.first().title, QStringLiteral("GoldMine Email Record Seek -- Error"));
        // The closing message says the run stopped, and why.
        QCOMPARE(h.closing(),
                 QStringLiteral(" 2 records processed!\n 1 of them failed; see the log.\nThe "
                                "import stopped at row 2: the e-mail lookup failed."));
    }

    void cutAnswerStopsTheRun()
    {
        // An e-mail answer that breaks off tells nothing: the row is not
        // written as new, and the run stops there as for a failed query.
        Harness h;
        h.workbook({{"Email"}, {"a@x.com"}, {"b@x.com"}, {"c@x.com"}});
        h.options.emailColumn = "Email";
        h.store.api().cutAnswersFrom(3);
        const ImportSummary summary = h.run();
        QVERIFY(summary.stopped);
        QCOMPARE(summary.rows, 2);
        h.store.api().cutAnswersFrom(0);
        QCOMPARE(h.contacts(), 1);
        QVERIFY(h.sink.log.endsWith("b@x.com NOT imported (the e-mail lookup failed, so the import "
                                    "stopped at row 2).\r\n"));
        QVERIFY(h.prompts.messages().isEmpty()); // no message: the log says it
        // The closing message says the run stopped, and why.
        QCOMPARE(h.closing(),
                 QStringLiteral(" 2 records processed!\n 1 of them failed; see the log.\nThe "
                                "import stopped at row 2: the e-mail lookup failed."));
    }

    void missingColumnsStopBeforeAnything()
    {
        Harness h;
        h.workbook({{"Email", "Name"}, {"a@x.com", "Ann"}});
        h.entries.addColumnEntry("Company", "COMPANY");
        h.entries.addColumnEntry("Name", "CONTACT");
        h.entries.addColumnEntry("Phone", "PHONE1");
        h.options.emailColumn = "E-mail";
        h.options.group = true;
        const ImportSummary summary = h.run();
        QVERIFY(!summary.started);
        const auto boxes = h.prompts.messages();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().title, QStringLiteral("Data Error"));
        QCOMPARE(boxes.first().icon, PromptIcon::Critical);
        for (const char *name : {"E-mail", "Company", "Phone"})
            QVERIFY2(boxes.first().text.contains(QLatin1String(name)), name);
        QVERIFY(!boxes.first().text.contains("Name"));
        QCOMPARE(h.store.api().executeCount("CreateContactGroup"), 0);
        QCOMPARE(h.contacts(), 0);
        QCOMPARE(h.sink.busyChanges, QList<bool>({true, false}));
    }

    void workbookThatCannotBeOpened_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing file") << "absent.xlsx";
        QTest::newRow("not a workbook ending") << "book.txt";
        QTest::newRow("empty path") << "";
    }
    void workbookThatCannotBeOpened()
    {
        QFETCH(QString, name);
        Harness h;
        h.options.workbookPath = name.isEmpty() ? name : h.dir.filePath(name);
        h.options.group = true;
        const ImportSummary summary = h.run();
        QVERIFY(!summary.started);
        const auto boxes = h.prompts.messages();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().title, QStringLiteral("Data Error"));
        QVERIFY(boxes.first().text.startsWith("Can't find the specified file!"));
        QVERIFY(boxes.first().text.size() >
                QStringLiteral("Can't find the specified file!").size());
        QCOMPARE(h.store.api().executeCount("CreateContactGroup"), 0);
        QCOMPARE(h.sink.busyChanges, QList<bool>({true, false}));
    }

    void apostropheAddressMatches()
    {
        Harness h;
        h.store.addContact({{"Email", "o'brien@x.com"}});
        h.workbook({{"Email"}, {"O'Brien@x.com"}});
        h.options.emailColumn = "Email";
        h.run();
        QCOMPARE(h.sink.log, QStringLiteral("O'Brien@x.com already in database.\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestImportRun)
#include "TestImportRun.moc"
