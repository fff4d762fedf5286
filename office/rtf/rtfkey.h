// Control-word tables of the RTF reader. For each property category a table
// maps a control word to the slot of the category's property record that it
// sets, the kind of its value and its default. Lookup finds the entry of a
// word, LoadDefaults fills a record with a category's defaults and Apply
// stores a token's value into the slot of an entry.
#pragma once

#include <cstdint>
#include <vector>

struct RtfToken;

// Kinds of values.
enum RtfValueKind : int {
    kRtfDestination = 0,  // names a destination or marker; nothing stored
    kRtfText = 1,         // the bytes of the following text run
    kRtfDate = 2,         // a date and time group
    kRtfInteger = 3,      // the token's parameter
    kRtfBorder = 4,       // the slot starts a whole border record (category 1)
    kRtfFlag = 6,         // 1 when the parameter is 1, else 0
};

// Category numbers.
enum RtfCategory : int {
    kRtfCatBorder = 1,
    kRtfCatParagraph = 2,
    kRtfCatFrame = 3,
    kRtfCatTab = 4,
    kRtfCatCharacter = 6,
    kRtfCatInfo = 7,
    kRtfCatDocument = 8,
    kRtfCatSection = 10,
    kRtfCatHeaderFooter = 11,
    kRtfCatFont = 13,
    kRtfCatColor = 14,
    kRtfCatStyle = 15,
    kRtfCatTableRow = 17,
    kRtfCatPicture = 18,
    kRtfCatTableCell = 19,
    kRtfCatObject = 20,
    kRtfCatSpecial = 25,
    kRtfCatUnicode = 26,
    kRtfCatList = 27,
};

// The number of integer slots of a border record.
constexpr int kRtfBorderSlots = 30;
// The width of a text field, terminator included.
constexpr int kRtfTextWidth = 40;

struct RtfKeyEntry {
    int category;
    int field;  // first slot in the record; -1 for the text field and for entries without a slot
    int valueKind;
    const char* name;
    int defaultValue;  // text entries: the width of the text field
};

// A property record: integer slots, and one text field for the categories
// that have a text entry.
struct RtfPropRecord {
    std::vector<std::int32_t> slots;
    char text[kRtfTextWidth] = {};
};

class CRTFKey {
public:
    CRTFKey() = default;
    virtual ~CRTFKey() = default;

    // The first entry of the category whose name matches the word; null when
    // none does or the category has no table.
    const RtfKeyEntry* Lookup(int category, const char* word) const;
    // Sizes the record for the category and writes its defaults.
    void LoadDefaults(int category, RtfPropRecord& record) const;
    // Stores the token's value into the entry's slot; 1 for text, integer and
    // flag entries, 0 otherwise.
    int Apply(const RtfKeyEntry& entry, RtfPropRecord* record, const RtfToken* token) const;

    // The number of slots of a category's record.
    static int SlotCount(int category);
    // The entries of a category (empty for categories without a table).
    static const std::vector<RtfKeyEntry>& Entries(int category);
};
