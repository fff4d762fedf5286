#include "office/excel/numshown.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using U16 = std::u16string;

enum class Kind { Literal, Digit, Dot, Comma, Percent, Exponent, Slash, General };

struct Token {
    Kind kind;
    U16 text;        // Literal: its text; Digit: the placeholder; Exponent: its sign
};

struct Section {
    std::vector<Token> tokens;
    bool dateTime = false;
    bool text = false;       // holds "@"
    bool hasCondition = false;
    char16_t op[3] = {0, 0, 0};
    double operand = 0;
};

U16 Ascii(const char* s)
{
    U16 r;
    while (*s)
        r += static_cast<char16_t>(static_cast<unsigned char>(*s++));
    return r;
}

char16_t Lower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool StartsWithNoCase(const U16& s, size_t at, const char* word)
{
    for (size_t i = 0; word[i]; ++i) {
        if (at + i >= s.size() || Lower(s[at + i]) != static_cast<char16_t>(word[i]))
            return false;
    }
    return true;
}

// Splits a format code into its sections at semicolons outside quotes,
// escapes and brackets.
std::vector<U16> SplitSections(const U16& code)
{
    std::vector<U16> out(1);
    for (size_t i = 0; i < code.size(); ++i) {
        const char16_t c = code[i];
        if (c == u'"') {
            const size_t close = code.find(u'"', i + 1);
            const size_t end = close == U16::npos ? code.size() : close + 1;
            out.back() += code.substr(i, end - i);
            i = end - 1;
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            out.back() += code.substr(i, 2);
            ++i;
        } else if (c == u'[') {
            const size_t close = code.find(u']', i);
            const size_t end = close == U16::npos ? code.size() : close + 1;
            out.back() += code.substr(i, end - i);
            i = end - 1;
        } else if (c == u';') {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return out;
}

void AddLiteral(Section& s, const U16& text)
{
    if (!s.tokens.empty() && s.tokens.back().kind == Kind::Literal)
        s.tokens.back().text += text;
    else
        s.tokens.push_back({Kind::Literal, text});
}

bool ParseCondition(const U16& inner, Section& s)
{
    size_t i = 0;
    while (i < inner.size() && i < 2 && (inner[i] == u'<' || inner[i] == u'>' || inner[i] == u'='))
        ++i;
    if (i == 0)
        return false;
    std::string number;
    for (size_t j = i; j < inner.size(); ++j) {
        const char16_t c = inner[j];
        if (!((c >= u'0' && c <= u'9') || c == u'.' || c == u'-' || c == u'+' || c == u'e' || c == u'E'))
            return false;
        number += static_cast<char>(c);
    }
    if (number.empty())
        return false;
    char* end = nullptr;
    const double v = std::strtod(number.c_str(), &end);
    if (!end || *end)
        return false;
    s.hasCondition = true;
    s.op[0] = inner[0];
    s.op[1] = i > 1 ? inner[1] : 0;
    s.operand = v;
    return true;
}

bool Holds(const Section& s, double v)
{
    const U16 op(s.op);
    if (op == u"<")
        return v < s.operand;
    if (op == u"<=")
        return v <= s.operand;
    if (op == u">")
        return v > s.operand;
    if (op == u">=")
        return v >= s.operand;
    if (op == u"=")
        return v == s.operand;
    if (op == u"<>")
        return v != s.operand;
    return false;
}

Section ParseSection(const U16& t)
{
    Section s;
    for (size_t i = 0; i < t.size(); ++i) {
        const char16_t c = t[i];
        const char16_t l = Lower(c);
        if (c == u'"') {
            const size_t close = t.find(u'"', i + 1);
            const size_t end = close == U16::npos ? t.size() : close;
            AddLiteral(s, t.substr(i + 1, end - i - 1));
            i = end;
        } else if (c == u'\\') {
            if (i + 1 < t.size())
                AddLiteral(s, U16(1, t[++i]));
        } else if (c == u'_') {
            ++i;
            AddLiteral(s, u" ");
        } else if (c == u'*') {
            ++i;
        } else if (c == u'[') {
            const size_t close = t.find(u']', i);
            const U16 inner = t.substr(i + 1, (close == U16::npos ? t.size() : close) - i - 1);
            if (!inner.empty() && inner[0] == u'$') {
                const size_t dash = inner.find(u'-');
                AddLiteral(s, inner.substr(1, dash == U16::npos ? U16::npos : dash - 1));
            } else if (!inner.empty() && (Lower(inner[0]) == u'h' || Lower(inner[0]) == u'm' || Lower(inner[0]) == u's')) {
                s.dateTime = true;  // elapsed time
            } else {
                ParseCondition(inner, s);  // a colour or anything else shows nothing
            }
            i = close == U16::npos ? t.size() : close;
        } else if (StartsWithNoCase(t, i, "general")) {
            s.tokens.push_back({Kind::General, U16()});
            i += 6;
        } else if ((l == u'e') && i + 1 < t.size() && (t[i + 1] == u'+' || t[i + 1] == u'-')) {
            s.tokens.push_back({Kind::Exponent, U16(1, t[i + 1])});
            ++i;
        } else if (l == u'y' || l == u'm' || l == u'd' || l == u'h' || l == u's' || StartsWithNoCase(t, i, "am/pm") ||
                   StartsWithNoCase(t, i, "a/p")) {
            s.dateTime = true;
            AddLiteral(s, U16(1, c));
        } else if (c == u'0' || c == u'#' || c == u'?') {
            s.tokens.push_back({Kind::Digit, U16(1, c)});
        } else if (c == u'.') {
            s.tokens.push_back({Kind::Dot, U16()});
        } else if (c == u',') {
            s.tokens.push_back({Kind::Comma, U16()});
        } else if (c == u'%') {
            s.tokens.push_back({Kind::Percent, U16()});
        } else if (c == u'/') {
            s.tokens.push_back({Kind::Slash, U16()});
        } else if (c == u'@') {
            s.text = true;
            AddLiteral(s, u"@");
        } else {
            AddLiteral(s, U16(1, c));
        }
    }
    return s;
}

// The value with at most 15 significant digits (an integer below 2^53 with
// all of its digits), rounded half away from zero to decimals places:
// integer digits and decimals digits.
void RoundedDecimal(double v, int decimals, std::string* whole, std::string* fraction)
{
    v = std::fabs(v);
    if (!std::isfinite(v))
        v = 0;  // callers pass finite values only
    std::string digits;
    int intLen = 0;
    char buffer[400];
    if (v == std::trunc(v) && v < 9007199254740992.0) {
        std::snprintf(buffer, sizeof buffer, "%.0f", v);
        digits = buffer;
        intLen = static_cast<int>(digits.size());
    } else {
        std::snprintf(buffer, sizeof buffer, "%.14e", v);
        const std::string s = buffer;
        const size_t e = s.find('e');
        digits = s.substr(0, 1) + s.substr(2, e - 2);
        intLen = std::atoi(s.c_str() + e + 1) + 1;
        if (intLen <= 0) {
            digits.insert(0, static_cast<size_t>(-intLen), '0');
            intLen = 0;
        } else if (intLen > static_cast<int>(digits.size())) {
            digits.append(static_cast<size_t>(intLen) - digits.size(), '0');
        }
    }
    const size_t keep = static_cast<size_t>(intLen + decimals);
    if (digits.size() > keep) {
        const bool up = digits[keep] >= '5';
        digits.resize(keep);
        if (up) {
            size_t i = keep;
            while (i > 0) {
                if (digits[i - 1] == '9') {
                    digits[i - 1] = '0';
                    --i;
                } else {
                    ++digits[i - 1];
                    break;
                }
            }
            if (i == 0) {
                digits.insert(digits.begin(), '1');
                ++intLen;
            }
        }
    }
    digits.resize(static_cast<size_t>(intLen + decimals), '0');
    *whole = digits.substr(0, static_cast<size_t>(intLen));
    *fraction = digits.substr(static_cast<size_t>(intLen));
    const size_t nz = whole->find_first_not_of('0');
    *whole = nz == std::string::npos ? "0" : whole->substr(nz);
}

std::string GeneralText(double v)
{
    char buffer[64];
    if (v == std::trunc(v) && std::fabs(v) < 1e15)
        std::snprintf(buffer, sizeof buffer, "%.0f", v);
    else
        std::snprintf(buffer, sizeof buffer, "%.15g", v);
    return buffer;
}

// Best fraction num/den of x in [0, 1) with den <= maxDen.
void BestFraction(double x, int64_t maxDen, int64_t* num, int64_t* den)
{
    int64_t h0 = 0, h1 = 1, k0 = 1, k1 = 0;
    double r = x;
    for (int step = 0; step < 64; ++step) {
        const double a = std::floor(r);
        if (a > 1e12)
            break;
        const int64_t ai = static_cast<int64_t>(a);
        const int64_t k2 = ai * k1 + k0;
        if (k2 > maxDen) {
            // The best semiconvergent below the bound, when it beats h1/k1.
            const int64_t t = k1 > 0 ? (maxDen - k0) / k1 : 0;
            const int64_t hs = t * h1 + h0, ks = t * k1 + k0;
            if (ks > 0 && k1 > 0 &&
                std::fabs(x - static_cast<double>(hs) / static_cast<double>(ks)) <
                    std::fabs(x - static_cast<double>(h1) / static_cast<double>(k1))) {
                h1 = hs;
                k1 = ks;
            }
            break;
        }
        const int64_t h2 = ai * h1 + h0;
        h0 = h1, h1 = h2, k0 = k1, k1 = k2;
        const double rest = r - a;
        if (rest < 1e-12)
            break;
        r = 1 / rest;
    }
    if (k1 <= 0) {
        *num = 0;
        *den = 1;
        return;
    }
    *num = h1;
    *den = k1;
}

U16 Widen(const std::string& s)
{
    return Ascii(s.c_str());
}

bool IsDigitToken(const Token& t)
{
    return t.kind == Kind::Digit;
}

// Literal text before the first and after the last placeholder.
void OuterLiterals(const Section& s, U16* before, U16* after)
{
    size_t first = s.tokens.size(), last = 0;
    for (size_t i = 0; i < s.tokens.size(); ++i) {
        if (s.tokens[i].kind != Kind::Literal && s.tokens[i].kind != Kind::Percent) {
            first = std::min(first, i);
            last = i;
        }
    }
    for (size_t i = 0; i < s.tokens.size(); ++i) {
        const Token& t = s.tokens[i];
        const U16 text = t.kind == Kind::Percent ? U16(u"%") : t.kind == Kind::Literal ? t.text : U16();
        if (i < first)
            *before += text;
        else if (i > last)
            *after += text;
    }
}

std::optional<U16> Scientific(double v, const Section& s, bool sign)
{
    if (v == std::trunc(v) && std::fabs(v) >= 1e6)
        return Widen(GeneralText(v));  // the digits of a whole number stay
    size_t expAt = 0;
    int intDigits = 0, decDigits = 0, expDigits = 0;
    bool dot = false, hash = false;
    for (size_t i = 0; i < s.tokens.size(); ++i) {
        const Token& t = s.tokens[i];
        if (t.kind == Kind::Exponent) {
            expAt = i;
            break;
        }
        if (t.kind == Kind::Dot)
            dot = true;
        else if (IsDigitToken(t)) {
            (dot ? decDigits : intDigits) += 1;
            hash = hash || (!dot && t.text == u"#");
        }
    }
    for (size_t i = expAt + 1; i < s.tokens.size(); ++i) {
        if (IsDigitToken(s.tokens[i]))
            ++expDigits;
    }
    intDigits = std::max(intDigits, 1);
    const double a = std::fabs(v);
    int exponent = 0;
    if (a > 0) {
        exponent = static_cast<int>(std::floor(std::log10(a)));
        if (hash && intDigits > 1)
            exponent = static_cast<int>(std::floor(static_cast<double>(exponent) / intDigits)) * intDigits;
        else
            exponent -= intDigits - 1;
    }
    const double scaled = a / std::pow(10.0, exponent);
    if (!std::isfinite(scaled) || exponent < -330 || exponent > 330)
        return std::nullopt;
    std::string whole, fraction;
    RoundedDecimal(scaled, decDigits, &whole, &fraction);
    if (!(hash && intDigits > 1) && static_cast<int>(whole.size()) > intDigits && a > 0) {
        ++exponent;
        RoundedDecimal(a / std::pow(10.0, exponent), decDigits, &whole, &fraction);
    }
    U16 before, after;
    OuterLiterals(s, &before, &after);
    std::string mantissa = whole;
    if (decDigits > 0)
        mantissa += "." + fraction;
    std::string exp = std::to_string(std::abs(exponent));
    if (static_cast<int>(exp.size()) < expDigits)
        exp.insert(0, static_cast<size_t>(std::min(expDigits, 16)) - std::min(exp.size(), size_t(16)), '0');
    std::string expSign = exponent < 0 ? "-" : s.tokens[expAt].text == u"+" ? "+" : "";
    return (sign ? U16(u"-") : U16()) + before + Widen(mantissa + "E" + expSign + exp) + after;
}

std::optional<U16> Fraction(double v, const Section& s, bool sign, size_t slash)
{
    // Numerator placeholders: the run right before the slash; integer
    // placeholders: any before that run, apart from it by other tokens.
    size_t numStart = slash;
    while (numStart > 0 && IsDigitToken(s.tokens[numStart - 1]))
        --numStart;
    bool hasWhole = false;
    for (size_t i = 0; i < numStart; ++i)
        hasWhole = hasWhole || IsDigitToken(s.tokens[i]);
    int denDigits = 0;
    int64_t fixedDen = 0;
    size_t denEnd = slash + 1;
    for (size_t i = slash + 1; i < s.tokens.size(); ++i, denEnd = i) {
        const Token& t = s.tokens[i];
        if (IsDigitToken(t) && t.text != u"0" && fixedDen == 0)
            ++denDigits;
        else if (t.kind == Kind::Digit || (t.kind == Kind::Literal && !t.text.empty() && t.text[0] >= u'1' && t.text[0] <= u'9')) {
            // A fixed denominator such as "?/16" (its digits are zeros or literal digits).
            for (char16_t c : t.text) {
                if (c < u'0' || c > u'9')
                    break;
                fixedDen = fixedDen * 10 + (c - u'0');
                if (fixedDen > 1000000)
                    break;
            }
        } else {
            break;
        }
    }
    const double a = std::fabs(v);
    if (!hasWhole && a > 1e15)
        return std::nullopt;
    // Without integer placeholders the whole value goes into the numerator.
    double whole = std::trunc(a);
    const double frac = a - whole;
    int64_t num = 0, den = 1;
    if (fixedDen > 0) {
        den = fixedDen;
        num = static_cast<int64_t>(std::llround(frac * static_cast<double>(den)));
    } else {
        int64_t maxDen = 1;
        for (int i = 0; i < std::clamp(denDigits, 1, 6); ++i)
            maxDen *= 10;
        BestFraction(frac, maxDen - 1, &num, &den);
    }
    if (!hasWhole) {
        if (whole * static_cast<double>(den) > 1e18)
            return std::nullopt;
        num += static_cast<int64_t>(whole) * den;
        whole = 0;
    }
    if (hasWhole && num == den) {
        whole += 1;
        num = 0;
    }
    U16 before, after;
    OuterLiterals(s, &before, &after);
    after.clear();
    for (size_t i = denEnd; i < s.tokens.size(); ++i) {
        if (s.tokens[i].kind == Kind::Literal)
            after += s.tokens[i].text;
        else if (s.tokens[i].kind == Kind::Percent)
            after += u'%';
    }
    std::string body;
    if (whole != 0 || num == 0)
        body = GeneralText(whole);
    if (num != 0) {
        if (!body.empty())
            body += " ";
        body += std::to_string(num) + "/" + std::to_string(den);
    }
    return (sign ? U16(u"-") : U16()) + before + Widen(body) + after;
}

std::optional<U16> Fixed(double v, const Section& s, bool sign)
{
    // Placeholders before the dot are the integer part, after it the decimals.
    std::vector<size_t> intPos, decPos;
    size_t dotAt = s.tokens.size();
    for (size_t i = 0; i < s.tokens.size(); ++i) {
        const Token& t = s.tokens[i];
        if (t.kind == Kind::Dot && dotAt == s.tokens.size())
            dotAt = i;
        else if (IsDigitToken(t))
            (i < dotAt ? intPos : decPos).push_back(i);
    }
    // Commas: between integer placeholders they group thousands, right
    // after the last placeholder of a part each one divides by 1000.
    bool grouping = false;
    int scale = 0, percent = 0;
    std::vector<bool> commaShown(s.tokens.size(), false);
    // digitNext[i]: a placeholder follows token i before any literal or dot.
    std::vector<bool> digitNext(s.tokens.size(), false);
    for (size_t i = s.tokens.size(), state = 0; i > 0; --i) {
        digitNext[i - 1] = state != 0;
        const Kind k = s.tokens[i - 1].kind;
        if (k == Kind::Digit)
            state = 1;
        else if (k == Kind::Literal || k == Kind::Dot)
            state = 0;
    }
    bool digitBefore = false;
    for (size_t i = 0; i < s.tokens.size(); ++i) {
        const Token& t = s.tokens[i];
        if (t.kind == Kind::Percent)
            ++percent;
        if (t.kind != Kind::Comma) {
            digitBefore = digitBefore || IsDigitToken(t);
            continue;
        }
        const bool digitAfter = digitNext[i];
        if (digitBefore && digitAfter && i < dotAt)
            grouping = true;
        else if (digitBefore && !digitAfter)
            ++scale;
        else
            commaShown[i] = true;
    }
    double x = std::fabs(v);
    for (int i = 0; i < percent && i < 4; ++i)
        x *= 100;
    for (int i = 0; i < scale && i < 6; ++i)
        x /= 1000;
    if (!std::isfinite(x))
        return std::nullopt;
    std::string whole, fraction;
    RoundedDecimal(x, static_cast<int>(decPos.size()), &whole, &fraction);
    const bool zero = whole == "0" && fraction.find_first_not_of('0') == std::string::npos;
    bool intZero = false;
    for (size_t p : intPos)
        intZero = intZero || s.tokens[p].text == u"0";
    if (whole == "0" && !intZero)
        whole.clear();  // "#.00" shows .50
    if (grouping) {
        std::string g;
        for (size_t i = 0; i < whole.size(); ++i) {
            if (i > 0 && (whole.size() - i) % 3 == 0)
                g += ',';
            g += whole[i];
        }
        whole = g;
    }
    // The integer digits go into their placeholders from the right; the
    // surplus stands at the first one.
    std::vector<U16> fill(s.tokens.size());
    if (!intPos.empty()) {
        if (grouping) {
            size_t zeros = 0;
            for (size_t p : intPos)
                zeros += s.tokens[p].text == u"0";
            std::string padded = whole;
            while (padded.size() < zeros)
                padded.insert(padded.begin(), '0');
            fill[intPos.front()] = Widen(padded);
        } else {
            size_t next = whole.size();
            for (size_t k = intPos.size(); k > 0; --k) {
                const size_t p = intPos[k - 1];
                if (next > 0)
                    fill[p] = U16(1, static_cast<char16_t>(whole[--next]));
                else if (s.tokens[p].text == u"0")
                    fill[p] = u"0";
                else if (s.tokens[p].text == u"?")
                    fill[p] = u" ";
            }
            if (next > 0)
                fill[intPos.front()] = Widen(whole.substr(0, next)) + fill[intPos.front()];
        }
    }
    // Decimals from the left; trailing zeros of "#" go, of "?" become spaces.
    size_t shown = decPos.size();
    while (shown > 0) {
        const U16& ph = s.tokens[decPos[shown - 1]].text;
        if (fraction[shown - 1] != '0' || ph == u"0")
            break;
        if (ph == u"?")
            fill[decPos[shown - 1]] = u" ";
        --shown;
    }
    for (size_t k = 0; k < shown; ++k)
        fill[decPos[k]] = U16(1, static_cast<char16_t>(fraction[k]));
    U16 out = sign && !zero ? U16(u"-") : U16();
    for (size_t i = 0; i < s.tokens.size(); ++i) {
        const Token& t = s.tokens[i];
        switch (t.kind) {
        case Kind::Literal:
            out += t.text;
            break;
        case Kind::Digit:
            out += fill[i];
            break;
        case Kind::Dot:
            out += i == dotAt ? U16(u".") : U16();
            break;
        case Kind::Comma:
            if (commaShown[i])
                out += u',';
            break;
        case Kind::Percent:
            out += u'%';
            break;
        case Kind::General:
            out += Widen(GeneralText(x));
            break;
        default:
            break;
        }
    }
    return out;
}

}  // namespace

std::optional<std::u16string> FormatNumberAsShown(double value, const std::u16string& code)
{
    if (!std::isfinite(value) || code.size() > 255)
        return std::nullopt;
    const std::vector<U16> texts = SplitSections(code);
    std::vector<Section> sections;
    for (size_t i = 0; i < texts.size() && i < 4; ++i)
        sections.push_back(ParseSection(texts[i]));
    // The section for the value; a section chosen for negative values shows
    // its own signs, so the value goes in without one.
    size_t pick = 0;
    bool sign = value < 0;
    if (sections[0].hasCondition || (sections.size() > 1 && sections[1].hasCondition)) {
        if (sections[0].hasCondition && Holds(sections[0], value)) {
            pick = 0;
        } else if (sections.size() > 1 && (!sections[1].hasCondition || Holds(sections[1], value))) {
            pick = 1;
        } else if (sections.size() > 2) {
            pick = 2;
        } else {
            return std::nullopt;
        }
        sign = value < 0 && pick == 0 && !(sections[0].op[0] == u'<');
    } else if (sections.size() >= 2 && value < 0) {
        pick = 1;
        sign = false;
    } else if (sections.size() >= 3 && value == 0) {
        pick = 2;
    }
    if (pick >= sections.size() || (sections[pick].text && pick == 3))
        return std::nullopt;
    const Section& s = sections[pick];
    if (s.dateTime)
        return std::nullopt;
    bool digits = false, general = false;
    size_t slash = s.tokens.size();
    bool exponent = false;
    for (size_t i = 0; i < s.tokens.size(); ++i) {
        const Token& t = s.tokens[i];
        digits = digits || IsDigitToken(t);
        general = general || t.kind == Kind::General;
        exponent = exponent || t.kind == Kind::Exponent;
        if (t.kind == Kind::Slash && slash == s.tokens.size() && i > 0 && IsDigitToken(s.tokens[i - 1]))
            slash = i;
    }
    if (s.text && !digits) {
        // "@" in a number's section shows the number as it stands.
        U16 out;
        for (const Token& t : s.tokens)
            out += t.kind == Kind::Literal ? t.text : U16();
        const size_t at = out.find(u'@');
        out.replace(at, 1, Widen(GeneralText(value)));
        return out;
    }
    if (!digits && !general) {
        // Literal text only: what the section says. A section that hides a
        // value other than zero (";;;", a word for a range) would take its
        // digits out of the text: the number follows the words.
        U16 out;
        for (const Token& t : s.tokens) {
            if (t.kind == Kind::Literal)
                out += t.text;
            else if (t.kind == Kind::Percent)
                out += u'%';
        }
        if (value != 0)
            out += (out.empty() ? U16() : U16(u" ")) + Widen(GeneralText(value));
        return out;
    }
    if (!digits && general) {
        U16 out = sign ? U16(u"-") : U16();
        for (const Token& t : s.tokens) {
            if (t.kind == Kind::Literal)
                out += t.text;
            else if (t.kind == Kind::Percent)
                out += u'%';
            else if (t.kind == Kind::General)
                out += Widen(GeneralText(std::fabs(value)));
        }
        return out;
    }
    if (exponent)
        return Scientific(value, s, sign);
    if (slash < s.tokens.size())
        return Fraction(value, s, sign, slash);
    return Fixed(value, s, sign);
}

std::u16string BuiltinNumberFormatCode(int id)
{
    switch (id) {
    case 1: return u"0";
    case 2: return u"0.00";
    case 3: return u"#,##0";
    case 4: return u"#,##0.00";
    case 9: return u"0%";
    case 10: return u"0.00%";
    case 11: return u"0.00E+00";
    case 12: return u"# ?/?";
    case 13: return u"# ?\?/??";
    case 37: return u"#,##0 ;(#,##0)";
    case 38: return u"#,##0 ;[Red](#,##0)";
    case 39: return u"#,##0.00;(#,##0.00)";
    case 40: return u"#,##0.00;[Red](#,##0.00)";
    case 48: return u"##0.0E+0";
    case 49: return u"@";
    default: return std::u16string();
    }
}
