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
#include <future>
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
// A database held by another connection, with the program's own busy
// timeout (a minute): writes wait for it as long as that allows, a stop
// ends the wait at once, the window thread never waits, and reads stay
// bounded.

class LockedStoreTest : public EventStoreTest {
protected:
    void SetUp() override
    {
        EventStoreTest::SetUp();
        SetEventStoreBusyTimeout(CppSQLite3DB::kDefaultBusyTimeoutMs);
    }
    void TearDown() override
    {
        SetEventStoreWindowThread(std::thread::id());
        EXPECT_TRUE(FinishEventStoreWrites(kNeverHangs));
        EventStoreTest::TearDown();
    }
    // Far below the busy timeout, far above any machine's scheduling: a
    // call that takes this long waited for what it must not wait for.
    static constexpr auto kNeverHangs = 20s;

    // Runs the call on a thread of its own; false when it did not return
    // within kNeverHangs (the thread is then left to finish).
    static bool Returns(std::function<void()> call)
    {
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> returned = done->get_future();
        std::thread([call = std::move(call), done] {
            call();
            done->set_value();
        }).detach();
        return returned.wait_for(kNeverHangs) == std::future_status::ready;
    }
};

TEST_F(LockedStoreTest, WriteOffTheWindowThreadWaitsForALockHeldLongerThanTheReadBoundAndLands)
{
    ASSERT_GT(AddEvent(EVENT_ALL_SEARCH_START), 0);
    EventStoreFailureWatch watch;
    // Another process keeps its write lock for 3 s, longer than any read
    // waits (kEventStoreWaitLimit); the writes must outlast it.
    RawDb other(dbPath());
    ASSERT_EQ(0, other.Exec("BEGIN IMMEDIATE"));
    std::atomic<bool> released{false};
    std::thread release([&] {
        std::this_thread::sleep_for(3s);
        released = true;
        other.Exec("COMMIT");
    });
    const int64_t waitsBefore = EventStoreCountersNow().busyWaits;
    const struct {
        const char* what;
        std::function<bool()> call;  // true when it was stored
    } calls[] = {
        {"document with hits", [] { return AddFileInfoWithHits(PersonalInfoCounts{0, 0, 0, 3}, Document(1), Hits(3)) > 0; }},
        {"event", [] { return AddEvent(EVENT_ALL_SEARCH_COMPLETE) > 0; }},
        {"action end", [] { return AddEventWithFiles(EVENT_ENCRYPT_AES256_COMPLETE, {1, 2}) > 0; }},
    };
    for (const auto& c : calls) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(c.call());
    }
    EXPECT_TRUE(released);  // the first one waited for the lock, and was not dropped
    EXPECT_GT(EventStoreCountersNow().busyWaits, waitsBefore);
    EXPECT_EQ(0, watch.FailedWrites());
    release.join();
    RawDb check(dbPath());
    EXPECT_EQ(3, check.Int("SELECT count(*) FROM EventInfo"));
    EXPECT_EQ(3, check.Int("SELECT count(*) FROM PersonalInfo"));
}

TEST_F(LockedStoreTest, AStopEndsTheWaitAtOnce)
{
    ASSERT_GT(AddEvent(EVENT_ALL_SEARCH_START), 0);
    // Held for the whole test: only the stop can end the waits.
    RawDb other(dbPath());
    ASSERT_EQ(0, other.Exec("BEGIN IMMEDIATE"));
    // Waiting for the database itself, or queued behind a write of the
    // window thread that waits for it.
    for (const bool behindWindowWrite : {false, true}) {
        SCOPED_TRACE(behindWindowWrite ? "queued behind a window write" : "waiting for the database");
        if (behindWindowWrite) {
            SetEventStoreWindowThread(std::this_thread::get_id());
            EXPECT_GE(AddEvent(EVENT_USER_SEARCH_START), kProvisionalRowIdBase);
            SetEventStoreWindowThread(std::thread::id());
        }
        EventStoreFailureWatch watch;
        std::atomic<int32_t> stop{0};
        std::atomic<bool> waiting{false};
        std::atomic<int64_t> stored{-1};
        const int64_t pendingBefore = EventStoreCountersNow().pending;
        std::thread analysis([&] {
            EventStoreCancelScope scope(&stop);
            waiting = true;
            stored = AddFileInfoWithHits(PersonalInfoCounts{1}, Document(2), Hits(1));
        });
        // The write is with the writer (queued or waiting) before the stop.
        while (EventStoreCountersNow().pending <= pendingBefore && stored == -1)
            std::this_thread::yield();
        stop = 1;
        EXPECT_TRUE(Returns([&] { analysis.join(); }));
        EXPECT_EQ(0, stored.load());
        EXPECT_EQ(1, watch.FailedWrites());
        ASSERT_TRUE(watch.FirstFailure().has_value());
        EXPECT_EQ(EventStoreFailureKind::Busy, watch.FirstFailure()->kind);
    }
    ASSERT_EQ(0, other.Exec("COMMIT"));
    // The window's write, which nobody called off, is stored once the lock is gone.
    ASSERT_TRUE(FinishEventStoreWrites(kNeverHangs));
    RawDb check(dbPath());
    EXPECT_EQ(2, check.Int("SELECT count(*) FROM EventInfo"));
    EXPECT_EQ(0, check.Int("SELECT count(*) FROM FileInfo"));
}

