#include "app/usersearchdlg.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QGuiApplication>
#include <QScreen>

#include "app/appcore.h"
#include "app/maindlg.h"
#include "app/mainmenu.h"
#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/registry.h"
#include "core/uitext.h"
#include "core/util.h"

using namespace ps::ui;

namespace {
const char16_t* const kPersonalInfoBoxKeys[kPersonalInfoKindCount] = {
    u"USER_SEARCH_ID_NUMBER", u"USER_SEARCH_ACCOUNT_NUM", u"USER_SEARCH_CREDIT_NUM", u"USER_SEARCH_PHONE_NUM",
    u"USER_SEARCH_ADDRESS",   u"USER_SEARCH_EMAIL",       u"USER_SEARCH_IP_ADDRESS",
};
// The mask bit of each box, in layout order.
const uint32_t kPiBits[7] = {0x01, 0x04, 0x02, 0x08, 0x10, 0x20, 0x40};
const std::array<uint32_t, kDocumentKindCount> kDocBits = [] {
    std::array<uint32_t, kDocumentKindCount> bits{};
    for (int i = 0; i < kDocumentKindCount; ++i) bits[i] = kDocumentKinds[i].bit;
    return bits;
}();

// The text of box i: the kinds of personal information, then the document kinds.
const char16_t* BoxKey(int i)
{
    return i < kPersonalInfoKindCount ? kPersonalInfoBoxKeys[i] : kDocumentKinds[i - kPersonalInfoKindCount].userSearchKey;
}
}  // namespace

CUserSearchDlg::CUserSearchDlg(CMainDocumentSearchDlg* searchPage, QWidget* parent)
    : CSkinDialog(parent ? parent : searchPage), page_(searchPage)
{
    setWindowIcon(QIcon(SkinIcon(128)));
    SetResizeBorder(10);
    SetCaptionBand(28);
    setMinimumSize(730, 481);
    auto mk = [this](int n, int h, int p) {
        auto* b = new ImageButton(this);
        b->LoadBitmaps(n, p, h);
        return b;
    };
    btnMenu_ = mk(149, 151, 150);
    btnMin_ = mk(152, 154, 153);
    btnMax_ = mk(236, 238, 237);
    btnClose_ = mk(155, 157, 156);
    btnStored_ = new ImageButton(this);
    btnStored_->LoadBitmapStrip(203, 1);
    btnSearch_ = new ImageButton(this);
    btnSearch_->LoadBitmapStrip(202, 1);
    labelPath_ = new QLabel(Tx(u"USER_SEARCH_PATH_SELECT"), this);
    labelKinds_ = new QLabel(Tx(u"USER_SEARCH_PERSONAL_INFO_SELECT"), this);
    labelDocs_ = new QLabel(Tx(u"USER_SEARCH_KIND_OF_DOCUMENT_SELECT"), this);
    for (QLabel* l : {labelPath_, labelKinds_, labelDocs_}) {
        l->setFont(FontBold12());
        l->setStyleSheet("background: transparent;");
        l->adjustSize();
    }
    tree_ = new CDriveSelectTree(this);
    tree_->setFont(Font12());
    for (int i = 0; i < static_cast<int>(boxes_.size()); ++i) {
        boxes_[i] = new CCheckButtonEx(Tx(BoxKey(i)), this);
        boxes_[i]->setFont(Font12());
        boxes_[i]->SetBackgroundColour(0xFFFFFF);
        boxes_[i]->adjustSize();
    }
    connect(btnMenu_, &QAbstractButton::clicked, this, [this] { ShowMainMenu(this); });
    connect(btnMin_, &QAbstractButton::clicked, this, [this] { showMinimized(); });
    connect(btnMax_, &QAbstractButton::clicked, this, [this] { ToggleMaximize(); });
    connect(btnClose_, &QAbstractButton::clicked, this, [this] { EndDialog(IDOK); });
    connect(btnStored_, &QAbstractButton::clicked, this, [this] { ApplyStoredSettings(); });
    connect(btnSearch_, &QAbstractButton::clicked, this, [this] { StartSearch(); });
}

CCheckButtonEx* CUserSearchDlg::Box(int id) const
{
    for (int i = 0; i < 7; ++i)
        if (kPersonalInfoBoxes[i] == id) return boxes_[i];
    for (int i = 0; i < kDocumentKindCount; ++i)
        if (kDocumentBoxes[i] == id) return boxes_[7 + i];
    return nullptr;
}

