// The record delete and record export windows of the event log. Both choose
// their records the same way: every record, or the records of one kind of
// event within one period (day, week, month, year or a range of days from
// the date popup), starting from the event-log window's filter.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <string>
#include <vector>

#include "app/eventpanels.h"
#include "app/eventrows.h"
#include "core/controls/buttons.h"
#include "core/controls/edits.h"
#include "core/controls/wnd.h"
#include "core/eventstore/CppSQLite3.h"

// What the two windows share: the range controls and the record selection.
class CRecordRangeDlg : public ps::ui::CSkinDialog {
    Q_OBJECT
public:
    enum {
        IDC_ALL = 1203, IDC_RANGE_RECORDS = 1204, IDC_PERIOD = 1159, IDC_PREVIOUS = 1162, IDC_PERIOD_TEXT = 1164,
        IDC_NEXT = 1163, IDC_RANGE = 1165, IDC_KIND = 1177, IDC_CANCEL = 1069, IDC_CLOSE = 1004,
    };

    void SetRecordFilter(const EventLogFilter& f) { filter_ = f; }
    const EventLogFilter& Filter() const { return filter_; }

    // The user's commands, as the controls run them.
    void ChooseAll();             // 1203
    void ChooseRange();           // 1204
    void OnPeriodChosen(int period);
    void OnKindChosen(int kind);
    void OnPrevious();
    void OnNext();
    void OpenDatePopup();

    // The records to act on, and the kind text of the messages.
    // Throws CppSQLite3Exception when the store fails.
    std::vector<int64_t> SelectRecords(std::u16string& kindText) const;

    // The custom period the date popup applied.
    void OnDateRangeSelected(const DateRecord& start, const DateRecord& end);

    QWidget* Control(int id) const;
    CDateSelectPopup* Popup() const { return popup_; }
    QString PeriodText() const { return periodText_->text(); }
    bool AllChosen() const { return all_->isChecked(); }

protected:
    CRecordRangeDlg(QWidget* parent, int background);
    // Builds the shared controls; the windows place them.
    void InitRange();
    void PlaceRange(int y);
    void PaintBackground(QPainter& p);
    void mousePressEvent(QMouseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    bool ReportStoreFailure(const CppSQLite3Exception& e);

    EventLogFilter filter_;
    int background_;
    QLabel* title_;
    QLabel* rangeLabel_;
    QRadioButton* all_;
    QRadioButton* some_;
    ps::ui::CDropDownButton* period_;
    ps::ui::ImageButton* btnPrev_;
    QLabel* periodText_;
    ps::ui::ImageButton* btnNext_;
    QComboBox* range_;
    ps::ui::CDropDownButton* kind_;
    ps::ui::ImageButton* btnCancel_;
    ps::ui::ImageButton* btnClose_;
    CDateSelectPopup* popup_;

private:
    void ShowPeriodText();
    void EnableRange(bool on);
};

class CRecordDeleteDlg : public CRecordRangeDlg {
    Q_OBJECT
public:
    enum { IDD = 274, IDC_TITLE = 1201, IDC_LABEL = 1202, IDC_DELETE = 1205 };
    explicit CRecordDeleteDlg(QWidget* parent = nullptr);
    // 1205: deletes the chosen records, reports how many and ends with IDOK.
    void OnDelete();

protected:
    bool OnInitDialog() override;
    void paintEvent(QPaintEvent* e) override;

private:
    ps::ui::ImageButton* btnDelete_;
};

class CRecordSaveDlg : public CRecordRangeDlg {
    Q_OBJECT
public:
    enum { IDD = 275, IDC_TITLE = 1207, IDC_PATH_LABEL = 1210, IDC_PATH = 1193, IDC_BROWSE = 1211,
           IDC_LABEL = 1208, IDC_SAVE = 1209 };
    static constexpr int IDT_FOCUS = 9999;
    explicit CRecordSaveDlg(QWidget* parent = nullptr);

    void OnBrowse();  // 1211
    // 1209: writes the chosen records to the file, records the saving and
    // ends; a missing path or a file that cannot be created is reported and
    // the window stays open.
    void OnSave();
    QString Path() const { return path_->text(); }
    void SetPath(const QString& p) { path_->setText(p); }
    std::u16string SaveFolder() const { return saveFolder_; }
    // A file was written (and its event recorded) in this run.
    bool Saved() const { return saved_; }

protected:
    bool OnInitDialog() override;
    void OnTimer(int id) override;
    void paintEvent(QPaintEvent* e) override;

private:
    std::u16string saveFolder_;
    bool saved_ = false;
    QLabel* pathLabel_;
    ps::ui::CEditVC* path_;
    ps::ui::ImageButton* btnBrowse_;
    ps::ui::ImageButton* btnSave_;
};
