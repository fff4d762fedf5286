// The error report: after a run that ended inside a document's analysis,
// the next start names that document and offers to show it in its folder,
// to except it from later searches, or to close. Several documents are read
// at once; when the run died of a fault in a reader, the crash note names
// the one (platform/crashnote.h). When it was ended from outside (a kill),
// nothing can tell which: the report lists every document that was in hand,
// each with its own buttons, and accuses none of them alone.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <functional>
#include <string>
#include <vector>

#include "core/controls/buttons.h"
#include "core/controls/wnd.h"

class CDocumentActionDlg;

class CErrorReportDlg : public ps::ui::CSkinDialog {
    Q_OBJECT
public:
    enum Control {
        IDD = 291,
        IDC_CLOSE_X = 1004,
        IDC_OPEN_FOLDER = 1211,
        IDC_EXCEPT = 1077,
        IDC_CLOSE = 1003,
    };
    // Shown when the document's FileInfo row could not be written.
    static constexpr char16_t kNotExceptedText[] =
        u"오류 문서를 예외처리하지 못했습니다. 문서 정보를 기록할 수 없습니다.";

    // Width of the line that shows the document's path.
    static constexpr int kPathWidth = 400 - 45;
    explicit CErrorReportDlg(QWidget* parent = nullptr);

    // The document the report names (the one the crash note names, or the
    // only one in hand), read at initialisation; the first of the list when
    // several stand accused alike.
    const std::u16string& Path() const { return m_path; }
    // Every document the report shows: one, or each that was in hand.
    const std::vector<std::u16string>& Paths() const { return m_paths; }
    // Rows of the list of several documents (none when one is named).
    static constexpr int kRowHeight = 27;
    static constexpr int kMaxVisibleRows = 5;
    QAbstractButton* RowOpenFolderButton(size_t row) const;
    QAbstractButton* RowExceptButton(size_t row) const;
    // Extra text above the list of several documents.
    static constexpr char16_t kSeveralText[] = u"아래 문서 중 하나로 인해 프리바스윕이 종료되었습니다.";

    void OnBnClickedOpenFolder();
    void OnBnClickedExcept();
    void OnBnClickedClose();
    void OnBnClickedX();

    ps::ui::ImageButton* OpenFolderButton() const { return m_btnOpenFolder; }
    ps::ui::ImageButton* ExceptButton() const { return m_btnExcept; }
    ps::ui::ImageButton* CloseButton() const { return m_btnClose; }
    ps::ui::ImageButton* XButton() const { return m_btnX; }

    // Test seam: runs the exception window instead of its modal run.
    std::function<int(CDocumentActionDlg&)> actionWindowRunner;

protected:
    bool OnInitDialog() override;
    void OnClose() override { OnBnClickedX(); }
    void paintEvent(QPaintEvent* e) override;
    bool event(QEvent* e) override;

private:
    enum class ExceptOutcome { Excepted, NotExcepted, StoreFailed };
    ExceptOutcome ExceptDocument(const std::u16string& path);
    int Extra() const;

    std::u16string m_path;
    std::vector<std::u16string> m_paths;
    QWidget* m_list = nullptr;  // the rows, when several documents are shown
    std::vector<std::pair<QAbstractButton*, QAbstractButton*>> m_rowButtons;
    QIcon m_icon;
    QPixmap m_background;
    ps::ui::ImageButton* m_btnX = nullptr;
    ps::ui::ImageButton* m_btnOpenFolder = nullptr;
    ps::ui::ImageButton* m_btnExcept = nullptr;
    ps::ui::ImageButton* m_btnClose = nullptr;
};
