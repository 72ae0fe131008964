#include "support/DirectGoldMineApi.h"

#include "goldmine/gm7s32.h"
#include "util/StringFunctions.h"

using namespace goldmine;

int32_t DirectGoldMineApi::GMW_LoadBDE(const QString &sysDir, const QString &goldDir,
                                       const QString &commonDir, const QString &userName,
                                       const QString &password)
{
    return ::GMW_LoadBDE(sysDir.toLocal8Bit().constData(), goldDir.toLocal8Bit().constData(),
                         commonDir.toLocal8Bit().constData(), userName.toLocal8Bit().constData(),
                         password.toLocal8Bit().constData());
}

int32_t DirectGoldMineApi::GMW_DS_Query(const QString &sql)
{
    ++m_queries;
    if (m_queryFault.from > 0 && m_queries >= m_queryFault.from)
        return m_queryFault.result;
    return ::GMW_DS_Query(sql.toLocal8Bit().constData(), nullptr, nullptr, nullptr);
}

int32_t DirectGoldMineApi::GMW_DS_Fetch(int32_t handle, char *buffer, int32_t size, int32_t count)
{
    if (count == 0 && m_cutAnswersFrom > 0 && m_queries >= m_cutAnswersFrom)
        return 0;
    return ::GMW_DS_Fetch(handle, buffer, size, count);
}

int32_t DirectGoldMineApi::GMW_DS_Close(int32_t handle)
{
    return ::GMW_DS_Close(handle);
}

int32_t DirectGoldMineApi::GMW_NV_Create()
{
    const int32_t handle = ::GMW_NV_Create();
    if (handle > 0)
        ++m_liveContainers;
    return handle;
}

int32_t DirectGoldMineApi::GMW_NV_SetValue(int32_t container, const QString &name,
                                           const QString &value)
{
    return ::GMW_NV_SetValue(container, name.toLocal8Bit().constData(),
                             value.toLocal8Bit().constData());
}

int32_t DirectGoldMineApi::GMW_NV_AppendNvValue(int32_t container, const QString &name,
                                                int32_t nested)
{
    return ::GMW_NV_AppendNvValue(container, name.toLocal8Bit().constData(), nested);
}

QString DirectGoldMineApi::GMW_NV_GetValue(int32_t container, const QString &name,
                                           const QString &defaultValue)
{
    const QByteArray fallback = defaultValue.toLocal8Bit();
    return util::PtrToString(
        ::GMW_NV_GetValue(container, name.toLocal8Bit().constData(), fallback.constData()));
}

int32_t DirectGoldMineApi::GMW_NV_EraseAll(int32_t container)
{
    return ::GMW_NV_EraseAll(container);
}

int32_t DirectGoldMineApi::GMW_NV_Delete(int32_t container)
{
    const int32_t result = ::GMW_NV_Delete(container);
    if (result >= 0)
        --m_liveContainers;
    return result;
}

int32_t DirectGoldMineApi::GMW_Execute(const QString &callName, int32_t container)
{
    const int call = ++m_executeCalls[callName];
    const auto fault = m_executeFaults.constFind(callName);
    if (fault != m_executeFaults.constEnd() && call >= fault->from)
        return fault->result;
    return ::GMW_Execute(callName.toLocal8Bit().constData(), container);
}
