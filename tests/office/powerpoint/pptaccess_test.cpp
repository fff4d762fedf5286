#include <gtest/gtest.h>

#include <random>

#include "extract/textcollector.h"
#include "office/powerpoint/pptaccess.h"
#include "platform/docfile.h"
#include "platform/text.h"
#include "pptbuilder.h"
#include "support/isolation.h"

using namespace ppt_test;

namespace {

Shape S(int type, std::uint32_t flags, const std::u16string& text = {}, std::uint32_t textType = 1)
{
    Shape s;
    s.type = type;
    s.flags = flags;
    s.text = text;
    s.textType = textType;
    return s;
}

struct Result {
    int ok = -1;
    std::u16string text;
    const char* damage = nullptr;  // the first damage noted, null when none
};

Result ConvertBytes(const std::string& bytes)
{
    ps_test::TempDir dir;
    const std::string path = dir.file("deck.ppt");
    ps_test::WriteFileBytes(path, bytes);
    Result r;
    CTextCollector collector;
    collector.SetOutput(&r.text);
    plat::DamageScope damage;
    {
        CPowerPointAccess reader(&collector);
        r.ok = reader.Convert(plat::PathFromNative(path).c_str());
    }
    r.damage = damage.Reason();
    return r;
}

constexpr std::uint32_t kMasterId = 0x80000001;

// A master, two slides sharing it, notes for the first slide, and the
// controls and outline texts that the shapes refer to.
std::string BuildDeck(std::uint32_t* currentEdit = nullptr)
{
    PptFile f;
    // Embedded controls: OLE object 7 is a text box, 8 a frame.
    auto control = [](std::uint32_t id, std::uint32_t oleId, const std::u16string& progId) {
        return Cont(0x0FEE, {Rec(0x0FFB, U32(id)), Rec(0x0FC3, U32(0) + U32(0) + U32(oleId) + std::string(12, '\0')),
                             CString(u"Menu", 0), CString(progId, 1)});
    };
    const std::string document = Cont(
        0x03E8,
        {Rec(0x03E9, std::string(40, '\0')),
         Cont(0x0409, {control(1, 7, u"Forms.TextBox.1"), control(2, 8, u"Forms.Frame.1")}),
         Cont(0x0FF0, {PersistAtom(2, kMasterId, 0)}, 1),
         Cont(0x0FF0,
              {PersistAtom(3, 256, 2), HeaderAtom(0), CharsAtom(u"Title one"), HeaderAtom(1),
               CharsAtom(u"Body one\rSecond\x0Bline"), PersistAtom(4, 257, 0)},
              0),
         Cont(0x0FF0, {PersistAtom(5, 300, 0)}, 2), Rec(0x03EA, "")});
    f.Put(1, document);

    Shape masterTitle = S(1, 0xA00, u"Master title");
    Shape footerAtStart = S(202, 0xA00, u"Footer");
    footerAtStart.footerPos = 0;
    Shape footerInside = S(202, 0xA00, u"Pg 1");
    footerInside.footerPos = 3;
    Shape star = S(202, 0xA00, u"*", 4);
    Shape twoStars = S(202, 0xA00, u"**", 4);
    f.Put(2, SlideContainer(0x03F8, SlideAtom(0, 0), Drawing({masterTitle, footerAtStart, footerInside, star, twoStars})));

    Shape title = S(1, 0xA00);
    title.outlineRef = 0;
    Shape body = S(1, 0xA00);
    body.outlineRef = 1;
    Shape picture = S(75, 0xA00, u"caption");
    Shape box = S(202, 0xA00, u"Box text");
    Shape formControl = S(201, 0xA00, u"ctl");
    formControl.properties = {{0x010B, 7}};
    Shape otherControl = S(201, 0xA00, u"nope");
    otherControl.properties = {{0x010B, 8}};
    Shape group = S(0, 0x201, u"group text");  // a group's own record writes nothing
    const std::string inner = Cont(0xF003, {Rec(0xF009, std::string(16, '\0')), ShapeRecords(group),
                                            ShapeRecords(S(1, 0xA02, u"In group"))});
    f.Put(3, SlideContainer(0x03EE, SlideAtom(kMasterId, 300),
                            Drawing({title, body, picture, box, formControl, otherControl}, inner)));
    f.Put(4, SlideContainer(0x03EE, SlideAtom(kMasterId, 0), Drawing({S(202, 0xA00, u"Slide two")})));
    f.Put(5, SlideContainer(0x03F0, Rec(0x03F1, U32(256) + U32(0)), Drawing({S(202, 0xA00, u"Notes one")})));
    const std::uint32_t edit = f.Edit(1, 0);
    if (currentEdit)
        *currentEdit = edit;
    return f.Build(edit);
}

}  // namespace

