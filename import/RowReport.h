#pragma once

#include <QString>

#include <cstdint>

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
    int64_t row = 0;   // as the workbook shows it
    QString email;     // the address as read, before any cleaning
    Outcome outcome = Outcome::Created;
    QString recid;     // the contact's, when known
    QString accountNo; // the contact's, when known
    bool joinedGroup = false;
    QString message;   // why it failed, or what a check found
};

// Receives every row's record as the run goes. A writer keeps what it has
// been given safe at once, so an interrupted run leaves a usable report.
class RowReport
{
public:
    virtual ~RowReport();
    virtual void write(const RowRecord &record) = 0;
};

} // namespace import
