// Result rows and the result report control: cell texts, icons, check
// propagation, the check header and the context menu.
#include <QHeaderView>

#include "app/filereport.h"
#include "app_fixture.h"
#include "core/controls/celltips.h"
#include "core/uitext.h"
#include "core/util.h"

namespace ps_test {
namespace {

class ReportTest : public AppTest {
protected:
    SearchFileInfo* Record(const std::u16string& folder, const std::u16string& name)
    {
        auto r = std::make_unique<SearchFileInfo>();
        r->SetFolderAndName(folder, name);
        records_.push_back(std::move(r));
        return records_.back().get();
    }
    // Adds a folder with documents to the control; returns the folder row.
    CFileInfoRecord* AddFolder(CFileReportControl& c, const std::u16string& folder,
                               const std::vector<std::u16string>& names)
    {
        auto* f = new CFileInfoRecord(Record(folder, names.front()));
        c.AddFolderRow(std::unique_ptr<CFileInfoRecord>(f));
        PersonalInfoCounts counts;
        counts[0] = 1;
        for (const auto& n : names) {
            auto* d = new CFileInfoRecord(counts, CFileInfoRecord::kEveryKind, Record(folder, n));
            EXPECT_EQ(c.AddFileRow(std::unique_ptr<CFileInfoRecord>(d), f), 0);
        }
        return f;
    }
    std::vector<std::unique_ptr<SearchFileInfo>> records_;
};

TEST_F(ReportTest, CellTextsAndIcons)
{
    PersonalInfoCounts counts;
    counts[0] = 2;
    counts[3] = 1234;
    CFileInfoRecord row(counts, CFileInfoRecord::kEveryKind, Record(u"/d", u"memo.hwp"));
    EXPECT_EQ(row.ItemText(1), u"memo.hwp");
    EXPECT_EQ(row.ItemText(2), u"2 건");
    EXPECT_EQ(row.ItemText(5), u"1,234 건");
    for (int k : {3, 4, 6, 7, 8}) EXPECT_EQ(row.ItemText(k), u"");
    EXPECT_EQ(row.IconIndex(), AppIcons().IndexOf(u"HWP"));
    EXPECT_NE(row.IconIndex(), 0);

    const struct {
        const char16_t* name;
        const char16_t* key;
    } icons[] = {{u"a.b.pdf", u"PDF"}, {u"report.DocX", u"DOCX"}, {u"noext", u""}, {u"x.zip", u"ZIP"}};
    for (const auto& c : icons) {
        EXPECT_EQ(IconKeyOfName(c.name), c.key);
        CFileInfoRecord r(counts, CFileInfoRecord::kEveryKind, Record(u"/d", c.name));
        EXPECT_EQ(r.IconIndex(), AppIcons().IndexOf(c.key));
    }
    EXPECT_EQ(AppIcons().IndexOf(u"ZIP"), 0);

    CFileInfoRecord folder(Record(u"/d/sub", u"x.pdf"));
    EXPECT_TRUE(folder.IsFolderRow());
    EXPECT_EQ(folder.ItemText(1), u"/d/sub");
    EXPECT_EQ(folder.IconIndex(), AppIcons().IndexOf(u"DIR"));

    // The root folder: one separator between folder and name.
    CFileInfoRecord atRoot(counts, CFileInfoRecord::kEveryKind, Record(u"/", u"a.doc"));
    EXPECT_EQ(atRoot.GetFullPath(), u"/a.doc");
    EXPECT_EQ(atRoot.GetFolderPath(), u"");
}

TEST_F(ReportTest, ChecksPropagateAndHeaderFollows)
{
    CFileReportControl c;
    CFileInfoRecord* f1 = AddFolder(c, u"/a", {u"1.pdf", u"2.pdf"});
    CFileInfoRecord* f2 = AddFolder(c, u"/b", {u"3.hwp"});
    EXPECT_EQ(c.FolderRowCount(), 2);
    EXPECT_EQ(c.DocumentRowCount(), 3);
    EXPECT_EQ(c.AddFileRow(nullptr, f1), 1);

    // Header click checks everything; a second click unchecks it all.
    EXPECT_FALSE(c.HeaderChecked());
    c.OnHeaderCheckClick();
    EXPECT_TRUE(c.HeaderChecked());
    EXPECT_TRUE(c.IsChecked(f1) && c.IsChecked(f2) && c.IsChecked(c.DocumentRow(0, 1)));
    // Unchecking one document unchecks its folder and the header.
    c.SetChecked(c.DocumentRow(0, 0), false);
    EXPECT_FALSE(c.IsChecked(f1));
    EXPECT_TRUE(c.IsChecked(c.DocumentRow(0, 1)));
    EXPECT_FALSE(c.HeaderChecked());
    // Checking it again checks the folder and the header.
    c.SetChecked(c.DocumentRow(0, 0), true);
    EXPECT_TRUE(c.IsChecked(f1));
    EXPECT_TRUE(c.HeaderChecked());
    c.OnHeaderCheckClick();
    EXPECT_FALSE(c.IsChecked(f2) || c.IsChecked(c.DocumentRow(1, 0)));
    // A folder gives its state to its documents.
    c.SetChecked(f2, true);
    EXPECT_TRUE(c.IsChecked(c.DocumentRow(1, 0)));

    c.ResetContent();
    EXPECT_EQ(c.FolderRowCount(), 0);
    EXPECT_FALSE(c.HeaderChecked());
    c.OnHeaderCheckClick();  // nothing to check: the header stays
    EXPECT_FALSE(c.HeaderChecked());
}

TEST_F(ReportTest, ContextMenuItemsFollowRowAndSearchState)
{
    CFileReportControl c;
    CFileInfoRecord* f = AddFolder(c, u"/a", {u"1.pdf"});
    bool searching = true;
    c.isSearching = [&] { return searching; };
    std::vector<std::pair<int, bool>> seen;
    c.menuChooser = [&](const std::vector<std::pair<int, bool>>& items) {
        seen = items;
        return 0;
    };
    auto enabled = [&](int id) {
        for (auto& [i, e] : seen)
            if (i == id) return e;
        return false;
    };
    c.ShowContextMenu(f, QPoint());
    EXPECT_FALSE(enabled(10000));
    EXPECT_TRUE(enabled(10005) && enabled(10006) && enabled(10007));
    searching = false;
    c.ShowContextMenu(f, QPoint());
    EXPECT_TRUE(enabled(10000));
    EXPECT_FALSE(enabled(10001) || enabled(10002) || enabled(10003) || enabled(10004));
    c.ShowContextMenu(c.DocumentRow(0, 0), QPoint());
    EXPECT_TRUE(enabled(10000));
}

TEST_F(ReportTest, OpenAndPropertiesReachTheSearchWindow)
{
    CAllSearchDlg dlg;
    CFileReportControl* c = dlg.Report(CAllSearchDlg::kAll);
    const std::string file = dir_.file("doc.pdf");
    ASSERT_TRUE(WriteFileBytes(file, "x"));
    CFileInfoRecord* f = AddFolder(*c, plat::PathFromNative(dir_.path()), {u"doc.pdf"});
    (void)f;
    std::vector<std::u16string> openedFiles;
    static std::vector<std::u16string>* sink = nullptr;
    sink = &openedFiles;
    auto previous = SetOpenWithAssociationHook([](const std::u16string& p) {
        sink->push_back(p);
        return true;
    });
    int choice = 10000;
    c->menuChooser = [&](const std::vector<std::pair<int, bool>>&) { return choice; };
    c->ShowContextMenu(c->DocumentRow(0, 0), QPoint());
    ASSERT_EQ(openedFiles.size(), 1u);
    EXPECT_EQ(openedFiles[0], plat::PathFromNative(file));
    choice = 10007;
    c->ShowContextMenu(c->DocumentRow(0, 0), QPoint());
    ASSERT_FALSE(messages_.empty());
    EXPECT_NE(messages_.back().find(u"doc.pdf"), std::u16string::npos);
    EXPECT_EQ(actions_, (std::vector<int>{8, 14}));
    SetOpenWithAssociationHook(previous);
}

TEST_F(ReportTest, PostedRowsArriveInOrderAndBelongToTheControl)
{
    PersonalInfoCounts counts;
    counts[1] = 3;
    {
        CFileReportControl c;
        auto folder = std::make_unique<CFileInfoRecord>(Record(u"/p", u"a.hwp"));
        CFileInfoRecord* f = folder.get();
        EXPECT_TRUE(PostAddRow(&c, UM_ADD_FOLDER_ROW, std::move(folder)));
        EXPECT_TRUE(PostAddRow(&c, UM_ADD_FILE_ROW, std::make_unique<CFileInfoRecord>(counts, CFileInfoRecord::kEveryKind, Record(u"/p", u"a.hwp")), f));
        EXPECT_TRUE(PostAddRow(&c, UM_ADD_FILE_ROW, std::make_unique<CFileInfoRecord>(counts, CFileInfoRecord::kEveryKind, Record(u"/p", u"b.doc")), f));
        // A document row without its folder row is not shown.
        EXPECT_TRUE(PostAddRow(&c, UM_ADD_FILE_ROW, std::make_unique<CFileInfoRecord>(counts, CFileInfoRecord::kEveryKind, Record(u"/q", u"c.pdf")), nullptr));
        EXPECT_EQ(c.FolderRowCount(), 0);  // nothing before delivery
        QCoreApplication::sendPostedEvents(&c, 0);
        ASSERT_EQ(c.FolderRowCount(), 1);
        EXPECT_EQ(c.FolderRow(0), f);
        ASSERT_EQ(c.DocumentRowCount(), 2);
        EXPECT_EQ(c.DocumentRow(0, 1)->ItemText(1), u"b.doc");
        EXPECT_EQ(c.DocumentRow(0, 0)->ItemText(3), u"3 건");

        // Rows still queued when the control goes away go with their events.
        PostAddRow(&c, UM_ADD_FOLDER_ROW, std::make_unique<CFileInfoRecord>(Record(u"/r", u"d.xls")));
    }
    EXPECT_FALSE(PostAddRow(nullptr, UM_ADD_FOLDER_ROW, std::make_unique<CFileInfoRecord>(Record(u"/s", u"e.ppt"))));
}

TEST_F(ReportTest, FolderRowsSpanTheRowAndCutNamesShowWhole)
{
    CFileReportControl c;
    c.resize(728, 300);
    c.grab();
    // Three folders that differ only at the end of a long path.
    const std::u16string base = u"/home/user/문서/2024년/인사팀/분기별 보고/직원 개인정보 정리/";
    for (const char16_t* leaf : {u"1분기", u"2분기", u"3분기"}) AddFolder(c, base + leaf, {u"명단.hwp"});
    AddFolder(c, u"/짧은", {std::u16string(60, u'가') + u".hwp"});
    c.grab();

    // A folder row's path runs from the name column to the end of the row.
    const QRect nameCell = c.visualRect(c.Model()->index(0, 1));
    const QRect span = c.FolderRowTextRect(nameCell);
    const int last = CFileInfoRecord::kItemCount - 1;
    EXPECT_EQ(span.right() + 1, c.columnViewportPosition(last) + c.columnWidth(last));
    EXPECT_LE(span.left(), nameCell.left());
    EXPECT_GT(span.width(), c.columnWidth(1) + 6 * c.columnWidth(2));

    // Whole texts as tooltips where they are cut, none where they fit.
    auto tipAt = [&](const QModelIndex& index) {
        return ps::ui::CutCellText(&c, c.visualRect(index).center(), [&c](QModelIndex& i) {
            if (!i.parent().isValid()) {
                i = i.sibling(i.row(), 1);
                return c.FolderRowTextRect(c.visualRect(i));
            }
            return c.visualRect(i);
        });
    };
    const QModelIndex shortFolder = c.Model()->index(3, 1);
    EXPECT_EQ(tipAt(shortFolder), QString());
    const QModelIndex longName = c.Model()->index(0, 1, shortFolder.sibling(3, 0));
    EXPECT_EQ(tipAt(longName), QString::fromStdU16String(std::u16string(60, u'가') + u".hwp"));
    c.resize(300, 300);
    c.grab();
    const QModelIndex longFolder = c.Model()->index(1, 4);  // a count cell of the folder row
    EXPECT_EQ(tipAt(longFolder), QString::fromStdU16String(base + u"2분기"));
}

// A count is never cut: its column grows to the widest figure, at any width
// of the control; the name column gives up the room.
TEST_F(ReportTest, LargeFiguresAreNeverCut)
{
    CFileReportControl c;
    c.resize(728, 300);
    c.grab();
    auto* f = new CFileInfoRecord(Record(u"/d", u"a.pdf"));
    c.AddFolderRow(std::unique_ptr<CFileInfoRecord>(f));
    PersonalInfoCounts counts;
    counts[0] = 144000;
    counts[3] = 1234567;
    counts[6] = 7;
    auto* d = new CFileInfoRecord(counts, CFileInfoRecord::kEveryKind, Record(u"/d", u"a.pdf"));
    ASSERT_EQ(c.AddFileRow(std::unique_ptr<CFileInfoRecord>(d), f), 0);
    for (int width : {728, 500, 1200}) {
        SCOPED_TRACE(width);
        c.resize(width, 300);
        c.grab();
        const QModelIndex row = c.Model()->index(0, 0, c.Model()->index(0, 0));
        for (int k : {2, 5, 8}) {
            const QString text = row.sibling(0, k).data().toString();
            ASSERT_FALSE(text.isEmpty());
            EXPECT_GE(c.columnWidth(k), c.fontMetrics().horizontalAdvance(text) + 8) << text.toStdString();
        }
    }
    EXPECT_EQ(c.Model()->index(0, 2, c.Model()->index(0, 0)).data().toString(), QStringLiteral("144,000 건"));
}

TEST(ReportMenuTexts, AreTheProgramsOwn)
{
    const struct {
        const char16_t* key;
        const char16_t* text;
    } texts[] = {
        {u"MENU_OPEN", u"열기"},           {u"MENU_SEARCH_DETAIL_INFO", u"검색 상세정보"},
        {u"MENU_ENCRYPT", u"암호처리"},     {u"MENU_DELETE", u"문서삭제"},
        {u"MENU_EXCEPTION", u"예외처리"},   {u"MENU_CLOSE_ALL", u"전체트리닫기"},
        {u"MENU_OPEN_ALL", u"전체트리열기"}, {u"MENU_PROPERTY", u"속성"},
    };
    for (const auto& t : texts) EXPECT_EQ(GetText(t.key), t.text) << QString::fromUtf16(t.key).toStdString();
}

}  // namespace
}  // namespace ps_test
