#include "app/searchdlg.h"

#include <sys/stat.h>

#include "search/scan.h"

#include <QApplication>
#include <QFileInfo>
#include <QLocale>
#include <QMouseEvent>
#include <QPointer>
#include <QPainter>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QThread>
#include <algorithm>

#include "app/appcore.h"
#include "app/mainmenu.h"
#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/documentkinds.h"
#include "core/logmgr.h"
#include "core/uitext.h"
#include "core/util.h"
#include "platform/system.h"
#include "platform/wformat.h"

using namespace ps::ui;

namespace {

// The tab texts: "all", then each document kind's.
const char16_t* TabKey(int tab)
{
    return tab == CAllSearchDlg::kAll ? u"KIND_OF_ALL" : kDocumentKinds[tab - CAllSearchDlg::kAll - 1].tabKey;
}

}  // namespace

// ---- Construction ------------------------------------------------------------------

CAllSearchDlg::CAllSearchDlg(QWidget* parent)
    : CSkinDialog(parent), m_session(std::make_unique<search::SearchSession>(static_cast<search::SessionSink&>(*this)))
{
    setWindowIcon(QIcon(SkinIcon(128)));
    SetKeyPolicy({KeyAction::Swallow, KeyAction::Swallow, KeyAction::Swallow});
    SetResizeBorder(10);
    SetCaptionBand(28);
    setMinimumSize(748, 500);

    auto mk = [this](int n, int h, int p) {
        auto* b = new ImageButton(this);
        b->LoadBitmaps(n, p, h);
        return b;
    };
    m_btnMenu = mk(149, 150, 151);
    m_btnMinimize = mk(152, 153, 154);
    m_btnMaximize = mk(236, 237, 238);
    m_btnClose = mk(155, 156, 157);
    auto strip = [this](int id, int images) {
        auto* b = new ImageButton(this);
        b->LoadBitmapStrip(id, images - 1);
        return b;
    };
    m_btnExcept = strip(213, 3);
    m_btnEncrypt = strip(211, 3);
    m_btnDelete = strip(212, 3);
    m_btnSearch = strip(215, 2);

    m_status = new QLabel(this);
    m_status->setFont(FontBold12());
    m_detail = new ps::ui::CPathLabel(this);
    m_detail->setFont(Font12());
    m_delay = new QLabel(this);
    m_delay->setFont(Font11());
    m_delay->setStyleSheet("color: rgb(0, 0, 255);");
    m_delay->setTextFormat(Qt::AutoText);
    m_delay->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    connect(m_delay, &QLabel::linkActivated, this, [this] { OnUnreadLineClicked(); });
    m_progress = new CProgressBar(this);
    m_progress->LoadBitmap(267);

    for (int i = 0; i < kTabCount; ++i) {
        m_tabs[i] = new CTabButton(this);
        m_tabs[i]->setFont(Font12());
        m_reports[i] = new CFileReportControl(this);
        m_reports[i]->setObjectName(QString::number(IDC_REPORT_FIRST + i));
        // The rows' commands wait until the search's end is shown.
        m_reports[i]->isSearching = [this] { return !IsIdle(); };
        connect(m_reports[i], &CFileReportControl::rowCommand, this, &CAllSearchDlg::OnRowCommand);
        m_reports[i]->hide();
        connect(m_tabs[i], &QAbstractButton::clicked, this, [this, i] { SelectTab(i); });
    }
    m_tabs[kAll]->SetSelected(true);
    SetTabCaptions({});

    connect(m_btnMenu, &QAbstractButton::clicked, this, [this] { ShowMainMenu(this); });
    connect(m_btnMinimize, &QAbstractButton::clicked, this, [this] { showMinimized(); });
    connect(m_btnMaximize, &QAbstractButton::clicked, this, [this] { ToggleMaximize(); });
    connect(m_btnClose, &QAbstractButton::clicked, this, [this] { OnBnClickedClose(); });
    connect(m_btnSearch, &QAbstractButton::clicked, this, [this] { OnBnClickedButtonSearch(); });
    connect(m_btnDelete, &QAbstractButton::clicked, this, [this] { OnBnClickedDelete(); });
    connect(m_btnEncrypt, &QAbstractButton::clicked, this, [this] { OnBnClickedEncrypt(); });
    connect(m_btnExcept, &QAbstractButton::clicked, this, [this] { OnBnClickedExcept(); });
    EnableActionButtons(false);
}

CAllSearchDlg::~CAllSearchDlg()
{
    ShutDown();
}

