// Damaged Word 97-2003 and Word 6/95 documents: the readers go on reading
// what they can and note the damage (plat::NoteDamage), so that a document
// whose structures contradict each other or their streams never reads
// clean. Each test is one family of damage, its cases in a table, with the
// healthy document beside them reading clean.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "extract/textcollector.h"
#include "office/word/msword97.h"
#include "office/word/word6text.h"
#include "platform/cfb.h"
#include "platform/docfile.h"
#include "platform/text.h"
#include "support/cfb_writer.h"
#include "support/docbuilder.h"
#include "support/word6builder.h"

using ps_test::GetLe32;
using ps_test::Le16s;
using ps_test::PutLe32;
using ps_test::WordDocBuilder;

namespace {

struct Outcome {
    bool read = false;
    std::u16string text;
    std::string damage;  // the first reason noted, empty when none
};

template <class Reader>
Outcome ReadFile(const std::string& file)
{
    Outcome o;
    plat::CfbPtr<plat::CfbStorage> root;
    if (plat::Failed(plat::CfbOpenStorageOnMemory(file, root.put())))
        return o;
    CTextCollector collector;
    collector.SetOutput(&o.text);
    Reader reader(&collector);
    plat::DamageScope scope;
    o.read = reader.ConvertStorage(root.get()) != 0;
    if (scope.Damaged())
        o.damage = scope.Reason();
    return o;
}

Outcome Read97(const std::string& file) { return ReadFile<CMSWord802Text>(file); }
Outcome Read6(const std::string& file) { return ReadFile<CMSWord2Text>(file); }

// sprmCFSpec 1: the run's characters are special.
const std::string kSpec = Le16s(0x0855) + std::string(1, '\x01');

// A document of three pieces (8-bit, UTF-16, 8-bit) with a footnote.
WordDocBuilder NoteDocument()
{
    WordDocBuilder b;
    b.mainText = u"Before\x02 after 010-1234-5678\r";
    b.footnoteText = u"\x02 note 02-123-4567\r";
    const std::int32_t main = static_cast<std::int32_t>(b.mainText.size());
    const std::int32_t note = static_cast<std::int32_t>(b.footnoteText.size());
    const std::int32_t total = main + note + 1;  // and the final paragraph mark
    b.charRuns = {{0, 6, ""}, {6, 7, kSpec}, {7, total, ""}};
    b.footnoteRefs = {6};
    b.footnoteCps = {0, note};
    b.pieces = {{0, 10}, {10, main}, {main, total}};
    b.pieceCompressed = {true, false, true};
    b.Build();
    return b;
}

std::string Pack(const std::string& word, const std::string* table)
{
    ps_test::CfbWriter w(3);
    w.AddStream(u"WordDocument", word);
    if (table)
        w.AddStream(u"0Table", *table);
    return w.Build();
}

// The offset in the table stream of the piece table's parts.
struct Clx {
    std::uint32_t at, size, pieces;
    std::uint32_t Cp(std::uint32_t i) const { return at + 5 + 4 * i; }
    std::uint32_t Fc(std::uint32_t i) const { return at + 5 + 4 * (pieces + 1) + 8 * i + 2; }
};
Clx ClxOf(const std::string& word)
{
    const std::uint32_t at = GetLe32(word, 418), size = GetLe32(word, 422);
    return {at, size, (size - 9) / 12};
}

struct Case97 {
    const char* name;
    std::function<void(std::string& word, std::string& table)> damage;
};

void ExpectDamaged(const std::vector<Case97>& cases)
{
    const WordDocBuilder b = NoteDocument();
    const std::string healthyTable = b.Table();
    const Outcome healthy = Read97(Pack(b.WordDocument(), &healthyTable));
    ASSERT_TRUE(healthy.read);
    ASSERT_EQ(healthy.damage, "");
    for (const Case97& c : cases) {
        std::string word = b.WordDocument(), table = b.Table();
        c.damage(word, table);
        const Outcome o = Read97(Pack(word, &table));
        EXPECT_NE(o.damage, "") << c.name << ": " << plat::WideToUtf8(o.text);
    }
}

}  // namespace

