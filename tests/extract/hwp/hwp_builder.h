// Builders of small HWP documents for the reader tests: HWP 5 records,
// paragraphs and controls in a compound file (plain or compressed streams),
// HWP 2.x/3.x files, and raw deflate.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/cfb_writer.h"

namespace hwp_test {

inline void Le16(std::string& s, unsigned v)
{
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
}

inline void Le32(std::string& s, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

inline std::string Zeros(size_t n)
{
    return std::string(n, '\0');
}

// Raw deflate (no header), optionally with the 8-byte trailer of CRC-32 and
// length that the program's own compressed streams carry.
inline std::string RawDeflate(const std::string& data, bool trailer = false)
{
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (trailer) {
        Le32(out, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                                                   static_cast<uInt>(data.size()))));
        Le32(out, static_cast<std::uint32_t>(data.size()));
    }
    return out;
}

// ---- HWP 5 -------------------------------------------------------------------

constexpr std::uint32_t Id(const char (&s)[5])
{
    return (std::uint32_t(std::uint8_t(s[0])) << 24) | (std::uint32_t(std::uint8_t(s[1])) << 16) |
           (std::uint32_t(std::uint8_t(s[2])) << 8) | std::uint32_t(std::uint8_t(s[3]));
}

inline std::string Rec(unsigned tag, unsigned level, const std::string& body)
{
    std::string s;
    const std::uint32_t head = (tag & 0x3FF) | ((level & 0x3FF) << 10);
    if (body.size() < 0xFFF) {
        Le32(s, head | (static_cast<std::uint32_t>(body.size()) << 20));
    } else {
        Le32(s, head | (0xFFFu << 20));
        Le32(s, static_cast<std::uint32_t>(body.size()));
    }
    return s + body;
}

// Code units of paragraph text.
using Units = std::u16string;

// An extended control in paragraph text: the code, the id in two units,
// four units of data and the code again.
inline Units Ctrl(char16_t code, std::uint32_t id)
{
    Units u;
    u.push_back(code);
    u.push_back(static_cast<char16_t>(id & 0xFFFF));
    u.push_back(static_cast<char16_t>(id >> 16));
    u.append(4, u'\0');
    u.push_back(code);
    return u;
}

// An inline tab (eight units).
inline Units Tab()
{
    Units u(8, u'\0');
    u[0] = 9;
    u[7] = 9;
    return u;
}

inline std::string ParaHeader(std::uint32_t nChars, bool last, std::uint16_t lineSegs = 0)
{
    std::string b;
    Le32(b, nChars | (last ? 0x80000000u : 0));
    Le32(b, 0);      // control mask
    Le16(b, 0);      // paragraph shape
    b.push_back(0);  // style
    b.push_back(0);  // division
    Le16(b, 1);      // character shapes
    Le16(b, 0);      // range tags
    Le16(b, lineSegs);
    Le32(b, 0);  // instance id
    return b;
}

inline std::string TextBody(const Units& u)
{
    std::string b;
    for (char16_t c : u)
        Le16(b, c);
    return b;
}

// A paragraph at a level: header, text (with the paragraph end 13 added),
// character shapes, then the records of its controls.
inline std::string Para(unsigned level, const Units& text, bool last, const std::string& controls = {})
{
    Units t = text;
    t.push_back(13);
    std::string s = Rec(66, level, ParaHeader(static_cast<std::uint32_t>(t.size()), last));
    if (t.size() >= 2)
        s += Rec(67, level + 1, TextBody(t));
    s += Rec(68, level + 1, Zeros(8));
    return s + controls;
}

inline Units U(const char16_t* s)
{
    return Units(s);
}

// The object common part of a control header.
inline std::string ObjectCommon(std::uint32_t id, std::uint32_t attributes = 0)
{
    std::string b;
    Le32(b, id);
    Le32(b, attributes);
    b += Zeros(5 * 4 + 4 * 2 + 4 + 4);
    return b;
}

