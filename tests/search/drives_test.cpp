// Drive classification over mount tables and sysfs trees made in the test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "ntfs_synth.h"
#include "platform/system.h"
#include "platform/text.h"
#include "search/drives.h"
#include "support/isolation.h"

namespace {

using search::DriveInfo;
using search::DriveType;
using search::NtfsHint;

// A sysfs tree: devices under /devices, reached through /dev/block/M:m and
// /class/block/NAME links, as the kernel lays them out.
class FakeSysfs {
public:
    FakeSysfs() : root_(dir_.path() + "/sys") {}
    const std::string& root() const { return root_; }

    // Adds a disk at `devicePath` (below /devices) with its partitions.
    void Disk(const std::string& devicePath, const std::string& name, uint32_t major, uint32_t minor,
              bool removable, int partitions = 0) {
        std::string disk = root_ + "/devices/" + devicePath + "/block/" + name;
        if (devicePath.empty()) disk = root_ + "/devices/virtual/block/" + name;
        Dir(disk);
        ps_test::WriteFileBytes(disk + "/removable", removable ? "1\n" : "0\n");
        Link(disk, name, major, minor);
        for (int p = 1; p <= partitions; ++p) {
            std::string pname = name + (std::isdigit(static_cast<unsigned char>(name.back())) ? "p" : "") +
                                std::to_string(p);
            std::string part = disk + "/" + pname;
            Dir(part);
            ps_test::WriteFileBytes(part + "/partition", std::to_string(p) + "\n");
            Link(part, pname, major, minor + p);
        }
    }

private:
    void Dir(const std::string& path) { plat::MakeDirs(plat::PathFromNative(path)); }
    void Link(const std::string& target, const std::string& name, uint32_t major, uint32_t minor) {
        Dir(root_ + "/dev/block");
        Dir(root_ + "/class/block");
        ::symlink(target.c_str(), (root_ + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor)).c_str());
        ::symlink(target.c_str(), (root_ + "/class/block/" + name).c_str());
    }

    ps_test::TempDir dir_;
    std::string root_;
};

// The machine of the tests: an NVMe system disk, a SATA disk with NTFS, a
// USB hard disk with NTFS, a USB stick with FAT, an optical drive, a floppy,
// a loop device with a squashfs image, and a few file systems without a disk.
void MakeMachine(FakeSysfs& s) {
    s.Disk("pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0", "nvme0n1", 259, 0, false, 3);
    s.Disk("pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", "sda", 8, 0, false, 2);
    s.Disk("pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0", "sdb", 8, 16, false, 1);
    s.Disk("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host7/target7:0:0/7:0:0:0", "sdc", 8, 32, true, 1);
    s.Disk("pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0", "sr0", 11, 0, true);
    s.Disk("platform/floppy.0", "fd0", 2, 0, true);
    s.Disk("", "loop3", 7, 3, false);
    s.Disk("pci0000:00/0000:00:17.0/ata3/host2/target2:0:0/2:0:0:0", "sdd", 8, 48, false, 1);
}

const char* kMountInfo =
    "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n"
    "23 22 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
    "24 22 0:22 / /sys rw,nosuid shared:2 - sysfs sysfs rw\n"
    "25 24 0:23 / /sys/fs/cgroup rw shared:3 - cgroup2 cgroup2 rw\n"
    "26 22 0:5 / /dev rw shared:4 - devtmpfs udev rw,size=8000000k\n"
    "27 22 0:25 / /run rw shared:5 - tmpfs tmpfs rw\n"
    "28 22 259:1 / /boot/efi rw shared:6 - vfat /dev/nvme0n1p1 rw\n"
    "29 22 8:2 / /mnt/data rw shared:7 - ntfs3 /dev/sda2 rw\n"
    "30 22 0:60 / /media/kim/Backup rw shared:8 - fuseblk /dev/sdb1 rw,user_id=0\n"
    "31 22 8:33 / /media/kim/STICK\\040A rw shared:9 - vfat /dev/sdc1 rw\n"
    "32 22 11:0 / /media/kim/CDROM ro shared:10 - iso9660 /dev/sr0 ro\n"
    "33 22 0:50 / /net/home rw shared:11 - nfs4 server:/export/home rw\n"
    "34 22 7:3 / /snap/core/123 ro shared:13 - squashfs /dev/loop3 ro\n"
    "35 22 259:2 /home/shared /srv/shared rw shared:1 - ext4 /dev/nvme0n1p2 rw\n"
    "36 22 0:61 / /mnt/fuse-ntfs rw shared:14 - fuseblk /dev/sdd1 rw\n"
    "37 22 2:0 / /media/floppy rw shared:15 - vfat /dev/fd0 rw\n"
    "38 22 0:62 / /mnt/remote rw shared:16 - fuse.sshfs kim@host:/ rw\n"
    "39 22 0:63 / /mnt/ram rw shared:17 - ramfs none rw\n";

