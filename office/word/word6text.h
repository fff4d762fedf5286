// The Word 6.0 / Word 95 reader: a compound file whose "WordDocument" stream
// starts with a Word 6 file information block (FIB). The text of every story
// follows one character sequence (main text, footnotes, headers, macros,
// annotations, endnotes, text boxes, header text boxes); it is stored at the
// FIB's text start or, in a fast-saved document, as pieces listed by the
// piece table. Character runs from the character-property pages mark the
// special characters (field marks, pictures, drawing anchors).
//
// Output: the first two header or footer stories longer than two characters,
// then the main text. A footnote, endnote or annotation is written right
// where its reference mark stands (a run in the built-in reference character
// style); the text of each text box or callout of a drawing object is written
// where the object's anchor character stands. Notes and text boxes never
// reached that way follow the main text. Field instructions are left out,
// their results kept. In a table, the row-end marks write nothing, nor do
// cells merged into the cell above them and cells beyond the row's count.
//
// Which documents come here is decided by IsWord6File (office/msmanagers.h),
// which asks IsWord6Ident; a Word 97 document goes to the Word 97 reader.
//
// Where the document contradicts itself (a piece table that disagrees with
// its length or the stream, stories the pieces do not hold or that end
// inside their text, tables past the stream, pages that do not hold their
// runs) the reader notes damage (plat::NoteDamage) and reads what it can.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/cfb.h"

class CTextCollector;

class CMSWord2Text {
public:
    explicit CMSWord2Text(CTextCollector* collector);
    virtual ~CMSWord2Text();
    CMSWord2Text(const CMSWord2Text&) = delete;
    CMSWord2Text& operator=(const CMSWord2Text&) = delete;

    // Reads the document into the collector; true when it could be opened
    // (even when its body could not be read).
    bool Convert(const char16_t* path);
    // The same over an open root storage.
    bool ConvertStorage(plat::CfbStorage* root);

    // True for the identifiers a Word 6/95 "WordDocument" stream starts with.
    static bool IsWord6Ident(std::uint16_t ident);

    // Character runs (exposed for tests).
    struct Run {
        std::uint32_t first = 0;  // stream positions [first, last)
        std::uint32_t last = 0;
        bool special = false;
        std::uint16_t style = 0;
        int font = -1;  // font index, -1 when the run sets none
    };
    // Interprets a one-byte property list into a run; returns false when the
    // list ended at an unknown code.
    static bool ApplyOneByteList(const unsigned char* list, int length, Run& run);

    // Paragraph runs with the flags that change the text (exposed for tests).
    // Cell flags of a row's cell descriptors.
    static constexpr std::uint16_t kCellVertMerged = 0x20;   // merged with the cell above
    static constexpr std::uint16_t kCellVertRestart = 0x40;  // first cell of a vertical merge
    static constexpr int kMaxCells = 32;
    struct Para {
        std::uint32_t first = 0;  // stream positions [first, last)
        std::uint32_t last = 0;
        bool inTable = false;
        bool rowEnd = false;
        // Table properties, made by the row-end code of a row-end paragraph.
        bool tableProps = false;
        int cellCount = 0;
        std::uint16_t cellFlags[kMaxCells] = {};
    };
    static void ApplyParagraphList(const unsigned char* list, int length, Para& para);

private:
    struct Piece {
        std::uint32_t cpFirst;
        std::uint32_t cpLast;
        std::uint32_t fc;  // stream position of the first character
        int width;         // bytes per character
    };

    // Walks the bin table whose position the FIB holds at fibOffset and every
    // page it names; entries of entryBytes bytes follow a page's positions.
    // Calls visit(page, first, last, record offset in the page or 0) per entry.
    template <class Visit>
    void WalkPropertyPages(size_t fibOffset, size_t entryBytes, Visit&& visit);

    bool Open(plat::CfbStorage* root);
    bool ReadFib();
    void ReadPieces();
    // Notes the damage of the pieces (after the runs are read).
    void CheckPieces();
    // The character (unit) at cp, 0 where no piece holds it.
    unsigned CharAt(std::uint32_t cp) const;
    void ReadCharacterRuns();
    void ReadParagraphRuns();
    const Para* ParaAt(std::uint32_t fc);
    // The row-end paragraph of the table row at cp (scanning forward in
    // text order), or null when a paragraph outside a table comes first;
    // stopCp receives where the scan stopped.
    const Para* FindRowEnd(std::uint32_t cp, std::uint32_t cpLast, std::uint32_t& stopCp);
    void ReadDrawingAnchors();
    void WriteDrawingObject(std::uint32_t cp);
    void WalkDrawingPrimitives(const unsigned char* primitives, size_t size);
    void ReadFonts();
    unsigned CodePageOfRun(const Run* run) const;
    unsigned ChooseCodePage() const;
    void ConvertBody();
    void WriteStory(int story, std::uint32_t cpFirst, std::uint32_t cpLast);
    void WriteHeaders(std::uint32_t headerStart);
    void ReadStyleSheet();
    void ReadNoteTables();
    void WriteNextNote(int kind);
    void WriteRemainingNotes(int kind);
    const Run* RunAt(std::uint32_t fc);

    // Reads from the "WordDocument" stream, which holds the tables too.
    std::uint32_t U32(size_t off) const;
    std::uint16_t U16(size_t off) const;
    // Whether [fc, fc + lcb) lies in the stream, lcb above minimum.
    bool InTables(std::uint32_t fc, std::uint32_t lcb, std::uint32_t minimum = 0) const;

    void FlushBytes();
    void Emit(const std::u16string& text);

    CTextCollector* m_pCollector;
    std::string m_doc;  // the "WordDocument" stream
    std::uint16_t m_ident = 0;
    int m_charBytes = 1;
    unsigned m_codePage = 949;
    std::int32_t m_ccp[8] = {};  // text, footnotes, headers, macros, annotations, endnotes, text boxes, header text boxes
    std::vector<Piece> m_pieces;
    std::vector<std::uint64_t> m_pages;  // stream positions of the formatted pages read
    std::vector<Run> m_runs;
    std::vector<unsigned> m_fontCodePages;  // per font: its character set's code page, 0 for the document's
    unsigned m_bytesCodePage = 949;         // code page of m_pendingBytes
    size_t m_runCursor = 0;
    std::vector<Para> m_paras;
    size_t m_paraCursor = 0;
    bool m_inFieldCode = false;
    // Notes by kind: 0 footnotes, 1 endnotes, 2 annotations; 3 holds the
    // text-box ranges, written the same way but with notes still placed.
    struct NoteTable {
        bool present = false;
        std::vector<std::uint32_t> cps;  // story-relative positions, count + 1 of them
        size_t next = 0;                 // next note to write
        int refStyle = -1;               // style index of the reference character style
        int story = 0;                   // index into m_ccp
    };
    static constexpr int kTextBoxes = 3;
    // Drawing anchors of the main text: the character position of the anchor
    // character, the stream position of its drawing object and the object's
    // text-box count; taken in order.
    struct DrawingAnchor {
        std::uint32_t cp = 0;
        std::uint32_t fc = 0;
        std::uint16_t boxes = 0;
    };
    NoteTable m_notes[4];
    std::vector<DrawingAnchor> m_anchors;
    size_t m_anchorNext = 0;
    std::uint32_t m_storyStart[9] = {};
    bool m_inNote = false;
    std::string m_pendingBytes;
    std::u16string m_output;
};
