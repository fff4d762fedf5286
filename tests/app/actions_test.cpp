// The document action windows through their own interface: delete, except
// (all three modes) and encrypt with their events, stop and X, the password
// window, and the hits window's text.
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QTimer>
#include <sys/stat.h>

#include <filesystem>

#include "app/actiondlg.h"
#include "app/eventrows.h"
#include "app/hitsdlg.h"
#include "app/pwconfirmdlg.h"
#include "app_fixture.h"
#include "core/crypt.h"
#include "core/eventstore/eventtables.h"
#include "core/harrow.h"
#include "core/registry.h"
#include "core/util.h"

namespace ps_test {
namespace {

namespace fs = std::filesystem;

std::u16string U(const std::string& s) { return plat::PathFromNative(s); }

std::vector<std::string> FilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The window's second line says TEXT, and says it whole: it fits its label.
void ExpectLine2(CDocumentActionDlg& dlg, const char16_t* text)
{
    const QString want = QString::fromUtf16(text);
    EXPECT_EQ(dlg.Line2()->text(), want);
    EXPECT_LE(QFontMetrics(dlg.Line2()->font()).horizontalAdvance(want), dlg.Line2()->width()) << want.toStdString();
}

class ActionWindowTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        harrow::Harrow::ModulePathOverride() = U(std::string(PS_BINARY_DIR) + "/bin/harrow32.so");
    }
    void TearDown() override
    {
        harrow::Harrow::ModulePathOverride().clear();
        AppTest::TearDown();
    }
    // Documents with FileInfo rows.
    DocumentList MakeDocuments(const std::string& folder, int n, size_t size = 100)
    {
        fs::create_directories(folder);
        DocumentList list;
        for (int i = 0; i < n; ++i) {
            const std::string path = folder + "/doc" + std::to_string(i) + ".hwp";
            EXPECT_TRUE(WriteFileBytes(path, std::string(size, static_cast<char>('a' + i % 26))));
            SearchFileInfo record;
            record.path = U(path);
            record.documentKey = u"KEY" + plat::AsciiToWide(std::to_string(i));
            PersonalInfoCounts counts;
            counts[0] = 1;
            // The identity the search kept of the file it read.
            struct stat st{};
            EXPECT_EQ(lstat(path.c_str(), &st), 0);
            list.push_back(DocumentItem{U(path), AddFileInfoRow(counts, record), plat::IdentityOf(st)});
        }
        return list;
    }
    static std::unique_ptr<CDocumentActionDlg> MakeWindow(const std::string& action)
    {
        if (action == "delete") return std::make_unique<CDocumentDeleteDlg>();
        if (action == "except") return std::make_unique<CDocumentExceptionDlg>(nullptr, 0);
        auto encrypt = std::make_unique<CDocumentEncryptDlg>();
        encrypt->SetPassword(u"password1");
        return encrypt;
    }
    long long Events(int type) { return Count("SELECT COUNT(*) FROM EventInfo WHERE Type = " + std::to_string(type)); }
    long long RowsOf(int type)
    {
        return Count("SELECT COUNT(*) FROM FileEventLog WHERE EventID IN (SELECT EventID FROM EventInfo WHERE Type = " +
                     std::to_string(type) + ")");
    }
};

