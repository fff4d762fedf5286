// The error report after an abnormal end (a real one: a search process
// killed inside a document) and the exception list: rows, the detail panel,
// releases by check boxes and by the row menu, and the searches before and
// after.
#include <QHeaderView>
#include <QPainter>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>

#include "app/actiondlg.h"
#include "app/errorreportdlg.h"
#include "app/eventpanels.h"
#include "app/exceptionlistdlg.h"
#include "app/filereport.h"
#include "app/maindlg.h"
#include "app_fixture.h"
#include "core/eventstore/eventtables.h"
#include "core/registry.h"
#include "core/util.h"
#include "extract/pdf/pdf_builder.h"
#include "platform/crashnote.h"
#include "platform/system.h"
#include "platform/text.h"
#include "search/extractors.h"

namespace ps_test {
namespace {

namespace fs = std::filesystem;

const char kResident[] = "800101-1234560";

std::u16string U(const std::string& s) { return plat::PathFromNative(s); }

void SetLastCheckFile(const std::u16string& value)
{
    WriteRegistryString(HKEY_CURRENT_USER_ROOT, kRunKey, u"lastCheckFile", value, false);
}

// Runs a window modally and acts on it once it is shown.
template <typename Dlg>
int RunWith(Dlg& dlg, const std::function<void(Dlg&)>& act)
{
    QTimer::singleShot(0, &dlg, [&dlg, act] { act(dlg); });
    return dlg.DoModal();
}

// The PDF reader of the search tests: every document holds a resident
// number; the names read are noted; a document named "hold.pdf" holds the
// analysis thread until the process ends.
std::mutex g_readLock;
std::vector<std::u16string> g_read;
EntryResult NotingPdf(const char16_t* path, const char16_t*, std::u16string* text, ReadError*)
{
    const std::u16string p = path ? path : u"";
    {
        std::lock_guard<std::mutex> g(g_readLock);
        g_read.push_back(p);
    }
    if (GetFileNamePart(p) == u"hold.pdf")
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    if (!text) return EntryResult::Failed;
    *text = u"ID 800101-1234560\n";
    return EntryResult::Read;
}

// The program's readers with the noting PDF reader: what the search windows
// of these tests read with.
ExtractorTable NotingReaders()
{
    ExtractorTable t = DefaultExtractorTable();
    t.pdf = &NotingPdf;
    return t;
}

// The documents read from its making on.
struct NotingReader {
    NotingReader()
    {
        std::lock_guard<std::mutex> g(g_readLock);
        g_read.clear();
    }
    bool Read(const std::string& name) const
    {
        std::lock_guard<std::mutex> g(g_readLock);
        for (const auto& p : g_read)
            if (GetFileNamePart(p) == U(name)) return true;
        return false;
    }
};

bool g_openedDocument = false;
bool NoteOpen(const std::u16string&)
{
    g_openedDocument = true;
    return true;
}

class ExceptionTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        ps::ui::Seams().showInFolder = [this](const QString& p) {
            shownInFolder_.push_back(p.toStdString());
            return true;
        };
        g_openedDocument = false;
        previousOpen_ = SetOpenWithAssociationHook(&NoteOpen);
    }
    void TearDown() override
    {
        SetOpenWithAssociationHook(previousOpen_);
        CPrivasweepDlg::s_errorReportRunner = nullptr;
        AppTest::TearDown();
    }
    std::string MakeDocs(const std::vector<std::string>& names)
    {
        const std::string root = dir_.file("docs");
        fs::create_directories(root);
        for (const auto& n : names)
            EXPECT_TRUE(WriteFileBytes(root + "/" + n,
                                       pdf_test::MakePdf({pdf_test::ShowLines({std::string("ID ") + kResident})})));
        return root;
    }
    // A user search over the folder with the mask 0x7F; the number of
    // documents it found (excepted ones are not found).
    size_t Search(const std::string& root)
    {
        CAllSearchDlg dlg;
        dlg.SetReaders(NotingReaders());
        dlg.SetSearchMode(1);
        dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
        dlg.show();
        EXPECT_TRUE(WaitFor([&] { return dlg.SearchEventId() != 0; }));
        EXPECT_TRUE(WaitIdle(dlg));
        return dlg.FoundCount();
    }
    long long Events(int type) { return Count("SELECT COUNT(*) FROM EventInfo WHERE Type = " + std::to_string(type)); }
    long long Exceptions() { return Count("SELECT COUNT(*) FROM ExceptionInfo"); }

