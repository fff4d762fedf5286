// Character conversions of the extraction library: code-page wrappers that
// always leave a terminated text, a validating UTF-8 to UTF-16 converter and
// the conversion of HWP 2.x/3.x character codes (Johab above 0x8000, the
// format's own symbol and Hanja codes below).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr unsigned kMbPrecomposed = 0x1;
constexpr unsigned kWcDefaultChar = 0x40;

// Narrow text (byteCount -1: up to and including its terminator) into a wide
// buffer of bufferChars characters, always terminated. Returns the characters
// converted (0 and an empty text when it does not fit or the buffer holds
// fewer than 2 characters).
int CodePageToWide(unsigned codePage, const char* text, int byteCount, char16_t* buffer, int bufferChars);

// Wide text (charCount -1: with its terminator) into a narrow buffer of
// bufferBytes bytes, always terminated and never written past its end.
// defaultChar replaces characters the code page lacks (null: the codec's own).
int WideToCodePage(unsigned codePage, const char16_t* text, int charCount, char* buffer, int bufferBytes,
                   const char* defaultChar);

// Code page 949 text (whole, with its terminator) into a wide buffer.
int AnsiToWide(char16_t* buffer, const char* text, int bufferChars);

// Status of Utf8ToUtf16.
enum Utf8Status : int {
    kUtf8Ok = 0,
    kUtf8SourceExhausted = 1,  // the source ends inside a sequence
    kUtf8TargetExhausted = 2,  // no room for the next unit or pair
    kUtf8Illegal = 3,          // an illegal sequence
};

// Converts [srcStart, srcEnd) into [dstStart, dstEnd). *outBytes receives the
// bytes written (2 per UTF-16 unit), also when the status is not kUtf8Ok;
// conversion stops at the sequence that fails. lenient: surrogate code points
// are written as they are, code points above U+10FFFF become U+FFFD.
int Utf8ToUtf16(const unsigned char* srcStart, const unsigned char* srcEnd, char16_t* dstStart,
                char16_t* dstEnd, size_t* outBytes, int lenient);

// HWP 2.x/3.x codes (count -1: up to the first zero) into a wide buffer of
// bufferChars characters, always terminated: codes from 0x8000 are Johab
// (high byte first), codes below 0x80 ASCII; of the format's own codes in
// between, the quotes, the symbols at Unicode positions, the KS X 1001 symbol
// rows and the KS X 1001 Hanja become their characters, and every other code
// becomes the first character of substitute (dropped when it is null). Text
// that does not fit is cut at the end of the buffer. flags is not used.
// Returns the characters written.
int HwpCharsToWide(unsigned flags, const uint16_t* codes, int count, char16_t* buffer, int bufferChars,
                   const char16_t* substitute);

// The substitute text for HWP codes without a single Unicode equivalent.
const char16_t* GetHwpSubstituteText();

// The code page of a font character set of Windows (the "charset" of a font
// record), 0 for the sets that say nothing about the bytes (ANSI, default,
// symbol, OEM and unknown ones).
unsigned CodePageOfFontCharset(int charset);
