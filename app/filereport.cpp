#include "app/filereport.h"

#include <algorithm>

#include "app/hitsdlg.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyledItemDelegate>
#include <sys/stat.h>

#include "app/appcore.h"
#include "core/controls/celltips.h"
#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/uitext.h"
#include "core/util.h"
#include "platform/text.h"

using ps::ui::ToQ;

namespace {

constexpr int kRecordRole = Qt::UserRole + 1;

const char16_t* const kColumnKeys[CFileInfoRecord::kItemCount] = {
    nullptr,
    u"COLUMN_DOCUMENT_NAME",
    u"COLUMN_ID_NUMBER",
    u"COLUMN_ACCOUNT_NUMBER",
    u"COLUMN_CREDIT_NUMBER",
    u"COLUMN_PHONE_NUMBER",
    u"COLUMN_ADDRESS",
    u"COLUMN_EMAIL",
    u"COLUMN_IP_ADDRESS",
};
const int kColumnWidths[CFileInfoRecord::kItemCount] = {19, 238, 67, 67, 67, 67, 67, 67, 67};

// Draws each cell, then its grid lines. A folder row's path spans the row
// from the name column to the last one: every cell of it draws its own part
// of that one span, so the path is whole after any partial repaint.
class GridDelegate : public ReportCheckDelegate {
public:
    explicit GridDelegate(CFileReportControl* view) : ReportCheckDelegate(view), view_(view) {}
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const bool folderRow = !index.parent().isValid();
        if (folderRow && index.column() >= 1) {
            QStyleOptionViewItem opt = option;
            const QModelIndex name = index.sibling(index.row(), 1);
            initStyleOption(&opt, name);
            opt.rect = view_->FolderRowTextRect(option.rect);
            opt.viewItemPosition = QStyleOptionViewItem::OnlyOne;
            p->save();
            p->setClipRect(option.rect, Qt::IntersectClip);
            const QWidget* w = option.widget;
            QStyle* style = w ? w->style() : QApplication::style();
            style->drawControl(QStyle::CE_ItemViewItem, &opt, p, w);
            p->restore();
        } else {
            ReportCheckDelegate::paint(p, option, index);
        }
        p->save();
        p->setPen(QColor(0xE2, 0xE4, 0xE8));
        const QRect r = option.rect;
        p->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        if (!folderRow || index.column() == 0 || index.column() == CFileInfoRecord::kItemCount - 1)
            p->drawLine(r.right(), r.top(), r.right(), r.bottom());
        p->restore();
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(std::max(s.height(), 21));
        return s;
    }

private:
    CFileReportControl* view_;
};

}  // namespace

// ---- Check boxes -------------------------------------------------------------------

void ApplyReportLook(QTreeView* view)
{
    QPalette pal = view->palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Highlight, QColor(0xDB, 0xE6, 0xF4));
    pal.setColor(QPalette::HighlightedText, Qt::black);
    view->setPalette(pal);
    view->header()->setStyleSheet(
        "QHeaderView::section { background: qlineargradient(x1:0,y1:0,x2:0,y2:1, stop:0 #fbfcfd, "
        "stop:1 #e6eaf0); border: 0; border-right: 1px solid #c7c7c5; border-bottom: 1px solid #c7c7c5;"
        " padding: 3px 4px; }");
}

