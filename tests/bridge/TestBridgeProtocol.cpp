#include "bridge/Client.h"
#include "bridge/Protocol.h"
#include "goldmine/gm7s32.h"
#include "standin/gm7s32/Store.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <csignal>
#include <string>
#include <vector>

using bridge::Call;
using bridge::Client;

namespace {

const char *const kBridge = RUVELO_BIN_DIR "/gm7bridge";
const char *const kUser = "MASTER";
const char *const kPassword = "Sentinel-7c2a-Bridge-Passw0rd";

QByteArray frame(const QByteArray &body)
{
    QByteArray bytes(4, '\0');
    const auto length = static_cast<uint32_t>(body.size());
    for (int index = 0; index < 4; ++index)
        bytes[index] = static_cast<char>((length >> (8 * index)) & 0xff);
    return bytes + body;
}

QByteArray le32(uint32_t value)
{
    QByteArray bytes(4, '\0');
    for (int index = 0; index < 4; ++index)
        bytes[index] = static_cast<char>((value >> (8 * index)) & 0xff);
    return bytes;
}

QByteArray text(const QByteArray &bytes)
{
    return le32(static_cast<uint32_t>(bytes.size())) + bytes;
}

QByteArray hello(uint32_t version = bridge::kVersion, uint32_t magic = bridge::kMagic)
{
    return frame(QByteArray(1, char(Call::Hello)) + le32(magic) + le32(version));
}

// The bodies of the frames in a stream of answers.
QList<QByteArray> frames(QByteArray stream)
{
    QList<QByteArray> bodies;
    while (stream.size() >= 4) {
        uint32_t length = 0;
        for (int index = 3; index >= 0; --index)
            length = (length << 8) | static_cast<uint8_t>(stream[index]);
        if (stream.size() < 4 + static_cast<qsizetype>(length))
            break;
        bodies.append(stream.mid(4, length));
        stream.remove(0, 4 + length);
    }
    return bodies;
}

int count(const QString &store, const char *sql)
{
    sqlite3 *db = nullptr;
    int result = -1;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_open_v2((store + "/common.db").toUtf8().constData(), &db, SQLITE_OPEN_READONLY,
                        nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        result = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return result;
}

// The whole fetch text of a query, by the sizing call and the reading call.
template <typename Fetch> QByteArray fetchAll(Fetch fetch, int32_t handle, int32_t *result)
{
    char sizing[1] = {'\0'};
    const int32_t size = fetch(handle, sizing, 0, 100);
    if (size < 0) {
        *result = size;
        return {};
    }
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '\x7f');
    *result = fetch(handle, buffer.data(), size, 0);
    return QByteArray(buffer.data(), static_cast<qsizetype>(buffer.size()));
}

} // namespace

