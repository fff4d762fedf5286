// OfficeArt drawing data: a walk over the records (8-byte header: version and
// instance, record type, body length) that builds a tree of drawing items,
// one per shape record, each with a shape object holding the properties the
// readers use (rotation, text identifier, blip index, picture name).
//
// The walk never reads past the bytes it is given, checks every record
// against its parent container and caps the container nesting.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
    // Picture frames, text boxes, callouts and the outline shapes count.
    bool CountsTowardGroup() const;
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
    // Counts this item, its children and the items after it.
    int CountOutputShapes() const;
    // The picture name of this item's own shape, or null.
    const std::u16string* GetPictureName() const;
};

class DrawingContext {
public:
    // A free-standing context with a single anchor.
    DrawingContext();
    ~DrawingContext();
    DrawingContext(const DrawingContext&) = delete;
    DrawingContext& operator=(const DrawingContext&) = delete;

    // Walks the records at data; 1 when every record was read, 0 when one failed
    // (what was built before it stays).
    int ParseRecords(const unsigned char* data, size_t length);

    ObjectItem* Root() const { return m_root.get(); }
    ObjectItem* Current() const { return m_current; }
    const std::vector<std::vector<unsigned char>>& BlipEntries() const { return m_blips; }
    const std::uint32_t* GroupHeader() const { return m_groupHeader; }

private:
    struct Frame {
        int type;            // 0 for the outermost frame
        std::uint64_t left;  // bytes of the body not yet consumed
    };
    int ParseRecord(const unsigned char*& cursor, size_t& avail, Frame& parent, int depth);
    int CreateShapeItem(const unsigned char* body, size_t length, int instance);
    int ApplyProperties(const unsigned char* body, size_t length, int count);

    std::unique_ptr<ObjectItem> m_root;
    ObjectItem* m_current = nullptr;
    std::uint32_t m_groupHeader[6] = {};
    std::vector<std::vector<unsigned char>> m_blips;
    int m_itemCount = 0;
};
