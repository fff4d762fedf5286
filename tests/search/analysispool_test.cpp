// The reading pool of the search: results come back in the order handed out
// whatever order the workers finish in, the in-flight lines name exactly the
// documents being read, the limits hold, and a cancel drops what is queued.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/docfile.h"
#include "platform/text.h"
#include "search/analysispool.h"
#include "search/scan.h"
#include "support/errorlist.h"
#include "support/isolation.h"
#include "support/zip_writer.h"

namespace {

using search::AnalysisPool;
using search::DocumentResult;
using namespace std::chrono_literals;

std::u16string Path(size_t i)
{
    return u"/docs/" + plat::AsciiToWide(std::to_string(i)) + u".pdf";
}

size_t IndexOf(const std::u16string& path)
{
    return std::stoul(plat::WideToUtf8(path.substr(6, path.size() - 10)));
}

// Each document's counts and hits say which document it was; the pause
// makes later documents finish before earlier ones.
void FakeRead(const std::u16string& path, const CancelFlag*, DocumentResult& r)
{
    const size_t i = IndexOf(path);
    std::this_thread::sleep_for(std::chrono::microseconds((i * 7919) % 3000));
    r.status = i % 5 == 4 ? ScanStatus::Failed : ScanStatus::Done;
    r.counts[kPersonalInfoPhoneNumber] = static_cast<int32_t>(i);
    for (size_t k = 0; k < i % 3; ++k) r.hits.push_back({kPersonalInfoPhoneNumber, path});
}

std::vector<std::u16string> Lines(const std::u16string& text)
{
    std::vector<std::u16string> out;
    if (text.empty()) return out;
    size_t at = 0;
    for (;;) {
        const size_t nl = text.find(u'\n', at);
        out.push_back(text.substr(at, nl == std::u16string::npos ? std::u16string::npos : nl - at));
        if (nl == std::u16string::npos) break;
        at = nl + 1;
    }
    return out;
}

TEST(AnalysisPool, ResultsInHandOutOrderWithinTheLimits)
{
    for (unsigned workers : {1u, 3u, 8u}) {
        SCOPED_TRACE(workers);
        std::mutex lock;
        std::vector<std::u16string> marks;
        AnalysisPool::Limits limits;
        limits.ahead = 10;
        std::atomic<int> reading{0}, most{0};
        AnalysisPool pool(
            workers,
            [&](const std::u16string& p, const CancelFlag* c, DocumentResult& r) {
                const int now = ++reading;
                for (int m = most; now > m && !most.compare_exchange_weak(m, now);) {}
                FakeRead(p, c, r);
                --reading;
            },
            nullptr,
            [&](const std::u16string& lines) {
                std::lock_guard<std::mutex> g(lock);
                marks.push_back(lines);
            },
            limits);
        EXPECT_EQ(pool.Workers(), workers);
        const size_t n = 120;
        size_t next = 0, handedOutMax = 0;
        for (size_t i = 0; i < n; ++i) {
            while (next < n && (next <= i || pool.WantsMore())) pool.Submit(next, Path(next)), ++next;
            handedOutMax = std::max(handedOutMax, next - i);
            DocumentResult r;
            while (!pool.Take(i, r, 20ms, next < n))
                while (next < n && pool.WantsMore()) pool.Submit(next, Path(next)), ++next;
            EXPECT_EQ(r.counts[kPersonalInfoPhoneNumber], static_cast<int32_t>(i));
            EXPECT_EQ(r.status, i % 5 == 4 ? ScanStatus::Failed : ScanStatus::Done);
            EXPECT_EQ(r.hits.size(), i % 3);
        }
        pool.Stop();
        EXPECT_LE(handedOutMax, limits.ahead + 1);
        EXPECT_LE(most.load(), static_cast<int>(workers));
        // The mark: every change written once, lines in hand-out order, no
        // more lines than workers, every document named while read, and
        // nothing once the pool has stopped.
        std::lock_guard<std::mutex> g(lock);
        ASSERT_FALSE(marks.empty());
        EXPECT_EQ(marks.back(), u"");
        std::set<size_t> named;
        for (size_t m = 0; m < marks.size(); ++m) {
            if (m > 0) {
                EXPECT_NE(marks[m], marks[m - 1]);
            }
            const auto lines = Lines(marks[m]);
            EXPECT_LE(lines.size(), workers);
            for (size_t l = 0; l < lines.size(); ++l) {
                named.insert(IndexOf(lines[l]));
                if (l > 0) {
                    EXPECT_LT(IndexOf(lines[l - 1]), IndexOf(lines[l]));
                }
            }
        }
        EXPECT_EQ(named.size(), n);
    }
}

TEST(AnalysisPool, ADocumentNeededAtOnceGoesFirst)
{
    std::vector<size_t> order;
    std::mutex lock;
    std::atomic<bool> gate{false};
    AnalysisPool pool(1,
                      [&](const std::u16string& p, const CancelFlag*, DocumentResult&) {
                          while (!gate) std::this_thread::sleep_for(1ms);
                          std::lock_guard<std::mutex> g(lock);
                          order.push_back(IndexOf(p));
                      },
                      nullptr);
    pool.Submit(0, Path(0));
    std::this_thread::sleep_for(20ms);  // the worker holds document 0
    pool.Submit(1, Path(1));
    pool.Submit(2, Path(2));
    pool.SubmitFirst(7, Path(7));
    gate = true;
    DocumentResult r;
    for (size_t i : {0u, 7u, 1u, 2u}) EXPECT_TRUE(pool.Take(i, r, 5000ms, false));
    EXPECT_EQ(order, (std::vector<size_t>{0, 7, 1, 2}));
}

TEST(AnalysisPool, CancelDropsQueuedDocumentsAndStopJoins)
{
    CancelFlag cancel{0};
    std::atomic<int> started{0}, reading{0};
    std::u16string lastMark = u"?";
    std::mutex lock;
    AnalysisPool pool(
        4,
        [&](const std::u16string&, const CancelFlag* c, DocumentResult& r) {
            ++started;
            ++reading;
            // A long read that ends on the cancel flag.
            for (int k = 0; k < 2000 && !c->load(); ++k) std::this_thread::sleep_for(1ms);
            r.status = c->load() ? ScanStatus::Cancelled : ScanStatus::Done;
            --reading;
        },
        &cancel,
        [&](const std::u16string& lines) {
            std::lock_guard<std::mutex> g(lock);
            lastMark = lines;
        });
    for (size_t i = 0; i < 100; ++i) pool.Submit(i, Path(i));
    while (started < 4) std::this_thread::sleep_for(1ms);
    {
        std::lock_guard<std::mutex> g(lock);
        EXPECT_EQ(Lines(lastMark).size(), 4u);
    }
    DocumentResult r;
    EXPECT_FALSE(pool.Take(0, r, 10ms, false));
    const auto t0 = std::chrono::steady_clock::now();
    cancel = 1;
    pool.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1500ms);
    EXPECT_EQ(reading.load(), 0);
    EXPECT_EQ(started.load(), 4);  // the queued documents were dropped
    std::lock_guard<std::mutex> g(lock);
    EXPECT_EQ(lastMark, u"");
}

