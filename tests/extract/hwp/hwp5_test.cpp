// The HWP 5 reader over documents built here: the record archive, the body
// walk with its controls, and damaged documents, which must end with a
// status and never loop.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "extract/extractlib.h"
#include "extract/hwp/hwp_datablock.h"
#include "extract/hwp/hwpdocmanager.h"
#include "extract/io/h2s_bufio.h"
#include "extract/libstring.h"
#include "extract/readerror.h"
#include "platform/text.h"
#include "search/scan.h"
#include "search/pipatterns.h"
#include "support/isolation.h"
#include "tests/extract/hwp/hwp_builder.h"

using namespace hwp_test;

namespace {

struct Result {
    int status;
    std::u16string text;
};

Result ConvertBytes(const std::string& bytes, const char16_t* options = nullptr)
{
    ps_test::TempDir dir;
    const std::string path = dir.file("doc.hwp");
    EXPECT_TRUE(ps_test::WriteFileBytes(path, bytes));
    Result r;
    r.status = static_cast<int>(ConvertHwpToText(plat::PathFromNative(path).c_str(), options, &r.text));
    return r;
}

Result ConvertSections(const std::vector<std::string>& sections, bool compressed = false)
{
    Hwp5Document d;
    d.compressed = compressed;
    d.sections = sections;
    return ConvertBytes(d.Build());
}

// The error word and throw flag as the tests expect them, restored after.
struct ErrorState {
    ErrorState() : old(SetThrowOnError(0)) { ClearLibraryError(); }
    ~ErrorState()
    {
        SetThrowOnError(old);
        ClearLibraryError();
    }
    int old;
};

}  // namespace

// ---- record archive ------------------------------------------------------------

TEST(HwpDataBlock, HeaderFormsAroundTheLongSizeAndReadBack)
{
    ErrorState state;
    ps_test::TempDir dir;
    const std::string path = dir.file("records.bin");
    {
        CH2sFile file;
        ASSERT_EQ(file.Open(plat::PathFromNative(path), 3), 1);
        CH2sDataBlock ar;
        ar.Attach(&file);
        for (std::uint32_t size : {4094u, 4095u, 0u}) {
            ar.BeginWriteRecord(67, 2);
            std::string body(size, 'x');
            ar.Write(body.data(), static_cast<int>(body.size()));
            ar.EndRecord();
        }
        ar.Detach();
        file.Close();
    }
    const std::string bytes = ps_test::ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 4u + 4094 + 8 + 4095 + 4);
    EXPECT_EQ(ps_test::GetLe32(bytes, 0), 67u | (2u << 10) | (4094u << 20));
    EXPECT_EQ(ps_test::GetLe32(bytes, 4 + 4094), 67u | (2u << 10) | (0xFFFu << 20));
    EXPECT_EQ(ps_test::GetLe32(bytes, 4 + 4094 + 4), 4095u);

    CH2sFile file;
    ASSERT_EQ(file.Open(plat::PathFromNative(path), 0), 1);
    CH2sDataBlock ar;
    ar.Attach(&file);
    for (std::uint32_t size : {4094u, 4095u, 0u}) {
        EXPECT_EQ(ar.NextRecord(67), 67u);
        EXPECT_EQ(ar.level(), 2u);
        EXPECT_EQ(ar.size(), size);
        ar.EndRecord();
    }
    EXPECT_EQ(ar.PeekTag(), 0u);
    EXPECT_TRUE(ar.atEnd());
    EXPECT_EQ(GetLibraryError(), 0);
    // A record asked for where the data ends: the document is damaged.
    EXPECT_EQ(ar.NextRecord(66), 0u);
    EXPECT_EQ(GetLibraryError(), kLibErrorUnexpectedRecord);
}

TEST(HwpDataBlock, ReadsStayInsideTheBodyAndSkipTakesTheNestedRecords)
{
    ErrorState state;
    ps_test::TempDir dir;
    const std::string path = dir.file("records.bin");
    // A control header with a table record and a cell list below it, then
    // the next control header at the first one's level.
    std::string data = Rec(71, 1, "ABCDEFGHIJKL") + Rec(77, 2, Zeros(20)) + Rec(72, 2, Zeros(8)) +
                       Para(2, U(u"cell"), true) + Rec(71, 1, "next");
    ASSERT_TRUE(ps_test::WriteFileBytes(path, data));
    CH2sFile file;
    ASSERT_EQ(file.Open(plat::PathFromNative(path), 0), 1);
    CH2sDataBlock ar;
    ar.Attach(&file);

    ASSERT_EQ(ar.NextRecord(71), 71u);
    char buf[20];
    ar.Read(buf, 4);
    EXPECT_EQ(ar.Remaining(), 8);
    std::memset(buf, 'z', sizeof buf);
    EXPECT_EQ(ar.Read(buf, 20), 8);
    EXPECT_EQ(std::string(buf, 8), "EFGHIJKL");
    for (int i = 8; i < 20; ++i)
        EXPECT_EQ(buf[i], 0) << i;
    EXPECT_EQ(ar.Skip(10), 0);
    ar.EndRecord();

    EXPECT_EQ(ar.SkipRecord(), 77u);  // the table record alone: the list header is its sibling
    EXPECT_EQ(ar.PeekTag(), 72u);
    EXPECT_EQ(ar.SkipRecord(), 72u);
    EXPECT_EQ(ar.SkipRecord(), 66u);  // the paragraph with its text and shapes
    ASSERT_EQ(ar.NextRecord(71), 71u);
    ar.Read(buf, 4);
    EXPECT_EQ(std::string(buf, 4), "next");
    ar.EndRecord();
    EXPECT_EQ(GetLibraryError(), 0);
}

