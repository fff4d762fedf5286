// The Word 6/95 family: a fast-saved document (its text in two pieces of the
// piece table, stored in reverse order) in Korean single-byte text, with a
// header, a footnote at its reference mark and a text box, the seed's lines
// spread over every story. The mutants damage the "WordDocument" stream
// before it is packed into the compound file again (cuts; each FIB story
// length, position and size; each CP and position of the piece table; each
// value of the header, note, bin and page tables) and cut the whole file.
#include <algorithm>
#include <string>
#include <vector>

#include "damage/damage.h"
#include "platform/codec.h"
#include "support/cfb_writer.h"
#include "support/word6builder.h"

namespace {

using damage::Bytes;
using damage::Mutant;

constexpr std::size_t kMainLines = 12;

std::string Cp949(const std::u16string& s)
{
    return plat::EncodeCodePage(949, s);
}

std::string Stream()
{
    const std::vector<std::u16string> lines = damage::SeedLines(kMainLines + 3);
    ps_test::Word6Builder b;
    b.styles = true;
    b.complex = true;
    for (std::size_t i = 0; i < kMainLines; ++i) {
        b.main += Cp949(lines[i]);
        if (i == kMainLines / 2) {
            b.refCps.push_back({static_cast<std::uint32_t>(b.main.size()), 0});
            b.main += "\x02";
        }
        b.main += "\r";
    }
    const std::string note = "\x02 " + Cp949(lines[kMainLines]) + "\r";
    b.footnotes = note + "\r";
    b.footnotePlc = {0, static_cast<std::uint32_t>(note.size()), static_cast<std::uint32_t>(note.size() + 1)};
    const std::string header = Cp949(lines[kMainLines + 1]);
    b.headers = "\r\r" + header + "\r\r";
    b.headerPlc = {0, 2, static_cast<std::uint32_t>(2 + header.size() + 2)};
    b.textboxes = Cp949(lines[kMainLines + 2]) + "\r";
    return b.Stream();
}

std::string Pack(const std::string& word)
{
    ps_test::CfbWriter w(3);
    w.AddStream(u"WordDocument", word);
    return w.Build();
}

std::uint32_t U32(const std::string& s, std::size_t at)
{
    return at + 4 <= s.size() ? ps_test::GetLe32(s, at) : 0;
}

void Repack(std::vector<Mutant>& in, const std::string& prefix, std::vector<Mutant>& out)
{
    for (Mutant& m : in)
        out.push_back({prefix + m.name, Pack(m.bytes)});
    in.clear();
}

void Mutate(const Bytes& file, std::uint64_t rng, std::size_t budget, std::vector<Mutant>& out)
{
    const std::string word = Stream();
    std::vector<std::vector<Mutant>> kinds(6);
    std::vector<Mutant> tmp;

    // The FIB fields the reader uses: text positions, story lengths, and
    // each position and size of a table.
    static const struct {
        std::size_t at;
        const char* name;
    } kFields[] = {
        {0x18, "fcMin"},     {0x1C, "fcMac"},     {0x34, "ccpText"},   {0x38, "ccpFtn"},    {0x3C, "ccpHdd"},
        {0x40, "ccpMcr"},    {0x44, "ccpAtn"},    {0x48, "ccpEdn"},    {0x4C, "ccpTxbx"},   {0x50, "ccpHdrTxbx"},
        {0x60, "fcStshf"},   {0x64, "lcbStshf"},  {0x70, "fcFtnTxt"},  {0x74, "lcbFtnTxt"}, {0xB0, "fcPlcfhdd"},
        {0xB4, "lcbPlcfhdd"}, {0xB8, "fcBteChpx"}, {0xBC, "lcbBteChpx"}, {0xC0, "fcBtePapx"}, {0xC4, "lcbBtePapx"},
        {0x160, "fcClx"},    {0x164, "lcbClx"},
    };
    for (const auto& f : kFields)
        damage::AddFieldValues(word, f.at, 4, std::string("fib.") + f.name, tmp);
    Repack(tmp, "", kinds[0]);

    // The piece table: its property run, the Pcdt's length, each CP and
    // each piece's position.
    {
        const std::size_t clx = U32(word, 0x160);
        const std::size_t lcb = U32(word, 0x164);
        std::size_t pcdt = clx;
        while (pcdt < clx + lcb && word[pcdt] == 1)
            pcdt += 3 + static_cast<unsigned char>(word[pcdt + 1]) + 256 * static_cast<unsigned char>(word[pcdt + 2]);
        damage::AddFieldValues(word, clx + 1, 2, "prc.cb", tmp);
        damage::AddFieldValues(word, pcdt + 1, 4, "pcdt.lcb", tmp);
        const std::size_t size = U32(word, pcdt + 1);
        const std::size_t n = size >= 4 ? (size - 4) / 12 : 0;
        for (std::size_t i = 0; i <= n; ++i)
            damage::AddFieldValues(word, pcdt + 5 + 4 * i, 4, "pcd.cp" + std::to_string(i), tmp);
        for (std::size_t i = 0; i < n; ++i)
            damage::AddFieldValues(word, pcdt + 5 + 4 * (n + 1) + 8 * i + 2, 4, "pcd.fc" + std::to_string(i), tmp);
        tmp.push_back({"clx.kind", damage::Overwritten(word, clx, std::string("\x07", 1))});
        Repack(tmp, "", kinds[1]);
    }
    // The tables: header and note positions, the bin tables and the pages
    // they name.
    {
        static const struct {
            std::size_t fib;
            const char* name;
        } kTables[] = {{0xB0, "hdd"}, {0x70, "ftnTxt"}, {0xB8, "bteChpx"}, {0xC0, "btePapx"}};
        for (const auto& t : kTables) {
            const std::size_t fc = U32(word, t.fib);
            const std::size_t lcb = U32(word, t.fib + 4);
            for (std::size_t at = 0; at + 4 <= lcb; at += 4)
                damage::AddFieldValues(word, fc + at, 4, std::string(t.name) + "@" + std::to_string(at), tmp);
            if (t.fib == 0xB8 || t.fib == 0xC0)
                damage::AddFieldValues(word, fc + 8, 2, std::string(t.name) + ".pn", tmp);
        }
        Repack(tmp, "", kinds[2]);
    }
    {
        const std::size_t bin = U32(word, 0xB8);
        const std::size_t page = 512 * (static_cast<unsigned char>(word[bin + 8]) +
                                        256 * static_cast<unsigned char>(word[bin + 9]));
        if (page + 512 <= word.size()) {
            const std::size_t crun = static_cast<unsigned char>(word[page + 511]);
            for (std::size_t i = 0; i <= crun; ++i) {
                const std::string label = "chpFkp.fc" + std::to_string(i);
                damage::AddFieldValues(word, page + 4 * i, 4, label, tmp);
                // A boundary between two runs moved by one character, still
                // between its neighbours, formats another character: that is
                // another document, not a damaged one.
                const std::uint32_t v = U32(word, page + 4 * i);
                if (i > 0 && i < crun)
                    tmp.erase(std::remove_if(tmp.begin(), tmp.end(),
                                             [&](const Mutant& m) {
                                                 return m.name == label + "=" + std::to_string(v - 1) ||
                                                        m.name == label + "=" + std::to_string(v + 1);
                                             }),
                              tmp.end());
            }
            damage::AddFieldValues(word, page + 511, 1, "chpFkp.crun", tmp);
        }
        Repack(tmp, "", kinds[3]);
    }
    // Cuts of the stream, at the ends of its structures first.
    {
        std::vector<std::size_t> marks = {0x18, 1024, U32(word, 0x1C) - 1};
        for (std::size_t fibAt : {std::size_t(0x70), std::size_t(0xB0), std::size_t(0xB8), std::size_t(0x160)})
            marks.push_back(U32(word, fibAt) + U32(word, fibAt + 4) - 1);
        damage::AddCuts(word, 200, tmp, marks);
        Repack(tmp, "word.", kinds[4]);
    }
    // Cuts of the whole file and random bytes of the stream outside the
    // text (a changed character of the text is another text, not damage).
    {
        damage::AddCuts(file, 200, kinds[5]);
        damage::Rng r(rng);
        const std::size_t textStart = U32(word, 0x18);
        const std::size_t textEnd = U32(word, 0x1C);
        for (int i = 0; i < 600; ++i) {
            const std::size_t at = r.Below(word.size());
            if (at >= textStart && at < textEnd)
                continue;
            std::string m = word;
            m[at] = static_cast<char>(r.Below(256));
            if (m == word)
                continue;
            kinds[5].push_back({"word byte " + std::to_string(at) + "=" +
                                    std::to_string(static_cast<unsigned char>(m[at])),
                                Pack(m)});
        }
    }
    std::vector<std::size_t> next(kinds.size(), 0);
    for (bool more = true; more && out.size() < budget;) {
        more = false;
        for (std::size_t k = 0; k < kinds.size() && out.size() < budget; ++k) {
            if (next[k] < kinds[k].size()) {
                out.push_back(std::move(kinds[k][next[k]++]));
                more = true;
            }
        }
    }
}

const damage::Registrar kWord6({"word6", "doc", [] { return Pack(Stream()); }, Mutate});

}  // namespace
