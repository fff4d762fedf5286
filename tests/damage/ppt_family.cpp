// The PowerPoint 97 family: a presentation of three slides whose shapes
// hold text atoms, the first slide's title taken from the outline texts of
// the slide list, found through a persist directory, its user edit and the
// "Current User" stream. Mutants: cuts of the document stream (repacked)
// and of the file, every record's length (text atoms and containers among
// them) set to other values, the persist directory's offsets and counts,
// the user edit's offsets and the current user's offset changed, and the
// nesting of a slide made deeper than the reader follows.
#include <cstdint>
#include <string>
#include <vector>

#include "damage/damage.h"
#include "office/powerpoint/pptbuilder.h"
#include "support/cfb_writer.h"

namespace {

using namespace ppt_test;

constexpr std::size_t kSlides = 3;
constexpr std::size_t kShapesPerSlide = 3;

Shape TextShape(const std::u16string& text)
{
    Shape s;
    s.type = 202;
    s.flags = 0xA00;
    s.text = text;
    return s;
}

struct Deck {
    std::string stream;       // the PowerPoint Document stream
    std::string currentUser;  // the Current User stream
    std::uint32_t directory = 0;  // offset of the persist directory atom
    std::uint32_t edit = 0;       // offset of the user edit atom
};

// deepSlide: the slide (1-based, 0 none) whose drawing sits under more
// containers than the reader follows; deepShape: the same for a shape
// inside the drawing.
Deck Build(std::size_t deepSlide = 0, std::size_t deepShape = 0)
{
    const std::vector<std::u16string> lines = damage::SeedLines(kSlides * kShapesPerSlide + 1);
    PptFile f;
    // The slide list: one entry per slide, the first with its outline text.
    std::vector<std::string> list;
    for (std::size_t s = 0; s < kSlides; ++s) {
        list.push_back(PersistAtom(std::uint32_t(3 + s), std::uint32_t(256 + s), s == 0 ? 1 : 0));
        if (s == 0) {
            list.push_back(HeaderAtom(0));
            list.push_back(CharsAtom(lines.back()));
        }
    }
    f.Put(1, Cont(0x03E8, {Rec(0x03E9, std::string(40, '\0')), Cont(0x0FF0, list, 0), Rec(0x03EA, "")}));
    for (std::size_t s = 0; s < kSlides; ++s) {
        std::vector<Shape> shapes;
        if (s == 0) {
            Shape title;
            title.type = 1;
            title.outlineRef = 0;
            shapes.push_back(title);
        }
        for (std::size_t k = 0; k < kShapesPerSlide; ++k)
            shapes.push_back(TextShape(lines[s * kShapesPerSlide + k]));
        std::string extra;
        if (deepShape == s + 1) {
            extra = ShapeRecords(TextShape(u"deep"));
            for (int i = 0; i < 70; ++i)
                extra = Cont(0xF003, {Rec(0xF009, std::string(16, '\0'), 0, 1), extra});
        }
        std::string drawing = Drawing(shapes, extra);
        if (deepSlide == s + 1)
            for (int i = 0; i < 70; ++i)
                drawing = Cont(0x1388, {drawing});
        f.Put(std::uint32_t(3 + s), SlideContainer(0x03EE, SlideAtom(0, 0), drawing));
    }
    Deck d;
    d.directory = std::uint32_t(f.stream.size());
    d.edit = f.Edit(1, 0);
    d.stream = f.stream;
    d.currentUser = Rec(0x0FF6, U32(20) + U32(0xE391C05F) + U32(d.edit) + U16(0) + U16(0x03F4) + std::string{3, 0} +
                                    U16(0));
    return d;
}

damage::Bytes Pack(const std::string& stream, const std::string& currentUser)
{
    ps_test::CfbWriter w(3);
    w.AddStream(u"PowerPoint Document", stream);
    w.AddStream(u"Current User", currentUser);
    return w.Build();
}

// Offsets of every record header of the stream, containers walked into.
void Headers(const std::string& s, std::size_t from, std::size_t to, std::vector<std::size_t>& out,
             std::vector<std::size_t>& ends)
{
    for (std::size_t p = from; p + 8 <= to;) {
        const std::uint16_t verInst = std::uint16_t(std::uint8_t(s[p]) | (std::uint8_t(s[p + 1]) << 8));
        const std::uint32_t length = ps_test::GetLe32(s, p + 4);
        out.push_back(p);
        if ((verInst & 0xF) == 0xF)
            Headers(s, p + 8, p + 8 + length, out, ends);
        p += 8 + length;
        ends.push_back(p);
    }
}

void Mutate(const damage::Bytes& seed, std::uint64_t rng, std::size_t budget, std::vector<damage::Mutant>& out)
{
    const Deck d = Build();
    damage::Rng random(rng);
    std::vector<std::size_t> headers, ends;
    Headers(d.stream, 0, d.stream.size(), headers, ends);

    std::vector<damage::Mutant> streamMutants;  // of the document stream
    std::vector<damage::Mutant> fields;
    for (std::size_t h : headers)
        damage::AddFieldValues(d.stream, h + 4, 4, "length@" + std::to_string(h), fields);
    // The persist directory: its words (a run's first id and count, then
    // the offsets), and each run's count alone.
    const std::uint32_t dirLength = ps_test::GetLe32(d.stream, d.directory + 4);
    for (std::uint32_t w = 0; w < dirLength / 4; ++w) {
        const std::size_t at = d.directory + 8 + 4 * w;
        damage::AddFieldValues(d.stream, at, 4, "directory word " + std::to_string(w), fields);
        if (w % 2 == 0) {
            const std::uint32_t head = ps_test::GetLe32(d.stream, at);
            for (std::uint32_t count : {0u, 2u, 3u, 0xFFFu}) {
                damage::Bytes m = d.stream;
                ps_test::PutLe32(m, at, (head & 0xFFFFF) | (count << 20));
                fields.push_back({"directory count " + std::to_string(w) + "=" + std::to_string(count), std::move(m)});
            }
        }
    }
    // The user edit: the last edit's offset, the directory's offset, the
    // document's persist id.
    damage::AddFieldValues(d.stream, d.edit + 8 + 8, 4, "edit last", fields);
    damage::AddFieldValues(d.stream, d.edit + 8 + 12, 4, "edit directory", fields);
    damage::AddFieldValues(d.stream, d.edit + 8 + 16, 4, "edit document id", fields);
    for (std::size_t i = fields.size(); i > 1; --i)
        std::swap(fields[i - 1], fields[random.Below(i)]);

    // Cuts at the ends of the records first, then the fields.
    std::vector<std::size_t> marks;
    for (std::size_t i = 0; i < ends.size(); i += 3)
        marks.push_back(ends[i]);
    damage::AddCuts(d.stream, 0, streamMutants, marks);
    streamMutants.insert(streamMutants.end(), fields.begin(), fields.end());

    std::vector<damage::Mutant> packed;
    // The current user's offset of the current edit.
    std::vector<damage::Mutant> users;
    damage::AddFieldValues(d.currentUser, 8 + 8, 4, "current user offset", users);
    for (damage::Mutant& m : users)
        packed.push_back({m.name, Pack(d.stream, m.bytes)});
    // Nesting deeper than the reader follows, around a slide's drawing and
    // around a shape inside it.
    for (std::size_t s = 1; s <= kSlides; ++s) {
        const Deck deep = Build(s, 0);
        packed.push_back({"slide " + std::to_string(s) + " nested deep", Pack(deep.stream, deep.currentUser)});
        const Deck deepShape = Build(0, s);
        packed.push_back({"shape of slide " + std::to_string(s) + " nested deep",
                          Pack(deepShape.stream, deepShape.currentUser)});
    }
    for (damage::Mutant& m : streamMutants)
        packed.push_back({"stream " + m.name, Pack(m.bytes, d.currentUser)});

    for (damage::Mutant& m : packed) {
        if (out.size() >= budget)
            return;
        out.push_back(std::move(m));
    }
    // Then cuts through the stream and the file, as many as asked for.
    const std::size_t left = budget > out.size() ? budget - out.size() : 0;
    std::vector<damage::Mutant> cuts;
    damage::AddCuts(d.stream, left / 2, cuts);
    for (damage::Mutant& m : cuts)
        out.push_back({"stream " + m.name, Pack(m.bytes, d.currentUser)});
    damage::AddCuts(seed, left - left / 2, out);
}

const damage::Registrar kPpt({"ppt", "ppt",
                              [] {
                                  const Deck d = Build();
                                  return Pack(d.stream, d.currentUser);
                              },
                              Mutate});

}  // namespace
