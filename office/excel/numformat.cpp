#include "office/excel/numformat.h"
#include "office/excel/numshown.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <locale.h>

namespace {

using U16 = std::u16string;

const char* const kBuiltin[50] = {
    "_CHANGE_%.0f", "_CHANGE_%.0f", "_CHANGE_%.2f", "_CHANGE_COMMA%.0f", "_CHANGE_COMMA%.2f",
    "", "", "", "", "_CHANGE_%.0f%%",
    "_CHANGE_%.2f%%", "0.00E+00", "# ?/?", "# ?\?/??", "mm/dd/yyyy",
    "d-mmm-yy", "d-mmm", "mmm-yy", "h:mm AM/PM", "h:mm:ss AM/PM",
    "h:mm", "h:mm:ss", "m/d/yy h:mm", "", "",
    "", "", "", "", "",
    "", "", "", "", "",
    "", "", "_(#,##0_);(#,##0)", "_(#,##0_);[Red](#,##0)", "_(#,##0.00_);(#,##0.00)",
    "_(#,##0.00_);[Red](#,##0.00)", "", "", "", "",
    "mm:ss", "[h]:mm:ss", "mm:ss.0", "##0.0E+0", "_CHANGE_%.0f",
};

const char16_t* const kMonthFull[13] = {u"EMPTY", u"January", u"February", u"March", u"April",
                                        u"May", u"June", u"July", u"August", u"September",
                                        u"October", u"November", u"December"};
const char16_t* const kMonthShort[13] = {u"EMP", u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                         u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
const char16_t* const kWeekFull[7] = {u"일요일", u"월요일", u"화요일", u"수요일", u"목요일", u"금요일", u"토요일"};
const char16_t* const kWeekShort[7] = {u"일", u"월", u"화", u"수", u"목", u"금", u"토"};

// Marks substituted names so that later substitutions leave them alone
// (month names hold letters such as "m" and "d").
constexpr char16_t kNameMark = 0xE000;
// Text placeholder "@".
constexpr char16_t kTextMark = 0xE001;

U16 Ascii(const char* s)
{
    U16 r;
    while (*s)
        r += static_cast<char16_t>(static_cast<unsigned char>(*s++));
    return r;
}

U16 Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
U16 Printf(const char* format, ...)
{
    // Numbers are written the same whatever the process locale is.
    static thread_local locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    struct LocaleScope {
        locale_t previous;
        explicit LocaleScope(locale_t l) : previous(l ? uselocale(l) : static_cast<locale_t>(0)) {}
        ~LocaleScope() { if (previous) uselocale(previous); }
    } scope(cLocale);
    char buffer[512];
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, ap);
    va_end(ap);
    if (n < 0)
        return U16();
    if (static_cast<size_t>(n) < sizeof buffer)
        return Ascii(buffer);
    std::string big(static_cast<size_t>(n) + 1, '\0');
    va_start(ap, format);
    std::vsnprintf(big.data(), big.size(), format, ap);
    va_end(ap);
    big.resize(static_cast<size_t>(n));
    return Ascii(big.c_str());
}

// value with the given number of decimals, padded with spaces on the left
// to width. The digits are rounded as a spreadsheet shows them: from the
// value's 15-digit decimal form, halves away from zero (1.26805 with four
// decimals gives 1.2681 and 2.5 with none gives 3, where printf rounds the
// binary value and gives 1.2680 and 2).
U16 Fixed(double value, int decimals, int width = 0)
{
    if (!std::isfinite(value) || std::fabs(value) >= 1e15 || decimals < 0 || decimals > 30)
        return Printf("%*.*f", width, decimals, value);
    // d.dddddddddddddde+XX, in the C locale.
    const U16 scientific = Printf("%.14e", std::fabs(value));
    std::string buffer(scientific.begin(), scientific.end());
    if (buffer.size() < 18 || buffer[1] != '.' || buffer[16] != 'e')
        return Printf("%*.*f", width, decimals, value);
    std::string digits(1, buffer[0]);
    digits.append(buffer, 2, 14);
    int point = std::atoi(buffer.c_str() + 17) + 1;  // digits before the decimal point
    const int keep = point + decimals;
    if (keep < 0) {
        digits.clear();
    } else if (keep < static_cast<int>(digits.size())) {
        const bool up = digits[static_cast<size_t>(keep)] >= '5';
        digits.resize(static_cast<size_t>(keep));
        if (up) {
            int i = keep - 1;
            for (; i >= 0 && digits[static_cast<size_t>(i)] == '9'; --i)
                digits[static_cast<size_t>(i)] = '0';
            if (i >= 0) {
                ++digits[static_cast<size_t>(i)];
            } else {
                digits.insert(digits.begin(), '1');
                ++point;
            }
        }
    }
    const int wanted = point + decimals;
    if (wanted > 0 && static_cast<int>(digits.size()) < wanted)
        digits.append(static_cast<size_t>(wanted - static_cast<int>(digits.size())), '0');
    // Integer part, then the decimals (zeros before the digits when the
    // number is below 1).
    std::string text;
    if (point > 0)
        text = digits.substr(0, std::min(digits.size(), static_cast<size_t>(point)));
    else
        text = "0";
    if (decimals > 0) {
        text += '.';
        for (int i = 0; i < decimals; ++i) {
            const int at = point + i;
            text += at >= 0 && at < static_cast<int>(digits.size()) ? digits[static_cast<size_t>(at)] : '0';
        }
    }
    if (value < 0 && text.find_first_not_of("0.") != std::string::npos)
        text.insert(text.begin(), '-');
    if (static_cast<int>(text.size()) < width)
        text.insert(0, static_cast<size_t>(width - static_cast<int>(text.size())), ' ');
    return Ascii(text.c_str());
}

bool Contains(const U16& s, const char16_t* what)
{
    return s.find(what) != U16::npos;
}

void ReplaceAll(U16& s, const U16& from, const U16& to)
{
    if (from.empty())
        return;
    size_t pos = 0;
    while ((pos = s.find(from, pos)) != U16::npos) {
        s.replace(pos, from.size(), to);
        pos += to.size();
    }
}

bool IsSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == 0x0B || c == 0x0C;
}

