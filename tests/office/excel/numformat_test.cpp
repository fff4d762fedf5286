#include "office/excel/numformat.h"

#include <gtest/gtest.h>

#include <locale.h>
#include <string>

#include "platform/text.h"

namespace {

std::string Pattern(double v, const char16_t* p)
{
    return plat::WideToUtf8(FormatNumberByPattern(v, std::u16string(p)));
}

std::string Builtin(double v, int id)
{
    return plat::WideToUtf8(FormatNumberByBuiltinFormat(v, id));
}

TEST(NumberFormat, BuiltinFormats)
{
    const struct {
        double value;
        int id;
        const char* expected;
    } cases[] = {
        {1234567.891, 0, "1234568"},
        {1234567.891, 2, "1234567.89"},
        {1234567, 3, "1,234,567"},
        {-1234.567, 4, "-1,234.57"},
        {0.5, 9, "50%"},
        {0.1234, 10, "12.34%"},
        {45000, 14, "03/15/2023"},
        {45000, 15, "15-Mar-23"},
        {45000, 16, "15-Mar"},
        {45000, 17, "Mar-23"},
        {0.75, 18, "6: 0 PM"},
        {0.3, 18, "7:12 AM"},
        {5, 5, ""},
        {5, 8, ""},
        {12345, 11, "1.23E+04"},
        {60, 14, "02/29/1900"},
        {61, 14, "03/01/1900"},
        {1, 14, "01/01/1900"},
        {2958465, 14, "12/31/9999"},
        {45000, 50, ""},
        {45000, -1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Builtin(c.value, c.id), c.expected) << c.id << " " << c.value;
}

TEST(NumberFormat, Patterns)
{
    const struct {
        double value;
        const char16_t* pattern;
        const char* expected;
    } cases[] = {
        {1234.56, u"#,##0", "1,235"},
        {1234.567, u"0.00", "1234.57"},
        {1234, u"#,#", "1,234"},
        {12345.678, u"0.00E+00", "1.23E+04"},
        {12345.678, u"##0.0E+0", "12.3E+3"},
        {3.75, u"0;(0)", "4"},
        {0.1234, u"0.0%", "12.3%"},
        {45000, u"dd\\.mm\\.yyyy", "15.03.2023"},
        {45000, u"\"day\" d", "day 15"},
        {1.5, u"[Red]0.00", "1.50"},
        {1234, u"_(#,##0_);(#,##0)", " 1,234 "},  // "_(" and "_)" leave a space each
        {1234.5, u"[$\u20AC-407]#,##0.00", "\u20AC1,234.50"},
        {1234, u"* #,##0", "1,234"},
        {5, u"0\"d\"", "5d"},
        {0.5, u"#,##0%", "50%"},
        {1234, u"#,##0\"원\"", "1,234원"},
        {1234, u"\"a\\b\"0", "a\xE2\x82\xA9" "b1234"},
        {45000, u"dddd,\\ mmmm\\ dd,\\ yyyy", "수요일, March 15, 2023"},
        {45000, u"yyyy-mm-dd", "2023-03-15"},
        {45270, u"d mmmm yyyy", "10 December 2023"},
        {45240, u"mmmm d", "November 10"},
        {0.5, u"hh:mm:ss\\ AM/PM", " 0: 0: 0 PM"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Pattern(c.value, c.pattern), c.expected) << plat::WideToUtf8(c.pattern);
}

TEST(NumberFormat, DateFormatsOfSerialsBeyondTheLastDate)
{
    // A serial past 9999-12-31 is no date, however large it is.
    for (double value : {2958466.0, 1e12, 5.97e154, 1.7e308})
        EXPECT_EQ(Pattern(value, u"yyyy-mm-dd"), Pattern(2958466.0, u"yyyy-mm-dd")) << value;
}

TEST(NumberFormat, DigitMasksKeepEveryDigit)
{
    const struct {
        double value;
        const char16_t* pattern;
        const char* expected;
    } cases[] = {
        {8001011234567, u"000000-0000000", "800101-1234567"},
        {1012345678, u"000-0000-0000", "010-1234-5678"},
        {21234567, u"00-000-0000", "02-123-4567"},
        {123456, u"000-000", "123-456"},
        {12345678, u"000-000", "12345-678"},
        {5, u"000", "005"},
        {123456, u"000", "123456"},
        {1234567890123, u"0000-0000-0000-0000", "0001-2345-6789-0123"},
        {110123456789, u"000\\-000000\\-00000", "001-101234-56789"},
        {-42, u"0000", "-0042"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Pattern(c.value, c.pattern), c.expected) << plat::WideToUtf8(c.pattern);
}

TEST(NumberFormat, Classification)
{
    EXPECT_TRUE(IsDigitMaskPattern(u"000-0000-0000"));
    EXPECT_TRUE(IsDigitMaskPattern(u"000000\\-0000000"));
    EXPECT_TRUE(IsDigitMaskPattern(u"0"));
    EXPECT_FALSE(IsDigitMaskPattern(u"#,##0"));
    EXPECT_FALSE(IsDigitMaskPattern(u"0.00"));
    EXPECT_FALSE(IsDigitMaskPattern(u"General"));
    EXPECT_FALSE(IsDigitMaskPattern(u"yyyy-mm-dd"));
    EXPECT_TRUE(IsDateFormatPattern(u"yyyy-mm-dd"));
    EXPECT_TRUE(IsDateFormatPattern(u"[h]:mm"));
    EXPECT_TRUE(IsDateFormatPattern(u"[$-412]yyyy\"년\" m\"월\""));
    EXPECT_FALSE(IsDateFormatPattern(u"\"days\" 0"));
    EXPECT_FALSE(IsDateFormatPattern(u"[Red]0.00"));
    EXPECT_FALSE(IsDateFormatPattern(u"General"));
    EXPECT_TRUE(IsBuiltinDateFormat(14));
    EXPECT_FALSE(IsBuiltinDateFormat(0));
    EXPECT_FALSE(IsBuiltinDateFormat(49));
}

TEST(NumberFormat, RefStringAndHostileValues)
{
    CRefString out;
    FormatNumberByPattern(5, u"000", out);
    EXPECT_EQ(std::u16string(out.GetString()), u"005");
    FormatNumberByBuiltinFormat(1234567, 3, out);
    EXPECT_EQ(std::u16string(out.GetString()), u"1,234,567");
    ExcelNumberFormatter f;
    f.FormatNumberByBuiltinFormat(0.5, 9, out);
    EXPECT_EQ(std::u16string(out.GetString()), u"50%");
    FormatNumberByPattern(1, nullptr, out);
    EXPECT_EQ(std::u16string(out.GetString()), u"");

    // Values far outside dates, huge numbers, infinities: some text, no crash.
    for (double v : {1e300, -1e300, 1e20, -0.5, 3e9})
        for (const char16_t* p : {u"yyyy-mm-dd hh:mm", u"0.00", u"000-000", u"#,##0", u"@"})
            FormatNumberByPattern(v, std::u16string(p));
    EXPECT_EQ(Pattern(1e20, u"#,##0"), "100,000,000,000,000,000,000");
}

TEST(NumberFormat, IndependentOfTheThreadLocale)
{
    // The thread's locale is switched, never the process locale.
    locale_t german = newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(0));
    if (!german)
        GTEST_SKIP() << "no German locale";
    locale_t previous = uselocale(german);
    EXPECT_EQ(Pattern(1234.567, u"0.00"), "1234.57");
    EXPECT_EQ(Builtin(1234.5, 2), "1234.50");
    uselocale(previous);
    freelocale(german);
}

}  // namespace

namespace {

// An "m" right after an hour or right before a second is a minute; every
// other "m" is a month, also when the value has a time of day.
TEST(NumberFormat, MinutesAndMonths)
{
    const struct {
        double value;
        const char16_t* pattern;  // null: built-in id
        int id;
        const char* expected;
    } cases[] = {
        {45000.25, u"yyyy-mm-dd hh:mm", 0, "2023-03-15  6: 0"},
        {45000.7378, u"dd/mm/yyyy", 0, "15/03/2023"},
        {45000.25, u"YYYY-MM-DD", 0, "2023-03-15"},
        {45000.5 + 65.0 / 86400, u"m/d h:m:s", 0, "3/15 12:1:5"},
        {45000.5 + 65.0 / 86400, u"mm:ss", 0, " 1: 5"},
        {45000.25, u"d-mmm-yy h:mm AM/PM", 0, "15-Mar-23 6: 0 AM"},
        {45000.5, nullptr, 14, "03/15/2023"},
        {45000, nullptr, 22, "3/15/23 0: 0"},
        {0.75, nullptr, 18, "6: 0 PM"},
    };
    for (const auto& c : cases) {
        const std::string got = c.pattern ? Pattern(c.value, c.pattern) : Builtin(c.value, c.id);
        EXPECT_EQ(got, c.expected) << (c.pattern ? plat::WideToUtf8(c.pattern) : std::to_string(c.id));
    }
}

}  // namespace

namespace {

// Digits are rounded from the value's 15-digit decimal form, halves away
// from zero, as a workbook shows them (printf would round the binary value).
TEST(NumberFormat, RoundsAsTheWorkbookShows)
{
    EXPECT_EQ(Pattern(1.26805, u"0.0000"), "1.2681");
    EXPECT_EQ(Pattern(999.995, u"#,##0.00"), "1,000.00");
    EXPECT_EQ(Pattern(0.5, u"0"), "1");
    EXPECT_EQ(Pattern(-0.004, u"0.00"), "0.00");
    EXPECT_EQ(Pattern(0.0123, u"0.000"), "0.012");
    EXPECT_EQ(Pattern(7, u"0.0"), "7.0");
    EXPECT_EQ(Builtin(2.5, 1), "3");
    EXPECT_EQ(Builtin(-2.5, 1), "-3");
    EXPECT_EQ(Builtin(0.125, 2), "0.13");
    EXPECT_EQ(Builtin(1.005, 2), "1.01");
    EXPECT_EQ(Builtin(0.00125, 10), "0.13%");
    EXPECT_EQ(Builtin(123456789012.5, 3), "123,456,789,013");
    EXPECT_EQ(Builtin(0, 2), "0.00");
}

}  // namespace

namespace {

// A negative value shows in the second section without its sign, zero in
// the third; an empty section gives way to the first.
TEST(NumberFormat, SectionsByTheSignOfTheValue)
{
    const char16_t* accounting = u"_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"??_);_(@_)";
    EXPECT_EQ(Pattern(1234, accounting), " $1,234 ");
    EXPECT_EQ(Pattern(-1234, accounting), " $(1,234)");
    EXPECT_EQ(Pattern(0, accounting), " $-   ");
    EXPECT_EQ(Pattern(-3.75, u"0;(0)"), "(4)");
    EXPECT_EQ(Pattern(-3.75, u"0.0;\"minus \"0.0;\"nil\""), "minus 3.8");
    EXPECT_EQ(Pattern(0, u"0.0;\"minus \"0.0;\"nil\""), "nil");
    EXPECT_EQ(Pattern(-5, u"0;;"), "-5");
    EXPECT_EQ(Pattern(-5, u"\"a;b\"0"), "a;b-5");
}

}  // namespace

namespace {

// A negative value that the first section shows carries its minus sign in
// front of the whole text.
TEST(NumberFormat, MinusSignInFrontOfTheFirstSection)
{
    EXPECT_EQ(Pattern(-7500, u"\"$\"#,##0"), "-$7,500");
    EXPECT_EQ(Pattern(-0.25, u"0.0%"), "-25.0%");
    EXPECT_EQ(Pattern(-1234.5, u"#,##0.00\\ \"EUR\""), "-1,234.50 EUR");
    EXPECT_EQ(Pattern(-0.004, u"\"$\"0.00"), "$0.00");
}

}  // namespace
