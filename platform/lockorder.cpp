#include "platform/lockorder.h"

#include <cstdio>
#include <cstdlib>

namespace plat::lockorder {
namespace {

struct Held {
    const void* mutex;
    LockRank rank;
    const char* name;
};

// Deeper than any nesting of the order (each rank at most once, a recursive
// lock a few times more).
constexpr int kMaxHeld = 32;

struct HeldStack {
    Held entries[kMaxHeld];
    int count = 0;
};

thread_local HeldStack t_held;

[[noreturn]] void Fail(const char* what, const char* taking, LockRank takingRank, const char* holding,
                       LockRank holdingRank)
{
    // Plain stdio: the trace logs take locks of their own.
    std::fprintf(stderr, "lock order: %s: taking %s (rank %d) while holding %s (rank %d)\n", what, taking,
                 static_cast<int>(takingRank), holding, static_cast<int>(holdingRank));
    std::fflush(stderr);
    std::abort();
}

}  // namespace

void BeforeLock(const void* mutex, LockRank rank, const char* name, bool recursive)
{
    const HeldStack& s = t_held;
    if (recursive) {
        // Taken again by its holder: it cannot wait, whatever is held since.
        for (int i = 0; i < s.count; ++i)
            if (s.entries[i].mutex == mutex) return;
    }
    for (int i = s.count - 1; i >= 0; --i) {
        const Held& h = s.entries[i];
        if (h.mutex == mutex) Fail("taken twice", name, rank, h.name, h.rank);
        if (h.rank >= rank) Fail("inversion", name, rank, h.name, h.rank);
    }
}

void Taken(const void* mutex, LockRank rank, const char* name)
{
    HeldStack& s = t_held;
    if (s.count == kMaxHeld) Fail("too many held", name, rank, s.entries[s.count - 1].name, s.entries[s.count - 1].rank);
    s.entries[s.count++] = Held{mutex, rank, name};
}

void Released(const void* mutex)
{
    HeldStack& s = t_held;
    for (int i = s.count - 1; i >= 0; --i) {
        if (s.entries[i].mutex != mutex) continue;
        for (int j = i + 1; j < s.count; ++j) s.entries[j - 1] = s.entries[j];
        --s.count;
        return;
    }
    // Released by a thread that did not take it through the check (taken
    // through Native()): nothing to forget.
}

int HeldCount() { return t_held.count; }

}  // namespace plat::lockorder
