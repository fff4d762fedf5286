// Compressed streams: raw deflate data (no zlib or gzip header) followed by
// an 8-byte trailer, the CRC-32 of the uncompressed data and its length
// modulo 2^32, both little-endian.
//
// A stream serves one direction. A reading stream pulls compressed bytes
// through a read callback and hands out decompressed bytes on demand; a
// writing stream takes uncompressed bytes and pushes compressed bytes through
// a write callback. The byte-I/O layer (h2s_bufio.h) switches a device into
// compressed mode with them.
#pragma once

#include <cstdint>

struct CompressStream;

// (stream, user pointer, buffer, capacity) -> bytes placed in the buffer;
// 0 or -1 ends the input.
using CompressReadFn = int (*)(CompressStream* stream, void* user, void* buffer, int capacity);
// (stream, user pointer, buffer, count) -> bytes taken.
using CompressWriteFn = int (*)(CompressStream* stream, void* user, const void* buffer, int count);

// Window kinds: 0 = 4096 bytes, 1 = 8192, 2 = 65536; any other value is 0.
// The reader always accepts the full deflate window (32 KiB), whatever the kind:
// every valid raw-deflate stream decodes. The writer limits its match
// distances to the kind's window (at most 32 KiB).
void SetCompressWindow(CompressStream* stream, int kind);

// --- reading ---------------------------------------------------------------

CompressStream* InflateStreamCreate(CompressReadFn read, void* user, int windowKind);
CompressStream* InflateStreamOpen(CompressReadFn read, void* user);

// Copies up to n decompressed bytes into buffer: the count copied, 0 at the
// end of the data, -1 for a null stream or damaged data (a distance reaching
// before the start of the output, a bad block, input ending inside a block).
// Bytes decoded before a failure are handed out first; the next call gives -1.
// A null buffer resets the decoder (keeping the byte counters) and returns 0.
int InflateStreamRead(CompressStream* stream, void* buffer, int n);

// Ends a reading stream and frees it. When the final block was reached, reads
// the 8-byte trailer and compares it with the CRC and the count of the bytes
// delivered: -1 on a mismatch (or a trailer cut short), otherwise the count of
// source bytes read from the callback beyond the trailer (>= 0). A stream
// closed before the end of its data returns 0 without checking a trailer.
// A null stream returns -1.
int InflateStreamClose(CompressStream* stream);

// For data whose trailer may be absent (the record streams of HWP 5): after
// the final block either nothing follows, or the 8-byte trailer, whose length
// is the count of bytes delivered and whose CRC is theirs or 0 (writers that
// leave it out). 1 when so; -1 when the trailer disagrees; 0 when the final
// block was not reached (the data was not read to its end, or was damaged)
// or other bytes follow it. Reads on from the callback for them (and drops
// them); a null or writing stream gives 0.
int InflateStreamEndedCleanly(CompressStream* stream);

// --- writing ---------------------------------------------------------------

CompressStream* DeflateStreamCreate(CompressWriteFn write, void* user, int windowKind);
CompressStream* DeflateStreamOpen(CompressWriteFn write, void* user);

// Takes n bytes: n when all were taken, -1 on failure or a null stream.
// buffer null with n = -1 ends the data (the final block is written); that
// call returns -1.
int DeflateStreamWrite(CompressStream* stream, const void* buffer, int n);

// Ends the data, appends the trailer, hands the rest of the output to the
// write callback and frees the stream: 0, or -1 for a null stream.
int DeflateStreamClose(CompressStream* stream);

// --- both ------------------------------------------------------------------

// Frees a stream of either direction without ending it; null is ignored.
void CompressStreamFree(CompressStream* stream);

// With data: runs the stream's CRC register over the bytes and returns the
// CRC so far (length 0 returns the current CRC). With null data: resets the
// register and returns 0.
std::uint32_t Crc32Update(CompressStream* stream, const void* data, std::uint32_t length);
