#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/instance.h"
#include "platform/keystore.h"
#include "platform/pending.h"
#include "platform/system.h"
#include "support/isolation.h"

using plat::PathFromNative;
using plat::PathToNative;
using plat::WString;

namespace {

bool Exists(const WString& path)
{
    struct stat st{};
    return lstat(PathToNative(path).c_str(), &st) == 0;
}

}  // namespace

// File names that are not valid UTF-8 are found, opened, renamed and deleted
// through their UTF-16 form.
TEST(Paths, NonUtf8NamesSurviveRealFileOperations)
{
    ps_test::TempDir dir;
    const std::string names[] = {
        "\xB0\xA1\xB3\xAA.hwp",      // a name written in code page 949
        "bad\xFF\xFE.doc",
        "cut\xE4\xB8",
        "\xED\xA0\x80surrogate.txt",
        "\xC0\xAF.pdf",
        "\xED\x95\x9C\xEA\xB8\x80 \xF0\x9F\x98\x80.xlsx",  // valid UTF-8 with an emoji
    };
    for (const auto& name : names) {
        ASSERT_TRUE(ps_test::WriteFileBytes(dir.file(name), "content"));
        // As a directory walk would see it.
        WString found;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().filename().string() == name)
                found = PathFromNative(e.path().string());
        ASSERT_FALSE(found.empty());
        const std::string native = PathToNative(found);
        EXPECT_EQ(native, dir.file(name));
        int fd = open(native.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        char buf[16] = {};
        EXPECT_EQ(read(fd, buf, sizeof(buf)), 7);
        close(fd);
        const WString renamed = found + u".bak";
        ASSERT_EQ(std::rename(native.c_str(), PathToNative(renamed).c_str()), 0);
        EXPECT_TRUE(Exists(renamed));
        ASSERT_EQ(unlink(PathToNative(renamed).c_str()), 0);
        EXPECT_FALSE(Exists(found));
        EXPECT_FALSE(Exists(renamed));
    }
}

TEST(Paths, FileTimeFromTimespec)
{
    struct Case { timespec ts; uint64_t want; };
    const Case cases[] = {
        {{0, 0}, plat::kFileTimeUnixEpoch},
        {{1, 999999999}, plat::kFileTimeUnixEpoch + 19999999},  // below 100 ns is dropped
        {{1394000000, 500}, 130384736000000005ULL},
        {{-11644473600LL, 0}, 0},                               // 1601-01-01
        {{-11644473601LL, 0}, 0},                               // before 1601: clamped
    };
    for (const auto& c : cases)
        EXPECT_EQ(plat::FileTimeFromTimespec(c.ts), c.want) << c.ts.tv_sec;
}

TEST(Folders, FollowTheEnvironment)
{
    // The test entry point pointed every XDG folder into a private home.
    const std::string home = std::getenv("HOME");
    EXPECT_EQ(PathToNative(plat::ConfigDir()), home + "/.config");
    EXPECT_EQ(PathToNative(plat::AppDataDir()), home + "/.local/share");
    EXPECT_EQ(PathToNative(plat::StateDir()), home + "/.local/state");
    EXPECT_EQ(PathToNative(plat::RuntimeDir()), home + "/run");
    EXPECT_EQ(PathToNative(plat::DocumentsDir()), home + "/Documents");
    EXPECT_EQ(plat::VendorSubdir(u"/base"), u"/base/Norvane/Privasweep");
    EXPECT_EQ(PathToNative(plat::ProgramDir()), std::string(PS_BINARY_DIR) + "/tests");
    EXPECT_FALSE(plat::UserName().empty());
    EXPECT_EQ(plat::ProcessId(), static_cast<uint32_t>(getpid()));
}

TEST(Folders, TraceLogsGoToTheProgramFolderWhenWritable)
{
    ps_test::TempDir dir;
    const WString program = PathFromNative(dir.path());
    const WString state = PathFromNative(dir.file("state"));
    EXPECT_EQ(plat::ChooseTraceLogDir(program, state), program);
    // A program folder that cannot be written to (here: one that is a file).
    const WString notAFolder = PathFromNative(dir.file("file"));
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("file"), "x"));
    EXPECT_EQ(plat::ChooseTraceLogDir(notAFolder, state), state + u"/Norvane/Privasweep");
    EXPECT_EQ(plat::ChooseTraceLogDir(PathFromNative(dir.file("missing")), state), state + u"/Norvane/Privasweep");
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("state/Norvane/Privasweep")));
    EXPECT_EQ(plat::TraceLogDir(), plat::ProgramDir());
}

