#include "Ids.h"

#include "Platform.h"
#include "Text.h"

#include <chrono>
#include <ctime>

namespace gm7s32 {

namespace {

constexpr uint64_t kMillisecondsTo2000 = 946684800000ULL;
constexpr uint32_t kSequenceRange = 36U * 36U * 36U * 36U;
constexpr std::size_t kInitials = 4;

std::string formatted(const std::tm &local, const char *format)
{
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, format, &local);
    return std::string(text, length);
}

} // namespace

Stamp Stamp::now()
{
    const std::tm local = localTime(std::time(nullptr));
    return {formatted(local, "%Y-%m-%d"), formatted(local, "%H:%M"), formatted(local, "%H:%M:%S")};
}

IdMaker::IdMaker()
    : m_random(std::random_device{}())
{
    m_sequence = static_cast<uint32_t>(m_random() % kSequenceRange);
}

std::string IdMaker::newRecid()
{
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
    const uint64_t since2000 = static_cast<uint64_t>(milliseconds) > kMillisecondsTo2000
                                   ? static_cast<uint64_t>(milliseconds) - kMillisecondsTo2000
                                   : 0;
    m_sequence = (m_sequence + 1) % kSequenceRange;
    return base36(since2000, 8) + base36(m_sequence, 4) + base36(m_random(), 3);
}

std::string IdMaker::newAccountNo(std::string_view name)
{
    const std::string stamp = formatted(localTime(std::time(nullptr)), "%y%m%d%H%M%S");
    std::string initials;
    for (const char c : name) {
        if (initials.size() == kInitials)
            break;
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            initials += c;
    }
    while (initials.size() < kInitials)
        initials += base36(m_random(), 1);
    m_sequence = (m_sequence + 1) % kSequenceRange;
    return stamp + base36(m_sequence, 4) + toUpperAscii(initials);
}

} // namespace gm7s32
