// OfficeArt drawing data: a walk over the records (8-byte header: version and
// instance, record type, body length) that builds a tree of drawing items,
// one per shape record, each with a shape object holding the properties the
// readers use (rotation, text identifier, blip index, picture name).
//
// The walk never reads past the bytes it is given, checks every record
// against its parent container and caps the container nesting.
//
// A free-standing context (the picture processing) has one anchor that the
// first shape record takes. A context bound to a reader holds the reader's
// floating-shape anchors and matches shape records to them by shape
// identifier; at each anchor character the reader calls EmitNextAnchor,
// which places and lays out the drawing once (drawinglayout.cpp) and writes
// it (drawingemit.cpp): text boxes and callouts their stories, groups their
// members in order, picture frames of groups after the whole drawing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "office/drawing/embeddedpicture.h"
#include "office/drawing/recordreader.h"
#include "platform/cfb.h"

// The deepest container nesting followed.
constexpr int kDrawingMaxDepth = 64;
// Group items carry this kind in place of a shape type.
constexpr int kDrawingGroupKind = 513;

// Shape families, chosen by the shape type.
enum class DrawShapeClass {
    Common,
    Standard,
    StandardSupport,
    StandardSupport2,
    Seal,
    ArrowSupport,
    Arc,
    Line,
    Callout,
    Ribbon,
    Wave,
    PictureFrame,
    Arrow,
    Scroll,
    FlowChart,
    TextBox,
    Group,
};

DrawShapeClass ShapeClassOfType(int type);
// Whether a shape of this type gets a shape object: not type 18, nor types
// outside 0 to 202 other than the group kind.
bool HasShapeObject(int type);

class DrawingContext;
struct ObjectItem;

struct DrawPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    bool operator==(const DrawPoint&) const = default;
};

// Rotates points about a centre by an angle of num/den degrees: x' = cx +
// dx cos a + dy sin a, y' = cy + dy cos a - dx sin a, rounded half away from
// zero and kept within 32 bits. The sine and cosine of the last angle are
// kept while the angle repeats; a numerator of 0 leaves the point as it is.
class RotatePoint {
public:
    DrawPoint operator()(DrawPoint centre, int num, int den, DrawPoint p);

private:
    int m_num = 0;
    int m_den = 0;
    double m_sin = 0;
    double m_cos = 1;
};

// The n-pointed star about the centre of a w x h box: 2n + 1 vertices, the
// outer points on the ellipse through (0, h/2), the inner ones through
// (inner, h/2), the last repeating the first. n is capped at 64.
std::vector<DrawPoint> MakeStar(int n, std::int32_t w, std::int32_t h, std::int32_t inner);

// What a drawing context bound to a document reader asks of the reader. The
// defaults answer as a reader without text boxes, pictures or margins would.
class DrawingReader {
public:
    virtual ~DrawingReader() = default;
    // The current section's left margin in twips.
    virtual std::int32_t LeftMargin() const { return 1800; }
    // A shape's client anchor value; the reader keeps the largest.
    virtual void RaiseClientAnchor(std::int32_t /*value*/) {}
    // Writes the text of text-box story `story` to out; false when the
    // document has no such story.
    virtual bool WriteTextBoxStory(int /*story*/, std::u16string& /*out*/) { return false; }
    // The picture position referenced by the first paragraph of `story` that
    // references one, 0 when none does.
    virtual std::uint32_t FindPictureRef(int /*story*/) { return 0; }
    // Reads up to n bytes of the document stream at offset; the count read.
    virtual size_t ReadAt(std::uint64_t /*offset*/, void* /*out*/, size_t /*n*/) { return 0; }
    // The document's root storage (embedded objects), or null.
    virtual plat::CfbStorage* RootStorage() { return nullptr; }
    virtual PictureCounters& Counters() { return m_counters; }

private:
    PictureCounters m_counters;
};