void CAllSearchDlg::ShutDown()
{
    if (m_shutDown) return;
    // A window destroyed while its search runs (the program ending under
    // it) still writes the search's end event.
    if (!IsIdle()) StopSearch(StopPath::SessionEnd);
    m_shutDown = true;
    // The session calls this window no more.
    m_session->Shutdown();
    StopTimers({IDT_ELAPSED_TIME, IDT_ANALYSIS_PROGRESS, IDT_SEARCH_COMPLETE, IDT_SEARCH_PROGRESS,
                IDT_FILE_COUNT, IDT_SEARCH_DELAY});
    // Rows still queued for the controls reach them before the records go.
    for (auto* r : m_reports) QCoreApplication::sendPostedEvents(r, 0);
    for (auto* r : m_reports) r->ResetContent();
    m_session->ClearFoundFiles();
    UnloadBanner();
}

void CAllSearchDlg::SetSearchOptions(::PersonalInfoMask personalInfoMask, DocumentKindMask documentKindMask,
                                     const std::vector<std::u16string>& include,
                                     const std::vector<std::u16string>& exclude)
{
    m_include = include;
    m_exclude = exclude;
    m_nPIMask = personalInfoMask;
    m_extensions = ExtensionsOfKinds(documentKindMask);
    m_optionsSet = true;
}

bool CAllSearchDlg::OnInitDialog()
{
    const QPixmap bg = SkinBitmap(204);
    resize(bg.width() + 18, bg.height() + 20);
    m_bannerHost = new QWidget(this);
    m_bannerHost->setGeometry(QRect(QPoint(11, 370), QPoint(738, 459)));
    LoadBanner();
    m_reports[kAll]->show();
    Layout();
    if (parentWidget()) {
        const QRect pr = parentWidget()->window()->geometry();
        move(pr.center() - QPoint(width() / 2, height() / 2));
    }
    return true;
}

// ---- Banner ------------------------------------------------------------------------------

void CAllSearchDlg::LoadBanner()
{
    const std::u16string path = GetCommonAppDataFolder() + u"/Norvane/Privasweep/RUZo.so";
    UnloadBanner();
    m_bannerModule = plat::LoadModule(path);
    if (m_bannerModule) {
        m_bannerInit = reinterpret_cast<BannerInitFn>(plat::ModuleSymbol(m_bannerModule, "QVBanner_InitializeEx"));
        m_bannerFinalize =
            reinterpret_cast<BannerFinalizeFn>(plat::ModuleSymbol(m_bannerModule, "QVBanner_Finalize"));
        m_bannerExecute = reinterpret_cast<BannerExecuteFn>(plat::ModuleSymbol(m_bannerModule, "QVBanner_Execute"));
        if (m_bannerInit) {
            const std::u16string folder = GetModuleFolder(false);
            m_bannerInit(folder.c_str(), 0);
        }
    }
    if (m_bannerHost && m_bannerExecute)
        m_bannerExecute(1800, reinterpret_cast<void*>(m_bannerHost->winId()));
}

bool CAllSearchDlg::HasBanner() const
{
    return m_bannerModule != nullptr && m_bannerExecute != nullptr;
}

void CAllSearchDlg::UnloadBanner()
{
    if (!m_bannerModule) return;
    if (m_bannerFinalize) m_bannerFinalize();
    plat::UnloadModule(m_bannerModule);
    m_bannerModule = nullptr;
    m_bannerInit = nullptr;
    m_bannerFinalize = nullptr;
    m_bannerExecute = nullptr;
}

// ---- Layout and painting -------------------------------------------------------------------

void CAllSearchDlg::Layout()
{
    const int W = width(), H = height();
    SetRoundRegion(W + 1, H + 1, 2, 2);
    m_btnClose->move(W - 22, 6);
    m_btnMaximize->move(W - 41, 6);
    m_btnMinimize->move(W - 60, 6);
    m_btnMenu->move(W - 110, 6);
    m_status->setGeometry(143, 63, W - 200, 16);
    m_detail->setGeometry(143, 78, W - 200, 18);
    m_btnSearch->move(W - 30 - m_btnSearch->width(), 100);
    // The progress bar ends a gap before the search/stop button.
    m_progress->setGeometry(143, 102, std::max(0, std::min(W - 250, m_btnSearch->x() - kProgressGap - 143)), 16);
    m_delay->setGeometry(143, 128, W - 150, 18);
    const int tabW = (W - 20) / kTabCount;
    int remainder = W - 15 - kTabCount * tabW;
    int x = 10;
    for (int i = 0; i < kTabCount; ++i) {
        int w = tabW;
        if (remainder > 0) {
            ++w;
            --remainder;
        }
        m_tabs[i]->setGeometry(x, 155, w, 24);
        x += w - 1;
    }
    // Without the banner the result control takes its place, down to a
    // gap above the action buttons.
    const bool banner = HasBanner();
    const int reportH = banner ? H - 314 : H - 180 - 12 - m_btnExcept->height() - 10;
    for (auto* r : m_reports) r->setGeometry(11, 180, W - 22, reportH);
    if (m_bannerHost) {
        m_bannerHost->move((W - 728) / 2, H - 131);
        m_bannerHost->setVisible(banner);
    }
    int bx = W - 10;
    for (auto* b : {m_btnExcept, m_btnDelete, m_btnEncrypt}) {
        bx -= b->width();
        b->move(bx, H - 10 - b->height());
        bx -= 5;
    }
}

