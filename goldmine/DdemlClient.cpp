#include "goldmine/DdemlClient.h"

#ifdef _WIN32

#include "goldmine/AnsiText.h"

#include <windows.h>

#include <ddeml.h>

#include <cstdio>

namespace goldmine::dde {

namespace {

// A client-only instance is sent no transactions it has to handle.
HDDEDATA CALLBACK ignoreTransactions(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    return nullptr;
}

std::string errorText(UINT error, unsigned timeoutMs)
{
    switch (error) {
    case DMLERR_NO_CONV_ESTABLISHED:
        return "no DDE server answers";
    case DMLERR_DATAACKTIMEOUT:
    case DMLERR_EXECACKTIMEOUT:
    case DMLERR_POKEACKTIMEOUT:
        return "the DDE server did not answer within " + std::to_string(timeoutMs) + " ms";
    case DMLERR_NOTPROCESSED:
        return "the DDE server does not supply this item";
    case DMLERR_BUSY:
        return "the DDE server is busy";
    case DMLERR_SERVER_DIED:
        return "the DDE server ended the conversation";
    default: {
        char text[48];
        std::snprintf(text, sizeof text, "DDE error 0x%04X", error);
        return text;
    }
    }
}

// A string handle that is freed when it goes out of scope.
class StringHandle
{
public:
    StringHandle(DWORD instance, const std::wstring &text)
        : m_instance(instance)
        , m_handle(DdeCreateStringHandleW(instance, text.c_str(), CP_WINUNICODE))
    {}
    ~StringHandle()
    {
        if (m_handle)
            DdeFreeStringHandle(m_instance, m_handle);
    }
    StringHandle(const StringHandle &) = delete;
    StringHandle &operator=(const StringHandle &) = delete;
    HSZ get() const { return m_handle; }

private:
    DWORD m_instance;
    HSZ m_handle;
};

// A conversation that is closed when it goes out of scope.
class Conversation
{
public:
    Conversation(DWORD instance, HSZ service, HSZ topic)
        : m_conversation(DdeConnect(instance, service, topic, nullptr))
    {}
    ~Conversation()
    {
        if (m_conversation)
            DdeDisconnect(m_conversation);
    }
    Conversation(const Conversation &) = delete;
    Conversation &operator=(const Conversation &) = delete;
    HCONV get() const { return m_conversation; }

private:
    HCONV m_conversation;
};

} // namespace

DdemlClient::DdemlClient(std::wstring service, std::wstring topic, unsigned timeoutMs)
    : m_service(std::move(service))
    , m_topic(std::move(topic))
    , m_timeoutMs(timeoutMs)
{
    DWORD instance = 0;
    const UINT error = DdeInitializeW(&instance, ignoreTransactions,
                                      APPCMD_CLIENTONLY | CBF_SKIP_ALLNOTIFICATIONS, 0);
    if (error == DMLERR_NO_ERROR)
        m_instance = instance;
    else
        m_initError = "DDE could not be started (" + errorText(error, timeoutMs) + ")";
}

DdemlClient::~DdemlClient()
{
    if (m_instance)
        DdeUninitialize(m_instance);
}

DdemlClient::Answer DdemlClient::failure(Status status, const std::string &what)
{
    Answer answer;
    answer.status = status;
    answer.error = what;
    return answer;
}

DdemlClient::Answer DdemlClient::probe()
{
    if (!m_instance)
        return failure(Status::Failed, m_initError);
    const StringHandle service(m_instance, m_service);
    const StringHandle topic(m_instance, m_topic);
    const Conversation conversation(m_instance, service.get(), topic.get());
    if (!conversation.get()) {
        const UINT error = DdeGetLastError(m_instance);
        return failure(error == DMLERR_NO_CONV_ESTABLISHED ? Status::NotRunning : Status::Failed,
                       errorText(error, m_timeoutMs));
    }
    return Answer{Status::Ok, {}, {}};
}

DdemlClient::Answer DdemlClient::request(std::wstring_view item)
{
    if (!m_instance)
        return failure(Status::Failed, m_initError);
    const StringHandle service(m_instance, m_service);
    const StringHandle topic(m_instance, m_topic);
    const StringHandle itemName(m_instance, std::wstring(item));
    const Conversation conversation(m_instance, service.get(), topic.get());
    if (!conversation.get()) {
        const UINT error = DdeGetLastError(m_instance);
        return failure(error == DMLERR_NO_CONV_ESTABLISHED ? Status::NotRunning : Status::Failed,
                       errorText(error, m_timeoutMs));
    }
    DWORD result = 0;
    const HDDEDATA data = DdeClientTransaction(nullptr, 0, conversation.get(), itemName.get(),
                                               CF_TEXT, XTYP_REQUEST, m_timeoutMs, &result);
    if (!data)
        return failure(Status::Failed, errorText(DdeGetLastError(m_instance), m_timeoutMs));
    const DWORD size = DdeGetData(data, nullptr, 0, 0);
    std::string bytes(size, '\0');
    if (size > 0)
        DdeGetData(data, reinterpret_cast<LPBYTE>(bytes.data()), size, 0);
    DdeFreeDataHandle(data);
    const std::u16string text = ansi::toUtf16(bytes);
    return Answer{Status::Ok, std::wstring(text.begin(), text.end()), {}};
}

} // namespace goldmine::dde

#endif
