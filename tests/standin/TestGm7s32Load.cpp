#include "Gm7s32TestStore.h"

#include <QFile>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

mode_t modeOf(const std::string &path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Overwrites the first page of table's tree in file with bytes no page holds.
bool damageTable(const std::string &file, const std::string &table)
{
    const auto root =
        TestStore::rows(file, "SELECT rootpage FROM sqlite_master WHERE name='" + table + "'");
    const auto pageSize = TestStore::rows(file, "PRAGMA page_size");
    if (root.empty() || pageSize.empty() || std::filesystem::exists(file + "-wal"))
        return false;
    const long size = std::stol(pageSize[0][0]);
    std::fstream data(file, std::ios::in | std::ios::out | std::ios::binary);
    data.seekp((std::stol(root[0][0]) - 1) * size);
    const std::string garbage(static_cast<std::size_t>(size), '\xff');
    data.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    return data.good();
}

} // namespace

class TestGm7s32Load : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void callsBeforeLoadFail();
    void loadResults_data();
    void loadResults();
    void nullArguments();
    void configurationFormat();
    void failedReloadLeavesNothingOpen();
    void reloadForgetsOldQueries();
    void createStoreRefuses_data();
    void createStoreRefuses();
    void passwordStoredOnlyAsSaltedHash();
    void storeUsesWriteAheadLog();
    void configurationWithByteOrderMark();
    void failureReasons_data();
    void failureReasons();
    void storeFilesArePrivate_data();
    void storeFilesArePrivate();
    void storeNeverOverwritten_data();
    void storeNeverOverwritten();
};

void TestGm7s32Load::callsBeforeLoadFail()
{
    QCOMPARE(GMW_DS_Query("select recid from contact1", nullptr, nullptr, nullptr),
             gm7s32::kQueryNotLoaded);
    char buffer[16] = {0};
    QVERIFY(GMW_DS_Fetch(1, buffer, 0, 20) < 0);
    QVERIFY(GMW_DS_Close(1) < 0);
    const int32_t container = GMW_NV_Create();
    QVERIFY(container > 0);
    QCOMPARE(GMW_Execute("WriteContact", container), gm7s32::kExecNotLoaded);
}

void TestGm7s32Load::loadResults_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("goldAlias");
    QTest::addColumn<QByteArray>("commonAlias");
    QTest::addColumn<int>("expected");

    const QByteArray user = kTestUser;
    const QByteArray password = kTestPassword;
    QTest::newRow("ready") << "" << user << password << QByteArray("GoldMine:")
                           << QByteArray("Common:") << 0;
    QTest::newRow("user and aliases in other case")
        << "" << QByteArray("master") << password << QByteArray("GOLDMINE:")
        << QByteArray("common:") << 0;
    QTest::newRow("wrong password") << "" << user << QByteArray("correct horse 7")
                                    << QByteArray("GoldMine:") << QByteArray("Common:") << -4;
    QTest::newRow("empty password")
        << "" << user << QByteArray("") << QByteArray("GoldMine:") << QByteArray("Common:") << -4;
    QTest::newRow("unknown user") << "" << QByteArray("NOBODY") << password
                                  << QByteArray("GoldMine:") << QByteArray("Common:") << -4;
    QTest::newRow("unknown alias")
        << "" << user << password << QByteArray("Gold:") << QByteArray("Common:") << -1;
    QTest::newRow("plain path instead of alias")
        << "" << user << password << QByteArray("/tmp/") << QByteArray("Common:") << -1;
    QTest::newRow("missing system directory")
        << "nodir" << user << password << QByteArray("GoldMine:") << QByteArray("Common:") << -1;
    QTest::newRow("no configuration")
        << "noconfig" << user << password << QByteArray("GoldMine:") << QByteArray("Common:") << -1;
    QTest::newRow("database file missing")
        << "nogolddb" << user << password << QByteArray("GoldMine:") << QByteArray("Common:") << -1;
    QTest::newRow("database file not a database")
        << "junkcommon" << user << password << QByteArray("GoldMine:") << QByteArray("Common:")
        << -1;
    QTest::newRow("no CAL table") << "nocal" << user << password << QByteArray("GoldMine:")
                                  << QByteArray("Common:") << -5;
    QTest::newRow("no CONTACT1 table") << "nocontact1" << user << password
                                       << QByteArray("GoldMine:") << QByteArray("Common:") << -6;
    QTest::newRow("no USERS table")
        << "nousers" << user << password << QByteArray("GoldMine:") << QByteArray("Common:") << -4;
}