void CAllSearchDlg::resizeEvent(QResizeEvent* e)
{
    CSkinDialog::resizeEvent(e);
    Layout();
}

void CAllSearchDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(249, 249, 249));
    const QPixmap bmp = SkinBitmap(204);
    const int bw = bmp.width(), bh = bmp.height(), W = width(), H = height();
    TransparentBlt(p, QRect(0, 0, bw - 100, bh - 50), bmp, QRect(0, 0, bw - 100, bh - 50));
    PlainBlt(p, QRect(bw - 100, 0, W - (bw - 100) - 30, bh - 50), bmp, QRect(30, 0, 1, bh - 50));
    TransparentBlt(p, QRect(W - 30, 0, 30, bh - 50), bmp, QRect(bw - 30, 0, 30, bh - 50));
    PlainBlt(p, QRect(0, bh - 50, 50, H - bh), bmp, QRect(0, bh - 50, 50, 1));
    PlainBlt(p, QRect(50, bh - 50, W - 100, H - bh), bmp, QRect(50, bh - 50, 50, 1));
    PlainBlt(p, QRect(W - 50, bh - 50, 50, H - bh), bmp, QRect(bw - 50, bh - 50, 50, 1));
    TransparentBlt(p, QRect(0, H - 50, bw - 100, 50), bmp, QRect(0, bh - 50, bw - 100, 50));
    PlainBlt(p, QRect(bw - 100, H - 50, W - (bw - 100) - 30, 50), bmp, QRect(30, bh - 50, 1, 50));
    TransparentBlt(p, QRect(W - 30, H - 50, 30, 50), bmp, QRect(bw - 30, bh - 50, 30, 50));
    // Border along the shown result control.
    const QRect rc = m_reports[m_current]->geometry();
    p.setPen(QColor(199, 199, 197));
    p.drawLine(rc.left() - 1, rc.top() - 1, rc.left() - 1, rc.bottom() + 1);
    p.drawLine(rc.left() - 1, rc.bottom() + 1, rc.right() + 1, rc.bottom() + 1);
    p.drawLine(rc.right() + 1, rc.top() - 1, rc.right() + 1, rc.bottom() + 1);
    p.setFont(FontBold12());
    p.setPen(Qt::black);
    p.drawText(QRect(10, 10, W - 130, 16), Qt::AlignLeft | Qt::AlignTop,
               Tx(m_nSearchMode == 0 ? u"ALL_SEARCH_TITLE" : u"USER_SEARCH_TITLE"));
}

CSkinDialog::Hit CAllSearchDlg::HitTest(const QPoint& local) const
{
    if (m_maximized) return Hit::Client;
    const Hit h = CSkinDialog::HitTest(local);
    if (h == Hit::Client) return Hit::Caption;  // dragged from anywhere in the client area
    return h;
}

void CAllSearchDlg::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->position().y() < 28) ToggleMaximize();
}

void CAllSearchDlg::ToggleMaximize()
{
    if (!m_maximized) {
        m_restoreRect = geometry();
        const QRect workArea = GetMonitorWorkArea(this);
        if (!workArea.isEmpty()) setGeometry(workArea);
        m_btnMaximize->LoadBitmaps(239, 241, 240);
    } else {
        setGeometry(m_restoreRect);
        m_btnMaximize->LoadBitmaps(236, 238, 237);
    }
    m_maximized = !m_maximized;
    update();
}

void CAllSearchDlg::SelectTab(int tab)
{
    if (tab < 0 || tab >= kTabCount) return;
    m_reports[m_current]->hide();
    m_tabs[m_current]->SetSelected(false);
    m_current = tab;
    m_tabs[tab]->SetSelected(true);
    m_reports[tab]->show();
    Layout();
    update();
}

void CAllSearchDlg::SetTabCaptions(const std::array<int, kTabCount>& counts)
{
    for (int i = 0; i < kTabCount; ++i) m_tabs[i]->setText(QFmt(TabKey(i), counts[i]));
}

ImageButton* CAllSearchDlg::ActionButton(int id) const
{
    switch (id) {
    case IDC_EXCEPT: return m_btnExcept;
    case IDC_ENCRYPT: return m_btnEncrypt;
    case IDC_DELETE: return m_btnDelete;
    default: return nullptr;
    }
}