TEST(HwpDataBlock, HeaderCutShortIsAnError)
{
    ErrorState state;
    ps_test::TempDir dir;
    const std::string path = dir.file("records.bin");
    // Long-form size whose second value is cut off.
    std::string data = Rec(66, 0, Zeros(22));
    Le32(data, 67u | (0xFFFu << 20));
    data += "\x01\x02";
    ASSERT_TRUE(ps_test::WriteFileBytes(path, data));
    CH2sFile file;
    ASSERT_EQ(file.Open(plat::PathFromNative(path), 0), 1);
    CH2sDataBlock ar;
    ar.Attach(&file);
    EXPECT_EQ(ar.NextRecord(66), 66u);
    ar.EndRecord();
    SetThrowOnError(1);
    EXPECT_THROW(ar.NextRecord(67), ReadError);
    SetThrowOnError(0);
    EXPECT_EQ(GetLibraryError(), kLibErrorUnexpectedRecord);
}

// ---- body text -------------------------------------------------------------------

TEST(Hwp5Body, ParagraphsTablesAndEmptyParagraphs)
{
    struct Case {
        const char* name;
        std::string section;
        std::u16string expected;
    };
    const Case cases[] = {
        {"tab inside a line", Para(0, U(u"abc") + Tab() + U(u"d"), true), u"abc\td\n"},
        {"empty paragraph adds nothing", Para(0, U(u"one"), false) + Para(0, U(u""), false) + Para(0, U(u"two"), true),
         u"one\ntwo\n"},
        {"table cells before the paragraph's text",
         Para(0, Ctrl(11, Id("tbl ")) + U(u"t"), true, Table(0, {{U(u"x"), U(u"y")}})), u"x\ny\nt\n"},
        {"two rows", Para(0, Ctrl(11, Id("tbl ")), true, Table(0, {{U(u"a")}, {U(u"b"), U(u"c")}})),
         u"a\nb\nc\n\n"},  // the paragraph holding the table ends its own line
        {"controls in the order of their codes",
         Para(0, Ctrl(11, Id("tbl ")) + Ctrl(17, Id("fn  ")) + Ctrl(11, Id("tbl ")) + U(u"p"), true,
              Table(0, {{U(u"1")}}) + Rec(71, 1, ObjectCommon(Id("fn  "))) + List(2, {U(u"note")}) +
                  Table(0, {{U(u"2")}})),
         u"1\nnote\n2\np\n"},
        {"header with control data",
         Para(0, Ctrl(16, Id("head")) + U(u"body"), true,
              Rec(71, 1, ObjectCommon(Id("head"))) + Rec(87, 2, Zeros(10)) + List(2, {U(u"top")})),
         u"top\nbody\n"},
        {"unknown control passed over with its records",
         Para(0, Ctrl(11, Id("zzzz")) + U(u"q"), true, Rec(71, 1, "zzzz") + Rec(99, 2, Zeros(4)) + Rec(98, 3, "")),
         u"q\n"},
    };
    for (const Case& c : cases) {
        for (bool compressed : {false, true}) {
            Result r = ConvertSections({c.section}, compressed);
            EXPECT_EQ(r.status, 0) << c.name << (compressed ? " (compressed)" : "");
            EXPECT_EQ(plat::WideToUtf8(r.text), plat::WideToUtf8(c.expected)) << c.name;
        }
    }
}

