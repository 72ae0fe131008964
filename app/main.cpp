// ruvelo: the main window over the import engine, beside a running GoldMine.
#include "app/FrmMain.h"
#include "app/QtPrompts.h"
#include "goldmine/ApiFactory.h"
#include "goldmine/DdeLink.h"
#include "util/Version.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ruvelo"));
    QApplication::setApplicationVersion(util::version());

    app::QtPrompts prompts;
    // Through gm7bridge on Windows (GoldMine's library is 32-bit); in-process
    // on Linux unless RUVELO_GM7BRIDGE names a bridge.
    const std::unique_ptr<goldmine::GoldMineApi> api = goldmine::makeGoldMineApi();
    goldmine::DdeLink link;
    goldmine::ConnectionSettings settings;

    app::FrmMain window(*api, prompts);
    prompts.setFont(window.font());
    // Start-up runs before the window is first shown; its failures have been
    // reported by then and end the program.
    if (window.Form_Load(link, settings) == goldmine::StartupOutcome::EndProgram)
        return 1;
    prompts.setParent(&window);
    window.show();
    return QApplication::exec();
}
