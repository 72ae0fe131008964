// Small text helpers for 8-bit values: GoldMine's upper-case rules and field
// widths counted in characters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gm7s32 {

// Upper-cases ASCII letters only, as SQLite's NOCASE collation compares.
std::string toUpperAscii(std::string_view text);
bool equalsIgnoreCase(std::string_view left, std::string_view right);

// Characters in text: code points when it is valid UTF-8, otherwise bytes
// (a single-byte code page).
std::size_t characterCount(std::string_view text);
// The bytes of the first count characters of text (the whole text if shorter).
std::string_view leftCharacters(std::string_view text, std::size_t count);

// value in base 36 (digits, then A-Z), left-padded with '0' to width characters;
// higher digits beyond width are dropped.
std::string base36(uint64_t value, std::size_t width);

} // namespace gm7s32
