// The settings window: what each page writes on OK, in which order, the
// default commands, cancel, the selection check, damaged stored values,
// failing writes and the one-window rule.
#include <QTimer>
#include <memory>

#include "app/maindlg.h"
#include "app/usersearchdlg.h"
#include "core/crypt.h"
#include "settings/configdlg.h"
#include "app/exceptionlistdlg.h"
#include "settings/configpages.h"
#include "settings/passwordpage.h"
#include "settings/settings_fixture.h"

using namespace ps_test;
using namespace ps::ui;

namespace {

using Dlg = CConfigurationDlg;

class ConfigWindowTest : public SettingsTest {
protected:
    std::unique_ptr<Dlg> Open(int startPage = 0)
    {
        auto d = std::make_unique<Dlg>();
        d->SetStartPage(startPage);
        d->show();
        Pump();
        return d;
    }
    // Opens and closes the window once, so that the defaults written at the
    // first opening are out of the way.
    void OpenOnce()
    {
        {
            auto d = Open();
            d->OnClose();
        }
        ClearEvents();
        actions_.clear();
    }
    static QTreeWidgetItem* FirstDrive(Dlg& d)
    {
        QTreeWidgetItem* root = d.FolderPage()->Tree()->topLevelItem(0);
        return root && root->childCount() > 0 ? root->child(0) : nullptr;
    }
};

const std::vector<long long> kNone;

TEST_F(ConfigWindowTest, FirstOpeningStoresEveryDefaultWithoutTheUser)
{
    auto d = Open();
    EXPECT_EQ(Str(u"PersonalInfo"), u"1|1|1|1|1|1|1|");
    EXPECT_EQ(Str(u"KindOfDocument"), u"1|1|1|1|1|");
    EXPECT_EQ(Dword(u"LogSaveLimitDay"), 120u);
    EXPECT_GT(Dword(u"IncludeFileCount"), 0u);
    EXPECT_EQ(Dword(u"ExcludeFileCount"), 0u);
    // The folders are stored without an event; the two kinds pages record theirs.
    EXPECT_EQ(EventTypes(), (std::vector<long long>{0x2000000, 0x3000000}));
    EXPECT_EQ(actions_, (std::vector<int>{63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74}));
    EXPECT_EQ(d->LogPage()->Days(), 120);
    // Loading is no change: OK writes nothing more.
    EXPECT_FALSE(d->IsChanged());
    d->OnSave();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(EventTypes().size(), 2u);
}

TEST_F(ConfigWindowTest, OkWritesEachChangedPageInOrderWithItsEvent)
{
    OpenOnce();
    auto d = Open();
    QTreeWidgetItem* drive = FirstDrive(*d);
    ASSERT_NE(drive, nullptr);
    const std::u16string drivePath = FromQ(d->FolderPage()->Tree()->GetItemPath(drive));
    d->FolderPage()->Tree()->SetItemCheckByClick(drive);
    d->PersonalInfoPage()->Box(1)->click();  // account number
    d->DocumentPage()->Box(4)->click();      // PDF
    d->LogPage()->SetDays(30);
    d->OnTab(Dlg::kPasswordPage);
    QTest::keyClicks(d->PasswordPage()->NewEdit(), "secret1");
    QTest::keyClicks(d->PasswordPage()->ConfirmEdit(), "secret1");
    d->PasswordPage()->AlgorithmBox()->setCurrentIndex(1);
    emit d->PasswordPage()->AlgorithmBox()->activated(1);
    Pump();
    EXPECT_TRUE(d->IsChanged());
    for (int flag : {0, 1, 2, 3, 5, 6}) EXPECT_EQ(d->ChangeFlag(flag), 1) << flag;

    d->Button(Dlg::IDC_OK)->click();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(d->result(), IDOK);
    EXPECT_EQ(EventTypes(),
              (std::vector<long long>{0x1000000, 0x2000000, 0x3000000, 0x7000000, 0x4000000, 0x9000000}));
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(Str(u"PersonalInfo"), u"1|0|1|1|1|1|1|");
    EXPECT_EQ(Str(u"KindOfDocument"), u"1|1|1|1|0|");
    EXPECT_EQ(Dword(u"LogSaveLimitDay"), 30u);
    EXPECT_EQ(Dword(u"CryptAlgorithm"), 1u);
    EXPECT_EQ(DecryptSettingsPassword(Str(u"CryptPassword")), u"secret1");

    std::vector<std::u16string> include, exclude;
    LoadSearchFolders(include, exclude);
    EXPECT_NE(std::find(exclude.begin(), exclude.end(), drivePath), exclude.end());
    // The top item is only partly checked now, and still searched.
    EXPECT_FALSE(include.empty());
    EXPECT_EQ(include.front(), FromQ(d->FolderPage()->Tree()->GetItemPath(d->FolderPage()->Tree()->topLevelItem(0))));
}

TEST_F(ConfigWindowTest, OnlyTheChangedPageIsWritten)
{
    OpenOnce();
    auto d = Open();
    d->DocumentPage()->Box(0)->click();
    Pump();
    d->OnSave();
    EXPECT_EQ(EventTypes(), (std::vector<long long>{0x3000000}));
    EXPECT_EQ(Str(u"KindOfDocument"), u"0|1|1|1|1|");
    EXPECT_EQ(Str(u"PersonalInfo"), u"1|1|1|1|1|1|1|");
}

TEST_F(ConfigWindowTest, CancelAndCloseWriteNothing)
{
    OpenOnce();
    for (int button : {Dlg::IDC_CANCEL, Dlg::IDC_CLOSE}) {
        auto d = Open();
        d->PersonalInfoPage()->Box(0)->click();
        d->LogPage()->SetDays(7);
        d->OnTab(Dlg::kExceptionPage);
        Pump();
        d->Button(button)->click();
        EXPECT_FALSE(d->isVisible());
        EXPECT_EQ(EventTypes(), kNone);
        EXPECT_EQ(Str(u"PersonalInfo"), u"1|1|1|1|1|1|1|");
        EXPECT_EQ(Dword(u"LogSaveLimitDay"), 120u);
    }
}

TEST_F(ConfigWindowTest, NothingChosenOnAPageStopsEverySwitchAndOk)
{
    OpenOnce();
    auto d = Open();
    d->OnTab(Dlg::kPersonalInfoPage);
    for (int i = 0; i < 7; ++i) d->PersonalInfoPage()->Box(i)->click();
    Pump();
    d->Button(Dlg::IDC_TAB_DOCUMENTS)->click();
    EXPECT_EQ(d->CurrentIndex(), Dlg::kPersonalInfoPage);
    d->Button(Dlg::IDC_OK)->click();
    EXPECT_TRUE(d->isVisible());
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[0], u"검색조건이 한 가지 이상 선택되어야 합니다.");
    EXPECT_EQ(EventTypes(), kNone);
    // One kind again, and OK goes through.
    d->PersonalInfoPage()->Box(6)->click();
    Pump();
    d->OnSave();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(Str(u"PersonalInfo"), u"0|0|0|0|0|0|1|");
}

