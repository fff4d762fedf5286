// The OOXML documents of the shared corpus through the Office entries.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "library_corpus.h"
#include "extract/extractlib.h"
#include "extract/opc/package.h"
#include "office/officeentry.h"
#include "platform/text.h"
#include "support/isolation.h"
#include "support/pii_items.h"

namespace {

namespace fs = std::filesystem;

struct Extraction {
    int status = -1;
    std::string text;  // UTF-8
};

Extraction Convert(const std::string& path)
{
    const std::string ext = fs::path(path).extension().string();
    const std::u16string wide = plat::Utf8ToWide(path);
    std::u16string out;
    Extraction e;
    if (ext == ".docx" || ext == ".docm")
        e.status = static_cast<int>(ConvertWordToText(wide.c_str(), u"xml:true", &out));
    else if (ext == ".pptx" || ext == ".pptm")
        e.status = static_cast<int>(ConvertPowerPointToText(wide.c_str(), u"xml:true", &out));
    else
        e.status = static_cast<int>(ConvertExcelToText(wide.c_str(), u"xml:true", &out));
    e.text = plat::WideToUtf8(out);
    return e;
}

bool StartsLikeZip(const std::string& path)
{
    const std::string head = ps_test::ReadFileBytes(path).substr(0, 4);
    return head == std::string("PK\x03\x04", 4);
}

bool HasPart(const std::string& path, const char* part)
{
    OpcPackage* p = PackageOpen(plat::Utf8ToWide(path).c_str(), 0, nullptr);
    if (!p)
        return false;
    McReaderState st;
    const bool has = PackageOpenPart(p, &st, part, nullptr, nullptr, 0) == 0;
    if (has)
        McReaderCleanup(&st);
    PackageClose(p, 0);
    return has;
}

// Packages of the corpus that are not read to their end, with the reason.
const char* NotReadReason(const std::string& path)
{
    static const std::pair<const char*, const char*> kNotRead[] = {
        {"_poc-xmlbomb.xlsx", "a part declares entities (an expansion bomb)"},
        {"_poc-xmlbomb-empty.xlsx", "a part declares entities (an expansion bomb)"},
        {"_54764.xlsx", "a part declares entities (an entity loop)"},
        {"_poc-shared-strings.xlsx", "its text is beyond the workbook's text bound"},
        {"_Divino_Revelado.pptx", "the archive has no central directory (cut short)"},
        {"_49609.xlsx", "its entries are named with backslashes and its content types in lower case: "
                        "the package has no content types the reader takes"},
    };
    for (const auto& [name, reason] : kNotRead) {
        if (path.ends_with(name))
            return reason;
    }
    return nullptr;
}

class OoxmlCorpus : public LibraryCorpusTest {};

// Packages are read (status 0); files that are not ZIP packages (encrypted
// documents are compound files) and packages without their main part are
// not (1). Damaged fuzzer finds may go either way, but must not crash.
TEST_F(OoxmlCorpus, StatusOfEveryPublicDocument)
{
    int files = 0;
    for (const char* format : {"docx", "docm", "xlsx", "xlsm", "pptx", "pptm"}) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(corpus_ + "/public/" + format, ec)) {
            const std::string path = entry.path().string();
            if (entry.path().extension() != std::string(".") + format)
                continue;
            SCOPED_TRACE(path);
            ++files;
            const Extraction e = Convert(path);
            if (path.find("clusterfuzz") != std::string::npos) {
                EXPECT_TRUE(e.status == 0 || e.status == 1);
                continue;
            }
            int expected = StartsLikeZip(path) ? 0 : 1;
            if (expected == 0 && (format[0] == 'd') && !HasPart(path, "word/document.xml"))
                expected = 1;
            const char* reason = NotReadReason(path);
            if (reason)
                expected = 1;
            EXPECT_EQ(e.status, expected) << (reason ? reason : "");
        }
    }
    if (files == 0)
        GTEST_SKIP() << "no OOXML documents";
}

