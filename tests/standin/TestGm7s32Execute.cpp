#include "Gm7s32TestStore.h"

#include <QDate>
#include <QTest>

#include <memory>
#include <set>

using namespace std::string_literals;
using Values = std::vector<std::pair<std::string, std::string>>;

class TestGm7s32Execute : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void createContact();
    void createThenUpdateThenNotesTwice();
    void fieldNamesInAnyCase();
    void failingWriteChangesNothing_data();
    void failingWriteChangesNothing();
    void longEmailSplitAndFoundByItsStart();
    void websiteRecord();
    void widthCountsCharacters();
    void apostrophesStoredIntact();
    void notesFailures();
    void groupsAndMembers();
    void membershipFailures_data();
    void membershipFailures();
    void unknownCallAndContainer();
    void idsAreUnique();
    void writeWhileAQueryIsOpen();

private:
    // Creates a contact through "WriteContact" and answers its record id.
    std::string create(const Values &values);
    std::string lookupByEmail(const std::string &address);

    std::unique_ptr<TestStore> m_store;
};

void TestGm7s32Execute::init()
{
    m_store = std::make_unique<TestStore>();
    QVERIFY2(m_store->created(), m_store->error().c_str());
    QCOMPARE(m_store->load(), 0);
}

std::string TestGm7s32Execute::create(const Values &values)
{
    const int32_t container = containerWith(values);
    const int32_t result = GMW_Execute("WriteContact", container);
    const std::string recid = GMW_NV_GetValue(container, "RECID", "");
    GMW_NV_Delete(container);
    return result == 0 ? recid : std::string();
}

std::string TestGm7s32Execute::lookupByEmail(const std::string &address)
{
    const auto lines = packetLines(queryPacket(
        "select recid from contact1 where accountno in (select accountno from contsupp where "
        "contsupref='" +
        address + "')"));
    return lines.empty() ? std::string() : lines.back();
}

void TestGm7s32Execute::createContact()
{
    const std::string recid = create({{"Email", "ann@example.com"},
                                      {"CONTACT", "Ann Lee"},
                                      {"COMPANY", "Acme Ltd"},
                                      {"CITY", "Bergen"},
                                      {"UINDUSTRY", "Tools"}});
    QCOMPARE(recid.size(), 15u);
    const auto contact = m_store->rows("SELECT ACCOUNTNO, COMPANY, U_COMPANY, U_CONTACT, U_CITY, "
                                       "CREATEBY, CREATEON, LASTUSER FROM CONTACT1 WHERE RECID='" +
                                       recid + "'");
    QCOMPARE(contact.size(), 1u);
    const std::string accountNo = contact[0][0];
    QCOMPARE(accountNo.size(), 20u);
    QVERIFY(accountNo.substr(16) == "ANNL"); // first letters of the contact
    QCOMPARE(contact[0][1], "Acme Ltd"s);
    QCOMPARE(contact[0][2], "ACME LTD"s);
    QCOMPARE(contact[0][3], "ANN LEE"s);
    QCOMPARE(contact[0][4], "BERGEN"s);
    QCOMPARE(contact[0][5], std::string(kTestUser));
    QCOMPARE(contact[0][6], QDate::currentDate().toString(Qt::ISODate).toStdString());
    QCOMPARE(contact[0][7], std::string(kTestUser));
    QCOMPARE(m_store->value("SELECT UINDUSTRY FROM CONTACT2 WHERE ACCOUNTNO='" + accountNo + "'"),
             "Tools"s);
    const auto support = m_store->rows("SELECT RECTYPE, CONTACT, CONTSUPREF, U_CONTSUPREF, "
                                       "ADDRESS1 FROM CONTSUPP WHERE ACCOUNTNO='" +
                                       accountNo + "'");
    QCOMPARE(support.size(), 1u);
    QCOMPARE(support[0], (std::vector<std::string>{"P", "E-mail Address", "ann@example.com",
                                                   "ANN@EXAMPLE.COM", ""}));
    QCOMPARE(lookupByEmail("ann@example.com"), recid);

    // Without an address no support record is made.
    const std::string second = create({{"Email", ""}, {"COMPANY", "Quiet Co"}});
    QVERIFY(!second.empty());
    QCOMPARE(m_store->value("SELECT count(*) FROM CONTSUPP"), "1"s);
    QCOMPARE(m_store->value("SELECT count(*) FROM CONTACT2"), "2"s);
    QCOMPARE(
        m_store->value("SELECT substr(ACCOUNTNO, 17) FROM CONTACT1 WHERE RECID='" + second + "'"),
        "QUIE"s);
}

