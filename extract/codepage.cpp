#include "extract/codepage.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/codec.h"

int CodePageToWide(unsigned codePage, const char* text, int byteCount, char16_t* buffer, int bufferChars)
{
    if (!buffer || bufferChars <= 0) return 0;
    buffer[0] = 0;
    if (bufferChars < 2 || !text) return 0;
    int n = plat::MultiByteToWideChar(codePage, kMbPrecomposed, text, byteCount, buffer, bufferChars - 1);
    if (n <= 0) {
        buffer[0] = 0;
        return 0;
    }
    buffer[n] = 0;
    return n;
}

int WideToCodePage(unsigned codePage, const char16_t* text, int charCount, char* buffer, int bufferBytes,
                   const char* defaultChar)
{
    if (!buffer || bufferBytes <= 0) return 0;
    buffer[0] = 0;
    if (bufferBytes < 2 || !text) return 0;
    // With -1 the terminator is converted too and may take the last byte.
    int room = charCount == -1 ? bufferBytes : bufferBytes - 1;
    int n = plat::WideCharToMultiByte(codePage, defaultChar ? kWcDefaultChar : 0, text, charCount, buffer,
                                      room, defaultChar, nullptr);
    if (n <= 0) {
        buffer[0] = 0;
        return 0;
    }
    if (n < bufferBytes)
        buffer[n] = 0;
    else
        buffer[bufferBytes - 1] = 0;  // already the converted terminator
    return n;
}

int AnsiToWide(char16_t* buffer, const char* text, int bufferChars)
{
    if (!buffer || bufferChars <= 0) return 0;
    return CodePageToWide(plat::kCpAcp, text, -1, buffer, bufferChars);
}

namespace {

const int kTrailing[256] = {
    // 0x00-0xBF: 0; 0xC0-0xDF: 1; 0xE0-0xEF: 2; 0xF0-0xF7: 3; 0xF8-0xFB: 4; 0xFC-0xFF: 5
#define R16(v) v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v
    R16(0), R16(0), R16(0), R16(0), R16(0), R16(0), R16(0), R16(0), R16(0), R16(0), R16(0), R16(0),
    R16(1), R16(1), R16(2), 3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5,
#undef R16
};

const uint32_t kOffsets[6] = {0x00000000UL, 0x00003080UL, 0x000E2080UL,
                              0x03C82080UL, 0xFA082080UL, 0x82082080UL};

bool LegalUtf8(const unsigned char* s, int length)
{
    unsigned char lead = s[0];
    if (lead >= 0x80 && (lead < 0xC2 || lead > 0xF4)) return false;
    for (int i = 1; i < length; ++i)
        if (s[i] < 0x80 || s[i] > 0xBF) return false;
    if (length > 1) {
        unsigned char b = s[1];
        if (lead == 0xE0 && b < 0xA0) return false;
        if (lead == 0xF0 && b < 0x90) return false;
        if (lead == 0xF4 && b >= 0x90) return false;
    }
    return length <= 4;
}

}  // namespace

int Utf8ToUtf16(const unsigned char* srcStart, const unsigned char* srcEnd, char16_t* dstStart,
                char16_t* dstEnd, size_t* outBytes, int lenient)
{
    const unsigned char* s = srcStart;
    char16_t* t = dstStart;
    int status = kUtf8Ok;
    if (s && srcEnd) {
        while (s < srcEnd) {
            int extra = kTrailing[*s];
            if (extra >= srcEnd - s) {
                status = kUtf8SourceExhausted;
                break;
            }
            if (!LegalUtf8(s, extra + 1)) {
                status = kUtf8Illegal;
                break;
            }
            uint32_t ch = 0;
            for (int i = 0; i <= extra; ++i) {
                ch += s[i];
                if (i < extra) ch <<= 6;
            }
            ch -= kOffsets[extra];
            if (!t || t >= dstEnd) {
                status = kUtf8TargetExhausted;
                break;
            }
            if (ch <= 0xFFFF) {
                if (ch >= 0xD800 && ch <= 0xDFFF && !lenient) {
                    status = kUtf8Illegal;
                    break;
                }
                *t++ = static_cast<char16_t>(ch);
            } else if (ch > 0x10FFFF) {
                if (!lenient) {
                    status = kUtf8Illegal;
                    break;
                }
                *t++ = 0xFFFD;
            } else {
                if (dstEnd - t < 2) {
                    status = kUtf8TargetExhausted;
                    break;
                }
                ch -= 0x10000;
                *t++ = static_cast<char16_t>((ch >> 10) + 0xD800);
                *t++ = static_cast<char16_t>((ch & 0x3FF) + 0xDC00);
            }
            s += extra + 1;
        }
    }
    if (outBytes) *outBytes = static_cast<size_t>(t - dstStart) * sizeof(char16_t);
    return status;
}

