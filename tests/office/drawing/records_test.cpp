// The shared drawing records: the header and property entry decoders, the
// shape table the Word 97 reader reads its drawing data with, and the
// picture store.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "office/drawing/blipstore.h"
#include "office/drawing/drawingrecords.h"
#include "office/drawing/shapetable.h"

#include "drawing_records.h"

namespace {

using namespace drawing_test;

const unsigned char* Bytes(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(DrawingRecords, HeaderAndPropertyEntryDecode)
{
    struct Case {
        std::string bytes;
        int version, instance, type;
        std::uint32_t length;
        bool container;
    };
    const Case cases[] = {
        {U16(0x000F) + U16(0xF002) + U32(0x10), 0xF, 0, 0xF002, 0x10, true},
        // Instance in the upper twelve bits: a shape record of type 202.
        {U16(0x0CA2) + U16(0xF00A) + U32(8), 2, 202, 0xF00A, 8, false},
        {U16(0xFFF3) + U16(0xF00B) + U32(0xFFFFFFFF), 3, 0xFFF, 0xF00B, 0xFFFFFFFFu, false},
    };
    for (const Case& c : cases) {
        const officeart::RecordHeader h = officeart::DecodeHeader(Bytes(c.bytes));
        EXPECT_EQ(h.Version(), c.version);
        EXPECT_EQ(h.Instance(), c.instance);
        EXPECT_EQ(h.type, c.type);
        EXPECT_EQ(h.length, c.length);
        EXPECT_EQ(h.IsContainer(), c.container);
    }

    const std::string plain = Entry(0x4104, 7);
    const officeart::PropertyEntry blip = officeart::DecodePropertyEntry(Bytes(plain));
    EXPECT_EQ(blip.Id(), officeart::kPropBlip);
    EXPECT_TRUE(blip.IsBlipId());
    EXPECT_FALSE(blip.IsComplex());
    EXPECT_EQ(blip.value, 7u);
    const std::string complex = Entry(0x8000 | officeart::kPropBlipName, 0x01020304);
    const officeart::PropertyEntry name = officeart::DecodePropertyEntry(Bytes(complex));
    EXPECT_EQ(name.Id(), officeart::kPropBlipName);
    EXPECT_FALSE(name.IsBlipId());
    EXPECT_TRUE(name.IsComplex());
    EXPECT_EQ(name.value, 0x01020304u);
}

// A shape container: shape record (id, flags), child rectangle, host text.
std::string ShapeContainer(std::uint32_t spid, std::uint32_t flags, int type, const std::string& extra = "")
{
    return Rec(0xF004, 0, Rec(0xF00A, type, U32(spid) + U32(flags), 2) + extra, 0xF);
}

std::string Rect(int type, std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b)
{
    return Rec(type, 0, U32(l) + U32(t) + U32(r) + U32(b));
}

// A drawing: the group header (highest id 8), a group shape with the
// rectangle 0,0-100,100 holding two members, then a shape outside the group.
std::string GroupDrawing()
{
    const std::string group = ShapeContainer(1025, 0x1, 0, Rect(0xF009, 0, 0, 100, 100));
    const std::string first = ShapeContainer(1026, 0x2, 202, Rect(0xF00F, 10, 10, 20, 20) + Rec(0xF00D, 0, U32(1)));
    const std::string second = ShapeContainer(1027, 0x2, 1, Rect(0xF00F, 30, 30, 40, 40));
    const std::string after = ShapeContainer(1028, 0, 1);
    return Rec(0xF000, 0, Rec(0xF006, 0, U32(8) + U32(0)), 0xF) +
           Rec(0xF002, 0, Rec(0xF003, 0, group + first + second, 0xF) + after, 0xF);
}

TEST(DrawingShapeTable, ShapesJoinTheirGroupOnlyWhenLinked)
{
    const std::string data = GroupDrawing();
    DrawingShapeTable linked;
    linked.Read(Bytes(data), data.size(), true);
    ASSERT_EQ(linked.ShapeCount(), 9);  // highest id + 1 slots
    const int group = linked.FindShape(1025);
    const int first = linked.FindShape(1026);
    const int second = linked.FindShape(1027);
    const int after = linked.FindShape(1028);
    ASSERT_EQ(group, 0);
    ASSERT_EQ(first, 1);
    ASSERT_EQ(second, 2);
    ASSERT_EQ(after, 3);
    const auto& s = linked.Shapes();
    EXPECT_EQ(s[group].isGroup, 1);
    EXPECT_EQ(s[first].isChild, 1);
    EXPECT_EQ(s[first].shapeType, 202u);
    EXPECT_EQ(s[first].hasTextBox, 1);
    EXPECT_EQ(s[second].hasTextBox, 0);
    EXPECT_EQ(s[group].firstChild, first);
    EXPECT_EQ(s[first].parent, group);
    EXPECT_EQ(s[first].nextSibling, second);
    EXPECT_EQ(s[second].parent, group);
    EXPECT_EQ(s[group].nextSibling, after);
    EXPECT_EQ(s[after].parent, DrawingShapeRecord::kNone);

    DrawingShapeTable unlinked;
    unlinked.Read(Bytes(data), data.size(), false);
    ASSERT_EQ(unlinked.ShapeCount(), 9);
    for (const DrawingShapeRecord& r : unlinked.Shapes()) {
        EXPECT_EQ(r.parent, DrawingShapeRecord::kNone);
        EXPECT_EQ(r.firstChild, DrawingShapeRecord::kNone);
        EXPECT_EQ(r.nextSibling, DrawingShapeRecord::kNone);
    }
    EXPECT_EQ(unlinked.FindShape(1027), 2);
    EXPECT_EQ(unlinked.FindShape(999), -1);
}

TEST(DrawingShapeTable, DamagedDataStaysInsideItsBytes)
{
    // An unknown record type is stepped over byte by byte; a header claiming
    // far more than the data, a group header asking for four billion slots
    // and a truncated end are all bounded by the bytes present.
    const std::string garbage = "\x01\x02\x03";
    const std::string data = Rec(0xF006, 0, U32(0xFFFFFFF0) + U32(0)) + garbage +
                             ShapeContainer(7, 0, 3) + U16(0) + U16(0xF008) + U32(0x7FFFFFFF) + "\x05";
    DrawingShapeTable table;
    table.Read(Bytes(data), data.size(), true);
    EXPECT_LE(static_cast<std::uint64_t>(table.ShapeCount()), data.size() / 8 + 1);
    ASSERT_GE(table.FindShape(7), 0);
    EXPECT_EQ(table.Shapes()[table.FindShape(7)].shapeType, 3u);

    DrawingShapeTable none;
    none.ReadNone();
    EXPECT_EQ(none.ShapeCount(), 1);
    EXPECT_EQ(none.FindShape(0), 0);
}

TEST(DrawingShapeTable, FreeformVerticesComeFromTheComplexData)
{
    // Vertices (complex, 6 + 2 * 4 bytes): count 2, then two points.
    const std::string vertices = U16(2) + U16(2) + U16(4) + U16(1) + U16(2) + U16(3) + U16(4);
    const std::string opt = Rec(0xF00B, 2, Entry(0x004, 0) + Entry(0x8145, static_cast<std::uint32_t>(vertices.size())) +
                                                vertices, 3);
    const std::string data = Rec(0xF006, 0, U32(2) + U32(0)) + ShapeContainer(1, 0, 0, opt);
    DrawingShapeTable table;
    table.Read(Bytes(data), data.size(), false);
    const int shape = table.FindShape(1);
    ASSERT_GE(shape, 0);
    const auto& v = table.Shapes()[shape].vertices;
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0], std::make_pair(std::uint16_t(1), std::uint16_t(2)));
    EXPECT_EQ(v[1], std::make_pair(std::uint16_t(3), std::uint16_t(4)));
}

}  // namespace

