// Documents that cannot be read are never taken for clean: pipes and devices
// are refused at once, a stop reaches into a long read, every document not
// read to its end is listed with its reason, and the walk lists what it
// could not open.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "platform/docfile.h"
#include "platform/system.h"
#include "platform/text.h"
#include "search/engine.h"
#include "search/extractors.h"
#include "search/scan.h"
#include "search/matcher.h"
#include "support/isolation.h"
#include "support/within.h"
#include "support/zip_writer.h"
#include "support/errorlist.h"

namespace {

std::u16string W(const std::string& s) { return plat::PathFromNative(s); }

using ps_test::ListedReason;
using ps_test::TodaysErrorList;

struct Scan {
    ScanStatus status = ScanStatus::Done;
    PersonalInfoCounts counts{};
};

// Scans path on a thread of its own; nothing when the scan has not ended
// within the limit.
std::optional<Scan> ScanWithin(const std::string& path, std::chrono::seconds limit,
                               std::shared_ptr<CancelFlag> cancel = nullptr)
{
    return ps_test::RunWithin<Scan>(
        limit,
        [path, cancel] {
            Scan s;
            s.status = FindPersonalInfoInFile(W(path), s.counts, 0xFFFF, cancel.get(), nullptr);
            return s;
        },
        [path] { ps_test::OpenOtherEnd(path); });
}

TEST(SearchIntegrity, PipesAndDevicesAreRefusedAtOnce)
{
    ps_test::TempDir dir;
    for (const char* ext : {"pdf", "hwp", "docx", "doc", "xls", "xlsx", "ppt", "pptx"}) {
        const std::string fifo = dir.file(std::string("fifo.") + ext);
        const std::string zero = dir.file(std::string("zero.") + ext);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
        for (const std::string& path : {fifo, zero}) {
            const std::optional<Scan> scan = ScanWithin(path, std::chrono::seconds(20));
            ASSERT_TRUE(scan.has_value()) << "the read never ended: " << path;
            EXPECT_TRUE(ScanLeftDocumentUnread(scan->status)) << path << " status " << static_cast<int>(scan->status);
            EXPECT_EQ(scan->counts, PersonalInfoCounts{}) << path;
            EXPECT_EQ(ListedReason(path), "일반 파일이 아님") << path;
        }
    }
}

// A file of the given size holding head at its start and nothing after it
// (a hole: no disk space is taken).
void MakeSparse(const std::string& path, const std::string& head, off_t size)
{
    ASSERT_TRUE(ps_test::WriteFileBytes(path, head));
    ASSERT_EQ(::truncate(path.c_str(), size), 0);
}

TEST(SearchIntegrity, StopReachesIntoALongRead)
{
    ps_test::TempDir dir;
    // Far more bytes than a read gets through in the time allowed: MuPDF
    // searches the whole file for objects.
    const std::string huge = dir.file("huge.pdf");
    MakeSparse(huge, "%PDF-1.7\n1 0 obj\n<< /Type /Catalog >>\nendobj\n", off_t{1} << 36);
    auto cancel = std::make_shared<CancelFlag>(0);
    std::thread stopper([cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        *cancel = 1;
    });
    const std::optional<Scan> scan = ScanWithin(huge, std::chrono::seconds(30), cancel);
    stopper.join();
    ASSERT_TRUE(scan.has_value()) << "the stop did not reach the reader";
    EXPECT_EQ(scan->status, ScanStatus::Cancelled);

    // A read asked to stop ends as not read, whatever the reader made of it.
    std::string body;
    for (int i = 0; i < 20000; ++i)
        body += "<w:p><w:r><w:t>tel 02-123-4567 line " + std::to_string(i) + "</w:t></w:r></w:p>";
    const std::string docx = dir.file("big.docx");
    ASSERT_TRUE(ps_test::WriteFileBytes(
        docx, ps_test::MakeOoxmlPackage({{"word/document.xml",
                                          "<?xml version=\"1.0\"?><w:document xmlns:w=\"http://schemas."
                                          "openxmlformats.org/wordprocessingml/2006/main\"><w:body>" +
                                              body + "</w:body></w:document>"}},
                                        {})));
    std::u16string text;
    ASSERT_EQ(ExtractDocumentText(W(docx), u"DOCX", text), EntryResult::Read);  // readable as such
    CancelFlag stop{1};
    plat::ReadCancelScope scope(&stop);
    text.clear();
    std::u16string reason;
    EXPECT_EQ(ExtractDocumentText(W(docx), u"DOCX", text, &reason), EntryResult::NotRead);
    EXPECT_EQ(reason, u"검색을 멈춤");
}

// A reader that gives part of the text and then fails in one of three ways.
int g_failure = 0;
EntryResult PartialReader(const char16_t*, const char16_t*, std::u16string* text, ReadError*)
{
    *text += u"ID 800101-1234560\n";
    if (g_failure == 3)
        throw std::runtime_error("damaged record");
    return static_cast<EntryResult>(g_failure);
}
EntryResult NoTextReader(const char16_t*, const char16_t*, std::u16string*, ReadError*) { return EntryResult::NotRead; }

TEST(SearchIntegrity, EveryDocumentNotReadIsListedWithItsReason)
{
    ps_test::TempDir dir;
    ExtractorTable t = DefaultExtractorTable();
    t.hwp = PartialReader;
    t.excel = NoTextReader;
    t.powerPoint = nullptr;
    ScanContext context(t);
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("broken.docx"), "PK\3\4 not a package"));
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("locked.xlsx"), "x"));
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("slides.pptx"), "x"));
    const std::string longName = dir.file(std::string(260, 'n') + ".docx");
    struct {
        std::string path;
        int failure;  // of the partial reader
        ScanStatus status;
        int residents;
        std::string reason;
    } cases[] = {
        {dir.file("p1.hwp"), 1, ScanStatus::Partial, 1, "문서를 읽지 못함 (손상되었거나 지원하지 않는 문서) - 일부만 읽음"},
        {dir.file("p2.hwp"), 2, ScanStatus::Partial, 1, "문서를 읽지 못함 (읽기 오류) - 일부만 읽음"},
        {dir.file("p3.hwp"), 3, ScanStatus::Partial, 1, "읽는 중 오류 (damaged record) - 일부만 읽음"},
        {dir.file("whole.hwp"), 0, ScanStatus::Done, 1, ""},
        {dir.file("broken.docx"), 0, ScanStatus::NoText, 0, "손상된 문서 (구조가 끝나지 않음)"},
        {dir.file("locked.xlsx"), 0, ScanStatus::NoText, 0, "문서를 읽지 못함 (손상되었거나 지원하지 않는 문서)"},
        {dir.file("slides.pptx"), 0, ScanStatus::NoText, 0, "이 형식을 읽는 기능이 없음"},
        {dir.file("gone.pdf"), 0, ScanStatus::NoText, 0, "파일을 찾을 수 없음"},
        {longName, 0, ScanStatus::NoText, 0, "경로가 너무 김"},
    };
    for (const auto& c : cases) {
        g_failure = c.failure;
        PersonalInfoCounts counts{};
        PersonalInfoHitList hits;
        EXPECT_EQ(FindPersonalInfoInFile(context, W(c.path), counts, 0xFFFF, nullptr, &hits), c.status) << c.path;
        // The part that was read is matched all the same.
        EXPECT_EQ(counts[kPersonalInfoResidentNumber], c.residents) << c.path;
        EXPECT_EQ(static_cast<int>(hits.size()), c.residents) << c.path;
        EXPECT_EQ(ListedReason(c.path), c.reason) << c.path;
        EXPECT_EQ(ScanLeftDocumentUnread(c.status), !c.reason.empty()) << c.path;
    }
}