TEST(Hwp5Body, DutmalTextBoxesAndContainers)
{
    // Dutmal: main and sub text one after the other, before the paragraph.
    std::string dutmal;
    Le32(dutmal, Id("tdut"));
    Le16(dutmal, 2);
    dutmal += TextBody(U(u"본문"));
    Le16(dutmal, 3);
    dutmal += TextBody(U(u"sub"));
    dutmal += Zeros(20);
    Result r = ConvertSections({Para(0, Ctrl(22, Id("tdut")) + U(u"z"), true, Rec(71, 1, dutmal))});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, u"본문subz\n");

    // A rectangle with a text box (bit 24) and one without.
    auto rectangle = [](bool textFlag, const std::string& inside) {
        return Rec(71, 1, ObjectCommon(Id("gso "))) +
               Rec(76, 2, ShapeComponent(Id("$rec"), true, textFlag ? 1u << 24 : 0) + Zeros(13)) + inside +
               Rec(80, 3, Zeros(20));
    };
    r = ConvertSections({Para(0, Ctrl(11, Id("gso ")) + U(u"after"), true,
                              rectangle(true, List(3, {U(u"boxed")})))});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, u"boxed\nafter\n");
    // Other writers leave bit 24 clear; the list header under the component
    // is its text box all the same (lines with personal information stand
    // there). A list header elsewhere is no text box.
    r = ConvertSections({Para(0, Ctrl(11, Id("gso ")) + U(u"after"), true,
                              rectangle(false, List(3, {U(u"unflagged"), U(u"010-1234-5678")})))});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, u"unflagged\n010-1234-5678\nafter\n");
    r = ConvertSections({Para(0, Ctrl(11, Id("gso ")) + U(u"after"), true,
                              rectangle(false, Rec(99, 3, "") + List(4, {U(u"not a box")})))});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, u"after\n");

    // A container of an ellipse with text and a line.
    std::string container = ShapeComponent(Id("$con"), true, 0);
    Le16(container, 2);
    Le32(container, Id("$ell"));
    Le32(container, Id("$lin"));
    std::string gso = Rec(71, 1, ObjectCommon(Id("gso "))) + Rec(76, 2, container) +
                      Rec(76, 3, ShapeComponent(Id("$ell"), false, 1u << 24) + Zeros(13)) + List(4, {U(u"in ellipse")}) +
                      Rec(82, 4, Zeros(10)) + Rec(76, 3, ShapeComponent(Id("$lin"), false, 0) + Zeros(13)) +
                      Rec(81, 4, Zeros(10));
    r = ConvertSections({Para(0, Ctrl(11, Id("gso ")) + U(u"x"), true, gso)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, u"in ellipse\nx\n");

    // The same container with the ellipse's bit 24 clear.
    std::string unflagged = gso;
    const std::string flagged = ShapeComponent(Id("$ell"), false, 1u << 24);
    const size_t at = unflagged.find(flagged);
    ASSERT_NE(at, std::string::npos);
    unflagged.replace(at, flagged.size(), ShapeComponent(Id("$ell"), false, 0));
    r = ConvertSections({Para(0, Ctrl(11, Id("gso ")) + U(u"x"), true, unflagged)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, u"in ellipse\nx\n");
}

TEST(Hwp5Body, TablesThatOtherWritersDamageOrNestOddly)
{
    // A cell whose first paragraph is marked last: the cell's other
    // paragraphs and the cells after it are still read.
    auto earlyLast = [](unsigned level, const std::vector<Units>& paragraphs) {
        std::string s = Rec(72, level, Zeros(8));
        for (size_t i = 0; i < paragraphs.size(); ++i)
            s += Para(level, paragraphs[i], i == 0);
        return s;
    };
    std::string table = Rec(71, 1, ObjectCommon(Id("tbl ")));
    {
        std::string t;
        Le32(t, 0);
        Le16(t, 1);
        Le16(t, 2);
        Le16(t, 0);
        t += Zeros(8);
        Le16(t, 2);
        Le16(t, 0);
        table += Rec(77, 2, t) + earlyLast(2, {U(u"c1"), U(u"800101-1234567"), U(u"c1 end")}) +
                 earlyLast(2, {U(u"c2")});
    }
    // A list header right under a paragraph, with no control record, holding
    // a paragraph with a table.
    const std::string freeList = Rec(72, 1, Zeros(8)) + Para(1, Ctrl(11, Id("tbl ")) + U(u"in list"), true,
                                                           Table(1, {{U(u"cell a"), U(u"cell b")}}));
    const struct {
        const char* name;
        std::string section;
        std::u16string expected;
    } cases[] = {
        {"cell marked last at its first paragraph",
         Para(0, Ctrl(11, Id("tbl ")) + U(u"p"), false, table) + Para(0, U(u"next"), true),
         u"c1\n800101-1234567\nc1 end\nc2\np\nnext\n"},
        {"body paragraphs after the one marked last",
         Para(0, U(u"a"), true) + Para(0, U(u"b"), false) + Para(0, U(u"c"), true), u"a\nb\nc\n"},
        {"a list off a paragraph without a control",
         Para(0, U(u"owner"), false, freeList) + Para(0, U(u"next"), true),
         u"cell a\ncell b\nin list\nowner\nnext\n"},
        {"the same list after a control that is read",
         Para(0, Ctrl(17, Id("fn  ")) + U(u"owner"), true,
              Rec(71, 1, ObjectCommon(Id("fn  "))) + List(2, {U(u"note")}) + freeList),
         u"note\ncell a\ncell b\nin list\nowner\n"},
        {"the same list before the control's record",
         Para(0, Ctrl(17, Id("fn  ")) + U(u"owner"), true,
              freeList + Rec(71, 1, ObjectCommon(Id("fn  "))) + List(2, {U(u"note")})),
         u"cell a\ncell b\nin list\nnote\nowner\n"},
    };
    for (const auto& c : cases) {
        for (bool compressed : {false, true}) {
            Result r = ConvertSections({c.section}, compressed);
            EXPECT_EQ(r.status, 0) << c.name;
            EXPECT_EQ(plat::WideToUtf8(r.text), plat::WideToUtf8(c.expected)) << c.name;
        }
    }
}

TEST(Hwp5Body, ListsAtTheLevelsOtherWritersUseAndRecordsNotUnderstood)
{
    // A list header followed by paragraphs one level deeper than Hangul
    // writes them.
    auto deeperList = [](unsigned level, const std::vector<Units>& paragraphs) {
        std::string s = Rec(72, level, Zeros(8));
        for (size_t i = 0; i < paragraphs.size(); ++i)
            s += Para(level + 1, paragraphs[i], i + 1 == paragraphs.size());
        return s;
    };
    std::string deeperTable = Rec(71, 1, ObjectCommon(Id("tbl ")));
    {
        std::string t;
        Le32(t, 0);
        Le16(t, 1);
        Le16(t, 2);
        Le16(t, 0);
        t += Zeros(8);
        Le16(t, 2);
        Le16(t, 0);
        deeperTable += Rec(77, 2, t) + deeperList(2, {U(u"c1")}) + deeperList(2, {U(u"c2"), U(u"c3")});
    }
    const struct {
        const char* name;
        std::string section;
        std::u16string expected;
        int status = 0;
    } cases[] = {
        {"header paragraphs one level deeper",
         Para(0, Ctrl(16, Id("head")) + U(u"body"), true,
              Rec(71, 1, ObjectCommon(Id("head"))) + deeperList(2, {U(u"top"), U(u"second")})) +
             "",
         u"top\nsecond\nbody\n"},
        {"footer and a table with deeper cells",
         Para(0, Ctrl(16, Id("foot")) + Ctrl(11, Id("tbl ")) + U(u"p"), false,
              Rec(71, 1, ObjectCommon(Id("foot"))) + deeperList(2, {U(u"bottom")}) + deeperTable) +
             Para(0, U(u"next"), true),
         u"bottom\nc1\nc2\nc3\np\nnext\n"},
        {"unknown records between paragraphs and before a control",
         Para(0, U(u"a"), false) + Rec(99, 0, "zz") + Rec(98, 1, "") +
             Para(0, Ctrl(17, Id("fn  ")) + U(u"b"), true,
                  Rec(97, 1, "?") + Rec(71, 1, ObjectCommon(Id("fn  "))) + List(2, {U(u"note")}) + Rec(96, 2, "")),
         u"a\nnote\nb\n"},
        // No paragraph of the list is marked last: it is left open, and the
        // document is read in part.
        {"a list without its last paragraph ends at its owner's next record",
         Para(0, Ctrl(17, Id("fn  ")) + U(u"b"), false,
              Rec(71, 1, ObjectCommon(Id("fn  "))) + Rec(72, 2, Zeros(8)) + Para(2, U(u"open"), false)) +
             Para(0, U(u"c"), true),
         u"open\nb\nc\n", 1},
        {"line break and fixed-width blanks", Para(0, U(u"제\x1F" u"3\x1E" u"교시\n둘째"), true),
         u"제 3 교시\n둘째\n"},
    };
    for (const auto& c : cases) {
        for (bool compressed : {false, true}) {
            Result r = ConvertSections({c.section}, compressed);
            EXPECT_EQ(r.status, c.status) << c.name;
            EXPECT_EQ(plat::WideToUtf8(r.text), plat::WideToUtf8(c.expected)) << c.name;
        }
    }
}

TEST(Hwp5Body, MemoListsAfterTheLastSection)
{
    std::string memo;
    Le32(memo, 1);
    Result r = ConvertSections({Para(0, Ctrl(21, Id("%%me")) + U(u"s0"), true, Rec(71, 1, "em%%")),
                                Para(0, U(u"s1"), true) + Rec(93, 0, memo) + List(1, {U(u"memo")})});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, u"s0\ns1\nmemo\n");

    // More memos than memo lists: the document ends as damaged, the text stays.
    r = ConvertSections({Para(0, Ctrl(21, Id("%%me")) + Ctrl(21, Id("%%me")) + U(u"s0"), true,
                              Rec(71, 1, "em%%") + Rec(71, 1, "em%%")) +
                         Rec(93, 0, memo) + List(1, {U(u"memo")})});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.text, u"s0\nmemo\n");
}

