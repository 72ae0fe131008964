// ruvelo-import with a kill switch, for the kill-and-rerun tests only: the
// first argument is "step:n" (see KillSwitchApi.h), the rest are ruvelo-import's.
#include "KillSwitchApi.h"
#include "cli/Command.h"
#include "goldmine/ApiFactory.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        cli::printError(QStringLiteral("usage: ruvelo-import-killable STEP:N ARGUMENTS..."));
        return cli::CouldNotStart;
    }
    const QString armed = arguments.takeAt(1);
    const cli::Result<cli::CommandLine> commandLine = cli::parseCommandLine(arguments);
    if (!commandLine) {
        cli::printError(commandLine.error().message);
        return cli::CouldNotStart;
    }
    // In process, or through the bridge RUVELO_GM7BRIDGE names: the kill
    // series runs both ways.
    const std::unique_ptr<goldmine::GoldMineApi> api = goldmine::makeGoldMineApi();
    if (!goldmine::chosenBridge().isEmpty())
        cli::printError(QStringLiteral("through ") + goldmine::chosenBridge());
    QString error;
    const std::unique_ptr<KillSwitchApi> killSwitch = KillSwitchApi::create(*api, armed, &error);
    if (!killSwitch) {
        cli::printError(error);
        return cli::CouldNotStart;
    }
    return cli::runCommand(*commandLine, *killSwitch);
}