TEST_F(LockedStoreTest, WindowThreadWritesGoThroughTheWriterInOrderWhileReadsGoOn)
{
    // Every row in the order it was stored.
    {
        RawDb raw(dbPath());
        ASSERT_EQ(0, raw.Exec("CREATE TABLE Seq (n INTEGER PRIMARY KEY, what TEXT);"
                              "CREATE TRIGGER SeqEvent AFTER INSERT ON EventInfo BEGIN "
                              "INSERT INTO Seq (what) VALUES ('event ' || new.Type); END;"
                              "CREATE TRIGGER SeqFile AFTER INSERT ON FileInfo BEGIN "
                              "INSERT INTO Seq (what) VALUES ('file ' || new.Name); END;"
                              "CREATE TRIGGER SeqLog AFTER INSERT ON SearchEventLog BEGIN "
                              "INSERT INTO Seq (what) VALUES ('totals ' || new.ID); END;"));
    }
    EventStoreFailureWatch watch;
    RawDb other(dbPath());
    ASSERT_EQ(0, other.Exec("BEGIN IMMEDIATE"));
    SetEventStoreWindowThread(std::this_thread::get_id());

    // The search starts: the window's start event cannot be stored now and
    // is handed over; the window gets a provisional id at once.
    const int64_t start = AddEvent(EVENT_USER_SEARCH_START);
    EXPECT_GE(start, kProvisionalRowIdBase);
    // The analysis thread stores its document after it, waiting.
    std::thread analysis([] { EXPECT_GT(AddFileInfoWithHits(PersonalInfoCounts{1}, Document(0), Hits(1)), 0); });
    while (EventStoreCountersNow().pending < 2)
        std::this_thread::yield();
    // A read of the window thread meanwhile is served: the writer lets go
    // of the store between its tries.
    EXPECT_TRUE(Returns([] {
        std::vector<std::u16string> keys;
        EXPECT_NO_THROW(LoadExceptionHashes(keys));
    }));
    // The search ends before the documents are stored: its end event and
    // totals go after them, the totals under the end event's real id.
    const int64_t end = AddEvent(EVENT_USER_SEARCH_COMPLETE);
    EXPECT_GE(end, kProvisionalRowIdBase);
    EXPECT_TRUE(AddSearchEventLog(end, PersonalInfoCounts{3}, DocumentKindCounts{3}));

    ASSERT_EQ(0, other.Exec("COMMIT"));
    ASSERT_TRUE(FinishEventStoreWrites(kNeverHangs));
    analysis.join();
    EXPECT_EQ(0, watch.FailedWrites());
    RawDb check(dbPath());
    std::string order;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(check.handle(), "SELECT what FROM Seq ORDER BY n", -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW)
        order += std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) + "; ";
    sqlite3_finalize(st);
    EXPECT_EQ("event 4; file 보고서0.hwp; event 6; totals 3; ", order);
    EXPECT_EQ(check.Text("SELECT EventID FROM EventInfo WHERE Type = 6"),
              check.Text("SELECT EventID FROM SearchEventLog"));

    // A write of the window thread that can be stored at once is, with its real id.
    const int64_t now = AddEvent(EVENT_LOG_SAVED);
    EXPECT_GT(now, 0);
    EXPECT_LT(now, kProvisionalRowIdBase);
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
        EXPECT_LT(Clock::now() - start, kNeverHangs);
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

    // The file is back: the next piece of work opens it again and is stored.
    ASSERT_EQ(0, rmdir(dbPath().c_str()));
    ASSERT_EQ(0, rename(aside.c_str(), dbPath().c_str()));
    watch.Reset();
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

    // Meanwhile the writes fail at once, without trying the full file again.
    const int64_t attempts = EventStoreCountersNow().attempts;
    EXPECT_EQ(0, AddEvent(EVENT_ALL_SEARCH_COMPLETE));
    EXPECT_EQ(attempts, EventStoreCountersNow().attempts);
    EXPECT_EQ(2, watch.FailedWrites());

    // Room again: the next piece of work (a new watch) is stored on the
    // same connection.
    pages(1 << 20);
    EventStoreFailureWatch next;
    EXPECT_GT(AddFileInfoWithHits(PersonalInfoCounts{1}, Document(7), Hits(200)), 0);
    EXPECT_EQ(2, watch.FailedWrites());
    EXPECT_EQ(0, next.FailedWrites());
}

