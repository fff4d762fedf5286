// scan-folder [--mask N] DIR...: walks the folders as a folder search does,
// with the eight document extensions of the whole-computer search, has each
// document extracted and matched, and prints one line per document:
// status, the seven counts in kind order, the path (tab-separated). A summary
// goes to standard error.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "extract/extractlib.h"
#include "platform/text.h"
#include "search/engine.h"
#include "search/matcher.h"

namespace {

struct Collector {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    std::vector<std::unique_ptr<SearchFileInfo>> files;
};

int OnFile(std::unique_ptr<SearchFileInfo> record, void* context)
{
    auto* c = static_cast<Collector*>(context);
    std::lock_guard<std::mutex> lock(c->lock);
    c->files.push_back(std::move(record));
    return 1;
}

void OnFinish(void* context)
{
    auto* c = static_cast<Collector*>(context);
    std::lock_guard<std::mutex> lock(c->lock);
    c->finished = true;
    c->done.notify_all();
}

int Usage()
{
    std::fprintf(stderr, "usage: scan-folder [--mask N] DIR...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    PersonalInfoMask mask = kMaskWholeComputer;
    std::vector<std::u16string> folders;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--mask") == 0) {
            if (++i >= argc)
                return Usage();
            char* end = nullptr;
            unsigned long v = std::strtoul(argv[i], &end, 0);
            if (!end || *end || v > 0xFFFFFFFFul)
                return Usage();
            mask = static_cast<PersonalInfoMask>(v);
        } else {
            folders.push_back(plat::PathFromNative(argv[i]));
        }
    }
    if (folders.empty())
        return Usage();

    auto start = std::chrono::steady_clock::now();
    Collector collector;
    std::vector<std::u16string> extensions = {u"DOC", u"DOCX", u"HWP", u"PDF",
                                              u"PPT", u"PPTX", u"XLS", u"XLSX"};
    FileSearchStartRecursive(&collector, OnFile, OnFinish, extensions, folders);
    {
        std::unique_lock<std::mutex> lock(collector.lock);
        collector.done.wait(lock, [&] { return collector.finished; });
    }
    DeleteFileSearchEngine();

    InitializeLibrary();
    std::sort(collector.files.begin(), collector.files.end(),
              [](const auto& a, const auto& b) { return a->path < b->path; });
    uint64_t bytes = 0;
    for (const auto& f : collector.files) {
        PersonalInfoCounts counts{};
        int status = FindPersonalInfoInFile(f->path, counts, mask, nullptr, nullptr);
        bytes += f->fileSize;
        std::printf("%d", status);
        for (int32_t n : counts.count)
            std::printf("\t%d", n);
        std::printf("\t%s\n", plat::PathToNative(f->path).c_str());
    }
    FinalizeLibrary();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "documents %zu, bytes %llu, seconds %.3f\n", collector.files.size(),
                 static_cast<unsigned long long>(bytes), secs);
    return 0;
}
