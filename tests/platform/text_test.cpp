#include <gtest/gtest.h>

#include "platform/codec.h"
#include "platform/text.h"

TEST(PathCodec, InvalidUtf8BytesSurviveTheRoundTrip)
{
    const std::string cases[] = {
        "plain.hwp",
        "\xED\x95\x9C\xEA\xB8\x80.doc",           // 한글
        "bad\xFF\xFEname",                        // bytes that are never UTF-8
        "cut\xE4\xB8",                            // a sequence cut short
        "\xC0\xAF overlong",                       // an overlong slash
        "\xED\xA0\x80 surrogate",                  // an encoded surrogate
        "\xF0\x9F\x98\x80 emoji",
    };
    for (const auto& c : cases) {
        plat::WString w = plat::PathFromNative(c);
        EXPECT_EQ(plat::PathToNative(w), c);
    }
    EXPECT_EQ(plat::PathFromNative("a\xFF"), (plat::WString{u'a', char16_t(0xDCFF)}));
}

// A name in a line-oriented file: nothing in it ends the line or splits a
// field, and reading the line back gives the name exactly.
TEST(LineEscape, NamesCannotEndALineAndComeBackExactly)
{
    const struct {
        std::u16string name;
        std::u16string line;
    } cases[] = {
        {u"/d/plain 문서.hwp", u"/d/plain 문서.hwp"},
        {u"/d/a.hwp\r\n[12:00:00] forged.hwp\treason", u"/d/a.hwp\\x0D\\x0A[12:00:00] forged.hwp\\x09reason"},
        {u"back\\slash\\x0D", u"back\\\\slash\\\\x0D"},
        {std::u16string(u"nul\0del\x7f", 8), u"nul\\x00del\\x7F"},
        {u"sep\u2028par\u2029nel\u0085", u"sep\\u2028par\\u2029nel\\x85"},
        {u"bad\xDCFF", u"bad\xDCFF"},
    };
    for (const auto& c : cases) {
        const std::u16string line = plat::EscapeLine(c.name);
        EXPECT_EQ(line, c.line) << plat::WideToUtf8(c.line);
        EXPECT_EQ(plat::UnescapeLine(line), c.name) << plat::WideToUtf8(c.line);
        for (char16_t ch : line)
            EXPECT_FALSE(ch < 0x20 || ch == 0x2028 || ch == 0x2029) << plat::WideToUtf8(c.line);
    }
    // Escapes it does not know, or cut short, stay as they stand.
    EXPECT_EQ(plat::UnescapeLine(u"a\\q\\x4\\"), u"a\\q\\x4\\");
    // A trace line keeps its backslashes but not the line ends.
    EXPECT_EQ(plat::EscapeLine(u"C:\\x\n", false), u"C:\\x\\x0A");
}

TEST(Codec, Cp949DecodesKoreanAndKeepsAscii)
{
    EXPECT_EQ(plat::DecodeCodePage(949, "\xC7\xD1\xB1\xDB abc\\"), u"한글 abc\\");
    EXPECT_EQ(plat::EncodeCodePage(949, u"한글 abc\\"), "\xC7\xD1\xB1\xDB abc\\");
    EXPECT_EQ(plat::DecodeCodePage(1361, "\x88\x61\\"), u"가\\");
}