QRect DrawReportCheckBox(QPainter& p, QRect& rc, bool checked, Qt::Alignment alignment)
{
    constexpr int cx = 13, cy = 13;
    // Edges as the window layer counts them: right and bottom exclusive.
    int left = rc.left(), right = rc.left() + rc.width();
    const int top0 = rc.top(), bottom0 = rc.top() + rc.height();
    int x = 0;
    if (alignment & Qt::AlignHCenter) {
        x = (left + right) / 2 - cx / 2 - 1;
    } else if (alignment & Qt::AlignRight) {
        x = right - cx - 2;
        right = x;
    } else {
        x = left + 2;
        left = left + cx + 2;
    }
    int top = top0, bottom = bottom0;
    if (alignment & Qt::AlignTop) {
        bottom = top0 + cy + 2;
    } else if (alignment & Qt::AlignBottom) {
        top = bottom0 - cy - 2;
    }
    const int y = (top + bottom - 13) / 2;
    rc = QRect(left, top0, std::max(0, right - left), bottom0 - top0);
    const QPixmap boxes = ps::ui::SkinBitmap(269);
    const QRect target(x + 1, y, 13, 13);
    if (!boxes.isNull()) {
        p.drawPixmap(target, boxes, QRect(checked ? 13 : 0, 0, 13, 13));
    } else {
        p.save();
        p.setPen(QColor(0x8A, 0x94, 0xA6));
        p.setBrush(Qt::white);
        p.drawRect(target.adjusted(0, 0, -1, -1));
        if (checked) p.drawLine(target.left() + 3, target.center().y(), target.right() - 3, target.center().y());
        p.restore();
    }
    return target;
}

void ReportCheckDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (index.column() != 0 || !(index.flags() & Qt::ItemIsUserCheckable)) {
        QStyledItemDelegate::paint(p, option, index);
        return;
    }
    // The cell's background and selection as usual, the box from the skin.
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.features &= ~QStyleOptionViewItem::HasCheckIndicator;
    opt.text.clear();
    const QWidget* w = option.widget;
    QStyle* style = w ? w->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, p, w);
    QRect rc = option.rect;
    p->save();
    DrawReportCheckBox(*p, rc, index.data(Qt::CheckStateRole).toInt() == Qt::Checked, Qt::AlignLeft);
    p->restore();
}

bool ReportCheckDelegate::editorEvent(QEvent* e, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                                      const QModelIndex& index)
{
    const Qt::ItemFlags flags = index.flags();
    if (index.column() != 0 || !(flags & Qt::ItemIsUserCheckable) || !(flags & Qt::ItemIsEnabled))
        return QStyledItemDelegate::editorEvent(e, model, option, index);
    switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease: {
        const auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() != Qt::LeftButton || !option.rect.contains(me->position().toPoint())) return false;
        if (e->type() != QEvent::MouseButtonRelease) return true;
        const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        return model->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }
    default: return QStyledItemDelegate::editorEvent(e, model, option, index);
    }
}

std::u16string CountCellText(int count)
{
    if (count == 0) return std::u16string();
    const std::u16string n = FormatThousands(count);
    return Fmt(u"FOUND_COUNT", n.c_str());
}

std::u16string IconKeyOfName(const std::u16string& fileName)
{
    const size_t dot = fileName.rfind(u'.');
    if (dot == std::u16string::npos) return std::u16string();
    std::u16string ext = fileName.substr(dot + 1);
    for (auto& c : ext)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return ext;
}

// ---- Rows -------------------------------------------------------------------------

CFileInfoRecord::CFileInfoRecord(SearchFileInfo* record) : folderRow_(true), info_(record)
{
    if (record) folder_ = record->Folder();
    texts_[1] = folder_;
    icon_ = AppIcons().IndexOf(u"DIR");
    const std::u16string zero = Fmt(u"FOUND_COUNT", u"0");
    for (int k = 2; k < kItemCount; ++k) texts_[k] = zero;
}

CFileInfoRecord::CFileInfoRecord(const PersonalInfoCounts& counts, ::PersonalInfoMask personalInfoMask,
                                 SearchFileInfo* record)
    : folderRow_(false), info_(record), personalInfoMask_(personalInfoMask)
{
    if (record) {
        folder_ = record->Folder();
        fileName_ = record->FileName();
    }
    texts_[1] = fileName_;
    icon_ = AppIcons().IndexOf(IconKeyOfName(fileName_));
    for (int k = 0; k < kPersonalInfoKindCount; ++k) texts_[k + 2] = CountCellText(counts[k]);
}

std::u16string CFileInfoRecord::GetFullPath()
{
    while (!folder_.empty() && folder_.back() == u'/') folder_.pop_back();
    return folder_ + u"/" + fileName_;
}

// ---- Control -------------------------------------------------------------------

