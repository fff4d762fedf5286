#include "core/eventstore/eventlogqueries.h"

#include <algorithm>
#include <unordered_map>

#include "core/eventstore/eventstore.h"
#include "core/eventstore/eventtypes.h"

namespace {

constexpr int32_t kActionEnds[] = {
    EVENT_ENCRYPT_CANCEL,           EVENT_ENCRYPT_KEY_BASE_COMPLETE, EVENT_ENCRYPT_AES128_COMPLETE,
    EVENT_ENCRYPT_AES256_COMPLETE,  EVENT_DELETE_CANCEL,             EVENT_DELETE_COMPLETE,
    EVENT_ADD_EXCEPTION_CANCEL,     EVENT_ADD_EXCEPTION_COMPLETE,    EVENT_REMOVE_EXCEPTION_CANCEL,
    EVENT_REMOVE_EXCEPTION_COMPLETE, EVENT_ERROR_EXCEPTION_CANCEL,   EVENT_ERROR_EXCEPTION_COMPLETE,
};

// Columns of the batch statement, by position.
enum Column {
    ColEventId, ColYear, ColMonth, ColDay, ColType, ColTime, ColUser,
    ColSearchEvent,  // SearchEventLog.EventID, NULL without a row
    ColCounts,       // seven counts, then the document kinds
    ColFiles = ColCounts + kPersonalInfoKindCount + kDocumentKindCount,
};

std::u16string ListOfActionEnds()
{
    std::u16string s;
    for (int32_t t : kActionEnds) {
        if (!s.empty())
            s += u", ";
        for (char c : std::to_string(t))
            s += static_cast<char16_t>(c);
    }
    return s;
}

// The statement for a batch of n ids.
std::u16string BatchStatement(size_t n)
{
    static const std::u16string head =
        u"SELECT E.EventID, E.Year, E.Month, E.Day, E.Type, E.Time, E.User, S.EventID, "
        u"S.ID, S.Account, S.CreditCard, S.PhoneNumber, S.Address, S.EMail, S.IPAddress, "
        + DocumentKindColumnList(u"S.") + u", "
        u"CASE WHEN E.Type IN (" + ListOfActionEnds() + u") THEN "
        u"(SELECT COUNT(*) FROM FileEventLog AS F WHERE F.EventID = E.EventID) ELSE 0 END "
        u"FROM EventInfo AS E LEFT JOIN SearchEventLog AS S ON S.EventID = E.EventID AND E.Type IN (2, 3, 5, 6) "
        u"WHERE E.EventID IN (";
    std::u16string sql = head;
    sql.reserve(head.size() + n * 3 + 2);
    for (size_t i = 0; i < n; ++i)
        sql += i ? u",?" : u"?";
    sql += u")";
    return sql;
}

}  // namespace

bool IsActionEndType(int32_t type)
{
    return std::find(std::begin(kActionEnds), std::end(kActionEnds), type) != std::end(kActionEnds);
}

bool IsSearchEndType(int32_t type)
{
    return type == EVENT_ALL_SEARCH_CANCEL || type == EVENT_ALL_SEARCH_COMPLETE || type == EVENT_USER_SEARCH_CANCEL ||
           type == EVENT_USER_SEARCH_COMPLETE;
}

std::vector<EventLogRow> LoadEventLogRows(const int64_t* ids, size_t count)
{
    std::vector<EventLogRow> out(count);
    std::unordered_map<int64_t, EventLogRow> read;
    for (size_t first = 0; first < count; first += kEventLogBatch) {
        const size_t n = std::min(kEventLogBatch, count - first);
        SqlParams params;
        params.reserve(n);
        for (size_t i = 0; i < n; ++i)
            params.emplace_back(ids[first + i]);
        read.clear();
        read.reserve(n);
        ReadEventRows(BatchStatement(n), params, [&](const CppSQLite3Query& q) {
            const int64_t id = RowIdFromText(q.FieldText(ColEventId));
            EventLogRow& r = read[id];
            r.eventId = id;
            r.found = true;
            r.info.Year = IntFromText(q.FieldText(ColYear));
            r.info.Month = IntFromText(q.FieldText(ColMonth));
            r.info.Day = IntFromText(q.FieldText(ColDay));
            r.info.Type = IntFromText(q.FieldText(ColType));
            r.info.Time = q.FieldText(ColTime);
            r.info.User = q.FieldText(ColUser);
            if (!q.FieldText(ColSearchEvent).empty()) {
                r.hasSearchLog = true;
                for (int k = 0; k < kPersonalInfoKindCount; ++k)
                    r.counts[k] = IntFromText(q.FieldText(ColCounts + k));
                for (size_t k = 0; k < r.kinds.size(); ++k)
                    r.kinds[k] = IntFromText(q.FieldText(ColCounts + kPersonalInfoKindCount + static_cast<int>(k)));
            }
            r.fileCount = IntFromText(q.FieldText(ColFiles));
        });
        for (size_t i = 0; i < n; ++i) {
            const int64_t id = ids[first + i];
            auto it = read.find(id);
            if (it != read.end())
                out[first + i] = it->second;
            else
                out[first + i].eventId = id;
        }
    }
    return out;
}

bool GetEventDocuments(int64_t eventId, std::vector<SearchFileInfo>& documents)
{
    return ReadEventRows(u"SELECT F.FileIndex, F.Hash, F.Path, F.Name FROM FileEventLog AS L "
                         u"JOIN FileInfo AS F ON F.FileIndex = L.FileIndex WHERE L.EventID = ? ORDER BY L.rowid",
                         {eventId},
                         [&](const CppSQLite3Query& q) {
                             SearchFileInfo d;
                             d.fileIndex = RowIdFromText(q.FieldText(0));
                             d.documentKey = q.FieldText(1);
                             d.SetFolderAndName(q.FieldText(2), q.FieldText(3));
                             documents.push_back(std::move(d));
                         }) > 0;
}

bool DeleteEventsOfList(const std::vector<int64_t>& eventIds)
{
    if (eventIds.empty())
        return true;
    // Each deletion joins the enclosing transaction; a failure of any of
    // them rolls back all four.
    return ExecuteWithRetry([eventIds](CppSQLite3DB&) {
        const bool ok = DeleteEventInfoRows(eventIds) && DeleteExceptionInfoRows(eventIds) &&
                        DeleteFileEventLogRows(eventIds) && DeleteSearchEventLogRows(eventIds);
        return ok ? 0 : 1;
    });
}
