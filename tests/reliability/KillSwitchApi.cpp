#include "KillSwitchApi.h"

#include <QStringList>

#include <csignal>

namespace {

QString stepOfCall(const QString &callName)
{
    if (callName == QLatin1String("WriteContact"))
        return QStringLiteral("contact");
    if (callName == QLatin1String("WriteContactNotes"))
        return QStringLiteral("notes");
    if (callName == QLatin1String("AddContactGrpMembers"))
        return QStringLiteral("group");
    return {};
}

} // namespace

std::unique_ptr<KillSwitchApi> KillSwitchApi::create(goldmine::GoldMineApi &api,
                                                     const QString &armed, QString *error)
{
    const QString step = armed.section(QLatin1Char(':'), 0, 0);
    bool isNumber = false;
    const int after = armed.section(QLatin1Char(':'), 1).toInt(&isNumber);
    const QStringList steps{QStringLiteral("lookup"), QStringLiteral("contact"),
                            QStringLiteral("notes"), QStringLiteral("group")};
    if (!steps.contains(step) || !isNumber || after < 1) {
        *error = QStringLiteral("the kill switch wants lookup|contact|notes|group:N, not ") + armed;
        return {};
    }
    return std::unique_ptr<KillSwitchApi>(new KillSwitchApi(api, step, after));
}

int32_t KillSwitchApi::GMW_NV_Create()
{
    const int32_t handle = m_api.GMW_NV_Create();
    if (m_contactContainer == 0)
        m_contactContainer = handle;
    return handle;
}

int32_t KillSwitchApi::GMW_NV_EraseAll(int32_t container)
{
    if (container == m_contactContainer)
        m_rowStarted = true;
    return m_api.GMW_NV_EraseAll(container);
}

int32_t KillSwitchApi::GMW_DS_Query(const QString &sql)
{
    const int32_t handle = m_api.GMW_DS_Query(sql);
    if (m_rowStarted) {
        m_rowStarted = false;
        m_lookupHandle = handle;
    }
    return handle;
}

int32_t KillSwitchApi::GMW_DS_Close(int32_t handle)
{
    const int32_t result = m_api.GMW_DS_Close(handle);
    if (m_lookupHandle != 0 && handle == m_lookupHandle) {
        m_lookupHandle = 0;
        completed(QStringLiteral("lookup"));
    }
    return result;
}

int32_t KillSwitchApi::GMW_Execute(const QString &callName, int32_t container)
{
    const int32_t result = m_api.GMW_Execute(callName, container);
    completed(stepOfCall(callName));
    return result;
}

void KillSwitchApi::completed(const QString &step)
{
    if (step == m_step && ++m_seen == m_after)
        std::raise(SIGKILL);
}
