#include "core/eventstore/eventstore.h"

#include <sqlite3.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <memory>
#include <unordered_map>
#include <exception>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <algorithm>

#include "core/logmgr.h"
#include "platform/lockorder.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

constexpr int kWriteAttempts = 3;
constexpr char16_t kDatabaseFileName[] = u"/Privasweep.db";

// The schema of the event database, the same script the template is built from.
const char kSchemaScript[] =
#include "resources/event_schema.inc"
    ;

// The tables every statement relies on.
const char* const kEventTables[] = {"EventInfo", "FileInfo", "SearchEventLog",
                                    "FileEventLog", "ExceptionInfo", "PersonalInfo"};

using Clock = std::chrono::steady_clock;

// A write handed to the writer.
struct WriteJob {
    const EventInsertBody* body = nullptr;  // the caller's, who waits; or `owned`
    EventInsertBody owned;                  // a copy, for a write nobody waits for
    const std::atomic<int32_t>* cancel = nullptr;
    int64_t provisional = 0;  // the row id handed out for it (0: none)
    bool started = false;
    bool done = false;
    bool ok = false;
    int64_t rowId = 0;
};

struct EventStore {
    ~EventStore();

    // guards: every field below up to the writer's fields, except the
    // atomics, and every use of the connection (the store lock). Recursive:
    // a write inside another is part of it.
    plat::RankedRecursiveTimedMutex lock{plat::LockRank::EventStore, "EventStore::lock"};
    CppSQLite3DB db;
    std::u16string path;
    // Opened and not closed since: a lost connection is opened again.
    bool wanted = false;
    // Why the last reopening failed (reported by the writes that need it);
    // traced once until a reopening succeeds.
    EventStoreFailure openFailure;
    bool openFailureTraced = false;
    // Operations the holding thread is inside (guards and writes), and
    // executor frames among them: a write inside another is part of it.
    int depth = 0;
    int writeDepth = 0;
    // The bound of the outermost operation.
    Clock::time_point deadline;
    std::chrono::milliseconds retryPause{100};
    // A refusal (a failure waiting cannot mend): the writes fail at once
    // with it until recheckAt, or until recheckNow is set.
    bool refused = false;
    EventStoreFailure refusal;
    Clock::time_point recheckAt;

    // The thread inside the store (through Enter), for nested calls.
    std::atomic<std::thread::id> owner{};
    std::atomic<std::thread::id> windowThread{};
    std::atomic<bool> recheckNow{false};
    // Read before the lock is taken, to bound the wait for it.
    std::atomic<int64_t> waitLimitMs{kEventStoreWaitLimit.count()};
    std::atomic<int> busyTimeoutMs{CppSQLite3DB::kDefaultBusyTimeoutMs};
    // Until then the database is taken as held by another process.
    std::atomic<Clock::rep> busyUntil{0};
    std::atomic<int64_t> attempts{0};

    // The writer. guards: queue, running, stop, nextProvisional, writer
    // (started once). Taken alone or inside the store lock, never around it.
    // The two locks are never held together with the store lock by a
    // thread that waits on them.
    std::mutex queueLock;
    // A job queued or finished, or stop. Made anew with the writer: a child
    // forked while the parent's writer waited on it would inherit that wait.
    std::unique_ptr<std::condition_variable> queueChanged = std::make_unique<std::condition_variable>();
    std::deque<std::shared_ptr<WriteJob>> queue;
    bool running = false;
    bool stop = false;
    int64_t nextProvisional = kProvisionalRowIdBase;
    // The writer thread of this process (a child forked from it has none:
    // it starts its own).
    std::unique_ptr<std::thread> writer;
    pid_t writerPid = 0;

    // guards: resolved. Innermost of all.
    std::mutex resolveLock;
    std::unordered_map<int64_t, int64_t> resolved;  // provisional -> real row id (0: not stored)
};

int64_t Resolved(EventStore& s, int64_t value);

EventStore& Store()
{
    static EventStore store;
    return store;
}

// Built before the application starts, like the other static objects.
const bool g_storeBuilt = (InitEventDatabase(), true);

void Log(const char16_t* what, const std::u16string& detail)
{
    SearchLog().Write(u"[EventStore] %s %s", what, detail.c_str());
}

