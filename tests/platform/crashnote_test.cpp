#include "platform/crashnote.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace {

// Runs body in a child process and waits for it to end.
template <class Body>
void InChild(Body body)
{
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
}

// A reader's fault names the document of the innermost scope on the
// faulting thread, exactly, whatever its name holds; a run killed from
// outside, a scope already left or a cleared note names none.
TEST(CrashNote, AFaultNamesTheDocumentOfTheFaultingThreadOnly)
{
    const std::u16string odd = u"/d/line\nbreak \\ name.pdf";
    const struct {
        const char* name;
        int how;  // 0 SIGSEGV, 1 abort, 2 SIGKILL from outside, 3 fault after the scope ended
        std::u16string named;
    } cases[] = {
        {"segmentation fault", 0, odd},
        {"abort", 1, u"/d/inner.hwp"},
        {"killed", 2, u""},
        {"after the scope", 3, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InChild([&] {
            plat::ArmCrashNote();
            {
                plat::CrashNoteScope outer(odd);
                if (c.how == 1) {
                    plat::CrashNoteScope inner(u"/d/inner.hwp");
                    std::abort();
                }
                if (c.how == 0) ::raise(SIGSEGV);
                if (c.how == 2) ::raise(SIGKILL);
            }
            ::raise(SIGSEGV);
        });
        EXPECT_EQ(plat::ReadCrashNote(), c.named);
    }
    plat::ClearCrashNote();
    EXPECT_EQ(plat::ReadCrashNote(), u"");
}

}  // namespace
