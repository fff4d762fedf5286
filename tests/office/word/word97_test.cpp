// The Word 97-2003 reader over documents built by the tests: text of every
// story in its place, field codes, tables, special characters, and damaged
// documents that must end with a status instead of a crash or a hang.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "support/docbuilder.h"
#include "extract/extractlib.h"
#include "extract/textcollector.h"
#include "office/officeentry.h"
#include "office/word/msword97.h"
#include "platform/cfb.h"
#include "platform/text.h"
#include "support/cfb_writer.h"
#include "support/isolation.h"

using ps_test::Le16s;
using ps_test::Le32s;
using ps_test::WordDocBuilder;

namespace {

struct Result {
    int ok = -1;
    std::u16string text;
};

Result ReadBytes(const std::string& file)
{
    Result r;
    plat::CfbStorage* storage = nullptr;
    if (plat::Failed(plat::CfbOpenStorageOnMemory(file, &storage)))
        return r;
    plat::CfbPtr<plat::CfbStorage> hold(storage);
    CTextCollector collector;
    collector.SetOutput(&r.text);
    CMSWord802Text reader(&collector);
    r.ok = reader.ConvertStorage(storage);
    return r;
}

Result Read(WordDocBuilder& b) { return ReadBytes(b.Build()); }

std::string Utf8(const std::u16string& s)
{
    std::string out;
    for (char16_t c : s) {
        if (c < 0x80)
            out.push_back(static_cast<char>(c));
        else
            out += "\\u" + std::to_string(static_cast<int>(c));
    }
    return out;
}

// sprmCFSpec 1: the run's characters are special.
const std::string kSpec = Le16s(0x0855) + std::string(1, '\x01');

}  // namespace

TEST(Word97Reader, PlainTextInBothPieceKindsWithCharacterMap)
{
    for (bool compressed : {true, false}) {
        WordDocBuilder b;
        b.compressed = compressed;
        b.mainText = u"Hello world\rco-op \x93q\x94\r";
        Result r = Read(b);
        EXPECT_EQ(r.ok, 1);
        EXPECT_EQ(r.text, u"Hello world\nco\u2010op \u201Cq\u201D\n") << Utf8(r.text);
    }
    WordDocBuilder b;
    b.compressed = false;
    b.mainText = u"주민번호 800101-1234567\r";
    EXPECT_EQ(Read(b).text, u"주민번호 800101\u20101234567\n");
}

TEST(Word97Reader, FieldsKeepTheirResultAndBreaksEndLines)
{
    struct Case {
        std::u16string text;
        std::u16string expected;
    } cases[] = {
        {u"See \x13 HYPERLINK \"http://x\" \x14site\x15 now\r", u"See site now\n"},
        {u"A\x13 PAGE \x15Z\r", u"AZ\n"},                          // no separator: nothing
        // A manual line, page or column break ends the line: the words and
        // digits on either side stay apart.
        {u"one\x0btwo\r", u"one\ntwo\n"},
        {u"010\x0b" u"1234\x0c" u"5678\x0e" u"90\r", u"010\n1234\n5678\n90\n"},
        {u"a\x13 X \x13 Y \x15 Z \x14r\x15.\r", u"a Z r.\n"},       // an inner end closes the outer code
        {u"Über\x1Fsicht, 010\x1F-1234\r", u"Übersicht, 010\u20101234\n"},  // optional hyphens dropped
    };
    for (const Case& c : cases) {
        WordDocBuilder b;
        b.mainText = c.text;
        Result r = Read(b);
        EXPECT_EQ(r.ok, 1);
        EXPECT_EQ(r.text, c.expected) << Utf8(c.text);
    }
}

