// Text in the Windows ANSI code page, as the GoldMine API takes it. Qt-free,
// so that it is built and tested on Windows (under Wine) by itself.
#pragma once

#ifdef _WIN32

#include <string>
#include <string_view>

namespace goldmine::ansi {

struct Converted
{
    std::string bytes;
    // True when a character had no exact counterpart in the code page and
    // was written as "?": the value was still converted, but not as typed.
    bool lossy = false;
};

// UTF-16 text to the code page; codePage 0 means the system's ANSI code page
// (CP_ACP). Never best-fit: a character the code page cannot hold becomes "?"
// rather than a look-alike ("e" for "ė" would silently change the value).
Converted fromUtf16(std::u16string_view text, unsigned codePage = 0);

// Bytes in the code page back to UTF-16; bytes stop at the first zero.
std::u16string toUtf16(std::string_view bytes, unsigned codePage = 0);

} // namespace goldmine::ansi

#endif
