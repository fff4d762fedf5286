// Result rows and the result report control of the search window: a
// two-level tree of folder rows and document rows with check boxes, over a
// QTreeView and an item model.
#pragma once

#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/controls/wnd.h"
#include "core/records.h"

class CFileReportControl;
class CFileInfoRecord;

// The commands a result control's row menu hands to its window
// (CFileReportControl::rowCommand), numbered as the window's messages 702
// to 708 were.
enum class RowCommand : int {
    Open = 702,        // the document or folder of the row
    Encrypt = 703,     // one document
    Delete = 704,      // one document
    Except = 705,      // one document
    ExpandAll = 706,   // every folder row of the control
    CollapseAll = 707,
    Properties = 708,  // the document's or folder's properties
};

// Private messages that bring the rows to a result control (AddRowEvent).
inline constexpr int UM_ADD_FILE_ROW = 3456;
inline constexpr int UM_ADD_FOLDER_ROW = 3457;

// One row: a folder row (check box and folder path) or a document row (check
// box, file name and the seven counts). The found-file record is not owned.
class CFileInfoRecord {
public:
    static constexpr int kItemCount = 9;
    // Every kind of personal information (the hits window's default).
    static constexpr ::PersonalInfoMask kEveryKind = 0xFFFF;

    // Folder row for the parent folder of the record.
    explicit CFileInfoRecord(SearchFileInfo* record);
    // Document row with its seven counts in kind order; `personalInfoMask`
    // is the search's mask of kinds, which the document's hits window shows.
    CFileInfoRecord(const PersonalInfoCounts& counts, ::PersonalInfoMask personalInfoMask, SearchFileInfo* record);

    bool IsFolderRow() const { return folderRow_; }
    std::u16string GetFolderPath() const { return folder_; }
    // The folder without trailing separators (kept so), '/', the file name.
    std::u16string GetFullPath();
    SearchFileInfo* FileInfo() const { return info_; }
    ::PersonalInfoMask PersonalInfoMask() const { return personalInfoMask_; }
    const std::u16string& ItemText(int item) const { return texts_[item]; }
    int IconIndex() const { return icon_; }

private:
    friend class CFileReportControl;
    bool folderRow_ = false;
    SearchFileInfo* info_ = nullptr;
    ::PersonalInfoMask personalInfoMask_ = kEveryKind;
    std::u16string folder_;
    std::u16string fileName_;
    std::u16string texts_[kItemCount];
    int icon_ = 0;
    QStandardItem* check_ = nullptr;  // item 0 once the row is in a control
};

// What the result windows say when a document or folder could not be opened.
inline constexpr char16_t kOpenDocumentFailedText[] =
    u"문서를 열지 못했습니다. 이 문서를 여는 프로그램이 없거나 실행되지 않았습니다.";
inline constexpr char16_t kOpenFolderFailedText[] =
    u"폴더를 열지 못했습니다. 폴더를 여는 프로그램이 없거나 실행되지 않았습니다.";
// Opens a document or folder with its program; when that fails, says so in a
// message box over `owner` (a path that is gone: ERROR_MSG_NO_EXIST_OPEN_DOCUMENT).
bool OpenOrSayWhy(const std::u16string& path, QWidget* owner);

// The text of a count cell: empty for 0, else "FOUND_COUNT" with the count
// written with thousands separators.
std::u16string CountCellText(int count);
// The icon key of a file name: its extension after the last dot, upper case.
std::u16string IconKeyOfName(const std::u16string& fileName);

// The look the report controls share: white body, light blue selection,
// the header's gradient sections.
void ApplyReportLook(QTreeView* view);

// Draws the check box of a report row's check item (the skin's two 13 x 13
// boxes, unchecked and checked) in the cell rc, placed by the column's
// alignment: left, centred or right, and vertically centred in the whole
// cell or in a band at its top or bottom. A left or right box takes its room
// from rc. Returns where the box was drawn.
QRect DrawReportCheckBox(QPainter& p, QRect& rc, bool checked, Qt::Alignment alignment = Qt::AlignLeft);

// The item delegate of the report controls: a checkable item in column 0 is
// drawn with DrawReportCheckBox and toggled by a left click anywhere in its
// cell (the column is no wider than the box).
class ReportCheckDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    bool editorEvent(QEvent* e, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
};

class CFileReportControl;

