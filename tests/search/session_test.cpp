// The search session without a window: the order of what it reports and
// of its states, its own completion, a stop and its race with the
// completion, stored results, documents not read and a process killed
// inside a document. The documents are ".hwp" files read by a reader of the test
// (their bytes are their text), so each case says exactly what it reads.
#include "search/session.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/eventstore/store_fixture.h"
#include "platform/docfile.h"
#include "platform/system.h"
#include "platform/text.h"
#include "search/extractors.h"
#include "support/errorlist.h"

namespace ps_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::u16string W(const std::string& s) { return plat::PathFromNative(s); }

const std::string kPerson = "ID 800101-1234560\n";

// What the test reader does with a document, by its name: "held" waits for
// the stop, "gate" waits for g_gateOpen (or the stop) and reads nothing,
// "broken" reads nothing, "partial" gives its text and fails, "slow" takes a
// while; anything else is read whole.
std::atomic<int> g_reads{0};
std::atomic<bool> g_gateOpen{false};
EntryResult TestReader(const char16_t* path, const char16_t*, std::u16string* text, ReadError*)
{
    ++g_reads;
    const std::u16string p = path;
    // Opened as every reader opens its document.
    const int fd = plat::OpenDocumentFile(std::u16string_view(p));
    if (fd >= 0) close(fd);
    const std::string bytes = ReadFileBytes(plat::PathToNative(p));
    if (p.find(u"held") != std::u16string::npos) {
        while (!plat::ReadCancelled()) std::this_thread::sleep_for(5ms);
        return EntryResult::NotRead;
    }
    if (p.find(u"gate") != std::u16string::npos) {
        while (!g_gateOpen && !plat::ReadCancelled()) std::this_thread::sleep_for(5ms);
        return EntryResult::NotRead;
    }
    if (p.find(u"broken") != std::u16string::npos) return EntryResult::NotRead;
    *text += plat::Utf8ToWide(bytes);
    if (p.find(u"partial") != std::u16string::npos) return EntryResult::Failed;
    if (p.find(u"slow") != std::u16string::npos) std::this_thread::sleep_for(30ms);
    return EntryResult::Read;
}

// The program's readers with the test's reader for ".hwp": what each session
// of these tests reads with.
ExtractorTable TestReaders()
{
    ExtractorTable t = DefaultExtractorTable();
    t.hwp = &TestReader;
    return t;
}

// The session's reports, in the order they came, and the session's state at
// each kind of report (when it is given the session).
struct Recorder : search::SessionSink {
    std::mutex lock;
    std::condition_variable cv;
    std::vector<std::string> log;  // "begin N", "document PATH COUNT", "unread PATH STATUS", ...
    std::vector<std::u16string> started;
    int walkEnded = 0, finished = 0, cancelled = 0, first = 0;
    std::vector<bool> fromStore;
    std::vector<plat::FileIdentity> identities;
    const search::SearchSession* session = nullptr;
    std::vector<std::string> states;  // "first Walking", "walk-ended Analysing", ...
    // Called on the analysis thread when Finished comes, before it is counted.
    std::function<void()> onFinished;

    void NoteState(const char* report)
    {
        if (!session) return;
        static const char* const kNames[] = {"Idle", "Walking", "Analysing", "Completed", "Cancelled"};
        const std::string line = std::string(report) + " " + kNames[static_cast<int>(session->State())];
        // One line per kind of report and state, so repeats do not crowd it.
        if (std::find(states.begin(), states.end(), line) == states.end()) states.push_back(line);
    }

