// The event store: where the database comes from, opening it, the lock and
// the retrying executor.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <sys/stat.h>
#include <thread>

#include "core/eventstore/eventcheck.h"
#include "core/eventstore/eventqueries.h"
#include "core/eventstore/eventstore.h"
#include "core/eventstore/eventtables.h"
#include "core/eventstore/eventtypes.h"
#include "core/registry.h"
#include "platform/system.h"
#include "store_fixture.h"

namespace {

using namespace std::chrono_literals;
using plat::PathFromNative;
using ps_test::EventStoreTest;
using ps_test::RawDb;

const char* const kTables[] = {"EventInfo", "FileInfo", "SearchEventLog", "FileEventLog", "ExceptionInfo",
                               "PersonalInfo"};

long long TableCount(RawDb& raw)
{
    return raw.Int(
        "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('EventInfo', 'FileInfo', "
        "'SearchEventLog', 'FileEventLog', 'ExceptionInfo', 'PersonalInfo')");
}

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

TEST(EventStoreLocationTest, DatabaseLivesInTheDataFolderAndTemplateBesideTheProgram)
{
    EXPECT_EQ(plat::VendorSubdir(plat::AppDataDir()) + u"/Privasweep.db", EventDatabasePath());
    EXPECT_EQ(plat::ProgramDir() + u"/Privasweep.db", TemplateDatabasePath());
    EXPECT_NE(std::u16string::npos, EventDatabasePath().find(u"/Norvane/Privasweep/"));
}

TEST(EventStoreTemplateTest, BuiltTemplateHoldsTheTablesAndIsMigrated)
{
    ASSERT_TRUE(Exists(ps_test::BuiltTemplatePath()));
    RawDb raw(ps_test::BuiltTemplatePath());
    EXPECT_EQ(6, TableCount(raw));
    EXPECT_EQ(1, raw.Int("PRAGMA user_version"));
    // Column names the statements rely on.
    EXPECT_EQ(0, raw.Exec("SELECT EventID, Year, Month, Day, Time, Type, User FROM EventInfo;"
                          "SELECT FileIndex, Hash, Path, Name, ID, Account, CreditCard, PhoneNumber, Address, EMail, "
                          "IPAddress FROM FileInfo;"
                          "SELECT EventID, ID, Account, CreditCard, PhoneNumber, Address, EMail, IPAddress, HWP, DOC, "
                          "XLS, PPT, PDF FROM SearchEventLog;"
                          "SELECT EventID, FileIndex FROM FileEventLog;"
                          "SELECT FileIndex, EventID FROM ExceptionInfo;"
                          "SELECT FileIndex, Type, Data FROM PersonalInfo;"));
}

TEST(EventStoreTemplateTest, CopyCreatesTheFolderAndNeverOverwrites)
{
    ps_test::TempDir dir;
    const std::string db = dir.file("data/Norvane/Privasweep/Privasweep.db");
    const std::u16string wdb = PathFromNative(db);
    EXPECT_TRUE(CopyTemplateDatabase(PathFromNative(ps_test::BuiltTemplatePath()), wdb));
    EXPECT_EQ(ps_test::ReadFileBytes(ps_test::BuiltTemplatePath()), ps_test::ReadFileBytes(db));

    // An existing database stays as it is.
    ASSERT_TRUE(ps_test::WriteFileBytes(db, "mine"));
    EXPECT_FALSE(CopyTemplateDatabase(PathFromNative(ps_test::BuiltTemplatePath()), wdb));
    EXPECT_EQ("mine", ps_test::ReadFileBytes(db));

    // A missing template copies nothing and leaves no partial file behind.
    const std::string other = dir.file("other/Privasweep.db");
    EXPECT_FALSE(CopyTemplateDatabase(PathFromNative(dir.file("none.db")), PathFromNative(other)));
    EXPECT_FALSE(Exists(other));
    EXPECT_TRUE(Exists(dir.file("other")));  // the folder is there for the open
}

TEST(EventStoreOpenTest, StartCopiesOpensAndSetsTheMigrationFlagOnce)
{
    ps_test::TempDir dir;
    const std::u16string db = PathFromNative(dir.file("Norvane/Privasweep/Privasweep.db"));
    WriteRegistryDword(HKEY_CURRENT_USER_ROOT, kRunStateKey, u"Migration", 0, true);

    StartEventStore(db, PathFromNative(ps_test::BuiltTemplatePath()));
    EXPECT_TRUE(IsEventDatabaseOpen());
    EXPECT_EQ(db, OpenedEventDatabasePath());
    EXPECT_EQ(1u, ReadRegistryDword(kRunStateKey, 0, u"Migration"));
    EXPECT_TRUE(IsEventDatabaseMigrated());
    const int64_t id = AddEvent(EVENT_USER_SEARCH_START);
    EXPECT_GT(id, 0);
    CloseEventDatabase();
    EXPECT_FALSE(IsEventDatabaseOpen());

    // A reset key store on a later start: the database itself says it is
    // migrated, so the current codes are not rewritten.
    WriteRegistryDword(HKEY_CURRENT_USER_ROOT, kRunStateKey, u"Migration", 0, true);
    StartEventStore(db, PathFromNative(ps_test::BuiltTemplatePath()));
    EventInfoRow row;
    ASSERT_TRUE(GetEventInfo(row, id));
    EXPECT_EQ(EVENT_USER_SEARCH_START, row.Type);
    EXPECT_EQ(1u, ReadRegistryDword(kRunStateKey, 0, u"Migration"));
    ExitEventDatabase();
}

TEST(EventStoreOpenTest, DatabaseWithoutTablesGetsThem)
{
    ps_test::TempDir dir;
    // No template at all: an empty database is created and given the schema.
    const std::string db = dir.file("fresh.db");
    OpenEventDatabase(PathFromNative(db));
    EXPECT_GT(AddEvent(EVENT_ALL_SEARCH_START), 0);
    EXPECT_TRUE(IsEventDatabaseMigrated());
    ExitEventDatabase();
    RawDb raw(db);
    EXPECT_EQ(6, TableCount(raw));
}

TEST(EventStoreOpenTest, PartialDatabaseKeepsItsEventsAndItsMigrationMark)
{
    ps_test::TempDir dir;
    const std::string db = dir.file("old.db");
    {
        RawDb raw(db);
        ASSERT_EQ(0, raw.Exec("CREATE TABLE EventInfo (EventID INTEGER PRIMARY KEY, Year INTEGER, Month INTEGER, "
                              "Day INTEGER, Time TEXT, Type INTEGER, User TEXT);"
                              "INSERT INTO EventInfo values (1, 2020, 1, 2, '010203', 8, 'u');"));
    }
    OpenEventDatabase(PathFromNative(db));
    EXPECT_FALSE(IsEventDatabaseMigrated());
    ExitEventDatabase();
    RawDb raw(db);
    EXPECT_EQ(6, TableCount(raw));
    EXPECT_EQ(8, raw.Int("SELECT Type FROM EventInfo WHERE EventID = 1"));
}

TEST(EventStoreOpenTest, FileThatIsNoDatabaseThrowsAndLeavesNoConnection)
{
    ps_test::TempDir dir;
    const std::string db = dir.file("junk.db");
    ASSERT_TRUE(ps_test::WriteFileBytes(db, std::string(4096, 'x')));
    EXPECT_THROW(OpenEventDatabase(PathFromNative(db)), CppSQLite3Exception);
    EXPECT_FALSE(IsEventDatabaseOpen());
    EXPECT_EQ(std::string(4096, 'x'), ps_test::ReadFileBytes(db));
}

TEST(EventStoreOpenTest, OperationsWithoutConnectionFailCleanly)
{
    ExitEventDatabase();
    ASSERT_FALSE(IsEventDatabaseOpen());
    EXPECT_EQ(0, AddEvent(EVENT_ALL_SEARCH_START));
    EXPECT_FALSE(AddFileEventLog(1, 1));
    std::vector<int64_t> ids;
    try {
        GetAllEventIds(ids);
        FAIL();
    } catch (const CppSQLite3Exception& e) {
        EXPECT_EQ(1000, e.ErrorCode());
        EXPECT_NE(std::u16string::npos, e.ErrorMessage().find(u"Database not open"));
    }
    EXPECT_NO_THROW(CloseEventDatabase());
}

// --- the executor ---------------------------------------------------------

TEST_F(EventStoreTest, RetriesTheWholeTransactionAndCommitsItOnce)
{
    int runs = 0;
    const bool ok = ExecuteWithRetry([&](CppSQLite3DB& db) {
        ++runs;
        int rc = db.ExecuteDml(u"INSERT INTO FileEventLog (EventID, FileIndex) values (?, ?)", {int64_t{1}, int64_t{1}});
        if (rc == 0 && runs == 1)
            rc = 5;  // the second statement of the first attempt fails
        if (rc == 0)
            rc = db.ExecuteDml(u"INSERT INTO FileEventLog (EventID, FileIndex) values (?, ?)",
                               {int64_t{1}, int64_t{2}});
        return rc;
    });
    EXPECT_TRUE(ok);
    EXPECT_EQ(2, runs);
    RawDb raw(dbPath());
    EXPECT_EQ(2, raw.Int("SELECT count(*) FROM FileEventLog"));
    EXPECT_EQ(1, raw.Int("SELECT count(*) FROM FileEventLog WHERE FileIndex = 1"));
}

TEST_F(EventStoreTest, WriteAgainstALockedDatabaseFailsAfterThreeAttemptsAndReportsIt)
{
    SetEventStoreBusyTimeout(50);
    RawDb other(dbPath());
    ASSERT_EQ(0, other.Exec("BEGIN IMMEDIATE"));  // a second connection holds the write lock
    int runs = 0;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = ExecuteWithRetry([&](CppSQLite3DB& db) {
        ++runs;
        return db.ExecuteDml(u"INSERT INTO FileEventLog (EventID, FileIndex) values (1, 1)");
    });
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(ok);
    EXPECT_EQ(0, runs);  // the transaction never began
    EXPECT_GE(elapsed, 300ms);  // three pauses of 100 ms
    EXPECT_TRUE(IsEventDatabaseOpen());
    EXPECT_EQ(0, AddEvent(EVENT_DELETE_START));  // a failed insertion has no row id
    ASSERT_EQ(0, other.Exec("COMMIT"));

    // Afterwards the reopened connection writes again.
    EXPECT_GT(AddEvent(EVENT_DELETE_START), 0);
    EXPECT_EQ(0, other.Int("SELECT count(*) FROM FileEventLog"));
}

TEST_F(EventStoreTest, WriteSucceedsWhenTheLockIsReleasedDuringTheRetries)
{
    SetEventStoreBusyTimeout(20);
    RawDb other(dbPath());
    ASSERT_EQ(0, other.Exec("BEGIN IMMEDIATE"));
    std::thread release([&] {
        std::this_thread::sleep_for(50ms);
        other.Exec("COMMIT");
    });
    const int64_t id = AddEvent(EVENT_ENCRYPT_START);
    release.join();
    EXPECT_GT(id, 0);
    EventInfoRow row;
    ASSERT_TRUE(GetEventInfo(row, id));
    EXPECT_EQ(EVENT_ENCRYPT_START, row.Type);
}

TEST_F(EventStoreTest, UnpreparableStatementEndsAtOnceWithTheConnectionUntouched)
{
    int runs = 0;
    const bool ok = ExecuteWithRetry([&](CppSQLite3DB& db) {
        ++runs;
        db.ExecuteDml(u"INSERT INTO FileEventLog (EventID, FileIndex) values (5, 5)");
        return db.ExecuteDml(u"INSERT INTO NoSuchTable values (1)");
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(1, runs);  // no further attempt
    EXPECT_TRUE(IsEventDatabaseOpen());
    RawDb raw(dbPath());
    EXPECT_EQ(0, raw.Int("SELECT count(*) FROM FileEventLog"));  // the first statement was rolled back
}

TEST_F(EventStoreTest, ConstraintFailureIsRetriedThenReported)
{
    ASSERT_GT(AddEvent(EVENT_ALL_SEARCH_START), 0);
    int runs = 0;
    const bool ok = ExecuteWithRetry([&](CppSQLite3DB& db) {
        ++runs;
        return db.ExecuteDml(u"INSERT INTO EventInfo (EventID, Type) values (1, 1)");
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(3, runs);
    EXPECT_TRUE(IsEventDatabaseOpen());
}

TEST_F(EventStoreTest, FailedReadReleasesTheLock)
{
    EXPECT_THROW(ReadEventRows(u"SELECT * FROM NoSuchTable", {}, [](const CppSQLite3Query&) {}), CppSQLite3Exception);
    std::atomic<int64_t> id{0};
    std::thread other([&] { id = AddEvent(EVENT_ALL_SEARCH_START); });
    other.join();
    EXPECT_GT(id.load(), 0);
}

TEST_F(EventStoreTest, RowIdsBelongToEachCallersOwnInsertion)
{
    constexpr int kThreads = 4;
    constexpr int kPerThread = 50;
    std::vector<std::vector<std::pair<int64_t, int32_t>>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const int32_t type = 0x1000000 * (t + 1);
                got[t].emplace_back(AddEvent(type), type);
            }
        });
    for (auto& th : threads)
        th.join();
    std::set<int64_t> seen;
    for (const auto& list : got)
        for (const auto& [id, type] : list) {
            EXPECT_TRUE(seen.insert(id).second);
            EventInfoRow row;
            ASSERT_TRUE(GetEventInfo(row, id));
            EXPECT_EQ(type, row.Type);
        }
    EXPECT_EQ(static_cast<size_t>(kThreads * kPerThread), seen.size());
}

TEST_F(EventStoreTest, NestedWritesJoinTheEnclosingTransaction)
{
    const bool ok = ExecuteWithRetry([&](CppSQLite3DB&) {
        EXPECT_TRUE(AddFileEventLog(9, 1));
        EXPECT_TRUE(AddFileEventLog(9, 2));
        return 5;  // the enclosing write fails: nothing of it stays
    });
    EXPECT_FALSE(ok);
    std::vector<int64_t> files;
    EXPECT_FALSE(GetFileEventLogFiles(files, 9));
}

TEST(EventStoreConversionTest, ColumnTextsToNumbers)
{
    const struct {
        const char16_t* text;
        int32_t asInt;
        int64_t asId;
    } cases[] = {
        {u"", 0, 0},
        {u"abc", 0, 0},
        {u"42", 42, 42},
        {u"  17x", 17, 17},
        {u"-5", -5, -5},
        {u"2147483647", INT32_MAX, 2147483647},
        {u"99999999999", INT32_MAX, 99999999999},
        {u"-99999999999", INT32_MIN, -99999999999},
        {u"9223372036854775807", INT32_MAX, INT64_MAX},
        {u"99999999999999999999999", INT32_MAX, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.asInt, IntFromText(c.text)) << plat::WideToUtf8(c.text);
        EXPECT_EQ(c.asId, RowIdFromText(c.text)) << plat::WideToUtf8(c.text);
    }
}

}  // namespace

namespace {

// Overwrites the page in the middle of a database file with junk, or the
// whole file with text that is no database at all.
void DamageDatabase(const std::string& path, bool wholeFile)
{
    FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_TRUE(f);
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    if (wholeFile) {
        std::fseek(f, 0, SEEK_SET);
        const std::string text(static_cast<size_t>(size), 'x');
        std::fwrite(text.data(), 1, text.size(), f);
    } else {
        const long page = 4096;
        ASSERT_GT(size / page, 4);
        std::fseek(f, (size / page / 2) * page, SEEK_SET);
        const std::string junk(page, '\x5A');
        std::fwrite(junk.data(), 1, junk.size(), f);
    }
    std::fclose(f);
}

}  // namespace

TEST(EventStoreOpenTest, DamagedDatabaseIsSetAsideAndTheTemplateTakesItsPlace)
{
    for (const bool wholeFile : {false, true}) {
        ps_test::TempDir dir;
        const std::string native = dir.file("Norvane/Privasweep/Privasweep.db");
        const std::u16string db = PathFromNative(native);
        const std::u16string tmpl = PathFromNative(ps_test::BuiltTemplatePath());
        EXPECT_EQ(u"", StartEventStore(db, tmpl));
        for (int i = 0; i < 3000; ++i) {
            SearchFileInfo doc;
            doc.documentKey = std::u16string(64, u'A');
            doc.SetFolderAndName(u"/home/user/문서/" + plat::AsciiToWide(std::to_string(i)), u"보고서.hwp");
            ASSERT_GT(AddFileInfoRow(PersonalInfoCounts{}, doc), 0);
        }
        ExitEventDatabase();
        ASSERT_EQ(EventDatabaseHealth::Sound, CheckEventDatabase(db));
        std::string before;
        {
            RawDb raw(native);
            before = raw.Text("PRAGMA page_size");
        }
        ASSERT_EQ("4096", before);
        DamageDatabase(native, wholeFile);
        EXPECT_EQ(EventDatabaseHealth::Damaged, CheckEventDatabase(db)) << wholeFile;

        const std::u16string aside = StartEventStore(db, tmpl);
        ASSERT_NE(u"", aside) << wholeFile;
        EXPECT_EQ(0u, aside.find(db + u".damaged-"));
        struct stat st;
        EXPECT_EQ(0, stat(plat::PathToNative(aside).c_str(), &st));  // kept for the user
        // The store runs on a fresh copy of the template.
        EXPECT_TRUE(IsEventDatabaseOpen());
        EXPECT_GT(AddEvent(EVENT_USER_SEARCH_START), 0);
        ExitEventDatabase();
        EXPECT_EQ(EventDatabaseHealth::Sound, CheckEventDatabase(db));
        RawDb raw(native);
        EXPECT_EQ(0, raw.Int("SELECT count(*) FROM FileInfo"));
        EXPECT_EQ(1, raw.Int("SELECT count(*) FROM EventInfo"));
    }
}

TEST(EventStoreOpenTest, SettingAsideNeverOverwritesAnEarlierCopy)
{
    ps_test::TempDir dir;
    const std::string native = dir.file("events.db");
    const plat::LocalTime now{2024, 3, 5, 7, 8, 9, 0, 2};
    std::vector<std::u16string> names;
    for (int i = 0; i < 3; ++i) {
        FILE* f = std::fopen(native.c_str(), "wb");
        ASSERT_TRUE(f);
        std::fputc('0' + i, f);
        std::fclose(f);
        FILE* wal = std::fopen((native + "-wal").c_str(), "wb");
        ASSERT_TRUE(wal);
        std::fclose(wal);
        names.push_back(SetAsideDamagedDatabase(PathFromNative(native), now));
    }
    const std::u16string base = PathFromNative(native) + u".damaged-20240305-070809";
    EXPECT_EQ((std::vector<std::u16string>{base, base + u"-2", base + u"-3"}), names);
    struct stat st;
    EXPECT_NE(0, stat(native.c_str(), &st));
    EXPECT_NE(0, stat((native + "-wal").c_str(), &st));  // the log went with its file
    EXPECT_EQ(0, stat((plat::PathToNative(base) + "-2-wal").c_str(), &st));
    // A missing database is sound: the template is copied as before.
    EXPECT_EQ(EventDatabaseHealth::Sound, CheckEventDatabase(PathFromNative(dir.file("none.db"))));
}
