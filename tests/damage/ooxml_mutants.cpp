#include "damage/ooxml_mutants.h"

#include <zlib.h>

#include <algorithm>
#include <unordered_set>

#include "platform/text.h"
#include "support/zip_writer.h"

namespace damage {

namespace {

uint32_t Le(const Bytes& b, std::size_t at, int width)
{
    uint32_t v = 0;
    for (int i = 0; i < width && at + i < b.size(); ++i)
        v |= uint32_t(static_cast<unsigned char>(b[at + i])) << (8 * i);
    return v;
}

// Where each entry of an archive made by ZipOoxmlParts lies.
struct EntryLayout {
    std::string name;
    std::size_t local = 0;    // local header
    std::size_t data = 0;     // compressed data
    std::size_t size = 0;     // of the compressed data
    std::size_t central = 0;  // directory entry
};

struct Layout {
    std::vector<EntryLayout> entries;
    std::size_t directory = 0;
    std::size_t end = 0;  // end record
    bool ok = false;
};

Layout Parse(const Bytes& zip)
{
    Layout l;
    const std::size_t end = zip.rfind(std::string("PK\x05\x06", 4));
    if (end == std::string::npos || end + 22 > zip.size())
        return l;
    l.end = end;
    l.directory = Le(zip, end + 16, 4);
    std::size_t at = l.directory;
    for (uint32_t i = 0, n = Le(zip, end + 10, 2); i < n; ++i) {
        if (at + 46 > zip.size() || Le(zip, at, 4) != 0x02014B50)
            return l;
        EntryLayout e;
        const uint32_t nameLength = Le(zip, at + 28, 2);
        e.name = zip.substr(at + 46, nameLength);
        e.central = at;
        e.local = Le(zip, at + 42, 4);
        e.size = Le(zip, at + 20, 4);
        e.data = e.local + 30 + Le(zip, e.local + 26, 2) + Le(zip, e.local + 28, 2);
        l.entries.push_back(e);
        at += 46 + nameLength + Le(zip, at + 30, 2) + Le(zip, at + 32, 2);
    }
    l.ok = true;
    return l;
}

std::string Inflate(const Bytes& raw)
{
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return std::string();
    std::string out;
    char buffer[16384];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    z.avail_in = static_cast<uInt>(raw.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
    }
    inflateEnd(&z);
    return out;
}

// The <Relationship .../> elements of a relationships part: (start, end).
std::vector<std::pair<std::size_t, std::size_t>> Relationships(const std::string& xml)
{
    std::vector<std::pair<std::size_t, std::size_t>> out;
    for (std::size_t at = xml.find("<Relationship "); at != std::string::npos; at = xml.find("<Relationship ", at + 1)) {
        const std::size_t end = xml.find("/>", at);
        if (end == std::string::npos)
            break;
        out.emplace_back(at, end + 2);
    }
    return out;
}

// The value of Target="..." inside [start, end) of xml: (offset, length).
std::pair<std::size_t, std::size_t> TargetValue(const std::string& xml, std::size_t start, std::size_t end)
{
    const std::size_t t = xml.find("Target=\"", start);
    if (t == std::string::npos || t >= end)
        return {std::string::npos, 0};
    const std::size_t v = t + 8;
    return {v, xml.find('"', v) - v};
}

void AddFields(const Bytes& seed, std::size_t base, std::initializer_list<std::pair<int, int>> fields,
               const std::string& label, std::vector<Mutant>& out)
{
    for (const auto& [offset, width] : fields)
        AddFieldValues(seed, base + offset, width, label + "+" + std::to_string(offset), out);
}

}  // namespace

Bytes ZipOoxmlParts(const OoxmlParts& parts)
{
    ps_test::ZipWriter zip;
    for (const auto& [name, data] : parts)
        zip.Add(name, data);
    return zip.Bytes();
}

OoxmlParts UnzipOoxmlParts(const Bytes& zip)
{
    OoxmlParts parts;
    const Layout l = Parse(zip);
    if (!l.ok)
        return parts;
    for (const EntryLayout& e : l.entries)
        parts.emplace_back(e.name, Inflate(zip.substr(e.data, e.size)));
    return parts;
}

std::string XmlText(const std::u16string& line)
{
    std::string out;
    for (char c : plat::WideToUtf8(line)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c; break;
        }
    }
    return out;
}

