// The pptx family: a presentation of three slides, each with its hits, on a
// layout and a master (see ooxml_mutants.h for the mutants).
#include "damage/damage.h"
#include "damage/ooxml_mutants.h"

namespace damage {
namespace {

#define P_NS                                                                  \
    "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\" " \
    "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "      \
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\""
#define R_TYPE "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
#define P_TYPE "application/vnd.openxmlformats-officedocument.presentationml."
#define RELS_OPEN "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"

std::string Shape(const std::vector<std::u16string>& lines, std::size_t from, std::size_t to)
{
    std::string xml = "<p:sp><p:txBody><a:bodyPr/>";
    for (std::size_t i = from; i < to; ++i)
        xml += "<a:p><a:r><a:t>" + XmlText(lines[i]) + "</a:t></a:r></a:p>";
    return xml + "</p:txBody></p:sp>";
}

Bytes Seed()
{
    const std::vector<std::u16string> lines = SeedLines(15);
    auto slide = [&](std::size_t n) {
        return "<p:sld " P_NS "><p:cSld><p:spTree>" + Shape(lines, n * 5, n * 5 + 3) +
               Shape(lines, n * 5 + 3, n * 5 + 5) + "</p:spTree></p:cSld></p:sld>";
    };
    OoxmlParts parts = {
        {"[Content_Types].xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/ppt/presentation.xml\" ContentType=\"" P_TYPE "presentation.main+xml\"/>"
         "<Override PartName=\"/ppt/slideMasters/slideMaster1.xml\" ContentType=\"" P_TYPE "slideMaster+xml\"/>"
         "<Override PartName=\"/ppt/slideLayouts/slideLayout1.xml\" ContentType=\"" P_TYPE "slideLayout+xml\"/>"
         "<Override PartName=\"/ppt/slides/slide1.xml\" ContentType=\"" P_TYPE "slide+xml\"/>"
         "<Override PartName=\"/ppt/slides/slide2.xml\" ContentType=\"" P_TYPE "slide+xml\"/>"
         "<Override PartName=\"/ppt/slides/slide3.xml\" ContentType=\"" P_TYPE "slide+xml\"/></Types>"},
        {"_rels/.rels", RELS_OPEN "<Relationship Id=\"rId1\" Type=\"" R_TYPE
                        "officeDocument\" Target=\"ppt/presentation.xml\"/></Relationships>"},
        {"ppt/presentation.xml",
         "<p:presentation " P_NS "><p:sldMasterIdLst><p:sldMasterId id=\"2147483648\" r:id=\"rId1\"/>"
         "</p:sldMasterIdLst><p:sldIdLst><p:sldId id=\"256\" r:id=\"rId2\"/><p:sldId id=\"257\" r:id=\"rId3\"/>"
         "<p:sldId id=\"258\" r:id=\"rId4\"/></p:sldIdLst></p:presentation>"},
        {"ppt/_rels/presentation.xml.rels",
         RELS_OPEN "<Relationship Id=\"rId1\" Type=\"" R_TYPE "slideMaster\" Target=\"slideMasters/slideMaster1.xml\"/>"
                   "<Relationship Id=\"rId2\" Type=\"" R_TYPE "slide\" Target=\"slides/slide1.xml\"/>"
                   "<Relationship Id=\"rId3\" Type=\"" R_TYPE "slide\" Target=\"slides/slide2.xml\"/>"
                   "<Relationship Id=\"rId4\" Type=\"" R_TYPE "slide\" Target=\"slides/slide3.xml\"/></Relationships>"},
        {"ppt/slideMasters/slideMaster1.xml", "<p:sldMaster " P_NS "><p:cSld><p:spTree/></p:cSld></p:sldMaster>"},
        {"ppt/slideMasters/_rels/slideMaster1.xml.rels",
         RELS_OPEN "<Relationship Id=\"rId1\" Type=\"" R_TYPE
                   "slideLayout\" Target=\"../slideLayouts/slideLayout1.xml\"/></Relationships>"},
        {"ppt/slideLayouts/slideLayout1.xml", "<p:sldLayout " P_NS "><p:cSld><p:spTree/></p:cSld></p:sldLayout>"},
        {"ppt/slideLayouts/_rels/slideLayout1.xml.rels",
         RELS_OPEN "<Relationship Id=\"rId1\" Type=\"" R_TYPE
                   "slideMaster\" Target=\"../slideMasters/slideMaster1.xml\"/></Relationships>"},
    };
    for (std::size_t n = 0; n < 3; ++n) {
        const std::string name = "slide" + std::to_string(n + 1) + ".xml";
        parts.emplace_back("ppt/slides/" + name, slide(n));
        parts.emplace_back("ppt/slides/_rels/" + name + ".rels",
                           RELS_OPEN "<Relationship Id=\"rId1\" Type=\"" R_TYPE
                                     "slideLayout\" Target=\"../slideLayouts/slideLayout1.xml\"/></Relationships>");
    }
    return ZipOoxmlParts(parts);
}

const Registrar kPptx({"pptx", "pptx", Seed, AddOoxmlMutants});

}  // namespace
}  // namespace damage
