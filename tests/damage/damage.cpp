#include "damage/damage.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

#include "platform/text.h"
#include "support/isolation.h"

namespace damage {

namespace {

std::vector<Family>& Registry()
{
    static std::vector<Family> families;
    return families;
}

}  // namespace

Registrar::Registrar(Family family)
{
    Registry().push_back(std::move(family));
}

const std::vector<Family>& Families()
{
    return Registry();
}

Outcome Scan(const Family& family, const Bytes& bytes)
{
    ps_test::TempDir dir;
    const std::string file = dir.file(std::string("doc.") + family.extension);
    {
        std::ofstream out(file, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    Outcome outcome;
    PersonalInfoCounts counts;
    ScanContext context(family.readers ? family.readers() : DefaultExtractorTable());
    outcome.status = FindPersonalInfoInFile(context, plat::Utf8ToWide(file), counts, kMaskAllKinds, nullptr,
                                            &outcome.hits);
    return outcome;
}

bool HoldsEveryHit(const PersonalInfoHitList& seed, const PersonalInfoHitList& hits)
{
    std::map<std::pair<int32_t, std::u16string>, long> need;
    for (const PersonalInfoHit& h : seed)
        need[{h.kind, h.text}] += 1;
    for (const PersonalInfoHit& h : hits) {
        auto it = need.find({h.kind, h.text});
        if (it != need.end())
            it->second -= 1;
    }
    return std::all_of(need.begin(), need.end(), [](const auto& e) { return e.second <= 0; });
}

bool Holds(const Outcome& seed, const Outcome& mutant)
{
    return mutant.status != ScanStatus::Done || HoldsEveryHit(seed.hits, mutant.hits);
}

std::string Describe(const Outcome& outcome)
{
    std::string s = "status " + std::to_string(static_cast<int>(outcome.status)) + ", " +
                    std::to_string(outcome.hits.size()) + " hits";
    for (std::size_t i = 0; i < outcome.hits.size() && i < 4; ++i)
        s += (i ? ", " : ": ") + plat::WideToUtf8(outcome.hits[i].text);
    return s;
}

void AddCuts(const Bytes& bytes, std::size_t count, std::vector<Mutant>& out, const std::vector<std::size_t>& marks)
{
    if (bytes.size() < 2 || count == 0)
        return;
    std::vector<std::size_t> at;
    for (std::size_t m : marks)
        if (m > 0 && m < bytes.size())
            at.push_back(m);
    for (std::size_t i = 0; at.size() < marks.size() + count && i < count; ++i)
        at.push_back(1 + (bytes.size() - 1) * i / count);
    std::sort(at.begin(), at.end());
    at.erase(std::unique(at.begin(), at.end()), at.end());
    for (std::size_t a : at)
        out.push_back({"cut@" + std::to_string(a), bytes.substr(0, a)});
}

void AddFieldValues(const Bytes& bytes, std::size_t offset, int width, const std::string& label,
                    std::vector<Mutant>& out)
{
    if (width != 1 && width != 2 && width != 4)
        return;
    if (offset + static_cast<std::size_t>(width) > bytes.size())
        return;
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i)
        value |= std::uint64_t(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
    const std::uint64_t max = width == 4 ? 0xFFFFFFFFull : (1ull << (8 * width)) - 1;
    const std::uint64_t candidates[] = {0, value / 2, value ? value - 1 : 0, value + 1, value * 2,
                                        bytes.size(), max};
    std::vector<std::uint64_t> seen;
    for (std::uint64_t v : candidates) {
        v &= max;
        if (v == value || std::find(seen.begin(), seen.end(), v) != seen.end())
            continue;
        seen.push_back(v);
        Bytes m = bytes;
        for (int i = 0; i < width; ++i)
            m[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
        out.push_back({label + "=" + std::to_string(v), std::move(m)});
    }
}

Bytes Without(const Bytes& bytes, std::size_t offset, std::size_t length)
{
    if (offset >= bytes.size())
        return bytes;
    Bytes m = bytes;
    m.erase(offset, length);
    return m;
}

Bytes Overwritten(const Bytes& bytes, std::size_t offset, const Bytes& with)
{
    Bytes m = bytes;
    for (std::size_t i = 0; i < with.size() && offset + i < m.size(); ++i)
        m[offset + i] = with[i];
    return m;
}

std::vector<std::u16string> SeedLines(std::size_t lines)
{
    // Resident numbers with a valid check digit, card numbers, telephone
    // numbers and e-mail addresses, in turn; each line differs from every
    // other.
    std::vector<std::u16string> out;
    for (std::size_t i = 0; i < lines; ++i) {
        char buf[96];
        switch (i % 4) {
        case 0: {
            // YYMMDD-GNNNNNC with the weights 2..9,2..5 and the check digit.
            int digits[13];
            std::snprintf(buf, sizeof buf, "8%01zu%02zu%02zu1%05zu", (i / 4) % 10, 1 + (i / 4) % 12,
                          1 + (i / 4) % 28, 10000 + i);
            for (int d = 0; d < 12; ++d)
                digits[d] = buf[d] - '0';
            static const int weights[12] = {2, 3, 4, 5, 6, 7, 8, 9, 2, 3, 4, 5};
            int sum = 0;
            for (int d = 0; d < 12; ++d)
                sum += digits[d] * weights[d];
            digits[12] = (11 - sum % 11) % 10;
            char rrn[16];
            std::snprintf(rrn, sizeof rrn, "%.6s-%.6s%d", buf, buf + 6, digits[12]);
            std::snprintf(buf, sizeof buf, "주민번호 %s", rrn);
            break;
        }
        case 1:
            std::snprintf(buf, sizeof buf, "전화 010-%04zu-%04zu", 2000 + i % 7000, 1000 + (i * 37) % 9000);
            break;
        case 2:
            std::snprintf(buf, sizeof buf, "메일 user%zu@example.co.kr", i);
            break;
        default:
            std::snprintf(buf, sizeof buf, "전화 02-%03zu-%04zu", 300 + i % 600, 1000 + (i * 53) % 9000);
            break;
        }
        out.push_back(plat::Utf8ToWide(buf));
    }
    return out;
}

RunResult RunFamily(const Family& family, std::uint64_t rng, std::size_t budget)
{
    RunResult r;
    const Bytes seed = family.seed();
    r.seed = Scan(family, seed);
    std::vector<Mutant> mutants;
    family.mutate(seed, rng, budget, mutants);
    if (mutants.size() > budget)
        mutants.resize(budget);
    for (const Mutant& m : mutants) {
        if (m.bytes == seed)
            continue;
        const Outcome o = Scan(family, m.bytes);
        r.mutants += 1;
        if (o.status != ScanStatus::Done)
            r.notClean += 1;
        else if (HoldsEveryHit(r.seed.hits, o.hits))
            r.cleanWhole += 1;
        if (!Holds(r.seed, o))
            r.failures.push_back({m.name, o});
    }
    return r;
}

}  // namespace damage