void Trim(U16& s)
{
    size_t b = 0;
    while (b < s.size() && IsSpace(s[b]))
        ++b;
    size_t e = s.size();
    while (e > b && IsSpace(s[e - 1]))
        --e;
    s = s.substr(b, e - b);
}

// Thousands separators in the integer digits of the number in s; text
// around the number (a sign, a unit, a percent sign) is not counted.
void InsertSeparators(U16& s)
{
    size_t begin = 0;
    while (begin < s.size() && !(s[begin] >= u'0' && s[begin] <= u'9'))
        ++begin;
    size_t end = begin;
    while (end < s.size() && s[end] >= u'0' && s[end] <= u'9')
        ++end;
    if (end - begin <= 3)
        return;
    U16 digits;
    const size_t n = end - begin;
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            digits += u',';
        digits += s[begin + i];
    }
    s.replace(begin, n, digits);
}

// Day number of the 1900 date system to a date; false when out of range.
bool DayToDate(int64_t n, int* year, int* month, int* day, int* weekday)
{
    if (n < 1 || n > 2958465)  // 9999-12-31
        return false;
    *weekday = static_cast<int>((n - 1) % 7);
    if (n == 60) {
        *year = 1900, *month = 2, *day = 29;
        return true;
    }
    // Days since 1970-01-01 for the civil-date conversion.
    int64_t z = (n < 60 ? n + 1 : n) - 25569;  // day 25569 is 1970-01-01
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = static_cast<int>(y + (*month <= 2 ? 1 : 0));
    return true;
}

// Replaces every occurrence of token by a name, marked so that later
// substitutions pass over it.
void ReplaceName(U16& t, const char16_t* token, const U16& name, std::vector<U16>& names)
{
    const U16 mark{kNameMark, static_cast<char16_t>(0xE100 + names.size())};
    names.push_back(name);
    ReplaceAll(t, token, mark);
}

