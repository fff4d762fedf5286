#include "app/eventpanels.h"

#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QTextCharFormat>

#include "app/appcore.h"
#include "app/eventrows.h"
#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/uitext.h"
#include "platform/system.h"
#include "platform/wformat.h"

using namespace ps::ui;

namespace {

QLabel* MakeStatic(QWidget* parent)
{
    auto* l = new QLabel(parent);
    l->setFont(Font12());
    l->setStyleSheet("background: transparent; color: #222222;");
    l->setTextFormat(Qt::PlainText);
    return l;
}

// Enter and Escape typed in a panel close neither the panel nor its owner.
bool SwallowedKey(QKeyEvent* e)
{
    const int k = e->key();
    return k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Escape;
}

const char16_t* const kCountKeys[7] = {u"PANEL_ITEM_ID",        u"PANEL_ITEM_ACCOUNT", u"PANEL_ITEM_CREDIT_CARD",
                                       u"PANEL_ITEM_PHONE_NUM", u"PANEL_ITEM_ADDRESS", u"PANEL_ITEM_EMAIL",
                                       u"PANEL_ITEM_IP_ADDRESS"};

}  // namespace

DateRecord TodayDate()
{
    const QDate d = Now().date();
    plat::SystemTime t;
    t.year = static_cast<uint16_t>(d.year());
    t.month = static_cast<uint16_t>(d.month());
    t.day = static_cast<uint16_t>(d.day());
    DateRecord r;
    if (!MakeDateRecord(t, r))
        r = DayOf(DateToday());
    return r;
}

void ShowPeriodLine(EventLogFilter& filter, QLabel* line)
{
    if (filter.period >= kPeriodDay && filter.period <= kPeriodYear)
        line->setText(ToQ(PeriodCaption(filter)));
}

bool ChoosePeriod(EventLogFilter& filter, const PeriodControls& c, int period)
{
    if (period < 0 || period > 4)
        return false;
    {
        const QSignalBlocker block(c.period);
        c.period->setCurrentIndex(period);
    }
    filter.period = period;
    const bool custom = period == kPeriodCustom;
    c.range->setVisible(custom);
    c.previous->setVisible(!custom);
    c.next->setVisible(!custom);
    c.line->setVisible(!custom);
    if (!custom)
        c.popup->hide();
    filter.reference = TodayDate();
    Act(18 + period);
    ShowPeriodLine(filter, c.line);
    return true;
}

bool StepPeriod(EventLogFilter& filter, int period, bool forward)
{
    DateRecord& r = filter.reference;
    switch (period) {
    case kPeriodDay:
        r = forward ? DateNextDay(r) : DateFromFileTime(r.fileTime - plat::kFileTimeTicksPerDay);
        return true;
    case kPeriodWeek: r = forward ? DateNextWeek(r) : DatePreviousWeek(r); return true;
    case kPeriodMonth: r = forward ? DateNextMonth(r) : DatePreviousMonth(r); return true;
    case kPeriodYear: r = forward ? DateNextYear(r) : DatePreviousYear(r); return true;
    default: return false;
    }
}

std::u16string PopupDateText(const DateRecord& d)
{
    return ShownDate(d);
}

// ---- CSearchDetailPanel ----

CSearchDetailPanel::CSearchDetailPanel(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    // Two columns of four lines.
    for (int i = 0; i < 8; ++i) {
        labels_[i] = MakeStatic(this);
        labels_[i]->setGeometry(i < 4 ? 15 : 330, 5 + 20 * (i % 4), 300, 18);
    }
    UpdateCounts();
}

QLabel* CSearchDetailPanel::Label(int id) const
{
    for (int i = 0; i < 8; ++i)
        if (kIds[i] == id)
            return labels_[i];
    return nullptr;
}

void CSearchDetailPanel::UpdateCounts()
{
    for (int i = 0; i < 7; ++i)
        labels_[i]->setText(QFmt(kCountKeys[i], FormatThousands(counts[i]).c_str()));
    labels_[7]->setText(QFmt(u"PANEL_ITEM_USER", user.c_str()));
}

void CSearchDetailPanel::ClearCounts()
{
    counts.Clear();
    user.clear();
    UpdateCounts();
}

void CSearchDetailPanel::keyPressEvent(QKeyEvent* e)
{
    if (SwallowedKey(e))
        return;
    QWidget::keyPressEvent(e);
}

// ---- CEventDetailPanel ----

CEventDetailPanel::CEventDetailPanel(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    for (int i = 0; i < 4; ++i) {
        QLabel* caption = MakeStatic(this);
        caption->setGeometry(15, 5 + 20 * i, 110, 18);
        labels_[1182 + i] = caption;
        QLabel* value = MakeStatic(this);
        value->setGeometry(130, 5 + 20 * i, 560, 18);
        labels_[1186 + i] = value;
    }
    UpdateDetails();
}

