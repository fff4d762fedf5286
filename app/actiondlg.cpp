#include "app/actiondlg.h"

#include <QFontMetrics>
#include <QPainter>
#include <cerrno>

#include "app/appcore.h"
#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/eventstore/eventtables.h"
#include "core/logmgr.h"
#include "core/uitext.h"
#include "platform/text.h"
#include "platform/wformat.h"

using namespace ps::ui;

namespace {
constexpr int kBackground = 217;
constexpr int kStopStrip = 219;
constexpr int kCloseStrip = 218;
}  // namespace

// ---- The common frame -------------------------------------------------------------

CDocumentActionDlg::CDocumentActionDlg(QWidget* parent, int titleId, int line1Id, int line2Id, int progressId,
                                       int stopId)
    : CSkinDialog(parent), m_ids{titleId, line1Id, line2Id, progressId, stopId}
{
    m_title = new QLabel(this);
    m_line1 = new QLabel(this);
    m_line2 = new CPathLabel(this);
    m_reasonLine = new QLabel(this);
    m_reasonLine->hide();
    for (QLabel* l : {m_title, m_line1, m_reasonLine}) {
        l->setAttribute(Qt::WA_TranslucentBackground);
        l->setStyleSheet("background: transparent; color: rgb(51, 51, 51);");
    }
    // The path line carries a tooltip: its colours come from the palette.
    m_line2->setAttribute(Qt::WA_TranslucentBackground);
    QPalette pal = m_line2->palette();
    pal.setColor(QPalette::WindowText, QColor(51, 51, 51));
    m_line2->setPalette(pal);
    m_title->setObjectName(QString::number(titleId));
    m_line1->setObjectName(QString::number(line1Id));
    m_line2->setObjectName(QString::number(line2Id));
    m_progress = new CProgressBar(this);
    m_progress->setObjectName(QString::number(progressId));
    m_btnStop = new ImageButton(this);
    m_btnStop->setObjectName(QString::number(stopId));
    m_btnX = new ImageButton(this);
    m_btnX->setObjectName(QString::number(IDC_CLOSE_X));
    connect(m_btnStop, &QAbstractButton::clicked, this, [this] { OnBnClickedStop(); });
    connect(m_btnX, &QAbstractButton::clicked, this, [this] { OnBnClickedX(); });
    SetCaptionBand(30);
    SetKeyPolicy({KeyAction::Ok, KeyAction::Cancel, KeyAction::Swallow});
}

CDocumentActionDlg::~CDocumentActionDlg()
{
    // Never left running: the worker stops on its flag and is joined.
    m_stop = true;
    if (m_worker.joinable()) m_worker.join();
}

bool CDocumentActionDlg::OnInitDialog()
{
    m_background = SkinBitmap(kBackground);
    m_btnStop->LoadBitmapStrip(kStopStrip, 2);
    m_btnX->LoadBitmaps(155, 157, 156);
    m_progress->LoadBitmap(267);
    const int n = static_cast<int>(DocumentCount());
    m_progress->setRange(0, n);
    m_progress->setValue(0);
    m_title->setFont(FontBold12());
    m_line1->setFont(FontBold12());
    m_line2->setFont(Font11());
    m_reasonLine->setFont(Font11());
    m_title->setText(ToQ(GetText(TitleKey())));
    m_title->adjustSize();

    const int w = m_background.isNull() ? 400 : m_background.width();
    const int h = m_background.isNull() ? 158 : m_background.height();
    setFixedSize(w, h);
    SetRoundRegion(w, h, 2, 2);
    m_title->move(10, 10);
    m_line1->setGeometry(20, 49, w - 40, 16);
    m_line2->setGeometry(20, 66, w - 40, 15);
    m_btnX->move(w - 23, 6);
    m_btnStop->move(w / 2 - 37, h - 40);
    m_progress->setGeometry(20, h / 2 + 5, w - 40, 16);
    m_reasonLine->setGeometry(20, h / 2 + 23, w - 40, 15);
    setWindowTitle(m_title->text());

    if (!StartEngine()) return false;
    if (UsesQueue()) {
        SetTimer(IDT_ACTION_START, 500);
        SetTimer(IDT_ACTION_STEP, 1);
    } else {
        SetTimer(IDT_ACTION_START, 1);
    }
    return true;
}

void CDocumentActionDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (!m_background.isNull()) p.drawPixmap(0, 0, m_background);
}

void CDocumentActionDlg::SetLines(const std::u16string& line1, const std::u16string& line2)
{
    m_line1->setText(ToQ(line1));
    m_line2->SetPlainLine(ToQ(line2));
}

void CDocumentActionDlg::SetProgressLines(size_t i)
{
    // The path is cut in its middle when the line is too narrow; the
    // document's name and the count "(i/n)" are always whole.
    const std::u16string format = GetText(u"PROGRESS_STATUS");
    const std::u16string marked =
        plat::FormatWide(format.c_str(), u"\x01", static_cast<int>(i + 1), static_cast<int>(DocumentCount()));
    const size_t at = marked.find(u'\x01');
    m_line1->setText(ToQ(GetText(u"STATE_ING")));
    if (at == std::u16string::npos) {
        m_line2->SetPlainLine(ToQ(ProgressText(i)));
        return;
    }
    m_line2->SetPathLine(ToQ(marked.substr(0, at)), ToQ((*m_list)[i].path), ToQ(marked.substr(at + 1)));
}

void CDocumentActionDlg::SetLineKeys(const char16_t* key1, const char16_t* key2)
{
    SetLines(GetText(key1), GetText(key2));
}

std::u16string CDocumentActionDlg::ProgressText(size_t i) const
{
    const std::u16string format = GetText(u"PROGRESS_STATUS");
    const std::u16string& path = (*m_list)[i].path;
    return plat::FormatWide(format.c_str(), path.c_str(), static_cast<int>(i + 1), static_cast<int>(DocumentCount()));
}

void CDocumentActionDlg::MarkProcessed(size_t i)
{
    m_processed.push_back((*m_list)[i].FileIndex);
    m_processedPositions.push_back(i);
}

void CDocumentActionDlg::MarkNotHandled(const std::u16string& reason)
{
    ++m_notHandled;
    if (reason == FileErrorText(ENOENT)) ++m_notFound;
    if (reason.empty()) return;
    if (m_notHandledReason.empty()) m_notHandledReason = reason;
    else if (reason != m_notHandledReason) m_otherReasons = true;
}

void CDocumentActionDlg::ShowNotHandled()
{
    if (m_notHandled <= 0) return;
    // A document that is gone is not "left as it was": the line says which
    // of the documents not handled are still there.
    std::u16string line;
    if (m_notFound == 0) line = plat::FormatWide(CDocumentActionDlg::kNotHandledText, m_notHandled);
    else if (m_notFound == m_notHandled) line = plat::FormatWide(CDocumentActionDlg::kNotFoundText, m_notFound);
    else
        line = plat::FormatWide(CDocumentActionDlg::kSomeNotFoundText, m_notHandled, m_notFound,
                                m_notHandled - m_notFound);
    m_line2->SetPlainLine(ToQ(line));
    if (m_notHandledReason.empty()) return;
    const std::u16string reason = m_notHandledReason + (m_otherReasons ? u" 외" : u"");
    const QString text = ToQ(plat::FormatWide(CDocumentActionDlg::kNotHandledReasonText, reason.c_str()));
    // Too long for the line: cut with an ellipsis, the whole text on hover.
    m_reasonLine->setText(QFontMetrics(m_reasonLine->font()).elidedText(text, Qt::ElideRight, m_reasonLine->width()));
    m_reasonLine->setToolTip(text);
    m_reasonLine->show();
}

