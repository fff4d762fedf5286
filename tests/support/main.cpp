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

// Leaks the sanitizer build must not report: libxml2 keeps a block of
// per-thread globals for every thread that parses and gives it back from a
// thread-exit hook that does not run for a thread ending after the library
// was cleaned up (reading threads of a pool that outlive a document's
// entry). Not the program's memory.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:xmlGetGlobalState\n";
}
