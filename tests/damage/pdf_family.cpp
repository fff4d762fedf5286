// The PDF family: a document of five pages saved twice (the second save
// appends a page), its text in a composite font whose Unicode map is a
// compressed stream, pages with one content stream, with a content array of
// three, with a form drawn from the page, with a stream behind two filters.
// Mutants cut it, damage every compressed stream (bytes flipped, data cut,
// its length wrong), set every offset the cross-reference sections give
// (objects, the sections themselves, the previous section) to wrong values,
// remove every object another one names, and cut the appended save.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "damage/damage.h"
#include "platform/text.h"

namespace {

using damage::Bytes;
using damage::Mutant;

std::string Ref(int number)
{
    return std::to_string(number) + " 0 R";
}

std::string Deflate(const std::string& data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
              static_cast<uLong>(data.size()), 9);
    out.resize(size);
    return out;
}

std::string Ascii85(const std::string& data)
{
    std::string out;
    for (std::size_t i = 0; i < data.size(); i += 4) {
        const std::size_t n = std::min<std::size_t>(4, data.size() - i);
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k)
            v = (v << 8) | (k < n ? static_cast<unsigned char>(data[i + k]) : 0u);
        char c[5];
        for (int k = 4; k >= 0; --k) {
            c[k] = static_cast<char>('!' + v % 85);
            v /= 85;
        }
        out.append(c, n + 1);
        if (i % 64 == 60)
            out += '\n';
    }
    return out + "~>";
}

std::string FromAscii85(const std::string& text)
{
    std::string out;
    std::uint32_t v = 0;
    int n = 0;
    for (char c : text) {
        if (c == '~')
            break;
        if (c < '!' || c > 'u')
            continue;
        v = v * 85 + static_cast<std::uint32_t>(c - '!');
        if (++n == 5) {
            for (int k = 3; k >= 0; --k)
                out += static_cast<char>((v >> (8 * k)) & 0xFF);
            v = 0;
            n = 0;
        }
    }
    if (n > 1) {
        for (int k = n; k < 5; ++k)
            v = v * 85 + 84;
        for (int k = 3; k >= 4 - (n - 1); --k)
            out += static_cast<char>((v >> (8 * k)) & 0xFF);
    }
    return out;
}

// The text of a zlib stream when it decodes whole with its check value
// right, else nothing.
bool Inflates(const std::string& data, std::string* text)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return false;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    char buf[4096];
    int code;
    text->clear();
    do {
        z.next_out = reinterpret_cast<Bytef*>(buf);
        z.avail_out = sizeof buf;
        code = inflate(&z, Z_NO_FLUSH);
        text->append(buf, sizeof buf - z.avail_out);
    } while (code == Z_OK && text->size() < (1u << 20));
    inflateEnd(&z);
    return code == Z_STREAM_END;
}

// One object of the document: a dictionary (or any object), or a stream of
// the dictionary's entries and its encoded data.
struct Object {
    std::string body;  // without the stream's /Length
    bool stream = false;
    std::string data;
};

// What a model-level mutant changes; the document is written anew, with
// cross-reference sections that fit what was written.
struct Changes {
    std::map<int, std::string> data;    // stream data replaced
    std::map<int, std::string> length;  // /Length written as this text
    std::set<int> freed;                // object left out, its entry free
    std::set<int> absent;               // object left out, no entry at all
    std::map<int, std::string> body;    // object's body replaced
};

// Where things are in a written document, for the byte-level mutants.
struct Layout {
    std::vector<std::size_t> objectEnds;  // after each "endobj\n"
    std::vector<std::size_t> sectionMarks;  // "xref", "trailer", "startxref", after "%%EOF\n"
    struct Range {
        int object;
        std::size_t begin, end;
    };
    std::vector<Range> streams;                // encoded data of each stream
    std::vector<std::size_t> entryOffsets;     // the 10 digits of every in-use xref entry
    std::vector<std::size_t> startxrefValues;  // the digits after each "startxref\n"
    std::size_t prevValue = 0;                 // the digits of the update's /Prev
    std::vector<std::size_t> counts;           // each subsection's count, each trailer's /Size
    std::size_t firstSaveEnd = 0;              // after the first save's "%%EOF\n"
    std::size_t firstEofMarker = 0;            // at the first save's "%%EOF"
};

