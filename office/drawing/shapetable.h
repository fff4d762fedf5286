// The shape tree of OfficeArt drawing data as a text walk needs it: each
// shape's id, type, group links, whether it carries host text (a text box),
// its rectangles, and the vertices of freeform shapes. The Word 97-2003
// reader reads the drawing data of its table stream with it.
//
// The walk is forgiving: it enters the drawing containers, reads the atoms it
// knows, passes over the others by their length and, at a type it does not
// know, tries again one byte further. It never reads past the bytes it is
// given, keeps at most one shape slot per 8 bytes of data, and every walk
// along the group links is bounded by the number of shapes. A record it
// knows that runs past the data, and a shape beyond the slots, are damage
// (plat::NoteDamage).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

struct DrawingShapeRecord {
    static constexpr int kNone = -1;
    std::uint32_t spid = 0;
    std::uint32_t shapeType = 0;
    std::uint8_t isGroup = 0;
    std::uint8_t isChild = 0;
    std::uint8_t hasTextBox = 0;
    std::int32_t groupRect[4] = {};  // left, top, right, bottom
    std::int32_t childRect[4] = {};
    int parent = kNone;
    int firstChild = kNone;
    int nextSibling = kNone;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> vertices;
    std::vector<std::int32_t> adjustValues;
};

class DrawingShapeTable {
public:
    // Reads the records of the drawing data (size bytes at data). The shape
    // slots come from the drawing group header (highest shape id + 1, capped
    // by the data); shape containers fill them in order. With linkGroups,
    // each shape is linked to its group (the nearest earlier group whose
    // rectangle holds its child rectangle) and to the shape before it in
    // that group. May throw std::bad_alloc.
    void Read(const std::uint8_t* data, std::uint64_t size, bool linkGroups);
    // A table of one empty shape, for a document without drawing data.
    void ReadNone();

    int ShapeCount() const { return static_cast<int>(shapes_.size()); }
    const std::vector<DrawingShapeRecord>& Shapes() const { return shapes_; }
    // The first shape with the id, or -1.
    int FindShape(std::uint32_t spid) const;

private:
    void LinkCurrent();
    void ReadVertices(const std::uint8_t* body, std::uint64_t length);
    void BuildIndex();

    std::vector<DrawingShapeRecord> shapes_;
    std::vector<std::pair<std::uint32_t, int>> shapeById_;
    int current_ = DrawingShapeRecord::kNone;
    int previous_ = DrawingShapeRecord::kNone;
    bool linkGroups_ = false;
};
