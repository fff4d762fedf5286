#include "extract/opc/package.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "platform/docfile.h"
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

// Sets a field of the first entry's local header (at offset at) and the same
// field of its central directory header, so both tell the same story.
void PatchFirstEntry(std::string& zip, size_t at, const std::string& bytes)
{
    const size_t end = zip.rfind(std::string("PK\x05\x06", 4));
    ASSERT_NE(end, std::string::npos);
    const size_t directory = uint8_t(zip[end + 16]) | uint8_t(zip[end + 17]) << 8;
    zip.replace(at, bytes.size(), bytes);
    zip.replace(directory + at + 2, bytes.size(), bytes);
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

    // An Override for a part that is not there is reported; later entries
    // are still taken.
    const std::string missing = Types(
        "<Override PartName=\"/xl/theme/theme1.xml\" ContentType=\"theme\"/>"
        "<Override PartName=\"/a.xml\" ContentType=\"sheet\"/>");
    p = Open(ZipWriter().Add("[Content_Types].xml", missing).Add("a.xml", "<a/>").Bytes());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->contentTypesError, 0);
    EXPECT_STREQ(PackageGetPartType(p, "a.xml"), "sheet");
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
    PatchFirstEntry(huge, 18, std::string(8, '\xF0'));
    // Compressed size too small: the deflate stream is cut.
    std::string small = good;
    PatchFirstEntry(small, 18, std::string("\x03\0\0\0", 4));
    // Unsupported method.
    std::string method = good;
    PatchFirstEntry(method, 8, std::string("\x63\0", 2));
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
    PatchFirstEntry(bytes, 22, std::string("\x64\0\0\0", 4));
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

namespace {

uint32_t Le32At(const std::string& s, size_t at)
{
    return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
           uint32_t(uint8_t(s[at + 3])) << 24;
}

uint16_t Le16At(const std::string& s, size_t at)
{
    return static_cast<uint16_t>(uint8_t(s[at]) | uint8_t(s[at + 1]) << 8);
}

// The entry names of an archive's central directory, after checking that
// the end record, the directory and each local header it points at agree.
std::vector<std::string> CentralNames(const std::string& zip)
{
    std::vector<std::string> names;
    EXPECT_GE(zip.size(), 22u);
    if (zip.size() < 22)
        return names;
    const size_t end = zip.size() - 22;
    EXPECT_EQ(Le32At(zip, end), 0x06054B50u);
    const uint16_t count = Le16At(zip, end + 10);
    EXPECT_EQ(Le16At(zip, end + 8), count);
    const uint32_t size = Le32At(zip, end + 12), offset = Le32At(zip, end + 16);
    EXPECT_EQ(uint64_t(offset) + size, end);
    size_t at = offset;
    for (uint16_t i = 0; i < count && at + 46 <= end; ++i) {
        EXPECT_EQ(Le32At(zip, at), 0x02014B50u);
        const uint16_t n = Le16At(zip, at + 28);
        const uint32_t local = Le32At(zip, at + 42);
        const std::string name = zip.substr(at + 46, n);
        EXPECT_EQ(Le32At(zip, local), 0x04034B50u) << name;
        EXPECT_EQ(zip.substr(local + 30, n), name);
        // Sizes and CRC of the directory match the local header.
        EXPECT_EQ(zip.substr(local + 14, 12), zip.substr(at + 16, 12)) << name;
        names.push_back(name);
        at += 46 + n;
    }
    EXPECT_EQ(at, end);
    return names;
}

}  // namespace

