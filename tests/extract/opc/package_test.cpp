#include "extract/opc/package.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"
#include "support/isolation.h"
#include "support/zip_writer.h"

namespace {

using ps_test::ZipEntry;
using ps_test::ZipWriter;

const char* kRelsNs = "http://schemas.openxmlformats.org/package/2006/relationships";

std::string Rels(const std::string& body)
{
    return std::string("<Relationships xmlns=\"") + kRelsNs + "\">" + body + "</Relationships>";
}

std::string Types(const std::string& body)
{
    return "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">" + body + "</Types>";
}

class PackageTest : public ::testing::Test {
protected:
    OpcPackage* Open(const std::string& bytes)
    {
        const std::string path = dir_.file("p" + std::to_string(++n_) + ".zip");
        EXPECT_TRUE(ps_test::WriteFileBytes(path, bytes));
        return PackageOpen(plat::Utf8ToWide(path).c_str(), 0, nullptr);
    }

    // The whole text content of a part read through the package.
    std::string PartText(OpcPackage* p, const char* name, int* status = nullptr)
    {
        McReaderState st;
        int rc = PackageOpenPart(p, &st, name, nullptr, nullptr, 0);
        if (status)
            *status = rc;
        if (rc != 0)
            return "<closed>";
        std::string text;
        while (McReaderRead(&st) == 1) {
            if (xmlTextReaderNodeType(st.reader) == XML_READER_TYPE_TEXT)
                text += reinterpret_cast<const char*>(xmlTextReaderConstValue(st.reader));
        }
        McReaderCleanup(&st);
        return text;
    }

    ps_test::TempDir dir_;
    int n_ = 0;
};

TEST_F(PackageTest, MissingFileAndNonZip)
{
    EXPECT_EQ(PackageOpen(u"/nonexistent/x.docx", 0, nullptr), nullptr);
    EXPECT_EQ(PackageOpen(nullptr, 0, nullptr), nullptr);
    // Bytes before the first local header: an archive without entries.
    const std::string zip = ZipWriter().Add("a.xml", "<a/>").Bytes();
    for (const std::string& bytes : {std::string("not a zip at all"), std::string(), "XX" + zip}) {
        OpcPackage* p = Open(bytes);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(PackageFirstPart(p), nullptr);
        EXPECT_EQ(PackageClose(p, 0), 0);
    }
}

TEST_F(PackageTest, PartsTypesAndNames)
{
    const std::string types = Types(
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/word/document.xml\" ContentType=\"doc/main\"/>"
        "<Override PartName=\"/word/_rels/gone.xml.rels\" ContentType=\"x\"/>");
    ZipWriter zip;
    zip.Add("[Content_Types].xml", types)
        .Add("word/", "", false)
        .Add("word/document.xml", "<d>main text</d>")
        .Add("word/_rels/document.xml.rels",
             Rels("<Relationship Id=\"rId2\" Type=\"t/img\" Target=\"../media/image1.png\"/>"
                  "<Relationship Id=\"rId1\" Type=\"t/sty\" Target=\"/word/styles.xml\"/>"
                  "<Relationship Id=\"rId3\" Type=\"t/link\" Target=\"http://x/\" TargetMode=\"External\"/>"))
        .Add("word/styles.xml", "<s/>", false)
        .Add("media/image1.png", "PNG", false)
        .Add("A.XML", "<a>upper</a>")
        .Add("_rels/.rels", Rels("<Relationship Id=\"r\" Type=\"t/doc\" Target=\"word/document.xml\"/>"))
        .Add("word/_rels/only.xml.rels", Rels(""));
    OpcPackage* p = Open(zip.Bytes());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->contentTypesError, 0);

    // Name order (byte order), folders and relationship-only parts passed over.
    std::vector<std::string> names;
    for (const char* n = PackageFirstPart(p); n; n = PackageNextPart(p, n))
        names.push_back(n);
    EXPECT_EQ(names, (std::vector<std::string>{"A.XML", "media/image1.png", "word/document.xml", "word/styles.xml"}));

    EXPECT_STREQ(PackageGetPartType(p, "/word/document.xml"), "doc/main");
    EXPECT_STREQ(PackageGetPartType(p, "word/styles.xml"), "application/xml");
    EXPECT_EQ(PackageGetPartType(p, "A.XML"), nullptr);  // extensions match with exact case
    EXPECT_EQ(PackageGetPartType(p, "nothing.xml"), nullptr);

    EXPECT_EQ(PartText(p, "/word/document.xml"), "main text");
    EXPECT_EQ(PartText(p, "word/document.xml"), "main text");
    int status = 0;
    PartText(p, "word/", &status);
    EXPECT_EQ(status, 1);
    PartText(p, "word/only.xml", &status);  // known by its relationships only
    EXPECT_EQ(status, 1);

