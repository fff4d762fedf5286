#include "extract/opc/opczip.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kDescriptorSignature = 0x08074B50;
constexpr size_t kIoBuffer = 0x3000;
constexpr size_t kMaxName = 511;

uint16_t Le16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Le32(const unsigned char* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool EndsWith(const std::string& s, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Sequential reader over the file used by the scan.
class ScanReader {
public:
    explicit ScanReader(OpcIo* io) : m_io(io) {}

    // Offset of the next byte to be read.
    uint64_t Tell() const { return m_offset; }
    // Reads exactly n bytes; false at the end of the file.
    bool Read(void* out, size_t n)
    {
        if (!m_io->Seek(static_cast<uint32_t>(m_offset)))
            return false;
        size_t got = m_io->Read(out, n);
        m_offset += got;
        return got == n;
    }
    // Passes n bytes; false when the file ends before.
    bool Skip(uint64_t n)
    {
        if (m_offset + n > m_io->length) {
            m_offset = m_io->length;
            return false;
        }
        m_offset += n;
        return true;
    }
    bool AtOrPast(uint64_t n) const { return m_offset >= n; }

private:
    OpcIo* m_io;
    uint64_t m_offset = 0;
};

}  // namespace

size_t OpcIo::Read(void* buffer, size_t n)
{
    // A failed part stream does not stop the others: errors are the
    // stream's own, the scan's errors end the open.
    if (!file)
        return 0;
    size_t got = std::fread(buffer, 1, n, file);
    position += static_cast<uint32_t>(got);
    return got;
}

bool OpcIo::Seek(uint32_t offset)
{
    if (!file)
        return false;
    if (offset == position)
        return true;
    if (offset > length)
        return false;
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0)
        return false;
    position = offset;
    return true;
}

void OpcIo::Close()
{
    if (file)
        std::fclose(file);
    file = nullptr;
}

bool OpcIoOpen(OpcIo* io, const std::string& path, int mode)
{
    if (mode == 0) {
        io->file = std::fopen(path.c_str(), "rb");
        io->flags = 1;
    } else if (mode == 1) {
        io->file = std::fopen(path.c_str(), "w+b");
        io->flags = 1 | 2 | 4;
    } else {
        io->file = std::fopen(path.c_str(), "r+b");
        io->flags = 1 | 2;
        if (!io->file && errno == ENOENT) {
            io->file = std::fopen(path.c_str(), "w+b");
            io->flags |= 4;
        }
    }
    if (!io->file) {
        io->SetError(OPC_IO_FAILURE);
        return false;
    }
    if (std::fseek(io->file, 0, SEEK_END) != 0) {
        io->Close();
        io->SetError(OPC_IO_FAILURE);
        return false;
    }
    long size = std::ftell(io->file);
    std::rewind(io->file);
    io->position = 0;
    // Offsets of the format are 32 bits; a larger file is read up to 4 GiB.
    io->length = size < 0 ? 0 : static_cast<uint32_t>(std::min<long long>(size, 0xFFFFFFFFLL));
    return true;
}