TEST_F(PackageTest, WrittenBackPackageReadsTheSame)
{
    const std::string types = Types(
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Override PartName=\"/word/document.xml\" ContentType=\"doc/main\"/>");
    ZipEntry described;
    described.name = "word/stored.xml";
    described.data = "<s>stored with a descriptor</s>";
    described.deflate = false;
    described.descriptor = true;
    ZipWriter zip;
    zip.Add("[Content_Types].xml", types)
        .Add("word/", "", false)
        .Add("word/document.xml", "<d>main text</d>")
        .Add(described)
        .Add("word/a%20b.xml", "<a>spaced name</a>")
        .Add("customXml/item1.xml", "<c/>")
        .Add("word/_rels/document.xml.rels",
             Rels("<Relationship Id=\"rId2\" Type=\"t/custom\" Target=\"../customXml/item1.xml\"/>"
                  "<Relationship Id=\"rId1\" Type=\"t/stored\" Target=\"stored.xml\"/>"
                  "<Relationship Id=\"rId3\" Type=\"t/link\" Target=\"http://x/?a=1&amp;b=&quot;2&quot;\" "
                  "TargetMode=\"External\"/>"))
        .Add("_rels/.rels", Rels("<Relationship Id=\"r\" Type=\"t/doc\" Target=\"word/document.xml\"/>"));
    const std::string path = dir_.file("written.docx");
    ASSERT_TRUE(ps_test::WriteFileBytes(path, zip.Bytes()));

    auto snapshot = [](OpcPackage* p) {
        std::string s;
        for (const char* n = PackageFirstPart(p); n; n = PackageNextPart(p, n)) {
            const char* t = PackageGetPartType(p, n);
            s += std::string(n) + " [" + (t ? t : "-") + "]\n";
        }
        for (const char* owner : {"", "word/document.xml"}) {
            for (const OpcRelationship& r : *PackageGetRelationships(p, owner))
                s += r.id + " " + r.type + " " + (r.external ? "ext " : "int ") + r.target + "\n";
        }
        return s;
    };
    OpcPackage* p = PackageOpen(plat::Utf8ToWide(path).c_str(), 0, nullptr);
    ASSERT_NE(p, nullptr);
    const std::string before = snapshot(p);
    PackageClose(p, 0);

    p = PackageOpen(plat::Utf8ToWide(path).c_str(), 2, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(snapshot(p), before);
    EXPECT_EQ(PackageClose(p, 0), 0);

    std::string written = ps_test::ReadFileBytes(path);
    std::vector<std::string> names = CentralNames(written);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"[Content_Types].xml", "_rels/.rels", "customXml/item1.xml",
                                               "word/_rels/document.xml.rels", "word/a%20b.xml", "word/document.xml",
                                               "word/stored.xml"}));
    // Another ZIP client finds every entry sound.
    if (access("/usr/bin/7z", X_OK) == 0) {
        EXPECT_EQ(ps_test::RunQuietly({"/usr/bin/7z", "t", path}), 0);
    }
    p = PackageOpen(plat::Utf8ToWide(path).c_str(), 0, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(snapshot(p), before);
    EXPECT_EQ(PartText(p, "word/document.xml"), "main text");
    EXPECT_EQ(PartText(p, "word/stored.xml"), "stored with a descriptor");
    EXPECT_EQ(PartText(p, "word/a b.xml"), "spaced name");
    EXPECT_EQ(p->contentTypesError, 0);
    EXPECT_EQ(p->relationshipsError, 0);
    PackageClose(p, 0);
    EXPECT_NE(before.find("http://x/?a=1&b=\"2\""), std::string::npos);
    EXPECT_NE(before.find("int customXml/item1.xml"), std::string::npos);
}

