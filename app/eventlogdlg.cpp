#include "app/eventlogdlg.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QTimer>

#include "app/appcore.h"
#include "app/maindlg.h"
#include "app/recorddlgs.h"
#include "settings/configdlg.h"
#include "core/controls/skin.h"
#include "core/documentkinds.h"
#include "core/eventstore/eventstore.h"
#include "core/uitext.h"
#include "platform/wformat.h"

using namespace ps::ui;

std::function<bool(QWidget*, int&)> CEventLogDlg::s_beforeRun;

namespace {

// The detail list shows the icons of the document kinds' extensions.
int IconIndexOfName(const std::u16string& fileName)
{
    const std::u16string ext = GetUpperExtension(fileName);
    return DocumentKindOfExtension(ext) >= 0 ? AppIcons().IndexOf(ext) : 0;
}

bool ShowsEventPanel(int32_t type)
{
    const uint32_t t = static_cast<uint32_t>(type);
    switch (t) {
    case 1: case 4: case 0x100: case 0x1000: case 0x10000: case 0x40000: case 0x70000: return true;
    default: return t >= 0x1000000u && t <= 0xA000000u && (t & 0xFFFFFFu) == 0;
    }
}

ImageButton* Buttons(QWidget* parent, int normal, int hover, int pressed)
{
    auto* b = new ImageButton(parent);
    b->LoadBitmaps(normal, pressed, hover);
    return b;
}

ImageButton* Strip(QWidget* parent, int id, int images)
{
    auto* b = new ImageButton(parent);
    b->LoadBitmapStrip(id, images - 1);
    return b;
}

// The text the window shows when the event database cannot be read.
const char16_t kStoreFailure[] = u"기록을 읽지 못했습니다. 잠시 후 다시 시도해 주세요.\n(%s)";

}  // namespace

CEventLogDlg::CEventLogDlg(QWidget* parent) : CSkinDialog(parent)
{
    setWindowIcon(QIcon(SkinIcon(128)));
    SetResizeBorder(10);
    setMinimumSize(kMinWidth, kMinHeight);
    // Enter runs the search from the search text (see eventFilter) and is
    // swallowed elsewhere; Space never reaches a control; Escape cancels.
    SetKeyPolicy({KeyAction::Swallow, KeyAction::Default, KeyAction::Swallow});

    title_ = new QLabel(this);
    btnMenu_ = Buttons(this, 149, 150, 151);
    btnMin_ = Buttons(this, 152, 153, 154);
    btnMax_ = Buttons(this, 236, 237, 238);
    btnClose_ = Buttons(this, 155, 156, 157);
    period_ = new CDropDownButton(this);
    btnPrev_ = Strip(this, 258, 3);
    periodText_ = new QLabel(this);
    btnNext_ = Strip(this, 259, 3);
    range_ = new QComboBox(this);
    kind_ = new CDropDownButton(this);
    searchEdit_ = new CEditVC(this);
    btnSearch_ = Strip(this, 260, 2);
    list_ = new CEventReportControl(this);
    splitBar_ = new CSplitBar(this);
    connect(splitBar_, &CSplitBar::Moved, this, &CEventLogDlg::OnSplitterMoved);
    btnToggle_ = Buttons(this, 248, 248, 248);
    btnSettings_ = Strip(this, 257, 2);
    btnDelete_ = Strip(this, 198, 2);
    btnSave_ = Strip(this, 199, 2);
    detailList_ = new CEventDetailReportControl(this);
    searchPanel_ = new CSearchDetailPanel(this);
    eventPanel_ = new CEventDetailPanel(this);
    popup_ = new CDateSelectPopup(this);
    popup_->hide();
    connect(popup_, &CDateSelectPopup::rangeSelected, this, &CEventLogDlg::OnDateRangeSelected);
    notice_ = new QLabel(this);
    notice_->hide();

    connect(btnMenu_, &QAbstractButton::clicked, this, [this] { CPrivasweepDlg::OnBnClickedMenu(this); });
    connect(btnMin_, &QAbstractButton::clicked, this, [this] {
        popup_->hide();
        showMinimized();
    });
    connect(btnMax_, &QAbstractButton::clicked, this, [this] { ToggleMaximize(); });
    connect(btnClose_, &QAbstractButton::clicked, this, [this] {
        popup_->hide();
        OnCancel();
    });
    connect(period_, &QComboBox::activated, this, [this](int i) { OnPeriodChosen(i); });
    connect(kind_, &QComboBox::activated, this, [this](int i) { OnKindChosen(i); });
    connect(btnPrev_, &QAbstractButton::clicked, this, [this] { OnPrevious(); });
    connect(btnNext_, &QAbstractButton::clicked, this, [this] { OnNext(); });
    connect(btnSearch_, &QAbstractButton::clicked, this, [this] { OnSearch(); });
    connect(btnToggle_, &QAbstractButton::clicked, this, [this] { ToggleDetailArea(); });
    connect(btnDelete_, &QAbstractButton::clicked, this, [this] { OnDeleteRecords(); });
    connect(btnSave_, &QAbstractButton::clicked, this, [this] { OnSaveRecords(); });
    connect(btnSettings_, &QAbstractButton::clicked, this, [this] { OnSettings(); });
    range_->installEventFilter(this);
    searchEdit_->installEventFilter(this);
    // Rows are read while the list paints: the notice waits for the paint to end.
    list_->Model()->onError = [this](const std::u16string& error) {
        QTimer::singleShot(0, this, [this, error] { ShowStoreFailure(error); });
    };
}

