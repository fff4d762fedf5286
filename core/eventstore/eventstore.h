// The event store: the one connection to the event database, where the
// database lives, the lock that serialises every use of the connection, and
// the executor that runs each data-changing operation as one transaction.
//
// Write shape: every data-changing operation hands its statements to
// ExecuteWithRetry as one body; the executor opens the transaction, runs the
// body, commits, and on a failure rolls the whole transaction back, reopens
// the connection and runs the body again (three attempts in all). The caller
// learns whether the transaction was committed; a write that was not
// committed is also recorded for the failure watches below, so a window can
// tell the user once why its work was not stored.
//
// Read shape: ReadEventRows takes the store lock, runs the query and calls
// the row reader for each row; failures throw CppSQLite3Exception to the
// caller with the lock released and the statement finalized.
//
// Waiting. A write waits for a database that another process keeps locked
// as long as the connection's busy timeout (CppSQLite3DB::kDefaultBusyTimeoutMs,
// a minute) allows each of its statements, over up to three attempts, and
// for the store lock as long: no write is dropped for a shorter wait. A thread may end the waits of its
// writes at once through an EventStoreCancelScope (a search's Stop).
//
// The writer: every write that is not part of another runs on the store's
// one writer thread, in the order the writes were made. A thread other than
// the window thread waits for its write's outcome. The window thread never
// waits: its write is tried at once when the writer is idle and nothing
// holds the store or the database, and otherwise handed to the writer,
// which stores it later in its turn (its failure reaches the failure
// watches); the call returns at once. An insertion handed over returns a
// provisional row id (kProvisionalRowIdBase and above), which every later
// statement of the store, write or read, binds as the row's real id once the
// writer has stored it (0 when it was not stored).
//
// Reads are bounded: a read waits for the store lock and for a locked
// database no longer than kEventStoreWaitLimit; after a read or write gave
// up on a busy database, reads wait only kEventStoreBusyProbe for a while.
//
// Refusals: a failure that waiting cannot mend (a read-only file or folder,
// no permission, a full disk, a damaged file, a database that cannot be
// opened, a disk error after every attempt) is remembered. Until
// kEventStoreRefusalRecheck has passed, or until a failure watch is made or
// reset (a new search or action begins), the writes that follow fail at
// once with that reason, without touching the database; then one write
// tries the database again (on a fresh connection, for a read-only one), and
// the writes go on as normal once it is stored.
//
// A lost connection (a reopen between attempts that failed: a full disk, a
// file moved away) is opened again by the next operation that needs it, as
// long as the store was opened and not closed since.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/eventstore/CppSQLite3.h"

// "Privasweep.db" in the program's data folder ($XDG_DATA_HOME/Norvane/Privasweep).
std::u16string EventDatabasePath();
// The template database "Privasweep.db" in the program folder.
std::u16string TemplateDatabasePath();

// Copies the template to the database path when no file exists there. The
// database's folder is created when missing; an existing file is never
// overwritten, and the copy appears under its name only once complete.
// True when the template was copied.
bool CopyTemplateDatabase(const std::u16string& templatePath, const std::u16string& databasePath);

// Builds the process-wide objects (called by static initialisation; safe to
// call again). ExitEventDatabase closes a connection that is still open and
// ignores a failure of that close.
void InitEventDatabase();
void ExitEventDatabase();

// The longest a read (or the opening) waits in all, for the store lock and
// for a database that another connection keeps locked.
constexpr std::chrono::milliseconds kEventStoreWaitLimit{2000};
// The wait of each read while the database is known to be held by another
// process (after an operation gave up on it, until a write is stored or
// kEventStoreBusyBackoff has passed).
constexpr std::chrono::milliseconds kEventStoreBusyProbe{100};
constexpr std::chrono::milliseconds kEventStoreBusyBackoff{10000};
// How long writes fail at once after a refusal before one tries again.
constexpr std::chrono::milliseconds kEventStoreRefusalRecheck{5000};
// Row ids handed out for insertions of the window thread not yet stored.
constexpr int64_t kProvisionalRowIdBase = int64_t{1} << 62;

