// The document action windows: delete, encrypt (replace by a password ZIP
// archive) and except documents. One frame: title, two state lines, a
// progress bar, a stop button that turns into a close button, and an X
// button; the start, step, completion and cancellation timers; the events
// written; and the exact list of processed documents handed back.
#pragma once

#include <QLabel>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/controls/buttons.h"
#include "core/controls/edits.h"
#include "core/controls/wnd.h"
#include "core/docarchiver.h"
#include "core/eventstore/eventstore.h"


// One document to act on: its path, the id of its FileInfo row, and the
// identity of the file the search read (not known for a document that was
// not searched, e.g. a released exception or the document of an abnormal
// end: such a document is acted on by its path alone).
struct DocumentItem {
    DocumentItem() = default;
    DocumentItem(std::u16string p, int64_t fileIndex, const plat::FileIdentity& id = {})
        : path(std::move(p)), FileIndex(fileIndex), identity(id)
    {
    }
    std::u16string path;
    int64_t FileIndex = 0;
    plat::FileIdentity identity;
};
using DocumentList = std::vector<DocumentItem>;

class CDocumentActionDlg : public ps::ui::CSkinDialog {
    Q_OBJECT
public:
    // The last line when some documents could not be handled (%d: how many).
    static constexpr char16_t kNotHandledText[] = u"처리하지 못한 문서가 %d개 있습니다. 문서가 그대로 남아 있습니다.";
    // ... when every one of them was gone before its turn (%d: how many).
    static constexpr char16_t kNotFoundText[] = u"찾을 수 없는 문서가 %d개 있습니다. 아무것도 하지 않았습니다.";
    // ... when some were gone and the others are still there (%d: all of
    // them, the gone ones, the ones still there).
    static constexpr char16_t kSomeNotFoundText[] = u"처리하지 못한 문서 %d개: 찾을 수 없는 문서 %d개, 그대로 남은 문서 %d개";
    // The line below the progress bar that says why (%s: the reason; " 외"
    // follows it when other documents failed for other reasons).
    static constexpr char16_t kNotHandledReasonText[] = u"사유: %s";
    // The heading when the run ended and not one document was handled.
    static constexpr char16_t kNothingHandledText[] = u"처리하지 못함";
    // The line in place of the one that points to the record view, when the
    // run is not in the record (the event store could not write it).
    static constexpr char16_t kNotRecordedText[] = u"이번 처리 내용은 기록되지 않았습니다.";
    enum Timer {
        IDT_ACTION_START = 552,
        IDT_ACTION_STEP = 553,
        IDT_ACTION_COMPLETE = 554,
        IDT_ACTION_CANCELLED = 556,
    };
    static constexpr int IDC_CLOSE_X = 1003;
    // Posted by the encrypt worker when it has news.
    static constexpr int UM_WORKER_NEWS = 730;

    ~CDocumentActionDlg() override;

    // The documents (kept alive by the opener while the window runs) and the
    // opener's count, which receives the number processed at the close.
    void SetDocuments(const DocumentList* list, int* processedCount)
    {
        m_list = list;
        m_count = processedCount;
    }
    // The FileIndex values and the list positions of the documents whose
    // action was carried out, in processing order.
    const std::vector<int64_t>& Processed() const { return m_processed; }
    const std::vector<size_t>& ProcessedPositions() const { return m_processedPositions; }
    // Documents the action was tried on that could not be handled.
    int NotHandled() const { return m_notHandled; }
    // Of those, the documents that were gone when their turn came.
    int NotFound() const { return m_notFound; }
    // Why the first of them was not handled (empty when the action does not say).
    const std::u16string& NotHandledReason() const { return m_notHandledReason; }
    QLabel* ReasonLine() const { return m_reasonLine; }
    int64_t CurrentEventId() const { return m_eventId; }
    bool Finished() const { return m_endWritten; }
    bool Stopped() const { return m_stop.load(); }

    // The two buttons (tests drive the window through these).
    void OnBnClickedStop();
    void OnBnClickedX();

