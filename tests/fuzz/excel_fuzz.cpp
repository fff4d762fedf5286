// Fuzz target: the Excel 97-2003 workbook reader.
#include <string>

#include "fuzz_file.h"
#include "fuzz_target.h"
#include "office/officeentry.h"

namespace {

ps_fuzz::Outcome ReadExcel(const std::uint8_t* data, std::size_t size)
{
    ps_fuzz::Outcome o;
    o.read = ConvertExcelToText(ps_fuzz::InputFile(data, size, ".xls").c_str(), nullptr, &o.text) == EntryResult::Read;
    return o;
}

const ps_fuzz::Registrar kExcel("excel_fuzz", ReadExcel);

}  // namespace
