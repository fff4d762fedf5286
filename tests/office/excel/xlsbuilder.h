// Builds Excel 97-2003 workbook streams for tests: records, cells, shared
// strings, sheets. Each function gives the bytes of one record (or field).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace xls_test {

inline std::string U8(std::uint8_t v) { return std::string(1, char(v)); }
inline std::string U16(std::uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }
inline std::string U32(std::uint32_t v) { return U16(std::uint16_t(v)) + U16(std::uint16_t(v >> 16)); }
inline std::string F64(double d)
{
    std::string s(8, '\0');
    std::memcpy(s.data(), &d, 8);
    return s;
}
inline std::string Utf16(const std::u16string& s)
{
    std::string b;
    for (char16_t c : s)
        b += U16(c);
    return b;
}

inline std::string R(std::uint16_t type, const std::string& body) { return U16(type) + U16(std::uint16_t(body.size())) + body; }
inline std::string Bof8(std::uint16_t kind = 0x0010) { return R(0x0809, U16(0x0600) + U16(kind) + U16(0) + U16(0) + U32(0) + U32(0)); }
inline std::string Bof5(std::uint16_t kind = 0x0010) { return R(0x0809, U16(0x0500) + U16(kind) + U16(0) + U16(0)); }
inline std::string Eof() { return R(0x000A, ""); }
inline std::string Cell(std::uint16_t row, std::uint16_t col, std::uint16_t xf = 0) { return U16(row) + U16(col) + U16(xf); }
inline std::string LabelSst(std::uint16_t row, std::uint16_t col, std::uint32_t index) { return R(0x00FD, Cell(row, col) + U32(index)); }
// XLUnicodeString with a 16-bit count: wide or compressed.
inline std::string Wide(const std::u16string& s) { return U16(std::uint16_t(s.size())) + U8(1) + Utf16(s); }
inline std::string Narrow(const std::string& s) { return U16(std::uint16_t(s.size())) + U8(0) + s; }
inline std::string Sst(const std::vector<std::string>& strings, std::uint32_t unique = 0xFFFFFFFF)
{
    std::string body = U32(std::uint32_t(strings.size())) + U32(unique == 0xFFFFFFFF ? std::uint32_t(strings.size()) : unique);
    for (const std::string& s : strings)
        body += s;
    return R(0x00FC, body);
}
// RK of an integer (with fX100 when asked).
inline std::uint32_t RkInt(std::int32_t v, bool x100 = false) { return (std::uint32_t(v) << 2) | 2u | (x100 ? 1u : 0u); }
inline std::string Rk(std::uint16_t row, std::uint16_t col, std::uint16_t xf, std::uint32_t rk) { return R(0x027E, Cell(row, col, xf) + U32(rk)); }

inline std::string Sheet(const std::string& records) { return Bof8() + records + Eof(); }
inline std::string BoundSheet(std::uint32_t pos, const std::string& name)
{
    return R(0x0085, U32(pos) + U16(0) + U8(std::uint8_t(name.size())) + U8(0) + name);
}

}  // namespace xls_test
