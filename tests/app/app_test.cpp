// The application object, the main window with its pages, the user search
// window and the about window.
#include <QRegularExpression>
#include <QFile>
#include <filesystem>

#include "app/aboutdlg.h"
#include "app/application.h"
#include "app/filereport.h"
#include "app/mainmenu.h"
#include "app/maindlg.h"
#include "app/usersearchdlg.h"
#include "app_fixture.h"
#include "core/eventstore/eventtables.h"
#include "core/logmgr.h"
#include "core/registry.h"
#include "core/util.h"
#include "extract/extractlib.h"
#include "platform/instance.h"
#include "platform/system.h"

namespace ps_test {
namespace {

// The program's start in the test process: the event database goes to the
// isolated data folder.
class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ps::ui::Seams().messageBox = [this](const std::u16string& text, const std::u16string&, int, QWidget*) {
            messages_.push_back(text);
            return ps::ui::IDOK;
        };
        // The template is looked for next to the running program.
        std::filesystem::copy_file(BuiltTemplatePath(), plat::PathToNative(plat::ProgramDir()) + "/Privasweep.db",
                                   std::filesystem::copy_options::skip_existing);
        if (IsEventDatabaseOpen()) CloseEventDatabase();
        std::filesystem::remove(plat::PathToNative(EventDatabasePath()));
    }
    void TearDown() override { ps::ui::Seams() = ps::ui::UiSeams(); }
    std::vector<std::u16string> messages_;
};

TEST_F(ApplicationTest, StartsWithTheTemplateAndEndsInOrder)
{
    const std::string db = plat::PathToNative(EventDatabasePath());
    ASSERT_FALSE(std::filesystem::exists(db));
    const int uses = GetLibraryUseCount();
    CPrivasweepApp app;
    bool ran = false;
    app.runMainWindow = [&](QWidget* w) {
        ran = true;
        auto* main = static_cast<CPrivasweepDlg*>(w);
        EXPECT_TRUE(IsEventDatabaseOpen());
        // The application starts the reader library around the main window.
        EXPECT_EQ(GetLibraryUseCount(), uses + 1);
        EXPECT_EQ(w->windowTitle(), QString::fromUtf16(u"프리바스윕 2.0"));
        EXPECT_TRUE(main->SearchPage()->isVisibleTo(main));
        EXPECT_FALSE(main->LogPage()->isVisibleTo(main));
        EXPECT_TRUE(main->Button(1007)->isEnabled());
        EXPECT_TRUE(AppIcons().Has(u"HWP") && AppIcons().Has(u"DIR") && AppIcons().Has(u"UNCHKBOX"));
        main->ShowLogPage();
        EXPECT_TRUE(main->LogPage()->isVisibleTo(main));
        EXPECT_FALSE(main->LogPage()->HasSearch());
        EXPECT_TRUE(main->LogPage()->StartButton()->isVisibleTo(main->LogPage()));
        WriteRegistryString(HKEY_CURRENT_USER_ROOT, kRunKey, u"lastCheckFile", u"/x/y.pdf", false);
        main->OnExit();
        EXPECT_EQ(GetLibraryUseCount(), uses + 1);  // still in use until the window is gone
    };
    EXPECT_EQ(app.Run(), 0);
    EXPECT_TRUE(ran);
    EXPECT_EQ(GetLibraryUseCount(), uses);
    EXPECT_FALSE(app.IsSecondInstance());
    EXPECT_TRUE(std::filesystem::exists(db));
    EXPECT_FALSE(IsEventDatabaseOpen());
    EXPECT_EQ(ReadLastCheckFile(), u"");  // the exit command deletes it
    EXPECT_EQ(ReadRegistryDword(kRunKey, 0, u"Migration"), 1u);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(ApplicationTest, SecondInstanceEndsWithoutWindow)
{
    plat::SingleInstance first;
    ASSERT_TRUE(first.Acquire([] {}));
    CPrivasweepApp app;
    bool ran = false;
    app.runMainWindow = [&](QWidget*) { ran = true; };
    EXPECT_EQ(app.Run(), 0);
    EXPECT_TRUE(app.IsSecondInstance());
    EXPECT_FALSE(ran);
    EXPECT_FALSE(IsEventDatabaseOpen());
}

TEST_F(ApplicationTest, UnopenableDatabaseIsReportedAndExitsNonZero)
{
    // A folder where the database file should be.
    std::filesystem::create_directories(plat::PathToNative(EventDatabasePath()));
    CPrivasweepApp app;
    bool ran = false;
    app.runMainWindow = [&](QWidget*) { ran = true; };
    EXPECT_NE(app.Run(), 0);
    EXPECT_FALSE(ran);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find(u"데이터베이스"), std::u16string::npos);
    std::filesystem::remove_all(plat::PathToNative(EventDatabasePath()));
}

