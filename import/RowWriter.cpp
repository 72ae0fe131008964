#include "import/RowWriter.h"

#include "excel/Workbook.h"
#include "mapping/EntryList.h"

#include <utility>

namespace import {

RowWriter::RowWriter(goldmine::GoldMineApi &api, goldmine::ImportState &state)
    : m_api(api)
    , m_state(state)
{}

QStringList RowWriter::prepare(const mapping::EntryList &entries, const excel::ado::Recordset &rows)
{
    QStringList missing;
    m_entries.clear();
    m_entries.reserve(entries.count());
    for (const QString &entry : entries.entries()) {
        const mapping::EntryHalves halves = mapping::EntryList::halves(entry);
        const mapping::ValueSource source = mapping::EntryList::valueSource(entry);
        PreparedEntry prepared;
        prepared.goldMineField = halves.goldMine;
        prepared.excelHalf = halves.excel;
        prepared.custom = source.custom;
        prepared.fixedValue = source.fixedValue;
        prepared.notes = halves.goldMine.toUpper() == QLatin1String("NOTES");
        if (!source.custom) {
            prepared.column = rows.fieldIndex(source.column);
            if (prepared.column < 0 && !missing.contains(source.column))
                missing.append(source.column);
        }
        m_entries.append(prepared);
    }
    return missing;
}

QString RowWriter::cellText(int column) const
{
    if (m_rows == nullptr || column < 0)
        return {};
    return excel::VariantToText(m_rows->value(column));
}

int32_t RowWriter::WriteRowContact(Form form)
{
    m_notes.clear();
    if (form == Form::Update)
        keep(m_api.GMW_NV_SetValue(m_state.lGMPtr, QStringLiteral("recid"), m_state.sRecid));
    else
        keep(m_api.GMW_NV_SetValue(m_state.lGMPtr, QStringLiteral("Email"), m_state.sEmail));

    for (const PreparedEntry &entry : std::as_const(m_entries)) {
        const QString value = entry.custom ? entry.fixedValue : cellText(entry.column);
        keep(m_api.GMW_NV_SetValue(m_state.lGMPtr, entry.goldMineField, value));
        // A custom entry names no column, so its fixed text is its notes text.
        if (entry.notes)
            m_notes = value;
    }

    const int32_t result = keep(m_api.GMW_Execute(QStringLiteral("WriteContact"), m_state.lGMPtr));
    if (form == Form::New) {
        // A failed creation leaves no record id, whatever the container holds.
        m_state.sRecid =
            result < 0 ? QString()
                       : m_api.GMW_NV_GetValue(m_state.lGMPtr, QStringLiteral("RECID"), QString());
    }
    return result;
}

int32_t RowWriter::WriteRowNotes()
{
    // The previous row's request is released rather than left behind.
    if (m_state.lGMPtr4 > 0)
        m_api.GMW_NV_Delete(m_state.lGMPtr4);
    m_state.lGMPtr4 = m_api.GMW_NV_Create();
    keep(m_api.GMW_NV_SetValue(m_state.lGMPtr4, QStringLiteral("Recid"), m_state.sRecid));
    keep(m_api.GMW_NV_SetValue(m_state.lGMPtr4, QStringLiteral("Notes"), m_notes));
    const int32_t result =
        keep(m_api.GMW_Execute(QStringLiteral("WriteContactNotes"), m_state.lGMPtr4));
    m_api.GMW_NV_EraseAll(m_state.lGMPtr4);
    m_notes.clear();
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
