// The settings window: six pages chosen by a column of tabs; OK has the
// pages the user changed write themselves back, in a fixed order, each with
// its settings event. Only one settings window exists at a time per user.
#pragma once

#include <QLabel>
#include <QPixmap>
#include <array>
#include <memory>

#include "core/controls/buttons.h"
#include "core/controls/wnd.h"

namespace plat {
class SingleInstance;
}

class CSearchFolderPage;
class CPersonalInformationPage;
class CKindOfDocumentPage;
class CPasswordSettingPage;
class CExceptionSettingPage;
class CLogSettingPage;

class CConfigurationDlg : public ps::ui::CSkinDialog {
    Q_OBJECT
public:
    enum {
        IDD = 139,
        IDC_TITLE = 1186,
        IDC_CLOSE = 1003,
        IDC_TAB_FOLDERS = 1071,
        IDC_TAB_PERSONAL_INFO = 1072,
        IDC_TAB_DOCUMENTS = 1073,
        IDC_TAB_PASSWORD = 1074,
        IDC_TAB_LOG = 1075,
        IDC_TAB_EXCEPTIONS = 1076,
        IDC_ALL_DEFAULTS = 1066,
        IDC_PAGE_DEFAULTS = 1067,
        IDC_OK = 1068,
        IDC_CANCEL = 1069,
        IDB_BACKGROUND = 178,
    };
    enum { kFolderPage = 0, kPersonalInfoPage, kDocumentPage, kPasswordPage, kExceptionPage, kLogPage, kPageCount };
    // The tab of each page, in page order (the last two ids are crossed).
    static constexpr int kTabIds[kPageCount] = {1071, 1072, 1073, 1074, 1076, 1075};
    static constexpr int kChangeFlagCount = 7;

    explicit CConfigurationDlg(QWidget* parent = nullptr);
    ~CConfigurationDlg() override;

    // The page shown when the window opens (0 to 5); set before the run.
    void SetStartPage(int index) { m_nStartPage = index; }

    // Commands (the buttons call them; tests too).
    void OnTab(int pageIndex);
    void OnAllDefaults();
    void OnPageDefaults();
    void OnSave();
    void OnClose();

    bool IsChanged() const { return m_bChanged; }
    int ChangeFlag(int index) const { return m_nChangeFlags.at(static_cast<size_t>(index)); }
    int CurrentIndex() const { return m_nCurrentPage; }
    QWidget* CurrentPage() const { return m_pCurrentPage; }
    // False for a window that closed itself because another one is open.
    bool OwnsLock() const { return m_bOwnsLock; }

    CSearchFolderPage* FolderPage() const { return m_pFolderPage; }
    CPersonalInformationPage* PersonalInfoPage() const { return m_pPersonalInfoPage; }
    CKindOfDocumentPage* DocumentPage() const { return m_pDocumentPage; }
    CPasswordSettingPage* PasswordPage() const { return m_pPasswordPage; }
    CExceptionSettingPage* ExceptionPage() const { return m_pExceptionPage; }
    CLogSettingPage* LogPage() const { return m_pLogPage; }
    ps::ui::ImageButton* Button(int id) const;

    qintptr OnUserMessage(int number, quintptr wParam, qintptr lParam) override;

protected:
    bool OnInitDialog() override;
    void OnCancel() override;
    void paintEvent(QPaintEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    bool ValidateSelections();
    void SwitchTo(int pageIndex);
    void UpdateTabImages();
    QWidget* PageAt(int index) const;
    void ReportWriteFailure(int pageIndex);
    // Writes the changed pages in their order; false (the window stays)
    // when a page refused or could not be written.
    bool SaveChangedPages();
    bool ResetFolders();

    std::unique_ptr<plat::SingleInstance> m_lock;
    bool m_bOwnsLock = false;
    int m_nStartPage = 0;
    int m_nCurrentPage = 0;
    QWidget* m_pCurrentPage = nullptr;
    std::array<int, kChangeFlagCount> m_nChangeFlags{};
    bool m_bChanged = false;
    QPixmap m_bmpBackground;

    QLabel* m_lblTitle;
    std::array<ps::ui::ImageButton*, kPageCount> m_tabs{};
    ps::ui::ImageButton* m_btnAllDefaults;
    ps::ui::ImageButton* m_btnPageDefaults;
    ps::ui::ImageButton* m_btnOk;
    ps::ui::ImageButton* m_btnCancel;
    ps::ui::ImageButton* m_btnClose;

    CSearchFolderPage* m_pFolderPage = nullptr;
    CPersonalInformationPage* m_pPersonalInfoPage = nullptr;
    CKindOfDocumentPage* m_pDocumentPage = nullptr;
    CPasswordSettingPage* m_pPasswordPage = nullptr;
    CExceptionSettingPage* m_pExceptionPage = nullptr;
    CLogSettingPage* m_pLogPage = nullptr;
};