TEST_F(ActionWindowTest, DeleteCountsOnlyDocumentsThatAreGone)
{
    DocumentList list = MakeDocuments(dir_.file("del"), 3);
    // The second one is already gone (not deleted here: it does not count
    // and gets no row), a folder in its place stays (does not count).
    fs::remove(plat::PathToNative(list[1].path));
    const std::string stays = dir_.file("del/folder.hwp");
    fs::create_directories(stays);
    list.push_back(DocumentItem{U(stays), 99});

    int count = -1;
    CDocumentDeleteDlg dlg;
    dlg.SetDocuments(&list, &count);
    EXPECT_EQ(RunToEnd(dlg), ps::ui::IDCANCEL);  // not every document was processed
    EXPECT_EQ(count, 2);
    EXPECT_EQ(dlg.ProcessedPositions(), (std::vector<size_t>{0, 2}));
    EXPECT_EQ(dlg.NotHandled(), 2);
    EXPECT_EQ(dlg.NotHandledReason(), u"파일을 찾을 수 없음");
    EXPECT_FALSE(fs::exists(plat::PathToNative(list[0].path)));
    EXPECT_FALSE(fs::exists(plat::PathToNative(list[2].path)));
    EXPECT_TRUE(fs::is_directory(stays));
    EXPECT_EQ(Events(0x1000), 1);
    EXPECT_EQ(Events(0x3000), 1);
    EXPECT_EQ(Events(0x2000), 0);
    EXPECT_EQ(RowsOf(0x3000), 2);
    EXPECT_EQ(Text("SELECT group_concat(FileIndex) FROM FileEventLog"),
              std::to_string(list[0].FileIndex) + "," + std::to_string(list[2].FileIndex));
    EXPECT_EQ(dlg.Line1()->text(), QString::fromUtf16(u"처리 완료"));
    // One gone, one still there: the line tells them apart.
    EXPECT_EQ(dlg.NotFound(), 1);
    ExpectLine2(dlg, u"처리하지 못한 문서 2개: 찾을 수 없는 문서 1개, 그대로 남은 문서 1개");
    EXPECT_EQ(dlg.Title()->text(), QString::fromUtf16(u"문서 삭제 처리"));
}

// A document gone before its turn: deleting or excepting it is not done
// (no row, a reason shown); releasing its exception still is.
TEST_F(ActionWindowTest, AVanishedDocumentIsNotHandledWhereTheActionNeedsIt)
{
    const struct {
        const char* name;
        std::function<std::unique_ptr<CDocumentActionDlg>()> make;
        int end;
        bool handled;
    } cases[] = {
        {"delete", [] { return std::make_unique<CDocumentDeleteDlg>(); }, 0x3000, false},
        {"except", [] { return std::make_unique<CDocumentExceptionDlg>(nullptr, 0); }, 0x30000, false},
        {"release", [] { return std::make_unique<CDocumentExceptionDlg>(nullptr, 2); }, 0x60000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DocumentList list = MakeDocuments(dir_.file(std::string("gone-") + c.name), 2);
        fs::remove(plat::PathToNative(list[0].path));
        int count = -1;
        auto dlg = c.make();
        dlg->SetDocuments(&list, &count);
        RunToEnd(*dlg);
        EXPECT_EQ(count, c.handled ? 2 : 1);
        EXPECT_EQ(dlg->NotHandled(), c.handled ? 0 : 1);
        EXPECT_EQ(dlg->NotHandledReason(), c.handled ? u"" : u"파일을 찾을 수 없음");
        // A document that is gone is never said to be "left as it was".
        if (!c.handled) ExpectLine2(*dlg, u"찾을 수 없는 문서가 1개 있습니다. 아무것도 하지 않았습니다.");
        EXPECT_EQ(RowsOf(c.end), c.handled ? 2 : 1);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM FileEventLog WHERE FileIndex = " + std::to_string(list[0].FileIndex)),
                  c.handled ? 1 : 0);
    }
}

TEST_F(ActionWindowTest, StopAndXEndEachRunWithExactlyOneEvent)
{
    for (bool useX : {false, true}) {
        SCOPED_TRACE(useX);
        const std::string folder = dir_.file(useX ? "x" : "stop");
        DocumentList list = MakeDocuments(folder, 200);
        int count = -1;
        CDocumentDeleteDlg dlg;
        dlg.SetDocuments(&list, &count);
        const long long before2000 = Events(0x2000);
        const int result = RunToEndActing(dlg, [&](CDocumentActionDlg& d) {
            QTimer::singleShot(3, &d, [&d, useX] {
                if (useX) d.OnBnClickedX();
                else d.OnBnClickedStop();
            });
        });
        EXPECT_EQ(result, ps::ui::IDCANCEL);
        EXPECT_LT(count, 200);
        EXPECT_EQ(static_cast<size_t>(count), dlg.Processed().size());
        EXPECT_EQ(Events(0x2000), before2000 + 1);  // one cancellation, no completion
        EXPECT_EQ(Events(0x3000), 0);
        // The rows are exactly the documents gone.
        size_t gone = 0;
        for (const DocumentItem& d : list) gone += fs::exists(plat::PathToNative(d.path)) ? 0 : 1;
        EXPECT_EQ(gone, dlg.Processed().size());
        EXPECT_EQ(static_cast<size_t>(Count("SELECT COUNT(*) FROM FileEventLog WHERE EventID = " +
                                            std::to_string(dlg.CurrentEventId()))),
                  gone);
        if (!useX) {
            EXPECT_EQ(dlg.Line1()->text(), QString::fromUtf16(u"처리 취소"));
        }
    }
}

