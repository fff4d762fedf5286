#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "office/drawing/drawingcontext.h"

#include "drawing_records.h"

namespace {

using namespace drawing_test;

// A shape record: shape id and flags (bits 8-11: 0xA a plain shape, 0x2 a group).
std::string Shape(int type, std::uint32_t flags = 0xA00)
{
    return Rec(0xF00A, type, U32(1025) + U32(flags), 2);
}

std::string Props(const std::string& entries, int count, const std::string& complex = "")
{
    return Rec(0xF00B, count, entries + complex, 3);
}

TEST(DrawingWalk, PictureFrameTakesItsPropertiesAndName)
{
    std::string name = U16('i') + U16('m') + U16('g') + U16(0);
    std::string entries = Entry(0x004, 0x5A0000) + Entry(0x104, 3) + Entry(0xC105, static_cast<std::uint32_t>(name.size()));
    std::string data = Rec(0xF004, 0xF, Shape(75) + Props(entries, 3, name) +
                                            Rec(0xF010, 0, U32(77)) + Rec(0xF011, 0, U32(88)) +
                                            Rec(0xF00F, 0, U32(1) + U32(2) + U32(3) + U32(4)));
    DrawingContext ctx;
    EXPECT_EQ(ctx.ParseRecords(reinterpret_cast<const unsigned char*>(data.data()), data.size()), 1);
    ObjectItem* root = ctx.Root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->type, 75);
    ASSERT_TRUE(root->shape);
    EXPECT_EQ(root->shape->shapeClass, DrawShapeClass::PictureFrame);
    EXPECT_EQ(root->shape->rotation, 0x5A0000u);
    EXPECT_EQ(root->shape->blipIndex, 3);
    EXPECT_EQ(root->shape->pictureName, u"img");
    EXPECT_EQ(root->clientAnchor, 77u);
    EXPECT_EQ(root->clientData, 88u);
    EXPECT_EQ(root->right, 3);
}

TEST(DrawingWalk, GroupsAndParentChecks)
{
    // A group shape whatever its instance, then members in a group container.
    std::string group = Rec(0xF003, 0xF,
                            Rec(0xF004, 0xF, Shape(0, 0x201)) + Rec(0xF004, 0xF, Shape(202)) +
                                Rec(0xF004, 0xF, Shape(1)));
    std::string data = Rec(0xF002, 0, group);
    DrawingContext ctx;
    EXPECT_EQ(ctx.ParseRecords(reinterpret_cast<const unsigned char*>(data.data()), data.size()), 1);
    ASSERT_NE(ctx.Root(), nullptr);
    EXPECT_EQ(ctx.Root()->type, kDrawingGroupKind);
    EXPECT_EQ(ctx.Root()->CountOutputShapes(), 2);

    // A property table under a drawing group container has no effect; a
    // shape record outside a shape container fails the walk.
    std::string bad = Rec(0xF000, 0, Props(Entry(0x004, 9), 1)) + Shape(1);
    DrawingContext ctx2;
    EXPECT_EQ(ctx2.ParseRecords(reinterpret_cast<const unsigned char*>(bad.data()), bad.size()), 0);
    EXPECT_EQ(ctx2.Root(), nullptr);

    // An unknown record inside a shape container stops the walk; what was
    // read before it stays.
    std::string partial = Rec(0xF004, 0, Shape(202) + Props(Entry(0x080, 5), 1) + Rec(0xF122, 0, "xxxx"));
    DrawingContext ctx3;
    EXPECT_EQ(ctx3.ParseRecords(reinterpret_cast<const unsigned char*>(partial.data()), partial.size()), 0);
    ASSERT_NE(ctx3.Root(), nullptr);
    EXPECT_EQ(ctx3.Root()->shape->textId, 5u);

    // A second root is refused.
    std::string two = Rec(0xF004, 0, Shape(1)) + Rec(0xF004, 0, Shape(202));
    DrawingContext ctx4;
    ctx4.ParseRecords(reinterpret_cast<const unsigned char*>(two.data()), two.size());
    EXPECT_EQ(ctx4.Root()->type, 1);
    EXPECT_EQ(ctx4.Root()->next, nullptr);
}

