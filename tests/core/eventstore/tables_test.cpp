// Every write and read operation on the event tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "core/eventstore/eventqueries.h"
#include "core/eventstore/eventtables.h"
#include "core/eventstore/eventtypes.h"
#include "platform/system.h"
#include "store_fixture.h"

namespace {

using namespace std::chrono_literals;
using ps_test::RawDb;

std::string U8(const std::u16string& s)
{
    return plat::WideToUtf8(s);
}

SearchFileInfo Document(const std::u16string& folder, const std::u16string& name, const std::u16string& key)
{
    SearchFileInfo r;
    r.SetFolderAndName(folder, name);
    r.documentKey = key;
    r.fileSize = 10;
    return r;
}

std::u16string Key(char c)
{
    return std::u16string(64, static_cast<char16_t>(c));
}

class EventTablesTest : public ps_test::EventStoreTest {
protected:
    // An event of the type dated on the given day.
    int64_t EventOn(int32_t type, int y, int m, int d)
    {
        const int64_t id = AddEvent(type);
        EXPECT_GT(id, 0);
        RawDb raw(dbPath());
        EXPECT_EQ(0, raw.Exec("UPDATE EventInfo SET Year = " + std::to_string(y) + ", Month = " + std::to_string(m) +
                              ", Day = " + std::to_string(d) + " WHERE EventID = " + std::to_string(id)));
        return id;
    }

