#include "core/controls/shelltree.h"

#include "core/controls/celltips.h"

#include <QApplication>
#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include "core/controls/skin.h"
#include "core/controls/wnd.h"

namespace ps::ui {

namespace {

constexpr int kStateW = 13;
constexpr int kStateH = 16;
constexpr int kStateGap = 3;

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

QString ToQString(const std::u16string& s)
{
    return QString::fromStdU16String(s);
}

// Draws an item's check box (its state image) left of its icon.
class StateImageDelegate : public QStyledItemDelegate {
public:
    explicit StateImageDelegate(CShellTreeCtrl* tree) : QStyledItemDelegate(tree), tree_(tree) {}

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const int state = index.data(CShellTreeCtrl::kRoleStateImage).toInt();
        QStyleOptionViewItem opt = option;
        if (state > 0) {
            const QPixmap& images = tree_->StateImages();
            const QRect dst(option.rect.left(), option.rect.top() + (option.rect.height() - kStateH) / 2, kStateW,
                            kStateH);
            if (!images.isNull()) TransparentBlt(*p, dst, images, QRect(state * kStateW, 0, kStateW, kStateH));
            opt.rect.setLeft(opt.rect.left() + kStateW + kStateGap);
        }
        QStyledItemDelegate::paint(p, opt, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        if (index.data(CShellTreeCtrl::kRoleStateImage).toInt() > 0) s.rwidth() += kStateW + kStateGap;
        s.setHeight(std::max(s.height(), 20));
        return s;
    }

private:
    CShellTreeCtrl* tree_;
};

}  // namespace

// --- CTreeCtrlEx -------------------------------------------------------------------

CTreeCtrlEx::CTreeCtrlEx(QWidget* parent) : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setColumnCount(1);
    setFont(Font12());
    setUniformRowHeights(true);
    // A light selection keeps the check boxes and names readable.
    QPalette pal = palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::Highlight, QColor(0xD6, 0xE6, 0xF5));
        pal.setColor(group, QPalette::HighlightedText, QColor(0x1E, 0x2A, 0x36));
    }
    setPalette(pal);
}

QTreeWidgetItem* CTreeCtrlEx::FindChildByText(const QString& text, QTreeWidgetItem* parent, bool recursive)
{
    if (parent) expandItem(parent);
    const int n = parent ? parent->childCount() : topLevelItemCount();
    for (int i = 0; i < n; ++i) {
        QTreeWidgetItem* child = parent ? parent->child(i) : topLevelItem(i);
        if (child->text(0) == text) return child;
        // An item marked as having children counts before it is filled.
        const bool hasChildren =
            child->childCount() > 0 || child->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
        if (recursive && hasChildren) {
            if (QTreeWidgetItem* found = FindChildByText(text, child, true)) return found;
        }
    }
    return nullptr;
}

QTreeWidgetItem* CTreeCtrlEx::InsertChild(const QString& text, QTreeWidgetItem* parent)
{
    auto* item = new QTreeWidgetItem(QStringList{text});
    QCollator coll;
    coll.setNumericMode(true);
    const int n = parent ? parent->childCount() : topLevelItemCount();
    int at = n;
    for (int i = 0; i < n; ++i) {
        QTreeWidgetItem* c = parent ? parent->child(i) : topLevelItem(i);
        if (coll.compare(text, c->text(0)) < 0) {
            at = i;
            break;
        }
    }
    if (parent)
        parent->insertChild(at, item);
    else
        insertTopLevelItem(at, item);
    return item;
}

QString CTreeCtrlEx::GetItemPath(QTreeWidgetItem* item) const
{
    QStringList labels;
    for (QTreeWidgetItem* it = item; it; it = it->parent()) labels.prepend(it->text(0));
    QString path;
    for (const QString& l : labels) path += QLatin1Char('/') + l;
    if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    while (path.contains(QLatin1String("//"))) path.replace(QLatin1String("//"), QLatin1String("/"));
    return path;
}

QTreeWidgetItem* CTreeCtrlEx::FindItemByPath(const QString& pathIn)
{
    if (pathIn.isEmpty()) return nullptr;
    QString path = pathIn;
    if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    if (path.startsWith(QLatin1Char('/'))) path.remove(0, 1);
    QTreeWidgetItem* parent = nullptr;
    QTreeWidgetItem* found = nullptr;
    int pos = 0;
    for (;;) {
        const int slash = path.indexOf(QLatin1Char('/'), pos);
        if (slash < 0) return found;
        const QString label = path.mid(pos, slash - pos);
        found = FindChildByText(label, parent, false);
        if (!found) return nullptr;
        parent = found;
        pos = slash + 1;
    }
}

