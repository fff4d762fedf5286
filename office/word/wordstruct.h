// The document structures of a Word 97-2003 file: the file information block
// (FIB), the document properties, the piece table, the character and
// paragraph runs of the formatted disk pages, the sections, the header and
// footer stories, the notes, the text boxes, the bookmarks, the lists and the
// (always empty) embedded-control table.
//
// Every structure loads once from the "WordDocument" stream or the table
// stream and treats them as hostile: each block is taken only as far as the
// stream really holds it (the counts derived from a length follow the bytes
// present), bytes past a stream's end read as zeros, and offsets inside
// pages and tables stay inside them. A load answers 1, or 0 on a failed read
// or allocation (the latter also sets library error 2). Where a structure
// contradicts itself or its stream (a block past the stream's end, a count
// its length does not hold, positions out of order) the load notes damage
// (plat::NoteDamage) and keeps what it can read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "office/word/wordsprm.h"
#include "platform/cfb.h"

// A stream's bytes held in memory. Reads past the end give zeros.
class WordBytes {
public:
    WordBytes() = default;
    explicit WordBytes(std::string bytes) : data_(std::move(bytes)) {}

    std::uint64_t size() const { return data_.size(); }
    const std::uint8_t* bytes() const { return reinterpret_cast<const std::uint8_t*>(data_.data()); }
    std::uint8_t U8(std::uint64_t at) const { return at < data_.size() ? bytes()[at] : 0; }
    std::uint16_t U16(std::uint64_t at) const { return static_cast<std::uint16_t>(U8(at) | (U8(at + 1) << 8)); }
    std::uint32_t U32(std::uint64_t at) const { return U16(at) | (static_cast<std::uint32_t>(U16(at + 2)) << 16); }
    std::int32_t I32(std::uint64_t at) const { return static_cast<std::int32_t>(U32(at)); }
    // Copies n bytes at offset into out, zeros for what lies past the end;
    // returns how many came from the stream.
    std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t n) const;
    // The bytes of [offset, offset + length) that the stream holds (a length
    // of 0 or less gives nothing).
    WordBytes Block(std::uint64_t offset, std::int64_t length) const;
    // Whether [offset, offset + length) lies in the stream (a length of 0
    // holds nothing and always fits; a negative one never does).
    bool Holds(std::uint64_t offset, std::int64_t length) const
    {
        return length == 0 || (length > 0 && offset <= data_.size() &&
                               static_cast<std::uint64_t>(length) <= data_.size() - offset);
    }

private:
    std::string data_;
};

// Reads count bytes at offset (or at the current position for offset -1)
// into buffer. 1 when the seek and the read succeeded; bytes past the
// stream's end are zeros, never the buffer's earlier contents. *got, when
// given, receives the bytes the stream delivered.
int ReadStreamAt(plat::CfbStream* stream, void* buffer, std::uint32_t count, std::int64_t offset,
                 std::uint32_t* got = nullptr);
// The whole stream into memory (bounded by its real size). 1, or 0 also when
// a read fails before the stream's end: a stream that cannot be read to its
// end is not read.
int ReadWholeStream(plat::CfbStream* stream, std::string* out);

// True when the compound file holds rights-protected content (the
// "\006DataSpaces" storage or the "\011DRMContent" stream): the document is
// encrypted there, and the streams a reader would open hold only a
// placeholder document, so the document cannot be read.
bool HoldsProtectedContent(plat::CfbStorage* root);

// ---- FIB and DOP --------------------------------------------------------------