    std::vector<std::string> shownInFolder_;
    OpenWithAssociationHook previousOpen_ = nullptr;
};

// ---- lastCheckFile and the error report ----------------------------------------------------

TEST(LastCheckFileValue, TheFirstNonEmptyLineNamesTheDocument)
{
    const struct {
        const char16_t* value;
        const char16_t* first;
    } cases[] = {
        {u"/d/a.pdf", u"/d/a.pdf"},
        {u"/d/a.pdf\n/d/b.hwp\n", u"/d/a.pdf"},
        {u"\n\n/d/b.hwp\n/d/a.pdf", u"/d/b.hwp"},
        {u"\n\n", u""},
        {u"", u""},
        {u"/d/with space.pdf", u"/d/with space.pdf"},
        // Names are written escaped, one a line: a line end in a name stays in it.
        {u"/d/two\\x0Alines.pdf\n/d/b.hwp", u"/d/two\nlines.pdf"},
    };
    for (const auto& c : cases) EXPECT_EQ(FirstLastCheckFile(c.value), c.first) << std::u16string(c.value).size();
}

// The note a reader's fault leaves, naming path.
bool WriteCrashNote(const std::string& path)
{
    plat::MakeDirs(plat::VendorSubdir(plat::StateDir()));
    return WriteFileBytes(plat::PathToNative(plat::CrashNotePath()), path + "\n");
}

TEST_F(ExceptionTest, ExceptFromTheErrorReportKeysTheDocumentAsTheSearchDid)
{
    const std::string path = dir_.file("big doc.hwp");
    ASSERT_TRUE(WriteFileBytes(path, std::string(1234, 'x')));
    SetLastCheckFile(U(path) + u"\n" + U(dir_.file("other.pdf")) + u"\n");
    // The reader's fault named it: the report names that one alone.
    ASSERT_TRUE(WriteCrashNote(path));
    WriteRegistryDword(HKEY_CURRENT_USER_ROOT, kRunKey, u"findPSInfoFlag", 0x1F, false);

    CErrorReportDlg dlg;
    dlg.actionWindowRunner = RunToEnd;
    const int result = RunWith<CErrorReportDlg>(dlg, [this, &path](CErrorReportDlg& d) {
        EXPECT_EQ(d.Path(), U(path));
        EXPECT_EQ(d.Paths(), std::vector<std::u16string>{U(path)});
        d.OpenFolderButton()->click();
        EXPECT_EQ(shownInFolder_, std::vector<std::string>{path});
        EXPECT_TRUE(d.isVisible());  // the window stays open
        d.ExceptButton()->click();
    });
    EXPECT_EQ(result, ps::ui::IDOK);
    EXPECT_EQ(actions_, (std::vector<int>{81, 82, 83}));

    // A FileInfo row with zero counts and the key the search computes.
    SearchFileInfo record;
    record.path = U(path);
    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    record.fileSize = 1234;
    record.lastWriteTime = plat::FileTimeFromTimespec(st.st_mtim);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo"), 1);
    EXPECT_EQ(Text("SELECT Hash FROM FileInfo"), plat::WideToUtf8(MakeDocumentKey(record, 0x1F)));
    EXPECT_EQ(Text("SELECT Name FROM FileInfo"), "big doc.hwp");
    EXPECT_EQ(Count("SELECT ID + Account + CreditCard + PhoneNumber + Address + EMail + IPAddress FROM FileInfo"), 0);
    EXPECT_EQ(Events(0x70000), 1);
    EXPECT_EQ(Events(0x90000), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM ExceptionInfo E JOIN EventInfo V ON E.EventID = V.EventID "
                    "WHERE V.Type = 458752"),
              1);
    // Excepting leaves lastCheckFile; closing would clear it.
    EXPECT_EQ(ReadLastCheckFile(), U(path) + u"\n" + U(dir_.file("other.pdf")) + u"\n");
}

