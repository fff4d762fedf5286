// Fuzz target: the PowerPoint 97-2003 reader.
#include <string>

#include "fuzz_file.h"
#include "fuzz_target.h"
#include "office/officeentry.h"

namespace {

ps_fuzz::Outcome ReadPpt(const std::uint8_t* data, std::size_t size)
{
    ps_fuzz::Outcome o;
    o.read =
        ConvertPowerPointToText(ps_fuzz::InputFile(data, size, ".ppt").c_str(), nullptr, &o.text) == EntryResult::Read;
    return o;
}

const ps_fuzz::Registrar kPpt("ppt_fuzz", ReadPpt);

}  // namespace
