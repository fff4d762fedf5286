// The HWP 2.x/3.x readers over files built here: paragraphs, special
// characters with nested lists, compressed bodies, encryption kinds and
// damaged files.
#include <gtest/gtest.h>

#include <string>

#include "extract/extractlib.h"
#include "extract/hwp/hwpdocmanager.h"
#include "extract/hwp/hwpoldarchive.h"
#include "extract/libstring.h"
#include "platform/text.h"
#include "support/isolation.h"
#include "tests/extract/hwp/hwp_builder.h"

using namespace hwp_test;

namespace {

struct Result {
    int status;
    std::u16string text;
};

Result Convert(const OldDocument& doc)
{
    ps_test::TempDir dir;
    const std::string path = dir.file("old.hwp");
    EXPECT_TRUE(ps_test::WriteFileBytes(path, doc.Build()));
    Result r;
    r.status = static_cast<int>(ConvertHwpToText(plat::PathFromNative(path).c_str(), nullptr, &r.text));
    return r;
}

std::vector<std::uint16_t> operator+(std::vector<std::uint16_t> a, const std::vector<std::uint16_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<std::uint16_t> kEnd = {13};

}  // namespace

TEST(HwpOld, GenerationsAreRecognisedBySignature)
{
    ps_test::TempDir dir;
    CHwpDocumentManager manager;
    const std::pair<Old, int> cases[] = {{Old::V20, 2}, {Old::V21, 3}, {Old::V30, 4}};
    for (auto [g, expected] : cases) {
        OldDocument d;
        d.generation = g;
        const std::string path = dir.file("g.hwp");
        ASSERT_TRUE(ps_test::WriteFileBytes(path, d.Build()));
        EXPECT_EQ(manager.IsFormat(plat::PathFromNative(path).c_str()), expected);
        // Cut inside the signature: no generation.
        ASSERT_TRUE(ps_test::WriteFileBytes(path, d.Build().substr(0, 29)));
        EXPECT_EQ(manager.IsFormat(plat::PathFromNative(path).c_str()), 0);
    }
}

TEST(HwpOld, TabsBreakLinesBeforeV30AndHangulComesFromJohab)
{
    // a b, a tab (code and three units), c d, the paragraph end.
    const std::vector<std::uint16_t> tabbed = Codes("ab") + std::vector<std::uint16_t>{9, 0, 0, 9} + Codes("cd") + kEnd;
    struct Case {
        Old generation;
        bool compressed;
        std::u16string expected;
    };
    const Case cases[] = {
        {Old::V20, false, u"ab\ncd\n"},
        {Old::V21, false, u"ab\ncd\n"},
        {Old::V21, true, u"ab\ncd\n"},
        // V3.00 keeps a tab on the line: the words either side stay apart.
        {Old::V30, false, u"ab\tcd\n"},
        {Old::V30, true, u"ab\tcd\n"},
    };
    for (const Case& c : cases) {
        OldDocument d;
        d.generation = c.generation;
        d.compressed = c.compressed;
        d.infoBlock = c.generation == Old::V20 ? "" : "info";
        d.paragraphs = OldPara(c.generation, tabbed) + OldPara(c.generation, kEnd) +
                       OldPara(c.generation, std::vector<std::uint16_t>{0x41, 0x8861, 0x4E00, 0x42, 13});
        Result r = Convert(d);
        EXPECT_EQ(r.status, 0) << static_cast<int>(c.generation) << c.compressed;
        EXPECT_EQ(plat::WideToUtf8(r.text), plat::WideToUtf8(c.expected + u"\n" + u"A가濟B\n"))
            << static_cast<int>(c.generation) << c.compressed;
    }
}

// The format's own symbol codes come out as their characters, so that the
// words and numbers on either side stay apart; a code without a character
// becomes a blank.
TEST(HwpOld, SymbolsAndHanjaKeepTheirPlace)
{
    std::vector<std::uint16_t> codes;
    auto add = [&codes](std::initializer_list<std::uint16_t> list) { codes.insert(codes.end(), list); };
    add({0xA685, 0xACE2, 0x3404, 0xBBA5, 0x9465});      // 분석·진단
    add({0x20, 0x341C, 0x31, 0x341D, 0x20});             // 【1】
    add({0x3438, 0x343B, 0x25A1, 0x3479, 0x20});          // ※○□▷
    add({0x3590, 0x2D, 0x3594, 0x20});                    // Ⅰ-Ⅴ
    add({0x81, 0x41, 0x82, 0x83, 0x42, 0x84, 0x20});      // “A”‘B’
    add({0x38, 0x30, 0x3404, 0x31, 0x1234, 0x32, 0x20});  // digits kept apart
    add({0x4388, 0x4507, 0x4CAC, 13});                    // 代理人
    for (bool compressed : {false, true}) {
        OldDocument d;
        d.compressed = compressed;
        d.infoBlock = "info";
        d.paragraphs = OldPara(Old::V30, codes);
        Result r = Convert(d);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(plat::WideToUtf8(r.text), "분석·진단 【1】 ※○□▷ Ⅰ-Ⅴ “A”‘B’ 80·1\u30002 代理人\n") << compressed;
    }
}

TEST(HwpOld, TableCellsAndNotesAreReadWhereTheyStand)
{
    // V3.00 box: 6 and 78 bytes, a value, the cell count, 2 bytes, 27 per cell,
    // a list per cell and the caption list.
    std::string box = Zeros(6 + 78);
    Le16(box, 0);
    Le16(box, 2);
    box += Zeros(2 + 2 * 27);
    box += OldPara(Old::V30, Codes("x") + kEnd) + OldEnd(Old::V30);
    box += OldPara(Old::V30, Codes("y") + kEnd) + OldEnd(Old::V30);
    box += OldEnd(Old::V30);  // no caption
    std::string para = OldPara(Old::V30, {}, 1 + 4 + 1);  // t, the box (4 positions), 13
    std::string codes;
    Le16(codes, 't');
    Le16(codes, 10);
    codes += box;
    Le16(codes, 13);
    OldDocument d;
    d.paragraphs = para + codes;
    Result r = Convert(d);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, u"t\nx\ny\n\n");

