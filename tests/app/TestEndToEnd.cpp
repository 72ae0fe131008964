// The main window as the operator drives it, against a real GoldMine client
// stand-in (gmclient serve), the real API library and real workbook files.

#include "app/FrmMain.h"
#include "goldmine/DdeLink.h"
#include "goldmine/LibraryGoldMineApi.h"
#include "mapping/EntryList.h"
#include "mapping/FrmMappings.h"
#include "support/ScriptedPrompts.h"
#include "support/XlsxBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sqlite3.h>

#include <QDirIterator>

#include <cstdio>
#include <unistd.h>

using util::PromptIcon;
using namespace goldmine;
using namespace mapping;
using namespace app;

namespace {

const QString kBinDir = QStringLiteral(RUVELO_BIN_DIR);
const QString kPassword = QStringLiteral("fair & square");

// A private runtime directory for the DDE sockets, and the client serving in it.
class Client
{
public:
    Client(const QString &runtimeDirectory, const QString &store, const QStringList &extra = {})
        : m_runtime(runtimeDirectory)
    {
        QDir().mkpath(m_runtime);
        QFile::setPermissions(m_runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime));
        if (store.isEmpty())
            return;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime);
        m_process.setProcessEnvironment(environment);
        m_process.start(kBinDir + QStringLiteral("/gmclient"),
                        QStringList{QStringLiteral("serve"), store} + extra);
        QByteArray out;
        while (m_process.waitForReadyRead(10000)) {
            out += m_process.readAllStandardOutput();
            if (out.contains("serving")) {
                m_serving = true;
                break;
            }
        }
    }
    ~Client()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
        }
    }
    bool serving() const { return m_serving; }

private:
    QString m_runtime;
    QProcess m_process;
    bool m_serving = false;
};

// Reads what landed in the store's contact database.
class StoreReader
{
public:
    explicit StoreReader(const QString &store)
    {
        const QByteArray path = QFile::encodeName(store + QStringLiteral("/common.db"));
        if (sqlite3_open_v2(path.constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(m_db);
            m_db = nullptr;
        }
    }
    ~StoreReader() { sqlite3_close(m_db); }
    bool ok() const { return m_db != nullptr; }

    QList<QStringList> select(const QString &sql, const QStringList &arguments = {}) const
    {
        QList<QStringList> rows;
        sqlite3_stmt *statement = nullptr;
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(m_db, text.constData(), -1, &statement, nullptr) != SQLITE_OK) {
            qWarning("%s: %s", text.constData(), sqlite3_errmsg(m_db));
            return rows;
        }
        for (int index = 0; index < arguments.size(); ++index) {
            const QByteArray value = arguments.at(index).toUtf8();
            sqlite3_bind_text(statement, index + 1, value.constData(), int(value.size()),
                              SQLITE_TRANSIENT);
        }
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
    QString accountOf(const QString &email) const
    {
        const QList<QStringList> rows =
            select(QStringLiteral("SELECT ACCOUNTNO FROM CONTSUPP WHERE CONTSUPREF = ?"), {email});
        return rows.size() == 1 ? rows.first().first() : QString();
    }

private:
    sqlite3 *m_db = nullptr;
};

// The real API library, with a look at every business-logic call.
class WatchedApi : public LibraryGoldMineApi
{
public:
    using LibraryGoldMineApi::LibraryGoldMineApi;
    std::function<void(const QString &)> onExecute;
    int32_t GMW_Execute(const QString &callName, int32_t container) override
    {
        const int32_t result = LibraryGoldMineApi::GMW_Execute(callName, container);
        if (onExecute)
            onExecute(callName);
        return result;
    }
};

struct Operator
{
    ScriptedPrompts prompts;
    LibraryGoldMineApi api{kBinDir + QStringLiteral("/libgm7s32.so")};
    DdeLink link;
    ConnectionSettings settings;
    FrmMain form{api, prompts};
    QString toChoose;
    int endCalls = 0;

