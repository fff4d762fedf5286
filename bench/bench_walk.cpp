// The engine's folder walk over a generated tree of 200,000 files, next to
// find(1) selecting the same documents in the same tree. Prints the ratio last.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

#include "platform/text.h"
#include "search/engine.h"

extern char** environ;

namespace {

constexpr int kFolders = 2000;
constexpr int kFilesPerFolder = 100;  // 200,000 files

const char* const kNames[] = {".doc", ".txt", ".jpg", ".DOCX", ".c", ".h", ".pdf", ".log", ".o", ""};

const std::string& Tree()
{
    static const std::string root = [] {
        std::string r = (std::filesystem::temp_directory_path() /
                         ("bench-walk-" + std::to_string(getpid())))
                            .string();
        for (int d = 0; d < kFolders; ++d) {
            // Three levels: 10 x 10 x 20 folders.
            std::string dir = r + "/p" + std::to_string(d / 200) + "/q" + std::to_string(d / 20 % 10) +
                              "/r" + std::to_string(d % 20);
            std::filesystem::create_directories(dir);
            for (int f = 0; f < kFilesPerFolder; ++f) {
                std::string name = dir + "/file" + std::to_string(f) + kNames[f % 10];
                int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd >= 0) {
                    if (f % 3 != 0)
                        (void)!::write(fd, "x", 1);
                    ::close(fd);
                }
            }
        }
        return r;
    }();
    return root;
}

struct Sink : search::WalkSink {
    // guards: done (the walk's end; main waits on cv).
    std::mutex lock;
    std::condition_variable cv;
    bool done = false;
    std::atomic<long> files{0};
    bool AddFileInfo(std::unique_ptr<SearchFileInfo>) override
    {
        ++files;
        return true;
    }
    void FinishFileSearch() override
    {
        std::lock_guard<std::mutex> l(lock);
        done = true;
        cv.notify_all();
    }
};

double g_walk = 0, g_find = 0;
long g_walkFiles = 0;

void BM_EngineWalk(benchmark::State& state)
{
    const std::string& root = Tree();
    double total = 0;
    CNTFSSearch engine;
    for (auto _ : state) {
        Sink sink;
        auto t0 = std::chrono::steady_clock::now();
        engine.StartRecursive(sink, {u"DOC", u"DOCX", u"HWP", u"PDF", u"PPT", u"PPTX", u"XLS", u"XLSX"},
                              {plat::PathFromNative(root)});
        {
            std::unique_lock<std::mutex> l(sink.lock);
            sink.cv.wait(l, [&] { return sink.done; });
        }
        double d = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        total += d;
        state.SetIterationTime(d);
        g_walkFiles = sink.files;
    }
    g_walk = total / state.iterations();
    state.counters["documents"] = static_cast<double>(g_walkFiles);
}

void BM_Find(benchmark::State& state)
{
    const std::string& root = Tree();
    double total = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        const char* argv[] = {"find", root.c_str(), "-type", "f", "(",
                              "-iname", "*.doc", "-o", "-iname", "*.docx", "-o", "-iname", "*.hwp",
                              "-o", "-iname", "*.pdf", "-o", "-iname", "*.ppt", "-o", "-iname", "*.pptx",
                              "-o", "-iname", "*.xls", "-o", "-iname", "*.xlsx", ")", "-size", "+0c",
                              nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid;
        int status = 0;
        if (posix_spawnp(&pid, "find", &fa, nullptr, const_cast<char**>(argv), environ) == 0)
            waitpid(pid, &status, 0);
        posix_spawn_file_actions_destroy(&fa);
        double d = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        total += d;
        state.SetIterationTime(d);
    }
    g_find = total / state.iterations();
}

BENCHMARK(BM_EngineWalk)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Find)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::printf("tree: %d files in %d folders at %s\n", kFolders * kFilesPerFolder, kFolders,
                Tree().c_str());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(Tree());
    std::printf("engine walk %.1f ms (%ld documents), find %.1f ms\n", g_walk * 1e3, g_walkFiles,
                g_find * 1e3);
    if (g_find > 0)
        std::printf("engine / find time = %.2f\n", g_walk / g_find);
    return 0;
}
