// NTFS images for the table-reader tests and benchmarks, made with the
// ntfs-3g tools (mkntfs, ntfscp, ntfsls) and, for nested folders, libntfs-3g.
// No mounting. Everything reports absence so that callers can skip.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ps_test {

// Full path of an installed program (PATH, /usr/sbin, /sbin), or "".
std::string FindProgram(const std::string& name);

// Runs a program without a shell; its standard output goes to *out when
// given. Returns the exit status, or -1 when it could not run.
int RunProgram(const std::vector<std::string>& argv, std::string* out = nullptr);

// True when libntfs-3g was linked in (nested folders can be made).
bool HaveNtfsLibrary();

// True when mkntfs and ntfsls are installed (and ntfscp or the library).
bool HaveNtfsTools();

// A file or folder to put into an image. Paths are relative, '/'-separated,
// UTF-8; folders are made as needed. lastWriteTime 0 keeps the current time.
struct ImageEntry {
    std::string path;
    uint64_t size = 0;
    bool folder = false;
    uint64_t lastWriteTime = 0;  // FILETIME
};

// Formats a plain file of `bytes` bytes as NTFS (mkntfs -F -Q). Extra
// arguments go to mkntfs (e.g. {"-c", "512"}).
bool MakeNtfsImage(const std::string& image, uint64_t bytes, const std::vector<std::string>& extra = {});

// Puts the entries into the image: with libntfs-3g when linked in, else with
// ntfscp (root-level files only; false for anything else).
bool PopulateNtfsImage(const std::string& image, const std::vector<ImageEntry>& entries);

// What `ntfsls -R -l -F` sees: every file (not folder) with its size, paths
// relative to the root. Empty with ok = false when it failed.
struct ListedFile {
    std::string path;
    uint64_t size = 0;
    bool operator<(const ListedFile& o) const { return path < o.path; }
    bool operator==(const ListedFile& o) const { return path == o.path && size == o.size; }
};
std::vector<ListedFile> NtfslsFiles(const std::string& image, bool* ok);

}  // namespace ps_test
