// Clients of the optional modules when the modules are absent: every call
// answers "not there" and the program goes on.
#include <gtest/gtest.h>

#include "core/modules.h"
#include "core/util.h"

namespace {

TEST(ModuleClients, AbsentModulesLeaveTheProgramRunning)
{
    EXPECT_EQ(ActionCodeText(6), "prv10_006");
    EXPECT_EQ(ActionCodeText(34), "prv10_034");
    EXPECT_EQ(ActionCodeText(35), "prv12_035");
    EXPECT_EQ(ActionCodeText(63), "prv12_063");
    EXPECT_EQ(ReportAction(4), 0);
    EXPECT_FALSE(Statistics().loaded);
    EXPECT_EQ(InitUpdater(u"Privasweep"), 0);
    EXPECT_EQ(RunOnlineUpdate(), 0);
    EXPECT_TRUE(ExitUpdater());
    Crashlet c;
    EXPECT_FALSE(c.Start(GetModuleFolder(false) + u"/CrashletC.so", u"_KOR_FREE", u""));
    EXPECT_EQ(c.module, nullptr);
    EXPECT_EQ(GetUpdaterPath(), GetModuleFolder(false) + u"/RUDazoza.so");
}

}  // namespace
