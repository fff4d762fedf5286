#include "extract/opc/opczip.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "platform/docfile.h"

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

}  // namespace

size_t OpcIo::Read(void* buffer, size_t n)
{
    // A failed part stream does not stop the others: errors are the
    // stream's own, the scan's errors end the open.
    if (!file || plat::ReadCancelled())
        return 0;
    size_t got = std::fread(buffer, 1, n, file);
    position += got;
    return got;
}

bool OpcIo::Seek(uint64_t offset)
{
    if (!file)
        return false;
    // A file open for writing is always positioned anew: reads and writes
    // of one stream must be separated by a seek. Writes may reach past the end.
    const bool writing = (flags & 2) != 0;
    if (offset == position && !writing)
        return true;
    if (offset > length && !writing)
        return false;
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0)
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
        io->file = plat::OpenDocumentStream(path);
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
    const off_t size = ftello(io->file);
    std::rewind(io->file);
    io->position = 0;
    io->length = size < 0 ? 0 : static_cast<uint64_t>(size);
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
    // A segment freed twice would link the free list to itself.
    if (index < 0 || static_cast<size_t>(index) >= segments.size() || (segments[index].flags & 1))
        return;
    segments[index].flags |= 1;
    segments[index].nextFree = freeHead;
    freeHead = index;
}

namespace {

constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr uint32_t kZip64EndSignature = 0x06064B50;
constexpr uint64_t kMaxEntries = uint64_t(1) << 20;

uint64_t Le64(const unsigned char* p)
{
    return uint64_t(Le32(p)) | (uint64_t(Le32(p + 4)) << 32);
}

// Reads exactly n bytes at offset.
bool ReadAt(OpcIo* io, uint64_t offset, void* out, size_t n)
{
    if (offset > io->length || io->length - offset < n || !io->Seek(offset))
        return false;
    return io->Read(out, n) == n;
}

// The end of central directory: entry count, directory size and offset, from
// the end record or, when a Zip64 locator precedes it, the Zip64 end record.
struct Directory {
    uint64_t entries = 0;
    uint64_t size = 0;
    uint64_t offset = 0;
    uint64_t end = 0;  // where the directory must end
};

// False when the archive is not read; *damage then names the damage that
// refused it (a file cut before its end record, a directory placed or sized
// past the file), or stays null when the archive is one this reader does not
// take (spread over several disks, more entries than any package has).
// Bytes after the end record's comment are nothing the archive names, and
// are passed over as every ZIP tool does.
bool FindDirectory(OpcIo* io, Directory* dir, const char** damage)
{
    const uint64_t tailLength = std::min<uint64_t>(io->length, 22 + 0xFFFF);
    const uint64_t tailStart = io->length - tailLength;
    std::vector<unsigned char> tail(static_cast<size_t>(tailLength));
    *damage = "구조가 끝나지 않음";
    if (tailLength < 22 || !ReadAt(io, tailStart, tail.data(), tail.size()))
        return false;
    // The last end record whose comment fits in the file.
    size_t at = tail.size() - 22;
    while (true) {
        if (Le32(&tail[at]) == kEndSignature && at + 22 + Le16(&tail[at + 20]) <= tail.size())
            break;
        if (at == 0)
            return false;
        --at;
    }
    const unsigned char* e = &tail[at];
    *damage = nullptr;
    if (Le16(e + 4) != 0 || Le16(e + 6) != 0)
        return false;  // archives spread over several disks are not read
    *damage = "디렉터리 항목 수 불일치";
    if (Le16(e + 8) != Le16(e + 10))
        return false;  // one disk, whose count must be the archive's
    const uint64_t endRecord = tailStart + at;
    dir->entries = Le16(e + 10);
    dir->size = Le32(e + 12);
    dir->offset = Le32(e + 16);
    dir->end = endRecord;
    unsigned char loc[20];
    *damage = "디렉터리 손상";
    if (endRecord >= 20 && ReadAt(io, endRecord - 20, loc, 20) && Le32(loc) == kZip64LocatorSignature) {
        const uint64_t recordAt = Le64(loc + 8);
        unsigned char r[56];
        if (recordAt > endRecord - 20 || !ReadAt(io, recordAt, r, 56) || Le32(r) != kZip64EndSignature ||
            Le32(r + 16) != 0 || Le32(r + 20) != 0 || Le64(r + 24) != Le64(r + 32))
            return false;
        dir->entries = Le64(r + 32);
        dir->size = Le64(r + 40);
        dir->offset = Le64(r + 48);
        dir->end = recordAt;
    }
    // The directory lies before its end record, and every entry takes at
    // least 46 bytes of it; more entries than any package has are refused.
    if (dir->offset > dir->end || dir->size > dir->end - dir->offset || dir->entries > dir->size / 46)
        return false;
    *damage = nullptr;
    return dir->entries <= kMaxEntries;
}

// Reads the extra fields of a local header into seg (growth hint and the
// padding after it). False when a field runs past the area.
bool ReadLocalExtra(const unsigned char* p, size_t n, OpcSegment* seg)
{
    size_t at = 0;
    while (at < n) {
        if (n - at < 4)
            return false;
        const uint16_t id = Le16(p + at);
        const uint16_t size = Le16(p + at + 2);
        at += 4;
        if (size > n - at)
            return false;
        if (id == 0xA220) {
            if (size < 4 || Le16(p + at) != 0xA028)
                return false;
            seg->growthHint = Le16(p + at + 2);
            seg->padding = static_cast<uint16_t>(size - 4);
            seg->growthField = true;
        }
        at += size;
    }
    return true;
}

// Whether the local header h (30 bytes) tells the directory's story for seg:
// method, and unless the header defers them to a descriptor (flag bit 3) or
// to a Zip64 field (all ones), CRC-32 and sizes.
bool LocalHeaderDisagrees(const unsigned char* h, const OpcSegment& seg)
{
    if (Le16(h + 8) != seg.method)
        return true;
    if (Le16(h + 6) & 8)
        return false;
    const uint32_t crc = Le32(h + 14);
    const uint32_t compressed = Le32(h + 18);
    const uint32_t uncompressed = Le32(h + 22);
    return crc != seg.crc || (compressed != 0xFFFFFFFFu && compressed != seg.compressedSize) ||
           (uncompressed != 0xFFFFFFFFu && uncompressed != seg.uncompressedSize);
}

// Whether OpcDecodeName takes the whole stored name: no malformed escape, no
// zero byte, not longer than a name is kept.
bool NameDecodesWhole(const std::string& stored)
{
    size_t decoded = 0;
    for (size_t i = 0; i < stored.size(); ++i, ++decoded) {
        char c = stored[i];
        if (c == '%') {
            if (i + 2 >= stored.size() || HexValue(stored[i + 1]) < 0 || HexValue(stored[i + 2]) < 0)
                return false;
            c = static_cast<char>(HexValue(stored[i + 1]) * 16 + HexValue(stored[i + 2]));
            i += 2;
        }
        if (c == '\0')
            return false;
    }
    return decoded <= kMaxName;
}

}  // namespace

