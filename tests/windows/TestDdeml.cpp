// The DDEML client against the DDEML server stand-in, two Windows programs in
// a DDE conversation: the four items, item names in any case, values exactly
// as served through the ANSI code page, an unknown item, no server, and a
// server too slow to answer in time. Runs under Wine.
#include "Checks.h"
#include "bridge/ChildProcess.h"
#include "goldmine/DdemlClient.h"

#include <windows.h>

#include <chrono>

using goldmine::dde::DdemlClient;
using Status = DdemlClient::Status;

namespace {

std::string besideUs(const char *name)
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of("\\/") + 1) + name;
}

// Starts the server stand-in and waits until it says it serves.
bool startServer(bridge::ChildProcess &server, const std::vector<std::string> &arguments)
{
    if (!server.start(besideUs("gmclient-dde.exe"), arguments).empty())
        return false;
    std::string line;
    char c = 0;
    while (server.output().readExactly(&c, 1) && c != '\n')
        line += c;
    return line.find("serving GoldMine|Data") != std::string::npos;
}

void stopServer(bridge::ChildProcess &server)
{
    server.closeInput();
    if (!server.wait(10000))
        server.kill();
}

} // namespace

int main()
{
    Checks checks;

    {
        DdemlClient client(L"GoldMine", L"Data", 2000);
        const auto probe = client.probe();
        CHECK(checks, probe.status == Status::NotRunning);
        CHECK_EQ(checks, probe.error, std::string("no DDE server answers"));
        CHECK(checks, client.request(L"&sysdir").status == Status::NotRunning);
    }

    {
        bridge::ChildProcess server;
        CHECK(checks, startServer(server, {"serve", "C:\\Gold Mine\\sys", "--username",
                                           "Zo\xc3\xab", "--golddir", "  GoldMine: ", "--commondir",
                                           "\xc5\x81\xc3\xb3"
                                           "d\xc5\xba:"}));
        DdemlClient client(L"GoldMine", L"Data");
        CHECK(checks, client.probe().status == Status::Ok);
        // Twice over, in one client: each answer must be the item's own.
        for (int round = 0; round < 2; ++round) {
            const auto sysDir = client.request(L"&sysdir");
            CHECK(checks, sysDir.status == Status::Ok);
            CHECK_EQ(checks, sysDir.value, std::wstring(L"C:\\Gold Mine\\sys"));
            const auto goldDir = client.request(L"&golddir");
            CHECK(checks, goldDir.status == Status::Ok);
            CHECK_EQ(checks, goldDir.value, std::wstring(L"  GoldMine: "));
            const auto commonDir = client.request(L"&commondir");
            CHECK(checks, commonDir.status == Status::Ok);
            // The served value went through the ANSI code page, which holds
            // "ó" but not "Ł" or "ź".
            if (GetACP() == 1252)
                CHECK_EQ(checks, commonDir.value, std::wstring(L"?\u00f3d?:"));
            const auto user = client.request(L"&username");
            CHECK(checks, user.status == Status::Ok);
            CHECK_EQ(checks, user.value, std::wstring(L"Zo\u00eb"));
        }
        CHECK_EQ(checks, client.request(L"&SysDir").value, std::wstring(L"C:\\Gold Mine\\sys"));
        const auto unknown = client.request(L"&nothing");
        CHECK(checks, unknown.status == Status::Failed);
        CHECK_EQ(checks, unknown.error, std::string("the DDE server does not supply this item"));
        CHECK(checks, DdemlClient(L"GoldMine", L"System").probe().status == Status::NotRunning);
        CHECK(checks, DdemlClient(L"Other", L"Data").probe().status == Status::NotRunning);
        stopServer(server);
    }

    {
        bridge::ChildProcess slow;
        CHECK(checks,
              startServer(slow, {"serve", "C:\\GM", "--username", "SLOW", "--delay-ms", "2500"}));
        DdemlClient client(L"GoldMine", L"Data", 500);
        const auto started = std::chrono::steady_clock::now();
        const auto answer = client.request(L"&sysdir");
        const auto waited = std::chrono::steady_clock::now() - started;
        CHECK(checks, answer.status == Status::Failed);
        CHECK_EQ(checks, answer.error, std::string("the DDE server did not answer within 500 ms"));
        CHECK(checks, waited < std::chrono::seconds(20));
        stopServer(slow);
    }

    {
        // Once the server has gone, nothing answers any more.
        DdemlClient client(L"GoldMine", L"Data", 1000);
        CHECK(checks, client.request(L"&sysdir").status == Status::NotRunning);
    }
    return checks.finish();
}