std::string OpcDecodeName(const char* bytes, size_t n)
{
    std::string name;
    for (size_t i = 0; i < n && name.size() < kMaxName; ++i) {
        char c = bytes[i];
        if (c == '%') {
            int hi = i + 1 < n ? HexValue(bytes[i + 1]) : -1;
            int lo = i + 2 < n ? HexValue(bytes[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                break;
            c = static_cast<char>(hi * 16 + lo);
            i += 2;
        }
        if (c == '\0')
            break;
        name += c;
    }
    return name;
}

OpcEntryKind OpcClassifyName(std::string& name, int32_t* piece, bool* lastPiece)
{
    *piece = -1;
    *lastPiece = false;
    // Interleaved pieces: ".../[n].piece" or ".../[n].last.piece".
    for (const char* ending : {"].last.piece", "].piece"}) {
        if (!EndsWith(name, ending))
            continue;
        size_t open = name.rfind("/[");
        size_t digitsEnd = name.size() - std::strlen(ending);
        if (open == std::string::npos || open + 2 >= digitsEnd)
            continue;
        bool digits = std::all_of(name.begin() + open + 2, name.begin() + digitsEnd,
                                  [](char c) { return c >= '0' && c <= '9'; });
        if (!digits || digitsEnd - open - 2 > 9)
            continue;
        *piece = std::stoi(name.substr(open + 2, digitsEnd - open - 2));
        *lastPiece = std::strcmp(ending, "].last.piece") == 0;
        name.resize(open);
        break;
    }
    if (name == "[Content_Types].xml")
        return OpcEntryKind::ContentTypes;
    if (!name.empty() && (name.back() == '/' || name.back() == '\\'))
        return OpcEntryKind::Folder;
    if (EndsWith(name, ".rels")) {
        size_t slash = name.rfind('/');
        size_t folderStart = slash == std::string::npos ? 0 : slash + 1;
        // The last folder must be "_rels".
        std::string folder;
        std::string prefix;
        if (slash != std::string::npos) {
            size_t prev = name.rfind('/', slash == 0 ? std::string::npos : slash - 1);
            size_t start = (prev == std::string::npos || slash == 0) ? 0 : prev + 1;
            if (slash == 0)
                start = 0;
            folder = name.substr(start, slash - start);
            prefix = name.substr(0, start);
        }
        if (folder == "_rels") {
            std::string file = name.substr(folderStart, name.size() - folderStart - 5);
            name = prefix + file;
            return OpcEntryKind::Relationships;
        }
    }
    return OpcEntryKind::Data;
}

void OpcZip::FreeSegment(int32_t index)
{
    if (index < 0 || static_cast<size_t>(index) >= segments.size())
        return;
    segments[index].flags |= 1;
    segments[index].nextFree = freeHead;
    freeHead = index;
}

bool OpcZip::Scan(const std::function<bool(int32_t, OpcEntryKind)>& add)
{
    ScanReader in(io);
    std::vector<unsigned char> scratch(kIoBuffer);
    std::vector<unsigned char> input(kIoBuffer);
    while (true) {
        const uint64_t headerOffset = in.Tell();
        unsigned char h[30];
        if (headerOffset + 30 > io->length || !in.Read(h, 30) || Le32(h) != kLocalSignature)
            return io->error == 0;
        OpcSegment seg;
        seg.offset = static_cast<uint32_t>(headerOffset);
        seg.gpFlags = Le16(h + 6);
        seg.method = Le16(h + 8);
        seg.crc = Le32(h + 14);
        seg.compressedSize = Le32(h + 18);
        seg.uncompressedSize = Le32(h + 22);
        const uint16_t nameLength = Le16(h + 26);
        const uint16_t extraLength = Le16(h + 28);
        std::string raw(nameLength, '\0');
        if (!in.Read(raw.data(), nameLength))
            return io->error == 0;  // a header cut short ends the archive
        seg.name = OpcDecodeName(raw.data(), raw.size());

        // Extra fields: the growth hint is kept, anything else passed over.
        uint32_t extraLeft = extraLength;
        while (extraLeft > 0) {
            unsigned char f[4];
            if (extraLeft < 4 || !in.Read(f, 4)) {
                io->SetError(OPC_IO_FAILURE);
                return false;
            }
            extraLeft -= 4;
            const uint16_t id = Le16(f);
            const uint16_t size = Le16(f + 2);
            if (size > extraLeft) {
                io->SetError(OPC_IO_FAILURE);
                return false;
            }
            if (id == 0xA220) {
                unsigned char g[4];
                if (size < 4 || !in.Read(g, 4) || Le16(g) != 0xA028) {
                    io->SetError(OPC_IO_FAILURE);
                    return false;
                }
                seg.growthHint = Le16(g + 2);
                seg.padding = static_cast<uint16_t>(size - 4);
                if (!in.Skip(size - 4u)) {
                    io->SetError(OPC_IO_FAILURE);
                    return false;
                }
            } else if (!in.Skip(size)) {
                io->SetError(OPC_IO_FAILURE);
                return false;
            }
            extraLeft -= size;
        }
        seg.headerSize = 30u + nameLength + extraLength - seg.padding;
        const uint64_t dataStart = in.Tell();

        // Pass over the data.
        uint64_t dataLength = seg.compressedSize;
        uint64_t descriptorLength = 0;
        if (!(seg.gpFlags & 8)) {
            if (!in.Skip(seg.compressedSize)) {
                // Data running past the end: the entry is kept, its stream
                // will come up short; nothing follows it.
            }
        } else if (seg.method == 8) {
            z_stream z{};
            if (inflateInit2(&z, -15) != Z_OK) {
                io->SetError(OPC_IO_COMPRESSION);
                return false;
            }
            uint64_t consumed = 0;
            uint64_t produced = 0;
            int zr = Z_OK;
            while (zr != Z_STREAM_END) {
                if (z.avail_in == 0) {
                    const uint64_t left = io->length > in.Tell() ? io->length - in.Tell() : 0;
                    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, input.size()));
                    if (n == 0 || !in.Read(input.data(), n)) {
                        zr = Z_DATA_ERROR;
                        break;
                    }
                    z.next_in = input.data();
                    z.avail_in = static_cast<uInt>(n);
                }
                z.next_out = scratch.data();
                z.avail_out = static_cast<uInt>(scratch.size());
                const uInt before = z.avail_in;
                zr = inflate(&z, Z_NO_FLUSH);
                consumed += before - z.avail_in;
                produced += scratch.size() - z.avail_out;
                if (zr != Z_OK && zr != Z_STREAM_END)
                    break;
                if (produced > 0xFFFFFFFFull) {
                    zr = Z_DATA_ERROR;
                    break;
                }
            }
            inflateEnd(&z);
            if (zr != Z_STREAM_END) {
                io->SetError(OPC_IO_COMPRESSION);
                return false;
            }
            // Return the unused input to the reader: position after the stream.
            const uint64_t after = dataStart + consumed;
            unsigned char d[16];
            ScanReader back(io);
            back.Skip(after);
            if (!back.Read(d, 12)) {
                io->SetError(OPC_IO_FAILURE);
                return false;
            }
            const unsigned char* p = d;
            descriptorLength = 12;
            if (Le32(d) == kDescriptorSignature) {
                if (!back.Read(d + 12, 4)) {
                    io->SetError(OPC_IO_FAILURE);
                    return false;
                }
                p = d + 4;
                descriptorLength = 16;
            }
            if (Le32(p + 4) != consumed || Le32(p + 8) != produced) {
                io->SetError(OPC_IO_COMPRESSION);
                return false;
            }
            seg.crc = Le32(p);
            seg.compressedSize = static_cast<uint32_t>(consumed);
            seg.uncompressedSize = static_cast<uint32_t>(produced);
            dataLength = consumed;
            in = back;
        } else {
            // Search the descriptor: the first position whose following 12
            // bytes (after an optional signature) hold the CRC-32 and the
            // length of the bytes before it.
            std::vector<unsigned char> window;
            window.reserve(16);
            uLong crcBefore = crc32(0L, Z_NULL, 0);  // CRC of the bytes that left the window
            uint64_t passed = 0;                     // bytes that left the window
            bool found = false;
            unsigned char b;
            while (!found) {
                if (!in.Read(&b, 1)) {
                    io->SetError(OPC_IO_FAILURE);
                    return false;
                }
                window.push_back(b);
                if (window.size() > 16) {
                    crcBefore = crc32(crcBefore, window.data(), 1);
                    window.erase(window.begin());
                    ++passed;
                }
                // Without signature: the last 12 bytes are the descriptor.
                if (window.size() >= 12) {
                    const size_t lead = window.size() - 12;
                    const uint64_t length = passed + lead;
                    const uLong c = crc32(crcBefore, window.data(), static_cast<uInt>(lead));
                    const unsigned char* dsc = window.data() + lead;
                    if (Le32(dsc) == c && Le32(dsc + 4) == length && Le32(dsc + 8) == length) {
                        found = true;
                        dataLength = length;
                        descriptorLength = 12;
                        seg.crc = static_cast<uint32_t>(c);
                    }
                }
                if (!found && window.size() == 16) {
                    const uint64_t length = passed;
                    const unsigned char* dsc = window.data();
                    if (Le32(dsc) == kDescriptorSignature && Le32(dsc + 4) == crcBefore &&
                        Le32(dsc + 8) == length && Le32(dsc + 12) == length) {
                        found = true;
                        dataLength = length;
                        descriptorLength = 16;
                        seg.crc = static_cast<uint32_t>(crcBefore);
                    }
                }
            }
            seg.compressedSize = static_cast<uint32_t>(dataLength);
            seg.uncompressedSize = static_cast<uint32_t>(dataLength);
        }
        const uint64_t total = uint64_t(seg.headerSize) + seg.padding + dataLength + descriptorLength;
        seg.totalSize = static_cast<uint32_t>(std::min<uint64_t>(total, 0xFFFFFFFFull));

        int32_t piece;
        bool last;
        const OpcEntryKind kind = OpcClassifyName(seg.name, &piece, &last);
        seg.piece = piece;
        seg.lastPiece = last;
        if (kind == OpcEntryKind::Relationships)
            seg.flags |= 2;
        segments.push_back(std::move(seg));
        const int32_t index = static_cast<int32_t>(segments.size() - 1);
        if (kind == OpcEntryKind::Folder) {
            FreeSegment(index);
        } else if (!add(index, kind)) {
            io->SetError(OPC_IO_MEMORY);
            return false;
        }
        if (in.Tell() >= io->length)
            return io->error == 0;
    }
}

