// The detail views of the event-log window (a search's seven counts, an
// event's date, text, kind and user, the documents of an action) and the
// date-range popup of the log windows.
#pragma once

#include <QCalendarWidget>
#include <QLabel>
#include <QStandardItemModel>
#include <QTreeView>
#include <array>
#include <map>
#include <string>

#include "core/controls/buttons.h"
#include "core/controls/wnd.h"
#include "core/records.h"
#include "core/util.h"

struct EventLogFilter;

// The seven counts of a finished or cancelled search and its user.
class CSearchDetailPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kIds[8] = {1129, 1130, 1131, 1132, 1133, 1134, 1135, 1136};
    explicit CSearchDetailPanel(QWidget* parent = nullptr);

    PersonalInfoCounts counts;
    std::u16string user;
    void UpdateCounts();
    void ClearCounts();
    QLabel* Label(int id) const;

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    std::array<QLabel*, 8> labels_{};
};

// Date and time, event text, kind and user of one event.
class CEventDetailPanel : public QWidget {
    Q_OBJECT
public:
    explicit CEventDetailPanel(QWidget* parent = nullptr);

    int year = 0, month = 0, day = 0, type = 0;
    std::u16string time, user, subject, kind;
    void UpdateDetails();
    void ClearDetails();
    QLabel* Label(int id) const;  // 1182-1189

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    std::map<int, QLabel*> labels_;
};

// One document of an action event: its name (marked for exceptions made
// from the error report) with its icon, and its folder.
class CEventDetailInfoRecord {
public:
    CEventDetailInfoRecord(const SearchFileInfo& record, int iconIndex, int32_t type);
    std::u16string GetFolderPath() const { return folder_; }
    const std::u16string& Name() const { return name_; }
    const SearchFileInfo& Record() const { return record_; }
    int IconIndex() const { return icon_; }

private:
    SearchFileInfo record_;
    std::u16string folder_;
    std::u16string name_;
    int icon_ = 0;
};

// The documents of an action: name and folder; a double click on the folder
// opens it.
class CEventDetailReportControl : public QTreeView {
    Q_OBJECT
public:
    explicit CEventDetailReportControl(QWidget* parent = nullptr);
    void ResetContent();
    void AddRecord(const CEventDetailInfoRecord& r);
    // Makes the added rows visible (after a batch of AddRecord).
    void Populate();
    int RowCount() const { return static_cast<int>(records_.size()); }
    const CEventDetailInfoRecord& RecordAt(int row) const { return records_[static_cast<size_t>(row)]; }
    // What a double click on a cell does.
    void OnDoubleClick(int row, int column);

private:
    QStandardItemModel* model_;
    std::vector<CEventDetailInfoRecord> records_;
};

class QComboBox;
struct EventLogFilter;

// Takes the custom period the date popup applied into a window's filter and
// shows it ("start ~ end") as the only entry of its range field.
void ApplyDateRange(EventLogFilter& filter, QComboBox* range, const DateRecord& start, const DateRecord& end);

// Picks a range of days for the custom period; applying tells the owner
// window (the parent) through rangeSelected and hides the popup.
class CDateSelectPopup : public QWidget {
    Q_OBJECT
public:
    explicit CDateSelectPopup(QWidget* owner);

    void SetDateRange(const DateRecord& start, const DateRecord& end);
    const DateRecord& StartDate() const { return start_; }
    const DateRecord& EndDate() const { return end_; }
    bool StartActive() const { return startActive_; }
    // The user's actions, as the controls run them.
    void ClickStartField();
    void ClickEndField();
    void PickDay(const QDate& day);
    void Apply();
    void Cancel() { hide(); }

    QCalendarWidget* Calendar() const { return calendar_; }
    QLabel* StartField() const { return startText_; }
    QLabel* EndField() const { return endText_; }
    ps::ui::ImageButton* ApplyButton() const { return apply_; }
    ps::ui::ImageButton* CancelButton() const { return cancel_; }

signals:
    // The range applied: its first and last day.
    void rangeSelected(const DateRecord& start, const DateRecord& end);

protected:
    void showEvent(QShowEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    void ShowTexts();
    DateRecord start_, end_;
    bool startActive_ = true;
    QCalendarWidget* calendar_;
    QLabel* startLabel_;
    QLabel* endLabel_;
    QLabel* startText_;
    QLabel* endText_;
    ps::ui::ImageButton* apply_;
    ps::ui::ImageButton* cancel_;
};

// "%04d/%02d/%02d" of a date.
std::u16string PopupDateText(const DateRecord& d);
// Today's date at midnight, from the window layer's clock.
DateRecord TodayDate();

// The period filter of the log windows (the event log and the record
// windows): a period drop-down, the period's line between its arrows, and
// the custom range's box with its date popup.
struct PeriodControls {
    ps::ui::CDropDownButton* period;
    QComboBox* range;
    ps::ui::ImageButton* previous;
    ps::ui::ImageButton* next;
    QLabel* line;
    CDateSelectPopup* popup;
};
// The period's line; a custom range keeps its line hidden and its text as
// it was.
void ShowPeriodLine(EventLogFilter& filter, QLabel* line);
// A period chosen (0 to 4; false and nothing done for any other): the
// custom range shows its box in place of the arrows and the line (the
// others close the date popup), the reference goes back to today, the
// choice is counted (actions 18 to 22) and the line shown.
bool ChoosePeriod(EventLogFilter& filter, const PeriodControls& controls, int period);
// Moves the reference a period back or forward; false (nothing moved) for
// a period other than a day, week, month or year.
bool StepPeriod(EventLogFilter& filter, int period, bool forward);
