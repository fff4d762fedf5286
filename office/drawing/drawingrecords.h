// The records of OfficeArt drawing data, shared by every reader that meets
// them: the Word 97-2003 reader (drawing data in the table stream), the
// PowerPoint reader (drawings inside slide records) and the picture
// processing (office/drawing/drawingcontext.h).
//
// Every record starts with the same 8-byte header: a 16-bit word of version
// (bits 0-3) and instance (bits 4-15), the 16-bit record type, and the 32-bit
// length of the body that follows. Version 0xF marks a container whose body
// is a sequence of records. The PowerPoint document stream uses the same
// header for its own records.
//
// The header decoder only reads the 8 bytes it is given; the length it
// returns is what the file claims, and each walk bounds it by the bytes it
// really has.
#pragma once

#include <cstddef>
#include <cstdint>

namespace officeart {

// Record types. Containers first, then atoms in number order.
enum RecordType : std::uint16_t {
    kDggContainer = 0xF000,      // the drawing group: settings, picture store
    kBStoreContainer = 0xF001,   // the picture store: one entry per picture
    kDgContainer = 0xF002,       // one drawing
    kSpgrContainer = 0xF003,     // a group of shapes
    kSpContainer = 0xF004,       // one shape
    kSolverContainer = 0xF005,   // connection rules
    kDgg = 0xF006,               // drawing group header (highest shape id, counts)
    kBSE = 0xF007,               // one picture store entry (36 bytes and a name)
    kDg = 0xF008,                // drawing header (shape count, last shape id)
    kSpgr = 0xF009,              // group rectangle
    kSp = 0xF00A,                // shape: id and flags; its instance is the shape type
    kOpt = 0xF00B,               // property table; its instance is the entry count
    kTextbox = 0xF00C,
    kClientTextbox = 0xF00D,     // the host's text of the shape
    kAnchor = 0xF00E,
    kChildAnchor = 0xF00F,       // rectangle inside the group
    kClientAnchor = 0xF010,      // the host's anchor of the shape
    kClientData = 0xF011,
    kConnectorRule = 0xF012,
    kAlignRule = 0xF013,
    kArcRule = 0xF014,
    kClientRule = 0xF015,
    kClsid = 0xF016,
    kCalloutRule = 0xF017,
    kBlipFirst = 0xF018,         // first of the picture record types
    kRegroupItems = 0xF118,
    kSelection = 0xF119,
    kColorMru = 0xF11A,
    kDeletedPspl = 0xF11D,
    kSplitMenuColors = 0xF11E,
    kOleObject = 0xF11F,
    kColorScheme = 0xF120,
    kTertiaryOpt = 0xF122,
};

// Instances of the picture records the readers write out: the picture's
// format, and whether one or two 16-byte identifiers precede its bytes.
enum BlipInstance : std::uint16_t {
    kBlipJpeg = 0x46A,
    kBlipPng = 0x6E0,
    kBlipPngTwoIds = 0x6E1,
    kBlipDib = 0x7A8,
    kBlipDibTwoIds = 0x7A9,
};

// The version that marks a container.
constexpr int kContainerVersion = 0x0F;

// Shape record flags (second 32-bit word of kSp).
constexpr std::uint32_t kShapeFlagGroup = 0x1;   // the shape is a group
constexpr std::uint32_t kShapeFlagChild = 0x2;   // the shape is a member of a group

// A property table entry: a 16-bit id word (property number in bits 0-13,
// picture reference bit 14, complex bit 15) and a 32-bit value. A complex
// entry's value is the length of its data, which follows the whole table in
// entry order.
constexpr std::size_t kPropertyEntrySize = 6;
constexpr std::uint16_t kPropertyNumberMask = 0x3FFF;
constexpr std::uint16_t kPropertyBlipFlag = 0x4000;
constexpr std::uint16_t kPropertyComplexFlag = 0x8000;

// Property numbers the readers look at by name.
enum PropertyNumber : std::uint16_t {
    kPropRotation = 0x004,          // 16.16 degrees
    kPropTextId = 0x080,
    kPropCropFromTop = 0x100,       // then bottom, left, right (0x101-0x103)
    kPropBlip = 0x104,              // picture store index
    kPropBlipName = 0x105,          // complex: the picture's name, UTF-16
    kPropPictureFlags = 0x106,      // first of the picture settings (0x106-0x10E)
    kPropPictureId = 0x10B,
    kPropPictureWordFirst = 0x13C,  // four picture words (0x13C-0x13F)
    kPropShapePath = 0x144,
    kPropVertices = 0x145,          // complex: freeform points
    kPropSegmentInfo = 0x146,       // complex: freeform segments
    kPropAdjustFirst = 0x147,       // adjust values, up to 0x150
    kPropAdjustLast = 0x150,
    kPropGeometryFlags = 0x17F,
    kPropFillColor = 0x181,
    kPropFillBackColor = 0x183,
    kPropFillBlip = 0x186,
    kPropFillBlipName = 0x187,      // complex: the fill picture's name
    kPropFillFlags = 0x1BF,
    kPropLineColor = 0x1C0,
    kPropLineBackColor = 0x1C2,
    kPropLineWidth = 0x1CB,
    kPropLineDashing = 0x1CE,
    kPropLineStartArrowhead = 0x1D0,
    kPropLineEndArrowhead = 0x1D1,
    kPropLineFlags = 0x1FF,
    kPropShapeName = 0x380,         // complex: the shape's name, UTF-16
};

struct RecordHeader {
    std::uint16_t verInst = 0;
    std::uint16_t type = 0;
    std::uint32_t length = 0;

