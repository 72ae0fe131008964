// POSIX implementation.
#include "Platform.h"

#include <cstring>
#include <time.h>

namespace gm7s32 {

std::tm localTime(std::time_t seconds)
{
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}

void wipeMemory(void *data, std::size_t size)
{
    explicit_bzero(data, size);
}

} // namespace gm7s32
