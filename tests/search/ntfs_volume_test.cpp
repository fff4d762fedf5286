// The table reader over volumes built byte by byte: geometry, run lists,
// record numbering, names, parent chains, and damaged structures.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ntfs_synth.h"
#include "platform/text.h"
#include "search/ntfs_volume.h"
#include "support/isolation.h"

namespace {

using ps_test::SynthRun;
using ps_test::SynthVolume;
using search::NtfsVolume;

const std::vector<plat::WString> kDocs = {u"DOC", u"DOCX", u"HWP", u"PDF", u"PPT", u"PPTX", u"XLS", u"XLSX"};

struct Listed {
    std::string path;
    uint64_t size;
    bool operator==(const Listed& o) const { return path == o.path && size == o.size; }
    bool operator<(const Listed& o) const { return path < o.path; }
};

void PrintTo(const Listed& l, std::ostream* os) { *os << l.path << " (" << l.size << ")"; }

class Image {
public:
    explicit Image(const std::string& bytes) : file_(dir_.file("volume.img")) {
        ps_test::WriteFileBytes(file_, bytes);
    }
    const std::string& path() const { return file_; }

private:
    ps_test::TempDir dir_;
    std::string file_;
};

std::unique_ptr<NtfsVolume> Load(const std::string& bytes, bool* loaded = nullptr) {
    Image img(bytes);
    auto v = NtfsVolume::Open(img.path());  // the descriptor keeps the data after the file is gone
    if (!v) return v;
    bool ok = v->LoadMFT() > 0;
    if (loaded) *loaded = ok;
    if (ok) v->ParseMFT();
    return v;
}

std::vector<Listed> List(const NtfsVolume& v, const std::vector<plat::WString>& exts = kDocs) {
    std::vector<Listed> out;
    v.ListFiles(exts, [&](const search::MftFile& f) {
        out.push_back({plat::PathToNative(f.path), f.size});
        return true;
    });
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<Listed> ListBytes(const std::string& bytes) {
    auto v = Load(bytes);
    return v ? List(*v) : std::vector<Listed>{};
}

TEST(NtfsBootSector, GeometryFromTheBootSector) {
    struct Case {
        uint16_t bps;
        uint8_t spc;
        uint8_t recordByte;
        uint32_t status;
        uint32_t cluster;
        uint32_t record;
    } cases[] = {
        {512, 8, 0xF6, search::kNtfsStatusNtfs, 4096, 1024},   // 2^10
        {512, 8, 0x01, search::kNtfsStatusNtfs, 4096, 4096},   // one cluster
        {512, 1, 0x02, search::kNtfsStatusNtfs, 512, 1024},    // two clusters
        {4096, 1, 0xF4, search::kNtfsStatusNtfs, 4096, 4096},  // 2^12
        {512, 0xF8, 0xF6, search::kNtfsStatusNtfs, 131072, 1024},  // 2^8 sectors
        {0, 8, 0xF6, search::kNtfsStatusNotNtfs, 0, 0},
        {500, 8, 0xF6, search::kNtfsStatusNotNtfs, 0, 0},
        {512, 0, 0xF6, search::kNtfsStatusNotNtfs, 0, 0},
        {512, 3, 0xF6, search::kNtfsStatusNotNtfs, 0, 0},
        {512, 0x80 + 1, 0xF6, search::kNtfsStatusNotNtfs, 0, 0},  // 2^127 sectors
        {512, 8, 0x00, search::kNtfsStatusNotNtfs, 0, 0},
        {512, 8, 0x80, search::kNtfsStatusNotNtfs, 0, 0},  // 2^128 bytes
        {512, 8, 0xE0, search::kNtfsStatusNotNtfs, 0, 0},  // 2^32 bytes
        {512, 8, 0x03, search::kNtfsStatusNotNtfs, 0, 0},  // 12 KiB: not a power of two
        {512, 128, 0x7F, search::kNtfsStatusNotNtfs, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bps << "/" << int(c.spc) << "/" << int(c.recordByte));
        std::string img(65536, '\0');
        std::memcpy(&img[3], "NTFS    ", 8);
        img[0x0B] = char(c.bps);
        img[0x0C] = char(c.bps >> 8);
        img[0x0D] = char(c.spc);
        img[0x30] = 4;
        img[0x40] = char(c.recordByte);
        Image file(img);
        auto v = NtfsVolume::Open(file.path());
        ASSERT_TRUE(v);
        EXPECT_EQ(v->status(), c.status);
        if (c.status == search::kNtfsStatusNtfs) {
            EXPECT_EQ(v->clusterSize(), c.cluster);
            EXPECT_EQ(v->mftRecordSize(), c.record);
            EXPECT_EQ(v->mftOffset(), 4u * c.cluster);
        }
        EXPECT_EQ(v->LoadMFT(), 0u);  // nothing there to load
    }
}

TEST(NtfsBootSector, ShortOrForeignVolumes) {
    Image shortFile(std::string(300, '\0'));
    auto v = NtfsVolume::Open(shortFile.path());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->status(), search::kNtfsStatusShort);
    EXPECT_EQ(v->LoadMFT(), 0u);

    std::string fat(4096, '\0');
    std::memcpy(&fat[3], "MSDOS5.0", 8);
    Image fatFile(fat);
    v = NtfsVolume::Open(fatFile.path());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->status(), search::kNtfsStatusNotNtfs);
    EXPECT_FALSE(v->ParseMFT());

