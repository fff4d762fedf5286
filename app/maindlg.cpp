#include "app/maindlg.h"

#include "app/errorreportdlg.h"

#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QShortcut>
#include <QTimerEvent>
#include <QUrl>

#include "app/aboutdlg.h"
#include "app/appcore.h"
#include "app/eventlogdlg.h"
#include "app/exceptionlistdlg.h"
#include "app/logexport.h"
#include "app/searchdlg.h"
#include "app/usersearchdlg.h"
#include "core/controls/skin.h"
#include "core/eventstore/CppSQLite3.h"
#include "core/eventstore/eventqueries.h"
#include "core/eventstore/eventtables.h"
#include "core/logmgr.h"
#include "core/registry.h"
#include "core/uitext.h"
#include "core/util.h"
#include "settings/configdlg.h"
#include "settings/confighooks.h"

using namespace ps::ui;

namespace {

// The settings pages reach the exception list and the log export through
// these (settings/ does not include app/).
[[maybe_unused]] const bool g_configHooksSet = [] {
    ConfigHooks& hooks = ConfigPageHooks();
    hooks.openExceptionList = [](QWidget* owner) {
        CExceptionConfigurationDlg dlg(owner);
        dlg.DoModal();
    };
    hooks.writeLogExport = [](const std::u16string& path, const std::vector<int64_t>& ids) {
        return WriteEventLogExport(path, ids, false);
    };
    hooks.cannotCreateLogFile = kCannotCreateLogFile;
    hooks.cannotReadLogStore = kCannotReadLogStore;
    hooks.cannotDeleteLog = kCannotDeleteLog;
    return true;
}();

}  // namespace

std::function<int(CErrorReportDlg&)> CPrivasweepDlg::s_errorReportRunner;

namespace {
ImageButton* MakeButton(QWidget* parent, int normal, int hover, int pressed)
{
    auto* b = new ImageButton(parent);
    b->LoadBitmaps(normal, pressed, hover);
    return b;
}
}  // namespace

// ---- Main window ------------------------------------------------------------------------------

CPrivasweepDlg::CPrivasweepDlg(QWidget* parent) : CSkinDialog(parent)
{
    // Every document kind's extensions, and plain text.
    iconExtensions_ = ExtensionsOfKinds(kAllDocumentKinds);
    iconExtensions_.push_back(u"TXT");
    setWindowIcon(QIcon(SkinIcon(128)));
    SetKeyPolicy({KeyAction::Swallow, KeyAction::Cancel, KeyAction::Swallow});
    searchPage_ = new CMainDocumentSearchDlg(this, this);
    logPage_ = new CMainShowLogDlg(this, this);
    btnSearch_ = MakeButton(this, 161, 161, 161);
    btnLog_ = MakeButton(this, 163, 164, 162);
    btnMenu_ = MakeButton(this, 149, 150, 151);
    btnMin_ = MakeButton(this, 152, 153, 154);
    btnExit_ = MakeButton(this, 155, 156, 157);
    btnConfig_ = MakeButton(this, 165, 166, 166);
    connect(btnSearch_, &QAbstractButton::clicked, this, [this] { ShowSearchPage(); });
    connect(btnLog_, &QAbstractButton::clicked, this, [this] { ShowLogPage(); });
    connect(btnMenu_, &QAbstractButton::clicked, this, [this] { OnBnClickedMenu(this); });
    connect(btnMin_, &QAbstractButton::clicked, this, [this] { showMinimized(); });
    connect(btnExit_, &QAbstractButton::clicked, this, [this] { OnExit(); });
    connect(btnConfig_, &QAbstractButton::clicked, this, [this] { OnBnClickedConfig(); });
    // F1: the help page.
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, [] {
        if (*kHelpPageUrl) OpenOnDesktop(QUrl(QString::fromUtf8(kHelpPageUrl)));
    });
}

CPrivasweepDlg::~CPrivasweepDlg() = default;

ImageButton* CPrivasweepDlg::Button(int id) const
{
    switch (id) {
    case 1001: return btnMenu_;
    case 1002: return btnMin_;
    case 1004: return btnExit_;
    case 1005: return btnSearch_;
    case 1006: return btnLog_;
    case 1007: return btnConfig_;
    default: return nullptr;
    }
}

