#include "platform/docfile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/isolation.h"
#include "support/within.h"

namespace {

// Opens path on a thread of its own: the reason (-1 when opened), or nothing
// when the open has not come back within the limit (a blocked open).
std::optional<int> OpenWithin(const std::string& path, std::chrono::seconds limit)
{
    return ps_test::RunWithin<int>(
        limit,
        [path] {
            plat::DocOpenError why = kDocOpenOk;
            const int fd = plat::OpenDocumentFile(path, &why);
            if (fd >= 0)
                ::close(fd);
            return fd >= 0 ? -1 : static_cast<int>(why);
        },
        [path] { ps_test::OpenOtherEnd(path); });
}

TEST(DocumentFile, OnlyRegularFilesAndNeverBlocks)
{
    ps_test::TempDir dir;
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("doc.pdf"), "%PDF-1.4\n"));
    ASSERT_EQ(::mkfifo(dir.file("fifo.pdf").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", dir.file("zero.hwp").c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("fifo.pdf").c_str(), dir.file("fifolink.docx").c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("doc.pdf").c_str(), dir.file("link.pdf").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.file("folder.doc").c_str(), 0700), 0);
    const std::string tooLong = dir.file(std::string(300, 'a') + ".doc");
    struct {
        std::string path;
        int expected;  // -1: opened
    } cases[] = {
        {dir.file("doc.pdf"), -1},
        {dir.file("link.pdf"), -1},  // a link to a regular file is read as before
        {dir.file("fifo.pdf"), kDocOpenNotRegular},
        {dir.file("zero.hwp"), kDocOpenNotRegular},
        {dir.file("fifolink.docx"), kDocOpenNotRegular},
        {dir.file("folder.doc"), kDocOpenNotRegular},
        {dir.file("missing.xls"), kDocOpenNotFound},
        {tooLong, kDocOpenNameTooLong},
        {"", kDocOpenNotFound},
    };
    for (const auto& c : cases) {
        const std::optional<int> got = OpenWithin(c.path, std::chrono::seconds(10));
        ASSERT_TRUE(got.has_value()) << "open blocked: " << c.path;
        EXPECT_EQ(*got, c.expected) << c.path;
    }
    // Those opens were other threads': this thread's last reason is its own.
    EXPECT_EQ(plat::LastDocumentOpenError(), kDocOpenOk);
    plat::DocOpenError why = kDocOpenOk;
    EXPECT_EQ(plat::OpenDocumentFile(dir.file("fifo.pdf"), &why), -1);
    EXPECT_EQ(plat::LastDocumentOpenError(), kDocOpenNotRegular);
    const int fd = plat::OpenDocumentFile(dir.file("doc.pdf"));
    ASSERT_GE(fd, 0);
    EXPECT_EQ(plat::LastDocumentOpenError(), kDocOpenOk);
    // The descriptor blocks again like any file opened for reading.
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    ::close(fd);
    EXPECT_EQ(plat::OpenDocumentStream(dir.file("zero.hwp")), nullptr);
    EXPECT_EQ(plat::LastDocumentOpenError(), kDocOpenNotRegular);
    plat::ClearDocumentOpenError();
    EXPECT_EQ(plat::LastDocumentOpenError(), kDocOpenOk);
    FILE* f = plat::OpenDocumentStream(dir.file("doc.pdf"));
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(dir.file("doc.pdf").c_str(), 0), 0);
        EXPECT_EQ(OpenWithin(dir.file("doc.pdf"), std::chrono::seconds(10)), kDocOpenNoAccess);
    }
}

TEST(DocumentFile, CancelScopesNestAndBelongToTheirThread)
{
    std::atomic<int32_t> outer{0}, inner{1};
    EXPECT_FALSE(plat::ReadCancelled());
    {
        plat::ReadCancelScope a(&outer);
        EXPECT_FALSE(plat::ReadCancelled());
        outer = 1;
        EXPECT_TRUE(plat::ReadCancelled());
        EXPECT_EQ(PsReadCancelled(), 1);
        // Another thread has no scope of its own.
        bool other = true;
        std::thread([&] { other = plat::ReadCancelled(); }).join();
        EXPECT_FALSE(other);
        outer = 0;
        {
            plat::ReadCancelScope b(&inner);
            EXPECT_TRUE(plat::ReadCancelled());
            plat::ReadCancelScope none(nullptr);
            EXPECT_FALSE(plat::ReadCancelled());
        }
        EXPECT_FALSE(plat::ReadCancelled());
    }
    outer = 1;
    EXPECT_FALSE(plat::ReadCancelled());
}

