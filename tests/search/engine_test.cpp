#include "search/engine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "ntfs_image.h"
#include "platform/system.h"
#include "platform/text.h"
#include "search/drives.h"
#include "support/isolation.h"

namespace fs = std::filesystem;

namespace {

const std::vector<std::u16string> kExtensions = {u"DOC", u"DOCX", u"HWP", u"PDF",
                                                 u"PPT", u"PPTX", u"XLS", u"XLSX"};

// The session's part: collects records, counts finish calls.
struct Window : search::WalkSink {
    std::mutex lock;
    std::condition_variable cv;
    std::vector<SearchFileInfo> files;
    int finished = 0;
    int stopAfter = 0;  // > 0: stop the engine once this many records arrived
    bool alive = true;  // false: the receiver is gone, every record refused
    CNTFSSearch* engine = nullptr;

    bool AddFileInfo(std::unique_ptr<SearchFileInfo> owned) override
    {
        if (!alive)
            return false;
        bool stop;
        {
            std::lock_guard<std::mutex> l(lock);
            files.push_back(*owned);
            stop = stopAfter > 0 && static_cast<int>(files.size()) == stopAfter;
            cv.notify_all();
        }
        if (stop)
            engine->Stop();
        return true;
    }
    void FinishFileSearch() override
    {
        std::lock_guard<std::mutex> l(lock);
        ++finished;
        cv.notify_all();
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
            out.push_back(plat::WideToUtf8(f.FileName()));
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

// The engine of a test: made at its first use (with the test's drives),
// deleted by Delete (which waits for its walkers) and at the test's end.
struct EngineGuard {
    std::unique_ptr<CNTFSSearch> engine;
    std::function<search::DriveEnvironment()> drives;

    CNTFSSearch& Engine()
    {
        if (!engine) {
            engine = std::make_unique<CNTFSSearch>();
            engine->SetDriveProvider(drives);
        }
        return *engine;
    }
    void SetDriveProvider(std::function<search::DriveEnvironment()> provider)
    {
        drives = std::move(provider);
        if (engine)
            engine->SetDriveProvider(drives);
    }
    int Start(Window& w, std::vector<std::u16string> extensions, std::vector<std::u16string> includes)
    {
        w.engine = &Engine();
        return w.engine->Start(w, std::move(extensions), std::move(includes));
    }
    int StartRecursive(Window& w, std::vector<std::u16string> extensions,
                       std::vector<std::u16string> includes)
    {
        w.engine = &Engine();
        return w.engine->StartRecursive(w, std::move(extensions), std::move(includes));
    }
    void Stop()
    {
        if (engine)
            engine->Stop();
    }
    void Delete() { engine.reset(); }
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
    ASSERT_EQ(guard.StartRecursive(w, kExtensions, {W(r)}), 1);
    ASSERT_TRUE(w.WaitFinished());
    EXPECT_EQ(w.Names(), (std::vector<std::string>{"a.doc", "b.Doc", "c.HWP", "h.xlsx", "linked.ppt",
                                                   "raw\xff\xfe name.pdf", "report.final.docx"}));
    EXPECT_EQ(w.finished, 1);

    // The record's fields.
    std::lock_guard<std::mutex> l(w.lock);
    auto it = std::find_if(w.files.begin(), w.files.end(),
                           [](auto& f) { return f.FileName() == u"c.HWP"; });
    ASSERT_NE(it, w.files.end());
    EXPECT_EQ(it->path, W(r + "/deep/er/still/c.HWP"));
    EXPECT_EQ(it->Folder(), W(r + "/deep/er/still"));
    EXPECT_EQ(it->fileSize, 4u);
    struct stat st;
    ASSERT_EQ(stat((r + "/deep/er/still/c.HWP").c_str(), &st), 0);
    EXPECT_EQ(it->lastWriteTime, plat::FileTimeFromTimespec(st.st_mtim));
    EXPECT_TRUE(it->documentKey.empty());
    EXPECT_EQ(it->fromEventStore, 0u);
    auto raw = std::find_if(w.files.begin(), w.files.end(),
                            [](auto& f) { return f.FileName().find(u'\xDCFF') != std::u16string::npos; });
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
    guard.StartRecursive(w, kExtensions,
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
    guard.StartRecursive(w, kExtensions, {W(tmp.path())});
    {
        std::unique_lock<std::mutex> l(w.lock);
        ASSERT_TRUE(w.cv.wait_for(l, std::chrono::seconds(20), [&] { return w.files.size() >= 3; }));
    }
    // The walker ends without a finish call; deleting the engine waits for it.
    guard.Delete();
    EXPECT_EQ(w.files.size(), 3u);
    EXPECT_EQ(w.finished, 0);
}

TEST(DirectoryWalk, ContextWithoutWindowEndsTheWalk)
{
    EngineGuard guard;
    ps_test::TempDir tmp;
    Put(tmp.file("a.doc"));
    Put(tmp.file("b.doc"));
    Window w;
    w.alive = false;
    guard.StartRecursive(w, kExtensions, {W(tmp.path())});
    ASSERT_TRUE(w.WaitFinished());
    EXPECT_TRUE(w.files.empty());
}

TEST(DirectoryWalk, ExtensionTest)
{
    EngineGuard guard;
    CNTFSSearch e;
    e.m_searchExtensions = kExtensions;
    Window w;
    w.engine = &e;
    // Stored through a search of nothing, so the engine's lists are set.
    e.StartRecursive(w, kExtensions, {});
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

// Mount tables of the tests. Fields are escaped as the kernel does.
std::string MountField(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03o", static_cast<unsigned char>(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

std::string MountLine(int id, const std::string& device, const std::string& mountPoint,
                      const std::string& fsType, const std::string& source)
{
    return std::to_string(id) + " 1 " + device + " / " + MountField(mountPoint) + " rw - " + fsType +
           " " + source + " rw\n";
}

// Folders standing in for drives: local file systems without a device of
// their own, so they are walked by directory.
search::DriveEnvironment FolderDrives(const std::vector<std::string>& folders)
{
    search::DriveEnvironment env;
    for (size_t i = 0; i < folders.size(); ++i)
        env.mountInfo += MountLine(static_cast<int>(10 + i), "0:" + std::to_string(100 + i),
                                   folders[i], "ext4", "none");
    env.sysfsRoot = "/nonexistent/sys";
    env.devRoot = "/nonexistent/dev";
    env.openVolume = [](const std::string&) { return nullptr; };  // no device is read
    return env;
}

// Whole-drive searches over drives that tests provide.
std::vector<std::string> g_drives;
search::DriveEnvironment TestDrives() { return FolderDrives(g_drives); }

TEST(WholeSearch, EveryDriveAndChosenFolders)
{
    EngineGuard guard;
    ps_test::TempDir tmp;
    Put(tmp.file("d1/one.doc"));
    Put(tmp.file("d2/two.doc"));
    Put(tmp.file("d2/docs/three.pdf"));
    Put(tmp.file("d3/four.doc"));
    g_drives = {tmp.file("d1"), tmp.file("d2"), tmp.file("d3")};
    guard.SetDriveProvider(TestDrives);
    {
        Window w;
        ASSERT_EQ(guard.Start(w, kExtensions, {}), 1);
        ASSERT_TRUE(w.WaitFinished());
        EXPECT_EQ(w.Names(), (std::vector<std::string>{"four.doc", "one.doc", "three.pdf", "two.doc"}));
    }
    {
        // A drive root and a folder of another drive: both are searched.
        Window w;
        ASSERT_EQ(guard.Start(w, kExtensions,
                                  {W(tmp.file("d1/")), W(tmp.file("d2/docs"))}),
                  1);
        ASSERT_TRUE(w.WaitFinished());
        EXPECT_EQ(w.Names(), (std::vector<std::string>{"one.doc", "three.pdf"}));
    }
    // The finish callback comes exactly once per search, however the two
    // walkers end.
    for (int i = 0; i < 30; ++i) {
        Window w;
        ASSERT_EQ(guard.Start(w, kExtensions, {W(tmp.file("d3"))}), 1);
        ASSERT_TRUE(w.WaitFinished());
        guard.Delete();
        EXPECT_EQ(w.finished, 1);
        EXPECT_EQ(w.Names(), std::vector<std::string>{"four.doc"});
    }
}

std::atomic<int> g_providerCalls{0};
CNTFSSearch* g_stopped = nullptr;
search::DriveEnvironment DrivesWhileStopped()
{
    // A stop comes in from another thread while the drives are prepared.
    ++g_providerCalls;
    std::thread([] { g_stopped->Stop(); }).join();
    return TestDrives();
}

TEST(WholeSearch, StopWhileDrivesArePreparedIsNotLost)
{
    EngineGuard guard;
    g_providerCalls = 0;
    ps_test::TempDir tmp;
    Put(tmp.file("d1/one.doc"));
    g_drives = {tmp.file("d1")};
    // Create the engine first, so that the stop finds it.
    guard.SetDriveProvider(TestDrives);
    Window first;
    guard.Start(first, kExtensions, {});
    ASSERT_TRUE(first.WaitFinished());

    guard.SetDriveProvider(DrivesWhileStopped);
    g_stopped = &guard.Engine();
    Window w;
    EXPECT_EQ(guard.Start(w, kExtensions, {}), 0);
    guard.Delete();
    EXPECT_EQ(g_providerCalls.load(), 1);
    EXPECT_TRUE(w.files.empty());
    EXPECT_EQ(w.finished, 0);

    // The next start clears the flag and searches again.
    guard.SetDriveProvider(TestDrives);
    Window again;
    EXPECT_EQ(guard.Start(again, kExtensions, {}), 1);
    ASSERT_TRUE(again.WaitFinished());
    EXPECT_EQ(again.Names(), std::vector<std::string>{"one.doc"});
}

TEST(WholeSearch, StopWithoutEngineDoesNothing)
{
    CNTFSSearch e;
    e.Stop();
    EXPECT_EQ(e.UnreadCount(), 0);
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

// ---- Whole-computer searches over an NTFS volume read through its table
// and a drive walked by directory.

#define SKIP_WITHOUT_NTFS_TOOLS() \
    if (!ps_test::HaveNtfsTools()) GTEST_SKIP() << "ntfs-3g tools not installed"

// How the NTFS drive's device looks to the search.
enum class Device { Image, Missing, NotNtfs };

// A machine of two drives: a SATA disk partition holding NTFS (its device is
// an image made with the ntfs-3g tools, its mount point a folder holding the
// same tree, standing in for the mounted volume) and a folder drive without a
// device of its own.
class TwoDriveMachine {
public:
    TwoDriveMachine()
        : image(tmp_.file("volume.img")), mount(tmp_.file("mnt")), walk(tmp_.file("walk")),
          sys_(tmp_.file("sys")), dev_(tmp_.file("dev"))
    {
        // sysfs: sda on an ATA port, not removable, with one partition 8:1.
        const std::string disk =
            sys_ + "/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda";
        const std::string part = disk + "/sda1";
        fs::create_directories(part);
        fs::create_directories(sys_ + "/dev/block");
        fs::create_directories(sys_ + "/class/block");
        fs::create_directories(dev_);
        ps_test::WriteFileBytes(disk + "/removable", "0\n");
        ps_test::WriteFileBytes(part + "/partition", "1\n");
        fs::create_directory_symlink(part, sys_ + "/dev/block/8:1");
        fs::create_directory_symlink(part, sys_ + "/class/block/sda1");
    }

    // Makes the image with the tree and the mounted folder with the same
    // files. False when the image cannot be made.
    bool Build(const std::vector<ps_test::ImageEntry>& tree, uint64_t bytes = 16 << 20)
    {
        if (!ps_test::MakeNtfsImage(image, bytes) || !ps_test::PopulateNtfsImage(image, tree))
            return false;
        for (const ps_test::ImageEntry& e : tree) {
            const std::string path = mount + "/" + e.path;
            if (e.folder) {
                fs::create_directories(path);
            } else {
                fs::create_directories(fs::path(path).parent_path());
                if (!ps_test::WriteFileBytes(path, std::string(static_cast<size_t>(e.size), 'x')))
                    return false;
            }
        }
        fs::create_directories(walk);
        return true;
    }

    void SetDevice(Device device)
    {
        const std::string node = dev_ + "/sda1";
        fs::remove(node);
        if (device == Device::Image)
            fs::create_symlink(image, node);
        else if (device == Device::NotNtfs)
            ps_test::WriteFileBytes(node, std::string(1 << 20, '\0'));
    }

    // The mount table: the NTFS partition, and the folder drive unless left out.
    search::DriveEnvironment Environment(bool withFolderDrive = true) const
    {
        search::DriveEnvironment env;
        if (withFolderDrive)
            env.mountInfo += MountLine(20, "0:140", walk, "ext4", "none");
        env.mountInfo += MountLine(21, "8:1", mount, "ntfs3", "/dev/sda1");
        env.sysfsRoot = sys_;
        env.devRoot = dev_;  // the default opener reads the device node there
        return env;
    }

private:
    ps_test::TempDir tmp_;

public:
    const std::string image, mount, walk;

private:
    const std::string sys_, dev_;
};

std::vector<std::string> Paths(Window& w)
{
    std::lock_guard<std::mutex> l(w.lock);
    std::vector<std::string> out;
    for (auto& f : w.files)
        out.push_back(plat::PathToNative(f.path));
    std::sort(out.begin(), out.end());
    return out;
}

// Runs one whole search to its end; the engine is deleted afterwards so that
// a late second finish call would be seen.
void SearchToEnd(EngineGuard& guard, Window& w, std::vector<std::u16string> includes = {},
                 bool keepEngine = false)
{
    ASSERT_EQ(guard.Start(w, kExtensions, std::move(includes)), 1);
    ASSERT_TRUE(w.WaitFinished());
    if (!keepEngine)
        guard.Delete();
    EXPECT_EQ(w.finished, 1);
}

TEST(NtfsSearch, TableAndDirectoryWalkReportEveryFileOnce)
{
    SKIP_WITHOUT_NTFS_TOOLS();
    EngineGuard guard;
    TwoDriveMachine m;
    const bool nested = ps_test::HaveNtfsLibrary();
    std::vector<ps_test::ImageEntry> tree = {
        {"report.pdf", 3000}, {"급여명세서.HWP", 700}, {"notes.txt", 50},
        {"empty.doc", 0},     {"gone.pdf", 10},
    };
    if (nested) {
        tree.push_back({"Docs", 0, true});
        tree.push_back({"Docs/plan.docx", 1200});
        tree.push_back({"Docs/2024/deep.xls", 99});
    }
    ASSERT_TRUE(m.Build(tree));
    // Changed on the mounted volume since the table was written: a file
    // deleted, and one created that the table does not know.
    fs::remove(m.mount + "/gone.pdf");
    Put(m.mount + "/extra.doc", "new");
    Put(m.walk + "/w1.doc", "walked");
    Put(m.walk + "/sub/w2.xlsx", "walked too");
    Put(m.walk + "/skip.txt");
    search::DriveEnvironment env = m.Environment();
    guard.SetDriveProvider([env] { return env; });

    std::vector<std::string> fromTable = {m.mount + "/report.pdf", m.mount + "/급여명세서.HWP"};
    if (nested) {
        fromTable.push_back(m.mount + "/Docs/plan.docx");
        fromTable.push_back(m.mount + "/Docs/2024/deep.xls");
    }
    const std::vector<std::string> walked = {m.walk + "/sub/w2.xlsx", m.walk + "/w1.doc"};
    auto sorted = [](std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    };

    struct Case {
        const char* what;
        Device device;
        bool readThroughTable;  // else the NTFS drive is walked by directory
    } cases[] = {
        {"device read through its table", Device::Image, true},
        {"device cannot be opened", Device::Missing, false},
        {"device is not NTFS", Device::NotNtfs, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m.SetDevice(c.device);
        std::vector<std::string> expected = walked;
        expected.insert(expected.end(), fromTable.begin(), fromTable.end());
        if (!c.readThroughTable)
            expected.push_back(m.mount + "/extra.doc");
        // A second search in the same run reads the table again.
        for (int run = 0; run < 2; ++run) {
            Window w;
            SearchToEnd(guard, w, {}, run == 0);
            EXPECT_EQ(Paths(w), sorted(expected));
        }
    }

    // The record of a file listed from the table: split path, size and time
    // from the file system.
    m.SetDevice(Device::Image);
    Window w;
    SearchToEnd(guard, w);
    std::lock_guard<std::mutex> l(w.lock);
    auto it = std::find_if(w.files.begin(), w.files.end(),
                           [](auto& f) { return f.FileName() == u"report.pdf"; });
    ASSERT_NE(it, w.files.end());
    EXPECT_EQ(it->path, W(m.mount + "/report.pdf"));
    EXPECT_EQ(it->Folder(), W(m.mount));
    EXPECT_EQ(it->fileSize, 3000u);
    struct stat st;
    ASSERT_EQ(stat((m.mount + "/report.pdf").c_str(), &st), 0);
    EXPECT_EQ(it->lastWriteTime, plat::FileTimeFromTimespec(st.st_mtim));
    EXPECT_TRUE(it->documentKey.empty());
    EXPECT_EQ(it->fromEventStore, 0u);
}

TEST(NtfsSearch, ChosenDrivesAndFolders)
{
    SKIP_WITHOUT_NTFS_TOOLS();
    if (!ps_test::HaveNtfsLibrary())
        GTEST_SKIP() << "nested folders need libntfs-3g";
    EngineGuard guard;
    TwoDriveMachine m;
    ASSERT_TRUE(m.Build({{"top.doc", 10}, {"Docs", 0, true}, {"Docs/a.pdf", 20}, {"Other/b.ppt", 30}}));
    m.SetDevice(Device::Image);
    Put(m.walk + "/w.doc");
    search::DriveEnvironment env = m.Environment();
    guard.SetDriveProvider([env] { return env; });

    struct Case {
        const char* what;
        std::vector<std::string> includes;
        std::vector<std::string> expected;
    } cases[] = {
        {"the NTFS drive alone", {m.mount + "/"}, {"/mnt/Docs/a.pdf", "/mnt/Other/b.ppt", "/mnt/top.doc"}},
        {"the folder drive alone", {m.walk}, {"/walk/w.doc"}},
        // A folder of a drive that is not chosen is walked; one of a drive
        // listed whole through its table is not walked again.
        {"a folder of the NTFS drive", {m.walk, m.mount + "/Docs"}, {"/mnt/Docs/a.pdf", "/walk/w.doc"}},
        {"the NTFS drive and a folder of it",
         {m.mount + "/Docs", m.mount},
         {"/mnt/Docs/a.pdf", "/mnt/Other/b.ppt", "/mnt/top.doc"}},
    };
    const std::string base = fs::path(m.mount).parent_path().string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::u16string> includes;
        for (const std::string& i : c.includes)
            includes.push_back(W(i));
        Window w;
        SearchToEnd(guard, w, includes);
        std::vector<std::string> expected;
        for (const std::string& e : c.expected)
            expected.push_back(base + e);
        EXPECT_EQ(Paths(w), expected);
    }
}

TEST(NtfsSearch, StopWhileTheTableIsListed)
{
    SKIP_WITHOUT_NTFS_TOOLS();
    EngineGuard guard;
    TwoDriveMachine m;
    std::vector<ps_test::ImageEntry> tree;
    for (int i = 0; i < 40; ++i)
        tree.push_back({"f" + std::to_string(i) + ".doc", 100});
    ASSERT_TRUE(m.Build(tree));
    m.SetDevice(Device::Image);
    for (int i = 0; i < 40; ++i)
        Put(m.walk + "/w" + std::to_string(i) + ".doc");

    // The NTFS drive alone: only the table walker runs, and the stop ends it
    // at once, without a finish call.
    search::DriveEnvironment ntfsOnly = m.Environment(false);
    guard.SetDriveProvider([ntfsOnly] { return ntfsOnly; });
    {
        Window w;
        w.stopAfter = 3;
        ASSERT_EQ(guard.Start(w, kExtensions, {}), 1);
        {
            std::unique_lock<std::mutex> l(w.lock);
            ASSERT_TRUE(w.cv.wait_for(l, std::chrono::seconds(20), [&] { return w.files.size() >= 3; }));
        }
        guard.Stop();
        EXPECT_EQ(w.files.size(), 3u);
        EXPECT_EQ(w.finished, 0);
    }
    {
        // The next start clears the stop; the table walker, alone, ends the
        // search itself.
        Window w;
        SearchToEnd(guard, w);
        EXPECT_EQ(Paths(w).size(), 40u);
    }
    // Both walkers: the stop from one ends both; no finish call, nothing twice.
    search::DriveEnvironment both = m.Environment(true);
    guard.SetDriveProvider([both] { return both; });
    {
        Window w;
        w.stopAfter = 5;
        ASSERT_EQ(guard.Start(w, kExtensions, {}), 1);
        {
            std::unique_lock<std::mutex> l(w.lock);
            ASSERT_TRUE(w.cv.wait_for(l, std::chrono::seconds(20), [&] { return w.files.size() >= 5; }));
        }
        // The engine is kept: the next search clears the stop.
        guard.Stop();
        std::vector<std::string> paths = Paths(w);
        EXPECT_GE(paths.size(), 5u);
        EXPECT_LT(paths.size(), 80u);
        EXPECT_EQ(std::adjacent_find(paths.begin(), paths.end()), paths.end());
        EXPECT_EQ(w.finished, 0);
    }
    Window again;
    SearchToEnd(guard, again);
    EXPECT_EQ(Paths(again).size(), 80u);
    std::vector<std::string> paths = Paths(again);
    EXPECT_EQ(std::adjacent_find(paths.begin(), paths.end()), paths.end());
}

}  // namespace