TEST_F(PackageTest, CreatedPackageHoldsItsContentTypesOnly)
{
    // Mode 1 empties an existing file; another write mode creates a missing one.
    const std::string path = dir_.file("created.xlsx");
    ASSERT_TRUE(ps_test::WriteFileBytes(path, ZipWriter().Add("a.xml", "<a/>").Bytes()));
    OpcPackage* p = PackageOpen(plat::Utf8ToWide(path).c_str(), 1, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(PackageFirstPart(p), nullptr);
    EXPECT_EQ(PackageClose(p, 1), 0);
    std::string written = ps_test::ReadFileBytes(path);
    EXPECT_EQ(CentralNames(written), std::vector<std::string>{"[Content_Types].xml"});

    const std::string fresh = dir_.file("fresh.pptx");
    p = PackageOpen(plat::Utf8ToWide(fresh).c_str(), 2, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(PackageClose(p, 0), 0);
    written = ps_test::ReadFileBytes(fresh);
    EXPECT_EQ(CentralNames(written), std::vector<std::string>{"[Content_Types].xml"});
    p = PackageOpen(plat::Utf8ToWide(fresh).c_str(), 0, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(PackageFirstPart(p), nullptr);
    EXPECT_EQ(p->contentTypesError, 0);
    PackageClose(p, 0);
    // A folder that does not exist cannot hold a new package.
    EXPECT_EQ(PackageOpen(plat::Utf8ToWide(dir_.file("no/such/folder.docx")).c_str(), 2, nullptr), nullptr);
}

TEST_F(PackageTest, WriteBackOfADamagedArchiveFailsAndChangesNothing)
{
    // The archive is cut in the last entry's data: it does not open for
    // writing (or, were it opened, the close would fail), and nothing is
    // written.
    std::string bytes = ZipWriter()
                            .Add("[Content_Types].xml", Types("<Default Extension=\"xml\" ContentType=\"a/b\"/>"))
                            .Add("a.xml", "<a>some text that is long enough</a>", false)
                            .Bytes();
    bytes.resize(bytes.find("some text") + 4);
    const std::string path = dir_.file("cut.docx");
    ASSERT_TRUE(ps_test::WriteFileBytes(path, bytes));
    OpcPackage* p = PackageOpen(plat::Utf8ToWide(path).c_str(), 2, nullptr);
    if (p) {
        EXPECT_NE(PackageClose(p, 0), 0);
    }
    EXPECT_EQ(ps_test::ReadFileBytes(path), bytes);
}

TEST(OpcZip, FreeListTakesEachSegmentOnce)
{
    OpcZip zip;
    const int32_t a = zip.CreateSegment("a.xml", 0);
    const int32_t b = zip.CreateSegment("b.xml", 0);
    zip.FreeSegment(a);
    zip.FreeSegment(b);
    zip.FreeSegment(a);  // already free
    zip.FreeSegment(-1);
    zip.FreeSegment(7);
    std::vector<int32_t> list;
    for (int32_t i = zip.freeHead; i >= 0 && list.size() < 4; i = zip.segments[i].nextFree)
        list.push_back(i);
    EXPECT_EQ(list, (std::vector<int32_t>{b, a}));
}

TEST(OpcZip, WrittenNamesAndTargets)
{
    EXPECT_EQ(OpcEncodeName("word/a b%.xml"), "word/a%20b%25.xml");
    EXPECT_EQ(OpcEncodeName("x/\xEA\xB0\x80.xml"), "x/%EA%B0%80.xml");
    EXPECT_EQ(OpcEncodeName("!$&'()*+,-.:;=@[]_~/Az09"), "!$&'()*+,-.:;=@[]_~/Az09");
    EXPECT_EQ(OpcDecodeName("x/%EA%B0%80.xml", 15), "x/\xEA\xB0\x80.xml");
    EXPECT_EQ(OpcRelationshipsName("word/document.xml"), "word/_rels/document.xml.rels");
    EXPECT_EQ(OpcRelationshipsName("a.xml"), "_rels/a.xml.rels");
    EXPECT_EQ(OpcRelationshipsName(""), "_rels/.rels");
    const struct {
        const char* source;
        const char* target;
        const char* relative;
    } cases[] = {
        {"word/document.xml", "word/media/a.png", "media/a.png"},
        {"word/document.xml", "customXml/item1.xml", "../customXml/item1.xml"},
        {"", "word/document.xml", "word/document.xml"},
        {"a/b/c.xml", "a/d/e.xml", "../d/e.xml"},
        {"ab/c.xml", "a/x.xml", "../a/x.xml"},
        {"a/b/c.xml", "top.xml", "../../top.xml"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PackageRelativeTarget(c.source, c.target), c.relative) << c.source << " " << c.target;
        EXPECT_EQ(PackageResolveTarget(c.source, PackageRelativeTarget(c.source, c.target)), c.target);
    }
    const std::vector<OpcRelationship> rels = {{"rId1", "t<&>", true, "http://x/?q=\"'"}, {"rId2", "t", false, "b/c.xml"}};
    EXPECT_EQ(PackageRelationshipsXml("a/doc.xml", rels),
              "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
              "<Relationship Id=\"rId1\" Type=\"t&lt;&amp;&gt;\" TargetMode=\"External\" "
              "Target=\"http://x/?q=&quot;&apos;\"/><Relationship Id=\"rId2\" Type=\"t\" Target=\"../b/c.xml\"/>"
              "</Relationships>");
}

namespace {

// Writes data into the part's segment (created when it has none) through a
// write stream, in pieces of the given size; the part keeps its segment.
void WritePart(OpcPackage* p, const std::string& name, const std::string& data, uint16_t method, size_t piece)
{
    OpcPart& part = p->parts[name];
    if (part.firstSegment < 0)
        part.firstSegment = p->zip.CreateSegment(OpcEncodeName(name), 0);
    ASSERT_GE(part.firstSegment, 0);
    OpcWriteStream stream(&p->zip, part.firstSegment);
    ASSERT_TRUE(stream.Open(method, 0));
    for (size_t at = 0; at < data.size(); at += piece)
        ASSERT_TRUE(stream.Write(data.data() + at, std::min(piece, data.size() - at)));
    ASSERT_TRUE(stream.Close());
    part.firstSegment = part.lastSegment = stream.Segment();
}

std::string Filler(const char* word, int count)
{
    std::string s = "<r>";
    for (int i = 0; i < count; ++i)
        s += std::string("<w>") + word + std::to_string(i * 7919 % 1000) + "</w>";
    return s + "</r>";
}

}  // namespace

// Part data written through write streams: new segments go after the last
// one, the last one grows in place, an earlier one that outgrows its room
// moves to the end; the archive passes another ZIP client's test with and
// without trimming, and reads back the same.
TEST_F(PackageTest, PartsWrittenThroughStreams)
{
    const std::string first = Filler("a", 40), second = Filler("b", 3000), bigger = Filler("c", 5000);
    for (int trim : {0, 1}) {
        const std::string path = dir_.file("streams" + std::to_string(trim) + ".docx");
        OpcPackage* p = PackageOpen(plat::Utf8ToWide(path).c_str(), 1, nullptr);
        ASSERT_NE(p, nullptr);
        WritePart(p, "word/document.xml", first, 8, 100);
        const int32_t firstSegment = p->parts["word/document.xml"].firstSegment;
        // The last segment grows in place, stored or deflated, in small and large pieces.
        WritePart(p, "word/stored data.xml", second, 0, 333);
        const int32_t storedSegment = p->parts["word/stored data.xml"].firstSegment;
        EXPECT_GT(p->zip.segments[storedSegment].totalSize, second.size());
        WritePart(p, "word/styles.xml", second, 8, 70000);
        // Rewriting the first part with more than its room moves it to the end.
        WritePart(p, "word/document.xml", bigger, 0, 4096);
        EXPECT_NE(p->parts["word/document.xml"].firstSegment, firstSegment);
        EXPECT_TRUE(p->zip.segments[firstSegment].flags & 1);
        EXPECT_EQ(p->zip.NextLive(p->parts["word/document.xml"].firstSegment), -1);
        p->extensions["xml"] = "application/xml";
        EXPECT_EQ(PackageClose(p, trim), 0);

        const std::string bytes = ps_test::ReadFileBytes(path);
        std::vector<std::string> names = CentralNames(bytes);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"[Content_Types].xml", "word/document.xml", "word/stored%20data.xml",
                                                   "word/styles.xml"}));
        if (access("/usr/bin/7z", X_OK) == 0) {
            EXPECT_EQ(ps_test::RunQuietly({"/usr/bin/7z", "t", path}), 0) << "trim " << trim;
        }
        p = PackageOpen(plat::Utf8ToWide(path).c_str(), 0, nullptr);
        ASSERT_NE(p, nullptr);
        auto text = [](const std::string& xml) { return std::regex_replace(xml, std::regex("<[^>]*>"), ""); };
        EXPECT_EQ(PartText(p, "word/document.xml"), text(bigger));
        EXPECT_EQ(PartText(p, "word/stored data.xml"), text(second));
        EXPECT_EQ(PartText(p, "word/styles.xml"), text(second));
        EXPECT_STREQ(PackageGetPartType(p, "word/styles.xml"), "application/xml");
        PackageClose(p, 0);
        if (trim) {
            // Trimmed: no gap is left, the file is the sum of its records.
            size_t sum = 22;
            for (const std::string& n : names)
                sum += 46 + n.size();
            OpcPackage* q = PackageOpen(plat::Utf8ToWide(path).c_str(), 0, nullptr);
            ASSERT_NE(q, nullptr);
            for (const OpcSegment& s : q->zip.segments)
                sum += s.totalSize;
            PackageClose(q, 0);
            EXPECT_EQ(bytes.size(), sum);
        }
    }
}