bool IsLetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Stands for one "m" of a minutes field.
constexpr char16_t kMinuteMark = 0xE002;

// An "m" or "mm" is a minutes field when the nearest letter before it is an
// hour field or the nearest letter after it a seconds field ("h:mm",
// "mm:ss"); any other "m" is a month. Minutes fields become marks.
void MarkMinutes(U16& t)
{
    for (size_t i = 0; i < t.size();) {
        if (t[i] != u'm') {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < t.size() && t[j] == u'm')
            ++j;
        if (j - i <= 2) {
            size_t before = i;
            while (before > 0 && !IsLetter(t[before - 1]))
                --before;
            size_t after = j;
            while (after < t.size() && !IsLetter(t[after]))
                ++after;
            if ((before > 0 && t[before - 1] == u'h') || (after < t.size() && t[after] == u's'))
                std::fill(t.begin() + static_cast<std::ptrdiff_t>(i), t.begin() + static_cast<std::ptrdiff_t>(j), kMinuteMark);
        }
        i = j;
    }
}

// Date and time letters in lower case (format codes are read without
// regard to case), except those of "AM/PM" and "A/P".
void LowerDateLetters(U16& t)
{
    for (size_t i = 0; i < t.size(); ++i) {
        if (t.compare(i, 5, u"AM/PM") == 0) {
            i += 4;
            continue;
        }
        if (t.compare(i, 3, u"A/P") == 0) {
            i += 2;
            continue;
        }
        switch (t[i]) {
        case u'Y': case u'M': case u'D': case u'H': case u'S':
            t[i] = static_cast<char16_t>(t[i] + 0x20);
            break;
        default:
            break;
        }
    }
}

void DateTimeSubstitutions(U16& t, double x)
{
    if (!std::isfinite(x))
        return;
    std::vector<U16> names;
    const double whole = std::trunc(x);
    const double fraction = x - whole;
    const int64_t total = static_cast<int64_t>(fraction / 0.000011574074074);
    int hours = static_cast<int>(total / 3600);
    const int minutes = static_cast<int>((total % 3600) / 60);
    const int seconds = static_cast<int>(total % 60);
    MarkMinutes(t);
    if (Contains(t, u"AM/PM")) {
        const bool pm = hours >= 12;
        ReplaceName(t, u"AM/PM", pm ? U16(u"PM") : U16(u"AM"), names);
        if (pm)
            hours -= 12;
    } else if (Contains(t, u"A/P")) {
        const bool pm = hours >= 12;
        ReplaceName(t, u"A/P", pm ? U16(u"P") : U16(u"A"), names);
        if (pm)
            hours -= 12;
    }
    ReplaceAll(t, u"hh", Printf("%2d", hours));
    ReplaceAll(t, u"h", Printf("%d", hours));
    ReplaceAll(t, U16(2, kMinuteMark), Printf("%2d", minutes));
    ReplaceAll(t, U16(1, kMinuteMark), Printf("%d", minutes));
    ReplaceAll(t, u"ss", Printf("%2d", seconds));
    ReplaceAll(t, u"s", Printf("%d", seconds));
    int year = 1900, month = 1, day = 0, weekday = 6;  // day 0 shows as 0 January 1900
    // Beyond the last date the serial is no date (and too large to convert).
    if (whole >= 0 && whole <= 2958465.0 &&
        (whole == 0 || DayToDate(static_cast<int64_t>(whole), &year, &month, &day, &weekday))) {
        ReplaceAll(t, u"yyyy", Printf("%d", year));
        ReplaceAll(t, u"yy", Printf("%02d", year % 100));
        ReplaceName(t, u"mmmm", kMonthFull[month], names);
        ReplaceName(t, u"mmm", kMonthShort[month], names);
        ReplaceAll(t, u"mm", Printf("%02d", month));
        ReplaceAll(t, u"m", Printf("%d", month));
        ReplaceName(t, u"dddd", kWeekFull[weekday], names);
        ReplaceName(t, u"ddd", kWeekShort[weekday], names);
        ReplaceAll(t, u"dd", Printf("%02d", day));
        ReplaceAll(t, u"d", Printf("%d", day));
    }
    // Put the names in.
    for (size_t i = 0; i < names.size(); ++i)
        ReplaceAll(t, U16{kNameMark, static_cast<char16_t>(0xE100 + i)}, names[i]);
}