    void Note(const std::string& line)
    {
        std::lock_guard<std::mutex> g(lock);
        log.push_back(line);
        cv.notify_all();
    }
    void Begin(int documents) override
    {
        {
            std::lock_guard<std::mutex> g(lock);
            NoteState("begin");
        }
        Note("begin " + std::to_string(documents));
    }
    void Progress(Step step, int index, const std::u16string& path) override
    {
        std::lock_guard<std::mutex> g(lock);
        switch (step) {
        case Step::FirstDocumentFound:
            ++first;
            NoteState("first");
            break;
        case Step::WalkEnded:
            ++walkEnded;
            NoteState("walk-ended");
            break;
        case Step::DocumentStarted:
            EXPECT_EQ(index, static_cast<int>(started.size()));
            started.push_back(path);
            NoteState("started");
            break;
        case Step::TotalsChanged: break;
        }
        cv.notify_all();
    }
    void Document(SearchFileInfo* record, const PersonalInfoCounts& counts, int kind) override
    {
        {
            std::lock_guard<std::mutex> g(lock);
            fromStore.push_back(record->fromEventStore != 0);
            identities.push_back(record->identity);
        }
        Note("document " + plat::PathToNative(record->path) + " " + std::to_string(counts.Total()) + " kind " +
             std::to_string(kind));
    }
    void Unread(const SearchFileInfo& record, ScanStatus status) override
    {
        Note("unread " + plat::PathToNative(record.path) + " " + std::to_string(static_cast<int>(status)));
    }
    void Finished() override
    {
        if (onFinished) onFinished();
        std::lock_guard<std::mutex> g(lock);
        NoteState("finished");
        ++finished;
        cv.notify_all();
    }
    void Cancelled() override
    {
        std::lock_guard<std::mutex> g(lock);
        NoteState("cancelled");
        ++cancelled;
        cv.notify_all();
    }
    void StoreWriteFailed(const EventStoreFailure& first) override
    {
        std::lock_guard<std::mutex> g(lock);
        storeFailures.push_back(first.detail);
        cv.notify_all();
    }
    std::vector<std::u16string> storeFailures;
    template <typename Pred>
    bool Wait(Pred pred)
    {
        std::unique_lock<std::mutex> l(lock);
        return cv.wait_for(l, 30s, pred);
    }
};

class SessionTest : public EventStoreTest {
protected:
    SessionTest()
    {
        g_reads = 0;
        g_gateOpen = false;
    }
    std::string Put(const std::string& name, const std::string& text)
    {
        const std::string path = dir_.file("docs/" + name);
        fs::create_directories(fs::path(path).parent_path());
        EXPECT_TRUE(WriteFileBytes(path, text));
        return path;
    }
    search::SearchRequest Request() const
    {
        search::SearchRequest r;
        r.mode = 1;
        r.mask = 0x7F;
        r.include = {W(dir_.file("docs"))};
        r.extensions = {u"HWP"};
        return r;
    }
    // One search from its start to its completion: the session goes from
    // the walk to the analysis and to its end event by itself.
    void RunToEnd(search::SearchSession& session, Recorder& sink, const search::SearchRequest& request)
    {
        const int walks = sink.walkEnded, ends = sink.finished;
        {
            std::lock_guard<std::mutex> g(sink.lock);
            sink.started.clear();
        }
        ASSERT_GT(session.Start(request), 0);
        ASSERT_TRUE(sink.Wait([&] { return sink.finished > ends; }));
        EXPECT_EQ(sink.walkEnded, walks + 1);
        EXPECT_EQ(session.State(), search::SessionState::Completed);
        EXPECT_FALSE(session.IsSearching());
        session.JoinAnalysis();
        EXPECT_FALSE(session.AnalysisRunning());
    }
    // Waits until the session's state is `state` (it moves on by itself).
    bool WaitForState(const search::SearchSession& session, search::SessionState state)
    {
        for (int i = 0; i < 3000 && session.State() != state; ++i) std::this_thread::sleep_for(10ms);
        return session.State() == state;
    }
    long long Count(const std::string& sql)
    {
        RawDb db(dbPath());
        return db.Int(sql);
    }
};

