// Damaged PDF documents and the work budget: a document that is cut short,
// repaired, changed while it is read, without a page tree, or that reaches a
// limit of its budget is read as far as it goes and never reported clean.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "extract/extractlib.h"
#include "extract/pdf/pdftext.h"
#include "pdf_builder.h"
#include "platform/docfile.h"
#include "platform/system.h"
#include "platform/text.h"
#include "search/extractors.h"
#include "search/scan.h"
#include "support/isolation.h"
#include "support/errorlist.h"

using namespace pdf_test;

namespace {

std::u16string W(const std::string& native) { return plat::PathFromNative(native); }

struct Extraction {
    int status = -1;
    std::u16string text;
};

Extraction Convert(const std::string& path)
{
    Extraction e;
    e.status = static_cast<int>(ConvertPdfToText(W(path).c_str(), nullptr, &e.text));
    return e;
}

void Collect(void* user, const void* text, int length, int)
{
    static_cast<std::u16string*>(user)->append(static_cast<const char16_t*>(text), static_cast<size_t>(length));
}

std::string Write(const ps_test::TempDir& dir, const std::string& name, const std::string& bytes)
{
    const std::string path = dir.file(name);
    EXPECT_TRUE(ps_test::WriteFileBytes(path, bytes));
    return path;
}

// Two pages with personal information on each.
std::string PersonalPdf()
{
    return MakePdf({ShowLines({"Hong Gildong", "mail hong.gildong@example.com", "tel 010-2345-6789"}),
                    ShowLines({"Kim Cheolsu", "mail kim.cheolsu@example.org", "end of the list"})});
}

using ps_test::ListedReason;

// Sets the budget of the documents read while alive.
struct BudgetGuard {
    plat::DocumentBudget saved;
    explicit BudgetGuard(const plat::DocumentBudget& b) : saved(plat::SetDocumentBudget(b)) {}
    ~BudgetGuard() { plat::SetDocumentBudget(saved); }
};

}  // namespace

// A download cut short at any point is not read to its end: the entry gives
// status 1 (with the text before the cut, if any) and the search lists it as
// not read completely. Only a cut after the cross-reference table and its
// offset (the end-of-file marker) loses nothing: that document is read whole.
TEST(PdfDamage, ATruncatedDocumentIsNeverReadClean)
{
    ps_test::TempDir dir;
    const std::string full = PersonalPdf();
    const Extraction whole = Convert(Write(dir, "whole.pdf", full));
    ASSERT_EQ(whole.status, 0);
    ASSERT_NE(whole.text.find(u"kim.cheolsu@example.org"), std::u16string::npos);
    const size_t offsetEnd = full.find('\n', full.rfind("startxref") + 10);
    ASSERT_NE(offsetEnd, std::string::npos);

    std::vector<size_t> cuts;
    for (size_t at = 0; at < full.size(); at += full.size() / 60 + 1)
        cuts.push_back(at);
    for (size_t at = full.rfind("trailer"); at < full.size(); ++at)
        cuts.push_back(at);  // every byte of the trailer, the offset and the marker
    for (size_t at : cuts) {
        SCOPED_TRACE("cut at " + std::to_string(at) + " of " + std::to_string(full.size()));
        const std::string path = Write(dir, "cut.pdf", full.substr(0, at));
        const Extraction e = Convert(path);
        if (at >= offsetEnd) {
            EXPECT_EQ(e.status, 0);
            EXPECT_EQ(e.text, whole.text);
            continue;
        }
        EXPECT_EQ(e.status, 1);
        EXPECT_LE(e.text.size(), whole.text.size());
        PersonalInfoCounts counts{};
        const ScanStatus scan = FindPersonalInfoInFile(W(path), counts, 0xFFFF, nullptr, nullptr);
        EXPECT_TRUE(ScanLeftDocumentUnread(scan)) << static_cast<int>(scan);
        EXPECT_FALSE(ListedReason(path).empty());
    }
}