// --- CWaitingTreeCtrl ----------------------------------------------------------------

CWaitingTreeCtrl::CWaitingTreeCtrl(QWidget* parent) : CTreeCtrlEx(parent)
{
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { OnItemExpanding(item); });
}

void CWaitingTreeCtrl::OnItemExpanding(QTreeWidgetItem* item)
{
    RefreshItem(item);
}

void CWaitingTreeCtrl::DeleteChildren(QTreeWidgetItem* item)
{
    if (!item) {
        clear();
        return;
    }
    qDeleteAll(item->takeChildren());
}

void CWaitingTreeCtrl::RefreshItem(QTreeWidgetItem* item)
{
    WaitCursor wait;
    const int existing = item ? item->childCount() : topLevelItemCount();
    if (existing > 0) {
        if (!NeedsRefresh(item)) return;
        DeleteChildren(item);
    }
    const int result = PopulateItem(item);
    if (!item) return;
    if (result != 0) {
        item->setChildIndicatorPolicy(item->childCount() > 0 ? QTreeWidgetItem::ShowIndicator
                                                             : QTreeWidgetItem::DontShowIndicator);
    } else if (item->childCount() == 0) {
        item->setExpanded(false);
    }
}

void CWaitingTreeCtrl::RefreshRoot()
{
    {
        WaitCursor wait;
        if (topLevelItemCount() == 0) PopulateItem(nullptr);
    }
    setUpdatesEnabled(false);
    const int v = verticalScrollBar()->value();
    if (topLevelItemCount() > 0) scrollToItem(topLevelItem(0));
    verticalScrollBar()->setValue(v);
    setUpdatesEnabled(true);
}

// --- CShellTreeCtrl ------------------------------------------------------------------

CShellTreeCtrl::CShellTreeCtrl(QWidget* parent) : CWaitingTreeCtrl(parent)
{
    setItemDelegate(new StateImageDelegate(this));
    // A folder name the tree cuts shows whole as a tooltip; the text starts
    // after the check image.
    ps::ui::InstallCutTextToolTips(this, [this](QModelIndex& index) {
        QRect r = visualRect(index);
        if (index.data(kRoleStateImage).toInt() > 0) r.setLeft(r.left() + kStateW + kStateGap);
        return r;
    });
}

void CShellTreeCtrl::InitImages()
{
    computerName_ = ToQString(ComputerName());
    stateImages_ = SkinBitmap(147);
}

QByteArray CShellTreeCtrl::ItemList(const QTreeWidgetItem* item)
{
    return item ? item->data(0, kRoleList).toByteArray() : QByteArray();
}

QString CShellTreeCtrl::ItemFsPath(const QTreeWidgetItem* item)
{
    const QByteArray list = ItemList(item);
    if (list.isEmpty()) return {};
    return ToQString(CShellPidl::PathOf(reinterpret_cast<PCIDL>(list.constData())));
}

int CShellTreeCtrl::PopulateItem(QTreeWidgetItem* item)
{
    if (!item) return 1;
    const QByteArray list = ItemList(item);
    if (list.isEmpty()) return 1;
    PCIDL pidl = reinterpret_cast<PCIDL>(list.constData());
    if (!FillFolder(item->data(0, kRoleFlags).toInt(), item, pidl)) return 1;
    if (CShellPidl::PathOf(pidl).empty()) return 1;
    return 1;  // every drive listed is fixed or removable
}