bool CPrivasweepDlg::OnInitDialog()
{
    setWindowTitle(Tx(u"PRODUCT_NAME"));
    AppIcons().FillExtensionIcons(iconExtensions_);
    resize(730, 480);
    SetRoundRegion(731, 481, 2, 2);
    searchPage_->show();
    logPage_->hide();
    const QRect rc = rect();
    btnSearch_->move(1, rc.top() + 28);
    btnLog_->move(320, rc.top() + 28);
    btnConfig_->move(rc.right() + 1 - 91, rc.top() + 28);
    btnExit_->move(rc.right() + 1 - 25, rc.top() + 6);
    btnMin_->move(rc.right() + 1 - 46, rc.top() + 6);
    btnMenu_->move(rc.right() + 1 - 97, rc.top() + 6);
    // The pages sit inside the window's one-pixel frame.
    searchPage_->setGeometry(1, 68, 728, 411);
    logPage_->setGeometry(1, 68, 728, 411);
    try {
        PurgeOldEvents(static_cast<int>(GetLogSaveLimitDay()));
    } catch (const CppSQLite3Exception& e) {
        // Old events stay until a later start can read the store.
        AppLog().Write(u"Old events could not be purged: %s", e.ErrorMessage().c_str());
    }
    SetTimer(IDT_CHECK_LAST_FILE, 100);
    return true;
}

void CPrivasweepDlg::OnTimer(int id)
{
    if (id != IDT_CHECK_LAST_FILE) return;
    KillTimer(IDT_CHECK_LAST_FILE);
    const std::u16string last = FirstLastCheckFile(ReadLastCheckFile());
    if (last.empty()) return;
    // The last run ended inside this document: the error report offers to
    // show it in its folder or to except it.
    AppLog().Write(u"lastCheckFile left by the last run: %s", last.c_str());
    CErrorReportDlg report(this);
    if (s_errorReportRunner)
        s_errorReportRunner(report);
    else
        report.DoModal();
}

void CPrivasweepDlg::OnCancel()
{
    // Escape on a page ends the program as the exit button does; elsewhere
    // it is swallowed.
    QWidget* f = focusWidget();
    if (f && (searchPage_->isAncestorOf(f) || logPage_->isAncestorOf(f))) OnExit();
}

void CPrivasweepDlg::OnClose()
{
    // A close request (the window manager's close, Alt+F4, the search
    // window closed from outside, the session ending) ends the program the
    // way the exit button does, whichever control has the focus.
    OnExit();
}

void CPrivasweepDlg::OnExit()
{
    DeleteLastCheckFile();
    EndDialog(IDOK);
}

void CPrivasweepDlg::OnBnClickedConfig()
{
    {
        CConfigurationDlg config(this);
        config.DoModal();
    }
    logPage_->RefreshSummary();
    logPage_->update();
}

void CPrivasweepDlg::ShowSearchPage()
{
    btnSearch_->LoadBitmaps(161, 161, 161);
    btnLog_->LoadBitmaps(163, 162, 164);
    searchPage_->show();
    logPage_->hide();
}

void CPrivasweepDlg::ShowLogPage()
{
    btnSearch_->LoadBitmaps(160, 161, 159);
    btnLog_->LoadBitmaps(164, 164, 164);
    searchPage_->hide();
    logPage_->show();
}

void CPrivasweepDlg::StartWholeComputerSearch()
{
    searchPage_->OnBnClickedAllSearch();
    ShowSearchPage();
}

void CPrivasweepDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QPixmap bg = SkinBitmap(148);
    TransparentBlt(p, QRect(0, 0, bg.width(), bg.height()), bg, bg.rect());
    // The frame of the window's own size (the bitmap is larger).
    p.setPen(QColor(0x9A, 0xAF, 0xC3));
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

// ---- Search page ------------------------------------------------------------------------------

std::function<bool(QWidget*)> CMainDocumentSearchDlg::s_beforeRun;

CMainDocumentSearchDlg::CMainDocumentSearchDlg(CPrivasweepDlg* mainWindow, QWidget* parent)
    : QWidget(parent), main_(mainWindow)
{
    btnAll_ = MakeButton(this, 167, 169, 168);
    btnUser_ = MakeButton(this, 170, 172, 171);
    resize(730, 411);
    const int H = 411, W = 730;
    btnAll_->move(56, H - btnAll_->height() - 65);
    btnUser_->move(W - btnUser_->width() - 56, H - btnUser_->height() - 65);
    connect(btnAll_, &QAbstractButton::clicked, this, [this] { OnBnClickedAllSearch(); });
    connect(btnUser_, &QAbstractButton::clicked, this, [this] { OnBnClickedUserSearch(); });
}

void CMainDocumentSearchDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPixmap bg = SkinBitmap(230), a = SkinBitmap(173), b = SkinBitmap(174);
    TransparentBlt(p, QRect(0, 0, bg.width(), bg.height()), bg, bg.rect());
    const int h = btnAll_->height(), H = height(), W = width();
    TransparentBlt(p, QRect(91, H - a.height() - h - 65, a.width(), a.height()), a, a.rect());
    TransparentBlt(p, QRect(W - 91 - b.width(), H - b.height() - h - 65, b.width(), b.height()), b, b.rect());
}

void CMainDocumentSearchDlg::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape) {
        main_->OnExit();
        return;
    }
    QWidget::keyPressEvent(e);
}

void CMainDocumentSearchDlg::OnBnClickedAllSearch()
{
    Act(1);
    AppLog().Write(u"All Search Open.");
    CAllSearchDlg dlg(main_);
    dlg.SetSearchMode(0);
    dlg.SetOwnerRect(main_->geometry());
    if (s_beforeRun && s_beforeRun(&dlg)) return;
    dlg.DoModal();
    main_->LogPage()->RefreshSummary();
}

void CMainDocumentSearchDlg::OnBnClickedUserSearch()
{
    Act(2);
    AppLog().Write(u"User Search Open.");
    CUserSearchDlg dlg(this);
    dlg.SetOwnerRect(main_->geometry());
    if (s_beforeRun && s_beforeRun(&dlg)) return;
    dlg.DoModal();
}

void CMainDocumentSearchDlg::SetUserSearch(const std::vector<std::u16string>& include,
                                           const std::vector<std::u16string>& exclude, PersonalInfoMask personalInfoMask,
                                           DocumentKindMask documentKindMask)
{
    include_ = include;
    exclude_ = exclude;
    piMask_ = personalInfoMask;
    kindMask_ = documentKindMask;
    if (timerId_) killTimer(timerId_);
    timerId_ = startTimer(100);
}

void CMainDocumentSearchDlg::timerEvent(QTimerEvent* e)
{
    if (e->timerId() != timerId_) return;
    killTimer(timerId_);
    timerId_ = 0;
    OpenUserSearchWindow();
}

void CMainDocumentSearchDlg::OpenUserSearchWindow()
{
    CAllSearchDlg dlg(this);
    dlg.SetSearchMode(1);
    dlg.SetOwnerRect(main_->geometry());
    dlg.SetSearchOptions(piMask_, kindMask_, include_, exclude_);
    if (s_beforeRun && s_beforeRun(&dlg)) return;
    dlg.DoModal();
    main_->LogPage()->RefreshSummary();
}

// ---- Log page ------------------------------------------------------------------------------------

namespace {
struct StaticPlace {
    int id;
    const char16_t* key;
    int x, y;
};
const StaticPlace kLogStatics[] = {
    {1140, u"SHOW_LOG_SEARCH_RESULT", 57, 118},
    {1141, u"SHOW_LOG_PERSONAL_INFO_OPERATE_LIST", 57, 208},
    {1142, u"SHOW_LOG_OPERATE_RESULT", 57, 298},
    {1155, nullptr, 200, 66},
    {1143, u"SHOW_LOG_FIND_DOCUMENT_COUNT", 122, 102},
    {1144, u"SHOW_LOG_FIND_PERSONAL_INFO_COUNT", 122, 129},
    {1145, u"SHOW_LOG_OPERATE_ENCRYPT", 122, 171},
    {1146, u"SHOW_LOG_OPERATE_DELETE", 122, 208},
    {1147, u"SHOW_LOG_OPERATE_EXCEPTION", 122, 245},
    {1148, u"SHOW_LOG_REMAIN_DOCUMENT_COUNT", 122, 285},
    {1149, u"SHOW_LOG_REMAIN_PERSONAL_INFO_COUNT", 122, 312},
    {1150, nullptr, 300, 102},
    {1151, nullptr, 300, 129},
    {1152, nullptr, 300, 171},
    {1153, nullptr, 300, 208},
    {1154, nullptr, 300, 245},
    {1156, nullptr, 300, 285},
    {1157, nullptr, 300, 312},
};

std::u16string Th(int64_t n) { return FormatThousands(n); }
}  // namespace

