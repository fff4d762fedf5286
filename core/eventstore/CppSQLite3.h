// A thin object layer over SQLite 3: one database connection, a query
// cursor and the exception that reports every failure the layer detects.
//
// Values never enter the statement text: every statement takes its values as
// bound parameters ("?" in the text, SqlParams in order). Texts cross the
// boundary as UTF-8 produced and read by the program's lossless codec, so a
// path that holds bytes which are not valid UTF-8 is read back unchanged.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// One bound value: an integer or a text.
using SqlValue = std::variant<int64_t, std::u16string>;
using SqlParams = std::vector<SqlValue>;

class CppSQLite3Exception {
public:
    // Code 1000: an error that the layer itself detected.
    static constexpr int kLayerError = 1000;

    CppSQLite3Exception(int code, const std::u16string& text = std::u16string());
    CppSQLite3Exception(const CppSQLite3Exception&) = default;
    CppSQLite3Exception& operator=(const CppSQLite3Exception&) = default;
    virtual ~CppSQLite3Exception();

    int ErrorCode() const { return m_nErrCode; }
    // "<code name>[<code>]: <text>"
    const std::u16string& ErrorMessage() const { return m_strErrMess; }

    // The name of an SQLite result code ("SQLITE_BUSY"), "CPPSQLITE_ERROR" for
    // 1000 and "UNKNOWN_ERROR" for anything else.
    static const char16_t* CodeName(int code);

private:
    int m_nErrCode;
    std::u16string m_strErrMess;
};

class CppSQLite3Query {
public:
    // A query that holds no statement and stands at its end.
    CppSQLite3Query();
    CppSQLite3Query(sqlite3* db, sqlite3_stmt* stmt, bool atEnd, bool ownStatement);
    CppSQLite3Query(const CppSQLite3Query&) = delete;
    CppSQLite3Query& operator=(const CppSQLite3Query&) = delete;
    CppSQLite3Query(CppSQLite3Query&& other) noexcept;
    CppSQLite3Query& operator=(CppSQLite3Query&& other) noexcept;
    virtual ~CppSQLite3Query();

    // Takes the other query's statement over (finalizing an owned statement
    // this query held); the other then holds none.
    void Assign(CppSQLite3Query& other);

    bool HasStatement() const { return m_pVM != nullptr; }
    int NumFields() const { return m_nCols; }

    // Index of the first column whose name equals the name exactly.
    // Throws 1000 "Invalid field name requested" when there is none.
    int FieldIndex(const char16_t* name) const;

    // The column of the current row as text; SQL NULL reads as empty text.
    std::u16string FieldText(int column) const;
    std::u16string FieldText(const char16_t* name) const { return FieldText(FieldIndex(name)); }

    bool AtEnd() const { return m_bEof; }

    // Steps to the next row. A failed step finalizes the statement and throws.
    void NextRow();

private:
    void Finalize() noexcept;
    void RequireStatement() const;

    sqlite3* m_pDB = nullptr;
    sqlite3_stmt* m_pVM = nullptr;
    bool m_bEof = true;
    int m_nCols = 0;
    bool m_bOwnVM = false;
};

class CppSQLite3DB {
public:
    static constexpr int kDefaultBusyTimeoutMs = 60000;

    CppSQLite3DB();
    CppSQLite3DB(const CppSQLite3DB&) = delete;
    CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;
    virtual ~CppSQLite3DB();

    // Opens (or creates) the database file and sets the busy timeout.
    // Throws with SQLite's code and text when the file cannot be opened; the
    // object then holds no connection.
    void Open(const std::u16string& path);

    // Closes an open connection; throws when SQLite refuses (the connection
    // stays open then). Does nothing without a connection.
    void Close();

    bool IsOpen() const { return m_pDB != nullptr; }

    // Runs a statement that changes data, one step. Returns 0 when it ran and
    // the SQLite result code of the failure otherwise (never 0 for a failure).
    // Throws when there is no connection or the statement cannot be prepared.
    int ExecuteDml(const std::u16string& statement, const SqlParams& params = SqlParams());

    // Runs a query; the result stands on its first row or at its end.
    // Throws on every failure.
    CppSQLite3Query ExecuteQuery(const std::u16string& statement, const SqlParams& params = SqlParams());

    // Runs a script of statements without values (the schema). Throws on failure.
    void ExecuteScript(const std::string& utf8Script);

    // True while a transaction is open on the connection.
    bool InTransaction() const;

    int64_t LastInsertRowId() const;

    // How long a statement waits for a lock that another connection holds:
    // SQLite is asked again, with short sleeps, until the busy timeout has
    // passed since the wait began or the wait deadline is reached, whichever
    // comes first; then the statement fails with SQLITE_BUSY.
    void SetBusyTimeout(int milliseconds);
    int BusyTimeout() const { return m_nBusyTimeoutMs; }
    // A point in time after which no statement waits for a lock any more;
    // the default (no deadline) leaves the busy timeout alone to bound it.
    using Clock = std::chrono::steady_clock;
    void SetWaitDeadline(Clock::time_point deadline) { m_waitDeadline = deadline; }
    void ClearWaitDeadline() { m_waitDeadline = Clock::time_point::max(); }
    // A flag that, once non-zero, ends every wait for a lock at once (the
    // statement fails with SQLITE_BUSY); null for none.
    void SetWaitCancel(const std::atomic<int32_t>* cancel) { m_waitCancel = cancel; }
    // Calls of the busy handler so far (each is one short sleep).
    int64_t BusyWaits() const { return m_busyWaits.load(); }

    // Maps every integer value bound to a statement before it is bound
    // (null: the values as given).
    void SetIntegerResolver(std::function<int64_t(int64_t)> resolve) { m_resolve = std::move(resolve); }

    // SQLite's extended result code and text of the last failure on the
    // connection (0 and empty text without a connection).
    int LastExtendedErrorCode() const;
    std::u16string LastErrorText() const;

    sqlite3* Handle() const { return m_pDB; }

private:
    sqlite3_stmt* Compile(const std::u16string& statement, const SqlParams& params);
    void RequireOpen() const;

    static int BusyWait(void* self, int count);

    sqlite3* m_pDB = nullptr;
    int m_nBusyTimeoutMs = kDefaultBusyTimeoutMs;
    Clock::time_point m_waitDeadline = Clock::time_point::max();
    Clock::time_point m_busySince;  // when the current wait for a lock began
    const std::atomic<int32_t>* m_waitCancel = nullptr;
    std::atomic<int64_t> m_busyWaits{0};
    std::function<int64_t(int64_t)> m_resolve;
};
