#include "settings/configdlg.h"

#include <QKeyEvent>
#include <QPainter>

#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/eventstore/eventstore.h"
#include "core/registry.h"
#include "core/uitext.h"
#include "platform/instance.h"
#include "platform/system.h"
#include "settings/configpages.h"
#include "settings/passwordpage.h"

using namespace ps::ui;

namespace {

// Normal and selected image of each tab, in page order.
constexpr int kTabImages[CConfigurationDlg::kPageCount][2] = {
    {179, 180}, {181, 182}, {183, 184}, {185, 186}, {187, 188}, {189, 190},
};

// Shown when the key store refused a page's values (not writable, disk full).
const char16_t kSaveFailedText[] =
    u"설정을 저장하지 못했습니다.\n디스크 공간과 쓰기 권한을 확인하시기 바랍니다.";

constexpr int kPageX = 142;
constexpr int kPageY = 29;
constexpr int kPageW = 335;
constexpr int kPageH = 334;

ImageButton* StripButton(QWidget* parent, int id, int images)
{
    auto* b = new ImageButton(parent);
    b->LoadBitmapStrip(id, images - 1);
    return b;
}

}  // namespace

CConfigurationDlg::CConfigurationDlg(QWidget* parent) : CSkinDialog(parent)
{
    setWindowIcon(QIcon(SkinIcon(128)));
    // Enter and Space never reach a control (the folder tree keeps Space,
    // see eventFilter); Escape closes the window from the frame's controls.
    SetKeyPolicy({KeyAction::Swallow, KeyAction::Cancel, KeyAction::Swallow});
    SetCaptionBand(40);
    m_lblTitle = new QLabel(this);
    m_lblTitle->setAttribute(Qt::WA_TranslucentBackground);
    m_lblTitle->setStyleSheet("background: transparent; color: black;");
    for (int i = 0; i < kPageCount; ++i) {
        m_tabs[i] = new ImageButton(this);
        m_tabs[i]->setToolTip(QString());
        connect(m_tabs[i], &QAbstractButton::clicked, this, [this, i] { OnTab(i); });
    }
    m_btnAllDefaults = StripButton(this, 191, 2);
    m_btnPageDefaults = StripButton(this, 192, 2);
    m_btnOk = StripButton(this, 195, 3);
    m_btnCancel = StripButton(this, 194, 3);
    m_btnClose = new ImageButton(this);
    m_btnClose->LoadBitmaps(155, 157, 156);
    connect(m_btnAllDefaults, &QAbstractButton::clicked, this, [this] { OnAllDefaults(); });
    connect(m_btnPageDefaults, &QAbstractButton::clicked, this, [this] { OnPageDefaults(); });
    connect(m_btnOk, &QAbstractButton::clicked, this, [this] { OnSave(); });
    connect(m_btnCancel, &QAbstractButton::clicked, this, [this] { OnClose(); });
    connect(m_btnClose, &QAbstractButton::clicked, this, [this] { OnClose(); });
}

// The lock is released first: the listener that may raise this window ends
// before the window does.
CConfigurationDlg::~CConfigurationDlg() { m_lock.reset(); }

ImageButton* CConfigurationDlg::Button(int id) const
{
    for (int i = 0; i < kPageCount; ++i)
        if (kTabIds[i] == id) return m_tabs[i];
    switch (id) {
    case IDC_ALL_DEFAULTS: return m_btnAllDefaults;
    case IDC_PAGE_DEFAULTS: return m_btnPageDefaults;
    case IDC_OK: return m_btnOk;
    case IDC_CANCEL: return m_btnCancel;
    case IDC_CLOSE: return m_btnClose;
    default: return nullptr;
    }
}

QWidget* CConfigurationDlg::PageAt(int index) const
{
    switch (index) {
    case kFolderPage: return m_pFolderPage;
    case kPersonalInfoPage: return m_pPersonalInfoPage;
    case kDocumentPage: return m_pDocumentPage;
    case kPasswordPage: return m_pPasswordPage;
    case kExceptionPage: return m_pExceptionPage;
    case kLogPage: return m_pLogPage;
    default: return nullptr;
    }
}