    EXPECT_FALSE(NtfsVolume::Open("/nonexistent/device"));
}

TEST(NtfsTable, ListsFilesWithFoldersNamesAndSizes) {
    SynthVolume s;
    s.AddFolder(20, u"Users");
    s.AddFolder(21, u"문서", 20);
    s.AddFile(30, u"report.pdf", 1200, 21);
    s.AddFile(31, u"급여.HWP", 10, 21);
    s.AddFile(32, u"top.Docx", 77);
    s.AddFile(33, u"notes.txt", 50, 21);          // not a listed kind
    s.AddFile(34, u"empty.xls", 0, 21);           // size 0
    s.AddFile(35, u"archive.pdf.zip", 5, 21);     // last extension counts
    s.AddFile(36, u"noext", 5);
    s.AddFolder(37, u"folder.pdf");               // a folder is no file
    s.AddFile(38, u"deleted.ppt", 9).inUse = false;
    s.AddFile(39, u"big.pptx", 5000000000ULL, 20).residentData = false;  // above 32 bits
    s.AddFile(40, u".xlsx", 3);
    auto v = Load(s.Build());
    ASSERT_TRUE(v);
    EXPECT_EQ(List(*v), (std::vector<Listed>{{".xlsx", 3},
                                             {"Users/big.pptx", 5000000000ULL},
                                             {"Users/문서/report.pdf", 1200},
                                             {"Users/문서/급여.HWP", 10},
                                             {"top.Docx", 77}}));
    const search::MftEntry* e = v->entry(30);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->lastWriteTime, 130000000000000030ULL);
    EXPECT_EQ(e->parentRecord, 21u);
    plat::WString folder;
    EXPECT_TRUE(v->BuildParentPath(32, folder));
    EXPECT_EQ(folder, u"");
    // Other extension lists, in any case and order.
    EXPECT_EQ(List(*v, {u"zip", u"TXT"}), (std::vector<Listed>{{"Users/문서/archive.pdf.zip", 5},
                                                               {"Users/문서/notes.txt", 50}}));
}

TEST(NtfsTable, NamesFromWin32OrPosixNotDos) {
    SynthVolume s;
    auto& both = s.AddFile(20, u"LONGNA~1.PDF", 10);
    both.names[0].nameSpace = 2;
    both.names.push_back({1, u"Long name.pdf", 5, 1});
    s.AddFile(21, u"DOSONLY.PDF", 10).names[0].nameSpace = 2;
    s.AddFile(22, u"posix.pdf", 10).names[0].nameSpace = 0;
    s.AddFile(23, u"both.pdf", 10).names[0].nameSpace = 3;
    auto names = ListBytes(s.Build());
    EXPECT_EQ(names, (std::vector<Listed>{{"Long name.pdf", 10}, {"both.pdf", 10}, {"posix.pdf", 10}}));
}