    const auto* rels = PackageGetRelationships(p, "word/document.xml");
    ASSERT_NE(rels, nullptr);
    ASSERT_EQ(rels->size(), 3u);
    EXPECT_EQ((*rels)[0].id, "rId1");
    EXPECT_EQ((*rels)[0].target, "word/styles.xml");
    EXPECT_EQ((*rels)[1].target, "media/image1.png");
    EXPECT_TRUE((*rels)[2].external);
    EXPECT_EQ((*rels)[2].target, "http://x/");
    ASSERT_EQ(PackageGetRelationships(p, "/")->size(), 1u);
    EXPECT_EQ(PackageClose(p, 0), 0);
}

TEST_F(PackageTest, ContentTypeErrorsStopTaking)
{
    // The second Default for xml keeps the first type and ends the taking.
    const std::string types = Types(
        "<Default Extension=\"xml\" ContentType=\"first\"/>"
        "<Default Extension=\"xml\" ContentType=\"second\"/>"
        "<Override PartName=\"/a.xml\" ContentType=\"late\"/>");
    OpcPackage* p = Open(ZipWriter().Add("[Content_Types].xml", types).Add("a.xml", "<a/>").Bytes());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->contentTypesError, 3);
    EXPECT_STREQ(PackageGetPartType(p, "a.xml"), "first");
    PackageClose(p, 0);

    // Without "[Content_Types].xml" no part has a type.
    p = Open(ZipWriter().Add("a.xml", "<a>x</a>").Bytes());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(PackageGetPartType(p, "a.xml"), nullptr);
    EXPECT_EQ(PartText(p, "a.xml"), "x");
    PackageClose(p, 0);
}

