#include "search/session.h"

#include <algorithm>
#include <chrono>

#include "core/crypt.h"
#include "core/eventstore/CppSQLite3.h"
#include "core/eventstore/eventqueries.h"
#include "core/eventstore/eventstore.h"
#include "core/eventstore/eventtables.h"
#include "core/eventstore/eventtypes.h"
#include "core/logmgr.h"
#include "core/registry.h"
#include "core/util.h"
#include "platform/crashnote.h"
#include "platform/codec.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/wformat.h"
#include "search/analysis.h"
#include "search/analysispool.h"

int DocumentKindOfName(std::u16string_view fileName)
{
    const size_t dot = fileName.rfind(u'.');
    if (dot == std::u16string::npos) return -1;
    const int kind = DocumentKindOfExtension(plat::ToUpperAscii(fileName.substr(dot + 1)));
    return kind < 0 ? -1 : search::kKindAll + 1 + kind;
}

DocumentKey DocumentKeyOf(const SearchFileInfo& record, PersonalInfoMask mask)
{
    const std::u16string text =
        plat::FormatWide(u"%s_%I64u_%I64u_%d", record.path.c_str(), static_cast<unsigned long long>(record.fileSize),
                         static_cast<unsigned long long>(record.lastWriteTime), static_cast<int32_t>(mask));
    // The key text in code page 949, as stored results and exceptions have
    // always been keyed. A path that code page cannot hold (characters
    // outside it, bytes that are not UTF-8) would lose its differences in
    // the substitution and share another document's key: such a path is
    // keyed by its lossless UTF-8 form instead, behind a byte that code page
    // 949 never produces.
    std::string bytes = ToNarrow(text);
    if (plat::DecodeCodePage(plat::kCp949, bytes) != text) bytes = "\xFF" + plat::PathToNative(text);
    Util::Crypt::Sha256 sha;
    sha.Update(bytes.data(), bytes.size());
    sha.Final();
    static_assert(Util::Crypt::Sha256::kDigestSize == DocumentKey::kDigestSize);
    DocumentKey::Digest digest;
    std::copy_n(sha.Digest(), digest.size(), digest.begin());
    return DocumentKey::FromDigest(digest);
}

std::u16string MakeDocumentKey(const SearchFileInfo& record, PersonalInfoMask mask)
{
    return DocumentKeyOf(record, mask).Text();
}

