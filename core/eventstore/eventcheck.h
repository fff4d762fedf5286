// The start-up check of the event database: a database whose pages are
// damaged is not written on; it is set aside under a dated name and the
// program starts from a fresh copy of the template.
#pragma once

#include <string>

#include "platform/system.h"

enum class EventDatabaseHealth {
    Sound,    // the check passed, or there is no database yet
    Damaged,  // the check found damage, or the file is no database
    Unknown,  // the check could not run (busy, no access): left as it is
};

// Runs SQLite's quick check on the database at `path` over a connection of
// its own. Nothing else may have the database open.
EventDatabaseHealth CheckEventDatabase(const std::u16string& path);

// Renames the database (with its write-ahead log; the shared-memory index is
// removed) to "<name>.damaged-YYYYMMDD-HHMMSS", adding "-2", "-3", ... when
// that name is taken. Returns the new path, or an empty text when the file
// could not be moved.
std::u16string SetAsideDamagedDatabase(const std::u16string& path, const plat::LocalTime& now);
