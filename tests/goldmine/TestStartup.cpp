#include "FakeGoldMineApi.h"
#include "goldmine/DdeLink.h"
#include "goldmine/Startup.h"
#include "support/ScriptedPrompts.h"

#include <QHash>
#include <QTest>

using util::PromptIcon;
using namespace goldmine;

namespace {

// A DDE link whose server answers from a table; one item can be made to fail.
class FakeDdeLink : public DdeLink
{
public:
    Status initiateAnswer = Status::Linked;
    QHash<QString, QString> items{
        {"&sysdir", "/home/ann/store"},
        {"&golddir", "GoldMine:"},
        {"&commondir", "Common:"},
        {"&username", "ANN"},
    };
    QString failingItem;
    QStringList requested;
    int initiateCalls = 0;

    QString initiateReason;

    Status DDEInitiate() override
    {
        ++initiateCalls;
        return initiateAnswer == Status::Linked ? initiateAnswer
                                                : fail(initiateAnswer, initiateReason);
    }
    Result<QString> DDERequest(const QString &item) override
    {
        requested.append(item);
        if (item == failingItem)
            return Error{QStringLiteral("the server closed the conversation")};
        return items.value(item);
    }
};

// An API that explains its failed loads, as the binding over the stand-in does.
class ExplainingApi : public FakeGoldMineApi
{
public:
    QString reason;
    QString loadFailureReason() const override { return reason; }
};

const QString kNotRunning = QStringLiteral(
    "GoldMine is not running!  Please launch GoldMine before attempting to run this operation.");
const QString kVersion = QStringLiteral("Sorry, GoldMine 6 and older are NOT supported..");

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void goldMineNotRunning();
    void otherLinkFailure();
    void linkRefusedSaysWhereAndWhy();
    void versionTest_data();
    void versionTest();
    void loadFailureMessages_data();
    void loadFailureMessages();
    void loadFailureReasonUnderFirstLine_data();
    void loadFailureReasonUnderFirstLine();
    void successPassesSettingsAndForgetsPassword();
    void cancelGivesEmptyPassword();
    void failingRequestEndsInOrder_data();
    void failingRequestEndsInOrder();
    void settingsAlreadyKnownSkipDde();
};

void TestStartup::goldMineNotRunning()
{
    FakeDdeLink link;
    link.initiateAnswer = DdeLink::Status::NotRunning;
    FakeGoldMineApi api;
    ScriptedPrompts prompts;
    ConnectionSettings settings;

    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::EndProgram);
    QCOMPARE(prompts.shown().size(), 1);
    const ScriptedPrompts::Shown &box = prompts.shown().first();
    QCOMPARE(box.kind, ScriptedPrompts::Shown::Message);
    QCOMPARE(box.text, kNotRunning);
    QCOMPARE(box.title, QStringLiteral("DDE Error"));
    QCOMPARE(box.icon, PromptIcon::Critical);
    QVERIFY(link.requested.isEmpty());
    QCOMPARE(api.loadCalls, 0);
}

void TestStartup::otherLinkFailure()
{
    // Nothing is requested; the empty GoldMine directory fails the version test
    // after the password has been asked.
    FakeDdeLink link;
    link.initiateAnswer = DdeLink::Status::Failed;
    FakeGoldMineApi api;
    ScriptedPrompts prompts;
    prompts.answerInput(QStringLiteral("secret"));
    ConnectionSettings settings;

    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::EndProgram);
    QVERIFY(link.requested.isEmpty());
    QCOMPARE(prompts.shown().size(), 2);
    QCOMPARE(prompts.shown().at(0).kind, ScriptedPrompts::Shown::Input);
    QCOMPARE(prompts.shown().at(0).text, QStringLiteral("GoldMine Password for : "));
    QCOMPARE(prompts.shown().at(1).text, kVersion);
    QCOMPARE(api.loadCalls, 0);
    QVERIFY(settings.sPassword.isEmpty());
}

void TestStartup::linkRefusedSaysWhereAndWhy()
{
    // Someone else's folder in the link's way: the operator is told that, not
    // that GoldMine is too old, and nothing else is asked.
    FakeDdeLink link;
    link.initiateAnswer = DdeLink::Status::Refused;
    link.initiateReason =
        QStringLiteral("the folder /home/ann/.ruvelo-dde belongs to another user");
    FakeGoldMineApi api;
    ScriptedPrompts prompts;
    prompts.answerInput(QStringLiteral("secret"));
    ConnectionSettings settings;

    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::EndProgram);
    QCOMPARE(prompts.shown().size(), 1);
    const ScriptedPrompts::Shown &box = prompts.shown().first();
    QCOMPARE(box.kind, ScriptedPrompts::Shown::Message);
    QCOMPARE(box.title, QStringLiteral("DDE Error"));
    QCOMPARE(box.icon, PromptIcon::Critical);
    QCOMPARE(box.text, QStringLiteral("Cannot link to GoldMine over DDE: the folder "
                                      "/home/ann/.ruvelo-dde belongs to another user.\n\rThe "
                                      "link's folder and socket must belong to you, and no other "
                                      "user may enter the folder."));
    QVERIFY(link.requested.isEmpty());
    QCOMPARE(api.loadCalls, 0);
}

