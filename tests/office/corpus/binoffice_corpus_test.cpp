// The Excel 97-2003 and PowerPoint 97-2003 documents of the shared corpus
// through the Office entries.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "library_corpus.h"
#include "extract/extractlib.h"
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
    const std::u16string wide = plat::PathFromNative(path);
    std::u16string out;
    Extraction e;
    if (fs::path(path).extension() == ".ppt")
        e.status = static_cast<int>(ConvertPowerPointToText(wide.c_str(), u"xml:false", &out));
    else
        e.status = static_cast<int>(ConvertExcelToText(wide.c_str(), u"xml:false", &out));
    e.text = plat::WideToUtf8(out);
    return e;
}

class BinaryOfficeCorpus : public LibraryCorpusTest {};

// Every document gives a status of 0 or 1 without an exception; the
// encrypted ones and the ones without an edit chain or workbook stream are
// not read; some known texts are there.
TEST_F(BinaryOfficeCorpus, StatusAndKnownTexts)
{
    int files = 0;
    for (const char* format : {"xls", "ppt"}) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(corpus_ + "/public/" + format, ec)) {
            const std::string path = entry.path().string();
            if (entry.path().extension() != std::string(".") + format)
                continue;
            SCOPED_TRACE(path);
            ++files;
            const Extraction e = Convert(path);
            EXPECT_TRUE(e.status == 0 || e.status == 1);
            const std::string name = entry.path().filename().string();
            if (name.find("Password_Protected") != std::string::npos || name.find("password.xls") != std::string::npos ||
                name.find("_encrypted") != std::string::npos) {
                EXPECT_EQ(e.status, 1);
            }
        }
    }
    if (files == 0)
        GTEST_SKIP() << "no documents";
    struct Known {
        const char* file;
        const char* text;
    } known[] = {
        {"/public/ppt/18f3e2845752_basic_test_ppt_file.ppt",
         "These are the notes for page 1\nThis is a test title\nThis is a test subtitle\nThis is on page 1\n"},
        {"/public/ppt/18f3e2845752_basic_test_ppt_file.ppt", "This is the title on page 2\n"},
    };
    for (const Known& k : known) {
        if (!fs::exists(corpus_ + k.file))
            continue;
        const Extraction e = Convert(corpus_ + k.file);
        EXPECT_EQ(e.status, 0) << k.file;
        EXPECT_NE(e.text.find(k.text), std::string::npos) << k.file;
    }
}

// The generated documents hold every item that their list names.
TEST_F(BinaryOfficeCorpus, GeneratedDocumentsHoldTheirItems)
{
    const auto expectations = ps_test::ReadPiiExpectations();
    if (expectations.empty())
        GTEST_SKIP() << "no generated documents";
    int documents = 0;
    for (const auto& row : expectations) {
        const std::string& name = row.name;
        const std::string ext = fs::path(name).extension().string();
        if (ext != ".xls" && ext != ".ppt")
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
