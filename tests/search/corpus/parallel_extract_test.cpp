// Documents of every format read on several threads at once give the same
// text and status as read one after another.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "extract/extractlib.h"
#include "platform/text.h"
#include "search/extractors.h"
#include "support/isolation.h"

namespace {

struct Result {
    int status = -1;
    std::u16string text;
};

Result Extract(const std::string& path)
{
    Result r;
    std::u16string wide = plat::PathFromNative(path);
    std::string ext = std::filesystem::path(path).extension().string().substr(1);
    r.status = static_cast<int>(ExtractDocumentText(wide, plat::ToUpperAscii(plat::PathFromNative(ext)), r.text));
    return r;
}

}  // namespace

TEST(ParallelExtraction, SameTextAsOneAfterAnother)
{
    const std::string corpus = ps_test::CorpusDir();
    if (corpus.empty() || !std::filesystem::is_directory(corpus + "/public"))
        GTEST_SKIP() << "no corpus";
    // A handful of documents of each searched format, the smallest first, so
    // that the test stays short.
    std::vector<std::string> docs;
    for (const char* folder : {"doc", "docx", "hwp", "hwp3", "hml", "pdf", "ppt", "pptx", "rtf",
                               "word6", "word95", "xls", "xlsx"}) {
        std::vector<std::pair<uintmax_t, std::string>> files;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(corpus + "/public/" + folder, ec))
            if (e.is_regular_file(ec) && e.path().has_extension())
                files.emplace_back(e.file_size(ec), e.path().string());
        std::sort(files.begin(), files.end());
        for (size_t i = 0; i < files.size() && i < 6; ++i)
            docs.push_back(files[i].second);
    }
    if (docs.empty())
        GTEST_SKIP() << "no documents";

    InitializeLibrary();
    std::vector<Result> alone(docs.size());
    for (size_t i = 0; i < docs.size(); ++i)
        alone[i] = Extract(docs[i]);

    // Every document several times over, on eight threads.
    constexpr int kRepeat = 3;
    std::vector<Result> together(docs.size() * kRepeat);
    std::atomic<size_t> next{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < 8; ++t)
        pool.emplace_back([&] {
            for (size_t k; (k = next.fetch_add(1)) < together.size();)
                together[k] = Extract(docs[k % docs.size()]);
        });
    for (std::thread& t : pool)
        t.join();
    FinalizeLibrary();

    for (size_t k = 0; k < together.size(); ++k) {
        const Result& a = alone[k % docs.size()];
        EXPECT_EQ(together[k].status, a.status) << docs[k % docs.size()];
        EXPECT_TRUE(together[k].text == a.text) << docs[k % docs.size()];
    }
}
