// The Excel 97 family: a workbook with a shared-string table that goes on in
// a CONTINUE record (one string split across the two), three sheets of
// shared-string cells and inline text cells, in a compound file. Mutants:
// cuts of the workbook stream (repacked) and of the file, every record's
// length set to other values, the table's counts changed, its CONTINUE
// removed, the sheets' offsets changed, each EOF removed, the cells' string
// indexes changed.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "damage/damage.h"
#include "office/excel/xlsbuilder.h"
#include "support/cfb_writer.h"

namespace {

using namespace xls_test;

constexpr std::size_t kSheets = 3;
constexpr std::size_t kSharedLines = 18;  // in the table, 6 per sheet
constexpr std::size_t kInlineLines = 6;   // in LABEL cells, 2 per sheet

// A LABEL cell (BIFF8) with its text wide.
std::string Label(std::uint16_t row, std::uint16_t col, const std::u16string& text)
{
    return R(0x0204, Cell(row, col) + U16(std::uint16_t(text.size())) + U8(1) + Utf16(text));
}

struct Workbook {
    std::string stream;
    std::vector<std::size_t> records;     // offset of every record
    std::vector<std::size_t> eofs;        // offsets of the EOF records
    std::vector<std::size_t> boundSheets; // offsets of the BOUNDSHEET records
    std::vector<std::size_t> labelSsts;   // offsets of the LABELSST records
    std::size_t sst = 0;                  // offset of the SST record
    std::size_t cont = 0;                 // offset of its CONTINUE record
};

Workbook Build()
{
    const std::vector<std::u16string> lines = damage::SeedLines(kSharedLines + kInlineLines);
    // The table: the strings up to the middle one in the SST record, the
    // middle one split after three characters, the rest in the CONTINUE.
    const std::size_t split = kSharedLines / 2;
    std::string sstBody = U32(std::uint32_t(kSharedLines)) + U32(std::uint32_t(kSharedLines));
    for (std::size_t i = 0; i < split; ++i)
        sstBody += Wide(lines[i]);
    const std::u16string& cut = lines[split];
    sstBody += U16(std::uint16_t(cut.size())) + U8(1) + Utf16(cut.substr(0, 3));
    std::string contBody = U8(1) + Utf16(cut.substr(3));
    for (std::size_t i = split + 1; i < kSharedLines; ++i)
        contBody += Wide(lines[i]);

    std::vector<std::string> sheets;
    for (std::size_t s = 0; s < kSheets; ++s) {
        std::string cells;
        std::uint16_t row = 0;
        for (std::size_t i = s; i < kSharedLines; i += kSheets)
            cells += LabelSst(row++, 0, std::uint32_t(i));
        for (std::size_t i = kSharedLines + s; i < lines.size(); i += kSheets)
            cells += Label(row++, 1, lines[i]);
        cells += Rk(row++, 2, 0, RkInt(int(s) + 1));
        sheets.push_back(Sheet(cells));
    }

    // The globals, their size known before the sheets' offsets are.
    auto globals = [&](const std::vector<std::uint32_t>& at) {
        std::string g = Bof8(0x0005) + R(0x00FC, sstBody) + R(0x003C, contBody);
        for (std::size_t s = 0; s < kSheets; ++s)
            g += BoundSheet(at[s], "S" + std::to_string(s + 1));
        return g + Eof();
    };
    std::vector<std::uint32_t> at(kSheets, 0);
    std::size_t pos = globals(at).size();
    for (std::size_t s = 0; s < kSheets; ++s) {
        at[s] = std::uint32_t(pos);
        pos += sheets[s].size();
    }
    Workbook w;
    w.stream = globals(at);
    for (const std::string& s : sheets)
        w.stream += s;

    // Where the records are.
    for (std::size_t p = 0; p + 4 <= w.stream.size();) {
        const std::uint16_t type = std::uint16_t(std::uint8_t(w.stream[p]) | (std::uint8_t(w.stream[p + 1]) << 8));
        const std::size_t length = std::uint8_t(w.stream[p + 2]) | (std::uint8_t(w.stream[p + 3]) << 8);
        w.records.push_back(p);
        switch (type) {
        case 0x000A: w.eofs.push_back(p); break;
        case 0x0085: w.boundSheets.push_back(p); break;
        case 0x00FD: w.labelSsts.push_back(p); break;
        case 0x00FC: w.sst = p; break;
        case 0x003C: w.cont = p; break;
        default: break;
        }
        p += 4 + length;
    }
    return w;
}

damage::Bytes Pack(const std::string& stream)
{
    ps_test::CfbWriter w(3);
    w.AddStream(u"Workbook", stream);
    return w.Build();
}

std::size_t RecordLength(const std::string& stream, std::size_t at)
{
    return std::uint8_t(stream[at + 2]) | (std::uint8_t(stream[at + 3]) << 8);
}

void Mutate(const damage::Bytes& seed, std::uint64_t rng, std::size_t budget, std::vector<damage::Mutant>& out)
{
    const Workbook w = Build();
    damage::Rng random(rng);

    // Cuts of the stream at the ends of its records, first those of the
    // table and the substreams.
    std::vector<damage::Mutant> streamMutants;
    std::vector<std::size_t> marks;
    for (std::size_t e : w.eofs)
        marks.push_back(e + 4);
    marks.push_back(w.cont);
    marks.push_back(w.cont + 4 + RecordLength(w.stream, w.cont));
    damage::AddCuts(w.stream, 0, streamMutants, marks);

    std::vector<damage::Mutant> fields;
    for (std::size_t r : w.records)
        damage::AddFieldValues(w.stream, r + 2, 2, "length@" + std::to_string(r), fields);
    damage::AddFieldValues(w.stream, w.sst + 4, 4, "sst total", fields);
    damage::AddFieldValues(w.stream, w.sst + 8, 4, "sst unique", fields);
    fields.push_back({"continue removed", damage::Without(w.stream, w.cont, 4 + RecordLength(w.stream, w.cont))});
    for (std::size_t b : w.boundSheets)
        damage::AddFieldValues(w.stream, b + 4, 4, "boundsheet@" + std::to_string(b), fields);
    for (std::size_t e : w.eofs)
        fields.push_back({"eof removed@" + std::to_string(e), damage::Without(w.stream, e, 4)});
    // A cell's string index set past the table (an index changed to another
    // string of the table gives a sound workbook that shows that string).
    for (std::size_t l : w.labelSsts) {
        for (std::uint32_t index : {std::uint32_t(kSharedLines), std::uint32_t(kSharedLines + 1), 0x7FFFFFFFu}) {
            damage::Bytes m = w.stream;
            ps_test::PutLe32(m, l + 10, index);
            fields.push_back({"labelsst index@" + std::to_string(l) + "=" + std::to_string(index), std::move(m)});
        }
    }
    // The telling ones in a random order, so that a short run sees each kind.
    for (std::size_t i = fields.size(); i > 1; --i)
        std::swap(fields[i - 1], fields[random.Below(i)]);
    streamMutants.insert(streamMutants.end(), fields.begin(), fields.end());

    for (damage::Mutant& m : streamMutants) {
        if (out.size() >= budget)
            return;
        m.name = "stream " + m.name;
        out.push_back({m.name, Pack(m.bytes)});
    }
    // Then cuts through the stream and the file, as many as asked for.
    const std::size_t left = budget > out.size() ? budget - out.size() : 0;
    std::vector<damage::Mutant> cuts;
    damage::AddCuts(w.stream, left / 2, cuts);
    for (damage::Mutant& m : cuts)
        out.push_back({"stream " + m.name, Pack(m.bytes)});
    damage::AddCuts(seed, left - left / 2, out);
}

const damage::Registrar kXls({"xls", "xls", [] { return Pack(Build().stream); }, Mutate});

}  // namespace
