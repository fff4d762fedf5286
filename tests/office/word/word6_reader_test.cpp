#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "extract/extractlib.h"
#include "extract/textcollector.h"
#include "office/officeentry.h"
#include "office/word/word6text.h"
#include "platform/cfb.h"
#include "platform/codec.h"
#include "platform/text.h"
#include "support/cfb_writer.h"
#include "support/isolation.h"

namespace {

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

// A small Word 6/95 document: FIB, text, one page of character runs with the
// special flag on chosen characters, header table and piece table.
struct Word6Builder {
    std::uint16_t ident = 0xA5DC;
    std::uint16_t lid = 0x0412;
    std::string main, footnotes, headers, annotations, endnotes, textboxes;  // bytes as stored (1 or 2 per character)
    std::vector<std::uint32_t> headerPlc;
    std::vector<std::uint32_t> specialCps;  // characters of the whole sequence with the special flag
    // Reference marks: characters in the footnote (0), endnote (1) or
    // annotation (2) reference style, with the special flag.
    std::vector<std::pair<std::uint32_t, int>> refCps;
    // Story-relative note positions; empty: no table.
    std::vector<std::uint32_t> footnotePlc, endnotePlc, annotationPlc;
    bool styles = false;  // a style sheet naming the three reference styles
    std::vector<std::uint32_t> rowEndCps;  // one-character table-row-end paragraphs
    // Cells: paragraphs (ending at 13 or 7) inside these [first, last) ranges
    // are in a table; a row end's property list may add codes after its
    // in-table and row-end codes (cell definitions and edits).
    std::vector<std::pair<std::uint32_t, std::uint32_t>> tables;
    std::map<std::uint32_t, std::string> rowEndLists;
    // Drawing objects of the main text: the anchor character (made special)
    // and the object's primitives; the text-box positions.
    struct Drawing {
        std::uint32_t cp;
        std::string primitives;
    };
    std::vector<Drawing> drawings;
    std::vector<std::uint32_t> textBoxPlc;
    bool complex = false;                   // store the text as two pieces in reverse order
    bool encrypted = false;
    bool savedOnMac = false;  // the FIB's "last saved on a Macintosh" flag
    std::uint8_t envr = 0;    // the FIB's creation environment (1: Macintosh)
    std::uint16_t chse = 0;   // the FIB's character set of the text (256: Macintosh)
    int fontCharset = -1;  // >= 0: one font of this character set, used by every plain run

    int CharBytes() const { return ident == 0xA5DC ? 1 : 2; }

    std::string Stream() const
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