void TestStartup::versionTest_data()
{
    QTest::addColumn<QString>("goldDir");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("alias") << "GoldMine:" << true;
    QTest::newRow("bare colon") << ":" << true;
    QTest::newRow("GoldMine 6 directory") << "C:\\GOLDMINE\\" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("trailing blank") << "GoldMine: " << false;
    QTest::newRow("colon inside only") << "C:\\GM" << false;
}

void TestStartup::versionTest()
{
    QFETCH(QString, goldDir);
    QFETCH(bool, accepted);

    FakeDdeLink link;
    link.items.insert("&golddir", goldDir);
    FakeGoldMineApi api;
    ScriptedPrompts prompts;
    prompts.answerInput(QStringLiteral("pw"));
    ConnectionSettings settings;

    const StartupOutcome outcome = RunStartup(link, api, prompts, settings);
    // The password is asked either way, before the test.
    QCOMPARE(prompts.shown().first().kind, ScriptedPrompts::Shown::Input);
    QCOMPARE(settings.sGoldDir, goldDir);
    if (accepted) {
        QCOMPARE(outcome, StartupOutcome::Ready);
        QCOMPARE(api.loadCalls, 1);
        QVERIFY(prompts.messages().isEmpty());
    } else {
        QCOMPARE(outcome, StartupOutcome::EndProgram);
        QCOMPARE(api.loadCalls, 0);
        QCOMPARE(prompts.messages().size(), 1);
        QCOMPARE(prompts.messages().first().text, kVersion);
        QCOMPARE(prompts.messages().first().title, QStringLiteral("Ruvelo"));
        QCOMPARE(prompts.messages().first().icon, PromptIcon::Critical);
    }
}

void TestStartup::loadFailureMessages_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text");

    QTest::newRow("-1") << -1
                        << QStringLiteral(
                               "Error#: -1\n\rUnable to Load GoldMine API.\n\rTry setting the "
                               "BDE's Configuration|System|INIT|SHAREDMEMLOCATION setting\n\r"
                               "according to your operating system:\n\rWin 95/98/ME: <blank>\n\r"
                               "Win NT4/2000 (early service packs): 7000\n\rWin 2000 (post "
                               "sp2)/XP: 6000 or 6BDE");
    QTest::newRow("-4") << -4
                        << QStringLiteral("Error#: -4\n\rGoldMine API cannot validate the "
                                          "GoldMine username/password.");
    QTest::newRow("-5") << -5
                        << QStringLiteral(
                               "Error#: -5\n\rGoldMine API cannot find CAL table in GoldDir.");
    QTest::newRow("-6") << -6
                        << QStringLiteral(
                               "Error#: -6\n\rGoldMine API cannot CONTACT1 table in CommonDir.");
    QTest::newRow("-9") << -9 << QStringLiteral("Error#: -9\n\rUnable to Load GoldMine API.");
    QTest::newRow("-2 (library missing)")
        << -2 << QStringLiteral("Error#: -2\n\rUnable to Load GoldMine API.");
    QTest::newRow("lowest") << int(INT32_MIN)
                            << QStringLiteral(
                                   "Error#: -2147483648\n\rUnable to Load GoldMine API.");
}

void TestStartup::loadFailureMessages()
{
    QFETCH(int, result);
    QFETCH(QString, text);

    FakeDdeLink link;
    FakeGoldMineApi api;
    api.loadAnswer = result;
    ScriptedPrompts prompts;
    prompts.answerInput(QStringLiteral("pw"));
    ConnectionSettings settings;

    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::EndProgram);
    QCOMPARE(prompts.messages().size(), 1);
    QCOMPARE(prompts.messages().first().text, text);
    QCOMPARE(prompts.messages().first().title, QStringLiteral("Ruvelo"));
    QCOMPARE(prompts.messages().first().icon, PromptIcon::None);
    QVERIFY(settings.sPassword.isEmpty());
}

void TestStartup::loadFailureReasonUnderFirstLine_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("text");

    const QString missing = QStringLiteral("Cannot load library gm7s32: no such file");
    QTest::newRow("library missing")
        << -2 << missing
        << QStringLiteral("Error#: -2\n\rUnable to Load GoldMine API.\n\r") + missing;
    const QString damaged =
        QStringLiteral("/srv/store/goldmine.db: database disk image is malformed");
    QTest::newRow("cannot start")
        << -1 << damaged
        << QStringLiteral("Error#: -1\n\rUnable to Load GoldMine API.\n\r") + damaged +
               QStringLiteral("\n\rTry setting the BDE's Configuration|System|INIT|"
                              "SHAREDMEMLOCATION setting\n\raccording to your operating "
                              "system:\n\rWin 95/98/ME: <blank>\n\rWin NT4/2000 (early service "
                              "packs): 7000\n\rWin 2000 (post sp2)/XP: 6000 or 6BDE");
    const QString noCal = QStringLiteral("/srv/store/goldmine.db has no CAL table");
    QTest::newRow("no CAL table")
        << -5 << noCal
        << QStringLiteral("Error#: -5\n\rGoldMine API cannot find CAL table in GoldDir.\n\r") +
               noCal;
    QTest::newRow("nothing to add") << -4 << QString()
                                    << QStringLiteral("Error#: -4\n\rGoldMine API cannot "
                                                      "validate the GoldMine username/password.");
}