struct Expect {
    const char* mountPoint;
    DriveType type;
    bool usb;
    NtfsHint ntfs;
    const char* device;  // "" for none
};

TEST(Drives, ClassifiesTheMountTable) {
    FakeSysfs sys;
    MakeMachine(sys);
    auto drives = search::ListDrives(kMountInfo, sys.root(), "/dev");
    const Expect expected[] = {
        {"/", DriveType::Fixed, false, NtfsHint::No, "/dev/nvme0n1p2"},
        {"/proc", DriveType::Unknown, false, NtfsHint::No, ""},
        {"/sys", DriveType::Unknown, false, NtfsHint::No, ""},
        {"/sys/fs/cgroup", DriveType::Unknown, false, NtfsHint::No, ""},
        {"/dev", DriveType::Unknown, false, NtfsHint::No, ""},
        {"/run", DriveType::RamDisk, false, NtfsHint::No, ""},
        {"/boot/efi", DriveType::Fixed, false, NtfsHint::No, "/dev/nvme0n1p1"},
        {"/mnt/data", DriveType::Fixed, false, NtfsHint::Yes, "/dev/sda2"},
        {"/media/kim/Backup", DriveType::Fixed, true, NtfsHint::BootSector, "/dev/sdb1"},
        {"/media/kim/STICK A", DriveType::Removable, true, NtfsHint::No, "/dev/sdc1"},
        {"/media/kim/CDROM", DriveType::CdRom, false, NtfsHint::No, "/dev/sr0"},
        {"/net/home", DriveType::Remote, false, NtfsHint::No, ""},
        {"/snap/core/123", DriveType::Unknown, false, NtfsHint::No, "/dev/loop3"},
        // /srv/shared is a second mount of the system disk: one drive per device.
        {"/mnt/fuse-ntfs", DriveType::Fixed, false, NtfsHint::BootSector, "/dev/sdd1"},
        {"/media/floppy", DriveType::Removable, false, NtfsHint::No, "/dev/fd0"},
        {"/mnt/remote", DriveType::Remote, false, NtfsHint::No, ""},
        {"/mnt/ram", DriveType::RamDisk, false, NtfsHint::No, ""},
    };
    ASSERT_EQ(drives.size(), std::size(expected));
    for (size_t i = 0; i < drives.size(); ++i) {
        const DriveInfo& d = drives[i];
        const Expect& e = expected[i];
        SCOPED_TRACE(e.mountPoint);
        EXPECT_EQ(d.mountPoint, e.mountPoint);
        EXPECT_EQ(d.rootPath, plat::PathFromNative(e.mountPoint));
        EXPECT_EQ(d.type, e.type);
        EXPECT_EQ(d.usb, e.usb);
        EXPECT_EQ(d.ntfs, e.ntfs);
        EXPECT_EQ(d.devicePath, e.device);
    }
    EXPECT_TRUE(drives[14].floppy);
    EXPECT_EQ(drives[0].major, 259u);
    EXPECT_EQ(drives[0].minor, 2u);
}

TEST(Drives, MountTableParsing) {
    auto mounts = search::ParseMountInfo(
        "40 22 8:1 / /a\\134b\\011c rw - ext4 /dev/sda1 rw\n"
        "41 22 8:1 / /x rw shared:1 master:2 - ext4 /dev/sda1 rw\n"  // two optional fields
        "garbage\n"
        "42 22 8 / /y rw - ext4 /dev/sda1 rw\n"          // no minor
        "43 22 8:1 / /z rw ext4 /dev/sda1 rw\n"          // no separator
        "44 22 8:1 / relative rw - ext4 /dev/sda1 rw\n"  // not a path
        "45 22 x:1 / /w rw - ext4 /dev/sda1 rw\n"
        "\n"
        "46 22 0:99 / /end\\040 rw - tmpfs tmpfs rw");  // no final newline
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[0].mountPoint, "/a\\b\tc");
    EXPECT_EQ(mounts[1].mountPoint, "/x");
    EXPECT_EQ(mounts[1].fsType, "ext4");
    EXPECT_EQ(mounts[1].source, "/dev/sda1");
    EXPECT_EQ(mounts[2].mountPoint, "/end ");
    EXPECT_EQ(mounts[2].major, 0u);
    EXPECT_EQ(mounts[2].minor, 99u);
}

