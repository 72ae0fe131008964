#pragma once

#include <QString>

namespace util {
class Prompts;
}

namespace goldmine {

class DdeLink;
class GoldMineApi;

// GoldMine's settings as the running client reported them, and the password.
struct ConnectionSettings
{
    QString sSysDir;
    QString sGoldDir;
    QString sCommonDir;
    QString sUserName;
    QString sPassword; // emptied as soon as the API has been loaded
};

enum class StartupOutcome {
    Ready,      // the API is loaded; show the main window
    EndProgram, // a message has been shown; the program must end now
};

// Reads GoldMine's settings over the DDE link, asks for the password, refuses
// GoldMine 6 and older and loads the API, reporting each failure through
// prompts. The caller ends the program on EndProgram.
StartupOutcome RunStartup(DdeLink &link, GoldMineApi &api, util::Prompts &prompts,
                          ConnectionSettings &settings);

} // namespace goldmine