void CAllSearchDlg::EnableActionButtons(bool enable)
{
    for (auto* b : {m_btnExcept, m_btnEncrypt, m_btnDelete}) {
        if (!b) continue;
        if (enable) {
            b->setEnabled(true);
            b->setGraphicsEffect(nullptr);
        } else if (b->isEnabled()) {
            ShowDisabled(b);
        }
    }
}

size_t CAllSearchDlg::FoundCount() { return m_session->FoundCount(); }

void CAllSearchDlg::ClearStartedDocument()
{
    // The analysis thread writes it under the window lock. A started message
    // already posted still comes and clears its own flag.
    std::lock_guard<plat::RankedMutex> g(m_lock);
    m_startedPath.clear();
    m_startedUnshown = false;
}

void CAllSearchDlg::StopTimers(std::initializer_list<int> ids)
{
    for (int id : ids) KillTimer(id);
}

// ---- Showing and starting ----------------------------------------------------------------

void CAllSearchDlg::showEvent(QShowEvent* e)
{
    CSkinDialog::showEvent(e);
    // A search window runs one search by itself, at its first showing; a
    // restored or re-shown window starts nothing.
    if (m_searchStarted) return;
    m_searchStarted = true;
    if (m_nSearchMode == 0) {
        setWindowTitle(Tx(u"ALL_SEARCH_TITLE"));
        m_detail->SetPlainLine(Tx(u"FILE_SEARCHING_MSG"));
        m_status->setText(Tx(u"ALL_SEARCH_ALL_SEARCHING"));
        m_nPIMask = 0xFFFF;
        m_include.clear();
        m_exclude.clear();
        m_extensions = ExtensionsOfKinds(kAllDocumentKinds);
    } else {
        setWindowTitle(Tx(u"USER_SEARCH_TITLE"));
        m_detail->SetPlainLine(Tx(u"FILE_SEARCHING_MSG"));
        m_status->setText(Tx(u"ALL_SEARCH_USER_SEARCHING"));
    }
    SelectTab(kAll);
    AppLog().Write(u"Create Search Start Thread.");
    EnableActionButtons(false);
    // The start command runs once the window is on screen, on this window's
    // thread: it resets the controls, which no other thread may touch.
    QTimer::singleShot(0, this, [this] {
        if (m_shutDown) return;
        if (!HasTimer(IDT_ELAPSED_TIME)) SetTimer(IDT_ELAPSED_TIME, 1000);
        if (!HasTimer(IDT_SEARCH_PROGRESS)) SetTimer(IDT_SEARCH_PROGRESS, 500);
        OnBnClickedButtonSearch();
        AppLog().Write(u"StartSearch OnBnClickedButtonSearch");
    });
}

void CAllSearchDlg::hideEvent(QHideEvent* e)
{
    CSkinDialog::hideEvent(e);
    if (isMinimized()) return;
    StopTimers({IDT_ELAPSED_TIME, IDT_ANALYSIS_PROGRESS, IDT_SEARCH_COMPLETE});
}

void CAllSearchDlg::ResetResults()
{
    // A previous analysis has ended (the search was idle); rows it queued go
    // in before the controls are emptied, and the records they point to after.
    m_session->JoinAnalysis();
    for (auto* r : m_reports) QCoreApplication::sendPostedEvents(r, 0);
    for (auto* r : m_reports) r->ResetContent();
    SetTabCaptions({});
    m_session->ClearFoundFiles();
}

void CAllSearchDlg::OnBnClickedButtonSearch()
{
    if (!IsIdle()) {
        StopSearch(StopPath::StopButton);
        return;
    }

    Act(4);
    std::sort(m_extensions.begin(), m_extensions.end());
    ResetResults();
    m_bProgressSwitched = false;
    m_progress->SetMarquee(true, 10);
    m_btnSearch->LoadBitmapStrip(215, 1);
    if (!HasTimer(IDT_ELAPSED_TIME)) SetTimer(IDT_ELAPSED_TIME, 1000);
    if (!HasTimer(IDT_SEARCH_PROGRESS)) SetTimer(IDT_SEARCH_PROGRESS, 500);
    ClearUnreadLine();
    m_dotCounter = 1;
    m_elapsed = 0;
    EnableActionButtons(false);
    m_endShown = false;
    search::SearchRequest request;
    request.mode = m_nSearchMode;
    request.mask = m_nPIMask;
    request.include = m_include;
    request.exclude = m_exclude;
    request.extensions = m_extensions;
    m_session->Start(request);
}

// ---- The session's reports (session threads) ----------------------------------------------

void CAllSearchDlg::Begin(int)
{
    // A new analysis: its first row of every tab starts a folder.
    m_lastFolder = {};
    m_lastRow = {};
}