TEST_F(ApplicationTest, DamagedDatabaseIsReportedSetAsideAndReplaced)
{
    const std::string db = plat::PathToNative(EventDatabasePath());
    std::filesystem::create_directories(std::filesystem::path(db).parent_path());
    {
        // A file that is no database any more.
        FILE* f = std::fopen(db.c_str(), "wb");
        ASSERT_TRUE(f);
        const std::string junk(8192, 'Z');
        std::fwrite(junk.data(), 1, junk.size(), f);
        std::fclose(f);
    }
    CPrivasweepApp app;
    bool ran = false;
    app.runMainWindow = [&](QWidget* w) {
        ran = true;
        EXPECT_TRUE(IsEventDatabaseOpen());
        EXPECT_GT(AddEvent(1), 0);
        static_cast<CPrivasweepDlg*>(w)->OnExit();
    };
    EXPECT_EQ(app.Run(), 0);
    EXPECT_TRUE(ran);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find(u"손상"), std::u16string::npos);
    EXPECT_NE(messages_[0].find(EventDatabasePath() + u".damaged-"), std::u16string::npos);
    // The damaged file is kept beside the fresh database.
    int kept = 0;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(db).parent_path()))
        if (e.path().filename().string().find("Privasweep.db.damaged-") == 0 &&
            std::filesystem::file_size(e.path()) == 8192)
            ++kept;
    EXPECT_EQ(kept, 1);
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(db).parent_path()))
        if (e.path().filename().string().find(".damaged-") != std::string::npos) std::filesystem::remove(e.path());
}

class WindowsTest : public AppTest {};

TEST_F(WindowsTest, LogPageSummarisesTheLastSearch)
{
    CPrivasweepDlg main;
    CMainShowLogDlg* page = main.LogPage();
    page->RefreshSummary();
    EXPECT_FALSE(page->HasSearch());
    EXPECT_EQ(page->Static(1155)->text(), QString::fromUtf16(u"문서검색 내역이 없습니다."));

    const int64_t id = AddEvent(3);
    PersonalInfoCounts c;
    c[0] = 1000;
    c[3] = 500;
    AddSearchEventLog(id, c, DocumentKindCounts{10, 0, 0, 0, 2});
    page->RefreshSummary();
    EXPECT_TRUE(page->HasSearch());
    EXPECT_EQ(page->Static(1150)->text(), QString::fromUtf16(u"12개"));
    EXPECT_EQ(page->Static(1151)->text(), QString::fromUtf16(u"1,500건"));
    EXPECT_EQ(page->Static(1152)->text(), QString::fromUtf16(u"없음"));
    EXPECT_EQ(page->Static(1156)->text(), QString::fromUtf16(u"12개"));
    EXPECT_TRUE(page->Static(1150)->toolTip().contains(QString::fromUtf16(u"10개")));
    EXPECT_FALSE(page->StartButton()->isVisibleTo(page));

    // A store that cannot be read leaves the page as it was.
    RawDb(dbPath_).Exec("DROP TABLE SearchEventLog");
    page->RefreshSummary();
    EXPECT_TRUE(page->HasSearch());
    EXPECT_EQ(page->Static(1150)->text(), QString::fromUtf16(u"12개"));
}

