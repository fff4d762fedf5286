// The Word 97-2003 reader: opens the compound file, its "WordDocument" stream
// and its table stream, loads the document structures (office/word/
// wordstruct.h, worddrawing.h) and walks the main text character by
// character into a text collector. Each section's headers and footers come
// out before the section's text; foot- and endnotes, and the text of text
// boxes and drawn shapes, where their anchor character stands; comments, each
// on its own line, after the main text; field codes are left out and field
// results kept; table cell and row marks become line ends.
//
//   CTextCollector collector;  collector.SetOutput(&text);
//   CMSWord802Text reader(&collector);
//   int ok = reader.Convert(path);   // 1 read, 0 failed (encrypted, damaged)
//
// The document is hostile: every walk ends when its file position leaves the
// stream, nested stories (notes, text boxes, shapes in groups) are walked at
// most kMaxNesting deep and never re-enter a shape that is being walked, and
// the whole walk reads a bounded number of characters. Where the document
// contradicts itself (a piece past its stream or over another one's text,
// stories the pieces do not hold, tables past the table stream or out of
// order, a walk ended at its cap) the reader notes damage (plat::NoteDamage)
// and reads on; a note whose reference the walk never met follows the main
// text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "extract/io/h2s_storage.h"
#include "extract/textcollector.h"
#include "office/word/worddrawing.h"
#include "office/word/wordstruct.h"
#include "platform/cfb.h"

// Bookkeeping of the tables met in the text: one level per nesting depth.
// It adds no text.
class CBaseTable {
public:
    int depth = 0;
    int rows = 0;
    std::int64_t lastParagraphEnd = -1;
};

class CTableHandler {
public:
    void Record(int depth, std::int64_t paragraphEnd, bool rowEnd);
    int Depth() const { return static_cast<int>(levels_.size()); }
    int Rows(int level) const
    {
        return level >= 0 && level < Depth() ? levels_[static_cast<std::size_t>(level)].rows : 0;
    }

private:
    std::vector<CBaseTable> levels_;
};

class CMSWord802Text {
public:
    static constexpr int kMaxNesting = 12;

    explicit CMSWord802Text(CTextCollector* collector);
    virtual ~CMSWord802Text();
    CMSWord802Text(const CMSWord802Text&) = delete;
    CMSWord802Text& operator=(const CMSWord802Text&) = delete;

    // Opens the document and walks it; the streams and the storage are
    // released before it returns. 1 when both succeeded, else 0.
    int Convert(const char16_t* path);
    // The same over a storage that is already open (a reference is taken).
    int ConvertStorage(plat::CfbStorage* storage);

    int OpenWordStorage(const char16_t* path);
    int OpenWordDocumentStream();
    int OpenTableStream(int which);

    static char16_t MapCharacter(char16_t c);

    // The loaded model, for tests and tools (null until loaded).
    const CMsWordFIB80* Fib() const { return m_pFib.get(); }
    const MsWordPieceTable* Pieces() const { return m_pPieces.get(); }
    const MsWordChpx* CharRuns() const { return m_pChpx.get(); }
    const MsWordPapx* ParaRuns() const { return m_pPapx.get(); }
    const CMsWordSepx* Sections() const { return m_pSepx.get(); }
    const CMsWordHeaderFooter* HeaderFooter() const { return m_pHeaderFooter.get(); }
    const WordDrawingData* Drawing() const { return m_pShapes.get(); }
    const CTableHandler& Tables() const { return m_tables; }

private:
    int Open();
    void Release();
    // Notes the damage of the loaded structures: blocks past the table
    // stream, stories past the pieces, pieces past the text stream.
    void CheckStructures();
    void EmitRemainingNotes();
    // Whether the character at cp is a paragraph (or cell) mark, as the last
    // character of every story is.
    bool EndsStory(std::int64_t cp) const;
    char16_t CharAt(std::int64_t cp) const;  // 0 outside the pieces

    int WalkMainText();
    void WalkRange(std::int64_t start, std::int64_t end);
    void EmitSectionHeaders(int section);
    void EmitNote(std::int32_t cp);
    // Walks note (or comment) index of the story once more and marks it done.
    void WalkNoteAt(const MsWordNotes& notes, std::vector<char>& done, int index, int story);
    static int NoteTextOffset(int story);
    // Ends the text so far with a line end unless it ends with one already.
    void StartLine();
    void EmitShapeText(std::int32_t cp);
    void EmitShape(int index, std::unordered_set<int>& visited, int depth);
    void EmitTextBoxes(std::uint32_t spid, bool pushBuffer);
    void EmitHostControlText(std::uint32_t spid) { EmitTextBoxes(spid, false); }
    void FlushPending();

    // The walk's per-character work.
    bool ReadChar(std::int64_t fc, char16_t* c);
    void Locate(std::int32_t cp, std::int64_t fc);
    void CharacterSteps(char16_t c, std::int32_t cp);
    bool FieldTakes(char16_t c);
    void BoundaryChecks(std::int32_t cp, std::int64_t fc, bool last);
    bool Nested() const { return m_bHeader || m_bNote || m_bTextBox; }
    bool Grow();
    const MsWordTextBox* TextBoxes(bool header);

    std::int64_t StoryBase(int which) const;

    plat::CfbPtr<plat::CfbStorage> m_storage;
    plat::CfbPtr<plat::CfbStream> m_wordDocument;
    plat::CfbPtr<plat::CfbStream> m_tableStream;
    WordBytes m_doc;    // "WordDocument"
    WordBytes m_table;  // "0Table" or "1Table"

    std::unique_ptr<CMsWordFIB80> m_pFib;
    std::unique_ptr<CMsWordDOP80> m_pDop;
    std::unique_ptr<CMsWordSepx> m_pSepx;
    std::unique_ptr<MsWordChpx> m_pChpx;
    std::unique_ptr<MsWordPapx> m_pPapx;
    std::unique_ptr<MsWordPieceTable> m_pPieces;
    std::unique_ptr<MsWordList> m_pLists;
    std::unique_ptr<MsWordEndNote> m_pEndNotes;
    std::unique_ptr<MsWordFootNote> m_pFootNotes;
    std::unique_ptr<MsWordComments> m_pComments;
    std::unique_ptr<CMsWordHeaderFooter> m_pHeaderFooter;
    std::unique_ptr<WordDrawingData> m_pShapes;
    std::unique_ptr<MsWordBookMark> m_pBookmarks;
    std::unique_ptr<MsWordTextBox> m_pTextBoxes[2];  // main, header; loaded on first need
    CMsWordField m_field;
    CTableHandler m_tables;

    // Walk state.
    std::vector<char16_t> m_buffer;
    int m_nPending = 0;
    bool m_bHeader = false;
    bool m_bNote = false;
    bool m_bTextBox = false;
    bool m_bFieldBody = false;
    bool m_bFieldHeader = false;
    int m_nChp = 0, m_nPap = 0, m_nSec = 0, m_nPiece = 0;
    int m_nBytesPerChar = 1;
    int m_nDepth = 0;
    bool m_bFailed = false;
    std::uint64_t m_nBudget = 0;  // characters the walk may still read
    std::vector<std::uint32_t> m_activeShapes;
    std::vector<char> m_footnotesDone, m_endnotesDone;  // per note: written at its reference

    CTextCollector* m_pCollector;
};