TEST(NtfsTable, SparseRunKeepsTheNumberingOfLaterRecords) {
    SynthVolume s;  // 4096-byte clusters, 4 records a cluster
    s.mftRuns = {{16, 4}, {-1, 2}, {40, 4}};  // records 0-15, 16-23 sparse, 24-39
    s.AddFolder(30, u"Docs");
    s.AddFile(35, u"b.pdf", 11, 30);
    s.AddFile(12, u"a.doc", 7, 30);
    auto v = Load(s.Build());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->recordCount(), 40u);
    EXPECT_EQ(List(*v), (std::vector<Listed>{{"Docs/a.doc", 7}, {"Docs/b.pdf", 11}}));
}

TEST(NtfsTable, RecordSplitBetweenTwoRunsIsCarriedOver) {
    SynthVolume s;
    s.sectorsPerCluster = 1;  // 512-byte clusters, 1024-byte records
    // 33 clusters: record 16 has its first half at the end of the first run.
    s.mftRuns = {{100, 33}, {300, 31}, {200, 6}};
    s.AddFile(16, u"split.pdf", 16);
    s.AddFolder(20, u"after");
    s.AddFile(31, u"later.xls", 31, 20);
    s.AddFile(33, u"last.ppt", 33, 20);  // in the third run (backwards offset)
    auto v = Load(s.Build());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->mftRecordTotal(), 35u);
    EXPECT_EQ(List(*v), (std::vector<Listed>{{"after/last.ppt", 33}, {"after/later.xls", 31}, {"split.pdf", 16}}));
}

TEST(NtfsTable, LargeRecordsAndTableSizeAbove32Bits) {
    SynthVolume s;
    s.recordByte = 0x01;  // one 4096-byte cluster a record: nine fix-up entries
    s.mftRuns = {{16, 40}};
    s.mftDataSize = (1ULL << 32) + 4096 * 8;  // only the runs' 40 records exist
    s.AddFolder(25, u"deep");
    s.AddFile(39, u"x.xlsx", 99, 25);
    auto v = Load(s.Build());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->mftRecordSize(), 4096u);
    EXPECT_EQ(v->mftDataSize(), (1ULL << 32) + 4096 * 8);
    EXPECT_EQ(v->mftRecordTotal(), 40u);
    EXPECT_EQ(List(*v), (std::vector<Listed>{{"deep/x.xlsx", 99}}));
}

TEST(NtfsTable, ExtensionRecordAddsTheDataSize) {
    SynthVolume s;
    s.AddFile(20, u"fragmented.pdf", 0).hasData = false;
    auto& ext = s.AddFile(21, u"", 123456789);
    ext.names.clear();
    ext.baseRecord = 20;
    ext.residentData = false;
    auto& before = s.AddFile(18, u"", 555);  // extension before its base
    before.names.clear();
    before.baseRecord = 22;
    s.AddFile(22, u"early.doc", 0).hasData = false;
    EXPECT_EQ(ListBytes(s.Build()), (std::vector<Listed>{{"early.doc", 555}, {"fragmented.pdf", 123456789}}));
}

TEST(NtfsTable, AttributeListInTheTableRecordIsRefused) {
    SynthVolume s;
    s.attributeListInMft = true;
    s.AddFile(20, u"a.pdf", 1);
    bool loaded = true;
    auto v = Load(s.Build(), &loaded);
    ASSERT_TRUE(v);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(v->recordCount(), 0u);
}

