// The mount-table reader: escapes, odd and broken lines, reading a table
// from a file.
#include <gtest/gtest.h>

#include "platform/mounts.h"
#include "support/isolation.h"

namespace {

TEST(MountTable, FieldEscapes)
{
    const struct {
        const char* field;
        std::string want;
    } cases[] = {
        {"/media/USB\\040DISK", "/media/USB DISK"},
        {"/a\\011b", "/a\tb"},
        {"/a\\012b", "/a\nb"},
        {"/a\\134b", "/a\\b"},
        {"/a\\134040", "/a\\040"},  // an escaped backslash does not start another escape
        {"\\040\\040", "  "},
        {"/end\\040", "/end "},     // at the very end of the field
        {"/x\\04", "/x\\04"},       // too short
        {"/x\\", "/x\\"},
        {"/x\\089", "/x\\089"},     // 8 and 9 are not octal digits
        {"/x\\400", "/x\\400"},     // above one byte
        {"/x\\377", "/x\xff"},
        {"/x\\000y", std::string("/x\0y", 4)},
        {"/x\\n", "/x\\n"},
        {"/\xea\xb0\x80", "/\xea\xb0\x80"},  // other bytes pass as they are
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        EXPECT_EQ(plat::UnescapeMountField(c.field), c.want);
    }
}

TEST(MountTable, LinesKeptAndLinesLeftOut)
{
    const struct {
        const char* line;
        bool kept;
        const char* mountPoint;
    } cases[] = {
        {"21 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw", true, "/"},
        {"22 1 8:1 / /x rw shared:1 master:2 propagate_from:3 - ext4 /dev/sda1 rw", true, "/x"},
        {"23 1 8:1 / /media/a\\040b rw - vfat /dev/sdb1 rw", true, "/media/a b"},
        {"24 1 8:1 / /no-super rw - ext4 /dev/sda1", true, "/no-super"},
        {"25 1 8:1 / /crlf rw - ext4 /dev/sda1 rw\r", true, "/crlf"},
        {"26  1  8:1  /  /spaces  rw  -  ext4  /dev/sda1  rw", true, "/spaces"},
        {"27 1 8:1 / /with\rcr rw - ext4 /dev/sda1 rw", true, "/with\rcr"},  // a raw CR is part of the name
        {"28 1 8:1 / /- rw - ext4 /dev/sda1 rw", true, "/-"},
        {"", false, ""},
        {"garbage", false, ""},
        {"1 2 3", false, ""},
        {"- - -", false, ""},
        {"30 1 8 / /y rw - ext4 /dev/sda1 rw", false, ""},            // no minor
        {"31 1 :1 / /y rw - ext4 /dev/sda1 rw", false, ""},           // no major
        {"32 1 x:1 / /y rw - ext4 /dev/sda1 rw", false, ""},
        {"33 1 8:1x / /y rw - ext4 /dev/sda1 rw", false, ""},
        {"34 1 4294967296:1 / /y rw - ext4 /dev/sda1 rw", false, ""},  // beyond 32 bits
        {"35 1 8:1 / /y rw ext4 /dev/sda1 rw", false, ""},             // no separator
        {"36 1 8:1 / /y rw - ext4", false, ""},                        // no source
        {"37 1 8:1 / relative rw - ext4 /dev/sda1 rw", false, ""},
        {"38 1 8:1 / \\040/y rw - ext4 /dev/sda1 rw", false, ""},      // starts with a space, not "/"
        {"39 1 8:1 - /y - ext4 /dev/sda1 rw", false, ""},              // a "-" among the fixed fields
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto mounts = plat::ParseMountInfo(c.line);
        ASSERT_EQ(mounts.size(), c.kept ? 1u : 0u);
        if (c.kept) {
            EXPECT_EQ(mounts[0].mountPoint, c.mountPoint);
        }
    }
}

TEST(MountTable, FieldsAndOrderOfATable)
{
    const auto mounts = plat::ParseMountInfo(
        "40 22 8:1 /sub\\040dir /a\\134b\\011c rw - fuse.sshfs me@host:/x\\040y rw\n"
        "garbage\n"
        "\n"
        "41 22 4294967295:0 / /big rw - ext4 /dev/sda2 rw\n"
        "46 22 0:99 / /end\\040 rw - tmpfs tmpfs rw");  // no final newline
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[0].major, 8u);
    EXPECT_EQ(mounts[0].minor, 1u);
    EXPECT_EQ(mounts[0].root, "/sub dir");
    EXPECT_EQ(mounts[0].mountPoint, "/a\\b\tc");
    EXPECT_EQ(mounts[0].fsType, "fuse.sshfs");
    EXPECT_EQ(mounts[0].source, "me@host:/x y");
    EXPECT_EQ(mounts[1].major, 4294967295u);
    EXPECT_EQ(mounts[2].mountPoint, "/end ");
    EXPECT_EQ(mounts[2].minor, 99u);
}

TEST(MountTable, ReadFromAFile)
{
    ps_test::TempDir dir;
    const std::string text = "21 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n"
                              "27 21 8:17 / /media/kim/USB\\040DISK rw - vfat /dev/sdb1 rw\n";
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("mountinfo"), text));
    EXPECT_EQ(plat::ReadMountInfoText(dir.file("mountinfo")), text);
    const auto mounts = plat::ReadMountTable(dir.file("mountinfo"));
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[1].mountPoint, "/media/kim/USB DISK");

    EXPECT_EQ(plat::ReadMountInfoText(dir.file("missing")), "");
    EXPECT_TRUE(plat::ReadMountTable(dir.file("missing")).empty());
    EXPECT_TRUE(plat::ReadMountTable(dir.path()).empty());  // a folder is no table

    // The live table: every process has a root mount.
    const auto live = plat::ReadMountTable();
    if (live.empty()) GTEST_SKIP() << "no mount table";
    bool root = false;
    for (const auto& m : live) root = root || m.mountPoint == "/";
    EXPECT_TRUE(root);
}

}  // namespace
