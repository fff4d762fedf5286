// What the event-log viewer and the log export read and delete: the rows of
// many events at once (batches of ids bound into one statement), the
// documents of one action, and the deletion of a chosen list of events.
//
// Reads throw CppSQLite3Exception like the other read operations; the
// deletion reports whether it was committed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/eventstore/eventqueries.h"
#include "core/eventstore/eventtables.h"
#include "core/records.h"

// Everything a list row or an export line shows of one event.
struct EventLogRow {
    int64_t eventId = 0;
    bool found = false;         // the EventInfo row exists
    EventInfoRow info;          // zeros and empty texts when not found
    bool hasSearchLog = false;  // a SearchEventLog row was read (ends of searches only)
    PersonalInfoCounts counts;  // its seven counts
    DocumentKindCounts kinds{};  // its document-kind counts
    int32_t fileCount = 0;      // FileEventLog rows of an action end (other types: 0)
};

// Ids per statement of the batched reads.
constexpr size_t kEventLogBatch = 500;

// One row per id, in the order of the ids (an id without an event gives a
// row with only its id set). The SearchEventLog row is read for the ends of
// searches (types 2, 3, 5, 6), the number of FileEventLog rows for the ends
// of actions. One statement per batch of kEventLogBatch ids.
std::vector<EventLogRow> LoadEventLogRows(const int64_t* ids, size_t count);
inline std::vector<EventLogRow> LoadEventLogRows(const std::vector<int64_t>& ids)
{
    return LoadEventLogRows(ids.data(), ids.size());
}

// The documents of an event (its FileEventLog rows joined with FileInfo), in
// the order the log holds them; a document whose FileInfo row is gone is left
// out. One statement. True when at least one document was read.
bool GetEventDocuments(int64_t eventId, std::vector<SearchFileInfo>& documents);

// Deletes the events of the list with their ExceptionInfo, FileEventLog and
// SearchEventLog rows in one transaction: all of them or none. Documents keep
// their stored results. An empty list deletes nothing (true).
bool DeleteEventsOfList(const std::vector<int64_t>& eventIds);

// True for the type codes that end an action (cancelled or completed) and
// carry documents: 0x200-0x500, 0x2000, 0x3000, 0x20000, 0x30000, 0x50000,
// 0x60000, 0x80000, 0x90000.
bool IsActionEndType(int32_t type);
// True for the ends of searches: 2, 3, 5, 6.
bool IsSearchEndType(int32_t type);