// Literal text of a format (quoted text, escaped characters, currency
// symbols of brackets) stands in the working copy as one marker character
// each, so that no later substitution touches it.
constexpr char16_t kLiteralBase = 0xF000;
constexpr size_t kMaxLiterals = 0x800;

// The first section of pattern with its literals replaced by markers (their
// texts in literals), "_x" (room of the width of x) as a space, "*x" (fill)
// dropped, and brackets removed except the elapsed-time letters of [h],
// [mm], [ss] and the symbol of a currency bracket [$X-nnn].
U16 PrepareSection(const U16& pattern, std::vector<U16>& literals)
{
    U16 t;
    auto literal = [&](const U16& text) {
        if (literals.size() >= kMaxLiterals) {
            t += text;
            return;
        }
        t += static_cast<char16_t>(kLiteralBase + literals.size());
        literals.push_back(text);
    };
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        if (c == u';')
            break;
        if (c == u'"') {
            U16 text;
            for (++i; i < pattern.size() && pattern[i] != u'"'; ++i)
                text += pattern[i] == u'\\' ? static_cast<char16_t>(0x20A9) : pattern[i];
            literal(text);
        } else if (c == u'\\') {
            if (i + 1 < pattern.size())
                literal(U16(1, pattern[++i]));
        } else if (c == u'_') {
            t += u' ';
            ++i;
        } else if (c == u'*') {
            ++i;
        } else if (c == u'[') {
            const size_t close = pattern.find(u']', i);
            if (close == U16::npos)
                break;
            const U16 inner = pattern.substr(i + 1, close - i - 1);
            if (!inner.empty() && inner[0] == u'$') {
                const size_t dash = inner.find(u'-');
                const U16 symbol = inner.substr(1, dash == U16::npos ? U16::npos : dash - 1);
                if (!symbol.empty())
                    literal(symbol);
            } else if (!inner.empty() && std::all_of(inner.begin(), inner.end(), [](char16_t x) {
                           return x == u'h' || x == u'H' || x == u'm' || x == u'M' || x == u's' || x == u'S';
                       })) {
                t += inner;
            }
            i = close;
        } else if (c == u'@') {
            t += kTextMark;
        } else {
            t += c;
        }
    }
    return t;
}

void ExpandLiterals(U16& t, const std::vector<U16>& literals)
{
    U16 out;
    for (char16_t c : t) {
        if (c >= kLiteralBase && c < kLiteralBase + literals.size())
            out += literals[c - kLiteralBase];
        else
            out += c;
    }
    t.swap(out);
}

// First section with quoted text, escaped characters and [...] removed, for
// classifying a format.
U16 Skeleton(const U16& pattern)
{
    U16 t;
    bool quoted = false;
    bool bracket = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        if (quoted) {
            if (c == u'"')
                quoted = false;
            continue;
        }
        if (bracket) {
            if (c == u']')
                bracket = false;
            else
                t += c == u'h' || c == u'H' || c == u'm' || c == u'M' || c == u's' || c == u'S' ? u'h' : u' ';
            continue;
        }
        if (c == u'"')
            quoted = true;
        else if (c == u'[')
            bracket = true;
        else if (c == u'\\' || c == u'_' || c == u'*')
            ++i;  // the next character is literal (or a width/fill character)
        else if (c == u';')
            break;
        else
            t += c;
    }
    return t;
}

