// The HWPML reader: the sniff of the first bytes and the walk over
// paragraphs, characters and nested paragraph lists.
#include <gtest/gtest.h>

#include <string>

#include "extract/extractlib.h"
#include "extract/hwp/hwpmlmanager.h"
#include "platform/docfile.h"
#include "platform/text.h"
#include "support/isolation.h"

namespace {

int Sniff(const std::string& bytes)
{
    return CHwpmlDocumentManager::IsHwpmlHead(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::string Utf16le(const std::string& ascii)
{
    std::string s = "\xFF\xFE";
    for (char c : ascii) {
        s.push_back(c);
        s.push_back('\0');
    }
    return s;
}

const char* const kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

std::string Doc(const std::string& body)
{
    return std::string(kDecl) + "<HWPML Version=\"2.8\" Style=\"embed\"><HEAD SecCnt=\"1\"><DOCSETTING>" +
           "<SECURITY Enc=\"0\" Sig=\"0\"/></DOCSETTING></HEAD><BODY><SECTION>" + body + "</SECTION></BODY></HWPML>";
}

struct Result {
    int status;
    std::u16string text;
};

Result Convert(const std::string& bytes, const char16_t* options = u"xml:true")
{
    ps_test::TempDir dir;
    const std::string path = dir.file("doc.hml");
    EXPECT_TRUE(ps_test::WriteFileBytes(path, bytes));
    Result r;
    r.status = static_cast<int>(ConvertHwpToText(plat::PathFromNative(path).c_str(), options, &r.text));
    return r;
}

}  // namespace

TEST(HwpmlSniff, DeclarationRootVersionAndStyle)
{
    const struct {
        std::string head;
        int expected;
    } cases[] = {
        {Utf16le(std::string(kDecl).replace(30, 5, "UTF16") + "<HWPML Version=\"2.8\">"), 1},
        {Utf16le("<HWPML Version=\"2.8\">"), 0},
        {std::string(kDecl) + "<HWPML Version=\"1.9\">", 0},
        {std::string(kDecl) + "<HWPML Version=\"2.0\">", 1},
        {std::string(kDecl) + "<HWPML Version=\"2.91\" Style=\"export\">", 0},
        {std::string(kDecl) + "<HWPML Style=\"embed\" SubVersion=\"8.0.0.0\" Version=\"2.8\">", 1},
        {"\xEF\xBB\xBF" + std::string(kDecl) + "<!-- a -> b --><!DOCTYPE x>< HWPMLX Version=\"3\">", 1},
        {std::string(kDecl) + "<other/><HWPML Version=\"2.8\">", 1},
        {std::string(kDecl) + std::string(5000, ' ') + "<HWPML Version=\"2.8\">", 0},
        {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Sniff(c.head), c.expected) << c.head;
}

TEST(HwpmlWalk, ParagraphsCharactersAndNestedLists)
{
    const struct {
        const char* name;
        std::string body;
        std::u16string expected;
    } cases[] = {
        {"two paragraphs", "<P><TEXT><CHAR>a</CHAR></TEXT></P><P><TEXT><CHAR>b</CHAR></TEXT></P>", u"a\nb\n"},
        {"empty paragraph", "<P/><P><TEXT/></P>", u"\n\n"},
        {"tab element", "<P><TEXT><CHAR>x<TAB/>y</CHAR></TEXT></P>", u"x\ty\n"},
        // A literal tab keeps every character after it.
        {"literal tab", "<P><TEXT><CHAR>name\t010-1234-5678</CHAR></TEXT></P>", u"name\t010-1234-5678\n"},
        {"Hangul and entities", "<P><TEXT><CHAR>홍길동 &amp; 김</CHAR></TEXT></P>", u"홍길동 & 김\n"},
        // A table ends the line of the paragraph's text before it.
        {"table cell between the paragraph's texts",
         "<P><TEXT><CHAR>before</CHAR><TABLE><ROW><CELL><PARALIST><P><TEXT><CHAR>cell</CHAR></TEXT></P>"
         "</PARALIST></CELL></ROW></TABLE><CHAR>after</CHAR></TEXT></P>",
         u"before\ncell\nafter\n"},
        {"table first in its paragraph",
         "<P><TEXT><TABLE><ROW><CELL><PARALIST><P><TEXT><CHAR>800101-1234567</CHAR></TEXT></P>"
         "</PARALIST></CELL></ROW></TABLE></TEXT></P>",
         u"800101-1234567\n\n"},
        {"table after a line break and a text box",
         "<P><TEXT><CHAR>a<LINEBREAK/></CHAR><TABLE><ROW><CELL><PARALIST><P><TEXT><CHAR>c1</CHAR></TEXT></P>"
         "</PARALIST></CELL></ROW></TABLE><CHAR>b</CHAR><RECTANGLE><DRAWTEXT><PARALIST><P><TEXT><CHAR>box</CHAR>"
         "</TEXT></P></PARALIST></DRAWTEXT></RECTANGLE><TABLE><ROW><CELL><PARALIST><P><TEXT><CHAR>c2</CHAR>"
         "</TEXT></P></PARALIST></CELL></ROW></TABLE></TEXT></P>",
         u"a\nc1\nb\nc2\n\nbox\n"},
        {"hyphen element", "<P><TEXT><CHAR>HYPEN<HYPEN/>CHAR 010<HYPEN/>1234</CHAR></TEXT></P>",
         u"HYPEN-CHAR 010-1234\n"},
        {"line break and fixed-width blanks",
         "<P><TEXT><CHAR>제<FWSPACE/>3<NBSPACE/>교시<LINEBREAK/>둘째</CHAR></TEXT></P>", u"제 3 교시\n둘째\n"},
        {"text box anchored inside a word goes after the paragraph",
         "<P><TEXT><CHAR>123</CHAR><RECTANGLE><DRAWTEXT><PARALIST><P><TEXT><CHAR>box</CHAR>"
         "<ELLIPSE><DRAWTEXT><PARALIST><P><TEXT><CHAR>in</CHAR></TEXT></P></PARALIST></DRAWTEXT></ELLIPSE>"
         "<CHAR>ed</CHAR></TEXT></P></PARALIST></DRAWTEXT></RECTANGLE><CHAR>456</CHAR></TEXT></P>"
         "<P><TEXT><CHAR>next</CHAR></TEXT></P>",
         u"123456\nboxed\nin\nnext\n"},
        {"list in another child of P",
         "<P><SHAPE><DRAW><PARALIST><P><TEXT><CHAR>box</CHAR></TEXT></P></PARALIST></DRAW></SHAPE>"
         "<TEXT><CHAR>t</CHAR></TEXT></P>",
         u"box\nt\n"},
        {"markup compatibility: an ignorable namespace's elements are dropped",
         "<P xmlns:x=\"urn:example:x\" xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" "
         "mc:Ignorable=\"x\"><x:TEXT><CHAR>gone</CHAR></x:TEXT><TEXT><CHAR>kept</CHAR></TEXT></P>",
         u"kept\n"},
        {"other elements passed over", "<COLDEF/><P><PARASHAPE a=\"1\"/><TEXT><CHAR>k</CHAR><X/></TEXT></P>", u"k\n"},
    };
    for (const auto& c : cases) {
        Result r = Convert(Doc(c.body));
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(plat::WideToUtf8(r.text), plat::WideToUtf8(c.expected)) << c.name;
    }
    // Comments, a processing instruction and a document type before the root.
    std::string prolog = Doc("<P><TEXT><CHAR>after the prolog</CHAR></TEXT></P>");
    prolog.insert(std::string(kDecl).size(), "<!-- made by hand --><?app x?><!DOCTYPE HWPML>\n");
    Result r = Convert(prolog);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(plat::WideToUtf8(r.text), "after the prolog\n");
}

TEST(HwpmlWalk, StatusesOfOddFiles)
{
    // Not HWPML by the sniff.
    EXPECT_EQ(Convert("<HWPML Version=\"2.8\"/>").status, 2);
    // The binary entry does not read it.
    EXPECT_EQ(Convert(Doc("<P><TEXT><CHAR>a</CHAR></TEXT></P>"), nullptr).status, 1);
    // A root the sniff accepts but the walk does not: read, no text.
    Result r = Convert(std::string(kDecl) + "<HWPMLX Version=\"2.8\"><BODY><SECTION><P><TEXT><CHAR>a</CHAR>"
                                            "</TEXT></P></SECTION></BODY></HWPMLX>");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, u"");
    // A parse error in the middle: the text before it stays, the document
    // is not read to its end.
    std::string many;
    for (int i = 0; i < 3000; ++i)
        many += "<P><TEXT><CHAR>kept</CHAR></TEXT></P>";
    std::string broken = Doc(many + "<P><TEXT><CHAR>x</CHAR></TEXT></P>");
    broken.resize(broken.find("<CHAR>x") + 3);
    broken += "<<<>>";
    r = Convert(broken);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.text.substr(0, 5), u"kept\n");
    // Deep nesting ends without a crash.
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep += "<P><X>";
    r = Convert(Doc(deep));
    EXPECT_EQ(r.status, 1);
}

TEST(HwpmlWalk, MutatedDocumentsEndWithAStatus)
{
    const std::string whole =
        Doc("<P><TEXT><CHAR>a<TAB/>b</CHAR><TABLE><CELL><PARALIST><P><TEXT><CHAR>c</CHAR></TEXT></P></PARALIST>"
            "</CELL></TABLE></TEXT></P><P><TEXT><CHAR>홍길동</CHAR></TEXT></P>");
    unsigned seed = 3;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int round = 0; round < 200; ++round) {
        std::string damaged = whole;
        for (int k = 0; k < 3; ++k) {
            const size_t at = 60 + next() % (damaged.size() - 60);
            damaged[at] = static_cast<char>(next());
        }
        const int status = Convert(damaged).status;
        ASSERT_TRUE(status == 0 || status == 1 || status == 2) << status;
    }
}

