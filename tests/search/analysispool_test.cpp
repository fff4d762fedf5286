// The reading pool of the search: results come back in the order handed out
// whatever order the workers finish in, the in-flight lines name exactly the
// documents being read, the limits hold, and a cancel drops what is queued.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "search/analysispool.h"

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

}  // namespace