void TestStartup::loadFailureReasonUnderFirstLine()
{
    QFETCH(int, result);
    QFETCH(QString, reason);
    QFETCH(QString, text);

    FakeDdeLink link;
    ExplainingApi api;
    api.loadAnswer = result;
    api.reason = reason;
    ScriptedPrompts prompts;
    prompts.answerInput(QStringLiteral("pw"));
    ConnectionSettings settings;

    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::EndProgram);
    QCOMPARE(prompts.messages().size(), 1);
    QCOMPARE(prompts.messages().first().text, text);
    QCOMPARE(prompts.messages().first().title, QStringLiteral("Ruvelo"));
    QCOMPARE(prompts.messages().first().icon, PromptIcon::None);
}

void TestStartup::successPassesSettingsAndForgetsPassword()
{
    FakeDdeLink link;
    // Values arrive untrimmed and unvalidated.
    link.items.insert("&username", QStringLiteral(" ann "));
    link.items.insert("&commondir", QString());
    FakeGoldMineApi api;
    ScriptedPrompts prompts;
    prompts.answerInput(QStringLiteral("s3cret pw"));
    ConnectionSettings settings;

    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::Ready);
    QCOMPARE(link.requested, (QStringList{"&sysdir", "&golddir", "&commondir", "&username"}));
    QCOMPARE(prompts.shown().size(), 1);
    const ScriptedPrompts::Shown &input = prompts.shown().first();
    QCOMPARE(input.kind, ScriptedPrompts::Shown::Input);
    QCOMPARE(input.text, QStringLiteral("GoldMine Password for  ann : "));
    QCOMPARE(input.title, QStringLiteral("Authenticate"));
    QVERIFY(input.masked);
    QCOMPARE(api.loadArguments,
             (QStringList{"/home/ann/store", "GoldMine:", "", " ann ", "s3cret pw"}));
    QCOMPARE(settings.sSysDir, QStringLiteral("/home/ann/store"));
    QCOMPARE(settings.sUserName, QStringLiteral(" ann "));
    QVERIFY(settings.sPassword.isEmpty());
}

void TestStartup::cancelGivesEmptyPassword()
{
    FakeDdeLink link;
    FakeGoldMineApi api;
    ScriptedPrompts prompts; // no answer queued: Cancel
    ConnectionSettings settings;
    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::Ready);
    QCOMPARE(api.loadCalls, 1);
    QCOMPARE(api.loadArguments.value(4), QString());
}

void TestStartup::failingRequestEndsInOrder_data()
{
    QTest::addColumn<QString>("item");
    QTest::newRow("&sysdir") << "&sysdir";
    QTest::newRow("&golddir") << "&golddir";
    QTest::newRow("&commondir") << "&commondir";
    QTest::newRow("&username") << "&username";
}

void TestStartup::failingRequestEndsInOrder()
{
    QFETCH(QString, item);

    FakeDdeLink link;
    link.failingItem = item;
    FakeGoldMineApi api;
    ScriptedPrompts prompts;
    prompts.answerInput(QStringLiteral("pw"));
    ConnectionSettings settings;

    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::EndProgram);
    QCOMPARE(link.requested.last(), item); // nothing requested after the failure
    QCOMPARE(prompts.shown().size(), 1);   // no password asked
    const ScriptedPrompts::Shown &box = prompts.shown().first();
    QCOMPARE(box.kind, ScriptedPrompts::Shown::Message);
    QCOMPARE(box.title, QStringLiteral("DDE Error"));
    QCOMPARE(box.icon, PromptIcon::Critical);
    QVERIFY2(box.text.contains(QLatin1Char('"') + item + QLatin1Char('"')), qPrintable(box.text));
    QCOMPARE(api.loadCalls, 0);
}

void TestStartup::settingsAlreadyKnownSkipDde()
{
    FakeDdeLink link;
    FakeGoldMineApi api;
    ScriptedPrompts prompts;
    ConnectionSettings settings{"/s", "G:", "C:", "U", ""};
    QCOMPARE(RunStartup(link, api, prompts, settings), StartupOutcome::Ready);
    QCOMPARE(link.initiateCalls, 0);
    QCOMPARE(api.loadArguments, (QStringList{"/s", "G:", "C:", "U", ""}));
}

QTEST_GUILESS_MAIN(TestStartup)
#include "TestStartup.moc"
