// The Excel 97-2003 and PowerPoint 97-2003 documents of the shared corpus
// through the Office entries.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "extract/extractlib.h"
#include "office/officeentry.h"
#include "platform/text.h"
#include "support/isolation.h"

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
        e.status = ConvertPowerPointToText(wide.c_str(), u"xml:false", &out);
    else
        e.status = ConvertExcelToText(wide.c_str(), u"xml:false", &out);
    e.text = plat::WideToUtf8(out);
    return e;
}

class BinaryOfficeCorpus : public ::testing::Test {
protected:
    void SetUp() override
    {
        corpus_ = ps_test::CorpusDir();
        if (corpus_.empty())
            GTEST_SKIP() << "no corpus";
        InitializeLibrary();
    }
    void TearDown() override
    {
        if (!corpus_.empty())
            FinalizeLibrary();
    }
    std::string corpus_;
};

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
    std::ifstream list(corpus_ + "/pii/expected.tsv");
    if (!list)
        GTEST_SKIP() << "no generated documents";
    std::string line;
    std::getline(list, line);  // header
    const std::regex email(R"([\w.-]+@[\w-]+(\.[\w-]+)+)");
    const std::regex ip(R"(\b\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}\b)");
    const std::regex card(R"(\b\d{4}-\d{4}-\d{4}-\d{4}\b)");
    const std::regex phone(R"(\b0\d{1,2}-\d{3,4}-\d{4}\b)");
    const std::regex resident(R"(\b(\d{6})-(\d{7})\b)");
    auto count = [](const std::string& s, const std::regex& re) {
        return static_cast<int>(std::distance(std::sregex_iterator(s.begin(), s.end(), re), std::sregex_iterator()));
    };
    auto validResidents = [&](const std::string& s) {
        int n = 0;
        for (auto it = std::sregex_iterator(s.begin(), s.end(), resident); it != std::sregex_iterator(); ++it) {
            const std::string d = (*it)[1].str() + (*it)[2].str();
            static const int weights[12] = {2, 3, 4, 5, 6, 7, 8, 9, 2, 3, 4, 5};
            int sum = 0;
            for (int i = 0; i < 12; ++i)
                sum += (d[i] - '0') * weights[i];
            if ((11 - sum % 11) % 10 == d[12] - '0')
                ++n;
        }
        return n;
    };
    int documents = 0;
    while (std::getline(list, line)) {
        std::istringstream fields(line);
        std::string name;
        int expected[7];
        fields >> name;
        for (int& v : expected)
            fields >> v;
        const std::string ext = fs::path(name).extension().string();
        if (ext != ".xls" && ext != ".ppt")
            continue;
        SCOPED_TRACE(name);
        ++documents;
        const Extraction e = Convert(corpus_ + "/pii/" + name);
        ASSERT_EQ(e.status, 0);
        EXPECT_EQ(validResidents(e.text), expected[0]);
        EXPECT_EQ(count(e.text, card), expected[2]);
        EXPECT_EQ(count(e.text, phone), expected[3]);
        EXPECT_EQ(count(e.text, email), expected[5]);
        EXPECT_EQ(count(e.text, ip), expected[6]);
    }
    EXPECT_GT(documents, 0);
}

}  // namespace
