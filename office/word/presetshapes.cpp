#include "office/word/presetshapes.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <string>

namespace {

// One catalogue line: the type, its default adjust values and its paths.
// Paths: "P<n>" polyline of n points, "C<n>" curve chain of n points, "R"
// rectangle, "Q" rounded rectangle, "E" ellipse, "A" quarter arc, "L" line;
// "4*A" repeats a path.
struct CatalogueLine {
    int type;
    std::vector<std::int32_t> defaults;
    const char* paths;
    int adjustCount = -1;  // -1: as many as defaults
};

const std::vector<CatalogueLine>& Catalogue()
{
    static const std::vector<CatalogueLine> lines = {
        {1, {}, "R"}, {2, {}, "Q", 1}, {3, {}, "E"}, {4, {}, "P5"}, {5, {10800}, "P4"}, {6, {}, "P4"},
        {7, {5400}, "P5"}, {8, {5400}, "P5"}, {9, {5400}, "P7"}, {10, {6326}, "P9"}, {11, {5400}, "P13"},
        {12, {}, "P11"}, {13, {16200, 5400}, "P8"}, {14, {16200, 5400}, "P8"}, {15, {16200}, "P6"},
        {16, {5400}, "P4 P8"}, {19, {}, "A"}, {20, {}, "L"}, {21, {3600}, "4*A 4*L"},
        {22, {5400}, "E 2*L 2*A"}, {23, {5400}, "2*E"}, {33, {}, "P3"},
        {41, {-8280, 24300, -1800, 4050}, "R"}, {42, {-10080, 24300, -3600, 4050, -1800, 4050}, "R"},
        {43, {23400, 24400, 25200, 21600, 25200, 4050, 23400, 4050}, "R"},
        {44, {-8280, 24300, -1800, 4050}, "R"}, {45, {-10080, 24300, -3600, 4050, -1800, 4050}, "R"},
        {46, {23400, 24400, 25200, 21600, 25200, 4050, 23400, 4050}, "R"},
        {47, {-8280, 24300, -1800, 4050}, "R"}, {48, {-10080, 24300, -3600, 4050, -1800, 4050}, "R"},
        {49, {23400, 24400, 25200, 21600, 25200, 4050, 23400, 4050}, "R"},
        {50, {-8280, 24300, -1800, 4050}, "R"}, {51, {-10080, 24300, -3600, 4050, -1800, 4050}, "R"},
        {52, {23400, 24400, 25200, 21600, 25200, 4050, 23400, 4050}, "R"},
        {55, {16200}, "P7"}, {56, {}, "P6"}, {57, {2700}, "2*E"}, {58, {2538}, "P17"}, {59, {2700}, "P33"},
        {60, {2700}, "P65"}, {61, {0, 0}, "P17"}, {62, {}, "Q"}, {63, {}, "Q"}, {64, {2809, 10800}, "2*C4 2*L"},
        {66, {5400, 5400}, "P8"}, {67, {16200, 5400}, "P8"}, {68, {5400, 5400}, "P8"}, {69, {4320, 5400}, "P11"},
        {70, {5400, 4320}, "P11"}, {71, {}, "P25"}, {72, {}, "P29"}, {73, {}, "P12"}, {74, {}, "C16 P3 C16"},
        {76, {6480, 8640, 4320}, "P25"}, {77, {7200, 5400, 3600, 8100}, "P12"},
        {78, {14400, 5400, 18000, 8100}, "P12"}, {79, {7200, 5400, 3600, 8100}, "P12"},
        {80, {14400, 5400, 18000, 8100}, "P12"}, {81, {5400, 5400, 2700, 8100}, "P19"},
        {82, {5400, 5400, 2700, 8100}, "P19"}, {83, {5400, 8100, 2700, 9450}, "P33"},
        {84, {2700}, "2*R 4*L"}, {85, {1800}, "2*A L"}, {86, {1800}, "2*A L"}, {87, {1800, 10800}, "4*A 2*L"},
        {88, {1800, 10800}, "4*A 2*L"}, {89, {9257, 18514, 6171}, "P13"}, {90, {9257, 18514, 7200}, "P10"},
        {91, {15126, 2912}, "P7 P4 2*A"}, {92, {2700}, "P49"}, {93, {16200, 5400}, "P8 2*R"},
        {94, {16200, 5400}, "P9"}, {96, {17520}, "3*E C4"}, {97, {2700}, "8*L 13*A"}, {98, {2700}, "8*L 13*A"},
        {101, {}, "P5 P4 4*A L"}, {106, {}, "Q"}, {109, {}, "R"}, {110, {}, "P5"}, {111, {}, "P5"},
        {112, {}, "R 2*L"}, {113, {}, "R 2*L"}, {114, {}, "C31 P4"}, {115, {}, "C31 P4"}, {116, {}, "4*A 2*L"},
        {117, {}, "P7"}, {118, {}, "P5"}, {119, {}, "P5"}, {120, {}, "E"}, {121, {}, "P6"}, {123, {}, "E 2*L"},
        {124, {}, "E 2*L"}, {125, {}, "P5"}, {126, {}, "P6"}, {127, {}, "P4"}, {128, {}, "P4"},
        {130, {}, "4*A 2*L"}, {131, {}, "E P4"}, {132, {}, "E 2*A 2*L"}, {133, {}, "2*A E 2*L"},
        {134, {}, "2*A P5"}, {135, {}, "2*A P4"}, {176, {2700}, "4*A 4*L Q"}, {177, {}, "P6"},
        {178, {-1800, 24300, -1800, 4050}, "R"}, {179, {-1800, 24300, -1800, 4050}, "R"},
        {180, {-1800, 24300, -1800, 4050}, "R"}, {181, {-1800, 24300, -1800, 4050}, "R"},
        {182, {6480, 8640, 6171}, "P18"}, {183, {5400}, "8*P4 E"}, {184, {10800}, "4*A"},
        {185, {3600}, "4*A 2*L"}, {186, {1800}, "8*A 4*L"}, {187, {8100}, "P9"},
    };
    return lines;
}

struct TypeInfo {
    bool outline = false;
    std::vector<std::int32_t> defaults;
    int adjustCount = 0;
    std::vector<PresetPath> templates;  // kind, pointCount and flags of each path
};

std::vector<PresetPath> ParsePaths(const char* text)
{
    std::vector<PresetPath> out;
    std::string s(text);
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] == ' ') {
            ++i;
            continue;
        }
        int repeat = 1;
        size_t star = s.find('*', i);
        size_t space = s.find(' ', i);
        if (star != std::string::npos && (space == std::string::npos || star < space)) {
            repeat = std::atoi(s.c_str() + i);
            i = star + 1;
        }
        PresetPath p;
        const char k = s[i++];
        int n = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
            n = n * 10 + (s[i++] - '0');
        switch (k) {
        case 'P': p.kind = PresetPath::kPoints; p.pointCount = n; p.flags = 0; break;
        case 'C': p.kind = PresetPath::kPoints; p.pointCount = n; p.flags = 1; break;
        case 'R': p.kind = PresetPath::kRectangle; p.pointCount = 4; break;
        case 'Q': p.kind = PresetPath::kRoundRectangle; p.pointCount = 4; break;
        case 'E': p.kind = PresetPath::kEllipse; p.pointCount = 3; break;
        case 'A': p.kind = PresetPath::kQuarterArc; p.pointCount = 3; break;
        case 'L': p.kind = PresetPath::kLine; p.pointCount = 2; break;
        default: break;
        }
        for (int r = 0; r < repeat; ++r)
            out.push_back(p);
    }
    return out;
}

