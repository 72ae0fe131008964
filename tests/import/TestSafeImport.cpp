#include "Builders.h"
#include "goldmine/ApiText.h"
#include "goldmine/ImportLock.h"
#include "goldmine/Startup.h"
#include "import/ImportRun.h"
#include "import/StoreFixture.h"
#include "mapping/EntryList.h"
#include "support/ScriptedPrompts.h"
#include "support/XlsxBuilder.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

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
    QString log;
};

// What an operator would see go wrong with real data: nothing merged,
// duplicated, overwritten or cut. Every outcome is read back from the store.
class TestSafeImport : public QObject
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
        ImportSummary summary;

        Harness() { options.emailColumn = QStringLiteral("Email"); }

        void workbook(const QList<QVariantList> &rows)
        {
            options.workbookPath = dir.filePath(QStringLiteral("book.xlsx"));
            QVERIFY(writeXlsx(options.workbookPath, rows));
        }
        // A workbook whose cells are given as sheet XML, for what no writer
        // library will put in a cell (a NUL, stored as _x0000_).
        void rawWorkbook(const QByteArray &sheetData)
        {
            builders::Xlsx book;
            book.sheets = {{QStringLiteral("Sheet1"), sheetData}};
            options.workbookPath = dir.filePath(QStringLiteral("raw.xlsx"));
            QFile file(options.workbookPath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(book.build());
        }
        ImportSummary run(goldmine::ImportLock *lock = nullptr)
        {
            ImportRun importRun(store.api(), prompts, state, sink);
            importRun.setLock(lock);
            summary = importRun.btnImport_Click(options,
                                                [this]() -> const EntryList & { return entries; });
            return summary;
        }
        int contacts() { return store.count(QStringLiteral("select count(*) from contact1")); }
        // The field of the contact whose e-mail record holds the whole address.
        QString field(const QString &field, const QString &email)
        {
            const QString reference = email.left(35);
            const QString rest = email.mid(35);
            return store.value(QStringLiteral("select c.%1 from contact1 c join contsupp s on "
                                              "s.accountno=c.accountno where s.contsupref='%2' "
                                              "and s.address1='%3'")
                                   .arg(field, reference, rest));
        }
    };

    static QByteArray inlineCell(const char *reference, const QByteArray &text)
    {
        return QByteArray("<c r=\"") + reference + "\" t=\"inlineStr\"><is><t>" + text +
               "</t></is></c>";
    }