TEST(Drives, BindMountBeforeTheWholeFileSystem) {
    FakeSysfs sys;
    MakeMachine(sys);
    auto drives = search::ListDrives(
        "50 1 8:2 /sub /bind rw - ntfs3 /dev/sda2 rw\n"
        "51 1 8:2 / /whole rw - ntfs3 /dev/sda2 rw\n"
        "52 1 8:2 / /again rw - ntfs3 /dev/sda2 rw\n",
        sys.root());
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].mountPoint, "/whole");
}

TEST(Drives, StackedDevicesAndCardReaders) {
    FakeSysfs sys;
    MakeMachine(sys);
    // An encrypted volume on the USB disk, one on the system disk, an SD card.
    sys.Disk("", "dm-0", 254, 0, false);
    sys.Disk("", "dm-1", 254, 1, false);
    ::mkdir((sys.root() + "/devices/virtual/block/dm-0/slaves").c_str(), 0755);
    ::symlink((sys.root() + "/class/block/sdb1").c_str(), (sys.root() + "/devices/virtual/block/dm-0/slaves/sdb1").c_str());
    ::mkdir((sys.root() + "/devices/virtual/block/dm-1/slaves").c_str(), 0755);
    ::symlink((sys.root() + "/class/block/nvme0n1p3").c_str(), (sys.root() + "/devices/virtual/block/dm-1/slaves/nvme0n1p3").c_str());
    sys.Disk("platform/soc/mmc_host/mmc0/mmc0:aaaa", "mmcblk0", 179, 0, false, 1);
    plat::MakeDirs(plat::PathFromNative(sys.root() + "/devices/platform/soc/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0/device"));
    ps_test::WriteFileBytes(sys.root() + "/devices/platform/soc/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0/device/type", "SD\n");
    sys.Disk("platform/soc/mmc_host/mmc1/mmc1:bbbb", "mmcblk1", 179, 8, false, 1);
    plat::MakeDirs(plat::PathFromNative(sys.root() + "/devices/platform/soc/mmc_host/mmc1/mmc1:bbbb/block/mmcblk1/device"));
    ps_test::WriteFileBytes(sys.root() + "/devices/platform/soc/mmc_host/mmc1/mmc1:bbbb/block/mmcblk1/device/type", "MMC\n");
    auto drives = search::ListDrives(
        "60 1 254:0 / /usb-crypt rw - ext4 /dev/mapper/usbcrypt rw\n"
        "61 1 254:1 / /home rw - ext4 /dev/mapper/home rw\n"
        "62 1 179:1 / /media/sd rw - exfat /dev/mmcblk0p1 rw\n"
        "63 1 179:9 / /emmc rw - ext4 /dev/mmcblk1p1 rw\n"
        "64 1 0:70 / /docker rw - overlay overlay rw\n",
        sys.root());
    ASSERT_EQ(drives.size(), 5u);
    EXPECT_EQ(drives[0].type, DriveType::Fixed);
    EXPECT_TRUE(drives[0].usb);
    EXPECT_EQ(drives[1].type, DriveType::Fixed);
    EXPECT_FALSE(drives[1].usb);
    EXPECT_EQ(drives[2].type, DriveType::Removable);
    EXPECT_EQ(drives[3].type, DriveType::Fixed);
    EXPECT_EQ(drives[4].type, DriveType::Fixed);  // a container's root: walked by directory
    EXPECT_TRUE(drives[4].devicePath.empty());
}

// CheckDrives over the machine above, with the devices' contents given by
// the test: which are raw-read, which are walked, and the result.
class CheckDrivesTest : public testing::Test {
protected:
    void SetUp() override {
        MakeMachine(sys_);
        ps_test::SynthVolume good;
        good.AddFile(20, u"a.pdf", 10);
        ntfs_ = good.Build();
        ps_test::SynthVolume listed = good;
        listed.attributeListInMft = true;
        attrList_ = listed.Build();
    }

