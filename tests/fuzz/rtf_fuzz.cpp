// libFuzzer target: the RTF reader over a document held in memory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "extract/textcollector.h"
#include "office/rtf/rtftextconvert.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::u16string text;
    CTextCollector collector;
    collector.SetOutput(&text);
    CRtfTextConvert reader(&collector, 0);
    reader.ConvertBuffer(data, size);
    return 0;
}