// The section of a format that shows value: the second one (for the value
// without its sign) for a negative value, the third for zero, else the
// first. An empty section (a hidden value) gives way to the first.
U16 ChooseSection(const U16& pattern, double& value)
{
    std::vector<U16> sections(1);
    bool quoted = false;
    bool bracket = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        if (c == u';' && !quoted && !bracket) {
            sections.emplace_back();
            continue;
        }
        sections.back() += c;
        if (quoted) {
            quoted = c != u'"';
        } else if (bracket) {
            bracket = c != u']';
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u'[') {
            bracket = true;
        } else if ((c == u'\\' || c == u'_' || c == u'*') && i + 1 < pattern.size()) {
            sections.back() += pattern[++i];
        }
    }
    if (value < 0 && sections.size() >= 2 && !sections[1].empty()) {
        value = -value;
        return sections[1];
    }
    if (value == 0 && sections.size() >= 3 && !sections[2].empty())
        return sections[2];
    return sections[0];
}

U16 FormatPattern(double value, const U16& whole)
{
    if (!std::isfinite(value))
        return Printf("%g", value);
    const U16 pattern = ChooseSection(whole, value);
    std::vector<U16> literals;
    U16 t = PrepareSection(pattern, literals);
    const U16 digits = Fixed(std::fabs(value), 0);
    const bool negative = value < 0 && digits != u"0";

    // A digit mask: every digit goes into the zeros from the right, surplus
    // digits stand before the first zero, unfilled zeros stay.
    if (IsDigitMaskPattern(pattern)) {
        size_t next = digits.size();
        size_t firstZero = U16::npos;
        for (size_t i = t.size(); i > 0; --i) {
            if (t[i - 1] != u'0')
                continue;
            firstZero = i - 1;
            if (next > 0)
                t[i - 1] = digits[--next];
        }
        if (firstZero != U16::npos) {
            t.insert(firstZero, digits.substr(0, next));
            if (negative)
                t.insert(firstZero, u"-");
        }
        ReplaceAll(t, U16(1, kTextMark), Printf("%.15g", value));
        ExpandLiterals(t, literals);
        return t;
    }

    // A negative value shown by the first section gets its minus sign in
    // front of the whole text ("-$7,500" of "$#,##0"), not inside it.
    bool minus = false;
    if (value < 0 && !IsDateFormatPattern(pattern)) {
        minus = true;
        value = -value;
    }

    // A percent sign shows the value multiplied by 100.
    if (!IsDateFormatPattern(pattern)) {
        for (char16_t c : t) {
            if (c == u'%')
                value *= 100;
        }
    }

    if (IsDateFormatPattern(pattern))
        LowerDateLetters(t);
    bool separators = false;
    if (Contains(t, u"#,#")) {
        separators = true;
        ReplaceAll(t, u"#,#", u"");
    }
    std::erase(t, u'#');
    std::erase(t, u'?');  // room for a digit, as "#" here

    const size_t dec = t.find(u"0.0");
    if (dec != U16::npos) {
        const size_t dot = dec + 1;
        size_t begin = dot;
        while (begin > 0 && t[begin - 1] == u'0')
            --begin;
        size_t end = dot + 1;
        while (end < t.size() && t[end] == u'0')
            ++end;
        const int width = static_cast<int>(dot - begin);
        const int decimals = static_cast<int>(end - dot - 1);
        t.replace(begin, end - begin, Fixed(value, decimals, width));
    } else {
        // The longest run of zeros; every occurrence receives the value.
        size_t longest = 0;
        for (size_t i = 0; i < t.size();) {
            if (t[i] != u'0') {
                ++i;
                continue;
            }
            size_t j = i;
            while (j < t.size() && t[j] == u'0')
                ++j;
            longest = std::max(longest, j - i);
            i = j;
        }
        if (longest > 0)
            ReplaceAll(t, U16(longest, u'0'), Fixed(value, 0, static_cast<int>(longest)));
    }
    if (separators) {
        Trim(t);
        InsertSeparators(t);
    } else {
        DateTimeSubstitutions(t, value);
    }
    ReplaceAll(t, U16(1, kTextMark), Printf("%.15g", minus ? -value : value));
    ExpandLiterals(t, literals);
    if (minus && std::any_of(t.begin(), t.end(), [](char16_t c) { return c >= u'1' && c <= u'9'; }))
        t.insert(t.begin(), u'-');
    return t;
}