// The documents that come with a reference text hold nearly all its words.
TEST_F(OoxmlCorpus, WordsOfTheReferenceTexts)
{
    size_t total = 0, found = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(corpus_ + "/public/docx", ec)) {
        if (entry.path().extension() != ".docx")
            continue;
        fs::path ref = entry.path();
        ref.replace_extension(".txt");
        if (!fs::exists(ref))
            continue;
        std::istringstream words(ps_test::ReadFileBytes(ref.string()));
        const Extraction e = Convert(entry.path().string());
        std::istringstream ours(e.text);
        std::set<std::string> have{std::istream_iterator<std::string>(ours), std::istream_iterator<std::string>()};
        std::string w;
        while (words >> w) {
            if (w == "\xEF\xBB\xBF")
                continue;  // a byte-order mark alone
            ++total;
            if (have.count(w) || e.text.find(w) != std::string::npos)
                ++found;
        }
    }
    if (total == 0)
        GTEST_SKIP() << "no reference texts";
    EXPECT_GE(found * 100, total * 95) << found << " of " << total;
}

// Every package of the corpus that is read, opened for writing and closed
// again (kept in place, and trimmed), is still an archive other tools
// accept and gives the same text.
TEST_F(OoxmlCorpus, PackagesWrittenBackStayTheSame)
{
    if (access("/usr/bin/7z", X_OK) != 0)
        GTEST_SKIP() << "7z is not installed";
    ps_test::TempDir dir;
    int checked = 0;
    // A dozen packages of each kind, from as many writers (in name order).
    for (const char* format : {"docx", "xlsx", "pptx"}) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(corpus_ + "/public/" + format, ec))
            files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        int taken = 0;
        for (const fs::path& file : files) {
            const std::string path = file.string();
            if (file.extension() != std::string(".") + format || path.find("clusterfuzz") != std::string::npos ||
                NotReadReason(path) || !StartsLikeZip(path) || fs::file_size(file) > (1u << 20) || taken >= 12)
                continue;
            const Extraction before = Convert(path);
            if (before.status != 0 || ps_test::RunQuietly({"7z", "t", path}) != 0)
                continue;
            for (int trim : {0, 1}) {
                SCOPED_TRACE(path + (trim ? " (trimmed)" : ""));
                const std::string copy = dir.file(std::to_string(checked) + "-" + std::to_string(trim) + "." + format);
                ASSERT_TRUE(ps_test::WriteFileBytes(copy, ps_test::ReadFileBytes(path)));
                OpcPackage* p = PackageOpen(plat::Utf8ToWide(copy).c_str(), 2, nullptr);
                ASSERT_NE(p, nullptr);
                EXPECT_EQ(PackageClose(p, trim), 0);
                EXPECT_EQ(ps_test::RunQuietly({"7z", "t", copy}), 0);
                const Extraction after = Convert(copy);
                EXPECT_EQ(after.status, 0);
                EXPECT_TRUE(after.text == before.text);
            }
            ++checked;
            ++taken;
        }
    }
    if (checked == 0)
        GTEST_SKIP() << "no OOXML documents";
}

TEST_F(OoxmlCorpus, GeneratedDocumentsHoldTheirItems)
{
    const auto expectations = ps_test::ReadPiiExpectations();
    if (expectations.empty())
        GTEST_SKIP() << "no generated documents";
    int documents = 0;
    for (const auto& row : expectations) {
        const std::string& name = row.name;
        const std::string ext = fs::path(name).extension().string();
        if (ext != ".docx" && ext != ".xlsx" && ext != ".pptx")
            continue;
        SCOPED_TRACE(name);
        ++documents;
        const Extraction e = Convert(corpus_ + "/pii/" + name);
        ASSERT_EQ(e.status, 0);
        ps_test::ExpectLiteralItems(e.text, row);
    }
    EXPECT_GT(documents, 0);
}

}  // namespace
