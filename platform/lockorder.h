// The program's lock order, written once, and the check that keeps it.
//
// Every mutex of the order below is a plat::Ranked<...> with its rank and a
// name. A thread that holds locks may take only a lock of a higher rank:
// taking one of a lower or equal rank while holding a higher one is an
// inversion, which two threads doing it the other way round turn into a
// deadlock. Where the check is compiled in, each thread keeps the stack of
// ranks it holds, and an inversion aborts at once, naming both locks, on
// the run that took the wrong path (not only on the rare run that happens to
// deadlock).
//
// The check is compiled in when NDEBUG is not defined (debug builds), in
// sanitizer builds, and when PRIVASWEEP_LOCK_CHECK is defined (the CMake
// option of that name, for a checked run of an optimised build). Otherwise a
// Ranked mutex is its standard mutex and nothing more is done per lock.
//
// Rules of the check:
// - A recursive mutex may be taken again by the thread that holds it.
// - try_lock() is not checked (it never waits, so it cannot close a cycle),
//   but a lock it takes counts as held.
// - A timed lock waits and is checked like lock().
// - Locks may be released in any order.
//
// docs/architecture.md ("Locks of the search and the window") says why the
// order is what it is; the ranks themselves are only here.
#pragma once

#include <chrono>
#include <mutex>

#if defined(PRIVASWEEP_LOCK_CHECK) || !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__)
#define PS_LOCK_ORDER_CHECKED 1
#else
#define PS_LOCK_ORDER_CHECKED 0
#endif

namespace plat {

// The ranks, outermost first. A lock may be taken while holding only locks
// of lower ranks. Gaps leave room for locks added later.
enum class LockRank : int {
    // CNTFSSearch::m_control: start, stop and the walker threads' slots. A
    // start holds it while it prepares the drives (the drive provider), counts
    // the walkers (run lock) and, when no walker could start, ends the walk
    // itself (the session's intake).
    EngineControl = 10,
    // CNTFSSearch::m_providerLock: the drive provider (copied, called outside).
    EngineProvider = 20,
    // CNTFSSearch::m_runLock: the count of walkers alive; a stop waits on it.
    EngineRun = 30,
    // SearchSession::m_intakeLock: exception keys, the end of the session,
    // every sink call of a walker, and the analysis thread's handle (the
    // walk's end starts the analysis under it).
    SessionIntake = 40,
    // SearchSession::m_foundLock: the found list.
    SessionFound = 50,
    // AnalysisPool::m_lock: the queue and the results.
    AnalysisQueue = 60,
    // AnalysisPool::m_inFlightLock: the documents being read; the key store
    // is written under it (lastCheckFile).
    AnalysisInFlight = 70,
    // The event store's connection (a recursive, timed lock).
    EventStore = 90,
    // The event store's failure watches; a failed write reports under the
    // store lock.
    EventStoreWatches = 100,
    // The key store: the in-place values and the store's file.
    KeyStoreInPlace = 110,
    KeyStoreFile = 120,
    // CAllSearchDlg::m_lock: the search window's progress fields. Last:
    // nothing of this order is taken under it.
    SearchWindow = 200,
};

namespace lockorder {
// Called by Ranked around the real lock operations; the checked build's
// only cost. Abort on an inversion, naming both locks.
void BeforeLock(const void* mutex, LockRank rank, const char* name, bool recursive);
void Taken(const void* mutex, LockRank rank, const char* name);
void Released(const void* mutex);
// How many locks of the order the calling thread holds (tests).
int HeldCount();
}  // namespace lockorder

// A standard mutex (std::mutex, std::timed_mutex, std::recursive_mutex,
// std::recursive_timed_mutex) with its place in the order. Meets the same
// Lockable / TimedLockable requirements as the mutex it wraps, so it goes
// into std::lock_guard and std::unique_lock; a condition waits on it through
// std::condition_variable_any.
template <typename Mutex, bool Recursive = false>
class Ranked {
public:
    constexpr Ranked(LockRank rank, const char* name) noexcept : m_rank(rank), m_name(name) {}
    Ranked(const Ranked&) = delete;
    Ranked& operator=(const Ranked&) = delete;

    void lock()
    {
#if PS_LOCK_ORDER_CHECKED
        lockorder::BeforeLock(this, m_rank, m_name, Recursive);
#endif
        m_mutex.lock();
#if PS_LOCK_ORDER_CHECKED
        lockorder::Taken(this, m_rank, m_name);
#endif
    }
    bool try_lock()
    {
        if (!m_mutex.try_lock()) return false;
#if PS_LOCK_ORDER_CHECKED
        lockorder::Taken(this, m_rank, m_name);
#endif
        return true;
    }
    template <typename Rep, typename Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& wait)
    {
#if PS_LOCK_ORDER_CHECKED
        lockorder::BeforeLock(this, m_rank, m_name, Recursive);
#endif
        if (!m_mutex.try_lock_for(wait)) return false;
#if PS_LOCK_ORDER_CHECKED
        lockorder::Taken(this, m_rank, m_name);
#endif
        return true;
    }
    template <typename Clock, typename Duration>
    bool try_lock_until(const std::chrono::time_point<Clock, Duration>& deadline)
    {
#if PS_LOCK_ORDER_CHECKED
        lockorder::BeforeLock(this, m_rank, m_name, Recursive);
#endif
        if (!m_mutex.try_lock_until(deadline)) return false;
#if PS_LOCK_ORDER_CHECKED
        lockorder::Taken(this, m_rank, m_name);
#endif
        return true;
    }
    void unlock()
    {
#if PS_LOCK_ORDER_CHECKED
        lockorder::Released(this);
#endif
        m_mutex.unlock();
    }

    LockRank Rank() const { return m_rank; }
    const char* Name() const { return m_name; }
    // The standard mutex itself, for code that holds it under its own type
    // (outside the check: such a holder is not on the thread's stack).
    Mutex& Native() { return m_mutex; }

private:
    Mutex m_mutex;
    LockRank m_rank;
    const char* m_name;
};

using RankedMutex = Ranked<std::mutex>;
using RankedRecursiveTimedMutex = Ranked<std::recursive_timed_mutex, true>;

}  // namespace plat
