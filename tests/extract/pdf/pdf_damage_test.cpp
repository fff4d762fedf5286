// Damaged PDF documents and the work budget: a document that is cut short,
// repaired, changed while it is read, without a page tree, or that reaches a
// limit of its budget is read as far as it goes and never reported clean.
#include <gtest/gtest.h>

#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <functional>
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

    const plat::DocumentBudget unlimited{0, 0, 0, 0, 0};
    const struct {
        const char* name;
        std::string bytes;
        plat::DocumentBudget budget;
        int limit;
        const char16_t* kept;  // text from before the limit
    } cases[] = {
        {"operators", many, {0, 2000, 0, 0, 0}, kReadLimitOperations, u"line 0 "},
        {"repeated forms", forms, {0, 100000, 32, 0, 0}, kReadLimitOperations, u"on top"},
        {"nested forms", deep, {0, 0, 32, 0, 0}, kReadLimitOperations, u"on top"},
        {"memory", many, {0, 0, 0, 3u << 20, 0}, kReadLimitMemory, u""},
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
        BudgetGuard guard({0.3, 0, 0, 0, 0});
        scan = FindPersonalInfoInFile(W(longPath), counts, 0xFFFF, nullptr, &hits);
    }
    // Read in part (or, on a machine too busy to read a page in time, not
    // read), never read to the end.
    EXPECT_TRUE(scan == ScanStatus::Partial || scan == ScanStatus::NoText) << static_cast<int>(scan);
    // How much is read in the time depends on the machine (a busy one may
    // stop inside the first line): only that it is not all of it.
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
    ExtractorTable table = DefaultExtractorTable();
    table.pdf = [](const char16_t*, const char16_t*, std::u16string* text, ReadError*) {
        text->append(u"mail late@example.com\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        return EntryResult::Read;
    };
    ScanContext context(table);
    BudgetGuard guard({0.02, 0, 0, 0, 0});
    PersonalInfoCounts counts{};
    const ScanStatus scan = FindPersonalInfoInFile(context, u"/nowhere/slow.pdf", counts, 0xFFFF, nullptr, nullptr);
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
    BudgetGuard guard({0, 0, 0, 8u << 20, 0});
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
    BudgetGuard guard({0.2, 0, 0, 0, 0});
    PersonalInfoCounts counts{};
    EXPECT_EQ(FindPersonalInfoInFile(W(path), counts, 0xFFFF, nullptr, nullptr), ScanStatus::NoText);
    EXPECT_NE(ListedReason(path).find("(시간)"), std::string::npos) << ListedReason(path);
}

// -- Damage that MuPDF reads past -----------------------------------------
// Each document below contradicts itself in a way MuPDF tolerates: it gives
// the text it can and goes on. The document is read in part (status 1), the
// text read is kept, and the search lists it as damaged with the reason.

namespace {

std::string Deflate(const std::string& data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
              static_cast<uLong>(data.size()), 9);
    out.resize(size);
    return out;
}

const std::string kFlate = " /Filter /FlateDecode";

// A Helvetica font whose Unicode map reads "A" as 가 and "B" as 나: the
// Korean text comes out only through the map.
struct MappedFont {
    int font;
    int map;
};
MappedFont AddMappedFont(PdfBuilder& b, const std::string& mapData, const std::string& mapEntries)
{
    MappedFont f{};
    f.map = b.AddStream(mapData, mapEntries);
    f.font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode " + Ref(f.map) + " >>");
    return f;
}
const std::string kUnicodeMap =
    "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n/CMapName /Seed-UCS def\n/CMapType 2 def\n"
    "1 begincodespacerange\n<00> <FF>\nendcodespacerange\n2 beginbfchar\n<41> <AC00>\n<42> <B098>\nendbfchar\n"
    "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";

std::string PageDict(int pages, const std::string& resources, const std::string& contents)
{
    return "<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] /Resources << " + resources +
           " >> /Contents " + contents + " >>";
}

// Two pages: the first shows "first page" in Helvetica, the second what the
// case gives. f: fills the second page's resources and content.
std::string TwoPages(const std::function<std::string(PdfBuilder&, int pages, int helvetica)>& second)
{
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int content = b.AddStream(Deflate(ShowLines({"first page"})), kFlate);
    const int page1 = b.Add(PageDict(pages, "/Font << /F1 " + Ref(font) + " >>", Ref(content)));
    const int page2 = b.Add(second(b, pages, font));
    b.Set(catalog, "<< /Type /Catalog /Pages " + Ref(pages) + " >>");
    b.Set(pages, "<< /Type /Pages /Kids [" + Ref(page1) + " " + Ref(page2) + "] /Count 2 >>");
    return b.Build(catalog);
}

