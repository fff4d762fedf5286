#include <gtest/gtest.h>

#include "extract/io/h2s_archive.h"
#include "extract/io/h2s_bufio.h"
#include "extract/libstring.h"
#include "extract/readerror.h"
#include "extract/io/h2s_storage.h"
#include "platform/docfile.h"
#include "platform/text.h"
#include "support/cfb_writer.h"
#include "support/isolation.h"

#include <cstring>

namespace stg = plat::stg;

namespace {

// Restores the throw flag and clears the error word around each test.
struct ErrorStateGuard {
    int old;
    ErrorStateGuard() : old(SetThrowOnError(0)) { ClearLibraryError(); }
    ~ErrorStateGuard() { SetThrowOnError(old); ClearLibraryError(); }
};

// A stream in memory with a chosen open mode; reads can be made to fail.
class MemStream final : public plat::CfbStream {
public:
    MemStream(std::string data, std::uint32_t mode) : data_(std::move(data)), mode_(mode) {}
    bool failReads = false;
    std::string data_;

    plat::HResult Read(void* buf, std::uint32_t n, std::uint32_t* got) override
    {
        if (got)
            *got = 0;
        if (failReads)
            return stg::kReadFault;
        std::uint64_t take = pos_ < data_.size() ? std::min<std::uint64_t>(n, data_.size() - pos_) : 0;
        std::memcpy(buf, data_.data() + pos_, take);
        pos_ += take;
        if (got)
            *got = static_cast<std::uint32_t>(take);
        return stg::kOk;
    }
    plat::HResult Write(const void* buf, std::uint32_t n, std::uint32_t* written) override
    {
        if (data_.size() < pos_ + n)
            data_.resize(pos_ + n);
        std::memcpy(data_.data() + pos_, buf, n);
        pos_ += n;
        if (written)
            *written = n;
        return stg::kOk;
    }
    plat::HResult Seek(std::int64_t off, int origin, std::uint64_t* np) override
    {
        std::int64_t base = origin == 0 ? 0 : origin == 1 ? std::int64_t(pos_) : std::int64_t(data_.size());
        if (base + off < 0)
            return stg::kInvalidFunction;
        pos_ = static_cast<std::uint64_t>(base + off);
        if (np)
            *np = pos_;
        return stg::kOk;
    }
    plat::HResult SetSize(std::uint64_t n) override
    {
        data_.resize(n);
        return stg::kOk;
    }
    plat::HResult Stat(plat::CfbStat* st, bool) override
    {
        st->type = stg::kTypeStream;
        st->size = data_.size();
        st->mode = mode_;
        return stg::kOk;
    }
    plat::HResult Clone(plat::CfbStream**) override { return stg::kInvalidFunction; }

private:
    std::uint64_t pos_ = 0;
    std::uint32_t mode_;
};

int SinkWrite(CompressStream*, void* user, const void* buf, int n)
{
    static_cast<std::string*>(user)->append(static_cast<const char*>(buf), n);
    return n;
}

std::string Deflated(const std::string& data)
{
    std::string out;
    CompressStream* s = DeflateStreamOpen(&SinkWrite, &out);
    DeflateStreamWrite(s, data.data(), static_cast<int>(data.size()));
    DeflateStreamClose(s);
    return out;
}

std::string Payload()
{
    std::string s;
    for (int i = 0; i < 3000; ++i)
        s += "record " + std::to_string(i) + "; ";
    return s;
}

}  // namespace

