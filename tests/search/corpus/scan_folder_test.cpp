// scan-folder over the generated personal-information documents reports the
// known counts for every format whose reader is part of this build.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "platform/text.h"
#include "search/extractors.h"
#include "support/isolation.h"

namespace {

std::map<std::string, std::string> ReadTable(const std::string& text, int nameColumn)
{
    // name -> the seven counts, tab-separated
    std::map<std::string, std::string> rows;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, '\t'))
            f.push_back(cell);
        if (f.size() < 8)
            continue;
        std::string counts;
        for (int i = 0; i < 8; ++i)
            if (i != nameColumn)
                counts += (counts.empty() ? "" : "\t") + f[i];
        rows[std::filesystem::path(f[nameColumn]).filename().string()] = counts;
    }
    return rows;
}

TEST(ScanFolderCorpus, PiiCountsAsExpected)
{
    std::string corpus = ps_test::CorpusDir();
    if (corpus.empty() || !std::filesystem::exists(corpus + "/pii/expected.tsv"))
        GTEST_SKIP() << "no corpus";
    std::string cmd = std::string(PS_BINARY_DIR) + "/bin/scan-folder '" + corpus + "/pii' 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    ASSERT_EQ(pclose(p), 0);

    // scan-folder: status, seven counts, path.
    std::map<std::string, std::string> got;
    std::map<std::string, std::string> status;
    {
        std::istringstream in(out);
        std::string line;
        while (std::getline(in, line)) {
            size_t last = line.rfind('\t');
            size_t first = line.find('\t');
            ASSERT_NE(last, std::string::npos) << line;
            std::string name = std::filesystem::path(line.substr(last + 1)).filename().string();
            got[name] = line.substr(first + 1, last - first - 1);
            status[name] = line.substr(0, first);
        }
    }
    auto expected = ReadTable(ps_test::ReadFileBytes(corpus + "/pii/expected.tsv"), 0);
    ASSERT_FALSE(expected.empty());
    int checked = 0;
    for (const auto& [name, counts] : expected) {
        std::string ext = std::filesystem::path(name).extension().string();
        if (ext.size() < 2)
            continue;  // the header row
        std::u16string upper = plat::ToUpperAscii(plat::PathFromNative(ext.substr(1)));
        if (!HasExtractorFor(upper))
            continue;
        ASSERT_TRUE(got.count(name)) << name;
        EXPECT_EQ(status[name], "0") << name;
        EXPECT_EQ(got[name], counts) << name;
        ++checked;
    }
    // Every document of the eight extensions is found, read or not.
    EXPECT_EQ(got.size(), 70u);
    if (checked == 0)
        GTEST_SKIP() << "no reader of the corpus formats is part of this build";
}

}  // namespace