const std::array<TypeInfo, 203>& Types()
{
    static const std::array<TypeInfo, 203> types = [] {
        std::array<TypeInfo, 203> t;
        for (const CatalogueLine& line : Catalogue()) {
            TypeInfo& info = t[static_cast<size_t>(line.type)];
            info.outline = true;
            info.defaults = line.defaults;
            info.adjustCount = line.adjustCount >= 0 ? line.adjustCount : static_cast<int>(line.defaults.size());
            info.templates = ParsePaths(line.paths);
        }
        return t;
    }();
    return types;
}

// Points spread around the box's outline, for the handlers whose exact
// coordinates nothing reads.
void SpreadPoints(PresetPath& p, int w, int h)
{
    p.points.clear();
    const int n = p.pointCount;
    const long perimeter = 2L * (w + h);
    for (int i = 0; i < n; ++i) {
        long d = (n > 1 && i < n - 1) ? perimeter * i / (n - 1) : 0;
        int x, y;
        if (d < w) {
            x = static_cast<int>(d), y = 0;
        } else if (d < w + h) {
            x = w, y = static_cast<int>(d - w);
        } else if (d < 2L * w + h) {
            x = static_cast<int>(w - (d - w - h)), y = h;
        } else {
            x = 0, y = static_cast<int>(h - (d - 2L * w - h));
        }
        p.points.push_back(x);
        p.points.push_back(y);
    }
}

