#include "core/eventstore/eventqueries.h"

#include "core/eventstore/eventstore.h"
#include "core/eventstore/eventtypes.h"
#include "platform/text.h"

namespace {

// Count columns in PersonalInfoKind order.
const char16_t* const kCountColumns[kPersonalInfoKindCount] = {u"ID",          u"Account", u"CreditCard",
                                                               u"PhoneNumber", u"Address", u"EMail",
                                                               u"IPAddress"};

// The ends of operations counted by the summary of the last search.
constexpr int32_t kOperationEnds[] = {
    EVENT_ENCRYPT_CANCEL,   EVENT_ENCRYPT_KEY_BASE_COMPLETE, EVENT_ENCRYPT_AES128_COMPLETE,
    EVENT_ENCRYPT_AES256_COMPLETE, EVENT_DELETE_CANCEL,       EVENT_DELETE_COMPLETE,
    EVENT_ADD_EXCEPTION_CANCEL,    EVENT_ADD_EXCEPTION_COMPLETE,
};

int32_t Int(const CppSQLite3Query& q, const char16_t* column)
{
    return IntFromText(q.FieldText(column));
}

int64_t RowId(const CppSQLite3Query& q, const char16_t* column)
{
    return RowIdFromText(q.FieldText(column));
}

void ReadCounts(const CppSQLite3Query& q, PersonalInfoCounts& counts)
{
    for (int k = 0; k < kPersonalInfoKindCount; ++k)
        counts[k] = Int(q, kCountColumns[k]);
}

void FillDocument(const CppSQLite3Query& q, SearchFileInfo& record)
{
    record.fileIndex = RowId(q, u"FileIndex");
    record.documentKey = q.FieldText(u"Hash");
    record.SetFolderAndName(q.FieldText(u"Path"), q.FieldText(u"Name"));
}

std::u16string UpperExtension(const std::u16string& name)
{
    const size_t dot = name.rfind(u'.');
    return plat::ToUpperAscii(dot == std::u16string::npos ? name : name.substr(dot + 1));
}

bool IsOperationEnd(int32_t type)
{
    for (int32_t code : kOperationEnds)
        if (code == type)
            return true;
    return false;
}

void ReadEventIds(const std::u16string& sql, const SqlParams& params, std::vector<int64_t>& out, bool& found)
{
    found = ReadEventRows(sql, params, [&](const CppSQLite3Query& q) { out.push_back(RowId(q, u"EventID")); }) > 0;
}

}  // namespace

bool FindFileInfoByHash(const std::u16string& documentKey, PersonalInfoMask mask, PersonalInfoCounts& counts,
                        int64_t& fileIndex)
{
    if (documentKey.empty())
        return false;  // blanked keys belong to no document
    bool found = false;
    // Only a complete result counts: a row whose hit rows are not all there
    // (a run that ended between the two writes of an older version) is read
    // again rather than taken with its hits missing.
    ReadEventRows(u"SELECT * FROM FileInfo where Hash = ? AND ID + Account + CreditCard + PhoneNumber + Address + "
                  u"EMail + IPAddress = (SELECT COUNT(*) FROM PersonalInfo WHERE PersonalInfo.FileIndex = "
                  u"FileInfo.FileIndex) LIMIT 1",
                  {documentKey}, [&](const CppSQLite3Query& q) {
        found = true;
        fileIndex = RowId(q, u"FileIndex");
        for (int k = 0; k < kPersonalInfoKindCount; ++k)
            if (mask & MaskBitOfKind(k))
                counts[k] = Int(q, kCountColumns[k]);
    });
    return found;
}

bool GetFileInfo(SearchFileInfo& record, int64_t fileIndex, PersonalInfoCounts& counts)
{
    bool found = false;
    ReadEventRows(u"SELECT * FROM FileInfo WHERE FileInfo.FileIndex = ? LIMIT 1", {fileIndex},
                  [&](const CppSQLite3Query& q) {
                      found = true;
                      FillDocument(q, record);
                      ReadCounts(q, counts);
                  });
    return found;
}

