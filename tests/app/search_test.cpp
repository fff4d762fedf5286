// The search window end to end: a user search over a folder of small
// documents, the stored results taken by the second search, stop and close
// during a search, and the document key.
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/actiondlg.h"
#include "app/filereport.h"
#include "app/hitsdlg.h"
#include "app_fixture.h"
#include "core/registry.h"
#include "extract/pdf/pdf_builder.h"
#include "search/extractors.h"
#include "core/crypt.h"
#include "platform/codec.h"
#include <atomic>
#include <chrono>
#include <functional>
#include <fcntl.h>
#include <memory>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "core/eventstore/eventtables.h"
#include "support/storefaults.h"

namespace ps_test {
namespace {

// A valid resident registration number (check digit 0) and a telephone number.
const char kResident[] = "800101-1234560";
const char kPhone[] = "010-2345-6789";

std::u16string U(const std::string& s) { return plat::PathFromNative(s); }

void WritePdf(const std::string& path, const std::vector<std::string>& lines)
{
    ASSERT_TRUE(WriteFileBytes(path, pdf_test::MakePdf({pdf_test::ShowLines(lines)})));
}

// A PDF reader that takes its time, so that a stop or a close surely comes
// while the analysis runs.
EntryResult SlowPdf(const char16_t*, const char16_t*, std::u16string* text, ReadError*)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!text) return EntryResult::Failed;
    *text = u"ID 800101-1234560\n";
    return EntryResult::Read;
}

// The program's readers with the slow PDF reader, for a window's searches.
ExtractorTable SlowReaders()
{
    ExtractorTable t = DefaultExtractorTable();
    t.pdf = &SlowPdf;
    return t;
}

class SearchWindowTest : public AppTest {
protected:
    // docs/a/one.pdf (resident + phone), docs/a/clean.pdf (nothing),
    // docs/B/two.pdf (resident), docs/b/three.pdf (phone): folders differing
    // only in case are separate folder rows.
    std::string MakeDocs()
    {
        const std::string root = dir_.file("docs");
        for (const char* d : {"a", "B", "b"}) std::filesystem::create_directories(root + "/" + d);
        WritePdf(root + "/a/one.pdf", {std::string("ID ") + kResident, std::string("Tel ") + kPhone});
        WritePdf(root + "/a/clean.pdf", {"nothing personal here"});
        WritePdf(root + "/B/two.pdf", {std::string("ID ") + kResident});
        WritePdf(root + "/b/three.pdf", {std::string("Tel ") + kPhone});
        return root;
    }
    // A user search of root for every kind, shown, started and run to its end.
    void SearchToTheEnd(CAllSearchDlg& dlg, const std::string& root)
    {
        dlg.SetSearchMode(1);
        dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
        dlg.show();
        ASSERT_TRUE(WaitFor([&] { return dlg.SearchEventId() != 0; }));
        ASSERT_TRUE(WaitIdle(dlg));
    }
    // A folder of count documents holding the one line each.
    std::string MakeMany(const char* name, int count, const std::string& line)
    {
        const std::string root = dir_.file(name);
        std::filesystem::create_directories(root);
        for (int i = 0; i < count; ++i)
            WritePdf(root + "/doc" + std::to_string(i) + ".pdf", {line});
        return root;
    }
};

TEST_F(SearchWindowTest, UserSearchFindsStoresAndReusesResults)
{
    const std::string root = MakeDocs();
    CAllSearchDlg dlg;
    ASSERT_NO_FATAL_FAILURE(SearchToTheEnd(dlg, root));

    // Extensions handed to the engine, sorted.
    EXPECT_EQ(dlg.Extensions(), (std::vector<std::u16string>{u"DOC", u"DOCX", u"HWP", u"PDF", u"PPT", u"PPTX", u"XLS", u"XLSX"}));
    EXPECT_EQ(dlg.FoundCount(), 4u);
    EXPECT_EQ(dlg.TabCount(CAllSearchDlg::kAll), 3);
    EXPECT_EQ(dlg.TabCount(CAllSearchDlg::kPdf), 3);
    EXPECT_EQ(dlg.TabCount(CAllSearchDlg::kHwp), 0);
    EXPECT_EQ(dlg.TabButton(CAllSearchDlg::kAll)->text(), QString::fromUtf16(u"전체(3)"));
    CFileReportControl* all = dlg.Report(CAllSearchDlg::kAll);
    EXPECT_EQ(all->FolderRowCount(), 3);  // a, B and b
    EXPECT_EQ(all->DocumentRowCount(), 3);
    EXPECT_EQ(dlg.Report(CAllSearchDlg::kPdf)->FolderRowCount(), 3);
    EXPECT_EQ(dlg.Report(CAllSearchDlg::kDoc)->FolderRowCount(), 0);
    EXPECT_EQ(dlg.SearchTotal(kPersonalInfoResidentNumber), 2);
    EXPECT_EQ(dlg.SearchTotal(kPersonalInfoPhoneNumber), 2);
    EXPECT_EQ(dlg.SearchTotal(7 + 4), 3);  // three PDF documents with hits

    // The row of one.pdf shows its counts.
    bool seenOne = false;
    for (int f = 0; f < all->FolderRowCount(); ++f)
        for (int d = 0; all->DocumentRow(f, d); ++d) {
            CFileInfoRecord* row = all->DocumentRow(f, d);
            if (row->FileInfo()->FileName() != u"one.pdf") continue;
            seenOne = true;
            EXPECT_EQ(row->ItemText(2), u"1 건");
            EXPECT_EQ(row->ItemText(5), u"1 건");
            EXPECT_EQ(row->ItemText(3), u"");
            EXPECT_EQ(row->GetFullPath(), U(root + "/a/one.pdf"));
        }
    EXPECT_TRUE(seenOne);

    // Start event 4, end event 6 with the totals, the completion message.
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 4"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 6"), 1);
    EXPECT_EQ(Count("SELECT ID FROM SearchEventLog"), 2);
    EXPECT_EQ(Count("SELECT PhoneNumber FROM SearchEventLog"), 2);
    EXPECT_EQ(Count("SELECT PDF FROM SearchEventLog"), 3);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo"), 4);  // the clean document too
    EXPECT_EQ(Count("SELECT COUNT(*) FROM PersonalInfo"), 4);
    ASSERT_FALSE(messages_.empty());
    EXPECT_EQ(messages_.back(), u"검색이 완료되었습니다.");
    EXPECT_EQ(ReadLastCheckFile(), u"");
    EXPECT_EQ(ReadRegistryDword(kRunKey, 0, u"findPSInfoFlag"), 0x7Fu);
    EXPECT_EQ(dlg.DetailLine()->text(), QString::fromUtf16(u"3개의 문서에서 4개의 개인정보 발견됨"));

    // The second search of the same folder takes the stored results.
    dlg.OnBnClickedButtonSearch();
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo"), 4);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 6"), 2);
    EXPECT_EQ(dlg.TabCount(CAllSearchDlg::kAll), 3);
    EXPECT_EQ(all->DocumentRowCount(), 3);
    CFileInfoRecord* first = all->DocumentRow(0, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->FileInfo()->fromEventStore, 1u);
    EXPECT_GT(first->FileInfo()->fileIndex, 0);

    // Another mask is another document key: analysed again.
    CAllSearchDlg other;
    other.SetSearchMode(1);
    other.SetSearchOptions(0x01, 0x10, {U(root)}, {U(root + "/b")});
    other.show();
    ASSERT_TRUE(WaitFor([&] { return other.SearchEventId() != 0; }));
    ASSERT_TRUE(WaitIdle(other));
    EXPECT_EQ(other.Extensions(), std::vector<std::u16string>{u"PDF"});
    EXPECT_EQ(other.FoundCount(), 3u);  // b excluded
    EXPECT_EQ(other.TabCount(CAllSearchDlg::kAll), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo"), 7);
}

