#include "office/officeentry.h"

#include "extract/optionparser.h"
#include "office/msmanagers.h"

namespace {

bool WantsXml(const char16_t* options)
{
    COptionParser parser(options ? options : u"");
    return parser.GetBool(u"xml", 0) != 0;
}

// Runs the manager of the options' choice over path at the entry's
// boundary: its status 0 gives Read (after Finish), any other NotRead.
template <class BinaryManager, class XmlManager>
EntryResult RunManager(const char16_t* path, const char16_t* options, std::u16string* output,
                       ReadError* failure)
{
    if (!output)
        return EntryResult::Failed;
    return RunReaderEntry(failure, [&] {
        auto run = [&](CMSTextConvertItem& manager) {
            manager.SetOutputString(output);
            if (manager.Convert(path) != 0)
                return EntryResult::NotRead;
            manager.Finish();
            return EntryResult::Read;
        };
        if (WantsXml(options)) {
            XmlManager manager;
            return run(manager);
        }
        BinaryManager manager;
        return run(manager);
    });
}

}  // namespace

EntryResult ConvertWordToText(const char16_t* path, const char16_t* options, std::u16string* output,
                              ReadError* failure)
{
    return RunManager<CMSOldWordDManager, CMSWordOOXMLManager>(path, options, output, failure);
}

EntryResult ConvertPowerPointToText(const char16_t* path, const char16_t* options, std::u16string* output,
                                    ReadError* failure)
{
    return RunManager<CMSOldPowerPointManager, CMSPowerPointOOXMLManager>(path, options, output, failure);
}

EntryResult ConvertExcelToText(const char16_t* path, const char16_t* options, std::u16string* output,
                               ReadError* failure)
{
    return RunManager<CMSOldExcelManager, CMSExcelOOXMLManager>(path, options, output, failure);
}