TEST_F(ActionWindowTest, ExceptionWindowInItsThreeModes)
{
    DocumentList list = MakeDocuments(dir_.file("exc"), 3);
    const struct {
        int mode, start, end;
        const char16_t* title;
        const char16_t* explain;
    } cases[] = {
        {0, 0x10000, 0x30000, u"예외 처리 적용", u"자세한 사항은 [예외처리관리]에서 확인하세요."},
        {1, 0x70000, 0x90000, u"예외 처리 적용", u"자세한 사항은 [예외처리관리]에서 확인하세요."},
        {2, 0x40000, 0x60000, u"처리해제", u"자세한 사항은 [기록보기]에서 확인하세요."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        DocumentList docs = c.mode == 1 ? DocumentList{list[0]} : list;
        int count = 0;
        CDocumentExceptionDlg dlg(nullptr, c.mode);
        dlg.SetDocuments(&docs, &count);
        EXPECT_EQ(RunToEnd(dlg), ps::ui::IDOK);
        EXPECT_EQ(count, static_cast<int>(docs.size()));
        EXPECT_EQ(Events(c.start), 1);
        EXPECT_EQ(Events(c.end), 1);
        EXPECT_EQ(RowsOf(c.end), static_cast<long long>(docs.size()));
        EXPECT_EQ(dlg.Title()->text(), QString::fromUtf16(c.title));
        EXPECT_EQ(dlg.Line2()->text(), QString::fromUtf16(c.explain));
        const std::string startId = Text("SELECT EventID FROM EventInfo WHERE Type = " + std::to_string(c.start));
        if (c.mode == 0) {
            EXPECT_EQ(Count("SELECT COUNT(*) FROM ExceptionInfo WHERE EventID = " + startId), 3);
        } else if (c.mode == 1) {
            // The second exception of a document: two rows for it now.
            EXPECT_EQ(Count("SELECT COUNT(*) FROM ExceptionInfo WHERE EventID = " + startId), 1);
            EXPECT_EQ(Count("SELECT COUNT(*) FROM ExceptionInfo WHERE FileIndex = " + std::to_string(list[0].FileIndex)), 2);
        } else {
            EXPECT_EQ(Count("SELECT COUNT(*) FROM ExceptionInfo"), 0);
            EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo WHERE Hash = ''"), 3);
        }
    }
}

TEST_F(ActionWindowTest, EncryptWindowReplacesDocumentsByVerifiedArchives)
{
    const struct {
        int algorithm, end;
    } cases[] = {{1, 0x300}, {2, 0x400}, {3, 0x500}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.algorithm);
        const std::string folder = dir_.file("enc" + std::to_string(c.algorithm));
        DocumentList list = MakeDocuments(folder, 2, 50000);
        ASSERT_TRUE(WriteFileBytes(plat::PathToNative(list[1].path) + ".zip", "taken"));
        const std::string content0 = ReadFileBytes(plat::PathToNative(list[0].path));
        int count = 0;
        CDocumentEncryptDlg dlg;
        dlg.SetDocuments(&list, &count);
        dlg.SetPassword(u"password1");
        dlg.SetAlgorithm(c.algorithm);
        EXPECT_EQ(RunToEnd(dlg), ps::ui::IDOK);
        EXPECT_EQ(count, 2);
        EXPECT_EQ(Events(0x100), c.algorithm);
        EXPECT_EQ(Events(c.end), 1);
        EXPECT_EQ(RowsOf(c.end), 2);
        EXPECT_FALSE(fs::exists(plat::PathToNative(list[0].path)));
        const std::string zip0 = plat::PathToNative(list[0].path) + ".zip";
        EXPECT_EQ(dlg.Archives()[0], U(zip0));
        EXPECT_EQ(dlg.Archives()[1], list[1].path + u" (2).zip");
        EXPECT_EQ(ReadFileBytes(plat::PathToNative(list[1].path) + ".zip"), "taken");
        EXPECT_EQ(std::system(("7z t -ppassword1 '" + zip0 + "' >/dev/null 2>&1").c_str()), 0);
        EXPECT_EQ(dlg.Line1()->text(), QString::fromUtf16(u"처리 완료"));
    }
}