// The search window's part of a walk: records and the end.
struct Window : search::WalkSink {
    std::mutex lock;
    std::condition_variable cv;
    std::vector<std::string> names;
    bool finished = false;
    bool AddFileInfo(std::unique_ptr<SearchFileInfo> owned) override
    {
        std::lock_guard<std::mutex> l(lock);
        names.push_back(plat::WideToUtf8(owned->FileName()));
        return true;
    }
    void FinishFileSearch() override
    {
        std::lock_guard<std::mutex> l(lock);
        finished = true;
        cv.notify_all();
    }
};

// Folders nested below parent until their path is longer than the system
// allows; returns the first one whose path is too long. Made through
// descriptors, since the deep paths themselves cannot be used.
std::string MakeDeepFolders(const std::string& parent, std::vector<std::string>& names)
{
    int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY);
    std::string path = parent;
    std::string tooLong;
    const std::string name(200, 'd');
    while (fd >= 0 && path.size() < 4400) {
        if (::mkdirat(fd, name.c_str(), 0700) != 0)
            break;
        names.push_back(name);
        path += "/" + name;
        if (tooLong.empty() && path.size() >= 4096)
            tooLong = path;
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    if (fd >= 0) {
        const int doc = ::openat(fd, "deep.doc", O_WRONLY | O_CREAT, 0600);
        if (doc >= 0) {
            (void)::write(doc, "x", 1);
            ::close(doc);
        }
        ::close(fd);
    }
    return tooLong;
}

