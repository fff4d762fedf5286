#include "platform/cfb.h"

#include "platform/docfile.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kMaxRegSect = 0xFFFFFFFAu;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFEu;
constexpr std::uint32_t kFreeSect = 0xFFFFFFFFu;
constexpr std::uint32_t kNoStream = 0xFFFFFFFFu;
constexpr std::uint32_t kHeaderSize = 512;
constexpr std::uint32_t kDirEntrySize = 128;
constexpr std::uint32_t kMiniSectorSize = 64;
// Streams shorter than this live in the mini stream, longer ones in sectors
// of their own. The format fixes the value: a header that states another one
// would have small streams read from the wrong place (another stream's
// sectors), so it is refused like the other fixed header fields.
constexpr std::uint32_t kMiniStreamCutoff = 4096;
constexpr unsigned kMaxTreeDepth = 4096;

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Le32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}
std::uint64_t Le64(const std::uint8_t* p) { return Le32(p) | (std::uint64_t(Le32(p + 4)) << 32); }

// Where the bytes come from: a file descriptor or a block of memory.
class Source {
public:
    virtual ~Source() = default;
    virtual std::uint64_t size() const = 0;
    // Reads exactly n bytes at off; false when they are not all there.
    virtual bool ReadAt(std::uint64_t off, void* buf, std::size_t n) const = 0;
};

class FdSource final : public Source {
public:
    FdSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    ~FdSource() override { ::close(fd_); }
    std::uint64_t size() const override { return size_; }
    bool ReadAt(std::uint64_t off, void* buf, std::size_t n) const override
    {
        if (off > size_ || n > size_ - off)
            return false;
        auto* p = static_cast<char*>(buf);
        while (n > 0) {
            if (ReadCancelled())
                return false;
            ssize_t r = ::pread(fd_, p, n, static_cast<off_t>(off));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return false;
            p += r;
            off += static_cast<std::uint64_t>(r);
            n -= static_cast<std::size_t>(r);
        }
        return true;
    }

private:
    int fd_;
    std::uint64_t size_;
};

class MemSource final : public Source {
public:
    explicit MemSource(std::string bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool ReadAt(std::uint64_t off, void* buf, std::size_t n) const override
    {
        if (off > bytes_.size() || n > bytes_.size() - off)
            return false;
        std::memcpy(buf, bytes_.data() + off, n);
        return true;
    }

private:
    std::string bytes_;
};

struct DirEntry {
    std::u16string name;
    std::uint8_t type = 0;
    std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
    std::uint8_t clsid[16] = {};
    std::uint32_t stateBits = 0;
    std::uint64_t created = 0, modified = 0;
    std::uint32_t start = 0;
    std::uint64_t size = 0;
    std::vector<std::uint32_t> children;  // storages: direct children, directory order
};

// The parsed file, shared by every storage and stream opened from it.
class Doc {
public:
    explicit Doc(std::unique_ptr<Source> src) : src_(std::move(src)) {}

    HResult Load();

    const DirEntry& entry(std::uint32_t i) const { return dir_[i]; }
    std::uint32_t sectorShift() const { return shift_; }
    std::uint64_t miniStreamSize() const { return dir_[0].size; }

    // Sector chain of a stream entry, cut to the sectors its size needs.
    HResult StreamChain(const DirEntry& e, bool* mini, std::vector<std::uint32_t>* chain) const;

    // Reads n bytes at offset off of a stream given by its chain.
    bool ReadStreamBytes(bool mini, const std::vector<std::uint32_t>& chain, std::uint64_t off,
                         void* buf, std::size_t n) const;

private:
    std::uint64_t SectorOffset(std::uint32_t sect) const { return (std::uint64_t(sect) + 1) << shift_; }
    bool ReadSector(std::uint32_t sect, std::vector<std::uint8_t>* out) const;
    // Follows a chain from start through table; at most limit sectors.
    HResult Chain(const std::vector<std::uint32_t>& table, std::uint32_t start, std::uint64_t limit,
                  std::vector<std::uint32_t>* out) const;
    HResult LoadDifatAndFat(const std::uint8_t* header);
    HResult LoadDirectory(std::uint32_t firstDirSector);
    HResult BuildTree();

