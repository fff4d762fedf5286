// The search session: one search from its start to its end event, apart
// from any window. It owns the walk (its engine), the intake of what the
// walk finds (exclusions, document keys, exceptions), the analysis thread
// with its pool of readers (its pieces in search/analysis.h), the scan
// context its readers and its walk share (the reader entries, the lines of
// the error-file list not written), the stored-result lookup and every
// write to the event store and to lastCheckFile, and reports to a typed
// sink. A window implements the sink and only shows what it is told.
//
// Threads: Start, StartAnalysis, Complete, Stop and Shutdown are called by
// the owner's thread (the window's). The sink is called on the walker
// threads (FirstDocumentFound, WalkEnded), on the analysis thread (Begin,
// DocumentStarted, Document, TotalsChanged, Unread, Finished) and by Stop
// on the owner's thread (Cancelled). The sink never blocks the session: the
// analysis thread never waits for the owner, so the owner can always join it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/documentkinds.h"
#include "core/eventstore/eventstore.h"
#include "platform/lockorder.h"
#include "core/records.h"
#include "search/drives.h"
#include "search/engine.h"
#include "search/lastcheck.h"
#include "search/matcher.h"
#include "search/scan.h"

// The document kind (result tab) of a file name: kHwp..kPdf (its kind
// index in kDocumentKinds plus one), or -1.
int DocumentKindOfName(std::u16string_view fileName);
// The document key of a record for a personal-information mask: SHA-256 of
// "%s_%I64u_%I64u_%d" in code page 949, 64 upper-case hexadecimal digits
// (the mask written as a signed 32-bit number).
std::u16string MakeDocumentKey(const SearchFileInfo& record, PersonalInfoMask mask);
// The same key held as its digest, as the search keeps it.
DocumentKey DocumentKeyOf(const SearchFileInfo& record, PersonalInfoMask mask);

namespace search {

// The document kinds a search counts (the result tabs): kKindAll counts
// every document with hits, then one per row of kDocumentKinds, in its order.
enum DocumentKind : int {
    kKindAll = 0,
    kKindHwp,
    kKindDoc,
    kKindXls,
    kKindPpt,
    kKindPdf,
    kKindCount = 1 + kDocumentKindCount,
};
// The named tabs stand for these rows of the kinds table.
static_assert(std::u16string_view(kDocumentKinds[kKindHwp - 1].name) == u"HWP" &&
              std::u16string_view(kDocumentKinds[kKindDoc - 1].name) == u"DOC" &&
              std::u16string_view(kDocumentKinds[kKindXls - 1].name) == u"XLS" &&
              std::u16string_view(kDocumentKinds[kKindPpt - 1].name) == u"PPT" &&
              std::u16string_view(kDocumentKinds[kKindPdf - 1].name) == u"PDF");

// The totals of a search: the seven kinds of personal information, then the
// documents with hits of each document kind, in table order.
inline constexpr int kFirstKindTotal = kPersonalInfoKindCount;
inline constexpr int kTotalCount = kFirstKindTotal + kDocumentKindCount;

// What a search asks for.
struct SearchRequest {
    int mode = 0;                 // 0 the whole computer, 1 the user's folders
    PersonalInfoMask mask = 0xFFFF;  // the kinds of personal information
    std::vector<std::u16string> include, exclude;
    std::vector<std::u16string> extensions;  // upper case, no dot
};

// Where a session reports. Each call comes once per event, in order.
class SessionSink {
public:
    enum class Step {
        FirstDocumentFound,  // the walk accepted its first document (walker)
        WalkEnded,           // the walk ended; StartAnalysis goes on (walker)
        DocumentStarted,     // the analysis turned to document index (path)
        TotalsChanged,       // Total and DocumentCount moved (analysis)
    };
    virtual ~SessionSink() = default;
    // The analysis begins over this many documents.
    virtual void Begin(int documents) = 0;
    virtual void Progress(Step step, int index, const std::u16string& path) = 0;
    // A document with hits, in the order of the analysis, counted in its
    // kind (kHwp..kPdf, or -1). The record stays the session's until the
    // next start, ClearFoundFiles or the session's end.
    virtual void Document(SearchFileInfo* record, const PersonalInfoCounts& counts, int kind) = 0;
    // A document not read to its end (scan status NoText, Failed or
    // Partial); the day's error-file list has its reason.
    virtual void Unread(const SearchFileInfo& record, ScanStatus status) = 0;
    // The analysis read every document: Complete writes the end event.
    virtual void Finished() = 0;
    // Stop ended the search and wrote its end event.
    virtual void Cancelled() = 0;
    // A write of this search to the event store was not stored: called once
    // per search, for the first such write (the start event's, a result's
    // or the end event's). It may come on any thread of the search, even
    // while that thread holds the store lock: it must only hand the news on
    // (post to a window), never use the store or block. The search goes on.
    virtual void StoreWriteFailed(const EventStoreFailure& first) { (void)first; }
};

class SearchSession : private WalkSink {
public:
    explicit SearchSession(SessionSink& sink);
    ~SearchSession();
    SearchSession(const SearchSession&) = delete;
    SearchSession& operator=(const SearchSession&) = delete;

