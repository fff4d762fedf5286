#include "search/engine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>

#include "core/logmgr.h"
#include "core/util.h"
#include "platform/docfile.h"
#include "platform/system.h"
#include "platform/text.h"
#include "search/extractors.h"
#include "search/scan.h"

namespace {

// Vanished between the listing and the look, or a link put in its place:
// nothing that was found is lost.
bool WalkMayPassOver(int error) { return error == ENOENT || error == ELOOP || error == ENOTDIR; }
unsigned Hex32(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

// A path without its trailing separators ("/" stays).
std::u16string Trimmed(std::u16string p)
{
    while (p.size() > 1 && p.back() == u'/')
        p.pop_back();
    return p;
}

// True when `path` is `root` or lies below it (both without trailing '/').
bool IsAtOrUnder(const std::u16string& path, const std::u16string& root)
{
    if (root == u"/")
        return !path.empty() && path[0] == u'/';
    return path.size() >= root.size() && path.compare(0, root.size(), root) == 0 &&
           (path.size() == root.size() || path[root.size()] == u'/');
}

std::string JoinNative(const std::string& folder, const char* name)
{
    std::string full = folder;
    if (full.empty() || full.back() != '/')
        full += '/';
    full += name;
    return full;
}

// The extension of a file name for the walk: after the last '.', none when a
// space follows that '.', upper case.
std::string_view RawExtension(std::string_view name)
{
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    std::string_view ext = name.substr(dot + 1);
    if (ext.find(' ') != std::string_view::npos)
        return {};
    return ext;
}

constexpr size_t kMaxExtension = 16;

}  // namespace

// ---------------------------------------------------------------------------

CNTFSSearch::CNTFSSearch() : m_ownScanContext(std::make_unique<ScanContext>()) {}

ScanContext& CNTFSSearch::ErrorListContext()
{
    return m_scanContext ? *m_scanContext : *m_ownScanContext;
}

// The walk found a document or a folder it cannot read: the day's
// error-file list has it with its reason, and the search counts it.
void CNTFSSearch::ReportUnreadable(const std::string& nativePath, int error, bool folder)
{
    PsDocOpenError reason = kDocOpenFailed;
    if (error == EACCES || error == EPERM)
        reason = kDocOpenNoAccess;
    else if (error == ENAMETOOLONG)
        reason = kDocOpenNameTooLong;
    WriteErrorFileList(ErrorListContext(), plat::PathFromNative(nativePath), DocumentOpenFailureText(reason));
    ++(folder ? m_unreadFolders : m_unreadDocuments);
}

// A name of a searched kind that is no regular file: a pipe, socket or
// device, or a link. Links are not followed by the walk: one that leads to a
// document or a folder is passed over (what it leads to is read where it
// lies); one in a loop, to nothing, or to a pipe or device is listed with its
// reason and counted, as is every other name that is no regular file.
void CNTFSSearch::ReportNotRegular(int dirFd, const std::string& folder, const char* name,
                                   unsigned char type)
{
    const char16_t* reason = u"일반 파일이 아님";
    if (type == DT_LNK) {
        struct stat target;
        if (fstatat(dirFd, name, &target, 0) == 0) {
            if (S_ISREG(target.st_mode) || S_ISDIR(target.st_mode))
                return;
        } else if (errno == ELOOP) {
            reason = u"심볼릭 링크가 순환함";
        } else if (errno == ENOENT || errno == ENOTDIR) {
            reason = u"심볼릭 링크의 대상이 없음";
        } else {
            reason = u"파일을 열 수 없음";
        }
    }
    WriteErrorFileList(ErrorListContext(), plat::PathFromNative(JoinNative(folder, name)), reason);
    ++m_unreadDocuments;
}

int CNTFSSearch::UnreadCount(int* folders) const
{
    if (folders)
        *folders = m_unreadFolders.load();
    return m_unreadDocuments.load();
}

void CNTFSSearch::SetDriveProvider(std::function<search::DriveEnvironment()> provider)
{
    std::lock_guard<plat::RankedMutex> lock(m_providerLock);
    m_driveProvider = std::move(provider);
}

search::DriveEnvironment CNTFSSearch::CurrentDriveEnvironment() const
{
    std::function<search::DriveEnvironment()> provider;
    {
        std::lock_guard<plat::RankedMutex> lock(m_providerLock);
        provider = m_driveProvider;
    }
    return provider ? provider() : search::SystemDriveEnvironment();
}

CNTFSSearch::~CNTFSSearch()
{
    m_bIsTerminateSearch = 1;
    std::lock_guard<plat::RankedMutex> lock(m_control);
    JoinAll();
}

void CNTFSSearch::JoinAll()
{
    for (std::thread* t : {&m_hSearchThread, &m_hOtherSearchThread, &m_hRecursiveSearchThread}) {
        if (!t->joinable())
            continue;
        // A callback that starts or stops the engine runs on a walker.
        if (t->get_id() == std::this_thread::get_id())
            t->detach();
        else
            t->join();
    }
}

void CNTFSSearch::WalkerEnded()
{
    std::lock_guard<plat::RankedMutex> lock(m_runLock);
    --m_running;
    m_runEnded.notify_all();
}

template <typename Body>
int CNTFSSearch::Launch(std::thread& slot, Body body)
{
    {
        std::lock_guard<plat::RankedMutex> lock(m_runLock);
        ++m_running;
    }
    try {
        slot = std::thread([this, body] {
            body();
            WalkerEnded();
        });
    } catch (const std::system_error&) {
        WalkerEnded();
        return 0;
    }
    return 1;
}

int CNTFSSearch::StartSearch()
{
    SearchLog().Write(u"StartSearch.");
    int ok = Launch(m_hSearchThread, [this] {
        SearchLog().Write(u"StartNTFSSearch() Start.");
        StartNTFSSearch();
        SearchLog().Write(u"StartNTFSSearch() End.");
    });
    SearchLog().Write(u"ThreadFunc Info[0x%08X : %d]", ok ? 1u : 0u, 0);
    return ok;
}

int CNTFSSearch::StartOtherSearch()
{
    SearchLog().Write(u"StartOtherSearch.");
    int ok = Launch(m_hOtherSearchThread, [this] {
        SearchLog().Write(u"StartOtherFSSearch() Start.");
        StartOtherFSSearch();
        SearchLog().Write(u"StartOtherFSSearch() End.");
    });
    SearchLog().Write(u"ThreadOtherFSFunc Info[0x%08X : %d]", ok ? 1u : 0u, 0);
    return ok;
}

int CNTFSSearch::StartSearchRecursive()
{
    SearchLog().Write(u"StartSearchRecursive.");
    int ok = Launch(m_hRecursiveSearchThread, [this] {
        SearchLog().Write(u"StartNTFSSearchRecursive() Start.");
        StartNTFSSearchRecursive();
        SearchLog().Write(u"StartNTFSSearchRecursive() End.");
    });
    SearchLog().Write(u"ThreadFuncRecursive Info[0x%08X : %d]", ok ? 1u : 0u, 0);
    return ok;
}

void CNTFSSearch::StoreSearch(search::WalkSink& sink, std::vector<std::u16string> extensions,
                              std::vector<std::u16string> includes)
{
    for (const std::u16string& e : extensions)
        SearchLog().Write(u"searchExt(%s)", e.c_str());
    m_sink = &sink;
    m_unreadDocuments = 0;
    m_unreadFolders = 0;
    m_searchExtensions = std::move(extensions);
    m_includePaths = std::move(includes);
    m_extNative.clear();
    for (const std::u16string& e : m_searchExtensions)
        m_extNative.push_back(plat::PathToNative(e));
    std::sort(m_extNative.begin(), m_extNative.end());
}

int CNTFSSearch::ClassifyDrives()
{
    // Raw-read NTFS volumes go to m_volumes (replacing those of an earlier
    // search), every other searchable drive to the directory walk.
    search::DriveEnvironment env = CurrentDriveEnvironment();
    std::vector<search::DriveInfo> others;
    int result = search::CheckDrives(env, others, m_volumes);
    for (search::DriveInfo& d : others)
        m_otherDrives.push_back(
            std::make_unique<OtherDriveEntry>(OtherDriveEntry{std::move(d.rootPath)}));
    return result;
}

void CNTFSSearch::PlanWalks()
{
    std::vector<std::u16string> roots;
    for (const auto& v : m_volumes)
        roots.push_back(v.first);
    for (const auto& d : m_otherDrives)
        if (!m_volumes.count(d->rootPath))
            roots.push_back(d->rootPath);
    DriveWalkPlan plan = PlanDriveWalk(roots, m_includePaths);
    m_volumeRoots.clear();
    m_walkDrives.clear();
    m_walkFolders.clear();
    for (std::u16string& r : plan.drives)
        (m_volumes.count(r) ? m_volumeRoots : m_walkDrives).push_back(std::move(r));
    // A chosen folder on a volume that is listed whole through its table is
    // not walked again. The drive a folder lies on is the deepest root above it.
    for (std::u16string& folder : plan.folders) {
        const std::u16string f = Trimmed(folder);
        std::u16string drive;
        for (const std::u16string& r : roots) {
            std::u16string t = Trimmed(r);
            if (IsAtOrUnder(f, t) && (drive.empty() || t.size() > Trimmed(drive).size()))
                drive = r;
        }
        if (!drive.empty() &&
            std::find(m_volumeRoots.begin(), m_volumeRoots.end(), drive) != m_volumeRoots.end())
            continue;
        m_walkFolders.push_back(std::move(folder));
    }
}

int CNTFSSearch::Start(search::WalkSink& sink, std::vector<std::u16string> extensions,
                       std::vector<std::u16string> includes)
{
    SearchLog().Write(u"FileSearchStart[0x%08X]", Hex32(&sink));
    std::lock_guard<plat::RankedMutex> lock(m_control);
    JoinAll();  // the walkers of the previous search end first
    // Cleared before the drives are prepared, so that a stop coming in while
    // they are is seen below and not lost.
    m_bIsTerminateSearch = 0;
    StoreSearch(sink, std::move(extensions), std::move(includes));
    m_otherDrives.clear();
    int result = ClassifyDrives();
    switch (result) {
    case 0: SearchLog().Write(u"ALL_DRIVERS_NTFS"); break;
    case 1: SearchLog().Write(u"DRIVERS_NTFS"); break;
    case 2: SearchLog().Write(u"DRIVERS_NOT_NTFS"); break;
    default: SearchLog().Write(u"driverType Unknown"); break;
    }
    for (const auto& d : m_otherDrives)
        SearchLog().Write(u"Recursive Check Drive : %s", d->rootPath.c_str());
    PlanWalks();

    if (m_bIsTerminateSearch) {
        plat::DebugOutput(u"IS_CANCLED_RETURN_VALUE");
        m_otherDrives.clear();
        return 0;
    }
    // Chosen folders beside drive roots are walked by the other-drive walker,
    // also when every drive is read through its table.
    if (result != 0 || !m_walkFolders.empty()) {
        m_bPeerWalkerDone = 0;
        m_visitedFolders.clear();
        if (!StartOtherSearch())
            m_bPeerWalkerDone = 1;
    } else {
        m_bPeerWalkerDone = 1;
    }
    if (!StartSearch())
        EndHandshake(true);  // this thread ends in the volume walker's place
    return 1;
}

int CNTFSSearch::StartRecursive(search::WalkSink& sink, std::vector<std::u16string> extensions,
                                std::vector<std::u16string> includes)
{
    SearchLog().Write(u"FileSearchStartRecursive[0x%08X]", Hex32(&sink));
    std::lock_guard<plat::RankedMutex> lock(m_control);
    JoinAll();
    m_bIsTerminateSearch = 0;
    StoreSearch(sink, std::move(extensions), std::move(includes));
    m_bPeerWalkerDone = 1;
    StartSearchRecursive();
    return 1;
}

void CNTFSSearch::Stop()
{
    SearchLog().Write(u"FileSearchStop");
    m_bIsTerminateSearch = 1;
    // A start in progress sees the flag itself; otherwise give the walkers
    // 1500 ms to notice it.
    std::unique_lock<plat::RankedMutex> control(m_control, std::try_to_lock);
    if (!control.owns_lock())
        return;
    // Called from a callback on a walker: that walker ends when it returns.
    const auto self = std::this_thread::get_id();
    for (std::thread* t : {&m_hSearchThread, &m_hOtherSearchThread, &m_hRecursiveSearchThread})
        if (t->joinable() && t->get_id() == self)
            return;
    std::unique_lock<plat::RankedMutex> run(m_runLock);
    bool ended = m_runEnded.wait_for(run, std::chrono::milliseconds(1500),
                                     [this] { return m_running == 0; });
    run.unlock();
    if (ended)
        JoinAll();
}

void CNTFSSearch::EndHandshake(bool trace)
{
    if (m_bPeerWalkerDone.exchange(1) == 0)
        return;  // the other walker is still running and ends the search
    if (m_bIsTerminateSearch != 0)
        return;
    search::WalkSink* sink = m_sink.load();
    if (trace)
        SearchLog().Write(u"finishFileSearchCallback[0x%08X] Call Before", Hex32(sink));
    if (sink)
        sink->FinishFileSearch();
    if (trace)
        SearchLog().Write(u"finishFileSearchCallback After");
}

void CNTFSSearch::StartNTFSSearch()
{
    FolderSet visited;  // of the drives walked here because their table failed
    for (const std::u16string& root : m_volumeRoots) {
        auto it = m_volumes.find(root);
        if (it == m_volumes.end() || !it->second)
            continue;
        if (!SearchVolume(root, *it->second) && !m_bIsTerminateSearch) {
            // The table could not be read after all: the drive is still
            // searched, by directory.
            SearchLog().Write(u"Recursive Check Drive : %s", root.c_str());
            WalkFolder(root, visited);
        }
        if (m_bIsTerminateSearch) {
            plat::DebugOutput(u"IS_CANCLED_RETURN");
            return;
        }
    }
    SearchLog().Write(u"m_bIsTerminateSearch Status[%d]", static_cast<int>(m_bIsTerminateSearch));
    EndHandshake(true);
}

bool CNTFSSearch::SearchVolume(const std::u16string& root, search::NtfsVolume& volume)
{
    const search::StopCheck stop = [this] { return m_bIsTerminateSearch.load() != 0; };
    bool read;
    if (volume.recordCount() == 0) {
        SearchLog().Write(u"ParseMFT Start.");
        read = volume.ParseMFT(stop);
        SearchLog().Write(u"ParseMFT End.");
    } else {
        SearchLog().Write(u"ReparseDisk Start.");
        read = volume.ReparseDisk(stop);
        SearchLog().Write(u"ReparseDisk End.");
    }
    if (!read || m_bIsTerminateSearch)
        return false;

    // The table gives the candidates; each is confirmed on the mounted file
    // system, which also gives its size and time.
    SearchLog().Write(u"SearchFiles Start.");
    volume.SearchFiles(
        root, m_searchExtensions,
        [this](const search::MftFoundFile& f) {
            SearchLog().Write(u"addFileInfoCallback(%s) [0x%08X] before",
                              GetFileNamePart(f.fullPath).c_str(), Hex32(m_sink.load()));
            // Without a receiver this volume's listing ends.
            if (!Report(f.fullPath, f.size, f.lastWriteTime))
                return false;
            return m_bIsTerminateSearch == 0;
        },
        stop,
        [this](const plat::WString& fullPath, const char16_t* reason) {
            // As the folder walk does: listed with its reason and counted.
            WriteErrorFileList(ErrorListContext(), fullPath, reason);
            ++m_unreadDocuments;
        });
    SearchLog().Write(u"SearchFiles End.");
    return true;
}

bool CNTFSSearch::Report(const std::u16string& path, uint64_t size, uint64_t lastWriteTime)
{
    auto record = std::make_unique<SearchFileInfo>();
    record->path = path;
    record->fileSize = size;
    record->lastWriteTime = lastWriteTime;
    record->fromEventStore = 0;
    search::WalkSink* sink = m_sink.load();
    // Without a receiver the record is discarded and the walk ends.
    return sink && sink->AddFileInfo(std::move(record));
}

DriveWalkPlan PlanDriveWalk(const std::vector<std::u16string>& driveRoots,
                            const std::vector<std::u16string>& includes)
{
    DriveWalkPlan plan;
    if (includes.empty()) {
        plan.drives = driveRoots;
        return plan;
    }
    std::vector<std::u16string> wanted;
    for (const std::u16string& inc : includes)
        wanted.push_back(Trimmed(inc));
    for (const std::u16string& root : driveRoots)
        if (std::find(wanted.begin(), wanted.end(), Trimmed(root)) != wanted.end())
            plan.drives.push_back(root);
    for (const std::u16string& inc : includes) {
        bool isDrive = false;
        for (const std::u16string& root : driveRoots)
            isDrive = isDrive || Trimmed(root) == Trimmed(inc);
        if (!isDrive && !inc.empty())
            plan.folders.push_back(inc);
    }
    return plan;
}

void CNTFSSearch::StartOtherFSSearch()
{
    SearchLog().Write(u"StartOtherFSSearch FindFileRecursive is Start.");
    bool go = true;
    for (const std::u16string& root : m_walkDrives)
        if (go && !FindFileRecursive(root))
            go = false;
    // Folders chosen beside drive roots are searched too.
    for (const std::u16string& folder : m_walkFolders)
        if (go && !FindFileRecursive(folder))
            go = false;
    SearchLog().Write(u"StartOtherFSSearch FindFileRecursive is End.");
    m_otherDrives.clear();
    EndHandshake(false);
}

void CNTFSSearch::StartNTFSSearchRecursive()
{
    SearchLog().Write(u"StartNTFSSearchRecursive FindFileRecursive is Start.");
    m_visitedFolders.clear();
    for (const std::u16string& path : m_includePaths)
        if (!FindFileRecursive(path))
            break;
    SearchLog().Write(u"StartNTFSSearchRecursive FindFileRecursive is End.");
    search::WalkSink* sink = m_sink.load();
    if (m_bIsTerminateSearch == 0 && sink)
        sink->FinishFileSearch();
}

bool CNTFSSearch::ExtensionMatches(std::string_view name) const
{
    std::string_view raw = RawExtension(name);
    if (raw.empty() || raw.size() > kMaxExtension)
        return false;
    char upper[kMaxExtension];
    for (size_t i = 0; i < raw.size(); ++i)
        upper[i] = (raw[i] >= 'a' && raw[i] <= 'z') ? static_cast<char>(raw[i] - 32) : raw[i];
    return std::binary_search(m_extNative.begin(), m_extNative.end(),
                              std::string_view(upper, raw.size()));
}

int CNTFSSearch::IsSearchExtension(std::u16string_view nameOrPath) const
{
    size_t slash = nameOrPath.rfind(u'/');
    std::u16string_view name =
        slash == std::u16string_view::npos ? nameOrPath : nameOrPath.substr(slash + 1);
    return ExtensionMatches(plat::PathToNative(name)) ? 1 : 0;
}

int CNTFSSearch::FindFileRecursive(const std::u16string& folder)
{
    return WalkFolder(folder, m_visitedFolders);
}

int CNTFSSearch::WalkFolder(const std::u16string& folder, FolderSet& visited)
{
    struct Entry {
        std::string name;
        bool dir;
        uint64_t size;
        uint64_t mtime;
    };
    struct Frame {
        std::string path;
        std::vector<Entry> entries;
        size_t next = 0;
    };

    const std::string rootPath = plat::PathToNative(Trimmed(folder));
    if (rootPath.empty())
        return 1;

    // Lists a folder: sub-folders, and files of a searched extension with a
    // size above 0. Only those files are stat'ed.
    auto list = [this](int fd, Frame& frame) {
        DIR* dir = fdopendir(fd);
        if (!dir) {
            const int error = errno;
            ReportUnreadable(frame.path, error, true);
            ::close(fd);
            return;
        }
        while (dirent* d = readdir(dir)) {
            const char* name = d->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            unsigned char type = d->d_type;
            struct stat st;
            bool haveStat = false;
            if (type == DT_UNKNOWN) {
                if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    const int error = errno;
                    if (!WalkMayPassOver(error) && ExtensionMatches(name))
                        ReportUnreadable(JoinNative(frame.path, name), error, false);
                    continue;
                }
                haveStat = true;
                type = IFTODT(st.st_mode);
            }
            if (type == DT_DIR) {
                frame.entries.push_back({name, true, 0, 0});
                continue;
            }
            // Links, devices, pipes and sockets are no documents: those
            // with a searched kind's name are listed as unread.
            if (!ExtensionMatches(name))
                continue;
            if (type != DT_REG) {
                ReportNotRegular(dirfd(dir), frame.path, name, type);
                continue;
            }
            if (!haveStat && fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                const int error = errno;
                if (!WalkMayPassOver(error))
                    ReportUnreadable(JoinNative(frame.path, name), error, false);
                continue;
            }
            if (!S_ISREG(st.st_mode) || st.st_size <= 0)
                continue;
            frame.entries.push_back({name, false, static_cast<uint64_t>(st.st_size),
                                     plat::FileTimeFromTimespec(st.st_mtim)});
        }
        closedir(dir);
    };

