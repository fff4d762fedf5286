#include "platform/wformat.h"

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <string_view>

#include "platform/codec.h"
#include "platform/text.h"

namespace plat {

namespace {

enum class Size { Default, Char, Short, Long32, Long64, SizeT, IntMax, PtrDiff, LongDouble, Wide, Narrow };

struct ConvSpec {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    int width = 0;
    int precision = -1;
    Size size = Size::Default;
};

// The "C" locale, created once, used per call with uselocale (thread-local:
// the process locale is never touched).
locale_t CLocale()
{
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

int ClampField(long long v)
{
    if (v < 0) return 0;
    return v > kMaxFieldWidth ? kMaxFieldWidth : static_cast<int>(v);
}

void Pad(std::u16string& out, size_t n, char16_t c)
{
    out.append(n, c);
}

// Appends text padded to the width of the conversion.
void PutField(std::u16string& out, std::u16string_view text, const ConvSpec& sp)
{
    size_t w = static_cast<size_t>(sp.width);
    size_t pad = w > text.size() ? w - text.size() : 0;
    if (!sp.left) Pad(out, pad, sp.zero ? u'0' : u' ');
    out.append(text);
    if (sp.left) Pad(out, pad, u' ');
}

void PutInteger(std::u16string& out, uint64_t magnitude, bool negative, int base, bool upper,
                char16_t conv, ConvSpec sp)
{
    char16_t digits[72];
    int n = 0;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    for (uint64_t v = magnitude; v != 0; v /= static_cast<unsigned>(base))
        digits[n++] = static_cast<char16_t>(set[v % static_cast<unsigned>(base)]);

    std::u16string body;
    int minDigits = sp.precision >= 0 ? sp.precision : 1;
    if (sp.precision >= 0) sp.zero = false;
    if (n < minDigits) body.append(static_cast<size_t>(minDigits - n), u'0');
    for (int i = n - 1; i >= 0; --i) body.push_back(digits[i]);
    if (base == 8 && sp.alt && (body.empty() || body[0] != u'0')) body.insert(body.begin(), u'0');

    std::u16string prefix;
    if (conv == u'd' || conv == u'i') {
        if (negative) prefix = u"-";
        else if (sp.plus) prefix = u"+";
        else if (sp.space) prefix = u" ";
    } else if (base == 16 && sp.alt && magnitude != 0) {
        prefix = upper ? u"0X" : u"0x";
    }

    size_t len = prefix.size() + body.size();
    size_t w = static_cast<size_t>(sp.width);
    size_t pad = w > len ? w - len : 0;
    if (sp.left) {
        out += prefix;
        out += body;
        Pad(out, pad, u' ');
    } else if (sp.zero) {
        out += prefix;
        Pad(out, pad, u'0');
        out += body;
    } else {
        Pad(out, pad, u' ');
        out += prefix;
        out += body;
    }
}

void PutFloat(std::u16string& out, long double value, bool isLong, char16_t conv, const ConvSpec& sp)
{
    char fmt[32];
    size_t k = 0;
    fmt[k++] = '%';
    if (sp.left) fmt[k++] = '-';
    if (sp.plus) fmt[k++] = '+';
    if (sp.space) fmt[k++] = ' ';
    if (sp.alt) fmt[k++] = '#';
    if (sp.zero) fmt[k++] = '0';
    fmt[k++] = '*';
    fmt[k++] = '.';
    fmt[k++] = '*';
    if (isLong) fmt[k++] = 'L';
    fmt[k++] = static_cast<char>(conv);
    fmt[k] = 0;
    int precision = sp.precision;
    if (precision < 0) precision = (conv == u'a' || conv == u'A') ? -1 : 6;

    locale_t old = uselocale(CLocale());
    char small[128];
    int len = isLong ? snprintf(small, sizeof small, fmt, sp.width, precision, value)
                     : snprintf(small, sizeof small, fmt, sp.width, precision, static_cast<double>(value));
    std::string text;
    if (len >= 0 && static_cast<size_t>(len) < sizeof small) {
        text.assign(small, static_cast<size_t>(len));
    } else if (len > 0) {
        text.resize(static_cast<size_t>(len) + 1);
        int len2 = isLong ? snprintf(text.data(), text.size(), fmt, sp.width, precision, value)
                          : snprintf(text.data(), text.size(), fmt, sp.width, precision,
                                     static_cast<double>(value));
        text.resize(len2 > 0 ? std::min(static_cast<size_t>(len2), text.size() - 1) : 0);
    }
    uselocale(old);
    for (char c : text) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
}

// Reads digits or '*' for a width or precision.
int ReadCount(const char16_t*& p, va_list& ap, bool* fromArgNegative)
{
    if (*p == u'*') {
        ++p;
        int v = va_arg(ap, int);
        if (v < 0 && fromArgNegative) *fromArgNegative = true;
        return v;
    }
    long long v = 0;
    while (*p >= u'0' && *p <= u'9') {
        if (v <= kMaxFieldWidth) v = v * 10 + (*p - u'0');
        ++p;
    }
    return ClampField(v);
}

void FormatInto(std::u16string& out, const char16_t* format, va_list& ap)
{
    if (!format) return;
    const char16_t* p = format;
    while (*p) {
        if (*p != u'%') {
            const char16_t* q = p;
            while (*q && *q != u'%') ++q;
            out.append(p, static_cast<size_t>(q - p));
            p = q;
            continue;
        }
        const char16_t* start = p;
        ++p;
        if (*p == u'%') {
            out.push_back(u'%');
            ++p;
            continue;
        }
        ConvSpec sp;
        for (;; ++p) {
            if (*p == u'-') sp.left = true;
            else if (*p == u'+') sp.plus = true;
            else if (*p == u' ') sp.space = true;
            else if (*p == u'#') sp.alt = true;
            else if (*p == u'0') sp.zero = true;
            else break;
        }
        bool negWidth = false;
        int w = ReadCount(p, ap, &negWidth);
        if (negWidth) {
            sp.left = true;
            long long lw = -static_cast<long long>(w);
            w = ClampField(lw);
        }
        sp.width = ClampField(w);
        if (*p == u'.') {
            ++p;
            bool negPrec = false;
            int pr = ReadCount(p, ap, &negPrec);
            sp.precision = negPrec ? -1 : ClampField(pr);
        }
        if (sp.left) sp.zero = false;

        // Size prefixes.
        if (p[0] == u'h' && p[1] == u'h') { sp.size = Size::Char; p += 2; }
        else if (p[0] == u'h') { sp.size = Size::Short; ++p; }
        else if (p[0] == u'l' && p[1] == u'l') { sp.size = Size::Long64; p += 2; }
        else if (p[0] == u'l') { sp.size = Size::Long32; ++p; }
        else if (p[0] == u'w') { sp.size = Size::Wide; ++p; }
        else if (p[0] == u'L') { sp.size = Size::LongDouble; ++p; }
        else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') { sp.size = Size::Long64; p += 3; }
        else if (p[0] == u'I' && p[1] == u'3' && p[2] == u'2') { sp.size = Size::Long32; p += 3; }
        else if (p[0] == u'I') { sp.size = Size::SizeT; ++p; }
        else if (p[0] == u'z') { sp.size = Size::SizeT; ++p; }
        else if (p[0] == u'j') { sp.size = Size::IntMax; ++p; }
        else if (p[0] == u't') { sp.size = Size::PtrDiff; ++p; }

        char16_t conv = *p;
        if (conv == 0) {
            // A conversion cut short by the end of the format: copy it as it stands.
            out.append(start, static_cast<size_t>(p - start));
            break;
        }
        ++p;
        switch (conv) {
        case u'd':
        case u'i': {
            long long v;
            switch (sp.size) {
            case Size::Char: v = static_cast<signed char>(va_arg(ap, int)); break;
            case Size::Short: v = static_cast<short>(va_arg(ap, int)); break;
            case Size::Long64: v = va_arg(ap, long long); break;
            case Size::SizeT: v = static_cast<long long>(va_arg(ap, ptrdiff_t)); break;
            case Size::IntMax: v = static_cast<long long>(va_arg(ap, intmax_t)); break;
            case Size::PtrDiff: v = static_cast<long long>(va_arg(ap, ptrdiff_t)); break;
            default: v = va_arg(ap, int); break;
            }
            uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
            PutInteger(out, mag, v < 0, 10, false, conv, sp);
            break;
        }
        case u'u':
        case u'o':
        case u'x':
        case u'X': {
            uint64_t v;
            switch (sp.size) {
            case Size::Char: v = static_cast<unsigned char>(va_arg(ap, unsigned)); break;
            case Size::Short: v = static_cast<unsigned short>(va_arg(ap, unsigned)); break;
            case Size::Long64: v = va_arg(ap, unsigned long long); break;
            case Size::SizeT: v = va_arg(ap, size_t); break;
            case Size::IntMax: v = static_cast<uint64_t>(va_arg(ap, uintmax_t)); break;
            case Size::PtrDiff: v = static_cast<uint64_t>(va_arg(ap, ptrdiff_t)); break;
            default: v = va_arg(ap, unsigned); break;
            }
            int base = conv == u'u' ? 10 : conv == u'o' ? 8 : 16;
            PutInteger(out, v, false, base, conv == u'X', conv, sp);
            break;
        }
        case u'p': {
            uintptr_t v = reinterpret_cast<uintptr_t>(va_arg(ap, void*));
            ConvSpec ps = sp;
            ps.precision = static_cast<int>(2 * sizeof(void*));
            ps.alt = false;
            PutInteger(out, v, false, 16, true, u'p', ps);
            break;
        }
        case u'c':
        case u'C': {
            bool narrow = sp.size == Size::Short || sp.size == Size::Char ||
                          (conv == u'C' && sp.size != Size::Long32 && sp.size != Size::Wide);
            int v = va_arg(ap, int);
            char16_t c;
            if (narrow) {
                char b = static_cast<char>(v);
                std::u16string d = DecodeCodePage(kCpAcp, std::string_view(&b, 1));
                c = d.empty() ? u'?' : d[0];
            } else {
                c = static_cast<char16_t>(v);
            }
            ConvSpec cs = sp;
            cs.zero = false;
            PutField(out, std::u16string_view(&c, 1), cs);
            break;
        }
        case u's':
        case u'S': {
            bool narrow = sp.size == Size::Short || sp.size == Size::Char ||
                          (conv == u'S' && sp.size != Size::Long32 && sp.size != Size::Wide);
            ConvSpec ss = sp;
            ss.zero = false;
            std::u16string text;
            if (narrow) {
                const char* s = va_arg(ap, const char*);
                if (!s) {
                    text = u"(null)";
                } else {
                    size_t n = sp.precision >= 0 ? strnlen(s, static_cast<size_t>(sp.precision))
                                                 : strlen(s);
                    text = DecodeCodePage(kCpAcp, std::string_view(s, n));
                }
            } else {
                const char16_t* s = va_arg(ap, const char16_t*);
                if (!s) {
                    text = u"(null)";
                } else {
                    size_t n = 0;
                    if (sp.precision >= 0) {
                        while (n < static_cast<size_t>(sp.precision) && s[n]) ++n;
                    } else {
                        n = WideLength(s);
                    }
                    text.assign(s, n);
                }
            }
            if (sp.precision >= 0 && text.size() > static_cast<size_t>(sp.precision))
                text.resize(static_cast<size_t>(sp.precision));
            PutField(out, text, ss);
            break;
        }
        case u'f':
        case u'F':
        case u'e':
        case u'E':
        case u'g':
        case u'G':
        case u'a':
        case u'A': {
            bool isLong = sp.size == Size::LongDouble;
            long double v = isLong ? va_arg(ap, long double) : va_arg(ap, double);
            PutFloat(out, v, isLong, conv, sp);
            break;
        }
        case u'n':
            // Never writes through the pointer: the argument is skipped.
            (void)va_arg(ap, void*);
            break;
        default:
            out.append(start, static_cast<size_t>(p - start));
            break;
        }
    }
}

}  // namespace

std::u16string FormatWideV(const char16_t* format, va_list args)
{
    std::u16string out;
    va_list ap;
    va_copy(ap, args);
    FormatInto(out, format, ap);
    va_end(ap);
    return out;
}

std::u16string FormatWide(const char16_t* format, ...)
{
    va_list ap;
    va_start(ap, format);
    std::u16string s = FormatWideV(format, ap);
    va_end(ap);
    return s;
}

int FormatWideToV(char16_t* buffer, size_t count, const char16_t* format, va_list args)
{
    if (!buffer || count == 0) return -1;
    std::u16string s = FormatWideV(format, args);
    if (s.size() >= count) {
        std::memcpy(buffer, s.data(), (count - 1) * sizeof(char16_t));
        buffer[count - 1] = 0;
        return -1;
    }
    std::memcpy(buffer, s.data(), s.size() * sizeof(char16_t));
    buffer[s.size()] = 0;
    return static_cast<int>(s.size());
}

int FormatWideTo(char16_t* buffer, size_t count, const char16_t* format, ...)
{
    va_list ap;
    va_start(ap, format);
    int n = FormatWideToV(buffer, count, format, ap);
    va_end(ap);
    return n;
}

}  // namespace plat
