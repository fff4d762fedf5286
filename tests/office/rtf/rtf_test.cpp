#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>

#include "extract/textcollector.h"
#include "office/rtf/rtfkey.h"
#include "office/rtf/rtfstatus.h"
#include "office/rtf/rtftextconvert.h"
#include "platform/docfile.h"
#include "platform/text.h"
#include "support/isolation.h"

namespace {

std::u16string ReadRtf(const std::string& rtf)
{
    std::u16string out;
    CTextCollector collector;
    collector.SetOutput(&out);
    CRtfTextConvert reader(&collector, 0);
    reader.ConvertBuffer(reinterpret_cast<const unsigned char*>(rtf.data()), rtf.size());
    return out;
}

std::string Utf8(const std::u16string& s)
{
    return plat::WideToUtf8(s);
}

struct Tok {
    int kind;
    std::string word;
    int param;
    int length;
};

std::vector<Tok> Tokenize(const std::string& s)
{
    std::string buf = s + std::string(4, '\0');
    CRTFStatus st;
    st.Init(reinterpret_cast<const unsigned char*>(buf.data()), static_cast<int>(s.size()));
    std::vector<Tok> out;
    RtfToken t;
    int guard = 0;
    while (st.NextToken(t) && guard++ < 1000) {
        out.push_back({t.kind, t.word, t.param, t.length});
        st.Consume(t);
    }
    return out;
}

TEST(RtfTokenizer, ControlWordsParametersAndDelimiters)
{
    auto v = Tokenize("\\par Hello");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].word, "par");
    EXPECT_EQ(v[0].param, 1);
    EXPECT_EQ(v[0].length, 5);
    EXPECT_EQ(v[1].kind, kRtfTextRun);
    EXPECT_EQ(v[1].length, 5);

    v = Tokenize("\\li-720\\fs24 ");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].word, "li");
    EXPECT_EQ(v[0].param, -720);
    EXPECT_EQ(v[1].word, "fs");
    EXPECT_EQ(v[1].param, 24);

    v = Tokenize("\\cf \\b \\b0");
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].param, 0);
    EXPECT_EQ(v[1].param, 1);
    EXPECT_EQ(v[2].param, 0);

    // A parameter delimited by a letter keeps the text after it.
    v = Tokenize("\\fs24Hello");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].word, "fs");
    EXPECT_EQ(v[1].kind, kRtfTextRun);
    EXPECT_EQ(v[1].length, 5);

    v = Tokenize("\\u-3913?");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].word, "u");
    EXPECT_EQ(v[0].param, 61623);
    EXPECT_EQ(v[1].length, 1);

    v = Tokenize("\\u8364\\'80");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].param, 8364);
    EXPECT_EQ(v[1].kind, kRtfHexEscape);
    EXPECT_EQ(v[1].length, 4);
}

TEST(RtfTokenizer, SymbolsSemicolonsGroupsAndEnds)
{
    auto v = Tokenize("{\\f0\\fswiss Arial;}");
    ASSERT_EQ(v.size(), 6u);
    EXPECT_EQ(v[0].kind, kRtfGroupOpen);
    EXPECT_EQ(v[1].word, "f");
    EXPECT_EQ(v[2].word, "fswiss");
    EXPECT_EQ(v[3].kind, kRtfTextRun);
    EXPECT_EQ(v[3].length, 5);
    EXPECT_EQ(v[4].kind, kRtfTextRun);
    EXPECT_EQ(v[4].length, 1);
    EXPECT_EQ(v[5].kind, kRtfGroupClose);

    v = Tokenize("\\f0;");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[1].kind, kRtfSemicolon);

    // Control symbols are two bytes; the text after them stays text.
    v = Tokenize("010\\_1234\\~5678\\-x");
    ASSERT_EQ(v.size(), 7u);
    EXPECT_EQ(v[1].word, "_");
    EXPECT_EQ(v[1].length, 2);
    EXPECT_EQ(v[2].length, 4);
    EXPECT_EQ(v[3].word, "~");
    EXPECT_EQ(v[4].length, 4);

    // A hex escape cut by the end.
    v = Tokenize("\\'e");
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].kind, kRtfHexEscape);

    // A long control word is cut to its field but covers the whole run.
    std::string longWord = "\\" + std::string(100, 'a') + " x";
    v = Tokenize(longWord);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].word.size(), 31u);
    EXPECT_EQ(v[0].length, 102);

    EXPECT_TRUE(Tokenize("").empty());
    EXPECT_EQ(Tokenize("\\").size(), 1u);
}