void TestGm7s32Load::loadResults()
{
    QFETCH(QString, damage);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, goldAlias);
    QFETCH(QByteArray, commonAlias);
    QFETCH(int, expected);

    TestStore store;
    QVERIFY2(store.created(), store.error().c_str());
    std::string directory = store.path();
    if (damage == "nodir") {
        directory += "/missing";
    } else if (damage == "noconfig") {
        QVERIFY(std::filesystem::remove(directory + "/gm7s32.ini"));
    } else if (damage == "nogolddb") {
        QVERIFY(std::filesystem::remove(store.goldMineFile()));
    } else if (damage == "junkcommon") {
        std::filesystem::remove(store.commonFile() + "-wal");
        std::filesystem::remove(store.commonFile() + "-shm");
        std::ofstream(store.commonFile(), std::ios::trunc) << "this is not a database at all, "
                                                              "only some plain text in a file";
    } else if (damage == "nocal") {
        QVERIFY(TestStore::exec(store.goldMineFile(), "DROP TABLE CAL"));
    } else if (damage == "nocontact1") {
        QVERIFY(TestStore::exec(store.commonFile(), "DROP TABLE CONTACT1"));
    } else if (damage == "nousers") {
        QVERIFY(TestStore::exec(store.goldMineFile(), "DROP TABLE USERS"));
    }
    QCOMPARE(GMW_LoadBDE(directory.c_str(), goldAlias.constData(), commonAlias.constData(),
                         user.constData(), password.constData()),
             expected);
    // Only a successful load makes the store usable.
    const int32_t handle = GMW_DS_Query("select count(*) from contudef", nullptr, nullptr, nullptr);
    QCOMPARE(handle > 0, expected >= 0);
    GMW_DS_Close(handle);
}

void TestGm7s32Load::nullArguments()
{
    TestStore store;
    QVERIFY(store.created());
    const std::string path = store.path();
    const char *arguments[5] = {path.c_str(), "GoldMine:", "Common:", kTestUser, kTestPassword};
    for (int missing = 0; missing < 5; ++missing) {
        const char *given[5];
        for (int i = 0; i < 5; ++i)
            given[i] = i == missing ? nullptr : arguments[i];
        QCOMPARE(GMW_LoadBDE(given[0], given[1], given[2], given[3], given[4]),
                 gm7s32::kLoadCannotStart);
    }
    QCOMPARE(GMW_LoadBDE(arguments[0], arguments[1], arguments[2], arguments[3], arguments[4]), 0);
}

void TestGm7s32Load::configurationFormat()
{
    // Comments, blanks around names, other sections, absolute paths and a
    // shared database for both aliases are all accepted.
    TestStore store;
    QVERIFY(store.created());
    QTemporaryDir other;
    const std::string moved = other.path().toStdString() + "/all.db";
    QVERIFY(TestStore::exec(store.commonFile(), "ATTACH '" + store.goldMineFile() +
                                                    "' AS g; CREATE TABLE CAL AS SELECT * FROM "
                                                    "g.CAL; CREATE TABLE USERS AS SELECT * FROM "
                                                    "g.USERS"));
    QVERIFY(TestStore::exec(store.commonFile(), "VACUUM INTO '" + moved + "'"));
    std::ofstream(store.path() + "/gm7s32.ini", std::ios::trunc)
        << "# moved\n[Other]\nGoldMine:=nowhere.db\n\n[aliases]\n  ; both in one file\n"
        << "  goldmine:  = " << moved << "\nCOMMON: =" << moved << "\n";
    QCOMPARE(store.load(), 0);
    const std::string packet =
        queryPacket("select count(*) from contact1 where accountno in (select accountno from "
                    "contsupp) and exists (select 1 from cal) and exists (select 1 from users)");
    QCOMPARE(packet, std::string("3000-0001\r\n0\r\n"));
}