// ---- document frame and damage ------------------------------------------------------

TEST(Hwp5Frame, MissingPartsAndWrongRecords)
{
    struct Case {
        const char* name;
        Hwp5Document doc;
        int status;
        std::u16string text;
    };
    std::vector<Case> cases;
    auto add = [&cases](const char* name, auto edit, int status, std::u16string text) {
        Hwp5Document d;
        d.sections = {Para(0, U(u"first"), true), Para(0, U(u"second"), true)};
        edit(d);
        cases.push_back({name, d, status, std::move(text)});
    };
    add("whole", [](Hwp5Document&) {}, 0, u"first\nsecond\n");
    add("no FileHeader: not HWP 5", [](Hwp5Document& d) { d.withFileHeader = false; }, 1, u"");
    // A document whose text cannot be read, or only a part of it, is never
    // read clean: status 1, with the text that was read.
    add("no DocInfo: not read", [](Hwp5Document& d) { d.withDocInfo = false; }, 1, u"");
    // A section count that disagrees with BodyText: every section there is
    // is read, and the document is read in part.
    add("DocInfo counting no section", [](Hwp5Document& d) { d.sectionCount = 0; }, 1, u"first\nsecond\n");
    add("password bit on a document without a password", [](Hwp5Document& d) { d.properties = 2; }, 1, u"");
    add("saved for distribution", [](Hwp5Document& d) { d.properties = 4; }, 1, u"");
    add("no BodyText", [](Hwp5Document& d) { d.withBodyText = false; }, 2, u"");
    // A section that does not open is passed over and the next one is read:
    // the document is read in part.
    add("missing section", [](Hwp5Document& d) { d.missingSections = {0}; }, 1, u"second\n");
    add("more sections counted than present", [](Hwp5Document& d) { d.sectionCount = 5; }, 1, u"first\nsecond\n");
    add("a section without its last paragraph",
        [](Hwp5Document& d) { d.sections[0] = Para(0, U(u"open"), false); }, 2, u"open\n");
    add("text record missing", [](Hwp5Document& d) { d.sections[0] = Rec(66, 0, ParaHeader(5, true)); }, 2, u"");
    // A record not understood is passed over with what it holds.
    add("another record where a paragraph is due",
        [](Hwp5Document& d) { d.sections[1] = Rec(71, 0, "abcd") + Rec(99, 1, "") + Para(0, U(u"x"), true); }, 0,
        u"first\nx\n");
    add("an empty section stream", [](Hwp5Document& d) { d.sections[0].clear(); }, 2, u"");
    add("a zero matrix count",
        [](Hwp5Document& d) {
            d.sections[0] = Para(0, Ctrl(11, Id("gso ")) + U(u"x"), true,
                                 Rec(71, 1, ObjectCommon(Id("gso "))) +
                                     Rec(76, 2, ShapeComponent(Id("$rec"), true, 0, 0) + Zeros(13)));
        },
        2, u"");
    {
        // Compressed by the header, but the section is not deflate data.
        Hwp5Document d;
        d.compressed = true;
        d.packSections = false;
        d.sections = {std::string("\xff\xff\xff\xff") + Para(0, U(u"plain"), true)};
        cases.push_back({"damaged deflate data", d, 2, u""});
    }
    for (const Case& c : cases) {
        for (bool compressed : {false, true}) {
            if (!c.doc.packSections && !compressed)
                continue;
            Hwp5Document d = c.doc;
            d.compressed = compressed;
            Result r = ConvertBytes(d.Build());
            EXPECT_EQ(r.status, c.status) << c.name;
            EXPECT_EQ(plat::WideToUtf8(r.text), plat::WideToUtf8(c.text)) << c.name;
        }
    }
    // The throw flag is the conversion's own.
    EXPECT_EQ(SetThrowOnError(0), 0);
}