TEST_F(ActionWindowTest, EncryptFailuresSayWhy)
{
    // One document gone before its turn, one a folder: two reasons, the first
    // one shown with a mark that there are others.
    DocumentList list = MakeDocuments(dir_.file("why"), 3);
    fs::remove(plat::PathToNative(list[1].path));
    fs::remove(plat::PathToNative(list[2].path));
    fs::create_directories(plat::PathToNative(list[2].path));
    int count = -1;
    CDocumentEncryptDlg dlg;
    dlg.SetDocuments(&list, &count);
    dlg.SetPassword(u"password1");
    QString reasonShown;
    bool reasonVisible = false;
    EXPECT_EQ(RunToEndActing(dlg, [&](CDocumentActionDlg&) {}), ps::ui::IDCANCEL);
    reasonShown = dlg.ReasonLine()->text();
    reasonVisible = !dlg.ReasonLine()->isHidden();
    EXPECT_EQ(count, 1);
    EXPECT_EQ(dlg.NotHandled(), 2);
    EXPECT_EQ(dlg.NotHandledReason(), u"파일을 찾을 수 없음");
    ExpectLine2(dlg, u"처리하지 못한 문서 2개: 찾을 수 없는 문서 1개, 그대로 남은 문서 1개");
    EXPECT_TRUE(reasonVisible);
    EXPECT_EQ(reasonShown, QString::fromUtf16(u"사유: 파일을 찾을 수 없음 외"));
    EXPECT_TRUE(fs::is_directory(plat::PathToNative(list[2].path)));
}

TEST_F(ActionWindowTest, EncryptWithoutTheEngineShowsTheFailureAndTouchesNothing)
{
    harrow::Harrow::ModulePathOverride() = U(dir_.file("none/harrow32.so"));
    DocumentList list = MakeDocuments(dir_.file("noengine"), 1);
    int count = -1;
    CDocumentEncryptDlg dlg;
    dlg.SetDocuments(&list, &count);
    dlg.SetPassword(u"password1");
    EXPECT_EQ(dlg.DoModal(), ps::ui::IDCANCEL);
    EXPECT_EQ(count, 0);
    ASSERT_FALSE(messages_.empty());
    EXPECT_EQ(messages_.back(), u"암호화 라이브러리 초기화에 실패하였습니다.");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo"), 0);
    EXPECT_TRUE(fs::exists(plat::PathToNative(list[0].path)));
}

TEST_F(ActionWindowTest, EncryptStoppedDuringALargeDocumentKeepsIt)
{
    // Also when the document stopped is the last one: one cancellation event.
    for (int n : {2, 1}) {
        SCOPED_TRACE(n);
        const std::string folder = dir_.file("big" + std::to_string(n));
        DocumentList list = MakeDocuments(folder, n, 40u << 20);
        int count = -1;
        CDocumentEncryptDlg dlg;
        dlg.SetDocuments(&list, &count);
        dlg.SetPassword(u"password1");
        dlg.SetAlgorithm(3);
        const long long before = Events(0x200);
        EXPECT_EQ(RunToEndActing(dlg, [](CDocumentActionDlg& d) { QTimer::singleShot(30, &d, [&d] { d.OnBnClickedStop(); }); }),
                  ps::ui::IDCANCEL);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(Events(0x200), before + 1);
        EXPECT_EQ(Events(0x500), 0);
        EXPECT_EQ(dlg.Line1()->text(), QString::fromUtf16(u"처리 취소"));
        for (const DocumentItem& d : list) EXPECT_EQ(fs::file_size(plat::PathToNative(d.path)), 40u << 20);
        size_t files = 0;
        for (auto& e : fs::directory_iterator(folder)) files += e.is_regular_file() ? 1 : 0;
        EXPECT_EQ(files, static_cast<size_t>(n));  // no archive, no temporary file
    }
}

