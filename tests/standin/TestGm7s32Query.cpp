#include "Gm7s32TestStore.h"

#include <QTest>

#include <memory>

using namespace std::string_literals;

class TestGm7s32Query : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void packet_data();
    void packet();
    void resultLargerThanCount();
    void sizesAndPositions();
    void badFetchCalls();
    void writesAreRefused_data();
    void writesAreRefused();
    void failingQueries_data();
    void failingQueries();
    void programLookups_data();
    void programLookups();
    void fieldList();
    void sameLookupOpenTwice();

private:
    std::unique_ptr<TestStore> m_store;
};

void TestGm7s32Query::initTestCase()
{
    m_store = std::make_unique<TestStore>();
    QVERIFY2(m_store->created(), m_store->error().c_str());
    QCOMPARE(m_store->load(), 0);
    QVERIFY(TestStore::exec(
        m_store->commonFile(),
        "INSERT INTO CONTACT1 (ACCOUNTNO, COMPANY, CONTACT, RECID) VALUES "
        "('A1', 'Acme', 'Ann', 'R1'), ('A2', '  padded  ', 'Bob', 'R2'), "
        "('A3', 'O''Neil''s', 'Cy', 'R3');"
        "INSERT INTO CONTSUPP (ACCOUNTNO, RECTYPE, CONTACT, CONTSUPREF, RECID) VALUES "
        "('A1', 'P', 'E-mail Address', 'john@x.com', 'S1'), "
        "('A3', 'P', 'E-mail Address', 'o''brien@x.com', 'S3'), "
        "('A2', 'P', 'E-mail Address', 'shared@x.com', 'S2'), "
        "('A3', 'P', 'E-mail Address', 'shared@x.com', 'S4')"));
}

void TestGm7s32Query::packet_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("no record") << QByteArray("select recid from contact1 where recid='none'")
                               << QByteArray("3000-0000\r\n");
    QTest::newRow("one record") << QByteArray("select accountno from contact1 where recid='R1'")
                                << QByteArray("3000-0001\r\nA1\r\n");
    QTest::newRow("many records") << QByteArray("select recid from contact1 order by recid")
                                  << QByteArray("3000-0003\r\nR1\r\nR2\r\nR3\r\n");
    QTest::newRow("fields separated by CR")
        << QByteArray("select recid, company, contact from contact1 where recid='R1'")
        << QByteArray("3000-0001\r\nR1\rAcme\rAnn\r\n");
    QTest::newRow("value not trimmed")
        << QByteArray("select company from contact1 where recid='R2'")
        << QByteArray("3000-0001\r\n  padded  \r\n");
    QTest::newRow("null as empty")
        << QByteArray("select null, 'x'") << QByteArray("3000-0001\r\n\rx\r\n");
    QTest::newRow("apostrophes intact")
        << QByteArray("select company from contact1 where company='O''Neil''s'")
        << QByteArray("3000-0001\r\nO'Neil's\r\n");
    QTest::newRow("literal as alias")
        << QByteArray("select recid 'r' from contact1 where recid='R3'")
        << QByteArray("3000-0001\r\nR3\r\n");
    QTest::newRow("quote in comment")
        << QByteArray("select recid from contact1 where recid='R1' -- it's R1")
        << QByteArray("3000-0001\r\nR1\r\n");
    QTest::newRow("blob literal") << QByteArray("select hex(x'4142')")
                                  << QByteArray("3000-0001\r\n4142\r\n");
}

void TestGm7s32Query::packet()
{
    QFETCH(QByteArray, sql);
    QFETCH(QByteArray, expected);
    int32_t handle = 0;
    QCOMPARE(QByteArray::fromStdString(queryPacket(sql.toStdString(), 20, &handle)), expected);
    QVERIFY(handle > 0);
}

void TestGm7s32Query::resultLargerThanCount()
{
    const int32_t handle =
        GMW_DS_Query("select recid from contact1 order by recid", nullptr, nullptr, nullptr);
    QVERIFY(handle > 0);
    QCOMPARE(fetchPacket(handle, 2), "0000-0002\r\nR1\r\nR2\r\n"s);
    QCOMPARE(fetchPacket(handle, 2), "3000-0001\r\nR3\r\n"s);
    QCOMPARE(fetchPacket(handle, 2), "3000-0000\r\n"s);
    QCOMPARE(GMW_DS_Close(handle), 0);

    // Exactly the count asked: the header already knows nothing remains.
    const int32_t exact =
        GMW_DS_Query("select recid from contact1 order by recid", nullptr, nullptr, nullptr);
    QCOMPARE(fetchPacket(exact, 3), "3000-0003\r\nR1\r\nR2\r\nR3\r\n"s);
    GMW_DS_Close(exact);
}