// A list of paragraphs at a level, headed by a list header.
inline std::string List(unsigned level, const std::vector<Units>& paragraphs)
{
    std::string s = Rec(72, level, Zeros(8));
    for (size_t i = 0; i < paragraphs.size(); ++i)
        s += Para(level, paragraphs[i], i + 1 == paragraphs.size());
    return s;
}

// The records of a table control owned by a paragraph at `level`: one row
// per entry of rows, one cell per text.
inline std::string Table(unsigned level, const std::vector<std::vector<Units>>& rows)
{
    std::string s = Rec(71, level + 1, ObjectCommon(Id("tbl ")));
    std::string t;
    Le32(t, 0);
    Le16(t, static_cast<unsigned>(rows.size()));
    Le16(t, rows.empty() ? 0 : static_cast<unsigned>(rows[0].size()));
    Le16(t, 0);
    t += Zeros(8);
    for (const auto& r : rows)
        Le16(t, static_cast<unsigned>(r.size()));
    Le16(t, 0);
    s += Rec(77, level + 2, t);
    for (const auto& r : rows)
        for (const Units& cell : r)
            s += List(level + 2, {cell});
    return s;
}

// A shape component body: for the outermost object its id twice.
inline std::string ShapeComponent(std::uint32_t id, bool outermost, std::uint32_t attributes,
                                  std::uint16_t matrices = 1)
{
    std::string b;
    if (outermost)
        Le32(b, id);
    Le32(b, id);
    b += Zeros(8);   // offsets
    Le16(b, 0);      // group level
    Le16(b, 1);      // local version
    b += Zeros(16);  // sizes
    Le32(b, attributes);
    Le16(b, 0);     // rotation
    b += Zeros(8);  // rotation centre
    Le16(b, matrices);
    b += Zeros(48);                    // translation
    b += Zeros(96 * size_t(matrices));  // scale and rotation per entry
    return b;
}

struct Hwp5Document {
    bool compressed = false;
    std::uint32_t properties = 0;  // bit 1: password, bit 2: saved for distribution
    bool withFileHeader = true;
    bool withDocInfo = true;
    bool withBodyText = true;
    std::vector<std::string> sections;  // record streams, uncompressed
    std::vector<int> missingSections;   // numbers left out of BodyText
    int sectionCount = -1;              // -1: sections.size()
    bool packSections = true;           // false: sections stored as given even when compressed

    std::string DocInfo() const
    {
        std::string props;
        Le16(props, static_cast<unsigned>(sectionCount < 0 ? sections.size() : sectionCount));
        props += Zeros(24);
        return Rec(16, 0, props) + Rec(17, 0, Zeros(72));
    }

    // layout (optional) says where the compound file's structures went.
    std::string Build(ps_test::CfbLayout* layout = nullptr) const
    {
        ps_test::CfbWriter w(3);
        const std::uint32_t props = properties | (compressed ? 1u : 0u);
        if (withFileHeader) {
            std::string h = "HWP Document File";
            h += Zeros(32 - h.size());
            Le32(h, 0x05000300);
            Le32(h, props);
            h += Zeros(256 - h.size());
            w.AddStream(u"FileHeader", h);
        }
        auto pack = [this](const std::string& s) { return compressed ? RawDeflate(s) : s; };
        if (withDocInfo)
            w.AddStream(u"DocInfo", pack(DocInfo()));
        if (withBodyText) {
            w.AddStorage(u"BodyText");
            for (size_t i = 0; i < sections.size(); ++i) {
                bool skip = false;
                for (int m : missingSections)
                    skip |= m == static_cast<int>(i);
                if (skip)
                    continue;
                std::u16string name = u"BodyText/Section";
                for (char c : std::to_string(i))
                    name.push_back(static_cast<char16_t>(c));
                w.AddStream(name, packSections ? pack(sections[i]) : sections[i]);
            }
        }
        return w.Build(layout);
    }
};

// ---- HWP 2.x / 3.x -------------------------------------------------------------

enum class Old { V20, V21, V30 };

inline unsigned CharShapeSize(Old g)
{
    return g == Old::V20 ? 25 : 31;
}

