// word6-text FILE: the text the Word 6/95 reader gives for FILE, as UTF-8
// (a development aid).
#include <cstdio>
#include <string>

#include "extract/textcollector.h"
#include "office/word/word6text.h"
#include "platform/text.h"
#include "tools/toolhelp.h"

int main(int argc, char** argv)
{
    static const char kUsage[] =
        "usage: word6-text FILE\n"
        "Writes the text the Word 6/95 reader gives for FILE as UTF-8.\n";
    if (tools::AskedForHelp(argc, argv))
        return tools::ShowHelp(kUsage);
    if (argc != 2)
        return tools::UsageError(kUsage, 3);
    std::u16string out;
    CTextCollector collector;
    collector.SetOutput(&out);
    CMSWord2Text reader(&collector);
    bool ok = reader.Convert(plat::PathFromNative(argv[1]).c_str());
    const std::string utf8 = plat::WideToUtf8(out);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    return ok ? 0 : 1;
}