    Operator()
    {
        form.setFileChooser([this](QWidget *) { return toChoose; });
        form.setEndProgram([this] { ++endCalls; });
    }
    template <typename T> T *get(const char *name)
    {
        return form.findChild<T *>(QString::fromLatin1(name));
    }
};

template <typename T> T *child(QWidget &parent, const char *name)
{
    return parent.findChild<T *>(QString::fromLatin1(name));
}

void pick(FrmMappings &window, const char *list, const QString &text)
{
    auto *widget = child<QListWidget>(window, list);
    const QList<QListWidgetItem *> found = widget->findItems(text, Qt::MatchExactly);
    QVERIFY2(found.size() == 1, qPrintable(text));
    widget->setCurrentItem(found.first());
}

void map(FrmMappings &window, const QString &column, const QString &field)
{
    pick(window, "lstExcel", column);
    pick(window, "lstGoldMine", field);
    child<QPushButton>(window, "btnMap")->click();
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_store;

    // "gmclient init" of a store for MASTER with the given password; its
    // standard output and error go to *output when asked for.
    static bool makeStore(const QString &store, const QByteArray &password,
                          QByteArray *output = nullptr)
    {
        QProcess init;
        init.start(
            kBinDir + QStringLiteral("/gmclient"),
            {QStringLiteral("init"), store, QStringLiteral("--user"), QStringLiteral("MASTER")});
        if (!init.waitForStarted())
            return false;
        init.write(password + '\n');
        init.closeWriteChannel();
        const bool finished = init.waitForFinished(60000);
        const QByteArray errors = init.readAllStandardError();
        if (output)
            *output = init.readAllStandardOutput() + errors;
        if (finished && init.exitCode() != 0)
            qWarning("gmclient init: %s", errors.constData());
        return finished && init.exitCode() == 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFile::exists(kBinDir + QStringLiteral("/gmclient")), "gmclient is not built");
        m_store = m_dir.filePath(QStringLiteral("store"));
        QVERIFY(makeStore(m_store, kPassword.toUtf8()));
    }

    void startUpFailures_data()
    {
        QTest::addColumn<bool>("serve");
        QTest::addColumn<QStringList>("serveOptions");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("asksPassword");
        QTest::addColumn<QString>("message");
        QTest::addColumn<PromptIcon>("icon");
        QTest::addColumn<QString>("title");
        QTest::newRow("GoldMine not running")
            << false << QStringList() << kPassword << false
            << "GoldMine is not running!  Please launch GoldMine before attempting to run this "
               "operation."
            << PromptIcon::Critical << "DDE Error";
        QTest::newRow("GoldMine 6")
            << true << QStringList{"--golddir", "C:\\GOLDMINE\\"} << kPassword << true
            << "Sorry, GoldMine 6 and older are NOT supported.." << PromptIcon::Critical
            << "Ruvelo";
        QTest::newRow("wrong password")
            << true << QStringList() << "guess" << true
            << "Error#: -4\n\rGoldMine API cannot validate the GoldMine username/password."
            << PromptIcon::None << "Ruvelo";
    }
    void startUpFailures()
    {
        QFETCH(bool, serve);
        QFETCH(QStringList, serveOptions);
        QFETCH(QString, password);
        QFETCH(bool, asksPassword);
        QFETCH(QString, message);
        QFETCH(PromptIcon, icon);
        QFETCH(QString, title);
        Client client(m_dir.filePath(QStringLiteral("run-") + QTest::currentDataTag()),
                      serve ? m_store : QString(), serveOptions);
        QCOMPARE(client.serving(), serve);
        Operator op;
        op.prompts.answerInput(password);
        QCOMPARE(op.form.Form_Load(op.link, op.settings), StartupOutcome::EndProgram);
        const QList<ScriptedPrompts::Shown> shown = op.prompts.shown();
        QCOMPARE(shown.size(), asksPassword ? 2 : 1);
        if (asksPassword) {
            QCOMPARE(shown.first().text, QStringLiteral("GoldMine Password for MASTER: "));
            QCOMPARE(shown.first().title, QStringLiteral("Authenticate"));
        }
        QCOMPARE(shown.last().text, message);
        QCOMPARE(shown.last().icon, icon);
        QCOMPARE(shown.last().title, title);
        QVERIFY(!op.form.isVisible());
    }

