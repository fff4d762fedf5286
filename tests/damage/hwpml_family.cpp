// HWPML: the XML form of the word processor's documents.
//
// The search reads every ".hwp" with the binary HWP reader and has no
// extension of its own for HWPML; the HWP entry reads it when its caller
// asks with "xml:true". So that this family's documents meet the HWPML
// reader through the search all the same, the family scans them with
// readers of its own: behind the HWP slot an entry that reads a file whose
// head is HWPML with that option and hands every other file to the
// program's HWP entry. The other families scan with the program's readers.
//
// The seed holds its lines in three sections (the head counts them), in
// paragraphs, table cells and a text box. The mutants: cuts (first at every
// element's end), end and start tags removed, end tags misnamed, markup
// characters broken, undefined entities and bytes that are no UTF-8 in the
// text, sections and the body removed, the head's section count changed,
// elements nested past the walk's cap.
#include <algorithm>

#include "damage/damage.h"
#include "damage/mutators.h"
#include "extract/extractlib.h"
#include "extract/hwp/hwpmlmanager.h"
#include "platform/docfile.h"
#include "platform/text.h"
#include "search/extractors.h"

namespace {

using damage::Bytes;

EntryResult HwpOrHwpml(const char16_t* path, const char16_t* options, std::u16string* text, ReadError* failure)
{
    CHwpmlDocumentManager sniff;
    if (sniff.IsFormat(path))
        return ConvertHwpToText(path, u"xml:true", text, failure);
    const ExtractEntry hwp = DefaultExtractorTable().hwp;
    return hwp ? hwp(path, options, text, failure) : EntryResult::NotRead;
}

// The program's readers with HWPML documents routed through the HWP slot:
// what this family's documents are scanned with.
ExtractorTable HwpmlThroughTheHwpSlot()
{
    ExtractorTable table = DefaultExtractorTable();
    table.hwp = HwpOrHwpml;
    return table;
}

std::string Escaped(const std::u16string& line)
{
    std::string out;
    for (char c : plat::WideToUtf8(line)) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else
            out += c;
    }
    return out;
}

std::string Paragraph(const std::string& inner)
{
    return "<P ParaShape=\"0\" Style=\"0\"><TEXT CharShape=\"0\">" + inner + "</TEXT></P>\n";
}

std::string Chars(const std::u16string& line)
{
    return "<CHAR>" + Escaped(line) + "</CHAR>";
}

Bytes Seed()
{
    const auto lines = damage::SeedLines(16);
    Bytes doc = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>"
                "<HWPML Style=\"embed\" SubVersion=\"8.0.0.0\" Version=\"2.8\">\n"
                "<HEAD SecCnt=\"3\"><DOCSUMMARY><AUTHOR>Seed</AUTHOR></DOCSUMMARY><DOCSETTING>"
                "<SECURITY Enc=\"0\" Sig=\"0\"/></DOCSETTING></HEAD>\n<BODY>\n";
    std::size_t next = 0;
    for (int section = 0; section < 3; ++section) {
        doc += "<SECTION Id=\"" + std::to_string(section) + "\">\n";
        const std::size_t end = section == 2 ? lines.size() : next + 5;
        while (next < end) {
            const std::u16string& line = lines[next];
            switch (next % 4) {
            case 0:
            case 1: doc += Paragraph(Chars(line)); break;
            case 2:
                doc += Paragraph("<CHAR>cell:</CHAR><TABLE><ROW><CELL><PARALIST>" + Paragraph(Chars(line)) +
                                 "</PARALIST></CELL></ROW></TABLE>");
                break;
            default:
                doc += Paragraph("<CHAR>box</CHAR><RECTANGLE><DRAWTEXT><PARALIST>" + Paragraph(Chars(line)) +
                                 "</PARALIST></DRAWTEXT></RECTANGLE><CHAR><LINEBREAK/></CHAR>");
                break;
            }
            ++next;
        }
        doc += "</SECTION>\n";
    }
    doc += "</BODY>\n<TAIL/></HWPML>\n";
    return doc;
}

