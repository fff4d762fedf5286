#include "extract/io/compress_stream.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <zlib.h>

namespace {

constexpr int kInputBuffer = 8192;
constexpr int kInputFill = 4096;
constexpr int kOutputBuffer = 8192;
constexpr int kOutputFlush = 4096;

}  // namespace

struct CompressStream {
    bool writing = false;
    bool zReady = false;
    z_stream z{};

    CompressReadFn readFn = nullptr;
    CompressWriteFn writeFn = nullptr;
    void* user = nullptr;

    // Window parameters.
    int windowKind = 0;
    std::uint32_t windowSize = 4096;
    int windowBits = 12;

    // Reading: the input buffer holds [inPos, inFill) not yet given to the decoder.
    unsigned char in[kInputBuffer];
    std::uint32_t bytesIn = 0;   // reading: from the callback; writing: from callers
    std::uint32_t bytesOut = 0;  // reading: delivered; writing: handed to the callback
    bool inputEnded = false;
    bool finalDone = false;      // the final block has ended
    bool failed = false;

    // Writing.
    unsigned char out[kOutputBuffer];
    std::uint32_t pending = 0;
    bool ended = false;

    std::uint32_t crc = 0;  // zlib's form: the complemented register
};

void SetCompressWindow(CompressStream* s, int kind)
{
    if (!s)
        return;
    if (kind != 1 && kind != 2)
        kind = 0;
    s->windowKind = kind;
    s->windowSize = kind == 0 ? 4096u : kind == 1 ? 8192u : 65536u;
    // Deflate cannot reach farther than 32 KiB.
    s->windowBits = kind == 0 ? 12 : kind == 1 ? 13 : 15;
}

std::uint32_t Crc32Update(CompressStream* s, const void* data, std::uint32_t length)
{
    if (!s)
        return 0;
    if (!data) {
        s->crc = 0;
        return 0;
    }
    if (length)
        s->crc = static_cast<std::uint32_t>(crc32(s->crc, static_cast<const Bytef*>(data), length));
    return s->crc;
}

void CompressStreamFree(CompressStream* s)
{
    if (!s)
        return;
    if (s->zReady) {
        if (s->writing)
            deflateEnd(&s->z);
        else
            inflateEnd(&s->z);
    }
    delete s;
}

// --- reading ---------------------------------------------------------------

namespace {

// Tops the input buffer up to kInputFill bytes from the callback. False when
// nothing more came.
bool RefillInput(CompressStream* s)
{
    if (s->inputEnded)
        return false;
    // Move what the decoder has not taken yet to the front.
    if (s->z.avail_in && s->z.next_in != s->in)
        std::memmove(s->in, s->z.next_in, s->z.avail_in);
    s->z.next_in = s->in;
    std::uint32_t held = s->z.avail_in;
    const std::uint32_t before = held;
    while (held < static_cast<std::uint32_t>(kInputFill)) {
        int got = s->readFn ? s->readFn(s, s->user, s->in + held, kInputFill - static_cast<int>(held)) : -1;
        if (got <= 0) {
            s->inputEnded = true;
            break;
        }
        got = std::min(got, kInputFill - static_cast<int>(held));
        held += static_cast<std::uint32_t>(got);
        s->bytesIn += static_cast<std::uint32_t>(got);
    }
    s->z.avail_in = held;
    return held > before;
}

}  // namespace

CompressStream* InflateStreamCreate(CompressReadFn read, void* user, int windowKind)
{
    auto* s = new (std::nothrow) CompressStream;
    if (!s)
        return nullptr;
    s->readFn = read;
    s->user = user;
    SetCompressWindow(s, windowKind);
    // Raw deflate with the full 32 KiB window, so that every valid stream decodes.
    if (inflateInit2(&s->z, -15) != Z_OK) {
        delete s;
        return nullptr;
    }
    s->zReady = true;
    s->z.next_in = s->in;
    s->z.avail_in = 0;
    return s;
}

CompressStream* InflateStreamOpen(CompressReadFn read, void* user) { return InflateStreamCreate(read, user, 0); }

int InflateStreamRead(CompressStream* s, void* buffer, int n)
{
    if (!s || s->writing)
        return -1;
    if (!buffer) {
        // Reset the decoder; the input buffer and the counters stay.
        inflateReset(&s->z);
        s->finalDone = false;
        s->failed = false;
        return 0;
    }
    if (s->failed)
        return -1;
    if (n <= 0 || s->finalDone)
        return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    s->z.next_out = out;
    s->z.avail_out = static_cast<uInt>(n);
    while (s->z.avail_out > 0) {
        if (s->z.avail_in == 0 && !RefillInput(s)) {
            // Input ended inside the data.
            s->failed = true;
            break;
        }
        int r = inflate(&s->z, Z_NO_FLUSH);
        if (r == Z_STREAM_END) {
            s->finalDone = true;
            break;
        }
        if (r == Z_BUF_ERROR && s->z.avail_in == 0)
            continue;  // needs input: refill on the next turn
        if (r != Z_OK) {
            s->failed = true;  // bad data, a distance too far back, out of memory
            break;
        }
    }
    const int produced = n - static_cast<int>(s->z.avail_out);
    if (produced > 0) {
        s->crc = static_cast<std::uint32_t>(crc32(s->crc, out, static_cast<uInt>(produced)));
        s->bytesOut += static_cast<std::uint32_t>(produced);
        return produced;
    }
    return s->failed ? -1 : 0;
}