class SeedDocument {
public:
    SeedDocument()
    {
        const std::vector<std::u16string> lines = damage::SeedLines(24);
        for (const std::u16string& l : lines)
            for (char16_t c : l)
                if (codes_.find(c) == codes_.end()) {
                    const unsigned code = 0x0100 + static_cast<unsigned>(codes_.size()) * 3;
                    codes_[c] = code;
                }
        auto show = [&](std::size_t from, std::size_t to, int y) {
            std::string s = "BT /F1 11 Tf 60 " + std::to_string(y) + " Td 15 TL\n";
            for (std::size_t i = from; i < to; ++i)
                s += Hex(lines[i]) + " Tj T*\n";
            return s + "ET\n";
        };
        auto flate = [&](const std::string& text, const std::string& entries = std::string()) {
            Object o;
            o.stream = true;
            o.body = "/Filter /FlateDecode" + entries;
            o.data = Deflate(text);
            return o;
        };
        const std::string pageStart = "<< /Type /Page /Parent " + Ref(2) + " /MediaBox [0 0 595 842]";
        const std::string fontResources = " /Resources << /Font << /F1 " + Ref(3) + " >> >>";

        first_.resize(17);
        first_[0].body = "<< /Type /Catalog /Pages " + Ref(2) + " >>";
        first_[1].body = Pages({9, 13, 15, 17});
        first_[2].body = "<< /Type /Font /Subtype /Type0 /BaseFont /SeedGothic /Encoding /Identity-H /DescendantFonts [" +
                         Ref(4) + "] /ToUnicode " + Ref(6) + " >>";
        first_[3].body = "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /SeedGothic /CIDSystemInfo << /Registry "
                         "(Adobe) /Ordering (Identity) /Supplement 0 >> /FontDescriptor " +
                         Ref(5) + " /DW 250 /CIDToGIDMap /Identity >>";
        first_[4].body = "<< /Type /FontDescriptor /FontName /SeedGothic /Flags 4 /FontBBox [0 -200 1000 900] "
                         "/ItalicAngle 0 /Ascent 900 /Descent -200 /CapHeight 700 /StemV 80 >>";
        first_[5] = flate(ToUnicode());
        first_[6] = flate(show(12, 16, 500),
                          " /Type /XObject /Subtype /Form /BBox [0 0 595 842]" + fontResources);
        first_[7] = flate(show(0, 4, 780));
        first_[8].body = pageStart + fontResources + " /Contents " + Ref(8) + " >>";
        first_[9] = flate(show(4, 6, 780));
        first_[10] = flate(show(6, 8, 700));
        first_[11] = flate(show(8, 10, 620));
        first_[12].body = pageStart + fontResources + " /Contents [" + Ref(10) + " " + Ref(11) + " " + Ref(12) + "] >>";
        first_[13] = flate(show(10, 12, 780) + "q 1 0 0 1 0 -100 cm /Fm1 Do Q\n");
        first_[14].body = pageStart + " /Resources << /Font << /F1 " + Ref(3) + " >> /XObject << /Fm1 " + Ref(7) +
                          " >> >> /Contents " + Ref(14) + " >>";
        {
            Object o;
            o.stream = true;
            o.body = "/Filter [/ASCII85Decode /FlateDecode]";
            o.data = Ascii85(Deflate(show(16, 20, 780)));
            first_[15] = o;
        }
        first_[16].body = pageStart + fontResources + " /Contents " + Ref(16) + " >>";

        // The second save: a fifth page and the page tree that holds it.
        update_[18] = flate(show(20, 24, 780));
        update_[19].body = pageStart + fontResources + " /Contents " + Ref(18) + " >>";
        update_[2].body = Pages({9, 13, 15, 17, 19});
    }

