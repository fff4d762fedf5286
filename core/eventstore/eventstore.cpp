#include "core/eventstore/eventstore.h"

#include <sqlite3.h>

#include <cerrno>
#include <exception>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/logmgr.h"
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

struct EventStore {
    std::recursive_mutex lock;
    CppSQLite3DB db;
    std::u16string path;
    std::chrono::milliseconds retryPause{100};
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

bool Retriable(int code)
{
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
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
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    try {
        s.db.Close();
    } catch (...) {
        LogCurrentException(u"close failed:");
    }
}

void OpenEventDatabase(const std::u16string& path)
{
    EventStore& s = Store();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    s.path = path;
    try {
        OpenConnection(s);
    } catch (const CppSQLite3Exception& e) {
        Log(u"open failed:", e.ErrorMessage());
        throw;
    }
}

void CloseEventDatabase()
{
    EventStore& s = Store();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    s.db.Close();
}

bool IsEventDatabaseOpen()
{
    EventStore& s = Store();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    return s.db.IsOpen();
}

std::u16string OpenedEventDatabasePath()
{
    EventStore& s = Store();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    return s.path;
}

std::recursive_mutex& EventStoreLock()
{
    return Store().lock;
}

CppSQLite3DB& EventDatabase()
{
    return Store().db;
}

bool ExecuteWithRetry(const EventWriteBody& body)
{
    EventStore& s = Store();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    CppSQLite3DB& db = s.db;

    // Part of an enclosing write: that write commits or retries the whole.
    if (db.InTransaction())
        return body(db) == SQLITE_OK;

    for (int attempt = 1; attempt <= kWriteAttempts; ++attempt) {
        int rc;
        try {
            rc = db.ExecuteDml(u"BEGIN IMMEDIATE TRANSACTION");
            if (rc == SQLITE_OK)
                rc = body(db);
            if (rc == SQLITE_OK)
                rc = db.ExecuteDml(u"COMMIT TRANSACTION");
            if (rc == SQLITE_OK)
                return true;
            RollBack(db);
            Log(u"write failed:", CppSQLite3Exception::CodeName(rc));
        } catch (const CppSQLite3Exception& e) {
            RollBack(db);
            Log(u"write failed:", e.ErrorMessage());
            if (!Retriable(e.ErrorCode()))
                return false;
        } catch (...) {
            LogCurrentException(u"write failed:");
            RollBack(db);
            return false;
        }

        // Start over on a fresh connection.
        try {
            db.Close();
        } catch (const CppSQLite3Exception& e) {
            Log(u"close failed:", e.ErrorMessage());
            return false;
        }
        std::this_thread::sleep_for(s.retryPause);
        try {
            OpenConnection(s);
        } catch (const CppSQLite3Exception& e) {
            Log(u"reopen failed:", e.ErrorMessage());
            return false;
        }
    }
    return false;
}

bool ExecuteWithRetry(const std::u16string& statement, const SqlParams& params)
{
    return ExecuteWithRetry([&](CppSQLite3DB& db) { return db.ExecuteDml(statement, params); });
}

int64_t ReadEventRows(const std::u16string& statement, const SqlParams& params,
                      const std::function<void(const CppSQLite3Query&)>& perRow)
{
    std::lock_guard<std::recursive_mutex> guard(EventStoreLock());
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
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    s.db.SetBusyTimeout(milliseconds);
}

void SetEventStoreRetryPause(std::chrono::milliseconds pause)
{
    EventStore& s = Store();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    s.retryPause = pause;
}
