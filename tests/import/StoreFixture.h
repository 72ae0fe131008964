#pragma once

#include "support/DirectGoldMineApi.h"

#include <QList>
#include <QStringList>
#include <QTemporaryDir>

// A fresh GoldMine stand-in store in a temporary directory, loaded through
// the API, with helpers to seed contacts and read back what landed.
class StoreFixture
{
public:
    StoreFixture();

    bool ok() const { return m_ok; }
    QString directory() const { return m_dir.path(); }
    DirectGoldMineApi &api() { return m_api; }

    // Writes a contact through "WriteContact"; returns its record id.
    QString addContact(const QList<QPair<QString, QString>> &fields);
    // Every record of a query, each as its fields.
    QList<QStringList> select(const QString &sql);
    // The first field of the first record, or "" when there is none.
    QString value(const QString &sql);
    int count(const QString &sql) { return value(sql).toInt(); }

private:
    QTemporaryDir m_dir;
    DirectGoldMineApi m_api;
    bool m_ok = false;
};
