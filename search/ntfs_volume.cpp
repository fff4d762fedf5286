#include "search/ntfs_volume.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "core/logmgr.h"
#include "platform/system.h"

namespace search {

namespace {

constexpr uint32_t kAttrStandardInformation = 0x10;
constexpr uint32_t kAttrAttributeList = 0x20;
constexpr uint32_t kAttrFileName = 0x30;
constexpr uint32_t kAttrData = 0x80;
constexpr uint32_t kAttrBitmap = 0xB0;
constexpr uint32_t kAttrEnd = 0xFFFFFFFF;

constexpr uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFULL;
constexpr size_t kFixupStride = 512;
// Bytes of the table read at once at most (1024 clusters, as long as that
// stays within this).
constexpr size_t kMaxChunkBytes = 4u << 20;
// Records between two looks at the stop check.
constexpr uint64_t kStopCheckEvery = 1024;

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint64_t Le64(const uint8_t* p) { return uint64_t(Le32(p)) | (uint64_t(Le32(p + 4)) << 32); }

bool IsPowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool Stopped(const StopCheck& stop) { return stop && stop(); }

void NoteStop() { plat::DebugOutput(u"IS_CANCLED_RETURN_VALUE"); }

// One attribute of a record, bounded by the record's bytes in use.
struct Attr {
    const uint8_t* p = nullptr;
    uint32_t type = 0;
    uint32_t length = 0;
    bool nonResident = false;
    uint8_t nameLength = 0;
    // Resident value (bounded by the attribute), when resident.
    const uint8_t* value = nullptr;
    uint32_t valueLength = 0;
};

// Walks the attributes of a record; visit(attr) returns false to stop.
// An attribute whose length does not fit ends the walk.
template <typename Visit>
void WalkAttributes(const uint8_t* record, size_t bytesInUse, size_t firstAttr, Visit&& visit) {
    size_t pos = firstAttr;
    while (pos + 16 <= bytesInUse) {
        const uint8_t* p = record + pos;
        Attr a;
        a.p = p;
        a.type = Le32(p);
        if (a.type == kAttrEnd) return;
        a.length = Le32(p + 4);
        if (a.length < 16 || a.length > bytesInUse - pos) return;
        a.nonResident = p[8] != 0;
        a.nameLength = p[9];
        if (!a.nonResident) {
            if (a.length >= 0x18) {
                uint32_t vlen = Le32(p + 0x10);
                uint16_t voff = Le16(p + 0x14);
                if (voff <= a.length && vlen <= a.length - voff) {
                    a.value = p + voff;
                    a.valueLength = vlen;
                }
            }
        }
        if (!visit(a)) return;
        pos += a.length;
    }
}

// Record header fields needed before the attributes, validated.
struct RecordHeader {
    uint16_t sequence = 0;
    uint16_t flags = 0;
    size_t firstAttr = 0;
    size_t bytesInUse = 0;
    uint64_t baseRecord = 0;
};

bool ReadHeader(const uint8_t* r, size_t size, RecordHeader& h) {
    if (size < 0x30 || std::memcmp(r, "FILE", 4) != 0) return false;
    h.sequence = Le16(r + 0x10);
    h.firstAttr = Le16(r + 0x14);
    h.flags = Le16(r + 0x16);
    h.bytesInUse = Le32(r + 0x18);
    h.baseRecord = Le64(r + 0x20) & kRecordNumberMask;
    if (h.bytesInUse > size) h.bytesInUse = size;
    if (h.firstAttr < 0x18 || h.firstAttr >= h.bytesInUse) return false;
    return true;
}

}  // namespace

bool IsNtfsBootSector(const uint8_t* s) { return std::memcmp(s + 3, "NTFS", 4) == 0; }

// ---------------------------------------------------------------- name pool

const char16_t* NamePool::Alloc(const char16_t* name, size_t n) {
    const size_t blockChars = kBlockSize / sizeof(char16_t);
    // The slot: the name, its NUL and one more NUL, rounded to 8 bytes.
    size_t slot = ((2 * n + 4 + 7) / 8) * 8 / sizeof(char16_t);
    if (slot > blockChars) return nullptr;
    while (current_ < blocks_.size() && blockChars - blocks_[current_].used < slot) ++current_;
    if (current_ >= blocks_.size()) {
        Block b;
        b.memory.reset(new (std::nothrow) char16_t[blockChars]);
        if (!b.memory) return nullptr;
        try {
            blocks_.push_back(std::move(b));
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        current_ = blocks_.size() - 1;
    }
    Block& b = blocks_[current_];
    char16_t* out = b.memory.get() + b.used;
    std::memcpy(out, name, n * sizeof(char16_t));
    out[n] = 0;
    out[n + 1] = 0;
    b.used += slot;
    return out;
}

void NamePool::Reset() {
    for (Block& b : blocks_) b.used = 0;
    current_ = 0;
}

// ------------------------------------------------------------------ fix-ups

bool ApplyFixups(uint8_t* r, size_t size) {
    if (size < kFixupStride || size % kFixupStride != 0) return false;
    size_t usaOffset = Le16(r + 4);
    size_t usaCount = Le16(r + 6);
    if (usaCount != size / kFixupStride + 1) return false;
    // The array lies in the first sector, before the first word it restores.
    if (usaOffset < 0x08 || usaOffset + 2 * usaCount > kFixupStride - 2) return false;
    uint16_t usn = Le16(r + usaOffset);
    for (size_t i = 1; i < usaCount; ++i) {
        uint8_t* word = r + kFixupStride * i - 2;
        if (Le16(word) != usn) return false;
        std::memcpy(word, r + usaOffset + 2 * i, 2);
    }
    return true;
}

bool HasListedExtension(plat::WStringView name, const std::vector<plat::WString>& exts) {
    size_t dot = name.rfind(u'.');
    if (dot == plat::WStringView::npos) return false;
    plat::WString ext = plat::ToUpperAscii(name.substr(dot + 1));
    return std::binary_search(exts.begin(), exts.end(), ext);
}

// ------------------------------------------------------------------- volume

NtfsVolume::NtfsVolume(int fd) : fd_(fd) {}

NtfsVolume::~NtfsVolume() {
    if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<NtfsVolume> NtfsVolume::Open(const std::string& devicePath) {
    int fd;
    do {
        fd = ::open(devicePath.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    return FromFd(fd);
}

std::unique_ptr<NtfsVolume> NtfsVolume::FromFd(int fd) {
    if (fd < 0) return nullptr;
    std::unique_ptr<NtfsVolume> v(new (std::nothrow) NtfsVolume(fd));
    if (!v) {
        ::close(fd);
        return nullptr;
    }
    v->ReadBootSector();
    return v;
}

size_t NtfsVolume::ReadAt(uint64_t offset, uint8_t* buffer, size_t size) const {
    size_t done = 0;
    while (done < size) {
        if (offset + done > uint64_t(INT64_MAX)) break;
        ssize_t n = ::pread(fd_, buffer + done, size - done, off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (n == 0) break;
        done += size_t(n);
    }
    return done;
}

void NtfsVolume::ReadBootSector() {
    status_ = kNtfsStatusShort;
    if (ReadAt(0, bootSector_, sizeof bootSector_) < sizeof bootSector_) return;
    status_ = kNtfsStatusNotNtfs;
    if (!IsNtfsBootSector(bootSector_)) return;

    const uint8_t* b = bootSector_;
    uint32_t bps = Le16(b + 0x0B);
    if (!IsPowerOfTwo(bps) || bps < 256 || bps > 4096) return;
    uint32_t spcByte = b[0x0D];
    uint64_t spc;
    if (spcByte <= 0x80) {
        spc = spcByte;
    } else {
        uint32_t shift = 256 - spcByte;  // larger clusters: 2^(256 - value) sectors
        if (shift > 12) return;
        spc = uint64_t(1) << shift;
    }
    if (!IsPowerOfTwo(spc)) return;
    uint64_t cluster = bps * spc;
    if (cluster > (2u << 20)) return;  // NTFS clusters are at most 2 MiB

    int8_t recByte = int8_t(b[0x40]);
    uint64_t recSize;
    if (recByte > 0) {
        recSize = uint64_t(recByte) * cluster;
    } else {
        uint32_t shift = uint32_t(-int32_t(recByte));
        if (shift < 9 || shift > 16) return;
        recSize = uint64_t(1) << shift;
    }
    if (!IsPowerOfTwo(recSize) || recSize < 512 || recSize > 65536) return;

    uint64_t mftLcn = Le64(b + 0x30);
    if (mftLcn > (uint64_t(INT64_MAX) / cluster)) return;

    uint64_t totalSectors = Le64(b + 0x28);
    uint64_t bootBytes = totalSectors <= uint64_t(INT64_MAX) / bps ? (totalSectors + 1) * bps : 0;
    uint64_t deviceBytes = 0;
    struct stat st;
    if (::fstat(fd_, &st) == 0) {
        if (S_ISREG(st.st_mode)) {
            deviceBytes = uint64_t(st.st_size);
        } else if (S_ISBLK(st.st_mode)) {
            uint64_t bytes = 0;
            if (::ioctl(fd_, BLKGETSIZE64, &bytes) == 0) deviceBytes = bytes;
        }
    }
    // The bytes really there bound everything read; the boot sector's own
    // count only when the device does not tell.
    volumeBytes_ = deviceBytes ? deviceBytes : bootBytes;

    bytesPerSector_ = bps;
    clusterSize_ = uint32_t(cluster);
    mftRecordSize_ = uint32_t(recSize);
    mftOffset_ = mftLcn * cluster;
    status_ = kNtfsStatusNtfs;
}

bool NtfsVolume::DecodeRuns(const uint8_t* attr, size_t attrLength) {
    runs_.clear();
    if (attrLength < 0x40) return false;
    uint64_t startVcn = Le64(attr + 0x10);
    uint64_t lastVcn = Le64(attr + 0x18);
    size_t pos = Le16(attr + 0x20);
    if (startVcn != 0 || lastVcn == UINT64_MAX || pos >= attrLength) return false;
    const uint64_t totalClusters = volumeBytes_ / clusterSize_;
    uint64_t vcn = 0;
    int64_t lcn = 0;
    while (pos < attrLength && vcn <= lastVcn) {
        uint8_t h = attr[pos];
        if (h == 0) break;
        size_t lenBytes = h & 0x0F;
        size_t offBytes = h >> 4;
        if (lenBytes == 0 || lenBytes > 8 || offBytes > 8 || pos + 1 + lenBytes + offBytes > attrLength)
            return false;
        const uint8_t* q = attr + pos + 1;
        uint64_t length = 0;
        for (size_t i = 0; i < lenBytes; ++i) length |= uint64_t(q[i]) << (8 * i);
        if (length == 0 || length > totalClusters || vcn + length < vcn ||
            vcn + length > UINT64_MAX / clusterSize_)
            return false;
        MftRun run;
        run.vcn = vcn;
        run.length = length;
        if (offBytes == 0) {
            run.lcn = -1;  // sparse
        } else {
            uint64_t delta = 0;
            for (size_t i = 0; i < offBytes; ++i) delta |= uint64_t(q[lenBytes + i]) << (8 * i);
            if (q[lenBytes + offBytes - 1] & 0x80 && offBytes < 8) delta |= ~uint64_t(0) << (8 * offBytes);
            int64_t d = int64_t(delta);
            if ((d > 0 && lcn > INT64_MAX - d) || (d < 0 && lcn < INT64_MIN - d)) return false;
            lcn += d;
            if (lcn < 0 || uint64_t(lcn) >= totalClusters || length > totalClusters - uint64_t(lcn)) return false;
            run.lcn = lcn;
        }
        runs_.push_back(run);
        vcn += length;
        pos += 1 + lenBytes + offBytes;
    }
    return !runs_.empty();
}

uint64_t NtfsVolume::LoadMFT() {
    mftLoaded_ = false;
    runs_.clear();
    mftDataSize_ = 0;
    mftRecordTotal_ = 0;
    if (status_ != kNtfsStatusNtfs) return 0;

    std::vector<uint8_t> rec(mftRecordSize_);
    if (ReadAt(mftOffset_, rec.data(), rec.size()) < rec.size()) return 0;
    if (!ApplyFixups(rec.data(), rec.size())) return 0;
    RecordHeader h;
    if (!ReadHeader(rec.data(), rec.size(), h)) return 0;

    const uint8_t* data = nullptr;
    uint32_t dataLength = 0;
    bool bitmap = false, attributeList = false;
    WalkAttributes(rec.data(), h.bytesInUse, h.firstAttr, [&](const Attr& a) {
        if (a.type == kAttrAttributeList) {
            attributeList = true;
            return false;
        }
        if (a.type == kAttrData && a.nameLength == 0 && a.nonResident && !data) {
            data = a.p;
            dataLength = a.length;
        }
        if (a.type == kAttrBitmap) bitmap = true;
        return true;
    });
    // A table whose own record needs an attribute list is walked by directory.
    if (attributeList || !data || !bitmap) return 0;
    if (dataLength < 0x38 || !DecodeRuns(data, dataLength)) return 0;

    uint64_t dataSize = Le64(data + 0x30);
    uint64_t mapped = 0, stored = 0;
    for (const MftRun& r : runs_) {
        mapped = std::max(mapped, r.vcn + r.length);
        if (r.lcn >= 0) stored += r.length;
    }
    uint64_t total = dataSize / mftRecordSize_;
    // Records beyond the runs or beyond the volume cannot be there; sparse
    // runs may hold at most as many (empty) records as the stored ones, so a
    // run list cannot make the entry table outgrow the data read.
    total = std::min(total, mapped * clusterSize_ / mftRecordSize_);
    total = std::min(total, volumeBytes_ / mftRecordSize_);
    total = std::min(total, 2 * (stored * clusterSize_ / mftRecordSize_));
    if (dataSize == 0 || total == 0) {
        runs_.clear();
        return 0;
    }
    mftDataSize_ = dataSize;
    mftRecordTotal_ = total;
    mftLoaded_ = true;
    return dataSize;
}

void NtfsVolume::FillVirtual(uint64_t vbyte, uint8_t* buffer, size_t size) const {
    size_t done = 0;
    while (done < size) {
        uint64_t pos = vbyte + done;
        uint64_t vcn = pos / clusterSize_;
        // The run holding this cluster (runs are sorted by vcn).
        auto it = std::upper_bound(runs_.begin(), runs_.end(), vcn,
                                   [](uint64_t v, const MftRun& r) { return v < r.vcn; });
        if (it == runs_.begin()) break;
        --it;
        if (vcn >= it->vcn + it->length) break;
        uint64_t runEnd = (it->vcn + it->length) * uint64_t(clusterSize_);
        size_t n = size_t(std::min<uint64_t>(size - done, runEnd - pos));
        if (it->lcn < 0) {
            std::memset(buffer + done, 0, n);
        } else {
            uint64_t phys = uint64_t(it->lcn) * clusterSize_ + (pos - it->vcn * uint64_t(clusterSize_));
            size_t got = ReadAt(phys, buffer + done, n);
            if (got < n) std::memset(buffer + done + got, 0, n - got);
        }
        done += n;
    }
    if (done < size) std::memset(buffer + done, 0, size - done);
}

bool NtfsVolume::ParseMFT(const StopCheck& stop) {
    if (!mftLoaded_) return false;
    CLogMgr& log = SearchLog();
    log.Write(u"ReadMFTParse Start.");
    entries_.clear();
    recordCount_ = 0;
    namedRecordCount_ = 0;
    namePool_.Reset();
    // The entry table grows with the records read.
    entries_.reserve(size_t(std::min<uint64_t>(mftRecordTotal_, 1u << 16)));

    size_t chunkRecords = std::max<size_t>(1, std::min<size_t>(size_t(1024) * clusterSize_, kMaxChunkBytes) / mftRecordSize_);
    std::vector<uint8_t> chunk(chunkRecords * mftRecordSize_);
    bool completed = true;
    log.Write(u"FindRun and ReadMFTLCN Start.");
    uint64_t next = 0;
    while (next < mftRecordTotal_) {
        if (Stopped(stop)) {
            NoteStop();
            completed = false;
            break;
        }
        size_t n = size_t(std::min<uint64_t>(chunkRecords, mftRecordTotal_ - next));
        if (!GrowEntries(next + n)) {
            completed = false;
            break;
        }
        FillVirtual(next * mftRecordSize_, chunk.data(), n * mftRecordSize_);
        for (size_t i = 0; i < n; ++i) {
            ParseRecord(chunk.data() + i * mftRecordSize_, next + i);
            recordCount_ = next + i + 1;
            if ((recordCount_ % kStopCheckEvery) == 0 && Stopped(stop)) break;
        }
        next = recordCount_;
    }
    log.Write(u"FindRun and ReadMFTLCN End.");
    log.Write(u"ReadMFTParse End.");
    if (completed && next < mftRecordTotal_) {
        NoteStop();
        completed = false;
    }
    return completed;
}

bool NtfsVolume::GrowEntries(uint64_t size) {
    if (entries_.size() >= size) return true;
    try {
        entries_.resize(size_t(size));
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void NtfsVolume::ParseRecord(uint8_t* r, uint64_t number) {
    RecordHeader h;
    if (std::memcmp(r, "FILE", 4) != 0) return;
    if (!ApplyFixups(r, mftRecordSize_)) return;
    if (!ReadHeader(r, mftRecordSize_, h)) return;

    // An extension record adds its name or data size to its base record.
    bool extension = h.baseRecord != 0;
    if (extension && (h.baseRecord >= mftRecordTotal_ || h.baseRecord == number || !GrowEntries(h.baseRecord + 1)))
        return;
    MftEntry& e = extension ? entries_[h.baseRecord] : entries_[number];
    if (!extension) {
        e.flags = h.flags;
        e.sequence = h.sequence;
    }

    bool sawData = false, sawTime = false;
    WalkAttributes(r, h.bytesInUse, h.firstAttr, [&](const Attr& a) {
        if (a.type == kAttrStandardInformation && !extension && !sawTime && a.value && a.valueLength >= 0x10) {
            e.lastWriteTime = Le64(a.value + 0x08);
            sawTime = true;
        } else if (a.type == kAttrFileName && !e.name && a.value && a.valueLength >= 0x42) {
            uint8_t len = a.value[0x40];
            uint8_t ns = a.value[0x41];
            if (ns != 2 && len > 0 && 0x42u + 2u * len <= a.valueLength) {
                char16_t name[256];
                size_t n = 0;
                for (; n < len; ++n) {
                    char16_t c = char16_t(Le16(a.value + 0x42 + 2 * n));
                    if (c == 0) break;
                    name[n] = c;
                }
                if (n > 0) {
                    const char16_t* stored = namePool_.Alloc(name, n);
                    if (stored) {
                        uint64_t parent = Le64(a.value);
                        e.name = stored;
                        e.nameLength = uint16_t(n);
                        e.parentRecord = parent & kRecordNumberMask;
                        e.parentSequence = uint16_t(parent >> 48);
                        ++namedRecordCount_;
                    }
                }
            }
        } else if (a.type == kAttrData && a.nameLength == 0 && !sawData) {
            if (!a.nonResident) {
                if (a.value) {
                    e.dataSize = a.valueLength;
                    sawData = true;
                }
            } else if (a.length >= 0x38 && Le64(a.p + 0x10) == 0) {
                e.dataSize = Le64(a.p + 0x30);
                sawData = true;
            }
        }
        return true;
    });
}

bool NtfsVolume::ReparseDisk(const StopCheck& stop) {
    entries_.clear();
    entries_.shrink_to_fit();
    recordCount_ = 0;
    namedRecordCount_ = 0;
    namePool_.Reset();
    ReadBootSector();
    if (LoadMFT() == 0) return false;
    return ParseMFT(stop);
}

const MftEntry* NtfsVolume::entry(uint64_t record) const {
    return record < recordCount_ ? &entries_[record] : nullptr;
}

bool NtfsVolume::BuildParentPath(uint64_t record, plat::WString& folder) const {
    folder.clear();
    if (record >= recordCount_) return false;
    uint64_t chain[kMaxDepth];
    int depth = 0;
    const MftEntry* e = &entries_[record];
    while (true) {
        uint64_t parent = e->parentRecord;
        if (parent == kMftRootRecord) break;
        if (parent >= recordCount_ || parent == record || depth >= kMaxDepth) return false;
        const MftEntry& p = entries_[parent];
        if (!(p.flags & kMftRecordInUse) || !(p.flags & kMftRecordDirectory) || !p.name) return false;
        // A reference to an earlier life of the record: the folder is gone.
        if (e->parentSequence != 0 && p.sequence != 0 && e->parentSequence != p.sequence) return false;
        chain[depth++] = parent;
        e = &p;
    }
    // A cycle that does not pass through the record itself ends at kMaxDepth.
    for (int i = depth - 1; i >= 0; --i) {
        const MftEntry& p = entries_[chain[i]];
        folder.append(p.name, p.nameLength);
        folder.push_back(u'/');
    }
    return true;
}

template <typename Visit>
bool NtfsVolume::ForEachCandidate(const std::vector<plat::WString>& extensions, const StopCheck& stop,
                                  Visit&& visit) const {
    std::vector<plat::WString> exts;
    exts.reserve(extensions.size());
    for (const plat::WString& x : extensions) exts.push_back(plat::ToUpperAscii(x));
    std::sort(exts.begin(), exts.end());

    SearchLog().Write(u"disk fileSize[%d]", int(std::min<uint64_t>(recordCount_, INT32_MAX)));
    plat::WString folder;
    for (uint64_t i = 0; i < recordCount_; ++i) {
        if ((i % kStopCheckEvery) == 0 && Stopped(stop)) {
            plat::DebugOutput(u"IS_CANCLED_RETURN");
            return false;
        }
        const MftEntry& e = entries_[i];
        if (!(e.flags & kMftRecordInUse) || (e.flags & kMftRecordDirectory) || !e.name) continue;
        plat::WStringView name(e.name, e.nameLength);
        // A name that cannot be one path component here is not listed.
        if (name.find(u'/') != plat::WStringView::npos || name == u"." || name == u"..") continue;
        if (!HasListedExtension(name, exts)) continue;
        if (!BuildParentPath(i, folder)) continue;
        if (!visit(i, e, folder, name)) break;
    }
    return true;
}

bool NtfsVolume::ListFiles(const std::vector<plat::WString>& extensions,
                           const std::function<bool(const MftFile&)>& sink, const StopCheck& stop) const {
    MftFile f;
    return ForEachCandidate(extensions, stop, [&](uint64_t i, const MftEntry& e, const plat::WString& folder,
                                                  plat::WStringView name) {
        if (e.dataSize == 0) return true;
        f.path = folder;
        f.path.append(name);
        f.size = e.dataSize;
        f.lastWriteTime = e.lastWriteTime;
        f.record = i;
        return sink(f);
    });
}

namespace {

// Why a name the table lists is no document to read, or null when it is one
// to pass over (a link to a regular file or a folder).
const char16_t* NotRegularReason(const std::string& nativePath, const struct stat& st) {
    if (!S_ISLNK(st.st_mode)) return u"일반 파일이 아님";
    struct stat target;
    if (::stat(nativePath.c_str(), &target) == 0)
        return S_ISREG(target.st_mode) || S_ISDIR(target.st_mode) ? nullptr : u"일반 파일이 아님";
    if (errno == ELOOP) return u"심볼릭 링크가 순환함";
    if (errno == ENOENT || errno == ENOTDIR) return u"심볼릭 링크의 대상이 없음";
    return u"파일을 열 수 없음";
}

}  // namespace

bool NtfsVolume::SearchFiles(const plat::WString& mountRoot, const std::vector<plat::WString>& extensions,
                             const std::function<bool(const MftFoundFile&)>& sink, const StopCheck& stop,
                             const NotRegularSink& notRegular) const {
    plat::WString root = mountRoot;
    if (root.empty() || root.back() != u'/') root.push_back(u'/');
    MftFoundFile f;
    return ForEachCandidate(extensions, stop, [&](uint64_t, const MftEntry&, const plat::WString& folder,
                                                  plat::WStringView name) {
        f.fullPath = root;
        f.fullPath.append(folder);
        f.fullPath.append(name);
        struct stat st;
        const std::string native = plat::PathToNative(f.fullPath);
        if (::lstat(native.c_str(), &st) != 0) return true;
        if (!S_ISREG(st.st_mode)) {
            // Named like a document but none: listed with its reason, so that
            // every document the search could not read is named.
            if (const char16_t* reason = NotRegularReason(native, st); reason && notRegular)
                notRegular(f.fullPath, reason);
            return true;
        }
        if (st.st_size <= 0) return true;
        f.size = uint64_t(st.st_size);
        f.lastWriteTime = plat::FileTimeFromTimespec(st.st_mtim);
        return sink(f);
    });
}

}  // namespace search
