// Fuzz target: the RTF reader. Read: the file loaded and no damage noted.
#include <string>

#include "extract/textcollector.h"
#include "fuzz_file.h"
#include "fuzz_target.h"
#include "office/rtf/rtftextconvert.h"
#include "platform/docfile.h"

namespace {

ps_fuzz::Outcome ReadRtf(const std::uint8_t* data, std::size_t size)
{
    ps_fuzz::Outcome o;
    plat::DamageScope damage;
    CTextCollector collector;
    collector.SetOutput(&o.text);
    CRtfTextConvert reader(&collector, 0);
    reader.Convert(ps_fuzz::InputFile(data, size, ".rtf").c_str());
    o.read = reader.LastLoadSucceeded() && !damage.Damaged();
    return o;
}

const ps_fuzz::Registrar kRtf("rtf_fuzz", ReadRtf);

}  // namespace
