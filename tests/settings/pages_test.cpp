// The password page (store, change, remove, refusals, nothing in plain form
// anywhere), the log page (day count, whole-log delete and save), the
// exception page, and the window's commands with a store that refuses
// their events.
#include <QStyle>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/exceptionlistdlg.h"
#include "core/crypt.h"
#include "core/eventstore/eventtables.h"
#include "settings/configdlg.h"
#include "settings/configpages.h"
#include "settings/passwordpage.h"
#include "platform/text.h"
#include "settings/settings_fixture.h"

using namespace ps_test;
using namespace ps::ui;

namespace {

using Dlg = CConfigurationDlg;

class PageTest : public SettingsTest {
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        // The lists and kinds are stored, so opening writes no event.
        SetStr(u"PersonalInfo", u"1|1|1|1|1|1|1|");
        SetStr(u"KindOfDocument", u"1|1|1|1|1|");
        SetDword(u"LogSaveLimitDay", 120);
        // The first opening stores the folders (without an event).
        Dlg first;
        first.show();
        Pump();
        first.OnClose();
        ClearEvents();
        actions_.clear();
    }
    std::unique_ptr<Dlg> Open(int page = 0)
    {
        auto d = std::make_unique<Dlg>();
        d->show();
        Pump();
        if (page) d->OnTab(page);
        return d;
    }
    static void Type(QLineEdit* e, const char* text)
    {
        e->setFocus();
        QTest::keyClicks(e, text);
        Pump();
    }
    static void Retype(QLineEdit* e, const char* text)
    {
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        Type(e, text);
    }
    std::u16string StoredPassword() { return DecryptSettingsPassword(Str(u"CryptPassword")); }

    // Every file below the folders: true when one holds the text (in UTF-8
    // or in UTF-16LE).
    static bool AnyFileHolds(const std::vector<std::string>& roots, const std::string& text)
    {
        std::string wide;
        for (char c : text) {
            wide.push_back(c);
            wide.push_back('\0');
        }
        for (const auto& root : roots) {
            std::error_code ec;
            for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
                 !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
                if (!it->is_regular_file(ec)) continue;
                const std::string bytes = ReadFileBytes(it->path().string());
                if (bytes.find(text) != std::string::npos || bytes.find(wide) != std::string::npos) return true;
            }
        }
        return false;
    }
};

TEST_F(PageTest, PasswordIsStoredEncipheredAndNowhereInPlainForm)
{
    const char kPassword[] = "Qv7pLm2x";
    auto d = Open(Dlg::kPasswordPage);
    CPasswordSettingPage* page = d->PasswordPage();
    EXPECT_FALSE(page->CurrentEdit()->isEnabled());
    EXPECT_EQ(page->CurrentEdit()->text(), QStringLiteral("적용된 암호가 없습니다."));
    EXPECT_TRUE(page->NewEdit()->isEnabled());
    EXPECT_EQ(page->NewEdit()->echoMode(), QLineEdit::Password);
    // Masked with '*', as the mask check box's text "암호를 *로 표시" says.
    for (QLineEdit* e : {page->CurrentEdit(), page->NewEdit(), page->ConfirmEdit()})
        EXPECT_EQ(e->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, e), '*');
    Type(page->NewEdit(), kPassword);
    EXPECT_EQ(page->NewEdit()->displayText(), QString(8, u'*'));
    Type(page->ConfirmEdit(), kPassword);
    EXPECT_TRUE(page->IsNewValid());
    EXPECT_EQ(d->ChangeFlag(3), 1);
    d->OnSave();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(EventTypes(), (std::vector<long long>{0x4000000}));
    EXPECT_TRUE(actions_.empty());
    const std::u16string stored = Str(u"CryptPassword");
    EXPECT_FALSE(stored.empty());
    EXPECT_EQ(stored.find_first_not_of(u"0123456789abcdef"), std::u16string::npos);
    EXPECT_EQ(StoredPassword(), u"Qv7pLm2x");
    // The edits were emptied once the password was stored.
    EXPECT_TRUE(page->NewEdit()->text().isEmpty());
    EXPECT_TRUE(page->ConfirmEdit()->text().isEmpty());
    EXPECT_FALSE(page->NewEdit()->isUndoAvailable());
    d.reset();
    std::vector<std::string> profile = {dir_.path()};
    for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"})
        if (const char* v = std::getenv(var)) profile.push_back(v);
    EXPECT_FALSE(AnyFileHolds(profile, kPassword));
    EXPECT_TRUE(AnyFileHolds(profile, plat::WideToUtf8(stored)));  // the search itself finds what is there
}

