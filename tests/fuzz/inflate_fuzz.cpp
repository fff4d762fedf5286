// libFuzzer target: the inflating stream on arbitrary bytes, read in uneven
// pieces, closed with its trailer check; then a deflate round trip of the
// same bytes must reproduce them.
#include "extract/io/compress_stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Src {
    const std::uint8_t* p;
    std::size_t n, at;
};

int Read(CompressStream*, void* user, void* buf, int cap)
{
    auto* s = static_cast<Src*>(user);
    std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(cap), s->n - s->at);
    k = std::min<std::size_t>(k, 1 + s->at % 97);  // uneven refills
    std::memcpy(buf, s->p + s->at, k);
    s->at += k;
    return static_cast<int>(k);
}

int Write(CompressStream*, void* user, const void* buf, int n)
{
    static_cast<std::string*>(user)->append(static_cast<const char*>(buf), static_cast<std::size_t>(n));
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Src src{data, size, 0};
    CompressStream* s = InflateStreamOpen(&Read, &src);
    char buf[1000];
    std::size_t total = 0;
    for (int i = 0;; ++i) {
        int n = InflateStreamRead(s, buf, 1 + (i * 131) % sizeof buf);
        if (n <= 0)
            break;
        total += static_cast<std::size_t>(n);
        if (total > (std::size_t(64) << 20))
            break;
    }
    InflateStreamClose(s);

    std::string packed;
    CompressStream* d = DeflateStreamOpen(&Write, &packed);
    DeflateStreamWrite(d, data, static_cast<int>(size));
    DeflateStreamClose(d);
    Src back{reinterpret_cast<const std::uint8_t*>(packed.data()), packed.size(), 0};
    CompressStream* r = InflateStreamOpen(&Read, &back);
    std::string out(size + 1, '\0');
    std::size_t have = 0;
    for (;;) {
        int n = InflateStreamRead(r, out.data() + have, static_cast<int>(out.size() - have));
        if (n <= 0)
            break;
        have += static_cast<std::size_t>(n);
    }
    if (have != size || std::memcmp(out.data(), data, size) != 0 || InflateStreamClose(r) != 0)
        std::abort();
    return 0;
}
