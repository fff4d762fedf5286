#include "core/eventstore/eventtables.h"

#include <algorithm>

#include "core/eventstore/eventstore.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

// Ids per statement of a deletion by list (well below SQLite's limit of
// bound values per statement).
constexpr size_t kIdsPerStatement = 500;

int64_t Days(const EventDate& d)
{
    // Days since 1970-01-01 of a proleptic Gregorian date.
    const int64_t y = static_cast<int64_t>(d.year) - (d.month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t m = d.month;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d.day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

EventDate FromDays(int64_t z)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    EventDate r;
    r.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    r.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    r.year = static_cast<int>(yoe + era * 400 + (r.month <= 2 ? 1 : 0));
    return r;
}

std::u16string TwoDigits(int n)
{
    std::u16string s;
    s.push_back(static_cast<char16_t>(u'0' + (n / 10) % 10));
    s.push_back(static_cast<char16_t>(u'0' + n % 10));
    return s;
}

// Deletes the rows of a table whose EventID is in the list, as few
// statements as the list needs; the table name is one of the program's own.
int DeleteByEventIds(CppSQLite3DB& db, const char16_t* table, const std::vector<int64_t>& ids)
{
    for (size_t first = 0; first < ids.size(); first += kIdsPerStatement) {
        const size_t count = std::min(kIdsPerStatement, ids.size() - first);
        std::u16string sql = u"DELETE FROM ";
        sql += table;
        sql += u" WHERE EventID in (";
        SqlParams params;
        params.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            sql += i ? u", ?" : u"?";
            params.emplace_back(ids[first + i]);
        }
        sql += u")";
        const int rc = db.ExecuteDml(sql, params);
        if (rc != 0)
            return rc;
    }
    return 0;
}

bool DeleteRowsOfEvents(const char16_t* table, const std::vector<int64_t>& ids)
{
    if (ids.empty())
        return true;
    return ExecuteWithRetry([table, ids](CppSQLite3DB& db) { return DeleteByEventIds(db, table, ids); });
}

std::vector<int64_t> SelectEventIds(CppSQLite3DB& db, const std::u16string& sql, const SqlParams& params)
{
    std::vector<int64_t> ids;
    CppSQLite3Query q = db.ExecuteQuery(sql, params);
    while (!q.AtEnd()) {
        ids.push_back(RowIdFromText(q.FieldText(u"EventID")));
        q.NextRow();
    }
    return ids;
}

// Deletes the events of the list with the rows that hang on them.
int DeleteEventsWithRows(CppSQLite3DB& db, const std::vector<int64_t>& ids)
{
    int rc = DeleteByEventIds(db, u"EventInfo", ids);
    if (rc == 0)
        rc = DeleteByEventIds(db, u"ExceptionInfo", ids);
    if (rc == 0)
        rc = DeleteByEventIds(db, u"FileEventLog", ids);
    if (rc == 0)
        rc = DeleteByEventIds(db, u"SearchEventLog", ids);
    return rc;
}

}  // namespace

EventDate TodayLocalDate()
{
    const plat::LocalTime now = plat::LocalTimeNow();
    return EventDate{now.year, now.month, now.day};
}

EventDate DateMinusDays(int days, const EventDate& date)
{
    if (days <= 0)
        return date;
    return FromDays(Days(date) - days);
}

std::u16string MaskPersonalInfo(int kind, const std::u16string& text)
{
    static const std::u16string stars = u"****";
    const size_t n = text.size();
    if (kind == kPersonalInfoEMail)
        return stars + text.substr(std::min<size_t>(4, n));
    if (kind == kPersonalInfoCreditCard)
        return text.substr(0, std::min<size_t>(10, n)) + stars + text.substr(n - std::min<size_t>(5, n));
    return text.substr(0, n >= 4 ? n - 4 : 0) + stars;
}

int64_t AddEvent(int32_t type)
{
    const plat::LocalTime now = plat::LocalTimeNow();
    const std::u16string time = TwoDigits(now.hour) + TwoDigits(now.minute) + TwoDigits(now.second);
    const SqlParams params{int64_t{now.year}, int64_t{now.month}, int64_t{now.day}, time, int64_t{type},
                           plat::UserName()};
    return InsertWithRetry([params](CppSQLite3DB& db, int64_t& id) {
        const int rc = db.ExecuteDml(
            u"INSERT INTO EventInfo (Year, Month, Day, Time, Type, User) values (?, ?, ?, ?, ?, ?)", params);
        id = rc == 0 ? db.LastInsertRowId() : 0;
        return rc;
    });
}