// The properties of one shape.
struct drawObject {
    DrawShapeClass shapeClass = DrawShapeClass::Common;
    std::uint32_t rotation = 0;
    std::uint32_t textId = 0;
    std::int32_t blipIndex = 0;
    std::uint32_t lineWidth = 0;
    std::uint32_t lineDashing = 0;
    std::uint32_t startArrowhead = 0;
    std::uint32_t endArrowhead = 0;
    std::uint32_t lineColor = 0;
    std::uint32_t fillColor = 0xFFFFFF;
    std::uint32_t lineFlags = 0x100010;
    std::uint32_t fillFlags = 0x100010;
    std::int32_t adjust[4] = {};
    std::u16string pictureName;  // picture frames: the complex value of 0x105
    // Picture frames: crop from top, bottom, left, right (0x100-0x103); the
    // picture settings 0x106-0x10E (flags, transparent colour, contrast,
    // brightness, gamma, picture identifier, three colour modifications);
    // four picture words (0x13C-0x13F).
    std::uint32_t crop[4] = {};
    std::uint32_t pictureSettings[9] = {};
    std::uint32_t pictureWords[4] = {};
    std::uint32_t PictureId() const { return pictureSettings[5]; }
    // Lines: the path word (0x144) and the geometry flags (0x17F).
    std::uint32_t pathWord = 0;
    std::uint32_t geometryFlags = 1;

    // The adjust values a shape of this type starts with.
    void SetDefaultAdjustValues(int type);

    // Keeps the value of one property entry (number, value); false when the
    // number is not a recognised one.
    bool SetProperty(int number, std::uint32_t value);
    void SetComplexProperty(const unsigned char* data, size_t length);
    // Text boxes, callouts, arcs, lines and the outline shapes count toward
    // a group's output; picture frames and groups do not.
    bool CountsTowardGroup() const;

    // The item that owns the shape.
    ObjectItem* item = nullptr;
    // Corner points (top-left, top-right, bottom-left) relative to the item's
    // rectangle, and the outline polygon relative to it scaled by 1800/1440,
    // as the layout leaves them.
    DrawPoint corners[3] = {};
    std::vector<DrawPoint> outline;

    // Output. Text boxes and callouts write their story; groups their
    // members; picture frames inside a group wait for the context's deferred
    // list, other picture frames process their picture.
    void Emit(DrawingContext& ctx, std::u16string& output, std::uint32_t value, ObjectItem* owner);
    void EmitDeferred(DrawingContext& ctx, std::u16string& output);
    void MarkDeferredDone();
    // Picture frames: the value kept when the frame was deferred, whether its
    // deferred output ran, the object number its picture reference gave, and
    // what its last emission did with its picture.
    std::uint32_t deferredValue = 0;
    bool deferredDone = false;
    std::uint32_t objectNumber = 0;
    bool pictureWritten = false;
    bool objectFound = false;

    // The outline polygon of the outline classes in item-local coordinates
    // (width right - left - 1, height bottom - top - 1), computed once and
    // kept; the vertex count (0 for other classes and types).
    int BuildVertices(std::vector<DrawPoint>& out);
    std::vector<DrawPoint> vertices;
    bool verticesBuilt = false;
};

struct ObjectItem {
    int type = -1;
    std::uint32_t clientAnchor = 0;
    std::uint32_t clientData = 0;
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    std::uint32_t flags = 0;
    std::unique_ptr<drawObject> shape;
    ObjectItem* parent = nullptr;
    // Group items: the members; every item: the item that follows it.
    std::vector<std::unique_ptr<ObjectItem>> children;
    std::unique_ptr<ObjectItem> next;

    bool CanHaveChildren() const { return canHaveChildren; }
    bool canHaveChildren = false;
    void CreateShape();
    // A new member: a nested group (kind 513) joins this item's children,
    // any other kind follows this item in its group.
    ObjectItem* AddChild(int kind);
    // Counts this item, its children and the items after it.
    int CountOutputShapes() const;
    // The picture name of this item's own shape, or null.
    const std::u16string* GetPictureName() const;

    // Output: the shape's Emit with this item; a group's members (children,
    // then each following item with its own children) in order.
    void Emit(DrawingContext& ctx, std::u16string& output, std::uint32_t value);
    void EmitChildren(DrawingContext& ctx, std::u16string& output, std::uint32_t value);
    size_t emitCursor = 0;  // children emitted by the running EmitChildren
    bool HasMoreChildren() const;
    bool HasFollowing() const;
    // The widest line of this item and, for group items, of its members.
    std::uint32_t MaxLineWidth(std::uint32_t start) const;

