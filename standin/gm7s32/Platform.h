// The few calls that differ between operating systems. Everything else in the
// library is standard C++ and SQLite, so a port replaces this file's
// implementation only.
#pragma once

#include <cstddef>
#include <ctime>

namespace gm7s32 {

// The broken-down local time of seconds (thread-safe).
std::tm localTime(std::time_t seconds);

// Overwrites size bytes at data in a way the compiler may not drop.
void wipeMemory(void *data, std::size_t size);

} // namespace gm7s32