void SetPoints(PresetPath& p, std::initializer_list<std::int32_t> xy)
{
    p.points.assign(xy);
    p.pointCount = static_cast<std::int32_t>(p.points.size() / 2);
}

void SetBox(PresetPath& p, int l, int t, int w, int h, std::int32_t flags = 0)
{
    p.left = l, p.top = t, p.width = w, p.height = h, p.flags = flags;
}

}  // namespace

const PresetShapeEntry* CMsDraw::GetShape(unsigned shapeType, int width, int height,
                                          const std::vector<std::int32_t>* adjust)
{
    if (shapeType > 202)
        return nullptr;
    const TypeInfo& info = Types()[shapeType];
    m_entry = PresetShapeEntry();
    if (!info.outline) {
        // Type 0 has an entry of its own type and no paths; the rest carry the marker.
        m_entry.shapeType = shapeType == 0 ? 0 : PresetShapeEntry::kNoOutline;
        return &m_entry;
    }
    m_entry.shapeType = shapeType;
    m_entry.adjustCount = info.adjustCount;
    m_entry.defaultAdjustValues = info.defaults.empty() ? nullptr : info.defaults.data();
    if (adjust && !adjust->empty())
        m_adjust = *adjust;
    else if (!info.defaults.empty())
        m_adjust = info.defaults;
    // Missing adjust values come from the defaults (or 0).
    while (static_cast<int>(m_adjust.size()) < info.adjustCount) {
        const size_t i = m_adjust.size();
        m_adjust.push_back(i < info.defaults.size() ? info.defaults[i] : 0);
    }
    const int w = width, h = height;
    const std::int32_t a1 = m_adjust.size() > 0 ? m_adjust[0] : 0;
    const std::int32_t a2 = m_adjust.size() > 1 ? m_adjust[1] : 0;
    auto scale = [](long d, long v) { return static_cast<int>(d * v / 21600); };

    m_entry.paths = info.templates;
    for (PresetPath& p : m_entry.paths) {
        SetBox(p, 0, 0, w, h, p.flags);
        if (p.kind == PresetPath::kPoints)
            SpreadPoints(p, w, h);
    }
    std::vector<PresetPath>& paths = m_entry.paths;
    switch (shapeType) {
    case 4:
        SetPoints(paths[0], {w / 2, 0, 0, h / 2, w / 2, h, w, h / 2, w / 2, 0});
        break;
    case 5: {
        const int c = scale(w, a1);
        SetPoints(paths[0], {c, 0, 0, h, w, h, c, 0});
        break;
    }
    case 10: {
        const int c = scale(std::min(w, h), a1);
        SetPoints(paths[0], {c, 0, 0, c, 0, h - c, c, h, w - c, h, w, h - c, w, c, w - c, 0, c, 0});
        break;
    }
    case 13:
    case 14: {
        const int d = scale(w, a1), c = scale(h, a2);
        SetPoints(paths[0], {d, 0, d, c, 0, c, 0, h - c, d, h - c, d, h, w, h * 10800 / 21600, d, 0});
        break;
    }
    case 21: {
        const int c = scale(std::min(w, h), a1);
        SetBox(paths[0], 0, 0, c, c, 0x10000);
        SetBox(paths[1], 0, h - c, c, c, 0);
        SetBox(paths[2], w - c, h - c, c, c, 1);
        SetBox(paths[3], w - c, 0, c, c, 0x10001);
        SetBox(paths[4], 0, c, 0, h - 2 * c);
        SetBox(paths[5], c, h, w - 2 * c, 0);
        SetBox(paths[6], w, c, 0, h - 2 * c);
        SetBox(paths[7], c, 0, w - 2 * c, 0);
        break;
    }
    case 22: {
        const int c = scale(h, a1), e = static_cast<int>(static_cast<long>(h) * a1 / 43200);
        SetBox(paths[0], 0, 0, w, c);
        SetBox(paths[1], 0, e, 0, h - c);
        SetBox(paths[2], w, e, 0, h - c);
        SetBox(paths[3], 0, h - e, w / 2, e, 0x10001);
        SetBox(paths[4], w / 2, h - e, w / 2, e, 0x10000);
        break;
    }
    default:
        break;
    }
    m_entry.pathCount = static_cast<std::uint32_t>(paths.size());
    return &m_entry;
}