QLabel* CEventDetailPanel::Label(int id) const
{
    auto it = labels_.find(id);
    return it == labels_.end() ? nullptr : it->second;
}

void CEventDetailPanel::UpdateDetails()
{
    labels_[1182]->setText(Tx(u"PANEL_ITEM_DATE"));
    labels_[1183]->setText(Tx(u"PANEL_ITEM_SUBJECT"));
    labels_[1184]->setText(Tx(u"PANEL_ITEM_TYPE"));
    labels_[1185]->setText(Tx(u"PANEL_ITEM_USER_TITLE"));
    if (year != 0 && month != 0) {
        EventInfoRow row;
        row.Year = year;
        row.Month = month;
        row.Day = day;
        row.Time = time;
        labels_[1186]->setText(ToQ(DateTimeText(row)));
    } else {
        labels_[1186]->clear();
    }
    labels_[1187]->setText(ToQ(subject));
    labels_[1188]->setText(ToQ(kind));
    labels_[1189]->setText(ToQ(user));
}

void CEventDetailPanel::ClearDetails()
{
    year = month = day = type = 0;
    time.clear();
    user.clear();
    subject.clear();
    kind.clear();
    UpdateDetails();
}

void CEventDetailPanel::keyPressEvent(QKeyEvent* e)
{
    if (SwallowedKey(e))
        return;
    QWidget::keyPressEvent(e);
}

// ---- Detail list ----

CEventDetailInfoRecord::CEventDetailInfoRecord(const SearchFileInfo& record, int iconIndex, int32_t type)
    : record_(record), folder_(record.Folder()), name_(record.FileName()), icon_(iconIndex)
{
    if (type == 0x80000 || type == 0x90000)
        name_ = plat::FormatWide(u"%s (%s)", name_.c_str(), GetText(u"EVENT_LOG_EVENT_DATA_ADD_ERROR_FILE_FLAG").c_str());
}

CEventDetailReportControl::CEventDetailReportControl(QWidget* parent) : QTreeView(parent)
{
    model_ = new QStandardItemModel(0, 2, this);
    model_->setHorizontalHeaderLabels({Tx(u"EXCEPT_COLUMN_NAME"), Tx(u"EXCEPT_COLUMN_PATH")});
    setModel(model_);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFont(Font12());
    header()->setFont(Font12());
    header()->setSectionsMovable(false);
    header()->resizeSection(0, 300);
    header()->resizeSection(1, 400);
    header()->setStretchLastSection(true);
    setFrameShape(QFrame::NoFrame);
    setIconSize(QSize(16, 16));
    setStyleSheet("QTreeView { background: white; }"
                  "QHeaderView::section { background: #EEF2F6; border: 0; border-right: 1px solid #D5DCE3;"
                  " border-bottom: 1px solid #C9D2DB; height: 24px; color: #2B3A48; }");
    connect(this, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& i) { OnDoubleClick(i.row(), i.column()); });
}

void CEventDetailReportControl::ResetContent()
{
    records_.clear();
    model_->removeRows(0, model_->rowCount());
}

void CEventDetailReportControl::AddRecord(const CEventDetailInfoRecord& r)
{
    records_.push_back(r);
}

void CEventDetailReportControl::Populate()
{
    const int have = model_->rowCount();
    QList<QList<QStandardItem*>> rows;
    for (size_t i = static_cast<size_t>(have); i < records_.size(); ++i) {
        const CEventDetailInfoRecord& r = records_[i];
        auto* name = new QStandardItem(AppIcons().At(r.IconIndex()), ToQ(r.Name()));
        auto* folder = new QStandardItem(ToQ(r.GetFolderPath()));
        name->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        folder->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        model_->appendRow({name, folder});
    }
}

void CEventDetailReportControl::OnDoubleClick(int row, int column)
{
    if (row < 0 || row >= RowCount() || column != 1)
        return;
    const std::u16string folder = records_[static_cast<size_t>(row)].GetFolderPath();
    if (!folder.empty())
        OpenWithAssociation(folder);
}

// ---- CDateSelectPopup ----