CFileReportControl::CFileReportControl(QWidget* parent) : QTreeView(parent)
{
    setModel(&model_);
    setFont(ps::ui::Font12());
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setExpandsOnDoubleClick(false);
    setIconSize(QSize(16, 16));
    setFrameShape(QFrame::NoFrame);
    setItemDelegate(new GridDelegate(this));
    setTextElideMode(Qt::ElideMiddle);
    // A name or folder path cut by its column shows whole as a tooltip.
    ps::ui::InstallCutTextToolTips(this, [this](QModelIndex& index) {
        if (index.column() == 0) return QRect();
        if (index.parent().isValid()) return visualRect(index);
        index = index.sibling(index.row(), 1);
        return FolderRowTextRect(visualRect(index));
    });
    ApplyReportLook(this);
    connect(&model_, &QStandardItemModel::itemChanged, this, &CFileReportControl::OnItemChanged);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int column) {
        if (column == 0)
            OnHeaderCheckClick();
        else
            model_.sort(column, header()->sortIndicatorOrder());
    });
    InitColumns();
}

CFileReportControl::~CFileReportControl()
{
    // The model's items go before the rows they point to.
    model_.clear();
}

void CFileReportControl::InitColumns()
{
    model_.setColumnCount(CFileInfoRecord::kItemCount);
    for (int c = 0; c < CFileInfoRecord::kItemCount; ++c) {
        auto* h = new QStandardItem(c == 0 ? QString() : Tx(kColumnKeys[c]));
        h->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        model_.setHorizontalHeaderItem(c, h);
    }
    header()->setFont(ps::ui::Font12());
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setMinimumSectionSize(19);
    for (int c = 0; c < CFileInfoRecord::kItemCount; ++c) {
        header()->setSectionResizeMode(c, c == 0 ? QHeaderView::Fixed : QHeaderView::Interactive);
        setColumnWidth(c, kColumnWidths[c]);
    }
    setTreePosition(1);
    SetHeaderChecked(false);
}

QRect CFileReportControl::FolderRowTextRect(const QRect& cell) const
{
    const int last = CFileInfoRecord::kItemCount - 1;
    const int left = columnViewportPosition(1) + (rootIsDecorated() ? indentation() : 0);
    const int right = columnViewportPosition(last) + columnWidth(last);
    return QRect(left, cell.top(), std::max(0, right - left), cell.height());
}

void CFileReportControl::FitColumns()
{
    // The columns share the width the control gives them in the proportions
    // of their designed widths; the check column keeps its width and the
    // name column takes what rounding leaves.
    const int n = CFileInfoRecord::kItemCount;
    int designed = 0;
    for (int c = 1; c < n; ++c) designed += kColumnWidths[c];
    const int available = viewport()->width() - kColumnWidths[0];
    if (available <= 0) return;
    int used = 0;
    for (int c = 2; c < n; ++c) {
        const int w = std::max({header()->minimumSectionSize(), kColumnWidths[c] * available / designed,
                                figureWidths_[c]});
        setColumnWidth(c, w);
        used += w;
    }
    setColumnWidth(0, kColumnWidths[0]);
    setColumnWidth(1, std::max(header()->minimumSectionSize(), available - used));
}

bool CFileReportControl::viewportEvent(QEvent* e)
{
    if (e->type() == QEvent::Resize) FitColumns();
    return QTreeView::viewportEvent(e);
}

void CFileReportControl::SetHeaderChecked(bool checked)
{
    headerChecked_ = checked;
    if (auto* h = model_.horizontalHeaderItem(0))
        h->setIcon(AppIcons().Of(checked ? u"CHKBOX" : u"UNCHKBOX"));
}

void CFileReportControl::RemoveRecord(CFileInfoRecord* row)
{
    const QModelIndex index = IndexOf(row);
    if (!index.isValid()) return;
    std::vector<const CFileInfoRecord*> gone{row};
    if (row->IsFolderRow())
        for (int i = 0; i < model_.rowCount(index); ++i)
            if (CFileInfoRecord* child = RecordAt(model_.index(i, 0, index))) gone.push_back(child);
    model_.removeRow(index.row(), index.parent());
    std::erase_if(rows_, [&](const std::unique_ptr<CFileInfoRecord>& r) {
        return std::find(gone.begin(), gone.end(), r.get()) != gone.end();
    });
    if (model_.rowCount() == 0) SetHeaderChecked(false);
}