    Bytes Write(const Changes& changes, Layout* layout) const
    {
        Layout local;
        Layout& at = layout ? *layout : local;
        at = Layout();
        std::string out = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
        std::map<int, std::size_t> offsets;
        for (std::size_t i = 0; i < first_.size(); ++i)
            WriteObject(static_cast<int>(i + 1), first_[i], changes, out, offsets, at);
        const int size1 = static_cast<int>(first_.size()) + 1;
        const std::size_t xref1 = WriteXref(out, offsets, 0, size1, changes, at);
        out += "trailer\n<< /Size ";
        at.counts.push_back(out.size());
        out += std::to_string(size1) + " /Root " + Ref(1) + " >>\n";
        WriteStartxref(out, xref1, at);
        at.firstSaveEnd = out.size();

        std::map<int, std::size_t> updated;
        for (const auto& [number, object] : update_)
            WriteObject(number, object, changes, out, updated, at);
        const int size2 = update_.rbegin()->first + 1;
        const std::size_t xref2 = WriteXref(out, updated, size1, size2, changes, at, &update_);
        out += "trailer\n<< /Size ";
        at.counts.push_back(out.size());
        out += std::to_string(size2) + " /Root " + Ref(1) + " /Prev ";
        at.prevValue = out.size();
        out += std::to_string(xref1) + " >>\n";
        WriteStartxref(out, xref2, at);
        return out;
    }

private:
    static std::string Pages(const std::vector<int>& kids)
    {
        std::string s = "<< /Type /Pages /Kids [";
        for (int k : kids)
            s += " " + Ref(k);
        return s + " ] /Count " + std::to_string(kids.size()) + " >>";
    }

    std::string Hex(const std::u16string& line) const
    {
        std::string s = "<";
        char buf[8];
        for (char16_t c : line) {
            std::snprintf(buf, sizeof buf, "%04X", codes_.at(c));
            s += buf;
        }
        return s + ">";
    }

    std::string ToUnicode() const
    {
        std::string s =
            "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
            "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
            "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
            "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
        std::vector<std::pair<unsigned, char16_t>> map;
        for (const auto& [c, code] : codes_)
            map.push_back({code, c});
        std::sort(map.begin(), map.end());
        char buf[32];
        for (std::size_t i = 0; i < map.size(); i += 100) {
            const std::size_t n = std::min<std::size_t>(100, map.size() - i);
            s += std::to_string(n) + " beginbfchar\n";
            for (std::size_t k = i; k < i + n; ++k) {
                std::snprintf(buf, sizeof buf, "<%04X> <%04X>\n", map[k].first, static_cast<unsigned>(map[k].second));
                s += buf;
            }
            s += "endbfchar\n";
        }
        return s + "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
    }

    static void WriteObject(int number, const Object& object, const Changes& changes, std::string& out,
                            std::map<int, std::size_t>& offsets, Layout& at)
    {
        if (changes.freed.count(number) || changes.absent.count(number))
            return;
        offsets[number] = out.size();
        out += std::to_string(number) + " 0 obj\n";
        const auto body = changes.body.find(number);
        if (!object.stream) {
            out += body != changes.body.end() ? body->second : object.body;
        } else {
            const auto data = changes.data.find(number);
            const std::string& bytes = data != changes.data.end() ? data->second : object.data;
            const auto length = changes.length.find(number);
            out += "<< /Length " + (length != changes.length.end() ? length->second : std::to_string(bytes.size())) +
                   " " + (body != changes.body.end() ? body->second : object.body) + " >>\nstream\n";
            at.streams.push_back({number, out.size(), out.size() + bytes.size()});
            out += bytes + "\nendstream";
        }
        out += "\nendobj\n";
        at.objectEnds.push_back(out.size());
    }