TEST(PowerPointReader, WritesMasterNotesAndSlidesByTheShapeRules)
{
    const Result r = ConvertBytes(BuildDeck());
    EXPECT_EQ(r.ok, 1);
    // Master once (footer field inside its text, the lone "*"), then notes,
    // then the slide: its outline texts, the text box, the form control and
    // the shapes inside the nested group; the picture frame's caption and
    // the other control are left out. Carriage returns become line feeds,
    // the line break 11 stays.
    EXPECT_EQ(plat::WideToUtf8(r.text),
              "Pg 1\n*\nNotes one\nTitle one\nBody one\nSecond\x0Bline\nBox text\nctl\nIn group\nSlide two\n");
}

TEST(PowerPointReader, IncrementalEditsPreferTheNewestOffsetAndChainLoopsEnd)
{
    for (int variant = 0; variant < 4; ++variant) {
        PptFile f;
        f.Put(1, Cont(0x03E8, {Cont(0x0FF0, {PersistAtom(3, 256, 0), PersistAtom(4, 257, 0)}, 0), Rec(0x03EA, "")}));
        f.Put(3, SlideContainer(0x03EE, SlideAtom(0, 0), Drawing({S(202, 0xA00, u"old slide one")})));
        f.Put(4, SlideContainer(0x03EE, SlideAtom(0, 0), Drawing({S(202, 0xA00, u"slide two")})));
        // The first edit's atom is of the short form (no encryption field).
        const std::uint32_t first = f.Edit(1, 0, 0, 28);
        f.Put(3, SlideContainer(0x03EE, SlideAtom(0, 0), Drawing({S(202, 0xA00, u"new slide one")})));
        std::uint32_t newest = f.Edit(1, first);
        if (variant == 1) {
            // The oldest edit points back at itself.
            ps_test::PutLe32(f.stream, first + 8 + 8, first);
        } else if (variant == 2) {
            // A ring of edits: the oldest points at the newest again.
            const std::uint32_t a = f.Edit(1, newest);
            const std::uint32_t b = f.Edit(1, a);
            ps_test::PutLe32(f.stream, first + 8 + 8, b);
            newest = b;
        } else if (variant == 3) {
            // The middle edit points at itself, hiding the first one: the
            // first edit's directory is still found in the stream.
            ps_test::PutLe32(f.stream, newest + 8 + 8, newest);
            newest = f.Edit(1, newest);
        }
        const Result r = ConvertBytes(f.Build(newest));
        EXPECT_EQ(r.ok, 1) << variant;
        EXPECT_EQ(plat::WideToUtf8(r.text), "new slide one\nslide two\n") << variant;
    }
}

TEST(PowerPointReader, CurrentUserThatMissesTheEditFallsBackToTheLastEdit)
{
    PptFile f;
    f.Put(1, Cont(0x03E8, {Cont(0x0FF0, {PersistAtom(3, 256, 0)}, 0), Rec(0x03EA, "")}));
    f.Put(3, SlideContainer(0x03EE, SlideAtom(0, 0), Drawing({S(202, 0xA00, u"old")})));
    const std::uint32_t first = f.Edit(1, 0);
    f.Put(3, SlideContainer(0x03EE, SlideAtom(0, 0), Drawing({S(202, 0xA00, u"new")})));
    const std::uint32_t newest = f.Edit(1, first);
    // The offset of the current edit is 0, inside the document container or
    // beyond the stream.
    for (std::uint32_t current : {0u, 8u, newest + 4, 0x7FFFFFF0u}) {
        const Result r = ConvertBytes(f.Build(current));
        EXPECT_EQ(r.ok, 1) << current;
        EXPECT_EQ(plat::WideToUtf8(r.text), "new\n") << current;
    }
}

