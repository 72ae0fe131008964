#include "FakeGoldMineApi.h"
#include "goldmine/Lookups.h"
#include "support/ScriptedPrompts.h"

#include <QTest>
#include <QTimer>

using util::PromptIcon;
using namespace goldmine;

class TestLookups : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void emailExistsReadsFetchText_data();
    void emailExistsReadsFetchText();
    void emailQueryText_data();
    void emailQueryText();
    void accountQueryText();
    void getAccountnoTakesLastValue_data();
    void getAccountnoTakesLastValue();
    void failingQuery_data();
    void failingQuery();
    void pendingEventsRunBetweenValues();
    void multibyteValues();
};

// A fetch call of the reading kind must get a buffer one larger than the size
// it is told, which the sizing call chose.
static void verifyFetchCalls(const FakeGoldMineApi &api, int32_t sizingCount)
{
    QVERIFY(!api.fetches.isEmpty());
    QCOMPARE(api.fetches.first().size, 0);
    QCOMPARE(api.fetches.first().count, sizingCount);
    QCOMPARE(api.fetches.first().handle, api.queryHandle);
    QCOMPARE(api.closedHandles, QList<int32_t>{api.queryHandle});
}

void TestLookups::emailExistsReadsFetchText_data()
{
    QTest::addColumn<QByteArray>("fetchText");
    QTest::addColumn<int>("sizingAnswer");
    QTest::addColumn<int>("readingAnswer");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("recid");
    QTest::addColumn<bool>("uncertain");

    const int asWritten = -100;
    QTest::newRow("one contact") << FakeGoldMineApi::fetchTextFor({"REC0000001"}) << asWritten
                                 << asWritten << true << "REC0000001" << false;
    QTest::newRow("no contact") << FakeGoldMineApi::fetchTextFor({}) << asWritten << asWritten
                                << false << "earlier" << false;
    QTest::newRow("several: the last read wins")
        << FakeGoldMineApi::fetchTextFor({"A1", "B2", "C3"}) << asWritten << asWritten << true
        << "C3" << false;
    QTest::newRow("last value empty") << FakeGoldMineApi::fetchTextFor({"A1", ""}) << asWritten
                                      << asWritten << false << "earlier" << false;
    QTest::newRow("value kept with its blanks")
        << FakeGoldMineApi::fetchTextFor({" R 1 "}) << asWritten << asWritten << true << " R 1 "
        << false;
    QTest::newRow("header counts more than the text holds")
        << QByteArray("HDR:    5\r\nA1\r\nB2\r\n") << asWritten << asWritten << true << "B2"
        << false;
    QTest::newRow("header counts fewer than the text holds")
        << QByteArray("HDR:    1\r\nA1\r\nB2\r\n") << asWritten << asWritten << true << "A1"
        << false;
    QTest::newRow("negative count reads to the end")
        << QByteArray("HDR:   -1\r\nA1\r\nB2\r\n") << asWritten << asWritten << true << "B2"
        << false;
    QTest::newRow("line without CR stops the reading")
        << QByteArray("HDR:    2\r\nA1\r\nB2") << asWritten << asWritten << true << "A1" << false;
    QTest::newRow("header counts a contact the text lacks")
        << QByteArray("HDR:    1\r\n") << asWritten << asWritten << false << "earlier" << true;
    QTest::newRow("header not a number") << QByteArray("HDR: xy  \r\nA1\r\n") << asWritten
                                         << asWritten << false << "earlier" << true;
    QTest::newRow("text too short for a header")
        << QByteArray("HDR") << asWritten << asWritten << false << "earlier" << true;
    QTest::newRow("sizing answer below -1")
        << FakeGoldMineApi::fetchTextFor({"A1"}) << -5 << asWritten << false << "earlier" << true;
    QTest::newRow("sizing answer -1")
        << FakeGoldMineApi::fetchTextFor({"A1"}) << -1 << asWritten << false << "earlier" << true;
    QTest::newRow("reading answer beyond the buffer")
        << FakeGoldMineApi::fetchTextFor({"A1"}) << asWritten << 4000 << false << "earlier" << true;
    QTest::newRow("reading answer negative")
        << FakeGoldMineApi::fetchTextFor({"A1"}) << asWritten << -3 << false << "earlier" << true;
    QTest::newRow("only the reading answer's length counts")
        << FakeGoldMineApi::fetchTextFor({"A1", "B2"}) << asWritten << 15 << true << "A1" << false;
}

