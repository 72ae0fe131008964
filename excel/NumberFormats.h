#pragma once

#include <QString>
#include <QVariant>

#include <cstdint>

namespace excel {

// What a number format shows a number as.
enum class DateKind : std::uint8_t { None, Date, Time, DateTime };

// Excel's built-in formats by id (those no file spells out).
DateKind builtinFormatKind(int id);
// A format code's kind, from its first section.
DateKind formatCodeKind(const QString &code);

// A serial day number as a date, time or date-time variant; values no date
// can hold stay numbers. Date-times carry no time zone (UTC stands for "none"),
// so a wall-clock time never shifts across a daylight-saving change.
QVariant serialToVariant(double serial, DateKind kind, bool date1904);

// An ISO 8601 text as a cell's value: a date, a date-time (its wall-clock
// time, as serialToVariant gives one), a time of day or a duration (Duration).
// Text that is none of them, or names no real date or time, stays text.
QVariant isoToVariant(const QString &text);

} // namespace excel