    std::unique_ptr<Source> src_;
    std::uint32_t shift_ = 9;
    std::uint32_t sectorSize_ = 512;
    std::uint32_t fileSectors_ = 0;  // sectors that start inside the file
    std::uint32_t firstMiniFat_ = kEndOfChain;
    std::uint32_t numMiniFat_ = 0;
    bool v3_ = true;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> miniFat_;
    std::vector<std::uint32_t> miniStreamChain_;
    std::vector<DirEntry> dir_;
};

bool Doc::ReadSector(std::uint32_t sect, std::vector<std::uint8_t>* out) const
{
    if (sect >= fileSectors_)
        return false;
    out->resize(sectorSize_);
    std::uint64_t off = SectorOffset(sect);
    std::uint64_t have = src_->size() - off;
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(have, sectorSize_));
    // A last sector cut short by the end of the file reads as zeros beyond it.
    std::fill(out->begin() + static_cast<std::ptrdiff_t>(n), out->end(), 0);
    return src_->ReadAt(off, out->data(), n);
}

HResult Doc::Chain(const std::vector<std::uint32_t>& table, std::uint32_t start, std::uint64_t limit,
                   std::vector<std::uint32_t>* out) const
{
    out->clear();
    std::uint32_t s = start;
    // Every sector can appear at most once, so a chain longer than the table loops.
    const std::uint64_t maxSteps = std::min<std::uint64_t>(limit, table.size());
    while (s != kEndOfChain && out->size() < limit) {
        if (s >= table.size() || out->size() >= maxSteps)
            return stg::kDocfileCorrupt;
        out->push_back(s);
        s = table[s];
    }
    // A chain that comes back to one of its sectors loops, even when it is
    // cut at the length its stream needs.
    std::vector<std::uint32_t> sorted(*out);
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
        return stg::kDocfileCorrupt;
    return stg::kOk;
}

HResult Doc::LoadDifatAndFat(const std::uint8_t* header)
{
    const std::uint32_t numFat = Le32(header + 0x2C);
    std::uint32_t difatSect = Le32(header + 0x44);
    const std::uint32_t numDifat = Le32(header + 0x48);
    const std::uint32_t perSector = sectorSize_ / 4;

    // Every FAT sector is a sector of the file.
    if (numFat > fileSectors_)
        return stg::kDocfileCorrupt;

    std::vector<std::uint32_t> fatSectors;
    fatSectors.reserve(numFat);
    for (unsigned i = 0; i < 109 && fatSectors.size() < numFat; ++i) {
        std::uint32_t s = Le32(header + 0x4C + 4 * i);
        if (s > kMaxRegSect)
            break;
        fatSectors.push_back(s);
    }
    std::vector<std::uint8_t> buf;
    std::uint32_t difatRead = 0;
    std::vector<bool> seen;
    while (fatSectors.size() < numFat && difatSect <= kMaxRegSect) {
        // More DIFAT sectors than the header announces, or one seen before: a loop.
        if (difatRead >= numDifat || difatSect >= fileSectors_)
            return stg::kDocfileCorrupt;
        if (seen.empty())
            seen.resize(fileSectors_, false);
        if (seen[difatSect])
            return stg::kDocfileCorrupt;
        seen[difatSect] = true;
        if (!ReadSector(difatSect, &buf))
            return stg::kDocfileCorrupt;
        ++difatRead;
        for (std::uint32_t i = 0; i + 1 < perSector && fatSectors.size() < numFat; ++i) {
            std::uint32_t s = Le32(buf.data() + 4 * i);
            if (s > kMaxRegSect)
                continue;
            fatSectors.push_back(s);
        }
        difatSect = Le32(buf.data() + 4 * (perSector - 1));
    }
    if (fatSectors.empty())
        return stg::kDocfileCorrupt;

    // Only entries for sectors inside the file are kept: the others can never be read.
    const std::uint64_t entries = std::min<std::uint64_t>(std::uint64_t(fatSectors.size()) * perSector, fileSectors_);
    fat_.assign(static_cast<std::size_t>(entries), kFreeSect);
    std::size_t at = 0;
    for (std::uint32_t s : fatSectors) {
        if (at >= fat_.size())
            break;
        if (!ReadSector(s, &buf))
            return stg::kDocfileCorrupt;
        for (std::uint32_t i = 0; i < perSector && at < fat_.size(); ++i)
            fat_[at++] = Le32(buf.data() + 4 * i);
    }
    return stg::kOk;
}

