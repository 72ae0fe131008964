#include "cli/ConsolePrompts.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace cli {

namespace {

void writeLine(FILE *stream, const QString &text)
{
    QString line = text;
    // Start-up messages break lines as LF CR; a terminal wants LF alone.
    line.replace(QLatin1String("\n\r"), QLatin1String("\n"));
    line.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    const QByteArray bytes = line.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// Reads one line from the terminal with echo off.
QString readHiddenLine(const QString &prompt)
{
    const QByteArray shown = prompt.toLocal8Bit();
    std::fwrite(shown.constData(), 1, static_cast<size_t>(shown.size()), stderr);
    std::fflush(stderr);
    termios saved{};
    const bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    for (int c = std::fgetc(stdin); c != EOF && c != '\n'; c = std::fgetc(stdin))
        line.push_back(static_cast<char>(c));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    QString text = QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()));
    std::fill(line.begin(), line.end(), '\0');
    return text;
}

} // namespace

void ConsolePrompts::messageBox(const QString &text, const QString &title, util::PromptIcon icon)
{
    (void)icon;
    writeLine(stderr,
              title == util::applicationTitle() ? text : title + QStringLiteral(": ") + text);
}

bool ConsolePrompts::question(const QString &text, const QString & /*title*/)
{
    if (!m_questionAnswer)
        writeLine(stderr, QStringLiteral("ruvelo-import: ") + text + QStringLiteral(" No: ") +
                              m_questionHint);
    return m_questionAnswer;
}

QString ConsolePrompts::inputBox(const QString &prompt, const QString &title,
                                 const QString &defaultText, bool masked)
{
    if (!masked) {
        if (!isatty(STDIN_FILENO))
            return defaultText;
        return readHiddenLine(title + QStringLiteral(": ") + prompt);
    }
    // The password: the environment first, then a file, then the terminal.
    if (const char *fromEnvironment = std::getenv("RUVELO_PASSWORD"))
        return QString::fromLocal8Bit(fromEnvironment);
    if (!m_passwordFile.isEmpty()) {
        QFile file(m_passwordFile);
        if (!file.open(QIODevice::ReadOnly)) {
            writeLine(stderr, QStringLiteral("Cannot read the password file %1: %2")
                                  .arg(m_passwordFile, file.errorString()));
            m_passwordFailed = true;
            return {};
        }
        QByteArray bytes = file.readLine();
        while (bytes.endsWith('\n') || bytes.endsWith('\r'))
            bytes.chop(1);
        QString password = QString::fromLocal8Bit(bytes);
        bytes.fill('\0');
        return password;
    }
    if (isatty(STDIN_FILENO))
        return readHiddenLine(prompt);
    writeLine(stderr, QStringLiteral("No password: set RUVELO_PASSWORD, use --password-file, or "
                                     "run on a terminal."));
    m_passwordFailed = true;
    return {};
}

} // namespace cli
