// The event store: the one connection to the event database, where the
// database lives, the lock that serialises every use of the connection, and
// the executor that runs each data-changing operation as one transaction.
//
// Write shape: every data-changing operation hands its statements to
// ExecuteWithRetry as one body; the executor opens the transaction, runs the
// body, commits, and on a failure rolls the whole transaction back, reopens
// the connection and runs the body again (three attempts in all). The caller
// learns whether the transaction was committed.
//
// Read shape: ReadEventRows takes the store lock, runs the query and calls
// the row reader for each row; failures throw CppSQLite3Exception to the
// caller with the lock released and the statement finalized.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

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

// Stores the path, opens the connection and gives a database that lacks the
// event tables its tables. Throws CppSQLite3Exception when the file cannot be
// opened or is not a usable database (no connection is left open then).
void OpenEventDatabase(const std::u16string& path);
// Closes the connection; throws CppSQLite3Exception when SQLite refuses.
void CloseEventDatabase();
bool IsEventDatabaseOpen();
// The path the store was last opened with.
std::u16string OpenedEventDatabasePath();

// The recursive store lock. Hold it around every direct use of the connection.
std::recursive_mutex& EventStoreLock();
// The connection object; use it only while holding the store lock.
CppSQLite3DB& EventDatabase();

// One logical write: runs its statements on the connection and returns 0
// when all of them ran, or the SQLite result code of the first failure. It
// may throw CppSQLite3Exception. It may run more than once (on a retry), so
// it must not keep state from an earlier run.
using EventWriteBody = std::function<int(CppSQLite3DB&)>;

// The executor: takes the store lock, then runs the body as one transaction
// with up to three attempts. After a failed attempt the transaction is rolled
// back, the connection is closed, the thread pauses (100 ms) and the stored
// path is opened again. A statement that cannot be prepared ends the write at
// once (it would fail the same way again). True when the transaction was
// committed. Called inside another body (a transaction already open on the
// connection), it runs the body as part of that transaction.
bool ExecuteWithRetry(const EventWriteBody& body);
// One statement with its values as one transaction.
bool ExecuteWithRetry(const std::u16string& statement, const SqlParams& params = SqlParams());

// The read shape. Returns the number of rows read.
int64_t ReadEventRows(const std::u16string& statement, const SqlParams& params,
                      const std::function<void(const CppSQLite3Query&)>& perRow);

// Conversions of column texts: row ids as unsigned 64-bit decimal numbers kept
// as signed values; every other number as a signed 32-bit decimal number from
// its leading digits (no digits give 0; out-of-range values are clamped).
int64_t RowIdFromText(const std::u16string& text);
int32_t IntFromText(const std::u16string& text);

// Settings for tests: the busy timeout of the connection (60000 ms normally)
// and the executor's pause between attempts (100 ms normally).
void SetEventStoreBusyTimeout(int milliseconds);
void SetEventStoreRetryPause(std::chrono::milliseconds pause);
