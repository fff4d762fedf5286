#include <gtest/gtest.h>

#include "platform/cfb.h"
#include "platform/text.h"
#include "support/cfb_writer.h"
#include "support/isolation.h"

#include <functional>
#include <string>

using plat::CfbPtr;
using plat::CfbStat;
using plat::CfbStorage;
using plat::CfbStream;
using plat::HResult;
namespace stg = plat::stg;

namespace {

std::string Pattern(std::size_t n, unsigned seed)
{
    std::string s(n, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

CfbPtr<CfbStorage> OpenMem(const std::string& bytes, HResult* hr = nullptr)
{
    CfbPtr<CfbStorage> root;
    HResult r = plat::CfbOpenStorageOnMemory(bytes, root.put());
    if (hr)
        *hr = r;
    return root;
}

// Reads a whole stream through a storage path "A/B/name"; the result code of
// the first failing call lands in *hr.
std::string ReadPath(CfbStorage* root, const std::u16string& path, HResult* hr)
{
    CfbPtr<CfbStorage> cur(root);
    root->AddRef();
    std::size_t from = 0;
    for (;;) {
        std::size_t slash = path.find(u'/', from);
        std::u16string part = path.substr(from, slash == std::u16string::npos ? slash : slash - from);
        if (slash == std::u16string::npos) {
            CfbPtr<CfbStream> s;
            *hr = cur->OpenStream(part, stg::kShareExclusive, s.put());
            if (plat::Failed(*hr))
                return {};
            std::string out;
            char buf[1000];
            std::uint32_t got = 0;
            do {
                *hr = s->Read(buf, sizeof buf, &got);
                if (plat::Failed(*hr))
                    return out;
                out.append(buf, got);
            } while (got > 0);
            return out;
        }
        CfbPtr<CfbStorage> sub;
        *hr = cur->OpenStorage(part, stg::kShareExclusive, sub.put());
        if (plat::Failed(*hr))
            return {};
        cur = sub;
        from = slash + 1;
    }
}

}  // namespace

TEST(Cfb, StreamsAroundTheMiniCutoffRoundTripInBothVersions)
{
    const std::size_t sizes[] = {0, 1, 63, 64, 65, 511, 512, 513, 4095, 4096, 4097, 70000};
    for (int version : {3, 4}) {
        ps_test::CfbWriter w(version);
        for (std::size_t i = 0; i < std::size(sizes); ++i)
            w.AddStream(u"S" + plat::AsciiToWide(std::to_string(sizes[i])), Pattern(sizes[i], unsigned(i)));
        w.AddStream(u"Sub/Inner/Deep", Pattern(5000, 99));
        w.AddStream(u"Sub/small", Pattern(10, 98));
        w.AddStorage(u"Empty");
        HResult hr;
        auto root = OpenMem(w.Build(), &hr);
        ASSERT_EQ(hr, stg::kOk) << version;
        for (std::size_t i = 0; i < std::size(sizes); ++i) {
            std::string got = ReadPath(root.get(), u"S" + plat::AsciiToWide(std::to_string(sizes[i])), &hr);
            EXPECT_EQ(hr, stg::kOk);
            EXPECT_EQ(got, Pattern(sizes[i], unsigned(i))) << "v" << version << " size " << sizes[i];
        }
        EXPECT_EQ(ReadPath(root.get(), u"sub/INNER/deep", &hr), Pattern(5000, 99));
        EXPECT_EQ(ReadPath(root.get(), u"Sub/small", &hr), Pattern(10, 98));
        // A storage is not a stream and a stream is not a storage.
        ReadPath(root.get(), u"Sub", &hr);
        EXPECT_EQ(hr, stg::kFileNotFound);
        CfbPtr<CfbStorage> notStorage;
        EXPECT_EQ(root->OpenStorage(u"S1", 0x10, notStorage.put()), stg::kFileNotFound);

        std::vector<CfbStat> kids;
        ASSERT_EQ(root->Elements(&kids), stg::kOk);
        EXPECT_EQ(kids.size(), std::size(sizes) + 2);
        // Directory order: shorter names first.
        EXPECT_EQ(kids.front().name, u"S0");
        CfbStat st;
        ASSERT_EQ(root->Stat(&st, true), stg::kOk);
        EXPECT_EQ(st.type, stg::kTypeRoot);
    }
}

TEST(Cfb, NamesCompareByTheDirectoryRule)
{
    struct Case {
        std::u16string a, b;
        int sign;
    } cases[] = {
        {u"WordDocument", u"worddocument", 0},
        {u"\x0005SummaryInformation", u"\x0005summaryinformation", 0},
        {u"b", u"AA", -1},           // length first
        {u"abc", u"ABD", -1},
        {u"\u00e9t\u00e9", u"\u00c9T\u00c9", 0},
        {u"\u0444\u0430\u0439\u043b", u"\u0424\u0410\u0419\u041b", 0},
        {u"\uac00", u"\uac01", -1},
    };
    for (auto& c : cases) {
        int r = plat::CfbNameCompare(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign);
    }
}

TEST(Cfb, StreamSeekStatCloneAndRefusedWrites)
{
    ps_test::CfbWriter w;
    w.AddStream(u"Big", Pattern(9000, 1));
    auto root = OpenMem(w.Build());
    ASSERT_TRUE(root);
    CfbPtr<CfbStream> s;
    ASSERT_EQ(root->OpenStream(u"BIG", 0x10, s.put()), stg::kOk);
    std::uint64_t pos = 0;
    ASSERT_EQ(s->Seek(-10, stg::kSeekEnd, &pos), stg::kOk);
    EXPECT_EQ(pos, 8990u);
    CfbPtr<CfbStream> c;
    ASSERT_EQ(s->Clone(c.put()), stg::kOk);
    char buf[20];
    std::uint32_t got = 0;
    ASSERT_EQ(c->Read(buf, 20, &got), stg::kOk);
    EXPECT_EQ(got, 10u);
    EXPECT_EQ(std::string(buf, 10), Pattern(9000, 1).substr(8990));
    // The clone moved, the original did not.
    ASSERT_EQ(s->Seek(0, stg::kSeekCur, &pos), stg::kOk);
    EXPECT_EQ(pos, 8990u);
    EXPECT_EQ(s->Seek(-9000, stg::kSeekCur, &pos), stg::kInvalidFunction);
    ASSERT_EQ(s->Seek(100000, stg::kSeekSet, &pos), stg::kOk);
    ASSERT_EQ(s->Read(buf, 4, &got), stg::kOk);
    EXPECT_EQ(got, 0u);

    CfbStat st;
    ASSERT_EQ(s->Stat(&st, false), stg::kOk);
    EXPECT_EQ(st.size, 9000u);
    EXPECT_EQ(st.type, stg::kTypeStream);
    EXPECT_TRUE(st.name.empty());
    EXPECT_EQ(st.mode, 0x10u);

    std::uint32_t written = 7;
    EXPECT_EQ(s->Write("x", 1, &written), stg::kAccessDenied);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(s->SetSize(1), stg::kAccessDenied);
    CfbPtr<CfbStream> created;
    EXPECT_EQ(root->CreateStream(u"New", 0x12, created.put()), stg::kAccessDenied);
    CfbPtr<CfbStream> rw;
    EXPECT_EQ(root->OpenStream(u"Big", 0x12, rw.put()), stg::kAccessDenied);
    EXPECT_FALSE(rw);
}

TEST(Cfb, FilesOnDiskAndTheSignatureTest)
{
    ps_test::TempDir dir;
    ps_test::CfbWriter w(4);
    w.AddStream(u"Data", Pattern(100, 3));
    ASSERT_TRUE(w.WriteFile(dir.file("a.cfb")));
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("plain.txt"), std::string(600, 'x')));
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("short.cfb"), w.Build().substr(0, 100)));
    const std::u16string a = plat::PathFromNative(dir.file("a.cfb"));

    EXPECT_EQ(plat::CfbIsStorageFile(a), stg::kOk);
    EXPECT_EQ(plat::CfbIsStorageFile(plat::PathFromNative(dir.file("plain.txt"))), stg::kFalse);
    EXPECT_EQ(plat::CfbIsStorageFile(plat::PathFromNative(dir.file("short.cfb"))), stg::kFalse);
    EXPECT_EQ(plat::CfbIsStorageFile(plat::PathFromNative(dir.file("missing"))), stg::kFileNotFound);

    CfbPtr<CfbStorage> root;
    EXPECT_EQ(plat::CfbOpenStorage(plat::PathFromNative(dir.file("plain.txt")), 0x40040, root.put()),
              stg::kInvalidHeader);
    EXPECT_EQ(plat::CfbOpenStorage(a, 0x40042, root.put()), stg::kAccessDenied);
    ASSERT_EQ(plat::CfbOpenStorage(a, 0x40040, root.put()), stg::kOk);
    HResult hr;
    EXPECT_EQ(ReadPath(root.get(), u"data", &hr), Pattern(100, 3));
}

