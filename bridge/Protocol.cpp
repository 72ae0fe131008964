#include "bridge/Protocol.h"

#include <cstring>

namespace bridge {

const char *callName(Call call)
{
    switch (call) {
    case Call::Hello:
        return "";
    case Call::LoadBDE:
        return "GMW_LoadBDE";
    case Call::DS_Query:
        return "GMW_DS_Query";
    case Call::DS_Fetch:
        return "GMW_DS_Fetch";
    case Call::DS_Close:
        return "GMW_DS_Close";
    case Call::NV_Create:
        return "GMW_NV_Create";
    case Call::NV_SetValue:
        return "GMW_NV_SetValue";
    case Call::NV_AppendNvValue:
        return "GMW_NV_AppendNvValue";
    case Call::NV_GetValue:
        return "GMW_NV_GetValue";
    case Call::NV_EraseAll:
        return "GMW_NV_EraseAll";
    case Call::NV_Delete:
        return "GMW_NV_Delete";
    case Call::Execute:
        return "GMW_Execute";
    case Call::LoadFailureReason:
        return "GM7S32_LoadFailureReason";
    }
    return "";
}

bool mayGoUnanswered(Call call)
{
    return call == Call::NV_SetValue || call == Call::NV_AppendNvValue ||
           call == Call::NV_EraseAll || call == Call::NV_Delete || call == Call::DS_Close;
}

bool isCall(uint8_t byte)
{
    return byte >= static_cast<uint8_t>(Call::Hello) &&
           byte <= static_cast<uint8_t>(Call::LoadFailureReason);
}

Writer::Writer()
    : m_frame(kHeaderSize, '\0')
{}

Writer &Writer::u8(uint8_t value)
{
    m_frame.push_back(static_cast<char>(value));
    return *this;
}

Writer &Writer::u32(uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        m_frame.push_back(static_cast<char>((value >> shift) & 0xff));
    return *this;
}

Writer &Writer::i32(int32_t value)
{
    return u32(static_cast<uint32_t>(value));
}

Writer &Writer::text(std::string_view bytes)
{
    u32(static_cast<uint32_t>(bytes.size()));
    m_frame.append(bytes);
    return *this;
}

std::string &Writer::finish()
{
    const auto length = static_cast<uint32_t>(m_frame.size() - kHeaderSize);
    for (std::size_t index = 0; index < kHeaderSize; ++index)
        m_frame[index] = static_cast<char>((length >> (8 * index)) & 0xff);
    return m_frame;
}

void Writer::wipe()
{
    wipeBytes(m_frame.data(), m_frame.size());
    m_frame.assign(kHeaderSize, '\0');
}

bool Reader::take(std::size_t count, const char **start)
{
    if (m_failed || m_body.size() - m_offset < count) {
        m_failed = true;
        return false;
    }
    *start = m_body.data() + m_offset;
    m_offset += count;
    return true;
}

uint8_t Reader::u8()
{
    const char *start = nullptr;
    return take(1, &start) ? static_cast<uint8_t>(*start) : 0;
}

uint32_t Reader::u32()
{
    const char *start = nullptr;
    if (!take(4, &start))
        return 0;
    uint32_t value = 0;
    for (int index = 3; index >= 0; --index)
        value = (value << 8) | static_cast<uint8_t>(start[index]);
    return value;
}

int32_t Reader::i32()
{
    return static_cast<int32_t>(u32());
}

std::string_view Reader::text()
{
    const uint32_t size = u32();
    const char *start = nullptr;
    if (!take(size, &start))
        return {};
    return {start, size};
}

std::optional<uint32_t> frameLength(const char header[kHeaderSize])
{
    uint32_t length = 0;
    for (int index = 3; index >= 0; --index)
        length = (length << 8) | static_cast<uint8_t>(header[index]);
    if (length > kMaxFrame)
        return std::nullopt;
    return length;
}

void wipeBytes(void *bytes, std::size_t count)
{
    volatile auto *target = static_cast<volatile unsigned char *>(bytes);
    for (std::size_t index = 0; index < count; ++index)
        target[index] = 0;
}

} // namespace bridge
