#pragma once

#include "cli/CommandLine.h"

namespace goldmine {
class GoldMineApi;
}

namespace cli {

// ruvelo-import's exit statuses.
enum ExitStatus {
    AllImported = 0,
    SomeRowsFailed = 1, // or the run stopped before the last row
    CouldNotStart = 2,  // usage, workbook, GoldMine connection, password
};

// Carries out what the command line asks, with the GoldMine API the caller
// chose, and returns the exit status. Messages go to standard error, the log
// and the closing count to standard output.
int runCommand(const CommandLine &commandLine, goldmine::GoldMineApi &api);

// Writes "ruvelo-import: " and text as one line on standard error.
void printError(const QString &text);

} // namespace cli
