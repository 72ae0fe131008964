#include "cli/KillSwitchApi.h"

#include <QHash>

#include <csignal>
#include <cstdlib>

namespace cli {

namespace {

const QHash<QString, QString> &callSteps()
{
    static const QHash<QString, QString> steps = {
        {QStringLiteral("WriteContact"), QStringLiteral("contact")},
        {QStringLiteral("WriteContactNotes"), QStringLiteral("notes")},
        {QStringLiteral("AddContactGrpMembers"), QStringLiteral("group")},
    };
    return steps;
}

} // namespace

std::unique_ptr<goldmine::GoldMineApi> KillSwitchApi::wrapIfArmed(goldmine::GoldMineApi &api,
                                                                  QString *error)
{
    const QString armed = qEnvironmentVariable("RUVELO_TEST_KILL_AFTER");
    if (armed.isEmpty())
        return {};
    const QString step = armed.section(QLatin1Char(':'), 0, 0);
    bool isNumber = false;
    const int after = armed.section(QLatin1Char(':'), 1).toInt(&isNumber);
    const bool known = step == QLatin1String("lookup") || callSteps().values().contains(step);
    if (!known || !isNumber || after < 1) {
        *error = QStringLiteral("RUVELO_TEST_KILL_AFTER wants lookup|contact|notes|group:N");
        return {};
    }
    return std::unique_ptr<goldmine::GoldMineApi>(new KillSwitchApi(api, step, after));
}

int32_t KillSwitchApi::GMW_DS_Query(const QString &sql)
{
    const int32_t handle = m_api.GMW_DS_Query(sql);
    if (sql.startsWith(QLatin1String("select recid from contact1")))
        m_lookupHandle = handle;
    return handle;
}

int32_t KillSwitchApi::GMW_DS_Close(int32_t handle)
{
    const int32_t result = m_api.GMW_DS_Close(handle);
    if (handle == m_lookupHandle) {
        m_lookupHandle = 0;
        completed(QStringLiteral("lookup"));
    }
    return result;
}

int32_t KillSwitchApi::GMW_Execute(const QString &callName, int32_t container)
{
    const int32_t result = m_api.GMW_Execute(callName, container);
    completed(callSteps().value(callName));
    return result;
}

void KillSwitchApi::completed(const QString &step)
{
    if (step == m_step && ++m_seen == m_after)
        std::raise(SIGKILL);
}

} // namespace cli
