#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "extract/extractlib.h"
#include "extract/pdf/pdfdocmanager.h"
#include "extract/pdf/pdftext.h"
#include "pdf_builder.h"
#include "platform/text.h"
#include "support/isolation.h"
#include "support/pii_items.h"

using namespace pdf_test;

namespace {

std::u16string W(const std::string& native)
{
    return plat::PathFromNative(native);
}

struct Extraction {
    int status;
    std::u16string text;
};

Extraction Convert(const std::string& path, const char16_t* options = nullptr)
{
    Extraction e{-1, u"left over"};
    e.status = static_cast<int>(ConvertPdfToText(W(path).c_str(), options, &e.text));
    return e;
}

std::string WriteTemp(const ps_test::TempDir& dir, const std::string& name, const std::string& bytes)
{
    std::string path = dir.file(name);
    EXPECT_TRUE(ps_test::WriteFileBytes(path, bytes));
    return path;
}

// A page tree whose middle entry is a page-tree node that claims a page but
// holds none: that page cannot be loaded.
std::string PdfWithUnloadableMiddlePage()
{
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    auto page = [&](const std::string& line) {
        const int content = b.AddStream(ShowLines({line}));
        return b.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] /Resources << /Font << /F1 " +
                     Ref(font) + " >> >> /Contents " + Ref(content) + " >>");
    };
    const int first = page("first");
    const int hollow = b.Add("<< /Type /Pages /Kids [ ] /Count 1 >>");
    const int last = page("last");
    b.Set(catalog, "<< /Type /Catalog /Pages " + Ref(pages) + " >>");
    b.Set(pages, "<< /Type /Pages /Kids [" + Ref(first) + " " + Ref(hollow) + " " + Ref(last) + "] /Count 3 >>");
    return b.Build(catalog);
}

// One page showing three glyphs of a font without glyph data whose
// ToUnicode map gives 한, 글 and U+1F600 (beyond the 16-bit range).
std::string PdfWithMappedText()
{
    const std::string cmap =
        "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
        "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
        "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n"
        "3 beginbfchar\n<0001> <D55C>\n<0002> <AE00>\n<0003> <D83DDE00>\nendbfchar\n"
        "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend";
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int toUnicode = b.AddStream(cmap);
    const int descriptor = b.Add(
        "<< /Type /FontDescriptor /FontName /NoGlyphs /Flags 4 /FontBBox [0 0 1000 1000] /ItalicAngle 0 "
        "/Ascent 800 /Descent -200 /CapHeight 700 /StemV 80 >>");
    const int cidFont = b.Add(
        "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /NoGlyphs /CIDSystemInfo << /Registry (Adobe) "
        "/Ordering (Identity) /Supplement 0 >> /FontDescriptor " + Ref(descriptor) + " /DW 1000 >>");
    const int font = b.Add("<< /Type /Font /Subtype /Type0 /BaseFont /NoGlyphs /Encoding /Identity-H /DescendantFonts [" +
                           Ref(cidFont) + "] /ToUnicode " + Ref(toUnicode) + " >>");
    const int content = b.AddStream("BT /F2 12 Tf 72 720 Td <000100020003> Tj ET");
    const int page = b.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] /Resources << /Font << /F2 " +
                           Ref(font) + " >> >> /Contents " + Ref(content) + " >>");
    b.Set(catalog, "<< /Type /Catalog /Pages " + Ref(pages) + " >>");
    b.Set(pages, "<< /Type /Pages /Kids [" + Ref(page) + "] /Count 1 >>");
    return b.Build(catalog);
}

void Collect(void* user, const void* text, int length, int utf8)
{
    ASSERT_EQ(utf8, 0);
    static_cast<std::u16string*>(user)->append(static_cast<const char16_t*>(text), static_cast<size_t>(length));
}

bool HasHangul(const std::u16string& s)
{
    for (char16_t c : s)
        if (c >= 0xAC00 && c <= 0xD7A3)
            return true;
    return false;
}

}  // namespace

