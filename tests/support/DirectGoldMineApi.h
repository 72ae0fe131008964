#pragma once

#include "goldmine/GoldMineApi.h"

#include <QHash>
#include <QString>

// The GoldMine API bound at link time to libgm7s32, for tests that drive the
// engines against a real store without loading the library by name. Single
// calls can be made to fail, to play a store that refuses a write.
class DirectGoldMineApi : public goldmine::GoldMineApi
{
public:
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

    // From the given (1-based) call of that name on, GMW_Execute answers result
    // without running the call; queryFailsFrom does the same for GMW_DS_Query.
    void failExecute(const QString &callName, int fromCall, int32_t result)
    {
        m_executeFaults.insert(callName, {fromCall, result});
    }
    void failQueriesFrom(int fromQuery, int32_t result) { m_queryFault = {fromQuery, result}; }
    // From the given query on, the reading fetch hands back no text at all, as
    // a connection that breaks between the query and its answer would.
    void cutAnswersFrom(int fromQuery) { m_cutAnswersFrom = fromQuery; }

    int executeCount(const QString &callName) const { return m_executeCalls.value(callName); }
    int queryCount() const { return m_queries; }
    int liveContainers() const { return m_liveContainers; }

private:
    struct Fault
    {
        int from = 0;
        int32_t result = 0;
    };
    QHash<QString, Fault> m_executeFaults;
    QHash<QString, int> m_executeCalls;
    Fault m_queryFault;
    int m_cutAnswersFrom = 0;
    int m_queries = 0;
    int m_liveContainers = 0;
};
