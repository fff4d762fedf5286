#include "core/eventstore/CppSQLite3.h"

#include <sqlite3.h>

#include <algorithm>
#include <iterator>
#include <thread>
#include <utility>

#include "platform/text.h"

namespace {

// How often a statement is prepared again after the schema changed under it.
constexpr int kMaxSchemaRetries = 5;

std::u16string ErrorText(sqlite3* db)
{
    if (!db)
        return u"out of memory";
    const void* msg = sqlite3_errmsg16(db);
    return msg ? std::u16string(static_cast<const char16_t*>(msg)) : std::u16string();
}

std::u16string Decimal(int value)
{
    return plat::AsciiToWide(std::to_string(value));
}

}  // namespace

// ---------------------------------------------------------------------------
// CppSQLite3Exception

CppSQLite3Exception::CppSQLite3Exception(int code, const std::u16string& text) : m_nErrCode(code)
{
    m_strErrMess = CodeName(code);
    m_strErrMess += u"[";
    m_strErrMess += Decimal(code);
    m_strErrMess += u"]: ";
    m_strErrMess += text;
}

CppSQLite3Exception::~CppSQLite3Exception() = default;

const char16_t* CppSQLite3Exception::CodeName(int code)
{
    switch (code) {
    case SQLITE_OK: return u"SQLITE_OK";
    case SQLITE_ERROR: return u"SQLITE_ERROR";
    case SQLITE_INTERNAL: return u"SQLITE_INTERNAL";
    case SQLITE_PERM: return u"SQLITE_PERM";
    case SQLITE_ABORT: return u"SQLITE_ABORT";
    case SQLITE_BUSY: return u"SQLITE_BUSY";
    case SQLITE_LOCKED: return u"SQLITE_LOCKED";
    case SQLITE_NOMEM: return u"SQLITE_NOMEM";
    case SQLITE_READONLY: return u"SQLITE_READONLY";
    case SQLITE_INTERRUPT: return u"SQLITE_INTERRUPT";
    case SQLITE_IOERR: return u"SQLITE_IOERR";
    case SQLITE_CORRUPT: return u"SQLITE_CORRUPT";
    case SQLITE_NOTFOUND: return u"SQLITE_NOTFOUND";
    case SQLITE_FULL: return u"SQLITE_FULL";
    case SQLITE_CANTOPEN: return u"SQLITE_CANTOPEN";
    case SQLITE_PROTOCOL: return u"SQLITE_PROTOCOL";
    case SQLITE_EMPTY: return u"SQLITE_EMPTY";
    case SQLITE_SCHEMA: return u"SQLITE_SCHEMA";
    case SQLITE_TOOBIG: return u"SQLITE_TOOBIG";
    case SQLITE_CONSTRAINT: return u"SQLITE_CONSTRAINT";
    case SQLITE_MISMATCH: return u"SQLITE_MISMATCH";
    case SQLITE_MISUSE: return u"SQLITE_MISUSE";
    case SQLITE_NOLFS: return u"SQLITE_NOLFS";
    case SQLITE_AUTH: return u"SQLITE_AUTH";
    case SQLITE_FORMAT: return u"SQLITE_FORMAT";
    case SQLITE_RANGE: return u"SQLITE_RANGE";
    case SQLITE_ROW: return u"SQLITE_ROW";
    case SQLITE_DONE: return u"SQLITE_DONE";
    case kLayerError: return u"CPPSQLITE_ERROR";
    default: return u"UNKNOWN_ERROR";
    }
}

// ---------------------------------------------------------------------------
// CppSQLite3Query

CppSQLite3Query::CppSQLite3Query() = default;

CppSQLite3Query::CppSQLite3Query(sqlite3* db, sqlite3_stmt* stmt, bool atEnd, bool ownStatement)
    : m_pDB(db), m_pVM(stmt), m_bEof(atEnd), m_nCols(stmt ? sqlite3_column_count(stmt) : 0), m_bOwnVM(ownStatement)
{
}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& other) noexcept
{
    Assign(other);
}

CppSQLite3Query& CppSQLite3Query::operator=(CppSQLite3Query&& other) noexcept
{
    if (this != &other)
        Assign(other);
    return *this;
}

CppSQLite3Query::~CppSQLite3Query()
{
    Finalize();
}

