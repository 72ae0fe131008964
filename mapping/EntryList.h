#pragma once

#include <QAbstractListModel>
#include <QString>
#include <QStringList>

namespace mapping {

// The two halves of a mapping entry, split at its first TAB.
struct EntryHalves
{
    QString excel;
    QString goldMine;
};

// Where an entry's value comes from: a fixed text (custom entry) or the named
// workbook column (column entry).
struct ValueSource
{
    bool custom = false;
    QString fixedValue; // custom entries
    QString column;     // column entries
};

// The mapping entries, one line of text each: Excel half, TAB, GoldMine half.
// This model is their only store; the mapping window shows it and the import
// reads it in list order.
class EntryList : public QAbstractListModel
{
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    static const QChar Tab;

    // Appends column + TAB + field.
    void addColumnEntry(const QString &column, const QString &field);
    // Appends "/" + text + "/" + TAB + field: the text is written into the
    // field for every row.
    void addCustomEntry(const QString &text, const QString &field);
    // Appends "/" + text + "/" + TAB + the GoldMine half of the entry at index,
    // then removes that entry. The text is taken exactly as typed.
    void makeCustom(int index, const QString &text);
    void remove(int index);

    int count() const { return static_cast<int>(m_entries.size()); }
    QString entry(int index) const { return m_entries.at(index); }
    const QStringList &entries() const { return m_entries; }

    static EntryHalves halves(const QString &entry);
    static ValueSource valueSource(const QString &entry);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    void append(const QString &entry);

    QStringList m_entries;
};

} // namespace mapping
