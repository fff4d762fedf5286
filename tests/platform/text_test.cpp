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

TEST(Codec, Cp949DecodesKoreanAndKeepsAscii)
{
    EXPECT_EQ(plat::DecodeCodePage(949, "\xC7\xD1\xB1\xDB abc\\"), u"한글 abc\\");
    EXPECT_EQ(plat::EncodeCodePage(949, u"한글 abc\\"), "\xC7\xD1\xB1\xDB abc\\");
    EXPECT_EQ(plat::DecodeCodePage(1361, "\x88\x61\\"), u"가\\");
}
