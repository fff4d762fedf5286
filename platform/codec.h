// Code-page conversions, the project's stand-in for the Windows multi-byte
// calls. The "ANSI code page" is 949 (Korean, Unified Hangul Code); 1361 is
// JOHAB. Conversions never stop at bad input: what cannot be converted is
// substituted and the conversion goes on. Bytes below 0x80 are always ASCII.
#pragma once

#include <string>
#include <string_view>

#include "platform/text.h"

namespace plat {

constexpr unsigned kCpAcp = 0;       // the ANSI code page of this program: 949
constexpr unsigned kCpOem = 1;       // treated as 949 too
constexpr unsigned kCp949 = 949;
constexpr unsigned kCpJohab = 1361;
constexpr unsigned kCpUtf8 = 65001;

// The code page that kCpAcp / kCpOem stand for.
constexpr unsigned kAnsiCodePage = 949;

// Substitute for bytes that do not form a character of the code page.
constexpr char16_t kDecodeSubstitute = u'?';

// Whole-text conversions.
WString DecodeCodePage(unsigned codePage, std::string_view bytes);
std::string EncodeCodePage(unsigned codePage, WStringView text,
                           const char* defaultChar = nullptr, bool* usedDefault = nullptr);

inline WString AnsiToWideString(std::string_view bytes) { return DecodeCodePage(kCpAcp, bytes); }
inline std::string WideToAnsiString(WStringView text) { return EncodeCodePage(kCpAcp, text); }

// Windows-shaped calls. srcLen -1: up to and including the terminating zero,
// which is converted too. dstLen 0: returns the size needed. Returns 0 when
// the output does not fit (nothing useful is left in dst then).
int MultiByteToWideChar(unsigned codePage, unsigned flags, const char* src, int srcLen,
                        char16_t* dst, int dstLen);
int WideCharToMultiByte(unsigned codePage, unsigned flags, const char16_t* src, int srcLen,
                        char* dst, int dstLen, const char* defaultChar, bool* usedDefault);

}  // namespace plat