HResult Doc::LoadDirectory(std::uint32_t firstDirSector)
{
    std::vector<std::uint32_t> chain;
    HResult hr = Chain(fat_, firstDirSector, fileSectors_, &chain);
    if (Failed(hr) || chain.empty())
        return stg::kDocfileCorrupt;
    const std::uint32_t perSector = sectorSize_ / kDirEntrySize;
    dir_.reserve(chain.size() * perSector);
    std::vector<std::uint8_t> buf;
    for (std::uint32_t s : chain) {
        if (!ReadSector(s, &buf))
            return stg::kDocfileCorrupt;
        for (std::uint32_t k = 0; k < perSector; ++k) {
            const std::uint8_t* p = buf.data() + k * kDirEntrySize;
            DirEntry e;
            e.type = p[0x42];
            std::uint32_t nameBytes = Le16(p + 0x40);
            std::uint32_t units = nameBytes >= 2 ? std::min<std::uint32_t>(nameBytes / 2 - 1, 31) : 0;
            for (std::uint32_t i = 0; i < units; ++i) {
                char16_t c = Le16(p + 2 * i);
                if (c == 0)
                    break;
                e.name.push_back(c);
            }
            e.left = Le32(p + 0x44);
            e.right = Le32(p + 0x48);
            e.child = Le32(p + 0x4C);
            std::memcpy(e.clsid, p + 0x50, 16);
            e.stateBits = Le32(p + 0x60);
            e.created = Le64(p + 0x64);
            e.modified = Le64(p + 0x6C);
            e.start = Le32(p + 0x74);
            e.size = v3_ ? Le32(p + 0x78) : Le64(p + 0x78);
            dir_.push_back(std::move(e));
        }
    }
    return stg::kOk;
}

// Collects the children of every storage from its red-black tree. The tree is
// walked without relying on its order (lookups compare names directly), so a
// badly balanced or mis-sorted tree still reads; a link outside the directory,
// an entry reached twice (a cycle) or a tree too deep fails.
HResult Doc::BuildTree()
{
    if (dir_.empty() || dir_[0].type != stg::kTypeRoot)
        return stg::kDocfileCorrupt;
    std::vector<std::uint8_t> seen(dir_.size(), 0);
    seen[0] = 1;
    std::vector<std::uint32_t> storages{0};
    std::vector<std::pair<std::uint32_t, unsigned>> stack;
    for (std::size_t si = 0; si < storages.size(); ++si) {
        const std::uint32_t parent = storages[si];
        std::vector<std::uint32_t> kids;
        stack.clear();
        if (dir_[parent].child != kNoStream)
            stack.push_back({dir_[parent].child, 0});
        while (!stack.empty()) {
            auto [id, depth] = stack.back();
            stack.pop_back();
            if (id >= dir_.size() || seen[id] || depth > kMaxTreeDepth)
                return stg::kDocfileCorrupt;
            seen[id] = 1;
            const DirEntry& e = dir_[id];
            if (e.right != kNoStream)
                stack.push_back({e.right, depth + 1});
            if (e.left != kNoStream)
                stack.push_back({e.left, depth + 1});
            if (e.type == stg::kTypeStream || e.type == stg::kTypeStorage) {
                kids.push_back(id);
                if (e.type == stg::kTypeStorage)
                    storages.push_back(id);
            } else if (e.type != 0) {
                return stg::kDocfileCorrupt;  // a second root or an unknown type
            }
        }
        // Directory order: the tree's in-order sequence is sorted by name.
        std::stable_sort(kids.begin(), kids.end(), [this](std::uint32_t a, std::uint32_t b) {
            return CfbNameCompare(dir_[a].name, dir_[b].name) < 0;
        });
        dir_[parent].children = std::move(kids);
    }
    return stg::kOk;
}

