#include "platform/docfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

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

namespace plat {

FileIdentity IdentityOf(const struct ::stat& st)
{
    FileIdentity id;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.inode = static_cast<uint64_t>(st.st_ino);
    id.size = static_cast<int64_t>(st.st_size);
    id.modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

// The first regular file opened inside the innermost scope is the document
// it reads; a scope that took over its document's budget hands it on when
// it ends (see ~ReadCancelScope).
struct OpenedFileAccess {
    static void Note(const struct ::stat& st)
    {
        if (t_scope && !t_scope->firstFile_.Known())
            t_scope->firstFile_ = IdentityOf(st);
    }
    static void HandOn(ReadCancelScope* from, ReadCancelScope* to)
    {
        if (to && !to->firstFile_.Known())
            to->firstFile_ = from->firstFile_;
    }
};

}  // namespace plat

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
    plat::OpenedFileAccess::Note(st);
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
        account_ = previous_->account_;
    }
    t_scope = this;
}

ReadCancelScope::ReadCancelScope(const std::atomic<int32_t>* flag, const DocumentBudget& budget)
    : ReadCancelScope(flag, budget, &SearchMemoryCeiling())
{
}

ReadCancelScope::ReadCancelScope(const std::atomic<int32_t>* flag, const DocumentBudget& budget,
                                 MemoryCeiling* ceiling)
    : flag_(flag), previous_(t_scope), hasBudget_(true), budget_(budget)
{
    OpenAccount(ceiling);
    if (budget.seconds > 0) {
        const double ns = budget.seconds * 1e9;
        // A budget beyond a century is no limit.
        if (ns < 3.2e18)
            deadline_ = MonotonicNanoseconds() + static_cast<int64_t>(ns);
    }
    t_scope = this;
}

bool ReadCancelled() { return ReadScopeAccess::Cancelled(); }

// ------------------------------------------------------------ memory ceiling

struct MemoryCeiling::State {
    // guards: every member below, and the reserved bytes of every account
    // (written by the account's own thread under this lock, read by the
    // others to choose the one to refuse). Taken alone.
    std::mutex lock;
    std::condition_variable changed;  // memory given back, a document refused, a stop
    uint64_t limit = 0;
    uint64_t granule = 1;
    uint64_t reserved = 0;
    uint64_t peak = 0;
    unsigned holders = 0;                   // accounts with reserved bytes
    std::vector<PsMemoryAccount*> waiting;  // accounts in Reserve's wait
    PsMemoryAccount* refuse = nullptr;      // chosen to be refused, not told yet
};

}  // namespace plat

// One document's memory (see PsCurrentMemoryAccount). held and budget are
// its thread's alone; reserved is written under the ceiling's lock.
struct PsMemoryAccount {
    plat::MemoryCeiling::State* ceiling = nullptr;  // null: against no ceiling
    uint64_t budget = 0;                            // the document's memory budget; 0: none
    uint64_t held = 0;                              // taken by its readers
    uint64_t text = 0;                              // of held: the room of its text
    uint64_t reserved = 0;                          // reserved from the ceiling

    enum class Answer { Granted, Refused, Stopped };
    Answer Take(uint64_t bytes, bool forText);
    void Give(uint64_t bytes, bool forText);
    void Close();

private:
    Answer Reserve(uint64_t need, uint64_t wanted);
    void Release(uint64_t bytes);
};

namespace {

// How long a waiting take sleeps before it looks at its stop flag and
// deadline again (a stop also wakes it at once through WakeWaiters).
constexpr auto kMemoryWaitSlice = std::chrono::milliseconds(20);

uint64_t RoundUp(uint64_t n, uint64_t granule)
{
    const uint64_t r = n % granule;
    return r == 0 || n > UINT64_MAX - granule ? n : n + (granule - r);
}

}  // namespace

