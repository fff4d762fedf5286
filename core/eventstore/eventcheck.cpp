#include "core/eventstore/eventcheck.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/text.h"

namespace {

bool IsDamageCode(int rc)
{
    rc &= 0xFF;
    return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace

EventDatabaseHealth CheckEventDatabase(const std::u16string& path)
{
    const std::string native = plat::PathToNative(path);
    struct stat st;
    if (stat(native.c_str(), &st) != 0)
        return errno == ENOENT ? EventDatabaseHealth::Sound : EventDatabaseHealth::Unknown;
    if (!S_ISREG(st.st_mode))
        return EventDatabaseHealth::Unknown;  // the ordinary open reports it
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(native.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close(db);
        return IsDamageCode(rc) ? EventDatabaseHealth::Damaged : EventDatabaseHealth::Unknown;
    }
    sqlite3_busy_timeout(db, 2000);
    sqlite3_stmt* st2 = nullptr;
    EventDatabaseHealth health = EventDatabaseHealth::Unknown;
    rc = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &st2, nullptr);
    if (rc == SQLITE_OK) {
        // The check answers one row "ok", or one row per problem found.
        bool ok = false, problems = false;
        while ((rc = sqlite3_step(st2)) == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(st2, 0);
            if (text && std::string(reinterpret_cast<const char*>(text)) == "ok")
                ok = true;
            else
                problems = true;
        }
        if (rc == SQLITE_DONE)
            health = problems || !ok ? EventDatabaseHealth::Damaged : EventDatabaseHealth::Sound;
        else if (IsDamageCode(rc))
            health = EventDatabaseHealth::Damaged;
    } else if (IsDamageCode(rc)) {
        health = EventDatabaseHealth::Damaged;
    }
    sqlite3_finalize(st2);
    sqlite3_close(db);
    return health;
}

std::u16string SetAsideDamagedDatabase(const std::u16string& path, const plat::LocalTime& now)
{
    const std::string native = plat::PathToNative(path);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, ".damaged-%04d%02d%02d-%02d%02d%02d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    std::string aside = native + stamp;
    for (int n = 2; Exists(aside) || Exists(aside + "-wal") || Exists(aside + "-journal"); ++n) {
        if (n > 1000)
            return std::u16string();
        aside = native + stamp + "-" + std::to_string(n);
    }
    if (std::rename(native.c_str(), aside.c_str()) != 0)
        return std::u16string();
    // The logs belong to the damaged file; left in place they would be
    // played into the fresh database.
    for (const char* log : {"-wal", "-journal"}) {
        const std::string from = native + log;
        if (Exists(from) && std::rename(from.c_str(), (aside + log).c_str()) != 0)
            ::unlink(from.c_str());
    }
    ::unlink((native + "-shm").c_str());
    return plat::PathFromNative(aside);
}