TEST_F(PageTest, ChangingNeedsTheStoredPasswordTypedExactly)
{
    SetStr(u"CryptPassword", EncryptSettingsPassword(u"oldpass1"));
    auto d = Open(Dlg::kPasswordPage);
    CPasswordSettingPage* page = d->PasswordPage();
    EXPECT_TRUE(page->CurrentEdit()->isEnabled());
    EXPECT_TRUE(page->CurrentEdit()->text().isEmpty());
    EXPECT_FALSE(page->NewEdit()->isEnabled());
    EXPECT_FALSE(page->ConfirmEdit()->isEnabled());
    Type(page->CurrentEdit(), "oldpass");
    EXPECT_FALSE(page->NewEdit()->isEnabled());
    Type(page->CurrentEdit(), "1");
    EXPECT_TRUE(page->IsCurrentCorrect());
    EXPECT_TRUE(page->NewEdit()->isEnabled());
    Type(page->NewEdit(), "newpass2");
    Type(page->ConfirmEdit(), "newpass2");
    // A wrong current password afterwards disables the fields but keeps them.
    Type(page->CurrentEdit(), "x");
    EXPECT_FALSE(page->NewEdit()->isEnabled());
    EXPECT_EQ(page->NewEdit()->text(), QStringLiteral("newpass2"));
    d->OnSave();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(StoredPassword(), u"newpass2");
    EXPECT_EQ(EventTypes(), (std::vector<long long>{0x4000000}));
}

TEST_F(PageTest, DefaultsRemoveThePassword)
{
    SetStr(u"CryptPassword", EncryptSettingsPassword(u"oldpass1"));
    SetDword(u"UsePassword", 1);
    SetDword(u"CryptAlgorithm", 0);
    auto d = Open(Dlg::kPasswordPage);
    d->OnPageDefaults();
    EXPECT_EQ(Str(u"CryptPassword"), u"<none>");
    EXPECT_EQ(Dword(u"UsePassword"), 0xDEADBEEFu);
    EXPECT_EQ(Dword(u"CryptAlgorithm"), 2u);
    EXPECT_EQ(EventTypes(), (std::vector<long long>{0x4000000}));
    EXPECT_EQ(actions_, (std::vector<int>{80}));
    CPasswordSettingPage* page = d->PasswordPage();
    EXPECT_FALSE(page->CurrentEdit()->isEnabled());
    EXPECT_TRUE(page->NewEdit()->isEnabled());
    EXPECT_EQ(page->AlgorithmBox()->currentIndex(), 2);
    // Also with nothing stored, the defaults are written and recorded.
    ClearEvents();
    d->OnPageDefaults();
    EXPECT_EQ(EventTypes(), (std::vector<long long>{0x4000000}));
}

TEST_F(PageTest, AStoredValueThatDoesNotDecipherCountsAsNoPassword)
{
    for (const char16_t* damaged : {u"zz-not-hex", u"00112233", u"0123456789abcdef0123456789abcdef"}) {
        SetStr(u"CryptPassword", damaged);
        auto d = Open(Dlg::kPasswordPage);
        EXPECT_FALSE(d->PasswordPage()->HasStoredPassword()) << plat::WideToUtf8(damaged);
        EXPECT_TRUE(d->PasswordPage()->NewEdit()->isEnabled());
        d->OnClose();
    }
}

