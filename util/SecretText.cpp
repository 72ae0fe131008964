#include "util/SecretText.h"

namespace util {

QString secretFromLocal8Bit(const char *bytes, qsizetype size)
{
#ifdef Q_OS_WIN
    return QString::fromLocal8Bit(bytes, size);
#else
    QString text;
    text.reserve(size); // never more characters than bytes: never grows
    const auto *in = reinterpret_cast<const unsigned char *>(bytes);
    for (qsizetype i = 0; i < size;) {
        const unsigned char lead = in[i];
        qsizetype length = lead < 0x80           ? 1
                           : (lead >> 5) == 0x6  ? 2
                           : (lead >> 4) == 0xE  ? 3
                           : (lead >> 3) == 0x1E ? 4
                                                 : 0;
        char32_t code = length == 1   ? lead
                        : length == 2 ? lead & 0x1F
                        : length == 3 ? lead & 0x0F
                                      : lead & 0x07;
        bool valid = length > 0 && i + length <= size;
        for (qsizetype k = 1; valid && k < length; ++k) {
            valid = (in[i + k] & 0xC0) == 0x80;
            code = (code << 6) | (in[i + k] & 0x3F);
        }
        if (!valid || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            text.append(QChar(QChar::ReplacementCharacter));
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            text.append(QChar(QChar::highSurrogate(code)));
            text.append(QChar(QChar::lowSurrogate(code)));
        } else {
            text.append(QChar(static_cast<char16_t>(code)));
        }
        i += length;
    }
    return text;
#endif
}

void appendSecretLocal8Bit(const QString &text, QByteArray &out)
{
#ifdef Q_OS_WIN
    out.append(text.toLocal8Bit());
#else
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t code = text.at(i).unicode();
        if (QChar::isHighSurrogate(code) && i + 1 < text.size() &&
            text.at(i + 1).isLowSurrogate()) {
            code = QChar::surrogateToUcs4(text.at(i).unicode(), text.at(i + 1).unicode());
            ++i;
        } else if (QChar::isSurrogate(code)) {
            code = QChar::ReplacementCharacter;
        }
        if (code < 0x80) {
            out.append(static_cast<char>(code));
        } else if (code < 0x800) {
            out.append(static_cast<char>(0xC0 | (code >> 6)));
            out.append(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.append(static_cast<char>(0xE0 | (code >> 12)));
            out.append(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.append(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.append(static_cast<char>(0xF0 | (code >> 18)));
            out.append(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.append(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.append(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
#endif
}

void wipe(QString &text)
{
    text.fill(QChar(u'\0'));
    text.clear();
}

void wipe(QByteArray &bytes)
{
    bytes.fill('\0');
    bytes.clear();
}

} // namespace util