TEST(NtfsTable, BrokenParentChainsAreNotListed) {
    SynthVolume s;
    s.AddFolder(20, u"A", 21);  // A and B are each other's parent
    s.AddFolder(21, u"B", 20);
    s.AddFile(22, u"cycle.pdf", 1, 20);
    s.AddFolder(23, u"Self", 23);
    s.AddFile(24, u"self.pdf", 1, 23);
    s.AddFile(25, u"ghost.pdf", 1, 4000);  // beyond the table
    s.AddFile(26, u"plain.pdf", 1);
    s.AddFile(27, u"child.pdf", 1, 26);  // parent is a file
    s.AddFolder(28, u"Reused").sequence = 7;
    s.AddFile(29, u"stale.pdf", 1, 28, 6);  // parent reference of an earlier life
    s.AddFile(30, u"fresh.pdf", 1, 28, 7);
    s.AddFolder(31, u"Freed").inUse = false;
    s.AddFile(32, u"orphan.pdf", 1, 31);
    s.AddFile(33, u"zero.pdf", 1, 0);  // unknown parent
    // A chain deeper than the limit.
    uint64_t parent = 5;
    for (int i = 0; i < NtfsVolume::kMaxDepth + 1; ++i) {
        s.AddFolder(100 + i, u"d", parent);
        parent = 100 + i;
    }
    s.AddFile(100 + NtfsVolume::kMaxDepth + 1, u"deep.pdf", 1, parent);
    s.AddFile(99, u"shallow.pdf", 1, 100 + NtfsVolume::kMaxDepth - 2);
    auto v = Load(s.Build());
    ASSERT_TRUE(v);
    auto got = List(*v);
    std::string shallow;
    for (int i = 0; i < NtfsVolume::kMaxDepth - 1; ++i) shallow += "d/";
    std::vector<Listed> expected = {{shallow + "shallow.pdf", 1}, {"Reused/fresh.pdf", 1}, {"plain.pdf", 1}};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(got, expected);
}

// ------------------------------------------------------------ damaged input

SynthVolume SmallTree() {
    SynthVolume s;
    s.AddFolder(20, u"Docs");
    for (int i = 0; i < 20; ++i) s.AddFile(21 + i, u"f" + plat::AsciiToWide(std::to_string(i)) + u".pdf", 100 + i, 20);
    return s;
}

TEST(NtfsDamage, BadUpdateSequenceSkipsOnlyThatRecord) {
    SynthVolume s = SmallTree();
    std::vector<std::pair<uint64_t, uint64_t>> at;
    std::string base = s.Build(&at);
    auto offsetOf = [&](uint64_t rec) {
        for (auto& p : at)
            if (p.first == rec) return size_t(p.second);
        return size_t(0);
    };
    const size_t r = offsetOf(25);
    ASSERT_NE(r, 0u);
    struct Damage {
        const char* what;
        size_t at;
        std::string bytes;
    } damages[] = {
        {"torn sector", r + 510, std::string("\x02\x00", 2)},
        {"count too small", r + 6, std::string("\x02\x00", 2)},
        {"count huge", r + 6, std::string("\xFF\xFF", 2)},
        {"array beyond the sector", r + 4, std::string("\xF8\x01", 2)},
        {"array offset zero", r + 4, std::string("\x00\x00", 2)},
        {"first attribute beyond use", r + 0x14, std::string("\xF0\x03", 2)},
        {"magic", r, "BAAD"},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        std::string img = base;
        img.replace(d.at, d.bytes.size(), d.bytes);
        auto got = ListBytes(img);
        EXPECT_EQ(got.size(), 19u);
        for (const Listed& l : got) EXPECT_NE(l.path, "Docs/f4.pdf");
    }
}

TEST(NtfsDamage, AttributeLengthsAndNamesAreBounded) {
    SynthVolume s = SmallTree();
    std::vector<std::pair<uint64_t, uint64_t>> at;
    std::string base = s.Build(&at);
    size_t r = 0;
    for (auto& p : at)
        if (p.first == 26) r = p.second;
    ASSERT_NE(r, 0u);
    const size_t first = 0x38;  // first attribute: standard information (0x48 bytes), then the name
    struct Damage {
        const char* what;
        size_t at;
        std::string bytes;
    } damages[] = {
        {"zero length", r + first + 4, std::string("\x00\x00\x00\x00", 4)},
        {"length past the record", r + first + 4, std::string("\x00\x10\x00\x00", 4)},
        {"length wraps", r + first + 4, std::string("\xF8\xFF\xFF\xFF", 4)},
        {"value offset past the attribute", r + first + 0x48 + 0x14, std::string("\xF0\x00", 2)},
        {"value length past the attribute", r + first + 0x48 + 0x10, std::string("\xFF\xFF\x00\x00", 4)},
        {"name length past the value", r + first + 0x48 + 0x18 + 0x40, std::string("\xFF", 1)},
        {"bytes in use beyond the record", r + 0x18, std::string("\xFF\xFF\xFF\xFF", 4)},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        std::string img = base;
        img.replace(d.at, d.bytes.size(), d.bytes);
        auto got = ListBytes(img);
        EXPECT_GE(got.size(), 19u);
        EXPECT_LE(got.size(), 20u);
    }
}