// Written back, an archive whose entries are tight keeps every entry's data
// where it was; a part whose data changes is rewritten in place or moved.
TEST_F(PackageTest, WriteBackInPlace)
{
    ZipEntry padded{"word/document.xml", "<d>main text</d>", true, false, true,
                    std::string("\x20\xA2\x24\x00\x28\xA0\x00\x01", 8) + std::string(32, '\0')};
    const std::string original = ZipWriter()
                                     .Add(padded)
                                     .Add("word/media/a.bin", std::string(3000, 'q'), false)
                                     .Add("[Content_Types].xml", Types("<Default Extension=\"xml\" ContentType=\"x/y\"/>"))
                                     .Bytes();
    const std::string path = dir_.file("inplace.docx");
    ASSERT_TRUE(ps_test::WriteFileBytes(path, original));
    OpcPackage* p = PackageOpen(plat::Utf8ToWide(path).c_str(), 2, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(PackageClose(p, 0), 0);
    const std::string written = ps_test::ReadFileBytes(path);
    // The media entry's data has not moved.
    const size_t media = original.find(std::string(3000, 'q'));
    EXPECT_EQ(written.find(std::string(3000, 'q')), media);
    if (access("/usr/bin/7z", X_OK) == 0) {
        EXPECT_EQ(ps_test::RunQuietly({"/usr/bin/7z", "t", path}), 0);
    }
    p = PackageOpen(plat::Utf8ToWide(path).c_str(), 0, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(PartText(p, "word/document.xml"), "main text");
    EXPECT_STREQ(PackageGetPartType(p, "word/document.xml"), "x/y");
    PackageClose(p, 0);
}

namespace {

// Damage of the archive or of a part's data is noted (with its reason) when
// the package opens or the part is read to its end; a healthy package notes
// none.
TEST_F(PackageTest, DamageIsNotedWithItsReason)
{
    const std::string good = ZipWriter().Add("a.xml", "<a>text</a>").Add("b.xml", "<b>more</b>", false).Bytes();
    auto patched = [&](size_t at, uint32_t value, int width, bool both) {
        std::string bytes = good;
        std::string field;
        for (int i = 0; i < width; ++i)
            field += static_cast<char>((value >> (8 * i)) & 0xFF);
        if (both)
            PatchFirstEntry(bytes, at, field);
        else
            bytes.replace(at, field.size(), field);
        return bytes;
    };
    const uint32_t crc = Le32At(good, 14);
    const uint32_t size = Le32At(good, 22);
    std::string fewer = good;
    const size_t end = fewer.rfind(std::string("PK\x05\x06", 4));
    fewer[end + 8] = fewer[end + 10] = 1;
    struct Case {
        const char* what;
        std::string bytes;
        const char* part;
        const char* reason;  // null: no damage
    };
    const Case cases[] = {
        {"healthy", good, "a.xml", nullptr},
        {"CRC-32 that the data does not give", patched(14, crc ^ 4, 4, true), "a.xml", "검사값 불일치"},
        {"deflated data shorter than its size", patched(22, size + 3, 4, true), "a.xml", "압축 스트림 손상"},
        {"local CRC-32 other than the directory's", patched(14, crc ^ 4, 4, false), nullptr, "로컬 헤더 불일치"},
        {"end record counting fewer entries", fewer, nullptr, "디렉터리 항목 수 불일치"},
        {"cut before the end record", good.substr(0, good.size() - 30), nullptr, "구조가 끝나지 않음"},
    };
    for (const Case& c : cases) {
        plat::DamageScope damage;
        OpcPackage* p = Open(c.bytes);
        if (p && c.part)
            PartText(p, c.part);
        if (p)
            PackageClose(p, 0);
        if (c.reason)
            EXPECT_STREQ(damage.Reason(), c.reason) << c.what;
        else
            EXPECT_FALSE(damage.Damaged()) << c.what << ": " << damage.Reason();
    }
}

// Relationships and Overrides naming parts the package does not hold (or
// holds only as a relationships entry, or above its root) are recorded and
// passed over: the entries after them are taken.
TEST_F(PackageTest, MissingPartsAreRecorded)
{
    ZipWriter zip;
    zip.Add("[Content_Types].xml", Types("<Override PartName=\"/gone.xml\" ContentType=\"t/gone\"/>"
                                         "<Override PartName=\"/a.xml\" ContentType=\"t/a\"/>"))
        .Add("a.xml", "<a/>")
        .Add("_rels/only.xml.rels", Rels(""))
        .Add("_rels/a.xml.rels", Rels("<Relationship Id=\"r1\" Type=\"k/missing\" Target=\"gone.xml\"/>"
                                      "<Relationship Id=\"r2\" Type=\"k/only\" Target=\"only.xml\"/>"
                                      "<Relationship Id=\"r3\" Type=\"k/above\" Target=\"../a.xml\"/>"
                                      "<Relationship Id=\"r4\" Type=\"k/self\" Target=\"a.xml\"/>"
                                      // Links left without an address, as some writers save them.
                                      "<Relationship Id=\"r5\" Type=\"k/empty\" Target=\"\"/>"
                                      "<Relationship Id=\"r6\" Type=\"k/link\" Target=\"\" "
                                      "TargetMode=\"External\"/>"
                                      "<Relationship Id=\"r7\" Type=\"k/after\" Target=\"a.xml\"/>"));
    plat::DamageScope damage;
    OpcPackage* p = Open(zip.Bytes());
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(damage.Damaged()) << damage.Reason();
    EXPECT_STREQ(PackageGetPartType(p, "a.xml"), "t/a");
    std::vector<std::string> missing;
    for (const OpcMissingPart& m : p->missingParts)
        missing.push_back(m.relationshipType.empty() ? "type " + m.contentType + " " + m.part
                                                     : m.source + " " + m.relationshipType + " " + m.part);
    EXPECT_EQ(missing, (std::vector<std::string>{"type t/gone gone.xml", "a.xml k/missing gone.xml",
                                                 "a.xml k/only only.xml", "a.xml k/above a.xml",
                                                 "a.xml k/empty "}));
    const auto* rels = PackageGetRelationships(p, "a.xml");
    ASSERT_NE(rels, nullptr);
    std::vector<std::string> taken;
    for (const OpcRelationship& r : *rels)
        taken.push_back(r.id + (r.external ? " external " : " ") + r.target);
    EXPECT_EQ(taken, (std::vector<std::string>{"r4 a.xml", "r6 external ", "r7 a.xml"}));
    PackageClose(p, 0);
}

}  // namespace