TEST(H2sFile, OpenFailuresFollowTheThrowFlag)
{
    ErrorStateGuard guard;
    ps_test::TempDir dir;
    const std::u16string missing = plat::PathFromNative(dir.file("missing.hwp"));
    CH2sFile f;
    SetLibraryError(6);
    EXPECT_EQ(f.Open(missing, 0), 0);
    EXPECT_FALSE(f.isOpen());
    f.Close();
    EXPECT_EQ(f.Read(nullptr, 0), -1);
    SetThrowOnError(1);
    try {
        f.Open(missing, 0);
        ADD_FAILURE() << "no throw";
    } catch (const ReadError& error) {
        EXPECT_EQ(error.code(), 6u);  // the word as it was: a file failure does not change it
    }
    SetThrowOnError(0);

    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("a.bin"), "0123456789"));
    ASSERT_EQ(f.Open(plat::PathFromNative(dir.file("a.bin")), 7), 1);  // unknown modes read
    EXPECT_EQ(f.direction(), kH2sRead);
    EXPECT_EQ(f.Seek(4, 0), 4);
    EXPECT_EQ(f.GetLength(), 10);
    EXPECT_EQ(f.Seek(0, 1), 4);  // GetLength restored the position
    ASSERT_EQ(f.BeginCompression(), 1);
    EXPECT_EQ(f.GetLength(), -1);  // not while compressed, and the file does not move
    EXPECT_EQ(f.Seek(0, 1), 4);
    EXPECT_EQ(f.EndCompression(), 1);
    EXPECT_EQ(f.EndCompression(), 0);
    EXPECT_EQ(plat::WideToUtf8(f.GetFileName()), dir.file("a.bin"));
}

TEST(H2sArchive, TypedReadsAtTheEndGiveZeros)
{
    ErrorStateGuard guard;
    ps_test::TempDir dir;
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("v.bin"), std::string("\x01\x02\x03\x04\x05\x06\x07", 7)));
    CH2sFile f;
    ASSERT_EQ(f.Open(plat::PathFromNative(dir.file("v.bin")), 0), 1);
    CH2sArchive ar(&f, 4);  // a small buffer: values straddle refills
    EXPECT_EQ(ar.ReadWord(), 0x0201);
    EXPECT_EQ(ar.ReadDword(), 0x06050403u);
    EXPECT_EQ(ar.ReadWord(), 0x0007);  // one byte left: it is the low byte
    EXPECT_EQ(ar.ReadWord(), 0);
    EXPECT_EQ(ar.ReadDword(), 0u);
    EXPECT_EQ(ar.consumed(), 7);
    ar.Attach(&f, 100);
    EXPECT_EQ(ar.consumed(), 0);
    f.Seek(1, 0);
    EXPECT_EQ(ar.ReadDwordRaw(), 0x05040302u);
    EXPECT_EQ(ar.Skip(10), 2);
    EXPECT_EQ(ar.ReadDwordRaw(), 0u);
    double m[9];
    f.Seek(0, 0);
    ar.Attach(&f);
    ar.ReadTransform(m);
    EXPECT_EQ(m[8], 1.0);
    EXPECT_EQ(m[6], 0.0);
}

// A plain head, then compressed data with its trailer, then a plain tail: the
// archive drops its read-ahead before compression starts, and ending the
// compression leaves the device right after the trailer.
TEST(H2sArchive, CompressedSectionBetweenPlainBytes)
{
    ErrorStateGuard guard;
    ps_test::TempDir dir;
    const std::string payload = Payload();
    const std::string file = "HWP" + Deflated(payload) + "TAIL";
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("c.bin"), file));

    CH2sFile f;
    ASSERT_EQ(f.Open(plat::PathFromNative(dir.file("c.bin")), 0), 1);
    CH2sArchive ar(&f);
    char head[3];
    ASSERT_EQ(ar.Read(head, 3), 3);
    EXPECT_GT(ar.available(), 0);  // the whole small file was read ahead
    ASSERT_EQ(ar.BeginCompression(), 1);
    std::string got(payload.size(), '\0');
    ASSERT_EQ(ar.Read(got.data(), static_cast<int>(got.size())), static_cast<int>(got.size()));
    EXPECT_TRUE(got == payload);
    char more;
    EXPECT_EQ(ar.Read(&more, 1), 0);
    ASSERT_EQ(ar.EndCompression(), 1);
    EXPECT_EQ(f.Seek(0, 1), static_cast<std::int64_t>(file.size() - 4));
    ar.Attach(&f);
    char tail[4];
    ASSERT_EQ(ar.Read(tail, 4), 4);
    EXPECT_EQ(std::string(tail, 4), "TAIL");
}

