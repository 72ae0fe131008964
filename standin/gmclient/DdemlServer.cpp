#include "DdemlServer.h"

#ifdef _WIN32

#include <windows.h>

#include <ddeml.h>

#include <cwctype>

namespace gmclient {

namespace {

DdemlServer *g_server = nullptr;

std::wstring lowered(std::wstring text)
{
    for (wchar_t &c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring queryString(DWORD instance, HSZ handle)
{
    const DWORD length = DdeQueryStringW(instance, handle, nullptr, 0, CP_WINUNICODE);
    std::wstring text(length + 1, L'\0');
    DdeQueryStringW(instance, handle, text.data(), length + 1, CP_WINUNICODE);
    text.resize(length);
    return text;
}

HDDEDATA CALLBACK serve(UINT type, UINT format, HCONV, HSZ topic, HSZ item, HDDEDATA, ULONG_PTR,
                        ULONG_PTR)
{
    DdemlServer *server = g_server;
    if (!server)
        return nullptr;
    switch (type) {
    case XTYP_CONNECT:
        return reinterpret_cast<HDDEDATA>(
            static_cast<UINT_PTR>(server->servesTopic(queryString(server->instance(), topic))));
    case XTYP_REQUEST: {
        if (format != CF_TEXT)
            return nullptr;
        const std::string *value = server->valueOf(queryString(server->instance(), item));
        if (!value)
            return nullptr;
        if (server->delayMs() > 0)
            Sleep(server->delayMs());
        return DdeCreateDataHandle(server->instance(),
                                   reinterpret_cast<LPBYTE>(const_cast<char *>(value->c_str())),
                                   static_cast<DWORD>(value->size() + 1), 0, item, CF_TEXT, 0);
    }
    default:
        return nullptr;
    }
}

} // namespace

DdemlServer::DdemlServer(std::wstring service, std::wstring topic,
                         std::map<std::wstring, std::string> items, unsigned delayMs)
    : m_service(std::move(service))
    , m_topic(std::move(topic))
    , m_delayMs(delayMs)
{
    for (auto &[name, value] : items)
        m_items.emplace(lowered(name), value);
}

DdemlServer::~DdemlServer()
{
    if (m_instance) {
        DdeNameService(m_instance, static_cast<HSZ>(m_serviceHandle), nullptr, DNS_UNREGISTER);
        DdeFreeStringHandle(m_instance, static_cast<HSZ>(m_serviceHandle));
        DdeUninitialize(m_instance);
    }
    if (g_server == this)
        g_server = nullptr;
}

std::string DdemlServer::start()
{
    if (g_server)
        return "another DDE server runs in this process";
    DWORD instance = 0;
    const UINT error = DdeInitializeW(&instance, serve,
                                      APPCLASS_STANDARD | CBF_FAIL_ADVISES | CBF_FAIL_EXECUTES |
                                          CBF_FAIL_POKES | CBF_SKIP_ALLNOTIFICATIONS,
                                      0);
    if (error != DMLERR_NO_ERROR)
        return "DdeInitialize failed with error " + std::to_string(error);
    m_instance = instance;
    g_server = this;
    HSZ service = DdeCreateStringHandleW(instance, m_service.c_str(), CP_WINUNICODE);
    m_serviceHandle = service;
    if (!DdeNameService(instance, service, nullptr, DNS_REGISTER))
        return "DdeNameService failed with error " + std::to_string(DdeGetLastError(instance));
    return {};
}

void DdemlServer::run()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

const std::string *DdemlServer::valueOf(const std::wstring &item) const
{
    const auto found = m_items.find(lowered(item));
    return found == m_items.end() ? nullptr : &found->second;
}

bool DdemlServer::servesTopic(const std::wstring &topic) const
{
    return lowered(topic) == lowered(m_topic);
}

} // namespace gmclient

#endif