struct DamageCase {
    const char* name;
    std::string bytes;
};

// The healthy document reads clean with its text; each damaged one is read
// in part, keeps the first page's text and is listed as damaged.
void ExpectEachDamaged(const std::string& healthy, const char16_t* healthyText, const std::vector<DamageCase>& cases)
{
    ps_test::TempDir dir;
    const Extraction sound = Convert(Write(dir, "healthy.pdf", healthy));
    EXPECT_EQ(sound.status, 0);
    EXPECT_NE(sound.text.find(healthyText), std::u16string::npos) << plat::WideToUtf8(sound.text);
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Write(dir, std::string(c.name) + ".pdf", c.bytes);
        const Extraction e = Convert(path);
        EXPECT_EQ(e.status, 1);
        EXPECT_NE(e.text.find(u"first page"), std::u16string::npos) << plat::WideToUtf8(e.text);
        PdfExtractStats stats{};
        std::u16string text;
        EXPECT_EQ(ExtractPdfText(W(path).c_str(), &Collect, &text, &stats), 0);
        EXPECT_NE(stats.damage, nullptr);
        PersonalInfoCounts counts{};
        EXPECT_TRUE(ScanLeftDocumentUnread(FindPersonalInfoInFile(W(path), counts, 0xFFFF, nullptr, nullptr)));
        EXPECT_NE(ListedReason(path).find("손상된 문서"), std::string::npos) << ListedReason(path);
    }
}

std::string Cut(const std::string& s, size_t keep) { return s.substr(0, keep); }
std::string Flipped(std::string s, size_t at)
{
    s[at] = static_cast<char>(s[at] ^ 0x55);
    return s;
}

}  // namespace

// A stream that does not decode to its end: its text comes out short (or,
// for a font's Unicode map, as codes nobody can read).
TEST(PdfDamage, AStreamThatDoesNotDecodeToItsEndIsDamage)
{
    const std::string content = Deflate(ShowLines({"second page one", "second page two", "second page three"}));
    const std::string map = Deflate(kUnicodeMap);
    const std::string form = Deflate("BT /F1 12 Tf 72 500 Td (inside the form) Tj ET");
    auto plain = [&](const std::string& data) {
        return TwoPages([&](PdfBuilder& b, int pages, int font) {
            return PageDict(pages, "/Font << /F1 " + Ref(font) + " >>", Ref(b.AddStream(data, kFlate)));
        });
    };
    auto mapped = [&](const std::string& data) {
        return TwoPages([&](PdfBuilder& b, int pages, int) {
            const MappedFont f = AddMappedFont(b, data, kFlate);
            return PageDict(pages, "/Font << /F2 " + Ref(f.font) + " >>",
                            Ref(b.AddStream(Deflate("BT /F2 12 Tf 72 700 Td (AB) Tj ET"), kFlate)));
        });
    };
    auto withForm = [&](const std::string& data) {
        return TwoPages([&](PdfBuilder& b, int pages, int font) {
            const int fm = b.AddStream(data, kFlate + " /Type /XObject /Subtype /Form /BBox [0 0 612 792] "
                                                      "/Resources << /Font << /F1 " + Ref(font) + " >> >>");
            return PageDict(pages, "/Font << /F1 " + Ref(font) + " >> /XObject << /Fm " + Ref(fm) + " >>",
                            Ref(b.AddStream(Deflate("/Fm Do"), kFlate)));
        });
    };
    ExpectEachDamaged(plain(content), u"second page three", {
        {"content cut", plain(Cut(content, content.size() / 2))},
        {"content check value", plain(Flipped(content, content.size() - 2))},
        {"content without its end", plain(Cut(content, content.size() - 4))},
    });
    ExpectEachDamaged(mapped(map), u"가나", {
        {"map cut", mapped(Cut(map, map.size() / 2))},
        {"map check value", mapped(Flipped(map, map.size() - 1))},
    });
    ExpectEachDamaged(withForm(form), u"inside the form", {
        {"form cut", withForm(Cut(form, form.size() / 2))},
        {"form check value", withForm(Flipped(form, form.size() - 3))},
    });
}

// A part of a content array that is no stream: an object that holds
// nothing, one the file does not have, a dictionary.
TEST(PdfDamage, AContentArrayWithAMissingPartIsDamage)
{
    auto array = [](const std::string& middle) {
        return TwoPages([&](PdfBuilder& b, int pages, int font) {
            const int a = b.AddStream(Deflate("BT /F1 12 Tf 72 700 Td (part one) Tj ET"), kFlate);
            std::string m = middle;
            if (m == "stream")
                m = Ref(b.AddStream(Deflate("BT /F1 12 Tf 72 680 Td (part two) Tj ET"), kFlate));
            else if (m == "empty")
                m = Ref(b.Reserve());
            else if (m == "dictionary")
                m = Ref(b.Add("<< /Length 0 >>"));
            const int c = b.AddStream(Deflate("BT /F1 12 Tf 72 660 Td (part three) Tj ET"), kFlate);
            return PageDict(pages, "/Font << /F1 " + Ref(font) + " >>", "[" + Ref(a) + " " + m + " " + Ref(c) + "]");
        });
    };
    ExpectEachDamaged(array("stream"), u"part two", {
        {"empty object", array("empty")},
        {"no such object", array("99 0 R")},
        {"dictionary", array("dictionary")},
    });
}

