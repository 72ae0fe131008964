// ruvelo-import: the import run from the command line, on the same engine as
// the main window, for scheduled and scripted imports.
#include "cli/Command.h"
#include "goldmine/LibraryGoldMineApi.h"
#include "util/Version.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ruvelo-import"));
    QCoreApplication::setApplicationVersion(util::version());

    const cli::Result<cli::CommandLine> commandLine =
        cli::parseCommandLine(QCoreApplication::arguments());
    if (!commandLine) {
        cli::printError(commandLine.error().message);
        return cli::CouldNotStart;
    }
    goldmine::LibraryGoldMineApi api;
    return cli::runCommand(*commandLine, api);
}
