// The archive engine and its client: archives checked by real clients (7z,
// Python's zipfile), the naming, and what happens to the document when the
// archive cannot be completed (stop, full disk, folder not writable, a
// program killed in the middle).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "core/docarchiver.h"
#include "core/docfiles.h"
#include "core/harrow.h"
#include "platform/pending.h"
#include "platform/text.h"
#include "support/isolation.h"

namespace ps_test {
namespace {

namespace fs = std::filesystem;

const char kPassword[] = "s3cret-Pw!";

std::u16string U(const std::string& s) { return plat::PathFromNative(s); }

std::string EnginePath() { return std::string(PS_BINARY_DIR) + "/bin/harrow32.so"; }

int Shell(const std::string& command)
{
    const int rc = std::system((command + " >/dev/null 2>&1 </dev/null").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string Capture(const std::string& command)
{
    std::string out;
    if (FILE* p = popen((command + " 2>&1 </dev/null").c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// Text with some structure and some noise, so that deflate has work to do.
std::string MakeContent(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string s;
    s.reserve(size);
    while (s.size() < size) {
        s += "이름 홍길동 800101-1234560 tel 010-2345-6789 ";
        for (int i = 0; i < 40; ++i) s.push_back(static_cast<char>(random() & 0xFF));
    }
    s.resize(size);
    return s;
}

std::string Incompressible(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(random() & 0xFF);
    return s;
}

void AppendFileBytes(const std::string& path, const std::string& bytes)
{
    if (FILE* f = fopen(path.c_str(), "ab")) {
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
}

// Entries of the list of files to delete at the next start.
size_t PendingCount() { return plat::KeyStore::User().Values(plat::kPendingDeleteKey).size(); }

std::vector<std::string> FilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        harrow::Harrow::ModulePathOverride() = U(EnginePath());
        ASSERT_TRUE(fs::exists(EnginePath())) << "the engine module is built with the tests";
    }
    void TearDown() override { harrow::Harrow::ModulePathOverride().clear(); }

    // Extracts with 7z into a fresh folder; the bytes of the one entry.
    std::string Extract7z(const std::string& archive, const std::string& entry)
    {
        const std::string out = dir_.file("x" + std::to_string(++extracts_));
        fs::create_directories(out);
        if (Shell("7z x -y -p'" + std::string(kPassword) + "' -o'" + out + "' '" + archive + "'") != 0) return "<failed>";
        return ReadFileBytes(out + "/" + entry);
    }

    TempDir dir_;
    int extracts_ = 0;
};

TEST_F(ArchiveTest, EachAlgorithmMakesAnArchiveRealClientsOpenWithThePasswordOnly)
{
    const struct {
        int algorithm;
        const char* method;  // what 7z reports
    } cases[] = {{1, "ZipCrypto"}, {2, "AES-128"}, {3, "AES-256"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.algorithm);
        const std::string folder = dir_.file("alg" + std::to_string(c.algorithm));
        fs::create_directories(folder);
        const std::string doc = folder + "/보고서 " + std::to_string(c.algorithm) + ".hwp";
        const std::string content = MakeContent(700 * 1024 + 17 * c.algorithm, c.algorithm);
        ASSERT_TRUE(WriteFileBytes(doc, content));

        DocumentArchiver archiver;
        ASSERT_TRUE(archiver.Start());
        archiver.SetPassword(U(kPassword));
        archiver.SetAlgorithm(c.algorithm);
        std::vector<std::u16string> begun;
        archiver.onItemBegin = [&](const std::u16string& p) { begun.push_back(p); };
        const size_t pending = PendingCount();
        EXPECT_EQ(archiver.EncryptDocument(U(doc)), ArchiveOutcome::Done);
        EXPECT_EQ(PendingCount(), pending) << "the temporary name stays listed";
        EXPECT_EQ(begun, std::vector<std::u16string>{U(doc)});
        const std::string archive = doc + ".zip";
        EXPECT_EQ(archiver.LastArchivePath(), U(archive));
        EXPECT_FALSE(fs::exists(doc));
        // Only the archive is left: no temporary file.
        EXPECT_EQ(FilesIn(folder), std::vector<std::string>{fs::path(archive).filename().string()});

        EXPECT_EQ(Shell("7z t -p'" + std::string(kPassword) + "' '" + archive + "'"), 0);
        EXPECT_NE(Shell("7z t -pwrong-password '" + archive + "'"), 0);
        EXPECT_NE(Shell("7z t '" + archive + "'"), 0);
        EXPECT_NE(Capture("7z l -slt '" + archive + "'").find("Method = " + std::string(c.method)), std::string::npos)
            << Capture("7z l -slt '" + archive + "'");
        EXPECT_EQ(Extract7z(archive, fs::path(doc).filename().string()), content);
        if (c.algorithm == 1) {
            // ZIP 2.0 encryption is what every client reads.
            const std::string out = dir_.file("py.out");
            EXPECT_EQ(Shell("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
                          "open(sys.argv[2],'wb').write(z.read(z.namelist()[0], pwd=b'" +
                          std::string(kPassword) + "'))\" '" + archive + "' '" + out + "'"),
                      0);
            EXPECT_EQ(ReadFileBytes(out), content);
            EXPECT_NE(Shell("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
                          "z.read(z.namelist()[0], pwd=b'wrong')\" '" + archive + "'"),
                      0);
        }
    }
}

// The sizes around the engine's edges: nothing to compress, a document
// smaller than an AES block, the sizes where AES entries stop storing their
// CRC-32 (under 20 bytes), and one that takes several reads. Every one is
// encrypted, read back, named and removed like any other, with each
// algorithm, and 7z extracts exactly its bytes.
TEST_F(ArchiveTest, TinyAndEmptyDocumentsAreArchivedAndVerifiedLikeAnyOther)
{
    const size_t sizes[] = {0, 1, 15, 16, 19, 20, 21, 64, 300 * 1024 + 7};
    for (int algorithm : {1, 2, 3}) {
        for (size_t size : sizes) {
            SCOPED_TRACE("algorithm " + std::to_string(algorithm) + ", " + std::to_string(size) + " bytes");
            const std::string folder = dir_.file("a" + std::to_string(algorithm) + "-" + std::to_string(size));
            fs::create_directories(folder);
            const std::string doc = folder + "/메모.txt";
            const std::string content = MakeContent(size, static_cast<unsigned>(size + algorithm));
            ASSERT_TRUE(WriteFileBytes(doc, content));

            DocumentArchiver archiver;
            ASSERT_TRUE(archiver.Start());
            archiver.SetPassword(U(kPassword));
            archiver.SetAlgorithm(algorithm);
            EXPECT_EQ(archiver.EncryptDocument(U(doc)), ArchiveOutcome::Done)
                << plat::PathToNative(archiver.LastFailureReason());
            EXPECT_EQ(archiver.LastItemResult(), kHarrowItemVerified);
            EXPECT_TRUE(archiver.LastFailureReason().empty());
            const std::string archive = doc + ".zip";
            EXPECT_EQ(FilesIn(folder), std::vector<std::string>{fs::path(archive).filename().string()});
            EXPECT_EQ(Shell("7z t -p'" + std::string(kPassword) + "' '" + archive + "'"), 0);
            EXPECT_EQ(Extract7z(archive, fs::path(doc).filename().string()), content);
            if (size > 0) {
                EXPECT_NE(Shell("7z t -pwrong-password '" + archive + "'"), 0);
            }
        }
    }
}

// Reads back the archive the engine wrote with one bit changed: the engine
// driven as the archiver drives it, through our own file streams.
class ChangedReadBack : public harrow::UIEventHandler, public CHarrowEventHandler {
public:
    ChangedReadBack() : CHarrowEventHandler(this) {}
    ~ChangedReadBack() { archive_.reset(); }

    bool Start()
    {
        if (!loader_.Load()) return false;
        HarrowStartRecord start{sizeof(HarrowStartRecord), u"test", u"test"};
        reinterpret_cast<HARROW_StartUp_t>(loader_.HARROW_StartUp)(&start);
        const HarrowHandle h = reinterpret_cast<HARROW_CreateArchive_t>(loader_.HARROW_CreateArchive)(&registration);
        archive_ = std::make_unique<harrow::Archive>(h, &loader_);
        harrow = &loader_;
        archive = archive_.get();
        return h != 0;
    }
    // The item result of one archive of the document, the bit 0x80 of the
    // archive's byte at flipAt changed as it is read back.
    int32_t Run(const std::string& document, const std::string& target, uint32_t encryption, uint64_t flip)
    {
        flipAt_ = flip;
        result_ = -1;
        const std::u16string list = U(document) + u"\n";
        const std::u16string to = U(target);
        CreateZipRequest request;
        request.targetPath = to.c_str();
        request.fileList = list.c_str();
        request.encryption = encryption;
        CreateZipArchive(this, &request);
        return result_;
    }

    uint32_t ReadStream(harrow::StreamContext* ctx, void* buffer, uint32_t size, uint32_t* bytesRead) override
    {
        const uint64_t from = ctx && ctx->stream ? ctx->stream->position : 0;
        const uint32_t answer = CHarrowEventHandler::ReadStream(ctx, buffer, size, bytesRead);
        if (bytesRead && flipAt_ >= from && flipAt_ < from + *bytesRead)
            static_cast<unsigned char*>(buffer)[flipAt_ - from] ^= 0x80;
        return answer;
    }
    uint32_t OnQueryPassword(HarrowEvent* event) override
    {
        event->password = password_.c_str();
        return 1;
    }
    uint32_t OnItemBegin(HarrowEvent*) override { return 1; }
    uint32_t OnOtherEvent(HarrowEvent*) override { return 1; }
    uint32_t OnItemEnd(HarrowEvent* event) override
    {
        result_ = event->itemResult;
        return 1;
    }

private:
    harrow::Harrow loader_;
    std::unique_ptr<harrow::Archive> archive_;
    const std::u16string password_ = U(kPassword);
    uint64_t flipAt_ = UINT64_MAX;
    int32_t result_ = -1;
};

// Where the stored data of the first entry lies in a ZIP file: after its
// local header, as long as the header's compressed size says.
std::pair<uint64_t, uint64_t> FirstEntryData(const std::string& zip)
{
    auto u16 = [&](size_t at) {
        return static_cast<uint64_t>(static_cast<unsigned char>(zip[at]) |
                                     static_cast<unsigned char>(zip[at + 1]) << 8);
    };
    if (zip.size() < 30 || zip.compare(0, 4, "PK\x03\x04") != 0) return {0, 0};
    const uint64_t size = u16(18) | u16(20) << 16;
    return {30 + u16(26) + u16(28), size};
}

// Every bit of an AES entry's stored data counts: its salt and password
// check, the encrypted data and the authentication code after it, which
// clients compare before they give anything out. A read-back that met any
// of them changed refuses the archive, whatever the size of the document
// (tiny ones carry no CRC-32 to fall back on). Unchanged, every archive is
// verified.
TEST_F(ArchiveTest, AnAesArchiveReadBackWithAnyBitOfItsDataChangedIsRefused)
{
    ChangedReadBack engine;
    ASSERT_TRUE(engine.Start());
    int runs = 0;
    for (uint32_t encryption : {kHarrowEncryptAes128, kHarrowEncryptAes256}) {
        for (size_t size : {0, 1, 19, 20, 64}) {
            SCOPED_TRACE("encryption " + std::to_string(encryption) + ", " + std::to_string(size) + " bytes");
            const std::string doc = dir_.file("d" + std::to_string(size) + ".hwp");
            ASSERT_TRUE(WriteFileBytes(doc, MakeContent(size, static_cast<unsigned>(size))));
            const std::string plain = dir_.file("plain" + std::to_string(++runs) + ".zip");
            ASSERT_EQ(engine.Run(doc, plain, encryption, UINT64_MAX), kHarrowItemVerified);
            const auto [start, length] = FirstEntryData(ReadFileBytes(plain));
            ASSERT_GE(length, 20u);  // salt, password check, authentication code
            for (uint64_t at = start; at < start + length; ++at) {
                const std::string target = dir_.file("changed" + std::to_string(++runs) + ".zip");
                EXPECT_NE(engine.Run(doc, target, encryption, at), kHarrowItemVerified)
                    << "byte " << at - start << " of " << length;
            }
        }
    }
}

TEST_F(ArchiveTest, ExistingArchiveNamesAreNeverReplaced)
{
    const std::string doc = dir_.file("plan.hwp");
    ASSERT_TRUE(WriteFileBytes(doc, MakeContent(5000, 9)));
    chmod(doc.c_str(), 0640);
    ASSERT_TRUE(WriteFileBytes(doc + ".zip", "first"));
    ASSERT_TRUE(WriteFileBytes(dir_.file("plan.hwp (2).zip"), "second"));
    EXPECT_EQ(MakeArchiveName(U(doc)), U(dir_.file("plan.hwp (3).zip")));

    DocumentArchiver archiver;
    ASSERT_TRUE(archiver.Start());
    archiver.SetPassword(U(kPassword));
    archiver.SetAlgorithm(2);
    EXPECT_EQ(archiver.EncryptDocument(U(doc)), ArchiveOutcome::Done);
    EXPECT_EQ(archiver.LastArchivePath(), U(dir_.file("plan.hwp (3).zip")));
    struct stat st{};
    ASSERT_EQ(stat(dir_.file("plan.hwp (3).zip").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // readable by whoever could read the document
    EXPECT_EQ(ReadFileBytes(doc + ".zip"), "first");
    EXPECT_EQ(ReadFileBytes(dir_.file("plan.hwp (2).zip")), "second");
    EXPECT_EQ(Shell("7z t -p'" + std::string(kPassword) + "' '" + dir_.file("plan.hwp (3).zip") + "'"), 0);

    // The rename refuses an existing target.
    ASSERT_TRUE(WriteFileBytes(dir_.file("a"), "a"));
    ASSERT_TRUE(WriteFileBytes(dir_.file("b"), "b"));
    EXPECT_EQ(RenameNoReplace(U(dir_.file("a")), U(dir_.file("b"))), EEXIST);
    EXPECT_EQ(ReadFileBytes(dir_.file("b")), "b");
}

TEST_F(ArchiveTest, WithoutTheEngineModuleNothingStartsAndNothingIsTouched)
{
    harrow::Harrow::ModulePathOverride() = U(dir_.file("missing/harrow32.so"));
    const std::string doc = dir_.file("keep.doc");
    ASSERT_TRUE(WriteFileBytes(doc, "keep"));
    DocumentArchiver archiver;
    EXPECT_FALSE(archiver.Start());
    archiver.SetPassword(U(kPassword));
    EXPECT_EQ(archiver.EncryptDocument(U(doc)), ArchiveOutcome::Failed);
    EXPECT_EQ(ReadFileBytes(doc), "keep");
    EXPECT_EQ(FilesIn(dir_.path()), std::vector<std::string>{"keep.doc"});
}

TEST_F(ArchiveTest, WithoutPasswordOrWithAMissingDocumentNoArchiveIsLeft)
{
    DocumentArchiver archiver;
    ASSERT_TRUE(archiver.Start());
    const std::string doc = dir_.file("a.pdf");
    ASSERT_TRUE(WriteFileBytes(doc, "content"));
    EXPECT_EQ(archiver.EncryptDocument(U(doc)), ArchiveOutcome::Failed);  // no password yet
    archiver.SetPassword(U(kPassword));
    EXPECT_EQ(archiver.EncryptDocument(U(dir_.file("gone.pdf"))), ArchiveOutcome::Failed);
    EXPECT_EQ(FilesIn(dir_.path()), std::vector<std::string>{"a.pdf"});
}

TEST_F(ArchiveTest, StopInTheMiddleOfALargeDocumentLeavesItIntactAndNoArchive)
{
    const std::string doc = dir_.file("large.xls");
    const std::string content = MakeContent(24u << 20, 4);
    ASSERT_TRUE(WriteFileBytes(doc, content));
    std::atomic<bool> stop{false};
    DocumentArchiver archiver;
    ASSERT_TRUE(archiver.Start());
    archiver.SetPassword(U(kPassword));
    archiver.stopFlag = &stop;
    uint64_t seen = 0;
    archiver.onProgress = [&](uint64_t done, uint64_t total) {
        EXPECT_EQ(total, content.size());
        seen = done;
        if (done >= (2u << 20)) stop = true;
    };
    const size_t pending = PendingCount();
    EXPECT_EQ(archiver.EncryptDocument(U(doc)), ArchiveOutcome::Cancelled);
    EXPECT_EQ(PendingCount(), pending);
    EXPECT_LT(seen, content.size() / 2);  // it really stopped early
    EXPECT_EQ(ReadFileBytes(doc), content);
    EXPECT_EQ(FilesIn(dir_.path()), std::vector<std::string>{"large.xls"});
}

TEST_F(ArchiveTest, AnArchiveThatCannotBeWrittenLeavesTheDocumentIntact)
{
    // A file-size limit stands in for a full disk: writes past it fail.
    const std::string doc = dir_.file("big.ppt");
    const std::string content = Incompressible(3u << 20, 5);
    ASSERT_TRUE(WriteFileBytes(doc, content));
    DocumentArchiver archiver;
    ASSERT_TRUE(archiver.Start());
    archiver.SetPassword(U(kPassword));
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    auto previous = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1u << 20;
    const size_t pending = PendingCount();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const ArchiveOutcome outcome = archiver.EncryptDocument(U(doc));
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(outcome, ArchiveOutcome::Failed);
    EXPECT_EQ(archiver.LastFailureReason(), u"압축 파일을 쓰지 못함 (파일 크기 제한 초과)");
    EXPECT_EQ(PendingCount(), pending);
    EXPECT_EQ(ReadFileBytes(doc), content);
    EXPECT_EQ(FilesIn(dir_.path()), std::vector<std::string>{"big.ppt"});
}

TEST_F(ArchiveTest, ADocumentChangedAfterItWasReadIsKeptBesideItsArchive)
{
    // The archive is complete and verified when the document changes; the
    // archive holds the bytes read, the document keeps its new ones. Round 0
    // runs on documents just written (their times cannot be trusted to show
    // a change, their bytes are compared), round 1 on documents whose times
    // are seconds old.
    const struct {
        const char* name;
        std::function<void(const std::string&)> edit;
        bool documentStays;
    } cases[] = {
        {"appended", [](const std::string& p) { AppendFileBytes(p, "more"); }, true},
        {"rewritten, same size",
         [](const std::string& p) {
             std::string bytes = ReadFileBytes(p);
             bytes[bytes.size() / 2] ^= 0x5A;
             struct stat st{};
             stat(p.c_str(), &st);
             WriteFileBytes(p, bytes);
             const timespec times[2] = {st.st_atim, st.st_mtim};  // the old times put back
             utimensat(AT_FDCWD, p.c_str(), times, 0);
         },
         true},
        {"replaced",
         [](const std::string& p) {
             std::string bytes = ReadFileBytes(p);  // saved by an editor: a new file, same size
             bytes[0] ^= 0x20;
             WriteFileBytes(p + ".new", bytes);
             rename((p + ".new").c_str(), p.c_str());
         },
         true},
        {"removed", [](const std::string& p) { unlink(p.c_str()); }, false},
        {"untouched", [](const std::string&) {}, false},
    };
    for (int round = 0; round < 2; ++round) {
        std::vector<std::pair<std::string, std::string>> docs;
        const std::string folder = dir_.file("round" + std::to_string(round));
        fs::create_directories(folder);
        for (size_t i = 0; i < std::size(cases); ++i) {
            docs.emplace_back(folder + "/d" + std::to_string(i) + ".pdf", MakeContent(300000 + i, round * 7 + i));
            ASSERT_TRUE(WriteFileBytes(docs.back().first, docs.back().second));
        }
        if (round == 1) std::this_thread::sleep_for(std::chrono::milliseconds(3200));
        DocumentArchiver archiver;
        ASSERT_TRUE(archiver.Start());
        archiver.SetPassword(U(kPassword));
        for (size_t i = 0; i < std::size(cases); ++i) {
            const auto& c = cases[i];
            const auto& [doc, content] = docs[i];
            SCOPED_TRACE(std::string(c.name) + ", round " + std::to_string(round));
            std::string edited;
            archiver.beforeRemove = [&] {
                c.edit(doc);
                edited = ReadFileBytes(doc);
            };
            const ArchiveOutcome outcome = archiver.EncryptDocument(U(doc));
            const bool untouched = std::string(c.name) == "untouched";
            EXPECT_EQ(outcome, untouched ? ArchiveOutcome::Done : ArchiveOutcome::DocumentStayed);
            EXPECT_EQ(archiver.LastArchivePath(), U(doc + ".zip"));
            EXPECT_TRUE(Extract7z(doc + ".zip", fs::path(doc).filename().string()) == content)
                << "the archive holds the bytes read";
            EXPECT_EQ(fs::exists(doc), c.documentStays);
            if (c.documentStays) {
                EXPECT_TRUE(ReadFileBytes(doc) == edited && edited != content) << "the document keeps its edit";
                EXPECT_EQ(archiver.LastFailureReason(), u"암호화하는 동안 문서가 바뀜 (문서와 압축 파일을 모두 남김)");
            } else if (!untouched) {
                EXPECT_EQ(archiver.LastFailureReason(),
                          u"암호화하는 동안 문서가 없어짐 (파일을 찾을 수 없음, 압축 파일은 남김)");
            } else {
                EXPECT_EQ(archiver.LastFailureReason(), u"");
            }
        }
    }
}

TEST(FileErrors, EachFailureHasWordsTheUserReads)
{
    const struct {
        int error;
        const char16_t* text;
    } cases[] = {
        {0, u""},
        {ENOSPC, u"디스크 공간 부족"},
        {EDQUOT, u"디스크 할당량 초과"},
        {EROFS, u"읽기 전용 파일 시스템"},
        {EACCES, u"접근 권한 없음"},
        {EPERM, u"접근 권한 없음"},
        {EIO, u"입출력 오류"},
        {ENOENT, u"파일을 찾을 수 없음"},
        {EOVERFLOW, u"시스템 오류 75"},
    };
    for (const auto& c : cases) EXPECT_EQ(FileErrorText(c.error), c.text) << c.error;
}

TEST_F(ArchiveTest, AFolderTheUserMayNotWriteKeepsItsDocument)
{
    // Run as an unprivileged user: a root process could write anywhere.
    const std::string folder = dir_.file("locked");
    fs::create_directories(folder);
    const std::string doc = folder + "/doc.hwp";
    ASSERT_TRUE(WriteFileBytes(doc, "private"));
    chmod(dir_.path().c_str(), 0755);
    chmod(folder.c_str(), 0755);
    chmod(doc.c_str(), 0644);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(90);
        if (geteuid() == 0) _exit(90);
        DocumentArchiver archiver;
        if (!archiver.Start()) _exit(91);
        archiver.SetPassword(U(kPassword));
        const ArchiveOutcome a = archiver.EncryptDocument(U(doc));
        const RemoveOutcome r = RemoveDocument(U(doc));
        if (archiver.LastFailureReason() != u"압축 파일을 쓰지 못함 (접근 권한 없음)") _exit(93);
        _exit(a == ArchiveOutcome::Failed && r == RemoveOutcome::Stayed ? 0 : 92);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 90) GTEST_SKIP() << "no unprivileged user to run the step as";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFileBytes(doc), "private");
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"doc.hwp"});
}

TEST_F(ArchiveTest, KilledDuringEncryptionEveryDocumentIsIntactOrCompletelyArchived)
{
    // For every document, after a kill at any moment: the original is intact,
    // or a complete archive of it exists (or both) - never neither.
    std::mt19937 random(77);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        const std::string folder = dir_.file("kill" + std::to_string(round));
        fs::create_directories(folder);
        std::vector<std::pair<std::string, std::string>> docs;
        for (int i = 0; i < 4; ++i) {
            docs.emplace_back(folder + "/d" + std::to_string(i) + ".doc", MakeContent((1u << 20) + i, round * 10 + i));
            ASSERT_TRUE(WriteFileBytes(docs.back().first, docs.back().second));
        }
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            DocumentArchiver archiver;
            if (!archiver.Start()) _exit(1);
            archiver.SetPassword(U(kPassword));
            for (const auto& d : docs) archiver.EncryptDocument(U(d.first));
            _exit(0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 180));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        for (const auto& [path, content] : docs) {
            SCOPED_TRACE(path);
            if (ReadFileBytes(path) == content) continue;
            EXPECT_FALSE(fs::exists(path)) << "a document changed";
            ASSERT_TRUE(fs::exists(path + ".zip")) << "neither the document nor its archive";
            EXPECT_EQ(Extract7z(path + ".zip", fs::path(path).filename().string()), content);
        }
        // A half-written archive is removed at the next start.
        plat::PurgePendingDeletions();
        for (const std::string& name : FilesIn(folder)) EXPECT_NE(name[0], '.') << name;
    }
}

TEST(ArchiveClient, EntryNamesVolumeNamesAndDefaultAnswers)
{
    EXPECT_EQ(ArchiveEntryName(u"/home/a/x.hwp"), u"x.hwp");
    EXPECT_EQ(ArchiveEntryName(u"D:x.doc"), u"Dx.doc");
    EXPECT_EQ(ArchiveEntryName(u"/a/b:c.pdf"), u"bc.pdf");

    EXPECT_EQ(harrow::VolumeFileName(u"Arc.ZIP", 0, u"zip"), u"Arc.ZIP");
    EXPECT_EQ(harrow::VolumeFileName(u"Arc.ZIP", 3, u"zip"), u"");
    EXPECT_EQ(harrow::VolumeFileName(u"A.vol1.ovm", 2, u"OVM"), u"a.vol3.ovm");
    EXPECT_EQ(harrow::VolumeFileName(u"A.qvz", 1, u"qvz"), u"a.a00");
    EXPECT_EQ(harrow::VolumeFileName(u"A.qvz", 100, u"qvz"), u"a.a99");
    EXPECT_EQ(harrow::VolumeFileName(u"A.qvz", 101, u"qvz"), u"a.b00");

    CHarrowEventHandler handler;  // no listener
    for (uint32_t type : {5u, 6u, 9u, 10u, 12u, 13u, 14u, 15u, 99u}) {
        HarrowEvent e{};
        e.type = type;
        EXPECT_EQ(handler.DispatchEvent(&e), 1u) << type;
    }
    HarrowEvent ask{};
    ask.type = kHarrowEventPassword;
    EXPECT_EQ(handler.DispatchEvent(&ask), 0x100u);
    EXPECT_EQ(harrow::HarrowEventCallback(nullptr, &ask), 1u);
}

TEST(ArchiveClient, FileStreamsSeekFromTheEndAndNeverReplaceOnCreate)
{
    TempDir dir;
    CHarrowEventHandler handler;
    HarrowWriteCallbacks w{};
    HarrowEvent create{};
    create.type = kHarrowEventCreateWrite;
    const std::u16string folder = U(dir.path()) + u"/sub/";
    create.targetPath = folder.c_str();
    create.fileName = u"out.zip";
    create.writeCallbacks = &w;
    ASSERT_EQ(handler.DispatchEvent(&create), 1u);  // folders made, name completed
    uint32_t n = 0;
    w.write(w.context, "0123456789", 10, &n);
    EXPECT_EQ(n, 10u);
    HarrowEvent close{};
    close.type = kHarrowEventCloseWrite;
    close.writeCallbacks = &w;
    EXPECT_EQ(handler.DispatchEvent(&close), 1u);
    EXPECT_EQ(w.context, nullptr);
    EXPECT_EQ(ReadFileBytes(dir.path() + "/sub/out.zip"), "0123456789");

    // A second create of the same name is refused: the file is kept.
    EXPECT_EQ(handler.DispatchEvent(&create), 0x1000300u);
    EXPECT_EQ(ReadFileBytes(dir.path() + "/sub/out.zip"), "0123456789");

    HarrowReadCallbacks r{};
    HarrowEvent open{};
    open.type = kHarrowEventOpenRead;
    const std::u16string file = folder + u"out.zip";
    open.volumeName = file.c_str();
    open.readCallbacks = &r;
    ASSERT_EQ(handler.DispatchEvent(&open), 1u);
    uint64_t pos = 0, size = 0;
    r.seek(r.context, 0, 0, 2, &pos);
    EXPECT_EQ(pos, 10u);
    r.seek(r.context, 4, 0, 2, &pos);
    EXPECT_EQ(pos, 6u);
    char buf[8] = {};
    r.read(r.context, buf, 8, &n);
    EXPECT_EQ(std::string(buf, n), "6789");
    r.size(r.context, &size);
    EXPECT_EQ(size, 10u);
    HarrowFileInfo info{};
    r.findFile(r.context, &info);
    EXPECT_EQ(info.size, 10u);
    EXPECT_EQ(std::u16string(info.name), u"out.zip");
    HarrowEvent closeRead{};
    closeRead.type = kHarrowEventCloseRead;
    closeRead.readCallbacks = &r;
    EXPECT_EQ(handler.DispatchEvent(&closeRead), 1u);

    HarrowEvent missing{};
    missing.type = kHarrowEventOpenRead;
    missing.volumeName = u"/nonexistent/x.zip";
    missing.readCallbacks = &r;
    EXPECT_EQ(handler.DispatchEvent(&missing), 0x1000200u);
    EXPECT_EQ(r.context, nullptr);
}

TEST(DocumentFiles, RemovalOutcomesAndOpenDocuments)
{
    TempDir dir;
    const std::string doc = dir.file("a.hwp");
    ASSERT_TRUE(WriteFileBytes(doc, "x"));
    EXPECT_FALSE(IsDocumentOpenElsewhere(U(doc)));
    // Office lock files beside the document.
    for (const std::string lock : {".~lock.a.hwp#", "~$a.hwp"}) {
        ASSERT_TRUE(WriteFileBytes(dir.file(lock), ""));
        EXPECT_TRUE(IsDocumentOpenElsewhere(U(doc))) << lock;
        fs::remove(dir.file(lock));
    }
    // Another process holding it open.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execlp("sh", "sh", "-c", ("exec 3<'" + doc + "'; sleep 30").c_str(), nullptr);
        _exit(127);
    }
    bool seen = false;
    for (int i = 0; i < 100 && !seen; ++i) {
        seen = IsDocumentOpenElsewhere(U(doc));
        if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(CountDocumentsOpenElsewhere({U(doc), U(dir.file("missing.hwp")), U(doc)}), 2);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(seen);
    EXPECT_FALSE(IsDocumentOpenElsewhere(U(dir.file("missing.hwp"))));

    EXPECT_EQ(RemoveDocument(U(doc)), RemoveOutcome::Deleted);
    EXPECT_FALSE(fs::exists(doc));
    EXPECT_EQ(RemoveDocument(U(doc)), RemoveOutcome::Missing);
    fs::create_directories(dir.file("folder.hwp"));
    EXPECT_EQ(RemoveDocument(U(dir.file("folder.hwp"))), RemoveOutcome::Stayed);
}

}  // namespace
}  // namespace ps_test
