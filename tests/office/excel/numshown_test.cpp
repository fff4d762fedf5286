#include "office/excel/numshown.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace {

std::string Narrow(const std::u16string& s)
{
    std::string r;
    for (char16_t c : s)
        r += c < 0x80 ? static_cast<char>(c) : '?';
    return r;
}

std::string Shown(double v, const char16_t* code)
{
    const auto r = FormatNumberAsShown(v, code);
    return r ? Narrow(*r) : std::string("<none>");
}

TEST(NumberAsShown, SectionsDecimalsGroupingAndLiterals)
{
    struct Case {
        double value;
        const char16_t* code;
        const char* shown;
    } const cases[] = {
        {1234.5, u"#,##0.00", "1,234.50"},
        {-1234.5, u"#,##0.00", "-1,234.50"},
        {0, u"#,##0", "0"},
        {1234567, u"#,##0", "1,234,567"},
        {2.675, u"0.00", "2.68"},          // decimal rounding, not binary
        {0.5, u"#.00", ".50"},
        {12.5, u"0.0##", "12.5"},
        {12.5, u"0.0??", "12.5  "},
        {0.125, u"0%", "13%"},
        {0.0215, u"0.00%", "2.15%"},
        {1400, u"\"$\"#,##0.00", "$1,400.00"},
        {-1400, u"\"$\"#,##0.00_);\\(\"$\"#,##0.00\\)", "($1,400.00)"},
        {1400, u"[$USD-409] #,##0", "USD 1,400"},
        {0, u"_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"??_);_(@_)", " $-   "},
        {-5, u"0;[Red]0", "5"},
        {1234567, u"#,##0,\"K\"", "1,235K"},
        {12345678, u"0.0,,", "12.3"},
        {5, u"[<10]\"low \"0;\"high \"0", "low 5"},
        {50, u"[<10]\"low \"0;\"high \"0", "high 50"},
        {0, u"0;-0;\"none\"", "none"},
        {42, u"General \"kg\"", "42 kg"},
        {7, u"\"No.\" @", "No. 7"},
        {1012345678, u"0##-####-####", "010-1234-5678"},  // digits fill from the right
        {1012345678, u"000-0000-0000", "010-1234-5678"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Shown(c.value, c.code), c.shown) << c.value << " " << Narrow(c.code);
}

TEST(NumberAsShown, ScientificAndFractions)
{
    EXPECT_EQ(Shown(12345.678, u"0.00E+00"), "1.23E+04");
    EXPECT_EQ(Shown(0.000123, u"0.00E+00"), "1.23E-04");
    EXPECT_EQ(Shown(9.999, u"0.00E+00"), "1.00E+01");
    EXPECT_EQ(Shown(0, u"0.00E+00"), "0.00E+00");
    EXPECT_EQ(Shown(12345.6, u"##0.0E+0"), "12.3E+3");
    // A whole number of many digits keeps them all: it shows as it stands.
    EXPECT_EQ(Shown(9001011234567, u"0.00E+00"), "9001011234567");
    EXPECT_EQ(Shown(1.5, u"# ?/?"), "1 1/2");
    EXPECT_EQ(Shown(0.75, u"# ?/?"), "3/4");
    EXPECT_EQ(Shown(3, u"# ?/?"), "3");
    EXPECT_EQ(Shown(3.14159, u"# ?\?/??"), "3 14/99");  // closer than 1/7
    EXPECT_EQ(Shown(0.3, u"?/16"), "5/16");
    EXPECT_EQ(Shown(2.5, u"?/?"), "5/2");
    EXPECT_EQ(Shown(-0.5, u"# ?/?"), "-1/2");
}

TEST(NumberAsShown, DatesTextAndHostileCodes)
{
    EXPECT_EQ(Shown(45000, u"yyyy-mm-dd"), "<none>");
    EXPECT_EQ(Shown(1.5, u"[h]:mm"), "<none>");
    EXPECT_EQ(Shown(-1, u"0;yyyy"), "<none>");
    EXPECT_EQ(Shown(std::numeric_limits<double>::infinity(), u"0.00"), "<none>");
    EXPECT_EQ(Shown(1, std::u16string(300, u'0').c_str()), "<none>");
    // Odd but harmless codes give some text and never crash.
    const char16_t* odd[] = {u"", u";", u";;;", u"[", u"\"", u"\\", u"_", u"*", u"E+", u"0E+", u"/", u"?/",
                             u"0/0", u",,,,", u"%%%%%%%%", u"0.0.0", u"#,#,#.#,#", u"[>]0", u"[=1e400]0;0",
                             u"0.00000000000000000000000000000000000000000000000000"};
    for (const char16_t* code : odd) {
        for (double v : {0.0, -1.5, 1e300, 1.7e308, -1e-300, 5e-324, 123456789.125, 0.999999999999})
            (void)FormatNumberAsShown(v, code);
    }
    EXPECT_EQ(Shown(1e300, u"#,##0").size(), 401u);
    EXPECT_EQ(Shown(1.7e308, u"0%"), "<none>");  // beyond the range of a double once scaled
    EXPECT_EQ(Shown(5e-324, u"0.00E+00"), "<none>");
    EXPECT_EQ(Shown(1e17, u"?/?"), "<none>");
    // A section that hides a value keeps its digits in the text after its words.
    EXPECT_EQ(Shown(9001011234567, u";;;"), "9001011234567");
    EXPECT_EQ(Shown(-9001011234567, u"0;\"hidden\""), "hidden -9001011234567");
    EXPECT_EQ(Shown(95, u"[>=90]\"Excellent\";[>=70]\"Good\";\"Poor\""), "Excellent 95");
    EXPECT_EQ(Shown(0, u";;;"), "");
}

TEST(NumberAsShown, RandomCodesFromFormatCharacters)
{
    // Codes made of the characters that mean something in a format, over
    // awkward values: every call returns, and the text of a number never
    // grows beyond what its digits and the code can give.
    const char16_t alphabet[] = u"0#?.,%E+-/@;[]<>=$\"\\_*hmsdyGenral 19";
    const size_t letters = sizeof alphabet / sizeof alphabet[0] - 1;
    const double values[] = {0.0, -0.0, 1.0, -1.0, 0.5, -2.675, 1234567.891, 9001011234567.0, 1e-300, 5e-324,
                             1e300, -1.7e308, 0.999999999999999, 1.0 / 3.0};
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int round = 0; round < 20000; ++round) {
        std::u16string code;
        const size_t length = next() % 40;
        for (size_t i = 0; i < length; ++i)
            code += alphabet[next() % letters];
        for (double v : values) {
            const auto shown = FormatNumberAsShown(v, code);
            if (shown) {
                ASSERT_LT(shown->size(), 2000u) << Narrow(code);
            }
        }
    }
}

TEST(NumberAsShown, BuiltinCodes)
{
    EXPECT_EQ(Shown(1234.5, BuiltinNumberFormatCode(4).c_str()), "1,234.50");
    EXPECT_EQ(Shown(0.25, BuiltinNumberFormatCode(9).c_str()), "25%");
    EXPECT_EQ(Shown(-1234, BuiltinNumberFormatCode(37).c_str()), "(1,234)");
    EXPECT_EQ(Shown(0.5, BuiltinNumberFormatCode(13).c_str()), "1/2");
    EXPECT_TRUE(BuiltinNumberFormatCode(0).empty());
    EXPECT_TRUE(BuiltinNumberFormatCode(14).empty());
    EXPECT_TRUE(BuiltinNumberFormatCode(-1).empty());
}

}  // namespace