private Q_SLOTS:
    void addressesSharingTheirFirst35CharactersStayTwoContacts()
    {
        const QString prefix = QStringLiteral("firstname.lastname.department@examp"); // 35
        QCOMPARE(prefix.size(), 35);
        const QString one = prefix + QStringLiteral("le.com");
        const QString two = prefix + QStringLiteral("le.org");
        Harness h;
        h.workbook({{"Email", "Company"}, {one, "One Ltd"}, {two, "Two Ltd"}});
        h.entries.addColumnEntry(QStringLiteral("Company"), QStringLiteral("COMPANY"));
        h.options.updateMatches = true;
        h.run();
        QVERIFY2(h.prompts.messages().isEmpty(), qPrintable(h.prompts.messages().value(0).title));
        QCOMPARE(h.contacts(), 2);
        // A second run with update on matches each row to its own contact.
        h.workbook({{"Email", "Company"}, {one, "One again"}, {two, "Two again"}});
        h.run();
        QCOMPARE(h.contacts(), 2);
        QCOMPARE(h.field(QStringLiteral("COMPANY"), one), QStringLiteral("One again"));
        QCOMPARE(h.field(QStringLiteral("COMPANY"), two), QStringLiteral("Two again"));
        QVERIFY(h.sink.log.contains(two + QStringLiteral(" already in database.")));
    }

    void addressesBeyondTheBasicPlaneMatchAgain()
    {
        // Twenty emoji are 40 UTF-16 code units but 20 characters to the API.
        QString address;
        for (int i = 0; i < 20; ++i)
            address += QString::fromUcs4(U"\U0001F600");
        address += QStringLiteral("@x.org");
        Harness h;
        h.workbook({{"Email", "Company"}, {address, "Smiles"}});
        h.entries.addColumnEntry(QStringLiteral("Company"), QStringLiteral("COMPANY"));
        h.run();
        h.run();
        QCOMPARE(h.contacts(), 1);
        QVERIFY2(h.sink.log.endsWith(address + QStringLiteral(" already in database.\r\n")),
                 qPrintable(h.sink.log));
    }

    void bothSidesOfTheApiCountCharactersAlike()
    {
        const QString emoji = QString::fromUcs4(U"\U0001F600");
        // The importer: a character outside the Basic Multilingual Plane is one.
        QCOMPARE(apiCharacterCount(emoji.repeated(40)), 40);
        const auto [head, tail] = splitAtApiCharacter(QStringLiteral("ab") + emoji.repeated(3), 3);
        QCOMPARE(head, QStringLiteral("ab") + emoji);
        QCOMPARE(tail, emoji.repeated(2));
        // The library: COMPANY holds 40 such characters and refuses 41.
        Harness h;
        QVERIFY(!h.store.addContact({{"Email", "fits@x.org"}, {"Company", emoji.repeated(40)}})
                     .isEmpty());
        QVERIFY(h.store.addContact({{"Email", "over@x.org"}, {"Company", emoji.repeated(41)}})
                    .isEmpty());
    }

    void nulCharactersAreRemovedAndSaid()
    {
        Harness h;
        h.rawWorkbook("<row r=\"1\">" + inlineCell("A1", "Email") + inlineCell("B1", "Company") +
                      "</row><row r=\"2\">" + inlineCell("A2", "nul_x0000_@x.org") +
                      inlineCell("B2", "Before_x0000_After") + "</row><row r=\"3\">" +
                      inlineCell("A3", "plain@x.org") + inlineCell("B3", "Plain") + "</row>");
        h.entries.addColumnEntry(QStringLiteral("Company"), QStringLiteral("COMPANY"));
        const ImportSummary summary = h.run();
        QVERIFY(!summary.stopped);
        QCOMPARE(h.contacts(), 2);
        QCOMPARE(h.field(QStringLiteral("COMPANY"), QStringLiteral("nul@x.org")),
                 QStringLiteral("BeforeAfter"));
        QCOMPARE(h.sink.log, QStringLiteral("nul@x.org Imported. (NUL characters removed from "
                                            "Email, Company)\r\nplain@x.org Imported.\r\n"));
    }

    void keyAndUnknownFieldsAreRefused_data()
    {
        QTest::addColumn<QString>("field");
        QTest::newRow("record id") << "RECID";
        QTest::newRow("account number") << "ACCOUNTNO";
        QTest::newRow("no such field") << "SHOESIZE";
    }
    void keyAndUnknownFieldsAreRefused()
    {
        QFETCH(QString, field);
        Harness h;
        const QString known = h.store.addContact({{"Email", "known@x.org"}, {"Company", "Keep"}});
        h.workbook({{"Email", "Id"}, {"known@x.org", "x"}, {"new@x.org", known}});
        h.entries.addColumnEntry(QStringLiteral("Id"), field);
        h.options.updateMatches = true;
        h.options.group = true;
        h.options.groupName = QStringLiteral("Never");
        const ImportSummary summary = h.run();
        QVERIFY(!summary.started);
        const auto boxes = h.prompts.messages();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().text.contains(field), qPrintable(boxes.first().text));
        QCOMPARE(h.contacts(), 1);
        QCOMPARE(h.field(QStringLiteral("COMPANY"), QStringLiteral("known@x.org")),
                 QStringLiteral("Keep"));
        QCOMPARE(h.store.count(QStringLiteral("select count(*) from contgrps")), 0);
        QVERIFY(h.sink.log.isEmpty());
    }

    void valuesTooLongForTheirFieldAreNamed()
    {
        Harness h;
        const QString longAddress = QString(70, QLatin1Char('a')) + QStringLiteral("@x.org"); // 76
        h.workbook({{"Email", "Company", "Town"},
                    {"long@x.org", QString(41, QLatin1Char('c')), "Oslo"},
                    {longAddress, "Fine", "Rome"},
                    {"ok@x.org", QString(40, QLatin1Char('c')), "Bergen"}});
        h.entries.addColumnEntry(QStringLiteral("Company"), QStringLiteral("COMPANY"));
        h.entries.addColumnEntry(QStringLiteral("Town"), QStringLiteral("CITY"));
        const ImportSummary summary = h.run();
        QCOMPARE(summary.failedRows, 2);
        QCOMPARE(h.sink.log,
                 QStringLiteral("long@x.org NOT imported (Company: 41 characters, COMPANY holds "
                                "40).\r\n") +
                     longAddress +
                     QStringLiteral(" NOT imported (Email: 76 characters, the e-mail record "
                                    "holds 75).\r\nok@x.org Imported.\r\n"));
        QCOMPARE(h.contacts(), 1);
        // Nothing was sent for the refused rows.
        QCOMPARE(h.store.api().executeCount(QStringLiteral("WriteContact")), 1);
    }

    void fixedTextTooLongStopsBeforeAnything()
    {
        Harness h;
        h.workbook({{"Email"}, {"a@x.org"}});
        h.entries.addCustomEntry(QString(41, QLatin1Char('f')), QStringLiteral("COMPANY"));
        const ImportSummary summary = h.run();
        QVERIFY(!summary.started);
        QVERIFY(h.prompts.messages().first().text.contains(
            QStringLiteral("41 characters; COMPANY holds 40")));
        QCOMPARE(h.contacts(), 0);
    }

    void fixedTextsKeepTheirSlashes()
    {
        Harness h;
        h.workbook({{"Email"}, {"a@x.org"}});
        h.entries.addCustomEntry(QStringLiteral("Sales/EMEA"), QStringLiteral("COMPANY"));
        h.entries.addCustomEntry(QStringLiteral("/Fair/2026/"), QStringLiteral("SOURCE"));
        h.run();
        QCOMPARE(h.field(QStringLiteral("COMPANY"), QStringLiteral("a@x.org")),
                 QStringLiteral("Sales/EMEA"));
        QCOMPARE(h.field(QStringLiteral("SOURCE"), QStringLiteral("a@x.org")),
                 QStringLiteral("/Fair/2026/"));
    }

    void rerunTheSameDayAddsNoNotes()
    {
        Harness h;
        h.workbook({{"Email", "Remark"}, {"a@x.org", "Met at the fair"}, {"b@x.org", "Call back"}});
        h.entries.addColumnEntry(QStringLiteral("Remark"), QStringLiteral("NOTES"));
        h.options.updateMatches = true;
        h.run();
        QCOMPARE(h.store.count(QStringLiteral("select count(*) from notes")), 2);
        h.sink.log.clear();
        h.run();
        QCOMPARE(h.store.count(QStringLiteral("select count(*) from notes")), 2);
        QCOMPARE(h.sink.log, QStringLiteral("a@x.org already in database.a@x.org Updated. (notes "
                                            "already there)\r\nb@x.org already in "
                                            "database.b@x.org Updated. (notes already there)\r\n"));
        // A changed note is new: it is written.
        h.workbook({{"Email", "Remark"}, {"a@x.org", "Met at the fair, twice"}});
        h.run();
        QCOMPARE(h.store.count(QStringLiteral("select count(*) from notes")), 3);
    }

    void lockedDatabaseStopsAtTheFirstRow()
    {
        Harness h;
        h.workbook({{"Email"}, {"a@x.org"}, {"b@x.org"}, {"c@x.org"}});
        // Another program holds the database's write lock for the whole run.
        sqlite3 *other = nullptr;
        const QByteArray file = (h.store.directory() + QStringLiteral("/store/common.db")).toUtf8();
        QCOMPARE(sqlite3_open(file.constData(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        const ImportSummary summary = h.run();
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QVERIFY(summary.stopped);
        QCOMPARE(summary.rows, 1);
        const QStringList lines = h.sink.log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.last(), QStringLiteral("The import stopped at row 1: the GoldMine "
                                              "database failed (GoldMine result -10: another "
                                              "program keeps the database locked)."));
        QVERIFY(h.summary.closingText().contains(QStringLiteral("The import stopped at row 1")));
        QCOMPARE(h.contacts(), 0);
    }

    void fiveFailuresInARowWithOneResultStop()
    {
        Harness h;
        QList<QVariantList> rows{{"Email"}};
        for (int i = 1; i <= 8; ++i)
            rows.append({QStringLiteral("p%1@x.org").arg(i)});
        h.workbook(rows);
        // An undocumented code, as the real library may give.
        h.store.api().failExecute(QStringLiteral("WriteContact"), 1, -77);
        const ImportSummary summary = h.run();
        QVERIFY(summary.stopped);
        QCOMPARE(summary.rows, 5);
        QVERIFY2(h.sink.log.endsWith(QStringLiteral("The import stopped at row 5: 5 rows in a row "
                                                    "failed with GoldMine result -77.\r\n")),
                 qPrintable(h.sink.log));
    }

    void anotherImportHoldingTheDatabaseIsRefused()
    {
        Harness h;
        h.workbook({{"Email"}, {"a@x.org"}});
        ConnectionSettings settings;
        settings.sSysDir = h.store.directory();
        settings.sCommonDir = QStringLiteral("Common:");
        settings.sUserName = QStringLiteral("ANN");
        const auto first = makeImportLock(settings);
        QVERIFY(first->acquire());
        settings.sUserName = QStringLiteral("BOB");
        const auto second = makeImportLock(settings);
        const ImportSummary summary = h.run(second.get());
        QVERIFY(!summary.started);
        const QString text = h.prompts.messages().value(0).text;
        QVERIFY2(text.startsWith(QStringLiteral("Another import into this GoldMine database is "
                                                "running (ANN, since ")),
                 qPrintable(text));
        QCOMPARE(h.contacts(), 0);
        // Once the first run lets go, the next one runs.
        first->release();
        QVERIFY(h.run(second.get()).started);
        QCOMPARE(h.contacts(), 1);

        // A system directory this machine cannot see (the API library runs
        // elsewhere) still keeps this machine's runs apart.
        settings.sSysDir = QStringLiteral("Z:\\GoldMine\\Sys");
        const auto elsewhere = makeImportLock(settings);
        const auto again = makeImportLock(settings);
        QVERIFY(elsewhere->acquire());
        const goldmine::Result<void> refused = again->acquire();
        QVERIFY(!refused);
        QCOMPARE(refused.error().code, goldmine::ErrorCode::ImportRunning);
        elsewhere->release();
        QVERIFY(again->acquire());
    }

    // A run refused just after another took the lock, before that one wrote
    // its note, still names the holder.
    void refusalNamesAHolderThatIsStillWritingItsNote()
    {
        StoreFixture store;
        const QByteArray path =
            QFile::encodeName(store.directory() + QStringLiteral("/ruvelo-import.common_.lock"));
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        const QByteArray note =
            "ANN\n" + QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + '\n';
        std::thread holder([fd, note] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (::pwrite(fd, note.constData(), size_t(note.size()), 0) != note.size())
                std::abort();
        });
        ConnectionSettings settings;
        settings.sSysDir = store.directory();
        settings.sCommonDir = QStringLiteral("Common:");
        settings.sUserName = QStringLiteral("BOB");
        const goldmine::Result<void> refused = makeImportLock(settings)->acquire();
        holder.join();
        ::close(fd);
        QVERIFY(!refused);
        QVERIFY2(refused.error().message.contains(QStringLiteral("(ANN, since ")),
                 qPrintable(refused.error().message));
    }

    void ambiguousColumnNamesAreRefused()
    {
        Harness h;
        h.workbook({{"Email", "EMAIL", "Company"}, {"a@x.org", "b@x.org", "A"}});
        h.options.emailColumn = QStringLiteral("email");
        const ImportSummary summary = h.run();
        QVERIFY(!summary.started);
        const QString text = h.prompts.messages().value(0).text;
        QVERIFY2(text.contains(QStringLiteral("Email, EMAIL")), qPrintable(text));
        QCOMPARE(h.contacts(), 0);
        // The exact name is no guess.
        h.prompts.clear();
        h.options.emailColumn = QStringLiteral("EMAIL");
        QVERIFY(h.run().started);
        QCOMPARE(h.field(QStringLiteral("ACCOUNTNO"), QStringLiteral("b@x.org")).isEmpty(), false);
    }
};

} // namespace

QTEST_GUILESS_MAIN(TestSafeImport)
#include "TestSafeImport.moc"