CFileInfoRecord* CFileReportControl::ParentRow(const CFileInfoRecord* row) const
{
    const QModelIndex index = IndexOf(row);
    return index.isValid() && index.parent().isValid() ? RecordAt(index.parent()) : nullptr;
}

int CFileReportControl::ChildCount(const CFileInfoRecord* folderRow) const
{
    const QModelIndex index = IndexOf(folderRow);
    return index.isValid() ? model_.rowCount(index) : 0;
}

void CFileReportControl::ResetContent()
{
    model_.removeRows(0, model_.rowCount());
    rows_.clear();
    SetHeaderChecked(false);
}

QStandardItem* CFileReportControl::MakeItem(const std::u16string& text, bool centred)
{
    auto* item = new QStandardItem(ToQ(text));
    item->setEditable(false);
    item->setTextAlignment(centred ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignVCenter));
    return item;
}

bool PostAddRow(CFileReportControl* control, int number, std::unique_ptr<CFileInfoRecord> row,
                CFileInfoRecord* folder)
{
    if (!control) return false;
    QCoreApplication::postEvent(control, new AddRowEvent(number, std::move(row), folder));
    return true;
}

// The first two cells of a row: its check item, which carries the record,
// and its name with the icon.
QList<QStandardItem*> CFileReportControl::CheckAndNameItems(CFileInfoRecord* row)
{
    auto* check = MakeItem(u"", false);
    check->setCheckable(true);
    check->setCheckState(Qt::Unchecked);
    check->setData(QVariant::fromValue(row), kRecordRole);
    row->check_ = check;
    auto* name = MakeItem(row->texts_[1], false);
    name->setIcon(AppIcons().At(row->icon_));
    return {check, name};
}

int CFileReportControl::AddFolderRow(std::unique_ptr<CFileInfoRecord> owned)
{
    if (!owned) return 1;
    CFileInfoRecord* row = owned.get();
    rows_.push_back(std::move(owned));
    QList<QStandardItem*> items = CheckAndNameItems(row);
    QStandardItem* check = items.front();
    // The folder path spans the row: the count cells of a folder row
    // stay empty.
    for (int k = 2; k < CFileInfoRecord::kItemCount; ++k) items << MakeItem(u"", true);
    for (auto* it : items) it->setBackground(QColor(0xF3, 0xF6, 0xFA));
    model_.appendRow(items);
    setExpanded(check->index(), true);
    return 0;
}

int CFileReportControl::AddFileRow(std::unique_ptr<CFileInfoRecord> owned, CFileInfoRecord* folder)
{
    if (!owned || !folder || !folder->check_) return 1;
    CFileInfoRecord* row = owned.get();
    rows_.push_back(std::move(owned));
    QList<QStandardItem*> items = CheckAndNameItems(row);
    for (int k = 2; k < CFileInfoRecord::kItemCount; ++k) {
        items << MakeItem(row->texts_[k], true);
        FitFigure(k, row->texts_[k]);
    }
    folder->check_->appendRow(items);
    setExpanded(folder->check_->index(), true);
    viewport()->update();
    return 0;
}

void CFileReportControl::FitFigure(int column, const std::u16string& text)
{
    // The text's width plus the cell's margins and a little room.
    const int need = fontMetrics().horizontalAdvance(QString::fromStdU16String(text)) + 12;
    if (need <= figureWidths_[column]) return;
    figureWidths_[column] = need;
    if (columnWidth(column) < need) FitColumns();
}

bool CFileReportControl::event(QEvent* e)
{
    if (e->type() >= QEvent::User && e->type() <= QEvent::MaxUser) {
        if (auto* a = dynamic_cast<AddRowEvent*>(e)) {
            if (a->Number() == UM_ADD_FOLDER_ROW)
                AddFolderRow(a->TakeRow());
            else if (a->Number() == UM_ADD_FILE_ROW)
                AddFileRow(a->TakeRow(), a->Folder());
            return true;
        }
    }
    return QTreeView::event(e);
}

