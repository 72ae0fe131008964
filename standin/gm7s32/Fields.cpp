#include "Fields.h"

#include "Database.h"
#include "Text.h"

#include <sqlite3.h>

#include <unordered_set>

namespace gm7s32 {

namespace {

// Steps through sql's rows; false when reading failed (a missing table is no
// failure: it has no rows).
template <typename Row> bool eachRow(sqlite3 *db, const std::string &sql, Row row)
{
    sqlite3_stmt *statement = nullptr;
    int status = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
    if (status == SQLITE_OK) {
        while ((status = sqlite3_step(statement)) == SQLITE_ROW)
            row(statement);
    }
    sqlite3_finalize(statement);
    return status == SQLITE_OK || status == SQLITE_DONE || (status & 0xff) == SQLITE_ERROR;
}

} // namespace

std::optional<FieldMap> loadFields(sqlite3 *db)
{
    std::unordered_map<std::string, std::unordered_set<std::string>> columns;
    for (const char *table : {"CONTACT1", "CONTACT2"}) {
        if (!eachRow(db, std::string("PRAGMA main.table_info(") + table + ")",
                     [&](sqlite3_stmt *statement) {
                         columns[table].insert(toUpperAscii(columnText(statement, 1)));
                     }))
            return std::nullopt;
    }

    FieldMap fields;
    const bool read = eachRow(
        db, "SELECT DBFNAME, FIELD_NAME, FIELD_TYPE, FIELD_LEN FROM main.CONTUDEF ORDER BY rowid",
        [&](sqlite3_stmt *statement) {
            const std::string table = toUpperAscii(columnText(statement, 0));
            const std::string name = toUpperAscii(columnText(statement, 1));
            const std::string type = toUpperAscii(columnText(statement, 2));
            const sqlite3_int64 width = sqlite3_column_int64(statement, 3);
            if ((table != "CONTACT1" && table != "CONTACT2") || name == "ACCOUNTNO" ||
                name == "RECID" || !columns[table].count(name) || fields.count(name))
                return;
            Field field;
            field.table = table;
            field.column = name;
            field.width = (type == "M" || width <= 0) ? 0 : static_cast<std::size_t>(width);
            field.hasShadow = columns[table].count("U_" + name) != 0;
            fields.emplace(name, std::move(field));
        });
    if (!read)
        return std::nullopt;
    return fields;
}

} // namespace gm7s32