TEST(PdfText, EveryLineAndEveryPageEndsWithALineFeed)
{
    ps_test::TempDir dir;
    const std::string path = WriteTemp(dir, "three.pdf",
                                       MakePdf({ShowLines({"one"}), ShowLines({"two", "2b"}), ShowLines({"three"})}));
    const Extraction e = Convert(path);
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.text, u"one\n\ntwo\n2b\n\nthree\n\n");
    // The options text is not read by the PDF entry.
    const Extraction x = Convert(path, u"xml:true");
    EXPECT_EQ(x.status, 0);
    EXPECT_EQ(x.text, e.text);
}

// The document is read as far as it goes, and is not read to its end: the
// entry says status 1 and keeps the text of the pages read.
TEST(PdfText, APageThatCannotBeLoadedDoesNotHideTheLaterPages)
{
    ps_test::TempDir dir;
    const std::string path = WriteTemp(dir, "hollow.pdf", PdfWithUnloadableMiddlePage());
    PdfExtractStats stats{};
    std::u16string text;
    EXPECT_EQ(ExtractPdfText(W(path).c_str(), &Collect, &text, &stats), 0);
    EXPECT_EQ(stats.pageCount, 3);
    EXPECT_EQ(stats.pagesRead, 2);
    EXPECT_EQ(stats.pagesFailed, 1);
    EXPECT_EQ(stats.incomplete, PDF_INCOMPLETE_PAGES);
    EXPECT_EQ(text, u"first\n\nlast\n\n");

    const Extraction e = Convert(path);
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.text, u"first\n\nlast\n\n");
}

TEST(PdfText, APageTreeThatClaimsBillionsOfPagesEndsQuickly)
{
    ps_test::TempDir dir;
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int content = b.AddStream(ShowLines({"only"}));
    const int page = b.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] /Resources << /Font << /F1 " +
                           Ref(font) + " >> >> /Contents " + Ref(content) + " >>");
    b.Set(catalog, "<< /Type /Catalog /Pages " + Ref(pages) + " >>");
    b.Set(pages, "<< /Type /Pages /Kids [" + Ref(page) + "] /Count 2147483647 >>");
    const auto start = std::chrono::steady_clock::now();
    const Extraction e = Convert(WriteTemp(dir, "liar.pdf", b.Build(catalog)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    // The pages the tree claims beyond the one it holds are not read.
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.text, u"only\n\n");
}

TEST(PdfText, BrokenContentKeepsItsTextBeforeTheErrorAndTheFollowingPages)
{
    ps_test::TempDir dir;
    const std::string path = WriteTemp(
        dir, "syntax.pdf",
        MakePdf({ShowLines({"one"}), "BT /F1 12 Tf 72 720 Td (before) Tj ET ] } >> ( BT (after) Tj ET",
                 ShowLines({"three"})}));
    PdfExtractStats stats{};
    std::u16string text;
    EXPECT_EQ(ExtractPdfText(W(path).c_str(), &Collect, &text, &stats), 0);
    EXPECT_EQ(stats.pagesRead, 3);
    EXPECT_EQ(stats.pagesWithErrors, 1);
    EXPECT_EQ(stats.incomplete, PDF_INCOMPLETE_CONTENT);
    EXPECT_NE(text.find(u"one\n"), std::u16string::npos);
    EXPECT_NE(text.find(u"before\n"), std::u16string::npos);
    EXPECT_NE(text.find(u"three\n"), std::u16string::npos);
    // What followed the error may be lost: read in part, with its text.
    const Extraction e = Convert(path);
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.text, text);
}

