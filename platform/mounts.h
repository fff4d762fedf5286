// The mount table: one reader of /proc/self/mountinfo for every caller that
// lists drives (the engine's drive classification, the folder trees), so
// that they agree on what is mounted where.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// The live mount table of this process.
inline constexpr const char* kMountInfoPath = "/proc/self/mountinfo";

// One line of the mount table:
//   id parent major:minor root mount-point options [optional...] - type source super-options
// Text fields are unescaped and native (bytes, usually UTF-8).
struct MountEntry {
    uint32_t major = 0, minor = 0;  // st_dev of the files on this mount
    std::string root;               // the folder of the file system that is mounted
    std::string mountPoint;         // absolute
    std::string fsType;             // "ext4", "fuse.sshfs", ...
    std::string source;             // "/dev/sda1", "server:/export", "none", ...
};

// Undoes the table's escapes: a backslash and three octal digits (\040 space,
// \011 tab, \012 newline, \134 backslash) stand for that byte. A backslash
// followed by anything else stays as it is.
std::string UnescapeMountField(std::string_view field);

// Parses mount-table text. Lines that do not have the fields above, whose
// device number is not "major:minor" or whose mount point is not absolute
// are left out; the rest keep their order.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// The text of a mount table (kMountInfoPath unless a test gives another
// file); empty when it cannot be read.
std::string ReadMountInfoText(const std::string& path = kMountInfoPath);

// ParseMountInfo(ReadMountInfoText(path)).
std::vector<MountEntry> ReadMountTable(const std::string& path = kMountInfoPath);

}  // namespace plat
