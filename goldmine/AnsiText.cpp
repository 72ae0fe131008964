#include "goldmine/AnsiText.h"

#ifdef _WIN32

#include <windows.h>

namespace goldmine::ansi {

namespace {

unsigned effective(unsigned codePage)
{
    return codePage == 0 ? GetACP() : codePage;
}

} // namespace

Converted fromUtf16(std::u16string_view text, unsigned codePage)
{
    Converted converted;
    if (text.empty())
        return converted;
    const unsigned page = effective(codePage);
    const auto *wide = reinterpret_cast<const wchar_t *>(text.data());
    const int length = static_cast<int>(text.size());
    if (page == CP_UTF8) {
        // A UTF-8 system code page holds every character; only a broken
        // surrogate pair cannot be written, and the strict pass finds it.
        converted.lossy = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, length, nullptr,
                                              0, nullptr, nullptr) == 0;
        const int size =
            WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
        converted.bytes.assign(static_cast<std::size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide, length, converted.bytes.data(), size, nullptr,
                            nullptr);
        return converted;
    }
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(page, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0, "?",
                                         &usedDefault);
    converted.bytes.assign(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(page, WC_NO_BEST_FIT_CHARS, wide, length, converted.bytes.data(), size, "?",
                        &usedDefault);
    converted.lossy = usedDefault != FALSE;
    return converted;
}

std::u16string toUtf16(std::string_view bytes, unsigned codePage)
{
    const std::size_t end = bytes.find('\0');
    if (end != std::string_view::npos)
        bytes = bytes.substr(0, end);
    if (bytes.empty())
        return {};
    const unsigned page = effective(codePage);
    const int length = static_cast<int>(bytes.size());
    const int size = MultiByteToWideChar(page, 0, bytes.data(), length, nullptr, 0);
    std::u16string text(static_cast<std::size_t>(size), u'\0');
    MultiByteToWideChar(page, 0, bytes.data(), length, reinterpret_cast<wchar_t *>(text.data()),
                        size);
    return text;
}

} // namespace goldmine::ansi

#endif