    long long Count(const std::string& table)
    {
        RawDb raw(dbPath());
        return raw.Int("SELECT count(*) FROM " + table);
    }
};

TEST(MaskPersonalInfoTest, HidesThePartOfEachKind)
{
    const struct {
        int kind;
        const char16_t* text;
        const char16_t* stored;
    } cases[] = {
        {kPersonalInfoEMail, u"abcdefgh@mail.kr", u"****efgh@mail.kr"},
        {kPersonalInfoResidentNumber, u"900101-1234567", u"900101-123****"},
        {kPersonalInfoCreditCard, u"1234-5678-9012-3456", u"1234-5678-****-3456"},
        {kPersonalInfoPhoneNumber, u"123", u"****"},
        {kPersonalInfoEMail, u"ab", u"****"},
        {kPersonalInfoAccount, u"", u"****"},
        {kPersonalInfoCreditCard, u"123456789012", u"1234567890****89012"},
        {kPersonalInfoCreditCard, u"1234", u"1234****1234"},
        {kPersonalInfoAddress, u"서울특별시 강남구", u"서울특별시****"},
        {kPersonalInfoIpAddress, u"192.168.0.1", u"192.168****"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.stored, MaskPersonalInfo(c.kind, c.text)) << U8(c.text);
}

TEST(DateMinusDaysTest, CalendarArithmetic)
{
    const struct {
        EventDate from;
        int days;
        EventDate to;
    } cases[] = {
        {{2024, 5, 31}, 120, {2024, 2, 1}},   {{2024, 3, 15}, 120, {2023, 11, 16}},
        {{2024, 3, 1}, 1, {2024, 2, 29}},     {{2023, 3, 1}, 1, {2023, 2, 28}},
        {{2024, 1, 1}, 1, {2023, 12, 31}},    {{2000, 3, 1}, 366, {1999, 3, 1}},
        {{2024, 5, 31}, 0, {2024, 5, 31}},    {{2024, 5, 31}, -3, {2024, 5, 31}},
        {{2026, 12, 10}, 365, {2025, 12, 10}},
    };
    for (const auto& c : cases) {
        const EventDate r = DateMinusDays(c.days, c.from);
        EXPECT_EQ(c.to.year, r.year) << c.from.year << "-" << c.from.month << "-" << c.from.day << " - " << c.days;
        EXPECT_EQ(c.to.month, r.month);
        EXPECT_EQ(c.to.day, r.day);
    }
}

TEST_F(EventTablesTest, AddEventRecordsDateTimeTypeAndUser)
{
    const plat::LocalTime before = plat::LocalTimeNow();
    const int64_t first = AddEvent(EVENT_ALL_SEARCH_START);
    const int64_t second = AddEvent(EVENT_LOG_DELETED);
    EXPECT_GT(first, 0);
    EXPECT_GT(second, first);
    EventInfoRow row;
    ASSERT_TRUE(GetEventInfo(row, second));
    EXPECT_EQ(EVENT_LOG_DELETED, row.Type);
    EXPECT_EQ(plat::UserName(), row.User);
    EXPECT_GE(row.Year * 10000 + row.Month * 100 + row.Day, before.year * 10000 + before.month * 100 + before.day);
    ASSERT_EQ(6u, row.Time.size());
    EXPECT_TRUE(std::all_of(row.Time.begin(), row.Time.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }));

    EventInfoRow untouched;
    untouched.Year = 7;
    EXPECT_FALSE(GetEventInfo(untouched, second + 100));
    EXPECT_EQ(7, untouched.Year);
}

TEST_F(EventTablesTest, DocumentsAndHitsWithUnsafeTextAreStoredUnchanged)
{
    const std::u16string names[] = {
        u"보고서 \"최종\".hwp",
        u"it's; DROP TABLE FileInfo; --.doc",
        u"\"); DELETE FROM EventInfo; --.pdf",
    };
    const std::u16string folder = u"/home/사용자/문서 \"2024\"; 'x'";
    int64_t ids[3];
    for (int i = 0; i < 3; ++i) {
        PersonalInfoCounts counts{};
        for (int k = 0; k < kPersonalInfoKindCount; ++k)
            counts[k] = i * 10 + k;
        ids[i] = AddFileInfoRow(counts, Document(folder, names[i], Key(static_cast<char>('A' + i))));
        ASSERT_GT(ids[i], 0);
    }
    const std::vector<PersonalInfoHit> hits = {
        {kPersonalInfoEMail, u"o'brien\"x\"@mail.kr"},
        {kPersonalInfoAddress, u"서울특별시 \"종로구\"; 세종대로"},
        {kPersonalInfoCreditCard, u"1234-5678-9012-3456"},
        {kPersonalInfoAccount, u"110-123-456789"},
        {kPersonalInfoResidentNumber, u"900101-1234567"},
    };
    ASSERT_TRUE(AddPersonalInfo(ids[1], hits));

    for (int i = 0; i < 3; ++i) {
        SearchFileInfo r;
        r.fileSize = 99;
        PersonalInfoCounts counts{};
        ASSERT_TRUE(GetFileInfo(r, ids[i], counts));
        EXPECT_EQ(ids[i], r.fileIndex);
        EXPECT_EQ(Key(static_cast<char>('A' + i)), r.documentKey);
        EXPECT_EQ(names[i], r.FileName());
        EXPECT_EQ(folder, r.Folder());
        EXPECT_EQ(folder + u"/" + names[i], r.path);
        EXPECT_EQ(99u, r.fileSize);  // not touched
        EXPECT_EQ(i * 10 + 6, counts[6]);
    }

    PersonalInfoTextLists lists;
    ASSERT_TRUE(GetPersonalInfoRows(ids[1], lists));
    EXPECT_EQ(std::vector<std::u16string>{u"900101-123****"}, lists[0]);
    EXPECT_EQ(std::vector<std::u16string>{u"1234-5678-****-3456"}, lists[1]);  // card: second list
    EXPECT_EQ(std::vector<std::u16string>{u"110-123-45****"}, lists[2]);       // account: third list
    EXPECT_TRUE(lists[3].empty());
    EXPECT_EQ(std::vector<std::u16string>{u"서울특별시 \"종로구\"; ****"}, lists[4]);
    EXPECT_EQ(std::vector<std::u16string>{u"****ien\"x\"@mail.kr"}, lists[5]);
    PersonalInfoTextLists none;
    EXPECT_FALSE(GetPersonalInfoRows(ids[0], none));

    EXPECT_EQ(3, Count("FileInfo"));
    EXPECT_EQ(5, Count("PersonalInfo"));
}

TEST_F(EventTablesTest, HitsOfUnknownKindsAreStoredButNotListed)
{
    RawDb raw(dbPath());
    ASSERT_EQ(0, raw.Exec("INSERT INTO PersonalInfo (FileIndex, Type, Data) values (4, 9, 'x'), (4, -1, 'y'), "
                          "(4, 6, '1.2.3.4')"));
    PersonalInfoTextLists lists;
    EXPECT_TRUE(GetPersonalInfoRows(4, lists));
    EXPECT_EQ(std::vector<std::u16string>{u"1.2.3.4"}, lists[6]);
    size_t total = 0;
    for (const auto& l : lists)
        total += l.size();
    EXPECT_EQ(1u, total);
}

TEST_F(EventTablesTest, HitsOfADocumentThatWasNotStoredAreNotWritten)
{
    const std::vector<PersonalInfoHit> hits = {{kPersonalInfoPhoneNumber, u"010-1234-5678"}};
    EXPECT_FALSE(AddPersonalInfo(0, hits));
    EXPECT_FALSE(AddPersonalInfo(-1, hits));
    EXPECT_EQ(0, Count("PersonalInfo"));

    // A failed FileInfo insertion returns no row id, so its hits cannot land
    // under the previous document's id.
    const int64_t earlier = AddFileInfoRow(PersonalInfoCounts{}, Document(u"/d", u"a.hwp", Key('A')));
    ASSERT_GT(earlier, 0);
    SetEventStoreBusyTimeout(20);
    SetEventStoreRetryPause(10ms);
    RawDb other(dbPath());
    ASSERT_EQ(0, other.Exec("BEGIN IMMEDIATE"));
    const int64_t failed = AddFileInfoRow(PersonalInfoCounts{}, Document(u"/d", u"b.hwp", Key('B')));
    EXPECT_EQ(0, failed);
    EXPECT_FALSE(AddPersonalInfo(failed, hits));
    other.Exec("COMMIT");
    EXPECT_EQ(0, Count("PersonalInfo"));
}

TEST_F(EventTablesTest, EmptyListsIssueNoStatement)
{
    // With the database locked by another connection any statement would
    // fail; empty lists succeed at once.
    SetEventStoreBusyTimeout(20);
    SetEventStoreRetryPause(10ms);
    RawDb other(dbPath());
    ASSERT_EQ(0, other.Exec("BEGIN IMMEDIATE"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(AddPersonalInfo(5, {}));
    EXPECT_TRUE(DeleteEventInfoRows({}));
    EXPECT_TRUE(DeleteExceptionInfoRows({}));
    EXPECT_TRUE(DeleteFileEventLogRows({}));
    EXPECT_TRUE(DeleteSearchEventLogRows({}));
    EXPECT_TRUE(PurgeOldEvents(0));
    EXPECT_TRUE(PurgeOldEvents(-5));
    // Any statement would have cost three busy waits and pauses (90 ms).
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60ms);
    EXPECT_FALSE(AddFileEventLog(1, 1));  // a real statement does fail
    other.Exec("COMMIT");
}

TEST_F(EventTablesTest, SearchTotalsAreStoredUnderTheEndEvent)
{
    const int64_t end = AddEvent(EVENT_ALL_SEARCH_COMPLETE);
    const PersonalInfoCounts counts{1, 2, 3, 4, 5, 6, 7};
    const DocumentKindCounts kinds{10, 20, 30, 40, 50};
    ASSERT_TRUE(AddSearchEventLog(end, counts, kinds));
    PersonalInfoCounts c{};
    DocumentKindCounts k{};
    ASSERT_TRUE(GetSearchEventLog(end, c, k));
    EXPECT_EQ(counts, c);
    EXPECT_EQ(kinds, k);

    PersonalInfoCounts c2{9, 9, 9, 9, 9, 9, 9};
    DocumentKindCounts k2{8, 8, 8, 8, 8};
    EXPECT_FALSE(GetSearchEventLog(end + 1, c2, k2));
    EXPECT_EQ(9, c2[0]);
    EXPECT_EQ(8, k2[4]);
}

TEST_F(EventTablesTest, StoredResultsAreFoundByKeyWithTheMaskedKinds)
{
    const PersonalInfoCounts stored{1, 2, 3, 4, 5, 6, 7};
    std::vector<PersonalInfoHit> hits;
    for (int k = 0; k < kPersonalInfoKindCount; ++k)
        for (int i = 0; i < stored[k]; ++i)
            hits.push_back({static_cast<PersonalInfoKind>(k), u"hit-text-" + plat::AsciiToWide(std::to_string(i))});
    const int64_t id = AddFileInfoWithHits(stored, Document(u"/d", u"a.hwp", Key('C')), hits);
    const struct {
        PersonalInfoMask mask;
        PersonalInfoCounts expected;
    } cases[] = {
        {0x05, {1, 2, -1, -1, -1, -1, -1}},
        {0x02, {-1, -1, 3, -1, -1, -1, -1}},
        {0x78, {-1, -1, -1, 4, 5, 6, 7}},
        {0xFFFF, {1, 2, 3, 4, 5, 6, 7}},
        {0, {-1, -1, -1, -1, -1, -1, -1}},
    };
    for (const auto& c : cases) {
        PersonalInfoCounts counts;
        counts.count.fill(-1);
        int64_t found = 0;
        ASSERT_TRUE(FindFileInfoByHash(Key('C'), c.mask, counts, found));
        EXPECT_EQ(id, found);
        EXPECT_EQ(c.expected, counts) << c.mask;
    }
    PersonalInfoCounts counts{};
    int64_t found = -7;
    EXPECT_FALSE(FindFileInfoByHash(Key('D'), 0xFFFF, counts, found));
    EXPECT_EQ(-7, found);
    // A key with a quote finds nothing and breaks nothing.
    EXPECT_FALSE(FindFileInfoByHash(u"\" OR \"1\" = \"1", 0xFFFF, counts, found));
}

TEST_F(EventTablesTest, OnlyAResultStoredWithAllItsHitsIsTaken)
{
    const PersonalInfoCounts two{1, 0, 0, 1, 0, 0, 0};
    const std::vector<PersonalInfoHit> hits = {{kPersonalInfoResidentNumber, u"800101-1234560"},
                                               {kPersonalInfoPhoneNumber, u"010-2345-6789"}};
    PersonalInfoCounts counts{};
    int64_t found = 0;

    // A row whose hits never came (the writer died between two writes), or
    // came only in part, is no stored result: the document is read again.
    ASSERT_GT(AddFileInfoRow(two, Document(u"/d", u"bare.pdf", Key('E'))), 0);
    EXPECT_FALSE(FindFileInfoByHash(Key('E'), 0xFFFF, counts, found));
    const int64_t part = AddFileInfoRow(two, Document(u"/d", u"part.pdf", Key('F')));
    ASSERT_TRUE(AddPersonalInfo(part, {hits[0]}));
    EXPECT_FALSE(FindFileInfoByHash(Key('F'), 0xFFFF, counts, found));

    // Written together they are found; a clean document needs no hit rows.
    const int64_t whole = AddFileInfoWithHits(two, Document(u"/d", u"bare.pdf", Key('E')), hits);
    ASSERT_GT(whole, 0);
    ASSERT_TRUE(FindFileInfoByHash(Key('E'), 0xFFFF, counts, found));
    EXPECT_EQ(whole, found);
    EXPECT_EQ(two, counts);
    const int64_t clean = AddFileInfoWithHits(PersonalInfoCounts{}, Document(u"/d", u"clean.pdf", Key('G')), {});
    ASSERT_GT(clean, 0);
    ASSERT_TRUE(FindFileInfoByHash(Key('G'), 0xFFFF, counts, found));
    EXPECT_EQ(clean, found);
    RawDb raw(dbPath());
    EXPECT_EQ(2, raw.Int("SELECT count(*) FROM PersonalInfo WHERE FileIndex = " + std::to_string(whole)));
    EXPECT_EQ("800101-123****", raw.Text("SELECT Data FROM PersonalInfo WHERE FileIndex = " + std::to_string(whole) +
                                         " AND Type = 0"));

    // A hit that cannot be written takes its document row with it.
    ASSERT_EQ(SQLITE_OK, raw.Exec("CREATE TRIGGER NoHit BEFORE INSERT ON PersonalInfo WHEN NEW.Type = 3 "
                                  "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    const long long before = raw.Int("SELECT count(*) FROM FileInfo");
    EXPECT_EQ(0, AddFileInfoWithHits(two, Document(u"/d", u"refused.pdf", Key('H')), hits));
    EXPECT_EQ(before, raw.Int("SELECT count(*) FROM FileInfo"));
    EXPECT_EQ(0, raw.Int("SELECT count(*) FROM FileInfo WHERE Name = 'refused.pdf'"));
    EXPECT_FALSE(FindFileInfoByHash(Key('H'), 0xFFFF, counts, found));
}

TEST_F(EventTablesTest, ExceptionsAddListAndRemove)
{
    const int64_t a = AddFileInfoRow(PersonalInfoCounts{1, 0, 0, 0, 0, 0, 0}, Document(u"/d", u"a.hwp", Key('A')));
    const int64_t b = AddFileInfoRow(PersonalInfoCounts{0, 2, 0, 0, 0, 0, 0}, Document(u"/", u"b.xlsx", Key('B')));
    const int64_t start = AddEvent(EVENT_ADD_EXCEPTION_START);
    const int64_t fromError = AddEvent(EVENT_ERROR_EXCEPTION_START);
    ASSERT_TRUE(AddExceptionInfo(a, start));  // the row id first, then the event
    ASSERT_TRUE(AddExceptionInfo(b, fromError));
    ASSERT_TRUE(AddExceptionInfo(a, fromError));
    {
        RawDb raw(dbPath());
        EXPECT_EQ(start, raw.Int("SELECT EventID FROM ExceptionInfo WHERE FileIndex = " + std::to_string(a) +
                                 " ORDER BY rowid LIMIT 1"));
    }

    std::vector<std::u16string> hashes;
    LoadExceptionHashes(hashes);
    std::sort(hashes.begin(), hashes.end());
    EXPECT_EQ((std::vector<std::u16string>{Key('A'), Key('A'), Key('B')}), hashes);

    std::vector<PersonalInfoCounts> counts;
    std::vector<std::u16string> users;
    std::vector<SearchFileInfo> docs;
    std::vector<int32_t> types;
    LoadExceptionList(counts, users, docs, types);
    ASSERT_EQ(3u, docs.size());
    ASSERT_EQ(3u, counts.size());
    ASSERT_EQ(3u, users.size());
    ASSERT_EQ(3u, types.size());
    for (size_t i = 0; i < docs.size(); ++i) {
        EXPECT_EQ(plat::UserName(), users[i]);
        if (docs[i].fileIndex == b) {
            EXPECT_EQ(u"/b.xlsx", docs[i].path);
            EXPECT_EQ(u"/", docs[i].Folder());
            EXPECT_EQ(u"b.xlsx", docs[i].FileName());
            EXPECT_EQ(2, counts[i][1]);
            EXPECT_EQ(EVENT_ERROR_EXCEPTION_START, types[i]);
        } else {
            EXPECT_EQ(a, docs[i].fileIndex);
            EXPECT_EQ(u"/d/a.hwp", docs[i].path);
            EXPECT_EQ(1, counts[i][0]);
        }
        EXPECT_EQ(0u, docs[i].fileSize);
        EXPECT_EQ(0, docs[i].fromEventStore);
    }

    // Removing a document from the list: its rows go, its key is blanked.
    ASSERT_TRUE(DeleteExceptionInfoByFile(a));
    ASSERT_TRUE(ClearFileInfoHash(a));
    hashes.clear();
    LoadExceptionHashes(hashes);
    EXPECT_EQ(std::vector<std::u16string>{Key('B')}, hashes);
    PersonalInfoCounts c{};
    int64_t found = 0;
    EXPECT_FALSE(FindFileInfoByHash(Key('A'), 0xFFFF, c, found));
    EXPECT_FALSE(FindFileInfoByHash(u"", 0xFFFF, c, found));  // a blank key is nobody's

    // A blanked key that is still excepted is not listed among the keys.
    ASSERT_TRUE(ClearFileInfoHash(b));
    hashes.clear();
    LoadExceptionHashes(hashes);
    EXPECT_TRUE(hashes.empty());
}

TEST_F(EventTablesTest, ReleasingAnExceptionTakesEveryRowAndTheKeyOrNothing)
{
    const int64_t a = AddFileInfoRow(PersonalInfoCounts{}, Document(u"/d", u"a.hwp", Key('A')));
    const int64_t b = AddFileInfoRow(PersonalInfoCounts{}, Document(u"/d", u"b.hwp", Key('B')));
    const int64_t event = AddEvent(EVENT_ADD_EXCEPTION_START);
    for (int64_t f : {a, a, b})  // a excepted twice
        ASSERT_TRUE(AddExceptionInfo(f, event));
    RawDb raw(dbPath());
    // The key cannot be blanked: the deletion before it is undone too.
    ASSERT_EQ(SQLITE_OK, raw.Exec("CREATE TRIGGER KeepKey BEFORE UPDATE OF Hash ON FileInfo "
                                  "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    EXPECT_FALSE(ReleaseException(a));
    EXPECT_EQ(2, raw.Int("SELECT count(*) FROM ExceptionInfo WHERE FileIndex = " + std::to_string(a)));
    EXPECT_EQ(plat::WideToUtf8(Key('A')), raw.Text("SELECT Hash FROM FileInfo WHERE FileIndex = " + std::to_string(a)));
    ASSERT_EQ(SQLITE_OK, raw.Exec("DROP TRIGGER KeepKey"));
    EXPECT_TRUE(ReleaseException(a));
    EXPECT_EQ(0, raw.Int("SELECT count(*) FROM ExceptionInfo WHERE FileIndex = " + std::to_string(a)));
    EXPECT_EQ("", raw.Text("SELECT Hash FROM FileInfo WHERE FileIndex = " + std::to_string(a)));
    EXPECT_EQ(1, raw.Int("SELECT count(*) FROM ExceptionInfo WHERE FileIndex = " + std::to_string(b)));
    EXPECT_EQ(plat::WideToUtf8(Key('B')), raw.Text("SELECT Hash FROM FileInfo WHERE FileIndex = " + std::to_string(b)));
}

TEST_F(EventTablesTest, DeletionsByEventList)
{
    std::vector<int64_t> ids;
    for (int i = 0; i < 1200; ++i)  // more ids than one statement takes
        ids.push_back(AddEvent(EVENT_DELETE_COMPLETE));
    for (int64_t id : ids) {
        ASSERT_GT(id, 0);
        if (id % 2) {
            ASSERT_TRUE(AddFileEventLog(id, id + 10000));
        }
    }
    ASSERT_TRUE(AddExceptionInfo(7, ids[5]));
    ASSERT_TRUE(AddSearchEventLog(ids[6], PersonalInfoCounts{}, DocumentKindCounts{}));

    std::vector<int64_t> doomed(ids.begin(), ids.begin() + 1100);
    ASSERT_TRUE(DeleteFileEventLogRows(doomed));
    ASSERT_TRUE(DeleteEventInfoRows(doomed));
    ASSERT_TRUE(DeleteExceptionInfoRows(doomed));
    ASSERT_TRUE(DeleteSearchEventLogRows(doomed));
    EXPECT_EQ(100, Count("EventInfo"));
    EXPECT_EQ(50, Count("FileEventLog"));
    EXPECT_EQ(0, Count("ExceptionInfo"));
    EXPECT_EQ(0, Count("SearchEventLog"));
    std::vector<int64_t> left;
    ASSERT_TRUE(GetAllEventIds(left));
    EXPECT_EQ(std::vector<int64_t>(ids.begin() + 1100, ids.end()), left);
}

TEST_F(EventTablesTest, DeleteAllEventsTakesEverythingOrNothing)
{
    const int64_t doc = AddFileInfoRow(PersonalInfoCounts{}, Document(u"/d", u"a.hwp", Key('A')));
    ASSERT_TRUE(AddPersonalInfo(doc, {{kPersonalInfoPhoneNumber, u"010-1234-5678"}}));
    // No event: nothing is deleted, not even the stored results.
    ASSERT_TRUE(DeleteAllEvents());
    EXPECT_EQ(1, Count("FileInfo"));
    EXPECT_EQ(1, Count("PersonalInfo"));

    const int64_t ev = AddEvent(EVENT_ADD_EXCEPTION_COMPLETE);
    ASSERT_TRUE(AddFileEventLog(ev, doc));
    ASSERT_TRUE(AddExceptionInfo(doc, ev));
    ASSERT_TRUE(AddSearchEventLog(ev, PersonalInfoCounts{}, DocumentKindCounts{}));
    ASSERT_TRUE(DeleteAllEvents());
    for (const char* t : {"EventInfo", "FileInfo", "PersonalInfo", "FileEventLog", "ExceptionInfo", "SearchEventLog"})
        EXPECT_EQ(0, Count(t)) << t;
    // Ids are never reused: a later event is still a larger id.
    EXPECT_GT(AddEvent(EVENT_LOG_DELETED), ev);
}

TEST_F(EventTablesTest, DeleteAllFileInfoAndPersonalInfo)
{
    const int64_t doc = AddFileInfoRow(PersonalInfoCounts{}, Document(u"/d", u"a.hwp", Key('A')));
    ASSERT_TRUE(AddPersonalInfo(doc, {{kPersonalInfoPhoneNumber, u"010-1234-5678"}}));
    ASSERT_TRUE(DeleteAllPersonalInfo());
    EXPECT_EQ(0, Count("PersonalInfo"));
    EXPECT_EQ(1, Count("FileInfo"));
    ASSERT_TRUE(DeleteAllFileInfo());
    EXPECT_EQ(0, Count("FileInfo"));
}

TEST_F(EventTablesTest, PurgeKeepsTheEventsInsideTheRetention)
{
    const int64_t doc = AddFileInfoRow(PersonalInfoCounts{}, Document(u"/d", u"a.hwp", Key('A')));
    const int64_t onCutoff = EventOn(EVENT_DELETE_COMPLETE, 2023, 11, 16);
    const int64_t older = EventOn(EVENT_ADD_EXCEPTION_START, 2023, 10, 30);
    const int64_t lastYear = EventOn(EVENT_ALL_SEARCH_COMPLETE, 2022, 12, 31);
    const int64_t dayAfter = EventOn(EVENT_DELETE_COMPLETE, 2023, 11, 17);
    const int64_t later = EventOn(EVENT_ALL_SEARCH_COMPLETE, 2023, 12, 20);
    ASSERT_TRUE(AddFileEventLog(onCutoff, doc));
    ASSERT_TRUE(AddFileEventLog(dayAfter, doc));
    ASSERT_TRUE(AddExceptionInfo(doc, older));
    ASSERT_TRUE(AddSearchEventLog(lastYear, PersonalInfoCounts{}, DocumentKindCounts{}));
    ASSERT_TRUE(AddSearchEventLog(later, PersonalInfoCounts{}, DocumentKindCounts{}));

    ASSERT_TRUE(PurgeOldEventsAt(120, EventDate{2024, 3, 15}));  // cutoff 2023-11-16
    std::vector<int64_t> left;
    GetAllEventIds(left);
    EXPECT_EQ((std::vector<int64_t>{dayAfter, later}), left);
    std::vector<int64_t> files;
    EXPECT_FALSE(GetFileEventLogFiles(files, onCutoff));
    EXPECT_TRUE(GetFileEventLogFiles(files, dayAfter));
    EXPECT_EQ(0, Count("ExceptionInfo"));
    EXPECT_EQ(1, Count("SearchEventLog"));
    EXPECT_EQ(1, Count("FileInfo"));  // documents keep their stored results

    // Today's events stay with the setting's default.
    const int64_t today = AddEvent(EVENT_ALL_SEARCH_START);
    ASSERT_TRUE(PurgeOldEvents(120));
    EventInfoRow row;
    EXPECT_TRUE(GetEventInfo(row, today));
}

TEST_F(EventTablesTest, EventIdsByPeriodAndMask)
{
    const int64_t e27 = EventOn(EVENT_ENCRYPT_START, 2024, 2, 27);
    const int64_t e28 = EventOn(EVENT_ENCRYPT_AES256_COMPLETE, 2024, 2, 28);
    const int64_t e29 = EventOn(EVENT_PASSWORD_CHANGED, 2024, 2, 29);
    const int64_t m01 = EventOn(EVENT_DELETE_START, 2024, 3, 1);
    const int64_t m01b = EventOn(EVENT_AES256_ALGORITHM_CHANGED, 2024, 3, 1);
    const int64_t y23 = EventOn(EVENT_ALL_SEARCH_START, 2023, 12, 31);

    std::vector<int64_t> ids;
    ASSERT_TRUE(GetEventIdsOfRange(ids, EVENT_MASK_ALL, EventDate{2024, 2, 28}, EventDate{2024, 3, 1}));
    EXPECT_EQ((std::vector<int64_t>{m01b, m01, e29, e28}), ids);  // newest first, 02-27 dropped

    ids.clear();
    EXPECT_TRUE(GetEventIdsOfRange(ids, EVENT_MASK_ALL, EventDate{2024, 5, 1}, EventDate{2024, 5, 31}));
    EXPECT_TRUE(ids.empty());  // rows of the year came back, none inside the dates
    EXPECT_FALSE(GetEventIdsOfRange(ids, EVENT_MASK_ALL, EventDate{2020, 1, 1}, EventDate{2020, 12, 31}));

    ids.clear();
    ASSERT_TRUE(GetEventIdsOfRange(ids, EVENT_MASK_ALL, EventDate{2023, 12, 31}, EventDate{2024, 2, 27}));
    EXPECT_EQ((std::vector<int64_t>{y23, e27}), ids);

    ids.clear();
    ASSERT_TRUE(GetEventIdsOfDay(ids, EVENT_MASK_ALL, EventDate{2024, 3, 1}));
    EXPECT_EQ((std::vector<int64_t>{m01b, m01}), ids);
    ids.clear();
    ASSERT_TRUE(GetEventIdsOfDay(ids, EVENT_MASK_SETTINGS, EventDate{2024, 3, 1}));
    EXPECT_EQ(std::vector<int64_t>{m01b}, ids);
    ids.clear();
    EXPECT_FALSE(GetEventIdsOfDay(ids, EVENT_MASK_SEARCH, EventDate{2024, 3, 1}));

    ids.clear();
    ASSERT_TRUE(GetEventIdsOfYear(ids, 2024, EVENT_MASK_ENCRYPT));
    EXPECT_EQ((std::vector<int64_t>{e28, e27}), ids);
    ids.clear();
    ASSERT_TRUE(GetEventIdsOfYear(ids, 2024, EVENT_MASK_SETTINGS));
    EXPECT_EQ((std::vector<int64_t>{m01b, e29}), ids);
    ids.clear();
    ASSERT_TRUE(GetEventIdsOfYear(ids, 2023, EVENT_MASK_SEARCH));
    EXPECT_EQ(std::vector<int64_t>{y23}, ids);
}

TEST_F(EventTablesTest, GroupMasksSelectTheirCodesOnly)
{
    const int32_t codes[] = {1, 2, 3, 4, 5, 6, 0x100, 0x200, 0x300, 0x400, 0x500, 0x1000, 0x2000, 0x3000,
                             0x10000, 0x20000, 0x30000, 0x40000, 0x50000, 0x60000, 0x70000, 0x80000, 0x90000,
                             0x1000000, 0x2000000, 0x3000000, 0x4000000, 0x5000000, 0x6000000, 0x7000000,
                             0x8000000, 0x9000000, 0xA000000};
    std::vector<std::pair<int64_t, int32_t>> events;
    for (int32_t code : codes)
        events.emplace_back(EventOn(code, 2025, 6, 1), code);
    const int32_t masks[] = {EVENT_MASK_SEARCH, EVENT_MASK_ENCRYPT, EVENT_MASK_DELETE, EVENT_MASK_EXCEPTION,
                             EVENT_MASK_SETTINGS, EVENT_MASK_ALL};
    auto groupOf = [](int32_t code) {
        return code <= 6 ? 0 : code <= 0x500 ? 1 : code <= 0x3000 ? 2 : code <= 0x90000 ? 3 : 4;
    };
    for (int m = 0; m < 6; ++m) {
        std::vector<int64_t> ids;
        GetEventIdsOfYear(ids, 2025, masks[m]);
        std::vector<int64_t> expected;
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (m == 5 || groupOf(it->second) == m)
                expected.push_back(it->first);
        EXPECT_EQ(expected, ids) << "mask " << masks[m];
    }
    EXPECT_EQ(-16777216, EVENT_MASK_SETTINGS);
    EXPECT_EQ(-1, EVENT_MASK_ALL);
}

TEST_F(EventTablesTest, LastSearchAndTheActionsSinceThen)
{
    AddEvent(EVENT_ALL_SEARCH_START);
    AddEvent(EVENT_USER_SEARCH_START);
    EXPECT_EQ(0, GetLastSearchEventId());  // start events only
    const int64_t cancelled = AddEvent(EVENT_USER_SEARCH_CANCEL);
    EXPECT_EQ(cancelled, GetLastSearchEventId());
    const int64_t ended = AddEvent(EVENT_ALL_SEARCH_COMPLETE);
    EXPECT_EQ(ended, GetLastSearchEventId());

    auto doc = [&](const char16_t* name, PersonalInfoCounts counts) {
        return AddFileInfoRow(counts, Document(u"/d", name, Key('A')));
    };
    const int64_t docx = doc(u"a.docx", {1, 0, 0, 0, 0, 0, 0});
    const int64_t txt = doc(u"b.txt", {0, 2, 0, 0, 0, 0, 0});
    const int64_t hwp = doc(u"c.HWP", {0, 0, 3, 0, 0, 0, 0});
    const int64_t pdf = doc(u"noext", {0, 0, 0, 4, 0, 0, 0});

    AddEvent(EVENT_ENCRYPT_START);  // starts are not counted
    const int64_t encCancel = AddEvent(EVENT_ENCRYPT_CANCEL);
    const int64_t encDone = AddEvent(EVENT_ENCRYPT_AES128_COMPLETE);
    const int64_t delDone = AddEvent(EVENT_DELETE_COMPLETE);
    const int64_t excDone = AddEvent(EVENT_ADD_EXCEPTION_COMPLETE);
    AddEvent(EVENT_REMOVE_EXCEPTION_COMPLETE);  // removals are not counted
    AddFileEventLog(encCancel, docx);
    AddFileEventLog(encDone, txt);
    AddFileEventLog(encDone, 9999);  // a document that is gone counts nothing
    AddFileEventLog(delDone, hwp);
    AddFileEventLog(excDone, pdf);

    int32_t enc = 1, del = 0, exc = 0;  // counters are added to
    ASSERT_TRUE(CountOperationEventsAfter(ended, enc, del, exc));
    EXPECT_EQ(3, enc);
    EXPECT_EQ(1, del);
    EXPECT_EQ(1, exc);
    enc = del = exc = 0;
    EXPECT_FALSE(CountOperationEventsAfter(excDone + 1, enc, del, exc));

    PersonalInfoCounts totals{};
    DocumentKindCounts kinds{};
    ASSERT_TRUE(SumOperationFilesAfter(ended, totals, kinds, EVENT_MASK_ENCRYPT));
    EXPECT_EQ((PersonalInfoCounts{1, 2, 0, 0, 0, 0, 0}), totals);
    EXPECT_EQ((DocumentKindCounts{0, 1, 0, 0, 0}), kinds);  // docx under DOC, txt under none

    totals = {};
    kinds = {};
    ASSERT_TRUE(SumOperationFilesAfter(ended, totals, kinds, EVENT_MASK_DELETE));
    EXPECT_EQ((PersonalInfoCounts{0, 0, 3, 0, 0, 0, 0}), totals);
    EXPECT_EQ((DocumentKindCounts{1, 0, 0, 0, 0}), kinds);

    totals = {};
    kinds = {};
    ASSERT_TRUE(AccumulateFileEventLog(totals, excDone, kinds));
    EXPECT_EQ(4, totals[3]);
    EXPECT_EQ((DocumentKindCounts{0, 0, 0, 0, 0}), kinds);
    EXPECT_FALSE(AccumulateFileEventLog(totals, ended, kinds));

    std::vector<int64_t> files;
    ASSERT_TRUE(GetFileEventLogFiles(files, encDone));
    EXPECT_EQ((std::vector<int64_t>{txt, 9999}), files);
}

}  // namespace
