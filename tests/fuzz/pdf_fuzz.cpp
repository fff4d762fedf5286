// libFuzzer target: the PDF text reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "extract/extractlib.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::u16string text;
    ConvertPdfToText(ps_fuzz::InputFile(data, size, ".pdf").c_str(), nullptr, &text);
    return 0;
}
