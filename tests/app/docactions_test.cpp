// The document actions apart from the search window: three result controls
// of a window of their own (every document, the PDF documents, the HWP
// documents) over four documents in three folders. A finished document
// leaves every control, not only the one it was chosen in, and takes with
// it the folder rows it leaves empty; a flow that ends early leaves every
// row and opens no action window.
#include <QTimer>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <memory>

#include "app/docactions.h"
#include "app_fixture.h"
#include "core/eventstore/eventtables.h"
#include "platform/docfile.h"

namespace ps_test {
namespace {

namespace fs = std::filesystem;
using Action = CSearchDocumentActions::Action;

std::u16string U(const std::string& s) { return plat::PathFromNative(s); }

// The documents, by folder; the controls that hold each: 0 every one, 1 the
// PDF documents, 2 the HWP documents.
constexpr const char* kDocuments[] = {"a/one.pdf", "a/two.hwp", "b/three.pdf", "c/four.hwp"};
enum { kOne, kTwo, kThree, kFour };

class ActionsWindow : public CSearchDocumentActions::Host {
public:
    CFileReportControl* ShownReport() const override { return controls[shown].get(); }
    std::vector<CFileReportControl*> AllReports() const override
    {
        return {controls[0].get(), controls[1].get(), controls[2].get()};
    }
    void RecountTabCaptions() override { ++recounts; }
    QWidget* ActionOwner() override { return &owner; }
    int RunActionWindow(CDocumentActionDlg& dlg) override
    {
        ++actionWindows;
        return RunToEnd(dlg);
    }
    int RunPasswordWindow(CPasswordConfirmDlg&) override
    {
        ++passwordWindows;
        return ps::ui::IDCANCEL;
    }

    QWidget owner;
    std::array<std::unique_ptr<CFileReportControl>, 3> controls{std::make_unique<CFileReportControl>(),
                                                                 std::make_unique<CFileReportControl>(),
                                                                 std::make_unique<CFileReportControl>()};
    int shown = 0;
    int recounts = 0;
    int actionWindows = 0;
    int passwordWindows = 0;
};

class DocumentActionsTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        root_ = dir_.file("docs");
        for (int i = 0; i < 4; ++i) {
            const std::string path = root_ + "/" + kDocuments[i];
            fs::create_directories(fs::path(path).parent_path());
            ASSERT_TRUE(WriteFileBytes(path, std::string(100, 'a' + i)));
            SearchFileInfo& record = records_[i];
            record.path = U(path);
            record.documentKey = u"KEY" + plat::AsciiToWide(std::to_string(i));
            PersonalInfoCounts counts;
            counts[0] = 1;
            record.fileIndex = AddFileInfoRow(counts, record);
            struct stat st{};
            ASSERT_EQ(lstat(path.c_str(), &st), 0);
            record.identity = plat::IdentityOf(st);
        }
        Fill(0, {kOne, kTwo, kThree, kFour});
        Fill(1, {kOne, kThree});
        Fill(2, {kTwo, kFour});
    }

    // Rows for the documents (in folder order) in one control.
    void Fill(int control, const std::vector<int>& documents)
    {
        CFileReportControl* c = window_.controls[control].get();
        CFileInfoRecord* folder = nullptr;
        for (int i : documents) {
            SearchFileInfo* record = &records_[i];
            if (!folder || folder->GetFolderPath() != record->Folder()) {
                auto row = std::make_unique<CFileInfoRecord>(record);
                folder = row.get();
                ASSERT_EQ(c->AddFolderRow(std::move(row)), 0);
            }
            PersonalInfoCounts counts;
            counts[0] = 1;
            ASSERT_EQ(c->AddFileRow(std::make_unique<CFileInfoRecord>(counts, CFileInfoRecord::kEveryKind, record),
                                    folder),
                      0);
        }
    }

    // A control's rows: "folder:name,name|folder:name", relative to the root.
    std::string Rows(int control)
    {
        const CFileReportControl* c = window_.controls[control].get();
        const size_t cut = U(root_).size() + 1;
        std::string text;
        for (int f = 0; f < c->FolderRowCount(); ++f) {
            if (f) text += "|";
            text += plat::PathToNative(c->FolderRow(f)->GetFolderPath().substr(cut)) + ":";
            for (int d = 0; CFileInfoRecord* row = c->DocumentRow(f, d); ++d)
                text += (d ? "," : "") + plat::PathToNative(std::u16string(row->FileInfo()->FileName()));
        }
        return text;
    }
    CFileInfoRecord* RowOf(int control, int document)
    {
        const CFileReportControl* c = window_.controls[control].get();
        for (int f = 0; f < c->FolderRowCount(); ++f)
            for (int d = 0; CFileInfoRecord* row = c->DocumentRow(f, d); ++d)
                if (row->FileInfo() == &records_[document]) return row;
        return nullptr;
    }
    DocumentItem Item(int document) const
    {
        const SearchFileInfo& r = records_[document];
        return DocumentItem{r.path, r.fileIndex, r.identity};
    }
    std::string PathOf(int document) const { return root_ + "/" + kDocuments[document]; }