CDateSelectPopup::CDateSelectPopup(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint)
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    resize(420, 160);
    calendar_ = new QCalendarWidget(this);
    calendar_->setGeometry(5, 5, 255, 150);
    calendar_->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    calendar_->setFont(Font11());
    calendar_->setLocale(QLocale(QLocale::Korean, QLocale::SouthKorea));
    // As Korean calendars do: Saturday blue, Sunday red.
    QTextCharFormat saturday = calendar_->weekdayTextFormat(Qt::Saturday);
    saturday.setForeground(QColor(0x1E, 0x5A, 0xC8));
    calendar_->setWeekdayTextFormat(Qt::Saturday, saturday);
    QTextCharFormat sunday = calendar_->weekdayTextFormat(Qt::Sunday);
    sunday.setForeground(QColor(0xD0, 0x20, 0x20));
    calendar_->setWeekdayTextFormat(Qt::Sunday, sunday);
    startLabel_ = new QLabel(QString::fromUtf16(u"시작"), this);
    endLabel_ = new QLabel(QString::fromUtf16(u"끝"), this);
    startText_ = new QLabel(this);
    endText_ = new QLabel(this);
    for (QLabel* l : {startLabel_, endLabel_, startText_, endText_}) {
        l->setFont(Font12());
        l->setStyleSheet("background: transparent;");
    }
    startLabel_->setGeometry(277, 10, 100, 16);
    endLabel_->setGeometry(277, 57, 100, 16);
    startText_->setGeometry(283, 29, 125, 22);
    endText_->setGeometry(283, 76, 125, 22);
    for (QLabel* l : {startText_, endText_}) {
        l->setAlignment(Qt::AlignCenter);
        l->setCursor(Qt::PointingHandCursor);
        l->installEventFilter(this);
    }
    apply_ = new ImageButton(this);
    apply_->LoadBitmapStrip(193, 2);
    cancel_ = new ImageButton(this);
    cancel_->LoadBitmapStrip(194, 2);
    const int W = width(), H = height();
    apply_->move(W - 160, H - 31);
    cancel_->move(W - 80, H - 31);
    connect(apply_, &QAbstractButton::clicked, this, [this] { Apply(); });
    connect(cancel_, &QAbstractButton::clicked, this, [this] { Cancel(); });
    connect(calendar_, &QCalendarWidget::clicked, this, [this](QDate d) { PickDay(d); });
    const DateRecord today = TodayDate();
    start_ = end_ = today;
}

void CDateSelectPopup::SetDateRange(const DateRecord& start, const DateRecord& end)
{
    start_ = DayOf(start);
    end_ = DayOf(end);
    if (isVisible())
        ShowTexts();
}

void CDateSelectPopup::ShowTexts()
{
    startText_->setText(ToQ(PopupDateText(start_)));
    endText_->setText(ToQ(PopupDateText(end_)));
    calendar_->setSelectedDate(QDate(start_.time.year, start_.time.month, start_.time.day));
}

void CDateSelectPopup::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    ShowTexts();
}

bool CDateSelectPopup::eventFilter(QObject* o, QEvent* e)
{
    if (e->type() == QEvent::MouseButtonPress) {
        if (o == startText_)
            ClickStartField();
        else if (o == endText_)
            ClickEndField();
    }
    return QWidget::eventFilter(o, e);
}

void CDateSelectPopup::ClickStartField()
{
    startActive_ = true;
    update();
}

void CDateSelectPopup::ClickEndField()
{
    startActive_ = false;
    update();
}

void CDateSelectPopup::PickDay(const QDate& day)
{
    plat::SystemTime t;
    t.year = static_cast<uint16_t>(day.year());
    t.month = static_cast<uint16_t>(day.month());
    t.day = static_cast<uint16_t>(day.day());
    DateRecord picked;
    if (!MakeDateRecord(t, picked))
        return;
    if (startActive_) {
        if (picked.fileTime <= end_.fileTime) {
            start_ = picked;
            startText_->setText(ToQ(PopupDateText(start_)));
        } else {
            ShowMessageBox(GetText(u"EVENT_LOG_MSG_START_DATE_BIGGER"), u"", 1, this);
        }
    } else {
        if (picked.fileTime >= start_.fileTime) {
            end_ = picked;
            endText_->setText(ToQ(PopupDateText(end_)));
        } else {
            ShowMessageBox(GetText(u"EVENT_LOG_MSG_LAST_DATE_BIGGER"), u"", 1, this);
        }
    }
}

void ApplyDateRange(EventLogFilter& filter, QComboBox* range, const DateRecord& start, const DateRecord& end)
{
    filter.rangeStart = start;
    filter.rangeEnd = end;
    range->clear();
    range->addItem(ToQ(plat::FormatWide(u"%s ~ %s", ShownDate(start).c_str(), ShownDate(end).c_str())));
    range->setCurrentIndex(0);
}

void CDateSelectPopup::Apply()
{
    emit rangeSelected(start_, end_);
    hide();
}

void CDateSelectPopup::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setPen(FromColorRef(0xC5C7C7));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    auto frame = [&](QLabel* field, bool active) {
        const QRect r = field->geometry().adjusted(-1, -1, 0, 0);
        p.setPen(QPen(active ? FromColorRef(0x00C0FF) : FromColorRef(0xD9D9D9), active ? 2 : 1));
        p.drawRect(r);
    };
    frame(startText_, startActive_);
    frame(endText_, !startActive_);
}
