#include "search/session.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <unordered_set>

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

// Case-blind comparison of folder texts (ASCII letters), then exact, so that
// folders differing only in case stay apart and keep their documents together.
int CompareNoCase(std::u16string_view a, std::u16string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// A stored result of the document, if the event store can say: a store that
// cannot be read makes the document read again instead of ending the search.
bool FindStoredResult(const DocumentKey& key, PersonalInfoMask mask, PersonalInfoCounts& counts, int64_t& fileIndex)
{
    try {
        return FindFileInfoByHash(key.Text(), mask, counts, fileIndex);
    } catch (const CppSQLite3Exception& e) {
        SearchLog().Write(u"A stored result could not be read: %s", e.ErrorMessage().c_str());
        counts = PersonalInfoCounts();
        fileIndex = 0;
        return false;
    }
}

// The identity of the file at a path (a link at its end not followed, as the
// walk does not follow one): for a document whose stored result is used,
// the file this run found there. Not known when nothing is there.
plat::FileIdentity IdentityAtPath(const std::u16string& path)
{
    struct stat st{};
    if (::lstat(plat::PathToNative(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return plat::IdentityOf(st);
}

// Reads and matches one document on a worker of the analysis pool: every
// document the search reads starts here.
void ReadOneDocument(const std::u16string& path, PersonalInfoMask mask, const CancelFlag* cancel, DocumentResult& result)
{
    // A fault while the document is read names it for the next start.
    plat::CrashNoteScope crashNote(path);
    result.status = FindPersonalInfoInFile(path, result.counts, mask, cancel, &result.hits, &result.identity);
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
    if (!m_engine) m_engine = std::make_unique<CNTFSSearch>();
    m_engine->SetDriveProvider(std::move(provider));
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
    m_linesLostAtStart = ErrorFileListLinesLost();
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
    if (!m_engine) m_engine = std::make_unique<CNTFSSearch>();
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
        std::stable_sort(m_foundFiles.begin(), m_foundFiles.end(), [](const auto& a, const auto& b) {
            const std::u16string_view fa = a->Folder(), fb = b->Folder();
            const int c = CompareNoCase(fa, fb);
            return c != 0 ? c < 0 : fa < fb;
        });
        for (const auto& f : m_foundFiles) files.push_back(f.get());
    }
    const int n = static_cast<int>(files.size());
    m_sink.Begin(n);
    // The note a reader's fault leaves names a document of this analysis.
    plat::ArmCrashNote();

    // The documents are read on the pool, ahead of this thread, which takes
    // their results back one by one in the order of the list: rows, events
    // and counts come exactly as if it read each document itself.
    // lastCheckFile names every document being read, one a line.
    const unsigned workers = std::max(
        1u, std::min(m_analysisWorkers ? m_analysisWorkers : AnalysisPool::DefaultWorkers(),
                     static_cast<unsigned>(std::max(n, 1))));
    AnalysisPool pool(
        workers,
        [mask](const std::u16string& path, const CancelFlag* cancel, DocumentResult& result) {
            ReadOneDocument(path, mask, cancel, result);
        },
        &m_cancel,
        [](const std::u16string& lines) {
            if (lines.empty())
                DeleteLastCheckFile();
            else
                WriteRegistryString(HKEY_CURRENT_USER_ROOT, kRunKey, u"lastCheckFile", lines, false);
        });

    // What this thread learnt of a document when it handed it out.
    struct Ahead {
        bool stored = false;   // a stored result: not read
        bool recheck = false;  // shares its key with a document read in this run
        PersonalInfoCounts counts;
        int64_t fileIndex = 0;
    };
    std::vector<Ahead> ahead(files.size());
    // The keys handed to the pool in this run, by their whole digest: a
    // document is never taken for another one read in this run.
    struct DigestHash {
        size_t operator()(const DocumentKey::Digest& d) const noexcept
        {
            size_t h;
            std::memcpy(&h, d.data(), sizeof h);
            return h;
        }
    };
    std::unordered_set<DocumentKey::Digest, DigestHash> readKeys;
    int next = 0;
    // Hands documents out up to the one the loop is at, and further while
    // the pool wants more. A stored result is looked up here, so only
    // documents without one go to the pool. A document whose key an earlier
    // one of this run has (found twice) is looked up again when its turn
    // comes, when the earlier one's result is stored.
    auto handOut = [&](int at) {
        while (next < n && !m_cancel && (next <= at || pool.WantsMore())) {
            SearchFileInfo* record = files[next];
            Ahead& a = ahead[next];
            // Every key this session makes is a digest; a key of another
            // form would only be looked up again, never skipped.
            const DocumentKey::Digest* digest = record->documentKey.digest();
            if (digest && readKeys.count(*digest)) {
                a.recheck = true;
            } else if (FindStoredResult(record->documentKey, mask, a.counts, a.fileIndex)) {
                a.stored = true;
            } else {
                if (digest) readKeys.insert(*digest);
                pool.Submit(static_cast<size_t>(next), record->path);
            }
            ++next;
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
        SearchFileInfo* record = files[i];
        m_sink.Progress(SessionSink::Step::DocumentStarted, i, record->path);
        Ahead& a = ahead[i];
        if (a.recheck) {
            a.stored = FindStoredResult(record->documentKey, mask, a.counts, a.fileIndex);
            if (!a.stored) pool.SubmitFirst(static_cast<size_t>(i), record->path);
        }
        PersonalInfoCounts counts;
        if (a.stored) {
            record->fromEventStore = 1;
            record->fileIndex = a.fileIndex;
            record->identity = IdentityAtPath(record->path);
            counts = a.counts;
        } else {
            DocumentResult result;
            bool taken = false;
            while (!m_cancel &&
                   !(taken = pool.Take(static_cast<size_t>(i), result, std::chrono::milliseconds(50), next < n)))
                handOut(i);
            if (!taken) result.status = ScanStatus::Cancelled;
            record->identity = result.identity;
            const ScanStatus status = result.status;
            if (status == ScanStatus::Done) {
                counts = result.counts;
                // The row and its hits in one transaction: a run that ends
                // in between leaves neither.
                const int64_t fileIndex = AddFileInfoWithHits(counts, *record, result.hits);
                if (fileIndex > 0) record->fileIndex = fileIndex;
            } else if (status == ScanStatus::Cancelled || m_cancel) {
                // A read the stop cut short is neither stored nor counted.
                completed = false;
                break;
            } else {
                // Not read to its end: never stored as a result. What was
                // read of it is shown, and the document counted unread.
                ++m_unreadDocuments;
                if (status == ScanStatus::Partial) {
                    counts = result.counts;
                    if (counts.Total() != 0) {
                        // Stored under a blank key, which no later search
                        // takes as this document's result.
                        SearchFileInfo unkeyed = *record;
                        unkeyed.documentKey.clear();
                        const int64_t fileIndex = AddFileInfoWithHits(counts, unkeyed, result.hits);
                        if (fileIndex > 0) record->fileIndex = fileIndex;
                    }
                }
                m_sink.Unread(*record, status);
            }
        }
        if (m_cancel) {
            plat::DebugOutput(u"IS_CANCLED_RETURN_VALUE");
            completed = false;
            break;
        }
        if (counts.Total() != 0) {
            for (int k = 0; k < kPersonalInfoKindCount; ++k) m_totals[k] += counts[k];
            const int kind = DocumentKindOfName(record->FileName());
            if (kind > 0) ++m_totals[kFirstKindTotal + (kind - 1)];
            m_sink.Document(record, counts, kind);
            ++m_kindCounts[kKindAll];
            if (kind > 0) ++m_kindCounts[kind];
            m_sink.Progress(SessionSink::Step::TotalsChanged, i, {});
        }
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