// A document's budget rides its scope: the time counts from the scope's
// start and stops the read once past; a limit a reader counts itself is
// noted for the scope and stops the read too; a scope inside takes over the
// budget of the one around it and passes its limit back; without a budget
// scope nothing is noted.
TEST(DocumentFile, TheBudgetOfADocumentStopsItsRead)
{
    EXPECT_EQ(plat::CurrentDocumentBudget().operations, plat::kDocumentBudget.operations);
    const plat::DocumentBudget saved = plat::SetDocumentBudget({1.5, 7, 3, 4096, 0});
    EXPECT_EQ(plat::CurrentDocumentBudget().operations, 7u);
    EXPECT_EQ(PsCurrentDocumentBudget().memory, 4096u);
    plat::SetDocumentBudget(saved);

    {
        // No budget scope: a limit noted by a reader is its own business.
        plat::ReadCancelScope plain(nullptr);
        PsNoteReadLimit(kReadLimitMemory);
        EXPECT_FALSE(plat::ReadCancelled());
        EXPECT_EQ(plain.LimitReached(), kReadLimitNone);
    }
    std::atomic<int32_t> stop{0};
    {
        plat::ReadCancelScope timed(&stop, {0.2, 0, 0, 0, 0});
        EXPECT_FALSE(plat::ReadCancelled());
        EXPECT_EQ(plat::CurrentDocumentBudget().seconds, 0.2);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_TRUE(plat::ReadCancelled());
        EXPECT_EQ(timed.LimitReached(), kReadLimitTime);
        // Another thread's reads have their own budget.
        bool other = true;
        std::thread([&] { other = plat::ReadCancelled(); }).join();
        EXPECT_FALSE(other);
    }
    {
        plat::ReadCancelScope counted(&stop, {0, 100, 0, 0, 0});
        {
            plat::ReadCancelScope inner(nullptr);
            EXPECT_EQ(plat::CurrentDocumentBudget().operations, 100u);
            EXPECT_FALSE(plat::ReadCancelled());
            PsNoteReadLimit(kReadLimitOperations);
            PsNoteReadLimit(kReadLimitMemory);  // the first limit is the one named
            EXPECT_TRUE(plat::ReadCancelled());
            EXPECT_EQ(inner.LimitReached(), kReadLimitOperations);
        }
        EXPECT_TRUE(plat::ReadCancelled());
        EXPECT_EQ(counted.LimitReached(), kReadLimitOperations);
    }
    {
        // A fresh document starts with nothing used; no limit is no limit.
        plat::ReadCancelScope fresh(&stop, {0, 0, 0, 0, 0});
        EXPECT_FALSE(plat::ReadCancelled());
        EXPECT_EQ(fresh.LimitReached(), kReadLimitNone);
        stop = 1;
        EXPECT_TRUE(plat::ReadCancelled());
        EXPECT_EQ(fresh.LimitReached(), kReadLimitNone);  // a stop is no limit
    }
    EXPECT_FALSE(plat::ReadCancelled());
}

// ------------------------------------------------------------ memory ceiling

constexpr uint64_t kKiB = 1024;

// A budget with only a memory limit (0: none).
plat::DocumentBudget MemoryBudget(uint64_t memory)
{
    return plat::DocumentBudget{0, 0, 0, memory, 0};
}

// Spins (no sleep, no clock) until the ceiling has n waiting takes.
void AwaitWaiting(const plat::MemoryCeiling& ceiling, unsigned n)
{
    while (ceiling.Waiting() < n)
        std::this_thread::yield();
}

void AwaitStep(const std::atomic<int>& step, int value)
{
    while (step.load() != value)
        std::this_thread::yield();
}

