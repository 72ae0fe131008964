#include "cli/ConsoleSink.h"

#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace cli {

namespace {

// Redrawn at most this often: a terminal kept busy slows the import.
constexpr qint64 RedrawMs = 250;

void printOut(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

QString durationText(qint64 seconds)
{
    if (seconds >= 3600)
        return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
    if (seconds >= 60)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 s").arg(seconds);
}

} // namespace

ConsoleSink::ConsoleSink(bool quiet, std::function<bool()> stopRequested)
    : m_quiet(quiet)
    , m_stopRequested(std::move(stopRequested))
    , m_terminal(isatty(STDERR_FILENO) != 0)
{}

ConsoleSink::~ConsoleSink()
{
    clearProgress();
}

QString ConsoleSink::progressText(int64_t row, int64_t total, qint64 elapsedMs)
{
    QString text = QStringLiteral("row %1").arg(row);
    if (total >= 0)
        text += QStringLiteral(" of %1").arg(total);
    if (elapsedMs <= 0 || row <= 0)
        return text;
    const double perSecond = static_cast<double>(row) * 1000.0 / static_cast<double>(elapsedMs);
    text += QStringLiteral(", %1 rows/s").arg(static_cast<qlonglong>(std::llround(perSecond)));
    if (total >= row && perSecond > 0)
        text += QStringLiteral(", %1 left")
                    .arg(durationText(static_cast<qint64>(
                        std::llround(static_cast<double>(total - row) / perSecond))));
    return text;
}

void ConsoleSink::appendLog(const QString &piece)
{
    if (m_quiet)
        return;
    // The progress line makes room for the log line, then comes back under it.
    const bool hadProgress = m_shown;
    clearProgress();
    QString text = piece;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    printOut(text);
    if (text.endsWith(QLatin1Char('\n'))) {
        std::fflush(stdout);
        if (hadProgress || m_drawnOnce)
            showProgress(m_lastProgress);
    }
}

void ConsoleSink::setBusy(bool busy)
{
    if (!busy)
        clearProgress();
}

void ConsoleSink::setTotal(int64_t rows)
{
    m_total = rows;
    m_started.start();
}

void ConsoleSink::rowDone(int64_t row)
{
    if (!m_terminal || (m_drawn.isValid() && m_drawn.elapsed() < RedrawMs))
        return;
    m_drawn.start();
    m_lastProgress =
        progressText(row, m_total, m_started.isValid() ? m_started.elapsed() : 0).toLocal8Bit();
    m_drawnOnce = true;
    showProgress(m_lastProgress);
}

void ConsoleSink::showProgress(const QByteArray &text)
{
    if (!m_terminal || text.isEmpty())
        return;
    const QByteArray line = "\r\033[K" + text;
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
    m_shown = true;
}

void ConsoleSink::clearProgress()
{
    if (!m_shown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_shown = false;
}

} // namespace cli