void Mutate(const Bytes& seed, std::uint64_t rng, std::size_t budget, std::vector<damage::Mutant>& out)
{
    damage::Rng r(rng);
    std::vector<std::vector<damage::Mutant>> kinds(8);
    auto name = [](const char* what, std::size_t at) { return std::string(what) + "@" + std::to_string(at); };

    // Tags: every end tag removed or misnamed, every start tag removed.
    for (std::size_t at : damage::Occurrences(seed, "</")) {
        const std::size_t end = seed.find('>', at);
        kinds[0].push_back({name("end tag removed", at), damage::Without(seed, at, end + 1 - at)});
        kinds[1].push_back({name("end tag misnamed", at), damage::Overwritten(seed, at + 2, "Q")});
    }
    for (std::size_t at : damage::Occurrences(seed, "<")) {
        if (at + 1 >= seed.size() || seed[at + 1] == '/' || seed[at + 1] == '?')
            continue;
        const std::size_t end = seed.find('>', at);
        if (seed[end - 1] != '/')
            kinds[2].push_back({name("start tag removed", at), damage::Without(seed, at, end + 1 - at)});
    }

    // Markup characters broken: a "<" made a blank, a ">" removed, a quote
    // removed.
    for (std::size_t at : damage::Occurrences(seed, "<"))
        kinds[3].push_back({name("'<' blanked", at), damage::Overwritten(seed, at, " ")});
    for (std::size_t at : damage::Occurrences(seed, ">"))
        kinds[3].push_back({name("'>' removed", at), damage::Without(seed, at, 1)});
    for (std::size_t at : damage::Occurrences(seed, "\""))
        kinds[3].push_back({name("quote removed", at), damage::Without(seed, at, 1)});

    // Text that is no XML: an undefined entity, bytes that are no UTF-8.
    for (std::size_t at : damage::Occurrences(seed, "<CHAR>")) {
        const std::size_t text = at + 6;
        kinds[4].push_back({name("undefined entity", text), seed.substr(0, text) + "&nbsp;" + seed.substr(text)});
        kinds[4].push_back({name("no UTF-8", text), seed.substr(0, text) + "\xC3\x28" + seed.substr(text)});
    }

    // Sections and the body removed; the head's section count changed.
    for (std::size_t at : damage::Occurrences(seed, "<SECTION")) {
        const std::size_t end = seed.find("</SECTION>", at) + 10;
        kinds[5].push_back({name("section removed", at), damage::Without(seed, at, end - at)});
    }
    {
        const std::size_t at = seed.find("<BODY>");
        const std::size_t end = seed.find("</BODY>") + 7;
        kinds[5].push_back({"body removed", damage::Without(seed, at, end - at)});
        const std::size_t count = seed.find("SecCnt=\"") + 8;
        for (const char* v : {"0", "2", "4", "9", "300000"})
            kinds[5].push_back({std::string("SecCnt=") + v, seed.substr(0, count) + v + seed.substr(count + 1)});
    }

    // Elements nested past the walk's cap around a paragraph.
    for (std::size_t at : damage::Occurrences(seed, "<P ")) {
        if (kinds[6].size() >= 8)
            break;
        const std::size_t end = seed.find("</P>\n", at) + 5;
        std::string open, close;
        for (int i = 0; i <= CHwpmlDocumentManager::kMaxNesting; ++i) {
            open += "<X>";
            close += "</X>";
        }
        kinds[6].push_back({name("nested past the cap", at),
                            seed.substr(0, at) + "<P><TEXT>" + open + "<PARALIST>" + seed.substr(at, end - at) +
                                "</PARALIST>" + close + "</TEXT></P>" + seed.substr(end)});
    }

    // Cuts: first at every element's end, then spread over the document.
    std::vector<std::size_t> marks;
    for (std::size_t at : damage::Occurrences(seed, ">"))
        marks.push_back(at + 1);
    damage::AddCuts(seed, budget, kinds[7], marks);

    damage::AddInterleaved(kinds, r, out);
}

const damage::Registrar kHwpml({"hwpml", "hwp", Seed, Mutate, HwpmlThroughTheHwpSlot});

}  // namespace