int64_t AddFileInfoRow(const PersonalInfoCounts& counts, const SearchFileInfo& record)
{
    SqlParams params{record.documentKey.Text(), std::u16string(record.Folder()), std::u16string(record.FileName())};
    for (int k = 0; k < kPersonalInfoKindCount; ++k)
        params.emplace_back(int64_t{counts[k]});
    return InsertWithRetry([params](CppSQLite3DB& db, int64_t& id) {
        const int rc = db.ExecuteDml(
            u"INSERT INTO FileInfo (Hash, Path, Name, ID, Account, CreditCard, PhoneNumber, Address, EMail, "
            u"IPAddress) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            params);
        id = rc == 0 ? db.LastInsertRowId() : 0;
        return rc;
    });
}

bool AddPersonalInfo(int64_t fileIndex, const std::vector<PersonalInfoHit>& hits)
{
    if (hits.empty())
        return true;
    if (fileIndex <= 0)
        return false;
    std::vector<SqlParams> rows;
    rows.reserve(hits.size());
    for (const auto& hit : hits) {
        const int kind = static_cast<int>(hit.kind);
        rows.push_back(SqlParams{fileIndex, int64_t{kind}, MaskPersonalInfo(kind, hit.text)});
    }
    return ExecuteWithRetry([rows](CppSQLite3DB& db) {
        for (const auto& params : rows) {
            const int rc = db.ExecuteDml(u"INSERT INTO PersonalInfo (FileIndex, Type, Data) values (?, ?, ?)", params);
            if (rc != 0)
                return rc;
        }
        return 0;
    });
}

int64_t AddFileInfoWithHits(const PersonalInfoCounts& counts, const SearchFileInfo& record,
                            const std::vector<PersonalInfoHit>& hits)
{
    SqlParams params{record.documentKey.Text(), std::u16string(record.Folder()), std::u16string(record.FileName())};
    for (int k = 0; k < kPersonalInfoKindCount; ++k)
        params.emplace_back(int64_t{counts[k]});
    std::vector<SqlParams> rows;
    rows.reserve(hits.size());
    for (const auto& hit : hits) {
        const int kind = static_cast<int>(hit.kind);
        rows.push_back(SqlParams{int64_t{0}, int64_t{kind}, MaskPersonalInfo(kind, hit.text)});
    }
    return InsertWithRetry([params, rows](CppSQLite3DB& db, int64_t& id) {
        int rc = db.ExecuteDml(
            u"INSERT INTO FileInfo (Hash, Path, Name, ID, Account, CreditCard, PhoneNumber, Address, EMail, "
            u"IPAddress) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            params);
        if (rc != 0)
            return rc;
        const int64_t row = db.LastInsertRowId();
        for (const auto& hit : rows) {
            SqlParams values = hit;
            values[0] = row;
            rc = db.ExecuteDml(u"INSERT INTO PersonalInfo (FileIndex, Type, Data) values (?, ?, ?)", values);
            if (rc != 0)
                return rc;
        }
        id = row;
        return 0;
    });
}

bool AddSearchEventLog(int64_t eventId, const PersonalInfoCounts& counts, const DocumentKindCounts& kinds)
{
    SqlParams params{eventId};
    for (int k = 0; k < kPersonalInfoKindCount; ++k)
        params.emplace_back(int64_t{counts[k]});
    for (int32_t n : kinds)
        params.emplace_back(int64_t{n});
    static const std::u16string sql = [] {
        std::u16string s = u"INSERT INTO SearchEventLog (EventID, ID, Account, CreditCard, PhoneNumber, Address, "
                           u"EMail, IPAddress, " +
                           DocumentKindColumnList() + u") values (?";
        for (int i = 0; i < kPersonalInfoKindCount + kDocumentKindCount; ++i) s += u", ?";
        return s + u")";
    }();
    return ExecuteWithRetry(sql, params);
}

bool AddFileEventLog(int64_t eventId, int64_t fileIndex)
{
    return ExecuteWithRetry(u"INSERT INTO FileEventLog (EventID, FileIndex) values (?, ?)", {eventId, fileIndex});
}

int64_t AddEventWithFiles(int32_t type, const std::vector<int64_t>& fileIndexes)
{
    const plat::LocalTime now = plat::LocalTimeNow();
    const std::u16string time = TwoDigits(now.hour) + TwoDigits(now.minute) + TwoDigits(now.second);
    const SqlParams params{int64_t{now.year}, int64_t{now.month}, int64_t{now.day}, time, int64_t{type},
                           plat::UserName()};
    return InsertWithRetry([params, fileIndexes](CppSQLite3DB& db, int64_t& id) {
        int rc = db.ExecuteDml(
            u"INSERT INTO EventInfo (Year, Month, Day, Time, Type, User) values (?, ?, ?, ?, ?, ?)", params);
        if (rc != 0) return rc;
        const int64_t row = db.LastInsertRowId();
        for (int64_t fileIndex : fileIndexes) {
            rc = db.ExecuteDml(u"INSERT INTO FileEventLog (EventID, FileIndex) values (?, ?)", {row, fileIndex});
            if (rc != 0) return rc;
        }
        id = row;
        return 0;
    });
}

bool AddExceptionInfo(int64_t fileIndex, int64_t eventId)
{
    return ExecuteWithRetry(u"INSERT INTO ExceptionInfo (FileIndex, EventID) values (?, ?)", {fileIndex, eventId});
}

bool DeleteExceptionInfoByFile(int64_t fileIndex)
{
    return ExecuteWithRetry(u"DELETE FROM ExceptionInfo where FileIndex = ?", {fileIndex});
}

bool ClearFileInfoHash(int64_t fileIndex)
{
    return ExecuteWithRetry(u"UPDATE FileInfo SET Hash = '' WHERE FileIndex = ?", {fileIndex});
}

bool ReleaseException(int64_t fileIndex)
{
    return ExecuteWithRetry([fileIndex](CppSQLite3DB& db) {
        const int rc = db.ExecuteDml(u"DELETE FROM ExceptionInfo where FileIndex = ?", {fileIndex});
        if (rc != 0)
            return rc;
        return db.ExecuteDml(u"UPDATE FileInfo SET Hash = '' WHERE FileIndex = ?", {fileIndex});
    });
}

bool DeleteEventInfoRows(const std::vector<int64_t>& eventIds)
{
    return DeleteRowsOfEvents(u"EventInfo", eventIds);
}

bool DeleteExceptionInfoRows(const std::vector<int64_t>& eventIds)
{
    return DeleteRowsOfEvents(u"ExceptionInfo", eventIds);
}

bool DeleteFileEventLogRows(const std::vector<int64_t>& eventIds)
{
    return DeleteRowsOfEvents(u"FileEventLog", eventIds);
}

bool DeleteSearchEventLogRows(const std::vector<int64_t>& eventIds)
{
    return DeleteRowsOfEvents(u"SearchEventLog", eventIds);
}

bool DeleteAllFileInfo()
{
    return ExecuteWithRetry(u"DELETE FROM FileInfo");
}

bool DeleteAllPersonalInfo()
{
    return ExecuteWithRetry(u"DELETE FROM PersonalInfo");
}

bool DeleteAllEvents()
{
    return ExecuteWithRetry([](CppSQLite3DB& db) {
        const std::vector<int64_t> ids = SelectEventIds(db, u"SELECT EventID From EventInfo", {});
        if (ids.empty())
            return 0;
        int rc = DeleteEventsWithRows(db, ids);
        if (rc == 0)
            rc = db.ExecuteDml(u"DELETE FROM FileInfo");
        if (rc == 0)
            rc = db.ExecuteDml(u"DELETE FROM PersonalInfo");
        return rc;
    });
}

bool PurgeOldEvents(int daysToKeep)
{
    return PurgeOldEventsAt(daysToKeep, TodayLocalDate());
}

bool PurgeOldEventsAt(int daysToKeep, const EventDate& today)
{
    if (daysToKeep <= 0)
        return true;
    const EventDate cutoff = DateMinusDays(daysToKeep, today);
    const SqlParams params{int64_t{cutoff.year}, int64_t{cutoff.year}, int64_t{cutoff.month},
                           int64_t{cutoff.month}, int64_t{cutoff.day}};
    return ExecuteWithRetry([params](CppSQLite3DB& db) {
        const std::vector<int64_t> ids =
            SelectEventIds(db,
                           u"SELECT EventID From EventInfo WHERE Year < ? OR (Year = ? AND (Month < ? OR "
                           u"(Month = ? AND Day <= ?)))",
                           params);
        return ids.empty() ? 0 : DeleteEventsWithRows(db, ids);
    });
}
