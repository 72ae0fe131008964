#pragma once

#include <QByteArray>
#include <QString>

#include <utility>

namespace goldmine {

// How the GoldMine API counts characters (see gm7s32.h): code points of the
// 8-bit text it is given. Every character of the program's text that reaches
// the API is one such character, so counting here is counting there: a
// character outside the Basic Multilingual Plane is one character, not the
// two UTF-16 code units QString holds for it.
qsizetype apiCharacterCount(const QString &text);

// The first count characters of text and the rest, never cut inside a
// character.
std::pair<QString, QString> splitAtApiCharacter(const QString &text, qsizetype count);

// The e-mail record: the first characters of an address in the reference
// field, the rest in its overflow field (CONTSUPREF and ADDRESS1 of CONTSUPP).
inline constexpr qsizetype kEmailReferenceWidth = 35;
inline constexpr qsizetype kEmailOverflowWidth = 40;
inline constexpr qsizetype kEmailRecordWidth = kEmailReferenceWidth + kEmailOverflowWidth;

// The program's text as the GoldMine API takes it: the system's 8-bit code
// page (the ANSI code page on Windows, never best-fit; UTF-8 on Linux).
struct ApiText
{
    QByteArray bytes;
    // True when characters the code page cannot hold were replaced ("?" on
    // Windows): the value is still written, but not as it was in the workbook.
    bool lossy = false;
};

ApiText toApiText(const QString &text);
// toApiText(text).lossy, without keeping the bytes.
bool losesApiCharacters(const QString &text);

} // namespace goldmine