CMainShowLogDlg::CMainShowLogDlg(CPrivasweepDlg* mainWindow, QWidget* parent) : QWidget(parent), main_(mainWindow)
{
    btnLog_ = MakeButton(this, 232, 234, 233);
    btnStart_ = new ImageButton(this);
    btnStart_->LoadBitmapStrip(263, 1);
    for (const auto& s : kLogStatics) {
        auto* l = new QLabel(this);
        l->setFont(Font11());
        if (s.key) l->setText(Tx(s.key));
        // Colours through the palette: a style sheet here would be the
        // style of the label's tooltip as well.
        QPalette pal = l->palette();
        if (s.id == 1155) pal.setColor(QPalette::WindowText, QColor(142, 117, 24));
        else if (s.id >= 1150) pal.setColor(QPalette::WindowText, QColor(254, 0, 0));
        l->setPalette(pal);
        l->setAutoFillBackground(false);
        if (s.id == 1140 || s.id == 1141 || s.id == 1142) l->setFont(FontBold12());
        if (s.id == 1155)
            l->setGeometry(s.x, s.y, 300, 14);
        else
            l->setGeometry(s.x, s.y, 170, 16);
        statics_[s.id] = l;
    }
    for (int id : {1150, 1156, 1152, 1153, 1154}) statics_[id]->setText(Tx(u"SHOW_LOG_KIND_OF_DOC_DEFAULT_COUNT"));
    for (int id : {1151, 1157}) statics_[id]->setText(Tx(u"SHOW_LOG_EVENT_DEFAULT_COUNT"));
    resize(730, 411);
    btnLog_->move(730 - btnLog_->width() - 56, 411 - btnLog_->height() - 65);
    btnStart_->move(43 + (338 - btnStart_->width()) / 2, 350);
    connect(btnStart_, &QAbstractButton::clicked, this, [this] { main_->StartWholeComputerSearch(); });
    connect(btnLog_, &QAbstractButton::clicked, this, [this] { OpenEventLog(); });
}

std::function<bool(QWidget*)> CMainShowLogDlg::s_beforeRun;

void CMainShowLogDlg::OpenEventLog()
{
    Act(17);
    {
        CEventLogDlg dlg(this);
        dlg.SetOwnerRect(main_->geometry());
        if (!(s_beforeRun && s_beforeRun(&dlg)))
            dlg.DoModal();
    }
    RefreshSummary();
    update();
}

QLabel* CMainShowLogDlg::Static(int id) const
{
    auto it = statics_.find(id);
    return it == statics_.end() ? nullptr : it->second;
}

void CMainShowLogDlg::SetValue(int id, const std::u16string& text, const std::u16string& tip)
{
    statics_[id]->setText(ToQ(text));
    statics_[id]->setToolTip(ToQ(tip));
}

void CMainShowLogDlg::RefreshSummary()
{
    // The summary is read from the event store; a store that cannot be read
    // leaves the page as it was (the trace says why) instead of ending the
    // program.
    try {
        ReadSummary();
    } catch (const CppSQLite3Exception& e) {
        AppLog().Write(u"The log summary could not be read: %s", e.ErrorMessage().c_str());
    }
}