void TestGm7s32Query::sizesAndPositions()
{
    const int32_t handle =
        GMW_DS_Query("select accountno from contact1 where recid='R3'", nullptr, nullptr, nullptr);
    char one[1] = {0};
    const int32_t size = GMW_DS_Fetch(handle, one, 0, 2000);
    QCOMPARE(size, 15);
    QCOMPARE(one[0], '\0');
    std::string buffer(static_cast<std::size_t>(size) + 1, '#');
    QCOMPARE(GMW_DS_Fetch(handle, buffer.data(), size, 0), size);
    QCOMPARE(buffer.back(), '\0');
    // The count at positions 6 to 9 and the first record at 12, counted from 1.
    QCOMPARE(buffer.substr(5, 4), "0001"s);
    QCOMPARE(buffer.substr(11, 2), "A3"s);
    GMW_DS_Close(handle);
}

void TestGm7s32Query::badFetchCalls()
{
    const int32_t handle = GMW_DS_Query("select recid from contact1", nullptr, nullptr, nullptr);
    char buffer[64] = {0};
    QCOMPARE(GMW_DS_Fetch(handle, buffer, 40, 0), gm7s32::kFetchNotPrepared);
    const int32_t size = GMW_DS_Fetch(handle, nullptr, 0, 20);
    QVERIFY(size > 0);
    QCOMPARE(GMW_DS_Fetch(handle, buffer, size - 1, 0), gm7s32::kFetchBufferTooSmall);
    QCOMPARE(std::string(buffer), ""s);
    QVERIFY(GMW_DS_Fetch(handle, nullptr, size, 0) < 0);
    QVERIFY(GMW_DS_Fetch(handle, buffer, -1, 0) < 0);
    QVERIFY(GMW_DS_Fetch(handle, buffer, size, -5) < 0);
    // The prepared text is still there for a proper reading call.
    QCOMPARE(GMW_DS_Fetch(handle, buffer, size, 0), size);
    QCOMPARE(GMW_DS_Close(handle), 0);
    QCOMPARE(GMW_DS_Fetch(handle, buffer, 0, 20), gm7s32::kFetchBadHandle);
    QVERIFY(GMW_DS_Close(handle) < 0);
    QVERIFY(GMW_DS_Close(0) < 0);
    QVERIFY(GMW_DS_Close(-4) < 0);
}

void TestGm7s32Query::writesAreRefused_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::newRow("insert") << QByteArray("insert into contact1 (recid) values ('X')");
    QTest::newRow("update") << QByteArray("update contact1 set company='gone'");
    QTest::newRow("delete") << QByteArray("delete from contsupp");
    QTest::newRow("replace") << QByteArray("replace into contact1 (recid) values ('R1')");
    QTest::newRow("drop") << QByteArray("drop table contact1");
    QTest::newRow("create") << QByteArray("create table t (a)");
    QTest::newRow("pragma") << QByteArray("pragma journal_mode=delete");
    QTest::newRow("attach") << QByteArray("attach database 'intruder.db' as x");
    QTest::newRow("begin") << QByteArray("begin immediate");
    QTest::newRow("vacuum") << QByteArray("vacuum");
    QTest::newRow("write after a read") << QByteArray("select 1; delete from contact1");
    QTest::newRow("two reads") << QByteArray("select 1; select 2");
    QTest::newRow("write in a CTE")
        << QByteArray("with x as (select 1) delete from contact1 where recid in (select * from x)");
    QTest::newRow("password hashes") << QByteArray("select passhash from users");
    QTest::newRow("password hashes by star") << QByteArray("select * from users");
}

void TestGm7s32Query::writesAreRefused()
{
    QFETCH(QByteArray, sql);
    const std::string before = m_store->snapshot();
    const int32_t handle = GMW_DS_Query(sql.constData(), nullptr, nullptr, nullptr);
    QCOMPARE(handle, gm7s32::kQueryRefused);
    GMW_DS_Close(handle);
    QCOMPARE(m_store->snapshot(), before);
    QCOMPARE(m_store->value("PRAGMA journal_mode"), "wal"s);
    QCOMPARE(m_store->value("SELECT count(*) FROM sqlite_master WHERE name='t'"), "0"s);
}

