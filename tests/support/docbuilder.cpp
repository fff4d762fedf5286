#include "support/docbuilder.h"

#include "support/cfb_writer.h"

namespace ps_test {

std::string Le16s(std::uint16_t v)
{
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string Le32s(std::uint32_t v)
{
    return Le16s(static_cast<std::uint16_t>(v & 0xFFFF)) + Le16s(static_cast<std::uint16_t>(v >> 16));
}

namespace {

void Put32(std::string& s, std::size_t at, std::uint32_t v)
{
    if (s.size() < at + 4)
        s.resize(at + 4, '\0');
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Put16(std::string& s, std::size_t at, std::uint16_t v)
{
    if (s.size() < at + 2)
        s.resize(at + 2, '\0');
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}

// Appends block to the table and points the FIB's fc/lcb pair at it.
void Place(std::string& table, std::string& fib, std::uint32_t fcAt, const std::string& block)
{
    Put32(fib, fcAt, static_cast<std::uint32_t>(table.size()));
    Put32(fib, fcAt + 4, static_cast<std::uint32_t>(block.size()));
    table += block;
}

struct FcMap {
    std::vector<std::pair<std::int32_t, std::int32_t>> pieces;
    std::vector<std::uint32_t> fcs;
    std::vector<bool> compressed;
    std::uint32_t Fc(std::int32_t cp) const
    {
        for (std::size_t i = 0; i < pieces.size(); ++i)
            if (cp >= pieces[i].first && cp <= pieces[i].second)
                return fcs[i] + static_cast<std::uint32_t>(cp - pieces[i].first) * (compressed[i] ? 1 : 2);
        return 0;
    }
};

// One FKP page of runs with per-run property bytes.
std::string Fkp(const std::vector<std::uint32_t>& fcs, const std::vector<std::string>& grpprls, bool para)
{
    std::string page(512, '\0');
    const std::size_t crun = grpprls.size();
    for (std::size_t i = 0; i <= crun; ++i)
        Put32(page, 4 * i, fcs[i]);
    std::size_t top = 511;
    const std::size_t offsets = 4 * (crun + 1);
    for (std::size_t i = 0; i < crun; ++i) {
        const std::string& g = grpprls[i];
        if (!para) {
            if (g.empty())
                continue;
            std::size_t at = (top - 1 - g.size()) & ~std::size_t(1);
            page[at] = static_cast<char>(g.size());
            page.replace(at + 1, g.size(), g);
            page[offsets + i] = static_cast<char>(at / 2);
            top = at;
        } else {
            // PapxInFkp: cb' = 0 form, then istd 0 and the modifiers.
            std::string body = std::string(2, '\0') + g;
            if (body.size() % 2)
                body.push_back('\0');
            std::size_t at = (top - 2 - body.size()) & ~std::size_t(1);
            page[at] = 0;
            page[at + 1] = static_cast<char>(body.size() / 2);
            page.replace(at + 2, body.size(), body);
            page[offsets + 13 * i] = static_cast<char>(at / 2);
            top = at;
        }
    }
    page[511] = static_cast<char>(crun);
    return page;
}

}  // namespace

std::string WordDocBuilder::WordDocument() const { return word_; }
std::string WordDocBuilder::Table() const { return table_; }

std::string WordDocBuilder::Build()
{
    std::string fib(1024, '\0');
    Put16(fib, 0, 0xA5EC);
    Put16(fib, 2, 0x00C1);
    std::uint16_t flags = 0;
    if (encrypted)
        flags |= 0x0100;
    if (whichTable)
        flags |= 0x0200;
    Put16(fib, 10, flags);
    const std::int32_t ccpText = static_cast<std::int32_t>(mainText.size());
    Put32(fib, 76, static_cast<std::uint32_t>(ccpText));
    Put32(fib, 80, static_cast<std::uint32_t>(footnoteText.size()));
    Put32(fib, 84, static_cast<std::uint32_t>(headerText.size()));
    Put32(fib, 92, static_cast<std::uint32_t>(commentText.size()));
    Put32(fib, 96, static_cast<std::uint32_t>(endnoteText.size()));
    Put32(fib, 100, static_cast<std::uint32_t>(textBoxText.size()));

    // Behind the stories, when there is more than the main text, the
    // document's final paragraph mark.
    std::u16string all = mainText + footnoteText + headerText + commentText + endnoteText + textBoxText;
    if (all.size() > mainText.size())
        all += u"\r";
    const std::int32_t total = static_cast<std::int32_t>(all.size());

    // Text at FC 1024; each piece's text in order.
    FcMap map;
    map.pieces = pieces.empty() ? std::vector<std::pair<std::int32_t, std::int32_t>>{{0, total}} : pieces;
    for (std::size_t i = 0; i < map.pieces.size(); ++i)
        map.compressed.push_back(i < pieceCompressed.size() ? pieceCompressed[i] : compressed);
    std::string word = fib;
    for (std::size_t i = 0; i < map.pieces.size(); ++i) {
        const auto& p = map.pieces[i];
        map.fcs.push_back(static_cast<std::uint32_t>(word.size()));
        for (std::int32_t cp = p.first; cp < p.second && cp < total; ++cp) {
            const char16_t c = all[static_cast<std::size_t>(cp)];
            if (map.compressed[i])
                word.push_back(static_cast<char>(c & 0xFF));
            else
                word += Le16s(c);
        }
    }
    // The text's first and last position (fcMin, fcMac).
    Put32(word, 24, 1024);
    Put32(word, 28, static_cast<std::uint32_t>(word.size()));
    while (word.size() % 512)
        word.push_back('\0');

    // Character runs: one FKP page.
    std::vector<WordRun> chr = charRuns.empty() ? std::vector<WordRun>{{0, total, ""}} : charRuns;
    std::vector<std::uint32_t> fcs;
    std::vector<std::string> grpprls;
    for (const WordRun& r : chr) {
        fcs.push_back(map.Fc(r.cpStart));
        grpprls.push_back(r.grpprl);
    }
    fcs.push_back(map.Fc(chr.back().cpEnd));
    const std::uint32_t chpPage = static_cast<std::uint32_t>(word.size() / 512);
    word += Fkp(fcs, grpprls, false);

    std::vector<WordRun> par = paraRuns.empty() ? std::vector<WordRun>{{0, total, ""}} : paraRuns;
    fcs.clear();
    grpprls.clear();
    for (const WordRun& r : par) {
        fcs.push_back(map.Fc(r.cpStart));
        grpprls.push_back(r.grpprl);
    }
    fcs.push_back(map.Fc(par.back().cpEnd));
    const std::uint32_t papPage = static_cast<std::uint32_t>(word.size() / 512);
    word += Fkp(fcs, grpprls, true);

    std::string table;
    table.resize(16, '\0');
    // Clx: one Pcdt.
    {
        std::string plc;
        for (const auto& p : map.pieces)
            plc += Le32s(static_cast<std::uint32_t>(p.first));
        plc += Le32s(static_cast<std::uint32_t>(map.pieces.back().second));
        for (std::size_t i = 0; i < map.pieces.size(); ++i) {
            const std::uint32_t fc = map.compressed[i] ? ((map.fcs[i] * 2) | 0x40000000u) : map.fcs[i];
            plc += Le16s(0) + Le32s(fc) + Le16s(0);
        }
        std::string clx = std::string(1, '\x02') + Le32s(static_cast<std::uint32_t>(plc.size())) + plc;
        Place(table, word, 418, clx);
    }
    // Sections.
    {
        std::vector<std::int32_t> ends = sectionEnds.empty() ? std::vector<std::int32_t>{ccpText} : sectionEnds;
        std::string plc = Le32s(0);
        for (std::int32_t e : ends)
            plc += Le32s(static_cast<std::uint32_t>(e));
        for (std::size_t i = 0; i < ends.size(); ++i)
            plc += Le16s(0) + Le32s(0xFFFFFFFFu) + Le16s(0) + Le32s(0);
        Place(table, word, 202, plc);
    }
    Place(table, word, 250, Le32s(0) + Le32s(static_cast<std::uint32_t>(total)) + Le32s(chpPage));
    Place(table, word, 258, Le32s(0) + Le32s(static_cast<std::uint32_t>(total)) + Le32s(papPage));
    Place(table, word, 402, std::string(500, '\0'));
    if (!headerCps.empty()) {
        std::string plc;
        for (std::int32_t cp : headerCps)
            plc += Le32s(static_cast<std::uint32_t>(cp));
        Place(table, word, 242, plc);
    }
    auto notes = [&](const std::vector<std::int32_t>& refs, const std::vector<std::int32_t>& cps,
                     std::uint32_t refAt, std::uint32_t txtAt, std::size_t refData = 2) {
        if (refs.empty())
            return;
        std::string ref;
        for (std::int32_t cp : refs)
            ref += Le32s(static_cast<std::uint32_t>(cp));
        ref += Le32s(static_cast<std::uint32_t>(ccpText + 1));
        for (std::size_t i = 0; i < refs.size(); ++i)
            ref += refData == 2 ? Le16s(static_cast<std::uint16_t>(i + 1)) : std::string(refData, '\0');
        Place(table, word, refAt, ref);
        std::string txt;
        for (std::int32_t cp : cps)
            txt += Le32s(static_cast<std::uint32_t>(cp));
        for (std::size_t i = 0; i + 1 < cps.size(); ++i)
            txt += Le16s(0);
        Place(table, word, txtAt, txt);
    };
    notes(footnoteRefs, footnoteCps, 170, 178);
    notes(endnoteRefs, endnoteCps, 522, 530);
    notes(commentRefs, commentCps, 186, 194, 30);
    if (!textBoxes.empty()) {
        std::string plc;
        for (const WordTextBoxSpec& t : textBoxes)
            plc += Le32s(static_cast<std::uint32_t>(t.cpStart));
        plc += Le32s(static_cast<std::uint32_t>(textBoxes.back().cpEnd));
        for (const WordTextBoxSpec& t : textBoxes) {
            std::string f(22, '\0');
            Put32(f, 14, static_cast<std::uint32_t>(t.lid));
            plc += f;
        }
        Place(table, word, 602, plc);
    }
    if (!anchors.empty()) {
        std::string plc;
        for (const WordAnchorSpec& a : anchors)
            plc += Le32s(static_cast<std::uint32_t>(a.cp));
        plc += Le32s(static_cast<std::uint32_t>(ccpText));
        for (const WordAnchorSpec& a : anchors) {
            std::string f(26, '\0');
            Put32(f, 0, static_cast<std::uint32_t>(a.spid));
            plc += f;
        }
        Place(table, word, 474, plc);
    }
    if (!dggInfo.empty())
        Place(table, word, 554, dggInfo);

    // The bytes of the stream that mean anything (cbMac).
    Put32(word, 64, static_cast<std::uint32_t>(word.size()));
    for (const auto& [at, value] : fibPatches)
        Put32(word, at, value);

    word_ = word;
    table_ = table;
    CfbWriter w(3);
    w.AddStream(u"WordDocument", word);
    w.AddStream(whichTable ? u"1Table" : u"0Table", table);
    if (!dataStream.empty())
        w.AddStream(u"Data", dataStream);
    return w.Build();
}

std::string ArtRecord(std::uint16_t verInst, std::uint16_t type, const std::string& body)
{
    return Le16s(verInst) + Le16s(type) + Le32s(static_cast<std::uint32_t>(body.size())) + body;
}

std::string ArtContainer(std::uint16_t type, const std::string& children)
{
    return ArtRecord(0x000F, type, children);
}

std::string ArtShape(std::uint32_t spid, std::uint32_t shapeType, std::uint32_t flags, bool textBox,
                     const std::int32_t* groupRect, const std::int32_t* childRect, const std::string& fopt)
{
    std::string inner;
    if (groupRect) {
        std::string r;
        for (int i = 0; i < 4; ++i)
            r += Le32s(static_cast<std::uint32_t>(groupRect[i]));
        inner += ArtRecord(0x0001, 0xF009, r);
    }
    inner += ArtRecord(static_cast<std::uint16_t>((shapeType << 4) | 2), 0xF00A, Le32s(spid) + Le32s(flags));
    if (!fopt.empty())
        inner += ArtRecord(0x0003, 0xF00B, fopt);
    if (childRect) {
        std::string r;
        for (int i = 0; i < 4; ++i)
            r += Le32s(static_cast<std::uint32_t>(childRect[i]));
        inner += ArtRecord(0x0000, 0xF00F, r);
    }
    if (textBox)
        inner += ArtRecord(0x0000, 0xF00D, Le32s(0x00010000));
    return ArtContainer(0xF004, inner);
}

std::string ArtDrawing(std::uint32_t spidMax, const std::string& shapes)
{
    const std::string fdgg = Le32s(spidMax) + Le32s(1) + Le32s(1) + Le32s(1);
    return ArtContainer(0xF000, ArtRecord(0x0000, 0xF006, fdgg)) +
           ArtContainer(0xF002, ArtRecord(0x0010, 0xF008, Le32s(2) + Le32s(spidMax)) + ArtContainer(0xF003, shapes));
}

}  // namespace ps_test
