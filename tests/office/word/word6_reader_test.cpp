#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "extract/extractlib.h"
#include "extract/textcollector.h"
#include "office/msmanagers.h"
#include "office/officeentry.h"
#include "office/word/word6text.h"
#include "platform/cfb.h"
#include "platform/codec.h"
#include "platform/text.h"
#include "support/cfb_writer.h"
#include "support/word6builder.h"
#include "support/isolation.h"

namespace {

using ps_test::Pad;
using ps_test::Put16;
using ps_test::Put32;
using ps_test::Word6Builder;

std::string Cp949(const std::u16string& s)
{
    return plat::EncodeCodePage(949, s);
}

std::string Utf16Bytes(const std::u16string& s)
{
    std::string out;
    for (char16_t c : s) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

struct Result {
    bool ok;
    std::string text;
};

Result ReadDocument(const std::string& file)
{
    plat::CfbPtr<plat::CfbStorage> root;
    if (plat::Failed(plat::CfbOpenStorageOnMemory(file, root.put())))
        return {false, ""};
    std::u16string out;
    CTextCollector collector;
    collector.SetOutput(&out);
    CMSWord2Text reader(&collector);
    bool ok = reader.ConvertStorage(root.get());
    return {ok, plat::WideToUtf8(out)};
}

TEST(Word6Reader, SingleByteKoreanTextDecodesAsDoubleByteText)
{
    Word6Builder b;
    b.main = Cp949(u"홍길동 010-1234-5678\r둘째 줄\r");
    Result r = ReadDocument(b.File());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.text, "홍길동 010-1234-5678\n둘째 줄\n");
}

TEST(Word6Reader, SingleByteTextFollowsFontCharacterSetOrLanguage)
{
    Word6Builder b;
    b.lid = 0x0409;
    b.fontCharset = 204;
    b.main = plat::EncodeCodePage(1251, u"Компания Аскат\r");
    EXPECT_EQ(ReadDocument(b.File()).text, "Компания Аскат\n");

    Word6Builder c;
    c.lid = 0x0419;
    c.main = b.main;
    EXPECT_EQ(ReadDocument(c.File()).text, "Компания Аскат\n");
}

TEST(Word6Reader, WesternTextSavedOnAMacintoshIsMacRoman)
{
    // "stratégie" with é as Mac Roman 0x8E (Ž in Windows Western).
    // A document made on a Macintosh says so by its character set (256)
    // and creation environment (1) even when the "last saved on a
    // Macintosh" flag is clear.
    const struct {
        const char* name;
        std::uint16_t lid;
        bool mac;
        std::uint8_t envr;
        std::uint16_t chse;
        const char* expected;
    } cases[] = {
        {"French, saved on a Mac", 0x040C, true, 0, 0, "stratégie\n"},
        {"French, saved on Windows", 0x040C, false, 0, 0, "stratŽgie\n"},
        {"English, saved on a Mac", 0x0409, true, 0, 0, "stratégie\n"},
        {"French, made on a Mac", 0x040C, false, 1, 256, "stratégie\n"},
        {"French, Mac character set", 0x040C, false, 0, 256, "stratégie\n"},
        {"French, made on a Mac, saved on Windows", 0x040C, false, 1, 0, "stratŽgie\n"},
        {"French, unknown set, made on a Mac", 0x040C, false, 1, 7, "stratégie\n"},
        {"French, unknown set, made on Windows", 0x040C, false, 0, 7, "stratŽgie\n"},
    };
    for (const auto& c : cases) {
        Word6Builder b;
        b.lid = c.lid;
        b.savedOnMac = c.mac;
        b.envr = c.envr;
        b.chse = c.chse;
        b.main = "strat\x8Egie\r";
        EXPECT_EQ(ReadDocument(b.File()).text, c.expected) << c.name;
    }
    // Korean text keeps its code page wherever it was saved.
    Word6Builder k;
    k.savedOnMac = true;
    k.envr = 1;
    k.chse = 256;
    k.main = Cp949(u"홍길동\r");
    EXPECT_EQ(ReadDocument(k.File()).text, "홍길동\n");
}

TEST(Word6Reader, TwoByteTextAndComplexPieces)
{
    Word6Builder b;
    b.ident = 0x8098;
    b.main = Utf16Bytes(u"한국어 텍스트\r");
    EXPECT_EQ(ReadDocument(b.File()).text, "한국어 텍스트\n");

    Word6Builder c;
    c.main = "Hello brave new World\r";
    c.complex = true;
    Result r = ReadDocument(c.File());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.text, "Hello brave new World\n");
}

