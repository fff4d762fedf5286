#include "platform/codec.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <map>
#include <memory>

namespace plat {

namespace {

unsigned RealCodePage(unsigned cp)
{
    return (cp == kCpAcp || cp == kCpOem || cp == 3 /* CP_THREAD_ACP */) ? kAnsiCodePage : cp;
}

std::string IconvName(unsigned cp)
{
    switch (cp) {
    case 949: return "CP949";
    case 1361: return "JOHAB";
    case 932: return "CP932";
    case 936: return "GBK";
    case 950: return "BIG5";
    case 20127: return "ASCII";
    case 10000: return "MACINTOSH";
    case 20932: return "EUC-JP";
    case 51949: return "EUC-KR";
    case 54936: return "GB18030";
    default:
        if (cp >= 28591 && cp <= 28606)
            return "ISO-8859-" + std::to_string(cp - 28590);
        return "CP" + std::to_string(cp);
    }
}

// iconv descriptors are per thread: they carry conversion state.
class IconvCache {
public:
    ~IconvCache()
    {
        for (auto& [k, cd] : handles_)
            if (cd != reinterpret_cast<iconv_t>(-1))
                iconv_close(cd);
    }

    iconv_t Get(unsigned cp, bool decode)
    {
        unsigned key = cp * 2 + (decode ? 1 : 0);
        auto it = handles_.find(key);
        if (it != handles_.end()) {
            if (it->second != reinterpret_cast<iconv_t>(-1))
                iconv(it->second, nullptr, nullptr, nullptr, nullptr);
            return it->second;
        }
        std::string name = IconvName(cp);
        iconv_t cd = decode ? iconv_open("UTF-16LE", name.c_str()) : iconv_open(name.c_str(), "UTF-16LE");
        handles_[key] = cd;
        return cd;
    }

private:
    std::map<unsigned, iconv_t> handles_;
};

thread_local IconvCache t_iconv;

// Converts one run of bytes that are all >= 0x80 (or the whole text for code
// pages without ASCII below 0x80 guaranteed) and appends UTF-16 units.
void DecodeRun(iconv_t cd, const char* p, size_t n, WString& out)
{
    char16_t buf[512];
    while (n > 0) {
        char* in = const_cast<char*>(p);
        size_t inLeft = n;
        char* o = reinterpret_cast<char*>(buf);
        size_t oLeft = sizeof(buf);
        size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        size_t produced = (sizeof(buf) - oLeft) / 2;
        out.append(buf, produced);
        size_t used = n - inLeft;
        p += used;
        n -= used;
        if (r != static_cast<size_t>(-1) || n == 0)
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ or EINVAL: substitute. A lead byte followed by a byte in the
        // trail range is taken as one unmapped character, otherwise only the
        // lead byte is dropped.
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        out.push_back(kDecodeSubstitute);
        size_t skip = 1;
        if (n >= 2 && static_cast<unsigned char>(p[1]) >= 0x41)
            skip = 2;
        p += skip;
        n -= skip;
    }
}

void DecodeUtf8(std::string_view bytes, WString& out)
{
    // Windows substitutes U+FFFD for invalid UTF-8.
    const WString w = Utf8ToWide(bytes);
    out.reserve(out.size() + w.size());
    for (char16_t c : w)
        out.push_back(c >= 0xDC80 && c <= 0xDCFF ? u'\xFFFD' : c);
}

}  // namespace

WString DecodeCodePage(unsigned codePage, std::string_view bytes)
{
    codePage = RealCodePage(codePage);
    WString out;
    out.reserve(bytes.size());
    if (codePage == kCpUtf8) {
        DecodeUtf8(bytes, out);
        return out;
    }
    iconv_t cd = t_iconv.Get(codePage, true);
    const bool dbcs = codePage == 949 || codePage == kCpJohab || codePage == 932 || codePage == 936 ||
                      codePage == 950 || codePage == 51949;
    size_t i = 0;
    while (i < bytes.size()) {
        auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        // A run of characters with the top bit set; in double-byte code pages
        // such a byte leads a pair whose trail byte may lie below 0x80.
        size_t j = i;
        while (j < bytes.size() && static_cast<unsigned char>(bytes[j]) >= 0x80)
            j += (dbcs && j + 1 < bytes.size()) ? 2 : 1;
        if (cd == reinterpret_cast<iconv_t>(-1)) {
            for (size_t k = i; k < j; ++k)
                out.push_back(static_cast<unsigned char>(bytes[k]));  // unknown code page: Latin-1
        } else {
            DecodeRun(cd, bytes.data() + i, j - i, out);
        }
        i = j;
    }
    return out;
}

std::string EncodeCodePage(unsigned codePage, WStringView text, const char* defaultChar, bool* usedDefault)
{
    codePage = RealCodePage(codePage);
    if (usedDefault)
        *usedDefault = false;
    if (codePage == kCpUtf8) {
        std::string s = WideToUtf8(text);
        return s;
    }
    const char* def = defaultChar ? defaultChar : "?";
    std::string out;
    out.reserve(text.size() * 2);
    iconv_t cd = t_iconv.Get(codePage, false);
    size_t i = 0;
    while (i < text.size()) {
        char16_t c = text[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        size_t units = (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) ? 2 : 1;
        bool ok = false;
        if (cd != reinterpret_cast<iconv_t>(-1)) {
            char obuf[16];
            char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.data() + i));
            size_t inLeft = units * 2;
            char* o = obuf;
            size_t oLeft = sizeof(obuf);
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &in, &inLeft, &o, &oLeft) != static_cast<size_t>(-1) && inLeft == 0) {
                out.append(obuf, sizeof(obuf) - oLeft);
                ok = true;
            }
        }
        if (!ok) {
            out.append(def, std::strlen(def));
            if (usedDefault)
                *usedDefault = true;
        }
        i += units;
    }
    return out;
}

int MultiByteToWideChar(unsigned codePage, unsigned, const char* src, int srcLen, char16_t* dst, int dstLen)
{
    if (!src || srcLen == 0 || dstLen < 0)
        return 0;
    size_t n = srcLen < 0 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
    WString w = DecodeCodePage(codePage, std::string_view(src, n));
    if (dstLen == 0)
        return static_cast<int>(w.size());
    if (!dst || w.size() > static_cast<size_t>(dstLen))
        return 0;
    std::memcpy(dst, w.data(), w.size() * sizeof(char16_t));
    return static_cast<int>(w.size());
}

int WideCharToMultiByte(unsigned codePage, unsigned, const char16_t* src, int srcLen, char* dst, int dstLen,
                        const char* defaultChar, bool* usedDefault)
{
    if (!src || srcLen == 0 || dstLen < 0)
        return 0;
    size_t n = srcLen < 0 ? WideLength(src) + 1 : static_cast<size_t>(srcLen);
    std::string s = EncodeCodePage(codePage, WStringView(src, n), defaultChar, usedDefault);
    if (dstLen == 0)
        return static_cast<int>(s.size());
    if (!dst || s.size() > static_cast<size_t>(dstLen))
        return 0;
    std::memcpy(dst, s.data(), s.size());
    return static_cast<int>(s.size());
}

}  // namespace plat
