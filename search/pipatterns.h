// The personal-information patterns (ECMAScript regular expressions over
// UTF-16 text) and the city lists of the province patterns.
#pragma once

#include <cstdint>

#include "search/records.h"

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
    {kMaskResident, PersonalInfoResident, kPatternResident, kPatternResident},
    {kMaskCard, PersonalInfoCard, kPatternCard, kPatternCard},
    {kMaskPhone, PersonalInfoPhone, kPatternPhoneFirst, kPatternPhoneLast},
    {kMaskIp, PersonalInfoIp, kPatternIp, kPatternIp},
    {kMaskEmail, PersonalInfoEmail, kPatternEmail, kPatternEmail},
    {kMaskAccount, PersonalInfoAccount, kPatternAccountFirst, kPatternAccountLast},
    {kMaskAddress, PersonalInfoAddress, kPatternAddressFirst, kPatternAddressLast},
};

// Kind bit to kind code (0x01 -> 0, 0x02 -> 2, 0x04 -> 1, 0x08 -> 3,
// 0x10 -> 4, 0x20 -> 5, 0x40 -> 6); -1 for anything else.
int KindOfKindBit(PersonalInfoMask bit);