TEST(Word6Reader, FieldInstructionsAreLeftOutWhenMarked)
{
    Word6Builder b;
    b.main = std::string("a\x13 HYPERLINK x \x14link\x15 b\r");
    b.specialCps = {1, 15, 20};
    ASSERT_EQ(b.main[1], '\x13');
    ASSERT_EQ(b.main[15], '\x14');
    ASSERT_EQ(b.main[20], '\x15');
    EXPECT_EQ(ReadDocument(b.File()).text, "alink b\n");

    // Unmarked, the marks are plain characters and the instruction stays.
    b.specialCps.clear();
    EXPECT_EQ(ReadDocument(b.File()).text, "a HYPERLINK x link b\n");
}

TEST(Word6Reader, HeadersFootnotesAndTextBoxes)
{
    Word6Builder b;
    b.main = "Body\r";
    b.footnotes = "Note\r";
    // Header stories: an empty one (two marks), a header, a footer.
    b.headers = std::string("\r\r") + "Head\r\r" + "Foot\r\r";
    b.headerPlc = {0, 2, 8, 14};
    b.textboxes = "Box\r";
    Result r = ReadDocument(b.File());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.text, "Head\n\nFoot\n\nBody\nNote\nBox\n");
}

TEST(Word6Reader, NotesFollowTheirReferenceMarks)
{
    // Two footnotes, one endnote and one annotation referenced in the body.
    // \x02 is the automatic reference mark; "*" a custom one.
    Word6Builder b;
    b.styles = true;
    b.main = std::string("One\x02 two* three\x02 four\x05 five\x02.\r");
    b.refCps = {{3, 0}, {8, 0}, {15, 1}, {21, 2}, {27, 0}};
    b.footnotes = std::string("\x02 FA\r\x02 FB\r\r");
    b.footnotePlc = {0, 5, 10, 11};
    b.endnotes = std::string("\x02 EA\r\r");
    b.endnotePlc = {0, 5, 6};
    b.annotations = std::string("\x05 AA\r\r");
    b.annotationPlc = {0, 5, 6};
    // The mark inside the second footnote refers to nothing more.
    b.refCps.push_back({static_cast<std::uint32_t>(b.main.size() + 5), 0});
    Result r = ReadDocument(b.File());
    ASSERT_TRUE(r.ok);
    // The third footnote reference finds only the closing mark of the story;
    // the reference inside a note places nothing; the custom mark, being
    // special, is not written.
    EXPECT_EQ(r.text, "One FA\n two FB\n three EA\n four AA\n five\n.\n"
                      "\n\n");  // closing marks of the annotation and endnote stories

    // Without the reference styles, the notes follow the main text.
    b.styles = false;
    r = ReadDocument(b.File());
    EXPECT_EQ(r.text, "One two three four five.\n FA\n FB\n\n AA\n\n EA\n\n");

    // Without position tables, the whole stories follow, as before.
    b.styles = true;
    b.footnotePlc.clear();
    b.endnotePlc.clear();
    b.annotationPlc.clear();
    r = ReadDocument(b.File());
    EXPECT_EQ(r.text, "One two three four five.\n FA\n FB\n\n AA\n\n EA\n\n");
}

TEST(Word6Reader, TableRowEndMarksWriteNothing)
{
    // Two rows of two cells, each row closed by its row-end mark.
    Word6Builder b;
    b.main = std::string("Name\x07Phone\x07\x07Kim\x07" "010-1234-5678\x07\x07" "After\r");
    b.rowEndCps = {11, 30};
    ASSERT_EQ(b.main[11], '\x07');
    ASSERT_EQ(b.main[30], '\x07');
    EXPECT_EQ(ReadDocument(b.File()).text, "Name\nPhone\nKim\n010-1234-5678\nAfter\n");

    // The same marks in paragraphs without table properties stay line ends.
    b.rowEndCps.clear();
    EXPECT_EQ(ReadDocument(b.File()).text, "Name\nPhone\n\nKim\n010-1234-5678\n\nAfter\n");
}

// A drawing primitive {kind, size} padded to size bytes.
std::string Primitive(std::uint16_t kind, std::uint16_t size = 8)
{
    std::string p;
    Put16(p, 0, kind);
    Put16(p, 2, size);
    Pad(p, size);
    return p;
}

