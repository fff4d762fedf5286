// The search engine: finds the documents of a search on walker threads and
// hands each one to its sink (the search session's intake). An engine is an
// object of its owner; nothing of a search lives outside it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/lockorder.h"
#include "search/drives.h"
#include "core/records.h"

class ScanContext;

namespace search {

// What a walk reports to, on the walker threads.
class WalkSink {
public:
    virtual ~WalkSink() = default;
    // One document found; the record belongs to the sink from now on, which
    // keeps it or lets it go. False ends the walk (the receiver is gone): the
    // walker that called ends without a further record.
    virtual bool AddFileInfo(std::unique_ptr<SearchFileInfo> record) = 0;
    // The walk's end: at most once per search, never after a stop.
    virtual void FinishFileSearch() = 0;
};

}  // namespace search

// One drive to walk by directory: its root (a mount point).
struct OtherDriveEntry {
    std::u16string rootPath;
};

// Abstract engine: the sorted upper-case extensions and the three walkers.
class CSearchType {
public:
    virtual ~CSearchType() = default;
    virtual int StartSearch() = 0;           // the volume-table walker
    virtual int StartOtherSearch() = 0;      // the other-drive walker
    virtual int StartSearchRecursive() = 0;  // the folder walker

    std::vector<std::u16string> m_searchExtensions;
};

class CNTFSSearch : public CSearchType {
public:
    CNTFSSearch();
    ~CNTFSSearch() override;

    int StartSearch() override;
    int StartOtherSearch() override;
    int StartSearchRecursive() override;

    // Starts a search of the whole computer (no include paths) or of the
    // drives whose roots stand among the include paths; folders among the
    // include paths are walked as well. extensions: upper case, no dot.
    // Returns 1 when the walkers were started, 0 when a stop came in
    // meanwhile. The walkers of an earlier search are joined first.
    int Start(search::WalkSink& sink, std::vector<std::u16string> extensions,
              std::vector<std::u16string> includes);
    // Starts a search of the include folders. Returns 1.
    int StartRecursive(search::WalkSink& sink, std::vector<std::u16string> extensions,
                       std::vector<std::u16string> includes);
    // Stops a running search: no finish call follows. Waits up to 1500 ms
    // for the walkers; one still running is joined by the next start or the
    // destructor. Callers must not hold a lock that the sink takes for
    // longer than that.
    void Stop();

    // Documents the last search found and could not read (no access, path
    // too long), and in *folders (when given) the folders it could not open;
    // each went to the day's error-file list.
    int UnreadCount(int* folders = nullptr) const;

    // Where a whole-computer search learns the drives: the live system
    // (search::SystemDriveEnvironment) by default. Tests pass their own mount
    // table, sysfs tree and device folder; nullptr restores the default.
    // Not to be called during a search.
    void SetDriveProvider(std::function<search::DriveEnvironment()> provider);

    // Where the walk counts the lines of the error-file list it could not
    // write: its owner's scan context (a session's, beside its readers'
    // lines), or, when null (the default), one of the engine's own. Not to
    // be called during a search.
    void SetScanContext(ScanContext* context) { m_scanContext = context; }

    // 1 when the name's extension is one of the search's.
    int IsSearchExtension(std::u16string_view nameOrPath) const;

    // Walks one folder and everything below it on the same device, depth
    // first, without following symbolic links. 1 to go on, 0 when the whole
    // walk must end (stop, or the context is gone).
    int FindFileRecursive(const std::u16string& folder);

    // Lists one raw-read volume through its table and reports its files.
    // Returns false when the table could not be read (the caller walks the
    // drive by directory instead).
    bool SearchVolume(const std::u16string& root, search::NtfsVolume& volume);

    void StartNTFSSearch();
    void StartOtherFSSearch();
    void StartNTFSSearchRecursive();

    std::atomic<search::WalkSink*> m_sink{nullptr};
    std::vector<std::u16string> m_includePaths;
    std::vector<std::unique_ptr<OtherDriveEntry>> m_otherDrives;
    // Raw-read NTFS volumes by drive root; they outlive a search, so the
    // next one reads their tables again.
    search::VolumeMap m_volumes;
    std::atomic<int32_t> m_bIsTerminateSearch{0};
    std::atomic<int32_t> m_bPeerWalkerDone{1};

private:
    struct FolderKey {
        dev_t dev;
        ino_t ino;
        bool operator==(const FolderKey&) const = default;
    };
    struct FolderKeyHash {
        size_t operator()(const FolderKey& k) const
        {
            return std::hash<uint64_t>()(static_cast<uint64_t>(k.dev) * 0x9E3779B97F4A7C15ULL ^
                                         static_cast<uint64_t>(k.ino));
        }
    };
    using FolderSet = std::unordered_set<FolderKey, FolderKeyHash>;

    int ClassifyDrives();
    void PlanWalks();
    int WalkFolder(const std::u16string& folder, FolderSet& visited);
    bool Report(const std::u16string& path, uint64_t size, uint64_t lastWriteTime);
    void StoreSearch(search::WalkSink& sink, std::vector<std::u16string> extensions,
                     std::vector<std::u16string> includes);
    search::DriveEnvironment CurrentDriveEnvironment() const;
    void ReportUnreadable(const std::string& nativePath, int error, bool folder);
    void ReportNotRegular(int dirFd, const std::string& folder, const char* name,
                          unsigned char type);
    bool ExtensionMatches(std::string_view name) const;
    void EndHandshake(bool trace);
    template <typename Body>
    int Launch(std::thread& slot, Body body);
    void JoinAll();
    void WalkerEnded();
    ScanContext& ErrorListContext();

    FolderSet m_visitedFolders;
    // What this search's walkers take: the volumes the table walker lists,
    // the drives and the chosen folders the other-drive walker walks.
    std::vector<std::u16string> m_volumeRoots;
    std::vector<std::u16string> m_walkDrives;
    std::vector<std::u16string> m_walkFolders;
    std::vector<std::string> m_extNative;  // the extensions as bytes, sorted

    // What the walk found and could not read (the walkers count).
    std::atomic<int> m_unreadDocuments{0};
    std::atomic<int> m_unreadFolders{0};
    // Where the walkers count the lines of the error-file list they could
    // not write (see SetScanContext).
    ScanContext* m_scanContext = nullptr;
    std::unique_ptr<ScanContext> m_ownScanContext;

    // guards: m_driveProvider.
    mutable plat::RankedMutex m_providerLock{plat::LockRank::EngineProvider, "CNTFSSearch::m_providerLock"};
    std::function<search::DriveEnvironment()> m_driveProvider;

    // guards: start, stop and the thread slots. Taken before m_runLock.
    plat::RankedMutex m_control{plat::LockRank::EngineControl, "CNTFSSearch::m_control"};
    std::thread m_hSearchThread, m_hOtherSearchThread, m_hRecursiveSearchThread;
    // guards: m_running (walkers alive); m_runEnded waits on it.
    plat::RankedMutex m_runLock{plat::LockRank::EngineRun, "CNTFSSearch::m_runLock"};
    std::condition_variable_any m_runEnded;
    int m_running = 0;
};

// Which of the drives an include list selects, and which include paths are
// folders to walk besides (none selected: every drive, no folder).
struct DriveWalkPlan {
    std::vector<std::u16string> drives;
    std::vector<std::u16string> folders;
};
DriveWalkPlan PlanDriveWalk(const std::vector<std::u16string>& driveRoots,
                            const std::vector<std::u16string>& includes);
