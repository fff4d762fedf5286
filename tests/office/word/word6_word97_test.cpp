// The Word 6/95 reader's Word 97 generation, over Word 97 documents made by
// the tests' builder: tables in the table stream, pieces of one or two bytes
// per character, two-byte property codes, merged cells, and pictures and
// embedded objects of the "Data" stream that never reach the text.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "support/docbuilder.h"
#include "extract/textcollector.h"
#include "office/word/word6text.h"
#include "platform/cfb.h"
#include "platform/text.h"
#include "support/cfb_writer.h"
#include "support/isolation.h"

using ps_test::Le16s;
using ps_test::Le32s;
using ps_test::WordDocBuilder;

namespace {

struct Result {
    bool ok = false;
    std::string text;
    PictureCounters pictures;
};

Result ReadFile(const std::string& file)
{
    Result r;
    plat::CfbPtr<plat::CfbStorage> root;
    if (plat::Failed(plat::CfbOpenStorageOnMemory(file, root.put())))
        return r;
    std::u16string out;
    CTextCollector collector;
    collector.SetOutput(&out);
    CMSWord2Text reader(&collector);
    r.ok = reader.ConvertStorage(root.get());
    r.text = plat::WideToUtf8(out);
    r.pictures = reader.Pictures();
    return r;
}

std::uint32_t Get32(const std::string& s, size_t at)
{
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k)
        v = (v << 8) | static_cast<unsigned char>(s[at + k]);
    return v;
}

// The compound file of a built document, its bin tables pointing at the
// stream positions their pages cover (the builder writes character
// positions there); the "Data" stream and an embedded object storage when
// asked for.
std::string FileOf(WordDocBuilder& b, bool withObject = false)
{
    b.Build();
    const std::string word = b.WordDocument();
    std::string table = b.Table();
    for (size_t fibAt : {size_t(0xFA), size_t(0x102)}) {
        const std::uint32_t bin = Get32(word, fibAt);
        const size_t page = static_cast<size_t>(Get32(table, bin + 8)) * 512;
        const int crun = static_cast<unsigned char>(word[page + 511]);
        table.replace(bin, 4, word.substr(page, 4));
        table.replace(bin + 4, 4, word.substr(page + 4 * crun, 4));
    }
    ps_test::CfbWriter w(3);
    w.AddStream(u"WordDocument", word);
    w.AddStream(b.whichTable ? u"1Table" : u"0Table", table);
    if (!b.dataStream.empty())
        w.AddStream(u"Data", b.dataStream);
    if (withObject)
        w.AddStream(u"ObjectPool/_7/\x01Ole", "ole");
    return w.Build();
}

// Two-byte property codes.
std::string Code(std::uint16_t code, const std::string& operand)
{
    return Le16s(code) + operand;
}
const std::string kSpecial = Code(0x0855, "\x01");
const std::string kOleObject = Code(0x080A, "\x01");
std::string PictureAt(std::uint32_t position)
{
    return Code(0x6A03, Le32s(position));
}
const std::string kInTable = Code(0x2416, "\x01");
const std::string kRowEnd = Code(0x2417, "\x01");

// A table definition: cell count, boundaries, 20-byte cell descriptors.
std::string CellDefinition(const std::vector<std::uint16_t>& flags)
{
    std::string op(1, static_cast<char>(flags.size()));
    for (size_t k = 0; k <= flags.size(); ++k)
        op += Le16s(static_cast<std::uint16_t>(1000 * k));
    for (std::uint16_t f : flags)
        op += Le16s(f) + std::string(18, '\0');
    return Le16s(0xD608) + Le16s(static_cast<std::uint16_t>(op.size() + 1)) + op;
}

// A picture block of the "Data" stream: header, shape container, blip store
// entry, PNG blip.
std::string PictureBlock()
{
    auto rec = [](int type, int instance, const std::string& body) {
        return Le16s(static_cast<std::uint16_t>(instance << 4)) + Le16s(static_cast<std::uint16_t>(type)) +
               Le32s(static_cast<std::uint32_t>(body.size())) + body;
    };
    std::string data = rec(0xF004, 0xF, rec(0xF00A, 75, Le32s(1025) + Le32s(0xA00)));
    data += rec(0xF007, 0, std::string(36, '\0'));
    data += rec(0xF01E, 0x6E0, std::string("\x89PNG\r\n\x1a\n", 8) + std::string(40, 'p'));
    std::string block(68, '\0');
    block.replace(0, 4, Le32s(static_cast<std::uint32_t>(68 + data.size())));
    block.replace(4, 2, Le16s(68));
    return block + data;
}

