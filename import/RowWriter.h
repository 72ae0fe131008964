#pragma once

#include "goldmine/GoldMineApi.h"
#include "goldmine/ImportState.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

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
    QString source; // the column's name, or the fixed text
    bool custom = false;
    QString fixedValue;  // custom entries
    int column = -1;     // index in the row set, column entries only
    bool notes = false;  // the GoldMine half is NOTES in any case
    qsizetype width = 0; // characters the field holds; 0: no limit
};

// A value the API cannot take as it is: longer than its field.
struct TooLong
{
    QString column; // the workbook column, or "Fixed text" for a custom entry
    QString field;
    qsizetype length = 0;
    qsizetype width = 0;

    // "Company: 41 characters, COMPANY holds 40"
    QString text() const;
};

// The current row's mapped values, cleaned for the API.
struct RowValues
{
    QStringList values;         // one per prepared entry, in list order
    QString notes;              // the last notes entry's value
    QStringList nulColumns;     // columns whose NUL characters were removed
    QStringList lossyColumns;   // columns with characters the API's code page lacks
    QStringList controlColumns; // columns holding other control characters
    std::optional<TooLong> tooLong;
};

// Takes NUL characters out of value: they cannot cross the API's
// zero-terminated text. Returns whether there were any.
bool removeNulCharacters(QString &value);
// Whether value holds a control character other than TAB, CR and LF.
bool hasControlCharacters(const QString &value);

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

    // Columns the entries name that the row set lacks, or that more than one
    // of its columns answer to (in different case).
    struct ColumnProblems
    {
        QStringList missing;
        QStringList ambiguous; // "Email, EMAIL" per name
    };

    // Splits the entries once for the whole run and looks their columns up.
    ColumnProblems prepare(const mapping::EntryList &entries, const excel::ado::Recordset &rows);
    QList<PreparedEntry> &entries() { return m_entries; }
    void setCurrentRow(const excel::ado::Recordset *rows) { m_rows = rows; }

    // The current row's values, with what the API would make of them.
    RowValues readRow() const;

    int32_t WriteRowContact(Form form, const RowValues &row);
    int32_t WriteRowNotes(const QString &notes);
    int32_t CreateImportGroup(const QString &groupName);
    int32_t AddRowToGroup();

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
    QString m_groupNo;
};

// The row set's column for name: the exact name, else the one column whose
// name differs only in case. Two or more of those make it ambiguous: -2, with
// their names in *candidates. -1 when there is none.
int findColumn(const excel::ado::Recordset &rows, const QString &name,
               QStringList *candidates = nullptr);

} // namespace import