void TestLookups::emailExistsReadsFetchText()
{
    QFETCH(QByteArray, fetchText);
    QFETCH(int, sizingAnswer);
    QFETCH(int, readingAnswer);
    QFETCH(bool, found);
    QFETCH(QString, recid);
    QFETCH(bool, uncertain);

    FakeGoldMineApi api;
    api.fetchText = fetchText;
    api.sizingAnswer = sizingAnswer;
    api.readingAnswer = readingAnswer;
    ScriptedPrompts prompts;
    ImportState state;
    state.sEmail = QStringLiteral("someone@example.com");
    state.sRecid = QStringLiteral("earlier");
    RecordLookups lookups(api, prompts, state);

    QCOMPARE(lookups.EmailExists(), found);
    QCOMPARE(state.sRecid, recid);
    // An answer cut short before naming a contact is no proof there is none.
    QCOMPARE(lookups.lastQueryFailed(), uncertain);
    QVERIFY(prompts.shown().isEmpty());
    verifyFetchCalls(api, 2000);
    // No reading call after a sizing answer the buffer cannot be made from.
    if (sizingAnswer != -100 && sizingAnswer < -1) {
        QCOMPARE(api.fetches.size(), 1);
    } else {
        QCOMPARE(api.fetches.size(), 2);
        const int32_t size = sizingAnswer == -100 ? int32_t(fetchText.size()) : sizingAnswer;
        QCOMPARE(api.fetches.at(1).size, size);
        QCOMPARE(api.fetches.at(1).count, 0);
    }
}

void TestLookups::emailQueryText_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("sql");

    const QString prefix = QStringLiteral(
        "select recid from contact1 where accountno in (select accountno from contsupp where "
        "contsupref='");
    QTest::newRow("plain") << "ann@example.com" << prefix + "ann@example.com')";
    // Beyond 35 characters the overflow field must hold the rest, or two
    // addresses sharing their first 35 characters would be one contact.
    QTest::newRow("40 characters: the first 35, then the rest")
        << "abcdefghij.klmnopqrst.uvwxyz@example.com"
        << prefix + "abcdefghij.klmnopqrst.uvwxyz@exampl' and upper(address1)=upper('e.com'))";
    QTest::newRow("exactly 35 characters") << "abcdefghij.klmnopqrst.uvwxy@exa.com"
                                           << prefix + "abcdefghij.klmnopqrst.uvwxy@exa.com')";
    QTest::newRow("apostrophe doubled")
        << "O'Brien@example.com" << prefix + "O''Brien@example.com')";
    QTest::newRow("text that would end the literal")
        << "x') or 1=1 --" << prefix + "x'') or 1=1 --')";
    QTest::newRow("cut before doubling")
        << "abcdefghij.klmnopqrst.uvwxyz@examp'le.com"
        << prefix + "abcdefghij.klmnopqrst.uvwxyz@examp''' and upper(address1)=upper('le.com'))";
    // Characters, not UTF-16 code units: an emoji is never cut in two.
    const QString smile = QString::fromUcs4(U"\U0001F600");
    QTest::newRow("characters beyond the Basic Multilingual Plane")
        << smile.repeated(36) + "@x.org"
        << prefix + smile.repeated(35) + "' and upper(address1)=upper('" + smile + "@x.org'))";
    QTest::newRow("empty") << "" << prefix + "')";
}

void TestLookups::emailQueryText()
{
    QFETCH(QString, email);
    QFETCH(QString, sql);

    FakeGoldMineApi api;
    api.fetchText = FakeGoldMineApi::fetchTextFor({});
    ScriptedPrompts prompts;
    ImportState state;
    state.sEmail = email;
    RecordLookups lookups(api, prompts, state);
    lookups.EmailExists();
    QCOMPARE(api.queries, QStringList{sql});
}

void TestLookups::accountQueryText()
{
    FakeGoldMineApi api;
    api.fetchText = FakeGoldMineApi::fetchTextFor({"ACC1"});
    ScriptedPrompts prompts;
    ImportState state;
    RecordLookups lookups(api, prompts, state);

    state.sRecid = QStringLiteral("REC0000001");
    QCOMPARE(lookups.GetAccountno(), QStringLiteral("ACC1"));
    state.sRecid = QStringLiteral("it's");
    lookups.GetAccountno();
    QCOMPARE(api.queries, (QStringList{"select accountno from contact1 where recid='REC0000001'",
                                       "select accountno from contact1 where recid='it''s'"}));
    QCOMPARE(api.fetches.size(), 4);
    QCOMPARE(api.fetches.at(0).count, 20);
    QCOMPARE(api.fetches.at(2).count, 20);
    QCOMPARE(api.closedHandles, (QList<int32_t>{api.queryHandle, api.queryHandle}));
}

void TestLookups::getAccountnoTakesLastValue_data()
{
    QTest::addColumn<QByteArray>("fetchText");
    QTest::addColumn<QString>("accountNumber");

    QTest::newRow("one") << FakeGoldMineApi::fetchTextFor({"B2042900001"}) << "B2042900001";
    QTest::newRow("none") << FakeGoldMineApi::fetchTextFor({}) << "";
    QTest::newRow("two: the last wins") << FakeGoldMineApi::fetchTextFor({"A", "B"}) << "B";
    QTest::newRow("malformed header") << QByteArray("HDR: ??  \r\nA\r\n") << "";
}

