// Lists the documents of an NTFS image holding 100,000 files through the
// master-file-table reader, and the same files extracted into a folder of the
// host's file system through a directory walk, in the same run; prints both
// times and their ratio last.
//
//   bench-ntfs [--files N] [--keep DIR] [--rounds R]
//
// The image and the folder are made once in DIR (default: a temporary folder
// removed at the end; with --keep they are reused by the next run). Both
// listings run with warm caches, best of R rounds.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/text.h"
#include "search/ntfs_volume.h"
#include "search/ntfs_image.h"
#include "support/isolation.h"

namespace {

const std::vector<plat::WString> kDocs = {u"DOC", u"DOCX", u"HWP", u"PDF", u"PPT", u"PPTX", u"XLS", u"XLSX"};
const char* kExts[] = {".pdf", ".hwp", ".docx", ".xlsx", ".txt", ".jpg", ".doc", ".ppt", ".log", ".xls"};

// 100,000 files in 1,000 folders three levels deep, ten kinds of extension.
std::vector<ps_test::ImageEntry> Tree(int files) {
    std::vector<ps_test::ImageEntry> out;
    out.reserve(size_t(files));
    for (int i = 0; i < files; ++i) {
        int folder = i % 1000;
        std::string path = "u" + std::to_string(folder / 100) + "/p" + std::to_string(folder / 10 % 10) + "/d" +
                           std::to_string(folder % 10) + "/file" + std::to_string(i) + kExts[i % 10];
        out.push_back({path, uint64_t(1 + i % 300)});
    }
    return out;
}

bool Exists(const std::string& p) { return ::access(p.c_str(), F_OK) == 0; }

// The directory walk: every folder read, every file with a listed extension
// looked up for its size and time, as a walker reporting it would.
size_t Walk(const std::string& dir, std::vector<plat::WString>& exts) {
    size_t found = 0;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return 0;
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        std::string path = dir + "/" + e->d_name;
        if (e->d_type == DT_DIR) {
            found += Walk(path, exts);
        } else if (e->d_type == DT_REG || e->d_type == DT_UNKNOWN) {
            if (!search::HasListedExtension(plat::PathFromNative(e->d_name), exts)) continue;
            struct stat st;
            if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) ++found;
        }
    }
    ::closedir(d);
    return found;
}

double BestOf(int rounds, const std::function<size_t()>& run, size_t& count) {
    double best = 1e99;
    for (int r = 0; r < rounds; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        count = run();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best) best = s;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    int files = 100000, rounds = 5;
    std::string keep;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--files") == 0) files = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--keep") == 0) keep = argv[i + 1];
    }
    if (!ps_test::HaveNtfsTools() || !ps_test::HaveNtfsLibrary()) {
        std::fprintf(stderr, "bench-ntfs: the ntfs-3g tools and library are needed\n");
        return 1;
    }
    std::unique_ptr<ps_test::TempDir> tmp;
    std::string dir = keep;
    if (dir.empty()) {
        tmp = std::make_unique<ps_test::TempDir>();
        dir = tmp->path();
    } else {
        plat::MakeDirs(plat::PathFromNative(dir));
    }
    const std::string tag = std::to_string(files);
    const std::string image = dir + "/files" + tag + ".img";
    const std::string tree = dir + "/files" + tag;
    auto entries = Tree(files);

    if (!Exists(image + ".done")) {
        auto t0 = std::chrono::steady_clock::now();
        uint64_t bytes = (uint64_t(files) * 1024 * 2 + (64u << 20));
        if (!ps_test::MakeNtfsImage(image, bytes) || !ps_test::PopulateNtfsImage(image, entries)) {
            std::fprintf(stderr, "bench-ntfs: cannot make the image\n");
            return 1;
        }
        ps_test::WriteFileBytes(image + ".done", "");
        std::printf("image made in %.1f s\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    if (!Exists(tree + "/.done")) {
        for (const auto& e : entries) {
            std::string path = tree + "/" + e.path;
            plat::MakeDirs(plat::PathFromNative(path.substr(0, path.rfind('/'))));
            ps_test::WriteFileBytes(path, std::string(size_t(e.size), 'x'));
        }
        ps_test::WriteFileBytes(tree + "/.done", "");
    }

    size_t tableCount = 0, walkCount = 0;
    double table = BestOf(rounds, [&] {
        auto v = search::NtfsVolume::Open(image);
        if (!v || v->LoadMFT() == 0 || !v->ParseMFT()) return size_t(0);
        size_t n = 0;
        v->ListFiles(kDocs, [&](const search::MftFile&) { return ++n, true; });
        return n;
    }, tableCount);
    std::vector<plat::WString> exts = kDocs;
    double walk = BestOf(rounds, [&] { return Walk(tree, exts); }, walkCount);

    std::printf("files in the image:            %d\n", files);
    std::printf("master file table: %8.1f ms, %zu documents\n", table * 1000, tableCount);
    std::printf("directory walk:    %8.1f ms, %zu documents\n", walk * 1000, walkCount);
    std::printf("ratio (walk / table): %.2f\n", walk / table);
    return tableCount == walkCount ? 0 : 1;
}
