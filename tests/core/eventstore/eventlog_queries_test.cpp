// The batched reads and the list deletion of the event-log viewer.
#include <gtest/gtest.h>

#include "core/eventstore/eventlogqueries.h"
#include "core/eventstore/eventtables.h"
#include "store_fixture.h"

namespace ps_test {
namespace {

class EventLogQueriesTest : public EventStoreTest {
protected:
    int64_t Action(int32_t type, int documents)
    {
        const int64_t id = AddEvent(type);
        for (int i = 0; i < documents; ++i) {
            SearchFileInfo d;
            d.SetFolderAndName(u"/home/user", u"d" + plat::AsciiToWide(std::to_string(i)) + u".hwp");
            d.documentKey = d.FileName();
            AddFileEventLog(id, AddFileInfoRow(PersonalInfoCounts{}, d));
        }
        return id;
    }
};

TEST_F(EventLogQueriesTest, RowsComeInTheOrderAskedWithTheirCountsAndDocuments)
{
    const int64_t search = AddEvent(3);
    AddSearchEventLog(search, PersonalInfoCounts{1, 2, 3, 4, 5, 6, 7}, DocumentKindCounts{1, 1, 0, 0, 2});
    const int64_t start = AddEvent(1);
    AddSearchEventLog(start, PersonalInfoCounts{9, 9, 9, 9, 9, 9, 9}, DocumentKindCounts{9, 9, 9, 9, 9});
    const int64_t del = Action(0x3000, 3);
    const int64_t delStart = Action(0x1000, 2);  // documents of a start are not counted
    const std::vector<int64_t> ids = {del, 424242, search, start, del, delStart};
    const std::vector<EventLogRow> rows = LoadEventLogRows(ids);
    ASSERT_EQ(rows.size(), ids.size());
    for (size_t i = 0; i < ids.size(); ++i)
        EXPECT_EQ(rows[i].eventId, ids[i]);
    EXPECT_TRUE(rows[0].found);
    EXPECT_EQ(rows[0].fileCount, 3);
    EXPECT_EQ(rows[0].info.Type, 0x3000);
    EXPECT_FALSE(rows[1].found);  // no such event: an empty row
    EXPECT_EQ(rows[1].info.Type, 0);
    EXPECT_TRUE(rows[2].hasSearchLog);
    EXPECT_EQ(rows[2].counts, (PersonalInfoCounts{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(rows[2].kinds, (DocumentKindCounts{1, 1, 0, 0, 2}));
    EXPECT_FALSE(rows[3].hasSearchLog);  // only the ends of searches carry totals
    EXPECT_EQ(rows[4].fileCount, 3);
    EXPECT_EQ(rows[5].fileCount, 0);

    std::vector<SearchFileInfo> docs;
    EXPECT_TRUE(GetEventDocuments(del, docs));
    ASSERT_EQ(docs.size(), 3u);
    EXPECT_EQ(docs[0].FileName(), u"d0.hwp");
    EXPECT_EQ(docs[2].path, u"/home/user/d2.hwp");
    EXPECT_EQ(docs[1].Folder(), u"/home/user");
}

TEST_F(EventLogQueriesTest, ManyIdsAreReadInBatches)
{
    std::vector<int64_t> ids;
    ASSERT_TRUE(ExecuteWithRetry([&](CppSQLite3DB& db) {
        for (int i = 0; i < 1234; ++i) {
            const int rc = db.ExecuteDml(
                u"INSERT INTO EventInfo (Year, Month, Day, Time, Type, User) VALUES (2024, 1, 2, '010203', ?, 'u')",
                {int64_t{0x1000000}});
            if (rc)
                return rc;
            ids.insert(ids.begin(), db.LastInsertRowId());  // newest first
        }
        return 0;
    }));
    const std::vector<EventLogRow> rows = LoadEventLogRows(ids);
    ASSERT_EQ(rows.size(), ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        ASSERT_EQ(rows[i].eventId, ids[i]) << i;
        ASSERT_TRUE(rows[i].found) << i;
    }
    EXPECT_EQ(rows.back().info.Time, u"010203");
    EXPECT_TRUE(LoadEventLogRows(std::vector<int64_t>{}).empty());
}

TEST_F(EventLogQueriesTest, DeletionOfAListTakesTheEventsWithTheirRowsOnly)
{
    const int64_t a = Action(0x30000, 2);
    AddExceptionInfo(1, a);
    const int64_t b = AddEvent(3);
    AddSearchEventLog(b, PersonalInfoCounts{}, DocumentKindCounts{});
    const int64_t keep = Action(0x3000, 1);
    EXPECT_TRUE(DeleteEventsOfList({a, b}));
    RawDb db(dbPath());
    EXPECT_EQ(db.Int("SELECT COUNT(*) FROM EventInfo"), 1);
    EXPECT_EQ(db.Int("SELECT EventID FROM EventInfo"), keep);
    EXPECT_EQ(db.Int("SELECT COUNT(*) FROM FileEventLog"), 1);
    EXPECT_EQ(db.Int("SELECT COUNT(*) FROM ExceptionInfo"), 0);
    EXPECT_EQ(db.Int("SELECT COUNT(*) FROM SearchEventLog"), 0);
    EXPECT_EQ(db.Int("SELECT COUNT(*) FROM FileInfo"), 3);  // stored results stay
    EXPECT_TRUE(DeleteEventsOfList({}));
}

}  // namespace
}  // namespace ps_test
