#include "app/CheckSummary.h"
#include "app/FrmMain.h"
#include "goldmine/DdeLink.h"
#include "mapping/FieldListApi.h"
#include "mapping/FrmMappings.h"
#include "mapping/Profile.h"
#include "support/ScriptedPrompts.h"
#include "support/XlsxBuilder.h"
#include "util/Version.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

using util::PromptIcon;
using namespace goldmine;
using namespace mapping;
using namespace app;

namespace {

// Also records every change of the pointer.
class RecordingPrompts : public ScriptedPrompts
{
public:
    QList<bool> cursorChanges;
    void setWaitCursor(bool waiting) override
    {
        cursorChanges.append(waiting);
        ScriptedPrompts::setWaitCursor(waiting);
    }
};

// A running GoldMine client that answers every item from a table.
class FakeDdeLink : public DdeLink
{
public:
    QHash<QString, QString> items;
    Status DDEInitiate() override { return Status::Linked; }
    goldmine::Result<QString> DDERequest(const QString &item) override { return items.value(item); }
};

struct Main
{
    FieldListApi api;
    RecordingPrompts prompts;
    FrmMain form{api, prompts};
    QStringList toChoose; // the file dialog's answers, in order
    int chooserCalls = 0;
    QWidget *chooserParent = nullptr;
    int endCalls = 0;

    Main()
    {
        form.setFileChooser([this](QWidget *parent) {
            ++chooserCalls;
            chooserParent = parent;
            return toChoose.isEmpty() ? FrmMain::NoFileChosen : toChoose.takeFirst();
        });
        form.setEndProgram([this] { ++endCalls; });
    }

    template <typename T> T *get(const char *name)
    {
        T *widget = form.findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }
    QComboBox *emailColumn() { return get<QComboBox>("cmbEmailCol"); }
    QCheckBox *match() { return get<QCheckBox>("chkMatch"); }
    QCheckBox *update() { return get<QCheckBox>("chkUpdateMatches"); }
    QCheckBox *group() { return get<QCheckBox>("chkGroup"); }
    QPlainTextEdit *log() { return get<QPlainTextEdit>("txtOutput"); }
    QLineEdit *fileName() { return get<QLineEdit>("txtFilename"); }
    QPushButton *stop() { return get<QPushButton>("btnStop"); }
    // Every control but Stop out of reach, as while a run goes on.
    bool controlsDisabled()
    {
        for (const char *name :
             {"btnImport", "btnCheck", "btnMap", "btnBrowse", "btnSaveLog", "btnSaveReport"}) {
            if (get<QPushButton>(name)->isEnabled())
                return false;
        }
        return !log()->isEnabled() && !fileName()->isEnabled() && !match()->isEnabled() &&
               stop()->isEnabled();
    }

    void browse(const QString &path)
    {
        toChoose.append(path);
        get<QPushButton>("btnBrowse")->click();
    }
    QStringList columns()
    {
        QStringList names;
        for (int index = 0; index < emailColumn()->count(); ++index)
            names.append(emailColumn()->itemText(index));
        return names;
    }
    // The caret counted in CR LF text, as the import wrote the log.
    int caret()
    {
        const QTextCursor cursor = log()->textCursor();
        return cursor.position() + cursor.blockNumber();
    }
    // Opens the mapping window and runs act inside it once it is shown (its
    // filling lets events run, so the window may come up a little later).
    void openMappings(const std::function<void(FrmMappings &)> &act)
    {
        QTimer poll;
        poll.setInterval(0);
        QObject::connect(&poll, &QTimer::timeout, &form, [this, &poll, act] {
            FrmMappings *window = form.mappingWindow();
            if (!window || !window->isVisible())
                return;
            poll.stop();
            const bool modal = window->isModal();
            act(*window);
            // A failed check inside act must not leave the test hanging.
            if (window->isVisible())
                window->close();
            QVERIFY(modal);
        });
        poll.start();
        get<QPushButton>("btnMap")->click();
    }
};

QRect inTwips(const QRect &pixels)
{
    return {pixels.x() * 15, pixels.y() * 15, pixels.width() * 15, pixels.height() * 15};
}

void pick(FrmMappings &window, const char *list, const QString &text)
{
    auto *widget = window.findChild<QListWidget *>(QString::fromLatin1(list));
    const QList<QListWidgetItem *> found = widget->findItems(text, Qt::MatchExactly);
    QVERIFY2(!found.isEmpty(), qPrintable(text));
    widget->setCurrentItem(found.first());
}

void clickOk(FrmMappings &window)
{
    window.findChild<QPushButton *>(QStringLiteral("Command2"))->click();
}

} // namespace

