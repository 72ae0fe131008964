#include "goldmine/Startup.h"

#include "goldmine/DdeLink.h"
#include "goldmine/GoldMineApi.h"
#include "util/Prompts.h"

#include <QStringList>

namespace goldmine {

namespace {

// Start-up messages break their lines with LF then CR.
QString lineBreak()
{
    return QStringLiteral("\n\r");
}

QStringList loadFailureReason(int32_t result)
{
    const qint64 code = -static_cast<qint64>(result);
    switch (code) {
    case 1:
        return QStringList{
            QStringLiteral("Unable to Load GoldMine API."),
            QStringLiteral(
                "Try setting the BDE's Configuration|System|INIT|SHAREDMEMLOCATION setting"),
            QStringLiteral("according to your operating system:"),
            QStringLiteral("Win 95/98/ME: <blank>"),
            QStringLiteral("Win NT4/2000 (early service packs): 7000"),
            QStringLiteral("Win 2000 (post sp2)/XP: 6000 or 6BDE"),
        };
    case 4:
        return {QStringLiteral("GoldMine API cannot validate the GoldMine username/password.")};
    case 5:
        return {QStringLiteral("GoldMine API cannot find CAL table in GoldDir.")};
    case 6:
        return {QStringLiteral("GoldMine API cannot CONTACT1 table in CommonDir.")};
    default:
        return {QStringLiteral("Unable to Load GoldMine API.")};
    }
}

// Overwrites the password's characters before letting the text go.
void forgetPassword(QString &password)
{
    password.fill(QChar(u'\0'));
    password.clear();
}

} // namespace

StartupOutcome RunStartup(DdeLink &link, GoldMineApi &api, util::Prompts &prompts,
                          ConnectionSettings &settings)
{
    if (settings.sCommonDir.isEmpty() || settings.sSysDir.isEmpty() ||
        settings.sGoldDir.isEmpty()) {
        const DdeLink::Status status = link.DDEInitiate();
        if (status == DdeLink::Status::NotRunning) {
            prompts.messageBox(QStringLiteral("GoldMine is not running!  Please launch GoldMine "
                                              "before attempting to run this operation."),
                               QStringLiteral("DDE Error"), util::PromptIcon::Critical);
            return StartupOutcome::EndProgram;
        }
        // Someone else's folder or socket in the way is no sign of an old
        // GoldMine: say what is wrong and where, so it can be put right.
        if (status == DdeLink::Status::Refused) {
            prompts.messageBox(QStringLiteral("Cannot link to GoldMine over DDE: ") +
                                   link.lastError() + QStringLiteral(".") + lineBreak() +
                                   QStringLiteral("The link's folder and socket must belong to "
                                                  "you, and no other user may enter the folder."),
                               QStringLiteral("DDE Error"), util::PromptIcon::Critical);
            return StartupOutcome::EndProgram;
        }
        // Any other failure to link leaves the settings empty; the version
        // test below then refuses them.
        if (status == DdeLink::Status::Linked) {
            const struct
            {
                QString item;
                QString *value;
            } requests[] = {
                {QStringLiteral("&sysdir"), &settings.sSysDir},
                {QStringLiteral("&golddir"), &settings.sGoldDir},
                {QStringLiteral("&commondir"), &settings.sCommonDir},
                {QStringLiteral("&username"), &settings.sUserName},
            };
            for (const auto &request : requests) {
                Result<QString> answer = link.DDERequest(request.item);
                if (!answer) {
                    prompts.messageBox(QStringLiteral("GoldMine did not answer the DDE request "
                                                      "for \"%1\".")
                                               .arg(request.item) +
                                           lineBreak() + answer.error().message,
                                       QStringLiteral("DDE Error"), util::PromptIcon::Critical);
                    return StartupOutcome::EndProgram;
                }
                *request.value = *answer;
            }
        }
    }

    settings.sPassword = prompts.inputBox(QStringLiteral("GoldMine Password for ") +
                                              settings.sUserName + QStringLiteral(": "),
                                          QStringLiteral("Authenticate"), QString(), true);

    if (!settings.sGoldDir.endsWith(QLatin1Char(':'))) {
        forgetPassword(settings.sPassword);
        prompts.messageBox(QStringLiteral("Sorry, GoldMine 6 and older are NOT supported.."),
                           util::applicationTitle(), util::PromptIcon::Critical);
        return StartupOutcome::EndProgram;
    }

    // LoadBDE7
    const int32_t result = api.GMW_LoadBDE(settings.sSysDir, settings.sGoldDir, settings.sCommonDir,
                                           settings.sUserName, settings.sPassword);
    forgetPassword(settings.sPassword);
    if (result >= 0)
        return StartupOutcome::Ready;
    // What the API itself says about the failure goes right under the first
    // line of the reason, where the operator looks.
    QStringList reason = loadFailureReason(result);
    if (const QString detail = api.loadFailureReason(); !detail.isEmpty())
        reason.insert(1, detail);
    prompts.messageBox(QStringLiteral("Error#: ") + QString::number(result) + lineBreak() +
                           reason.join(lineBreak()),
                       util::applicationTitle(), util::PromptIcon::None);
    return StartupOutcome::EndProgram;
}

} // namespace goldmine
