// The personal-information patterns (ECMAScript regular expressions over
// UTF-16 text) and the city lists of the province patterns.
#pragma once

#include <cstdint>
#include <vector>

#include "core/records.h"

// The mask of a whole-computer search: every kind (the higher bits mean
// nothing).
constexpr PersonalInfoMask kMaskWholeComputer = 0xFFFF;

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
    {kMaskResidentNumber, kPersonalInfoResidentNumber, kPatternResident, kPatternResident},
    {kMaskCreditCard, kPersonalInfoCreditCard, kPatternCard, kPatternCard},
    {kMaskPhoneNumber, kPersonalInfoPhoneNumber, kPatternPhoneFirst, kPatternPhoneLast},
    {kMaskIpAddress, kPersonalInfoIpAddress, kPatternIp, kPatternIp},
    {kMaskEMail, kPersonalInfoEMail, kPatternEmail, kPatternEmail},
    {kMaskAccount, kPersonalInfoAccount, kPatternAccountFirst, kPatternAccountLast},
    {kMaskAddress, kPersonalInfoAddress, kPatternAddressFirst, kPatternAddressLast},
};