namespace {

// The text and the damage reason (empty when none) of an HWPML document read
// through the entry.
struct Damaged {
    int status;
    std::string text;
    std::string reason;
};

Damaged ConvertNotingDamage(const std::string& bytes)
{
    plat::DamageScope scope;
    const Result r = Convert(bytes);
    return {r.status, plat::WideToUtf8(r.text), scope.Reason() ? scope.Reason() : ""};
}

std::string Paragraph(const std::string& text)
{
    return "<P><TEXT><CHAR>" + text + "</CHAR></TEXT></P>";
}

}  // namespace

TEST(HwpmlDamage, BrokenOrCutMarkupMarksTheDocument)
{
    const std::string whole = Doc(Paragraph("a") + Paragraph("b"));
    const struct {
        const char* name;
        std::string bytes;
        int status;
        const char* reason;
        const char* text;  // null: whatever the parser gave before its error
    } cases[] = {
        {"whole", whole, 0, "", "a\nb\n"},
        {"cut after a paragraph", whole.substr(0, whole.find("<P><TEXT><CHAR>b")), 1, "XML 구조 손상", "a\n"},
        {"cut inside the last text", whole.substr(0, whole.find("b</CHAR>") + 1), 1, "XML 구조 손상", "a\n\n"},
        {"cut before the root's end", whole.substr(0, whole.find("</HWPML>")), 1, "XML 구조 손상", "a\nb\n"},
        {"mismatched end tag", Doc(Paragraph("a") + "</TEXT>" + Paragraph("b")), 1, "XML 구조 손상", nullptr},
    };
    for (const auto& c : cases) {
        const Damaged d = ConvertNotingDamage(c.bytes);
        EXPECT_EQ(d.status, c.status) << c.name;
        EXPECT_EQ(d.reason, c.reason) << c.name;
        if (c.text) {
            EXPECT_EQ(d.text, c.text) << c.name;
        }
    }
}