// Between the search and the action the document's folder is replaced by a
// link to another folder holding a file of the same name: no action touches
// that file, and the window says the document was not handled and why. A
// folder reached through a link that stays where it leads is acted on.
TEST_F(ActionWindowTest, AnActionActsOnlyOnTheFileTheSearchRead)
{
    for (const std::string action : {"delete", "encrypt", "except"}) {
        for (const bool swapped : {true, false}) {
            SCOPED_TRACE(action + (swapped ? " swapped" : " through a link that stays"));
            const std::string base = dir_.file(action + (swapped ? "-swap" : "-link"));
            const std::string real = base + "/real", other = base + "/other", link = base + "/link";
            DocumentList list = MakeDocuments(real, 1);
            fs::create_directories(other);
            ASSERT_TRUE(WriteFileBytes(other + "/doc0.hwp", "unrelated"));
            fs::create_directory_symlink(real, link);
            list[0].path = U(link + "/doc0.hwp");  // the search went through the user's link
            if (swapped) {
                fs::remove(link);
                fs::create_directory_symlink(other, link);
            }
            int count = -1;
            auto dlg = MakeWindow(action);
            dlg->SetDocuments(&list, &count);
            RunToEnd(*dlg);
            EXPECT_EQ(ReadFileBytes(other + "/doc0.hwp"), "unrelated");
            EXPECT_EQ(FilesIn(other), std::vector<std::string>{"doc0.hwp"});
            if (swapped) {
                EXPECT_EQ(count, 0);
                EXPECT_EQ(dlg->NotHandled(), 1);
                EXPECT_EQ(dlg->NotHandledReason(), kDocumentReplacedText);
                EXPECT_EQ(dlg->Line1()->text(), QString::fromUtf16(u"처리하지 못함"));
                ExpectLine2(*dlg, u"처리하지 못한 문서가 1개 있습니다. 문서가 그대로 남아 있습니다.");
                EXPECT_EQ(dlg->ReasonLine()->toolTip(), QString::fromUtf16(u"사유: 검색한 뒤 문서가 바뀌거나 다른 파일로 바뀜"));
                EXPECT_TRUE(fs::exists(real + "/doc0.hwp"));  // the document searched is still there
                EXPECT_EQ(Count("SELECT COUNT(*) FROM ExceptionInfo"), 0);
            } else {
                EXPECT_EQ(count, 1);
                EXPECT_EQ(dlg->NotHandled(), 0);
                EXPECT_EQ(dlg->Line1()->text(), QString::fromUtf16(u"처리 완료"));
                EXPECT_EQ(fs::exists(real + "/doc0.hwp"), action == "except");
                EXPECT_EQ(fs::exists(real + "/doc0.hwp.zip"), action == "encrypt");
            }
            RawDb(dbPath_).Exec("DELETE FROM ExceptionInfo");
        }
    }
}

