#include <gtest/gtest.h>

#include "core/records.h"

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
