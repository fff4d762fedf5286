// Test entry point: every test program runs with its own per-user folders so
// that no test reads or writes the real user's settings, database or logs.
#include <gtest/gtest.h>

#include "support/isolation.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    ps_test::IsolatedHome home;
    return RUN_ALL_TESTS();
}
