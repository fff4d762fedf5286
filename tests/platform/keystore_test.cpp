#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/keystore.h"
#include "support/isolation.h"

using plat::KeyStore;
using plat::KeyValue;

namespace {

std::u16string Num(int n)
{
    return plat::AsciiToWide(std::to_string(n));
}

}  // namespace

TEST(KeyStore, KeysAndValueNamesIgnoreCaseAndKeepTheirFirstSpelling)
{
    ps_test::TempDir dir;
    KeyStore store(dir.file("reg.conf"));
    ASSERT_TRUE(store.SetString(u"Software\\Norvane\\Privasweep", u"Migration", u"v1"));
    ASSERT_TRUE(store.SetDword(u"SOFTWARE\\norvane\\PRIVASWEEP\\", u"findPSInfoFlag", 7));

    // Forms of one key path and one value name.
    for (auto key : {u"software\\norvane\\privasweep", u"\\SOFTWARE\\Norvane\\Privasweep\\",
                     u"Software/Norvane/Privasweep"}) {
        auto v = store.Get(key, u"MIGRATION");
        ASSERT_TRUE(v) << plat::WideToUtf8(key);
        EXPECT_EQ(v->type, KeyValue::Type::String);
        EXPECT_EQ(v->text, u"v1");
        auto d = store.Get(key, u"FindPsInfoFlag");
        ASSERT_TRUE(d);
        EXPECT_EQ(d->type, KeyValue::Type::Dword);
        EXPECT_EQ(d->dword, 7u);
    }
    EXPECT_FALSE(store.Get(u"Software\\Norvane", u"Migration"));
    EXPECT_TRUE(store.KeyExists(u"SOFTWARE\\NORVANE\\PRIVASWEEP"));

    // Overwriting with another case keeps one value, typed as last written.
    ASSERT_TRUE(store.SetDword(u"software\\norvane\\privasweep", u"migration", 3));
    auto vals = store.Values(u"Software\\Norvane\\Privasweep");
    ASSERT_EQ(vals.size(), 2u);
    EXPECT_EQ(vals[1].first, u"Migration");
    EXPECT_EQ(vals[1].second.type, KeyValue::Type::Dword);
    EXPECT_EQ(vals[1].second.dword, 3u);

    // The file names the key and values as first written.
    const std::string file = ps_test::ReadFileBytes(store.FilePath());
    EXPECT_NE(file.find("[Software\\Norvane\\Privasweep]"), std::string::npos) << file;
    EXPECT_NE(file.find("\"Migration\"=dword:00000003"), std::string::npos) << file;
}

TEST(KeyStore, TextsSurviveWhateverTheyHold)
{
    ps_test::TempDir dir;
    const std::u16string texts[] = {
        u"",
        u"plain",
        u"quote \" backslash \\ end\\",
        u"line\nfeed\r\nand tab\t",
        std::u16string(u"zero\0inside", 11),
        u"한글 경로 /home/user/문서",
        std::u16string(1, char16_t(0xDC80)) + u"raw byte",
        std::u16string(600, u'x'),
        u"[Looks like a key]",
        u"\"Name\"=dword:00000001",
    };
    {
        KeyStore store(dir.file("reg.conf"));
        int i = 0;
        for (const auto& t : texts) {
            ASSERT_TRUE(store.SetString(u"K", u"v" + Num(i), t));
            ASSERT_TRUE(store.SetString(u"K", t.empty() ? u"" : t.substr(0, 40), t));  // as a value name too
            ++i;
        }
    }
    KeyStore reopened(dir.file("reg.conf"));
    int i = 0;
    for (const auto& t : texts) {
        auto v = reopened.Get(u"k", u"V" + Num(i));
        ASSERT_TRUE(v) << i;
        EXPECT_EQ(v->text, t) << i;
        auto byName = reopened.Get(u"k", t.empty() ? u"" : t.substr(0, 40));
        ASSERT_TRUE(byName) << i;
        EXPECT_EQ(byName->text, t) << i;
        ++i;
    }
}

