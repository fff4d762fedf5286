#include <gtest/gtest.h>

#include "extract/io/compress_stream.h"

#include <cstring>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

// A read callback over a string, handing out at most `chunk` bytes per call.
struct Source {
    std::string data;
    std::size_t pos = 0;
    int chunk = 1 << 30;
};

int ReadFrom(CompressStream*, void* user, void* buf, int cap)
{
    auto* s = static_cast<Source*>(user);
    std::size_t n = std::min<std::size_t>({std::size_t(cap), std::size_t(s->chunk), s->data.size() - s->pos});
    std::memcpy(buf, s->data.data() + s->pos, n);
    s->pos += n;
    return static_cast<int>(n);
}

int WriteTo(CompressStream*, void* user, const void* buf, int n)
{
    static_cast<std::string*>(user)->append(static_cast<const char*>(buf), n);
    return n;
}

std::string Compress(const std::string& data, int kind = 0, std::size_t piece = 1000)
{
    std::string out;
    CompressStream* s = DeflateStreamCreate(&WriteTo, &out, kind);
    EXPECT_NE(s, nullptr);
    for (std::size_t at = 0; at < data.size(); at += piece) {
        int n = static_cast<int>(std::min(piece, data.size() - at));
        EXPECT_EQ(DeflateStreamWrite(s, data.data() + at, n), n);
    }
    EXPECT_EQ(DeflateStreamClose(s), 0);
    return out;
}

struct Inflated {
    std::string data;
    bool failed = false;
    int close = 0;
};

Inflated Decompress(const std::string& compressed, int readSize = 777, int chunk = 1 << 30)
{
    Source src{compressed, 0, chunk};
    Inflated r;
    CompressStream* s = InflateStreamOpen(&ReadFrom, &src);
    std::vector<char> buf(readSize);
    for (;;) {
        int n = InflateStreamRead(s, buf.data(), readSize);
        if (n < 0) {
            r.failed = true;
            break;
        }
        if (n == 0)
            break;
        r.data.append(buf.data(), n);
    }
    r.close = InflateStreamClose(s);
    return r;
}

// Raw deflate (no trailer) made by zlib itself with the given window.
std::string ZlibRaw(const std::string& data, int level, int windowBits, int strategy = Z_DEFAULT_STRATEGY)
{
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -windowBits, 9, strategy);
    std::string out(deflateBound(&z, data.size()) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string Trailer(const std::string& data)
{
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
    std::uint32_t len = static_cast<std::uint32_t>(data.size());
    std::string t(8, '\0');
    for (int i = 0; i < 4; ++i) {
        t[i] = static_cast<char>(crc >> (8 * i));
        t[4 + i] = static_cast<char>(len >> (8 * i));
    }
    return t;
}

std::string Random(std::size_t n, unsigned seed)
{
    std::string s(n, '\0');
    std::uint32_t x = seed | 1;
    for (auto& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return s;
}

std::string Text(std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; s.size() < n; ++i)
        s += "line " + std::to_string(i % 97) + " 홍길동 010-1234-5678 서울특별시\n";
    s.resize(n);
    return s;
}

// Bits, least significant first, as deflate packs them.
struct BitWriter {
    std::string out;
    std::uint32_t acc = 0;
    int n = 0;
    void Put(std::uint32_t v, int bits)
    {
        for (int i = 0; i < bits; ++i) {
            acc |= ((v >> i) & 1u) << n;
            if (++n == 8) {
                out.push_back(static_cast<char>(acc));
                acc = 0;
                n = 0;
            }
        }
    }
    // Huffman codes go most significant bit first.
    void Code(std::uint32_t code, int len)
    {
        for (int i = len - 1; i >= 0; --i)
            Put((code >> i) & 1u, 1);
    }
    std::string Done()
    {
        if (n)
            out.push_back(static_cast<char>(acc));
        acc = 0;
        n = 0;
        return out;
    }
};

}  // namespace