TEST(PowerPointReader, EncryptedDocumentIsNotRead)
{
    PptFile f;
    f.Put(1, Cont(0x03E8, {Cont(0x0FF0, {PersistAtom(3, 256, 0)}, 0), Rec(0x03EA, "")}));
    f.Put(3, SlideContainer(0x03EE, SlideAtom(0, 0), Drawing({S(202, 0xA00, u"secret")})));
    const Result r = ConvertBytes(f.Build(f.Edit(1, 0, /*encrypt=*/9)));
    EXPECT_EQ(r.ok, 0);
    EXPECT_TRUE(r.text.empty());
}

TEST(PowerPointReader, SlideWithoutDrawingWritesNothingForItAndTheRestGoesOn)
{
    PptFile f;
    f.Put(1, Cont(0x03E8, {Cont(0x0FF0, {PersistAtom(3, 256, 0), PersistAtom(4, 257, 0), PersistAtom(9, 258, 0)}, 0),
                           Rec(0x03EA, "")}));
    f.Put(3, SlideContainer(0x03EE, SlideAtom(0, 0), ""));
    f.Put(4, SlideContainer(0x03EE, SlideAtom(0, 0), Drawing({S(202, 0xA00, u"second")})));
    // Persist id 9 is in no directory: that slide is passed over.
    const Result r = ConvertBytes(f.Build(f.Edit(1, 0)));
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(plat::WideToUtf8(r.text), "second\n");
}

TEST(PowerPointReader, TextAtomsOfAShape)
{
    struct Case {
        std::string box;
        const char* expected;
    } cases[] = {
        // Characters then bytes: appended; 0x0B a line feed, 0xA0 a blank.
        {CharsAtom(u"A") + BytesAtom("b\x0B" "c\xA0" "d"), "Ab\nc d\n"},
        // Bytes then characters: the characters replace them.
        {BytesAtom("bytes") + CharsAtom(u"chars"), "chars\n"},
        // Bytes are the low halves of U+0000 to U+00FF, not code page text.
        {BytesAtom("S\xE3o Jo\xE3o \xA9"), "S\xC3\xA3o Jo\xC3\xA3o \xC2\xA9\n"},
        // A shape text stops at its first zero character.
        {CharsAtom(std::u16string(u"cut") + u'\0' + u"hidden"), "cut\n"},
    };
    for (const Case& c : cases) {
        PptFile f;
        f.Put(1, Cont(0x03E8, {Cont(0x0FF0, {PersistAtom(3, 256, 0)}, 0), Rec(0x03EA, "")}));
        Shape s = S(202, 0xA00);
        s.extraBox = HeaderAtom(1) + c.box;
        f.Put(3, SlideContainer(0x03EE, SlideAtom(0, 0), Drawing({s})));
        const Result r = ConvertBytes(f.Build(f.Edit(1, 0)));
        EXPECT_EQ(plat::WideToUtf8(r.text), c.expected);
    }
}

TEST(PowerPointReader, OutlineTextsFollowTheirHeaderAtomsAndBadIndexesKeepOwnText)
{
    PptFile f;
    f.Put(1, Cont(0x03E8, {Cont(0x0FF0,
                                {PersistAtom(3, 256, 1), HeaderAtom(0), CharsAtom(u"first"), HeaderAtom(1),
                                 BytesAtom("second"), HeaderAtom(4), CharsAtom(u"third")},
                                0),
                           Rec(0x03EA, "")}));
    Shape a = S(1, 0xA00);
    a.outlineRef = 2;
    Shape b = S(1, 0xA00, u"own");
    b.outlineRef = 7;  // no such outline text
    Shape c = S(1, 0xA00);
    c.outlineRef = 1;
    f.Put(3, SlideContainer(0x03EE, SlideAtom(0, 0), Drawing({a, b, c})));
    const Result r = ConvertBytes(f.Build(f.Edit(1, 0)));
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(plat::WideToUtf8(r.text), "third\nown\nsecond\n");
}

