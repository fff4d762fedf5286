// Rewriting the event codes of the earlier numbering.
#include <gtest/gtest.h>

#include <map>

#include "core/eventstore/eventqueries.h"
#include "core/eventstore/eventtypes.h"
#include "core/registry.h"
#include "store_fixture.h"

namespace {

using namespace std::chrono_literals;
using plat::PathFromNative;
using ps_test::RawDb;

// Old code -> new code, for every code of the earlier numbering.
const std::map<int32_t, int32_t> kOldToNew = {
    {1, 1},
    {2, 2},
    {4, 3},
    {8, 4},
    {16, 5},
    {32, 6},
    {0x100, 0x100},
    {0x200, 0x200},
    {0x400, 0x500},
    {0x1000, 0x1000},
    {0x2000, 0x2000},
    {0x4000, 0x3000},
    {0x10000, 0x10000},
    {0x20000, 0x20000},
    {0x40000, 0x30000},
    {0x80000, 0x40000},
    {0x100000, 0x50000},
    {0x200000, 0x60000},
    {0x1000000, 0x1000000},
    {0x2000000, 0x2000000},
    {0x4000000, 0x3000000},
    {0x8000000, 0x4000000},
    {0x10000000, 0x5000000},
    {0x20000000, 0x6000000},
    {0x40000000, 0x7000000},
};

class MigrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetEventStoreBusyTimeout(20);
        SetEventStoreRetryPause(10ms);
        WriteRegistryDword(HKEY_CURRENT_USER_ROOT, kRunStateKey, u"Migration", 0, true);
        path = dir.file("old.db");
        // A database of the earlier program: the tables, one event per old
        // code (EventID = its position), and no migration mark.
        RawDb raw(path);
        std::string sql =
            "CREATE TABLE EventInfo (EventID INTEGER PRIMARY KEY, Year INTEGER, Month INTEGER, Day INTEGER, "
            "Time TEXT, Type INTEGER, User TEXT);"
            "CREATE TABLE FileInfo (FileIndex INTEGER PRIMARY KEY, Hash TEXT, Path TEXT, Name TEXT, ID INTEGER, "
            "Account INTEGER, CreditCard INTEGER, PhoneNumber INTEGER, Address INTEGER, EMail INTEGER, "
            "IPAddress INTEGER);"
            "CREATE TABLE SearchEventLog (EventID INTEGER, ID INTEGER, Account INTEGER, CreditCard INTEGER, "
            "PhoneNumber INTEGER, Address INTEGER, EMail INTEGER, IPAddress INTEGER, HWP INTEGER, DOC INTEGER, "
            "XLS INTEGER, PPT INTEGER, PDF INTEGER);"
            "CREATE TABLE FileEventLog (EventID INTEGER, FileIndex INTEGER);"
            "CREATE TABLE ExceptionInfo (FileIndex INTEGER, EventID INTEGER);"
            "CREATE TABLE PersonalInfo (FileIndex INTEGER, Type INTEGER, Data TEXT);";
        int id = 1;
        for (const auto& [oldCode, newCode] : kOldToNew)
            sql += "INSERT INTO EventInfo values (" + std::to_string(id++) + ", 2020, 5, 6, '101010', " +
                   std::to_string(oldCode) + ", 'user');";
        ASSERT_EQ(0, raw.Exec(sql));
    }
    void TearDown() override
    {
        ExitEventDatabase();
        SetEventStoreBusyTimeout(CppSQLite3DB::kDefaultBusyTimeoutMs);
    }

    std::vector<int32_t> Types()
    {
        RawDb raw(path);
        std::vector<int32_t> out;
        for (size_t id = 1; id <= kOldToNew.size(); ++id)
            out.push_back(static_cast<int32_t>(raw.Int("SELECT Type FROM EventInfo WHERE EventID = " + std::to_string(id))));
        return out;
    }
    std::vector<int32_t> OldTypes() const
    {
        std::vector<int32_t> out;
        for (const auto& p : kOldToNew)
            out.push_back(p.first);
        return out;
    }
    std::vector<int32_t> NewTypes() const
    {
        std::vector<int32_t> out;
        for (const auto& p : kOldToNew)
            out.push_back(p.second);
        return out;
    }

    ps_test::TempDir dir;
    std::string path;
};

