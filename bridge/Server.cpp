#include "bridge/Server.h"

#include "bridge/Library.h"
#include "goldmine/gm7s32.h"

#include <cstring>

namespace bridge {

struct Server::Functions
{
    GMW_LoadBDE_Fn loadBde = nullptr;
    GMW_DS_Query_Fn dsQuery = nullptr;
    GMW_DS_Fetch_Fn dsFetch = nullptr;
    GMW_DS_Close_Fn dsClose = nullptr;
    GMW_NV_Create_Fn nvCreate = nullptr;
    GMW_NV_SetValue_Fn nvSetValue = nullptr;
    GMW_NV_AppendNvValue_Fn nvAppendNvValue = nullptr;
    GMW_NV_GetValue_Fn nvGetValue = nullptr;
    GMW_NV_EraseAll_Fn nvEraseAll = nullptr;
    GMW_NV_Delete_Fn nvDelete = nullptr;
    GMW_Execute_Fn execute = nullptr;
    GM7S32_LoadFailureReason_Fn loadFailureReason = nullptr;
};

namespace {

// A zero-terminated copy of request text, wiped when it goes.
class CText
{
public:
    explicit CText(std::string_view bytes)
        : m_text(bytes)
    {}
    ~CText() { wipeBytes(m_text.data(), m_text.size()); }
    CText(const CText &) = delete;
    CText &operator=(const CText &) = delete;
    const char *c_str() const { return m_text.c_str(); }

private:
    std::string m_text;
};

} // namespace

Server::Server(Library &library, InputStream &input, OutputStream &output)
    : m_library(library)
    , m_input(input)
    , m_output(output)
    , m_functions(std::make_unique<Functions>())
{}

Server::~Server() = default;

int Server::run()
{
    std::string body;
    for (;;) {
        char header[kHeaderSize];
        bool atEnd = false;
        if (!m_input.readExactly(header, kHeaderSize, &atEnd)) {
            if (atEnd)
                return 0;
            malformed("the request stream ended inside a frame header");
            return 2;
        }
        const std::optional<uint32_t> length = frameLength(header);
        if (!length) {
            malformed("a request announced more than " + std::to_string(kMaxFrame) + " bytes");
            return 2;
        }
        body.resize(*length);
        if (!m_input.readExactly(body.data(), body.size())) {
            malformed("the request stream ended inside a request");
            return 2;
        }
        switch (serve(body)) {
        case Outcome::Continue:
            break;
        case Outcome::Malformed:
            return 2;
        case Outcome::Broken:
            return 3;
        }
    }
}

Server::Outcome Server::malformed(const std::string &reason)
{
    m_failure = reason;
    Writer writer;
    writer.u8(static_cast<uint8_t>(Status::Malformed)).text(reason);
    const std::string &frame = writer.finish();
    m_output.writeAll(frame.data(), frame.size());
    return Outcome::Malformed;
}

Server::Outcome Server::answer(Writer &writer)
{
    const std::string &frame = writer.finish();
    if (!m_output.writeAll(frame.data(), frame.size())) {
        m_failure = "the program stopped reading the answers";
        return Outcome::Broken;
    }
    return Outcome::Continue;
}

void Server::callFailed(Call call, int32_t result)
{
    if (m_earlierFailed)
        return;
    m_earlierFailed = true;
    m_earlierCall = call;
    m_earlierResult = result;
}

Server::Outcome Server::serve(std::string &body)
{
    Reader reader(body);
    const uint8_t first = reader.u8();
    const bool noAnswer = (first & kNoAnswer) != 0;
    const auto code = static_cast<uint8_t>(first & ~kNoAnswer);
    if (!isCall(code))
        return malformed("unknown call " + std::to_string(code));
    const auto call = static_cast<Call>(code);
    if (noAnswer && !mayGoUnanswered(call))
        return malformed(std::string(callName(call)) + " needs an answer");
    if (!m_greeted && call != Call::Hello)
        return malformed("a request came before the greeting");

    // Every field is read before anything runs: a request cut short or
    // carrying extra bytes means the stream is out of step.
    const auto checkComplete = [&]() {
        return reader.complete() ? Outcome::Continue
                                 : malformed(std::string("the request for ") + callName(call) +
                                             " does not have the expected fields");
    };
    // The answer to a request that follows a failed unanswered call.
    const auto earlierFailure = [&]() {
        Writer writer;
        writer.u8(static_cast<uint8_t>(Status::EarlierFailed))
            .u8(static_cast<uint8_t>(m_earlierCall))
            .i32(m_earlierResult);
        m_earlierFailed = false;
        return answer(writer);
    };
    const auto unbound = [&](int32_t result) {
        if (noAnswer) {
            callFailed(call, result);
            return Outcome::Continue;
        }
        Writer writer;
        writer.u8(static_cast<uint8_t>(Status::Unbound)).i32(result).text(m_library.reason());
        return answer(writer);
    };
    const auto result = [&](int32_t value) {
        if (noAnswer) {
            if (value < 0)
                callFailed(call, value);
            return Outcome::Continue;
        }
        Writer writer;
        writer.u8(static_cast<uint8_t>(Status::Ok)).i32(value);
        return answer(writer);
    };

    Functions &bound = *m_functions;
    switch (call) {
    case Call::Hello: {
        const uint32_t magic = reader.u32();
        const uint32_t version = reader.u32();
        if (checkComplete() != Outcome::Continue)
            return Outcome::Malformed;
        if (magic != kMagic)
            return malformed("the greeting is not gm7bridge's");
        if (version != kVersion)
            return malformed("the program speaks version " + std::to_string(version) +
                             ", this bridge version " + std::to_string(kVersion));
        m_greeted = true;
        Writer writer;
        writer.u8(static_cast<uint8_t>(Status::Ok))
            .u32(kVersion)
            .u32(static_cast<uint32_t>(sizeof(void *) * 8));
        return answer(writer);
    }
    case Call::LoadBDE: {
        const std::string_view sysDir = reader.text();
        const std::string_view goldDir = reader.text();
        const std::string_view commonDir = reader.text();
        const std::string_view userName = reader.text();
        const std::string_view password = reader.text();
        if (checkComplete() != Outcome::Continue) {
            wipeBytes(body.data(), body.size());
            m_input.wipeBuffer();
            return Outcome::Malformed;
        }
        if (m_earlierFailed)
            return earlierFailure();
        Outcome outcome = Outcome::Continue;
        {
            const CText texts[] = {CText(sysDir), CText(goldDir), CText(commonDir), CText(userName),
                                   CText(password)};
            // The frame's copy of the password is no longer needed once the
            // texts hold it; theirs goes when they do.
            wipeBytes(body.data(), body.size());
            m_input.wipeBuffer();
            const auto function = m_library.bind(bound.loadBde, "GMW_LoadBDE");
            if (!function) {
                outcome = unbound(kUnboundLibrary);
            } else {
                const int32_t loaded =
                    function(texts[0].c_str(), texts[1].c_str(), texts[2].c_str(), texts[3].c_str(),
                             texts[4].c_str());
                outcome = result(loaded);
            }
        }
        return outcome;
    }
    case Call::DS_Query: {
        const CText sql(reader.text());
        if (checkComplete() != Outcome::Continue)
            return Outcome::Malformed;
        if (m_earlierFailed)
            return earlierFailure();
        const auto function = m_library.bind(bound.dsQuery, "GMW_DS_Query");
        if (!function)
            return unbound(kUnboundFunction);
        return result(function(sql.c_str(), nullptr, nullptr, nullptr));
    }
    case Call::DS_Fetch: {
        const int32_t handle = reader.i32();
        const int32_t size = reader.i32();
        const int32_t count = reader.i32();
        const uint8_t given = reader.u8();
        if (checkComplete() != Outcome::Continue)
            return Outcome::Malformed;
        if (given > 2)
            return malformed("GMW_DS_Fetch's buffer flag is not 0, 1 or 2");
        if (given == 2 && (size != 0 || count <= 0))
            return malformed("GMW_DS_Fetch reads ahead only after a sizing call");
        if (m_earlierFailed)
            return earlierFailure();
        const auto function = m_library.bind(bound.dsFetch, "GMW_DS_Fetch");
        if (!function)
            return unbound(kUnboundFunction);
        Writer writer;
        writer.u8(static_cast<uint8_t>(Status::Ok));
        if (!given) {
            writer.i32(function(handle, nullptr, size, count)).text({});
        } else if (size < 0) {
            char scratch[1] = {'\0'};
            writer.i32(function(handle, scratch, size, count)).text({});
        } else if (static_cast<uint64_t>(size) + 64 > kMaxFrame) {
            writer.i32(kFetchTooLarge).text({});
        } else {
            std::string buffer(static_cast<std::size_t>(size) + 1, '\0');
            const int32_t fetched = function(handle, buffer.data(), size, count);
            writer.i32(fetched).text(buffer);
            if (given == 2) {
                const bool readAhead =
                    fetched >= 0 && static_cast<uint64_t>(fetched) + 64 <= kMaxFrame / 2;
                writer.u8(readAhead ? 1 : 0);
                if (readAhead) {
                    std::string text(static_cast<std::size_t>(fetched) + 1, '\0');
                    const int32_t read = function(handle, text.data(), fetched, 0);
                    writer.i32(read).text(text);
                }
            }
        }
        return answer(writer);
    }
    case Call::DS_Close: {
        const int32_t handle = reader.i32();
        if (checkComplete() != Outcome::Continue)
            return Outcome::Malformed;
        if (!noAnswer && m_earlierFailed)
            return earlierFailure();
        const auto function = m_library.bind(bound.dsClose, "GMW_DS_Close");
        if (!function)
            return unbound(kUnboundFunction);
        return result(function(handle));
    }
    case Call::NV_Create: {
        if (checkComplete() != Outcome::Continue)
            return Outcome::Malformed;
        if (m_earlierFailed)
            return earlierFailure();
        const auto function = m_library.bind(bound.nvCreate, "GMW_NV_Create");
        if (!function)
            return unbound(kUnboundFunction);
        return result(function());
    }
    case Call::NV_SetValue: {
        const int32_t container = reader.i32();
        const CText name(reader.text());
        const CText value(reader.text());
        if (checkComplete() != Outcome::Continue)
            return Outcome::Malformed;
        if (!noAnswer && m_earlierFailed)
            return earlierFailure();
        const auto function = m_library.bind(bound.nvSetValue, "GMW_NV_SetValue");
        if (!function)
            return unbound(kUnboundFunction);
        return result(function(container, name.c_str(), value.c_str()));
    }
    case Call::NV_AppendNvValue: {
        const int32_t container = reader.i32();
        const CText name(reader.text());
        const int32_t nested = reader.i32();
        if (checkComplete() != Outcome::Continue)
            return Outcome::Malformed;
        if (!noAnswer && m_earlierFailed)
            return earlierFailure();
        const auto function = m_library.bind(bound.nvAppendNvValue, "GMW_NV_AppendNvValue");
        if (!function)
            return unbound(kUnboundFunction);
        return result(function(container, name.c_str(), nested));
    }
    case Call::NV_GetValue: {
        const int32_t container = reader.i32();
        const CText name(reader.text());
        const CText defaultValue(reader.text());
        if (checkComplete() != Outcome::Continue)
            return Outcome::Malformed;
        if (m_earlierFailed)
            return earlierFailure();
        const auto function = m_library.bind(bound.nvGetValue, "GMW_NV_GetValue");
        if (!function)
            return unbound(kUnboundFunction);
        // The text is read here, while the library still vouches for it.
        const char *value = function(container, name.c_str(), defaultValue.c_str());
        Writer writer;
        writer.u8(static_cast<uint8_t>(Status::Ok))
            .u8(value ? 0 : 1)
            .text(value ? std::string_view(value, std::strlen(value)) : std::string_view());
        return answer(writer);
    }
    case Call::NV_EraseAll:
    case Call::NV_Delete: {
        const int32_t container = reader.i32();
        if (checkComplete() != Outcome::Continue)
            return Outcome::Malformed;
        if (!noAnswer && m_earlierFailed)
            return earlierFailure();
        if (call == Call::NV_EraseAll) {
            const auto function = m_library.bind(bound.nvEraseAll, "GMW_NV_EraseAll");
            return function ? result(function(container)) : unbound(kUnboundFunction);
        }
        const auto function = m_library.bind(bound.nvDelete, "GMW_NV_Delete");
        return function ? result(function(container)) : unbound(kUnboundFunction);
    }
    case Call::Execute: {
        const CText name(reader.text());
        const int32_t container = reader.i32();
        if (checkComplete() != Outcome::Continue)
            return Outcome::Malformed;
        if (m_earlierFailed)
            return earlierFailure();
        const auto function = m_library.bind(bound.execute, "GMW_Execute");
        if (!function)
            return unbound(kUnboundFunction);
        return result(function(name.c_str(), container));
    }
    case Call::LoadFailureReason: {
        if (checkComplete() != Outcome::Continue)
            return Outcome::Malformed;
        if (m_earlierFailed)
            return earlierFailure();
        // Only the stand-in has it: its absence is a null reason, not a failure.
        const auto function = m_library.bind(bound.loadFailureReason, "GM7S32_LoadFailureReason");
        const char *reason = function ? function() : nullptr;
        Writer writer;
        writer.u8(static_cast<uint8_t>(Status::Ok))
            .u8(reason ? 0 : 1)
            .text(reason ? std::string_view(reason, std::strlen(reason)) : std::string_view());
        return answer(writer);
    }
    }
    return malformed("unknown call");
}

} // namespace bridge
