// The personal-information patterns (ECMAScript regular expressions over
// UTF-16 text) and the city lists of the province patterns.
#pragma once

#include <cstdint>
#include <vector>

#include "search/records.h"

// The kind bits of a personal-information mask.
constexpr PersonalInfoMask kMaskResident = 0x01;
constexpr PersonalInfoMask kMaskCard = 0x02;
constexpr PersonalInfoMask kMaskAccount = 0x04;
constexpr PersonalInfoMask kMaskPhone = 0x08;
constexpr PersonalInfoMask kMaskAddress = 0x10;
constexpr PersonalInfoMask kMaskEmail = 0x20;
constexpr PersonalInfoMask kMaskIp = 0x40;
constexpr PersonalInfoMask kMaskAllKinds = 0x7F;
constexpr PersonalInfoMask kMaskWholeComputer = 0xFFFF;

// The hits of one document, in the order they were accepted.
using PersonalInfoHitList = std::vector<PersonalInfoHit>;

constexpr int kPersonalInfoPatternCount = 80;

// Pattern numbers of the groups, in the order the matcher runs them.
constexpr int kPatternResident = 0;
constexpr int kPatternCard = 1;
constexpr int kPatternPhoneFirst = 2, kPatternPhoneLast = 9;
constexpr int kPatternIp = 10;
constexpr int kPatternEmail = 11;
constexpr int kPatternAccountFirst = 12, kPatternAccountLast = 62;
constexpr int kPatternAddressFirst = 63, kPatternAddressLast = 79;

// The exact pattern texts, by number.
extern const char16_t* const kPersonalInfoPatterns[kPersonalInfoPatternCount];

// City, county and district names of one province pattern, searched in order.
struct ProvinceCityList {
    const char16_t* const* names;
    int count;
};
// Indexed by pattern number minus kPatternAddressFirst.
extern const ProvinceCityList kProvinceCityLists[kPatternAddressLast - kPatternAddressFirst + 1];

// One group of the matcher: its kind bit, the counter it increments and its
// pattern range (inclusive).
struct PersonalInfoGroup {
    PersonalInfoMask kindBit;
    PersonalInfoKind kind;
    int firstPattern;
    int lastPattern;
};
constexpr PersonalInfoGroup kPersonalInfoGroups[] = {
    {kMaskResident, PersonalInfoResidentNumber, kPatternResident, kPatternResident},
    {kMaskCard, PersonalInfoCreditCard, kPatternCard, kPatternCard},
    {kMaskPhone, PersonalInfoPhoneNumber, kPatternPhoneFirst, kPatternPhoneLast},
    {kMaskIp, PersonalInfoIPAddress, kPatternIp, kPatternIp},
    {kMaskEmail, PersonalInfoEMail, kPatternEmail, kPatternEmail},
    {kMaskAccount, PersonalInfoAccount, kPatternAccountFirst, kPatternAccountLast},
    {kMaskAddress, PersonalInfoAddress, kPatternAddressFirst, kPatternAddressLast},
};

// Kind bit to kind code (0x01 -> 0, 0x02 -> 2, 0x04 -> 1, 0x08 -> 3,
// 0x10 -> 4, 0x20 -> 5, 0x40 -> 6); -1 for anything else.
int KindOfKindBit(PersonalInfoMask bit);
