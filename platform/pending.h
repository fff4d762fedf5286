// Files to be deleted at the next start of the program: a list kept in the
// key store, purged by the start-up of the process-wide services.
#pragma once

#include "platform/keystore.h"
#include "platform/text.h"

namespace plat {

// "Software\Norvane\Privasweep\PendingDelete": one text value per file.
extern const char16_t kPendingDeleteKey[];

// Adds a file (or an empty folder) to the list; false when the store
// cannot be written.
bool DeleteAtNextStart(WStringView path, KeyStore& store = KeyStore::User());

// Deletes every listed file or empty folder and empties the list. Each
// entry is tried once: one that cannot be deleted is dropped all the same,
// as a delete at restart would. Returns the number of entries removed from
// disk (a path that no longer exists counts as removed).
int PurgePendingDeletions(KeyStore& store = KeyStore::User());

}  // namespace plat
