// The document actions end to end over a copy of the shared corpus's folder
// of documents with personal information: a search, then delete, encrypt
// with each algorithm and except ticked documents, the single-document
// actions of a row's menu, and the hits window.
#include <sys/wait.h>
#include <unistd.h>

#include <QTimer>
#include <filesystem>
#include <set>

#include "../app_fixture.h"
#include "app/actiondlg.h"
#include "app/filereport.h"
#include "app/hitsdlg.h"
#include "app/pwconfirmdlg.h"
#include "core/docfiles.h"
#include "core/harrow.h"

namespace ps_test {
namespace {

namespace fs = std::filesystem;

std::u16string U(const std::string& s) { return plat::PathFromNative(s); }
std::string N(const std::u16string& s) { return plat::PathToNative(s); }

int Sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1 </dev/null").c_str()); }

class PiiActions : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        harrow::Harrow::ModulePathOverride() = U(std::string(PS_BINARY_DIR) + "/bin/harrow32.so");
        CPersonalInfoDlg::RunHook() = [this](CPersonalInfoDlg& d) {
            d.EnsureInitialized();
            hits_ = d.HitsEdit()->toPlainText().toStdU16String();
            return ps::ui::IDOK;
        };
    }
    void TearDown() override
    {
        CPersonalInfoDlg::RunHook() = nullptr;
        harrow::Harrow::ModulePathOverride().clear();
        AppTest::TearDown();
    }

    // The corpus copied, with one document alone in a sub-folder.
    bool CopyCorpus()
    {
        if (CorpusDir().empty() || !fs::exists(CorpusDir() + "/pii")) return false;
        root_ = dir_.file("pii");
        fs::copy(CorpusDir() + "/pii", root_, fs::copy_options::recursive);
        fs::create_directories(root_ + "/solo");
        fs::copy_file(root_ + "/pii_1_000_od.pdf", root_ + "/solo/only.pdf");
        return true;
    }

    void Search(CAllSearchDlg& dlg)
    {
        if (dlg.SearchEventId() == 0) {
            dlg.SetSearchMode(1);
            dlg.SetSearchOptions(0x7F, 0x1F, {U(root_)}, {});
            dlg.actionWindowRunner = RunToEnd;
            dlg.passwordWindowRunner = [this](CPasswordConfirmDlg& pw) {
                pw.EnsureInitialized();
                pw.AlgorithmList()->setCurrentIndex(algorithmIndex_);
                pw.PasswordEdit()->setText("corpus-pw");
                pw.ConfirmEdit()->setText("corpus-pw");
                pw.OnBnClickedOk();
                return pw.result();
            };
            dlg.show();
            ASSERT_TRUE(WaitFor([&] { return dlg.SearchEventId() != 0; }));
        } else {
            dlg.OnBnClickedButtonSearch();
        }
        ASSERT_TRUE(WaitIdle(dlg, 300000));
    }

    static std::vector<CFileInfoRecord*> DocumentRows(CFileReportControl* c)
    {
        std::vector<CFileInfoRecord*> rows;
        for (int f = 0; f < c->FolderRowCount(); ++f)
            for (int d = 0; CFileInfoRecord* r = c->DocumentRow(f, d); ++d) rows.push_back(r);
        return rows;
    }
    static std::set<std::u16string> Names(CFileReportControl* c)
    {
        std::set<std::u16string> names;
        for (CFileInfoRecord* r : DocumentRows(c)) names.emplace(r->FileInfo()->FileName());
        return names;
    }
    // Ticks n documents of the main folder not ticked or used before.
    std::vector<std::string> Tick(CFileReportControl* c, size_t n)
    {
        std::vector<std::string> paths;
        for (CFileInfoRecord* r : DocumentRows(c)) {
            if (paths.size() == n) break;
            const std::string p = N(r->GetFullPath());
            if (used_.count(p) || p.find("/solo/") != std::string::npos) continue;
            used_.insert(p);
            c->SetChecked(r, true);
            paths.push_back(p);
        }
        return paths;
    }
    std::string Original(const std::string& copy) { return ReadFileBytes(CorpusDir() + "/pii/" + fs::path(copy).filename().string()); }
    long long Events(int type) { return Count("SELECT COUNT(*) FROM EventInfo WHERE Type = " + std::to_string(type)); }
    long long RowsOf(int type)
    {
        return Count("SELECT COUNT(*) FROM FileEventLog WHERE EventID IN (SELECT EventID FROM EventInfo WHERE Type = " +
                     std::to_string(type) + ")");
    }

