#include "platform/lockorder.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using plat::LockRank;
using plat::RankedMutex;
using plat::RankedRecursiveTimedMutex;

// The bookkeeping itself, driven without mutexes, so that it is exercised in
// every build (the mutexes call it only where the check is compiled in).
TEST(LockOrder, AnInversionAbortsNamingBothLocks)
{
    struct Case {
        const char* what;
        LockRank held;
        LockRank taken;
        bool recursive;
        const char* message;
    };
    const Case cases[] = {
        {"lower rank under a higher one", LockRank::SessionFound, LockRank::SessionIntake, false,
         "inversion: taking second \\(rank 40\\) while holding first \\(rank 50\\)"},
        {"equal rank, another lock", LockRank::AnalysisQueue, LockRank::AnalysisQueue, false,
         "inversion: taking second \\(rank 60\\) while holding first \\(rank 60\\)"},
        {"the window's lock, then the session's", LockRank::SearchWindow, LockRank::SessionFound, false,
         "inversion: taking second \\(rank 50\\) while holding first \\(rank 200\\)"},
    };
    int a = 0, b = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_DEATH(
            {
                plat::lockorder::Taken(&a, c.held, "first");
                plat::lockorder::BeforeLock(&b, c.taken, "second", c.recursive);
            },
            c.message);
    }
    // A plain mutex taken again by its holder would wait for itself.
    EXPECT_DEATH(
        {
            plat::lockorder::Taken(&a, LockRank::EngineRun, "first");
            plat::lockorder::BeforeLock(&a, LockRank::EngineRun, "first", false);
        },
        "taken twice: taking first");
    EXPECT_EQ(plat::lockorder::HeldCount(), 0);
}

TEST(LockOrder, TheOrderItselfAndItsAllowancesPass)
{
    int a = 0, b = 0, c = 0;
    using namespace plat::lockorder;
    // Ascending, released in any order.
    BeforeLock(&a, LockRank::EngineControl, "a", false);
    Taken(&a, LockRank::EngineControl, "a");
    BeforeLock(&b, LockRank::SessionIntake, "b", false);
    Taken(&b, LockRank::SessionIntake, "b");
    BeforeLock(&c, LockRank::EventStore, "c", true);
    Taken(&c, LockRank::EventStore, "c");
    EXPECT_EQ(HeldCount(), 3);
    Released(&b);
    // A recursive lock taken again by its holder, whatever is held since.
    BeforeLock(&c, LockRank::EventStore, "c", true);
    Taken(&c, LockRank::EventStore, "c");
    Released(&c);
    Released(&a);
    Released(&c);
    EXPECT_EQ(HeldCount(), 0);
    // Released before the next is taken: any order.
    BeforeLock(&c, LockRank::EventStore, "c", true);
    Taken(&c, LockRank::EventStore, "c");
    Released(&c);
    BeforeLock(&a, LockRank::EngineControl, "a", false);
    Taken(&a, LockRank::EngineControl, "a");
    Released(&a);
    EXPECT_EQ(HeldCount(), 0);
}

#if PS_LOCK_ORDER_CHECKED

// The mutexes of the order: the window's lock held while the session's
// found list is asked for its count, the inversion that was in the window.
TEST(LockOrder, RankedMutexesAbortOnAnInversion)
{
    RankedMutex window{LockRank::SearchWindow, "CAllSearchDlg::m_lock"};
    RankedMutex found{LockRank::SessionFound, "SearchSession::m_foundLock"};
    EXPECT_DEATH(
        {
            std::lock_guard<RankedMutex> w(window);
            std::lock_guard<RankedMutex> f(found);
        },
        "taking SearchSession::m_foundLock \\(rank 50\\) while holding CAllSearchDlg::m_lock \\(rank 200\\)");

    RankedRecursiveTimedMutex store{LockRank::EventStore, "EventStore::lock"};
    RankedMutex keys{LockRank::KeyStoreFile, "KeyStore::mutex_"};
    EXPECT_DEATH(
        {
            std::lock_guard<RankedMutex> k(keys);
            (void)store.try_lock_for(std::chrono::milliseconds(1));
        },
        "taking EventStore::lock \\(rank 90\\) while holding KeyStore::mutex_");
}

TEST(LockOrder, RankedMutexesKeepTheOrderThroughWaitsAndTries)
{
    RankedMutex outer{LockRank::EngineControl, "outer"};
    RankedMutex inner{LockRank::EngineRun, "inner"};
    RankedRecursiveTimedMutex store{LockRank::EventStore, "store"};
    {
        std::lock_guard<RankedMutex> o(outer);
        std::unique_lock<RankedMutex> i(inner);
        // A condition wait releases and takes the lock again.
        std::condition_variable_any cv;
        cv.wait_for(i, std::chrono::milliseconds(1));
        EXPECT_EQ(plat::lockorder::HeldCount(), 2);
        std::lock_guard<RankedRecursiveTimedMutex> s1(store);
        ASSERT_TRUE(store.try_lock_for(std::chrono::milliseconds(1)));
        store.unlock();
    }
    EXPECT_EQ(plat::lockorder::HeldCount(), 0);
    // try_lock never waits: out of order it is allowed, and counts as held.
    {
        std::lock_guard<RankedMutex> i(inner);
        ASSERT_TRUE(outer.try_lock());
        EXPECT_EQ(plat::lockorder::HeldCount(), 2);
        outer.unlock();
    }
    EXPECT_EQ(plat::lockorder::HeldCount(), 0);
    // Another thread's stack is its own.
    std::lock_guard<RankedMutex> i(inner);
    std::thread t([&] {
        std::lock_guard<RankedMutex> o(outer);
        EXPECT_EQ(plat::lockorder::HeldCount(), 1);
    });
    t.join();
}

#else

TEST(LockOrder, RankedMutexesAbortOnAnInversion)
{
    GTEST_SKIP() << "the lock-order check is not compiled into this build";
}

#endif

}  // namespace