    QLabel* Title() const { return m_title; }
    QLabel* Line1() const { return m_line1; }
    ps::ui::CPathLabel* Line2() const { return m_line2; }
    ps::ui::CProgressBar* Progress() const { return m_progress; }
    ps::ui::ImageButton* StopButton() const { return m_btnStop; }
    ps::ui::ImageButton* XButton() const { return m_btnX; }
    size_t DocumentCount() const { return m_list ? m_list->size() : 0; }

protected:
    CDocumentActionDlg(QWidget* parent, int titleId, int line1Id, int line2Id, int progressId, int stopId);

    virtual std::u16string TitleKey() const = 0;
    virtual int32_t StartEvent() const = 0;
    virtual int32_t CancelEvent() const = 0;
    virtual int32_t CompleteEvent() const = 0;
    virtual std::u16string FinishExplainKey() const { return u"STATE_FIN_EXPLAIN"; }
    // Carries out the action on document i (user-interface thread, queue
    // lock held); true when the document counts as processed, else reason
    // says why it was not handled (may stay empty).
    virtual bool ActOn(size_t i, std::u16string& reason)
    {
        (void)i;
        (void)reason;
        return false;
    }
    // Whether the action is on the document itself: a document that no
    // longer exists is then not handled (and never logged as done).
    virtual bool NeedsDocument() const { return true; }
    // Encrypt window: no queue, its own worker.
    virtual bool UsesQueue() const { return true; }
    virtual bool StartEngine() { return true; }
    virtual void StartWorker();
    virtual void JoinWorker();

    bool OnInitDialog() override;
    void OnTimer(int id) override;
    void OnOK() override { OnBnClickedStop(); }
    void OnCancel() override { OnBnClickedStop(); }
    void paintEvent(QPaintEvent* e) override;

    void SetLines(const std::u16string& line1, const std::u16string& line2);
    void SetLineKeys(const char16_t* key1, const char16_t* key2);
    // "처리 중" and the progress line of document i.
    void SetProgressLines(size_t i);
    std::u16string ProgressText(size_t i) const;
    void MarkProcessed(size_t i);
    // Counts a document not handled, with its reason when known.
    void MarkNotHandled(const std::u16string& reason);
    void ShowNotHandled();
    void ShowCloseButton();
    void Complete();
    void Cancelled();
    // The two lines at the end of a run: the heading (stateKey's text, or
    // kNothingHandledText when documents were tried and none was handled)
    // and the line below, which points to the record view only when the run
    // is in the record; then the documents not handled and why.
    void ShowEndLines(const char16_t* stateKey);
    // Writes the end event (completion or cancellation) and its FileEventLog
    // rows; only once per run, and only after a start event.
    void WriteEndEvent(bool cancelled);
    // Tells the user, once per run after its end event, what the store did
    // not keep.
    void TellStoreFailure();
    void ClosePath();

    const DocumentList* m_list = nullptr;
    int* m_count = nullptr;
    std::atomic<bool> m_stop{false};
    bool m_userStopped = false;
    int64_t m_eventId = 0;
    bool m_startWritten = false;
    bool m_recorded = false;  // start and end events both written
    bool m_endWritten = false;
    // The store's failed writes of this run, from its start event to its end
    // event: told once, when the run ends.
    std::unique_ptr<EventStoreFailureWatch> m_storeWatch;
    std::vector<int64_t> m_processed;
    std::vector<size_t> m_processedPositions;
    int m_notHandled = 0;
    int m_notFound = 0;
    std::u16string m_notHandledReason;
    bool m_otherReasons = false;

    std::thread m_worker;
    // guards: m_queue (the queue worker fills it, the step timer empties
    // it). Taken alone.
    std::mutex m_queueLock;
    std::deque<int> m_queue;

    QLabel* m_title = nullptr;
    QLabel* m_line1 = nullptr;
    ps::ui::CPathLabel* m_line2 = nullptr;
    QLabel* m_reasonLine = nullptr;  // below the progress bar, shown with a reason
    ps::ui::CProgressBar* m_progress = nullptr;
    ps::ui::ImageButton* m_btnStop = nullptr;
    ps::ui::ImageButton* m_btnX = nullptr;
    QPixmap m_background;
    int m_ids[5] = {};
};

