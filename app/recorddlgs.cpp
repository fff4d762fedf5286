#include "app/recorddlgs.h"

#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>

#include "app/appcore.h"
#include "app/logexport.h"
#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/eventstore/eventstore.h"
#include "core/eventstore/eventtables.h"
#include "core/eventstore/eventtypes.h"
#include "core/uitext.h"
#include "platform/wformat.h"

using namespace ps::ui;

namespace {

ImageButton* Strip(QWidget* parent, int id, int images)
{
    auto* b = new ImageButton(parent);
    b->LoadBitmapStrip(id, images - 1);
    return b;
}

QLabel* Heading(QWidget* parent, const QString& text, bool bold)
{
    auto* l = new QLabel(text, parent);
    l->setFont(bold ? FontBold12() : Font12());
    l->setStyleSheet("background: transparent; color: #1E2A36;");
    l->adjustSize();
    return l;
}

// The kind drop-down stands beside the radio button of the chosen records;
// the period row takes the window's width.
constexpr int kDropWidth = 100;

}  // namespace

// ---- Shared range controls ----

CRecordRangeDlg::CRecordRangeDlg(QWidget* parent, int background) : CSkinDialog(parent), background_(background)
{
    setWindowIcon(QIcon(SkinIcon(128)));
    SetCaptionBand(40);
    SetKeyPolicy({KeyAction::Swallow, KeyAction::Default, KeyAction::Swallow});
    title_ = Heading(this, QString(), true);
    rangeLabel_ = Heading(this, QString(), true);
    all_ = new QRadioButton(this);
    some_ = new QRadioButton(this);
    for (QRadioButton* r : {all_, some_}) {
        r->setFont(Font12());
        r->setStyleSheet(
            "QRadioButton { background: transparent; color: #222222; spacing: 6px; }"
            "QRadioButton::indicator { width: 11px; height: 11px; border: 1px solid #8597AA; border-radius: 6px;"
            " background: white; }"
            "QRadioButton::indicator:checked { background: qradialgradient(cx:0.5, cy:0.5, radius:0.5, fx:0.5,"
            " fy:0.5, stop:0 #2F6DB5, stop:0.5 #2F6DB5, stop:0.6 white, stop:1 white); }"
            "QRadioButton::indicator:disabled { border-color: #C0C8D0; }");
    }
    period_ = new CDropDownButton(this);
    btnPrev_ = Strip(this, 258, 3);
    periodText_ = new QLabel(this);
    btnNext_ = Strip(this, 259, 3);
    range_ = new QComboBox(this);
    kind_ = new CDropDownButton(this);
    btnCancel_ = Strip(this, 194, 3);
    btnClose_ = new ImageButton(this);
    btnClose_->LoadBitmaps(155, 157, 156);
    popup_ = new CDateSelectPopup(this);
    popup_->hide();
    connect(popup_, &CDateSelectPopup::rangeSelected, this, &CRecordRangeDlg::OnDateRangeSelected);

    connect(all_, &QAbstractButton::clicked, this, [this] { ChooseAll(); });
    connect(some_, &QAbstractButton::clicked, this, [this] { ChooseRange(); });
    connect(period_, &QComboBox::activated, this, [this](int i) { OnPeriodChosen(i); });
    connect(kind_, &QComboBox::activated, this, [this](int i) { OnKindChosen(i); });
    connect(btnPrev_, &QAbstractButton::clicked, this, [this] { OnPrevious(); });
    connect(btnNext_, &QAbstractButton::clicked, this, [this] { OnNext(); });
    range_->installEventFilter(this);
}

QWidget* CRecordRangeDlg::Control(int id) const
{
    switch (id) {
    case IDC_ALL: return all_;
    case IDC_RANGE_RECORDS: return some_;
    case IDC_PERIOD: return period_;
    case IDC_PREVIOUS: return btnPrev_;
    case IDC_PERIOD_TEXT: return periodText_;
    case IDC_NEXT: return btnNext_;
    case IDC_RANGE: return range_;
    case IDC_KIND: return kind_;
    case IDC_CANCEL: return btnCancel_;
    case IDC_CLOSE: return btnClose_;
    default: return nullptr;
    }
}