    std::string File() const
    {
        ps_test::CfbWriter w(3);
        w.AddStream(u"WordDocument", Stream());
        return w.Build();
    }
};

std::string Cp949(const std::u16string& s)
{
    return plat::EncodeCodePage(949, s);
}

std::string Utf16Bytes(const std::u16string& s)
{
    std::string out;
    for (char16_t c : s) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

struct Result {
    bool ok;
    std::string text;
};

Result ReadDocument(const std::string& file)
{
    plat::CfbPtr<plat::CfbStorage> root;
    if (plat::Failed(plat::CfbOpenStorageOnMemory(file, root.put())))
        return {false, ""};
    std::u16string out;
    CTextCollector collector;
    collector.SetOutput(&out);
    CMSWord2Text reader(&collector);
    bool ok = reader.ConvertStorage(root.get());
    return {ok, plat::WideToUtf8(out)};
}

TEST(Word6Reader, SingleByteKoreanTextDecodesAsDoubleByteText)
{
    Word6Builder b;
    b.main = Cp949(u"홍길동 010-1234-5678\r둘째 줄\r");
    Result r = ReadDocument(b.File());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.text, "홍길동 010-1234-5678\n둘째 줄\n");
}

TEST(Word6Reader, SingleByteTextFollowsFontCharacterSetOrLanguage)
{
    Word6Builder b;
    b.lid = 0x0409;
    b.fontCharset = 204;
    b.main = plat::EncodeCodePage(1251, u"Компания Аскат\r");
    EXPECT_EQ(ReadDocument(b.File()).text, "Компания Аскат\n");

    Word6Builder c;
    c.lid = 0x0419;
    c.main = b.main;
    EXPECT_EQ(ReadDocument(c.File()).text, "Компания Аскат\n");
}

TEST(Word6Reader, WesternTextSavedOnAMacintoshIsMacRoman)
{
    // "stratégie" with é as Mac Roman 0x8E (Ž in Windows Western).
    // A document made on a Macintosh says so by its character set (256)
    // and creation environment (1) even when the "last saved on a
    // Macintosh" flag is clear.
    const struct {
        const char* name;
        std::uint16_t lid;
        bool mac;
        std::uint8_t envr;
        std::uint16_t chse;
        const char* expected;
    } cases[] = {
        {"French, saved on a Mac", 0x040C, true, 0, 0, "stratégie\n"},
        {"French, saved on Windows", 0x040C, false, 0, 0, "stratŽgie\n"},
        {"English, saved on a Mac", 0x0409, true, 0, 0, "stratégie\n"},
        {"French, made on a Mac", 0x040C, false, 1, 256, "stratégie\n"},
        {"French, Mac character set", 0x040C, false, 0, 256, "stratégie\n"},
        {"French, made on a Mac, saved on Windows", 0x040C, false, 1, 0, "stratŽgie\n"},
        {"French, unknown set, made on a Mac", 0x040C, false, 1, 7, "stratégie\n"},
        {"French, unknown set, made on Windows", 0x040C, false, 0, 7, "stratŽgie\n"},
    };
    for (const auto& c : cases) {
        Word6Builder b;
        b.lid = c.lid;
        b.savedOnMac = c.mac;
        b.envr = c.envr;
        b.chse = c.chse;
        b.main = "strat\x8Egie\r";
        EXPECT_EQ(ReadDocument(b.File()).text, c.expected) << c.name;
    }
    // Korean text keeps its code page wherever it was saved.
    Word6Builder k;
    k.savedOnMac = true;
    k.envr = 1;
    k.chse = 256;
    k.main = Cp949(u"홍길동\r");
    EXPECT_EQ(ReadDocument(k.File()).text, "홍길동\n");
}

TEST(Word6Reader, TwoByteTextAndComplexPieces)
{
    Word6Builder b;
    b.ident = 0x8098;
    b.main = Utf16Bytes(u"한국어 텍스트\r");
    EXPECT_EQ(ReadDocument(b.File()).text, "한국어 텍스트\n");

    Word6Builder c;
    c.main = "Hello brave new World\r";
    c.complex = true;
    Result r = ReadDocument(c.File());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.text, "Hello brave new World\n");
}

TEST(Word6Reader, FieldInstructionsAreLeftOutWhenMarked)
{
    Word6Builder b;
    b.main = std::string("a\x13 HYPERLINK x \x14link\x15 b\r");
    b.specialCps = {1, 15, 20};
    ASSERT_EQ(b.main[1], '\x13');
    ASSERT_EQ(b.main[15], '\x14');
    ASSERT_EQ(b.main[20], '\x15');
    EXPECT_EQ(ReadDocument(b.File()).text, "alink b\n");

    // Unmarked, the marks are plain characters and the instruction stays.
    b.specialCps.clear();
    EXPECT_EQ(ReadDocument(b.File()).text, "a HYPERLINK x link b\n");
}

TEST(Word6Reader, HeadersFootnotesAndTextBoxes)
{
    Word6Builder b;
    b.main = "Body\r";
    b.footnotes = "Note\r";
    // Header stories: an empty one (two marks), a header, a footer.
    b.headers = std::string("\r\r") + "Head\r\r" + "Foot\r\r";
    b.headerPlc = {0, 2, 8, 14};
    b.textboxes = "Box\r";
    Result r = ReadDocument(b.File());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.text, "Head\n\nFoot\n\nBody\nNote\nBox\n");
}

