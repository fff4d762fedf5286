#include "extract/codepage.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/codec.h"

int g_hwpConversionMode = 0;

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

int HwpCharsToWide(unsigned, const uint16_t* codes, int count, char16_t* buffer, int bufferChars,
                   const char16_t*)
{
    if (!buffer || bufferChars <= 0) return 0;
    buffer[0] = 0;
    if (!codes || bufferChars < 2) return 0;
    const size_t room = 3 * static_cast<size_t>(bufferChars);
    std::string bytes;
    bytes.reserve(std::min<size_t>(room, 1 << 16));
    for (size_t i = 0; count < 0 || i < static_cast<size_t>(count); ++i) {
        uint16_t c = codes[i];
        if (c == 0) break;
        if (c & 0x8000) {
            if (bytes.size() + 2 > room) break;
            bytes.push_back(static_cast<char>(c >> 8));
            bytes.push_back(static_cast<char>(c & 0xFF));
        } else if (c < 0x80) {
            if (bytes.size() + 1 > room) break;
            bytes.push_back(static_cast<char>(c));
        }
    }
    std::u16string w = plat::DecodeCodePage(plat::kCpJohab, bytes);
    size_t n = std::min(w.size(), static_cast<size_t>(bufferChars - 1));
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