    void operatorImportsAWorkbook()
    {
        Client client(m_dir.filePath(QStringLiteral("run")), m_store);
        QVERIFY(client.serving());
        Operator op;
        op.prompts.answerInput(kPassword);
        QCOMPARE(op.form.Form_Load(op.link, op.settings), StartupOutcome::Ready);
        QCOMPARE(op.prompts.shown().size(), 1);
        op.prompts.clear();
        op.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&op.form));

        // Two contacts GoldMine knows already, written as GoldMine would.
        for (const auto &[email, name] :
             {std::pair{"old1@example.com", "Old One"}, std::pair{"old2@example.com", "Old Two"}}) {
            const int32_t container = op.api.GMW_NV_Create();
            op.api.GMW_NV_SetValue(container, QStringLiteral("Email"), QString::fromLatin1(email));
            op.api.GMW_NV_SetValue(container, QStringLiteral("CONTACT"), QString::fromLatin1(name));
            op.api.GMW_NV_SetValue(container, QStringLiteral("CITY"), QStringLiteral("Old Town"));
            QVERIFY(op.api.GMW_Execute(QStringLiteral("WriteContact"), container) >= 0);
        }

        const QString book = m_dir.filePath(QStringLiteral("fair.xlsx"));
        QVERIFY(writeXlsx(
            book,
            QList<QVariantList>{
                {"Company", "Name", "Email", "Phone", "Town", "Remarks", "Source"},
                {"Acme", "Ann New", " ann@example.com ", "555-1", "Leeds", "Met at the fair", "x"},
                {"Old Co", "Old One Renamed", "old1@example.com", "555-2", "York", QVariant(), "x"},
                {"Bob Ltd", "Bob New", "bob@ example.com", QVariant(), "Cork", "Call back", "x"},
                {"Two Co", "Old Two", "old2@example.com", "555-4", "Bath", "Renewal due", "x"},
            }));

        // Browse, then pick the e-mail column.
        op.toChoose = book;
        op.get<QPushButton>("btnBrowse")->click();
        QCOMPARE(op.get<QLineEdit>("txtFilename")->text(), book);
        auto *emailColumn = op.get<QComboBox>("cmbEmailCol");
        QCOMPARE(emailColumn->count(), 7);
        emailColumn->setCurrentIndex(emailColumn->findText(QStringLiteral("Email")));

        // Map fields, with a preselected field, and one custom entry.
        QStringList goldMineFields;
        QTimer poll;
        poll.setInterval(0);
        QObject::connect(&poll, &QTimer::timeout, &op.form, [&] {
            FrmMappings *window = op.form.mappingWindow();
            if (!window || !window->isVisible())
                return; // still filling its lists
            poll.stop();
            auto *fields = child<QListWidget>(*window, "lstGoldMine");
            for (int row = 0; row < fields->count(); ++row)
                goldMineFields.append(fields->item(row)->text());
            pick(*window, "lstExcel", QStringLiteral("Company"));
            QCOMPARE(fields->selectedItems().size(), 1);
            QCOMPARE(fields->selectedItems().first()->text(), QStringLiteral("COMPANY"));
            child<QPushButton>(*window, "btnMap")->click();
            map(*window, QStringLiteral("Name"), QStringLiteral("CONTACT"));
            map(*window, QStringLiteral("Phone"), QStringLiteral("PHONE1"));
            map(*window, QStringLiteral("Town"), QStringLiteral("CITY"));
            map(*window, QStringLiteral("Source"), QStringLiteral("SOURCE"));
            map(*window, QStringLiteral("Remarks"), QStringLiteral("NOTES"));
            op.prompts.answerInput(QStringLiteral("Trade fair"));
            window->lstMappings_DblClick(window->entries().index(4));
            child<QPushButton>(*window, "Command2")->click();
        });
        poll.start();
        op.get<QPushButton>("btnMap")->click();
        QVERIFY(goldMineFields.contains(QStringLiteral("COMPANY")));
        QCOMPARE(goldMineFields.last(), QStringLiteral("Website"));
        QVERIFY(!goldMineFields.contains(QStringLiteral("ACCOUNTNO")));
        QVERIFY(!goldMineFields.contains(QStringLiteral("RECID")));
        QCOMPARE(op.form.mappingWindow()->entries().entries(),
                 QStringList({"Company\tCOMPANY", "Name\tCONTACT", "Phone\tPHONE1", "Town\tCITY",
                              "Remarks\tNOTES", "/Trade fair/\tSOURCE"}));

        op.get<QCheckBox>("chkUpdateMatches")->click();
        op.get<QCheckBox>("chkGroup")->click();
        op.get<QLineEdit>("txtGroupName")->setText(QStringLiteral("Spring Fair"));
        op.get<QPushButton>("btnImport")->click();

        QCOMPARE(op.form.logText(),
                 QStringLiteral("ann@example.com Imported.... and added to group.\r\n"
                                "old1@example.com already in database.old1@example.com "
                                "Updated....and added to group.\r\n"
                                "bob@example.com Imported.... and added to group.\r\n"
                                "old2@example.com already in database.old2@example.com "
                                "Updated....and added to group.\r\n"));
        QCOMPARE(op.get<QLabel>("lblProgress")->text(), QStringLiteral(" 3   bob@example.com"));
        const QList<ScriptedPrompts::Shown> shown = op.prompts.shown();
        QCOMPARE(shown.size(), 3);
        QCOMPARE(shown[0].title, QStringLiteral("Custom Mapping"));
        QCOMPARE(shown[1].title, QStringLiteral("Match Update Warning"));
        QCOMPARE(shown[2].text, QStringLiteral(" 4 records processed!"));
        QCOMPARE(shown[2].title, QStringLiteral("Ruvelo"));
        QVERIFY(op.form.isEnabled());

        // What landed in GoldMine.
        StoreReader store(m_store);
        QVERIFY(store.ok());
        QCOMPARE(store.select(QStringLiteral("SELECT COUNT(*) FROM CONTACT1")),
                 QList<QStringList>{{"4"}});
        struct Expected
        {
            QString email, company, contact, phone, city;
        };
        const QList<Expected> contacts{
            {"ann@example.com", "Acme", "Ann New", "555-1", "Leeds"},
            {"old1@example.com", "Old Co", "Old One Renamed", "555-2", "York"},
            {"bob@example.com", "Bob Ltd", "Bob New", "", "Cork"},
            {"old2@example.com", "Two Co", "Old Two", "555-4", "Bath"},
        };
        QStringList accounts;
        for (const Expected &contact : contacts) {
            const QString account = store.accountOf(contact.email);
            QVERIFY2(!account.isEmpty(), qPrintable(contact.email));
            accounts.append(account);
            const QList<QStringList> fields{
                {contact.company, contact.contact, contact.phone, contact.city, "Trade fair"}};
            QCOMPARE(store.select(QStringLiteral("SELECT COMPANY, CONTACT, PHONE1, CITY, SOURCE "
                                                 "FROM CONTACT1 WHERE ACCOUNTNO = ?"),
                                  {account}),
                     fields);
            const QList<QStringList> emailRecord{{"P", "E-mail Address"}};
            QCOMPARE(store.select(QStringLiteral("SELECT RECTYPE, CONTACT FROM CONTSUPP WHERE "
                                                 "ACCOUNTNO = ?"),
                                  {account}),
                     emailRecord);
        }
        // Notes for the rows that carry them; none for the row without.
        for (const auto &[index, note] : {std::pair{0, "Met at the fair"},
                                          std::pair{2, "Call back"}, std::pair{3, "Renewal due"}}) {
            QCOMPARE(store.select(QStringLiteral("SELECT NOTE FROM NOTES WHERE ACCOUNTNO = ?"),
                                  {accounts.at(index)}),
                     QList<QStringList>{{QString::fromLatin1(note)}});
        }
        QVERIFY(store
                    .select(QStringLiteral("SELECT NOTE FROM NOTES WHERE ACCOUNTNO = ?"),
                            {accounts.at(1)})
                    .isEmpty());
        // One new group holding all four, in the order the run met them.
        const QList<QStringList> groups = store.select(
            QStringLiteral("SELECT RECID FROM CONTGRPS WHERE ACCOUNTNO = '' AND REF = ?"),
            {QStringLiteral("Spring Fair")});
        QCOMPARE(groups.size(), 1);
        const QList<QStringList> members = store.select(
            QStringLiteral("SELECT ACCOUNTNO FROM CONTGRPS WHERE USERID = ? AND ACCOUNTNO <> '' "
                           "ORDER BY rowid"),
            {groups.first().first()});
        QCOMPARE(members,
                 (QList<QStringList>{{accounts[0]}, {accounts[1]}, {accounts[2]}, {accounts[3]}}));

        // Closing the window ends the program.
        QVERIFY(op.form.close());
        QCOMPARE(op.endCalls, 1);
    }

    // Through the window as through the command line: long addresses that
    // share their beginning stay apart, a value too long for its field is
    // named, a fixed text keeps its "/", and a rerun adds no second note.
    void windowRunsKeepDataSafe()
    {
        const QString store = m_dir.filePath(QStringLiteral("safe-store"));
        QVERIFY(makeStore(store, kPassword.toUtf8()));
        Client client(m_dir.filePath(QStringLiteral("run-safe")), store);
        QVERIFY(client.serving());
        Operator op;
        op.prompts.answerInput(kPassword);
        QCOMPARE(op.form.Form_Load(op.link, op.settings), StartupOutcome::Ready);
        op.prompts.clear();

        const QString prefix = QStringLiteral("a.rather.long.mailbox.name@departme"); // 35
        const QString book = m_dir.filePath(QStringLiteral("safe.xlsx"));
        QVERIFY(writeXlsx(book, QList<QVariantList>{
                                    {"Email", "Company", "Remarks"},
                                    {prefix + "nt.example.com", "First", "Note one"},
                                    {prefix + "nt.example.org", "Second", "Note two"},
                                    {"wide@example.com", QString(41, 'w'), "Too wide"},
                                }));
        op.toChoose = book;
        op.get<QPushButton>("btnBrowse")->click();
        auto *emailColumn = op.get<QComboBox>("cmbEmailCol");
        emailColumn->setCurrentIndex(emailColumn->findText(QStringLiteral("Email")));
        QTimer poll;
        poll.setInterval(0);
        QObject::connect(&poll, &QTimer::timeout, &op.form, [&] {
            FrmMappings *window = op.form.mappingWindow();
            if (!window || !window->isVisible())
                return;
            poll.stop();
            window->findChild<QCheckBox *>(QStringLiteral("chkClearFields"))->setChecked(false);
            map(*window, QStringLiteral("Company"), QStringLiteral("COMPANY"));
            map(*window, QStringLiteral("Remarks"), QStringLiteral("NOTES"));
            map(*window, QStringLiteral("Company"), QStringLiteral("SOURCE"));
            op.prompts.answerInput(QStringLiteral("Sales/EMEA"));
            window->lstMappings_DblClick(window->entries().index(2));
            child<QPushButton>(*window, "Command2")->click();
        });
        poll.start();
        op.get<QPushButton>("btnMap")->click();
        op.get<QCheckBox>("chkUpdateMatches")->click();
        op.get<QPushButton>("btnImport")->click();
        op.get<QPushButton>("btnImport")->click();

        const QString log = op.form.logText();
        QVERIFY2(log.contains(QStringLiteral("wide@example.com NOT imported (Company: 41 "
                                             "characters, COMPANY holds 40).")),
                 qPrintable(log));
        QVERIFY2(log.contains(prefix + QStringLiteral("nt.example.org already in database.") +
                              prefix +
                              QStringLiteral("nt.example.org Updated. (notes already there)")),
                 qPrintable(log));
        StoreReader reader(store);
        QVERIFY(reader.ok());
        QCOMPARE(reader.select(QStringLiteral("SELECT COMPANY, SOURCE FROM CONTACT1 ORDER BY "
                                              "COMPANY")),
                 (QList<QStringList>{{"First", "Sales/EMEA"}, {"Second", "Sales/EMEA"}}));
        QCOMPARE(reader.select(QStringLiteral("SELECT COUNT(*) FROM NOTES")),
                 QList<QStringList>{{"2"}});
    }

    // Stop pressed while row 4 of 10 is written: that row finishes, the run
    // ends there, and the store holds exactly the rows before the stop.
    void stopARealRunAtAChosenRow()
    {
        const QString store = m_dir.filePath(QStringLiteral("stop-store"));
        QVERIFY(makeStore(store, kPassword.toUtf8()));
        Client client(m_dir.filePath(QStringLiteral("run-stop")), store);
        QVERIFY(client.serving());

        ScriptedPrompts prompts;
        WatchedApi api(kBinDir + QStringLiteral("/libgm7s32.so"));
        FrmMain form(api, prompts);
        form.setEndProgram([] {});
        DdeLink link;
        ConnectionSettings settings;
        prompts.answerInput(kPassword);
        QCOMPARE(form.Form_Load(link, settings), StartupOutcome::Ready);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        QString book = m_dir.filePath(QStringLiteral("stop.xlsx"));
        QList<QVariantList> rows{{"Email", "Company"}};
        for (int row = 1; row <= 10; ++row)
            rows.append({QStringLiteral("stop%1@example.com").arg(row),
                         QStringLiteral("Company %1").arg(row)});
        QVERIFY(writeXlsx(book, rows));
        form.setFileChooser([&](QWidget *) { return book; });
        child<QPushButton>(form, "btnBrowse")->click();
        child<QComboBox>(form, "cmbEmailCol")->setEditText(QStringLiteral("Email"));

        auto *stop = child<QPushButton>(form, "btnStop");
        int writes = 0;
        api.onExecute = [&](const QString &call) {
            if (call == QStringLiteral("WriteContact") && ++writes == 4) {
                QVERIFY(stop->isEnabled());
                QTest::mouseClick(stop, Qt::LeftButton);
            }
        };
        prompts.clear();
        child<QPushButton>(form, "btnImport")->click();
        api.onExecute = nullptr;

        QCOMPARE(writes, 4);
        QVERIFY(
            form.logText().endsWith(QStringLiteral("stop4@example.com Imported.\r\n"
                                                   "Stopped by the user after row 4 of 10.\r\n")));
        QCOMPARE(prompts.messages().size(), 1);
        QCOMPARE(prompts.messages()[0].text,
                 QStringLiteral(" 4 records processed!\nThe import was stopped."));
        QVERIFY(!stop->isEnabled());

        StoreReader reader(store);
        QVERIFY(reader.ok());
        QCOMPARE(reader.select(QStringLiteral("SELECT CONTSUPREF FROM CONTSUPP ORDER BY "
                                              "CONTSUPREF")),
                 (QList<QStringList>{{"stop1@example.com"},
                                     {"stop2@example.com"},
                                     {"stop3@example.com"},
                                     {"stop4@example.com"}}));
        QCOMPARE(reader.select(QStringLiteral("SELECT COUNT(*) FROM CONTACT1")),
                 QList<QStringList>{{"4"}});

        // The workbook was closed: the next run reads it again from the top,
        // matching the four and writing the other six.
        prompts.clear();
        child<QPushButton>(form, "btnImport")->click();
        QCOMPARE(prompts.messages().last().text, QStringLiteral(" 10 records processed!"));
        QCOMPARE(reader.select(QStringLiteral("SELECT COUNT(*) FROM CONTACT1")),
                 QList<QStringList>{{"10"}});
        QVERIFY(form.logText().contains(QStringLiteral("stop4@example.com already in "
                                                       "database.\r\nstop5@example.com "
                                                       "Imported.\r\n")));
    }

    // The password typed into the window reaches the API and nothing else:
    // not the log, the boxes, the output, the store, nor what /proc shows.
    void passwordLeavesNoTrace()
    {
        const QByteArray sentinel = QByteArrayLiteral("Sentinel-7d41-Window-Passw0rd");
        const QString store = m_dir.filePath(QStringLiteral("sentinel-store"));
        QByteArray initOutput;
        QVERIFY(makeStore(store, sentinel, &initOutput));
        QVERIFY(!initOutput.contains(sentinel));

        // Whatever the process writes to its standard error goes to a file.
        const QString errorFile = m_dir.filePath(QStringLiteral("stderr.txt"));
        std::fflush(stderr);
        const int savedError = dup(STDERR_FILENO);
        FILE *captured = std::fopen(QFile::encodeName(errorFile).constData(), "w");
        QVERIFY(captured != nullptr);
        dup2(fileno(captured), STDERR_FILENO);

        QString log;
        QStringList boxes;
        QString kept;
        {
            Client client(m_dir.filePath(QStringLiteral("run-sentinel")), store);
            QVERIFY(client.serving());
            Operator op;
            op.prompts.answerInput(QString::fromLatin1(sentinel));
            QCOMPARE(op.form.Form_Load(op.link, op.settings), StartupOutcome::Ready);
            kept = op.settings.sPassword;
            const QString book = m_dir.filePath(QStringLiteral("sentinel.xlsx"));
            QVERIFY(writeXlsx(
                book, QList<QVariantList>{{"Email"}, {"s1@example.com"}, {"s2@example.com"}}));
            op.toChoose = book;
            op.get<QPushButton>("btnBrowse")->click();
            auto *emailColumn = op.get<QComboBox>("cmbEmailCol");
            emailColumn->setCurrentIndex(emailColumn->findText(QStringLiteral("Email")));
            op.get<QPushButton>("btnImport")->click();
            log = op.form.logText();
            for (const ScriptedPrompts::Shown &box : op.prompts.shown())
                boxes << box.title << box.text;
        }
        std::fflush(stderr);
        dup2(savedError, STDERR_FILENO);
        ::close(savedError);
        std::fclose(captured);

        QVERIFY(log.contains(QStringLiteral("s2@example.com Imported.")));
        QVERIFY(boxes.contains(QStringLiteral(" 2 records processed!")));
        QVERIFY2(kept.isEmpty(), "the password outlived the load");
        const auto holds = [&sentinel](const QByteArray &bytes) {
            return bytes.contains(sentinel);
        };
        QVERIFY(!holds(log.toUtf8()));
        QVERIFY(!holds(boxes.join(QLatin1Char('\n')).toUtf8()));
        QFile errors(errorFile);
        QVERIFY(errors.open(QIODevice::ReadOnly));
        QVERIFY(!holds(errors.readAll()));
        for (const char *seen : {"/proc/self/cmdline", "/proc/self/environ"}) {
            QFile file(QString::fromLatin1(seen));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY2(!holds(file.readAll()), seen);
        }
        int looked = 0;
        QDirIterator files(store, QDir::Files | QDir::Hidden);
        while (files.hasNext()) {
            QFile file(files.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY2(!holds(file.readAll()), qPrintable(file.fileName()));
            ++looked;
        }
        QVERIFY(looked >= 3);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "TestEndToEnd.moc"
