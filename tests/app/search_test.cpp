// The search window end to end: a user search over a folder of small
// documents, the stored results taken by the second search, stop and close
// during a search, and the document key.
#include <QTest>
#include <filesystem>

#include "app/filereport.h"
#include "app_fixture.h"
#include "core/registry.h"
#include "extract/pdf/pdf_builder.h"
#include "search/extractors.h"
#include "core/crypt.h"
#include "platform/codec.h"
#include <chrono>
#include <thread>

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
int SlowPdf(const char16_t*, const char16_t*, std::u16string* text)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!text) return 2;
    *text = u"ID 800101-1234560\n";
    return 0;
}

struct SlowReader {
    SlowReader()
    {
        ExtractorTable t = CurrentExtractorTable();
        t.pdf = &SlowPdf;
        previous = SetExtractorTable(t);
    }
    ~SlowReader() { SetExtractorTable(previous); }
    ExtractorTable previous;
};

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
    dlg.SetSearchMode(1);
    dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return dlg.SearchEventId() != 0; }));
    ASSERT_TRUE(WaitIdle(dlg));

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
            if (row->FileInfo()->fileName != u"one.pdf") continue;
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

TEST_F(SearchWindowTest, StopDuringAnalysisEndsCleanly)
{
    SlowReader slow;
    const std::string root = MakeMany("many", 150, std::string("ID ") + kResident);
    CAllSearchDlg dlg;
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
    SlowReader slow;
    const std::string root = MakeMany("many", 150, std::string("Tel ") + kPhone);
    {
        CAllSearchDlg dlg;
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

TEST_F(SearchWindowTest, StopAnsweredAfterTheSearchCompletedCancelsNothing)
{
    SlowReader slow;
    const std::string root = MakeMany("some", 40, std::string("ID ") + kResident);
    CAllSearchDlg dlg;
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
    dlg.SetSearchMode(1);
    dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return dlg.SearchEventId() != 0; }));
    ASSERT_TRUE(WaitIdle(dlg));
    dlg.hide();
    dlg.show();
    for (int i = 0; i < 50; ++i) QApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 4"), 1);
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
    SlowReader slow;
    const std::string root = MakeMany("many", 150, std::string("Tel ") + kPhone);
    Owner owner;
    owner.show();
    CAllSearchDlg dlg(&owner);
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

TEST_F(SearchWindowTest, SessionEndStopsWithoutAskingAndDestructionWritesTheEndEvent)
{
    SlowReader slow;
    const std::string root = MakeMany("many", 150, std::string("ID ") + kResident);
    {
        CAllSearchDlg dlg;
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
        dlg.SetSearchMode(1);
        dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
        dlg.show();
        ASSERT_TRUE(WaitFor([&] { return dlg.AnalysisRunning(); }));
    }
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 5"), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 4"), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SearchEventLog"), 2);
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
