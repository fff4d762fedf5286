// Records shared by the search engine, the matcher and the search windows:
// the found-file record, the engine callbacks and the scan-result types.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// One reported document. The engine creates it and hands it to the found-file
// callback, which owns it from then on (keeps it or deletes it).
struct SearchFileInfo {
    std::u16string path;         // full path of the document
    std::u16string fileName;     // the file-name part of path
    std::u16string folder;       // the parent folder of path ("/" for a file in the root)
    std::u16string documentKey;  // empty from the engine; written by the found-file callback
    uint64_t fileSize = 0;       // bytes; never 0 in a reported record
    uint64_t lastWriteTime = 0;  // FILETIME (100 ns ticks since 1601)
    int32_t fromEventStore = 0;  // 0 from the engine
    int64_t fileIndex = 0;       // FileInfo row id; written by the analysis thread
};

// Found-file callback: receives a new record (now owned by the callee) and the
// context. Called on a walker thread; its result is ignored.
using AddFileInfoCallback = int (*)(SearchFileInfo* record, void* context);
// End-of-search callback: called at most once per search, never after a stop.
using FinishFileSearchCallback = void (*)(void* context);

// Kind of personal information; also its index in the counts and the order of
// the report columns.
enum PersonalInfoKind : int32_t {
    PersonalInfoResident = 0,
    PersonalInfoAccount = 1,
    PersonalInfoCard = 2,
    PersonalInfoPhone = 3,
    PersonalInfoAddress = 4,
    PersonalInfoEmail = 5,
    PersonalInfoIp = 6,
};
constexpr int kPersonalInfoKindCount = 7;

// Selection of kinds, one bit each (not in kind-code order).
using PersonalInfoMask = uint32_t;
constexpr PersonalInfoMask kMaskResident = 0x01;
constexpr PersonalInfoMask kMaskCard = 0x02;
constexpr PersonalInfoMask kMaskAccount = 0x04;
constexpr PersonalInfoMask kMaskPhone = 0x08;
constexpr PersonalInfoMask kMaskAddress = 0x10;
constexpr PersonalInfoMask kMaskEmail = 0x20;
constexpr PersonalInfoMask kMaskIp = 0x40;
constexpr PersonalInfoMask kMaskAllKinds = 0x7F;
constexpr PersonalInfoMask kMaskWholeComputer = 0xFFFF;

// Seven counters indexed by PersonalInfoKind; the caller clears them.
using PersonalInfoCounts = std::array<uint32_t, kPersonalInfoKindCount>;

// One accepted match: its kind and the text as found in the document (for an
// address, the window text).
struct PersonalInfoHit {
    PersonalInfoKind kind = PersonalInfoResident;
    std::u16string text;

    bool operator==(const PersonalInfoHit&) const = default;
};
using PersonalInfoHitList = std::vector<PersonalInfoHit>;
