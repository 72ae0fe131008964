#include "app/RunProgress.h"

#include <QLocale>

#include <cmath>

namespace app {

namespace {

// Too short a stretch gives a rate that jumps about.
constexpr int64_t MinimumMeasuredMs = 500;

} // namespace

double RunProgress::rowsPerSecond() const
{
    if (done <= 0 || elapsedMs < MinimumMeasuredMs)
        return 0;
    return static_cast<double>(done) * 1000.0 / static_cast<double>(elapsedMs);
}

int64_t RunProgress::secondsLeft() const
{
    const double rate = rowsPerSecond();
    if (total < 0 || rate <= 0)
        return -1;
    const int64_t left = total > done ? total - done : 0;
    return static_cast<int64_t>(std::ceil(static_cast<double>(left) / rate));
}

QString RunProgress::text() const
{
    const int64_t left = secondsLeft();
    return left >= 0 ? finishedText() + QStringLiteral(", %1 left").arg(durationText(left))
                     : finishedText();
}

QString RunProgress::finishedText() const
{
    const QLocale locale;
    QString text =
        total >= 0 ? QStringLiteral("%1 of %2 rows")
                         .arg(locale.toString(static_cast<qlonglong>(done)),
                              locale.toString(static_cast<qlonglong>(total)))
                   : QStringLiteral("%1 rows").arg(locale.toString(static_cast<qlonglong>(done)));
    const double rate = rowsPerSecond();
    if (rate > 0) {
        text += QStringLiteral(", %1 rows/s")
                    .arg(locale.toString(static_cast<qlonglong>(std::llround(rate))));
    }
    return text;
}

QString durationText(int64_t seconds)
{
    const int64_t hours = seconds / 3600;
    const int64_t minutes = seconds / 60 % 60;
    const QString secondsText = QStringLiteral("%1").arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (hours > 0) {
        return QStringLiteral("%1:%2:%3")
            .arg(hours)
            .arg(minutes, 2, 10, QLatin1Char('0'))
            .arg(secondsText);
    }
    return QStringLiteral("%1:%2").arg(minutes).arg(secondsText);
}

} // namespace app
