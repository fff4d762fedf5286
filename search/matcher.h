// The personal-information matcher: a document's text, line by line, against
// the patterns of the kinds a mask selects. It knows no files: reading a
// document and listing what could not be read is search/scan.h's.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "search/pipatterns.h"
#include "core/records.h"

// Cancel flag shared with the search window: 1 asks the matcher to stop.
using CancelFlag = std::atomic<int32_t>;

// Text positions (character index of an accepted match's first character)
// already taken by an earlier accepted match of any kind. One per document.
class TakenPositions {
public:
    explicit TakenPositions(size_t textLength) : m_size(textLength), m_bits((textLength + 63) / 64, 0) {}
    bool IsTaken(size_t pos) const
    {
        return pos < m_size && ((m_bits[pos / 64] >> (pos % 64)) & 1) != 0;
    }
    void Take(size_t pos)
    {
        if (pos < m_size)
            m_bits[pos / 64] |= uint64_t{1} << (pos % 64);
    }

private:
    size_t m_size;
    std::vector<uint64_t> m_bits;
};

// Status of a document's scan (FindPersonalInfoInFile, search/scan.h). Every
// document not read to its end (NoText, Failed and Partial) goes to the
// day's error-file list with its reason. The numbers are the ones the search
// log and the tools print.
enum class ScanStatus : int {
    Done = 0,       // read to the end and scanned, or no text at all
    NoText = 1,     // the reader could not read the document, no text
    Failed = 2,     // the reader failed, no text
    Cancelled = 3,  // the cancel flag was set at one of the checks
    Partial = 4,    // the reader failed after giving part of the text:
                    // that part was scanned (counts and hits are its own)
};

// True for the statuses of a document not read to its end.
inline bool ScanLeftDocumentUnread(ScanStatus status)
{
    return status == ScanStatus::NoText || status == ScanStatus::Failed || status == ScanStatus::Partial;
}

// Matches a text already extracted: normalises the two dashes in place and
// runs the groups of the mask, appending hits (when hits is given) and
// counts. Done, or Cancelled.
ScanStatus FindPersonalInfoInText(std::u16string& text, PersonalInfoCounts& counts,
                           PersonalInfoMask mask, const CancelFlag* cancel,
                           PersonalInfoHitList* hits);

// Runs one pattern over the whole text, line by line.
void MatchPatternByLine(std::u16string_view text, int pattern, TakenPositions& taken,
                        int32_t& counter, PersonalInfoMask kindBit,
                        PersonalInfoHitList* hits, const CancelFlag* cancel);

// Runs one province pattern over the whole text; a match counts when a name
// of its city list stands in the window that starts at it.
void MatchAddress(std::u16string_view text, int pattern, const ProvinceCityList& cities,
                  TakenPositions& taken, int32_t& counter, PersonalInfoHitList* hits,
                  const CancelFlag* cancel);

// Validates and records one match: 1 accepted, 0 rejected.
int AddPersonalInfoHit(PersonalInfoHitList* hits, std::u16string_view text, size_t start,
                       size_t length, PersonalInfoMask kindBit);

// 1 when the text is 13 digits whose last one is the right check digit.
int IsValidResidentNumber(std::u16string_view text);

// Compiles the patterns now rather than at the first document (the program
// does this at start). Safe to call from several threads.
void PreparePersonalInfoPatterns();
