// The event-log window: the events of a day, week, month, year or chosen
// range by kind, newest first, narrowed by a text search, with the details
// of the selected event below a splitter; from here the records are deleted
// and exported.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QRect>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/eventpanels.h"
#include "app/eventrows.h"
#include "core/controls/buttons.h"
#include "core/controls/edits.h"
#include "core/controls/wnd.h"

class CEventLogDlg : public ps::ui::CSkinDialog {
    Q_OBJECT
public:
    enum {
        IDD = 228,
        IDC_TITLE = 1180, IDC_MENU = 1156, IDC_MINIMIZE = 1157, IDC_MAXIMIZE = 1158, IDC_CLOSE = 1108,
        IDC_PERIOD = 1159, IDC_PREVIOUS = 1162, IDC_PERIOD_TEXT = 1164, IDC_NEXT = 1163, IDC_RANGE = 1165,
        IDC_KIND = 1177, IDC_SEARCH_TEXT = 1178, IDC_SEARCH = 1179, IDC_SPLITTER = 1181, IDC_DETAIL_TOGGLE = 1107,
        IDC_SETTINGS = 1075, IDC_DELETE = 1105, IDC_SAVE = 1106, IDC_EVENT_LIST = 999, IDC_DETAIL_LIST = 1000,
    };
    static constexpr int IDT_REFILL_EVENTS = 700;
    static constexpr int IDT_RESTORE_SYSMENU = 1507;
    static constexpr int kMinWidth = 730, kMinHeight = 481;

    explicit CEventLogDlg(QWidget* parent = nullptr);
    ~CEventLogDlg() override;

    void SetOwnerRect(const QRect& r) { ownerRect_ = r; }

    // The user's commands, as the controls run them.
    void OnPeriodChosen(int period);  // period drop-down
    void OnKindChosen(int kind);      // kind drop-down
    void OnPrevious();                // "<"
    void OnNext();                    // ">"
    void OnSearch();                  // search button, or Enter in the search text
    void ToggleDetailArea();          // 1107
    void OnSettings();                // 1075
    void OnDeleteRecords();           // 1105
    void OnSaveRecords();             // 1106
    void OpenDatePopup();             // the range field takes the focus
    void ToggleMaximize();            // 1158, double click in the title row
    // Fills the list from the filter at once (what the refill timer runs).
    void FillEventList();
    void ShowEventDetails(int index);

    qintptr OnUserMessage(int number, quintptr wParam, qintptr lParam) override;
    // The custom period the date popup applied; the list is filled again.
    void OnDateRangeSelected(const DateRecord& start, const DateRecord& end);
    // The splitter dragged to `r` (this window's coordinates).
    void OnSplitterMoved(const QRect& r);

    // For tests and pictures.
    const EventLogFilter& Filter() const { return filter_; }
    CEventReportControl* List() const { return list_; }
    CEventDetailReportControl* DetailList() const { return detailList_; }
    CSearchDetailPanel* SearchPanel() const { return searchPanel_; }
    CEventDetailPanel* EventPanel() const { return eventPanel_; }
    CDateSelectPopup* Popup() const { return popup_; }
    QWidget* Control(int id) const;
    QString PeriodText() const { return periodText_->text(); }
    QString RangeText() const { return range_->currentText(); }
    QString Notice() const { return notice_->isVisibleTo(this) ? notice_->text() : QString(); }
    bool SearchActive() const { return searchActive_; }
    bool DetailOpen() const { return detailOpen_; }
    bool IsMaximized() const { return maximized_; }
    QRect SplitterRect() const { return splitter_; }
    void SetSearchText(const QString& t) { searchEdit_->setText(t); }

    // Test seam: called with each record delete or export window before its
    // modal run; when it returns true the run is skipped and its result is
    // what the seam left in `result`.
    static std::function<bool(QWidget* window, int& result)> s_beforeRun;

protected:
    bool OnInitDialog() override;
    void OnTimer(int id) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    Hit HitTest(const QPoint& local) const override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void SetupControls();
    void RecalcLayout();
    void PlaceSplitterViews();
    void ShowPeriodText();
    void SetDetailArea(bool open, int top);
    void ClearDetails();
    void HideDetailViews();
    void ShowStoreFailure(const std::u16string& error);
    void PlacePopup();
    int RunRecordWindow(QWidget* window);
    int BandHeight() const;

    EventLogFilter filter_;
    bool searchActive_ = false;
    bool detailOpen_ = true;
    bool maximized_ = false;
    bool ownerShrunk_ = false;
    QRect splitter_;
    QRect savedSplitter_;
    QRect restoreRect_;
    QRect ownerRect_;

    QLabel* title_;
    ps::ui::ImageButton* btnMenu_;
    ps::ui::ImageButton* btnMin_;
    ps::ui::ImageButton* btnMax_;
    ps::ui::ImageButton* btnClose_;
    ps::ui::CDropDownButton* period_;
    ps::ui::ImageButton* btnPrev_;
    QLabel* periodText_;
    ps::ui::ImageButton* btnNext_;
    QComboBox* range_;
    ps::ui::CDropDownButton* kind_;
    ps::ui::CEditVC* searchEdit_;
    ps::ui::ImageButton* btnSearch_;
    ps::ui::CSplitBar* splitBar_;
    ps::ui::ImageButton* btnToggle_;
    ps::ui::ImageButton* btnSettings_;
    ps::ui::ImageButton* btnDelete_;
    ps::ui::ImageButton* btnSave_;
    QLabel* notice_;
    CEventReportControl* list_;
    CEventDetailReportControl* detailList_;
    CSearchDetailPanel* searchPanel_;
    CEventDetailPanel* eventPanel_;
    CDateSelectPopup* popup_;
    // A press on the client area moves the window once the mouse moves, so
    // that a double click in the title row still arrives.
    bool pendingMove_ = false;
    QPoint pressGlobal_;
    QPoint pressTopLeft_;
};