// Traces the exception being handled, with what it says. Only for handlers
// that must not throw again; never throws itself.
void LogCurrentException(const char16_t* what) noexcept
{
    try {
        try {
            throw;
        } catch (const CppSQLite3Exception& e) {
            Log(what, e.ErrorMessage());
        } catch (const std::exception& e) {
            Log(what, plat::Utf8ToWide(e.what()));
        } catch (...) {
            Log(what, u"unknown exception");
        }
    } catch (...) {
        // The trace itself failed (out of memory): nothing more can be said.
    }
}

std::string Native(const std::u16string& path)
{
    return plat::PathToNative(path);
}

bool FileExists(const std::u16string& path)
{
    return access(Native(path).c_str(), F_OK) == 0;
}

std::u16string ParentFolder(const std::u16string& path)
{
    const auto slash = path.rfind(u'/');
    if (slash == std::u16string::npos)
        return std::u16string();
    return slash == 0 ? std::u16string(u"/") : path.substr(0, slash);
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies src into a new private file in the destination's folder; the name
// of that file is returned, or an empty text on failure (nothing left behind).
std::string CopyToTemporary(const std::string& src, const std::string& dst)
{
    const int in = open(src.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return std::string();
    std::string tmp = dst + ".XXXXXX";
    const int out = mkostemp(tmp.data(), O_CLOEXEC);
    if (out < 0) {
        close(in);
        return std::string();
    }
    bool ok = true;
    std::vector<char> buf(1 << 16);
    for (;;) {
        const ssize_t n = read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (!WriteAll(out, buf.data(), static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    if (ok && fsync(out) != 0)
        ok = false;
    if (close(out) != 0)
        ok = false;
    close(in);
    if (!ok) {
        unlink(tmp.c_str());
        return std::string();
    }
    return tmp;
}

// Gives a database that lacks some of the event tables the missing ones. A
// database without an EventInfo table cannot hold events of an earlier
// numbering, so it is marked migrated with the rest of the schema; otherwise
// its migration mark is kept as it was.
void EnsureSchema(CppSQLite3DB& db)
{
    std::vector<std::u16string> tables;
    {
        CppSQLite3Query q = db.ExecuteQuery(u"SELECT name FROM sqlite_master WHERE type = 'table'");
        while (!q.AtEnd()) {
            tables.push_back(q.FieldText(0));
            q.NextRow();
        }
    }
    auto has = [&](const char* name) {
        const std::u16string wide = plat::AsciiToWide(name);
        for (const auto& t : tables)
            if (t == wide)
                return true;
        return false;
    };
    bool complete = true;
    for (const char* t : kEventTables)
        complete = complete && has(t);
    if (complete)
        return;

    std::string script = "BEGIN IMMEDIATE TRANSACTION;\n";
    script += kSchemaScript;
    if (has("EventInfo")) {
        int64_t version = 0;
        CppSQLite3Query q = db.ExecuteQuery(u"PRAGMA user_version");
        if (!q.AtEnd())
            version = RowIdFromText(q.FieldText(0));
        script += "\nPRAGMA user_version = " + std::to_string(version) + ";";
    }
    script += "\nCOMMIT TRANSACTION;";
    try {
        db.ExecuteScript(script);
    } catch (...) {
        if (db.InTransaction())
            db.ExecuteDml(u"ROLLBACK TRANSACTION");
        throw;
    }
    Log(u"created the event tables in", Store().path);
}

// Opens the stored path and readies the connection: write-ahead logging (a
// writer never waits for readers, and a commit needs no journal of its own),
// and the tables.
void OpenConnection(EventStore& s)
{
    s.db.Open(s.path);
    try {
        {
            // Not every file system can hold a write-ahead log; the rollback
            // journal then stays.
            CppSQLite3Query q = s.db.ExecuteQuery(u"PRAGMA journal_mode = WAL");
        }
        s.db.ExecuteDml(u"PRAGMA synchronous = NORMAL");
        EnsureSchema(s.db);
    } catch (...) {
        // The first failure is the one thrown on; a failing close is traced.
        try {
            s.db.Close();
        } catch (...) {
            LogCurrentException(u"close after a failed open failed:");
        }
        throw;
    }
}

void RollBack(CppSQLite3DB& db) noexcept
{
    try {
        if (db.InTransaction())
            db.ExecuteDml(u"ROLLBACK TRANSACTION");
    } catch (...) {
        // Closing the connection rolls back whatever is left.
        LogCurrentException(u"rollback failed:");
    }
}

// A thrown failure that another attempt on a fresh connection may mend.
bool Retriable(int code)
{
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

// A returned failure that no reopening mends: the attempts end at once and
// the connection is kept (closing it would let the last connection's
// clean-up remove the shared-memory index, which a full disk cannot give
// back, and the handle would be lost).
bool Lasting(int code)
{
    switch (code & 0xff) {
    case SQLITE_FULL:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
        return true;
    default:
        return false;
    }
}

// A failure that waiting cannot mend: the writes after it fail at once for
// a while (the cause is the user's to remove).
bool Refusal(const EventStoreFailure& failure)
{
    switch (failure.kind) {
    case EventStoreFailureKind::Full:
    case EventStoreFailureKind::Damaged:
    case EventStoreFailureKind::ReadOnly:
    case EventStoreFailureKind::DiskError:
    case EventStoreFailureKind::NotOpen:
        return true;
    default:
        return false;
    }
}

thread_local const std::atomic<int32_t>* t_cancel = nullptr;

bool Cancelled(const std::atomic<int32_t>* cancel)
{
    return cancel && cancel->load() != 0;
}

EventStoreFailure FailureOf(int code, const std::u16string& detail)
{
    return EventStoreFailure{EventStoreFailureKindOf(code), code, detail};
}

// The failure of a statement the connection ran: its extended code when
// SQLite still holds it.
EventStoreFailure FailureOnConnection(const CppSQLite3DB& db, int rc)
{
    const int extended = db.LastExtendedErrorCode();
    const int code = (extended & 0xff) == (rc & 0xff) ? extended : rc;
    return FailureOf(code, db.LastErrorText());
}

Clock::time_point OperationDeadline(const EventStore& s, Clock::time_point now)
{
    std::chrono::milliseconds bound(s.waitLimitMs.load());
    if (now.time_since_epoch().count() < s.busyUntil.load())
        bound = std::min(bound, kEventStoreBusyProbe);
    return now + bound;
}

// Opens the stored path again after the connection was lost; a failure is
// kept for the writes that need the connection.
void Reopen(EventStore& s)
{
    try {
        OpenConnection(s);
        if (s.openFailureTraced)
            Log(u"reopened", s.path);
        s.openFailureTraced = false;
    } catch (const CppSQLite3Exception& e) {
        s.openFailure = FailureOf(e.ErrorCode(), e.ErrorMessage());
        if (s.openFailure.kind == EventStoreFailureKind::Other)
            s.openFailure.kind = EventStoreFailureKind::NotOpen;
        if (!s.openFailureTraced)
            Log(u"reopen failed:", e.ErrorMessage());
        s.openFailureTraced = true;
    }
}

// The outermost operation of the holding thread begins: its bounds for the
// connection's lock waits, and a lost connection opened again (not while a
// refusal holds the writes back: the recheck opens it).
void Begin(EventStore& s, Clock::time_point deadline, const std::atomic<int32_t>* cancel)
{
    s.owner = std::this_thread::get_id();
    s.deadline = deadline;
    s.db.SetWaitDeadline(deadline);
    s.db.SetWaitCancel(cancel);
    if (!s.db.IsOpen() && s.wanted && (!s.refused || Clock::now() >= s.recheckAt))
        Reopen(s);
}

// Takes the store lock for one operation, waiting no longer than the
// operation's bound; false when it did not come free in time. The outermost
// operation of the holding thread starts the bound of the connection's lock
// waits and opens a lost connection again.
bool Enter(EventStore& s)
{
    const Clock::time_point deadline = OperationDeadline(s, Clock::now());
    if (!s.lock.try_lock_until(deadline)) {
        s.busyUntil = (Clock::now() + kEventStoreBusyBackoff).time_since_epoch().count();
        return false;
    }
    if (s.depth++ == 0)
        Begin(s, deadline, nullptr);
    return true;
}

void Leave(EventStore& s)
{
    if (--s.depth == 0) {
        s.db.ClearWaitDeadline();
        s.db.SetWaitCancel(nullptr);
        s.owner = std::thread::id();
    }
    s.lock.unlock();
}

// Leaves the operation on every way out of it.
struct Entered {
    EventStore& s;
    ~Entered() { Leave(s); }
};

struct WriteFrame {
    EventStore& s;
    explicit WriteFrame(EventStore& store) : s(store) { ++s.writeDepth; }
    ~WriteFrame() { --s.writeDepth; }
};

// guards: the watches of the failed writes: the list and every watch's
// fields. Taken under the store lock (a failed write reports under it).
plat::RankedMutex& WatchLock()
{
    static plat::RankedMutex lock{plat::LockRank::EventStoreWatches, "event store WatchLock"};
    return lock;
}

std::vector<EventStoreFailureWatch*>& Watches()
{
    static std::vector<EventStoreFailureWatch*> watches;
    return watches;
}

}  // namespace

std::u16string EventDatabasePath()
{
    return plat::VendorSubdir(plat::AppDataDir()) + kDatabaseFileName;
}

std::u16string TemplateDatabasePath()
{
    return plat::ProgramDir() + kDatabaseFileName;
}

bool CopyTemplateDatabase(const std::u16string& templatePath, const std::u16string& databasePath)
{
    const std::u16string folder = ParentFolder(databasePath);
    if (!folder.empty())
        plat::MakeDirs(folder);
    if (FileExists(databasePath))
        return false;
    const std::string dst = Native(databasePath);
    const std::string tmp = CopyToTemporary(Native(templatePath), dst);
    if (tmp.empty()) {
        Log(u"could not copy the template", templatePath);
        return false;
    }
    // link() refuses an existing name: a database that appeared meanwhile stays.
    const bool linked = link(tmp.c_str(), dst.c_str()) == 0;
    unlink(tmp.c_str());
    return linked;
}

void InitEventDatabase()
{
    Store();
}

void ExitEventDatabase()
{
    EventStore& s = Store();
    // What the writer still holds is stored first, within a write's bound.
    if (!FinishEventStoreWrites(std::chrono::milliseconds(s.busyTimeoutMs.load())))
        Log(u"closed with writes still queued:", s.path);
    std::lock_guard<plat::RankedRecursiveTimedMutex> guard(s.lock);
    s.wanted = false;
    try {
        s.db.Close();
    } catch (...) {
        LogCurrentException(u"close failed:");
    }
}

void OpenEventDatabase(const std::u16string& path)
{
    EventStore& s = Store();
    std::lock_guard<plat::RankedRecursiveTimedMutex> guard(s.lock);
    s.path = path;
    s.wanted = false;
    s.openFailureTraced = false;
    s.busyUntil = 0;
    s.refused = false;
    s.db.SetIntegerResolver([&s](int64_t value) { return Resolved(s, value); });
    // Bounded like any operation: a database locked by another process
    // does not hold the start-up.
    s.db.SetWaitDeadline(OperationDeadline(s, Clock::now()));
    try {
        OpenConnection(s);
    } catch (const CppSQLite3Exception& e) {
        s.db.ClearWaitDeadline();
        Log(u"open failed:", e.ErrorMessage());
        throw;
    }
    s.db.ClearWaitDeadline();
    s.wanted = true;
}

void CloseEventDatabase()
{
    EventStore& s = Store();
    std::lock_guard<plat::RankedRecursiveTimedMutex> guard(s.lock);
    s.db.Close();
    s.wanted = false;
}

bool IsEventDatabaseOpen()
{
    EventStore& s = Store();
    std::lock_guard<plat::RankedRecursiveTimedMutex> guard(s.lock);
    return s.db.IsOpen();
}

std::u16string OpenedEventDatabasePath()
{
    EventStore& s = Store();
    std::lock_guard<plat::RankedRecursiveTimedMutex> guard(s.lock);
    return s.path;
}

std::recursive_timed_mutex& EventStoreLock()
{
    return Store().lock.Native();
}

EventStoreLockGuard::EventStoreLockGuard()
{
    if (!Enter(Store()))
        throw CppSQLite3Exception(SQLITE_BUSY, u"the event store stayed busy");
}

EventStoreLockGuard::~EventStoreLockGuard()
{
    Leave(Store());
}

CppSQLite3DB& EventDatabase()
{
    return Store().db;
}

namespace {

// The outcome of one write run.
struct Outcome {
    bool ok = false;
    int64_t rowId = 0;
    bool busy = false;  // a write that was not to wait found the store or the database taken
};

// Takes the store lock for a write: at once (`wait` false) or until the
// deadline or the cancel flag.
bool EnterWrite(EventStore& s, bool wait, Clock::time_point lockDeadline, Clock::time_point deadline,
                const std::atomic<int32_t>* cancel)
{
    if (!wait) {
        if (!s.lock.try_lock())
            return false;
    } else {
        for (;;) {
            if (Cancelled(cancel))
                return false;
            const Clock::time_point now = Clock::now();
            if (now >= lockDeadline)
                return false;
            if (s.lock.try_lock_for(std::min<Clock::duration>(lockDeadline - now, std::chrono::milliseconds(50))))
                break;
        }
    }
    if (s.depth++ == 0)
        Begin(s, deadline, cancel);
    return true;
}

// Opens the write's transaction. While another connection holds the
// database's write lock, a write that waits does not wait inside SQLite
// with the store lock held: it lets the store go between tries (for as long
// as the busy timeout allows), so that the reads of other threads (the
// window's among them) go on meanwhile.
int BeginWhenFree(EventStore& s, bool wait, const std::atomic<int32_t>* cancel)
{
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(s.busyTimeoutMs.load());
    for (;;) {
        const bool alone = s.depth == 1;  // not inside a read guard of this thread
        if (wait && alone)
            s.db.SetWaitDeadline(Clock::now());
        const int rc = s.db.ExecuteDml(u"BEGIN IMMEDIATE TRANSACTION");
        s.db.SetWaitDeadline(s.deadline);
        if (!wait || !alone || (rc & 0xff) != SQLITE_BUSY)
            return rc;
        if (Cancelled(cancel) || Clock::now() >= until)
            return rc;
        // Let go of the store, pause, and take it again.
        s.depth = 0;
        s.writeDepth = 0;
        s.owner = std::thread::id();
        s.db.ClearWaitDeadline();
        s.db.SetWaitCancel(nullptr);
        s.lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        bool taken = false;
        while (!taken && !Cancelled(cancel) && Clock::now() < until)
            taken = s.lock.try_lock_for(std::chrono::milliseconds(50));
        if (!taken)
            s.lock.lock();  // the caller's frame leaves it; a read holds it only briefly
        s.depth = 1;
        s.writeDepth = 1;
        s.owner = std::this_thread::get_id();
        s.db.SetWaitDeadline(s.deadline);
        s.db.SetWaitCancel(cancel);
        if (!taken || !s.db.IsOpen())
            return SQLITE_BUSY;
    }
}

// Runs one write that is not part of another, on the calling thread: the
// attempts, the refusal and the report of a failure. A write that is not
// to wait (the window thread's) returns `busy`, unreported, where it would
// have waited.
Outcome RunWrite(EventStore& s, const EventInsertBody& body, const std::atomic<int32_t>* cancel, bool wait)
{
    // A write that waits: each wait for the database as long as the busy
    // timeout allows, and for the store lock (another thread's read or
    // write) as long too; one that does not: not at all.
    const Clock::time_point start = Clock::now();
    const Clock::time_point lockDeadline = start + std::chrono::milliseconds(s.busyTimeoutMs.load());
    const Clock::time_point deadline = wait ? Clock::time_point::max() : start;
    auto fail = [&](const EventStoreFailure& failure) {
        Log(u"write failed:", failure.detail);
        RecordEventStoreFailure(failure);
        return Outcome{};
    };
    if (!EnterWrite(s, wait, lockDeadline, deadline, cancel)) {
        if (!wait)
            return Outcome{false, 0, true};
        // Another thread of the program stayed inside the store, or the
        // write was called off.
        return fail(FailureOf(SQLITE_BUSY, u"the event store stayed busy"));
    }
    Entered entered{s};
    WriteFrame frame(s);
    CppSQLite3DB& db = s.db;

    if (s.refused) {
        if (!s.recheckNow.exchange(false) && Clock::now() < s.recheckAt) {
            // Told already; nothing waits and nothing touches the file.
            RecordEventStoreFailure(s.refusal);
            return Outcome{};
        }
        // One write tries again; a read-only connection stays read-only
        // until it is opened afresh.
        if (s.refusal.kind == EventStoreFailureKind::ReadOnly && db.IsOpen()) {
            try {
                db.Close();
            } catch (const CppSQLite3Exception& e) {
                Log(u"close failed:", e.ErrorMessage());
            }
        }
        if (!db.IsOpen() && s.wanted)
            Reopen(s);
    }

    EventStoreFailure failure;
    bool gaveUp = false;
    if (!db.IsOpen()) {
        failure = s.wanted ? s.openFailure : FailureOf(CppSQLite3Exception::kLayerError, u"Database not open");
        failure.kind = EventStoreFailureKind::NotOpen;
        gaveUp = true;
    } else if (db.InTransaction()) {
        // Left open by a rollback that failed: this write must not become
        // part of it and never commit.
        RollBack(db);
    }

    for (int attempt = 1; !gaveUp && attempt <= kWriteAttempts; ++attempt) {
        bool again = true;
        int64_t rowId = 0;
        ++s.attempts;
        try {
            int rc = BeginWhenFree(s, wait, cancel);
            if (rc == SQLITE_OK)
                rc = body(db, rowId);
            if (rc == SQLITE_OK)
                rc = db.ExecuteDml(u"COMMIT TRANSACTION");
            if (rc == SQLITE_OK) {
                s.busyUntil = 0;
                if (s.refused)
                    Log(u"writes stored again in", s.path);
                s.refused = false;
                return Outcome{true, rowId, false};
            }
            failure = FailureOnConnection(db, rc);
            RollBack(db);
            again = !Lasting(rc);
        } catch (const CppSQLite3Exception& e) {
            failure = FailureOf(e.ErrorCode(), e.ErrorMessage());
            RollBack(db);
            again = Retriable(e.ErrorCode());
        } catch (...) {
            failure = FailureOf(CppSQLite3Exception::kLayerError, u"unexpected exception");
            LogCurrentException(u"write failed:");
            RollBack(db);
            again = false;
        }
        if (!wait && failure.kind == EventStoreFailureKind::Busy)
            return Outcome{false, 0, true};  // the writer waits instead
        Log(u"write failed:", failure.detail);
        // Start over on a fresh connection, unless the failure lasts, the
        // write was called off or its bound would pass before the next
        // attempt could begin.
        const bool bounded = s.deadline != Clock::time_point::max();
        if (!again || Cancelled(cancel) || (bounded && Clock::now() + s.retryPause >= s.deadline))
            break;
        try {
            db.Close();
        } catch (const CppSQLite3Exception& e) {
            Log(u"close failed:", e.ErrorMessage());
            break;
        }
        std::this_thread::sleep_for(s.retryPause);
        Reopen(s);
        if (!db.IsOpen())
            break;  // lost until a later operation manages to open it again
    }

    if (failure.kind == EventStoreFailureKind::Busy)
        s.busyUntil = (Clock::now() + kEventStoreBusyBackoff).time_since_epoch().count();
    if (Refusal(failure) && s.wanted) {
        if (!s.refused)
            Log(u"writes refused until the cause is gone:", failure.detail);
        s.refused = true;
        s.refusal = failure;
        s.recheckAt = Clock::now() + kEventStoreRefusalRecheck;
        s.recheckNow = false;
    }
    RecordEventStoreFailure(failure);
    return Outcome{};
}

void Resolve(EventStore& s, int64_t provisional, int64_t rowId)
{
    std::lock_guard<std::mutex> guard(s.resolveLock);
    s.resolved[provisional] = rowId;
}

int64_t Resolved(EventStore& s, int64_t value)
{
    if (value < kProvisionalRowIdBase)
        return value;
    std::lock_guard<std::mutex> guard(s.resolveLock);
    const auto it = s.resolved.find(value);
    return it == s.resolved.end() ? 0 : it->second;
}

void WriterLoop(EventStore& s)
{
    std::unique_lock<std::mutex> lk(s.queueLock);
    for (;;) {
        s.queueChanged->wait(lk, [&] { return s.stop || !s.queue.empty(); });
        if (s.queue.empty())
            return;  // stopped, and nothing is left
        const std::shared_ptr<WriteJob> job = s.queue.front();
        s.queue.pop_front();
        job->started = true;
        s.running = true;
        lk.unlock();
        Outcome outcome;
        try {
            outcome = RunWrite(s, *job->body, job->cancel, true);
        } catch (...) {
            LogCurrentException(u"write failed:");
        }
        if (job->provisional)
            Resolve(s, job->provisional, outcome.ok ? outcome.rowId : 0);
        lk.lock();
        job->ok = outcome.ok;
        job->rowId = outcome.rowId;
        job->done = true;
        s.running = false;
        s.queueChanged->notify_all();
    }
}

// Queues a job for the writer (started on first use). Called with the
// queue lock held.
void Queue(EventStore& s, const std::shared_ptr<WriteJob>& job)
{
    if (!s.writer || s.writerPid != getpid()) {
        if (s.writer) {
            // The parent's thread, which this process lacks, and its wait.
            (void)s.writer.release();
            (void)s.queueChanged.release();
            s.queueChanged = std::make_unique<std::condition_variable>();
        }
        s.running = false;
        s.writer = std::make_unique<std::thread>([&s] { WriterLoop(s); });
        s.writerPid = getpid();
    }
    s.queue.push_back(job);
    s.queueChanged->notify_all();
}

// Every write that is not part of another comes here.
Outcome Submit(const EventInsertBody& body)
{
    EventStore& s = Store();
    const std::thread::id self = std::this_thread::get_id();
    if (s.owner.load() == self) {
        // This thread is inside the store already.
        if (s.writeDepth > 0) {
            // Part of an enclosing write: that write commits or retries the whole.
            WriteFrame frame(s);
            int64_t rowId = 0;
            const bool ok = body(s.db, rowId) == SQLITE_OK;
            return Outcome{ok, ok ? rowId : 0, false};
        }
        return RunWrite(s, body, t_cancel, true);  // under its own read guard
    }
    auto job = std::make_shared<WriteJob>();
    if (self == s.windowThread.load()) {
        bool idle;
        {
            std::lock_guard<std::mutex> guard(s.queueLock);
            idle = s.queue.empty() && !s.running;
        }
        if (idle) {
            // Nothing queued before it: stored now when nothing needs waiting for.
            const Outcome now = RunWrite(s, body, nullptr, false);
            if (!now.busy)
                return now;
        }
        job->owned = body;
        job->body = &job->owned;
        std::lock_guard<std::mutex> guard(s.queueLock);
        job->provisional = s.nextProvisional++;
        Queue(s, job);
        return Outcome{true, job->provisional, false};
    }
    job->body = &body;
    job->cancel = t_cancel;
    std::unique_lock<std::mutex> lk(s.queueLock);
    Queue(s, job);
    while (!job->done) {
        s.queueChanged->wait_for(lk, std::chrono::milliseconds(50));
        if (!job->started && !job->done && Cancelled(job->cancel)) {
            // Called off before its turn: the writes ahead of it may wait on.
            s.queue.erase(std::find(s.queue.begin(), s.queue.end(), job));
            lk.unlock();
            const EventStoreFailure failure =
                FailureOf(SQLITE_BUSY, u"the write was called off while the store was busy");
            Log(u"write failed:", failure.detail);
            RecordEventStoreFailure(failure);
            return Outcome{};
        }
    }
    return Outcome{job->ok, job->rowId, false};
}

}  // namespace

EventStore::~EventStore()
{
    {
        std::lock_guard<std::mutex> guard(queueLock);
        stop = true;
        queueChanged->notify_all();
    }
    if (writer && writerPid == getpid())
        writer->join();
    else
        (void)writer.release();
}

void SetEventStoreWindowThread(std::thread::id id)
{
    Store().windowThread = id;
}

bool FinishEventStoreWrites(std::chrono::milliseconds bound)
{
    EventStore& s = Store();
    std::unique_lock<std::mutex> lk(s.queueLock);
    return s.queueChanged->wait_for(lk, bound, [&] { return s.queue.empty() && !s.running; });
}

EventStoreCancelScope::EventStoreCancelScope(const std::atomic<int32_t>* cancel) : previous_(t_cancel)
{
    t_cancel = cancel;
}

EventStoreCancelScope::~EventStoreCancelScope()
{
    t_cancel = previous_;
}

bool ExecuteWithRetry(const EventWriteBody& body)
{
    return Submit([body](CppSQLite3DB& db, int64_t&) { return body(db); }).ok;
}

int64_t InsertWithRetry(const EventInsertBody& body)
{
    const Outcome outcome = Submit(body);
    return outcome.ok ? outcome.rowId : 0;
}

bool ExecuteWithRetry(const std::u16string& statement, const SqlParams& params)
{
    return ExecuteWithRetry([statement, params](CppSQLite3DB& db) { return db.ExecuteDml(statement, params); });
}

int64_t ReadEventRows(const std::u16string& statement, const SqlParams& params,
                      const std::function<void(const CppSQLite3Query&)>& perRow)
{
    EventStoreLockGuard guard;
    CppSQLite3Query query;
    {
        CppSQLite3Query result = EventDatabase().ExecuteQuery(statement, params);
        query.Assign(result);
    }
    if (!query.HasStatement())
        throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, u"Null Virtual Machine pointer");
    int64_t rows = 0;
    while (!query.AtEnd()) {
        perRow(query);
        ++rows;
        query.NextRow();
    }
    return rows;
}

int64_t RowIdFromText(const std::u16string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - u'0');
        if (value > (UINT64_MAX - digit) / 10)
            overflow = true;
        else
            value = value * 10 + digit;
    }
    if (overflow)
        value = UINT64_MAX;
    else if (negative)
        value = ~value + 1;
    return static_cast<int64_t>(value);
}

int32_t IntFromText(const std::u16string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1)
            value = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        value = INT32_MAX;
    return static_cast<int32_t>(value);
}

void SetEventStoreBusyTimeout(int milliseconds)
{
    EventStore& s = Store();
    std::lock_guard<plat::RankedRecursiveTimedMutex> guard(s.lock);
    s.db.SetBusyTimeout(milliseconds);
    s.busyTimeoutMs = milliseconds;
}

void SetEventStoreRetryPause(std::chrono::milliseconds pause)
{
    EventStore& s = Store();
    std::lock_guard<plat::RankedRecursiveTimedMutex> guard(s.lock);
    s.retryPause = pause;
}

void SetEventStoreWaitLimit(std::chrono::milliseconds limit)
{
    Store().waitLimitMs = limit.count();
}

EventStoreCounters EventStoreCountersNow()
{
    EventStore& s = Store();
    std::lock_guard<std::mutex> guard(s.queueLock);
    return EventStoreCounters{s.attempts.load(), s.db.BusyWaits(),
                              static_cast<int64_t>(s.queue.size()) + (s.running ? 1 : 0)};
}

// ---------------------------------------------------------------------------
// Write failures

EventStoreFailureKind EventStoreFailureKindOf(int code)
{
    if (code == CppSQLite3Exception::kLayerError)
        return EventStoreFailureKind::Other;
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return EventStoreFailureKind::Busy;
    case SQLITE_FULL: return EventStoreFailureKind::Full;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return EventStoreFailureKind::Damaged;
    case SQLITE_READONLY:
    case SQLITE_PERM: return EventStoreFailureKind::ReadOnly;
    case SQLITE_IOERR: return EventStoreFailureKind::DiskError;
    case SQLITE_CANTOPEN: return EventStoreFailureKind::NotOpen;
    default: return EventStoreFailureKind::Other;
    }
}