void CDocumentActionDlg::ShowCloseButton() { m_btnStop->LoadBitmapStrip(kCloseStrip, 2); }

void CDocumentActionDlg::StartWorker()
{
    // The queue worker only numbers the documents; the step timer acts.
    m_worker = std::thread([this] {
        const size_t n = DocumentCount();
        for (size_t i = 0; i < n; ++i) {
            {
                std::lock_guard<std::mutex> g(m_queueLock);
                m_queue.push_back(static_cast<int>(i + 1));
            }
            if (m_stop) break;
        }
    });
}

void CDocumentActionDlg::JoinWorker()
{
    if (m_worker.joinable()) m_worker.join();
}

void CDocumentActionDlg::OnTimer(int id)
{
    switch (id) {
    case IDT_ACTION_START:
        KillTimer(IDT_ACTION_START);
        m_storeWatch = std::make_unique<EventStoreFailureWatch>();
        m_eventId = AddEvent(StartEvent());
        m_startWritten = true;
        if (!m_worker.joinable()) StartWorker();
        return;
    case IDT_ACTION_STEP: {
        // After a stop no further document is taken.
        if (m_stop) {
            KillTimer(IDT_ACTION_STEP);
            return;
        }
        std::lock_guard<std::mutex> g(m_queueLock);
        if (m_queue.empty() || m_queue.front() == 0) return;
        const int n = m_queue.front();
        m_queue.pop_front();
        const size_t i = static_cast<size_t>(n - 1);
        SetProgressLines(i);
        std::u16string reason;
        if (NeedsDocument() && DocumentIsGone((*m_list)[i].path)) {
            MarkNotHandled(FileErrorText(ENOENT));
        } else if (ActOn(i, reason)) {
            MarkProcessed(i);
        } else {
            if (!reason.empty()) SearchLog().Write(u"Not handled(%s): %s", (*m_list)[i].path.c_str(), reason.c_str());
            MarkNotHandled(reason);
        }
        m_progress->setValue(n);
        if (static_cast<size_t>(n) == DocumentCount()) SetTimer(IDT_ACTION_COMPLETE, 1);
        return;
    }
    case IDT_ACTION_COMPLETE:
        KillTimer(IDT_ACTION_COMPLETE);
        KillTimer(IDT_ACTION_STEP);
        Complete();
        return;
    case IDT_ACTION_CANCELLED:
        KillTimer(IDT_ACTION_CANCELLED);
        KillTimer(IDT_ACTION_STEP);
        Cancelled();
        return;
    default: return;
    }
}

void CDocumentActionDlg::Complete()
{
    {
        std::lock_guard<std::mutex> g(m_queueLock);
        m_queue.clear();
    }
    // A stop that came with the last document: the run ended by the stop.
    if (m_userStopped) {
        Cancelled();
        return;
    }
    m_progress->setValue(static_cast<int>(DocumentCount()));
    m_stop = true;
    ShowCloseButton();
    // The end event first: whether the run is in the record decides what
    // the lines say.
    WriteEndEvent(false);
    ShowEndLines(u"STATE_FIN");
    TellStoreFailure();
}

void CDocumentActionDlg::Cancelled()
{
    WriteEndEvent(true);
    ShowEndLines(u"STATE_CANCEL");
    TellStoreFailure();
}

void CDocumentActionDlg::ShowEndLines(const char16_t* stateKey)
{
    // "처리 완료" over a run that handled nothing would read as a success.
    const bool nothingHandled =
        m_notHandled > 0 && m_processed.empty() && std::u16string_view(stateKey) == u"STATE_FIN";
    const std::u16string heading = nothingHandled ? std::u16string(kNothingHandledText) : GetText(stateKey);
    // The record view shows only runs the store kept. The exception list
    // holds every document counted as excepted (a document counts only once
    // its row was written), so its pointer stays.
    const std::u16string explainKey = FinishExplainKey();
    const bool pointsToRecord = explainKey == u"STATE_FIN_EXPLAIN";
    SetLines(heading, pointsToRecord && !m_recorded ? std::u16string(kNotRecordedText) : GetText(explainKey));
    ShowNotHandled();
}