class CMsWordFIB80 {
public:
    static constexpr std::size_t kSize = 898;
    enum : std::uint32_t {
        kFlags = 10,
        kFcMin = 24, kFcMac = 28, kCbMac = 64,
        kCcpText = 76, kCcpFtn = 80, kCcpHdd = 84, kCcpMcr = 88, kCcpAtn = 92, kCcpEdn = 96, kCcpTxbx = 100,
        kCcpHdrTxbx = 104,
        kFcPlcffndRef = 170, kLcbPlcffndRef = 174, kFcPlcffndTxt = 178, kLcbPlcffndTxt = 182,
        kFcPlcfandRef = 186, kLcbPlcfandRef = 190, kFcPlcfandTxt = 194, kLcbPlcfandTxt = 198,
        kFcPlcfSed = 202, kLcbPlcfSed = 206,
        kFcPlcfHdd = 242, kLcbPlcfHdd = 246,
        kFcPlcfBteChpx = 250, kLcbPlcfBteChpx = 254, kFcPlcfBtePapx = 258, kLcbPlcfBtePapx = 262,
        kFcSttbfBkmk = 322, kLcbSttbfBkmk = 326, kFcPlcfBkf = 330, kLcbPlcfBkf = 334,
        kFcDop = 402, kLcbDop = 406,
        kFcClx = 418, kLcbClx = 422,
        kFcPlcSpaMom = 474, kLcbPlcSpaMom = 478, kFcPlcSpaHdr = 482, kLcbPlcSpaHdr = 486,
        kFcPlcfendRef = 522, kLcbPlcfendRef = 526, kFcPlcfendTxt = 530, kLcbPlcfendTxt = 534,
        kFcDggInfo = 554, kLcbDggInfo = 558,
        kFcPlcftxbxTxt = 602, kLcbPlcftxbxTxt = 606, kFcPlcfHdrtxbxTxt = 618, kLcbPlcfHdrtxbxTxt = 622,
        kFcPlfLst = 738, kLcbPlfLst = 742, kFcPlfLfo = 746, kLcbPlfLfo = 750,
    };
    static constexpr std::uint16_t kComplex = 0x0004;  // fast-saved: pieces anywhere in the stream
    static constexpr std::uint16_t kEncrypted = 0x0100;
    static constexpr std::uint16_t kWhichTblStm = 0x0200;

    virtual ~CMsWordFIB80() = default;
    int Load(const WordBytes& wordDocument);

    std::uint16_t U16(std::uint32_t at) const { return at + 1 < kSize ? static_cast<std::uint16_t>(raw[at] | (raw[at + 1] << 8)) : 0; }
    std::int32_t I32(std::uint32_t at) const
    {
        if (at + 3 >= kSize)
            return 0;
        return static_cast<std::int32_t>(raw[at] | (raw[at + 1] << 8) | (raw[at + 2] << 16) |
                                         (static_cast<std::uint32_t>(raw[at + 3]) << 24));
    }
    std::uint32_t U32(std::uint32_t at) const { return static_cast<std::uint32_t>(I32(at)); }
    bool Encrypted() const { return (U16(kFlags) & kEncrypted) != 0; }
    int TableStreamNumber() const { return (U16(kFlags) & kWhichTblStm) ? 1 : 0; }

    std::uint8_t raw[kSize] = {};
};

class CMsWordDOP80 {
public:
    static constexpr std::size_t kSize = 500;
    virtual ~CMsWordDOP80() = default;
    int Load(const WordBytes& table, const CMsWordFIB80& fib);
    std::uint8_t raw[kSize] = {};
};

// ---- Piece table ----------------------------------------------------------------

struct WordPiece {
    std::int32_t cpStart = 0;
    std::int32_t cpEnd = 0;
    std::int64_t fcStart = 0;
    std::int64_t fcEnd = 0;
    std::uint8_t pcd[8] = {};
    std::uint8_t compressed = 0;
};

class MsWordPieceTable {
public:
    virtual ~MsWordPieceTable() = default;
    int Load(const WordBytes& table, const CMsWordFIB80& fib);

    int Count() const { return static_cast<int>(pieces_.size()); }
    const std::vector<WordPiece>& Pieces() const { return pieces_; }
    // Index of the first piece whose CP range holds cp, or Count().
    int Find(std::int32_t cp) const;
    // The FC of cp (0 when no piece holds it).
    std::int64_t FcOf(std::int32_t cp) const;
    bool Sorted() const { return sorted_; }
    // The last CP of the table (0 without pieces).
    std::int32_t LastCp() const { return pieces_.empty() ? 0 : pieces_.back().cpEnd; }

private:
    std::vector<WordPiece> pieces_;
    bool sorted_ = true;  // CP ranges ascending and disjoint: binary search finds the first
};

int GetBytesPerChar(std::int32_t cp, const MsWordPieceTable& pieces);

// Where a piece's text lies in the "WordDocument" stream: [start, end), width
// bytes a character.
struct WordTextRange {
    std::int64_t start = 0;
    std::int64_t end = 0;
    int width = 1;
};
// Notes damage where the pieces' text contradicts the stream's layout: text
// inside the FIB (the stream's first fibSize bytes) or inside a formatted
// page (512 bytes at each of pages), or a piece that runs partly into
// another one's text or reads it with another width or byte alignment.
// Pieces may share text read the same way (a piece that holds the text of
// another, or part of it): fast-saved documents do.
void CheckTextRanges(std::vector<WordTextRange> ranges, std::uint64_t fibSize, const std::vector<std::uint64_t>& pages);