TEST(Word97Reader, TableCellsAndRowsBecomeLineEnds)
{
    WordDocBuilder b;
    b.mainText = u"a\x07" u"b\x07\x07" u"end\r";
    const std::string inTable = Le16s(0x2416) + std::string(1, '\x01') + Le16s(0x6649) + std::string(1, '\x01');
    b.paraRuns = {{0, 2, inTable}, {2, 4, inTable}, {4, 5, inTable + Le16s(0x2417) + std::string(1, '\x01')},
                  {5, 9, ""}};
    WordDocBuilder copy = b;
    Result r = Read(b);
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.text, u"a\nb\n\nend\n") << Utf8(r.text);

    // Inside a table paragraph a final paragraph mark stays once, also in the
    // paragraph that ends a cell of an inner table: neighbouring cells never
    // run together.
    WordDocBuilder inner;
    inner.mainText = u"x\r\ry\r";
    const std::string innerCell = Le16s(0x6649) + std::string(1, '\x02') + Le16s(0x244B) + std::string(1, '\x01');
    inner.paraRuns = {{0, 3, Le16s(0x6649) + std::string(1, '\x01')}, {3, 5, innerCell}};
    EXPECT_EQ(Read(inner).text, u"x\ny\n") << Utf8(Read(inner).text);

    // A line break inside a cell ends a line there too.
    WordDocBuilder broken;
    broken.mainText = u"a\x0b" u"b\x07\x07" u"end\r";
    broken.paraRuns = {{0, 4, inTable}, {4, 5, inTable + Le16s(0x2417) + std::string(1, '\x01')}, {5, 9, ""}};
    EXPECT_EQ(Read(broken).text, u"a\nb\n\nend\n") << Utf8(Read(broken).text);
}

TEST(Word97Reader, NotesComeOutAtTheirReference)
{
    WordDocBuilder b;
    b.mainText = u"Before\x02 after\r";
    b.footnoteText = u"\x02 note one\r";
    b.charRuns = {{0, 6, ""}, {6, 7, kSpec}, {7, 14, ""}, {14, 14 + 11, ""}};
    b.footnoteRefs = {6};
    b.footnoteCps = {0, 11};
    Result r = Read(b);
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.text, u"Before note one\n after\n") << Utf8(r.text);

    // Endnotes lie after the header and comment stories.
    WordDocBuilder e;
    e.mainText = u"X\x02Y\r";
    e.headerText = u"";
    e.endnoteText = u"\x02" u"end\r";
    e.charRuns = {{0, 1, ""}, {1, 2, kSpec}, {2, 9, ""}};
    e.endnoteRefs = {1};
    e.endnoteCps = {0, 5};
    r = Read(e);
    EXPECT_EQ(r.text, u"Xend\nY\n") << Utf8(r.text);
}

TEST(Word97Reader, HeadersComeBeforeTheirSectionEvenWithEmptyMainText)
{
    WordDocBuilder b;
    b.mainText = u"Body\r";
    // Separator group (6 stories), then section 0: even header, odd header, ...
    b.headerText = u"Even\rOdd\rFoot\r\r";
    b.headerCps = {0, 0, 0, 0, 0, 0, 0, 5, 9, 9, 14, 14, 14, 15};
    Result r = Read(b);
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.text, u"OddEvenFootBody\n") << Utf8(r.text);

    WordDocBuilder empty;
    empty.mainText = u"";
    empty.headerText = u"Head\r\r";
    empty.headerCps = {0, 0, 0, 0, 0, 0, 0, 0, 5, 5, 5, 5, 5, 6};
    empty.sectionEnds = {1};
    r = Read(empty);
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.text, u"Head");
}

TEST(Word97Reader, SymbolsAndSpecialCharacters)
{
    WordDocBuilder b;
    b.mainText = u"a(b\x01" u"c\r";
    const std::string symbol = Le16s(0x6A09) + Le16s(2) + Le16s(0xF04A);
    b.charRuns = {{0, 1, ""}, {1, 2, symbol}, {2, 3, ""}, {3, 4, kSpec}, {4, 6, ""}};
    Result r = Read(b);
    EXPECT_EQ(r.text, u"a\uF04Abc\n") << Utf8(r.text);
}

