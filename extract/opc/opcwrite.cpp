// Writing side of the ZIP container: part data written into segments laid
// out in place, and the headers, directory and end record written at commit.
#include <algorithm>
#include <cstring>
#include <new>

#include <unistd.h>

#include "extract/opc/opczip.h"

namespace {

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint16_t kGrowthId = 0xA220;
constexpr uint16_t kGrowthMark = 0xA028;
constexpr size_t kWriteBuffer = 0x3000;
constexpr size_t kMoveBuffer = 1024;
constexpr uint16_t kDefaultGrowth = 512;
constexpr uint64_t kMaxGap = 64999;
// Offsets and sizes of the records written are 32 bits (no Zip64 records).
constexpr uint64_t kMax32 = 0xFFFFFFFFull;

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

uint64_t DataStart(const OpcSegment& s)
{
    return s.offset + s.headerSize + s.padding;
}

// End of the data and its descriptor.
uint64_t UsedEnd(const OpcSegment& s)
{
    return DataStart(s) + s.compressedSize + s.descriptorSize;
}

// The shortest header of a segment: with the growth-hint field when it has
// room for one.
uint32_t ShortHeader(const OpcSegment& s)
{
    return static_cast<uint32_t>(30 + s.archiveName.size() + (s.growthField ? 8 : 0));
}

// Indices of the segments in file order; live ones only, or all.
std::vector<int32_t> InFileOrder(const std::vector<OpcSegment>& segments, bool liveOnly)
{
    std::vector<int32_t> order;
    for (size_t i = 0; i < segments.size(); ++i) {
        if (!liveOnly || !(segments[i].flags & 1))
            order.push_back(static_cast<int32_t>(i));
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](int32_t a, int32_t b) { return segments[a].offset < segments[b].offset; });
    return order;
}

// Copies n bytes of the file from one offset to another through a small
// buffer, in the direction that is safe when the two ranges overlap.
bool MoveBytes(OpcIo* io, uint64_t from, uint64_t to, uint64_t n)
{
    if (from == to || n == 0)
        return true;
    unsigned char buffer[kMoveBuffer];
    uint64_t done = 0;
    while (done < n) {
        const size_t k = static_cast<size_t>(std::min<uint64_t>(sizeof buffer, n - done));
        const uint64_t at = to < from ? done : n - done - k;
        if (!io->Seek(from + at) || io->Read(buffer, k) != k || !io->Seek(to + at) || io->Write(buffer, k) != k)
            return false;
        done += k;
    }
    return true;
}

// Writes a local header at offset, taking exactly room bytes: without the
// growth-hint field when room is the bare header, else with it and the rest
// as padding.
bool WriteLocalHeader(OpcIo* io, uint64_t offset, const OpcSegment& s, uint64_t room)
{
    const uint64_t bare = 30 + s.archiveName.size();
    const bool field = room != bare;
    if ((field && (room < bare + 8 || room - bare - 8 > kMaxGap)) || s.compressedSize > kMax32 ||
        s.uncompressedSize > kMax32 || offset > kMax32)
        return false;
    std::string h;
    Put32(h, kLocalSignature);
    Put16(h, 20);
    Put16(h, s.gpFlags);
    Put16(h, s.method);
    Put16(h, 0);
    Put16(h, 0);
    Put32(h, s.crc);
    Put32(h, static_cast<uint32_t>(s.compressedSize));
    Put32(h, static_cast<uint32_t>(s.uncompressedSize));
    Put16(h, static_cast<uint32_t>(s.archiveName.size()));
    const uint32_t padding = field ? static_cast<uint32_t>(room - bare - 8) : 0;
    Put16(h, field ? 8 + padding : 0);
    h += s.archiveName;
    if (field) {
        Put16(h, kGrowthId);
        Put16(h, 4 + padding);
        Put16(h, kGrowthMark);
        Put16(h, s.growthHint);
        h.append(padding, '\0');
    }
    return io->Seek(offset) && io->Write(h.data(), h.size()) == h.size();
}

}  // namespace