TEST_F(SearchWindowTest, DocumentRowsCarryTheSearchsKindsToTheirHitsWindow)
{
    // The rows keep the mask of the search that found them; a double-click
    // on a document's name shows its hits of those kinds only.
    const std::string root = MakeDocs();
    CAllSearchDlg dlg;
    dlg.SetSearchMode(1);
    dlg.SetSearchOptions(0x05, 0x1F, {U(root)}, {});
    dlg.resize(900, 600);
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return dlg.SearchEventId() != 0; }));
    ASSERT_TRUE(WaitIdle(dlg));
    CFileReportControl* all = dlg.Report(CAllSearchDlg::kAll);
    ASSERT_GT(all->DocumentRowCount(), 0);
    for (int f = 0; f < all->FolderRowCount(); ++f)
        for (int d = 0; CFileInfoRecord* row = all->DocumentRow(f, d); ++d) EXPECT_EQ(row->PersonalInfoMask(), 0x05u);

    std::vector<uint32_t> shown;
    CPersonalInfoDlg::RunHook() = [&](CPersonalInfoDlg& hits) {
        shown.push_back(hits.PersonalInfoMask());
        return ps::ui::IDOK;
    };
    CFileInfoRecord* row = all->DocumentRow(0, 0);
    all->scrollTo(all->IndexOf(row));
    const QModelIndex name = all->IndexOf(row).siblingAtColumn(1);
    QTest::mouseDClick(all->viewport(), Qt::LeftButton, {}, all->visualRect(name).center());
    CPersonalInfoDlg::RunHook() = nullptr;
    EXPECT_EQ(shown, std::vector<uint32_t>{0x05u});
}

TEST_F(SearchWindowTest, AnEventStoreThatCannotBeReadLetsTheSearchFinish)
{
    // Stored results and the exception list cannot be read: every document
    // is read again and shown, and the search ends as usual.
    const std::string root = MakeDocs();
    {
        RawDb db(dbPath_);
        db.Exec("DROP TABLE PersonalInfo");
        db.Exec("DROP TABLE ExceptionInfo");
    }
    CAllSearchDlg dlg;
    ASSERT_NO_FATAL_FAILURE(SearchToTheEnd(dlg, root));
    EXPECT_EQ(dlg.TabCount(CAllSearchDlg::kAll), 3);
    EXPECT_EQ(dlg.SearchTotal(kPersonalInfoResidentNumber), 2);
    EXPECT_EQ(dlg.SearchTotal(kPersonalInfoPhoneNumber), 2);
    ASSERT_FALSE(messages_.empty());
    EXPECT_EQ(messages_.back(), u"검색이 완료되었습니다.");
}

TEST_F(SearchWindowTest, StopDuringAnalysisEndsCleanly)
{
    const std::string root = MakeMany("many", 150, std::string("ID ") + kResident);
    CAllSearchDlg dlg;
    dlg.SetReaders(SlowReaders());
    dlg.SetSearchMode(1);
    dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return dlg.AnalysisRunning(); }));
    ASSERT_TRUE(WaitFor([&] { return !ReadLastCheckFile().empty() || !dlg.AnalysisRunning(); }));

    // Declining the question changes nothing.
    answer_ = ps::ui::IDCANCEL;
    dlg.OnBnClickedButtonSearch();
    EXPECT_FALSE(dlg.IsIdle());
    answer_ = ps::ui::IDOK;
    dlg.OnBnClickedButtonSearch();
    EXPECT_TRUE(dlg.IsIdle());
    EXPECT_FALSE(dlg.AnalysisRunning());
    ASSERT_TRUE(WaitIdle(dlg));
    for (int i = 0; i < 50; ++i) QApplication::processEvents();
    EXPECT_EQ(ReadLastCheckFile(), u"");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 4"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 5"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 6"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SearchEventLog"), 1);
    EXPECT_EQ(dlg.StatusLine()->text(), QString::fromUtf16(u"검색이 취소되었습니다."));
    // The rows shown so far agree with the totals written.
    EXPECT_EQ(Count("SELECT ID FROM SearchEventLog"), dlg.SearchTotal(kPersonalInfoResidentNumber));
    EXPECT_LT(dlg.TabCount(CAllSearchDlg::kAll), 150);
    EXPECT_EQ(dlg.Report(CAllSearchDlg::kAll)->DocumentRowCount(), dlg.TabCount(CAllSearchDlg::kAll));
}

TEST_F(SearchWindowTest, CloseDuringSearchWritesOneEndEvent)
{
    const std::string root = MakeMany("many", 150, std::string("Tel ") + kPhone);
    {
        CAllSearchDlg dlg;
        dlg.SetReaders(SlowReaders());
        dlg.SetSearchMode(1);
        dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
        dlg.show();
        ASSERT_TRUE(WaitFor([&] { return dlg.AnalysisRunning(); }));
        dlg.reject();
        EXPECT_TRUE(dlg.IsIdle());
        EXPECT_FALSE(dlg.AnalysisRunning());
        // A second close after the cancel writes nothing more.
        dlg.reject();
    }
    for (int i = 0; i < 50; ++i) QApplication::processEvents();
    EXPECT_EQ(ReadLastCheckFile(), u"");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 5"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type IN (3, 6, 2)"), 0);
}