void TestGm7s32Execute::createThenUpdateThenNotesTwice()
{
    const std::string recid = create({{"Email", "bo@example.com"},
                                      {"CONTACT", "Bo"},
                                      {"CITY", "Oslo"},
                                      {"NOTES", "first import"}});
    QVERIFY(!recid.empty());

    const int32_t update = containerWith({{"recid", recid},
                                          {"CITY", "Trondheim"},
                                          {"PHONE1", ""},
                                          {"NOTES", "second import"},
                                          {"UREGION", "North"}});
    QCOMPARE(GMW_Execute("WriteContact", update), 0);
    QCOMPARE(std::string(GMW_NV_GetValue(update, "RECID", "")), recid);
    const auto contact = m_store->rows("SELECT CITY, U_CITY, NOTES, CONTACT FROM CONTACT1 WHERE "
                                       "RECID='" +
                                       recid + "'");
    QCOMPARE(contact.at(0),
             (std::vector<std::string>{"Trondheim", "TRONDHEIM", "second import", "Bo"}));
    QCOMPARE(m_store->value("SELECT UREGION FROM CONTACT2"), "North"s);
    QCOMPARE(m_store->value("SELECT count(*) FROM CONTACT1"), "1"s);

    for (const char *text : {"called about prices", "called again\r\nwith two lines"}) {
        const int32_t notes = containerWith({{"Recid", recid}, {"Notes", text}});
        QCOMPARE(GMW_Execute("WriteContactNotes", notes), 0);
        GMW_NV_EraseAll(notes);
    }
    const auto history = m_store->rows("SELECT NOTE, USERID, NOTEDATE, length(NOTETIME) FROM NOTES "
                                       "ORDER BY rowid");
    QCOMPARE(history.size(), 2u);
    QCOMPARE(history[0][0], "called about prices"s);
    QCOMPARE(history[1][0], "called again\r\nwith two lines"s);
    QCOMPARE(history[1][1], std::string(kTestUser));
    QCOMPARE(history[1][2], QDate::currentDate().toString(Qt::ISODate).toStdString());
    QCOMPARE(history[1][3], "8"s);
}

void TestGm7s32Execute::fieldNamesInAnyCase()
{
    const std::string recid =
        create({{"email", "case@example.com"}, {"company", "Lower"}, {"Website", "example.com"}});
    QVERIFY(!recid.empty());
    QCOMPARE(m_store->value("SELECT COMPANY FROM CONTACT1"), "Lower"s);
    QCOMPARE(lookupByEmail("CASE@EXAMPLE.COM"), recid);
}

void TestGm7s32Execute::failingWriteChangesNothing_data()
{
    QTest::addColumn<bool>("update");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("create, unknown field")
        << false << QByteArray("NOSUCHFIELD") << QByteArray("x") << int(gm7s32::kExecUnknownField);
    QTest::newRow("create, shadow column")
        << false << QByteArray("U_COMPANY") << QByteArray("x") << int(gm7s32::kExecUnknownField);
    QTest::newRow("create, account number")
        << false << QByteArray("ACCOUNTNO") << QByteArray("x") << int(gm7s32::kExecUnknownField);
    QTest::newRow("create, too long")
        << false << QByteArray("STATUS") << QByteArray("ABCD") << int(gm7s32::kExecValueTooLong);
    QTest::newRow("create, e-mail too long")
        << false << QByteArray("Email") << QByteArray(76, 'e') << int(gm7s32::kExecValueTooLong);
    QTest::newRow("update, unknown field")
        << true << QByteArray("NOSUCHFIELD") << QByteArray("x") << int(gm7s32::kExecUnknownField);
    QTest::newRow("update, too long")
        << true << QByteArray("LASTNAME") << QByteArray("Sixteen letters!")
        << int(gm7s32::kExecValueTooLong);
    QTest::newRow("update, unknown record")
        << true << QByteArray("recid") << QByteArray("NOSUCHRECID0000")
        << int(gm7s32::kExecUnknownRecord);
}

