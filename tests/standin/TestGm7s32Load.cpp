#include "Gm7s32TestStore.h"

#include <QFile>
#include <QTest>

#include <filesystem>
#include <fstream>

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
    QVERIFY(hash.rfind("$", 0) == 0);
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

QTEST_GUILESS_MAIN(TestGm7s32Load)
#include "TestGm7s32Load.moc"