namespace {

// The format's own codes below 0x8000 that are neither ASCII nor Johab. The
// character set arranges them by areas:
//   0x0081-0x0084      the typographic double and single quotes;
//   0x2000-0x23FF,     punctuation, letterlike, number forms, arrows,
//   0x2500-0x25FF      mathematical and technical symbols, box drawing and
//                      geometric shapes at their Unicode positions;
//   0x3400-0x375F      the symbol rows 1 to 9 of KS X 1001 (general
//                      symbols, full-width Latin, Hangul letters, Roman
//                      numerals and Greek, lines, units, circled and
//                      parenthesised forms), 96 codes a row with the 94
//                      cells of the row at codes 1 to 94;
//   0x4000-0x5317      the 4888 Hanja of KS X 1001, in its order.
// Returns 0 for a code outside these areas, or when kscBytes receives the
// KS X 1001 (code page 949) bytes of the character instead.
char16_t HwpOwnCode(uint16_t c, char kscBytes[2])
{
    kscBytes[0] = kscBytes[1] = 0;
    static const char16_t kQuotes[4] = {0x201C, 0x201D, 0x2018, 0x2019};
    if (c >= 0x81 && c <= 0x84)
        return kQuotes[c - 0x81];
    if ((c >= 0x2000 && c <= 0x23FF) || (c >= 0x2500 && c <= 0x25FF))
        return static_cast<char16_t>(c);
    if (c >= 0x3400 && c < 0x3400 + 9 * 96) {
        const unsigned row = (c - 0x3400u) / 96, cell = (c - 0x3400u) % 96;
        if (cell >= 1 && cell <= 94) {
            kscBytes[0] = static_cast<char>(0xA1 + row);
            kscBytes[1] = static_cast<char>(0xA0 + cell);
        }
        return 0;
    }
    if (c >= 0x4000 && c < 0x4000 + 4888) {
        const unsigned index = c - 0x4000u;
        kscBytes[0] = static_cast<char>(0xCA + index / 94);
        kscBytes[1] = static_cast<char>(0xA1 + index % 94);
    }
    return 0;
}

}  // namespace

int HwpCharsToWide(unsigned, const uint16_t* codes, int count, char16_t* buffer, int bufferChars,
                   const char16_t* substitute)
{
    if (!buffer || bufferChars <= 0) return 0;
    buffer[0] = 0;
    if (!codes || bufferChars < 2) return 0;
    const size_t limit = static_cast<size_t>(bufferChars - 1);
    const size_t room = 3 * static_cast<size_t>(bufferChars);
    // Johab and ASCII go through the Johab code page, the symbol rows and
    // Hanja through code page 949, a run at a time in the order they come.
    std::u16string w;
    std::string bytes;
    unsigned bytesPage = plat::kCpJohab;
    size_t taken = 0;  // bytes and characters taken so far, against room
    auto flush = [&] {
        if (!bytes.empty())
            w += plat::DecodeCodePage(bytesPage, bytes);
        bytes.clear();
    };
    auto pushBytes = [&](unsigned page, const char* b, size_t n) {
        if (page != bytesPage) {
            flush();
            bytesPage = page;
        }
        bytes.append(b, n);
    };
    for (size_t i = 0; count < 0 || i < static_cast<size_t>(count); ++i) {
        uint16_t c = codes[i];
        if (c == 0) break;
        const size_t need = c & 0x8000 ? 2 : 1;
        if (taken + need > room || w.size() > limit) break;
        taken += need;
        if (c & 0x8000) {
            const char b[2] = {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
            pushBytes(plat::kCpJohab, b, 2);
        } else if (c < 0x80) {
            const char b = static_cast<char>(c);
            pushBytes(plat::kCpJohab, &b, 1);
        } else {
            char ksc[2];
            const char16_t u = HwpOwnCode(c, ksc);
            if (ksc[0]) {
                pushBytes(949, ksc, 2);
            } else {
                // A code without a character of its own: the substitute, when
                // there is one, keeps the words on either side apart.
                const char16_t out = u ? u : (substitute ? substitute[0] : 0);
                if (out) {
                    flush();
                    w.push_back(out);
                }
            }
        }
    }
    flush();
    size_t n = std::min(w.size(), limit);
    std::memcpy(buffer, w.data(), n * sizeof(char16_t));
    buffer[n] = 0;
    return static_cast<int>(n);
}

const char16_t* GetHwpSubstituteText()
{
    static const char16_t kSubstitute[] = u"\uFFFD";
    return kSubstitute;
}

unsigned CodePageOfFontCharset(int charset)
{
    switch (charset) {
    case 77: return 10000;  // Macintosh
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    default: return 0;
    }
}