TEST(Word6Reader, NotesFollowTheirReferenceMarks)
{
    // Two footnotes, one endnote and one annotation referenced in the body.
    // \x02 is the automatic reference mark; "*" a custom one.
    Word6Builder b;
    b.styles = true;
    b.main = std::string("One\x02 two* three\x02 four\x05 five\x02.\r");
    b.refCps = {{3, 0}, {8, 0}, {15, 1}, {21, 2}, {27, 0}};
    b.footnotes = std::string("\x02 FA\r\x02 FB\r\r");
    b.footnotePlc = {0, 5, 10, 11};
    b.endnotes = std::string("\x02 EA\r\r");
    b.endnotePlc = {0, 5, 6};
    b.annotations = std::string("\x05 AA\r\r");
    b.annotationPlc = {0, 5, 6};
    // The mark inside the second footnote refers to nothing more.
    b.refCps.push_back({static_cast<std::uint32_t>(b.main.size() + 5), 0});
    Result r = ReadDocument(b.File());
    ASSERT_TRUE(r.ok);
    // The third footnote reference finds only the closing mark of the story;
    // the reference inside a note places nothing; the custom mark, being
    // special, is not written.
    EXPECT_EQ(r.text, "One FA\n two FB\n three EA\n four AA\n five\n.\n"
                      "\n\n");  // closing marks of the annotation and endnote stories

    // Without the reference styles, the notes follow the main text.
    b.styles = false;
    r = ReadDocument(b.File());
    EXPECT_EQ(r.text, "One two three four five.\n FA\n FB\n\n AA\n\n EA\n\n");

    // Without position tables, the whole stories follow, as before.
    b.styles = true;
    b.footnotePlc.clear();
    b.endnotePlc.clear();
    b.annotationPlc.clear();
    r = ReadDocument(b.File());
    EXPECT_EQ(r.text, "One two three four five.\n FA\n FB\n\n AA\n\n EA\n\n");
}

TEST(Word6Reader, TableRowEndMarksWriteNothing)
{
    // Two rows of two cells, each row closed by its row-end mark.
    Word6Builder b;
    b.main = std::string("Name\x07Phone\x07\x07Kim\x07" "010-1234-5678\x07\x07" "After\r");
    b.rowEndCps = {11, 30};
    ASSERT_EQ(b.main[11], '\x07');
    ASSERT_EQ(b.main[30], '\x07');
    EXPECT_EQ(ReadDocument(b.File()).text, "Name\nPhone\nKim\n010-1234-5678\nAfter\n");

    // The same marks in paragraphs without table properties stay line ends.
    b.rowEndCps.clear();
    EXPECT_EQ(ReadDocument(b.File()).text, "Name\nPhone\n\nKim\n010-1234-5678\n\nAfter\n");
}

// A drawing primitive {kind, size} padded to size bytes.
std::string Primitive(std::uint16_t kind, std::uint16_t size = 8)
{
    std::string p;
    Put16(p, 0, kind);
    Put16(p, 2, size);
    Pad(p, size);
    return p;
}

// A group: its members start 14 bytes into the record; 15 bytes close it.
std::string Group(const std::string& members)
{
    std::string g = Primitive(0x1900, 14) + members + std::string(15, '\0');
    Put16(g, 2, static_cast<std::uint16_t>(g.size()));
    return g;
}

