#pragma once

#include <QString>

namespace util {

// The icon a message box carries.
enum class PromptIcon { None, Critical, Information, Warning };

// Every modal prompt the program shows goes through this one seam: the windows
// answer it with real dialogs, the tests with a script that records each box.
class Prompts
{
public:
    virtual ~Prompts();

    // A modal box with an OK button only.
    virtual void messageBox(const QString &text, const QString &title, PromptIcon icon) = 0;

    // A modal input box; Cancel gives empty text. A masked box never shows
    // what is typed (passwords).
    virtual QString inputBox(const QString &prompt, const QString &title,
                             const QString &defaultText, bool masked) = 0;

    // A modal question with Yes and No buttons; true for Yes. Front ends that
    // cannot ask answer No.
    virtual bool question(const QString & /*text*/, const QString & /*title*/) { return false; }

    // The wait pointer during long steps; the default pointer otherwise.
    virtual void setWaitCursor(bool /*waiting*/) {}
};

// The application title, used by every box that names no title of its own.
inline const QString &applicationTitle()
{
    static const QString title = QStringLiteral("Ruvelo");
    return title;
}

} // namespace util
