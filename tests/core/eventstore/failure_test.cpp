// Writes that cannot be stored: a full disk, a database damaged under the
// open connection, a connection lost between attempts, a database locked by
// another connection. Each is reported to the failure watches, no call waits
// longer than the store's bound, and the store writes again once it can.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <sstream>
#include <thread>

#include "core/eventstore/eventqueries.h"
#include "core/eventstore/eventstore.h"
#include "core/eventstore/eventtables.h"
#include "core/eventstore/eventtypes.h"
#include "store_fixture.h"
#include "support/storefaults.h"

namespace {

using namespace std::chrono_literals;
using ps_test::EventStoreTest;
using ps_test::RawDb;
using Clock = std::chrono::steady_clock;

SearchFileInfo Document(int n)
{
    SearchFileInfo d;
    d.SetFolderAndName(u"/home/user/문서", u"보고서" + plat::AsciiToWide(std::to_string(n)) + u".hwp");
    d.documentKey = std::u16string(63, u'A') + static_cast<char16_t>(u'A' + n % 26);
    return d;
}

std::vector<PersonalInfoHit> Hits(int count)
{
    std::vector<PersonalInfoHit> hits;
    for (int i = 0; i < count; ++i)
        hits.push_back({kPersonalInfoPhoneNumber, u"010-1234-" + plat::AsciiToWide(std::to_string(1000 + i))});
    return hits;
}

// ---------------------------------------------------------------------------
// The failure watch

TEST_F(EventStoreTest, WatchTellsOncePerSpanWithTheFirstReason)
{
    std::vector<EventStoreFailureKind> notified;
    EventStoreFailureWatch watch([&](const EventStoreFailure& f) { notified.push_back(f.kind); });
    EventStoreFailure first;
    EXPECT_FALSE(watch.TakeNotice(first));  // nothing failed yet

    // A missing table, then a busy database: the first one is kept.
    EXPECT_FALSE(ExecuteWithRetry(u"INSERT INTO NoSuchTable values (1)"));
    RawDb other(dbPath());
    ASSERT_EQ(0, other.Exec("BEGIN IMMEDIATE"));
    SetEventStoreBusyTimeout(20);
    SetEventStoreRetryPause(10ms);
    EXPECT_EQ(0, AddEvent(EVENT_ALL_SEARCH_START));
    ASSERT_EQ(0, other.Exec("COMMIT"));

    EXPECT_EQ(2, watch.FailedWrites());
    EXPECT_TRUE(watch.TakeNotice(first));
    EXPECT_EQ(EventStoreFailureKind::Other, first.kind);
    EXPECT_NE(std::u16string::npos, first.detail.find(u"NoSuchTable"));
    EXPECT_FALSE(watch.TakeNotice(first));  // once
    ASSERT_EQ(1u, notified.size());          // the callback too, for the first failure only

    // A new span (the next search) tells again; a watch made after a
    // failure does not see it.
    watch.Reset();
    EXPECT_EQ(0, watch.FailedWrites());
    EXPECT_FALSE(watch.FirstFailure().has_value());
    EXPECT_FALSE(watch.TakeNotice(first));
    EXPECT_FALSE(AddFileEventLog(1, 1) && ExecuteWithRetry(u"INSERT INTO NoSuchTable values (2)"));
    EventStoreFailureWatch later;
    EXPECT_TRUE(watch.TakeNotice(first));
    EXPECT_EQ(2u, notified.size());
    EXPECT_FALSE(later.FirstFailure().has_value());

    // Writes that are stored are not failures.
    EXPECT_GT(AddEvent(EVENT_ALL_SEARCH_COMPLETE), 0);
    EXPECT_EQ(0, later.FailedWrites());
}

TEST(EventStoreFailureTextTest, EveryKindSaysWhyInTheProgramsLanguage)
{
    const struct {
        int code;
        EventStoreFailureKind kind;
        const char16_t* says;
    } cases[] = {
        {SQLITE_BUSY, EventStoreFailureKind::Busy, u"다른 프로그램"},
        {SQLITE_LOCKED, EventStoreFailureKind::Busy, u"다른 프로그램"},
        {SQLITE_FULL, EventStoreFailureKind::Full, u"디스크 공간"},
        {SQLITE_CORRUPT, EventStoreFailureKind::Damaged, u"손상"},
        {SQLITE_NOTADB, EventStoreFailureKind::Damaged, u"손상"},
        {SQLITE_READONLY, EventStoreFailureKind::ReadOnly, u"쓸 수 없습니다"},
        {SQLITE_IOERR_WRITE, EventStoreFailureKind::DiskError, u"입출력 오류"},
        {SQLITE_IOERR_SHMSIZE, EventStoreFailureKind::DiskError, u"입출력 오류"},
        {SQLITE_CANTOPEN, EventStoreFailureKind::NotOpen, u"열 수 없습니다"},
        {SQLITE_CONSTRAINT, EventStoreFailureKind::Other, u"오류"},
        {CppSQLite3Exception::kLayerError, EventStoreFailureKind::Other, u"오류"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(c.kind, EventStoreFailureKindOf(c.code));
        const std::u16string text = EventStoreFailureText(EventStoreFailure{c.kind, c.code, u""});
        EXPECT_EQ(0u, text.find(u"이벤트 데이터베이스에 기록하지 못했습니다: "));
        EXPECT_NE(std::u16string::npos, text.find(c.says));
    }
}

// ---------------------------------------------------------------------------
// A database held by another connection: every call returns within the
// bound, with the program's own busy timeout (a minute per statement).

class LockedStoreTest : public EventStoreTest {
protected:
    void SetUp() override
    {
        EventStoreTest::SetUp();
        SetEventStoreBusyTimeout(CppSQLite3DB::kDefaultBusyTimeoutMs);
    }
    // The longest a call may take: the bound and some scheduling slack.
    static constexpr auto kBound = kEventStoreWaitLimit + 500ms;
};

TEST_F(LockedStoreTest, CallsGiveUpWithinTheBoundAndTheStoreWritesOnceTheLockIsGone)
{
    ASSERT_GT(AddEvent(EVENT_ALL_SEARCH_START), 0);
    EventStoreFailureWatch watch;
    // Another process's write lock, kept far longer than any bound (the
    // holder lets go after 6 s, so a call that waits for it shows).
    RawDb other(dbPath());
    ASSERT_EQ(0, other.Exec("BEGIN IMMEDIATE"));
    std::thread release([&] {
        std::this_thread::sleep_for(6s);
        other.Exec("COMMIT");
    });

    const struct {
        const char* what;
        std::function<bool()> call;  // true when it was stored
    } calls[] = {
        {"event", [] { return AddEvent(EVENT_ALL_SEARCH_COMPLETE) > 0; }},
        {"document with hits", [] { return AddFileInfoWithHits(PersonalInfoCounts{0, 0, 0, 1}, Document(1), Hits(3)) > 0; }},
        {"search totals", [] { return AddSearchEventLog(1, PersonalInfoCounts{}, DocumentKindCounts{}); }},
        {"action end", [] { return AddEventWithFiles(EVENT_ENCRYPT_AES256_COMPLETE, {1, 2}) > 0; }},
    };
    for (const auto& c : calls) {
        SCOPED_TRACE(c.what);
        const auto start = Clock::now();
        EXPECT_FALSE(c.call());
        EXPECT_LT(Clock::now() - start, kBound);
    }
    // The first gave up after the full bound; those after it only probe.
    EventStoreFailure first;
    EXPECT_TRUE(watch.TakeNotice(first));
    EXPECT_EQ(EventStoreFailureKind::Busy, first.kind);
    EXPECT_EQ(4, watch.FailedWrites());

    release.join();
    EXPECT_GT(AddEvent(EVENT_ALL_SEARCH_COMPLETE), 0);
    RawDb check(dbPath());
    EXPECT_EQ(2, check.Int("SELECT count(*) FROM EventInfo"));
}

TEST_F(LockedStoreTest, LaterWritesOnlyProbeWhileTheDatabaseStaysLocked)
{
    RawDb other(dbPath());
    ASSERT_EQ(0, other.Exec("BEGIN IMMEDIATE"));
    std::thread release([&] {
        std::this_thread::sleep_for(5s);
        other.Exec("COMMIT");
    });
    EXPECT_EQ(0, AddEvent(EVENT_ADD_EXCEPTION_START));
    // A window that writes once per document is held a moment each time,
    // not the full bound.
    const auto start = Clock::now();
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(AddExceptionInfo(i + 1, 1));
    EXPECT_LT(Clock::now() - start, 10 * (kEventStoreBusyProbe + 100ms));
    release.join();
    // The first write after the lock is gone is stored at once.
    EXPECT_TRUE(AddExceptionInfo(20, 1));
    EXPECT_TRUE(AddExceptionInfo(21, 1));
}

TEST_F(LockedStoreTest, AnotherThreadInsideTheStoreHoldsTheCallsNoLongerThanTheBound)
{
    // The analysis thread stays inside the store (here: a write whose body
    // takes 4 s); the window thread's calls give up within their bound
    // instead of waiting for the other's whole operation.
    ASSERT_GT(AddEvent(EVENT_ALL_SEARCH_START), 0);
    SetEventStoreWaitLimit(1000ms);
    std::atomic<bool> inside{false};
    std::thread analysis([&] {
        ExecuteWithRetry([&](CppSQLite3DB&) {
            inside = true;
            std::this_thread::sleep_for(4s);
            return SQLITE_OK;
        });
    });
    while (!inside)
        std::this_thread::yield();
    EventStoreFailureWatch watch;
    const struct {
        const char* what;
        std::function<bool()> call;  // true when it went through
    } calls[] = {
        {"write", [] { return AddEvent(EVENT_USER_SEARCH_CANCEL) > 0; }},
        {"read",
         [] {
             std::vector<std::u16string> keys;
             try {
                 LoadExceptionHashes(keys);
                 return true;
             } catch (const CppSQLite3Exception& e) {
                 EXPECT_EQ(SQLITE_BUSY, e.ErrorCode());
                 return false;
             }
         }},
    };
    for (const auto& c : calls) {
        SCOPED_TRACE(c.what);
        const auto start = Clock::now();
        EXPECT_FALSE(c.call());
        EXPECT_LT(Clock::now() - start, 1000ms + 500ms);
    }
    EXPECT_EQ(1, watch.FailedWrites());  // reads throw; only the write is counted
    analysis.join();
    SetEventStoreWaitLimit(kEventStoreWaitLimit);
    EXPECT_GT(AddEvent(EVENT_USER_SEARCH_CANCEL), 0);
}

TEST_F(LockedStoreTest, OpeningADatabaseHeldExclusivelyGivesUpWithinTheBound)
{
    ExitEventDatabase();
    {
        RawDb other(dbPath());
        ASSERT_EQ(0, other.Exec("PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; "
                                "INSERT INTO EventInfo (Year, Type) values (2020, 1); COMMIT;"));
        const auto start = Clock::now();
        EXPECT_THROW(OpenEventDatabase(plat::PathFromNative(dbPath())), CppSQLite3Exception);
        EXPECT_LT(Clock::now() - start, kBound);
        EXPECT_FALSE(IsEventDatabaseOpen());
    }
    ASSERT_NO_THROW(OpenEventDatabase(plat::PathFromNative(dbPath())));
    EXPECT_GT(AddEvent(EVENT_ALL_SEARCH_START), 0);
}

// ---------------------------------------------------------------------------
// A connection lost between attempts (the file could not be opened again)
// comes back on a later use.

TEST_F(EventStoreTest, LostConnectionIsOpenedAgainByALaterWrite)
{
    SetEventStoreRetryPause(10ms);
    const std::string aside = dbPath() + ".aside";
    EventStoreFailureWatch watch;
    // The first attempt fails; while the connection is closed the file is
    // replaced by a folder, so the reopening fails too.
    int runs = 0;
    EXPECT_FALSE(ExecuteWithRetry([&](CppSQLite3DB&) {
        if (++runs == 1) {
            EXPECT_EQ(0, rename(dbPath().c_str(), aside.c_str()));
            EXPECT_EQ(0, mkdir(dbPath().c_str(), 0700));
        }
        return SQLITE_IOERR;
    }));
    EXPECT_EQ(1, runs);
    EXPECT_FALSE(IsEventDatabaseOpen());
    EXPECT_EQ(0, AddEvent(EVENT_ALL_SEARCH_START));  // still cannot be opened
    EventStoreFailure first;
    EXPECT_TRUE(watch.TakeNotice(first));
    EXPECT_EQ(EventStoreFailureKind::DiskError, first.kind);
    EXPECT_EQ(2, watch.FailedWrites());

    // The file is back: the next write opens it again and is stored.
    ASSERT_EQ(0, rmdir(dbPath().c_str()));
    ASSERT_EQ(0, rename(aside.c_str(), dbPath().c_str()));
    const int64_t id = AddEvent(EVENT_ALL_SEARCH_START);
    EXPECT_GT(id, 0);
    EXPECT_TRUE(IsEventDatabaseOpen());
    EventInfoRow row;
    EXPECT_TRUE(GetEventInfo(row, id));

    // A store closed on purpose stays closed.
    CloseEventDatabase();
    EXPECT_EQ(0, AddEvent(EVENT_ALL_SEARCH_START));
    EXPECT_FALSE(IsEventDatabaseOpen());
}

// ---------------------------------------------------------------------------
// A database damaged while the program runs.

TEST_F(EventStoreTest, DamagedDatabaseEndsTheWriteAtOnceAndIsReported)
{
    // Enough rows that the table spans many pages, all written back to the
    // database file.
    for (int i = 0; i < 40; ++i)
        ASSERT_GT(AddFileInfoWithHits(PersonalInfoCounts{1}, Document(i), Hits(20)), 0);
    // Another program overwrites every page but the first.
    ASSERT_NO_FATAL_FAILURE(ps_test::OverwriteStoreButFirstPage(dbPath()));

    EventStoreFailureWatch watch;
    int runs = 0;
    const auto start = Clock::now();
    const bool ok = ExecuteWithRetry([&](CppSQLite3DB& db) {
        ++runs;
        return db.ExecuteDml(u"INSERT INTO PersonalInfo (FileIndex, Type, Data) values (1, 4, '010-****')");
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(1, runs);  // reopening would not mend it
    EXPECT_LT(Clock::now() - start, 250ms);  // three attempts took three pauses of 100 ms
    EXPECT_EQ(0, AddFileInfoWithHits(PersonalInfoCounts{1}, Document(99), Hits(2)));
    EventStoreFailure first;
    EXPECT_TRUE(watch.TakeNotice(first));
    EXPECT_EQ(EventStoreFailureKind::Damaged, first.kind);
    EXPECT_EQ(2, watch.FailedWrites());
}

// ---------------------------------------------------------------------------
// A full database, where no file system of our own can be mounted: the
// connection may grow the file by no more pages (SQLite then reports the
// disk full, as it does for a full disk).

TEST_F(EventStoreTest, FullDatabaseEndsTheWriteAtOnceKeepsTheConnectionAndIsReported)
{
    auto pages = [](int64_t limit) {
        std::lock_guard<std::recursive_timed_mutex> guard(EventStoreLock());
        const std::string sql = "PRAGMA max_page_count = " + std::to_string(limit);
        sqlite3_exec(EventDatabase().Handle(), sql.c_str(), nullptr, nullptr, nullptr);
    };
    ASSERT_GT(AddEvent(EVENT_ALL_SEARCH_START), 0);
    RawDb raw(dbPath());
    pages(raw.Int("PRAGMA page_count"));
    EventStoreFailureWatch watch;
    int runs = 0;
    EXPECT_FALSE(ExecuteWithRetry([&](CppSQLite3DB& db) {
        ++runs;
        for (int i = 0; i < 200; ++i) {
            const int rc = db.ExecuteDml(u"INSERT INTO PersonalInfo (FileIndex, Type, Data) values (?, 4, ?)",
                                         {int64_t{i}, std::u16string(200, u'x')});
            if (rc != 0)
                return rc;
        }
        return 0;
    }));
    EXPECT_EQ(1, runs);  // a fresh connection would not make room
    EXPECT_TRUE(IsEventDatabaseOpen());
    EventStoreFailure first;
    EXPECT_TRUE(watch.TakeNotice(first));
    EXPECT_EQ(EventStoreFailureKind::Full, first.kind);
    EXPECT_EQ(SQLITE_FULL, first.code & 0xff);
    EXPECT_EQ(0, raw.Int("SELECT count(*) FROM PersonalInfo"));

    // Room again: the same connection stores the document.
    pages(1 << 20);
    EXPECT_GT(AddFileInfoWithHits(PersonalInfoCounts{1}, Document(7), Hits(200)), 0);
    EXPECT_EQ(1, watch.FailedWrites());
}

// ---------------------------------------------------------------------------
// A full disk, as the program meets it: a small file system of its own
// (mounted in a private mount namespace of a child process; skipped where
// mounting is not allowed).

// Runs `scenario` in a child with a fresh 4 MiB tmpfs at `dir`; the child's
// report lines "name=value" come back as a map. An entry "skip" means the
// mount was not possible.
std::map<std::string, std::string> RunOnSmallDisk(const std::string& dir,
                                                  const std::function<void(const std::string&, std::ostream&)>& scenario)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {{"error", "pipe"}};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::ostringstream out;
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=4m") != 0) {
            out << "skip=1\n";
        } else {
            scenario(dir, out);
        }
        const std::string text = out.str();
        const bool sent = write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        _exit(sent ? 0 : 1);
    }
    close(fds[1]);
    std::string text;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    std::map<std::string, std::string> report;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            report[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        report["error"] = "child status " + std::to_string(status);
    return report;
}

void FillDisk(const std::string& path)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return;
    const std::string block(4096, 'x');
    while (fwrite(block.data(), 1, block.size(), f) == block.size() && fflush(f) == 0) {
    }
    fclose(f);
}

TEST(EventStoreFullDiskTest, WritesAreReportedTheConnectionIsKeptAndTheStoreWritesOnceSpaceIsFreed)
{
    ps_test::TempDir mountPoint;
    const auto report = RunOnSmallDisk(mountPoint.path(), [](const std::string& dir, std::ostream& out) {
        const std::string db = dir + "/Privasweep.db";
        OpenEventDatabase(plat::PathFromNative(db));
        // The database has grown once and given its pages back, so what is
        // written next fits in the file; the log of changes starts empty.
        for (int i = 0; i < 60; ++i)
            AddFileInfoWithHits(PersonalInfoCounts{1}, Document(i), Hits(20));
        {
            RawDb raw(db);
            out << "checkpoint=" << raw.Exec("PRAGMA wal_checkpoint(TRUNCATE)") << "\n";
            raw.Exec("DELETE FROM PersonalInfo");
            out << "checkpoint2=" << raw.Exec("PRAGMA wal_checkpoint(TRUNCATE)") << "\n";
        }
        EventStoreFailureWatch watch;
        FillDisk(dir + "/filler");
        // Another program keeps writing: whatever space is given back is
        // taken again at once.
        std::atomic<bool> stop{false};
        std::thread grabber([&] {
            const int fd = open((dir + "/grabbed").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            off_t size = 0;
            while (!stop) {
                if (posix_fallocate(fd, size, 4096) == 0)
                    size += 4096;
                else
                    std::this_thread::yield();
            }
            close(fd);
        });

        out << "document=" << AddFileInfoWithHits(PersonalInfoCounts{1}, Document(100), Hits(200)) << "\n";
        out << "event=" << AddEvent(EVENT_ALL_SEARCH_COMPLETE) << "\n";
        out << "open=" << IsEventDatabaseOpen() << "\n";
        EventStoreFailure first;
        out << "notice=" << watch.TakeNotice(first) << "\n";
        out << "kind=" << static_cast<int>(first.kind) << "\n";
        out << "again=" << watch.TakeNotice(first) << "\n";
        out << "failed=" << watch.FailedWrites() << "\n";

        stop = true;
        grabber.join();
        unlink((dir + "/filler").c_str());
        unlink((dir + "/grabbed").c_str());
        out << "afterFree=" << (AddEvent(EVENT_ALL_SEARCH_START) > 0) << "\n";
        out << "documentAfterFree=" << (AddFileInfoWithHits(PersonalInfoCounts{1}, Document(101), Hits(5)) > 0) << "\n";
        ExitEventDatabase();
    });
    if (report.count("skip"))
        GTEST_SKIP() << "no private tmpfs can be mounted here";
    ASSERT_EQ(0u, report.count("error")) << report.at("error");
    EXPECT_EQ("0", report.at("checkpoint"));
    EXPECT_EQ("0", report.at("checkpoint2"));
    // The document does not fit; the event after it does not either, since
    // the log of changes cannot grow. Both are reported, the first once.
    EXPECT_EQ("0", report.at("document"));
    EXPECT_EQ("0", report.at("event"));
    EXPECT_EQ("1", report.at("open"));
    EXPECT_EQ("1", report.at("notice"));
    EXPECT_EQ(std::to_string(static_cast<int>(EventStoreFailureKind::Full)), report.at("kind"));
    EXPECT_EQ("0", report.at("again"));
    EXPECT_EQ("2", report.at("failed"));
    // Space freed: the same connection writes again.
    EXPECT_EQ("1", report.at("afterFree"));
    EXPECT_EQ("1", report.at("documentAfterFree"));
}

}  // namespace