size_t OpcIo::Write(const void* buffer, size_t n)
{
    if (!file || !(flags & 2))
        return 0;
    const size_t put = std::fwrite(buffer, 1, n, file);
    position += put;
    length = std::max(length, position);
    return put;
}

bool OpcIo::Truncate(uint64_t newLength)
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

void OpcZip::PrepareForWriting()
{
    const std::vector<int32_t> order = InFileOrder(segments, false);
    for (size_t i = 0; i < order.size(); ++i) {
        OpcSegment& s = segments[order[i]];
        const uint64_t data = DataStart(s);
        const uint64_t room = data - s.offset;
        s.growthField = room >= 38 + s.archiveName.size();
        const uint32_t shortest = ShortHeader(s);
        if (i > 0 && !(segments[order[i - 1]].flags & 1) && shortest <= room) {
            s.offset = data - shortest;
            s.headerSize = shortest;
            s.padding = 0;
        }
    }
    // Each segment's room reaches to the next one.
    for (size_t i = 0; i + 1 < order.size(); ++i) {
        OpcSegment& s = segments[order[i]];
        const uint64_t next = segments[order[i + 1]].offset;
        if (next >= UsedEnd(s))
            s.totalSize = next - s.offset;
    }
}

int32_t OpcZip::CreateSegment(const std::string& archiveName, uint16_t growthHint)
{
    uint64_t end = 0;
    for (const OpcSegment& s : segments) {
        if (!(s.flags & 1))
            end = std::max(end, s.offset + s.totalSize);
    }
    OpcSegment seg;
    seg.archiveName = archiveName;
    seg.name = OpcDecodeName(archiveName.data(), archiveName.size());
    seg.offset = end;
    seg.growthField = true;
    seg.headerSize = ShortHeader(seg);
    seg.growthHint = growthHint;
    seg.totalSize = seg.headerSize + uint64_t(growthHint ? growthHint : kDefaultGrowth);
    try {
        segments.push_back(std::move(seg));
    } catch (const std::bad_alloc&) {
        if (io)
            io->SetError(OPC_IO_MEMORY);
        return -1;
    }
    return static_cast<int32_t>(segments.size() - 1);
}

int32_t OpcZip::NextLive(int32_t index) const
{
    if (index < 0 || static_cast<size_t>(index) >= segments.size())
        return -1;
    const uint64_t offset = segments[index].offset;
    int32_t best = -1;
    for (size_t i = 0; i < segments.size(); ++i) {
        const OpcSegment& s = segments[i];
        if (static_cast<int32_t>(i) == index || (s.flags & 1) || s.offset < offset)
            continue;
        if (s.offset == offset && static_cast<int32_t>(i) < index)
            continue;
        if (best < 0 || s.offset < segments[best].offset)
            best = static_cast<int32_t>(i);
    }
    return best;
}

