#include "ntfs_synth.h"

#include <algorithm>
#include <cstring>

namespace ps_test {

namespace {

void Put16(std::string& s, size_t at, uint16_t v) {
    s[at] = char(v);
    s[at + 1] = char(v >> 8);
}
void Put32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = char(v >> (8 * i));
}
void Put64(std::string& s, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) s[at + i] = char(v >> (8 * i));
}

// Appends one attribute (header and value) and returns its offset.
size_t AddResident(std::string& rec, size_t& pos, uint32_t type, const std::string& value) {
    size_t len = (0x18 + value.size() + 7) / 8 * 8;
    size_t at = pos;
    Put32(rec, at, type);
    Put32(rec, at + 4, uint32_t(len));
    rec[at + 8] = 0;  // resident
    Put32(rec, at + 0x10, uint32_t(value.size()));
    Put16(rec, at + 0x14, 0x18);
    std::memcpy(&rec[at + 0x18], value.data(), value.size());
    pos += len;
    return at;
}

std::string EncodeRuns(const std::vector<SynthRun>& runs) {
    std::string out;
    int64_t prev = 0;
    for (const SynthRun& r : runs) {
        std::string len, off;
        uint64_t l = r.length;
        do {
            len.push_back(char(l & 0xFF));
            l >>= 8;
        } while (l);
        if (r.lcn >= 0) {
            int64_t d = r.lcn - prev;
            prev = r.lcn;
            // Signed little-endian, as short as the sign allows.
            while (true) {
                off.push_back(char(d & 0xFF));
                int64_t rest = d >> 8;
                bool neg = off.back() & 0x80;
                if ((rest == 0 && !neg) || (rest == -1 && neg)) break;
                d = rest;
            }
        }
        out.push_back(char(len.size() | (off.size() << 4)));
        out += len;
        out += off;
    }
    out.push_back('\0');
    return out;
}

}  // namespace

uint32_t SynthVolume::clusterSize() const { return uint32_t(bytesPerSector) * sectorsPerCluster; }

uint32_t SynthVolume::recordSize() const {
    int8_t b = int8_t(recordByte);
    return b > 0 ? uint32_t(b) * clusterSize() : (1u << (-b));
}

SynthRecord& SynthVolume::AddFile(uint64_t number, const std::u16string& name, uint64_t size, uint64_t parent,
                                  uint16_t parentSequence) {
    SynthRecord r;
    r.number = number;
    r.names.push_back({1, name, parent, parentSequence});
    r.dataSize = size;
    r.lastWriteTime = 130000000000000000ULL + number;
    records.push_back(r);
    return records.back();
}

SynthRecord& SynthVolume::AddFolder(uint64_t number, const std::u16string& name, uint64_t parent) {
    SynthRecord& r = AddFile(number, name, 0, parent);
    r.folder = true;
    r.hasData = false;
    return r;
}

