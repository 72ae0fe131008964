#include "excel/CellText.h"

#include "excel/CellError.h"
#include "excel/Duration.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QStringList>
#include <QTime>

#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

namespace excel {

namespace {

// A date or time format compiled once into its fields, so the many cells of an
// import are written without parsing the format each time. Formats with names
// of months or days (or anything else unusual) stay with QLocale.
class CompiledFormat
{
public:
    CompiledFormat() = default;
    explicit CompiledFormat(const QString &format)
    {
        for (qsizetype i = 0; i < format.size();) {
            const QChar c = format.at(i);
            if (c == QLatin1Char('\'')) {
                const qsizetype end = format.indexOf(QLatin1Char('\''), i + 1);
                if (end < 0) {
                    m_usable = false;
                    return;
                }
                m_parts.push_back({Field::Literal, end == i + 1 ? QStringLiteral("'")
                                                                : format.mid(i + 1, end - i - 1)});
                i = end + 1;
                continue;
            }
            qsizetype run = 1;
            while (i + run < format.size() && format.at(i + run) == c)
                ++run;
            const Field field = fieldOf(c.toLatin1(), run);
            if (field == Field::Unsupported) {
                m_usable = false;
                return;
            }
            m_parts.push_back({field, field == Field::Literal ? format.mid(i, run) : QString()});
            i += run;
        }
    }

    bool usable() const { return m_usable; }

    // An elapsed time in a clock format: the hours run on past 24, and the
    // marker of a 12-hour clock means nothing here.
    QString elapsed(qint64 hours, int minutes, int seconds) const
    {
        QString out;
        for (const Part &part : m_parts) {
            switch (part.field) {
            case Field::Literal:
                out += part.literal;
                break;
            case Field::Hour24:
            case Field::Hour12:
                out += QString::number(hours);
                break;
            case Field::Hour24Two:
            case Field::Hour12Two:
                if (hours < 10)
                    out += QLatin1Char('0');
                out += QString::number(hours);
                break;
            case Field::Minute:
                out += QString::number(minutes);
                break;
            case Field::Minute2:
                appendTwo(out, minutes);
                break;
            case Field::Second:
                out += QString::number(seconds);
                break;
            case Field::Second2:
                appendTwo(out, seconds);
                break;
            default:
                break; // the marker of a 12-hour clock, and date fields
            }
        }
        return out.trimmed();
    }

    QString apply(const QDate &date, const QTime &time) const
    {
        QString out;
        out.reserve(24);
        for (const Part &part : m_parts) {
            switch (part.field) {
            case Field::Literal:
                out += part.literal;
                break;
            case Field::Day:
                out += QString::number(date.day());
                break;
            case Field::Day2:
                appendTwo(out, date.day());
                break;
            case Field::Month:
                out += QString::number(date.month());
                break;
            case Field::Month2:
                appendTwo(out, date.month());
                break;
            case Field::MonthShortName:
                out += m_names->monthShort[date.month() - 1];
                break;
            case Field::MonthLongName:
                out += m_names->monthLong[date.month() - 1];
                break;
            case Field::DayShortName:
                out += m_names->dayShort[date.dayOfWeek() - 1];
                break;
            case Field::DayLongName:
                out += m_names->dayLong[date.dayOfWeek() - 1];
                break;
            case Field::Year2:
                appendTwo(out, date.year() % 100);
                break;
            case Field::Year4:
                out += QString::number(date.year()).rightJustified(4, QLatin1Char('0'));
                break;
            case Field::Hour24:
                out += QString::number(time.hour());
                break;
            case Field::Hour24Two:
                appendTwo(out, time.hour());
                break;
            case Field::Hour12:
                out += QString::number(hour12(time));
                break;
            case Field::Hour12Two:
                appendTwo(out, hour12(time));
                break;
            case Field::Minute:
                out += QString::number(time.minute());
                break;
            case Field::Minute2:
                appendTwo(out, time.minute());
                break;
            case Field::Second:
                out += QString::number(time.second());
                break;
            case Field::Second2:
                appendTwo(out, time.second());
                break;
            case Field::AmPm:
                out += time.hour() < 12 ? m_names->am : m_names->pm;
                break;
            case Field::Unsupported:
                break;
            }
        }
        return out;
    }

