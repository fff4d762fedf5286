// The docx family: a Word package with its hits in body paragraphs, a
// table, a header, a footer and comments (see ooxml_mutants.h for the
// mutants).
#include "damage/damage.h"
#include "damage/ooxml_mutants.h"

namespace damage {
namespace {

#define W_NS "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\""
#define R_TYPE "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
#define W_TYPE "application/vnd.openxmlformats-officedocument.wordprocessingml."

std::string Paragraph(const std::u16string& line)
{
    return "<w:p><w:r><w:t>" + XmlText(line) + "</w:t></w:r></w:p>";
}

Bytes Seed()
{
    const std::vector<std::u16string> lines = SeedLines(20);
    std::string body;
    for (std::size_t i = 0; i < 6; ++i)
        body += Paragraph(lines[i]);
    body += "<w:tbl>";
    for (std::size_t row = 0; row < 2; ++row) {
        body += "<w:tr>";
        for (std::size_t cell = 0; cell < 2; ++cell)
            body += "<w:tc>" + Paragraph(lines[6 + row * 2 + cell]) + "</w:tc>";
        body += "</w:tr>";
    }
    body += "</w:tbl>";
    for (std::size_t i = 10; i < 13; ++i)
        body += Paragraph(lines[i]);
    auto story = [&](const char* root, std::size_t from, std::size_t to) {
        std::string xml = std::string("<w:") + root + " " W_NS ">";
        for (std::size_t i = from; i < to; ++i)
            xml += Paragraph(lines[i]);
        return xml + "</w:" + root + ">";
    };
    std::string comments = "<w:comments " W_NS ">";
    for (std::size_t i = 17; i < 20; ++i)
        comments += "<w:comment w:id=\"" + std::to_string(i) + "\">" + Paragraph(lines[i]) + "</w:comment>";
    comments += "</w:comments>";
    const OoxmlParts parts = {
        {"[Content_Types].xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/word/document.xml\" ContentType=\"" W_TYPE "document.main+xml\"/>"
         "<Override PartName=\"/word/styles.xml\" ContentType=\"" W_TYPE "styles+xml\"/>"
         "<Override PartName=\"/word/header1.xml\" ContentType=\"" W_TYPE "header+xml\"/>"
         "<Override PartName=\"/word/footer1.xml\" ContentType=\"" W_TYPE "footer+xml\"/>"
         "<Override PartName=\"/word/comments.xml\" ContentType=\"" W_TYPE "comments+xml\"/></Types>"},
        {"_rels/.rels",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"" R_TYPE "officeDocument\" Target=\"word/document.xml\"/></Relationships>"},
        {"word/document.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><w:document " W_NS
                              "><w:body>" + body + "<w:sectPr/></w:body></w:document>"},
        {"word/_rels/document.xml.rels",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"" R_TYPE "styles\" Target=\"styles.xml\"/>"
         "<Relationship Id=\"rId2\" Type=\"" R_TYPE "header\" Target=\"header1.xml\"/>"
         "<Relationship Id=\"rId3\" Type=\"" R_TYPE "footer\" Target=\"footer1.xml\"/>"
         "<Relationship Id=\"rId4\" Type=\"" R_TYPE "comments\" Target=\"comments.xml\"/>"
         "<Relationship Id=\"rId5\" Type=\"" R_TYPE "hyperlink\" Target=\"http://example.com/\" TargetMode=\"External\"/>"
         "</Relationships>"},
        {"word/styles.xml", "<w:styles " W_NS "><w:style w:styleId=\"Normal\"/></w:styles>"},
        {"word/header1.xml", story("hdr", 13, 15)},
        {"word/footer1.xml", story("ftr", 15, 17)},
        {"word/comments.xml", comments},
    };
    return ZipOoxmlParts(parts);
}

const Registrar kDocx({"docx", "docx", Seed, AddOoxmlMutants});

}  // namespace
}  // namespace damage
