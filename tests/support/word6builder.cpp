#include "support/word6builder.h"

#include <algorithm>

#include "support/cfb_writer.h"

namespace ps_test {

void Put16(std::string& s, size_t off, std::uint16_t v)
{
    if (s.size() < off + 2)
        s.resize(off + 2, '\0');
    s[off] = static_cast<char>(v & 0xFF);
    s[off + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string& s, size_t off, std::uint32_t v)
{
    Put16(s, off, static_cast<std::uint16_t>(v & 0xFFFF));
    Put16(s, off + 2, static_cast<std::uint16_t>(v >> 16));
}

void Pad(std::string& s, size_t to)
{
    if (s.size() < to)
        s.resize(to, '\0');
}

std::string Word6Builder::Stream() const
{
    const int w = CharBytes();
    std::string all = main + footnotes + headers + annotations + endnotes + textboxes;
    const std::uint32_t chars = static_cast<std::uint32_t>(all.size() / w);
    std::string s(682, '\0');
    Put16(s, 0, ident);
    Put16(s, 2, 0x65);
    Put16(s, 6, lid);
    if (encrypted)
        s[0x0B] = 1;
    if (savedOnMac)
        s[0x13] = 1;
    s[0x12] = static_cast<char>(envr);
    Put16(s, 0x14, chse);
    if (complex)
        s[0x0A] = 4;
    Pad(s, 1024);
    const std::uint32_t textStart = 1024;
    std::vector<std::uint32_t> fcOfCp(chars + 1);
    std::uint32_t split = chars / 2;
    if (!complex) {
        s += all;
        for (std::uint32_t cp = 0; cp <= chars; ++cp)
            fcOfCp[cp] = textStart + cp * w;
    } else {
        // Second half first, then the first half.
        s += all.substr(split * w);
        s += all.substr(0, split * w);
        for (std::uint32_t cp = 0; cp <= chars; ++cp)
            fcOfCp[cp] = cp < split ? textStart + (chars - split + cp) * w : textStart + (cp - split) * w;
    }
    Put32(s, 0x18, textStart);
    Put32(s, 0x1C, textStart + chars * w);
    Put32(s, 0x34, static_cast<std::uint32_t>(main.size() / w));
    Put32(s, 0x38, static_cast<std::uint32_t>(footnotes.size() / w));
    Put32(s, 0x3C, static_cast<std::uint32_t>(headers.size() / w));
    Put32(s, 0x44, static_cast<std::uint32_t>(annotations.size() / w));
    Put32(s, 0x48, static_cast<std::uint32_t>(endnotes.size() / w));
    Put32(s, 0x4C, static_cast<std::uint32_t>(textboxes.size() / w));

    // Character runs: one run per character of the text area.
    size_t pageStart = (s.size() + 511) / 512 * 512;
    Pad(s, pageStart);
    std::string page(512, '\0');
    std::vector<std::uint32_t> bounds;
    bounds.push_back(textStart);
    std::vector<bool> special;
    for (std::uint32_t cp : specialCps) {
        // Runs in stream order: one single-character run per special character.
        (void)cp;
    }
    // Stream-ordered run list: every character its own run (small texts only).
    const std::uint32_t textEnd = textStart + chars * w;
    // Per character: 0 plain, 1 special, 2 + kind a reference mark.
    std::vector<int> mark(chars, 0);
    for (std::uint32_t cp : specialCps)
        if (cp < chars)
            mark[(fcOfCp[cp] - textStart) / w] = 1;
    for (const Drawing& d : drawings)
        if (d.cp < chars)
            mark[(fcOfCp[d.cp] - textStart) / w] = 1;
    for (const auto& [cp, kind] : refCps)
        if (cp < chars)
            mark[(fcOfCp[cp] - textStart) / w] = 2 + kind;
    std::vector<bool> isSpecialFc(chars, false);
    for (std::uint32_t k = 0; k < chars; ++k)
        isSpecialFc[k] = mark[k] != 0;
    int crun = 0;
    std::vector<std::uint32_t> rg;
    std::vector<unsigned char> off;
    std::uint32_t fc = textStart;
    while (fc < textEnd && crun < 100) {
        std::uint32_t k = (fc - textStart) / w;
        std::uint32_t e = fc + w;
        bool sp = isSpecialFc[k];
        if (!sp) {
            while (e < textEnd && !isSpecialFc[(e - textStart) / w])
                e += w;
        }
        rg.push_back(fc);
        static const unsigned char kMarkOffset[5] = {0, 250, 240, 237, 234};
        off.push_back(sp ? kMarkOffset[mark[k]] : (fontCharset >= 0 ? 245 : 0));
        fc = e;
        ++crun;
    }
    rg.push_back(fc);
    for (int i = 0; i <= crun; ++i)
        Put32(page, 4 * i, rg[i]);
    for (int i = 0; i < crun; ++i)
        page[4 * (crun + 1) + i] = static_cast<char>(off[i]);
    page[490] = 3;
    page[491] = 93;
    page[500] = 2;
    page[501] = 117;
    page[502] = 1;
    // Reference styles 12, 13, 14 with the special flag.
    for (int kind = 0; kind < 3; ++kind) {
        const size_t at = 480 - 6 * kind;
        const char list[6] = {5, 80, static_cast<char>(12 + kind), 0, 117, 1};
        for (int i = 0; i < 6; ++i)
            page[at + i] = list[i];
    }
    page[511] = static_cast<char>(crun);
    s += page;
    const std::uint32_t pn = static_cast<std::uint32_t>(pageStart / 512);

    // Bin table.
    const std::uint32_t binAt = static_cast<std::uint32_t>(s.size());
    std::string bin;
    Put32(bin, 0, textStart);
    Put32(bin, 4, fc);
    Put16(bin, 8, static_cast<std::uint16_t>(pn));
    s += bin;
    Put32(s, 0xB8, binAt);
    Put32(s, 0xBC, static_cast<std::uint32_t>(bin.size()));

    if (fontCharset >= 0) {
        std::string ffn;
        ffn += static_cast<char>(6 + 5 - 1);
        ffn += std::string("\x00\x90\x01", 3);
        ffn += static_cast<char>(fontCharset);
        ffn += std::string("\x00Arial", 6);
        ffn.resize(11);
        std::string sttb;
        Put16(sttb, 0, static_cast<std::uint16_t>(2 + ffn.size()));
        sttb += ffn;
        const std::uint32_t at = static_cast<std::uint32_t>(s.size());
        s += sttb;
        Put32(s, 0xD0, at);
        Put32(s, 0xD4, static_cast<std::uint32_t>(sttb.size()));
    }
    if (!headerPlc.empty()) {
        const std::uint32_t at = static_cast<std::uint32_t>(s.size());
        for (std::uint32_t v : headerPlc) {
            std::string b;
            Put32(b, 0, v);
            s += b;
        }
        Put32(s, 0xB0, at);
        Put32(s, 0xB4, static_cast<std::uint32_t>(headerPlc.size() * 4));
    }
    if (!tables.empty()) {
        // Paragraphs in stream order, each ending at a 13 or 7.
        std::vector<std::uint32_t> cpOfIndex(chars);
        for (std::uint32_t cp = 0; cp < chars; ++cp)
            cpOfIndex[(fcOfCp[cp] - textStart) / w] = cp;
        struct ParaSpec {
            std::uint32_t first, last;
            std::string list;
        };
        std::vector<ParaSpec> paras;
        std::uint32_t k0 = 0;
        for (std::uint32_t k = 0; k < chars; ++k) {
            const std::uint32_t cp = cpOfIndex[k];
            const unsigned char c = static_cast<unsigned char>(all[cp * w]);
            if (c != 13 && c != 7 && k + 1 < chars)
                continue;
            bool inTable = false;
            for (const auto& [f, l] : tables)
                inTable = inTable || (cp >= f && cp < l);
            std::string list;
            if (inTable)
                list = std::string("\x18\x01", 2);
            if (std::find(rowEndCps.begin(), rowEndCps.end(), cp) != rowEndCps.end()) {
                list += std::string("\x19\x01", 2);
                if (auto it = rowEndLists.find(cp); it != rowEndLists.end())
                    list += it->second;
            }
            paras.push_back({textStart + k0 * w, textStart + (k + 1) * w, list});
            k0 = k + 1;
        }
        // Pages of at most eight paragraphs, records from the page's end.
        std::vector<std::uint32_t> firsts;
        std::vector<std::uint16_t> pns;
        for (size_t at = 0; at < paras.size(); at += 8) {
            const size_t count = std::min<size_t>(8, paras.size() - at);
            std::string page(512, '\0');
            size_t free = 511;
            for (size_t i = 0; i < count; ++i) {
                const ParaSpec& ps = paras[at + i];
                Put32(page, 4 * i, ps.first);
                Put32(page, 4 * (i + 1), ps.last);
                if (ps.list.empty())
                    continue;
                std::string list = ps.list;
                if (list.size() % 2)
                    list += '\0';
                const size_t cw = (list.size() + 2) / 2;
                const size_t bytes = 1 + 2 * cw;
                free = (free - bytes) & ~size_t(1);
                page[free] = static_cast<char>(cw);
                page.replace(free + 3, list.size(), list);
                page[4 * (count + 1) + 7 * i] = static_cast<char>(free / 2);
            }
            page.resize(512);
            page[511] = static_cast<char>(count);
            Pad(s, (s.size() + 511) / 512 * 512);
            pns.push_back(static_cast<std::uint16_t>(s.size() / 512));
            firsts.push_back(paras[at].first);
            s += page;
        }
        std::string pbin;
        for (size_t i = 0; i < firsts.size(); ++i)
            Put32(pbin, 4 * i, firsts[i]);
        Put32(pbin, 4 * firsts.size(), paras.back().last);
        for (size_t i = 0; i < pns.size(); ++i)
            Put16(pbin, 4 * (firsts.size() + 1) + 2 * i, pns[i]);
        const std::uint32_t at = static_cast<std::uint32_t>(s.size());
        s += pbin;
        Put32(s, 0xC0, at);
        Put32(s, 0xC4, static_cast<std::uint32_t>(pbin.size()));
    } else if (!rowEndCps.empty()) {
        // Paragraph runs: each row-end mark its own paragraph in a table.
        std::vector<bool> rowEnd(chars, false);
        for (std::uint32_t cp : rowEndCps)
            if (cp < chars)
                rowEnd[(fcOfCp[cp] - textStart) / w] = true;
        std::vector<std::uint32_t> prg;
        std::vector<bool> pend;
        std::uint32_t f = textStart;
        while (f < textEnd && prg.size() < 40) {
            const std::uint32_t k = (f - textStart) / w;
            std::uint32_t e = f + w;
            if (!rowEnd[k])
                while (e < textEnd && !rowEnd[(e - textStart) / w])
                    e += w;
            prg.push_back(f);
            pend.push_back(rowEnd[k]);
            f = e;
        }
        prg.push_back(f);
        const int prun = static_cast<int>(pend.size());
        std::string ppage(512, '\0');
        for (int i = 0; i <= prun; ++i)
            Put32(ppage, 4 * i, prg[i]);
        for (int i = 0; i < prun; ++i)
            ppage[4 * (prun + 1) + 7 * i] = pend[i] ? static_cast<char>(240) : '\0';
        // Three words: style 0, in table, row end.
        const char papx[7] = {3, 0, 0, 24, 1, 25, 1};
        for (int i = 0; i < 7; ++i)
            ppage[480 + i] = papx[i];
        ppage[511] = static_cast<char>(prun);
        Pad(s, (s.size() + 511) / 512 * 512);
        const std::uint32_t ppn = static_cast<std::uint32_t>(s.size() / 512);
        s += ppage;
        std::string pbin;
        Put32(pbin, 0, textStart);
        Put32(pbin, 4, f);
        Put16(pbin, 8, static_cast<std::uint16_t>(ppn));
        const std::uint32_t at = static_cast<std::uint32_t>(s.size());
        s += pbin;
        Put32(s, 0xC0, at);
        Put32(s, 0xC4, static_cast<std::uint32_t>(pbin.size()));
    }
    if (!drawings.empty()) {
        // The objects, then the anchor table: positions, then entries
        // {object position, text-box count}.
        std::vector<std::uint32_t> objectAt;
        for (const Drawing& d : drawings) {
            objectAt.push_back(static_cast<std::uint32_t>(s.size()));
            std::string header(10, '\0');
            Put16(header, 2, static_cast<std::uint16_t>(10 + d.primitives.size()));
            s += header + d.primitives;
        }
        std::string plc;
        for (size_t i = 0; i < drawings.size(); ++i)
            Put32(plc, 4 * i, drawings[i].cp);
        Put32(plc, 4 * drawings.size(), static_cast<std::uint32_t>(main.size() / w));
        for (size_t i = 0; i < drawings.size(); ++i) {
            std::string e(6, '\0');
            Put32(e, 0, objectAt[i]);
            Put16(e, 4, 1);
            plc += e;
        }
        const std::uint32_t at = static_cast<std::uint32_t>(s.size());
        s += plc;
        Put32(s, 0x192, at);
        Put32(s, 0x196, static_cast<std::uint32_t>(plc.size()));
    }
    auto putPlc = [&](const std::vector<std::uint32_t>& plc, size_t fibAt) {
        if (plc.empty())
            return;
        const std::uint32_t at = static_cast<std::uint32_t>(s.size());
        std::string b;
        for (size_t i = 0; i < plc.size(); ++i)
            Put32(b, 4 * i, plc[i]);
        s += b;
        Put32(s, fibAt, at);
        Put32(s, fibAt + 4, static_cast<std::uint32_t>(b.size()));
    };
    putPlc(footnotePlc, 0x70);
    putPlc(annotationPlc, 0x80);
    putPlc(endnotePlc, 0x1DA);
    putPlc(textBoxPlc, 0x222);
    if (styles) {
        // Header of 4 bytes (cstd, base size), then 15 records: Normal,
        // empty slots, and the reference character styles at 12 to 14.
        std::string st;
        Put16(st, 0, 4);
        Put16(st, 2, 15);
        Put16(st, 4, 8);
        static const std::uint16_t kSti[3] = {38, 42, 39};
        for (int istd = 0; istd < 15; ++istd) {
            std::string rec;
            if (istd == 0 || istd >= 12) {
                Put16(rec, 0, istd == 0 ? 0 : kSti[istd - 12]);
                Put16(rec, 2, istd == 0 ? 1 : 2);  // paragraph or character style
                Put16(rec, 4, 0);
                Put16(rec, 6, 0);
                rec += std::string("\x01x\x00", 3);
            }
            std::string len;
            Put16(len, 0, static_cast<std::uint16_t>(rec.size()));
            st += len + rec;
        }
        const std::uint32_t at = static_cast<std::uint32_t>(s.size());
        s += st;
        Put32(s, 0x60, at);
        Put32(s, 0x64, static_cast<std::uint32_t>(st.size()));
    }
    if (complex) {
        std::string clx;
        clx += '\x01';
        Put16(clx, 1, 2);
        clx += std::string("\x55\x01", 2);  // a property list of 2 bytes
        std::string plc;
        Put32(plc, 0, 0);
        Put32(plc, 4, split);
        Put32(plc, 8, chars);
        std::string pcd(16, '\0');
        Put32(pcd, 2, fcOfCp[0]);
        Put32(pcd, 10, fcOfCp[split]);
        plc += pcd;
        const size_t at = clx.size();
        clx += '\x02';
        Put32(clx, at + 1, static_cast<std::uint32_t>(plc.size()));
        clx += plc;
        const std::uint32_t clxAt = static_cast<std::uint32_t>(s.size());
        s += clx;
        Put32(s, 0x160, clxAt);
        Put32(s, 0x164, static_cast<std::uint32_t>(clx.size()));
    }
    return s;
}

std::string Word6Builder::File() const
{
    CfbWriter w(3);
    w.AddStream(u"WordDocument", Stream());
    return w.Build();
}

}  // namespace ps_test