TEST(Hwp5Frame, SectionsTheCompoundFileCannotGiveAreNotReadClean)
{
    // Section1 is damaged in the compound file's structures; Section0 is
    // read, and the document is read in part.
    const struct {
        const char* name;
        int edit;
    } cases[] = {
        {"mini-stream chain pointing outside the file", 0},
        {"mini-stream chain ending early", 1},
        {"section size larger than the file", 2},
    };
    for (const auto& c : cases) {
        Hwp5Document d;
        d.sections = {Para(0, U(u"first"), true),
                      Para(0, U(u"second, with a resident number 800101-1234567 in it"), true)};
        ps_test::CfbLayout layout;
        std::string bytes = d.Build(&layout);
        const std::uint64_t entry = layout.EntryOffset(layout.EntryId(u"BodyText/Section1"));
        const std::uint32_t start = ps_test::GetLe32(bytes, entry + 116);
        switch (c.edit) {
        case 0: ps_test::PutLe32(bytes, entry + 116, 0x00FFFFF0u); break;
        case 1:
            ps_test::PutLe32(bytes, layout.SectorOffset(layout.miniFatSectors.at(0)) + 4 * start, 0xFFFFFFFEu);
            break;
        default: ps_test::PutLe32(bytes, entry + 120, 0x7FFFFFF0u); break;
        }
        Result r = ConvertBytes(bytes);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.text, u"first\n") << c.name;
    }

    // The search lists such a document as read in part and still counts what
    // the part read holds; a document of which nothing is read has no text.
    ps_test::TempDir dir;
    Hwp5Document d;
    d.sections = {Para(0, U(u"주민등록번호: 791211-2620982"), true), Para(0, U(u"second"), true)};
    d.missingSections = {1};
    const std::string partPath = dir.file("part.hwp");
    ASSERT_TRUE(ps_test::WriteFileBytes(partPath, d.Build()));
    PersonalInfoCounts counts{};
    EXPECT_EQ(FindPersonalInfoInFile(plat::PathFromNative(partPath), counts, kMaskWholeComputer, nullptr, nullptr),
              ScanStatus::Partial);
    EXPECT_EQ(counts[0], 1);
    d.properties = 4;
    const std::string nonePath = dir.file("none.hwp");
    ASSERT_TRUE(ps_test::WriteFileBytes(nonePath, d.Build()));
    counts.Clear();
    EXPECT_EQ(FindPersonalInfoInFile(plat::PathFromNative(nonePath), counts, kMaskWholeComputer, nullptr, nullptr),
              ScanStatus::NoText);
}

