#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes the event-log export (header line, then one row per event id in
// the order given) to path, each line converted to code page 949 without
// a byte-order mark, ending in CR LF when crlf is true and in LF alone
// otherwise. Returns false, having written nothing, when the file cannot
// be created.
bool WriteEventLogExport(const std::u16string& path, const std::vector<int64_t>& eventIds, bool crlf);

// Messages of the export's failures, shown by every window that exports or
// deletes records: a file that cannot be created (%s: its path), records that
// cannot be read (%s: the store's message) and a deletion that failed.
extern const char16_t kCannotCreateLogFile[];
extern const char16_t kCannotReadLogStore[];
extern const char16_t kCannotDeleteLog[];