// A catalog without a page tree is a damaged document, not an empty one.
TEST(PdfDamage, ACatalogWithoutPageTreeIsNotRead)
{
    PdfBuilder b;
    const int catalog = b.Add("<< /Type /Catalog >>");
    b.Add("<< /Type /Page /MediaBox [0 0 612 792] >>");
    ps_test::TempDir dir;
    PdfExtractStats stats{};
    std::u16string text;
    const std::string path = Write(dir, "no-tree.pdf", b.Build(catalog));
    EXPECT_EQ(ExtractPdfText(W(path).c_str(), &Collect, &text, &stats), 0);
    EXPECT_EQ(stats.incomplete, PDF_INCOMPLETE_NO_PAGE_TREE);
    EXPECT_EQ(Convert(path).status, 1);
}

// A file rewritten while its text is read is not the document that was read.
TEST(PdfDamage, AFileChangedWhileItIsReadIsNotReadClean)
{
    ps_test::TempDir dir;
    const std::string path = Write(dir, "changing.pdf", PersonalPdf());
    struct Rewriter {
        std::string path;
        std::u16string text;
        bool done = false;
    } rewriter{path, {}, false};
    auto rewrite = [](void* user, const void* text, int length, int) {
        auto* r = static_cast<Rewriter*>(user);
        r->text.append(static_cast<const char16_t*>(text), static_cast<size_t>(length));
        if (!r->done) {
            r->done = true;
            std::ofstream(r->path, std::ios::binary | std::ios::trunc) << MakePdf({ShowLines({"other"})});
        }
    };
    PdfExtractStats stats{};
    EXPECT_EQ(ExtractPdfText(W(path).c_str(), rewrite, &rewriter, &stats), 0);
    EXPECT_TRUE(rewriter.done);
    EXPECT_TRUE(stats.incomplete & PDF_INCOMPLETE_CHANGED) << stats.incomplete;
}