TEST(Word6ReaderWord97, TextOfBothPieceKindsAndTheTableStream)
{
    // A single-byte piece gives each byte's value; paragraphs end lines.
    WordDocBuilder b;
    b.mainText = u"caf\u00e9 one\rtwo\u00a0three\tfour\r";
    Result r = ReadFile(FileOf(b));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.text, "caf\u00e9 one\ntwothree\tfour\n");

    // Two-byte text in two pieces, tables in "1Table".
    WordDocBuilder wide;
    wide.compressed = false;
    wide.whichTable = true;
    wide.mainText = u"홍길동 010-1234-5678\r둘째\r";
    wide.pieces = {{0, 5}, {5, 21}};
    r = ReadFile(FileOf(wide));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.text, "홍길동 010-1234-5678\n둘째\n");

    // Refused by the Word 6/95 probe, read by Convert; without its table
    // stream the document does not open.
    ps_test::TempDir dir;
    const std::string path = dir.file("w97.doc");
    ASSERT_TRUE(ps_test::WriteFileBytes(path, FileOf(b)));
    CMSWord2Text probe(nullptr);
    EXPECT_FALSE(probe.IsWord6File(plat::PathFromNative(path).c_str()));
    std::u16string out;
    CTextCollector collector;
    collector.SetOutput(&out);
    CMSWord2Text reader(&collector);
    EXPECT_TRUE(reader.Convert(plat::PathFromNative(path).c_str()));
    EXPECT_EQ(plat::WideToUtf8(out), "caf\u00e9 one\ntwothree\tfour\n");
    ps_test::CfbWriter w(3);
    w.AddStream(u"WordDocument", b.WordDocument());
    EXPECT_FALSE(ReadFile(w.Build()).ok);
}

TEST(Word6ReaderWord97, FieldsAndTwoByteCodes)
{
    // Field begin, instruction, separator, result, end: the marks are
    // special; an unknown code before the special code costs one byte.
    WordDocBuilder b;
    b.mainText = u"a\x13 PAGE \x14" u"7\x15 b\r";
    b.charRuns = {{0, 1, ""},
                  {1, 2, Le16s(0x1234) + kSpecial},
                  {2, 8, ""},
                  {8, 9, kSpecial},
                  {9, 10, ""},
                  {10, 11, kSpecial},
                  {11, 14, ""}};
    EXPECT_EQ(ReadFile(FileOf(b)).text, "a7 b\n");

    // Without the special code the marks are dropped and the instruction stays.
    b.charRuns.clear();
    EXPECT_EQ(ReadFile(FileOf(b)).text, "a PAGE 7 b\n");
}

TEST(Word6ReaderWord97, MergedCellsWriteNothing)
{
    WordDocBuilder b;
    b.mainText = u"a1\x07" u"b1\x07\x07" u"a2\x07" u"b2\x07\x07" u"End\r";
    b.paraRuns = {{0, 3, kInTable},
                  {3, 6, kInTable},
                  {6, 7, kInTable + kRowEnd + CellDefinition({0x60, 0})},
                  {7, 10, kInTable},
                  {10, 13, kInTable},
                  {13, 14, kInTable + kRowEnd + CellDefinition({0x20, 0})},
                  {14, 18, ""}};
    EXPECT_EQ(ReadFile(FileOf(b)).text, "a1\nb1\nb2\nEnd\n");

    // A vertical-merge edit after the definition: the second row's second
    // cell continues the first row's.
    b.paraRuns[5].grpprl = kInTable + kRowEnd + CellDefinition({0, 0}) + Code(0xD62B, std::string("\x02\x01\x01", 3));
    EXPECT_EQ(ReadFile(FileOf(b)).text, "a1\nb1\na2\nEnd\n");
}