// An action leaves no trace of a finished document in any tab: deleted from
// the PDF tab, it leaves 전체 too; a document that vanished meanwhile is not
// handled (no action row for it) and leaves every tab as well.
TEST_F(SearchWindowTest, ActedOnOrVanishedDocumentsLeaveEveryTab)
{
    const std::string root = MakeDocs();
    CAllSearchDlg dlg;
    ASSERT_NO_FATAL_FAILURE(SearchToTheEnd(dlg, root));
    int notHandled = -1;
    QString reason;
    dlg.actionWindowRunner = [&](CDocumentActionDlg& action) {
        QTimer t;
        QObject::connect(&t, &QTimer::timeout, [&] {
            if (action.isVisible() && action.Finished()) action.OnBnClickedStop();  // the close button now
        });
        t.start(2);
        const int result = action.DoModal();
        notHandled = action.NotHandled();
        reason = action.ReasonLine()->isHidden() ? QString() : action.ReasonLine()->toolTip();
        return result;
    };
    auto tick = [&](int tab, const std::vector<const char*>& names) {
        CFileReportControl* control = dlg.Report(tab);
        for (int f = 0; f < control->FolderRowCount(); ++f)
            for (int d = 0; CFileInfoRecord* row = control->DocumentRow(f, d); ++d)
                for (const char* name : names)
                    if (row->GetFullPath() == U(root + "/" + name)) control->SetChecked(row, true);
    };
    auto rows = [&](int tab) { return dlg.Report(tab)->DocumentRowCount(); };
    auto caption = [&](int tab) { return dlg.TabButton(tab)->text(); };
    const long long logged = Count("SELECT COUNT(*) FROM FileEventLog");

    const struct {
        const char* name;
        int tab;
        std::vector<const char*> tick;
        const char* vanished;  // removed behind the program's back first
        void (CAllSearchDlg::*act)();
        int left, notHandled, newRows;
    } steps[] = {
        {"delete two from the PDF tab", CAllSearchDlg::kPdf, {"a/one.pdf", "B/two.pdf"}, nullptr,
         &CAllSearchDlg::OnBnClickedDelete, 1, 0, 2},
        {"except a vanished one from 전체", CAllSearchDlg::kAll, {"b/three.pdf"}, "b/three.pdf",
         &CAllSearchDlg::OnBnClickedExcept, 0, 1, 0},
    };
    long long expectedRows = logged;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.vanished) std::filesystem::remove(root + "/" + step.vanished);
        dlg.SelectTab(step.tab);
        tick(step.tab, step.tick);
        notHandled = -1;
        (dlg.*step.act)();
        EXPECT_EQ(notHandled, step.notHandled);
        if (step.notHandled) {
            EXPECT_TRUE(reason.contains(QString::fromUtf16(u"파일을 찾을 수 없음"))) << reason.toStdString();
        }
        for (int tab : {int(CAllSearchDlg::kAll), int(CAllSearchDlg::kPdf)}) {
            SCOPED_TRACE(tab);
            EXPECT_EQ(rows(tab), step.left);
            EXPECT_EQ(dlg.Report(tab)->FolderRowCount(), step.left);  // no folder row left empty
        }
        EXPECT_EQ(caption(CAllSearchDlg::kAll), QString::fromUtf16(u"전체(%1)").arg(step.left));
        EXPECT_TRUE(caption(CAllSearchDlg::kPdf).endsWith(QString("(%1)").arg(step.left)));
        expectedRows += step.newRows;
        EXPECT_EQ(Count("SELECT COUNT(*) FROM FileEventLog"), expectedRows);
    }
    EXPECT_FALSE(std::filesystem::exists(root + "/a/one.pdf"));
    EXPECT_TRUE(std::filesystem::exists(root + "/a/clean.pdf"));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM ExceptionInfo"), 0);
}

TEST_F(SearchWindowTest, StopAnsweredAfterTheSearchCompletedCancelsNothing)
{
    const std::string root = MakeMany("some", 40, std::string("ID ") + kResident);
    CAllSearchDlg dlg;
    dlg.SetReaders(SlowReaders());
    dlg.SetSearchMode(1);
    dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return dlg.SearchEventId() != 0; }));
    bool asked = false;
    ps::ui::Seams().messageBox = [&](const std::u16string& text, const std::u16string&, int, QWidget*) {
        messages_.push_back(text);
        if (text == u"검색을 종료하시겠습니까?") {
            asked = true;
            // The search ends while the user reads the question.
            EXPECT_TRUE(WaitIdle(dlg));
        }
        return ps::ui::IDOK;
    };
    if (dlg.IsIdle()) GTEST_SKIP() << "the search ended before the stop";
    dlg.OnBnClickedButtonSearch();
    ASSERT_TRUE(asked);
    for (int i = 0; i < 50; ++i) QApplication::processEvents();
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 6"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type IN (2, 3, 5)"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SearchEventLog"), 1);
    EXPECT_EQ(dlg.StatusLine()->text(), QString::fromUtf16(u"개인정보 검색 완료"));
    EXPECT_EQ(ReadLastCheckFile(), u"");
}

TEST_F(SearchWindowTest, ShowingAgainStartsNoSecondSearch)
{
    const std::string root = MakeDocs();
    CAllSearchDlg dlg;
    ASSERT_NO_FATAL_FAILURE(SearchToTheEnd(dlg, root));
    dlg.hide();
    dlg.show();
    for (int i = 0; i < 50; ++i) QApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 4"), 1);
}

// The window's timers only show: with every one of them gone from the start
// on, the session still goes from its walk to its analysis and completes,
// and the window shows the completion it is told of.
TEST_F(SearchWindowTest, TheSearchCompletesWhateverTheWindowsTimersDo)
{
    const std::string root = MakeDocs();
    CAllSearchDlg dlg;
    dlg.SetSearchMode(1);
    dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return dlg.SearchEventId() != 0; }));
    for (int id : {CAllSearchDlg::IDT_ELAPSED_TIME, CAllSearchDlg::IDT_SEARCH_PROGRESS, CAllSearchDlg::IDT_FILE_COUNT,
                   CAllSearchDlg::IDT_ANALYSIS_PROGRESS, CAllSearchDlg::IDT_SEARCH_DELAY})
        dlg.KillTimer(id);
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 6"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type IN (2, 3, 5)"), 0);
    EXPECT_EQ(dlg.TabCount(CAllSearchDlg::kAll), 3);
    EXPECT_EQ(dlg.Report(CAllSearchDlg::kAll)->DocumentRowCount(), 3);
    EXPECT_EQ(dlg.StatusLine()->text(), QString::fromUtf16(u"개인정보 검색 완료"));
    ASSERT_FALSE(messages_.empty());
    EXPECT_EQ(messages_.back(), u"검색이 완료되었습니다.");
}