class TestFrmMain : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_people; // Name, Email, Phone and two rows
    QString m_orders; // Order, Buyer
    QString m_headerOnly;
    QString m_five;  // Email and five addresses a1@ to a5@
    QString m_check; // a doubtful address and a repeated one

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_people = m_dir.filePath("people.xlsx");
        m_orders = m_dir.filePath("orders.xlsx");
        m_headerOnly = m_dir.filePath("header.xlsx");
        QVERIFY(writeXlsx(m_people, QList<QVariantList>{{"Name", "Email", "Phone"},
                                                        {"Ann", " ann@example.com", "1"},
                                                        {"Bob", "bob@example. com", "2"}}));
        QVERIFY(writeXlsx(m_orders, QList<QVariantList>{{"Order", "Buyer"}, {"1", "x@y.z"}}));
        QVERIFY(writeXlsx(m_headerOnly, QList<QVariantList>{{"Email", "City"}}));
        m_five = m_dir.filePath("five.xlsx");
        QList<QVariantList> five{{"Email"}};
        for (int row = 1; row <= 5; ++row)
            five.append({QStringLiteral("a%1@example.com").arg(row)});
        QVERIFY(writeXlsx(m_five, five));
        m_check = m_dir.filePath("check.xlsx");
        QVERIFY(writeXlsx(m_check, QList<QVariantList>{{"Email", "Name"},
                                                       {"c1@example.com", "One"},
                                                       {"c2 at example", "Two"},
                                                       {"C1@example.com", "Again"},
                                                       {"c3@example.com", "Three"}}));
    }

    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("caption");
        QTest::newRow("txtOutput") << "txtOutput" << QRect(120, 3240, 8175, 1095) << "";
        QTest::newRow("cmbEmailCol") << "cmbEmailCol" << QRect(2400, 960, 4095, 315) << "";
        QTest::newRow("Label1") << "Label1" << QRect(120, 960, 2175, 255)
                                << "Excel Email Address Column:";
        QTest::newRow("Label2") << "Label2" << QRect(240, 360, 2055, 255) << "Excel Filename:";
        QTest::newRow("txtFilename") << "txtFilename" << QRect(2400, 360, 5175, 285) << "";
        QTest::newRow("btnBrowse") << "btnBrowse" << QRect(7560, 360, 375, 255) << "...";
        QTest::newRow("txtGroupName") << "txtGroupName" << QRect(5160, 2160, 2895, 285) << "";
        QTest::newRow("btnImport")
            << "btnImport" << QRect(6840, 1560, 1455, 495) << "Run the Import";
        QTest::newRow("btnMap") << "btnMap" << QRect(6840, 960, 1455, 375) << "Field Mappings...";
        QTest::newRow("lblProgress") << "lblProgress" << QRect(2520, 2760, 5655, 255) << "";
        QTest::newRow("Label5") << "Label5" << QRect(360, 2760, 1935, 255) << "Importing:";
        QTest::newRow("chkGroup") << "chkGroup" << QRect(2400, 2160, 2535, 255)
                                  << "Make a new GoldMine Group:";
        QTest::newRow("chkMatch") << "chkMatch" << QRect(2400, 1320, 1575, 255) << "Match on Email";
        QTest::newRow("chkUpdateMatches") << "chkUpdateMatches" << QRect(2400, 1680, 2655, 255)
                                          << "&Update Mapped Fields on Match";
        QTest::newRow("Label3") << "Label3" << QRect(5160, 1560, 255, 375) << "?";
    }
    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        QFETCH(QString, caption);
        Main m;
        auto *widget = m.form.findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(inTwips(widget->geometry()), twips);
        if (auto *label = qobject_cast<QLabel *>(widget))
            QCOMPARE(label->text(), caption);
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            QCOMPARE(button->text(), caption);
    }

    void windowAndStatusBar()
    {
        Main m;
        QCOMPARE(m.form.windowTitle(), QStringLiteral("Ruvelo"));
        m.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m.form));
        QCOMPARE(m.form.size() * 15, QSize(8370, 4800));
        QCOMPARE(inTwips(m.get<QStatusBar>("Status")->geometry()), QRect(0, 4425, 8370, 375));
        QVERIFY(m.get<QStatusBar>("Status")->currentMessage().isEmpty());
    }

    void startState()
    {
        Main m;
        QVERIFY(m.match()->isChecked());
        QVERIFY(!m.update()->isChecked());
        QVERIFY(m.update()->isEnabled());
        QVERIFY(!m.group()->isChecked());
        QVERIFY(!m.get<QLineEdit>("txtGroupName")->isEnabled());
        QVERIFY(!m.emailColumn()->isEnabled());
        QVERIFY(m.emailColumn()->isEditable());
        QCOMPARE(m.emailColumn()->count(), 0);
        QVERIFY(m.emailColumn()->currentText().isEmpty());
        QVERIFY(m.log()->toPlainText().isEmpty());
        QVERIFY(m.log()->isEnabled() && !m.log()->isReadOnly());
        QCOMPARE(m.log()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(m.fileName()->isEnabled() && m.fileName()->text().isEmpty());
        QVERIFY(m.get<QLabel>("lblProgress")->text().isEmpty());

        auto *question = m.get<QLabel>("Label3");
        QVERIFY(question->font().bold());
        QCOMPARE(question->font().pointSizeF(), 13.5);
        QCOMPARE(question->toolTip(),
                 QStringLiteral("Values (including blanks) from the incoming data will update "
                                "mapped fields for e-mail matched records (including those "
                                "matched on an additional contact's e-mail address!)"));

        QStringList order;
        QWidget *widget = m.log();
        const QStringList names{"txtOutput",    "cmbEmailCol",     "txtFilename", "btnBrowse",
                                "txtGroupName", "btnImport",       "btnMap",      "chkGroup",
                                "chkMatch",     "chkUpdateMatches"};
        do {
            if (names.contains(widget->objectName()) && !order.contains(widget->objectName()))
                order.append(widget->objectName());
            widget = widget->nextInFocusChain();
        } while (widget != m.log());
        QCOMPARE(order, names);
        QVERIFY(m.log()->tabChangesFocus());
        QVERIFY(m.prompts.shown().isEmpty());
    }

    void matchRule()
    {
        Main m;
        m.update()->click();
        QVERIFY(m.update()->isChecked());
        m.prompts.clear();

        m.match()->click();
        QCOMPARE(m.prompts.shown().size(), 1);
        const ScriptedPrompts::Shown box = m.prompts.shown().first();
        QCOMPARE(box.kind, ScriptedPrompts::Shown::Message);
        QCOMPARE(box.title, QStringLiteral("Match Warning"));
        QCOMPARE(box.icon, PromptIcon::None);
        QCOMPARE(box.text,
                 QStringLiteral("If the Match on Email option is unchecked, all records in the "
                                "incoming excel file will be imported as new records. This may "
                                "result in duplicate records being added to your GoldMine "
                                "database."));
        QVERIFY(!m.match()->isChecked());
        QVERIFY(!m.update()->isChecked());
        QVERIFY(!m.update()->isEnabled());

        m.match()->click();
        QVERIFY(m.update()->isEnabled());
        QVERIFY(!m.update()->isChecked());
        QCOMPARE(m.prompts.shown().size(), 1);
    }

    void updateWarning()
    {
        Main m;
        m.update()->click();
        QCOMPARE(m.prompts.shown().size(), 1);
        const ScriptedPrompts::Shown box = m.prompts.shown().first();
        QCOMPARE(box.title, QStringLiteral("Match Update Warning"));
        QCOMPARE(box.icon, PromptIcon::None);
        QCOMPARE(box.text, m.get<QLabel>("Label3")->toolTip());
        QVERIFY(m.update()->isChecked());

        m.update()->click();
        QVERIFY(!m.update()->isChecked());
        QCOMPARE(m.prompts.shown().size(), 1);
    }

    void groupRule()
    {
        Main m;
        auto *name = m.get<QLineEdit>("txtGroupName");
        m.group()->click();
        QVERIFY(name->isEnabled());
        name->setText("Trade show");
        m.group()->click();
        QVERIFY(!name->isEnabled());
        QCOMPARE(name->text(), QStringLiteral("Trade show"));
        m.group()->click();
        QVERIFY(name->isEnabled());
        QVERIFY(m.prompts.shown().isEmpty());
    }

    void browseListsColumns()
    {
        Main m;
        QSignalSpy status(m.get<QStatusBar>("Status"), &QStatusBar::messageChanged);
        m.browse(m_people);
        QCOMPARE(m.chooserCalls, 1);
        QCOMPARE(m.chooserParent, &m.form);
        QCOMPARE(m.fileName()->text(), m_people);
        QCOMPARE(m.columns(), QStringList({"Name", "Email", "Phone"}));
        QVERIFY(m.emailColumn()->isEnabled());
        QCOMPARE(m.emailColumn()->currentIndex(), -1);
        QVERIFY(m.emailColumn()->currentText().isEmpty());
        QCOMPARE(status.size(), 2);
        QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("Loading excel structure...'"));
        QCOMPARE(status.at(1).at(0).toString(), QString());
        QCOMPARE(m.prompts.cursorChanges, QList<bool>({true, false}));
        QVERIFY(m.prompts.shown().isEmpty());

        // A second workbook replaces the list and the earlier choice.
        m.emailColumn()->setCurrentIndex(1);
        m.browse(m_orders);
        QCOMPARE(m.columns(), QStringList({"Order", "Buyer"}));
        QVERIFY(m.emailColumn()->currentText().isEmpty());

        // A sheet without rows still gives its columns.
        m.browse(m_headerOnly);
        QCOMPARE(m.columns(), QStringList({"Email", "City"}));
    }

    void browseCancelChangesNothing()
    {
        Main m;
        m.browse(m_people);
        m.emailColumn()->setCurrentIndex(1);
        m.prompts.cursorChanges.clear();
        QSignalSpy status(m.get<QStatusBar>("Status"), &QStatusBar::messageChanged);
        m.get<QPushButton>("btnBrowse")->click(); // the dialog answers "*.xls*"
        QCOMPARE(m.chooserCalls, 2);
        QCOMPARE(m.fileName()->text(), m_people);
        QCOMPARE(m.columns(), QStringList({"Name", "Email", "Phone"}));
        QCOMPARE(m.emailColumn()->currentText(), QStringLiteral("Email"));
        QVERIFY(status.isEmpty());
        QVERIFY(m.prompts.cursorChanges.isEmpty());
    }

    void browseUnreadableWorkbook_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("other ending") << "list.txt" << QByteArray("Email\n");
        QTest::newRow("missing") << "gone.xls" << QByteArray();
        QTest::newRow("garbage") << "broken.xlsx" << QByteArray("PK\x03\x04 truncated");
    }
    void browseUnreadableWorkbook()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, content);
        const QString path = m_dir.filePath(fileName);
        if (!content.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        Main m;
        m.browse(m_people);
        m.prompts.cursorChanges.clear();
        m.browse(path);
        QCOMPARE(m.fileName()->text(), path);
        QCOMPARE(m.emailColumn()->count(), 0);
        QVERIFY(m.emailColumn()->currentText().isEmpty());
        const QList<ScriptedPrompts::Shown> shown = m.prompts.messages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QStringLiteral("Data Error"));
        QCOMPARE(shown[0].icon, PromptIcon::Critical);
        QVERIFY2(shown[0].text.contains(path), qPrintable(shown[0].text));
        QVERIFY(m.get<QStatusBar>("Status")->currentMessage().isEmpty());
        QCOMPARE(m.prompts.cursorChanges, QList<bool>({true, false}));
        QVERIFY(m.form.isEnabled());

        // The window stays usable: the next browse works.
        m.browse(m_orders);
        QCOMPARE(m.columns(), QStringList({"Order", "Buyer"}));
    }

    void editedPathIsWhatTheMappingWindowReads()
    {
        Main m;
        m.browse(m_people);
        m.fileName()->setText(m_orders);
        QCOMPARE(m.columns(), QStringList({"Name", "Email", "Phone"}));
        m.emailColumn()->setEditText("Buyer");
        QStringList excel;
        m.openMappings([&](FrmMappings &window) {
            auto *list = window.findChild<QListWidget *>(QStringLiteral("lstExcel"));
            for (int row = 0; row < list->count(); ++row)
                excel.append(list->item(row)->text());
            clickOk(window);
        });
        QCOMPARE(excel, QStringList{"Order"});
    }

    void resizeRule()
    {
        Main m;
        m.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m.form));
        const QRect buttonBefore = m.get<QPushButton>("btnImport")->geometry();
        const int marginWidth = m.form.frameGeometry().width() - m.form.width();
        const int marginHeight = m.form.frameGeometry().height() - m.form.height();

        // Outer sizes in pixels; the log follows whenever a threshold is passed.
        struct Step
        {
            int outerWidth, outerHeight, logWidth, logHeight;
        };
        const QList<Step> steps{
            {700, 500, (700 * 15 - 335) / 15, (500 * 15 - 4155) / 15},
            {300, 278, (300 * 15 - 335) / 15, 1}, // 4170 - 4155 = 15 > 10
            {300, 277, (300 * 15 - 335) / 15, 1}, // 4155 twips: keeps its height
            {300, 200, (300 * 15 - 335) / 15, 1},
            {30, 400, (30 * 15 - 335) / 15, (400 * 15 - 4155) / 15},
            {23, 400, (30 * 15 - 335) / 15, (400 * 15 - 4155) / 15}, // 345: keeps its width
            {24, 400, 1, (400 * 15 - 4155) / 15},                    // 360 - 335 = 25 > 10
        };
        for (const Step &step : steps) {
            m.form.resize(step.outerWidth - marginWidth, step.outerHeight - marginHeight);
            QCoreApplication::processEvents();
            // The offscreen platform keeps windows at least 24 pixels wide, so
            // the narrowest step may not be reachable; every other one must be.
            if (m.form.frameGeometry().size() != QSize(step.outerWidth, step.outerHeight)) {
                QVERIFY(step.outerWidth < 24);
                continue;
            }
            const QRect log = m.log()->geometry();
            QCOMPARE(log.topLeft(), QPoint(8, 216));
            QCOMPARE(log.size(), QSize(step.logWidth, step.logHeight));
            QCOMPARE(m.get<QPushButton>("btnImport")->geometry(), buttonBefore);
            const QRect status = m.get<QStatusBar>("Status")->geometry();
            QCOMPARE(status.bottom(), m.form.height() - 1);
            QCOMPARE(status.width(), m.form.width());
        }
    }

    void caretRule_data()
    {
        QTest::addColumn<QStringList>("pieces");
        QTest::addColumn<int>("caret");
        QTest::newRow("one character: at the end") << QStringList{"x"} << 1;
        QTest::newRow("two characters") << QStringList{"ab"} << 0;
        QTest::newRow("no line break yet") << QStringList{"a@b.c", " Imported."} << 13;
        QTest::newRow("one line") << QStringList{"a@b.c", " Imported.", "\r\n"} << 15;
        QTest::newRow("two lines") << QStringList{"a\r\n", "bb\r\n"} << 5;
        QTest::newRow("just a line break") << QStringList{"\r\n"} << 0;
        QTest::newRow("one character after a break") << QStringList{"abc\r\n", "d"} << 3;
        QTest::newRow("two characters after a break") << QStringList{"abc\r\n", "de"} << 5;
    }
    void caretRule()
    {
        QFETCH(QStringList, pieces);
        QFETCH(int, caret);
        Main m;
        for (const QString &piece : pieces)
            m.form.appendLog(piece);
        QCOMPARE(m.form.logText(), pieces.join(QString()));
        QCOMPARE(m.caret(), caret);
        QVERIFY(!m.log()->textCursor().hasSelection());
    }

    void caretAfterTheOperatorErasesTheLog()
    {
        Main m;
        m.form.appendLog("abc\r\n");
        m.log()->selectAll();
        QTest::keyClick(m.log(), Qt::Key_Delete);
        QVERIFY(m.log()->toPlainText().isEmpty());
        QCOMPARE(m.caret(), 0);
        // Typed text follows the same rule: the caret jumps before the last two.
        m.log()->setFocus();
        QTest::keyClicks(m.log(), "xyz");
        QCOMPARE(m.form.logText(), QStringLiteral("zxy"));
    }

    void logShowsItsLastLine()
    {
        Main m;
        m.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m.form));
        m.log()->setPlainText("operator's note");
        for (int row = 1; row <= 60; ++row) {
            m.form.appendLog(QStringLiteral("row%1@example.com Imported.").arg(row));
            m.form.appendLog("\r\n");
        }
        QCoreApplication::processEvents();
        QVERIFY(m.form.logText().startsWith("operator's note"
                                            "row1@example.com Imported.\r\n"));
        QVERIFY(m.form.logText().endsWith("row60@example.com Imported.\r\n"));
        QScrollBar *bar = m.log()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QVERIFY(m.log()->viewport()->rect().contains(m.log()->cursorRect()));
        QCOMPARE(m.log()->textCursor().block().text(),
                 QStringLiteral("row60@example.com Imported."));
    }

    void openingGuard_data()
    {
        QTest::addColumn<bool>("match");
        QTest::addColumn<QString>("emailColumn");
        QTest::addColumn<bool>("opens");
        QTest::newRow("matching without column") << true << "" << false;
        QTest::newRow("matching with column") << true << "Email" << true;
        QTest::newRow("not matching without column") << false << "" << true;
    }
    void openingGuard()
    {
        QFETCH(bool, match);
        QFETCH(QString, emailColumn);
        QFETCH(bool, opens);
        Main m;
        m.browse(m_people);
        if (!match)
            m.match()->click();
        m.emailColumn()->setEditText(emailColumn);
        m.prompts.clear();
        bool shown = false;
        m.openMappings([&](FrmMappings &window) {
            shown = true;
            clickOk(window);
        });
        QCOMPARE(shown, opens);
        if (opens) {
            QVERIFY(m.prompts.shown().isEmpty());
            QVERIFY(m.form.mappingWindow());
            return;
        }
        QCOMPARE(m.prompts.shown().size(), 1);
        const ScriptedPrompts::Shown box = m.prompts.shown().first();
        QCOMPARE(box.text, QStringLiteral("Please select an e-mail address field for matching "
                                          "purposes before setting up mappings!"));
        QCOMPARE(box.title, QStringLiteral("Opps!"));
        QCOMPARE(box.icon, PromptIcon::Information);
        QVERIFY(!m.form.mappingWindow());
        QCOMPARE(m.api.fieldQueries(), 0);
    }

    void entriesSurviveOkAndAreLostOnClose()
    {
        Main m;
        m.api.fields = {"COMPANY", "CONTACT"};
        m.browse(m_people);
        m.emailColumn()->setCurrentIndex(1);
        m.openMappings([](FrmMappings &window) {
            pick(window, "lstExcel", "Name");
            pick(window, "lstGoldMine", "CONTACT");
            window.btnMap_Click();
            clickOk(window);
        });
        QVERIFY(m.form.mappingWindow());
        QVERIFY(!m.form.mappingWindow()->isVisible());
        QCOMPARE(m.form.mappingWindow()->entries().entries(), QStringList{"Name\tCONTACT"});

        // Another workbook later: the window lists its columns; the entry
        // whose column it lacks stays, marked.
        m.browse(m_orders);
        m.emailColumn()->setEditText("Buyer");
        QStringList excel;
        bool marked = false;
        m.openMappings([&](FrmMappings &window) {
            auto *list = window.findChild<QListWidget *>(QStringLiteral("lstExcel"));
            for (int row = 0; row < list->count(); ++row)
                excel.append(list->item(row)->text());
            QCOMPARE(window.entries().count(), 1);
            marked = window.isMissing(0);
            window.close();
        });
        QCOMPARE(excel, QStringList({"Order"}));
        QVERIFY(marked);
        QCOMPARE(m.api.fieldQueries(), 1);
        QVERIFY(!m.form.mappingWindow());

        // The next opening makes a new state from the current workbook.
        m.openMappings([&](FrmMappings &window) {
            QCOMPARE(window.entries().count(), 0);
            auto *list = window.findChild<QListWidget *>(QStringLiteral("lstExcel"));
            QCOMPARE(list->count(), 1);
            QCOMPARE(list->item(0)->text(), QStringLiteral("Order"));
            clickOk(window);
        });
        QCOMPARE(m.api.fieldQueries(), 2);
    }

    void importRunsWithTheWindowAsSink()
    {
        Main m;
        m.api.fields = {"CONTACT"};
        m.browse(m_people);
        m.emailColumn()->setCurrentIndex(1);
        m.openMappings([](FrmMappings &window) {
            pick(window, "lstExcel", "Name");
            pick(window, "lstGoldMine", "CONTACT");
            window.btnMap_Click();
            clickOk(window);
        });
        m.prompts.clear();
        m.prompts.cursorChanges.clear();

        int busyWrites = 0;
        m.api.onCall = [&] {
            if (m.controlsDisabled() && m.prompts.waiting())
                ++busyWrites;
        };
        m.get<QPushButton>("btnImport")->click();
        m.api.onCall = nullptr;

        QVERIFY(busyWrites > 0);
        QVERIFY(m.form.isEnabled());
        QVERIFY(m.get<QPushButton>("btnImport")->isEnabled());
        QVERIFY(!m.get<QPushButton>("btnStop")->isEnabled());
        QVERIFY(!m.prompts.waiting());
        QCOMPARE(m.prompts.cursorChanges.first(), true);
        QCOMPARE(m.prompts.cursorChanges.last(), false);
        QCOMPARE(m.form.logText(), QStringLiteral("ann@example.com Imported.\r\n"
                                                  "bob@example.com Imported.\r\n"));
        QCOMPARE(m.caret(), m.form.logText().size() - 2);
        QCOMPARE(m.get<QLabel>("lblProgress")->text(), QStringLiteral(" 2   bob@example.com"));
        const QList<ScriptedPrompts::Shown> shown = m.prompts.messages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, QStringLiteral(" 2 records processed!"));
        QCOMPARE(shown[0].title, QStringLiteral("Ruvelo"));
        QCOMPARE(shown[0].icon, PromptIcon::None);
        // The entry made before "&Ok" fed every row.
        QVERIFY(m.api.values.contains(qMakePair(QStringLiteral("CONTACT"), QStringLiteral("Ann"))));
        QVERIFY(m.api.values.contains(qMakePair(QStringLiteral("CONTACT"), QStringLiteral("Bob"))));

        // A second run appends below the first.
        m.get<QPushButton>("btnImport")->click();
        QVERIFY(m.form.logText().endsWith("Imported.\r\nann@example.com Imported.\r\n"
                                          "bob@example.com Imported.\r\n"));
        // The window lists the fields once; each run reads the list again to
        // check its mappings, and the width of the one field mapped.
        QCOMPARE(m.api.fieldQueries(), 1 + 2 * 2);
    }

    void importMakesTheMappingStateWithoutShowingIt()
    {
        Main m;
        m.api.fields = {"CONTACT"};
        m.browse(m_people);
        m.emailColumn()->setCurrentIndex(1);
        m.get<QPushButton>("btnImport")->click();
        QVERIFY(m.form.mappingWindow());
        QVERIFY(!m.form.mappingWindow()->isVisible());
        QCOMPARE(m.form.mappingWindow()->entries().count(), 0);
        QCOMPARE(m.api.fieldQueries(), 1);
        QVERIFY(
            !m.api.values.contains(qMakePair(QStringLiteral("CONTACT"), QStringLiteral("Ann"))));
        QCOMPARE(m.prompts.messages().last().text, QStringLiteral(" 2 records processed!"));
    }

    void importOfAnUnreadableWorkbookLeavesTheWindowUsable()
    {
        Main m;
        m.fileName()->setText(m_dir.filePath("nowhere.xlsx"));
        m.get<QPushButton>("btnImport")->click();
        QVERIFY(m.form.isEnabled());
        QVERIFY(!m.prompts.waiting());
        const QList<ScriptedPrompts::Shown> shown = m.prompts.messages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QStringLiteral("Data Error"));
        QVERIFY(shown[0].text.startsWith("Can't find the specified file!"));
        QVERIFY(m.api.executed.isEmpty());
    }

    void f1ShowsTheVersion()
    {
        Main m;
        m.form.show();
        QVERIFY(QTest::qWaitForWindowActive(&m.form));
        QTest::keyClick(&m.form, Qt::Key_F1);
        const QList<ScriptedPrompts::Shown> shown = m.prompts.messages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QStringLiteral("About Ruvelo"));
        QVERIFY2(shown[0].text.startsWith(QStringLiteral("Ruvelo ") + util::version()),
                 qPrintable(shown[0].text));
        QVERIFY(!util::version().isEmpty());
    }

    void closingEndsTheProgram()
    {
        Main m;
        m.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m.form));
        m.form.setBusy(true);
        QVERIFY(!m.form.close()); // asked whether to stop; answered No
        QCOMPARE(m.endCalls, 0);
        QCOMPARE(m.prompts.shown().size(), 1);
        QCOMPARE(m.prompts.shown().first().kind, ScriptedPrompts::Shown::Question);
        m.form.setBusy(false);
        m.prompts.clear();
        QVERIFY(m.form.close());
        QCOMPARE(m.endCalls, 1);
        QVERIFY(m.prompts.shown().isEmpty());
    }

    void stopMidRun_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Stop button") << "button";
        QTest::newRow("Escape") << "escape";
        QTest::newRow("access key") << "alt+s";
    }
    void stopMidRun()
    {
        QFETCH(QString, how);
        Main m;
        m.form.show();
        QVERIFY(QTest::qWaitForWindowActive(&m.form));
        m.browse(m_five);
        m.emailColumn()->setEditText("Email");
        QVERIFY(!m.stop()->isEnabled());
        bool stopped = false;
        bool busyThen = false;
        m.api.onCall = [&] {
            // The second row's contact has been written; the row goes on.
            if (stopped || m.api.executed.count("WriteContact") != 2)
                return;
            stopped = true;
            busyThen = m.controlsDisabled();
            if (how == "button")
                m.stop()->click();
            else if (how == "escape")
                QTest::keyClick(&m.form, Qt::Key_Escape);
            else {
                // An access key presses its button with a short animation,
                // which a real row outlasts.
                QTest::keyClick(&m.form, Qt::Key_S, Qt::AltModifier);
                QTest::qWait(250);
            }
        };
        m.get<QPushButton>("btnImport")->click();
        m.api.onCall = nullptr;

        QVERIFY(stopped);
        QVERIFY(busyThen);
        QCOMPARE(m.api.executed.count("WriteContact"), 2);
        QCOMPARE(m.form.logText(), QStringLiteral("a1@example.com Imported.\r\n"
                                                  "a2@example.com Imported.\r\n"
                                                  "Stopped by the user after row 2 of 5.\r\n"));
        QCOMPARE(m.get<QLabel>("lblProgress")->text(), QStringLiteral(" 2   a2@example.com"));
        const QList<ScriptedPrompts::Shown> shown = m.prompts.messages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, QStringLiteral(" 2 records processed!\nThe import was stopped."));
        QVERIFY(!m.stop()->isEnabled());
        QVERIFY(m.get<QPushButton>("btnImport")->isEnabled());
        QVERIFY(m.log()->isEnabled());
        auto *bar = m.get<QProgressBar>("prgRows");
        QCOMPARE(bar->maximum(), 5);
        QCOMPARE(bar->value(), 2);
        QVERIFY2(bar->format().startsWith(QStringLiteral("2 of 5 rows")),
                 qPrintable(bar->format()));

        // Stop is asked for once per run: the next run goes to its end.
        m.prompts.clear();
        m.get<QPushButton>("btnImport")->click();
        QCOMPARE(m.api.executed.count("WriteContact"), 7);
        QCOMPARE(m.prompts.messages().last().text, QStringLiteral(" 5 records processed!"));
        QCOMPARE(bar->value(), 5);
        QVERIFY2(bar->format().startsWith(QStringLiteral("5 of 5 rows")),
                 qPrintable(bar->format()));
    }

    void stopMidCheck()
    {
        Main m;
        m.browse(m_five);
        m.emailColumn()->setEditText("Email");
        bool stopped = false;
        m.api.onCall = [&] {
            if (stopped || m.api.queries.filter("a3@example.com").isEmpty())
                return;
            stopped = true;
            m.stop()->click();
        };
        m.get<QPushButton>("btnCheck")->click();
        m.api.onCall = nullptr;
        QVERIFY(stopped);
        QVERIFY(m.api.executed.isEmpty());
        QCOMPARE(m.form.logText(), QStringLiteral("Stopped by the user after row 3 of 5.\r\n"));
        CheckSummary *summary = m.form.checkSummary();
        QVERIFY(summary);
        QVERIFY(summary->isVisible());
        QCOMPARE(summary->text(),
                 QStringLiteral("Checked 3 rows: would create 3, would match 0 (0 of them "
                                "updated), would fail 0.\nNo problems found.\nThe check was "
                                "stopped."));
        QVERIFY(!summary->findChild<QPushButton *>(QStringLiteral("btnShowProblems"))->isEnabled());
        summary->close();
    }

    void closeDuringRun_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes: stop and close") << true;
        QTest::newRow("no: carry on") << false;
    }
    void closeDuringRun()
    {
        QFETCH(bool, yes);
        Main m;
        m.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m.form));
        m.browse(m_five);
        m.emailColumn()->setEditText("Email");
        m.prompts.answerQuestion(yes);
        bool closed = false;
        bool closedAtOnce = true;
        m.api.onCall = [&] {
            if (closed || m.api.executed.count("WriteContact") != 2)
                return;
            closed = true;
            closedAtOnce = m.form.close();
        };
        m.get<QPushButton>("btnImport")->click();
        m.api.onCall = nullptr;

        QVERIFY(closed);
        QVERIFY(!closedAtOnce); // the run under way is never cut short
        QList<ScriptedPrompts::Shown> questions;
        for (const ScriptedPrompts::Shown &box : m.prompts.shown()) {
            if (box.kind == ScriptedPrompts::Shown::Question)
                questions.append(box);
        }
        QCOMPARE(questions.size(), 1);
        QCOMPARE(questions[0].text, QStringLiteral("Stop the import and close Ruvelo?"));
        QCOMPARE(questions[0].title, QStringLiteral("Ruvelo"));
        if (yes) {
            QCOMPARE(m.api.executed.count("WriteContact"), 2);
            QVERIFY(m.form.logText().endsWith("a2@example.com Imported.\r\n"
                                              "Stopped by the user after row 2 of 5.\r\n"));
            QCOMPARE(m.endCalls, 1);
            QVERIFY(!m.form.isVisible());
            QVERIFY(m.prompts.messages().isEmpty());
        } else {
            QCOMPARE(m.api.executed.count("WriteContact"), 5);
            QCOMPARE(m.endCalls, 0);
            QVERIFY(m.form.isVisible());
            QCOMPARE(m.prompts.messages().size(), 1);
            QCOMPARE(m.prompts.messages()[0].text, QStringLiteral(" 5 records processed!"));
        }
    }

    void groupNameIsCheckedBeforeTheRun()
    {
        Main m;
        m.browse(m_five);
        m.emailColumn()->setEditText("Email");
        m.group()->click();
        m.get<QPushButton>("btnImport")->click();
        QList<ScriptedPrompts::Shown> shown = m.prompts.shown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, QStringLiteral("Please type a name for the new group."));
        QCOMPARE(shown[0].title, QStringLiteral("Ruvelo"));
        QCOMPARE(shown[0].kind, ScriptedPrompts::Shown::Message);
        QVERIFY(m.api.executed.isEmpty());
        QVERIFY(m.get<QPushButton>("btnImport")->isEnabled());

        // A name an existing group has (in any case) is asked about; No
        // writes nothing and shows nothing more.
        m.api.groups = {"Spring Fair"};
        m.get<QLineEdit>("txtGroupName")->setText("spring fair");
        m.prompts.clear();
        m.get<QPushButton>("btnImport")->click();
        shown = m.prompts.shown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].kind, ScriptedPrompts::Shown::Question);
        QCOMPARE(shown[0].text, QStringLiteral("A group named spring fair already exists. Make "
                                               "another group with the same name?"));
        QCOMPARE(shown[0].title, QStringLiteral("Ruvelo"));
        QVERIFY(m.api.executed.isEmpty());

        // Yes makes the second group and runs.
        m.prompts.clear();
        m.prompts.answerQuestion(true);
        m.get<QPushButton>("btnImport")->click();
        QCOMPARE(m.api.executed.count("CreateContactGroup"), 1);
        QCOMPARE(m.api.executed.count("WriteContact"), 5);
        // (The double gives no account numbers, so no row joins the group.)
        QVERIFY(m.prompts.messages().last().text.startsWith(" 5 records processed!"));
    }

    void checkShowsWhatARunWouldDo()
    {
        Main m;
        QStringList saved;
        QString reportPath = m_dir.filePath("check-report.csv");
        m.form.setFileDialog([&](QWidget *, const FileRequest &) { return reportPath; });
        m.browse(m_check);
        m.emailColumn()->setEditText("Email");
        auto *saveReport = m.get<QPushButton>("btnSaveReport");
        QVERIFY(!saveReport->isEnabled());
        m.get<QPushButton>("btnCheck")->click();
        QVERIFY(m.api.executed.isEmpty());
        QVERIFY(m.form.logText().isEmpty());
        CheckSummary *summary = m.form.checkSummary();
        QVERIFY(summary);
        QVERIFY(summary->isVisible());
        QCOMPARE(summary->text(),
                 QStringLiteral("Checked 4 rows: would create 3, would match 1 (0 of them "
                                "updated), would fail 0.\n2 problems in 2 rows."));

        auto *showProblems = summary->findChild<QPushButton *>(QStringLiteral("btnShowProblems"));
        QVERIFY(showProblems->isEnabled());
        showProblems->click();
        ProblemList *list = summary->problemList();
        QVERIFY(list);
        QVERIFY(list->isVisible());
        const QAbstractItemModel *model = list->table()->model();
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Row"));
        QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("3"));
        QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("Email"));
        QVERIFY(model->index(0, 2).data().toString().contains("does not look like an e-mail"));
        QCOMPARE(model->index(1, 0).data().toString(), QStringLiteral("4"));
        QVERIFY(model->index(1, 2).data().toString().contains("row 2 too"));
        list->close();
        summary->close();

        // The check's report, saved as the operator names it.
        QVERIFY(saveReport->isEnabled());
        saveReport->click();
        QFile report(reportPath);
        QVERIFY(report.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(report.readAll());
        QVERIFY2(text.contains("\r\n2,c1@example.com,would create,"), qPrintable(text));
        QVERIFY2(text.contains("\r\n4,C1@example.com,would match,"), qPrintable(text));
        QCOMPARE(text.count("\r\n"), 5);
    }

    void saveReportAfterARun()
    {
        Main m;
        QString target;
        QList<FileRequest> requests;
        m.form.setFileDialog([&](QWidget *parent, const FileRequest &request) {
            requests.append(request);
            return parent == &m.form ? target : QString();
        });
        m.browse(m_people);
        m.emailColumn()->setCurrentIndex(1);
        m.get<QPushButton>("btnImport")->click();
        auto *saveReport = m.get<QPushButton>("btnSaveReport");
        QVERIFY(saveReport->isEnabled());

        target = m_dir.filePath("run-report.csv");
        saveReport->click();
        QCOMPARE(requests.size(), 1);
        QVERIFY(requests[0].save);
        QVERIFY(requests[0].filter.contains("(*.xlsx)"));
        QFile csv(target);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QByteArray bytes = csv.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBFRow,E-mail,Outcome,"));
        QVERIFY2(bytes.contains("\r\n2, ann@example.com,created,"), bytes.constData());
        QVERIFY2(bytes.contains("\r\n3,bob@example. com,created,"), bytes.constData());

        target = m_dir.filePath("run-report.xlsx");
        saveReport->click();
        QFile xlsx(target);
        QVERIFY(xlsx.open(QIODevice::ReadOnly));
        QVERIFY(xlsx.read(2) == "PK");

        // Cancelled: nothing written.
        target.clear();
        saveReport->click();
        QCOMPARE(requests.size(), 3);

        // A run that cannot start leaves no report behind.
        m.fileName()->setText(m_dir.filePath("nowhere.xlsx"));
        m.get<QPushButton>("btnImport")->click();
        QVERIFY(!saveReport->isEnabled());
    }

    void saveLogWritesUtf8WithCrLf()
    {
        Main m;
        const QString path = m_dir.filePath("log.txt");
        QString target = path;
        m.form.setFileDialog([&](QWidget *, const FileRequest &request) {
            return request.save ? target : QString();
        });
        m.form.appendLog(QStringLiteral("zo\u00eb@example.com Imported.\r\n"));
        m.form.appendLog("b@example.org Imported.\r\n");
        m.get<QPushButton>("btnSaveLog")->click();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("zo\xC3\xAB@example.com Imported.\r\n"
                                            "b@example.org Imported.\r\n"));
        file.close();

        // The log's own menu offers it too, beside Copy.
        m.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m.form));
        target = m_dir.filePath("log-from-menu.txt");
        QStringList actions;
        QTimer::singleShot(0, &m.form, [&] {
            QTRY_VERIFY(QApplication::activePopupWidget());
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            QAction *save = nullptr;
            for (QAction *action : menu->actions()) {
                actions.append(action->text());
                if (action->text() == "Save log...")
                    save = action;
            }
            menu->close();
            if (save)
                save->trigger();
        });
        Q_EMIT m.log()->customContextMenuRequested(QPoint(5, 5));
        QVERIFY2(actions.contains("Save log..."), qPrintable(actions.join('|')));
        QVERIFY(actions.filter("Copy").size() == 1);
        QVERIFY(QFile::exists(target));

        // Copy takes the selection, as it always did.
        QTextCursor selection = m.log()->textCursor();
        selection.setPosition(0);
        selection.setPosition(4, QTextCursor::KeepAnchor);
        m.log()->setTextCursor(selection);
        m.log()->copy();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("zo\u00eb@"));
    }

    void workbookFilterOffersEveryKind()
    {
        // The first filter is the one the dialog opens with.
        const QString first = FrmMain::WorkbookFilter.section(";;", 0, 0);
        QVERIFY(first.endsWith("(*.xls *.xlsx *.csv)"));
        QVERIFY(!first.startsWith("*"));
        QVERIFY(FrmMain::WorkbookFilter.contains("Excel workbooks (*.xls *.xlsx)"));
    }

    void profileRoundTrip()
    {
        const QString path = m_dir.filePath("fair.json");
        {
            Main m;
            m.api.fields = {"CONTACT", "PHONE1", "SOURCE"};
            m.form.setFileDialog([&](QWidget *, const FileRequest &request) {
                return request.save ? path : QString();
            });
            m.browse(m_people);
            m.emailColumn()->setCurrentIndex(1);
            m.update()->click();
            m.group()->click();
            m.get<QLineEdit>("txtGroupName")->setText("Fair");
            m.openMappings([&](FrmMappings &window) {
                pick(window, "lstExcel", "Name");
                pick(window, "lstGoldMine", "CONTACT");
                window.btnMap_Click();
                pick(window, "lstGoldMine", "SOURCE");
                m.prompts.answerInput("Spring fair");
                window.findChild<QPushButton *>(QStringLiteral("btnFixedText"))->click();
                window.findChild<QPushButton *>(QStringLiteral("btnSave"))->click();
                clickOk(window);
            });
        }
        const mapping::Result<Profile> saved = readProfile(path);
        QVERIFY(saved);
        QCOMPARE(saved->emailColumn, QStringLiteral("Email"));
        QVERIFY(saved->match && saved->updateMatches && saved->group);
        QCOMPARE(saved->groupName, QStringLiteral("Fair"));
        QCOMPARE(saved->mappings.size(), 2);
        QCOMPARE(saved->mappings[0].source, QStringLiteral("Name"));
        QVERIFY(!saved->mappings[0].fixed);
        QCOMPARE(saved->mappings[1].source, QStringLiteral("Spring fair"));
        QVERIFY(saved->mappings[1].fixed);
        QCOMPARE(saved->mappings[1].field, QStringLiteral("SOURCE"));

        // A new session takes it all back.
        Main m;
        m.api.fields = {"CONTACT", "PHONE1", "SOURCE"};
        m.form.setFileDialog(
            [&](QWidget *, const FileRequest &request) { return request.save ? QString() : path; });
        m.browse(m_people);
        m.emailColumn()->setEditText("Phone");
        QStringList entries;
        QStringList excel;
        QStringList goldMine;
        m.openMappings([&](FrmMappings &window) {
            window.findChild<QPushButton *>(QStringLiteral("btnLoad"))->click();
            entries = window.entries().entries();
            auto texts = [&](const char *name) {
                QStringList result;
                auto *list = window.findChild<QListWidget *>(QString::fromLatin1(name));
                for (int row = 0; row < list->count(); ++row)
                    result.append(list->item(row)->text());
                return result;
            };
            excel = texts("lstExcel");
            goldMine = texts("lstGoldMine");
            clickOk(window);
        });
        QCOMPARE(entries, QStringList({"Name\tCONTACT", "/Spring fair/\tSOURCE"}));
        QCOMPARE(m.emailColumn()->currentText(), QStringLiteral("Email"));
        QVERIFY(m.match()->isChecked());
        QVERIFY(m.update()->isChecked());
        QVERIFY(m.group()->isChecked());
        QCOMPARE(m.get<QLineEdit>("txtGroupName")->text(), QStringLiteral("Fair"));
        // The e-mail column and the mapped names leave the pick lists.
        QCOMPARE(excel, QStringList({"Phone"}));
        QCOMPARE(goldMine, QStringList({"PHONE1", "Website"}));
        // Set as the operator would tick it: the update warning, and nothing else.
        const QList<ScriptedPrompts::Shown> shown = m.prompts.messages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QStringLiteral("Match Update Warning"));
    }

    void profileWithAMissingColumn()
    {
        QString path = m_dir.filePath("other.json");
        Profile profile;
        profile.emailColumn = "E-mail";
        profile.mappings = {{false, "Fax", "PHONE2"},
                            {false, "Name", "CONTACT"},
                            {false, "Phone", "NOSUCH"},
                            {true, "x", "PHONE1"}};
        QVERIFY(writeProfile(path, profile));

        Main m;
        m.api.fields = {"CONTACT", "PHONE1", "PHONE2"};
        m.form.setFileDialog([&](QWidget *, const FileRequest &) { return path; });
        m.browse(m_people);
        m.emailColumn()->setCurrentIndex(1);
        QStringList entries;
        m.openMappings([&](FrmMappings &window) {
            window.findChild<QPushButton *>(QStringLiteral("btnLoad"))->click();
            entries = window.entries().entries();
            clickOk(window);
        });
        QCOMPARE(entries, QStringList({"Name\tCONTACT", "/x/\tPHONE1"}));
        QCOMPARE(m.emailColumn()->currentText(), QStringLiteral("Email"));
        const QList<ScriptedPrompts::Shown> shown = m.prompts.messages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].icon, PromptIcon::Warning);
        QCOMPARE(shown[0].title, QStringLiteral("Field Mappings"));
        QCOMPARE(shown[0].text,
                 QStringLiteral("These parts of the mapping profile could not be taken:\n"
                                "The e-mail column E-mail is not in the workbook.\n"
                                "Fax to PHONE2: the workbook has no column Fax.\n"
                                "Phone to NOSUCH: GoldMine has no contact field NOSUCH."));
    }

    void missingColumnEntryIsRefusedByTheRunAndCanBeDeleted()
    {
        Main m;
        m.api.fields = {"CONTACT"};
        m.browse(m_people);
        m.emailColumn()->setCurrentIndex(1);
        m.openMappings([](FrmMappings &window) {
            pick(window, "lstExcel", "Name");
            pick(window, "lstGoldMine", "CONTACT");
            window.btnMap_Click();
            clickOk(window);
        });
        // Next month's workbook has no Name column.
        m.browse(m_five);
        m.emailColumn()->setEditText("Email");
        m.prompts.clear();
        m.get<QPushButton>("btnImport")->click();
        QCOMPARE(m.prompts.messages().size(), 1);
        QVERIFY(m.prompts.messages()[0].text.startsWith(
            "The workbook's first sheet has no column named:\nName"));
        QVERIFY(m.api.executed.isEmpty());

        bool markedBefore = false;
        m.openMappings([&](FrmMappings &window) {
            markedBefore = window.isMissing(0);
            window.findChild<QListView *>(QStringLiteral("lstMappings"))
                ->setCurrentIndex(window.entries().index(0));
            window.findChild<QPushButton *>(QStringLiteral("btnDelete"))->click();
            clickOk(window);
        });
        QVERIFY(markedBefore);
        QCOMPARE(m.form.mappingWindow()->entries().count(), 0);
        m.prompts.clear();
        m.get<QPushButton>("btnImport")->click();
        QCOMPARE(m.prompts.messages().last().text, QStringLiteral(" 5 records processed!"));
    }

    void formLoadRunsStartUp()
    {
        Main m;
        FakeDdeLink link;
        link.items = {{"&sysdir", "/srv/gm"},
                      {"&golddir", "GoldMine:"},
                      {"&commondir", "Common:"},
                      {"&username", "MASTER"}};
        m.prompts.answerInput("secret");
        ConnectionSettings settings;
        QCOMPARE(m.form.Form_Load(link, settings), StartupOutcome::Ready);
        QCOMPARE(m.prompts.shown().size(), 1);
        QCOMPARE(m.prompts.shown().first().title, QStringLiteral("Authenticate"));
        QCOMPARE(settings.sUserName, QStringLiteral("MASTER"));

        Main refused;
        link.items.insert("&golddir", "/srv/gm/");
        ConnectionSettings refusedSettings;
        QCOMPARE(refused.form.Form_Load(link, refusedSettings), StartupOutcome::EndProgram);
        QCOMPARE(refused.prompts.messages().size(), 1);
        QCOMPARE(refused.prompts.messages().first().text,
                 QStringLiteral("Sorry, GoldMine 6 and older are NOT supported.."));
    }
};

QTEST_MAIN(TestFrmMain)
#include "TestFrmMain.moc"
