#include "core/eventstore/eventtypes.h"

#include <sqlite3.h>

#include "core/eventstore/eventcheck.h"
#include "core/eventstore/eventstore.h"

#include "core/logmgr.h"
#include "core/registry.h"

namespace {

// New code, old code; in this order no statement rewrites a value an earlier
// one produced.
constexpr int32_t kMigration[][2] = {
    {3, 4},
    {4, 8},
    {5, 16},
    {6, 32},
    {0x100, 0x100},
    {0x200, 0x200},
    {0x500, 0x400},
    {0x1000, 0x1000},
    {0x2000, 0x2000},
    {0x3000, 0x4000},
    {0x10000, 0x10000},
    {0x20000, 0x20000},
    {0x30000, 0x40000},
    {0x40000, 0x80000},
    {0x50000, 0x100000},
    {0x60000, 0x200000},
    {0x1000000, 0x1000000},
    {0x2000000, 0x2000000},
    {0x3000000, 0x4000000},
    {0x4000000, 0x8000000},
    {0x5000000, 0x10000000},
    {0x6000000, 0x20000000},
    {0x7000000, 0x40000000},
};

constexpr char16_t kMigrationValue[] = u"Migration";

int64_t UserVersion(CppSQLite3DB& db)
{
    CppSQLite3Query q = db.ExecuteQuery(u"PRAGMA user_version");
    return q.AtEnd() ? 0 : RowIdFromText(q.FieldText(0));
}

}  // namespace

bool IsEventDatabaseMigrated()
{
    EventStoreLockGuard guard;
    return UserVersion(EventDatabase()) >= 1;
}

bool MigrateEventTypes()
{
    return ExecuteWithRetry([](CppSQLite3DB& db) {
        if (UserVersion(db) >= 1)
            return 0;
        for (const auto& step : kMigration) {
            const int rc = db.ExecuteDml(u"UPDATE EventInfo SET Type = ? WHERE Type = ?",
                                         {int64_t{step[0]}, int64_t{step[1]}});
            if (rc != 0)
                return rc;
        }
        // The mark is part of the same transaction: it commits with the codes.
        return db.ExecuteDml(u"PRAGMA user_version = 1");
    });
}

std::u16string StartEventStore(const std::u16string& databasePath, const std::u16string& templatePath)
{
    // A damaged database is never written on: it is set aside and the store
    // starts again from the template.
    std::u16string setAside;
    if (CheckEventDatabase(databasePath) == EventDatabaseHealth::Damaged) {
        setAside = SetAsideDamagedDatabase(databasePath, plat::LocalTimeNow());
        SearchLog().Write(u"[EventStore] damaged database set aside as %s",
                          setAside.empty() ? u"(could not be moved)" : setAside.c_str());
        if (setAside.empty())
            throw CppSQLite3Exception(SQLITE_CORRUPT, u"the damaged event database could not be set aside");
    }
    CopyTemplateDatabase(templatePath, databasePath);
    OpenEventDatabase(databasePath);
    if (ReadRegistryDword(kRunStateKey, 0, kMigrationValue) != 0)
        return setAside;
    if (MigrateEventTypes())
        WriteRegistryDword(HKEY_CURRENT_USER_ROOT, kRunStateKey, kMigrationValue, 1, false);
    else
        SearchLog().Write(u"[EventStore] the migration of the event types did not complete");
    return setAside;
}