    // A footnote (code 17: 20 bytes and a list) in a V2.10 paragraph.
    std::string note = OldPara(Old::V21, {}, 2 + 4 + 1);
    Le16(note, 'o');
    Le16(note, 'k');
    Le16(note, 17);
    note += Zeros(20) + OldPara(Old::V21, Codes("fn") + kEnd) + OldEnd(Old::V21);
    Le16(note, 13);
    d = OldDocument();
    d.generation = Old::V21;
    d.paragraphs = note;
    r = Convert(d);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, u"ok\nfn\n\n");
}

TEST(HwpOld, EncryptionKindsAndStyleCounts)
{
    struct Case {
        const char* name;
        OldDocument doc;
        int status;
        bool text;
    };
    std::vector<Case> cases;
    auto add = [&cases](const char* name, auto edit, int status, bool text) {
        OldDocument d;
        d.paragraphs = OldPara(d.generation, Codes("text") + kEnd);
        edit(d);
        cases.push_back({name, d, status, text});
    };
    add("plain", [](OldDocument&) {}, 0, true);
    add("kind 1: value 1, sub-revision 0", [](OldDocument& d) { d.encryption = 1; }, 0, true);
    add("kind 2: value 2, sub-revision 1",
        [](OldDocument& d) {
            d.encryption = 2;
            d.subRevision = 1;
        },
        1, false);
    add("kind 3: value 5, sub-revision 1",
        [](OldDocument& d) {
            d.encryption = 5;
            d.subRevision = 1;
        },
        1, false);
    add("V2.00 with 161 styles",
        [](OldDocument& d) {
            d.generation = Old::V20;
            d.styles = 161;
            d.paragraphs = OldPara(Old::V20, Codes("text") + kEnd);
        },
        0, false);
    add("V2.10 with no style",
        [](OldDocument& d) {
            d.generation = Old::V21;
            d.styles = 0;
            d.paragraphs = OldPara(Old::V21, Codes("text") + kEnd);
        },
        0, false);
    for (const Case& c : cases) {
        Result r = Convert(c.doc);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.text, c.text ? u"text\n" : u"") << c.name;
    }
}