TEST_F(SearchWindowTest, CloseDuringTheCompletionMessageWritesNoSecondEndEvent)
{
    const std::string root = MakeDocs();
    CAllSearchDlg dlg;
    dlg.SetSearchMode(1);
    dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
    bool closedDuringMessage = false;
    ps::ui::Seams().messageBox = [&](const std::u16string& text, const std::u16string&, int, QWidget*) {
        messages_.push_back(text);
        if (text == u"검색이 완료되었습니다.") {
            EXPECT_TRUE(dlg.IsIdle());
            dlg.reject();  // the user closes the window meanwhile
            closedDuringMessage = true;
        }
        return ps::ui::IDOK;
    };
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return closedDuringMessage; }));
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 6"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type IN (2, 3, 5)"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SearchEventLog"), 1);
    EXPECT_EQ(ReadLastCheckFile(), u"");
}

// The window that owns a search window: counts the close requests the
// search window passes on.
class Owner : public ps::ui::CSkinDialog {
public:
    int closes = 0;

protected:
    void OnClose() override
    {
        ++closes;
        EndDialog(ps::ui::IDCANCEL);
    }
};

TEST_F(SearchWindowTest, CloseRequestDuringSearchStopsClosesAndEndsTheOwner)
{
    const std::string root = MakeMany("many", 150, std::string("Tel ") + kPhone);
    Owner owner;
    owner.show();
    CAllSearchDlg dlg(&owner);
    dlg.SetReaders(SlowReaders());
    dlg.SetSearchMode(1);
    dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return dlg.AnalysisRunning(); }));

    // Declined: the search and the window go on.
    answer_ = ps::ui::IDCANCEL;
    EXPECT_FALSE(dlg.close());
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_FALSE(dlg.IsIdle());
    EXPECT_TRUE(dlg.IsSearching());

    // Confirmed (Alt+F4, the window manager's close): stopped, one end
    // event, the window gone and its owner asked to close.
    answer_ = ps::ui::IDOK;
    EXPECT_TRUE(dlg.close());
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(dlg.IsIdle());
    EXPECT_FALSE(dlg.IsSearching());
    EXPECT_FALSE(dlg.AnalysisRunning());
    ASSERT_TRUE(WaitFor([&] { return owner.closes == 1; }, 2000));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 5"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type IN (2, 3, 6)"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SearchEventLog"), 1);
    EXPECT_EQ(ReadLastCheckFile(), u"");
    EXPECT_EQ(dlg.StatusLine()->text(), QString::fromUtf16(u"검색이 취소되었습니다."));

    // The window's own close button takes the same stop but leaves the
    // owner open: the user goes back to the main window.
    Owner other;
    other.show();
    CAllSearchDlg second(&other);
    second.SetReaders(SlowReaders());
    second.SetSearchMode(1);
    second.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
    second.show();
    ASSERT_TRUE(WaitFor([&] { return second.AnalysisRunning(); }));
    second.OnBnClickedClose();
    EXPECT_FALSE(second.isVisible());
    EXPECT_EQ(second.result(), ps::ui::IDOK);
    EXPECT_FALSE(second.AnalysisRunning());
    for (int i = 0; i < 20; ++i) QApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(other.closes, 0);
    EXPECT_TRUE(other.isVisible());
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 5"), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SearchEventLog"), 2);
}

// The search completes while the stop question is open, on every path
// that asks: the question goes (its late answer is not taken), the
// completion message comes after it, never on top of it, the window stays
// with its results and its owner is not closed.
TEST_F(SearchWindowTest, CompletionWhileTheStopQuestionIsOpenNeverStacksOrCloses)
{
    const std::string root = MakeMany("some", 40, std::string("ID ") + kResident);
    const struct {
        const char* name;
        std::function<void(CAllSearchDlg&)> ask;
    } paths[] = {
        {"close request (Alt+F4, the manager's close)", [](CAllSearchDlg& d) { d.close(); }},
        {"the window's own close button", [](CAllSearchDlg& d) { d.OnBnClickedClose(); }},
        {"the stop button", [](CAllSearchDlg& d) { d.OnBnClickedButtonSearch(); }},
    };
    int run = 0;
    for (const auto& path : paths) {
        SCOPED_TRACE(path.name);
        ++run;
        Owner owner;
        owner.show();
        CAllSearchDlg dlg(&owner);
        dlg.SetReaders(SlowReaders());
        dlg.SetSearchMode(1);
        dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
        int open = 0, mostOpen = 0, questions = 0;
        std::vector<std::u16string> shown;
        ps::ui::Seams().messageBox = [&](const std::u16string& text, const std::u16string&, int, QWidget*) {
            mostOpen = std::max(mostOpen, ++open);
            shown.push_back(text);
            if (text == u"검색을 종료하시겠습니까?") {
                // The search ends while the user reads the question; a
                // second close meanwhile asks nothing more.
                if (++questions == 1) dlg.close();
                EXPECT_TRUE(WaitFor([&] { return dlg.IsIdle(); }));
            }
            --open;
            return ps::ui::IDOK;  // the stale question's OK
        };
        dlg.show();
        ASSERT_TRUE(WaitFor([&] { return dlg.SearchEventId() != 0; }));
        if (dlg.IsIdle()) GTEST_SKIP() << "the search ended before the question";
        path.ask(dlg);
        for (int i = 0; i < 20; ++i) QApplication::processEvents(QEventLoop::AllEvents, 5);
        EXPECT_EQ(questions, 1);
        EXPECT_EQ(mostOpen, 1);
        EXPECT_EQ(shown, (std::vector<std::u16string>{u"검색을 종료하시겠습니까?", u"검색이 완료되었습니다."}));
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_TRUE(dlg.IsIdle());
        EXPECT_EQ(owner.closes, 0);
        EXPECT_TRUE(owner.isVisible());
        EXPECT_EQ(dlg.StatusLine()->text(), QString::fromUtf16(u"개인정보 검색 완료"));
        EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 6"), run);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type IN (2, 3, 5)"), 0);
        dlg.hide();
    }
}