void RemoveDeepFolders(const std::string& parent, size_t depth)
{
    if (depth == 0)
        return;
    const std::string name(200, 'd');
    // Down by descriptors, then up removing one level at a time.
    std::vector<int> fds{::open(parent.c_str(), O_RDONLY | O_DIRECTORY)};
    for (size_t i = 0; i + 1 < depth && fds.back() >= 0; ++i)
        fds.push_back(::openat(fds.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
    if (fds.back() >= 0) {
        const int last = ::openat(fds.back(), name.c_str(), O_RDONLY | O_DIRECTORY);
        if (last >= 0) {
            ::unlinkat(last, "deep.doc", 0);
            ::close(last);
        }
    }
    for (size_t i = fds.size(); i-- > 0;) {
        if (fds[i] >= 0) {
            ::unlinkat(fds[i], name.c_str(), AT_REMOVEDIR);
            ::close(fds[i]);
        }
    }
}

TEST(SearchIntegrity, TheWalkListsWhatItCannotOpen)
{
    ps_test::TempDir dir;
    const std::string root = dir.file("root");
    ASSERT_EQ(::mkdir(root.c_str(), 0700), 0);
    ASSERT_TRUE(ps_test::WriteFileBytes(root + "/plain.doc", "x"));
    std::vector<std::string> deep;
    const std::string tooLong = MakeDeepFolders(root, deep);
    ASSERT_FALSE(tooLong.empty());
    const bool privileged = ::geteuid() == 0;  // permissions do not stop root
    const std::string closed = root + "/closed";
    ASSERT_EQ(::mkdir(closed.c_str(), 0700), 0);
    ASSERT_TRUE(ps_test::WriteFileBytes(closed + "/inside.doc", "x"));
    const std::string blind = root + "/blind";  // listed but not searchable
    ASSERT_EQ(::mkdir(blind.c_str(), 0700), 0);
    ASSERT_TRUE(ps_test::WriteFileBytes(blind + "/unseen.doc", "x"));
    ASSERT_EQ(::chmod(closed.c_str(), 0), 0);
    ASSERT_EQ(::chmod(blind.c_str(), 0400), 0);

    Window w;
    CNTFSSearch engine;
    ASSERT_EQ(engine.StartRecursive(w, {u"DOC"}, {W(root)}), 1);
    {
        std::unique_lock<std::mutex> l(w.lock);
        ASSERT_TRUE(w.cv.wait_for(l, std::chrono::seconds(30), [&] { return w.finished; }));
    }
    int folders = 0;
    const int documents = engine.UnreadCount(&folders);
    EXPECT_EQ(CNTFSSearch().UnreadCount(), 0);  // another engine's search saw nothing
    EXPECT_EQ(ListedReason(tooLong), "경로가 너무 김");
    if (!privileged) {
        EXPECT_EQ(ListedReason(closed), "접근 권한 없음");
        EXPECT_EQ(ListedReason(blind + "/unseen.doc"), "접근 권한 없음");
        EXPECT_EQ(folders, 2);
        EXPECT_EQ(documents, 1);
    } else {
        EXPECT_EQ(folders, 1);
        EXPECT_EQ(documents, 0);
    }
    ::chmod(closed.c_str(), 0700);
    ::chmod(blind.c_str(), 0700);
    RemoveDeepFolders(root, deep.size());
}

// Names of a searched kind that are no regular files (pipes, sockets, links
// to devices, links in a loop or to nothing) are never read; the walk lists
// each in the error-file list with its reason and counts it, so that the
// unread count of the search equals the lines it wrote.
bool MakeSocket(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);  // the socket file stays
    return bound;
}

TEST(WalkSpecialFiles, EveryUnreadNameIsListedWithItsReasonAndCounted)
{
    ps_test::TempDir dir;
    const std::string root = dir.file("w");
    ASSERT_EQ(::mkdir(root.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((root + "/sub").c_str(), 0700), 0);
    ASSERT_TRUE(ps_test::WriteFileBytes(root + "/good.doc", "x"));
    ASSERT_EQ(::mkfifo((root + "/pipe.doc").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((root + "/pipe.txt").c_str(), 0600), 0);  // no searched kind
    ASSERT_TRUE(MakeSocket(root + "/sock.hwp"));
    ASSERT_EQ(::symlink("/dev/null", (root + "/null.pdf").c_str()), 0);
    ASSERT_EQ(::symlink("loop2.docx", (root + "/loop1.docx").c_str()), 0);
    ASSERT_EQ(::symlink("loop1.docx", (root + "/loop2.docx").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere.xlsx", (root + "/dangling.xlsx").c_str()), 0);
    // Links to a document or a folder: what they lead to is read where it lies.
    ASSERT_EQ(::symlink("good.doc", (root + "/alias.doc").c_str()), 0);
    ASSERT_EQ(::symlink("sub", (root + "/folder.ppt").c_str()), 0);

    Window w;
    CNTFSSearch engine;
    ASSERT_EQ(engine.StartRecursive(w, {u"DOC", u"DOCX", u"HWP", u"PDF", u"PPT", u"XLSX"},
                                    {plat::PathFromNative(root)}),
              1);
    {
        std::unique_lock<std::mutex> l(w.lock);
        ASSERT_TRUE(w.cv.wait_for(l, std::chrono::seconds(30), [&] { return w.finished; }));
        EXPECT_EQ(w.names, std::vector<std::string>{"good.doc"});
    }
    const struct {
        const char* name;
        const char* reason;  // "" when not listed
    } cases[] = {
        {"pipe.doc", "일반 파일이 아님"},
        {"sock.hwp", "일반 파일이 아님"},
        {"null.pdf", "일반 파일이 아님"},
        {"loop1.docx", "심볼릭 링크가 순환함"},
        {"loop2.docx", "심볼릭 링크가 순환함"},
        {"dangling.xlsx", "심볼릭 링크의 대상이 없음"},
        {"good.doc", ""},
        {"alias.doc", ""},
        {"folder.ppt", ""},
        {"pipe.txt", ""},
    };
    int listed = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(ListedReason(root + "/" + c.name), c.reason) << c.name;
        listed += c.reason[0] != 0;
    }
    int folders = -1;
    EXPECT_EQ(engine.UnreadCount(&folders), listed);
    EXPECT_EQ(folders, 0);
}

}  // namespace