TEST(Hwp5Frame, LongParagraphsAreReadWholeOrMarkedReadInPart)
{
    // A paragraph past the old limit of 262,143 characters, the number at
    // its end: read whole.
    Units text(300000, u'가');
    text += U(u" 800101-1234567");
    Result r = ConvertSections({Para(0, text, true)}, true);
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.text.size(), text.size() + 1);
    EXPECT_EQ(r.text.substr(r.text.size() - 16), u" 800101-1234567\n");

    // Past the buffer: the text up to it is kept, the document is read in part.
    Units huge(CHwpDocumentManager::kMaxParagraphChars + 10, u'a');
    r = ConvertSections({Para(0, huge, true)}, true);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.text.size(), std::size_t(CHwpDocumentManager::kMaxParagraphChars));

    // A text record that the stream ends inside: what is there is kept, the
    // document is read in part.
    std::string cutText;
    Le32(cutText, 67u | (1u << 10) | (200u << 20));
    r = ConvertSections({Rec(66, 0, ParaHeader(100, true)) + cutText + TextBody(U(u"0123456789"))});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.text, u"0123456789");
}

TEST(Hwp5Frame, CountsFromTheFileAreBoundedByTheData)
{
    // A paragraph claiming 0x7FFFFFFF characters with a text record of
    // three: the three are read, and the document is read in part.
    std::string section = Rec(66, 0, ParaHeader(0x7FFFFFFF, true)) + Rec(67, 1, TextBody(U(u"ab\r")));
    Result r = ConvertSections({section});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.text, u"ab\n");

    // A table claiming 65535 rows of 65535 cells while the data holds one.
    std::string table = Rec(71, 1, ObjectCommon(Id("tbl ")));
    std::string t;
    Le32(t, 0);
    Le16(t, 0xFFFF);
    Le16(t, 0xFFFF);
    Le16(t, 0);
    t += Zeros(8);
    Le16(t, 0xFFFF);
    table += Rec(77, 2, t) + List(2, {U(u"only")});
    r = ConvertSections({Para(0, Ctrl(11, Id("tbl ")), true, table)});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.text, u"only\n");

    // A record whose size runs past the end of the stream.
    std::string cut = Para(0, U(u"keep"), false);
    std::string header;
    Le32(header, 66u | (0xFFFu << 20));
    Le32(header, 0xFFFFFFF0u);
    r = ConvertSections({cut + header + "short"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.text, u"keep\n");
}

TEST(Hwp5Frame, DeepNestingEndsTheDocument)
{
    // Footnotes inside footnotes, far deeper than any real document.
    const int depth = 200;
    std::string inner = Para(0, U(u"deep"), true);
    for (int i = 0; i < depth; ++i) {
        // Re-level the inner list two levels down under a note control.
        std::string shifted;
        size_t p = 0;
        while (p + 4 <= inner.size()) {
            std::uint32_t h = ps_test::GetLe32(inner, p);
            std::uint32_t size = h >> 20;
            size_t headerSize = 4;
            if (size == 0xFFF) {
                size = ps_test::GetLe32(inner, p + 4);
                headerSize = 8;
            }
            const std::uint32_t level = ((h >> 10) & 0x3FF) + 2;
            std::string rec = inner.substr(p, headerSize + size);
            ps_test::PutLe32(rec, 0, (h & ~(0x3FFu << 10)) | ((level & 0x3FF) << 10));
            shifted += rec;
            p += headerSize + size;
        }
        inner = Para(0, Ctrl(17, Id("fn  ")), true, Rec(71, 1, ObjectCommon(Id("fn  "))) + Rec(72, 2, Zeros(8)) + shifted);
    }
    Result r = ConvertSections({inner});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.text, u"");
}

TEST(Hwp5Frame, GenerationsAndEntry)
{
    CHwpDocumentManager manager;
    ps_test::TempDir dir;
    const std::string hwp5 = dir.file("a.hwp");
    Hwp5Document d;
    d.sections = {Para(0, U(u"x"), true)};
    ASSERT_TRUE(ps_test::WriteFileBytes(hwp5, d.Build()));
    EXPECT_EQ(manager.IsFormat(plat::PathFromNative(hwp5).c_str()), 5);
    const std::string other = dir.file("b.hwp");
    ASSERT_TRUE(ps_test::WriteFileBytes(other, "not an HWP document at all, just text"));
    EXPECT_EQ(manager.IsFormat(plat::PathFromNative(other).c_str()), 0);
    std::u16string text = u"old";
    EXPECT_EQ(ConvertHwpToText(plat::PathFromNative(other).c_str(), nullptr, &text), EntryResult::NotRead);
    EXPECT_EQ(ConvertHwpToText(plat::PathFromNative(hwp5).c_str(), nullptr, nullptr), EntryResult::Failed);
    EXPECT_EQ(ConvertHwpToText(plat::PathFromNative(dir.file("missing.hwp")).c_str(), nullptr, &text), EntryResult::NotRead);
}

