// A fuzz target is a function from one input to what the reader made of it,
// registered under the target's name. The fuzz build links one target's
// source with fuzz_main.cpp, whose LLVMFuzzerTestOneInput calls the target
// named by PS_FUZZ_ENTRY; the normal build links every source into the
// test program of this folder, which feeds each target a seed and checks
// that it reaches its reader (a harness that reaches nothing fuzzes
// nothing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ps_fuzz {

// What one input gave: read to its end or not, and the text (for the
// layers below the readers: what they delivered, as text).
struct Outcome {
    bool read = false;
    std::u16string text;
};

using Entry = Outcome (*)(const std::uint8_t* data, std::size_t size);

struct Target {
    const char* name;  // as in tests/fuzz/CMakeLists.txt
    Entry entry;
};

// Every target registered (by the sources linked in).
const std::vector<Target>& Targets();
// The target of that name, or null.
const Target* FindTarget(const std::string& name);

struct Registrar {
    Registrar(const char* name, Entry entry);
};

}  // namespace ps_fuzz
