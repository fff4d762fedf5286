// The search window: shows one search of the whole computer or of the
// user's folders in six result tabs. The search itself is its session
// (search/session.h); the window is the session's sink and only shows what
// the session reports.
#pragma once

#include <QLabel>
#include <QRect>
#include <array>
#include <atomic>
#include <memory>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/actiondlg.h"
#include "app/docactions.h"
#include "app/filereport.h"
#include "app/pwconfirmdlg.h"
#include "core/controls/buttons.h"
#include "core/controls/edits.h"
#include "core/controls/wnd.h"
#include "core/records.h"
#include "platform/lockorder.h"
#include "search/session.h"

class CAllSearchDlg : public ps::ui::CSkinDialog,
                      private search::SessionSink,
                      private CSearchDocumentActions::Host {
    Q_OBJECT
public:
    enum Control {
        IDC_STATUS = 1013,
        IDC_DETAIL = 1015,
        IDC_PROGRESS = 1011,
        IDC_MENU = 1109,
        IDC_MINIMIZE = 1110,
        IDC_MAXIMIZE = 1112,
        IDC_CLOSE = 1111,
        IDC_SEARCH = 1012,
        IDC_TAB_ALL = 1185,
        IDC_ENCRYPT = 1016,
        IDC_DELETE = 1017,
        IDC_EXCEPT = 1077,
        IDC_DELAY = 1220,
        IDC_REPORT_FIRST = 4000,
    };
    enum Timer {
        IDT_ELAPSED_TIME = 1500,
        IDT_SEARCH_PROGRESS = 1501,
        IDT_FILE_COUNT = 1502,
        IDT_ANALYSIS_PROGRESS = 1503,
        IDT_SEARCH_COMPLETE = 1504,
        IDT_SEARCH_DELAY = 1506,
        IDT_RESTORE_SYSMENU = 1507,
    };
    static constexpr int UM_RESULT_COUNTS_CHANGED = 713;
    static constexpr int UM_ANALYSIS_FILE_STARTED = 714;
    // Messages of the engine's and the analysis thread's hand-over to this
    // window's thread.
    static constexpr int UM_FIRST_FILE_ACCEPTED = 720;
    static constexpr int UM_ENGINE_FINISHED = 721;
    static constexpr int UM_ANALYSIS_FINISHED = 722;

    // The result tabs: the session's document kinds.
    enum Tab {
        kAll = search::kKindAll,
        kHwp = search::kKindHwp,
        kDoc = search::kKindDoc,
        kXls = search::kKindXls,
        kPpt = search::kKindPpt,
        kPdf = search::kKindPdf,
        kTabCount = search::kKindCount,
    };
    // Pixels between the progress bar and the search/stop button.
    static constexpr int kProgressGap = 10;

    explicit CAllSearchDlg(QWidget* parent = nullptr);
    ~CAllSearchDlg() override;

    // 0 whole computer (default), 1 user search.
    void SetSearchMode(int mode) { m_nSearchMode = mode; }
    int SearchMode() const { return m_nSearchMode; }
    void SetOwnerRect(const QRect& r) { m_ownerRect = r; }
    void SetSearchOptions(::PersonalInfoMask personalInfoMask, DocumentKindMask documentKindMask,
                          const std::vector<std::u16string>& include,
                          const std::vector<std::u16string>& exclude);

    // The start command (1012 while idle) and the stop sequence (1012 while
    // searching).
    void OnBnClickedButtonSearch();
    void OnBnClickedClose();

    // Who ends a running search.
    enum class StopPath {
        StopButton,    // 중지: the window stays with the results so far
        CloseButton,   // the window's own close button
        CloseRequest,  // a close from outside (window manager, Alt+F4)
        SessionEnd,    // the session ends: no question
    };
    // The one stop sequence: asks (except at the session's end), stops the
    // engine and the analysis, writes the search's end event once and shows
    // the counts reached. False when the user keeps the search running.
    bool StopSearch(StopPath path);
    void ShowStoreMessage(const std::u16string& text);

    // State for the opener and tests. Searching is the session's (walking or
    // analysing); idle is that, and the window has shown its search's end
    // (or closed over it): a completion still on its way keeps it busy.
    bool IsIdle() const { return !IsSearching() && m_endShown; }
    bool IsSearching() const { return m_session->IsSearching(); }
    int64_t SearchEventId() const { return m_session->SearchEventId(); }
    ::PersonalInfoMask PersonalInfoMask() const { return m_nPIMask; }
    const std::vector<std::u16string>& Extensions() const { return m_extensions; }
    CFileReportControl* Report(int tab) const { return m_reports[tab]; }
    ps::ui::CTabButton* TabButton(int tab) const { return m_tabs[tab]; }
    int TabCount(int tab) const { return m_session->DocumentCount(tab); }
    int CurrentTab() const { return m_current; }
    void SelectTab(int tab);
    size_t FoundCount();
    QLabel* StatusLine() const { return m_status; }
    QLabel* DetailLine() const { return m_detail; }
    QLabel* DelayLine() const { return m_delay; }
    QWidget* ProgressBar() const { return m_progress; }
    ps::ui::ImageButton* SearchButton() const { return m_btnSearch; }
    ps::ui::ImageButton* ActionButton(int id) const;
    int SearchTotal(int i) const { return m_session->Total(i); }
    // Documents of this search not read to their end (the reader's failures
    // and the walk's); each is in the day's error-file list.
    int UnreadDocuments() const { return m_session->UnreadDocuments(); }
    bool AnalysisRunning() const { return m_session->AnalysisRunning(); }
    // Workers that read the documents of the next analysis; 0 (the
    // default) is one per core.
    void SetAnalysisWorkers(unsigned workers) { m_session->SetAnalysisWorkers(workers); }
    // The reader entries the window's searches read documents with (tests
    // put their own in); before the window is shown, or while it is idle.
    void SetReaders(const ExtractorTable& readers) { m_session->SetReaders(readers); }

    qintptr OnUserMessage(int number, quintptr wParam, qintptr lParam) override;

    // ---- Document actions (CSearchDocumentActions, app/docactions.h) ----
    // The window's entry points; each hands over to its actions.
    bool CollectTickedDocuments(CFileReportControl* control, std::vector<CFileInfoRecord*>& rows,
                                DocumentList& documents, std::vector<CFileInfoRecord*>& documentRows);
    int DeleteRecords(const DocumentList& documents, std::vector<size_t>& processed);
    int EncryptRecords(const DocumentList& documents, std::vector<size_t>& processed);
    int ExceptRecords(const DocumentList& documents, std::vector<size_t>& processed);
    // Commands 1017, 1016 and 1077 on the ticked documents of the shown control.
    void OnBnClickedDelete();
    void OnBnClickedEncrypt();
    void OnBnClickedExcept();
    // A command of a result control's row menu: open, expand, collapse and
    // properties are the window's own; the one-document actions go to the
    // document actions.
    void OnRowCommand(RowCommand command, CFileInfoRecord* row, const std::u16string& path);
    // Tab captions counted from the rows each control holds.
    void RecountTabCaptions() override;
    // Test seams: run an action window or the password window in place of
    // the modal run.
    std::function<int(CDocumentActionDlg&)> actionWindowRunner;
    std::function<int(CPasswordConfirmDlg&)> passwordWindowRunner;
    Hit HitTest(const QPoint& local) const override;

    // Which of two paths a search's include list selects as drive roots
    // (engine's whole-drive walk) rather than folders.
    static bool IsDriveRoot(const std::u16string& path) { return search::SearchSession::IsDriveRoot(path); }

protected:
    bool OnInitDialog() override;
    void OnTimer(int id) override;
    void OnOK() override {}
    void OnCancel() override {}
    void OnClose() override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

public:
    void reject() override;

private:
    void Layout();
    void ToggleMaximize();
    void EnableActionButtons(bool enable);
    void SetTabCaptions(const std::array<int, kTabCount>& counts);
    void ResetResults();
    void Completion();
    void ShowUnreadLine();
    void ClearUnreadLine();
    // Opens the day's error-file list that the unread line names.
    void OnUnreadLineClicked();
    void StopTimers(std::initializer_list<int> ids);
    void ClearStartedDocument();
    void LoadBanner();
    void UnloadBanner();
    bool HasBanner() const;
    void ShutDown();
    int AddRows(int tab, const PersonalInfoCounts& counts, SearchFileInfo* record,
                std::u16string& lastFolder, CFileInfoRecord*& lastRow);
    std::u16string ResultText() const;

    // The session's sink: called on the session's threads, each one queued
    // to this window's thread (rows go straight to their controls' queues).
    void Begin(int documents) override;
    void Progress(Step step, int index, const std::u16string& path) override;
    void Document(SearchFileInfo* record, const PersonalInfoCounts& counts, int kind) override;
    void Unread(const SearchFileInfo& record, ScanStatus status) override;
    void Finished() override;
    void Cancelled() override;
    void StoreWriteFailed(const EventStoreFailure& first) override;

    // What the document actions ask of the window (CSearchDocumentActions::Host).
    CFileReportControl* ShownReport() const override { return m_reports[m_current]; }
    std::vector<CFileReportControl*> AllReports() const override;
    QWidget* ActionOwner() override { return this; }
    int RunActionWindow(CDocumentActionDlg& dlg) override;
    int RunPasswordWindow(CPasswordConfirmDlg& dlg) override;

    int m_nSearchMode = 0;
    std::vector<std::u16string> m_include, m_exclude, m_extensions;
    ::PersonalInfoMask m_nPIMask = 0xFFFF;
    bool m_optionsSet = false;

    std::array<ps::ui::CTabButton*, kTabCount> m_tabs{};
    std::array<CFileReportControl*, kTabCount> m_reports{};
    int m_current = kAll;
    // The delete, encrypt and except commands on the rows of the controls.
    CSearchDocumentActions m_actions{*this};

    // guards: the document started last and the two flags below (the
    // analysis writes them, the progress timer and the started message read
    // them). The last lock of the order (plat::LockRank::SearchWindow),
    // taken with nothing else held: the session is asked before or after,
    // never under it, and nothing is locked under it. The window
    // shows the document being read, not every one: a later start replaces
    // one the timer has not shown yet, and one message at a time is posted.
    plat::RankedMutex m_lock{plat::LockRank::SearchWindow, "CAllSearchDlg::m_lock"};
    std::u16string m_startedPath;
    int m_startedIndex = 0;
    bool m_startedUnshown = false;  // the timer has yet to show it
    bool m_startedPosted = false;   // a UM_ANALYSIS_FILE_STARTED is on its way
    // The rows last posted per tab (the analysis thread's, through the sink).
    std::array<std::u16string, kTabCount> m_lastFolder;
    std::array<CFileInfoRecord*, kTabCount> m_lastRow{};

    bool m_bProgressSwitched = false;
    bool m_searchStarted = false;
    bool m_shutDown = false;
    // The end of the last search is shown (its completion or its stop), or
    // the window closed over it: a completion is shown once, and never over
    // a window that is closing.
    bool m_endShown = true;
    // The stop question is open; a completion meanwhile closes it and leaves
    // its answer unused (the completion message follows once it is gone).
    bool m_asking = false;
    bool m_completedWhileAsking = false;
    // The store's failure message is open: a completion meanwhile waits for
    // it. A failure told while the stop question is open waits for the
    // answer. One box at a time, never one over another.
    bool m_storeMessageOpen = false;
    bool m_completedWhileStoreMessage = false;
    std::u16string m_storeMessagePending;
    int m_dotCounter = 1;
    unsigned m_elapsed = 0;

    QRect m_ownerRect;
    bool m_maximized = false;
    QRect m_restoreRect;

    ps::ui::CProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    ps::ui::CPathLabel* m_detail = nullptr;  // the path cut in its middle, whole as a tooltip
    QLabel* m_delay = nullptr;
    // What the unread line opens (the day's error-file list), empty when the
    // line shows something else.
    std::u16string m_delayTarget;
    QWidget* m_bannerHost = nullptr;
    void* m_bannerModule = nullptr;
    ps::ui::ImageButton* m_btnMenu = nullptr;
    ps::ui::ImageButton* m_btnMinimize = nullptr;
    ps::ui::ImageButton* m_btnMaximize = nullptr;
    ps::ui::ImageButton* m_btnClose = nullptr;
    ps::ui::ImageButton* m_btnSearch = nullptr;
    ps::ui::ImageButton* m_btnExcept = nullptr;
    ps::ui::ImageButton* m_btnEncrypt = nullptr;
    ps::ui::ImageButton* m_btnDelete = nullptr;

    using BannerInitFn = void (*)(const char16_t*, int);
    using BannerFinalizeFn = void (*)();
    using BannerExecuteFn = void (*)(int, void*);
    BannerInitFn m_bannerInit = nullptr;
    BannerFinalizeFn m_bannerFinalize = nullptr;
    BannerExecuteFn m_bannerExecute = nullptr;

    // Last: the session ends (its walkers joined) before the rest goes.
    std::unique_ptr<search::SearchSession> m_session;
};