TEST_F(WindowsTest, UserSearchHandsOverItsChoices)
{
    CPrivasweepDlg main;
    CUserSearchDlg dlg(main.SearchPage());
    dlg.EnsureInitialized();
    // Opens with no folder and every kind chosen; the first opening stores a
    // default folder selection.
    std::vector<std::u16string> inc, exc;
    LoadSearchFolders(inc, exc);
    EXPECT_FALSE(inc.empty() && exc.empty());
    for (int id : CUserSearchDlg::kPersonalInfoBoxes) EXPECT_EQ(dlg.Box(id)->GetCheck(), 1);

    // Nothing checked in the tree: the message, nothing handed over.
    dlg.StartSearch();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], u"각 검색조건이 한 가지 이상 선택되어야 합니다.");
    EXPECT_FALSE(main.SearchPage()->UserSearchPending());

    // One drive checked, only resident numbers and PDF.
    QTreeWidgetItem* root = dlg.Tree()->topLevelItem(0);
    ASSERT_NE(root, nullptr);
    ASSERT_GT(root->childCount(), 0);
    QTreeWidgetItem* drive = root->child(0);
    dlg.Tree()->SetCheck(drive, true);
    for (int id : CUserSearchDlg::kPersonalInfoBoxes) dlg.Box(id)->SetCheck(id == 1021);
    for (int id : CUserSearchDlg::kDocumentBoxes) dlg.Box(id)->SetCheck(id == 1031);
    actions_.clear();
    dlg.StartSearch();
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(main.SearchPage()->UserSearchPending());
    EXPECT_EQ(main.SearchPage()->UserPersonalInfoMask(), 0x01u);
    EXPECT_EQ(main.SearchPage()->UserDocumentKindMask(), 0x10u);
    ASSERT_FALSE(main.SearchPage()->UserInclude().empty());
    EXPECT_EQ(main.SearchPage()->UserInclude()[0], ps::ui::FromQ(ps::ui::CDriveSelectTree::ItemFsPath(drive)));
    EXPECT_EQ(actions_, (std::vector<int>{41, 52}));
}

TEST_F(WindowsTest, CloseRequestEndsTheProgramWithTheExitSteps)
{
    // Whatever has the focus (here the window itself, no page), a close
    // request from outside ends the main window the way its exit button
    // does: lastCheckFile cleared. The reader library is the application's
    // (started before the main window, finished after it): the window
    // leaves it alone.
    const int uses = GetLibraryUseCount();
    WriteRegistryString(HKEY_CURRENT_USER_ROOT, kRunKey, u"lastCheckFile", u"/tmp/x.hwp", false);
    CPrivasweepDlg main;
    main.EnsureInitialized();
    EXPECT_EQ(GetLibraryUseCount(), uses);
    main.show();
    main.setFocus();
    EXPECT_TRUE(main.close());
    EXPECT_FALSE(main.isVisible());
    EXPECT_EQ(main.result(), ps::ui::IDOK);
    EXPECT_EQ(GetLibraryUseCount(), uses);
    EXPECT_EQ(ReadLastCheckFile(), u"");
}

TEST_F(WindowsTest, LogPageTooltipsTakeTheProgramsLook)
{
    CPrivasweepDlg main;
    main.EnsureInitialized();
    // A style sheet on a label would be its tooltip's style too.
    for (int id : {1150, 1151, 1155, 1156, 1157}) {
        ASSERT_NE(main.LogPage()->Static(id), nullptr);
        EXPECT_TRUE(main.LogPage()->Static(id)->styleSheet().isEmpty()) << id;
    }
    EXPECT_EQ(main.LogPage()->Static(1150)->palette().color(QPalette::WindowText), QColor(254, 0, 0));
    EXPECT_TRUE(qApp->styleSheet().contains(ps::ui::SkinToolTipStyleSheet()));
}

TEST_F(WindowsTest, AboutWindowPagesAndLicence)
{
    const std::string lic = plat::PathToNative(plat::ProgramDir()) + "/License.txt";
    for (size_t size : {0u, 1024u, 1025u}) {
        std::string text(size, 'a');
        if (size > 10) text.replace(0, 9, "라이선스");  // UTF-8
        ASSERT_TRUE(WriteFileBytes(lic, text));
        CAboutInfoDlg about;
        about.EnsureInitialized();
        EXPECT_EQ(about.CurrentPage(), about.ProgramPage());
        about.SelectPage(1188);
        EXPECT_EQ(about.CurrentPage(), about.LicensePage());
        EXPECT_EQ(about.LicensePage()->Text()->toPlainText(), QString::fromStdString(text));
    }
    // Without a file beside the program the agreement it carries is shown.
    std::filesystem::remove(lic);
    CAboutInfoDlg about;
    about.EnsureInitialized();
    const QString carried = about.LicensePage()->Text()->toPlainText();
    EXPECT_TRUE(carried.startsWith(QString::fromUtf16(u"프리바스윕(Privasweep) 사용권 계약서"))) << carried.left(40).toStdString();
    EXPECT_TRUE(carried.contains(QString::fromUtf16(u"제9조")));
}