int CFileReportControl::FolderRowCount() const { return model_.rowCount(); }

int CFileReportControl::DocumentRowCount() const
{
    int n = 0;
    for (int i = 0; i < model_.rowCount(); ++i) n += model_.item(i, 0)->rowCount();
    return n;
}

CFileInfoRecord* CFileReportControl::RecordAt(const QModelIndex& index) const
{
    if (!index.isValid()) return nullptr;
    const QModelIndex first = index.sibling(index.row(), 0);
    return first.data(kRecordRole).value<CFileInfoRecord*>();
}

CFileInfoRecord* CFileReportControl::FolderRow(int i) const
{
    auto* item = model_.item(i, 0);
    return item ? RecordAt(item->index()) : nullptr;
}

CFileInfoRecord* CFileReportControl::DocumentRow(int folder, int i) const
{
    auto* f = model_.item(folder, 0);
    if (!f) return nullptr;
    auto* c = f->child(i, 0);
    return c ? RecordAt(c->index()) : nullptr;
}

QModelIndex CFileReportControl::IndexOf(const CFileInfoRecord* row) const
{
    return row && row->check_ ? row->check_->index() : QModelIndex();
}

bool CFileReportControl::IsChecked(const CFileInfoRecord* row) const
{
    return row && row->check_ && row->check_->checkState() == Qt::Checked;
}

