// Faults another program brings to the event database file.
#pragma once

#include <string>

namespace ps_test {

// Checkpoints the database at dbPath and overwrites every page but the
// first with junk; the program's open connection keeps none of them in its
// cache (as with a database larger than the cache). Fails the test when the
// file cannot be damaged.
void OverwriteStoreButFirstPage(const std::string& dbPath);

}  // namespace ps_test