void TestGm7s32Load::failedReloadLeavesNothingOpen()
{
    TestStore store;
    QVERIFY(store.created());
    QCOMPARE(store.load(), 0);
    QCOMPARE(store.load(kTestUser, "wrong"), gm7s32::kLoadUserRefused);
    QCOMPARE(GMW_DS_Query("select 1", nullptr, nullptr, nullptr), gm7s32::kQueryNotLoaded);
}

void TestGm7s32Load::reloadForgetsOldQueries()
{
    TestStore store;
    QVERIFY(store.created());
    QCOMPARE(store.load(), 0);
    const int32_t old = GMW_DS_Query("select field_name from contudef", nullptr, nullptr, nullptr);
    QVERIFY(old > 0);
    QCOMPARE(store.load(), 0);
    char buffer[1] = {0};
    QCOMPARE(GMW_DS_Fetch(old, buffer, 0, 20), gm7s32::kFetchBadHandle);
    const int32_t fresh = GMW_DS_Query("select 1", nullptr, nullptr, nullptr);
    QVERIFY(fresh > 0);
    QVERIFY(fresh != old);
    QCOMPARE(fetchPacket(fresh, 20), std::string("3000-0001\r\n1\r\n"));
    QCOMPARE(GMW_DS_Close(fresh), 0);
}

void TestGm7s32Load::createStoreRefuses_data()
{
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<bool>("existing");
    QTest::newRow("store already there") << QByteArray(kTestUser) << true;
    QTest::newRow("empty user name") << QByteArray("") << false;
    QTest::newRow("user name over eight") << QByteArray("ABCDEFGHI") << false;
    QTest::newRow("user name with blank") << QByteArray("A B") << false;
}

void TestGm7s32Load::createStoreRefuses()
{
    QFETCH(QByteArray, user);
    QFETCH(bool, existing);
    TestStore store;
    QVERIFY(store.created());
    const std::string directory = existing ? store.path() : store.path() + "/new";
    std::string error;
    QVERIFY(!gm7s32::createStore(directory, user.toStdString(), "pw", &error));
    QVERIFY(!error.empty());
    // The existing store still opens with its own user.
    QCOMPARE(store.load(), 0);
}

void TestGm7s32Load::passwordStoredOnlyAsSaltedHash()
{
    TestStore first;
    TestStore second;
    QVERIFY(first.created() && second.created());
    const std::string hash =
        TestStore::rows(first.goldMineFile(), "SELECT PASSHASH FROM USERS").at(0).at(0);
    const std::string otherHash =
        TestStore::rows(second.goldMineFile(), "SELECT PASSHASH FROM USERS").at(0).at(0);
    QVERIFY(hash.rfind('$', 0) == 0);
    QVERIFY(hash != otherHash); // salted
    for (const std::string &file : {first.goldMineFile(), first.commonFile()}) {
        QFile data(QString::fromStdString(file));
        QVERIFY(data.open(QIODevice::ReadOnly));
        QVERIFY(!data.readAll().contains(kTestPassword));
        QFile wal(QString::fromStdString(file + "-wal"));
        if (wal.open(QIODevice::ReadOnly))
            QVERIFY(!wal.readAll().contains(kTestPassword));
    }
}

void TestGm7s32Load::storeUsesWriteAheadLog()
{
    TestStore store;
    QVERIFY(store.created());
    QCOMPARE(store.load(), 0);
    QCOMPARE(store.value("PRAGMA journal_mode"), std::string("wal"));
    QCOMPARE(TestStore::rows(store.goldMineFile(), "PRAGMA journal_mode").at(0).at(0),
             std::string("wal"));
}

