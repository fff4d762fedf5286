// The read operations of the event database. Each runs under the store lock;
// a failing statement throws CppSQLite3Exception to the caller (nothing is
// retried), with the lock released. Output lists are appended to. "found" is
// true when the statement gave at least one row.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/eventstore/eventtables.h"
#include "core/records.h"

// One EventInfo row.
struct EventInfoRow {
    int32_t Year = 0;
    int32_t Month = 0;
    int32_t Day = 0;
    int32_t Type = 0;
    std::u16string Time;
    std::u16string User;
};

// Hit texts per kind, in the order of the mask bits: resident registration
// numbers, credit cards, bank accounts, telephone numbers, addresses, e-mail
// addresses, IP addresses (kind 2 goes to the second list, kind 1 to the third).
using PersonalInfoTextLists = std::array<std::vector<std::u16string>, 7>;

// The stored result of a document version: its row id and, for each kind
// selected in the mask, its count (the other counts keep the caller's values).
// A document whose key was blanked is not found, nor one whose hit rows do not
// all stand beside it.
bool FindFileInfoByHash(const std::u16string& documentKey, PersonalInfoMask mask, PersonalInfoCounts& counts,
                        int64_t& fileIndex);

// The FileInfo row: row id, key, full path (folder and name joined), file name
// and folder, and the seven counts. Size, time and flags are not touched.
bool GetFileInfo(SearchFileInfo& record, int64_t fileIndex, PersonalInfoCounts& counts);

// The masked hits of a document, by kind; unknown kinds are skipped.
bool GetPersonalInfoRows(int64_t fileIndex, PersonalInfoTextLists& lists);

// The keys of the excepted documents (blank keys skipped; a document excepted
// twice is listed twice).
void LoadExceptionHashes(std::vector<std::u16string>& hashes);

// The exception list: per row one entry in each list, at the same position:
// the counts, the excepting event's user, the document, the excepting event's
// type.
void LoadExceptionList(std::vector<PersonalInfoCounts>& counts, std::vector<std::u16string>& users,
                       std::vector<SearchFileInfo>& documents, std::vector<int32_t>& types);

// The newest end of a search (completed or cancelled), or 0.
int64_t GetLastSearchEventId();

bool GetEventInfo(EventInfoRow& row, int64_t eventId);
bool GetSearchEventLog(int64_t eventId, PersonalInfoCounts& counts, DocumentKindCounts& kinds);
bool GetFileEventLogFiles(std::vector<int64_t>& fileIndexes, int64_t eventId);
bool GetAllEventIds(std::vector<int64_t>& eventIds);

// Event ids of a period whose type shares a bit with the mask, newest first.
bool GetEventIdsOfDay(std::vector<int64_t>& eventIds, int32_t mask, const EventDate& date);
bool GetEventIdsOfYear(std::vector<int64_t>& eventIds, int32_t year, int32_t mask);
// Both dates included. Found also when the rows of the years were all outside
// the dates.
bool GetEventIdsOfRange(std::vector<int64_t>& eventIds, int32_t mask, const EventDate& first,
                        const EventDate& last);

// Counts the ends of encryptions (cancelled or completed), deletions and
// added exceptions after the event; the counters are added to.
bool CountOperationEventsAfter(int64_t eventId, int32_t& encryptions, int32_t& deletions, int32_t& exceptions);

// Adds up the documents of the operation ends after the event whose type
// shares a bit with the mask.
bool SumOperationFilesAfter(int64_t eventId, PersonalInfoCounts& totals, DocumentKindCounts& kinds, int32_t mask);

// Adds the counts of every document of the event to the totals and counts the
// documents by kind (from the file name's extension).
bool AccumulateFileEventLog(PersonalInfoCounts& totals, int64_t eventId, DocumentKindCounts& kinds);
