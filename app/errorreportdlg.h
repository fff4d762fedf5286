// The error report: after a run that ended inside a document's analysis,
// the next start names that document and offers to show it in its folder,
// to except it from later searches, or to close.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <functional>
#include <string>

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

    // The document named by lastCheckFile (its first line), read at
    // initialisation.
    const std::u16string& Path() const { return m_path; }

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
    std::u16string m_path;
    QIcon m_icon;
    QPixmap m_background;
    ps::ui::ImageButton* m_btnX = nullptr;
    ps::ui::ImageButton* m_btnOpenFolder = nullptr;
    ps::ui::ImageButton* m_btnExcept = nullptr;
    ps::ui::ImageButton* m_btnClose = nullptr;
};