OpcEntryStream::OpcEntryStream(OpcIo* io, const OpcSegment& segment) : m_io(io), m_seg(segment) {}

OpcEntryStream::~OpcEntryStream()
{
    if (m_inflating)
        inflateEnd(&m_z);
}

bool OpcEntryStream::Open()
{
    m_dataStart = m_seg.offset + m_seg.headerSize + m_seg.padding;
    if (m_seg.method == 8) {
        if (inflateInit2(&m_z, -15) != Z_OK) {
            m_error = OPC_IO_COMPRESSION;
            return false;
        }
        m_inflating = true;
        m_in.resize(kIoBuffer);
    } else if (m_seg.method != 0) {
        m_error = OPC_IO_METHOD;
        return false;
    }
    m_open = true;
    return true;
}

int OpcEntryStream::Read(char* buffer, int len)
{
    if (!m_open || m_error != 0 || len <= 0 || m_streamEnd)
        return 0;
    if (m_seg.method == 0) {
        const uint32_t left = m_seg.compressedSize - m_consumed;
        const size_t n = std::min<size_t>(left, static_cast<size_t>(len));
        if (n == 0)
            return 0;
        if (!m_io->Seek(m_dataStart + m_consumed)) {
            m_error = OPC_IO_FAILURE;
            return 0;
        }
        const size_t got = m_io->Read(buffer, n);
        m_consumed += static_cast<uint32_t>(got);
        m_produced += static_cast<uint32_t>(got);
        return static_cast<int>(got);
    }
    m_z.next_out = reinterpret_cast<Bytef*>(buffer);
    m_z.avail_out = static_cast<uInt>(len);
    while (m_z.avail_out > 0) {
        if (m_z.avail_in == 0) {
            const uint32_t left = m_seg.compressedSize - m_consumed;
            const size_t n = std::min<size_t>(left, m_in.size());
            if (n > 0) {
                if (!m_io->Seek(m_dataStart + m_consumed)) {
                    m_error = OPC_IO_FAILURE;
                    return 0;
                }
                const size_t got = m_io->Read(m_in.data(), n);
                m_consumed += static_cast<uint32_t>(got);
                m_z.next_in = m_in.data();
                m_z.avail_in = static_cast<uInt>(got);
            }
        }
        const uInt before = m_z.avail_out;
        const uInt beforeIn = m_z.avail_in;
        const int zr = inflate(&m_z, Z_NO_FLUSH);
        if (zr == Z_STREAM_END) {
            m_streamEnd = true;
            break;
        }
        // An inflate error, or a call that makes no progress (the input ran
        // out before the end of the deflate stream).
        if (zr != Z_OK || (m_z.avail_out == before && m_z.avail_in == beforeIn)) {
            m_error = OPC_IO_COMPRESSION;
            break;
        }
    }
    const int delivered = len - static_cast<int>(m_z.avail_out);
    m_produced += static_cast<uint32_t>(delivered);
    // A stream that inflates beyond its declared size is damaged: stop there.
    if (m_seg.uncompressedSize != 0 && m_produced > m_seg.uncompressedSize)
        m_error = OPC_IO_COMPRESSION;
    return m_error != 0 && delivered == 0 ? 0 : delivered;
}

void OpcEntryStream::Close()
{
    if (!m_open)
        return;
    m_open = false;
    if (m_inflating) {
        const uint32_t unusedInput = m_z.avail_in;
        if (inflateEnd(&m_z) != Z_OK ||
            (m_streamEnd && (m_consumed - unusedInput != m_seg.compressedSize ||
                             m_seg.uncompressedSize == 0 || m_produced != m_seg.uncompressedSize)))
            m_error = OPC_IO_COMPRESSION;
        m_inflating = false;
    } else if (m_consumed != m_seg.compressedSize) {
        m_error = OPC_IO_COMPRESSION;
    }
}