// A run that handled none of its documents does not read as a success: the
// heading says so and the reason is shown; a run that handled some keeps
// "처리 완료" with its count of documents not handled.
TEST_F(ActionWindowTest, ARunThatHandledNothingSaysSoWithItsReasons)
{
    for (const std::string action : {"delete", "encrypt", "except"}) {
        for (const int handled : {0, 1}) {
            SCOPED_TRACE(action + " " + std::to_string(handled));
            DocumentList list = MakeDocuments(dir_.file("none-" + action + std::to_string(handled)), 2);
            // Both documents rewritten after the search; the first one searched again.
            const std::string first = plat::PathToNative(list[0].path);
            for (const DocumentItem& d : list) ASSERT_TRUE(WriteFileBytes(plat::PathToNative(d.path), "rewritten after the search"));
            if (handled) {
                struct stat st{};
                ASSERT_EQ(lstat(first.c_str(), &st), 0);
                list[0].identity = plat::IdentityOf(st);
            }
            int count = -1;
            auto dlg = MakeWindow(action);
            dlg->SetDocuments(&list, &count);
            RunToEnd(*dlg);
            EXPECT_EQ(count, handled);
            EXPECT_EQ(dlg->NotHandled(), 2 - handled);
            EXPECT_EQ(dlg->Line1()->text(), QString::fromUtf16(handled ? u"처리 완료" : u"처리하지 못함"));
            EXPECT_FALSE(dlg->ReasonLine()->isHidden());
            EXPECT_EQ(dlg->ReasonLine()->toolTip(), QString::fromUtf16(u"사유: 검색한 뒤 문서가 바뀌거나 다른 파일로 바뀜"));
            EXPECT_EQ(ReadFileBytes(plat::PathToNative(list[1].path)), "rewritten after the search");
            // The record view's line of the run's end says the same.
            const std::u16string line =
                CEventInfoRecord(Count("SELECT MAX(EventID) FROM EventInfo")).GetEventDataText();
            const std::u16string word = action == "delete" ? u"문서삭제" : action == "encrypt" ? u"암호처리" : u"예외처리";
            if (handled)
                EXPECT_EQ(line.rfind(word + u" 완료 (1개 문서 ", 0), 0u) << plat::PathToNative(line);
            else
                EXPECT_EQ(line, word + u"하지 못함 (처리한 문서 없음)") << plat::PathToNative(line);
        }
    }
}

// When the store could not record the run, the window does not send the
// user to the record view to see it.
TEST_F(ActionWindowTest, ARunTheStoreDidNotRecordIsNotSentToTheRecordView)
{
    const struct {
        const char* name;
        const char* refuse;  // refused EventInfo inserts
        const char16_t* line2;
    } cases[] = {
        {"recorded", nullptr, u"자세한 사항은 [기록보기]에서 확인하세요."},
        {"start refused", "NEW.Type = 4096", CDocumentActionDlg::kNotRecordedText},
        {"end refused", "NEW.Type = 12288", CDocumentActionDlg::kNotRecordedText},
    };
    int run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            RawDb raw(dbPath_);
            ASSERT_EQ(0, raw.Exec("DROP TRIGGER IF EXISTS Refuse"));
            if (c.refuse) {
                ASSERT_EQ(0, raw.Exec(std::string("CREATE TRIGGER Refuse BEFORE INSERT ON EventInfo WHEN ") + c.refuse +
                                      " BEGIN SELECT RAISE(ABORT, 'refused'); END"));
            }
        }
        DocumentList list = MakeDocuments(dir_.file("rec" + std::to_string(run++)), 1);
        int count = -1;
        CDocumentDeleteDlg dlg;
        dlg.SetDocuments(&list, &count);
        RunToEnd(dlg);
        EXPECT_EQ(count, 1);
        EXPECT_EQ(dlg.Line1()->text(), QString::fromUtf16(u"처리 완료"));
        ExpectLine2(dlg, c.line2);
    }
}

// ---- Password confirmation ----

class PasswordWindowTest : public AppTest {};