// Marks the calling thread as the window thread (the one that must never
// wait on the store); an empty id marks none. Tests and tools leave it unset.
void SetEventStoreWindowThread(std::thread::id id);
// Waits until the writer has run every write handed to it, at most `bound`;
// true when none is left.
bool FinishEventStoreWrites(std::chrono::milliseconds bound);

// While one lives on a thread, that thread's writes stop waiting (for the
// store lock or the database) once the flag is non-zero, and fail as busy.
class EventStoreCancelScope {
public:
    explicit EventStoreCancelScope(const std::atomic<int32_t>* cancel);
    ~EventStoreCancelScope();
    EventStoreCancelScope(const EventStoreCancelScope&) = delete;
    EventStoreCancelScope& operator=(const EventStoreCancelScope&) = delete;

private:
    const std::atomic<int32_t>* previous_;
};

// Stores the path, opens the connection and gives a database that lacks the
// event tables its tables. Throws CppSQLite3Exception when the file cannot be
// opened or is not a usable database (no connection is left open then).
void OpenEventDatabase(const std::u16string& path);
// Closes the connection; throws CppSQLite3Exception when SQLite refuses.
// A store closed this way stays closed until it is opened again.
void CloseEventDatabase();
bool IsEventDatabaseOpen();
// The path the store was last opened with.
std::u16string OpenedEventDatabasePath();

// The recursive store lock. Hold it around every direct use of the
// connection, through EventStoreLockGuard (which bounds the wait).
std::recursive_timed_mutex& EventStoreLock();
// The connection object; use it only while holding the store lock.
CppSQLite3DB& EventDatabase();

// Holds the store lock for one read operation (or a group of reads that
// must see one state). The outermost guard of a thread waits for the lock
// no longer than the operation's bound and starts the bound of the
// connection's lock waits; it also opens a lost connection again. Throws
// CppSQLite3Exception SQLITE_BUSY when the lock is not free in time (nothing
// is held then). Guards nest on one thread.
class EventStoreLockGuard {
public:
    EventStoreLockGuard();
    ~EventStoreLockGuard();
    EventStoreLockGuard(const EventStoreLockGuard&) = delete;
    EventStoreLockGuard& operator=(const EventStoreLockGuard&) = delete;
};

// One logical write: runs its statements on the connection and returns 0
// when all of them ran, or the SQLite result code of the first failure. It
// may throw CppSQLite3Exception. It may run more than once (on a retry), so
// it must not keep state from an earlier run. A write of the window thread
// may run after the call returned: its body must own everything it uses
// (capture by value).
using EventWriteBody = std::function<int(CppSQLite3DB&)>;
// An insertion: a write body that also sets the id of the row it inserted.
using EventInsertBody = std::function<int(CppSQLite3DB&, int64_t& rowId)>;

// The executor: runs the body as one transaction on the writer (see above),
// with up to three attempts. After a failed attempt the transaction is
// rolled back, the connection is closed, the thread pauses (100 ms) and the
// stored path is opened again. A busy database is waited for inside each
// statement (up to the busy timeout each); a statement
// that cannot be prepared ends the write at once (it would fail the same
// way again), and so does a refusal (see above); the connection is kept
// then (a full disk: closing it would let the last connection's clean-up
// remove the shared-memory index, which a full disk cannot give back). True
// when the transaction was committed, or, on the window thread, handed to
// the writer; otherwise the failure is recorded for the failure watches.
// Called inside another body, it runs the body as part of that transaction
// (the enclosing write commits or fails the whole).
bool ExecuteWithRetry(const EventWriteBody& body);
// One statement with its values as one transaction.
bool ExecuteWithRetry(const std::u16string& statement, const SqlParams& params = SqlParams());
// The same for an insertion: the new row id (a provisional one when handed
// to the writer), or 0 when nothing was written.
int64_t InsertWithRetry(const EventInsertBody& body);

// The read shape. Returns the number of rows read.
int64_t ReadEventRows(const std::u16string& statement, const SqlParams& params,
                      const std::function<void(const CppSQLite3Query&)>& perRow);

