#include <gtest/gtest.h>

#include "core/documentkinds.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text.h"

namespace {

// What each extension the search has always read is: its kind (the tab
// order HWP, DOC, XLS, PPT, PDF) and its format. Anything else is none.
TEST(DocumentKinds, ExtensionsDecideKindAndFormat)
{
    const struct {
        const char16_t* extension;
        int kind;
        DocumentFormat format;
    } cases[] = {
        {u"HWP", 0, DocumentFormat::Hwp},           {u"DOC", 1, DocumentFormat::OfficeBinary},
        {u"DOCX", 1, DocumentFormat::OfficeXml},    {u"XLS", 2, DocumentFormat::OfficeBinary},
        {u"XLSX", 2, DocumentFormat::OfficeXml},    {u"PPT", 3, DocumentFormat::OfficeBinary},
        {u"PPTX", 3, DocumentFormat::OfficeXml},    {u"PDF", 4, DocumentFormat::Pdf},
        // The comparison is exact: callers upper-case first.
        {u"hwp", -1, DocumentFormat::None},         {u"TXT", -1, DocumentFormat::None},
        {u"", -1, DocumentFormat::None},            {u"DOCM", -1, DocumentFormat::None},
        {u"PD", -1, DocumentFormat::None},
    };
    for (const auto& c : cases) {
        const DocumentExtensionMatch m = MatchDocumentExtension(c.extension);
        EXPECT_EQ(m.kind, c.kind) << plat::WideToUtf8(c.extension);
        EXPECT_EQ(m.format, c.format) << plat::WideToUtf8(c.extension);
        EXPECT_EQ(DocumentKindOfExtension(c.extension), c.kind);
    }
}

// The kind bits, names and the order of the extensions a request lists are
// what the options windows, the store and stored settings have always used.
TEST(DocumentKinds, BitsNamesAndRequestOrder)
{
    ASSERT_EQ(kDocumentKindCount, 5);
    const char16_t* names[] = {u"HWP", u"DOC", u"XLS", u"PPT", u"PDF"};
    for (int k = 0; k < kDocumentKindCount; ++k) {
        EXPECT_EQ(kDocumentKinds[k].bit, 1u << k);
        EXPECT_EQ(std::u16string(kDocumentKinds[k].name), names[k]);
    }
    EXPECT_EQ(kAllDocumentKinds, 0x1Fu);
    using V = std::vector<std::u16string>;
    EXPECT_EQ(ExtensionsOfKinds(kAllDocumentKinds), (V{u"HWP", u"DOC", u"DOCX", u"XLS", u"XLSX", u"PPT", u"PPTX", u"PDF"}));
    EXPECT_EQ(ExtensionsOfKinds(0x0A), (V{u"DOC", u"DOCX", u"PPT", u"PPTX"}));
    EXPECT_EQ(ExtensionsOfKinds(0x10 | 0x20 | 0x80000000u), (V{u"PDF"}));
    EXPECT_EQ(ExtensionsOfKinds(0), V{});
    EXPECT_EQ(DocumentKindColumnList(), u"HWP, DOC, XLS, PPT, PDF");
    EXPECT_EQ(DocumentKindColumnList(u"S."), u"S.HWP, S.DOC, S.XLS, S.PPT, S.PDF");
}

// Every kind has its count column in the schema's SearchEventLog table (a
// new kind needs one).
TEST(DocumentKinds, EveryKindHasAStoreColumn)
{
    std::ifstream in(std::string(PS_SOURCE_DIR) + "/resources/schema.sql");
    ASSERT_TRUE(in) << "resources/schema.sql";
    std::stringstream all;
    all << in.rdbuf();
    const std::string schema = all.str();
    const size_t start = schema.find("CREATE TABLE IF NOT EXISTS SearchEventLog (");
    ASSERT_NE(start, std::string::npos);
    const std::string table = schema.substr(start, schema.find(");", start) - start);
    for (const DocumentKindInfo& k : kDocumentKinds) {
        const std::string column = "\n    " + plat::WideToUtf8(k.name) + " INTEGER NOT NULL DEFAULT 0";
        EXPECT_NE(table.find(column), std::string::npos) << column;
    }
}

}  // namespace