TEST(Word97Reader, StatusesOfTheOpen)
{
    WordDocBuilder enc;
    enc.mainText = u"secret\r";
    enc.encrypted = true;
    Result r = Read(enc);
    EXPECT_EQ(r.ok, 0);
    EXPECT_TRUE(r.text.empty());

    WordDocBuilder one;
    one.mainText = u"from 1Table\r";
    one.whichTable = true;
    EXPECT_EQ(Read(one).text, u"from 1Table\n");

    // The FIB names "1Table" but only "0Table" exists.
    WordDocBuilder missing;
    missing.mainText = u"x\r";
    std::string file = missing.Build();
    ps_test::CfbWriter w(3);
    std::string word = missing.WordDocument();
    word[11] = 0x02;  // fWhichTblStm
    w.AddStream(u"WordDocument", word);
    w.AddStream(u"0Table", missing.Table());
    EXPECT_EQ(ReadBytes(w.Build()).ok, 0);

    // No section in the section table.
    WordDocBuilder nosection;
    nosection.mainText = u"x\r";
    nosection.fibPatches = {{206, 0}};
    EXPECT_EQ(Read(nosection).ok, 0);

    // A paragraph whose properties lie in a missing "Data" stream fails the
    // document; with the stream it reads.
    WordDocBuilder huge;
    huge.mainText = u"cell\x07\r";
    huge.paraRuns = {{0, 6, Le16s(0x6646) + Le32s(4)}};
    EXPECT_EQ(Read(huge).ok, 0);
    huge.dataStream = std::string(4, '\0') + Le16s(3) + Le16s(0x2416) + std::string(1, '\x01');
    EXPECT_EQ(Read(huge).ok, 1);
}

namespace {

// A drawing with a rectangle text box (spid 1025), a freeform without
// vertices (1026) and a group (1027) of two rectangles (1028, 1029).
WordDocBuilder ShapesDocument()
{
    WordDocBuilder b;
    b.mainText = u"A\x08" u"B\x08" u"C\x08" u"D\r";
    b.textBoxText = u"box one\rfree\rg1\rg2\r\r";
    b.charRuns = {{0, 1, ""}, {1, 2, kSpec}, {2, 3, ""}, {3, 4, kSpec}, {4, 5, ""}, {5, 6, kSpec}, {6, 7 + 21, ""}};
    b.anchors = {{1, 1025}, {3, 1026}, {5, 1027}};
    b.textBoxes = {{0, 8, 1025}, {8, 13, 1026}, {13, 16, 1028}, {16, 19, 1029}, {19, 20, 0}};
    const std::int32_t group[4] = {0, 0, 1000, 1000};
    const std::int32_t c1[4] = {0, 0, 500, 500};
    const std::int32_t c2[4] = {500, 500, 1000, 1000};
    std::string shapes = ps_test::ArtShape(1024, 0, 0x5, false, group);  // patriarch
    shapes += ps_test::ArtShape(1025, 202, 0x0, true);
    shapes += ps_test::ArtShape(1026, 0, 0x0, true);
    shapes += ps_test::ArtContainer(0xF003, ps_test::ArtShape(1027, 1, 0x1, false, group) +
                                                ps_test::ArtShape(1028, 1, 0x2, true, nullptr, c1) +
                                                ps_test::ArtShape(1029, 1, 0x2, true, nullptr, c2));
    b.dggInfo = ps_test::ArtDrawing(1040, shapes);
    return b;
}

}  // namespace

TEST(Word97Reader, TextBoxesOfAcceptedShapesAndGroups)
{
    WordDocBuilder b = ShapesDocument();
    Result r = Read(b);
    EXPECT_EQ(r.ok, 1);
    // The freeform without vertices has no outline to draw; its text box is
    // read all the same.
    EXPECT_EQ(r.text, u"Abox one\nBfree\nCg1\ng2\nD\n") << Utf8(r.text);
}

