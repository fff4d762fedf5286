// The exception list window: the documents excepted from later searches,
// with their counts and who excepted them; it opens or examines a document
// and releases exceptions, so that later searches find the documents again.
#pragma once

#include <QLabel>
#include <QPixmap>
#include <QStandardItemModel>
#include <QTreeView>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/controls/buttons.h"
#include "core/controls/wnd.h"
#include "core/records.h"

class CDocumentActionDlg;
class CSearchDetailPanel;
class CExceptionReportControl;
class CExceptionInfoRecord;

// The private message of the list's rows to the window: the selected row's
// entry (wParam: its index in the window's lists).
inline constexpr int UM_EXCEPTION_SELECTED = 710;

// The commands the list's row menu hands to its window
// (CExceptionReportControl::rowCommand), numbered as the window's messages
// were.
enum class ExceptionRowCommand : int {
    Open = 702,        // the document
    Properties = 708,  // the document's properties
    Release = 709,     // the row's exception
};

// One row of the list: check box, the document's name (marked when it was
// excepted from the error report) with its type icon, and its folder.
class CExceptionInfoRecord {
public:
    // record: the window's entry (not owned); entry: its position in the
    // window's lists; type: the type of the event that excepted it.
    CExceptionInfoRecord(SearchFileInfo* record, const PersonalInfoCounts& counts, int iconIndex, int32_t type,
                         size_t entry);

    SearchFileInfo* FileInfo() const { return info_; }
    const PersonalInfoCounts& Counts() const { return counts_; }
    const std::u16string& DisplayName() const { return name_; }
    const std::u16string& Folder() const { return folder_; }
    int IconIndex() const { return icon_; }
    size_t Entry() const { return entry_; }
    // The folder without trailing separators, '/', the file name.
    std::u16string GetDocumentPath() const;

private:
    friend class CExceptionReportControl;
    SearchFileInfo* info_ = nullptr;
    PersonalInfoCounts counts_{};
    std::u16string folder_;
    std::u16string name_;
    int icon_ = 0;
    size_t entry_ = 0;
    QStandardItem* check_ = nullptr;  // item 0 once the row is in a control
};

// The list's report control: three columns (check box, name, folder).
class CExceptionReportControl : public QTreeView {
    Q_OBJECT
public:
    explicit CExceptionReportControl(QWidget* parent = nullptr);
    ~CExceptionReportControl() override;

    void AddRecord(std::unique_ptr<CExceptionInfoRecord> row);
    // Takes a row out and frees it.
    void RemoveRecord(CExceptionInfoRecord* row);
    void ResetContent();
    int RecordCount() const { return model_.rowCount(); }
    CExceptionInfoRecord* Record(int i) const;
    CExceptionInfoRecord* RecordAt(const QModelIndex& index) const;
    QModelIndex IndexOf(const CExceptionInfoRecord* row) const;
    bool IsChecked(const CExceptionInfoRecord* row) const;
    void SetChecked(CExceptionInfoRecord* row, bool checked);

    // The check column's header: true when it shows the checked image.
    bool HeaderChecked() const { return headerChecked_; }
    void SetHeaderChecked(bool checked);
    // A click on the check column's header checks every row, or clears them
    // all when the first row is checked.
    void OnHeaderCheckClick();

    // The context menu of a row, as a right click shows it.
    void ShowContextMenu(CExceptionInfoRecord* row, const QPoint& globalPos);
    // Test seam: picks a command (10000 open, 10008 release, 10007
    // properties) instead of showing the menu.
    std::function<int()> menuChooser;

    QStandardItemModel* Model() { return &model_; }

signals:
    // A command chosen in the row menu for `row`, whose document is at
    // `path`; the receiver acts at once.
    void rowCommand(ExceptionRowCommand command, CExceptionInfoRecord* row, const std::u16string& path);

protected:
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    bool viewportEvent(QEvent* e) override;

private:
    void OnItemChanged(QStandardItem* item);
    void OnCurrentChanged(const QModelIndex& current);

    QStandardItemModel model_;
    std::vector<std::unique_ptr<CExceptionInfoRecord>> rows_;
    bool headerChecked_ = false;
    bool settingAll_ = false;
};

class CExceptionConfigurationDlg : public ps::ui::CSkinDialog {
    Q_OBJECT
public:
    enum Control {
        IDD = 246,
        IDC_TITLE = 1137,
        IDC_CLOSE_X = 1004,
        IDC_TOGGLE = 1128,
        IDC_RELEASE = 1127,
        IDC_CLOSE = 1003,
        IDC_REPORT = 999,
        IDB_FRAME = 252,
        IDB_HEADING = 251,
        IDB_PANEL_BAR = 253,
    };
    // Shown on the window when the list could not be read.
    static constexpr char16_t kLoadFailedText[] = u"예외 처리 목록을 읽지 못했습니다.";
    // Shown when some exceptions could not be released (%d: how many).
    static constexpr char16_t kNotReleasedText[] =
        u"%d개 문서의 예외처리를 해제하지 못했습니다. 목록에 그대로 남아 있습니다.";

    explicit CExceptionConfigurationDlg(QWidget* parent = nullptr);
    ~CExceptionConfigurationDlg() override;

    qintptr OnUserMessage(int number, quintptr wParam, qintptr lParam) override;
    // A command of the list's row menu.
    void OnRowCommand(ExceptionRowCommand command, CExceptionInfoRecord* row, const std::u16string& path);

    void OnBnClickedRelease();  // 1127
    void OnBnClickedToggle();   // 1128

    bool PanelCollapsed() const { return m_panelCollapsed; }
    bool LoadFailed() const { return m_loadFailed; }
    CExceptionReportControl* Report() const { return m_report; }
    CSearchDetailPanel* Panel() const { return m_panel; }
    ps::ui::ImageButton* ReleaseButton() const { return m_btnRelease; }
    ps::ui::ImageButton* CloseButton() const { return m_btnClose; }
    ps::ui::ImageButton* XButton() const { return m_btnX; }
    ps::ui::ImageButton* ToggleButton() const { return m_btnToggle; }
    QLabel* NoticeLine() const { return m_notice; }

    // Test seam: runs the exception window instead of its modal run.
    std::function<int(CDocumentActionDlg&)> actionWindowRunner;

protected:
    bool OnInitDialog() override;
    void paintEvent(QPaintEvent* e) override;

private:
    void Fill();
    void Layout();
    void ShowEntry(size_t entry);
    // Releases the rows' exceptions through the exception window; the rows
    // of the documents released are taken out. The number released.
    int Release(const std::vector<CExceptionInfoRecord*>& rows);

    bool m_panelCollapsed = true;
    bool m_loadFailed = false;
    // The entries as loaded, in step; a deque keeps the records in place.
    std::deque<SearchFileInfo> m_records;
    std::vector<PersonalInfoCounts> m_counts;
    std::vector<std::u16string> m_users;
    std::vector<int32_t> m_types;

    QPixmap m_frame, m_heading, m_panelBar;
    QLabel* m_title = nullptr;
    QLabel* m_notice = nullptr;
    CExceptionReportControl* m_report = nullptr;
    CSearchDetailPanel* m_panel = nullptr;
    ps::ui::ImageButton* m_btnRelease = nullptr;
    ps::ui::ImageButton* m_btnClose = nullptr;
    ps::ui::ImageButton* m_btnX = nullptr;
    ps::ui::ImageButton* m_btnToggle = nullptr;
};
