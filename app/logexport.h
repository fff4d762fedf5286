// The event-log export file: a header line and one comma-separated line per
// event, in code page 949, which a Korean spreadsheet opens directly.
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

// The fields of the header line and of an event's line, before quoting.
std::vector<std::u16string> EventLogExportHeader();
struct EventLogRow;
std::vector<std::u16string> EventLogExportFields(const EventLogRow& row);
// One field as written: a field that holds a comma, a double quote or a line
// break is enclosed in double quotes with its double quotes doubled.
std::u16string QuoteExportField(const std::u16string& field);
