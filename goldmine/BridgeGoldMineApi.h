#pragma once

#include "goldmine/GoldMineApi.h"

#include <QString>

#include <memory>

namespace bridge {
class Client;
}

namespace goldmine {

// The GoldMine API in a gm7bridge process of the library's own bitness: the
// way a 64-bit program reaches the 32-bit gm7s32.dll. The bridge starts at
// the first call. The calls whose results the program never tests (container
// set, append, erase and delete, query close) do not wait for their answers;
// a failure among them makes the next answered call fail.
// When the bridge dies, every later call fails and stoppedReason() says why.
class BridgeGoldMineApi : public GoldMineApi
{
public:
    // bridgePath: the gm7bridge executable; libraryPath, when given, the API
    // library the bridge loads instead of the one its system search finds.
    explicit BridgeGoldMineApi(const QString &bridgePath, const QString &libraryPath = {});
    ~BridgeGoldMineApi() override;

    int32_t GMW_LoadBDE(const QString &sysDir, const QString &goldDir, const QString &commonDir,
                        const QString &userName, const QString &password) override;
    int32_t GMW_DS_Query(const QString &sql) override;
    int32_t GMW_DS_Fetch(int32_t handle, char *buffer, int32_t size, int32_t count) override;
    int32_t GMW_DS_Close(int32_t handle) override;
    int32_t GMW_NV_Create() override;
    int32_t GMW_NV_SetValue(int32_t container, const QString &name, const QString &value) override;
    int32_t GMW_NV_AppendNvValue(int32_t container, const QString &name, int32_t nested) override;
    QString GMW_NV_GetValue(int32_t container, const QString &name,
                            const QString &defaultValue) override;
    int32_t GMW_NV_EraseAll(int32_t container) override;
    int32_t GMW_NV_Delete(int32_t container) override;
    int32_t GMW_Execute(const QString &callName, int32_t container) override;
    // On Windows: characters the ANSI code page cannot hold.
    bool losesCharacters(const QString &text) const override;

    QString stoppedReason() const override;
    QString loadFailureReason() const override;

    // Why the library or a function could not be bound ("" when all were).
    QString lastBindError() const;
    // The bridge's process id once it runs (0 before).
    qint64 bridgeProcessId() const;

private:
    std::unique_ptr<bridge::Client> m_client;
    QString m_loadFailureReason;
};

} // namespace goldmine