// Compressed data that does not decode, and a compound-file stream that
// cannot be read, mark the document damaged for every reader.
TEST(H2sArchive, DamagedStreamsAreNotedAsDamage)
{
    ErrorStateGuard guard;
    ps_test::TempDir dir;
    std::string broken = Deflated(Payload());
    broken.resize(broken.size() / 2);
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("d.bin"), broken));
    {
        plat::DamageScope scope;
        CH2sFile f;
        ASSERT_EQ(f.Open(plat::PathFromNative(dir.file("d.bin")), 0), 1);
        CH2sArchive ar(&f);
        ASSERT_EQ(ar.BeginCompression(), 1);
        std::string got(Payload().size(), '\0');
        EXPECT_LT(ar.Read(got.data(), static_cast<int>(got.size())), static_cast<int>(got.size()));
        EXPECT_STREQ(scope.Reason(), "압축 스트림 손상");
        ar.Detach();
    }
    {
        plat::DamageScope scope;
        auto* failing = new MemStream("abcdef", stg::kShareExclusive);
        failing->failReads = true;
        CH2sStream dev;
        ASSERT_EQ(dev.Attach(failing, false), 1);
        CH2sArchive ar(&dev);
        char c;
        EXPECT_EQ(ar.Read(&c, 1), -1);
        EXPECT_STREQ(scope.Reason(), "스트림을 읽을 수 없음");
    }
    {
        // Whole data read to its end: no damage.
        plat::DamageScope scope;
        ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("w.bin"), Deflated(Payload())));
        CH2sFile f;
        ASSERT_EQ(f.Open(plat::PathFromNative(dir.file("w.bin")), 0), 1);
        CH2sArchive ar(&f);
        ASSERT_EQ(ar.BeginCompression(), 1);
        std::string got(Payload().size() + 10, '\0');
        EXPECT_EQ(ar.Read(got.data(), static_cast<int>(got.size())), static_cast<int>(Payload().size()));
        EXPECT_FALSE(scope.Damaged());
        ar.Detach();
    }
}

TEST(H2sArchive, WritingThroughCompressionReadsBack)
{
    ErrorStateGuard guard;
    ps_test::TempDir dir;
    const std::u16string path = plat::PathFromNative(dir.file("w.bin"));
    const std::string payload = Payload();
    {
        CH2sFile f;
        ASSERT_EQ(f.Open(path, 3), 1);
        EXPECT_EQ(f.direction(), kH2sWrite);
        CH2sArchive ar(&f);
        EXPECT_EQ(ar.WriteDword(0x11223344), 1);
        ASSERT_EQ(ar.BeginCompression(), 1);
        EXPECT_EQ(ar.Write(payload.data(), static_cast<int>(payload.size())), static_cast<int>(payload.size()));
        EXPECT_EQ(ar.WriteDword(0xDEADBEEF), 1);
        ASSERT_EQ(ar.EndCompression(), 1);
        EXPECT_EQ(ar.SkipBytes(2, 0xAB), 1);  // a writing device writes the fill
        f.Close();
    }
    CH2sFile f;
    ASSERT_EQ(f.Open(path, 0), 1);
    CH2sArchive ar(&f);
    EXPECT_EQ(ar.ReadDword(), 0x11223344u);
    ASSERT_EQ(ar.BeginCompression(), 1);
    std::string got(payload.size(), '\0');
    ASSERT_EQ(ar.Read(got.data(), static_cast<int>(got.size())), static_cast<int>(got.size()));
    EXPECT_TRUE(got == payload);
    EXPECT_EQ(ar.ReadDword(), 0xDEADBEEFu);
    ar.EndCompression();
    ar.Attach(&f);
    EXPECT_EQ(ar.ReadWord(), 0xABAB);
}

