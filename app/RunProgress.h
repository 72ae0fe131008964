#pragma once

#include <QString>

#include <cstdint>

namespace app {

// What the progress bar says about a run: rows done of the total, the rate
// and the time left at that rate.
struct RunProgress
{
    int64_t done = 0;
    int64_t total = -1;    // -1: the workbook could not be counted
    int64_t elapsedMs = 0; // since the run's first row began

    // Rows a second so far; 0 until there is something to measure.
    double rowsPerSecond() const;
    // Seconds left at the rate so far; -1 when unknown.
    int64_t secondsLeft() const;
    // "1,234 of 100,000 rows, 850 rows/s, 1:55 left" (numbers in the
    // operator's locale).
    QString text() const;
    // The same once the run has ended, without the time left.
    QString finishedText() const;
};

// A duration as "0:07", "12:05" or "1:02:03".
QString durationText(int64_t seconds);

} // namespace app
