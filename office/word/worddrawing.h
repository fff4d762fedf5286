// Drawn objects of a Word 97-2003 document: the shape anchors of the main
// text and the headers (PlcSpaMom, PlcSpaHdr) and the shapes of the OfficeArt
// drawing data in the table stream, read by the shared shape table
// (office/drawing/shapetable.h) with just what the text walk needs: each
// shape's id, type, group links, whether it carries a text box, and the
// vertices of freeform shapes. CMsDrawObject decides whether a shape has a
// usable outline; only then is its text-box text emitted.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "office/drawing/shapetable.h"
#include "office/word/wordstruct.h"

struct WordShapeAnchor {
    std::int32_t cp = 0;       // absolute CP of the anchor character
    std::uint8_t fspa[26] = {};
    std::int32_t spid() const
    {
        return static_cast<std::int32_t>(fspa[0] | (fspa[1] << 8) | (fspa[2] << 16) |
                                         (static_cast<std::uint32_t>(fspa[3]) << 24));
    }
};

// One shape of the drawing data (office/drawing/shapetable.h).
using WordShapeRecord = DrawingShapeRecord;

class WordDrawingData {
public:
    int LoadAnchors(const WordBytes& table, const CMsWordFIB80& fib);
    int Load(const WordBytes& table, const CMsWordFIB80& fib);

    int AnchorCount() const { return static_cast<int>(anchors_.size()); }
    int ShapeCount() const { return shapes_.ShapeCount(); }
    const std::vector<WordShapeAnchor>& Anchors() const { return anchors_; }
    const std::vector<WordShapeRecord>& Shapes() const { return shapes_.Shapes(); }
    // The first anchor at cp, or -1; the first shape with the id, or -1.
    int FindAnchor(std::int32_t cp) const;
    int FindShape(std::uint32_t spid) const;

    void SetOwnerValue(std::intptr_t v) { owner_ = v; }

private:
    DrawingShapeTable shapes_;
    std::vector<WordShapeAnchor> anchors_;
    std::vector<std::pair<std::int32_t, int>> anchorByCp_;
    std::intptr_t owner_ = 0;
};

// The name the reader's model gives the drawing anchors and shapes.
using MsWordShapeTable = WordDrawingData;

struct ShapeCheckRequest {
    std::int32_t shapeType = 0;
    std::uint8_t hasTextBox = 0;
    const std::vector<std::pair<std::uint16_t, std::uint16_t>>* vertices = nullptr;
    const std::vector<std::int32_t>* adjustValues = nullptr;
};

class CMsDrawObject {
public:
    virtual ~CMsDrawObject() = default;
    // 1 when the shape has a usable outline, 0 when it has none. The request's
    // type becomes 1 where the check takes the shape as a rectangle. The
    // text reader does not ask it: a shape's text box is read whatever its
    // outline.
    int CheckShape(ShapeCheckRequest& request);
};
