#include "import/RowWriter.h"

#include "excel/Workbook.h"
#include "goldmine/ApiText.h"
#include "mapping/EntryList.h"

#include <utility>

namespace import {

QString TooLong::text() const
{
    return QStringLiteral("%1: %2 characters, %3 holds %4")
        .arg(column)
        .arg(length)
        .arg(field)
        .arg(width);
}

bool removeNulCharacters(QString &value)
{
    if (!value.contains(QChar(u'\0')))
        return false;
    value.remove(QChar(u'\0'));
    return true;
}

bool hasControlCharacters(const QString &value)
{
    for (const QChar c : value) {
        const char16_t unit = c.unicode();
        if ((unit < 0x20 && unit != u'\t' && unit != u'\r' && unit != u'\n') || unit == 0x7F)
            return true;
    }
    return false;
}

int findColumn(const excel::ado::Recordset &rows, const QString &name, QStringList *candidates)
{
    const QStringList names = rows.fieldNames();
    const qsizetype exact = names.indexOf(name);
    if (exact >= 0)
        return static_cast<int>(exact);
    QStringList folded;
    int found = -1;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names.at(i).compare(name, Qt::CaseInsensitive) == 0) {
            folded.append(names.at(i));
            found = static_cast<int>(i);
        }
    }
    if (folded.size() > 1) {
        if (candidates)
            *candidates = folded;
        return -2;
    }
    return found;
}

RowWriter::RowWriter(goldmine::GoldMineApi &api, goldmine::ImportState &state)
    : m_api(api)
    , m_state(state)
{}

RowWriter::ColumnProblems RowWriter::prepare(const mapping::EntryList &entries,
                                             const excel::ado::Recordset &rows)
{
    ColumnProblems problems;
    m_entries.clear();
    m_entries.reserve(entries.count());
    for (const QString &entry : entries.entries()) {
        const mapping::EntryHalves halves = mapping::EntryList::halves(entry);
        const mapping::ValueSource source = mapping::EntryList::valueSource(entry);
        PreparedEntry prepared;
        prepared.goldMineField = halves.goldMine;
        prepared.custom = source.custom;
        prepared.source = source.custom ? source.fixedValue : source.column;
        prepared.fixedValue = source.fixedValue;
        prepared.notes = halves.goldMine.toUpper() == QLatin1String("NOTES");
        if (!source.custom) {
            QStringList candidates;
            prepared.column = findColumn(rows, source.column, &candidates);
            if (prepared.column == -1 && !problems.missing.contains(source.column))
                problems.missing.append(source.column);
            const QString both = candidates.join(QStringLiteral(", "));
            if (prepared.column == -2 && !problems.ambiguous.contains(both))
                problems.ambiguous.append(both);
        }
        m_entries.append(prepared);
    }
    return problems;
}

QString RowWriter::cellText(int column) const
{
    if (m_rows == nullptr || column < 0)
        return {};
    return excel::VariantToText(m_rows->value(column));
}

RowValues RowWriter::readRow() const
{
    RowValues row;
    row.values.reserve(m_entries.size());
    for (const PreparedEntry &entry : m_entries) {
        QString value = entry.custom ? entry.fixedValue : cellText(entry.column);
        const QString column = entry.custom ? entry.goldMineField : entry.source;
        if (removeNulCharacters(value) && !row.nulColumns.contains(column))
            row.nulColumns.append(column);
        if (hasControlCharacters(value) && !row.controlColumns.contains(column))
            row.controlColumns.append(column);
        if (m_api.losesCharacters(value) && !row.lossyColumns.contains(column))
            row.lossyColumns.append(column);
        if (!row.tooLong && entry.width > 0) {
            const qsizetype length = goldmine::apiCharacterCount(value);
            if (length > entry.width) {
                row.tooLong = TooLong{entry.custom ? QStringLiteral("Fixed text") : entry.source,
                                      entry.goldMineField, length, entry.width};
            }
        }
        // A custom entry names no column, so its fixed text is its notes text.
        if (entry.notes)
            row.notes = value;
        row.values.append(value);
    }
    return row;
}

int32_t RowWriter::WriteRowContact(Form form, const RowValues &row)
{
    if (form == Form::Update)
        keep(m_api.GMW_NV_SetValue(m_state.lGMPtr, QStringLiteral("recid"), m_state.sRecid));
    else
        keep(m_api.GMW_NV_SetValue(m_state.lGMPtr, QStringLiteral("Email"), m_state.sEmail));

    for (qsizetype i = 0; i < m_entries.size(); ++i)
        keep(
            m_api.GMW_NV_SetValue(m_state.lGMPtr, m_entries.at(i).goldMineField, row.values.at(i)));

    const int32_t result = keep(m_api.GMW_Execute(QStringLiteral("WriteContact"), m_state.lGMPtr));
    if (form == Form::New) {
        // A failed creation leaves no record id, whatever the container holds.
        m_state.sRecid =
            result < 0 ? QString()
                       : m_api.GMW_NV_GetValue(m_state.lGMPtr, QStringLiteral("RECID"), QString());
    }
    return result;
}

int32_t RowWriter::WriteRowNotes(const QString &notes)
{
    // The previous row's request is released rather than left behind.
    if (m_state.lGMPtr4 > 0)
        m_api.GMW_NV_Delete(m_state.lGMPtr4);
    m_state.lGMPtr4 = m_api.GMW_NV_Create();
    keep(m_api.GMW_NV_SetValue(m_state.lGMPtr4, QStringLiteral("Recid"), m_state.sRecid));
    keep(m_api.GMW_NV_SetValue(m_state.lGMPtr4, QStringLiteral("Notes"), notes));
    const int32_t result =
        keep(m_api.GMW_Execute(QStringLiteral("WriteContactNotes"), m_state.lGMPtr4));
    m_api.GMW_NV_EraseAll(m_state.lGMPtr4);
    return result;
}

int32_t RowWriter::CreateImportGroup(const QString &groupName)
{
    keep(m_api.GMW_NV_SetValue(m_state.lGMPtr, QStringLiteral("GroupName"), groupName));
    keep(m_api.GMW_NV_SetValue(m_state.lGMPtr, QStringLiteral("GroupCode"), QStringLiteral("MKT")));
    keep(m_api.GMW_NV_SetValue(m_state.lGMPtr, QStringLiteral("SyncGroup"), QStringLiteral("1")));
    const int32_t result =
        keep(m_api.GMW_Execute(QStringLiteral("CreateContactGroup"), m_state.lGMPtr));
    m_groupNo = result < 0
                    ? QString()
                    : m_api.GMW_NV_GetValue(m_state.lGMPtr, QStringLiteral("GroupNo"), QString());
    return result;
}

int32_t RowWriter::AddRowToGroup()
{
    keep(m_api.GMW_NV_SetValue(m_state.lGMPtr2, QStringLiteral("Accountno"), m_state.sAccountno));
    keep(m_api.GMW_NV_SetValue(m_state.lGMPtr3, QStringLiteral("GroupNo"), m_groupNo));
    keep(m_api.GMW_NV_AppendNvValue(m_state.lGMPtr3, QStringLiteral("Members"), m_state.lGMPtr2));
    const int32_t result =
        keep(m_api.GMW_Execute(QStringLiteral("AddContactGrpMembers"), m_state.lGMPtr3));
    m_api.GMW_NV_EraseAll(m_state.lGMPtr3);
    m_api.GMW_NV_EraseAll(m_state.lGMPtr2);
    return result;
}

} // namespace import