bool CConfigurationDlg::OnInitDialog()
{
    // One settings window per user: a second one raises the first and ends.
    m_lock = std::make_unique<plat::SingleInstance>(plat::VendorSubdir(plat::RuntimeDir()) + u"/configuration");
    if (!m_lock->Acquire([this] {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (isMinimized()) showNormal();
                    raise();
                    activateWindow();
                },
                Qt::QueuedConnection);
        })) {
        m_lock.reset();
        EndDialog(IDOK);
        return false;
    }
    m_bOwnsLock = true;
    setWindowTitle(ToQ(GetText(u"CONFIG_TITLE")));

    m_bmpBackground = SkinBitmap(IDB_BACKGROUND);
    const int bw = m_bmpBackground.isNull() ? 478 : m_bmpBackground.width();
    const int bh = m_bmpBackground.isNull() ? 360 : m_bmpBackground.height();

    m_bChanged = false;
    m_lblTitle->setFont(FontBold12());
    m_lblTitle->setText(ToQ(GetText(u"CONFIG_TITLE")));
    m_lblTitle->adjustSize();
    SetRoundRegion(bw + 1, bh + 41, 3, 3);

    // The pages load their settings as they are created; only afterwards do
    // they learn the window, so what they change while loading is no change.
    // Defaults stored while loading write their events under this watch.
    EventStoreFailureWatch storeWatch;
    m_pFolderPage = new CSearchFolderPage(this);
    m_pPersonalInfoPage = new CPersonalInformationPage(this);
    m_pDocumentPage = new CKindOfDocumentPage(this);
    m_pPasswordPage = new CPasswordSettingPage(this);
    m_pExceptionPage = new CExceptionSettingPage(this);
    m_pLogPage = new CLogSettingPage(this);
    for (int i = 0; i < kPageCount; ++i) {
        auto* page = static_cast<CConfigPageBase*>(PageAt(i));
        page->SetConfigWindow(this);
        page->setGeometry(kPageX, kPageY, kPageW, kPageH);
        page->setVisible(i == 0);
    }
    m_pCurrentPage = m_pFolderPage;
    m_nCurrentPage = 0;

    resize(bw, bh + 40);
    m_lblTitle->move(10, 10);
    for (int i = 0; i < kPageCount; ++i) m_tabs[i]->move(1, 29 + 42 * i);
    const QRect rc = rect();
    const int right = rc.right() + 1, bottom = rc.bottom() + 1;
    // Each defaults button inside the column it acts on (all pages: the tab
    // column; this page: the page column); OK and cancel apart at the right.
    constexpr int kMargin = 11, kGap = 8;
    m_btnAllDefaults->move(rc.left() + kMargin, bottom - 31);
    m_btnPageDefaults->move(kPageX + kMargin, bottom - 31);
    m_btnCancel->move(right - kMargin - m_btnCancel->width(), bottom - 31);
    m_btnOk->move(m_btnCancel->x() - kGap - m_btnOk->width(), bottom - 31);
    m_btnClose->move(right - 25, rc.top() + 6);
    UpdateTabImages();

    // A page whose defaults had to be stored while loading and could not be.
    for (int i = 0; i < kPageCount; ++i)
        if (static_cast<CConfigPageBase*>(PageAt(i))->WriteFailed()) {
            ReportWriteFailure(-1);
            break;
        }
    TellUnstoredEvents(storeWatch, this);

    if (m_nStartPage >= 1 && m_nStartPage < kPageCount) OnTab(m_nStartPage);
    if (QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr)
        move(owner->geometry().center() - QPoint(width() / 2, height() / 2));
    return true;
}

void CConfigurationDlg::UpdateTabImages()
{
    for (int i = 0; i < kPageCount; ++i) {
        const int selected = kTabImages[i][1];
        const int face = i == m_nCurrentPage ? selected : kTabImages[i][0];
        m_tabs[i]->LoadBitmaps(face, selected, selected);
    }
}

bool CConfigurationDlg::ValidateSelections()
{
    // All three are asked, whatever the first answers.
    const int folders = m_pFolderPage->HasSelection();
    const int kinds = m_pPersonalInfoPage->HasSelection();
    const int documents = m_pDocumentPage->HasSelection();
    if (folders && kinds && documents) return true;
    ShowMessageBox(GetText(u"CONFIG_NO_EXIST_SELECTED_ITEM"), u"", 1, this);
    return false;
}

void CConfigurationDlg::SwitchTo(int pageIndex)
{
    QWidget* page = PageAt(pageIndex);
    if (!page) return;
    if (m_pCurrentPage) m_pCurrentPage->hide();
    page->show();
    m_pCurrentPage = page;
    m_nCurrentPage = pageIndex;
    UpdateTabImages();
}

void CConfigurationDlg::OnTab(int pageIndex)
{
    if (!PageAt(pageIndex) || pageIndex == m_nCurrentPage) return;
    if (!ValidateSelections()) return;
    SwitchTo(pageIndex);
}

void CConfigurationDlg::ReportWriteFailure(int pageIndex)
{
    // The user's choices stay on the page; the window stays open.
    if (pageIndex >= 0 && pageIndex != m_nCurrentPage) SwitchTo(pageIndex);
    ShowMessageBox(kSaveFailedText, u"", 1, this);
}

void CConfigurationDlg::OnSave()
{
    if (!ValidateSelections()) return;
    if (m_nChangeFlags[3] && !m_pPasswordPage->ValidatePasswordLength()) {
        OnTab(kPasswordPage);
        return;
    }
    // The events of every page written are watched together: one message
    // for the whole save, before the window closes or stays.
    EventStoreFailureWatch storeWatch;
    const bool saved = SaveChangedPages();
    TellUnstoredEvents(storeWatch, this);
    if (saved) OnOK();
}