TEST_F(SearchWindowTest, SessionEndStopsWithoutAskingAndDestructionWritesTheEndEvent)
{
    const std::string root = MakeMany("many", 150, std::string("ID ") + kResident);
    {
        CAllSearchDlg dlg;
        dlg.SetReaders(SlowReaders());
        dlg.SetSearchMode(1);
        dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
        dlg.show();
        ASSERT_TRUE(WaitFor([&] { return dlg.AnalysisRunning(); }));
        answer_ = ps::ui::IDCANCEL;  // nobody is there to answer
        ps::ui::EndSession();
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_TRUE(dlg.IsIdle());
        EXPECT_FALSE(dlg.AnalysisRunning());
    }
    ps::ui::Seams().sessionEnding = false;
    for (const auto& m : messages_) EXPECT_NE(m, u"검색을 종료하시겠습니까?");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 5"), 1);

    // A window destroyed under its running search still ends it once.
    {
        CAllSearchDlg dlg;
        dlg.SetReaders(SlowReaders());
        dlg.SetSearchMode(1);
        dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
        dlg.show();
        ASSERT_TRUE(WaitFor([&] { return dlg.AnalysisRunning(); }));
    }
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 5"), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 4"), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SearchEventLog"), 2);
}

// The PDF reader of the program, after a pause that depends on the path, so
// that documents read on several workers finish out of their order.
ExtractEntry g_realPdf = nullptr;
EntryResult JitteryPdf(const char16_t* path, const char16_t* options, std::u16string* text, ReadError* failure)
{
    size_t h = std::hash<std::u16string>()(path ? std::u16string(path) : std::u16string());
    std::this_thread::sleep_for(std::chrono::microseconds(h % 4000));
    return g_realPdf(path, options, text, failure);
}

// The program's readers with the jittery PDF reader, for a window's searches.
ExtractorTable JitteryReaders()
{
    ExtractorTable t = DefaultExtractorTable();
    g_realPdf = t.pdf;
    t.pdf = &JitteryPdf;
    return t;
}

// Every row of a query, columns separated by tabs.
std::vector<std::string> Rows(const std::string& dbPath, const std::string& sql)
{
    RawDb db(dbPath);
    std::vector<std::string> rows;
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
    while (st && sqlite3_step(st) == SQLITE_ROW) {
        std::string row;
        for (int c = 0; c < sqlite3_column_count(st); ++c) {
            const unsigned char* t = sqlite3_column_text(st, c);
            row += (c ? "\t" : "") + (t ? std::string(reinterpret_cast<const char*>(t)) : std::string("NULL"));
        }
        rows.push_back(row);
    }
    sqlite3_finalize(st);
    return rows;
}

// What one search left: the rows of every result control in their order,
// the counts, the end event's totals, the stored rows and hits.
struct SearchOutcome {
    std::vector<std::string> shown;
    std::vector<int> counts;
    std::string detail;
    std::vector<std::string> stored, hits, totals;
    size_t found = 0;
    bool operator==(const SearchOutcome&) const = default;
};

TEST_F(SearchWindowTest, SeveralWorkersGiveWhatOneGives)
{
    // Four folders of documents: with hits of several kinds, clean and
    // damaged (no row, no stored result).
    const std::string root = dir_.file("mixed");
    const std::vector<std::string> lines = {std::string("ID ") + kResident, std::string("Tel ") + kPhone,
                                            "mail kim@example.co.kr", "nothing personal here",
                                            std::string("ID ") + kResident + " Tel " + kPhone};
    for (const char* d : {"a", "b", "c/d", "e"}) std::filesystem::create_directories(root + "/" + d);
    int made = 0;
    for (const char* d : {"a", "b", "c/d", "e"})
        for (int i = 0; i < 30; ++i, ++made) {
            const std::string path = root + "/" + d + "/doc" + std::to_string(i) + ".pdf";
            if (made % 11 == 7)
                ASSERT_TRUE(WriteFileBytes(path, std::string("%PDF-1.4 damaged")));
            else
                WritePdf(path, {lines[static_cast<size_t>(made) % lines.size()], "line " + std::to_string(made)});
        }

    auto run = [&](unsigned workers, const std::string& db) {
        ExitEventDatabase();
        CopyTemplateDatabase(plat::PathFromNative(BuiltTemplatePath()), plat::PathFromNative(db));
        OpenEventDatabase(plat::PathFromNative(db));
        SearchOutcome out;
        // A first search stores the results of one folder, which the
        // second takes from the event store.
        for (const std::vector<std::u16string>& include :
             {std::vector<std::u16string>{U(root + "/b")}, std::vector<std::u16string>{U(root)}}) {
            CAllSearchDlg dlg;
            dlg.SetReaders(JitteryReaders());
            dlg.SetAnalysisWorkers(workers);
            dlg.SetSearchMode(1);
            dlg.SetSearchOptions(0x7F, 0x1F, include, {});
            dlg.show();
            EXPECT_TRUE(WaitFor([&] { return dlg.SearchEventId() != 0; }));
            EXPECT_TRUE(WaitIdle(dlg));
            out.found += dlg.FoundCount();
            for (int tab = 0; tab < CAllSearchDlg::kTabCount; ++tab) {
                CFileReportControl* c = dlg.Report(tab);
                out.counts.push_back(dlg.TabCount(tab));
                for (int f = 0; f < c->FolderRowCount(); ++f) {
                    out.shown.push_back(std::to_string(tab) + " folder " +
                                        plat::PathToNative(c->FolderRow(f)->GetFolderPath()));
                    for (int d = 0; CFileInfoRecord* row = c->DocumentRow(f, d); ++d) {
                        std::string r = plat::PathToNative(row->GetFullPath());
                        for (int item = 0; item < CFileInfoRecord::kItemCount; ++item)
                            r += "\t" + plat::PathToNative(row->ItemText(item));
                        r += "\t" + std::to_string(row->FileInfo()->fromEventStore) + "\t" +
                             std::to_string(row->FileInfo()->fileIndex);
                        out.shown.push_back(r);
                    }
                }
            }
            for (int i = 0; i < 12; ++i) out.counts.push_back(dlg.SearchTotal(i));
            out.detail += dlg.DetailLine()->text().toStdString() + "\n";
            EXPECT_EQ(ReadLastCheckFile(), u"");
        }
        out.stored = Rows(db, "SELECT * FROM FileInfo ORDER BY FileIndex");
        out.hits = Rows(db, "SELECT * FROM PersonalInfo ORDER BY rowid");
        out.totals = Rows(db, "SELECT * FROM SearchEventLog ORDER BY rowid");
        return out;
    };
    const SearchOutcome one = run(1, dir_.file("one.db"));
    const SearchOutcome several = run(6, dir_.file("several.db"));
    // The damaged documents were read in both searches and left no row.
    EXPECT_EQ(one.found, 30u + 120u);
    EXPECT_GT(one.hits.size(), 50u);
    EXPECT_EQ(one.stored.size(), 120u - 11u);
    EXPECT_EQ(one.shown, several.shown);
    EXPECT_EQ(one.counts, several.counts);
    EXPECT_EQ(one.detail, several.detail);
    EXPECT_EQ(one.stored, several.stored);
    EXPECT_EQ(one.hits, several.hits);
    EXPECT_EQ(one.totals, several.totals);
}

