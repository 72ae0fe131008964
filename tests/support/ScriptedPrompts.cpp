#include "support/ScriptedPrompts.h"

void ScriptedPrompts::messageBox(const QString &text, const QString &title, util::PromptIcon icon)
{
    m_shown.append({Shown::Message, text, title, icon, false});
}

QString ScriptedPrompts::inputBox(const QString &prompt, const QString &title,
                                  const QString & /*defaultText*/, bool masked)
{
    m_shown.append({Shown::Input, prompt, title, util::PromptIcon::None, masked});
    return m_answers.isEmpty() ? QString() : m_answers.dequeue();
}

bool ScriptedPrompts::question(const QString &text, const QString &title)
{
    m_shown.append({Shown::Question, text, title, util::PromptIcon::None, false});
    return m_questionAnswers.isEmpty() ? false : m_questionAnswers.dequeue();
}

QList<ScriptedPrompts::Shown> ScriptedPrompts::messages() const
{
    QList<Shown> result;
    for (const Shown &box : m_shown) {
        if (box.kind == Shown::Message)
            result.append(box);
    }
    return result;
}
