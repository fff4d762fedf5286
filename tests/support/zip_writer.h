// A small ZIP writer for test fixtures (OOXML packages and damaged archives).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ps_test {

struct ZipEntry {
    std::string name;            // stored as given (no escaping)
    std::string data;            // uncompressed content
    bool deflate = true;
    bool descriptor = false;     // sizes and CRC after the data (flag bit 3)
    bool descriptorSignature = true;
    std::string extra;           // raw extra-field bytes
};

class ZipWriter {
public:
    // Appends an entry; returns *this for chaining.
    ZipWriter& Add(const std::string& name, const std::string& data, bool deflate = true);
    ZipWriter& Add(const ZipEntry& entry);
    // The archive bytes: local headers with data, central directory, end record.
    std::string Bytes() const;

private:
    std::vector<ZipEntry> m_entries;
};

// Raw deflate (no zlib header) of data.
std::string RawDeflate(const std::string& data);

// A minimal OOXML package: content types for xml and rels, the package
// relationships pointing at mainPart, and the given parts.
// overrides: pairs of (part name with "/", content type).
std::string MakeOoxmlPackage(const std::vector<std::pair<std::string, std::string>>& parts,
                             const std::vector<std::pair<std::string, std::string>>& overrides,
                             bool withContentTypes = true);

}  // namespace ps_test