// ---- Character and paragraph runs -------------------------------------------

struct WordCharRun {
    std::int64_t fcStart = 0;
    std::int64_t fcEnd = 0;
    std::uint32_t props = 0;  // index into the character records
};

class MsWordChpx {
public:
    virtual ~MsWordChpx() = default;
    // streamSize: the "WordDocument" stream's, which must hold every page.
    int LoadPageTable(const WordBytes& table, const CMsWordFIB80& fib, std::uint64_t streamSize);
    int LoadRuns(const WordBytes& wordDocument);

    int Count() const { return static_cast<int>(runs_.size()); }
    const WordCharRun& Run(int i) const { return runs_[static_cast<std::size_t>(i)]; }
    const CharProps& Props(int i) const { return props_[runs_[static_cast<std::size_t>(i)].props]; }
    int Find(std::int64_t fc) const;
    bool Sorted() const { return sorted_; }
    std::size_t PageCount() const { return pages_.size(); }
    const std::vector<std::uint64_t>& Pages() const { return pages_; }
    std::size_t RecordCount() const { return props_.size(); }

private:
    std::vector<std::uint64_t> pages_;
    std::vector<WordCharRun> runs_;
    std::vector<CharProps> props_;
    bool sorted_ = true;
};

struct WordParaRun {
    std::int64_t fcStart = 0;
    std::int64_t fcEnd = 0;
    std::uint32_t props = 0;  // index into the paragraph and table records
};

class MsWordPapx {
public:
    virtual ~MsWordPapx() = default;
    int LoadPageTable(const WordBytes& table, const CMsWordFIB80& fib, std::uint64_t streamSize);
    // storage: where the "Data" stream of huge property lists is found.
    int LoadRuns(plat::CfbStorage* storage, const WordBytes& wordDocument);

    int Count() const { return static_cast<int>(runs_.size()); }
    const WordParaRun& Run(int i) const { return runs_[static_cast<std::size_t>(i)]; }
    const ParaProps& Para(int i) const { return para_[runs_[static_cast<std::size_t>(i)].props]; }
    const TableProps& Table(int i) const { return table_[runs_[static_cast<std::size_t>(i)].props]; }
    int Find(std::int64_t fc) const;
    bool Sorted() const { return sorted_; }
    std::size_t RecordCount() const { return para_.size(); }
    const std::vector<std::uint64_t>& Pages() const { return pages_; }

private:
    std::vector<std::uint64_t> pages_;
    std::vector<WordParaRun> runs_;
    std::vector<ParaProps> para_;
    std::vector<TableProps> table_;
    bool sorted_ = true;
};

// ---- Sections and header stories --------------------------------------------

struct WordSection {
    std::int32_t cpStart = 0;
    std::int32_t cpEnd = 0;
    std::uint8_t sed[12] = {};
    SectionProps props;
};

class CMsWordSepx {
public:
    virtual ~CMsWordSepx() = default;
    int Load(const WordBytes& table, const CMsWordFIB80& fib);
    int LoadProperties(const WordBytes& wordDocument);

    int Count() const { return static_cast<int>(sections_.size()); }
    const WordSection& Section(int i) const { return sections_[static_cast<std::size_t>(i)]; }
    int Find(std::int32_t cp) const;
    bool Sorted() const { return sorted_; }

private:
    std::vector<WordSection> sections_;
    bool sorted_ = true;
};

struct WordStory {
    std::int32_t start = 0;
    std::int32_t end = 0;
    std::uint8_t present = 0;
};

class CMsWordHeaderFooter {
public:
    virtual ~CMsWordHeaderFooter() = default;
    int Load(const WordBytes& table, const CMsWordFIB80& fib);
    int GroupCount() const { return static_cast<int>(groups_.size() / 6); }
    // Story k (0..5) of group g.
    const WordStory& Story(int g, int k) const { return groups_[static_cast<std::size_t>(g) * 6 + k]; }

private:
    std::vector<WordStory> groups_;
};

// ---- Notes, text boxes, bookmarks, lists --------------------------------------