TEST(KeyStore, DeleteValueAndKey)
{
    ps_test::TempDir dir;
    KeyStore store(dir.file("reg.conf"));
    ASSERT_TRUE(store.SetString(u"A\\B", u"x", u"1"));
    ASSERT_TRUE(store.SetString(u"A\\B\\C", u"y", u"2"));
    ASSERT_TRUE(store.SetString(u"A\\BC", u"z", u"3"));
    ASSERT_TRUE(store.SetDword(u"A", u"", 9));  // the unnamed default value

    EXPECT_TRUE(store.DeleteValue(u"a\\b", u"X"));
    EXPECT_FALSE(store.DeleteValue(u"a\\b", u"X"));  // already gone
    EXPECT_FALSE(store.DeleteValue(u"no\\such", u"X"));
    EXPECT_FALSE(store.Get(u"A\\B", u"x"));
    EXPECT_TRUE(store.KeyExists(u"A\\B"));  // the key stays

    EXPECT_TRUE(store.DeleteKey(u"a\\b"));
    EXPECT_FALSE(store.KeyExists(u"A\\B"));
    EXPECT_FALSE(store.KeyExists(u"A\\B\\C"));  // sub-keys go with it
    EXPECT_TRUE(store.Get(u"A\\BC", u"z"));      // a sibling with the same prefix stays
    auto def = store.Get(u"A", u"");
    ASSERT_TRUE(def);
    EXPECT_EQ(def->dword, 9u);
    EXPECT_FALSE(store.DeleteKey(u"A\\B"));
}

TEST(KeyStore, RefusesKeyPathsItCouldNotWriteBack)
{
    ps_test::TempDir dir;
    KeyStore store(dir.file("reg.conf"));
    EXPECT_FALSE(store.SetString(u"", u"x", u"1"));
    EXPECT_FALSE(store.SetString(u"\\\\", u"x", u"1"));
    EXPECT_FALSE(store.SetString(u"bad\nkey", u"x", u"1"));
    EXPECT_FALSE(store.SetDword(u"bad]\r", u"x", 1));
    EXPECT_FALSE(store.CreateKey(u"a\x01"));
    EXPECT_TRUE(store.SetString(u"good", u"x", u"1"));
    EXPECT_EQ(store.Values(u"good").size(), 1u);
}

TEST(KeyStore, ConcurrentWritersLoseNothing)
{
    ps_test::TempDir dir;
    KeyStore shared(dir.file("reg.conf"));
    KeyStore second(dir.file("reg.conf"));  // another object over the same file, as another process would be
    constexpr int kThreads = 6;
    constexpr int kWrites = 25;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            KeyStore& store = t % 2 ? second : shared;
            for (int i = 0; i < kWrites; ++i) {
                if (!store.SetDword(u"Threads\\T" + Num(t), u"N" + Num(i), static_cast<uint32_t>(i)))
                    ++failures;
                if (!store.Get(u"threads\\t" + Num(t), u"n" + Num(i)))
                    ++failures;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(shared.Values(u"Threads\\T" + Num(t)).size(), static_cast<size_t>(kWrites)) << t;
    // No temporary file is left behind.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 2);  // the store and its lock file
}

// A writer killed at any moment leaves the old or the new contents, never a
// broken file; the temporary file it may leave is swept by the next write.
TEST(KeyStore, WriterKilledMidWriteLeavesOldOrNewValue)
{
    ps_test::TempDir dir;
    const std::string path = dir.file("reg.conf");
    // A large store, so that a write takes long enough to be interrupted.
    const std::u16string filler(4000, u'f');
    {
        KeyStore store(path);
        for (int i = 0; i < 40; ++i)
            ASSERT_TRUE(store.SetString(u"Big", u"F" + Num(i), filler));
        ASSERT_TRUE(store.SetDword(u"Run", u"Counter", 0));
    }
    // How long one write takes here (much longer under a sanitizer).
    std::chrono::microseconds writeTime{};
    {
        KeyStore store(path);
        const auto start = std::chrono::steady_clock::now();
        for (uint32_t n = 0; n < 5; ++n)
            ASSERT_TRUE(store.SetDword(u"Run", u"Counter", 0));
        writeTime = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start) / 5;
    }
    // Watching the folder shows when a writer has created its temporary
    // file: the moment a kill is most dangerous.
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.path().c_str(), IN_CREATE), 0);
    auto drain = [&] {
        char events[4096];
        while (read(watch, events, sizeof(events)) > 0) {}
    };

    int leftovers = 0;  // kills that came while a write was under way
    for (int round = 0; round < 12; ++round) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipeFds[0]);
            KeyStore store(path);
            for (uint32_t n = 1;; ++n) {
                store.SetDword(u"Run", u"Counter", n);
                if (n == 1) {
                    const char go = 1;
                    if (write(pipeFds[1], &go, 1) != 1)
                        _exit(1);
                }
            }
        }
        close(pipeFds[1]);
        char go = 0;
        ASSERT_EQ(read(pipeFds[0], &go, 1), 1);
        close(pipeFds[0]);
        if (round % 2 == 0) {
            // Right after the next temporary file appears, at a few offsets.
            drain();
            pollfd p{watch, POLLIN, 0};
            ASSERT_EQ(poll(&p, 1, 10000), 1);
            usleep(static_cast<useconds_t>(150 * (round / 2 % 3)));
        } else {
            // Anywhere in a write.
            const double phase = (round * 0.618034) - static_cast<int>(round * 0.618034);
            usleep(static_cast<useconds_t>(phase * 1.2 * static_cast<double>(writeTime.count())));
        }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        KeyStore reader(path);
        auto v = reader.Get(u"Run", u"Counter");
        ASSERT_TRUE(v) << "round " << round;
        EXPECT_EQ(v->type, KeyValue::Type::Dword);
        EXPECT_GE(v->dword, 1u);
        EXPECT_EQ(reader.Values(u"Big").size(), 40u) << "round " << round;
        const std::string file = ps_test::ReadFileBytes(path);
        ASSERT_FALSE(file.empty());
        EXPECT_EQ(file.back(), '\n');
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().filename().string().size() == std::string("reg.conf.XXXXXX").size())
                ++leftovers;
        // The next writer works and sweeps what the dead one left.
        ASSERT_TRUE(reader.SetDword(u"Run", u"Counter", 0));
        int files = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            (void)e;
            ++files;
        }
        EXPECT_EQ(files, 2) << "round " << round;
    }
    close(watch);
    RecordProperty("killed_mid_write", leftovers);
    EXPECT_GT(leftovers, 0) << "no kill landed inside a write";
}

