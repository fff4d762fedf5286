// The HWP 3.0 family: a document built here with paragraphs of their own
// shapes and of shared ones, per-character shape lists, a table, a footnote,
// a header, a hidden comment, a picture with its caption, a bookmark and a
// field, and the blocks that follow the paragraph list; the seed is
// compressed, some mutants are the same document uncompressed. Mutants: cuts
// at paragraph starts and through the compressed data, the compressed data
// damaged, its check value changed, and every count and length (header,
// paragraphs, special characters, blocks) set to other values, both in the
// plain file and recompressed with a matching check value.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "damage/damage.h"
#include "platform/codec.h"
#include "tests/extract/hwp/hwp_builder.h"

namespace {

using namespace hwp_test;
using Codes16 = std::vector<std::uint16_t>;

// Johab codes of a line, as the format stores its text.
Codes16 LineCodes(const std::u16string& line)
{
    const std::string bytes = plat::EncodeCodePage(plat::kCpJohab, line);
    Codes16 codes;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80 || i + 1 == bytes.size())
            codes.push_back(b);
        else
            codes.push_back(static_cast<std::uint16_t>((b << 8) | static_cast<unsigned char>(bytes[++i])));
    }
    return codes;
}

// Bytes that look like a writer's: small numbers and zeros, never all zero.
std::string Pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        if ((i + seed) % 3 != 0)
            s[i] = static_cast<char>(1 + (i * 7 + seed * 13) % 200);
    return s;
}

// The body under construction, with the offsets of its fields and of its
// paragraphs' starts.
struct Builder {
    std::string body;
    struct Field {
        size_t offset;
        int width;
        std::string label;
    };
    std::vector<Field> fields;
    std::vector<size_t> starts;
    int paragraphs = 0;

    void AddField(size_t at, int width, const std::string& label) { fields.push_back({at, width, label}); }

    // A paragraph: its header, shape, line information, per-character
    // shapes (when shapes), then its codes (special characters written by
    // the callback in place) and its end. positions: the paragraph's count.
    template <class Specials>
    void Paragraph(const Codes16& before, unsigned specialPositions, Specials specials, const Codes16& after,
                   bool ownShape, bool shapes, unsigned style)
    {
        const std::string tag = "p" + std::to_string(paragraphs++) + ".";
        const unsigned count = static_cast<unsigned>(before.size() + specialPositions + after.size() + 1);
        starts.push_back(body.size());
        const size_t head = body.size();
        body.push_back(ownShape ? 0 : 1);
        Le16(body, count);
        const unsigned lines = 1 + count / 40;
        Le16(body, lines);
        body.push_back(shapes ? 1 : 0);
        body.push_back(0);
        Le32(body, specialPositions ? 0x400u : 0u);
        body.push_back(static_cast<char>(style));
        body += Pattern(CharShapeSize(Old::V30), paragraphs);
        AddField(head, 1, tag + "own-shape");
        AddField(head + 1, 2, tag + "count");
        AddField(head + 3, 2, tag + "lines");
        AddField(head + 5, 1, tag + "shape-flag");
        AddField(head + 11, 1, tag + "style");
        if (ownShape)
            body += Pattern(187, paragraphs + 1);
        body += Pattern(size_t(lines) * 14, paragraphs + 2);
        if (shapes) {
            for (unsigned i = 0; i < count; ++i) {
                if (i % 9 == 0) {
                    body.push_back(0);
                    body += Pattern(CharShapeSize(Old::V30), i);
                } else {
                    body.push_back(1);
                }
            }
        }
        for (std::uint16_t c : before)
            Le16(body, c);
        specials(*this, tag);
        for (std::uint16_t c : after)
            Le16(body, c);
        Le16(body, 13);
    }

    void Text(const Codes16& codes, bool ownShape = true, bool shapes = false)
    {
        Paragraph(codes, 0, [](Builder&, const std::string&) {}, {}, ownShape, shapes, 0);
    }

    void End()
    {
        starts.push_back(body.size());
        body += OldEnd(Old::V30);
    }
};

struct Seed {
    OldDocument doc;      // head and blocks; compressed
    std::string body;     // the uncompressed body
    std::vector<Builder::Field> fields;
    std::vector<size_t> starts;
};