TEST(H2sStream, ReadWriteStreamsAndFailingReads)
{
    ErrorStateGuard guard;
    auto* rw = new MemStream("abcdef", stg::kShareExclusive | stg::kModeReadWrite);
    CH2sStream dev;
    ASSERT_EQ(dev.Attach(rw, false), 1);
    EXPECT_EQ(dev.direction(), kH2sReadWrite);
    EXPECT_EQ(dev.BeginCompression(), 0);
    CH2sArchive ar(&dev);
    EXPECT_EQ(ar.SkipBytes(3, 'x'), 1);  // writes instead of skipping
    EXPECT_EQ(rw->data_, "xxxdef");
    EXPECT_EQ(dev.GetLength(), 6);
    EXPECT_EQ(dev.Write("", 0), 0);

    // A failing read stores its code; with the throw flag off the one-byte read
    // gives -1 and the counts stay.
    rw->failReads = true;
    ar.Attach(&dev);
    char c;
    EXPECT_EQ(ar.Read(&c, 1), -1);
    EXPECT_EQ(ar.available(), 0);
    EXPECT_EQ(ar.consumed(), 0);
    EXPECT_EQ(GetLibraryError(), stg::kReadFault);
    SetThrowOnError(1);
    EXPECT_THROW(ar.Read(&c, 1), ReadError);
    SetThrowOnError(0);
    EXPECT_EQ(dev.Seek(-100, 0), -1);
    EXPECT_EQ(GetLibraryError(), stg::kInvalidFunction);
    dev.Close();
    EXPECT_EQ(dev.stream(), nullptr);
}

TEST(H2sStorage, DocumentStreamsThroughTheStorageWrappers)
{
    ErrorStateGuard guard;
    ps_test::TempDir dir;
    const std::string payload = Payload();
    std::string header(256, '\0');
    std::memcpy(header.data(), "HWP Document File", 17);
    header[32] = 0x05;
    header[35] = 0x05;
    ps_test::CfbWriter w;
    w.AddStream(u"FileHeader", header);
    w.AddStream(u"BodyText/Section0", Deflated(payload));
    ASSERT_TRUE(w.WriteFile(dir.file("d.hwp")));

    CH2sMainStorage root;
    ASSERT_EQ(root.Open(plat::PathFromNative(dir.file("d.hwp"))), 1);
    unsigned char record[256] = {};
    EXPECT_EQ(root.ReadFileHeader(record), 0);
    EXPECT_EQ(root.version(), 0x05000005u);
    CH2sStorage body;
    ASSERT_EQ(root.OpenSubStorage(u"BodyText", body), 1);
    CH2sStream sec;
    ASSERT_EQ(body.OpenStream(u"section0", sec), 1);
    EXPECT_EQ(sec.direction(), kH2sRead);
    CH2sArchive ar(&sec);
    ASSERT_EQ(ar.BeginCompression(), 1);
    std::string got(payload.size() + 5, '\0');
    EXPECT_EQ(ar.Read(got.data(), static_cast<int>(got.size())), static_cast<int>(payload.size()));
    got.resize(payload.size());
    EXPECT_TRUE(got == payload);
    EXPECT_EQ(ar.EndCompression(), 1);

    // A missing stream is stored, never thrown; a missing storage is thrown.
    SetThrowOnError(1);
    CH2sStream none;
    EXPECT_EQ(body.OpenStream(u"Section9", none), 0);
    EXPECT_EQ(GetLibraryError(), stg::kFileNotFound);
    CH2sStorage missing;
    try {
        root.OpenSubStorage(u"BinData", missing);
        ADD_FAILURE() << "no throw";
    } catch (const ReadError& error) {
        EXPECT_EQ(error.code(), static_cast<std::uint32_t>(stg::kFileNotFound));
    }
    CH2sMainStorage notThere;
    EXPECT_THROW(notThere.Open(plat::PathFromNative(dir.file("nope.hwp"))), ReadError);
    SetThrowOnError(0);
    EXPECT_EQ(notThere.Open(plat::PathFromNative(dir.file("nope.hwp"))), 0);
    EXPECT_EQ(GetLibraryError(), stg::kFileNotFound);
}