TEST_F(SessionTest, ReportsInFolderOrderWhateverTheWorkersDo)
{
    // Folders differing in case stay apart; each folder's documents come
    // together, the folders in case-blind order.
    const std::string b1 = Put("b/slow1.hwp", kPerson);
    const std::string a1 = Put("A/one.hwp", kPerson + kPerson);
    const std::string c1 = Put("c/none.hwp", "nothing here");
    const std::string b2 = Put("b/two.hwp", kPerson);
    const std::string a2 = Put("A/slow2.hwp", kPerson);
    for (unsigned workers : {1u, 4u}) {
        SCOPED_TRACE(workers);
        Recorder sink;
        search::SearchSession session(sink);
        session.SetReaders(TestReaders());
        session.SetAnalysisWorkers(workers);
        RunToEnd(session, sink, Request());
        ASSERT_EQ(sink.started.size(), 5u);
        EXPECT_EQ(fs::path(plat::PathToNative(sink.started[0])).parent_path().filename(), "A");
        EXPECT_EQ(fs::path(plat::PathToNative(sink.started[2])).parent_path().filename(), "b");
        EXPECT_EQ(plat::PathToNative(sink.started[4]), c1);
        // Documents with hits, in the order they were started.
        std::vector<std::string> documents;
        for (const std::string& line : sink.log)
            if (line.rfind("document ", 0) == 0) documents.push_back(line);
        ASSERT_EQ(documents.size(), 4u);
        EXPECT_EQ(sink.log.front(), "begin 5");
        for (size_t i = 0; i < documents.size(); ++i)
            EXPECT_EQ(documents[i].substr(9, documents[i].find(' ', 9) - 9), plat::PathToNative(sink.started[i]));
        EXPECT_EQ(sink.first, 1);
        EXPECT_EQ(sink.walkEnded, 1);
        EXPECT_EQ(sink.finished, 1);
        EXPECT_EQ(sink.cancelled, 0);
        EXPECT_EQ(session.Total(kPersonalInfoResidentNumber), 5);
        EXPECT_EQ(session.DocumentCount(search::kKindAll), 4);
        EXPECT_EQ(session.DocumentCount(search::kKindHwp), 4);
        EXPECT_EQ(session.Total(search::kFirstKindTotal), 4);  // HWP documents with hits
        EXPECT_EQ(ReadLastCheckFile(), u"");
    }
    (void)a1, (void)a2, (void)b1, (void)b2;
    // Each run: its start and its completion, with the totals.
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 4"), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 6"), 2);
    EXPECT_EQ(Count("SELECT SUM(ID) FROM SearchEventLog"), 2 * 5);
    EXPECT_EQ(Count("SELECT SUM(HWP) FROM SearchEventLog"), 2 * 4);
}