// A PDF reader that counts the documents being read and takes its time.
std::atomic<int> g_reading{0};
std::atomic<int> g_started{0};
EntryResult CountingPdf(const char16_t*, const char16_t*, std::u16string* text, ReadError*)
{
    ++g_reading;
    ++g_started;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    --g_reading;
    if (!text) return EntryResult::Failed;
    *text = u"ID 800101-1234560\n";
    return EntryResult::Read;
}

TEST_F(SearchWindowTest, StopDuringAParallelSearchLeavesNoWorkerAndNoMark)
{
    ExtractorTable readers = DefaultExtractorTable();
    readers.pdf = &CountingPdf;
    const std::string root = MakeMany("many", 300, std::string("ID ") + kResident);
    CAllSearchDlg dlg;
    dlg.SetReaders(readers);
    dlg.SetAnalysisWorkers(4);
    dlg.SetSearchMode(1);
    dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
    dlg.show();
    // Several documents in flight: the mark names each, one a line, every
    // line a document of the folder.
    ASSERT_TRUE(WaitFor([&] { return dlg.AnalysisRunning(); }));
    std::u16string mark;
    ASSERT_TRUE(WaitFor([&] {
        mark = ReadLastCheckFile();
        return mark.find(u'\n') != std::u16string::npos || !dlg.AnalysisRunning();
    }));
    ASSERT_TRUE(dlg.AnalysisRunning());
    size_t lines = 0;
    for (size_t at = 0; at <= mark.size();) {
        const size_t end = std::min(mark.find(u'\n', at), mark.size());
        EXPECT_EQ(mark.compare(at, U(root).size() + 1, U(root) + u"/"), 0) << plat::PathToNative(mark);
        ++lines;
        at = end + 1;
    }
    EXPECT_GE(lines, 2u);
    EXPECT_LE(lines, 4u);

    dlg.OnBnClickedButtonSearch();  // stop, confirmed
    EXPECT_TRUE(dlg.IsIdle());
    EXPECT_FALSE(dlg.AnalysisRunning());
    EXPECT_EQ(g_reading.load(), 0);
    const int started = g_started.load();
    EXPECT_LT(started, 300);
    for (int i = 0; i < 20; ++i) QApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(g_started.load(), started);  // no worker goes on
    EXPECT_EQ(ReadLastCheckFile(), u"");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 5"), 1);
    EXPECT_EQ(Count("SELECT ID FROM SearchEventLog"), dlg.SearchTotal(kPersonalInfoResidentNumber));
    EXPECT_EQ(dlg.Report(CAllSearchDlg::kAll)->DocumentRowCount(), dlg.TabCount(CAllSearchDlg::kAll));
}

// The analysis reports every document it starts, from its own thread. The
// window shows the one being read and keeps no backlog: one started message
// is on its way at a time, and the progress timer shows the latest start.
TEST_F(SearchWindowTest, StartedDocumentsLeaveNoBacklog)
{
    const std::string root = MakeDocs();
    CAllSearchDlg dlg;
    ASSERT_NO_FATAL_FAILURE(SearchToTheEnd(dlg, root));

    struct StartedCounter : QObject {
        int received = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == ps::ui::UserMessageType(CAllSearchDlg::UM_ANALYSIS_FILE_STARTED)) ++received;
            return false;
        }
    } counter;
    dlg.installEventFilter(&counter);
    // The window's sink is private: a C-style cast reaches it, as the session does.
    auto& sink = (search::SessionSink&)dlg;
    auto path = [](int i) { return u"/docs/d" + plat::PathFromNative(std::to_string(i)) + u".pdf"; };
    std::thread analysis([&] {
        for (int i = 0; i < 500; ++i) sink.Progress(search::SessionSink::Step::DocumentStarted, i, path(i));
    });
    analysis.join();
    QCoreApplication::sendPostedEvents(&dlg, 0);
    EXPECT_EQ(counter.received, 1);

    auto* detail = static_cast<ps::ui::CPathLabel*>(dlg.DetailLine());
    const QString before = detail->WholeText();
    dlg.SetTimer(CAllSearchDlg::IDT_ANALYSIS_PROGRESS, 1);
    ASSERT_TRUE(WaitFor([&] { return detail->WholeText() != before; }, 5000));
    EXPECT_EQ(detail->Path(), QString::fromStdU16String(path(499)));
    EXPECT_TRUE(detail->WholeText().startsWith(QStringLiteral("[500 / 4] "))) << detail->WholeText().toStdString();

    // Once the message is in, the next start posts again.
    sink.Progress(search::SessionSink::Step::DocumentStarted, 500, path(500));
    QCoreApplication::sendPostedEvents(&dlg, 0);
    EXPECT_EQ(counter.received, 2);
    ASSERT_TRUE(WaitFor([&] { return detail->Path() == QString::fromStdU16String(path(500)); }, 5000));
    dlg.KillTimer(CAllSearchDlg::IDT_ANALYSIS_PROGRESS);
    dlg.removeEventFilter(&counter);
}

TEST(SearchWindowLayout, ProgressKeepsAGapAndTheTableTakesTheBannersPlace)
{
    CAllSearchDlg dlg;
    dlg.EnsureInitialized();  // laid out, not shown: showing starts a search
    for (const QSize size : {dlg.size(), QSize(1366, 738), QSize(1920, 1050)}) {
        dlg.resize(size);
        dlg.grab();  // drawn as a person sees it: every pending resize is done
        SCOPED_TRACE(size.width());
        const QRect bar = dlg.ProgressBar()->geometry();
        const QRect button = dlg.SearchButton()->geometry();
        EXPECT_GE(button.left() - bar.right() - 1, CAllSearchDlg::kProgressGap);
        // No banner module here: the table reaches down to a gap above the
        // action buttons.
        CFileReportControl* table = dlg.Report(CAllSearchDlg::kAll);
        const int buttonsTop = dlg.ActionButton(CAllSearchDlg::IDC_EXCEPT)->geometry().top();
        EXPECT_LT(table->geometry().bottom(), buttonsTop);
        EXPECT_LE(buttonsTop - table->geometry().bottom(), 24);
        // The columns share the table's width: nothing cut, no scroll bar.
        int sum = 0;
        for (int c = 0; c < CFileInfoRecord::kItemCount; ++c) sum += table->columnWidth(c);
        EXPECT_EQ(sum, table->viewport()->width());
        EXPECT_GE(table->columnWidth(8), 60);
    }
}