// Refusals that need no other document: past the document's own budget, past
// the whole ceiling, and while it is the only document holding memory. Each
// is the memory limit of the document, and no take waits.
TEST(MemoryCeiling, ADocumentAloneIsRefusedAtOnce)
{
    plat::MemoryCeiling ceiling(256 * kKiB, 4 * kKiB);
    std::atomic<int32_t> stop{0};
    struct {
        uint64_t budget;
        uint64_t first, second;  // taken one after the other; the last one given is refused
    } cases[] = {
        {100 * kKiB, 64 * kKiB, 64 * kKiB},  // the document's budget
        {0, 300 * kKiB, 0},                  // more than the ceiling at once
        {0, 200 * kKiB, 100 * kKiB},         // the only holder passing the ceiling
    };
    for (const auto& c : cases) {
        plat::ReadCancelScope scope(&stop, MemoryBudget(c.budget), &ceiling);
        PsMemoryAccount* account = scope.MemoryAccount();
        ASSERT_NE(account, nullptr);
        EXPECT_EQ(plat::CurrentMemoryAccount(), account);
        EXPECT_EQ(plat::TakeMemory(account, c.first), c.second != 0);
        if (c.second) {
            EXPECT_EQ(PsTakeMemory(account, c.second), 0);
        }
        EXPECT_EQ(scope.LimitReached(), kReadLimitMemory);
        EXPECT_TRUE(plat::ReadCancelled());
        EXPECT_LE(ceiling.PeakReserved(), ceiling.Limit());
    }
    // Each scope gave back what its document still held.
    EXPECT_EQ(ceiling.Reserved(), 0u);
    // A scope inside takes from the document's account; without a scope
    // nothing is counted and everything is granted.
    {
        plat::ReadCancelScope scope(&stop, MemoryBudget(0), &ceiling);
        plat::ReadCancelScope inner(nullptr);
        EXPECT_EQ(plat::CurrentMemoryAccount(), scope.MemoryAccount());
    }
    EXPECT_EQ(plat::CurrentMemoryAccount(), nullptr);
    EXPECT_EQ(PsTakeMemory(nullptr, uint64_t{1} << 62), 1);
    // The search's own ceiling: a share of the machine, never below one
    // document's budget.
    EXPECT_GE(plat::DefaultSearchMemoryLimit(), plat::kDocumentBudget.memory);
    EXPECT_EQ(plat::SearchMemoryCeiling().Limit(), plat::DefaultSearchMemoryLimit());
}

// A take past the ceiling waits for another document's memory; a stop ends
// such a wait at once without naming a limit.
TEST(MemoryCeiling, ATakeWaitsForMemoryGivenBackOrForTheStop)
{
    plat::MemoryCeiling ceiling(256 * kKiB, 4 * kKiB);
    std::atomic<int32_t> stopA{0}, stopB{0};
    std::atomic<int> step{0};
    std::thread holder([&] {
        plat::ReadCancelScope scope(&stopA, MemoryBudget(0), &ceiling);
        EXPECT_TRUE(plat::TakeMemory(scope.MemoryAccount(), 200 * kKiB));
        step = 1;
        AwaitWaiting(ceiling, 1);
        plat::GiveMemory(scope.MemoryAccount(), 200 * kKiB);
        AwaitStep(step, 2);
    });
    AwaitStep(step, 1);
    {
        plat::ReadCancelScope scope(&stopB, MemoryBudget(0), &ceiling);
        // Granted once the holder has given its memory back.
        EXPECT_EQ(PsTakeMemory(scope.MemoryAccount(), 128 * kKiB), 1);
        EXPECT_EQ(scope.LimitReached(), kReadLimitNone);
        EXPECT_LE(ceiling.PeakReserved(), ceiling.Limit());
    }
    step = 2;
    holder.join();

    step = 0;
    std::thread keeper([&] {
        plat::ReadCancelScope scope(&stopA, MemoryBudget(0), &ceiling);
        EXPECT_TRUE(plat::TakeMemory(scope.MemoryAccount(), 200 * kKiB));
        step = 1;
        AwaitStep(step, 2);
    });
    AwaitStep(step, 1);
    std::thread stopper([&] {
        AwaitWaiting(ceiling, 1);
        stopB = 1;
        ceiling.WakeWaiters();
    });
    {
        plat::ReadCancelScope scope(&stopB, MemoryBudget(0), &ceiling);
        EXPECT_EQ(PsTakeMemory(scope.MemoryAccount(), 128 * kKiB), -1);
        EXPECT_EQ(scope.LimitReached(), kReadLimitNone);  // a stop is no limit
    }
    stopper.join();
    step = 2;
    keeper.join();
    EXPECT_EQ(ceiling.Reserved(), 0u);
}