TEST_F(ConfigWindowTest, TheTabsShowTheirPagesWithTheCrossedIds)
{
    OpenOnce();
    auto d = Open();
    const std::pair<int, int> tabs[] = {{1072, 1}, {1073, 2}, {1074, 3}, {1076, 4}, {1075, 5}, {1071, 0}};
    for (auto [id, page] : tabs) {
        d->Button(id)->click();
        EXPECT_EQ(d->CurrentIndex(), page) << id;
        for (int i = 0; i < Dlg::kPageCount; ++i) {
            QWidget* p = i == 0   ? static_cast<QWidget*>(d->FolderPage())
                         : i == 1 ? static_cast<QWidget*>(d->PersonalInfoPage())
                         : i == 2 ? static_cast<QWidget*>(d->DocumentPage())
                         : i == 3 ? static_cast<QWidget*>(d->PasswordPage())
                         : i == 4 ? static_cast<QWidget*>(d->ExceptionPage())
                                  : static_cast<QWidget*>(d->LogPage());
            EXPECT_EQ(p->isVisible(), i == page) << id << " page " << i;
        }
    }
    // Visiting pages changes nothing.
    d->OnSave();
    EXPECT_EQ(EventTypes(), kNone);
}

TEST_F(ConfigWindowTest, StartPageFromTheEventLogIsValidatedLikeATab)
{
    OpenOnce();
    {
        auto d = Open(Dlg::kLogPage);
        EXPECT_EQ(d->CurrentIndex(), Dlg::kLogPage);
        EXPECT_TRUE(d->LogPage()->isVisible());
    }
    SetStr(u"KindOfDocument", u"0|0|0|0|0|");
    {
        auto d = Open(Dlg::kLogPage);
        EXPECT_EQ(d->CurrentIndex(), Dlg::kFolderPage);
        ASSERT_EQ(messages_.size(), 1u);
        d->OnSave();
        EXPECT_TRUE(d->isVisible());
        EXPECT_EQ(EventTypes(), kNone);
    }
}

