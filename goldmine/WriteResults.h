#pragma once

#include <QString>

#include <cstdint>

namespace goldmine {

// What a negative result of a business-logic call ("WriteContact", ...)
// means, in words, where the code is one GoldMine's library is known to give;
// empty for any other code.
QString describeWriteResult(int32_t result);

// Whether the result says the database itself failed (busy past its time-out,
// read-only, full, damaged) rather than the row's own data: no later row can
// succeed then, so the run stops.
bool isDatabaseFailure(int32_t result);

// " (CALL failed with GoldMine result N: words)." for a log line.
QString failedCallText(const QString &call, int32_t result);

} // namespace goldmine
