// libFuzzer target: the PowerPoint 97-2003 reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_file.h"
#include "office/officeentry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::u16string text;
    ConvertPowerPointToText(ps_fuzz::InputFile(data, size, ".ppt").c_str(), nullptr, &text);
    return 0;
}