class CDocumentDeleteDlg : public CDocumentActionDlg {
    Q_OBJECT
public:
    enum { IDD = 244, IDC_TITLE = 1117, IDC_STATE1 = 1119, IDC_STATE2 = 1120, IDC_PROGRESS = 1118, IDC_STOP = 1121 };
    explicit CDocumentDeleteDlg(QWidget* parent = nullptr);

protected:
    std::u16string TitleKey() const override { return u"DELETE_TITLE"; }
    int32_t StartEvent() const override { return 0x1000; }
    int32_t CancelEvent() const override { return 0x2000; }
    int32_t CompleteEvent() const override { return 0x3000; }
    bool ActOn(size_t i, std::u16string& reason) override;
};

class CDocumentExceptionDlg : public CDocumentActionDlg {
    Q_OBJECT
public:
    enum { IDD = 245, IDC_TITLE = 1122, IDC_STATE1 = 1123, IDC_STATE2 = 1124, IDC_PROGRESS = 1126, IDC_STOP = 1125 };
    // 0 add exceptions (search results), 1 add the exception of a document of
    // an abnormal end, 2 remove exceptions.
    explicit CDocumentExceptionDlg(QWidget* parent = nullptr, int mode = 0);
    void SetMode(int mode) { m_mode = mode; }
    int Mode() const { return m_mode; }

protected:
    std::u16string TitleKey() const override { return m_mode == 2 ? u"EXCEPT_DELETE_TITLE" : u"EXCEPT_ADD_TITLE"; }
    int32_t StartEvent() const override;
    int32_t CancelEvent() const override;
    int32_t CompleteEvent() const override;
    std::u16string FinishExplainKey() const override
    {
        return m_mode == 2 ? u"STATE_FIN_EXPLAIN" : u"STATE_FIN_EXCEPTION_EXPLAIN";
    }
    bool ActOn(size_t i, std::u16string& reason) override;
    // Releasing an exception, or excepting the document of an abnormal end,
    // holds for a document that is gone.
    bool NeedsDocument() const override { return m_mode == 0; }

private:
    int m_mode = 0;
};

class CDocumentEncryptDlg : public CDocumentActionDlg {
    Q_OBJECT
public:
    enum { IDD = 176, IDC_TITLE = 1091, IDC_STATE1 = 1085, IDC_STATE2 = 1086, IDC_PROGRESS = 1089, IDC_STOP = 1087 };
    explicit CDocumentEncryptDlg(QWidget* parent = nullptr);
    ~CDocumentEncryptDlg() override;

    // The archive password (wiped after the run) and the algorithm: 1 ZIP
    // 2.0, 2 AES-128, 3 AES-256.
    void SetPassword(const std::u16string& password);
    void SetAlgorithm(int algorithm) { m_algorithm = algorithm; }
    // Archives made, by document position (empty when none).
    const std::vector<std::u16string>& Archives() const { return m_archives; }

    qintptr OnUserMessage(int number, quintptr wParam, qintptr lParam) override;

protected:
    std::u16string TitleKey() const override { return u"ENCRYPT_TITLE"; }
    int32_t StartEvent() const override { return 0x100; }
    int32_t CancelEvent() const override { return 0x200; }
    int32_t CompleteEvent() const override;
    bool UsesQueue() const override { return false; }
    bool StartEngine() override;
    void StartWorker() override;
    void JoinWorker() override;

private:
    struct News {
        bool begin = false;  // item begun (else item ended)
        bool workerDone = false;
        size_t index = 0;
        ArchiveOutcome outcome{};
        std::u16string archive;
        std::u16string reason;  // why the document was not handled
    };
    void WorkerProc();
    void DrainNews();

    std::unique_ptr<DocumentArchiver> m_archiver;
    int m_algorithm = 3;
    // guards: m_news (the worker appends, the window takes them). Taken
    // alone; the worker posts its message after releasing it.
    std::mutex m_newsLock;
    std::vector<News> m_news;
    std::vector<std::u16string> m_archives;
    bool m_workerDone = false;
    std::atomic<bool> m_workerRunning{false};
};
