// Drive classification: which mounted file systems a whole-computer search
// covers, and how. The drives are the mounts of the mount table
// (/proc/self/mountinfo), one per device; sysfs tells the bus (USB), the
// removable flag and the kind of device. Fixed drives that are not on USB and
// hold NTFS are read through their master file table when their device can be
// opened and the table loaded; every other fixed or removable drive is walked
// by directory; optical, network, RAM and pseudo file systems are not
// searched.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mounts.h"
#include "platform/text.h"
#include "search/ntfs_volume.h"

namespace search {

// Kinds of drive, numbered as the trace names them.
enum class DriveType : int {
    Unknown = 0,    // "DRIVE_UNKNOWN": pseudo file systems, read-only images, anything else
    NoRootDir = 1,  // "DRIVE_NO_ROOT_DIR"
    Removable = 2,  // "DRIVE_REMOVABLE"
    Fixed = 3,      // "DRIVE_FIXED"
    Remote = 4,     // "DRIVE_REMOTE"
    CdRom = 5,      // "DRIVE_CDROM"
    RamDisk = 6,    // "DRIVE_RAMDISK"
};
const char16_t* DriveTypeName(DriveType type);

// Whether the file-system type says NTFS.
enum class NtfsHint { No, Yes, BootSector /* the type does not tell: read the boot sector */ };

// The mount table is read by the platform layer (platform/mounts.h).
using plat::MountEntry;
using plat::ParseMountInfo;

// A drive: one mounted device (or device-less file system).
struct DriveInfo {
    plat::WString rootPath;    // the mount point, UTF-16 ("/", "/media/kim/USB")
    std::string mountPoint;    // the same, native
    std::string fsType;
    std::string source;
    uint32_t major = 0, minor = 0;  // of the mount (st_dev of its files)
    std::string blockDevice;   // kernel name of the block device ("sda2"), empty when none
    std::string devicePath;    // device node for raw reads ("/dev/sda2"), empty when none
    DriveType type = DriveType::Unknown;
    bool usb = false;          // attached through USB
    bool removableFlag = false;
    bool floppy = false;
    NtfsHint ntfs = NtfsHint::No;
};

// Classifies every mount of the table, one drive per device: of several
// mounts of one device the first that mounts its whole file system is kept.
// sysfsRoot is "/sys" on a live system; devRoot prefixes device nodes.
std::vector<DriveInfo> ListDrives(std::string_view mountInfoText, const std::string& sysfsRoot,
                                  const std::string& devRoot = "/dev");

// Where CheckDrives gets its facts; tests feed fixtures.
struct DriveEnvironment {
    std::string mountInfo;         // the mount table's text
    std::string sysfsRoot = "/sys";
    std::string devRoot = "/dev";
    // Opens a device for raw reads (boot sector read); null when it cannot
    // be opened. Default: NtfsVolume::Open.
    std::function<std::unique_ptr<NtfsVolume>(const std::string& devicePath)> openVolume;
};

// The live system: the mount table (plat::ReadMountInfoText), /sys, /dev.
DriveEnvironment SystemDriveEnvironment();

// Raw-read volumes of the engine, by drive root. Each holds its loaded first
// table record; the MFT walker parses it (ParseMFT, or ReparseDisk when it
// was parsed in an earlier search).
using VolumeMap = std::map<plat::WString, std::unique_ptr<NtfsVolume>>;

// Results of CheckDrives.
constexpr int kAllDrivesNtfs = 0;   // "ALL_DRIVERS_NTFS": every counted drive is raw-read (or none counted)
constexpr int kSomeDrivesNtfs = 1;  // "DRIVERS_NTFS"
constexpr int kNoDriveNtfs = 2;     // "DRIVERS_NOT_NTFS"

// Classifies the drives: raw-read NTFS volumes go into `volumes` (replacing
// the volume held for the same root; volumes of roots not raw-read this time
// are released), the drives to walk by directory are appended to
// `otherDrives`. A fixed drive whose device cannot be opened, or whose table
// cannot be loaded, is walked by directory. Counted drives are the fixed
// drives and the removable ones that are not floppies. Trace lines go to the
// search log.
int CheckDrives(const DriveEnvironment& env, std::vector<DriveInfo>& otherDrives, VolumeMap& volumes);

}  // namespace search