TEST(KeyStore, ValueKeptInPlaceLeavesTheStoreFileAlone)
{
    ps_test::TempDir dir;
    const std::string file = dir.file("reg.conf");
    KeyStore store(file);
    ASSERT_TRUE(store.SetString(u"Run", u"other", u"kept"));
    // A value an older version wrote into the file is still read until the
    // first in-place write, and a delete removes both copies.
    ASSERT_TRUE(store.SetString(u"Run", u"last", u"/old/from/file.hwp"));
    store.KeepInPlace(u"run", u"LAST");
    auto legacy = store.Get(u"Run", u"last");
    ASSERT_TRUE(legacy);
    EXPECT_EQ(legacy->text, u"/old/from/file.hwp");

    struct stat before;
    ASSERT_EQ(0, stat(file.c_str(), &before));
    const std::u16string texts[] = {u"/a/much/longer/path/to/a/document/보고서.hwp", u"/b.pdf", u"", u"x\ny\"z\\",
                                    plat::PathFromNative("/bad/\xFF\xFE.doc")};
    for (const auto& t : texts) {
        ASSERT_TRUE(store.SetString(u"RUN", u"Last", t));
        auto v = store.Get(u"run", u"last");
        ASSERT_TRUE(v);
        EXPECT_EQ(v->type, KeyValue::Type::String);
        EXPECT_EQ(v->text, t);
    }
    // The settings file was neither replaced nor changed by those writes.
    struct stat after;
    ASSERT_EQ(0, stat(file.c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_size, after.st_size);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(store.Get(u"Run", u"other")->text, u"kept");

    EXPECT_TRUE(store.DeleteValue(u"Run", u"last"));
    EXPECT_FALSE(store.Get(u"Run", u"last"));
    EXPECT_FALSE(store.DeleteValue(u"Run", u"last"));
    EXPECT_EQ(store.Get(u"Run", u"other")->text, u"kept");

    // Another store over the same files (the next run) reads what was left.
    ASSERT_TRUE(store.SetString(u"Run", u"last", u"/left/by/a/killed/run.hwp"));
    KeyStore next(file);
    next.KeepInPlace(u"Run", u"last");
    ASSERT_TRUE(next.Get(u"Run", u"last"));
    EXPECT_EQ(next.Get(u"Run", u"last")->text, u"/left/by/a/killed/run.hwp");
}

TEST(KeyStore, DamagedInPlaceFilesAreReadSafely)
{
    ps_test::TempDir dir;
    const std::string file = dir.file("reg.conf");
    const std::string side = file + "-last";
    const struct {
        std::string bytes;
        bool found;
        std::u16string text;
    } cases[] = {
        {"PSV1 6\n/a.pd", false, u""},  // cut short
        {"PSV1 4\n/a.hwp-older-longer-tail", true, u"/a.h"},  // killed before the truncation
        {"PSV1 x\n/a", false, u""},
        {"garbage", false, u""},
        {"", false, u""},
        {"PSV1 99999999999\n", false, u""},
    };
    for (const auto& c : cases) {
        {
            FILE* f = fopen(side.c_str(), "wb");
            ASSERT_TRUE(f);
            fwrite(c.bytes.data(), 1, c.bytes.size(), f);
            fclose(f);
        }
        KeyStore store(file);
        store.KeepInPlace(u"Run", u"last");
        auto v = store.Get(u"Run", u"last");
        EXPECT_EQ(static_cast<bool>(v), c.found) << c.bytes;
        if (v && c.found) {
            EXPECT_EQ(v->text, c.text);
        }
    }
}

TEST(KeyStore, OpensOnlyRegularFiles)
{
    // A pipe in place of the settings file or of the in-place file must not
    // block a reader or a writer.
    ps_test::TempDir dir;
    const std::string file = dir.file("reg.conf");
    ASSERT_EQ(0, mkfifo(file.c_str(), 0600));
    ASSERT_EQ(0, mkfifo((file + "-last").c_str(), 0600));
    std::atomic<bool> done{false};
    std::thread t([&] {
        KeyStore store(file);
        store.KeepInPlace(u"Run", u"last");
        EXPECT_FALSE(store.Get(u"Run", u"other"));
        EXPECT_FALSE(store.Get(u"Run", u"last"));
        EXPECT_FALSE(store.SetString(u"Run", u"other", u"x"));
        done = true;
    });
    for (int i = 0; i < 500 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!done) {
        // Unblock the reader so the test can end, then fail.
        int fd = ::open(file.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        fd = ::open((file + "-last").c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    t.join();
    EXPECT_TRUE(done.load());
}

TEST(KeyStore, AFileBeyondTheSizeCapIsSetAsideAndTheDefaultsHold)
{
    // A settings file no version of the program writes (one huge line): it
    // is not parsed on every read for minutes, it is kept aside under a
    // ".damaged-" name and the settings start again from their defaults. A
    // file just below the cap is still read.
    const size_t cap = KeyStore::kMaxFileBytes;
    const struct {
        const char* name;
        size_t size;
        bool setAside;
    } cases[] = {{"below the cap", cap - 4096, false}, {"beyond the cap", cap + 1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ps_test::TempDir dir;
        const std::string file = dir.file("reg.conf");
        std::string bytes = "[Software\\Norvane\\Privasweep]\n\"Kept\"=\"1\"\n\"Huge\"=\"";
        bytes.append(c.size - bytes.size() - 2, 'x');
        bytes += "\"\n";
        ASSERT_EQ(bytes.size(), c.size);
        ASSERT_TRUE(ps_test::WriteFileBytes(file, bytes));

        KeyStore store(file);
        const auto started = std::chrono::steady_clock::now();
        for (int i = 0; i < 20; ++i) store.Get(u"Software\\Norvane\\Privasweep", u"Kept");
        const auto kept = store.Get(u"Software\\Norvane\\Privasweep", u"Kept");
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::vector<std::string> aside;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().filename().string().rfind("reg.conf.damaged-", 0) == 0) aside.push_back(e.path().string());
        if (c.setAside) {
            EXPECT_FALSE(kept);
            EXPECT_LT(seconds, 1.0);
            ASSERT_EQ(aside.size(), 1u);
            EXPECT_EQ(std::filesystem::file_size(aside[0]), c.size);  // kept whole
            EXPECT_FALSE(std::filesystem::exists(file));
            // The store works again from its defaults.
            EXPECT_TRUE(store.SetString(u"Software\\Norvane\\Privasweep", u"Kept", u"2"));
            EXPECT_EQ(store.Get(u"Software\\Norvane\\Privasweep", u"Kept")->text, u"2");
            EXPECT_LT(std::filesystem::file_size(file), 1024u);
        } else {
            ASSERT_TRUE(kept);
            EXPECT_EQ(kept->text, u"1");
            EXPECT_TRUE(aside.empty());
        }
    }
}
