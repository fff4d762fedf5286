// The action windows and a store that refuses writes: the user is told once
// per run, after its end event, and a document whose result row was never
// stored (row index 0) gets no rows of its own.
#include <QTimer>
#include <filesystem>

#include "app/actiondlg.h"
#include "app_fixture.h"
#include "core/eventstore/eventtables.h"
#include "core/util.h"

namespace ps_test {
namespace {

namespace fs = std::filesystem;

class ActionStoreTest : public AppTest {
protected:
    // Two documents: the first with its result row, the second without one.
    DocumentList MakeDocuments(const std::string& folder)
    {
        fs::create_directories(folder);
        DocumentList list;
        for (int i = 0; i < 2; ++i) {
            const std::string path = folder + "/doc" + std::to_string(i) + ".hwp";
            EXPECT_TRUE(WriteFileBytes(path, "text"));
            int64_t fileIndex = 0;
            if (i == 0) {
                SearchFileInfo record;
                record.path = plat::PathFromNative(path);
                record.documentKey = u"KEY0";
                PersonalInfoCounts counts;
                counts[0] = 1;
                fileIndex = AddFileInfoRow(counts, record);
                EXPECT_GT(fileIndex, 0);
            }
            list.push_back(DocumentItem{plat::PathFromNative(path), fileIndex});
        }
        return list;
    }
    int StoreMessages() const
    {
        int n = 0;
        for (const auto& m : messages_) n += m.find(u"이벤트 데이터베이스에 기록하지 못했습니다: ") == 0;
        return n;
    }
};

TEST_F(ActionStoreTest, RefusedWritesAreToldOnceAndUnstoredDocumentsGetNoRows)
{
    struct Case {
        const char* name;
        bool except;      // the exception window (else delete)
        const char* refuse;  // a condition on the refused EventInfo inserts, or null
        int messages;
    } cases[] = {
        {"delete, store fine", false, nullptr, 0},
        {"except, store fine", true, nullptr, 0},
        {"delete, every event refused", false, "1", 1},
        {"delete, end event refused", false, "NEW.Type = 12288", 1},
        {"except, start event refused", true, "NEW.Type = 65536", 1},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages_.clear();
        {
            RawDb raw(dbPath_);
            ASSERT_EQ(0, raw.Exec("DELETE FROM FileEventLog; DELETE FROM ExceptionInfo; DROP TRIGGER IF EXISTS Refuse"));
            if (c.refuse) {
                ASSERT_EQ(0, raw.Exec(std::string("CREATE TRIGGER Refuse BEFORE INSERT ON EventInfo WHEN ") + c.refuse +
                                      " BEGIN SELECT RAISE(ABORT, 'refused'); END"));
            }
        }
        DocumentList list = MakeDocuments(dir_.file("run" + std::to_string(run++)));
        int count = 0;
        std::unique_ptr<CDocumentActionDlg> dlg;
        if (c.except)
            dlg = std::make_unique<CDocumentExceptionDlg>(nullptr, 0);
        else
            dlg = std::make_unique<CDocumentDeleteDlg>();
        dlg->SetDocuments(&list, &count);
        RunToEnd(*dlg);
        EXPECT_EQ(StoreMessages(), c.messages);
        // No row of the log or the exception list points at no document.
        EXPECT_EQ(Count("SELECT COUNT(*) FROM FileEventLog WHERE FileIndex <= 0"), 0);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM ExceptionInfo WHERE FileIndex <= 0"), 0);
        if (c.except) {
            // Without a row the exception cannot be kept: not handled.
            EXPECT_EQ(count, 1);
            EXPECT_EQ(dlg->NotHandled(), 1);
        } else {
            // The documents are deleted whatever the store does.
            EXPECT_EQ(count, 2);
            EXPECT_FALSE(fs::exists(plat::PathToNative(list[1].path)));
        }
    }
}

}  // namespace
}  // namespace ps_test
