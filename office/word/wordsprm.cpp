#include "office/word/wordsprm.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// How the operand length of a known opcode is found.
enum LengthKind : std::uint8_t {
    kFixed,        // the value beside it
    kFirstBytePlus1,
    kWordAtPlus1,  // the u16 at the operand, plus 1
    kWordAt,       // the u16 at the operand
    k9031,         // 6 when the u16 at operand offset 2 is 0x5032, else 4
};

struct OpcodeInfo {
    std::uint16_t opcode;
    LengthKind kind;
    std::uint8_t length;
};

constexpr std::uint16_t kLen0[] = {0x085B, 0x085C, 0x085D, 0x3229, 0x322A, 0x485F, 0x4A5E, 0x4A60, 0x4A61, 0x740C, 0xD62C};
constexpr std::uint16_t kLen1[] = {
    0x0800, 0x0801, 0x0802, 0x0806, 0x080A, 0x0835, 0x0836, 0x0837, 0x0838, 0x0839, 0x083A, 0x083B, 0x083C,
    0x0854, 0x0855, 0x0856, 0x0858, 0x085A, 0x0868, 0x2403, 0x2404, 0x2405, 0x2406, 0x2407, 0x2408, 0x2409,
    0x240C, 0x2416, 0x2417, 0x2423, 0x242A, 0x2430, 0x2431, 0x2433, 0x2434, 0x2435, 0x2436, 0x2437, 0x2438,
    0x243B, 0x2441, 0x2443, 0x2444, 0x2447, 0x2448, 0x244B, 0x244C, 0x2602, 0x260A, 0x261B, 0x2640, 0x2859,
    0x286F, 0x2A0C, 0x2A10, 0x2A34, 0x2A3E, 0x2A42, 0x2A48, 0x2A53, 0x3000, 0x3001, 0x3005, 0x3006, 0x3009,
    0x300A, 0x300D, 0x300E, 0x3011, 0x3012, 0x3013, 0x3014, 0x3019, 0x301A, 0x301D, 0x3228, 0x3403, 0x3404,
    0x360D, 0x560B, 0x6649};
constexpr std::uint16_t kLen2[] = {
    0x2A44, 0x2A46, 0x442B, 0x442C, 0x442D, 0x4439, 0x443A, 0x4600, 0x460B, 0x4610, 0x461C, 0x461D, 0x461E,
    0x461F, 0x4620, 0x4621, 0x4804, 0x4807, 0x4845, 0x484B, 0x484E, 0x4852, 0x4863, 0x4866, 0x4867, 0x486B,
    0x486D, 0x486E, 0x4A30, 0x4A41, 0x4A43, 0x4A4D, 0x4A4F, 0x4A50, 0x4A51, 0x5007, 0x5008, 0x500B, 0x5015,
    0x501B, 0x501C, 0x5026, 0x5032, 0x5033, 0x522F, 0x5400, 0x5622, 0x5624, 0x5625, 0x7629, 0x840E, 0x840F,
    0x8411, 0x8418, 0x8419, 0x841A, 0x842E, 0x842F, 0x845E, 0x8840, 0x900C, 0x9016, 0x9023, 0x9024, 0x9407,
    0x940E, 0x940F, 0x9410, 0x9601, 0x9602, 0xA413, 0xA414, 0xB00F, 0xB010, 0xB017, 0xB018, 0xB01F, 0xB020,
    0xB021, 0xB022, 0xB025, 0xCA4A};
constexpr std::uint16_t kLen3[] = {0xEA08, 0xEA3F, 0xF203, 0xF204};
constexpr std::uint16_t kLen4[] = {0x6412, 0x6424, 0x6425, 0x6426, 0x6427, 0x6428, 0x6629, 0x6645, 0x6646,
                                   0x6805, 0x680E, 0x6864, 0x6865, 0x6870, 0x6A03, 0x6A09, 0x702B, 0x702C,
                                   0x702D, 0x702E, 0x7030, 0x740A, 0x7621, 0x7623, 0x7627, 0x7628};
constexpr std::uint16_t kLenFirstByte[] = {0xC601, 0xC60D, 0xC615, 0xC645, 0xC64D, 0xCA31, 0xCA62,
                                           0xCA71, 0xD605, 0xD609, 0xD612, 0xD61A, 0xD61B, 0xD61C,
                                           0xD61D, 0xD620, 0xD62B, 0xD62F, 0xD632, 0xD633, 0xD634};

// Length kind per opcode, built once: 0xFF marks an unknown opcode.
struct OpcodeTable {
    std::array<std::uint8_t, 65536> kind;
    std::array<std::uint8_t, 65536> length;

    OpcodeTable()
    {
        kind.fill(0xFF);
        length.fill(0);
        auto fixed = [this](const auto& list, std::uint8_t n) {
            for (std::uint16_t op : list) {
                kind[op] = kFixed;
                length[op] = n;
            }
        };
        fixed(kLen0, 0);
        fixed(kLen1, 1);
        fixed(kLen2, 2);
        fixed(kLen3, 3);
        fixed(kLen4, 4);
        for (std::uint16_t op : kLenFirstByte)
            kind[op] = kFirstBytePlus1;
        kind[0xD626] = kFixed, length[0xD626] = 5;
        kind[0xCA57] = kFixed, length[0xCA57] = 7;
        kind[0xD227] = kFixed, length[0xD227] = 7;
        kind[0xC63F] = kFixed, length[0xC63F] = 8;
        kind[0xC63E] = kFixed, length[0xC63E] = 85;
        kind[0xD608] = kWordAtPlus1;
        kind[0xD606] = kWordAt;
        kind[0x9031] = k9031;
    }
};