CEventLogDlg::~CEventLogDlg() = default;

QWidget* CEventLogDlg::Control(int id) const
{
    switch (id) {
    case IDC_TITLE: return title_;
    case IDC_MENU: return btnMenu_;
    case IDC_MINIMIZE: return btnMin_;
    case IDC_MAXIMIZE: return btnMax_;
    case IDC_CLOSE: return btnClose_;
    case IDC_PERIOD: return period_;
    case IDC_PREVIOUS: return btnPrev_;
    case IDC_PERIOD_TEXT: return periodText_;
    case IDC_NEXT: return btnNext_;
    case IDC_RANGE: return range_;
    case IDC_KIND: return kind_;
    case IDC_SEARCH_TEXT: return searchEdit_;
    case IDC_SEARCH: return btnSearch_;
    case IDC_SPLITTER: return splitBar_;
    case IDC_DETAIL_TOGGLE: return btnToggle_;
    case IDC_SETTINGS: return btnSettings_;
    case IDC_DELETE: return btnDelete_;
    case IDC_SAVE: return btnSave_;
    case IDC_EVENT_LIST: return list_;
    case IDC_DETAIL_LIST: return detailList_;
    default: return nullptr;
    }
}

int CEventLogDlg::BandHeight() const
{
    const QPixmap band = SkinBitmap(253);
    return band.isNull() ? 26 : band.height();
}

bool CEventLogDlg::OnInitDialog()
{
    setWindowTitle(Tx(u"EVENT_LOG_TITLE"));
    const QPixmap frame = SkinBitmap(200);
    resize(frame.isNull() ? kMinWidth : frame.width(), frame.isNull() ? kMinHeight : frame.height() + 1);
    SetupControls();
    HideDetailViews();
    popup_->hide();
    splitter_ = QRect(QPoint(12, height() - 160), QPoint(706, height() - 158));
    RecalcLayout();
    if (QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr)
        move(owner->geometry().center() - QPoint(width() / 2, height() / 2));
    FillEventList();
    return true;
}

