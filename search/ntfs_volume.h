// NTFS volumes read through their master file table (the $MFT), over any
// file descriptor: the block device behind a mount, or an image file.
//
// A volume is opened (boot sector), its table's own record is loaded
// (LoadMFT), the table is parsed into one small entry per record (ParseMFT),
// and the files are listed from the entries, their folders rebuilt from the
// chain of parent records (ListFiles, SearchFiles). Every structure read from
// the volume is treated as hostile: sizes, offsets, run lists and parent
// chains are bounded by the bytes really present.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/text.h"

namespace search {

// Values of NtfsVolume::status().
constexpr uint32_t kNtfsStatusShort = 0;            // boot sector not read whole
constexpr uint32_t kNtfsStatusNtfs = 1;             // an NTFS boot sector with a sound geometry
constexpr uint32_t kNtfsStatusNotNtfs = 0xFF99FF99;  // anything else

// Record header flags.
constexpr uint16_t kMftRecordInUse = 0x0001;
constexpr uint16_t kMftRecordDirectory = 0x0002;

// Record number of the root folder.
constexpr uint64_t kMftRootRecord = 5;

// True when the 512 bytes hold an NTFS boot sector ("NTFS" at 0x03).
bool IsNtfsBootSector(const uint8_t* sector512);

// Names of one volume, packed into 1 MiB blocks (no allocation per name).
// Addresses handed out stay valid until Reset() or destruction.
class NamePool {
public:
    static constexpr size_t kBlockSize = 1048576;

    // Stores n characters and a terminating NUL; null when no memory is left.
    const char16_t* Alloc(const char16_t* name, size_t n);
    // Keeps the blocks but empties them.
    void Reset();
    size_t blockCount() const { return blocks_.size(); }

private:
    struct Block {
        std::unique_ptr<char16_t[]> memory;
        size_t used = 0;  // in characters
    };
    std::vector<Block> blocks_;
    size_t current_ = 0;
};

// One entry per table record, at the index equal to the record number.
struct MftEntry {
    const char16_t* name = nullptr;  // in the volume's name pool; null: no usable name
    uint64_t parentRecord = 0;       // parent folder's record number
    uint64_t dataSize = 0;           // size of the unnamed data stream
    uint64_t lastWriteTime = 0;      // FILETIME, from the standard information
    uint16_t nameLength = 0;         // characters
    uint16_t flags = 0;              // record header flags
    uint16_t sequence = 0;           // the record's sequence number
    uint16_t parentSequence = 0;     // sequence number in the parent reference
};

// A file listed from the table.
struct MftFile {
    plat::WString path;          // relative to the volume root, '/'-separated: u"Docs/a.pdf"
    uint64_t size = 0;           // from the table
    uint64_t lastWriteTime = 0;  // FILETIME, from the table
    uint64_t record = 0;
};

// A file listed from the table and confirmed through the mounted file system.
struct MftFoundFile {
    plat::WString fullPath;      // mount point + relative path, as found on disk
    uint64_t size = 0;           // from the file system, never 0
    uint64_t lastWriteTime = 0;  // FILETIME from st_mtim
};

// A run of the table's data: `length` clusters from virtual cluster `vcn`,
// at cluster `lcn`, or sparse (no clusters on the volume) when lcn is -1.
struct MftRun {
    uint64_t vcn = 0;
    int64_t lcn = -1;
    uint64_t length = 0;
};

// Returns true when the work is to stop (checked between chunks and files).
using StopCheck = std::function<bool()>;

class NtfsVolume {
public:
    // Opens a device or image read-only and reads its boot sector; null when
    // it cannot be opened. The volume's status tells whether it is NTFS.
    static std::unique_ptr<NtfsVolume> Open(const std::string& devicePath);
    // Same over an open descriptor, which the volume takes over.
    static std::unique_ptr<NtfsVolume> FromFd(int fd);

    ~NtfsVolume();
    NtfsVolume(const NtfsVolume&) = delete;
    NtfsVolume& operator=(const NtfsVolume&) = delete;

    uint32_t status() const { return status_; }
    uint32_t clusterSize() const { return clusterSize_; }
    uint32_t mftRecordSize() const { return mftRecordSize_; }
    uint64_t mftOffset() const { return mftOffset_; }
    uint64_t volumeBytes() const { return volumeBytes_; }

