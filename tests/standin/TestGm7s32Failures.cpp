// When the database itself fails inside a business call, the result code says
// how, and says it apart from a fault in the call's own values.
#include "Gm7s32TestStore.h"

#include <QTest>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;

const std::vector<std::pair<std::string, std::string>> kContact{
    {"Email", "ann@example.com"}, {"CONTACT", "Ann Lee"}, {"COMPANY", "Acme Ltd"}};

int32_t execute(const char *call, const std::vector<std::pair<std::string, std::string>> &values)
{
    const int32_t container = containerWith(values);
    const int32_t result = GMW_Execute(call, container);
    GMW_NV_Delete(container);
    return result;
}

std::size_t contactCount(const TestStore &store)
{
    return std::stoul(store.value("SELECT count(*) FROM CONTACT1"));
}

// Any connection opened while it is registered may not grow its main
// database: SQLite then answers SQLITE_FULL exactly as on a full disk.
int noGrowth(sqlite3 *db, char **, const sqlite3_api_routines *)
{
    // The limit cannot go below the current size, so 1 means "as it is now".
    sqlite3_exec(db, "PRAGMA main.max_page_count=1", nullptr, nullptr, nullptr);
    return SQLITE_OK;
}

// Runs work in a child process and answers what it wrote to its pipe; as root
// the child first becomes "nobody", for whom file permissions hold.
std::vector<int32_t> inChild(const std::function<std::vector<int32_t>()> &work)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0))
            _exit(1);
        const std::vector<int32_t> results = work();
        const auto bytes = static_cast<ssize_t>(results.size() * sizeof(int32_t));
        _exit(write(pipeEnds[1], results.data(), static_cast<size_t>(bytes)) == bytes ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    std::vector<int32_t> results;
    int32_t value;
    while (read(pipeEnds[0], &value, sizeof value) == ssize_t(sizeof value))
        results.push_back(value);
    ::close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    return results;
}

// Makes every file of the store read-only, and as root hands the folder to
// "nobody" so the child's read-only view is real.
bool makeReadOnly(const TestStore &store)
{
    namespace fs = std::filesystem;
    std::error_code error;
    for (const fs::directory_entry &entry : fs::directory_iterator(store.path(), error)) {
        if (geteuid() == 0 && chown(entry.path().c_str(), kNobody, kNobody) != 0)
            return false;
        if (chmod(entry.path().c_str(), 0444) != 0)
            return false;
    }
    if (geteuid() == 0 && chown(store.path().c_str(), kNobody, kNobody) != 0)
        return false;
    return !error;
}

} // namespace

class TestGm7s32Failures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void storeLockedByAnotherConnection();
    void readOnlyStore();
    void fullDatabase();
    void damagedTable();

private:
    std::unique_ptr<TestStore> m_store;
};

void TestGm7s32Failures::init()
{
    m_store = std::make_unique<TestStore>();
    QVERIFY2(m_store->created(), m_store->error().c_str());
    QCOMPARE(m_store->load(), 0);
}

void TestGm7s32Failures::cleanup()
{
    // Let go of the store before its folder goes.
    GMW_LoadBDE("", "", "", "", "");
    m_store.reset();
}