TEST_F(PasswordWindowTest, FirstUseAndTheRefusals)
{
    ArchivePasswordOwner owner;
    CPasswordConfirmDlg dlg;
    dlg.SetOwner(&owner);
    dlg.EnsureInitialized();
    EXPECT_TRUE(dlg.ChangeLetterCheck()->isChecked());
    EXPECT_FALSE(dlg.UseStoredPasswordCheck()->isEnabled());
    EXPECT_FALSE(dlg.UseStoredAlgorithmCheck()->isChecked());
    EXPECT_EQ(dlg.AlgorithmList()->currentIndex(), 2);
    EXPECT_FALSE(dlg.AesExplain1()->isHidden());
    EXPECT_EQ(dlg.PasswordEdit()->echoMode(), QLineEdit::Password);

    dlg.OnBnClickedOk();
    EXPECT_EQ(messages_.back(), u"암호를 입력해주세요.");
    dlg.PasswordEdit()->setText("abc");
    dlg.ConfirmEdit()->setText("abc");
    dlg.OnBnClickedOk();
    EXPECT_EQ(messages_.back(), u"암호는 최소 6자리 이상이어야 합니다.\n확인 후 다시 설정하시기 바랍니다.");
    dlg.PasswordEdit()->setText("abcdef1");
    dlg.ConfirmEdit()->setText("abcdef2");
    EXPECT_TRUE(dlg.ConfirmEntered());
    EXPECT_FALSE(dlg.Valid());
    dlg.OnBnClickedOk();
    EXPECT_EQ(messages_.back(), u"입력하신 암호가 일치하지 않습니다.");
    EXPECT_TRUE(dlg.PasswordEdit()->text().isEmpty());
    EXPECT_TRUE(owner.password.empty());

    // ZIP 2.0 hands over 1 (the stored setting would say 0).
    dlg.AlgorithmList()->setCurrentIndex(0);
    EXPECT_TRUE(dlg.AesExplain1()->isHidden());
    dlg.ChangeLetterCheck()->click();
    EXPECT_EQ(dlg.PasswordEdit()->echoMode(), QLineEdit::Normal);
    dlg.PasswordEdit()->setText("secret1");
    dlg.ConfirmEdit()->setText("secret1");
    EXPECT_TRUE(dlg.Valid());
    dlg.OnBnClickedOk();
    EXPECT_EQ(dlg.result(), ps::ui::IDOK);
    EXPECT_EQ(owner.password, u"secret1");
    EXPECT_EQ(owner.algorithm, 1);
    EXPECT_EQ(GetChangeLetter(), 0u);
    EXPECT_EQ(actions_.back(), 37);
}

TEST_F(PasswordWindowTest, StoredPasswordAndAlgorithm)
{
    WriteRegistryString(HKEY_CURRENT_USER_ROOT, SettingsKey(), u"CryptPassword", EncryptSettingsPassword(u"stored-pw"),
                        false);
    SetUsePassword(1);
    WriteRegistryDword(HKEY_CURRENT_USER_ROOT, SettingsKey(), u"CryptAlgorithm", 1, false);
    SetUseCryptAlgorithm(1);
    ArchivePasswordOwner owner;
    CPasswordConfirmDlg dlg;
    dlg.SetOwner(&owner);
    dlg.EnsureInitialized();
    const QString mask = QString::fromUtf16(CPasswordConfirmDlg::kStoredMask);
    EXPECT_FALSE(dlg.PasswordEdit()->isEnabled());
    // The stored password is never shown, nor its length, whatever the mask
    // toggle says: the fields hold one fixed stand-in.
    for (bool maskChecked : {true, false, true, false}) {
        dlg.ChangeLetterCheck()->SetCheck(maskChecked);
        dlg.OnBnClickedChangeLetter();
        EXPECT_EQ(dlg.PasswordEdit()->displayText(), mask) << maskChecked;
        EXPECT_EQ(dlg.ConfirmEdit()->displayText(), mask) << maskChecked;
        EXPECT_EQ(dlg.PasswordEdit()->text(), mask) << maskChecked;
    }
    EXPECT_FALSE(dlg.AlgorithmList()->isEnabled());
    EXPECT_EQ(dlg.AlgorithmList()->currentIndex(), 1);
    EXPECT_NE(std::find(actions_.begin(), actions_.end(), 15), actions_.end());
    dlg.OnBnClickedOk();
    EXPECT_EQ(owner.password, u"stored-pw");
    EXPECT_EQ(owner.algorithm, 2);
    EXPECT_EQ(GetUseCryptAlgorithm(), 1u);
    for (int a : {36, 38, 40}) EXPECT_NE(std::find(actions_.begin(), actions_.end(), a), actions_.end()) << a;
}

