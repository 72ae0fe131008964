#pragma once

#include "import/ImportRun.h"

#include <QElapsedTimer>

#include <functional>

namespace cli {

// The import's sink on a terminal or in a script: log lines to standard
// output as they come (unless quiet), and, when standard error is a terminal,
// one progress line there, redrawn in place a few times a second.
class ConsoleSink : public import::ImportSink
{
public:
    ConsoleSink(bool quiet, std::function<bool()> stopRequested);
    ~ConsoleSink() override;

    void appendLog(const QString &piece) override;
    void setProgress(const QString &) override {}
    void processEvents() override {}
    void setBusy(bool busy) override;
    void setTotal(int64_t rows) override;
    void rowDone(int64_t row) override;
    bool stopRequested() override { return m_stopRequested && m_stopRequested(); }

    // The progress line's text: "row 1234 of 100000, 812 rows/s, 2 min 1 s left".
    static QString progressText(int64_t row, int64_t total, qint64 elapsedMs);

private:
    void clearProgress();
    void showProgress(const QByteArray &text);

    bool m_quiet;
    std::function<bool()> m_stopRequested;
    bool m_terminal = false;
    bool m_shown = false;     // the progress line is on the terminal now
    bool m_drawnOnce = false; // the run has a progress line to show
    QByteArray m_lastProgress;
    int64_t m_total = -1;
    QElapsedTimer m_started;
    QElapsedTimer m_drawn;
};

} // namespace cli