void TestLookups::getAccountnoTakesLastValue()
{
    QFETCH(QByteArray, fetchText);
    QFETCH(QString, accountNumber);

    FakeGoldMineApi api;
    api.fetchText = fetchText;
    ScriptedPrompts prompts;
    ImportState state;
    state.sRecid = QStringLiteral("REC1");
    RecordLookups lookups(api, prompts, state);
    QCOMPARE(lookups.GetAccountno(), accountNumber);
    QCOMPARE(state.sRecid, QStringLiteral("REC1"));
    verifyFetchCalls(api, 20);
}

void TestLookups::failingQuery_data()
{
    QTest::addColumn<int>("handle");
    QTest::addColumn<bool>("emailLookup");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");

    const QString lost =
        QStringLiteral("Connectivity to GoldMine Unexpectedly LOST!  GoldMine responded:");
    const QString emailTitle = QStringLiteral("GoldMine Email Record Seek -- Error");
    const QString accountTitle = QStringLiteral("GoldMine Accountno Seek -- Error");
    QTest::newRow("e-mail, zero") << 0 << true << lost + " 0" << emailTitle;
    QTest::newRow("e-mail, negative") << -5 << true << lost + "-5" << emailTitle;
    QTest::newRow("account, zero") << 0 << false << lost + " 0" << accountTitle;
    QTest::newRow("account, negative") << -12 << false << lost + "-12" << accountTitle;
}

void TestLookups::failingQuery()
{
    QFETCH(int, handle);
    QFETCH(bool, emailLookup);
    QFETCH(QString, text);
    QFETCH(QString, title);

    FakeGoldMineApi api;
    api.queryHandle = handle;
    ScriptedPrompts prompts;
    prompts.setWaitCursor(true);
    ImportState state;
    state.sEmail = QStringLiteral("a@b.c");
    state.sRecid = QStringLiteral("earlier");
    RecordLookups lookups(api, prompts, state);

    if (emailLookup) {
        QVERIFY(!lookups.EmailExists());
        QCOMPARE(state.sRecid, QStringLiteral("earlier"));
    } else {
        QCOMPARE(lookups.GetAccountno(), QString());
    }
    QVERIFY(lookups.lastQueryFailed());
    QCOMPARE(prompts.shown().size(), 1);
    QCOMPARE(prompts.shown().first().kind, ScriptedPrompts::Shown::Message);
    QCOMPARE(prompts.shown().first().text, text);
    QCOMPARE(prompts.shown().first().title, title);
    QCOMPARE(prompts.shown().first().icon, PromptIcon::Critical);
    QVERIFY(!prompts.waiting());
    QVERIFY(api.fetches.isEmpty());
    QCOMPARE(api.closedHandles, QList<int32_t>{handle});
}

void TestLookups::pendingEventsRunBetweenValues()
{
    FakeGoldMineApi api;
    api.fetchText = FakeGoldMineApi::fetchTextFor({"first", "second"});
    ScriptedPrompts prompts;
    bool eventRan = false;
    QTimer::singleShot(0, this, [&eventRan] { eventRan = true; });
    QList<bool> ranBefore;
    // The caller's own yield runs after each value...
    bool succeeded = RunSqlQuery(
        api, prompts, QStringLiteral("select x from y"), 2000, QStringLiteral("T"),
        [&](const QString &) { ranBefore.append(eventRan); }, nullptr,
        [] { QCoreApplication::processEvents(); });
    QVERIFY(succeeded);
    QCOMPARE(ranBefore, (QList<bool>{false, true}));

    // ...and without one the query never enters the event loop itself.
    eventRan = false;
    QTimer::singleShot(0, this, [&eventRan] { eventRan = true; });
    ranBefore.clear();
    succeeded =
        RunSqlQuery(api, prompts, QStringLiteral("select x from y"), 2000, QStringLiteral("T"),
                    [&](const QString &) { ranBefore.append(eventRan); });
    QVERIFY(succeeded);
    QCOMPARE(ranBefore, (QList<bool>{false, false}));
}

void TestLookups::multibyteValues()
{
    // Positions count characters, not bytes, once the text is decoded.
    FakeGoldMineApi api;
    api.fetchText = FakeGoldMineApi::fetchTextFor({QStringLiteral("Zoë"), QStringLiteral("Ærø")});
    ScriptedPrompts prompts;
    QStringList values;
    QVERIFY(RunSqlQuery(api, prompts, QStringLiteral("q"), 2000, QStringLiteral("T"),
                        [&values](const QString &value) { values.append(value); }));
    QCOMPARE(values, (QStringList{QStringLiteral("Zoë"), QStringLiteral("Ærø")}));
}

QTEST_GUILESS_MAIN(TestLookups)
#include "TestLookups.moc"
