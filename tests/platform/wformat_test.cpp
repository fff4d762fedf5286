#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/text.h"
#include "platform/wformat.h"

using plat::FormatWide;

namespace {

std::string U8(const std::u16string& s) { return plat::WideToUtf8(s); }

struct Case {
    std::u16string got;
    const char16_t* want;
    int line;
};

void Check(const std::initializer_list<Case>& cases)
{
    for (const auto& c : cases)
        EXPECT_EQ(U8(c.got), U8(c.want)) << "case at line " << c.line;
}

#define C(expr, want) Case{expr, want, __LINE__}

}  // namespace

TEST(FormatWide, StringsFollowWindowsRules)
{
    const char16_t* nullWide = nullptr;
    const char* nullNarrow = nullptr;
    Check({
        C(FormatWide(u"[%s]", u"한글"), u"[한글]"),
        C(FormatWide(u"[%ls]", u"abc"), u"[abc]"),
        C(FormatWide(u"[%ws]", u"abc"), u"[abc]"),
        C(FormatWide(u"[%hs]", "\xC7\xD1\xB1\xDB"), u"[한글]"),   // code page 949
        C(FormatWide(u"[%S]", "narrow"), u"[narrow]"),
        C(FormatWide(u"[%lS]", u"wide"), u"[wide]"),
        C(FormatWide(u"[%s]", nullWide), u"[(null)]"),
        C(FormatWide(u"[%hs]", nullNarrow), u"[(null)]"),
        C(FormatWide(u"[%5s]", u"ab"), u"[   ab]"),
        C(FormatWide(u"[%-5s]", u"ab"), u"[ab   ]"),
        C(FormatWide(u"[%.2s]", u"abcdef"), u"[ab]"),
        C(FormatWide(u"[%*.*s]", 4, 1, u"xyz"), u"[   x]"),
        C(FormatWide(u"[%-*s]", 3, u"k"), u"[k  ]"),
        C(FormatWide(u"[%*s]", -3, u"k"), u"[k  ]"),           // negative width: left
        C(FormatWide(u"[%c%c]", u'한', u'A'), u"[한A]"),
        C(FormatWide(u"[%hc%C]", 'x', 'y'), u"[xy]"),
        C(FormatWide(u"[%3c]", u'z'), u"[  z]"),
        C(FormatWide(u"100%%"), u"100%"),
        C(FormatWide(u"%s%s%s", u"", u"a", u""), u"a"),
    });
}

TEST(FormatWide, PrecisionBoundsTheReadOfUnterminatedText)
{
    // Four characters without a terminator: the precision must stop the read.
    const char16_t wide[4] = {u'a', u'b', u'c', u'd'};
    const char narrow[3] = {'x', 'y', 'z'};
    EXPECT_EQ(FormatWide(u"%.4s|%.3hs", wide, narrow), u"abcd|xyz");
}

TEST(FormatWide, Integers)
{
    Check({
        C(FormatWide(u"%d %i %u", -5, 7, 4000000000u), u"-5 7 4000000000"),
        C(FormatWide(u"%x %X %o", 0xBEEFu, 0xBEEFu, 8u), u"beef BEEF 10"),
        C(FormatWide(u"%#x %#X %#o %#x", 255u, 255u, 8u, 0u), u"0xff 0XFF 010 0"),
        C(FormatWide(u"[%5d][%-5d][%05d]", 42, 42, -42), u"[   42][42   ][-0042]"),
        C(FormatWide(u"[%+d][% d][%+d]", 3, 3, -3), u"[+3][ 3][-3]"),
        C(FormatWide(u"[%.3d][%8.3d][%08.3d]", 7, 7, 7), u"[007][     007][     007]"),
        C(FormatWide(u"[%.0d][%.0x]", 0, 0u), u"[][]"),
        C(FormatWide(u"%d", INT32_MIN), u"-2147483648"),
        C(FormatWide(u"%I64d %I64u", INT64_MIN, UINT64_MAX), u"-9223372036854775808 18446744073709551615"),
        C(FormatWide(u"%lld %llx", -1LL, 0x1234567890ULL), u"-1 1234567890"),
        C(FormatWide(u"%I32d %I32u", -2, 3u), u"-2 3"),
        C(FormatWide(u"%ld %lu %lx", -7, 4294967295u, 0xABCDu), u"-7 4294967295 abcd"),  // 32-bit long
        C(FormatWide(u"%hd %hu %hx", 70000, 70000, 0x12345), u"4464 4464 2345"),
        C(FormatWide(u"%hhd %hhu", 300, 300), u"44 44"),
        C(FormatWide(u"%Iu %zu", size_t(1) << 40, size_t(5)), u"1099511627776 5"),
        C(FormatWide(u"%08X", 0xDEADu), u"0000DEAD"),
    });
}

TEST(FormatWide, PointersAndOddConversions)
{
    void* p = reinterpret_cast<void*>(uintptr_t(0x12AB));
    int sink = 99;
    Check({
        C(FormatWide(u"%p", p), u"00000000000012AB"),
        C(FormatWide(u"a%nb", &sink), u"ab"),
        C(FormatWide(u"%y|%d", 4), u"%y|4"),       // unknown: copied, nothing consumed
        C(FormatWide(u"tail %"), u"tail %"),
        C(FormatWide(u"tail %-5"), u"tail %-5"),
    });
    EXPECT_EQ(sink, 99);
}

