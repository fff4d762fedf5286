// RTF under a Word name: groups, destinations and their lengths.
#include <cstdio>

#include "damage/damage.h"

namespace {

using damage::Bytes;

// Text as RTF: ASCII as it is, other characters as \uN? escapes.
std::string RtfText(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80 && c != u'\\' && c != u'{' && c != u'}') {
            out += static_cast<char>(c);
        } else {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u%d?", static_cast<int>(static_cast<int16_t>(c)));
            out += buf;
        }
    }
    return out;
}

Bytes Seed()
{
    Bytes doc = "{\\rtf1\\ansi\\ansicpg949\\deff0{\\fonttbl{\\f0\\fnil Gulim;}}\n";
    for (const std::u16string& line : damage::SeedLines(16))
        doc += "{\\pard " + RtfText(line) + "\\par}\n";
    doc += "}\n";
    return doc;
}

void Mutate(const Bytes& seed, std::uint64_t rng, std::size_t budget, std::vector<damage::Mutant>& out)
{
    damage::Rng r(rng);
    damage::AddCuts(seed, budget, out);
    (void)r;
}

const damage::Registrar kRtf({"rtf", "doc", Seed, Mutate});

}  // namespace
