// bench-hwp [CORPUS] [--rounds N]
//
// Extracts the corpus's HWP documents through the library's HWP entry and
// reports, per kind (HWP 5, HWP 3.0, HWPML), the megabytes of document read
// per second and the characters of text produced, best of the rounds
// (default 5). Documents the entry does not read (status other than 0) are
// counted apart.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "extract/extractlib.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Kind {
    const char* name;
    const char* folder;
    const char16_t* options;
};

}  // namespace

int main(int argc, char** argv)
{
    std::string corpus = PS_SHARED_CORPUS;
    int rounds = 5;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else
            corpus = argv[i];
    }
    InitializeLibrary();
    const Kind kinds[] = {{"HWP 5", "public/hwp", nullptr},
                          {"HWP 3.0", "public/hwp3", nullptr},
                          {"HWPML", "public/hml", u"xml:true"}};
    for (const Kind& kind : kinds) {
        std::vector<std::pair<std::u16string, std::uintmax_t>> docs;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(corpus + "/" + kind.folder, ec))
            if (e.is_regular_file())
                docs.emplace_back(plat::PathFromNative(e.path().string()), e.file_size());
        if (docs.empty()) {
            std::printf("%-8s no documents under %s/%s\n", kind.name, corpus.c_str(), kind.folder);
            continue;
        }
        double best = 1e100;
        std::uintmax_t bytes = 0, chars = 0;
        int unread = 0;
        for (int r = 0; r < rounds; ++r) {
            bytes = chars = 0;
            unread = 0;
            const auto start = Clock::now();
            for (const auto& [path, size] : docs) {
                std::u16string text;
                if (ConvertHwpToText(path.c_str(), kind.options, &text) != EntryResult::Read)
                    ++unread;
                bytes += size;
                chars += text.size();
            }
            best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
        }
        std::printf("%-8s %3zu documents (%d not read), %8.2f MB in %7.3f s: %8.2f MB/s, %9ju characters\n",
                    kind.name, docs.size(), unread, static_cast<double>(bytes) / 1e6, best,
                    static_cast<double>(bytes) / 1e6 / best, chars);
    }
    FinalizeLibrary();
    return 0;
}