    // Names of months and days, and the clock's markers, from the locale.
    struct Names
    {
        explicit Names(const QLocale &locale)
            : am(locale.amText())
            , pm(locale.pmText())
        {
            for (int i = 1; i <= 12; ++i) {
                monthShort.append(locale.monthName(i, QLocale::ShortFormat));
                monthLong.append(locale.monthName(i, QLocale::LongFormat));
            }
            for (int i = 1; i <= 7; ++i) {
                dayShort.append(locale.dayName(i, QLocale::ShortFormat));
                dayLong.append(locale.dayName(i, QLocale::LongFormat));
            }
        }
        QString am;
        QString pm;
        QStringList monthShort;
        QStringList monthLong;
        QStringList dayShort;
        QStringList dayLong;
    };

    void setNames(const Names *names) { m_names = names; }

private:
    enum class Field {
        Literal,
        Day,
        Day2,
        DayShortName,
        DayLongName,
        Month,
        Month2,
        MonthShortName,
        MonthLongName,
        Year2,
        Year4,
        Hour24,
        Hour24Two,
        Hour12,
        Hour12Two,
        Minute,
        Minute2,
        Second,
        Second2,
        AmPm,
        Unsupported
    };
    struct Part
    {
        Field field;
        QString literal;
    };

    static Field fieldOf(char c, qsizetype run)
    {
        switch (c) {
        case 'd':
            return run == 1   ? Field::Day
                   : run == 2 ? Field::Day2
                   : run == 3 ? Field::DayShortName
                   : run == 4 ? Field::DayLongName
                              : Field::Unsupported;
        case 'M':
            return run == 1   ? Field::Month
                   : run == 2 ? Field::Month2
                   : run == 3 ? Field::MonthShortName
                   : run == 4 ? Field::MonthLongName
                              : Field::Unsupported;
        case 'y':
            return run == 2 ? Field::Year2 : run == 4 ? Field::Year4 : Field::Unsupported;
        case 'H':
            return run == 1 ? Field::Hour24 : run == 2 ? Field::Hour24Two : Field::Unsupported;
        case 'h':
            return run == 1 ? Field::Hour12 : run == 2 ? Field::Hour12Two : Field::Unsupported;
        case 'm':
            return run == 1 ? Field::Minute : run == 2 ? Field::Minute2 : Field::Unsupported;
        case 's':
            return run == 1 ? Field::Second : run == 2 ? Field::Second2 : Field::Unsupported;
        case 'A':
            return run == 1 ? Field::AmPm : Field::Unsupported; // "AP", folded to "A"
        case 'a':
        case 'p':
        case 'P':
            return Field::Unsupported;
        default:
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == 0)
                return Field::Unsupported;
            return Field::Literal;
        }
    }

    static int hour12(const QTime &time)
    {
        const int hour = time.hour() % 12;
        return hour == 0 ? 12 : hour;
    }

    static void appendTwo(QString &out, int value)
    {
        out += QChar(u'0' + value / 10 % 10);
        out += QChar(u'0' + value % 10);
    }

    std::vector<Part> m_parts;
    const Names *m_names = nullptr;
    bool m_usable = true;
};

// The system's conventions, read once: the locale does not change under a
// running program, and the import converts every cell it reads.
struct TextConventions
{
    TextConventions()
        : locale(QLocale::system())
        , decimalPoint(locale.decimalPoint())
        , shortDate(locale.dateFormat(QLocale::ShortFormat))
        , shortTime(locale.timeFormat(QLocale::ShortFormat))
        , names(locale)
    {
        timeWithSeconds = shortTime;
        if (!timeWithSeconds.contains(QLatin1Char('s'))) {
            const qsizetype minutes = timeWithSeconds.indexOf(QLatin1String("mm"));
            if (minutes >= 0)
                timeWithSeconds.insert(minutes + 2, QLatin1String(":ss"));
            else
                timeWithSeconds.append(QLatin1String(":ss"));
        }
        // "AP"/"ap" are one marker to QLocale; fold them for the compiled form.
        const auto compile = [this](QString format) {
            format.replace(QLatin1String("AP"), QLatin1String("A"));
            format.replace(QLatin1String("ap"), QLatin1String("a"));
            CompiledFormat compiled(format);
            compiled.setNames(&names);
            return compiled;
        };
        fastDate = compile(shortDate);
        fastTime = compile(shortTime);
        fastTimeWithSeconds = compile(timeWithSeconds);
    }

