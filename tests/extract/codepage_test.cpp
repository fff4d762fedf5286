#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "extract/codepage.h"
#include "platform/text.h"

namespace {
std::string U8(const char16_t* s) { return plat::WideToUtf8(s); }
}  // namespace

TEST(CodePageToWide, TerminatesAndNeverPartlyFills)
{
    struct {
        const char* text; int bytes; int room; int ret; const char* want;
    } cases[] = {
        {"abc", -1, 10, 4, "abc"},          // the terminator counts
        {"abc", -1, 4, 0, ""},              // needs 4 of 3 usable: nothing
        {"abc", -1, 3, 0, ""},
        {"abc", 3, 4, 3, "abc"},
        {"abc", 3, 3, 0, ""},
        {"abc", 2, 10, 2, "ab"},
        {"abc", -1, 1, 0, ""},              // fewer than 2 characters
        {"\xC7\xD1\xB1\xDB", -1, 10, 3, "한글"},
        {"\xC7\xD1\xFF", 3, 10, 2, "한?"},  // a bad byte is substituted
        {"", 0, 10, 0, ""},
    };
    for (const auto& c : cases) {
        std::vector<char16_t> buf(static_cast<size_t>(c.room) + 4, u'#');
        int r = CodePageToWide(949, c.text, c.bytes, buf.data(), c.room);
        EXPECT_EQ(r, c.ret) << c.text << " room " << c.room;
        EXPECT_EQ(U8(buf.data()), c.want) << c.text << " room " << c.room;
        EXPECT_EQ(buf[static_cast<size_t>(c.room)], u'#') << "wrote past the buffer";
    }
    EXPECT_EQ(CodePageToWide(949, "abc", -1, nullptr, 10), 0);
}

TEST(WideToCodePage, StaysInsideTheBuffer)
{
    struct {
        const char16_t* text; int chars; int room; const char* dflt; int ret; const char* want;
    } cases[] = {
        {u"abc", -1, 4, nullptr, 4, "abc"},   // terminator takes the last byte
        {u"abc", -1, 3, nullptr, 0, ""},
        {u"abc", 3, 4, nullptr, 3, "abc"},
        {u"abc", 3, 3, nullptr, 0, ""},
        {u"한글", 2, 5, nullptr, 4, "\xC7\xD1\xB1\xDB"},
        {u"a\u00E9b", 3, 10, "*", 3, "a*b"},   // a character CP949 lacks
        {u"abc", -1, 1, nullptr, 0, ""},
    };
    for (const auto& c : cases) {
        std::vector<char> buf(static_cast<size_t>(c.room) + 4, '#');
        int r = WideToCodePage(949, c.text, c.chars, buf.data(), c.room, c.dflt);
        EXPECT_EQ(r, c.ret) << U8(c.text) << " room " << c.room;
        EXPECT_STREQ(buf.data(), c.want) << U8(c.text) << " room " << c.room;
        EXPECT_EQ(buf[static_cast<size_t>(c.room)], '#') << "wrote past the buffer";
    }
}

TEST(AnsiToWide, WholeText)
{
    char16_t buf[8];
    EXPECT_EQ(AnsiToWide(buf, "\xB0\xA1 a", 8), 4);
    EXPECT_EQ(U8(buf), "가 a");
    buf[0] = u'x';
    EXPECT_EQ(AnsiToWide(buf, "abc", 0), 0);
    EXPECT_EQ(buf[0], u'x');
}

TEST(Utf8ToUtf16, StatusesAndCounts)
{
    struct {
        std::string in; size_t room; int lenient; int status; std::u16string out;
    } cases[] = {
        {"", 8, 0, kUtf8Ok, u""},
        {"abc", 8, 0, kUtf8Ok, u"abc"},
        {"\xED\x95\x9C", 8, 0, kUtf8Ok, u"한"},
        {"\xF0\x9F\x98\x80", 8, 0, kUtf8Ok, u"\xD83D\xDE00"},
        {"\xE0\x80\x80", 8, 0, kUtf8Illegal, u""},             // overlong
        {"\xC0\xAF", 8, 0, kUtf8Illegal, u""},
        {"ab\xE4\xB8", 8, 0, kUtf8SourceExhausted, u"ab"},      // cut short
        {"a\x80z", 8, 0, kUtf8Illegal, u"a"},                  // stray continuation byte
        {"a\xF5\x80\x80\x80", 8, 0, kUtf8Illegal, u"a"},
        {"\xF4\x90\x80\x80", 8, 0, kUtf8Illegal, u""},         // above U+10FFFF
        {"\xED\xA0\x80", 8, 0, kUtf8Illegal, u""},             // a surrogate
        {"\xED\xA0\x80", 8, 1, kUtf8Ok, u"\xD800"},            // written when lenient
        {"abcd", 2, 0, kUtf8TargetExhausted, u"ab"},
        {"a\xF0\x9F\x98\x80", 2, 0, kUtf8TargetExhausted, u"a"}, // no room for the pair
        {"\xF8\x88\x80\x80\x80", 8, 0, kUtf8Illegal, u""},
        {"\xF8\x88", 8, 0, kUtf8SourceExhausted, u""},
    };
    for (const auto& c : cases) {
        std::vector<char16_t> buf(c.room + 2, u'#');
        size_t bytes = 999;
        auto* s = reinterpret_cast<const unsigned char*>(c.in.data());
        int st = Utf8ToUtf16(s, s + c.in.size(), buf.data(), buf.data() + c.room, &bytes, c.lenient);
        EXPECT_EQ(st, c.status) << c.in;
        ASSERT_EQ(bytes, c.out.size() * 2) << c.in;
        EXPECT_EQ(std::u16string(buf.data(), c.out.size()), c.out) << c.in;
        EXPECT_EQ(buf[c.room], u'#');
    }
}

