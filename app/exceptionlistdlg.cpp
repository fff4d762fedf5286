#include "app/exceptionlistdlg.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "app/actiondlg.h"
#include "app/appcore.h"
#include "app/eventpanels.h"
#include "app/filereport.h"
#include "app/hitsdlg.h"
#include "core/controls/celltips.h"
#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/eventstore/CppSQLite3.h"
#include "core/eventstore/eventqueries.h"
#include "core/logmgr.h"
#include "core/uitext.h"
#include "core/util.h"
#include "platform/text.h"
#include "platform/wformat.h"

using namespace ps::ui;

namespace {

constexpr int kRecordRole = Qt::UserRole + 1;
constexpr int kColumnWidths[3] = {19, 290, 390};
constexpr int kReleaseStrip = 250;
constexpr int kCloseStrip = 249;
constexpr int kArrowUp = 247;    // panel collapsed
constexpr int kArrowDown = 248;  // panel expanded
constexpr QRgb kListFrame = 0xC5C7C7;

// Check box from the skin, the other cells as usual, light grid lines.
class ExceptionDelegate : public ReportCheckDelegate {
public:
    using ReportCheckDelegate::ReportCheckDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        ReportCheckDelegate::paint(p, option, index);
        p->save();
        p->setPen(QColor(0xE2, 0xE4, 0xE8));
        const QRect r = option.rect;
        p->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        p->drawLine(r.right(), r.top(), r.right(), r.bottom());
        p->restore();
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize s = ReportCheckDelegate::sizeHint(option, index);
        s.setHeight(std::max(s.height(), 21));
        return s;
    }
};

bool Exists(const std::u16string& path)
{
    return !path.empty() && ::access(plat::PathToNative(path).c_str(), F_OK) == 0;
}

}  // namespace

// ---- Rows -------------------------------------------------------------------------

CExceptionInfoRecord::CExceptionInfoRecord(SearchFileInfo* record, const PersonalInfoCounts& counts, int iconIndex,
                                           int32_t type, size_t entry)
    : info_(record), counts_(counts), icon_(iconIndex), entry_(entry)
{
    if (record) {
        folder_ = record->Folder();
        name_ = record->FileName();
    }
    // Excepted from the error report after an abnormal end.
    if (type == 0x70000)
        name_ = plat::FormatWide(u"%s (%s)", name_.c_str(), GetText(u"EVENT_LOG_EVENT_DATA_ADD_ERROR_FILE_FLAG").c_str());
}

std::u16string CExceptionInfoRecord::GetDocumentPath() const
{
    if (!info_) return std::u16string();
    std::u16string folder = folder_;
    while (!folder.empty() && folder.back() == u'/') folder.pop_back();
    return folder + u"/" + std::u16string(info_->FileName());
}

// ---- Control -------------------------------------------------------------------

CExceptionReportControl::CExceptionReportControl(QWidget* parent) : QTreeView(parent)
{
    setModel(&model_);
    setFont(Font12());
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(16, 16));
    setFrameShape(QFrame::NoFrame);
    setItemDelegate(new ExceptionDelegate(this));
    setTextElideMode(Qt::ElideMiddle);
    InstallCutTextToolTips(this, [this](QModelIndex& index) {
        return index.column() == 0 ? QRect() : visualRect(index);
    });
    ApplyReportLook(this);
    model_.setColumnCount(3);
    const char16_t* captions[3] = {nullptr, u"EXCEPT_COLUMN_NAME", u"EXCEPT_COLUMN_PATH"};
    for (int c = 0; c < 3; ++c) {
        auto* h = new QStandardItem(captions[c] ? Tx(captions[c]) : QString());
        h->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        model_.setHorizontalHeaderItem(c, h);
    }
    header()->setFont(Font12());
    header()->setSectionsClickable(true);
    header()->setMinimumSectionSize(19);
    header()->setStretchLastSection(true);
    header()->setSectionResizeMode(0, QHeaderView::Fixed);
    header()->setSectionResizeMode(1, QHeaderView::Interactive);
    for (int c = 0; c < 3; ++c) setColumnWidth(c, kColumnWidths[c]);
    SetHeaderChecked(false);
    connect(&model_, &QStandardItemModel::itemChanged, this, &CExceptionReportControl::OnItemChanged);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int column) {
        if (column == 0) OnHeaderCheckClick();
    });
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) { OnCurrentChanged(current); });
}