TEST_F(PageTest, ShortAndMismatchedPasswordsAreRefused)
{
    {
        // Five characters, new field first: OK refuses and shows the page.
        auto d = Open();
        d->OnTab(Dlg::kPasswordPage);
        Type(d->PasswordPage()->NewEdit(), "abcde");
        Type(d->PasswordPage()->ConfirmEdit(), "abcde");
        d->OnTab(Dlg::kLogPage);
        d->OnSave();
        EXPECT_TRUE(d->isVisible());
        EXPECT_EQ(d->CurrentIndex(), Dlg::kPasswordPage);
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_EQ(messages_[0].substr(0, 8), u"암호는 최소 6");
        EXPECT_EQ(Str(u"CryptPassword"), u"<none>");
        d->OnClose();
    }
    messages_.clear();
    {
        // The same typed the other way round is never reported as pending.
        auto d = Open(Dlg::kPasswordPage);
        Type(d->PasswordPage()->ConfirmEdit(), "abcde");
        Type(d->PasswordPage()->NewEdit(), "abcde");
        d->OnSave();
        EXPECT_FALSE(d->isVisible());
        EXPECT_TRUE(messages_.empty());
        EXPECT_EQ(Str(u"CryptPassword"), u"<none>");
    }
    {
        // Equal once, then the second one emptied: nothing stored, no message.
        auto d = Open(Dlg::kPasswordPage);
        Type(d->PasswordPage()->NewEdit(), "abcdefgh");
        Type(d->PasswordPage()->ConfirmEdit(), "abcdefgh");
        Retype(d->PasswordPage()->ConfirmEdit(), "");
        d->OnSave();
        EXPECT_FALSE(d->isVisible());
        EXPECT_TRUE(messages_.empty());
        EXPECT_EQ(Str(u"CryptPassword"), u"<none>");
    }
    {
        // Equal once, then different: refused; the pages before stay saved.
        auto d = Open(Dlg::kPasswordPage);
        d->DocumentPage()->Box(1)->click();
        Type(d->PasswordPage()->NewEdit(), "abcdefg");
        Type(d->PasswordPage()->ConfirmEdit(), "abcdefg");
        Retype(d->PasswordPage()->ConfirmEdit(), "abcdefh");
        d->OnSave();
        EXPECT_TRUE(d->isVisible());
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_EQ(messages_[0], u"암호를 다시 확인해주세요.");
        EXPECT_EQ(Str(u"CryptPassword"), u"<none>");
        EXPECT_EQ(EventTypes(), (std::vector<long long>{0x3000000}));
        EXPECT_EQ(Str(u"KindOfDocument"), u"1|0|1|1|1|");
        // Corrected, OK stores the password; the saved page is not written twice.
        Retype(d->PasswordPage()->ConfirmEdit(), "abcdefg");
        d->OnSave();
        EXPECT_FALSE(d->isVisible());
        EXPECT_EQ(StoredPassword(), u"abcdefg");
        EXPECT_EQ(EventTypes(), (std::vector<long long>{0x3000000, 0x4000000}));
    }
}

TEST_F(PageTest, AlgorithmAloneWritesOnlyTheAlgorithm)
{
    const std::tuple<int, long long, int> cases[] = {{0, 0x8000000, 75}, {1, 0x9000000, 76}, {2, 0xA000000, 77}};
    for (auto [index, event, action] : cases) {
        ClearEvents();
        actions_.clear();
        auto d = Open(Dlg::kPasswordPage);
        CDropDownButton* box = d->PasswordPage()->AlgorithmBox();
        box->setCurrentIndex(index);
        emit box->activated(index);
        EXPECT_EQ(d->PasswordPage()->AesExplain(1)->isVisibleTo(d->PasswordPage()), index != 0);
        Pump();
        d->OnSave();
        EXPECT_EQ(Dword(u"CryptAlgorithm"), static_cast<uint32_t>(index));
        EXPECT_EQ(EventTypes(), (std::vector<long long>{event}));
        EXPECT_EQ(actions_, (std::vector<int>{action}));
        EXPECT_EQ(Str(u"CryptPassword"), u"<none>");
    }
}

TEST_F(PageTest, NeitherSpaceNorHangulGetIntoAPasswordField)
{
    auto d = Open(Dlg::kPasswordPage);
    QLineEdit* e = d->PasswordPage()->NewEdit();
    Type(e, "ab");
    QTest::keyClick(e, Qt::Key_Space);
    Type(e, "cd");
    EXPECT_EQ(e->text(), QStringLiteral("abcd"));
    // Unmasked on request.
    d->PasswordPage()->MaskBox()->click();
    EXPECT_EQ(e->echoMode(), QLineEdit::Normal);
}

TEST_F(PageTest, TheLogPageStoresTheDayCount)
{
    auto d = Open(Dlg::kLogPage);
    QSpinBox* days = d->LogPage()->DaysBox();
    days->setFocus();
    days->selectAll();
    QTest::keyClicks(days, "30");
    Pump();
    EXPECT_EQ(d->ChangeFlag(5), 1);
    d->OnSave();
    EXPECT_EQ(Dword(u"LogSaveLimitDay"), 30u);
    EXPECT_EQ(EventTypes(), (std::vector<long long>{0x7000000}));
}

