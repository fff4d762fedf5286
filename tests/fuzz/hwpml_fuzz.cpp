// Fuzz target: the HWPML (XML) reader.
#include <string>

#include "extract/extractlib.h"
#include "fuzz_file.h"
#include "fuzz_target.h"

namespace {

ps_fuzz::Outcome ReadHwpml(const std::uint8_t* data, std::size_t size)
{
    static const int xmlParser = InitializeLibrary();
    (void)xmlParser;
    ps_fuzz::Outcome o;
    o.read = ConvertHwpToText(ps_fuzz::InputFile(data, size, ".hml").c_str(), u"xml:true", &o.text) ==
             EntryResult::Read;
    return o;
}

const ps_fuzz::Registrar kHwpml("hwpml_fuzz", ReadHwpml);

}  // namespace
