#include "Fields.h"

#include "Database.h"
#include "Text.h"

#include <sqlite3.h>

#include <unordered_set>

namespace gm7s32 {

FieldMap loadFields(sqlite3 *db)
{
    std::unordered_map<std::string, std::unordered_set<std::string>> columns;
    for (const char *table : {"CONTACT1", "CONTACT2"}) {
        sqlite3_stmt *statement = nullptr;
        const std::string sql = std::string("PRAGMA main.table_info(") + table + ")";
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW)
                columns[table].insert(toUpperAscii(columnText(statement, 1)));
        }
        sqlite3_finalize(statement);
    }

    FieldMap fields;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT DBFNAME, FIELD_NAME, FIELD_TYPE, FIELD_LEN FROM main.CONTUDEF "
                           "ORDER BY rowid",
                           -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const std::string table = toUpperAscii(columnText(statement, 0));
            const std::string name = toUpperAscii(columnText(statement, 1));
            const std::string type = toUpperAscii(columnText(statement, 2));
            const sqlite3_int64 width = sqlite3_column_int64(statement, 3);
            if ((table != "CONTACT1" && table != "CONTACT2") || name == "ACCOUNTNO" ||
                name == "RECID" || !columns[table].count(name) || fields.count(name))
                continue;
            Field field;
            field.table = table;
            field.column = name;
            field.width = (type == "M" || width <= 0) ? 0 : static_cast<std::size_t>(width);
            field.hasShadow = columns[table].count("U_" + name) != 0;
            fields.emplace(name, std::move(field));
        }
    }
    sqlite3_finalize(statement);
    return fields;
}

} // namespace gm7s32
