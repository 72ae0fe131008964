#include "Login.h"

#include "Config.h"
#include "Database.h"
#include "Password.h"
#include "Platform.h"
#include "Store.h"

#include <sqlite3.h>

#include <filesystem>

namespace gm7s32 {

namespace {

namespace fs = std::filesystem;

constexpr int kBusyTimeoutMs = 5000;

[[noreturn]] void cannotStart(const std::string &reason)
{
    throw LoadFailure{kLoadCannotStart, reason};
}

// What SQLite reported about file, for the operator.
[[noreturn]] void databaseFailed(sqlite3 *db, const fs::path &file)
{
    cannotStart(file.string() + ": " + sqlite3_errmsg(db));
}

bool tableExists(sqlite3 *db, const std::string &schema, const char *table, const fs::path &file)
{
    sqlite3_stmt *statement = nullptr;
    const std::string sql =
        "SELECT 1 FROM " + schema + ".sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        databaseFailed(db, file);
    }
    sqlite3_bind_text(statement, 1, table, -1, SQLITE_STATIC);
    const int stepped = sqlite3_step(statement);
    sqlite3_finalize(statement);
    if (stepped != SQLITE_ROW && stepped != SQLITE_DONE)
        databaseFailed(db, file);
    return stepped == SQLITE_ROW;
}

// Attaches the GoldMine database unless it is the common one; answers the
// schema name that reaches it.
std::string attachGoldMine(sqlite3 *db, const fs::path &goldPath, const fs::path &commonPath)
{
    std::error_code error;
    if (fs::equivalent(goldPath, commonPath, error))
        return "main";
    sqlite3_stmt *attach = nullptr;
    const std::string goldFile = sqliteFileName(goldPath);
    if (sqlite3_prepare_v2(db, "ATTACH DATABASE ?1 AS gold", -1, &attach, nullptr) != SQLITE_OK) {
        sqlite3_finalize(attach);
        databaseFailed(db, goldPath);
    }
    sqlite3_bind_text(attach, 1, goldFile.c_str(), -1, SQLITE_TRANSIENT);
    const int attached = sqlite3_step(attach);
    sqlite3_finalize(attach);
    if (attached != SQLITE_DONE || sqlite3_exec(db, "SELECT count(*) FROM gold.sqlite_master",
                                                nullptr, nullptr, nullptr) != SQLITE_OK)
        databaseFailed(db, goldPath);
    return "gold";
}

// Answers the user's name as the store spells it.
std::string checkUser(sqlite3 *db, const std::string &goldSchema, const fs::path &goldPath,
                      const char *userName, const char *password)
{
    std::string hash;
    std::string user;
    sqlite3_stmt *statement = nullptr;
    const std::string sql =
        "SELECT USERNAME, PASSHASH FROM " + goldSchema + ".USERS WHERE USERNAME=?1 COLLATE NOCASE";
    int status = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
    if (status == SQLITE_OK) {
        sqlite3_bind_text(statement, 1, userName, -1, SQLITE_STATIC);
        status = sqlite3_step(statement);
        if (status == SQLITE_ROW) {
            user = columnText(statement, 0);
            hash = columnText(statement, 1);
        }
    }
    sqlite3_finalize(statement);
    // A store without a user table has no user to let in; a file that cannot
    // be read is another matter.
    if (status != SQLITE_OK && status != SQLITE_ROW && status != SQLITE_DONE &&
        (status & 0xff) != SQLITE_ERROR)
        databaseFailed(db, goldPath);
    if (hash.empty()) {
        // Spend the same effort as a real check, so an unknown name cannot be
        // told from a wrong password by the time taken.
        std::string discarded;
        hashPassword(password, &discarded);
        throw LoadFailure{kLoadUserRefused, {}};
    }
    if (!verifyPassword(password, hash))
        throw LoadFailure{kLoadUserRefused, {}};
    return user;
}

} // namespace

LoggedIn logIn(const char *sysDir, const char *goldDir, const char *commonDir, const char *userName,
               const char *password)
{
    if (!sysDir || !goldDir || !commonDir || !userName || !password || !*sysDir)
        cannotStart("GMW_LoadBDE was called without one of its five texts");
    std::error_code error;
    const fs::path directory(sysDir);
    if (!fs::is_directory(directory, error))
        cannotStart(directory.string() + " is not a directory");
    const fs::path configFile = directory / kConfigFileName;
    const auto config = StoreConfig::read(directory);
    if (!config)
        cannotStart(configFile.string() + " cannot be read");
    const auto goldPath = config->databaseFor(goldDir);
    const auto commonPath = config->databaseFor(commonDir);
    for (const auto &[alias, path] : {std::pair{goldDir, goldPath}, {commonDir, commonPath}}) {
        if (!path)
            cannotStart(configFile.string() + " names no database for \"" + alias + "\"");
        // Never let SQLite create a missing database under an alias.
        if (!fs::is_regular_file(*path, error))
            cannotStart(path->string() + " is missing or not a file");
    }

    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(sqliteFileName(*commonPath).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        const std::string reason =
            commonPath->string() + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close_v2(db);
        cannotStart(reason);
    }
    auto database = std::make_unique<Database>(db);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    if (sqlite3_exec(db, "SELECT count(*) FROM main.sqlite_master", nullptr, nullptr, nullptr) !=
        SQLITE_OK)
        databaseFailed(db, *commonPath);
    const std::string goldSchema = attachGoldMine(db, *goldPath, *commonPath);
    // WAL lets a second process read while an import writes. A store on
    // read-only media keeps its journal mode, so failures here are not fatal.
    for (const std::string &schema : {std::string("main"), goldSchema}) {
        std::string pragmas = "PRAGMA " + schema;
        pragmas += ".journal_mode=WAL; PRAGMA ";
        pragmas += schema;
        pragmas += ".synchronous=NORMAL";
        sqlite3_exec(db, pragmas.c_str(), nullptr, nullptr, nullptr);
    }

    if (!tableExists(db, goldSchema, "CAL", *goldPath))
        throw LoadFailure{kLoadNoCalTable, goldPath->string() + " has no CAL table"};
    if (!tableExists(db, "main", "CONTACT1", *commonPath))
        throw LoadFailure{kLoadNoContactTable, commonPath->string() + " has no CONTACT1 table"};
    LoggedIn loggedIn;
    loggedIn.user = checkUser(db, goldSchema, *goldPath, userName, password);
    auto fields = loadFields(db);
    if (!fields)
        databaseFailed(db, *commonPath);
    loggedIn.fields = std::move(*fields);
    loggedIn.database = std::move(database);
    return loggedIn;
}

} // namespace gm7s32