void CAllSearchDlg::Progress(Step step, int index, const std::u16string& path)
{
    switch (step) {
    case Step::FirstDocumentFound: PostUserMessage(this, UM_FIRST_FILE_ACCEPTED); break;
    case Step::WalkEnded: PostUserMessage(this, UM_ENGINE_FINISHED); break;
    case Step::DocumentStarted: {
        std::lock_guard<plat::RankedMutex> g(m_lock);
        m_startedPath = path;
        m_startedIndex = index;
        m_startedUnshown = true;
        if (!m_startedPosted) {
            m_startedPosted = true;
            PostUserMessage(this, UM_ANALYSIS_FILE_STARTED, static_cast<quintptr>(index), 0);
        }
        break;
    }
    case Step::TotalsChanged: PostUserMessage(this, UM_RESULT_COUNTS_CHANGED); break;
    }
}

void CAllSearchDlg::Document(SearchFileInfo* record, const PersonalInfoCounts& counts, int kind)
{
    // Rows are posted to their controls in order, so a folder row always
    // precedes its documents.
    AddRows(kAll, counts, record, m_lastFolder[kAll], m_lastRow[kAll]);
    if (kind > 0) AddRows(kind, counts, record, m_lastFolder[kind], m_lastRow[kind]);
}

void CAllSearchDlg::Unread(const SearchFileInfo&, ScanStatus)
{
    // Counted by the session; the last line says how many at the end.
}

void CAllSearchDlg::Finished() { PostUserMessage(this, UM_ANALYSIS_FINISHED); }

void CAllSearchDlg::Cancelled()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this] { Cancelled(); }, Qt::QueuedConnection);
        return;
    }
    m_endShown = true;
    EnableActionButtons(FoundCount() != 0);
    m_status->setText(Tx(u"SEARCH_CANCELED"));
    m_detail->SetPlainLine(ps::ui::ToQ(ResultText()));
    ShowUnreadLine();
    m_btnSearch->LoadBitmapStrip(216, 2);
}

void CAllSearchDlg::StoreWriteFailed(const EventStoreFailure& first)
{
    // Possibly under the store lock: only posted. The session calls it once
    // per search; the rows already on screen stay whatever the store does.
    QMetaObject::invokeMethod(
        this,
        [this, first] {
            if (m_shutDown) return;
            const std::u16string text = EventStoreFailureText(first) + u"\n검색 결과는 화면에 그대로 표시됩니다.";
            if (m_asking) {
                m_storeMessagePending = text;
                return;
            }
            ShowStoreMessage(text);
        },
        Qt::QueuedConnection);
}

void CAllSearchDlg::ShowStoreMessage(const std::u16string& text)
{
    m_storeMessageOpen = true;
    m_completedWhileStoreMessage = false;
    ShowMessageBox(text, u"", 1, this);
    m_storeMessageOpen = false;
    if (m_completedWhileStoreMessage && !m_shutDown) {
        m_completedWhileStoreMessage = false;
        ShowMessageBox(GetText(u"SEARCH_COMPLETED_MSG"), u"", 1, this);
    }
}

// ---- Messages and timers ----------------------------------------------------------------

qintptr CAllSearchDlg::OnUserMessage(int number, quintptr, qintptr)
{
    switch (number) {
    // The session moves itself on; these only change what is shown, and only
    // while the window shows a search whose end it has not shown yet.
    case UM_FIRST_FILE_ACCEPTED:
        if (!IsIdle()) {
            KillTimer(IDT_SEARCH_PROGRESS);
            if (!HasTimer(IDT_FILE_COUNT)) SetTimer(IDT_FILE_COUNT, 1);
        }
        return 0;
    case UM_ENGINE_FINISHED:
        // The session has gone on to its analysis: its progress is shown.
        if (!IsIdle()) {
            KillTimer(IDT_SEARCH_PROGRESS);
            if (!HasTimer(IDT_ANALYSIS_PROGRESS)) SetTimer(IDT_ANALYSIS_PROGRESS, 1);
        }
        return 0;
    case UM_ANALYSIS_FINISHED:
        // The session has completed and written its end event: shown once.
        if (!IsIdle() && m_session->State() == search::SessionState::Completed) SetTimer(IDT_SEARCH_COMPLETE, 1);
        return 0;
    case UM_ANALYSIS_FILE_STARTED: {
        // A document started after this one posts again.
        std::unique_lock<plat::RankedMutex> g(m_lock);
        m_startedPosted = false;
        g.unlock();
        KillTimer(IDT_SEARCH_DELAY);
        ClearUnreadLine();
        SetTimer(IDT_SEARCH_DELAY, 60000);
        return 0;
    }
    case UM_RESULT_COUNTS_CHANGED: {
        std::array<int, kTabCount> c{};
        for (int i = 0; i < kTabCount; ++i) c[i] = m_session->DocumentCount(i);
        SetTabCaptions(c);
        return 0;
    }
    default: return 0;
    }
}

