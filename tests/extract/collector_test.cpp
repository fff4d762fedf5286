#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "extract/converter.h"
#include "extract/textcollector.h"

namespace {

// Writes units into the current buffer (reserving room first) and returns it.
char16_t* Fill(CTextCollector& c, const std::u16string& units)
{
    char16_t* b = c.GetBuffer(static_cast<int>(units.size()) + 1);
    std::memcpy(b, units.data(), units.size() * sizeof(char16_t));
    b[units.size()] = 0;
    return b;
}

// An HWP inline control: the code, six units of control data, the code again.
std::u16string Control(char16_t code)
{
    return std::u16string(1, code) + u"abcdef" + std::u16string(1, code);
}

struct TestManager : CHwpTextConvertItem {
    int Convert(const char16_t*) override { return 0; }
    void Finish() override { SetOutputString(nullptr); }
    int IsFormat(const char16_t*) override { return 5; }
};

struct TestOfficeManager : CMSTextConvertItem {
    int Convert(const char16_t*) override { return 0; }
    int IsFormat(const char16_t*) override { return 1; }
};

}  // namespace

TEST(TextCollector, CommitTextTurnsCellAndParagraphMarksIntoLineFeeds)
{
    const struct {
        std::u16string units;
        int start, end;
        std::u16string expected;
    } cases[] = {
        {u"ab\x0007" u"c\r", 0, 5, u"ab\nc\n"},
        {u"xxab\ry", 2, 5, u"ab\n"},      // only start..end-1; a zero is written at end
        {std::u16string(1, u'\0') + u"abc", 0, 4, u""},  // a piece that begins with 0
        {u"abc", 0, 0, u""},              // end 0: nothing
        {u"abc", 2, 1, u""},              // start beyond end: zero at start
        {u"ab\0cd", 0, 5, u"ab"},         // stops at the first zero
    };
    for (const auto& c : cases) {
        CTextCollector collector;
        std::u16string out;
        collector.SetOutput(&out);
        Fill(collector, c.units);
        collector.CommitText(c.start, c.end);
        EXPECT_EQ(out, c.expected) << "start " << c.start << " end " << c.end;
    }
}