TEST(HwpOld, DamagedFilesEnd)
{
    // Cut inside a paragraph's characters: the text up to the cut stays, the
    // document counts as not read.
    OldDocument d;
    d.paragraphs = OldPara(Old::V30, Codes("kept") + kEnd) + OldPara(Old::V30, Codes("lost"), 400);
    d.endList = false;
    Result r = Convert(d);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.text, u"kept\nlost");

    // A list that the data leaves without its end.
    d.paragraphs = OldPara(Old::V30, Codes("kept") + kEnd);
    r = Convert(d);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, u"kept\n");

    // Lengths whose 32-bit sum would wrap around to a small value.
    std::string field = OldPara(Old::V30, {}, 1 + 4 + 1);
    Le16(field, 'a');
    Le16(field, 5);
    field += Zeros(6 + 2 + 4 + 2 + 22);
    Le32(field, 0xFFFFFFFFu);
    Le32(field, 0xFFFFFFFFu);
    Le32(field, 2u);
    Le32(field, 2u);
    field += OldPara(Old::V30, Codes("hidden") + kEnd);
    d.paragraphs = field;
    d.endList = true;
    r = Convert(d);
    EXPECT_EQ(r.text.find(u"hidden"), std::u16string::npos);
    EXPECT_EQ(r.text.substr(0, 2), u"a\n");

    // Notes nested far deeper than any real document.
    std::string nested = OldPara(Old::V21, Codes("deep") + kEnd) + OldEnd(Old::V21);
    for (int i = 0; i < 100; ++i) {
        std::string outer = OldPara(Old::V21, {}, 4 + 1);
        Le16(outer, 17);
        outer += Zeros(20) + nested;
        Le16(outer, 13);
        nested = outer + OldEnd(Old::V21);
    }
    d = OldDocument();
    d.generation = Old::V21;
    d.paragraphs = nested;
    r = Convert(d);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.text.find(u"deep"), std::u16string::npos);

    // A compressed body that breaks off.
    d = OldDocument();
    d.compressed = true;
    d.paragraphs = OldPara(Old::V30, Codes("zipped") + kEnd);
    std::string bytes = d.Build();
    bytes.resize(bytes.size() - 20);
    ps_test::TempDir dir;
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("cut.hwp"), bytes));
    std::u16string text;
    const int status = static_cast<int>(ConvertHwpToText(plat::PathFromNative(dir.file("cut.hwp")).c_str(), nullptr, &text));
    EXPECT_TRUE(status == 0 || status == 1) << status;
}

TEST(HwpOld, MutatedFilesEndWithAStatus)
{
    std::string box = Zeros(6 + 78);
    Le16(box, 0);
    Le16(box, 1);
    box += Zeros(2 + 27);
    box += OldPara(Old::V30, Codes("cell") + kEnd) + OldEnd(Old::V30) + OldEnd(Old::V30);
    std::string para = OldPara(Old::V30, {}, 1 + 4 + 4 + 1);
    Le16(para, 't');
    Le16(para, 10);
    para += box;
    Le16(para, 9);
    para += Zeros(6);
    Le16(para, 13);
    for (bool compressed : {false, true}) {
        OldDocument d;
        d.compressed = compressed;
        d.paragraphs = para + OldPara(Old::V30, std::vector<std::uint16_t>{0xB0A1, 0x8861, 13});
        const std::string whole = d.Build();
        unsigned seed = compressed ? 99u : 7u;
        auto next = [&seed]() {
            seed = seed * 1103515245u + 12345u;
            return (seed >> 16) & 0x7FFF;
        };
        ps_test::TempDir dir;
        const std::string path = dir.file("m.hwp");
        for (int round = 0; round < 200; ++round) {
            std::string damaged = whole;
            for (int k = 0; k < 3; ++k) {
                // Past the signature, so the generation stays.
                const size_t at = 30 + next() % (damaged.size() - 30);
                damaged[at] = static_cast<char>(next() % 3 == 0 ? 0xFF : next());
            }
            ASSERT_TRUE(ps_test::WriteFileBytes(path, damaged));
            std::u16string text;
            const int status = static_cast<int>(ConvertHwpToText(plat::PathFromNative(path).c_str(), nullptr, &text));
            ASSERT_TRUE(status == 0 || status == 1) << status;
        }
    }
}