    // Devices opened, in order; the contents of each by path ("" : cannot open).
    std::vector<std::string> opened_;
    std::map<std::string, std::string> devices_;

    int Check(const std::string& mountInfo, std::vector<DriveInfo>& others, search::VolumeMap& volumes) {
        search::DriveEnvironment env;
        env.mountInfo = mountInfo;
        env.sysfsRoot = sys_.root();
        env.openVolume = [this](const std::string& path) -> std::unique_ptr<search::NtfsVolume> {
            opened_.push_back(path);
            auto it = devices_.find(path);
            if (it == devices_.end() || it->second.empty()) return nullptr;
            std::string file = dir_.file("dev" + std::to_string(opened_.size()));
            ps_test::WriteFileBytes(file, it->second);
            return search::NtfsVolume::Open(file);
        };
        return search::CheckDrives(env, others, volumes);
    }

    static std::vector<std::string> Roots(const std::vector<DriveInfo>& drives) {
        std::vector<std::string> out;
        for (const DriveInfo& d : drives) out.push_back(d.mountPoint);
        return out;
    }

    FakeSysfs sys_;
    ps_test::TempDir dir_;
    std::string ntfs_, attrList_;
};

TEST_F(CheckDrivesTest, WholeMachine) {
    devices_["/dev/sda2"] = ntfs_;
    devices_["/dev/sdd1"] = std::string(8192, '\0');  // fuseblk, but not NTFS after all
    std::vector<DriveInfo> others;
    search::VolumeMap volumes;
    EXPECT_EQ(Check(kMountInfo, others, volumes), search::kSomeDrivesNtfs);
    // Only the fixed drives not on USB whose type does not rule NTFS out are
    // opened, each once.
    EXPECT_EQ(opened_, (std::vector<std::string>{"/dev/sda2", "/dev/sdd1"}));
    ASSERT_EQ(volumes.size(), 1u);
    ASSERT_TRUE(volumes.count(u"/mnt/data"));
    EXPECT_TRUE(volumes[u"/mnt/data"]->mftLoaded());
    EXPECT_EQ(volumes[u"/mnt/data"]->recordCount(), 0u);  // parsed later by the walker
    EXPECT_EQ(Roots(others), (std::vector<std::string>{"/", "/boot/efi", "/media/kim/Backup",
                                                       "/media/kim/STICK A", "/mnt/fuse-ntfs"}));
}