TEST(TextCollector, CommitHwpTextSkipsInlineControlsAsAWhole)
{
    const struct {
        const char* name;
        std::u16string units;
        std::u16string expected;
    } cases[] = {
        {"tab kept once", u"x" + Control(9) + u"y\r", u"x\ty\n"},
        {"line break kept", u"a\nb", u"a\nb"},
        {"non-breaking and fixed-width blanks are spaces", u"\x1E" u"3\x1F" u"1", u" 3 1"},
        {"paragraph end", u"\r", u"\n"},
        {"controls only", Control(2) + Control(11) + Control(21), u""},
        {"codes 0 and 24-31 take one unit, the hyphen 24 stays",
         u"a" + std::u16string(1, u'\0') + u"\x18\x1F" + u"b", u"a- b"},
        {"hyphens of a number", u"010\x18" u"1234\x18" u"5678", u"010-1234-5678"},
        {"extended control", u"p" + Control(3) + u"q", u"pq"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CTextCollector collector;
        std::u16string out;
        collector.SetOutput(&out);
        Fill(collector, c.units);
        collector.CommitHwpText(0, static_cast<int>(c.units.size()));
        EXPECT_EQ(out, c.expected);
    }
}

TEST(TextCollector, CommitHwpTextReadsNothingBeyondTheEnd)
{
    CTextCollector collector;
    std::u16string out;
    collector.SetOutput(&out);
    // A section control (2) two units before the end: the walk steps over
    // eight units and stops; the letters after end are never read.
    Fill(collector, u"ab\x0002" u"cdZZZZZZZ");
    collector.CommitHwpText(0, 4);
    EXPECT_EQ(out, u"ab");
    // A long piece goes through whole (the temporary lives on the heap).
    const std::u16string big(300000, u'가');
    out.clear();
    Fill(collector, big);
    collector.CommitHwpText(0, static_cast<int>(big.size()));
    EXPECT_EQ(out, big);
}

TEST(TextCollector, CommitRangeAppendsUnchanged)
{
    CTextCollector collector;
    std::u16string out;
    collector.SetOutput(&out);
    Fill(collector, u"a\rb\x0007zz");
    collector.CommitRange(0, 4);
    collector.CommitRange(0, 0);
    EXPECT_EQ(out, u"a\rb\x0007");
}

TEST(TextCollector, WithoutOutputEveryCommitIsDroppedAndResetEmptiesNothing)
{
    CTextCollector collector;
    Fill(collector, u"text\r");
    collector.CommitText(0, 5);
    collector.CommitHwpText(0, 2);
    collector.CommitRange(0, 2);
    collector.Reset();
    std::u16string out = u"before";
    collector.SetOutput(&out);
    collector.Reset();
    EXPECT_EQ(out, u"");
}

TEST(TextCollector, GrowingBufferLosesItsTextAndStaysForSmallerPieces)
{
    CTextCollector collector;
    char16_t* first = collector.GetBuffer(10);
    EXPECT_EQ(collector.GetCurrentBuffer()->Capacity(), 266);
    first[0] = u'x';
    EXPECT_EQ(collector.GetBuffer(200), first);  // room enough: unchanged
    EXPECT_EQ(collector.GetBuffer(0), first);
    EXPECT_EQ(first[0], u'x');
    char16_t* grown = collector.GetBuffer(1000);
    EXPECT_EQ(collector.GetCurrentBuffer()->Capacity(), 1256);
    EXPECT_EQ(grown[0], 0);  // the text is lost: readers write after reserving
}

TEST(TextCollector, PushedBufferKeepsTheEnclosingText)
{
    CTextCollector collector;
    std::u16string out;
    collector.SetOutput(&out);
    Fill(collector, u"outer\r");
    ASSERT_EQ(collector.PushBuffer(), 1);
    Fill(collector, u"cell\x0007");
    collector.CommitText(0, 5);
    EXPECT_EQ(collector.PopBuffer(), 1);
    collector.CommitText(0, 6);
    EXPECT_EQ(out, u"cell\nouter\n");
    // Pop without a saved buffer keeps the current one.
    EXPECT_EQ(collector.PopBuffer(), 1);
    EXPECT_NE(collector.GetCurrentBuffer(), nullptr);
    // Reset drops saved buffers (asan checks that nothing leaks).
    collector.PushBuffer();
    collector.PushBuffer();
    collector.Reset();
    EXPECT_EQ(collector.PopBuffer(), 1);
}

TEST(TextCollector, AppendTextBuildsOnePieceWithItsSuffix)
{
    CTextCollector collector;
    std::u16string out;
    collector.SetOutput(&out);
    AppendTextToCollector(&collector, u"abc", -1, u"\r");
    AppendTextToCollector(&collector, u"defgh", 2, nullptr);
    AppendTextToCollector(&collector, u"", -1, u"suffix");
    AppendTextToCollector(&collector, nullptr, -1, u"suffix");
    AppendTextToCollector(&collector, u"ij", 99, u"\x0007");  // a count beyond the text is cut
    AppendTextToCollector(nullptr, u"lost", -1, nullptr);
    EXPECT_EQ(out, u"abc\nde" u"ij\n");

    out.clear();
    CHwpTextConvertItem::AppendHwpText(&collector, (u"x" + Control(9) + u"y").c_str(), -1, u"\r");
    EXPECT_EQ(out, u"x\ty\n");
}

TEST(TextConvertItem, CollectorAndOutputLifecycle)
{
    TestManager hwp;
    EXPECT_EQ(hwp.PushBuffer(), 0);  // no collector yet
    EXPECT_EQ(hwp.PopBuffer(), 0);
    std::u16string out;
    hwp.SetOutputString(&out);
    CTextCollector* collector = hwp.GetTextCollector();
    EXPECT_EQ(collector->GetOutput(), &out);
    EXPECT_EQ(hwp.GetTextCollector(), collector);
    EXPECT_EQ(hwp.PushBuffer(), 1);
    EXPECT_EQ(hwp.PopBuffer(), 1);
    hwp.Finish();
    EXPECT_EQ(collector->GetOutput(), nullptr);

    TestOfficeManager office;
    office.SetOutputString(&out);
    AppendTextToCollector(office.GetTextCollector(), u"word", -1, u"\r");
    office.Finish();
    AppendTextToCollector(office.GetTextCollector(), u"dropped", -1, nullptr);
    EXPECT_EQ(out, u"word\n");
    EXPECT_EQ(office.GetStatus(), 0);
}

// The document's text budget: whatever way the pieces come (through the
// scratch buffer, given whole with a suffix, HWP code units), the output
// stops at the text limit, cut inside the piece that passes it; what comes
// after is dropped, and the limit is noted for the document as its memory
// limit. Read outside a search (no scope), the cut is noted as damage.
TEST(TextCollector, TextPastTheDocumentsLimitIsCutAndNoted)
{
    const std::u16string piece = u"0123456789";  // ten characters a commit
    enum Way { Buffered, Whole, Hwp };
    for (Way way : {Buffered, Whole, Hwp}) {
        SCOPED_TRACE(static_cast<int>(way));
        auto commitAll = [&](CTextCollector& c) {
            for (int i = 0; i < 10; ++i) {
                if (way == Buffered) {
                    Fill(c, piece);
                    c.CommitText(0, static_cast<int>(piece.size()));
                } else if (way == Whole) {
                    AppendTextToCollector(&c, piece.c_str(), -1, u"\r");  // ten and a line end
                } else {
                    AppendHwpTextToCollector(&c, piece.c_str(), -1, nullptr);
                }
            }
        };
        plat::DocumentBudget budget{};
        budget.text = 35;
        std::atomic<int32_t> stop{0};
        plat::MemoryCeiling ceiling(uint64_t{1} << 30, 4096);
        {
            plat::ReadCancelScope scope(&stop, budget, &ceiling);
            std::u16string out;
            CTextCollector c;
            c.SetOutput(&out);
            commitAll(c);
            EXPECT_EQ(out.size(), 35u);
            EXPECT_EQ(out.substr(30), way == Whole ? u"89\n01" : u"01234");
            EXPECT_TRUE(c.LimitReached());
            EXPECT_EQ(scope.LimitReached(), kReadLimitMemory);
            // The output's room was taken from the document's account.
            EXPECT_GT(ceiling.Reserved(), 0u);
        }
        EXPECT_EQ(ceiling.Reserved(), 0u);
        {
            const plat::DocumentBudget saved = plat::SetDocumentBudget(budget);
            plat::DamageScope damage;
            std::u16string out;
            CTextCollector c;
            c.SetOutput(&out);
            commitAll(c);
            plat::SetDocumentBudget(saved);
            EXPECT_EQ(out.size(), 35u);
            EXPECT_TRUE(damage.Damaged());
        }
        {
            // Under the limit: nothing cut, nothing noted.
            budget.text = 110;
            plat::ReadCancelScope scope(&stop, budget, &ceiling);
            plat::DamageScope damage;
            std::u16string out;
            CTextCollector c;
            c.SetOutput(&out);
            commitAll(c);
            EXPECT_EQ(out.size(), way == Whole ? 110u : 100u);
            EXPECT_FALSE(c.LimitReached());
            EXPECT_EQ(scope.LimitReached(), kReadLimitNone);
            EXPECT_FALSE(damage.Damaged());
        }
    }
}

// The output's growth counts against the search's memory ceiling (not the
// document's own memory budget, which its reader may have used up): a text
// whose room would pass the ceiling, with no other document to give memory
// back, is cut at the room it already had.
TEST(TextCollector, OutputGrowthIsHeldToTheSearchsMemory)
{
    plat::DocumentBudget budget{};
    budget.memory = 4096;  // the reader's own: the text is not held to it
    std::atomic<int32_t> stop{0};
    plat::MemoryCeiling ceiling(64 * 1024, 4096);  // room for fewer than 32 K characters
    plat::ReadCancelScope scope(&stop, budget, &ceiling);
    EXPECT_TRUE(plat::TakeMemory(scope.MemoryAccount(), 4096));
    std::u16string out;
    CTextCollector c;
    c.SetOutput(&out);
    const std::u16string line(1000, u'x');
    for (int i = 0; i < 100; ++i)
        AppendTextToCollector(&c, line.c_str(), -1, nullptr);
    EXPECT_TRUE(c.LimitReached());
    EXPECT_EQ(scope.LimitReached(), kReadLimitMemory);
    EXPECT_LE(out.capacity() * sizeof(char16_t), ceiling.Limit());
    EXPECT_GE(out.size(), 8000u);  // it grew as far as the ceiling let it
    EXPECT_LE(ceiling.PeakReserved(), ceiling.Limit());
}

// A scratch buffer asked for a piece no document may give (more than twice
// its text limit) or for room the search's memory cannot give is refused
// with the limit noted; the text committed before stays.
TEST(TextCollector, ScratchRoomIsHeldToTheDocumentsLimits)
{
    std::atomic<int32_t> stop{0};
    plat::MemoryCeiling ceiling(64 * 1024, 4096);
    for (bool byText : {true, false}) {
        SCOPED_TRACE(byText);
        plat::DocumentBudget budget{};
        budget.text = byText ? 1000 : 0;
        plat::ReadCancelScope scope(&stop, budget, &ceiling);
        std::u16string out;
        CTextCollector c;
        c.SetOutput(&out);
        Fill(c, u"kept");
        c.CommitText(0, 4);
        EXPECT_THROW(c.GetBuffer(byText ? 2100 : 20000), std::bad_alloc);
        EXPECT_EQ(out, u"kept");
        EXPECT_TRUE(c.LimitReached());
        EXPECT_EQ(scope.LimitReached(), kReadLimitMemory);
        EXPECT_LE(ceiling.PeakReserved(), ceiling.Limit());
    }
    EXPECT_EQ(ceiling.Reserved(), 0u);
}
