// The 64-bit program's bridge client against the 32-bit gm7bridge.exe and the
// stand-in gm7s32.dll it loads by name: the deployment on Windows, run under
// Wine. Every API call, the fetch text, bad handles, an unanswered call that
// fails, text bytes of the ANSI code page, a library that does not load, and
// a bridge that crashes.
//
//   test_bridge_windows DIR     (DIR holds gm7bridge.exe, gm7s32.dll, gm7store.exe)
#include "Checks.h"
#include "bridge/Client.h"

#include <windows.h>

#include <filesystem>
#include <string>

using bridge::Call;
using bridge::Client;

namespace {

const char *const kPassword = "Bridge-Wine-Pw 7";

std::string g_apiDir;

std::string temporaryDirectory()
{
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    // Process ids come round again; the clock makes the name this run's own.
    for (unsigned attempt = 0;; ++attempt) {
        const std::string path = std::string(base) + "ruvelo-bridge-" +
                                 std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(GetTickCount64()) + "-" + std::to_string(attempt);
        if (CreateDirectoryA(path.c_str(), nullptr))
            return path;
    }
}

bool makeStore(const std::string &directory)
{
    bridge::ChildProcess tool;
    if (!tool.start(g_apiDir + "\\gm7store.exe", {"init", directory, "MASTER"}).empty())
        return false;
    const std::string line = std::string(kPassword) + "\n";
    tool.input().writeAll(line.data(), line.size());
    tool.closeInput();
    const std::optional<std::string> exit = tool.wait(60000);
    return exit && *exit == "exited with status 0";
}

int32_t load(Client &client, const std::string &store, const char *password = kPassword)
{
    return client.loadBDE(store, "GoldMine:", "Common:", "MASTER", password);
}

// The fetch text of a query: sizing call, then reading call.
std::string fetchAll(Client &client, int32_t handle, int32_t *length)
{
    char sizing[1] = {'\0'};
    const int32_t size = client.dsFetch(handle, sizing, 0, 100);
    if (size < 0) {
        *length = size;
        return {};
    }
    std::string buffer(static_cast<size_t>(size) + 1, '\x7f');
    *length = client.dsFetch(handle, buffer.data(), size, 0);
    return buffer;
}

} // namespace

