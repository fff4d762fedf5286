// The event-log window with its rows, detail views and date popup, the
// record delete and record export windows, and the export file.
#include <QApplication>
#include <QCalendarWidget>
#include <QRegularExpression>
#include <QKeyEvent>
#include <QTest>
#include <filesystem>

#include "app/eventlogdlg.h"
#include "settings/configdlg.h"
#include "app/logexport.h"
#include "app/maindlg.h"
#include "app/recorddlgs.h"
#include "app_fixture.h"
#include "core/eventstore/eventlogqueries.h"
#include "core/eventstore/eventtables.h"
#include "core/eventstore/eventtypes.h"
#include "core/util.h"

namespace ps_test {
namespace {

using ps::ui::IDCANCEL;
using ps::ui::IDOK;

QString Q(const char16_t* s) { return QString::fromUtf16(s); }

// Reads comma-separated text as RFC 4180 does: quoted fields may hold
// commas, line breaks and doubled quotes. Records end in CR LF or LF.
std::vector<std::vector<std::u16string>> ReadCsv(const std::u16string& text)
{
    std::vector<std::vector<std::u16string>> rows;
    std::vector<std::u16string> row;
    std::u16string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            row.push_back(field);
            field.clear();
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            row.push_back(field);
            field.clear();
            rows.push_back(row);
            row.clear();
        } else {
            field += c;
        }
    }
    if (!field.empty() || !row.empty()) {
        row.push_back(field);
        rows.push_back(row);
    }
    return rows;
}

class EventLogTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        SetEventStoreRetryPause(std::chrono::milliseconds(0));
        today_ = DayOf(DateToday());
    }
    void TearDown() override
    {
        CEventLogDlg::s_beforeRun = nullptr;
        CMainShowLogDlg::s_beforeRun = nullptr;
        OpenWithAssociationHook prev = SetOpenWithAssociationHook(nullptr);
        (void)prev;
        SetEventStoreRetryPause(std::chrono::milliseconds(100));
        AppTest::TearDown();
    }

    // An event with its date, time and user set as given (0 keeps today's).
    int64_t Event(int32_t type, const std::string& user = "", int y = 0, int m = 0, int d = 0,
                  const std::string& time = "")
    {
        const int64_t id = AddEvent(type);
        RawDb db(dbPath_);
        const std::string where = " WHERE EventID = " + std::to_string(id);
        if (!user.empty())
            db.Exec("UPDATE EventInfo SET User = '" + user + "'" + where);
        if (y)
            db.Exec("UPDATE EventInfo SET Year = " + std::to_string(y) + ", Month = " + std::to_string(m) +
                    ", Day = " + std::to_string(d) + where);
        if (!time.empty())
            db.Exec("UPDATE EventInfo SET Time = '" + time + "'" + where);
        return id;
    }
    // An action end with its documents (FileInfo rows made for them).
    int64_t Action(int32_t type, const std::vector<std::u16string>& names, const std::string& user = "")
    {
        const int64_t id = Event(type, user);
        for (const auto& n : names) {
            SearchFileInfo d;
            d.SetFolderAndName(u"/home/user/문서", n);
            d.documentKey = u"K" + n;
            const int64_t file = AddFileInfoRow(PersonalInfoCounts{}, d);
            AddFileEventLog(id, file);
        }
        return id;
    }
    int64_t SearchEnd(int32_t type, const PersonalInfoCounts& c, const DocumentKindCounts& k,
                      const std::string& user = "")
    {
        const int64_t id = Event(type, user);
        AddSearchEventLog(id, c, k);
        return id;
    }

    // The window, initialised but not shown (its modal run is not needed).
    std::unique_ptr<CEventLogDlg> OpenLog()
    {
        auto dlg = std::make_unique<CEventLogDlg>();
        dlg->EnsureInitialized();
        return dlg;
    }
    static std::vector<std::u16string> Column(CEventLogDlg& dlg, int column)
    {
        std::vector<std::u16string> out;
        EventListModel* m = dlg.List()->Model();
        for (int r = 0; r < m->rowCount(); ++r)
            out.push_back(m->data(m->index(r, column), Qt::DisplayRole).toString().toStdU16String());
        return out;
    }
    static std::vector<int64_t> Ids(CEventLogDlg& dlg)
    {
        std::vector<int64_t> out;
        EventListModel* m = dlg.List()->Model();
        for (int r = 0; r < m->rowCount(); ++r)
            out.push_back(m->Record(r)->EventId());
        return out;
    }
    // Lets the one-shot refill timer run.
    static void Refill(CEventLogDlg& dlg)
    {
        WaitFor([&] { return !dlg.HasTimer(CEventLogDlg::IDT_REFILL_EVENTS); }, 2000);
    }

    DateRecord today_;
};

// ---- Event texts ----