// Conversions of column texts: row ids as unsigned 64-bit decimal numbers kept
// as signed values; every other number as a signed 32-bit decimal number from
// its leading digits (no digits give 0; out-of-range values are clamped).
int64_t RowIdFromText(const std::u16string& text);
int32_t IntFromText(const std::u16string& text);

// ---- Write failures, for the windows that must tell the user

// Why a write was not stored, in the terms a user can act on.
enum class EventStoreFailureKind {
    Busy,      // another process keeps the database locked (or the store lock stayed taken)
    Full,      // the disk is full
    Damaged,   // the database file is damaged or is no database
    ReadOnly,  // the database or its folder cannot be written
    DiskError, // the system reported an input/output error
    NotOpen,   // there is no connection and the database could not be opened
    Other,     // any other failure (a constraint, a missing table...)
};

struct EventStoreFailure {
    EventStoreFailureKind kind = EventStoreFailureKind::Other;
    int code = 0;              // SQLite's (extended) result code, or CppSQLite3Exception::kLayerError
    std::u16string detail;     // SQLite's text, for the logs
};

// The kind of a SQLite result code (primary or extended).
EventStoreFailureKind EventStoreFailureKindOf(int code);
// The line a window shows the user once for a failed write, in the
// program's language: what was not stored and why.
std::u16string EventStoreFailureText(const EventStoreFailure& failure);

// Watches the store's failed writes over one piece of work (a search, an
// action run): from its construction or its last Reset, it counts the
// writes that were not stored and keeps the first one's reason. Any thread
// may call any member.
//
// `notify`, when given, is called for the first failure of each span (once
// after construction, once after each Reset), on the thread whose write
// failed (the writer, mostly), possibly while that thread holds the store
// lock. It must only
// hand the news on (post a message to a window); it must not use the store,
// block, or create or destroy a watch.
//
// Locking: one process-wide mutex, taken after the store lock (never
// before), guards the list of live watches and every watch's fields; the
// notify callback runs while it is held, which keeps the watch alive for
// the call.
class EventStoreFailureWatch {
public:
    using Notify = std::function<void(const EventStoreFailure& first)>;
    explicit EventStoreFailureWatch(Notify notify = nullptr);
    ~EventStoreFailureWatch();
    EventStoreFailureWatch(const EventStoreFailureWatch&) = delete;
    EventStoreFailureWatch& operator=(const EventStoreFailureWatch&) = delete;

    // Starts a new span: the failures seen so far are forgotten. Like the
    // construction, it lets the next write try a refused database again.
    void Reset();
    // Writes not stored in this span.
    int FailedWrites() const;
    // The first failure of this span.
    std::optional<EventStoreFailure> FirstFailure() const;
    // True once per span, on the first call after a failure, with that
    // failure: the moment for the window to tell the user.
    bool TakeNotice(EventStoreFailure& first);

private:
    friend void RecordEventStoreFailure(const EventStoreFailure& failure);
    Notify notify_;
    int failed_ = 0;
    std::optional<EventStoreFailure> first_;
    bool noticed_ = false;
};

// Records a write that was not stored for every live watch (the executor
// calls it; so may an operation that failed before reaching it).
void RecordEventStoreFailure(const EventStoreFailure& failure);

// Settings for tests: the busy timeout of the connection and the bound of a
// write's waits (60000 ms normally), the executor's pause between attempts
// (100 ms normally) and the bound of a read (kEventStoreWaitLimit normally).
void SetEventStoreBusyTimeout(int milliseconds);
void SetEventStoreRetryPause(std::chrono::milliseconds pause);
void SetEventStoreWaitLimit(std::chrono::milliseconds limit);

// Counts for tests: the write attempts that reached the database (a BEGIN
// issued) and the waits for a locked database (busy handler calls), since
// the process started, and the writer's queue now.
struct EventStoreCounters {
    int64_t attempts = 0;
    int64_t busyWaits = 0;
    int64_t pending = 0;  // writes handed to the writer and not finished
};
EventStoreCounters EventStoreCountersNow();
