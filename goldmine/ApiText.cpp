#include "goldmine/ApiText.h"

#ifdef _WIN32
#include "goldmine/AnsiText.h"
#endif

namespace goldmine {

ApiText toApiText(const QString &text)
{
#ifdef _WIN32
    // Qt's own local 8-bit conversion allows best-fit look-alikes.
    ansi::Converted converted = ansi::fromUtf16(std::u16string_view(
        reinterpret_cast<const char16_t *>(text.utf16()), static_cast<std::size_t>(text.size())));
    return {QByteArray(converted.bytes.data(), static_cast<qsizetype>(converted.bytes.size())),
            converted.lossy};
#else
    // Qt's local 8-bit text is UTF-8 here, which holds every character; only
    // half of a surrogate pair has no encoding and is replaced.
    bool lossy = false;
    for (qsizetype index = 0; index < text.size(); ++index) {
        const QChar c = text.at(index);
        if (c.isHighSurrogate() && index + 1 < text.size() && text.at(index + 1).isLowSurrogate())
            ++index;
        else if (c.isSurrogate())
            lossy = true;
    }
    return {text.toLocal8Bit(), lossy};
#endif
}

} // namespace goldmine