std::u16string EventStoreFailureText(const EventStoreFailure& failure)
{
    const char16_t* why = u"데이터베이스 오류가 발생했습니다";
    switch (failure.kind) {
    case EventStoreFailureKind::Busy: why = u"다른 프로그램이 데이터베이스를 사용하고 있습니다"; break;
    case EventStoreFailureKind::Full: why = u"디스크 공간이 부족합니다"; break;
    case EventStoreFailureKind::Damaged: why = u"데이터베이스 파일이 손상되었습니다"; break;
    case EventStoreFailureKind::ReadOnly: why = u"데이터베이스 파일에 쓸 수 없습니다"; break;
    case EventStoreFailureKind::DiskError: why = u"디스크 입출력 오류가 발생했습니다"; break;
    case EventStoreFailureKind::NotOpen: why = u"데이터베이스를 열 수 없습니다"; break;
    case EventStoreFailureKind::Other: break;
    }
    return std::u16string(u"이벤트 데이터베이스에 기록하지 못했습니다: ") + why + u".";
}

void RecordEventStoreFailure(const EventStoreFailure& failure)
{
    std::lock_guard<plat::RankedMutex> guard(WatchLock());
    for (EventStoreFailureWatch* w : Watches()) {
        ++w->failed_;
        if (w->first_)
            continue;
        w->first_ = failure;
        if (w->notify_) {
            try {
                w->notify_(failure);
            } catch (...) {
                LogCurrentException(u"failure notice failed:");
            }
        }
    }
}