    // One section for the objects [from, to): in-use, free or absent
    // entries (an absent object splits the subsections around it).
    static std::size_t WriteXref(std::string& out, const std::map<int, std::size_t>& offsets, int from, int to,
                                 const Changes& changes, Layout& at,
                                 const std::map<int, Object>* only = nullptr)
    {
        const std::size_t xref = out.size();
        at.sectionMarks.push_back(xref);
        out += "xref\n";
        std::vector<int> numbers;
        if (!only) {
            numbers.push_back(0);
            for (int n = std::max(from, 1); n < to; ++n)
                numbers.push_back(n);
        } else {
            for (const auto& entry : *only)
                numbers.push_back(entry.first);
        }
        numbers.erase(std::remove_if(numbers.begin(), numbers.end(),
                                     [&](int n) { return changes.absent.count(n) > 0; }),
                      numbers.end());
        for (std::size_t i = 0; i < numbers.size();) {
            std::size_t j = i + 1;
            while (j < numbers.size() && numbers[j] == numbers[j - 1] + 1)
                ++j;
            out += std::to_string(numbers[i]) + " ";
            at.counts.push_back(out.size());
            out += std::to_string(j - i) + "\n";
            for (std::size_t k = i; k < j; ++k) {
                const auto it = offsets.find(numbers[k]);
                char line[32];
                if (it == offsets.end()) {
                    std::snprintf(line, sizeof line, "0000000000 %05d f \n", numbers[k] == 0 ? 65535 : 1);
                } else {
                    at.entryOffsets.push_back(out.size());
                    std::snprintf(line, sizeof line, "%010zu 00000 n \n", it->second);
                }
                out += line;
            }
            i = j;
        }
        at.sectionMarks.push_back(out.size());
        return xref;
    }

    static void WriteStartxref(std::string& out, std::size_t xref, Layout& at)
    {
        at.sectionMarks.push_back(out.size());
        out += "startxref\n";
        at.startxrefValues.push_back(out.size());
        out += std::to_string(xref) + "\n";
        if (!at.firstEofMarker)
            at.firstEofMarker = out.size();
        out += "%%EOF\n";
        at.sectionMarks.push_back(out.size());
    }

    std::map<char16_t, unsigned> codes_;
    std::vector<Object> first_;
    std::map<int, Object> update_;
};

const SeedDocument& Document()
{
    static const SeedDocument document;
    return document;
}

// The digits of a decimal number at offset.
std::size_t DigitsAt(const Bytes& bytes, std::size_t offset)
{
    std::size_t n = 0;
    while (offset + n < bytes.size() && bytes[offset + n] >= '0' && bytes[offset + n] <= '9')
        ++n;
    return n;
}

// The decimal number at offset set to 0, smaller, larger and past the end.
// Written in the field's width when it fits (leading zeros, as in the
// cross-reference entries), otherwise in its own width.
void AddNumberValues(const Bytes& bytes, std::size_t offset, const std::string& label, std::vector<Mutant>& out)
{
    const std::size_t width = DigitsAt(bytes, offset);
    if (width == 0)
        return;
    const std::uint64_t value = std::stoull(bytes.substr(offset, width));
    const std::uint64_t candidates[] = {0, value / 2, value ? value - 1 : 0, value + 1, value + 17, value * 2,
                                        bytes.size(), bytes.size() + 1000};
    std::set<std::uint64_t> seen{value};
    for (std::uint64_t v : candidates) {
        if (!seen.insert(v).second)
            continue;
        std::string digits = std::to_string(v);
        if (digits.size() < width)
            digits = (width == 10 ? std::string(width - digits.size(), '0') : std::string()) + digits +
                     (width == 10 ? std::string() : std::string(width - digits.size(), ' '));
        Bytes m = bytes.substr(0, offset) + digits + bytes.substr(offset + width);
        out.push_back({label + "=" + std::to_string(v), std::move(m)});
    }
}

