#pragma once

#include "util/Prompts.h"

#include <QString>

namespace cli {

// Prompts for the command line: boxes become lines on standard error (the
// closing count of an import goes to standard output), and the password comes
// from the environment, a file, or the terminal without echo.
class ConsolePrompts : public util::Prompts
{
public:
    void messageBox(const QString &text, const QString &title, util::PromptIcon icon) override;
    QString inputBox(const QString &prompt, const QString &title, const QString &defaultText,
                     bool masked) override;

    bool question(const QString &text, const QString &title) override;

    void setPasswordFile(const QString &path) { m_passwordFile = path; }
    // How questions are answered without anybody to ask: Yes, or No with a
    // hint at the option that would have said Yes.
    void setQuestionAnswer(bool yes, const QString &hintWhenNo)
    {
        m_questionAnswer = yes;
        m_questionHint = hintWhenNo;
    }
    // Whether the password could be had from any source.
    bool passwordFailed() const { return m_passwordFailed; }

private:
    QString m_passwordFile;
    bool m_questionAnswer = false;
    QString m_questionHint;
    bool m_passwordFailed = false;
};

} // namespace cli