PsMemoryAccount::Answer PsMemoryAccount::Take(uint64_t bytes, bool forText)
{
    const uint64_t readers = held - text;
    if (!forText && budget && (readers > budget || bytes > budget - readers)) {
        plat::ReadScopeAccess::Note(kReadLimitMemory);
        return Answer::Refused;
    }
    if (!ceiling || bytes <= reserved - held) {
        held += bytes;
        text += forText ? bytes : 0;
        return Answer::Granted;
    }
    const uint64_t need = held + bytes - reserved;
    const Answer answer = Reserve(need, RoundUp(need, ceiling->granule));
    if (answer == Answer::Granted) {
        held += bytes;
        text += forText ? bytes : 0;
    } else if (answer == Answer::Refused)
        plat::ReadScopeAccess::Note(kReadLimitMemory);
    return answer;
}

void PsMemoryAccount::Give(uint64_t bytes, bool forText)
{
    if (forText)
        text -= std::min(text, bytes);
    held -= std::min(held, bytes);
    text = std::min(text, held);
    if (!ceiling)
        return;
    // Kept back: the granules in use and one more, so that a reader that
    // allocates and frees around a granule's edge does not take the lock
    // every time.
    const uint64_t keep = RoundUp(held, ceiling->granule) + ceiling->granule;
    if (reserved > keep + ceiling->granule)
        Release(reserved - keep);
}

void PsMemoryAccount::Close()
{
    held = 0;
    text = 0;
    if (ceiling && reserved)
        Release(reserved);
}

void PsMemoryAccount::Release(uint64_t bytes)
{
    plat::MemoryCeiling::State& c = *ceiling;
    std::lock_guard<std::mutex> g(c.lock);
    bytes = std::min(bytes, reserved);
    reserved -= bytes;
    c.reserved -= bytes;
    if (reserved == 0 && bytes != 0)
        c.holders -= 1;
    if (!c.waiting.empty())
        c.changed.notify_all();
}

// Reserves at least need bytes (wanted when they fit) from the ceiling,
// waiting while other documents hold the memory and can give it back.
PsMemoryAccount::Answer PsMemoryAccount::Reserve(uint64_t need, uint64_t wanted)
{
    plat::MemoryCeiling::State& c = *ceiling;
    std::unique_lock<std::mutex> lk(c.lock);
    auto leave = [&](Answer answer) {
        c.waiting.erase(std::remove(c.waiting.begin(), c.waiting.end(), this), c.waiting.end());
        if (c.refuse == this)
            c.refuse = nullptr;
        // The set of waiting documents changed: another may now be the one
        // to refuse.
        if (!c.waiting.empty())
            c.changed.notify_all();
        return answer;
    };
    for (;;) {
        const uint64_t room = c.limit > c.reserved ? c.limit - c.reserved : 0;
        if (need <= room) {
            const uint64_t amount = std::max(need, std::min(wanted, room));
            if (reserved == 0)
                c.holders += 1;
            reserved += amount;
            c.reserved += amount;
            c.peak = std::max(c.peak, c.reserved);
            return leave(Answer::Granted);
        }
        // A document that was stopped (the search, its deadline, or a limit
        // already reached) does not wait: it is ending anyway.
        if (plat::ReadScopeAccess::Cancelled())
            return leave(Answer::Stopped);
        // More than the ceiling, however much the others give back; the only
        // document holding memory; or chosen to give way.
        const unsigned others = c.holders - (reserved != 0 ? 1u : 0u);
        if (reserved + need > c.limit || others == 0 || c.refuse == this)
            return leave(Answer::Refused);
        if (std::find(c.waiting.begin(), c.waiting.end(), this) == c.waiting.end())
            c.waiting.push_back(this);
        if (!c.refuse) {
            // When every document holding memory waits, none will give any
            // back: the one holding most is refused, and its memory goes to
            // the others once it has stopped.
            unsigned waitingHolders = 0;
            PsMemoryAccount* largest = nullptr;
            for (PsMemoryAccount* a : c.waiting) {
                if (a->reserved == 0)
                    continue;
                waitingHolders += 1;
                if (!largest || a->reserved > largest->reserved)
                    largest = a;
            }
            if (largest && waitingHolders == c.holders) {
                if (largest == this)
                    return leave(Answer::Refused);
                c.refuse = largest;
                c.changed.notify_all();
            }
        }
        c.changed.wait_for(lk, kMemoryWaitSlice);
    }
}

