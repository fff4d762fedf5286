#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "core/logmgr.h"
#include "core/registry.h"
#include "core/services.h"
#include "platform/keystore.h"
#include "platform/pending.h"
#include "support/isolation.h"

TEST(CoreServices, OpenInOrderAndCloseAgain)
{
    ps_test::TempDir dir;
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("left.zip"), "x"));
    ASSERT_TRUE(plat::DeleteAtNextStart(plat::PathFromNative(dir.file("left.zip"))));

    EXPECT_EQ(CoreServices::Current(), nullptr);
    {
        CoreServices services;
        EXPECT_EQ(CoreServices::Current(), &services);
        EXPECT_EQ(services.UpdaterFileName(), u"RUDazoza.so");
        EXPECT_EQ(&services.Store(), &plat::KeyStore::User());
        EXPECT_EQ(services.SettingsKeyText(), SettingsKey());
        EXPECT_EQ(&services.ApplicationLog(), &AppLog());
        EXPECT_EQ(&services.SearchActionLog(), &SearchLog());
        EXPECT_NE(&services.ApplicationLog(), &services.SearchActionLog());
        // What the last run left for deletion is gone before anything else runs.
        EXPECT_EQ(services.PurgedAtStart(), 1);
        EXPECT_FALSE(std::filesystem::exists(dir.file("left.zip")));
    }
    EXPECT_EQ(CoreServices::Current(), nullptr);
    // A second run of the program in the same process is possible.
    CoreServices again;
    EXPECT_EQ(again.PurgedAtStart(), 0);
}

// The program opens and closes the services and ends with 0: a second start
// ends at once, and the first ends cleanly when asked to terminate.
TEST(CoreServices, ProgramStartsAndEndsCleanly)
{
    const std::string program = std::string(PS_BINARY_DIR) + "/bin/privasweep";
    if (access(program.c_str(), X_OK) != 0)
        GTEST_SKIP() << "built without the windows";
    ps_test::TempDir dir;
    const std::string out = dir.file("out.txt");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const pid_t first = fork();
    ASSERT_GE(first, 0);
    if (first == 0) {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        dup2(fd, 2);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Running once its event database exists.
    const std::string db = std::string(getenv("XDG_DATA_HOME")) + "/Norvane/Privasweep/Privasweep.db";
    for (int i = 0; i < 200 && !std::filesystem::exists(db); ++i) usleep(50 * 1000);
    usleep(500 * 1000);
    EXPECT_TRUE(std::filesystem::exists(db));

    const std::string second = "'" + program + "' > '" + dir.file("second.txt") + "' 2>&1";
    const int secondStatus = std::system(second.c_str());
    ASSERT_TRUE(WIFEXITED(secondStatus));
    EXPECT_EQ(WEXITSTATUS(secondStatus), 0);

    ASSERT_EQ(kill(first, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(waitpid(first, &status, 0), first);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // Nothing but the offscreen platform's notes (window shapes, the raise
    // that the second start asked for).
    std::string rest;
    std::istringstream lines(ps_test::ReadFileBytes(out) + ps_test::ReadFileBytes(dir.file("second.txt")));
    for (std::string line; std::getline(lines, line);)
        if (line.find("This plugin does not support") == std::string::npos) rest += line + "\n";
    EXPECT_EQ(rest, "");
}
