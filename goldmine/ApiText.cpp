#include "goldmine/ApiText.h"

#ifdef _WIN32
#include "goldmine/AnsiText.h"
#endif

namespace goldmine {

namespace {

// The code unit index just past the first count characters.
qsizetype unitsOfCharacters(const QString &text, qsizetype count)
{
    qsizetype index = 0;
    for (qsizetype taken = 0; taken < count && index < text.size(); ++taken) {
        const bool pair = text.at(index).isHighSurrogate() && index + 1 < text.size() &&
                          text.at(index + 1).isLowSurrogate();
        index += pair ? 2 : 1;
    }
    return index;
}

} // namespace

qsizetype apiCharacterCount(const QString &text)
{
    qsizetype count = 0;
    for (qsizetype index = 0; index < text.size(); ++count) {
        const bool pair = text.at(index).isHighSurrogate() && index + 1 < text.size() &&
                          text.at(index + 1).isLowSurrogate();
        index += pair ? 2 : 1;
    }
    return count;
}

std::pair<QString, QString> splitAtApiCharacter(const QString &text, qsizetype count)
{
    const qsizetype units = unitsOfCharacters(text, count);
    return {text.left(units), text.mid(units)};
}

ApiText toApiText(const QString &text)
{
#ifdef _WIN32
    // Qt's own local 8-bit conversion allows best-fit look-alikes.
    ansi::Converted converted = ansi::fromUtf16(std::u16string_view(
        reinterpret_cast<const char16_t *>(text.utf16()), static_cast<std::size_t>(text.size())));
    return {QByteArray(converted.bytes.data(), static_cast<qsizetype>(converted.bytes.size())),
            converted.lossy};
#else
    // Qt's local 8-bit text is UTF-8 here, which holds every character.
    return {text.toLocal8Bit(), false};
#endif
}

bool losesApiCharacters(const QString &text)
{
#ifdef _WIN32
    return toApiText(text).lossy;
#else
    Q_UNUSED(text);
    return false;
#endif
}

} // namespace goldmine
