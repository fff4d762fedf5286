// The RTF reader: loads an RTF file whole, rewrites it into a simpler form
// (control characters out, escaped braces and backslashes as hexadecimal
// escapes, ignorable destinations replaced by empty groups), tokenizes the
// result, reads the preamble (font, colour and style tables) and then the
// body, and appends the body's text to the collector. The text of comments
// ("annotation" groups) follows the main text, each comment starting a line
// of its own; their authors, ids and dates are no text.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "office/rtf/rtfkey.h"
#include "office/rtf/rtfstatus.h"

class CTextCollector;

// The largest file read whole; a longer file is read up to this size.
constexpr std::int64_t kRtfMaxFileBytes = 256ll * 1024 * 1024;
// The deepest group nesting followed in the preamble and body readers.
constexpr int kRtfMaxDepth = 4096;

// The document information group ("info"); never emitted.
struct RtfDocumentInfo {
    std::u16string title, subject, author, manager, company, operatorName, category, keywords, comment,
        doccomm, hlinkbase;
};

class CRtfTextConvert {
public:
    CRtfTextConvert(CTextCollector* collector, int value);
    virtual ~CRtfTextConvert();
    CRtfTextConvert(const CRtfTextConvert&) = delete;
    CRtfTextConvert& operator=(const CRtfTextConvert&) = delete;

    // Resets the collector, loads the file and, when that worked, reads it.
    // Always 1; LastLoadSucceeded tells whether the file could be read.
    int Convert(const char16_t* path);
    bool LastLoadSucceeded() const { return m_loaded; }

    // Reads an RTF document held in memory (the same steps as Convert after
    // the load); the collector is not reset.
    void ConvertBuffer(const unsigned char* data, size_t size);

    // Reads the file (at most kRtfMaxFileBytes); 1 when it was read.
    static int LoadRtfFile(const char16_t* path, std::vector<unsigned char>& out);
    // The rewrite, from input into a separate output (terminated with four
    // zero bytes that do not count in the returned length).
    static void RewriteRtf(const unsigned char* input, size_t size, std::vector<unsigned char>& output);

    const RtfDocumentInfo& Info() const { return m_info; }

private:
    void ParsePreamble();
    void ParseBody();

    // Text output: bytes wait in m_pendingBytes so that a double-byte pair
    // cut by a rewrite boundary still converts as one character.
    void AppendBytes(const unsigned char* bytes, int count);
    void AppendWide(const char16_t* text, size_t count);
    void FlushBytes();
    void FlushOutput();
    // Converts every byte waiting and hands the text on (FlushOutput may
    // keep the lead byte of a long run for the next piece).
    void FlushAll();

    // A comment's text is set aside while it is read (the group opened at
    // the current depth), and the comments follow the main text: written
    // where its anchor stands, a comment would split the line it remarks on.
    void BeginComment();
    void EndComment();
    void AppendComments();

    // Steps over the rest of the current group (the closing brace stays).
    void SkipGroupRest();
    // True when a control word or symbol follows the position.
    bool MarkupFollows() const;
    // Marks the damage when text (not blanks) comes after the document's end.
    void NoteTextPastEnd(bool text);
    void ReadInfoGroup();
    void PushRecords();
    void PopRecords();

    // Reads the font table's numbers, character sets and code pages (the
    // "fonttbl" word has been consumed; the closing brace stays).
    void ReadFontTable();
    // The code page of a font's text: its own, or the document's.
    unsigned FontCodePage(int font) const;
    unsigned DocumentCodePage() const;

    int m_value;
    CRTFStatus m_status;
    RtfToken m_token;
    unsigned m_codePage = 0;       // "ansicpg", 0 when the document names none
    unsigned m_charSetPage = 0;    // "mac", "pc", "pca": the page they stand for
    int m_defaultFont = -1;        // "deff"
    std::map<int, unsigned> m_fontCodePages;  // 0: the document's
    unsigned m_runCodePage = 0;    // the code page of the text being read
    std::vector<unsigned> m_codePageStack;
    unsigned m_bytesCodePage = 0;  // the code page of m_pendingBytes
    CRTFKey m_keys;
    RtfDocumentInfo m_info;
    std::vector<RtfPropRecord> m_paraStack;
    RtfPropRecord m_para;
    RtfPropRecord m_document;
    std::vector<RtfPropRecord> m_charStack;
    RtfPropRecord m_char;
    RtfPropRecord m_picture;
    RtfPropRecord m_section;
    CTextCollector* m_pCollector;

    int m_unicodeSkip = 1;     // "uc": bytes of fallback text after each "u"
    int m_pendingSkip = 0;     // fallback bytes still to drop
    bool m_loaded = false;
    bool m_documentEnded = false;  // the document's group closed
    bool m_pastEnd = false;        // reading markup after that, no text from it yet
    int m_commentDepth = -1;       // depth of the comment group being read, -1 outside one
    std::u16string m_commentText;  // the text of that comment so far
    std::u16string m_comments;     // the comments read, each starting a line
    std::string m_pendingBytes;
    std::u16string m_output;
};