bool OpcZip::Scan(const std::function<bool(int32_t, OpcEntryKind)>& add)
{
    // A file that does not begin with a local header holds no entries.
    unsigned char first[4];
    if (!ReadAt(io, 0, first, 4) || Le32(first) != kLocalSignature)
        return io->error == 0;
    Directory dir;
    const char* damage = nullptr;
    if (!FindDirectory(io, &dir, &damage)) {
        if (damage)
            plat::NoteDamage(damage);
        io->SetError(OPC_IO_FAILURE);
        return false;
    }
    // Each refusal below is of an archive that contradicts itself.
    auto refuse = [this](const char* why) {
        plat::NoteDamage(why);
        io->SetError(OPC_IO_FAILURE);
        return false;
    };
    std::set<std::string> seen;
    uint64_t at = dir.offset;
    const uint64_t dirEnd = dir.offset + dir.size;
    std::vector<unsigned char> fields;
    for (uint64_t i = 0; i < dir.entries; ++i) {
        unsigned char c[46];
        if (at > dirEnd || dirEnd - at < 46 || !ReadAt(io, at, c, 46) || Le32(c) != kCentralSignature)
            return refuse("디렉터리 손상");
        const uint16_t nameLength = Le16(c + 28);
        const uint16_t extraLength = Le16(c + 30);
        const uint16_t commentLength = Le16(c + 32);
        const uint64_t entryLength = 46ull + nameLength + extraLength + commentLength;
        fields.resize(size_t(nameLength) + extraLength);
        if (dirEnd - at < entryLength || !ReadAt(io, at + 46, fields.data(), fields.size()))
            return refuse("길이가 데이터를 넘음");
        at += entryLength;

        OpcSegment seg;
        seg.gpFlags = Le16(c + 8);
        seg.method = Le16(c + 10);
        seg.crc = Le32(c + 16);
        seg.compressedSize = Le32(c + 20);
        seg.uncompressedSize = Le32(c + 24);
        uint32_t disk = Le16(c + 34);
        seg.offset = Le32(c + 42);
        seg.archiveName.assign(reinterpret_cast<const char*>(fields.data()), nameLength);
        // Zip64 extended information: the fields whose 32-bit value is all
        // ones, in this order.
        bool zip64 = false;
        for (size_t x = nameLength; x + 4 <= fields.size();) {
            const uint16_t id = Le16(&fields[x]);
            const uint16_t size = Le16(&fields[x + 2]);
            const size_t dataAt = x + 4;
            if (size > fields.size() - dataAt) {
                // A field longer than the extra area: the Zip64 values it
                // may hold are not there.
                plat::NoteDamage("길이가 데이터를 넘음");
                break;
            }
            if (id == 0x0001) {
                size_t y = dataAt;
                const size_t yEnd = dataAt + size;
                auto take = [&](uint64_t* v) {
                    if (y + 8 > yEnd)
                        return false;
                    *v = Le64(&fields[y]);
                    y += 8;
                    return true;
                };
                bool ok = true;
                if (seg.uncompressedSize == 0xFFFFFFFFu)
                    ok = ok && take(&seg.uncompressedSize);
                if (seg.compressedSize == 0xFFFFFFFFu)
                    ok = ok && take(&seg.compressedSize);
                if (seg.offset == 0xFFFFFFFFu)
                    ok = ok && take(&seg.offset);
                if (disk == 0xFFFF && ok) {
                    ok = y + 4 <= yEnd;
                    if (ok)
                        disk = Le32(&fields[y]);
                }
                if (!ok)
                    return refuse("길이가 데이터를 넘음");
                zip64 = true;
            }
            x = dataAt + size;
        }
        // The end record said one disk.
        if (disk != 0)
            return refuse("디렉터리 손상");

        // The local header the directory points at.
        unsigned char h[30];
        if (!ReadAt(io, seg.offset, h, 30) || Le32(h) != kLocalSignature)
            return refuse("로컬 헤더 불일치");
        const uint16_t localName = Le16(h + 26);
        const uint16_t localExtra = Le16(h + 28);
        fields.resize(size_t(localName) + localExtra);
        if (!ReadAt(io, seg.offset + 30, fields.data(), fields.size()) ||
            !ReadLocalExtra(fields.data() + localName, localExtra, &seg))
            return refuse("길이가 데이터를 넘음");
        // The local header must be the entry's own: a directory entry that
        // points at another entry's header would serve that entry's data
        // under this name. Such an entry keeps its place but is not read; an
        // archive opened for writing is not written back over it.
        if (localName != nameLength ||
            std::memcmp(fields.data(), seg.archiveName.data(), nameLength) != 0) {
            if (io->flags & 2)
                return refuse("로컬 헤더 불일치");
            seg.flags |= kOpcSegmentForeignHeader;
            plat::NoteDamage("로컬 헤더 불일치");
        } else if (LocalHeaderDisagrees(h, seg)) {
            // The data is read by the directory's values; the header that
            // tells another story is damage all the same.
            plat::NoteDamage("로컬 헤더 불일치");
        }
        seg.headerSize = 30u + localName + localExtra - seg.padding;
        const uint64_t dataStart = seg.offset + 30 + localName + localExtra;
        if (seg.compressedSize > io->length) {
            // Data declared beyond the file: its stream comes up short and
            // says so when the part is read (see OpcEntryStream).
        } else if (seg.gpFlags & 8) {
            // The descriptor after the data, with or without its signature.
            // Its values are not used (the directory's are), only its size,
            // to place the next entry in a package opened for writing.
            unsigned char d[4];
            const uint32_t body = zip64 ? 20 : 12;
            if (ReadAt(io, dataStart + seg.compressedSize, d, 4))
                seg.descriptorSize = Le32(d) == kDescriptorSignature ? body + 4 : body;
            if (seg.descriptorSize > io->length - std::min(io->length, dataStart + seg.compressedSize))
                seg.descriptorSize = 0;
        }
        seg.totalSize = uint64_t(seg.headerSize) + seg.padding + seg.compressedSize + seg.descriptorSize;

        seg.name = OpcDecodeName(seg.archiveName.data(), seg.archiveName.size());
        if (!NameDecodesWhole(seg.archiveName))
            plat::NoteDamage("항목 이름 손상");
        // Two entries of one name: which one a reader takes is a guess, so
        // the archive is not read.
        if (!seen.insert(seg.name).second)
            return refuse("항목 이름 중복");
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
            io->SetError(OPC_IO_MEMORY);  // not damage: memory ran out
            return false;
        }
    }
    // The directory ends where its size says: entries left after the count
    // of the end record, or bytes that are no entry, disagree with it.
    if (at != dirEnd)
        plat::NoteDamage("디렉터리 항목 수 불일치");
    else if (dirEnd != dir.end)
        plat::NoteDamage("디렉터리 크기 불일치");
    if (io->flags & 2)
        PrepareForWriting();
    return io->error == 0;
}

