#pragma once

#include "goldmine/GoldMineApi.h"
#include "goldmine/ImportState.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <functional>

namespace goldmine {
class ImportLock;
}
namespace mapping {
class EntryList;
}
namespace util {
class Prompts;
}

namespace import {

class RowReport;

// What the main window's controls hold when an import starts.
struct ImportOptions
{
    QString workbookPath;       // txtFilename
    QString emailColumn;        // cmbEmailCol; empty when no column was chosen
    bool match = true;          // chkMatch
    bool updateMatches = false; // chkUpdateMatches
    bool group = false;         // chkGroup
    QString groupName;          // txtGroupName
};

// Where a run reports as it goes: the window, the command line or a test.
class ImportSink
{
public:
    virtual ~ImportSink();
    // Appends one piece of log text at the end of the log.
    virtual void appendLog(const QString &piece) = 0;
    // The caption of the row being imported.
    virtual void setProgress(const QString &caption) = 0;
    // Lets pending window events run (once per row, and while a lookup reads).
    virtual void processEvents() = 0;
    // True while the run holds the front end (window disabled, wait pointer).
    virtual void setBusy(bool busy) = 0;
    // The rows the run will go through, known before the first one begins
    // (-1 when the workbook could not be counted).
    virtual void setTotal(int64_t /*rows*/) {}
    // A row has ended, whatever happened to it.
    virtual void rowDone(int64_t /*row*/) {}
    // Asked after each row: true ends the run there, as a stopped run.
    virtual bool stopRequested() { return false; }
};

// Something a check found, or a reason a row failed, by the row the workbook
// shows it in (0: the run as a whole, such as a missing column).
struct Problem
{
    int64_t row = 0;
    QString column;  // the workbook column, the fixed text's field, or empty
    QString message; // one sentence
    bool failsRow = false;
};

// How a run or a check ended.
struct ImportSummary
{
    bool started = false;   // false: the run could not start (message shown)
    bool check = false;     // a check: nothing was written
    int64_t rows = 0;       // rows begun
    int64_t failedRows = 0; // rows whose GoldMine write failed (or would fail)
    int64_t created = 0;    // new contacts (a check: that would be made)
    int64_t matched = 0;    // rows matched to a contact
    int64_t updated = 0;    // matched contacts updated (or that would be)
    bool stopped = false;   // true: the run stopped before the last row
    QString stopReason;     // why, as the closing message says it
    QList<Problem> problems;
    int64_t problemRows = 0; // rows with at least one problem

    // What the front end tells the operator when a started run has ended:
    // " 12 records processed!", how many failed, and why it stopped early.
    QString closingText() const;
    // The summary of a check: what a run would do and what it would meet.
    QString checkText() const;
};

// The entry list of the mapping window; creating it on first use is the
// caller's business (the window fills its pick lists then).
using EntryListSource = std::function<const mapping::EntryList &()>;

// One import run: the row loop, the contact writes and the run's group.
class ImportRun
{
public:
    ImportRun(goldmine::GoldMineApi &api, util::Prompts &prompts, goldmine::ImportState &state,
              ImportSink &sink);

    // One import at a time per database: the run holds this lock throughout.
    void setLock(goldmine::ImportLock *lock) { m_lock = lock; }
    // Where each row's outcome is written as the run goes (optional).
    void setReport(RowReport *report) { m_report = report; }

    // Runs the whole import and returns how it ended; the front end shows the
    // closing text. When the run cannot start its message has been shown.
    ImportSummary btnImport_Click(const ImportOptions &options, const EntryListSource &entries);

    // Reads every row as a run would, with the same lookups, and writes
    // nothing to GoldMine: what a run would do, and every problem it would
    // meet, in the summary.
    ImportSummary check(const ImportOptions &options, const EntryListSource &entries);

private:
    goldmine::GoldMineApi &m_api;
    util::Prompts &m_prompts;
    goldmine::ImportState &m_state;
    ImportSink &m_sink;
    goldmine::ImportLock *m_lock = nullptr;
    RowReport *m_report = nullptr;
};

} // namespace import