    int Version() const { return verInst & 0x0F; }
    int Instance() const { return verInst >> 4; }
    bool IsContainer() const { return Version() == kContainerVersion; }
};

inline std::uint16_t ReadLe16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t ReadLe32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

// Decodes the header in the 8 bytes at p (the caller checked they are there).
inline RecordHeader DecodeHeader(const unsigned char* p)
{
    RecordHeader h;
    h.verInst = ReadLe16(p);
    h.type = ReadLe16(p + 2);
    h.length = ReadLe32(p + 4);
    return h;
}

struct PropertyEntry {
    std::uint16_t idWord = 0;
    std::uint32_t value = 0;

    int Id() const { return idWord & kPropertyNumberMask; }
    bool IsBlipId() const { return (idWord & kPropertyBlipFlag) != 0; }
    bool IsComplex() const { return (idWord & kPropertyComplexFlag) != 0; }
};

// Decodes the entry in the 6 bytes at p (the caller checked they are there).
inline PropertyEntry DecodePropertyEntry(const unsigned char* p)
{
    return PropertyEntry{ReadLe16(p), ReadLe32(p + 2)};
}

// Word 6 documents keep their drawn objects in a format of their own: each
// object is a list of primitives, each with a 4-byte header of a 16-bit kind
// and the 16-bit size of the whole primitive. A group holds further
// primitives from 14 bytes into its record. The kinds the Word 6 reader
// tells apart (the low byte names the shape; a second form of some shapes
// sets the high byte):
namespace word6draw {
enum PrimitiveKind : std::uint16_t {
    kLine = 0x0001,
    kTextBox = 0x0002,
    kRectangle = 0x0003,
    kEllipse = 0x0004,
    kArc = 0x0005,
    kPolyline = 0x0006,
    kCallout = 0x0007,           // a line with a text box
    kGroupOnly = 0x0108,         // accepted only inside a group
    kEllipseVariant = 0x0204,
    kArcVariant = 0x0205,
    kTextBoxVariant = 0x0402,
    kPolylineVariant = 0x0806,
    kCalloutVariant = 0x0807,
    kGroup = 0x1900,
};
constexpr std::uint64_t kGroupChildOffset = 14;  // first child, from the group's start
constexpr std::uint64_t kGroupTrailer = 15;      // child headers start before size - 15
}  // namespace word6draw

}  // namespace officeart
