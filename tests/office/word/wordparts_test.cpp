// The Word structures on their own: property modifiers, the piece table, the
// preset shape catalogue and the drawing-object check.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/docbuilder.h"
#include "office/word/presetshapes.h"
#include "office/word/worddrawing.h"
#include "office/word/wordsprm.h"
#include "office/word/wordstruct.h"

namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> b)
{
    std::vector<std::uint8_t> v;
    for (int x : b)
        v.push_back(static_cast<std::uint8_t>(x));
    return v;
}

}  // namespace

TEST(WordPropertyModifiers, ListsApplyOnlyToTheirRecords)
{
    {
        CharProps c;
        auto list = Bytes({0x55, 0x08, 0x01});
        EXPECT_EQ(ApplyPropertyList(list.data(), list.size(), nullptr, &c, nullptr, nullptr, nullptr), 1);
        EXPECT_TRUE(c.fSpec());
        ParaProps p;
        TableProps t;
        EXPECT_EQ(ApplyPropertyList(list.data(), list.size(), &p, nullptr, &t, nullptr, nullptr), 1);
        EXPECT_EQ(p.fInTable, 0);
    }
    {
        // sprmPItap is one byte long here: its three other bytes are stepped over.
        ParaProps p;
        TableProps t;
        auto list = Bytes({0x49, 0x66, 0x01, 0x00, 0x00, 0x00, 0x16, 0x24, 0x01});
        EXPECT_EQ(ApplyPropertyList(list.data(), list.size(), &p, nullptr, &t, nullptr, nullptr), 1);
        EXPECT_EQ(t.itap, 1);
        EXPECT_EQ(p.fInTable, 1);
    }
    {
        CharProps c;
        auto list = Bytes({0x09, 0x6A, 0x02, 0x00, 0x4A, 0xF0});
        ApplyPropertyList(list.data(), list.size(), nullptr, &c, nullptr, nullptr, nullptr);
        EXPECT_TRUE(c.fSpec());
        EXPECT_EQ(c.hasSymbol, 1);
        EXPECT_EQ(c.symbolChar, 0xF04A);
    }
    {
        CharProps c;
        ParaProps p;
        TableProps t;
        auto unknown = Bytes({0x34, 0x12, 0x99, 0x99});
        EXPECT_EQ(ApplyPropertyList(unknown.data(), unknown.size(), &p, &c, &t, nullptr, nullptr), 1);
        EXPECT_EQ(c.flags, 0);
        EXPECT_EQ(p.fInTable, 0);
        auto shortList = Bytes({0x55, 0x08});
        EXPECT_EQ(ApplyPropertyList(shortList.data(), shortList.size(), nullptr, &c, nullptr, nullptr, nullptr), 0);
    }
    {
        // Operand lengths read from the operand may point past the list: the
        // walk stops at its end (the sanitizer build checks that no byte past
        // it is read).
        ParaProps p;
        TableProps t;
        auto list = Bytes({0x08, 0xD6, 0xFF, 0xFF, 0x16});
        EXPECT_EQ(ApplyPropertyList(list.data(), list.size(), &p, nullptr, &t, nullptr, nullptr), 1);
        auto huge = Bytes({0x46, 0x66, 0x10});
        EXPECT_EQ(ApplyPropertyList(huge.data(), huge.size(), &p, nullptr, &t, nullptr, nullptr), 1);
        EXPECT_EQ(p.hasHuge, 1);
        EXPECT_EQ(p.hugeOffset, 0x10u);
    }
    // Lengths from the opcode table.
    const std::uint8_t operand[8] = {3, 0, 0x32, 0x50, 0, 0, 0, 0};
    EXPECT_EQ(ApplyPropertyModifier(0x9031, operand, 8, nullptr, nullptr, nullptr, nullptr, nullptr), 6);
    EXPECT_EQ(ApplyPropertyModifier(0xC601, operand, 8, nullptr, nullptr, nullptr, nullptr, nullptr), 4);
    EXPECT_EQ(ApplyPropertyModifier(0xD606, operand, 8, nullptr, nullptr, nullptr, nullptr, nullptr), 3);
    EXPECT_EQ(ApplyPropertyModifier(0xD608, operand, 8, nullptr, nullptr, nullptr, nullptr, nullptr), 4);
    EXPECT_EQ(ApplyPropertyModifier(0xC63E, operand, 8, nullptr, nullptr, nullptr, nullptr, nullptr), 85);
    EXPECT_EQ(ApplyPropertyModifier(0x1234, operand, 8, nullptr, nullptr, nullptr, nullptr, nullptr), kSprmUnknown);
}