// A paragraph of 16-bit codes (the caller adds 13 where the text ends).
inline std::string OldPara(Old g, const std::vector<std::uint16_t>& codes, std::uint16_t count = 0)
{
    std::string s;
    s.push_back(0);  // a shape of its own
    Le16(s, count ? count : static_cast<unsigned>(codes.size()));
    Le16(s, 1);      // one line
    s.push_back(0);  // no character shapes
    s.push_back(0);
    Le32(s, 0);
    s.push_back(0);
    s += Zeros(CharShapeSize(g));
    s += Zeros(187);  // paragraph shape
    s += Zeros(14);   // line information
    for (std::uint16_t c : codes)
        Le16(s, c);
    return s;
}

// The paragraph header that ends a list.
inline std::string OldEnd(Old g)
{
    std::string s;
    s.push_back(0);
    Le16(s, 0);
    Le16(s, 0);
    s.push_back(0);
    s.push_back(0);
    Le32(s, 0);
    s.push_back(0);
    s += Zeros(CharShapeSize(g));
    return s;
}

inline std::vector<std::uint16_t> Codes(const char* ascii)
{
    std::vector<std::uint16_t> v;
    for (const char* p = ascii; *p; ++p)
        v.push_back(static_cast<unsigned char>(*p));
    return v;
}

struct OldDocument {
    Old generation = Old::V30;
    bool compressed = false;
    std::uint16_t encryption = 0;
    std::uint8_t subRevision = 0;
    std::string infoBlock;
    int infoBlockLength = -1;  // the length the header gives; -1: the block's
    unsigned styles = 1;
    std::string paragraphs;  // the body's list, without its end
    bool endList = true;
    std::string afterList;   // the body's bytes after its list (V3.00: blocks of id and length)
    bool trailer = true;     // a compressed body's check value
    std::string afterBody;   // bytes after a compressed body's check value

    // The signature, the document information, the summary and the
    // information block.
    std::string Head() const
    {
        const char* version = generation == Old::V20 ? "2.00" : generation == Old::V21 ? "2.10" : "3.00";
        std::string s = std::string("HWP Document File V") + version + " ";
        s += std::string("\x1A\x01\x02\x03\x04\x05", 6);
        std::string info = Zeros(128);
        if (generation == Old::V30) {
            info[96] = static_cast<char>(encryption & 0xFF);
            info[97] = static_cast<char>(encryption >> 8);
            info[125] = static_cast<char>(subRevision);
        }
        if (generation != Old::V20) {
            const unsigned length = infoBlockLength < 0 ? static_cast<unsigned>(infoBlock.size())
                                                        : static_cast<unsigned>(infoBlockLength);
            info[124] = compressed ? 1 : 0;
            info[126] = static_cast<char>(length & 0xFF);
            info[127] = static_cast<char>(length >> 8);
        }
        s += info;
        s += Zeros(1008);
        if (generation != Old::V20)
            s += infoBlock;
        return s;
    }

    // Where the paragraphs start in the uncompressed body.
    size_t ParagraphsOffset() const
    {
        return (generation == Old::V20 ? 5 : 7) * 42 + 2 + size_t(styles) * (20 + CharShapeSize(generation) + 187);
    }

    // The uncompressed body: font names, styles, the paragraph list and what follows it.
    std::string Body() const
    {
        std::string body;
        const int groups = generation == Old::V20 ? 5 : 7;
        for (int i = 0; i < groups; ++i) {
            Le16(body, 1);
            body += Zeros(40);
        }
        Le16(body, styles);
        body += Zeros(size_t(styles) * (20 + CharShapeSize(generation) + 187));
        body += paragraphs;
        if (endList)
            body += OldEnd(generation);
        return body + afterList;
    }

    // The file around a body (compressed as the header says).
    std::string Wrap(const std::string& body) const
    {
        if (!compressed)
            return Head() + body;
        return Head() + RawDeflate(body, trailer) + afterBody;
    }

    std::string Build() const { return Wrap(Body()); }
};

}  // namespace hwp_test