TEST(FormatWide, FloatsIgnoreTheProcessLocale)
{
    // Whatever locale the process runs in, the decimal point stays '.'.
    const char* old = setlocale(LC_NUMERIC, nullptr);
    std::string saved = old ? old : "C";
    bool switched = setlocale(LC_NUMERIC, "de_DE.UTF-8") || setlocale(LC_NUMERIC, "ko_KR.UTF-8");
    Check({
        C(FormatWide(u"%f", 1.5), u"1.500000"),
        C(FormatWide(u"%.2f|%8.3f|%-8.1f|", 3.14159, -2.5, 1.0), u"3.14|  -2.500|1.0     |"),
        C(FormatWide(u"%e", 12345.678), u"1.234568e+04"),
        C(FormatWide(u"%g %g %G", 0.0001, 1e20, 1e-10), u"0.0001 1e+20 1E-10"),
        C(FormatWide(u"%+.1f %08.2f", 2.0, -3.5), u"+2.0 -0003.50"),
        C(FormatWide(u"%Lf", 0.25L), u"0.250000"),
        C(FormatWide(u"%d %.1f %s", 1, 2.0, u"x"), u"1 2.0 x"),     // argument order kept
    });
    setlocale(LC_NUMERIC, saved.c_str());
    if (!switched) GTEST_LOG_(INFO) << "no comma-decimal locale installed; ran in C locale";
}

TEST(FormatWide, LongOutputGrowsAndWidthIsCapped)
{
    std::u16string big(100000, u'가');
    std::u16string out = FormatWide(u"<%s>", big.c_str());
    ASSERT_EQ(out.size(), big.size() + 2);
    EXPECT_EQ(out.front(), u'<');
    EXPECT_EQ(out.back(), u'>');
    // A huge width in the format does not allocate without limit.
    EXPECT_EQ(FormatWide(u"%999999999999d", 1).size(), size_t(plat::kMaxFieldWidth));
}

TEST(FormatWide, FixedBufferNeverOverruns)
{
    char16_t buf[8];
    for (auto& c : buf) c = u'#';
    EXPECT_EQ(plat::FormatWideTo(buf, 6, u"%s", u"abcdefgh"), -1);
    EXPECT_EQ(std::u16string(buf), u"abcde");
    EXPECT_EQ(buf[6], u'#');
    EXPECT_EQ(plat::FormatWideTo(buf, 8, u"%d", 1234567), 7);
    EXPECT_EQ(std::u16string(buf), u"1234567");
    EXPECT_EQ(plat::FormatWideTo(buf, 0, u"x"), -1);
}

// For everything where the C rules and the Windows rules agree, the output
// must equal the C library's narrow printf (ASCII only, C locale).
TEST(FormatWide, AgreesWithCPrintfOnNumbers)
{
    const char* flagSets[] = {"", "-", "+", " ", "#", "0", "-+", "+0", " 0", "#0", "-#", "+ "};
    const char* widths[] = {"", "1", "6", "12"};
    const char* precisions[] = {"", ".0", ".1", ".4", ".10"};
    const long long ints[] = {0, 1, -1, 42, -42, 123456, -2147483647 - 1, 2147483647};
    const double doubles[] = {0.0, -0.0, 1.5, -2.25, 1234567.891, 1e-7, 6.02e23, 0.1};
    int compared = 0;
    for (const char* f : flagSets)
        for (const char* w : widths)
            for (const char* p : precisions) {
                const std::string spec = std::string("%") + f + w + p;
                for (const char* conv : {"d", "i", "u", "x", "X", "o", "lld", "llx", "hd", "hhu"}) {
                    const std::string fmt = spec + conv;
                    const std::u16string wfmt = plat::AsciiToWide(fmt);
                    for (long long v : ints) {
                        char want[128];
                        const bool isLL = conv[0] == 'l';
                        if (isLL) snprintf(want, sizeof want, fmt.c_str(), v);
                        else snprintf(want, sizeof want, fmt.c_str(), static_cast<int>(v));
                        std::u16string got = isLL ? FormatWide(wfmt.c_str(), v)
                                                  : FormatWide(wfmt.c_str(), static_cast<int>(v));
                        ASSERT_EQ(U8(got), want) << fmt << " of " << v;
                        ++compared;
                    }
                }
                for (const char* conv : {"f", "e", "E", "g", "G"}) {
                    const std::string fmt = spec + conv;
                    const std::u16string wfmt = plat::AsciiToWide(fmt);
                    for (double v : doubles) {
                        char want[256];
                        snprintf(want, sizeof want, fmt.c_str(), v);
                        ASSERT_EQ(U8(FormatWide(wfmt.c_str(), v)), want) << fmt << " of " << v;
                        ++compared;
                    }
                }
                const std::string sfmt = spec + "hs";
                const std::string cfmt = spec + "s";
                for (const char* s : {"", "a", "abcdef", "0123456789abcdef"}) {
                    char want[128];
                    snprintf(want, sizeof want, cfmt.c_str(), s);
                    ASSERT_EQ(U8(FormatWide(plat::AsciiToWide(sfmt).c_str(), s)), want) << sfmt << " of " << s;
                }
            }
    EXPECT_GT(compared, 10000);
}
