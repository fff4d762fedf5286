// The search's reading pool: documents are read and matched on worker
// threads while one analysis thread hands them out and takes their results
// back in the order it handed them out, so that whatever it writes and shows
// comes in the same order as from a search that reads one document at a time.
//
// The analysis thread calls Submit in its own order (indexes rising), takes
// each result with Take, and ends with Stop. Workers stop taking documents
// when the cancel flag is set; the documents still queued are dropped. The
// documents being read are reported to the in-flight callback, one path a
// line in the order they were handed out, each time that set changes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/records.h"
#include "platform/lockorder.h"
#include "search/matcher.h"

namespace search {

// What a worker gives back for one document: the status of
// FindPersonalInfoInFile, the counts and the hits.
struct DocumentResult {
    ScanStatus status = ScanStatus::Done;
    PersonalInfoCounts counts;
    PersonalInfoHitList hits;
    plat::FileIdentity identity;  // of the file read
};

// Bounds of the work the pool does ahead of the analysis thread.
struct AnalysisPoolLimits {
    size_t queued = 0;             // documents waiting for a worker (0: twice the workers)
    size_t ahead = 4096;           // handed out and not taken back yet
    size_t bufferedHits = 500000;  // hits of results read but not taken back yet
};

class AnalysisPool {
public:
    // Reads one document (on a worker thread).
    using ReadFn = std::function<void(const std::u16string& path, const CancelFlag* cancel, DocumentResult& result)>;
    // The documents being read, one path a line in hand-out order; empty
    // when none is. Called on a worker thread, one call at a time.
    using InFlightFn = std::function<void(const std::u16string& lines)>;

    using Limits = AnalysisPoolLimits;

    // At most this many workers, whatever the machine has.
    static constexpr unsigned kMaxWorkers = 32;
    // One per core, at least one, at most kMaxWorkers.
    static unsigned DefaultWorkers();

    // workers 0 means DefaultWorkers(). cancel may be null.
    AnalysisPool(unsigned workers, ReadFn read, const CancelFlag* cancel, InFlightFn inFlight = {},
                 Limits limits = {});
    ~AnalysisPool();
    AnalysisPool(const AnalysisPool&) = delete;
    AnalysisPool& operator=(const AnalysisPool&) = delete;

    unsigned Workers() const { return static_cast<unsigned>(m_workers.size()); }

    // True while the pool takes more documents: few wait for a worker and
    // the results not taken back are within the limits.
    bool WantsMore();
    // Hands one document out, behind those handed out before; First puts it
    // before them (a document the analysis thread needs at once).
    void Submit(size_t index, std::u16string path);
    void SubmitFirst(size_t index, std::u16string path);
    // Moves the result of document index into out when it is there.
    // Otherwise waits up to wait for it, returning early (false) when the
    // pool wants more documents and moreToHandOut says there are some.
    bool Take(size_t index, DocumentResult& out, std::chrono::milliseconds wait, bool moreToHandOut);
    // Drops the queued documents and joins the workers (a worker finishes
    // the document it reads; the cancel flag shortens that). Idempotent.
    void Stop();

private:
    struct Job {
        size_t index = 0;
        std::u16string path;
    };
    struct Reading {
        bool busy = false;
        size_t index = 0;
        std::u16string path;
    };

    void Work(size_t me);
    bool Cancelled() const;
    bool WantsMoreLocked() const;
    void SetReading(size_t me, const Job* job);

    ReadFn m_read;
    const CancelFlag* m_cancel;
    InFlightFn m_inFlight;
    Limits m_limits;

    // guards: m_queue, m_ready, m_outstanding, m_readyHits, m_stopping.
    // Taken alone: released before a document is read or the in-flight set
    // is written.
    plat::RankedMutex m_lock{plat::LockRank::AnalysisQueue, "AnalysisPool::m_lock"};
    std::condition_variable_any m_work;     // workers: a job or the stop
    std::condition_variable_any m_changed;  // the analysis thread: a result or room in the queue
    std::deque<Job> m_queue;
    std::unordered_map<size_t, DocumentResult> m_ready;
    size_t m_outstanding = 0;  // submitted, not taken back
    size_t m_readyHits = 0;
    bool m_stopping = false;

    // guards: m_reading, m_lastInFlight and the in-flight callback (one
    // lastCheckFile write at a time, in order). Taken alone; the key store's
    // lock is taken under it.
    plat::RankedMutex m_inFlightLock{plat::LockRank::AnalysisInFlight, "AnalysisPool::m_inFlightLock"};
    std::vector<Reading> m_reading;
    std::u16string m_lastInFlight;

    std::vector<std::thread> m_workers;
};

}  // namespace search
