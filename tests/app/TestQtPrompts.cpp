#include "app/QtPrompts.h"

#include <QApplication>
#include <QDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

using util::PromptIcon;
using namespace app;

namespace {

// Runs handle on the next modal dialog as soon as it shows.
void whenModalShows(const std::function<void(QWidget *)> &handle)
{
    auto *poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, handle] {
        if (QWidget *dialog = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            handle(dialog);
        }
    });
    poll->start();
}

} // namespace

class TestQtPrompts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void messageBoxes_data();
    void messageBoxes();
    void inputBoxes_data();
    void inputBoxes();
    void waitCursor();
    void boxesSpeakInTheWindowsFont_data();
    void boxesSpeakInTheWindowsFont();
};

void TestQtPrompts::messageBoxes_data()
{
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("expected");
    QTest::newRow("none") << int(PromptIcon::None) << int(QMessageBox::NoIcon);
    QTest::newRow("critical") << int(PromptIcon::Critical) << int(QMessageBox::Critical);
    QTest::newRow("information") << int(PromptIcon::Information) << int(QMessageBox::Information);
    QTest::newRow("warning") << int(PromptIcon::Warning) << int(QMessageBox::Warning);
}

void TestQtPrompts::messageBoxes()
{
    QFETCH(int, icon);
    QFETCH(int, expected);

    QString text;
    QString title;
    int shownIcon = -1;
    int buttons = 0;
    whenModalShows([&](QWidget *widget) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (!box)
            return widget->close();
        text = box->text();
        title = box->windowTitle();
        shownIcon = box->icon();
        buttons = int(box->standardButtons());
        box->button(QMessageBox::Ok)->click();
        return true;
    });
    QtPrompts prompts;
    prompts.messageBox(QStringLiteral("Error#: -4\n\rline two"), QStringLiteral("Ruvelo"),
                       PromptIcon(icon));
    QCOMPARE(text, QStringLiteral("Error#: -4\n\rline two"));
    QCOMPARE(title, QStringLiteral("Ruvelo"));
    QCOMPARE(shownIcon, expected);
    QCOMPARE(buttons, int(QMessageBox::Ok));
}

void TestQtPrompts::inputBoxes_data()
{
    QTest::addColumn<bool>("masked");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("answer");
    QTest::newRow("masked, OK") << true << true << "s3cret";
    QTest::newRow("masked, Cancel") << true << false << "";
    QTest::newRow("plain, OK") << false << true << "typed";
}

void TestQtPrompts::inputBoxes()
{
    QFETCH(bool, masked);
    QFETCH(bool, accept);
    QFETCH(QString, answer);

    QString label;
    QString title;
    int echoMode = -1;
    whenModalShows([&](QWidget *widget) {
        auto *dialog = qobject_cast<QInputDialog *>(widget);
        if (!dialog)
            return widget->close();
        label = dialog->labelText();
        title = dialog->windowTitle();
        echoMode = dialog->textEchoMode();
        dialog->setTextValue(masked ? QStringLiteral("s3cret") : QStringLiteral("typed"));
        accept ? dialog->accept() : dialog->reject();
        return true;
    });
    QtPrompts prompts;
    const QString result = prompts.inputBox(QStringLiteral("GoldMine Password for ANN: "),
                                            QStringLiteral("Authenticate"), QString(), masked);
    QCOMPARE(result, answer);
    QCOMPARE(label, QStringLiteral("GoldMine Password for ANN: "));
    QCOMPARE(title, QStringLiteral("Authenticate"));
    QCOMPARE(echoMode, int(masked ? QLineEdit::Password : QLineEdit::Normal));
}

void TestQtPrompts::waitCursor()
{
    {
        QtPrompts prompts;
        prompts.setWaitCursor(true);
        QVERIFY(QApplication::overrideCursor());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        prompts.setWaitCursor(true);
        prompts.setWaitCursor(false); // one request brings the default pointer back
        QVERIFY(!QApplication::overrideCursor());
        prompts.setWaitCursor(true);
    }
    // Nor does a prompts object that goes away leave the wait pointer behind.
    QVERIFY(!QApplication::overrideCursor());
}

void TestQtPrompts::boxesSpeakInTheWindowsFont_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("overDialog");
    QTest::newRow("message over the main window") << "message" << false;
    QTest::newRow("question over the main window") << "question" << false;
    QTest::newRow("input over the main window") << "input" << false;
    QTest::newRow("input over the mapping window") << "input" << true;
    QTest::newRow("message over the mapping window") << "message" << true;
}

void TestQtPrompts::boxesSpeakInTheWindowsFont()
{
    QFETCH(QString, kind);
    QFETCH(bool, overDialog);
    QWidget main;
    QFont mainFont(QStringLiteral("DejaVu Sans"));
    mainFont.setPointSize(7);
    main.setFont(mainFont);
    main.show();
    QDialog mapping(&main);
    QFont mappingFont(QStringLiteral("DejaVu Serif"));
    mappingFont.setPointSize(11);
    mapping.setFont(mappingFont);
    QtPrompts prompts(&main);

    QFont shown;
    QWidget *parent = nullptr;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        QWidget *widget = QApplication::activeModalWidget();
        if (!widget || widget == &mapping)
            return; // the box is not up yet
        poll.stop();
        shown = widget->font();
        parent = widget->parentWidget();
        widget->close();
    });
    poll.start();
    const auto ask = [&] {
        if (kind == "message")
            prompts.messageBox(QStringLiteral("text"), QStringLiteral("Ruvelo"), PromptIcon::None);
        else if (kind == "question")
            prompts.question(QStringLiteral("text?"), QStringLiteral("Ruvelo"));
        else
            prompts.inputBox(QStringLiteral("prompt"), QStringLiteral("Custom Mapping"), QString(),
                             false);
    };
    if (overDialog) {
        QTimer opened;
        opened.setSingleShot(true);
        connect(&opened, &QTimer::timeout, &mapping, [&] {
            ask();
            mapping.accept();
        });
        opened.start(0);
        mapping.exec();
    } else {
        ask();
    }
    const QFont expected = overDialog ? mappingFont : mainFont;
    QCOMPARE(shown.family(), expected.family());
    QCOMPARE(shown.pointSize(), expected.pointSize());
    QCOMPARE(parent, overDialog ? static_cast<QWidget *>(&mapping) : &main);
}

QTEST_MAIN(TestQtPrompts)
#include "TestQtPrompts.moc"