struct WordNote {
    std::int32_t refCp = 0;
    std::int32_t txtStart = 0;
    std::int32_t txtEnd = 0;
};

class MsWordNotes {
public:
    virtual ~MsWordNotes() = default;
    int Count() const { return static_cast<int>(notes_.size()); }
    const WordNote& Note(int i) const { return notes_[static_cast<std::size_t>(i)]; }
    // The first note referenced at cp, or -1.
    int FindByReference(std::int32_t cp) const;

protected:
    // storyLength: the FIB field of the notes' story length; refDataSize:
    // the bytes each reference carries after the positions.
    int LoadPlcs(const WordBytes& table, const CMsWordFIB80& fib, std::uint32_t fcRef, std::uint32_t lcbRef,
                 std::uint32_t fcTxt, std::uint32_t lcbTxt, std::uint32_t storyLength, std::uint32_t refDataSize = 2);

private:
    std::vector<WordNote> notes_;
    std::vector<std::pair<std::int32_t, int>> byRef_;  // sorted (refCp, first index)
};

class MsWordFootNote : public MsWordNotes {
public:
    int Load(const WordBytes& table, const CMsWordFIB80& fib);
};

class MsWordEndNote : public MsWordNotes {
public:
    int Load(const WordBytes& table, const CMsWordFIB80& fib);
};

// Comments: their references in the main text (each with its 30 bytes of
// author data) and their texts in the comment story, laid out as notes are.
class MsWordComments : public MsWordNotes {
public:
    int Load(const WordBytes& table, const CMsWordFIB80& fib);
};

struct WordTextBoxEntry {
    std::int32_t cpStart = 0;
    std::int32_t cpEnd = 0;
    std::uint8_t ftxbxs[22] = {};
    std::int32_t lid() const
    {
        return static_cast<std::int32_t>(ftxbxs[14] | (ftxbxs[15] << 8) | (ftxbxs[16] << 16) |
                                         (static_cast<std::uint32_t>(ftxbxs[17]) << 24));
    }
};

class MsWordTextBox {
public:
    virtual ~MsWordTextBox() = default;
    int Load(const WordBytes& table, const CMsWordFIB80& fib, bool header);
    int Count() const { return static_cast<int>(entries_.size()); }
    const WordTextBoxEntry& Entry(int i) const { return entries_[static_cast<std::size_t>(i)]; }
    // The entries whose lid is the shape id, in file order: the first, and
    // the one after entry i (-1 when there is none).
    int FindFirst(std::uint32_t lid) const;
    int FindNext(int i) const;

private:
    std::vector<WordTextBoxEntry> entries_;
    std::vector<std::pair<std::uint32_t, int>> byLid_;  // sorted by lid, then index
    std::vector<int> nextSame_;                         // next entry with the same lid
};

struct WordBookmark {
    char16_t name[260] = {};
    std::int32_t cpStart = 0;
};

class MsWordBookMark {
public:
    virtual ~MsWordBookMark() = default;
    int Load(const WordBytes& table, const CMsWordFIB80& fib);
    int Count() const { return static_cast<int>(marks_.size()); }
    const WordBookmark& Mark(int i) const { return marks_[static_cast<std::size_t>(i)]; }

private:
    std::vector<WordBookmark> marks_;
};

struct WordListLevel {
    char16_t numberText[32] = {};
    std::uint8_t lvlf[28] = {};
    ParaProps para;
};

struct WordListRecord {
    std::uint8_t lstf[28] = {};
    WordListLevel levels[9];
};

class MsWordList {
public:
    virtual ~MsWordList() = default;
    int Load(const WordBytes& table, const CMsWordFIB80& fib);
    int Count() const { return static_cast<int>(lists_.size()); }
    const WordListRecord& List(int i) const { return lists_[static_cast<std::size_t>(i)]; }
    std::size_t LfoCount() const { return lfos_.size() / 16; }

private:
    std::vector<WordListRecord> lists_;
    std::string lfos_;
};

// The embedded-control table. Nothing fills it, so every question finds no
// control and the reader keeps the text it has.
class CMsWordField {
public:
    virtual ~CMsWordField() = default;
    int HasControls() const { return count_ > 0 ? 1 : 0; }
    void FindRange(std::int64_t fc, std::int64_t* start, std::int64_t* end) const;
    int ReadControlText(plat::CfbStorage* storage, std::int64_t fc) const;

private:
    int count_ = 0;
};