bool CShellTreeCtrl::FillFolder(int flags, QTreeWidgetItem* parent, PCIDL absoluteList)
{
    const PCIDL last = CShellPidl::LastItem(absoluteList);
    std::vector<CShellPidl> children;
    if (last && CShellPidl::ItemKind(last) == CShellPidl::kComputer && CShellPidl::Count(absoluteList) == 1) {
        for (const DriveEntry& d : ListSearchableDrives())
            children.emplace_back(CShellPidl::Make(CShellPidl::kDrive, d.path));
    } else {
        const std::u16string path = CShellPidl::PathOf(absoluteList);
        if (path.empty()) return false;
        QDir dir(ToQString(path));
        if (!dir.exists()) return false;
        // Folders only (and files when asked); dot folders stay out, as do
        // links, which could lead the tree round in a circle.
        QDir::Filters filter = QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks;
        if (flags & 0x1) filter |= QDir::Files;
        QStringList names = dir.entryList(filter, QDir::NoSort);
        QCollator coll;
        coll.setNumericMode(true);
        std::sort(names.begin(), names.end(), [&](const QString& a, const QString& b) { return coll.compare(a, b) < 0; });
        for (const QString& name : names) {
            if (name.size() > 255) continue;
            children.emplace_back(CShellPidl::Make(CShellPidl::kFolder, name.toStdU16String()));
        }
    }
    for (const CShellPidl& child : children) AddShellItem(absoluteList, child.Get(), parent, flags & 0xF);
    return true;
}

QTreeWidgetItem* CShellTreeCtrl::AddShellItem(PCIDL parentList, PCIDL childItem, QTreeWidgetItem* parent, int flags)
{
    CShellPidl full(CShellPidl::Concat(parentList, childItem));
    if (!full.Get()) return nullptr;
    const std::u16string path = CShellPidl::GetPath(full);
    // Under the computer item only drives; the rest must be real folders
    // (an archive file is never shown as a folder).
    if (!path.empty()) {
        const QFileInfo fi(ToQString(path));
        if (!fi.isDir()) return nullptr;
    } else if (parentList && CShellPidl::Count(parentList) > 0) {
        return nullptr;  // nothing without a path below the root
    }
    auto* item = new QTreeWidgetItem();
    const std::size_t size = CShellPidl::Size(full.Get()) + 2;
    item->setData(0, kRoleList, QByteArray(reinterpret_cast<const char*>(full.Get()), static_cast<int>(size)));
    item->setData(0, kRoleNotExpanded, true);
    item->setData(0, kRoleFlags, flags);
    FillItemInfo(item, full.Get());
    if (parent)
        parent->addChild(item);
    else
        addTopLevelItem(item);
    if (!parentList || CShellPidl::Count(parentList) == 0) rootName_ = item->text(0);
    return item;
}

void CShellTreeCtrl::FillItemInfo(QTreeWidgetItem* item, PCIDL absoluteList)
{
    CShellString name;
    GetDisplayNameOf(absoluteList, name.Prepare(absoluteList));
    item->setText(0, ToQString(name.GetText()));

    static QFileIconProvider icons;
    const PCIDL last = CShellPidl::LastItem(absoluteList);
    const auto kind = CShellPidl::ItemKind(last);
    const QString path = ToQString(CShellPidl::PathOf(absoluteList));
    if (kind == CShellPidl::kComputer)
        item->setIcon(0, icons.icon(QAbstractFileIconProvider::Computer));
    else if (kind == CShellPidl::kDrive)
        item->setIcon(0, icons.icon(QAbstractFileIconProvider::Drive));
    else
        item->setIcon(0, icons.icon(QAbstractFileIconProvider::Folder));

    // Children: the computer has drives; a folder has children when it holds
    // a folder (or anything, when files are listed too).
    bool children = kind == CShellPidl::kComputer;
    if (!path.isEmpty()) {
        const int flags = item->data(0, kRoleFlags).toInt();
        QDir::Filters filter = QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks;
        if (flags & 0x1) filter |= QDir::Files;
        QDirIterator it(path, filter);
        children = it.hasNext();
    }
    item->setChildIndicatorPolicy(children ? QTreeWidgetItem::ShowIndicator : QTreeWidgetItem::DontShowIndicator);
}

// --- CDriveSelectTree -------------------------------------------------------------------