TEST_F(ConfigWindowTest, AllDefaultsWriteAtOnceInOrder)
{
    OpenOnce();
    SetDword(u"LogSaveLimitDay", 30);
    SetDword(u"CryptAlgorithm", 0);
    SetStr(u"CryptPassword", EncryptSettingsPassword(u"stored-pw"));
    SetDword(u"UsePassword", 1);
    SetStr(u"PersonalInfo", u"1|0|0|0|0|0|0|");
    auto d = Open();
    d->Button(Dlg::IDC_ALL_DEFAULTS)->click();
    EXPECT_FALSE(d->IsChanged());
    EXPECT_EQ(EventTypes(), (std::vector<long long>{0x2000000, 0x3000000, 0x4000000, 0x7000000}));
    std::vector<int> expected = {34, 63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74};
    EXPECT_EQ(actions_, expected);
    EXPECT_EQ(Str(u"PersonalInfo"), u"1|1|1|1|1|1|1|");
    EXPECT_EQ(Str(u"CryptPassword"), u"<none>");
    EXPECT_EQ(Dword(u"UsePassword"), 0xDEADBEEFu);
    EXPECT_EQ(Dword(u"CryptAlgorithm"), 2u);
    EXPECT_EQ(Dword(u"LogSaveLimitDay"), 120u);
    EXPECT_EQ(Dword(u"IncludeFileCount"), 0xDEADBEEFu);
    EXPECT_EQ(Dword(u"ExcludeFileCount"), 0xDEADBEEFu);
    // The day count changed to 120, so the log page's notice follows.
    Pump();
    EXPECT_TRUE(d->IsChanged());
    EXPECT_EQ(d->ChangeFlag(5), 1);
    d->OnSave();
    EXPECT_EQ(EventTypes().back(), 0x7000000);
    EXPECT_EQ(EventTypes().size(), 5u);
}

TEST_F(ConfigWindowTest, PageDefaultsTouchOnlyTheVisiblePage)
{
    OpenOnce();
    SetStr(u"KindOfDocument", u"0|0|0|0|1|");
    SetStr(u"PersonalInfo", u"1|0|1|1|1|1|1|");
    auto d = Open();
    EXPECT_FALSE(d->DocumentPage()->Box(0)->GetCheck());
    EXPECT_TRUE(d->DocumentPage()->Box(4)->GetCheck());
    d->OnTab(Dlg::kDocumentPage);
    d->Button(Dlg::IDC_PAGE_DEFAULTS)->click();
    EXPECT_EQ(EventTypes(), (std::vector<long long>{0x3000000}));
    EXPECT_EQ(actions_, (std::vector<int>{80, 70, 71, 72, 73, 74}));
    EXPECT_EQ(Str(u"KindOfDocument"), u"1|1|1|1|1|");
    EXPECT_EQ(Str(u"PersonalInfo"), u"1|0|1|1|1|1|1|");
    // The exception page has no defaults.
    ClearEvents();
    d->OnTab(Dlg::kExceptionPage);
    d->OnPageDefaults();
    EXPECT_EQ(EventTypes(), kNone);
    // The folder page's defaults empty the stored folders and check everything.
    d->OnTab(Dlg::kFolderPage);
    d->OnPageDefaults();
    EXPECT_EQ(Dword(u"IncludeFileCount"), 0xDEADBEEFu);
    EXPECT_EQ(CDriveSelectTree::StateImage(d->FolderPage()->Tree()->topLevelItem(0)), 2);
    EXPECT_EQ(EventTypes(), kNone);
}

