#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <cstdint>
#include <string>
#include <vector>

#include "office/drawing/drawingcontext.h"
#include "office/drawing/embeddedpicture.h"

#include "drawing_records.h"

namespace {

using namespace drawing_test;

// A shape container: shape record (type, identifier, flags), properties and
// child anchor when given.
std::string ShapeContainer(int type, std::uint32_t id, std::uint32_t flags, const std::string& entries = "",
                           int count = 0, const std::string& anchor = "")
{
    std::string body = Rec(0xF00A, type, U32(id) + U32(flags), 2);
    if (count)
        body += Rec(0xF00B, count, entries, 3);
    body += anchor;
    return Rec(0xF004, 0xF, body);
}

std::string ChildAnchor(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b)
{
    return Rec(0xF00F, 0, U32(l) + U32(t) + U32(r) + U32(b));
}

int Walk(DrawingContext& ctx, const std::string& data)
{
    return ctx.ParseRecords(reinterpret_cast<const unsigned char*>(data.data()), data.size());
}

// An item of the type over the box (0, 0, w + 1, h + 1) with its shape.
std::unique_ptr<ObjectItem> MakeItem(int type, std::int32_t w, std::int32_t h)
{
    auto item = std::make_unique<ObjectItem>();
    item->type = type;
    item->right = w + 1;
    item->bottom = h + 1;
    item->CreateShape();
    return item;
}

using Pts = std::vector<DrawPoint>;

TEST(DrawingShapes, OutlineVerticesByTypeBoxAndAdjustValues)
{
    struct Case {
        int type;
        std::int32_t adjust1;  // -1: the type's default
        Pts expected;
    };
    // Box 100 x 200.
    const Case cases[] = {
        {4, -1, {{50, 0}, {100, 100}, {50, 200}, {0, 100}, {50, 0}}},
        {5, -1, {{50, 0}, {100, 200}, {0, 200}, {50, 0}}},
        {5, 0, {{0, 0}, {100, 200}, {0, 200}, {0, 0}}},
        {13, -1, {{0, 50}, {76, 50}, {76, 0}, {100, 100}, {76, 200}, {76, 149}, {0, 149}, {0, 50}}},
        {10, -1, {{27, 0}, {72, 0}, {100, 55}, {100, 144}, {72, 200}, {27, 200}, {0, 144}, {0, 55}, {27, 0}}},
        {177, -1, {{0, 0}, {100, 0}, {100, 160}, {50, 200}, {0, 160}, {0, 0}}},
        // Shapes of the other classes have no outline.
        {1, -1, {}},
        {75, -1, {}},
        {202, -1, {}},
        {19, -1, {}},
    };
    for (const Case& c : cases) {
        auto item = MakeItem(c.type, 100, 200);
        ASSERT_TRUE(item->shape) << c.type;
        if (c.adjust1 >= 0)
            item->shape->adjust[0] = c.adjust1;
        Pts got;
        EXPECT_EQ(item->shape->BuildVertices(got), static_cast<int>(c.expected.size())) << c.type;
        EXPECT_EQ(got, c.expected) << c.type;
        // Computed once: later adjust values do not change the outline.
        item->shape->adjust[0] = 21600;
        Pts again;
        item->shape->BuildVertices(again);
        EXPECT_EQ(again, c.expected) << c.type;
    }

    // Stars: 2n + 1 vertices, closed, the first outer point at the left middle.
    const std::pair<int, int> stars[] = {{58, 17}, {59, 33}, {60, 65}, {92, 49}, {187, 9}};
    for (auto [type, count] : stars) {
        auto item = MakeItem(type, 100, 100);
        Pts got;
        ASSERT_EQ(item->shape->BuildVertices(got), count) << type;
        EXPECT_EQ(got.front(), (DrawPoint{0, 50})) << type;
        EXPECT_EQ(got.front(), got.back()) << type;
    }
    Pts star8 = MakeStar(8, 100, 100, 0);
    EXPECT_EQ(star8[4], (DrawPoint{50, 100}));  // a quarter turn on
    EXPECT_EQ(star8[8], (DrawPoint{100, 50}));  // half a turn
    EXPECT_TRUE(MakeStar(0, 10, 10, 0).empty());
    EXPECT_EQ(MakeStar(100000, 10, 10, 0).size(), 129u);  // capped at 64 points
}

TEST(DrawingShapes, HostileBoxesAndAdjustValuesStayInsideTheBox)
{
    struct Box {
        std::int32_t l, t, r, b;
    };
    const Box boxes[] = {{0, 0, 0, 0},          {5, 5, 5, 5},      {10, 10, 0, 0},
                         {INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {0, 0, 2, 40000}, {-7, 3, 300, 4}};
    const std::int32_t adjusts[] = {INT_MIN, -1, 0, 21600, 21601, INT_MAX};
    for (int type = 0; type <= 202; ++type) {
        for (const Box& box : boxes) {
            for (std::int32_t a : adjusts) {
                ObjectItem item;
                item.type = type;
                item.left = box.l, item.top = box.t, item.right = box.r, item.bottom = box.b;
                item.CreateShape();
                if (!item.shape)
                    continue;
                for (std::int32_t& v : item.shape->adjust)
                    v = a;
                Pts got;
                const int n = item.shape->BuildVertices(got);
                ASSERT_LE(n, 65);
                const std::int64_t w = std::max<std::int64_t>(std::int64_t(box.r) - box.l - 1, 0);
                const std::int64_t h = std::max<std::int64_t>(std::int64_t(box.b) - box.t - 1, 0);
                for (const DrawPoint& p : got) {
                    ASSERT_GE(p.x, 0) << type;
                    ASSERT_LE(p.x, w) << type;
                    ASSERT_GE(p.y, 0) << type;
                    ASSERT_LE(p.y, h) << type;
                }
                // The layout of such a box ends with a box that holds its
                // corners, whatever the rotation.
                for (std::uint32_t rotation : {0u, 0x2D0000u, 0x5A0000u, 0xFFA60000u, 0x7FFF0000u}) {
                    item.shape->rotation = rotation;
                    item.Layout();
                    ASSERT_LE(item.left, item.right);
                    ASSERT_LE(item.top, item.bottom);
                }
            }
        }
    }
}

TEST(DrawingShapes, RotatePointRoundsAndKeepsItsAngle)
{
    struct Case {
        DrawPoint centre;
        int num, den;
        DrawPoint in, out;
    };
    const Case cases[] = {
        {{0, 0}, 90, 1, {10, 0}, {0, -10}},
        {{0, 0}, 180, 1, {10, 0}, {-10, 0}},
        {{0, 0}, 180, 2, {10, 0}, {0, -10}},   // 90 degrees as a fraction
        {{0, 0}, 90, 1, {0, 10}, {10, 0}},     // the same angle again
        {{5, 5}, 0, 1, {123, -4}, {123, -4}},  // no angle: unchanged
        {{0, 0}, 60, 1, {1, 0}, {1, -1}},      // 0.5 and -0.87: half away from zero
        {{0, 0}, 60, 1, {-1, 0}, {-1, 1}},
        {{0, 0}, 45, 1, {10, 0}, {7, -7}},
        {{0, 0}, -90, 1, {10, 0}, {0, 10}},
        {{0, 0}, 180, 1, {INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}},  // kept within 32 bits
    };
    RotatePoint rotate;
    for (const Case& c : cases)
        EXPECT_EQ(rotate(c.centre, c.num, c.den, c.in), c.out) << c.num << "/" << c.den;
}

TEST(DrawingLayout, CornersAndBoundsOfRotatedItems)
{
    struct Case {
        int type;
        std::uint32_t flags;
        std::uint32_t rotation;
        std::int32_t w, h;  // box (0, 0, w + 1, h + 1)
        std::int32_t l, t, r, b;
        DrawPoint corners[3];
    };
    const Case cases[] = {
        {1, 0, 0, 100, 50, 0, 0, 101, 51, {{0, 0}, {100, 0}, {0, 50}}},
        {1, 0, 0xB40000, 100, 50, 0, 0, 101, 51, {{100, 50}, {0, 50}, {100, 0}}},
        // A quarter turn: the stored box is the turned one.
        {1, 0, 0x5A0000, 100, 50, 0, 0, 101, 51, {{0, 50}, {0, 0}, {100, 50}}},
        {1, 0, 0xFFA60000, 100, 50, 0, 0, 101, 51, {{100, 0}, {100, 50}, {0, 0}}},
        // An eighth of a turn: the bounds hold all four corners.
        {1, 0, 0x2D0000, 100, 100, -21, -21, 122, 122, {{0, 71}, {71, 0}, {71, 142}}},
        // Arcs follow their flips.
        {19, 0x40, 0, 100, 50, 0, 0, 101, 51, {{100, 0}, {0, 0}, {100, 50}}},
        {19, 0xC0, 0, 100, 50, 0, 0, 101, 51, {{100, 50}, {0, 50}, {100, 0}}},
        {1, 0xC0, 0, 100, 50, 0, 0, 101, 51, {{0, 0}, {100, 0}, {0, 50}}},
    };
    for (const Case& c : cases) {
        auto item = MakeItem(c.type, c.w, c.h);
        item->flags = c.flags;
        item->shape->rotation = c.rotation;
        item->Layout();
        EXPECT_EQ(item->left, c.l) << c.type << " " << std::hex << c.rotation;
        EXPECT_EQ(item->top, c.t) << c.type << " " << std::hex << c.rotation;
        EXPECT_EQ(item->right, c.r) << c.type << " " << std::hex << c.rotation;
        EXPECT_EQ(item->bottom, c.b) << c.type << " " << std::hex << c.rotation;
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(item->shape->corners[k], c.corners[k]) << c.type << " corner " << k;
    }

    // The outline is kept relative to the box, scaled by 1800/1440.
    auto diamond = MakeItem(4, 100, 200);
    diamond->Layout();
    EXPECT_EQ(diamond->shape->outline, (Pts{{62, 0}, {125, 125}, {62, 250}, {0, 125}, {62, 0}}));
    EXPECT_EQ(diamond->right, 101);
    EXPECT_EQ(diamond->bottom, 201);
}

TEST(DrawingLayout, PlaceOnPageShiftsByTheAnchorReferences)
{
    struct Case {
        int horizontal, vertical;
        std::int32_t shift;
    };
    const Case cases[] = {
        {0, 1, 1800}, {2, 1, 1800}, {1, 1, 0}, {1, 0, -1800}, {1, 2, -1800}, {0, 0, 0}, {2, 2, 0},
    };
    for (const Case& c : cases) {
        ObjectItem item;
        item.type = 1;
        item.left = 100, item.right = 200, item.top = 5, item.bottom = 6;
        item.PlaceOnPage(1800, static_cast<std::uint16_t>((c.horizontal << 1) | (c.vertical << 3)));
        EXPECT_EQ(item.left, 100 + c.shift) << c.horizontal << "/" << c.vertical;
        EXPECT_EQ(item.right, 200 + c.shift) << c.horizontal << "/" << c.vertical;
        EXPECT_EQ(item.top, 5);
    }
    ObjectItem far;
    far.left = INT_MAX - 1, far.right = INT_MAX;
    far.PlaceOnPage(INT_MAX, 1 << 3);
    EXPECT_EQ(far.right, INT_MAX);
}

// A reader that logs what the drawings ask of it.
class LogReader : public DrawingReader {
public:
    std::int32_t LeftMargin() const override { return margin; }
    void RaiseClientAnchor(std::int32_t value) override { clientAnchor = std::max(clientAnchor, value); }
    bool WriteTextBoxStory(int story, std::u16string& out) override
    {
        log += "T" + std::to_string(story) + " ";
        out += u"box";
        out.push_back(static_cast<char16_t>(u'0' + story));
        return true;
    }
    std::uint32_t FindPictureRef(int story) override
    {
        log += "P" + std::to_string(story) + " ";
        return 0;
    }
    size_t ReadAt(std::uint64_t offset, void* out, size_t n) override
    {
        if (offset >= stream.size())
            return 0;
        n = std::min<size_t>(n, stream.size() - offset);
        std::memcpy(out, stream.data() + offset, n);
        return n;
    }

    std::int32_t margin = 1800;
    std::int32_t clientAnchor = 0;
    std::string log;
    std::string stream;
};

TEST(DrawingLayout, GroupMembersAreMappedIntoTheirGroups)
{
    const std::uint32_t group = 0x201, plain = 0xA00;
    // The outer members span (0, 0)-(200, 100); the outer group's anchor is
    // twice that size. The nested group's members span (0, 0)-(20, 20).
    std::string inner = Rec(0xF003, 0xF,
                            ShapeContainer(0, 10, group, "", 0, ChildAnchor(100, 0, 200, 50)) +
                                ShapeContainer(202, 11, plain, "", 0, ChildAnchor(0, 0, 10, 10)) +
                                ShapeContainer(202, 12, plain, "", 0, ChildAnchor(10, 10, 20, 20)));
    std::string outer = Rec(0xF003, 0xF,
                            ShapeContainer(0, 7, group) +
                                ShapeContainer(202, 8, plain, Entry(0x1CB, 5), 1, ChildAnchor(0, 0, 100, 100)) +
                                ShapeContainer(202, 9, plain, Entry(0x1CB, 9), 1, ChildAnchor(100, 50, 200, 100)) +
                                inner);
    std::string data = Rec(0xF002, 0, outer);
    LogReader reader;
    DrawingContext ctx(&reader, {{7, 1000, 2000, 1400, 2200, 0, 0}});
    ASSERT_EQ(Walk(ctx, data), 1);
    ObjectItem* root = ctx.Root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->MaxLineWidth(0), 9u);
    std::u16string out;
    ASSERT_TRUE(ctx.EmitNextAnchor(out));
    EXPECT_FALSE(ctx.EmitNextAnchor(out));

    struct Rect {
        std::int32_t l, t, r, b;
        bool operator==(const Rect&) const = default;
    };
    auto rect = [](const ObjectItem* i) { return Rect{i->left, i->top, i->right, i->bottom}; };
    const ObjectItem* m8 = root->next.get();
    ASSERT_NE(m8, nullptr);
    const ObjectItem* m9 = m8->next.get();
    ASSERT_NE(m9, nullptr);
    ASSERT_EQ(m9->children.size(), 1u);
    const ObjectItem* g10 = m9->children[0].get();
    ASSERT_NE(g10->next, nullptr);
    const ObjectItem* m11 = g10->next.get();
    ASSERT_NE(m11->next, nullptr);
    const ObjectItem* m12 = m11->next.get();
    EXPECT_EQ(rect(root), (Rect{1000, 2000, 1400, 2200}));
    EXPECT_EQ(rect(m8), (Rect{1000, 2000, 1200, 2200}));
    EXPECT_EQ(rect(m9), (Rect{1200, 2100, 1400, 2200}));
    EXPECT_EQ(rect(g10), (Rect{1200, 2000, 1400, 2100}));
    EXPECT_EQ(rect(m11), (Rect{1200, 2000, 1300, 2050}));
    EXPECT_EQ(rect(m12), (Rect{1300, 2050, 1400, 2100}));
    // Text boxes without a text identifier write nothing.
    EXPECT_EQ(out, u"");
}

TEST(DrawingEmit, FramesOfAGroupFollowTheDrawingsText)
{
    const std::uint32_t group = 0x201, plain = 0xA00;
    // Anchor 1: a group of a text box (story 1), a picture frame (story 4)
    // and a text box (story 2). Anchor 2: a picture frame on its own.
    std::string first = Rec(0xF003, 0xF,
                            ShapeContainer(0, 7, group) + ShapeContainer(202, 8, plain, Entry(0x080, 0x20000), 1) +
                                ShapeContainer(75, 9, plain, Entry(0x10B, 0x50000), 1) +
                                ShapeContainer(202, 10, plain, Entry(0x080, 0x30000), 1));
    std::string second = ShapeContainer(75, 20, plain, Entry(0x10B, 0x70000), 1) +
                         Rec(0xF004, 0xF, Rec(0xF010, 0, U32(44)));
    std::string data = Rec(0xF002, 0, first) + Rec(0xF002, 0, second);
    LogReader reader;
    DrawingContext ctx(&reader, {{7, 0, 0, 100, 100, 0, 0}, {20, 0, 0, 10, 10, 0, 0}});
    EXPECT_EQ(Walk(ctx, data), 1);
    std::u16string out;
    ASSERT_TRUE(ctx.EmitNextAnchor(out));
    EXPECT_EQ(reader.log, "T1 T2 P4 ");
    EXPECT_EQ(out, u"box1box2");
    EXPECT_EQ(ctx.DeferredCount(), 0u);
    ASSERT_TRUE(ctx.EmitNextAnchor(out));
    EXPECT_EQ(reader.log, "T1 T2 P4 P6 ");
    EXPECT_EQ(ctx.Anchor(0).laidOut, true);
    EXPECT_EQ(reader.clientAnchor, 44);

    // A shape container at the top level of a bound context fails the walk;
    // one whose shape identifier matches no anchor has no item to join.
    DrawingContext bound(&reader, {{5, 0, 0, 1, 1, 0, 0}});
    EXPECT_EQ(Walk(bound, ShapeContainer(202, 5, plain)), 0);
    EXPECT_EQ(bound.Root(), nullptr);
    DrawingContext unmatched(&reader, {{5, 0, 0, 1, 1, 0, 0}});
    Walk(unmatched, Rec(0xF002, 0, ShapeContainer(202, 6, plain)));
    EXPECT_EQ(unmatched.Root(), nullptr);
}

TEST(DrawingEmit, FirstEmissionSetsColoursAndAFrameWritesItsBlip)
{
    // The blip store entry names the blip's position in the document stream.
    std::string jpeg = "\xFF\xD8\xFF\xE0jpegdata\xFF\xD9";
    std::string blip = Rec(0xF01D, 0x46A, std::string(17, 'u') + jpeg);
    std::string entry(36, '\0');
    const std::uint32_t offset = 3;
    entry.replace(28, 4, U32(offset));
    std::string store = Rec(0xF000, 0xF, Rec(0xF001, 1, Rec(0xF007, 5, entry)));
    std::string frame =
        ShapeContainer(75, 30, 0xA00, Entry(0x104, 1) + Entry(0x1BF, 0x100000) + Entry(0x1FF, 0x100010), 3);
    LogReader reader;
    reader.stream = "abc" + blip;
    DrawingContext ctx(&reader, {{30, 0, 0, 10, 10, 0, 0}});
    EXPECT_EQ(Walk(ctx, store + Rec(0xF002, 0, frame)), 1);
    ASSERT_EQ(ctx.BlipEntries().size(), 1u);
    std::u16string out;
    ASSERT_TRUE(ctx.EmitNextAnchor(out));
    const drawObject& shape = *ctx.Root()->shape;
    EXPECT_EQ(shape.fillColor, 0x10000000u);  // fill switched off
    EXPECT_EQ(shape.lineColor, 0u);           // line as it was
    EXPECT_TRUE(shape.pictureWritten);
    EXPECT_EQ(reader.Counters().pictures, 1);
    // The file was read back and removed.
    const std::string folder = PictureTempFolder();
    DIR* dir = ::opendir(folder.c_str());
    ASSERT_NE(dir, nullptr);
    int files = 0;
    while (struct dirent* e = ::readdir(dir))
        files += e->d_name[0] != '.';
    ::closedir(dir);
    EXPECT_EQ(files, 0);

    // A blip index beyond the store, or a blip record that claims more than
    // the stream has, writes nothing.
    for (std::uint32_t index : {2u, 0xFFFFFFFFu}) {
        std::string bad = ShapeContainer(75, 30, 0xA00, Entry(0x104, index), 1);
        DrawingContext other(&reader, {{30, 0, 0, 10, 10, 0, 0}});
        Walk(other, store + Rec(0xF002, 0, bad));
        other.EmitNextAnchor(out);
        EXPECT_FALSE(other.Root()->shape->pictureWritten);
    }
    LogReader truncated;
    truncated.stream = "abc" + blip.substr(0, 8) + std::string("\xff\xff\xff\x7f", 4);
    truncated.stream.replace(3 + 4, 4, U32(0x7FFFFFF0));
    DrawingContext cut(&truncated, {{30, 0, 0, 10, 10, 0, 0}});
    Walk(cut, store + Rec(0xF002, 0, frame));
    cut.EmitNextAnchor(out);
    EXPECT_FALSE(cut.Root()->shape->pictureWritten);
}

TEST(DrawingEmit, HostileDrawingsOfABoundContextEndCleanly)
{
    const std::uint32_t group = 0x201, plain = 0xA00;
    std::string entry(36, '\0');
    entry.replace(28, 4, U32(0));
    std::string store = Rec(0xF000, 0xF, Rec(0xF001, 1, Rec(0xF007, 5, entry)));
    std::string nested = Rec(0xF003, 0xF,
                             ShapeContainer(0, 10, group, Entry(0x004, 0x1E0000), 1, ChildAnchor(0, 0, 50, 50)) +
                                 ShapeContainer(58, 11, plain, Entry(0x147, 30000), 1, ChildAnchor(0, 0, 5, 5)) +
                                 ShapeContainer(75, 12, plain, Entry(0x104, 1) + Entry(0x10B, 0x10000), 2));
    std::string first = Rec(0xF003, 0xF,
                            ShapeContainer(0, 7, group, Entry(0x004, 0x2D0000), 1) +
                                ShapeContainer(202, 8, plain, Entry(0x080, 0x10000), 1, ChildAnchor(0, 0, 100, 100)) +
                                nested + ShapeContainer(19, 9, 0xAC0, Entry(0x004, 0xFFA60000), 1));
    std::string base = store + Rec(0xF002, 0, first) + Rec(0xF002, 0, ShapeContainer(75, 20, plain, Entry(0x104, 1), 1));
    LogReader reader;
    reader.stream = Rec(0xF01D, 0x6E0, std::string(8, 'u') + "\x89PNG....");
    const std::vector<FloatingAnchor> anchors = {{7, 10, 20, 300, 400, 0x0A, 1}, {20, 0, 0, 0, 0, 0x08, 0}};
    std::mt19937 rng(11);
    for (int round = 0; round < 3000; ++round) {
        std::string s = base;
        if (round > 0) {
            for (int e = 0; e < 3; ++e)
                s[rng() % s.size()] = static_cast<char>(rng());
        }
        DrawingContext ctx(&reader, anchors);
        Walk(ctx, s);
        std::u16string out;
        int emitted = 0;
        while (ctx.EmitNextAnchor(out))
            ++emitted;
        ASSERT_EQ(emitted, 2);
        if (round == 0) {
            EXPECT_EQ(out, u"box0");
            EXPECT_EQ(ctx.DeferredCount(), 0u);
        }
    }

    // Groups nested as deep as the walk allows, in a bound context.
    std::string deep = ShapeContainer(202, 99, plain, Entry(0x080, 0x10000), 1);
    for (int level = 0; level < 300; ++level)
        deep = Rec(0xF003, 0xF, ShapeContainer(0, 50 + level, group, Entry(0x004, 0x5A0000), 1) + deep);
    DrawingContext ctx(&reader, {{50 + 299, 0, 0, 1000, 1000, 0, 0}});
    Walk(ctx, Rec(0xF002, 0, deep));
    ASSERT_NE(ctx.Root(), nullptr);
    std::u16string out;
    EXPECT_TRUE(ctx.EmitNextAnchor(out));
}

}  // namespace