TEST_F(EventLogTest, EveryKindOfEventReadsAsItsText)
{
    struct Case {
        int64_t id;
        const char16_t* text;
        const char16_t* kind;
    };
    const std::vector<Case> cases = {
        {SearchEnd(3, {}, {3, 1, 0, 0, 2}), u"전체검색 완료 (개인 정보 포함 문서 6개 발견)", u"검색"},
        {SearchEnd(5, {}, {0, 0, 0, 0, 1}), u"사용자검색 중지 (개인 정보 포함 문서 1개 발견)", u"검색"},
        {Event(3), u"전체검색 완료 (개인 정보 포함 문서 0개 발견)", u"검색"},  // no search log row
        {Event(1), u"전체검색 시작", u"검색"},
        {Action(0x500, {u"a.hwp", u"b.pdf"}), u"암호처리 완료 (2개 문서 암호처리, AES 256bit 알고리즘으로 암호화)", u"암호처리"},
        {Action(0x300, {u"a.hwp"}), u"암호처리 완료 (1개 문서 암호처리, ZIP 2.0 호환 알고리즘으로 암호화)", u"암호처리"},
        {Action(0x200, {u"a.hwp", u"b.pdf"}), u"암호처리 중지 (2개 문서 암호처리)", u"암호처리"},
        {Action(0x3000, {u"a.hwp", u"b.doc", u"c.xls"}), u"문서삭제 완료 (3개 문서 문서삭제)", u"문서삭제"},
        {Action(0x90000, {u"x.hwp"}), u"예외처리 완료 (1개 문서 예외처리, 오류문서)", u"예외처리"},
        {Action(0x60000, {u"x.hwp"}), u"예외처리 해제 완료 (1개 문서 예외처리 해제)", u"예외처리"},
        // A completed run that stored no document handled none: it does not
        // read as a success. A stopped one says it was stopped.
        {Action(0x500, {}), u"암호처리하지 못함 (처리한 문서 없음)", u"암호처리"},
        {Action(0x300, {}), u"암호처리하지 못함 (처리한 문서 없음)", u"암호처리"},
        {Action(0x3000, {}), u"문서삭제하지 못함 (처리한 문서 없음)", u"문서삭제"},
        {Action(0x30000, {}), u"예외처리하지 못함 (처리한 문서 없음)", u"예외처리"},
        {Action(0x60000, {}), u"예외처리 해제하지 못함 (처리한 문서 없음)", u"예외처리"},
        {Action(0x90000, {}), u"예외처리하지 못함 (처리한 문서 없음, 오류문서)", u"예외처리"},
        {Action(0x200, {}), u"암호처리 중지 (0개 문서 암호처리)", u"암호처리"},
        {Action(0x2000, {}), u"문서삭제 중지 (0개 문서 문서삭제)", u"문서삭제"},
        {Event(0x70000), u"예외처리 시작", u"예외처리"},
        {Event(0x7000000), u"기록 보관 날짜 변경", u"기타"},
        {Event(0x4000000), u"암호변경", u"기타"},
        {Event(7), u"", u"검색"},
        {Event(0), u"", u""},
    };
    for (const Case& c : cases) {
        CEventInfoRecord r(c.id);
        EXPECT_EQ(r.GetEventDataText(), c.text) << c.id;
        EXPECT_EQ(r.GetKindText(), c.kind) << c.id;
    }
    // A document whose stored result is gone is counted but not listed.
    const int64_t del = Action(0x3000, {u"a.hwp", u"b.hwp"});
    RawDb(dbPath_).Exec("DELETE FROM FileInfo WHERE Name = 'a.hwp'");
    CEventInfoRecord r(del);
    EXPECT_EQ(r.GetEventDataText(), u"문서삭제 완료 (2개 문서 문서삭제)");
    const auto docs = r.GetDocuments();
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_EQ(docs[0].FileName(), u"b.hwp");
    EXPECT_EQ(docs[0].path, u"/home/user/문서/b.hwp");
    // An id without an event still gives a row.
    CEventInfoRecord missing(999999);
    EXPECT_EQ(missing.GetDateTimeText(), u"0-00-00 ::");
    EXPECT_EQ(missing.GetEventDataText(), u"");
    EXPECT_EQ(missing.GetKindText(), u"");
}

TEST_F(EventLogTest, PlainTextsAndKindTextsForTheExport)
{
    std::u16string t = u"keep";
    GetPlainEventText(0x70000, t);
    EXPECT_EQ(t, u"예외처리 시작");
    GetPlainEventText(0x80000, t);
    EXPECT_EQ(t, u"예외처리 중지");
    GetPlainEventText(0x90000, t);
    EXPECT_EQ(t, u"예외처리 완료");
    GetPlainEventText(0x300, t);
    EXPECT_EQ(t, u"암호처리 완료");
    t = u"keep";
    GetPlainEventText(7, t);
    EXPECT_EQ(t, u"keep");
    int kind = 9;
    std::u16string kt = u"x";
    GetEventKindText(0, kind, kt);
    EXPECT_EQ(kind, 9);
    EXPECT_EQ(kt, u"x");
    GetEventKindText(static_cast<int32_t>(0xA000000), kind, kt);
    EXPECT_EQ(kind, 5);
    EXPECT_EQ(kt, u"기타");
    EXPECT_EQ(KindMask(9), EVENT_MASK_ALL);
    EXPECT_EQ(KindMask(5), EVENT_MASK_SETTINGS);
}

// ---- Export file ----

