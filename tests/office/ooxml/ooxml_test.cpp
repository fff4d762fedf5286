#include "office/ooxml/ooxmlparts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include <zlib.h>

#include "extract/extractlib.h"
#include "office/officeentry.h"
#include "platform/docfile.h"
#include "platform/text.h"
#include "support/isolation.h"
#include "support/zip_writer.h"

namespace {

#define W_NS "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\""
#define MC_NS "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\""
#define A_NS "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\""
#define P_NS "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\""
#define S_NS "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\""

const char* kWordHeader = "application/vnd.openxmlformats-officedocument.wordprocessingml.header+xml";
const char* kWordComments = "application/vnd.openxmlformats-officedocument.wordprocessingml.comments+xml";
const char* kSlide = "application/vnd.openxmlformats-officedocument.presentationml.slide+xml";
const char* kLayout = "application/vnd.openxmlformats-officedocument.presentationml.slideLayout+xml";
const char* kMaster = "application/vnd.openxmlformats-officedocument.presentationml.slideMaster+xml";
const char* kDiagram = "application/vnd.openxmlformats-officedocument.drawingml.diagramData+xml";
const char* kShared = "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";
const char* kSheet = "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";
const char* kStyles = "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml";

using Parts = std::vector<std::pair<std::string, std::string>>;

class OoxmlTest : public ::testing::Test {
protected:
    // Runs the entry for kind ('w', 'p', 'x') over the package; returns the
    // text as UTF-8 and the status in *status.
    std::string Convert(char kind, const std::string& bytes, int* status = nullptr)
    {
        const std::string path = dir_.file("f" + std::to_string(++n_));
        EXPECT_TRUE(ps_test::WriteFileBytes(path, bytes));
        const std::u16string wpath = plat::Utf8ToWide(path);
        std::u16string out;
        int rc = static_cast<int>(kind == 'w'   ? ConvertWordToText(wpath.c_str(), u"xml:true", &out)
                                  : kind == 'p' ? ConvertPowerPointToText(wpath.c_str(), u"xml:true", &out)
                                                : ConvertExcelToText(wpath.c_str(), u"xml:true", &out));
        if (status)
            *status = rc;
        else
            EXPECT_EQ(rc, 0);
        return plat::WideToUtf8(out);
    }

