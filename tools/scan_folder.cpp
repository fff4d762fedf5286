// scan-folder [--mask N] [--jobs N] [--memory MB] DIR...: walks the folders
// as a folder search does, with the eight document extensions of the
// whole-computer search, has each document extracted and matched on a pool of
// threads (one per core unless --jobs says otherwise), and prints one line per
// document in path order: status, the seven counts in kind order, the path
// (tab-separated). A summary goes to standard error. The documents read at
// once share the search's memory ceiling as in the search window (--memory
// sets another one).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/documentkinds.h"
#include "extract/extractlib.h"
#include "platform/docfile.h"
#include "platform/text.h"
#include "search/engine.h"
#include "search/scan.h"
#include "tools/toolhelp.h"

namespace {

struct Collector : search::WalkSink {
    // guards: finished and files (the walkers add, main waits for the end).
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    std::vector<std::unique_ptr<SearchFileInfo>> files;

    bool AddFileInfo(std::unique_ptr<SearchFileInfo> record) override
    {
        std::lock_guard<std::mutex> l(lock);
        files.push_back(std::move(record));
        return true;
    }
    void FinishFileSearch() override
    {
        std::lock_guard<std::mutex> l(lock);
        finished = true;
        done.notify_all();
    }
};

const char kUsage[] =
    "usage: scan-folder [--mask N] [--jobs N] DIR...\n"
    "Walks the folders as a folder search does, reads and matches every document\n"
    "and prints one line per document: status, the seven counts, the path.\n"
    "  --mask N   kinds of personal information to look for (default: all)\n"
    "  --jobs N   reading threads (default: one per core)\n"
    "  --memory MB  memory the documents read at once may hold together\n"
    "             (default: a share of the machine's memory)\n";

int Usage() { return tools::UsageError(kUsage, 2); }

}  // namespace

int main(int argc, char** argv)
{
    PersonalInfoMask mask = kMaskWholeComputer;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::u16string> folders;
    if (tools::AskedForHelp(argc, argv))
        return tools::ShowHelp(kUsage);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--mask") == 0) {
            if (++i >= argc)
                return Usage();
            char* end = nullptr;
            unsigned long v = std::strtoul(argv[i], &end, 0);
            if (!end || *end || v > 0xFFFFFFFFul)
                return Usage();
            mask = static_cast<PersonalInfoMask>(v);
        } else if (std::strcmp(argv[i], "--jobs") == 0) {
            if (++i >= argc)
                return Usage();
            char* end = nullptr;
            unsigned long v = std::strtoul(argv[i], &end, 10);
            if (!end || *end || v == 0 || v > 1024)
                return Usage();
            jobs = static_cast<unsigned>(v);
        } else if (std::strcmp(argv[i], "--memory") == 0) {
            if (++i >= argc)
                return Usage();
            char* end = nullptr;
            unsigned long long v = std::strtoull(argv[i], &end, 10);
            if (!end || *end || v == 0 || v > (1ull << 30))
                return Usage();
            plat::SearchMemoryCeiling().SetLimit(v << 20);
        } else {
            folders.push_back(plat::PathFromNative(argv[i]));
        }
    }
    if (folders.empty())
        return Usage();

    auto start = std::chrono::steady_clock::now();
    Collector collector;
    std::vector<std::u16string> extensions = ExtensionsOfKinds(kAllDocumentKinds);
    std::sort(extensions.begin(), extensions.end());
    {
        CNTFSSearch engine;
        engine.StartRecursive(collector, extensions, folders);
        std::unique_lock<std::mutex> lock(collector.lock);
        collector.done.wait(lock, [&] { return collector.finished; });
    }

    InitializeLibrary();
    std::sort(collector.files.begin(), collector.files.end(),
              [](const auto& a, const auto& b) { return a->path < b->path; });
    struct Result {
        ScanStatus status = ScanStatus::Done;
        PersonalInfoCounts counts{};
    };
    std::vector<Result> results(collector.files.size());
    // The largest documents first, so that no long one is left for the end
    // while the other threads have nothing to do.
    std::vector<size_t> order(results.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return collector.files[a]->fileSize > collector.files[b]->fileSize;
    });
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t k; (k = next.fetch_add(1)) < order.size();) {
            const size_t i = order[k];
            results[i].status = FindPersonalInfoInFile(collector.files[i]->path, results[i].counts,
                                                       mask, nullptr, nullptr);
        }
    };
    std::vector<std::thread> pool;
    jobs = static_cast<unsigned>(std::min<size_t>(jobs, std::max<size_t>(1, results.size())));
    for (unsigned t = 1; t < jobs; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& t : pool)
        t.join();

    uint64_t bytes = 0;
    for (size_t i = 0; i < results.size(); ++i) {
        const auto& f = collector.files[i];
        bytes += f->fileSize;
        std::printf("%d", static_cast<int>(results[i].status));
        for (int32_t n : results[i].counts.count)
            std::printf("\t%d", n);
        std::printf("\t%s\n", plat::PathToNative(f->path).c_str());
    }
    FinalizeLibrary();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "documents %zu, bytes %llu, seconds %.3f, threads %u, memory ceiling %llu MB (most held %llu MB)\n",
                 collector.files.size(), static_cast<unsigned long long>(bytes), secs, jobs,
                 static_cast<unsigned long long>(plat::SearchMemoryCeiling().Limit() >> 20),
                 static_cast<unsigned long long>(plat::SearchMemoryCeiling().PeakReserved() >> 20));
    return 0;
}