TEST_F(EventLogTest, ExportReadsBackAsTheRowsWithCommasQuoted)
{
    const int64_t search = SearchEnd(6, PersonalInfoCounts{1, 0, 0, 0, 0, 2, 0}, {3, 0, 0, 0, 1}, "kim, minsu");
    RawDb(dbPath_).Exec("UPDATE EventInfo SET Year = 2013, Month = 3, Day = 3, Time = '090507' WHERE EventID = " +
                        std::to_string(search));
    const int64_t del = Action(0x3000, {u"a.hwp", u"b.hwp", u"c.hwp", u"d.hwp", u"e.hwp"}, "lee \"jr\"");
    const int64_t settings = Event(0x2000000, "park");
    const int64_t start = Event(0x1000, "choi");
    const std::vector<int64_t> ids = {search, del, settings, start};
    const std::string file = dir_.file("log.csv");

    ASSERT_TRUE(WriteEventLogExport(plat::PathFromNative(file), ids, true));
    const std::string bytes = ReadFileBytes(file);
    ASSERT_FALSE(bytes.empty());
    EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");  // no byte-order mark
    // Every line ends in CR LF; Korean texts are double-byte code page 949.
    size_t lf = 0, crlf = 0;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n') {
            ++lf;
            if (i > 0 && bytes[i - 1] == '\r')
                ++crlf;
        }
    EXPECT_EQ(lf, 5u);
    EXPECT_EQ(crlf, 5u);
    EXPECT_EQ(bytes.substr(0, 4), ToNarrow(u"일시"));
    EXPECT_EQ(ToNarrow(u"일시").size(), 4u);

    const auto rows = ReadCsv(ToWide(bytes));
    const std::vector<std::vector<std::u16string>> expected = {
        {u"일시", u"분류", u"이벤트내용", u"사용자", u"문서", u"주민번호", u"계좌번호", u"신용카드", u"전화번호",
         u"주소", u"이메일", u"IP주소"},
        {u"2013-03-03 09:05", u"검색", u"사용자검색 완료", u"kim, minsu", u"4", u"1", u"0", u"0", u"0", u"0", u"2",
         u"0"},
        {u"", u"문서삭제", u"문서삭제 완료", u"lee \"jr\"", u"5", u"", u"", u"", u"", u"", u"", u""},
        {u"", u"기타", u"개인정보종류 설정변경", u"park", u"", u"", u"", u"", u"", u"", u"", u""},
        {u"", u"문서삭제", u"문서삭제 시작", u"choi", u"", u"", u"", u"", u"", u"", u"", u""},
    };
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t r = 0; r < rows.size(); ++r) {
        ASSERT_EQ(rows[r].size(), 12u) << r;
        for (size_t c = 0; c < 12; ++c) {
            if (r >= 2 && c == 0)
                continue;  // today's date
            EXPECT_EQ(rows[r][c], expected[r][c]) << r << "," << c;
        }
    }
    EXPECT_NE(bytes.find(ToNarrow(u"\"kim, minsu\"")), std::string::npos);
    EXPECT_NE(bytes.find("\"lee \"\"jr\"\"\""), std::string::npos);

    // The same with LF alone, and a character outside code page 949.
    RawDb(dbPath_).Exec("UPDATE EventInfo SET User = 'a' || char(9731) WHERE EventID = " + std::to_string(settings));
    ASSERT_TRUE(WriteEventLogExport(plat::PathFromNative(file), {settings}, false));
    const std::string lfOnly = ReadFileBytes(file);
    EXPECT_EQ(lfOnly.find('\r'), std::string::npos);
    EXPECT_NE(lfOnly.find(",a?,"), std::string::npos);
}

TEST_F(EventLogTest, ExportToAFileThatCannotBeCreatedWritesNothing)
{
    const std::string file = dir_.file("missing/folder/log.csv");
    EXPECT_FALSE(WriteEventLogExport(plat::PathFromNative(file), {Event(1)}, true));
    EXPECT_FALSE(std::filesystem::exists(file));
    // A device that refuses the bytes is no success either, and stays.
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_FALSE(WriteEventLogExport(u"/dev/full", {Event(1)}, true));
        EXPECT_TRUE(std::filesystem::exists("/dev/full"));
    }
}

// ---- The window ----