void CppSQLite3Query::Finalize() noexcept
{
    if (m_pVM && m_bOwnVM)
        sqlite3_finalize(m_pVM);  // a failure here has nothing left to report
    m_pVM = nullptr;
}

void CppSQLite3Query::Assign(CppSQLite3Query& other)
{
    if (this == &other)
        return;
    Finalize();
    m_pDB = other.m_pDB;
    m_pVM = other.m_pVM;
    m_bEof = other.m_bEof;
    m_nCols = other.m_nCols;
    m_bOwnVM = other.m_bOwnVM;
    other.m_pVM = nullptr;
    other.m_bEof = true;
    other.m_nCols = 0;
    other.m_bOwnVM = false;
}

void CppSQLite3Query::RequireStatement() const
{
    if (!m_pVM)
        throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, u"Null Virtual Machine pointer");
}

int CppSQLite3Query::FieldIndex(const char16_t* name) const
{
    RequireStatement();
    if (name && m_nCols > 0) {
        const std::u16string_view wanted(name);
        for (int i = 0; i < m_nCols; ++i) {
            const void* colName = sqlite3_column_name16(m_pVM, i);
            if (colName && wanted == std::u16string_view(static_cast<const char16_t*>(colName)))
                return i;
        }
    }
    throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, u"Invalid field name requested");
}

std::u16string CppSQLite3Query::FieldText(int column) const
{
    RequireStatement();
    if (column < 0 || column >= m_nCols)
        throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, u"Invalid field index requested");
    if (m_bEof)
        return std::u16string();
    const unsigned char* text = sqlite3_column_text(m_pVM, column);
    if (!text)
        return std::u16string();  // SQL NULL (or out of memory): empty text
    const int bytes = sqlite3_column_bytes(m_pVM, column);
    return plat::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(text), static_cast<size_t>(bytes)));
}

void CppSQLite3Query::NextRow()
{
    RequireStatement();
    const int rc = sqlite3_step(m_pVM);
    if (rc == SQLITE_DONE) {
        m_bEof = true;
        return;
    }
    if (rc == SQLITE_ROW) {
        m_bEof = false;
        return;
    }
    const std::u16string text = ErrorText(m_pDB);
    if (m_bOwnVM)
        sqlite3_finalize(m_pVM);
    m_pVM = nullptr;
    m_bEof = true;
    throw CppSQLite3Exception(rc, text);
}

// ---------------------------------------------------------------------------
// CppSQLite3DB

CppSQLite3DB::CppSQLite3DB() = default;

CppSQLite3DB::~CppSQLite3DB()
{
    if (m_pDB)
        sqlite3_close(m_pDB);  // failures are ignored on destruction
    m_pDB = nullptr;
}

void CppSQLite3DB::Open(const std::u16string& path)
{
    Close();
    sqlite3* db = nullptr;
    const std::string native = plat::PathToNative(path);
    const int rc = sqlite3_open_v2(native.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        const std::u16string text = ErrorText(db);
        sqlite3_close(db);
        throw CppSQLite3Exception(rc, text);
    }
    m_pDB = db;
    sqlite3_busy_handler(m_pDB, &CppSQLite3DB::BusyWait, this);
}

int CppSQLite3DB::BusyWait(void* self, int count)
{
    // The sleeps grow like SQLite's own busy timeout's, up to 50 ms.
    static constexpr int kSleepsMs[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50};
    auto* db = static_cast<CppSQLite3DB*>(self);
    ++db->m_busyWaits;
    if (db->m_waitCancel && db->m_waitCancel->load() != 0)
        return 0;
    const Clock::time_point now = Clock::now();
    if (count == 0)
        db->m_busySince = now;
    Clock::time_point limit = db->m_busySince + std::chrono::milliseconds(std::max(0, db->m_nBusyTimeoutMs));
    limit = std::min(limit, db->m_waitDeadline);
    if (now >= limit)
        return 0;
    const int step = kSleepsMs[std::min<size_t>(static_cast<size_t>(count), std::size(kSleepsMs) - 1)];
    const auto sleep = std::min<Clock::duration>(std::chrono::milliseconds(step), limit - now);
    std::this_thread::sleep_for(sleep);
    return 1;
}

void CppSQLite3DB::Close()
{
    if (!m_pDB)
        return;
    const int rc = sqlite3_close(m_pDB);
    if (rc != SQLITE_OK)
        throw CppSQLite3Exception(rc, ErrorText(m_pDB));
    m_pDB = nullptr;
}