// A stream whose bytes were flipped is damaged unless it still decodes whole
// with a right check value: a flip can give another sound stream (the
// check value of a short stream is weak) whose other text no reader can tell
// from the document's own. Such a mutant is another document, not a
// damaged one, and is not made.
bool AnotherSoundStream(const Bytes& seed, const Bytes& mutant, const Layout::Range& r)
{
    std::string data = mutant.substr(r.begin, r.end - r.begin);
    std::string original = seed.substr(r.begin, r.end - r.begin);
    if (r.object == 16) {
        data = FromAscii85(data);
        original = FromAscii85(original);
    }
    std::string text, seedText;
    return Inflates(data, &text) && Inflates(original, &seedText) && text != seedText;
}

void Mutate(const Bytes& seed, std::uint64_t rngSeed, std::size_t budget, std::vector<Mutant>& out)
{
    const SeedDocument& doc = Document();
    Layout at;
    const Bytes written = doc.Write({}, &at);
    if (written != seed)
        return;
    damage::Rng rng(rngSeed);
    // The kinds of mutant are taken in turn, so that a small budget still
    // holds some of each.
    std::vector<std::vector<Mutant>> kinds(6);

    // Objects another one names, removed: the font's Unicode map, the form,
    // each part of the content array, each page's content, each page, the
    // font and its descendant, the appended page tree. Left out with a free
    // entry, and left out of the cross-reference section altogether.
    for (int n : {6, 7, 10, 11, 12, 8, 14, 16, 18, 9, 13, 15, 17, 19, 3, 4, 2, 1, 5}) {
        Changes freed;
        freed.freed.insert(n);
        kinds[0].push_back({"object " + std::to_string(n) + " freed", doc.Write(freed, nullptr)});
        Changes absent;
        absent.absent.insert(n);
        kinds[0].push_back({"object " + std::to_string(n) + " absent", doc.Write(absent, nullptr)});
    }
    {
        // A content array element that names no object, a font whose Unicode
        // map names none, a page whose form names none.
        Changes c;
        c.body[13] = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 3 0 R >> >> "
                     "/Contents [10 0 R 40 0 R 12 0 R] >>";
        kinds[0].push_back({"content array names object 40", doc.Write(c, nullptr)});
    }

    // The cuts: at every object's end and every part of the sections, then
    // spread. A cut after the first save's section offset (in or after its
    // end-of-file marker) is that save itself, a whole document that never
    // held the second save's page: no cut of those bytes is made.
    std::vector<Mutant> cuts;
    std::vector<std::size_t> marks = at.objectEnds;
    marks.insert(marks.end(), at.sectionMarks.begin(), at.sectionMarks.end());
    for (std::size_t p = at.firstSaveEnd; p < seed.size(); p += 7)
        marks.push_back(p);  // through the appended save
    damage::AddCuts(seed, std::max<std::size_t>(budget / 5, 50), cuts, marks);
    for (Mutant& m : cuts)
        if (!(m.bytes.size() + 1 >= at.firstEofMarker && m.bytes.size() <= at.firstSaveEnd))
            kinds[1].push_back(std::move(m));

    // Every stream's encoded data: bytes flipped where they stay (the zlib
    // header, the middle, the check value at the end), the data cut with
    // /Length kept and with /Length fitted, and /Length set wrong.
    for (const Layout::Range& r : at.streams) {
        const std::size_t length = r.end - r.begin;
        const std::string tag = "stream " + std::to_string(r.object);
        for (std::size_t p : {std::size_t(0), std::size_t(1), std::size_t(2), length / 3, length / 2, 2 * length / 3,
                              length - 5, length - 4, length - 2, length - 1}) {
            if (p >= length)
                continue;
            for (unsigned char mask : {0x01, 0x80, 0xFF}) {
                Bytes m = seed;
                m[r.begin + p] = static_cast<char>(m[r.begin + p] ^ mask);
                if (AnotherSoundStream(seed, m, r))
                    continue;
                kinds[2].push_back({tag + " byte " + std::to_string(p) + " ^" + std::to_string(mask), std::move(m)});
            }
        }
        const std::string data = seed.substr(r.begin, length);
        for (std::size_t keep : {std::size_t(0), length / 4, length / 2, 3 * length / 4, length - 4, length - 1}) {
            Changes kept;
            kept.data[r.object] = data.substr(0, keep);
            kept.length[r.object] = std::to_string(length);
            kinds[3].push_back({tag + " cut to " + std::to_string(keep) + " length kept", doc.Write(kept, nullptr)});
            Changes fitted;
            fitted.data[r.object] = data.substr(0, keep);
            kinds[3].push_back({tag + " cut to " + std::to_string(keep), doc.Write(fitted, nullptr)});
            kinds[3].push_back({tag + " cut to " + std::to_string(keep) + " in place",
                           damage::Without(seed, r.begin + keep, length - keep)});
        }
        for (std::size_t value : {std::size_t(0), length / 2, length - 1, length + 1, length + 9, 2 * length,
                                  seed.size(), std::size_t(99999999)}) {
            Changes c;
            c.length[r.object] = std::to_string(value);
            kinds[4].push_back({tag + " /Length " + std::to_string(value), doc.Write(c, nullptr)});
        }
    }

    // Every offset the sections give (each object's, each section's, the
    // previous section's) and every count (each subsection's, /Size).
    for (std::size_t i = 0; i < at.entryOffsets.size(); ++i)
        AddNumberValues(seed, at.entryOffsets[i], "xref entry " + std::to_string(i), kinds[5]);
    for (std::size_t i = 0; i < at.startxrefValues.size(); ++i)
        AddNumberValues(seed, at.startxrefValues[i], "startxref " + std::to_string(i), kinds[5]);
    AddNumberValues(seed, at.prevValue, "/Prev", kinds[5]);
    for (std::size_t i = 0; i < at.counts.size(); ++i)
        AddNumberValues(seed, at.counts[i], "count " + std::to_string(i), kinds[5]);
    {
        // The last save's section offset pointing at the first save's section.
        const std::size_t p = at.startxrefValues.back();
        const std::size_t width = DigitsAt(seed, p);
        const std::string first = seed.substr(at.startxrefValues.front(), DigitsAt(seed, at.startxrefValues.front()));
        kinds[5].insert(kinds[5].begin(),
                        {"startxref at the first section", seed.substr(0, p) + first + seed.substr(p + width)});
    }

    // Distinct mutants only, the kinds in turn.
    std::set<Bytes> seen{seed};
    std::size_t taken = 0;
    for (std::size_t round = 0;; ++round) {
        bool any = false;
        for (std::vector<Mutant>& kind : kinds) {
            if (round >= kind.size())
                continue;
            any = true;
            if (taken < budget && seen.insert(kind[round].bytes).second) {
                out.push_back(std::move(kind[round]));
                ++taken;
            }
        }
        if (!any || taken >= budget)
            break;
    }

    // Then bytes flipped at random inside the encoded data, until the budget.
    std::size_t attempts = 0;
    while (taken < budget && attempts++ < budget * 4) {
        const Layout::Range& r = at.streams[rng.Below(at.streams.size())];
        const std::size_t p = r.begin + rng.Below(r.end - r.begin);
        Bytes m = seed;
        const unsigned char mask = static_cast<unsigned char>(1u << rng.Below(8));
        m[p] = static_cast<char>(m[p] ^ mask);
        if (AnotherSoundStream(seed, m, r) || !seen.insert(m).second)
            continue;
        out.push_back({"stream " + std::to_string(r.object) + " byte " + std::to_string(p - r.begin) + " ^" +
                           std::to_string(mask) + " (random)",
                       std::move(m)});
        ++taken;
    }
}

const damage::Registrar registrar({"pdf", "pdf", [] { return Document().Write({}, nullptr); }, Mutate});

}  // namespace
