// Names of a searched kind that are no regular files (pipes, sockets, links
// to devices, links in a loop or to nothing) are never read; the walk lists
// each in the error-file list with its reason and counts it, so that the
// unread count of the search equals the lines it wrote.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/text.h"
#include "search/engine.h"
#include "support/isolation.h"

namespace {

std::string TodaysErrorList()
{
    const plat::LocalTime t = plat::LocalTimeNow();
    char day[16];
    std::snprintf(day, sizeof day, "%04d%02d%02d", t.year, t.month, t.day);
    return ps_test::ReadFileBytes(plat::PathToNative(plat::DocumentsDir()) +
                                  "/Privasweep/PrivasweepErrorFile/" + day + "/PrivasweepErrFileList.txt");
}

// The reason listed for path ("" when the path is not listed).
std::string ListedReason(const std::string& list, const std::string& path)
{
    const std::string key = "] " + path + "\t";
    size_t at = list.rfind(key);
    if (at == std::string::npos)
        return {};
    at += key.size();
    return list.substr(at, list.find("\r\n", at) - at);
}

struct Window : search::WalkSink {
    std::mutex lock;
    std::condition_variable cv;
    std::vector<std::string> names;
    bool finished = false;
    bool AddFileInfo(std::unique_ptr<SearchFileInfo> owned) override
    {
        std::lock_guard<std::mutex> l(lock);
        names.push_back(plat::WideToUtf8(owned->fileName));
        return true;
    }
    void FinishFileSearch() override
    {
        std::lock_guard<std::mutex> l(lock);
        finished = true;
        cv.notify_all();
    }
};

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
    const std::string list = TodaysErrorList();
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
        EXPECT_EQ(ListedReason(list, root + "/" + c.name), c.reason) << c.name;
        listed += c.reason[0] != 0;
    }
    int folders = -1;
    EXPECT_EQ(engine.UnreadCount(&folders), listed);
    EXPECT_EQ(folders, 0);
}

}  // namespace
