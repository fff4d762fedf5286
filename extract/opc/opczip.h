// ZIP container underneath the package reader.
//
// The archive is read through its central directory, as every ZIP tool
// reads it (Zip64 records included): one segment is recorded per entry the
// directory lists, located by its local header. Local headers the directory
// does not list are never seen. A file that does not begin with a local
// header is an archive without entries; one that does but has no readable
// end record or directory is damaged. An entry's data is then served as a
// byte stream (stored, or raw deflate through zlib), bounded by the sizes
// the directory declares.
//
// A package opened for writing writes part data through OpcWriteStream into
// segments laid out in place (each segment keeps room after its data to
// grow), and Commit writes the local headers, the directory and the end
// record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <zlib.h>

// Error states of the I/O set.
enum : int32_t {
    OPC_IO_OK = 0,
    OPC_IO_FAILURE = 1,       // stream or format failure
    OPC_IO_NO_SEEK = 2,       // wrong position with no seek operation
    OPC_IO_METHOD = 4,        // unsupported compression method
    OPC_IO_COMPRESSION = 5,   // inflate failure or size mismatch
    OPC_IO_MEMORY = 7,        // out of memory, failed insertion
};

// The package file and its error state.
struct OpcIo {
    FILE* file = nullptr;
    int flags = 0;         // 1 read, 2 write, 4 create
    int32_t error = 0;
    uint64_t position = 0; // current file position
    uint64_t length = 0;   // file length, taken at open

    size_t Read(void* buffer, size_t n);
    bool Seek(uint64_t offset);
    // Writing (packages opened for writing): bytes at the current position,
    // raising the length; cutting the file after length; flushing.
    size_t Write(const void* buffer, size_t n);
    bool Truncate(uint64_t newLength);
    bool Flush();
    void Close();
    void SetError(int32_t e) { if (error == 0) error = e; }
};

// Opens path for package mode: 0 reads; 1 creates or empties the file for
// reading and writing; any other mode opens it for reading and writing,
// creating it when missing. False with error 1 when the file cannot be opened.
bool OpcIoOpen(OpcIo* io, const std::string& path, int mode);

// Classification of an entry name.
enum class OpcEntryKind { Data, Relationships, ContentTypes, Folder };

// Segment flag: the local header the directory points at names another
// entry; the entry's data is not served.
inline constexpr uint32_t kOpcSegmentForeignHeader = 4;

struct OpcSegment {
    uint32_t flags = 0;          // bit 0 deleted, bit 1 relationship part, bit 2 foreign header
    int32_t nextFree = -1;
    std::string name;            // the part name the entry belongs to
    std::string archiveName;     // the name as the directory stores it
    uint64_t offset = 0;         // of the local header
    // Header, padding, data, descriptor and the free room after them (in a
    // package opened for writing: the space up to the next segment).
    uint64_t totalSize = 0;
    uint16_t padding = 0;
    uint32_t headerSize = 0;     // without padding
    uint16_t gpFlags = 0;
    uint32_t crc = 0;
    uint16_t method = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t descriptorSize = 0; // data descriptor after the data (0 none)
    uint16_t growthHint = 0;
    bool growthField = false;    // the header has room for the growth-hint field
    // Piece of an interleaved part: number, -1 when the entry is whole.
    int32_t piece = -1;
    bool lastPiece = false;
};

// Decodes a stored entry name: %XX escapes of either case are decoded, a
// malformed escape ends the name, at most 511 bytes are kept.
std::string OpcDecodeName(const char* bytes, size_t n);

// Splits a decoded entry name into the part name it concerns and its kind
// (a relationships entry gives the name of its source part; "" for the
// package). Pieces of interleaved parts are cut to their part name.
OpcEntryKind OpcClassifyName(std::string& name, int32_t* piece, bool* lastPiece);

struct OpcZip {
    OpcIo* io = nullptr;
    int32_t freeHead = -1;
    std::vector<OpcSegment> segments;

    // Reads the central directory; each entry is handed to add (segment
    // index, kind); add returns false when it could not take the entry
    // (error 7). False on any error (io->error set). In a package opened for
    // writing the segments are then prepared for writing in place.
    bool Scan(const std::function<bool(int32_t, OpcEntryKind)>& add);
    // Marks a segment free (deleted).
    void FreeSegment(int32_t index);