TEST_F(PasswordWindowTest, TheMaskToggleShowsOnlyWhatTheUserTypes)
{
    WriteRegistryString(HKEY_CURRENT_USER_ROOT, SettingsKey(), u"CryptPassword", EncryptSettingsPassword(u"stored-pw"),
                        false);
    SetChangeLetter(0);  // remembered from an earlier run: unmasked
    SetUsePassword(0);
    CPasswordConfirmDlg dlg;
    dlg.EnsureInitialized();
    // Typed text follows the toggle.
    EXPECT_EQ(dlg.PasswordEdit()->echoMode(), QLineEdit::Normal);
    // The stored password, taken with the toggle off, stays masked...
    dlg.UseStoredPasswordCheck()->SetCheck(true);
    dlg.OnBnClickedUseStoredPassword();
    const QString mask = QString::fromUtf16(CPasswordConfirmDlg::kStoredMask);
    EXPECT_EQ(dlg.PasswordEdit()->displayText(), mask);
    EXPECT_EQ(dlg.ConfirmEdit()->displayText(), mask);
    // ...and given up, the fields are empty and follow the toggle again.
    dlg.UseStoredPasswordCheck()->SetCheck(false);
    dlg.OnBnClickedUseStoredPassword();
    EXPECT_TRUE(dlg.PasswordEdit()->text().isEmpty());
    EXPECT_EQ(dlg.PasswordEdit()->echoMode(), QLineEdit::Normal);
    // Remembered choices open the next window with the stored one masked.
    dlg.UseStoredPasswordCheck()->SetCheck(true);
    dlg.OnBnClickedUseStoredPassword();
    dlg.OnBnClickedOk();
    CPasswordConfirmDlg next;
    next.EnsureInitialized();
    EXPECT_EQ(next.PasswordEdit()->displayText(), mask);
}

// Stored passwords of different lengths look alike in the window.
TEST_F(PasswordWindowTest, TheStoredPasswordsLengthDoesNotShow)
{
    QString shown[2];
    int i = 0;
    for (const char16_t* password : {u"eleven-char", u"8-chars!"}) {
        WriteRegistryString(HKEY_CURRENT_USER_ROOT, SettingsKey(), u"CryptPassword", EncryptSettingsPassword(password),
                            false);
        SetUsePassword(1);
        ArchivePasswordOwner owner;
        CPasswordConfirmDlg dlg;
        dlg.SetOwner(&owner);
        dlg.EnsureInitialized();
        shown[i++] = dlg.PasswordEdit()->displayText() + u'|' + dlg.ConfirmEdit()->displayText();
        dlg.OnBnClickedOk();
        EXPECT_EQ(owner.password, password);
    }
    EXPECT_EQ(shown[0], shown[1]);
}

// ---- Hits window ----

TEST_F(PasswordWindowTest, HitsWindowNamesItsDocument)
{
    SearchFileInfo doc;
    doc.SetFolderAndName(u"/home/tester/문서", u"고객 명단.pdf");
    doc.fileIndex = 12345;  // no stored hits: an empty list, not a failure
    CPersonalInfoDlg dlg;
    dlg.SetFileInfo(&doc);
    dlg.EnsureInitialized();
    const QString heading = dlg.findChild<QLabel*>(QString::number(CPersonalInfoDlg::IDC_HEADING))->text();
    EXPECT_TRUE(heading.contains(QString::fromUtf16(u"고객 명단.pdf"))) << heading.toStdString();
    EXPECT_TRUE(dlg.windowTitle().contains(QString::fromUtf16(u"고객 명단.pdf")));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // the busy pointer is gone once the hits are in
}

TEST(HitsWindowText, KindsInResultOrderWithinTheMask)
{
    PersonalInfoTextLists lists;
    lists[3] = {u"010-****-6789", u"02-***-4567"};  // telephone
    lists[5] = {u"ab***@example.com"};            // e-mail
    EXPECT_EQ(CPersonalInfoDlg::BuildHitsText(lists, 0xFFFF),
              u"\r\n[전화번호]\r\n010-****-6789\r\n02-***-4567\r\n\r\n[이메일]\r\nab***@example.com\r\n\r\n");
    EXPECT_EQ(CPersonalInfoDlg::BuildHitsText(lists, 0xFFFF & ~0x08u), u"\r\n[이메일]\r\nab***@example.com\r\n\r\n");
    PersonalInfoTextLists money;
    money[1] = {u"card"};
    money[2] = {u"account"};
    EXPECT_EQ(CPersonalInfoDlg::BuildHitsText(money, 0x7F), u"\r\n[계좌번호]\r\naccount\r\n\r\n[신용카드]\r\ncard\r\n\r\n");
    EXPECT_EQ(CPersonalInfoDlg::BuildHitsText(PersonalInfoTextLists{}, 0xFFFF), u"\r\n");
}

}  // namespace
}  // namespace ps_test