CExceptionReportControl::~CExceptionReportControl()
{
    // The model's items go before the rows they point to.
    model_.clear();
}

bool CExceptionReportControl::viewportEvent(QEvent* e)
{
    // The name and folder columns share the width in their designed
    // proportions; the check column keeps its width.
    if (e->type() == QEvent::Resize) {
        const int available = viewport()->width() - kColumnWidths[0];
        if (available > 0) {
            const int name = kColumnWidths[1] * available / (kColumnWidths[1] + kColumnWidths[2]);
            setColumnWidth(1, std::max(40, name));
        }
    }
    return QTreeView::viewportEvent(e);
}

void CExceptionReportControl::AddRecord(std::unique_ptr<CExceptionInfoRecord> owned)
{
    if (!owned) return;
    CExceptionInfoRecord* row = owned.get();
    rows_.push_back(std::move(owned));
    auto* check = new QStandardItem();
    check->setEditable(false);
    check->setCheckable(true);
    check->setCheckState(Qt::Unchecked);
    check->setData(QVariant::fromValue(row), kRecordRole);
    row->check_ = check;
    auto* name = new QStandardItem(ToQ(row->name_));
    name->setEditable(false);
    name->setIcon(AppIcons().At(row->icon_));
    name->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto* folder = new QStandardItem(ToQ(row->folder_));
    folder->setEditable(false);
    folder->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    model_.appendRow({check, name, folder});
}

void CExceptionReportControl::RemoveRecord(CExceptionInfoRecord* row)
{
    const QModelIndex index = IndexOf(row);
    if (!index.isValid()) return;
    model_.removeRow(index.row());
    std::erase_if(rows_, [row](const std::unique_ptr<CExceptionInfoRecord>& r) { return r.get() == row; });
}

void CExceptionReportControl::ResetContent()
{
    model_.removeRows(0, model_.rowCount());
    rows_.clear();
}

CExceptionInfoRecord* CExceptionReportControl::Record(int i) const
{
    auto* item = model_.item(i, 0);
    return item ? RecordAt(item->index()) : nullptr;
}

CExceptionInfoRecord* CExceptionReportControl::RecordAt(const QModelIndex& index) const
{
    if (!index.isValid()) return nullptr;
    return index.sibling(index.row(), 0).data(kRecordRole).value<CExceptionInfoRecord*>();
}

QModelIndex CExceptionReportControl::IndexOf(const CExceptionInfoRecord* row) const
{
    return row && row->check_ ? row->check_->index() : QModelIndex();
}

bool CExceptionReportControl::IsChecked(const CExceptionInfoRecord* row) const
{
    return row && row->check_ && row->check_->checkState() == Qt::Checked;
}