std::string SynthVolume::Build(std::vector<std::pair<uint64_t, uint64_t>>* recordOffsets) const {
    const uint32_t cs = clusterSize();
    const uint32_t rs = recordSize();
    std::vector<SynthRun> runs = mftRuns;
    if (runs.empty()) {
        uint64_t maxRec = 16;
        for (const SynthRecord& r : records) maxRec = std::max(maxRec, r.number + 1);
        runs.push_back({int64_t(mftLcn), (maxRec * rs + cs - 1) / cs});
    }
    uint64_t clusters = 64;
    uint64_t vcnTotal = 0;
    for (const SynthRun& r : runs) {
        if (r.lcn >= 0) clusters = std::max(clusters, uint64_t(r.lcn) + r.length + 1);
        vcnTotal += r.length;
    }
    if (totalClusters) clusters = totalClusters;
    std::string img(size_t(clusters * cs), '\0');

    // Boot sector.
    std::memcpy(&img[3], "NTFS    ", 8);
    Put16(img, 0x0B, bytesPerSector);
    img[0x0D] = char(sectorsPerCluster);
    Put64(img, 0x28, clusters * cs / bytesPerSector - 1);
    Put64(img, 0x30, runs.front().lcn >= 0 ? uint64_t(runs.front().lcn) : mftLcn);
    img[0x40] = char(recordByte);
    img[0x1FE] = char(0x55);
    img[0x1FF] = char(0xAA);

    auto writeVirtual = [&](uint64_t vbyte, const std::string& bytes) -> int64_t {
        int64_t first = -1;
        for (size_t i = 0; i < bytes.size(); ++i) {
            uint64_t vcn = (vbyte + i) / cs, base = 0;
            for (const SynthRun& r : runs) {
                if (vcn < base + r.length) {
                    if (r.lcn < 0) return -1;
                    uint64_t phys = (uint64_t(r.lcn) + (vcn - base)) * cs + (vbyte + i) % cs;
                    if (phys >= img.size()) return -1;
                    if (first < 0) first = int64_t(phys);
                    img[phys] = bytes[i];
                    break;
                }
                base += r.length;
            }
        }
        return first;
    };

    auto makeRecord = [&](const SynthRecord& r, bool mft) {
        std::string rec(rs, '\0');
        std::memcpy(&rec[0], "FILE", 4);
        const uint16_t usaCount = uint16_t(rs / 512 + 1);
        Put16(rec, 4, 0x30);
        Put16(rec, 6, usaCount);
        Put16(rec, 0x10, r.sequence);
        size_t first = (0x30 + 2 * usaCount + 7) / 8 * 8;
        Put16(rec, 0x14, uint16_t(first));
        Put16(rec, 0x16, uint16_t((r.inUse ? 1 : 0) | (r.folder ? 2 : 0)));
        Put64(rec, 0x20, r.baseRecord);
        size_t pos = first;
        std::string si(0x30, '\0');
        Put64(si, 0x08, r.lastWriteTime);
        if (!r.baseRecord) AddResident(rec, pos, 0x10, si);
        if (mft && attributeListInMft) AddResident(rec, pos, 0x20, std::string(0x20, '\0'));
        for (const SynthName& n : r.names) {
            std::string v(0x42 + 2 * n.name.size(), '\0');
            Put64(v, 0, (uint64_t(n.parentSequence) << 48) | n.parent);
            v[0x40] = char(n.name.size());
            v[0x41] = char(n.nameSpace);
            for (size_t i = 0; i < n.name.size(); ++i) Put16(v, 0x42 + 2 * i, n.name[i]);
            AddResident(rec, pos, 0x30, v);
        }
        if (mft) {
            std::string rl = EncodeRuns(runs);
            size_t len = (0x40 + rl.size() + 7) / 8 * 8;
            Put32(rec, pos, 0x80);
            Put32(rec, pos + 4, uint32_t(len));
            rec[pos + 8] = 1;
            Put64(rec, pos + 0x10, 0);
            Put64(rec, pos + 0x18, vcnTotal - 1);
            Put16(rec, pos + 0x20, 0x40);
            Put64(rec, pos + 0x28, vcnTotal * cs);
            Put64(rec, pos + 0x30, mftDataSize ? mftDataSize : vcnTotal * cs);
            Put64(rec, pos + 0x38, mftDataSize ? mftDataSize : vcnTotal * cs);
            std::memcpy(&rec[pos + 0x40], rl.data(), rl.size());
            pos += len;
            AddResident(rec, pos, 0xB0, std::string(8, '\xFF'));
        } else if (r.hasData) {
            if (r.residentData && r.dataSize <= 256) {
                AddResident(rec, pos, 0x80, std::string(size_t(r.dataSize), 'x'));
            } else {
                size_t len = 0x48;
                Put32(rec, pos, 0x80);
                Put32(rec, pos + 4, uint32_t(len));
                rec[pos + 8] = 1;
                Put16(rec, pos + 0x20, 0x40);
                Put64(rec, pos + 0x30, r.dataSize);
                Put64(rec, pos + 0x38, r.dataSize);
                pos += len;  // an empty run list (a zero byte)
            }
        }
        Put32(rec, pos, 0xFFFFFFFF);
        pos += 8;
        Put32(rec, 0x18, uint32_t(pos));
        Put32(rec, 0x1C, rs);
        // Update sequence: number 1, each sector's last word saved in the array.
        Put16(rec, 0x30, 1);
        for (size_t i = 1; i < usaCount; ++i) {
            size_t at = 512 * i - 2;
            rec[0x30 + 2 * i] = rec[at];
            rec[0x30 + 2 * i + 1] = rec[at + 1];
            Put16(rec, at, 1);
        }
        return rec;
    };

    SynthRecord mftRec;
    mftRec.number = 0;
    mftRec.names.push_back({3, u"$MFT", 5, 5});
    int64_t off = writeVirtual(0, makeRecord(mftRec, true));
    if (recordOffsets) recordOffsets->push_back({0, uint64_t(off)});
    bool haveRoot = false;
    for (const SynthRecord& r : records) haveRoot |= r.number == 5;
    std::vector<SynthRecord> all = records;
    if (!haveRoot) {
        SynthRecord root;
        root.number = 5;
        root.folder = true;
        root.sequence = 5;
        root.hasData = false;
        root.names.push_back({3, u".", 5, 5});
        all.push_back(root);
    }
    for (const SynthRecord& r : all) {
        off = writeVirtual(r.number * rs, makeRecord(r, false));
        if (recordOffsets && off >= 0) recordOffsets->push_back({r.number, uint64_t(off)});
    }
    return img;
}

}  // namespace ps_test