void TestGm7s32Load::configurationWithByteOrderMark()
{
    // As Notepad saves it: a UTF-8 byte-order mark, then CR LF line ends.
    TestStore store;
    QVERIFY(store.created());
    std::ofstream(store.path() + "/gm7s32.ini", std::ios::trunc | std::ios::binary)
        << "\xEF\xBB\xBF[Aliases]\r\nGoldMine:=goldmine.db\r\nCommon:=common.db\r\n";
    QCOMPARE(store.load(), 0);
    std::ofstream(store.path() + "/gm7s32.ini", std::ios::trunc | std::ios::binary)
        << "\xEF\xBB\xBFGoldMine:=goldmine.db\r\n[Aliases]\r\nCommon:=common.db\r\n";
    QCOMPARE(store.load(), gm7s32::kLoadCannotStart); // the mark does not open a section
}

void TestGm7s32Load::failureReasons_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("file");     // named in the reason
    QTest::addColumn<QString>("reported"); // what SQLite or the library said

    QTest::newRow("ready") << "" << 0 << ""
                           << "";
    QTest::newRow("wrong password") << "password" << -4 << ""
                                    << "";
    QTest::newRow("no configuration") << "noconfig" << -1 << "gm7s32.ini"
                                      << "cannot be read";
    QTest::newRow("alias not configured") << "alias" << -1 << "gm7s32.ini"
                                          << "Gold:";
    QTest::newRow("database file missing") << "nogolddb" << -1 << "goldmine.db"
                                           << "missing";
    QTest::newRow("text file as database") << "junkcommon" << -1 << "common.db"
                                           << "file is not a database";
    QTest::newRow("goldmine.db cut short") << "truncgold" << -1 << "goldmine.db"
                                           << "malformed";
    QTest::newRow("user table damaged") << "users" << -1 << "goldmine.db"
                                        << "malformed";
    QTest::newRow("field list damaged") << "contudef" << -1 << "common.db"
                                        << "malformed";
    QTest::newRow("another program's database as common.db") << "foreign" << -6 << "common.db"
                                                             << "no CONTACT1 table";
    QTest::newRow("no CAL table") << "nocal" << -5 << "goldmine.db"
                                  << "no CAL table";
}

