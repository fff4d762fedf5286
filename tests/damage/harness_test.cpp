// Every family's seed reads clean with its hits, and no mutant of it reads
// clean with fewer (see damage.h). PS_DAMAGE_MUTANTS sets how many mutants a
// family gives here (default 150); the damage-run tool runs longer.
#include <gtest/gtest.h>

#include <cstdlib>

#include "damage/damage.h"

namespace {

std::size_t Budget()
{
    const char* v = std::getenv("PS_DAMAGE_MUTANTS");
    return v && *v ? std::strtoull(v, nullptr, 10) : 150;
}

class DamageFamily : public testing::TestWithParam<std::size_t> {};

TEST_P(DamageFamily, SeedReadsCleanAndNoMutantReadsCleanWithFewerHits)
{
    const damage::Family& family = damage::Families()[GetParam()];
    const damage::RunResult r = damage::RunFamily(family, 0x5eed0000u + GetParam(), Budget());
    ASSERT_EQ(r.seed.status, ScanStatus::Done) << family.name << ": " << damage::Describe(r.seed);
    ASSERT_GE(r.seed.hits.size(), 4u) << family.name << ": the seed carries too few hits to tell";
    EXPECT_GT(r.mutants, 0u) << family.name;
    for (const damage::Failure& f : r.failures)
        ADD_FAILURE() << family.name << " mutant " << f.mutant << " reads clean with fewer hits: "
                      << damage::Describe(f.outcome) << " (seed: " << r.seed.hits.size() << " hits)";
    std::printf("[damage] %s: %zu mutants, %zu not clean, %zu clean with every hit, %zu false clean\n", family.name,
                r.mutants, r.notClean, r.cleanWhole, r.failures.size());
}

std::string FamilyName(const testing::TestParamInfo<std::size_t>& info)
{
    return damage::Families()[info.param].name;
}

std::vector<std::size_t> AllFamilies()
{
    std::vector<std::size_t> v;
    for (std::size_t i = 0; i < damage::Families().size(); ++i)
        v.push_back(i);
    return v;
}

INSTANTIATE_TEST_SUITE_P(Every, DamageFamily, testing::ValuesIn(AllFamilies()), FamilyName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DamageFamily);

// The harness itself: a mutant with fewer hits and status Done breaks the
// property, one with every hit or a status other than Done keeps it.
TEST(DamageHarness, ThePropertyTellsCleanWithFewerHitsFromTheRest)
{
    damage::Outcome seed;
    seed.hits = {{kPersonalInfoResidentNumber, u"a"}, {kPersonalInfoResidentNumber, u"a"}, {kPersonalInfoEMail, u"b"}};
    damage::Outcome fewer;
    fewer.hits = {{kPersonalInfoResidentNumber, u"a"}, {kPersonalInfoEMail, u"b"}};
    EXPECT_FALSE(damage::Holds(seed, fewer));
    fewer.status = ScanStatus::Partial;
    EXPECT_TRUE(damage::Holds(seed, fewer));
    damage::Outcome more = seed;
    more.hits.push_back({kPersonalInfoEMail, u"c"});
    EXPECT_TRUE(damage::Holds(seed, more));
}

TEST(DamageHarness, SeedLinesAreDistinctAndEachOneAHit)
{
    const auto lines = damage::SeedLines(12);
    std::u16string text;
    for (const auto& l : lines)
        text += l + u"\n";
    PersonalInfoCounts counts;
    PersonalInfoHitList hits;
    ASSERT_EQ(FindPersonalInfoInText(text, counts, kMaskAllKinds, nullptr, &hits), ScanStatus::Done);
    EXPECT_EQ(hits.size(), lines.size());
}

}  // namespace