bool CUserSearchDlg::OnInitDialog()
{
    setWindowTitle(Tx(u"USER_SEARCH_TITLE"));
    tree_->Initialize();
    const QPixmap skin = SkinBitmap(200);
    resize(skin.width(), skin.height() + 1);
    Layout();
    InitSelections();
    if (QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr)
        move(owner->geometry().center() - QPoint(width() / 2, height() / 2));
    return true;
}

void CUserSearchDlg::Layout()
{
    const int W = width(), H = height(), s = W - 450;
    SetRoundRegion(W, H, 2, 2);
    btnClose_->move(W - 22, 6);
    btnMax_->move(W - 41, 6);
    btnMin_->move(W - 60, 6);
    btnMenu_->move(W - 110, 6);
    labelPath_->move(20, 95);
    tree_->setGeometry(13, 115, s - 14, H - 158);
    labelKinds_->move(s + 20, 95);
    for (int i = 0; i < 7; ++i) boxes_[i]->move(s + 20, 125 + 25 * i);
    labelDocs_->move(s + 240, 95);
    for (int i = 0; i < kDocumentKindCount; ++i) boxes_[7 + i]->move(s + 240, 125 + 25 * i);
    btnStored_->move(10, H - btnSearch_->height() - 10);
    btnSearch_->move(W - btnSearch_->width() - 10, H - btnSearch_->height() - 10);
}

void CUserSearchDlg::resizeEvent(QResizeEvent* e)
{
    CSkinDialog::resizeEvent(e);
    Layout();
    update();
}

void CUserSearchDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(253, 253, 253));
    const QPixmap skin = SkinBitmap(200);
    const int bw = skin.width(), bh = skin.height(), W = width(), H = height();
    // Frame: corners as they are, borders and middle stretched.
    const int c = 50;
    TransparentBlt(p, QRect(0, 0, bw - c, bh - c), skin, QRect(0, 0, bw - c, bh - c));
    PlainBlt(p, QRect(bw - c, 0, W - bw, bh - c), skin, QRect(bw - c - 1, 0, 1, bh - c));
    TransparentBlt(p, QRect(W - c, 0, c, bh - c), skin, QRect(bw - c, 0, c, bh - c));
    PlainBlt(p, QRect(0, bh - c, W - c, H - bh), skin, QRect(0, bh - c - 1, bw - c, 1));
    PlainBlt(p, QRect(W - c, bh - c, c, H - bh), skin, QRect(bw - c, bh - c - 1, c, 1));
    TransparentBlt(p, QRect(0, H - c, bw - c, c), skin, QRect(0, bh - c, bw - c, c));
    PlainBlt(p, QRect(bw - c, H - c, W - bw, c), skin, QRect(bw - c - 1, bh - c, 1, c));
    TransparentBlt(p, QRect(W - c, H - c, c, c), skin, QRect(bw - c, bh - c, c, c));
    // Panels behind the tree and behind the check boxes.
    const int s = W - 450;
    const QPixmap left = SkinBitmap(243), right = SkinBitmap(242);
    TransparentBlt(p, QRect(8, 88, s - 4, H - 126), left, left.rect());
    TransparentBlt(p, QRect(s + 10, 88, 432, H - 126), right, right.rect());
    p.setFont(FontBold12());
    p.setPen(Qt::black);
    p.drawText(QRect(10, 10, 300, 16), Qt::AlignLeft | Qt::AlignTop, Tx(u"USER_SEARCH_TITLE"));
}

CSkinDialog::Hit CUserSearchDlg::HitTest(const QPoint& local) const
{
    if (maximized_) return Hit::Client;
    const Hit h = CSkinDialog::HitTest(local);
    return h;
}

void CUserSearchDlg::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->position().y() < 28) ToggleMaximize();
}

void CUserSearchDlg::ToggleMaximize()
{
    if (maximized_) {
        setGeometry(restoreRect_);
        btnMax_->LoadBitmaps(236, 238, 237);
    } else {
        restoreRect_ = geometry();
        const QRect workArea = GetMonitorWorkArea(this);
        if (!workArea.isEmpty()) setGeometry(workArea);
        btnMax_->LoadBitmaps(239, 241, 240);
    }
    maximized_ = !maximized_;
    update();
}

