#include "app/searchdlg.h"

#include <QApplication>
#include <QFileInfo>
#include <QLocale>
#include <QMouseEvent>
#include <QPointer>
#include <QPainter>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <set>
#include <unordered_set>

#include "app/appcore.h"
#include "app/maindlg.h"
#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/crypt.h"
#include "core/eventstore/eventqueries.h"
#include "core/eventstore/eventtables.h"
#include "core/eventstore/eventtypes.h"
#include "core/logmgr.h"
#include "core/eventstore/CppSQLite3.h"
#include "core/registry.h"
#include "core/uitext.h"
#include "core/util.h"
#include "platform/codec.h"
#include "platform/system.h"
#include "platform/wformat.h"
#include "search/drives.h"
#include "search/engine.h"
#include "search/analysispool.h"
#include "search/matcher.h"

using namespace ps::ui;

namespace {

// The search windows that exist. The engine's callbacks look their context
// up here under this lock, so a window that is gone is never touched.
std::mutex g_liveLock;
std::set<void*> g_liveWindows;

bool ContextAlive(void* context)
{
    std::lock_guard<std::mutex> g(g_liveLock);
    return g_liveWindows.count(context) != 0;
}

const char16_t* const kTabKeys[CAllSearchDlg::kTabCount] = {
    u"KIND_OF_ALL", u"KIND_OF_HWP", u"KIND_OF_DOC", u"KIND_OF_XLS", u"KIND_OF_PPT", u"KIND_OF_PDF",
};

// Case-blind comparison of folder texts (ASCII letters), then exact, so that
// folders differing only in case stay apart and keep their documents together.
int CompareNoCase(const std::u16string& a, const std::u16string& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

int DocumentKindOfName(const std::u16string& fileName)
{
    const std::u16string ext = IconKeyOfName(fileName);
    if (ext == u"HWP") return CAllSearchDlg::kHwp;
    if (ext == u"DOC" || ext == u"DOCX") return CAllSearchDlg::kDoc;
    if (ext == u"XLS" || ext == u"XLSX") return CAllSearchDlg::kXls;
    if (ext == u"PPT" || ext == u"PPTX") return CAllSearchDlg::kPpt;
    if (ext == u"PDF") return CAllSearchDlg::kPdf;
    return -1;
}

std::u16string MakeDocumentKey(const SearchFileInfo& record, uint32_t mask)
{
    const std::u16string text =
        plat::FormatWide(u"%s_%I64u_%I64u_%d", record.path.c_str(), static_cast<unsigned long long>(record.fileSize),
                         static_cast<unsigned long long>(record.lastWriteTime), static_cast<int>(mask));
    // The key text in code page 949, as stored results and exceptions have
    // always been keyed. A path that code page cannot hold (characters
    // outside it, bytes that are not UTF-8) would lose its differences in
    // the substitution and share another document's key: such a path is
    // keyed by its lossless UTF-8 form instead, behind a byte that code page
    // 949 never produces.
    std::string bytes = ToNarrow(text);
    if (plat::DecodeCodePage(plat::kCp949, bytes) != text) bytes = "\xFF" + plat::PathToNative(text);
    Util::Crypt::Sha256 sha;
    sha.Update(bytes.data(), bytes.size());
    sha.Final();
    std::u16string key;
    static const char16_t hex[] = u"0123456789ABCDEF";
    for (size_t i = 0; i < Util::Crypt::Sha256::kDigestSize; ++i) {
        key += hex[sha.Digest()[i] >> 4];
        key += hex[sha.Digest()[i] & 15];
    }
    return key;
}

bool CAllSearchDlg::IsDriveRoot(const std::u16string& path)
{
    if (path == u"/") return true;
    const search::DriveEnvironment env = search::SystemDriveEnvironment();
    for (const auto& drive : search::ListDrives(env.mountInfo, env.sysfsRoot, env.devRoot))
        if (drive.type != search::DriveType::Unknown && drive.rootPath == path) return true;
    return false;
}

// ---- Construction ------------------------------------------------------------------

CAllSearchDlg::CAllSearchDlg(QWidget* parent) : CSkinDialog(parent)
{
    m_foundFiles.reserve(1000);
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
    m_detail = new QLabel(this);
    m_detail->setFont(Font12());
    m_delay = new QLabel(this);
    m_delay->setFont(Font11());
    m_delay->setStyleSheet("color: rgb(0, 0, 255);");
    m_progress = new CProgressBar(this);
    m_progress->LoadBitmap(267);

    for (int i = 0; i < kTabCount; ++i) {
        m_tabs[i] = new CTabButton(this);
        m_tabs[i]->setFont(Font12());
        m_reports[i] = new CFileReportControl(this);
        m_reports[i]->setObjectName(QString::number(IDC_REPORT_FIRST + i));
        m_reports[i]->isSearching = [this] { return IsSearching(); };
        m_reports[i]->hide();
        connect(m_tabs[i], &QAbstractButton::clicked, this, [this, i] { SelectTab(i); });
    }
    m_tabs[kAll]->SetSelected(true);
    SetTabCaptions({0, 0, 0, 0, 0, 0});

    connect(m_btnMenu, &QAbstractButton::clicked, this, [this] { CPrivasweepDlg::OnBnClickedMenu(this); });
    connect(m_btnMinimize, &QAbstractButton::clicked, this, [this] { showMinimized(); });
    connect(m_btnMaximize, &QAbstractButton::clicked, this, [this] { ToggleMaximize(); });
    connect(m_btnClose, &QAbstractButton::clicked, this, [this] { OnBnClickedClose(); });
    connect(m_btnSearch, &QAbstractButton::clicked, this, [this] { OnBnClickedButtonSearch(); });
    connect(m_btnDelete, &QAbstractButton::clicked, this, [this] { OnBnClickedDelete(); });
    connect(m_btnEncrypt, &QAbstractButton::clicked, this, [this] { OnBnClickedEncrypt(); });
    connect(m_btnExcept, &QAbstractButton::clicked, this, [this] { OnBnClickedExcept(); });
    EnableActionButtons(false);

    std::lock_guard<std::mutex> g(g_liveLock);
    g_liveWindows.insert(this);
    FileSearchSetContextCheck(&ContextAlive);
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
    {
        std::lock_guard<std::mutex> g(g_liveLock);
        g_liveWindows.erase(this);
    }
    m_bCancel = 1;
    if (!IsIdle()) FileSearchStop(this);
    JoinAnalysisThread();
    StopTimers({IDT_ELAPSED_TIME, IDT_ANALYSIS_PROGRESS, IDT_SEARCH_COMPLETE, IDT_SEARCH_PROGRESS,
                IDT_FILE_COUNT, IDT_SEARCH_DELAY});
    // Rows still queued for the controls reach them before the records go.
    for (auto* r : m_reports) QCoreApplication::sendPostedEvents(r, 0);
    for (auto* r : m_reports) r->ResetContent();
    ClearFoundFiles();
    UnloadBanner();
}

void CAllSearchDlg::SetSearchOptions(uint32_t personalInfoMask, uint32_t documentKindMask,
                                     const std::vector<std::u16string>& include,
                                     const std::vector<std::u16string>& exclude)
{
    m_include = include;
    m_exclude = exclude;
    m_nPIMask = personalInfoMask;
    m_extensions.clear();
    if (documentKindMask & 0x01) m_extensions.push_back(u"HWP");
    if (documentKindMask & 0x02) m_extensions.insert(m_extensions.end(), {u"DOC", u"DOCX"});
    if (documentKindMask & 0x04) m_extensions.insert(m_extensions.end(), {u"XLS", u"XLSX"});
    if (documentKindMask & 0x08) m_extensions.insert(m_extensions.end(), {u"PPT", u"PPTX"});
    if (documentKindMask & 0x10) m_extensions.push_back(u"PDF");
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

namespace {
using BannerInitFn = void (*)(const char16_t*, int);
using BannerFinalizeFn = void (*)();
using BannerExecuteFn = void (*)(int, void*);
BannerInitFn g_bannerInit = nullptr;
BannerFinalizeFn g_bannerFinalize = nullptr;
BannerExecuteFn g_bannerExecute = nullptr;
}  // namespace

void CAllSearchDlg::LoadBanner()
{
    const std::u16string path = GetCommonAppDataFolder() + u"/Norvane/Privasweep/RUZo.so";
    UnloadBanner();
    m_bannerModule = plat::LoadModule(path);
    if (m_bannerModule) {
        g_bannerInit = reinterpret_cast<BannerInitFn>(plat::ModuleSymbol(m_bannerModule, "QVBanner_InitializeEx"));
        g_bannerFinalize =
            reinterpret_cast<BannerFinalizeFn>(plat::ModuleSymbol(m_bannerModule, "QVBanner_Finalize"));
        g_bannerExecute = reinterpret_cast<BannerExecuteFn>(plat::ModuleSymbol(m_bannerModule, "QVBanner_Execute"));
        if (g_bannerInit) {
            const std::u16string folder = GetModuleFolder(false);
            g_bannerInit(folder.c_str(), 0);
        }
    }
    if (m_bannerHost && g_bannerExecute)
        g_bannerExecute(1800, reinterpret_cast<void*>(m_bannerHost->winId()));
}

bool CAllSearchDlg::HasBanner() const
{
    return m_bannerModule != nullptr && g_bannerExecute != nullptr;
}

void CAllSearchDlg::UnloadBanner()
{
    if (!m_bannerModule) return;
    if (g_bannerFinalize) g_bannerFinalize();
    plat::UnloadModule(m_bannerModule);
    m_bannerModule = nullptr;
    g_bannerInit = nullptr;
    g_bannerFinalize = nullptr;
    g_bannerExecute = nullptr;
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
    const int tabW = (W - 20) / 6;
    int remainder = W - 15 - 6 * tabW;
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
    for (int i = 0; i < kTabCount; ++i) m_tabs[i]->setText(QFmt(kTabKeys[i], counts[i]));
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

size_t CAllSearchDlg::FoundCount()
{
    std::lock_guard<std::mutex> g(m_foundLock);
    return m_foundFiles.size();
}

void CAllSearchDlg::ClearProgressQueues()
{
    // The analysis thread pushes to both queues under the window lock.
    std::lock_guard<std::mutex> g(m_lock);
    m_pathQueue.clear();
    m_indexQueue.clear();
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
        m_detail->setText(Tx(u"FILE_SEARCHING_MSG"));
        m_status->setText(Tx(u"ALL_SEARCH_ALL_SEARCHING"));
        m_nPIMask = 0xFFFF;
        m_include.clear();
        m_exclude.clear();
        m_extensions = {u"HWP", u"DOC", u"PPT", u"PPTX", u"PDF", u"DOCX", u"XLS", u"XLSX"};
    } else {
        setWindowTitle(Tx(u"USER_SEARCH_TITLE"));
        m_detail->setText(Tx(u"FILE_SEARCHING_MSG"));
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

void CAllSearchDlg::ClearFoundFiles()
{
    std::lock_guard<std::mutex> g(m_foundLock);
    m_foundFiles.clear();
}

void CAllSearchDlg::ResetResults()
{
    // A previous analysis has ended (the search was idle); rows it queued go
    // in before the controls are emptied.
    JoinAnalysisThread();
    for (auto* r : m_reports) QCoreApplication::sendPostedEvents(r, 0);
    for (auto* r : m_reports) r->ResetContent();
    SetTabCaptions({0, 0, 0, 0, 0, 0});
    for (auto& c : m_tabCounts) c = 0;
    ClearFoundFiles();
    m_firstAccepted = false;
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
    m_bIdle = 0;
    m_bCancel = 0;
    m_progress->SetMarquee(true, 10);
    m_btnSearch->LoadBitmapStrip(215, 1);
    if (!HasTimer(IDT_ELAPSED_TIME)) SetTimer(IDT_ELAPSED_TIME, 1000);
    if (!HasTimer(IDT_SEARCH_PROGRESS)) SetTimer(IDT_SEARCH_PROGRESS, 500);
    m_delay->clear();
    m_dotCounter = 1;
    m_elapsed = 0;
    for (auto& t : m_totals) t = 0;
    m_unreadDocuments = 0;
    m_searchEventId = AddEvent(m_nSearchMode == 0 ? EVENT_ALL_SEARCH_START : EVENT_USER_SEARCH_START);
    m_exceptionKeys.clear();
    try {
        LoadExceptionHashes(m_exceptionKeys);
    } catch (const CppSQLite3Exception& e) {
        // Without the list every document is searched: more shown, none hidden.
        m_exceptionKeys.clear();
        SearchLog().Write(u"The exception list could not be read: %s", e.ErrorMessage().c_str());
    }
    std::sort(m_exceptionKeys.begin(), m_exceptionKeys.end());
    EnableActionButtons(false);
    bool driveSelected = false;
    for (const auto& p : m_include) {
        AppLog().Write(u"IncludePath(%s)", p.c_str());
        if (IsDriveRoot(p)) driveSelected = true;
    }
    AppLog().Write(u"SearchType : %s, bDriveSelected : %d", m_nSearchMode == 0 ? u"AllSearch" : u"UserSearch",
                   driveSelected ? 1 : 0);
    if (m_nSearchMode == 1 && !driveSelected)
        FileSearchStartRecursive(this, &CAllSearchDlg::AddFileInfo, &CAllSearchDlg::FinishFileSearch, m_extensions,
                                 m_include);
    else
        FileSearchStart(this, &CAllSearchDlg::AddFileInfo, &CAllSearchDlg::FinishFileSearch, m_extensions,
                        m_include);
}

// ---- Engine callbacks (engine threads) ------------------------------------------------------

int CAllSearchDlg::AddFileInfo(std::unique_ptr<SearchFileInfo> record, void* context)
{
    // A record that is not appended is freed on return. The window cannot go
    // away while this runs: it leaves the live set under the same lock first.
    std::lock_guard<std::mutex> live(g_liveLock);
    if (!record || !g_liveWindows.count(context)) return static_cast<int>(0x80004005u);
    auto* self = static_cast<CAllSearchDlg*>(context);
    std::lock_guard<std::mutex> g(self->m_lock);
    if (self->m_nSearchMode == 1) {
        for (const auto& folder : self->m_exclude)
            if (IsPathUnderFolder(record->path, folder)) return static_cast<int>(0x80004005u);
    }
    record->documentKey = MakeDocumentKey(*record, self->m_nPIMask);
    auto it = std::lower_bound(self->m_exceptionKeys.begin(), self->m_exceptionKeys.end(), record->documentKey);
    if (it != self->m_exceptionKeys.end() && *it == record->documentKey) return 1;
    {
        std::lock_guard<std::mutex> l(self->m_foundLock);
        self->m_foundFiles.push_back(std::move(record));
    }
    if (!self->m_firstAccepted.exchange(true)) PostUserMessage(self, UM_FIRST_FILE_ACCEPTED);
    return 0;
}

void CAllSearchDlg::FinishFileSearch(void* context)
{
    std::lock_guard<std::mutex> live(g_liveLock);
    const bool alive = context && g_liveWindows.count(context);
    SearchLog().Write(u"FinishFileSearch Start. pAllSearchDlg Hwnd[0x%08X]",
                      static_cast<unsigned>(reinterpret_cast<uintptr_t>(alive ? context : nullptr)));
    if (!alive) return;
    PostUserMessage(static_cast<CAllSearchDlg*>(context), UM_ENGINE_FINISHED);
}

// ---- Messages and timers ----------------------------------------------------------------

qintptr CAllSearchDlg::OnUserMessage(int number, quintptr wParam, qintptr lParam)
{
    switch (number) {
    case UM_FIRST_FILE_ACCEPTED:
        if (HasTimer(IDT_ELAPSED_TIME)) {
            KillTimer(IDT_SEARCH_PROGRESS);
            if (!HasTimer(IDT_FILE_COUNT)) SetTimer(IDT_FILE_COUNT, 1);
        }
        return 0;
    case UM_ENGINE_FINISHED:
        // Only a search that is still running goes on to its analysis.
        if (HasTimer(IDT_ELAPSED_TIME)) {
            KillTimer(IDT_SEARCH_PROGRESS);
            if (m_bCancel) return 0;
            if (!HasTimer(IDT_ANALYSIS_PROGRESS)) SetTimer(IDT_ANALYSIS_PROGRESS, 1);
            if (!m_analysis.joinable()) StartAnalysisThread();
        }
        return 0;
    case UM_ANALYSIS_FINISHED:
        if (!m_bCancel && !IsIdle()) SetTimer(IDT_SEARCH_COMPLETE, 1);
        return 0;
    case UM_ANALYSIS_FILE_STARTED:
        KillTimer(IDT_SEARCH_DELAY);
        m_delay->clear();
        SetTimer(IDT_SEARCH_DELAY, 60000);
        return 0;
    case UM_RESULT_COUNTS_CHANGED: {
        std::array<int, kTabCount> c{};
        for (int i = 0; i < kTabCount; ++i) c[i] = m_tabCounts[i].load();
        SetTabCaptions(c);
        return 0;
    }
    case UM_OPEN_DOCUMENT: {
        Act(8);
        const auto* path = reinterpret_cast<const std::u16string*>(lParam);
        if (path && !path->empty()) OpenWithAssociation(*path);
        return 0;
    }
    case UM_ENCRYPT_DOCUMENT:
    case UM_DELETE_DOCUMENT:
    case UM_EXCEPT_DOCUMENT: return OnDocumentCommand(number, wParam, lParam);
    case UM_EXPAND_ALL:
        Act(13);
        m_reports[m_current]->expandAll();
        return 0;
    case UM_COLLAPSE_ALL:
        Act(12);
        m_reports[m_current]->collapseAll();
        return 0;
    case UM_SHOW_PROPERTIES: {
        Act(14);
        const auto* path = reinterpret_cast<const std::u16string*>(lParam);
        if (path) ShowDocumentProperties(*path, this);
        return 0;
    }
    default: return 0;
    }
}

void CAllSearchDlg::OnTimer(int id)
{
    switch (id) {
    case IDT_ELAPSED_TIME: {
        std::lock_guard<std::mutex> g(m_lock);
        ++m_elapsed;
        const std::u16string elapsed = Fmt(u"ELAPSED_TIME", static_cast<int>(m_elapsed / 60),
                                           static_cast<int>(m_elapsed % 60));
        const std::u16string head =
            GetText(m_nSearchMode == 0 ? u"ALL_SEARCH_ALL_SEARCHING" : u"ALL_SEARCH_USER_SEARCHING");
        m_status->setText(ps::ui::ToQ(head + u" " + elapsed));
        break;
    }
    case IDT_SEARCH_PROGRESS: {
        std::lock_guard<std::mutex> g(m_lock);
        m_detail->setText(Tx(u"SEARCH_PROGRESS") + QString(m_dotCounter % 7, '.'));
        ++m_dotCounter;
        break;
    }
    case IDT_FILE_COUNT: {
        std::lock_guard<std::mutex> g(m_lock);
        const size_t n = FoundCount();
        if (n % 17 == 0) {
            const std::u16string count = FormatThousands(static_cast<int64_t>(n));
            m_detail->setText(Tx(u"FILE_SEARCHING_MSG") + " " + QFmt(u"FILE_SEARCH_COUNT", count.c_str()));
        }
        break;
    }
    case IDT_ANALYSIS_PROGRESS: {
        if (m_bCancel) KillTimer(IDT_ANALYSIS_PROGRESS);
        KillTimer(IDT_FILE_COUNT);
        std::lock_guard<std::mutex> g(m_lock);
        const int n = static_cast<int>(FoundCount());
        if (!m_bProgressSwitched) {
            m_bProgressSwitched = true;
            m_progress->SetMarquee(false);
            m_progress->setRange(0, n > 0 ? n : 100);
        }
        if (!m_pathQueue.empty() && !m_indexQueue.empty() && !m_pathQueue.front().empty()) {
            const std::u16string path = m_pathQueue.front();
            const int i = m_indexQueue.front();
            m_pathQueue.pop_front();
            m_indexQueue.pop_front();
            if (!HasTimer(IDT_SEARCH_COMPLETE) && isVisible()) {
                m_detail->setText(ps::ui::ToQ(plat::FormatWide(u"[%d / %d] %s", i + 1, n, path.c_str())));
                m_progress->setValue(i);
            }
        }
        break;
    }
    case IDT_SEARCH_COMPLETE: Completion(); break;
    case IDT_SEARCH_DELAY: m_delay->setText(Tx(u"SEARCH_DELAY_MESSAGE")); break;
    case IDT_RESTORE_SYSMENU: KillTimer(IDT_RESTORE_SYSMENU); break;
    default: break;
    }
}

std::u16string CAllSearchDlg::ResultText() const
{
    int64_t hits = 0;
    for (int k = 0; k < kPersonalInfoKindCount; ++k) hits += m_totals[k].load();
    const std::u16string h = FormatThousands(hits);
    return Fmt(u"SEARCH_RESULT", m_tabCounts[kAll].load(), h.c_str());
}

int CAllSearchDlg::UnreadDocuments() const
{
    return m_unreadDocuments.load() + FileSearchUnreadCount(const_cast<CAllSearchDlg*>(this));
}

void CAllSearchDlg::ShowUnreadLine()
{
    // A search that could not read everything it found says so; the day's
    // error-file list names each with its reason.
    int folders = 0;
    const int unread = m_unreadDocuments.load() + FileSearchUnreadCount(this, &folders);
    std::u16string line;
    if (unread > 0) line = plat::FormatWide(u"읽지 못한 문서: %d개", unread);
    if (folders > 0)
        line += (line.empty() ? u"" : u", ") + plat::FormatWide(u"열지 못한 폴더: %d개", folders);
    if (!line.empty()) m_delay->setText(ps::ui::ToQ(line + u" (오류 파일 목록에 기록됨)"));
}

void CAllSearchDlg::WriteCancelEvent()
{
    m_searchEventId = AddEvent(m_nSearchMode == 0 ? EVENT_ALL_SEARCH_CANCEL : EVENT_USER_SEARCH_CANCEL);
    PersonalInfoCounts counts;
    DocumentKindCounts kinds{};
    for (int k = 0; k < kPersonalInfoKindCount; ++k) counts[k] = m_totals[k].load();
    for (int k = 0; k < 5; ++k) kinds[k] = m_totals[7 + k].load();
    AddSearchEventLog(m_searchEventId, counts, kinds);
}

void CAllSearchDlg::Completion()
{
    StopTimers({IDT_SEARCH_COMPLETE, IDT_ANALYSIS_PROGRESS, IDT_ELAPSED_TIME, IDT_FILE_COUNT, IDT_SEARCH_DELAY});
    m_delay->clear();
    ClearProgressQueues();
    // Rows still on their way are shown before the result line.
    for (auto* r : m_reports) QCoreApplication::sendPostedEvents(r, 0);
    const bool completed = !m_bCancel;
    // Idle before the message: a close while it is shown writes no second
    // end event.
    m_bIdle = 1;
    EnableActionButtons(FoundCount() != 0);
    m_btnSearch->LoadBitmapStrip(216, 2);
    if (completed) {
        m_searchEventId = AddEvent(m_nSearchMode == 0 ? EVENT_ALL_SEARCH_COMPLETE : EVENT_USER_SEARCH_COMPLETE);
        PersonalInfoCounts counts;
        DocumentKindCounts kinds{};
        for (int k = 0; k < kPersonalInfoKindCount; ++k) counts[k] = m_totals[k].load();
        for (int k = 0; k < 5; ++k) kinds[k] = m_totals[7 + k].load();
        AddSearchEventLog(m_searchEventId, counts, kinds);
        m_status->setText(Tx(u"SEARCH_COMPLETE_EXPLAIN"));
        m_detail->setText(ps::ui::ToQ(ResultText()));
        ShowUnreadLine();
        m_progress->SetMarquee(false);
        m_progress->setValue(m_progress->maximum());
        JoinAnalysisThread();
        ShowMessageBox(GetText(u"SEARCH_COMPLETED_MSG"), u"", 1, this);
        DeleteLastCheckFile();
    }
    JoinAnalysisThread();
}

void CAllSearchDlg::JoinAnalysisThread()
{
    if (!m_analysis.joinable()) return;
    // The analysis thread never waits for this thread (it only posts), so a
    // cooperative stop always ends it: the cancel flag is checked between
    // documents and inside the matcher.
    m_analysis.join();
    AppLog().Write(u"m_pSearchThread Thread Exit Well");
}

// ---- Closing -----------------------------------------------------------------------------

bool CAllSearchDlg::StopSearch(StopPath path)
{
    if (IsIdle()) return true;
    if (path != StopPath::SessionEnd &&
        ShowMessageBox(GetText(u"SEARCH_CANCEL_QUESTION"), u"", 0, this) != IDOK)
        return false;
    // The search may have completed while the question was shown: it has
    // its end event already and is not cancelled after the fact.
    if (IsIdle()) return true;
    if (path == StopPath::StopButton) Act(3);
    m_bCancel = 1;
    m_bIdle = 1;
    FileSearchStop(this);
    StopTimers({IDT_ELAPSED_TIME, IDT_ANALYSIS_PROGRESS, IDT_SEARCH_COMPLETE, IDT_SEARCH_PROGRESS,
                IDT_SEARCH_DELAY});
    m_delay->clear();
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_pathQueue.clear();
        m_indexQueue.clear();
    }
    // The analysis thread ends on the cancel flag, between documents or
    // inside the matcher; nothing of the search outlives this call, and the
    // end event carries exactly the totals the rows show.
    JoinAnalysisThread();
    WriteCancelEvent();
    DeleteLastCheckFile();
    EnableActionButtons(FoundCount() != 0);
    m_status->setText(Tx(u"SEARCH_CANCELED"));
    m_detail->setText(ps::ui::ToQ(ResultText()));
    ShowUnreadLine();
    m_btnSearch->LoadBitmapStrip(216, 2);
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

// ---- Analysis thread ---------------------------------------------------------------------

void CAllSearchDlg::StartAnalysisThread()
{
    m_analysis = std::thread([this] { AnalysisThreadProc(); });
}

int CAllSearchDlg::AddRows(int tab, const PersonalInfoCounts& counts, SearchFileInfo* record,
                           std::u16string& lastFolder, CFileInfoRecord*& lastRow)
{
    CFileReportControl* control = m_reports[tab];
    if (!control || !record) return 0;
    if (!lastRow || lastFolder != record->folder) {
        auto folderRow = std::make_unique<CFileInfoRecord>(this, record);
        lastRow = folderRow.get();  // the control owns it once the event is in
        PostAddRow(control, UM_ADD_FOLDER_ROW, std::move(folderRow));
        lastFolder = record->folder;
    }
    PostAddRow(control, UM_ADD_FILE_ROW, std::make_unique<CFileInfoRecord>(counts, this, record), lastRow);
    return 1;
}

namespace {

// A stored result of the document, if the event store can say: a store that
// cannot be read makes the document read again instead of ending the search.
bool FindStoredResult(const std::u16string& key, int32_t mask, PersonalInfoCounts& counts, int64_t& fileIndex)
{
    try {
        return FindFileInfoByHash(key, mask, counts, fileIndex);
    } catch (const CppSQLite3Exception& e) {
        SearchLog().Write(u"A stored result could not be read: %s", e.ErrorMessage().c_str());
        counts = PersonalInfoCounts();
        fileIndex = 0;
        return false;
    }
}

}  // namespace

// Reads and matches one document on a worker of the analysis pool: every
// document the search reads starts here.
void CAllSearchDlg::ReadOneDocument(const std::u16string& path, uint32_t mask, const CancelFlag* cancel,
                                    search::DocumentResult& result)
{
    result.status = FindPersonalInfoInFile(path, result.counts, mask, cancel, &result.hits);
}

void CAllSearchDlg::AnalysisThreadProc()
{
    WriteRegistryDword(HKEY_CURRENT_USER_ROOT, kRunKey, u"findPSInfoFlag", m_nPIMask, false);
    // The engine has ended: nothing appends to the list any more.
    // The list keeps the records; this thread borrows them.
    std::vector<SearchFileInfo*> files;
    {
        std::lock_guard<std::mutex> l(m_foundLock);
        std::stable_sort(m_foundFiles.begin(), m_foundFiles.end(), [](const auto& a, const auto& b) {
            const int c = CompareNoCase(a->folder, b->folder);
            return c != 0 ? c < 0 : a->folder < b->folder;
        });
        for (const auto& f : m_foundFiles) files.push_back(f.get());
    }
    const int n = static_cast<int>(files.size());
    const uint32_t mask = m_nPIMask;

    // The documents are read on the pool, ahead of this thread, which takes
    // their results back one by one in the order of the list: rows, events
    // and counts come exactly as if it read each document itself.
    // lastCheckFile names every document being read, one a line.
    const unsigned workers = std::max(1u, std::min(m_analysisWorkers ? m_analysisWorkers
                                                                     : search::AnalysisPool::DefaultWorkers(),
                                                   static_cast<unsigned>(std::max(n, 1))));
    search::AnalysisPool pool(
        workers,
        [mask](const std::u16string& path, const CancelFlag* cancel, search::DocumentResult& result) {
            ReadOneDocument(path, mask, cancel, result);
        },
        &m_bCancel,
        [](const std::u16string& lines) {
            if (lines.empty())
                DeleteLastCheckFile();
            else
                WriteRegistryString(HKEY_CURRENT_USER_ROOT, kRunKey, u"lastCheckFile", lines, false);
        });

    // What this thread learnt of a document when it handed it out.
    struct Ahead {
        bool stored = false;   // a stored result: not read
        bool recheck = false;  // shares its key with a document read in this run
        PersonalInfoCounts counts;
        int64_t fileIndex = 0;
    };
    std::vector<Ahead> ahead(files.size());
    std::unordered_set<std::u16string> readKeys;
    int next = 0;
    // Hands documents out up to the one the loop is at, and further while
    // the pool wants more. A stored result is looked up here, so only
    // documents without one go to the pool. A document whose key an earlier
    // one of this run has (found twice) is looked up again when its turn
    // comes, when the earlier one's result is stored.
    auto handOut = [&](int at) {
        while (next < n && !m_bCancel && (next <= at || pool.WantsMore())) {
            SearchFileInfo* record = files[next];
            Ahead& a = ahead[next];
            if (readKeys.count(record->documentKey)) {
                a.recheck = true;
            } else if (FindStoredResult(record->documentKey, static_cast<int32_t>(mask), a.counts, a.fileIndex)) {
                a.stored = true;
            } else {
                readKeys.insert(record->documentKey);
                pool.Submit(static_cast<size_t>(next), record->path);
            }
            ++next;
        }
    };

    std::array<std::u16string, kTabCount> lastFolder;
    std::array<CFileInfoRecord*, kTabCount> lastRow{};
    bool completed = true;
    for (int i = 0; i < n; ++i) {
        if (m_bCancel) {
            plat::DebugOutput(u"IS_CANCLED_RETURN_VALUE");
            completed = false;
            break;
        }
        handOut(i);
        SearchFileInfo* record = files[i];
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_pathQueue.push_back(record->path);
            m_indexQueue.push_back(i);
            PostUserMessage(this, UM_ANALYSIS_FILE_STARTED, static_cast<quintptr>(i), 0);
        }
        Ahead& a = ahead[i];
        if (a.recheck) {
            a.stored = FindStoredResult(record->documentKey, static_cast<int32_t>(mask), a.counts, a.fileIndex);
            if (!a.stored) pool.SubmitFirst(static_cast<size_t>(i), record->path);
        }
        PersonalInfoCounts counts;
        if (a.stored) {
            record->fromEventStore = 1;
            record->fileIndex = a.fileIndex;
            counts = a.counts;
        } else {
            search::DocumentResult result;
            bool taken = false;
            while (!m_bCancel &&
                   !(taken = pool.Take(static_cast<size_t>(i), result, std::chrono::milliseconds(50), next < n)))
                handOut(i);
            if (!taken) result.status = kScanCancelled;
            const int status = result.status;
            if (status == kScanDone) {
                counts = result.counts;
                // The row and its hits in one transaction: a run that ends
                // in between leaves neither.
                const int64_t fileIndex = AddFileInfoWithHits(counts, *record, result.hits);
                if (fileIndex > 0) record->fileIndex = fileIndex;
            } else if (status == kScanCancelled || m_bCancel) {
                // A read the stop cut short is neither stored nor counted.
                completed = false;
                break;
            } else {
                // Not read to its end: never stored as a result. What was
                // read of it is shown, and the document counted unread.
                ++m_unreadDocuments;
                if (status == kScanPartial) {
                    counts = result.counts;
                    if (counts.Total() != 0) {
                        // Stored under a blank key, which no later search
                        // takes as this document's result.
                        SearchFileInfo unkeyed = *record;
                        unkeyed.documentKey.clear();
                        const int64_t fileIndex = AddFileInfoWithHits(counts, unkeyed, result.hits);
                        if (fileIndex > 0) record->fileIndex = fileIndex;
                    }
                }
            }
        }
        if (m_bCancel) {
            plat::DebugOutput(u"IS_CANCLED_RETURN_VALUE");
            completed = false;
            break;
        }
        if (counts.Total() != 0) {
            for (int k = 0; k < kPersonalInfoKindCount; ++k) m_totals[k] += counts[k];
            AddRows(kAll, counts, record, lastFolder[kAll], lastRow[kAll]);
            ++m_tabCounts[kAll];
            const int kind = DocumentKindOfName(record->fileName);
            if (kind > 0) {
                ++m_totals[7 + (kind - 1)];
                AddRows(kind, counts, record, lastFolder[kind], lastRow[kind]);
                ++m_tabCounts[kind];
            }
            PostUserMessage(this, UM_RESULT_COUNTS_CHANGED);
        }
    }
    // Queued documents are dropped; a worker inside a document ends on the
    // cancel flag or at the document's end.
    pool.Stop();
    // Every clean end of the analysis clears the document mark: only a run
    // that dies inside a document leaves it for the next start.
    DeleteLastCheckFile();
    if (completed) PostUserMessage(this, UM_ANALYSIS_FINISHED);
}
