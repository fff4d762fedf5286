// Records the search engine and the matcher share with the event store and
// the windows: the found-file record and the scan-result types.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Kind of personal information; also the index into the counts and the order
// of the report columns.
enum PersonalInfoKind : int32_t {
    PersonalInfoResidentNumber = 0,
    PersonalInfoAccount = 1,
    PersonalInfoCreditCard = 2,
    PersonalInfoPhoneNumber = 3,
    PersonalInfoAddress = 4,
    PersonalInfoEMail = 5,
    PersonalInfoIPAddress = 6,
};
constexpr int kPersonalInfoKindCount = 7;

// Selection of kinds, one bit each (not in kind order).
using PersonalInfoMask = int32_t;

// Hits per kind, indexed by PersonalInfoKind.
using PersonalInfoCounts = std::array<int32_t, kPersonalInfoKindCount>;

// One accepted match: its kind and the text as found in the document.
struct PersonalInfoHit {
    PersonalInfoKind kind = PersonalInfoResidentNumber;
    std::u16string text;
};

// One found document.
struct SearchFileInfo {
    std::u16string path;         // full path
    std::u16string fileName;     // last component of path
    std::u16string folder;       // path without its last component
    std::u16string documentKey;  // 64 upper-case hexadecimal digits
    uint64_t fileSize = 0;
    uint64_t lastWriteTime = 0;  // FILETIME ticks
    int32_t fromEventStore = 0;  // 1 when the result was taken from the event store
    int64_t fileIndex = 0;       // the document's FileInfo row
};