void CAllSearchDlg::OnTimer(int id)
{
    switch (id) {
    // The timers run on this window's thread: only the started document
    // and its flags are shared (with the analysis thread), copied under
    // m_lock, which is taken with nothing else held and released before
    // the session is asked anything.
    case IDT_ELAPSED_TIME: {
        ++m_elapsed;
        const std::u16string elapsed = Fmt(u"ELAPSED_TIME", static_cast<int>(m_elapsed / 60),
                                           static_cast<int>(m_elapsed % 60));
        const std::u16string head =
            GetText(m_nSearchMode == 0 ? u"ALL_SEARCH_ALL_SEARCHING" : u"ALL_SEARCH_USER_SEARCHING");
        m_status->setText(ps::ui::ToQ(head + u" " + elapsed));
        break;
    }
    case IDT_SEARCH_PROGRESS: {
        m_detail->SetPlainLine(Tx(u"SEARCH_PROGRESS") + QString(m_dotCounter % 7, '.'));
        ++m_dotCounter;
        break;
    }
    case IDT_FILE_COUNT: {
        const size_t n = FoundCount();
        if (n % 17 == 0) {
            const std::u16string count = FormatThousands(static_cast<int64_t>(n));
            m_detail->SetPlainLine(Tx(u"FILE_SEARCHING_MSG") + " " + QFmt(u"FILE_SEARCH_COUNT", count.c_str()));
        }
        break;
    }
    case IDT_ANALYSIS_PROGRESS: {
        if (m_session->IsCancelled()) KillTimer(IDT_ANALYSIS_PROGRESS);
        KillTimer(IDT_FILE_COUNT);
        const int n = static_cast<int>(FoundCount());
        if (!m_bProgressSwitched) {
            m_bProgressSwitched = true;
            m_progress->SetMarquee(false);
            m_progress->setRange(0, n > 0 ? n : 100);
        }
        bool show = false;
        int i = 0;
        std::u16string path;
        {
            std::lock_guard<plat::RankedMutex> g(m_lock);
            if (m_startedUnshown && !m_startedPath.empty()) {
                m_startedUnshown = false;
                show = true;
                i = m_startedIndex;
                path = m_startedPath;
            }
        }
        if (show && !HasTimer(IDT_SEARCH_COMPLETE) && isVisible()) {
            m_detail->SetPathLine(ps::ui::ToQ(plat::FormatWide(u"[%d / %d] ", i + 1, n)), ps::ui::ToQ(path));
            m_progress->setValue(i);
        }
        break;
    }
    case IDT_SEARCH_COMPLETE: Completion(); break;
    case IDT_SEARCH_DELAY:
        ClearUnreadLine();
        m_delay->setText(Tx(u"SEARCH_DELAY_MESSAGE"));
        break;
    case IDT_RESTORE_SYSMENU: KillTimer(IDT_RESTORE_SYSMENU); break;
    default: break;
    }
}

std::u16string CAllSearchDlg::ResultText() const
{
    int64_t hits = 0;
    for (int k = 0; k < kPersonalInfoKindCount; ++k) hits += m_session->Total(k);
    const std::u16string h = FormatThousands(hits);
    return Fmt(u"SEARCH_RESULT", m_session->DocumentCount(kAll), h.c_str());
}

void CAllSearchDlg::ClearUnreadLine()
{
    m_delay->clear();
    m_delay->setToolTip(QString());
    m_delayTarget.clear();
}

void CAllSearchDlg::ShowUnreadLine()
{
    // A search that could not read everything it found says so; the day's
    // error-file list names each with its reason.
    int folders = 0;
    const int unread = m_session->UnreadDocuments(&folders);
    std::u16string line;
    if (unread > 0) line = plat::FormatWide(u"읽지 못한 문서: %d개", unread);
    if (folders > 0)
        line += (line.empty() ? u"" : u", ") + plat::FormatWide(u"열지 못한 폴더: %d개", folders);
    if (line.empty()) return;
    // Lines the list could not take (a full disk) are told, not lost.
    const int unlisted = std::min(m_session->UnlistedDocuments(), unread + folders);
    if (unlisted > 0)
        line += plat::FormatWide(u" (오류 파일 목록에 %d개 기록됨, %d개는 디스크에 기록하지 못함)",
                                 unread + folders - unlisted, unlisted);
    else
        line += u" (오류 파일 목록에 기록됨)";
    // The line opens the day's list (its folder when the day has none, as
    // after a search that passed midnight); the list's place is its tooltip.
    std::u16string target = ErrorFileListPath(plat::LocalTimeNow());
    struct stat st{};
    if (target.empty() || ::stat(plat::PathToNative(target).c_str(), &st) != 0) target = ErrorFileListFolder();
    if (target.empty()) {
        m_delay->setText(ps::ui::ToQ(line));
        return;
    }
    m_delay->setText(QStringLiteral("<a href=\"list\" style=\"color: rgb(0, 0, 255);\">%1</a>")
                         .arg(ps::ui::ToQ(line).toHtmlEscaped()));
    m_delay->setToolTip(ps::ui::ToQ(target));
    m_delayTarget = target;
}

