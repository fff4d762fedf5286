// Builds PowerPoint 97-2003 files for the reader's tests: records, slide
// lists, drawings with shapes, persist directories and user edits.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/cfb_writer.h"

namespace ppt_test {

inline std::string U16(std::uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }
inline std::string U32(std::uint32_t v) { return U16(std::uint16_t(v)) + U16(std::uint16_t(v >> 16)); }

inline std::string Rec(std::uint16_t type, const std::string& body, int instance = 0, int version = 0)
{
    return U16(std::uint16_t(version | (instance << 4))) + U16(type) + U32(std::uint32_t(body.size())) + body;
}
inline std::string Cont(std::uint16_t type, const std::vector<std::string>& kids, int instance = 0)
{
    std::string body;
    for (const std::string& k : kids)
        body += k;
    return Rec(type, body, instance, 0xF);
}
inline std::string Utf16(const std::u16string& s)
{
    std::string b;
    for (char16_t c : s)
        b += U16(c);
    return b;
}
inline std::string CharsAtom(const std::u16string& s) { return Rec(0x0FA0, Utf16(s)); }
inline std::string BytesAtom(const std::string& s) { return Rec(0x0FA8, s); }
inline std::string HeaderAtom(std::uint32_t type) { return Rec(0x0F9F, U32(type)); }
inline std::string CString(const std::u16string& s, int instance) { return Rec(0x0FBA, Utf16(s), instance); }

struct Shape {
    int type = 202;                 // OfficeArt shape type
    std::uint32_t flags = 0xA00;    // has anchor, has shape type
    std::u16string text;            // in a TextCharsAtom when not empty
    std::uint32_t textType = 1;
    int outlineRef = -1;            // OutlineTextRefAtom index when >= 0
    int footerPos = -1;             // FooterMCAtom position when >= 0
    std::vector<std::pair<std::uint16_t, std::uint32_t>> properties;
    std::string extraBox;           // more records for the client text box
};

inline std::string ShapeRecords(const Shape& s)
{
    std::vector<std::string> kids;
    kids.push_back(Rec(0xF00A, U32(1024) + U32(s.flags), s.type, 2));
    if (!s.properties.empty()) {
        std::string table;
        for (auto& p : s.properties)
            table += U16(p.first) + U32(p.second);
        kids.push_back(Rec(0xF00B, table, int(s.properties.size()), 3));
    }
    kids.push_back(Rec(0xF010, std::string(8, '\0')));
    std::vector<std::string> box;
    if (s.footerPos >= 0)
        box.push_back(Rec(0x0FFA, U32(std::uint32_t(s.footerPos))));
    if (s.outlineRef >= 0)
        box.push_back(Rec(0x0F9E, U32(std::uint32_t(s.outlineRef))));
    if (!s.text.empty()) {
        box.push_back(HeaderAtom(s.textType));
        box.push_back(CharsAtom(s.text));
    }
    if (!s.extraBox.empty())
        box.push_back(s.extraBox);
    if (!box.empty())
        kids.push_back(Cont(0xF00D, box));
    return Cont(0xF004, kids);
}

// A PPDrawing with one drawing whose top group holds the shapes.
inline std::string Drawing(const std::vector<Shape>& shapes, const std::string& extraGroup = {})
{
    std::vector<std::string> group;
    Shape patriarch;
    patriarch.flags = 0x005;  // group, patriarch
    patriarch.type = 0;
    group.push_back(Rec(0xF009, std::string(16, '\0'), 0, 1));
    group.push_back(ShapeRecords(patriarch));
    for (const Shape& s : shapes)
        group.push_back(ShapeRecords(s));
    if (!extraGroup.empty())
        group.push_back(extraGroup);
    return Cont(0x040C, {Cont(0xF002, {Rec(0xF008, U32(std::uint32_t(shapes.size() + 1)) + U32(1025)),
                                       Cont(0xF003, group)})});
}

inline std::string SlideAtom(std::uint32_t masterId, std::uint32_t notesId)
{
    return Rec(0x03EF, U32(0) + std::string(8, '\0') + U32(masterId) + U32(notesId) + U16(0) + U16(0), 0, 2);
}

// A slide (0x03EE), notes (0x03F0) or master (0x03F8) container.
inline std::string SlideContainer(std::uint16_t type, const std::string& atom, const std::string& drawing)
{
    std::vector<std::string> kids{atom};
    if (!drawing.empty())
        kids.push_back(drawing);
    return Cont(type, kids);
}

inline std::string PersistAtom(std::uint32_t persistId, std::uint32_t slideId, std::int32_t texts)
{
    return Rec(0x03F3, U32(persistId) + U32(0) + U32(std::uint32_t(texts)) + U32(slideId) + U32(0));
}

// The document stream and its persist objects.
class PptFile {
public:
    // Appends a record as persist object id; returns its offset.
    std::uint32_t Put(std::uint32_t id, const std::string& record)
    {
        const std::uint32_t offset = std::uint32_t(stream.size());
        pending[id] = offset;
        stream += record;
        return offset;
    }
    // Writes the persist directory of the objects put since the last edit
    // and a UserEditAtom; returns the atom's offset.
    std::uint32_t Edit(std::uint32_t docId, std::uint32_t lastEdit, std::uint32_t encrypt = 0, int length = 32)
    {
        std::string dir;
        for (auto& [id, offset] : pending)
            dir += U32((1u << 20) | id) + U32(offset);
        pending.clear();
        const std::uint32_t dirOffset = std::uint32_t(stream.size());
        stream += Rec(0x1772, dir);
        const std::uint32_t editOffset = std::uint32_t(stream.size());
        std::string atom = U32(0) + U32(0x03000000) + U32(lastEdit) + U32(dirOffset) + U32(docId) + U32(100) +
                           U32(0);
        if (length == 32)
            atom += U32(encrypt);
        stream += Rec(0x0FF5, atom);
        return editOffset;
    }
    std::string Build(std::uint32_t currentEdit) const
    {
        ps_test::CfbWriter w(3);
        w.AddStream(u"PowerPoint Document", stream);
        std::string user = U32(20) + U32(0xE391C05F) + U32(currentEdit) + U16(0) + U16(0x03F4) +
                           std::string{3, 0} + U16(0);
        w.AddStream(u"Current User", Rec(0x0FF6, user));
        return w.Build();
    }

    std::string stream;
    std::map<std::uint32_t, std::uint32_t> pending;
};

}  // namespace ppt_test
