// office-binary-text FILE...
//
// Runs the PowerPoint 97-2003 or Excel 97-2003 reader (chosen by the file's
// extension, .ppt or .xls) directly, without an entry point, and writes the
// text as UTF-8 to standard output. With several files, each text follows a
// line "== FILE (result N)". Exits with 0 when every file was read.
//
// office-binary-text --atoms FILE.ppt: every text atom of the document stream
// in stream order, one per line, for comparing what the reader writes.
#include <cstdio>
#include <cstring>
#include <string>

#include "extract/textcollector.h"
#include "office/excel/excelparser.h"
#include "office/powerpoint/pptaccess.h"
#include "platform/docfile.h"
#include "platform/text.h"
#include "tools/toolhelp.h"

namespace {

int DumpTextAtoms(const char* file)
{
    CStorageAccess access;
    if (!access.OpenStorage(plat::PathFromNative(file)) || !access.OpenStream(u"PowerPoint Document"))
        return 1;
    std::string doc;
    char chunk[65536];
    std::uint32_t got = 0;
    while (access.ReadStream(sizeof chunk, chunk, &got) == 1 && got)
        doc.append(chunk, got);
    const auto* d = reinterpret_cast<const unsigned char*>(doc.data());
    std::size_t pos = 0;
    while (pos + 8 <= doc.size()) {
        const unsigned verInst = d[pos] | (d[pos + 1] << 8);
        const unsigned type = d[pos + 2] | (d[pos + 3] << 8);
        const std::size_t len = std::size_t(d[pos + 4]) | (std::size_t(d[pos + 5]) << 8) |
                                (std::size_t(d[pos + 6]) << 16) | (std::size_t(d[pos + 7]) << 24);
        pos += 8;
        if ((verInst & 0xF) == 0xF)
            continue;  // descend into containers
        if (len > doc.size() - pos)
            break;
        std::u16string text;
        if (type == 0x0FA0)
            for (std::size_t i = 0; i + 1 < len; i += 2)
                text.push_back(char16_t(d[pos + i] | (d[pos + i + 1] << 8)));
        else if (type == 0x0FA8)
            for (std::size_t i = 0; i < len; ++i)
                text.push_back(char16_t(d[pos + i]));  // low bytes of U+0000..U+00FF
        if (type == 0x0FA0 || type == 0x0FA8)
            std::printf("%s\n", plat::WideToUtf8(text).c_str());
        pos += len;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    static const char kUsage[] =
        "usage: office-binary-text FILE...\n"
        "       office-binary-text --atoms FILE.ppt\n"
        "Writes the text the PowerPoint or Excel 97-2003 reader gives (by the extension,\n"
        ".ppt or .xls) as UTF-8; --atoms lists every text atom of the document stream.\n";
    if (tools::AskedForHelp(argc, argv))
        return tools::ShowHelp(kUsage);
    if (argc == 3 && !std::strcmp(argv[1], "--atoms"))
        return DumpTextAtoms(argv[2]);
    if (argc < 2)
        return tools::UsageError(kUsage, 3);
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        const std::u16string path = plat::PathFromNative(argv[i]);
        const std::string name = argv[i];
        const bool isPpt = name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".ppt") == 0;
        std::u16string text;
        CTextCollector collector;
        collector.SetOutput(&text);
        int result = 0;
        plat::DamageScope damage;
        try {
            if (isPpt) {
                CPowerPointAccess reader(&collector);
                result = reader.Convert(path.c_str());
            } else {
                CIExcelParser reader(&collector, 0);
                result = reader.Convert(path.c_str());
            }
        } catch (const std::exception& ex) {
            std::fprintf(stderr, "%s: exception %s\n", argv[i], ex.what());
        }
        collector.SetOutput(nullptr);
        if (damage.Damaged())
            std::fprintf(stderr, "%s: damaged: %s (%u notes)\n", argv[i], damage.Reason(), damage.Count());
        if (!result)
            ++failures;
        if (argc > 2)
            std::printf("== %s (result %d)\n", argv[i], result);
        const std::string utf8 = plat::WideToUtf8(text);
        std::fwrite(utf8.data(), 1, utf8.size(), stdout);
        if (argc > 2)
            std::printf("\n");
    }
    return failures ? 1 : 0;
}