void CEventLogDlg::SetupControls()
{
    title_->setFont(FontBold12());
    title_->setText(Tx(u"EVENT_LOG_TITLE"));
    title_->setStyleSheet("background: transparent; color: #1E2A36;");
    title_->adjustSize();
    periodText_->setFont(Font11());
    periodText_->setAlignment(Qt::AlignCenter);
    periodText_->setStyleSheet("background: #F7F7F7; color: #333333;");
    range_->setFont(Font12());
    period_->setFont(Font12());
    kind_->setFont(Font12());
    searchEdit_->setFont(Font12());
    period_->LoadBitmapStrip(265);
    kind_->LoadBitmapStrip(266);
    notice_->setFont(Font12());
    notice_->setWordWrap(true);
    notice_->setAlignment(Qt::AlignCenter);
    notice_->setStyleSheet("background: #FFF4F4; color: #B00020; border: 1px solid #E8B4B8;");

    filter_.reference = TodayDate();
    const auto [first, last] = GetMonthRange(filter_.reference);
    filter_.rangeStart = first;
    filter_.rangeEnd = last;
    ShowPeriodText();

    const std::u16string today = ShownDate(filter_.reference);
    range_->addItem(ToQ(plat::FormatWide(u"%s ~ %s", today.c_str(), today.c_str())));
    range_->setCurrentIndex(0);
    range_->hide();

    for (int p = 0; p < 5; ++p)
        period_->addItem(Tx(PeriodTextKey(p)));
    period_->setCurrentIndex(kPeriodMonth);
    Act(20);
    for (int k = 0; k < 6; ++k)
        kind_->addItem(Tx(KindTextKey(k)));
    kind_->setCurrentIndex(kKindAll);
    Act(54);
}

void CEventLogDlg::ShowPeriodText()
{
    ShowPeriodLine(filter_, periodText_);
}

// ---- Filter ----

void CEventLogDlg::OnPeriodChosen(int period)
{
    if (ChoosePeriod(filter_, {period_, range_, btnPrev_, btnNext_, periodText_, popup_}, period))
        SetTimer(IDT_REFILL_EVENTS, 50);
}

void CEventLogDlg::OnKindChosen(int kind)
{
    {
        const QSignalBlocker block(kind_);
        kind_->setCurrentIndex(kind);
    }
    filter_.kind = kind;
    Act(kind >= 1 && kind <= 5 ? 54 + kind : 54);
    SetTimer(IDT_REFILL_EVENTS, 50);
}

void CEventLogDlg::OnPrevious()
{
    StepPeriod(filter_, period_->currentIndex(), false);
    ShowPeriodText();
    SetTimer(IDT_REFILL_EVENTS, 50);
}

void CEventLogDlg::OnNext()
{
    StepPeriod(filter_, period_->currentIndex(), true);
    ShowPeriodText();
    SetTimer(IDT_REFILL_EVENTS, 50);
}

void CEventLogDlg::OpenDatePopup()
{
    const DateRecord today = TodayDate();
    popup_->SetDateRange(today, today);
    PlacePopup();
    popup_->show();
    popup_->raise();
}

void CEventLogDlg::PlacePopup()
{
    const QPoint bottomLeft = range_->mapToGlobal(QPoint(0, range_->height()));
    popup_->setGeometry(bottomLeft.x(), bottomLeft.y(), 420, 160);
}

void CEventLogDlg::OnTimer(int id)
{
    if (id == IDT_REFILL_EVENTS) {
        KillTimer(id);
        ClearDetails();
        FillEventList();
    } else if (id == IDT_RESTORE_SYSMENU) {
        KillTimer(id);
    }
}

void CEventLogDlg::ClearDetails()
{
    detailList_->ResetContent();
    searchPanel_->ClearCounts();
    eventPanel_->ClearDetails();
    HideDetailViews();
}

void CEventLogDlg::HideDetailViews()
{
    // No row chosen: the area below the band stays empty rather than
    // showing the last event's views or a panel of zeros.
    detailList_->hide();
    searchPanel_->hide();
    eventPanel_->hide();
}

void CEventLogDlg::ShowStoreFailure(const std::u16string& error)
{
    notice_->setText(ToQ(plat::FormatWide(kStoreFailure, error.c_str())));
    notice_->show();
    notice_->raise();
    RecalcLayout();
}

