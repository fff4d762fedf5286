// Fuzz target: the inflating stream on arbitrary bytes, read in uneven
// pieces, closed with its trailer check; then a deflate round trip of the
// same bytes must reproduce them.
#include "extract/io/compress_stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_target.h"
#include "platform/docfile.h"

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

// Read: the stream inflated to the end of its data and passed its trailer
// check; the text is what it gave, a byte a character.
ps_fuzz::Outcome ReadInflate(const std::uint8_t* data, std::size_t size)
{
    ps_fuzz::Outcome o;
    plat::DamageScope damage;
    Src src{data, size, 0};
    CompressStream* s = InflateStreamOpen(&Read, &src);
    char buf[1000];
    std::size_t total = 0;
    int n = 0;
    for (int i = 0;; ++i) {
        n = InflateStreamRead(s, buf, 1 + (i * 131) % sizeof buf);
        if (n <= 0)
            break;
        total += static_cast<std::size_t>(n);
        if (total > (std::size_t(64) << 20))
            break;
        for (int k = 0; k < n && o.text.size() < 4096; ++k)
            o.text += static_cast<char16_t>(static_cast<unsigned char>(buf[k]));
    }
    o.read = InflateStreamClose(s) >= 0 && n == 0 && !damage.Damaged();

    std::string packed;
    CompressStream* d = DeflateStreamOpen(&Write, &packed);
    DeflateStreamWrite(d, data, static_cast<int>(size));
    DeflateStreamClose(d);
    Src back{reinterpret_cast<const std::uint8_t*>(packed.data()), packed.size(), 0};
    CompressStream* r = InflateStreamOpen(&Read, &back);
    std::string out(size + 1, '\0');
    std::size_t have = 0;
    for (;;) {
        const int got = InflateStreamRead(r, out.data() + have, static_cast<int>(out.size() - have));
        if (got <= 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    if (have != size || std::memcmp(out.data(), data, size) != 0 || InflateStreamClose(r) != 0)
        std::abort();
    return o;
}

const ps_fuzz::Registrar kInflate("inflate_fuzz", ReadInflate);

}  // namespace
