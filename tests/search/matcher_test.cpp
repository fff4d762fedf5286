#include "search/matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "support/pi_reference.h"

namespace {

using Hits = PersonalInfoHitList;

// The first twelve digits with the check digit that makes them valid.
std::u16string WithCheck(std::u16string twelve)
{
    int w[12] = {2, 3, 4, 5, 6, 7, 8, 9, 2, 3, 4, 5};
    int sum = 0;
    for (int i = 0; i < 12; ++i)
        sum += w[i] * (twelve[i] - u'0');
    twelve.push_back(static_cast<char16_t>(u'0' + (11 - sum % 11) % 10));
    return twelve;
}

std::string U8(const std::u16string& s) { return plat::WideToUtf8(s); }

struct Scan {
    ScanStatus status;
    PersonalInfoCounts counts{};
    Hits hits;
};

Scan ScanText(std::u16string text, PersonalInfoMask mask = kMaskWholeComputer)
{
    Scan s;
    s.status = FindPersonalInfoInText(text, s.counts, mask, nullptr, &s.hits);
    return s;
}

// Every match of one pattern along a text, as the matcher accepts them.
std::vector<std::u16string> PatternHits(int pattern, const std::u16string& text)
{
    TakenPositions taken(text.size());
    int32_t counter = 0;
    Hits hits;
    if (pattern >= kPatternAddressFirst) {
        MatchAddress(text, pattern, kProvinceCityLists[pattern - kPatternAddressFirst], taken,
                     counter, &hits, nullptr);
    } else {
        // Kind bit 0x02 records every match unchanged.
        MatchPatternByLine(text, pattern, taken, counter, kMaskCreditCard, &hits, nullptr);
    }
    std::vector<std::u16string> out;
    for (auto& h : hits)
        out.push_back(h.text);
    EXPECT_EQ(counter, out.size());
    return out;
}

TEST(ResidentNumber, CheckDigit)
{
    EXPECT_EQ(IsValidResidentNumber(WithCheck(u"800101123456")), 1);
    std::u16string bad = WithCheck(u"800101123456");
    bad.back() = bad.back() == u'9' ? u'0' : bad.back() + 1;
    EXPECT_EQ(IsValidResidentNumber(bad), 0);
    EXPECT_EQ(IsValidResidentNumber(u"80010112345"), 0);  // too short
    // Remainder 0 gives check 1, remainder 1 gives check 0.
    // 000000000011: sum = 4*1 + 5*1 = 9 -> (11-9)%10 = 2.
    EXPECT_EQ(IsValidResidentNumber(u"0000000000112"), 1);
    // 000000000000 -> sum 0 -> check (11-0)%10 = 1.
    EXPECT_EQ(IsValidResidentNumber(u"0000000000001"), 1);
    // 000000000020: sum = 8 -> 3; 000000000500: sum 5*... choose sum 1 mod 11:
    // 200000000003 -> 2*2 + 5*3 = 19 -> 19 % 11 = 8 -> 3.
    EXPECT_EQ(IsValidResidentNumber(u"2000000000033"), 1);
    // 100000000000 -> sum 2 ... 600000000000 -> 12 -> remainder 1 -> check 0.
    EXPECT_EQ(IsValidResidentNumber(u"6000000000000"), 1);
}

TEST(Patterns, SingleLineCases)
{
    const std::u16string rn = WithCheck(u"900101123456");
    struct Case {
        int pattern;
        std::u16string line;
        std::vector<std::u16string> expected;
    } cases[] = {
        // Card: groups after '-' with at most one space on either side.
        {1, u"card 9123-4567-8901-2345", {u"9123-4567-8901-2345"}},
        {1, u"card 9123 - 4567 -8901- 2345", {u"9123 - 4567 -8901- 2345"}},
        {1, u"card 9123  -4567-8901-2345", {}},
        {1, u"card ,123-4567-8901-2345", {u",123-4567-8901-2345"}},
        {1, u"x59123-4567-8901-2345x", {u"9123-4567-8901-2345"}},
        // Telephone 02 needs a separator after the prefix.
        {2, u"tel 02-123-4567", {u"02-123-4567"}},
        // No word boundary before "(" after a space: the match starts at the prefix.
        {2, u"tel (02) 1234-5678", {u"02) 1234-5678"}},
        {2, u"tel:a(02) 1234-5678", {u"(02) 1234-5678"}},
        {2, u"tel 021234-5678", {}},
        {2, u"tel 02-012-4567", {}},
        {5, u"mobile 010-1234-5678 and 010 1234 - 5678", {u"010-1234-5678", u"010 1234 - 5678"}},
        {5, u"x010-1234-5678", {}},
        // Accounts keep word boundaries; resident numbers do not need them.
        {12, u"acct 12345678-12", {u"12345678-12"}},
        {12, u"acct 912345678-12", {}},
        {12, u"acct 12345678-123", {}},
        {0, u"id 9" + rn.substr(0, 6) + u"-" + rn.substr(6) + u"9", {rn.substr(0, 6) + u"-" + rn.substr(6)}},
        {0, u"id " + rn.substr(0, 6) + u" \t- " + rn.substr(6), {}},
        {0, u"id " + rn.substr(0, 6) + u"\t-\t" + rn.substr(6), {rn.substr(0, 6) + u"\t-\t" + rn.substr(6)}},
        // IP: numbers without leading zeros; leftmost, first alternative.
        {10, u"ip 192.168.0.1", {u"192.168.0.1"}},
        {10, u"ip 10.0.0.256", {u"10.0.0.25"}},
        {10, u"ip 01.02.03.04", {}},
        // E-mail: at most one dotted local part, two or three domain labels.
        {11, u"mail a.b@c.d.e.f", {u"a.b@c.d.e"}},
        {11, u"mail a.b.c@d.e", {u"b.c@d.e"}},
        // Province sets are characters, not words.
        {67, u"광주광산구 일대", {u"광주광산구 일대"}},
        {67, u"여기는 광주역 앞 북구", {u"광주역 앞 북구"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PatternHits(c.pattern, c.line), c.expected)
            << "pattern " << c.pattern << " line " << U8(c.line);
    }
}

TEST(Matcher, DocumentCases)
{
    const std::u16string rn = WithCheck(u"800101123456");
    std::u16string badRn = rn;
    badRn.back() = badRn.back() == u'9' ? u'0' : badRn.back() + 1;
    const std::u16string front = rn.substr(0, 6), back = rn.substr(6);
    struct Case {
        const char* name;
        std::u16string text;
        PersonalInfoMask mask;
        PersonalInfoCounts counts;
        Hits hits;
    } cases[] = {
        {"valid resident number keeps its dash", u"번호: " + front + u"-" + back, 0xFFFF,
         {1, 0, 0, 0, 0, 0, 0}, {{kPersonalInfoResidentNumber, front + u"-" + back}}},
        {"wrong check digit", u"번호: " + badRn.substr(0, 6) + u"-" + badRn.substr(6), 0x01,
         {0, 0, 0, 0, 0, 0, 0}, {}},
        {"en dash and hyphen normalised", u"A " + front + u"\u2013" + back + u"\nB " + front + u"\u2010" + back,
         0x01, {2, 0, 0, 0, 0, 0, 0},
         {{kPersonalInfoResidentNumber, front + u"-" + back}, {kPersonalInfoResidentNumber, front + u"-" + back}}},
        {"line of 7 is searched", u"1.2.3.4\n", 0xFFFF, {0, 0, 0, 0, 0, 0, 1}, {{kPersonalInfoIpAddress, u"1.2.3.4"}}},
        {"line of 6 is not", u"부산 해운대\n1.2.3.\n", 0xFFFF, {}, {}},
        {"line of 7 with an address", u"부산 해운대구", 0xFFFF, {0, 0, 0, 0, 1, 0, 0},
         {{kPersonalInfoAddress, u"부산 해운대구"}}},
        {"card counted once although accounts match inside it", u"card 9430-1234-5678-9012", 0x06,
         {0, 0, 1, 0, 0, 0, 0}, {{kPersonalInfoCreditCard, u"9430-1234-5678-9012"}}},
        {"telephone takes the start an account pattern also matches", u"tel 010-1234-5678", 0x0C,
         {0, 0, 0, 1, 0, 0, 0}, {{kPersonalInfoPhoneNumber, u"010-1234-5678"}}},
        {"the account counts without the telephone group", u"tel 010-1234-5678", 0x04,
         {0, 1, 0, 0, 0, 0, 0}, {{kPersonalInfoAccount, u"010-1234-5678"}}},
        {"only telephones with mask 8", u"010-1234-5678 a@b.cc 10.0.0.1 " + front + u"-" + back, 0x08,
         {0, 0, 0, 1, 0, 0, 0}, {{kPersonalInfoPhoneNumber, u"010-1234-5678"}}},
        {"same number twice counts twice", u"tel 02-123-4567\ntel 02-123-4567", 0x08,
         {0, 0, 0, 2, 0, 0, 0}, {{kPersonalInfoPhoneNumber, u"02-123-4567"}, {kPersonalInfoPhoneNumber, u"02-123-4567"}}},
        {"resident number wrapped after its hyphen", u"번호 " + front + u"-\n" + back + u" 끝", 0x01,
         {1, 0, 0, 0, 0, 0, 0}, {{kPersonalInfoResidentNumber, front + u"-" + back}}},
        {"wrapped before its hyphen, with CR LF and blanks", u"번호 " + front + u" \r\n - " + back, 0x01,
         {1, 0, 0, 0, 0, 0, 0}, {{kPersonalInfoResidentNumber, front + u"-" + back}}},
        {"wrapped with a wrong check digit", front + u"-\n" + badRn.substr(6), 0x01, {}, {}},
        {"wrapped without a hyphen is no number", front + u"\n" + back, 0x01, {}, {}},
        {"a blank line between the parts", front + u"-\n\n" + back, 0x01, {}, {}},
        {"empty text", u"", 0xFFFF, {}, {}},
        {"NUL ends a line", std::u16string(u"abc\0tel 02-123-4567", 19), 0x08, {0, 0, 0, 1, 0, 0, 0},
         {{kPersonalInfoPhoneNumber, u"02-123-4567"}}},
        {"address window of 11", u"서울특별시 강남구 역삼동", 0xFFFF, {0, 0, 0, 0, 1, 0, 0},
         {{kPersonalInfoAddress, u"서울특별시 강남구 역"}}},
        {"city on the next line", u"주소는 여기 서울\n강남구 역삼동 123", 0x10, {0, 0, 0, 0, 1, 0, 0},
         {{kPersonalInfoAddress, u"서울 강남구 역삼동 "}}},
        {"line feed as the window's last character is left out", u"서울특별시 강남구 \n역삼동 일대", 0x10,
         {0, 0, 0, 0, 1, 0, 0}, {{kPersonalInfoAddress, u"서울특별시 강남구 "}}},
        {"경기도 광주시 counts once", u"주소: 경기도 광주시 오포읍", 0x10, {0, 0, 0, 0, 1, 0, 0},
         {{kPersonalInfoAddress, u"경기도 광주시 오포읍"}}},
        {"province without its own city", u"주소: 제주 강남구 어딘가", 0x10, {}, {}},
        {"city list searched from the window's second character", u"광주광산구 일대", 0x10,
         {0, 0, 0, 0, 1, 0, 0}, {{kPersonalInfoAddress, u"광주광산구 일대"}}},
    };
    for (auto& c : cases) {
        Scan s = ScanText(c.text, c.mask);
        EXPECT_EQ(s.status, ScanStatus::Done) << c.name;
        EXPECT_EQ(s.counts, c.counts) << c.name;
        EXPECT_EQ(ps_ref::View(s.hits), ps_ref::View(c.hits)) << c.name;
    }
}

TEST(Matcher, CancelledBeforeMatching)
{
    CancelFlag cancel{1};
    PersonalInfoCounts counts{};
    Hits hits;
    std::u16string text = u"tel 02-123-4567";
    EXPECT_EQ(FindPersonalInfoInText(text, counts, 0xFFFF, &cancel, &hits), ScanStatus::Cancelled);
    EXPECT_TRUE(hits.empty());
    EXPECT_EQ(counts, PersonalInfoCounts{});
}

TEST(Matcher, NoHitListStillCounts)
{
    std::u16string text = u"tel 02-123-4567\n서울특별시 강남구 역삼동";
    PersonalInfoCounts counts{};
    EXPECT_EQ(FindPersonalInfoInText(text, counts, 0xFFFF, nullptr, nullptr), ScanStatus::Done);
    EXPECT_EQ(counts, (PersonalInfoCounts{0, 0, 0, 1, 1, 0, 0}));
}

}  // namespace
