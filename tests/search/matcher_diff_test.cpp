// The matcher against the plain std::wregex reference: identical counts and
// hits, in order, on generated documents, random fragments and the corpus
// texts that the readers of this build can extract.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/text.h"
#include "search/extractors.h"
#include "search/matcher.h"
#include "support/isolation.h"
#include "support/pi_reference.h"
#include "support/pi_textgen.h"

namespace {

const ps_ref::ReferenceMatcher& Reference()
{
    static const ps_ref::ReferenceMatcher r;
    return r;
}

// Returns false (after reporting) at the first difference.
bool SameAsReference(const std::u16string& text, PersonalInfoMask mask, const std::string& what)
{
    PersonalInfoCounts c1{}, c2{};
    PersonalInfoHitList h1, h2;
    std::u16string copy = text;
    EXPECT_EQ(FindPersonalInfoInText(copy, c1, mask, nullptr, &h1), ScanStatus::Done);
    Reference().Scan(text, c2, mask, &h2);
    EXPECT_EQ(c1, c2) << what;
    if (ps_ref::View(h1) != ps_ref::View(h2)) {
        size_t i = 0;
        while (i < h1.size() && i < h2.size() && h1[i].kind == h2[i].kind && h1[i].text == h2[i].text)
            ++i;
        ADD_FAILURE() << what << ": hits differ at " << i << " of " << h1.size() << "/" << h2.size()
                      << (i < h1.size() ? " matcher: " + plat::WideToUtf8(h1[i].text) : "")
                      << (i < h2.size() ? " reference: " + plat::WideToUtf8(h2[i].text) : "");
        return false;
    }
    return c1 == c2;
}

TEST(MatcherDifferential, GeneratedDocuments)
{
    ps_gen::TextGenerator gen(20240611);
    size_t hits = 0;
    for (int doc = 0; doc < 150; ++doc) {
        std::u16string text = gen.Document(gen.Int(1, 40));
        PersonalInfoMask mask = doc % 3 == 0 ? 0xFFFF : static_cast<PersonalInfoMask>(gen.Int(1, 127));
        ASSERT_TRUE(SameAsReference(text, mask, "document " + std::to_string(doc)));
        PersonalInfoCounts c{};
        FindPersonalInfoInText(text, c, 0xFFFF, nullptr, nullptr);
        for (int32_t n : c.count)
            hits += n;
    }
    // The generator must really produce items of every kind.
    EXPECT_GT(hits, 1000u);
}

TEST(MatcherDifferential, RandomFragments)
{
    ps_gen::TextGenerator gen(7);
    for (int doc = 0; doc < 400; ++doc) {
        std::u16string text = gen.Noise(gen.Int(1, 120));
        ASSERT_TRUE(SameAsReference(text, 0xFFFF, "fragments " + std::to_string(doc)));
    }
}

TEST(MatcherDifferential, PerKindCountsOnGeneratedText)
{
    // Each group alone, so no earlier group hides its matches.
    ps_gen::TextGenerator gen(99);
    std::u16string text = gen.Document(200);
    for (PersonalInfoMask bit = 1; bit <= 0x40; bit <<= 1)
        ASSERT_TRUE(SameAsReference(text, bit, "mask " + std::to_string(bit)));
}

TEST(MatcherDifferential, EveryPatternAlone)
{
    // Each pattern's own match sequence, so that a line skipped wrongly by a
    // pattern's shortcut shows even where an earlier pattern would hide it.
    ps_gen::TextGenerator gen(4242);
    std::u16string text = gen.Document(1500) + gen.Noise(3000);
    int withMatches = 0;
    for (int p = 0; p < kPersonalInfoPatternCount; ++p) {
        TakenPositions taken(text.size());
        int32_t counter = 0;
        PersonalInfoHitList hits;
        // Kind bit 0x02 takes every match as it stands.
        MatchPatternByLine(text, p, taken, counter, kMaskCreditCard, &hits, nullptr);
        std::vector<std::u16string> got;
        for (auto& h : hits)
            got.push_back(h.text);
        std::vector<std::u16string> want = Reference().AllMatches(text, p);
        EXPECT_EQ(got.size(), want.size()) << "pattern " << p;
        EXPECT_TRUE(got == want) << "pattern " << p;
        withMatches += !want.empty();
    }
    // The generated text exercises nearly every pattern.
    EXPECT_GE(withMatches, 78) << withMatches;
}

TEST(MatcherDifferential, CorpusTexts)
{
    std::string corpus = ps_test::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    // The reference is slow: a bounded sample of the texts.
    int compared = 0;
    size_t chars = 0;
    for (const char* sub : {"pii", "public"}) {
        std::filesystem::path dir = std::filesystem::path(corpus) / sub;
        if (!std::filesystem::exists(dir))
            continue;
        for (auto& e : std::filesystem::recursive_directory_iterator(dir)) {
            if (!e.is_regular_file() || compared >= 200 || chars > 4000000)
                continue;
            std::u16string path = plat::PathFromNative(e.path().string());
            std::u16string ext = plat::ToUpperAscii(plat::PathFromNative(e.path().extension().string()));
            if (ext.size() > 1)
                ext.erase(0, 1);
            if (!HasExtractorFor(ext))
                continue;
            std::u16string text;
            if (ExtractDocumentText(path, ext, text) != EntryResult::Read)
                continue;
            ++compared;
            chars += text.size();
            EXPECT_TRUE(SameAsReference(text, 0xFFFF, e.path().string()));
        }
    }
    if (compared == 0)
        GTEST_SKIP() << "no reader of this build extracts a corpus document";
}

}  // namespace
