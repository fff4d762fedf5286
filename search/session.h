// The search session: one search from its start to its end event, apart
// from any window. It owns the walk (its engine), the intake of what the
// walk finds (exclusions, document keys, exceptions), the analysis thread
// with its pool of readers (its pieces in search/analysis.h), the scan
// context its readers and its walk share (the reader entries, the lines of
// the error-file list not written), the stored-result lookup and every
// write to the event store and to lastCheckFile, and reports to a typed
// sink. A window implements the sink and only shows what it is told.
//
// The session knows where its search stands (SessionState) and moves itself
// on: the walk's end starts the analysis, and the analysis, once it has read
// every document, writes the completion event, clears lastCheckFile and only
// then tells the sink Finished. Stop writes the cancel event. A search that
// was started ends exactly once: one atomic change of the state, from
// Walking or Analysing to Completed (the analysis thread) or Cancelled
// (Stop), decides between a stop and the analysis finishing, and only the
// winner writes its end event.
//
// Threads: Start, Stop, Shutdown, JoinAnalysis and ClearFoundFiles are
// called by the owner's thread (the window's); State and the counters may be
// read on any thread. The sink is called on the walker threads
// (FirstDocumentFound, WalkEnded), on the analysis thread (Begin,
// DocumentStarted, Document, TotalsChanged, Unread, Finished) and by Stop on
// the owner's thread (Cancelled); StoreWriteFailed on any thread of the
// search. The sink never blocks the session: it only hands the news on (a
// window posts it to its own thread) and, on those threads, asks the session
// no more than State and the counters. The analysis thread never waits for
// the owner, so the owner can always join it: a stop ends it on the cancel
// flag; after a completion it only finishes writing its end event (a write
// that waits no longer than the event store lets any write wait) and ends.
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

// Where a search stands. Idle before its first start; Walking from Start
// until the walk ends; Analysing while the analysis reads what the walk
// found; Completed once the analysis has read every document (the session
// writes the completion event, then the sink hears Finished); Cancelled once
// Stop (or Shutdown) ended it. Completed and Cancelled last until the next
// Start.
enum class SessionState : int {
    Idle,
    Walking,
    Analysing,
    Completed,
    Cancelled,
};

// Where a session reports. Each call comes once per event, in order.
class SessionSink {
public:
    enum class Step {
        FirstDocumentFound,  // the walk accepted its first document (walker)
        WalkEnded,           // the walk ended; the analysis starts now (walker)
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
    // The analysis read every document: the session is Completed, its
    // completion event written and lastCheckFile cleared. The analysis
    // thread's last call; JoinAnalysis then returns at once.
    virtual void Finished() = 0;
    // Stop ended the search and wrote its end event (owner's thread).
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

    // Writes the start event, reads the exception list and starts the walk
    // (Walking). The previous search's records go (its rows must be gone).
    // Returns the start event's id.
    int64_t Start(const SearchRequest& request);
    // The stop of a running search (Walking or Analysing): the search is
    // Cancelled, its walk and analysis stopped (joined before it returns),
    // the cancel event written with the totals reached, lastCheckFile
    // cleared and the sink told (Cancelled). False when it was not running:
    // never started, stopped already, or Completed first, when the analysis
    // writes the completion event instead (joined here too, so it is written
    // when Stop returns).
    bool Stop();
    // The session's end: stops what runs (Cancelled, without an event; Stop
    // first for one), lets a completing analysis write its event, and calls
    // the sink no more.
    void Shutdown();
    // Forgets the found records (their rows must be gone).
    void ClearFoundFiles();
    // Joins an analysis thread that has ended or is ending (after Finished,
    // Stop or Shutdown); not a stop.
    void JoinAnalysis();

    SessionState State() const { return m_state.load(); }
    // A search runs: Walking or Analysing.
    bool IsSearching() const
    {
        const SessionState s = State();
        return s == SessionState::Walking || s == SessionState::Analysing;
    }
    bool IsCancelled() const { return m_cancel.load() != 0; }
    // The analysis thread has not been joined yet.
    bool AnalysisRunning() const;
    int64_t SearchEventId() const { return m_searchEventId.load(); }
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
    // The walk's end: the analysis starts, unless the search was stopped.
    void FinishFileSearch() override;
    // The analysis thread: the plan, each document's outcome and the writer
    // of its rows and totals (search/analysis.h) around the pool of readers.
    void AnalysisThreadProc();
    void MakeEngine();
    // The one change of state that ends a running search: true for the
    // caller that moved it from Walking or Analysing to `end`, who writes
    // the end event; false when it had ended already or never ran.
    bool EndSearch(SessionState end);
    void WriteEndEvent(bool completed);
    // Starts (Reset) or ends the watch of this search's store writes.
    void WatchStoreWrites(bool on);

    SessionSink& m_sink;
    SearchRequest m_request;
    unsigned m_analysisWorkers = 0;
    // The start event's id, then the end event's (written by Stop or by the
    // analysis thread).
    std::atomic<int64_t> m_searchEventId{0};

    // guards: m_exceptionKeys, m_shutDown against the walkers' intake, every
    // sink call from a walker, and m_analysis (the walk's end starts it on a
    // walker, the owner joins it). Taken before m_foundLock.
    mutable plat::RankedMutex m_intakeLock{plat::LockRank::SessionIntake, "SearchSession::m_intakeLock"};
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
    std::atomic<SessionState> m_state{SessionState::Idle};
    // Set by Stop and Shutdown once they have ended the search: the walk,
    // the readers and the analysis thread's store waits stop on it.
    CancelFlag m_cancel{0};

    // The store's failed writes of the running search, from the start event
    // to the end event: its first one goes to the sink. Ended with the
    // search, so the writes of later work (actions on the results) are not
    // taken for the search's.
    std::unique_ptr<EventStoreFailureWatch> m_storeWatch;
    std::atomic<bool> m_storeWatchOn{false};

    std::thread m_analysis;  // under m_intakeLock
    // Last: destroyed first, joining its walkers before the rest goes.
    std::unique_ptr<CNTFSSearch> m_engine;
};

}  // namespace search