TEST(RtfTokenizer, DepthSkipAndGroupEnd)
{
    std::string s = "}{ab{c}d}e";
    std::string buf = s + std::string(4, '\0');
    CRTFStatus st;
    st.Init(reinterpret_cast<const unsigned char*>(buf.data()), static_cast<int>(s.size()));
    RtfToken t;
    ASSERT_TRUE(st.NextToken(t));
    EXPECT_EQ(st.Consume(t), 1);
    EXPECT_EQ(st.GetDepth(), 0);
    ASSERT_TRUE(st.NextToken(t));
    EXPECT_EQ(st.Consume(t), 0);
    EXPECT_EQ(st.GetDepth(), 1);
    const unsigned char* begin = nullptr;
    int count = 0;
    EXPECT_EQ(st.FindGroupEnd(begin, count), 1);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(st.Skip(count), 1);
    EXPECT_EQ(st.FindGroupEnd(begin, count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(st.Skip(100), 0);
    EXPECT_FALSE(st.HasMore());
    EXPECT_EQ(st.NextToken(t), 0);
}

TEST(RtfKeys, LookupDefaultsAndApply)
{
    CRTFKey keys;
    EXPECT_NE(keys.Lookup(kRtfCatCharacter, "b"), nullptr);
    EXPECT_EQ(keys.Lookup(kRtfCatCharacter, "bx"), nullptr);
    EXPECT_EQ(keys.Lookup(kRtfCatParagraph, "par"), nullptr);
    EXPECT_EQ(keys.Lookup(kRtfCatParagraph, ""), nullptr);
    EXPECT_EQ(keys.Lookup(5, "b"), nullptr);
    EXPECT_EQ(CRTFKey::Entries(kRtfCatCharacter).size(), 67u);
    EXPECT_EQ(CRTFKey::Entries(kRtfCatDocument).size(), 126u);
    EXPECT_EQ(CRTFKey::Entries(kRtfCatSection).size(), 70u);
    EXPECT_EQ(CRTFKey::Entries(kRtfCatPicture).size(), 31u);

    RtfPropRecord rec;
    keys.LoadDefaults(kRtfCatCharacter, rec);
    const RtfKeyEntry* b = keys.Lookup(kRtfCatCharacter, "b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(rec.slots[b->field], 0);
    RtfToken t;
    t.param = 1;
    EXPECT_EQ(keys.Apply(*b, &rec, &t), 1);
    EXPECT_EQ(rec.slots[b->field], 1);
    t.param = 2;
    keys.Apply(*b, &rec, &t);
    EXPECT_EQ(rec.slots[b->field], 0);
    EXPECT_EQ(keys.Apply(*b, nullptr, &t), 0);

    // Shared slots.
    const RtfKeyEntry* w1 = keys.Lookup(kRtfCatPicture, "picwGoal");
    const RtfKeyEntry* w2 = keys.Lookup(kRtfCatPicture, "picwgoal");
    ASSERT_TRUE(w1 && w2);
    EXPECT_EQ(w1->field, w2->field);

    // Text entries keep at most 39 bytes.
    const RtfKeyEntry* name = keys.Lookup(kRtfCatFont, "_fontname");
    ASSERT_NE(name, nullptr);
    std::string longName(60, 'x');
    t.text = reinterpret_cast<const unsigned char*>(longName.data());
    t.length = 60;
    RtfPropRecord font;
    keys.LoadDefaults(kRtfCatFont, font);
    EXPECT_EQ(keys.Apply(*name, &font, &t), 1);
    EXPECT_EQ(std::string(font.text).size(), 39u);
}

struct BodyCase {
    const char* name;
    std::string rtf;
    std::u16string expected;
};

TEST(RtfReader, BodyText)
{
    const std::string head = "{\\rtf1\\ansi\\ansicpg949\\deff0{\\fonttbl{\\f0\\fnil Batang;}}"
                             "{\\colortbl;\\red0\\green0\\blue0;}";
    const BodyCase cases[] = {
        {"paragraphs", head + "\\pard Hello\\par World\\par}", u"Hello\nWorld\n"},
        {"body text before any paragraph or character word", head + "first \\plain kept}", u"first kept"},
        {"unmarked list definitions give no text", head + "{\\list{\\listlevel{\\leveltext \\'02\\'00.}}{\\listname L1;}}\\pard x}", u"x"},
        {"escaped braces and backslash", head + "\\pard a\\{b\\}c\\\\d \\'7b\\'7d}", u"a{b}c\\d {}"},
        {"unicode with fallback", head + "\\pard \\u54620?\\u44397?x}", u"\uD55C\uAD6Dx"},
        {"unicode fallback count", head + "\\pard\\uc2 \\u54620\\'c7\\'d1 ok\\uc0\\u44397 z}", u"\uD55C ok\uAD6Dz"},
        {"hangul hex escapes", head + "\\pard \\'c7\\'d1\\'b1\\'b9}", u"\uD55C\uAD6D"},
        {"hangul pair broken by a line end", head + "\\pard \\'c7\r\n\\'d1}", u"\uD55C"},
        {"typographic quotes", head + "\\pard \\'93q\\'94 \\'96}", u"\"q\" -"},
        {"UHC lead byte is not a quote", head + "\\pard \\'81\\'41}", u"\uAC02"},
        {"control symbols keep the text after them", head + "\\pard 010\\_1234\\_5678 a\\~b c\\-d}",
         u"010-1234-5678 a b cd"},
        {"table row", head + "\\pard\\trowd\\cellx100\\cellx200\\intbl A\\cell B\\cell\\row}", u"\t\tA\tB\t\n"},
        {"header and footer dropped", head + "{\\header \\pard H\\par}{\\footer F}\\pard body}", u"body"},
        {"field gives its result", head + "\\pard {\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt link}}}",
         u"link"},
        {"ignorable destinations vanish", head + "{\\*\\generator gen;}\\pard A{\\*\\bkmkstart b}B}", u"AB"},
        {"shape instructions stay", head + "\\pard {\\shp{\\*\\shpinst{\\sp{\\sn name}{\\sv val}}}}}",
         u"nameval"},
        {"line feed alone is no line end; backslash line end is", head + "\\pard a\nb\\\nc}", u"ab\nc"},
        {"picture data dropped", head + "\\pard A{\\pict\\pngblip\\picw10 89504e47}B}", u"AB"},
        {"info group not emitted", "{\\rtf1{\\info{\\title T}{\\author A}}\\pard body}", u"body"},
        {"special characters", head + "\\pard \\emdash\\endash\\bullet\\lquote\\rquote\\ldblquote\\rdblquote\\tab|}",
         u"\u2014\u2013\u2022\u2018\u2019\u201C\u201D\t|"},
        {"bidi marks produce nothing", head + "\\pard a\\ltrmark\\rtlmark\\zwj\\zwnj b}", u"ab"},
        {"document without tables", "{\\rtf1\\ansi \\pard plain text\\par}", u"plain text\n"},
        {"text right after the header", "{\\rtf1\\ansi\\deff0 Hello 010-1234-5678\\par}", u"Hello 010-1234-5678\n"},
        {"text right after the version", "{\\rtf1 Hello}", u"Hello"},
        {"character words deep in the preamble", "{\\rtf1{\\fonttbl{{\\f0 X;}}}{\\stylesheet{\\s0\\f0 Normal;}}"
                                                 "\\pard Y}",
         u"Y"},
        {"semicolon in body", head + "\\pard a;b\\par c; d}", u"a;b\nc; d"},
    };
    for (const BodyCase& c : cases)
        EXPECT_EQ(Utf8(ReadRtf(c.rtf)), Utf8(c.expected)) << c.name;
}

TEST(RtfReader, EscapedBytesInTheRunsDeclaredCodePage)
{
    const std::string fonts = "{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}{\\f1\\fnil\\fcharset129 Gulim;}"
                              "{\\f2\\froman\\fcharset204 Times;}{\\f3\\fnil\\fcharset0\\cpg1253 Greek;}}";
    const BodyCase cases[] = {
        {"Western document", "{\\rtf1\\ansi\\ansicpg1252\\deff0" + fonts + "\\pard \\'dcbersicht}", u"Übersicht"},
        {"Korean document", "{\\rtf1\\ansi\\ansicpg949\\deff0" + fonts + "\\pard \\'c7\\'d1 \\f1 \\'b1\\'b9}",
         u"\uD55C \uAD6D"},
        {"Korean font in a Western document", "{\\rtf1\\ansi\\ansicpg1252\\deff0" + fonts +
                                                  "\\pard \\'e9 {\\f1 \\'c7\\'d1}\\'e9}",
         u"é \uD55Cé"},
        {"Cyrillic font, then plain again", "{\\rtf1\\ansi\\ansicpg1252\\deff0" + fonts +
                                                "\\pard \\f2 \\'c4\\'e0 \\plain \\'c4}",
         u"Да Ä"},
        {"a font's own code page", "{\\rtf1\\ansi\\ansicpg1252\\deff0" + fonts + "\\pard \\f3 \\'e1}", u"α"},
        {"no code page named: Korean", "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 X;}}\\pard \\'c7\\'d1}", u"\uD55C"},
        {"Macintosh character set", "{\\rtf1\\mac\\deff0{\\fonttbl{\\f0 X;}}\\pard strat\\'8egie}", u"stratégie"},
    };
    for (const BodyCase& c : cases)
        EXPECT_EQ(Utf8(ReadRtf(c.rtf)), Utf8(c.expected)) << c.name;
}

TEST(RtfReader, UnicodeSkipCountIsPerDocument)
{
    std::u16string out;
    CTextCollector collector;
    collector.SetOutput(&out);
    CRtfTextConvert reader(&collector, 0);
    std::string first = "{\\rtf1\\pard\\uc5 \\u54620 abcdefg}";
    reader.ConvertBuffer(reinterpret_cast<const unsigned char*>(first.data()), first.size());
    EXPECT_EQ(Utf8(out), Utf8(u"\uD55Cfg"));
    out.clear();
    std::string second = "{\\rtf1\\pard \\u54620?xyz}";
    reader.ConvertBuffer(reinterpret_cast<const unsigned char*>(second.data()), second.size());
    EXPECT_EQ(Utf8(out), Utf8(u"\uD55Cxyz"));
}

TEST(RtfReader, HostileInputEndsCleanly)
{
    const std::string cases[] = {
        "",
        "{",
        "}}}}}}{\\rtf1}}}}\\pard x",
        "{\\rtf1\\pard " + std::string(100000, '{') + "deep" + std::string(100000, '}') + "}",
        "{\\rtf1\\pard \\u",
        "{\\rtf1\\pard \\'",
        "{\\rtf1\\pard \\'c",
        "{\\rtf1\\pard \\u99999999999999999999 a}",
        "{\\rtf1\\pard {\\*\\fldinst unterminated",
        "{\\rtf1\\pard {\\pict \\wmetafile8 \r\n{{{{",
        "\\",
        std::string("{\\rtf1\\pard a\0b\x01\x1f c}", sizeof("{\\rtf1\\pard a\0b\x01\x1f c}") - 1),
    };
    for (const std::string& c : cases)
        ReadRtf(c);  // must end without a fault
    EXPECT_EQ(Utf8(ReadRtf(cases[3])), "deep");
}

TEST(RtfReader, RewriteNeverOverrunsItsInput)
{
    // Every escaped literal grows by two bytes; the output lives apart from
    // the input, so any growth is fine.
    std::string rtf = "{\\rtf1\\pard ";
    for (int i = 0; i < 300000; ++i)
        rtf += "\\{";
    rtf += "}";
    std::u16string out = ReadRtf(rtf);
    EXPECT_EQ(out.size(), 300000u);
    EXPECT_EQ(out.find_first_not_of(u'{'), std::u16string::npos);
}

// The text and the damage reason (empty when none was noted) of a document.
struct Damaged {
    std::string text;
    std::string reason;
};

Damaged ReadRtfNotingDamage(const std::string& rtf)
{
    plat::DamageScope scope;
    Damaged d;
    d.text = Utf8(ReadRtf(rtf));
    d.reason = scope.Reason() ? scope.Reason() : "";
    return d;
}

struct DamageCase {
    const char* name;
    std::string rtf;
    const char* reason;  // empty: read clean
    std::string text;
};

void ExpectDamage(const DamageCase& c)
{
    const Damaged d = ReadRtfNotingDamage(c.rtf);
    EXPECT_EQ(d.reason, c.reason) << c.name;
    EXPECT_EQ(d.text, c.text) << c.name;
}

const std::string kHead = "{\\rtf1\\ansi\\ansicpg949\\deff0{\\fonttbl{\\f0\\fnil Gulim;}}";

TEST(RtfDamage, GroupsOpenAtTheEndMarkTheDocument)
{
    const DamageCase cases[] = {
        {"whole", kHead + "{\\pard a\\par}{\\pard b\\par}}", "", "a\nb\n"},
        {"cut after a paragraph", kHead + "{\\pard a\\par}{\\pard b", "구조가 끝나지 않음", "a\nb"},
        {"cut after the last paragraph's group", kHead + "{\\pard a\\par}", "구조가 끝나지 않음", "a\n"},
        {"cut inside a control word", kHead + "{\\pard a\\pa", "구조가 끝나지 않음", "a"},
        {"picture left open", kHead + "{\\pard a\\par}{\\pict\\pngblip 8950{\\pard b\\par}}",
         "구조가 끝나지 않음", "a\n"},
        {"object data left open", kHead + "{\\pard a\\par}{\\*\\objdata 0105{\\pard b\\par}}",
         "구조가 끝나지 않음", "a\n"},
        {"font table left open", "{\\rtf1\\ansi{\\fonttbl{\\f0\\fnil Gulim;}{\\pard a\\par}{\\pard b\\par}}",
         "구조가 끝나지 않음", ""},
        // Markup after the document's end that is left open holds nothing of
        // the document (a writer's unbalanced tail).
        {"open group after the end", kHead + "{\\pard a\\par}}\n{\\listoverride\\listid1{\\lfolevel}", "", "a\n"},
    };
    for (const DamageCase& c : cases)
        ExpectDamage(c);
}

TEST(RtfDamage, BinaryDataIsPassedOverByItsLength)
{
    // The raw bytes hold braces and a backslash: read as markup they would
    // close the paragraph's group early.
    const std::string bytes("}}\\{x", 5);
    const DamageCase cases[] = {
        {"whole", kHead + "{\\pard a{\\pict\\bin5 " + bytes + "}b\\par}}", "", "ab\n"},
        {"length past the end", kHead + "{\\pard a{\\pict\\bin500 " + bytes + "}b\\par}}", "길이가 데이터를 넘음", "a"},
        {"length short of the data", kHead + "{\\pard a{\\pict\\bin4 " + bytes + "}b\\par}}",
         "길이가 데이터와 맞지 않음", "ab\n"},
        {"length past the data", kHead + "{\\pard a{\\pict\\bin6 " + bytes + "}b\\par}}",
         "길이가 데이터와 맞지 않음", "a\n"},
        {"negative length", kHead + "{\\pard a{\\pict\\bin-5 }b\\par}}", "길이가 잘못됨", "ab\n"},
        {"a longer word is no \\bin", kHead + "{\\pard\\binfsxn5 a\\par}}", "", "a\n"},
    };
    for (const DamageCase& c : cases)
        ExpectDamage(c);
}

TEST(RtfDamage, TextAfterTheDocumentsEndMarksItAndIsRead)
{
    const DamageCase cases[] = {
        {"a brace too many", kHead + "{\\pard a\\par}}{\\pard b\\par}}", "문서 끝 뒤에 내용이 있음", "a\nb\n"},
        {"an opening brace missing", kHead + "\\pard a\\par}}{\\pard b\\par}}", "문서 끝 뒤에 내용이 있음",
         "a\nb\n"},
        // Bytes without markup after the end, and markup without text, are a
        // writer's leftovers: nothing of the document is there.
        {"junk after the end", kHead + "{\\pard a\\par}}\r\n\xef\xbf\xbd" "8\x11$D", "", "a\n"},
        {"markup without text after the end", kHead + "{\\pard a\\par}}\\htmlrtf0{\\*\\htmltag0 </TABLE>}}", "",
         "a\n"},
    };
    for (const DamageCase& c : cases)
        ExpectDamage(c);
}

TEST(RtfDamage, CutEscapesMarkTheDocument)
{
    const DamageCase cases[] = {
        {"whole", kHead + "{\\pard \\'c7\\'d1 \\u44397?x}}", "", "\xed\x95\x9c \xea\xb5\xadx"},
        {"hex escape with one digit", kHead + "{\\pard a\\'c x}}", "16진 이스케이프 손상", "a x"},
        {"hex escape without digits", kHead + "{\\pard a\\'\\par x}}", "16진 이스케이프 손상", "a\nx"},
        // The fallback owed ends with its group: the text after the group
        // stays.
        {"fallback cut by its group's end", kHead + "{\\pard {\\u44397}x}}", "유니코드 대체 문자 잘림",
         "\xea\xb5\xadx"},
    };
    for (const DamageCase& c : cases)
        ExpectDamage(c);
}

TEST(RtfDamage, NestingPastTheCapMarksTheDocument)
{
    const std::string deep = std::string(kRtfMaxDepth + 10, '{') + "deep" + std::string(kRtfMaxDepth + 10, '}');
    ExpectDamage({"past the cap", kHead + "{\\pard " + deep + "}}", "한도에 이르러 건너뜀", "deep"});
    const std::string shallow = std::string(100, '{') + "deep" + std::string(100, '}');
    ExpectDamage({"below the cap", kHead + "{\\pard " + shallow + "}}", "", "deep"});
}

TEST(RtfReader, CommentsFollowTheMainTextEachOnItsLine)
{
    // A comment as a word processor writes it: its author and id before the
    // mark, its reference, date and page field inside.
    auto comment = [](const std::string& text) {
        return "{\\*\\atnid JD}{\\*\\atnauthor Jane Doe}\\chatn {\\*\\annotation{\\*\\atnref 1}"
               "{\\*\\atndate 1471637364}\\pard\\plain {\\field{\\*\\fldinst {PAGE}}{\\fldrslt }}{\\chatn }" +
               text + "}";
    };
    const DamageCase cases[] = {
        {"anchored inside a line", kHead + "{\\pard Call" + comment("010-1234-5678") + " me\\par}{\\pard Bye\\par}}", "",
         "Call me\nBye\n010-1234-5678"},
        {"two comments, the first ending its paragraph",
         kHead + "{\\pard a" + comment("first\\par") + "b" + comment("second") + "c}}", "", "abc\nfirst\nsecond"},
        {"a comment of one paragraph after another", kHead + "{\\pard a" + comment("one\\par two") + "}}", "",
         "a\none\ntwo"},
        {"main text ending its line", kHead + "{\\pard a" + comment("note") + "\\par}}", "", "a\nnote"},
        {"in the document's code page", kHead + "{\\pard a" + comment("\\'c8\\'ab\\'b1\\'e6\\'b5\\'bf") + "}}", "",
         "a\n\xed\x99\x8d\xea\xb8\xb8\xeb\x8f\x99"},
        {"an empty comment", kHead + "{\\pard a" + comment("") + "b}}", "", "ab"},
        {"before the body's first word", "{\\rtf1{\\*\\annotation 010-1234-5678}Hello}", "", "Hello\n010-1234-5678"},
        {"written without the ignorable mark",
         kHead + "{\\pard a{\\atnid JD}{\\atnauthor Jane}\\chatn{\\annotation{\\atnref 1}{\\atndate 7}note}b}}", "",
         "ab\nnote"},
        // The data ends inside the comment: what it gave is kept, and the
        // document is damaged.
        {"cut inside the comment", kHead + "{\\pard a{\\*\\annotation 010-1234-5678\\par b", "구조가 끝나지 않음",
         "a\n010-1234-5678\nb"},
    };
    for (const DamageCase& c : cases)
        ExpectDamage(c);
}

TEST(RtfReader, ConvertReadsAFileAndReportsAMissingOne)
{
    ps_test::TempDir dir;
    const std::string path = dir.path() + "/a.rtf";
    ps_test::WriteFileBytes(path, "{\\rtf1{\\fonttbl{\\f0 A;}}\\pard \\'c8\\'ab\\'b1\\'e6\\'b5\\'bf\\par}");
    std::u16string out = u"old";
    CTextCollector collector;
    collector.SetOutput(&out);
    CRtfTextConvert reader(&collector, 0);
    EXPECT_EQ(reader.Convert(plat::PathFromNative(path).c_str()), 1);
    EXPECT_TRUE(reader.LastLoadSucceeded());
    EXPECT_EQ(Utf8(out), "홍길동\n");
    EXPECT_EQ(reader.Convert(plat::PathFromNative(dir.path() + "/missing.rtf").c_str()), 1);
    EXPECT_FALSE(reader.LastLoadSucceeded());
    EXPECT_TRUE(out.empty());
}

}  // namespace

namespace {

std::u16string ReadRtfFile(const std::string& path)
{
    std::u16string out;
    CTextCollector collector;
    collector.SetOutput(&out);
    CRtfTextConvert reader(&collector, 0);
    reader.Convert(plat::PathFromNative(path).c_str());
    EXPECT_TRUE(reader.LastLoadSucceeded()) << path;
    return out;
}

TEST(RtfCorpus, PublicFilesGiveText)
{
    const std::string corpus = ps_test::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    int seen = 0;
    std::error_code ec;
    for (const auto& f : std::filesystem::directory_iterator(corpus + "/public/rtf", ec)) {
        ++seen;
        std::u16string text = ReadRtfFile(f.path().string());
        EXPECT_FALSE(text.empty()) << f.path();
    }
    EXPECT_GT(seen, 0);
}

// Healthy documents never read as damaged.
TEST(RtfCorpus, FilesReadWithoutDamage)
{
    const std::string corpus = ps_test::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    int seen = 0;
    for (const char* folder : {"/public/rtf", "/pii"}) {
        std::error_code ec;
        for (const auto& f : std::filesystem::directory_iterator(corpus + folder, ec)) {
            if (f.path().extension() != ".rtf")
                continue;
            ++seen;
            plat::DamageScope scope;
            ReadRtfFile(f.path().string());
            EXPECT_FALSE(scope.Damaged()) << f.path() << ": " << scope.Reason();
        }
    }
    EXPECT_GT(seen, 0);
}

// Every personal-information file yields its phone numbers and e-mail
// addresses as whole words.
TEST(RtfCorpus, PiiFilesHoldTheirItems)
{
    const std::string corpus = ps_test::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    const std::string expected = ps_test::ReadFileBytes(corpus + "/pii/expected.tsv");
    std::istringstream lines(expected);
    std::string line;
    int seen = 0;
    const std::regex phone("0[0-9]{1,2}[-. )]*[0-9]{3,4}[-. ]*[0-9]{4}");
    const std::regex email("[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}");
    while (std::getline(lines, line)) {
        std::istringstream cols(line);
        std::string name, resident, account, card, phones, address, emails;
        cols >> name >> resident >> account >> card >> phones >> address >> emails;
        if (name.size() < 4 || name.substr(name.size() - 4) != ".rtf")
            continue;
        ++seen;
        const std::string text = plat::WideToUtf8(ReadRtfFile(corpus + "/pii/" + name));
        auto count = [&](const std::regex& re) {
            return static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), re),
                                                  std::sregex_iterator()));
        };
        EXPECT_GE(count(phone), std::stoi(phones)) << name;
        EXPECT_GE(count(email), std::stoi(emails)) << name;
    }
    EXPECT_GT(seen, 0);
}

}  // namespace