void CExceptionReportControl::SetChecked(CExceptionInfoRecord* row, bool checked)
{
    if (row && row->check_) row->check_->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void CExceptionReportControl::SetHeaderChecked(bool checked)
{
    headerChecked_ = checked;
    if (auto* h = model_.horizontalHeaderItem(0)) h->setIcon(AppIcons().Of(checked ? u"CHKBOX" : u"UNCHKBOX"));
}

void CExceptionReportControl::OnHeaderCheckClick()
{
    if (model_.rowCount() == 0) return;
    const bool state = !IsChecked(Record(0));
    settingAll_ = true;
    for (int i = 0; i < model_.rowCount(); ++i) model_.item(i, 0)->setCheckState(state ? Qt::Checked : Qt::Unchecked);
    settingAll_ = false;
    SetHeaderChecked(state);
}

void CExceptionReportControl::OnItemChanged(QStandardItem* item)
{
    if (settingAll_ || !item || item->column() != 0) return;
    // The header shows the checked image while every row is checked.
    bool all = true;
    for (int i = 0; i < model_.rowCount() && all; ++i) all = model_.item(i, 0)->checkState() == Qt::Checked;
    SetHeaderChecked(all);
}

void CExceptionReportControl::OnCurrentChanged(const QModelIndex& current)
{
    // The window's lists are found through the row, so the panel shows the
    // right document also after rows were taken out.
    if (CExceptionInfoRecord* row = RecordAt(current))
        SendUserMessage(window(), UM_EXCEPTION_SELECTED, static_cast<quintptr>(row->Entry()), 0);
}

void CExceptionReportControl::mouseDoubleClickEvent(QMouseEvent* e)
{
    const QModelIndex index = indexAt(e->position().toPoint());
    CExceptionInfoRecord* row = RecordAt(index);
    if (!row) {
        QTreeView::mouseDoubleClickEvent(e);
        return;
    }
    if (index.column() == 1) {
        // The document's hits, every kind.
        CPersonalInfoDlg dlg(window());
        dlg.SetFileInfo(row->FileInfo());
        CPersonalInfoDlg::Run(dlg);
    } else if (index.column() == 2) {
        if (!row->Folder().empty()) OpenWithAssociation(row->Folder());
    } else {
        QTreeView::mouseDoubleClickEvent(e);
    }
}

void CExceptionReportControl::contextMenuEvent(QContextMenuEvent* e)
{
    CExceptionInfoRecord* row = RecordAt(indexAt(e->pos()));
    if (!row) return;
    ShowContextMenu(row, e->globalPos());
}

void CExceptionReportControl::ShowContextMenu(CExceptionInfoRecord* row, const QPoint& globalPos)
{
    const std::u16string path = row ? row->GetDocumentPath() : std::u16string();
    if (path.empty()) return;
    int command = 0;
    if (menuChooser) {
        command = menuChooser();
    } else {
        QMenu menu(this);
        menu.setFont(Font12());
        auto add = [&menu](int id, const char16_t* key) { menu.addAction(Tx(key))->setData(id); };
        add(10000, u"MENU_OPEN");
        add(10008, u"MENU_REMOVE_EXCEPTION");
        add(10007, u"MENU_PROPERTY");
        if (QAction* chosen = menu.exec(globalPos)) command = chosen->data().toInt();
    }
    switch (command) {
    case 10000: emit rowCommand(ExceptionRowCommand::Open, row, path); break;
    case 10007: emit rowCommand(ExceptionRowCommand::Properties, row, path); break;
    case 10008: emit rowCommand(ExceptionRowCommand::Release, row, path); break;
    default: break;
    }
}

// ---- Window -------------------------------------------------------------------------

CExceptionConfigurationDlg::CExceptionConfigurationDlg(QWidget* parent) : CSkinDialog(parent)
{
    setWindowIcon(QIcon(SkinIcon(128)));
    SetCaptionBand(30);
    // Enter and Space do nothing here; Escape closes as the close button.
    SetKeyPolicy({KeyAction::Swallow, KeyAction::Default, KeyAction::Swallow});
    m_title = new QLabel(this);
    m_title->setObjectName(QString::number(IDC_TITLE));
    m_title->setAttribute(Qt::WA_TranslucentBackground);
    m_title->setStyleSheet("background: transparent; color: rgb(51, 51, 51);");
    m_notice = new QLabel(this);
    m_notice->setAttribute(Qt::WA_TranslucentBackground);
    m_notice->setStyleSheet("background: transparent; color: rgb(192, 57, 43);");
    m_report = new CExceptionReportControl(this);
    connect(m_report, &CExceptionReportControl::rowCommand, this, &CExceptionConfigurationDlg::OnRowCommand);
    m_report->setObjectName(QString::number(IDC_REPORT));
    m_panel = new CSearchDetailPanel(this);
    m_btnRelease = new ImageButton(this);
    m_btnRelease->setObjectName(QString::number(IDC_RELEASE));
    m_btnClose = new ImageButton(this);
    m_btnClose->setObjectName(QString::number(IDC_CLOSE));
    m_btnX = new ImageButton(this);
    m_btnX->setObjectName(QString::number(IDC_CLOSE_X));
    m_btnToggle = new ImageButton(this);
    m_btnToggle->setObjectName(QString::number(IDC_TOGGLE));
    connect(m_btnRelease, &QAbstractButton::clicked, this, [this] { OnBnClickedRelease(); });
    connect(m_btnClose, &QAbstractButton::clicked, this, [this] { EndDialog(IDCANCEL); });
    connect(m_btnX, &QAbstractButton::clicked, this, [this] { EndDialog(IDCANCEL); });
    connect(m_btnToggle, &QAbstractButton::clicked, this, [this] { OnBnClickedToggle(); });
}

CExceptionConfigurationDlg::~CExceptionConfigurationDlg()
{
    // The rows point into the lists: they go first.
    m_report->ResetContent();
}

bool CExceptionConfigurationDlg::OnInitDialog()
{
    m_frame = SkinBitmap(IDB_FRAME);
    m_heading = SkinBitmap(IDB_HEADING);
    m_panelBar = SkinBitmap(IDB_PANEL_BAR);
    m_btnRelease->LoadBitmapStrip(kReleaseStrip, 2);
    m_btnClose->LoadBitmapStrip(kCloseStrip, 2);
    m_btnX->LoadBitmaps(155, 157, 156);
    m_btnToggle->LoadBitmaps(kArrowUp, kArrowUp, kArrowUp);
    const QSize size = m_frame.isNull() ? QSize(730, 480) : m_frame.size();
    setFixedSize(size);
    SetRoundRegion(size.width() + 1, size.height() + 1, 2, 2);
    m_title->setFont(FontBold12());
    m_title->setText(Tx(u"EXCEPTION_SETTING_PAGE"));
    m_title->adjustSize();
    m_notice->setFont(Font11());
    setWindowTitle(m_title->text());
    Fill();
    // Centred on the window that opened it: left to the window manager, it
    // was placed for the size it had before its layout.
    CenterWindow();
    return true;
}

void CExceptionConfigurationDlg::Fill()
{
    m_records.clear();
    m_counts.clear();
    m_users.clear();
    m_types.clear();
    m_loadFailed = false;
    std::vector<SearchFileInfo> records;
    try {
        LoadExceptionList(m_counts, m_users, records, m_types);
    } catch (const CppSQLite3Exception& e) {
        AppLog().Write(u"The exception list could not be read: %s", e.ErrorMessage().c_str());
        m_loadFailed = true;
    }
    const size_t n = std::min({records.size(), m_counts.size(), m_users.size(), m_types.size()});
    if (m_loadFailed) {
        m_counts.clear();
        m_users.clear();
        m_types.clear();
    } else {
        m_records.assign(records.begin(), records.begin() + static_cast<std::ptrdiff_t>(n));
    }
    m_report->ResetContent();
    m_report->SetHeaderChecked(false);
    for (size_t i = 0; i < m_records.size(); ++i) {
        SearchFileInfo& record = m_records[i];
        const int icon = AppIcons().IndexOf(GetUpperExtension(std::u16string(record.FileName())));
        m_report->AddRecord(std::make_unique<CExceptionInfoRecord>(&record, m_counts[i], icon, m_types[i], i));
    }
    m_notice->setText(m_loadFailed ? ToQ(kLoadFailedText) : QString());
    m_panelCollapsed = m_records.empty();
    if (!m_records.empty()) ShowEntry(0);
    else m_panel->ClearCounts();
    Layout();
    update();
}

void CExceptionConfigurationDlg::ShowEntry(size_t entry)
{
    if (entry >= m_records.size() || entry >= m_counts.size() || entry >= m_users.size()) return;
    m_panel->counts = m_counts[entry];
    m_panel->user = m_users[entry];
    m_panel->UpdateCounts();
}

void CExceptionConfigurationDlg::Layout()
{
    const int w = width(), h = height();
    const int y0 = 29 + (m_heading.isNull() ? 46 : m_heading.height());
    m_title->move(10, 10);
    m_btnX->move(w - 23, 6);
    m_btnClose->move(w - m_btnClose->width() - 10, h - m_btnClose->height() - 10);
    m_btnRelease->move(w - 2 * m_btnClose->width() - 15, m_btnClose->y());
    m_notice->setGeometry(12, m_btnClose->y() + 3, m_btnRelease->x() - 24, 16);
    m_btnToggle->LoadBitmaps(m_panelCollapsed ? kArrowUp : kArrowDown, m_panelCollapsed ? kArrowUp : kArrowDown,
                             m_panelCollapsed ? kArrowUp : kArrowDown);
    if (!m_panelCollapsed) {
        m_report->setGeometry(12, y0, w - 24, 245);
        m_btnToggle->move(w - m_btnToggle->width() - 15, y0 + 246);
        m_panel->setGeometry(12, y0 + 245 + 26, w - 24, 90);
        m_panel->show();
    } else {
        m_report->setGeometry(12, y0, w - 24, 336);
        m_btnToggle->move(w - m_btnToggle->width() - 15, y0 + 337);
        m_panel->setGeometry(12, y0 + 335 + 26, w - 24, 0);
        m_panel->hide();
    }
    update();
}

void CExceptionConfigurationDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    TransparentBlt(p, rect(), m_frame, m_frame.rect());
    DrawBandToWidth(p, QPoint(1, 29), width() - 2, m_heading);
    if (!m_panelBar.isNull()) {
        const QPoint at(11, 46 + (m_panelCollapsed ? 365 : 274));
        TransparentBlt(p, QRect(at, m_panelBar.size()), m_panelBar, m_panelBar.rect());
    }
    // A one-pixel frame just outside the list.
    p.setPen(QColor(kListFrame));
    p.setBrush(Qt::NoBrush);
    p.drawRect(m_report->geometry().adjusted(-1, -1, 0, 0));
}