// Killed from outside while several documents were being read: nothing can
// tell which ended the run, so each is listed with its own buttons, and
// excepting one excepts that one only. A crash note naming a document that
// was not in hand (left by another run) accuses nobody.
TEST_F(ExceptionTest, SeveralDocumentsInHandAreEachListedWithTheirOwnButtons)
{
    const std::string a = dir_.file("a.hwp"), b = dir_.file("b\nline.pdf"), c = dir_.file("c.docx");
    for (const std::string& f : {a, b, c}) ASSERT_TRUE(WriteFileBytes(f, std::string(100, 'x')));
    SetLastCheckFile(plat::EscapeLine(U(a)) + u"\n" + plat::EscapeLine(U(b)) + u"\n" + plat::EscapeLine(U(c)));
    ASSERT_TRUE(WriteCrashNote(dir_.file("elsewhere.pdf")));
    CErrorReportDlg dlg;
    dlg.actionWindowRunner = RunToEnd;
    const int result = RunWith<CErrorReportDlg>(dlg, [&](CErrorReportDlg& d) {
        ASSERT_EQ(d.Paths(), (std::vector<std::u16string>{U(a), U(b), U(c)}));
        EXPECT_FALSE(d.ExceptButton()->isVisible());
        EXPECT_FALSE(d.OpenFolderButton()->isVisible());
        ASSERT_NE(d.RowExceptButton(1), nullptr);
        EXPECT_TRUE(d.RowExceptButton(1)->isVisible());
        d.RowOpenFolderButton(2)->click();
        EXPECT_EQ(shownInFolder_, std::vector<std::string>{c});
        d.RowExceptButton(1)->click();
        EXPECT_TRUE(d.isVisible());  // the others may still be excepted
        EXPECT_FALSE(d.RowExceptButton(1)->isEnabled());
        EXPECT_TRUE(d.RowExceptButton(0)->isEnabled());
        // Every row inside the window, above the close button.
        const QPoint last = d.RowExceptButton(2)->mapTo(&d, QPoint(0, d.RowExceptButton(2)->height()));
        EXPECT_LT(last.y(), d.CloseButton()->y());
        d.CloseButton()->click();
    });
    EXPECT_EQ(result, ps::ui::IDOK);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo"), 1);
    EXPECT_EQ(Text("SELECT Name FROM FileInfo"), "b\nline.pdf");
    EXPECT_EQ(ReadLastCheckFile(), u"");
    EXPECT_EQ(plat::ReadCrashNote(), u"");
}

TEST_F(ExceptionTest, DamagedOrVanishedDocumentsAreNeverExceptedAndTheReportStillCloses)
{
    const std::string folder = dir_.file("a folder.pdf");
    fs::create_directories(folder);
    const std::string empty = dir_.file("empty.pdf");
    ASSERT_TRUE(WriteFileBytes(empty, ""));
    const struct {
        std::u16string value;
        bool message;  // "ERROR_REPORT_FAIL_FOUND_FILE"
    } cases[] = {
        {U(dir_.file("gone.pdf")), true},
        {u"relative/doc.pdf", true},
        {U(folder), true},
        {U(empty), false},  // nothing to except, nothing said
        {plat::PathFromNative(dir_.file("bad\xff\xfe name.pdf")), true},
        {std::u16string(5000, u'a'), true},
        {u"\n\n\x01\x7f", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(plat::WideToUtf8(c.value.substr(0, 80)));
        messages_.clear();
        SetLastCheckFile(c.value);
        CErrorReportDlg dlg;
        dlg.actionWindowRunner = [](CDocumentActionDlg&) {
            ADD_FAILURE() << "no exception window for this document";
            return 0;
        };
        EXPECT_EQ(RunWith<CErrorReportDlg>(dlg, [](CErrorReportDlg& d) { d.ExceptButton()->click(); }), ps::ui::IDOK);
        EXPECT_EQ(messages_, c.message ? std::vector<std::u16string>{u"오류 문서 정보를 가져오는데 실패하였습니다."}
                                       : std::vector<std::u16string>{});
        EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo"), 0);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo"), 0);
        EXPECT_EQ(Exceptions(), 0);
        // The user can always close it: close and X clear the value.
        for (int x = 0; x < 2; ++x) {
            SetLastCheckFile(c.value);
            CErrorReportDlg again;
            const int r = RunWith<CErrorReportDlg>(again, [x](CErrorReportDlg& d) {
                d.OpenFolderButton()->click();
                (x ? d.XButton() : d.CloseButton())->click();
            });
            EXPECT_EQ(r, x ? 2 : ps::ui::IDOK);
            EXPECT_EQ(ReadLastCheckFile(), u"");
        }
    }

    // A value the key store cannot read back (a damaged side file) reads as
    // empty: no report at start-up.
    const std::string side = std::string(getenv("XDG_CONFIG_HOME")) + "/Norvane/Privasweep/registry.conf-lastcheckfile";
    SetLastCheckFile(u"/x.pdf");
    ASSERT_TRUE(fs::exists(side));
    ASSERT_TRUE(WriteFileBytes(side, "PSV1 99999\n\xff\xfe"));
    EXPECT_EQ(ReadLastCheckFile(), u"");
    bool shown = false;
    CPrivasweepDlg::s_errorReportRunner = [&shown](CErrorReportDlg&) {
        shown = true;
        return 1;
    };
    {
        CPrivasweepDlg main;
        main.EnsureInitialized();
        QTest::qWait(300);
        main.OnExit();
    }
    EXPECT_FALSE(shown);
}