int InflateStreamClose(CompressStream* s)
{
    if (!s)
        return -1;
    if (s->writing || !s->finalDone) {
        CompressStreamFree(s);
        return 0;
    }
    // The trailer: first the bytes the decoder left over, then more from the callback.
    unsigned char trailer[8];
    std::uint32_t have = 0;
    while (have < 8) {
        if (s->z.avail_in == 0 && !RefillInput(s))
            break;
        std::uint32_t take = std::min<std::uint32_t>(8 - have, s->z.avail_in);
        std::memcpy(trailer + have, s->z.next_in, take);
        s->z.next_in += take;
        s->z.avail_in -= take;
        have += take;
    }
    const std::uint32_t left = s->z.avail_in;
    const std::uint32_t crc = s->crc, length = s->bytesOut;
    CompressStreamFree(s);
    if (have < 8)
        return -1;
    auto le32 = [](const unsigned char* p) {
        return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
               (std::uint32_t(p[3]) << 24);
    };
    if (le32(trailer) != crc || le32(trailer + 4) != length)
        return -1;
    return static_cast<int>(left);
}

int InflateStreamEndedCleanly(CompressStream* s)
{
    if (!s || s->writing || s->failed || !s->finalDone)
        return 0;
    // What follows the final block: up to one byte more than a trailer.
    unsigned char tail[9];
    std::uint32_t have = 0;
    while (have < sizeof tail) {
        if (s->z.avail_in == 0 && !RefillInput(s))
            break;
        const std::uint32_t take = std::min<std::uint32_t>(sizeof tail - have, s->z.avail_in);
        std::memcpy(tail + have, s->z.next_in, take);
        s->z.next_in += take;
        s->z.avail_in -= take;
        have += take;
    }
    if (have == 0)
        return 1;
    if (have != 8)
        return 0;
    auto le32 = [](const unsigned char* p) {
        return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
               (std::uint32_t(p[3]) << 24);
    };
    const std::uint32_t crc = le32(tail), length = le32(tail + 4);
    return length == s->bytesOut && (crc == s->crc || crc == 0) ? 1 : -1;
}

// --- writing ---------------------------------------------------------------

namespace {

void FlushOutput(CompressStream* s)
{
    if (s->pending == 0)
        return;
    if (s->writeFn) {
        int took = s->writeFn(s, s->user, s->out, static_cast<int>(s->pending));
        if (took > 0)
            s->bytesOut += static_cast<std::uint32_t>(took);
    }
    s->pending = 0;
}

// Runs the encoder over the input already set in z, flushing full output buffers.
bool Pump(CompressStream* s, int flush)
{
    for (;;) {
        s->z.next_out = s->out + s->pending;
        s->z.avail_out = static_cast<uInt>(kOutputFlush - s->pending);
        int r = deflate(&s->z, flush);
        s->pending = kOutputFlush - s->z.avail_out;
        if (r == Z_STREAM_ERROR)
            return false;
        if (s->pending == static_cast<std::uint32_t>(kOutputFlush))
            FlushOutput(s);
        if (flush == Z_FINISH) {
            if (r == Z_STREAM_END)
                return true;
            continue;
        }
        if (s->z.avail_in == 0 && s->z.avail_out != 0)
            return true;
    }
}

}  // namespace

CompressStream* DeflateStreamCreate(CompressWriteFn write, void* user, int windowKind)
{
    auto* s = new (std::nothrow) CompressStream;
    if (!s)
        return nullptr;
    s->writing = true;
    s->writeFn = write;
    s->user = user;
    SetCompressWindow(s, windowKind);
    // Level 3: good length 4, lazy/insert limit 6, nice length 32, chain 32.
    if (deflateInit2(&s->z, 3, Z_DEFLATED, -s->windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        delete s;
        return nullptr;
    }
    s->zReady = true;
    return s;
}

CompressStream* DeflateStreamOpen(CompressWriteFn write, void* user) { return DeflateStreamCreate(write, user, 0); }

int DeflateStreamWrite(CompressStream* s, const void* buffer, int n)
{
    if (!s || !s->writing)
        return -1;
    if (!buffer && n == -1) {
        if (!s->ended) {
            s->z.next_in = nullptr;
            s->z.avail_in = 0;
            Pump(s, Z_FINISH);
            s->ended = true;
        }
        return -1;
    }
    if (!buffer || n < 0 || s->ended)
        return -1;
    if (n == 0)
        return 0;
    s->crc = static_cast<std::uint32_t>(crc32(s->crc, static_cast<const Bytef*>(buffer), static_cast<uInt>(n)));
    s->bytesIn += static_cast<std::uint32_t>(n);
    s->z.next_in = const_cast<Bytef*>(static_cast<const Bytef*>(buffer));
    s->z.avail_in = static_cast<uInt>(n);
    if (!Pump(s, Z_NO_FLUSH))
        return -1;
    return n;
}

int DeflateStreamClose(CompressStream* s)
{
    if (!s || !s->writing)
        return -1;
    DeflateStreamWrite(s, nullptr, -1);
    unsigned char trailer[8];
    for (int i = 0; i < 4; ++i) {
        trailer[i] = static_cast<unsigned char>(s->crc >> (8 * i));
        trailer[4 + i] = static_cast<unsigned char>(s->bytesIn >> (8 * i));
    }
    if (s->pending + 8 > static_cast<std::uint32_t>(kOutputBuffer))
        FlushOutput(s);
    std::memcpy(s->out + s->pending, trailer, 8);
    s->pending += 8;
    FlushOutput(s);
    CompressStreamFree(s);
    return 0;
}