    // Writes the start event, reads the exception list and starts the walk.
    // The previous search's records go (its rows must be gone). Returns the
    // start event's id.
    int64_t Start(const SearchRequest& request);
    // Starts the analysis of what the walk found, once (after WalkEnded).
    void StartAnalysis();
    // The end of an analysis that Finished: the session is idle; unless the
    // search was cancelled meanwhile, writes the completion event with the
    // totals and returns true. Joins the analysis.
    bool Complete();
    // The stop of a running search: stops the walk and the analysis (joined
    // before it returns), writes the cancel event with the totals reached,
    // clears lastCheckFile and tells the sink. False when it was idle.
    bool Stop();
    // The session's end: stops what runs (without an event; Stop first for
    // one) and calls the sink no more.
    void Shutdown();
    // Forgets the found records (their rows must be gone).
    void ClearFoundFiles();
    void JoinAnalysis();

    bool IsIdle() const { return m_idle.load() != 0; }
    bool IsCancelled() const { return m_cancel.load() != 0; }
    bool AnalysisRunning() const { return m_analysis.joinable(); }
    int64_t SearchEventId() const { return m_searchEventId; }
    const SearchRequest& Request() const { return m_request; }
    size_t FoundCount() const;
    int Total(int i) const { return m_totals[i].load(); }
    int DocumentCount(int kind) const { return m_kindCounts[kind].load(); }
    // Documents of this search not read to their end (the readers' and the
    // walk's), and in *folders the folders the walk could not open.
    int UnreadDocuments(int* folders = nullptr) const;
    // Lines of the error-file list this search could not write (a full
    // disk): its unread documents that the list does not name. Counted from
    // zero at each start, the walk's lines with the readers'.
    int UnlistedDocuments() const { return m_scan.LinesLost(); }
    // Writes of the current (or last) search that were not stored.
    int FailedStoreWrites() const { return m_storeWatch ? m_storeWatch->FailedWrites() : 0; }

    // Readers of the next analysis; 0 (the default) is one per core.
    void SetAnalysisWorkers(unsigned workers) { m_analysisWorkers = workers; }
    // The reader entries the next searches read documents with: the
    // program's (DefaultExtractorTable) unless replaced here (tests). Not
    // while a search runs.
    void SetReaders(const ExtractorTable& readers) { m_scan.SetReaders(readers); }
    // Where a whole-computer search learns its drives (tests).
    void SetDriveProvider(std::function<DriveEnvironment()> provider);

    // Whether a path of an include list is a drive root (the whole-drive
    // walk) rather than a folder.
    static bool IsDriveRoot(const std::u16string& path);

private:
    // The walk's intake (walker threads): drops excluded and excepted
    // documents, keys and keeps the rest.
    bool AddFileInfo(std::unique_ptr<SearchFileInfo> record) override;
    void FinishFileSearch() override;
    // The analysis thread: the plan, each document's outcome and the writer
    // of its rows and totals (search/analysis.h) around the pool of readers.
    void AnalysisThreadProc();
    void MakeEngine();
    void WriteEndEvent(bool completed);
    // Starts (Reset) or ends the watch of this search's store writes.
    void WatchStoreWrites(bool on);

    SessionSink& m_sink;
    SearchRequest m_request;
    unsigned m_analysisWorkers = 0;
    int64_t m_searchEventId = 0;

    // guards: m_exceptionKeys, m_shutDown against the walkers' intake, and
    // every sink call from a walker. Taken before m_foundLock.
    plat::RankedMutex m_intakeLock{plat::LockRank::SessionIntake, "SearchSession::m_intakeLock"};
    std::vector<DocumentKey> m_exceptionKeys;  // sorted
    bool m_shutDown = false;
    std::atomic<bool> m_firstAccepted{false};

    // guards: m_foundFiles. Result rows point into the records, so the list
    // is emptied only after the rows are gone.
    mutable plat::RankedMutex m_foundLock{plat::LockRank::SessionFound, "SearchSession::m_foundLock"};
    std::vector<std::unique_ptr<SearchFileInfo>> m_foundFiles;

    std::array<std::atomic<int>, kTotalCount> m_totals{};
    std::array<std::atomic<int>, kKindCount> m_kindCounts{};
    std::atomic<int> m_unreadDocuments{0};
    // What every scan of this session reads with (its readers) and counts
    // in (the error-file list's lines not written), passed down to the
    // readers of the analysis and to the walk. Its readers change only
    // while the session is idle; the count is reset at each start.
    ScanContext m_scan;
    std::atomic<int32_t> m_idle{1};
    CancelFlag m_cancel{0};

    // The store's failed writes of the running search, from the start event
    // to the end event: its first one goes to the sink. Ended with the
    // search, so the writes of later work (actions on the results) are not
    // taken for the search's.
    std::unique_ptr<EventStoreFailureWatch> m_storeWatch;
    std::atomic<bool> m_storeWatchOn{false};

    std::thread m_analysis;
    // Last: destroyed first, joining its walkers before the rest goes.
    std::unique_ptr<CNTFSSearch> m_engine;
};

}  // namespace search
