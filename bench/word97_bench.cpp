// bench-word97 [CORPUS] [--rounds N]
//
// Reads every Word 97-2003 document of the corpus (public/doc and the pii
// .doc files) with the library's reader in process and reports documents and
// megabytes per second (best of the rounds). In the same run the same files
// go through "antiword" (one process per document) as a reference, and
// through extract-text (one process per document, the same start-up cost);
// the ratios to antiword are printed last. Documents our reader does not read
// (encrypted, damaged) are left out of every method.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "extract/textcollector.h"
#include "office/msmanagers.h"
#include "office/word/msword97.h"
#include "platform/text.h"

#include "bench_support.h"

namespace {

using bench::Run;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int ReadOne(const std::string& path, std::size_t* chars)
{
    const std::u16string wide = plat::PathFromNative(path);
    std::u16string text;
    CTextCollector collector;
    collector.SetOutput(&text);
    CMSWord802Text reader(&collector);
    const int ok = reader.Convert(wide.c_str());
    if (chars)
        *chars += text.size();
    return ok;
}

template <class F>
double Best(int rounds, F&& f)
{
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string corpus = PS_SHARED_CORPUS;
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else
            corpus = argv[i];
    }
    std::vector<std::string> files;
    std::error_code ec;
    for (const fs::path& folder : {fs::path(corpus) / "public" / "doc", fs::path(corpus) / "pii"}) {
        for (const auto& f : fs::directory_iterator(folder, ec))
            if (f.is_regular_file() && f.path().extension() == ".doc")
                files.push_back(f.path().string());
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> docs;
    std::uintmax_t bytes = 0;
    for (const std::string& f : files) {
        const std::u16string wide = plat::PathFromNative(f);
        if (IsWord97File(wide.c_str()) && ReadOne(f, nullptr)) {
            docs.push_back(f);
            bytes += fs::file_size(f, ec);
        }
    }
    if (docs.empty()) {
        std::fprintf(stderr, "no Word 97-2003 documents under %s\n", corpus.c_str());
        return 1;
    }
    const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::size_t chars = 0;
    const double ours = Best(rounds, [&] {
        chars = 0;
        for (const std::string& d : docs)
            ReadOne(d, &chars);
    });
    const std::string tool = fs::path(argv[0]).parent_path() / "extract-text";
    const double viaTool = Best(1, [&] {
        for (const std::string& d : docs)
            Run({tool, d});
    });
    const double antiword = Best(1, [&] {
        for (const std::string& d : docs)
            Run({"antiword", d});
    });
    std::printf("documents: %zu, %.2f MB, %zu characters of text\n", docs.size(), mb, chars);
    std::printf("reader in process: %8.3f s  %8.1f docs/s  %8.2f MB/s\n", ours, docs.size() / ours, mb / ours);
    std::printf("extract-text:      %8.3f s  %8.1f docs/s  %8.2f MB/s\n", viaTool, docs.size() / viaTool, mb / viaTool);
    std::printf("antiword:          %8.3f s  %8.1f docs/s  %8.2f MB/s\n", antiword, docs.size() / antiword,
                mb / antiword);
    std::printf("ratio to antiword: in process %.2fx, extract-text %.2fx\n", antiword / ours, antiword / viaTool);
    return 0;
}