TEST(Folders, TemporaryFilesArePrivateAndNeverShared)
{
    ps_test::TempDir dir;
    const WString folder = PathFromNative(dir.path());
    WString a, b;
    const int fa = plat::CreateTempFile(u"pic", u".emf", a, folder);
    const int fb = plat::CreateTempFile(u"pic", u".emf", b, folder);
    ASSERT_GE(fa, 0);
    ASSERT_GE(fb, 0);
    EXPECT_NE(a, b);
    for (const WString& p : {a, b}) {
        EXPECT_EQ(p.substr(0, folder.size() + 4), folder + u"/pic");
        EXPECT_EQ(p.substr(p.size() - 4), u".emf");
        struct stat st{};
        ASSERT_EQ(stat(PathToNative(p).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    EXPECT_TRUE(fcntl(fa, F_GETFD) & FD_CLOEXEC);
    close(fa);
    close(fb);
    WString bad;
    EXPECT_EQ(plat::CreateTempFile(u"../x", u"", bad, folder), -1);
    EXPECT_EQ(plat::CreateTempFile(u"x", u"", bad, PathFromNative(dir.file("missing"))), -1);
    // The default folder is the temporary folder.
    WString def;
    const int fd = plat::CreateTempFile(u"ps-", u"", def);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(def.substr(0, plat::TempDir().size() + 4), plat::TempDir() + u"/ps-");
    unlink(PathToNative(def).c_str());
}

TEST(PendingDeletion, ListedFilesGoAtTheNextStart)
{
    ps_test::TempDir dir;
    plat::KeyStore store(dir.file("reg.conf"));
    const std::string files[] = {dir.file("a.zip"), dir.file("\xB0\xA1.hwp"), dir.file("folder")};
    ASSERT_TRUE(ps_test::WriteFileBytes(files[0], "a"));
    ASSERT_TRUE(ps_test::WriteFileBytes(files[1], "b"));
    ASSERT_EQ(mkdir(files[2].c_str(), 0700), 0);
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("keep.txt"), "k"));
    for (const auto& f : files)
        ASSERT_TRUE(plat::DeleteAtNextStart(PathFromNative(f), store));
    ASSERT_TRUE(plat::DeleteAtNextStart(PathFromNative(files[0]), store));  // listed once
    ASSERT_TRUE(plat::DeleteAtNextStart(PathFromNative(dir.file("gone already")), store));
    EXPECT_EQ(store.Values(plat::kPendingDeleteKey).size(), 4u);
    EXPECT_FALSE(plat::DeleteAtNextStart(u"", store));

    // Nothing happens until the purge.
    for (const auto& f : files)
        EXPECT_TRUE(Exists(PathFromNative(f)));
    EXPECT_EQ(plat::PurgePendingDeletions(store), 4);
    for (const auto& f : files)
        EXPECT_FALSE(Exists(PathFromNative(f))) << f;
    EXPECT_TRUE(Exists(PathFromNative(dir.file("keep.txt"))));
    EXPECT_TRUE(store.Values(plat::kPendingDeleteKey).empty());
    EXPECT_EQ(plat::PurgePendingDeletions(store), 0);

    // A folder that is not empty cannot go; it is dropped from the list all the same.
    ASSERT_EQ(mkdir(dir.file("full").c_str(), 0700), 0);
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("full/x"), "x"));
    ASSERT_TRUE(plat::DeleteAtNextStart(PathFromNative(dir.file("full")), store));
    EXPECT_EQ(plat::PurgePendingDeletions(store), 0);
    EXPECT_TRUE(Exists(PathFromNative(dir.file("full/x"))));
    EXPECT_TRUE(store.Values(plat::kPendingDeleteKey).empty());
}

