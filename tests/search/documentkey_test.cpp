#include <gtest/gtest.h>

#include "search/session.h"

#include <string>

namespace {

// Stored results and exceptions are found by the key: its text must never
// change. SHA-256 of "path_size_time_mask" in code page 949, the mask written
// as a signed 32-bit number.
TEST(DocumentKeyText, IsPinned)
{
    SearchFileInfo record;
    record.path = u"/home/u/문서/a.hwp";
    record.fileSize = 1234;
    record.lastWriteTime = 133000000000000000ULL;
    const struct {
        PersonalInfoMask mask;
        const char16_t* key;
    } cases[] = {
        {0xFFFF, u"205662ACE912840C09F73AA67234571844CBC916ACC76F31F2340683C01FF3B4"},
        {kMaskAllKinds, u"D6E976023E8801DC631463C26C795B22640241CF6B5EEF1D8B3E8B7872BD68EC"},
        // "_-2147483648"
        {0x80000000u, u"1BD651D82CE5E39F4A015F909D972266AE6D5E10E98DB4D0CA37E7B81B5D85CD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MakeDocumentKey(record, c.mask), c.key) << c.mask;
        EXPECT_EQ(DocumentKeyOf(record, c.mask).Text(), c.key) << c.mask;
    }
}

}  // namespace