TEST_F(PageTest, TheSaveNameHasBlankPaddedHourAndMinute)
{
    const std::pair<QDateTime, const char*> cases[] = {
        {QDateTime(QDate(2026, 3, 7), QTime(9, 5)), "PrivasweepLog_20260307_ 9 5"},
        {QDateTime(QDate(2026, 12, 31), QTime(23, 59)), "PrivasweepLog_20261231_2359"},
        {QDateTime(QDate(2026, 1, 1), QTime(0, 0)), "PrivasweepLog_20260101_ 0 0"},
    };
    for (const auto& [when, name] : cases) EXPECT_EQ(CLogSettingPage::InitialFileName(when).toStdString(), name);
}

TEST_F(PageTest, SavingTheWholeLogWritesTheFileAndThenItsEvent)
{
    AddEvent(3);
    AddEvent(0x300);
    auto d = Open(Dlg::kLogPage);
    QString proposed;
    std::string answer = dir_.file("whole-log");
    Seams().clock = [] { return QDateTime(QDate(2026, 3, 7), QTime(9, 5)); };
    Seams().fileDialog = [&](QWidget*, const QString&, const QString& name, const QString&, bool save) {
        EXPECT_TRUE(save);
        proposed = name;
        return QString::fromStdString(answer);
    };
    d->LogPage()->OnBnClickedSaveLog();
    EXPECT_EQ(proposed, QStringLiteral("PrivasweepLog_20260307_ 9 5"));
    const std::string bytes = ReadFileBytes(answer + ".csv");
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), '\n');
    EXPECT_EQ(bytes.find('\r'), std::string::npos);
    EXPECT_EQ(EventTypes(), (std::vector<long long>{3, 0x300, 0x5000000}));
    EXPECT_EQ(actions_, (std::vector<int>{33}));
    // Cancelled, or a file that cannot be created: nothing is recorded; only
    // the file that cannot be created is told.
    for (std::string path : {std::string(), dir_.file("no/such/folder/log.csv")}) {
        answer = path;
        d->LogPage()->OnBnClickedSaveLog();
        EXPECT_EQ(EventTypes().size(), 3u) << path;
    }
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], u"기록 파일을 만들 수 없습니다.\n" + plat::PathFromNative(dir_.file("no/such/folder/log.csv")));
    // Closing the window with cancel does not undo the save.
    d->OnClose();
    EXPECT_EQ(EventTypes().size(), 3u);
}

TEST_F(PageTest, DeletingTheWholeLogLeavesOneEvent)
{
    AddEvent(3);
    AddEvent(0x10000);
    auto d = Open(Dlg::kLogPage);
    answer_ = IDCANCEL;
    d->LogPage()->OnBnClickedDeleteLog();
    EXPECT_EQ(EventTypes(), (std::vector<long long>{3, 0x10000}));
    answer_ = IDOK;
    d->LogPage()->OnBnClickedDeleteLog();
    EXPECT_EQ(EventTypes(), (std::vector<long long>{0x6000000}));
    EXPECT_EQ(actions_, (std::vector<int>{32, 32}));
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[0], u"모든 기록을 삭제하시겠습니까?");
}

TEST_F(PageTest, TheExceptionPageOpensTheExceptionListAndChangesNothing)
{
    auto d = Open(Dlg::kExceptionPage);
    bool seen = false;
    QTimer::singleShot(50, [&seen] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* list = qobject_cast<CExceptionConfigurationDlg*>(w); list && list->isVisible()) {
                seen = true;
                list->CloseButton()->click();
            }
    });
    d->ExceptionPage()->OperateButton()->click();
    EXPECT_TRUE(seen);
    EXPECT_EQ(actions_, (std::vector<int>{27}));
    Pump();
    EXPECT_FALSE(d->IsChanged());
    d->OnSave();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(EventTypes(), (std::vector<long long>{}));
}