// ---------------------------------------------------------------------------
// A full disk, as the program meets it: a small file system of its own
// (mounted in a private mount namespace of a child process; skipped where
// mounting is not allowed).

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
    const std::string dir = mountPoint.path();
    const auto report = ps_test::RunWithPrivateMounts([&] { return ps_test::MountSmallDisk(dir); }, [&](std::ostream& out) {
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
        watch.Reset();  // the next search
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

// ---------------------------------------------------------------------------
// A read-only database (the file opened read-only, as SQLite does when it
// may not write it), as the program meets it: the refusal is told once and
// the writes after it neither wait nor try the file again one by one; once
// the file is writable again, the next piece of work is stored.

TEST(EventStoreReadOnlyTest, WritesAfterTheRefusalNeitherWaitNorRetryAndResumeOnceWritable)
{
    ps_test::TempDir dir;
    const std::string db = dir.file("events.db");
    OpenEventDatabase(plat::PathFromNative(db));
    ASSERT_GT(AddEvent(EVENT_ALL_SEARCH_START), 0);
    ExitEventDatabase();
    const auto report = ps_test::RunWithPrivateMounts([&] { return ps_test::MakeFileReadOnly(db); }, [&](std::ostream& out) {
        SetEventStoreRetryPause(100ms);
        OpenEventDatabase(plat::PathFromNative(db));
        EventStoreFailureWatch watch;
        constexpr int kWrites = 40;
        const EventStoreCounters before = EventStoreCountersNow();
        int stored = 0;
        for (int i = 0; i < kWrites; ++i)
            stored += AddFileInfoWithHits(PersonalInfoCounts{1}, Document(i), Hits(2)) > 0;
        const EventStoreCounters after = EventStoreCountersNow();
        out << "stored=" << stored << "\n";
        out << "attempts=" << after.attempts - before.attempts << "\n";
        out << "busyWaits=" << after.busyWaits - before.busyWaits << "\n";
        out << "failed=" << watch.FailedWrites() << "\n";
        EventStoreFailure first;
        out << "notice=" << watch.TakeNotice(first) << watch.TakeNotice(first) << "\n";
        out << "kind=" << static_cast<int>(first.kind) << "\n";
        // The user makes the file writable; the next search stores again.
        out << "writable=" << (umount2(db.c_str(), MNT_DETACH) == 0) << "\n";
        watch.Reset();
        out << "afterwards=" << (AddEvent(EVENT_ALL_SEARCH_START) > 0) << "\n";
        out << "failedAfterwards=" << watch.FailedWrites() << "\n";
        ExitEventDatabase();
    });
    if (report.count("skip"))
        GTEST_SKIP() << "no private mount can be made here";
    ASSERT_EQ(0u, report.count("error")) << report.at("error");
    EXPECT_EQ("0", report.at("stored"));
    // One attempt in all (the first write's): no retries, no attempt per write.
    EXPECT_EQ("1", report.at("attempts"));
    EXPECT_EQ("0", report.at("busyWaits"));
    EXPECT_EQ("40", report.at("failed"));  // each write that was not stored is counted
    EXPECT_EQ("10", report.at("notice"));  // and told once
    EXPECT_EQ(std::to_string(static_cast<int>(EventStoreFailureKind::ReadOnly)), report.at("kind"));
    EXPECT_EQ("1", report.at("writable"));
    EXPECT_EQ("1", report.at("afterwards"));
    EXPECT_EQ("0", report.at("failedAfterwards"));
}
