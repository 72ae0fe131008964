// GMW_LoadBDE's work: finding the store's databases, opening them as one
// connection and checking the user.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace gm7s32 {

class Database;

struct LoggedIn
{
    std::unique_ptr<Database> database;
    std::string user; // as the store spells it
};

// Opens the store that sysDir's configuration names for the two aliases and
// checks the user. Answers a GMW_LoadBDE result: zero with *loggedIn filled,
// or a negative code.
int32_t logIn(const char *sysDir, const char *goldDir, const char *commonDir, const char *userName,
              const char *password, LoggedIn *loggedIn);

} // namespace gm7s32
