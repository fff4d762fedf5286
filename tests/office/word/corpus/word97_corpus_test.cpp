// The Word 97-2003 reader over the shared corpus, in process: every binary
// Word document of public/doc and of the generated set gives a status in
// bounded time, encrypted documents are not read, and the generated .doc
// files hold the same personal items as their .docx twins.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "extract/textcollector.h"
#include "office/msmanagers.h"
#include "office/officeentry.h"
#include "office/word/msword97.h"
#include "platform/text.h"
#include "support/isolation.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Files(const fs::path& folder, const std::string& ext)
{
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& f : fs::directory_iterator(folder, ec))
        if (f.is_regular_file() && f.path().extension() == ext)
            out.push_back(f.path());
    std::sort(out.begin(), out.end());
    return out;
}

// Tokens of the text that hold a digit or an "@": the personal items.
std::set<std::u16string> ItemTokens(const std::u16string& text)
{
    std::set<std::u16string> out;
    std::u16string cur;
    auto flush = [&] {
        if (std::any_of(cur.begin(), cur.end(), [](char16_t c) { return (c >= u'0' && c <= u'9') || c == u'@'; }))
            out.insert(cur);
        cur.clear();
    };
    for (char16_t c : text) {
        if (c <= 0x20 || c == 0xA0 || c == 0x3000)
            flush();
        else
            cur.push_back(c == 0x2010 ? u'-' : c);
    }
    flush();
    return out;
}

}  // namespace

TEST(Word97Corpus, EveryDocumentGivesAStatus)
{
    const std::string corpus = ps_test::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    std::vector<fs::path> docs = Files(fs::path(corpus) / "public" / "doc", ".doc");
    for (const fs::path& p : Files(fs::path(corpus) / "pii", ".doc"))
        docs.push_back(p);
    int read = 0, failed = 0, other = 0;
    double slowest = 0;
    std::string slowestName;
    for (const fs::path& p : docs) {
        const std::u16string path = plat::PathFromNative(p.string());
        if (!IsWord97File(path.c_str())) {
            ++other;
            continue;
        }
        std::u16string text;
        CTextCollector collector;
        collector.SetOutput(&text);
        CMSWord802Text reader(&collector);
        const auto start = std::chrono::steady_clock::now();
        const int ok = reader.Convert(path.c_str());
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds > slowest)
            slowest = seconds, slowestName = p.filename().string();
        EXPECT_LT(seconds, 30.0) << p;
        ok ? ++read : ++failed;
        if (p.filename().string().find("password") != std::string::npos) {
            EXPECT_EQ(ok, 0) << p << " is encrypted";
        }
    }
    std::cout << "Word 97-2003: " << read << " read, " << failed << " not read, " << other
              << " other formats; slowest " << slowest << " s (" << slowestName << ")\n";
    EXPECT_GT(read, 0);
}

TEST(Word97Corpus, GeneratedDocumentsHoldTheItemsOfTheirTwins)
{
    const std::string corpus = ps_test::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    int compared = 0;
    for (const fs::path& doc : Files(fs::path(corpus) / "pii", ".doc")) {
        fs::path twin = doc;
        twin.replace_extension(".docx");
        if (!fs::exists(twin))
            continue;
        std::u16string docText, twinText;
        const std::u16string docPath = plat::PathFromNative(doc.string());
        const std::u16string twinPath = plat::PathFromNative(twin.string());
        ASSERT_EQ(ConvertWordToText(docPath.c_str(), u"xml:false", &docText), EntryResult::Read) << doc;
        if (ConvertWordToText(twinPath.c_str(), u"xml:true", &twinText) != EntryResult::Read)
            continue;
        const std::set<std::u16string> have = ItemTokens(docText);
        for (const std::u16string& item : ItemTokens(twinText))
            EXPECT_TRUE(have.count(item)) << doc << ": " << plat::WideToUtf8(item);
        ++compared;
    }
    std::cout << compared << " generated documents compared with their twins\n";
}
