// Building blocks the text formats' families share (RTF, HWPML): where a
// piece of markup stands, and mutants of several kinds handed out in turn.
#pragma once

#include <string>
#include <vector>

#include "damage/damage.h"

namespace damage {

// Offsets of every occurrence of what in bytes.
inline std::vector<std::size_t> Occurrences(const Bytes& bytes, const std::string& what)
{
    std::vector<std::size_t> at;
    for (std::size_t p = bytes.find(what); p != Bytes::npos; p = bytes.find(what, p + 1))
        at.push_back(p);
    return at;
}

// Mutants of several kinds handed out in turn, so that a small budget still
// meets every kind a family makes.
// Appends the mutants of kinds to out, one of each kind a round, each kind's
// in its own order; rng only decides which kind leads each round.
inline void AddInterleaved(std::vector<std::vector<Mutant>>& kinds, Rng& rng, std::vector<Mutant>& out)
{
    std::vector<std::size_t> next(kinds.size(), 0);
    for (bool more = true; more;) {
        more = false;
        const std::size_t first = rng.Below(kinds.size());
        for (std::size_t k = 0; k < kinds.size(); ++k) {
            const std::size_t kind = (first + k) % kinds.size();
            if (next[kind] < kinds[kind].size()) {
                out.push_back(std::move(kinds[kind][next[kind]++]));
                more = true;
            }
        }
    }
}

}  // namespace damage
