// libFuzzer target: the Excel 97-2003 workbook reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_file.h"
#include "office/officeentry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::u16string text;
    ConvertExcelToText(ps_fuzz::InputFile(data, size, ".xls").c_str(), nullptr, &text);
    return 0;
}