void CRecordRangeDlg::InitRange()
{
    all_->setText(Tx(u"LOG_ALL_RECORD"));
    some_->setText(Tx(u"LOG_RANGE_RECORD"));
    all_->adjustSize();
    some_->adjustSize();
    all_->setChecked(true);
    EnableRange(false);
    periodText_->setFont(Font11());
    periodText_->setAlignment(Qt::AlignCenter);
    periodText_->setStyleSheet("background: #F7F7F7; color: #333333;");
    range_->setFont(Font12());
    period_->LoadBitmapStrip(265);
    kind_->LoadBitmapStrip(266);
    period_->resize(kDropWidth, period_->height());
    kind_->resize(kDropWidth, kind_->height());
    {
        const QSignalBlocker a(period_), b(kind_);
        for (int p = 0; p < 5; ++p)
            period_->addItem(Tx(PeriodTextKey(p)));
        period_->setCurrentIndex(filter_.period >= 0 && filter_.period <= 4 ? filter_.period : kPeriodMonth);
        for (int k = 0; k < 6; ++k)
            kind_->addItem(Tx(KindTextKey(k)));
        kind_->setCurrentIndex(filter_.kind >= 0 && filter_.kind <= 5 ? filter_.kind : kKindAll);
    }
    const std::u16string ref = ShownDate(filter_.reference);
    range_->addItem(ToQ(plat::FormatWide(u"%s ~ %s", ref.c_str(), ref.c_str())));
    range_->setCurrentIndex(0);
    const bool custom = filter_.period == kPeriodCustom;
    range_->setVisible(custom);
    btnPrev_->setVisible(!custom);
    btnNext_->setVisible(!custom);
    periodText_->setVisible(!custom);
    popup_->hide();
    ShowPeriodText();
}

void CRecordRangeDlg::PlaceRange(int y)
{
    const int W = width();
    kind_->move(W - kDropWidth - 12, some_->y() - 2);
    period_->move(12, y);
    const int left = 12 + kDropWidth + 4, right = W - 12;
    btnPrev_->move(left, y);
    range_->setGeometry(left, y, right - left, 21);
    periodText_->setGeometry(left + 16, y + 1, right - left - 32, 18);
    btnNext_->move(right - 16, y);
}

void CRecordRangeDlg::EnableRange(bool on)
{
    for (QWidget* w : {static_cast<QWidget*>(period_), static_cast<QWidget*>(kind_), static_cast<QWidget*>(btnPrev_),
                       static_cast<QWidget*>(btnNext_), static_cast<QWidget*>(periodText_),
                       static_cast<QWidget*>(range_)})
        w->setEnabled(on);
}

void CRecordRangeDlg::ChooseAll()
{
    all_->setChecked(true);
    EnableRange(false);
}

void CRecordRangeDlg::ChooseRange()
{
    some_->setChecked(true);
    EnableRange(true);
}

void CRecordRangeDlg::ShowPeriodText()
{
    ShowPeriodLine(filter_, periodText_);
}

void CRecordRangeDlg::OnPeriodChosen(int period)
{
    ChoosePeriod(filter_, {period_, range_, btnPrev_, btnNext_, periodText_, popup_}, period);
}

void CRecordRangeDlg::OnKindChosen(int kind)
{
    const QSignalBlocker block(kind_);
    kind_->setCurrentIndex(kind);
    filter_.kind = kind;
}

void CRecordRangeDlg::OnPrevious()
{
    if (StepPeriod(filter_, filter_.period, false))
        ShowPeriodText();
}

void CRecordRangeDlg::OnNext()
{
    if (StepPeriod(filter_, filter_.period, true))
        ShowPeriodText();
}

void CRecordRangeDlg::OpenDatePopup()
{
    const DateRecord today = TodayDate();
    popup_->SetDateRange(today, today);
    const QPoint bottomLeft = range_->mapToGlobal(QPoint(0, range_->height()));
    popup_->setGeometry(bottomLeft.x(), bottomLeft.y(), 420, 160);
    popup_->show();
    popup_->raise();
}

void CRecordRangeDlg::OnDateRangeSelected(const DateRecord& start, const DateRecord& end)
{
    ApplyDateRange(filter_, range_, start, end);
}

std::vector<int64_t> CRecordRangeDlg::SelectRecords(std::u16string& kindText) const
{
    std::vector<int64_t> ids;
    if (all_->isChecked()) {
        kindText = GetText(u"EVENT_LOG_SEARCH_TYPE_ALL");
        GetAllEventIds(ids);
        return ids;
    }
    kindText = KindText(filter_.kind);
    return SelectEventIds(filter_.period, KindMask(filter_.kind), filter_);
}

bool CRecordRangeDlg::ReportStoreFailure(const CppSQLite3Exception& e)
{
    ShowMessageBox(plat::FormatWide(kCannotReadLogStore, e.ErrorMessage().c_str()), u"", 1, this);
    return false;
}

void CRecordRangeDlg::mousePressEvent(QMouseEvent* e)
{
    if (popup_->isVisible() && !popup_->geometry().contains(e->globalPosition().toPoint()))
        popup_->hide();
    CSkinDialog::mousePressEvent(e);
}

