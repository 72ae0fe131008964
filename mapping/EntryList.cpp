#include "mapping/EntryList.h"

#include "util/StringFunctions.h"

namespace mapping {

const QChar EntryList::Tab = QLatin1Char('\t');

void EntryList::addColumnEntry(const QString &column, const QString &field)
{
    append(column + Tab + field);
}

void EntryList::addCustomEntry(const QString &text, const QString &field)
{
    append(QLatin1Char('/') + text + QLatin1Char('/') + Tab + field);
}

void EntryList::makeCustom(int index, const QString &text)
{
    if (index < 0 || index >= count())
        return;
    addCustomEntry(text, halves(m_entries.at(index)).goldMine);
    remove(index);
}

void EntryList::remove(int index)
{
    if (index < 0 || index >= count())
        return;
    beginRemoveRows(QModelIndex(), index, index);
    m_entries.removeAt(index);
    endRemoveRows();
}

EntryHalves EntryList::halves(const QString &entry)
{
    const QString tab(Tab);
    return {util::SF_splitLeft(entry, tab), util::SF_splitRight(entry, tab)};
}

ValueSource EntryList::valueSource(const QString &entry)
{
    const QString excelHalf = halves(entry).excel;
    ValueSource source;
    if (excelHalf.startsWith(QLatin1Char('/'))) {
        source.custom = true;
        // Only the wrapping slashes go: a "/" the operator typed is kept.
        const qsizetype end = excelHalf.size() >= 2 && excelHalf.endsWith(QLatin1Char('/'))
                                  ? excelHalf.size() - 1
                                  : excelHalf.size();
        source.fixedValue = excelHalf.mid(1, end - 1);
    } else {
        source.column = excelHalf;
    }
    return source;
}

int EntryList::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant EntryList::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return m_entries.at(index.row());
    return {};
}

void EntryList::append(const QString &entry)
{
    const int row = count();
    beginInsertRows(QModelIndex(), row, row);
    m_entries.append(entry);
    endInsertRows();
}

} // namespace mapping
