#include "core/eventstore/eventstore.h"

#include <sqlite3.h>

#include <atomic>
#include <cerrno>
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

struct EventStore {
    // guards: every field below except the atomics, and every use of the
    // connection (the store lock). Recursive: a write inside another is
    // part of it.
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

    // Read before the lock is taken, to bound the wait for it.
    std::atomic<int64_t> waitLimitMs{kEventStoreWaitLimit.count()};
    // Until then the database is taken as held by another process.
    std::atomic<Clock::rep> busyUntil{0};
};

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
        return true;
    default:
        return false;
    }
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

// Takes the store lock for one operation, waiting no longer than the
// operation's bound; false when it did not come free in time. The outermost
// operation of the holding thread starts the bound of the connection's lock
// waits and opens a lost connection again.
bool Enter(EventStore& s)
{
    const Clock::time_point deadline = OperationDeadline(s, Clock::now());
    if (!s.lock.try_lock_until(deadline))
        return false;
    if (s.depth++ == 0) {
        s.deadline = deadline;
        s.db.SetWaitDeadline(deadline);
        if (!s.db.IsOpen() && s.wanted)
            Reopen(s);
    }
    return true;
}

void Leave(EventStore& s)
{
    if (--s.depth == 0)
        s.db.ClearWaitDeadline();
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

bool ExecuteWithRetry(const EventWriteBody& body)
{
    EventStore& s = Store();
    if (!Enter(s)) {
        // Another thread of the program is inside the store, itself waiting
        // for the database.
        const EventStoreFailure failure = FailureOf(SQLITE_BUSY, u"the event store stayed busy");
        Log(u"write failed:", failure.detail);
        RecordEventStoreFailure(failure);
        return false;
    }
    Entered entered{s};
    CppSQLite3DB& db = s.db;

    // Part of an enclosing write: that write commits or retries the whole.
    if (s.writeDepth > 0) {
        WriteFrame frame(s);
        return body(db) == SQLITE_OK;
    }
    WriteFrame frame(s);

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
        try {
            int rc = db.ExecuteDml(u"BEGIN IMMEDIATE TRANSACTION");
            if (rc == SQLITE_OK)
                rc = body(db);
            if (rc == SQLITE_OK)
                rc = db.ExecuteDml(u"COMMIT TRANSACTION");
            if (rc == SQLITE_OK) {
                s.busyUntil = 0;
                return true;
            }
            failure = FailureOnConnection(db, rc);
            RollBack(db);
            Log(u"write failed:", CppSQLite3Exception::CodeName(rc));
            again = !Lasting(rc);
        } catch (const CppSQLite3Exception& e) {
            failure = FailureOf(e.ErrorCode(), e.ErrorMessage());
            RollBack(db);
            Log(u"write failed:", e.ErrorMessage());
            again = Retriable(e.ErrorCode());
        } catch (...) {
            failure = FailureOf(CppSQLite3Exception::kLayerError, u"unexpected exception");
            LogCurrentException(u"write failed:");
            RollBack(db);
            again = false;
        }
        // Start over on a fresh connection, unless the failure lasts or the
        // operation's bound would pass before the next attempt could begin.
        if (!again || Clock::now() + s.retryPause >= s.deadline)
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
    RecordEventStoreFailure(failure);
    return false;
}

bool ExecuteWithRetry(const std::u16string& statement, const SqlParams& params)
{
    return ExecuteWithRetry([&](CppSQLite3DB& db) { return db.ExecuteDml(statement, params); });
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
