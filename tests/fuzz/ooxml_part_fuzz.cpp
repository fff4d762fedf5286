// libFuzzer targets: the OOXML part readers on raw XML. The input becomes the
// main part of a small package (stored entries, so the mutations reach the
// XML parser unchanged): the document of a Word package (docx_fuzz), a slide
// (pptx_fuzz), or for a workbook (xlsx_fuzz) a worksheet, a shared-string
// table and a styles part, separated by zero bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <zlib.h>

#include "extract/extractlib.h"
#include "fuzz_file.h"
#include "office/officeentry.h"

namespace {

void Put16(std::string& s, uint32_t v)
{
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& s, uint32_t v)
{
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

std::string StoredZip(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::string out, dir;
    for (const auto& [name, data] : entries) {
        const uint32_t crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        const uint32_t offset = static_cast<uint32_t>(out.size());
        for (std::string* s : {&out, &dir}) {
            const bool central = s == &dir;
            Put32(*s, central ? 0x02014B50 : 0x04034B50);
            if (central)
                Put16(*s, 20);
            Put16(*s, 20);
            Put16(*s, 0);
            Put16(*s, 0);
            Put32(*s, 0);
            Put32(*s, crc);
            Put32(*s, static_cast<uint32_t>(data.size()));
            Put32(*s, static_cast<uint32_t>(data.size()));
            Put16(*s, static_cast<uint32_t>(name.size()));
            Put16(*s, 0);
            if (central) {
                Put32(*s, 0);
                Put32(*s, 0);
                Put32(*s, 0);
                Put32(*s, offset);
            }
            *s += name;
        }
        out += data;
    }
    const uint32_t dirOffset = static_cast<uint32_t>(out.size());
    out += dir;
    Put32(out, 0x06054B50);
    Put32(out, 0);
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put32(out, static_cast<uint32_t>(dir.size()));
    Put32(out, dirOffset);
    Put16(out, 0);
    return out;
}

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const int init = InitializeLibrary();
    (void)init;
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::pair<std::string, std::string>> entries;
    std::u16string text;
#if defined(PS_FUZZ_DOCX_FUZZ)
    entries = {{"[Content_Types].xml", Types(Override("/word/document.xml", "wordprocessingml.document.main"))},
               {"word/document.xml", input}};
    const std::string zip = StoredZip(entries);
    ConvertWordToText(ps_fuzz::InputFile(reinterpret_cast<const std::uint8_t*>(zip.data()), zip.size(), ".docx").c_str(),
                      u"xml:true", &text);
#elif defined(PS_FUZZ_PPTX_FUZZ)
    entries = {{"[Content_Types].xml", Types(Override("/ppt/slides/slide1.xml", "presentationml.slide"))},
               {"ppt/slides/slide1.xml", input}};
    const std::string zip = StoredZip(entries);
    ConvertPowerPointToText(
        ps_fuzz::InputFile(reinterpret_cast<const std::uint8_t*>(zip.data()), zip.size(), ".pptx").c_str(), u"xml:true",
        &text);
#else
    std::vector<std::string> pieces(3);
    size_t at = 0;
    for (int i = 0; i < 3 && at <= input.size(); ++i) {
        const size_t end = i == 2 ? input.size() : std::min(input.find('\0', at), input.size());
        pieces[i] = input.substr(at, end - at);
        at = end + 1;
    }
    entries = {{"[Content_Types].xml",
                Types(Override("/xl/worksheets/sheet1.xml", "spreadsheetml.worksheet") +
                      Override("/xl/sharedStrings.xml", "spreadsheetml.sharedStrings") +
                      Override("/xl/styles.xml", "spreadsheetml.styles"))},
               {"xl/worksheets/sheet1.xml", pieces[0]},
               {"xl/sharedStrings.xml", pieces[1]},
               {"xl/styles.xml", pieces[2]}};
    const std::string zip = StoredZip(entries);
    ConvertExcelToText(
        ps_fuzz::InputFile(reinterpret_cast<const std::uint8_t*>(zip.data()), zip.size(), ".xlsx").c_str(), u"xml:true",
        &text);
#endif
    return 0;
}
