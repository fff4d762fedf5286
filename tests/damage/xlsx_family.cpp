// The xlsx family: a workbook of three sheets whose hits are in shared
// strings and in inline strings of every sheet (see ooxml_mutants.h for the
// mutants).
#include "damage/damage.h"
#include "damage/ooxml_mutants.h"

namespace damage {
namespace {

#define S_NS "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\""
#define R_TYPE "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
#define S_TYPE "application/vnd.openxmlformats-officedocument.spreadsheetml."

Bytes Seed()
{
    const std::vector<std::u16string> lines = SeedLines(18);
    // Lines 0-8 as shared strings, 9-17 inline: each sheet has three of each.
    std::string shared = "<sst " S_NS " count=\"9\" uniqueCount=\"9\">";
    for (std::size_t i = 0; i < 9; ++i)
        shared += "<si><t>" + XmlText(lines[i]) + "</t></si>";
    shared += "</sst>";
    auto sheet = [&](std::size_t n) {
        std::string xml = "<worksheet " S_NS "><sheetData>";
        for (std::size_t r = 0; r < 3; ++r) {
            const std::string row = std::to_string(r + 1);
            xml += "<row r=\"" + row + "\"><c r=\"A" + row + "\" t=\"s\"><v>" + std::to_string(n * 3 + r) +
                   "</v></c><c r=\"B" + row + "\"><v>" + std::to_string(n * 100 + r) + "</v></c><c r=\"C" + row +
                   "\" t=\"inlineStr\"><is><t>" + XmlText(lines[9 + n * 3 + r]) + "</t></is></c></row>";
        }
        return xml + "</sheetData></worksheet>";
    };
    const OoxmlParts parts = {
        {"[Content_Types].xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/xl/workbook.xml\" ContentType=\"" S_TYPE "sheet.main+xml\"/>"
         "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"" S_TYPE "worksheet+xml\"/>"
         "<Override PartName=\"/xl/worksheets/sheet2.xml\" ContentType=\"" S_TYPE "worksheet+xml\"/>"
         "<Override PartName=\"/xl/worksheets/sheet3.xml\" ContentType=\"" S_TYPE "worksheet+xml\"/>"
         "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"" S_TYPE "sharedStrings+xml\"/>"
         "<Override PartName=\"/xl/styles.xml\" ContentType=\"" S_TYPE "styles+xml\"/></Types>"},
        {"_rels/.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"" R_TYPE "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml",
         "<workbook " S_NS " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
         "<sheet name=\"가\" sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"나\" sheetId=\"2\" r:id=\"rId2\"/>"
         "<sheet name=\"다\" sheetId=\"3\" r:id=\"rId3\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"" R_TYPE "worksheet\" Target=\"worksheets/sheet1.xml\"/>"
         "<Relationship Id=\"rId2\" Type=\"" R_TYPE "worksheet\" Target=\"worksheets/sheet2.xml\"/>"
         "<Relationship Id=\"rId3\" Type=\"" R_TYPE "worksheet\" Target=\"worksheets/sheet3.xml\"/>"
         "<Relationship Id=\"rId4\" Type=\"" R_TYPE "sharedStrings\" Target=\"sharedStrings.xml\"/>"
         "<Relationship Id=\"rId5\" Type=\"" R_TYPE "styles\" Target=\"styles.xml\"/></Relationships>"},
        {"xl/styles.xml", "<styleSheet " S_NS "><cellXfs count=\"1\"><xf numFmtId=\"0\"/></cellXfs></styleSheet>"},
        {"xl/sharedStrings.xml", shared},
        {"xl/worksheets/sheet1.xml", sheet(0)},
        {"xl/worksheets/sheet2.xml", sheet(1)},
        {"xl/worksheets/sheet3.xml", sheet(2)},
    };
    return ZipOoxmlParts(parts);
}

const Registrar kXlsx({"xlsx", "xlsx", Seed, AddOoxmlMutants});

}  // namespace
}  // namespace damage