TEST_F(EventLogTest, OpensOnTheMonthNewestFirstAndFiltersByKind)
{
    const int64_t a = Event(1);
    const int64_t b = SearchEnd(3, {}, {1, 0, 0, 0, 0});
    const int64_t c = Action(0x3000, {u"a.hwp"});
    const int64_t d = Event(0x3000000);
    const int64_t e = Event(0x10000);
    const int64_t old = Event(1, "", 2001, 5, 6);
    auto dlg = OpenLog();
    const auto [first, last] = GetMonthRange(today_);
    EXPECT_EQ(dlg->PeriodText().toStdU16String(), ShownDate(first) + u" ~ " + ShownDate(last));
    EXPECT_EQ(Ids(*dlg), (std::vector<int64_t>{e, d, c, b, a}));
    EXPECT_TRUE(dlg->DetailOpen());
    EXPECT_EQ(actions_, (std::vector<int>{20, 54}));

    dlg->OnKindChosen(kKindEtc);
    Refill(*dlg);
    EXPECT_EQ(Ids(*dlg), (std::vector<int64_t>{d}));
    dlg->OnKindChosen(kKindSearch);
    Refill(*dlg);
    EXPECT_EQ(Ids(*dlg), (std::vector<int64_t>{b, a}));
    dlg->OnKindChosen(kKindAll);
    dlg->OnPeriodChosen(kPeriodDay);
    Refill(*dlg);
    EXPECT_EQ(Ids(*dlg), (std::vector<int64_t>{e, d, c, b, a}));
    EXPECT_EQ(dlg->PeriodText().toStdU16String(), ShownDate(today_));
    dlg->OnPrevious();
    Refill(*dlg);
    EXPECT_TRUE(Ids(*dlg).empty());
    EXPECT_FALSE(dlg->DetailOpen());  // an empty period closes the detail area
    EXPECT_FALSE(static_cast<ps::ui::CSplitBar*>(dlg->Control(CEventLogDlg::IDC_SPLITTER))->IsMovable());

    dlg->OnPeriodChosen(kPeriodYear);
    Refill(*dlg);
    EXPECT_EQ(dlg->PeriodText(), QString::number(today_.time.year));
    EXPECT_EQ(Ids(*dlg).size(), 5u);
    for (int i = 0; i < today_.time.year - 2001; ++i)
        dlg->OnPrevious();
    Refill(*dlg);
    EXPECT_EQ(Ids(*dlg), (std::vector<int64_t>{old}));
    EXPECT_EQ(Column(*dlg, 0)[0].substr(0, 10), u"2001-05-06");
}

TEST_F(EventLogTest, TextSearchNarrowsTheLoadedRowsAndEndsOnTheSecondPress)
{
    Event(1, "someone");
    const int64_t b = SearchEnd(3, PersonalInfoCounts{5, 0, 0, 0, 0, 0, 1234567}, {2, 0, 0, 0, 0});
    Action(0x3000, {u"a.hwp"});
    auto dlg = OpenLog();
    dlg->SetSearchText(Q(u"전체검색 완료"));
    dlg->OnSearch();
    EXPECT_TRUE(dlg->SearchActive());
    EXPECT_EQ(Ids(*dlg), (std::vector<int64_t>{b}));
    EXPECT_TRUE(dlg->SearchPanel()->isVisibleTo(dlg.get()));  // the first row's details
    EXPECT_EQ(dlg->SearchPanel()->Label(1135)->text(), Q(u"IP주소 : 1,234,567"));
    EXPECT_NE(std::find(actions_.begin(), actions_.end(), 23), actions_.end());

    dlg->OnSearch();  // ends the search: everything again, the text emptied
    EXPECT_FALSE(dlg->SearchActive());
    EXPECT_EQ(Ids(*dlg).size(), 3u);
    EXPECT_TRUE(static_cast<QLineEdit*>(dlg->Control(CEventLogDlg::IDC_SEARCH_TEXT))->text().isEmpty());

    // The user name is not searched, and the search is case-sensitive.
    for (const char16_t* text : {u"someone", u"검색X"}) {
        dlg->SetSearchText(Q(text));
        dlg->OnSearch();
        EXPECT_TRUE(Ids(*dlg).empty()) << QString::fromUtf16(text).toStdString();
        EXPECT_FALSE(dlg->DetailOpen());
        dlg->OnSearch();
    }
    // Enter in the search text runs the search and leaves the window open.
    dlg->show();
    auto* edit = dlg->Control(CEventLogDlg::IDC_SEARCH_TEXT);
    static_cast<QLineEdit*>(edit)->setText(Q(u"문서삭제"));
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(dlg->SearchActive());
    EXPECT_EQ(Ids(*dlg).size(), 1u);
    dlg->hide();
}

