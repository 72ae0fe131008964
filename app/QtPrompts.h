#pragma once

#include "util/Prompts.h"

class QWidget;

namespace app {

// Prompts answered with real dialogs, modal to the given parent window.
class QtPrompts : public util::Prompts
{
public:
    explicit QtPrompts(QWidget *parent = nullptr)
        : m_parent(parent)
    {}
    ~QtPrompts() override;

    void setParent(QWidget *parent) { m_parent = parent; }

    void messageBox(const QString &text, const QString &title, util::PromptIcon icon) override;
    QString inputBox(const QString &prompt, const QString &title, const QString &defaultText,
                     bool masked) override;
    bool question(const QString &text, const QString &title) override;
    void setWaitCursor(bool waiting) override;

private:
    QWidget *m_parent = nullptr;
    bool m_waiting = false;
};

} // namespace app
