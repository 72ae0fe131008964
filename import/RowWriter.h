#pragma once

#include "goldmine/GoldMineApi.h"
#include "goldmine/ImportState.h"

#include <QList>
#include <QString>

#include <cstdint>

namespace excel::ado {
class Recordset;
}
namespace mapping {
class EntryList;
}

namespace import {

// One mapping entry made ready for the rows: split once, its column looked up
// once, so that writing a row costs no text work beyond the values.
struct PreparedEntry
{
    QString goldMineField;
    QString excelHalf;
    bool custom = false;
    QString fixedValue;
    int column = -1;    // index in the row set, column entries only
    bool notes = false; // the GoldMine half is NOTES in any case
};

// Turns a workbook row and the mapping entries into GoldMine writes: the
// contact and its notes ("WriteContact", "WriteContactNotes") and the run's
// group ("CreateContactGroup", "AddContactGrpMembers"). Every call's result is
// kept in lResult; the methods answer GoldMine's result so the run can tell a
// failed write from a good one.
class RowWriter
{
public:
    enum class Form { Update, New };

    RowWriter(goldmine::GoldMineApi &api, goldmine::ImportState &state);

    // Splits the entries once for the whole run; column names that the row set
    // does not have are returned (empty when all are there).
    QStringList prepare(const mapping::EntryList &entries, const excel::ado::Recordset &rows);
    void setCurrentRow(const excel::ado::Recordset *rows) { m_rows = rows; }

    int32_t WriteRowContact(Form form);
    int32_t WriteRowNotes();
    int32_t CreateImportGroup(const QString &groupName);
    int32_t AddRowToGroup();

    const QString &sNotes() const { return m_notes; }
    const QString &sGroupNo() const { return m_groupNo; }

    // The current row's cell as text; an empty cell gives empty text.
    QString cellText(int column) const;

private:
    int32_t keep(int32_t result)
    {
        m_state.lResult = result;
        return result;
    }

    goldmine::GoldMineApi &m_api;
    goldmine::ImportState &m_state;
    const excel::ado::Recordset *m_rows = nullptr;
    QList<PreparedEntry> m_entries;
    QString m_notes;
    QString m_groupNo;
};

} // namespace import
