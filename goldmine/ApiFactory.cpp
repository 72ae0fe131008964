#include "goldmine/ApiFactory.h"

#include "goldmine/BridgeGoldMineApi.h"
#include "goldmine/LibraryGoldMineApi.h"

#include <QCoreApplication>

namespace goldmine {

QString chosenBridge(const QString &bridgePath)
{
    if (!bridgePath.isEmpty())
        return bridgePath;
#ifdef _WIN32
    const QString directory =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QStringLiteral(".");
    return directory + QStringLiteral("/gm7bridge.exe");
#else
    return qEnvironmentVariable(kBridgeVariable);
#endif
}

std::unique_ptr<GoldMineApi> makeGoldMineApi(const QString &bridgePath)
{
    const QString bridge = chosenBridge(bridgePath);
    if (bridge.isEmpty())
        return std::make_unique<LibraryGoldMineApi>();
    return std::make_unique<BridgeGoldMineApi>(bridge);
}

} // namespace goldmine
