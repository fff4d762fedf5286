#include "platform/docfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <cerrno>
#include <mutex>

#include "platform/text.h"

namespace {

thread_local plat::ReadCancelScope* t_scope = nullptr;
thread_local PsDocOpenError t_lastOpenError = kDocOpenOk;
thread_local plat::DamageScope* t_damage = nullptr;

// guards: g_budget, the budget of documents read from now on. Taken alone.
std::mutex g_budgetLock;
plat::DocumentBudget g_budget = plat::kDocumentBudget;

int64_t MonotonicNanoseconds()
{
    // The coarse clock (a few milliseconds of resolution) is read without a
    // system call: cheap enough for every byte read of every reader.
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

PsDocOpenError ReasonOfErrno(int e)
{
    switch (e) {
    case ENOENT:
    case ENOTDIR: return kDocOpenNotFound;
    case EACCES:
    case EPERM: return kDocOpenNoAccess;
    case ENAMETOOLONG: return kDocOpenNameTooLong;
    case ENXIO:  // a FIFO nobody writes to, or a device without its driver
    case ENODEV:
    case EISDIR: return kDocOpenNotRegular;
    default: return kDocOpenFailed;
    }
}

int Fail(PsDocOpenError reason, int* why)
{
    t_lastOpenError = reason;
    if (why)
        *why = reason;
    return -1;
}

}  // namespace

extern "C" int PsOpenDocumentFile(const char* nativePath, int* why)
{
    if (!nativePath || !*nativePath)
        return Fail(kDocOpenNotFound, why);
    // O_NONBLOCK: opening a FIFO or a device must not wait for a peer.
    const int fd = ::open(nativePath, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return Fail(ReasonOfErrno(errno), why);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return Fail(kDocOpenFailed, why);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Fail(kDocOpenNotRegular, why);
    }
    // A regular file: reads behave as usual from here on.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return Fail(kDocOpenFailed, why);
    }
    t_lastOpenError = kDocOpenOk;
    if (why)
        *why = kDocOpenOk;
    return fd;
}

extern "C" int PsReadCancelled(void) { return plat::ReadCancelled() ? 1 : 0; }

namespace plat {

struct ReadScopeAccess {
    static DocumentBudget Budget()
    {
        if (t_scope && t_scope->hasBudget_)
            return t_scope->budget_;
        std::lock_guard<std::mutex> lock(g_budgetLock);
        return g_budget;
    }

    static void Note(int limit)
    {
        ReadCancelScope* scope = t_scope;
        if (!scope || !scope->hasBudget_ || limit <= kReadLimitNone || limit > kReadLimitMemory)
            return;
        if (scope->limit_ == kReadLimitNone)
            scope->limit_ = static_cast<ReadLimit>(limit);
    }

    static bool Cancelled()
    {
        ReadCancelScope* scope = t_scope;
        if (!scope)
            return false;
        if (scope->flag_ && scope->flag_->load(std::memory_order_relaxed) != 0)
            return true;
        if (scope->limit_ != kReadLimitNone)
            return true;
        if (scope->deadline_ != 0 && MonotonicNanoseconds() >= scope->deadline_) {
            scope->limit_ = kReadLimitTime;
            return true;
        }
        return false;
    }
};

}  // namespace plat

extern "C" PsDocumentBudget PsCurrentDocumentBudget(void) { return plat::ReadScopeAccess::Budget(); }

extern "C" void PsNoteReadLimit(int limit) { plat::ReadScopeAccess::Note(limit); }

namespace plat {

DocumentBudget SetDocumentBudget(const DocumentBudget& budget)
{
    std::lock_guard<std::mutex> lock(g_budgetLock);
    const DocumentBudget old = g_budget;
    g_budget = budget;
    return old;
}

DocumentBudget CurrentDocumentBudget() { return ReadScopeAccess::Budget(); }

int OpenDocumentFile(const std::string& nativePath, DocOpenError* why)
{
    int reason = kDocOpenOk;
    const int fd = PsOpenDocumentFile(nativePath.c_str(), &reason);
    if (why)
        *why = static_cast<DocOpenError>(reason);
    return fd;
}

int OpenDocumentFile(std::u16string_view path, DocOpenError* why)
{
    return OpenDocumentFile(PathToNative(path), why);
}

FILE* OpenDocumentStream(std::u16string_view path, DocOpenError* why)
{
    return OpenDocumentStream(PathToNative(path), why);
}

FILE* OpenDocumentStream(const std::string& nativePath, DocOpenError* why)
{
    const int fd = OpenDocumentFile(nativePath, why);
    if (fd < 0)
        return nullptr;
    FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        ::close(fd);
        Fail(kDocOpenFailed, nullptr);
        if (why)
            *why = kDocOpenFailed;
    }
    return f;
}

DocOpenError LastDocumentOpenError() { return t_lastOpenError; }
void ClearDocumentOpenError() { t_lastOpenError = kDocOpenOk; }

ReadCancelScope::ReadCancelScope(const std::atomic<int32_t>* flag) : flag_(flag), previous_(t_scope)
{
    if (previous_ && previous_->hasBudget_) {
        // The document of the scope around this one, with its clock running.
        hasBudget_ = true;
        budget_ = previous_->budget_;
        deadline_ = previous_->deadline_;
        limit_ = previous_->limit_;
        inherited_ = true;
    }
    t_scope = this;
}

ReadCancelScope::ReadCancelScope(const std::atomic<int32_t>* flag, const DocumentBudget& budget)
    : flag_(flag), previous_(t_scope), hasBudget_(true), budget_(budget)
{
    if (budget.seconds > 0) {
        const double ns = budget.seconds * 1e9;
        // A budget beyond a century is no limit.
        if (ns < 3.2e18)
            deadline_ = MonotonicNanoseconds() + static_cast<int64_t>(ns);
    }
    t_scope = this;
}

ReadCancelScope::~ReadCancelScope()
{
    t_scope = previous_;
    // A limit reached inside a scope that took over its document's budget is
    // that document's.
    if (inherited_ && previous_->limit_ == kReadLimitNone)
        previous_->limit_ = limit_;
}

bool ReadCancelled() { return ReadScopeAccess::Cancelled(); }

struct DamageScopeAccess {
    static void Note(DamageScope* scope, const char* reason)
    {
        if (!scope->reason_)
            scope->reason_ = reason && *reason ? reason : "damaged";
        scope->count_ += 1;
    }
};

DamageScope::DamageScope() : previous_(t_damage) { t_damage = this; }

DamageScope::~DamageScope()
{
    t_damage = previous_;
    if (previous_ && count_ != 0) {
        DamageScopeAccess::Note(previous_, reason_);
        previous_->count_ += count_ - 1;
    }
}

}  // namespace plat

extern "C" void PsNoteDamage(const char* reason)
{
    if (t_damage)
        plat::DamageScopeAccess::Note(t_damage, reason);
}

extern "C" int PsDamageNoted(void) { return t_damage && t_damage->Damaged() ? 1 : 0; }
