// Faults another program brings to the event database file.
#pragma once

#include <functional>
#include <map>
#include <ostream>
#include <string>

namespace ps_test {

// Checkpoints the database at dbPath and overwrites every page but the
// first with junk; the program's open connection keeps none of them in its
// cache (as with a database larger than the cache). Fails the test when the
// file cannot be damaged.
void OverwriteStoreButFirstPage(const std::string& dbPath);

// Runs `scenario` in a child process with a mount namespace of its own,
// after `arrange` has mounted there what the scenario needs (false: not
// allowed here; the report then holds "skip"). The child's report lines
// "name=value" come back as a map; "error" says the child itself failed.
// Nothing mounted outlives the child.
std::map<std::string, std::string> RunWithPrivateMounts(const std::function<bool()>& arrange,
                                                        const std::function<void(std::ostream&)>& scenario);

// Mounts for `arrange`: a fresh 4 MiB tmpfs at a folder (a small disk), and
// a file seen read-only at its own place (as a file without write
// permission, even for the superuser).
bool MountSmallDisk(const std::string& dir);
bool MakeFileReadOnly(const std::string& path);

}  // namespace ps_test
