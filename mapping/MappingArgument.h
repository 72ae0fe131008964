#pragma once

#include "mapping/Errors.h"

#include <QString>

namespace mapping {

class EntryList;

// One mapping as a command line or a script gives it: "COLUMN=FIELD" (a column
// entry) or "TEXT=FIELD" (a fixed text, a custom entry).
struct MappingArgument
{
    bool fixed = false;
    QString source; // the column's name or the fixed text
    QString field;  // the GoldMine field
};

// Splits the argument at its last "=", so that column names and fixed texts may
// hold "=" (field names never do). A column entry needs a column; a fixed text
// may be empty; both need a field. Neither half may hold a TAB, which would
// split the entry somewhere else.
Result<MappingArgument> parseMappingArgument(const QString &argument, bool fixed);

// Appends the argument to the list as a column entry or a custom entry.
void addMapping(EntryList &entries, const MappingArgument &mapping);

} // namespace mapping