    // Loads the table's own record (record 0): its data runs and size.
    // Returns the table's data size, 0 on failure (not NTFS, a damaged or
    // unsupported first record, such as one with an attribute list).
    uint64_t LoadMFT();
    bool mftLoaded() const { return mftLoaded_; }
    uint64_t mftDataSize() const { return mftDataSize_; }
    uint64_t mftRecordTotal() const { return mftRecordTotal_; }
    const std::vector<MftRun>& mftRuns() const { return runs_; }

    // Reads the whole table into the entries. Records that are damaged stay
    // empty entries; numbering follows the table, also across sparse runs and
    // records split between two runs. False when stopped or not loaded.
    bool ParseMFT(const StopCheck& stop = {});
    // Drops the entries and reads the table again (first record included).
    bool ReparseDisk(const StopCheck& stop = {});

    uint64_t recordCount() const { return recordCount_; }
    uint64_t namedRecordCount() const { return namedRecordCount_; }
    const MftEntry* entry(uint64_t record) const;

    // Folder of a record relative to the root, each folder followed by '/'
    // (empty for a record in the root). False when the chain of parents does
    // not reach the root: a missing, free or unnamed parent, a stale parent
    // reference, a cycle, or a chain deeper than kMaxDepth.
    static constexpr int kMaxDepth = 256;
    bool BuildParentPath(uint64_t record, plat::WString& folder) const;

    // Lists, from the table alone, the in-use files (not folders) whose name
    // carries one of the extensions (upper case, without dot) and whose data
    // size is above 0. The sink returns false to end the listing.
    // Returns false when stopped.
    bool ListFiles(const std::vector<plat::WString>& extensions,
                   const std::function<bool(const MftFile&)>& sink,
                   const StopCheck& stop = {}) const;

    // The table is a candidate list for a mounted volume: every in-use,
    // named record with a listed extension is confirmed on the file system
    // under mountRoot (a regular file, size above 0), which also gives its
    // size and last-write time. Files deleted or renamed since the table was
    // read are not reported. A name that is no regular file there (a pipe,
    // socket or device; a link in a loop, to nothing, or to no document or
    // folder) goes to notRegular with the reason the user reads, when given;
    // a link to a document or a folder is passed over (what it leads to is
    // listed where it lies). Returns false when stopped.
    using NotRegularSink = std::function<void(const plat::WString& fullPath, const char16_t* reason)>;
    bool SearchFiles(const plat::WString& mountRoot,
                     const std::vector<plat::WString>& extensions,
                     const std::function<bool(const MftFoundFile&)>& sink,
                     const StopCheck& stop = {}, const NotRegularSink& notRegular = {}) const;

private:
    explicit NtfsVolume(int fd);
    void ReadBootSector();
    size_t ReadAt(uint64_t offset, uint8_t* buffer, size_t size) const;
    bool DecodeRuns(const uint8_t* attr, size_t attrLength);
    void FillVirtual(uint64_t vbyte, uint8_t* buffer, size_t size) const;
    void ParseRecord(uint8_t* record, uint64_t number);
    bool GrowEntries(uint64_t size);
    template <typename Visit>
    bool ForEachCandidate(const std::vector<plat::WString>& extensions, const StopCheck& stop,
                          Visit&& visit) const;

    int fd_ = -1;
    uint32_t status_ = kNtfsStatusShort;
    uint8_t bootSector_[512] = {};
    uint32_t bytesPerSector_ = 0;
    uint32_t clusterSize_ = 0;
    uint32_t mftRecordSize_ = 0;
    uint64_t mftOffset_ = 0;
    uint64_t volumeBytes_ = 0;

    bool mftLoaded_ = false;
    uint64_t mftDataSize_ = 0;
    uint64_t mftRecordTotal_ = 0;
    std::vector<MftRun> runs_;

    uint64_t recordCount_ = 0;
    uint64_t namedRecordCount_ = 0;
    std::vector<MftEntry> entries_;
    NamePool namePool_;
};

// Applies the update-sequence fix-ups of a multi-sector record in place
// (512-byte stride). False, leaving the record unusable, when the array does
// not fit the record or a sector's last word does not carry the sequence
// number (a torn or damaged record).
bool ApplyFixups(uint8_t* record, size_t size);

// True when the name's extension (after its last dot, compared in upper
// case) is in the sorted list of upper-case extensions.
bool HasListedExtension(plat::WStringView name, const std::vector<plat::WString>& sortedExtensions);

}  // namespace search
