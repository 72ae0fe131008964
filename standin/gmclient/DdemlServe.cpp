// gmclient-dde: the Windows side of "gmclient serve". Answers the GoldMine
// client's four DDE items over DDEML until its standard input ends.
//
//   gmclient-dde serve DIR --username NAME [--golddir TEXT] [--commondir TEXT]
//                [--delay-ms N]
#include "DdemlServer.h"
#include "goldmine/AnsiText.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

DWORD g_mainThread = 0;

// Ends the message loop once the parent closes our input.
DWORD WINAPI watchInput(void *)
{
    char buffer[256];
    DWORD got = 0;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    }
    PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
    return 0;
}

std::string ansi(const std::wstring &text)
{
    return goldmine::ansi::fromUtf16(
               std::u16string_view(reinterpret_cast<const char16_t *>(text.data()), text.size()))
        .bytes;
}

int usage()
{
    std::fputs("usage: gmclient-dde serve DIR --username NAME [--golddir TEXT] "
               "[--commondir TEXT] [--delay-ms N]\n",
               stderr);
    return 2;
}

} // namespace

int main()
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 3 || std::wstring(arguments[1]) != L"serve")
        return usage();
    std::map<std::wstring, std::wstring> values{
        {L"&sysdir", arguments[2]}, {L"&golddir", L"GoldMine:"}, {L"&commondir", L"Common:"}};
    unsigned delayMs = 0;
    for (int index = 3; index < count; ++index) {
        const std::wstring option = arguments[index];
        if (index + 1 >= count)
            return usage();
        const std::wstring value = arguments[++index];
        if (option == L"--username")
            values[L"&username"] = value;
        else if (option == L"--golddir")
            values[L"&golddir"] = value;
        else if (option == L"--commondir")
            values[L"&commondir"] = value;
        else if (option == L"--delay-ms")
            delayMs = static_cast<unsigned>(std::wcstoul(value.c_str(), nullptr, 10));
        else
            return usage();
    }
    LocalFree(arguments);
    if (!values.count(L"&username"))
        return usage();

    std::map<std::wstring, std::string> items;
    for (const auto &[name, value] : values)
        items.emplace(name, ansi(value));
    gmclient::DdemlServer server(L"GoldMine", L"Data", items, delayMs);
    const std::string error = server.start();
    if (!error.empty()) {
        std::fprintf(stderr, "gmclient-dde: %s\n", error.c_str());
        return 1;
    }
    g_mainThread = GetCurrentThreadId();
    // The thread's message queue exists before the watcher can post to it.
    MSG none;
    PeekMessageW(&none, nullptr, 0, 0, PM_NOREMOVE);
    const HANDLE watcher = CreateThread(nullptr, 0, watchInput, nullptr, 0, nullptr);
    std::printf("gmclient-dde: serving GoldMine|Data\n");
    std::fflush(stdout);
    server.run();
    if (watcher)
        CloseHandle(watcher);
    return 0;
}