TEST_F(EventLogTest, EachKindOfRowOpensItsDetailView)
{
    const int64_t err = Action(0x90000, {u"broken.hwp"});
    const int64_t del = Action(0x3000, {u"a.hwp", u"b.docx", u"c.zzz"});
    const int64_t search = SearchEnd(2, PersonalInfoCounts{1, 2, 3, 4, 5, 6, 7}, {1, 0, 0, 0, 0}, "tester");
    const int64_t pw = Event(0x4000000, "tester");
    auto dlg = OpenLog();
    ASSERT_EQ(Ids(*dlg), (std::vector<int64_t>{pw, search, del, err}));
    // Opened, no row is chosen yet: no detail view shows.
    EXPECT_FALSE(dlg->DetailList()->isVisibleTo(dlg.get()));
    EXPECT_FALSE(dlg->SearchPanel()->isVisibleTo(dlg.get()));
    EXPECT_FALSE(dlg->EventPanel()->isVisibleTo(dlg.get()));

    dlg->List()->SelectRow(0);  // password changed: the event panel
    EXPECT_TRUE(dlg->EventPanel()->isVisibleTo(dlg.get()));
    EXPECT_FALSE(dlg->DetailList()->isVisibleTo(dlg.get()));
    EXPECT_EQ(dlg->EventPanel()->Label(1187)->text(), Q(u"암호변경"));
    EXPECT_EQ(dlg->EventPanel()->Label(1188)->text(), Q(u"기타"));
    EXPECT_EQ(dlg->EventPanel()->Label(1189)->text(), Q(u"tester"));

    dlg->List()->SelectRow(1);  // a cancelled search: its counts
    EXPECT_TRUE(dlg->SearchPanel()->isVisibleTo(dlg.get()));
    EXPECT_FALSE(dlg->EventPanel()->isVisibleTo(dlg.get()));
    EXPECT_EQ(dlg->SearchPanel()->Label(1129)->text(), Q(u"주민(외국인)등록번호 : 1"));
    EXPECT_EQ(dlg->SearchPanel()->Label(1136)->text(), Q(u"사용자 : tester"));

    dlg->List()->SelectRow(2);  // a deletion: its documents with their folders
    ASSERT_TRUE(dlg->DetailList()->isVisibleTo(dlg.get()));
    ASSERT_EQ(dlg->DetailList()->RowCount(), 3);
    EXPECT_EQ(dlg->DetailList()->RecordAt(0).Name(), u"a.hwp");
    EXPECT_EQ(dlg->DetailList()->RecordAt(1).GetFolderPath(), u"/home/user/문서");
    EXPECT_NE(dlg->DetailList()->RecordAt(0).IconIndex(), 0);
    EXPECT_EQ(dlg->DetailList()->RecordAt(2).IconIndex(), 0);  // an unknown extension

    dlg->List()->SelectRow(3);  // an exception from the error report
    ASSERT_EQ(dlg->DetailList()->RowCount(), 1);
    EXPECT_EQ(dlg->DetailList()->RecordAt(0).Name(), u"broken.hwp (오류문서)");

    // A double click opens the folder from the folder column only.
    static std::vector<std::u16string> opened;
    opened.clear();
    SetOpenWithAssociationHook([](const std::u16string& f) {
        opened.push_back(f);
        return true;
    });
    dlg->DetailList()->OnDoubleClick(0, 0);
    EXPECT_TRUE(opened.empty());
    dlg->DetailList()->OnDoubleClick(0, 1);
    EXPECT_EQ(opened, (std::vector<std::u16string>{u"/home/user/문서"}));

    // The refill empties the views and shows none of them: with no row
    // chosen there is nothing stale and no panel of zeros.
    dlg->OnKindChosen(kKindAll);
    Refill(*dlg);
    EXPECT_FALSE(dlg->DetailList()->isVisibleTo(dlg.get()));
    EXPECT_FALSE(dlg->SearchPanel()->isVisibleTo(dlg.get()));
    EXPECT_FALSE(dlg->EventPanel()->isVisibleTo(dlg.get()));
    EXPECT_EQ(dlg->DetailList()->RowCount(), 0);
    EXPECT_EQ(dlg->SearchPanel()->Label(1129)->text(), Q(u"주민(외국인)등록번호 : 0"));
    EXPECT_TRUE(dlg->EventPanel()->Label(1186)->text().isEmpty());
    EXPECT_EQ(dlg->EventPanel()->Label(1182)->text(), Q(u"일시 :"));
}

TEST_F(EventLogTest, DatePopupSetsTheCustomRange)
{
    const int64_t inRange = Event(1, "", 2020, 2, 10);
    Event(1, "", 2020, 2, 20);
    Event(1);
    auto dlg = OpenLog();
    dlg->OnPeriodChosen(kPeriodCustom);
    EXPECT_TRUE(dlg->Control(CEventLogDlg::IDC_RANGE)->isVisibleTo(dlg.get()));
    EXPECT_FALSE(dlg->Control(CEventLogDlg::IDC_PREVIOUS)->isVisibleTo(dlg.get()));
    const std::u16string today = ShownDate(today_);
    EXPECT_EQ(dlg->RangeText().toStdU16String(), today + u" ~ " + today);
    Refill(*dlg);
    EXPECT_EQ(Ids(*dlg).size(), 1u);  // the current month until a range is applied

    dlg->OpenDatePopup();
    CDateSelectPopup* pop = dlg->Popup();
    ASSERT_TRUE(pop->isVisible());
    EXPECT_EQ(pop->size(), QSize(420, 160));
    EXPECT_EQ(pop->StartField()->text().toStdU16String(), PopupDateText(today_));
    EXPECT_TRUE(pop->StartActive());
    // The start may not pass the end, nor the end the start.
    pop->PickDay(QDate(today_.time.year + 1, 1, 1));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], u"시작일을 종료일보다 앞선 날짜로 선택해 주세요.");
    pop->PickDay(QDate(2020, 2, 1));
    pop->ClickEndField();
    pop->PickDay(QDate(2019, 12, 31));
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[1], u"종료일을 시작일 이후 날짜로 선택해 주세요.");
    pop->PickDay(QDate(2020, 2, 15));
    EXPECT_EQ(pop->EndField()->text(), Q(u"2020-02-15"));
    pop->Apply();
    EXPECT_FALSE(pop->isVisible());
    EXPECT_EQ(dlg->RangeText(), Q(u"2020-02-01 ~ 2020-02-15"));
    Refill(*dlg);
    EXPECT_EQ(Ids(*dlg), (std::vector<int64_t>{inRange}));

    // Cancel sends nothing; the end date made active stays active.
    dlg->OpenDatePopup();
    EXPECT_FALSE(pop->StartActive());
    pop->PickDay(QDate(today_.time.year, today_.time.month, today_.time.day));
    pop->Cancel();
    EXPECT_EQ(dlg->RangeText(), Q(u"2020-02-01 ~ 2020-02-15"));
}

