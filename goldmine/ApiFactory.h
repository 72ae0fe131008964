#pragma once

#include "goldmine/GoldMineApi.h"

#include <QString>

#include <memory>

namespace goldmine {

// The environment variable that, on Linux, names the gm7bridge executable to
// reach the API through (the in-process binding is used when it is unset).
inline constexpr char kBridgeVariable[] = "RUVELO_GM7BRIDGE";

// The GoldMine API the program uses. With bridgePath given, through that
// gm7bridge. Otherwise: on Windows always through gm7bridge.exe beside the
// program (GoldMine's library is 32-bit, the program 64-bit); elsewhere
// through the bridge RUVELO_GM7BRIDGE names, or in-process when it is unset.
std::unique_ptr<GoldMineApi> makeGoldMineApi(const QString &bridgePath = {});

// The bridge makeGoldMineApi() would start for bridgePath ("" for in-process).
QString chosenBridge(const QString &bridgePath = {});

} // namespace goldmine
