#include "office/officeentry.h"

#include "extract/optionparser.h"
#include "office/msmanagers.h"

namespace {

bool WantsXml(const char16_t* options)
{
    COptionParser parser(options ? options : u"");
    return parser.GetBool(u"xml", 0) != 0;
}

// Runs one manager over path: its status 0 gives 0 (after Finish), any other
// status gives 1.
int RunManager(CMSTextConvertItem& manager, const char16_t* path, std::u16string* output)
{
    manager.SetOutputString(output);
    if (manager.Convert(path) != 0)
        return 1;
    manager.Finish();
    return 0;
}

}  // namespace

int ConvertWordToText(const char16_t* path, const char16_t* options, std::u16string* output)
{
    if (!output)
        return 2;
    if (WantsXml(options)) {
        CMSWordOOXMLManager manager;
        return RunManager(manager, path, output);
    }
    CMSOldWordDManager manager;
    return RunManager(manager, path, output);
}

int ConvertPowerPointToText(const char16_t* path, const char16_t* options, std::u16string* output)
{
    if (!output)
        return 2;
    if (WantsXml(options)) {
        CMSPowerPointOOXMLManager manager;
        return RunManager(manager, path, output);
    }
    CMSOldPowerPointManager manager;
    return RunManager(manager, path, output);
}

int ConvertExcelToText(const char16_t* path, const char16_t* options, std::u16string* output)
{
    if (!output)
        return 2;
    if (WantsXml(options)) {
        CMSExcelOOXMLManager manager;
        return RunManager(manager, path, output);
    }
    CMSOldExcelManager manager;
    return RunManager(manager, path, output);
}