namespace {

TEST(PictureStore, EntriesKeepTheirNameOnlyWhenItIsThere)
{
    // A 36-byte entry whose length byte (offset 33) announces a 3-byte name.
    std::string entry(36, '\0');
    entry[33] = 3;
    const std::string named = entry + "abc";
    struct Case {
        std::string body;
        std::uint64_t length;
        bool added;
        int nameLength;
        std::string name;
    };
    const Case cases[] = {
        {named, named.size(), true, 3, std::string("abc") + '\0'},        // the name, zero-ended on a byte pair
        {named.substr(0, 38), named.size(), true, 0, ""},                   // the name runs past the bytes present
        {entry.substr(0, 35), 35, false, 0, ""},                           // shorter than an entry
        {entry, 20, false, 0, ""},                                         // the record claims less than an entry
    };
    for (const Case& c : cases) {
        CMsoBLIPStoreManager store;
        EXPECT_EQ(store.AddEntry(reinterpret_cast<const std::uint8_t*>(c.body.data()), c.body.size(), c.length), c.added);
        ASSERT_EQ(store.entries.size(), c.added ? 1u : 0u);
        if (!c.added)
            continue;
        EXPECT_EQ(store.entries[0]->NameLength(), c.nameLength);
        EXPECT_EQ(std::string(store.entries[0]->name.begin(), store.entries[0]->name.end()), c.name);
    }
}

}  // namespace