bool GetPersonalInfoRows(int64_t fileIndex, PersonalInfoTextLists& lists)
{
    // Kind code to list: the lists follow the mask bits.
    static const int listOfKind[kPersonalInfoKindCount] = {0, 2, 1, 3, 4, 5, 6};
    return ReadEventRows(u"SELECT * FROM PersonalInfo where FileIndex = ?", {fileIndex},
                         [&](const CppSQLite3Query& q) {
                             const int32_t type = Int(q, u"Type");
                             if (type >= 0 && type < kPersonalInfoKindCount)
                                 lists[listOfKind[type]].push_back(q.FieldText(u"Data"));
                         }) > 0;
}

void LoadExceptionHashes(std::vector<std::u16string>& hashes)
{
    ReadEventRows(u"SELECT F.Hash FROM FileInfo as F join ExceptionInfo as E on F.FileIndex = E.FileIndex", {},
                  [&](const CppSQLite3Query& q) {
                      std::u16string hash = q.FieldText(u"Hash");
                      if (!hash.empty())
                          hashes.push_back(std::move(hash));
                  });
}

void LoadExceptionList(std::vector<PersonalInfoCounts>& counts, std::vector<std::u16string>& users,
                       std::vector<SearchFileInfo>& documents, std::vector<int32_t>& types)
{
    ReadEventRows(u"SELECT * FROM FileInfo as F join ExceptionInfo as E on F.FileIndex = E.FileIndex "
                  u"join EventInfo as Event on Event.EventID = E.EventID",
                  {}, [&](const CppSQLite3Query& q) {
                      SearchFileInfo record;
                      FillDocument(q, record);
                      PersonalInfoCounts c{};
                      ReadCounts(q, c);
                      std::u16string user = q.FieldText(u"User");
                      const int32_t type = Int(q, u"Type");
                      documents.push_back(std::move(record));
                      counts.push_back(c);
                      users.push_back(std::move(user));
                      types.push_back(type);
                  });
}

int64_t GetLastSearchEventId()
{
    int64_t id = 0;
    ReadEventRows(u"SELECT EventID FROM EventInfo where (EventInfo.Type = ? OR EventInfo.Type = ? OR "
                  u"EventInfo.Type = ? OR EventInfo.Type = ?) ORDER BY EventID DESC limit 1",
                  {int64_t{EVENT_ALL_SEARCH_COMPLETE}, int64_t{EVENT_ALL_SEARCH_CANCEL},
                   int64_t{EVENT_USER_SEARCH_COMPLETE}, int64_t{EVENT_USER_SEARCH_CANCEL}},
                  [&](const CppSQLite3Query& q) { id = RowId(q, u"EventID"); });
    return id;
}

bool GetEventInfo(EventInfoRow& row, int64_t eventId)
{
    return ReadEventRows(u"SELECT * FROM EventInfo WHERE EventInfo.EventID = ?", {eventId},
                         [&](const CppSQLite3Query& q) {
                             row.Year = Int(q, u"Year");
                             row.Month = Int(q, u"Month");
                             row.Day = Int(q, u"Day");
                             row.Type = Int(q, u"Type");
                             row.Time = q.FieldText(u"Time");
                             row.User = q.FieldText(u"User");
                         }) > 0;
}

bool GetSearchEventLog(int64_t eventId, PersonalInfoCounts& counts, DocumentKindCounts& kinds)
{
    return ReadEventRows(u"SELECT * FROM SearchEventLog WHERE SearchEventLog.EventID = ?", {eventId},
                         [&](const CppSQLite3Query& q) {
                             ReadCounts(q, counts);
                             for (size_t k = 0; k < kinds.size(); ++k)
                                 kinds[k] = Int(q, kDocumentKinds[k].name);
                         }) > 0;
}

bool GetFileEventLogFiles(std::vector<int64_t>& fileIndexes, int64_t eventId)
{
    return ReadEventRows(u"SELECT * FROM FileEventLog WHERE FileEventLog.EventID = ?", {eventId},
                         [&](const CppSQLite3Query& q) { fileIndexes.push_back(RowId(q, u"FileIndex")); }) > 0;
}

bool GetAllEventIds(std::vector<int64_t>& eventIds)
{
    bool found;
    ReadEventIds(u"SELECT EventID From EventInfo", {}, eventIds, found);
    return found;
}