TEST(NtfsDamage, BadTableRunListsRefuseTheTable) {
    SynthVolume s = SmallTree();
    std::string base = s.Build();
    // The run list of the table's $DATA: record 0 at cluster 16; its
    // attributes are standard information (0x48), the name (0x68), $DATA.
    const size_t data = 16 * 4096 + 0x38 + 0x48 + 0x68;
    ASSERT_EQ(base[data], '\x80');
    const size_t runs = data + 0x40;
    struct Damage {
        const char* what;
        size_t at;
        std::string bytes;
    } damages[] = {
        {"no runs", runs, std::string("\x00", 1)},
        {"nine length bytes", runs, std::string("\x19", 1)},
        {"zero length", runs, std::string("\x11\x00\x10", 3)},
        {"negative cluster", runs, std::string("\x11\x10\xF0", 3)},
        {"beyond the volume", runs, std::string("\x31\x10\x00\x00\x10", 5)},
        {"length beyond the volume", runs, std::string("\x18\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F\x10", 10)},
        {"run list offset beyond", data + 0x20, std::string("\xFF\x00", 2)},
        {"starting cluster not 0", data + 0x10, std::string("\x01", 1)},
        {"no $DATA", data, std::string("\x81", 1)},
        {"record length huge", data + 4, std::string("\xFF\xFF\x00\x00", 4)},
        {"table record unreadable", 16 * 4096 + 510, std::string("\x09\x09", 2)},
        {"table beyond the image", 0x30, std::string("\x00\x00\x00\x01", 4)},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        std::string img = base;
        img.replace(d.at, d.bytes.size(), d.bytes);
        bool loaded = true;
        auto v = Load(img, &loaded);
        ASSERT_TRUE(v);
        EXPECT_FALSE(loaded);
        EXPECT_TRUE(List(*v).empty());
    }
}

TEST(NtfsDamage, TableSizeIsBoundedByTheVolume) {
    SynthVolume s = SmallTree();
    s.mftDataSize = ~0ULL;    // claims 2^54 records
    s.totalClusters = 200;
    s.mftRuns = {{16, 8}, {-1, 150}};  // 32 records stored, 600 sparse
    auto v = Load(s.Build());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->mftRecordTotal(), 2u * 32);  // no more empty records than stored ones
    EXPECT_EQ(List(*v).size(), 11u);          // the files within the stored records

    s.mftRuns = {{16, 8}, {-1, 1ULL << 40}};  // a sparse run longer than the volume
    bool loaded = true;
    v = Load(s.Build(), &loaded);
    ASSERT_TRUE(v);
    EXPECT_FALSE(loaded);
}

// Random damage anywhere in the boot sector and the table: the reader must
// neither crash nor hang nor allocate without bound (the sanitizer build
// checks the first and the last), and what it lists stays within the table.
TEST(NtfsDamage, RandomDamageIsSurvived) {
    SynthVolume s = SmallTree();
    s.sectorsPerCluster = 1;
    s.mftLcn = 64;
    s.mftRuns = {{64, 21}, {-1, 3}, {200, 120}};  // record 10 half sparse
    for (int i = 0; i < 10; ++i) s.AddFolder(50 + i, u"sub", i == 0 ? 20 : 49 + i);
    s.AddFile(60, u"deep.docx", 12345, 59);
    const std::string base = s.Build();
    ASSERT_EQ(ListBytes(base).size(), 21u);

    std::mt19937 rng(20261210);
    const size_t table = 64 * 512;
    int loaded = 0, partial = 0;
    for (int round = 0; round < 400; ++round) {
        std::string img = base;
        int hits = 1 + int(rng() % 24);
        for (int h = 0; h < hits; ++h) {
            size_t at;
            switch (rng() % 6) {
                case 0: at = rng() % 512; break;                      // boot sector
                case 1: at = table + rng() % 1024; break;             // the table's own record
                case 2: at = table + rng() % (21 * 512); break;       // records 0 to 10
                default: at = 200 * 512 + rng() % (98 * 512); break;  // records 12 to 60
            }
            img[at] = char(rng() % 3 == 0 ? 0xFF : rng());
        }
        bool isLoaded = false;
        auto v = Load(img, &isLoaded);
        if (!v) continue;
        loaded += isLoaded;
        auto got = List(*v);
        partial += isLoaded && got.size() < 21;
        EXPECT_LE(got.size(), v->recordCount());
        for (const Listed& l : got) EXPECT_GT(l.size, 0u);
    }
    // The damage reaches past the first record in many rounds.
    EXPECT_GT(loaded, 100);
    EXPECT_GT(partial, 50);
}

