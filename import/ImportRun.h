#pragma once

#include "goldmine/GoldMineApi.h"
#include "goldmine/ImportState.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace util {
class Prompts;
}

namespace mapping {
class EntryList;
}

namespace import {

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
    // Lets pending window events run (once per row).
    virtual void processEvents() = 0;
    // True while the run holds the front end (window disabled, wait pointer).
    virtual void setBusy(bool busy) = 0;
};

// How a run ended.
struct ImportSummary
{
    bool started = false;   // false: the run could not start (message shown)
    int64_t rows = 0;       // rows begun
    int64_t failedRows = 0; // rows whose GoldMine write failed
    bool stopped = false;   // true: the run stopped before the last row

    // What the front end tells the operator when a started run has ended:
    // " 12 records processed!", and how many of them failed.
    QString closingText() const;
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

    // Runs the whole import and returns how it ended; the front end shows the
    // closing text. When the run cannot start its message has been shown.
    ImportSummary btnImport_Click(const ImportOptions &options, const EntryListSource &entries);

private:
    goldmine::GoldMineApi &m_api;
    util::Prompts &m_prompts;
    goldmine::ImportState &m_state;
    ImportSink &m_sink;
};

} // namespace import
