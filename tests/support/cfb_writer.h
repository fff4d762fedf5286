// Builds compound files (versions 3 and 4) for test fixtures.
//
//   ps_test::CfbWriter w(3);
//   w.AddStream(u"WordDocument", bytes);           // in the root
//   w.AddStream(u"ObjectPool/_1234/\x01Ole", ole);  // storages made on the way
//   w.AddStorage(u"Empty");
//   std::string file = w.Build();
//
// Paths are separated by '/'. Streams below 4096 bytes go to the mini stream,
// larger ones to ordinary sectors, as readers expect. Build can report where
// its structures went, so tests can damage them on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ps_test {

struct CfbLayout {
    std::uint32_t sectorSize = 512;
    std::vector<std::uint32_t> fatSectors;
    std::vector<std::uint32_t> difatSectors;
    std::vector<std::uint32_t> dirSectors;
    std::vector<std::uint32_t> miniFatSectors;
    std::vector<std::uint32_t> miniStreamSectors;
    // Directory entry index of each added element, by its path as given.
    std::vector<std::pair<std::u16string, std::uint32_t>> entryIds;

    std::uint64_t SectorOffset(std::uint32_t sect) const { return (std::uint64_t(sect) + 1) * sectorSize; }
    // Offset in the file of directory entry id.
    std::uint64_t EntryOffset(std::uint32_t id) const;
    std::uint32_t EntryId(const std::u16string& path) const;
};

class CfbWriter {
public:
    explicit CfbWriter(int version = 3);

    void AddStream(const std::u16string& path, std::string data);
    void AddStorage(const std::u16string& path);
    // Sets the class id of a storage (or of the root with an empty path).
    void SetClsid(const std::u16string& path, const std::uint8_t clsid[16]);

    std::string Build(CfbLayout* layout = nullptr) const;
    bool WriteFile(const std::string& path) const;

private:
    struct Node {
        std::u16string name;
        std::u16string path;
        bool storage = false;
        std::string data;
        std::uint8_t clsid[16] = {};
        std::vector<std::size_t> kids;
    };
    std::size_t Ensure(const std::u16string& path, bool storage);

    int version_;
    std::vector<Node> nodes_;  // nodes_[0] is the root
};

// Little-endian patch helpers for damaging built files.
void PutLe32(std::string& bytes, std::uint64_t offset, std::uint32_t value);
void PutLe16(std::string& bytes, std::uint64_t offset, std::uint16_t value);
std::uint32_t GetLe32(const std::string& bytes, std::uint64_t offset);

}  // namespace ps_test