TEST(CompressStream, RoundTripsThroughTheEncoderAndTheDecoder)
{
    struct Case {
        const char* what;
        std::string data;
    } cases[] = {
        {"empty", ""},
        {"one byte", "x"},
        {"text", Text(100000)},
        {"incompressible", Random(70000, 7)},
        {"runs", std::string(300000, 'a') + Random(100, 3) + std::string(5000, 'b')},
    };
    for (auto& c : cases) {
        for (int kind : {0, 1, 2}) {
            std::string z = Compress(c.data, kind);
            Inflated r = Decompress(z);
            EXPECT_FALSE(r.failed) << c.what;
            EXPECT_TRUE(r.data == c.data) << c.what << " kind " << kind;
            EXPECT_EQ(r.close, 0) << c.what;
            // The trailer is the CRC-32 and the length.
            EXPECT_EQ(z.substr(z.size() - 8), Trailer(c.data)) << c.what;
        }
    }
    // Nothing written: one fixed-code block holding only the end code, then CRC 0 and length 0.
    EXPECT_EQ(Compress(""), std::string("\x03\x00\0\0\0\0\0\0\0\0", 10));
    // Incompressible input goes out in stored blocks: barely larger than the input.
    EXPECT_LT(Compress(Random(50000, 9)).size(), 50000u + 200);
}

TEST(CompressStream, DecodesEveryBlockKindAndTheFullWindow)
{
    const std::string text = Text(60000);
    // Repeats 20000 bytes back: beyond a 4096-byte window, within deflate's 32 KiB.
    const std::string far = Random(20000, 11) + Random(20000, 11);
    struct Case {
        const char* what;
        std::string data;
        std::string raw;
    } cases[] = {
        {"stored", text, ZlibRaw(text, 0, 15)},
        {"fixed", text, ZlibRaw(text, 9, 15, Z_FIXED)},
        {"dynamic", text, ZlibRaw(text, 9, 15)},
        {"distances up to 32 KiB", far, ZlibRaw(far, 9, 15)},
        {"empty stored block", "", std::string("\x01\x00\x00\xFF\xFF", 5)},
    };
    for (auto& c : cases) {
        for (int chunk : {1, 100, 1 << 30}) {
            Inflated r = Decompress(c.raw + Trailer(c.data), 4096, chunk);
            EXPECT_FALSE(r.failed) << c.what;
            EXPECT_TRUE(r.data == c.data) << c.what << " chunk " << chunk;
            EXPECT_EQ(r.close, 0) << c.what;
        }
    }
}

TEST(CompressStream, DamagedDataFailsInsteadOfReadingStaleMemory)
{
    // Fixed block: literal 'a', then a copy of length 3 from distance 2, one
    // byte before the start of the output.
    BitWriter bad;
    bad.Put(1, 1);                 // final
    bad.Put(1, 2);                 // fixed codes
    bad.Code(0x30 + 'a', 8);       // literal
    bad.Code(257 - 256, 7);        // length 3
    bad.Code(1, 5);                // distance code 1 = distance 2
    bad.Code(0, 7);                // end of block
    Inflated r = Decompress(bad.Done() + std::string(8, '\0'));
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.data, "a");  // what was decoded before the bad copy, nothing more

    // The same with distance 1 is valid: "aaaa".
    BitWriter good;
    good.Put(1, 1);
    good.Put(1, 2);
    good.Code(0x30 + 'a', 8);
    good.Code(1, 7);
    good.Code(0, 5);
    good.Code(0, 7);
    r = Decompress(good.Done() + Trailer("aaaa"));
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(r.data, "aaaa");
    EXPECT_EQ(r.close, 0);

    struct Case {
        const char* what;
        std::string raw;
    } cases[] = {
        {"block type 3", std::string("\x07\x00", 2)},
        {"stored length check", std::string("\x01\x05\x00\x05\x00", 5)},
        {"nothing at all", ""},
    };
    for (auto& c : cases) {
        Inflated x = Decompress(c.raw);
        EXPECT_TRUE(x.failed) << c.what;
    }

    // Every cut of a valid stream ends in a failure or a trailer mismatch, never a crash.
    const std::string data = Text(20000);
    const std::string z = Compress(data);
    for (std::size_t cut = 0; cut + 1 < z.size(); cut += 37) {
        Inflated x = Decompress(z.substr(0, cut));
        EXPECT_TRUE(x.failed || x.close == -1) << cut;
        EXPECT_LE(x.data.size(), data.size());
    }
}