bool CRecordRangeDlg::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == range_) {
        // The field taking the focus opens the popup; the focus coming back
        // with the window (after the popup was used) does not.
        if (e->type() == QEvent::FocusIn &&
            static_cast<QFocusEvent*>(e)->reason() != Qt::ActiveWindowFocusReason) {
            OpenDatePopup();
        } else if (e->type() == QEvent::MouseButtonPress) {
            if (range_->isEnabled()) {
                range_->setFocus(Qt::MouseFocusReason);
                if (!popup_->isVisible())
                    OpenDatePopup();
            }
            return true;
        }
    }
    return CSkinDialog::eventFilter(watched, e);
}

void CRecordRangeDlg::PaintBackground(QPainter& p)
{
    p.fillRect(rect(), Qt::white);
    const QPixmap bg = SkinBitmap(background_);
    TransparentBlt(p, QRect(0, 0, bg.width(), bg.height()), bg, bg.rect());
    p.setPen(FromColorRef(0xBBBBBB));
    if (periodText_->isVisible()) {
        const QRect t = periodText_->geometry();
        p.drawLine(t.left(), t.top() - 1, t.right(), t.top() - 1);
        p.drawLine(t.left(), t.bottom() + 1, t.right(), t.bottom() + 1);
    }
}

// ---- Record delete window ----

CRecordDeleteDlg::CRecordDeleteDlg(QWidget* parent) : CRecordRangeDlg(parent, 288)
{
    btnDelete_ = Strip(this, 281, 2);
    connect(btnDelete_, &QAbstractButton::clicked, this, [this] { OnDelete(); });
    connect(btnCancel_, &QAbstractButton::clicked, this, [this] { OnCancel(); });
    connect(btnClose_, &QAbstractButton::clicked, this, [this] { OnCancel(); });
}

bool CRecordDeleteDlg::OnInitDialog()
{
    setWindowTitle(Tx(u"LOG_DELETE_TITLE"));
    title_->setText(Tx(u"LOG_DELETE_TITLE"));
    rangeLabel_->setText(Tx(u"LOG_DELETE_RANGE"));
    title_->adjustSize();
    rangeLabel_->adjustSize();
    InitRange();
    const QPixmap bg = SkinBitmap(288);
    resize(bg.width(), bg.height());
    SetRoundRegion(width() + 1, height() + 1, 2, 2);
    const int W = width(), H = height();
    title_->move(10, 10);
    btnClose_->move(W - 25, 6);
    rangeLabel_->move(15, 50);
    all_->move(15, 70);
    some_->move(15, 90);
    PlaceRange(120);
    const int bw = btnDelete_->width(), bh = btnDelete_->height();
    btnDelete_->move((W - 2 * bw - 10) / 2, H - bh - 10);
    btnCancel_->move((W - 2 * bw - 10) / 2 + bw + 10, H - bh - 10);
    if (QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr)
        move(owner->geometry().center() - QPoint(W / 2, H / 2));
    return true;
}

void CRecordDeleteDlg::OnDelete()
{
    std::u16string kindText;
    std::vector<int64_t> ids;
    try {
        ids = SelectRecords(kindText);
    } catch (const CppSQLite3Exception& e) {
        ReportStoreFailure(e);
        return;
    }
    bool ok = true;
    if (AllChosen())
        ok = DeleteAllEvents();
    else if (!ids.empty())
        ok = DeleteEventsOfList(ids);
    if (!ok) {
        ShowMessageBox(kCannotDeleteLog, u"", 1, this);
        return;
    }
    ShowMessageBox(Fmt(u"LOG_DELETE_NOTIFY_EXPLAIN", kindText.c_str(), static_cast<int>(ids.size())),
                   GetText(u"LOG_DELETE_NOTIFY_TITLE"), 1, this);
    OnOK();
}

void CRecordDeleteDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    PaintBackground(p);
}

// ---- Record export window ----

CRecordSaveDlg::CRecordSaveDlg(QWidget* parent) : CRecordRangeDlg(parent, 284)
{
    pathLabel_ = Heading(this, QString::fromUtf16(u"저장위치"), true);
    path_ = new CEditVC(this);
    path_->setReadOnly(true);
    path_->setFont(Font12());
    btnBrowse_ = Strip(this, 283, 2);
    btnSave_ = Strip(this, 282, 2);
    connect(btnBrowse_, &QAbstractButton::clicked, this, [this] { OnBrowse(); });
    connect(btnSave_, &QAbstractButton::clicked, this, [this] { OnSave(); });
    // Cancel and close end the window the same way as a save.
    connect(btnCancel_, &QAbstractButton::clicked, this, [this] { OnOK(); });
    connect(btnClose_, &QAbstractButton::clicked, this, [this] { OnOK(); });
}

