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
// style); notes never reached that way follow the main text, then the
// text-box texts. Field instructions are left out, their results kept.
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

    // True when the file is a compound file whose "WordDocument" stream
    // starts with one of the Word 6/95 identifiers.
    bool IsWord6File(const char16_t* path);
    // Reads the document into the collector; true when it could be opened
    // (even when its body could not be read).
    bool Convert(const char16_t* path);
    // The same over an open root storage.
    bool ConvertStorage(plat::CfbStorage* root);

    static bool IsWord6Ident(std::uint16_t ident);

    // Character runs (exposed for tests).
    struct Run {
        std::uint32_t first = 0;  // stream positions [first, last)
        std::uint32_t last = 0;
        bool special = false;
        bool object = false;
        std::uint32_t picture = 0;
        std::uint16_t style = 0;
        int font = -1;  // font index, -1 when the run sets none
    };
    // Interprets a one-byte property list into a run; returns false when the
    // list ended at an unknown code.
    static bool ApplyOneByteList(const unsigned char* list, int length, Run& run);

    // Paragraph runs with the flags that change the text (exposed for tests).
    struct Para {
        std::uint32_t first = 0;  // stream positions [first, last)
        std::uint32_t last = 0;
        bool inTable = false;
        bool rowEnd = false;
    };
    static void ApplyParagraphList(const unsigned char* list, int length, Para& para);

private:
    struct Piece {
        std::uint32_t cpFirst;
        std::uint32_t cpLast;
        std::uint32_t fc;  // stream position of the first character
    };

    bool Open(plat::CfbStorage* root);
    bool ReadFib();
    void ReadPieces();
    void ReadCharacterRuns();
    void ReadParagraphRuns();
    const Para* ParaAt(std::uint32_t fc);
    void ReadFonts();
    unsigned CodePageOfRun(const Run* run) const;
    unsigned ChooseCodePage() const;
    void ConvertBody();
    void WriteStory(std::uint32_t cpFirst, std::uint32_t cpLast);
    void WriteHeaders(std::uint32_t headerStart);
    void ReadStyleSheet();
    void ReadNoteTables();
    void WriteNextNote(int kind);
    void WriteRemainingNotes(int kind);
    const Run* RunAt(std::uint32_t fc);

    std::uint32_t U32(size_t off) const;
    std::uint16_t U16(size_t off) const;

    void FlushBytes();
    void Emit(const std::u16string& text);

    CTextCollector* m_pCollector;
    std::string m_doc;  // the "WordDocument" stream
    std::uint16_t m_ident = 0;
    int m_charBytes = 1;
    unsigned m_codePage = 949;
    std::int32_t m_ccp[8] = {};  // text, footnotes, headers, macros, annotations, endnotes, text boxes, header text boxes
    std::vector<Piece> m_pieces;
    std::vector<Run> m_runs;
    std::vector<unsigned> m_fontCodePages;  // per font: its character set's code page, 0 for the document's
    unsigned m_bytesCodePage = 949;         // code page of m_pendingBytes
    size_t m_runCursor = 0;
    std::vector<Para> m_paras;
    size_t m_paraCursor = 0;
    bool m_inFieldCode = false;
    // Notes by kind: 0 footnotes, 1 endnotes, 2 annotations.
    struct NoteTable {
        bool present = false;
        std::vector<std::uint32_t> cps;  // story-relative positions, count + 1 of them
        size_t next = 0;                 // next note to write
        int refStyle = -1;               // style index of the reference character style
        int story = 0;                   // index into m_ccp
    };
    NoteTable m_notes[3];
    std::uint32_t m_storyStart[9] = {};
    bool m_inNote = false;
    std::string m_pendingBytes;
    std::u16string m_output;
};
