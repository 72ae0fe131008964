#include "util/StringFunctions.h"

#include <cstring>

namespace util {

bool SF_isNothing(const QString &text)
{
    return text.isEmpty();
}

QString SF_removeAllOnce(QString text, const QString &needle)
{
    if (SF_isNothing(needle))
        return text;
    qsizetype position = text.indexOf(needle, 0, Qt::CaseSensitive);
    while (position >= 0) {
        text.remove(position, needle.size());
        position = text.indexOf(needle, position, Qt::CaseSensitive);
    }
    return text;
}

QString SF_removeAll(QString text, const QString &needle)
{
    if (SF_isNothing(needle))
        return text;
    while (text.contains(needle, Qt::CaseSensitive))
        text = SF_removeAllOnce(text, needle);
    return text;
}

QString SF_splitLeft(const QString &text, const QString &separator)
{
    if (SF_isNothing(separator))
        return text;
    const qsizetype position = text.indexOf(separator, 0, Qt::CaseSensitive);
    if (position < 0)
        return text;
    return text.left(position);
}

QString SF_splitRight(const QString &text, const QString &separator)
{
    if (SF_isNothing(separator))
        return text;
    const qsizetype position = text.indexOf(separator, 0, Qt::CaseSensitive);
    if (position < 0)
        return text;
    return text.mid(position + separator.size());
}

QString PtrToString(const char *address)
{
    if (address == nullptr)
        return {};
    const auto length = static_cast<qsizetype>(std::strlen(address));
    if (length == 0)
        return {};
    return QString::fromLocal8Bit(address, length);
}

} // namespace util
