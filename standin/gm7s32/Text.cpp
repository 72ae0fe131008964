#include "Text.h"

namespace gm7s32 {

namespace {

char upperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Length of the UTF-8 sequence starting at text[i], or 0 when it is not valid.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    else
        return 0;
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

bool isValidUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8SequenceLength(text, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

} // namespace

std::string toUpperAscii(std::string_view text)
{
    std::string result(text);
    for (char &c : result)
        c = upperAscii(c);
    return result;
}

bool equalsIgnoreCase(std::string_view left, std::string_view right)
{
    if (left.size() != right.size())
        return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (upperAscii(left[i]) != upperAscii(right[i]))
            return false;
    }
    return true;
}

std::size_t characterCount(std::string_view text)
{
    if (!isValidUtf8(text))
        return text.size();
    std::size_t count = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++count;
    }
    return count;
}

std::string_view leftCharacters(std::string_view text, std::size_t count)
{
    if (!isValidUtf8(text))
        return text.substr(0, count);
    std::size_t i = 0;
    for (std::size_t taken = 0; taken < count && i < text.size(); ++taken)
        i += utf8SequenceLength(text, i);
    return text.substr(0, i);
}

std::string base36(uint64_t value, std::size_t width)
{
    static constexpr char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string result(width, '0');
    for (std::size_t i = width; i > 0; --i) {
        result[i - 1] = digits[value % 36];
        value /= 36;
    }
    return result;
}

} // namespace gm7s32