HResult Doc::Load()
{
    std::uint8_t h[kHeaderSize];
    if (src_->size() < kHeaderSize || !src_->ReadAt(0, h, kHeaderSize))
        return stg::kInvalidHeader;
    if (std::memcmp(h, kSignature, 8) != 0)
        return stg::kInvalidHeader;
    const std::uint16_t major = Le16(h + 0x1A);
    if (Le16(h + 0x1C) != 0xFFFE || (major != 3 && major != 4))
        return stg::kInvalidHeader;
    shift_ = Le16(h + 0x1E);
    if (shift_ != 9 && shift_ != 12)
        return stg::kInvalidHeader;
    if (Le16(h + 0x20) != 6)
        return stg::kInvalidHeader;
    v3_ = shift_ == 9;
    sectorSize_ = 1u << shift_;
    const std::uint64_t body = src_->size() > sectorSize_ ? src_->size() - sectorSize_ : 0;
    const std::uint64_t sects = (body + sectorSize_ - 1) / sectorSize_;
    fileSectors_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(sects, kMaxRegSect));
    if (Le32(h + 0x38) != kMiniStreamCutoff)
        return stg::kInvalidHeader;
    firstMiniFat_ = Le32(h + 0x3C);
    numMiniFat_ = Le32(h + 0x40);

    HResult hr = LoadDifatAndFat(h);
    if (Failed(hr))
        return hr;
    hr = LoadDirectory(Le32(h + 0x30));
    if (Failed(hr))
        return hr;
    hr = BuildTree();
    if (Failed(hr))
        return hr;

    // Mini FAT and mini stream: needed only when some stream is small, but a
    // damaged one is reported when the stream that needs it is opened.
    std::vector<std::uint32_t> chain;
    if (firstMiniFat_ <= kMaxRegSect && Succeeded(Chain(fat_, firstMiniFat_, fileSectors_, &chain))) {
        miniFat_.reserve(chain.size() * (sectorSize_ / 4));
        std::vector<std::uint8_t> buf;
        for (std::uint32_t s : chain) {
            if (!ReadSector(s, &buf)) {
                miniFat_.clear();
                break;
            }
            for (std::uint32_t i = 0; i < sectorSize_ / 4; ++i)
                miniFat_.push_back(Le32(buf.data() + 4 * i));
        }
    }
    const DirEntry& root = dir_[0];
    if (root.start <= kMaxRegSect && root.size > 0) {
        std::uint64_t need = (root.size + sectorSize_ - 1) >> shift_;
        if (Failed(Chain(fat_, root.start, need, &miniStreamChain_)) || miniStreamChain_.size() < need)
            miniStreamChain_.clear();
    }
    // Mini sectors that lie beyond the mini stream can never be read.
    const std::uint64_t miniSectors = std::min<std::uint64_t>(
        root.size / kMiniSectorSize, (std::uint64_t(miniStreamChain_.size()) << shift_) / kMiniSectorSize);
    if (miniFat_.size() > miniSectors)
        miniFat_.resize(static_cast<std::size_t>(miniSectors));
    return stg::kOk;
}

HResult Doc::StreamChain(const DirEntry& e, bool* mini, std::vector<std::uint32_t>* chain) const
{
    chain->clear();
    *mini = e.size < kMiniStreamCutoff;
    if (e.size == 0)
        return stg::kOk;
    if (*mini) {
        const std::uint64_t need = (e.size + kMiniSectorSize - 1) / kMiniSectorSize;
        if (need > miniFat_.size())
            return stg::kDocfileCorrupt;
        HResult hr = Chain(miniFat_, e.start, need, chain);
        if (Failed(hr) || chain->size() < need)
            return stg::kDocfileCorrupt;
        return stg::kOk;
    }
    const std::uint64_t need = (e.size + sectorSize_ - 1) >> shift_;
    if (need > fat_.size())
        return stg::kDocfileCorrupt;  // larger than the file
    HResult hr = Chain(fat_, e.start, need, chain);
    if (Failed(hr) || chain->size() < need)
        return stg::kDocfileCorrupt;
    return stg::kOk;
}

