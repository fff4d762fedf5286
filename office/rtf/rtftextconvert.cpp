#include "office/rtf/rtftextconvert.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "extract/codepage.h"
#include "extract/io/h2s_bufio.h"
#include "extract/textcollector.h"
#include "platform/codec.h"
#include "platform/docfile.h"

namespace {

constexpr unsigned kSystemCodePage = 949;
// Wide characters gathered before they are handed to the collector.
constexpr size_t kOutputChunk = 64 * 1024;
// The largest "uc" value taken; fallback texts are short. A larger value
// only lets more of a fallback through as text: nothing of the document is
// lost, so the clamp is no damage.
constexpr int kMaxUnicodeSkip = 16;
// The fonts whose code pages are kept.
constexpr size_t kMaxFonts = 4096;

bool IsLetter(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The byte of the two hexadecimal digits at p (fewer than two present, or an
// invalid digit: 0).
int HexByte(const unsigned char* p, size_t avail)
{
    if (avail < 2)
        return 0;
    int hi = HexValue(p[0]);
    int lo = HexValue(p[1]);
    if (hi < 0 || lo < 0)
        return 0;
    return hi * 16 + lo;
}

bool IsDbcsLead(int b)
{
    return b >= 0x81 && b <= 0xFE;
}

bool IsDbcsTrail(int b)
{
    return (b >= 0x41 && b <= 0x5A) || (b >= 0x61 && b <= 0x7A) || (b >= 0x81 && b <= 0xFE);
}

// The typographic bytes of the Western code page, folded to ASCII.
int MapTypographic(int b)
{
    switch (b) {
    case 0x81: case 0x82: case 0x93: case 0x94: return 0x22;
    case 0x83: case 0x84: case 0x91: case 0x92: return 0x27;
    case 0x95: return 0x07;
    case 0x96: case 0x97: return 0x2D;
    default: return b;
    }
}

// The code page of a font character set ("fcharset"); 0 for the ANSI and
// default sets, which follow the document's code page.
unsigned CodePageOfCharset(int charset)
{
    switch (charset) {
    case 2: return 1252;  // symbol: one byte a character
    case 254: return 437;
    case 255: return 850;
    default: return CodePageOfFontCharset(charset);
    }
}

bool StartsWith(const unsigned char* p, size_t avail, const char* s)
{
    size_t n = std::strlen(s);
    return avail >= n && std::memcmp(p, s, n) == 0;
}

// A "\bin" control word at p (the word itself, not "\binfsxn" and the like):
// the bytes it covers (backslash, name, parameter and its blank delimiter)
// and its parameter, the count of raw bytes after it; 0 when p holds none.
size_t BinWord(const unsigned char* p, size_t avail, long long& count)
{
    if (!StartsWith(p, avail, "\\bin"))
        return 0;
    size_t k = 4;
    if (k < avail && IsLetter(p[k]))
        return 0;
    const bool negative = k < avail && p[k] == '-';
    if (negative)
        ++k;
    long long value = 0;
    while (k < avail && IsDigit(p[k])) {
        if (value < (1ll << 40))  // past every length a file of ours can have
            value = value * 10 + (p[k] - '0');
        ++k;
    }
    if (k < avail && p[k] == ' ')
        ++k;
    count = negative ? -value : value;
    return k;
}

void WriteHexEscape(std::vector<unsigned char>& out, int b)
{
    static const char digits[] = "0123456789abcdef";
    out.push_back('\\');
    out.push_back('\'');
    out.push_back(static_cast<unsigned char>(digits[(b >> 4) & 0xF]));
    out.push_back(static_cast<unsigned char>(digits[b & 0xF]));
}

// First pass: control characters out, line ends as group breaks, hex escapes
// decoded (braces and backslashes stay escaped), escaped literals as hex
// escapes.
void RewriteFirstPass(const unsigned char* in, size_t n, std::vector<unsigned char>& out)
{
    out.clear();
    out.reserve(n + 64);
    size_t i = 0;
    while (i < n && (in[i] == ' ' || in[i] == '\t' || in[i] == '\r' || in[i] == '\n'))
        ++i;
    bool pictureData = false;
    int pictureBraces = 0;
    bool inWord = false;       // a control word was written and is not delimited yet
    bool expectTrail = false;  // the last text byte was a double-byte lead
    while (i < n) {
        const unsigned char c = in[i];
        if (c == '\\' && (StartsWith(in + i, n - i, "\\blipuid") || StartsWith(in + i, n - i, "\\wmetafile8"))) {
            pictureData = true;
            pictureBraces = 1;
        }
        if (c < 0x20) {
            size_t j = i;
            while (j < n && in[j] < 0x20)
                ++j;
            if (c == '\n' || c == '\r') {
                if (pictureData) {
                    out.push_back(' ');
                } else {
                    out.push_back('{');
                    out.push_back('}');
                }
                inWord = false;
            }
            i = j;
            continue;
        }
        if (c == '\\') {
            // Raw bytes of a picture or object: never text, and they may hold
            // any byte, braces too, so they leave here before anything counts
            // braces or reads words.
            long long count = 0;
            if (const size_t word = BinWord(in + i, n - i, count)) {
                i += word;
                if (count < 0) {
                    plat::NoteDamage("길이가 잘못됨");
                    count = 0;
                }
                if (static_cast<unsigned long long>(count) > n - i) {
                    plat::NoteDamage("길이가 데이터를 넘음");
                    i = n;
                } else {
                    i += static_cast<size_t>(count);
                    // The raw bytes end their group (a picture's or an
                    // object's data); anything else after them means the
                    // length does not fit the bytes that are there.
                    size_t j = i;
                    while (j < n && (in[j] == ' ' || in[j] == '\r' || in[j] == '\n'))
                        ++j;
                    if (count > 0 && j < n && in[j] != '}')
                        plat::NoteDamage("길이가 데이터와 맞지 않음");
                }
                inWord = false;
                expectTrail = false;
                continue;
            }
        }
        if (c == '\\' && i + 1 < n) {
            const unsigned char d = in[i + 1];
            if (d == '\n' || d == '\r') {
                static const char par[] = "\\par ";
                out.insert(out.end(), par, par + 5);
                i += 2;
                if (d == '\r' && i < n && in[i] == '\n')
                    ++i;
                inWord = false;
                continue;
            }
            if (d == '\'') {
                const size_t avail = n - std::min(n, i + 2);
                size_t digits = 0;
                while (digits < 2 && digits < avail && HexValue(in[i + 2 + digits]) >= 0)
                    ++digits;
                if (digits < 2) {
                    // Cut short: the byte it stood for is lost; what follows
                    // the digits there are stays markup or text.
                    plat::NoteDamage("16진 이스케이프 손상");
                    inWord = false;
                    expectTrail = false;
                    i += 2 + digits;
                    continue;
                }
                int b = HexByte(in + i + 2, avail);
                if (expectTrail) {
                    expectTrail = false;
                } else if (MapTypographic(b) != b) {
                    size_t next = i + 4;
                    bool pairFollows = next + 3 < n && in[next] == '\\' && in[next + 1] == '\'' &&
                                       IsDbcsTrail(HexByte(in + next + 2, n - next - 2));
                    if (pairFollows)
                        expectTrail = true;
                    else
                        b = MapTypographic(b);
                } else {
                    expectTrail = IsDbcsLead(b);
                }
                if (inWord)
                    out.push_back(' ');
                inWord = false;
                if (b == '{' || b == '}' || b == '\\')
                    WriteHexEscape(out, b);
                else if (b != 0)
                    out.push_back(static_cast<unsigned char>(b));
                i = std::min(n, i + 4);
                continue;
            }
            if (d == '\\' || d == '{' || d == '}') {
                WriteHexEscape(out, d);
                inWord = false;
                expectTrail = false;
                i += 2;
                continue;
            }
        }
        if (pictureData) {
            if (c == '{') {
                ++pictureBraces;
            } else if (c == '}') {
                if (--pictureBraces < 0)
                    pictureData = false;
            }
        }
        if (c == '\\')
            inWord = i + 1 < n && IsLetter(in[i + 1]);
        else if (inWord && !(IsLetter(c) || IsDigit(c) || c == '-'))
            inWord = false;
        if (c >= 0x80 || expectTrail)
            expectTrail = !expectTrail && IsDbcsLead(c);
        out.push_back(c);
        ++i;
    }
}

// The end of the group that opens at p[0] ('{'): the offset after its
// closing brace, or n. A group that never closes swallows the closing
// braces of the groups around it too: the body reader finds the document's
// group open at the end and marks the damage there.
size_t MatchingBrace(const unsigned char* p, size_t n)
{
    int level = 0;
    for (size_t i = 0; i < n; ++i) {
        if (p[i] == '{') {
            ++level;
        } else if (p[i] == '}') {
            if (--level == 0)
                return i + 1;
        }
    }
    return n;
}

// Second pass: ignorable destinations become empty groups, except shape
// instructions and comments, whose content stays (the body reader sets a
// comment's text aside; the ignorable groups inside it still go).
void RewriteSecondPass(const std::vector<unsigned char>& in, std::vector<unsigned char>& out)
{
    out.clear();
    out.reserve(in.size() + 4);
    const size_t n = in.size();
    size_t i = 0;
    while (i < n) {
        if (in[i] == '{' && i + 3 < n && in[i + 1] == '\\' && in[i + 2] == '*' && in[i + 3] == '\\') {
            size_t nameStart = i + 4;
            size_t nameEnd = nameStart;
            while (nameEnd < n && in[nameEnd] != ' ' && in[nameEnd] != '\\' && in[nameEnd] != '{' &&
                   in[nameEnd] != '}')
                ++nameEnd;
            const size_t len = nameEnd - nameStart;
            if ((len == 7 && std::memcmp(in.data() + nameStart, "shpinst", 7) == 0) ||
                (len == 10 && std::memcmp(in.data() + nameStart, "annotation", 10) == 0)) {
                out.push_back('{');
                i += 3;  // on to the backslash of the name
                continue;
            }
            out.push_back('{');
            out.push_back('}');
            i += MatchingBrace(in.data() + i, n - i);
            continue;
        }
        out.push_back(in[i]);
        ++i;
    }
}

// A text run with more than blanks, or a hex escape.
bool IsDocumentText(const RtfToken& t)
{
    if (t.kind == kRtfHexEscape)
        return true;
    if (t.kind != kRtfTextRun || !t.text)
        return false;
    for (int k = 0; k < t.length; ++k) {
        if (t.text[k] != ' ')
            return true;
    }
    return false;
}

// Destinations whose text is never document text: tables, list
// definitions, bookmarks and the like that a writer did not mark ignorable.
bool IsNonTextDestination(const char* w)
{
    static const char* const names[] = {
        "colortbl",  "fonttbl",     "stylesheet",    "listtable",   "listoverridetable", "list",
        "listoverride", "listname", "leveltext",     "levelnumbers", "revtbl",           "filetbl",
        "rsidtbl",   "xmlnstbl",    "generator",     "pgdsctbl",    "themedata",         "colorschememapping",
        "latentstyles", "datastore", "mmathPr",      "fldinst",     "panose",            "falt",
        "objdata",   "objclass",    "objname",       "bkmkstart",   "bkmkend",           "pntxta",
        "pntxtb",    "template",    "userprops",     "docvar",      "wgrffmtfilter",     "defchp",
        "defpap",    "protusertbl", "blipuid",       "fchars",      "lchars",            "keycode",
        "private",   "xe",          "tc",            "txe",         "atnid",             "atnauthor",
        "atrfstart",  "atrfend",       "fontemb",     "fontfile",          "listpicture",
        "listlevel", "atnref",      "atndate",       "atntime",     "atnicn",            "atnparent"};
    for (const char* n : names) {
        if (!std::strcmp(w, n))
            return true;
    }
    return false;
}

}  // namespace

CRtfTextConvert::CRtfTextConvert(CTextCollector* collector, int value) : m_value(value), m_pCollector(collector)
{
    m_keys.LoadDefaults(kRtfCatCharacter, m_char);
    m_keys.LoadDefaults(kRtfCatParagraph, m_para);
    m_keys.LoadDefaults(kRtfCatSection, m_section);
    m_keys.LoadDefaults(kRtfCatDocument, m_document);
    m_keys.LoadDefaults(kRtfCatPicture, m_picture);
}

CRtfTextConvert::~CRtfTextConvert() = default;

int CRtfTextConvert::LoadRtfFile(const char16_t* path, std::vector<unsigned char>& out)
{
    out.clear();
    if (!path)
        return 0;
    CH2sFile file;
    if (!file.Open(path, 0))
        return 0;
    std::int64_t length = file.GetLength();
    if (length < 0) {
        file.Close();
        return 0;
    }
    if (length > kRtfMaxFileBytes) {
        plat::NoteDamage("한도에 이르러 건너뜀");  // the rest of the file is never read
        length = kRtfMaxFileBytes;
    }
    out.resize(static_cast<size_t>(length));
    size_t got = 0;
    while (got < out.size()) {
        int want = static_cast<int>(std::min<size_t>(out.size() - got, 1 << 20));
        int r = file.Read(out.data() + got, want);
        if (r <= 0) {
            // Fewer bytes than the file's length: what is missing is never read.
            plat::NoteDamage("파일을 끝까지 읽지 못함");
            break;
        }
        got += static_cast<size_t>(r);
    }
    out.resize(got);
    file.Close();
    return 1;
}

void CRtfTextConvert::RewriteRtf(const unsigned char* input, size_t size, std::vector<unsigned char>& output)
{
    std::vector<unsigned char> first;
    RewriteFirstPass(input, size, first);
    RewriteSecondPass(first, output);
}

int CRtfTextConvert::Convert(const char16_t* path)
{
    if (m_pCollector)
        m_pCollector->Reset();
    std::vector<unsigned char> data;
    m_loaded = LoadRtfFile(path, data) != 0;
    if (m_loaded)
        ConvertBuffer(data.data(), data.size());
    return 1;
}

void CRtfTextConvert::ConvertBuffer(const unsigned char* data, size_t size)
{
    if (size > static_cast<size_t>(kRtfMaxFileBytes)) {
        plat::NoteDamage("한도에 이르러 건너뜀");
        size = static_cast<size_t>(kRtfMaxFileBytes);
    }
    std::vector<unsigned char> text;
    RewriteRtf(data, size, text);
    const size_t textLength = text.size();
    text.insert(text.end(), 4, 0);  // the tokenizer may look a little past the end

    // Every document starts from the same state.
    m_unicodeSkip = 1;
    m_pendingSkip = 0;
    m_pendingBytes.clear();
    m_output.clear();
    m_paraStack.clear();
    m_charStack.clear();
    m_info = RtfDocumentInfo();
    m_token = RtfToken();
    m_keys.LoadDefaults(kRtfCatCharacter, m_char);
    m_keys.LoadDefaults(kRtfCatParagraph, m_para);
    m_codePage = 0;
    m_charSetPage = 0;
    m_defaultFont = -1;
    m_fontCodePages.clear();
    m_codePageStack.clear();
    m_documentEnded = false;
    m_pastEnd = false;
    m_commentDepth = -1;
    m_commentText.clear();
    m_comments.clear();

    m_status.Init(text.data(), static_cast<int>(textLength));
    ParsePreamble();
    m_runCodePage = FontCodePage(m_defaultFont);
    m_bytesCodePage = m_runCodePage;
    ParseBody();
    // The document's group still open at the end: the file was cut, or a
    // destination whose closing brace is missing swallowed the rest of the
    // document. (Groups left open in markup after the document's end hold
    // nothing of it; a read stopped by the search ends with groups open and
    // is reported so.)
    if (m_status.GetDepth() > 0 && !m_documentEnded && !plat::ReadCancelled())
        plat::NoteDamage("구조가 끝나지 않음");
    // A comment still open at the end keeps what it gave.
    if (m_commentDepth >= 0)
        EndComment();
    FlushOutput();
    AppendComments();
    m_status.Init(nullptr, 0);
}

bool CRtfTextConvert::MarkupFollows() const
{
    const unsigned char* p = m_status.position;
    const unsigned char* end = m_status.start + m_status.length;
    return p && std::find(p, end, '\\') != end;
}

void CRtfTextConvert::NoteTextPastEnd(bool text)
{
    if (text && m_pastEnd) {
        plat::NoteDamage("문서 끝 뒤에 내용이 있음");
        m_pastEnd = false;  // once is enough
    }
}

void CRtfTextConvert::SkipGroupRest()
{
    const unsigned char* begin = nullptr;
    int count = 0;
    m_status.FindGroupEnd(begin, count);
    m_status.Skip(count);
}

void CRtfTextConvert::ParsePreamble()
{
    RtfToken& t = m_token;
    // Up to and including the first control word ("rtf1").
    while (m_status.NextToken(t)) {
        int kind = t.kind;
        m_status.Consume(t);
        if (kind == kRtfControlWord)
            break;
    }
    // The header: character-set words and the like, up to the first table.
    while (m_status.NextToken(t)) {
        if (t.kind == kRtfGroupClose && m_status.GetDepth() == 1)
            return;  // the document's own end: the body reader looks past it
        if (t.kind == kRtfControlWord) {
            const char* w = t.word;
            if (!std::strcmp(w, "fonttbl") || !std::strcmp(w, "colortbl") || !std::strcmp(w, "stylesheet") ||
                !std::strcmp(w, "styletbl"))
                break;
            if (!std::strcmp(w, "ansicpg") && t.param > 0)
                m_codePage = static_cast<unsigned>(t.param);
            else if (!std::strcmp(w, "mac"))
                m_charSetPage = 10000;
            else if (!std::strcmp(w, "pc"))
                m_charSetPage = 437;
            else if (!std::strcmp(w, "pca"))
                m_charSetPage = 850;
            else if (!std::strcmp(w, "deff"))
                m_defaultFont = t.param;
            // A document without tables: the body starts here.
            if (!std::strcmp(w, "info") || !std::strcmp(w, "annotation") || m_keys.Lookup(kRtfCatParagraph, w) ||
                m_keys.Lookup(kRtfCatSection, w) || m_keys.Lookup(kRtfCatHeaderFooter, w) ||
                (m_status.GetDepth() <= 2 && m_keys.Lookup(kRtfCatCharacter, w)))
                return;
        } else if (IsDocumentText(t)) {
            return;  // a document without tables whose text starts at once
        }
        m_status.Consume(t);
    }
    // The tables.
    while (m_status.NextToken(t)) {
        if (t.kind == kRtfGroupClose && m_status.GetDepth() == 1)
            return;  // the document's own end: the body reader looks past it
        if (t.kind == kRtfControlWord) {
            const char* w = t.word;
            if (!std::strcmp(w, "fonttbl")) {
                m_status.Consume(t);
                ReadFontTable();
                continue;
            }
            if (!std::strcmp(w, "colortbl") || !std::strcmp(w, "stylesheet") ||
                !std::strcmp(w, "styletbl") || !std::strcmp(w, "listtable") || !std::strcmp(w, "listoverridetable") ||
                !std::strcmp(w, "filetbl") || !std::strcmp(w, "revtbl")) {
                // Nothing of these tables reaches the text.
                m_status.Consume(t);
                SkipGroupRest();
                continue;
            }
            if (IsNonTextDestination(w)) {
                m_status.Consume(t);
                SkipGroupRest();
                continue;
            }
            if (!std::strcmp(w, "deff") || !std::strcmp(w, "deflang") || !std::strcmp(w, "deflangfe") ||
                !std::strcmp(w, "deftab")) {
                if (!std::strcmp(w, "deff"))
                    m_defaultFont = t.param;
                m_status.Consume(t);
                continue;
            }
            if (!std::strcmp(w, "info") || !std::strcmp(w, "annotation") || m_keys.Lookup(kRtfCatDocument, w) ||
                m_keys.Lookup(kRtfCatParagraph, w) || m_keys.Lookup(kRtfCatSection, w) ||
                m_keys.Lookup(kRtfCatSpecial, w) || m_keys.Lookup(kRtfCatUnicode, w) ||
                m_keys.Lookup(kRtfCatHeaderFooter, w))
                return;
            if (m_keys.Lookup(kRtfCatCharacter, w) && m_status.GetDepth() <= 2)
                return;
        } else if (IsDocumentText(t)) {
            return;  // the tables are behind; this is the body's text
        }
        m_status.Consume(t);
    }
}

void CRtfTextConvert::ReadFontTable()
{
    RtfToken& t = m_token;
    const int tableDepth = m_status.GetDepth();
    int font = -1;
    while (m_status.NextToken(t)) {
        if (t.kind == kRtfGroupClose && m_status.GetDepth() <= tableDepth)
            break;  // the table's closing brace is the caller's
        if (t.kind == kRtfControlWord) {
            const char* w = t.word;
            if (!std::strcmp(w, "f")) {
                font = t.param;
            } else if (font >= 0 && m_fontCodePages.size() >= kMaxFonts) {
                plat::NoteDamage("한도에 이르러 건너뜀");  // this font's text may decode wrongly
            } else if (font >= 0) {
                // A font's own code page wins over its character set's.
                if (!std::strcmp(w, "fcharset") && !m_fontCodePages.count(font))
                    m_fontCodePages[font] = CodePageOfCharset(t.param);
                else if (!std::strcmp(w, "cpg") && t.param > 0)
                    m_fontCodePages[font] = static_cast<unsigned>(t.param);
            }
        }
        m_status.Consume(t);
    }
}

unsigned CRtfTextConvert::DocumentCodePage() const
{
    if (m_codePage)
        return m_codePage;
    return m_charSetPage ? m_charSetPage : kSystemCodePage;
}

unsigned CRtfTextConvert::FontCodePage(int font) const
{
    const auto it = m_fontCodePages.find(font);
    return it != m_fontCodePages.end() && it->second != 0 ? it->second : DocumentCodePage();
}

void CRtfTextConvert::PushRecords()
{
    m_paraStack.push_back(m_para);
    m_charStack.push_back(m_char);
    m_codePageStack.push_back(m_runCodePage);
}

void CRtfTextConvert::PopRecords()
{
    // A closing brace with nothing saved changes nothing.
    if (!m_paraStack.empty()) {
        m_para = std::move(m_paraStack.back());
        m_paraStack.pop_back();
    }
    if (!m_charStack.empty()) {
        m_char = std::move(m_charStack.back());
        m_charStack.pop_back();
    }
    if (!m_codePageStack.empty()) {
        m_runCodePage = m_codePageStack.back();
        m_codePageStack.pop_back();
    }
}

void CRtfTextConvert::ReadInfoGroup()
{
    // The "info" word has been consumed; read up to the end of its group.
    RtfToken& t = m_token;
    const int infoDepth = m_status.GetDepth();
    std::u16string* target = nullptr;
    int targetDepth = 0;
    std::string bytes;
    auto finish = [&] {
        if (target && !bytes.empty())
            *target += plat::DecodeCodePage(DocumentCodePage(), bytes);
        bytes.clear();
        target = nullptr;
    };
    while (m_status.NextToken(t)) {
        if (t.kind == kRtfGroupClose) {
            if (m_status.GetDepth() <= infoDepth)
                break;  // the closing brace of the info group is the body's
            if (target && m_status.GetDepth() <= targetDepth)
                finish();
            m_status.Consume(t);
            continue;
        }
        if (t.kind == kRtfControlWord) {
            static const struct {
                const char* name;
                std::u16string RtfDocumentInfo::*field;
            } fields[] = {{"title", &RtfDocumentInfo::title},       {"subject", &RtfDocumentInfo::subject},
                          {"author", &RtfDocumentInfo::author},     {"manager", &RtfDocumentInfo::manager},
                          {"company", &RtfDocumentInfo::company},   {"operator", &RtfDocumentInfo::operatorName},
                          {"category", &RtfDocumentInfo::category}, {"keywords", &RtfDocumentInfo::keywords},
                          {"comment", &RtfDocumentInfo::comment},   {"doccomm", &RtfDocumentInfo::doccomm},
                          {"hlinkbase", &RtfDocumentInfo::hlinkbase}};
            for (const auto& f : fields) {
                if (!std::strcmp(t.word, f.name)) {
                    finish();
                    target = &(m_info.*(f.field));
                    targetDepth = m_status.GetDepth();
                }
            }
        } else if ((t.kind == kRtfTextRun || t.kind == kRtfSemicolon) && target && t.text) {
            bytes.append(reinterpret_cast<const char*>(t.text), t.length);
        }
        m_status.Consume(t);
    }
    finish();
}

void CRtfTextConvert::AppendBytes(const unsigned char* bytes, int count)
{
    // Bytes of another code page than those waiting: the waiting ones go first.
    if (m_runCodePage != m_bytesCodePage) {
        FlushBytes();
        m_bytesCodePage = m_runCodePage;
    }
    for (int k = 0; k < count; ++k) {
        // Control bytes that came from hex escapes are no text; 7 (a
        // bullet) and the line and tab bytes are.
        const unsigned char b = bytes[k];
        NoteTextPastEnd(b > 0x20);
        if (b >= 0x20 || b == 7 || b == 9 || b == 10 || b == 13)
            m_pendingBytes.push_back(static_cast<char>(b));
    }
    if (m_pendingBytes.size() >= kOutputChunk)
        FlushBytes();
}

void CRtfTextConvert::FlushBytes()
{
    if (m_pendingBytes.empty())
        return;
    // Keep a trailing lead byte for the next piece.
    size_t cut = m_pendingBytes.size();
    if (m_pendingBytes.size() >= kOutputChunk) {
        size_t k = 0;
        while (k < m_pendingBytes.size()) {
            unsigned char b = static_cast<unsigned char>(m_pendingBytes[k]);
            size_t step = IsDbcsLead(b) ? 2 : 1;
            if (k + step > m_pendingBytes.size())
                break;
            k += step;
        }
        cut = k;
    }
    std::u16string wide = plat::DecodeCodePage(m_bytesCodePage, std::string_view(m_pendingBytes.data(), cut));
    m_pendingBytes.erase(0, cut);
    for (char16_t ch : wide) {
        if (ch != 0)
            m_output.push_back(ch);
    }
    if (m_output.size() >= kOutputChunk)
        FlushOutput();
}

void CRtfTextConvert::AppendWide(const char16_t* text, size_t count)
{
    FlushBytes();
    for (size_t k = 0; k < count; ++k) {
        NoteTextPastEnd(text[k] > 0x20);
        if (text[k] != 0)
            m_output.push_back(text[k]);
    }
    if (m_output.size() >= kOutputChunk)
        FlushOutput();
}

void CRtfTextConvert::FlushOutput()
{
    std::string tail;
    if (m_pendingBytes.size() < kOutputChunk) {
        // Everything converts now.
        std::u16string wide = plat::DecodeCodePage(m_bytesCodePage, m_pendingBytes);
        m_pendingBytes.clear();
        for (char16_t ch : wide) {
            if (ch != 0)
                m_output.push_back(ch);
        }
    } else {
        FlushBytes();
    }
    if (m_commentDepth >= 0) {
        // Held until the main text ends, and no more of it than the
        // document may give in all: past that much the collector cuts the
        // text (and notes the limit) when the comments are handed on.
        const unsigned long long limit = PsCurrentDocumentBudget().text;
        const size_t held = m_comments.size() + m_commentText.size();
        size_t take = m_output.size();
        if (limit != 0 && limit < SIZE_MAX)
            take = std::min(take, held > limit ? size_t(0) : static_cast<size_t>(limit) + 1 - held);
        m_commentText.append(m_output, 0, take);
    } else if (!m_output.empty() && m_pCollector) {
        AppendTextToCollector(m_pCollector, m_output.c_str(), static_cast<int>(m_output.size()), u"");
    }
    m_output.clear();
}

void CRtfTextConvert::FlushAll()
{
    FlushOutput();
    if (!m_pendingBytes.empty())
        FlushOutput();
}

void CRtfTextConvert::BeginComment()
{
    FlushAll();  // the main text before the anchor goes first
    m_commentDepth = m_status.GetDepth();
}

void CRtfTextConvert::EndComment()
{
    FlushAll();
    m_commentDepth = -1;
    if (m_commentText.empty())
        return;
    auto endsLine = [](char16_t c) { return c == u'\n' || c == u'\r' || c == 7; };
    if (!m_comments.empty() && !endsLine(m_comments.back()))
        m_comments.push_back(u'\n');
    m_comments += m_commentText;
    m_commentText.clear();
}

void CRtfTextConvert::AppendComments()
{
    if (m_comments.empty() || !m_pCollector)
        return;
    // The first comment starts a line of its own after the main text.
    const std::u16string* out = m_pCollector->GetOutput();
    if (out && !out->empty() && out->back() != u'\n')
        AppendTextToCollector(m_pCollector, u"\n", 1, u"");
    AppendTextToCollector(m_pCollector, m_comments.c_str(), static_cast<int>(m_comments.size()), u"");
    m_comments.clear();
}

void CRtfTextConvert::ParseBody()
{
    RtfToken& t = m_token;
    // Text met in the body before any paragraph or character word is
    // document text too (HTML-encapsulated and minimal writers start so).
    bool gate = true;
    int unsavedOpens = 0;  // groups opened beyond the record stack's limit
    auto textAllowed = [&] {
        const RtfKeyEntry* hyph = m_keys.Lookup(kRtfCatParagraph, "hyphpar");
        bool hyphpar = hyph && hyph->field >= 0 && static_cast<size_t>(hyph->field) < m_para.slots.size() &&
                       m_para.slots[hyph->field] > 0;
        return gate || hyphpar;
    };
    auto special = [&](const char16_t* s) { AppendWide(s, std::char_traits<char16_t>::length(s)); };

    // A stop of the search (or the document's time budget) ends the loop
    // early; the search reports that read itself.
    while (!plat::ReadCancelled() && m_status.NextToken(t)) {
        if (t.kind == kRtfGroupClose) {
            // A fallback still owed when its group ends was cut from the
            // document; the skip ends with the group, so the text after the
            // group stays.
            if (m_pendingSkip > 0) {
                plat::NoteDamage("유니코드 대체 문자 잘림");
                m_pendingSkip = 0;
            }
        }
        if (t.kind == kRtfGroupOpen) {
            m_status.Consume(t);
            if (m_paraStack.size() < static_cast<size_t>(kRtfMaxDepth)) {
                PushRecords();
            } else {
                // The properties of these groups are not kept: the formatting
                // of their text may be wrong.
                if (unsavedOpens == 0)
                    plat::NoteDamage("한도에 이르러 건너뜀");
                ++unsavedOpens;
            }
            continue;
        }
        if (t.kind == kRtfGroupClose) {
            m_status.Consume(t);
            if (unsavedOpens > 0)
                --unsavedOpens;
            else
                PopRecords();
            if (m_commentDepth >= 0 && m_status.GetDepth() < m_commentDepth)
                EndComment();
            if (m_status.GetDepth() == 0) {
                // The document's group has ended. Some writers leave bytes
                // after it (padding, junk, an unbalanced tail of markup with
                // no text); a brace too many closes the document early and
                // leaves its rest there. Markup after the end is read on, and
                // text it gives marks the damage (AppendBytes, AppendWide).
                m_documentEnded = true;
                m_pastEnd = true;
                if (!MarkupFollows())
                    break;
            }
            continue;
        }
        if (t.kind == kRtfTextRun || t.kind == kRtfSemicolon) {
            const unsigned char* p = t.text ? t.text : reinterpret_cast<const unsigned char*>(";");
            int n = t.length;
            if (m_pendingSkip > 0) {
                int drop = std::min(n, m_pendingSkip);
                m_pendingSkip -= drop;
                p += drop;
                n -= drop;
            }
            if (n > 0 && textAllowed())
                AppendBytes(p, n);
            m_status.Consume(t);
            continue;
        }
        if (t.kind == kRtfHexEscape) {
            // Only the rewrite writes hex escapes now (a brace or backslash
            // as text), always whole.
            int b = t.length >= 4 ? HexByte(t.text + 2, 2) : 0;
            m_status.Consume(t);
            if (m_pendingSkip > 0) {
                --m_pendingSkip;
                continue;
            }
            if (b != 0 && textAllowed() && m_status.InGroup()) {
                unsigned char byte = static_cast<unsigned char>(b);
                AppendBytes(&byte, 1);
            }
            continue;
        }
        // A control word or symbol.
        const char* w = t.word;
        if (!IsLetter(static_cast<unsigned char>(w[0]))) {
            m_status.Consume(t);
            if (!textAllowed())
                continue;
            if (w[0] == '~')
                special(u" ");  // non-breaking space
            else if (w[0] == '_')
                special(u"-");  // non-breaking hyphen
            continue;
        }
        m_pendingSkip = 0;
        if (m_keys.Lookup(kRtfCatTableRow, w)) {
            m_status.Consume(t);
            continue;
        }
        if (!std::strncmp(w, "cell", 4) || !std::strcmp(w, "nestcell")) {
            m_status.Consume(t);
            special(u"\t");
            continue;
        }
        if (!std::strncmp(w, "row", 3) || !std::strcmp(w, "nestrow")) {
            m_status.Consume(t);
            special(u"\n");
            continue;
        }
        if (!std::strcmp(w, "info")) {
            m_status.Consume(t);
            ReadInfoGroup();
            continue;
        }
        if (!std::strcmp(w, "annotation")) {
            // A comment inside a comment stays part of it.
            m_status.Consume(t);
            if (m_commentDepth < 0)
                BeginComment();
            continue;
        }
        if (const RtfKeyEntry* e = m_keys.Lookup(kRtfCatParagraph, w)) {
            gate = true;
            if (!std::strcmp(w, "pard"))
                m_keys.LoadDefaults(kRtfCatParagraph, m_para);
            else
                m_keys.Apply(*e, &m_para, &t);
            m_status.Consume(t);
            continue;
        }
        if (const RtfKeyEntry* e = m_keys.Lookup(kRtfCatDocument, w)) {
            m_keys.Apply(*e, &m_document, &t);
            m_status.Consume(t);
            continue;
        }
        if (const RtfKeyEntry* e = m_keys.Lookup(kRtfCatSection, w)) {
            m_keys.Apply(*e, &m_section, &t);
            m_status.Consume(t);
            continue;
        }
        if (m_keys.Lookup(kRtfCatTab, w)) {
            m_status.Consume(t);
            continue;
        }
        if (m_keys.Lookup(kRtfCatPicture, w)) {
            m_status.Consume(t);
            SkipGroupRest();
            continue;
        }
        if (!std::strcmp(w, "u")) {
            char16_t ch = static_cast<char16_t>(static_cast<std::uint16_t>(t.param));
            m_status.Consume(t);
            if (textAllowed())
                AppendWide(&ch, 1);
            m_pendingSkip = m_unicodeSkip;
            continue;
        }
        if (!std::strcmp(w, "uc")) {
            m_unicodeSkip = std::clamp(t.param, 0, kMaxUnicodeSkip);
            m_status.Consume(t);
            continue;
        }
        if (const RtfKeyEntry* e = m_keys.Lookup(kRtfCatCharacter, w)) {
            gate = true;
            // The run's font decides the code page of its bytes.
            if (!std::strcmp(w, "f"))
                m_runCodePage = FontCodePage(t.param);
            else if (!std::strcmp(w, "plain"))
                m_runCodePage = FontCodePage(m_defaultFont);
            if (!std::strcmp(w, "plain"))
                m_keys.LoadDefaults(kRtfCatCharacter, m_char);
            else
                m_keys.Apply(*e, &m_char, &t);
            m_status.Consume(t);
            continue;
        }
        if (m_keys.Lookup(kRtfCatSpecial, w)) {
            m_status.Consume(t);
            static const struct {
                const char* name;
                const char16_t* text;
            } specials[] = {{"par", u"\n"},          {"line", u"\n"},        {"sect", u"\n"},
                            {"page", u"\n"},         {"column", u"\n"},      {"tab", u"\t"},
                            {"emdash", u"\u2014"},   {"endash", u"\u2013"},  {"bullet", u"\u2022"},
                            {"lquote", u"\u2018"},   {"rquote", u"\u2019"},  {"ldblquote", u"\u201C"},
                            {"rdblquote", u"\u201D"}};
            for (const auto& s : specials) {
                if (!std::strcmp(w, s.name)) {
                    special(s.text);
                    break;
                }
            }
            continue;
        }
        if (m_keys.Lookup(kRtfCatHeaderFooter, w)) {
            m_status.Consume(t);
            SkipGroupRest();
            continue;
        }
        if (IsNonTextDestination(w)) {
            m_status.Consume(t);
            SkipGroupRest();
            continue;
        }
        m_status.Consume(t);
    }
}