    ps_test::TempDir dir_;
    int n_ = 0;
};


// Little-endian fields for the hand-built archives below.
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

void Put64(std::string& s, uint64_t v)
{
    Put32(s, static_cast<uint32_t>(v));
    Put32(s, static_cast<uint32_t>(v >> 32));
}

uint32_t Crc(const std::string& data)
{
    return static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// A package written with Zip64 records throughout, as streaming writers do:
// sizes and offsets of all ones in the headers, the real values in Zip64
// extra fields, a Zip64 end record and its locator before the end record.
std::string Zip64Package(const Parts& parts)
{
    std::string out, directory;
    for (const auto& [name, data] : parts) {
        const std::string body = ps_test::RawDeflate(data);
        const uint64_t offset = out.size();
        Put32(out, 0x04034B50);
        Put16(out, 45);
        Put16(out, 0);
        Put16(out, 8);
        Put32(out, 0);
        Put32(out, Crc(data));
        Put32(out, 0xFFFFFFFF);
        Put32(out, 0xFFFFFFFF);
        Put16(out, static_cast<uint32_t>(name.size()));
        Put16(out, 20);
        out += name;
        Put16(out, 1);
        Put16(out, 16);
        Put64(out, data.size());
        Put64(out, body.size());
        out += body;

        Put32(directory, 0x02014B50);
        Put16(directory, 45);
        Put16(directory, 45);
        Put16(directory, 0);
        Put16(directory, 8);
        Put32(directory, 0);
        Put32(directory, Crc(data));
        Put32(directory, 0xFFFFFFFF);
        Put32(directory, 0xFFFFFFFF);
        Put16(directory, static_cast<uint32_t>(name.size()));
        Put16(directory, 28);
        Put16(directory, 0);
        Put16(directory, 0);
        Put16(directory, 0);
        Put32(directory, 0);
        Put32(directory, 0xFFFFFFFF);
        directory += name;
        Put16(directory, 1);
        Put16(directory, 24);
        Put64(directory, data.size());
        Put64(directory, body.size());
        Put64(directory, offset);
    }
    const uint64_t directoryAt = out.size();
    out += directory;
    const uint64_t recordAt = out.size();
    Put32(out, 0x06064B50);
    Put64(out, 44);
    Put16(out, 45);
    Put16(out, 45);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, parts.size());
    Put64(out, parts.size());
    Put64(out, directory.size());
    Put64(out, directoryAt);
    Put32(out, 0x07064B50);
    Put32(out, 0);
    Put64(out, recordAt);
    Put32(out, 1);
    Put32(out, 0x06054B50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, 0xFFFF);
    Put16(out, 0xFFFF);
    Put32(out, 0xFFFFFFFF);
    Put32(out, 0xFFFFFFFF);
    Put16(out, 0);
    return out;
}

// The package with one more local entry that its central directory does not
// list, slipped in before the directory.
std::string WithUnlistedEntry(const std::string& package, const std::string& name, const std::string& data)
{
    const std::string extra = ps_test::ZipWriter().Add(name, data).Bytes();
    const size_t extraLocal = extra.rfind(std::string("PK\x01\x02", 4));
    const size_t end = package.rfind(std::string("PK\x05\x06", 4));
    const uint32_t directoryAt = uint8_t(package[end + 16]) | uint8_t(package[end + 17]) << 8 |
                                 uint8_t(package[end + 18]) << 16 | uint32_t(uint8_t(package[end + 19])) << 24;
    std::string out = package.substr(0, directoryAt) + extra.substr(0, extraLocal) + package.substr(directoryAt);
    std::string moved;
    Put32(moved, static_cast<uint32_t>(directoryAt + extraLocal));
    out.replace(end + extraLocal + 16, 4, moved);
    return out;
}

std::string Doc(const std::string& body)
{
    return "<?xml version=\"1.0\"?><w:document " W_NS " " MC_NS "><w:body>" + body + "</w:body></w:document>";
}

TEST_F(OoxmlTest, WordParagraphsRunsAndParts)
{
    const std::string body =
        "<w:p><w:r><w:t>ab</w:t></w:r><w:r><w:t xml:space=\"preserve\"> </w:t></w:r><w:r><w:t>cd</w:t></w:r></w:p>"
        "<w:p/>"
        "<w:p><w:r><w:instrText>PAGE</w:instrText><w:delText>gone</w:delText><w:t>x</w:t></w:r>"
        "<w:r><mc:AlternateContent><mc:Choice Requires=\"w\"><w:t>choice</w:t></mc:Choice>"
        "<mc:Fallback><w:pict><w:txbxContent><w:p><w:r><w:t>box</w:t></w:r></w:p></w:txbxContent></w:pict>"
        "</mc:Fallback></mc:AlternateContent></w:r></w:p>";
    const std::string pkg = ps_test::MakeOoxmlPackage(
        {{"word/document.xml", Doc(body)},
         {"word/header1.xml", "<w:hdr " W_NS "><w:p><w:r><w:t>head</w:t></w:r></w:p></w:hdr>"},
         {"word/comments.xml", "<w:comments " W_NS "><w:comment><w:p><w:r><w:t>note</w:t></w:r></w:p></w:comment></w:comments>"},
         {"word/other.xml", "<w:hdr " W_NS "><w:p><w:r><w:t>untyped</w:t></w:r></w:p></w:hdr>"}},
        {{"/word/header1.xml", kWordHeader}, {"/word/comments.xml", kWordComments}});
    EXPECT_EQ(Convert('w', pkg), "ab cd\n\nxbox\n\nnote\nhead\n");
}

TEST_F(OoxmlTest, WordFailuresAndOddParts)
{
    int status = 0;
    // No document part.
    Convert('w', ps_test::MakeOoxmlPackage({{"word/x.xml", "<x/>"}}, {}), &status);
    EXPECT_EQ(status, 1);
    // Without content types: the main part alone, and the header's type
    // unknown: read in part.
    EXPECT_EQ(Convert('w',
                      ps_test::MakeOoxmlPackage({{"word/document.xml", Doc("<w:p><w:r><w:t>only</w:t></w:r></w:p>")},
                                                 {"word/header1.xml", "<w:hdr " W_NS "><w:t>h</w:t></w:hdr>"}},
                                                {{"/word/header1.xml", kWordHeader}}, false),
                      &status),
              "only\n");
    EXPECT_EQ(status, 1);
    // A comment before the root element hides nothing.
    EXPECT_EQ(Convert('w', ps_test::MakeOoxmlPackage({{"word/document.xml", "<?xml version=\"1.0\"?><!-- c --><w:document " W_NS "><w:t>x</w:t></w:document>"}}, {})),
              "x");
    // Broken XML: the document is not read (status 1).
    std::string filler;
    for (int i = 0; i < 200; ++i)
        filler += "<w:p><w:t>ok</w:t></w:p>";
    const std::string broken = Convert(
        'w', ps_test::MakeOoxmlPackage({{"word/document.xml", Doc(filler + "<w:p><w:t>x</w:p>")}}, {}), &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(broken.find('x'), std::string::npos);
    // Deep nesting: ends cleanly, and the document is not read.
    std::string deep;
    for (int i = 0; i < 3000; ++i)
        deep += "<w:p>";
    Convert('w', ps_test::MakeOoxmlPackage({{"word/document.xml", Doc(deep)}}, {}), &status);
    EXPECT_EQ(status, 1);
}

TEST_F(OoxmlTest, PresentationOrderAndDiagrams)
{
    auto slide = [](const std::string& text) {
        return "<p:sld " P_NS " " A_NS "><p:cSld><p:spTree><p:sp><p:txBody><a:p><a:r><a:t>" + text +
               "</a:t></a:r></a:p></p:txBody></p:sp></p:spTree></p:cSld>"
               "<p:extLst><p:ext uri=\"u\"><mc:AlternateContent " MC_NS "/></p:ext></p:extLst></p:sld>";
    };
    const std::string pkg = ps_test::MakeOoxmlPackage(
        {{"ppt/slides/slide2.xml", slide("two")},
         {"ppt/slides/slide10.xml", slide("ten")},
         {"ppt/slideLayouts/slideLayout1.xml", slide("layout")},
         {"ppt/slideMasters/slideMaster1.xml", slide("master")},
         {"ppt/diagrams/data1.xml",
          "<dgm:dataModel xmlns:dgm=\"urn:dgm\" " A_NS "><dgm:pt><dgm:t><a:p><a:r><a:t>diag</a:t></a:r></a:p>"
          "<t>plain</t></dgm:t></dgm:pt></dgm:dataModel>"}},
        {{"/ppt/slides/slide2.xml", kSlide},
         {"/ppt/slides/slide10.xml", kSlide},
         {"/ppt/slideLayouts/slideLayout1.xml", kLayout},
         {"/ppt/slideMasters/slideMaster1.xml", kMaster},
         {"/ppt/diagrams/data1.xml", kDiagram}});
    EXPECT_EQ(Convert('p', pkg), "master\nlayout\nten\ntwo\ndiag\n");
}

TEST_F(OoxmlTest, PresentationLineBreaksPartWords)
{
    const std::string slide =
        "<p:sld " P_NS " " A_NS "><p:cSld><p:spTree><p:sp><p:txBody><a:p><a:r><a:t>RGB</a:t></a:r>"
        "<a:br><a:rPr lang=\"ko-KR\"/></a:br><a:r><a:t>196/0/84</a:t></a:r><a:br/><a:r><a:t>end</a:t></a:r></a:p>"
        "</p:txBody></p:sp></p:spTree></p:cSld></p:sld>";
    EXPECT_EQ(Convert('p', ps_test::MakeOoxmlPackage({{"ppt/slides/slide1.xml", slide}},
                                                     {{"/ppt/slides/slide1.xml", kSlide}})),
              "RGB\n196/0/84\nend\n");
}

std::string Sheet(const std::string& cells)
{
    return "<worksheet " S_NS "><sheetData><row>" + cells + "</row></sheetData></worksheet>";
}

TEST_F(OoxmlTest, SpreadsheetCells)
{
    const std::string shared =
        "<sst " S_NS "><si><t>x</t></si><si><r><t>a</t></r><r><t>b</t></r></si><si><t/></si><si><t>last</t></si></sst>";
    const std::string styles =
        "<styleSheet " S_NS "><numFmts><numFmt numFmtId=\"164\" formatCode=\"000\\-0000\\-0000\"/>"
        "<numFmt numFmtId=\"165\" formatCode=\"yyyy\\-mm\\-dd\"/><numFmt numFmtId=\"166\" formatCode=\"General\"/>"
        "</numFmts><cellStyleXfs><xf numFmtId=\"14\"/></cellStyleXfs>"
        "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/><xf numFmtId=\"165\"/>"
        "<xf numFmtId=\"166\"/><xf numFmtId=\"3\"/></cellXfs></styleSheet>";
    const std::string cells =
        "<c t=\"s\"><v>0</v></c><c t=\"s\"><v>1</v></c><c t=\"s\"><v>2</v></c><c t=\"s\"><v>3</v></c>"
        "<c s=\"1\"><v>40000</v></c>"         // a date style
        "<c s=\"1\"><v>0.5</v></c>"           // date style, no day part
        "<c s=\"2\"><v>1012345678</v></c>"    // a phone number mask
        "<c s=\"3\"><v>45000</v></c>"         // a custom date
        "<c s=\"4\"><v>01012345678</v></c>"   // General: as it stands
        "<c s=\"5\"><v>1234567</v></c>"       // grouped built-in: as the workbook shows it
        "<c><v>3.25</v></c>"
        "<c t=\"inlineStr\"><is><t>inline</t></is></c>"
        "<c t=\"str\"><f>A1</f><v>formula text</v></c>"
        "<c/>";
    const std::string pkg = ps_test::MakeOoxmlPackage(
        {{"xl/sharedStrings.xml", shared}, {"xl/styles.xml", styles}, {"xl/worksheets/sheet1.xml", Sheet(cells)}},
        {{"/xl/sharedStrings.xml", kShared}, {"/xl/styles.xml", kStyles}, {"/xl/worksheets/sheet1.xml", kSheet}});
    EXPECT_EQ(Convert('x', pkg),
              "x\t\nab\t\n\nlast\t\n"
              "07/06/2009\t\n0.5\t\n010-1234-5678\t\n2023-03-15\t\n01012345678\t\n1,234,567\t\n3.25\t\n"
              "inline\t\nformula text\t\n\n");
}

TEST_F(OoxmlTest, SpreadsheetStyleNumbersWithoutDateFormats)
{
    // Style indexes 1 to 3 that are not date formats leave numbers alone.
    const std::string styles =
        "<styleSheet " S_NS "><cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"0\"/><xf numFmtId=\"1\"/>"
        "<xf numFmtId=\"49\"/></cellXfs></styleSheet>";
    const std::string cells = "<c s=\"1\"><v>1012345678</v></c><c s=\"2\"><v>110123456789</v></c><c s=\"3\"><v>42</v></c>";
    const std::string pkg = ps_test::MakeOoxmlPackage(
        {{"xl/styles.xml", styles}, {"xl/worksheets/sheet1.xml", Sheet(cells)}},
        {{"/xl/styles.xml", kStyles}, {"/xl/worksheets/sheet1.xml", kSheet}});
    EXPECT_EQ(Convert('x', pkg), "1012345678\t\n110123456789\t\n42\t\n");
    // No styles part at all: numbers as they stand.
    const std::string bare =
        ps_test::MakeOoxmlPackage({{"xl/worksheets/sheet1.xml", Sheet(cells)}}, {{"/xl/worksheets/sheet1.xml", kSheet}});
    EXPECT_EQ(Convert('x', bare), "1012345678\t\n110123456789\t\n42\t\n");
}

TEST_F(OoxmlTest, SpreadsheetNumbersAsShownAndBooleans)
{
    // Amounts, percentages and fractions read as the workbook shows them;
    // booleans as TRUE and FALSE; a whole number under a scientific format
    // keeps its digits.
    const std::string styles =
        "<styleSheet " S_NS "><numFmts><numFmt numFmtId=\"164\" formatCode=\"&quot;$&quot;#,##0.00_);\\(&quot;$&quot;#,##0.00\\)\"/>"
        "<numFmt numFmtId=\"165\" formatCode=\"GENERAL\"/></numFmts>"
        "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"164\"/><xf numFmtId=\"10\"/><xf numFmtId=\"12\"/>"
        "<xf numFmtId=\"11\"/><xf numFmtId=\"165\"/><xf numFmtId=\"4\"/></cellXfs></styleSheet>";
    const std::string cells =
        "<c s=\"1\"><v>1400</v></c><c s=\"1\"><v>-2800.5</v></c><c s=\"2\"><v>0.0215</v></c>"
        "<c s=\"3\"><v>1.5</v></c><c s=\"4\"><v>12345.678</v></c><c s=\"4\"><v>9001011234567</v></c>"
        "<c s=\"5\"><v>0101234</v></c><c s=\"6\"><v>-0.004</v></c>"
        "<c t=\"b\"><v>1</v></c><c t=\"b\"><v>0</v></c><c t=\"e\"><v>#DIV/0!</v></c>";
    const std::string pkg = ps_test::MakeOoxmlPackage(
        {{"xl/styles.xml", styles}, {"xl/worksheets/sheet1.xml", Sheet(cells)}},
        {{"/xl/styles.xml", kStyles}, {"/xl/worksheets/sheet1.xml", kSheet}});
    EXPECT_EQ(Convert('x', pkg),
              "$1,400.00 \t\n($2,800.50)\t\n2.15%\t\n1 1/2\t\n1.23E+04\t\n9001011234567\t\n0101234\t\n"
              "0.00\t\nTRUE\t\nFALSE\t\n#DIV/0!\t\n");
}

TEST(OoxmlNumbers, FormatXlsxNumber)
{
    XlsxStyles styles;
    styles.cellFormats = {0, 14, 22, 20, 14};
    styles.codes = {{14, u"yyyy-mm-dd"}};  // a workbook's own text for a built-in id wins
    EXPECT_EQ(FormatXlsxNumber("45000", -1, styles), u"45000");
    EXPECT_EQ(FormatXlsxNumber("45000", 99, styles), u"45000");
    EXPECT_EQ(FormatXlsxNumber("45000.75", 1, styles), u"2023-03-15");
    EXPECT_EQ(FormatXlsxNumber("not a number", 1, styles), u"not a number");
    EXPECT_EQ(FormatXlsxNumber("-5", 1, styles), u"-5");
    EXPECT_EQ(FormatXlsxNumber("0.25", 3, styles), u"6: 0");
    // Numbers as they stand: binary noise beyond 15 significant digits goes,
    // every digit of an integer stays.
    EXPECT_EQ(FormatXlsxNumber("0.30000000000000004", 0, styles), u"0.3");
    EXPECT_EQ(FormatXlsxNumber("8.3815384615384698", 0, styles), u"8.38153846153847");
    EXPECT_EQ(FormatXlsxNumber("1234567812345678", 0, styles), u"1234567812345678");
    EXPECT_EQ(FormatXlsxNumber("0.000012345678901234567", 0, styles), u"0.000012345678901234567");
    EXPECT_EQ(FormatXlsxNumber("1.2345678901234567E+20", 0, styles), u"1.2345678901234567E+20");
    EXPECT_EQ(FormatXlsxNumber("4.9999999999999975E-2", 0, styles), u"0.05");
    EXPECT_EQ(FormatXlsxNumber("1.5E-10", 0, styles), u"1.5E-10");
    EXPECT_EQ(FormatXlsxNumber("12.5", 0, styles), u"12.5");
    // Whole numbers written with a fraction or an exponent show as integers.
    EXPECT_EQ(FormatXlsxNumber("1014.0", 0, styles), u"1014");
    EXPECT_EQ(FormatXlsxNumber("1014.0", -1, styles), u"1014");
    EXPECT_EQ(FormatXlsxNumber("-2.0", 0, styles), u"-2");
    EXPECT_EQ(FormatXlsxNumber("1.5E3", 0, styles), u"1500");
    EXPECT_EQ(FormatXlsxNumber("-0.0", 0, styles), u"0");
}

}  // namespace

namespace {

// Damaged copies of a small package of each kind: every entry must come back
// with a status, whatever the bytes.
TEST_F(OoxmlTest, DamagedPackagesGiveAStatus)
{
    const std::string shared = "<sst " S_NS "><si><t>x</t></si><si><r><t>a</t></r></si></sst>";
    const std::string styles = "<styleSheet " S_NS "><numFmts><numFmt numFmtId=\"164\" formatCode=\"000-0000\"/>"
                               "</numFmts><cellXfs><xf numFmtId=\"164\"/><xf numFmtId=\"14\"/></cellXfs></styleSheet>";
    const std::string cells = "<c t=\"s\"><v>1</v></c><c s=\"0\"><v>1234567</v></c><c s=\"1\"><v>45000</v></c>"
                              "<c t=\"inlineStr\"><is><t>i</t></is></c>";
    const std::string packages[] = {
        ps_test::MakeOoxmlPackage(
            {{"word/document.xml", Doc("<w:p><w:r><w:t>ab</w:t></w:r></w:p><mc:AlternateContent><mc:Fallback>"
                                       "<w:p><w:r><w:t>fb</w:t></w:r></w:p></mc:Fallback></mc:AlternateContent>")},
             {"word/header1.xml", "<w:hdr " W_NS "><w:p><w:r><w:t>head</w:t></w:r></w:p></w:hdr>"}},
            {{"/word/header1.xml", kWordHeader}}),
        ps_test::MakeOoxmlPackage({{"ppt/slides/slide1.xml", "<p:sld " P_NS " " A_NS "><a:p><a:t>s</a:t></a:p></p:sld>"}},
                                  {{"/ppt/slides/slide1.xml", kSlide}}),
        ps_test::MakeOoxmlPackage(
            {{"xl/sharedStrings.xml", shared}, {"xl/styles.xml", styles}, {"xl/worksheets/sheet1.xml", Sheet(cells)}},
            {{"/xl/sharedStrings.xml", kShared}, {"/xl/styles.xml", kStyles}, {"/xl/worksheets/sheet1.xml", kSheet}}),
    };
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (const std::string& original : packages) {
        for (int round = 0; round < 120; ++round) {
            std::string bytes = original;
            const int edits = 1 + static_cast<int>(next() % 6);
            for (int i = 0; i < edits; ++i) {
                const size_t at = next() % bytes.size();
                switch (next() % 4) {
                case 0: bytes[at] = static_cast<char>(next()); break;
                case 1: bytes[at] = static_cast<char>(0xFF); break;
                case 2: bytes.resize(std::max<size_t>(at, 1)); break;
                default: bytes.insert(at, std::string(1 + next() % 8, static_cast<char>(next()))); break;
                }
            }
            for (char kind : {'w', 'p', 'x'}) {
                int status = -1;
                Convert(kind, bytes, &status);
                EXPECT_TRUE(status == 0 || status == 1) << round;
            }
        }
    }
}

}  // namespace

namespace {

// Packages that would hide their text from the reader: each is read as
// every ZIP tool and XML reader sees it, or reported as not read.
std::string Word(const std::string& document)
{
    return ps_test::MakeOoxmlPackage({{"word/document.xml", document}}, {});
}

TEST_F(OoxmlTest, HugeTextNodeIsRead)
{
    auto word = Word;
    int status = -1;
    // A text node beyond the XML parser's default limit of 10 MB, and text after it.
    const std::string big(11 * 1000 * 1000, '7');
    std::string text = Convert('w', word(Doc("<w:p><w:r><w:t>" + big + "</w:t><w:t>after</w:t></w:r></w:p>")), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(text.size(), big.size() + 6);
    EXPECT_TRUE(text.ends_with("after\n"));
}

TEST_F(OoxmlTest, OnlyEntriesOfTheCentralDirectoryAreRead)
{
    auto word = Word;
    // A local entry the central directory does not list is not the part.
    const std::string listed = word(Doc("<w:p><w:r><w:t>listed</w:t></w:r></w:p>"));
    EXPECT_EQ(Convert('w', WithUnlistedEntry(listed, "word/document.xml", Doc("<w:p><w:r><w:t>unlisted</w:t></w:r></w:p>"))),
              "listed\n");
}

TEST_F(OoxmlTest, DocumentTypeWithoutEntities)
{
    auto word = Word;
    int status = -1;
    // A document type is accepted; entity declarations make the part unread.
    EXPECT_EQ(Convert('w', word("<?xml version=\"1.0\"?><!DOCTYPE w:document>" +
                                Doc("<w:p><w:r><w:t>typed</w:t></w:r></w:p>").substr(21))),
              "typed\n");
    EXPECT_EQ(Convert('w', word("<!DOCTYPE w:document SYSTEM \"file:///etc/hostname\">" +
                                Doc("<w:p><w:r><w:t>system</w:t></w:r></w:p>").substr(21))),
              "system\n");
    std::string laughs = "<!DOCTYPE w:document [<!ENTITY a \"0123456789\">";
    for (char c = 'b'; c <= 'k'; ++c)
        laughs += std::string("<!ENTITY ") + c + " \"" + [&] {
            std::string r;
            for (int i = 0; i < 10; ++i)
                r += std::string("&") + char(c - 1) + ";";
            return r;
        }() + "\">";
    laughs += "]>";
    const std::string declared[] = {
        "<!DOCTYPE w:document [<!ENTITY pii \"800101-1234567\">]>" + Doc("<w:p><w:r><w:t>&pii;</w:t></w:r></w:p>").substr(21),
        "<!DOCTYPE w:document [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>" + Doc("<w:p><w:r><w:t>&x;</w:t></w:r></w:p>").substr(21),
        laughs + Doc("<w:p><w:r><w:t>&k;</w:t></w:r></w:p>").substr(21),
        laughs + "<w:document " W_NS " w:a=\"&k;\"><w:body/></w:document>",
    };
    for (const std::string& document : declared) {
        Convert('w', word(document), &status);
        EXPECT_EQ(status, 1) << document.substr(0, 60);
    }
    // Content types that declare entities (or whose XML fails) leave the
    // header's type unknown: the document is not read to its end.
    const std::string body = Doc("<w:p><w:r><w:t>body</w:t></w:r></w:p>");
    const std::string header = "<w:hdr " W_NS "><w:p><w:r><w:t>head</w:t></w:r></w:p></w:hdr>";
    const std::string override_ = "<Override PartName=\"/word/header1.xml\" ContentType=\"" + std::string(kWordHeader) + "\"/>";
    const std::string typesOpen = "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">";
    const std::string typesVariants[] = {
        "<!DOCTYPE Types [<!ENTITY t \"" + std::string(kWordHeader) + "\">]>" + typesOpen +
            "<Override PartName=\"/word/header1.xml\" ContentType=\"&t;\"/></Types>",
        typesOpen + "<Default Extension=\"xml\" ContentType=\"a/b\"/>" + override_ + "<Broken></Types>",
    };
    for (const std::string& types : typesVariants) {
        ps_test::ZipWriter zip;
        zip.Add("[Content_Types].xml", types).Add("word/document.xml", body).Add("word/header1.xml", header);
        Convert('w', zip.Bytes(), &status);
        EXPECT_EQ(status, 1) << types;
    }
    ps_test::ZipWriter typed;
    typed.Add("[Content_Types].xml", "<!DOCTYPE Types>" + typesOpen + override_ + "</Types>")
        .Add("word/document.xml", body)
        .Add("word/header1.xml", header);
    EXPECT_EQ(Convert('w', typed.Bytes()), "body\nhead\n");
}

TEST_F(OoxmlTest, Zip64PackageIsRead)
{
    // Zip64 records.
    const std::string types =
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/word/header1.xml\" ContentType=\"" + std::string(kWordHeader) + "\"/></Types>";
    EXPECT_EQ(Convert('w', Zip64Package({{"[Content_Types].xml", types},
                                         {"word/document.xml", Doc("<w:p><w:r><w:t>zip64</w:t></w:r></w:p>")},
                                         {"word/header1.xml", "<w:hdr " W_NS "><w:p><w:r><w:t>head</w:t></w:r></w:p></w:hdr>"}})),
              "zip64\nhead\n");
}

TEST_F(OoxmlTest, ParseStoppingEarlyIsNotRead)
{
    auto word = Word;
    int status = -1;
    // A parse that stops early, in a part the reader must read, is not a
    // document read to its end.
    const std::string cut = Doc("<w:p><w:r><w:t>before</w:t></w:r></w:p><w:p><w:r><w:t>lost");
    Convert('w', word(cut.substr(0, cut.size() - 20)), &status);
    EXPECT_EQ(status, 1);
    Convert('p', ps_test::MakeOoxmlPackage({{"ppt/slides/slide1.xml", "<p:sld " P_NS " " A_NS "><a:p><a:t>s</a:t>"}},
                                           {{"/ppt/slides/slide1.xml", kSlide}}),
            &status);
    EXPECT_EQ(status, 1);
    Convert('x', ps_test::MakeOoxmlPackage({{"xl/worksheets/sheet1.xml", "<worksheet " S_NS "><sheetData><row><c><v>1"}},
                                           {{"/xl/worksheets/sheet1.xml", kSheet}}),
            &status);
    EXPECT_EQ(status, 1);
}

}  // namespace

namespace {

// The offset field of the central-directory entry named name.
size_t DirectoryOffsetField(const std::string& package, const std::string& name)
{
    for (size_t at = package.find(std::string("PK\x01\x02", 4)); at != std::string::npos;
         at = package.find(std::string("PK\x01\x02", 4), at + 4)) {
        const size_t length = uint8_t(package[at + 28]) | uint8_t(package[at + 29]) << 8;
        if (package.compare(at + 46, length, name) == 0 && length == name.size())
            return at + 42;
    }
    return std::string::npos;
}

TEST_F(OoxmlTest, DirectoryEntryPointingAtAnotherEntryIsNotRead)
{
    // The directory's entry for the main part points at the local header of
    // another entry: that entry's text is not the main part's, and the
    // document is not read rather than read clean.
    const std::string package = ps_test::MakeOoxmlPackage(
        {{"word/document.xml", Doc("<w:p><w:r><w:t>800101-1234567</w:t></w:r></w:p>")},
         {"word/decoy.xml", Doc("<w:p><w:r><w:t>nothing here</w:t></w:r></w:p>")}},
        {});
    const size_t decoyLocal = package.find("word/decoy.xml") - 30;
    ASSERT_EQ(package.compare(decoyLocal, 4, std::string("PK\x03\x04", 4)), 0);
    std::string bytes = package;
    const size_t field = DirectoryOffsetField(bytes, "word/document.xml");
    ASSERT_NE(field, std::string::npos);
    std::string offset;
    Put32(offset, static_cast<uint32_t>(decoyLocal));
    bytes.replace(field, 4, offset);
    int status = -1;
    const std::string text = Convert('w', bytes, &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(text.find("nothing here"), std::string::npos);
    // The untouched package reads as before.
    EXPECT_EQ(Convert('w', package), "800101-1234567\n");
}

// Main parts of each kind with elements nested to the given depth around a
// text: read when the nesting is ordinary, not read (and no crash) when it
// is hostile.
TEST_F(OoxmlTest, DeeplyNestedElements)
{
    struct Case {
        char kind;
        const char* part;
        const char* type;
        std::string open, nestOpen, nestClose, inner, close;
    };
    const Case cases[] = {
        {'w', "word/document.xml", nullptr, "<w:document " W_NS "><w:body>", "<w:sdt>", "</w:sdt>",
         "<w:p><w:r><w:t>deep</w:t></w:r></w:p>", "</w:body></w:document>"},
        {'p', "ppt/slides/slide1.xml", kSlide, "<p:sld " P_NS " " A_NS "><p:cSld><p:spTree>", "<p:grpSp>",
         "</p:grpSp>", "<a:p><a:r><a:t>deep</a:t></a:r></a:p>", "</p:spTree></p:cSld></p:sld>"},
        {'x', "xl/worksheets/sheet1.xml", kSheet, "<worksheet " S_NS "><sheetData>", "<row>", "</row>",
         "<c t=\"inlineStr\"><is><t>deep</t></is></c>", "</sheetData></worksheet>"},
    };
    for (const Case& c : cases) {
        for (int depth : {200, 100000}) {
            std::string xml = c.open;
            xml.reserve(xml.size() + depth * (c.nestOpen.size() + c.nestClose.size()) + 200);
            for (int i = 0; i < depth; ++i)
                xml += c.nestOpen;
            xml += c.inner;
            for (int i = 0; i < depth; ++i)
                xml += c.nestClose;
            xml += c.close;
            Parts overrides;
            if (c.type)
                overrides.emplace_back(std::string("/") + c.part, c.type);
            int status = -1;
            const std::string text = Convert(c.kind, ps_test::MakeOoxmlPackage({{c.part, xml}}, overrides), &status);
            if (depth <= 200) {
                EXPECT_EQ(status, 0) << c.kind;
                EXPECT_NE(text.find("deep"), std::string::npos) << c.kind;
            } else {
                EXPECT_EQ(status, 1) << c.kind << " " << depth;
            }
        }
    }
}

// One attribute of many megabytes: the XML reader's work on a start tag it
// has not seen the end of grows with the square of its length past 10 MB,
// so a tag larger than the reader takes is not read (reported), while large
// attributes within it are read.
TEST_F(OoxmlTest, HugeAttribute)
{
    for (size_t size : {size_t(1) << 20, size_t(12) << 20}) {
        const std::string xml = Doc("<w:p w:x=\"" + std::string(size, 'a') + "\"><w:r><w:t>after</w:t></w:r></w:p>");
        int status = -1;
        const std::string text = Convert('w', Word(xml), &status);
        if (size < (size_t(8) << 20)) {
            EXPECT_EQ(status, 0) << size;
            EXPECT_EQ(text, "after\n");
        } else {
            EXPECT_EQ(status, 1) << size;
        }
    }
}

}  // namespace

namespace {

std::string Utf16Le(const std::string& ascii)
{
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

// XML readers are kept and handed between parts and threads: documents of
// each kind read on several threads at once give each its own text, also
// after parts that failed or were refused.
TEST_F(OoxmlTest, ReadersSharedBetweenThreads)
{
    struct Job {
        char kind;
        std::string bytes;
        int status;
        std::string text;
    };
    const std::vector<Job> jobs = {
        {'w', Word(Doc("<w:p><w:r><w:t>word</w:t></w:r></w:p>")), 0, "word\n"},
        {'w', Word("<!DOCTYPE w:document [<!ENTITY x \"1\">]>" + Doc("<w:p><w:r><w:t>&x;</w:t></w:r></w:p>").substr(21)), 1,
         ""},
        {'w', Word(Doc("<w:p><w:r><w:t>cut")), 1, ""},
        // A byte-order mark, and UTF-16, after parts read plainly.
        {'w', Word("\xEF\xBB\xBF" + Doc("<w:p><w:r><w:t>bom</w:t></w:r></w:p>")), 0, "bom\n"},
        {'w', Word(Utf16Le(Doc("<w:p><w:r><w:t>wide</w:t></w:r></w:p>"))), 0, "wide\n"},
        {'p', ps_test::MakeOoxmlPackage({{"ppt/slides/slide1.xml", "<p:sld " P_NS " " A_NS "><a:p><a:t>slide</a:t></a:p></p:sld>"}},
                                        {{"/ppt/slides/slide1.xml", kSlide}}),
         0, "slide\n"},
        {'x', ps_test::MakeOoxmlPackage({{"xl/worksheets/sheet1.xml", Sheet("<c t=\"inlineStr\"><is><t>cell</t></is></c>")}},
                                        {{"/xl/worksheets/sheet1.xml", kSheet}}),
         0, "cell\t\n"},
    };
    std::vector<std::string> paths;
    for (const Job& job : jobs) {
        paths.push_back(dir_.file("shared" + std::to_string(paths.size())));
        ASSERT_TRUE(ps_test::WriteFileBytes(paths.back(), job.bytes));
    }
    // As the program does, the library is held for the whole search: the
    // parser is then not cleaned up and set up again while threads use it.
    InitializeLibrary();
    auto convert = [&](size_t j) {
        const std::u16string wpath = plat::Utf8ToWide(paths[j]);
        std::u16string out;
        const int rc = static_cast<int>(jobs[j].kind == 'w'   ? ConvertWordToText(wpath.c_str(), u"xml:true", &out)
                                        : jobs[j].kind == 'p' ? ConvertPowerPointToText(wpath.c_str(), u"xml:true", &out)
                                                              : ConvertExcelToText(wpath.c_str(), u"xml:true", &out));
        return rc == jobs[j].status && (rc != 0 || plat::WideToUtf8(out) == jobs[j].text);
    };
    for (size_t j = 0; j < jobs.size(); ++j)
        EXPECT_TRUE(convert(j)) << j;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 60; ++i) {
                if (!convert(static_cast<size_t>(t + i) % jobs.size()))
                    ++wrong;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    FinalizeLibrary();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace

namespace {

// Where the entry named name has its local header and its directory entry.
struct EntryAt {
    size_t local = std::string::npos;
    size_t central = std::string::npos;
};

EntryAt FindEntry(const std::string& zip, const std::string& name)
{
    EntryAt e;
    e.central = DirectoryOffsetField(zip, name);
    if (e.central == std::string::npos)
        return e;
    e.central -= 42;
    e.local = uint8_t(zip[e.central + 42]) | uint8_t(zip[e.central + 43]) << 8 | uint8_t(zip[e.central + 44]) << 16 |
              uint32_t(uint8_t(zip[e.central + 45])) << 24;
    return e;
}

uint32_t Le32At(const std::string& s, size_t at)
{
    return uint8_t(s[at]) | uint8_t(s[at + 1]) << 8 | uint8_t(s[at + 2]) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}

void SetLe(std::string& s, size_t at, uint32_t v, int width)
{
    for (int i = 0; i < width; ++i)
        s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string DocumentRels(const std::string& headerTarget)
{
    return "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId9\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink\""
           " Target=\"#nowhere\"/>"
           "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/header\""
           " Target=\"" + headerTarget + "\"/></Relationships>";
}

// Packages damaged in one way each, every one of which the reader used to
// read clean while text was lost or the package contradicted itself: each
// is now read in part (status 1) with the text it still gives.
TEST_F(OoxmlTest, DamagedPackagesAreReadInPart)
{
    const std::string body = Doc("<w:p><w:r><w:t>body</w:t></w:r></w:p>");
    const std::string header = "<w:hdr " W_NS "><w:p><w:r><w:t>head</w:t></w:r></w:p></w:hdr>";
    auto word = [&](const std::string& headerTarget, bool withHeader, bool withOverride) {
        Parts parts = {{"word/document.xml", body}, {"word/_rels/document.xml.rels", DocumentRels(headerTarget)}};
        if (withHeader)
            parts.emplace_back("word/header1.xml", header);
        Parts overrides;
        if (withOverride)
            overrides.emplace_back("/word/header1.xml", kWordHeader);
        return ps_test::MakeOoxmlPackage(parts, overrides);
    };
    const std::string healthy = word("header1.xml", true, true);
    const std::string shared = "<sst " S_NS "><si><t>one</t></si></sst>";
    auto book = [&](const std::string& cells) {
        return ps_test::MakeOoxmlPackage({{"xl/sharedStrings.xml", shared}, {"xl/worksheets/sheet1.xml", Sheet(cells)}},
                                         {{"/xl/sharedStrings.xml", kShared}, {"/xl/worksheets/sheet1.xml", kSheet}});
    };
    const std::string typesOpen = "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">";

    struct Case {
        const char* what;
        char kind;
        std::string bytes;
        const char* text;  // what is still read
    };
    std::vector<Case> cases;
    cases.push_back({"header named by its relationship and absent", 'w', word("header1.xml", false, false), "body\n"});
    cases.push_back({"header typed by an Override and absent", 'w', word("header2.xml", false, true), "body\n"});
    cases.push_back({"relationship target above the package's root", 'w', word("../../word/header1.xml", true, false),
                     "body\n"});
    cases.push_back({"header named by its relationship, typed as another kind", 'w', word("header1.xml", true, false),
                     "body\n"});
    cases.push_back({"no content types", 'w',
                     ps_test::MakeOoxmlPackage({{"word/document.xml", body}, {"word/header1.xml", header}}, {}, false),
                     "body\n"});
    {
        ps_test::ZipWriter zip;
        zip.Add("[Content_Types].xml", typesOpen + "<Default Extension=\"\" ContentType=\"a/b\"/>" +
                                           "<Override PartName=\"/word/header1.xml\" ContentType=\"" + kWordHeader +
                                           "\"/></Types>")
            .Add("word/document.xml", body)
            .Add("word/header1.xml", header);
        cases.push_back({"content types stopped by a broken value", 'w', zip.Bytes(), "body\n"});
    }
    {
        // The end record counts one entry fewer than the directory holds.
        std::string bytes = healthy;
        const size_t end = bytes.rfind(std::string("PK\x05\x06", 4));
        const uint32_t count = uint8_t(bytes[end + 10]) | uint8_t(bytes[end + 11]) << 8;
        SetLe(bytes, end + 8, count - 1, 2);
        SetLe(bytes, end + 10, count - 1, 2);
        cases.push_back({"end record counts fewer entries than the directory", 'w', bytes, "body\n"});
    }
    {
        // A check value that the data does not give, in both headers.
        std::string bytes = healthy;
        const EntryAt e = FindEntry(bytes, "word/header1.xml");
        const uint32_t crc = Le32At(bytes, e.local + 14) ^ 0x10;
        SetLe(bytes, e.local + 14, crc, 4);
        SetLe(bytes, e.central + 16, crc, 4);
        cases.push_back({"CRC-32 of an entry not matching its data", 'w', bytes, "body\nhead\n"});
    }
    {
        // The deflate stream ends before the size both headers declare.
        std::string bytes = healthy;
        const EntryAt e = FindEntry(bytes, "word/header1.xml");
        const uint32_t size = Le32At(bytes, e.local + 22) + 5;
        SetLe(bytes, e.local + 22, size, 4);
        SetLe(bytes, e.central + 24, size, 4);
        cases.push_back({"deflate stream shorter than its stated size", 'w', bytes, "body\nhead\n"});
    }
    {
        // The local header's CRC-32 differs from the directory's.
        std::string bytes = healthy;
        const EntryAt e = FindEntry(bytes, "word/header1.xml");
        SetLe(bytes, e.local + 14, Le32At(bytes, e.local + 14) ^ 1, 4);
        cases.push_back({"local header disagreeing with the directory", 'w', bytes, "body\nhead\n"});
    }
    cases.push_back({"shared string index outside the table", 'x',
                     book("<c t=\"s\"><v>0</v></c><c t=\"s\"><v>7</v></c><c t=\"inlineStr\"><is><t>two</t></is></c>"),
                     "one\t\n\ntwo\t\n"});

    EXPECT_EQ(Convert('w', healthy), "body\nhead\n");
    EXPECT_EQ(Convert('x', book("<c t=\"s\"><v>0</v></c>")), "one\t\n");
    for (const Case& c : cases) {
        int status = -1;
        const std::string text = Convert(c.kind, c.bytes, &status);
        EXPECT_EQ(status, 1) << c.what;
        EXPECT_EQ(text, c.text) << c.what;
    }
}

// Links saved without an address (an empty target, internal or external)
// name no part: the document and the parts named after them read clean.
TEST_F(OoxmlTest, LinksWithoutAnAddressReadClean)
{
    const std::string link = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink";
    const std::string rels =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId7\" Type=\"" + link + "\" Target=\"\"/>"
        "<Relationship Id=\"rId8\" Type=\"" + link + "\" Target=\"\" TargetMode=\"External\"/>"
        "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/header\""
        " Target=\"header1.xml\"/></Relationships>";
    const std::string body = Doc("<w:p><w:hyperlink><w:r><w:t>body</w:t></w:r></w:hyperlink></w:p>");
    const std::string header = "<w:hdr " W_NS "><w:p><w:r><w:t>head</w:t></w:r></w:p></w:hdr>";
    const std::string bytes = ps_test::MakeOoxmlPackage(
        {{"word/document.xml", body}, {"word/_rels/document.xml.rels", rels}, {"word/header1.xml", header}},
        {{"/word/header1.xml", kWordHeader}});
    int status = -1;
    EXPECT_EQ(Convert('w', bytes, &status), "body\nhead\n");
    EXPECT_EQ(status, 0);
    // A header named without an address is a header the document misses.
    const std::string noHeader = ps_test::MakeOoxmlPackage(
        {{"word/document.xml", body}, {"word/_rels/document.xml.rels", DocumentRels("")}}, {});
    EXPECT_EQ(Convert('w', noHeader, &status), "body\n");
    EXPECT_EQ(status, 1);
}

}  // namespace

namespace {

// Which parts that are not read are damaged: broken XML is, while a part
// stopped at a reading limit, one that needs a namespace the reader does not
// understand and one that declares entities are not read without damage.
TEST_F(OoxmlTest, PartsNotReadAreDamagedOnlyWhenBroken)
{
    std::string deep = "<w:p><w:r><w:t>before</w:t></w:r></w:p>";
    for (int i = 0; i < 2000; ++i)
        deep += "<w:sdt>";
    struct Case {
        const char* what;
        std::string document;
        const char* reason;  // null: not damaged
    };
    const Case cases[] = {
        {"markup broken after text", Doc("<w:p><w:r><w:t>before</w:t></w:r></w:p><w:p><w:t>x</w:p>"), "XML 구조 손상"},
        {"cut inside an element", Doc("<w:p><w:r><w:t>before</w:t></w:r></w:p>").substr(0, 120), "XML 구조 손상"},
        {"nested deeper than the reader takes", Doc(deep), nullptr},
        {"a namespace that must be understood",
         "<w:document " W_NS " " MC_NS " xmlns:x=\"urn:x\" mc:MustUnderstand=\"x\"><w:body/></w:document>", nullptr},
        {"entities declared",
         "<!DOCTYPE w:document [<!ENTITY e \"1\">]>" + Doc("<w:p><w:r><w:t>&e;</w:t></w:r></w:p>").substr(21),
         nullptr},
    };
    for (const Case& c : cases) {
        plat::DamageScope damage;
        int status = -1;
        Convert('w', Word(c.document), &status);
        EXPECT_EQ(status, 1) << c.what;
        if (c.reason)
            EXPECT_STREQ(damage.Reason(), c.reason) << c.what;
        else
            EXPECT_FALSE(damage.Damaged()) << c.what << ": " << damage.Reason();
    }
}

}  // namespace

namespace {

// A text box or a framed paragraph that sits in a hyperlink is sound markup:
// the document reads clean, with the box's text where the box stands. The
// same document cut inside the box is damaged.
TEST_F(OoxmlTest, TextBoxesAndFramesInHyperlinksReadClean)
{
    const std::string ns = W_NS " " MC_NS " " A_NS
                           " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\""
                           " xmlns:v=\"urn:schemas-microsoft-com:vml\""
                           " xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\""
                           " xmlns:wps=\"http://schemas.microsoft.com/office/word/2010/wordprocessingShape\""
                           " mc:Ignorable=\"wps\"";
    auto document = [&](const std::string& body) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><w:document " + ns + "><w:body>" + body +
               "<w:sectPr/></w:body></w:document>";
    };
    const std::string box = "<w:txbxContent><w:p><w:r><w:t>010-1234-5678</w:t></w:r></w:p></w:txbxContent>";
    const std::string vml = "<w:pict><v:shape><v:textbox>" + box + "</v:textbox></v:shape></w:pict>";
    const std::string drawing =
        "<mc:AlternateContent><mc:Choice Requires=\"wps\"><w:drawing><wp:anchor><wp:docPr id=\"1\" name=\"Box\">"
        "<a:hlinkClick r:id=\"rId5\"/></wp:docPr><a:graphic><a:graphicData><wps:wsp><wps:txbx>" + box +
        "</wps:txbx></wps:wsp></a:graphicData></a:graphic></wp:anchor></w:drawing></mc:Choice>"
        "<mc:Fallback>" + vml + "</mc:Fallback></mc:AlternateContent>";
    auto linked = [](const std::string& link, const std::string& runs) {
        return "<w:p><w:r><w:t xml:space=\"preserve\">Call </w:t></w:r><w:hyperlink " + link + ">" + runs +
               "</w:hyperlink><w:r><w:t xml:space=\"preserve\"> now</w:t></w:r></w:p>";
    };
    const std::string rels =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId5\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
        "hyperlink\" Target=\"http://example.com/\" TargetMode=\"External\"/></Relationships>";
    auto package = [&](const std::string& xml) {
        return ps_test::MakeOoxmlPackage({{"word/document.xml", xml}, {"word/_rels/document.xml.rels", rels}}, {});
    };

    struct Case {
        const char* what;
        std::string body;
        const char* text;
    };
    const Case cases[] = {
        {"text box of a picture in a link", linked("r:id=\"rId5\"", "<w:r>" + vml + "</w:r>"),
         "Call 010-1234-5678\n now\n"},
        {"drawing text box in a link, with its fallback",
         linked("r:id=\"rId5\" w:history=\"1\"", "<w:r><w:t>site</w:t></w:r><w:r>" + drawing + "</w:r>"),
         "Call site010-1234-5678\n now\n"},
        {"text box in a link to a bookmark", linked("w:anchor=\"here\"", "<w:r>" + vml + "</w:r>"),
         "Call 010-1234-5678\n now\n"},
        {"framed paragraph holding a link",
         "<w:p><w:pPr><w:framePr w:w=\"2000\" w:h=\"500\" w:hAnchor=\"page\" w:vAnchor=\"page\"/></w:pPr>"
         "<w:hyperlink r:id=\"rId5\"><w:r><w:t>010-1234-5678</w:t></w:r></w:hyperlink></w:p>",
         "010-1234-5678\n"},
    };
    for (const Case& c : cases) {
        plat::DamageScope damage;
        int status = -1;
        EXPECT_EQ(Convert('w', package(document(c.body)), &status), c.text) << c.what;
        EXPECT_EQ(status, 0) << c.what;
        EXPECT_FALSE(damage.Damaged()) << c.what << ": " << damage.Reason();
    }

    // Cut inside the box: damaged, and not read clean.
    const std::string whole = document(cases[0].body);
    plat::DamageScope damage;
    int status = -1;
    Convert('w', package(whole.substr(0, whole.find("5678"))), &status);
    EXPECT_EQ(status, 1);
    EXPECT_STREQ(damage.Reason(), "XML 구조 손상");
}

}  // namespace
