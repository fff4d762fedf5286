// libFuzzer target: the binary HWP manager (HWP 5 compound files and the
// HWP 2.x/3.x archives; the two targets differ only in their seeds).
#include <cstddef>
#include <cstdint>
#include <string>

#include "extract/extractlib.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::u16string text;
    ConvertHwpToText(ps_fuzz::InputFile(data, size, ".hwp").c_str(), nullptr, &text);
    return 0;
}
