#include <gtest/gtest.h>

#include "core/records.h"

#include <string>

// The mask bits are not in kind order; the two mappings must be inverse.
TEST(Records, MaskBitsAndKindCodes)
{
    struct Case { PersonalInfoMask bit; int32_t kind; };
    const Case cases[] = {
        {0x01, kPersonalInfoResidentNumber}, {0x02, kPersonalInfoCreditCard}, {0x04, kPersonalInfoAccount},
        {0x08, kPersonalInfoPhoneNumber},    {0x10, kPersonalInfoAddress},    {0x20, kPersonalInfoEMail},
        {0x40, kPersonalInfoIpAddress},
    };
    PersonalInfoMask all = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(KindOfMaskBit(c.bit), c.kind) << c.bit;
        EXPECT_EQ(MaskBitOfKind(c.kind), c.bit) << c.kind;
        all |= c.bit;
    }
    EXPECT_EQ(all, kMaskAllKinds);
    EXPECT_EQ(KindOfMaskBit(0x80), -1);
    EXPECT_EQ(KindOfMaskBit(0x03), -1);
    EXPECT_EQ(MaskBitOfKind(7), 0u);
    EXPECT_EQ(MaskBitOfKind(-1), 0u);
    EXPECT_EQ(kPersonalInfoAccount, 1);
    EXPECT_EQ(kPersonalInfoCreditCard, 2);
}

TEST(Records, CountsAndRecordsStartEmpty)
{
    PersonalInfoCounts counts;
    EXPECT_EQ(counts.Total(), 0);
    counts[kPersonalInfoPhoneNumber] += 2;
    counts[kPersonalInfoIpAddress] = 1;
    EXPECT_EQ(counts.Total(), 3);
    EXPECT_EQ(counts.count[3], 2);
    counts.Clear();
    EXPECT_EQ(counts, PersonalInfoCounts{});

    SearchFileInfo r;
    EXPECT_TRUE(r.path.empty() && r.documentKey.empty());
    EXPECT_EQ(r.fileSize, 0u);
    EXPECT_EQ(r.fromEventStore, 0u);
    EXPECT_EQ(r.fileIndex, 0);
}

// The file name and the folder are read from the path, whatever its length.
TEST(Records, FileNameAndFolderArePartsOfThePath)
{
    struct Case { std::u16string path, name, folder; };
    const std::u16string deep = u"/" + std::u16string(300, u'd') + u"/" + std::u16string(250, u'n') + u".hwp";
    const Case cases[] = {
        {u"/home/user/a.hwp", u"a.hwp", u"/home/user"},
        {u"/a.hwp", u"a.hwp", u"/"},
        {u"a.hwp", u"a.hwp", u""},
        {u"/home/user/", u"", u"/home/user"},
        {deep, std::u16string(250, u'n') + u".hwp", u"/" + std::u16string(300, u'd')},
    };
    for (const auto& c : cases) {
        SearchFileInfo r;
        r.path = c.path;
        EXPECT_EQ(r.FileName(), c.name);
        EXPECT_EQ(r.Folder(), c.folder);
    }
}

// Folder and name as the event store keeps them give one path, whose parts
// are what a record made from that path has.
TEST(Records, FolderAndNameJoinWithOneSeparator)
{
    struct Case { std::u16string folder, name, path, partFolder; };
    const Case cases[] = {
        {u"/home/user", u"a.hwp", u"/home/user/a.hwp", u"/home/user"},
        {u"/", u"a.hwp", u"/a.hwp", u"/"},
        {u"/home/user/", u"a.hwp", u"/home/user/a.hwp", u"/home/user"},
        {u"", u"a.hwp", u"/a.hwp", u"/"},
    };
    for (const auto& c : cases) {
        SearchFileInfo r;
        r.path = u"/old/path.pdf";
        r.SetFolderAndName(c.folder, c.name);
        EXPECT_EQ(r.path, c.path);
        EXPECT_EQ(r.FileName(), c.name);
        EXPECT_EQ(r.Folder(), c.partFolder);
    }
}

// A key's text comes back exactly as it was given, whether it is held as a
// digest or as text, and two keys are equal exactly when their texts are.
TEST(Records, DocumentKeyKeepsItsText)
{
    const std::u16string digest = u"00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF";
    const std::u16string texts[] = {
        digest,
        u"",
        u"KEY0",
        // not a digest: lower case, one digit short or long, a letter past F
        u"00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF",
        digest.substr(1),
        digest + u"0",
        u"G" + digest.substr(1),
    };
    for (const auto& t : texts) {
        const DocumentKey k(t);
        EXPECT_EQ(k.Text(), t);
        EXPECT_EQ(k.empty(), t.empty());
        EXPECT_EQ(k.digest() != nullptr, t == digest);
        for (const auto& u : texts)
            EXPECT_EQ(k == DocumentKey(u), t == u);
    }
    DocumentKey::Digest bytes{};
    bytes[0] = 0x00;
    bytes[1] = 0x9F;
    bytes[31] = 0xA0;
    const DocumentKey made = DocumentKey::FromDigest(bytes);
    EXPECT_EQ(made.Text(), u"009F" + std::u16string(58, u'0') + u"A0");
    EXPECT_EQ(DocumentKey(made.Text()), made);
    DocumentKey cleared = made;
    cleared.clear();
    EXPECT_TRUE(cleared.empty());
    EXPECT_EQ(cleared.Text(), u"");
}
