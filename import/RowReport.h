#pragma once

#include "import/Errors.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

namespace import {

// What happened to one row, or what would happen to it in a check.
enum class Outcome {
    Created,
    Matched, // matched, nothing written to the contact
    Updated, // matched and its mapped fields written
    Failed,
    WouldCreate,
    WouldMatch,
    WouldUpdate,
    WouldFail,
};

// The word a report shows for an outcome: "created", "would match", ...
QString outcomeText(Outcome outcome);

// One line of the per-row report.
struct RowRecord
{
    int64_t row = 0; // as the workbook shows it
    QString email;   // the address as read, before any cleaning
    Outcome outcome = Outcome::Created;
    QString recid;     // the contact's, when known
    QString accountNo; // the contact's, when known
    bool joinedGroup = false;
    QString message; // why it failed, or what a check found
};

// Receives every row's record as the run goes. A writer keeps what it has
// been given safe at once, so an interrupted run leaves a usable report.
class RowReport
{
public:
    virtual ~RowReport();
    virtual void write(const RowRecord &record) = 0;
    // Completes the file once the run has ended; says what went wrong if a
    // record could not be written.
    virtual Result<void> finish() = 0;
};

// A report file: CSV (RFC 4180, UTF-8 with a byte-order mark, so spreadsheet
// programs read it right) unless the name ends in ".xlsx". An .xlsx report is
// written as CSV beside it ("NAME.partial.csv") while the run goes, and made
// into the workbook when the run ends, so an interrupted run still leaves its
// rows. A cell that begins with =, +, - or @ is kept from being run as a
// formula. The file is replaced.
Result<std::unique_ptr<RowReport>> openReport(const QString &path);

// Makes an .xlsx report of a CSV one (a window keeps its last report as CSV
// and saves it in the form the operator names).
Result<void> convertReportToXlsx(const QString &csvPath, const QString &xlsxPath);

} // namespace import
