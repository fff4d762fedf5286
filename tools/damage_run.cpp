// damage-run [--mutants N] [--seed S] [FAMILY...]
// Runs the damage harness's families with up to N mutants each (default
// 1000) and prints, per family, how many mutants read not clean, clean with
// every hit of the seed, and clean with fewer hits ("false clean", the fault
// the harness exists for), with the first false cleans named. Exit status 1
// when any family has a false clean or a seed that does not read clean.
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "damage/damage.h"
#include "support/isolation.h"

int main(int argc, char** argv)
{
    std::size_t budget = 1000;
    std::uint64_t seed = 0x5eed0000u;
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--mutants") && i + 1 < argc)
            budget = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc)
            seed = std::strtoull(argv[++i], nullptr, 0);
        else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::printf("usage: damage-run [--mutants N] [--seed S] [FAMILY...]\nfamilies:");
            for (const damage::Family& f : damage::Families())
                std::printf(" %s", f.name);
            std::printf("\n");
            return 0;
        } else
            only.push_back(argv[i]);
    }
    ps_test::IsolatedHome home;
    std::size_t total = 0, falseClean = 0;
    bool badSeed = false;
    std::printf("%-8s %8s %10s %12s %12s\n", "family", "mutants", "not clean", "clean whole", "false clean");
    for (std::size_t i = 0; i < damage::Families().size(); ++i) {
        const damage::Family& f = damage::Families()[i];
        if (!only.empty() && std::find(only.begin(), only.end(), f.name) == only.end())
            continue;
        const damage::RunResult r = damage::RunFamily(f, seed + i, budget);
        if (r.seed.status != ScanStatus::Done) {
            std::printf("%-8s seed does not read clean: %s\n", f.name, damage::Describe(r.seed).c_str());
            badSeed = true;
            continue;
        }
        std::printf("%-8s %8zu %10zu %12zu %12zu\n", f.name, r.mutants, r.notClean, r.cleanWhole, r.failures.size());
        for (std::size_t k = 0; k < r.failures.size() && k < 10; ++k)
            std::printf("    false clean: %s (%s)\n", r.failures[k].mutant.c_str(),
                        damage::Describe(r.failures[k].outcome).c_str());
        total += r.mutants;
        falseClean += r.failures.size();
    }
    std::printf("total    %8zu mutants, %zu false clean\n", total, falseClean);
    return falseClean || badSeed ? 1 : 0;
}
