#include "cli/ConsolePrompts.h"

#include "util/SecretText.h"

#include <QFile>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace cli {

namespace {

const QString Program = QStringLiteral("ruvelo-import: ");

// One message: its first line as given, the lines after it indented, so that
// each message visibly starts with the program's name.
void writeLine(FILE *stream, const QString &text)
{
    QString line = text;
    // Start-up messages break lines as LF CR; a terminal wants LF alone.
    line.replace(QLatin1String("\n\r"), QLatin1String("\n"));
    line.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    line = line.split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(QStringLiteral("\n  "));
    const QByteArray bytes = line.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// Overwrites a buffer in a way the compiler may not leave out.
void wipe(void *data, size_t size)
{
    volatile auto *bytes = static_cast<volatile unsigned char *>(data);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = 0;
}

// Reads one line from the terminal with echo off, byte by byte with read(2):
// no stdio buffer ever holds it, and the one buffer that does is wiped.
QString readHiddenLine(int terminal, const QString &prompt)
{
    // Echo goes off before the prompt shows, so nothing typed after the prompt
    // is shown or thrown away.
    termios saved{};
    const bool echoOff = tcgetattr(terminal, &saved) == 0;
    if (echoOff) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(terminal, TCSAFLUSH, &quiet);
    }
    const QByteArray shown = prompt.toLocal8Bit();
    if (::write(terminal, shown.constData(), static_cast<size_t>(shown.size())) < 0) {
        // The prompt is a courtesy; the answer is still read.
    }
    std::array<char, 1024> line{};
    size_t length = 0;
    for (;;) {
        char c = 0;
        const ssize_t got = ::read(terminal, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || c == '\n' || c == '\r')
            break;
        if (length < line.size())
            line[length++] = c;
        c = 0;
    }
    if (echoOff) {
        tcsetattr(terminal, TCSAFLUSH, &saved);
        if (::write(terminal, "\n", 1) < 0) {
            // Only the line break after the hidden answer.
        }
    }
    QString text = util::secretFromLocal8Bit(line.data(), static_cast<qsizetype>(length));
    wipe(line.data(), line.size());
    return text;
}

} // namespace

void ConsolePrompts::messageBox(const QString &text, const QString &title, util::PromptIcon icon)
{
    (void)icon;
    writeLine(stderr,
              Program +
                  (title == util::applicationTitle() ? text : title + QStringLiteral(": ") + text));
}

bool ConsolePrompts::question(const QString &text, const QString & /*title*/)
{
    if (!m_questionAnswer)
        writeLine(stderr, Program + text + QStringLiteral(" No: ") + m_questionHint);
    return m_questionAnswer;
}

QString ConsolePrompts::inputBox(const QString &prompt, const QString &title,
                                 const QString &defaultText, bool masked)
{
    m_unanswered = false;
    if (!masked) {
        if (!isatty(STDIN_FILENO))
            return defaultText;
        return readHiddenLine(STDIN_FILENO, title + QStringLiteral(": ") + prompt);
    }
    // The password: the environment first, then a file, then the terminal.
    if (const char *fromEnvironment = std::getenv("RUVELO_PASSWORD"))
        return util::secretFromLocal8Bit(fromEnvironment,
                                         static_cast<qsizetype>(std::strlen(fromEnvironment)));
    if (!m_passwordFile.isEmpty()) {
        QFile file(m_passwordFile);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            writeLine(stderr, Program + QStringLiteral("Cannot read the password file %1: %2")
                                            .arg(m_passwordFile, file.errorString()));
            m_unanswered = true;
            return {};
        }
        std::array<char, 1024> bytes{};
        const qint64 got = file.read(bytes.data(), static_cast<qint64>(bytes.size()));
        qsizetype length = 0;
        while (length < got && bytes[static_cast<size_t>(length)] != '\n' &&
               bytes[static_cast<size_t>(length)] != '\r')
            ++length;
        QString password = util::secretFromLocal8Bit(bytes.data(), length);
        wipe(bytes.data(), bytes.size());
        return password;
    }
    if (isatty(STDIN_FILENO))
        return readHiddenLine(STDIN_FILENO, prompt);
    writeLine(stderr, Program + QStringLiteral("No GoldMine password: set RUVELO_PASSWORD, use "
                                               "--password-file, or run on a terminal."));
    m_unanswered = true;
    return {};
}

} // namespace cli
