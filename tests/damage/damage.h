// Damaged documents: the rule that a damaged document never reads clean,
// held by mutating healthy documents of every kind.
//
// A family is one kind of document: a healthy seed with known personal
// information, built here, and mutators that know the format (cuts, each
// compressed stream damaged, each length, offset or count field set to 0,
// smaller, larger and past the end, each part another part names removed,
// each check value changed). For every mutant the property is:
//
//     the scan's status is not Done, or every hit of the seed is found.
//
// A reader that tolerates damage in silence gives Done with fewer hits and
// breaks it. The test program runs a bounded set of every family; the
// damage-run tool runs as many as it is asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/records.h"
#include "search/matcher.h"
#include "search/scan.h"

namespace damage {

using Bytes = std::string;

struct Mutant {
    std::string name;  // what was done, e.g. "cut@1234", "stream 3 byte 17 flipped"
    Bytes bytes;
};

struct Family {
    const char* name;       // "pdf", "hwp5", "docx", ...
    const char* extension;  // the file name's extension the search reads it by, e.g. "pdf"
    // The healthy document: reads Done with at least one hit of every kind it
    // was built with, spread from its start to its end.
    std::function<Bytes()> seed;
    // Appends the mutants of seed. rng drives the random choices (the same
    // value gives the same mutants); budget is how many the caller wants at
    // most (a family may give fewer, and gives its most telling ones first).
    std::function<void(const Bytes& seed, std::uint64_t rng, std::size_t budget, std::vector<Mutant>& out)> mutate;
    // The readers its documents are scanned with; the program's when none.
    std::function<ExtractorTable()> readers = {};
};

// Registers a family (at static initialisation, from the family's file).
struct Registrar {
    explicit Registrar(Family family);
};
const std::vector<Family>& Families();

// What the search makes of one document: the bytes are written to a file
// named "doc.<extension>" in a private folder and scanned as a search does,
// with the family's readers.
struct Outcome {
    ScanStatus status = ScanStatus::Done;
    PersonalInfoHitList hits;
};
Outcome Scan(const Family& family, const Bytes& bytes);

// True when every hit of seed (counted with its repeats) is among hits.
bool HoldsEveryHit(const PersonalInfoHitList& seed, const PersonalInfoHitList& hits);

// The property for one mutant: not Done, or every hit of the seed found.
bool Holds(const Outcome& seed, const Outcome& mutant);

// Text of a status and a short list of hits, for failure messages.
std::string Describe(const Outcome& outcome);

// -- building blocks for mutators ------------------------------------------

// Cuts of bytes: at count points spread over the whole length (never the
// whole length itself), the first ones at the ends of the seed's structures
// the caller names in `marks` (offsets), then evenly spaced.
void AddCuts(const Bytes& bytes, std::size_t count, std::vector<Mutant>& out,
             const std::vector<std::size_t>& marks = {});

// A little-endian unsigned field of width 1, 2 or 4 bytes at offset, set to
// 0, to half its value, to its value - 1 and + 1, to twice its value, to the
// length of bytes and to the width's maximum (each value that differs from
// the field's), named "<label>=<value>".
void AddFieldValues(const Bytes& bytes, std::size_t offset, int width, const std::string& label,
                    std::vector<Mutant>& out);

// Bytes with the range [offset, offset + length) removed / overwritten.
Bytes Without(const Bytes& bytes, std::size_t offset, std::size_t length);
Bytes Overwritten(const Bytes& bytes, std::size_t offset, const Bytes& with);

// A small deterministic generator for the families' random choices.
struct Rng {
    std::uint64_t state;
    explicit Rng(std::uint64_t seed) : state(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    std::uint64_t Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    std::size_t Below(std::size_t n) { return n ? static_cast<std::size_t>(Next() % n) : 0; }
};

// Personal information the seeds carry: a text of lines, each line one item
// the matcher finds (a resident number with its check digit, a card number,
// a telephone number, an e-mail address, ...), numbered so that no two
// lines are the same. lines: how many.
std::vector<std::u16string> SeedLines(std::size_t lines);

// One family's run: the seed's outcome and every mutant that broke the
// property (name and outcome).
struct Failure {
    std::string mutant;
    Outcome outcome;
};
struct RunResult {
    Outcome seed;
    std::size_t mutants = 0;
    std::size_t notClean = 0;   // status not Done
    std::size_t cleanWhole = 0; // Done with every hit
    std::vector<Failure> failures;
};
RunResult RunFamily(const Family& family, std::uint64_t rng, std::size_t budget);

}  // namespace damage