void AddOoxmlMutants(const Bytes& seed, std::uint64_t rng, std::size_t budget, std::vector<Mutant>& out)
{
    const Layout l = Parse(seed);
    const OoxmlParts parts = UnzipOoxmlParts(seed);
    if (!l.ok || parts.size() != l.entries.size())
        return;
    Rng random(rng);
    std::vector<std::vector<Mutant>> kinds;

    // Each part removed with its directory entry.
    std::vector<Mutant> removed;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        OoxmlParts fewer = parts;
        fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(i));
        removed.push_back({"without " + parts[i].first, ZipOoxmlParts(fewer)});
    }
    kinds.push_back(std::move(removed));

    // Relationships retargeted at a part that is not there, at the target
    // of another relationship, or removed; Overrides removed.
    std::vector<Mutant> relationships;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& xml = parts[i].second;
        if (parts[i].first.find(".rels") == std::string::npos)
            continue;
        const auto rels = Relationships(xml);
        for (std::size_t r = 0; r < rels.size(); ++r) {
            const auto [at, length] = TargetValue(xml, rels[r].first, rels[r].second);
            if (at == std::string::npos)
                continue;
            const std::string target = xml.substr(at, length);
            auto with = [&](const std::string& changed, const std::string& what) {
                OoxmlParts p = parts;
                p[i].second = changed;
                relationships.push_back({parts[i].first + " rel " + std::to_string(r) + " " + what, ZipOoxmlParts(p)});
            };
            std::string missing = xml;
            missing.replace(at, length, target + ".gone");
            with(missing, "to a missing part");
            const auto other = TargetValue(xml, rels[(r + 1) % rels.size()].first, rels[(r + 1) % rels.size()].second);
            if (other.first != std::string::npos && xml.compare(other.first, other.second, target) != 0) {
                std::string swapped = xml;
                swapped.replace(at, length, xml.substr(other.first, other.second));
                with(swapped, "to another part");
            }
            with(xml.substr(0, rels[r].first) + xml.substr(rels[r].second), "removed");
        }
    }
    // Each Override of the content types removed: its part is typed by its
    // extension alone.
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].first != "[Content_Types].xml")
            continue;
        const std::string& xml = parts[i].second;
        for (std::size_t at = xml.find("<Override "); at != std::string::npos; at = xml.find("<Override ", at + 1)) {
            const std::size_t end = xml.find("/>", at);
            if (end == std::string::npos)
                break;
            OoxmlParts p = parts;
            p[i].second = xml.substr(0, at) + xml.substr(end + 2);
            relationships.push_back({"override@" + std::to_string(at) + " removed", ZipOoxmlParts(p)});
        }
    }
    kinds.push_back(std::move(relationships));

    // Check values changed.
    std::vector<Mutant> checks;
    for (const EntryLayout& e : l.entries) {
        for (int where = 1; where <= 3; ++where) {
            Bytes m = seed;
            if (where & 1)
                m[e.local + 14] = static_cast<char>(m[e.local + 14] ^ 1);
            if (where & 2)
                m[e.central + 16] = static_cast<char>(m[e.central + 16] ^ 1);
            checks.push_back({e.name + " crc " + (where == 1 ? "local" : where == 2 ? "central" : "both"), m});
        }
    }
    kinds.push_back(std::move(checks));

    // Compressed bytes damaged.
    std::vector<Mutant> compressed;
    for (const EntryLayout& e : l.entries) {
        if (e.size == 0)
            continue;
        for (std::size_t at : {e.data, e.data + e.size / 2, e.data + e.size - 1}) {
            for (unsigned char x : {0x55, 0xFF}) {
                Bytes m = seed;
                m[at] = static_cast<char>(x == 0xFF ? 0xFF : (m[at] ^ x));
                if (m != seed)
                    compressed.push_back({e.name + " data byte " + std::to_string(at - e.data) + " ^" + std::to_string(x), m});
            }
        }
    }
    kinds.push_back(std::move(compressed));

    // The XML of each part cut, zipped again.
    std::vector<Mutant> xmlCuts;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& xml = parts[i].second;
        std::vector<std::size_t> at;
        const std::size_t lastTag = xml.rfind('<');
        if (lastTag != std::string::npos && lastTag > 0)
            at.push_back(lastTag);
        for (std::size_t k = 1; k < 8; ++k)
            at.push_back(xml.size() * k / 8);
        at.push_back(1 + random.Below(xml.size() - 1));
        std::sort(at.begin(), at.end());
        at.erase(std::unique(at.begin(), at.end()), at.end());
        for (std::size_t a : at) {
            OoxmlParts p = parts;
            p[i].second = xml.substr(0, a);
            xmlCuts.push_back({parts[i].first + " xml cut@" + std::to_string(a), ZipOoxmlParts(p)});
        }
    }
    kinds.push_back(std::move(xmlCuts));

    // Fields of the local headers, the directory entries and the end record.
    std::vector<Mutant> fields;
    AddFields(seed, l.end, {{4, 2}, {6, 2}, {8, 2}, {10, 2}, {12, 4}, {16, 4}, {20, 2}}, "end", fields);
    for (const EntryLayout& e : l.entries) {
        AddFields(seed, e.local, {{6, 2}, {8, 2}, {18, 4}, {22, 4}, {26, 2}, {28, 2}}, e.name + " local", fields);
        AddFields(seed, e.central, {{8, 2}, {10, 2}, {20, 4}, {24, 4}, {28, 2}, {30, 2}, {32, 2}, {34, 2}, {42, 4}},
                  e.name + " central", fields);
    }
    kinds.push_back(std::move(fields));

    // Cuts of the archive, first at the ends of its structures.
    std::vector<std::size_t> marks;
    for (const EntryLayout& e : l.entries) {
        marks.push_back(e.local);
        marks.push_back(e.data);
        marks.push_back(e.data + e.size);
        marks.push_back(e.central);
    }
    marks.push_back(l.directory);
    marks.push_back(l.end);
    marks.push_back(seed.size() - 1);
    std::vector<Mutant> cuts;
    AddCuts(seed, std::max<std::size_t>(budget / 4, 64), cuts, marks);
    kinds.push_back(std::move(cuts));

    // Each kind in an order of its own (a small budget still reaches every
    // part of the archive), then the kinds in turn: any budget gets some of
    // each.
    for (auto& kind : kinds) {
        for (std::size_t i = kind.size(); i > 1; --i)
            std::swap(kind[i - 1], kind[random.Below(i)]);
    }
    // A mutant that another kind already made (or the seed itself) is
    // given once.
    std::unordered_set<std::string> seen{seed};
    for (std::size_t round = 0, left = 1; left > 0 && out.size() < budget; ++round) {
        left = 0;
        for (auto& kind : kinds) {
            if (round >= kind.size())
                continue;
            ++left;
            if (seen.insert(kind[round].bytes).second && out.size() < budget)
                out.push_back(std::move(kind[round]));
        }
    }
}

}  // namespace damage