bool OpcZip::Commit(bool trim)
{
    if (!io || !io->file || !(io->flags & 2)) {
        if (io)
            io->SetError(OPC_IO_FAILURE);
        return false;
    }
    if (io->error != 0)
        return false;
    const std::vector<int32_t> live = InFileOrder(segments, true);
    if (live.size() > 0xFFFF) {
        io->SetError(OPC_IO_FAILURE);
        return false;
    }
    // Segments must not overlap, and the data of each must be in the file.
    uint64_t cursor = 0;
    bool tight = true;
    for (int32_t i : live) {
        const OpcSegment& s = segments[i];
        const uint64_t bare = 30 + s.archiveName.size();
        if (s.offset < cursor || (UsedEnd(s) > io->length && UsedEnd(s) > DataStart(s))) {
            io->SetError(OPC_IO_FAILURE);
            return false;
        }
        const uint64_t gap = DataStart(s) - cursor;
        if (gap != bare && (gap < bare + 8 || gap - bare - 8 > kMaxGap || !s.growthField))
            tight = false;
        cursor = UsedEnd(s);
    }

    // Closing the gaps: each segment moves down behind the one before it.
    if (!tight || trim) {
        cursor = 0;
        for (int32_t i : live) {
            OpcSegment& s = segments[i];
            const uint32_t header = ShortHeader(s);
            const uint64_t length = s.compressedSize + s.descriptorSize;
            if (cursor + header > DataStart(s) || !MoveBytes(io, DataStart(s), cursor + header, length)) {
                io->SetError(OPC_IO_FAILURE);
                return false;
            }
            s.offset = cursor;
            s.headerSize = header;
            s.padding = 0;
            cursor = UsedEnd(s);
        }
    }

    // Local headers in place, each taking the gap before its data.
    cursor = 0;
    std::string directory;
    for (int32_t i : live) {
        const OpcSegment& s = segments[i];
        if (!WriteLocalHeader(io, cursor, s, DataStart(s) - cursor)) {
            io->SetError(OPC_IO_FAILURE);
            return false;
        }
        Put32(directory, kCentralSignature);
        Put16(directory, 20);
        Put16(directory, 20);
        Put16(directory, s.gpFlags);
        Put16(directory, s.method);
        Put16(directory, 0);
        Put16(directory, 0);
        Put32(directory, s.crc);
        Put32(directory, static_cast<uint32_t>(s.compressedSize));
        Put32(directory, static_cast<uint32_t>(s.uncompressedSize));
        Put16(directory, static_cast<uint32_t>(s.archiveName.size()));
        Put16(directory, 0);
        Put16(directory, 0);
        Put16(directory, 0);
        Put16(directory, 0);
        Put32(directory, 0);
        Put32(directory, static_cast<uint32_t>(cursor));
        directory += s.archiveName;
        cursor = UsedEnd(s);
    }
    const uint64_t directoryAt = cursor;
    const size_t directorySize = directory.size();
    Put32(directory, kEndSignature);
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, static_cast<uint32_t>(live.size()));
    Put16(directory, static_cast<uint32_t>(live.size()));
    Put32(directory, static_cast<uint32_t>(directorySize));
    Put32(directory, static_cast<uint32_t>(directoryAt));
    Put16(directory, 0);
    const uint64_t end = directoryAt + directory.size();
    if (end > kMax32 || !io->Seek(directoryAt) || io->Write(directory.data(), directory.size()) != directory.size() ||
        !io->Truncate(end) || !io->Flush()) {
        io->SetError(OPC_IO_FAILURE);
        return false;
    }
    return true;
}

OpcWriteStream::OpcWriteStream(OpcZip* zip, int32_t segment) : m_zip(zip), m_segment(segment) {}

OpcWriteStream::~OpcWriteStream()
{
    if (m_deflating)
        deflateEnd(&m_z);
}

