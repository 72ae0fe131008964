// The ids and time stamps the store's rows carry.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace gm7s32 {

// The local date and time of a write, as GoldMine's columns hold them.
struct Stamp
{
    std::string date;  // YYYY-MM-DD
    std::string time;  // HH:MM
    std::string clock; // HH:MM:SS

    static Stamp now();
};

// Makes record ids and account numbers. Two processes making ids at the same
// moment still get different ones: each starts its running number at random
// and adds random characters.
class IdMaker
{
public:
    IdMaker();

    // Fifteen characters: milliseconds since 2000, a running number and a
    // random tail.
    std::string newRecid();
    // GoldMine's twenty characters: date and time of day, a running part and
    // the first letters of name (a contact or company), upper-cased.
    std::string newAccountNo(std::string_view name);

private:
    std::mt19937_64 m_random;
    uint32_t m_sequence = 0;
};

} // namespace gm7s32