// A group: its members start 14 bytes into the record; 15 bytes close it.
std::string Group(const std::string& members)
{
    std::string g = Primitive(0x1900, 14) + members + std::string(15, '\0');
    Put16(g, 2, static_cast<std::uint16_t>(g.size()));
    return g;
}

TEST(Word6Reader, TextBoxesAtTheirDrawingAnchors)
{
    // Anchor characters (8, special) at 1, 3, 5 and 7 of the main text.
    Word6Builder base;
    base.main = std::string("A\x08" "B\x08" "C\x08" "D\x08" "E\r");
    base.textboxes = "one\rtwo\rthree\r";
    base.textBoxPlc = {0, 4, 8, 14};
    const std::string rect = Primitive(3, 20);
    struct Case {
        const char* what;
        std::vector<std::string> objects;  // one per anchor, from the first
        const char* expected;
    };
    const Case cases[] = {
        {"one text box per object, in anchor order",
         {Primitive(2), Primitive(0x402)},
         "Aone\nBtwo\nCDE\nthree\n"},
        {"a group with a rectangle and a text box writes the box once; a callout takes the next",
         {Group(rect + Primitive(2)), Primitive(7, 12)},
         "Aone\nBtwo\nCDE\nthree\n"},
        {"an unknown first primitive writes nothing and uses no text box",
         {Primitive(0x77) + Primitive(2), Primitive(2)},
         "ABone\nCDE\ntwo\nthree\n"},
        {"two text boxes in one object, the shapes between them skipped",
         {Primitive(2) + rect + Primitive(0x806) + Primitive(2)},
         "Aone\ntwo\nBCDE\nthree\n"},
        {"a zero-length primitive ends its object",
         {Primitive(2) + Primitive(2, 0) + Primitive(2), Primitive(2)},
         "Aone\nBtwo\nCDE\nthree\n"},
        {"0x108 is skipped in a group and ends the walk outside one",
         {Group(Primitive(0x108) + Primitive(2)), Primitive(0x108) + Primitive(2)},
         "Aone\nBCDE\ntwo\nthree\n"},
        {"more text boxes than ranges: the extra ones write nothing",
         {Primitive(2) + Primitive(2) + Primitive(2), Primitive(2), Primitive(2)},
         "Aone\ntwo\nthree\nBCDE\n"},
    };
    for (const Case& c : cases) {
        Word6Builder b = base;
        for (size_t i = 0; i < c.objects.size(); ++i)
            b.drawings.push_back({static_cast<std::uint32_t>(1 + 2 * i), c.objects[i]});
        // The anchors past the table's entries (5, 7) are special characters
        // without an entry: they write nothing.
        for (std::uint32_t cp = static_cast<std::uint32_t>(1 + 2 * c.objects.size()); cp < 8; cp += 2)
            b.specialCps.push_back(cp);
        Result r = ReadDocument(b.File());
        ASSERT_TRUE(r.ok) << c.what;
        EXPECT_EQ(r.text, c.expected) << c.what;
    }

    // Nested groups deeper than the reader follows, and an object whose size
    // runs past the stream, end cleanly.
    std::string deep = Primitive(2);
    for (int k = 0; k < 40; ++k)
        deep = Group(deep);
    Word6Builder b = base;
    b.drawings = {{1, deep}, {3, Primitive(2)}};
    b.specialCps = {5, 7};
    Result r = ReadDocument(b.File());
    EXPECT_EQ(r.text, "ABone\nCDE\ntwo\nthree\n");

    // A two-byte document places its text boxes the same way.
    Word6Builder wide = base;
    wide.ident = 0x8098;
    wide.main = Utf16Bytes(u"가\x08나\r");
    wide.textboxes = Utf16Bytes(u"상자\r");
    wide.textBoxPlc = {0, 3};
    wide.drawings = {{1, Primitive(2)}};
    EXPECT_EQ(ReadDocument(wide.File()).text, "가상자\n나\n");
}

