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
    const plat::DocumentBudget saved = plat::SetDocumentBudget({1.5, 7, 3, 4096});
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
        plat::ReadCancelScope timed(&stop, {0.2, 0, 0, 0});
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
        plat::ReadCancelScope counted(&stop, {0, 100, 0, 0});
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
        plat::ReadCancelScope fresh(&stop, {0, 0, 0, 0});
        EXPECT_FALSE(plat::ReadCancelled());
        EXPECT_EQ(fresh.LimitReached(), kReadLimitNone);
        stop = 1;
        EXPECT_TRUE(plat::ReadCancelled());
        EXPECT_EQ(fresh.LimitReached(), kReadLimitNone);  // a stop is no limit
    }
    EXPECT_FALSE(plat::ReadCancelled());
}

}  // namespace