TEST_F(MigrationTest, RewritesEveryOldCodeOnceAndMarksTheDatabase)
{
    OpenEventDatabase(PathFromNative(path));
    EXPECT_FALSE(IsEventDatabaseMigrated());
    ASSERT_TRUE(MigrateEventTypes());
    EXPECT_TRUE(IsEventDatabaseMigrated());
    EXPECT_EQ(NewTypes(), Types());

    // A second run changes nothing (4 would otherwise become 3, 0x40000 0x30000...).
    ASSERT_TRUE(MigrateEventTypes());
    EXPECT_EQ(NewTypes(), Types());
}

TEST_F(MigrationTest, StartMigratesOnceAndThenSetsTheFlag)
{
    StartEventStore(PathFromNative(path), PathFromNative(ps_test::BuiltTemplatePath()));
    EXPECT_EQ(NewTypes(), Types());
    EXPECT_EQ(1u, ReadRegistryDword(kRunStateKey, 0, u"Migration"));
    ExitEventDatabase();

    // The key store is reset but the database remembers.
    WriteRegistryDword(HKEY_CURRENT_USER_ROOT, kRunStateKey, u"Migration", 0, true);
    StartEventStore(PathFromNative(path), PathFromNative(ps_test::BuiltTemplatePath()));
    EXPECT_EQ(NewTypes(), Types());
    EXPECT_EQ(1u, ReadRegistryDword(kRunStateKey, 0, u"Migration"));
}

TEST_F(MigrationTest, FlagAlreadySetSkipsTheMigration)
{
    WriteRegistryDword(HKEY_CURRENT_USER_ROOT, kRunStateKey, u"Migration", 1, false);
    StartEventStore(PathFromNative(path), PathFromNative(ps_test::BuiltTemplatePath()));
    EXPECT_EQ(OldTypes(), Types());
}

TEST_F(MigrationTest, FailedMigrationChangesNothingAndLeavesTheFlagClear)
{
    {
        // The last rewrite is refused: the whole migration must roll back.
        RawDb raw(path);
        ASSERT_EQ(0, raw.Exec("CREATE TRIGGER refuse BEFORE UPDATE ON EventInfo WHEN NEW.Type = 117440512 "
                              "BEGIN SELECT RAISE(ABORT, 'refused'); END;"));
    }
    StartEventStore(PathFromNative(path), PathFromNative(ps_test::BuiltTemplatePath()));
    EXPECT_EQ(OldTypes(), Types());
    EXPECT_FALSE(IsEventDatabaseMigrated());
    EXPECT_EQ(0u, ReadRegistryDword(kRunStateKey, 0, u"Migration"));
    ExitEventDatabase();

    // Once the obstacle is gone the next start migrates.
    {
        RawDb raw(path);
        ASSERT_EQ(0, raw.Exec("DROP TRIGGER refuse"));
    }
    StartEventStore(PathFromNative(path), PathFromNative(ps_test::BuiltTemplatePath()));
    EXPECT_EQ(NewTypes(), Types());
    EXPECT_EQ(1u, ReadRegistryDword(kRunStateKey, 0, u"Migration"));
}

TEST_F(MigrationTest, LockedDatabaseIsNotMigratedAndReportsIt)
{
    OpenEventDatabase(PathFromNative(path));
    RawDb other(path);
    ASSERT_EQ(0, other.Exec("BEGIN IMMEDIATE"));
    EXPECT_FALSE(MigrateEventTypes());
    ASSERT_EQ(0, other.Exec("COMMIT"));
    EXPECT_EQ(OldTypes(), Types());
    EXPECT_TRUE(MigrateEventTypes());
    EXPECT_EQ(NewTypes(), Types());
}

TEST(MigrationEmptyTest, DatabaseWithoutEventsMigratesWithoutError)
{
    ps_test::TempDir dir;
    const std::string path = dir.file("empty.db");
    {
        RawDb raw(path);
        ASSERT_EQ(0, raw.Exec("CREATE TABLE EventInfo (EventID INTEGER PRIMARY KEY, Year INTEGER, Month INTEGER, "
                              "Day INTEGER, Time TEXT, Type INTEGER, User TEXT);"));
    }
    OpenEventDatabase(PathFromNative(path));
    EXPECT_FALSE(IsEventDatabaseMigrated());
    EXPECT_TRUE(MigrateEventTypes());
    EXPECT_TRUE(IsEventDatabaseMigrated());
    std::vector<int64_t> ids;
    EXPECT_FALSE(GetAllEventIds(ids));
    ExitEventDatabase();
}

}  // namespace
