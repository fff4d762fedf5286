// Fuzz target: the binary HWP manager (HWP 5 compound files and the HWP
// 2.x/3.x archives; the two targets differ only in their seeds).
#include <string>

#include "extract/extractlib.h"
#include "fuzz_file.h"
#include "fuzz_target.h"

namespace {

ps_fuzz::Outcome ReadHwp(const std::uint8_t* data, std::size_t size)
{
    ps_fuzz::Outcome o;
    o.read = ConvertHwpToText(ps_fuzz::InputFile(data, size, ".hwp").c_str(), nullptr, &o.text) == EntryResult::Read;
    return o;
}

const ps_fuzz::Registrar kHwp5("hwp5_fuzz", ReadHwp);
const ps_fuzz::Registrar kHwp3("hwp3_fuzz", ReadHwp);

}  // namespace
