// The main window with its two pages (document search and log summary) and
// the main popup menu shared by the program's large windows.
#pragma once

#include <QLabel>
#include <QRect>
#include <map>
#include <string>
#include <functional>
#include <vector>

#include "core/controls/buttons.h"
#include "app/mainmenu.h"
#include "core/controls/wnd.h"
#include "core/documentkinds.h"
#include "core/records.h"

class CPrivasweepDlg;

// The main window's first page: whole-computer search and user search.
class CMainDocumentSearchDlg : public QWidget {
    Q_OBJECT
public:
    static constexpr int IDT_START_USER_SEARCH = 1505;
    explicit CMainDocumentSearchDlg(CPrivasweepDlg* mainWindow, QWidget* parent = nullptr);

    void OnBnClickedAllSearch();   // 1008
    void OnBnClickedUserSearch();  // 1009
    // What the user search window hands over, then the one-shot timer that
    // opens the search window in user mode.
    void SetUserSearch(const std::vector<std::u16string>& include, const std::vector<std::u16string>& exclude,
                       PersonalInfoMask personalInfoMask, DocumentKindMask documentKindMask);
    bool UserSearchPending() const { return timerId_ != 0; }

    const std::vector<std::u16string>& UserInclude() const { return include_; }
    const std::vector<std::u16string>& UserExclude() const { return exclude_; }
    PersonalInfoMask UserPersonalInfoMask() const { return piMask_; }
    DocumentKindMask UserDocumentKindMask() const { return kindMask_; }

    // Test seam: called with each search window before its modal run
    // (instead of the run when it returns true).
    static std::function<bool(QWidget* searchWindow)> s_beforeRun;

protected:
    void paintEvent(QPaintEvent* e) override;
    void timerEvent(QTimerEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void OpenUserSearchWindow();
    CPrivasweepDlg* main_;
    ps::ui::ImageButton* btnAll_;
    ps::ui::ImageButton* btnUser_;
    std::vector<std::u16string> include_, exclude_;
    PersonalInfoMask piMask_ = 0;
    DocumentKindMask kindMask_ = 0;
    int timerId_ = 0;
};

// The main window's second page: the last search and what was done since.
class CMainShowLogDlg : public QWidget {
    Q_OBJECT
public:
    explicit CMainShowLogDlg(CPrivasweepDlg* mainWindow, QWidget* parent = nullptr);
    void RefreshSummary();
    // 1103: the event-log window, then the summary read again.
    void OpenEventLog();
    bool HasSearch() const { return hasSearch_; }
    ps::ui::ImageButton* LogButton() const { return btnLog_; }
    // Test seam: called with the event-log window before its modal run
    // (instead of the run when it returns true).
    static std::function<bool(QWidget* logWindow)> s_beforeRun;
    QLabel* Static(int id) const;
    ps::ui::ImageButton* StartButton() const { return btnStart_; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void ReadSummary();
    void SetValue(int id, const std::u16string& text, const std::u16string& tip = std::u16string());
    CPrivasweepDlg* main_;
    ps::ui::ImageButton* btnLog_;
    ps::ui::ImageButton* btnStart_;
    std::map<int, QLabel*> statics_;
    bool hasSearch_ = false;
};

class CErrorReportDlg;

class CPrivasweepDlg : public ps::ui::CSkinDialog {
    Q_OBJECT
public:
    static constexpr int IDT_CHECK_LAST_FILE = 100;
    explicit CPrivasweepDlg(QWidget* parent = nullptr);
    ~CPrivasweepDlg() override;

    // The main popup menu (app/mainmenu.h) over a window.
    static void OnBnClickedMenu(QWidget* window) { ShowMainMenu(window); }
    // Test seam: chooses a command of the main menu instead of showing it.
    static inline std::function<int(const std::vector<std::pair<int, bool>>&)>& s_menuChooser = MainMenuChooser();
    // Test seam: runs the error report of the start instead of its modal run.
    static std::function<int(CErrorReportDlg&)> s_errorReportRunner;
    static void RunMenuCommand(QWidget* window, int command) { RunMainMenuCommand(window, command); }

    void OnExit();                 // 1004
    void ShowSearchPage();         // 1005
    void OnBnClickedConfig();      // 1007
    void ShowLogPage();            // 1006
    void StartWholeComputerSearch();  // the log page's start button

    CMainDocumentSearchDlg* SearchPage() const { return searchPage_; }
    CMainShowLogDlg* LogPage() const { return logPage_; }
    ps::ui::ImageButton* Button(int id) const;

protected:
    bool OnInitDialog() override;
    void OnTimer(int id) override;
    void OnOK() override {}
    void OnCancel() override;
    void OnClose() override;
    void paintEvent(QPaintEvent* e) override;
    Hit HitTest(const QPoint&) const override { return Hit::Caption; }

private:
    CMainDocumentSearchDlg* searchPage_;
    CMainShowLogDlg* logPage_;
    ps::ui::ImageButton* btnSearch_;
    ps::ui::ImageButton* btnLog_;
    ps::ui::ImageButton* btnMenu_;
    ps::ui::ImageButton* btnMin_;
    ps::ui::ImageButton* btnExit_;
    ps::ui::ImageButton* btnConfig_;
    std::vector<std::u16string> iconExtensions_;
};

// Addresses of the maker's pages.
