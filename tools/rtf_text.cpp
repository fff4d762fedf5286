// rtf-text FILE: the text the RTF reader gives for FILE, as UTF-8 (a
// development aid; the program reads RTF through the Word entry).
#include <cstdio>
#include <string>

#include "extract/textcollector.h"
#include "office/rtf/rtftextconvert.h"
#include "platform/text.h"
#include "tools/toolhelp.h"

int main(int argc, char** argv)
{
    static const char kUsage[] =
        "usage: rtf-text FILE\n"
        "Writes the text the RTF reader gives for FILE as UTF-8.\n";
    if (tools::AskedForHelp(argc, argv))
        return tools::ShowHelp(kUsage);
    if (argc != 2)
        return tools::UsageError(kUsage, 3);
    std::u16string out;
    CTextCollector collector;
    collector.SetOutput(&out);
    CRtfTextConvert reader(&collector, 0);
    reader.Convert(plat::PathFromNative(argv[1]).c_str());
    const std::string utf8 = plat::WideToUtf8(out);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    return reader.LastLoadSucceeded() ? 0 : 1;
}
