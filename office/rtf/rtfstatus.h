// The RTF tokenizer: cuts a byte buffer (already rewritten by the RTF reader:
// no control characters, escaped braces and backslashes as hexadecimal
// escapes) into tokens, keeps the read position and the group depth, and can
// step over the rest of a group. Tokens point into the buffer; only a control
// word's name is copied.
//
// Control words follow the RTF grammar: a backslash, a run of ASCII letters,
// an optional numeric parameter (a "-" and digits) and an optional single
// blank as delimiter, which belongs to the token. A backslash followed by any
// other byte but an apostrophe is a control symbol of two bytes ("\~", "\-",
// "\_", "\*"); its word is that byte and the text after it stays text.
#pragma once

#include <cstdint>

enum RtfTokenKind : int {
    kRtfControlWord = 0,
    kRtfGroupOpen = 1,
    kRtfGroupClose = 2,
    kRtfTextRun = 3,
    kRtfSemicolon = 4,
    kRtfHexEscape = 5,
};

// The token record. The caller owns it and hands it to every call; the kind
// of the previous token steers the semicolon rule of the next one.
struct RtfToken {
    char word[32] = {};  // control word without backslash and parameter
    const unsigned char* text = nullptr;  // text run: first byte; hex escape: the backslash
    int param = 1;    // numeric parameter, 1 when the word has none
    int kind = -1;    // RtfTokenKind
    int length = 0;   // bytes the token covers
};

class CRTFStatus {
public:
    CRTFStatus() = default;
    virtual ~CRTFStatus() = default;

    void Init(const unsigned char* data, int length);
    // Reads the token at the position without moving; 0 at the end.
    int NextToken(RtfToken& token);
    // Steps over the token; 0 after "{", 1 after "}", 2 after anything else.
    int Consume(RtfToken& token);
    // Moves forward by count bytes; 0 when that reached (and stopped at) the end.
    int Skip(int count);
    // The bytes from the position up to the brace that closes the current
    // group (not counted) or the end; 1 when count is not 0.
    int FindGroupEnd(const unsigned char*& begin, int& count) const;

    int GetDepth() const { return depth; }
    int InGroup() const { return depth > 0; }
    int HasMore() const { return position && position < start + length; }
    // Bytes from the start of the text to the position.
    int Offset() const { return position ? static_cast<int>(position - start) : 0; }

    int groupOpened = 0;
    int length = 0;
    const unsigned char* position = nullptr;
    const unsigned char* start = nullptr;
    int depth = 0;
};