// Pictures are never loaded for text: a page whose picture and painted
// shading are damaged still reads without error, a shading pattern as the
// fill colour keeps the text after it, and the text of its annotations comes
// through with the text of its content.
TEST(PdfText, PicturesAndShadingsAreNotLoadedButAnnotationsAreRead)
{
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int image = b.AddStream("not a picture at all",
                                  " /Type /XObject /Subtype /Image /Width 4000 /Height 4000 /ColorSpace /DeviceRGB "
                                  "/BitsPerComponent 8 /Filter /JPXDecode");
    const int shading = b.Add("<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 1 1] /Function 999 0 R >>");
    const int function = b.Add("<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0] /C1 [1 1 1] /N 1 >>");
    const int fill = b.Add("<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 1 1] /Function " + Ref(function) + " >>");
    const int pattern = b.Add("<< /PatternType 2 /Shading " + Ref(fill) + " >>");
    const int content = b.AddStream(
        "q 100 0 0 100 0 0 cm /Im1 Do Q /Sh1 sh /Pattern cs /P1 scn 0 0 10 10 re f "
        "BT /F1 12 Tf 72 720 Td (after the pictures) Tj ET");
    const int appearance = b.AddStream("BT /F1 10 Tf 2 2 Td (noted beside) Tj ET",
                                       " /Type /XObject /Subtype /Form /BBox [0 0 200 20] /Resources << /Font << /F1 " +
                                           Ref(font) + " >> >>");
    const int page = b.Reserve();
    const int annot = b.Add("<< /Type /Annot /Subtype /FreeText /Rect [72 600 272 620] /Contents (noted beside) "
                            "/DA (/F1 10 Tf 0 g) /AP << /N " + Ref(appearance) + " >> /P " + Ref(page) + " >>");
    b.Set(page, "<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] /Resources << /Font << /F1 " +
                    Ref(font) + " >> /XObject << /Im1 " + Ref(image) + " >> /Shading << /Sh1 " + Ref(shading) +
                    " >> /Pattern << /P1 " + Ref(pattern) + " >> >> /Contents " + Ref(content) + " /Annots [" +
                    Ref(annot) + "] >>");
    b.Set(catalog, "<< /Type /Catalog /Pages " + Ref(pages) + " >>");
    b.Set(pages, "<< /Type /Pages /Kids [" + Ref(page) + "] /Count 1 >>");

    ps_test::TempDir dir;
    const std::string path = WriteTemp(dir, "pictures.pdf", b.Build(catalog));
    PdfExtractStats stats{};
    std::u16string text;
    EXPECT_EQ(ExtractPdfText(W(path).c_str(), &Collect, &text, &stats), 1);
    EXPECT_EQ(stats.pagesRead, 1);
    EXPECT_EQ(stats.pagesWithErrors, 0);
    EXPECT_NE(text.find(u"after the pictures"), std::u16string::npos) << plat::WideToUtf8(text);
    EXPECT_NE(text.find(u"noted beside"), std::u16string::npos) << plat::WideToUtf8(text);
}

// Text filled with a tiling pattern runs the pattern's cell once for every
// tile that the bounds of the text's glyphs reach, and the cell can hold text
// of its own. The period below lies inside one 200-point tile, while the box
// of the whole font reaches into four: the cell's text comes once, the same
// after the page has shown other text with the font (glyph bounds are then
// skipped), and in an annotation whose appearance uses the page's font.
TEST(PdfText, TextFilledWithATilingPatternRunsTheCellOnceForEveryTileItsGlyphsReach)
{
    struct Case {
        const char* name;
        std::string pageText; // page content, the pattern fill last
        bool inAnnotation;    // the pattern-filled period is in an annotation's appearance
    };
    const std::string periodInPattern = "/Pattern cs /P1 scn BT /F1 100 Tf 150 150 Td (.) Tj ET";
    const std::vector<Case> cases = {
        {"pattern first", periodInPattern, false},
        {"font used before", "BT /F1 12 Tf 72 720 Td (plain text) Tj ET " + periodInPattern, false},
        {"annotation", "BT /F1 12 Tf 72 720 Td (plain text) Tj ET", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder b;
        const int catalog = b.Reserve();
        const int pages = b.Reserve();
        const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
        const std::string fonts = "/Font << /F1 " + Ref(font) + " >>";
        const int pattern = b.AddStream("BT /F1 10 Tf 20 20 Td (cell) Tj ET",
                                        " /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 200 200] "
                                        "/XStep 200 /YStep 200 /Resources << " + fonts + " >>");
        const std::string resources = "<< " + fonts + " /Pattern << /P1 " + Ref(pattern) + " >> >>";
        const int content = b.AddStream(c.pageText);
        const int page = b.Reserve();
        std::string annots;
        if (c.inAnnotation) {
            const int appearance = b.AddStream(periodInPattern, " /Type /XObject /Subtype /Form /BBox [0 0 612 792] "
                                                                "/Resources " + resources);
            annots = " /Annots [" + Ref(b.Add("<< /Type /Annot /Subtype /Square /Rect [0 0 612 792] /AP << /N " +
                                               Ref(appearance) + " >> /P " + Ref(page) + " >>")) + "]";
        }
        b.Set(page, "<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] /Resources " + resources +
                        " /Contents " + Ref(content) + annots + " >>");
        b.Set(catalog, "<< /Type /Catalog /Pages " + Ref(pages) + " >>");
        b.Set(pages, "<< /Type /Pages /Kids [" + Ref(page) + "] /Count 1 >>");

        ps_test::TempDir dir;
        const Extraction e = Convert(WriteTemp(dir, "pattern.pdf", b.Build(catalog)));
        EXPECT_EQ(e.status, 0);
        size_t cells = 0;
        for (size_t at = e.text.find(u"cell"); at != std::u16string::npos; at = e.text.find(u"cell", at + 1))
            ++cells;
        EXPECT_EQ(cells, 1u) << plat::WideToUtf8(e.text);
    }
}

TEST(PdfText, HangulAndCharactersBeyondSixteenBitsComeThroughWhole)
{
    ps_test::TempDir dir;
    const Extraction e = Convert(WriteTemp(dir, "mapped.pdf", PdfWithMappedText()));
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.text, u"한글\U0001F600\n\n");
}