std::string CellDefinition(const std::vector<std::uint16_t>& flags)
{
    // Code 190: length, cell count, count + 1 boundaries, 10-byte descriptors.
    std::string op;
    op += static_cast<char>(flags.size());
    for (size_t k = 0; k <= flags.size(); ++k) {
        std::string b;
        Put16(b, 0, static_cast<std::uint16_t>(1000 * k));
        op += b;
    }
    for (std::uint16_t f : flags) {
        std::string tc(10, '\0');
        Put16(tc, 0, f);
        op += tc;
    }
    std::string code = "\xBE";
    Put16(code, 1, static_cast<std::uint16_t>(op.size()));
    return code + op;
}

TEST(Word6Reader, MergedAndExtraTableCellsWriteNothing)
{
    // Rows of three cells; each cell ends at 7, each row at its row-end mark.
    Word6Builder base;
    base.main = std::string("a1\x07" "b1\x07" "c1\x07\x07" "a2\x07" "b2\x07" "c2\x07\x07" "After\r");
    base.tables = {{0, 20}};
    base.rowEndCps = {9, 19};
    ASSERT_EQ(base.main[9], '\x07');
    ASSERT_EQ(base.main[19], '\x07');
    struct Case {
        const char* what;
        std::string row1, row2;  // codes after the row end's own
        const char* expected;
    };
    const Case cases[] = {
        {"no cell definitions: every cell", "", "", "a1\nb1\nc1\na2\nb2\nc2\nAfter\n"},
        {"a middle cell merged into the cell above",
         CellDefinition({0, 0x60, 0}), CellDefinition({0, 0x20, 0}),
         "a1\nb1\nc1\na2\nc2\nAfter\n"},
        {"the first cell of a merge is written", CellDefinition({0x60, 0x60, 0x60}),
         CellDefinition({0x60, 0, 0x40}), "a1\nb1\nc1\na2\nb2\nc2\nAfter\n"},
        {"cells beyond the row's count", CellDefinition({0, 0}), CellDefinition({0}),
         "a1\nb1\na2\nAfter\n"},
        {"vertical-merge edit (cell 2 continues, cell 0 starts)", CellDefinition({0, 0, 0}),
         CellDefinition({0, 0, 0}) + std::string("\xCC\x04\x02\x01\x00\x03", 6),
         "a1\nb1\nc1\na2\nb2\nAfter\n"},
        {"insert a merged cell before the first, then delete the last",
         CellDefinition({0, 0, 0}),
         CellDefinition({0x20, 0}) + std::string("\xC2\x01\x01\x00\x00", 5) + std::string("\xC3\x02\x03", 3) +
             std::string("\xCC\x02\x00\x01", 4),
         "a1\nb1\nc1\nb2\nAfter\n"},
        {"edits outside the row are ignored", CellDefinition({0, 0, 0}),
         CellDefinition({0, 0, 0}) + std::string("\xC2\x05\x01\x00\x00", 5) + std::string("\xC3\x02\x09", 3) +
             std::string("\xCC\x02\x07\x01", 4),
         "a1\nb1\nc1\na2\nb2\nc2\nAfter\n"},
    };
    for (const Case& c : cases) {
        Word6Builder b = base;
        if (!c.row1.empty())
            b.rowEndLists[9] = c.row1;
        if (!c.row2.empty())
            b.rowEndLists[19] = c.row2;
        EXPECT_EQ(ReadDocument(b.File()).text, c.expected) << c.what;
    }

    // A cell of two paragraphs is one cell; the same rows stored as two
    // pieces in reverse order read the same.
    Word6Builder two = base;
    two.main = std::string("a1\rmore\x07" "b1\x07\x07" "a2\x07" "b2\x07\x07" "End\r");
    two.tables = {{0, 19}};
    two.rowEndCps = {11, 18};
    two.rowEndLists.clear();
    two.rowEndLists[11] = CellDefinition({0x60, 0});
    two.rowEndLists[18] = CellDefinition({0x20, 0});
    EXPECT_EQ(ReadDocument(two.File()).text, "a1\nmore\nb1\nb2\nEnd\n");
    two.complex = true;
    EXPECT_EQ(ReadDocument(two.File()).text, "a1\nmore\nb1\nb2\nEnd\n");
}