TEST(PowerPointReader, PresentationWithoutSlidesOrEditChain)
{
    PptFile f;
    f.Put(1, Cont(0x03E8, {Rec(0x03E9, std::string(40, '\0')), Rec(0x03EA, "")}));
    Result r = ConvertBytes(f.Build(f.Edit(1, 0)));
    EXPECT_EQ(r.ok, 1);
    EXPECT_TRUE(r.text.empty());
    // No edit in the whole stream: nothing says where the document is.
    PptFile bare;
    bare.Put(1, Cont(0x03E8, {Rec(0x03EA, "")}));
    r = ConvertBytes(bare.Build(0));
    EXPECT_EQ(r.ok, 0);
    // Not a compound file at all.
    r = ConvertBytes("not a presentation");
    EXPECT_EQ(r.ok, 0);
}

TEST(PowerPointReader, HostileLengthsCountsAndNesting)
{
    auto deckWithSlide = [](const std::string& slide, std::int32_t texts = 0) {
        PptFile f;
        f.Put(1, Cont(0x03E8, {Cont(0x0FF0, {PersistAtom(3, 256, texts)}, 0), Rec(0x03EA, "")}));
        f.Put(3, slide);
        return f.Build(f.Edit(1, 0));
    };
    // Deep nesting inside the slide and inside the drawing.
    std::string deep = Rec(0x0FA0, Utf16(u"deep"));
    for (int i = 0; i < 5000; ++i)
        deep = Cont(0x1388, {deep});
    std::string deepArt = ShapeRecords(S(202, 0xA00, u"x"));
    for (int i = 0; i < 5000; ++i)
        deepArt = Cont(0xF004, {deepArt});
    // An atom whose length runs far past its container and the stream.
    std::string huge = Rec(0x0FA0, Utf16(u"abc"));
    ps_test::PutLe32(huge, 4, 0xFFFFFFF0);
    // A property table that claims more entries than the record holds and
    // a shape name of more than 520 bytes.
    Shape props = S(202, 0xA00, u"kept");
    props.properties = {{0x8380, 600}, {0x0181, 5}};
    const std::string slides[] = {
        SlideContainer(0x03EE, SlideAtom(0, 0), Cont(0x1388, {deep})),
        SlideContainer(0x03EE, SlideAtom(0, 0), Cont(0x040C, {Cont(0xF002, {deepArt})})),
        SlideContainer(0x03EE, SlideAtom(0, 0), Cont(0x040C, {Cont(0xF002, {Cont(0xF004, {huge})})})),
        SlideContainer(0x03EE, SlideAtom(0, 0), Drawing({props})),
    };
    for (const std::string& slide : slides) {
        EXPECT_EQ(ConvertBytes(deckWithSlide(slide)).ok, 1);
        EXPECT_EQ(ConvertBytes(deckWithSlide(slide, 0x7FFFFFFF)).ok, 1);
    }
}

TEST(PowerPointReader, ManyEntriesWithHugeTextCountsStayCheap)
{
    // Thousands of slide entries, each claiming 2^31 outline texts,
    // all referring to one master and notes id that many entries share.
    std::vector<std::string> atoms;
    for (std::uint32_t i = 0; i < 10000; ++i)
        atoms.push_back(PersistAtom(3, 256 + i, 0x7FFFFFFF));
    PptFile f;
    f.Put(1, Cont(0x03E8, {Cont(0x0FF0, atoms, 0), Cont(0x0FF0, atoms, 1), Cont(0x0FF0, atoms, 2), Rec(0x03EA, "")}));
    f.Put(3, SlideContainer(0x03EE, SlideAtom(256, 256), Drawing({S(202, 0xA00, u"same")})));
    const Result r = ConvertBytes(f.Build(f.Edit(1, 0)));
    EXPECT_EQ(r.ok, 1);
    EXPECT_FALSE(r.text.empty());
}

TEST(PowerPointReader, RandomDamageNeverCrashesOrHangs)
{
    std::uint32_t edit = 0;
    const std::string good = BuildDeck(&edit);
    // Damage only the document stream's sectors (after the header sector)
    // so that the compound file still opens most of the time.
    std::mt19937 rng(12);
    for (int round = 0; round < 300; ++round) {
        std::string bad = good;
        const int flips = 1 + int(rng() % 8);
        for (int i = 0; i < flips; ++i) {
            const std::size_t at = 512 + rng() % (bad.size() - 512);
            bad[at] = char(rng() % 3 == 0 ? 0xFF : rng());
        }
        const Result r = ConvertBytes(bad);
        EXPECT_TRUE(r.ok == 0 || r.ok == 1);
    }
}

