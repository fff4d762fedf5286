// extract-text FILE [OPTIONS]
//
// Runs the extraction entry that the file's upper-case extension selects,
// writes the text as UTF-8 to standard output and exits with the entry's
// status (0 read, 1 not read, 2 failed). OPTIONS, when given, replace the
// options text of the extension ("xml:true" and the like). Beside the
// extensions of the search, the tool knows HML (HWPML), RTF (the Word entry)
// and the macro-enabled OOXML extensions DOCM, PPTM and XLSM. An extension
// without an entry, or a wrong call, exits with 3.
#include <cstdio>
#include <cstring>
#include <string>

#include "extract/extractlib.h"
#include "office/officeentry.h"
#include "platform/text.h"
#include "tools/toolhelp.h"

namespace {

using EntryFunction = EntryResult (*)(const char16_t* path, const char16_t* options, std::u16string* output,
                                      ReadError* failure);

struct Entry {
    const char16_t* extension;
    EntryFunction function;
    const char16_t* options;  // null: no options text
};

const Entry kEntries[] = {
    {u"HWP", &ConvertHwpToText, nullptr},
    {u"DOC", &ConvertWordToText, u"xml:false"},
    {u"PPT", &ConvertPowerPointToText, u"xml:false"},
    {u"XLS", &ConvertExcelToText, u"xml:false"},
    {u"DOCX", &ConvertWordToText, u"xml:true"},
    {u"PPTX", &ConvertPowerPointToText, u"xml:true"},
    {u"XLSX", &ConvertExcelToText, u"xml:true"},
    {u"PDF", &ConvertPdfToText, u"xml:false"},
    // Not chosen by the search, read here for development.
    {u"HML", &ConvertHwpToText, u"xml:true"},
    {u"RTF", &ConvertWordToText, u"xml:false"},
    {u"DOCM", &ConvertWordToText, u"xml:true"},
    {u"PPTM", &ConvertPowerPointToText, u"xml:true"},
    {u"XLSM", &ConvertExcelToText, u"xml:true"},
};

// The text after the last "." of the file name, in upper case; the whole
// name when it has no ".".
std::u16string UpperExtension(const std::u16string& path)
{
    size_t slash = path.rfind(u'/');
    std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind(u'.');
    return plat::ToUpperAscii(dot == std::u16string::npos ? name : name.substr(dot + 1));
}

}  // namespace

int main(int argc, char** argv)
{
    static const char kUsage[] =
        "usage: extract-text FILE [OPTIONS]\n"
        "Writes the text the entry of FILE's extension gives as UTF-8 and exits with\n"
        "its status (0 read, 1 not read, 2 failed; 3 no entry or a wrong call).\n"
        "OPTIONS replace the options text of the extension (\"xml:true\" and the like).\n";
    if (tools::AskedForHelp(argc, argv))
        return tools::ShowHelp(kUsage);
    if (argc < 2 || argc > 3)
        return tools::UsageError(kUsage, 3);
    const std::u16string path = plat::PathFromNative(argv[1]);
    const std::u16string extension = UpperExtension(path);
    const Entry* entry = nullptr;
    for (const Entry& e : kEntries) {
        if (extension == e.extension) {
            entry = &e;
            break;
        }
    }
    if (!entry) {
        std::fprintf(stderr, "extract-text: no entry for the extension \"%s\"\n",
                     plat::WideToUtf8(extension).c_str());
        return 3;
    }
    std::u16string optionsText;
    const char16_t* options = entry->options;
    if (argc == 3) {
        optionsText = plat::PathFromNative(argv[2]);
        options = optionsText.c_str();
    }

    InitializeLibrary();
    std::u16string text;
    ReadError failure;
    const int status = static_cast<int>(entry->function(path.c_str(), options, &text, &failure));
    if (failure.reason() != ReadFailure::None)
        std::fprintf(stderr, "extract-text: exception: %s\n", failure.what());
    FinalizeLibrary();

    const std::string utf8 = plat::WideToUtf8(text);
    if (!utf8.empty() && std::fwrite(utf8.data(), 1, utf8.size(), stdout) != utf8.size())
        return 3;
    if (std::fflush(stdout) != 0)
        return 3;
    return status;
}