TEST(PdfText, WhatCannotBeReadGivesStatusOneAndNoText)
{
    ps_test::TempDir dir;
    PdfBuilder empty;
    const int catalog = empty.Reserve();
    const int pages = empty.Add("<< /Type /Pages /Kids [ ] /Count 0 >>");
    empty.Set(catalog, "<< /Type /Catalog /Pages " + Ref(pages) + " >>");
    PdfBuilder hollow;
    const int hCatalog = hollow.Reserve();
    const int hPages = hollow.Reserve();
    const int node = hollow.Add("<< /Type /Pages /Kids [ ] /Count 2 >>");
    hollow.Set(hCatalog, "<< /Type /Catalog /Pages " + Ref(hPages) + " >>");
    hollow.Set(hPages, "<< /Type /Pages /Kids [" + Ref(node) + "] /Count 2 >>");
    const std::string valid = MakePdf({ShowLines({"text"})});

    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"text.pdf", "plain text, not a document\n"},
        {"empty.pdf", ""},
        {"header-only.pdf", "%PDF-1.4\n"},
        {"no-loadable-page.pdf", hollow.Build(hCatalog)},
        {"cut.pdf", valid.substr(0, 40)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Extraction e = Convert(WriteTemp(dir, c.name, c.bytes));
        EXPECT_EQ(e.status, 1);
        EXPECT_EQ(e.text, u"");  // the output is emptied when the manager starts
    }
    SCOPED_TRACE("missing file");
    const Extraction missing = Convert(dir.file("absent.pdf"));
    EXPECT_EQ(missing.status, 1);

    // A document without pages is read through, and has no text.
    SCOPED_TRACE("no pages");
    const Extraction none = Convert(WriteTemp(dir, "no-pages.pdf", empty.Build(catalog)));
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.text, u"");
}

TEST(PdfText, EntryAndManagerStatuses)
{
    ps_test::TempDir dir;
    const std::string path = WriteTemp(dir, "one.pdf", MakePdf({ShowLines({"one"})}));
    EXPECT_EQ(ConvertPdfToText(W(path).c_str(), nullptr, nullptr), EntryResult::Failed);
    std::u16string text = u"kept";
    EXPECT_EQ(ConvertPdfToText(nullptr, nullptr, &text), EntryResult::NotRead);

    CPdfDocManager manager;
    EXPECT_EQ(manager.IsFormat(u"/anything.txt"), 1);
    std::u16string out;
    manager.SetOutputString(&out);
    EXPECT_EQ(manager.Convert(nullptr), 2);
    manager.SetOutputString(&out);
    EXPECT_EQ(manager.Convert(W(path).c_str()), 0);
    EXPECT_EQ(out, u"one\n\n");
    // Convert detached the output after its success: more text goes nowhere.
    EXPECT_EQ(manager.GetTextCollector()->GetOutput(), nullptr);
}

