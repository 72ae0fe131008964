// The store's tables, shaped like GoldMine's with its field names and widths.
#pragma once

#include <string>
#include <vector>

namespace gm7s32 {

// Statements that create the contact set database: CONTACT1, CONTACT2,
// CONTSUPP, CONTUDEF (with a row per user-visible contact field), CONTGRPS,
// NOTES and their indexes.
std::vector<std::string> contactSetSchema();

// Statements that create the GoldMine database: USERS and CAL.
std::vector<std::string> goldMineSchema();

} // namespace gm7s32