TEST_F(SessionTest, StopInsideADocumentEndsEverythingAndWritesOneEndEvent)
{
    Put("a/first.hwp", kPerson);
    const std::string held = Put("b/held.hwp", kPerson);
    Put("c/after.hwp", kPerson);
    Recorder sink;
    search::SearchSession session(sink);
    session.SetReaders(TestReaders());
    session.SetAnalysisWorkers(1);
    ASSERT_GT(session.Start(Request()), 0);
    ASSERT_TRUE(sink.Wait([&] { return sink.started.size() >= 2; }));
    // The analysis is inside held.hwp: lastCheckFile names it.
    for (int i = 0; i < 500 && FirstLastCheckFile(ReadLastCheckFile()) != W(held); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(FirstLastCheckFile(ReadLastCheckFile()), W(held));
    EXPECT_EQ(session.State(), search::SessionState::Analysing);
    EXPECT_TRUE(session.IsSearching());

    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(session.Stop());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
    EXPECT_FALSE(session.AnalysisRunning());
    EXPECT_EQ(session.State(), search::SessionState::Cancelled);
    EXPECT_FALSE(session.IsSearching());
    EXPECT_TRUE(session.IsCancelled());
    EXPECT_EQ(sink.cancelled, 1);
    EXPECT_EQ(sink.finished, 0);
    EXPECT_EQ(ReadLastCheckFile(), u"");
    // The stopped document is neither stored nor counted unread.
    EXPECT_EQ(session.Total(kPersonalInfoResidentNumber), 1);
    EXPECT_EQ(session.UnreadDocuments(), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo WHERE Name = 'held.hwp'"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 5"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 6"), 0);
    // A second stop: no second end event, and no completion either.
    EXPECT_FALSE(session.Stop());
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type IN (5, 6)"), 1);
    EXPECT_EQ(sink.cancelled, 1);
    EXPECT_EQ(sink.finished, 0);
}

// Nobody steers the session: it walks, analyses and completes by itself.
// When the sink hears Finished, the completion event with its totals is
// already written and lastCheckFile cleared.
TEST_F(SessionTest, MovesThroughItsStatesAndWritesItsCompletionByItself)
{
    Put("a/one.hwp", kPerson);
    Put("b/two.hwp", kPerson + kPerson);
    Put("c/none.hwp", "nothing here");
    Recorder sink;
    search::SearchSession session(sink);
    session.SetReaders(TestReaders());
    sink.session = &session;
    EXPECT_EQ(session.State(), search::SessionState::Idle);
    EXPECT_FALSE(session.IsSearching());
    long long endEvents = -1, residents = -1;
    std::u16string mark = u"unread";
    sink.onFinished = [&] {
        endEvents = Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 6");
        residents = Count("SELECT ID FROM SearchEventLog");
        mark = ReadLastCheckFile();
    };
    ASSERT_GT(session.Start(Request()), 0);
    ASSERT_TRUE(sink.Wait([&] { return sink.finished == 1; }));
    EXPECT_EQ(endEvents, 1);
    EXPECT_EQ(residents, 3);
    EXPECT_EQ(mark, u"");
    {
        std::lock_guard<std::mutex> g(sink.lock);
        EXPECT_EQ(sink.states, (std::vector<std::string>{"first Walking", "walk-ended Analysing", "begin Analysing",
                                                         "started Analysing", "finished Completed"}));
    }
    EXPECT_EQ(session.State(), search::SessionState::Completed);
    EXPECT_GT(session.SearchEventId(), 0);
    // Finished was the analysis thread's last call.
    session.JoinAnalysis();
    EXPECT_FALSE(session.AnalysisRunning());
    // A stop after the completion stops nothing and writes nothing.
    EXPECT_FALSE(session.Stop());
    EXPECT_EQ(session.State(), search::SessionState::Completed);
    EXPECT_EQ(sink.cancelled, 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type IN (5, 6)"), 1);
}

// The analysis has read its last document and is writing the completion
// event (held up by another program's lock on the database) when the stop
// comes: the completion has won, the stop writes nothing, raises no cancel
// that would make the completion's write give up, and returns once that
// write is done.
TEST_F(SessionTest, AStopWhileTheCompletionIsWrittenWaitsForItAndWritesNothing)
{
    // The completion waits for the lock as long as it is held.
    SetEventStoreBusyTimeout(CppSQLite3DB::kDefaultBusyTimeoutMs);
    Put("a/one.hwp", kPerson);
    Put("b/gate.hwp", "read last, reads nothing");
    Recorder sink;
    search::SearchSession session(sink);
    session.SetReaders(TestReaders());
    session.SetAnalysisWorkers(1);
    ASSERT_GT(session.Start(Request()), 0);
    ASSERT_TRUE(sink.Wait([&] { return sink.started.size() == 2; }));
    // one.hwp is stored; the gate document stores nothing (it is not read).
    RawDb holder(dbPath());
    ASSERT_EQ(0, holder.Exec("BEGIN IMMEDIATE"));
    g_gateOpen = true;
    ASSERT_TRUE(WaitForState(session, search::SessionState::Completed));
    {
        std::lock_guard<std::mutex> g(sink.lock);
        EXPECT_EQ(sink.finished, 0);  // its end event is not written yet
    }
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 6"), 0);
    // The other program lets go a little later, or already has: either way
    // the stop returns with the completion written.
    std::thread release([&] {
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(0, holder.Exec("ROLLBACK"));
    });
    EXPECT_FALSE(session.Stop());
    release.join();
    EXPECT_FALSE(session.AnalysisRunning());
    EXPECT_EQ(session.State(), search::SessionState::Completed);
    EXPECT_FALSE(session.IsCancelled());
    EXPECT_EQ(sink.finished, 1);
    EXPECT_EQ(sink.cancelled, 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 6"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 5"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SearchEventLog"), 1);
    EXPECT_EQ(ReadLastCheckFile(), u"");
}

// A stop as the last document is shown races the analysis to the end:
// whichever wins, the search has exactly one end event, its sink hears
// exactly one of Finished and Cancelled, and the state says which.
TEST_F(SessionTest, AStopRacingTheLastDocumentEndsTheSearchOnce)
{
    Put("a/one.hwp", kPerson);
    Put("b/two.hwp", kPerson);
    const int runs = 20;
    int stopped = 0;
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE(run);
        Recorder sink;
        search::SearchSession session(sink);
        session.SetReaders(TestReaders());
        ASSERT_GT(session.Start(Request()), 0);
        ASSERT_TRUE(sink.Wait([&] { return sink.fromStore.size() == 2 || sink.finished > 0; }));
        // Each run stops a little later, so that both ends are met; which
        // one wins does not change what must hold.
        std::this_thread::sleep_for(std::chrono::microseconds(100 * run));
        const bool cancelled = session.Stop();
        stopped += cancelled;
        EXPECT_FALSE(session.AnalysisRunning());
        std::lock_guard<std::mutex> g(sink.lock);
        EXPECT_EQ(sink.cancelled, cancelled ? 1 : 0);
        EXPECT_EQ(sink.finished, cancelled ? 0 : 1);
        EXPECT_EQ(session.State(),
                  cancelled ? search::SessionState::Cancelled : search::SessionState::Completed);
    }
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 4"), runs);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 5"), stopped);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 6"), runs - stopped);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SearchEventLog"), runs);
    EXPECT_EQ(ReadLastCheckFile(), u"");
}

