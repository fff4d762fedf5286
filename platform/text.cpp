#include "platform/text.h"

namespace plat {

WString Utf8ToWide(std::string_view s)
{
    WString out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        unsigned char b = p[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int len = 0;
        uint32_t cp = 0;
        uint32_t min = 0;
        if (b >= 0xC2 && b <= 0xDF) { len = 2; cp = b & 0x1F; min = 0x80; }
        else if (b >= 0xE0 && b <= 0xEF) { len = 3; cp = b & 0x0F; min = 0x800; }
        else if (b >= 0xF0 && b <= 0xF4) { len = 4; cp = b & 0x07; min = 0x10000; }
        bool ok = len > 0 && i + len <= n;
        for (int k = 1; ok && k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            ok = false;
        if (!ok) {
            out.push_back(static_cast<char16_t>(0xDC00 + b));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string WideToUtf8(WStringView w)
{
    std::string out;
    out.reserve(w.size() * 3 / 2 + 1);
    auto put = [&out](uint32_t cp) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    };
    for (size_t i = 0; i < w.size(); ++i) {
        char16_t c = w[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
            put(0x10000 + ((uint32_t(c) - 0xD800) << 10) + (uint32_t(w[i + 1]) - 0xDC00));
            ++i;
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            out.push_back(static_cast<char>(c - 0xDC00));  // a raw byte kept from a file name
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            put(0xFFFD);
        } else {
            put(c);
        }
    }
    return out;
}

char16_t ToUpperAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }
char16_t ToLowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

WString ToUpperAscii(WStringView s)
{
    WString r(s);
    for (auto& c : r) c = ToUpperAscii(c);
    return r;
}

WString ToLowerAscii(WStringView s)
{
    WString r(s);
    for (auto& c : r) c = ToLowerAscii(c);
    return r;
}

bool EqualsNoCase(WStringView a, WStringView b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i]))
            return false;
    return true;
}

size_t WideLength(const char16_t* s)
{
    size_t n = 0;
    if (s)
        while (s[n]) ++n;
    return n;
}

WString AsciiToWide(std::string_view a)
{
    return WString(a.begin(), a.end());
}

namespace {

bool NeedsEscape(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == u'\\';
}

int HexValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

}  // namespace

WString EscapeLine(WStringView text, bool reversible)
{
    static const char16_t kHex[] = u"0123456789ABCDEF";
    WString out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (!NeedsEscape(c) || (c == u'\\' && !reversible)) {
            out += c;
        } else if (c == u'\\') {
            out += u"\\\\";
        } else if (c <= 0xFF) {
            out += u"\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += u"\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += kHex[(c >> shift) & 0xF];
        }
    }
    return out;
}

WString UnescapeLine(WStringView line)
{
    WString out;
    out.reserve(line.size());
    for (size_t i = 0; i < line.size(); ++i) {
        const char16_t c = line[i];
        if (c != u'\\' || i + 1 >= line.size()) {
            out += c;
            continue;
        }
        const char16_t kind = line[i + 1];
        if (kind == u'\\') {
            out += u'\\';
            ++i;
            continue;
        }
        const size_t digits = kind == u'x' ? 2 : kind == u'u' ? 4 : 0;
        unsigned value = 0;
        bool ok = digits != 0 && i + 1 + digits < line.size();
        for (size_t d = 0; ok && d < digits; ++d) {
            const int h = HexValue(line[i + 2 + d]);
            ok = h >= 0;
            value = value * 16 + static_cast<unsigned>(h < 0 ? 0 : h);
        }
        if (!ok) {
            out += c;
            continue;
        }
        out += static_cast<char16_t>(value);
        i += 1 + digits;
    }
    return out;
}

}  // namespace plat
