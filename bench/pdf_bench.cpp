// bench-pdf [CORPUS] [--rounds N] [--entry-only]
//
// Extracts the corpus PDFs (public/pdf and pii) through the library's PDF
// entry, through extract-text as one process per document, and, in the same
// run, through "mutool draw -F txt" and "pdftotext"; reports each as pages and
// megabytes per second on one core (best of the rounds) and, last, the ratio
// of each to the fastest. --entry-only times the entry alone.
// Documents the entry cannot read (a user password) are left out of every
// method.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "extract/extractlib.h"
#include "extract/pdf/pdfglue.h"
#include "platform/text.h"

#include "bench_support.h"

namespace {

using bench::Run;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Doc {
    std::string path;
    int pages;
};

bool Installed(const char* program)
{
    const char* path = std::getenv("PATH");
    if (!path)
        return false;
    std::string dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

struct Method {
    std::string name;
    std::function<bool(const Doc&)> extract;
    double best = 0;  // seconds of the fastest round
    double bestCpu = 0;  // CPU seconds of this thread in its least costly round (in process only)
    bool ok = true;
};

double ThreadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string corpus = PS_SHARED_CORPUS;
    int rounds = 3;
    bool entryOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--entry-only"))
            entryOnly = true;
        else
            corpus = argv[i];
    }
    std::vector<std::string> files;
    std::error_code ec;
    for (const char* sub : {"/public/pdf", "/pii"}) {
        for (const auto& f : fs::directory_iterator(corpus + sub, ec)) {
            if (f.is_regular_file() && f.path().extension() == ".pdf")
                files.push_back(f.path().string());
        }
    }
    std::sort(files.begin(), files.end());

    InitializeLibrary();
    std::vector<Doc> docs;
    long totalPages = 0;
    double totalBytes = 0;
    for (const std::string& f : files) {
        std::u16string text;
        if (ConvertPdfToText(plat::PathFromNative(f).c_str(), nullptr, &text) != EntryResult::Read) {
            std::printf("left out (not readable): %s\n", f.c_str());
            continue;
        }
        int pages = PdfCountPagesNative(f.c_str());
        if (pages <= 0)
            continue;
        docs.push_back({f, pages});
        totalPages += pages;
        totalBytes += static_cast<double>(fs::file_size(f, ec));
    }
    if (docs.empty()) {
        std::fprintf(stderr, "no PDF documents under %s\n", corpus.c_str());
        return 1;
    }
    std::printf("%zu documents, %ld pages, %.1f MB, best of %d rounds\n", docs.size(), totalPages, totalBytes / 1e6,
                rounds);

    const std::string tool = (fs::path(argv[0]).parent_path() / "extract-text").string();
    std::vector<Method> methods;
    methods.push_back({"entry (in process)", [](const Doc& d) {
                           std::u16string text;
                           return ConvertPdfToText(plat::PathFromNative(d.path).c_str(), u"xml:false", &text) == EntryResult::Read;
                       }});
    if (entryOnly) {
        // the entry alone
    } else if (access(tool.c_str(), X_OK) == 0)
        methods.push_back({"extract-text (process per file)",
                           [tool](const Doc& d) { return Run({tool, d.path}); }});
    if (entryOnly) {
    } else if (Installed("mutool"))
        methods.push_back({"mutool draw -F txt",
                           [](const Doc& d) { return Run({"mutool", "draw", "-q", "-F", "txt", "-o", "/dev/null", d.path}); }});
    else
        std::printf("mutool is not installed (mupdf-tools)\n");
    if (entryOnly) {
    } else if (Installed("pdftotext"))
        methods.push_back({"pdftotext", [](const Doc& d) { return Run({"pdftotext", "-q", d.path, "/dev/null"}); }});
    else
        std::printf("pdftotext is not installed (poppler-utils)\n");

    for (int r = 0; r < rounds; ++r) {
        for (Method& m : methods) {
            const auto start = Clock::now();
            const double cpuStart = ThreadCpuSeconds();
            for (const Doc& d : docs) {
                if (!m.extract(d))
                    m.ok = false;
            }
            const double s = std::chrono::duration<double>(Clock::now() - start).count();
            const double cpu = ThreadCpuSeconds() - cpuStart;
            if (r == 0 || s < m.best)
                m.best = s;
            if (r == 0 || cpu < m.bestCpu)
                m.bestCpu = cpu;
        }
    }
    FinalizeLibrary();

    double fastest = 0;
    for (const Method& m : methods)
        fastest = std::max(fastest, totalPages / m.best);
    for (const Method& m : methods)
        std::printf("%-34s %10.1f pages/s %8.2f MB/s %8.3f s%s\n", m.name.c_str(), totalPages / m.best,
                    totalBytes / 1e6 / m.best, m.best, m.ok ? "" : "  (some documents failed)");
    // The entry runs on this thread: its CPU time is its cost on one core,
    // whatever else the machine is doing.
    std::printf("%-34s %10.1f pages/s %8.2f MB/s %8.3f s CPU\n", "entry per core (CPU time)",
                totalPages / methods[0].bestCpu, totalBytes / 1e6 / methods[0].bestCpu, methods[0].bestCpu);
    for (const Method& m : methods)
        std::printf("ratio to the fastest: %-34s %6.3f\n", m.name.c_str(), (totalPages / m.best) / fastest);
    return 0;
}
