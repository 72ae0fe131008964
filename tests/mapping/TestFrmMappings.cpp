#include "mapping/FieldListApi.h"
#include "mapping/FrmMappings.h"
#include "mapping/Profile.h"
#include "support/ScriptedPrompts.h"
#include "support/XlsxBuilder.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

using util::PromptIcon;
using namespace mapping;

// The mapping window over a fake GoldMine and real workbook files.
class TestFrmMappings : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_book; // columns Name, Email, company, email, Phone

    struct Window
    {
        FieldListApi api;
        ScriptedPrompts prompts;
        FrmMappings form{api, prompts};

        QListWidget *excel() { return form.findChild<QListWidget *>("lstExcel"); }
        QListWidget *goldMine() { return form.findChild<QListWidget *>("lstGoldMine"); }
        QListView *mappings() { return form.findChild<QListView *>("lstMappings"); }
        QCheckBox *clearFields() { return form.findChild<QCheckBox *>("chkClearFields"); }
        QPushButton *map() { return form.findChild<QPushButton *>("btnMap"); }
        QPushButton *button(const char *name)
        {
            auto *found = form.findChild<QPushButton *>(QString::fromLatin1(name));
            if (!found)
                qFatal("no button %s", name);
            return found;
        }

        void load(const QString &book, const QString &emailColumn = QStringLiteral("Email"),
                  bool match = true)
        {
            form.Form_Load({book, emailColumn, match});
        }
        void pick(QListWidget *list, const QString &text)
        {
            const QList<QListWidgetItem *> found = list->findItems(text, Qt::MatchExactly);
            QVERIFY2(!found.isEmpty(), qPrintable(text));
            list->setCurrentItem(found.last());
        }
        void selectEntry(int row) { mappings()->setCurrentIndex(form.entries().index(row)); }
        void keyUp(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
        {
            QKeyEvent release(QEvent::KeyRelease, key, modifiers);
            QCoreApplication::sendEvent(mappings(), &release);
        }
    };

    static QStringList texts(const QListWidget *list)
    {
        QStringList result;
        for (int row = 0; row < list->count(); ++row)
            result.append(list->item(row)->text());
        return result;
    }
    // The tool tip the entry list shows over an entry.
    static QString tipOver(Window &w, int row)
    {
        QListView *view = w.mappings();
        const QPoint at = view->visualRect(w.form.entries().index(row)).center();
        QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(view->viewport(), &help);
        QString text = QToolTip::text();
        QToolTip::hideText();
        return text;
    }
    // The colours of the text drawn in a row, the background left out.
    static QSet<QRgb> inkColours(const QImage &image, const QRect &row)
    {
        const QRgb background = image.pixel(row.right() - 1, row.center().y());
        QSet<QRgb> colours;
        for (int x = row.left(); x < row.right(); ++x) {
            for (int y = row.top(); y <= row.bottom(); ++y) {
                const QRgb pixel = image.pixel(x, y);
                // Only solid strokes: anti-aliased edges blend with the background.
                if (pixel != background && qAlpha(pixel) == 255 &&
                    qGray(pixel) <= qGray(darkest(image, row, background)))
                    colours.insert(pixel);
            }
        }
        return colours;
    }
    static QRgb darkest(const QImage &image, const QRect &row, QRgb background)
    {
        QRgb dark = background;
        for (int x = row.left(); x < row.right(); ++x)
            for (int y = row.top(); y <= row.bottom(); ++y)
                if (qGray(image.pixel(x, y)) < qGray(dark))
                    dark = image.pixel(x, y);
        return dark;
    }

    static QStringList selectedTexts(const QListWidget *list)
    {
        QStringList result;
        for (const QListWidgetItem *item : list->selectedItems())
            result.append(item->text());
        return result;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_book = m_dir.filePath("people.xlsx");
        QVERIFY(writeXlsx(m_book, QList<QVariantList>{
                                      {"Name", "Email", "company", "email", "Phone"},
                                      {"Ann", "ann@example.com", "Acme", "x", "1"},
                                  }));
    }

    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("caption");
        QTest::newRow("lstExcel") << "lstExcel" << QRect(120, 1440, 2535, 3570) << "";
        QTest::newRow("lstGoldMine") << "lstGoldMine" << QRect(3960, 1440, 2535, 3570) << "";
        QTest::newRow("lstMappings") << "lstMappings" << QRect(120, 6000, 6375, 2985) << "";
        QTest::newRow("btnMap") << "btnMap" << QRect(2880, 1680, 855, 735) << "&MAP!";
        QTest::newRow("Frame1") << "Frame1" << QRect(120, 120, 6375, 855) << "";
        QTest::newRow("Label1") << "Label1" << QRect(120, 240, 6015, 495)
                                << "To add a field mapping, select the excel field on the left "
                                   "and the appropriate GoldMine field on the right and hit the "
                                   "MAP button.";
        QTest::newRow("Label2") << "Label2" << QRect(120, 5640, 2055, 255) << "Defined Mappings:";
        QTest::newRow("Command2") << "Command2" << QRect(5280, 9120, 1095, 495) << "&Ok";
        QTest::newRow("Label3") << "Label3" << QRect(120, 1080, 1815, 255) << "Excel Fields";
        QTest::newRow("Label4") << "Label4" << QRect(3960, 1080, 1815, 255) << "GoldMine Fields";
        QTest::newRow("chkClearFields") << "chkClearFields" << QRect(240, 5160, 5295, 255)
                                        << "&Remove fields from the list after I map them";
    }
    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        QFETCH(QString, caption);
        Window w;
        auto *widget = w.form.findChild<QWidget *>(name);
        QVERIFY(widget);
        const QRect pixels = widget->geometry();
        QCOMPARE(QRect(pixels.x() * 15, pixels.y() * 15, pixels.width() * 15, pixels.height() * 15),
                 twips);
        if (auto *label = qobject_cast<QLabel *>(widget))
            QCOMPARE(label->text(), caption);
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            QCOMPARE(button->text(), caption);
    }

    void windowAndStartState()
    {
        Window w;
        QCOMPARE(w.form.windowTitle(), QStringLiteral("Field Mappings"));
        QCOMPARE(w.form.size() * 15, QSize(6585, 9795));
        QVERIFY(w.clearFields()->isChecked());
        QCOMPARE(w.form.findChild<QLabel *>("Label1")->parent(),
                 w.form.findChild<QGroupBox *>("Frame1"));
        QCOMPARE(w.form.findChild<QLabel *>("Label2")->font().pointSizeF(), 9.75);
        QCOMPARE(w.excel()->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(w.goldMine()->selectionMode(), QAbstractItemView::SingleSelection);
        QVERIFY(!w.excel()->isSortingEnabled());
        QCOMPARE(w.form.entries().count(), 0);

        // Tab order over the controls that take focus.
        QStringList order;
        QWidget *widget = w.excel();
        do {
            if (widget->focusPolicy() & Qt::TabFocus && !widget->objectName().isEmpty() &&
                !widget->objectName().startsWith("qt_"))
                order.append(widget->objectName());
            widget = widget->nextInFocusChain();
        } while (widget != w.excel());
        QCOMPARE(order, QStringList({"lstExcel", "lstGoldMine", "lstMappings", "btnMap", "Command2",
                                     "chkClearFields", "btnFixedText", "btnDelete", "btnSave",
                                     "btnLoad"}));
    }

    void filling_data()
    {
        QTest::addColumn<QString>("emailColumn");
        QTest::addColumn<bool>("match");
        QTest::addColumn<QStringList>("expected");
        const QStringList all{"Name", "Email", "company", "email", "Phone"};
        QTest::newRow("matching skips the e-mail column")
            << "Email" << true << QStringList{"Name", "company", "email", "Phone"};
        QTest::newRow("other case is not skipped")
            << "email" << true << QStringList{"Name", "Email", "company", "Phone"};
        QTest::newRow("not matching lists every column") << "Email" << false << all;
        QTest::newRow("no e-mail column") << "" << false << all;
    }
    void filling()
    {
        QFETCH(QString, emailColumn);
        QFETCH(bool, match);
        QFETCH(QStringList, expected);
        Window w;
        w.api.fields = {"ADDRESS1", " CITY ", "COMPANY"};
        w.load(m_book, emailColumn, match);
        QCOMPARE(texts(w.excel()), expected);
        // Read as GoldMine gives them, untrimmed, with Website always last.
        QCOMPARE(texts(w.goldMine()), QStringList({"ADDRESS1", " CITY ", "COMPANY", "Website"}));
        QCOMPARE(w.api.queries,
                 QStringList{"select field_name from contudef where dbfname like 'contact%' and "
                             "field_name<>'ACCOUNTNO' and field_name<>'RECID' order by "
                             "field_name"});
        QCOMPARE(w.api.sizingCounts, QList<int32_t>{2000});
        QCOMPARE(w.api.closed, QList<int32_t>{7});
        QVERIFY(w.prompts.shown().isEmpty());
    }

    void queryFailureStillOpensWithWebsite_data()
    {
        QTest::addColumn<int>("handle");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0
                              << "Connectivity to GoldMine Unexpectedly LOST!  GoldMine "
                                 "responded: 0";
        QTest::newRow("negative") << -3
                                  << "Connectivity to GoldMine Unexpectedly LOST!  "
                                     "GoldMine responded:-3";
    }
    void queryFailureStillOpensWithWebsite()
    {
        QFETCH(int, handle);
        QFETCH(QString, text);
        Window w;
        w.api.fields = {"COMPANY"};
        w.api.fieldQueryHandle = handle;
        w.load(m_book);
        QCOMPARE(texts(w.goldMine()), QStringList{"Website"});
        QCOMPARE(texts(w.excel()), QStringList({"Name", "company", "email", "Phone"}));
        const QList<ScriptedPrompts::Shown> shown = w.prompts.messages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, text);
        QCOMPARE(shown[0].title, QStringLiteral("GoldMine DDE Record Seek -- Error"));
        QCOMPARE(shown[0].icon, PromptIcon::Critical);
    }

    void unreadableWorkbookShowsOneMessage_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty path") << "" << QByteArray();
        QTest::newRow("not a workbook ending") << "notes.txt" << QByteArray("Name\n");
        QTest::newRow("missing file") << "missing.xlsx" << QByteArray();
        QTest::newRow("garbage") << "garbage.xlsx" << QByteArray("not a zip file");
    }
    void unreadableWorkbookShowsOneMessage()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, content);
        QString path;
        if (!fileName.isEmpty()) {
            path = m_dir.filePath(fileName);
            if (!content.isEmpty()) {
                QFile file(path);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(content);
            }
        }
        Window w;
        w.api.fields = {"COMPANY"};
        w.load(path);
        QCOMPARE(w.excel()->count(), 0);
        QCOMPARE(texts(w.goldMine()), QStringList({"COMPANY", "Website"}));
        const QList<ScriptedPrompts::Shown> shown = w.prompts.messages();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QStringLiteral("Data Error"));
        QCOMPARE(shown[0].icon, PromptIcon::Critical);
        // A file that is not there is named as such, in the run's words.
        const QString lead = QFile::exists(path) ? QStringLiteral("Can't read the workbook.\n\n")
                                                 : QStringLiteral("Can't find the specified file!");
        QVERIFY2(shown[0].text.startsWith(lead), qPrintable(shown[0].text));
    }

    void mapWithClearFields()
    {
        Window w;
        w.api.fields = {"COMPANY", "CONTACT"};
        w.load(m_book);
        w.pick(w.excel(), "Name");
        w.pick(w.goldMine(), "CONTACT");
        w.map()->click();
        QCOMPARE(w.form.entries().entries(), QStringList{"Name\tCONTACT"});
        QCOMPARE(texts(w.excel()), QStringList({"company", "email", "Phone"}));
        QCOMPARE(texts(w.goldMine()), QStringList({"COMPANY", "Website"}));
        QVERIFY(w.excel()->selectedItems().isEmpty());
        QVERIFY(w.goldMine()->selectedItems().isEmpty());

        // Nothing selected: a second MAP does nothing and says nothing.
        w.map()->click();
        QCOMPARE(w.form.entries().count(), 1);
        // Only one side selected: still nothing.
        w.pick(w.goldMine(), "Website");
        w.map()->click();
        QCOMPARE(w.form.entries().count(), 1);

        // Deleting the entry does not give the names back.
        w.selectEntry(0);
        w.keyUp(Qt::Key_Delete);
        QCOMPARE(w.form.entries().count(), 0);
        QCOMPARE(texts(w.excel()), QStringList({"company", "email", "Phone"}));
        QCOMPARE(texts(w.goldMine()), QStringList({"COMPANY", "Website"}));
        QVERIFY(w.prompts.shown().isEmpty());
    }

    void mapWithoutClearFieldsRepeats()
    {
        Window w;
        w.api.fields = {"PHONE1"};
        w.load(m_book);
        w.clearFields()->setChecked(false);
        w.pick(w.excel(), "Phone");
        w.pick(w.goldMine(), "PHONE1");
        w.map()->click();
        w.map()->click();
        QCOMPARE(w.form.entries().entries(), QStringList({"Phone\tPHONE1", "Phone\tPHONE1"}));
        QCOMPARE(selectedTexts(w.excel()), QStringList{"Phone"});
        QCOMPARE(selectedTexts(w.goldMine()), QStringList{"PHONE1"});
    }

    void preselecting_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("excelName");
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("expectedRow");
        QTest::newRow("case-insensitive") << QStringList{"CITY", "COMPANY"} << "company"
                                          << "" << 1;
        QTest::newRow("last match wins")
            << QStringList{"COMPANY", "Company", "PHONE1", "company"} << "company"
            << "" << 3;
        QTest::newRow("no match keeps selection") << QStringList{"CITY", "COMPANY"} << "Phone"
                                                  << "CITY" << 0;
        QTest::newRow("no match, no selection") << QStringList{"CITY"} << "Name"
                                                << "" << -1;
    }
    void preselecting()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, excelName);
        QFETCH(QString, before);
        QFETCH(int, expectedRow);
        Window w;
        w.api.fields = fields;
        w.load(m_book);
        if (!before.isEmpty())
            w.pick(w.goldMine(), before);
        w.pick(w.excel(), excelName);
        const QList<QListWidgetItem *> selected = w.goldMine()->selectedItems();
        if (expectedRow < 0) {
            QVERIFY(selected.isEmpty());
        } else {
            QCOMPARE(selected.size(), 1);
            QCOMPARE(w.goldMine()->row(selected.first()), expectedRow);
        }
    }

    void clickingTheSelectedNameAgainPreselects()
    {
        Window w;
        w.api.fields = {"CITY", "COMPANY"};
        w.load(m_book);
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        QListWidget *excel = w.excel();
        const QPoint company =
            excel->visualItemRect(excel->findItems("company", Qt::MatchExactly).first()).center();
        QTest::mouseClick(excel->viewport(), Qt::LeftButton, {}, company);
        QCOMPARE(selectedTexts(w.goldMine()), QStringList{"COMPANY"});
        w.pick(w.goldMine(), "CITY");
        QTest::qWait(QApplication::doubleClickInterval() + 50); // a click, not a double-click
        QTest::mouseClick(excel->viewport(), Qt::LeftButton, {}, company);
        QCOMPARE(selectedTexts(w.goldMine()), QStringList{"COMPANY"});
        w.form.hide();
    }

    void doubleClicksMap()
    {
        Window w;
        w.api.fields = {"CITY", "COMPANY"};
        w.load(m_book);
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));

        // Clicking "company" preselects COMPANY; the double-click maps at once.
        QListWidget *excel = w.excel();
        const QPoint company =
            excel->visualItemRect(excel->findItems("company", Qt::MatchExactly).first()).center();
        QTest::mouseClick(excel->viewport(), Qt::LeftButton, {}, company);
        QTest::mouseDClick(excel->viewport(), Qt::LeftButton, {}, company);
        QCOMPARE(w.form.entries().entries(), QStringList{"company\tCOMPANY"});

        // A double-click in the GoldMine list maps too.
        w.clearFields()->setChecked(false);
        w.pick(w.excel(), "Phone");
        QListWidget *goldMine = w.goldMine();
        const QPoint city =
            goldMine->visualItemRect(goldMine->findItems("CITY", Qt::MatchExactly).first())
                .center();
        QTest::mouseClick(goldMine->viewport(), Qt::LeftButton, {}, city);
        QTest::mouseDClick(goldMine->viewport(), Qt::LeftButton, {}, city);
        QCOMPARE(w.form.entries().entries(), QStringList({"company\tCOMPANY", "Phone\tCITY"}));
        w.form.hide();
    }

    void customMapping_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("expected");
        QTest::newRow("typed") << "Acme Ltd"
                               << "/Acme Ltd/\tCOMPANY";
        QTest::newRow("cancelled") << ""
                                   << "//\tCOMPANY";
    }
    void customMapping()
    {
        QFETCH(QString, answer);
        QFETCH(QString, expected);
        Window w;
        w.api.fields = {"COMPANY", "CONTACT"};
        w.load(m_book);
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        w.pick(w.excel(), "company");
        w.map()->click();
        w.pick(w.excel(), "Name");
        w.pick(w.goldMine(), "CONTACT");
        w.map()->click();
        QCOMPARE(w.form.entries().count(), 2);

        w.prompts.answerInput(answer);
        QListView *view = w.mappings();
        const QPoint first = view->visualRect(w.form.entries().index(0)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, first);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, first);

        QCOMPARE(w.prompts.shown().size(), 1);
        const ScriptedPrompts::Shown box = w.prompts.shown().first();
        QCOMPARE(box.kind, ScriptedPrompts::Shown::Input);
        QCOMPARE(box.title, QStringLiteral("Custom Mapping"));
        QCOMPARE(box.text, QStringLiteral("Current mapping for the COMPANY field is company: "));
        QVERIFY(!box.masked);
        QCOMPARE(w.form.entries().entries(), QStringList({"Name\tCONTACT", expected}));
        QVERIFY(!view->currentIndex().isValid());
        w.form.hide();
    }

    void deleting_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("removes");
        QTest::newRow("Delete") << int(Qt::Key_Delete) << int(Qt::NoModifier) << true;
        QTest::newRow("Shift+Delete") << int(Qt::Key_Delete) << int(Qt::ShiftModifier) << true;
        QTest::newRow("Ctrl+Delete") << int(Qt::Key_Delete) << int(Qt::ControlModifier) << true;
        QTest::newRow("Backspace") << int(Qt::Key_Backspace) << int(Qt::NoModifier) << false;
        QTest::newRow("letter") << int(Qt::Key_D) << int(Qt::NoModifier) << false;
    }
    void deleting()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, removes);
        Window w;
        w.api.fields = {"A1", "A2"};
        w.load(m_book);
        w.clearFields()->setChecked(false);
        w.pick(w.excel(), "Name");
        w.pick(w.goldMine(), "A1");
        w.map()->click();
        w.pick(w.goldMine(), "A2");
        w.map()->click();
        w.selectEntry(0);
        w.keyUp(key, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(w.form.entries().entries(),
                 removes ? QStringList{"Name\tA2"} : QStringList({"Name\tA1", "Name\tA2"}));
    }

    void deleteWithoutCurrentEntryDoesNothing()
    {
        Window w;
        w.load(m_book);
        w.clearFields()->setChecked(false);
        w.pick(w.excel(), "Name");
        w.pick(w.goldMine(), "Website");
        w.map()->click();
        w.keyUp(Qt::Key_Delete); // no current entry yet
        QCOMPARE(w.form.entries().count(), 1);
        w.selectEntry(0);
        w.keyUp(Qt::Key_Delete);
        w.keyUp(Qt::Key_Delete); // the removal left no current entry
        QCOMPARE(w.form.entries().count(), 0);

        // A held key repeats releases; only the real release counts.
        w.pick(w.excel(), "Phone");
        w.pick(w.goldMine(), "Website");
        w.map()->click();
        w.map()->click();
        w.selectEntry(0);
        QKeyEvent repeat(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier, QString(), true);
        QCoreApplication::sendEvent(w.mappings(), &repeat);
        QCOMPARE(w.form.entries().count(), 2);
    }

    void okHidesAndEscapeDoesNothing()
    {
        Window w;
        w.load(m_book);
        bool keptOpenByEscape = false;
        bool hiddenByAccessKey = false;
        QTimer::singleShot(0, &w.form, [&] {
            w.form.activateWindow();
            if (!QTest::qWaitForWindowActive(&w.form))
                return w.form.findChild<QPushButton *>("Command2")->click();
            QTest::keyClick(&w.form, Qt::Key_Escape);
            keptOpenByEscape = w.form.isVisible();
            // An access key presses its button with a short animation.
            QTest::keyClick(&w.form, Qt::Key_O, Qt::AltModifier);
            hiddenByAccessKey = QTest::qWaitFor([&] { return !w.form.isVisible(); }, 2000);
            if (w.form.isVisible())
                w.form.findChild<QPushButton *>("Command2")->click();
        });
        QCOMPARE(w.form.exec(), int(QDialog::Accepted));
        QVERIFY(keptOpenByEscape);
        QVERIFY(hiddenByAccessKey);
        QVERIFY(!w.form.isVisible());

        QTimer::singleShot(0, &w.form, [&] { w.form.close(); });
        QCOMPARE(w.form.exec(), int(QDialog::Rejected));
    }

    void fixedTextButton()
    {
        Window w;
        w.api.fields = {"COMPANY", "SOURCE"};
        w.load(m_book);
        QPushButton *fixed = w.button("btnFixedText");
        QVERIFY(!fixed->isEnabled()); // no GoldMine field chosen yet
        QVERIFY(fixed->focusPolicy() & Qt::TabFocus);
        w.pick(w.goldMine(), "SOURCE");
        QVERIFY(fixed->isEnabled());

        w.prompts.answerInput("Trade fair");
        fixed->click();
        QCOMPARE(w.prompts.shown().size(), 1);
        const ScriptedPrompts::Shown box = w.prompts.shown().first();
        QCOMPARE(box.kind, ScriptedPrompts::Shown::Input);
        QCOMPARE(box.title, QStringLiteral("Custom Mapping"));
        QCOMPARE(box.text, QStringLiteral("Fixed text for the SOURCE field of every contact: "));
        QCOMPARE(w.form.entries().entries(), QStringList{"/Trade fair/\tSOURCE"});
        // With "Remove fields ..." ticked the field leaves its list, as after MAP.
        QCOMPARE(texts(w.goldMine()), QStringList({"COMPANY", "Website"}));
        QVERIFY(!fixed->isEnabled());

        // Cancel makes nothing: an empty fixed text would blank the field.
        w.clearFields()->setChecked(false);
        w.pick(w.goldMine(), "COMPANY");
        fixed->click();
        QCOMPARE(w.form.entries().count(), 1);
        QCOMPARE(texts(w.goldMine()), QStringList({"COMPANY", "Website"}));
        // "/" typed into the text is kept, as a double-click's would be.
        w.prompts.answerInput("Sales/EMEA");
        fixed->click();
        QCOMPARE(w.form.entries().entries(),
                 QStringList({"/Trade fair/\tSOURCE", "/Sales/EMEA/\tCOMPANY"}));
        QCOMPARE(EntryList::valueSource(w.form.entries().entry(1)).fixedValue,
                 QStringLiteral("Sales/EMEA"));
    }

    void deleteButton()
    {
        Window w;
        w.api.fields = {"A1", "A2"};
        w.load(m_book);
        w.clearFields()->setChecked(false);
        w.pick(w.excel(), "Name");
        w.pick(w.goldMine(), "A1");
        w.map()->click();
        w.pick(w.goldMine(), "A2");
        w.map()->click();
        QPushButton *remove = w.button("btnDelete");
        QVERIFY(!remove->isEnabled()); // no entry chosen
        w.selectEntry(1);
        QVERIFY(remove->isEnabled());
        remove->click();
        QCOMPARE(w.form.entries().entries(), QStringList{"Name\tA1"});
        // Like the Delete key, it leaves no current entry to take next.
        QVERIFY(!remove->isEnabled());
        remove->click();
        QCOMPARE(w.form.entries().count(), 1);
    }

    void buttonsAnswerTheirAccessKeys()
    {
        Window w;
        w.api.fields = {"A1", "SOURCE"};
        w.load(m_book);
        w.clearFields()->setChecked(false);
        w.pick(w.excel(), "Name");
        w.pick(w.goldMine(), "A1");
        w.map()->click();
        w.form.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
        w.selectEntry(0);
        QTest::keyClick(&w.form, Qt::Key_D, Qt::AltModifier);
        QTRY_COMPARE(w.form.entries().count(), 0);
        w.pick(w.goldMine(), "SOURCE");
        w.prompts.answerInput("Fair");
        QTest::keyClick(&w.form, Qt::Key_F, Qt::AltModifier);
        QTRY_COMPARE(w.form.entries().entries(), QStringList{"/Fair/\tSOURCE"});
        w.form.hide();
    }

    void refreshFollowsTheWorkbook()
    {
        const QString other = m_dir.filePath("other.xlsx");
        QVERIFY(
            writeXlsx(other, QList<QVariantList>{{"Name", "Mail", "Fax"}, {"Bo", "b@x.y", "1"}}));
        Window w;
        w.api.fields = {"COMPANY", "CONTACT", "PHONE1"};
        w.load(m_book);
        w.pick(w.excel(), "Phone");
        w.pick(w.goldMine(), "PHONE1");
        w.map()->click();
        w.pick(w.excel(), "Name");
        w.pick(w.goldMine(), "CONTACT");
        w.map()->click();
        w.pick(w.goldMine(), "COMPANY");
        w.prompts.answerInput("Acme");
        w.button("btnFixedText")->click();
        w.pick(w.excel(), "company");
        const int queries = w.api.fieldQueries();

        // The same workbook and options: the lists stay as they were.
        w.form.refresh({m_book, "Email", true});
        QCOMPARE(selectedTexts(w.excel()), QStringList{"company"});
        QCOMPARE(texts(w.excel()), QStringList({"company", "email"}));

        // Another workbook: its columns, without the e-mail column and those
        // mapped; the entries stay and the one whose column is gone is marked.
        w.form.refresh({other, "Mail", true});
        QCOMPARE(texts(w.excel()), QStringList{"Fax"});
        QCOMPARE(texts(w.goldMine()), QStringList{"Website"});
        QCOMPARE(w.form.entries().count(), 3);
        QVERIFY(w.form.isMissing(0));            // Phone
        QVERIFY(!w.form.isMissing(1));           // Name is there
        QVERIFY(!w.form.isMissing(2));           // a fixed text needs no column
        QCOMPARE(w.api.fieldQueries(), queries); // GoldMine's fields are not asked again

        // Shown greyed with its mark, the whole entry in its tool tip.
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        QCOMPARE(tipOver(w, 0), QStringLiteral("Phone \u2192 PHONE1\nThe workbook has no column "
                                               "of this name."));
        QCOMPARE(tipOver(w, 1), QStringLiteral("Name \u2192 CONTACT"));
        const QImage image = w.mappings()->viewport()->grab().toImage();
        QCOMPARE(
            inkColours(image, w.mappings()->visualRect(w.form.entries().index(0))),
            QSet<QRgb>{w.mappings()->palette().color(QPalette::Disabled, QPalette::Text).rgb()});
        QCOMPARE(inkColours(image, w.mappings()->visualRect(w.form.entries().index(1))),
                 QSet<QRgb>{w.mappings()->palette().color(QPalette::Normal, QPalette::Text).rgb()});
        w.form.hide();

        // The marked entry can go; the rest stay.
        w.selectEntry(0);
        w.button("btnDelete")->click();
        QCOMPARE(w.form.entries().entries(), QStringList({"Name\tCONTACT", "/Acme/\tCOMPANY"}));

        // The same path rewritten since: read again.
        QVERIFY(writeXlsx(other, QList<QVariantList>{{"Name", "Mail", "Mobile"}}));
        QFile(other).setFileTime(QDateTime::currentDateTime().addSecs(60),
                                 QFileDevice::FileModificationTime);
        w.form.refresh({other, "Mail", true});
        QCOMPARE(texts(w.excel()), QStringList{"Mobile"});
    }

    void longNamesReadInFull()
    {
        const QString wide = m_dir.filePath("wide.xlsx");
        const QString longName =
            QStringLiteral("Company name as written on the trade fair's registration form");
        QVERIFY(writeXlsx(wide, QList<QVariantList>{{"Email", longName}}));
        Window w;
        w.api.fields = {"COMPANY"};
        w.load(wide);
        w.pick(w.excel(), longName);
        w.pick(w.goldMine(), "COMPANY");
        w.map()->click();
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        QCOMPARE(tipOver(w, 0), longName + QStringLiteral(" \u2192 COMPANY"));
        w.form.hide();
    }

    void closingWithChangesAsks()
    {
        Window w;
        w.api.fields = {"COMPANY", "CONTACT"};
        w.load(m_book);

        // Unchanged: closing asks nothing.
        QTimer::singleShot(0, &w.form, [&] { w.form.close(); });
        QCOMPARE(w.form.exec(), int(QDialog::Rejected));
        QVERIFY(w.prompts.shown().isEmpty());

        // Changed, and the operator says No: the window stays.
        bool stayed = false;
        QTimer::singleShot(0, &w.form, [&] {
            w.pick(w.excel(), "Name");
            w.pick(w.goldMine(), "CONTACT");
            w.map()->click();
            stayed = !w.form.close() && w.form.isVisible();
            w.button("Command2")->click();
        });
        QCOMPARE(w.form.exec(), int(QDialog::Accepted));
        QVERIFY(stayed);
        QCOMPARE(w.prompts.shown().size(), 1);
        QCOMPARE(w.prompts.shown()[0].kind, ScriptedPrompts::Shown::Question);
        QCOMPARE(w.prompts.shown()[0].text, QStringLiteral("Discard the changes to the mappings?"));
        QCOMPARE(w.prompts.shown()[0].title, QStringLiteral("Field Mappings"));
        QCOMPARE(w.form.entries().count(), 1);

        // Opened again with that entry: no change yet, no question.
        w.prompts.clear();
        QTimer::singleShot(0, &w.form, [&] { w.form.close(); });
        QCOMPARE(w.form.exec(), int(QDialog::Rejected));
        QVERIFY(w.prompts.shown().isEmpty());

        // Changed, and Yes: closed, as closing always did.
        w.prompts.answerQuestion(true);
        QTimer::singleShot(0, &w.form, [&] {
            w.selectEntry(0);
            w.button("btnDelete")->click();
            w.form.close();
        });
        QCOMPARE(w.form.exec(), int(QDialog::Rejected));
        QCOMPARE(w.prompts.shown().size(), 1);
        QVERIFY(!w.form.isVisible());
    }

    void profileSaveAndLoad()
    {
        const QString path = m_dir.filePath("profile.json");
        Window w;
        w.api.fields = {"COMPANY", "CONTACT"};
        w.load(m_book);
        QList<FileRequest> requests;
        w.form.setFileDialog([&](QWidget *parent, const FileRequest &request) {
            requests.append(request);
            return parent == &w.form ? path : QString();
        });
        Profile applied;
        int applies = 0;
        w.form.setOptionsLink({[] {
                                   Profile options;
                                   options.emailColumn = "Email";
                                   options.updateMatches = true;
                                   options.group = true;
                                   options.groupName = "Fair";
                                   return options;
                               },
                               [&](const Profile &profile) {
                                   applied = profile;
                                   ++applies;
                               }});
        w.pick(w.excel(), "company");
        w.map()->click();
        w.pick(w.goldMine(), "CONTACT");
        w.prompts.answerInput("Someone");
        w.button("btnFixedText")->click();
        w.button("btnSave")->click();
        QCOMPARE(requests.size(), 1);
        QVERIFY(requests[0].save);
        QCOMPARE(requests[0].defaultSuffix, QStringLiteral("json"));
        const mapping::Result<Profile> saved = readProfile(path);
        QVERIFY(saved);
        QCOMPARE(saved->emailColumn, QStringLiteral("Email"));
        QVERIFY(saved->updateMatches && saved->group);
        QCOMPARE(saved->mappings.size(), 2);
        QCOMPARE(applies, 0); // saving changes nothing in the main window

        // Loading replaces the entries and hands the options over.
        w.selectEntry(0);
        w.button("btnDelete")->click();
        w.button("btnLoad")->click();
        QVERIFY(!requests.last().save);
        QCOMPARE(w.form.entries().entries(),
                 QStringList({"company\tCOMPANY", "/Someone/\tCONTACT"}));
        QCOMPARE(applies, 1);
        QCOMPARE(applied.emailColumn, QStringLiteral("Email"));
        QCOMPARE(applied.groupName, QStringLiteral("Fair"));
        QVERIFY(w.prompts.messages().isEmpty());

        // A file that is no profile says so and changes nothing.
        QFile junk(path);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("{\"format\": \"something else\"}");
        junk.close();
        w.button("btnLoad")->click();
        QCOMPARE(w.form.entries().count(), 2);
        QCOMPARE(applies, 1);
        QCOMPARE(w.prompts.messages().size(), 1);
        QCOMPARE(w.prompts.messages()[0].icon, PromptIcon::Critical);
        QVERIFY(w.prompts.messages()[0].text.contains("not a Ruvelo mapping profile"));

        // Cancelled dialogs do nothing.
        w.form.setFileDialog([](QWidget *, const FileRequest &) { return QString(); });
        w.button("btnLoad")->click();
        w.button("btnSave")->click();
        QCOMPARE(w.form.entries().count(), 2);
        QCOMPARE(w.prompts.messages().size(), 1);
    }

    void entriesTabShownAsColumnGap()
    {
        Window w;
        w.api.fields = {"COMPANY"};
        w.load(m_book);
        w.pick(w.excel(), "company");
        w.map()->click();
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        const QImage image = w.mappings()->viewport()->grab().toImage();
        const QRect row = w.mappings()->visualRect(w.form.entries().index(0));
        // Ink in the left half (Excel half) and from the middle on (GoldMine half),
        // and a blank stretch between them.
        auto inked = [&](int from, int to) {
            const QColor background = image.pixelColor(row.right() - 1, row.center().y());
            for (int x = from; x < to; ++x)
                for (int y = row.top(); y <= row.bottom(); ++y)
                    if (image.pixelColor(x, y) != background)
                        return true;
            return false;
        };
        const int middle = row.left() + row.width() / 2;
        QVERIFY(inked(row.left(), row.left() + 60));
        QVERIFY(!inked(row.left() + 80, middle - 4));
        QVERIFY(inked(middle, middle + 60));
        w.form.hide();
    }
};

QTEST_MAIN(TestFrmMappings)
#include "TestFrmMappings.moc"