TEST_F(EventLogTest, DetailAreaTogglesAndTheSplitterKeepsItsDistance)
{
    Event(1);
    auto dlg = OpenLog();
    const int H = dlg->height();
    EXPECT_EQ(dlg->SplitterRect().top(), H - 160);
    dlg->ToggleDetailArea();
    EXPECT_FALSE(dlg->DetailOpen());
    EXPECT_EQ(dlg->SplitterRect().top(), H - 26 - 43);
    EXPECT_EQ(dlg->DetailList()->height(), 0);
    dlg->ToggleDetailArea();
    EXPECT_TRUE(dlg->DetailOpen());
    EXPECT_GT(dlg->DetailList()->height(), 0);
    EXPECT_EQ(std::vector<int>(actions_.end() - 2, actions_.end()), (std::vector<int>{25, 24}));
    dlg->show();
    const int top = dlg->SplitterRect().top();
    const int listHeight = dlg->List()->height(), detailHeight = dlg->DetailList()->height();
    // Growing (as maximised) gives the list the room; the detail area keeps
    // its height, and the splitter its distance from the bottom.
    dlg->resize(900, 700);
    EXPECT_EQ(dlg->SplitterRect().top(), top + 700 - H);
    EXPECT_EQ(dlg->List()->width(), 900 - 24);
    EXPECT_EQ(dlg->List()->height(), listHeight + 700 - H);
    EXPECT_EQ(dlg->DetailList()->height(), detailHeight);
    EXPECT_EQ(dlg->DetailList()->geometry().bottom(), 700 - 43 - 1);
    dlg->resize(1366, 738);
    EXPECT_EQ(dlg->List()->height(), listHeight + 738 - H);
    EXPECT_EQ(dlg->DetailList()->height(), detailHeight);
    dlg->resize(100, 100);  // never below the minimum; the detail area keeps its least height
    EXPECT_EQ(dlg->size(), QSize(CEventLogDlg::kMinWidth, CEventLogDlg::kMinHeight));
    EXPECT_EQ(dlg->SplitterRect().top(), top);
    EXPECT_EQ(dlg->List()->height(), listHeight);
    dlg->hide();
}

TEST_F(EventLogTest, AFailedQueryLeavesTheWindowUsable)
{
    Event(1);
    auto dlg = OpenLog();
    ASSERT_EQ(Ids(*dlg).size(), 1u);
    RawDb(dbPath_).Exec("ALTER TABLE EventInfo RENAME TO Gone");
    dlg->FillEventList();
    EXPECT_EQ(dlg->List()->Model()->rowCount(), 0);
    EXPECT_FALSE(dlg->Notice().isEmpty());
    RawDb(dbPath_).Exec("ALTER TABLE Gone RENAME TO EventInfo");
    dlg->FillEventList();
    EXPECT_EQ(Ids(*dlg).size(), 1u);
    EXPECT_TRUE(dlg->Notice().isEmpty());

    // Rows are read in batches as they are shown; a batch that fails stays
    // blank and the window says so.
    RawDb(dbPath_).Exec("INSERT INTO EventInfo (Year, Month, Day, Time, Type, User) SELECT Year, Month, Day, Time, "
                        "Type, User FROM EventInfo, (WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                        "WHERE i < 450) SELECT i FROM n)");
    dlg->FillEventList();
    EventListModel* m = dlg->List()->Model();
    ASSERT_EQ(m->rowCount(), 451);
    EXPECT_FALSE(m->IsLoaded(250));
    EXPECT_FALSE(m->data(m->index(250, 1), Qt::DisplayRole).toString().isEmpty());
    EXPECT_TRUE(m->IsLoaded(200) && m->IsLoaded(399));
    EXPECT_FALSE(m->IsLoaded(199) || m->IsLoaded(400));
    RawDb(dbPath_).Exec("ALTER TABLE EventInfo RENAME TO Gone");
    EXPECT_TRUE(m->data(m->index(420, 1), Qt::DisplayRole).toString().isEmpty());
    QApplication::processEvents();
    EXPECT_FALSE(dlg->Notice().isEmpty());
    RawDb(dbPath_).Exec("ALTER TABLE Gone RENAME TO EventInfo");
}

TEST_F(EventLogTest, TheMainWindowOpensTheLog)
{
    CPrivasweepDlg main;
    CMainShowLogDlg* page = main.LogPage();
    EXPECT_TRUE(page->LogButton()->isEnabled());
    bool opened = false;
    CMainShowLogDlg::s_beforeRun = [&](QWidget* w) {
        opened = qobject_cast<CEventLogDlg*>(w) != nullptr;
        return true;
    };
    page->LogButton()->click();
    EXPECT_TRUE(opened);
    EXPECT_EQ(actions_.front(), 17);
}

// ---- Record delete window ----

TEST_F(EventLogTest, DeleteAllRemovesEveryEventAndStoredResult)
{
    Event(1);
    Action(0x3000, {u"a.hwp"});
    SearchEnd(3, {}, {1, 0, 0, 0, 0});
    CRecordDeleteDlg dlg;
    EventLogFilter f;
    f.reference = today_;
    dlg.SetRecordFilter(f);
    dlg.EnsureInitialized();
    EXPECT_TRUE(dlg.AllChosen());
    EXPECT_FALSE(dlg.Control(CRecordRangeDlg::IDC_PERIOD)->isEnabled());
    dlg.OnDelete();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], u"[전체기록] 내용 3건이 삭제되었습니다.");
    EXPECT_EQ(dlg.result(), IDOK);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM FileEventLog"), 0);
}