TEST(Word6Reader, TextBoxesAtTheirDrawingAnchors)
{
    // Anchor characters (8, special) at 1, 3, 5 and 7 of the main text.
    Word6Builder base;
    base.main = std::string("A\x08" "B\x08" "C\x08" "D\x08" "E\r");
    base.textboxes = "one\rtwo\rthree\r";
    base.textBoxPlc = {0, 4, 8, 14};
    const std::string rect = Primitive(3, 20);
    struct Case {
        const char* what;
        std::vector<std::string> objects;  // one per anchor, from the first
        const char* expected;
    };
    const Case cases[] = {
        {"one text box per object, in anchor order",
         {Primitive(2), Primitive(0x402)},
         "Aone\nBtwo\nCDE\nthree\n"},
        {"a group with a rectangle and a text box writes the box once; a callout takes the next",
         {Group(rect + Primitive(2)), Primitive(7, 12)},
         "Aone\nBtwo\nCDE\nthree\n"},
        {"an unknown first primitive writes nothing and uses no text box",
         {Primitive(0x77) + Primitive(2), Primitive(2)},
         "ABone\nCDE\ntwo\nthree\n"},
        {"two text boxes in one object, the shapes between them skipped",
         {Primitive(2) + rect + Primitive(0x806) + Primitive(2)},
         "Aone\ntwo\nBCDE\nthree\n"},
        {"a zero-length primitive ends its object",
         {Primitive(2) + Primitive(2, 0) + Primitive(2), Primitive(2)},
         "Aone\nBtwo\nCDE\nthree\n"},
        {"0x108 is skipped in a group and ends the walk outside one",
         {Group(Primitive(0x108) + Primitive(2)), Primitive(0x108) + Primitive(2)},
         "Aone\nBCDE\ntwo\nthree\n"},
        {"more text boxes than ranges: the extra ones write nothing",
         {Primitive(2) + Primitive(2) + Primitive(2), Primitive(2), Primitive(2)},
         "Aone\ntwo\nthree\nBCDE\n"},
    };
    for (const Case& c : cases) {
        Word6Builder b = base;
        for (size_t i = 0; i < c.objects.size(); ++i)
            b.drawings.push_back({static_cast<std::uint32_t>(1 + 2 * i), c.objects[i]});
        // The anchors past the table's entries (5, 7) are special characters
        // without an entry: they write nothing.
        for (std::uint32_t cp = static_cast<std::uint32_t>(1 + 2 * c.objects.size()); cp < 8; cp += 2)
            b.specialCps.push_back(cp);
        Result r = ReadDocument(b.File());
        ASSERT_TRUE(r.ok) << c.what;
        EXPECT_EQ(r.text, c.expected) << c.what;
    }

    // Nested groups deeper than the reader follows, and an object whose size
    // runs past the stream, end cleanly.
    std::string deep = Primitive(2);
    for (int k = 0; k < 40; ++k)
        deep = Group(deep);
    Word6Builder b = base;
    b.drawings = {{1, deep}, {3, Primitive(2)}};
    b.specialCps = {5, 7};
    Result r = ReadDocument(b.File());
    EXPECT_EQ(r.text, "ABone\nCDE\ntwo\nthree\n");

    // A two-byte document places its text boxes the same way.
    Word6Builder wide = base;
    wide.ident = 0x8098;
    wide.main = Utf16Bytes(u"가\x08나\r");
    wide.textboxes = Utf16Bytes(u"상자\r");
    wide.textBoxPlc = {0, 3};
    wide.drawings = {{1, Primitive(2)}};
    EXPECT_EQ(ReadDocument(wide.File()).text, "가상자\n나\n");
}

std::string CellDefinition(const std::vector<std::uint16_t>& flags)
{
    // Code 190: length, cell count, count + 1 boundaries, 10-byte descriptors.
    std::string op;
    op += static_cast<char>(flags.size());
    for (size_t k = 0; k <= flags.size(); ++k) {
        std::string b;
        Put16(b, 0, static_cast<std::uint16_t>(1000 * k));
        op += b;
    }
    for (std::uint16_t f : flags) {
        std::string tc(10, '\0');
        Put16(tc, 0, f);
        op += tc;
    }
    std::string code = "\xBE";
    Put16(code, 1, static_cast<std::uint16_t>(op.size()));
    return code + op;
}

