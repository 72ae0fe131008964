// The contact fields a caller may set, as the store's CONTUDEF lists them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>

struct sqlite3;

namespace gm7s32 {

struct Field
{
    std::string table; // CONTACT1 or CONTACT2
    std::string column;
    std::size_t width = 0;  // characters; 0 when the field has no limit
    bool hasShadow = false; // an upper-case U_ column is kept beside it
};

// By upper-case field name.
using FieldMap = std::unordered_map<std::string, Field>;

// The fields CONTUDEF lists that exist in CONTACT1 or CONTACT2, except the
// keys (ACCOUNTNO, RECID), which are the store's to give. A store without
// those tables has no fields; nothing when the database cannot be read.
std::optional<FieldMap> loadFields(sqlite3 *db);

} // namespace gm7s32