TEST(PdfText, AnExceptionFromTheCallbackIsThrownAgainAfterMuPdfIsDone)
{
    ps_test::TempDir dir;
    const std::string path = WriteTemp(dir, "two.pdf", MakePdf({ShowLines({"one"}), ShowLines({"two"})}));
    int calls = 0;
    auto thrower = [](void* user, const void*, int, int) {
        ++*static_cast<int*>(user);
        throw std::runtime_error("collector failed");
    };
    EXPECT_THROW(ExtractPdfText(W(path).c_str(), thrower, &calls), std::runtime_error);
    EXPECT_EQ(calls, 1);
}

TEST(PdfText, PageRanges)
{
    const struct {
        const char* range;
        int pageCount;
        std::vector<std::pair<int, int>> pieces;
    } cases[] = {
        {"1-", 5, {{1, 5}}},
        {"3-1", 5, {{3, 1}}},
        {"0-99", 5, {{1, 5}}},
        {"-2", 5, {{5, 2}}},
        {"4", 5, {{4, 4}}},
        {"2-3,5", 5, {{2, 3}, {5, 5}}},
        {"1-,,4-", 5, {{1, 5}, {4, 5}}},
        {"1-", 0, {{1, 1}}},  // a document without pages still tries its first
        {"99999999999-", 3, {{3, 3}}},
        {"", 5, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.range);
        std::vector<std::pair<int, int>> got;
        const char* cursor = c.range;
        int first = 0, last = 0;
        while (PdfNextPageRange(&cursor, c.pageCount, &first, &last))
            got.emplace_back(first, last);
        EXPECT_EQ(got, c.pieces);
    }
}

// Every PDF of the corpus yields text, Korean as Hangul; the generated
// documents hold every item their list names.
TEST(PdfCorpus, EveryPdfYieldsText)
{
    const std::string corpus = ps_test::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus + "/public/pdf")) {
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        const Extraction e = Convert(path);
        ++files;
        // A document that needs its user's password cannot be read.
        if (path.find("-password.pdf") != std::string::npos) {
            EXPECT_EQ(e.status, 1);
            continue;
        }
        EXPECT_EQ(e.status, 0);
    }
    EXPECT_GT(files, 0);
}

TEST(PdfCorpus, GeneratedDocumentsHoldTheirItems)
{
    const std::string corpus = ps_test::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    const auto expectations = ps_test::ReadPiiExpectations();
    if (expectations.empty())
        GTEST_SKIP() << "no generated documents";
    int pdfs = 0;
    for (const auto& row : expectations) {
        const std::string& name = row.name;
        if (name.size() < 4 || name.substr(name.size() - 4) != ".pdf")
            continue;
        SCOPED_TRACE(name);
        ++pdfs;
        const Extraction e = Convert(corpus + "/pii/" + name);
        ASSERT_EQ(e.status, 0);
        EXPECT_TRUE(HasHangul(e.text));
        const std::string text = plat::WideToUtf8(e.text);
        ps_test::ExpectLiteralItems(text, row);
    }
    EXPECT_GT(pdfs, 0);
}

// The development tool writes UTF-8 and exits with the entry's status.
TEST(ExtractTextTool, WritesUtf8AndExitsWithTheStatus)
{
    const std::string tool = std::string(PS_BINARY_DIR) + "/bin/extract-text";
    if (access(tool.c_str(), X_OK) != 0)
        GTEST_SKIP() << "extract-text is not built";
    ps_test::TempDir dir;
    const std::string mapped = WriteTemp(dir, "Mapped.Pdf", PdfWithMappedText());
    const std::string broken = WriteTemp(dir, "broken.pdf", "not a pdf");
    const std::string other = WriteTemp(dir, "notes.txt", "text");
    const std::string out = dir.file("out.txt");
    auto run = [&](const std::string& args) {
        const int rc = std::system((tool + " " + args + " > " + out + " 2>/dev/null").c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    };
    EXPECT_EQ(run(mapped), 0);
    EXPECT_EQ(ps_test::ReadFileBytes(out), "\xED\x95\x9C\xEA\xB8\x80\xF0\x9F\x98\x80\n\n");
    EXPECT_EQ(run(broken), 1);
    EXPECT_EQ(ps_test::ReadFileBytes(out), "");
    EXPECT_EQ(run(mapped + " xml:true"), 0);
    EXPECT_EQ(run(other), 3);  // no entry for the extension
}