TEST_F(SessionTest, StoredResultsAreTakenWithoutReading)
{
    Put("a/one.hwp", kPerson);
    Put("a/two.hwp", kPerson + kPerson);
    Put("b/none.hwp", "no personal information");
    Recorder sink;
    search::SearchSession session(sink);
    session.SetReaders(TestReaders());
    RunToEnd(session, sink, Request());
    EXPECT_EQ(g_reads.load(), 3);
    const std::vector<std::string> firstRun = sink.log;
    const std::vector<bool> firstStore = sink.fromStore;
    EXPECT_EQ(firstStore, (std::vector<bool>{false, false}));

    sink.log.clear();
    sink.fromStore.clear();
    sink.started.clear();
    RunToEnd(session, sink, Request());
    EXPECT_EQ(g_reads.load(), 3);  // nothing read again
    EXPECT_EQ(sink.log, firstRun);
    EXPECT_EQ(sink.fromStore, (std::vector<bool>{true, true}));
    EXPECT_EQ(session.Total(kPersonalInfoResidentNumber), 3);

    // Another mask is another key: read again.
    search::SearchRequest other = Request();
    other.mask = 0x01;
    RunToEnd(session, sink, other);
    EXPECT_EQ(g_reads.load(), 6);
}

// Each document shown carries the identity of the file read, or, when its
// stored result was taken, of the file found at its path in this run: what
// an action on it later checks.
TEST_F(SessionTest, EachDocumentKeepsTheIdentityOfTheFileRead)
{
    const std::vector<std::string> paths = {Put("a/one.hwp", kPerson), Put("b/two.hwp", kPerson)};
    auto identityNow = [](const std::string& path) {
        struct stat st{};
        EXPECT_EQ(lstat(path.c_str(), &st), 0);
        return plat::IdentityOf(st);
    };
    Recorder sink;
    search::SearchSession session(sink);
    session.SetReaders(TestReaders());
    RunToEnd(session, sink, Request());
    ASSERT_EQ(sink.identities.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(sink.identities[i].Known());
        EXPECT_EQ(sink.identities[i], identityNow(paths[i]));
    }
    // The second one replaced by a copy with the same size and time: its
    // stored result is taken, with the identity of the copy.
    const std::string copy = paths[1] + ".new";
    fs::copy_file(paths[1], copy);
    fs::last_write_time(copy, fs::last_write_time(paths[1]));
    fs::rename(copy, paths[1]);
    sink.identities.clear();
    sink.fromStore.clear();
    RunToEnd(session, sink, Request());
    EXPECT_EQ(sink.fromStore, (std::vector<bool>{true, true}));
    ASSERT_EQ(sink.identities.size(), 2u);
    EXPECT_EQ(sink.identities[0], identityNow(paths[0]));
    EXPECT_EQ(sink.identities[1], identityNow(paths[1]));
}

