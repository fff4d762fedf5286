// Little-endian fields and drawing records for the drawing tests.
#pragma once

#include <cstdint>
#include <string>

namespace drawing_test {

inline std::string U32(std::uint32_t v)
{
    std::string s(4, '\0');
    for (int k = 0; k < 4; ++k)
        s[k] = static_cast<char>((v >> (8 * k)) & 0xFF);
    return s;
}

inline std::string U16(std::uint16_t v)
{
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

// A record: version and instance, type, length, body.
inline std::string Rec(int type, int instance, const std::string& body, int version = 0)
{
    return U16(static_cast<std::uint16_t>((instance << 4) | version)) + U16(static_cast<std::uint16_t>(type)) +
           U32(static_cast<std::uint32_t>(body.size())) + body;
}

// A property table entry: number and value.
inline std::string Entry(int id, std::uint32_t value)
{
    return U16(static_cast<std::uint16_t>(id)) + U32(value);
}

}  // namespace drawing_test