TEST(Word6Reader, MergedAndExtraTableCellsWriteNothing)
{
    // Rows of three cells; each cell ends at 7, each row at its row-end mark.
    Word6Builder base;
    base.main = std::string("a1\x07" "b1\x07" "c1\x07\x07" "a2\x07" "b2\x07" "c2\x07\x07" "After\r");
    base.tables = {{0, 20}};
    base.rowEndCps = {9, 19};
    ASSERT_EQ(base.main[9], '\x07');
    ASSERT_EQ(base.main[19], '\x07');
    struct Case {
        const char* what;
        std::string row1, row2;  // codes after the row end's own
        const char* expected;
    };
    const Case cases[] = {
        {"no cell definitions: every cell", "", "", "a1\nb1\nc1\na2\nb2\nc2\nAfter\n"},
        {"a middle cell merged into the cell above",
         CellDefinition({0, 0x60, 0}), CellDefinition({0, 0x20, 0}),
         "a1\nb1\nc1\na2\nc2\nAfter\n"},
        {"the first cell of a merge is written", CellDefinition({0x60, 0x60, 0x60}),
         CellDefinition({0x60, 0, 0x40}), "a1\nb1\nc1\na2\nb2\nc2\nAfter\n"},
        {"cells beyond the row's count", CellDefinition({0, 0}), CellDefinition({0}),
         "a1\nb1\na2\nAfter\n"},
        {"vertical-merge edit (cell 2 continues, cell 0 starts)", CellDefinition({0, 0, 0}),
         CellDefinition({0, 0, 0}) + std::string("\xCC\x04\x02\x01\x00\x03", 6),
         "a1\nb1\nc1\na2\nb2\nAfter\n"},
        {"insert a merged cell before the first, then delete the last",
         CellDefinition({0, 0, 0}),
         CellDefinition({0x20, 0}) + std::string("\xC2\x01\x01\x00\x00", 5) + std::string("\xC3\x02\x03", 3) +
             std::string("\xCC\x02\x00\x01", 4),
         "a1\nb1\nc1\nb2\nAfter\n"},
        {"edits outside the row are ignored", CellDefinition({0, 0, 0}),
         CellDefinition({0, 0, 0}) + std::string("\xC2\x05\x01\x00\x00", 5) + std::string("\xC3\x02\x09", 3) +
             std::string("\xCC\x02\x07\x01", 4),
         "a1\nb1\nc1\na2\nb2\nc2\nAfter\n"},
    };
    for (const Case& c : cases) {
        Word6Builder b = base;
        if (!c.row1.empty())
            b.rowEndLists[9] = c.row1;
        if (!c.row2.empty())
            b.rowEndLists[19] = c.row2;
        EXPECT_EQ(ReadDocument(b.File()).text, c.expected) << c.what;
    }

    // A cell of two paragraphs is one cell; the same rows stored as two
    // pieces in reverse order read the same.
    Word6Builder two = base;
    two.main = std::string("a1\rmore\x07" "b1\x07\x07" "a2\x07" "b2\x07\x07" "End\r");
    two.tables = {{0, 19}};
    two.rowEndCps = {11, 18};
    two.rowEndLists.clear();
    two.rowEndLists[11] = CellDefinition({0x60, 0});
    two.rowEndLists[18] = CellDefinition({0x20, 0});
    EXPECT_EQ(ReadDocument(two.File()).text, "a1\nmore\nb1\nb2\nEnd\n");
    two.complex = true;
    EXPECT_EQ(ReadDocument(two.File()).text, "a1\nmore\nb1\nb2\nEnd\n");
}

TEST(Word6Reader, IdentifiersAndRefusals)
{
    ps_test::TempDir dir;
    Word6Builder b;
    b.main = "x\r";
    const std::string path = dir.file("a.doc");
    ASSERT_TRUE(ps_test::WriteFileBytes(path, b.File()));
    CMSWord2Text probe(nullptr);
    EXPECT_TRUE(probe.IsWord6File(plat::PathFromNative(path).c_str()));
    std::u16string out;
    CTextCollector collector;
    collector.SetOutput(&out);
    CMSWord2Text reader(&collector);
    EXPECT_TRUE(reader.Convert(plat::PathFromNative(path).c_str()));
    EXPECT_EQ(plat::WideToUtf8(out), "x\n");

    Word6Builder w97 = b;
    w97.ident = 0xA5EC;
    ASSERT_TRUE(ps_test::WriteFileBytes(path, w97.File()));
    EXPECT_FALSE(probe.IsWord6File(plat::PathFromNative(path).c_str()));

    Word6Builder enc = b;
    enc.encrypted = true;
    Result r = ReadDocument(enc.File());
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.text.empty());

    EXPECT_FALSE(probe.IsWord6File(plat::PathFromNative(dir.file("missing.doc")).c_str()));
    ASSERT_TRUE(ps_test::WriteFileBytes(path, "not a compound file"));
    EXPECT_FALSE(reader.Convert(plat::PathFromNative(path).c_str()));
}