// A store that refuses the events: every command of the window that records
// events tells once why they were not kept, and does its work all the same.
TEST_F(PageTest, EachCommandTellsOnceThatItsEventsWereNotStored)
{
    SetEventStoreRetryPause(std::chrono::milliseconds(1));
    auto refuseEvents = [this](bool refuse) {
        RawDb raw(dbPath_);
        EXPECT_EQ(0, raw.Exec("DROP TRIGGER IF EXISTS Refuse"));
        if (refuse) {
            EXPECT_EQ(0, raw.Exec("CREATE TRIGGER Refuse BEFORE INSERT ON EventInfo "
                                  "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        }
    };
    auto storeMessages = [this] {
        int n = 0;
        for (const auto& m : messages_) n += m.find(u"이벤트 데이터베이스에 기록하지 못했습니다: ") != std::u16string::npos;
        return n;
    };
    struct Case {
        const char* name;
        std::function<void()> before;       // before the window opens
        std::function<void(Dlg&)> command;  // none: the opening is the command
        std::function<bool(Dlg&)> done;     // the work happened
        size_t events;                      // events written when the store works
    };
    const std::string logFile = dir_.file("log.csv");
    const Case cases[] = {
        {"OK with three changed pages", nullptr,
         [](Dlg& d) {
             d.PersonalInfoPage()->Box(1)->click();
             d.DocumentPage()->Box(4)->click();
             d.LogPage()->SetDays(30);
             Pump();
             d.OnSave();
         },
         [](Dlg& d) {
             return !d.isVisible() && Str(u"KindOfDocument") == u"1|1|1|1|0|" && Dword(u"LogSaveLimitDay") == 30;
         },
         3},
        {"all defaults",
         [] { SetStr(u"PersonalInfo", u"1|0|0|0|0|0|0|"); },
         [](Dlg& d) { d.OnAllDefaults(); },
         [](Dlg& d) { return d.isVisible() && Str(u"PersonalInfo") == u"1|1|1|1|1|1|1|"; },
         4},
        {"the page's defaults",
         [] { SetStr(u"KindOfDocument", u"0|0|0|0|1|"); },
         [](Dlg& d) {
             d.OnTab(Dlg::kDocumentPage);
             d.OnPageDefaults();
         },
         [](Dlg&) { return Str(u"KindOfDocument") == u"1|1|1|1|1|"; }, 1},
        {"opening with damaged lists stores their defaults",
         [] {
             SetStr(u"PersonalInfo", u"damaged");
             SetStr(u"KindOfDocument", u"1|");
         },
         nullptr,
         [](Dlg& d) { return d.isVisible() && Str(u"KindOfDocument") == u"1|1|1|1|1|"; }, 2},
        {"the whole log saved",
         [&logFile] {
             std::filesystem::remove(logFile);
             Seams().fileDialog = [&logFile](QWidget*, const QString&, const QString&, const QString&, bool) {
                 return QString::fromStdString(logFile);
             };
         },
         [](Dlg& d) {
             d.OnTab(Dlg::kLogPage);
             d.LogPage()->OnBnClickedSaveLog();
         },
         [&logFile](Dlg&) { return std::filesystem::exists(logFile); }, 1},
        {"the whole log deleted", [] { AddEvent(3); },
         [](Dlg& d) {
             d.OnTab(Dlg::kLogPage);
             d.LogPage()->OnBnClickedDeleteLog();
         },
         [this](Dlg&) { return EventTypes().size() <= 1; }, 1},
    };
    for (const Case& c : cases) {
        for (const bool refuse : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (refuse ? ", store refuses" : ", store fine"));
            SetStr(u"PersonalInfo", u"1|1|1|1|1|1|1|");
            SetStr(u"KindOfDocument", u"1|1|1|1|1|");
            SetDword(u"LogSaveLimitDay", 120);
            refuseEvents(false);
            ClearEvents();
            if (c.before) c.before();
            refuseEvents(refuse);
            messages_.clear();
            auto d = Open();
            if (c.command) c.command(*d);
            Pump();
            EXPECT_EQ(storeMessages(), refuse ? 1 : 0);
            EXPECT_TRUE(c.done(*d));
            EXPECT_EQ(EventTypes().size(), refuse ? 0u : c.events);
            d->OnClose();
            // Closing writes nothing, so tells nothing more.
            EXPECT_EQ(storeMessages(), refuse ? 1 : 0);
            Seams().fileDialog = nullptr;
        }
    }
    SetEventStoreRetryPause(std::chrono::milliseconds(100));
}

}  // namespace