struct StoredCase {
    const char16_t* personalInfo;
    const char16_t* kinds;
    std::vector<int> piChecks;    // expected box states, 7
    std::vector<int> kindChecks;  // expected box states, 5
    std::vector<long long> events;
};

TEST_F(ConfigWindowTest, StoredCheckListsAndDamagedOnesReadAsTheDefault)
{
    const StoredCase cases[] = {
        {u"1|0|1|1|1|1|1|", u"1|1|1|1|0|", {1, 0, 1, 1, 1, 1, 1}, {1, 1, 1, 1, 0}, {}},
        {u"1||0|1|1|1|1|1|", u"0|0|0|0|1|", {1, 0, 1, 1, 1, 1, 1}, {0, 0, 0, 0, 1}, {}},
        {u"x|1|1|1|1|1|1|", u" 2|0|-1|0|0|", {0, 1, 1, 1, 1, 1, 1}, {1, 0, 1, 0, 0}, {}},
        {u"1|0|1", u"1|1|1|1|1|1|1|", {1, 1, 1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {0x2000000, 0x3000000}},
        {u"1|0|1|1|1|1|1|1|", u"", {1, 1, 1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {0x2000000, 0x3000000}},
        {u"99999999999999999999|0|0|0|0|0|0|", u"1|1|1|1|99999999999999|", {1, 0, 0, 0, 0, 0, 0}, {1, 1, 1, 1, 1}, {}},
    };
    OpenOnce();
    for (const auto& c : cases) {
        SetStr(u"PersonalInfo", c.personalInfo);
        SetStr(u"KindOfDocument", c.kinds);
        ClearEvents();
        auto d = Open();
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(d->PersonalInfoPage()->Box(i)->GetCheck(), c.piChecks[i]) << plat::WideToUtf8(c.personalInfo) << " " << i;
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(d->DocumentPage()->Box(i)->GetCheck(), c.kindChecks[i]) << plat::WideToUtf8(c.kinds) << " " << i;
        EXPECT_EQ(EventTypes(), c.events) << plat::WideToUtf8(c.personalInfo);
        d->OnClose();
    }
}

TEST_F(ConfigWindowTest, DamagedNumbersAndFolderCountsOpenTheWindowWithDefaults)
{
    OpenOnce();
    const std::pair<uint32_t, int> days[] = {{0, 120}, {366, 120}, {0xFFFFFFFEu, 120}, {70000, 120}, {1, 1}, {365, 365}};
    for (auto [stored, shown] : days) {
        SetDword(u"LogSaveLimitDay", stored);
        SetDword(u"CryptAlgorithm", stored);
        auto d = Open();
        EXPECT_EQ(d->LogPage()->Days(), shown) << stored;
        EXPECT_EQ(d->PasswordPage()->AlgorithmBox()->currentIndex(), stored <= 2 ? static_cast<int>(stored) : 2);
        d->OnClose();
    }
    // A count far beyond its entries, entries that are text or missing.
    SetDword(u"IncludeFileCount", 0x7FFFFFFF);
    SetStr(u"Include_1", u"/no such drive/");
    SetStr(u"Include_3", u"");
    SetStr(u"ExcludeFileCount", u"xyz");
    SetStr(u"PersonalInfo", u"||||||||||||");
    ClearEvents();
    auto d = Open();
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(Str(u"PersonalInfo"), u"1|1|1|1|1|1|1|");
    // The damaged folder lists were replaced by the whole tree, checked.
    EXPECT_EQ(CDriveSelectTree::StateImage(d->FolderPage()->Tree()->topLevelItem(0)), 2);
    std::vector<std::u16string> include, exclude;
    LoadSearchFolders(include, exclude);
    EXPECT_FALSE(include.empty());
    EXPECT_TRUE(exclude.empty());
    EXPECT_EQ(std::count(include.begin(), include.end(), u""), 0);
    EXPECT_EQ(Str(u"Include_3"), include.size() >= 3 ? include[2] : u"<none>");
    EXPECT_EQ(EventTypes(), (std::vector<long long>{0x2000000}));
    d->OnTab(Dlg::kLogPage);
    EXPECT_EQ(d->CurrentIndex(), Dlg::kLogPage);
}

TEST_F(ConfigWindowTest, AFailedWriteIsReportedAndNothingIsRecorded)
{
    OpenOnce();
    auto d = Open();
    d->DocumentPage()->Box(2)->click();
    d->LogPage()->SetDays(12);
    Pump();
    BreakStore();
    d->OnSave();
    EXPECT_TRUE(d->isVisible());
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].substr(0, 11), u"설정을 저장하지 못했");
    EXPECT_EQ(d->CurrentIndex(), Dlg::kDocumentPage);
    EXPECT_EQ(EventTypes(), kNone);
    // The user's choice is still there, and once the store works OK saves it.
    EXPECT_FALSE(d->DocumentPage()->Box(2)->GetCheck());
    RestoreStore();
    d->OnSave();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(EventTypes(), (std::vector<long long>{0x3000000, 0x7000000}));
    EXPECT_EQ(Str(u"KindOfDocument"), u"1|1|0|1|1|");
}

