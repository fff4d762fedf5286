// The HWP readers over the shared corpus: every HWP 5 document is read
// (documents with a password or saved for distribution are not read), every
// HWP 3.0 document gives Hangul text, every HWPML document gives the same
// words as its HWP 5 twin where the corpus holds one, and the generated HWP 5
// and HWP 3.0 documents with known personal information give their counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <array>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/records.h"
#include "extract/extractlib.h"
#include "platform/text.h"
#include "search/scan.h"
#include "search/pipatterns.h"
#include "support/isolation.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Files(const std::string& folder)
{
    std::vector<fs::path> out;
    const std::string corpus = ps_test::CorpusDir();
    std::error_code ec;
    if (corpus.empty())
        return out;
    for (const auto& e : fs::directory_iterator(corpus + "/public/" + folder, ec))
        if (e.is_regular_file())
            out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

struct Result {
    int status;
    std::u16string text;
};

Result Convert(const fs::path& p, const char16_t* options)
{
    Result r;
    r.status = static_cast<int>(ConvertHwpToText(plat::PathFromNative(p.string()).c_str(), options, &r.text));
    return r;
}

bool HasHangul(const std::u16string& s)
{
    return std::any_of(s.begin(), s.end(), [](char16_t c) { return c >= 0xAC00 && c <= 0xD7A3; });
}

// Properties of "FileHeader" (offset 36), read without the library.
std::uint32_t Hwp5Properties(const fs::path& p)
{
    const std::string bytes = ps_test::ReadFileBytes(p.string());
    // The header's stream is small and sits in the mini stream: find the
    // signature in the file instead of walking the compound file.
    const std::string sig = std::string("HWP Document File") + std::string(15, '\0');
    const size_t at = bytes.find(sig);
    if (at == std::string::npos || at + 40 > bytes.size())
        return 0;
    return std::uint32_t(std::uint8_t(bytes[at + 36])) | (std::uint32_t(std::uint8_t(bytes[at + 37])) << 8);
}

std::vector<std::u16string> Words(const std::u16string& text)
{
    std::vector<std::u16string> words;
    std::u16string w;
    for (char16_t c : text + u" ") {
        if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r') {
            if (!w.empty())
                words.push_back(w);
            w.clear();
        } else {
            w.push_back(c);
        }
    }
    std::sort(words.begin(), words.end());
    return words;
}

// The part of a corpus file name after its hash prefix, without extension.
std::string Stem(const fs::path& p)
{
    std::string s = p.stem().string();
    const size_t us = s.find('_');
    return us == std::string::npos ? s : s.substr(us + 1);
}

}  // namespace

TEST(HwpCorpus, EveryHwp5DocumentIsRead)
{
    const auto files = Files("hwp");
    if (files.empty())
        GTEST_SKIP() << "corpus absent";
    int read = 0, withHangul = 0;
    for (const auto& f : files) {
        const Result r = Convert(f, nullptr);
        if (Hwp5Properties(f) & 6u) {
            // A password, or saved for distribution (the body encrypted in
            // another storage): the records cannot be read.
            EXPECT_EQ(r.status, 1) << f;
            EXPECT_EQ(r.text, u"") << f;
            continue;
        }
        EXPECT_EQ(r.status, 0) << f;
        read += r.status == 0;
        withHangul += HasHangul(r.text);
    }
    EXPECT_GT(withHangul, static_cast<int>(files.size()) / 3);
    std::printf("HWP 5 documents read: %d of %zu, %d with Hangul text\n", read, files.size(), withHangul);
}

TEST(HwpCorpus, EveryHwp3DocumentGivesHangul)
{
    const auto files = Files("hwp3");
    if (files.empty())
        GTEST_SKIP() << "corpus absent";
    for (const auto& f : files) {
        const Result r = Convert(f, nullptr);
        EXPECT_EQ(r.status, 0) << f;
        EXPECT_TRUE(HasHangul(r.text)) << f;
    }
}

TEST(HwpCorpus, HwpmlGivesTheWordsOfItsHwp5Twin)
{
    const auto files = Files("hml");
    if (files.empty())
        GTEST_SKIP() << "corpus absent";
    std::multimap<std::string, fs::path> hwp5;
    for (const auto& f : Files("hwp"))
        hwp5.emplace(Stem(f), f);
    int twins = 0;
    for (const auto& f : files) {
        const Result r = Convert(f, u"xml:true");
        EXPECT_EQ(r.status, 0) << f;
        auto [lo, hi] = hwp5.equal_range(Stem(f));
        if (lo == hi)
            continue;
        bool same = false;
        for (auto it = lo; it != hi && !same; ++it)
            same = Words(Convert(it->second, nullptr).text) == Words(r.text);
        EXPECT_TRUE(same) << f << " differs from every HWP 5 document named " << Stem(f);
        ++twins;
    }
    EXPECT_GE(twins, 4);
}

TEST(HwpCorpus, GeneratedPersonalInformationDocumentsGiveTheirCounts)
{
    // expected.tsv: file, then the seven counts in kind order. The lines
    // stand in body paragraphs, cells, headers, footers and text boxes
    // (layout.tsv), written by another writer than the word processor.
    const std::string corpus = ps_test::CorpusDir();
    const std::string folder = corpus + "/pii_hwp";
    if (corpus.empty() || !fs::exists(folder + "/expected.tsv"))
        GTEST_SKIP() << "corpus absent";
    std::istringstream table(ps_test::ReadFileBytes(folder + "/expected.tsv"));
    std::string line;
    std::getline(table, line);  // header
    int hwp5 = 0, hwp3 = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string name;
        std::array<int, 7> expected{};
        fields >> name;
        for (int& n : expected)
            fields >> n;
        SCOPED_TRACE(name);
        PersonalInfoCounts counts{};
        const ScanStatus status = FindPersonalInfoInFile(plat::PathFromNative(folder + "/" + name), counts,
                                                  kMaskWholeComputer, nullptr, nullptr);
        EXPECT_EQ(status, ScanStatus::Done);
        for (int k = 0; k < 7; ++k)
            EXPECT_EQ(counts[k], expected[static_cast<size_t>(k)]) << "kind " << k;
        hwp5 += name.find("_hw.") != std::string::npos;
        hwp3 += name.find("_h3.") != std::string::npos;
    }
    EXPECT_GT(hwp5, 0);
    EXPECT_GT(hwp3, 0);
}