TEST(Word97Reader, DrawingModelLinksGroups)
{
    WordDocBuilder b = ShapesDocument();
    const std::string file = b.Build();
    plat::CfbStorage* storage = nullptr;
    ASSERT_FALSE(plat::Failed(plat::CfbOpenStorageOnMemory(file, &storage)));
    plat::CfbPtr<plat::CfbStorage> hold(storage);
    CTextCollector collector;
    CMSWord802Text reader(&collector);
    ASSERT_EQ(reader.ConvertStorage(storage), 1);
    const WordDrawingData* d = reader.Drawing();
    ASSERT_NE(d, nullptr);
    const int group = d->FindShape(1027);
    ASSERT_GE(group, 0);
    const auto& shapes = d->Shapes();
    ASSERT_GE(shapes[group].firstChild, 0);
    EXPECT_EQ(shapes[shapes[group].firstChild].spid, 1028u);
    const int second = shapes[shapes[group].firstChild].nextSibling;
    ASSERT_GE(second, 0);
    EXPECT_EQ(shapes[second].spid, 1029u);
    EXPECT_EQ(d->AnchorCount(), 3);
}

// A document whose shape 1025 (of the type given) holds a text box whose
// story is a telephone number, anchored between "A" and "Z".
Result ReadShapeWithTextBox(unsigned shapeType, bool clientRecord, const std::string& fopt = std::string())
{
    WordDocBuilder b;
    b.mainText = u"A\x08Z\r";
    b.textBoxText = u"010-1234-5678\r\r";
    b.charRuns = {{0, 1, ""}, {1, 2, kSpec}, {2, 4 + 15, ""}};
    b.anchors = {{1, 1025}};
    b.textBoxes = {{0, 14, 1025}, {14, 15, 0}};
    b.dggInfo = ps_test::ArtDrawing(1030, ps_test::ArtShape(1024, 0, 0x5, false) +
                                              ps_test::ArtShape(1025, shapeType, 0xA00, clientRecord, nullptr,
                                                                nullptr, fopt));
    return Read(b);
}

TEST(Word97Reader, TextBoxStoryFoundWithOrWithoutClientTextRecord)
{
    // The text-box table names the shape by its id. Some writers mark the
    // shape's text with a client text-box record, others with the text-id
    // property alone; either way the story is the shape's text.
    const std::string textId = Le16s(0x0080) + Le32s(0x00010000);
    const struct {
        const char* name;
        bool clientRecord;
        std::string fopt;
    } cases[] = {
        {"client record", true, ""},
        {"text-id property only", false, textId},
        {"neither", false, ""},
    };
    for (const auto& c : cases) {
        Result r = ReadShapeWithTextBox(202, c.clientRecord, c.fopt);
        EXPECT_EQ(r.ok, 1) << c.name;
        EXPECT_EQ(r.text, u"A010\u20101234\u20105678\nZ\n") << c.name << ": " << Utf8(r.text);
    }
}

TEST(Word97Reader, TextBoxOfAShapeOfAnyOutlineIsRead)
{
    // The story of a shape is its text whatever the shape's outline: a
    // ribbon, or a free form that gives no vertices, shows its text box all
    // the same.
    for (const unsigned type : {202u, 53u, 54u, 0u, 100u, 1u}) {
        Result r = ReadShapeWithTextBox(type, true);
        EXPECT_EQ(r.ok, 1) << type;
        EXPECT_EQ(r.text, u"A010\u20101234\u20105678\nZ\n") << type << ": " << Utf8(r.text);
    }
}

