#include "office/rtf/rtfstatus.h"

#include <climits>
#include <cstring>

namespace {

bool IsLetter(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

void CRTFStatus::Init(const unsigned char* data, int n)
{
    start = data;
    position = data;
    length = data ? (n < 0 ? 0 : n) : 0;
    depth = 0;
    groupOpened = 0;
}

int CRTFStatus::NextToken(RtfToken& token)
{
    std::memset(token.word, 0, sizeof token.word);
    token.text = nullptr;
    token.length = 0;
    if (!HasMore())
        return 0;
    const int previousKind = token.kind;
    token.param = 1;
    token.kind = -1;

    const unsigned char* p = position;
    const unsigned char* end = start + length;
    const int avail = static_cast<int>(end - p);

    if (p[0] == '\\') {
        if (avail >= 2 && p[1] == '\'') {
            token.kind = kRtfHexEscape;
            token.text = p;
            token.length = avail < 4 ? avail : 4;
            return 1;
        }
        token.kind = kRtfControlWord;
        if (avail < 2) {  // a lone backslash at the end
            token.length = 1;
            return 1;
        }
        if (!IsLetter(p[1])) {  // control symbol
            token.word[0] = static_cast<char>(p[1]);
            token.length = 2;
            return 1;
        }
        int i = 1;
        int w = 0;
        // RTF's words are at most 32 letters; the letters of a longer one
        // past the record's room are passed over with it (a word of no
        // table, whatever its tail), never read as text.
        while (i < avail && IsLetter(p[i])) {
            if (w < static_cast<int>(sizeof token.word) - 1)
                token.word[w++] = static_cast<char>(p[i]);
            ++i;
        }
        // The numeric parameter.
        if (i < avail && (IsDigit(p[i]) || (p[i] == '-' && i + 1 < avail && IsDigit(p[i + 1])))) {
            bool negative = p[i] == '-';
            if (negative)
                ++i;
            long long value = 0;
            while (i < avail && IsDigit(p[i])) {
                if (value < 10000000000LL)
                    value = value * 10 + (p[i] - '0');
                ++i;
            }
            if (negative)
                value = -value;
            // RTF's parameters are 16-bit numbers. A value past int is out of
            // range for every word; none reads it as a length (\bin's is read
            // before the tokenizer, by the rewrite), and \u keeps 16 bits.
            if (value > INT_MAX)
                value = INT_MAX;
            if (value < INT_MIN)
                value = INT_MIN;
            int param = static_cast<int>(value);
            if (token.word[0] == 'u' && token.word[1] == 0 && param < 0)
                param = static_cast<std::uint16_t>(param);
            token.param = param;
        } else if (token.word[0] == 'c' && token.word[1] == 'f' && token.word[2] == 0) {
            token.param = 0;
        }
        if (i < avail && p[i] == ' ')
            ++i;
        token.length = i;
        return 1;
    }

    switch (p[0]) {
    case '{':
        token.kind = kRtfGroupOpen;
        token.length = 1;
        return 1;
    case '}':
        token.kind = kRtfGroupClose;
        token.length = 1;
        return 1;
    case ';':
        if (previousKind == kRtfControlWord) {
            token.kind = kRtfSemicolon;
            token.length = 1;
            return 1;
        }
        break;
    default:
        break;
    }
    // A text run: up to a backslash or a brace; after a control word a
    // semicolon ends it too.
    token.kind = kRtfTextRun;
    token.text = p;
    int i = 1;
    while (i < avail) {
        unsigned char c = p[i];
        if (c == '\\' || c == '{' || c == '}')
            break;
        if (c == ';' && previousKind == kRtfControlWord)
            break;
        ++i;
    }
    token.length = i;
    return 1;
}

int CRTFStatus::Consume(RtfToken& token)
{
    if (position) {
        const unsigned char* end = start + length;
        // A token never covers more than the bytes left (NextToken measures
        // it within them); the clamp only guards a token record from elsewhere.
        int step = token.length < 0 ? 0 : token.length;
        position = (end - position < step) ? end : position + step;
    }
    token.length = 0;
    if (token.kind == kRtfGroupOpen) {
        ++depth;
        groupOpened = 1;
        return 0;
    }
    if (token.kind == kRtfGroupClose) {
        if (depth > 0) {
            --depth;
            groupOpened = 0;
        }
        return 1;
    }
    return 2;
}

int CRTFStatus::Skip(int count)
{
    if (!position)
        return 0;
    const unsigned char* end = start + length;
    if (count < 0)
        count = 0;
    // A count past the end stops at the end and says so; the callers'
    // counts come from FindGroupEnd and never pass it.
    if (end - position <= count) {
        bool exact = end - position == count;
        position = end;
        return exact ? 1 : 0;
    }
    position += count;
    return 1;
}

int CRTFStatus::FindGroupEnd(const unsigned char*& begin, int& count) const
{
    begin = position;
    count = 0;
    if (!position)
        return 0;
    // A group that never closes runs to the end: the body reader finds the
    // document's group open there and marks the damage.
    const unsigned char* end = start + length;
    int n = 0;
    const unsigned char* q = position;
    while (q < end) {
        if (*q == '{') {
            ++n;
        } else if (*q == '}') {
            if (--n < 0)
                break;
        } else if (*q == '\\' && q + 1 < end) {
            ++q;  // an escaped byte never counts as a brace
        }
        ++q;
    }
    count = static_cast<int>(q - position);
    return count != 0;
}
