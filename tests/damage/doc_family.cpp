// The Word 97-2003 family: a document whose stories (main text, a footnote,
// a header) lie in several pieces, 8-bit and UTF-16 in turn, with the seed's
// lines spread over every piece. The mutants damage the two streams before
// they are packed into the compound file again (cuts, each FIB length,
// offset and count, each piece's CP and file position, each CP of the
// section, header and note tables, the bin tables and the formatted disk
// pages, the table stream removed) and cut the whole file.
#include <algorithm>
#include <string>
#include <vector>

#include "damage/damage.h"
#include "support/cfb_writer.h"
#include "support/docbuilder.h"

namespace {

using damage::Bytes;
using damage::Mutant;

constexpr std::size_t kMainLines = 12;

// A line for an 8-bit piece keeps only its ASCII characters (the label goes,
// the item stays).
std::u16string Ascii(const std::u16string& s)
{
    std::u16string out;
    for (char16_t c : s)
        if (c < 0x80)
            out.push_back(c);
    return out;
}

struct Seed {
    std::string word;
    std::string table;
};

Seed Build()
{
    const std::vector<std::u16string> lines = damage::SeedLines(kMainLines + 2);
    ps_test::WordDocBuilder b;
    const std::string spec = ps_test::Le16s(0x0855) + std::string(1, '\x01');
    // Main text: two lines a piece, 8-bit and UTF-16 in turn; the footnote's
    // reference mark stands in the middle.
    std::vector<std::pair<std::int32_t, std::int32_t>> pieces;
    std::vector<bool> compressed;
    std::int32_t refCp = -1;
    for (std::size_t i = 0; i < kMainLines; i += 2) {
        const bool narrow = (i / 2) % 2 == 0;
        const std::int32_t start = static_cast<std::int32_t>(b.mainText.size());
        for (std::size_t k = i; k < i + 2; ++k) {
            b.mainText += narrow ? Ascii(lines[k]) : lines[k];
            if (k == kMainLines / 2) {
                refCp = static_cast<std::int32_t>(b.mainText.size());
                b.mainText += u"\x02";
            }
            b.mainText += u"\r";
        }
        pieces.push_back({start, static_cast<std::int32_t>(b.mainText.size())});
        compressed.push_back(narrow);
    }
    const std::int32_t ccpText = static_cast<std::int32_t>(b.mainText.size());
    b.footnoteText = u"\x02 " + lines[kMainLines] + u"\r";
    const std::int32_t ccpFtn = static_cast<std::int32_t>(b.footnoteText.size());
    pieces.push_back({ccpText, ccpText + ccpFtn});
    compressed.push_back(false);
    const std::u16string header = Ascii(lines[kMainLines + 1]);
    b.headerText = header + u"\r\r";
    const std::int32_t h = static_cast<std::int32_t>(header.size()) + 1;
    // The header story and the document's final paragraph mark.
    const std::int32_t total = ccpText + ccpFtn + h + 2;
    pieces.push_back({ccpText + ccpFtn, total});
    compressed.push_back(true);
    b.headerCps = {0, 0, 0, 0, 0, 0, 0, h, h, h, h, h, h, h + 1};
    b.pieces = pieces;
    b.pieceCompressed = compressed;
    b.charRuns = {{0, refCp, ""}, {refCp, refCp + 1, spec}, {refCp + 1, total, ""}};
    b.footnoteRefs = {refCp};
    b.footnoteCps = {0, ccpFtn};
    b.Build();
    return {b.WordDocument(), b.Table()};
}

std::string Pack(const std::string& word, const std::string* table)
{
    ps_test::CfbWriter w(3);
    w.AddStream(u"WordDocument", word);
    if (table)
        w.AddStream(u"0Table", *table);
    return w.Build();
}

std::uint32_t U32(const std::string& s, std::size_t at)
{
    return at + 4 <= s.size() ? ps_test::GetLe32(s, at) : 0;
}

// Mutants of one stream, packed with the other one as it is.
void Repack(std::vector<Mutant>& in, bool isTable, const Seed& seed, const std::string& prefix,
            std::vector<Mutant>& out)
{
    for (Mutant& m : in)
        out.push_back({prefix + m.name, isTable ? Pack(seed.word, &m.bytes) : Pack(m.bytes, &seed.table)});
    in.clear();
}

void Mutate(const Bytes& file, std::uint64_t rng, std::size_t budget, std::vector<Mutant>& out)
{
    const Seed seed = Build();
    const std::string& word = seed.word;
    const std::string& table = seed.table;
    std::vector<std::vector<Mutant>> kinds(6);
    std::vector<Mutant> tmp;

    // 0: the FIB's story lengths, positions and sizes.
    {
        static const struct {
            std::size_t at;
            const char* name;
        } kFields[] = {
            {24, "fcMin"}, {28, "fcMac"}, {64, "cbMac"},
            {76, "ccpText"}, {80, "ccpFtn"}, {84, "ccpHdd"}, {92, "ccpAtn"}, {96, "ccpEdn"}, {100, "ccpTxbx"},
            {170, "fcPlcffndRef"}, {174, "lcbPlcffndRef"}, {178, "fcPlcffndTxt"}, {182, "lcbPlcffndTxt"},
            {202, "fcPlcfSed"}, {206, "lcbPlcfSed"}, {242, "fcPlcfHdd"}, {246, "lcbPlcfHdd"},
            {250, "fcPlcfBteChpx"}, {254, "lcbPlcfBteChpx"}, {258, "fcPlcfBtePapx"}, {262, "lcbPlcfBtePapx"},
            {402, "fcDop"}, {418, "fcClx"}, {422, "lcbClx"},
        };
        for (const auto& f : kFields)
            damage::AddFieldValues(word, f.at, 4, std::string("fib.") + f.name, tmp);
        Repack(tmp, false, seed, "", kinds[0]);
    }
    // 1: the piece table: the Pcdt's length, each CP and each piece's position.
    {
        const std::size_t clx = U32(word, 418);
        const std::size_t lcb = U32(word, 422);
        const std::size_t n = lcb >= 9 ? (lcb - 9) / 12 : 0;
        damage::AddFieldValues(table, clx + 1, 4, "pcdt.lcb", tmp);
        for (std::size_t i = 0; i <= n; ++i)
            damage::AddFieldValues(table, clx + 5 + 4 * i, 4, "pcd.cp" + std::to_string(i), tmp);
        for (std::size_t i = 0; i < n; ++i)
            damage::AddFieldValues(table, clx + 5 + 4 * (n + 1) + 8 * i + 2, 4, "pcd.fc" + std::to_string(i), tmp);
        // A property run in front of the piece table, longer than the Clx.
        tmp.push_back({"clx.prc", damage::Overwritten(table, clx, std::string("\x01\xF0\x00", 3))});
        tmp.push_back({"clx.kind", damage::Overwritten(table, clx, std::string("\x07", 1))});
        Repack(tmp, true, seed, "", kinds[1]);
    }
    // 2: the other tables of the table stream, each of their 32-bit values.
    {
        static const struct {
            std::size_t fib;
            const char* name;
        } kTables[] = {
            {202, "sed"}, {242, "hdd"}, {250, "bteChpx"}, {258, "btePapx"}, {170, "fndRef"}, {178, "fndTxt"},
        };
        for (const auto& t : kTables) {
            const std::size_t fc = U32(word, t.fib);
            const std::size_t lcb = U32(word, t.fib + 4);
            for (std::size_t at = 0; at + 4 <= lcb; at += 4)
                damage::AddFieldValues(table, fc + at, 4, std::string(t.name) + "@" + std::to_string(at), tmp);
        }
        Repack(tmp, true, seed, "", kinds[2]);
    }
    // 3: the formatted disk pages: their positions and run counts.
    {
        for (std::size_t fibAt : {std::size_t(250), std::size_t(258)}) {
            const std::size_t pn = U32(table, U32(word, fibAt) + 8);
            const std::size_t page = 512 * pn;
            if (page + 512 > word.size())
                continue;
            const std::size_t crun = static_cast<unsigned char>(word[page + 511]);
            const std::string name = fibAt == 250 ? "chpFkp" : "papFkp";
            for (std::size_t i = 0; i <= crun; ++i)
                damage::AddFieldValues(word, page + 4 * i, 4, name + ".fc" + std::to_string(i), tmp);
            damage::AddFieldValues(word, page + 511, 1, name + ".crun", tmp);
        }
        Repack(tmp, false, seed, "", kinds[3]);
    }
    // 4: cuts of either stream, at the ends of its structures first; the
    // table stream removed.
    {
        std::vector<std::size_t> marks = {1024};
        const std::size_t clx = U32(word, 418);
        const std::size_t lcb = U32(word, 422);
        const std::size_t n = lcb >= 9 ? (lcb - 9) / 12 : 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t fc = U32(table, clx + 5 + 4 * (n + 1) + 8 * i + 2);
            const bool narrow = (fc & 0x40000000u) != 0;
            const std::size_t start = narrow ? (fc & 0x3FFFFFFFu) / 2 : fc;
            const std::size_t chars = U32(table, clx + 5 + 4 * (i + 1)) - U32(table, clx + 5 + 4 * i);
            marks.push_back(start + 1);
            marks.push_back(start + chars * (narrow ? 1 : 2) - 1);
        }
        damage::AddCuts(word, 120, tmp, marks);
        Repack(tmp, false, seed, "word.", kinds[4]);
        std::vector<std::size_t> tableMarks;
        for (std::size_t fibAt : {std::size_t(170), std::size_t(178), std::size_t(202), std::size_t(242),
                                  std::size_t(250), std::size_t(258), std::size_t(418)})
            tableMarks.push_back(U32(word, fibAt) + U32(word, fibAt + 4) - 1);
        damage::AddCuts(table, 60, tmp, tableMarks);
        Repack(tmp, true, seed, "table.", kinds[4]);
        kinds[4].push_back({"table removed", Pack(word, nullptr)});
        const std::string empty;
        kinds[4].push_back({"table empty", Pack(word, &empty)});
    }
    // 5: cuts of the whole file and random bytes of the FIB and the tables.
    {
        damage::AddCuts(file, 200, kinds[5]);
        damage::Rng r(rng);
        for (int i = 0; i < 250; ++i) {
            const bool inTable = r.Below(2) == 1;
            const std::string& s = inTable ? table : word;
            const std::size_t limit = inTable ? s.size() : std::min<std::size_t>(s.size(), 1024);
            const std::size_t at = r.Below(limit);
            std::string m = s;
            m[at] = static_cast<char>(r.Below(256));
            if (m == s)
                continue;
            const std::string name = std::string(inTable ? "table" : "word") + " byte " + std::to_string(at) + "=" +
                                     std::to_string(static_cast<unsigned char>(m[at]));
            kinds[5].push_back({name, inTable ? Pack(word, &m) : Pack(m, &table)});
        }
    }
    // The most telling first: the kinds in turn.
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

const damage::Registrar kDoc({"doc", "doc",
                              [] {
                                  const Seed s = Build();
                                  return Pack(s.word, &s.table);
                              },
                              Mutate});

}  // namespace