namespace {

// Two slides with a text shape each, found through one edit; change may
// damage the file (the document stream, the offsets of its directory and
// edit) before it is packed with the current edit's offset it gives back.
struct SmallDeck {
    PptFile f;
    std::uint32_t directory = 0;
    std::uint32_t edit = 0;
    std::uint32_t slideOne = 0;
};

SmallDeck BuildSmallDeck(const std::string& slideOneDrawing = {})
{
    SmallDeck d;
    d.f.Put(1, Cont(0x03E8, {Rec(0x03E9, std::string(40, '\0')),
                             Cont(0x0FF0, {PersistAtom(3, 256, 0), PersistAtom(4, 257, 0)}, 0), Rec(0x03EA, "")}));
    d.slideOne = d.f.Put(3, SlideContainer(0x03EE, SlideAtom(0, 0),
                                           slideOneDrawing.empty() ? Drawing({S(202, 0xA00, u"one")})
                                                                   : slideOneDrawing));
    d.f.Put(4, SlideContainer(0x03EE, SlideAtom(0, 0), Drawing({S(202, 0xA00, u"two")})));
    d.directory = std::uint32_t(d.f.stream.size());
    d.edit = d.f.Edit(1, 0);
    return d;
}

}  // namespace

// A presentation that contradicts itself is read as far as it goes and
// marked damaged, so that it never reads clean with text missing; a sound
// one is not marked.
TEST(PowerPointDamage, ContradictionsAreNotedAndTheRestIsRead)
{
    std::string deep = Drawing({S(202, 0xA00, u"one")});
    for (int i = 0; i < 80; ++i)
        deep = Cont(0x1388, {deep});
    const struct {
        const char* name;
        std::string slideOne;  // its drawing, when not the plain one
        void (*damage)(SmallDeck&, std::uint32_t& current);
        const char* reason;  // null: sound
        const char* text;  // null: not compared
    } cases[] = {
        {"sound", {}, [](SmallDeck&, std::uint32_t&) {}, nullptr, "one\ntwo\n"},
        {"current user misses the edit", {}, [](SmallDeck&, std::uint32_t& current) { current += 4; },
         "편집 목록 손상", "one\ntwo\n"},
        {"edit's last edit leads to no edit", {},
         [](SmallDeck& d, std::uint32_t&) { ps_test::PutLe32(d.f.stream, d.edit + 8 + 8, 8); }, "편집 목록 손상",
         "one\ntwo\n"},
        {"directory offset past the stream", {},
         [](SmallDeck& d, std::uint32_t&) { ps_test::PutLe32(d.f.stream, d.edit + 8 + 12, 0x00FFFFFF); },
         "영속 목록 손상", ""},
        {"directory offset at another record", {},
         [](SmallDeck& d, std::uint32_t&) { ps_test::PutLe32(d.f.stream, d.edit + 8 + 12, d.edit); },
         "영속 목록 손상", ""},
        {"directory run counts more offsets than it holds", {},
         [](SmallDeck& d, std::uint32_t&) {
             const std::uint32_t last = d.directory + 8 + 8 * 2;  // the third run
             ps_test::PutLe32(d.f.stream, last, (ps_test::GetLe32(d.f.stream, last) & 0xFFFFF) | (2u << 20));
         },
         "영속 목록 손상", "one\ntwo\n"},
        {"directory offset past the stream for a slide", {},
         [](SmallDeck& d, std::uint32_t&) { ps_test::PutLe32(d.f.stream, d.directory + 8 + 8 * 2 + 4, 0x00FFFFFF); },
         "영속 목록 손상", "one\n"},
        {"slide list names an absent persist object", {},
         [](SmallDeck& d, std::uint32_t&) {
             const std::size_t at = d.f.stream.find(PersistAtom(4, 257, 0));
             ps_test::PutLe32(d.f.stream, at + 8, 9);
         },
         "참조된 개체 없음", "one\n"},
        {"text atom longer than its container", {},
         [](SmallDeck& d, std::uint32_t&) {
             const std::size_t at = d.f.stream.find(CharsAtom(u"one"));
             ps_test::PutLe32(d.f.stream, at + 4, 40);
         },
         "길이가 데이터를 넘음", nullptr},  // the atom takes the bytes after it
        {"document container ends before its end atom", {},
         [](SmallDeck& d, std::uint32_t&) { ps_test::PutLe32(d.f.stream, 4, 48); }, "구조가 끝나지 않음", ""},
        {"slide nested past the cap", deep, [](SmallDeck&, std::uint32_t&) {}, "한도에 이르러 건너뜀", "two\n"},
    };
    for (const auto& c : cases) {
        SmallDeck d = BuildSmallDeck(c.slideOne);
        std::uint32_t current = d.edit;
        c.damage(d, current);
        const Result r = ConvertBytes(d.f.Build(current));
        EXPECT_EQ(r.ok, 1) << c.name;
        if (c.text) {
            EXPECT_EQ(plat::WideToUtf8(r.text), c.text) << c.name;
        }
        if (c.reason) {
            EXPECT_STREQ(r.damage, c.reason) << c.name;
        } else {
            EXPECT_EQ(r.damage, nullptr) << c.name << ": " << r.damage;
        }
    }
    // The second slide's container claims more than the stream holds.
    SmallDeck d = BuildSmallDeck();
    const std::uint32_t second =
        std::uint32_t(d.f.stream.find(SlideContainer(0x03EE, SlideAtom(0, 0), Drawing({S(202, 0xA00, u"two")}))));
    ps_test::PutLe32(d.f.stream, second + 4, ps_test::GetLe32(d.f.stream, second + 4) + 0x10000);
    const Result r = ConvertBytes(d.f.Build(d.edit));
    EXPECT_EQ(plat::WideToUtf8(r.text), "one\ntwo\n");
    EXPECT_STREQ(r.damage, "길이가 데이터를 넘음");
}

