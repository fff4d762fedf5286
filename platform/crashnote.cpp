#include "platform/crashnote.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/system.h"
#include "platform/text.h"

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);

// guards: g_installed, g_previous (written once, under the lock, before the
// handlers are installed) and the opening of g_noteFd.
std::mutex g_armLock;
bool g_installed = false;
struct sigaction g_previous[kSignalCount];
std::atomic<int> g_noteFd{-1};

thread_local const std::string* t_document = nullptr;

// A signal stack of the thread's own, given back when the thread ends.
struct AltStack {
    std::unique_ptr<char[]> memory;
    ~AltStack()
    {
        if (!memory)
            return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
    }
    void Ensure()
    {
        if (memory)
            return;
        stack_t current{};
        if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE))
            return;  // the thread has one already (a sanitizer's, say)
        const size_t size = 64 * 1024;
        memory.reset(new (std::nothrow) char[size]);
        if (!memory)
            return;
        stack_t st{};
        st.ss_sp = memory.get();
        st.ss_size = size;
        if (::sigaltstack(&st, nullptr) != 0)
            memory.reset();
    }
};
thread_local AltStack t_altStack;

int IndexOf(int sig)
{
    for (int i = 0; i < kSignalCount; ++i)
        if (kSignals[i] == sig)
            return i;
    return -1;
}

void OnFatalSignal(int sig, siginfo_t* info, void*)
{
    const int saved = errno;
    const std::string* doc = t_document;
    const int fd = g_noteFd.load(std::memory_order_relaxed);
    if (doc && fd >= 0) {
        size_t done = 0;
        while (done < doc->size()) {
            const ssize_t n = ::pwrite(fd, doc->data() + done, doc->size() - done, static_cast<off_t>(done));
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        ::fsync(fd);
    }
    // The handler that was there before takes the signal: a fault comes
    // again when this returns; a signal sent is sent again.
    const int i = IndexOf(sig);
    if (i >= 0)
        ::sigaction(sig, &g_previous[i], nullptr);
    else
        ::signal(sig, SIG_DFL);
    errno = saved;
    if (!info || info->si_code <= 0 || sig == SIGABRT)
        ::raise(sig);
}

}  // namespace

namespace plat {

std::u16string CrashNotePath()
{
    return VendorSubdir(StateDir()) + u"/lastCrashDocument";
}

bool ArmCrashNote()
{
    std::lock_guard<std::mutex> lock(g_armLock);
    const std::u16string path = CrashNotePath();
    MakeDirs(VendorSubdir(StateDir()));
    const int fd = ::open(PathToNative(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int old = g_noteFd.exchange(fd);
    if (old >= 0)
        ::close(old);
    if (!g_installed) {
        g_installed = true;
        for (int i = 0; i < kSignalCount; ++i) {
            struct sigaction sa{};
            sa.sa_sigaction = OnFatalSignal;
            sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
            sigemptyset(&sa.sa_mask);
            ::sigaction(kSignals[i], &sa, &g_previous[i]);
        }
    }
    return fd >= 0;
}

std::u16string ReadCrashNote()
{
    const int fd = ::open(PathToNative(CrashNotePath()).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return {};
    std::string bytes;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0 || bytes.size() > (size_t{1} << 20))
            break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    const size_t end = bytes.find('\n');
    // A note without its line end was cut while being written: no note.
    if (end == std::string::npos || end == 0)
        return {};
    return UnescapeLine(PathFromNative(std::string_view(bytes).substr(0, end)));
}

void ClearCrashNote()
{
    std::lock_guard<std::mutex> lock(g_armLock);
    const int fd = g_noteFd.load();
    if (fd >= 0)
        (void)!::ftruncate(fd, 0);
    else
        (void)!::truncate(PathToNative(CrashNotePath()).c_str(), 0);
}

CrashNoteScope::CrashNoteScope(std::u16string_view path)
    : line_(PathToNative(EscapeLine(path)) + "\n"), previous_(t_document)
{
    t_altStack.Ensure();
    t_document = &line_;
}

CrashNoteScope::~CrashNoteScope() { t_document = previous_; }

}  // namespace plat