// A form the page draws that cannot be run: it names no object, or one that
// is no stream.
TEST(PdfDamage, AFormThatCannotBeRunIsDamage)
{
    auto drawing = [](const std::string& which) {
        return TwoPages([&](PdfBuilder& b, int pages, int font) {
            std::string fm;
            if (which == "form")
                fm = Ref(b.AddStream(Deflate("BT /F1 12 Tf 72 500 Td (inside the form) Tj ET"),
                                     kFlate + " /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << "
                                              "/Font << /F1 " + Ref(font) + " >> >>"));
            else if (which == "dictionary")
                fm = Ref(b.Add("<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] >>"));
            else
                fm = which;
            return PageDict(pages, "/Font << /F1 " + Ref(font) + " >> /XObject << /Fm " + fm + " >>",
                            Ref(b.AddStream(Deflate("BT /F1 12 Tf 72 700 Td (on the page) Tj ET /Fm Do"), kFlate)));
        });
    };
    ExpectEachDamaged(drawing("form"), u"inside the form", {
        {"no such object", drawing("99 0 R")},
        {"no stream", drawing("dictionary")},
    });
}

// Fonts and their maps that the page names and that are not there: MuPDF
// shows the text through a stand-in font, or without the map.
TEST(PdfDamage, AMissingFontOrUnicodeMapIsDamage)
{
    auto page = [](const std::string& which) {
        return TwoPages([&](PdfBuilder& b, int pages, int) {
            const MappedFont f = AddMappedFont(b, Deflate(kUnicodeMap), kFlate);
            std::string font = Ref(f.font);
            if (which == "map missing")
                font = Ref(b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 99 0 R >>"));
            else if (which == "map empty")
                font = Ref(b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode " + Ref(b.Reserve()) +
                                 " >>"));
            else if (which == "font missing")
                font = "99 0 R";
            else if (which == "no font")
                font = Ref(b.Add("<< /Type /XObject /Subtype /Form /BBox [0 0 1 1] >>"));
            const std::string selected = which == "other name" ? "/F9" : "/F2";
            return PageDict(pages, "/Font << /F2 " + font + " >>",
                            Ref(b.AddStream(Deflate("BT " + selected + " 12 Tf 72 700 Td (AB) Tj ET"), kFlate)));
        });
    };
    ExpectEachDamaged(page("sound"), u"가나", {
        {"map missing", page("map missing")},
        {"map empty", page("map empty")},
        {"font missing", page("font missing")},
        {"font not among the resources", page("other name")},
        {"an object that is no font", page("no font")},
    });
}

// A page tree holding more pages than its count: MuPDF reads as many as the
// count says.
TEST(PdfDamage, APageTreeThatHoldsMorePagesThanItsCountIsDamage)
{
    const std::string healthy = TwoPages([](PdfBuilder& b, int pages, int font) {
        return PageDict(pages, "/Font << /F1 " + Ref(font) + " >>",
                        Ref(b.AddStream(Deflate(ShowLines({"second page"})), kFlate)));
    });
    std::string fewer = healthy;
    fewer.replace(fewer.find("/Count 2"), 8, "/Count 1");
    ExpectEachDamaged(healthy, u"second page", {{"count 1", fewer}});
}