    std::string root_;
    std::set<std::string> used_;
    int algorithmIndex_ = 2;
    std::u16string hits_;
};

TEST_F(PiiActions, DeleteEncryptAndExceptTickedDocuments)
{
    if (!CopyCorpus()) GTEST_SKIP() << "no shared corpus";
    CAllSearchDlg dlg;
    Search(dlg);
    CFileReportControl* all = dlg.Report(CAllSearchDlg::kAll);
    ASSERT_GE(DocumentRows(all).size(), 14u);
    EXPECT_TRUE(dlg.ActionButton(CAllSearchDlg::IDC_DELETE)->isEnabled());

    // Nothing ticked.
    dlg.OnBnClickedDelete();
    EXPECT_EQ(messages_.back(), u"선택된 내용이 없습니다.");

    // Delete three.
    const size_t before = DocumentRows(all).size();
    std::vector<std::string> del = Tick(all, 3);
    dlg.OnBnClickedDelete();
    EXPECT_EQ(messages_.back(), u"문서를 삭제하시면 복구하실 수 없습니다.\n정말로 삭제하시겠습니까?");
    for (const auto& p : del) {
        EXPECT_FALSE(fs::exists(p)) << p;
        EXPECT_EQ(Names(all).count(U(fs::path(p).filename().string())), 0u);
    }
    EXPECT_EQ(DocumentRows(all).size(), before - 3);
    EXPECT_EQ(Events(0x1000), 1);
    EXPECT_EQ(Events(0x3000), 1);
    EXPECT_EQ(RowsOf(0x3000), 3);
    EXPECT_EQ(dlg.TabButton(CAllSearchDlg::kAll)->text(),
              QString::fromUtf16(u"전체(%1)").arg(DocumentRows(all).size()));

    // Encrypt three with each algorithm.
    const int ends[] = {0x300, 0x400, 0x500};
    for (int a = 0; a < 3; ++a) {
        SCOPED_TRACE(a);
        algorithmIndex_ = a;
        std::vector<std::string> enc = Tick(all, 3);
        dlg.OnBnClickedEncrypt();
        for (const auto& p : enc) {
            SCOPED_TRACE(p);
            EXPECT_FALSE(fs::exists(p));
            ASSERT_TRUE(fs::exists(p + ".zip"));
            EXPECT_EQ(Sh("7z t -pcorpus-pw '" + p + ".zip'"), 0);
            EXPECT_NE(Sh("7z t -pnot-it '" + p + ".zip'"), 0);
            const std::string out = dir_.file("out" + std::to_string(a));
            ASSERT_EQ(Sh("7z x -y -pcorpus-pw -o'" + out + "' '" + p + ".zip'"), 0);
            EXPECT_EQ(ReadFileBytes(out + "/" + fs::path(p).filename().string()), Original(p));
            EXPECT_EQ(Names(all).count(U(fs::path(p).filename().string())), 0u);
        }
        EXPECT_EQ(Events(0x100), a + 1);
        EXPECT_EQ(Events(ends[a]), 1);
        EXPECT_EQ(RowsOf(ends[a]), 3);
    }

    // Except two: their rows go, and the next search passes them by.
    std::vector<std::string> exc = Tick(all, 2);
    dlg.OnBnClickedExcept();
    EXPECT_EQ(Count("SELECT COUNT(*) FROM ExceptionInfo"), 2);
    EXPECT_EQ(Events(0x30000), 1);
    Search(dlg);
    const std::set<std::u16string> after = Names(all);
    for (const auto& p : exc) {
        EXPECT_TRUE(fs::exists(p));
        EXPECT_EQ(after.count(U(fs::path(p).filename().string())), 0u) << p;
    }
    for (const auto& p : del) EXPECT_EQ(after.count(U(fs::path(p).filename().string())), 0u);
    EXPECT_FALSE(after.empty());
}

