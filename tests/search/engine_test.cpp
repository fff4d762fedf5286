#include "search/engine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/system.h"
#include "platform/text.h"
#include "search/interim_drives.h"
#include "support/isolation.h"

namespace fs = std::filesystem;

namespace {

const std::vector<std::u16string> kExtensions = {u"DOC", u"DOCX", u"HWP", u"PDF",
                                                 u"PPT", u"PPTX", u"XLS", u"XLSX"};

// The search window's part: collects records, counts finish calls.
struct Window {
    std::mutex lock;
    std::condition_variable cv;
    std::vector<SearchFileInfo> files;
    int finished = 0;
    int stopAfter = 0;  // > 0: FileSearchStop once this many records arrived

    static int Add(SearchFileInfo* r, void* ctx)
    {
        auto* w = static_cast<Window*>(ctx);
        std::unique_ptr<SearchFileInfo> owned(r);
        bool stop;
        {
            std::lock_guard<std::mutex> l(w->lock);
            w->files.push_back(*owned);
            stop = w->stopAfter > 0 && static_cast<int>(w->files.size()) == w->stopAfter;
            w->cv.notify_all();
        }
        if (stop)
            FileSearchStop(ctx);
        return 1;
    }
    static void Finish(void* ctx)
    {
        auto* w = static_cast<Window*>(ctx);
        std::lock_guard<std::mutex> l(w->lock);
        ++w->finished;
        w->cv.notify_all();
    }
    bool WaitFinished(int n = 1)
    {
        std::unique_lock<std::mutex> l(lock);
        return cv.wait_for(l, std::chrono::seconds(20), [&] { return finished >= n; });
    }
    std::vector<std::string> Names()
    {
        std::lock_guard<std::mutex> l(lock);
        std::vector<std::string> out;
        for (auto& f : files)
            out.push_back(plat::WideToUtf8(f.fileName));
        std::sort(out.begin(), out.end());
        return out;
    }
};

void Put(const std::string& path, const std::string& bytes = "data")
{
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_TRUE(ps_test::WriteFileBytes(path, bytes));
}

std::u16string W(const std::string& s) { return plat::PathFromNative(s); }

// Ends every search of a test and forgets the engine.
struct EngineGuard {
    ~EngineGuard()
    {
        DeleteFileSearchEngine();
        FileSearchSetContextCheck(nullptr);
        FileSearchSetDriveProvider(nullptr);
    }
};

TEST(DirectoryWalk, ExtensionsTypesAndLinks)
{
    EngineGuard guard;
    ps_test::TempDir tmp;
    const std::string r = tmp.path();
    Put(r + "/a.doc");
    Put(r + "/b.Doc");
    Put(r + "/report.final.docx");
    Put(r + "/report.docx.bak");
    Put(r + "/notes. doc");
    Put(r + "/plain.txt");
    Put(r + "/noext");
    Put(r + "/empty.pdf", "");
    Put(r + "/.hidden/h.xlsx");
    Put(r + "/deep/er/still/c.HWP");
    Put(r + "/outside/linked.ppt");
    Put(r + "/raw\xff\xfe name.pdf");  // not UTF-8: reported and reopenable as it is
    ASSERT_EQ(mkfifo((r + "/pipe.doc").c_str(), 0600), 0);
    ASSERT_EQ(symlink((r + "/outside").c_str(), (r + "/deep/link-to-dir").c_str()), 0);
    ASSERT_EQ(symlink((r + "/a.doc").c_str(), (r + "/deep/link.doc").c_str()), 0);

    Window w;
    ASSERT_EQ(FileSearchStartRecursive(&w, Window::Add, Window::Finish, kExtensions, {W(r)}), 1);
    ASSERT_TRUE(w.WaitFinished());
    EXPECT_EQ(w.Names(), (std::vector<std::string>{"a.doc", "b.Doc", "c.HWP", "h.xlsx", "linked.ppt",
                                                   "raw\xff\xfe name.pdf", "report.final.docx"}));
    EXPECT_EQ(w.finished, 1);

    // The record's fields.
    std::lock_guard<std::mutex> l(w.lock);
    auto it = std::find_if(w.files.begin(), w.files.end(),
                           [](auto& f) { return f.fileName == u"c.HWP"; });
    ASSERT_NE(it, w.files.end());
    EXPECT_EQ(it->path, W(r + "/deep/er/still/c.HWP"));
    EXPECT_EQ(it->folder, W(r + "/deep/er/still"));
    EXPECT_EQ(it->fileSize, 4u);
    struct stat st;
    ASSERT_EQ(stat((r + "/deep/er/still/c.HWP").c_str(), &st), 0);
    EXPECT_EQ(it->lastWriteTime, plat::FileTimeFromTimespec(st.st_mtim));
    EXPECT_TRUE(it->documentKey.empty());
    EXPECT_EQ(it->fromEventStore, 0u);
    auto raw = std::find_if(w.files.begin(), w.files.end(),
                            [](auto& f) { return f.fileName.find(u'\xDCFF') != std::u16string::npos; });
    ASSERT_NE(raw, w.files.end());
    EXPECT_EQ(access(plat::PathToNative(raw->path).c_str(), R_OK), 0);
}

TEST(DirectoryWalk, NestedIncludesAreWalkedOnce)
{
    EngineGuard guard;
    ps_test::TempDir tmp;
    Put(tmp.file("users/public/p.doc"));
    Put(tmp.file("users/u.doc"));
    Window w;
    FileSearchStartRecursive(&w, Window::Add, Window::Finish, kExtensions,
                             {W(tmp.file("users/public")), W(tmp.file("users")),
                              W(tmp.file("users/public/"))});
    ASSERT_TRUE(w.WaitFinished());
    EXPECT_EQ(w.Names(), (std::vector<std::string>{"p.doc", "u.doc"}));
}

TEST(DirectoryWalk, StopDeepInTheTreeEndsTheWalk)
{
    EngineGuard guard;
    ps_test::TempDir tmp;
    for (int i = 0; i < 30; ++i)
        Put(tmp.file("a/b/c/d/f" + std::to_string(i) + ".doc"));
    Put(tmp.file("z/last.doc"));
    Window w;
    w.stopAfter = 3;
    FileSearchStartRecursive(&w, Window::Add, Window::Finish, kExtensions, {W(tmp.path())});
    {
        std::unique_lock<std::mutex> l(w.lock);
        ASSERT_TRUE(w.cv.wait_for(l, std::chrono::seconds(20), [&] { return w.files.size() >= 3; }));
    }
    // The walker ends without a finish call; deleting the engine waits for it.
    DeleteFileSearchEngine();
    EXPECT_EQ(w.files.size(), 3u);
    EXPECT_EQ(w.finished, 0);
}

TEST(DirectoryWalk, ContextWithoutWindowEndsTheWalk)
{
    EngineGuard guard;
    ps_test::TempDir tmp;
    Put(tmp.file("a.doc"));
    Put(tmp.file("b.doc"));
    FileSearchSetContextCheck([](void*) { return false; });
    Window w;
    FileSearchStartRecursive(&w, Window::Add, Window::Finish, kExtensions, {W(tmp.path())});
    ASSERT_TRUE(w.WaitFinished());
    EXPECT_TRUE(w.files.empty());
}

TEST(DirectoryWalk, ExtensionTest)
{
    EngineGuard guard;
    CNTFSSearch e;
    e.m_searchExtensions = kExtensions;
    Window w;
    // Stored through a search of nothing, so the engine's lists are set.
    e.StartRecursive(&w, Window::Add, Window::Finish, kExtensions, {});
    ASSERT_TRUE(w.WaitFinished());
    struct {
        const char16_t* name;
        int expected;
    } cases[] = {
        {u"a.doc", 1},         {u"/x/y/A.DOCX", 1},    {u"report.final.docx", 1},
        {u"report.docx.bak", 0}, {u"notes. doc", 0},  {u"notes.do c", 0},
        {u"doc", 0},           {u"/x.doc/file", 0},    {u"a.", 0},
        {u".pdf", 1},          {u"a.txt", 0},          {u"a.xlsxx", 0},
    };
    for (auto& c : cases)
        EXPECT_EQ(e.IsSearchExtension(c.name), c.expected) << plat::WideToUtf8(c.name);
}

// Whole-drive searches over drives that tests provide.
std::vector<std::u16string> g_drives;
std::vector<std::u16string> TestDrives() { return g_drives; }

TEST(WholeSearch, EveryDriveAndChosenFolders)
{
    EngineGuard guard;
    ps_test::TempDir tmp;
    Put(tmp.file("d1/one.doc"));
    Put(tmp.file("d2/two.doc"));
    Put(tmp.file("d2/docs/three.pdf"));
    Put(tmp.file("d3/four.doc"));
    g_drives = {W(tmp.file("d1")), W(tmp.file("d2")), W(tmp.file("d3"))};
    FileSearchSetDriveProvider(TestDrives);
    {
        Window w;
        ASSERT_EQ(FileSearchStart(&w, Window::Add, Window::Finish, kExtensions, {}), 1);
        ASSERT_TRUE(w.WaitFinished());
        EXPECT_EQ(w.Names(), (std::vector<std::string>{"four.doc", "one.doc", "three.pdf", "two.doc"}));
    }
    {
        // A drive root and a folder of another drive: both are searched.
        Window w;
        ASSERT_EQ(FileSearchStart(&w, Window::Add, Window::Finish, kExtensions,
                                  {W(tmp.file("d1/")), W(tmp.file("d2/docs"))}),
                  1);
        ASSERT_TRUE(w.WaitFinished());
        EXPECT_EQ(w.Names(), (std::vector<std::string>{"one.doc", "three.pdf"}));
    }
    // The finish callback comes exactly once per search, however the two
    // walkers end.
    for (int i = 0; i < 30; ++i) {
        Window w;
        ASSERT_EQ(FileSearchStart(&w, Window::Add, Window::Finish, kExtensions, {W(tmp.file("d3"))}), 1);
        ASSERT_TRUE(w.WaitFinished());
        DeleteFileSearchEngine();
        EXPECT_EQ(w.finished, 1);
        EXPECT_EQ(w.Names(), std::vector<std::string>{"four.doc"});
    }
}

std::atomic<int> g_providerCalls{0};
std::vector<std::u16string> DrivesWhileStopped()
{
    // A stop comes in from another thread while the drives are prepared.
    ++g_providerCalls;
    std::thread([] { FileSearchStop(nullptr); }).join();
    return g_drives;
}

TEST(WholeSearch, StopWhileDrivesArePreparedIsNotLost)
{
    EngineGuard guard;
    ps_test::TempDir tmp;
    Put(tmp.file("d1/one.doc"));
    g_drives = {W(tmp.file("d1"))};
    // Create the engine first, so that the stop finds it.
    FileSearchSetDriveProvider(TestDrives);
    Window first;
    FileSearchStart(&first, Window::Add, Window::Finish, kExtensions, {});
    ASSERT_TRUE(first.WaitFinished());

    FileSearchSetDriveProvider(DrivesWhileStopped);
    Window w;
    EXPECT_EQ(FileSearchStart(&w, Window::Add, Window::Finish, kExtensions, {}), 0);
    DeleteFileSearchEngine();
    EXPECT_EQ(g_providerCalls.load(), 1);
    EXPECT_TRUE(w.files.empty());
    EXPECT_EQ(w.finished, 0);

    // The next start clears the flag and searches again.
    FileSearchSetDriveProvider(TestDrives);
    Window again;
    EXPECT_EQ(FileSearchStart(&again, Window::Add, Window::Finish, kExtensions, {}), 1);
    ASSERT_TRUE(again.WaitFinished());
    EXPECT_EQ(again.Names(), std::vector<std::string>{"one.doc"});
}

TEST(WholeSearch, StopWithoutEngineDoesNothing)
{
    DeleteFileSearchEngine();
    FileSearchStop(nullptr);
    SUCCEED();
}

TEST(WholeSearch, DrivePlan)
{
    const std::vector<std::u16string> drives = {u"/", u"/home", u"/media/usb"};
    struct Case {
        std::vector<std::u16string> includes;
        std::vector<std::u16string> drives, folders;
    } cases[] = {
        {{}, {u"/", u"/home", u"/media/usb"}, {}},
        {{u"/home/"}, {u"/home"}, {}},
        {{u"/home", u"/srv/data"}, {u"/home"}, {u"/srv/data"}},
        {{u"/srv/data"}, {}, {u"/srv/data"}},
        {{u"/media/usb", u"/"}, {u"/", u"/media/usb"}, {}},
    };
    for (auto& c : cases) {
        DriveWalkPlan plan = PlanDriveWalk(drives, c.includes);
        EXPECT_EQ(plan.drives, c.drives);
        EXPECT_EQ(plan.folders, c.folders);
    }
}

TEST(InterimDrives, MountTable)
{
    const char* table =
        "22 1 0:21 / /proc rw,nosuid - proc proc rw\n"
        "23 1 0:22 / /sys rw - sysfs sysfs rw\n"
        "25 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n"
        "26 25 0:25 / /run rw - tmpfs tmpfs rw\n"
        "27 25 259:3 / /home rw shared:2 master:1 - ext4 /dev/nvme0n1p3 rw\n"
        "28 25 8:17 / /media/my\\040usb rw - vfat /dev/sdb1 rw\n"
        "29 25 259:3 / /home2 rw - ext4 /dev/nvme0n1p3 rw\n"
        "30 25 259:3 /user/data /data rw - ext4 /dev/nvme0n1p3 rw\n"
        "31 25 0:40 / /mnt/share rw - cifs //server/share rw\n"
        "broken line\n";
    EXPECT_EQ(ParseInterimDriveRoots(table),
              (std::vector<std::u16string>{u"/", u"/home", u"/media/my usb", u"/data", u"/mnt/share"}));
    // The real table of this machine parses and holds a root.
    EXPECT_FALSE(InterimWalkableDriveRoots().empty());
}

}  // namespace
