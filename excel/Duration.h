#pragma once

#include <QMetaType>
#include <QtGlobal>

namespace excel {

// An elapsed time a cell holds (an ISO 8601 duration such as "PT26H30M"): it
// may pass 24 hours, so it is no time of day.
struct Duration
{
    qint64 milliseconds = 0;
    bool operator==(const Duration &other) const { return milliseconds == other.milliseconds; }
};

} // namespace excel

Q_DECLARE_METATYPE(excel::Duration)