Seed MakeSeed()
{
    const std::vector<std::u16string> lines = damage::SeedLines(24);
    size_t next = 0;
    auto line = [&]() { return LineCodes(lines[next++ % lines.size()]); };

    Seed seed;
    OldDocument& d = seed.doc;
    d.generation = Old::V30;
    d.compressed = true;
    d.infoBlock = Pattern(12, 5);
    d.styles = 2;
    Builder b;
    // Font names (one per group) and styles, with their counts.
    for (int g = 0; g < 7; ++g) {
        b.AddField(b.body.size(), 2, "fonts" + std::to_string(g));
        Le16(b.body, 1);
        b.body += Pattern(40, 20 + g);
    }
    b.AddField(b.body.size(), 2, "styles");
    Le16(b.body, d.styles);
    b.body += Pattern(size_t(d.styles) * (20 + CharShapeSize(Old::V30) + 187), 30);

    b.Text(Codes("HWP 3"), true, true);
    b.Text(line());
    b.Text(line(), false, true);
    b.Text(line(), false);

    // A table of three cells and a caption, each cell a line.
    const Codes16 c1 = line(), c2 = line(), c3 = line();
    b.Paragraph(Codes("T"), 4, [&](Builder& p, const std::string& tag) {
        Le16(p.body, 10);
        p.body += Pattern(84, 3);
        Le16(p.body, 0);
        p.AddField(p.body.size(), 2, tag + "cells");
        Le16(p.body, 3);
        Le16(p.body, 0);
        p.body += Pattern(3 * 27, 4);
        for (const Codes16* cell : {&c1, &c2, &c3}) {
            p.Text(*cell);
            p.End();
        }
        p.Text(Codes("caption"), false);
        p.End();
    }, {}, true, false, 1);

    b.Text(line(), true, true);

    // A footnote, a header and a hidden comment, each a list of one line.
    const Codes16 fn = line(), hd = line(), hc = line();
    b.Paragraph(Codes("note"), 12, [&](Builder& p, const std::string&) {
        Le16(p.body, 17);
        p.body += Pattern(20, 6);
        p.Text(fn);
        p.End();
        Le16(p.body, 16);
        p.body += Pattern(16, 7);
        p.Text(hd, false);
        p.End();
        Le16(p.body, 15);
        p.body += Pattern(14, 8);
        p.Text(hc);
        p.End();
    }, Codes("end"), true, true, 0);

    b.Text(line());

    // A line, a tab, a line.
    const Codes16 t1 = line(), t2 = line();
    b.Paragraph(t1, 4, [&](Builder& p, const std::string&) {
        Le16(p.body, 9);
        p.body += Pattern(6, 9);
    }, t2, false, false, 0);

    // A bookmark (a length and its data) and a field (four lengths and their
    // data) before lines.
    const Codes16 bm = line(), fd = line();
    b.Paragraph({}, 4, [&](Builder& p, const std::string& tag) {
        Le16(p.body, 6);
        p.AddField(p.body.size(), 4, tag + "bookmark-length");
        Le32(p.body, 10);
        p.body += Pattern(2 + 10, 10);
    }, bm, true, false, 0);
    b.Paragraph({}, 4, [&](Builder& p, const std::string& tag) {
        Le16(p.body, 5);
        p.body += Pattern(36, 11);
        const std::uint32_t parts[4] = {4, 0, 6, 2};
        for (int i = 0; i < 4; ++i) {
            p.AddField(p.body.size(), 4, tag + "field-length" + std::to_string(i));
            Le32(p.body, parts[i]);
        }
        p.body += Pattern(12, 12);
    }, fd, true, false, 0);

    b.Text(line(), false, true);

    // A picture with its data and a caption line.
    const Codes16 cap = line();
    b.Paragraph(Codes("P"), 4, [&](Builder& p, const std::string& tag) {
        Le16(p.body, 11);
        p.body += Pattern(6, 13);
        p.AddField(p.body.size(), 4, tag + "picture-length");
        Le32(p.body, 20);
        p.body += Pattern(70 + 1 + 8 + 256, 14);
        p.body += Pattern(20 + 9, 15);
        p.Text(cap);
        p.End();
    }, {}, true, false, 0);

    while (next < lines.size()) {
        const bool own = next % 3 != 0;
        b.Text(line(), own, next % 2 == 0);
    }
    b.End();

    // The blocks after the list: a picture's data and the closing block.
    b.AddField(b.body.size() + 4, 4, "block1-length");
    Le32(b.body, 1);
    Le32(b.body, 30);
    b.body += Pattern(30, 16);
    b.AddField(b.body.size() + 4, 4, "block0-length");
    Le32(b.body, 0);
    Le32(b.body, 0);
    std::string after;
    Le32(after, 0x80000000u);
    Le32(after, 4);
    after += Pattern(4, 17);
    d.afterBody = after;

    seed.body = b.body;
    seed.fields = b.fields;
    seed.starts = b.starts;
    return seed;
}

std::string Plain(const Seed& s, const std::string& body)
{
    OldDocument d = s.doc;
    d.compressed = false;
    return d.Wrap(body);
}

std::string Packed(const Seed& s, const std::string& body)
{
    return s.doc.Wrap(body);
}