TEST(Word97Damage, PiecesPastTheStreamOrInTheWrongPlace)
{
    ExpectDamaged({
        {"a piece far past the stream",
         [](std::string& w, std::string& t) { PutLe32(t, ClxOf(w).Fc(1), 0x7FFFFF00u); }},
        {"a piece whose end runs past the stream",
         [](std::string& w, std::string& t) { PutLe32(t, ClxOf(w).Fc(1), static_cast<std::uint32_t>(w.size() - 10)); }},
        {"a piece in the FIB", [](std::string& w, std::string& t) { PutLe32(t, ClxOf(w).Fc(0), 0x40000000u | 400); }},
        {"a piece outside the text of a document saved whole",
         [](std::string& w, std::string&) { PutLe32(w, 28, GetLe32(w, 28) - 4); }},
        {"a piece partly over the next one",
         [](std::string& w, std::string& t) { PutLe32(t, ClxOf(w).Fc(1), GetLe32(t, ClxOf(w).Fc(1)) + 4); }},
        {"a UTF-16 piece over an 8-bit one",
         [](std::string& w, std::string& t) { PutLe32(t, ClxOf(w).Fc(1), 1024); }},
        {"a piece in a formatted page",
         [](std::string& w, std::string& t) {
             PutLe32(t, ClxOf(w).Fc(2), 0x40000000u | (2 * 512 * GetLe32(t, GetLe32(w, 250) + 8)));
         }},
    });
}

TEST(Word97Damage, StreamsCutShort)
{
    ExpectDamaged({
        {"the stream shorter than the FIB's byte count",
         [](std::string& w, std::string&) { PutLe32(w, 64, static_cast<std::uint32_t>(w.size() + 512)); }},
        {"the stream cut before its pages", [](std::string& w, std::string&) { w.resize(w.size() - 512); }},
        {"the table stream cut inside the piece table",
         [](std::string& w, std::string& t) { t.resize(ClxOf(w).at + 10); }},
        {"a table past the table stream",
         [](std::string& w, std::string& t) { PutLe32(w, 206, static_cast<std::uint32_t>(t.size())); }},
    });
}

TEST(Word97Damage, PieceTableThatContradictsItself)
{
    ExpectDamaged({
        {"a property run past the Clx",
         [](std::string& w, std::string& t) {
             const Clx c = ClxOf(w);
             t.insert(c.at, std::string("\x01\xF0\x00", 3));
             PutLe32(w, 422, c.size + 3);
         }},
        {"a piece count that disagrees with the length",
         [](std::string& w, std::string& t) { PutLe32(t, ClxOf(w).at + 1, ClxOf(w).size - 5 - 12); }},
        {"neither a property run nor the pieces", [](std::string& w, std::string& t) { t[ClxOf(w).at] = 7; }},
        {"pieces out of order", [](std::string& w, std::string& t) { PutLe32(t, ClxOf(w).Cp(1), 40); }},
        {"the first piece not at the start", [](std::string& w, std::string& t) { PutLe32(t, ClxOf(w).Cp(0), 1); }},
    });
}

TEST(Word97Damage, StoriesThePiecesDoNotHold)
{
    ExpectDamaged({
        {"main text longer than the pieces", [](std::string& w, std::string&) { PutLe32(w, 76, 80); }},
        {"main text shorter than the pieces", [](std::string& w, std::string&) { PutLe32(w, 76, 20); }},
        {"no footnote story for the pieces' notes", [](std::string& w, std::string&) { PutLe32(w, 80, 0); }},
        {"a negative story length", [](std::string& w, std::string&) { PutLe32(w, 84, 0xFFFFFFF0u); }},
    });
}

TEST(Word97Damage, TablesOutOfOrderOrShortOfTheirStory)
{
    ExpectDamaged({
        {"a section not at the start",
         [](std::string& w, std::string& t) { PutLe32(t, GetLe32(w, 202), 1); }},
        {"a section table whose length holds no whole section",
         [](std::string& w, std::string&) { PutLe32(w, 206, GetLe32(w, 206) - 4); }},
        {"note text past its story",
         [](std::string& w, std::string& t) { PutLe32(t, GetLe32(w, 178) + 4, 60); }},
        {"notes short of their story",
         [](std::string& w, std::string& t) { PutLe32(t, GetLe32(w, 178) + 4, 10); }},
        {"a story of notes without its table", [](std::string& w, std::string&) { PutLe32(w, 174, 0); }},
        {"character runs out of order",
         [](std::string& w, std::string& t) { PutLe32(w, 512 * GetLe32(t, GetLe32(w, 250) + 8) + 4, 0); }},
        {"a page past the stream",
         [](std::string& w, std::string& t) { PutLe32(t, GetLe32(w, 258) + 8, 0x7FFF); }},
    });
}

