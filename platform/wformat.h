// The program's wide printf-style formatter. Format strings follow the Windows
// rules of the wide printf family, not glibc's:
//
//   %s %ls %ws   UTF-16 text (const char16_t*)       %S %hs   narrow text (code page 949)
//   %c %lc %wc   UTF-16 character (passed as int)     %C %hc   narrow character
//   %d %i %u %o %x %X   integers; sizes hh h l (32 bits, as on Windows) ll I64 I32 I z j t
//   %p           pointer as upper-case hex, 2 digits per byte, no prefix
//   %f %F %e %E %g %G %a %A   floating point (L: long double), always with '.'
//   %%           a percent sign
//
// Flags '-', '+', ' ', '#', '0', width and precision (digits or '*') work as in
// C. A null string prints "(null)". %n stores nothing (its argument is skipped).
// An unknown conversion is copied to the output as it stands.
//
// Numbers never depend on the process locale. The output grows as needed; a
// width or precision is capped at kMaxFieldWidth characters.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace plat {

constexpr int kMaxFieldWidth = 1 << 20;

std::u16string FormatWideV(const char16_t* format, va_list args);
std::u16string FormatWide(const char16_t* format, ...);

// Into a caller's buffer of `count` characters (terminator included). Returns
// the length written, or -1 when the text did not fit; the buffer then holds
// as much as fits, terminated. count 0 writes nothing and returns -1.
int FormatWideToV(char16_t* buffer, size_t count, const char16_t* format, va_list args);
int FormatWideTo(char16_t* buffer, size_t count, const char16_t* format, ...);

}  // namespace plat