bool Doc::ReadStreamBytes(bool mini, const std::vector<std::uint32_t>& chain, std::uint64_t off,
                          void* buf, std::size_t n) const
{
    auto* out = static_cast<std::uint8_t*>(buf);
    while (n > 0) {
        std::uint64_t fileOff;
        std::size_t piece;
        if (mini) {
            std::uint64_t idx = off / kMiniSectorSize;
            if (idx >= chain.size())
                return false;
            std::uint64_t within = off % kMiniSectorSize;
            piece = static_cast<std::size_t>(std::min<std::uint64_t>(n, kMiniSectorSize - within));
            std::uint64_t msOff = std::uint64_t(chain[idx]) * kMiniSectorSize + within;
            std::uint64_t msIdx = msOff >> shift_;
            if (msIdx >= miniStreamChain_.size())
                return false;
            fileOff = SectorOffset(miniStreamChain_[msIdx]) + (msOff & (sectorSize_ - 1));
        } else {
            std::uint64_t idx = off >> shift_;
            if (idx >= chain.size())
                return false;
            std::uint64_t within = off & (sectorSize_ - 1);
            // Runs of consecutive sectors are read at once.
            std::uint64_t last = idx;
            std::uint64_t span = sectorSize_ - within;
            while (span < n && last + 1 < chain.size() && chain[last + 1] == chain[last] + 1) {
                ++last;
                span += sectorSize_;
            }
            piece = static_cast<std::size_t>(std::min<std::uint64_t>(n, span));
            fileOff = SectorOffset(chain[idx]) + within;
        }
        if (!src_->ReadAt(fileOff, out, piece))
            return false;
        out += piece;
        off += piece;
        n -= piece;
    }
    return true;
}

void FillStat(const DirEntry& e, std::uint32_t mode, bool withName, CfbStat* st)
{
    st->name = withName ? e.name : std::u16string();
    st->type = e.type;
    st->size = e.type == stg::kTypeStream ? e.size : 0;
    st->created = e.created;
    st->modified = e.modified;
    std::memcpy(st->clsid, e.clsid, 16);
    st->stateBits = e.stateBits;
    st->mode = mode;
}

class ReaderStream final : public CfbStream {
public:
    ReaderStream(std::shared_ptr<const Doc> doc, std::uint32_t id, std::uint32_t mode, bool mini,
                 std::shared_ptr<const std::vector<std::uint32_t>> chain)
        : doc_(std::move(doc)), id_(id), mode_(mode), mini_(mini), chain_(std::move(chain)),
          size_(doc_->entry(id).size)
    {
    }

    HResult Read(void* buffer, std::uint32_t n, std::uint32_t* got) override
    {
        if (got)
            *got = 0;
        if (!buffer && n)
            return stg::kInvalidPointer;
        if (pos_ >= size_ || n == 0)
            return stg::kOk;
        std::uint32_t take = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, size_ - pos_));
        if (!doc_->ReadStreamBytes(mini_, *chain_, pos_, buffer, take))
            return stg::kReadFault;
        pos_ += take;
        if (got)
            *got = take;
        return stg::kOk;
    }

    HResult Write(const void*, std::uint32_t, std::uint32_t* written) override
    {
        if (written)
            *written = 0;
        return stg::kAccessDenied;
    }

    HResult Seek(std::int64_t offset, int origin, std::uint64_t* newPos) override
    {
        std::int64_t base;
        switch (origin) {
        case stg::kSeekSet: base = 0; break;
        case stg::kSeekCur: base = static_cast<std::int64_t>(pos_); break;
        case stg::kSeekEnd: base = static_cast<std::int64_t>(size_); break;
        default: return stg::kInvalidFunction;
        }
        std::int64_t target;
        if (__builtin_add_overflow(base, offset, &target) || target < 0)
            return stg::kInvalidFunction;
        pos_ = static_cast<std::uint64_t>(target);
        if (newPos)
            *newPos = pos_;
        return stg::kOk;
    }

    HResult SetSize(std::uint64_t) override { return stg::kAccessDenied; }

    HResult Stat(CfbStat* st, bool withName) override
    {
        if (!st)
            return stg::kInvalidPointer;
        FillStat(doc_->entry(id_), mode_, withName, st);
        return stg::kOk;
    }

    HResult Clone(CfbStream** out) override
    {
        if (!out)
            return stg::kInvalidPointer;
        auto* s = new (std::nothrow) ReaderStream(doc_, id_, mode_, mini_, chain_);
        if (!s)
            return stg::kOutOfMemory;
        s->pos_ = pos_;
        *out = s;
        return stg::kOk;
    }