TEST(Word97Reader, CommentsFollowTheMainTextEachOnItsLine)
{
    // The main text's lines stay whole; the comments (the second one's
    // reference names an ordinary character) follow, in their order.
    WordDocBuilder b;
    b.mainText = u"Call\x05 me\r";
    b.commentText = u"\x05" u"010-1234-5678\r\x05second\r\r";
    b.charRuns = {{0, 4, ""}, {4, 5, kSpec}, {5, 9, ""}, {9, 10, kSpec}, {10, 24, ""}, {24, 25, kSpec}, {25, 9 + 24, ""}};
    b.commentRefs = {4, 6};
    b.commentCps = {0, 15, 23, 24};
    Result r = Read(b);
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.text, u"Call me\n010\u20101234\u20105678\nsecond\n") << Utf8(r.text);
}

TEST(Word97Reader, TextBoxAnchoringItsOwnShapeIsCut)
{
    // The text box story of shape 1025 holds an anchor character whose
    // anchor names shape 1025 again.
    WordDocBuilder b;
    b.mainText = u"A\x08Z\r";
    b.textBoxText = u"in\x08side\r\r";
    b.charRuns = {{0, 1, ""}, {1, 2, kSpec}, {2, 6, ""}, {6, 7, kSpec}, {7, 4 + 9, ""}};
    b.anchors = {{1, 1025}, {6, 1025}};
    b.textBoxes = {{0, 8, 1025}, {8, 9, 0}};
    b.dggInfo = ps_test::ArtDrawing(1030, ps_test::ArtShape(1024, 0, 0x5, false) +
                                              ps_test::ArtShape(1025, 202, 0, true));
    const auto start = std::chrono::steady_clock::now();
    Result r = Read(b);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.text.substr(0, 3), u"Ain") << Utf8(r.text);
    EXPECT_NE(r.text.find(u"Z\n"), std::u16string::npos) << Utf8(r.text);
}

TEST(Word97Reader, DamagedPositionsEndTheStory)
{
    // The main text claims far more characters than the stream holds.
    WordDocBuilder big;
    big.mainText = u"short\r";
    big.fibPatches = {{76, 0x7FFFFFF0}};
    auto start = std::chrono::steady_clock::now();
    Result r = Read(big);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(r.text.substr(0, 6), u"short\n");

    // A piece far past the stream's end.
    WordDocBuilder far;
    far.mainText = u"abc\r";
    std::string file = far.Build();
    std::string table = far.Table();
    const std::uint32_t fcClx = ps_test::GetLe32(far.WordDocument(), 418);
    // The PCD's fc lies after the two CPs: 1 + 4 + 8 + 2.
    ps_test::PutLe32(table, fcClx + 15, 0x40000000u | (0x7FFFFF00u & 0x3FFFFFFFu));
    ps_test::CfbWriter w(3);
    w.AddStream(u"WordDocument", far.WordDocument());
    w.AddStream(u"0Table", table);
    start = std::chrono::steady_clock::now();
    r = ReadBytes(w.Build());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(r.ok, 1);
    EXPECT_TRUE(r.text.empty());

    // Every FIB length far beyond the table stream.
    WordDocBuilder lengths;
    lengths.mainText = u"keep\r";
    lengths.headerText = u"h\r";
    lengths.headerCps = {0, 0, 0, 0, 0, 0, 0, 2, 2, 2, 2, 2, 2, 2};
    for (std::uint32_t at : {174u, 182u, 246u, 326u, 334u, 478u, 486u, 526u, 534u, 558u, 606u, 622u, 742u, 750u})
        lengths.fibPatches.push_back({at, 0x7FFFFFFFu});
    lengths.fibPatches.push_back({80, 5});
    lengths.fibPatches.push_back({96, 5});
    r = Read(lengths);
    EXPECT_NE(r.text.find(u"keep"), std::u16string::npos) << Utf8(r.text);
}

