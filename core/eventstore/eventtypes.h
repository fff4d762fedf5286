// Event type codes, the group masks the viewers filter with, and the one-time
// rewrite of the codes of the earlier numbering (one bit per event).
#pragma once

#include <cstdint>
#include <string>

#include "core/eventstore/eventstore.h"

enum EventType : int32_t {
    EVENT_ALL_SEARCH_START = 1,
    EVENT_ALL_SEARCH_CANCEL = 2,
    EVENT_ALL_SEARCH_COMPLETE = 3,
    EVENT_USER_SEARCH_START = 4,
    EVENT_USER_SEARCH_CANCEL = 5,
    EVENT_USER_SEARCH_COMPLETE = 6,

    EVENT_ENCRYPT_START = 0x100,
    EVENT_ENCRYPT_CANCEL = 0x200,
    EVENT_ENCRYPT_KEY_BASE_COMPLETE = 0x300,
    EVENT_ENCRYPT_AES128_COMPLETE = 0x400,
    EVENT_ENCRYPT_AES256_COMPLETE = 0x500,

    EVENT_DELETE_START = 0x1000,
    EVENT_DELETE_CANCEL = 0x2000,
    EVENT_DELETE_COMPLETE = 0x3000,

    EVENT_ADD_EXCEPTION_START = 0x10000,
    EVENT_ADD_EXCEPTION_CANCEL = 0x20000,
    EVENT_ADD_EXCEPTION_COMPLETE = 0x30000,
    EVENT_REMOVE_EXCEPTION_START = 0x40000,
    EVENT_REMOVE_EXCEPTION_CANCEL = 0x50000,
    EVENT_REMOVE_EXCEPTION_COMPLETE = 0x60000,
    EVENT_ERROR_EXCEPTION_START = 0x70000,
    EVENT_ERROR_EXCEPTION_CANCEL = 0x80000,
    EVENT_ERROR_EXCEPTION_COMPLETE = 0x90000,

    EVENT_SEARCH_FOLDER_CHANGED = 0x1000000,
    EVENT_PERSONAL_INFO_CHANGED = 0x2000000,
    EVENT_KIND_OF_DOCUMENT_CHANGED = 0x3000000,
    EVENT_PASSWORD_CHANGED = 0x4000000,
    EVENT_LOG_SAVED = 0x5000000,
    EVENT_LOG_DELETED = 0x6000000,
    EVENT_LOG_SAVE_DATE_CHANGED = 0x7000000,
    EVENT_KEY_BASE_ALGORITHM_CHANGED = 0x8000000,
    EVENT_AES128_ALGORITHM_CHANGED = 0x9000000,
    EVENT_AES256_ALGORITHM_CHANGED = 0xA000000,
};

// Group masks, applied as "(EventInfo.Type & mask)"; passed as signed 32-bit
// values (0xFF000000 is -16777216, every event is -1).
constexpr int32_t EVENT_MASK_SEARCH = 0xFF;
constexpr int32_t EVENT_MASK_ENCRYPT = 0xF00;
constexpr int32_t EVENT_MASK_DELETE = 0xF000;
constexpr int32_t EVENT_MASK_EXCEPTION = 0xFF0000;
constexpr int32_t EVENT_MASK_SETTINGS = static_cast<int32_t>(0xFF000000u);
constexpr int32_t EVENT_MASK_ALL = static_cast<int32_t>(0xFFFFFFFFu);

// Rewrites the codes of the earlier numbering in one transaction and marks the
// database migrated in the same transaction. A database already marked
// (every database made from the schema is) is left as it is. True when the
// database is migrated afterwards.
bool MigrateEventTypes();

// True when the database records that its codes are of the current numbering.
// Throws CppSQLite3Exception when it cannot be read.
bool IsEventDatabaseMigrated();

// The start-up of the store: copies the template when the database is
// missing, opens it (throws CppSQLite3Exception when that fails) and, while
// the key-store value Migration is 0 or missing, migrates the codes; the value
// becomes 1 only once the database is migrated. A database that fails the
// start-up check first is set aside under a dated name (see eventcheck.h)
// and replaced by the template; the name it was set aside under is returned
// (empty when the database was sound). A damaged database that cannot be
// moved throws, as one that cannot be opened.
std::u16string StartEventStore(const std::u16string& databasePath = EventDatabasePath(),
                     const std::u16string& templatePath = TemplateDatabasePath());