TEST_F(ConfigWindowTest, DefaultsThatCannotBeWrittenAreReportedWithoutEvents)
{
    OpenOnce();
    auto d = Open();
    BreakStore();
    d->OnAllDefaults();
    EXPECT_EQ(EventTypes(), kNone);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(d->isVisible());
}

TEST_F(ConfigWindowTest, OnlyOneSettingsWindowAtATime)
{
    OpenOnce();
    auto first = Open();
    ASSERT_TRUE(first->OwnsLock());
    {
        Dlg second;
        EXPECT_EQ(second.DoModal(), IDOK);
        EXPECT_FALSE(second.OwnsLock());
        EXPECT_FALSE(second.isVisible());
        EXPECT_EQ(second.FolderPage(), nullptr);  // nothing of it was set up
    }
    first->OnClose();
    first.reset();
    auto third = Open();
    EXPECT_TRUE(third->OwnsLock());
    EXPECT_EQ(EventTypes(), kNone);
}

TEST_F(ConfigWindowTest, KeysOfTheWindow)
{
    OpenOnce();
    auto d = Open();
    // Enter never presses OK; Escape inside a page does not close the window.
    d->OnTab(Dlg::kLogPage);
    d->LogPage()->DaysBox()->setFocus();
    QTest::keyClick(d->LogPage()->DaysBox(), Qt::Key_Return);
    QTest::keyClick(d->LogPage()->DaysBox(), Qt::Key_Escape);
    EXPECT_TRUE(d->isVisible());
    // Space checks a folder in the tree.
    d->OnTab(Dlg::kFolderPage);
    CDriveSelectTree* tree = d->FolderPage()->Tree();
    QTreeWidgetItem* drive = FirstDrive(*d);
    ASSERT_NE(drive, nullptr);
    tree->setCurrentItem(drive);
    QTest::keyClick(tree, Qt::Key_Space);
    Pump();
    EXPECT_EQ(CDriveSelectTree::StateImage(drive), 1);
    EXPECT_EQ(d->ChangeFlag(0), 1);
    // Escape from a control of the frame closes it.
    d->Button(Dlg::IDC_OK)->setFocus();
    QTest::keyClick(d->Button(Dlg::IDC_OK), Qt::Key_Escape);
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(EventTypes(), kNone);
}

TEST_F(ConfigWindowTest, EscapeClosesTheWindowAfterTheExceptionListWasClosed)
{
    OpenOnce();
    auto d = Open();
    d->OnTab(Dlg::kExceptionPage);
    QWidget* operate = d->ExceptionPage()->OperateButton();
    operate->setFocus();
    QWidget* listOwner = nullptr;
    QTimer::singleShot(100, [&listOwner] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* list = qobject_cast<CExceptionConfigurationDlg*>(w); list && list->isVisible()) {
                listOwner = list->parentWidget();
                list->EndDialog(ps::ui::IDCANCEL);  // 닫기
            }
    });
    QTest::mouseClick(operate, Qt::LeftButton);
    EXPECT_EQ(listOwner, d.get());  // owned by the settings window
    ASSERT_TRUE(d->isVisible());
    QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : d.get();
    QTest::keyClick(focus, Qt::Key_Escape);
    EXPECT_FALSE(d->isVisible());
}

