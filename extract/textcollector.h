// The text collector: every reader of the extraction library writes its text
// through one of these. A reader asks for a scratch buffer (GetBuffer), writes
// a piece of text into it and commits the piece; the committed text is
// appended to the caller's output string at once. A stack of buffers lets a
// reader set the text of an enclosing paragraph aside while it emits nested
// text (table cells, text boxes, notes). The collector adds no text of its own.
//
// Every reader's text passes here, so the collector keeps the document's
// text budget (platform/docfile.h): it gives no more characters than the
// budget's text limit, and the room the output grows by is taken from the
// document's memory account first (PsTakeTextMemory: counted against the
// search's ceiling; the output lives on after the reader,
// until the document's scope ends, so what it took is given back there).
// A piece past either limit is cut where the limit falls and the rest of the
// document's text is dropped; the limit is noted for the document (read in
// part, memory reason), or as damage when the document is read outside a
// search's scope, so that a cut text never passes for the whole.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/docfile.h"

// One scratch buffer. Reserve(n) keeps the array while it holds n characters;
// otherwise it allocates a new, empty one of 2 * (n + 256) characters (the
// text of a buffer that grows is lost: readers write after reserving). The
// array is taken from the memory account given (a refusal throws
// std::bad_alloc, the limit noted for the document by the account).
class CTextBuffer {
public:
    explicit CTextBuffer(PsMemoryAccount* account = nullptr) : m_pAccount(account) {}
    ~CTextBuffer();
    CTextBuffer(const CTextBuffer&) = delete;
    CTextBuffer& operator=(const CTextBuffer&) = delete;

    char16_t* Reserve(int n);

    char16_t* Text() const { return m_pText; }
    int Capacity() const { return m_nCapacity; }
    // Characters the array really holds (2 * capacity), 0 before the first Reserve.
    int Allocated() const { return m_nCapacity * 2; }

private:
    char16_t* m_pText = nullptr;
    int m_nCapacity = 0;
    PsMemoryAccount* m_pAccount;
    unsigned long long m_nCharged = 0;  // bytes of the array taken from the account
};

class CTextCollector {
public:
    CTextCollector() = default;
    ~CTextCollector();
    CTextCollector(const CTextCollector&) = delete;
    CTextCollector& operator=(const CTextCollector&) = delete;

    // Attaches (or, with null, detaches) the caller's output string. While no
    // output is attached, committed text is dropped. The first output
    // attached is the document's: its growth is taken from the memory
    // account of the document read when it was attached (an output attached
    // for a while in between is not: its text goes on to the first).
    void SetOutput(std::u16string* output);
    std::u16string* GetOutput() const { return m_pOutput; }

    // The current scratch buffer, created empty on first need.
    CTextBuffer* GetCurrentBuffer();
    // Room for n characters in the current buffer (an array already reserved
    // for n or more is returned unchanged, with its text). A piece of more
    // than twice the document's text limit, or room the search's memory
    // cannot give, throws std::bad_alloc with the limit noted.
    char16_t* GetBuffer(int n);

    // End a piece written into the current buffer.
    // Office and RTF readers: positions start..end-1; the characters 7 and 13
    // become line feeds; the text from start up to the first zero is emitted.
    void CommitText(int start, int end);
    // The same for a piece and its suffix given whole (no zero inside):
    // both go to the output at once, without the scratch buffer.
    void CommitTextPieces(const char16_t* text, size_t length, const char16_t* suffix,
                          size_t suffixLength);
    // PDF text: count characters from start, emitted unchanged.
    void CommitRange(int start, int count);
    // HWP text in its code-unit form: tabs kept, 13 and the line break 10
    // become line feeds, the blanks 30 and 31 a space each, the hyphen 24 a
    // hyphen-minus, the other control
    // codes are dropped and the eight-unit inline and extended
    // controls are passed over as a whole.
    void CommitHwpText(int start, int end);

    // Sets the current buffer aside and starts a fresh one; 1, or 0 when no
    // buffer could be made.
    int PushBuffer();
    // Makes the most recently saved buffer current again and frees the one
    // that was current; with nothing saved the current one stays. Returns 1.
    int PopBuffer();

    // Frees the saved buffers (the current one stays) and empties the
    // attached output. Readers call it when they start on a document.
    void Reset();

    // True once a limit cut the text: everything committed since is dropped.
    bool LimitReached() const { return m_limitReached; }

private:
    void Emit(const char16_t* text, size_t length);
    // How many of n more characters the output takes: all, or fewer at a
    // limit; grows the output's room (taken from the account) for them.
    size_t Room(size_t n);
    bool GrowOutput(size_t characters);
    void ReachLimit();

    // The text budget, read when the first output is attached.
    PsMemoryAccount* m_pAccount = nullptr;
    std::u16string* m_pCharged = nullptr;  // the output whose room is taken from the account
    size_t m_nKnownCapacity = 0;           // its capacity as last seen
    unsigned long long m_nChargedBytes = 0;  // of its array, taken from the account
    size_t m_nTextLimit = 0;               // characters; 0: none
    size_t m_nGiven = 0;                   // characters given to the outputs since the last Reset
    bool m_limitReached = false;

    std::vector<CTextBuffer*> m_savedBuffers;
    CTextBuffer* m_pCurrent = nullptr;
    std::u16string* m_pOutput = nullptr;
    std::u16string m_hwpScratch;  // reused by CommitHwpText
};

// Appends one piece made of the first count characters of text (all of it
// when count is -1) followed by the whole suffix, committed with CommitText.
// A null or empty text appends nothing, not even the suffix.
void AppendTextToCollector(CTextCollector* collector, const char16_t* text, int count,
                           const char16_t* suffix);

// The same, committed with CommitHwpText (HWP code-unit text).
void AppendHwpTextToCollector(CTextCollector* collector, const char16_t* text, int count,
                              const char16_t* suffix);