TEST_F(SessionTest, UnreadDocumentsAreCountedShownInPartAndNeverStoredAsResults)
{
    const std::string broken = Put("a/broken.hwp", kPerson);
    const std::string partial = Put("a/partial.hwp", kPerson);
    const std::string good = Put("a/good.hwp", kPerson);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Recorder sink;
        search::SearchSession session(sink);
        session.SetReaders(TestReaders());
        RunToEnd(session, sink, Request());
        EXPECT_EQ(session.UnreadDocuments(), 2);
        std::vector<std::string> unread, documents;
        for (const std::string& line : sink.log) {
            if (line.rfind("unread ", 0) == 0) unread.push_back(line);
            if (line.rfind("document ", 0) == 0) documents.push_back(line);
        }
        // Within a folder the walk's order holds.
        std::sort(unread.begin(), unread.end());
        std::sort(documents.begin(), documents.end());
        EXPECT_EQ(unread, (std::vector<std::string>{"unread " + broken + " " + std::to_string(static_cast<int>(ScanStatus::NoText)),
                                                   "unread " + partial + " " + std::to_string(static_cast<int>(ScanStatus::Partial))}));
        // What was read of the partial document is shown beside the good one.
        EXPECT_EQ(documents, (std::vector<std::string>{"document " + good + " 1 kind 1",
                                                      "document " + partial + " 1 kind 1"}));
        EXPECT_EQ(session.Total(kPersonalInfoResidentNumber), 2);
        // Stored under a blank key, so each round reads it again.
        EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo WHERE Hash = ''"), round + 1);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo WHERE Name = 'broken.hwp'"), 0);
    }
    EXPECT_EQ(g_reads.load(), 2 + 2 + 1);  // the good one is stored after the first round
}

// The day's error-file list on a full disk: each search counts the lines it
// could not write (its unread documents the list does not name) on its own,
// from zero: another session's losses are not its own, and its next search
// starts again.
TEST_F(SessionTest, LinesTheErrorListCouldNotTakeAreCountedPerSearch)
{
    Put("a/broken.hwp", kPerson);
    Put("a/partial.hwp", kPerson);
    Put("a/good.hwp", kPerson);
    const fs::path list = ErrorListPath(plat::LocalTimeNow());
    fs::create_directories(list.parent_path());
    fs::remove(list);
    fs::create_symlink("/dev/full", list);
    Recorder firstSink, secondSink;
    search::SearchSession first(firstSink), second(secondSink);
    first.SetReaders(TestReaders());
    second.SetReaders(TestReaders());
    RunToEnd(first, firstSink, Request());
    EXPECT_EQ(first.UnreadDocuments(), 2);
    EXPECT_EQ(first.UnlistedDocuments(), 2);
    RunToEnd(second, secondSink, Request());
    EXPECT_EQ(second.UnlistedDocuments(), 2);
    EXPECT_EQ(first.UnlistedDocuments(), 2);

    fs::remove(list);
    RunToEnd(first, firstSink, Request());
    EXPECT_EQ(first.UnreadDocuments(), 2);
    EXPECT_EQ(first.UnlistedDocuments(), 0);
    EXPECT_EQ(second.UnlistedDocuments(), 2);
    EXPECT_NE(TodaysErrorList().find("/a/partial.hwp"), std::string::npos);
}

