// GMW_LoadBDE's work: finding the store's databases, opening them as one
// connection and checking the user.
#pragma once

#include "Fields.h"

#include <cstdint>
#include <memory>
#include <string>

namespace gm7s32 {

class Database;

struct LoggedIn
{
    std::unique_ptr<Database> database;
    std::string user; // as the store spells it
    FieldMap fields;
};

// Why a load failed: a GMW_LoadBDE result and, for the operator, which file
// and what went wrong with it ("" where saying more would help an intruder).
struct LoadFailure
{
    int32_t code;
    std::string reason;
};

// Opens the store that sysDir's configuration names for the two aliases and
// checks the user. Throws LoadFailure.
LoggedIn logIn(const char *sysDir, const char *goldDir, const char *commonDir, const char *userName,
               const char *password);

} // namespace gm7s32
