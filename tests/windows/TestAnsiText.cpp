// Text for the GoldMine API in Windows code pages: exact where the page holds
// the characters, "?" and a lossy flag where it does not, never a best-fit
// look-alike. Runs under Wine.
#include "Checks.h"
#include "goldmine/AnsiText.h"

#include <windows.h>

using goldmine::ansi::fromUtf16;
using goldmine::ansi::toUtf16;

int main()
{
    Checks checks;

    // Western European (1252): accented Latin letters are held exactly.
    auto zoe = fromUtf16(u"Zo\u00eb \u00d8rsted", 1252);
    CHECK_EQ(checks, zoe.bytes, std::string("Zo\xeb \xd8rsted"));
    CHECK(checks, !zoe.lossy);
    CHECK_EQ(checks, toUtf16(zoe.bytes, 1252), std::u16string(u"Zo\u00eb \u00d8rsted"));

    // Characters 1252 lacks become "?", not a look-alike: best-fit would
    // write "L" for "Ł", "e" for "ė" and "8" for "∞".
    auto lodz = fromUtf16(u"\u0141\u00f3d\u017a", 1252);
    CHECK_EQ(checks, lodz.bytes,
             std::string("?\xf3"
                         "d?"));
    CHECK(checks, lodz.lossy);
    auto dotted = fromUtf16(u"\u0117", 1252);
    CHECK_EQ(checks, dotted.bytes, std::string("?"));
    CHECK(checks, dotted.lossy);
    auto infinity = fromUtf16(u"x\u221e", 1252);
    CHECK_EQ(checks, infinity.bytes, std::string("x?"));
    CHECK(checks, infinity.lossy);

    // Central European (1250) holds them exactly.
    auto central = fromUtf16(u"\u0141\u00f3d\u017a", 1250);
    CHECK_EQ(checks, central.bytes,
             std::string("\xa3\xf3"
                         "d\x9f"));
    CHECK(checks, !central.lossy);
    CHECK_EQ(checks, toUtf16(central.bytes, 1250), std::u16string(u"\u0141\u00f3d\u017a"));

    // A double-byte page (932, Japanese): two bytes a character, "?" for a
    // letter it lacks.
    auto japanese = fromUtf16(u"\u65e5\u672c", 932);
    CHECK_EQ(checks, japanese.bytes, std::string("\x93\xfa\x96\x7b"));
    CHECK(checks, !japanese.lossy);
    auto notJapanese = fromUtf16(u"\u0117", 932);
    CHECK_EQ(checks, notJapanese.bytes, std::string("?"));
    CHECK(checks, notJapanese.lossy);

    // Half of a surrogate pair has no encoding anywhere.
    auto broken = fromUtf16(std::u16string_view(u"a\xd800"
                                                "b",
                                                3),
                            1252);
    CHECK(checks, broken.lossy);
    CHECK_EQ(checks, broken.bytes.size(), size_t(3));
    auto brokenUtf8 = fromUtf16(std::u16string_view(u"a\xd800", 2), CP_UTF8);
    CHECK(checks, brokenUtf8.lossy);
    auto wholeUtf8 = fromUtf16(u"\u0141\U0001F600", CP_UTF8);
    CHECK(checks, !wholeUtf8.lossy);
    CHECK_EQ(checks, wholeUtf8.bytes, std::string("\xc5\x81\xf0\x9f\x98\x80"));

    // Nothing in, nothing out; the bytes back stop at the first zero.
    CHECK_EQ(checks, fromUtf16(u"", 1252).bytes, std::string());
    CHECK(checks, !fromUtf16(u"", 1252).lossy);
    CHECK_EQ(checks, toUtf16(std::string("ab\0cd", 5), 1252), std::u16string(u"ab"));

    // Code page 0 is the system's ANSI code page.
    const unsigned system = GetACP();
    CHECK_EQ(checks, fromUtf16(u"Zo\u00eb \u0141", 0).bytes,
             fromUtf16(u"Zo\u00eb \u0141", system).bytes);
    std::printf("system ANSI code page: %u\n", system);
    return checks.finish();
}