    QLocale locale;
    QString decimalPoint;
    QString shortDate;
    QString shortTime;
    QString timeWithSeconds;
    CompiledFormat::Names names;
    CompiledFormat fastDate;
    CompiledFormat fastTime;
    CompiledFormat fastTimeWithSeconds;
};

const TextConventions &conventions()
{
    static const TextConventions instance;
    return instance;
}

QString numberText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    if (value == 0)
        return QStringLiteral("0");
    if (std::fabs(value) < 1e15 && value == std::trunc(value))
        return QString::number(qint64(value));
    // Fifteen significant digits, then written out without an exponent.
    char buffer[40];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                       std::chars_format::scientific, 14);
    const std::string_view text(buffer, size_t(written.ptr - buffer));
    const size_t e = text.find('e');
    std::string digits;
    digits.reserve(15);
    for (size_t i = 0; i < e; ++i) {
        if (text[i] != '.')
            digits.push_back(text[i]);
    }
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    int exponent = 0;
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                    exponent);
    std::string integerPart;
    std::string fraction;
    if (exponent >= 0) {
        const size_t integerDigits = size_t(exponent) + 1;
        if (digits.size() <= integerDigits) {
            integerPart = digits + std::string(integerDigits - digits.size(), '0');
        } else {
            integerPart = digits.substr(0, integerDigits);
            fraction = digits.substr(integerDigits);
        }
    } else {
        integerPart = "0";
        fraction = std::string(size_t(-exponent - 1), '0') + digits;
    }
    QString result;
    if (value < 0)
        result.append(QLatin1Char('-'));
    result.append(QLatin1String(integerPart.data(), qsizetype(integerPart.size())));
    if (!fraction.empty()) {
        result.append(conventions().decimalPoint);
        result.append(QLatin1String(fraction.data(), qsizetype(fraction.size())));
    }
    return result;
}

QString timeText(const QTime &time)
{
    const TextConventions &c = conventions();
    const bool seconds = time.second() != 0 || time.msec() != 0;
    const CompiledFormat &fast = seconds ? c.fastTimeWithSeconds : c.fastTime;
    if (fast.usable())
        return fast.apply(QDate(), time);
    return c.locale.toString(time, seconds ? c.timeWithSeconds : c.shortTime);
}

// An elapsed time in the system's time format, with seconds when there are
// any, as a time of day would show them.
QString durationText(qint64 milliseconds)
{
    const TextConventions &c = conventions();
    const qint64 total = milliseconds < 0 ? -milliseconds : milliseconds;
    const qint64 hours = total / 3600000;
    const int minutes = int(total / 60000 % 60);
    const int seconds = int(total / 1000 % 60);
    const bool withSeconds = total % 60000 != 0;
    const CompiledFormat &fast = withSeconds ? c.fastTimeWithSeconds : c.fastTime;
    QString text;
    if (fast.usable()) {
        text = fast.elapsed(hours, minutes, seconds);
    } else {
        // A format this program does not take apart: hours, minutes and seconds.
        text = QStringLiteral("%1:%2").arg(hours).arg(minutes, 2, 10, QLatin1Char('0'));
        if (withSeconds)
            text += QStringLiteral(":%1").arg(seconds, 2, 10, QLatin1Char('0'));
    }
    return milliseconds < 0 ? QLatin1Char('-') + text : text;
}

QString dateText(const QDate &date)
{
    const TextConventions &c = conventions();
    if (c.fastDate.usable() && date.year() > 0)
        return c.fastDate.apply(date, QTime());
    return c.locale.toString(date, c.shortDate);
}

} // namespace

QString VariantToText(const QVariant &value)
{
    if (value.isNull())
        return QString();
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Double:
    case QMetaType::Float:
        return numberText(value.toDouble());
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    // An invalid date or time has no fields to show.
    case QMetaType::QDate: {
        const QDate date = value.toDate();
        return date.isValid() ? dateText(date) : QString();
    }
    case QMetaType::QTime: {
        const QTime time = value.toTime();
        return time.isValid() ? timeText(time) : QString();
    }
    case QMetaType::QDateTime: {
        const QDateTime dateTime = value.toDateTime();
        if (!dateTime.isValid())
            return QString();
        return dateText(dateTime.date()) + QLatin1Char(' ') + timeText(dateTime.time());
    }
    default:
        break;
    }
    if (value.typeId() == qMetaTypeId<CellError>())
        return value.value<CellError>().text;
    if (value.typeId() == qMetaTypeId<Duration>())
        return durationText(value.value<Duration>().milliseconds);
    return value.toString();
}

} // namespace excel