void TestGm7s32Query::failingQueries_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<bool>("null");
    QTest::addColumn<int>("expected");
    QTest::newRow("syntax error") << QByteArray("selec recid from contact1") << false
                                  << int(gm7s32::kQueryError);
    QTest::newRow("unknown table")
        << QByteArray("select recid from contact9") << false << int(gm7s32::kQueryError);
    QTest::newRow("unknown column")
        << QByteArray("select nosuch from contact1") << false << int(gm7s32::kQueryError);
    QTest::newRow("unterminated literal")
        << QByteArray("select recid from contact1 where recid='R1") << false
        << int(gm7s32::kQueryError);
    QTest::newRow("blank") << QByteArray("   ") << false << int(gm7s32::kQueryInvalid);
    QTest::newRow("null") << QByteArray() << true << int(gm7s32::kQueryInvalid);
}

void TestGm7s32Query::failingQueries()
{
    QFETCH(QByteArray, sql);
    QFETCH(bool, null);
    QFETCH(int, expected);
    const int32_t handle =
        GMW_DS_Query(null ? nullptr : sql.constData(), nullptr, nullptr, nullptr);
    QCOMPARE(handle, expected);
    char buffer[1] = {0};
    QVERIFY(GMW_DS_Fetch(handle, buffer, 0, 20) < 0);
    QVERIFY(GMW_DS_Close(handle) < 0);
}

void TestGm7s32Query::programLookups_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray email =
        "select recid from contact1 where accountno in (select accountno from contsupp where "
        "contsupref='";
    QTest::newRow("e-mail") << email + "john@x.com')" << QByteArray("3000-0001\r\nR1\r\n");
    QTest::newRow("e-mail in other case")
        << email + "JOHN@X.Com')" << QByteArray("3000-0001\r\nR1\r\n");
    QTest::newRow("e-mail with apostrophe")
        << email + "O''Brien@x.com')" << QByteArray("3000-0001\r\nR3\r\n");
    QTest::newRow("e-mail of two contacts")
        << email + "shared@x.com')" << QByteArray("3000-0002\r\nR2\r\nR3\r\n");
    QTest::newRow("e-mail unknown") << email + "nobody@x.com')" << QByteArray("3000-0000\r\n");
    QTest::newRow("account number") << QByteArray("select accountno from contact1 where recid='R2'")
                                    << QByteArray("3000-0001\r\nA2\r\n");
}

void TestGm7s32Query::programLookups()
{
    QFETCH(QByteArray, sql);
    QFETCH(QByteArray, expected);
    // Twice: the second run reuses the compiled statement with new literals.
    for (int round = 0; round < 2; ++round) {
        QString packet = QString::fromStdString(queryPacket(sql.toStdString(), 2000));
        QCOMPARE(packet.toUtf8(), expected);
    }
}

void TestGm7s32Query::fieldList()
{
    const std::string packet = queryPacket(
        "select field_name from contudef where dbfname like 'contact%' and field_name<>'ACCOUNTNO' "
        "and field_name<>'RECID' order by field_name");
    const std::vector<std::string> names = packetLines(packet);
    QVERIFY(names.size() > 30);
    QCOMPARE(names.front(), "ADDRESS1"s);
    QVERIFY(std::is_sorted(names.begin(), names.end()));
    for (const char *expected : {"COMPANY", "CONTACT", "LASTNAME", "NOTES", "KEY1", "UINDUSTRY"})
        QVERIFY2(std::count(names.begin(), names.end(), expected) == 1, expected);
    for (const char *hidden : {"ACCOUNTNO", "RECID", "U_COMPANY", "CREATEBY", "LASTDATE"})
        QVERIFY2(std::count(names.begin(), names.end(), hidden) == 0, hidden);
    QCOMPARE(packet.substr(5, 4), std::to_string(10000 + names.size()).substr(1));
}

void TestGm7s32Query::sameLookupOpenTwice()
{
    const int32_t first =
        GMW_DS_Query("select accountno from contact1 where recid='R1'", nullptr, nullptr, nullptr);
    const int32_t second =
        GMW_DS_Query("select accountno from contact1 where recid='R3'", nullptr, nullptr, nullptr);
    QVERIFY(first > 0 && second > 0 && first != second);
    QCOMPARE(fetchPacket(second, 20), "3000-0001\r\nA3\r\n"s);
    QCOMPARE(fetchPacket(first, 20), "3000-0001\r\nA1\r\n"s);
    GMW_DS_Close(first);
    GMW_DS_Close(second);
}

QTEST_GUILESS_MAIN(TestGm7s32Query)
#include "TestGm7s32Query.moc"