U16 FormatBuiltin(double value, int id)
{
    if (id < 0 || id >= 50)
        return U16();
    if (!std::isfinite(value))
        return Printf("%g", value);
    std::string entry = kBuiltin[id];
    bool separators = false;
    if (entry.find("_CHANGE_COMMA") != std::string::npos) {
        entry.erase(entry.find("COMMA"), 5);
        separators = true;
    }
    if (entry.rfind("_CHANGE_", 0) == 0) {
        const double v = (id == 9 || id == 10) ? value * 100 : value;
        // Fixed print formats of the table (never text of a document).
        U16 out;
        if (id == 2 || id == 4)
            out = Fixed(v, 2);
        else if (id == 9)
            out = Fixed(v, 0) + u"%";
        else if (id == 10)
            out = Fixed(v, 2) + u"%";
        else
            out = Fixed(v, 0);
        if (separators) {
            Trim(out);
            InsertSeparators(out);
        }
        return out;
    }
    U16 t = Ascii(entry.c_str());
    DateTimeSubstitutions(t, value);
    return t;
}

}  // namespace

namespace {

// Numeric formats (grouping, decimals, percent, scientific, fractions,
// sections by sign and condition, literal text) are rendered as the workbook
// shows them; dates, times, digit masks and what that renderer declines go
// through the substitutions above.
U16 ShownOrPattern(double value, const U16& pattern)
{
    if (!pattern.empty() && !IsDateFormatPattern(pattern) && !IsDigitMaskPattern(pattern)) {
        if (auto shown = FormatNumberAsShown(value, pattern))
            return *shown;
    }
    return FormatPattern(value, pattern);
}

U16 ShownOrBuiltin(double value, int id)
{
    if (!IsBuiltinDateFormat(id)) {
        const U16 code = BuiltinNumberFormatCode(id);
        if (!code.empty()) {
            if (auto shown = FormatNumberAsShown(value, code))
                return *shown;
        }
    }
    return FormatBuiltin(value, id);
}

}  // namespace

std::u16string FormatNumberByPattern(double value, const std::u16string& pattern)
{
    return ShownOrPattern(value, pattern);
}

std::u16string FormatNumberByBuiltinFormat(double value, int id)
{
    return ShownOrBuiltin(value, id);
}

void FormatNumberByPattern(double value, const char16_t* pattern, CRefString& out)
{
    const U16 r = ShownOrPattern(value, pattern ? U16(pattern) : U16());
    out.AssignText(r.c_str());
}

void FormatNumberByBuiltinFormat(double value, int id, CRefString& out)
{
    const U16 r = ShownOrBuiltin(value, id);
    out.AssignText(r.c_str());
}

std::u16string FormatGeneralNumber(double value)
{
    if (!std::isfinite(value))
        return Printf("%g", value);
    if (value == 0)
        return u"0";
    // Whole numbers of up to 16 digits keep every digit (an account or card
    // number stored as a number).
    if (value == std::trunc(value) && std::fabs(value) < 1e16)
        return Printf("%.0f", value);
    return Printf("%.15G", value);
}

bool IsBuiltinDateFormat(int id)
{
    return (id >= 14 && id <= 22) || (id >= 45 && id <= 47);
}

bool IsDateFormatPattern(const std::u16string& pattern)
{
    const U16 s = Skeleton(pattern);
    for (char16_t c : s) {
        switch (c) {
        case u'y': case u'Y': case u'm': case u'M': case u'd': case u'D':
        case u'h': case u'H': case u's': case u'S':
            return true;
        default:
            break;
        }
    }
    return false;
}

bool IsDigitMaskPattern(const std::u16string& pattern)
{
    const U16 s = Skeleton(pattern);
    bool zero = false;
    for (char16_t c : s) {
        if (c == u'0') {
            zero = true;
            continue;
        }
        if (std::char_traits<char16_t>::find(u"#.,?%Ee@/yYmMdDhHsSgG", 21, c))
            return false;
    }
    return zero;
}