void CEventLogDlg::FillEventList()
{
    notice_->hide();
    std::vector<int64_t> ids;
    try {
        ids = SelectEventIds(period_->currentIndex(), KindMask(filter_.kind), filter_);
    } catch (const CppSQLite3Exception& e) {
        ids.clear();
        list_->Model()->Clear();
        ShowStoreFailure(e.ErrorMessage());
    }
    list_->Model()->SetIds(std::move(ids));
    const int H = height();
    SetDetailArea(list_->Model()->rowCount() > 0, list_->Model()->rowCount() > 0 ? H - 160 : H - 69);
    RecalcLayout();
    update();
}

void CEventLogDlg::SetDetailArea(bool open, int top)
{
    detailOpen_ = open;
    splitter_ = QRect(QPoint(12, top), QPoint(706, top + 2));
    splitBar_->SetMovable(open);
    btnToggle_->LoadBitmaps(open ? 248 : 247, open ? 248 : 247, open ? 248 : 247);
}

void CEventLogDlg::OnSearch()
{
    if (searchActive_) {
        searchActive_ = false;
        btnSearch_->LoadBitmapStrip(260, 1);
        searchEdit_->clear();
        FillEventList();
        return;
    }
    const std::u16string text = FromQ(searchEdit_->text());
    if (text.empty())
        return;
    searchActive_ = true;
    Act(23);
    btnSearch_->LoadBitmapStrip(287, 1);
    ClearDetails();
    if (list_->Model()->Filter(text) > 0) {
        list_->SelectRow(0);
        ShowEventDetails(0);
    } else {
        SetDetailArea(false, 412);
        RecalcLayout();
        update();
    }
}

void CEventLogDlg::ShowEventDetails(int index)
{
    CEventInfoRecord* rec = list_->Model()->Record(index);
    if (!rec)
        HideDetailViews();
    if (rec) {
        const EventLogRow& row = rec->Row();
        const int32_t type = row.info.Type;
        if (ShowsEventPanel(type)) {
            eventPanel_->year = row.info.Year;
            eventPanel_->month = row.info.Month;
            eventPanel_->day = row.info.Day;
            eventPanel_->type = type;
            eventPanel_->time = row.info.Time;
            eventPanel_->user = row.info.User;
            eventPanel_->subject = rec->GetEventDataText();
            eventPanel_->kind = rec->GetKindText();
            eventPanel_->UpdateDetails();
            detailList_->hide();
            searchPanel_->hide();
            eventPanel_->show();
        } else if (IsSearchEndType(type)) {
            searchPanel_->counts = rec->Counts();
            searchPanel_->user = row.info.User;
            searchPanel_->UpdateCounts();
            detailList_->hide();
            searchPanel_->show();
            eventPanel_->hide();
        } else if (IsActionEndType(type)) {
            detailList_->ResetContent();
            std::vector<SearchFileInfo> docs;
            try {
                docs = rec->GetDocuments();
            } catch (const CppSQLite3Exception& e) {
                ShowStoreFailure(e.ErrorMessage());
            }
            const int32_t mark = (type == 0x80000 || type == 0x90000) ? type : 0;
            for (const SearchFileInfo& d : docs)
                detailList_->AddRecord(CEventDetailInfoRecord(d, IconIndexOfName(std::u16string(d.FileName())), mark));
            detailList_->Populate();
            detailList_->show();
            searchPanel_->hide();
            eventPanel_->hide();
        }
    }
    popup_->hide();
}

qintptr CEventLogDlg::OnUserMessage(int number, quintptr wParam, qintptr)
{
    switch (number) {
    case UM_EVENT_SELECTED: ShowEventDetails(static_cast<int>(wParam)); return 0;
    default: return 0;
    }
}

void CEventLogDlg::OnSplitterMoved(const QRect& r)
{
    splitter_ = QRect(QPoint(12, r.top()), QPoint(706, r.top() + r.height() - 1));
    PlaceSplitterViews();
    update();
}

void CEventLogDlg::OnDateRangeSelected(const DateRecord& start, const DateRecord& end)
{
    ApplyDateRange(filter_, range_, start, end);
    SetTimer(IDT_REFILL_EVENTS, 50);
}

// ---- Detail area and layout ----