CDriveSelectTree::CDriveSelectTree(QWidget* parent) : CShellTreeCtrl(parent)
{
    setRootIsDecorated(true);
    setMouseTracking(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void CDriveSelectTree::Initialize()
{
    InitImages();
    clear();
    CShellPidl computer(CShellPidl::Make(CShellPidl::kComputer, {}));
    QTreeWidgetItem* root = AddShellItem(nullptr, computer.Get(), nullptr, 0);
    if (!root) return;
    SetStateImage(root, 1);
    setUpdatesEnabled(false);
    DeleteChildren(root);
    RefreshItem(root);
    setUpdatesEnabled(true);
    root->setExpanded(true);
    scrollToItem(root);
}

int CDriveSelectTree::StateImage(const QTreeWidgetItem* item)
{
    return item ? item->data(0, kRoleStateImage).toInt() : 0;
}

void CDriveSelectTree::SetStateImage(QTreeWidgetItem* item, int state)
{
    if (item) item->setData(0, kRoleStateImage, state);
}

void CDriveSelectTree::SetCheck(QTreeWidgetItem* item, bool check)
{
    SetStateImage(item, check ? 2 : 1);
}

void CDriveSelectTree::SetChildrenCheck(QTreeWidgetItem* item, bool check)
{
    if (!item) return;
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem* c = item->child(i);
        SetCheck(c, check);
        SetChildrenCheck(c, check);
    }
}

void CDriveSelectTree::ResetChecks(bool check)
{
    QTreeWidgetItem* root = topLevelItem(0);
    if (!root) return;
    setUpdatesEnabled(false);
    DeleteChildren(root);
    RefreshItem(root);
    SetCheck(root, check);
    SetChildrenCheck(root, check);
    setUpdatesEnabled(true);
}

std::pair<int, int> CDriveSelectTree::CountChildren(QTreeWidgetItem* item) const
{
    if (!item) return {0, 0};
    int checked = 0;
    for (int i = 0; i < item->childCount(); ++i)
        if (StateImage(item->child(i)) == 2) ++checked;
    return {item->childCount(), checked};
}

void CDriveSelectTree::CollectPaths(QTreeWidgetItem* start, QStringList& checked, QStringList& unchecked) const
{
    for (QTreeWidgetItem* it = start; it; it = itemBelow(it)) {
        if (GetCheck(it))
            checked << GetItemPath(it);
        else
            unchecked << GetItemPath(it);
    }
}

void CDriveSelectTree::CollectCheckStates(QTreeWidgetItem* start, QStringList& checked, QStringList& unchecked) const
{
    for (QTreeWidgetItem* it = start; it; it = itemBelow(it)) {
        const QString path = ItemFsPath(it);
        if (path.isEmpty()) continue;
        const int s = StateImage(it);
        if (s == 2)
            checked << path;
        else if (s == 1)
            unchecked << path;
    }
}

void CDriveSelectTree::UpdateAncestors(QTreeWidgetItem* item)
{
    for (QTreeWidgetItem* p = item ? item->parent() : nullptr; p; p = p->parent()) {
        const auto [count, on] = CountChildren(p);
        SetStateImage(p, count > 0 && on == count ? 2 : 3);
    }
}

void CDriveSelectTree::SetItemCheckByClick(QTreeWidgetItem* item)
{
    if (!item) return;
    setCurrentItem(item);
    const bool check = !(StateImage(item) == 2 || StateImage(item) == 3);
    SetCheck(item, check);
    SetChildrenCheck(item, check);
    PostUserMessage(notify_, UM_CONFIG_PAGE_CHANGED, 0, 1);
    UpdateAncestors(item);
    viewport()->update();
}

QRect CDriveSelectTree::StateImageRect(QTreeWidgetItem* item) const
{
    const QRect r = visualItemRect(item);
    if (r.isEmpty()) return {};
    return QRect(r.left(), r.top() + (r.height() - kStateH) / 2, kStateW, kStateH);
}

void CDriveSelectTree::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        QTreeWidgetItem* item = itemAt(e->position().toPoint());
        if (item && StateImage(item) > 0 && StateImageRect(item).contains(e->position().toPoint()))
            SetItemCheckByClick(item);
    }
    CShellTreeCtrl::mousePressEvent(e);
}

// Space toggles the current item's check, as a click on its check box does.
void CDriveSelectTree::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Space && e->modifiers() == Qt::NoModifier) {
        QTreeWidgetItem* item = currentItem();
        if (item && StateImage(item) > 0) {
            SetItemCheckByClick(item);
            e->accept();
            return;
        }
    }
    CShellTreeCtrl::keyPressEvent(e);
}

void CDriveSelectTree::OnItemExpanding(QTreeWidgetItem* item)
{
    CShellTreeCtrl::OnItemExpanding(item);
    if (item && item->data(0, kRoleNotExpanded).toBool()) {
        item->setData(0, kRoleNotExpanded, false);
        SetChildrenCheck(item, GetCheck(item));
    }
}

}  // namespace ps::ui
