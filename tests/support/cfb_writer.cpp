#include "support/cfb_writer.h"

#include "platform/cfb.h"
#include "support/isolation.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

namespace ps_test {

namespace {

constexpr std::uint32_t kEnd = 0xFFFFFFFEu;
constexpr std::uint32_t kFree = 0xFFFFFFFFu;
constexpr std::uint32_t kFatSect = 0xFFFFFFFDu;
constexpr std::uint32_t kDifSect = 0xFFFFFFFCu;
constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr std::uint32_t kCutoff = 4096;

std::vector<std::u16string> SplitPath(const std::u16string& path)
{
    std::vector<std::u16string> parts;
    std::u16string cur;
    for (char16_t c : path) {
        if (c == u'/') {
            if (!cur.empty())
                parts.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty())
        parts.push_back(cur);
    return parts;
}

}  // namespace

void PutLe32(std::string& b, std::uint64_t off, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[off + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void PutLe16(std::string& b, std::uint64_t off, std::uint16_t v)
{
    b[off] = static_cast<char>(v & 0xFF);
    b[off + 1] = static_cast<char>(v >> 8);
}

std::uint32_t GetLe32(const std::string& b, std::uint64_t off)
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= std::uint32_t(static_cast<std::uint8_t>(b[off + i])) << (8 * i);
    return v;
}

std::uint64_t CfbLayout::EntryOffset(std::uint32_t id) const
{
    const std::uint32_t per = sectorSize / 128;
    return SectorOffset(dirSectors.at(id / per)) + std::uint64_t(id % per) * 128;
}

std::uint32_t CfbLayout::EntryId(const std::u16string& path) const
{
    for (auto& [p, id] : entryIds)
        if (p == path)
            return id;
    throw std::out_of_range("no such entry");
}

CfbWriter::CfbWriter(int version) : version_(version == 4 ? 4 : 3)
{
    Node root;
    root.name = u"Root Entry";
    root.storage = true;
    nodes_.push_back(root);
}

std::size_t CfbWriter::Ensure(const std::u16string& path, bool storage)
{
    auto parts = SplitPath(path);
    std::size_t at = 0;
    std::u16string sofar;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        if (!sofar.empty())
            sofar += u'/';
        sofar += parts[i];
        std::size_t found = SIZE_MAX;
        for (std::size_t k : nodes_[at].kids)
            if (plat::CfbNameCompare(nodes_[k].name, parts[i]) == 0)
                found = k;
        if (found == SIZE_MAX) {
            Node n;
            n.name = parts[i];
            n.path = sofar;
            n.storage = last ? storage : true;
            nodes_.push_back(std::move(n));
            found = nodes_.size() - 1;
            nodes_[at].kids.push_back(found);
        }
        at = found;
    }
    return at;
}

void CfbWriter::AddStream(const std::u16string& path, std::string data)
{
    nodes_[Ensure(path, false)].data = std::move(data);
}

void CfbWriter::AddStorage(const std::u16string& path) { Ensure(path, true); }

void CfbWriter::SetClsid(const std::u16string& path, const std::uint8_t clsid[16])
{
    std::size_t n = path.empty() ? 0 : Ensure(path, true);
    std::memcpy(nodes_[n].clsid, clsid, 16);
}

std::string CfbWriter::Build(CfbLayout* layoutOut) const
{
    CfbLayout L;
    const std::uint32_t shift = version_ == 4 ? 12 : 9;
    const std::uint32_t ss = 1u << shift;
    const std::uint32_t perFat = ss / 4;
    L.sectorSize = ss;

    // Directory ids: the root first, then the nodes in their order of creation.
    const std::size_t n = nodes_.size();
    std::vector<std::uint32_t> left(n, kNone), right(n, kNone), child(n, kNone);
    for (std::size_t i = 0; i < n; ++i) {
        if (!nodes_[i].storage)
            continue;
        std::vector<std::size_t> kids = nodes_[i].kids;
        std::sort(kids.begin(), kids.end(), [this](std::size_t a, std::size_t b) {
            return plat::CfbNameCompare(nodes_[a].name, nodes_[b].name) < 0;
        });
        // A balanced binary tree over the sorted children, all nodes black.
        std::function<std::uint32_t(std::size_t, std::size_t)> build = [&](std::size_t lo, std::size_t hi) {
            if (lo >= hi)
                return kNone;
            std::size_t mid = lo + (hi - lo) / 2;
            std::size_t id = kids[mid];
            left[id] = build(lo, mid);
            right[id] = build(mid + 1, hi);
            return static_cast<std::uint32_t>(id);
        };
        child[i] = build(0, kids.size());
    }

    // The mini stream and the mini FAT.
    std::string miniStream;
    std::vector<std::uint32_t> miniFat;
    std::vector<std::uint32_t> start(n, kEnd);
    for (std::size_t i = 1; i < n; ++i) {
        const Node& nd = nodes_[i];
        if (nd.storage || nd.data.empty() || nd.data.size() >= kCutoff)
            continue;
        std::uint32_t first = static_cast<std::uint32_t>(miniFat.size());
        std::uint32_t count = static_cast<std::uint32_t>((nd.data.size() + 63) / 64);
        for (std::uint32_t k = 0; k < count; ++k)
            miniFat.push_back(k + 1 < count ? first + k + 1 : kEnd);
        start[i] = first;
        miniStream += nd.data;
        miniStream.resize(miniFat.size() * 64, '\0');
    }

    auto sectorsFor = [ss](std::uint64_t bytes) { return static_cast<std::uint32_t>((bytes + ss - 1) / ss); };
    const std::uint32_t dirCount = sectorsFor(std::uint64_t(n) * 128);
    const std::uint32_t miniFatCount = sectorsFor(std::uint64_t(miniFat.size()) * 4);
    const std::uint32_t miniStreamCount = sectorsFor(miniStream.size());
    std::uint32_t bigCount = 0;
    for (std::size_t i = 1; i < n; ++i)
        if (!nodes_[i].storage && nodes_[i].data.size() >= kCutoff)
            bigCount += sectorsFor(nodes_[i].data.size());
    const std::uint32_t rest = dirCount + miniFatCount + miniStreamCount + bigCount;

    std::uint32_t fatCount = 1, difatCount = 0;
    for (;;) {
        std::uint32_t total = fatCount + difatCount + rest;
        std::uint32_t f = (total + perFat - 1) / perFat;
        std::uint32_t d = f > 109 ? (f - 109 + perFat - 2) / (perFat - 1) : 0;
        if (f <= fatCount && d <= difatCount)
            break;
        fatCount = std::max(f, fatCount);
        difatCount = std::max(d, difatCount);
    }
    const std::uint32_t total = fatCount + difatCount + rest;
    std::vector<std::uint32_t> fat(std::size_t(fatCount) * perFat, kFree);
    std::uint32_t next = 0;
    auto alloc = [&](std::uint32_t count, std::uint32_t mark, std::vector<std::uint32_t>* list) {
        std::uint32_t first = count ? next : kEnd;
        for (std::uint32_t k = 0; k < count; ++k) {
            std::uint32_t s = next++;
            fat[s] = mark ? mark : (k + 1 < count ? s + 1 : kEnd);
            if (list)
                list->push_back(s);
        }
        return first;
    };
    alloc(fatCount, kFatSect, &L.fatSectors);
    alloc(difatCount, kDifSect, &L.difatSectors);
    const std::uint32_t dirStart = alloc(dirCount, 0, &L.dirSectors);
    const std::uint32_t miniFatStart = alloc(miniFatCount, 0, &L.miniFatSectors);
    const std::uint32_t miniStreamStart = alloc(miniStreamCount, 0, &L.miniStreamSectors);
    for (std::size_t i = 1; i < n; ++i)
        if (!nodes_[i].storage && nodes_[i].data.size() >= kCutoff)
            start[i] = alloc(sectorsFor(nodes_[i].data.size()), 0, nullptr);
    if (next != total)
        throw std::logic_error("compound-file layout miscounted");

    std::string out(std::size_t(ss) * (total + 1), '\0');
    auto sectorAt = [&](std::uint32_t s) { return std::uint64_t(s + 1) * ss; };

    // Header.
    static const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(out.data(), sig, 8);
    PutLe16(out, 0x18, 0x3E);
    PutLe16(out, 0x1A, static_cast<std::uint16_t>(version_));
    PutLe16(out, 0x1C, 0xFFFE);
    PutLe16(out, 0x1E, static_cast<std::uint16_t>(shift));
    PutLe16(out, 0x20, 6);
    PutLe32(out, 0x28, version_ == 4 ? dirCount : 0);
    PutLe32(out, 0x2C, fatCount);
    PutLe32(out, 0x30, dirStart);
    PutLe32(out, 0x38, kCutoff);
    PutLe32(out, 0x3C, miniFatStart);
    PutLe32(out, 0x40, miniFatCount);
    PutLe32(out, 0x44, difatCount ? L.difatSectors[0] : kEnd);
    PutLe32(out, 0x48, difatCount);
    for (std::uint32_t i = 0; i < 109; ++i)
        PutLe32(out, 0x4C + 4 * i, i < fatCount ? L.fatSectors[i] : kFree);
    // DIFAT sectors: the FAT sectors beyond the first 109, then the next link.
    for (std::uint32_t d = 0; d < difatCount; ++d) {
        std::uint64_t base = sectorAt(L.difatSectors[d]);
        for (std::uint32_t k = 0; k + 1 < perFat; ++k) {
            std::uint32_t idx = 109 + d * (perFat - 1) + k;
            PutLe32(out, base + 4 * k, idx < fatCount ? L.fatSectors[idx] : kFree);
        }
        PutLe32(out, base + 4 * (perFat - 1), d + 1 < difatCount ? L.difatSectors[d + 1] : kEnd);
    }
    for (std::uint32_t i = 0; i < fat.size(); ++i)
        PutLe32(out, sectorAt(L.fatSectors[i / perFat]) + 4 * (i % perFat), fat[i]);
    for (std::uint32_t i = 0; i < miniFatCount * perFat; ++i)
        PutLe32(out, sectorAt(L.miniFatSectors[i / perFat]) + 4 * (i % perFat),
                i < miniFat.size() ? miniFat[i] : kFree);
    for (std::uint32_t k = 0; k < miniStreamCount; ++k) {
        std::size_t from = std::size_t(k) * ss;
        std::size_t len = std::min<std::size_t>(ss, miniStream.size() - from);
        std::memcpy(out.data() + sectorAt(L.miniStreamSectors[k]), miniStream.data() + from, len);
    }
    for (std::size_t i = 1; i < n; ++i) {
        const Node& nd = nodes_[i];
        if (nd.storage || nd.data.size() < kCutoff)
            continue;
        for (std::uint32_t k = 0; k * std::uint64_t(ss) < nd.data.size(); ++k) {
            std::size_t from = std::size_t(k) * ss;
            std::size_t len = std::min<std::size_t>(ss, nd.data.size() - from);
            std::memcpy(out.data() + sectorAt(start[i] + k), nd.data.data() + from, len);
        }
    }

    // Directory.
    for (std::uint32_t id = 0; id < dirCount * (ss / 128); ++id) {
        std::uint64_t off = L.EntryOffset(id);
        if (id >= n) {
            PutLe32(out, off + 0x44, kNone);
            PutLe32(out, off + 0x48, kNone);
            PutLe32(out, off + 0x4C, kNone);
            continue;
        }
        const Node& nd = nodes_[id];
        std::u16string name = nd.name.substr(0, 31);
        for (std::size_t c = 0; c < name.size(); ++c)
            PutLe16(out, off + 2 * c, name[c]);
        PutLe16(out, off + 0x40, static_cast<std::uint16_t>((name.size() + 1) * 2));
        out[off + 0x42] = static_cast<char>(id == 0 ? 5 : nd.storage ? 1 : 2);
        out[off + 0x43] = 1;  // black
        PutLe32(out, off + 0x44, left[id]);
        PutLe32(out, off + 0x48, right[id]);
        PutLe32(out, off + 0x4C, child[id]);
        std::memcpy(out.data() + off + 0x50, nd.clsid, 16);
        if (id == 0) {
            PutLe32(out, off + 0x74, miniStream.empty() ? kEnd : miniStreamStart);
            PutLe32(out, off + 0x78, static_cast<std::uint32_t>(miniStream.size()));
        } else if (!nd.storage) {
            PutLe32(out, off + 0x74, nd.data.empty() ? kEnd : start[id]);
            PutLe32(out, off + 0x78, static_cast<std::uint32_t>(nd.data.size()));
            if (version_ == 4)
                PutLe32(out, off + 0x7C, static_cast<std::uint32_t>(std::uint64_t(nd.data.size()) >> 32));
        }
    }
    for (std::size_t i = 1; i < n; ++i)
        L.entryIds.push_back({nodes_[i].path, static_cast<std::uint32_t>(i)});
    if (layoutOut)
        *layoutOut = std::move(L);
    return out;
}

bool CfbWriter::WriteFile(const std::string& path) const { return WriteFileBytes(path, Build()); }

}  // namespace ps_test