void TestGm7s32Execute::failingWriteChangesNothing()
{
    QFETCH(bool, update);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, value);
    QFETCH(int, expected);
    const std::string recid = create({{"Email", "kept@example.com"}, {"COMPANY", "Kept"}});
    QVERIFY(!recid.empty());
    const std::string before = m_store->snapshot();

    Values values;
    if (update)
        values.push_back({"recid", recid});
    else
        values.push_back({"Email", "new@example.com"});
    // Good values first: they must not land either.
    values.push_back({"COMPANY", "Changed"});
    values.push_back({"CITY", "Changed"});
    values.push_back({name.toStdString(), value.toStdString()});
    const int32_t container = containerWith(values);
    QCOMPARE(GMW_Execute("WriteContact", container), expected);
    QCOMPARE(m_store->snapshot(), before);
    // A failed creation leaves no record id behind.
    const std::string given = name == "recid" ? value.toStdString() : recid;
    QCOMPARE(std::string(GMW_NV_GetValue(container, "RECID", "none")), update ? given : "none"s);
}

void TestGm7s32Execute::longEmailSplitAndFoundByItsStart()
{
    const std::string address = "a.very.long.local.part.for.testing@split.example.com";
    QCOMPARE(address.size(), 52u);
    const std::string recid = create({{"Email", address}});
    QVERIFY(!recid.empty());
    const auto support = m_store->rows("SELECT CONTSUPREF, ADDRESS1 FROM CONTSUPP");
    QCOMPARE(support.at(0).at(0), address.substr(0, 35));
    QCOMPARE(support.at(0).at(1), address.substr(35));
    QCOMPARE(lookupByEmail(address.substr(0, 35)), recid);

    // Exactly the widest address that fits.
    const std::string widest(75, 'w');
    QVERIFY(!create({{"Email", widest}}).empty());
    QCOMPARE(lookupByEmail(widest.substr(0, 35)).size(), 15u);
}

void TestGm7s32Execute::websiteRecord()
{
    const std::string recid =
        create({{"Email", "web@example.com"}, {"Website", "www.example.com"}});
    QVERIFY(!recid.empty());
    QCOMPARE(m_store->value("SELECT CONTSUPREF FROM CONTSUPP WHERE CONTACT='Web Site'"),
             "www.example.com"s);
    // An update replaces the record; an empty value removes it.
    const int32_t update = containerWith({{"RECID", recid}, {"Website", "www.other.example"}});
    QCOMPARE(GMW_Execute("WriteContact", update), 0);
    QCOMPARE(m_store->rows("SELECT CONTSUPREF FROM CONTSUPP WHERE CONTACT='Web Site'"),
             (std::vector<std::vector<std::string>>{{"www.other.example"}}));
    GMW_NV_SetValue(update, "Website", "");
    QCOMPARE(GMW_Execute("WriteContact", update), 0);
    QCOMPARE(m_store->value("SELECT count(*) FROM CONTSUPP WHERE CONTACT='Web Site'"), "0"s);
    QCOMPARE(m_store->value("SELECT count(*) FROM CONTSUPP"), "1"s);
}

void TestGm7s32Execute::widthCountsCharacters()
{
    // Fifteen characters, more bytes in UTF-8: fits LASTNAME.
    const std::string fifteen = "Müller-Öström-Å";
    QVERIFY(fifteen.size() > 15);
    QVERIFY(!create({{"LASTNAME", fifteen}}).empty());
    QCOMPARE(m_store->value("SELECT LASTNAME FROM CONTACT1"), fifteen);
    QCOMPARE(create({{"LASTNAME", fifteen + "x"}}), ""s);
}

void TestGm7s32Execute::apostrophesStoredIntact()
{
    const std::string recid = create(
        {{"Email", "o'hara@example.com"}, {"COMPANY", "O'Hara's \"Best\""}, {"CITY", "'; --"}});
    QVERIFY(!recid.empty());
    QCOMPARE(m_store->rows("SELECT COMPANY, CITY FROM CONTACT1"),
             (std::vector<std::vector<std::string>>{{"O'Hara's \"Best\"", "'; --"}}));
    QCOMPARE(lookupByEmail("O''Hara@example.com"), recid);
}

