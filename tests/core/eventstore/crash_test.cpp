// A writer killed in the middle of its writes leaves a sound database in
// which every logical write is either whole or absent.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

#include "core/eventstore/eventtables.h"
#include "core/eventstore/eventtypes.h"
#include "store_fixture.h"

namespace {

constexpr int kHitsPerDocument = 10;

// The child: stores documents with their hits and search totals until killed.
[[noreturn]] void WriteForever(const std::string& path, int readyFd, bool oneTransaction)
{
    try {
        OpenEventDatabase(plat::PathFromNative(path));
    } catch (...) {
        _exit(2);
    }
    std::vector<PersonalInfoHit> hits;
    for (int i = 0; i < kHitsPerDocument; ++i)
        hits.push_back({static_cast<PersonalInfoKind>(i % 7), u"010-1234-56" + std::u16string(1, u'0' + i) + u"9"});
    bool signalled = false;
    for (int n = 0;; ++n) {
        SearchFileInfo doc;
        doc.SetFolderAndName(u"/home/user/문서", u"문서" + plat::AsciiToWide(std::to_string(n)) + u".hwp");
        doc.documentKey = std::u16string(64, u'A');
        if (oneTransaction) {
            AddFileInfoWithHits(PersonalInfoCounts{1, 2, 3, 4, 0, 0, 0}, doc, hits);
        } else {
            const int64_t id = AddFileInfoRow(PersonalInfoCounts{1, 2, 3, 4, 5, 6, 7}, doc);
            if (id > 0)
                AddPersonalInfo(id, hits);
        }
        if (n % 7 == 0) {
            const int64_t ev = AddEvent(EVENT_ALL_SEARCH_COMPLETE);
            AddSearchEventLog(ev, PersonalInfoCounts{}, DocumentKindCounts{});
        }
        if (!signalled && n == 20) {
            const char c = 1;
            if (write(readyFd, &c, 1) != 1)
                _exit(3);
            signalled = true;
        }
    }
}

// Kills a writer three times at different moments; after each kill checks
// the database and hands it to `check` with the round number.
void KillWriterRounds(bool oneTransaction, const std::function<void(ps_test::RawDb&, int)>& check)
{
    ps_test::TempDir dir;
    const std::string path = dir.file("crash.db");
    const int delaysMs[] = {5, 37, 120};
    long long lastDocs = 0;
    for (int round = 0; round < 3; ++round) {
        const int delay = delaysMs[round];
        int fds[2];
        ASSERT_EQ(0, pipe(fds));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(fds[0]);
            WriteForever(path, fds[1], oneTransaction);
        }
        close(fds[1]);
        char c = 0;
        ASSERT_EQ(1, read(fds[0], &c, 1)) << "the writer did not start";
        close(fds[0]);
        usleep(static_cast<useconds_t>(delay) * 1000);
        ASSERT_EQ(0, kill(child, SIGKILL));
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFSIGNALED(status));

        ps_test::RawDb raw(path);
        EXPECT_EQ("ok", raw.Text("PRAGMA integrity_check"));
        const long long docs = raw.Int("SELECT count(*) FROM FileInfo");
        EXPECT_GT(docs, lastDocs);
        lastDocs = docs;
        check(raw, round);
    }
}

TEST(EventStoreCrashTest, KilledWriterLeavesNoHalfWrittenDocument)
{
    KillWriterRounds(false, [](ps_test::RawDb& raw, int round) {
        // Hits come whole with their document or not at all.
        EXPECT_EQ(0, raw.Int("SELECT count(*) FROM (SELECT FileIndex FROM PersonalInfo GROUP BY FileIndex "
                             "HAVING count(*) != " +
                             std::to_string(kHitsPerDocument) + ")"));
        EXPECT_EQ(0, raw.Int("SELECT count(*) FROM PersonalInfo WHERE FileIndex NOT IN (SELECT FileIndex FROM "
                             "FileInfo)"));
        // At most the last document lacks its hits (killed between its two writes).
        EXPECT_LE(raw.Int("SELECT count(*) FROM FileInfo WHERE FileIndex NOT IN (SELECT FileIndex FROM "
                          "PersonalInfo)"),
                  static_cast<long long>(round + 1));
    });
}

TEST(EventStoreCrashTest, DocumentAndHitsWrittenTogetherSurviveAKill)
{
    KillWriterRounds(true, [](ps_test::RawDb& raw, int) {
        // Every document row stands with all its hits, whenever the writer died.
        EXPECT_EQ(0, raw.Int("SELECT count(*) FROM FileInfo WHERE ID + Account + CreditCard + PhoneNumber + "
                             "Address + EMail + IPAddress != (SELECT count(*) FROM PersonalInfo WHERE "
                             "PersonalInfo.FileIndex = FileInfo.FileIndex)"));
        EXPECT_EQ(0, raw.Int("SELECT count(*) FROM PersonalInfo WHERE FileIndex NOT IN (SELECT FileIndex FROM "
                             "FileInfo)"));
    });
}

}  // namespace