void CMainShowLogDlg::ReadSummary()
{
    const int64_t id = GetLastSearchEventId();
    if (id == 0) {
        statics_[1155]->setText(Tx(u"SHOW_LOG_LAST_SEARCH_DATE_NO_EXIST"));
        btnStart_->show();
        for (auto& [sid, l] : statics_)
            if (sid != 1155) l->hide();
        statics_[1155]->show();
        statics_[1155]->setGeometry(43, 30, 338, 16);
        statics_[1155]->setAlignment(Qt::AlignCenter);
        hasSearch_ = false;
        update();
        return;
    }
    for (auto& [sid, l] : statics_) l->show();
    statics_[1155]->setGeometry(200, 66, 300, 14);
    statics_[1155]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    btnStart_->hide();
    EventInfoRow row;
    if (GetEventInfo(row, id)) {
        const std::u16string hh = row.Time.size() >= 4 ? row.Time.substr(0, 2) : u"00";
        const std::u16string mm = row.Time.size() >= 4 ? row.Time.substr(2, 2) : u"00";
        SetValue(1155, Fmt(u"SHOW_LOG_LAST_SEARCH_DATE_TIME", row.Year, row.Month, row.Day, hh.c_str(), mm.c_str()));
    }
    PersonalInfoCounts C;
    DocumentKindCounts K{};
    GetSearchEventLog(id, C, K);
    auto docTip = [](const DocumentKindCounts& k) {
        static_assert(kDocumentKindCount == 5, "the tooltip text names each document kind");
        const std::u16string a = Th(k[0]), b = Th(k[1]), c = Th(k[2]), d = Th(k[3]), e = Th(k[4]);
        return Fmt(u"SHOW_LOG_KIND_OF_DOC_COUNT_TOOLTIP", a.c_str(), b.c_str(), c.c_str(), d.c_str(), e.c_str());
    };
    auto hitTip = [](const PersonalInfoCounts& k) {
        std::u16string t[7];
        for (int i = 0; i < 7; ++i) t[i] = Th(k[i]);
        return Fmt(u"SHOW_LOG_EVENT_COUNT_TOOLTIP", t[0].c_str(), t[1].c_str(), t[2].c_str(), t[3].c_str(),
                   t[4].c_str(), t[5].c_str(), t[6].c_str());
    };
    auto sumK = [](const DocumentKindCounts& k) {
        int64_t s = 0;
        for (int v : k) s += v;
        return s;
    };
    SetValue(1150, Fmt(u"SHOW_LOG_KIND_OF_DOC_COUNT", Th(sumK(K)).c_str()), docTip(K));
    SetValue(1151, Fmt(u"SHOW_LOG_EVENT_COUNT", Th(C.Total()).c_str()), hitTip(C));
    int32_t enc = 0, del = 0, exc = 0;
    PersonalInfoCounts P;
    DocumentKindCounts Q{};
    if (!CountOperationEventsAfter(id, enc, del, exc)) {
        for (int v : {1152, 1153, 1154}) SetValue(v, GetText(u"SHOW_LOG_KIND_OF_DOC_DEFAULT_COUNT"));
    } else {
        const struct {
            int count;
            int32_t mask;
            int id;
        } groups[] = {{enc, 0xF00, 1152}, {del, 0xF000, 1153}, {exc, 0xFF0000, 1154}};
        for (const auto& g : groups) {
            if (g.count == 0) {
                SetValue(g.id, Fmt(u"SHOW_LOG_KIND_OF_DOC_COUNT", u"0"));
                continue;
            }
            PersonalInfoCounts c;
            DocumentKindCounts k{};
            SumOperationFilesAfter(id, c, k, g.mask);
            SetValue(g.id, Fmt(u"SHOW_LOG_KIND_OF_DOC_COUNT", Th(sumK(k)).c_str()));
            for (int i = 0; i < 7; ++i) P[i] += c[i];
            for (int i = 0; i < kDocumentKindCount; ++i) Q[i] += k[i];
        }
    }
    PersonalInfoCounts R;
    DocumentKindCounts S{};
    for (int i = 0; i < 7; ++i) R[i] = C[i] - P[i];
    for (int i = 0; i < kDocumentKindCount; ++i) S[i] = K[i] - Q[i];
    SetValue(1156, Fmt(u"SHOW_LOG_KIND_OF_DOC_COUNT", Th(sumK(S)).c_str()), docTip(S));
    SetValue(1157, Fmt(u"SHOW_LOG_EVENT_COUNT", Th(R.Total()).c_str()), hitTip(R));
    hasSearch_ = true;
    update();
}

void CMainShowLogDlg::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    RefreshSummary();
}

void CMainShowLogDlg::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape) {
        main_->OnExit();
        return;
    }
    QWidget::keyPressEvent(e);
}

void CMainShowLogDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPixmap bg = SkinBitmap(231), pic = SkinBitmap(235), none = SkinBitmap(264);
    TransparentBlt(p, QRect(0, 0, bg.width(), bg.height()), bg, bg.rect());
    const int H = height(), W = width();
    TransparentBlt(p, QRect(W - 91 - pic.width(), H - pic.height() - btnLog_->height() - 65, pic.width(), pic.height()),
                   pic, pic.rect());
    if (!hasSearch_) TransparentBlt(p, QRect(43, 56, none.width(), none.height()), none, none.rect());
}