TEST(Word6Reader, IdentifiersAndRefusals)
{
    ps_test::TempDir dir;
    Word6Builder b;
    b.main = "x\r";
    const std::string path = dir.file("a.doc");
    ASSERT_TRUE(ps_test::WriteFileBytes(path, b.File()));
    EXPECT_TRUE(IsWord6File(plat::PathFromNative(path).c_str()));
    std::u16string out;
    CTextCollector collector;
    collector.SetOutput(&out);
    CMSWord2Text reader(&collector);
    EXPECT_TRUE(reader.Convert(plat::PathFromNative(path).c_str()));
    EXPECT_EQ(plat::WideToUtf8(out), "x\n");

    Word6Builder w97 = b;
    w97.ident = 0xA5EC;
    ASSERT_TRUE(ps_test::WriteFileBytes(path, w97.File()));
    EXPECT_FALSE(IsWord6File(plat::PathFromNative(path).c_str()));
    EXPECT_FALSE(reader.Convert(plat::PathFromNative(path).c_str()));

    Word6Builder enc = b;
    enc.encrypted = true;
    Result r = ReadDocument(enc.File());
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.text.empty());

    EXPECT_FALSE(IsWord6File(plat::PathFromNative(dir.file("missing.doc")).c_str()));
    ASSERT_TRUE(ps_test::WriteFileBytes(path, "not a compound file"));
    EXPECT_FALSE(reader.Convert(plat::PathFromNative(path).c_str()));
}

TEST(Word6Reader, DamagedTablesEndCleanly)
{
    Word6Builder b;
    b.main = "Hello\x07there\x07\r";
    b.footnotes = "fn\r";
    b.complex = true;
    b.specialCps = {3};
    // Style sheet, note positions and paragraph runs are damaged too.
    b.styles = true;
    b.refCps = {{2, 0}};
    b.footnotePlc = {0, 3};
    b.rowEndCps = {11};
    const std::string good = b.Stream();
    std::mt19937 rng(1234);
    for (int round = 0; round < 400; ++round) {
        std::string s = good;
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits; ++e) {
            size_t at = rng() % s.size();
            if (rng() % 3 == 0 && at >= 0x18 && at < 0x200) {
                // Table positions and sizes: large values.
                Put32(s, at & ~size_t(3), rng() % 2 ? 0xFFFFFFF0u : static_cast<std::uint32_t>(rng() % 4096));
            } else {
                s[at] = static_cast<char>(rng());
            }
        }
        if (rng() % 5 == 0)
            s.resize(rng() % s.size());
        Put16(s, 0, 0xA5DC);
        ps_test::CfbWriter w(3);
        w.AddStream(u"WordDocument", s);
        ReadDocument(w.Build());  // no fault, no hang
    }
}

TEST(Word6Reader, CorpusDocumentsGiveText)
{
    const std::string corpus = ps_test::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    int seen = 0;
    for (const char* folder : {"/public/word6", "/public/word95"}) {
        std::error_code ec;
        for (const auto& f : std::filesystem::directory_iterator(corpus + folder, ec)) {
            std::u16string out;
            CTextCollector collector;
            collector.SetOutput(&out);
            CMSWord2Text reader(&collector);
            const std::u16string path = plat::PathFromNative(f.path().string());
            if (!IsWord6File(path.c_str()))
                continue;
            ++seen;
            EXPECT_TRUE(reader.Convert(path.c_str())) << f.path();
            EXPECT_GT(out.size(), 20u) << f.path();
        }
    }
    EXPECT_GT(seen, 0);
}

}  // namespace

namespace {

TEST(Word6Entry, WordEntryReadsWord6AndRtfSavedUnderAWordName)
{
    ps_test::TempDir dir;
    Word6Builder b;
    b.main = Cp949(u"주민번호 800101-1234567\r");
    const std::string w6 = dir.file("w6.doc");
    ASSERT_TRUE(ps_test::WriteFileBytes(w6, b.File()));
    const std::string rtf = dir.file("rtf.doc");
    ASSERT_TRUE(ps_test::WriteFileBytes(rtf, "{\\rtf1\\ansi{\\fonttbl{\\f0 A;}}\\pard 010\\_1234\\_5678\\par}"));

    InitializeLibrary();
    std::u16string out;
    EXPECT_EQ(ConvertWordToText(plat::PathFromNative(w6).c_str(), u"xml:false", &out), EntryResult::Read);
    EXPECT_EQ(plat::WideToUtf8(out), "주민번호 800101-1234567\n");
    out.clear();
    EXPECT_EQ(ConvertWordToText(plat::PathFromNative(rtf).c_str(), u"xml:false", &out), EntryResult::Read);
    EXPECT_EQ(plat::WideToUtf8(out), "010-1234-5678\n");
    FinalizeLibrary();
}

}  // namespace
