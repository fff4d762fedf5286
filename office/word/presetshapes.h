// The catalogue of OfficeArt preset shapes (types 0 to 202): for a type, a
// box and the shape's adjust values it gives the type's outline as a short
// list of paths. The Word reader only asks whether a usable outline exists
// (office/word/worddrawing.h); the path kinds, point counts and flags decide
// that, the coordinates are computed for completeness.
#pragma once

#include <cstdint>
#include <vector>

struct PresetPath {
    enum Kind : std::int32_t { kPoints = 0, kRectangle = 1, kRoundRectangle = 2, kEllipse = 3, kQuarterArc = 19, kLine = 20 };
    std::int32_t kind = 0;
    std::int32_t left = 0, top = 0, width = 0, height = 0;
    std::int32_t pointCount = 0;
    std::vector<std::int32_t> points;  // kind 0: pointCount (x, y) pairs
    std::int32_t flags = 0;            // kind 0: 0 polyline, 1 curve chain; kind 19: the quarter
};

struct PresetShapeEntry {
    static constexpr std::uint32_t kNoOutline = 0xFFF;
    std::uint32_t shapeType = kNoOutline;
    std::int32_t adjustCount = 0;
    std::uint32_t pathCount = 0;
    const std::int32_t* defaultAdjustValues = nullptr;
    std::vector<PresetPath> paths;
};

class CMsDraw {
public:
    CMsDraw() = default;
    virtual ~CMsDraw() = default;

    // Null for a type above 202. Otherwise the type's entry with its paths
    // filled for the box (0, 0, width, height); a type without an outline
    // gives its entry with shapeType kNoOutline. adjust (optional) supplies
    // the first adjust values; the type's defaults stand in for the rest.
    const PresetShapeEntry* GetShape(unsigned shapeType, int width, int height,
                                     const std::vector<std::int32_t>* adjust = nullptr);

private:
    PresetShapeEntry m_entry;
    std::vector<std::int32_t> m_adjust;
};