int main(int argc, char *argv[])
{
    Checks checks;
    if (argc != 2) {
        std::printf("usage: test_bridge_windows DIR\n");
        return 2;
    }
    g_apiDir = argv[1];
    const std::string bridgePath = g_apiDir + "\\gm7bridge.exe";
    const std::string directory = temporaryDirectory();
    const std::string store = directory + "\\store";
    if (!CHECK(checks, makeStore(store)))
        return checks.finish();

    {
        Client client(bridgePath);
        CHECK_EQ(checks, client.dsQuery("select 1"), -1); // not loaded yet
        CHECK_EQ(checks, client.bridgeBits(), uint32_t(32));
        CHECK_EQ(checks, load(client, store, "wrong"), -4);
        CHECK_EQ(checks, load(client, store), 0);

        const int32_t contact = client.nvCreate();
        CHECK(checks, contact > 0);
        CHECK_EQ(checks, client.nvSetValue(contact, "Email", "wine@bridge.example"), 0);
        // Bytes of the ANSI code page (1252: "Zoë Ørsted") pass as they are.
        CHECK_EQ(checks, client.nvSetValue(contact, "Company", "Zo\xeb \xd8rsted"), 0);
        CHECK_EQ(checks, client.nvGetValue(contact, "Company", "none").value_or("(null)"),
                 std::string("Zo\xeb \xd8rsted"));
        CHECK_EQ(checks, client.nvGetValue(contact, "Absent", "fallback").value_or("(null)"),
                 std::string("fallback"));
        CHECK(checks, client.execute("WriteContact", contact) >= 0);
        const std::string recid = client.nvGetValue(contact, "RECID", "").value_or("");
        CHECK(checks, !recid.empty());

        const int32_t second = client.nvCreate();
        client.nvSetValue(second, "Email", "second@bridge.example");
        client.nvSetValue(second, "Company", "Another Co");
        CHECK(checks, client.execute("WriteContact", second) >= 0);

        const int32_t query = client.dsQuery("select company from contact1 order by company");
        CHECK(checks, query > 0);
        int32_t length = 0;
        const std::string text = fetchAll(client, query, &length);
        CHECK(checks, length > 11);
        CHECK_EQ(checks, std::atoi(text.substr(5, 4).c_str()), 2);
        const size_t first = text.find("Another Co\r", 11);
        const size_t later = text.find("Zo\xeb \xd8rsted\r", 11);
        CHECK(checks, first == 11);
        CHECK(checks, later != std::string::npos && later > first);
        CHECK_EQ(checks, text.size(), size_t(length) + 1);
        CHECK_EQ(checks, client.dsClose(query), 0);

        const int32_t account =
            client.dsQuery("select accountno from contact1 where recid='" + recid + "'");
        const std::string accountText = fetchAll(client, account, &length);
        const std::string accountNo = accountText.substr(11, accountText.find('\r', 11) - 11);
        CHECK(checks, !accountNo.empty());
        client.dsClose(account);

        const int32_t group = client.nvCreate();
        client.nvSetValue(group, "GroupName", "Wine group");
        client.nvSetValue(group, "GroupCode", "WIN");
        CHECK(checks, client.execute("CreateContactGroup", group) >= 0);
        const std::string groupNo = client.nvGetValue(group, "GroupNo", "").value_or("");
        CHECK(checks, !groupNo.empty());
        const int32_t member = client.nvCreate();
        const int32_t request = client.nvCreate();
        CHECK_EQ(checks, client.nvSetValue(member, "Accountno", accountNo), 0);
        CHECK_EQ(checks, client.nvSetValue(request, "GroupNo", groupNo), 0);
        CHECK_EQ(checks, client.nvAppendNvValue(request, "Members", member), 0);
        CHECK(checks, client.execute("AddContactGrpMembers", request) >= 0);
        const int32_t members =
            client.dsQuery("select count(*) from contgrps where accountno='" + accountNo + "'");
        CHECK_EQ(checks, std::atoi(fetchAll(client, members, &length).substr(11).c_str()), 1);
        client.dsClose(members);
        CHECK_EQ(checks, client.nvEraseAll(request), 0);
        CHECK_EQ(checks, client.nvGetValue(request, "GroupNo", "gone").value_or(""),
                 std::string("gone"));

        // Bad handles.
        char buffer[8] = {};
        CHECK_EQ(checks, client.dsFetch(987654, buffer, 0, 10), -1);
        CHECK_EQ(checks, client.dsClose(-5), -1);
        CHECK_EQ(checks, client.nvDelete(0), -1);
        CHECK_EQ(checks, client.execute("WriteContact", 987654), -2);
        CHECK_EQ(checks, client.nvGetValue(987654, "Email", "dflt").value_or(""),
                 std::string("dflt"));
        CHECK(checks, !client.earlierFailure());
        CHECK_EQ(checks, client.dsClose(987654), 0);
        CHECK_EQ(checks, client.nvCreate(), -1);
        CHECK(checks, client.earlierFailure() && client.earlierFailure()->call == Call::DS_Close);

        // An unanswered call that fails stops the next answered one.
        const int32_t half = client.nvCreate();
        client.nvSetValue(half, "Email", "half@bridge.example");
        CHECK_EQ(checks, client.nvSetValue(half, "", "nameless"), 0);
        CHECK_EQ(checks, client.execute("WriteContact", half), -2);
        CHECK(checks,
              client.earlierFailure() && client.earlierFailure()->call == Call::NV_SetValue);
        const int32_t count = client.dsQuery("select count(*) from contact1");
        CHECK_EQ(checks, std::atoi(fetchAll(client, count, &length).substr(11).c_str()), 2);
        client.dsClose(count);

        for (const int32_t handle : {contact, second, group, member, request, half})
            CHECK_EQ(checks, client.nvDelete(handle), 0);
        CHECK(checks, client.stoppedReason().empty());

        // A crash inside the library ends the bridge; every call then fails.
        const HANDLE process =
            OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(client.processId()));
        CHECK(checks, process != nullptr);
        TerminateProcess(process, 0xC0000005);
        CloseHandle(process);
        CHECK_EQ(checks, client.nvCreate(), Client::kStopped);
        CHECK_EQ(checks, client.stoppedReason(),
                 std::string("The GoldMine API stopped: gm7bridge crashed (exception "
                             "0xC0000005)."));
        CHECK_EQ(checks, client.nvSetValue(1, "a", "b"), Client::kStopped);
    }

    {
        Client client(bridgePath, {"--library", g_apiDir + "\\absent\\gm7s32.dll"});
        CHECK_EQ(checks, load(client, store), bridge::kUnboundLibrary);
        CHECK(checks, client.bindError().find("absent") != std::string::npos);
        CHECK_EQ(checks, client.nvCreate(), bridge::kUnboundFunction);
        CHECK(checks, client.stoppedReason().empty());
    }

    {
        Client client(g_apiDir + "\\no-such-bridge.exe");
        CHECK_EQ(checks, load(client, store), Client::kStopped);
        CHECK(checks, client.stoppedReason().rfind("The GoldMine API stopped: gm7bridge could "
                                                   "not be started",
                                                   0) == 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
    return checks.finish();
}