TEST(AnalysisPool, WorkersDefaultToTheCoresWithinBounds)
{
    const unsigned d = AnalysisPool::DefaultWorkers();
    EXPECT_GE(d, 1u);
    EXPECT_LE(d, AnalysisPool::kMaxWorkers);
    AnalysisPool pool(0, [](const std::u16string&, const CancelFlag*, DocumentResult&) {}, nullptr);
    EXPECT_EQ(pool.Workers(), d);
    AnalysisPool many(1000, [](const std::u16string&, const CancelFlag*, DocumentResult&) {}, nullptr);
    EXPECT_EQ(many.Workers(), AnalysisPool::kMaxWorkers);
}

// The search's memory, set small for a test and restored after it.
struct SearchMemoryGuard {
    uint64_t savedLimit;
    plat::DocumentBudget savedBudget;
    SearchMemoryGuard(uint64_t limit, const plat::DocumentBudget& budget)
        : savedLimit(plat::SearchMemoryCeiling().SetLimit(limit)), savedBudget(plat::SetDocumentBudget(budget))
    {
    }
    ~SearchMemoryGuard()
    {
        plat::SearchMemoryCeiling().SetLimit(savedLimit);
        plat::SetDocumentBudget(savedBudget);
    }
};

// A Word document of lines with a phone number each.
std::string PhoneLinesDocx(int lines)
{
    std::string body;
    for (int i = 0; i < lines; ++i)
        body += "<w:p><w:r><w:t>tel 02-123-4567 line " + std::to_string(i) + "</w:t></w:r></w:p>";
    return ps_test::MakeOoxmlPackage({{"word/document.xml",
                                       "<?xml version=\"1.0\"?><w:document xmlns:w=\"http://schemas."
                                       "openxmlformats.org/wordprocessingml/2006/main\"><w:body>" +
                                           body + "</w:body></w:document>"}},
                                     {});
}