TEST(Hwp5Frame, MutatedDocumentsEndWithAStatus)
{
    // A document with most controls, its section bytes changed at random
    // places: every conversion must end with a status (the sanitizer build
    // checks the memory side).
    std::string memo;
    Le32(memo, 1);
    const std::string section =
        Para(0, Ctrl(11, Id("tbl ")) + Ctrl(21, Id("%%me")) + U(u"t") + Tab(), false,
             Table(0, {{U(u"x"), U(u"y")}, {U(u"z")}}) + Rec(71, 1, "em%%")) +
        Para(0, Ctrl(11, Id("gso ")), false,
             Rec(71, 1, ObjectCommon(Id("gso "), 1u << 29)) + List(2, {U(u"caption")}) +
                 Rec(76, 2, ShapeComponent(Id("$rec"), true, 1u << 24) + Zeros(13)) + List(3, {U(u"box")}) +
                 Rec(80, 3, Zeros(20))) +
        Para(0, Ctrl(17, Id("fn  ")) + U(u"end"), true, Rec(71, 1, ObjectCommon(Id("fn  "))) + List(2, {U(u"n")})) +
        Rec(93, 0, memo) + List(1, {U(u"memo")});
    Result whole = ConvertSections({section});
    ASSERT_EQ(whole.status, 0);
    ASSERT_EQ(whole.text, u"x\ny\nz\nt\t\ncaption\nbox\n\nn\nend\nmemo\n");

    unsigned seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    int statuses[3] = {0, 0, 0};
    for (int round = 0; round < 300; ++round) {
        std::string damaged = section;
        const int changes = 1 + static_cast<int>(next() % 4);
        for (int k = 0; k < changes; ++k) {
            const size_t at = next() % damaged.size();
            switch (next() % 3) {
            case 0: damaged[at] = static_cast<char>(next()); break;
            case 1: damaged[at] = static_cast<char>(0xFF); break;
            default: damaged.resize(at); break;
            }
            if (damaged.empty())
                damaged = "x";
        }
        Result r = ConvertSections({damaged}, round % 2 == 1);
        ASSERT_GE(r.status, 0);
        ASSERT_LE(r.status, 2);
        ++statuses[r.status];
    }
    EXPECT_GT(statuses[2], 0);
}

// ---- damage: read what is there, never read clean -----------------------------------

namespace {

struct DamageResult {
    int status;
    std::u16string text;
    std::string reason;  // the first damage noted, "" when none
};

DamageResult ConvertNoting(const std::string& bytes)
{
    plat::DamageScope scope;
    const Result r = ConvertBytes(bytes);
    return {r.status, r.text, scope.Reason() ? scope.Reason() : ""};
}

}  // namespace

TEST(Hwp5Damage, SectionCountThatDisagreesWithBodyTextReadsEverySectionInPart)
{
    Hwp5Document d;
    d.sections = {Para(0, U(u"first"), true), Para(0, U(u"second 800101-1234567"), true), Para(0, U(u"third"), true)};
    for (bool compressed : {false, true}) {
        d.compressed = compressed;
        d.sectionCount = 1;
        DamageResult r = ConvertNoting(d.Build());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.text, u"first\nsecond 800101-1234567\nthird\n");
        EXPECT_EQ(r.reason, "구역 수가 맞지 않음");
        // The count right: read clean.
        d.sectionCount = -1;
        r = ConvertNoting(d.Build());
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.reason, "");
    }
}

TEST(Hwp5Damage, ParagraphCountThatDisagreesWithItsTextRecordReadsInPart)
{
    // The text record holds "ab" and the paragraph end; the header counts
    // otherwise.
    const std::string text = Rec(67, 1, TextBody(U(u"ab\r")));
    const std::string shapes = Rec(68, 1, Zeros(8));
    const struct {
        const char* name;
        std::string section;
        std::u16string expected;
    } cases[] = {
        {"count larger than the record", Rec(66, 0, ParaHeader(5, true)) + text + shapes, u"ab\n"},
        {"count smaller than the record", Rec(66, 0, ParaHeader(2, true)) + text + shapes, u"ab"},
        {"a text record where the count says the paragraph is empty", Rec(66, 0, ParaHeader(1, true)) + text + shapes,
         u""},
    };
    for (const auto& c : cases) {
        for (bool compressed : {false, true}) {
            Hwp5Document d;
            d.compressed = compressed;
            d.sections = {c.section, Para(0, U(u"next"), true)};
            const DamageResult r = ConvertNoting(d.Build());
            EXPECT_EQ(r.status, 1) << c.name;
            EXPECT_EQ(plat::WideToUtf8(r.text), plat::WideToUtf8(c.expected + u"next\n")) << c.name;
            EXPECT_EQ(r.reason, "글자 수가 맞지 않음") << c.name;
        }
    }
}

