// Small NTFS volumes built byte by byte, for the table reader's structural
// and hostile cases that the ntfs-3g tools cannot be asked to produce (a
// table with sparse runs or records split between runs, DOS names, cycles,
// damaged fields). Only what the table reader looks at is written.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ps_test {

struct SynthName {
    uint8_t nameSpace = 1;  // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
    std::u16string name;
    uint64_t parent = 5;
    uint16_t parentSequence = 1;
};

struct SynthRecord {
    uint64_t number = 0;
    bool inUse = true;
    bool folder = false;
    uint16_t sequence = 1;
    std::vector<SynthName> names;
    bool hasData = true;
    bool residentData = true;  // sizes above 256 bytes are never resident
    uint64_t dataSize = 0;
    uint64_t lastWriteTime = 0;
    uint64_t baseRecord = 0;  // an extension record of this base record
};

struct SynthRun {
    int64_t lcn = -1;  // -1: sparse
    uint64_t length = 0;
};

struct SynthVolume {
    uint16_t bytesPerSector = 512;
    uint8_t sectorsPerCluster = 8;
    uint8_t recordByte = 0xF6;  // 1024-byte records
    uint64_t mftLcn = 16;
    // Where the table's clusters lie; by default one run at mftLcn.
    std::vector<SynthRun> mftRuns;
    uint64_t mftDataSize = 0;  // 0: the runs' size
    bool attributeListInMft = false;
    uint64_t totalClusters = 0;  // 0: enough for the runs
    std::vector<SynthRecord> records;

    uint32_t clusterSize() const;
    uint32_t recordSize() const;
    // A file record in the root folder (or `parent`).
    SynthRecord& AddFile(uint64_t number, const std::u16string& name, uint64_t size, uint64_t parent = 5,
                         uint16_t parentSequence = 1);
    SynthRecord& AddFolder(uint64_t number, const std::u16string& name, uint64_t parent = 5);

    // The image bytes. recordOffsets receives the byte offset of each record
    // written (number, offset of its first byte in the image).
    std::string Build(std::vector<std::pair<uint64_t, uint64_t>>* recordOffsets = nullptr) const;
};

}  // namespace ps_test