TEST_F(ConfigWindowTest, DefaultsButtonsStayInTheirColumnsAndOkAndCancelStandApart)
{
    OpenOnce();
    auto d = Open();
    const QRect all = d->Button(Dlg::IDC_ALL_DEFAULTS)->geometry();
    const QRect page = d->Button(Dlg::IDC_PAGE_DEFAULTS)->geometry();
    const QRect ok = d->Button(Dlg::IDC_OK)->geometry();
    const QRect cancel = d->Button(Dlg::IDC_CANCEL)->geometry();
    const QRect column = d->ExceptionPage()->geometry();  // every page has the page column's place
    EXPECT_LT(all.right(), column.left());
    EXPECT_GE(page.left(), column.left());
    EXPECT_LE(page.right(), column.right());
    EXPECT_GE(cancel.left() - ok.right() - 1, 6);
    EXPECT_LE(cancel.right(), d->width() - 8);
    EXPECT_FALSE(page.intersects(ok));
}

// Closes the settings window that runs modally once it is up.
void CloseSettingsWindowSoon(bool* seen)
{
    QTimer::singleShot(50, [seen] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<Dlg*>(w); d && d->isVisible()) {
                *seen = true;
                d->OnClose();
            }
    });
}

TEST_F(ConfigWindowTest, TheMainWindowOpensItFromItsButtonAndItsMenu)
{
    OpenOnce();
    std::vector<std::pair<int, bool>> offered;
    CPrivasweepDlg::s_menuChooser = [&](const std::vector<std::pair<int, bool>>& items) {
        offered = items;
        return 10100;
    };
    bool seen = false;
    CloseSettingsWindowSoon(&seen);
    CPrivasweepDlg::OnBnClickedMenu(nullptr);
    CPrivasweepDlg::s_menuChooser = nullptr;
    ASSERT_FALSE(offered.empty());
    EXPECT_EQ(offered[0], (std::pair<int, bool>{10100, true}));
    EXPECT_TRUE(seen);

    CPrivasweepDlg main;
    ImageButton* config = main.Button(1007);
    ASSERT_NE(config, nullptr);
    EXPECT_TRUE(config->isEnabled());
    seen = false;
    CloseSettingsWindowSoon(&seen);
    config->click();
    EXPECT_TRUE(seen);
    EXPECT_EQ(EventTypes(), kNone);
}

TEST_F(ConfigWindowTest, TheUserSearchWindowTakesTheStoredChoices)
{
    OpenOnce();
    std::u16string drivePath;
    {
        auto d = Open();
        QTreeWidgetItem* drive = FirstDrive(*d);
        ASSERT_NE(drive, nullptr);
        drivePath = FromQ(d->FolderPage()->Tree()->GetItemPath(drive));
        d->FolderPage()->Tree()->SetItemCheckByClick(drive);
        d->PersonalInfoPage()->Box(1)->click();  // account number
        d->PersonalInfoPage()->Box(6)->click();  // IP address
        d->DocumentPage()->Box(4)->click();      // PDF
        Pump();
        d->OnSave();
    }
    CUserSearchDlg user(nullptr);
    user.EnsureInitialized();
    user.ApplyStoredSettings();
    EXPECT_EQ(user.Box(1021)->GetCheck(), 1);  // resident registration number
    EXPECT_EQ(user.Box(1023)->GetCheck(), 0);  // account number
    EXPECT_EQ(user.Box(1026)->GetCheck(), 0);  // IP address
    EXPECT_EQ(user.Box(1031)->GetCheck(), 0);  // PDF
    EXPECT_EQ(user.Box(1028)->GetCheck(), 1);  // HWP
    QTreeWidgetItem* item = user.Tree()->FindItemByPath(ToQ(drivePath));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(CDriveSelectTree::StateImage(item), 1);
    EXPECT_EQ(CDriveSelectTree::StateImage(user.Tree()->topLevelItem(0)), 3);
}

}  // namespace