// The search's reading pool over Word documents whose text passes the
// document's text limit or, all together, the search's memory ceiling: each
// is read whole, or read in part with the memory reason (its text up to the
// limit still matched); none is lost and the ceiling held.
TEST(AnalysisPool, DocumentsPastTheirMemoryAreReadInPartWithTheReason)
{
    ps_test::TempDir dir;
    const std::string huge = PhoneLinesDocx(20000);  // about 600 K characters of text
    const std::string small = PhoneLinesDocx(10);
    struct {
        const char* name;
        uint64_t ceiling;    // bytes
        uint64_t textLimit;  // characters
        bool allCut;         // every huge document stops at its limit
    } cases[] = {
        {"text limit", uint64_t{1} << 30, 50000, true},
        {"ceiling", uint64_t{6} << 20, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        plat::DocumentBudget budget = plat::kDocumentBudget;
        budget.text = c.textLimit;
        SearchMemoryGuard guard(c.ceiling, budget);
        std::vector<std::string> paths;
        for (int i = 0; i < 10; ++i) {
            paths.push_back(dir.file(std::string(c.name[0] == 't' ? "t" : "c") + std::to_string(i) + ".docx"));
            ASSERT_TRUE(ps_test::WriteFileBytes(paths.back(), i % 5 == 4 ? small : huge));
        }
        const uint64_t peakBefore = plat::SearchMemoryCeiling().PeakReserved();
        CancelFlag cancel{0};
        AnalysisPool pool(4,
                          [](const std::u16string& path, const CancelFlag* cf, DocumentResult& r) {
                              r.status = FindPersonalInfoInFile(path, r.counts, kMaskWholeComputer, cf, nullptr);
                          },
                          &cancel);
        for (size_t i = 0; i < paths.size(); ++i) pool.Submit(i, plat::PathFromNative(paths[i]));
        int cut = 0;
        for (size_t i = 0; i < paths.size(); ++i) {
            SCOPED_TRACE(paths[i]);
            DocumentResult r;
            ASSERT_TRUE(pool.Take(i, r, 600000ms, false));
            const bool isSmall = i % 5 == 4;
            EXPECT_GT(r.counts[kPersonalInfoPhoneNumber], 0);
            if (r.status == ScanStatus::Partial) {
                ++cut;
                EXPECT_EQ(ps_test::ListedReason(paths[i]), "작업 한도에 이름 (메모리) - 일부만 읽음");
                EXPECT_LT(r.counts[kPersonalInfoPhoneNumber], 20000);
            } else {
                EXPECT_EQ(r.status, ScanStatus::Done);
                EXPECT_EQ(ps_test::ListedReason(paths[i]), "");
                EXPECT_EQ(r.counts[kPersonalInfoPhoneNumber], isSmall ? 10 : 20000);
            }
            if (isSmall) {
                EXPECT_EQ(r.status, ScanStatus::Done);
            } else if (c.allCut) {
                EXPECT_EQ(r.status, ScanStatus::Partial);
            }
        }
        pool.Stop();
        if (c.allCut) {
            EXPECT_EQ(cut, 8);
        }
        EXPECT_LE(plat::SearchMemoryCeiling().PeakReserved(), std::max(peakBefore, c.ceiling));
        EXPECT_EQ(plat::SearchMemoryCeiling().Reserved(), 0u);
    }
}

// Workers waiting for the search's memory while another holds it: the stop
// ends every wait at once, and the pool joins.
TEST(AnalysisPool, AStopEndsTheWaitsForMemory)
{
    SearchMemoryGuard guard(uint64_t{4} << 20, plat::kDocumentBudget);
    CancelFlag cancel{0};
    std::atomic<int> holding{0}, stopped{0}, answered{0};
    AnalysisPool pool(
        4,
        [&](const std::u16string& path, const CancelFlag* cf, DocumentResult& r) {
            plat::ReadCancelScope scope(cf, plat::CurrentDocumentBudget());
            if (IndexOf(path) == 0) {
                // Holds most of the ceiling until the search is stopped.
                EXPECT_TRUE(plat::TakeMemory(scope.MemoryAccount(), uint64_t{3} << 20));
                holding = 1;
                while (answered.load() < 3) std::this_thread::yield();
            } else {
                while (!holding.load()) std::this_thread::yield();
                if (PsTakeMemory(scope.MemoryAccount(), uint64_t{2} << 20) < 0)
                    ++stopped;
                ++answered;
            }
            r.status = ScanStatus::Cancelled;
        },
        &cancel);
    for (size_t i = 0; i < 4; ++i) pool.Submit(i, Path(i));
    while (plat::SearchMemoryCeiling().Waiting() < 3) std::this_thread::yield();
    cancel = 1;
    pool.Stop();
    EXPECT_EQ(stopped.load(), 3);
    EXPECT_EQ(plat::SearchMemoryCeiling().Reserved(), 0u);
}

}  // namespace
