#pragma once

#include "goldmine/Startup.h"
#include "import/ImportRun.h"
#include "mapping/MappingArgument.h"
#include "util/Result.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace cli {

enum class ErrorCode {
    Failed,
    Usage, // the arguments cannot be taken as they stand
};

using Error = util::Error<ErrorCode>;
template <typename T> using Result = util::Result<T, ErrorCode>;

// What ruvelo-import is asked to do.
enum class Action {
    Import,  // the import run
    Columns, // print the first table's column names
    Dump,    // print the first table's rows
    Help,
    Version,
};

// The command line, read and checked; nothing has been opened yet.
struct CommandLine
{
    Action action = Action::Import;
    import::ImportOptions options;
    // The mappings in the order they were given across --map and --fixed:
    // when two feed one field, the later one wins, as in the mapping window.
    QList<mapping::MappingArgument> mappings;
    // Filled from --sysdir, --golddir, --commondir and --user when given, so
    // that start-up asks the running client for nothing.
    goldmine::ConnectionSettings settings;
    QString passwordFile;
    // --group-exists=add: make the run's group even when one of that name exists.
    bool addGroupWithExistingName = false;
    bool quiet = false;      // no per-row log lines on standard output
    bool dryRun = false;     // check the rows, write nothing
    QString reportPath;      // the per-row report, when asked for
    QString saveProfilePath; // where to save the run's mappings and options
    QString bridgePath;      // reach the API through this gm7bridge ("" by default)
};

// Reads the arguments (the program's name first, as QCoreApplication gives
// them), and the mapping profile --profile names: what the command line says
// wins over the profile. A Usage error says what is wrong in one sentence.
Result<CommandLine> parseCommandLine(const QStringList &arguments);

// The text --help prints.
QString helpText();

} // namespace cli