namespace search {

namespace {

// Reads and matches one document on a worker of the analysis pool: every
// document the search reads starts here.
void ReadOneDocument(ScanContext& context, const std::u16string& path, PersonalInfoMask mask,
                     const CancelFlag* cancel, DocumentResult& result)
{
    // A fault while the document is read names it for the next start.
    plat::CrashNoteScope crashNote(path);
    result.status =
        FindPersonalInfoInFile(context, path, result.counts, mask, cancel, &result.hits, &result.identity);
}

}  // namespace

SearchSession::SearchSession(SessionSink& sink) : m_sink(sink)
{
    m_foundFiles.reserve(1000);
}

SearchSession::~SearchSession()
{
    Shutdown();
    m_engine.reset();
}

bool SearchSession::IsDriveRoot(const std::u16string& path)
{
    if (path == u"/") return true;
    const DriveEnvironment env = SystemDriveEnvironment();
    for (const auto& drive : ListDrives(env.mountInfo, env.sysfsRoot, env.devRoot))
        if (drive.type != DriveType::Unknown && drive.rootPath == path) return true;
    return false;
}

void SearchSession::SetDriveProvider(std::function<DriveEnvironment()> provider)
{
    MakeEngine();
    m_engine->SetDriveProvider(std::move(provider));
}

void SearchSession::MakeEngine()
{
    if (m_engine) return;
    m_engine = std::make_unique<CNTFSSearch>();
    // The walk's lines of the error-file list count with the readers'.
    m_engine->SetScanContext(&m_scan);
}

size_t SearchSession::FoundCount() const
{
    std::lock_guard<plat::RankedMutex> g(m_foundLock);
    return m_foundFiles.size();
}

void SearchSession::ClearFoundFiles()
{
    std::lock_guard<plat::RankedMutex> g(m_foundLock);
    m_foundFiles.clear();
}

int SearchSession::UnreadDocuments(int* folders) const
{
    int walk = 0;
    if (m_engine) {
        walk = m_engine->UnreadCount(folders);
    } else if (folders) {
        *folders = 0;
    }
    return m_unreadDocuments.load() + walk;
}

bool SearchSession::AnalysisRunning() const
{
    std::lock_guard<plat::RankedMutex> g(m_intakeLock);
    return m_analysis.joinable();
}

void SearchSession::JoinAnalysis()
{
    // The walk's end may start the thread on a walker: taken over under the
    // intake lock, joined outside it (the analysis never takes that lock).
    std::thread analysis;
    {
        std::lock_guard<plat::RankedMutex> g(m_intakeLock);
        analysis = std::move(m_analysis);
    }
    if (!analysis.joinable()) return;
    // The analysis thread never waits for the owner (it only reports), so a
    // cooperative stop always ends it: the cancel flag is checked between
    // documents and inside the matcher.
    analysis.join();
    AppLog().Write(u"m_pSearchThread Thread Exit Well");
}

// ---- Start and end -----------------------------------------------------------------

int64_t SearchSession::Start(const SearchRequest& request)
{
    JoinAnalysis();
    ClearFoundFiles();
    m_request = request;
    std::sort(m_request.extensions.begin(), m_request.extensions.end());
    m_firstAccepted = false;
    for (auto& t : m_totals) t = 0;
    for (auto& c : m_kindCounts) c = 0;
    m_unreadDocuments = 0;
    m_scan.ResetLinesLost();
    m_cancel = 0;
    m_state = SessionState::Walking;
    WatchStoreWrites(true);
    // Kept here too: the end event's id replaces the member once the search
    // has ended, which may be before this returns.
    const int64_t startEventId =
        AddEvent(m_request.mode == 0 ? EVENT_ALL_SEARCH_START : EVENT_USER_SEARCH_START);
    m_searchEventId = startEventId;
    std::vector<std::u16string> texts;
    try {
        LoadExceptionHashes(texts);
    } catch (const CppSQLite3Exception& e) {
        // Without the list every document is searched: more shown, none hidden.
        texts.clear();
        SearchLog().Write(u"The exception list could not be read: %s", e.ErrorMessage().c_str());
    }
    std::vector<DocumentKey> keys(texts.begin(), texts.end());
    std::sort(keys.begin(), keys.end());
    {
        std::lock_guard<plat::RankedMutex> g(m_intakeLock);
        m_exceptionKeys = std::move(keys);
    }
    bool driveSelected = false;
    for (const auto& p : m_request.include) {
        AppLog().Write(u"IncludePath(%s)", p.c_str());
        if (IsDriveRoot(p)) driveSelected = true;
    }
    AppLog().Write(u"SearchType : %s, bDriveSelected : %d", m_request.mode == 0 ? u"AllSearch" : u"UserSearch",
                   driveSelected ? 1 : 0);
    MakeEngine();
    if (m_request.mode == 1 && !driveSelected)
        m_engine->StartRecursive(*this, m_request.extensions, m_request.include);
    else
        m_engine->Start(*this, m_request.extensions, m_request.include);
    return startEventId;
}

void SearchSession::WatchStoreWrites(bool on)
{
    if (!on) {
        m_storeWatchOn = false;
        return;
    }
    if (!m_storeWatch)
        m_storeWatch = std::make_unique<EventStoreFailureWatch>([this](const EventStoreFailure& first) {
            // On the writing thread, perhaps under the store lock: only the
            // sink's hand-over, which posts.
            if (m_storeWatchOn) m_sink.StoreWriteFailed(first);
        });
    else
        m_storeWatch->Reset();
    m_storeWatchOn = true;
}

bool SearchSession::EndSearch(SessionState end)
{
    SessionState running = m_state.load();
    while (running == SessionState::Walking || running == SessionState::Analysing)
        if (m_state.compare_exchange_weak(running, end)) return true;
    return false;
}

void SearchSession::WriteEndEvent(bool completed)
{
    const bool all = m_request.mode == 0;
    const int64_t endEventId = AddEvent(completed ? (all ? EVENT_ALL_SEARCH_COMPLETE : EVENT_USER_SEARCH_COMPLETE)
                                                  : (all ? EVENT_ALL_SEARCH_CANCEL : EVENT_USER_SEARCH_CANCEL));
    m_searchEventId = endEventId;
    PersonalInfoCounts counts;
    DocumentKindCounts kinds{};
    for (int k = 0; k < kPersonalInfoKindCount; ++k) counts[k] = m_totals[k].load();
    for (int k = 0; k < kDocumentKindCount; ++k) kinds[k] = m_totals[kFirstKindTotal + k].load();
    AddSearchEventLog(endEventId, counts, kinds);
}

bool SearchSession::Stop()
{
    if (!EndSearch(SessionState::Cancelled)) {
        // Not running. An analysis that completed first may still be writing
        // its end event: written when this returns. The cancel flag stays
        // down, or that write would give up.
        JoinAnalysis();
        return false;
    }
    m_cancel = 1;
    if (m_engine) m_engine->Stop();
    // The analysis thread ends on the cancel flag, between documents or
    // inside the matcher; nothing of the search outlives this call, and the
    // end event carries exactly the totals the rows show.
    JoinAnalysis();
    WriteEndEvent(false);
    WatchStoreWrites(false);
    DeleteLastCheckFile();
    m_sink.Cancelled();
    return true;
}

void SearchSession::Shutdown()
{
    {
        std::lock_guard<plat::RankedMutex> g(m_intakeLock);
        if (m_shutDown) return;
        m_shutDown = true;
    }
    // A running search ends here without an event; a completion that won
    // writes its own, so the cancel flag is raised only for a search ended here.
    if (EndSearch(SessionState::Cancelled)) {
        m_cancel = 1;
        if (m_engine) m_engine->Stop();
    }
    JoinAnalysis();
    WatchStoreWrites(false);
}

// ---- Intake (walker threads) ----------------------------------------------------------

bool SearchSession::AddFileInfo(std::unique_ptr<SearchFileInfo> record)
{
    // A record that is not kept is freed on return. The session cannot end
    // its sink calls while this runs: Shutdown takes the same lock first.
    std::lock_guard<plat::RankedMutex> g(m_intakeLock);
    if (m_shutDown) return false;
    if (!record) return true;
    if (m_request.mode == 1) {
        for (const auto& folder : m_request.exclude)
            if (IsPathUnderFolder(record->path, folder)) return true;
    }
    record->documentKey = DocumentKeyOf(*record, m_request.mask);
    auto it = std::lower_bound(m_exceptionKeys.begin(), m_exceptionKeys.end(), record->documentKey);
    if (it != m_exceptionKeys.end() && *it == record->documentKey) return true;
    {
        std::lock_guard<plat::RankedMutex> l(m_foundLock);
        m_foundFiles.push_back(std::move(record));
    }
    if (!m_firstAccepted.exchange(true)) m_sink.Progress(SessionSink::Step::FirstDocumentFound, 0, {});
    return true;
}

void SearchSession::FinishFileSearch()
{
    std::lock_guard<plat::RankedMutex> g(m_intakeLock);
    SearchLog().Write(u"FinishFileSearch Start. alive[%d]", m_shutDown ? 0 : 1);
    if (m_shutDown) return;
    // The walk is over: nothing appends to the found list any more, and the
    // analysis goes on, unless a stop came first. The thread is made under
    // the intake lock, where the owner's JoinAnalysis finds it.
    SessionState walking = SessionState::Walking;
    if (!m_state.compare_exchange_strong(walking, SessionState::Analysing)) return;
    m_sink.Progress(SessionSink::Step::WalkEnded, 0, {});
    m_analysis = std::thread([this] { AnalysisThreadProc(); });
}

// ---- Analysis ---------------------------------------------------------------------------

void SearchSession::AnalysisThreadProc()
{
    // A stop ends this thread's waits for a busy event store at once.
    EventStoreCancelScope storeCancel(&m_cancel);
    const PersonalInfoMask mask = m_request.mask;
    WriteRegistryDword(HKEY_CURRENT_USER_ROOT, kRunKey, u"findPSInfoFlag", mask, false);
    // The walk has ended: nothing appends to the list any more.
    // The list keeps the records; this thread borrows them.
    std::vector<SearchFileInfo*> files;
    {
        std::lock_guard<plat::RankedMutex> l(m_foundLock);
        AnalysisPlan::Order(m_foundFiles);
        for (const auto& f : m_foundFiles) files.push_back(f.get());
    }
    AnalysisPlan plan(std::move(files), mask, &FindStoredResult);
    const int n = plan.Count();
    m_sink.Begin(n);
    // The note a reader's fault leaves names a document of this analysis.
    plat::ArmCrashNote();

    // The documents are read on the pool, ahead of this thread, which takes
    // their results back one by one in the order of the plan: rows, events
    // and counts come exactly as if it read each document itself.
    // lastCheckFile names every document being read, one a line.
    const unsigned workers = std::max(
        1u, std::min(m_analysisWorkers ? m_analysisWorkers : AnalysisPool::DefaultWorkers(),
                     static_cast<unsigned>(std::max(n, 1))));
    ScanContext& scan = m_scan;
    AnalysisPool pool(
        workers,
        [&scan, mask](const std::u16string& path, const CancelFlag* cancel, DocumentResult& result) {
            ReadOneDocument(scan, path, mask, cancel, result);
        },
        &m_cancel,
        [](const std::u16string& lines) {
            if (lines.empty())
                DeleteLastCheckFile();
            else
                WriteRegistryString(HKEY_CURRENT_USER_ROOT, kRunKey, u"lastCheckFile", lines, false);
        });
    AnalysisWriter writer(m_sink, m_totals, m_kindCounts, m_unreadDocuments, &AddFileInfoWithHits);

    // Plans documents up to the one the loop is at, and further while the
    // pool wants more: only documents without a stored result go to it.
    auto handOut = [&](int at) {
        while (!plan.AllPlanned() && !m_cancel && (plan.Planned() <= at || pool.WantsMore())) {
            const int i = plan.Planned();
            if (plan.PlanNext()) pool.Submit(static_cast<size_t>(i), plan[i].record->path);
        }
    };

    bool completed = true;
    for (int i = 0; i < n; ++i) {
        if (m_cancel) {
            plat::DebugOutput(u"IS_CANCLED_RETURN_VALUE");
            completed = false;
            break;
        }
        handOut(i);
        SearchFileInfo* record = plan[i].record;
        m_sink.Progress(SessionSink::Step::DocumentStarted, i, record->path);
        if (plan.ReadAtTurn(i)) pool.SubmitFirst(static_cast<size_t>(i), record->path);
        DocumentResult result;
        bool taken = false;
        if (!plan[i].stored) {
            while (!m_cancel &&
                   !(taken = pool.Take(static_cast<size_t>(i), result, std::chrono::milliseconds(50),
                                       !plan.AllPlanned())))
                handOut(i);
        }
        const DocumentOutcome outcome = OutcomeOf(plan[i], taken ? &result : nullptr, m_cancel != 0);
        writer.Record(*record, outcome);
        if (outcome.kind == DocumentOutcome::Kind::Cancelled) {
            completed = false;
            break;
        }
        if (m_cancel) {
            plat::DebugOutput(u"IS_CANCLED_RETURN_VALUE");
            completed = false;
            break;
        }
        writer.Count(i, record, outcome.counts);
    }
    // Queued documents are dropped; a worker inside a document ends on the
    // cancel flag or at the document's end.
    pool.Stop();
    // Every document read: the search completes here unless a stop ended it
    // first, in which case the stop writes the end event.
    completed = completed && EndSearch(SessionState::Completed);
    if (completed) {
        WriteEndEvent(true);
        WatchStoreWrites(false);
    }
    // Every clean end of the analysis clears the document mark: only a run
    // that dies inside a document leaves it for the next start.
    DeleteLastCheckFile();
    if (completed) m_sink.Finished();
}

}  // namespace search