void CExceptionConfigurationDlg::OnBnClickedToggle()
{
    m_panelCollapsed = !m_panelCollapsed;
    Act(m_panelCollapsed ? 29 : 28);
    Layout();
}

int CExceptionConfigurationDlg::Release(const std::vector<CExceptionInfoRecord*>& rows)
{
    DocumentList list;
    for (CExceptionInfoRecord* row : rows) list.push_back(DocumentItem{row->GetDocumentPath(), row->FileInfo()->fileIndex});
    int processed = 0;
    CDocumentExceptionDlg dlg(this, 2);
    dlg.SetDocuments(&list, &processed);
    if (actionWindowRunner)
        actionWindowRunner(dlg);
    else
        dlg.DoModal();
    // Exactly the documents released leave the list, with every other row
    // of theirs (a document excepted twice has one row per exception, and
    // the release took them all). A document whose release failed keeps
    // its rows.
    std::set<int64_t> released;
    for (size_t i : dlg.ProcessedPositions())
        if (i < list.size()) released.insert(list[i].FileIndex);
    std::vector<CExceptionInfoRecord*> gone;
    for (int i = 0; i < m_report->RecordCount(); ++i)
        if (CExceptionInfoRecord* row = m_report->Record(i); row && released.count(row->FileInfo()->fileIndex))
            gone.push_back(row);
    for (CExceptionInfoRecord* row : gone) m_report->RemoveRecord(row);
    const int notReleased = static_cast<int>(list.size() - dlg.ProcessedPositions().size());
    m_notice->setText(notReleased > 0 ? ToQ(plat::FormatWide(kNotReleasedText, notReleased)) : QString());
    if (m_report->RecordCount() == 0) m_report->SetHeaderChecked(false);
    return static_cast<int>(released.size());
}

