#include "FakeGoldMineApi.h"

#include <cstring>

int32_t FakeGoldMineApi::GMW_LoadBDE(const QString &sysDir, const QString &goldDir,
                                     const QString &commonDir, const QString &userName,
                                     const QString &password)
{
    ++loadCalls;
    loadArguments = {sysDir, goldDir, commonDir, userName, password};
    return loadAnswer;
}

int32_t FakeGoldMineApi::GMW_DS_Query(const QString &sql)
{
    queries.append(sql);
    return queryHandle;
}

int32_t FakeGoldMineApi::GMW_DS_Fetch(int32_t handle, char *buffer, int32_t size, int32_t count)
{
    fetches.append({handle, size, count});
    if (count != 0)
        return sizingAnswer == -100 ? static_cast<int32_t>(fetchText.size()) : sizingAnswer;
    // Never more than the caller said its buffer holds.
    const qsizetype written = qMin<qsizetype>(fetchText.size(), qMax(size, 0));
    std::memcpy(buffer, fetchText.constData(), static_cast<size_t>(written));
    return readingAnswer == -100 ? static_cast<int32_t>(written) : readingAnswer;
}

int32_t FakeGoldMineApi::GMW_DS_Close(int32_t handle)
{
    closedHandles.append(handle);
    return 0;
}

QByteArray FakeGoldMineApi::fetchTextFor(const QStringList &values)
{
    QByteArray text = "HDR: " + QByteArray::number(values.size()).rightJustified(4, ' ') + "\r\n";
    for (const QString &value : values)
        text += value.toLocal8Bit() + "\r\n";
    return text;
}
