#include "platform/mounts.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace plat {

namespace {

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// A decimal number that fits 32 bits, nothing else.
bool ParseU32(std::string_view s, uint32_t& out)
{
    if (s.empty() || s.size() > 10) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > UINT32_MAX) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

std::string UnescapeMountField(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && IsOctal(s[i + 1]) && IsOctal(s[i + 2]) && IsOctal(s[i + 3])) {
            const int v = ((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0');
            if (v <= 0xFF) {
                out.push_back(static_cast<char>(v));
                i += 3;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

std::vector<MountEntry> ParseMountInfo(std::string_view text)
{
    std::vector<MountEntry> out;
    size_t start = 0;
    while (start < text.size()) {
        const size_t nl = text.find('\n', start);
        const std::string_view line =
            text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        start = nl == std::string_view::npos ? text.size() : nl + 1;

        // Fields are separated by spaces; a space, tab, newline or backslash
        // inside a field is escaped. Any other byte (a carriage return, say)
        // belongs to its field.
        std::vector<std::string_view> f;
        size_t p = 0;
        while (p < line.size()) {
            while (p < line.size() && line[p] == ' ') ++p;
            size_t e = line.find(' ', p);
            if (e == std::string_view::npos) e = line.size();
            if (e > p) f.push_back(line.substr(p, e - p));
            p = e;
        }
        // Six fixed fields, any number of optional ones, the separator, then
        // type and source (and the super-options, not needed here).
        if (f.size() < 9) continue;
        const auto dash = std::find(f.begin() + 6, f.end(), std::string_view("-"));
        if (dash == f.end() || f.end() - dash < 3) continue;
        MountEntry m;
        const std::string_view dev = f[2];
        const size_t colon = dev.find(':');
        if (colon == std::string_view::npos || !ParseU32(dev.substr(0, colon), m.major) ||
            !ParseU32(dev.substr(colon + 1), m.minor))
            continue;
        m.root = UnescapeMountField(f[3]);
        m.mountPoint = UnescapeMountField(f[4]);
        m.fsType = UnescapeMountField(dash[1]);
        m.source = UnescapeMountField(dash[2]);
        if (m.mountPoint.empty() || m.mountPoint[0] != '/') continue;
        out.push_back(std::move(m));
    }
    return out;
}

std::string ReadMountInfoText(const std::string& path)
{
    // The kernel's table reports no size: read until the end.
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string();
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<MountEntry> ReadMountTable(const std::string& path)
{
    return ParseMountInfo(ReadMountInfoText(path));
}

}  // namespace plat