TEST_F(WindowsTest, AboutWindowIsCentredAndShowsTheBuildsOneVersion)
{
    QWidget owner;
    owner.setGeometry(200, 150, 730, 481);
    owner.show();
    CAboutInfoDlg about(&owner);
    about.EnsureInitialized();
    EXPECT_LE((about.geometry().center() - owner.geometry().center()).manhattanLength(), 2)
        << about.geometry().x() << "," << about.geometry().y();
    const QString version = ps::ui::ToQ(GetFileVersionText(plat::ProgramPath(), 4));
    ASSERT_FALSE(version.isEmpty());
    EXPECT_EQ(about.ProgramPage()->Version()->text(), version);
    // No other text of the page carries a version of its own.
    const QRegularExpression anyVersion(QStringLiteral("\\d+\\.\\d+"));
    for (QLabel* l : about.ProgramPage()->findChildren<QLabel*>()) {
        if (l == about.ProgramPage()->Version() || l->text().contains(QStringLiteral("://"))) continue;
        EXPECT_FALSE(anyVersion.match(l->text()).hasMatch()) << l->text().toStdString();
    }
}

// Opening a document or folder from the search window: a failure is said,
// never silent; what is said depends on what is at the path.
bool g_openResult = false;
std::vector<std::u16string> g_opened;
bool NoteOpen(const std::u16string& path)
{
    g_opened.push_back(path);
    return g_openResult;
}

TEST_F(WindowsTest, AFailedOpenSaysSo)
{
    const std::string doc = dir_.file("doc.pdf");
    ASSERT_TRUE(WriteFileBytes(doc, "x"));
    const std::string folder = dir_.file("folder");
    std::filesystem::create_directories(folder);
    const struct {
        std::string path;
        bool opens;
        const char16_t* said;  // nullptr: nothing
    } cases[] = {
        {doc, true, nullptr},
        {doc, false, kOpenDocumentFailedText},
        {folder, false, kOpenFolderFailedText},
        {dir_.file("gone.pdf"), false, u"해당 문서 또는 경로가 변경되어 열 수 없습니다."},
    };
    const OpenWithAssociationHook previous = SetOpenWithAssociationHook(&NoteOpen);
    CAllSearchDlg dlg;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + (c.opens ? " opens" : " fails"));
        messages_.clear();
        g_opened.clear();
        g_openResult = c.opens;
        const std::u16string path = plat::PathFromNative(c.path);
        // The row menu's 열기 (document and folder rows alike).
        emit dlg.Report(CAllSearchDlg::kAll)->rowCommand(RowCommand::Open, nullptr, path);
        // A path that is gone is said to be gone without asking the opener.
        const bool gone = !std::filesystem::exists(c.path);
        EXPECT_EQ(g_opened, gone ? std::vector<std::u16string>{} : std::vector<std::u16string>{path});
        EXPECT_EQ(messages_, c.said ? std::vector<std::u16string>{c.said} : std::vector<std::u16string>{});
    }
    SetOpenWithAssociationHook(previous);
}

// The menu: an item with nowhere to go is disabled and opens nothing; the
// read-me item is there only when the read-me is installed.
TEST_F(WindowsTest, MenuItemsWithNowhereToGoAreDisabled)
{
    std::vector<QUrl> opened;
    ps::ui::Seams().openDesktop = [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    };
    std::vector<std::pair<int, bool>> shown;
    MainMenuChooser() = [&](const std::vector<std::pair<int, bool>>& items) {
        shown = items;
        return 10101;  // help: disabled, so nothing runs
    };
    CPrivasweepDlg main;
    ShowMainMenu(&main);
    MainMenuChooser() = nullptr;
    const bool readMe = std::filesystem::exists("/opt/Norvane/Privasweep/ReadMe.txt");
    EXPECT_EQ(shown, (std::vector<std::pair<int, bool>>{{10100, true},
                                                        {10101, false},
                                                        {10102, readMe},
                                                        {10103, IsUpdaterLoaded()},
                                                        {10104, false},
                                                        {10105, false},
                                                        {10106, false},
                                                        {10107, false},
                                                        {10108, true}}));
    // Run directly, the pages open nothing either.
    for (int command : {10101, 10104, 10105, 10106, 10107}) RunMainMenuCommand(&main, command);
    EXPECT_TRUE(opened.empty());
    // The read-me that cannot be opened says so.
    const OpenWithAssociationHook previous = SetOpenWithAssociationHook(&NoteOpen);
    g_openResult = false;
    messages_.clear();
    RunMainMenuCommand(&main, 10102);
    SetOpenWithAssociationHook(previous);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], readMe ? std::u16string(kOpenReadMeFailedText)
                                   : std::u16string(u"해당 문서 또는 경로가 변경되어 열 수 없습니다."));
}

}  // namespace
}  // namespace ps_test
