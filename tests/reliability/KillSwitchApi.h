#pragma once

#include "goldmine/GoldMineApi.h"

#include <QString>

#include <memory>

// Passes every call through to the real API and kills the process with
// SIGKILL right after the n-th completion of one step, as a power cut would.
// Steps are told apart by the calls themselves, not by SQL text:
//   contact  "WriteContact" executed
//   notes    "WriteContactNotes" executed
//   group    "AddContactGrpMembers" executed
//   lookup   the e-mail lookup closed: the first query of a row, a row starting
//            when the run's first container (the contact container) is emptied
class KillSwitchApi : public goldmine::GoldMineApi
{
public:
    // Reads "step:n"; null with *error set when it is malformed.
    static std::unique_ptr<KillSwitchApi> create(goldmine::GoldMineApi &api, const QString &armed,
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
    int32_t GMW_NV_Create() override;
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
    int32_t GMW_NV_EraseAll(int32_t container) override;
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
    int32_t m_contactContainer = 0;
    bool m_rowStarted = false;
    int32_t m_lookupHandle = 0;
};