void CEventLogDlg::ToggleDetailArea()
{
    const int H = height();
    if (!detailOpen_) {
        Act(24);
        SetDetailArea(true, H - BandHeight() - 135);
    } else {
        Act(25);
        savedSplitter_ = splitter_;
        SetDetailArea(false, H - BandHeight() - 43);
    }
    RecalcLayout();
    update();
}

void CEventLogDlg::RecalcLayout()
{
    const int W = width(), H = height();
    SetRoundRegion(W + 1, H + 1, 2, 2);
    int b = H - splitter_.top();
    b = std::max(b, detailOpen_ ? 160 : 69);
    // Never above the splitter's highest place (a window made smaller).
    if (detailOpen_ && H - b < 198 && H - 160 >= 198)
        b = H - 198;
    splitter_ = QRect(QPoint(12, H - b), QPoint(706, H - b + 2));
    splitBar_->SetLimits(198, H - 160);
    PlaceSplitterViews();

    title_->move(10, 10);
    btnClose_->move(W - 22, 6);
    btnMax_->move(W - 41, 6);
    btnMin_->move(W - 60, 6);
    btnMenu_->move(W - 110, 6);

    // The filter row; the drop-downs take the width of their faces.
    period_->move(12, 89);
    btnPrev_->move(118, 89);
    range_->setGeometry(118, 89, 182, 21);
    periodText_->setGeometry(134, 90, 150, 18);
    btnNext_->move(284, 89);
    kind_->move(306, 89);
    const int sw = btnSearch_->width();
    btnSearch_->move(W - sw - 10, 89);
    searchEdit_->setGeometry(W - sw - 160, 89, 145, btnSearch_->height());

    const int bw = btnDelete_->width(), bh = btnDelete_->height();
    btnSettings_->move(10, H - bh - 11);
    btnDelete_->move(W - 2 * bw - 22, H - bh - 11);
    btnSave_->move(W - bw - 11, H - bh - 11);
}

void CEventLogDlg::PlaceSplitterViews()
{
    const int W = width(), H = height(), band = BandHeight();
    const int top = splitter_.top(), bottom = top + 2;
    splitBar_->setGeometry(12, top, W - 24, 2);
    list_->setGeometry(12, 120, W - 24, std::max(0, top - 121));
    notice_->setGeometry(32, 150, std::max(0, W - 64), 48);
    btnToggle_->move(W - btnToggle_->width() - 15, bottom);
    const int h = detailOpen_ ? std::max(0, H - band - top - 45) : 0;
    for (QWidget* v : {static_cast<QWidget*>(searchPanel_), static_cast<QWidget*>(eventPanel_),
                       static_cast<QWidget*>(detailList_)})
        v->setGeometry(12, bottom + band, W - 24, h);
}

void CEventLogDlg::resizeEvent(QResizeEvent* e)
{
    CSkinDialog::resizeEvent(e);
    // The detail area keeps its height: the list takes what the window
    // gains or gives up (maximised, the list fills the screen).
    if (e->oldSize().isValid() && e->oldSize().height() > 0)
        splitter_.translate(0, e->size().height() - e->oldSize().height());
    RecalcLayout();
    update();
}

void CEventLogDlg::moveEvent(QMoveEvent* e)
{
    CSkinDialog::moveEvent(e);
    if (popup_ && popup_->isVisible())
        PlacePopup();
}

void CEventLogDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int W = width(), H = height();
    p.fillRect(rect(), Qt::white);
    const QPixmap skin = SkinBitmap(200);
    if (!skin.isNull()) {
        // Frame: corners as drawn, edges and middle stretched.
        const int bw = skin.width(), bh = skin.height(), c = 50;
        TransparentBlt(p, QRect(0, 0, bw - c, bh - c), skin, QRect(0, 0, bw - c, bh - c));
        PlainBlt(p, QRect(bw - c, 0, W - bw, bh - c), skin, QRect(bw - c - 1, 0, 1, bh - c));
        TransparentBlt(p, QRect(W - c, 0, c, bh - c), skin, QRect(bw - c, 0, c, bh - c));
        PlainBlt(p, QRect(0, bh - c, W - c, H - bh), skin, QRect(0, bh - c - 1, bw - c, 1));
        PlainBlt(p, QRect(W - c, bh - c, c, H - bh), skin, QRect(bw - c, bh - c - 1, c, 1));
        TransparentBlt(p, QRect(0, H - c, bw - c, c), skin, QRect(0, bh - c, bw - c, c));
        PlainBlt(p, QRect(bw - c, H - c, W - bw, c), skin, QRect(bw - c - 1, bh - c, 1, c));
        TransparentBlt(p, QRect(W - c, H - c, c, c), skin, QRect(bw - c, bh - c, c, c));
    }
    const QPixmap header = SkinBitmap(255);
    DrawBandToWidth(p, QPoint(1, 29), W - 2, header);
    const QPixmap band = SkinBitmap(253);
    if (!band.isNull()) {
        const int y = splitter_.top() + 2 - 1, BW = band.width(), BH = band.height();
        TransparentBlt(p, QRect(11, y, 600, BH), band, QRect(0, 0, 600, BH));
        PlainBlt(p, QRect(611, y, std::max(0, W - 722), BH), band, QRect(300, 0, 1, BH));
        TransparentBlt(p, QRect(W - 111, y, 100, BH), band, QRect(BW - 100, 0, 100, BH));
    }
    p.setPen(FromColorRef(0xBBBBBB));
    p.setBrush(Qt::NoBrush);
    p.drawRect(searchEdit_->geometry().adjusted(-1, -1, 0, 0));
    const QRect l = list_->geometry();
    p.drawLine(l.left() - 1, l.top() - 1, l.left() - 1, H - 43);
    p.drawLine(l.right() + 1, l.top() - 1, l.right() + 1, H - 43);
    p.drawLine(l.left() - 1, l.top() - 1, l.right() + 1, l.top() - 1);
    p.drawLine(l.left() - 1, H - 43, l.right() + 1, H - 43);
    if (periodText_->isVisible()) {
        const QRect t = periodText_->geometry();
        p.drawLine(t.left(), t.top() - 1, t.right(), t.top() - 1);
        p.drawLine(t.left(), t.bottom() + 1, t.right(), t.bottom() + 1);
    }
}

// ---- Frame ----

CSkinDialog::Hit CEventLogDlg::HitTest(const QPoint& local) const
{
    if (maximized_)
        return Hit::Client;
    const Hit h = CSkinDialog::HitTest(local);
    // Anywhere that holds no control drags the window.
    return h == Hit::Client ? Hit::Caption : h;
}

void CEventLogDlg::mousePressEvent(QMouseEvent* e)
{
    if (popup_->isVisible() && !popup_->geometry().contains(e->globalPosition().toPoint()))
        popup_->hide();
    if (e->button() == Qt::LeftButton && HitTest(e->position().toPoint()) == Hit::Caption) {
        pendingMove_ = true;
        pressGlobal_ = e->globalPosition().toPoint();
        pressTopLeft_ = pos();
        e->accept();
        return;
    }
    CSkinDialog::mousePressEvent(e);
}

void CEventLogDlg::mouseMoveEvent(QMouseEvent* e)
{
    if (pendingMove_ && (e->buttons() & Qt::LeftButton)) {
        // The window follows the mouse itself: a move handed to the window
        // manager would swallow the second click of a double click.
        const QPoint d = e->globalPosition().toPoint() - pressGlobal_;
        if (d.manhattanLength() >= QApplication::startDragDistance() || pos() != pressTopLeft_)
            move(pressTopLeft_ + d);
        e->accept();
        return;
    }
    pendingMove_ = false;
    CSkinDialog::mouseMoveEvent(e);
}

void CEventLogDlg::mouseReleaseEvent(QMouseEvent* e)
{
    pendingMove_ = false;
    CSkinDialog::mouseReleaseEvent(e);
}