// A document found twice in one search (two walks reaching one folder) is
// read once: its second finding takes the result the first one stored.
TEST_F(SessionTest, ADocumentFoundTwiceIsReadOnce)
{
    const std::string twice = Put("a/twice.hwp", kPerson);
    Put("a/other.hwp", kPerson + kPerson);
    struct stat st {};
    ASSERT_EQ(::stat(twice.c_str(), &st), 0);
    // Each round has its own mask, so its own keys: nothing stored before.
    const struct { unsigned workers; uint32_t mask; } rounds[] = {{1, 0x7F}, {4, 0x01}};
    for (int r = 0; r < 2; ++r) {
        SCOPED_TRACE(r);
        g_reads = 0;
        Recorder sink;
        search::SearchSession session(sink);
        session.SetReaders(TestReaders());
        session.SetAnalysisWorkers(rounds[r].workers);
        // A whole-computer search whose one drive is the documents' folder.
        // The walk's end starts the analysis at once, so the second finding
        // comes in while the start asks for the drives, before the walk: the
        // document once more, as a walker reports it. The intake is the
        // walkers' alone (a private base): a C-style cast reaches it.
        bool added = false;
        session.SetDriveProvider([&] {
            if (!added) {
                added = true;
                auto again = std::make_unique<SearchFileInfo>();
                again->path = W(twice);
                again->fileSize = static_cast<uint64_t>(st.st_size);
                again->lastWriteTime = plat::FileTimeFromTimespec(st.st_mtim);
                auto& intake = (search::WalkSink&)session;
                EXPECT_TRUE(intake.AddFileInfo(std::move(again)));
            }
            search::DriveEnvironment env;
            env.mountInfo = "10 1 0:100 / " + dir_.file("docs") + " rw - ext4 none rw\n";
            env.sysfsRoot = "/nonexistent/sys";
            env.devRoot = "/nonexistent/dev";
            env.openVolume = [](const std::string&) { return nullptr; };  // no device is read
            return env;
        });
        search::SearchRequest request = Request();
        request.mode = 0;
        request.include.clear();
        request.mask = rounds[r].mask;
        ASSERT_GT(session.Start(request), 0);
        EXPECT_TRUE(added);
        ASSERT_TRUE(sink.Wait([&] { return sink.finished > 0; }));
        EXPECT_EQ(session.State(), search::SessionState::Completed);
        ASSERT_EQ(session.FoundCount(), 3u);
        EXPECT_EQ(g_reads.load(), 2);
        std::vector<std::string> documents;
        for (const std::string& line : sink.log)
            if (line.rfind("document ", 0) == 0) documents.push_back(line);
        std::sort(documents.begin(), documents.end());
        ASSERT_EQ(documents.size(), 3u);
        EXPECT_EQ(documents[1], "document " + twice + " 1 kind 1");
        EXPECT_EQ(documents[2], documents[1]);
        EXPECT_EQ(std::count(sink.fromStore.begin(), sink.fromStore.end(), true), 1);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo"), 2 * (r + 1));
    }
}

TEST_F(SessionTest, DocumentsOfExcludedFoldersAreNotTakenIn)
{
    Put("keep/a.hwp", kPerson);
    Put("skip/b.hwp", kPerson);
    Recorder sink;
    search::SearchSession session(sink);
    session.SetReaders(TestReaders());
    search::SearchRequest request = Request();
    request.exclude = {W(dir_.file("docs/skip"))};
    RunToEnd(session, sink, request);
    EXPECT_EQ(session.FoundCount(), 1u);
    ASSERT_EQ(sink.started.size(), 1u);
    EXPECT_EQ(plat::PathToNative(sink.started[0]), dir_.file("docs/keep/a.hwp"));
}

TEST_F(SessionTest, AProcessKilledInsideADocumentLeavesItsMarkAndNoEndEvent)
{
    Put("a/first.hwp", kPerson);
    const std::string held = Put("b/held.hwp", kPerson);
    DeleteLastCheckFile();
    // The child must not share this process's connection.
    ExitEventDatabase();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        OpenEventDatabase(W(dbPath()));
        Recorder sink;
        search::SearchSession session(sink);
        session.SetReaders(TestReaders());
        session.SetAnalysisWorkers(2);
        session.Start(Request());
        std::this_thread::sleep_for(60s);  // killed long before
        _exit(3);
    }
    bool inside = false;
    for (int i = 0; i < 3000 && !inside; ++i) {
        inside = FirstLastCheckFile(ReadLastCheckFile()) == W(held);
        if (!inside) std::this_thread::sleep_for(10ms);
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    OpenEventDatabase(W(dbPath()));
    ASSERT_TRUE(inside) << "the child never reached held.hwp";
    EXPECT_TRUE(WIFSIGNALED(status));
    // The next start finds the document named, the search begun and never ended.
    EXPECT_EQ(FirstLastCheckFile(ReadLastCheckFile()), W(held));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type = 4"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type IN (5, 6)"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo WHERE Name = 'held.hwp'"), 0);
    DeleteLastCheckFile();
}

}  // namespace
}  // namespace ps_test