// ---- An abnormal end, for real ------------------------------------------------------------------

// The child of the test below: a search whose analysis is held inside one
// document until the parent kills the process.
TEST(CrashChild, SearchHeldInsideADocument)
{
    const char* root = getenv("PS_CRASH_ROOT");
    if (!root) GTEST_SKIP() << "run by ExceptionTest.AbnormalEnd... only";
    // The parent's per-user folders (this process made its own at start).
    WriteFileBytes(getenv("PS_CRASH_NOTE"), getenv("HOME"));
    for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"})
        setenv(v, getenv((std::string("PS_CRASH_") + v).c_str()), 1);
    OpenEventDatabase(plat::PathFromNative(getenv("PS_CRASH_DB")));
    NotingReader reader;
    CAllSearchDlg dlg;
    dlg.SetReaders(NotingReaders());
    dlg.SetSearchMode(1);
    dlg.SetSearchOptions(0x7F, 0x1F, {U(root)}, {});
    dlg.show();
    for (;;) QApplication::processEvents(QEventLoop::AllEvents, 50);
}

TEST_F(ExceptionTest, AbnormalEndInsideADocumentIsReportedAndTheDocumentExcepted)
{
    const std::string root = MakeDocs({"a.pdf", "b.pdf", "hold.pdf", "c.pdf"});
    const std::string hold = root + "/hold.pdf";

    // A search process ends inside hold.pdf: killed while its analysis is
    // held there.
    QProcess child;
    QStringList env = QProcess::systemEnvironment();
    env << "PS_CRASH_ROOT=" + QString::fromStdString(root) << "PS_CRASH_DB=" + QString::fromStdString(dbPath_)
        << "PS_CRASH_NOTE=" + QString::fromStdString(dir_.file("child-home"));
    for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"})
        env << QString("PS_CRASH_%1=%2").arg(v, getenv(v));
    child.setEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=CrashChild.*"});
    ASSERT_TRUE(child.waitForStarted());
    const bool inside = WaitFor([&] { return FirstLastCheckFile(ReadLastCheckFile()) == U(hold); }, 120000);
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    child.waitForFinished(10000);
    if (const std::string home = ReadFileBytes(dir_.file("child-home")); !home.empty()) {
        std::error_code ec;
        fs::remove_all(home, ec);
    }
    ASSERT_TRUE(inside) << "the child never reached hold.pdf";
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(Events(4), 1);  // the child's search began and never ended
    EXPECT_EQ(Events(6) + Events(5), 0);

    // The next start shows the report with that document; except it.
    std::u16string reported;
    CPrivasweepDlg::s_errorReportRunner = [&reported, &hold](CErrorReportDlg& report) {
        report.actionWindowRunner = RunToEnd;
        return RunWith<CErrorReportDlg>(report, [&reported, &hold](CErrorReportDlg& d) {
            reported = d.Path();
            // Another document may have been in hand beside it: then each
            // has its own row, and the held one is excepted by its own.
            const auto& paths = d.Paths();
            const auto it = std::find(paths.begin(), paths.end(), U(hold));
            if (paths.size() > 1 && it != paths.end()) {
                reported = *it;
                d.RowExceptButton(static_cast<size_t>(it - paths.begin()))->click();
                d.EndDialog(ps::ui::IDOK);
            } else {
                d.ExceptButton()->click();
            }
        });
    };
    {
        CPrivasweepDlg main;
        main.EnsureInitialized();
        ASSERT_TRUE(WaitFor([&] { return !reported.empty(); }, 5000));
        EXPECT_EQ(reported, U(hold));
    }
    EXPECT_EQ(Events(0x70000), 1);
    EXPECT_EQ(Events(0x90000), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM ExceptionInfo E JOIN FileInfo F ON E.FileIndex = F.FileIndex "
                    "WHERE F.Name = 'hold.pdf'"),
              1);
    EXPECT_EQ(FirstLastCheckFile(ReadLastCheckFile()), U(hold));

    // The start after that shows it again until closed; close clears it.
    reported.clear();
    CPrivasweepDlg::s_errorReportRunner = [&reported](CErrorReportDlg& report) {
        return RunWith<CErrorReportDlg>(report, [&reported](CErrorReportDlg& d) {
            reported = d.Path();
            d.CloseButton()->click();
        });
    };
    {
        CPrivasweepDlg main;
        main.EnsureInitialized();
        ASSERT_TRUE(WaitFor([&] { return !reported.empty(); }, 5000));
    }
    EXPECT_EQ(ReadLastCheckFile(), u"");

    // The next search (same mask) passes the document by, unread.
    NotingReader reader;
    EXPECT_EQ(Search(root), 3u);
    EXPECT_FALSE(reader.Read("hold.pdf"));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo WHERE Name = 'hold.pdf'"), 1);  // the exception's own
    EXPECT_EQ(Events(6), 1);
}

