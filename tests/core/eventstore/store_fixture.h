// A fresh event database in a private folder for each test, and a second,
// independent connection to the same file for setting up and checking rows.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "core/eventstore/eventstore.h"
#include "platform/text.h"
#include "support/isolation.h"

namespace ps_test {

// A plain SQLite connection of its own (UTF-8 texts).
class RawDb {
public:
    explicit RawDb(const std::string& path)
    {
        if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK)
            ADD_FAILURE() << "cannot open " << path;
        sqlite3_busy_timeout(db_, 5000);
    }
    ~RawDb() { sqlite3_close(db_); }
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    // Runs statements; returns SQLite's result.
    int Exec(const std::string& sql)
    {
        char* err = nullptr;
        const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
        if (err)
            sqlite3_free(err);
        return rc;
    }

    // The first column of the first row as text ("" when none or NULL).
    std::string Text(const std::string& sql)
    {
        sqlite3_stmt* st = nullptr;
        std::string out;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
            const unsigned char* t = sqlite3_column_text(st, 0);
            if (t)
                out.assign(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(st, 0)));
        }
        sqlite3_finalize(st);
        return out;
    }

    long long Int(const std::string& sql) { return std::stoll("0" + Text(sql)); }

    sqlite3* handle() { return db_; }

private:
    sqlite3* db_ = nullptr;
};

// The template database built next to the program.
inline std::string BuiltTemplatePath()
{
    return std::string(PS_BINARY_DIR) + "/bin/Privasweep.db";
}

class EventStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetEventStoreBusyTimeout(2000);
        SetEventStoreRetryPause(std::chrono::milliseconds(100));
        dbPath_ = dir_.file("events.db");
        OpenEventDatabase(plat::PathFromNative(dbPath_));
    }
    void TearDown() override
    {
        ExitEventDatabase();
        SetEventStoreBusyTimeout(CppSQLite3DB::kDefaultBusyTimeoutMs);
    }

    const std::string& dbPath() const { return dbPath_; }

    TempDir dir_;
    std::string dbPath_;
};

}  // namespace ps_test
