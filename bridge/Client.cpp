#include "bridge/Client.h"

#include <algorithm>
#include <cstring>

namespace bridge {

namespace {

constexpr std::size_t kFlushAt = std::size_t{64} * 1024;

Writer request(Call call, bool noAnswer = false)
{
    Writer writer;
    writer.u8(static_cast<uint8_t>(static_cast<uint8_t>(call) | (noAnswer ? kNoAnswer : 0)));
    return writer;
}

} // namespace

Client::Client(std::string bridgePath, std::vector<std::string> arguments)
    : m_bridgePath(std::move(bridgePath))
    , m_arguments(std::move(arguments))
{}

Client::~Client()
{
    // What was sent without waiting still has to reach the library.
    if (m_process.running())
        flush();
}

void Client::ended()
{
    // The pipe broke: find out how the bridge ended.
    std::optional<std::string> exit = m_process.wait(2000);
    if (!exit) {
        m_process.kill();
        m_process.wait(-1);
        stop("gm7bridge stopped answering and was ended.");
    } else {
        stop("gm7bridge " + *exit + ".");
    }
}

void Client::stop(const std::string &why)
{
    if (m_stoppedReason.empty())
        m_stoppedReason = "The GoldMine API stopped: " + why;
    m_pending.clear();
    if (m_process.running()) {
        m_process.closeInput();
        if (!m_process.wait(2000)) {
            m_process.kill();
            m_process.wait(-1);
        }
    }
}

bool Client::ensureStarted()
{
    if (m_startTried)
        return m_stoppedReason.empty();
    m_startTried = true;
    ignoreBrokenPipes();
    const std::string why = m_process.start(m_bridgePath, m_arguments);
    if (!why.empty()) {
        stop("gm7bridge could not be started (" + why + ").");
        return false;
    }
    Writer hello = request(Call::Hello);
    hello.u32(kMagic).u32(kVersion);
    const std::string &frame = hello.finish();
    if (!m_process.input().writeAll(frame.data(), frame.size())) {
        ended();
        return false;
    }
    Status status = Status::Malformed;
    std::optional<std::string> body = readAnswer(&status);
    if (!body)
        return false;
    Reader reader(*body);
    if (status == Status::Malformed) {
        stop("gm7bridge refused the greeting (" + std::string(reader.text()) + ").");
        return false;
    }
    const uint32_t version = reader.u32();
    m_bridgeBits = reader.u32();
    if (status != Status::Ok || !reader.complete() || version != kVersion) {
        stop("gm7bridge answered the greeting with something else.");
        return false;
    }
    return true;
}

std::optional<std::string> Client::readAnswer(Status *status)
{
    char header[kHeaderSize];
    const auto died = [this]() -> std::optional<std::string> {
        ended();
        return std::nullopt;
    };
    if (!m_process.output().readExactly(header, kHeaderSize))
        return died();
    const std::optional<uint32_t> length = frameLength(header);
    if (!length || *length == 0) {
        m_process.kill();
        stop("gm7bridge's answer could not be read.");
        return std::nullopt;
    }
    m_answer.resize(*length);
    if (!m_process.output().readExactly(m_answer.data(), m_answer.size()))
        return died();
    const auto code = static_cast<uint8_t>(m_answer[0]);
    if (code > static_cast<uint8_t>(Status::Malformed)) {
        m_process.kill();
        stop("gm7bridge's answer could not be read.");
        return std::nullopt;
    }
    *status = static_cast<Status>(code);
    return m_answer.substr(1);
}

bool Client::flush()
{
    if (!ensureStarted())
        return false;
    if (m_pending.empty())
        return true;
    const bool written = m_process.input().writeAll(m_pending.data(), m_pending.size());
    m_pending.clear();
    if (!written) {
        ended();
        return false;
    }
    return true;
}

void Client::queue(Writer &unanswered)
{
    if (!ensureStarted())
        return;
    m_pending += unanswered.finish();
    if (m_pending.size() >= kFlushAt)
        flush();
}

std::optional<std::string> Client::roundTrip(Writer &question, Status *status)
{
    if (!ensureStarted())
        return std::nullopt;
    m_pending += question.finish();
    const bool written = m_process.input().writeAll(m_pending.data(), m_pending.size());
    wipeBytes(m_pending.data(), m_pending.size());
    m_pending.clear();
    if (!written) {
        ended();
        return std::nullopt;
    }
    std::optional<std::string> body = readAnswer(status);
    if (body && *status == Status::Malformed) {
        Reader reader(*body);
        stop("gm7bridge refused a request (" + std::string(reader.text()) + ").");
        return std::nullopt;
    }
    return body;
}

int32_t Client::unreadable()
{
    m_process.kill();
    stop("gm7bridge's answer could not be read.");
    return kStopped;
}

int32_t Client::notOk(Status status, const std::string &body)
{
    Reader reader(body);
    if (status == Status::Unbound) {
        const int32_t result = reader.i32();
        m_bindError = std::string(reader.text());
        if (reader.complete())
            return result;
    } else if (status == Status::EarlierFailed) {
        const uint8_t call = reader.u8();
        const int32_t result = reader.i32();
        if (reader.complete() && isCall(call)) {
            m_earlierFailure = EarlierFailure{static_cast<Call>(call), result};
            return result;
        }
    }
    return unreadable();
}

int32_t Client::resultOf(Writer &question)
{
    Status status = Status::Ok;
    const std::optional<std::string> body = roundTrip(question, &status);
    if (!body)
        return kStopped;
    if (status != Status::Ok)
        return notOk(status, *body);
    Reader reader(*body);
    const int32_t result = reader.i32();
    return reader.complete() ? result : unreadable();
}

int32_t Client::loadBDE(std::string_view sysDir, std::string_view goldDir,
                        std::string_view commonDir, std::string_view userName,
                        std::string_view password)
{
    Writer question = request(Call::LoadBDE);
    question.text(sysDir).text(goldDir).text(commonDir).text(userName).text(password);
    const int32_t result = resultOf(question);
    question.wipe();
    return result;
}

int32_t Client::dsQuery(std::string_view sql)
{
    Writer question = request(Call::DS_Query);
    question.text(sql);
    return resultOf(question);
}

int32_t Client::dsFetch(int32_t handle, char *buffer, int32_t size, int32_t count)
{
    // The reading call that follows a sizing call was made already.
    if (m_readAhead && buffer && count == 0 && m_readAhead->handle == handle &&
        m_readAhead->size == size) {
        std::copy(m_readAhead->buffer.begin(), m_readAhead->buffer.end(), buffer);
        const int32_t result = m_readAhead->result;
        m_readAhead.reset();
        return result;
    }
    if (m_readAhead && m_readAhead->handle == handle)
        m_readAhead.reset();
    const bool sizing = buffer && size == 0 && count > 0;
    Writer question = request(Call::DS_Fetch);
    question.i32(handle).i32(size).i32(count).u8(sizing ? 2 : buffer ? 1 : 0);
    Status status = Status::Ok;
    const std::optional<std::string> body = roundTrip(question, &status);
    if (!body)
        return kStopped;
    if (status != Status::Ok)
        return notOk(status, *body);
    Reader reader(*body);
    const int32_t result = reader.i32();
    const std::string_view bytes = reader.text();
    std::optional<ReadAhead> ahead;
    if (sizing && !bytes.empty() && reader.u8() == 1) {
        ahead = ReadAhead{handle, result, reader.i32(), std::string(reader.text())};
        if (result < 0 || ahead->buffer.size() != static_cast<std::size_t>(result) + 1)
            return unreadable();
    }
    const bool fits = bytes.empty() ||
                      (buffer && size >= 0 && bytes.size() == static_cast<std::size_t>(size) + 1);
    if (!reader.complete() || !fits)
        return unreadable();
    if (!bytes.empty())
        std::memcpy(buffer, bytes.data(), bytes.size());
    m_readAhead = std::move(ahead);
    return result;
}

int32_t Client::dsClose(int32_t handle)
{
    // Releasing a query the library gave cannot fail unless the library has
    // lost track of it; that rare failure is reported by the next answered
    // call. Any other handle is the program's own mistake: answered at once.
    if (m_readAhead && m_readAhead->handle == handle)
        m_readAhead.reset();
    const bool unanswered = handle > 0;
    Writer question = request(Call::DS_Close, unanswered);
    question.i32(handle);
    if (!unanswered)
        return resultOf(question);
    queue(question);
    return m_stoppedReason.empty() ? 0 : kStopped;
}

int32_t Client::nvCreate()
{
    Writer question = request(Call::NV_Create);
    return resultOf(question);
}

int32_t Client::nvSetValue(int32_t container, std::string_view name, std::string_view value)
{
    Writer question = request(Call::NV_SetValue, true);
    question.i32(container).text(name).text(value);
    queue(question);
    return m_stoppedReason.empty() ? 0 : kStopped;
}

int32_t Client::nvAppendNvValue(int32_t container, std::string_view name, int32_t nested)
{
    Writer question = request(Call::NV_AppendNvValue, true);
    question.i32(container).text(name).i32(nested);
    queue(question);
    return m_stoppedReason.empty() ? 0 : kStopped;
}

int32_t Client::nvEraseAll(int32_t container)
{
    Writer question = request(Call::NV_EraseAll, true);
    question.i32(container);
    queue(question);
    return m_stoppedReason.empty() ? 0 : kStopped;
}

std::optional<std::string> Client::nvGetValue(int32_t container, std::string_view name,
                                              std::string_view defaultValue)
{
    Writer question = request(Call::NV_GetValue);
    question.i32(container).text(name).text(defaultValue);
    Status status = Status::Ok;
    const std::optional<std::string> body = roundTrip(question, &status);
    if (!body)
        return std::string(defaultValue);
    if (status == Status::Unbound) {
        notOk(status, *body);
        return std::nullopt;
    }
    if (status != Status::Ok) {
        notOk(status, *body);
        return std::string(defaultValue);
    }
    Reader reader(*body);
    const uint8_t isNull = reader.u8();
    const std::string_view value = reader.text();
    if (!reader.complete() || isNull > 1) {
        unreadable();
        return std::string(defaultValue);
    }
    if (isNull)
        return std::nullopt;
    return std::string(value);
}

std::optional<std::string> Client::loadFailureReason()
{
    Writer question = request(Call::LoadFailureReason);
    Status status = Status::Ok;
    const std::optional<std::string> body = roundTrip(question, &status);
    if (!body)
        return std::nullopt;
    if (status != Status::Ok) {
        notOk(status, *body);
        return std::nullopt;
    }
    Reader reader(*body);
    const uint8_t isNull = reader.u8();
    const std::string_view reason = reader.text();
    if (!reader.complete() || isNull > 1) {
        unreadable();
        return std::nullopt;
    }
    if (isNull)
        return std::nullopt;
    return std::string(reason);
}

int32_t Client::nvDelete(int32_t container)
{
    // As dsClose: unanswered for a container the library gave.
    const bool unanswered = container > 0;
    Writer question = request(Call::NV_Delete, unanswered);
    question.i32(container);
    if (!unanswered)
        return resultOf(question);
    queue(question);
    return m_stoppedReason.empty() ? 0 : kStopped;
}

int32_t Client::execute(std::string_view callName, int32_t container)
{
    Writer question = request(Call::Execute);
    question.text(callName).i32(container);
    return resultOf(question);
}

} // namespace bridge