TEST(DocumentKey, MaskSizeTimeAndCodePage)
{
    SearchFileInfo a;
    a.path = u"/home/u/문서/a.hwp";
    a.fileSize = 1234;
    a.lastWriteTime = 133000000000000000ULL;
    const std::u16string k = MakeDocumentKey(a, 0xFFFF);
    EXPECT_EQ(k.size(), 64u);
    for (char16_t c : k) EXPECT_TRUE((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'));
    EXPECT_NE(k, MakeDocumentKey(a, 0x7F));
    SearchFileInfo b = a;
    b.fileSize = 1235;
    EXPECT_NE(k, MakeDocumentKey(b, 0xFFFF));
    // A path that code page 949 holds keeps the key it always had: the
    // SHA-256 of the key text in that code page.
    {
        const std::string text = plat::EncodeCodePage(plat::kCp949, u"/home/u/문서/a.hwp_1234_133000000000000000_65535");
        Util::Crypt::Sha256 sha;
        sha.Update(text.data(), text.size());
        sha.Final();
        std::u16string expected;
        for (size_t i = 0; i < Util::Crypt::Sha256::kDigestSize; ++i) {
            expected += u"0123456789ABCDEF"[sha.Digest()[i] >> 4];
            expected += u"0123456789ABCDEF"[sha.Digest()[i] & 15];
        }
        EXPECT_EQ(k, expected);
    }
}

TEST(DocumentKey, PathsOutsideTheCodePageKeepTheirOwnKeys)
{
    // Names that differ only in what code page 949 cannot hold: characters
    // outside it, emoji, bytes that are not UTF-8. Each pair once shared a
    // key, so the second document took the first one's stored result.
    const std::vector<std::pair<std::u16string, std::u16string>> twins = {
        {u"/x/\u0E01.hwp", u"/x/\u0E02.hwp"},
        {u"/x/\U0001F600.pdf", u"/x/\U0001F601.pdf"},
        {u"/x/\U0001F600.pdf", u"/x/?.pdf"},
        {plat::PathFromNative("/x/\xFF.doc"), plat::PathFromNative("/x/\xFE.doc")},
        {plat::PathFromNative("/x/\xFF.doc"), u"/x/?.doc"},
        {u"/문서/\U0001F600가.xls", u"/문서/\U0001F601가.xls"},
    };
    for (const auto& [first, second] : twins) {
        SearchFileInfo c, d;
        c.path = first;
        d.path = second;
        c.fileSize = d.fileSize = 99;
        c.lastWriteTime = d.lastWriteTime = 133000000000000000ULL;
        const std::u16string kc = MakeDocumentKey(c, 0xFFFF);
        EXPECT_NE(kc, MakeDocumentKey(d, 0xFFFF)) << plat::PathToNative(first);
        EXPECT_EQ(kc.size(), 64u);
        EXPECT_EQ(kc, MakeDocumentKey(c, 0xFFFF));  // stable
    }
}

TEST(DocumentKind, ByLastExtension)
{
    EXPECT_EQ(DocumentKindOfName(u"memo.hwp"), CAllSearchDlg::kHwp);
    EXPECT_EQ(DocumentKindOfName(u"a.b.pdf"), CAllSearchDlg::kPdf);
    EXPECT_EQ(DocumentKindOfName(u"report.DocX"), CAllSearchDlg::kDoc);
    EXPECT_EQ(DocumentKindOfName(u"x.PPTX"), CAllSearchDlg::kPpt);
    EXPECT_EQ(DocumentKindOfName(u"x.xls"), CAllSearchDlg::kXls);
    EXPECT_EQ(DocumentKindOfName(u"noext"), -1);
    EXPECT_EQ(DocumentKindOfName(u"x.txt"), -1);
}

}  // namespace
}  // namespace ps_test

namespace ps_test {
namespace {

// A store whose writes fail while a search runs: the window tells the user
// once, with the reason, and every row found stays on screen.
class StoreFailureSearchTest : public SearchWindowTest {
protected:
    // The program's own connection may grow the file by no more pages, and
    // what room is left is taken first: every later write needs a page.
    void FillTheStore()
    {
        std::lock_guard<std::recursive_timed_mutex> guard(EventStoreLock());
        sqlite3* db = EventDatabase().Handle();
        ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "CREATE TABLE Filler (x)", nullptr, nullptr, nullptr));
        sqlite3_int64 pages = 0;
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA page_count", -1, &st, nullptr);
        if (sqlite3_step(st) == SQLITE_ROW) pages = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
        const std::string limit = "PRAGMA max_page_count = " + std::to_string(pages + 4);
        sqlite3_exec(db, limit.c_str(), nullptr, nullptr, nullptr);
        // Each table's own pages too: the rows the search writes find no room.
        for (const char* table : {"Filler (x", "EventInfo (Type, User", "FileInfo (Hash, Path",
                                  "PersonalInfo (FileIndex, Type, Data", "SearchEventLog (EventID, ID"})
            for (int size : {2000, 500, 100, 20, 1}) {
                const std::string values = std::string(table).find(',') == std::string::npos
                                               ? "(zeroblob(" + std::to_string(size) + "))"
                                           : std::string(table).rfind("Data") != std::string::npos
                                               ? "(-1, 99, hex(zeroblob(" + std::to_string(size) + ")))"
                                               : "(99, hex(zeroblob(" + std::to_string(size) + ")))";
                const std::string sql = std::string("INSERT INTO ") + table + ") VALUES " + values;
                while (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
                }
            }
    }
    // Another program overwrites every page but the first.
    void DamageTheStore()
    {
        for (int i = 0; i < 40; ++i) {
            SearchFileInfo f;
            f.SetFolderAndName(u"/x", u"d" + plat::PathFromNative(std::to_string(i)) + u".pdf");
            f.documentKey = std::u16string(63, u'A') + static_cast<char16_t>(u'A' + i % 26) +
                            std::u16string(f.FileName());
            std::vector<PersonalInfoHit> hits(20, PersonalInfoHit{kPersonalInfoPhoneNumber, u"010-1234-5678"});
            ASSERT_GT(AddFileInfoWithHits(PersonalInfoCounts{1}, f, hits), 0);
        }
        OverwriteStoreButFirstPage(dbPath_);
    }
    int StoreNotices() const
    {
        int n = 0;
        for (const auto& m : messages_)
            if (m.find(u"검색 결과는 화면에 그대로 표시됩니다.") != std::u16string::npos) {
                ++n;
                EXPECT_EQ(0u, m.find(u"이벤트 데이터베이스에 기록하지 못했습니다: "));
            }
        return n;
    }
};