void CAllSearchDlg::OnUnreadLineClicked()
{
    if (!m_delayTarget.empty()) OpenOrSayWhy(m_delayTarget, this);
}

void CAllSearchDlg::Completion()
{
    StopTimers({IDT_SEARCH_COMPLETE, IDT_ANALYSIS_PROGRESS, IDT_ELAPSED_TIME, IDT_FILE_COUNT, IDT_SEARCH_DELAY});
    // Shown once, for a search the session completed (its end event is
    // written); a stop or a close already showed its own end.
    if (m_endShown || m_session->State() != search::SessionState::Completed) return;
    // Idle before the message: a close while it is shown stops nothing.
    m_endShown = true;
    ClearUnreadLine();
    ClearStartedDocument();
    // Rows still on their way are shown before the result line.
    for (auto* r : m_reports) QCoreApplication::sendPostedEvents(r, 0);
    // The analysis thread told Finished as its last call: it ends now.
    m_session->JoinAnalysis();
    EnableActionButtons(FoundCount() != 0);
    m_btnSearch->LoadBitmapStrip(216, 2);
    m_status->setText(Tx(u"SEARCH_COMPLETE_EXPLAIN"));
    m_detail->SetPlainLine(ps::ui::ToQ(ResultText()));
    ShowUnreadLine();
    m_progress->SetMarquee(false);
    m_progress->setValue(m_progress->maximum());
    if (m_asking) {
        // Never a box over the stop question: the question goes, and the
        // completion message is shown once it has returned.
        m_completedWhileAsking = true;
        if (auto* box = qobject_cast<ps::ui::CMessageBox*>(QApplication::activeModalWidget());
            box && box->parentWidget() == this)
            box->EndDialog(ps::ui::IDCANCEL);
        return;
    }
    if (m_storeMessageOpen) {
        // The store's message is read first; the completion follows it.
        m_completedWhileStoreMessage = true;
        return;
    }
    ShowMessageBox(GetText(u"SEARCH_COMPLETED_MSG"), u"", 1, this);
}

// ---- Closing -----------------------------------------------------------------------------

bool CAllSearchDlg::StopSearch(StopPath path)
{
    if (IsIdle()) return true;
    if (path != StopPath::SessionEnd) {
        // One question at a time (a second close while it is open is no
        // second question).
        if (m_asking) return false;
        m_asking = true;
        m_completedWhileAsking = false;
        const int answer = ShowMessageBox(GetText(u"SEARCH_CANCEL_QUESTION"), u"", 0, this);
        m_asking = false;
        if (!m_storeMessagePending.empty() && !m_shutDown) {
            // A store failure told while the question was open.
            const std::u16string text = std::move(m_storeMessagePending);
            m_storeMessagePending.clear();
            const bool completed = m_completedWhileAsking;
            m_completedWhileAsking = false;
            ShowStoreMessage(text);
            if (completed) {
                ShowMessageBox(GetText(u"SEARCH_COMPLETED_MSG"), u"", 1, this);
                return false;
            }
        }
        if (m_completedWhileAsking) {
            // The search completed while the question was shown: it has its
            // end event already, the answer was to a question that no longer
            // stands, and the window stays with its results.
            m_completedWhileAsking = false;
            ShowMessageBox(GetText(u"SEARCH_COMPLETED_MSG"), u"", 1, this);
            return false;
        }
        if (answer != IDOK) return false;
        // The search completed while the question was shown and its
        // completion is still on its way: the answer no longer stands, and
        // the completion message comes after the question.
        if (m_session->State() == search::SessionState::Completed && !m_endShown) return false;
    }
    // Stopped by other means while the question was shown: nothing to stop.
    if (IsIdle()) return true;
    if (path == StopPath::StopButton) Act(3);
    StopTimers({IDT_ELAPSED_TIME, IDT_ANALYSIS_PROGRESS, IDT_SEARCH_COMPLETE, IDT_SEARCH_PROGRESS,
                IDT_SEARCH_DELAY});
    ClearUnreadLine();
    ClearStartedDocument();
    // Nothing of the search outlives this call: the session joins its
    // analysis and, unless the analysis completed first, writes the cancel
    // event and reports it (Cancelled).
    const bool cancelled = m_session->Stop();
    // Completed first: the window that stays shows the completion when it
    // comes; a window that closes shows none.
    if (!cancelled && path != StopPath::StopButton) m_endShown = true;
    return true;
}

