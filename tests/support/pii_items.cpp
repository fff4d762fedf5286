#include "support/pii_items.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <sstream>

#include "support/isolation.h"

namespace ps_test {

std::vector<PiiExpectation> ReadPiiExpectations()
{
    std::vector<PiiExpectation> rows;
    const std::string corpus = CorpusDir();
    if (corpus.empty())
        return rows;
    std::ifstream list(corpus + "/pii/expected.tsv");
    std::string line;
    std::getline(list, line);  // header
    while (std::getline(list, line)) {
        std::istringstream fields(line);
        PiiExpectation row;
        fields >> row.name;
        for (int& v : row.counts)
            fields >> v;
        if (!row.name.empty())
            rows.push_back(row);
    }
    return rows;
}

void ExpectLiteralItems(const std::string& s, const PiiExpectation& expected)
{
    static const std::regex email(R"([\w.-]+@[\w-]+(\.[\w-]+)+)");
    static const std::regex ip(R"(\b\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}\b)");
    static const std::regex card(R"(\b\d{4}-\d{4}-\d{4}-\d{4}\b)");
    static const std::regex phone(R"(\b0\d{1,2}-\d{3,4}-\d{4}\b)");
    static const std::regex resident(R"(\b(\d{6})-(\d{7})\b)");
    auto count = [&s](const std::regex& re) {
        return static_cast<int>(std::distance(std::sregex_iterator(s.begin(), s.end(), re), std::sregex_iterator()));
    };
    int validResidents = 0;
    for (auto it = std::sregex_iterator(s.begin(), s.end(), resident); it != std::sregex_iterator(); ++it) {
        const std::string d = (*it)[1].str() + (*it)[2].str();
        static const int weights[12] = {2, 3, 4, 5, 6, 7, 8, 9, 2, 3, 4, 5};
        int sum = 0;
        for (int i = 0; i < 12; ++i)
            sum += (d[i] - '0') * weights[i];
        if ((11 - sum % 11) % 10 == d[12] - '0')
            ++validResidents;
    }
    EXPECT_EQ(validResidents, expected.counts[0]) << "resident numbers";
    EXPECT_EQ(count(card), expected.counts[2]) << "cards";
    EXPECT_EQ(count(phone), expected.counts[3]) << "phones";
    EXPECT_EQ(count(email), expected.counts[5]) << "e-mail addresses";
    EXPECT_EQ(count(ip), expected.counts[6]) << "IP addresses";
}

}  // namespace ps_test