TEST(HwpCharsToWide, JohabAsciiAndDroppedCodes)
{
    struct {
        std::vector<uint16_t> codes; int count; int room; int ret; const char* want;
    } cases[] = {
        {{0x41, 0x8861, 0x42, 0}, -1, 16, 3, "A가B"},
        {{0x41, 0x4E00, 0x8861, 0x1234, 0x42, 0}, -1, 16, 4, "A濟가B"},  // no substitute: 0x1234 dropped
        {{0x41, 0x42, 0x43, 0x44}, 2, 16, 2, "AB"},
        {{0x41, 0x0, 0x42}, 3, 16, 1, "A"},                           // stops at zero
        {{0x5C, 0x41, 0}, -1, 16, 2, "\\A"},                          // backslash stays
        {{0x41, 0x42, 0x43, 0x44, 0x45, 0}, -1, 3, 2, "AB"},          // cut at the buffer
        {{0x41, 0}, -1, 1, 0, ""},
    };
    for (const auto& c : cases) {
        std::vector<char16_t> buf(static_cast<size_t>(c.room) + 2, u'#');
        int r = HwpCharsToWide(0, c.codes.data(), c.count, buf.data(), c.room, nullptr);
        EXPECT_EQ(r, c.ret);
        EXPECT_EQ(U8(buf.data()), c.want);
        EXPECT_EQ(buf[static_cast<size_t>(c.room)], u'#');
    }
}

// The format's own codes: the quotes, the symbols at Unicode positions, the
// symbol rows and Hanja of KS X 1001; the substitute stands for the others,
// so that the words on either side stay apart.
TEST(HwpCharsToWide, SymbolRowsHanjaAndSubstitutes)
{
    const char16_t kSpace[] = u"\u3000";
    struct {
        std::vector<uint16_t> codes; const char16_t* substitute; const char* want;
    } cases[] = {
        // 분석·진단: the middle dot of the first symbol row.
        {{0xA685, 0xACE2, 0x3404, 0xBBA5, 0x9465, 0}, kSpace, "분석·진단"},
        {{0x343B, 0x41, 0x3420, 0x3438, 0x3421, 0}, kSpace, "○A÷※≠"},
        {{0x341C, 0x341D, 0x340D, 0x3410, 0x3411, 0}, kSpace, "【】∼“”"},     // row 1: cells 28, 29, 13, 16, 17
        {{0x3590, 0x3594, 0}, kSpace, "ⅠⅤ"},                                 // row 5: Roman numerals
        {{0x3479, 0x364E, 0x36E7, 0x372D, 0}, kSpace, "▷㎜①⒜"},              // rows 2, 7, 8 and 9
        {{0x25A1, 0x25CB, 0x203B, 0x2022, 0x2160, 0}, kSpace, "□○※•Ⅰ"},      // at Unicode positions
        {{0x81, 0x41, 0x82, 0x83, 0x42, 0x84, 0}, kSpace, "“A”‘B’"},
        {{0x4388, 0x4507, 0x4CAC, 0}, kSpace, "代理人"},                   // Hanja in KS X 1001 order
        {{0x31, 0x1234, 0x32, 0x3400, 0x33, 0x5318, 0x34, 0}, kSpace, "1\u30002\u30003\u30004"},
        {{0x31, 0x1234, 0x32, 0x3400, 0x33, 0}, nullptr, "123"},
    };
    for (const auto& c : cases) {
        std::vector<char16_t> buf(64, u'#');
        HwpCharsToWide(0, c.codes.data(), -1, buf.data(), 60, c.substitute);
        EXPECT_EQ(U8(buf.data()), c.want);
    }
}

// Random input never makes a conversion write outside its buffer (the
// sanitizer build checks every access) and always leaves it terminated.
TEST(CodePageConversions, RandomInputStaysInBounds)
{
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        const size_t len = rng() % 40;
        std::vector<unsigned char> bytes(len);
        for (auto& b : bytes) b = static_cast<unsigned char>(rng() % 4 == 0 ? 0x80 | rng() : rng());
        const size_t room = rng() % 12;
        std::vector<char16_t> out(room + 1);
        size_t written = 0;
        int st = Utf8ToUtf16(bytes.data(), bytes.data() + len, out.data(), out.data() + room, &written,
                             static_cast<int>(rng() % 2));
        ASSERT_LE(written, room * 2);
        ASSERT_TRUE(st >= kUtf8Ok && st <= kUtf8Illegal);

        std::vector<uint16_t> codes(len + 1, 0);
        for (size_t i = 0; i < len; ++i) codes[i] = static_cast<uint16_t>(rng());
        std::vector<char16_t> wide(room + 1, u'#');
        int n = HwpCharsToWide(0, codes.data(), static_cast<int>(len), wide.data(), static_cast<int>(room), nullptr);
        if (room > 0) {
            ASSERT_LT(n, static_cast<int>(room));
            ASSERT_EQ(wide[static_cast<size_t>(n)], 0);
        }

        std::string narrow(bytes.begin(), bytes.end());
        n = CodePageToWide(rng() % 2 ? 949 : 1361, narrow.data(), static_cast<int>(len), wide.data(),
                           static_cast<int>(room));
        if (room > 0) {
            ASSERT_EQ(wide[static_cast<size_t>(n)], 0);
        }
    }
}
