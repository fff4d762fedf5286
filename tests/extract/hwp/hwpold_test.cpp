// The HWP 2.x/3.x readers over files built here: paragraphs, special
// characters with nested lists, compressed bodies, encryption kinds and
// damaged files.
#include <gtest/gtest.h>

#include <string>

#include "extract/extractlib.h"
#include "extract/hwp/hwpdocmanager.h"
#include "extract/hwp/hwpoldarchive.h"
#include "extract/libstring.h"
#include "platform/docfile.h"
#include "platform/text.h"
#include "support/isolation.h"
#include "tests/extract/hwp/hwp_builder.h"

using namespace hwp_test;

namespace {

struct Result {
    int status;
    std::u16string text;
    std::string damage;  // the first reason of damage noted, empty when none
};

Result ConvertBytes(const std::string& bytes)
{
    ps_test::TempDir dir;
    const std::string path = dir.file("old.hwp");
    EXPECT_TRUE(ps_test::WriteFileBytes(path, bytes));
    Result r;
    plat::DamageScope scope;
    r.status = static_cast<int>(ConvertHwpToText(plat::PathFromNative(path).c_str(), nullptr, &r.text));
    r.damage = scope.Reason() ? scope.Reason() : "";
    return r;
}

Result Convert(const OldDocument& doc)
{
    return ConvertBytes(doc.Build());
}

std::vector<std::uint16_t> operator+(std::vector<std::uint16_t> a, const std::vector<std::uint16_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<std::uint16_t> kEnd = {13};

// Offsets of a paragraph header's fields in OldPara's bytes.
constexpr size_t kParaCount = 1;
constexpr size_t kParaShapes = 5;
constexpr size_t kParaStyle = 11;

std::string SetByte(std::string s, size_t at, unsigned value)
{
    s[at] = static_cast<char>(value);
    return s;
}

// A block of those that follow a V3.00 paragraph list: id, length, data.
std::string Block(std::uint32_t id, const std::string& data)
{
    std::string s;
    Le32(s, id);
    Le32(s, static_cast<std::uint32_t>(data.size()));
    return s + data;
}

// A damaged case: the document's status, its reason of damage (empty: none
// expected) and, when given, its text.
struct DamageCase {
    std::string name;
    std::string bytes;
    int status;
    std::string damage;
    const char16_t* text = nullptr;
};

void ExpectCases(const std::vector<DamageCase>& cases)
{
    for (const DamageCase& c : cases) {
        const Result r = ConvertBytes(c.bytes);
        EXPECT_EQ(r.status, c.status) << c.name << " (" << r.damage << ")";
        if (!c.damage.empty()) {
            EXPECT_EQ(r.damage, c.damage) << c.name;
        }
        if (c.status == 0) {
            EXPECT_EQ(r.damage, "") << c.name;
        }
        if (c.text) {
            EXPECT_EQ(plat::WideToUtf8(r.text), plat::WideToUtf8(c.text)) << c.name;
        }
    }
}

OldDocument TwoParagraphs(Old g)
{
    OldDocument d;
    d.generation = g;
    d.paragraphs = OldPara(g, Codes("first") + kEnd) + OldPara(g, Codes("second") + kEnd);
    return d;
}

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
    // A V2.x style count outside 1..160 is no style table: the body is not
    // read, and the document is damaged.
    add("V2.00 with 161 styles",
        [](OldDocument& d) {
            d.generation = Old::V20;
            d.styles = 161;
            d.paragraphs = OldPara(Old::V20, Codes("text") + kEnd);
        },
        1, false);
    add("V2.10 with no style",
        [](OldDocument& d) {
            d.generation = Old::V21;
            d.styles = 0;
            d.paragraphs = OldPara(Old::V21, Codes("text") + kEnd);
        },
        1, false);
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

    // A list that the data leaves without its end: the text stays, the
    // document is damaged.
    d.paragraphs = OldPara(Old::V30, Codes("kept") + kEnd);
    r = Convert(d);
    EXPECT_EQ(r.status, 1);
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

// A compressed body inflates to the end of its data and its check value (the
// CRC-32 and the length of the inflated bytes) matches; a body without any
// check value after its data is whole (some writers leave it off).
TEST(HwpOld, CompressedBodyIsDamagedWhenItDoesNotInflateOrFailsItsCheckValue)
{
    std::vector<DamageCase> cases;
    for (Old g : {Old::V21, Old::V30}) {
        const std::string tag = g == Old::V30 ? "V3.00 " : "V2.10 ";
        OldDocument d = TwoParagraphs(g);
        d.compressed = true;
        if (g == Old::V30)
            d.afterList = Block(1, "picture") + Block(0, "");
        const std::string whole = d.Build();
        const size_t check = d.Head().size() + RawDeflate(d.Body()).size();
        ASSERT_EQ(whole.size(), check + 8);
        cases.push_back({tag + "whole", whole, 0, "", u"first\nsecond\n"});
        OldDocument bare = d;
        bare.trailer = false;
        cases.push_back({tag + "without a check value", bare.Build(), 0, "", u"first\nsecond\n"});
        OldDocument more = d;
        more.afterBody = Block(0x80000000u, "abcd");
        const std::string followed = more.Build();
        cases.push_back({tag + "check value and more blocks after it", followed, 0, ""});
        std::string crc = whole;
        crc[check] ^= 0x40;
        cases.push_back({tag + "CRC changed", crc, 1, "검사값 불일치", u"first\nsecond\n"});
        std::string length = whole;
        length[check + 4] ^= 0x01;
        cases.push_back({tag + "length changed", length, 1, "검사값 불일치"});
        std::string crcFollowed = followed;
        crcFollowed[check + 2] ^= 0x10;
        cases.push_back({tag + "CRC changed, more blocks after it", crcFollowed, 1, "검사값 불일치"});
        cases.push_back({tag + "check value cut short", whole.substr(0, check + 3), 1, "검사값 불일치"});
        cases.push_back({tag + "data cut", whole.substr(0, check - 4), 1, "압축 스트림 손상"});
        std::string flipped = whole;
        for (size_t i = 0; i < 6; ++i)
            flipped[d.Head().size() + 3 + i] = static_cast<char>(0xFF);
        cases.push_back({tag + "data damaged", flipped, 1, ""});
    }
    ExpectCases(cases);
}

// The information block's length takes the reader to the body: one past the
// data, or one that disagrees with the block, leaves no body to read.
TEST(HwpOld, InformationBlockLengthPastTheDataOrWrongIsDamage)
{
    std::vector<DamageCase> cases;
    for (bool compressed : {false, true}) {
        const std::string tag = compressed ? "compressed, " : "";
        OldDocument d = TwoParagraphs(Old::V30);
        d.compressed = compressed;
        d.infoBlock = Zeros(6);
        cases.push_back({tag + "right", d.Build(), 0, "", u"first\nsecond\n"});
        for (int length : {0, 2, 5, 7, 12, 60000}) {
            OldDocument w = d;
            w.infoBlockLength = length;
            cases.push_back({tag + "length " + std::to_string(length), w.Build(), 1,
                             length == 60000 ? "길이가 데이터를 넘음" : ""});
        }
    }
    OldDocument v21 = TwoParagraphs(Old::V21);
    v21.infoBlock = "info";
    v21.infoBlockLength = 40000;
    cases.push_back({"V2.10 length past the data", v21.Build(), 1, "길이가 데이터를 넘음"});
    ExpectCases(cases);
}

// A paragraph's character count places its end (13) last and holds its
// special characters whole; a table's cell count names as many lists as
// follow it.
TEST(HwpOld, CountsThatDisagreeWithTheParagraphsAreDamage)
{
    std::vector<DamageCase> cases;
    const std::string second = OldPara(Old::V30, Codes("second") + kEnd);
    auto doc = [](const std::string& paragraphs) {
        OldDocument d;
        d.paragraphs = paragraphs;
        return d.Build();
    };
    cases.push_back({"character count one short", doc(OldPara(Old::V30, Codes("first") + kEnd, 5) + second), 1,
                     "문단 길이 불일치"});
    // The paragraph ends at its 13 all the same: the next one is read.
    cases.push_back({"character count one over", doc(OldPara(Old::V30, Codes("first") + kEnd, 7) + second), 1,
                     "문단 길이 불일치"});
    cases.push_back({"a tab past the count",
                     doc(OldPara(Old::V30, Codes("a") + std::vector<std::uint16_t>{9, 0, 0, 9} + kEnd, 3) + second),
                     1, "문단 길이 불일치"});

    // A table of two cells that says three.
    std::string box = Zeros(6 + 78);
    Le16(box, 0);
    Le16(box, 3);
    box += Zeros(2 + 3 * 27);
    box += OldPara(Old::V30, Codes("x") + kEnd) + OldEnd(Old::V30);
    box += OldPara(Old::V30, Codes("y") + kEnd) + OldEnd(Old::V30);
    box += OldEnd(Old::V30);
    std::string table = OldPara(Old::V30, {}, 1 + 4 + 1);
    Le16(table, 't');
    Le16(table, 10);
    table += box;
    Le16(table, 13);
    cases.push_back({"a table with a cell list fewer than its count", doc(table + second), 1, ""});
    // A paragraph naming a style the document does not have.
    cases.push_back({"style not there", doc(SetByte(OldPara(Old::V30, Codes("first") + kEnd), kParaStyle, 3) + second),
                     1, "참조된 스타일 없음", u"first\nsecond\n"});
    ExpectCases(cases);
}

// Per-character shapes: a byte per character, 1 keeping the shape before and
// 0 bringing a shape of its own. A paragraph whose flag says it has them and
// has none reads its text as that list.
TEST(HwpOld, CharacterShapeFlagWithoutItsListIsDamage)
{
    const std::string second = OldPara(Old::V30, Codes("second") + kEnd);
    const std::string plain = OldPara(Old::V30, Codes("abc") + kEnd);
    const size_t textAt = plain.size() - 4 * 2;
    std::string list = std::string("\x01\x00", 2) + Zeros(CharShapeSize(Old::V30)) + std::string("\x01\x01", 2);
    std::string shaped = SetByte(plain, kParaShapes, 1);
    shaped.insert(textAt, list);
    auto doc = [&second](const std::string& first) {
        OldDocument d;
        d.paragraphs = first + second;
        return d.Build();
    };
    std::vector<DamageCase> cases;
    cases.push_back({"flag and list", doc(shaped), 0, "", u"abc\nsecond\n"});
    cases.push_back({"flag without list", doc(SetByte(plain, kParaShapes, 1)), 1, "글자 모양 목록 손상"});
    cases.push_back({"list without flag", doc(SetByte(shaped, kParaShapes, 0)), 1, ""});
    ExpectCases(cases);
}

// A list ends with its end paragraph. Running out of bytes first, or an end
// paragraph misread from other bytes (which leaves a V3.00 body with bytes
// after its list that are no blocks), is damage.
TEST(HwpOld, ListEndedByTheDataOrByMisreadBytesIsDamage)
{
    std::vector<DamageCase> cases;
    for (bool compressed : {false, true}) {
        const std::string tag = compressed ? "compressed, " : "";
        OldDocument d = TwoParagraphs(Old::V30);
        d.compressed = compressed;
        OldDocument open = d;
        open.endList = false;
        cases.push_back({tag + "no end paragraph", open.Build(), 1, "구조가 끝나지 않음", u"first\nsecond\n"});
        OldDocument blocks = d;
        blocks.afterList = Block(1, "picture") + Block(0, "");
        cases.push_back({tag + "blocks after the list", blocks.Build(), 0, "", u"first\nsecond\n"});
        OldDocument garbage = d;
        garbage.afterList = "xyz";
        cases.push_back({tag + "bytes after the list", garbage.Build(), 1, "구조가 끝나지 않음"});
        OldDocument longer = d;
        longer.afterList = Block(1, "picture").substr(0, 10);
        cases.push_back({tag + "a block longer than the body", longer.Build(), 1, "길이가 데이터를 넘음"});
        // The second paragraph's count set to 0: an end paragraph misread.
        OldDocument misread = d;
        misread.paragraphs = OldPara(Old::V30, Codes("first") + kEnd) +
                             SetByte(OldPara(Old::V30, std::vector<std::uint16_t>(40, 'q') + kEnd), kParaCount, 0);
        cases.push_back({tag + "an end paragraph misread", misread.Build(), 1, ""});
    }
    // A footnote's list left open where the data ends.
    std::string note = OldPara(Old::V21, {}, 2 + 4 + 1);
    Le16(note, 'o');
    Le16(note, 'k');
    Le16(note, 17);
    note += Zeros(20) + OldPara(Old::V21, Codes("fn") + kEnd);
    OldDocument v21;
    v21.generation = Old::V21;
    v21.paragraphs = note;
    v21.endList = false;
    cases.push_back({"V2.10 footnote list open", v21.Build(), 1, "구조가 끝나지 않음"});
    ExpectCases(cases);
}
