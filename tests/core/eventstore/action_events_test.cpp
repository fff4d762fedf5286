// The end event of a document action and its FileEventLog rows are written
// together or not at all.
#include <gtest/gtest.h>

#include "core/eventstore/eventtables.h"
#include "store_fixture.h"

namespace ps_test {
namespace {

class ActionEventsTest : public EventStoreTest {};

TEST_F(ActionEventsTest, EventAndItsDocumentsAreOneWrite)
{
    const int64_t id = AddEventWithFiles(0x3000, {5, 3, 9});
    ASSERT_GT(id, 0);
    RawDb raw(dbPath());
    EXPECT_EQ(raw.Text("SELECT Type FROM EventInfo WHERE EventID = " + std::to_string(id)), std::to_string(0x3000));
    EXPECT_EQ(raw.Text("SELECT group_concat(FileIndex) FROM (SELECT FileIndex FROM FileEventLog WHERE EventID = " +
                       std::to_string(id) + " ORDER BY rowid)"),
              "5,3,9");
    EXPECT_GT(AddEventWithFiles(0x200, {}), id);  // an end without documents

    // A failing row takes its event with it.
    ASSERT_EQ(0, raw.Exec("DROP TABLE FileEventLog"));
    const std::string before = raw.Text("SELECT COUNT(*) FROM EventInfo");
    EXPECT_EQ(AddEventWithFiles(0x500, {1}), 0);
    EXPECT_EQ(raw.Text("SELECT COUNT(*) FROM EventInfo"), before);
}

}  // namespace
}  // namespace ps_test