TEST(Word97Damage, HeaderStoryEndingInsideItsTextKeepsItsLastCharacter)
{
    WordDocBuilder b;
    b.mainText = u"Body\r";
    b.headerText = u"Head 010-1234-5678\r\r";
    // The story's end one character early: its last character is a digit.
    b.headerCps = {0, 0, 0, 0, 0, 0, 0, 18, 18, 18, 18, 18, 18, 20};
    Outcome o = Read97(b.Build());
    EXPECT_EQ(o.text, u"Head 010\u20101234\u20105678Body\n");
    EXPECT_NE(o.damage, "");
    b.headerCps = {0, 0, 0, 0, 0, 0, 0, 19, 19, 19, 19, 19, 19, 20};
    o = Read97(b.Build());
    EXPECT_EQ(o.text, u"Head 010\u20101234\u20105678Body\n");
    EXPECT_EQ(o.damage, "");
}

// A note whose reference never comes (its mark is no special character)
// keeps its text: it follows the main text, and the document reads clean.
TEST(Word97Damage, NoteWithoutItsReferenceFollowsTheMainText)
{
    WordDocBuilder b = NoteDocument();
    b.charRuns = {{0, 6, ""}, {6, 7, ""}, {7, b.charRuns.back().cpEnd, ""}};
    const Outcome o = Read97(b.Build());
    EXPECT_EQ(o.damage, "");
    EXPECT_NE(o.text.find(u"note 02\u2010123\u20104567"), std::u16string::npos) << plat::WideToUtf8(o.text);
}

namespace {

ps_test::Word6Builder Word6Document()
{
    ps_test::Word6Builder b;
    b.styles = true;
    b.complex = true;
    b.main = std::string("One\x02 two 010-1234-5678\r", 23);
    b.refCps = {{3, 0}};
    b.footnotes = std::string("\x02 FA 02-123-4567\r\r", 18);
    b.footnotePlc = {0, 17, 18};
    b.headers = std::string("\r\rHead\r\r", 8);
    b.headerPlc = {0, 2, 8};
    return b;
}

}  // namespace

TEST(Word6Damage, PiecesAndStoriesThatDisagree)
{
    const std::string healthy = Word6Document().Stream();
    const Outcome ok = Read6(Pack(healthy, nullptr));
    ASSERT_TRUE(ok.read);
    ASSERT_EQ(ok.damage, "");
    const std::uint32_t clx = GetLe32(healthy, 0x160);
    const std::uint32_t pcdt = clx + 5;  // behind the 2-byte property run
    const struct {
        const char* name;
        std::function<void(std::string&)> damage;
    } cases[] = {
        {"a piece past the stream", [&](std::string& s) { PutLe32(s, pcdt + 5 + 12 + 2, 0x7FFFFF00u); }},
        {"a piece whose end runs past the stream",
         [&](std::string& s) { PutLe32(s, pcdt + 5 + 12 + 2, static_cast<std::uint32_t>(s.size() - 4)); }},
        {"a piece table longer than the Clx", [&](std::string& s) { PutLe32(s, pcdt + 1, 200); }},
        {"a piece count that disagrees with the length",
         [&](std::string& s) { PutLe32(s, pcdt + 1, GetLe32(s, pcdt + 1) - 2); }},
        {"a property run past the Clx", [&](std::string& s) { s[clx + 1] = '\x40'; }},
        {"a fast-saved document without its piece table", [&](std::string& s) { PutLe32(s, 0x164, 0); }},
        {"pieces out of order", [&](std::string& s) { PutLe32(s, pcdt + 5 + 4, 70); }},
        {"a piece boundary moved", [&](std::string& s) { PutLe32(s, pcdt + 5 + 4, GetLe32(s, pcdt + 5 + 4) - 3); }},
        {"main text longer than the pieces", [&](std::string& s) { PutLe32(s, 0x34, 90); }},
        {"main text shorter than the pieces", [&](std::string& s) { PutLe32(s, 0x34, 10); }},
        {"the text's end past the stream",
         [&](std::string& s) { PutLe32(s, 0x1C, static_cast<std::uint32_t>(s.size() + 1)); }},
        {"a note ending inside its text", [&](std::string& s) { PutLe32(s, GetLe32(s, 0x70) + 4, 12); }},
        {"header positions out of order", [&](std::string& s) { PutLe32(s, GetLe32(s, 0xB0) + 4, 9); }},
        {"a page past the stream", [&](std::string& s) { s[GetLe32(s, 0xB8) + 8] = '\x7F'; }},
        {"a page that does not start where its table says",
         [&](std::string& s) { PutLe32(s, GetLe32(s, 0xB8), GetLe32(s, GetLe32(s, 0xB8)) + 1); }},
        {"the stream cut inside the text", [&](std::string& s) { s.resize(1040); }},
    };
    for (const auto& c : cases) {
        std::string s = healthy;
        c.damage(s);
        const Outcome o = Read6(Pack(s, nullptr));
        EXPECT_NE(o.damage, "") << c.name << ": " << plat::WideToUtf8(o.text);
    }
}

