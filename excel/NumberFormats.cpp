#include "excel/NumberFormats.h"

#include "excel/Duration.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <cmath>
#include <optional>

namespace excel {

DateKind builtinFormatKind(int id)
{
    if ((id >= 14 && id <= 17) || (id >= 27 && id <= 36) || (id >= 50 && id <= 58))
        return DateKind::Date;
    if ((id >= 18 && id <= 21) || (id >= 45 && id <= 47))
        return DateKind::Time;
    if (id == 22)
        return DateKind::DateTime;
    return DateKind::None;
}

DateKind formatCodeKind(const QString &code)
{
    bool hasDate = false;
    bool hasMonthOrMinute = false;
    bool hasTime = false;
    const qsizetype size = code.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = code.at(i);
        switch (c.unicode()) {
        case ';':
            i = size; // only the first section decides
            break;
        case '"': {
            const qsizetype end = code.indexOf(QLatin1Char('"'), i + 1);
            i = end < 0 ? size : end;
            break;
        }
        case '\\':
        case '_':
        case '*':
            ++i; // the next character is a literal or a fill
            break;
        case '[': {
            const qsizetype end = code.indexOf(QLatin1Char(']'), i + 1);
            const QString inner = code.mid(i + 1, end < 0 ? -1 : end - i - 1).toLower();
            // Elapsed time: [h], [mm], [ss]; anything else is a colour, locale or condition.
            if (!inner.isEmpty() && (inner.count(inner.at(0)) == inner.size()) &&
                (inner.at(0) == QLatin1Char('h') || inner.at(0) == QLatin1Char('m') ||
                 inner.at(0) == QLatin1Char('s')))
                hasTime = true;
            i = end < 0 ? size : end;
            break;
        }
        case 'G':
        case 'g':
            if (code.mid(i, 7).compare(QLatin1String("General"), Qt::CaseInsensitive) == 0)
                i += 6;
            break;
        case 'A':
        case 'a':
            // AM/PM and A/P mark a clock time, not a date.
            if (code.mid(i, 5).compare(QLatin1String("AM/PM"), Qt::CaseInsensitive) == 0)
                i += 4;
            else if (code.mid(i, 3).compare(QLatin1String("A/P"), Qt::CaseInsensitive) == 0)
                i += 2;
            break;
        case 'y':
        case 'Y':
        case 'd':
        case 'D':
            hasDate = true;
            break;
        case 'm':
        case 'M':
            hasMonthOrMinute = true;
            break;
        case 'h':
        case 'H':
        case 's':
        case 'S':
            hasTime = true;
            break;
        default:
            break;
        }
    }
    // "m" is a month next to dates or alone, a minute next to hours or seconds.
    const bool date = hasDate || (hasMonthOrMinute && !hasTime);
    if (date && hasTime)
        return DateKind::DateTime;
    if (date)
        return DateKind::Date;
    if (hasTime)
        return DateKind::Time;
    return DateKind::None;
}

QVariant serialToVariant(double serial, DateKind kind, bool date1904)
{
    constexpr double lastSerial = 2958466.0; // 10000-01-01 in the 1900 system
    constexpr qint64 msPerDay = 86400000;
    if (kind == DateKind::None || !std::isfinite(serial) || serial < 0 || serial >= lastSerial)
        return serial;
    const qint64 total = std::llround(serial * double(msPerDay));
    const qint64 days = total / msPerDay;
    const int msOfDay = int(total % msPerDay);
    QDate date;
    if (date1904)
        date = QDate(1904, 1, 1).addDays(days);
    else if (days < 60)
        date = QDate(1899, 12, 31).addDays(days); // serial 1 is 1 January 1900
    else if (days == 60)
        date = QDate(1900, 2, 28); // Excel's 29 February 1900 never existed
    else
        date = QDate(1899, 12, 30).addDays(days);
    const QTime time = QTime::fromMSecsSinceStartOfDay(msOfDay);
    switch (kind) {
    case DateKind::Date:
        if (msOfDay == 0)
            return date;
        break;
    case DateKind::Time:
        if (days == 0)
            return time;
        break;
    default:
        break;
    }
    return QDateTime(date, time, Qt::UTC);
}

namespace {

// An ISO 8601 duration, "PnYnMnWnDTnHnMnS" with an optional sign, in
// milliseconds. Years and months have no fixed length, so only zero ones are
// taken; any part may carry a fraction.
std::optional<qint64> isoDuration(QStringView text)
{
    bool negative = false;
    if (text.startsWith(u'-') || text.startsWith(u'+')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (!text.startsWith(u'P'))
        return std::nullopt;
    text = text.mid(1);
    constexpr double msPerSecond = 1000;
    constexpr double msPerHour = 3600 * msPerSecond;
    constexpr double msPerDay = 24 * msPerHour;
    // Longer than any sheet could mean: refused rather than overflowed.
    constexpr double longest = 1e15;
    double total = 0;
    bool inTime = false;
    bool anyPart = false;
    while (!text.isEmpty()) {
        if (text.front() == u'T') {
            if (inTime)
                return std::nullopt;
            inTime = true;
            text = text.mid(1);
            continue;
        }
        qsizetype length = 0;
        while (length < text.size() &&
               (text[length].isDigit() || text[length] == u'.' || text[length] == u','))
            ++length;
        if (length == 0 || length == text.size())
            return std::nullopt;
        bool ok = false;
        const double amount = text.first(length).toString().replace(u',', u'.').toDouble(&ok);
        if (!ok || amount < 0)
            return std::nullopt;
        const QChar unit = text[length];
        text = text.mid(length + 1);
        anyPart = true;
        if (!inTime && (unit == u'Y' || unit == u'M')) {
            if (amount != 0)
                return std::nullopt;
        } else if (!inTime && unit == u'W') {
            total += amount * 7 * msPerDay;
        } else if (!inTime && unit == u'D') {
            total += amount * msPerDay;
        } else if (inTime && unit == u'H') {
            total += amount * msPerHour;
        } else if (inTime && unit == u'M') {
            total += amount * 60 * msPerSecond;
        } else if (inTime && unit == u'S') {
            total += amount * msPerSecond;
        } else {
            return std::nullopt;
        }
        if (total > longest)
            return std::nullopt;
    }
    if (!anyPart)
        return std::nullopt;
    const qint64 milliseconds = std::llround(total);
    return negative ? -milliseconds : milliseconds;
}

} // namespace

QVariant isoToVariant(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.startsWith(QLatin1Char('P')) || trimmed.startsWith(QLatin1String("-P")) ||
        trimmed.startsWith(QLatin1String("+P"))) {
        if (const auto milliseconds = isoDuration(trimmed))
            return QVariant::fromValue(Duration{*milliseconds});
        return text;
    }
    const qsizetype t = trimmed.indexOf(QLatin1Char('T'));
    if (t > 0) {
        const QDateTime dateTime = QDateTime::fromString(trimmed, Qt::ISODate);
        if (dateTime.isValid())
            return QDateTime(dateTime.date(), dateTime.time(), Qt::UTC);
        return text;
    }
    if (t == 0 || trimmed.contains(QLatin1Char(':'))) {
        QString clock = t == 0 ? trimmed.mid(1) : trimmed;
        if (clock.endsWith(QLatin1Char('Z')))
            clock.chop(1);
        const QTime time = QTime::fromString(clock, Qt::ISODate);
        if (time.isValid())
            return time;
        return text;
    }
    const QDate date = QDate::fromString(trimmed, Qt::ISODate);
    if (date.isValid())
        return date;
    return text;
}

} // namespace excel
