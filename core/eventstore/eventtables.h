// The tables of the event database and every operation that changes them.
//
//   EventInfo       one row per event (date, time, type code, user)
//   FileInfo        the stored result of each analysed document version
//   SearchEventLog  the totals of each search, under its end event
//   FileEventLog    the documents each action touched
//   ExceptionInfo   the excepted documents
//   PersonalInfo    the masked hits of each document
//
// Each operation is one transaction through the store's executor and tells
// its caller whether it was written: insertions return the new row id, or 0
// when nothing was written; the others return true when committed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/documentkinds.h"
#include "core/records.h"

// A calendar date (the other fields of a calendar time do not matter here).
struct EventDate {
    int year = 0;
    int month = 0;
    int day = 0;
};

// Today's local date.
EventDate TodayLocalDate();
// The date moved back by the given number of days (0 or less leaves it).
EventDate DateMinusDays(int days, const EventDate& date);

// The text stored for a hit: e-mail addresses lose their first four
// characters, card numbers keep their first ten and last five, every other
// kind keeps all but its last four; the hidden part becomes "****".
std::u16string MaskPersonalInfo(int kind, const std::u16string& text);

// Inserts an event of the type code with the local date, the six-digit local
// time and the user name, all from one reading of the clock.
int64_t AddEvent(int32_t type);

// Inserts the stored result of a document: its key, folder and file name and
// the seven counts.
int64_t AddFileInfoRow(const PersonalInfoCounts& counts, const SearchFileInfo& record);

// Inserts the masked hits of a document, in list order, in one transaction.
// An empty list writes nothing (true); a row id of 0 or less (a document whose
// FileInfo row was not written) writes nothing (false).
bool AddPersonalInfo(int64_t fileIndex, const std::vector<PersonalInfoHit>& hits);

// Inserts the stored result of a document together with its masked hits, in
// one transaction: either both are written or neither. Returns the new row
// id, or 0 when nothing was written.
int64_t AddFileInfoWithHits(const PersonalInfoCounts& counts, const SearchFileInfo& record,
                            const std::vector<PersonalInfoHit>& hits);

bool AddSearchEventLog(int64_t eventId, const PersonalInfoCounts& counts, const DocumentKindCounts& kinds);
bool AddFileEventLog(int64_t eventId, int64_t fileIndex);
// An event and one FileEventLog row per document, in order, written as one
// transaction (an action's end); the new EventID, or 0 when nothing was
// written.
int64_t AddEventWithFiles(int32_t type, const std::vector<int64_t>& fileIndexes);
// Note the order: the document first, then the event.
bool AddExceptionInfo(int64_t fileIndex, int64_t eventId);
bool DeleteExceptionInfoByFile(int64_t fileIndex);
// Blanks the document key, so the stored result is no longer found by it.
bool ClearFileInfoHash(int64_t fileIndex);
// Takes a document off the exception list: every ExceptionInfo row of it is
// deleted and its key blanked (so the next search reads it afresh), in one
// transaction: on failure nothing has changed.
bool ReleaseException(int64_t fileIndex);

// Delete the rows whose EventID is in the list. An empty list deletes nothing
// and issues no statement (true).
bool DeleteEventInfoRows(const std::vector<int64_t>& eventIds);
bool DeleteExceptionInfoRows(const std::vector<int64_t>& eventIds);
bool DeleteFileEventLogRows(const std::vector<int64_t>& eventIds);
bool DeleteSearchEventLogRows(const std::vector<int64_t>& eventIds);

bool DeleteAllFileInfo();
bool DeleteAllPersonalInfo();

// Deletes every event with its FileEventLog, ExceptionInfo and SearchEventLog
// rows and every FileInfo and PersonalInfo row, in one transaction. Without
// any event nothing is deleted.
bool DeleteAllEvents();

// Deletes the events dated on or before today minus the days to keep, with
// their FileEventLog, ExceptionInfo and SearchEventLog rows, in one
// transaction; documents keep their stored results. A number of days of 0 or
// less deletes nothing.
bool PurgeOldEvents(int daysToKeep);
// The same with a given today.
bool PurgeOldEventsAt(int daysToKeep, const EventDate& today);