bool CRecordSaveDlg::OnInitDialog()
{
    setWindowTitle(Tx(u"LOG_SAVE_TITLE"));
    const std::u16string documents = GetDocumentsFolder();
    if (!documents.empty()) {
        saveFolder_ = documents + u"/Privasweep";
        CreateDirectoryTree(saveFolder_);
    }
    title_->setText(Tx(u"LOG_SAVE_TITLE"));
    rangeLabel_->setText(Tx(u"LOG_SAVE_RANGE"));
    title_->adjustSize();
    rangeLabel_->adjustSize();
    InitRange();
    const QDateTime now = Now();
    const std::u16string name = plat::FormatWide(u"PrivasweepLog_%4d%02d%02d_%02d%02d.csv", now.date().year(),
                                                 now.date().month(), now.date().day(), now.time().hour(),
                                                 now.time().minute());
    if (!saveFolder_.empty()) {
        path_->setText(ToQ(saveFolder_ + u"/" + name));
        SetTimer(IDT_FOCUS, 1);
    }
    const QPixmap bg = SkinBitmap(284);
    resize(bg.width(), bg.height());
    SetRoundRegion(width() + 1, height() + 1, 2, 2);
    const int W = width(), H = height();
    title_->move(10, 10);
    btnClose_->move(W - 25, 6);
    pathLabel_->move(15, 50);
    path_->setGeometry(15, 70, W - 65, 21);
    btnBrowse_->move(W - 45, 70);
    rangeLabel_->move(15, 105);
    all_->move(15, 125);
    some_->move(15, 145);
    PlaceRange(175);
    const int bw = btnSave_->width(), bh = btnSave_->height();
    btnSave_->move((W - 2 * bw - 10) / 2, H - bh - 10);
    btnCancel_->move((W - 2 * bw - 10) / 2 + bw + 10, H - bh - 10);
    if (QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr)
        move(owner->geometry().center() - QPoint(W / 2, H / 2));
    return true;
}

void CRecordSaveDlg::OnTimer(int id)
{
    if (id == IDT_FOCUS) {
        KillTimer(id);
        btnBrowse_->setFocus();
    }
}

void CRecordSaveDlg::OnBrowse()
{
    const QDateTime now = Now();
    const std::u16string initial = plat::FormatWide(u"PrivasweepLog_%4d%02d%02d_%02d%02d", now.date().year(),
                                                    now.date().month(), now.date().day(), now.time().hour(),
                                                    now.time().minute());
    const QString start = saveFolder_.empty() ? ToQ(initial) : ToQ(saveFolder_ + u"/" + initial);
    QString chosen = AskFileName(this, QString::fromUtf16(u"로그 파일 저장"), start,
                                 QStringLiteral("CSV Files (*.csv);;TXT Files (*.txt);;All Files (*)"), true);
    if (chosen.isEmpty())
        return;
    // A name without an extension gets the first filter's.
    const int slash = chosen.lastIndexOf('/');
    if (chosen.indexOf('.', slash + 1) < 0)
        chosen += QStringLiteral(".csv");
    path_->setText(chosen);
}

void CRecordSaveDlg::OnSave()
{
    const std::u16string path = FromQ(path_->text());
    if (path.empty()) {
        ShowMessageBox(GetText(u"LOG_NO_SELECTED_SAVE_PATH"), u"", 1, this);
        return;
    }
    std::u16string kindText;
    std::vector<int64_t> ids;
    bool written = false;
    try {
        ids = SelectRecords(kindText);
        written = WriteEventLogExport(path, ids, true);
    } catch (const CppSQLite3Exception& e) {
        ReportStoreFailure(e);
        return;
    }
    if (!written) {
        ShowMessageBox(plat::FormatWide(kCannotCreateLogFile, path.c_str()), u"", 1, this);
        return;
    }
    {
        // The file is written; an event the store did not keep is told.
        EventStoreFailureWatch watch;
        AddEvent(EVENT_LOG_SAVED);
        if (const auto failure = watch.FirstFailure()) ShowMessageBox(EventStoreFailureText(*failure), u"", 1, this);
    }
    saved_ = true;
    ShowMessageBox(Fmt(u"LOG_SAVE_NOTIFY_EXPLAIN", kindText.c_str(), static_cast<int>(ids.size())),
                   GetText(u"LOG_SAVE_NOTIFY_TITLE"), 1, this);
    OnOK();
}

void CRecordSaveDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    PaintBackground(p);
    p.setPen(FromColorRef(0xBBBBBB));
    p.drawRect(path_->geometry().adjusted(-1, -1, 0, 0));
}