// gm7bridge against the real stand-in library: every call, the fetch text,
// bad handles, unanswered calls that fail, broken streams in both
// directions, and the password, which must not outlive GMW_LoadBDE.
class TestBridgeProtocol : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_store;

    std::string storePath() const { return m_store.toStdString(); }
    int32_t load(Client &client, const char *password = kPassword)
    {
        return client.loadBDE(storePath(), gm7s32::goldMineAlias(), gm7s32::commonAlias(), kUser,
                              password);
    }
    // Writes a script that plays a broken bridge.
    QString script(const QString &name, const QByteArray &body)
    {
        QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write("#!/bin/sh\n" + body + "\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_store = m_dir.filePath("store");
        std::string error;
        QVERIFY2(gm7s32::createStore(storePath(), kUser, kPassword, &error), error.c_str());
    }

    void everyCall()
    {
        Client client(kBridge);
        QCOMPARE(client.dsQuery("select 1"), gm7s32::kQueryNotLoaded);
        QCOMPARE(client.bridgeBits(), uint32_t(sizeof(void *) * 8));
        QCOMPARE(load(client, "wrong"), gm7s32::kLoadUserRefused);
        QCOMPARE(client.loadBDE(m_dir.filePath("no-store").toStdString(),
                                "GoldMine:", "Common:", kUser, kPassword),
                 gm7s32::kLoadCannotStart);
        const std::optional<std::string> reason = client.loadFailureReason();
        QVERIFY(reason && reason->find("no-store is not a directory") != std::string::npos);
        QVERIFY(load(client) >= 0);

        const int32_t contact = client.nvCreate();
        QVERIFY(contact > 0);
        QCOMPARE(client.nvSetValue(contact, "Email", "every@call.example"), 0);
        QCOMPARE(client.nvSetValue(contact, "Company", "Every Call Ltd"), 0);
        QCOMPARE(client.nvGetValue(contact, "Company", "none"), std::string("Every Call Ltd"));
        QCOMPARE(client.nvGetValue(contact, "Absent", "the default"), std::string("the default"));
        QVERIFY(client.execute("WriteContact", contact) >= 0);
        const std::optional<std::string> recid = client.nvGetValue(contact, "RECID", "");
        QVERIFY(recid && !recid->empty());
        QCOMPARE(count(m_store, "select count(*) from contact1 where company='Every Call Ltd'"), 1);

        const int32_t query =
            client.dsQuery("select accountno from contact1 where recid='" + *recid + "'");
        QVERIFY(query > 0);
        int32_t length = 0;
        const QByteArray packet = fetchAll(
            [&](int32_t h, char *b, int32_t s, int32_t c) { return client.dsFetch(h, b, s, c); },
            query, &length);
        QVERIFY(length > 11);
        QCOMPARE(packet.mid(5, 4).toInt(), 1);
        QCOMPARE(client.dsClose(query), 0);

        // A group with the contact as member: AppendNvValue and EraseAll.
        const int32_t group = client.nvCreate();
        client.nvSetValue(group, "GroupName", "Bridge group");
        client.nvSetValue(group, "GroupCode", "BRG");
        QVERIFY(client.execute("CreateContactGroup", group) >= 0);
        const std::optional<std::string> groupNo = client.nvGetValue(group, "GroupNo", "");
        QVERIFY(groupNo && !groupNo->empty());
        const int32_t member = client.nvCreate();
        const int32_t request = client.nvCreate();
        const std::string accountNo = packet.mid(11, packet.indexOf('\r', 11) - 11).toStdString();
        QCOMPARE(client.nvSetValue(member, "Accountno", accountNo), 0);
        QCOMPARE(client.nvSetValue(request, "GroupNo", *groupNo), 0);
        QCOMPARE(client.nvAppendNvValue(request, "Members", member), 0);
        QVERIFY(client.execute("AddContactGrpMembers", request) >= 0);
        QCOMPARE(count(m_store, "select count(*) from contgrps where accountno<>''"), 1);
        QCOMPARE(client.nvEraseAll(request), 0);
        QCOMPARE(client.nvGetValue(request, "GroupNo", "gone"), std::string("gone"));
        for (int32_t handle : {contact, group, member, request})
            QCOMPARE(client.nvDelete(handle), 0);
        QVERIFY(!client.earlierFailure());
        QVERIFY(client.stoppedReason().empty());
    }

    // The fetch text through the bridge is byte for byte what the library
    // hands a caller in its own process, including the bytes after it.
    void fetchTextMatchesInProcess()
    {
        Client client(kBridge);
        QVERIFY(load(client) >= 0);
        for (const char *name : {"Ærø Fisk", "Bob", "Carol 'C'"}) {
            const int32_t contact = client.nvCreate();
            client.nvSetValue(contact, "Company", name);
            client.nvSetValue(contact, "Email", std::string(name).substr(0, 3) + "@x.example");
            QVERIFY(client.execute("WriteContact", contact) >= 0);
            client.nvDelete(contact);
        }
        const char *sql = "select company from contact1 order by company";
        QVERIFY(GMW_LoadBDE(storePath().c_str(), gm7s32::goldMineAlias().c_str(),
                            gm7s32::commonAlias().c_str(), kUser, kPassword) >= 0);
        int32_t directLength = 0;
        const int32_t directQuery = GMW_DS_Query(sql, nullptr, nullptr, nullptr);
        const QByteArray direct = fetchAll(GMW_DS_Fetch, directQuery, &directLength);
        GMW_DS_Close(directQuery);
        int32_t bridgedLength = 0;
        const QByteArray bridged = fetchAll(
            [&](int32_t h, char *b, int32_t s, int32_t c) { return client.dsFetch(h, b, s, c); },
            client.dsQuery(sql), &bridgedLength);
        QVERIFY(directLength > 0);
        QCOMPARE(bridgedLength, directLength);
        QCOMPARE(bridged, direct);
        QVERIFY(bridged.contains("\xc3\x86r\xc3\xb8 Fisk\r"));
    }

    // The reading call after a sizing call comes from what the bridge read
    // ahead; any other sequence of fetches still gets what the library itself
    // answers, call for call, as in the program's own process.
    void readingAhead()
    {
        Client client(kBridge);
        QVERIFY(load(client) >= 0);
        const int32_t contact = client.nvCreate();
        client.nvSetValue(contact, "Email", "ahead@x.example");
        client.nvSetValue(contact, "Company", "Read Ahead Ltd");
        QVERIFY(client.execute("WriteContact", contact) >= 0);
        QVERIFY(GMW_LoadBDE(storePath().c_str(), gm7s32::goldMineAlias().c_str(),
                            gm7s32::commonAlias().c_str(), kUser, kPassword) >= 0);
        const char *sql = "select company from contact1 where company='Read Ahead Ltd'";

        // One sequence of calls, made through the bridge and in process. The
        // buffers start zero-filled, as the program's do: the bridge's own
        // buffer does, so bytes the library leaves alone come back as zeros.
        const auto sequence = [&](auto fetch, auto query, auto close) {
            QList<int32_t> results;
            QByteArray texts;
            int32_t handle = query(sql);
            char sizing[1] = {'\0'};
            const int32_t size = fetch(handle, sizing, 0, 10);
            results << size << sizing[0];
            std::vector<char> text(static_cast<size_t>(std::max(size, 0)) + 1, '\0');
            results << fetch(handle, text.data(), size, 0);
            texts += QByteArray(text.data(), static_cast<qsizetype>(text.size()));
            results << fetch(handle, text.data(), size, 0); // read a second time
            texts += QByteArray(text.data(), static_cast<qsizetype>(text.size()));
            results << close(handle);
            handle = query(sql);
            results << fetch(handle, sizing, 0, 10);
            std::vector<char> small(4, '\0');
            results << fetch(handle, small.data(), 3, 0); // not the size answered
            texts += QByteArray(small.data(), 4);
            results << fetch(handle, sizing, 0, 10) << fetch(handle, nullptr, 0, 10);
            results << close(handle);
            return qMakePair(results, texts);
        };
        const auto bridged = sequence(
            [&](int32_t h, char *b, int32_t s, int32_t c) { return client.dsFetch(h, b, s, c); },
            [&](const char *q) { return client.dsQuery(q); },
            [&](int32_t h) { return client.dsClose(h); });
        const auto direct = sequence(
            GMW_DS_Fetch, [](const char *q) { return GMW_DS_Query(q, nullptr, nullptr, nullptr); },
            GMW_DS_Close);
        QCOMPARE(bridged.first, direct.first);
        QCOMPARE(bridged.second, direct.second);
        QVERIFY(bridged.second.contains("Read Ahead Ltd\r"));
        QVERIFY(client.stoppedReason().empty());
    }

    void badHandles()
    {
        Client client(kBridge);
        QVERIFY(load(client) >= 0);
        char buffer[8] = {};
        QCOMPARE(client.dsFetch(987654, buffer, 0, 10), gm7s32::kFetchBadHandle);
        // Handles the library never gives are answered at once.
        QCOMPARE(client.dsClose(-5), gm7s32::kBadHandle);
        QCOMPARE(client.nvDelete(0), gm7s32::kBadHandle);
        QCOMPARE(client.execute("WriteContact", 987654), gm7s32::kExecBadContainer);
        QCOMPARE(client.nvGetValue(987654, "Email", "fallback"), std::string("fallback"));
        const int32_t query = client.dsQuery("select 1");
        QCOMPARE(client.dsFetch(query, buffer, 5, 0), gm7s32::kFetchNotPrepared);
        QCOMPARE(client.dsQuery("delete from contact1"), gm7s32::kQueryRefused);
        QVERIFY(!client.earlierFailure());
        // Released without waiting, an unknown handle fails the next answered
        // call instead, which then does not run.
        QCOMPARE(client.dsClose(987654), 0);
        QCOMPARE(client.nvCreate(), gm7s32::kBadHandle);
        QCOMPARE(client.earlierFailure()->call, Call::DS_Close);
        QCOMPARE(client.nvDelete(987654), 0);
        QCOMPARE(client.execute("WriteContact", 987654), gm7s32::kBadHandle);
        QCOMPARE(client.earlierFailure()->call, Call::NV_Delete);
        QCOMPARE(client.execute("WriteContact", 987654), gm7s32::kExecBadContainer);
        QVERIFY(client.stoppedReason().empty());
    }

    // A call sent without waiting that fails is reported by the next
    // answered call, which is not carried out.
    void unansweredFailureStopsTheNextCall()
    {
        Client client(kBridge);
        QVERIFY(load(client) >= 0);
        const int before = count(m_store, "select count(*) from contact1");
        const int32_t contact = client.nvCreate();
        QCOMPARE(client.nvSetValue(contact, "Email", "half@filled.example"), 0);
        QCOMPARE(client.nvSetValue(contact, "", "nameless"), 0); // fails in the library
        QCOMPARE(client.nvSetValue(contact, "Company", "Half"), 0);
        QCOMPARE(client.execute("WriteContact", contact), gm7s32::kBadArgument);
        QVERIFY(client.earlierFailure());
        QCOMPARE(client.earlierFailure()->call, Call::NV_SetValue);
        QCOMPARE(client.earlierFailure()->result, gm7s32::kBadArgument);
        QCOMPARE(count(m_store, "select count(*) from contact1"), before);
        // Reported once: the same call now runs.
        QVERIFY(client.execute("WriteContact", contact) >= 0);
        QCOMPARE(count(m_store, "select count(*) from contact1"), before + 1);

        QCOMPARE(client.nvEraseAll(55555), 0);
        QCOMPARE(client.nvGetValue(contact, "Company", "reported"), std::string("reported"));
        QCOMPARE(client.earlierFailure()->call, Call::NV_EraseAll);
        QCOMPARE(client.nvAppendNvValue(contact, "Members", 55555), 0);
        char buffer[1];
        QCOMPARE(client.dsFetch(1, buffer, 0, 1), gm7s32::kBadHandle);
        QCOMPARE(client.earlierFailure()->call, Call::NV_AppendNvValue);
        QVERIFY(client.stoppedReason().empty());
    }

    void libraryThatDoesNotLoad()
    {
        Client client(kBridge, {"--library", m_dir.filePath("absent/libgm7s32.so").toStdString()});
        QCOMPARE(load(client), bridge::kUnboundLibrary);
        QVERIFY2(client.bindError().find("absent/libgm7s32.so") != std::string::npos,
                 client.bindError().c_str());
        QCOMPARE(client.nvCreate(), bridge::kUnboundFunction);
        QCOMPARE(client.nvGetValue(1, "a", "b"), std::nullopt);
        QVERIFY(client.stoppedReason().empty());
    }

    void bridgeThatDoesNotStart()
    {
        Client client(m_dir.filePath("no-such-bridge").toStdString());
        QCOMPARE(load(client), Client::kStopped);
        QVERIFY2(client.stoppedReason().starts_with("The GoldMine API stopped: gm7bridge could "
                                                    "not be started"),
                 client.stoppedReason().c_str());
        QCOMPARE(client.nvCreate(), Client::kStopped);
    }

    void bridgeKilled()
    {
        Client client(kBridge);
        QVERIFY(load(client) >= 0);
        const int32_t contact = client.nvCreate();
        QVERIFY(contact > 0);
        QCOMPARE(::kill(static_cast<pid_t>(client.processId()), SIGKILL), 0);
        QCOMPARE(client.nvSetValue(contact, "Email", "after@kill.example"), 0);
        QCOMPARE(client.execute("WriteContact", contact), Client::kStopped);
        QVERIFY2(client.stoppedReason() ==
                     "The GoldMine API stopped: gm7bridge was ended by signal 9 (Killed).",
                 client.stoppedReason().c_str());
        // Every later call fails at once.
        QCOMPARE(client.nvSetValue(contact, "Email", "later@kill.example"), Client::kStopped);
        QCOMPARE(client.nvCreate(), Client::kStopped);
        QCOMPARE(client.nvGetValue(contact, "Email", "default"), std::string("default"));
        char buffer[4] = {'a', 'b', 'c', '\0'};
        QCOMPARE(client.dsFetch(1, buffer, 3, 0), Client::kStopped);
        QCOMPARE(QByteArray(buffer), QByteArray("abc"));
    }

    void brokenAnswers_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("reason");
        // The greeting's answer: status Ok, version 1, 64 bits.
        const QByteArray greeted = "dd bs=1 count=13 status=none >/dev/null\n"
                                   "printf '\\011\\000\\000\\000\\000\\001\\000\\000\\000\\100\\000"
                                   "\\000\\000'\n";
        QTest::newRow("exits at once") << QByteArray("exit 7")
                                       << "The GoldMine API stopped: gm7bridge exited with status "
                                          "7.";
        QTest::newRow("wrong greeting")
            << QByteArray("dd bs=1 count=13 status=none >/dev/null\n"
                          "printf '\\005\\000\\000\\000\\000\\002\\000\\000\\000'\n"
                          "exec cat >/dev/null")
            << "The GoldMine API stopped: gm7bridge answered the greeting with something else.";
        QTest::newRow("unknown status") << greeted + "dd bs=1 count=5 status=none >/dev/null\n"
                                                     "printf '\\005\\000\\000\\000\\011abcd'\n"
                                                     "exec cat >/dev/null"
                                        << "The GoldMine API stopped: gm7bridge's answer could "
                                           "not be read.";
        QTest::newRow("result cut short") << greeted + "dd bs=1 count=5 status=none >/dev/null\n"
                                                       "printf '\\003\\000\\000\\000\\000ab'\n"
                                                       "exec cat >/dev/null"
                                          << "The GoldMine API stopped: gm7bridge's answer could "
                                             "not be read.";
        QTest::newRow("answer cut off") << greeted + "dd bs=1 count=5 status=none >/dev/null\n"
                                                     "printf '\\011\\000\\000\\000\\000ab'\nexit 3"
                                        << "The GoldMine API stopped: gm7bridge exited with "
                                           "status 3.";
        QTest::newRow("huge answer")
            << greeted + "dd bs=1 count=5 status=none >/dev/null\n"
                         "printf '\\377\\377\\377\\377\\000'\nexec cat >/dev/null"
            << "The GoldMine API stopped: gm7bridge's answer could not "
               "be read.";
    }
    void brokenAnswers()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, reason);
        const QString fake = script(QTest::currentDataTag() + QStringLiteral(".sh"), body);
        QVERIFY(!fake.isEmpty());
        Client client(fake.toStdString());
        QCOMPARE(client.nvCreate(), Client::kStopped);
        QCOMPARE(QString::fromStdString(client.stoppedReason()), reason);
        QCOMPARE(client.nvCreate(), Client::kStopped);
    }

    void malformedRequests_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("reason");
        const QByteArray create = frame(QByteArray(1, char(Call::NV_Create)));
        QTest::newRow("no greeting") << create << "a request came before the greeting";
        QTest::newRow("wrong version")
            << hello(2) << "the program speaks version 2, this bridge version 1";
        QTest::newRow("wrong magic") << hello(1, 0x12345678) << "the greeting is not gm7bridge's";
        QTest::newRow("unknown call")
            << hello() + frame(QByteArray(1, char(99))) << "unknown call 99";
        QTest::newRow("empty frame") << hello() + frame({}) << "unknown call 0";
        QTest::newRow("unanswered Execute")
            << hello() + frame(QByteArray(1, char(uint8_t(Call::Execute) | bridge::kNoAnswer)) +
                               text("WriteContact") + le32(1))
            << "GMW_Execute needs an answer";
        QTest::newRow("extra bytes") << hello() + frame(QByteArray(1, char(Call::NV_Create)) + "x")
                                     << "the request for GMW_NV_Create does not have the expected "
                                        "fields";
        QTest::newRow("text longer than frame")
            << hello() + frame(QByteArray(1, char(Call::DS_Query)) + le32(1000) + "select")
            << "the request for GMW_DS_Query does not have the expected fields";
        QTest::newRow("bad buffer flag")
            << hello() + frame(QByteArray(1, char(Call::DS_Fetch)) + le32(1) + le32(0) + le32(1) +
                               QByteArray(1, char(7)))
            << "GMW_DS_Fetch's buffer flag is not 0, 1 or 2";
        QTest::newRow("read ahead of a reading call")
            << hello() + frame(QByteArray(1, char(Call::DS_Fetch)) + le32(1) + le32(5) + le32(0) +
                               QByteArray(1, char(2)))
            << "GMW_DS_Fetch reads ahead only after a sizing call";
        QTest::newRow("oversized frame") << hello() + QByteArray("\xff\xff\xff\x7f", 4)
                                         << "a request announced more than 268435456 bytes";
        QTest::newRow("cut inside a header") << hello() + QByteArray("\x05\x00", 2)
                                             << "the request stream ended inside a frame "
                                                "header";
        QTest::newRow("cut inside a request")
            << hello() + frame(QByteArray(1, char(Call::DS_Query)) + text("select 1")).left(9)
            << "the request stream ended inside a request";
    }
    void malformedRequests()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QString, reason);
        QProcess process;
        process.start(kBridge, {});
        QVERIFY(process.waitForStarted());
        process.write(stream);
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 2);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()), "gm7bridge: " + reason + "\n");
        const QList<QByteArray> answers = frames(process.readAllStandardOutput());
        QVERIFY(!answers.isEmpty());
        QCOMPARE(answers.last(),
                 QByteArray(1, char(bridge::Status::Malformed)) + text(reason.toUtf8()));
    }

    void cleanEnd()
    {
        QProcess process;
        process.start(kBridge, {});
        QVERIFY(process.waitForStarted());
        process.write(hello());
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardError(), QByteArray());
        const QList<QByteArray> answers = frames(process.readAllStandardOutput());
        QCOMPARE(answers.size(), 1);
        QCOMPARE(answers.first(),
                 QByteArray(1, '\0') + le32(bridge::kVersion) + le32(uint32_t(sizeof(void *) * 8)));
    }

    // The password reaches the library once: it is not in anything the
    // bridge writes, and not in its memory once GMW_LoadBDE has returned.
    void passwordLeavesNoTrace_data()
    {
        QTest::addColumn<QByteArray>("user");
        QTest::newRow("accepted") << QByteArray(kUser);
        QTest::newRow("refused") << QByteArray("NOBODY");
    }
    void passwordLeavesNoTrace()
    {
        QFETCH(QByteArray, user);
        QProcess process;
        process.start(kBridge, {});
        QVERIFY(process.waitForStarted());
        const QByteArray password(kPassword);
        process.write(hello());
        process.write(frame(QByteArray(1, char(Call::LoadBDE)) + text(m_store.toUtf8()) +
                            text("GoldMine:") + text("Common:") + text(user) + text(password)));
        QByteArray answers;
        while (frames(answers).size() < 2 && process.waitForReadyRead(20000))
            answers += process.readAllStandardOutput();
        QCOMPARE(frames(answers).size(), 2);
        QCOMPARE(frames(answers).at(1).at(0), '\0');

        // Every writable mapping of the bridge, as another process with the
        // right to read it would see it.
        QFile maps(QStringLiteral("/proc/%1/maps").arg(process.processId()));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        QFile memory(QStringLiteral("/proc/%1/mem").arg(process.processId()));
        QVERIFY(memory.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        qint64 scanned = 0;
        for (const QByteArray &line : maps.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() < 2 || !fields.at(1).startsWith("rw"))
                continue;
            const QList<QByteArray> range = fields.at(0).split('-');
            const qulonglong start = range.value(0).toULongLong(nullptr, 16);
            const qulonglong end = range.value(1).toULongLong(nullptr, 16);
            // Skip the sanitizers' shadow memory; it holds no bytes of ours.
            if (end - start > (qulonglong(1) << 32))
                continue;
            if (!memory.seek(static_cast<qint64>(start)))
                continue;
            const QByteArray bytes = memory.read(static_cast<qint64>(end - start));
            scanned += bytes.size();
            QVERIFY2(!bytes.contains(password),
                     qPrintable(QStringLiteral("password found in ") + QString::fromUtf8(line)));
        }
        QVERIFY(scanned > 0);

        process.write(frame(QByteArray(1, char(99))));
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(20000));
        const QByteArray output = answers + process.readAllStandardOutput();
        const QByteArray errors = process.readAllStandardError();
        QVERIFY(!errors.isEmpty());
        QVERIFY(!output.contains(password));
        QVERIFY(!errors.contains(password));
    }
};

QTEST_GUILESS_MAIN(TestBridgeProtocol)
#include "TestBridgeProtocol.moc"