namespace plat {

MemoryCeiling::MemoryCeiling(uint64_t limit, uint64_t granule) : state_(new State)
{
    state_->limit = limit;
    state_->granule = std::max<uint64_t>(granule, 1);
}

MemoryCeiling::~MemoryCeiling() { delete state_; }

uint64_t MemoryCeiling::Limit() const
{
    std::lock_guard<std::mutex> g(state_->lock);
    return state_->limit;
}

uint64_t MemoryCeiling::SetLimit(uint64_t limit)
{
    std::lock_guard<std::mutex> g(state_->lock);
    const uint64_t old = state_->limit;
    state_->limit = limit;
    state_->peak = state_->reserved;
    state_->changed.notify_all();
    return old;
}

uint64_t MemoryCeiling::Reserved() const
{
    std::lock_guard<std::mutex> g(state_->lock);
    return state_->reserved;
}

uint64_t MemoryCeiling::PeakReserved() const
{
    std::lock_guard<std::mutex> g(state_->lock);
    return state_->peak;
}

unsigned MemoryCeiling::Waiting() const
{
    std::lock_guard<std::mutex> g(state_->lock);
    return static_cast<unsigned>(state_->waiting.size());
}

void MemoryCeiling::WakeWaiters()
{
    std::lock_guard<std::mutex> g(state_->lock);
    state_->changed.notify_all();
}

uint64_t DefaultSearchMemoryLimit()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    uint64_t physical = pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) : 0;
    return std::max<uint64_t>(physical / PS_SEARCH_MEMORY_SHARE, kDocumentBudget.memory);
}

MemoryCeiling& SearchMemoryCeiling()
{
    static MemoryCeiling ceiling(DefaultSearchMemoryLimit());
    return ceiling;
}

void ReadCancelScope::OpenAccount(MemoryCeiling* ceiling)
{
    account_ = new PsMemoryAccount;
    ownsAccount_ = true;
    account_->ceiling = ceiling ? ceiling->state_ : nullptr;
    account_->budget = budget_.memory;
}

ReadCancelScope::~ReadCancelScope()
{
    t_scope = previous_;
    // A limit reached inside a scope that took over its document's budget is
    // that document's.
    if (inherited_ && previous_->limit_ == kReadLimitNone)
        previous_->limit_ = limit_;
    if (ownsAccount_) {
        account_->Close();
        delete account_;
    }
    if (inherited_)
        OpenedFileAccess::HandOn(this, previous_);
}

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

extern "C" PsMemoryAccount* PsCurrentMemoryAccount(void) { return t_scope ? t_scope->MemoryAccount() : nullptr; }

namespace {

int TakeFor(PsMemoryAccount* account, unsigned long long bytes, bool forText)
{
    if (!account)
        return 1;
    switch (account->Take(bytes, forText)) {
    case PsMemoryAccount::Answer::Granted: return 1;
    case PsMemoryAccount::Answer::Refused: return 0;
    case PsMemoryAccount::Answer::Stopped: break;
    }
    return -1;
}

}  // namespace

extern "C" int PsTakeMemory(PsMemoryAccount* account, unsigned long long bytes)
{
    return TakeFor(account, bytes, false);
}

extern "C" void PsGiveMemory(PsMemoryAccount* account, unsigned long long bytes)
{
    if (account)
        account->Give(bytes, false);
}

extern "C" int PsTakeTextMemory(PsMemoryAccount* account, unsigned long long bytes)
{
    return TakeFor(account, bytes, true);
}

extern "C" void PsGiveTextMemory(PsMemoryAccount* account, unsigned long long bytes)
{
    if (account)
        account->Give(bytes, true);
}

extern "C" int PsDamageNoted(void) { return t_damage && t_damage->Damaged() ? 1 : 0; }
