#include "app/QtPrompts.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace app {

namespace {

QMessageBox::Icon messageBoxIcon(util::PromptIcon icon)
{
    switch (icon) {
    case util::PromptIcon::Critical:
        return QMessageBox::Critical;
    case util::PromptIcon::Information:
        return QMessageBox::Information;
    case util::PromptIcon::Warning:
        return QMessageBox::Warning;
    case util::PromptIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QWidget *QtPrompts::owner() const
{
    // A box asked for from the mapping window belongs over it, not over the
    // main window behind it.
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    return m_parent;
}

void QtPrompts::dress(QWidget &dialog) const
{
    // A box is its own window and would take the desktop's larger default
    // font; it speaks in the font of the window it belongs to.
    const QWidget *window = owner();
    if (window)
        dialog.setFont(window->font());
    else if (m_font)
        dialog.setFont(*m_font);
}

QtPrompts::~QtPrompts()
{
    // Leave no wait pointer behind on the application.
    QtPrompts::setWaitCursor(false);
}

void QtPrompts::messageBox(const QString &text, const QString &title, util::PromptIcon icon)
{
    QMessageBox box(messageBoxIcon(icon), title, text, QMessageBox::Ok, owner());
    dress(box);
    box.exec();
}

QString QtPrompts::inputBox(const QString &prompt, const QString &title, const QString &defaultText,
                            bool masked)
{
    QInputDialog dialog(owner());
    dress(dialog);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    dialog.setTextEchoMode(masked ? QLineEdit::Password : QLineEdit::Normal);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    QString answer = dialog.textValue();
    if (masked) {
        // The dialog keeps no copy of a password after it is read.
        dialog.setTextValue(QString());
    }
    return answer;
}

bool QtPrompts::question(const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No,
                    owner());
    dress(box);
    // The careful answer is the one Enter gives.
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QtPrompts::setWaitCursor(bool waiting)
{
    // One override at most, so a single request brings the default pointer back.
    if (waiting == m_waiting)
        return;
    if (waiting)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
    m_waiting = waiting;
}

} // namespace app