void CDocumentActionDlg::WriteEndEvent(bool cancelled)
{
    if (!m_startWritten || m_endWritten) return;
    m_endWritten = true;
    // A document whose row was never stored (index 0) has no row to refer to.
    std::vector<int64_t> stored;
    for (int64_t fileIndex : m_processed)
        if (fileIndex > 0) stored.push_back(fileIndex);
    const bool started = m_eventId > 0;
    m_eventId = AddEventWithFiles(cancelled ? CancelEvent() : CompleteEvent(), stored);
    m_recorded = started && m_eventId > 0;
}

void CDocumentActionDlg::TellStoreFailure()
{
    // Once per run, after its last write: what the store did not keep.
    EventStoreFailure first;
    if (m_storeWatch && m_storeWatch->TakeNotice(first)) ShowMessageBox(EventStoreFailureText(first), u"", 1, this);
    m_storeWatch.reset();
}

void CDocumentActionDlg::OnBnClickedStop()
{
    if (!m_stop) {
        SetLineKeys(u"STATE_CANCEL", u"STATE_FIN_EXPLAIN");
        m_stop = true;
        m_userStopped = true;
        ShowCloseButton();
        if (!m_startWritten) {
            // Stopped before anything began: no run, no events, nothing
            // in the record view.
            m_line2->SetPlainLine(ToQ(std::u16string(kNotRecordedText)));
            KillTimer(IDT_ACTION_START);
            KillTimer(IDT_ACTION_STEP);
            return;
        }
        if (UsesQueue() && !HasTimer(IDT_ACTION_CANCELLED) && !m_endWritten) SetTimer(IDT_ACTION_CANCELLED, 1);
        return;
    }
    ClosePath();
}

void CDocumentActionDlg::OnBnClickedX()
{
    if (!m_stop) m_userStopped = true;
    m_stop = true;
    KillTimer(IDT_ACTION_START);
    ClosePath();
}

void CDocumentActionDlg::ClosePath()
{
    m_stop = true;
    JoinWorker();
    KillTimer(IDT_ACTION_STEP);
    KillTimer(IDT_ACTION_COMPLETE);
    KillTimer(IDT_ACTION_CANCELLED);
    // Every run that began ends with exactly one end event.
    if (m_startWritten && !m_endWritten) {
        if (m_processed.size() + static_cast<size_t>(m_notHandled) == DocumentCount() && !m_userStopped)
            WriteEndEvent(false);
        else
            WriteEndEvent(true);
        TellStoreFailure();
    }
    if (m_count) *m_count = static_cast<int>(m_processed.size());
    EndDialog(m_processed.size() == DocumentCount() ? IDOK : IDCANCEL);
}

// ---- Delete -------------------------------------------------------------------------

CDocumentDeleteDlg::CDocumentDeleteDlg(QWidget* parent)
    : CDocumentActionDlg(parent, IDC_TITLE, IDC_STATE1, IDC_STATE2, IDC_PROGRESS, IDC_STOP)
{
}

bool CDocumentDeleteDlg::ActOn(size_t i, std::u16string& reason)
{
    // Counted only when this deletion took the document from its folder
    // (one that was gone already was not deleted here). Only the file the
    // search read is deleted, by its name in its folder held open.
    const DocumentItem& item = (*m_list)[i];
    int error = 0;
    switch (RemoveDocument(item.path, item.identity, nullptr, &error)) {
    case RemoveOutcome::Deleted:
    case RemoveOutcome::MovedAside: return true;
    case RemoveOutcome::Missing: reason = FileErrorText(ENOENT); return false;
    case RemoveOutcome::Replaced: reason = kDocumentReplacedText; return false;
    case RemoveOutcome::Stayed:
        reason = error ? u"문서를 지우지 못함 (" + FileErrorText(error) + u")" : u"문서를 지우지 못함";
        return false;
    }
    return false;
}