void Mutate(const damage::Bytes&, std::uint64_t rngSeed, std::size_t budget, std::vector<damage::Mutant>& out)
{
    const Seed s = MakeSeed();
    const std::string packed = Packed(s, s.body);
    const std::string plain = Plain(s, s.body);
    const size_t head = s.doc.Head().size();
    const size_t dataEnd = head + RawDeflate(s.body).size();  // where the check value starts
    damage::Rng rng(rngSeed);

    // Each kind of mutant in its own list; they are dealt out in turn so
    // that a small budget still holds every kind.
    std::vector<std::vector<damage::Mutant>> kinds;
    kinds.reserve(16);  // the references kind() hands out stay valid
    auto kind = [&kinds]() -> std::vector<damage::Mutant>& {
        kinds.emplace_back();
        return kinds.back();
    };

    // Every field of the body, in the plain file and recompressed.
    {
        auto& plainFields = kind();
        auto& packedFields = kind();
        for (const Builder::Field& f : s.fields) {
            damage::AddFieldValues(plain, head + f.offset, f.width, "plain " + f.label, plainFields);
            std::vector<damage::Mutant> bodies;
            damage::AddFieldValues(s.body, f.offset, f.width, "packed " + f.label, bodies);
            for (damage::Mutant& m : bodies)
                packedFields.push_back({m.name, Packed(s, m.bytes)});
        }
    }
    // The header's fields: information block length, compression,
    // encryption.
    {
        auto& headers = kind();
        for (const std::string* file : {&packed, &plain}) {
            const std::string tag = file == &packed ? "packed " : "plain ";
            damage::AddFieldValues(*file, 30 + 126, 2, tag + "info-length", headers);
            damage::AddFieldValues(*file, 30 + 124, 1, tag + "compressed", headers);
        }
    }
    // Cuts: the plain file at every paragraph's start and inside it, the
    // packed one through its data, at its check value and after it.
    {
        auto& cuts = kind();
        std::vector<size_t> marks;
        for (size_t at : s.starts) {
            marks.push_back(head + at);
            marks.push_back(head + at + 20);
        }
        std::vector<damage::Mutant> plainCuts;
        damage::AddCuts(plain, 120, plainCuts, marks);
        for (damage::Mutant& m : plainCuts)
            cuts.push_back({"plain " + m.name, std::move(m.bytes)});
        std::vector<damage::Mutant> packedCuts;
        damage::AddCuts(packed, 120, packedCuts,
                        {head, head + 1, dataEnd - 1, dataEnd, dataEnd + 1, dataEnd + 4, dataEnd + 7, dataEnd + 8});
        for (damage::Mutant& m : packedCuts)
            cuts.push_back({"packed " + m.name, std::move(m.bytes)});
        // A paragraph's header or a list's end paragraph taken out. (A
        // whole paragraph taken out leaves a sound document: nothing counts
        // the paragraphs of a list.)
        const size_t headSize = 12 + CharShapeSize(Old::V30);
        for (size_t i = 0; i < s.starts.size(); ++i) {
            const std::string body = damage::Without(s.body, s.starts[i], headSize);
            const std::string what = " paragraph " + std::to_string(i) + " header removed";
            cuts.push_back({"plain" + what, Plain(s, body)});
            cuts.push_back({"packed" + what, Packed(s, body)});
        }
    }
    // The compressed data damaged: bytes changed, bits flipped.
    {
        auto& data = kind();
        for (int i = 0; i < 300; ++i) {
            const size_t at = head + rng.Below(dataEnd - head);
            std::string m = packed;
            const bool bit = i % 2 == 0;
            if (bit)
                m[at] = static_cast<char>(m[at] ^ (1 << rng.Below(8)));
            else
                m[at] = static_cast<char>(rng.Below(256));
            if (m != packed)
                data.push_back({"packed data " + std::string(bit ? "bit" : "byte") + "@" + std::to_string(at), m});
        }
    }
    // The check value changed.
    {
        auto& check = kind();
        damage::AddFieldValues(packed, dataEnd, 4, "crc", check);
        damage::AddFieldValues(packed, dataEnd + 4, 4, "length", check);
        for (size_t i = 0; i < 8; ++i) {
            std::string m = packed;
            m[dataEnd + i] = static_cast<char>(m[dataEnd + i] ^ 0x20);
            check.push_back({"check byte " + std::to_string(i) + " flipped", m});
        }
    }
    std::vector<size_t> at(kinds.size(), 0);
    for (bool more = true; more && out.size() < budget;) {
        more = false;
        for (size_t k = 0; k < kinds.size() && out.size() < budget; ++k) {
            if (at[k] < kinds[k].size()) {
                out.push_back(std::move(kinds[k][at[k]++]));
                more = true;
            }
        }
    }
}

const damage::Registrar kHwp3Family({
    "hwp3",
    "hwp",
    [] {
        const Seed s = MakeSeed();
        return Packed(s, s.body);
    },
    Mutate,
});

}  // namespace
