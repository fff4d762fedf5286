// The search session without a window: the order of what it reports, a
// stop, stored results, documents not read and a process killed inside a
// document. The documents are ".hwp" files read by a reader of the test
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
// the stop, "broken" reads nothing, "partial" gives its text and fails,
// "slow" takes a while; anything else is read whole.
std::atomic<int> g_reads{0};
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

// The session's reports, in the order they came.
struct Recorder : search::SessionSink {
    std::mutex lock;
    std::condition_variable cv;
    std::vector<std::string> log;  // "begin N", "document PATH COUNT", "unread PATH STATUS", ...
    std::vector<std::u16string> started;
    int walkEnded = 0, finished = 0, cancelled = 0, first = 0;
    std::vector<bool> fromStore;
    std::vector<plat::FileIdentity> identities;

    void Note(const std::string& line)
    {
        std::lock_guard<std::mutex> g(lock);
        log.push_back(line);
        cv.notify_all();
    }
    void Begin(int documents) override { Note("begin " + std::to_string(documents)); }
    void Progress(Step step, int index, const std::u16string& path) override
    {
        std::lock_guard<std::mutex> g(lock);
        switch (step) {
        case Step::FirstDocumentFound: ++first; break;
        case Step::WalkEnded: ++walkEnded; break;
        case Step::DocumentStarted:
            EXPECT_EQ(index, static_cast<int>(started.size()));
            started.push_back(path);
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
        std::lock_guard<std::mutex> g(lock);
        ++finished;
        cv.notify_all();
    }
    void Cancelled() override
    {
        std::lock_guard<std::mutex> g(lock);
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
    SessionTest() { g_reads = 0; }
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
    // One search from its start to its completion, as the window runs it.
    void RunToEnd(search::SearchSession& session, Recorder& sink, const search::SearchRequest& request)
    {
        const int walks = sink.walkEnded, ends = sink.finished;
        {
            std::lock_guard<std::mutex> g(sink.lock);
            sink.started.clear();
        }
        ASSERT_GT(session.Start(request), 0);
        ASSERT_TRUE(sink.Wait([&] { return sink.walkEnded > walks; }));
        session.StartAnalysis();
        ASSERT_TRUE(sink.Wait([&] { return sink.finished > ends; }));
        EXPECT_TRUE(session.Complete());
        EXPECT_TRUE(session.IsIdle());
        EXPECT_FALSE(session.AnalysisRunning());
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
    ASSERT_TRUE(sink.Wait([&] { return sink.walkEnded == 1; }));
    session.StartAnalysis();
    ASSERT_TRUE(sink.Wait([&] { return sink.started.size() >= 2; }));
    // The analysis is inside held.hwp: lastCheckFile names it.
    for (int i = 0; i < 500 && FirstLastCheckFile(ReadLastCheckFile()) != W(held); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(FirstLastCheckFile(ReadLastCheckFile()), W(held));
    EXPECT_FALSE(session.IsIdle());

    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(session.Stop());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
    EXPECT_FALSE(session.AnalysisRunning());
    EXPECT_TRUE(session.IsIdle());
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
    // A second stop, a completion after the stop: no second end event.
    EXPECT_FALSE(session.Stop());
    EXPECT_FALSE(session.Complete());
    EXPECT_EQ(Count("SELECT COUNT(*) FROM EventInfo WHERE Type IN (5, 6)"), 1);
    EXPECT_EQ(sink.cancelled, 1);
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
        search::SearchRequest request = Request();
        request.mask = rounds[r].mask;
        ASSERT_GT(session.Start(request), 0);
        ASSERT_TRUE(sink.Wait([&] { return sink.walkEnded > 0; }));
        // The document once more, as a walker reports it. The intake is the
        // walkers' alone (a private base): a C-style cast reaches it.
        auto again = std::make_unique<SearchFileInfo>();
        again->path = W(twice);
        again->fileSize = static_cast<uint64_t>(st.st_size);
        again->lastWriteTime = plat::FileTimeFromTimespec(st.st_mtim);
        auto& intake = (search::WalkSink&)session;
        ASSERT_TRUE(intake.AddFileInfo(std::move(again)));
        session.StartAnalysis();
        ASSERT_TRUE(sink.Wait([&] { return sink.finished > 0; }));
        EXPECT_TRUE(session.Complete());
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
        sink.Wait([&] { return sink.walkEnded == 1; });
        session.StartAnalysis();
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
        session.Start(Request());
        ASSERT_TRUE(sink.Wait([&] { return sink.walkEnded == 1; }));
        if (c.stop) {
            EXPECT_TRUE(session.Stop());
        } else {
            session.StartAnalysis();
            ASSERT_TRUE(sink.Wait([&] { return sink.finished == 1; }));
            EXPECT_TRUE(session.Complete());
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