    std::string root_;
    std::array<SearchFileInfo, 4> records_;
    ActionsWindow window_;
    CSearchDocumentActions docActions_{window_};
};

const char kAllRows[] = "a:one.pdf,two.hwp|b:three.pdf|c:four.hwp";
const char kPdfRows[] = "a:one.pdf|b:three.pdf";
const char kHwpRows[] = "a:two.hwp|c:four.hwp";

TEST_F(DocumentActionsTest, FinishedDocumentsLeaveEveryControlWithTheFolderRowsTheyEmpty)
{
    const struct {
        const char* name;
        std::vector<int> documents;  // the action's list
        std::vector<size_t> processed;
        std::vector<int> vanished;   // removed from the disk behind the action
        const char *all, *pdf, *hwp;
    } cases[] = {
        {"nothing finished", {kOne, kThree}, {}, {}, kAllRows, kPdfRows, kHwpRows},
        {"processed in its kind's control", {kOne, kThree}, {1}, {},  //
         "a:one.pdf,two.hwp|c:four.hwp", "a:one.pdf", kHwpRows},
        {"a folder row empty in one control only", {kOne}, {0}, {},  //
         "a:two.hwp|b:three.pdf|c:four.hwp", "b:three.pdf", kHwpRows},
        {"vanished, not processed", {kOne, kTwo}, {}, {kTwo},  //
         "a:one.pdf|b:three.pdf|c:four.hwp", kPdfRows, "c:four.hwp"},
        {"processed and vanished together", {kTwo, kThree, kFour}, {0}, {kFour},  //
         "a:one.pdf|b:three.pdf", kPdfRows, ""},
        {"positions past the list", {kFour}, {0, 3}, {},  //
         "a:one.pdf,two.hwp|b:three.pdf", kPdfRows, "a:two.hwp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (auto& control : window_.controls) control->ResetContent();
        Fill(0, {kOne, kTwo, kThree, kFour});
        Fill(1, {kOne, kThree});
        Fill(2, {kTwo, kFour});
        for (int i = 0; i < 4; ++i) ASSERT_TRUE(WriteFileBytes(PathOf(i), std::string(100, 'a' + i)));
        for (int i : c.vanished) fs::remove(PathOf(i));
        DocumentList documents;
        for (int i : c.documents) documents.push_back(Item(i));
        window_.recounts = 0;

        docActions_.DropFinishedDocuments(documents, c.processed);

        EXPECT_EQ(Rows(0), c.all);
        EXPECT_EQ(Rows(1), c.pdf);
        EXPECT_EQ(Rows(2), c.hwp);
        EXPECT_EQ(window_.recounts, 1);
    }
}

// Each of these ends before an action window runs (or, for the password
// window, before the encryption): every row and every document stays.
TEST_F(DocumentActionsTest, AFlowThatEndsEarlyLeavesEveryRow)
{
    const struct {
        const char* name;
        Action action;
        bool menu;       // the row menu's one document (one.pdf), else the ticked ones
        bool tick;       // one.pdf ticked in the PDF control, which is shown
        bool lockFile;   // an office lock file beside one.pdf
        int answer;      // to the deletion's question
        const char16_t* said;
        int act, passwordWindows, recounts;
    } cases[] = {
        {"nothing ticked", Action::Delete, false, false, false, ps::ui::IDOK, u"선택된 내용이 없습니다.", 6, 0, 0},
        {"nothing ticked to except", Action::Except, false, false, false, ps::ui::IDOK, u"선택된 내용이 없습니다.",
         7, 0, 0},
        {"ticked, held open, delete", Action::Delete, false, true, true, ps::ui::IDOK,
         u"삭제 처리할 문서 1개가 열려 있습니다.", 6, 0, 0},
        {"ticked, held open, encrypt", Action::Encrypt, false, true, true, ps::ui::IDOK,
         u"암호 처리할 문서 1개가 열려 있습니다.", 5, 0, 0},
        {"ticked, deletion not confirmed", Action::Delete, false, true, false, ps::ui::IDCANCEL,
         u"문서를 삭제하시면 복구하실 수 없습니다.", 6, 0, 0},
        {"ticked, no password given", Action::Encrypt, false, true, false, ps::ui::IDOK, nullptr, 5, 1, 1},
        {"row, held open, delete", Action::Delete, true, false, true, ps::ui::IDOK,
         u"삭제 처리할 문서 1개가 열려 있습니다.", 10, 0, 0},
        {"row, held open, encrypt", Action::Encrypt, true, false, true, ps::ui::IDOK,
         u"암호 처리할 문서 1개가 열려 있습니다.", 9, 0, 0},
        {"row, deletion not confirmed", Action::Delete, true, false, false, ps::ui::IDCANCEL,
         u"문서를 삭제하시면 복구하실 수 없습니다.", 10, 0, 0},
        {"row, no password given", Action::Encrypt, true, false, false, ps::ui::IDOK, nullptr, 9, 1, 1},
    };
    const std::string lock = root_ + "/a/.~lock.one.pdf#";
    window_.shown = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        messages_.clear();
        actions_.clear();
        window_.recounts = window_.passwordWindows = window_.actionWindows = 0;
        answer_ = c.answer;
        if (c.lockFile) {
            ASSERT_TRUE(WriteFileBytes(lock, "lock"));
        }
        CFileInfoRecord* row = RowOf(1, kOne);
        ASSERT_NE(row, nullptr);
        window_.controls[1]->SetChecked(row, c.tick);

        if (c.menu)
            docActions_.RunOnRow(c.action, row, U(PathOf(kOne)));
        else
            docActions_.RunOnTicked(c.action);

        fs::remove(lock);
        window_.controls[1]->SetChecked(row, false);
        EXPECT_EQ(actions_, std::vector<int>{c.act});
        ASSERT_EQ(messages_.size(), c.said ? 1u : 0u);
        if (c.said) {
            EXPECT_EQ(messages_[0].substr(0, std::u16string(c.said).size()), c.said);
        }
        EXPECT_EQ(window_.actionWindows, 0);
        EXPECT_EQ(window_.passwordWindows, c.passwordWindows);
        EXPECT_EQ(window_.recounts, c.recounts);
        EXPECT_EQ(Rows(0), kAllRows);
        EXPECT_EQ(Rows(1), kPdfRows);
        EXPECT_EQ(Rows(2), kHwpRows);
        EXPECT_TRUE(fs::exists(PathOf(kOne)));
    }
    // A row menu without its row or path does nothing but count the command.
    messages_.clear();
    actions_.clear();
    docActions_.RunOnRow(Action::Delete, nullptr, U(PathOf(kOne)));
    docActions_.RunOnRow(Action::Delete, RowOf(1, kOne), u"");
    EXPECT_EQ(actions_, (std::vector<int>{10, 10}));
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(window_.actionWindows, 0);
}