TEST(StorageAccess, RootStreamCloneAndFormatTests)
{
    ErrorStateGuard guard;
    ps_test::TempDir dir;
    ps_test::CfbWriter w;
    w.AddStream(u"PowerPoint Document", std::string(5000, 'p'));
    w.AddStream(u"Current User", "user");
    ASSERT_TRUE(w.WriteFile(dir.file("p.ppt")));
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("plain.ppt"), std::string(1000, 'x')));
    const std::u16string ppt = plat::PathFromNative(dir.file("p.ppt"));

    CStorageAccess acc;
    EXPECT_EQ(acc.ReadStream(4, nullptr), -1);
    EXPECT_EQ(acc.OpenStorage(plat::PathFromNative(dir.file("plain.ppt"))), 0);
    EXPECT_EQ(acc.root(), nullptr);
    ASSERT_EQ(acc.OpenStorage(ppt), 1);
    ASSERT_EQ(acc.OpenStorage(ppt), 1);  // the first root is released
    EXPECT_EQ(acc.IsPowerPointStorage(), 1);
    EXPECT_EQ(acc.IsWordStorage(), 0);
    EXPECT_EQ(acc.IsExcelStorage(), 0);

    ASSERT_EQ(acc.OpenStream(u"Current User"), 1);
    char buf[8];
    EXPECT_EQ(acc.ReadStream(0, buf), 1);
    EXPECT_EQ(acc.ReadStream(4, buf), 1);
    EXPECT_EQ(acc.ReadStream(4, buf), 0);  // at the end
    EXPECT_EQ(acc.ReadStream(4, buf, nullptr, true), -1);  // no clone yet
    std::uint64_t pos = 99;
    EXPECT_EQ(acc.SeekStream(0, 1, 0, &pos, true), 1);
    EXPECT_EQ(pos, 1u);
    std::uint32_t got = 0;
    EXPECT_EQ(acc.ReadStream(3, buf, &got, true), 1);
    EXPECT_EQ(std::string(buf, got), "ser");
    EXPECT_EQ(acc.ReadStream(4, buf), 0);  // the current stream did not move
    EXPECT_EQ(acc.SkipStream(0xFFFFFFFCu, -1), 1);  // back by 4
    EXPECT_EQ(acc.ReadStream(4, buf), 1);
    EXPECT_EQ(acc.ReleaseStream(), 1);
    EXPECT_EQ(acc.ReleaseStream(), 0);
    EXPECT_EQ(acc.SkipStream(1), 0);

    // A failed second open leaves no root behind.
    EXPECT_EQ(acc.OpenStorage(plat::PathFromNative(dir.file("plain.ppt"))), 0);
    EXPECT_EQ(acc.root(), nullptr);
    EXPECT_EQ(acc.OpenStream(u"Current User"), 0);
    EXPECT_EQ(GetLibraryError(), 0);  // never touched

    CStorageAccess byPath(ppt);
    EXPECT_NE(byPath.root(), nullptr);
    EXPECT_EQ(byPath.path(), ppt);
}

