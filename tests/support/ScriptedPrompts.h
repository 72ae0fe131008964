#pragma once

#include "util/Prompts.h"

#include <QList>
#include <QQueue>
#include <QString>

// Answers prompts from a script and records every box shown, so tests can
// assert the exact texts, titles and icons.
class ScriptedPrompts : public util::Prompts
{
public:
    struct Shown
    {
        enum Kind { Message, Input, Question } kind;
        QString text;
        QString title;
        util::PromptIcon icon = util::PromptIcon::None;
        bool masked = false;
    };

    // Queues the answer of the next input box (an empty text plays Cancel).
    void answerInput(const QString &answer) { m_answers.enqueue(answer); }
    // Queues the answer of the next question; unqueued questions get No.
    void answerQuestion(bool yes) { m_questionAnswers.enqueue(yes); }

    void messageBox(const QString &text, const QString &title, util::PromptIcon icon) override;
    QString inputBox(const QString &prompt, const QString &title, const QString &defaultText,
                     bool masked) override;
    bool question(const QString &text, const QString &title) override;
    void setWaitCursor(bool waiting) override { m_waiting = waiting; }

    const QList<Shown> &shown() const { return m_shown; }
    QList<Shown> messages() const;
    bool waiting() const { return m_waiting; }
    int unansweredInputs() const { return static_cast<int>(m_answers.size()); }
    void clear() { m_shown.clear(); }

private:
    QQueue<QString> m_answers;
    QQueue<bool> m_questionAnswers;
    QList<Shown> m_shown;
    bool m_waiting = false;
};