TEST(HwpmlDamage, NestingPastTheCapMarksTheDocument)
{
    // Well-formed, and nested deeper than the walk follows: the text inside
    // is passed over.
    std::string deep = "<P><TEXT>";
    for (int i = 0; i < CHwpmlDocumentManager::kMaxNesting; ++i)
        deep += "<X>";
    deep += "<PARALIST>" + Paragraph("inner") + "</PARALIST>";
    for (int i = 0; i < CHwpmlDocumentManager::kMaxNesting; ++i)
        deep += "</X>";
    deep += "</TEXT></P>";
    const Damaged d = ConvertNotingDamage(Doc(Paragraph("a") + deep));
    EXPECT_EQ(d.status, 1);
    EXPECT_EQ(d.reason, "한도에 이르러 건너뜀");
    EXPECT_EQ(d.text.substr(0, 2), "a\n");
}

TEST(HwpmlDamage, SectionsTheHeadCountsAndTheBodyLacks)
{
    auto doc = [](const char* count, const std::string& sections) {
        return std::string(kDecl) + "<HWPML Version=\"2.8\" Style=\"embed\"><HEAD SecCnt=\"" + count +
               "\"/><BODY>" + sections + "</BODY></HWPML>";
    };
    const std::string section = "<SECTION>" + Paragraph("s") + "</SECTION>";
    const struct {
        const char* name;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"two of two", doc("2", section + section), ""},
        {"one of two", doc("2", section), "참조된 구역 없음"},
        {"no body", std::string(kDecl) + "<HWPML Version=\"2.8\"><HEAD SecCnt=\"1\"/></HWPML>", "참조된 구역 없음"},
        {"more than counted", doc("1", section + section), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ConvertNotingDamage(c.bytes).reason, c.reason) << c.name;
}