    auto openFolder = [](const std::string& path, bool follow) {
        return ::open(path.c_str(),
                      O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK | (follow ? 0 : O_NOFOLLOW));
    };

    // The chosen folder itself may be reached through a link; nothing below it.
    int rootFd = openFolder(rootPath, true);
    if (rootFd < 0) {
        const int error = errno;
        if (!WalkMayPassOver(error))
            ReportUnreadable(rootPath, error, true);
        return 1;
    }
    struct stat rootStat;
    if (fstat(rootFd, &rootStat) != 0) {
        ::close(rootFd);
        return 1;
    }
    if (visited.count({rootStat.st_dev, rootStat.st_ino})) {
        ::close(rootFd);
        return 1;
    }
    if (m_bIsTerminateSearch) {
        ::close(rootFd);
        plat::DebugOutput(u"IS_CANCLED_RETURN_VALUE");
        return 0;
    }
    visited.insert({rootStat.st_dev, rootStat.st_ino});

    std::vector<Frame> stack;
    stack.push_back({rootPath, {}, 0});
    list(rootFd, stack.back());

    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.entries.size()) {
            stack.pop_back();
            continue;
        }
        const Entry& e = frame.entries[frame.next++];
        std::string full = JoinNative(frame.path, e.name.c_str());
        if (e.dir) {
            int fd = openFolder(full, false);
            if (fd < 0) {
                // No access or a path too long is listed; vanished, or a
                // link after all, is passed over.
                const int error = errno;
                if (!WalkMayPassOver(error))
                    ReportUnreadable(full, error, true);
                continue;
            }
            struct stat st;
            if (fstat(fd, &st) != 0 || st.st_dev != rootStat.st_dev ||
                visited.count({st.st_dev, st.st_ino})) {
                ::close(fd);
                continue;
            }
            if (m_bIsTerminateSearch) {
                ::close(fd);
                plat::DebugOutput(u"IS_CANCLED_RETURN_VALUE");
                return 0;
            }
            visited.insert({st.st_dev, st.st_ino});
            Frame child{std::move(full), {}, 0};
            list(fd, child);
            stack.push_back(std::move(child));  // frame is not used after this
            continue;
        }
        if (m_bIsTerminateSearch) {
            plat::DebugOutput(u"IS_CANCLED_RETURN_VALUE");
            return 0;
        }
        if (!Report(plat::PathFromNative(full), e.size, e.mtime))
            return 0;
        if (m_bIsTerminateSearch) {
            plat::DebugOutput(u"IS_CANCLED_RETURN_VALUE");
            return 0;
        }
    }
    return 1;
}