TEST(Word97Reader, DrawingDataRecordsOfAnyShape)
{
    struct Case {
        const char* name;
        std::string dgg;
    } cases[] = {
        // A header cut off at the end of the data.
        {"truncated header", ps_test::ArtDrawing(4, ps_test::ArtShape(1, 1, 0, true)) + std::string("\x0f\x00\x04", 3)},
        // Lengths far past the data.
        {"long record", ps_test::ArtContainer(0xF000, ps_test::ArtRecord(0, 0xF006, Le32s(3))) +
                             Le16s(0) + Le16s(0xF00A) + Le32s(0xFFFFFFF0u) + "xx"},
        // A huge spidMax.
        {"huge spidMax", ps_test::ArtDrawing(0xFFFFFFFEu, ps_test::ArtShape(1, 1, 0, true))},
        // Shapes before any shape container; stray bytes between records.
        {"no container", ps_test::ArtRecord(0x12, 0xF00A, Le32s(1) + Le32s(1)) + "\x01\x02" +
                             ps_test::ArtRecord(0, 0xF009, "\x01")},
        // More shape containers than slots: the skipped ones leave self links.
        {"few slots", ps_test::ArtDrawing(1, ps_test::ArtShape(1, 1, 1, true) + ps_test::ArtShape(2, 1, 2, true) +
                                                  ps_test::ArtShape(3, 1, 2, true) + ps_test::ArtShape(4, 1, 2, true))},
        // FOPT whose complex sizes and element counts overrun the body.
        {"bad vertices", ps_test::ArtDrawing(4, ps_test::ArtShape(1, 0, 0, true, nullptr, nullptr,
                                                                    Le16s(0xC145) + Le32s(0x7FFFFFFF) + Le16s(0xFFFF)))},
    };
    for (const Case& c : cases) {
        WordDocBuilder b;
        b.mainText = u"x\x08y\r";
        b.textBoxText = u"t\r\r";
        b.charRuns = {{0, 1, ""}, {1, 2, kSpec}, {2, 7, ""}};
        b.anchors = {{1, 1}};
        b.textBoxes = {{0, 2, 1}, {2, 3, 0}};
        b.dggInfo = c.dgg;
        Result r = Read(b);
        EXPECT_EQ(r.ok, 1) << c.name;
        EXPECT_EQ(r.text.substr(0, 1), u"x") << c.name;
    }
}

TEST(Word97Reader, RandomDamageNeverCrashesOrHangs)
{
    WordDocBuilder b = ShapesDocument();
    b.headerText = u"Head\r\r";
    b.headerCps = {0, 0, 0, 0, 0, 0, 0, 0, 5, 5, 5, 5, 5, 6};
    b.Build();
    const std::string word = b.WordDocument();
    const std::string table = b.Table();
    std::mt19937 rng(20261210);
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 400; ++round) {
        std::string w = word, t = table;
        const int flips = 1 + static_cast<int>(rng() % 12);
        for (int i = 0; i < flips; ++i) {
            std::string& target = (rng() % 3 == 0) ? w : t;
            // FIB fields and table structures are the interesting targets.
            const std::size_t at = (&target == &w && rng() % 2) ? rng() % 898 : rng() % target.size();
            target[at] = static_cast<char>(rng() % 4 == 0 ? 0xFF : rng());
        }
        if (rng() % 5 == 0)
            t.resize(rng() % t.size());
        ps_test::CfbWriter cfb(3);
        cfb.AddStream(u"WordDocument", w);
        cfb.AddStream(u"0Table", t);
        cfb.AddStream(u"1Table", t);
        Result r = ReadBytes(cfb.Build());
        EXPECT_GE(r.ok, 0) << "round " << round;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

namespace {

// A Word 97 document whose main text is long enough for the "WordDocument"
// stream to lie in sectors of its own, last in the file.
WordDocBuilder LongDocument()
{
    WordDocBuilder b;
    for (int i = 0; i < 400; ++i)
        b.mainText += u"line " + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) + u"\r";
    b.mainText += u"주민번호 800101-1234567\r";
    b.compressed = false;
    return b;
}

// LongDocument with 1 MB and 600 bytes more at the end of "WordDocument", the
// last stream of the file (its last sector holds 88 of them), so that it is
// read in more than one piece; cut: the file loses its last 500 bytes.
std::string CutDocument(bool cut)
{
    WordDocBuilder b = LongDocument();
    b.Build();
    ps_test::CfbWriter w(3);
    w.AddStream(u"WordDocument", b.WordDocument() + std::string((1u << 20) + 600, '\0'));
    w.AddStream(u"0Table", b.Table());
    std::string file = w.Build();
    if (cut)
        file.resize(file.size() - 500);
    return file;
}

}  // namespace

