#include "support/storefaults.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include <gtest/gtest.h>

#include "core/eventstore/eventstore.h"

namespace ps_test {

void OverwriteStoreButFirstPage(const std::string& dbPath)
{
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr));
        sqlite3_busy_timeout(db, 5000);
        const int rc = sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        ASSERT_EQ(SQLITE_OK, rc);
    }
    const int fd = open(dbPath.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    struct stat st;
    ASSERT_EQ(0, fstat(fd, &st));
    const std::string junk(4096, '\x5a');
    for (off_t at = 4096; at < st.st_size; at += 4096)
        ASSERT_EQ(4096, pwrite(fd, junk.data(), junk.size(), at));
    close(fd);
    std::lock_guard<std::recursive_timed_mutex> guard(EventStoreLock());
    sqlite3_db_release_memory(EventDatabase().Handle());
}

}  // namespace ps_test