void TestGm7s32Failures::storeLockedByAnotherConnection()
{
    const std::string recid = [] {
        const int32_t container = containerWith(kContact);
        GMW_Execute("WriteContact", container);
        std::string made = GMW_NV_GetValue(container, "RECID", "");
        GMW_NV_Delete(container);
        return made;
    }();
    QVERIFY(!recid.empty());

    sqlite3 *other = nullptr;
    QCOMPARE(sqlite3_open_v2(m_store->commonFile().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr),
             SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    // A fault in the values is still told at once and as such.
    QCOMPARE(execute("WriteContact", {{"NOSUCHFIELD", "x"}}), gm7s32::kExecUnknownField);
    QCOMPARE(execute("WriteContact", {{"COMPANY", std::string(41, 'x')}}),
             gm7s32::kExecValueTooLong);
    // The database's own failure has its own code, for updates and new rows.
    QCOMPARE(execute("WriteContact", {{"RECID", recid}, {"CITY", "Oslo"}}),
             gm7s32::kExecDatabaseBusy);
    QCOMPARE(execute("WriteContactNotes", {{"RECID", recid}, {"NOTES", "Called."}}),
             gm7s32::kExecDatabaseBusy);

    QCOMPARE(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close_v2(other);
    QCOMPARE(m_store->value("SELECT CITY FROM CONTACT1"), std::string());
    QCOMPARE(m_store->value("SELECT count(*) FROM NOTES"), std::string("0"));
    // Once the lock is gone the same call goes through.
    QCOMPARE(execute("WriteContact", {{"RECID", recid}, {"CITY", "Oslo"}}), 0);
    QCOMPARE(m_store->value("SELECT CITY FROM CONTACT1"), std::string("Oslo"));
}

void TestGm7s32Failures::readOnlyStore()
{
    QCOMPARE(execute("WriteContact", kContact), 0);
    GMW_LoadBDE("", "", "", "", ""); // closes the store, folding its log in
    QVERIFY(makeReadOnly(*m_store));
    const std::string path = m_store->path();
    const std::vector<int32_t> results = inChild([&path] {
        const int32_t loaded =
            GMW_LoadBDE(path.c_str(), "GoldMine:", "Common:", kTestUser, kTestPassword);
        const std::string lookup =
            queryPacket("select count(*) from contact1 where accountno in (select accountno from "
                        "contsupp where contsupref='ann@example.com')");
        return std::vector<int32_t>{
            loaded,
            lookup == "3000-0001\r\n1\r\n" ? 1 : 0,
            execute("WriteContact", {{"Email", "bo@example.com"}, {"COMPANY", "Bo AS"}}),
            execute("CreateContactGroup", {{"GroupName", "Fair"}}),
            execute("WriteContact", {{"NOSUCHFIELD", "x"}}),
        };
    });
    QCOMPARE(results.size(), 5u);
    QCOMPARE(results[0], 0);                             // it opens for reading
    QCOMPARE(results[1], 1);                             // and lookups work
    QCOMPARE(results[2], gm7s32::kExecDatabaseReadOnly); // but nothing can be written
    QCOMPARE(results[3], gm7s32::kExecDatabaseReadOnly); // of any kind
    QCOMPARE(results[4], gm7s32::kExecUnknownField);     // a wrong value is still that
    QCOMPARE(contactCount(*m_store), 1u);
}

void TestGm7s32Failures::fullDatabase()
{
    GMW_LoadBDE("", "", "", "", "");
    sqlite3_auto_extension(reinterpret_cast<void (*)(void)>(&noGrowth));
    const int32_t loaded = m_store->load();
    sqlite3_cancel_auto_extension(reinterpret_cast<void (*)(void)>(&noGrowth));
    QCOMPARE(loaded, 0);

    // Rows fit until the pages the store has are full.
    int32_t result = 0;
    std::size_t written = 0;
    for (int row = 0; row < 10000 && result == 0; ++row) {
        result = execute("WriteContact", {{"Email", "row" + std::to_string(row) + "@example.com"},
                                          {"COMPANY", "Company " + std::to_string(row)},
                                          {"CITY", "Bergen"}});
        written += result == 0 ? 1 : 0;
    }
    QCOMPARE(result, gm7s32::kExecDatabaseFull);
    QVERIFY(written > 0);
    // The call that did not fit left nothing behind; the earlier ones stay.
    QCOMPARE(contactCount(*m_store), written);
    QCOMPARE(m_store->value("SELECT count(*) FROM CONTSUPP"), std::to_string(written));
    QCOMPARE(execute("WriteContact", {{"NOSUCHFIELD", "x"}}), gm7s32::kExecUnknownField);
}

void TestGm7s32Failures::damagedTable()
{
    const int32_t container = containerWith(kContact);
    QCOMPARE(GMW_Execute("WriteContact", container), 0);
    const std::string recid = GMW_NV_GetValue(container, "RECID", "");
    GMW_NV_Delete(container);
    GMW_LoadBDE("", "", "", "", ""); // closes the store, folding its log in

    // Overwrite the notes table's first page; the log-in never reads it.
    const int page = std::stoi(m_store->value("SELECT rootpage FROM sqlite_master WHERE "
                                              "name='NOTES'"));
    const int pageSize = std::stoi(m_store->value("PRAGMA page_size"));
    QVERIFY(!std::filesystem::exists(m_store->commonFile() + "-wal"));
    {
        std::fstream file(m_store->commonFile(), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(page - 1) * pageSize);
        const std::string garbage(static_cast<std::size_t>(pageSize), '\xff');
        file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
        QVERIFY(file.good());
    }
    QCOMPARE(m_store->load(), 0);
    QCOMPARE(execute("WriteContactNotes", {{"RECID", recid}, {"NOTES", "Called."}}),
             gm7s32::kExecDatabaseIoError);
}

QTEST_GUILESS_MAIN(TestGm7s32Failures)
#include "TestGm7s32Failures.moc"