// ---- Exceptions -----------------------------------------------------------------------

CDocumentExceptionDlg::CDocumentExceptionDlg(QWidget* parent, int mode)
    : CDocumentActionDlg(parent, IDC_TITLE, IDC_STATE1, IDC_STATE2, IDC_PROGRESS, IDC_STOP), m_mode(mode)
{
}

int32_t CDocumentExceptionDlg::StartEvent() const
{
    return m_mode == 1 ? 0x70000 : m_mode == 2 ? 0x40000 : 0x10000;
}
int32_t CDocumentExceptionDlg::CancelEvent() const
{
    return m_mode == 1 ? 0x80000 : m_mode == 2 ? 0x50000 : 0x20000;
}
int32_t CDocumentExceptionDlg::CompleteEvent() const
{
    return m_mode == 1 ? 0x90000 : m_mode == 2 ? 0x60000 : 0x30000;
}

bool CDocumentExceptionDlg::ActOn(size_t i, std::u16string& reason)
{
    const DocumentItem& item = (*m_list)[i];
    const int64_t fileIndex = item.FileIndex;
    // A document counts only when its rows were written: a release that
    // fails leaves every row of the document as it was, and the window's
    // last line tells how many documents were not handled.
    // A document whose row was never stored has no row to except or release.
    if (fileIndex <= 0) {
        reason = u"검색 결과가 기록되지 않아 처리할 수 없음";
        return false;
    }
    if (m_mode == 2) {
        if (ReleaseException(fileIndex)) return true;
        reason = u"예외처리 해제를 기록하지 못함";
        return false;
    }
    // A search result is excepted only while its name holds the file the
    // search read: the result says nothing of another file.
    if (m_mode == 0) {
        const DocumentFolder folder(item.path);
        int error = folder.Opened() ? 0 : folder.OpenError();
        const IdentityCheck check = folder.Opened() ? CheckDocumentIdentity(folder, item.identity, &error)
                                    : error == ENOENT || error == ENOTDIR ? IdentityCheck::Missing
                                                                          : IdentityCheck::Failed;
        switch (check) {
        case IdentityCheck::Same: break;
        case IdentityCheck::Missing: reason = FileErrorText(ENOENT); return false;
        case IdentityCheck::Replaced: reason = kDocumentReplacedText; return false;
        case IdentityCheck::Failed: reason = FileErrorText(error); return false;
        }
    }
    // The rows refer to this run's start event.
    if (AddExceptionInfo(fileIndex, m_eventId)) return true;
    reason = u"예외처리를 기록하지 못함";
    return false;
}

// ---- Encrypt ----------------------------------------------------------------------------

CDocumentEncryptDlg::CDocumentEncryptDlg(QWidget* parent)
    : CDocumentActionDlg(parent, IDC_TITLE, IDC_STATE1, IDC_STATE2, IDC_PROGRESS, IDC_STOP),
      m_archiver(std::make_unique<DocumentArchiver>())
{
}

CDocumentEncryptDlg::~CDocumentEncryptDlg()
{
    m_stop = true;
    if (m_worker.joinable()) m_worker.join();
    m_archiver.reset();  // wipes the password, unloads the engine
}

void CDocumentEncryptDlg::SetPassword(const std::u16string& password) { m_archiver->SetPassword(password); }

int32_t CDocumentEncryptDlg::CompleteEvent() const
{
    return m_algorithm == 1 ? 0x300 : m_algorithm == 2 ? 0x400 : 0x500;
}

