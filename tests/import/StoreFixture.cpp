#include "import/StoreFixture.h"

#include "standin/gm7s32/Store.h"

#include <QByteArray>

StoreFixture::StoreFixture()
{
    std::string error;
    const std::string path = m_dir.path().toStdString() + "/store";
    if (!gm7s32::createStore(path, "MASTER", "secret", &error))
        return;
    m_ok = m_api.GMW_LoadBDE(QString::fromStdString(path),
                             QString::fromStdString(gm7s32::goldMineAlias()),
                             QString::fromStdString(gm7s32::commonAlias()),
                             QStringLiteral("MASTER"), QStringLiteral("secret")) >= 0;
}

QString StoreFixture::addContact(const QList<QPair<QString, QString>> &fields)
{
    const int32_t container = m_api.GMW_NV_Create();
    for (const auto &[name, value] : fields)
        m_api.GMW_NV_SetValue(container, name, value);
    const int32_t result = m_api.GMW_Execute(QStringLiteral("WriteContact"), container);
    QString recid =
        result < 0 ? QString() : m_api.GMW_NV_GetValue(container, QStringLiteral("RECID"), {});
    m_api.GMW_NV_Delete(container);
    return recid;
}

QList<QStringList> StoreFixture::select(const QString &sql)
{
    QList<QStringList> records;
    const int32_t handle = m_api.GMW_DS_Query(sql);
    if (handle <= 0) {
        m_api.GMW_DS_Close(handle);
        return records;
    }
    char sizing[1] = {0};
    const int32_t size = m_api.GMW_DS_Fetch(handle, sizing, 0, 1000000);
    if (size > 0) {
        QByteArray buffer(size + 1, '\0');
        const int32_t length = m_api.GMW_DS_Fetch(handle, buffer.data(), size, 0);
        const QString text = QString::fromLocal8Bit(buffer.constData(), length);
        // After the header line, one record per CR LF, its fields split by CR.
        const QStringList lines = text.mid(11).split(QStringLiteral("\r\n"));
        for (const QString &line : lines) {
            if (!line.isEmpty() || records.size() < text.mid(5, 4).toInt())
                records.append(line.split(QLatin1Char('\r')));
        }
        while (records.size() > text.mid(5, 4).toInt())
            records.removeLast();
    }
    m_api.GMW_DS_Close(handle);
    return records;
}

QString StoreFixture::value(const QString &sql)
{
    const QList<QStringList> records = select(sql);
    return records.isEmpty() || records.first().isEmpty() ? QString() : records.first().first();
}