// A document saved twice, the second save adding a page. Cut inside the
// second save, MuPDF finds the first save's end and reads the first
// document, clean; pointed at the first save's section, the same. A cut
// after the second save's section offset loses nothing.
TEST(PdfDamage, ALaterSaveCutOffOrLeftUnreadIsDamage)
{
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int content = b.AddStream(Deflate(ShowLines({"first page"})), kFlate);
    const int page1 = b.Add(PageDict(pages, "/Font << /F1 " + Ref(font) + " >>", Ref(content)));
    b.Set(catalog, "<< /Type /Catalog /Pages " + Ref(pages) + " >>");
    b.Set(pages, "<< /Type /Pages /Kids [" + Ref(page1) + "] /Count 1 >>");
    const std::string first = b.Build(catalog);

    // The second save: a content stream, a page, the page tree again.
    const size_t firstXref = std::stoul(first.substr(first.rfind("startxref") + 10));
    const int size = page1 + 1;
    const std::string data = Deflate(ShowLines({"second save"}));
    const std::vector<std::pair<int, std::string>> objects = {
        {size, "<< /Length " + std::to_string(data.size()) + kFlate + " >>\nstream\n" + data + "\nendstream"},
        {size + 1, PageDict(pages, "/Font << /F1 " + Ref(font) + " >>", Ref(size))},
        {pages, "<< /Type /Pages /Kids [" + Ref(page1) + " " + Ref(size + 1) + "] /Count 2 >>"},
    };
    std::string whole = first;
    std::string entries;
    for (const auto& [number, body] : objects) {
        char line[48];
        std::snprintf(line, sizeof line, "%d 1\n%010zu 00000 n \n", number, whole.size());
        entries += line;
        whole += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
    }
    const size_t secondXref = whole.size();
    whole += "xref\n" + entries + "trailer\n<< /Size " + std::to_string(size + 2) + " /Root " + Ref(catalog) +
             " /Prev " + std::to_string(firstXref) + " >>\nstartxref\n";
    const size_t offsetAt = whole.size();
    whole += std::to_string(secondXref) + "\n%%EOF\n";

    std::vector<DamageCase> cases;
    for (size_t at = first.size() + 1; at < offsetAt; at += 23)
        cases.push_back({"cut", whole.substr(0, at)});
    std::string older = whole;
    older.replace(offsetAt, std::to_string(secondXref).size(), std::to_string(firstXref));
    cases.push_back({"offset of the first save", older});
    ExpectEachDamaged(whole, u"second save", cases);

    ps_test::TempDir dir;
    const Extraction e = Convert(Write(dir, "after.pdf", whole.substr(0, offsetAt + std::to_string(secondXref).size())));
    EXPECT_EQ(e.status, 0);
    EXPECT_NE(e.text.find(u"second save"), std::u16string::npos);

    // Bytes after the end that are no part of a save (padding, a mail
    // program's leftovers) leave the document whole.
    for (const std::string& tail : {std::string(64, '\0'), std::string("\r\n<html>gateway note</html>\r\n"),
                                   std::string("\n%%EOF\n%%EOF\n")}) {
        const Extraction padded = Convert(Write(dir, "padded.pdf", whole + tail));
        EXPECT_EQ(padded.status, 0) << tail.size();
        EXPECT_NE(padded.text.find(u"second save"), std::u16string::npos);
    }
}

// A stream whose /Length disagrees with its data: MuPDF finds "endstream"
// and reads the data whole (warning only of a length that is short).
TEST(PdfDamage, AStreamLengthThatDisagreesWithItsDataIsDamage)
{
    const std::string data = Deflate(ShowLines({"second page one", "second page two"}));
    auto withLength = [&](size_t length) {
        return TwoPages([&](PdfBuilder& b, int pages, int font) {
            const int content = b.Add("<< /Length " + std::to_string(length) + kFlate + " >>\nstream\n" + data +
                                      "\nendstream");
            return PageDict(pages, "/Font << /F1 " + Ref(font) + " >>", Ref(content));
        });
    };
    ExpectEachDamaged(withLength(data.size()), u"second page two", {
        {"shorter", withLength(data.size() - 3)},
        {"longer", withLength(data.size() + 12)},
        {"past the end", withLength(data.size() + 100000)},
        {"zero", withLength(0)},
    });
}

// Type 3 fonts each holding the next in their resources, a long chain: the
// checks of the parts a page names go only so deep, and the page is read.
TEST(PdfDamage, FontsNestedInEachOthersResourcesAreCheckedOnlySoDeep)
{
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int helvetica = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int glyph = b.AddStream("0 0 d0");
    int next = helvetica;
    for (int i = 0; i < 200000; ++i)
        next = b.Add("<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1 1] /FontMatrix [1 0 0 1 0 0] /CharProcs << /a " +
                     Ref(glyph) + " >> /Encoding << /Differences [65 /a] >> /FirstChar 65 /LastChar 65 /Widths [1] "
                     "/Resources << /Font << /F " + Ref(next) + " >> >> >>");
    const int content = b.AddStream(ShowLines({"on the page"}));
    const int page = b.Add(PageDict(pages, "/Font << /F1 " + Ref(helvetica) + " /F3 " + Ref(next) + " >>", Ref(content)));
    b.Set(catalog, "<< /Type /Catalog /Pages " + Ref(pages) + " >>");
    b.Set(pages, "<< /Type /Pages /Kids [" + Ref(page) + "] /Count 1 >>");
    ps_test::TempDir dir;
    const Extraction e = Convert(Write(dir, "chain.pdf", b.Build(catalog)));
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.text, u"on the page\n\n");
}
