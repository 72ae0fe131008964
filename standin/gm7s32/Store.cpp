#include "Store.h"

#include "Config.h"
#include "Password.h"
#include "Platform.h"
#include "Schema.h"
#include "Text.h"

#include <sqlite3.h>

#include <ctime>
#include <filesystem>
#include <vector>

namespace gm7s32 {

namespace {

namespace fs = std::filesystem;

constexpr const char *kGoldMineFile = "goldmine.db";
constexpr const char *kCommonFile = "common.db";
// GoldMine's user names are at most eight characters.
constexpr std::size_t kUserNameWidth = 8;

bool fail(std::string *error, const std::string &message)
{
    if (error)
        *error = message;
    return false;
}

// Creates one database file with its schema, all in one transaction.
bool createDatabase(const fs::path &path, const std::vector<std::string> &schema,
                    const std::string &userName, const std::string &hash, std::string *error)
{
    sqlite3 *db = nullptr;
    const int opened = sqlite3_open_v2(sqliteFileName(path).c_str(), &db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    const auto closeWith = [&](const std::string &message) {
        const std::string detail = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close_v2(db);
        return fail(error, message + " " + path.string() + ": " + detail);
    };
    if (opened != SQLITE_OK)
        return closeWith("cannot create");
    if (sqlite3_exec(db, "PRAGMA journal_mode=WAL; BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return closeWith("cannot prepare");
    for (const std::string &statement : schema) {
        if (sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            return closeWith("cannot lay out");
    }
    if (!hash.empty()) {
        const std::time_t seconds = std::time(nullptr);
        const std::tm local = localTime(seconds);
        char date[16];
        std::strftime(date, sizeof date, "%Y-%m-%d", &local);
        sqlite3_stmt *insert = nullptr;
        if (sqlite3_prepare_v2(db,
                               "INSERT INTO USERS (USERNAME, FULLNAME, PASSHASH, CREATEON, RECID) "
                               "VALUES (?1, ?1, ?2, ?3, ?4)",
                               -1, &insert, nullptr) != SQLITE_OK) {
            sqlite3_finalize(insert);
            return closeWith("cannot add the user to");
        }
        sqlite3_bind_text(insert, 1, userName.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, hash.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, date, -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 4, ("USER" + base36(static_cast<uint64_t>(seconds), 11)).c_str(),
                          -1, SQLITE_TRANSIENT);
        const int stepped = sqlite3_step(insert);
        sqlite3_finalize(insert);
        if (stepped != SQLITE_DONE)
            return closeWith("cannot add the user to");
    }
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        return closeWith("cannot write");
    if (sqlite3_close_v2(db) != SQLITE_OK)
        return fail(error, "cannot close " + path.string());
    return true;
}

} // namespace

bool createStore(const std::string &directory, const std::string &userName,
                 const std::string &password, std::string *error)
{
    std::vector<fs::path> created;
    // Takes away what this call made, never a file that was there before.
    const auto removeCreated = [&] {
        std::error_code code;
        for (const fs::path &file : created) {
            for (const char *suffix : {"", "-wal", "-shm", "-journal"})
                fs::remove(file.string() + suffix, code);
        }
    };
    try {
        if (directory.empty())
            return fail(error, "no store directory given");
        const std::string user = toUpperAscii(userName);
        if (user.empty() || characterCount(user) > kUserNameWidth ||
            user.find_first_of(" \t\r\n") != std::string::npos)
            return fail(error, "a user name has one to eight characters and no blanks");

        const fs::path root(directory);
        std::error_code code;
        for (const char *name : {kConfigFileName, kGoldMineFile, kCommonFile}) {
            if (fs::exists(root / name, code))
                return fail(error, root.string() + " already holds a store; not overwriting it");
        }
        // The store holds every contact and the password hash: its folder and
        // files are the owner's alone.
        std::string detail;
        if (!makePrivateDirectory(root, &detail))
            return fail(error, detail);

        std::string hash;
        if (!hashPassword(password.c_str(), &hash))
            return fail(error, "cannot hash the password");

        // Each file is made anew, so a store that another process creates at
        // the same moment is refused rather than overwritten.
        const auto createFile = [&](const char *name) {
            const fs::path path = root / name;
            switch (createPrivateFile(path, &detail)) {
            case NewFile::Created:
                created.push_back(path);
                return true;
            case NewFile::Exists:
                return fail(error, root.string() + " already holds a store; not overwriting it");
            case NewFile::Failed:
                break;
            }
            return fail(error, detail);
        };
        if (!createFile(kGoldMineFile) || !createFile(kCommonFile) ||
            !createDatabase(root / kGoldMineFile, goldMineSchema(), user, hash, error) ||
            !createDatabase(root / kCommonFile, contactSetSchema(), user, {}, error)) {
            removeCreated();
            return false;
        }
        // The configuration comes last: until it exists the store does not open.
        StoreConfig config;
        config.addAlias(goldMineAlias(), kGoldMineFile);
        config.addAlias(commonAlias(), kCommonFile);
        if (!createFile(kConfigFileName) || !config.write(root, error)) {
            removeCreated();
            return false;
        }
        return true;
    } catch (const std::exception &exception) {
        removeCreated();
        return fail(error, exception.what());
    } catch (...) {
        removeCreated();
        return fail(error, "cannot create the store");
    }
}

std::string goldMineAlias()
{
    return "GoldMine:";
}

std::string commonAlias()
{
    return "Common:";
}

} // namespace gm7s32
