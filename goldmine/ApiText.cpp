#include "goldmine/ApiText.h"

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

} // namespace goldmine