bool GetEventIdsOfDay(std::vector<int64_t>& eventIds, int32_t mask, const EventDate& date)
{
    bool found;
    ReadEventIds(u"SELECT EventID FROM EventInfo WHERE Year = ? AND Month = ? AND Day = ? AND "
                 u"(EventInfo.Type & ?) ORDER BY EventID DESC",
                 {int64_t{date.year}, int64_t{date.month}, int64_t{date.day}, int64_t{mask}}, eventIds, found);
    return found;
}

bool GetEventIdsOfYear(std::vector<int64_t>& eventIds, int32_t year, int32_t mask)
{
    bool found;
    ReadEventIds(u"SELECT EventID FROM EventInfo WHERE Year = ? AND (EventInfo.Type & ?) ORDER BY EventID DESC",
                 {int64_t{year}, int64_t{mask}}, eventIds, found);
    return found;
}

bool GetEventIdsOfRange(std::vector<int64_t>& eventIds, int32_t mask, const EventDate& first, const EventDate& last)
{
    auto number = [](int64_t y, int64_t m, int64_t d) { return y * 10000 + m * 100 + d; };
    const int64_t low = number(first.year, first.month, first.day);
    const int64_t high = number(last.year, last.month, last.day);
    return ReadEventRows(u"SELECT EventID, Year, Month, Day FROM EventInfo WHERE (? <= Year AND Year <= ?) AND "
                         u"(EventInfo.Type & ?) ORDER BY EventID DESC",
                         {int64_t{first.year}, int64_t{last.year}, int64_t{mask}},
                         [&](const CppSQLite3Query& q) {
                             const int64_t date = number(Int(q, u"Year"), Int(q, u"Month"), Int(q, u"Day"));
                             if (low <= date && date <= high)
                                 eventIds.push_back(RowId(q, u"EventID"));
                         }) > 0;
}

bool CountOperationEventsAfter(int64_t eventId, int32_t& encryptions, int32_t& deletions, int32_t& exceptions)
{
    SqlParams params{eventId};
    for (int32_t code : kOperationEnds)
        params.emplace_back(int64_t{code});
    return ReadEventRows(u"SELECT * FROM EventInfo WHERE EventInfo.EventID > ? AND (EventInfo.Type = ? OR "
                         u"EventInfo.Type = ? OR EventInfo.Type = ? OR EventInfo.Type = ? OR EventInfo.Type = ? OR "
                         u"EventInfo.Type = ? OR EventInfo.Type = ? OR EventInfo.Type = ?)",
                         params,
                         [&](const CppSQLite3Query& q) {
                             const int32_t type = Int(q, u"Type");
                             if (type & EVENT_MASK_ENCRYPT)
                                 ++encryptions;
                             else if (type & EVENT_MASK_DELETE)
                                 ++deletions;
                             else if (type & EVENT_MASK_EXCEPTION)
                                 ++exceptions;
                         }) > 0;
}

bool SumOperationFilesAfter(int64_t eventId, PersonalInfoCounts& totals, DocumentKindCounts& kinds, int32_t mask)
{
    EventStoreLockGuard guard;
    return ReadEventRows(u"SELECT * FROM EventInfo WHERE EventInfo.EventID > ? AND (EventInfo.Type & ?)",
                         {eventId, int64_t{mask}},
                         [&](const CppSQLite3Query& q) {
                             if (IsOperationEnd(Int(q, u"Type")))
                                 AccumulateFileEventLog(totals, RowId(q, u"EventID"), kinds);
                         }) > 0;
}

bool AccumulateFileEventLog(PersonalInfoCounts& totals, int64_t eventId, DocumentKindCounts& kinds)
{
    EventStoreLockGuard guard;
    SearchFileInfo record;
    return ReadEventRows(u"SELECT * FROM FileEventLog WHERE FileEventLog.EventID = ?", {eventId},
                         [&](const CppSQLite3Query& q) {
                             PersonalInfoCounts counts{};
                             if (!GetFileInfo(record, RowId(q, u"FileIndex"), counts))
                                 return;
                             for (int k = 0; k < kPersonalInfoKindCount; ++k)
                                 totals[k] += counts[k];
                             const int kind = DocumentKindOfExtension(UpperExtension(std::u16string(record.FileName())));
                             if (kind >= 0)
                                 ++kinds[kind];
                         }) > 0;
}