EventStoreFailureWatch::EventStoreFailureWatch(Notify notify) : notify_(std::move(notify))
{
    // A new piece of work: a refused database is tried again.
    Store().recheckNow = true;
    std::lock_guard<plat::RankedMutex> guard(WatchLock());
    Watches().push_back(this);
}

EventStoreFailureWatch::~EventStoreFailureWatch()
{
    std::lock_guard<plat::RankedMutex> guard(WatchLock());
    auto& watches = Watches();
    watches.erase(std::remove(watches.begin(), watches.end(), this), watches.end());
}

void EventStoreFailureWatch::Reset()
{
    Store().recheckNow = true;
    std::lock_guard<plat::RankedMutex> guard(WatchLock());
    failed_ = 0;
    first_.reset();
    noticed_ = false;
}

int EventStoreFailureWatch::FailedWrites() const
{
    std::lock_guard<plat::RankedMutex> guard(WatchLock());
    return failed_;
}

std::optional<EventStoreFailure> EventStoreFailureWatch::FirstFailure() const
{
    std::lock_guard<plat::RankedMutex> guard(WatchLock());
    return first_;
}

bool EventStoreFailureWatch::TakeNotice(EventStoreFailure& first)
{
    std::lock_guard<plat::RankedMutex> guard(WatchLock());
    if (!first_ || noticed_)
        return false;
    noticed_ = true;
    first = *first_;
    return true;
}
