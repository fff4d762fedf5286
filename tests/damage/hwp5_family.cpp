// HWP 5 documents: a compound file whose DocInfo and BodyText sections are
// compressed record streams. The mutants damage the record streams before
// they are compressed (cuts, record sizes, paragraph character counts, record
// levels and tags, single bytes), the compressed streams themselves (bits
// flipped, cut, data after the end, the trailer changed), DocInfo's section
// count, the sections present, the header's compressed flag and the
// compound file as a whole.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "damage/damage.h"
#include "extract/hwp/hwp_builder.h"

namespace {

using damage::Bytes;
using damage::Mutant;
using namespace hwp_test;

constexpr std::uint32_t kCompressed = 1;

// The document before packing: uncompressed record streams.
struct Model {
    std::string docInfo;
    std::vector<std::string> sections;
};

// The document as stored: the header's properties and each stream's bytes
// (a section left out is absent from BodyText).
struct Stored {
    std::uint32_t properties = kCompressed;
    std::string docInfo;
    std::vector<std::optional<std::string>> sections;
};

std::string DocInfoStream(unsigned sectionCount)
{
    std::string props;
    Le16(props, sectionCount);
    props += Zeros(24);
    return Rec(16, 0, props) + Rec(17, 0, Zeros(72));
}

// Three sections: plain paragraphs, a table whose cells hold lines, and a
// footnote, with the seed's lines spread over all of them.
Model SeedModel()
{
    const std::vector<std::u16string> lines = damage::SeedLines(24);
    std::size_t next = 0;
    auto line = [&]() { return lines.at(next++); };

    Model m;
    std::string s0;
    for (int i = 0; i < 7; ++i)
        s0 += Para(0, U(u"가나다 ") + line(), false);
    s0 += Para(0, line(), true);

    std::string s1 = Para(0, U(u"표 앞"), false);
    const Units c1 = line(), c2 = line(), c3 = line(), c4 = line();
    s1 += Para(0, Ctrl(11, Id("tbl ")) + line(), false, Table(0, {{c1, c2}, {c3, c4}}));
    for (int i = 0; i < 2; ++i)
        s1 += Para(0, line(), false);
    s1 += Para(0, line(), true);

    std::string s2 = Para(0, line(), false);
    const Units note = line();
    s2 += Para(0, Ctrl(17, Id("fn  ")) + line(), false,
               Rec(71, 1, ObjectCommon(Id("fn  "))) + List(2, {note}));
    while (next + 1 < lines.size())
        s2 += Para(0, line(), false);
    s2 += Para(0, line(), true);

    m.sections = {s0, s1, s2};
    m.docInfo = DocInfoStream(static_cast<unsigned>(m.sections.size()));
    return m;
}

// Compressed as Hangul stores them: raw deflate, then the CRC-32 and length
// of the data.
Stored Pack(const Model& m)
{
    Stored s;
    s.docInfo = RawDeflate(m.docInfo, true);
    for (const std::string& sec : m.sections)
        s.sections.emplace_back(RawDeflate(sec, true));
    return s;
}

Bytes Build(const Stored& s, ps_test::CfbLayout* layout = nullptr)
{
    ps_test::CfbWriter w(3);
    std::string h = "HWP Document File";
    h += Zeros(32 - h.size());
    Le32(h, 0x05000300);
    Le32(h, s.properties);
    h += Zeros(256 - h.size());
    w.AddStream(u"FileHeader", h);
    w.AddStream(u"DocInfo", s.docInfo);
    w.AddStorage(u"BodyText");
    for (std::size_t i = 0; i < s.sections.size(); ++i) {
        if (!s.sections[i])
            continue;
        std::u16string name = u"BodyText/Section";
        for (char c : std::to_string(i))
            name.push_back(static_cast<char16_t>(c));
        w.AddStream(name, *s.sections[i]);
    }
    return w.Build(layout);
}

Bytes Seed()
{
    return Build(Pack(SeedModel()));
}

struct RecordAt {
    std::size_t offset;
    std::size_t header;  // 4, or 8 with the long size
    unsigned tag;
    unsigned level;
    std::uint32_t size;
};

std::vector<RecordAt> Records(const std::string& s)
{
    std::vector<RecordAt> out;
    std::size_t p = 0;
    while (p + 4 <= s.size()) {
        const std::uint32_t h = ps_test::GetLe32(s, p);
        RecordAt r{p, 4, h & 0x3FF, (h >> 10) & 0x3FF, h >> 20};
        if (r.size == 0xFFF) {
            r.header = 8;
            r.size = ps_test::GetLe32(s, p + 4);
        }
        out.push_back(r);
        p += r.header + r.size;
    }
    return out;
}

// The record at r with its size set to v (the header's short or long form
// as v needs).
std::string WithSize(const std::string& s, const RecordAt& r, std::uint32_t v)
{
    const std::uint32_t head = ps_test::GetLe32(s, r.offset) & 0xFFFFFu;
    std::string h;
    if (v < 0xFFF) {
        Le32(h, head | (v << 20));
    } else {
        Le32(h, head | (0xFFFu << 20));
        Le32(h, v);
    }
    std::string m = s;
    m.replace(r.offset, r.header, h);
    return m;
}

std::string WithLevel(const std::string& s, const RecordAt& r, unsigned level)
{
    std::string m = s;
    const std::uint32_t h = ps_test::GetLe32(s, r.offset);
    ps_test::PutLe32(m, r.offset, (h & ~(0x3FFu << 10)) | ((level & 0x3FF) << 10));
    return m;
}

// A stream of the model by number: 0 DocInfo, 1.. the sections.
const std::string& StreamOf(const Model& m, std::size_t k)
{
    return k == 0 ? m.docInfo : m.sections[k - 1];
}

std::string StreamName(std::size_t k)
{
    return k == 0 ? "DocInfo" : "Section" + std::to_string(k - 1);
}

// A mutant not made yet: most runs ask for a few of each kind.
struct Recipe {
    std::string name;
    std::function<Bytes()> make;
};

void Mutate(const Bytes& seed, std::uint64_t rngSeed, std::size_t budget, std::vector<Mutant>& out)
{
    damage::Rng rng(rngSeed);
    const Model base = SeedModel();
    const Stored packed = Pack(base);
    const std::size_t streams = 1 + base.sections.size();

    // One group per kind of damage; the groups are interleaved below so that
    // a short run still meets every kind.
    std::vector<std::vector<Recipe>> groups;
    auto group = [&groups]() -> std::vector<Recipe>& {
        groups.emplace_back();
        return groups.back();
    };
    // The document with record stream k (0 DocInfo, 1.. the sections)
    // replaced before compression.
    auto withStream = [&packed](std::size_t k, std::string records) {
        return [&packed, k, records]() {
            Stored s = packed;
            (k == 0 ? s.docInfo : *s.sections[k - 1]) = RawDeflate(records, true);
            return Build(s);
        };
    };

    // Paragraph character counts (the last flag kept), each paragraph.
    {
        auto& g = group();
        for (std::size_t k = 1; k < streams; ++k) {
            const std::string& s = StreamOf(base, k);
            for (const RecordAt& r : Records(s)) {
                if (r.tag != 66 || r.size < 4)
                    continue;
                const std::uint32_t word = ps_test::GetLe32(s, r.offset + r.header);
                const std::uint32_t n = word & 0x7FFFFFFFu, last = word & 0x80000000u;
                std::set<std::uint32_t> values = {0, 1, n / 2, n - 1, n + 1, n * 2, n + 100, 0x7FFFFFFFu};
                values.erase(n);
                for (std::uint32_t v : values) {
                    std::string m = s;
                    ps_test::PutLe32(m, r.offset + r.header, v | last);
                    g.push_back({StreamName(k) + " nchars@" + std::to_string(r.offset) + "=" + std::to_string(v),
                                 withStream(k, std::move(m))});
                }
            }
        }
    }
    // DocInfo's section count.
    {
        auto& g = group();
        std::vector<Mutant> fields;
        damage::AddFieldValues(base.docInfo, 4, 2, "section count", fields);
        for (Mutant& f : fields)
            g.push_back({f.name, withStream(0, f.bytes)});
    }
    // Each section removed; the compressed flag off over compressed streams
    // and on over plain ones.
    {
        auto& g = group();
        for (std::size_t i = 0; i < base.sections.size(); ++i)
            g.push_back({"Section" + std::to_string(i) + " removed", [&packed, i]() {
                             Stored s = packed;
                             s.sections[i].reset();
                             return Build(s);
                         }});
        g.push_back({"compressed flag off", [&packed]() {
                         Stored s = packed;
                         s.properties &= ~kCompressed;
                         return Build(s);
                     }});
        g.push_back({"compressed flag on, streams plain", [&base]() {
                         Stored plain;
                         plain.docInfo = base.docInfo;
                         for (const std::string& sec : base.sections)
                             plain.sections.emplace_back(sec);
                         return Build(plain);
                     }});
    }
    // Record sizes: 0, smaller, larger and past the end, each record.
    {
        auto& g = group();
        for (std::size_t k = 0; k < streams; ++k) {
            const std::string& s = StreamOf(base, k);
            for (const RecordAt& r : Records(s)) {
                const std::uint32_t n = r.size;
                const std::uint32_t toEnd = static_cast<std::uint32_t>(s.size() - r.offset - r.header);
                std::set<std::uint32_t> values = {0, n / 2, n ? n - 1 : 0, n + 1, n * 2 + 2, toEnd + 1, 0xFFFFFFF0u};
                values.erase(n);
                for (std::uint32_t v : values)
                    g.push_back({StreamName(k) + " size@" + std::to_string(r.offset) + "=" + std::to_string(v),
                                 withStream(k, WithSize(s, r, v))});
            }
        }
    }
    // Cuts of each record stream: at every record's start, inside its
    // header and inside its body.
    {
        auto& g = group();
        for (std::size_t k = 0; k < streams; ++k) {
            const std::string& s = StreamOf(base, k);
            std::set<std::size_t> at;
            for (const RecordAt& r : Records(s)) {
                at.insert(r.offset);
                at.insert(r.offset + 2);
                if (r.size > 1)
                    at.insert(r.offset + r.header + r.size / 2);
            }
            at.erase(0);
            for (std::size_t a : at)
                if (a < s.size())
                    g.push_back({StreamName(k) + " cut@" + std::to_string(a), withStream(k, s.substr(0, a))});
        }
    }
    // Record levels one up and one down.
    {
        auto& g = group();
        for (std::size_t k = 1; k < streams; ++k) {
            const std::string& s = StreamOf(base, k);
            for (const RecordAt& r : Records(s)) {
                g.push_back({StreamName(k) + " level@" + std::to_string(r.offset) + "+1",
                             withStream(k, WithLevel(s, r, r.level + 1))});
                if (r.level > 0)
                    g.push_back({StreamName(k) + " level@" + std::to_string(r.offset) + "-1",
                                 withStream(k, WithLevel(s, r, r.level - 1))});
            }
        }
    }
    // Record tags changed: to one not known, to the largest, to those of a
    // paragraph, its text, a control and a list.
    {
        auto& g = group();
        for (std::size_t k = 1; k < streams; ++k) {
            const std::string& s = StreamOf(base, k);
            for (const RecordAt& r : Records(s)) {
                for (unsigned t : {99u, 0x3FFu, 66u, 67u, 71u, 72u}) {
                    if (t == r.tag)
                        continue;
                    std::string m = s;
                    ps_test::PutLe32(m, r.offset, (ps_test::GetLe32(s, r.offset) & ~0x3FFu) | t);
                    g.push_back({StreamName(k) + " tag@" + std::to_string(r.offset) + "=" + std::to_string(t),
                                 withStream(k, std::move(m))});
                }
            }
        }
    }
    // Single bytes of the record streams set at random, outside the text
    // records' bodies (a character changed there makes another document, not
    // a damaged one: the stream is compressed again with its own CRC).
    {
        auto& g = group();
        for (std::size_t k = 1; k < streams; ++k) {
            const std::string& s = StreamOf(base, k);
            std::vector<bool> text(s.size(), false);
            for (const RecordAt& r : Records(s))
                if (r.tag == 67)
                    std::fill(text.begin() + static_cast<std::ptrdiff_t>(r.offset + r.header),
                              text.begin() + static_cast<std::ptrdiff_t>(r.offset + r.header + r.size), true);
            for (int i = 0; i < 200; ++i) {
                const std::size_t at = rng.Below(s.size());
                if (text[at])
                    continue;
                std::string m = s;
                m[at] = static_cast<char>(rng.Below(256));
                g.push_back({StreamName(k) + " byte@" + std::to_string(at) + "=" +
                                 std::to_string(static_cast<unsigned char>(m[at])),
                             withStream(k, std::move(m))});
            }
        }
    }
    // The compressed streams themselves: bits flipped, cut short, data after
    // the end, the trailer's CRC and length changed.
    {
        auto& g = group();
        for (int round = 0; round < 26; ++round) {
            for (std::size_t k = 0; k < streams; ++k) {
                const std::string& z0 = k == 0 ? packed.docInfo : *packed.sections[k - 1];
                std::string z = z0;
                std::string name = StreamName(k) + " deflate ";
                if (round < 12) {
                    const std::size_t at = rng.Below(z.size());
                    const char mask = static_cast<char>(1u << rng.Below(8));
                    z[at] = static_cast<char>(z[at] ^ mask);
                    name += "bit flipped@" + std::to_string(at);
                } else if (round < 22) {
                    const std::size_t at = 1 + (z.size() - 1) * static_cast<std::size_t>(round - 12) / 10;
                    z.resize(at);
                    name += "cut@" + std::to_string(at);
                } else if (round < 24) {
                    z += round == 22 ? std::string("\x03\x00", 2) : std::string("trailing bytes");
                    name += "with data after its end " + std::to_string(round);
                } else {
                    const std::size_t at = z.size() - (round == 24 ? 8 : 4);
                    ps_test::PutLe32(z, at, ps_test::GetLe32(z, at) + 1);
                    name += round == 24 ? "trailer CRC changed" : "trailer length changed";
                }
                g.push_back({name, [&packed, k, z]() {
                                 Stored s = packed;
                                 (k == 0 ? s.docInfo : *s.sections[k - 1]) = z;
                                 return Build(s);
                             }});
            }
        }
    }
    // Each stream's directory entry: its size and its first sector.
    {
        auto& g = group();
        ps_test::CfbLayout layout;
        const Bytes built = Build(packed, &layout);
        std::vector<std::u16string> names = {u"FileHeader", u"DocInfo"};
        for (std::size_t i = 0; i < base.sections.size(); ++i)
            names.push_back(u"BodyText/Section" + std::u16string(1, static_cast<char16_t>(u'0' + i)));
        std::vector<Mutant> fields;
        for (const std::u16string& n : names) {
            const std::size_t entry = static_cast<std::size_t>(layout.EntryOffset(layout.EntryId(n)));
            const std::string label(n.begin(), n.end());
            damage::AddFieldValues(built, entry + 120, 4, label + " size", fields);
            damage::AddFieldValues(built, entry + 116, 4, label + " start", fields);
        }
        for (Mutant& f : fields)
            g.push_back({f.name, [bytes = std::move(f.bytes)]() { return bytes; }});
    }
    // Cuts of the compound file.
    {
        auto& g = group();
        std::vector<std::size_t> marks;
        for (std::size_t a = 512; a < seed.size(); a += 512)
            marks.push_back(a);
        std::vector<Mutant> cuts;
        damage::AddCuts(seed, 64, cuts, marks);
        for (Mutant& c : cuts)
            g.push_back({c.name, [bytes = std::move(c.bytes)]() { return bytes; }});
    }

    std::set<Bytes> seen = {seed};
    std::vector<std::size_t> pos(groups.size(), 0);
    for (bool more = true; more && out.size() < budget;) {
        more = false;
        for (std::size_t gi = 0; gi < groups.size() && out.size() < budget; ++gi) {
            auto& g = groups[gi];
            while (pos[gi] < g.size()) {
                Recipe& r = g[pos[gi]++];
                Bytes bytes = r.make();
                if (seen.insert(bytes).second) {
                    out.push_back({std::move(r.name), std::move(bytes)});
                    break;
                }
            }
            more |= pos[gi] < g.size();
        }
    }
}

const damage::Registrar registrar({"hwp5", "hwp", Seed, Mutate});

}  // namespace
