// Property modifiers (sprms) of Word 97-2003 documents: a two-byte opcode and
// an operand, in lists (grpprls) that describe character, paragraph, table
// and section formatting. The interpreter walks a list leniently: it applies
// the opcodes it knows to the records the caller supplied and steps over
// everything else one byte at a time, so damaged data never stops it.
//
// Only a few properties reach the text walk: the special-character flag and
// the symbol of a character run, the table flags of a paragraph and the
// reference to a paragraph's huge property list in the "Data" stream.
#pragma once

#include <cstddef>
#include <cstdint>

// Character properties of one run list.
struct CharProps {
    enum : std::uint8_t {
        kRMarkDel = 0x01,
        kFldVanish = 0x02,
        kRMarkIns = 0x04,
        kSpec = 0x08,
        kObj = 0x10,
        kData = 0x40,
        kOle2 = 0x80,
    };
    std::uint8_t flags = 0;
    std::uint16_t symbolFont = 0;
    std::uint16_t symbolChar = 0;
    std::uint8_t hasSymbol = 0;

    bool fSpec() const { return (flags & kSpec) != 0; }
};

struct ParaProps {
    std::uint16_t istd = 0;
    std::uint8_t fInTable = 0;
    std::uint8_t fTtp = 0;
    std::uint8_t hasHuge = 0;
    std::uint32_t hugeOffset = 0;  // of the huge property list in "Data"
};

struct TableProps {
    std::uint8_t itap = 0;
    std::uint8_t fInnerTableCell = 0;
    std::uint8_t fInnerTtp = 0;
};

// Nothing of a section's properties is read; the record marks that a list
// was applied.
struct SectionProps {
    std::uint32_t applied = 0;
};

struct PictureProps {
    std::uint32_t applied = 0;
};

// What ApplyPropertyModifier answers for an opcode it does not know.
inline constexpr int kSprmUnknown = -1;

// Applies one known opcode to its record (when supplied) and returns the
// operand length; kSprmUnknown for an opcode outside the table. operand
// points at the operand, available is how many bytes of it exist (bytes past
// them read as 0).
int ApplyPropertyModifier(std::uint16_t opcode, const std::uint8_t* operand, std::size_t available,
                          ParaProps* para, CharProps* chr, TableProps* table, PictureProps* pic,
                          SectionProps* sect);

// Walks a list of length bytes. 1 after a complete walk, 0 when the list is
// shorter than three bytes.
int ApplyPropertyList(const std::uint8_t* grpprl, std::size_t length, ParaProps* para, CharProps* chr,
                      TableProps* table, PictureProps* pic, SectionProps* sect);