void TestGm7s32Load::failureReasons()
{
    QFETCH(QString, damage);
    QFETCH(int, expected);
    QFETCH(QString, file);
    QFETCH(QString, reported);

    TestStore store;
    QVERIFY(store.created());
    const char *password = damage == "password" ? "wrong" : kTestPassword;
    const char *goldAlias = damage == "alias" ? "Gold:" : "GoldMine:";
    if (damage == "noconfig") {
        QVERIFY(std::filesystem::remove(store.path() + "/gm7s32.ini"));
    } else if (damage == "nogolddb") {
        QVERIFY(std::filesystem::remove(store.goldMineFile()));
    } else if (damage == "junkcommon") {
        std::ofstream(store.commonFile(), std::ios::trunc) << "plain text, not a database";
    } else if (damage == "truncgold") {
        std::filesystem::resize_file(store.goldMineFile(),
                                     std::filesystem::file_size(store.goldMineFile()) / 2);
    } else if (damage == "users") {
        QVERIFY(damageTable(store.goldMineFile(), "USERS"));
    } else if (damage == "contudef") {
        QVERIFY(damageTable(store.commonFile(), "CONTUDEF"));
    } else if (damage == "foreign") {
        std::filesystem::remove(store.commonFile());
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(store.commonFile().c_str(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "CREATE TABLE songs (title TEXT)", nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
    } else if (damage == "nocal") {
        QVERIFY(TestStore::exec(store.goldMineFile(), "DROP TABLE CAL"));
    }

    QCOMPARE(GMW_LoadBDE(store.path().c_str(), goldAlias, "Common:", kTestUser, password),
             expected);
    const QString reason = QString::fromLocal8Bit(GM7S32_LoadFailureReason());
    if (file.isEmpty()) {
        // Nothing to add after a success, and nothing that tells a wrong
        // password from an unknown user.
        QCOMPARE(reason, QString());
    } else {
        QVERIFY2(reason.contains(QString::fromStdString(store.path()) + "/" + file),
                 qPrintable(reason));
        QVERIFY2(reason.contains(reported), qPrintable(reason));
    }
}

void TestGm7s32Load::storeFilesArePrivate_data()
{
    QTest::addColumn<int>("mask");
    QTest::newRow("usual mask") << 022;
    QTest::newRow("no mask at all") << 0;
}

void TestGm7s32Load::storeFilesArePrivate()
{
    QFETCH(int, mask);
    QTemporaryDir parent;
    const std::string directory = parent.path().toStdString() + "/store";
    const mode_t saved = umask(static_cast<mode_t>(mask));
    std::string error;
    const bool created = gm7s32::createStore(directory, kTestUser, kTestPassword, &error);
    // The log and shared-memory files appear once the store is in use.
    const int32_t loaded =
        GMW_LoadBDE(directory.c_str(), "GoldMine:", "Common:", kTestUser, kTestPassword);
    const int32_t container = containerWith({{"COMPANY", "Acme"}});
    const int32_t written = GMW_Execute("WriteContact", container);
    GMW_NV_Delete(container);
    umask(saved);
    QVERIFY2(created, error.c_str());
    QCOMPARE(loaded, 0);
    QCOMPARE(written, 0);

    QCOMPARE(modeOf(directory), mode_t(0700));
    int files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(directory)) {
        QVERIFY2(modeOf(entry.path()) == 0600, entry.path().c_str());
        ++files;
    }
    QVERIFY(std::filesystem::exists(directory + "/common.db-wal"));
    QVERIFY(std::filesystem::exists(directory + "/common.db-shm"));
    QCOMPARE(files, 7); // the configuration, two databases, their logs, a shared-memory file
    GMW_LoadBDE("", "", "", "", "");
}

void TestGm7s32Load::storeNeverOverwritten_data()
{
    QTest::addColumn<QString>("present");
    QTest::newRow("whole store") << "";
    QTest::newRow("only a GoldMine database") << "goldmine.db";
    QTest::newRow("only a contact database") << "common.db";
}

void TestGm7s32Load::storeNeverOverwritten()
{
    QFETCH(QString, present);
    TestStore store;
    QVERIFY(store.created());
    QVERIFY(TestStore::exec(store.commonFile(), "INSERT INTO CONTACT1 (COMPANY) VALUES ('Kept')"));
    if (!present.isEmpty()) {
        for (const char *name : {"gm7s32.ini", "goldmine.db", "common.db"}) {
            if (present != name)
                QVERIFY(std::filesystem::remove(store.path() + "/" + name));
        }
    }
    const auto before = std::filesystem::last_write_time(
        store.path() + "/" + (present.isEmpty() ? "common.db" : qPrintable(present)));
    std::string error;
    QVERIFY(!gm7s32::createStore(store.path(), "OTHER", "pw", &error));
    QVERIFY2(error.find(store.path()) != std::string::npos, error.c_str());
    QVERIFY2(error.find("already holds a store") != std::string::npos, error.c_str());
    QCOMPARE(std::filesystem::last_write_time(
                 store.path() + "/" + (present.isEmpty() ? "common.db" : qPrintable(present))),
             before);
    if (present.isEmpty()) {
        QCOMPARE(store.load(), 0);
        QCOMPARE(store.value("SELECT COMPANY FROM CONTACT1"), std::string("Kept"));
    } else {
        // Nothing new was made beside the file that was there.
        int files = 0;
        for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(store.path()))
            ++files;
        QCOMPARE(files, 1);
    }
}

QTEST_GUILESS_MAIN(TestGm7s32Load)
#include "TestGm7s32Load.moc"