TEST(SingleInstance, SecondInstanceRaisesTheFirst)
{
    ps_test::TempDir dir;
    const WString folder = PathFromNative(dir.file("run"));
    std::atomic<int> raised{0};
    {
        plat::SingleInstance first(folder);
        ASSERT_TRUE(first.Acquire([&] { ++raised; }));
        EXPECT_TRUE(first.IsFirst());

        for (int i = 1; i <= 2; ++i) {
            plat::SingleInstance second(folder);
            EXPECT_FALSE(second.Acquire([] { ADD_FAILURE() << "the second instance was raised"; }));
            EXPECT_FALSE(second.IsFirst());
            EXPECT_TRUE(second.RaiseSent());
            EXPECT_EQ(raised.load(), i);
        }
        // A stranger's message is not a raise request.
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::string sock = dir.file("run/instance.sock");
        std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", sock.c_str());
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
        ASSERT_EQ(write(fd, "HELLO\n", 6), 6);
        char answer[8];
        EXPECT_LE(read(fd, answer, sizeof(answer)), 0);
        close(fd);
        EXPECT_EQ(raised.load(), 2);
    }
    // Once the first has ended, the next one is first again.
    plat::SingleInstance next(folder);
    EXPECT_TRUE(next.Acquire(nullptr));
    EXPECT_FALSE(plat::SingleInstance::SendRaise(PathFromNative(dir.file("elsewhere")), 100));
}

// An instance that was killed leaves its socket file behind; the lock dies
// with it, and the next instance starts as the first.
TEST(SingleInstance, KilledInstanceDoesNotBlockTheNext)
{
    ps_test::TempDir dir;
    const WString folder = PathFromNative(dir.file("run"));
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        plat::SingleInstance first(folder);
        const char ok = first.Acquire(nullptr) ? 1 : 0;
        if (write(pipeFds[1], &ok, 1) != 1)
            _exit(1);
        for (;;)
            pause();
    }
    close(pipeFds[1]);
    char ok = 0;
    ASSERT_EQ(read(pipeFds[0], &ok, 1), 1);
    close(pipeFds[0]);
    ASSERT_EQ(ok, 1);
    {
        plat::SingleInstance second(folder);
        EXPECT_FALSE(second.Acquire(nullptr));
        EXPECT_TRUE(second.RaiseSent());
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(Exists(PathFromNative(dir.file("run/instance.sock"))));
    std::atomic<int> raised{0};
    plat::SingleInstance next(folder);
    ASSERT_TRUE(next.Acquire([&] { ++raised; }));
    EXPECT_TRUE(plat::SingleInstance::SendRaise(folder));
    EXPECT_EQ(raised.load(), 1);
}

// Without a session runtime folder, the private one under the temporary
// folder is used only when it belongs to this user and is closed to others.
TEST(Folders, RuntimeFolderFallbackIsPrivate)
{
    ps_test::TempDir dir;
    const std::string savedRuntime = std::getenv("XDG_RUNTIME_DIR");
    const char* savedTmp = std::getenv("TMPDIR");
    const std::string keepTmp = savedTmp ? savedTmp : "";
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", dir.path().c_str(), 1);
    const std::string expected = dir.file("privasweep-" + std::to_string(geteuid()));

    EXPECT_EQ(PathToNative(plat::RuntimeDir()), expected);
    struct stat st{};
    ASSERT_EQ(stat(expected.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Opened up to others (as a planted folder would be): not used.
    chmod(expected.c_str(), 0777);
    const std::string other = PathToNative(plat::RuntimeDir());
    EXPECT_NE(other, expected);
    EXPECT_EQ(other.rfind(expected + "-", 0), 0u) << other;
    ASSERT_EQ(stat(other.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(PathToNative(plat::RuntimeDir()), other);  // the same one for the whole process

    setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    if (savedTmp)
        setenv("TMPDIR", keepTmp.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

TEST(SingleInstance, WithoutAUsableFolderTheProgramStillRuns)
{
    ps_test::TempDir dir;
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("file"), "x"));
    plat::SingleInstance only(PathFromNative(dir.file("file/run")));
    EXPECT_TRUE(only.Acquire(nullptr));
    EXPECT_TRUE(only.IsFirst());
    only.Release();
    EXPECT_FALSE(only.IsFirst());
}