// Sound records the walks once misread: an empty container (here a shape's
// empty text box) is closed at once instead of taking the next shape for its
// child; a shape property table whose complex data (a freeform's points) is
// as long as its entry says; a round-trip record after the document's end
// atom that carries the container flag but no records. Each reads clean
// with all of its text.
TEST(PowerPointReader, SoundRecordsOnceMisreadReadCleanAndWhole)
{
    // A shape with an empty text box, then shapes with text.
    const std::string emptyBox =
        Cont(0xF004, {Rec(0xF00A, U32(1030) + U32(0xA00), 202, 2), Rec(0xF010, std::string(8, '\0')), Cont(0xF00D, {})});
    // A freeform: the table, then the points (6-byte array header and two
    // 8-byte points) and the shape name, then its text box.
    const std::string points = U16(2) + U16(2) + U16(8) + std::string(16, '\x01');
    const std::string name = Utf16(u"Freeform 1") + U16(0);
    const std::string table = U16(0xC145) + U32(std::uint32_t(points.size())) + U16(0x0181) + U32(5) +
                              U16(0xC380) + U32(std::uint32_t(name.size()));
    const std::string freeform =
        Cont(0xF004, {Rec(0xF00A, U32(1031) + U32(0xA00), 0, 2), Rec(0xF00B, table + points + name, 3, 3),
                      Rec(0xF010, std::string(8, '\0')), Cont(0xF00D, {HeaderAtom(1), CharsAtom(u"free text")})});
    PptFile f;
    f.Put(1, Cont(0x03E8, {Cont(0x0FF0, {PersistAtom(3, 256, 0)}, 0), Rec(0x03EA, ""),
                           Rec(0x0428, std::string("PK\x03\x04") + std::string(40, '\x7F'), 0, 0xF)}));
    f.Put(3, SlideContainer(0x03EE, SlideAtom(0, 0),
                            Drawing({S(202, 0xA00, u"first")}, emptyBox + ShapeRecords(S(202, 0xA00, u"after")) + freeform)));
    const Result r = ConvertBytes(f.Build(f.Edit(1, 0)));
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(plat::WideToUtf8(r.text), "first\nafter\nfree text\n");
    EXPECT_EQ(r.damage, nullptr) << r.damage;
}
