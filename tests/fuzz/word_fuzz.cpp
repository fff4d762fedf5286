// libFuzzer target: the Word 97-2003 reader (word97_fuzz) or the Word 6/95
// readers, compound-file and flat (word6_fuzz), each called directly.
#include <cstddef>
#include <cstdint>
#include <string>

#include "extract/textcollector.h"
#include "fuzz_file.h"
#include "office/msmanagers.h"
#include "office/word/flatword.h"
#include "office/word/msword97.h"
#include "office/word/word6text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::u16string& path = ps_fuzz::InputFile(data, size, ".doc");
    std::u16string text;
    CTextCollector collector;
    collector.SetOutput(&text);
#if defined(PS_FUZZ_WORD97_FUZZ)
    CMSWord802Text reader(&collector);
    reader.Convert(path.c_str());
#else
    if (IsFlatWordFile(path.c_str())) {
        CMSWordFlatFileText reader;
        reader.Init(&collector);
        reader.Convert(path.c_str());
    } else {
        CMSWord2Text reader(&collector);
        reader.Convert(path.c_str());
    }
#endif
    return 0;
}
