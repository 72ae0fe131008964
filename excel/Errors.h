#pragma once

#include "util/Result.h"

namespace excel {

// What kind of failure a workbook read met. Callers branch on Missing (the
// operator named no file) against every other kind (the file is there but
// cannot be read as a workbook).
enum class ErrorCode {
    Failed,      // misuse of the ADO-shaped layer or an unexpected state
    Missing,     // no file at the path
    Unreadable,  // the file system refused it
    WrongEnding, // the path ends in none of .xls, .xlsx and .csv
    NotWorkbook, // the content is not an Excel workbook
    OldFormat,   // older than Excel 5.0
    Encrypted,   // protected by a password
    Damaged,     // malformed or cut short
    Unsafe,      // would take more than the readers' limits allow
    NoTable,     // the workbook lists no table
};

using Error = util::Error<ErrorCode>;
template <typename T> using Result = util::Result<T, ErrorCode>;

} // namespace excel