private:
    std::shared_ptr<const Doc> doc_;
    std::uint32_t id_;
    std::uint32_t mode_;
    bool mini_;
    std::shared_ptr<const std::vector<std::uint32_t>> chain_;
    std::uint64_t size_;
    std::uint64_t pos_ = 0;
};

class ReaderStorage final : public CfbStorage {
public:
    ReaderStorage(std::shared_ptr<const Doc> doc, std::uint32_t id, std::uint32_t mode)
        : doc_(std::move(doc)), id_(id), mode_(mode)
    {
    }

    HResult OpenStream(const std::u16string& name, std::uint32_t mode, CfbStream** out) override
    {
        if (!out)
            return stg::kInvalidPointer;
        *out = nullptr;
        if ((mode & stg::kModeAccessMask) != stg::kModeRead)
            return stg::kAccessDenied;
        std::uint32_t id;
        HResult hr = Find(name, stg::kTypeStream, &id);
        if (Failed(hr))
            return hr;
        bool mini = false;
        auto chain = std::make_shared<std::vector<std::uint32_t>>();
        hr = doc_->StreamChain(doc_->entry(id), &mini, chain.get());
        if (Failed(hr))
            return hr;
        auto* s = new (std::nothrow) ReaderStream(doc_, id, mode, mini, std::move(chain));
        if (!s)
            return stg::kOutOfMemory;
        *out = s;
        return stg::kOk;
    }

    HResult OpenStorage(const std::u16string& name, std::uint32_t mode, CfbStorage** out) override
    {
        if (!out)
            return stg::kInvalidPointer;
        *out = nullptr;
        if ((mode & stg::kModeAccessMask) != stg::kModeRead)
            return stg::kAccessDenied;
        std::uint32_t id;
        HResult hr = Find(name, stg::kTypeStorage, &id);
        if (Failed(hr))
            return hr;
        auto* s = new (std::nothrow) ReaderStorage(doc_, id, mode);
        if (!s)
            return stg::kOutOfMemory;
        *out = s;
        return stg::kOk;
    }

    HResult CreateStream(const std::u16string&, std::uint32_t, CfbStream** out) override
    {
        if (out)
            *out = nullptr;
        return stg::kAccessDenied;
    }

    HResult Stat(CfbStat* st, bool withName) override
    {
        if (!st)
            return stg::kInvalidPointer;
        FillStat(doc_->entry(id_), mode_, withName, st);
        return stg::kOk;
    }

    HResult Elements(std::vector<CfbStat>* out) override
    {
        if (!out)
            return stg::kInvalidPointer;
        out->clear();
        for (std::uint32_t c : doc_->entry(id_).children) {
            CfbStat st;
            FillStat(doc_->entry(c), 0, true, &st);
            out->push_back(std::move(st));
        }
        return stg::kOk;
    }

private:
    HResult Find(const std::u16string& name, std::uint32_t type, std::uint32_t* id) const
    {
        if (name.empty() || name.size() > 31)
            return stg::kFileNotFound;
        for (std::uint32_t c : doc_->entry(id_).children) {
            const DirEntry& e = doc_->entry(c);
            if (e.type == type && CfbNameCompare(e.name, name) == 0) {
                *id = c;
                return stg::kOk;
            }
        }
        return stg::kFileNotFound;
    }