TEST(Cfb, ManyFatSectorsAreFoundThroughTheDifat)
{
    // More than 109 FAT sectors of 128 entries each: the rest are listed in DIFAT sectors.
    ps_test::CfbWriter w(3);
    const std::string big = Pattern(110 * 128 * 512, 5);
    w.AddStream(u"Huge", big);
    ps_test::CfbLayout layout;
    std::string file = w.Build(&layout);
    ASSERT_GT(layout.fatSectors.size(), 109u);
    ASSERT_FALSE(layout.difatSectors.empty());
    HResult hr;
    auto root = OpenMem(file, &hr);
    ASSERT_EQ(hr, stg::kOk);
    EXPECT_TRUE(ReadPath(root.get(), u"Huge", &hr) == big);

    // A DIFAT chain pointing back at itself stops with a failure.
    std::string looped = file;
    ps_test::PutLe32(looped, 0x48, 1000);  // claims many DIFAT sectors
    ps_test::PutLe32(looped, layout.SectorOffset(layout.difatSectors.back()) + 508, layout.difatSectors.front());
    // The FAT count claims one sector more than the DIFAT lists, so the reader follows the link.
    ps_test::PutLe32(looped, 0x2C, static_cast<std::uint32_t>(layout.fatSectors.size() + 1));
    OpenMem(looped, &hr);
    EXPECT_EQ(hr, stg::kDocfileCorrupt);
}