// A row posted to a result control (UM_ADD_FOLDER_ROW or UM_ADD_FILE_ROW,
// from the analysis thread). The event owns the row until the control takes
// it: a row whose control goes away first is freed with its event.
class AddRowEvent : public QEvent {
public:
    AddRowEvent(int number, std::unique_ptr<CFileInfoRecord> row, CFileInfoRecord* folder)
        : QEvent(ps::ui::UserMessageType(number)), number_(number), row_(std::move(row)), folder_(folder)
    {
    }
    int Number() const { return number_; }
    std::unique_ptr<CFileInfoRecord> TakeRow() { return std::move(row_); }
    // The folder row a document row goes under (not owned; null for a folder row).
    CFileInfoRecord* Folder() const { return folder_; }

private:
    int number_;
    std::unique_ptr<CFileInfoRecord> row_;
    CFileInfoRecord* folder_;
};

// Posts a row to `control`; false, with the row freed, without a control.
bool PostAddRow(CFileReportControl* control, int number, std::unique_ptr<CFileInfoRecord> row,
                CFileInfoRecord* folder = nullptr);

class CFileReportControl : public QTreeView {
    Q_OBJECT
public:
    explicit CFileReportControl(QWidget* parent = nullptr);
    ~CFileReportControl() override;

    // Builds the nine columns with their captions and widths.
    void InitColumns();
    // Removes every row; the header shows the unchecked image again.
    void ResetContent();

    // Rows come as AddRowEvents (PostAddRow) or through these two.
    // Takes a folder row; 1 (row freed) for a null row, else 0.
    int AddFolderRow(std::unique_ptr<CFileInfoRecord> row);
    // Takes a document row under a folder row of this control; 1 (row freed)
    // without either, else 0.
    int AddFileRow(std::unique_ptr<CFileInfoRecord> row, CFileInfoRecord* folder);

    int FolderRowCount() const;
    int DocumentRowCount() const;
    CFileInfoRecord* FolderRow(int i) const;
    CFileInfoRecord* DocumentRow(int folder, int i) const;
    CFileInfoRecord* RecordAt(const QModelIndex& index) const;
    bool IsChecked(const CFileInfoRecord* row) const;
    void SetChecked(CFileInfoRecord* row, bool checked);
    // The row's model index in column 0.
    QModelIndex IndexOf(const CFileInfoRecord* row) const;
    // Takes a row out of the control (a folder row with its documents) and
    // frees it; the header shows the unchecked image once no row is left.
    void RemoveRecord(CFileInfoRecord* row);
    // The folder row above a document row (nullptr for a folder row).
    CFileInfoRecord* ParentRow(const CFileInfoRecord* row) const;
    int ChildCount(const CFileInfoRecord* folderRow) const;

    // The check column's header: true when it shows the checked image.
    bool HeaderChecked() const { return headerChecked_; }
    void SetHeaderChecked(bool checked);
    // What a click on the check column's header does.
    void OnHeaderCheckClick();

    // The context menu for a row, as shown at a right click (for tests).
    void ShowContextMenu(CFileInfoRecord* row, const QPoint& globalPos);
    // Asked to tell whether the owner is searching (menu items grey, the
    // double-click does nothing).
    std::function<bool()> isSearching;
    // Test seam: picks a command from the menu instead of showing it
    // (receives the enabled state of the eight commands 10000..10007).
    std::function<int(const std::vector<std::pair<int, bool>>&)> menuChooser;

    QStandardItemModel* Model() { return &model_; }

    // Where a folder row's path is drawn: from the name column to the end
    // of the last column, on the row of the given cell (viewport coordinates).
    QRect FolderRowTextRect(const QRect& cell) const;
    // Shares the control's width among the columns.
    void FitColumns();

signals:
    // A command chosen in the row menu for `row`, whose document (or
    // folder, for a folder row) is at `path`. Emitted on the window's
    // thread while the menu's row is still in the control; the receiver
    // acts at once.
    void rowCommand(RowCommand command, CFileInfoRecord* row, const std::u16string& path);

protected:
    bool event(QEvent* e) override;
    bool viewportEvent(QEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    void OnItemChanged(QStandardItem* item);
    void UpdateHeaderFromRows();
    QStandardItem* MakeItem(const std::u16string& text, bool centred);
    QList<QStandardItem*> CheckAndNameItems(CFileInfoRecord* row);

    // Widens a count column to its widest figure: figures are never cut.
    void FitFigure(int column, const std::u16string& text);

    QStandardItemModel model_;
    std::vector<std::unique_ptr<CFileInfoRecord>> rows_;
    // Per column, the width its widest figure needs (0: none yet).
    int figureWidths_[CFileInfoRecord::kItemCount] = {};
    bool headerChecked_ = false;
    bool propagating_ = false;
};