void TestGm7s32Execute::notesFailures()
{
    const std::string before = m_store->snapshot();
    const int32_t unknown = containerWith({{"Recid", "NOSUCHRECID0000"}, {"Notes", "lost?"}});
    QCOMPARE(GMW_Execute("WriteContactNotes", unknown), gm7s32::kExecUnknownRecord);
    const int32_t empty = containerWith({{"Recid", ""}, {"Notes", "lost?"}});
    QCOMPARE(GMW_Execute("WriteContactNotes", empty), gm7s32::kExecUnknownRecord);
    const int32_t missing = containerWith({{"Notes", "lost?"}});
    QCOMPARE(GMW_Execute("WriteContactNotes", missing), gm7s32::kExecMissingValue);
    const int32_t extra = containerWith({{"Recid", "x"}, {"Notes", "n"}, {"Subject", "s"}});
    QCOMPARE(GMW_Execute("WriteContactNotes", extra), gm7s32::kExecUnknownField);
    QCOMPARE(m_store->snapshot(), before);
}

void TestGm7s32Execute::groupsAndMembers()
{
    const int32_t request =
        containerWith({{"GroupName", "Spring fair"}, {"GroupCode", "MKT"}, {"SyncGroup", "1"}});
    QCOMPARE(GMW_Execute("CreateContactGroup", request), 0);
    const std::string groupNo = GMW_NV_GetValue(request, "GroupNo", "");
    QCOMPARE(groupNo.size(), 15u);
    QCOMPARE(m_store->rows("SELECT USERID, CODE, REF, ACCOUNTNO, SYNCGROUP FROM CONTGRPS"),
             (std::vector<std::vector<std::string>>{{kTestUser, "MKT", "Spring fair", "", "1"}}));

    const std::string recid = create({{"Email", "m@example.com"}, {"CONTACT", "Mia"}});
    const std::string accountNo =
        m_store->value("SELECT ACCOUNTNO FROM CONTACT1 WHERE RECID='" + recid + "'");
    const int32_t member = GMW_NV_Create();
    const int32_t membership = GMW_NV_Create();
    for (int round = 0; round < 2; ++round) {
        GMW_NV_SetValue(member, "Accountno", accountNo.c_str());
        GMW_NV_SetValue(membership, "GroupNo", groupNo.c_str());
        QCOMPARE(GMW_NV_AppendNvValue(membership, "Members", member), 0);
        // The member was copied when appended: emptying it now changes nothing.
        GMW_NV_EraseAll(member);
        QCOMPARE(GMW_Execute("AddContactGrpMembers", membership), 0);
        GMW_NV_EraseAll(membership);
    }
    // Added twice, listed once.
    QCOMPARE(m_store->rows("SELECT USERID, REF FROM CONTGRPS WHERE ACCOUNTNO='" + accountNo + "'"),
             (std::vector<std::vector<std::string>>{{groupNo, "Mia"}}));

    // A second group with an empty name and no sync marker.
    const int32_t plain =
        containerWith({{"GroupName", ""}, {"GroupCode", "MKT"}, {"SyncGroup", "0"}});
    QCOMPARE(GMW_Execute("CreateContactGroup", plain), 0);
    const std::string otherGroup = GMW_NV_GetValue(plain, "GroupNo", "");
    QVERIFY(otherGroup.size() == 15 && otherGroup != groupNo);
    QCOMPARE(m_store->value("SELECT SYNCGROUP FROM CONTGRPS WHERE RECID='" + otherGroup + "'"),
             ""s);
}

void TestGm7s32Execute::membershipFailures_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("expected");
    QTest::newRow("unknown group") << "group" << int(gm7s32::kExecUnknownGroup);
    QTest::newRow("empty group number") << "emptygroup" << int(gm7s32::kExecUnknownGroup);
    QTest::newRow("member is a contact row, not a group")
        << "membergroup" << int(gm7s32::kExecUnknownGroup);
    QTest::newRow("unknown account") << "account" << int(gm7s32::kExecUnknownRecord);
    QTest::newRow("empty account") << "emptyaccount" << int(gm7s32::kExecUnknownRecord);
    QTest::newRow("members as text") << "text" << int(gm7s32::kExecMissingValue);
    QTest::newRow("no members") << "nomembers" << int(gm7s32::kExecMissingValue);
    QTest::newRow("group name too long") << "longname" << int(gm7s32::kExecValueTooLong);
}