// Documents whose text cannot be read are not read: a rights-protected
// document (its text encrypted in the protected content stream, a
// placeholder in the usual streams), a stream that ends before its size.
TEST(Word97Reader, TextThatCannotBeReadFailsTheDocument)
{
    WordDocBuilder placeholder;
    placeholder.mainText = u"This document has restricted permissions.\r";
    const std::string file = placeholder.Build();
    ASSERT_EQ(ReadBytes(file).ok, 1);
    const struct {
        const char* what;
        bool storage;
        bool stream;
    } protectedCases[] = {
        {"data spaces and protected content", true, true},
        {"protected content stream only", false, true},
        {"data spaces storage only", true, false},
    };
    for (const auto& c : protectedCases) {
        ps_test::CfbWriter w(3);
        w.AddStream(u"WordDocument", placeholder.WordDocument());
        w.AddStream(u"0Table", placeholder.Table());
        if (c.storage)
            w.AddStream(u"\x06" u"DataSpaces/DataSpaceMap", std::string(64, '\x01'));
        if (c.stream)
            w.AddStream(u"\x09" u"DRMContent", std::string(5000, '\x5A'));
        Result r = ReadBytes(w.Build());
        EXPECT_EQ(r.ok, 0) << c.what;
        EXPECT_TRUE(r.text.empty()) << c.what << ": " << Utf8(r.text);
    }

    // The file ends inside the last sector of "WordDocument": the compound
    // file opens, the stream's last bytes cannot be read.
    std::string whole = CutDocument(false);
    ASSERT_EQ(ReadBytes(whole).ok, 1);
    EXPECT_EQ(ReadBytes(CutDocument(true)).ok, 0);
}

TEST(Word97Entry, DocumentsWhoseTextCannotBeReadAreNotRead)
{
    ps_test::TempDir dir;
    WordDocBuilder longDoc = LongDocument();
    const std::string good = longDoc.Build();

    std::string cutoff = good;
    ps_test::PutLe32(cutoff, 0x38, 0);  // mini-stream cutoff 0
    ps_test::CfbWriter rights(3);
    rights.AddStream(u"WordDocument", longDoc.WordDocument());
    rights.AddStream(u"0Table", longDoc.Table());
    rights.AddStream(u"\x06" u"DataSpaces/DataSpaceMap", std::string(64, '\x01'));
    rights.AddStream(u"\x09" u"DRMContent", std::string(5000, '\x5A'));
    const std::string cut = CutDocument(true);

    const struct {
        const char* name;
        std::string bytes;
        int status;
    } cases[] = {
        {"good.doc", good, 0},
        {"cutoff0.doc", cutoff, 1},
        {"rights.doc", rights.Build(), 1},
        {"cut.doc", cut, 1},
    };
    InitializeLibrary();
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(ps_test::WriteFileBytes(path, c.bytes));
        std::u16string out;
        EXPECT_EQ(static_cast<int>(ConvertWordToText(plat::PathFromNative(path).c_str(), u"xml:false", &out)), c.status)
            << c.name;
        if (c.status == 0) {
            EXPECT_NE(out.find(u"800101\u20101234567"), std::u16string::npos) << c.name;
        }
    }
    FinalizeLibrary();
}
