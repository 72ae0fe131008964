#pragma once

#include "goldmine/GoldMineApi.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// A scripted GoldMine API that records what the program asks of it.
class FakeGoldMineApi : public goldmine::GoldMineApi
{
public:
    struct Fetch
    {
        int32_t handle;
        int32_t size;
        int32_t count;
    };

    // Scripted answers.
    int32_t queryHandle = 7;
    QByteArray fetchText;         // what the reading call leaves in the buffer
    int32_t sizingAnswer = -100;  // -100: the length of fetchText
    int32_t readingAnswer = -100; // -100: the number of bytes written
    int32_t loadAnswer = 0;

    // Recorded calls.
    QStringList queries;
    QList<Fetch> fetches;
    QList<int32_t> closedHandles;
    QStringList loadArguments;
    int loadCalls = 0;

    int32_t GMW_LoadBDE(const QString &sysDir, const QString &goldDir, const QString &commonDir,
                        const QString &userName, const QString &password) override;
    int32_t GMW_DS_Query(const QString &sql) override;
    int32_t GMW_DS_Fetch(int32_t handle, char *buffer, int32_t size, int32_t count) override;
    int32_t GMW_DS_Close(int32_t handle) override;
    int32_t GMW_NV_Create() override { return 1; }
    int32_t GMW_NV_SetValue(int32_t, const QString &, const QString &) override { return 0; }
    int32_t GMW_NV_AppendNvValue(int32_t, const QString &, int32_t) override { return 0; }
    QString GMW_NV_GetValue(int32_t, const QString &, const QString &) override
    {
        return QString();
    }
    int32_t GMW_NV_EraseAll(int32_t) override { return 0; }
    int32_t GMW_NV_Delete(int32_t) override { return 0; }
    int32_t GMW_Execute(const QString &, int32_t) override { return 0; }

    // A fetch text in the library's layout for these one-column records.
    static QByteArray fetchTextFor(const QStringList &values);
};