TEST(DrawingWalk, ShapeFactoryClassesAndDefaults)
{
    struct Case {
        int type;
        bool hasShape;
        DrawShapeClass shapeClass;
        std::int32_t adjust[4];
    };
    const Case cases[] = {
        {18, false, DrawShapeClass::Common, {}},
        {203, false, DrawShapeClass::Common, {}},
        {200, true, DrawShapeClass::Common, {}},
        {202, true, DrawShapeClass::TextBox, {}},
        {75, true, DrawShapeClass::PictureFrame, {}},
        {20, true, DrawShapeClass::Line, {}},
        {83, true, DrawShapeClass::ArrowSupport, {5000, 8000, 2500, 9000}},
        {2, true, DrawShapeClass::StandardSupport, {4000}},
        {89, true, DrawShapeClass::ArrowSupport, {9300, 18000, 6000}},
        {59, true, DrawShapeClass::Seal, {2600}},
    };
    for (const Case& c : cases) {
        // A rotation and a line width that only a shape object keeps.
        std::string data = Rec(0xF004, 0xF, Shape(c.type) + Props(Entry(0x004, 0x2D0000) + Entry(0x1CB, 9525), 2));
        DrawingContext ctx;
        EXPECT_EQ(ctx.ParseRecords(reinterpret_cast<const unsigned char*>(data.data()), data.size()), 1);
        ASSERT_NE(ctx.Root(), nullptr);
        EXPECT_EQ(ctx.Root()->type, c.type);
        ASSERT_EQ(static_cast<bool>(ctx.Root()->shape), c.hasShape) << c.type;
        if (!c.hasShape)
            continue;
        const drawObject& shape = *ctx.Root()->shape;
        EXPECT_EQ(shape.shapeClass, c.shapeClass) << c.type;
        EXPECT_EQ(shape.rotation, 0x2D0000u);
        EXPECT_EQ(shape.lineWidth, 9525u);
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(shape.adjust[k], c.adjust[k]) << c.type << " adjust " << k;
    }

    // The property table replaces the defaults; picture frames keep their
    // crop and picture settings, lines their path and geometry words, other
    // classes none of them.
    const std::string pictureEntries = Entry(0x147, 100) + Entry(0x100, 11) + Entry(0x103, 14) +
                                       Entry(0x10B, 0x30000) + Entry(0x13F, 7) + Entry(0x144, 4) + Entry(0x17F, 0);
    for (int type : {75, 20, 83}) {
        std::string data = Rec(0xF004, 0xF, Shape(type) + Props(pictureEntries, 7));
        DrawingContext ctx;
        ctx.ParseRecords(reinterpret_cast<const unsigned char*>(data.data()), data.size());
        ASSERT_TRUE(ctx.Root() && ctx.Root()->shape);
        const drawObject& shape = *ctx.Root()->shape;
        EXPECT_EQ(shape.adjust[0], 100);
        const bool picture = type == 75, line = type == 20;
        EXPECT_EQ(shape.crop[0], picture ? 11u : 0u);
        EXPECT_EQ(shape.crop[3], picture ? 14u : 0u);
        EXPECT_EQ(shape.PictureId(), picture ? 0x30000u : 0u);
        EXPECT_EQ(shape.pictureWords[3], picture ? 7u : 0u);
        EXPECT_EQ(shape.pathWord, line ? 4u : 0u);
        EXPECT_EQ(shape.geometryFlags, line ? 0u : 1u);
    }

    // A picture name is the root shape's own: a group root whose member is a
    // named picture frame has none.
    std::string name = U16('a') + U16(0);
    std::string named = Rec(0xF004, 0xF, Shape(75) + Props(Entry(0xC105, 4), 1, name));
    DrawingContext one;
    one.ParseRecords(reinterpret_cast<const unsigned char*>(named.data()), named.size());
    ASSERT_NE(one.Root()->GetPictureName(), nullptr);
    EXPECT_EQ(*one.Root()->GetPictureName(), u"a");
    std::string grouped = Rec(0xF002, 0, Rec(0xF003, 0xF, Rec(0xF004, 0xF, Shape(0, 0x201)) + named));
    DrawingContext two;
    two.ParseRecords(reinterpret_cast<const unsigned char*>(grouped.data()), grouped.size());
    ASSERT_NE(two.Root(), nullptr);
    EXPECT_EQ(two.Root()->GetPictureName(), nullptr);
}

TEST(DrawingWalk, HostileRecordsEndCleanly)
{
    // Lengths beyond the data, deep nesting, long group chains.
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep = Rec(0xF004, 0, deep);
    std::string chain = Rec(0xF004, 0, Shape(0, 0x201));
    for (int i = 0; i < 20000; ++i)
        chain += Rec(0xF004, 0, Shape(0, 0x201));
    const std::string cases[] = {
        "",
        std::string(7, '\0'),
        Rec(0xF004, 0, "") .substr(0, 8) + "\xff\xff\xff\x7f",
        std::string("\x0f\x00\x04\xf0\xff\xff\xff\xff", 8),
        deep,
        chain,
        Rec(0xF004, 0, Rec(0xF00B, 4000, "ab")),
        Rec(0xF004, 0, Shape(75) + Props(Entry(0xC105, 0xFFFFFFF0u), 1, "x")),
    };
    for (const std::string& c : cases) {
        DrawingContext ctx;
        ctx.ParseRecords(reinterpret_cast<const unsigned char*>(c.data()), c.size());
    }
    std::mt19937 rng(7);
    std::string base = Rec(0xF002, 0, Rec(0xF003, 0, Rec(0xF004, 0, Shape(0, 0x201) + Props(Entry(0x004, 1), 1)) +
                                                        Rec(0xF004, 0, Shape(75))));
    for (int round = 0; round < 2000; ++round) {
        std::string s = base;
        for (int e = 0; e < 3; ++e)
            s[rng() % s.size()] = static_cast<char>(rng());
        DrawingContext ctx;
        ctx.ParseRecords(reinterpret_cast<const unsigned char*>(s.data()), s.size());
    }
}

}  // namespace