// The action windows run for real: the documents they processed leave every
// control, whichever control they were chosen in.
TEST_F(DocumentActionsTest, ProcessedDocumentsLeaveEveryControl)
{
    // The row menu of the PDF control excepts three.pdf.
    window_.shown = 1;
    docActions_.RunOnRow(Action::Except, RowOf(1, kThree), U(PathOf(kThree)));
    EXPECT_EQ(window_.actionWindows, 1);
    EXPECT_TRUE(fs::exists(PathOf(kThree)));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM ExceptionInfo"), 1);
    EXPECT_EQ(Rows(0), "a:one.pdf,two.hwp|c:four.hwp");
    EXPECT_EQ(Rows(1), "a:one.pdf");
    EXPECT_EQ(Rows(2), kHwpRows);

    // The HWP control's ticked documents are deleted.
    window_.shown = 2;
    window_.controls[2]->SetChecked(RowOf(2, kTwo), true);
    window_.controls[2]->SetChecked(RowOf(2, kFour), true);
    docActions_.RunOnTicked(Action::Delete);
    EXPECT_EQ(window_.actionWindows, 2);
    EXPECT_FALSE(fs::exists(PathOf(kTwo)));
    EXPECT_FALSE(fs::exists(PathOf(kFour)));
    EXPECT_EQ(Rows(0), "a:one.pdf");
    EXPECT_EQ(Rows(1), "a:one.pdf");
    EXPECT_EQ(Rows(2), "");
    EXPECT_EQ(window_.recounts, 2);
}

}  // namespace
}  // namespace ps_test