// Damage a small file in one place each and check the reader answers with
// a failure instead of crashing, looping or reading garbage.
TEST(Cfb, DamagedStructuresFailCleanly)
{
    ps_test::CfbWriter w(3);
    w.AddStream(u"Big", Pattern(3000 * 2, 7));
    w.AddStream(u"Small", Pattern(300, 8));
    w.AddStream(u"Dir/Inner", Pattern(50, 9));
    ps_test::CfbLayout L;
    const std::string good = w.Build(&L);
    const std::uint32_t bigId = L.EntryId(u"Big");
    const std::uint32_t smallId = L.EntryId(u"Small");
    const std::uint32_t dirId = L.EntryId(u"Dir");
    const std::uint64_t fat = L.SectorOffset(L.fatSectors[0]);
    const std::uint32_t bigStart = ps_test::GetLe32(good, L.EntryOffset(bigId) + 0x74);

    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        std::u16string stream;   // stream to read, or empty: the open itself fails
        HResult expected;
    } cases[] = {
        {"FAT chain loops back", [&](std::string& b) { ps_test::PutLe32(b, fat + 4 * (bigStart + 3), bigStart); },
         u"Big", stg::kDocfileCorrupt},
        {"FAT chain leaves the file", [&](std::string& b) { ps_test::PutLe32(b, fat + 4 * (bigStart + 1), 0x00FFFFF0); },
         u"Big", stg::kDocfileCorrupt},
        {"FAT chain ends on a free sector", [&](std::string& b) { ps_test::PutLe32(b, fat + 4 * bigStart, 0xFFFFFFFF); },
         u"Big", stg::kDocfileCorrupt},
        {"stream start past the end", [&](std::string& b) { ps_test::PutLe32(b, L.EntryOffset(bigId) + 0x74, 0x7FFFFFF0); },
         u"Big", stg::kDocfileCorrupt},
        {"stream size larger than the file", [&](std::string& b) { ps_test::PutLe32(b, L.EntryOffset(bigId) + 0x78, 0xFFFFFFF0); },
         u"Big", stg::kDocfileCorrupt},
        {"mini chain loops", [&](std::string& b) {
             std::uint64_t mf = L.SectorOffset(L.miniFatSectors[0]);
             std::uint32_t s = ps_test::GetLe32(b, L.EntryOffset(smallId) + 0x74);
             ps_test::PutLe32(b, mf + 4 * (s + 2), s);
         }, u"Small", stg::kDocfileCorrupt},
        {"mini stream cut short", [&](std::string& b) { ps_test::PutLe32(b, L.EntryOffset(0) + 0x78, 64); },
         u"Small", stg::kDocfileCorrupt},
        {"mini stream outside the file", [&](std::string& b) { ps_test::PutLe32(b, L.EntryOffset(0) + 0x74, 0x7FFFFFF0); },
         u"Small", stg::kDocfileCorrupt},
        {"sibling link outside the directory", [&](std::string& b) { ps_test::PutLe32(b, L.EntryOffset(smallId) + 0x44, 5000); },
         u"", stg::kDocfileCorrupt},
        {"child points back at its parent", [&](std::string& b) { ps_test::PutLe32(b, L.EntryOffset(dirId) + 0x4C, dirId); },
         u"", stg::kDocfileCorrupt},
        {"sibling cycle", [&](std::string& b) {
             std::uint32_t top = ps_test::GetLe32(b, L.EntryOffset(0) + 0x4C);
             ps_test::PutLe32(b, L.EntryOffset(top) + 0x44, top);
         }, u"", stg::kDocfileCorrupt},
        {"root entry is not a root", [&](std::string& b) { b[L.EntryOffset(0) + 0x42] = 1; }, u"", stg::kDocfileCorrupt},
        {"directory chain loops", [&](std::string& b) { ps_test::PutLe32(b, fat + 4 * L.dirSectors[0], L.dirSectors[0]); },
         u"", stg::kDocfileCorrupt},
        {"FAT sector count absurd", [&](std::string& b) { ps_test::PutLe32(b, 0x2C, 0x10000000); }, u"", stg::kDocfileCorrupt},
        {"bad sector shift", [&](std::string& b) { ps_test::PutLe16(b, 0x1E, 30); }, u"", stg::kInvalidHeader},
        // The mini-stream cutoff is fixed: with another one the small streams
        // would be read from sectors of the file that hold something else.
        {"mini-stream cutoff 0", [&](std::string& b) { ps_test::PutLe32(b, 0x38, 0); }, u"", stg::kInvalidHeader},
        {"mini-stream cutoff 8192", [&](std::string& b) { ps_test::PutLe32(b, 0x38, 8192); }, u"", stg::kInvalidHeader},
        {"bad signature", [&](std::string& b) { b[3] = 0; }, u"", stg::kInvalidHeader},
        {"file cut inside the header", [&](std::string& b) { b.resize(300); }, u"", stg::kInvalidHeader},
        {"file cut in the middle", [&](std::string& b) { b.resize(b.size() - 2000); }, u"Big", stg::kDocfileCorrupt},
    };
    for (auto& c : cases) {
        std::string bytes = good;
        c.damage(bytes);
        HResult hr;
        auto root = OpenMem(bytes, &hr);
        if (c.stream.empty()) {
            EXPECT_EQ(hr, c.expected) << c.what;
            EXPECT_FALSE(root) << c.what;
            continue;
        }
        ASSERT_EQ(hr, stg::kOk) << c.what;
        ReadPath(root.get(), c.stream, &hr);
        EXPECT_EQ(hr, c.expected) << c.what;
    }
}