TEST(WordPieceTable, PiecesMapPositions)
{
    // Two Prcs in front of the Pcdt; pieces 8-bit at 0x600 and UTF-16 at 0x800.
    std::string clx = std::string(1, '\x01') + ps_test::Le16s(2) + "ab" + std::string(1, '\x01') + ps_test::Le16s(0);
    clx += std::string(1, '\x02') + ps_test::Le32s(28) + ps_test::Le32s(0) + ps_test::Le32s(10) + ps_test::Le32s(20);
    clx += ps_test::Le16s(0) + ps_test::Le32s(0x40000C00) + ps_test::Le16s(0);
    clx += ps_test::Le16s(0) + ps_test::Le32s(0x800) + ps_test::Le16s(0);
    CMsWordFIB80 fib;
    const std::uint32_t lcb = static_cast<std::uint32_t>(clx.size());
    std::memcpy(fib.raw + 418, "\0\0\0\0", 4);
    std::memcpy(fib.raw + 422, &lcb, 4);
    MsWordPieceTable pieces;
    ASSERT_EQ(pieces.Load(WordBytes(clx), fib), 1);
    ASSERT_EQ(pieces.Count(), 2);
    EXPECT_EQ(pieces.Pieces()[0].fcStart, 0x600);
    EXPECT_EQ(pieces.Pieces()[0].fcEnd, 0x60A);
    EXPECT_EQ(pieces.Pieces()[1].fcEnd, 0x814);
    EXPECT_EQ(pieces.FcOf(9), 0x609);
    EXPECT_EQ(pieces.FcOf(11), 0x802);
    EXPECT_EQ(GetBytesPerChar(11, pieces), 2);
    EXPECT_EQ(GetBytesPerChar(25, pieces), 1);
    EXPECT_EQ(pieces.FcOf(25), 0);
}

TEST(WordPresetShapes, CatalogueEntries)
{
    CMsDraw draw;
    EXPECT_EQ(draw.GetShape(203, 100, 100), nullptr);
    const PresetShapeEntry* e = draw.GetShape(17, 100, 100);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->shapeType, PresetShapeEntry::kNoOutline);

    e = draw.GetShape(5, 100, 100);
    ASSERT_EQ(e->paths.size(), 1u);
    ASSERT_EQ(e->paths[0].pointCount, 4);
    EXPECT_EQ(e->paths[0].points[0], 50);
    EXPECT_EQ(e->paths[0].points[1], 0);

    std::vector<std::int32_t> arrow = draw.GetShape(13, 100, 100)->paths[0].points;
    EXPECT_EQ(draw.GetShape(14, 100, 100)->paths[0].points, arrow);
    EXPECT_EQ(arrow.size(), 16u);

    e = draw.GetShape(183, 100, 100);
    ASSERT_EQ(e->pathCount, 9u);
    EXPECT_EQ(e->paths.back().kind, PresetPath::kEllipse);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(e->paths[static_cast<size_t>(i)].pointCount, 4);

    // Every polyline of the catalogue has at least three points; curve chains
    // are 1 + 3n points.
    for (unsigned t = 0; t <= 202; ++t) {
        const PresetShapeEntry* s = draw.GetShape(t, 100, 100);
        ASSERT_NE(s, nullptr);
        for (const PresetPath& p : s->paths) {
            if (p.kind != PresetPath::kPoints)
                continue;
            if (p.flags == 0) {
                EXPECT_GE(p.pointCount, 3) << t;
            } else {
                EXPECT_EQ((p.pointCount - 1) % 3, 0) << t;
            }
            EXPECT_EQ(p.points.size(), static_cast<size_t>(2 * p.pointCount)) << t;
        }
    }
}

TEST(WordDrawingCheck, AnswersByType)
{
    std::vector<std::pair<std::uint16_t, std::uint16_t>> none, some = {{1, 2}};
    CMsDrawObject check;
    auto ask = [&](int type, const std::vector<std::pair<std::uint16_t, std::uint16_t>>* v) {
        ShapeCheckRequest r;
        r.shapeType = type;
        r.vertices = v;
        return check.CheckShape(r);
    };
    EXPECT_EQ(ask(0, &none), 0);
    EXPECT_EQ(ask(0, &some), 1);
    EXPECT_EQ(ask(53, &none), 0);
    EXPECT_EQ(ask(54, &none), 0);
    for (int type = 1; type <= 400; ++type) {
        if (type == 53 || type == 54)
            continue;
        EXPECT_EQ(ask(type, &none), 1) << type;
    }
    ShapeCheckRequest big;
    big.shapeType = 203;
    EXPECT_EQ(check.CheckShape(big), 1);
    EXPECT_EQ(big.shapeType, 1);
}