// The budgets a page can reach: operators (a long content stream), the
// nesting and repeats of forms (ten forms deep, each drawing the next ten
// times), memory. Each document is read in part: the text before the limit
// is kept, the limit is named, and the extraction ends at once.
TEST(PdfBudget, APageThatReachesALimitIsReadInPart)
{
    // One page of many text objects, a line each.
    std::string lines;
    for (int i = 0; i < 4000; ++i)
        lines += "BT /F1 12 Tf 72 " + std::to_string(760 - i % 700) + " Td (line " + std::to_string(i) +
                 " hong.gildong@example.com and more words to fill the line) Tj ET\n";
    const std::string many = MakePdf({lines});

    // Forms: Fm0 shows text, Fm<k> draws Fm<k-1> ten times.
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    int previous = b.AddStream("BT /F1 12 Tf 72 720 Td (deep text) Tj ET",
                               " /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /Font << /F1 " +
                                   Ref(font) + " >> >>");
    for (int level = 1; level <= 10; ++level) {
        std::string draw;
        for (int i = 0; i < 10; ++i)
            draw += "/Fm Do\n";
        previous = b.AddStream(draw, " /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /XObject << /Fm " +
                                         Ref(previous) + " >> >>");
    }
    const int content = b.AddStream("BT /F1 12 Tf 72 760 Td (on top) Tj ET /Top Do");
    const int page = b.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] /Resources << /Font << /F1 " +
                           Ref(font) + " >> /XObject << /Top " + Ref(previous) + " >> >> /Contents " + Ref(content) + " >>");
    b.Set(catalog, "<< /Type /Catalog /Pages " + Ref(pages) + " >>");
    b.Set(pages, "<< /Type /Pages /Kids [" + Ref(page) + "] /Count 1 >>");
    const std::string forms = b.Build(catalog);

    // Forms nested deeper than the nesting budget, each drawn once.
    PdfBuilder d;
    const int dCatalog = d.Reserve();
    const int dPages = d.Reserve();
    const int dFont = d.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    int inner = d.AddStream("BT /F1 12 Tf 72 720 Td (deepest) Tj ET",
                            " /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /Font << /F1 " +
                                Ref(dFont) + " >> >>");
    for (int level = 1; level <= 40; ++level)
        inner = d.AddStream("/Fm Do", " /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /XObject << /Fm " +
                                          Ref(inner) + " >> >>");
    const int dContent = d.AddStream("BT /F1 12 Tf 72 760 Td (on top) Tj ET /Top Do");
    const int dPage = d.Add("<< /Type /Page /Parent " + Ref(dPages) + " /MediaBox [0 0 612 792] /Resources << /Font << /F1 " +
                            Ref(dFont) + " >> /XObject << /Top " + Ref(inner) + " >> >> /Contents " + Ref(dContent) + " >>");
    d.Set(dCatalog, "<< /Type /Catalog /Pages " + Ref(dPages) + " >>");
    d.Set(dPages, "<< /Type /Pages /Kids [" + Ref(dPage) + "] /Count 1 >>");
    const std::string deep = d.Build(dCatalog);

    const plat::DocumentBudget unlimited{0, 0, 0, 0};
    const struct {
        const char* name;
        std::string bytes;
        plat::DocumentBudget budget;
        int limit;
        const char16_t* kept;  // text from before the limit
    } cases[] = {
        {"operators", many, {0, 2000, 0, 0}, kReadLimitOperations, u"line 0 "},
        {"repeated forms", forms, {0, 100000, 32, 0}, kReadLimitOperations, u"on top"},
        {"nested forms", deep, {0, 0, 32, 0}, kReadLimitOperations, u"on top"},
        {"memory", many, {0, 0, 0, 3u << 20}, kReadLimitMemory, u""},
    };
    ps_test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Write(dir, std::string(c.name) + ".pdf", c.bytes);
        {
            // Within the limits, the document is read to its end.
            BudgetGuard guard(unlimited);
            if (std::string(c.name) != "repeated forms") {
                EXPECT_EQ(Convert(path).status, 0);
            }
        }
        BudgetGuard guard(c.budget);
        PdfExtractStats stats{};
        std::u16string text;
        EXPECT_EQ(ExtractPdfText(W(path).c_str(), &Collect, &text, &stats), 0);
        EXPECT_TRUE(stats.incomplete & PDF_INCOMPLETE_LIMIT) << stats.incomplete;
        EXPECT_EQ(stats.limit, c.limit);
        EXPECT_NE(text.find(c.kept), std::u16string::npos);

        // The search reads it in part and names the limit.
        PersonalInfoCounts counts{};
        const ScanStatus scan = FindPersonalInfoInFile(W(path), counts, 0xFFFF, nullptr, nullptr);
        EXPECT_TRUE(ScanLeftDocumentUnread(scan)) << static_cast<int>(scan);
        const std::string reason = ListedReason(path);
        EXPECT_NE(reason.find(c.limit == kReadLimitMemory ? "(메모리)" : "(연산)"), std::string::npos) << reason;
    }
}

// The time budget: a long document stops at its deadline; the search
// matches the text read so far, reports the document read in part, names
// the limit and goes on with the next document.
TEST(PdfBudget, ADocumentThatReachesItsTimeIsReadInPartAndTheSearchGoesOn)
{
    std::vector<std::string> pageContents;
    for (int p = 0; p < 6000; ++p) {
        std::vector<std::string> lines;
        for (int i = 0; i < 20; ++i)
            lines.push_back("page " + std::to_string(p) + " mail user" + std::to_string(i) + "@example.com");
        pageContents.push_back(ShowLines(lines));
    }
    ps_test::TempDir dir;
    const std::string longPath = Write(dir, "long.pdf", MakePdf(pageContents));
    const std::string shortPath = Write(dir, "short.pdf", PersonalPdf());

    PersonalInfoCounts counts{};
    PersonalInfoHitList hits;
    ScanStatus scan;
    {
        // Only the long document gets the short time: what follows it is read
        // under the ordinary budget, so that a busy machine cannot stop it.
        BudgetGuard guard({0.3, 0, 0, 0});
        scan = FindPersonalInfoInFile(W(longPath), counts, 0xFFFF, nullptr, &hits);
    }
    // Read in part (or, on a machine too busy to read a page in time, not
    // read), never read to the end.
    EXPECT_TRUE(scan == ScanStatus::Partial || scan == ScanStatus::NoText) << static_cast<int>(scan);
    if (scan == ScanStatus::Partial) {
        EXPECT_GT(counts[kPersonalInfoEMail], 0);
    }
    EXPECT_LT(counts[kPersonalInfoEMail], 6000 * 20);
    EXPECT_NE(ListedReason(longPath).find("(시간)"), std::string::npos) << ListedReason(longPath);

    PersonalInfoCounts next{};
    EXPECT_EQ(FindPersonalInfoInFile(W(shortPath), next, 0xFFFF, nullptr, nullptr), ScanStatus::Done);
    EXPECT_EQ(next[kPersonalInfoEMail], 2);
}