bool CConfigurationDlg::SaveChangedPages()
{
    if (m_bChanged) {
        struct Step {
            int flag;
            int page;
        };
        // The order in which the changed pages are written.
        static const Step kOrder[] = {{0, kFolderPage}, {1, kPersonalInfoPage}, {2, kDocumentPage}, {5, kLogPage}};
        for (const Step& s : kOrder) {
            if (!m_nChangeFlags[s.flag]) continue;
            bool ok = false;
            switch (s.page) {
            case kFolderPage: ok = m_pFolderPage->SaveSettings(); break;
            case kPersonalInfoPage: ok = m_pPersonalInfoPage->SaveSettings(); break;
            case kDocumentPage: ok = m_pDocumentPage->SaveSettings(); break;
            case kLogPage: ok = m_pLogPage->SaveSettings(); break;
            default: break;
            }
            if (!ok) {
                ReportWriteFailure(s.page);
                return false;
            }
            // Written: a second OK after a later refusal does not write it again.
            m_nChangeFlags[s.flag] = 0;
        }
        if (m_nChangeFlags[3] || m_nChangeFlags[6]) {
            if (!m_pPasswordPage->SaveSettings()) {
                // The page has shown its refusal, unless the store failed.
                if (m_pPasswordPage->WriteFailed()) ReportWriteFailure(kPasswordPage);
                return false;
            }
        }
    }
    return true;
}

void CConfigurationDlg::OnClose() { OnOK(); }

void CConfigurationDlg::OnCancel()
{
    // Escape closes the window only from a control of the frame.
    QWidget* f = focusWidget();
    for (int i = 0; i < kPageCount; ++i)
        if (QWidget* page = PageAt(i); page && f && page->isAncestorOf(f)) return;
    CSkinDialog::OnCancel();
}

bool CConfigurationDlg::ResetFolders()
{
    DeleteSearchFolders();
    m_pFolderPage->Tree()->ResetChecks(true);
    m_pFolderPage->Tree()->viewport()->update();
    return true;
}

void CConfigurationDlg::OnAllDefaults()
{
    ReportUserAction(34);
    EventStoreFailureWatch storeWatch;
    ResetFolders();
    bool ok = m_pPersonalInfoPage->SetDefaults();
    ok = m_pDocumentPage->SetDefaults() && ok;
    ok = m_pPasswordPage->SetDefaults() && ok;
    m_pLogPage->SetDays(CLogSettingPage::kDefaultDays);
    ok = m_pLogPage->SaveSettings() && ok;
    m_bChanged = false;
    if (!ok) ReportWriteFailure(-1);
    TellUnstoredEvents(storeWatch, this);
}

void CConfigurationDlg::OnPageDefaults()
{
    ReportUserAction(80);
    EventStoreFailureWatch storeWatch;
    bool ok = true;
    switch (m_nCurrentPage) {
    case kFolderPage: ok = ResetFolders(); break;
    case kPersonalInfoPage: ok = m_pPersonalInfoPage->SetDefaults(); break;
    case kDocumentPage: ok = m_pDocumentPage->SetDefaults(); break;
    case kPasswordPage: ok = m_pPasswordPage->SetDefaults(); break;
    case kLogPage:
        m_pLogPage->SetDays(CLogSettingPage::kDefaultDays);
        ok = m_pLogPage->SaveSettings();
        break;
    default: break;
    }
    m_bChanged = false;
    if (!ok) ReportWriteFailure(-1);
    TellUnstoredEvents(storeWatch, this);
}

qintptr CConfigurationDlg::OnUserMessage(int number, quintptr wParam, qintptr lParam)
{
    if (number == UM_CONFIG_PAGE_CHANGED) {
        if (wParam < static_cast<quintptr>(kChangeFlagCount)) m_nChangeFlags[wParam] = static_cast<int>(lParam);
        m_bChanged = true;
    } else if (number == UM_CONFIG_PAGE_SAVED) {
        m_bChanged = false;
    }
    return 0;
}

bool CConfigurationDlg::eventFilter(QObject* watched, QEvent* e)
{
    // Space checks folders in the tree from the keyboard.
    if ((e->type() == QEvent::KeyPress || e->type() == QEvent::ShortcutOverride) && m_pFolderPage &&
        static_cast<QKeyEvent*>(e)->key() == Qt::Key_Space) {
        QWidget* w = qobject_cast<QWidget*>(watched);
        QWidget* tree = m_pFolderPage->Tree();
        if (w && (w == tree || tree->isAncestorOf(w))) return false;
    }
    return CSkinDialog::eventFilter(watched, e);
}

void CConfigurationDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0xF5, 0xF5, 0xF5));
    if (m_bmpBackground.isNull()) return;
    const int bw = m_bmpBackground.width(), bh = m_bmpBackground.height();
    // The top 200 rows as they are; the rest of the height from the
    // bitmap's bottom rows.
    const int top = std::min(200, bh);
    TransparentBlt(p, QRect(0, 0, bw, top), m_bmpBackground, QRect(0, 0, bw, top));
    const int rest = height() - top;
    if (rest > 0) {
        const int src = std::min(rest, bh);
        TransparentBlt(p, QRect(0, top, bw, rest), m_bmpBackground, QRect(0, bh - src, bw, src));
    }
}