const OpcodeTable& Table()
{
    static const OpcodeTable table;
    return table;
}

// Byte i of the operand, 0 past its end.
inline std::uint8_t At(const std::uint8_t* p, std::size_t available, std::size_t i)
{
    return i < available ? p[i] : 0;
}

inline std::uint16_t Word(const std::uint8_t* p, std::size_t available, std::size_t i)
{
    return static_cast<std::uint16_t>(At(p, available, i) | (At(p, available, i + 1) << 8));
}

inline std::uint32_t Dword(const std::uint8_t* p, std::size_t available, std::size_t i)
{
    return Word(p, available, i) | (static_cast<std::uint32_t>(Word(p, available, i + 2)) << 16);
}

void SetCharFlag(CharProps* c, std::uint8_t bit, std::uint8_t operand)
{
    if (operand & 1)
        c->flags |= bit;
    else
        c->flags &= static_cast<std::uint8_t>(~bit);
}

}  // namespace

int ApplyPropertyModifier(std::uint16_t opcode, const std::uint8_t* operand, std::size_t available,
                          ParaProps* para, CharProps* chr, TableProps* table, PictureProps* pic,
                          SectionProps* sect)
{
    const OpcodeTable& t = Table();
    int length = 0;
    switch (t.kind[opcode]) {
    case kFixed:
        length = t.length[opcode];
        break;
    case kFirstBytePlus1:
        length = At(operand, available, 0) + 1;
        break;
    case kWordAtPlus1:
        length = Word(operand, available, 0) + 1;
        break;
    case kWordAt:
        length = Word(operand, available, 0);
        break;
    case k9031:
        length = Word(operand, available, 2) == 0x5032 ? 6 : 4;
        break;
    default:
        return kSprmUnknown;
    }

    switch (opcode) {
    case 0x0855:
        if (chr)
            SetCharFlag(chr, CharProps::kSpec, At(operand, available, 0));
        break;
    case 0x6A03:
        if (chr)
            chr->flags |= CharProps::kSpec;
        break;
    case 0x6A09:
        if (chr) {
            chr->symbolFont = Word(operand, available, 0);
            chr->symbolChar = Word(operand, available, 2);
            chr->hasSymbol = 1;
            chr->flags |= CharProps::kSpec;
        }
        break;
    case 0x0800:
        if (chr)
            SetCharFlag(chr, CharProps::kRMarkDel, At(operand, available, 0));
        break;
    case 0x0802:
        if (chr)
            SetCharFlag(chr, CharProps::kFldVanish, At(operand, available, 0));
        break;
    case 0x0801:
        if (chr)
            SetCharFlag(chr, CharProps::kRMarkIns, At(operand, available, 0));
        break;
    case 0x0856:
        if (chr)
            SetCharFlag(chr, CharProps::kObj, At(operand, available, 0));
        break;
    case 0x0806:
        if (chr)
            SetCharFlag(chr, CharProps::kData, At(operand, available, 0));
        break;
    case 0x080A:
        if (chr)
            SetCharFlag(chr, CharProps::kOle2, At(operand, available, 0));
        break;
    case 0x4600:
        if (para)
            para->istd = Word(operand, available, 0);
        break;
    case 0x2416:
        if (para)
            para->fInTable = At(operand, available, 0);
        break;
    case 0x2417:
        if (para)
            para->fTtp = At(operand, available, 0);
        break;
    case 0x6649:
        if (table)
            table->itap = At(operand, available, 0);
        break;
    case 0x244B:
        if (table)
            table->fInnerTableCell = At(operand, available, 0);
        break;
    case 0x244C:
        if (table)
            table->fInnerTtp = At(operand, available, 0);
        break;
    case 0x6645:
    case 0x6646:
        if (para) {
            para->hasHuge = 1;
            para->hugeOffset = Dword(operand, available, 0);
        }
        break;
    default:
        // Every other known opcode sets a property that nothing reads.
        if (sect && ((opcode >> 10) & 7) == 4)
            sect->applied = 1;
        if (pic && ((opcode >> 10) & 7) == 3)
            pic->applied = 1;
        break;
    }
    return length;
}

int ApplyPropertyList(const std::uint8_t* grpprl, std::size_t length, ParaProps* para, CharProps* chr,
                      TableProps* table, PictureProps* pic, SectionProps* sect)
{
    if (!grpprl || length < 3)
        return 0;
    const std::size_t n = length - 2;
    std::size_t p = 0;
    while (p < n) {
        const std::uint16_t opcode = static_cast<std::uint16_t>(grpprl[p] | (grpprl[p + 1] << 8));
        if (opcode < 0x7D) {
            p += 1;
            continue;
        }
        const int sgc = (opcode >> 10) & 7;
        bool present = false;
        switch (sgc) {
        case 1: present = para != nullptr; break;
        case 2: present = chr != nullptr; break;
        case 3: present = pic != nullptr; break;
        case 4: present = sect != nullptr; break;
        case 5: present = table != nullptr; break;
        default: break;
        }
        if (!present) {
            p += 1;
            continue;
        }
        const std::size_t operandAt = p + 2;
        const std::size_t available = operandAt < length ? length - operandAt : 0;
        const int len = ApplyPropertyModifier(opcode, grpprl + std::min(operandAt, length), available, para, chr,
                                              table, pic, sect);
        if (len == kSprmUnknown)
            p += 1;
        else
            p += 2 + static_cast<std::size_t>(len);
    }
    return 1;
}