TEST(NtfsTable, StopEndsTheParse) {
    SynthVolume s = SmallTree();
    Image img(s.Build());
    auto v = NtfsVolume::Open(img.path());
    ASSERT_TRUE(v);
    ASSERT_GT(v->LoadMFT(), 0u);
    EXPECT_FALSE(v->ParseMFT([] { return true; }));
    EXPECT_EQ(v->recordCount(), 0u);
    EXPECT_TRUE(v->ReparseDisk());
    EXPECT_EQ(List(*v).size(), 20u);
    EXPECT_TRUE(v->ReparseDisk());  // a second reading gives the same table
    EXPECT_EQ(List(*v).size(), 20u);
}

}  // namespace

// Names of a searched kind that are no regular file on the mounted tree: a
// pipe, a socket, links in a loop, to nothing or to a pipe are named with
// their reason; a link to a document or a folder is passed over, and the
// documents are found as before.
TEST(NtfsTable, NamesThatAreNoRegularFileAreToldWithTheirReason) {
    SynthVolume s;
    s.AddFolder(20, u"d");
    s.AddFile(30, u"pipe.pdf", 10, 20);
    s.AddFile(31, u"socket.hwp", 10, 20);
    s.AddFile(32, u"loop.doc", 10, 20);
    s.AddFile(33, u"dangling.xls", 10, 20);
    s.AddFile(34, u"topipe.ppt", 10, 20);
    s.AddFile(35, u"todoc.pdf", 10, 20);
    s.AddFile(36, u"real.pdf", 10, 20);
    s.AddFile(37, u"gone.pdf", 10, 20);  // deleted since the table was read
    auto v = Load(s.Build());
    ASSERT_TRUE(v);

    ps_test::TempDir mount;
    const std::string d = mount.file("d");
    ASSERT_EQ(0, ::mkdir(d.c_str(), 0755));
    ASSERT_EQ(0, ::mkfifo((d + "/pipe.pdf").c_str(), 0644));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = d + "/socket.hwp";
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, sockPath.c_str());
    ASSERT_EQ(0, ::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    ASSERT_EQ(0, ::symlink("loop.doc", (d + "/loop.doc").c_str()));
    ASSERT_EQ(0, ::symlink("nothing.xls", (d + "/dangling.xls").c_str()));
    ASSERT_EQ(0, ::symlink("pipe.pdf", (d + "/topipe.ppt").c_str()));
    ASSERT_EQ(0, ::symlink("real.pdf", (d + "/todoc.pdf").c_str()));
    ASSERT_TRUE(ps_test::WriteFileBytes(d + "/real.pdf", "%PDF-1.4 document"));

    std::vector<std::string> found, told;
    EXPECT_TRUE(v->SearchFiles(
        plat::PathFromNative(mount.path()), kDocs,
        [&](const search::MftFoundFile& f) {
            found.push_back(plat::PathToNative(f.fullPath));
            return true;
        },
        {},
        [&](const plat::WString& path, const char16_t* reason) {
            told.push_back(plat::PathToNative(path) + " " + plat::WideToUtf8(reason));
        }));
    ::close(sock);
    std::sort(told.begin(), told.end());
    EXPECT_EQ(found, (std::vector<std::string>{d + "/real.pdf"}));
    EXPECT_EQ(told, (std::vector<std::string>{d + "/dangling.xls 심볼릭 링크의 대상이 없음",
                                              d + "/loop.doc 심볼릭 링크가 순환함",
                                              d + "/pipe.pdf 일반 파일이 아님",
                                              d + "/socket.hwp 일반 파일이 아님",
                                              d + "/topipe.ppt 일반 파일이 아님"}));
}
