// bench-scan [FOLDER] [--rounds N] [--threads N,N,...] [--scan-only]
//
// Runs scan-folder (beside this program) over a folder of documents with 1, 2,
// 4 and all threads and reports documents per second, MB per second and the
// speed-up over one thread (best of the rounds). In the same run, the
// documents that Debian's extractors read (doc, docx, xls, ppt, pdf) go
// through the extractor piped into ripgrep with the 80 personal-information
// patterns, as many at a time as there are cores, and scan-folder takes the
// same documents (linked into a private folder) with all threads; the ratio
// of the two comes last. The default folder is the public corpus.
// --threads gives the thread counts to time (default 1, 2, 4 and all
// cores); --scan-only leaves the reference pipeline out.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "search/pipatterns.h"

#include "bench_support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Doc {
    std::string path;
    std::string ext;  // lower case, no dot
    uint64_t size = 0;
};

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::vector<Doc> ListDocuments(const std::string& folder)
{
    static const char* kExts[] = {"doc", "docx", "hwp", "pdf", "ppt", "pptx", "xls", "xlsx"};
    std::vector<Doc> docs;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (!it->is_regular_file(ec))
            continue;
        std::string ext = it->path().extension().string();
        if (ext.size() < 2)
            continue;
        ext = Lower(ext.substr(1));
        if (std::find_if(std::begin(kExts), std::end(kExts),
                         [&](const char* e) { return ext == e; }) == std::end(kExts))
            continue;
        docs.push_back({it->path().string(), ext, static_cast<uint64_t>(it->file_size(ec))});
    }
    return docs;
}

// Seconds of one scan-folder run over the folder with the given threads.
double ScanFolder(const std::string& tool, const std::string& folder, unsigned threads)
{
    const std::string jobs = std::to_string(threads);
    const auto start = Clock::now();
    if (!bench::Run({tool, "--jobs", jobs, folder}))
        return -1;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool HasDebianExtractor(const Doc& d)
{
    return d.ext == "doc" || d.ext == "docx" || d.ext == "xls" || d.ext == "ppt" || d.ext == "pdf";
}

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// The Debian extractor's command for a document, its text on standard
// output (never a file beside the document).
std::string ExtractorCommand(const Doc& d)
{
    const std::string path = Quote(d.path);
    if (d.ext == "doc")
        return "catdoc -w " + path;
    if (d.ext == "docx")
        return "docx2txt < " + path;
    if (d.ext == "xls")
        return "xls2csv " + path;
    if (d.ext == "ppt")
        return "catppt " + path;
    return "pdftotext -q -enc UTF-8 -eol unix " + path + " -";
}

// The patterns as ripgrep reads them, with ASCII word boundaries.
std::string WritePatternFile(const std::string& dir)
{
    std::string file = dir + "/patterns.txt";
    std::ofstream out(file, std::ios::binary);
    for (int i = 0; i < kPersonalInfoPatternCount; ++i) {
        out << bench::RipgrepPattern(plat::WideToUtf8(kPersonalInfoPatterns[i])) << '\n';
    }
    return file;
}

// Seconds for every document through its extractor into ripgrep, as many
// pipelines at a time as threads.
double Pipeline(const std::vector<Doc>& docs, const std::string& patterns, unsigned threads)
{
    std::atomic<size_t> next{0};
    const auto start = Clock::now();
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < docs.size();) {
            std::string cmd = ExtractorCommand(docs[i]) + " 2>/dev/null | rg --no-config -c -f " +
                              Quote(patterns);
            bench::Run({"sh", "-c", cmd});
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back(work);
    for (std::thread& t : pool)
        t.join();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Best(int rounds, const std::function<double()>& run)
{
    double best = 1e30;
    for (int r = 0; r < rounds; ++r) {
        double s = run();
        if (s < 0)
            return -1;
        best = std::min(best, s);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string folder = PS_SHARED_CORPUS "/public";
    int rounds = 3;
    bool scanOnly = false;
    std::vector<unsigned> counts;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            for (const char* p = argv[++i]; *p;) {
                char* end = nullptr;
                const unsigned long n = std::strtoul(p, &end, 10);
                if (end == p || n == 0 || n > 1024) {
                    std::fprintf(stderr, "bench-scan: bad --threads\n");
                    return 2;
                }
                counts.push_back(static_cast<unsigned>(n));
                p = *end == ',' ? end + 1 : end;
            }
        } else if (std::strcmp(argv[i], "--scan-only") == 0) {
            scanOnly = true;
        } else {
            folder = argv[i];
        }
    }
    std::string tool = (fs::path(fs::read_symlink("/proc/self/exe")).parent_path() / "scan-folder").string();
    std::vector<Doc> docs = ListDocuments(folder);
    if (docs.empty()) {
        std::fprintf(stderr, "bench-scan: no documents under %s\n", folder.c_str());
        return 1;
    }
    uint64_t bytes = 0;
    for (const Doc& d : docs)
        bytes += d.size;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("folder %s: %zu documents, %.1f MB; %u cores\n", folder.c_str(), docs.size(),
                bytes / 1e6, cores);

    if (counts.empty()) {
        counts = {1, 2, 4};
        if (cores > 4)
            counts.push_back(cores);
    }
    double one = 0;
    for (unsigned threads : counts) {
        double s = Best(rounds, [&] { return ScanFolder(tool, folder, threads); });
        if (s < 0) {
            std::fprintf(stderr, "bench-scan: %s did not run\n", tool.c_str());
            return 1;
        }
        if (threads == 1)
            one = s;
        std::printf("scan-folder %2u threads: %7.3f s  %8.1f documents/s  %7.1f MB/s", threads, s,
                    docs.size() / s, bytes / 1e6 / s);
        if (one > 0)
            std::printf("  speed-up %.2f", one / s);
        std::printf("\n");
    }
    if (scanOnly)
        return 0;

    // The reference pipeline on the documents Debian's extractors read.
    std::vector<Doc> readable;
    for (const Doc& d : docs)
        if (HasDebianExtractor(d))
            readable.push_back(d);
    char tmpl[] = "/tmp/bench-scan-XXXXXX";
    if (readable.empty() || !mkdtemp(tmpl)) {
        std::printf("no documents for the reference pipeline\n");
        return 0;
    }
    const std::string dir = tmpl;
    const std::string patterns = WritePatternFile(dir);
    // The same documents for scan-folder, linked into a folder of their own.
    const std::string same = dir + "/docs";
    fs::create_directories(same);
    uint64_t readableBytes = 0;
    for (size_t i = 0; i < readable.size(); ++i) {
        std::string name = same + "/" + std::to_string(i) + "." + readable[i].ext;
        std::error_code ec;
        fs::create_hard_link(readable[i].path, name, ec);
        if (ec)
            fs::copy_file(readable[i].path, name, ec);
        readableBytes += readable[i].size;
    }
    double ours = Best(rounds, [&] { return ScanFolder(tool, same, cores); });
    double ref = Best(1, [&] { return Pipeline(readable, patterns, cores); });
    fs::remove_all(dir);
    std::printf("same %zu documents (%.1f MB), %u at a time:\n", readable.size(), readableBytes / 1e6,
                cores);
    std::printf("  scan-folder               %7.3f s  %8.1f documents/s\n", ours, readable.size() / ours);
    std::printf("  extractors + ripgrep      %7.3f s  %8.1f documents/s\n", ref, readable.size() / ref);
    std::printf("ratio (extractors + ripgrep time / scan-folder time): %.1f\n", ref / ours);
    return 0;
}