// Two documents each holding memory and each wanting more than is left: the
// second to ask finds every holder waiting; the first (equal holdings: the
// one that waited first) is refused at its memory limit and gives its memory
// back, and the second is granted.
TEST(MemoryCeiling, WhenEveryHolderWaitsOneIsRefused)
{
    plat::MemoryCeiling ceiling(256 * kKiB, 4 * kKiB);
    std::atomic<int32_t> stop{0};
    std::atomic<int> step{0};
    int firstAnswer = 9;
    plat::ReadLimit firstLimit = kReadLimitNone;
    std::thread first([&] {
        plat::ReadCancelScope scope(&stop, MemoryBudget(0), &ceiling);
        EXPECT_TRUE(plat::TakeMemory(scope.MemoryAccount(), 100 * kKiB));
        step = 1;
        AwaitStep(step, 2);
        firstAnswer = PsTakeMemory(scope.MemoryAccount(), 100 * kKiB);
        firstLimit = scope.LimitReached();
    });
    AwaitStep(step, 1);
    {
        plat::ReadCancelScope scope(&stop, MemoryBudget(0), &ceiling);
        EXPECT_TRUE(plat::TakeMemory(scope.MemoryAccount(), 100 * kKiB));
        step = 2;
        AwaitWaiting(ceiling, 1);
        EXPECT_EQ(PsTakeMemory(scope.MemoryAccount(), 100 * kKiB), 1);
        EXPECT_EQ(scope.LimitReached(), kReadLimitNone);
        first.join();
    }
    EXPECT_EQ(firstAnswer, 0);
    EXPECT_EQ(firstLimit, kReadLimitMemory);
    EXPECT_LE(ceiling.PeakReserved(), ceiling.Limit());
    EXPECT_EQ(ceiling.Reserved(), 0u);
}

// Many fake documents on eight threads, each allocating in pieces as a
// reader does (taking before it allocates, freeing some as it goes), most of
// them wanting more than their share of the ceiling and some more than all
// of it. Whatever the interleaving: the memory really held at once stays
// within the ceiling, every document is read whole or stopped at its memory
// limit, one wanting more than the ceiling is stopped, and every thread ends.
TEST(MemoryCeiling, HeldByManyWorkersWithoutDeadlock)
{
    constexpr uint64_t kLimit = 512 * kKiB;
    plat::MemoryCeiling ceiling(kLimit, 8 * kKiB);
    std::atomic<int32_t> stop{0};
    std::atomic<uint64_t> live{0}, peak{0};
    constexpr int kWorkers = 8, kDocuments = 64;
    std::atomic<int> next{0};
    std::vector<plat::ReadLimit> limits(kDocuments, kReadLimitNone);
    std::vector<char> whole(kDocuments, 0);
    auto wants = [](int d) -> uint64_t {
        switch (d % 4) {
        case 0: return 48 * kKiB;   // within its share
        case 1: return 200 * kKiB;  // more than its share
        case 2: return 400 * kKiB;  // most of the ceiling
        default: return 700 * kKiB; // more than the whole ceiling
        }
    };
    auto work = [&] {
        for (int d; (d = next.fetch_add(1)) < kDocuments;) {
            plat::ReadCancelScope scope(&stop, MemoryBudget(0), &ceiling);
            PsMemoryAccount* account = scope.MemoryAccount();
            const uint64_t piece = 3 * kKiB + 512 * static_cast<uint64_t>(d % 5);
            std::vector<std::unique_ptr<char[]>> blocks;
            uint64_t held = 0;
            bool refused = false;
            for (size_t n = 1; held < wants(d); ++n) {
                if (!plat::TakeMemory(account, piece)) {
                    refused = true;
                    break;
                }
                blocks.emplace_back(new char[piece]);
                blocks.back()[piece - 1] = 1;
                held += piece;
                const uint64_t now = live.fetch_add(piece) + piece;
                for (uint64_t seen = peak.load(); now > seen && !peak.compare_exchange_weak(seen, now);) {
                }
                if (n % 4 == 0) {
                    // A reader frees some of what it allocated as it goes.
                    blocks.erase(blocks.begin());
                    held -= piece;
                    live.fetch_sub(piece);
                    plat::GiveMemory(account, piece);
                }
            }
            blocks.clear();
            live.fetch_sub(held);
            limits[d] = scope.LimitReached();
            whole[d] = !refused;
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kWorkers; ++t)
        threads.emplace_back(work);
    for (std::thread& t : threads)
        t.join();
    EXPECT_LE(peak.load(), kLimit);
    EXPECT_LE(ceiling.PeakReserved(), kLimit);
    EXPECT_EQ(ceiling.Reserved(), 0u);
    int stopped = 0;
    for (int d = 0; d < kDocuments; ++d) {
        SCOPED_TRACE(d);
        EXPECT_EQ(limits[d], whole[d] ? kReadLimitNone : kReadLimitMemory);
        if (wants(d) > kLimit) {
            EXPECT_FALSE(whole[d]);
        }
        stopped += whole[d] ? 0 : 1;
    }
    // Those that fit the ceiling alone are not all stopped: waiting works.
    EXPECT_LT(stopped, kDocuments);
}

}  // namespace