TEST(CompressStream, TrailerChecksAndReadAhead)
{
    const std::string data = Text(5000);
    const std::string z = Compress(data);
    // Source bytes read beyond the trailer are reported, so the caller can step back.
    EXPECT_EQ(Decompress(z + "EXTRA").close, 5);
    std::string wrongLength = z;
    wrongLength[wrongLength.size() - 4] ^= 1;
    EXPECT_EQ(Decompress(wrongLength).close, -1);
    std::string wrongCrc = z;
    wrongCrc[wrongCrc.size() - 8] ^= 1;
    EXPECT_EQ(Decompress(wrongCrc).close, -1);
    EXPECT_EQ(Decompress(z.substr(0, z.size() - 3)).close, -1);

    // Reads after the end give 0; a null buffer resets the decoder.
    Source src{z};
    CompressStream* s = InflateStreamOpen(&ReadFrom, &src);
    std::string out(data.size() + 10, '\0');
    EXPECT_EQ(InflateStreamRead(s, out.data(), static_cast<int>(out.size())), static_cast<int>(data.size()));
    EXPECT_EQ(InflateStreamRead(s, out.data(), 10), 0);
    EXPECT_EQ(InflateStreamRead(s, nullptr, 0), 0);
    CompressStreamFree(s);

    // Closing before the end checks nothing.
    Source src2{z};
    s = InflateStreamOpen(&ReadFrom, &src2);
    EXPECT_EQ(InflateStreamRead(s, out.data(), 10), 10);
    EXPECT_EQ(InflateStreamClose(s), 0);

    EXPECT_EQ(InflateStreamRead(nullptr, out.data(), 1), -1);
    EXPECT_EQ(InflateStreamClose(nullptr), -1);
    EXPECT_EQ(DeflateStreamWrite(nullptr, "x", 1), -1);
    EXPECT_EQ(DeflateStreamClose(nullptr), -1);
    CompressStreamFree(nullptr);
}

TEST(CompressStream, Crc32RegisterResetsAndRuns)
{
    std::string sink;
    CompressStream* s = DeflateStreamOpen(&WriteTo, &sink);
    EXPECT_EQ(Crc32Update(s, nullptr, 0), 0u);
    EXPECT_EQ(Crc32Update(s, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32Update(s, "x", 0), 0xCBF43926u);
    EXPECT_EQ(Crc32Update(s, nullptr, 0), 0u);
    const std::uint32_t part = Crc32Update(s, "1234", 4);
    EXPECT_EQ(Crc32Update(s, "", 0), part);
    EXPECT_EQ(Crc32Update(s, "56789", 5), 0xCBF43926u);
    CompressStreamFree(s);
}

// The end of data whose trailer may be absent (HWP 5 record streams): only
// nothing or a trailer that agrees may follow the final block.
TEST(CompressStream, EndWithoutOrWithAnAgreeingTrailer)
{
    const std::string data = Random(3000, 7);
    const std::string raw = ZlibRaw(data, 6, 15);
    std::string zeroCrc = Trailer(data);
    zeroCrc.replace(0, 4, 4, '\0');
    std::string wrongCrc = Trailer(data);
    wrongCrc[0] = static_cast<char>(wrongCrc[0] ^ 1);
    std::string wrongLength = Trailer(data);
    wrongLength[4] = static_cast<char>(wrongLength[4] ^ 1);
    const struct {
        const char* name;
        std::string stream;
        bool readAll;
        int expected;
    } cases[] = {
        {"nothing after the final block", raw, true, 1},
        {"the trailer", raw + Trailer(data), true, 1},
        {"a trailer with a CRC of 0", raw + zeroCrc, true, 1},
        {"a wrong CRC", raw + wrongCrc, true, -1},
        {"a wrong length", raw + wrongLength, true, -1},
        {"a trailer cut short", raw + Trailer(data).substr(0, 5), true, 0},
        {"bytes after the trailer", raw + Trailer(data) + "x", true, 0},
        {"not read to the end", raw + Trailer(data), false, 0},
        {"data ending inside a block", raw.substr(0, raw.size() / 2), true, 0},
    };
    for (const auto& c : cases) {
        for (int chunk : {1, 1 << 30}) {
            Source src{c.stream, 0, chunk};
            CompressStream* s = InflateStreamOpen(&ReadFrom, &src);
            std::vector<char> buf(1000);
            std::size_t got = 0;
            while (c.readAll || got < 1000) {
                const int n = InflateStreamRead(s, buf.data(), static_cast<int>(buf.size()));
                if (n <= 0)
                    break;
                got += static_cast<std::size_t>(n);
            }
            EXPECT_EQ(InflateStreamEndedCleanly(s), c.expected) << c.name << ", chunk " << chunk;
            CompressStreamFree(s);
        }
    }
    EXPECT_EQ(InflateStreamEndedCleanly(nullptr), 0);
}