bool OpcWriteStream::Open(uint16_t method, uint16_t gpFlags)
{
    OpcIo* io = m_zip ? m_zip->io : nullptr;
    if (!io || !(io->flags & 2) || m_segment < 0 || static_cast<size_t>(m_segment) >= m_zip->segments.size() ||
        (m_zip->segments[m_segment].flags & 1)) {
        if (io)
            io->SetError(OPC_IO_FAILURE);
        return false;
    }
    if (io->error != 0)
        return false;
    if (method != 0 && method != 8) {
        io->SetError(OPC_IO_METHOD);
        return false;
    }
    if (method == 8) {
        const int option = (gpFlags >> 1) & 3;
        const int level = option == 0 ? Z_DEFAULT_COMPRESSION : option == 1 ? 9 : 1;
        if (deflateInit2(&m_z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            io->SetError(OPC_IO_COMPRESSION);
            return false;
        }
        m_deflating = true;
    }
    OpcSegment& s = m_zip->segments[m_segment];
    s.method = method;
    s.gpFlags = static_cast<uint16_t>(gpFlags & ~8u);  // sizes go into the header
    s.descriptorSize = 0;
    s.compressedSize = 0;
    s.uncompressedSize = 0;
    s.crc = 0;
    m_method = method;
    m_crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
    m_buffer.resize(kWriteBuffer);
    m_open = true;
    return true;
}

bool OpcWriteStream::Put(const unsigned char* bytes, size_t n)
{
    OpcIo* io = m_zip->io;
    if (n == 0)
        return true;
    OpcSegment* s = &m_zip->segments[m_segment];
    const uint64_t need = s->headerSize + s->padding + m_written + n;
    if (need > s->totalSize) {
        if (m_zip->NextLive(m_segment) >= 0) {
            // Another segment follows: the data moves to a new one at the end.
            const int32_t moved = m_zip->CreateSegment(s->archiveName, s->growthHint);
            if (moved < 0)
                return false;
            s = &m_zip->segments[m_segment];
            OpcSegment& t = m_zip->segments[moved];
            t.name = s->name;
            t.flags = s->flags & 2;
            t.piece = s->piece;
            t.lastPiece = s->lastPiece;
            t.method = s->method;
            t.gpFlags = s->gpFlags;
            if (!MoveBytes(io, DataStart(*s), DataStart(t), m_written)) {
                io->SetError(OPC_IO_FAILURE);
                return false;
            }
            m_zip->FreeSegment(m_segment);
            m_segment = moved;
            s = &m_zip->segments[m_segment];
        }
        // The last segment grows by its growth hint as often as needed.
        const uint64_t step = s->growthHint ? s->growthHint : kDefaultGrowth;
        while (s->headerSize + s->padding + m_written + n > s->totalSize)
            s->totalSize += step;
    }
    if (!io->Seek(DataStart(*s) + m_written) || io->Write(bytes, n) != n) {
        io->SetError(OPC_IO_FAILURE);
        return false;
    }
    m_written += n;
    return true;
}

bool OpcWriteStream::Flush(int mode)
{
    while (true) {
        m_z.next_out = m_buffer.data();
        m_z.avail_out = static_cast<uInt>(m_buffer.size());
        const int zr = deflate(&m_z, mode);
        if (zr != Z_OK && zr != Z_STREAM_END && zr != Z_BUF_ERROR) {
            m_zip->io->SetError(OPC_IO_COMPRESSION);
            return false;
        }
        if (!Put(m_buffer.data(), m_buffer.size() - m_z.avail_out))
            return false;
        if (mode == Z_FINISH ? zr == Z_STREAM_END : (m_z.avail_in == 0 && m_z.avail_out != 0))
            return true;
    }
}

bool OpcWriteStream::Write(const void* data, size_t n)
{
    if (!m_open || m_zip->io->error != 0)
        return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t done = 0;
    while (done < n) {
        const size_t k = std::min<size_t>(n - done, kWriteBuffer);
        m_crc = static_cast<uint32_t>(crc32(m_crc, bytes + done, static_cast<uInt>(k)));
        m_in += k;
        if (m_method == 0) {
            if (!Put(bytes + done, k))
                return false;
        } else {
            m_z.next_in = const_cast<Bytef*>(bytes + done);
            m_z.avail_in = static_cast<uInt>(k);
            if (!Flush(Z_NO_FLUSH))
                return false;
        }
        done += k;
    }
    return true;
}

bool OpcWriteStream::Close()
{
    if (!m_open)
        return false;
    m_open = false;
    bool ok = m_zip->io->error == 0;
    if (m_deflating) {
        if (ok) {
            m_z.next_in = nullptr;
            m_z.avail_in = 0;
            ok = Flush(Z_FINISH);
        }
        deflateEnd(&m_z);
        m_deflating = false;
    }
    if (!ok)
        return false;
    OpcSegment& s = m_zip->segments[m_segment];
    s.crc = m_crc;
    s.compressedSize = m_written;
    s.uncompressedSize = m_in;
    return true;
}