void CUserSearchDlg::closeEvent(QCloseEvent* e)
{
    // Closing this window from outside (not its close button) ends the
    // program: the main window is asked to close as well.
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (owner && owner != this) QTimer::singleShot(0, owner, [owner] { owner->close(); });
    CSkinDialog::closeEvent(e);
}

void CUserSearchDlg::OnTimer(int id)
{
    if (id == IDT_RESTORE_SYSMENU) KillTimer(id);
}

void CUserSearchDlg::InitSelections()
{
    std::vector<std::u16string> inc, exc;
    LoadSearchFolders(inc, exc);
    QTreeWidgetItem* root = tree_->topLevelItem(0);
    if (inc.empty() && exc.empty() && root) {
        tree_->ResetChecks(true);
        QStringList checked, unchecked;
        tree_->CollectPaths(root, checked, unchecked);
        std::vector<std::u16string> ci, ue;
        for (const auto& q : checked) ci.push_back(FromQ(q));
        for (const auto& q : unchecked) ue.push_back(FromQ(q));
        SaveSearchFolders(ci, ue);
    }
    tree_->ResetChecks(false);
    for (auto* b : boxes_) b->SetCheck(1);
}

void CUserSearchDlg::ApplyStoredSettings()
{
    std::vector<std::u16string> inc, exc;
    LoadSearchFolders(inc, exc);
    tree_->ResetChecks(false);
    auto updateAncestors = [this](QTreeWidgetItem* item) {
        for (QTreeWidgetItem* p = item->parent(); p; p = p->parent()) {
            const auto [n, checked] = tree_->CountChildren(p);
            CDriveSelectTree::SetStateImage(p, n > 0 && n == checked ? 2 : 3);
        }
    };
    for (const auto& path : inc)
        if (QTreeWidgetItem* it = tree_->FindItemByPath(ToQ(path))) {
            tree_->SetCheck(it, true);
            updateAncestors(it);
        }
    for (const auto& path : exc)
        if (QTreeWidgetItem* it = tree_->FindItemByPath(ToQ(path))) {
            tree_->SetCheck(it, false);
            updateAncestors(it);
        }
    std::vector<std::u16string> parts;
    SplitString(parts, ReadRegistryString(SettingsKey(), u"PersonalInfo", u""), u"|");
    if (parts.size() != 7) return;
    for (int i = 0; i < 7; ++i) boxes_[i]->SetCheck(QString::fromStdU16String(parts[i]).toInt());
    parts.clear();
    SplitString(parts, ReadRegistryString(SettingsKey(), u"KindOfDocument", u""), u"|");
    if (parts.size() != static_cast<size_t>(kDocumentKindCount)) return;
    for (int i = 0; i < kDocumentKindCount; ++i) boxes_[7 + i]->SetCheck(QString::fromStdU16String(parts[i]).toInt());
    Act(53);
}

uint32_t CUserSearchDlg::MaskOf(const int* ids, int count, int firstAction, const uint32_t* bits)
{
    uint32_t mask = 0;
    for (int i = 0; i < count; ++i) {
        CCheckButtonEx* b = Box(ids[i]);
        if (b && b->GetCheck()) {
            Act(firstAction + i);
            mask |= bits[i];
        }
    }
    return mask;
}

PersonalInfoMask CUserSearchDlg::GetPersonalInfoMask() { return MaskOf(kPersonalInfoBoxes, 7, 41, kPiBits); }
DocumentKindMask CUserSearchDlg::GetDocumentKindMask()
{
    return MaskOf(kDocumentBoxes, kDocumentKindCount, 48, kDocBits.data());
}

void CUserSearchDlg::StartSearch()
{
    piMask_ = GetPersonalInfoMask();
    kindMask_ = GetDocumentKindMask();
    include_.clear();
    exclude_.clear();
    if (QTreeWidgetItem* root = tree_->topLevelItem(0)) {
        QStringList checked, unchecked;
        tree_->CollectCheckStates(root, checked, unchecked);
        for (const auto& q : checked) include_.push_back(FromQ(q));
        for (const auto& q : unchecked) exclude_.push_back(FromQ(q));
    }
    if (include_.empty() || piMask_ == 0 || kindMask_ == 0) {
        ShowMessageBox(GetText(u"USER_SEARCH_NO_EXIST_SELECTED_ITEM"), u"", 1, this);
        return;
    }
    if (page_) page_->SetUserSearch(include_, exclude_, piMask_, kindMask_);
    EndDialog(IDOK);
}
