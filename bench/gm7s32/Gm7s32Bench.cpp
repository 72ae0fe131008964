// Writes N contacts through GMW_Execute("WriteContact") and looks each up by
// e-mail through GMW_DS_Query/GMW_DS_Fetch with the program's SQL, then does
// the same work directly with the SQLite C API (prepared statements, one
// transaction per contact) on a second store, the two sides alternating in
// chunks; prints calls per second and the ratio API/direct.
//
//   gm7s32-bench [contacts] [work directory]
#include "goldmine/gm7s32.h"
#include "standin/gm7s32/Store.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string email(int i)
{
    return "contact" + std::to_string(i) + "@bench.example.com";
}

std::string contactName(int i)
{
    return "Contact " + std::to_string(i);
}

std::string upper(std::string text)
{
    for (char &c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

[[noreturn]] void die(const std::string &message)
{
    std::fprintf(stderr, "gm7s32-bench: %s\n", message.c_str());
    std::exit(1);
}

struct Figures
{
    double writeSeconds = 0;
    double lookupSeconds = 0;
};

class ThroughApi
{
public:
    explicit ThroughApi(const std::string &directory)
    {
        std::string error;
        if (!gm7s32::createStore(directory, "BENCH", "bench password", &error))
            die(error);
        if (GMW_LoadBDE(directory.c_str(), "GoldMine:", "Common:", "BENCH", "bench password") < 0)
            die("cannot load the store");
        m_container = GMW_NV_Create();
    }

    void write(int i)
    {
        const std::string address = email(i);
        const std::string name = contactName(i);
        GMW_NV_SetValue(m_container, "Email", address.c_str());
        GMW_NV_SetValue(m_container, "CONTACT", name.c_str());
        GMW_NV_SetValue(m_container, "COMPANY", "Bench Company");
        GMW_NV_SetValue(m_container, "CITY", "Bergen");
        GMW_NV_SetValue(m_container, "PHONE1", "+47 555 01234");
        if (GMW_Execute("WriteContact", m_container) < 0)
            die("WriteContact failed");
        GMW_NV_EraseAll(m_container);
    }

    void lookup(int i)
    {
        const std::string sql = "select recid from contact1 where accountno in (select accountno "
                                "from contsupp where contsupref='" +
                                email(i) + "')";
        const int32_t handle = GMW_DS_Query(sql.c_str(), nullptr, nullptr, nullptr);
        if (handle <= 0)
            die("query failed");
        char one[1] = {0};
        const int32_t size = GMW_DS_Fetch(handle, one, 0, 2000);
        if (size < 0)
            die("sizing call failed");
        m_buffer.assign(static_cast<std::size_t>(size) + 1, '\0');
        const int32_t length = GMW_DS_Fetch(handle, m_buffer.data(), size, 0);
        // One record: its 15-character record id after the header.
        if (length != 11 + 15 + 2 || m_buffer.compare(5, 4, "0001") != 0)
            die("lookup of " + email(i) + " found no single record");
        GMW_DS_Close(handle);
    }

private:
    int32_t m_container = 0;
    std::string m_buffer;
};

class Direct
{
public:
    explicit Direct(const std::string &file)
    {
        if (sqlite3_open_v2(file.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            die("cannot open " + file);
        sqlite3_busy_timeout(m_db, 5000);
        exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL");
        m_begin = prepare("BEGIN IMMEDIATE");
        m_commit = prepare("COMMIT");
        m_contact1 = prepare("INSERT INTO CONTACT1 (ACCOUNTNO, CREATEBY, CREATEON, CREATEAT, "
                             "LASTUSER, LASTDATE, LASTTIME, CONTACT, U_CONTACT, COMPANY, "
                             "U_COMPANY, CITY, U_CITY, PHONE1, RECID) VALUES (?1, ?2, ?3, ?4, ?2, "
                             "?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
        m_contact2 = prepare("INSERT INTO CONTACT2 (ACCOUNTNO, LASTDATE, LASTTIME, RECID) VALUES "
                             "(?1, ?2, ?3, ?4)");
        m_contsupp = prepare("INSERT INTO CONTSUPP (ACCOUNTNO, RECTYPE, CONTACT, CONTSUPREF, "
                             "ADDRESS1, LASTUSER, LASTDATE, LASTTIME, U_CONTACT, U_CONTSUPREF, "
                             "U_ADDRESS1, RECID) VALUES (?1, 'P', 'E-mail Address', ?2, '', ?3, "
                             "?4, ?5, 'E-MAIL ADDRESS', ?6, '', ?7)");
        m_lookup = prepare("select recid from contact1 where accountno in (select accountno from "
                           "contsupp where contsupref=?1)");
    }
    ~Direct()
    {
        for (sqlite3_stmt *statement :
             {m_begin, m_commit, m_contact1, m_contact2, m_contsupp, m_lookup})
            sqlite3_finalize(statement);
        sqlite3_close_v2(m_db);
    }

    void write(int i)
    {
        char id[32];
        std::snprintf(id, sizeof id, "%020d", i);
        const std::string accountNo = id;
        const std::string address = email(i);
        const std::string name = contactName(i);
        run(m_begin, {});
        run(m_contact1,
            {accountNo, "BENCH", "2024-01-01", "12:00", name, upper(name), "Bench Company",
             "BENCH COMPANY", "Bergen", "BERGEN", "+47 555 01234", "C1" + accountNo.substr(7)});
        run(m_contact2, {accountNo, "2024-01-01", "12:00", "C2" + accountNo.substr(7)});
        run(m_contsupp, {accountNo, address, "BENCH", "2024-01-01", "12:00", upper(address),
                         "CS" + accountNo.substr(7)});
        run(m_commit, {});
    }

    void lookup(int i)
    {
        const std::string address = email(i);
        sqlite3_bind_text(m_lookup, 1, address.data(), static_cast<int>(address.size()),
                          SQLITE_TRANSIENT);
        int found = 0;
        std::string recid;
        while (sqlite3_step(m_lookup) == SQLITE_ROW) {
            recid = reinterpret_cast<const char *>(sqlite3_column_text(m_lookup, 0));
            ++found;
        }
        sqlite3_reset(m_lookup);
        if (found != 1 || recid.size() != 15)
            die("direct lookup of " + address + " found no single record");
    }

private:
    void exec(const char *sql)
    {
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            die(sqlite3_errmsg(m_db));
    }
    sqlite3_stmt *prepare(const char *sql)
    {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK)
            die(sqlite3_errmsg(m_db));
        return statement;
    }
    void run(sqlite3_stmt *statement, const std::vector<std::string> &values)
    {
        int index = 1;
        for (const std::string &value : values)
            sqlite3_bind_text(statement, index++, value.data(), static_cast<int>(value.size()),
                              SQLITE_TRANSIENT);
        if (sqlite3_step(statement) != SQLITE_DONE)
            die(sqlite3_errmsg(m_db));
        sqlite3_reset(statement);
    }

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_begin = nullptr;
    sqlite3_stmt *m_commit = nullptr;
    sqlite3_stmt *m_contact1 = nullptr;
    sqlite3_stmt *m_contact2 = nullptr;
    sqlite3_stmt *m_contsupp = nullptr;
    sqlite3_stmt *m_lookup = nullptr;
};

// Runs both sides in alternating chunks, so a busy machine slows both alike.
template <typename Side> double timed(Side &side, void (Side::*work)(int), int from, int to)
{
    const auto start = Clock::now();
    for (int i = from; i < to; ++i)
        (side.*work)(i);
    return secondsSince(start);
}

} // namespace

int main(int argc, char **argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    if (count <= 0)
        die("the contact count must be positive");
    namespace fs = std::filesystem;
    const fs::path work =
        argc > 2 ? fs::path(argv[2])
                 : fs::temp_directory_path() / ("gm7s32-bench-" + std::to_string(::getpid()));
    fs::remove_all(work);

    ThroughApi api((work / "api").string());
    std::string error;
    if (!gm7s32::createStore((work / "direct").string(), "BENCH", "bench password", &error))
        die(error);
    Direct direct((work / "direct" / "common.db").string());

    constexpr int kChunk = 500;
    Figures apiFigures;
    Figures directFigures;
    for (int from = 0; from < count; from += kChunk) {
        const int to = std::min(count, from + kChunk);
        apiFigures.writeSeconds += timed(api, &ThroughApi::write, from, to);
        directFigures.writeSeconds += timed(direct, &Direct::write, from, to);
    }
    for (int from = 0; from < count; from += kChunk) {
        const int to = std::min(count, from + kChunk);
        apiFigures.lookupSeconds += timed(api, &ThroughApi::lookup, from, to);
        directFigures.lookupSeconds += timed(direct, &Direct::lookup, from, to);
    }
    const Figures &apiResult = apiFigures;
    const Figures &directResult = directFigures;

    const auto rate = [count](double seconds) {
        return count / seconds;
    };
    std::printf("contacts: %d\n", count);
    std::printf("%-8s %14s %14s %8s\n", "", "API calls/s", "direct calls/s", "ratio");
    std::printf("%-8s %14.0f %14.0f %7.0f%%\n", "writes", rate(apiResult.writeSeconds),
                rate(directResult.writeSeconds),
                100.0 * directResult.writeSeconds / apiResult.writeSeconds);
    std::printf("%-8s %14.0f %14.0f %7.0f%%\n", "lookups", rate(apiResult.lookupSeconds),
                rate(directResult.lookupSeconds),
                100.0 * directResult.lookupSeconds / apiResult.lookupSeconds);
    if (argc <= 2)
        fs::remove_all(work);
    return 0;
}
