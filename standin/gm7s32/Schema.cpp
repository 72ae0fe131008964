#include "Schema.h"

#include <span>

namespace gm7s32 {

namespace {

// type: 'C' character (width in characters), 'M' memo (no limit), 'D' date
// kept as "YYYY-MM-DD". listed: the field has a CONTUDEF row, i.e. it is a
// contact field the user sees and "WriteContact" may set; shadow and
// bookkeeping columns are maintained by the store itself.
// Laid out in the order the column tables below read best in.
struct ColumnDef // NOLINT(clang-analyzer-optin.performance.Padding)
{
    const char *name;
    char type;
    int width;
    bool listed;
};

struct TableDef
{
    const char *name;
    std::span<const ColumnDef> columns;
};

constexpr ColumnDef contact1Columns[] = {
    {"ACCOUNTNO", 'C', 20, true},  {"COMPANY", 'C', 40, true},    {"CONTACT", 'C', 40, true},
    {"LASTNAME", 'C', 15, true},   {"DEPARTMENT", 'C', 35, true}, {"TITLE", 'C', 35, true},
    {"SECR", 'C', 20, true},       {"PHONE1", 'C', 25, true},     {"PHONE2", 'C', 25, true},
    {"PHONE3", 'C', 25, true},     {"FAX", 'C', 25, true},        {"EXT1", 'C', 6, true},
    {"EXT2", 'C', 6, true},        {"EXT3", 'C', 6, true},        {"EXT4", 'C', 6, true},
    {"ADDRESS1", 'C', 40, true},   {"ADDRESS2", 'C', 40, true},   {"ADDRESS3", 'C', 40, true},
    {"CITY", 'C', 30, true},       {"STATE", 'C', 20, true},      {"ZIP", 'C', 10, true},
    {"COUNTRY", 'C', 20, true},    {"DEAR", 'C', 20, true},       {"SOURCE", 'C', 20, true},
    {"KEY1", 'C', 20, true},       {"KEY2", 'C', 20, true},       {"KEY3", 'C', 20, true},
    {"KEY4", 'C', 20, true},       {"KEY5", 'C', 20, true},       {"STATUS", 'C', 3, true},
    {"NOTES", 'M', 0, true},       {"MERGECODES", 'C', 20, true}, {"CREATEBY", 'C', 8, false},
    {"CREATEON", 'D', 10, false},  {"CREATEAT", 'C', 5, false},   {"OWNER", 'C', 8, true},
    {"LASTUSER", 'C', 8, false},   {"LASTDATE", 'D', 10, false},  {"LASTTIME", 'C', 5, false},
    {"U_COMPANY", 'C', 40, false}, {"U_CONTACT", 'C', 40, false}, {"U_LASTNAME", 'C', 15, false},
    {"U_CITY", 'C', 30, false},    {"U_STATE", 'C', 20, false},   {"U_COUNTRY", 'C', 20, false},
    {"U_KEY1", 'C', 20, false},    {"U_KEY2", 'C', 20, false},    {"U_KEY3", 'C', 20, false},
    {"U_KEY4", 'C', 20, false},    {"U_KEY5", 'C', 20, false},    {"RECID", 'C', 15, true},
};

constexpr ColumnDef contact2Columns[] = {
    {"ACCOUNTNO", 'C', 20, false}, {"UINDUSTRY", 'C', 30, true}, {"UREGION", 'C', 20, true},
    {"UREFERRAL", 'C', 40, true},  {"USALESREP", 'C', 20, true}, {"UCUSTNO", 'C', 15, true},
    {"UINTEREST", 'C', 60, true},  {"LASTDATE", 'D', 10, false}, {"LASTTIME", 'C', 5, false},
    {"RECID", 'C', 15, false},
};

constexpr ColumnDef contsuppColumns[] = {
    {"ACCOUNTNO", 'C', 20, false},  {"RECTYPE", 'C', 1, false},
    {"CONTACT", 'C', 30, false},    {"TITLE", 'C', 35, false},
    {"CONTSUPREF", 'C', 35, false}, {"DEAR", 'C', 20, false},
    {"PHONE", 'C', 25, false},      {"EXT", 'C', 6, false},
    {"FAX", 'C', 25, false},        {"ADDRESS1", 'C', 40, false},
    {"ADDRESS2", 'C', 40, false},   {"CITY", 'C', 30, false},
    {"STATE", 'C', 20, false},      {"ZIP", 'C', 10, false},
    {"COUNTRY", 'C', 20, false},    {"MERGECODES", 'C', 20, false},
    {"NOTES", 'M', 0, false},       {"STATUS", 'C', 3, false},
    {"LINKACCT", 'C', 20, false},   {"LASTUSER", 'C', 8, false},
    {"LASTDATE", 'D', 10, false},   {"LASTTIME", 'C', 5, false},
    {"U_CONTACT", 'C', 30, false},  {"U_CONTSUPREF", 'C', 35, false},
    {"U_ADDRESS1", 'C', 40, false}, {"RECID", 'C', 15, false},
};

constexpr ColumnDef contgrpsColumns[] = {
    // Header rows: USERID the owner, CODE the group code, REF the name,
    // ACCOUNTNO empty. Member rows: USERID the header's RECID, ACCOUNTNO the
    // member, REF the member's contact name.
    {"USERID", 'C', 15, false},    {"CODE", 'C', 10, false},     {"REF", 'C', 60, false},
    {"ACCOUNTNO", 'C', 20, false}, {"SYNCGROUP", 'C', 1, false}, {"LASTUSER", 'C', 8, false},
    {"LASTDATE", 'D', 10, false},  {"LASTTIME", 'C', 5, false},  {"RECID", 'C', 15, false},
};

constexpr ColumnDef notesColumns[] = {
    {"ACCOUNTNO", 'C', 20, false}, {"NOTEDATE", 'D', 10, false}, {"NOTETIME", 'C', 8, false},
    {"USERID", 'C', 8, false},     {"NOTE", 'M', 0, false},      {"RECID", 'C', 15, false},
};

constexpr ColumnDef calColumns[] = {
    {"USERID", 'C', 8, false},   {"ACCOUNTNO", 'C', 20, false}, {"ONDATE", 'D', 10, false},
    {"ONTIME", 'C', 5, false},   {"ACTVCODE", 'C', 3, false},   {"RECTYPE", 'C', 10, false},
    {"DURATION", 'C', 5, false}, {"REF", 'C', 80, false},       {"NOTES", 'M', 0, false},
    {"RECID", 'C', 15, false},
};

std::string createTable(const TableDef &table, const char *extra = nullptr)
{
    std::string sql = std::string("CREATE TABLE ") + table.name + " (";
    bool first = true;
    for (const ColumnDef &column : table.columns) {
        if (!first)
            sql += ", ";
        first = false;
        sql += column.name;
        sql += " TEXT NOT NULL DEFAULT ''";
        // GoldMine's SQL Server compares support references without regard to case.
        if (std::string_view(table.name) == "CONTSUPP" &&
            std::string_view(column.name) == "CONTSUPREF")
            sql += " COLLATE NOCASE";
    }
    if (extra)
        sql += extra;
    sql += ")";
    return sql;
}

void addUdefRows(const TableDef &table, std::vector<std::string> *statements)
{
    for (const ColumnDef &column : table.columns) {
        if (!column.listed)
            continue;
        statements->push_back(std::string("INSERT INTO CONTUDEF (DBFNAME, FIELD_NAME, FIELD_TYPE, "
                                          "FIELD_LEN, FIELD_DEC) VALUES ('") +
                              table.name + "', '" + column.name + "', '" + column.type + "', " +
                              std::to_string(column.width) + ", 0)");
    }
}

} // namespace

std::vector<std::string> contactSetSchema()
{
    const char *const createContudef =
        "CREATE TABLE CONTUDEF (DBFNAME TEXT NOT NULL DEFAULT '', FIELD_NAME TEXT NOT NULL "
        "DEFAULT '', FIELD_TYPE TEXT NOT NULL DEFAULT '', FIELD_LEN INTEGER NOT NULL DEFAULT 0, "
        "FIELD_DEC INTEGER NOT NULL DEFAULT 0, FIELD_DESC TEXT NOT NULL DEFAULT '')";
    const TableDef contact1{"CONTACT1", contact1Columns};
    const TableDef contact2{"CONTACT2", contact2Columns};
    std::vector<std::string> statements{
        createTable(contact1),
        createTable(contact2),
        createTable({"CONTSUPP", contsuppColumns}),
        createTable({"CONTGRPS", contgrpsColumns}),
        createTable({"NOTES", notesColumns}),
        createContudef,
        "CREATE UNIQUE INDEX CONTACT1_RECID ON CONTACT1 (RECID)",
        "CREATE UNIQUE INDEX CONTACT1_ACCOUNTNO ON CONTACT1 (ACCOUNTNO)",
        "CREATE INDEX CONTACT2_ACCOUNTNO ON CONTACT2 (ACCOUNTNO)",
        "CREATE UNIQUE INDEX CONTACT2_RECID ON CONTACT2 (RECID)",
        "CREATE INDEX CONTSUPP_CONTSUPREF ON CONTSUPP (CONTSUPREF COLLATE NOCASE)",
        "CREATE INDEX CONTSUPP_ACCOUNTNO ON CONTSUPP (ACCOUNTNO, RECTYPE, CONTACT)",
        "CREATE UNIQUE INDEX CONTSUPP_RECID ON CONTSUPP (RECID)",
        "CREATE INDEX CONTGRPS_USERID ON CONTGRPS (USERID, ACCOUNTNO)",
        "CREATE UNIQUE INDEX CONTGRPS_RECID ON CONTGRPS (RECID)",
        "CREATE INDEX NOTES_ACCOUNTNO ON NOTES (ACCOUNTNO, NOTEDATE, NOTETIME)",
        "CREATE UNIQUE INDEX NOTES_RECID ON NOTES (RECID)",
    };
    addUdefRows(contact1, &statements);
    addUdefRows(contact2, &statements);
    return statements;
}

std::vector<std::string> goldMineSchema()
{
    return {
        "CREATE TABLE USERS (USERNAME TEXT NOT NULL COLLATE NOCASE, FULLNAME TEXT NOT NULL "
        "DEFAULT '', PASSHASH TEXT NOT NULL, CREATEON TEXT NOT NULL DEFAULT '', RECID TEXT NOT "
        "NULL DEFAULT '')",
        "CREATE UNIQUE INDEX USERS_USERNAME ON USERS (USERNAME)",
        createTable({"CAL", calColumns}),
        "CREATE INDEX CAL_USERID ON CAL (USERID, ONDATE)",
    };
}

} // namespace gm7s32
