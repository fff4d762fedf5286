// Fuzz targets: the Word 97-2003 reader (word97_fuzz) and the Word 6/95
// readers, compound-file and flat (word6_fuzz), each called directly. Read:
// the reader succeeded and noted no damage.
#include <string>

#include "extract/textcollector.h"
#include "fuzz_file.h"
#include "fuzz_target.h"
#include "office/msmanagers.h"
#include "office/word/flatword.h"
#include "office/word/msword97.h"
#include "office/word/word6text.h"
#include "platform/docfile.h"

namespace {

ps_fuzz::Outcome ReadWord97(const std::uint8_t* data, std::size_t size)
{
    const std::u16string& path = ps_fuzz::InputFile(data, size, ".doc");
    ps_fuzz::Outcome o;
    plat::DamageScope damage;
    CTextCollector collector;
    collector.SetOutput(&o.text);
    CMSWord802Text reader(&collector);
    o.read = reader.Convert(path.c_str()) != 0 && !damage.Damaged();
    return o;
}

ps_fuzz::Outcome ReadWord6(const std::uint8_t* data, std::size_t size)
{
    const std::u16string& path = ps_fuzz::InputFile(data, size, ".doc");
    ps_fuzz::Outcome o;
    plat::DamageScope damage;
    CTextCollector collector;
    collector.SetOutput(&o.text);
    if (IsFlatWordFile(path.c_str())) {
        CMSWordFlatFileText reader;
        reader.Init(&collector);
        o.read = reader.Convert(path.c_str()) != 0;
    } else {
        CMSWord2Text reader(&collector);
        o.read = reader.Convert(path.c_str()) != 0;
    }
    o.read = o.read && !damage.Damaged();
    return o;
}

const ps_fuzz::Registrar kWord97("word97_fuzz", ReadWord97);
const ps_fuzz::Registrar kWord6("word6_fuzz", ReadWord6);

}  // namespace