    // Geometry. PlaceOnPage moves a root item by the reader's left margin
    // (by the anchor's horizontal and vertical references) and maps the
    // members of group items into their group's rectangle; Layout rotates
    // each item (members about their group's centre first) and sets its
    // rectangle to the bounds of the rotated shape.
    void PlaceOnPage(std::int32_t leftMargin, std::uint16_t anchorFlags);
    void Layout();
    // Maps the members of this group item (its following items and the
    // nested groups hanging from them) from their extent into this item's
    // rectangle, then does the same inside each nested group.
    void MapMembers(int depth = 0);
};

// One shape anchor of a document: the floating-shape record of the reader
// (shape identifier, rectangle in twips, reference flags, text-box count)
// and the item tree of its drawing.
struct FloatingAnchor {
    std::uint32_t shapeId = 0;
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    std::uint16_t flags = 0;  // bits 1-2 horizontal reference, bits 3-4 vertical reference
    std::uint32_t textBoxes = 0;
};

struct drawingObject {
    int type = -1;
    FloatingAnchor anchor;
    std::unique_ptr<ObjectItem> root;
    bool laidOut = false;

    // Makes the root item, or null when the anchor has one already.
    ObjectItem* CreateRootItem(int kind);
    // First emission: places and lays out the drawing (shapes whose fill or
    // line is switched off get the colour 0x10000000); every emission then
    // writes the root item.
    void Emit(DrawingContext& ctx, std::u16string& output);
    const std::u16string* GetPictureName() const { return root ? root->GetPictureName() : nullptr; }
};

class DrawingContext {
public:
    // A free-standing context with a single anchor.
    DrawingContext();
    // A context bound to a reader, with the reader's floating-shape anchors:
    // shape records are matched to them by shape identifier.
    DrawingContext(DrawingReader* reader, const std::vector<FloatingAnchor>& anchors);
    ~DrawingContext();
    DrawingContext(const DrawingContext&) = delete;
    DrawingContext& operator=(const DrawingContext&) = delete;

    // Walks the records at data; 1 when every record was read, 0 when one failed
    // (what was built before it stays).
    int ParseRecords(const unsigned char* data, size_t length);

    ObjectItem* Root() const { return m_anchors.empty() ? nullptr : m_anchors[0].root.get(); }
    DrawingReader* Reader() const { return m_reader; }
    size_t AnchorCount() const { return m_anchors.size(); }
    drawingObject& Anchor(size_t k) { return m_anchors[k]; }

    // The reader's anchor character: emits the next anchor's drawing, then
    // the picture frames it deferred; false when every anchor was taken.
    bool EmitNextAnchor(std::u16string& output);
    // Picture frames of groups wait here until the drawing they belong to
    // was written.
    void DeferPictureFrame(drawObject* shape);
    void FlushDeferredFrames(std::u16string& output);
    size_t DeferredCount() const { return m_deferred.size(); }
    ObjectItem* Current() const { return m_current; }
    const std::vector<std::vector<unsigned char>>& BlipEntries() const { return m_blips; }
    const std::uint32_t* GroupHeader() const { return m_groupHeader; }

private:
    // One record of ParseRecords: 0 when it breaks the rules, 1 when read,
    // kWalkChildren for a container whose children come next.
    static constexpr int kWalkChildren = 2;
    int ParseRecord(const officeart::Record& record, int parentType);
    int CreateShapeItem(const unsigned char* body, size_t length, int instance);
    int ApplyProperties(const unsigned char* body, size_t length, int count);

    DrawingReader* m_reader = nullptr;
    std::vector<drawingObject> m_anchors;
    size_t m_nextAnchor = 0;
    std::vector<drawObject*> m_deferred;
    ObjectItem* m_current = nullptr;
    std::uint32_t m_groupHeader[6] = {};
    std::vector<std::vector<unsigned char>> m_blips;
    int m_itemCount = 0;
};