TEST_F(EventLogTest, DeleteOfAKindAndPeriodTakesOnlyThoseRecords)
{
    const int64_t s1 = Event(1);
    const int64_t s2 = SearchEnd(3, {}, {1, 0, 0, 0, 0});
    const int64_t ex = Action(0x30000, {u"a.hwp"});
    const int64_t yesterday = Event(1, "", 2001, 1, 1);
    CRecordDeleteDlg dlg;
    EventLogFilter f;
    f.reference = today_;
    f.period = kPeriodMonth;
    dlg.SetRecordFilter(f);
    dlg.EnsureInitialized();
    dlg.ChooseRange();
    EXPECT_TRUE(dlg.Control(CRecordRangeDlg::IDC_PERIOD)->isEnabled());
    dlg.OnKindChosen(kKindSearch);
    dlg.OnPeriodChosen(kPeriodDay);
    EXPECT_EQ(dlg.PeriodText().toStdU16String(), ShownDate(today_));
    dlg.OnDelete();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], u"[검색] 내용 2건이 삭제되었습니다.");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE EventID IN (" + std::to_string(s1) + "," +
                    std::to_string(s2) + ")"),
              0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SearchEventLog"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE EventID = " + std::to_string(ex)), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE EventID = " + std::to_string(yesterday)), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo"), 1);  // stored results stay
}

TEST_F(EventLogTest, DeletionOfAListIsAllOrNothing)
{
    const int64_t a = SearchEnd(3, {}, {1, 0, 0, 0, 0});
    const int64_t b = Action(0x3000, {u"a.hwp"});
    // A table that refuses deletions makes the last step fail.
    RawDb(dbPath_).Exec(
        "CREATE TRIGGER NoDelete BEFORE DELETE ON SearchEventLog BEGIN SELECT RAISE(ABORT, 'refused'); END");
    EXPECT_FALSE(DeleteEventsOfList({a, b}));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo"), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM FileEventLog"), 1);

    // The window says so and stays open.
    CRecordDeleteDlg dlg;
    EventLogFilter f;
    f.reference = today_;
    dlg.SetRecordFilter(f);
    dlg.EnsureInitialized();
    dlg.ChooseRange();
    dlg.OnDelete();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].find(u"[전체기록]"), std::u16string::npos);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo"), 2);
    RawDb(dbPath_).Exec("DROP TRIGGER NoDelete");
    EXPECT_TRUE(DeleteEventsOfList({a, b}));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo"), 0);
}

TEST_F(EventLogTest, TheLogWindowReloadsAfterADeletion)
{
    Event(1);
    Event(0x4000000);
    auto dlg = OpenLog();
    ASSERT_EQ(Ids(*dlg).size(), 2u);
    CEventLogDlg::s_beforeRun = [](QWidget* w, int& result) {
        auto* del = qobject_cast<CRecordDeleteDlg*>(w);
        if (!del)
            return true;
        del->EnsureInitialized();
        del->OnDelete();
        result = del->result();
        return true;
    };
    dlg->OnDeleteRecords();
    EXPECT_TRUE(Ids(*dlg).empty());
}

TEST_F(EventLogTest, TheLogWindowReloadsAfterAnExportAndNotAfterACancel)
{
    Event(1);
    auto dlg = OpenLog();
    ASSERT_EQ(Ids(*dlg).size(), 1u);
    const std::string file = dir_.file("export.csv");
    bool save = false;
    CEventLogDlg::s_beforeRun = [&](QWidget* w, int& result) {
        auto* exp = qobject_cast<CRecordSaveDlg*>(w);
        if (!exp)
            return true;
        exp->EnsureInitialized();
        exp->SetPath(QString::fromStdString(file));
        if (save)
            exp->OnSave();
        result = IDOK;
        return true;
    };
    dlg->OnSaveRecords();  // closed without saving
    EXPECT_EQ(Ids(*dlg).size(), 1u);
    save = true;
    dlg->OnSaveRecords();  // the export's own event is listed at once
    ASSERT_EQ(Ids(*dlg).size(), 2u);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = " + std::to_string(0x5000000)), 1);
}

