// session-scan [--runs N] DB DIR...: runs a folder search over DIR... as the
// search window does (a search session writing to the event database DB)
// and prints what the session reports, in its order: one line per document
// with hits ("doc", its kind, whether its result came from the store, the
// seven counts, the path), one per document not read to its end ("unread",
// its status, the path), then the search's totals. With --runs N the same
// search runs N times over one database (the later runs take stored
// results). Two builds' outputs compare line for line.
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/documentkinds.h"
#include "core/eventstore/eventstore.h"
#include "platform/text.h"
#include "search/session.h"
#include "tools/toolhelp.h"

namespace {

const char kUsage[] =
    "usage: session-scan [--runs N] DB DIR...\n"
    "Runs a folder search over the folders with the event database DB and prints\n"
    "the documents with hits, the unread documents and the totals.\n";

struct Printer : search::SessionSink {
    std::mutex lock;
    std::condition_variable cv;
    bool finished = false;
    std::vector<std::string> lines;

    void Begin(int documents) override
    {
        std::lock_guard<std::mutex> g(lock);
        lines.push_back("begin\t" + std::to_string(documents));
    }
    void Progress(Step, int, const std::u16string&) override {}
    void Document(SearchFileInfo* record, const PersonalInfoCounts& counts, int kind) override
    {
        std::string line = "doc\t" + std::to_string(kind) + "\t" + std::to_string(record->fromEventStore);
        for (int k = 0; k < kPersonalInfoKindCount; ++k) line += "\t" + std::to_string(counts[k]);
        line += "\t" + plat::PathToNative(record->path);
        std::lock_guard<std::mutex> g(lock);
        lines.push_back(std::move(line));
    }
    void Unread(const SearchFileInfo& record, ScanStatus status) override
    {
        std::lock_guard<std::mutex> g(lock);
        lines.push_back("unread\t" + std::to_string(static_cast<int>(status)) + "\t" +
                        plat::PathToNative(record.path));
    }
    void Finished() override
    {
        std::lock_guard<std::mutex> g(lock);
        finished = true;
        cv.notify_all();
    }
    void Cancelled() override {}
};

}  // namespace

int main(int argc, char** argv)
{
    int runs = 1;
    int a = 1;
    if (a + 1 < argc && std::strcmp(argv[a], "--runs") == 0) {
        runs = std::atoi(argv[a + 1]);
        a += 2;
    }
    if (argc - a < 2 || runs < 1) return tools::UsageError(kUsage, 2);
    OpenEventDatabase(plat::PathFromNative(argv[a]));
    search::SearchRequest request;
    request.mode = 1;
    request.mask = 0xFFFF;
    request.extensions = ExtensionsOfKinds(kAllDocumentKinds);
    for (int i = a + 1; i < argc; ++i) request.include.push_back(plat::PathFromNative(argv[i]));
    for (int run = 0; run < runs; ++run) {
        Printer printer;
        {
            search::SearchSession session(printer);
            // The session goes from the walk to the analysis and writes its
            // completion event by itself; Finished is its last report.
            session.Start(request);
            {
                std::unique_lock<std::mutex> g(printer.lock);
                printer.cv.wait(g, [&] { return printer.finished; });
            }
            session.JoinAnalysis();
            std::printf("run\t%d\n", run + 1);
            for (const auto& line : printer.lines) std::printf("%s\n", line.c_str());
            std::string totals = "totals";
            for (int i = 0; i < search::kTotalCount; ++i) totals += "\t" + std::to_string(session.Total(i));
            std::printf("%s\nunread\t%d\n", totals.c_str(), session.UnreadDocuments());
        }
    }
    ExitEventDatabase();
    return 0;
}