// ---- The exception list -----------------------------------------------------------------------

TEST_F(ExceptionTest, ExceptionListShowsReleasesAndTheSearchFindsTheDocumentsAgain)
{
    const std::string root = MakeDocs({"one.pdf", "two.pdf", "three.pdf"});
    {
        NotingReader reader;
        ASSERT_EQ(Search(root), 3u);
    }
    // Except one and two from the search window's action, three from the
    // error report.
    auto fileIndex = [this](const char* name) {
        return static_cast<int64_t>(Count(std::string("SELECT FileIndex FROM FileInfo WHERE Name = '") + name + "'"));
    };
    const int64_t added = AddEvent(0x10000);
    ASSERT_TRUE(AddExceptionInfo(fileIndex("one.pdf"), added));
    ASSERT_TRUE(AddExceptionInfo(fileIndex("two.pdf"), added));
    ASSERT_TRUE(AddExceptionInfo(fileIndex("three.pdf"), AddEvent(0x70000)));
    {
        NotingReader reader;
        EXPECT_EQ(Search(root), 0u);
    }

    CExceptionConfigurationDlg dlg;
    dlg.actionWindowRunner = RunToEnd;
    RunWith<CExceptionConfigurationDlg>(dlg, [&](CExceptionConfigurationDlg& d) {
        CExceptionReportControl* list = d.Report();
        ASSERT_EQ(list->RecordCount(), 3);
        EXPECT_FALSE(d.PanelCollapsed());
        std::set<std::u16string> names;
        for (int i = 0; i < 3; ++i) {
            CExceptionInfoRecord* row = list->Record(i);
            names.insert(row->DisplayName());
            EXPECT_EQ(row->Folder(), U(root));
            EXPECT_EQ(row->GetDocumentPath(), U(root) + u"/" + std::u16string(row->FileInfo()->FileName()));
            EXPECT_NE(row->IconIndex(), 0);
            EXPECT_FALSE(list->Model()->item(i, 1)->icon().isNull());
            EXPECT_EQ(list->Model()->item(i, 2)->text().toStdU16String(), U(root));
        }
        EXPECT_EQ(names, (std::set<std::u16string>{u"one.pdf", u"two.pdf", u"three.pdf (오류문서)"}));
        // The panel: the first entry's counts and user; a selection shows
        // the selected row's.
        const QString user = ps::ui::ToQ(plat::UserName());
        EXPECT_EQ(d.Panel()->Label(1129)->text(), QString::fromUtf16(u"주민(외국인)등록번호 : 1"));
        EXPECT_EQ(d.Panel()->Label(1136)->text(), QString::fromUtf16(u"사용자 : ") + user);
        list->setCurrentIndex(list->IndexOf(list->Record(2)));
        EXPECT_EQ(d.Panel()->user, plat::UserName());
        EXPECT_EQ(d.Panel()->counts[0], 1);
        EXPECT_EQ(d.OnUserMessage(UM_EXCEPTION_SELECTED, 7, 0), static_cast<qintptr>(0x80004005));

        // Release with nothing checked: only the message.
        d.ReleaseButton()->click();
        EXPECT_EQ(messages_.back(), u"선택된 내용이 없습니다.");
        EXPECT_EQ(Events(0x40000), 0);

        // The header checks all and clears all.
        list->OnHeaderCheckClick();
        EXPECT_TRUE(list->HeaderChecked());
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(list->IsChecked(list->Record(i)));
        list->OnHeaderCheckClick();
        EXPECT_FALSE(list->HeaderChecked());
        for (int i = 0; i < 3; ++i) EXPECT_FALSE(list->IsChecked(list->Record(i)));

        // Tick "one" and the error document by clicking their check cells.
        CExceptionInfoRecord* one = nullptr;
        CExceptionInfoRecord* three = nullptr;
        CExceptionInfoRecord* two = nullptr;
        for (int i = 0; i < 3; ++i) {
            CExceptionInfoRecord* row = list->Record(i);
            (row->FileInfo()->FileName() == u"one.pdf" ? one : row->FileInfo()->FileName() == u"two.pdf" ? two : three) = row;
        }
        for (CExceptionInfoRecord* row : {one, three}) {
            const QRect cell = list->visualRect(list->IndexOf(row));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
            EXPECT_TRUE(list->IsChecked(row));
        }
        d.ReleaseButton()->click();
        ASSERT_EQ(list->RecordCount(), 1);
        EXPECT_EQ(list->Record(0), two);
        EXPECT_TRUE(d.PanelCollapsed());
        EXPECT_EQ(d.Panel()->user, u"");
        EXPECT_EQ(Events(0x40000), 1);
        EXPECT_EQ(Events(0x60000), 1);
        EXPECT_EQ(Exceptions(), 1);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo WHERE Hash = ''"), 2);

        // The row menu: open and properties name the real path; release.
        int command = 10000;
        list->menuChooser = [&command] { return command; };
        list->ShowContextMenu(two, QPoint());
        EXPECT_TRUE(g_openedDocument);
        command = 10007;
        list->ShowContextMenu(two, QPoint());
        EXPECT_NE(messages_.back().find(u"two.pdf"), std::u16string::npos);
        command = 10008;
        list->ShowContextMenu(two, QPoint());
        EXPECT_EQ(list->RecordCount(), 0);
        EXPECT_FALSE(list->HeaderChecked());
        d.CloseButton()->click();
    });
    EXPECT_EQ(Events(0x40000), 2);
    EXPECT_EQ(Events(0x60000), 2);
    EXPECT_EQ(Exceptions(), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo WHERE Hash = ''"), 3);
    EXPECT_EQ(actions_.back(), 31);

    // Released: the next search finds and reads them again.
    NotingReader reader;
    EXPECT_EQ(Search(root), 3u);
    EXPECT_TRUE(reader.Read("one.pdf") && reader.Read("two.pdf") && reader.Read("three.pdf"));
}

TEST_F(ExceptionTest, ErrorReportButtonsStandApartInsideTheWindow)
{
    CErrorReportDlg dlg;
    dlg.EnsureInitialized();
    const QRect a = dlg.ExceptButton()->geometry(), b = dlg.OpenFolderButton()->geometry(),
                c = dlg.CloseButton()->geometry();
    for (const QRect& r : {a, b, c}) EXPECT_TRUE(dlg.rect().contains(r)) << r.x();
    EXPECT_GE(b.left() - a.right(), 6);
    EXPECT_GE(c.left() - b.right(), 6);
    EXPECT_LE(std::abs(a.left() - (dlg.width() - 1 - c.right())), 1);  // centred
}

TEST_F(ExceptionTest, ExceptionListOpensCentredOnTheWindowThatOpenedIt)
{
    QWidget settings;
    settings.setGeometry(433, 143, 478, 400);
    settings.show();
    CExceptionConfigurationDlg dlg(&settings);
    dlg.EnsureInitialized();
    EXPECT_EQ(dlg.size(), QSize(730, 480));
    // Within a pixel (halves of odd sizes round down).
    EXPECT_LE((dlg.geometry().center() - settings.geometry().center()).manhattanLength(), 2);
}

TEST_F(ExceptionTest, AFailedReleaseLeavesTheListAsItWasAndSaysSo)
{
    const std::string root = MakeDocs({"kept.pdf", "gone.pdf"});
    SearchFileInfo kept, gone;
    kept.path = U(root + "/kept.pdf");
    gone.path = U(root + "/gone.pdf");
    kept.documentKey = u"K1";
    const int64_t k = AddFileInfoRow(PersonalInfoCounts{}, kept);
    const int64_t event = AddEvent(0x10000);
    // Excepted twice: the release takes both rows or neither.
    ASSERT_TRUE(AddExceptionInfo(k, event));
    ASSERT_TRUE(AddExceptionInfo(k, AddEvent(0x10000)));
    // The key cannot be blanked: the release's second step fails.
    {
        RawDb db(dbPath_);
        ASSERT_EQ(db.Exec("CREATE TRIGGER keep_key BEFORE UPDATE OF Hash ON FileInfo "
                          "BEGIN SELECT RAISE(ABORT, 'refused'); END;"),
                  0);
    }
    CExceptionConfigurationDlg dlg;
    dlg.actionWindowRunner = RunToEnd;
    RunWith<CExceptionConfigurationDlg>(dlg, [&](CExceptionConfigurationDlg& d) {
        ASSERT_EQ(d.Report()->RecordCount(), 2);
        d.Report()->menuChooser = [] { return 10008; };
        d.Report()->ShowContextMenu(d.Report()->Record(0), QPoint());
        EXPECT_EQ(d.Report()->RecordCount(), 2);
        EXPECT_EQ(d.NoticeLine()->text(),
                  QString::fromUtf16(u"1개 문서의 예외처리를 해제하지 못했습니다. 목록에 그대로 남아 있습니다."));
        d.XButton()->click();
    });
    EXPECT_EQ(Exceptions(), 2);
    EXPECT_EQ(Text("SELECT Hash FROM FileInfo WHERE FileIndex = " + std::to_string(k)), "K1");
    // The run is logged with no document processed.
    EXPECT_EQ(Events(0x40000), 1);
    EXPECT_EQ(Events(0x60000), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM FileEventLog"), 0);

    // An unreadable list opens empty and says so.
    {
        RawDb db(dbPath_);
        ASSERT_EQ(db.Exec("DROP TABLE ExceptionInfo"), 0);
    }
    CExceptionConfigurationDlg broken;
    RunWith<CExceptionConfigurationDlg>(broken, [](CExceptionConfigurationDlg& d) {
        EXPECT_TRUE(d.LoadFailed());
        EXPECT_EQ(d.Report()->RecordCount(), 0);
        EXPECT_TRUE(d.PanelCollapsed());
        EXPECT_EQ(d.NoticeLine()->text(), QString::fromUtf16(CExceptionConfigurationDlg::kLoadFailedText));
        d.CloseButton()->click();
    });
}

// The check box of both report controls: where it lands and what it leaves
// of the cell, by alignment.
TEST(ReportCheckBox, PlacedByTheColumnsAlignment)
{
    QImage image(60, 40, QImage::Format_ARGB32);
    const struct {
        Qt::Alignment alignment;
        QRect drawn, left;  // the box drawn, the cell left over
    } cases[] = {
        {Qt::AlignLeft, QRect(13, 13, 13, 13), QRect(25, 10, 25, 20)},
        {Qt::AlignHCenter, QRect(24, 13, 13, 13), QRect(10, 10, 40, 20)},
        {Qt::AlignRight, QRect(36, 13, 13, 13), QRect(10, 10, 25, 20)},
        {Qt::AlignLeft | Qt::AlignTop, QRect(13, 11, 13, 13), QRect(25, 10, 25, 20)},
        {Qt::AlignLeft | Qt::AlignBottom, QRect(13, 16, 13, 13), QRect(25, 10, 25, 20)},
    };
    for (const auto& c : cases) {
        image.fill(Qt::white);
        QPainter p(&image);
        QRect rc(10, 10, 40, 20);
        EXPECT_EQ(DrawReportCheckBox(p, rc, false, c.alignment), c.drawn) << int(c.alignment);
        EXPECT_EQ(rc, c.left) << int(c.alignment);
    }
    // Checked and unchecked boxes differ.
    QImage a(20, 20, QImage::Format_ARGB32), b(20, 20, QImage::Format_ARGB32);
    a.fill(Qt::white);
    b.fill(Qt::white);
    QRect r1(0, 0, 19, 20), r2(0, 0, 19, 20);
    {
        QPainter pa(&a), pb(&b);
        DrawReportCheckBox(pa, r1, false);
        DrawReportCheckBox(pb, r2, true);
    }
    EXPECT_NE(a, b);
}

}  // namespace
}  // namespace ps_test
