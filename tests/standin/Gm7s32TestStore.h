// A temporary store for the GoldMine API stand-in's tests, with direct SQLite
// access to check what the library wrote.
#pragma once

#include "goldmine/gm7s32.h"
#include "standin/gm7s32/Store.h"

#include <QTemporaryDir>

#include <sqlite3.h>

#include <string>
#include <utility>
#include <vector>

inline constexpr const char *kTestUser = "MASTER";
inline constexpr const char *kTestPassword = "Correct Horse 7";

class TestStore
{
public:
    TestStore()
    {
        m_created = m_directory.isValid() &&
                    gm7s32::createStore(path(), kTestUser, kTestPassword, &m_error);
    }

    bool created() const { return m_created; }
    const std::string &error() const { return m_error; }
    std::string path() const { return m_directory.path().toStdString(); }
    std::string commonFile() const { return path() + "/common.db"; }
    std::string goldMineFile() const { return path() + "/goldmine.db"; }

    int32_t load(const char *user = kTestUser, const char *password = kTestPassword) const
    {
        return GMW_LoadBDE(path().c_str(), "GoldMine:", "Common:", user, password);
    }

    // Rows of a statement run directly on a database file; each value as text.
    static std::vector<std::vector<std::string>> rows(const std::string &file,
                                                      const std::string &sql)
    {
        std::vector<std::vector<std::string>> result;
        sqlite3 *db = nullptr;
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW) {
                std::vector<std::string> row;
                for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                    const auto *text =
                        reinterpret_cast<const char *>(sqlite3_column_text(statement, i));
                    row.emplace_back(text ? text : "");
                }
                result.push_back(std::move(row));
            }
        }
        sqlite3_finalize(statement);
        sqlite3_close_v2(db);
        return result;
    }

    std::vector<std::vector<std::string>> rows(const std::string &sql) const
    {
        return rows(commonFile(), sql);
    }

    // First value of the first row, "" when there is none.
    std::string value(const std::string &sql) const
    {
        const auto found = rows(sql);
        return found.empty() || found.front().empty() ? std::string() : found.front().front();
    }

    static bool exec(const std::string &file, const std::string &sql)
    {
        sqlite3 *db = nullptr;
        bool ok = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
                  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close_v2(db);
        return ok;
    }

    // Everything a call could have touched, as one text to compare.
    std::string snapshot() const
    {
        std::string text;
        for (const char *table : {"CONTACT1", "CONTACT2", "CONTSUPP", "NOTES", "CONTGRPS"}) {
            for (const auto &row :
                 rows(std::string("SELECT * FROM ") + table + " ORDER BY rowid")) {
                text += table;
                for (const auto &value : row)
                    text += '|' + value;
                text += '\n';
            }
        }
        return text;
    }

private:
    QTemporaryDir m_directory;
    std::string m_error;
    bool m_created = false;
};

// One sizing call and one reading call, as the program makes them. Answers the
// text, or the negative result of the failing call in *result.
inline std::string fetchPacket(int32_t handle, int32_t count, int32_t *result = nullptr)
{
    char one[1] = {0};
    const int32_t size = GMW_DS_Fetch(handle, one, 0, count);
    if (result)
        *result = size;
    if (size < 0)
        return {};
    std::string buffer(static_cast<std::size_t>(size) + 1, '\0');
    const int32_t length = GMW_DS_Fetch(handle, buffer.data(), size, 0);
    if (result)
        *result = length;
    if (length < 0)
        return {};
    return buffer.substr(0, static_cast<std::size_t>(length));
}

// Runs sql and answers its first packet (count records at most), or "" with a
// failing query's handle in *handleOut.
inline std::string queryPacket(const std::string &sql, int32_t count = 2000,
                               int32_t *handleOut = nullptr)
{
    const int32_t handle = GMW_DS_Query(sql.c_str(), nullptr, nullptr, nullptr);
    if (handleOut)
        *handleOut = handle;
    std::string packet = handle > 0 ? fetchPacket(handle, count) : std::string();
    GMW_DS_Close(handle);
    return packet;
}

// The records of a packet, each line without its CR LF.
inline std::vector<std::string> packetLines(const std::string &packet)
{
    std::vector<std::string> lines;
    for (std::size_t start = 11; start < packet.size();) {
        const std::size_t end = packet.find("\r\n", start);
        if (end == std::string::npos)
            break;
        lines.push_back(packet.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// A container filled with the pairs, in order.
inline int32_t containerWith(const std::vector<std::pair<std::string, std::string>> &values)
{
    const int32_t container = GMW_NV_Create();
    for (const auto &[name, value] : values)
        GMW_NV_SetValue(container, name.c_str(), value.c_str());
    return container;
}