void CppSQLite3DB::RequireOpen() const
{
    if (!m_pDB)
        throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, u"Database not open");
}

sqlite3_stmt* CppSQLite3DB::Compile(const std::u16string& statement, const SqlParams& params)
{
    RequireOpen();
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare16_v2(m_pDB, statement.data(), static_cast<int>(statement.size() * sizeof(char16_t)),
                                        &stmt, nullptr);
    if (rc != SQLITE_OK) {
        const std::u16string text = ErrorText(m_pDB);
        sqlite3_finalize(stmt);
        throw CppSQLite3Exception(rc, text);
    }
    if (!stmt) {
        if (params.empty())
            return nullptr;  // nothing but blanks or comments
        throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, u"Parameter count does not match the statement");
    }
    if (sqlite3_bind_parameter_count(stmt) != static_cast<int>(params.size())) {
        sqlite3_finalize(stmt);
        throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, u"Parameter count does not match the statement");
    }
    for (size_t i = 0; i < params.size(); ++i) {
        const int slot = static_cast<int>(i + 1);
        int brc;
        if (const auto* n = std::get_if<int64_t>(&params[i])) {
            brc = sqlite3_bind_int64(stmt, slot, m_resolve ? m_resolve(*n) : *n);
        } else {
            const std::string utf8 = plat::WideToUtf8(std::get<std::u16string>(params[i]));
            brc = sqlite3_bind_text64(stmt, slot, utf8.data(), utf8.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        }
        if (brc != SQLITE_OK) {
            const std::u16string text = ErrorText(m_pDB);
            sqlite3_finalize(stmt);
            throw CppSQLite3Exception(brc, text);
        }
    }
    return stmt;
}

int CppSQLite3DB::ExecuteDml(const std::u16string& statement, const SqlParams& params)
{
    for (int attempt = 0;; ++attempt) {
        sqlite3_stmt* stmt = Compile(statement, params);
        if (!stmt)
            return SQLITE_OK;
        const int rc = sqlite3_step(stmt);
        const int frc = sqlite3_finalize(stmt);
        if (rc == SQLITE_DONE || rc == SQLITE_ROW)
            return SQLITE_OK;
        if (rc == SQLITE_SCHEMA && attempt < kMaxSchemaRetries)
            continue;
        if (rc != SQLITE_OK)
            return rc;
        return frc != SQLITE_OK ? frc : SQLITE_ERROR;
    }
}

CppSQLite3Query CppSQLite3DB::ExecuteQuery(const std::u16string& statement, const SqlParams& params)
{
    for (int attempt = 0;; ++attempt) {
        sqlite3_stmt* stmt = Compile(statement, params);
        if (!stmt)
            return CppSQLite3Query(m_pDB, nullptr, true, false);
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW || rc == SQLITE_DONE)
            return CppSQLite3Query(m_pDB, stmt, rc == SQLITE_DONE, true);
        const std::u16string text = ErrorText(m_pDB);
        sqlite3_finalize(stmt);
        if (rc == SQLITE_SCHEMA && attempt < kMaxSchemaRetries)
            continue;
        throw CppSQLite3Exception(rc, text);
    }
}

void CppSQLite3DB::ExecuteScript(const std::string& utf8Script)
{
    RequireOpen();
    char* err = nullptr;
    const int rc = sqlite3_exec(m_pDB, utf8Script.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        std::u16string text = err ? plat::Utf8ToWide(err) : ErrorText(m_pDB);
        sqlite3_free(err);
        throw CppSQLite3Exception(rc, text);
    }
}

bool CppSQLite3DB::InTransaction() const
{
    return m_pDB && sqlite3_get_autocommit(m_pDB) == 0;
}

int64_t CppSQLite3DB::LastInsertRowId() const
{
    return m_pDB ? sqlite3_last_insert_rowid(m_pDB) : 0;
}

void CppSQLite3DB::SetBusyTimeout(int milliseconds)
{
    // Read by the busy handler on the thread that uses the connection.
    m_nBusyTimeoutMs = milliseconds;
}

int CppSQLite3DB::LastExtendedErrorCode() const
{
    return m_pDB ? sqlite3_extended_errcode(m_pDB) : 0;
}

std::u16string CppSQLite3DB::LastErrorText() const
{
    return m_pDB ? ErrorText(m_pDB) : std::u16string();
}
