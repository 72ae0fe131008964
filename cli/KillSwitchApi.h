#pragma once

#include "goldmine/GoldMineApi.h"

#include <QString>

#include <memory>

namespace cli {

// A test hook: passes every call through to the real API and kills the
// process with SIGKILL right after the n-th completion of one write step, as
// a power cut would. Armed only by RUVELO_TEST_KILL_AFTER="step:n", where step
// is lookup (the e-mail lookup), contact ("WriteContact"), notes
// ("WriteContactNotes") or group ("AddContactGrpMembers").
class KillSwitchApi : public goldmine::GoldMineApi
{
public:
    // The wrapped API when the variable is not set; null when it is malformed.
    static std::unique_ptr<goldmine::GoldMineApi> wrapIfArmed(goldmine::GoldMineApi &api,
                                                              QString *error);

    int32_t GMW_LoadBDE(const QString &sysDir, const QString &goldDir, const QString &commonDir,
                        const QString &userName, const QString &password) override
    {
        return m_api.GMW_LoadBDE(sysDir, goldDir, commonDir, userName, password);
    }
    int32_t GMW_DS_Query(const QString &sql) override;
    int32_t GMW_DS_Fetch(int32_t handle, char *buffer, int32_t size, int32_t count) override
    {
        return m_api.GMW_DS_Fetch(handle, buffer, size, count);
    }
    int32_t GMW_DS_Close(int32_t handle) override;
    int32_t GMW_NV_Create() override { return m_api.GMW_NV_Create(); }
    int32_t GMW_NV_SetValue(int32_t container, const QString &name, const QString &value) override
    {
        return m_api.GMW_NV_SetValue(container, name, value);
    }
    int32_t GMW_NV_AppendNvValue(int32_t container, const QString &name, int32_t nested) override
    {
        return m_api.GMW_NV_AppendNvValue(container, name, nested);
    }
    QString GMW_NV_GetValue(int32_t container, const QString &name,
                            const QString &defaultValue) override
    {
        return m_api.GMW_NV_GetValue(container, name, defaultValue);
    }
    int32_t GMW_NV_EraseAll(int32_t container) override { return m_api.GMW_NV_EraseAll(container); }
    int32_t GMW_NV_Delete(int32_t container) override { return m_api.GMW_NV_Delete(container); }
    int32_t GMW_Execute(const QString &callName, int32_t container) override;

private:
    KillSwitchApi(goldmine::GoldMineApi &api, QString step, int after)
        : m_api(api)
        , m_step(std::move(step))
        , m_after(after)
    {}
    void completed(const QString &step);

    goldmine::GoldMineApi &m_api;
    QString m_step;
    int m_after;
    int m_seen = 0;
    int32_t m_lookupHandle = 0;
};

} // namespace cli