TEST(Word97Damage, DrawingAndSideTablesThatContradictThemselves)
{
    WordDocBuilder b;
    b.mainText = u"A\x08 010-1234-5678\r";
    b.textBoxText = u"box 02-123-4567\r\r";
    b.charRuns = {{0, 1, ""}, {1, 2, kSpec}, {2, 35, ""}};
    b.anchors = {{1, 1025}};
    b.textBoxes = {{0, 16, 1025}, {16, 17, 0}};
    const std::int32_t group[4] = {0, 0, 1000, 1000};
    b.dggInfo = ps_test::ArtDrawing(1030, ps_test::ArtShape(1024, 0, 0x5, false, group) +
                                              ps_test::ArtShape(1025, 202, 0x0, true));
    b.Build();
    const std::string word = b.WordDocument(), table = b.Table();
    const Outcome healthy = Read97(Pack(word, &table));
    ASSERT_EQ(healthy.damage, "");
    ASSERT_NE(healthy.text.find(u"box"), std::u16string::npos) << plat::WideToUtf8(healthy.text);
    const struct {
        const char* name;
        std::function<void(std::string& w, std::string& t)> damage;
    } cases[] = {
        {"drawing data cut inside a shape", [](std::string& w, std::string&) { PutLe32(w, 558, GetLe32(w, 558) - 20); }},
        {"an anchor table whose length holds no whole anchor",
         [](std::string& w, std::string&) { PutLe32(w, 478, GetLe32(w, 478) - 2); }},
        {"a text box past its story", [](std::string& w, std::string& t) { PutLe32(t, GetLe32(w, 602) + 4, 40); }},
        {"a list count beyond the table",
         [](std::string& w, std::string& t) {
             PutLe32(w, 738, static_cast<std::uint32_t>(t.size()));
             PutLe32(w, 742, 2);
             t += std::string("\x09\x00", 2);
         }},
        {"bookmark names past their table",
         [](std::string& w, std::string& t) {
             PutLe32(w, 322, static_cast<std::uint32_t>(t.size()));
             PutLe32(w, 326, 8);
             t += std::string("\xFF\xFF\x05\x00\x00\x00\x03\x00", 8);
         }},
    };
    for (const auto& c : cases) {
        std::string w = word, t = table;
        c.damage(w, t);
        const Outcome o = Read97(Pack(w, &t));
        EXPECT_NE(o.damage, "") << c.name << ": " << plat::WideToUtf8(o.text);
    }
}

TEST(Word6Damage, SideTablesThatContradictThemselves)
{
    ps_test::Word6Builder b = Word6Document();
    b.fontCharset = 129;
    const std::string healthy = b.Stream();
    ASSERT_EQ(Read6(Pack(healthy, nullptr)).damage, "");
    const struct {
        const char* name;
        std::function<void(std::string&)> damage;
    } cases[] = {
        {"a font record shorter than a font", [&](std::string& s) { s[GetLe32(s, 0xD0) + 2] = 2; }},
        {"a font table past the stream", [&](std::string& s) { PutLe32(s, 0xD0, static_cast<std::uint32_t>(s.size())); }},
        {"a style sheet past the stream", [&](std::string& s) { PutLe32(s, 0x64, static_cast<std::uint32_t>(s.size())); }},
        {"a style record past the style sheet", [&](std::string& s) { PutLe32(s, 0x64, GetLe32(s, 0x64) - 5); }},
        {"a note table past the stream", [&](std::string& s) { PutLe32(s, 0x74, static_cast<std::uint32_t>(s.size())); }},
    };
    for (const auto& c : cases) {
        std::string s = healthy;
        c.damage(s);
        const Outcome o = Read6(Pack(s, nullptr));
        EXPECT_NE(o.damage, "") << c.name << ": " << plat::WideToUtf8(o.text);
    }

    // More reference marks than notes (and the story's closing mark): the
    // characters in the reference style write nothing.
    ps_test::Word6Builder marks = Word6Document();
    marks.refCps = {{3, 0}, {5, 0}, {6, 0}};
    EXPECT_NE(Read6(Pack(marks.Stream(), nullptr)).damage, "");
}