// A reader that goes past its time without asking, and says it read to the
// end, is still reported read in part.
TEST(PdfBudget, AReaderPastItsTimeIsReadInPartWhateverItSays)
{
    ExtractorTable table = CurrentExtractorTable();
    table.pdf = [](const char16_t*, const char16_t*, std::u16string* text, ReadError*) {
        text->append(u"mail late@example.com\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        return EntryResult::Read;
    };
    const ExtractorTable saved = SetExtractorTable(table);
    BudgetGuard guard({0.02, 0, 0, 0});
    PersonalInfoCounts counts{};
    const ScanStatus scan = FindPersonalInfoInFile(u"/nowhere/slow.pdf", counts, 0xFFFF, nullptr, nullptr);
    SetExtractorTable(saved);
    EXPECT_EQ(scan, ScanStatus::Partial);
    EXPECT_EQ(counts[kPersonalInfoEMail], 1);
    EXPECT_NE(ListedReason("/nowhere/slow.pdf").find("(시간)"), std::string::npos);
}

// A file too large to be read whole into memory (here: past a quarter of a
// small memory budget) is read in windows: the same text, read to the end.
TEST(PdfBudget, ALargeFileIsReadInWindowsWithTheSameText)
{
    std::vector<std::string> pageContents;
    for (int p = 0; p < 120; ++p) {
        std::vector<std::string> lines;
        for (int i = 0; i < 30; ++i)
            lines.push_back("page " + std::to_string(p) + " line " + std::to_string(i) + " mail hong@example.com");
        pageContents.push_back(ShowLines(lines));
    }
    // A stream of 3 MB that no page uses makes the file large.
    PdfBuilder padded;
    const int catalog = padded.Reserve();
    const int pages = padded.Reserve();
    const int font = padded.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    padded.AddStream(std::string(3u << 20, 'x'));
    std::string kids;
    for (const std::string& c : pageContents) {
        const int content = padded.AddStream(c);
        kids += " " + Ref(padded.Add("<< /Type /Page /Parent " + Ref(pages) +
                                     " /MediaBox [0 0 612 792] /Resources << /Font << /F1 " + Ref(font) +
                                     " >> >> /Contents " + Ref(content) + " >>"));
    }
    padded.Set(catalog, "<< /Type /Catalog /Pages " + Ref(pages) + " >>");
    padded.Set(pages, "<< /Type /Pages /Kids [" + kids + " ] /Count " + std::to_string(pageContents.size()) + " >>");
    ps_test::TempDir dir;
    const std::string path = Write(dir, "large.pdf", padded.Build(catalog));

    const Extraction whole = Convert(path);
    ASSERT_EQ(whole.status, 0);
    BudgetGuard guard({0, 0, 0, 8u << 20});
    const Extraction windows = Convert(path);
    EXPECT_EQ(windows.status, 0);
    EXPECT_EQ(windows.text, whole.text);
}

// A sparse file of a gigabyte with a document's name: no table to find, so
// the whole file would be searched for objects. The time budget ends it.
TEST(PdfBudget, ASparseFileEndsAtItsTime)
{
    ps_test::TempDir dir;
    const std::string path = dir.file("sparse.pdf");
    {
        std::ofstream out(path, std::ios::binary);
        out << "%PDF-1.7\n";
    }
    ASSERT_EQ(::truncate(path.c_str(), 1ll << 30), 0);
    BudgetGuard guard({0.2, 0, 0, 0});
    PersonalInfoCounts counts{};
    EXPECT_EQ(FindPersonalInfoInFile(W(path), counts, 0xFFFF, nullptr, nullptr), ScanStatus::NoText);
    EXPECT_NE(ListedReason(path).find("(시간)"), std::string::npos) << ListedReason(path);
}