TEST_F(StoreFailureSearchTest, AFullDamagedOrLockedStoreIsToldOnceAndTheRowsStay)
{
    enum class Fault { Full, Damaged, Locked };
    struct Case {
        Fault fault;
        const char16_t* says;
    } cases[] = {{Fault::Full, u"디스크"}, {Fault::Damaged, u"손상"}, {Fault::Locked, u"다른 프로그램"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        // A fresh store per case.
        ExitEventDatabase();
        for (const char* tail : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(dbPath_ + tail);
        ASSERT_TRUE(CopyTemplateDatabase(plat::PathFromNative(BuiltTemplatePath()), plat::PathFromNative(dbPath_)));
        OpenEventDatabase(plat::PathFromNative(dbPath_));
        messages_.clear();
        const std::string root = MakeDocs();
        std::unique_ptr<RawDb> holder;
        if (c.fault == Fault::Full) FillTheStore();
        if (c.fault == Fault::Damaged) DamageTheStore();
        if (c.fault == Fault::Locked) {
            holder = std::make_unique<RawDb>(dbPath_);
            ASSERT_EQ(0, holder->Exec("BEGIN EXCLUSIVE; INSERT INTO EventInfo (Type) VALUES (99);"));
            // Held longer than the store waits (made short here).
            SetEventStoreBusyTimeout(200);
        }
        {
            CAllSearchDlg dlg;
            dlg.SetSearchMode(1);
            dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
            dlg.show();
            ASSERT_TRUE(WaitFor([&] { return dlg.IsSearching() || !dlg.IsIdle(); }, 10000));
            ASSERT_TRUE(WaitIdle(dlg));
            for (int i = 0; i < 50; ++i) QApplication::processEvents();
            EXPECT_EQ(1, StoreNotices());
            bool says = false;
            for (const auto& m : messages_) says = says || m.find(c.says) != std::u16string::npos;
            EXPECT_TRUE(says);
            // The search's results are on screen whatever the store did.
            EXPECT_EQ(dlg.TabCount(CAllSearchDlg::kAll), 3);
            EXPECT_EQ(dlg.Report(CAllSearchDlg::kAll)->DocumentRowCount(), 3);
            EXPECT_NE(std::find(messages_.begin(), messages_.end(), u"검색이 완료되었습니다."), messages_.end());

            // A second search over the same store tells again, once.
            messages_.clear();
            dlg.OnBnClickedButtonSearch();
            ASSERT_TRUE(WaitIdle(dlg));
            for (int i = 0; i < 50; ++i) QApplication::processEvents();
            EXPECT_EQ(1, StoreNotices());
            EXPECT_EQ(dlg.Report(CAllSearchDlg::kAll)->DocumentRowCount(), 3);
        }
        holder.reset();
        SetEventStoreBusyTimeout(CppSQLite3DB::kDefaultBusyTimeoutMs);
    }
}

// The user still reads the store's message when the search completes (and,
// in a second run, the store fails while the stop question is open): the
// boxes come one after another, never one over another.
TEST_F(StoreFailureSearchTest, TheStoreMessageAndTheCompletionNeverStack)
{
    const std::string root = MakeMany("stack", 12, std::string("ID ") + kResident);
    FillTheStore();
    int open = 0, deepest = 0;
    std::vector<std::u16string> order;
    CAllSearchDlg dlg;
    dlg.SetReaders(SlowReaders());
    ps::ui::Seams().messageBox = [&](const std::u16string& text, const std::u16string&, int, QWidget*) {
        ++open;
        deepest = std::max(deepest, open);
        order.push_back(text);
        if (text.find(u"검색 결과는 화면에 그대로 표시됩니다.") != std::u16string::npos) {
            // The search ends while the store's message is read.
            EXPECT_TRUE(WaitIdle(dlg));
            for (int i = 0; i < 50; ++i) QApplication::processEvents();
        }
        --open;
        return ps::ui::IDOK;
    };
    dlg.SetSearchMode(1);
    dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return order.size() >= 2; }, 20000));
    ASSERT_TRUE(WaitIdle(dlg));
    for (int i = 0; i < 50; ++i) QApplication::processEvents();
    EXPECT_EQ(deepest, 1);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_NE(order[0].find(u"검색 결과는 화면에 그대로 표시됩니다."), std::u16string::npos);
    EXPECT_EQ(order[1], u"검색이 완료되었습니다.");

    // The failure is told while the stop question is open: it waits for the
    // answer (취소), then the completion follows it.
    order.clear();
    deepest = 0;
    ps::ui::Seams().messageBox = [&](const std::u16string& text, const std::u16string&, int, QWidget*) {
        ++open;
        deepest = std::max(deepest, open);
        order.push_back(text);
        int answer = ps::ui::IDOK;
        if (text == u"검색을 종료하시겠습니까?") {
            EXPECT_TRUE(WaitIdle(dlg));
            for (int i = 0; i < 50; ++i) QApplication::processEvents();
            answer = ps::ui::IDCANCEL;
        }
        --open;
        return answer;
    };
    // The second search's first write fails at its start; its message is
    // still on its way when the stop is asked at once.
    dlg.OnBnClickedButtonSearch();
    ASSERT_FALSE(dlg.IsIdle());
    dlg.OnBnClickedButtonSearch();
    for (int i = 0; i < 50; ++i) QApplication::processEvents();
    EXPECT_EQ(deepest, 1);
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order[0], u"검색을 종료하시겠습니까?");
    EXPECT_NE(order[1].find(u"검색 결과는 화면에 그대로 표시됩니다."), std::u16string::npos);
    EXPECT_EQ(order[2], u"검색이 완료되었습니다.");
}

}  // namespace
}  // namespace ps_test
