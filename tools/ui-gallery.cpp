// ui-gallery OUTDIR: renders, offscreen, every shared control in each of its
// states, the message box, the folder tree over a sample folder and the skin
// bitmaps, one PNG each, so that a person can look at them.
#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <cstdio>
#include <functional>

#include "core/controls/buttons.h"
#include "core/controls/edits.h"
#include "core/controls/messagebox.h"
#include "core/controls/shelltree.h"
#include "core/controls/skin.h"
#include "app/aboutdlg.h"
#include "app/appcore.h"
#include "app/eventlogdlg.h"
#include "app/filereport.h"
#include "app/maindlg.h"
#include "app/recorddlgs.h"
#include "app/searchdlg.h"
#include "app/usersearchdlg.h"
#include "core/eventstore/eventstore.h"
#include "core/eventstore/eventtables.h"
#include "core/eventstore/eventtypes.h"
#include "core/uitext.h"
#include "platform/text.h"
#include "settings/configdlg.h"
#include "settings/configpages.h"
#include "settings/passwordpage.h"
#include "tools/toolhelp.h"

using namespace ps::ui;

// The document action windows (gallery_actions.cpp).
void ActionWindowGallery(const std::function<void(const QString&, QWidget*)>& save);
void ExceptionWindowGallery(const std::function<void(const QString&, QWidget*)>& save);