namespace ps_test {
namespace {

// Writes refused by the database (a trigger of another program) while a
// search runs: the sink hears of the first one once per search, whichever
// write it was, the search goes on and shows what it found, and a document
// whose row was not stored keeps no row index for the actions to use.
TEST_F(SessionTest, AFailedWriteReachesTheSinkOncePerSearchAndTheSearchGoesOn)
{
    Put("a/one.hwp", kPerson);
    Put("a/two.hwp", kPerson);
    Put("b/three.hwp", kPerson);
    // A search that is stopped also reads a document that waits for the stop,
    // so that the stop surely comes before the search completes.
    const std::string held = dir_.file("held/held.hwp");
    fs::create_directories(fs::path(held).parent_path());
    ASSERT_TRUE(WriteFileBytes(held, kPerson));
    auto refuse = [&](const std::string& table, const std::string& when) {
        RawDb raw(dbPath());
        ASSERT_EQ(0, raw.Exec("CREATE TRIGGER Refuse" + table + " BEFORE INSERT ON " + table + when +
                              " BEGIN SELECT RAISE(ABORT, 'refused " + table + "'); END"));
    };
    auto allow = [&](const std::string& table) {
        RawDb raw(dbPath());
        ASSERT_EQ(0, raw.Exec("DROP TRIGGER IF EXISTS Refuse" + table));
    };
    struct Case {
        const char* name;
        std::string table, when;  // the refused inserts
        bool stop;                // ended by Stop rather than completed
        int notices;
    } cases[] = {
        {"results", "FileInfo", "", false, 1},
        {"start and end events", "EventInfo", "", false, 1},
        {"end event only", "EventInfo", " WHEN NEW.Type = 6", false, 1},
        {"cancel event only", "EventInfo", " WHEN NEW.Type = 5", true, 1},
        {"nothing", "", "", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            RawDb raw(dbPath());
            ASSERT_EQ(0, raw.Exec("DELETE FROM PersonalInfo; DELETE FROM FileInfo"));
        }
        if (!c.table.empty()) refuse(c.table, c.when);
        Recorder sink;
        search::SearchSession session(sink);
        session.SetReaders(TestReaders());
        // A failure before the search is not the search's.
        EXPECT_FALSE(ExecuteWithRetry(u"INSERT INTO NoSuchTable VALUES (1)"));
        search::SearchRequest request = Request();
        if (c.stop) request.include.push_back(W(dir_.file("held")));
        session.Start(request);
        if (c.stop) {
            ASSERT_TRUE(sink.Wait([&] { return !sink.started.empty() && sink.started.back() == W(held); }));
            EXPECT_TRUE(session.Stop());
        } else {
            ASSERT_TRUE(sink.Wait([&] { return sink.finished == 1; }));
            EXPECT_EQ(session.State(), search::SessionState::Completed);
            // Every document is shown, stored or not.
            int documents = 0;
            for (const std::string& line : sink.log) documents += line.rfind("document ", 0) == 0;
            EXPECT_EQ(documents, 3);
            EXPECT_EQ(session.Total(kPersonalInfoResidentNumber), 3);
        }
        // A failure after the search's end is not the search's either.
        EXPECT_FALSE(ExecuteWithRetry(u"INSERT INTO NoSuchTable VALUES (1)"));
        {
            std::lock_guard<std::mutex> g(sink.lock);
            ASSERT_EQ(static_cast<int>(sink.storeFailures.size()), c.notices);
            if (c.notices) {
                EXPECT_NE(sink.storeFailures[0].find(plat::PathFromNative("refused " + c.table)),
                          std::u16string::npos);
            }
        }
        if (c.table == "FileInfo") {
            EXPECT_EQ(Count("SELECT COUNT(*) FROM FileInfo"), 0);
        }
        if (!c.table.empty()) allow(c.table);
    }
}

}  // namespace
}  // namespace ps_test
