#include "Login.h"

#include "Config.h"
#include "Database.h"
#include "Password.h"
#include "Store.h"

#include <sqlite3.h>

#include <filesystem>

namespace gm7s32 {

namespace {

namespace fs = std::filesystem;

constexpr int kBusyTimeoutMs = 5000;

bool tableExists(sqlite3 *db, const std::string &schema, const char *table)
{
    sqlite3_stmt *statement = nullptr;
    const std::string sql =
        "SELECT 1 FROM " + schema + ".sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return false;
    }
    sqlite3_bind_text(statement, 1, table, -1, SQLITE_STATIC);
    const bool found = sqlite3_step(statement) == SQLITE_ROW;
    sqlite3_finalize(statement);
    return found;
}

// Attaches the GoldMine database unless it is the common one; answers the
// schema name that reaches it, or "" when it cannot be attached.
std::string attachGoldMine(sqlite3 *db, const fs::path &goldPath, const fs::path &commonPath)
{
    std::error_code error;
    if (fs::equivalent(goldPath, commonPath, error))
        return "main";
    sqlite3_stmt *attach = nullptr;
    const std::string goldFile = goldPath.string();
    if (sqlite3_prepare_v2(db, "ATTACH DATABASE ?1 AS gold", -1, &attach, nullptr) != SQLITE_OK) {
        sqlite3_finalize(attach);
        return {};
    }
    sqlite3_bind_text(attach, 1, goldFile.c_str(), -1, SQLITE_TRANSIENT);
    const int attached = sqlite3_step(attach);
    sqlite3_finalize(attach);
    if (attached != SQLITE_DONE || sqlite3_exec(db, "SELECT count(*) FROM gold.sqlite_master",
                                                nullptr, nullptr, nullptr) != SQLITE_OK)
        return {};
    return "gold";
}

int32_t checkUser(sqlite3 *db, const std::string &goldSchema, const char *userName,
                  const char *password, std::string *storedName)
{
    if (!tableExists(db, goldSchema, "CAL"))
        return kLoadNoCalTable;
    if (!tableExists(db, "main", "CONTACT1"))
        return kLoadNoContactTable;

    std::string hash;
    std::string user;
    sqlite3_stmt *statement = nullptr;
    const std::string sql =
        "SELECT USERNAME, PASSHASH FROM " + goldSchema + ".USERS WHERE USERNAME=?1 COLLATE NOCASE";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(statement, 1, userName, -1, SQLITE_STATIC);
        if (sqlite3_step(statement) == SQLITE_ROW) {
            user = columnText(statement, 0);
            hash = columnText(statement, 1);
        }
    }
    sqlite3_finalize(statement);
    if (hash.empty()) {
        // Spend the same effort as a real check, so an unknown name cannot be
        // told from a wrong password by the time taken.
        std::string discarded;
        hashPassword(password, &discarded);
        return kLoadUserRefused;
    }
    if (!verifyPassword(password, hash))
        return kLoadUserRefused;
    *storedName = user;
    return 0;
}

} // namespace

int32_t logIn(const char *sysDir, const char *goldDir, const char *commonDir, const char *userName,
              const char *password, LoggedIn *loggedIn)
{
    if (!sysDir || !goldDir || !commonDir || !userName || !password || !loggedIn || !*sysDir)
        return kLoadCannotStart;
    std::error_code error;
    const fs::path directory(sysDir);
    if (!fs::is_directory(directory, error))
        return kLoadCannotStart;
    const auto config = StoreConfig::read(directory);
    if (!config)
        return kLoadCannotStart;
    const auto goldPath = config->databaseFor(goldDir);
    const auto commonPath = config->databaseFor(commonDir);
    // Never let SQLite create a missing database under an alias.
    if (!goldPath || !commonPath || !fs::is_regular_file(*goldPath, error) ||
        !fs::is_regular_file(*commonPath, error))
        return kLoadCannotStart;

    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(commonPath->c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return kLoadCannotStart;
    }
    auto database = std::make_unique<Database>(db);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    if (sqlite3_exec(db, "SELECT count(*) FROM main.sqlite_master", nullptr, nullptr, nullptr) !=
        SQLITE_OK)
        return kLoadCannotStart;
    const std::string goldSchema = attachGoldMine(db, *goldPath, *commonPath);
    if (goldSchema.empty())
        return kLoadCannotStart;
    // WAL lets a second process read while an import writes. A store on
    // read-only media keeps its journal mode, so failures here are not fatal.
    for (const std::string &schema : {std::string("main"), goldSchema}) {
        const std::string pragmas =
            "PRAGMA " + schema + ".journal_mode=WAL; PRAGMA " + schema + ".synchronous=NORMAL";
        sqlite3_exec(db, pragmas.c_str(), nullptr, nullptr, nullptr);
    }

    std::string user;
    const int32_t checked = checkUser(db, goldSchema, userName, password, &user);
    if (checked < 0)
        return checked;
    loggedIn->database = std::move(database);
    loggedIn->user = std::move(user);
    return 0;
}

} // namespace gm7s32