void TestGm7s32Execute::membershipFailures()
{
    QFETCH(QString, failure);
    QFETCH(int, expected);
    const int32_t request = containerWith({{"GroupName", "G"}, {"GroupCode", "MKT"}});
    QCOMPARE(GMW_Execute("CreateContactGroup", request), 0);
    std::string groupNo = GMW_NV_GetValue(request, "GroupNo", "");
    const std::string recid = create({{"Email", "g@example.com"}});
    std::string accountNo = m_store->value("SELECT ACCOUNTNO FROM CONTACT1");
    const int32_t other = containerWith({{"GroupName", "H"}});
    GMW_Execute("CreateContactGroup", other);
    const int32_t seed = containerWith({{"Accountno", accountNo}});
    const int32_t seeding = containerWith({{"GroupNo", GMW_NV_GetValue(other, "GroupNo", "")}});
    GMW_NV_AppendNvValue(seeding, "Members", seed);
    QCOMPARE(GMW_Execute("AddContactGrpMembers", seeding), 0);
    const std::string before = m_store->snapshot();

    if (failure == "group")
        groupNo = "NOSUCHGROUP0000";
    else if (failure == "emptygroup")
        groupNo.clear();
    else if (failure == "membergroup")
        groupNo = m_store->value("SELECT RECID FROM CONTGRPS WHERE ACCOUNTNO<>''");
    else if (failure == "account")
        accountNo = "NOSUCHACCOUNT";
    else if (failure == "emptyaccount")
        accountNo.clear();
    const int32_t member = containerWith({{"Accountno", accountNo}});
    const int32_t membership = containerWith({{"GroupNo", groupNo}});
    if (failure == "text")
        GMW_NV_SetValue(membership, "Members", accountNo.c_str());
    else if (failure != "nomembers")
        GMW_NV_AppendNvValue(membership, "Members", member);
    if (failure == "longname") {
        const int32_t tooLong = containerWith({{"GroupName", std::string(61, 'n')}});
        QCOMPARE(GMW_Execute("CreateContactGroup", tooLong), expected);
        QCOMPARE(std::string(GMW_NV_GetValue(tooLong, "GroupNo", "none")), "none"s);
    } else {
        QCOMPARE(GMW_Execute("AddContactGrpMembers", membership), expected);
    }
    QCOMPARE(m_store->snapshot(), before);
    QVERIFY(!recid.empty());
}

void TestGm7s32Execute::unknownCallAndContainer()
{
    const int32_t container = containerWith({{"Email", "u@example.com"}});
    QCOMPARE(GMW_Execute("WriteContacts", container), gm7s32::kExecUnknownCall);
    QCOMPARE(GMW_Execute("", container), gm7s32::kExecUnknownCall);
    QCOMPARE(GMW_Execute("WriteContact", 987654), gm7s32::kExecBadContainer);
    QCOMPARE(m_store->value("SELECT count(*) FROM CONTACT1"), "0"s);
    // The call name compares without regard to case.
    QCOMPARE(GMW_Execute("writecontact", container), 0);
}

void TestGm7s32Execute::idsAreUnique()
{
    std::set<std::string> recids;
    for (int i = 0; i < 300; ++i)
        recids.insert(create({{"Email", "same@example.com"}, {"CONTACT", "Same Name"}}));
    QCOMPARE(recids.size(), 300u);
    QVERIFY(!recids.count(""));
    QCOMPARE(m_store->value("SELECT count(DISTINCT ACCOUNTNO) FROM CONTACT1"), "300"s);
    QCOMPARE(m_store->value("SELECT count(DISTINCT RECID) FROM CONTSUPP"), "300"s);
    // Every one of them is found by the shared address.
    const auto lines = packetLines(queryPacket(
        "select recid from contact1 where accountno in (select accountno from contsupp where "
        "contsupref='same@example.com')"));
    QCOMPARE(lines.size(), 300u);
}

void TestGm7s32Execute::writeWhileAQueryIsOpen()
{
    QVERIFY(!create({{"Email", "one@example.com"}}).empty());
    QVERIFY(!create({{"Email", "two@example.com"}}).empty());
    const int32_t handle =
        GMW_DS_Query("select contsupref from contsupp order by rowid", nullptr, nullptr, nullptr);
    QCOMPARE(fetchPacket(handle, 1), "0000-0001\r\none@example.com\r\n"s);
    // The open query neither blocks the write nor loses its place.
    QVERIFY(!create({{"Email", "three@example.com"}}).empty());
    QCOMPARE(packetLines(fetchPacket(handle, 1)), std::vector<std::string>{"two@example.com"});
    QCOMPARE(GMW_DS_Close(handle), 0);
    QCOMPARE(m_store->value("SELECT count(*) FROM CONTSUPP"), "3"s);
}

QTEST_GUILESS_MAIN(TestGm7s32Execute)
#include "TestGm7s32Execute.moc"
