// The Windows side of "gmclient serve": a DDEML server that answers the
// GoldMine client's DDE items for application "GoldMine", topic "Data".
// Qt-free, built for Windows only, for the DDE client's tests under Wine.
#pragma once

#ifdef _WIN32

#include <map>
#include <string>

namespace gmclient {

class DdemlServer
{
public:
    // items: item name (compared without regard to case, as DDE does) to its
    // value in the ANSI code page. delayMs holds every answer back that long,
    // as a client too busy to answer would.
    DdemlServer(std::wstring service, std::wstring topic, std::map<std::wstring, std::string> items,
                unsigned delayMs = 0);
    ~DdemlServer();
    DdemlServer(const DdemlServer &) = delete;
    DdemlServer &operator=(const DdemlServer &) = delete;

    // Registers the service; "" when it serves, else why not. One server per
    // process: DDEML hands its callback no pointer of ours.
    std::string start();
    // Runs the thread's messages (DDEML's conversations) until WM_QUIT.
    void run();

    // The value for an item, or null when it is not served.
    const std::string *valueOf(const std::wstring &item) const;
    unsigned delayMs() const { return m_delayMs; }
    unsigned long instance() const { return m_instance; }
    bool servesTopic(const std::wstring &topic) const;

private:
    std::wstring m_service;
    std::wstring m_topic;
    std::map<std::wstring, std::string> m_items; // keys lower-cased
    unsigned m_delayMs;
    unsigned long m_instance = 0;
    void *m_serviceHandle = nullptr;
};

} // namespace gmclient

#endif
