// RTF under a Word name: groups, destinations and their lengths.
//
// The seed holds its lines in paragraph groups, as \uN? escapes and as
// escaped bytes of code page 949, beside a picture with raw \bin data
// (braces among its bytes) and an object's hexadecimal data; one line is a
// comment's, anchored in the first paragraph. The mutants
// damage what RTF has of structure: cuts (first at every group's end),
// braces removed and doubled, \bin lengths changed, picture and object
// groups opened and never closed, the font table's closing brace removed,
// hexadecimal escapes cut.
#include <algorithm>
#include <cstdio>

#include "damage/damage.h"
#include "damage/mutators.h"
#include "platform/codec.h"

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

// Text as RTF in code page 949: every byte as a hexadecimal escape.
std::string HexText(const std::u16string& text)
{
    std::string out;
    for (unsigned char b : plat::EncodeCodePage(949, text)) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\'%02x", b);
        out += buf;
    }
    return out;
}

// Raw bytes of a picture: braces and a backslash among them, which only a
// reader that honours the length passes over.
const char kPictureBytes[] = "\x01{}\\\x7f}{\x02";
constexpr std::size_t kPictureLength = sizeof kPictureBytes - 1;

Bytes Seed()
{
    Bytes doc = "{\\rtf1\\ansi\\ansicpg949\\deff0{\\fonttbl{\\f0\\fnil\\fcharset129 Gulim;}{\\f1\\fswiss Arial;}}\n"
                "{\\colortbl;\\red0\\green0\\blue0;}\n{\\info{\\title Seed}}\n";
    const auto lines = damage::SeedLines(17);
    const std::string comment = "{\\*\\atnid PS}{\\*\\atnauthor Seed}\\chatn {\\*\\annotation{\\*\\atnref 1}"
                                "{\\*\\atndate 1471637364}\\pard\\plain\\f0 " + RtfText(lines[16]) + "}";
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        switch (i % 4) {
        case 0: doc += "{\\pard\\f0 " + RtfText(lines[i]) + (i == 0 ? comment : "") + "\\par}\n"; break;
        case 1: doc += "{\\pard\\f0 " + HexText(lines[i]) + "\\par}\n"; break;
        case 2:
            doc += "{\\pard{\\pict\\pngblip\\picw1\\pich1\\bin" + std::to_string(kPictureLength) + " " +
                   std::string(kPictureBytes, kPictureLength) + "}" + RtfText(lines[i]) + "\\par}\n";
            break;
        default:
            doc += "{\\pard\\f1{\\object\\objemb{\\*\\objclass Paint}{\\*\\objdata 0105000002000000}}" +
                   RtfText(lines[i]) + "\\par}\n";
            break;
        }
    }
    doc += "}\n";
    return doc;
}

// Offsets of the structural braces (not those inside \bin data).
std::vector<std::size_t> Braces(const Bytes& bytes)
{
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\\') {
            if (bytes.compare(i, 4, "\\bin") == 0) {
                std::size_t k = i + 4;
                std::size_t n = 0;
                while (k < bytes.size() && bytes[k] >= '0' && bytes[k] <= '9')
                    n = n * 10 + static_cast<std::size_t>(bytes[k++] - '0');
                i = k + (k < bytes.size() && bytes[k] == ' ' ? 1 : 0) + n - 1;
            } else {
                ++i;  // an escaped byte
            }
            continue;
        }
        if (bytes[i] == '{' || bytes[i] == '}')
            at.push_back(i);
    }
    return at;
}

void Mutate(const Bytes& seed, std::uint64_t rng, std::size_t budget, std::vector<damage::Mutant>& out)
{
    damage::Rng r(rng);
    const std::vector<std::size_t> braces = Braces(seed);

    // Each kind of damage in its own list; the lists are interleaved so that
    // a small budget still meets every kind.
    std::vector<std::vector<damage::Mutant>> kinds(7);

    // The font table's closing brace removed: the table swallows the body.
    const std::size_t fontEnd = seed.find("}}", seed.find("\\fonttbl")) + 1;
    kinds[0].push_back({"fonttbl unclosed", damage::Without(seed, fontEnd, 1)});

    // Braces removed and doubled.
    for (std::size_t b : braces) {
        kinds[1].push_back({"brace@" + std::to_string(b) + " removed", damage::Without(seed, b, 1)});
        kinds[2].push_back({"brace@" + std::to_string(b) + " doubled", seed.substr(0, b + 1) + seed.substr(b)});
    }

    // \bin lengths: 0, smaller, larger, past the end.
    for (std::size_t at : damage::Occurrences(seed, "\\bin")) {
        std::size_t digits = at + 4;
        while (digits < seed.size() && seed[digits] >= '0' && seed[digits] <= '9')
            ++digits;
        const std::size_t n = std::stoul(seed.substr(at + 4, digits - at - 4));
        for (std::size_t v : {std::size_t(0), n / 2, n - 1, n + 1, n + 2, 2 * n, seed.size(), std::size_t(99999999)}) {
            if (v == n)
                continue;
            kinds[3].push_back({"bin@" + std::to_string(at) + "=" + std::to_string(v),
                                seed.substr(0, at + 4) + std::to_string(v) + seed.substr(digits)});
        }
    }

    // Picture and object groups opened and never closed, before each
    // paragraph and inside it.
    static const char* const kOpeners[] = {"{\\pict\\pngblip 89504e47", "{\\*\\objdata 01050000",
                                           "{\\pict\\wmetafile8\\bin4 ab{}", "{\\fonttbl{\\f9 X;}"};
    for (std::size_t at : damage::Occurrences(seed, "{\\pard")) {
        for (const char* o : kOpeners) {
            kinds[4].push_back({std::string("open ") + o + " @" + std::to_string(at), seed.substr(0, at) + o + seed.substr(at)});
            const std::size_t inside = seed.find(' ', at) + 1;
            kinds[4].push_back(
                {std::string("open ") + o + " @" + std::to_string(inside), seed.substr(0, inside) + o + seed.substr(inside)});
        }
    }

    // Hexadecimal escapes cut: a digit or both removed, or the file cut
    // inside the escape.
    for (std::size_t at : damage::Occurrences(seed, "\\'")) {
        kinds[5].push_back({"hex@" + std::to_string(at) + " one digit", damage::Without(seed, at + 2, 1)});
        kinds[5].push_back({"hex@" + std::to_string(at) + " no digits", damage::Without(seed, at + 2, 2)});
        kinds[5].push_back({"hex@" + std::to_string(at) + " cut", seed.substr(0, at + 3)});
    }

    // Cuts: first at every group's end and inside each \uN? escape, then
    // spread over the whole document.
    std::vector<std::size_t> marks;
    for (std::size_t b : braces)
        if (seed[b] == '}')
            marks.push_back(b + 1);
    for (std::size_t at : damage::Occurrences(seed, "\\u"))
        if (at + 2 < seed.size() && (seed[at + 2] == '-' || (seed[at + 2] >= '0' && seed[at + 2] <= '9')))
            marks.push_back(seed.find('?', at));
    damage::AddCuts(seed, budget, kinds[6], marks);

    damage::AddInterleaved(kinds, r, out);
}

const damage::Registrar kRtf({"rtf", "doc", Seed, Mutate});

}  // namespace