TEST_F(EventLogTest, OneDateFormInTheWindowAndAKoreanCalendar)
{
    Event(1, "", 2020, 2, 3);
    auto dlg = OpenLog();
    // Day, week and month lines, the range field, the popup and the rows
    // all write a day as 2020-02-03.
    const QRegularExpression day(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    for (int period : {kPeriodDay, kPeriodWeek, kPeriodMonth}) {
        dlg->OnPeriodChosen(period);
        for (const QString& part : dlg->PeriodText().split(QStringLiteral(" ~ ")))
            EXPECT_TRUE(day.match(part).hasMatch()) << period << " " << part.toStdString();
    }
    dlg->OnPeriodChosen(kPeriodCustom);
    for (const QString& part : dlg->RangeText().split(QStringLiteral(" ~ ")))
        EXPECT_TRUE(day.match(part).hasMatch()) << part.toStdString();
    dlg->OpenDatePopup();
    EXPECT_TRUE(day.match(dlg->Popup()->StartField()->text()).hasMatch());
    dlg->Popup()->PickDay(QDate(2020, 2, 3));
    dlg->Popup()->Apply();
    EXPECT_TRUE(dlg->RangeText().startsWith(Q(u"2020-02-03 ~ "))) << dlg->RangeText().toStdString();
    Refill(*dlg);
    ASSERT_EQ(Ids(*dlg).size(), 1u);
    EXPECT_EQ(Column(*dlg, 0)[0].substr(0, 10), u"2020-02-03");

    // Saturday blue, Sunday red, the other days as they are.
    QCalendarWidget* cal = dlg->Popup()->Calendar();
    const QColor sat = cal->weekdayTextFormat(Qt::Saturday).foreground().color();
    const QColor sun = cal->weekdayTextFormat(Qt::Sunday).foreground().color();
    EXPECT_GT(sat.blue(), sat.red());
    EXPECT_GT(sun.red(), sun.blue());
    EXPECT_EQ(cal->weekdayTextFormat(Qt::Monday).foreground(), cal->weekdayTextFormat(Qt::Wednesday).foreground());
}

TEST_F(EventLogTest, SettingsButtonOpensTheSettingsAtTheLogPage)
{
    auto dlg = OpenLog();
    QWidget* button = dlg->Control(CEventLogDlg::IDC_SETTINGS);
    ASSERT_TRUE(button);
    EXPECT_TRUE(button->isEnabled());
    int page = -1;
    QWidget* parent = nullptr;
    CEventLogDlg::s_beforeRun = [&](QWidget* w, int& result) {
        auto* config = qobject_cast<CConfigurationDlg*>(w);
        if (!config)
            return false;
        config->EnsureInitialized();
        page = config->CurrentIndex();
        parent = config->parentWidget();
        result = IDCANCEL;
        return true;
    };
    static_cast<QAbstractButton*>(button)->click();
    EXPECT_EQ(page, 5);
    EXPECT_EQ(parent, dlg.get());
}

// ---- Record export window ----

TEST_F(EventLogTest, ExportWindowWritesTheChosenRangeAndRecordsIt)
{
    Event(1, "kim, minsu");
    Action(0x3000, {u"보고서, 최종.hwp"});
    Event(0x4000000);
    CRecordSaveDlg dlg;
    EventLogFilter f;
    f.reference = today_;
    dlg.SetRecordFilter(f);
    dlg.EnsureInitialized();
    // The default file lies in the documents folder's program folder.
    EXPECT_TRUE(dlg.Path().startsWith(ps::ui::ToQ(GetDocumentsFolder() + u"/Privasweep/PrivasweepLog_")));
    EXPECT_TRUE(dlg.Path().endsWith(".csv"));
    EXPECT_TRUE(std::filesystem::is_directory(plat::PathToNative(dlg.SaveFolder())));

    const std::string file = dir_.file("chosen.txt");
    ps::ui::Seams().fileDialog = [&](QWidget*, const QString&, const QString&, const QString&, bool save) {
        EXPECT_TRUE(save);
        return QString::fromStdString(file);
    };
    dlg.OnBrowse();
    EXPECT_EQ(dlg.Path().toStdString(), file);
    dlg.ChooseRange();
    dlg.OnKindChosen(kKindSearch);
    dlg.OnSave();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], u"[검색] 내용 1건이 저장되었습니다.");
    EXPECT_EQ(dlg.result(), IDOK);
    const auto rows = ReadCsv(ToWide(ReadFileBytes(file)));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][3], u"kim, minsu");
    EXPECT_EQ(rows[1][2], u"전체검색 시작");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = " + std::to_string(0x5000000)), 1);
}

TEST_F(EventLogTest, ExportWindowReportsAMissingPathOrAFileItCannotCreate)
{
    Event(1);
    CRecordSaveDlg dlg;
    EventLogFilter f;
    f.reference = today_;
    dlg.SetRecordFilter(f);
    dlg.EnsureInitialized();
    dlg.show();
    dlg.SetPath(QString());
    dlg.OnSave();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], u"선택된 기록 저장 경로가 없습니다.");

    const std::string bad = dir_.file("no/such/folder/log.csv");
    dlg.SetPath(QString::fromStdString(bad));
    dlg.OnSave();
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_NE(messages_[1].find(plat::PathFromNative(bad)), std::u16string::npos);
    EXPECT_TRUE(dlg.isVisible());  // the window stays open
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = " + std::to_string(0x5000000)), 0);

    // An empty selection writes the header alone and reports 0.
    const std::string file = dir_.file("empty.csv");
    dlg.SetPath(QString::fromStdString(file));
    dlg.ChooseRange();
    dlg.OnKindChosen(kKindEtc);
    dlg.OnSave();
    ASSERT_EQ(messages_.size(), 3u);
    EXPECT_EQ(messages_[2], u"[기타] 내용 0건이 저장되었습니다.");
    EXPECT_EQ(ReadCsv(ToWide(ReadFileBytes(file))).size(), 1u);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = " + std::to_string(0x5000000)), 1);
}

}  // namespace
}  // namespace ps_test
