#include "core/controls/shellpidl.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/codec.h"
#include "platform/mounts.h"
#include "platform/text.h"

namespace ps::ui {

namespace {

std::uint16_t ReadCount(PCIDL p)
{
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

void WriteCount(std::uint8_t* p, std::uint16_t v)
{
    std::memcpy(p, &v, 2);
}

}  // namespace

CShellPidl& CShellPidl::operator=(CShellPidl&& o) noexcept
{
    if (this != &o) {
        Free(&pidl_);
        pidl_ = o.pidl_;
        o.pidl_ = nullptr;
    }
    return *this;
}

CShellPidl::~CShellPidl()
{
    Free(&pidl_);
}

void CShellPidl::Reset(PIDL owned)
{
    if (owned == pidl_) return;
    Free(&pidl_);
    pidl_ = owned;
}

void CShellPidl::Free(PIDL* list)
{
    if (!list || !*list) return;
    std::free(*list);
    *list = nullptr;
}

std::size_t CShellPidl::Size(PCIDL list)
{
    if (!list) return 0;
    std::size_t total = 0;
    for (;;) {
        const std::uint16_t cb = ReadCount(list + total);
        if (cb == 0) break;
        if (cb < 2) break;  // a malformed count ends the list
        total += cb;
    }
    return total;
}

int CShellPidl::Count(PCIDL list)
{
    if (!list) return 0;
    int n = 0;
    std::size_t off = 0;
    for (;;) {
        const std::uint16_t cb = ReadCount(list + off);
        if (cb < 2) break;
        off += cb;
        ++n;
    }
    return n;
}

PIDL CShellPidl::Concat(PCIDL a, PCIDL b)
{
    if (!a && !b) return nullptr;
    const std::size_t sa = Size(a), sb = Size(b);
    auto* out = static_cast<std::uint8_t*>(std::malloc(sa + sb + 2));
    if (!out) return nullptr;
    if (sa) std::memcpy(out, a, sa);
    if (sb) std::memcpy(out + sa, b, sb);
    WriteCount(out + sa + sb, 0);
    return out;
}

void CShellPidl::Copy(PIDL* out, PCIDL list)
{
    if (!out) return;
    *out = nullptr;
    if (!list) return;
    const std::size_t n = Size(list) + 2;
    auto* p = static_cast<std::uint8_t*>(std::malloc(n));
    if (!p) return;
    std::memcpy(p, list, n);
    *out = p;
}

PCIDL CShellPidl::LastItem(PCIDL list)
{
    if (!list) return nullptr;
    PCIDL last = nullptr;
    std::size_t off = 0;
    for (;;) {
        const std::uint16_t cb = ReadCount(list + off);
        if (cb < 2) break;
        last = list + off;
        off += cb;
    }
    return last;
}

PIDL CShellPidl::Make(Kind kind, const std::u16string& text)
{
    // count (2) + kind (1) + text; an item is at most 65535 bytes.
    const std::size_t textBytes = std::min<std::size_t>(text.size() * 2, 65532 & ~std::size_t(1));
    const std::size_t cb = 3 + textBytes;
    auto* p = static_cast<std::uint8_t*>(std::malloc(cb + 2));
    if (!p) return nullptr;
    WriteCount(p, static_cast<std::uint16_t>(cb));
    p[2] = kind;
    if (textBytes) std::memcpy(p + 3, text.data(), textBytes);
    WriteCount(p + cb, 0);
    return p;
}

CShellPidl::Kind CShellPidl::ItemKind(PCIDL item)
{
    if (!item || ReadCount(item) < 3) return kFolder;
    return static_cast<Kind>(item[2]);
}

std::u16string CShellPidl::ItemText(PCIDL item)
{
    if (!item) return {};
    const std::uint16_t cb = ReadCount(item);
    if (cb <= 3) return {};
    std::u16string s((cb - 3) / 2, u'\0');
    std::memcpy(s.data(), item + 3, s.size() * 2);
    return s;
}

std::u16string CShellPidl::PathOf(PCIDL list)
{
    if (!list) return {};
    std::u16string path;
    bool onDisk = false;
    std::size_t off = 0;
    for (;;) {
        PCIDL item = list + off;
        const std::uint16_t cb = ReadCount(item);
        if (cb < 2) break;
        switch (ItemKind(item)) {
        case kComputer:
            path.clear();
            onDisk = false;
            break;
        case kDrive:
            path = ItemText(item);
            onDisk = true;
            break;
        case kFolder:
            if (!onDisk) return {};
            if (path.empty() || path.back() != u'/') path += u'/';
            path += ItemText(item);
            break;
        }
        off += cb;
    }
    return onDisk ? path : std::u16string();
}

std::u16string CShellPidl::GetPath(const CShellPidl& holder)
{
    return PathOf(holder.Get());
}

// --- CShellString -----------------------------------------------------------

CShellString::~CShellString()
{
    Clear();
}

STRRET* CShellString::Prepare(PCIDL absoluteList)
{
    Clear();
    PIDL copy = nullptr;
    CShellPidl::Copy(&copy, absoluteList);
    list_.Reset(copy);
    str_.uType = STRRET::kWide;
    return &str_;
}

std::u16string CShellString::GetText() const
{
    switch (str_.uType) {
    case STRRET::kWide:
        return str_.pOleStr ? std::u16string(str_.pOleStr) : std::u16string();
    case STRRET::kOffset: {
        PCIDL base = list_.Get();
        const std::size_t size = CShellPidl::Size(base);
        if (!base || str_.uOffset >= size) return {};
        const char* s = reinterpret_cast<const char*>(base + str_.uOffset);
        const std::size_t n = strnlen(s, size - str_.uOffset);
        return plat::DecodeCodePage(949, std::string_view(s, n));
    }
    case STRRET::kNarrow:
        return plat::DecodeCodePage(949, std::string_view(str_.cStr, strnlen(str_.cStr, sizeof str_.cStr)));
    default:
        return {};
    }
}

void CShellString::Clear()
{
    if (str_.uType == STRRET::kWide && str_.pOleStr) std::free(str_.pOleStr);
    str_ = STRRET{};
}

void GetDisplayNameOf(PCIDL absoluteList, STRRET* out)
{
    if (!out) return;
    std::u16string name;
    PCIDL last = CShellPidl::LastItem(absoluteList);
    if (!last) {
        name = u"바탕 화면";
    } else {
        switch (CShellPidl::ItemKind(last)) {
        case CShellPidl::kComputer: name = ComputerName(); break;
        case CShellPidl::kDrive: {
            const std::u16string path = CShellPidl::ItemText(last);
            for (const DriveEntry& d : ListSearchableDrives())
                if (d.path == path) name = d.label;
            if (name.empty()) name = path;
            break;
        }
        case CShellPidl::kFolder: name = CShellPidl::ItemText(last); break;
        }
    }
    auto* s = static_cast<char16_t*>(std::malloc((name.size() + 1) * sizeof(char16_t)));
    if (!s) return;
    std::memcpy(s, name.c_str(), (name.size() + 1) * sizeof(char16_t));
    out->uType = STRRET::kWide;
    out->pOleStr = s;
}

std::u16string ComputerName()
{
    return u"컴퓨터";
}

// --- Drives --------------------------------------------------------------------

namespace {

// guards: g_testDrives. Taken alone.
std::mutex g_driveLock;
std::vector<DriveEntry> g_testDrives;

bool IsDiskFileSystem(const std::string& type)
{
    static const std::set<std::string> kDisk = {
        "ext2", "ext3", "ext4", "xfs", "btrfs", "vfat", "msdos", "exfat", "ntfs", "ntfs3", "fuseblk",
        "f2fs", "jfs", "reiserfs", "hfs", "hfsplus", "nilfs2", "bcachefs", "zfs", "apfs", "ufs"};
    return kDisk.count(type) != 0;
}

bool StartsWith(const std::string& s, const char* prefix)
{
    const std::size_t n = std::strlen(prefix);
    return s.compare(0, n, prefix) == 0 && (s.size() == n || s[n] == '/');
}

bool IsSystemMountPoint(const std::string& mp)
{
    for (const char* p : {"/boot", "/efi", "/proc", "/sys", "/dev", "/snap", "/var/lib", "/var/snap", "/tmp",
                          "/var/tmp", "/var/log", "/var/cache"})
        if (StartsWith(mp, p)) return true;
    // /run holds system state; removable media mount under /run/media on some systems.
    if (StartsWith(mp, "/run") && !StartsWith(mp, "/run/media")) return true;
    return false;
}

std::u16string LabelFor(const std::string& mp)
{
    if (mp == "/") return u"시스템";
    const std::size_t slash = mp.find_last_of('/');
    return plat::PathFromNative(slash == std::string::npos ? mp : mp.substr(slash + 1));
}

std::u16string LongLabelFor(const std::string& mp)
{
    // Every component, joined by a separator that is not "/" (labels are the
    // components of the trees' "/"-separated paths).
    std::u16string out;
    std::stringstream ss(mp);
    std::string part;
    while (std::getline(ss, part, '/')) {
        if (part.empty()) continue;
        if (!out.empty()) out += u" › ";
        out += plat::PathFromNative(part);
    }
    return out.empty() ? std::u16string(u"시스템") : out;
}

}  // namespace

std::vector<DriveEntry> DrivesFromMountInfo(const std::string& mountinfo)
{
    struct Mount {
        std::string device;  // major:minor and root
        std::string mountPoint;
    };
    std::map<std::string, Mount> byMountPoint;  // a later mount hides an earlier one
    for (const plat::MountEntry& m : plat::ParseMountInfo(mountinfo)) {
        const std::string& fsType = m.fsType;
        const std::string& source = m.source;
        const std::string& mp = m.mountPoint;
        const std::string majMin = std::to_string(m.major) + ":" + std::to_string(m.minor);
        const std::string& root = m.root;
        if (!IsDiskFileSystem(fsType)) {
            byMountPoint.erase(mp);
            continue;
        }
        // Disk file systems sit on block devices; loop devices carry images;
        // floppy disks are not searched.
        if (fsType != "zfs" && (source.rfind("/dev/", 0) != 0 || source.rfind("/dev/loop", 0) == 0 ||
                                source.rfind("/dev/fd", 0) == 0)) {
            byMountPoint.erase(mp);
            continue;
        }
        if (IsSystemMountPoint(mp)) continue;
        byMountPoint[mp] = Mount{majMin + ":" + root, mp};
    }
    // One entry per device and root: a bind mount of the same folder is shown once,
    // at its shortest mount point.
    std::map<std::string, std::string> byDevice;
    for (const auto& [mp, m] : byMountPoint) {
        auto it = byDevice.find(m.device);
        if (it == byDevice.end() || mp.size() < it->second.size()) byDevice[m.device] = mp;
    }
    std::vector<std::string> points;
    for (const auto& [dev, mp] : byDevice) points.push_back(mp);
    std::sort(points.begin(), points.end());
    std::map<std::u16string, int> shortUse;
    for (const std::string& mp : points) ++shortUse[LabelFor(mp)];
    std::vector<DriveEntry> out;
    for (const std::string& mp : points) {
        std::u16string label = LabelFor(mp);
        if (shortUse[label] > 1) label = LongLabelFor(mp);
        out.push_back({label, plat::PathFromNative(mp)});
    }
    return out;
}

std::vector<DriveEntry> ListSearchableDrives()
{
    {
        std::lock_guard<std::mutex> lock(g_driveLock);
        if (!g_testDrives.empty()) return g_testDrives;
    }
    return DrivesFromMountInfo(plat::ReadMountInfoText());
}

void SetDriveListForTesting(std::vector<DriveEntry> drives)
{
    std::lock_guard<std::mutex> lock(g_driveLock);
    g_testDrives = std::move(drives);
}

}  // namespace ps::ui
