#include "platform/codec.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace plat {

namespace {

const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

unsigned RealCodePage(unsigned cp)
{
    return (cp == kCpAcp || cp == kCpOem || cp == 3 /* CP_THREAD_ACP */) ? kAnsiCodePage : cp;
}

bool IsDoubleByte(unsigned cp)
{
    return cp == 949 || cp == kCpJohab || cp == 932 || cp == 936 || cp == 950 || cp == 51949;
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

// iconv descriptors carry conversion state, so each thread keeps its own.
class IconvCache {
public:
    IconvCache() = default;
    IconvCache(const IconvCache&) = delete;
    IconvCache& operator=(const IconvCache&) = delete;
    ~IconvCache()
    {
        for (auto& [k, cd] : handles_)
            if (cd != kNoIconv)
                iconv_close(cd);
    }

    // A descriptor in its initial state, or kNoIconv for an unknown code page.
    iconv_t Get(unsigned cp, bool decode)
    {
        const unsigned key = cp * 2 + (decode ? 1 : 0);
        auto it = handles_.find(key);
        if (it == handles_.end()) {
            const std::string name = IconvName(cp);
            iconv_t cd = decode ? iconv_open("UTF-16LE", name.c_str()) : iconv_open(name.c_str(), "UTF-16LE");
            it = handles_.emplace(key, cd).first;
        }
        if (it->second != kNoIconv)
            iconv(it->second, nullptr, nullptr, nullptr, nullptr);
        return it->second;
    }

private:
    std::map<unsigned, iconv_t> handles_;
};

thread_local IconvCache t_iconv;

// JOHAB codes of a lone final consonant (initial and medial fillers) that
// glibc does not know; they stand for the compatibility jamo.
char16_t JohabFinalJamo(unsigned char lead, unsigned char trail)
{
    if (lead != 0x84)
        return 0;
    switch (trail) {
    case 0x41: return 0x3000;
    case 0x42: return 0x3131;
    case 0x43: return 0x3132;
    case 0x45: return 0x3134;
    case 0x48: return 0x3137;
    case 0x49: return 0x3139;
    case 0x51: return 0x3141;
    case 0x53: return 0x3142;
    case 0x55: return 0x3145;
    case 0x56: return 0x3146;
    case 0x57: return 0x3147;
    case 0x58: return 0x3148;
    case 0x59: return 0x314A;
    case 0x5A: return 0x314B;
    case 0x5B: return 0x314C;
    case 0x5C: return 0x314D;
    case 0x5D: return 0x314E;
    default: return 0;
    }
}

// Decoding table of one code page: the character of every byte >= 0x80
// read alone and of every pair led by such a byte; 0 where there is none.
// Built once from iconv, one character at a time, so that no quirk of
// iconv's error reporting inside longer input can shift the text.
struct DecodeTable {
    bool known = false;  // iconv has the code page
    char16_t single[128] = {};
    std::vector<char16_t> pairs;  // 128 x 256, double-byte code pages only

    char16_t Pair(unsigned char lead, unsigned char trail) const
    {
        return pairs.empty() ? 0 : pairs[(lead - 0x80u) * 256u + trail];
    }
};

// One conversion through a fresh descriptor state: the single UTF-16 unit
// that exactly these bytes give, or 0.
char16_t DecodeOne(iconv_t cd, const char* bytes, size_t n)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char16_t out[4];
    char* in = const_cast<char*>(bytes);
    size_t inLeft = n;
    char* o = reinterpret_cast<char*>(out);
    size_t oLeft = sizeof(out);
    const size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    if (r == static_cast<size_t>(-1) || inLeft != 0 || sizeof(out) - oLeft != sizeof(char16_t))
        return 0;
    return out[0];
}

std::shared_ptr<const DecodeTable> BuildDecodeTable(unsigned cp)
{
    // Code pages iconv does not know share one empty table, so that text
    // naming many unknown code pages costs no memory.
    static const auto unknown = std::make_shared<const DecodeTable>();
    iconv_t cd = iconv_open("UTF-16LE", IconvName(cp).c_str());
    if (cd == kNoIconv)
        return unknown;
    auto table = std::make_shared<DecodeTable>();
    table->known = true;
    const bool dbcs = IsDoubleByte(cp);
    if (dbcs)
        table->pairs.assign(128 * 256, 0);
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        const char one[1] = {static_cast<char>(lead)};
        table->single[lead - 0x80] = DecodeOne(cd, one, 1);
        if (!dbcs)
            continue;
        for (int trail = 0x00; trail <= 0xFF; ++trail) {
            const char two[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            table->pairs[(lead - 0x80) * 256 + trail] = DecodeOne(cd, two, 2);
        }
    }
    iconv_close(cd);
    if (cp == kCpJohab)
        for (int trail = 0x41; trail <= 0x5D; ++trail)
            if (char16_t c = JohabFinalJamo(0x84, static_cast<unsigned char>(trail)))
                table->pairs[(0x84 - 0x80) * 256 + trail] = c;
    return table;
}

const DecodeTable& GetDecodeTable(unsigned cp)
{
    // guards: tables (a table, once built, is read without it). Taken alone.
    static std::mutex mutex;
    static std::map<unsigned, std::shared_ptr<const DecodeTable>> tables;
    std::lock_guard<std::mutex> lock(mutex);
    auto& slot = tables[cp];
    if (!slot)
        slot = BuildDecodeTable(cp);
    return *slot;
}

void DecodeUtf8(std::string_view bytes, WString& out)
{
    // Invalid UTF-8 becomes U+FFFD, as the Windows call does.
    const WString w = Utf8ToWide(bytes);
    out.reserve(out.size() + w.size());
    for (char16_t c : w)
        out.push_back(c >= 0xDC80 && c <= 0xDCFF ? u'\xFFFD' : c);
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Characters that iconv would encode to a byte below 0x80, which decodes
// as ASCII here: they have no encoding of their own.
bool EncodesIntoAscii(unsigned cp, char16_t c) { return cp == kCpJohab && c == 0x20A9; }

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
    const DecodeTable& table = GetDecodeTable(codePage);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
        } else if (!table.known) {
            out.push_back(b);  // unknown code page: Latin-1
            ++i;
        } else if (i + 1 < n && table.Pair(b, p[i + 1]) != 0) {
            out.push_back(table.Pair(b, p[i + 1]));
            i += 2;
        } else if (table.single[b - 0x80] != 0) {
            out.push_back(table.single[b - 0x80]);
            ++i;
        } else {
            // A byte that starts no character: one substitute, and the next
            // byte is read on its own (an ASCII byte is never swallowed).
            out.push_back(kDecodeSubstitute);
            ++i;
        }
    }
    return out;
}