namespace {

QString g_out;
int g_written = 0;

void Save(const QString& name, QWidget* w)
{
    QApplication::processEvents();
    const QImage img = w->grab().toImage();
    const QString path = g_out + "/" + name + ".png";
    if (!img.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    ++g_written;
}

// A small white stage that holds one control with a margin, as a window would.
struct Stage {
    QWidget w;
    explicit Stage(QSize size)
    {
        w.setAttribute(Qt::WA_DontShowOnScreen);
        QPalette pal = w.palette();
        pal.setColor(QPalette::Window, Qt::white);
        w.setPalette(pal);
        w.setAutoFillBackground(true);
        w.resize(size);
    }
};

void Hover(QWidget* w)
{
    QEnterEvent e(QPointF(2, 2), QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(w, &e);
}

void ImageButtons()
{
    struct Strip { int id; int code; const char* name; };
    const Strip strips[] = {{195, 2, "ok"}, {194, 2, "cancel"}, {218, 2, "close"}, {286, 2, "open-document"},
                            {191, 1, "all-defaults"}, {258, 2, "previous"}, {216, 2, "search"}};
    const char* faces[] = {"normal", "hover", "pressed", "disabled"};
    for (const Strip& s : strips) {
        for (int f = 0; f < 4; ++f) {
            Stage st(QSize(10, 10));
            auto* b = new ImageButton(&st.w);
            b->LoadBitmapStrip(s.id, s.code);
            b->move(6, 6);
            st.w.resize(b->width() + 12, b->height() + 12);
            st.w.show();
            if (f == 1) Hover(b);
            if (f == 2) b->setDown(true);
            if (f == 3) b->setEnabled(false);
            Save(QStringLiteral("imagebutton-%1-%2").arg(s.name, faces[f]), &st.w);
        }
    }
    // Caption buttons from separate bitmaps.
    struct Set { int n, p, h; const char* name; };
    const Set sets[] = {{155, 157, 156, "x"}, {149, 151, 150, "menu"}, {152, 154, 153, "minimise"},
                        {236, 238, 237, "maximise"}, {239, 241, 240, "restore"}};
    for (const Set& s : sets) {
        for (int f = 0; f < 3; ++f) {
            Stage st(QSize(10, 10));
            QPalette pal = st.w.palette();
            pal.setColor(QPalette::Window, QColor(0xEE, 0xF3, 0xF8));
            st.w.setPalette(pal);
            auto* b = new ImageButton(&st.w);
            b->LoadBitmaps(s.n, s.p, s.h);
            b->move(6, 6);
            st.w.resize(b->width() + 12, b->height() + 12);
            st.w.show();
            if (f == 1) Hover(b);
            if (f == 2) b->setDown(true);
            Save(QStringLiteral("captionbutton-%1-%2").arg(s.name, faces[f]), &st.w);
        }
    }
}

void CheckButtons()
{
    const struct { const char* name; bool checked; bool enabled; const char* text; } cases[] = {
        {"unchecked", false, true, "주민등록번호"},
        {"checked", true, true, "신용카드번호"},
        {"disabled", true, false, "IP 주소"},
        {"two-lines", false, true, "이메일 주소\n(회사 메일 포함)"},
    };
    for (const auto& c : cases) {
        Stage st(QSize(10, 10));
        auto* b = new CCheckButtonEx(QString::fromUtf8(c.text), &st.w);
        b->SetCheck(c.checked);
        b->setEnabled(c.enabled);
        b->move(8, 8);
        st.w.resize(b->sizeHint() + QSize(16, 16));
        st.w.show();
        Save(QStringLiteral("checkbutton-%1").arg(c.name), &st.w);
    }
}

void DropDowns()
{
    const char* faces[] = {"normal", "hover", "dropped", "disabled"};
    for (int f = 0; f < 4; ++f) {
        Stage st(QSize(10, 10));
        auto* d = new CDropDownButton(&st.w);
        d->LoadBitmapStrip(266);
        d->addItems({QStringLiteral("전체"), QStringLiteral("검색"), QStringLiteral("암호화")});
        d->move(8, 8);
        st.w.resize(d->width() + 16, d->height() + 16);
        st.w.show();
        if (f == 1) Hover(d);
        if (f == 2) d->showPopup();
        if (f == 3) d->setEnabled(false);
        Save(QStringLiteral("dropdown-%1").arg(faces[f]), &st.w);
        if (f == 2) d->hidePopup();
    }
}

void Tabs()
{
    Stage st(QSize(340, 60));
    const char* names[] = {"전체(12)", "한글문서(3)", "워드문서(9)"};
    for (int i = 0; i < 3; ++i) {
        auto* t = new CTabButton(QString::fromUtf8(names[i]), &st.w);
        t->setGeometry(8 + i * 104, 20, 104, 26);
        t->SetSelected(i == 0);
    }
    st.w.show();
    Save(QStringLiteral("tabbuttons"), &st.w);
}

void Splitter()
{
    Stage st(QSize(300, 40));
    auto* s = new CSplitBar(&st.w);
    s->setGeometry(10, 18, 280, 3);
    s->SetMovable(true);
    st.w.show();
    Save(QStringLiteral("splitbar"), &st.w);
}

void Progress()
{
    const struct { const char* name; int pos; int max; int width; } cases[] = {
        {"0", 0, 100, 360}, {"7-of-1000", 7, 1000, 200}, {"15px", 15, 200, 200},
        {"42", 42, 100, 360}, {"100", 100, 100, 360},
    };
    for (const auto& c : cases) {
        Stage st(QSize(c.width + 20, 36));
        auto* p = new CProgressBar(&st.w);
        p->LoadBitmap(267);
        p->setRange(0, c.max);
        p->setValue(c.pos);
        p->setGeometry(10, 10, c.width, 16);
        st.w.show();
        Save(QStringLiteral("progress-%1").arg(c.name), &st.w);
    }
    Stage st(QSize(380, 36));
    auto* p = new CProgressBar(&st.w);
    p->LoadBitmap(267);
    p->setGeometry(10, 10, 360, 16);
    p->SetMarquee(true);
    for (int i = 0; i < 60; ++i) p->StepMarquee();
    st.w.show();
    Save(QStringLiteral("progress-marquee"), &st.w);
}

void Edits()
{
    {
        Stage st(QSize(260, 100));
        auto* a = new CEditVC(&st.w);
        a->setGeometry(10, 10, 240, 24);
        a->setText(QStringLiteral("홍길동 검색어"));
        auto* b = new CEditVC(&st.w);
        b->setGeometry(10, 40, 240, 24);
        b->setText(QStringLiteral("사용할 수 없음"));
        b->setEnabled(false);
        auto* c = new CEditVC(&st.w);
        c->setGeometry(10, 70, 240, 24);
        c->setText(QStringLiteral("읽기 전용"));
        c->setReadOnly(true);
        st.w.show();
        Save(QStringLiteral("edit-vc-normal-disabled-readonly"), &st.w);
    }
    {
        Stage st(QSize(260, 40));
        auto* e = new CPasswordInputEdit(&st.w);
        e->setGeometry(10, 10, 240, 20);
        e->setText(QStringLiteral("secret12"));
        st.w.show();
        Save(QStringLiteral("edit-password"), &st.w);
    }
    {
        Stage st(QSize(340, 140));
        auto* e = new CommentEdit(&st.w);
        e->setGeometry(10, 10, 320, 120);
        e->setPlainText(QStringLiteral("주민등록번호: 800101-1******\n계좌번호: 123-45-6789**\n"
                                       "전화번호: 010-1234-****\n이메일: hong@example.com"));
        st.w.show();
        Save(QStringLiteral("edit-comment"), &st.w);
    }
    {
        Stage st(QSize(260, 40));
        QPalette pal = st.w.palette();
        pal.setColor(QPalette::Window, QColor(0xEE, 0xF3, 0xF8));
        st.w.setPalette(pal);
        auto* l = new HyperLinkTransparent(&st.w);
        l->setText(QStringLiteral("프로그램 홈페이지 바로가기"));
        l->setGeometry(10, 10, 240, 20);
        st.w.show();
        Save(QStringLiteral("hyperlink"), &st.w);
    }
}

void MessageBoxes()
{
    const struct { const char* name; int type; const char* text; } cases[] = {
        {"ok-cancel-short", 0, "프로그램을 종료하시겠습니까?"},
        {"ok-short", 1, "한글로 암호를 설정하실 수 없습니다."},
        {"ok-cancel-long", 0,
         "선택한 문서 12개를 삭제합니다. 삭제한 문서는 되살릴 수 없습니다.\n계속하시겠습니까?"},
        {"ok-long", 1,
         "다음 문서를 열 수 없습니다: /home/사용자/문서/2024년 상반기 고객 명단 및 연락처 정리본(최종).hwp\n"
         "파일이 다른 프로그램에서 사용 중이거나 삭제되었을 수 있습니다.\n경로를 확인한 뒤 다시 시도해 주십시오."},
    };
    for (const auto& c : cases) {
        CMessageBox box;
        box.setAttribute(Qt::WA_DontShowOnScreen);
        box.SetType(c.type);
        box.SetText(QString::fromUtf8(c.text).toStdU16String());
        box.EnsureInitialized();
        box.show();
        Save(QStringLiteral("messagebox-%1").arg(c.name), &box);
        box.hide();
    }
}

void FolderTree()
{
    QTemporaryDir dir;
    const QString root = dir.path();
    for (const char* p : {"문서/2024", "문서/2025/보고서", "사진", "zipcodes", "백업/오래된 자료"})
        QDir().mkpath(root + "/" + QString::fromUtf8(p));
    QFile f(root + "/archive.zip");
    f.open(QIODevice::WriteOnly);
    f.close();
    SetDriveListForTesting({{u"자료", root.toStdU16String()}, {u"USB", (root + "/사진").toStdU16String()}});
    Stage st(QSize(300, 320));
    auto* tree = new CDriveSelectTree(&st.w);
    tree->setGeometry(10, 10, 280, 300);
    tree->Initialize();
    QTreeWidgetItem* drive = tree->FindItemByPath(QStringLiteral("/%1/자료/").arg(tree->RootName()));
    if (drive) {
        tree->expandItem(drive);
        tree->SetItemCheckByClick(drive);
        if (QTreeWidgetItem* docs = tree->FindChildByText(QStringLiteral("문서"), drive, false)) {
            tree->expandItem(docs);
            if (QTreeWidgetItem* y = tree->FindChildByText(QStringLiteral("2024"), docs, false))
                tree->SetItemCheckByClick(y);
        }
    }
    st.w.show();
    Save(QStringLiteral("foldertree"), &st.w);
    SetDriveListForTesting({});
}

void SkinSheet()
{
    // Every skin bitmap, keyed, on a grey ground so that keyed pixels show.
    QDir d(QStringLiteral(":/skin"));
    QList<int> ids;
    for (const QString& n : d.entryList({QStringLiteral("*.png")})) {
        bool ok = false;
        const int id = QFileInfo(n).baseName().toInt(&ok);
        if (ok) ids << id;
    }
    std::sort(ids.begin(), ids.end());
    const int W = 1500;
    int total = 0, rowH = 0, cx = 6;
    for (int id : ids) {
        const QPixmap pm = SkinBitmap(id);
        if (cx + pm.width() > W - 6) {
            total += rowH + 18;
            rowH = 0;
            cx = 6;
        }
        cx += std::max(pm.width(), 24) + 8;
        rowH = std::max(rowH, pm.height());
    }
    QImage sheet(W, total + rowH + 40, QImage::Format_RGB32);
    sheet.fill(QColor(0xD8, 0xDC, 0xE0));
    QPainter p(&sheet);
    p.setFont(UiFont(10, false));
    int x = 6, y = 6, row = 0;
    for (int id : ids) {
        const QPixmap pm = SkinBitmap(id);
        if (x + pm.width() > W - 6) {
            x = 6;
            y += row + 18;
            row = 0;
        }
        p.setPen(Qt::black);
        p.drawText(x, y + 10, QString::number(id));
        p.drawPixmap(x, y + 13, pm);
        x += std::max(pm.width(), 24) + 8;
        row = std::max(row, pm.height());
    }
    p.end();
    sheet.copy(0, 0, W, y + row + 20).save(g_out + "/skin-sheet.png");
    ++g_written;
}

}  // namespace

// ---- The program's windows ----------------------------------------------------

// The event-log window over a few events of every kind, each detail view,
// the date popup and the record delete and export windows.
void EventLogWindows()
{
    auto action = [](int32_t type, std::initializer_list<const char16_t*> names) {
        const int64_t id = AddEvent(type);
        for (const char16_t* n : names) {
            SearchFileInfo d;
            d.SetFolderAndName(u"/home/사용자/문서/2026 보고서", n);
            d.documentKey = std::u16string(u"K") + n;
            AddFileEventLog(id, AddFileInfoRow(PersonalInfoCounts{}, d));
        }
        return id;
    };
    AddEvent(0x1000000);
    AddEvent(4);
    AddSearchEventLog(AddEvent(6), PersonalInfoCounts{12, 3, 1, 45, 7, 20, 2}, DocumentKindCounts{4, 2, 1, 0, 3});
    AddEvent(0x1000);
    action(0x3000, {u"고객 명단.xlsx", u"회의록, 3월.hwp", u"급여 대장.xls", u"계약서.pdf"});
    AddEvent(0x100);
    action(0x500, {u"인사 기록.docx", u"주소록.hwp"});
    action(0x90000, {u"손상된 문서.hwp"});
    AddEvent(0x4000000);
    AddEvent(0x7000000);
    CEventLogDlg dlg;
    dlg.setAttribute(Qt::WA_DontShowOnScreen);
    dlg.EnsureInitialized();
    dlg.show();
    Save("app-eventlog", &dlg);
    dlg.List()->SelectRow(0);
    Save("app-eventlog-event-detail", &dlg);
    dlg.List()->SelectRow(4);
    Save("app-eventlog-documents", &dlg);
    dlg.List()->SelectRow(2);
    Save("app-eventlog-error-documents", &dlg);
    dlg.List()->SelectRow(7);
    Save("app-eventlog-search-detail", &dlg);
    dlg.SetSearchText(QString::fromUtf16(u"완료"));
    dlg.OnSearch();
    Save("app-eventlog-text-search", &dlg);
    dlg.OnSearch();
    dlg.resize(960, 640);
    Save("app-eventlog-large", &dlg);
    // Maximised on the two common screens: the list takes the room.
    dlg.List()->SelectRow(4);
    dlg.resize(1366, 738);
    Save("app-eventlog-max1366", &dlg);
    dlg.resize(1920, 1050);
    Save("app-eventlog-max1920", &dlg);
    dlg.resize(730, 481);
    dlg.OnPeriodChosen(kPeriodCustom);
    dlg.OpenDatePopup();
    dlg.Popup()->setAttribute(Qt::WA_DontShowOnScreen);
    Save("app-eventlog-custom", &dlg);
    Save("app-date-popup", dlg.Popup());
    dlg.Popup()->ClickEndField();
    Save("app-date-popup-end-active", dlg.Popup());
    dlg.Popup()->Cancel();
    dlg.hide();
    {
        CRecordDeleteDlg del(&dlg);
        del.setAttribute(Qt::WA_DontShowOnScreen);
        del.SetRecordFilter(dlg.Filter());
        del.EnsureInitialized();
        del.show();
        Save("app-record-delete", &del);
        del.ChooseRange();
        del.OnKindChosen(kKindSearch);
        del.OnPeriodChosen(kPeriodMonth);
        Save("app-record-delete-range", &del);
        del.hide();
    }
    {
        CRecordSaveDlg save(&dlg);
        save.setAttribute(Qt::WA_DontShowOnScreen);
        save.SetRecordFilter(dlg.Filter());
        save.EnsureInitialized();
        save.show();
        Save("app-record-export", &save);
        save.ChooseRange();
        save.OnPeriodChosen(kPeriodWeek);
        Save("app-record-export-range", &save);
        save.hide();
    }
}

void AppWindows()
{
    QTemporaryDir tmp;
    const std::u16string db = FromQ(tmp.path()) + u"/events.db";
    try {
        StartEventStore(db, TemplateDatabasePath());
    } catch (const CppSQLite3Exception& e) {
        std::fprintf(stderr, "no event database (%s): the program's windows are left out\n",
                     plat::WideToUtf8(e.ErrorMessage()).c_str());
        return;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "no event database (%s): the program's windows are left out\n", e.what());
        return;
    }
    SetTextLanguage(0);
    AppIcons().FillExtensionIcons({u"HWP", u"TXT", u"DOC", u"PPT", u"XLS", u"DOCX", u"PPTX", u"XLSX", u"PDF"});
    {
        CPrivasweepDlg main;
        main.setAttribute(Qt::WA_DontShowOnScreen);
        main.EnsureInitialized();
        main.show();
        Save("app-main-search", &main);
        main.ShowLogPage();
        Save("app-main-log-empty", &main);
        const int64_t id = AddEvent(3);
        PersonalInfoCounts c;
        c[0] = 1000;
        c[3] = 480;
        c[5] = 20;
        AddSearchEventLog(id, c, DocumentKindCounts{10, 3, 1, 0, 2});
        const int64_t enc = AddEvent(0x300);
        (void)enc;
        main.LogPage()->RefreshSummary();
        Save("app-main-log", &main);
        main.hide();
    }
    {
        CAllSearchDlg dlg;
        dlg.setAttribute(Qt::WA_DontShowOnScreen);
        dlg.SetSearchMode(1);
        dlg.EnsureInitialized();
        static std::vector<std::unique_ptr<SearchFileInfo>> records;
        auto rec = [](const std::u16string& folder, const std::u16string& name) {
            auto r = std::make_unique<SearchFileInfo>();
            r->SetFolderAndName(folder, name);
            records.push_back(std::move(r));
            return records.back().get();
        };
        struct Doc {
            const char16_t* folder;
            const char16_t* name;
            PersonalInfoCounts counts;
        };
        auto counts = [](std::initializer_list<int> v) {
            PersonalInfoCounts c;
            int i = 0;
            for (int x : v) c[i++] = x;
            return c;
        };
        const Doc docs[] = {
            {u"/home/user/문서/인사", u"직원명부.hwp", counts({42, 0, 0, 42, 40, 12, 0})},
            {u"/home/user/문서/인사", u"급여 계좌.xlsx", counts({42, 42, 0, 0, 0, 0, 0})},
            {u"/home/user/문서/인사", u"연락처.docx", counts({0, 0, 0, 1234, 0, 56, 0})},
            {u"/home/user/문서/영업", u"고객 목록.pdf", counts({0, 0, 3, 17, 9, 17, 0})},
            {u"/home/user/문서/영업", u"발표 자료.pptx", counts({0, 0, 0, 2, 0, 2, 0})},
            {u"/home/user/바탕화면", u"서버 목록.xls", counts({0, 0, 0, 0, 0, 0, 8})},
            // Folders that differ only at the end of a long path.
            {u"/home/user/문서/2024년/인사팀/분기별 보고서/직원 개인정보 정리/1분기", u"명단.hwp",
             counts({12, 0, 0, 12, 0, 0, 0})},
            {u"/home/user/문서/2024년/인사팀/분기별 보고서/직원 개인정보 정리/2분기", u"명단.hwp",
             counts({13, 0, 0, 13, 0, 0, 0})},
            {u"/home/user/문서/2024년/인사팀/분기별 보고서/직원 개인정보 정리/3분기", u"명단.hwp",
             counts({11, 0, 0, 11, 0, 0, 0})},
        };
        CFileReportControl* all = dlg.Report(CAllSearchDlg::kAll);
        std::u16string last;
        CFileInfoRecord* folderRow = nullptr;
        for (const auto& d : docs) {
            SearchFileInfo* r = rec(d.folder, d.name);
            if (!folderRow || last != d.folder) {
                auto row = std::make_unique<CFileInfoRecord>(r);
                folderRow = row.get();
                all->AddFolderRow(std::move(row));
                last = d.folder;
            }
            all->AddFileRow(std::make_unique<CFileInfoRecord>(d.counts, dlg.PersonalInfoMask(), r), folderRow);
        }
        all->SetChecked(all->DocumentRow(0, 1), true);
        const int tabCounts[] = {9, 4, 1, 2, 1, 1};
        const char16_t* keys[] = {u"KIND_OF_ALL", u"KIND_OF_HWP", u"KIND_OF_DOC", u"KIND_OF_XLS", u"KIND_OF_PPT", u"KIND_OF_PDF"};
        for (int i = 0; i < 6; ++i) dlg.TabButton(i)->setText(QFmt(keys[i], tabCounts[i]));
        dlg.StatusLine()->setText(Tx(u"SEARCH_COMPLETE_EXPLAIN"));
        dlg.DetailLine()->setText(QFmt(u"SEARCH_RESULT", 6, u"1,593"));
        dlg.SearchButton()->LoadBitmapStrip(216, 2);
        if (auto* bar = dlg.findChild<CProgressBar*>()) {
            bar->setRange(0, 6);
            bar->setValue(6);
        }
        // Drawn without showing: a shown search window starts its search.
        // At the default size, at 960 x 600 and as maximised on 1366 x 768
        // and 1920 x 1080 screens (less a panel).
        Save("app-search-results-default", &dlg);
        dlg.resize(960, 600);
        Save("app-search-results", &dlg);
        dlg.resize(1366, 738);
        Save("app-search-results-max1366", &dlg);
        dlg.resize(1920, 1050);
        Save("app-search-results-max1920", &dlg);
        dlg.resize(960, 600);
        dlg.StatusLine()->setText(QString::fromStdU16String(GetText(u"ALL_SEARCH_USER_SEARCHING") + u" " +
                                                            Fmt(u"ELAPSED_TIME", 2, 5)));
        dlg.DetailLine()->setText(QString::fromStdU16String(u"[4 / 6] /home/user/문서/영업/고객 목록.pdf"));
        dlg.SearchButton()->LoadBitmapStrip(215, 1);
        if (auto* bar = dlg.findChild<CProgressBar*>()) bar->setValue(3);
        dlg.SelectTab(CAllSearchDlg::kXls);
        Save("app-search-running-xls", &dlg);
    }
    {
        CUserSearchDlg dlg(nullptr);
        dlg.setAttribute(Qt::WA_DontShowOnScreen);
        dlg.EnsureInitialized();
        dlg.show();
        if (QTreeWidgetItem* root = dlg.Tree()->topLevelItem(0))
            if (root->childCount() > 0) dlg.Tree()->SetItemCheckByClick(root->child(0));
        dlg.Box(1027)->SetCheck(0);
        Save("app-user-search", &dlg);
        dlg.hide();
    }
    {
        CAboutInfoDlg about;
        about.setAttribute(Qt::WA_DontShowOnScreen);
        about.EnsureInitialized();
        about.show();
        Save("app-about-program", &about);
        about.SelectPage(1188);
        Save("app-about-license", &about);
        about.hide();
    }
    EventLogWindows();
    ExitEventDatabase();
}

// ---- The settings window ------------------------------------------------------

void SettingsWindows()
{
    QTemporaryDir tmp;
    try {
        StartEventStore(FromQ(tmp.path()) + u"/events.db", TemplateDatabasePath());
    } catch (...) {
        std::fprintf(stderr, "no event database: the settings window is left out\n");
        return;
    }
    {
        CConfigurationDlg dlg;
        dlg.setAttribute(Qt::WA_DontShowOnScreen);
        dlg.EnsureInitialized();
        dlg.show();
        if (!dlg.OwnsLock()) {
            std::fprintf(stderr, "another settings window is open: the settings window is left out\n");
            ExitEventDatabase();
            return;
        }
        if (QTreeWidgetItem* root = dlg.FolderPage()->Tree()->topLevelItem(0))
            if (root->childCount() > 0) dlg.FolderPage()->Tree()->SetItemCheckByClick(root->child(root->childCount() - 1));
        const char* names[] = {"folders", "personal-info", "documents", "password", "exceptions", "log"};
        for (int i = 0; i < CConfigurationDlg::kPageCount; ++i) {
            dlg.OnTab(i);
            if (i == CConfigurationDlg::kPasswordPage) {
                dlg.PasswordPage()->NewEdit()->setText(QStringLiteral("abcdefgh"));
                dlg.PasswordPage()->ConfirmEdit()->setText(QStringLiteral("abcdefg"));
            }
            Save(QStringLiteral("settings-%1-%2").arg(i).arg(names[i]), &dlg);
        }
        dlg.PasswordPage()->NewEdit()->clear();
        dlg.PasswordPage()->ConfirmEdit()->clear();
        dlg.hide();
    }
    ExitEventDatabase();
}

int main(int argc, char** argv)
{
    static const char kUsage[] =
        "usage: ui-gallery OUTDIR\n"
        "Renders every shared control and window offscreen into PNG files in OUTDIR.\n";
    if (tools::AskedForHelp(argc, argv))
        return tools::ShowHelp(kUsage);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2)
        return tools::UsageError(kUsage, 2);
    g_out = QString::fromLocal8Bit(argv[1]);
    // The windows read and write settings: keep them away from the user's own.
    QTemporaryDir settingsHome;
    qputenv("XDG_CONFIG_HOME", settingsHome.filePath("config").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", settingsHome.filePath("run").toLocal8Bit());
    QDir().mkpath(g_out);
    ImageButtons();
    CheckButtons();
    DropDowns();
    Tabs();
    Splitter();
    Progress();
    Edits();
    MessageBoxes();
    FolderTree();
    SkinSheet();
    AppWindows();
    SettingsWindows();
    ActionWindowGallery(Save);
    ExceptionWindowGallery(Save);
    std::printf("%d pictures written to %s\n", g_written, qPrintable(g_out));
    return 0;
}
