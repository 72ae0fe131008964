#pragma once

#include "goldmine/GoldMineApi.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <functional>

// A GoldMine API double for the windows' tests. The field-list query on
// contudef is answered with a fetch text built from fields, the group-name
// query on contgrps with a record id when groups holds the name (in any
// case); every other query finds nothing. Writes succeed and are counted. onCall runs at every call
// so a test can look at the window while the engine is at work.
class FieldListApi : public goldmine::GoldMineApi
{
public:
    QStringList fields;
    QStringList groups;
    int32_t fieldQueryHandle = 7;          // zero or negative plays a failed query
    QStringList queries;                   // every SQL text, in order
    QList<int32_t> sizingCounts;           // the count of every sizing fetch
    QList<int32_t> closed;                 // every handle passed to GMW_DS_Close
    QStringList executed;                  // every business-logic call name
    QList<QPair<QString, QString>> values; // every name/value set in a container
    std::function<void()> onCall;

    static QByteArray fetchText(const QStringList &values)
    {
        QByteArray text =
            "3000-" + QByteArray::number(values.size()).rightJustified(4, '0') + "\r\n";
        for (const QString &value : values)
            text += value.toLocal8Bit() + "\r\n";
        return text;
    }

    int32_t GMW_LoadBDE(const QString &, const QString &, const QString &, const QString &,
                        const QString &) override
    {
        called();
        return 1;
    }
    int32_t GMW_DS_Query(const QString &sql) override
    {
        called();
        queries.append(sql);
        if (sql.startsWith(QStringLiteral("select field_name from contudef"))) {
            m_pending = fetchText(fields);
            return fieldQueryHandle;
        }
        if (sql.contains(QStringLiteral("from contgrps"))) {
            for (const QString &group : groups) {
                if (sql.contains(QStringLiteral("upper('%1')").arg(group), Qt::CaseInsensitive)) {
                    m_pending = fetchText({QStringLiteral("GROUP0001")});
                    return 3;
                }
            }
        }
        m_pending = fetchText({});
        return 3;
    }
    int32_t GMW_DS_Fetch(int32_t, char *buffer, int32_t size, int32_t count) override
    {
        called();
        if (size == 0) {
            sizingCounts.append(count);
            return static_cast<int32_t>(m_pending.size());
        }
        const auto length = std::min<qsizetype>(size, m_pending.size());
        std::memcpy(buffer, m_pending.constData(), static_cast<size_t>(length));
        return static_cast<int32_t>(length);
    }
    int32_t GMW_DS_Close(int32_t handle) override
    {
        called();
        closed.append(handle);
        return 1;
    }
    int32_t GMW_NV_Create() override
    {
        called();
        return ++m_containers;
    }
    int32_t GMW_NV_SetValue(int32_t, const QString &name, const QString &value) override
    {
        called();
        values.append({name, value});
        return 1;
    }
    int32_t GMW_NV_AppendNvValue(int32_t, const QString &, int32_t) override
    {
        called();
        return 1;
    }
    QString GMW_NV_GetValue(int32_t, const QString &, const QString &defaultValue) override
    {
        called();
        return defaultValue;
    }
    int32_t GMW_NV_EraseAll(int32_t) override
    {
        called();
        return 1;
    }
    int32_t GMW_NV_Delete(int32_t) override
    {
        called();
        return 1;
    }
    int32_t GMW_Execute(const QString &callName, int32_t) override
    {
        called();
        executed.append(callName);
        return 1;
    }

    int fieldQueries() const
    {
        return static_cast<int>(queries.filter(QStringLiteral("from contudef")).size());
    }

private:
    void called()
    {
        if (onCall)
            onCall();
    }

    QByteArray m_pending;
    int32_t m_containers = 0;
};
