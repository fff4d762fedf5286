// ZIP container underneath the package reader.
//
// The archive is scanned once from its first local file header; one segment
// is recorded per entry. The central directory is never read: a file that
// does not begin with a local header is an archive without entries. An
// entry's data is then served as a byte stream (stored, or raw deflate
// through zlib), bounded by the sizes the entry declares.
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
    uint32_t position = 0; // current file position
    uint32_t length = 0;   // file length, taken at open

    size_t Read(void* buffer, size_t n);
    bool Seek(uint32_t offset);
    // Writing (packages opened for writing): bytes at the current position,
    // raising the length; cutting the file after length; flushing.
    size_t Write(const void* buffer, size_t n);
    bool Truncate(uint32_t newLength);
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

struct OpcSegment {
    uint32_t flags = 0;          // bit 0 deleted, bit 1 relationship part
    int32_t nextFree = -1;
    std::string name;            // the part name the entry belongs to
    uint32_t offset = 0;         // of the local header
    uint32_t totalSize = 0;      // header, padding, data, descriptor
    uint16_t padding = 0;
    uint32_t headerSize = 0;     // without padding
    uint16_t gpFlags = 0;
    uint32_t crc = 0;
    uint16_t method = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t growthHint = 0;
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

    // Walks the local headers; each entry is handed to add (segment index,
    // kind); add returns false when it could not take the entry (error 7).
    // False on any error (io->error set).
    bool Scan(const std::function<bool(int32_t, OpcEntryKind)>& add);
    // Marks a segment free.
    void FreeSegment(int32_t index);

    // Writes the archive back (a package opened for writing): every live
    // segment keeps its data byte for byte, then each new entry (archive
    // name, content) follows deflated; the entries are laid out without
    // gaps, each local header rewritten with the growth-hint field, then the
    // central directory and the end record; the file is cut after it and
    // flushed. Nothing is written once io has an error. False on failure
    // (io->error set). The segments keep describing the old layout: the
    // package is closed right after.
    bool Commit(const std::vector<std::pair<std::string, std::string>>& newEntries);
};

// The archive name of a part name: characters outside the letters, digits
// and !$&'()*+,-.:;=@[]_~/ as "%XX" (each byte of a UTF-8 sequence alike).
std::string OpcEncodeName(const std::string& name);
// The archive name of a part's relationships ("" for the package's own).
std::string OpcRelationshipsName(const std::string& part);

// The data stream of one entry, read by the XML reader.
class OpcEntryStream {
public:
    OpcEntryStream(OpcIo* io, const OpcSegment& segment);
    ~OpcEntryStream();
    OpcEntryStream(const OpcEntryStream&) = delete;
    OpcEntryStream& operator=(const OpcEntryStream&) = delete;

    // False with error 4 (unknown method) or 5 (inflate start failed).
    bool Open();
    // Bytes delivered (0 at the end or after an error).
    int Read(char* buffer, int len);
    // Ends the stream; checks the sizes (error 5 on a mismatch).
    void Close();
    bool Failed() const { return m_error != 0; }

private:
    OpcIo* m_io;
    OpcSegment m_seg;
    uint32_t m_dataStart = 0;
    uint32_t m_consumed = 0;  // compressed bytes taken from the file
    uint32_t m_produced = 0;  // bytes delivered
    bool m_open = false;
    bool m_inflating = false;
    bool m_streamEnd = false;
    int32_t m_error = 0;
    z_stream m_z{};
    std::vector<unsigned char> m_in;
};