TEST(Word6ReaderWord97, PicturesAndEmbeddedObjectsReachNoText)
{
    // "x", then an embedded object field whose separator names object 7 and
    // whose result is the object's picture, then "y".
    const std::string block = PictureBlock();
    const std::uint32_t at = 16;
    WordDocBuilder b;
    b.mainText = u"x\x13 EMBED \x14\x01\x15y\r";
    b.charRuns = {{0, 1, ""},
                  {1, 2, kSpecial},
                  {2, 9, ""},
                  {9, 10, kSpecial + kOleObject + PictureAt(7)},
                  {10, 11, kSpecial + PictureAt(at)},
                  {11, 12, kSpecial},
                  {12, 14, ""}};
    b.dataStream = std::string(at, '\0') + block;
    auto file = [&](bool withObject) { return FileOf(b, withObject); };
    const std::string folder = PictureTempFolder();
    Result r = ReadFile(file(true));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.text, "xy\n");
    EXPECT_EQ(r.pictures.pictures, 1);
    EXPECT_EQ(r.pictures.objects, 1);

    // Without the object's storage the picture is saved, read back and removed.
    r = ReadFile(file(false));
    EXPECT_EQ(r.text, "xy\n");
    EXPECT_EQ(r.pictures.pictures, 1);
    EXPECT_EQ(r.pictures.objects, 0);
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::is_empty(folder, ec));

    // A picture position past the stream, or a block of 69 bytes or less,
    // is skipped.
    b.charRuns[4].grpprl = kSpecial + PictureAt(1u << 30);
    r = ReadFile(file(false));
    EXPECT_EQ(r.text, "xy\n");
    EXPECT_EQ(r.pictures.pictures, 0);
    b.charRuns[4].grpprl = kSpecial + PictureAt(at);
    b.dataStream = std::string(at, '\0') + Le32s(69) + block.substr(4);
    r = ReadFile(file(false));
    EXPECT_EQ(r.pictures.pictures, 0);
}

TEST(Word6ReaderWord97, DamagedDocumentsEndCleanly)
{
    WordDocBuilder b;
    b.mainText = u"Name\x07Kim\x07\x07 a\x13 x \x14y\x15 z\r";
    b.paraRuns = {{0, 5, kInTable},
                  {5, 9, kInTable},
                  {9, 10, kInTable + kRowEnd + CellDefinition({0x60, 0x20})},
                  {10, 22, ""}};
    b.charRuns = {{0, 12, ""}, {12, 13, kSpecial}, {13, 22, Le16s(0xC615) + "\xff\x02"}};
    b.dataStream = PictureBlock();
    plat::CfbPtr<plat::CfbStorage> root;
    ASSERT_FALSE(plat::Failed(plat::CfbOpenStorageOnMemory(FileOf(b), root.put())));
    auto streamOf = [&](const char16_t* name) {
        plat::CfbPtr<plat::CfbStream> st;
        std::string out;
        if (plat::Failed(root->OpenStream(name, plat::stg::kShareExclusive, st.put())))
            return out;
        char buf[4096];
        std::uint32_t got = 0;
        while (!plat::Failed(st->Read(buf, sizeof buf, &got)) && got > 0)
            out.append(buf, got);
        return out;
    };
    const std::string word = streamOf(u"WordDocument");
    const std::string table = streamOf(u"0Table");
    ASSERT_FALSE(word.empty());
    ASSERT_FALSE(table.empty());
    std::mt19937 rng(97);
    for (int round = 0; round < 300; ++round) {
        std::string wd = word;
        std::string tb = table;
        for (int e = 0; e < 6; ++e) {
            std::string& s = rng() % 2 ? wd : tb;
            const size_t at = rng() % s.size();
            if (&s == &wd && rng() % 3 == 0 && at < 0x300)
                s.replace(at & ~size_t(3), 4, Le32s(rng() % 2 ? 0xFFFFFFF0u : static_cast<std::uint32_t>(rng() % 4096)));
            else
                s[at] = static_cast<char>(rng());
        }
        wd.replace(0, 2, Le16s(0xA5EC));
        ps_test::CfbWriter w(3);
        w.AddStream(u"WordDocument", wd);
        w.AddStream(u"0Table", tb);
        w.AddStream(u"Data", b.dataStream);
        ReadFile(w.Build());  // no fault, no hang
    }
}

}  // namespace