void CEventLogDlg::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->position().y() < 28)
        ToggleMaximize();
    CSkinDialog::mouseDoubleClickEvent(e);
}

void CEventLogDlg::ToggleMaximize()
{
    if (maximized_) {
        setGeometry(restoreRect_);
        btnMax_->LoadBitmaps(236, 238, 237);
    } else {
        restoreRect_ = geometry();
        const QRect workArea = GetMonitorWorkArea(this);
        if (!workArea.isEmpty())
            setGeometry(workArea);
        btnMax_->LoadBitmaps(239, 241, 240);
    }
    popup_->hide();
    maximized_ = !maximized_;
    update();
}

void CEventLogDlg::closeEvent(QCloseEvent* e)
{
    // A close from outside (the window manager, Alt+F4) goes to the main
    // window first.
    popup_->hide();
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (owner && owner != this)
        QTimer::singleShot(0, owner, [owner] { owner->close(); });
    CSkinDialog::closeEvent(e);
}

void CEventLogDlg::changeEvent(QEvent* e)
{
    CSkinDialog::changeEvent(e);
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (!owner || owner == this || !ownerRect_.isValid())
        return;
    if (e->type() == QEvent::WindowStateChange) {
        if (isMinimized()) {
            popup_->hide();
            owner->setGeometry(0, 0, 0, 0);
            ownerShrunk_ = true;
            return;
        }
    }
    if ((e->type() == QEvent::WindowStateChange || e->type() == QEvent::ActivationChange) && ownerShrunk_ &&
        !isMinimized()) {
        ownerShrunk_ = false;
        owner->setGeometry(ownerRect_);
        FillEventList();
        // The main window comes back below this window, not over it.
        QTimer::singleShot(0, this, [this] {
            raise();
            activateWindow();
        });
    }
}

bool CEventLogDlg::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == searchEdit_) {
        if (e->type() == QEvent::KeyPress) {
            auto* ke = static_cast<QKeyEvent*>(e);
            if (ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter) {
                if (!ke->isAutoRepeat())
                    OnSearch();
                return true;
            }
        } else if (e->type() == QEvent::FocusIn) {
            popup_->hide();
        }
    } else if (watched == range_) {
        // The field taking the focus opens the popup; the focus coming back
        // with the window (after the popup was used) does not.
        if (e->type() == QEvent::FocusIn &&
            static_cast<QFocusEvent*>(e)->reason() != Qt::ActiveWindowFocusReason) {
            OpenDatePopup();
        } else if (e->type() == QEvent::MouseButtonPress) {
            // The one item needs no list: the popup picks the range.
            range_->setFocus(Qt::MouseFocusReason);
            if (!popup_->isVisible())
                OpenDatePopup();
            return true;
        }
    }
    return CSkinDialog::eventFilter(watched, e);
}

// ---- Record windows ----

int CEventLogDlg::RunRecordWindow(QWidget* window)
{
    int result = IDCANCEL;
    if (s_beforeRun && s_beforeRun(window, result))
        return result;
    return static_cast<CSkinDialog*>(window)->DoModal();
}

void CEventLogDlg::OnSettings()
{
    Act(60);
    popup_->hide();
    CConfigurationDlg config(this);
    config.SetStartPage(5);
    RunRecordWindow(&config);
}

void CEventLogDlg::OnDeleteRecords()
{
    Act(61);
    popup_->hide();
    CRecordDeleteDlg dlg(this);
    EventLogFilter f = filter_;
    f.period = period_->currentIndex();
    dlg.SetRecordFilter(f);
    if (RunRecordWindow(&dlg) == IDOK) {
        ClearDetails();
        FillEventList();
    }
}

void CEventLogDlg::OnSaveRecords()
{
    Act(62);
    popup_->hide();
    CRecordSaveDlg dlg(this);
    EventLogFilter f = filter_;
    f.period = period_->currentIndex();
    dlg.SetRecordFilter(f);
    RunRecordWindow(&dlg);
    if (dlg.Saved()) {
        // The export is an event of its own: the list shows it at once.
        ClearDetails();
        FillEventList();
    }
}
