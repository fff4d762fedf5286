// UTF-16 text helpers. Every "wide" text of the program is UTF-16
// (char16_t / std::u16string); std::string holds UTF-8 or code-page bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

using WString = std::u16string;
using WStringView = std::u16string_view;

// UTF-8 to UTF-16, lossless: every byte that is not part of a valid UTF-8
// sequence becomes U+DC80..U+DCFF (the byte's value plus 0xDC00).
WString Utf8ToWide(std::string_view utf8);

// UTF-16 to UTF-8, the inverse of Utf8ToWide: U+DC80..U+DCFF written alone
// become their raw byte again; other unpaired surrogates become U+FFFD.
std::string WideToUtf8(WStringView wide);

// File names: UTF-8 (or any bytes) on disk, UTF-16 in the program. The round
// trip PathFromNative(PathToNative(x)) and back is exact for every byte string.
inline WString PathFromNative(std::string_view native) { return Utf8ToWide(native); }
inline std::string PathToNative(WStringView path) { return WideToUtf8(path); }

// ASCII-only case mapping (the case-insensitive comparisons of key names,
// extensions and the like).
char16_t ToUpperAscii(char16_t c);
char16_t ToLowerAscii(char16_t c);
WString ToUpperAscii(WStringView s);
WString ToLowerAscii(WStringView s);
bool EqualsNoCase(WStringView a, WStringView b);

// Length of a zero-terminated UTF-16 text.
size_t WideLength(const char16_t* s);

// ASCII literal to UTF-16 (for building texts from narrow constants).
WString AsciiToWide(std::string_view ascii);

// A text (a file name, above all) written as part of one line of a
// line-oriented file the program keeps (the error-file list, the documents
// in hand, the trace logs): nothing in it can end the line, start another or
// split a field. Control characters (U+0000..U+001F, U+007F..U+009F) and the
// line and paragraph separators U+2028, U+2029 are written \xHH or \uHHHH,
// a backslash \\; everything else as it is. UnescapeLine gives the text back
// exactly; an escape it does not know stays as it stands. A file that is
// never read back (a trace log) may leave backslashes alone
// (reversible = false): its lines still cannot be forged.
WString EscapeLine(WStringView text, bool reversible = true);
WString UnescapeLine(WStringView line);

}  // namespace plat