void CFileReportControl::SetChecked(CFileInfoRecord* row, bool checked)
{
    if (row && row->check_) row->check_->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void CFileReportControl::OnItemChanged(QStandardItem* item)
{
    if (propagating_ || !item || item->column() != 0) return;
    propagating_ = true;
    if (!item->parent()) {
        // A folder row gives its state to every document under it.
        const Qt::CheckState s = item->checkState();
        for (int i = 0; i < item->rowCount(); ++i) item->child(i, 0)->setCheckState(s);
    } else {
        // A document row: its folder is checked when all its documents are.
        QStandardItem* parent = item->parent();
        bool all = true;
        for (int i = 0; i < parent->rowCount(); ++i)
            all = all && parent->child(i, 0)->checkState() == Qt::Checked;
        parent->setCheckState(all ? Qt::Checked : Qt::Unchecked);
    }
    propagating_ = false;
    UpdateHeaderFromRows();
}

void CFileReportControl::UpdateHeaderFromRows()
{
    if (model_.rowCount() == 0) return;
    bool all = true;
    for (int i = 0; i < model_.rowCount() && all; ++i) {
        QStandardItem* f = model_.item(i, 0);
        all = f->checkState() == Qt::Checked;
        for (int j = 0; j < f->rowCount() && all; ++j) all = f->child(j, 0)->checkState() == Qt::Checked;
    }
    SetHeaderChecked(all);
}

void CFileReportControl::OnHeaderCheckClick()
{
    if (model_.rowCount() == 0) return;
    const bool state = !headerChecked_;
    propagating_ = true;
    for (int i = 0; i < model_.rowCount(); ++i) {
        QStandardItem* f = model_.item(i, 0);
        for (int j = 0; j < f->rowCount(); ++j) f->child(j, 0)->setCheckState(state ? Qt::Checked : Qt::Unchecked);
        f->setCheckState(state ? Qt::Checked : Qt::Unchecked);
    }
    propagating_ = false;
    SetHeaderChecked(state);
}

bool OpenOrSayWhy(const std::u16string& path, QWidget* owner)
{
    if (path.empty()) return false;
    struct stat st{};
    if (stat(plat::PathToNative(path).c_str(), &st) != 0) {
        ps::ui::ShowMessageBox(GetText(u"ERROR_MSG_NO_EXIST_OPEN_DOCUMENT"), u"", 1, owner);
        return false;
    }
    const std::u16string failed = S_ISDIR(st.st_mode) ? kOpenFolderFailedText : kOpenDocumentFailedText;
    if (HasOpenWithAssociationHook()) {
        if (OpenWithAssociation(path)) return true;
        ps::ui::ShowMessageBox(failed, u"", 1, owner);
        return false;
    }
    // The opener's end tells: a desktop without a program for the file
    // starts the opener, which then fails.
    QPointer<QWidget> window(owner);
    ps::ui::OpenOnDesktopThen(ToQ(path), owner, [window, failed] { ps::ui::ShowMessageBox(failed, u"", 1, window); });
    return true;
}

void CFileReportControl::mouseDoubleClickEvent(QMouseEvent* e)
{
    const QModelIndex index = indexAt(e->position().toPoint());
    CFileInfoRecord* row = RecordAt(index);
    if (!row || index.column() == 0) return;
    if (isSearching && isSearching()) return;
    if (row->IsFolderRow()) {
        const std::u16string folder = row->GetFolderPath();
        OpenOrSayWhy(folder, window());
    }
    else {
        Act(35);
        CPersonalInfoDlg dlg(window());
        dlg.SetFileInfo(row->FileInfo());
        dlg.SetPersonalInfoMask(row->PersonalInfoMask());
        CPersonalInfoDlg::Run(dlg);
    }
}

void CFileReportControl::contextMenuEvent(QContextMenuEvent* e)
{
    const QModelIndex index = indexAt(e->pos());
    CFileInfoRecord* row = RecordAt(index);
    if (!row) return;
    ShowContextMenu(row, e->globalPos());
}

void CFileReportControl::ShowContextMenu(CFileInfoRecord* row, const QPoint& globalPos)
{
    const bool folder = row->IsFolderRow();
    const std::u16string path = folder ? row->GetFolderPath() : row->GetFullPath();
    if (path.empty()) return;
    const bool searching = isSearching && isSearching();
    const bool a = !searching;
    const bool ab = a && !folder;
    const bool actionsBuilt = true;
    std::vector<std::pair<int, bool>> items = {
        {10000, a},
        {10001, ab && actionsBuilt},
        {10002, ab && actionsBuilt},
        {10003, ab && actionsBuilt},
        {10004, ab && actionsBuilt},
        {10006, true},
        {10005, true},
        {10007, true},
    };
    int command = 0;
    if (menuChooser) {
        command = menuChooser(items);
        for (auto& [id, enabled] : items)
            if (id == command && !enabled) command = 0;
    } else {
        QMenu menu(this);
        menu.setFont(ps::ui::Font12());
        auto add = [&](int id, const char16_t* key, bool enabled) {
            QAction* act = menu.addAction(Tx(key));
            act->setData(id);
            act->setEnabled(enabled);
        };
        add(10000, u"MENU_OPEN", items[0].second);
        add(10001, u"MENU_SEARCH_DETAIL_INFO", items[1].second);
        menu.addSeparator();
        add(10002, u"MENU_ENCRYPT", items[2].second);
        add(10003, u"MENU_DELETE", items[3].second);
        add(10004, u"MENU_EXCEPTION", items[4].second);
        menu.addSeparator();
        add(10006, u"MENU_CLOSE_ALL", true);
        add(10005, u"MENU_OPEN_ALL", true);
        menu.addSeparator();
        add(10007, u"MENU_PROPERTY", true);
        if (QAction* chosen = menu.exec(globalPos)) command = chosen->data().toInt();
    }
    switch (command) {
    case 10000: emit rowCommand(RowCommand::Open, row, path); break;
    case 10001: {
        Act(35);
        CPersonalInfoDlg dlg(window());
        dlg.SetFileInfo(row->FileInfo());
        CPersonalInfoDlg::Run(dlg);
        break;
    }
    case 10002:
    case 10003:
    case 10004: {
        const RowCommand action = command == 10002   ? RowCommand::Encrypt
                                  : command == 10003 ? RowCommand::Delete
                                                     : RowCommand::Except;
        emit rowCommand(action, row, path);
        break;
    }
    case 10005: emit rowCommand(RowCommand::ExpandAll, row, path); break;
    case 10006: emit rowCommand(RowCommand::CollapseAll, row, path); break;
    case 10007: emit rowCommand(RowCommand::Properties, row, path); break;
    default: break;
    }
}
