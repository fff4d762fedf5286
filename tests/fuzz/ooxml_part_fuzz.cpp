// Fuzz targets: the OOXML part readers on raw XML. The input becomes the
// main part of a small package (stored entries, so the mutations reach the
// XML parser unchanged): the document of a Word package (docx_fuzz), a slide
// (pptx_fuzz), or for a workbook (xlsx_fuzz) a worksheet, a shared-string
// table and a styles part, separated by zero bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "extract/extractlib.h"
#include "fuzz_file.h"
#include "fuzz_target.h"
#include "office/officeentry.h"
#include "support/zip_writer.h"

namespace {

using Convert = EntryResult (*)(const char16_t*, const char16_t*, std::u16string*, ReadError*);

std::string Types(const std::string& overrides)
{
    return "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
           "<Default Extension=\"xml\" ContentType=\"application/xml\"/>" +
           overrides + "</Types>";
}

std::string Override(const char* part, const char* kind)
{
    return std::string("<Override PartName=\"") + part +
           "\" ContentType=\"application/vnd.openxmlformats-officedocument." + kind + "+xml\"/>";
}

// The package of (name, data) entries, stored, read by convert.
ps_fuzz::Outcome ReadPackage(const std::vector<std::pair<std::string, std::string>>& entries, const char* suffix,
                             Convert convert)
{
    static const int init = InitializeLibrary();
    (void)init;
    ps_test::ZipWriter zip;
    for (const auto& [name, data] : entries)
        zip.Add(name, data, false);
    const std::string bytes = zip.Bytes();
    ps_fuzz::Outcome o;
    o.read = convert(ps_fuzz::InputFile(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), suffix)
                         .c_str(),
                     u"xml:true", &o.text, nullptr) == EntryResult::Read;
    return o;
}

ps_fuzz::Outcome ReadDocxPart(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    return ReadPackage({{"[Content_Types].xml", Types(Override("/word/document.xml", "wordprocessingml.document.main"))},
                        {"word/document.xml", input}},
                       ".docx", ConvertWordToText);
}

ps_fuzz::Outcome ReadPptxPart(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    return ReadPackage({{"[Content_Types].xml", Types(Override("/ppt/slides/slide1.xml", "presentationml.slide"))},
                        {"ppt/slides/slide1.xml", input}},
                       ".pptx", ConvertPowerPointToText);
}

ps_fuzz::Outcome ReadXlsxParts(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> pieces(3);
    size_t at = 0;
    for (int i = 0; i < 3 && at <= input.size(); ++i) {
        const size_t end = i == 2 ? input.size() : std::min(input.find('\0', at), input.size());
        pieces[i] = input.substr(at, end - at);
        at = end + 1;
    }
    return ReadPackage({{"[Content_Types].xml",
                         Types(Override("/xl/worksheets/sheet1.xml", "spreadsheetml.worksheet") +
                               Override("/xl/sharedStrings.xml", "spreadsheetml.sharedStrings") +
                               Override("/xl/styles.xml", "spreadsheetml.styles"))},
                        {"xl/worksheets/sheet1.xml", pieces[0]},
                        {"xl/sharedStrings.xml", pieces[1]},
                        {"xl/styles.xml", pieces[2]}},
                       ".xlsx", ConvertExcelToText);
}

const ps_fuzz::Registrar kDocx("docx_fuzz", ReadDocxPart);
const ps_fuzz::Registrar kPptx("pptx_fuzz", ReadPptxPart);
const ps_fuzz::Registrar kXlsx("xlsx_fuzz", ReadXlsxParts);

}  // namespace