TEST_F(CheckDrivesTest, Results) {
    const std::string nvme = "1 0 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n";
    const std::string sata = "2 1 8:2 / /mnt/data rw - ntfs3 /dev/sda2 rw\n";
    const std::string usbNtfs = "3 1 0:60 / /media/Backup rw - fuseblk /dev/sdb1 rw\n";
    const std::string stick = "4 1 8:33 / /media/STICK rw - vfat /dev/sdc1 rw\n";
    const std::string floppy = "5 1 2:0 / /media/floppy rw - vfat /dev/fd0 rw\n";
    const std::string fat32 = "6 1 8:49 / /mnt/fat rw - vfat /dev/sdd1 rw\n";
    const std::string cd = "7 1 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\n";
    const std::string nfs = "8 1 0:50 / /net rw - nfs server:/x rw\n";
    const std::string tmp = "9 1 0:25 / /tmp rw - tmpfs tmpfs rw\n";
    const std::string snap = "10 1 7:3 / /snap/x ro - squashfs /dev/loop3 ro\n";
    struct Case {
        const char* what;
        std::string table;
        int result;
        std::vector<std::string> others;
    } cases[] = {
        {"NTFS system disk only", sata, search::kAllDrivesNtfs, {}},
        {"NTFS and a floppy", sata + floppy, search::kAllDrivesNtfs, {}},
        {"NTFS and a stick", sata + stick, search::kSomeDrivesNtfs, {"/media/STICK"}},
        {"USB disk with NTFS is walked", sata + usbNtfs, search::kSomeDrivesNtfs, {"/media/Backup"}},
        {"only FAT32", fat32, search::kNoDriveNtfs, {"/mnt/fat"}},
        {"ext4 system disk", nvme + stick, search::kNoDriveNtfs, {"/", "/media/STICK"}},
        {"never searched", sata + cd + nfs + tmp + snap, search::kAllDrivesNtfs, {}},
        {"nothing", "", search::kAllDrivesNtfs, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        devices_ = {{"/dev/sda2", ntfs_}, {"/dev/sdb1", ntfs_}, {"/dev/sdd1", ntfs_}};
        std::vector<DriveInfo> others;
        search::VolumeMap volumes;
        EXPECT_EQ(Check(c.table, others, volumes), c.result);
        EXPECT_EQ(Roots(others), c.others);
        EXPECT_EQ(volumes.size(), c.table.find("/dev/sda2") != std::string::npos ? 1u : 0u);
    }
}

TEST_F(CheckDrivesTest, UnreadableOrUnloadableNtfsIsWalked) {
    const std::string table =
        "1 0 8:2 / /mnt/data rw - ntfs3 /dev/sda2 rw\n"
        "2 0 0:61 / /mnt/fuse-ntfs rw - fuseblk /dev/sdd1 rw\n";
    struct Case {
        const char* what;
        std::string sda2, sdd1;
        int result;
        std::vector<std::string> others;
    } cases[] = {
        {"both raw-read", ntfs_, ntfs_, search::kAllDrivesNtfs, {}},
        {"no rights to the device", "", ntfs_, search::kSomeDrivesNtfs, {"/mnt/data"}},
        {"table record with an attribute list", attrList_, ntfs_, search::kSomeDrivesNtfs, {"/mnt/data"}},
        {"neither", "", attrList_, search::kNoDriveNtfs, {"/mnt/data", "/mnt/fuse-ntfs"}},
        {"damaged boot sector", std::string(600, 'x'), ntfs_, search::kSomeDrivesNtfs, {"/mnt/data"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        devices_ = {{"/dev/sda2", c.sda2}, {"/dev/sdd1", c.sdd1}};
        std::vector<DriveInfo> others;
        search::VolumeMap volumes;
        EXPECT_EQ(Check(table, others, volumes), c.result);
        EXPECT_EQ(Roots(others), c.others);
        EXPECT_EQ(volumes.size(), 2 - c.others.size());
    }
}

TEST_F(CheckDrivesTest, VolumesAreReplacedOrReleasedOnTheNextSearch) {
    const std::string both =
        "1 0 8:2 / /mnt/data rw - ntfs3 /dev/sda2 rw\n"
        "2 0 0:61 / /mnt/fuse-ntfs rw - fuseblk /dev/sdd1 rw\n";
    devices_ = {{"/dev/sda2", ntfs_}, {"/dev/sdd1", ntfs_}};
    std::vector<DriveInfo> others;
    search::VolumeMap volumes;
    ASSERT_EQ(Check(both, others, volumes), search::kAllDrivesNtfs);
    ASSERT_EQ(volumes.size(), 2u);
    volumes[u"/mnt/data"]->ParseMFT();
    ASSERT_GT(volumes[u"/mnt/data"]->recordCount(), 0u);

    // Next search: the first is read afresh, the second can no longer be
    // opened and is walked instead, so its old volume goes.
    devices_["/dev/sdd1"] = "";
    others.clear();
    EXPECT_EQ(Check(both, others, volumes), search::kSomeDrivesNtfs);
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes[u"/mnt/data"]->recordCount(), 0u);
    EXPECT_FALSE(volumes.count(u"/mnt/fuse-ntfs"));
    EXPECT_EQ(Roots(others), (std::vector<std::string>{"/mnt/fuse-ntfs"}));
}

// The live system: no crash, every drive has a root, and the file system of
// "/" is searched.
TEST(Drives, LiveSystem) {
    search::DriveEnvironment env = search::SystemDriveEnvironment();
    if (env.mountInfo.empty()) GTEST_SKIP() << "no mount table";
    auto drives = search::ListDrives(env.mountInfo, env.sysfsRoot);
    ASSERT_FALSE(drives.empty());
    for (const DriveInfo& d : drives) EXPECT_EQ(d.rootPath.substr(0, 1), u"/");
    env.openVolume = [](const std::string&) { return nullptr; };  // never read devices here
    std::vector<DriveInfo> others;
    search::VolumeMap volumes;
    int result = search::CheckDrives(env, others, volumes);
    EXPECT_TRUE(volumes.empty());
    EXPECT_TRUE(result == search::kNoDriveNtfs || (others.empty() && result == search::kAllDrivesNtfs));
}

}  // namespace
