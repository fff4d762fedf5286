#include <gtest/gtest.h>

#include <string>

#include "extract/extractlib.h"
#include "extract/optionparser.h"
#include "support/isolation.h"

TEST(OptionParser, ValuesAndBooleans)
{
    const struct {
        const char16_t* options;
        int present;           // GetValue of "xml"
        std::u16string value;
        int flag;              // GetBool of "xml" with default 0
    } cases[] = {
        {u"xml:true", 1, u"true", 1},
        {u"xml:TRUE", 1, u"TRUE", 1},
        {u"xml", 1, u"", 1},
        {u"xml:", 1, u"", 1},
        {u"xml:false", 1, u"false", 0},
        {u"xml:1", 1, u"1", 0},
        {u"", 0, u"", 0},
        {nullptr, 0, u"", 0},
        {u"other:true", 0, u"", 0},
        {u"xmlx:false", 1, u"", 1},          // a token that only begins with the key counts
        {u"xml:false;xml:true", 1, u"false", 0},  // the first token counts
        {u";;a:b;;xml:true;", 1, u"true", 1},
        {u"XML:true", 0, u"", 0},            // keys are compared exactly
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options ? std::string(c.options, c.options + std::char_traits<char16_t>::length(c.options))
                               : std::string("(null)"));
        COptionParser parser(c.options);
        std::u16string value = u"unchanged";
        EXPECT_EQ(parser.GetValue(u"xml", value), c.present);
        if (c.present) {
            EXPECT_EQ(value, c.value);
        }
        EXPECT_EQ(parser.GetBool(u"xml", 0), c.flag);
    }
    EXPECT_EQ(COptionParser(u"a:b").GetBool(u"xml", 7), 7);
}

TEST(OptionParser, OnlyTheFirst259CharactersAreSeen)
{
    const std::u16string filler(251, u'f');
    // "xml:true" starts at position 252 and is cut after "xml:tru".
    const std::u16string cut = filler + u";xml:true";
    std::u16string value;
    EXPECT_EQ(COptionParser(cut.c_str()).GetValue(u"xml", value), 1);
    EXPECT_EQ(value, u"tru");
    EXPECT_EQ(COptionParser(cut.c_str()).GetBool(u"xml", 0), 0);
    // A pair beyond the limit is not seen at all.
    const std::u16string beyond = std::u16string(259, u'f') + u";xml:true";
    EXPECT_EQ(COptionParser(beyond.c_str()).GetValue(u"xml", value), 0);
}

TEST(ExtractLibrary, UseCountOfTheXmlParser)
{
    ASSERT_EQ(GetLibraryUseCount(), 0);
    EXPECT_EQ(FinalizeLibrary(), 0);  // surplus calls do nothing
    EXPECT_EQ(GetLibraryUseCount(), 0);
    EXPECT_EQ(InitializeLibrary(), 0);
    EXPECT_EQ(AcquireXmlParser(), 0);
    EXPECT_EQ(GetLibraryUseCount(), 2);
    EXPECT_EQ(ReleaseXmlParser(), 0);
    EXPECT_EQ(FinalizeLibrary(), 0);
    EXPECT_EQ(FinalizeLibrary(), 0);
    EXPECT_EQ(GetLibraryUseCount(), 0);
}

TEST(ExtractLibrary, EntriesWithoutOutputAnswerTwo)
{
    ps_test::TempDir dir;
    ps_test::WriteFileBytes(dir.file("x.hwp"), "not a document");
    const std::u16string path = u"" + std::u16string(dir.path().begin(), dir.path().end()) + u"/x.hwp";
    for (const char16_t* options : {static_cast<const char16_t*>(nullptr), u"xml:true", u"xml:false"}) {
        EXPECT_EQ(ConvertHwpToText(path.c_str(), options, nullptr), EntryResult::Failed);
        EXPECT_EQ(ConvertPdfToText(path.c_str(), options, nullptr), EntryResult::Failed);
        EXPECT_EQ(ConvertHwpToText(nullptr, options, nullptr), EntryResult::Failed);
    }
    // A file that is not an HWP document: 1, and the output as it was.
    std::u16string out = u"as it was";
    EXPECT_EQ(ConvertHwpToText(path.c_str(), nullptr, &out), EntryResult::NotRead);
    EXPECT_EQ(out, u"as it was");
}