TEST(Word6Reader, DamagedTablesEndCleanly)
{
    Word6Builder b;
    b.main = "Hello\x07there\x07\r";
    b.footnotes = "fn\r";
    b.complex = true;
    b.specialCps = {3};
    // Style sheet, note positions and paragraph runs are damaged too.
    b.styles = true;
    b.refCps = {{2, 0}};
    b.footnotePlc = {0, 3};
    b.rowEndCps = {11};
    const std::string good = b.Stream();
    std::mt19937 rng(1234);
    for (int round = 0; round < 400; ++round) {
        std::string s = good;
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits; ++e) {
            size_t at = rng() % s.size();
            if (rng() % 3 == 0 && at >= 0x18 && at < 0x200) {
                // Table positions and sizes: large values.
                Put32(s, at & ~size_t(3), rng() % 2 ? 0xFFFFFFF0u : static_cast<std::uint32_t>(rng() % 4096));
            } else {
                s[at] = static_cast<char>(rng());
            }
        }
        if (rng() % 5 == 0)
            s.resize(rng() % s.size());
        Put16(s, 0, 0xA5DC);
        ps_test::CfbWriter w(3);
        w.AddStream(u"WordDocument", s);
        ReadDocument(w.Build());  // no fault, no hang
    }
}

TEST(Word6Reader, CorpusDocumentsGiveText)
{
    const std::string corpus = ps_test::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    int seen = 0;
    for (const char* folder : {"/public/word6", "/public/word95"}) {
        std::error_code ec;
        for (const auto& f : std::filesystem::directory_iterator(corpus + folder, ec)) {
            std::u16string out;
            CTextCollector collector;
            collector.SetOutput(&out);
            CMSWord2Text reader(&collector);
            const std::u16string path = plat::PathFromNative(f.path().string());
            if (!reader.IsWord6File(path.c_str()))
                continue;
            ++seen;
            EXPECT_TRUE(reader.Convert(path.c_str())) << f.path();
            EXPECT_GT(out.size(), 20u) << f.path();
        }
    }
    EXPECT_GT(seen, 0);
}

}  // namespace

namespace {

TEST(Word6Entry, WordEntryReadsWord6AndRtfSavedUnderAWordName)
{
    ps_test::TempDir dir;
    Word6Builder b;
    b.main = Cp949(u"주민번호 800101-1234567\r");
    const std::string w6 = dir.file("w6.doc");
    ASSERT_TRUE(ps_test::WriteFileBytes(w6, b.File()));
    const std::string rtf = dir.file("rtf.doc");
    ASSERT_TRUE(ps_test::WriteFileBytes(rtf, "{\\rtf1\\ansi{\\fonttbl{\\f0 A;}}\\pard 010\\_1234\\_5678\\par}"));

    InitializeLibrary();
    std::u16string out;
    EXPECT_EQ(ConvertWordToText(plat::PathFromNative(w6).c_str(), u"xml:false", &out), EntryResult::Read);
    EXPECT_EQ(plat::WideToUtf8(out), "주민번호 800101-1234567\n");
    out.clear();
    EXPECT_EQ(ConvertWordToText(plat::PathFromNative(rtf).c_str(), u"xml:false", &out), EntryResult::Read);
    EXPECT_EQ(plat::WideToUtf8(out), "010-1234-5678\n");
    FinalizeLibrary();
}

}  // namespace
