// libFuzzer target: the HWPML (XML) reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "extract/extractlib.h"
#include "fuzz_file.h"

namespace {
const int kXmlParser = InitializeLibrary();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::u16string text;
    (void)kXmlParser;
    ConvertHwpToText(ps_fuzz::InputFile(data, size, ".hml").c_str(), u"xml:true", &text);
    return 0;
}