OpcEntryStream::OpcEntryStream(OpcIo* io, const OpcSegment& segment) : m_io(io), m_seg(segment) {}

OpcEntryStream::~OpcEntryStream()
{
    if (m_inflating)
        inflateEnd(&m_z);
}

bool OpcEntryStream::Open()
{
    if (m_seg.flags & kOpcSegmentForeignHeader) {
        m_error = OPC_IO_FAILURE;
        return false;
    }
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

void OpcEntryStream::Fail(int32_t error, const char* damage)
{
    if (m_error == 0)
        m_error = error;
    if (damage)
        plat::NoteDamage(damage);
}

void OpcEntryStream::Finish()
{
    if (m_finished)
        return;
    m_finished = true;
    // Every byte the directory declares was taken and gave the declared
    // size and check value (stored data is its own size).
    const uint64_t used = m_inflating ? m_consumed - m_z.avail_in : m_consumed;
    if (used != m_seg.compressedSize || m_produced != m_seg.uncompressedSize)
        Fail(OPC_IO_COMPRESSION, "압축 스트림 손상");
    else if (m_crc != m_seg.crc)
        Fail(OPC_IO_COMPRESSION, "검사값 불일치");
}

int OpcEntryStream::Read(char* buffer, int len)
{
    if (plat::ReadCancelled())
        m_error = OPC_IO_FAILURE;
    if (!m_open || m_error != 0 || len <= 0 || m_finished)
        return 0;
    if (m_seg.method == 0) {
        const uint64_t left = m_seg.compressedSize - m_consumed;
        const size_t n = std::min<size_t>(left, static_cast<size_t>(len));
        if (n == 0) {
            Finish();
            return 0;
        }
        // Data declared past the end of the file comes up short.
        if (!m_io->Seek(m_dataStart + m_consumed)) {
            Fail(OPC_IO_FAILURE, "길이가 데이터를 넘음");
            return 0;
        }
        const size_t got = m_io->Read(buffer, n);
        if (got == 0) {
            if (!plat::ReadCancelled())
                Fail(OPC_IO_FAILURE, "길이가 데이터를 넘음");
            return 0;
        }
        m_consumed += got;
        m_produced += got;
        if (m_produced > kOpcMaxPartBytes) {
            Fail(OPC_IO_COMPRESSION, "한도에 이르러 건너뜀");
            return 0;
        }
        m_crc = static_cast<uint32_t>(crc32(m_crc, reinterpret_cast<const Bytef*>(buffer), static_cast<uInt>(got)));
        return static_cast<int>(got);
    }
    m_z.next_out = reinterpret_cast<Bytef*>(buffer);
    m_z.avail_out = static_cast<uInt>(len);
    while (m_z.avail_out > 0) {
        if (m_z.avail_in == 0) {
            const uint64_t left = m_seg.compressedSize - m_consumed;
            const size_t n = static_cast<size_t>(std::min<uint64_t>(left, m_in.size()));
            if (n > 0) {
                if (!m_io->Seek(m_dataStart + m_consumed)) {
                    Fail(OPC_IO_FAILURE, "길이가 데이터를 넘음");
                    return 0;
                }
                const size_t got = m_io->Read(m_in.data(), n);
                m_consumed += got;
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
            Fail(OPC_IO_COMPRESSION, plat::ReadCancelled() ? nullptr : "압축 스트림 손상");
            break;
        }
    }
    const int delivered = len - static_cast<int>(m_z.avail_out);
    m_produced += static_cast<uint64_t>(delivered);
    m_crc = static_cast<uint32_t>(crc32(m_crc, reinterpret_cast<const Bytef*>(buffer), static_cast<uInt>(delivered)));
    // A stream that inflates beyond its declared size is damaged, one beyond
    // the part limit too large to read: stop there.
    if (m_produced > m_seg.uncompressedSize)
        Fail(OPC_IO_COMPRESSION, "압축 스트림 손상");
    else if (m_produced > kOpcMaxPartBytes)
        Fail(OPC_IO_COMPRESSION, "한도에 이르러 건너뜀");
    else if (m_streamEnd)
        Finish();
    return m_error != 0 && delivered == 0 ? 0 : delivered;
}

void OpcEntryStream::Close()
{
    if (!m_open)
        return;
    m_open = false;
    // A stream closed before its end (the prolog check reads only the
    // beginning of a part) is not judged here: its reader says whether the
    // part was read to its end.
    if (m_inflating) {
        inflateEnd(&m_z);
        m_inflating = false;
    }
}
