#include "office/officeentry.h"
#include "office/msmanagers.h"

#include <gtest/gtest.h>

#include <string>

#include "extract/extractlib.h"
#include "platform/text.h"
#include "support/cfb_writer.h"
#include "support/isolation.h"
#include "support/zip_writer.h"

namespace {

std::u16string W(const std::string& s)
{
    return plat::Utf8ToWide(s);
}

std::string Le16(unsigned v)
{
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

class OfficeTest : public ::testing::Test {
protected:
    std::u16string Write(const std::string& name, const std::string& bytes)
    {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(ps_test::WriteFileBytes(path, bytes));
        return W(path);
    }

    std::string Compound(const std::u16string& stream, const std::string& data)
    {
        ps_test::CfbWriter w(3);
        w.AddStream(stream, data);
        return w.Build();
    }

    ps_test::TempDir dir_;
};

TEST_F(OfficeTest, MissingOutputString)
{
    const std::u16string path = Write("a.docx", "PK\x03\x04");
    EXPECT_EQ(ConvertWordToText(path.c_str(), u"xml:true", nullptr), EntryResult::Failed);
    EXPECT_EQ(ConvertPowerPointToText(path.c_str(), nullptr, nullptr), EntryResult::Failed);
    EXPECT_EQ(ConvertExcelToText(path.c_str(), nullptr, nullptr), EntryResult::Failed);
}

TEST_F(OfficeTest, FlatWordFiles)
{
    std::string header = Le16(0x37FE) + std::string(402, '\0');
    const std::u16string ok = Write("flat.doc", header);
    const std::u16string shortFile = Write("short.doc", header.substr(0, 403));
    const std::u16string other = Write("a694.doc", Le16(0xA694) + std::string(500, 'x'));
    EXPECT_TRUE(IsFlatWordFile(ok.c_str()));
    EXPECT_TRUE(IsFlatWordFile(other.c_str()));
    std::u16string out = u"old text";
    EXPECT_EQ(ConvertWordToText(ok.c_str(), nullptr, &out), EntryResult::Read);
    EXPECT_EQ(out, u"");
    out = u"old";
    EXPECT_EQ(ConvertWordToText(shortFile.c_str(), u"xml:false", &out), EntryResult::NotRead);
    EXPECT_EQ(out, u"");
    EXPECT_EQ(ConvertWordToText(other.c_str(), nullptr, &out), EntryResult::Read);
}

TEST_F(OfficeTest, RtfRecognition)
{
    const struct {
        std::string bytes;
        bool rtf;
    } cases[] = {
        {"{\\rtf1\\ansi hello}", true},
        {"\r\n  {\\rtf1", true},
        {"X\\rtf1", true},            // the first byte above 0x32 is not examined
        {std::string(100, ' ') + "\\rtf1", true},
        {std::string(100, ' ') + "{\\rtf1", false},
        {std::string(99, '1') + "{\\rtf1", true},
        {"{\\rt", false},
        {"", false},
        {"{\\RTF1", false},
    };
    int i = 0;
    for (const auto& c : cases) {
        const std::u16string path = Write("r" + std::to_string(i++) + ".doc", c.bytes);
        EXPECT_EQ(IsRtfFile(path.c_str()) != 0, c.rtf) << c.bytes;
    }
    EXPECT_FALSE(IsRtfFile(u"/nonexistent/file.rtf"));
    // The Word manager's IsFormat does not take RTF; its worker does.
    const std::u16string rtf = Write("rtf.doc", "{\\rtf1 text}");
    CMSOldWordDManager manager;
    EXPECT_FALSE(manager.IsFormat(rtf.c_str()));
}

TEST_F(OfficeTest, CompoundFileTests)
{
    const std::u16string word97 = Write("w97.doc", Compound(u"WordDocument", Le16(0xA5EC) + "rest"));
    const std::u16string word6 = Write("w6.doc", Compound(u"WordDocument", Le16(0xA5DC) + "rest"));
    const std::u16string notWord = Write("w0.doc", Compound(u"Other", "data"));
    EXPECT_TRUE(IsWord97File(word97.c_str()));
    EXPECT_FALSE(IsWord6File(word97.c_str()));
    EXPECT_TRUE(IsWord6File(word6.c_str()));
    EXPECT_TRUE(IsWord6FamilyFile(word6.c_str()));
    EXPECT_FALSE(IsWord97File(word6.c_str()));
    EXPECT_FALSE(IsWord97File(notWord.c_str()));
    CMSOldWordDManager manager;
    EXPECT_TRUE(manager.IsFormat(word97.c_str()));
    EXPECT_FALSE(manager.IsFormat(notWord.c_str()));

    // A Word 97 document asked for as OOXML: not a package.
    std::u16string out;
    EXPECT_EQ(ConvertWordToText(word97.c_str(), u"xml:true", &out), EntryResult::NotRead);
    CMSWordOOXMLManager ooxml;
    EXPECT_EQ(ooxml.Convert(word97.c_str()), 2);

    // PowerPoint: the current-user atom's token at offsets 12 to 15.
    std::string user(20, '\0');
    user.replace(12, 4, "\x5F\xC0\x91\xE3");
    const std::u16string ppt = Write("p.ppt", Compound(u"Current User", user));
    const std::u16string shortUser = Write("s.ppt", Compound(u"Current User", user.substr(0, 14)));
    const std::u16string emptyUser = Write("e.ppt", Compound(u"Current User", ""));
    EXPECT_TRUE(IsPowerPointFile(ppt.c_str()));
    EXPECT_FALSE(IsPowerPointFile(shortUser.c_str()));
    EXPECT_FALSE(IsPowerPointFile(emptyUser.c_str()));
    EXPECT_FALSE(IsPowerPointFile(word97.c_str()));

    // Excel: BOF record in "Workbook" or "Book", extension .xls in any case.
    const std::string bof = Le16(0x0809) + Le16(16) + "more";
    EXPECT_TRUE(IsExcelFile(Write("a.xls", Compound(u"Workbook", bof)).c_str()));
    EXPECT_TRUE(IsExcelFile(Write("b.XLS", Compound(u"Book", bof)).c_str()));
    EXPECT_FALSE(IsExcelFile(Write("c.xlsx", Compound(u"Workbook", bof)).c_str()));
    EXPECT_FALSE(IsExcelFile(Write("d.xls", Compound(u"Workbook", Le16(0x0809) + Le16(7))).c_str()));
    EXPECT_FALSE(IsExcelFile(Write("e.xls", bof).c_str()));  // not in a compound file

    // Recognised binary documents: a presentation without its document
    // stream is not extracted; a workbook stream holding only a BOF and its
    // EOF is read (no text); one whose BOF claims more than the stream holds
    // and never ends is damaged, read in part.
    out = u"x";
    EXPECT_EQ(ConvertPowerPointToText(ppt.c_str(), nullptr, &out), EntryResult::NotRead);
    const std::string wholeBof = Le16(0x0809) + Le16(16) + Le16(0x0600) + Le16(0x0005) + std::string(12, '\0');
    const std::string eof = Le16(0x000A) + Le16(0);
    EXPECT_EQ(ConvertExcelToText(Write("f.xls", Compound(u"Workbook", wholeBof + eof)).c_str(), nullptr, &out),
              EntryResult::Read);
    EXPECT_EQ(out, u"");
    EXPECT_EQ(ConvertExcelToText(Write("g.xls", Compound(u"Workbook", bof)).c_str(), nullptr, &out),
              EntryResult::NotRead);
    EXPECT_EQ(out, u"");
    CMSOldExcelManager excel;
    EXPECT_EQ(excel.Convert(notWord.c_str()), 2);
    EXPECT_EQ(excel.Convert(nullptr), 2);
}

TEST_F(OfficeTest, ZipSignatureAndUseCount)
{
    EXPECT_TRUE(IsZipPackageFile(Write("z.docx", "PK\x03\x04").c_str()));
    EXPECT_FALSE(IsZipPackageFile(Write("y.docx", "PK\x03").c_str()));
    EXPECT_FALSE(IsZipPackageFile(u"/nonexistent/z.docx"));

    const int before = GetLibraryUseCount();
    {
        CMSExcelOOXMLManager a;
        CMSPowerPointOOXMLManager b;
        EXPECT_EQ(GetLibraryUseCount(), before + 2);
    }
    EXPECT_EQ(GetLibraryUseCount(), before);
}

TEST_F(OfficeTest, OoxmlEntries)
{
    const std::string docx = ps_test::MakeOoxmlPackage(
        {{"word/document.xml",
          "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>"
          "<w:p><w:r><w:t>ab</w:t></w:r><w:r><w:t>cd</w:t></w:r></w:p></w:body></w:document>"}},
        {});
    const std::u16string path = Write("d.docx", docx);
    std::u16string out = u"old";
    EXPECT_EQ(ConvertWordToText(path.c_str(), u"xml:true", &out), EntryResult::Read);
    EXPECT_EQ(out, u"abcd\n");
    // The binary manager does not take a package.
    EXPECT_EQ(ConvertWordToText(path.c_str(), u"xml:false", &out), EntryResult::NotRead);
    // A package without the main part is not extracted.
    const std::u16string empty = Write("e.docx", ps_test::MakeOoxmlPackage({{"x.xml", "<x/>"}}, {}));
    EXPECT_EQ(ConvertWordToText(empty.c_str(), u"xml:true", &out), EntryResult::NotRead);
    // Presentations and workbooks without their parts: done, no text.
    EXPECT_EQ(ConvertPowerPointToText(empty.c_str(), u"xml:true", &out), EntryResult::Read);
    EXPECT_EQ(out, u"");
    EXPECT_EQ(ConvertExcelToText(empty.c_str(), u"xml:true", &out), EntryResult::Read);
    // A file that only starts like a ZIP archive.
    const std::u16string fake = Write("f.xlsx", std::string("PK\x03\x04", 4) + std::string(10, '\xFF'));
    EXPECT_EQ(ConvertExcelToText(fake.c_str(), u"xml:true", &out), EntryResult::NotRead);
}

}  // namespace