std::string EncodeCodePage(unsigned codePage, WStringView text, const char* defaultChar, bool* usedDefault)
{
    codePage = RealCodePage(codePage);
    if (usedDefault)
        *usedDefault = false;
    if (codePage == kCpUtf8)
        return WideToUtf8(text);
    const std::string_view def = defaultChar ? std::string_view(defaultChar) : std::string_view("?");
    auto substitute = [&](std::string& out) {
        out.append(def);
        if (usedDefault)
            *usedDefault = true;
    };
    std::string out;
    out.reserve(text.size() * 2);
    iconv_t cd = t_iconv.Get(codePage, false);
    size_t i = 0;
    while (i < text.size()) {
        const char16_t c = text[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        // One character: a surrogate pair or a single unit. Lone surrogates
        // (also the raw bytes kept from file names) have no encoding.
        size_t units = 1;
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
            units = 2;
        else if (IsHighSurrogate(c) || IsLowSurrogate(c) || EncodesIntoAscii(codePage, c) || cd == kNoIconv) {
            substitute(out);
            ++i;
            continue;
        }
        char obuf[16];
        char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.data() + i));
        size_t inLeft = units * sizeof(char16_t);
        char* o = obuf;
        size_t oLeft = sizeof(obuf);
        if (iconv(cd, &in, &inLeft, &o, &oLeft) != static_cast<size_t>(-1) && inLeft == 0) {
            // Flush any shift state so that every character stands alone.
            iconv(cd, nullptr, nullptr, &o, &oLeft);
            out.append(obuf, sizeof(obuf) - oLeft);
        } else {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            substitute(out);
        }
        i += units;
    }
    return out;
}

int MultiByteToWideChar(unsigned codePage, unsigned, const char* src, int srcLen, char16_t* dst, int dstLen)
{
    if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && !dst))
        return 0;
    const size_t n = srcLen == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
    const WString w = DecodeCodePage(codePage, std::string_view(src, n));
    if (w.size() > static_cast<size_t>(INT32_MAX))
        return 0;
    if (dstLen == 0)
        return static_cast<int>(w.size());
    if (w.size() > static_cast<size_t>(dstLen))
        return 0;
    std::memcpy(dst, w.data(), w.size() * sizeof(char16_t));
    return static_cast<int>(w.size());
}

int WideCharToMultiByte(unsigned codePage, unsigned, const char16_t* src, int srcLen, char* dst, int dstLen,
                        const char* defaultChar, bool* usedDefault)
{
    if (usedDefault)
        *usedDefault = false;
    if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && !dst))
        return 0;
    const size_t n = srcLen == -1 ? WideLength(src) + 1 : static_cast<size_t>(srcLen);
    const std::string s = EncodeCodePage(codePage, WStringView(src, n), defaultChar, usedDefault);
    if (s.size() > static_cast<size_t>(INT32_MAX))
        return 0;
    if (dstLen == 0)
        return static_cast<int>(s.size());
    if (s.size() > static_cast<size_t>(dstLen))
        return 0;
    std::memcpy(dst, s.data(), s.size());
    return static_cast<int>(s.size());
}

}  // namespace plat