// The main stream a derived reader caches becomes the current stream with its
// own reference: releasing the current stream leaves the cached one alive.
TEST(StorageAccess, MainStreamKeepsItsOwnReference)
{
    ErrorStateGuard guard;
    ps_test::TempDir dir;
    ps_test::CfbWriter w;
    w.AddStream(u"Workbook", std::string(100, 'w'));
    ASSERT_TRUE(w.WriteFile(dir.file("b.xls")));

    struct Reader : CStorageAccess {
        explicit Reader(const std::u16string& p) : CStorageAccess(p)
        {
            root()->OpenStream(u"Workbook", 0x10, &mainStream_);
        }
        ~Reader() override
        {
            if (mainStream_)
                mainStream_->Release();
        }
        plat::CfbStream* main() const { return mainStream_; }
    } r(plat::PathFromNative(dir.file("b.xls")));
    EXPECT_EQ(r.IsExcelStorage(), 1);
    ASSERT_NE(r.main(), nullptr);
    EXPECT_EQ(r.GetMainStream(), r.main());
    char buf[4];
    EXPECT_EQ(r.ReadStream(4, buf), 1);
    EXPECT_EQ(r.ReleaseStream(), 1);
    std::uint32_t got = 0;
    EXPECT_EQ(r.main()->Read(buf, 4, &got), stg::kOk);  // still alive
    EXPECT_EQ(got, 4u);
    r.GetMainStream();  // the destructors release both references
}

// The readers' way into a compound file: a child opens only under its own
// name and kind, a failed open leaves the slot empty, and the reads, seeks
// and listings answer as bools with the counts beside them.
TEST(StorageHelpers, ChildrenReadsSeeksAndListings)
{
    ps_test::TempDir dir;
    ps_test::CfbWriter w;
    w.AddStream(u"Data", "12345");
    w.AddStream(u"Pool/Inner", "x");
    ASSERT_TRUE(w.WriteFile(dir.file("c.doc")));
    const plat::CfbPtr<plat::CfbStorage> root = OpenRootStorage(plat::PathFromNative(dir.file("c.doc")));
    ASSERT_TRUE(root);

    struct Case {
        const char16_t* name;
        bool asStream;
        bool opens;
    };
    const Case cases[] = {
        {u"data", true, true},  {u"Pool", true, false},  {u"Pool", false, true},
        {u"Data", false, false}, {u"Nope", true, false}, {u"Nope", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
        if (c.asStream) {
            plat::CfbPtr<plat::CfbStream> s;
            EXPECT_EQ(OpenChildStream(root.get(), c.name, s.put()), c.opens);
            EXPECT_EQ(static_cast<bool>(s), c.opens);
            EXPECT_FALSE(OpenChildStream(nullptr, c.name, s.put()));
            EXPECT_FALSE(s);
        } else {
            plat::CfbPtr<plat::CfbStorage> s;
            EXPECT_EQ(OpenChildStorage(root.get(), c.name, s.put()), c.opens);
            EXPECT_EQ(static_cast<bool>(s), c.opens);
            EXPECT_FALSE(OpenChildStorage(nullptr, c.name, s.put()));
            EXPECT_FALSE(s);
        }
    }

    plat::CfbPtr<plat::CfbStream> data;
    ASSERT_TRUE(OpenChildStream(root.get(), u"Data", data.put()));
    std::uint64_t size = 0;
    EXPECT_TRUE(StreamSize(data.get(), &size));
    EXPECT_EQ(size, 5u);
    EXPECT_FALSE(SeekStreamTo(data.get(), -1));
    ASSERT_TRUE(SeekStreamTo(data.get(), 3));
    char buf[4] = {};
    std::uint32_t got = 99;
    EXPECT_TRUE(ReadStreamBytes(data.get(), buf, sizeof buf, &got));
    EXPECT_EQ(std::string(buf, got), "45");
    EXPECT_TRUE(ReadStreamBytes(data.get(), buf, sizeof buf, &got));  // at the end: no error, no bytes
    EXPECT_EQ(got, 0u);
    MemStream failing("abc", stg::kShareExclusive);
    failing.failReads = true;
    EXPECT_FALSE(ReadStreamBytes(&failing, buf, sizeof buf, &got));
    EXPECT_FALSE(ReadStreamChunk(&failing, buf, sizeof buf, &got));

    std::vector<plat::CfbStat> children;
    ASSERT_TRUE(StorageElements(root.get(), &children));
    ASSERT_EQ(children.size(), 2u);
    EXPECT_TRUE(children[0].name == u"Data" || children[1].name == u"Data");
    EXPECT_FALSE(StorageElements(nullptr, &children));
}