    std::shared_ptr<const Doc> doc_;
    std::uint32_t id_;
    std::uint32_t mode_;
};

HResult OpenFromSource(std::unique_ptr<Source> src, std::uint32_t mode, CfbStorage** out)
{
    std::shared_ptr<Doc> doc;
    try {
        doc = std::make_shared<Doc>(std::move(src));
        HResult hr = doc->Load();
        if (Failed(hr))
            return hr;
    } catch (const std::bad_alloc&) {
        return stg::kOutOfMemory;
    } catch (const std::length_error&) {
        return stg::kOutOfMemory;
    }
    auto* s = new (std::nothrow) ReaderStorage(std::move(doc), 0, mode);
    if (!s)
        return stg::kOutOfMemory;
    *out = s;
    return stg::kOk;
}

HResult OpenFd(const std::u16string& path, int* fd, std::uint64_t* size)
{
    std::string native = PathToNative(path);
    if (native.empty())
        return stg::kFileNotFound;
    DocOpenError why = kDocOpenOk;
    int f = OpenDocumentFile(native, &why);
    if (f < 0)
        return why == kDocOpenNoAccess ? stg::kAccessDenied : stg::kFileNotFound;
    struct stat st;
    if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(f);
        return stg::kFileNotFound;
    }
    *fd = f;
    *size = static_cast<std::uint64_t>(st.st_size);
    return stg::kOk;
}

}  // namespace

char16_t CfbUpper(char16_t c)
{
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') ? char16_t(c - 0x20) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return char16_t(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return (c & 1) ? char16_t(c - 1) : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1) ? c : char16_t(c - 1);
    if ((c >= 0x3B1 && c <= 0x3C1) || (c >= 0x3C3 && c <= 0x3CB))
        return char16_t(c - 0x20);
    if (c == 0x3C2)
        return 0x3A3;
    if (c >= 0x430 && c <= 0x44F)
        return char16_t(c - 0x20);
    if (c >= 0x450 && c <= 0x45F)
        return char16_t(c - 0x50);
    if (c >= 0xFF41 && c <= 0xFF5A)
        return char16_t(c - 0x20);
    return c;
}

int CfbNameCompare(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = CfbUpper(a[i]), y = CfbUpper(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

HResult CfbIsStorageFile(const std::u16string& path)
{
    int fd;
    std::uint64_t size;
    HResult hr = OpenFd(path, &fd, &size);
    if (Failed(hr))
        return hr;
    FdSource src(fd, size);
    std::uint8_t sig[8];
    if (size < kHeaderSize || !src.ReadAt(0, sig, 8))
        return stg::kFalse;
    return std::memcmp(sig, kSignature, 8) == 0 ? stg::kOk : stg::kFalse;
}

HResult CfbOpenStorage(const std::u16string& path, std::uint32_t mode, CfbStorage** out)
{
    if (!out)
        return stg::kInvalidPointer;
    *out = nullptr;
    if ((mode & stg::kModeAccessMask) != stg::kModeRead)
        return stg::kAccessDenied;
    int fd;
    std::uint64_t size;
    HResult hr = OpenFd(path, &fd, &size);
    if (Failed(hr))
        return hr;
    std::unique_ptr<Source> src(new (std::nothrow) FdSource(fd, size));
    if (!src) {
        ::close(fd);
        return stg::kOutOfMemory;
    }
    return OpenFromSource(std::move(src), mode, out);
}

HResult CfbOpenStorageOnMemory(std::string bytes, CfbStorage** out)
{
    if (!out)
        return stg::kInvalidPointer;
    *out = nullptr;
    std::unique_ptr<Source> src(new (std::nothrow) MemSource(std::move(bytes)));
    if (!src)
        return stg::kOutOfMemory;
    return OpenFromSource(std::move(src), stg::kModeRead | stg::kShareDenyNone, out);
}

}  // namespace plat