TEST_F(PackageTest, ResolveTargets)
{
    const struct {
        const char* source;
        const char* target;
        const char* expected;
    } cases[] = {
        {"word/document.xml", "../media/image1.png", "media/image1.png"},
        {"word/document.xml", "/word/styles.xml", "word/styles.xml"},
        {"word/document.xml", "styles.xml", "word/styles.xml"},
        {"word/document.xml", "./theme//theme1.xml", "word/theme/theme1.xml"},
        {"", "word/document.xml", "word/document.xml"},
        {"a.xml", "../../../etc/passwd", "etc/passwd"},
        {"ppt/slides/slide1.xml", "//x.xml", "x.xml"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PackageResolveTarget(c.source, c.target), c.expected) << c.source << " " << c.target;
}

TEST(OpcZip, EntryNames)
{
    EXPECT_EQ(OpcDecodeName("%41bc.xml", 9), "Abc.xml");
    EXPECT_EQ(OpcDecodeName("a%2fb%2Fc", 9), "a/b/c");
    EXPECT_EQ(OpcDecodeName("ab%4", 4), "ab");
    EXPECT_EQ(OpcDecodeName("ab%zzcd", 7), "ab");
    EXPECT_EQ(OpcDecodeName("a%00b", 5), "a");
    EXPECT_EQ(OpcDecodeName(std::string(2000, 'x').c_str(), 2000).size(), 511u);

    const struct {
        const char* name;
        const char* part;
        OpcEntryKind kind;
        int piece;
    } cases[] = {
        {"word/_rels/document.xml.rels", "word/document.xml", OpcEntryKind::Relationships, -1},
        {"_rels/.rels", "", OpcEntryKind::Relationships, -1},
        {"[Content_Types].xml", "[Content_Types].xml", OpcEntryKind::ContentTypes, -1},
        {"[content_types].xml", "[content_types].xml", OpcEntryKind::Data, -1},
        {"word/media/", "word/media/", OpcEntryKind::Folder, -1},
        {"word\\", "word\\", OpcEntryKind::Folder, -1},
        {"word/document.xml/[2].piece", "word/document.xml", OpcEntryKind::Data, 2},
        {"word/document.xml/[3].last.piece", "word/document.xml", OpcEntryKind::Data, 3},
        {"word/x.rels", "word/x.rels", OpcEntryKind::Data, -1},
        {"../../evil.xml", "../../evil.xml", OpcEntryKind::Data, -1},
    };
    for (const auto& c : cases) {
        std::string name = c.name;
        int32_t piece;
        bool last;
        EXPECT_EQ(OpcClassifyName(name, &piece, &last), c.kind) << c.name;
        EXPECT_EQ(name, c.part) << c.name;
        EXPECT_EQ(piece, c.piece) << c.name;
    }
}

TEST_F(PackageTest, DataDescriptorsAndExtraFields)
{
    const std::string big = std::string(5000, 'z') + "END";
    ZipEntry stored{"s.xml", "<s>" + big + "</s>", false, true, true, {}};
    ZipEntry storedNoSig{"t.xml", "<t>plain</t>", false, true, false, {}};
    ZipEntry deflated{"d.xml", "<d>" + big + "</d>", true, true, true, {}};
    ZipEntry extra{"e.xml", "<e>ex</e>", true, false, true, std::string("\x01\x00\x04\x00" "abcd", 8)};
    // A growth hint with four bytes of padding after it.
    ZipEntry hint{"h.xml", "<h>hint</h>", true, false, true, std::string("\x20\xA2\x08\x00\x28\xA0\x00\x02\0\0\0\0", 12)};
    ZipWriter zip;
    zip.Add(stored).Add(storedNoSig).Add(deflated).Add(extra).Add(hint);
    OpcPackage* p = Open(zip.Bytes());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(PartText(p, "s.xml"), big);
    EXPECT_EQ(PartText(p, "t.xml"), "plain");
    EXPECT_EQ(PartText(p, "d.xml"), big);
    EXPECT_EQ(PartText(p, "e.xml"), "ex");
    EXPECT_EQ(PartText(p, "h.xml"), "hint");
    PackageClose(p, 0);

    // A growth-hint field without its signature is a damaged archive.
    ZipEntry badHint{"h.xml", "<h/>", true, false, true, std::string("\x20\xA2\x04\x00\x00\x00\x00\x02", 8)};
    EXPECT_EQ(Open(ZipWriter().Add(badHint).Bytes()), nullptr);
}

TEST_F(PackageTest, EntriesAfterTheCentralDirectoryAreNotSeen)
{
    std::string bytes = ZipWriter().Add("a.xml", "<a/>").Bytes();
    bytes += ZipWriter().Add("b.xml", "<b/>").Bytes();
    OpcPackage* p = Open(bytes);
    ASSERT_NE(p, nullptr);
    ASSERT_NE(PackageFirstPart(p), nullptr);
    EXPECT_STREQ(PackageFirstPart(p), "a.xml");
    EXPECT_EQ(PackageNextPart(p, "a.xml"), nullptr);
    PackageClose(p, 0);
}

TEST_F(PackageTest, HostileArchives)
{
    const std::string good = ZipWriter().Add("a.xml", "<a>text</a>").Add("b.xml", "<b>more</b>").Bytes();
    // Declared sizes far beyond the file: the part reads short and ends cleanly.
    std::string huge = good;
    huge[18] = huge[19] = huge[20] = huge[21] = '\xF0';
    huge[22] = huge[23] = huge[24] = huge[25] = '\xF0';
    // Compressed size too small: the deflate stream is cut.
    std::string small = good;
    small[18] = 3;
    small[19] = small[20] = small[21] = 0;
    // Unsupported method.
    std::string method = good;
    method[8] = 99;
    // Truncated in the middle of the first entry's name and data.
    std::string cut = good.substr(0, 33);
    std::string cutData = good.substr(0, 40);
    // Extra field running past its area.
    ZipEntry badExtra{"x.xml", "<x/>", true, false, true, std::string("\x01\x00\x40\x00" "ab", 6)};
    std::string extra = ZipWriter().Add(badExtra).Bytes();
    // A data descriptor that never comes.
    ZipEntry noDesc{"y.xml", "<y/>", false, true, false, {}};
    std::string desc = ZipWriter().Add(noDesc).Bytes();
    desc.resize(30 + 5 + 4);

    for (const std::string& bytes : {huge, small, method, cut, cutData}) {
        OpcPackage* p = Open(bytes);
        if (!p)
            continue;
        for (const char* n = PackageFirstPart(p); n; n = PackageNextPart(p, n))
            PartText(p, n);
        PartText(p, "a.xml");
        PackageClose(p, 0);
    }
    EXPECT_EQ(Open(extra), nullptr);
    EXPECT_EQ(Open(desc), nullptr);

    OpcPackage* p = Open(method);
    ASSERT_NE(p, nullptr);
    int status = 0;
    PartText(p, "a.xml", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(PartText(p, "b.xml"), "more");
    PackageClose(p, 0);
}

TEST_F(PackageTest, InflateBombStopsAtDeclaredSize)
{
    // 16 MiB of one repeated element declared as 100 bytes: the reader
    // stops after the declared size instead of inflating everything.
    std::string body = "<r>";
    std::string chunk;
    for (int i = 0; i < 4096; ++i)
        chunk += "<a/>";
    for (int i = 0; i < 1024; ++i)
        body += chunk;
    body += "</r>";
    std::string bytes = ZipWriter().Add("a.xml", body).Bytes();
    bytes[22] = 100;
    bytes[23] = bytes[24] = bytes[25] = 0;
    OpcPackage* p = Open(bytes);
    ASSERT_NE(p, nullptr);
    McReaderState st;
    ASSERT_EQ(PackageOpenPart(p, &st, "a.xml", nullptr, nullptr, 0), 0);
    int nodes = 0;
    while (McReaderRead(&st) == 1)
        ++nodes;
    McReaderCleanup(&st);
    EXPECT_LT(nodes, 100000);
    PackageClose(p, 0);
}

}  // namespace
