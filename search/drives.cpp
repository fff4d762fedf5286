#include "search/drives.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "core/logmgr.h"

namespace search {

namespace {

// File systems that hold no user files.
const std::set<std::string_view> kPseudo = {
    "proc", "sysfs", "devtmpfs", "devpts", "cgroup", "cgroup2", "securityfs", "debugfs", "tracefs",
    "pstore", "bpf", "mqueue", "hugetlbfs", "configfs", "fusectl", "autofs", "binfmt_misc", "efivarfs",
    "selinuxfs", "nsfs", "rpc_pipefs", "nfsd", "rootfs", "ramfs_internal", "sockfs", "pipefs", "anon_inodefs",
};
const std::set<std::string_view> kRam = {"tmpfs", "ramfs"};
const std::set<std::string_view> kNetwork = {
    "nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "ceph", "9p", "coda", "glusterfs", "lustre",
    "beegfs", "davfs", "orangefs", "fuse.sshfs", "fuse.glusterfs", "fuse.rclone", "fuse.s3fs", "fuse.davfs2",
    "fuse.cephfs", "fuse.curlftpfs", "fuse.gvfsd-fuse",
};
const std::set<std::string_view> kOptical = {"iso9660", "udf"};
// Read-only images of software (packages, snaps); never documents.
const std::set<std::string_view> kImages = {"squashfs", "erofs", "cramfs"};
// Local file systems that may have no block device of their own.
const std::set<std::string_view> kDeviceless = {"overlay", "zfs", "btrfs", "bcachefs", "xfs", "ext4", "ext3", "ext2", "f2fs"};
const std::set<std::string_view> kNtfsTypes = {"ntfs", "ntfs3"};

bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

// "fd0", "sr1": a prefix followed by digits only.
bool NameIs(std::string_view name, std::string_view prefix) {
    if (!StartsWith(name, prefix) || name.size() == prefix.size()) return false;
    return std::all_of(name.begin() + prefix.size(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string s(256, '\0');
    in.read(s.data(), std::streamsize(s.size()));
    s.resize(size_t(in.gcount()));
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string Canonical(const std::string& path) {
    char* r = ::realpath(path.c_str(), nullptr);
    if (!r) return {};
    std::string s = r;
    std::free(r);
    return s;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

// A component "usbN" (a USB root hub) on the device's path.
bool PathHasUsb(const std::string& canonical) {
    std::stringstream ss(canonical);
    std::string part;
    while (std::getline(ss, part, '/'))
        if (NameIs(part, "usb")) return true;
    return false;
}

// The device's sysfs folder, its whole-disk folder and what they say.
struct BlockFacts {
    std::string name;
    bool usb = false;
    bool removable = false;
    bool mmcSd = false;
};

// Follows device-mapper and similar stacks down to their disks (bounded).
void CollectFacts(const std::string& canonical, BlockFacts& f, int depth) {
    if (canonical.empty() || depth > 4) return;
    f.usb |= PathHasUsb(canonical);
    std::string disk = Exists(canonical + "/partition") ? Parent(canonical) : canonical;
    if (ReadSmallFile(disk + "/removable") == "1") f.removable = true;
    if (StartsWith(BaseName(disk), "mmcblk") && ReadSmallFile(disk + "/device/type") == "SD") f.mmcSd = true;
    // The devices under a mapped or stacked device, as links in "slaves".
    if (DIR* dir = ::opendir((canonical + "/slaves").c_str())) {
        int n = 0;
        while (dirent* e = ::readdir(dir)) {
            if (e->d_name[0] == '.') continue;
            if (++n > 16) break;
            CollectFacts(Canonical(canonical + "/slaves/" + e->d_name), f, depth + 1);
        }
        ::closedir(dir);
    }
}

bool ResolveBlock(const MountEntry& m, const std::string& sysfs, std::string& canonical) {
    if (m.major != 0) {
        canonical = Canonical(sysfs + "/dev/block/" + std::to_string(m.major) + ":" + std::to_string(m.minor));
        if (!canonical.empty()) return true;
    }
    // File systems in user space (fuseblk) and some others mount a device
    // under an anonymous number: find the device by its name.
    if (StartsWith(m.source, "/dev/") && m.source.find("/mapper/") == std::string::npos) {
        std::string name = BaseName(m.source);
        if (!name.empty() && name != "." && name != "..") {
            canonical = Canonical(sysfs + "/class/block/" + name);
            if (!canonical.empty()) return true;
        }
    }
    canonical.clear();
    return false;
}

NtfsHint HintFor(const std::string& fsType) {
    if (kNtfsTypes.count(fsType)) return NtfsHint::Yes;
    if (fsType == "fuseblk" || fsType == "fuse") return NtfsHint::BootSector;
    return NtfsHint::No;
}

DriveInfo Classify(const MountEntry& m, const std::string& sysfs, const std::string& devRoot) {
    DriveInfo d;
    d.mountPoint = m.mountPoint;
    d.rootPath = plat::PathFromNative(m.mountPoint);
    d.fsType = m.fsType;
    d.source = m.source;
    d.major = m.major;
    d.minor = m.minor;
    d.ntfs = HintFor(m.fsType);

    const std::string& fs = m.fsType;
    if (kPseudo.count(fs)) return d;  // Unknown
    if (kRam.count(fs)) {
        d.type = DriveType::RamDisk;
        return d;
    }
    if (kNetwork.count(fs)) {
        d.type = DriveType::Remote;
        return d;
    }

    std::string canonical;
    if (ResolveBlock(m, sysfs, canonical)) {
        BlockFacts f;
        f.name = BaseName(canonical);
        CollectFacts(canonical, f, 0);
        d.blockDevice = f.name;
        d.devicePath = devRoot + "/" + f.name;
        d.usb = f.usb;
        d.removableFlag = f.removable;
        const std::string& n = f.name;
        if (NameIs(n, "fd")) {
            d.type = DriveType::Removable;
            d.floppy = true;
        } else if (NameIs(n, "sr") || m.major == 11 || kOptical.count(fs)) {
            d.type = DriveType::CdRom;
        } else if (NameIs(n, "ram") || NameIs(n, "zram")) {
            d.type = DriveType::RamDisk;
        } else if (kImages.count(fs)) {
            d.type = DriveType::Unknown;
        } else if (f.removable || f.mmcSd) {
            d.type = DriveType::Removable;
        } else {
            d.type = DriveType::Fixed;  // also a USB disk that calls itself fixed
        }
        return d;
    }

    if (kOptical.count(fs)) {
        d.type = DriveType::CdRom;
    } else if (kDeviceless.count(fs)) {
        d.type = DriveType::Fixed;  // walked by directory
    }
    // Other file systems without a device (fuse.*, images): not searched.
    return d;
}

// The identity of what a mount shows, so that a device is one drive.
std::string DeviceKey(const DriveInfo& d) {
    if (!d.blockDevice.empty()) return "b:" + d.blockDevice;
    if (d.major != 0) return "n:" + std::to_string(d.major) + ":" + std::to_string(d.minor);
    return "s:" + d.fsType + ":" + d.source + ":" + std::to_string(d.minor);
}

}  // namespace

const char16_t* DriveTypeName(DriveType type) {
    switch (type) {
        case DriveType::Unknown: return u"DRIVE_UNKNOWN";
        case DriveType::NoRootDir: return u"DRIVE_NO_ROOT_DIR";
        case DriveType::Removable: return u"DRIVE_REMOVABLE";
        case DriveType::Fixed: return u"DRIVE_FIXED";
        case DriveType::Remote: return u"DRIVE_REMOTE";
        case DriveType::CdRom: return u"DRIVE_CDROM";
        case DriveType::RamDisk: return u"DRIVE_RAMDISK";
    }
    return u"Unknown.";
}

std::vector<DriveInfo> ListDrives(std::string_view mountInfoText, const std::string& sysfsRoot,
                                  const std::string& devRoot) {
    std::vector<MountEntry> mounts = ParseMountInfo(mountInfoText);
    std::vector<DriveInfo> drives;
    std::map<std::string, size_t> byDevice;  // key -> index in drives
    std::vector<bool> whole;
    for (const MountEntry& m : mounts) {
        DriveInfo d = Classify(m, sysfsRoot, devRoot);
        std::string key = DeviceKey(d);
        bool isWhole = m.root == "/";
        auto it = byDevice.find(key);
        if (it == byDevice.end()) {
            byDevice[key] = drives.size();
            drives.push_back(std::move(d));
            whole.push_back(isWhole);
        } else if (isWhole && !whole[it->second]) {
            // A bind mount came first; the whole file system replaces it.
            drives[it->second] = std::move(d);
            whole[it->second] = true;
        }
    }
    return drives;
}

DriveEnvironment SystemDriveEnvironment() {
    DriveEnvironment env;
    env.mountInfo = plat::ReadMountInfoText();
    return env;
}

int CheckDrives(const DriveEnvironment& env, std::vector<DriveInfo>& otherDrives, VolumeMap& volumes) {
    CLogMgr& log = SearchLog();
    auto open = env.openVolume ? env.openVolume
                               : std::function<std::unique_ptr<NtfsVolume>(const std::string&)>(
                                     [](const std::string& p) { return NtfsVolume::Open(p); });
    int counted = 0, ntfs = 0;
    std::set<plat::WString> rawRead;

    for (DriveInfo& d : ListDrives(env.mountInfo, env.sysfsRoot, env.devRoot)) {
        log.Write(u"Check Drive : %s(%s)", d.rootPath.c_str(), DriveTypeName(d.type));
        if (d.type == DriveType::Removable) {
            if (d.floppy) continue;  // neither counted nor searched
            ++counted;
            otherDrives.push_back(std::move(d));
            continue;
        }
        if (d.type != DriveType::Fixed) continue;  // optical, network, RAM, pseudo: not searched
        ++counted;
        if (d.usb || d.ntfs == NtfsHint::No || d.devicePath.empty()) {
            otherDrives.push_back(std::move(d));
            continue;
        }
        plat::WString device = plat::PathFromNative(d.devicePath);
        std::unique_ptr<NtfsVolume> v = open(d.devicePath);
        log.Write(u"devicePath [%s, 0x%08X]", device.c_str(), v ? 1u : 0u);
        if (!v) {
            // Without rights to read the device the drive is still searched.
            otherDrives.push_back(std::move(d));
            continue;
        }
        log.Write(u"CurrentDrive(%s) is not USB Type Connected.", d.rootPath.c_str());
        log.Write(u"OpenDisk Success.");
        log.Write(u"LoadMFT is Start.");
        uint64_t size = v->LoadMFT();
        log.Write(u"LoadMFT is End.");
        if (size > 0 && v->mftLoaded()) {
            ++ntfs;
            rawRead.insert(d.rootPath);
            volumes[d.rootPath] = std::move(v);
            continue;
        }
        otherDrives.push_back(std::move(d));
    }
    // A volume of an earlier search whose drive is not raw-read now (gone,
    // walked by directory) is released, so no drive is listed twice.
    for (auto it = volumes.begin(); it != volumes.end();) {
        if (rawRead.count(it->first))
            ++it;
        else
            it = volumes.erase(it);
    }
    if (ntfs == counted) return kAllDrivesNtfs;
    return ntfs == 0 ? kNoDriveNtfs : kSomeDrivesNtfs;
}

}  // namespace search
