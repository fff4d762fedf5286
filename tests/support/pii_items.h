// The generated documents of the shared corpus and the items each must hold,
// checked with literal patterns (independent of the matcher).
#pragma once

#include <array>
#include <string>
#include <vector>

namespace ps_test {

struct PiiExpectation {
    std::string name;            // file name inside corpus/pii
    std::array<int, 7> counts{};  // resident, account, card, phone, address, e-mail, IP
};

// The rows of corpus/pii/expected.tsv; empty when the list is absent.
std::vector<PiiExpectation> ReadPiiExpectations();

// Adds a failure for each literal kind (valid resident numbers, cards,
// phones, e-mail and IP addresses) whose count in the UTF-8 text differs
// from the expectation. Accounts and addresses have no literal pattern.
void ExpectLiteralItems(const std::string& utf8Text, const PiiExpectation& expected);

}  // namespace ps_test
