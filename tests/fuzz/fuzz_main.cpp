#include "fuzz_target.h"

#include <cstdio>
#include <cstdlib>

namespace ps_fuzz {

namespace {

std::vector<Target>& Registry()
{
    static std::vector<Target> targets;
    return targets;
}

}  // namespace

Registrar::Registrar(const char* name, Entry entry)
{
    Registry().push_back({name, entry});
}

const std::vector<Target>& Targets()
{
    return Registry();
}

const Target* FindTarget(const std::string& name)
{
    for (const Target& t : Registry()) {
        if (name == t.name)
            return &t;
    }
    return nullptr;
}

}  // namespace ps_fuzz

#ifdef PS_FUZZ_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const ps_fuzz::Target* target = [] {
        const ps_fuzz::Target* t = ps_fuzz::FindTarget(PS_FUZZ_ENTRY);
        if (!t) {
            std::fprintf(stderr, "fuzz target %s is not linked in\n", PS_FUZZ_ENTRY);
            std::abort();
        }
        return t;
    }();
    target->entry(data, size);
    return 0;
}
#endif