void CExceptionConfigurationDlg::OnBnClickedRelease()
{
    Act(30);
    std::vector<CExceptionInfoRecord*> rows;
    for (int i = 0; i < m_report->RecordCount(); ++i)
        if (CExceptionInfoRecord* row = m_report->Record(i); m_report->IsChecked(row)) rows.push_back(row);
    if (rows.empty()) {
        ShowMessageBox(GetText(u"EMPTY_SELECTED_FILELIST"), u"", 1, this);
        return;
    }
    Release(rows);
    m_panelCollapsed = true;
    Act(29);
    Layout();
    m_panel->ClearCounts();
}

void CExceptionConfigurationDlg::OnRowCommand(ExceptionRowCommand command, CExceptionInfoRecord* row,
                                              const std::u16string& path)
{
    switch (command) {
    case ExceptionRowCommand::Open:
        Act(78);
        if (!Exists(path)) {
            ShowMessageBox(GetText(u"ERROR_MSG_NO_EXIST_OPEN_DOCUMENT"), u"", 1, this);
            return;
        }
        OpenWithAssociation(path);
        return;
    case ExceptionRowCommand::Properties:
        Act(79);
        ShowDocumentProperties(path, this);
        return;
    case ExceptionRowCommand::Release:
        Act(31);
        if (row && m_report->IndexOf(row).isValid()) Release({row});
        return;
    }
}

qintptr CExceptionConfigurationDlg::OnUserMessage(int number, quintptr wParam, qintptr)
{
    switch (number) {
    case UM_EXCEPTION_SELECTED: {
        const size_t entry = static_cast<size_t>(wParam);
        if (entry >= m_records.size() || entry >= m_counts.size() || entry >= m_users.size())
            return static_cast<qintptr>(0x80004005);  // E_FAIL
        ShowEntry(entry);
        return 0;
    }
    default: return 0;
    }
}