void CAllSearchDlg::OnBnClickedClose()
{
    if (!StopSearch(StopPath::CloseButton)) return;
    EndDialog(IDOK);
}

void CAllSearchDlg::reject()
{
    OnClose();
}

void CAllSearchDlg::OnClose()
{
    // A close from outside (window manager, Alt+F4, the session ending)
    // ends the program: the search stops, the window closes and the main
    // window is asked to close after it.
    if (!StopSearch(SessionEnding() ? StopPath::SessionEnd : StopPath::CloseRequest)) return;
    QPointer<QWidget> owner = parentWidget() ? parentWidget()->window() : nullptr;
    EndDialog(IDCANCEL);
    if (owner && owner != this) QTimer::singleShot(0, owner, [owner] {
        if (owner && owner->isVisible()) owner->close();
    });
}

int CAllSearchDlg::AddRows(int tab, const PersonalInfoCounts& counts, SearchFileInfo* record,
                           std::u16string& lastFolder, CFileInfoRecord*& lastRow)
{
    CFileReportControl* control = m_reports[tab];
    if (!control || !record) return 0;
    if (!lastRow || lastFolder != record->Folder()) {
        auto folderRow = std::make_unique<CFileInfoRecord>(record);
        lastRow = folderRow.get();  // the control owns it once the event is in
        PostAddRow(control, UM_ADD_FOLDER_ROW, std::move(folderRow));
        lastFolder = record->Folder();
    }
    PostAddRow(control, UM_ADD_FILE_ROW, std::make_unique<CFileInfoRecord>(counts, m_nPIMask, record), lastRow);
    return 1;
}

// ---- Document actions (app/docactions.h) --------------------------------------------------

bool CAllSearchDlg::CollectTickedDocuments(CFileReportControl* control, std::vector<CFileInfoRecord*>& rows,
                                           DocumentList& documents, std::vector<CFileInfoRecord*>& documentRows)
{
    return m_actions.CollectTickedDocuments(control, rows, documents, documentRows);
}

int CAllSearchDlg::DeleteRecords(const DocumentList& documents, std::vector<size_t>& processed)
{
    return m_actions.DeleteRecords(documents, processed);
}

int CAllSearchDlg::EncryptRecords(const DocumentList& documents, std::vector<size_t>& processed)
{
    return m_actions.EncryptRecords(documents, processed);
}

int CAllSearchDlg::ExceptRecords(const DocumentList& documents, std::vector<size_t>& processed)
{
    return m_actions.ExceptRecords(documents, processed);
}

void CAllSearchDlg::OnBnClickedDelete() { m_actions.RunOnTicked(CSearchDocumentActions::Action::Delete); }
void CAllSearchDlg::OnBnClickedEncrypt() { m_actions.RunOnTicked(CSearchDocumentActions::Action::Encrypt); }
void CAllSearchDlg::OnBnClickedExcept() { m_actions.RunOnTicked(CSearchDocumentActions::Action::Except); }

void CAllSearchDlg::OnRowCommand(RowCommand command, CFileInfoRecord* row, const std::u16string& path)
{
    using Action = CSearchDocumentActions::Action;
    switch (command) {
    case RowCommand::Open:
        Act(8);
        OpenOrSayWhy(path, this);
        return;
    case RowCommand::ExpandAll:
        Act(13);
        m_reports[m_current]->expandAll();
        return;
    case RowCommand::CollapseAll:
        Act(12);
        m_reports[m_current]->collapseAll();
        return;
    case RowCommand::Properties:
        Act(14);
        ShowDocumentProperties(path, this);
        return;
    case RowCommand::Encrypt: m_actions.RunOnRow(Action::Encrypt, row, path); return;
    case RowCommand::Delete: m_actions.RunOnRow(Action::Delete, row, path); return;
    case RowCommand::Except: m_actions.RunOnRow(Action::Except, row, path); return;
    }
}

void CAllSearchDlg::RecountTabCaptions()
{
    std::array<int, kTabCount> counts{};
    for (int i = 0; i < kTabCount; ++i) counts[i] = m_reports[i]->DocumentRowCount();
    SetTabCaptions(counts);
}

std::vector<CFileReportControl*> CAllSearchDlg::AllReports() const
{
    return std::vector<CFileReportControl*>(m_reports.begin(), m_reports.end());
}

int CAllSearchDlg::RunActionWindow(CDocumentActionDlg& dlg)
{
    return actionWindowRunner ? actionWindowRunner(dlg) : dlg.DoModal();
}

int CAllSearchDlg::RunPasswordWindow(CPasswordConfirmDlg& dlg)
{
    return passwordWindowRunner ? passwordWindowRunner(dlg) : dlg.DoModal();
}