bool CDocumentEncryptDlg::StartEngine()
{
    if (m_archiver->Start()) return true;
    ShowMessageBox(GetText(u"ERROR_MSG_HARROW_INITIALIZE_FAILED"), u"", 1, this);
    m_archiver->ClearPassword();
    if (m_count) *m_count = 0;
    EndDialog(IDCANCEL);
    return false;
}

void CDocumentEncryptDlg::StartWorker()
{
    m_archiver->SetAlgorithm(m_algorithm);
    m_archiver->stopFlag = &m_stop;
    m_workerRunning = true;
    m_worker = std::thread([this] {
        WorkerProc();
        m_workerRunning = false;
    });
}

void CDocumentEncryptDlg::WorkerProc()
{
    // Never waits for the window: everything is queued and announced by a
    // posted message, so the window can always join this thread.
    auto tell = [this](News n) {
        {
            std::lock_guard<std::mutex> g(m_newsLock);
            m_news.push_back(std::move(n));
        }
        PostUserMessage(this, UM_WORKER_NEWS);
    };
    const size_t count = DocumentCount();
    for (size_t i = 0; i < count; ++i) {
        if (m_stop) break;
        const std::u16string& path = (*m_list)[i].path;
        tell(News{true, false, i, ArchiveOutcome::Failed, {}, {}});
        const std::u16string archive = MakeArchiveName(path);
        SearchLog().Write(u"OutputFileName(%s), InputFileName(%s)", archive.c_str(), path.c_str());
        const ArchiveOutcome outcome = m_archiver->EncryptDocument(path, (*m_list)[i].identity);
        if (outcome == ArchiveOutcome::Failed || outcome == ArchiveOutcome::DocumentStayed)
            SearchLog().Write(u"Encrypt is Failed(%s)[%d]: %s", path.c_str(),
                              static_cast<int>(m_archiver->LastItemResult()), m_archiver->LastFailureReason().c_str());
        tell(News{false, false, i, outcome, m_archiver->LastArchivePath(), m_archiver->LastFailureReason()});
    }
    m_archiver->ClearPassword();
    tell(News{false, true, 0, ArchiveOutcome::Failed, {}, {}});
}

void CDocumentEncryptDlg::DrainNews()
{
    std::vector<News> news;
    {
        std::lock_guard<std::mutex> g(m_newsLock);
        news.swap(m_news);
    }
    const size_t n = DocumentCount();
    for (News& e : news) {
        if (e.workerDone) {
            m_workerDone = true;
            continue;
        }
        if (e.begin) {
            if (!m_stop) SetProgressLines(e.index);
            continue;
        }
        if (m_archives.size() < n) m_archives.resize(n);
        m_archives[e.index] = e.archive;
        if (e.outcome == ArchiveOutcome::Done) MarkProcessed(e.index);
        else if (e.outcome != ArchiveOutcome::Cancelled) MarkNotHandled(e.reason);
        m_progress->setValue(static_cast<int>(m_stop ? m_processed.size() : e.index + 1));
    }
}

void CDocumentEncryptDlg::JoinWorker()
{
    // The worker stops at its next block once the flag is set; it is never
    // ended by force.
    if (m_worker.joinable()) {
        if (m_workerRunning) {
            SearchLog().Write(u"Thrad Still Active.");
            m_worker.join();
            SearchLog().Write(u"Thread Exit is Well.");
        } else {
            m_worker.join();
            SearchLog().Write(u"Thread is Finished.");
        }
    }
    DrainNews();  // what the worker reported before it ended
    m_archiver->ClearPassword();
}

qintptr CDocumentEncryptDlg::OnUserMessage(int number, quintptr, qintptr)
{
    if (number != UM_WORKER_NEWS) return 0;
    DrainNews();
    if (m_workerDone && !m_endWritten) {
        if (m_worker.joinable()) m_worker.join();
        if (m_userStopped) {
            Cancelled();
        } else {
            SetTimer(IDT_ACTION_COMPLETE, 1);
        }
    }
    return 0;
}
