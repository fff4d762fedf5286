// The table reader over real NTFS images made by the ntfs-3g tools: what it
// lists must be exactly what `ntfsls -R` sees with a listed extension and a
// size above 0.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "ntfs_image.h"
#include "platform/system.h"
#include "platform/text.h"
#include "search/ntfs_volume.h"
#include "support/isolation.h"

namespace {

using ps_test::ImageEntry;
using ps_test::ListedFile;
using search::NtfsVolume;

const std::vector<plat::WString> kDocs = {u"DOC", u"DOCX", u"HWP", u"PDF", u"PPT", u"PPTX", u"XLS", u"XLSX"};

#define SKIP_WITHOUT_NTFS_TOOLS()                                              \
    if (!ps_test::HaveNtfsTools()) GTEST_SKIP() << "ntfs-3g tools not installed"
#define SKIP_WITHOUT_NTFS_LIBRARY()                                            \
    if (!ps_test::HaveNtfsLibrary()) GTEST_SKIP() << "libntfs-3g not linked in"

std::vector<ListedFile> ExpectedFromNtfsls(const std::string& image) {
    bool ok = false;
    std::vector<ListedFile> all = ps_test::NtfslsFiles(image, &ok);
    EXPECT_TRUE(ok) << "ntfsls failed";
    std::vector<ListedFile> out;
    for (const ListedFile& f : all) {
        std::string name = f.path.substr(f.path.rfind('/') + 1);
        if (f.size > 0 && search::HasListedExtension(plat::Utf8ToWide(name), kDocs)) out.push_back(f);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<ListedFile> FromTable(const std::string& image, std::vector<search::MftFile>* files = nullptr) {
    std::vector<ListedFile> out;
    auto v = NtfsVolume::Open(image);
    EXPECT_TRUE(v);
    if (!v) return out;
    EXPECT_EQ(v->status(), search::kNtfsStatusNtfs);
    EXPECT_GT(v->LoadMFT(), 0u);
    EXPECT_TRUE(v->ParseMFT());
    v->ListFiles(kDocs, [&](const search::MftFile& f) {
        out.push_back({plat::PathToNative(f.path), f.size});
        if (files) files->push_back(f);
        return true;
    });
    std::sort(out.begin(), out.end());
    return out;
}

// A tree of documents and others: nested folders, Korean names, every kind,
// mixed case, empty files, a folder with a document's extension, names with
// spaces and dots, large (non-resident) and small (resident) data.
std::vector<ImageEntry> MixedTree() {
    std::vector<ImageEntry> e = {
        {"report.pdf", 1500},
        {"빈 파일.hwp", 0},
        {"Users/kim/문서/급여명세서.HWP", 70000, false, 131000000000000000ULL},
        {"Users/kim/문서/old.doc", 12},
        {"Users/kim/문서/notes.txt", 40},
        {"Users/kim/Desktop/slides.PPTX", 300000},
        {"Users/kim/Desktop/archive.pdf.zip", 10},
        {"Users/kim/Desktop/folder.xls", 0, true},
        {"Users/kim/Desktop/folder.xls/inner.xlsx", 33},
        {"Users/lee/a.b.c.docx", 4096},
        {"Users/lee/deck.ppt", 1},
        {"Users/lee/sheet.Xls", 2048},
        {"Users/lee/noext", 77},
        {"Users/lee/.pdf", 5},
        {"Empty folder", 0, true},
    };
    std::string deep;
    for (int i = 0; i < 30; ++i) deep += "level" + std::to_string(i) + "/";
    e.push_back({deep + "deep.docx", 999});
    return e;
}

TEST(NtfsImage, ListsWhatNtfslsSeesInNestedFolders) {
    SKIP_WITHOUT_NTFS_TOOLS();
    SKIP_WITHOUT_NTFS_LIBRARY();
    ps_test::TempDir dir;
    const std::string image = dir.file("mixed.img");
    ASSERT_TRUE(ps_test::MakeNtfsImage(image, 32 << 20));
    ASSERT_TRUE(ps_test::PopulateNtfsImage(image, MixedTree()));
    auto expected = ExpectedFromNtfsls(image);
    ASSERT_EQ(expected.size(), 10u);  // the tree's documents with data
    std::vector<search::MftFile> files;
    EXPECT_EQ(FromTable(image, &files), expected);
    for (const search::MftFile& f : files) {
        if (f.path == u"Users/kim/문서/급여명세서.HWP") {
            EXPECT_EQ(f.lastWriteTime, 131000000000000000ULL);
        } else {
            EXPECT_GT(f.lastWriteTime, plat::FileTimeNow() - 36000000000ULL);  // written within the hour
        }
    }
}

TEST(NtfsImage, FormatsAndAGrowingTable) {
    SKIP_WITHOUT_NTFS_TOOLS();
    SKIP_WITHOUT_NTFS_LIBRARY();
    // Small clusters put a record across two clusters; the files make the
    // table grow well beyond what mkntfs gave it.
    // 4096-byte sectors give 4096-byte records (nine fix-up entries).
    const std::vector<std::vector<std::string>> formats = {
        {"-c", "512"}, {"-c", "4096"}, {"-c", "65536"}, {"-s", "4096"}};
    for (const auto& format : formats) {
        SCOPED_TRACE(format[0] + " " + format[1]);
        ps_test::TempDir dir;
        const std::string image = dir.file("grow.img");
        ASSERT_TRUE(ps_test::MakeNtfsImage(image, 64 << 20, format));
        std::vector<ImageEntry> entries;
        for (int i = 0; i < 600; ++i) {
            std::string folder = "dir" + std::to_string(i % 23) + "/sub" + std::to_string(i % 5);
            const char* ext = (i % 3 == 0) ? ".pdf" : (i % 3 == 1) ? ".hwp" : ".dat";
            entries.push_back({folder + "/file" + std::to_string(i) + ext, uint64_t((i * 37) % 5000)});
        }
        ASSERT_TRUE(ps_test::PopulateNtfsImage(image, entries));
        auto expected = ExpectedFromNtfsls(image);
        EXPECT_GT(expected.size(), 350u);
        EXPECT_EQ(FromTable(image), expected);
        auto v = NtfsVolume::Open(image);
        ASSERT_TRUE(v && v->LoadMFT() > 0);
        EXPECT_GT(v->mftRecordTotal(), 600u);
        if (format[0] == "-s") {
            EXPECT_EQ(v->mftRecordSize(), 4096u);
        }
    }
}

TEST(NtfsImage, RootFilesCopiedWithNtfscp) {
    SKIP_WITHOUT_NTFS_TOOLS();
    if (ps_test::FindProgram("ntfscp").empty()) GTEST_SKIP() << "ntfscp not installed";
    ps_test::TempDir dir;
    const std::string image = dir.file("root.img");
    ASSERT_TRUE(ps_test::MakeNtfsImage(image, 8 << 20));
    for (const auto& [name, size] : std::vector<std::pair<std::string, size_t>>{
             {"계약서.docx", 3000}, {"plain.txt", 10}, {"memo.hwp", 200}}) {
        std::string src = dir.file("src");
        ASSERT_TRUE(ps_test::WriteFileBytes(src, std::string(size, 'q')));
        ASSERT_EQ(ps_test::RunProgram({"ntfscp", "-f", image, src, name}), 0);
    }
    auto expected = ExpectedFromNtfsls(image);
    EXPECT_EQ(expected, (std::vector<ListedFile>{{"memo.hwp", 200}, {"계약서.docx", 3000}}));
    EXPECT_EQ(FromTable(image), expected);
}

TEST(NtfsImage, ToolPrintsTheListedPaths) {
    SKIP_WITHOUT_NTFS_TOOLS();
    SKIP_WITHOUT_NTFS_LIBRARY();
    const std::string tool = std::string(PS_BINARY_DIR) + "/bin/mft-list";
    if (::access(tool.c_str(), X_OK) != 0) GTEST_SKIP() << "mft-list not built";
    ps_test::TempDir dir;
    const std::string image = dir.file("tool.img");
    ASSERT_TRUE(ps_test::MakeNtfsImage(image, 16 << 20));
    ASSERT_TRUE(ps_test::PopulateNtfsImage(image, MixedTree()));

    auto lines = [](const std::string& text) {
        std::vector<std::string> out;
        size_t start = 0;
        while (start < text.size()) {
            size_t nl = text.find('\n', start);
            out.push_back(text.substr(start, nl - start));
            start = nl == std::string::npos ? text.size() : nl + 1;
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    std::vector<std::string> expected;
    for (const ListedFile& f : ExpectedFromNtfsls(image)) expected.push_back(f.path);
    std::string out;
    ASSERT_EQ(ps_test::RunProgram({tool, image}, &out), 0);
    EXPECT_EQ(lines(out), expected);

    out.clear();
    ASSERT_EQ(ps_test::RunProgram({tool, "--ext", "txt,.ZIP", image}, &out), 0);
    EXPECT_EQ(lines(out), (std::vector<std::string>{"Users/kim/Desktop/archive.pdf.zip", "Users/kim/문서/notes.txt"}));

    EXPECT_EQ(ps_test::RunProgram({tool, dir.file("missing.img")}), 1);
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("zero.img"), std::string(4096, '\0')));
    EXPECT_EQ(ps_test::RunProgram({tool, dir.file("zero.img")}), 1);
}

// The table is only a candidate list on a mounted volume: each file is
// confirmed on the file system, which gives its size and time. The mount is
// stood in for by the same tree extracted into a folder.
TEST(NtfsImage, SearchConfirmsFilesOnTheMountedTree) {
    SKIP_WITHOUT_NTFS_TOOLS();
    SKIP_WITHOUT_NTFS_LIBRARY();
    ps_test::TempDir dir;
    const std::string image = dir.file("mounted.img");
    ASSERT_TRUE(ps_test::MakeNtfsImage(image, 16 << 20));
    std::vector<ImageEntry> tree = MixedTree();
    ASSERT_TRUE(ps_test::PopulateNtfsImage(image, tree));

    const std::string mount = dir.file("mnt");
    for (const ImageEntry& e : tree) {
        std::string path = mount + "/" + e.path;
        plat::MakeDirs(plat::PathFromNative(e.folder ? path : path.substr(0, path.rfind('/'))));
        if (!e.folder) {
            ASSERT_TRUE(ps_test::WriteFileBytes(path, std::string(size_t(e.size), 'z')));
        }
    }
    // Changed since the table was read: one file gone, one emptied, one grown,
    // one replaced by a folder.
    ASSERT_EQ(::unlink((mount + "/report.pdf").c_str()), 0);
    ASSERT_TRUE(ps_test::WriteFileBytes(mount + "/Users/lee/deck.ppt", ""));
    ASSERT_TRUE(ps_test::WriteFileBytes(mount + "/Users/lee/sheet.Xls", std::string(5000, 'g')));
    ASSERT_TRUE(ps_test::WriteFileBytes(mount + "/빈 파일.hwp", "now with data"));
    ASSERT_EQ(::unlink((mount + "/Users/lee/a.b.c.docx").c_str()), 0);
    ASSERT_EQ(::mkdir((mount + "/Users/lee/a.b.c.docx").c_str(), 0755), 0);
    struct timeval times[2] = {{1600000000, 0}, {1600000000, 500000}};
    ASSERT_EQ(::utimes((mount + "/Users/kim/문서/old.doc").c_str(), times), 0);

    auto v = NtfsVolume::Open(image);
    ASSERT_TRUE(v);
    ASSERT_GT(v->LoadMFT(), 0u);
    ASSERT_TRUE(v->ParseMFT());
    std::vector<ListedFile> found;
    uint64_t oldTime = 0;
    EXPECT_TRUE(v->SearchFiles(plat::PathFromNative(mount), kDocs, [&](const search::MftFoundFile& f) {
        std::string path = plat::PathToNative(f.fullPath);
        EXPECT_EQ(path.rfind(mount + "/", 0), 0u);
        found.push_back({path.substr(mount.size() + 1), f.size});
        if (path.ends_with("/old.doc")) oldTime = f.lastWriteTime;
        return true;
    }));
    std::sort(found.begin(), found.end());
    std::string deep;
    for (int i = 0; i < 30; ++i) deep += "level" + std::to_string(i) + "/";
    std::vector<ListedFile> expected = {
        {"Users/kim/Desktop/folder.xls/inner.xlsx", 33},
        {"Users/kim/Desktop/slides.PPTX", 300000},
        {"Users/kim/문서/old.doc", 12},
        {"Users/kim/문서/급여명세서.HWP", 70000},
        {"Users/lee/.pdf", 5},
        {"Users/lee/sheet.Xls", 5000},
        {deep + "deep.docx", 999},
        {"빈 파일.hwp", 13},
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
    EXPECT_EQ(oldTime, plat::kFileTimeUnixEpoch + 1600000000ULL * 10000000ULL + 5000000ULL);

    // The sink ends the listing; a stop ends it too.
    int calls = 0;
    v->SearchFiles(plat::PathFromNative(mount + "/"), kDocs, [&](const search::MftFoundFile&) { return ++calls < 2; });
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(v->SearchFiles(plat::PathFromNative(mount), kDocs, [&](const search::MftFoundFile&) { return true; },
                                [] { return true; }));
}

// Random damage over a real table.
TEST(NtfsImage, DamagedRealTablesAreSurvived) {
    SKIP_WITHOUT_NTFS_TOOLS();
    SKIP_WITHOUT_NTFS_LIBRARY();
    ps_test::TempDir dir;
    const std::string image = dir.file("real.img");
    ASSERT_TRUE(ps_test::MakeNtfsImage(image, 8 << 20));
    ASSERT_TRUE(ps_test::PopulateNtfsImage(image, MixedTree()));
    const std::string base = ps_test::ReadFileBytes(image);
    auto v = NtfsVolume::Open(image);
    ASSERT_TRUE(v && v->LoadMFT() > 0);
    const uint64_t table = v->mftOffset();
    const uint64_t span = std::min<uint64_t>(v->mftDataSize(), 200 * 1024);
    ASSERT_LT(table + span, base.size());

    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    const std::string damaged = dir.file("damaged.img");
    int loaded = 0;
    for (int round = 0; round < 150; ++round) {
        std::string img = base;
        for (int h = 1 + next() % 32; h > 0; --h) {
            size_t at = (next() % 8 == 0) ? next() % 512 : size_t(table + next() % span);
            img[at] = char(next() >> 16);
        }
        ASSERT_TRUE(ps_test::WriteFileBytes(damaged, img));
        auto d = NtfsVolume::Open(damaged);
        ASSERT_TRUE(d);
        if (d->LoadMFT() == 0) continue;
        ++loaded;
        d->ParseMFT();
        size_t n = 0;
        d->ListFiles(kDocs, [&](const search::MftFile& f) {
            EXPECT_GT(f.size, 0u);
            EXPECT_FALSE(f.path.empty());
            ++n;
            return true;
        });
        EXPECT_LE(n, d->recordCount());
    }
    EXPECT_GT(loaded, 30);
}

}  // namespace
