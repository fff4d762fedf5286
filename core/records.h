// Records the search engine shares with the matcher, the event store, the
// search window and the result views: the found-file record and the
// personal-information scan results. Header only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Code of a kind of personal information; also its index in
// PersonalInfoCounts and the order of the report columns.
enum PersonalInfoKind : int32_t {
    kPersonalInfoResidentNumber = 0,
    kPersonalInfoAccount = 1,
    kPersonalInfoCreditCard = 2,
    kPersonalInfoPhoneNumber = 3,
    kPersonalInfoAddress = 4,
    kPersonalInfoEMail = 5,
    kPersonalInfoIpAddress = 6,
};
constexpr int kPersonalInfoKindCount = 7;

// Selection of kinds, one bit each. The bits are not in kind-code order.
// 127 selects all seven; the whole-computer search passes 0xFFFF, whose
// higher bits have no meaning.
using PersonalInfoMask = uint32_t;
constexpr PersonalInfoMask kMaskResidentNumber = 0x01;
constexpr PersonalInfoMask kMaskCreditCard = 0x02;
constexpr PersonalInfoMask kMaskAccount = 0x04;
constexpr PersonalInfoMask kMaskPhoneNumber = 0x08;
constexpr PersonalInfoMask kMaskAddress = 0x10;
constexpr PersonalInfoMask kMaskEMail = 0x20;
constexpr PersonalInfoMask kMaskIpAddress = 0x40;
constexpr PersonalInfoMask kMaskAllKinds = 0x7F;

// The kind code a single mask bit stands for; -1 for anything else.
constexpr int32_t KindOfMaskBit(PersonalInfoMask bit) {
    switch (bit) {
    case kMaskResidentNumber: return kPersonalInfoResidentNumber;
    case kMaskCreditCard: return kPersonalInfoCreditCard;
    case kMaskAccount: return kPersonalInfoAccount;
    case kMaskPhoneNumber: return kPersonalInfoPhoneNumber;
    case kMaskAddress: return kPersonalInfoAddress;
    case kMaskEMail: return kPersonalInfoEMail;
    case kMaskIpAddress: return kPersonalInfoIpAddress;
    default: return -1;
    }
}

// The mask bit of a kind code; 0 for a code outside 0..6.
constexpr PersonalInfoMask MaskBitOfKind(int32_t kind) {
    switch (kind) {
    case kPersonalInfoResidentNumber: return kMaskResidentNumber;
    case kPersonalInfoAccount: return kMaskAccount;
    case kPersonalInfoCreditCard: return kMaskCreditCard;
    case kPersonalInfoPhoneNumber: return kMaskPhoneNumber;
    case kPersonalInfoAddress: return kMaskAddress;
    case kPersonalInfoEMail: return kMaskEMail;
    case kPersonalInfoIpAddress: return kMaskIpAddress;
    default: return 0;
    }
}

// Seven signed 32-bit counts indexed by PersonalInfoKind. Starts zeroed.
struct PersonalInfoCounts {
    std::array<int32_t, kPersonalInfoKindCount> count{};

    int32_t& operator[](int kind) { return count[static_cast<size_t>(kind)]; }
    int32_t operator[](int kind) const { return count[static_cast<size_t>(kind)]; }
    void Clear() { count.fill(0); }
    int64_t Total() const {
        int64_t sum = 0;
        for (int32_t c : count) sum += c;
        return sum;
    }
    friend bool operator==(const PersonalInfoCounts&, const PersonalInfoCounts&) = default;
};

// One hit of the matcher: its kind and the text as found in the document.
struct PersonalInfoHit {
    int32_t kind = kPersonalInfoResidentNumber;  // a PersonalInfoKind
    std::u16string text;

    friend bool operator==(const PersonalInfoHit&, const PersonalInfoHit&) = default;
};
using PersonalInfoHitList = std::vector<PersonalInfoHit>;

// The found-file record. The engine creates it and hands it over; from then
// on it belongs to the receiver. Paths are UTF-16 with '/' as separator and
// have no length limit.
struct SearchFileInfo {
    std::u16string path;         // full path of the document
    std::u16string fileName;     // the file-name part of path
    std::u16string folder;       // parent folder of path, no trailing separator except the root "/"
    std::u16string documentKey;  // 64 upper-case hexadecimal digits; empty until the key is computed
    uint64_t fileSize = 0;       // bytes; never 0 in a reported record
    uint64_t lastWriteTime = 0;  // FILETIME: 100 ns ticks since 1601-01-01 UTC
    uint32_t fromEventStore = 0; // 1 when the document's result was taken from the event store
    int64_t fileIndex = 0;       // the document's FileInfo row id, once known

    friend bool operator==(const SearchFileInfo&, const SearchFileInfo&) = default;
};

// Found-file callback (the engine's addFileInfoCallback): called on a walker thread with a new record that from
// then on belongs to the callback, which keeps it or lets it go. The result is ignored.
using AddFileInfoCallback = int (*)(std::unique_ptr<SearchFileInfo> record, void* context);
// End-of-search callback (finishFileSearchCallback): called at most once per search.
using FinishFileSearchCallback = void (*)(void* context);