    // Writing. After the scan each entry whose predecessor is live gets its
    // shortest header (with the growth-hint field when its header had room
    // for it) without padding; what it gives up becomes room at the end of
    // the preceding segment.
    void PrepareForWriting();
    // A new segment for an entry of the given archive name, placed
    // after the last one with room for its growth hint (512 bytes when 0);
    // its index, or -1 (error 7).
    int32_t CreateSegment(const std::string& archiveName, uint16_t growthHint);
    // The live segment that follows index in the file, or -1.
    int32_t NextLive(int32_t index) const;
    // Lays the archive out: when the entries are not tight (a gap before an
    // entry that its padding cannot take) or trim is set, every live
    // segment moves down to close the gaps; then each local header is
    // written in place, the central directory after the last segment, the
    // end record; the file is cut after it and flushed. Nothing is written
    // once io has an error. False on failure (io->error set).
    bool Commit(bool trim);
};

// Writes the data of one part into a segment of a package opened for
// writing: stored (method 0) or raw deflate (method 8, level from flag bits
// 1-2: 0 default, 1 best, 2 or 3 fastest). A segment that runs out of room
// grows when it is the last one, else moves to a new segment at the end of
// the archive (the old one is deleted).
class OpcWriteStream {
public:
    OpcWriteStream(OpcZip* zip, int32_t segment);
    ~OpcWriteStream();
    OpcWriteStream(const OpcWriteStream&) = delete;
    OpcWriteStream& operator=(const OpcWriteStream&) = delete;

    bool Open(uint16_t method, uint16_t gpFlags);
    // False on a failure (the zip's io error is set).
    bool Write(const void* data, size_t n);
    // Finishes the data and records CRC-32 and sizes in the segment.
    bool Close();
    // The segment written (it changes when the data had to move).
    int32_t Segment() const { return m_segment; }

private:
    bool Put(const unsigned char* bytes, size_t n);
    bool Flush(int mode);

    OpcZip* m_zip;
    int32_t m_segment;
    uint16_t m_method = 0;
    bool m_open = false;
    bool m_deflating = false;
    uint32_t m_crc = 0;
    uint64_t m_in = 0;       // bytes given
    uint64_t m_written = 0;  // bytes of data in the segment
    z_stream m_z{};
    std::vector<unsigned char> m_buffer;
};

// The archive name of a part name: characters outside the letters, digits
// and !$&'()*+,-.:;=@[]_~/ as "%XX" (each byte of a UTF-8 sequence alike).
std::string OpcEncodeName(const std::string& name);
// The archive name of a part's relationships ("" for the package's own).
std::string OpcRelationshipsName(const std::string& part);

// The most bytes one part's data stream delivers.
inline constexpr uint64_t kOpcMaxPartBytes = uint64_t(512) << 20;

// The data stream of one entry, read by the XML reader.
class OpcEntryStream {
public:
    OpcEntryStream(OpcIo* io, const OpcSegment& segment);
    ~OpcEntryStream();
    OpcEntryStream(const OpcEntryStream&) = delete;
    OpcEntryStream& operator=(const OpcEntryStream&) = delete;

    // False with error 1 (the entry's local header names another entry),
    // 4 (unknown method) or 5 (inflate start failed).
    bool Open();
    // Bytes delivered (0 at the end or after an error). A part that inflates
    // beyond kOpcMaxPartBytes fails: no reader takes more. At the end of the
    // data the sizes and the CRC-32 are checked against the directory's.
    // Data that does not inflate cleanly, ends before its declared sizes,
    // runs past them or fails its check value sets error 5 (1 when it lies
    // past the end of the file) and is noted as damage (plat::NoteDamage),
    // as is a part cut at kOpcMaxPartBytes.
    int Read(char* buffer, int len);
    // Ends the stream.
    void Close();
    bool Failed() const { return m_error != 0; }

private:
    void Fail(int32_t error, const char* damage);
    void Finish();

    OpcIo* m_io;
    OpcSegment m_seg;
    uint64_t m_dataStart = 0;
    uint64_t m_consumed = 0;  // compressed bytes taken from the file
    uint64_t m_produced = 0;  // bytes delivered
    bool m_open = false;
    bool m_inflating = false;
    bool m_streamEnd = false;
    bool m_finished = false;  // the end of the data was reached and checked
    uint32_t m_crc = 0;       // of the bytes delivered
    int32_t m_error = 0;
    z_stream m_z{};
    std::vector<unsigned char> m_in;
};
