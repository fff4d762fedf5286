// Writing side of the ZIP container: the archive of a package opened for
// writing is laid out again at close.
#include <algorithm>
#include <cstring>

#include <unistd.h>

#include "extract/opc/opczip.h"

namespace {

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint16_t kGrowthId = 0xA220;
constexpr uint16_t kGrowthMark = 0xA028;
// Everything the archive holds is kept in memory while it is laid out again.
constexpr uint64_t kMaxArchive = uint64_t(1) << 30;

void Put16(std::string& out, uint32_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

bool Allowed(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    return c != 0 && std::strchr("!$&'()*+,-.:;=@[]_~/", c) != nullptr;
}

// Raw deflate of data; false on a compression failure.
bool Deflate(const std::string& data, std::string* out)
{
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    out->assign(deflateBound(&z, static_cast<uLong>(data.size())) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out->data());
    z.avail_out = static_cast<uInt>(out->size());
    const int r = deflate(&z, Z_FINISH);
    out->resize(z.total_out);
    deflateEnd(&z);
    return r == Z_STREAM_END;
}

// One entry of the new layout.
struct Entry {
    std::string archiveName;
    uint16_t gpFlags = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t growthHint = 0;
    std::string body;  // data and any data descriptor
    uint32_t offset = 0;
};

// The name an entry had in the archive, from its segment.
std::string SegmentArchiveName(const OpcSegment& s)
{
    std::string name = (s.flags & 2) ? OpcRelationshipsName(s.name) : s.name;
    if (s.piece >= 0)
        name += "/[" + std::to_string(s.piece) + (s.lastPiece ? "].last.piece" : "].piece");
    return name == "[Content_Types].xml" ? name : OpcEncodeName(name);
}

}  // namespace

size_t OpcIo::Write(const void* buffer, size_t n)
{
    if (!file || !(flags & 2))
        return 0;
    const size_t put = std::fwrite(buffer, 1, n, file);
    const uint64_t end = uint64_t(position) + put;
    position = static_cast<uint32_t>(std::min<uint64_t>(end, 0xFFFFFFFFull));
    length = std::max(length, position);
    return put;
}

bool OpcIo::Truncate(uint32_t newLength)
{
    if (!file || !(flags & 2) || std::fflush(file) != 0)
        return false;
    if (ftruncate(fileno(file), static_cast<off_t>(newLength)) != 0)
        return false;
    length = newLength;
    return true;
}

bool OpcIo::Flush()
{
    return file && std::fflush(file) == 0;
}

std::string OpcEncodeName(const std::string& name)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        if (Allowed(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string OpcRelationshipsName(const std::string& part)
{
    const size_t slash = part.rfind('/');
    if (slash == std::string::npos)
        return "_rels/" + part + ".rels";
    return part.substr(0, slash + 1) + "_rels/" + part.substr(slash + 1) + ".rels";
}

bool OpcZip::Commit(const std::vector<std::pair<std::string, std::string>>& newEntries)
{
    if (!io || !io->file || !(io->flags & 2)) {
        if (io)
            io->SetError(OPC_IO_FAILURE);
        return false;
    }
    if (io->error != 0)
        return false;

    // The live segments in file order, their data and descriptors read first:
    // the new layout may overlap the old one.
    std::vector<const OpcSegment*> live;
    for (const OpcSegment& s : segments) {
        if (!(s.flags & 1))
            live.push_back(&s);
    }
    std::sort(live.begin(), live.end(), [](const OpcSegment* a, const OpcSegment* b) { return a->offset < b->offset; });
    std::vector<Entry> entries;
    uint64_t held = 0;
    for (const OpcSegment* s : live) {
        Entry e;
        e.archiveName = SegmentArchiveName(*s);
        e.gpFlags = s->gpFlags;
        e.method = s->method;
        e.crc = s->crc;
        e.compressedSize = s->compressedSize;
        e.uncompressedSize = s->uncompressedSize;
        e.growthHint = s->growthHint;
        const uint64_t start = uint64_t(s->offset) + s->headerSize + s->padding;
        const uint64_t end = uint64_t(s->offset) + s->totalSize;
        if (end > io->length || start > end) {
            io->SetError(OPC_IO_FAILURE);  // an entry cut short cannot be carried over
            return false;
        }
        held += end - start;
        if (held > kMaxArchive) {
            io->SetError(OPC_IO_MEMORY);
            return false;
        }
        e.body.resize(static_cast<size_t>(end - start));
        if (std::fseek(io->file, static_cast<long>(start), SEEK_SET) != 0 ||
            std::fread(e.body.data(), 1, e.body.size(), io->file) != e.body.size()) {
            io->SetError(OPC_IO_FAILURE);
            return false;
        }
        entries.push_back(std::move(e));
    }
    for (const auto& [name, data] : newEntries) {
        Entry e;
        e.archiveName = name == "[Content_Types].xml" ? name : OpcEncodeName(name);
        e.method = 8;
        e.crc = static_cast<uint32_t>(
            crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        if (data.size() > 0xFFFFFFFFull || !Deflate(data, &e.body)) {
            io->SetError(OPC_IO_COMPRESSION);
            return false;
        }
        e.uncompressedSize = static_cast<uint32_t>(data.size());
        e.compressedSize = static_cast<uint32_t>(e.body.size());
        held += e.body.size();
        if (held > kMaxArchive) {
            io->SetError(OPC_IO_MEMORY);
            return false;
        }
        entries.push_back(std::move(e));
    }
    if (entries.size() > 0xFFFF || std::any_of(entries.begin(), entries.end(), [](const Entry& e) {
            return e.archiveName.size() > 0xFFFF;
        })) {
        io->SetError(OPC_IO_FAILURE);
        return false;
    }

    // Local headers with the growth-hint field, data, directory, end record.
    std::string out;
    for (Entry& e : entries) {
        e.offset = static_cast<uint32_t>(out.size());
        Put32(out, kLocalSignature);
        Put16(out, 20);
        Put16(out, e.gpFlags);
        Put16(out, e.method);
        Put16(out, 0);
        Put16(out, 0);
        Put32(out, e.crc);
        Put32(out, e.compressedSize);
        Put32(out, e.uncompressedSize);
        Put16(out, static_cast<uint32_t>(e.archiveName.size()));
        Put16(out, 8);
        out += e.archiveName;
        Put16(out, kGrowthId);
        Put16(out, 4);
        Put16(out, kGrowthMark);
        Put16(out, e.growthHint);
        out += e.body;
        if (out.size() > 0xFFFFFFFFull - 0x10000) {
            io->SetError(OPC_IO_FAILURE);
            return false;
        }
    }
    const uint32_t directory = static_cast<uint32_t>(out.size());
    for (const Entry& e : entries) {
        Put32(out, kCentralSignature);
        Put16(out, 20);
        Put16(out, 20);
        Put16(out, e.gpFlags);
        Put16(out, e.method);
        Put16(out, 0);
        Put16(out, 0);
        Put32(out, e.crc);
        Put32(out, e.compressedSize);
        Put32(out, e.uncompressedSize);
        Put16(out, static_cast<uint32_t>(e.archiveName.size()));
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, 0);
        Put32(out, 0);
        Put32(out, e.offset);
        out += e.archiveName;
    }
    const uint32_t directorySize = static_cast<uint32_t>(out.size() - directory);
    Put32(out, kEndSignature);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put32(out, directorySize);
    Put32(out, directory);
    Put16(out, 0);

    if (std::fseek(io->file, 0, SEEK_SET) != 0) {
        io->SetError(OPC_IO_FAILURE);
        return false;
    }
    io->position = 0;
    if (io->Write(out.data(), out.size()) != out.size() || !io->Truncate(static_cast<uint32_t>(out.size())) ||
        !io->Flush()) {
        io->SetError(OPC_IO_FAILURE);
        return false;
    }
    return true;
}