TEST_F(PiiActions, RowMenuActionsHitsAndOpenDocuments)
{
    if (!CopyCorpus()) GTEST_SKIP() << "no shared corpus";
    CAllSearchDlg dlg;
    Search(dlg);
    CFileReportControl* all = dlg.Report(CAllSearchDlg::kAll);
    auto rowOf = [&](const std::string& path) -> CFileInfoRecord* {
        for (CFileInfoRecord* r : DocumentRows(all))
            if (N(r->GetFullPath()) == path) return r;
        return nullptr;
    };
    auto choose = [&](int command, CFileInfoRecord* row) {
        all->menuChooser = [command](const std::vector<std::pair<int, bool>>& items) {
            for (auto& [id, enabled] : items) {
                if (id == command) {
                    EXPECT_TRUE(enabled) << id;
                }
            }
            return command;
        };
        all->ShowContextMenu(row, QPoint(0, 0));
    };

    // The hits window shows the document's masked hits.
    CFileInfoRecord* first = rowOf(root_ + "/pii_1_000_od.pdf");
    ASSERT_NE(first, nullptr);
    choose(10001, first);
    EXPECT_NE(hits_.find(u"[주민번호]"), std::u16string::npos);
    EXPECT_NE(hits_.find(u"****"), std::u16string::npos);

    // A document held open elsewhere refuses the delete.
    const std::string held = root_ + "/pii_1_001_od.pdf";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execlp("sh", "sh", "-c", ("exec 3<'" + held + "'; sleep 30").c_str(), nullptr);
        _exit(127);
    }
    ASSERT_TRUE(WaitFor([&] { return IsDocumentOpenElsewhere(U(held)); }, 5000));
    choose(10003, rowOf(held));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(messages_.back(), u"삭제 처리할 문서 1개가 열려 있습니다.\n열려 있는 문서는 삭제할 수 없습니다.\n문서 종료 후 다시 시도 하시기 바랍니다.");
    EXPECT_TRUE(fs::exists(held));
    EXPECT_NE(rowOf(held), nullptr);

    // The only document of its folder: its folder row goes with it.
    const int folders = all->FolderRowCount();
    const std::string solo = root_ + "/solo/only.pdf";
    ASSERT_NE(rowOf(solo), nullptr);
    choose(10003, rowOf(solo));
    EXPECT_FALSE(fs::exists(solo));
    EXPECT_EQ(rowOf(solo), nullptr);
    EXPECT_EQ(all->FolderRowCount(), folders - 1);

    // Encrypt and except one document from the menu.
    const std::string enc = root_ + "/pii_1_002_od.pdf";
    choose(10002, rowOf(enc));
    EXPECT_TRUE(fs::exists(enc + ".zip"));
    EXPECT_EQ(rowOf(enc), nullptr);
    const std::string exc = root_ + "/pii_1_003_od.pdf";
    choose(10004, rowOf(exc));
    EXPECT_EQ(rowOf(exc), nullptr);
    EXPECT_TRUE(fs::exists(exc));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM ExceptionInfo"), 1);
    EXPECT_EQ(Events(0x3000), 1);
    EXPECT_EQ(Events(0x500), 1);
    EXPECT_EQ(Events(0x30000), 1);

    // A cancelled password window removes nothing.
    dlg.passwordWindowRunner = [](CPasswordConfirmDlg&) { return ps::ui::IDCANCEL; };
    const std::string kept = root_ + "/pii_1_004_od.pdf";
    choose(10002, rowOf(kept));
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_NE(rowOf(kept), nullptr);
}

}  // namespace
}  // namespace ps_test