namespace {

void SetPair(CMsWordFIB80& fib, std::uint32_t at, std::uint32_t fc, std::uint32_t lcb)
{
    std::memcpy(fib.raw + at, &fc, 4);
    std::memcpy(fib.raw + at + 4, &lcb, 4);
}

}  // namespace

TEST(WordTables, ListLevelTextsAndBookmarkCounts)
{
    // One simple list: its level text is placeholder 0 and a full stop,
    // counting from 1; a second list follows with nine empty levels.
    std::string lists = ps_test::Le16s(2);
    std::string lstf(28, '\0');
    lstf[26] = 1;
    lists += lstf + std::string(28, '\0');
    std::string lvlf(28, '\0');
    lvlf[0] = 1;
    lists += lvlf + ps_test::Le16s(2) + ps_test::Le16s(0) + ps_test::Le16s('.');
    for (int i = 0; i < 9; ++i)
        lists += std::string(28, '\0') + ps_test::Le16s(1) + ps_test::Le16s('x');
    CMsWordFIB80 fib;
    SetPair(fib, CMsWordFIB80::kFcPlfLst, 0, static_cast<std::uint32_t>(lists.size()));
    MsWordList list;
    ASSERT_EQ(list.Load(WordBytes(lists), fib), 1);
    ASSERT_EQ(list.Count(), 2);
    const char16_t expected[] = {2, u'^', u'1', u'.', 0};
    EXPECT_EQ(std::u16string(list.List(0).levels[0].numberText, 5), std::u16string(expected, 5));
    EXPECT_EQ(list.List(1).levels[8].numberText[1], u'x');

    // A list count far beyond the bytes present is cut to them.
    std::string many = ps_test::Le16s(0xFFFF) + std::string(60, '\0');
    SetPair(fib, CMsWordFIB80::kFcPlfLst, 0, static_cast<std::uint32_t>(many.size()));
    ASSERT_EQ(list.Load(WordBytes(many), fib), 1);
    EXPECT_EQ(list.Count(), 2);

    // 300 bookmarks are read as 300 modulo 256.
    std::string sttb = ps_test::Le16s(0xFFFF) + ps_test::Le16s(300) + ps_test::Le16s(0);
    for (int i = 0; i < 300; ++i)
        sttb += ps_test::Le16s(2) + ps_test::Le16s('b') + ps_test::Le16s(static_cast<std::uint16_t>('0' + i % 10));
    CMsWordFIB80 fib2;
    SetPair(fib2, CMsWordFIB80::kFcSttbfBkmk, 0, static_cast<std::uint32_t>(sttb.size()));
    MsWordBookMark marks;
    ASSERT_EQ(marks.Load(WordBytes(sttb), fib2), 1);
    ASSERT_EQ(marks.Count(), 44);
    EXPECT_EQ(std::u16string(marks.Mark(43).name), u"b3");
}

TEST(WordDrawing, AnchorsOfAHeaderWithImpossibleCountsWrap)
{
    // Text and footnote counts near the 32-bit limit (a damaged header):
    // the header anchors' base wraps as the positions do, and nothing
    // overflows.
    CMsWordFIB80 fib;
    const std::uint32_t big = 0x7FFFFFF0u;
    std::memcpy(fib.raw + CMsWordFIB80::kCcpText, &big, 4);
    std::memcpy(fib.raw + CMsWordFIB80::kCcpFtn, &big, 4);
    const std::string plc = ps_test::Le32s(0x20) + ps_test::Le32s(0x30) + std::string(26, '\0');
    SetPair(fib, CMsWordFIB80::kFcPlcSpaHdr, 0, static_cast<std::uint32_t>(plc.size()));
    WordDrawingData drawing;
    ASSERT_EQ(drawing.LoadAnchors(WordBytes(plc), fib), 1);
    ASSERT_EQ(drawing.AnchorCount(), 1);
    EXPECT_EQ(static_cast<std::uint32_t>(drawing.Anchors()[0].cp), 2u * big + 0x20u);
}