TEST(Hwp5Damage, RecordStreamsThatContradictThemselvesReadInPart)
{
    std::string shortHeader = ParaHeader(3, false);
    shortHeader.resize(12);
    std::string runsPast = Para(0, U(u"ab"), true);
    runsPast.resize(runsPast.size() - 8);
    runsPast[runsPast.size() - 2] = static_cast<char>(0x00);
    runsPast[runsPast.size() - 1] = static_cast<char>(0x01);  // the shapes' size 16, 4 bytes there
    const struct {
        const char* name;
        std::string section;
        std::u16string expected;
        const char* reason;
    } cases[] = {
        {"the last record's body runs past the stream", Para(0, U(u"x"), false) + runsPast, u"x\nab\n",
         "레코드 길이가 데이터를 넘음"},
        {"a record two levels below the one before it", Para(0, U(u"x"), false) + Rec(99, 3, "") + Para(0, U(u"y"), true),
         u"x\ny\n", "레코드 단계가 맞지 않음"},
        {"a record of a tag below the format's first", Para(0, U(u"x"), false) + Rec(5, 1, "") + Para(0, U(u"y"), true),
         u"x\ny\n", "알 수 없는 레코드"},
        {"a paragraph one level too deep, passed over",
         Para(0, U(u"x"), false) + Para(1, U(u"lost"), false) + Para(0, U(u"y"), true), u"x\ny\n",
         "레코드 단계가 맞지 않음"},
        {"a paragraph's text under a record that is no paragraph header",
         Rec(99, 0, ParaHeader(3, false)) + Rec(67, 1, TextBody(U(u"ab\r"))) + Rec(68, 1, Zeros(8)) +
             Para(0, U(u"y"), true),
         u"y\n", "레코드 단계가 맞지 않음"},
        {"records after the last paragraph", Para(0, U(u"x"), true) + Rec(99, 0, "zz"), u"x\n",
         "구조 뒤에 데이터가 남음"},
        {"a paragraph header shorter than its fields",
         Rec(66, 0, shortHeader) + Rec(67, 1, TextBody(U(u"ab\r"))) + Para(0, U(u"y"), true), u"ab\ny\n",
         "레코드가 짧음"},
        {"a control running past its paragraph", Rec(66, 0, ParaHeader(4, true)) + Rec(67, 1, TextBody(U(u"ab") + Tab().substr(0, 2))),
         u"ab\t", "제어 문자가 문단을 넘음"},
        {"a control not closed by its code",
         Rec(66, 0, ParaHeader(11, true)) + Rec(67, 1, TextBody(U(u"ab") + Tab().substr(0, 7) + U(u"c\r"))), u"ab\t\n",
         "제어 문자가 맞지 않음"},
        {"an extended control without its records", Para(0, Ctrl(11, Id("tbl ")) + U(u"t"), true), u"t\n",
         "참조된 레코드 없음"},
    };
    for (const auto& c : cases) {
        for (bool compressed : {false, true}) {
            Hwp5Document d;
            d.compressed = compressed;
            d.sections = {c.section};
            const DamageResult r = ConvertNoting(d.Build());
            EXPECT_EQ(r.status, 1) << c.name;
            EXPECT_EQ(plat::WideToUtf8(r.text), plat::WideToUtf8(c.expected)) << c.name;
            EXPECT_EQ(r.reason, c.reason) << c.name;
        }
    }
}

TEST(Hwp5Damage, CompressedSectionsEndWithTheirTrailerOrNothing)
{
    const std::string records = Para(0, U(u"800101-1234567"), true);
    const std::string plain = RawDeflate(records);
    const std::string withTrailer = RawDeflate(records, true);
    std::string noCrc = withTrailer;
    ps_test::PutLe32(noCrc, noCrc.size() - 8, 0);
    std::string wrongCrc = withTrailer;
    ps_test::PutLe32(wrongCrc, wrongCrc.size() - 8, ps_test::GetLe32(wrongCrc, wrongCrc.size() - 8) ^ 1);
    std::string wrongLength = withTrailer;
    ps_test::PutLe32(wrongLength, wrongLength.size() - 4, static_cast<std::uint32_t>(records.size() + 1));
    const struct {
        const char* name;
        std::string stored;
        int status;
        const char* reason;
    } cases[] = {
        {"no trailer", plain, 0, ""},
        {"the trailer", withTrailer, 0, ""},
        {"a trailer without its CRC", noCrc, 0, ""},
        {"a wrong CRC", wrongCrc, 1, "검사값 불일치"},
        {"a wrong length", wrongLength, 1, "검사값 불일치"},
        {"bytes after the trailer", withTrailer + "x", 1, "압축 스트림 손상"},
        {"bytes after the data", plain + "xyz", 1, "압축 스트림 손상"},
        {"the data cut short", withTrailer.substr(0, withTrailer.size() / 2), 2, "압축 스트림 손상"},
    };
    for (const auto& c : cases) {
        Hwp5Document d;
        d.compressed = true;
        d.packSections = false;
        d.sections = {c.stored};
        const DamageResult r = ConvertNoting(d.Build());
        EXPECT_EQ(r.status, c.status) << c.name;
        if (c.status != 2) {
            EXPECT_EQ(r.text, u"800101-1234567\n") << c.name;
        }
        EXPECT_EQ(r.reason, c.reason) << c.name;
    }
}
