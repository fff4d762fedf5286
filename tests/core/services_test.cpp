#include <gtest/gtest.h>

#include <filesystem>
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

// The program opens and closes the services and ends with 0, silently.
TEST(CoreServices, ProgramStartsAndEndsCleanly)
{
    const std::string program = std::string(PS_BINARY_DIR) + "/bin/privasweep";
    if (access(program.c_str(), X_OK) != 0)
        GTEST_SKIP() << "built without the windows";
    ps_test::TempDir dir;
    const std::string out = dir.file("out.txt");
    const std::string command = "'" + program + "' > '" + out + "' 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ps_test::ReadFileBytes(out), "");
}
