#include "office/word/word6text.h"

#include <algorithm>
#include <cstring>

#include "extract/codepage.h"
#include "extract/io/h2s_storage.h"
#include "extract/textcollector.h"
#include "office/drawing/recordreader.h"
#include "office/word/wordstruct.h"
#include "platform/codec.h"
#include "platform/docfile.h"

namespace {

// FIB fields.
constexpr size_t kFibFlags = 0x0A;
constexpr size_t kFibLid = 0x06;
// Where the document was made (0 Windows, 1 Macintosh), whether
// it was last saved on a Macintosh (bit 0) and the character set of its
// text (0 Windows, 256 Macintosh).
constexpr size_t kFibEnvr = 0x12;
constexpr size_t kFibMacFlags = 0x13;
constexpr size_t kFibChse = 0x14;
constexpr std::uint16_t kChseWindows = 0;
constexpr std::uint16_t kChseMac = 256;
constexpr unsigned kCpMacRoman = 10000;
constexpr size_t kFibFcMin = 0x18;
constexpr size_t kFibFcMac = 0x1C;
constexpr unsigned char kFibComplex = 0x04;  // in the low byte of the flags

// Where the FIB keeps the positions of the tables, all in the
// "WordDocument" stream.
struct FibLayout {
    size_t size;          // bytes of the FIB read
    size_t ccpText;       // eight story lengths follow one another
    size_t plcfhdd;       // each of these: position, then size
    size_t chpxBin;
    size_t papxBin;
    size_t clx;
    size_t stsh;
    size_t ftnTxt;
    size_t atnTxt;
    size_t ednTxt;
    size_t txbxTxt;
    size_t doaMom;
    size_t fonts;
    size_t pageNumberBytes;   // of a bin-table entry
    size_t papxEntryBytes;    // of a paragraph page entry
};
constexpr FibLayout kFib6 = {682, 0x34, 0xB0, 0xB8, 0xC0, 0x160, 0x60, 0x70, 0x80, 0x1DA, 0x222, 0x192, 0xD0, 2, 7};

// How deep drawing groups are followed.
constexpr int kMaxDrawingDepth = 16;

// Built-in style identifiers of the reference character styles; their
// names are translated with the program's language, the identifiers not.
constexpr unsigned kStiFootnoteRef = 38;
constexpr unsigned kStiAnnotationRef = 39;
constexpr unsigned kStiEndnoteRef = 42;

constexpr size_t kPageSize = 512;
// The largest "WordDocument" stream read.
constexpr std::uint64_t kMaxStreamBytes = 512ull * 1024 * 1024;
// Wide characters gathered before they go to the collector.
constexpr size_t kOutputChunk = 64 * 1024;

// Operand lengths of the one-byte property codes: -1 for
// an unknown code (ends the list), -2 for a code whose operand starts with a
// length byte, -3 for a code whose 16-bit length counts the whole operand,
// -4 for one whose 16-bit length counts the operand after its first byte.
int OperandLength(int code)
{
    switch (code) {
    case 0: return 0;
    case 3: case 12: case 15: case 23: case 68: case 74: case 191: case 204: return -2;
    case 188: return -3;
    case 190: return -4;
    case 20: case 70: case 192: case 194: case 196: case 200: return 4;
    case 73: case 136: case 137: return 3;
    case 193: case 199: return 5;
    case 120: case 187: return 12;
    case 2: case 16: case 17: case 18: case 19: case 21: case 22: case 26: case 27: case 28:
    case 30: case 31: case 32: case 33: case 34: case 35: case 36: case 38: case 39: case 40:
    case 41: case 42: case 43: case 45: case 46: case 47: case 48: case 49: case 59: case 69:
    case 72: case 80: case 93: case 96: case 97: case 99: case 107: case 111: case 113: case 114:
    case 121: case 122: case 123: case 124: case 140: case 141: case 144: case 145: case 148:
    case 149: case 154: case 155: case 156: case 157: case 160: case 161: case 164: case 165:
    case 166: case 167: case 168: case 169: case 170: case 171: case 182: case 183: case 184:
    case 189: case 195: case 197: case 198:
        return 2;
    default:
        break;
    }
    if ((code >= 4 && code <= 51) || (code >= 53 && code <= 58) || (code >= 65 && code <= 75) ||
        (code >= 85 && code <= 94) || code == 98 || code == 101 || code == 104 || code == 112 || code == 115 ||
        (code >= 117 && code <= 119) || code == 131 || code == 132 || (code >= 138 && code <= 162) ||
        (code >= 185 && code <= 186))
        return 1;
    return -1;
}

// The operand length of the code at op with avail bytes behind it, or -1
// when the code is unknown or its operand does not fit.
int OperandBytes(int code, const unsigned char* op, int avail)
{
    int len = OperandLength(code);
    if (len == -2) {
        len = 1 + op[0];
    } else if (len == -3 || len == -4) {
        if (avail < 2)
            return -1;
        const int stated = op[0] | (op[1] << 8);
        len = std::max(2, len == -3 ? stated : stated + 1);
    }
    return len > avail ? -1 : len;
}

std::int16_t I16(const unsigned char* p)
{
    return static_cast<std::int16_t>(p[0] | (p[1] << 8));
}

// Code page of the document's language; the ANSI code page for the others.
unsigned CodePageOfLanguage(unsigned lid)
{
    switch (lid & 0x3FF) {
    case 0x12: return 949;                           // Korean
    case 0x11: return 932;                           // Japanese
    case 0x04: return (lid == 0x0404 || lid == 0x0C04) ? 950 : 936;  // Chinese
    case 0x19: case 0x22: case 0x23: case 0x02: case 0x1C0: case 0x2F: return 1251;  // Cyrillic
    case 0x05: case 0x0E: case 0x15: case 0x18: case 0x1B: case 0x24: case 0x1A: case 0x1C: return 1250;
    case 0x08: return 1253;
    case 0x1F: return 1254;
    case 0x0D: return 1255;
    case 0x01: return 1256;
    case 0x25: case 0x26: case 0x27: return 1257;
    case 0x1E: return 874;
    case 0x09: case 0x07: case 0x0C: case 0x0A: case 0x10: case 0x13: case 0x14: case 0x16:
    case 0x1D: case 0x06: case 0x0B: case 0x0F: case 0x03: case 0x2D: case 0x36:
        return 1252;
    default:
        return 949;
    }
}

}  // namespace

CMSWord2Text::CMSWord2Text(CTextCollector* collector) : m_pCollector(collector) {}

CMSWord2Text::~CMSWord2Text() = default;

bool CMSWord2Text::IsWord6Ident(std::uint16_t ident)
{
    return ident == 0x8098 || ident == 0x8099 || ident == 0xA5DC || ident == 0xA697 || ident == 0xA698 ||
           ident == 0xA699;
}

std::uint32_t CMSWord2Text::U32(size_t off) const
{
    if (off > m_doc.size() || m_doc.size() - off < 4)
        return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(m_doc.data()) + off;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

std::uint16_t CMSWord2Text::U16(size_t off) const
{
    if (off > m_doc.size() || m_doc.size() - off < 2)
        return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(m_doc.data()) + off;
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

bool CMSWord2Text::InTables(std::uint32_t fc, std::uint32_t lcb, std::uint32_t minimum) const
{
    const size_t size = m_doc.size();
    return lcb > minimum && fc < size && lcb <= size - fc;
}

namespace {

bool ReadWordStream(plat::CfbStorage* root, std::string& out, std::uint64_t limit)
{
    out.clear();
    if (!root)
        return false;
    plat::CfbPtr<plat::CfbStream> stream;
    if (!OpenChildStream(root, u"WordDocument", stream.put()))
        return false;
    std::uint64_t size = 0;
    if (!StreamSize(stream.get(), &size))
        return false;
    size = std::min<std::uint64_t>(size, limit);
    out.resize(static_cast<size_t>(size));
    size_t got = 0;
    while (got < out.size()) {
        std::uint32_t want = static_cast<std::uint32_t>(std::min<size_t>(out.size() - got, 1u << 20));
        std::uint32_t n = 0;
        // A stream that ends before its size cannot be read.
        if (!ReadStreamBytes(stream.get(), out.data() + got, want, &n) || n == 0)
            return false;
        got += n;
    }
    return true;
}

}  // namespace

bool CMSWord2Text::Convert(const char16_t* path)
{
    if (!path)
        return false;
    const plat::CfbPtr<plat::CfbStorage> root = OpenRootStorage(path);
    if (!root)
        return false;
    return ConvertStorage(root.get());
}

bool CMSWord2Text::ConvertStorage(plat::CfbStorage* root)
{
    m_doc.clear();
    m_pieces.clear();
    m_runs.clear();
    m_runCursor = 0;
    m_pendingBytes.clear();
    m_output.clear();
    const bool opened = Open(root);
    if (opened)
        ConvertBody();
    m_doc.clear();
    m_doc.shrink_to_fit();
    return opened;
}

bool CMSWord2Text::Open(plat::CfbStorage* root)
{
    // The text of a rights-protected document is encrypted elsewhere.
    if (HoldsProtectedContent(root))
        return false;
    if (!ReadWordStream(root, m_doc, kMaxStreamBytes))
        return false;
    return ReadFib();
}

bool CMSWord2Text::ReadFib()
{
    if (m_doc.size() < 2)
        return false;
    m_ident = U16(0);
    if (!IsWord6Ident(m_ident))
        return false;
    const FibLayout& fib = kFib6;
    if (m_doc.size() < fib.size)
        return false;
    const unsigned char flagsHigh = static_cast<unsigned char>(m_doc[kFibFlags + 1]);
    if (flagsHigh & 0x01)
        return false;  // encrypted
    m_charBytes = m_ident == 0xA5DC ? 1 : 2;
    for (int k = 0; k < 8; ++k) {
        std::int32_t v = static_cast<std::int32_t>(U32(fib.ccpText + 4 * k));
        if (v < 0)
            plat::NoteDamage("본문 길이 손상");
        m_ccp[k] = v < 0 ? 0 : v;
    }
    // The text ends inside the stream.
    if (U32(kFibFcMac) > m_doc.size())
        plat::NoteDamage("스트림이 잘림");
    m_codePage = CodePageOfLanguage(U16(kFibLid));
    // Word 6/95 for the Macintosh keeps Western text in Mac Roman. The FIB
    // says so by the text's character set; a document made on a Macintosh
    // carries it with the "last saved on a Macintosh" flag clear, and one
    // saved there last has the flag. A character set of neither kind is
    // judged by the environment the document was made in.
    if (m_codePage == 1252) {
        const std::uint16_t chse = U16(kFibChse);
        const bool savedOnMac = (static_cast<unsigned char>(m_doc[kFibMacFlags]) & 0x01) != 0;
        const bool madeOnMac = static_cast<unsigned char>(m_doc[kFibEnvr]) == 1;
        if (chse == kChseMac || savedOnMac || (chse != kChseWindows && madeOnMac))
            m_codePage = kCpMacRoman;
    }
    return true;
}

unsigned CMSWord2Text::ChooseCodePage() const
{
    return m_codePage;
}

void CMSWord2Text::ReadPieces()
{
    m_pieces.clear();
    const FibLayout& fib = kFib6;
    const std::uint32_t fcClx = U32(fib.clx);
    const std::uint32_t lcbClx = U32(fib.clx + 4);
    // A fast-saved (complex) document keeps its text in pieces.
    if (lcbClx == 0 && (static_cast<unsigned char>(m_doc[kFibFlags]) & kFibComplex))
        plat::NoteDamage("조각 표 없음");
    const std::uint64_t docSize = m_doc.size();
    std::uint64_t total = 0;
    for (std::int32_t c : m_ccp)
        total += static_cast<std::uint64_t>(c);
    if (lcbClx == 0) {
        // Text at the FIB's start position, one run of characters.
        const std::uint32_t fcMin = U32(kFibFcMin);
        if (total > 0 && (fcMin < kFib6.size || fcMin >= docSize || (docSize - fcMin) / m_charBytes < total))
            plat::NoteDamage("본문 길이가 스트림을 넘음");
        if (fcMin >= docSize)
            return;
        std::uint64_t room = (docSize - fcMin) / m_charBytes;
        std::uint64_t n = std::min(total, room);
        if (n)
            m_pieces.push_back({0, static_cast<std::uint32_t>(n), fcMin, m_charBytes});
        return;
    }
    if (!InTables(fcClx, lcbClx)) {
        plat::NoteDamage("표가 스트림을 넘음");
        return;
    }
    const size_t end = fcClx + lcbClx;
    size_t off = fcClx;
    bool loaded = false;
    while (off < end) {
        const unsigned char type = static_cast<unsigned char>(m_doc[off]);
        if (type == 1) {
            if (end - off < 3)
                break;
            size_t len = U16(off + 1);
            off += 3 + len;
            continue;
        }
        if (type != 2 || end - off < 5) {
            plat::NoteDamage("조각 표 손상");
            m_pieces.clear();
            return;
        }
        std::uint32_t size = U32(off + 1);
        if (size > end - off - 5) {
            plat::NoteDamage("조각 표 길이 불일치");
            m_pieces.clear();
            return;
        }
        // A piece table of whole pieces, and only one of them.
        if (size < 4 || (size - 4) % 12 != 0 || loaded)
            plat::NoteDamage("조각 표 길이 불일치");
        if (!loaded && size > 4) {
            const size_t plc = off + 5;
            const size_t n = (size - 4) / 12;
            std::uint32_t cpPrev = 0;
            for (size_t i = 0; i < n; ++i) {
                std::uint32_t cp0 = U32(plc + 4 * i);
                std::uint32_t cp1 = U32(plc + 4 * (i + 1));
                std::uint32_t fc = U32(plc + 4 * (n + 1) + 8 * i + 2);
                int width = m_charBytes;
                // Pieces out of order or of no length are passed over, and a
                // piece is read as far as the stream holds it: either is
                // damage.
                if (cp1 <= cp0 || cp0 < cpPrev) {
                    plat::NoteDamage("조각 표 손상");
                    continue;
                }
                if (fc >= docSize) {
                    plat::NoteDamage("조각이 스트림을 넘음");
                    continue;
                }
                std::uint64_t room = (docSize - fc) / width;
                std::uint64_t len = std::min<std::uint64_t>(cp1 - cp0, room);
                if (len < cp1 - cp0)
                    plat::NoteDamage("조각이 스트림을 넘음");
                if (len == 0)
                    continue;
                m_pieces.push_back({cp0, static_cast<std::uint32_t>(cp0 + len), fc, width});
                cpPrev = cp1;
            }
        }
        loaded = true;
        off += 5 + size;
    }
    if (off != end) {
        plat::NoteDamage("조각 표 손상");
        m_pieces.clear();
    }
}

unsigned CMSWord2Text::CharAt(std::uint32_t cp) const
{
    auto piece = std::upper_bound(m_pieces.begin(), m_pieces.end(), cp,
                                  [](std::uint32_t v, const Piece& p) { return v < p.cpLast; });
    if (piece == m_pieces.end() || cp < piece->cpFirst)
        return 0;
    const std::uint64_t fc = piece->fc + static_cast<std::uint64_t>(cp - piece->cpFirst) * piece->width;
    if (fc + piece->width > m_doc.size())
        return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(m_doc.data()) + fc;
    // Two-byte text: the low byte decides.
    return p[0];
}

void CMSWord2Text::CheckPieces()
{
    std::uint64_t total = 0;
    for (std::int32_t c : m_ccp)
        total += static_cast<std::uint64_t>(c);
    // The pieces run from the first character, hold every story the FIB
    // names, and lie behind the FIB, apart from the formatted pages; pieces
    // may share text read the same way, but a piece that runs partly into
    // another one's text, or reads it with another width, contradicts it.
    if (m_pieces.empty()) {
        if (total > 0)
            plat::NoteDamage("본문 길이가 조각을 넘음");
        return;
    }
    if (m_pieces.front().cpFirst != 0)
        plat::NoteDamage("조각 표 손상");
    if (m_pieces.back().cpLast < total)
        plat::NoteDamage("본문 길이가 조각을 넘음");
    else if (m_pieces.back().cpLast > total + 1)
        plat::NoteDamage("조각이 본문 길이를 넘음");
    // Every story ends with a paragraph mark (or another mark).
    std::uint64_t end = 0;
    for (std::int32_t c : m_ccp) {
        end += static_cast<std::uint64_t>(c);
        if (c > 0 && end <= 0xFFFFFFFFu && CharAt(static_cast<std::uint32_t>(end - 1)) >= 0x20)
            plat::NoteDamage("본문 끝 손상");
    }
    std::vector<WordTextRange> ranges;
    for (const Piece& p : m_pieces)
        ranges.push_back({p.fc, p.fc + static_cast<std::int64_t>(p.cpLast - p.cpFirst) * p.width, p.width});
    CheckTextRanges(std::move(ranges), kFib6.size, m_pages);
}

namespace {

// Walks a one-byte property list, calling apply(code, operand, operand
// length) per code; false when the list ended at an unknown code or a code
// apply refused.
template <class Apply>
bool WalkOneByteList(const unsigned char* list, int length, Apply&& apply)
{
    int i = 0;
    while (length - i >= 2) {
        const int code = list[i];
        const unsigned char* op = list + i + 1;
        const int len = OperandBytes(code, op, length - i - 1);
        if (len < 0 || !apply(code, op, len))
            return false;
        i += 1 + len;
    }
    return true;
}

}  // namespace

bool CMSWord2Text::ApplyOneByteList(const unsigned char* list, int length, Run& run)
{
    return WalkOneByteList(list, length, [&run](int code, const unsigned char* op, int len) {
        switch (code) {
        case 68:  // picture position
            if (op[0] != 4)
                return false;
            run.special = true;
            break;
        case 74:  // symbol
            if (op[0] != 3)
                return false;
            run.special = true;
            break;
        case 117:  // special character
            if (len >= 1)
                run.special = (op[0] & 1) != 0;
            break;
        case 93:
            run.font = op[0] | (op[1] << 8);
            break;
        case 80:
            run.style = static_cast<std::uint16_t>(op[0] | (op[1] << 8));
            break;
        default:
            break;
        }
        return true;
    });
}

template <class Visit>
void CMSWord2Text::WalkPropertyPages(size_t fibOffset, size_t entryBytes, Visit&& visit)
{
    // n + 1 stream positions, then n page numbers of two bytes.
    const std::uint32_t fc = U32(fibOffset);
    const std::uint32_t lcb = U32(fibOffset + 4);
    if (!InTables(fc, lcb, 4)) {
        if (lcb != 0)
            plat::NoteDamage("서식 표 손상");
        return;
    }
    const size_t pnBytes = kFib6.pageNumberBytes;
    const size_t n = (lcb - 4) / (4 + pnBytes);
    if ((lcb - 4) % (4 + pnBytes) != 0)
        plat::NoteDamage("서식 표 길이 불일치");
    const size_t maxPages = m_doc.size() / kPageSize + 1;
    size_t pagesRead = 0;
    for (size_t i = 0; i < n; ++i) {
        std::uint32_t expected = U32(fc + 4 * i);
        const std::uint32_t limit = U32(fc + 4 * (i + 1));
        std::uint32_t pn = U16(fc + 4 * (n + 1) + pnBytes * i);
        // A range may run over several consecutive pages. A page past the
        // stream, one that does not start where the bin table says or that
        // does not hold its runs ends the walk, leaving runs unread.
        for (;;) {
            if (pagesRead++ >= maxPages) {
                plat::NoteDamage("서식 표 손상");
                return;
            }
            const std::uint64_t page64 = static_cast<std::uint64_t>(pn) * kPageSize;
            if (page64 + kPageSize > m_doc.size()) {
                plat::NoteDamage("서식 페이지가 스트림을 넘음");
                return;
            }
            const size_t page = static_cast<size_t>(page64);
            m_pages.push_back(page);
            const unsigned char* p = reinterpret_cast<const unsigned char*>(m_doc.data()) + page;
            const int crun = p[511];
            const size_t entries = 4 * (crun + 1);
            if (crun < 1 || crun > 128 || U32(page) != expected ||
                entries + entryBytes * static_cast<size_t>(crun) > 511) {
                plat::NoteDamage("서식 페이지 손상");
                return;
            }
            std::uint32_t last = 0;
            for (int k = 0; k < crun; ++k) {
                const std::uint32_t first = U32(page + 4 * k);
                last = U32(page + 4 * (k + 1));
                if (last <= first)
                    plat::NoteDamage("서식 페이지 손상");
                const size_t record = 2 * static_cast<size_t>(p[entries + entryBytes * k]);
                visit(p, first, last, record < 511 ? record : 0);
            }
            if (last >= limit)
                break;
            if (last <= expected) {
                plat::NoteDamage("서식 페이지 손상");
                break;
            }
            expected = last;
            ++pn;
        }
    }
}

void CMSWord2Text::ReadCharacterRuns()
{
    m_runs.clear();
    // Entries: one word offset per run; the record is {length, list}.
    WalkPropertyPages(kFib6.chpxBin, 1,
                      [this](const unsigned char* p, std::uint32_t first, std::uint32_t last, size_t rec) {
                          Run run;
                          run.first = first;
                          run.last = last;
                          if (rec) {
                              // The list stays inside its page.
                              if (p[rec] > 511 - rec - 1)
                                  plat::NoteDamage("서식 페이지 손상");
                              const int len = std::min<int>(p[rec], static_cast<int>(511 - rec - 1));
                              ApplyOneByteList(p + rec + 1, len, run);
                          }
                          if (run.last > run.first)
                              m_runs.push_back(run);
                      });
    std::stable_sort(m_runs.begin(), m_runs.end(), [](const Run& a, const Run& b) { return a.first < b.first; });
}

namespace {

// The table codes of a paragraph list: the in-table and row-end flags, and
// the table properties the row-end code creates: the cell count and the
// cell descriptors' flags, with the edits that insert, delete and vertically
// merge cells. Edits outside the row's cells or beyond 32 cells are ignored.
void ApplyTableCode(int code, const unsigned char* op, int len, CMSWord2Text::Para& para)
{
    constexpr int kMax = CMSWord2Text::kMaxCells;
    constexpr int descriptorBytes = 10;
    switch (code) {
    case 24:
        para.inTable = op[0] != 0;
        break;
    case 25:
        para.rowEnd = op[0] != 0;
        para.tableProps = true;
        break;
    case 188:
    case 190: {
        // Length, cell count, count + 1 boundaries, then cell descriptors
        // (10 bytes) starting with their flags (missing ones stay clear).
        if (!para.tableProps || len < 3)
            break;
        const int cells = op[2];
        if (cells < 1 || cells > kMax)
            break;
        para.cellCount = cells;
        std::fill(std::begin(para.cellFlags), std::end(para.cellFlags), 0);
        const int descriptors = 3 + 2 * (cells + 1);
        for (int c = 0; c < cells && descriptors + descriptorBytes * (c + 1) <= len; ++c)
            para.cellFlags[c] = static_cast<std::uint16_t>(I16(op + descriptors + descriptorBytes * c));
        break;
    }
    case 194: {  // insert: first cell, count, width
        const int at = op[0];
        const int count = op[1];
        if (!para.tableProps || at > para.cellCount || para.cellCount + count > kMax)
            break;
        std::copy_backward(para.cellFlags + at, para.cellFlags + para.cellCount,
                           para.cellFlags + para.cellCount + count);
        std::fill(para.cellFlags + at, para.cellFlags + at + count, 0);
        para.cellCount += count;
        break;
    }
    case 195: {  // delete: cells [first, limit)
        const int first = op[0];
        const int limit = op[1];
        if (!para.tableProps || first >= limit || limit > para.cellCount)
            break;
        std::copy(para.cellFlags + limit, para.cellFlags + para.cellCount, para.cellFlags + first);
        para.cellCount -= limit - first;
        std::fill(para.cellFlags + para.cellCount, para.cellFlags + kMax, 0);
        break;
    }
    case 204: {  // vertical merge: length byte, then {cell, value} pairs
        if (!para.tableProps)
            break;
        for (int k = 1; k + 1 < len; k += 2) {
            const int cell = op[k];
            if (cell >= para.cellCount)
                continue;
            std::uint16_t& f = para.cellFlags[cell];
            f &= static_cast<std::uint16_t>(~(CMSWord2Text::kCellVertMerged | CMSWord2Text::kCellVertRestart));
            if (op[k + 1] & 1)
                f |= CMSWord2Text::kCellVertMerged;
            if (op[k + 1] & 2)
                f |= CMSWord2Text::kCellVertRestart;
        }
        break;
    }
    default:
        break;
    }
}

}  // namespace

void CMSWord2Text::ApplyParagraphList(const unsigned char* list, int length, Para& para)
{
    WalkOneByteList(list, length, [&para](int code, const unsigned char* op, int len) {
        ApplyTableCode(code, op, len, para);
        return true;
    });
}

void CMSWord2Text::ReadParagraphRuns()
{
    m_paras.clear();
    m_paraCursor = 0;
    // Entries: a word offset and the height cache (6 bytes); the record is
    // {word count, style index, list}.
    WalkPropertyPages(kFib6.papxBin, kFib6.papxEntryBytes,
                      [this](const unsigned char* p, std::uint32_t first, std::uint32_t last, size_t rec) {
                          Para para;
                          para.first = first;
                          para.last = last;
                          if (rec && rec < 511) {
                              if (2 * p[rec] > 511 - rec - 1)
                                  plat::NoteDamage("서식 페이지 손상");
                              const int bytes = std::min<int>(2 * p[rec], static_cast<int>(511 - rec - 1));
                              if (bytes > 2)
                                  ApplyParagraphList(p + rec + 3, bytes - 2, para);
                          }
                          if (para.last > para.first && (para.inTable || para.rowEnd))
                              m_paras.push_back(para);
                      });
    std::stable_sort(m_paras.begin(), m_paras.end(), [](const Para& a, const Para& b) { return a.first < b.first; });
}

namespace {

// The range of a list sorted by start that holds fc, tried first at the
// cursor (reads go forward) and then by binary search; the cursor follows.
template <class Range>
const Range* RangeAt(const std::vector<Range>& ranges, size_t& cursor, std::uint32_t fc)
{
    if (ranges.empty())
        return nullptr;
    if (cursor < ranges.size() && ranges[cursor].first <= fc && fc < ranges[cursor].last)
        return &ranges[cursor];
    auto it = std::upper_bound(ranges.begin(), ranges.end(), fc,
                               [](std::uint32_t v, const Range& r) { return v < r.first; });
    if (it == ranges.begin())
        return nullptr;
    --it;
    if (fc >= it->last)
        return nullptr;
    cursor = static_cast<size_t>(it - ranges.begin());
    return &*it;
}

}  // namespace

const CMSWord2Text::Para* CMSWord2Text::ParaAt(std::uint32_t fc)
{
    return RangeAt(m_paras, m_paraCursor, fc);
}

void CMSWord2Text::ReadFonts()
{
    m_fontCodePages.clear();
    const std::uint32_t fc = U32(kFib6.fonts);
    const std::uint32_t lcb = U32(kFib6.fonts + 4);
    if (lcb <= 2 || fc >= m_doc.size() || lcb > m_doc.size() - fc) {
        if (lcb != 0)
            plat::NoteDamage("글꼴 표 손상");
        return;
    }
    const std::uint32_t total = std::min<std::uint32_t>(U16(fc), lcb);
    std::uint32_t off = 2;
    while (off < total) {
        if (m_fontCodePages.size() >= 4096) {
            plat::NoteDamage("한도에 이르러 건너뜀");
            break;
        }
        const unsigned cb = static_cast<unsigned char>(m_doc[fc + off]) + 1u;
        if (off + cb > total || cb < 6) {
            plat::NoteDamage("글꼴 표 손상");
            break;
        }
        m_fontCodePages.push_back(CodePageOfFontCharset(static_cast<unsigned char>(m_doc[fc + off + 4])));
        off += cb;
    }
}

unsigned CMSWord2Text::CodePageOfRun(const Run* run) const
{
    if (run && run->font >= 0 && static_cast<size_t>(run->font) < m_fontCodePages.size() &&
        m_fontCodePages[run->font] != 0)
        return m_fontCodePages[run->font];
    return m_codePage;
}

const CMSWord2Text::Run* CMSWord2Text::RunAt(std::uint32_t fc)
{
    return RangeAt(m_runs, m_runCursor, fc);
}

void CMSWord2Text::Emit(const std::u16string& text)
{
    FlushBytes();
    m_output += text;
    if (m_output.size() >= kOutputChunk && m_pCollector) {
        AppendTextToCollector(m_pCollector, m_output.c_str(), static_cast<int>(m_output.size()), u"");
        m_output.clear();
    }
}

void CMSWord2Text::FlushBytes()
{
    if (m_pendingBytes.empty())
        return;
    std::u16string wide = plat::DecodeCodePage(m_bytesCodePage, m_pendingBytes);
    m_pendingBytes.clear();
    for (char16_t c : wide) {
        if (c != 0)
            m_output.push_back(c);
    }
}

const CMSWord2Text::Para* CMSWord2Text::FindRowEnd(std::uint32_t cp, std::uint32_t cpLast, std::uint32_t& stopCp)
{
    stopCp = cp;
    auto piece = std::upper_bound(m_pieces.begin(), m_pieces.end(), cp,
                                  [](std::uint32_t v, const Piece& p) { return v < p.cpLast; });
    while (piece != m_pieces.end() && cp < cpLast) {
        if (cp < piece->cpFirst)
            cp = piece->cpFirst;
        const std::uint32_t to = std::min(piece->cpLast, cpLast);
        while (cp < to) {
            const int w = piece->width;
            const std::uint64_t fc = piece->fc + static_cast<std::uint64_t>(cp - piece->cpFirst) * w;
            stopCp = cp;
            const Para* para = fc <= 0xFFFFFFFFu ? ParaAt(static_cast<std::uint32_t>(fc)) : nullptr;
            if (!para || !para->inTable)
                return nullptr;
            if (para->rowEnd)
                return para;
            // On to the first character after this paragraph (it ends past fc).
            const std::uint64_t skip = (para->last - fc + w - 1) / w;
            cp = static_cast<std::uint32_t>(std::min<std::uint64_t>(to, cp + std::max<std::uint64_t>(skip, 1)));
        }
        ++piece;
    }
    stopCp = cpLast;
    return nullptr;
}

void CMSWord2Text::WriteStory(int story, std::uint32_t cpFirst, std::uint32_t cpLast)
{
    std::vector<char> fields;  // per open field: 1 while in its instruction
    int hiddenLevels = 0;
    auto hidden = [&] { return hiddenLevels > 0; };
    // Table state: a cell starts after a cell mark, a row end or outside a
    // table; the row end of the current row is looked up once per row.
    bool inTable = false;
    bool atCellStart = true;
    bool skipCell = false;
    int cellIndex = 0;
    bool rowKnown = false;
    std::uint32_t rowValidTo = 0;
    const Para* rowEnd = nullptr;
    for (const Piece& piece : m_pieces) {
        if (piece.cpLast <= cpFirst || piece.cpFirst >= cpLast)
            continue;
        const std::uint32_t from = std::max(piece.cpFirst, cpFirst);
        const std::uint32_t to = std::min(piece.cpLast, cpLast);
        const int w = piece.width;
        for (std::uint32_t cp = from; cp < to; ++cp) {
            const std::uint64_t fc64 = piece.fc + static_cast<std::uint64_t>(cp - piece.cpFirst) * w;
            if (fc64 + w > m_doc.size()) {
                plat::NoteDamage("조각이 스트림을 넘음");
                break;
            }
            const std::uint32_t fc = static_cast<std::uint32_t>(fc64);
            const unsigned char* p = reinterpret_cast<const unsigned char*>(m_doc.data()) + fc;
            const unsigned unit = w == 2 ? (p[0] | (p[1] << 8)) : p[0];
            const Para* para = ParaAt(fc);
            if (para && para->inTable && para->rowEnd) {
                // The row-end mark writes nothing: its cells already ended
                // with their own marks. The next row counts from its first cell.
                cellIndex = 0;
                atCellStart = true;
                skipCell = false;
                continue;
            }
            if (para && para->inTable) {
                if (atCellStart) {
                    atCellStart = false;
                    if (!inTable) {
                        inTable = true;
                        cellIndex = 0;
                    }
                    if (!rowKnown || cp > rowValidTo) {
                        rowEnd = FindRowEnd(cp, cpLast, rowValidTo);
                        rowKnown = true;
                    }
                    skipCell = false;
                    if (rowEnd && rowEnd->tableProps && rowEnd->cellCount > 0) {
                        // Cells beyond the row's count, and cells merged
                        // into the cell above them, write nothing.
                        if (cellIndex >= rowEnd->cellCount) {
                            skipCell = true;
                        } else {
                            const std::uint16_t flags = rowEnd->cellFlags[cellIndex++];
                            skipCell = (flags & kCellVertMerged) && !(flags & kCellVertRestart);
                        }
                    } else {
                        ++cellIndex;
                    }
                }
                if (unit == 7)
                    atCellStart = true;  // the cell mark ends the cell
                if (skipCell)
                    continue;
            } else {
                inTable = false;
                atCellStart = true;
                skipCell = false;
            }
            const Run* run = RunAt(fc);
            if (run && !m_inNote) {
                for (int kind = 0; kind < 3; ++kind) {
                    if (m_notes[kind].refStyle >= 0 && run->style == m_notes[kind].refStyle) {
                        // More reference marks than notes: the marks (text
                        // in the reference style, which writes nothing)
                        // cover characters that are none.
                        const NoteTable& t = m_notes[kind];
                        if (t.present && t.cps.size() >= 2 && t.next + 1 >= t.cps.size())
                            plat::NoteDamage("주석 참조 손상");
                        WriteNextNote(kind);
                        break;
                    }
                }
            }
            if (run && run->special) {
                // Two-byte text: the low byte decides.
                const unsigned ch = unit & 0xFF;
                if (ch == 19) {
                    fields.push_back(1);
                    ++hiddenLevels;
                } else if (ch == 20) {
                    if (!fields.empty() && fields.back()) {
                        fields.back() = 0;
                        --hiddenLevels;
                    }
                } else if (ch == 21) {
                    if (!fields.empty()) {
                        if (fields.back())
                            --hiddenLevels;
                        fields.pop_back();
                    }
                } else if (ch == 8 && story == 0) {
                    // A drawing object of the main text: its text boxes here.
                    WriteDrawingObject(cp);
                }
                continue;
            }
            if (hidden())
                continue;
            if (m_charBytes == 2) {
                char16_t c = static_cast<char16_t>(unit);
                switch (c) {
                case 0: case 1: case 2: case 8: case 31: break;
                case 11: case 12: case 14: Emit(u"\n"); break;
                case 30: Emit(u"-"); break;
                default:
                    if (c >= 0x20 || c == 9 || c == 13 || c == 7)
                        Emit(std::u16string(1, c));
                    break;
                }
            } else {
                unsigned char b = static_cast<unsigned char>(unit);
                switch (b) {
                case 0: case 1: case 2: case 8: case 31: break;
                case 11: case 12: case 14: Emit(u"\n"); break;
                case 30: Emit(u"-"); break;
                case 7: case 9: case 13: Emit(std::u16string(1, static_cast<char16_t>(b))); break;
                default:
                    if (b >= 0x20) {
                        const unsigned page = CodePageOfRun(run);
                        if (page != m_bytesCodePage) {
                            FlushBytes();
                            m_bytesCodePage = page;
                        }
                        m_pendingBytes.push_back(static_cast<char>(b));
                    }
                    break;
                }
            }
        }
    }
    FlushBytes();
}

void CMSWord2Text::WriteHeaders(std::uint32_t headerStart)
{
    if (m_ccp[2] == 0)
        return;
    const std::uint32_t fc = U32(kFib6.plcfhdd);
    const std::uint32_t lcb = U32(kFib6.plcfhdd + 4);
    if (!InTables(fc, lcb, 7)) {
        plat::NoteDamage("머리글 표 손상");  // a header story without its table
        return;
    }
    const size_t n = lcb / 4;
    // The stories' positions rise from the story's start to (at least) its
    // last paragraph mark.
    bool damaged = lcb % 4 != 0 || U32(fc) != 0 || U32(fc + 4 * (n - 1)) + 1 < static_cast<std::uint32_t>(m_ccp[2]);
    for (size_t i = 0; i + 1 < n; ++i)
        damaged = damaged || U32(fc + 4 * (i + 1)) < U32(fc + 4 * i);
    if (damaged)
        plat::NoteDamage("머리글 표 손상");
    int written = 0;
    for (size_t i = 0; i + 1 < n && written < 2; ++i) {
        const std::uint32_t a = U32(fc + 4 * i);
        const std::uint32_t b = U32(fc + 4 * (i + 1));
        if (b <= a || b - a <= 2)
            continue;
        if (b > static_cast<std::uint32_t>(m_ccp[2])) {
            plat::NoteDamage("머리글 표 손상");
            break;
        }
        WriteStory(2, headerStart + a, headerStart + b);
        ++written;
    }
}

void CMSWord2Text::ConvertBody()
{
    m_pages.clear();
    ReadPieces();
    ReadCharacterRuns();
    ReadParagraphRuns();
    CheckPieces();
    ReadFonts();
    m_bytesCodePage = m_codePage;
    if (m_pieces.empty())
        return;
    std::uint32_t start[9];
    std::uint64_t pos = 0;
    for (int k = 0; k < 8; ++k) {
        start[k] = static_cast<std::uint32_t>(std::min<std::uint64_t>(pos, 0xFFFFFFFFu));
        pos += static_cast<std::uint64_t>(m_ccp[k]);
    }
    start[8] = static_cast<std::uint32_t>(std::min<std::uint64_t>(pos, 0xFFFFFFFFu));
    std::copy(start, start + 9, m_storyStart);
    ReadStyleSheet();
    ReadNoteTables();
    ReadDrawingAnchors();
    WriteHeaders(start[2]);
    WriteStory(0, start[0], start[1]);  // main text, notes and text boxes at their marks
    WriteRemainingNotes(0);             // footnotes
    WriteRemainingNotes(2);             // annotations
    WriteRemainingNotes(1);             // endnotes
    WriteRemainingNotes(kTextBoxes);    // text boxes
    FlushBytes();
    if (!m_output.empty() && m_pCollector)
        AppendTextToCollector(m_pCollector, m_output.c_str(), static_cast<int>(m_output.size()), u"");
    m_output.clear();
}

void CMSWord2Text::ReadStyleSheet()
{
    for (NoteTable& t : m_notes)
        t.refStyle = -1;
    const std::uint32_t fc = U32(kFib6.stsh);
    const std::uint32_t lcb = U32(kFib6.stsh + 4);
    if (!InTables(fc, lcb, 3)) {
        if (lcb != 0)
            plat::NoteDamage("스타일 표 손상");
        return;
    }
    const std::uint32_t header = U16(fc);
    const std::uint32_t cstd = U16(fc + 2);
    std::uint64_t off = 2ull + header;
    for (std::uint32_t istd = 0; istd < cstd && off + 2 <= lcb; ++istd) {
        const std::uint32_t cb = U16(fc + off);
        if (cb >= 4 && off + 2 + cb <= lcb) {
            const unsigned sti = U16(fc + off + 2) & 0x0FFF;
            const unsigned sgc = U16(fc + off + 4) & 0x000F;
            int kind = -1;
            if (sti == kStiFootnoteRef)
                kind = 0;
            else if (sti == kStiEndnoteRef)
                kind = 1;
            else if (sti == kStiAnnotationRef)
                kind = 2;
            // Only character styles mark references; the first one counts.
            if (kind >= 0 && sgc == 2 && m_notes[kind].refStyle < 0)
                m_notes[kind].refStyle = static_cast<int>(istd);
        }
        off += 2ull + cb;
    }
    if (off > lcb)
        plat::NoteDamage("스타일 표 손상");  // a style's record runs past the style sheet
}

void CMSWord2Text::ReadNoteTables()
{
    const FibLayout& fib = kFib6;
    const size_t kTableAt[4] = {fib.ftnTxt, fib.ednTxt, fib.atnTxt, fib.txbxTxt};
    static const int kStory[4] = {1, 5, 4, 6};
    for (int kind = 0; kind < 4; ++kind) {
        NoteTable& t = m_notes[kind];
        t.present = false;
        t.cps.clear();
        t.next = 0;
        t.story = kStory[kind];
        const std::uint32_t fc = U32(kTableAt[kind]);
        const std::uint32_t lcb = U32(kTableAt[kind] + 4);
        if (!InTables(fc, lcb)) {
            if (lcb != 0)
                plat::NoteDamage("주석 표 손상");
            continue;
        }
        t.present = true;
        if (lcb <= 4)
            continue;
        const size_t n = (lcb - 4) / 4;
        t.cps.reserve(n + 1);
        for (size_t i = 0; i <= n; ++i) {
            const std::uint32_t cp = U32(fc + 4 * i);
            // The text-box positions may be followed by per-box data: they
            // end where the positions stop rising.
            if (kind == kTextBoxes && !t.cps.empty() && cp < t.cps.back())
                break;
            t.cps.push_back(cp);
        }
        // The positions of notes rise from the story's start to (at least)
        // its last paragraph mark. (The text boxes may carry data behind.)
        const std::uint32_t length = static_cast<std::uint32_t>(m_ccp[t.story]);
        bool damaged = t.cps.front() != 0 || t.cps.back() + 1 < length;
        for (size_t i = 0; i + 1 < t.cps.size() && kind != kTextBoxes; ++i)
            damaged = damaged || t.cps[i + 1] < t.cps[i] || t.cps[i + 1] > length;
        if (damaged)
            plat::NoteDamage("주석 표 손상");
    }
}

void CMSWord2Text::WriteNextNote(int kind)
{
    NoteTable& t = m_notes[kind];
    if (t.next + 1 >= t.cps.size())
        return;
    const std::uint32_t a = t.cps[t.next];
    const std::uint32_t b = t.cps[t.next + 1];
    ++t.next;
    const std::uint32_t length = static_cast<std::uint32_t>(m_ccp[t.story]);
    if (b <= a || b > length) {
        // A note of no length is no text; one past its story is damage.
        if (b > length)
            plat::NoteDamage("주석 표 손상");
        return;
    }
    const std::uint32_t base = m_storyStart[t.story];
    // A note ends with its paragraph mark (or another mark); one that ends
    // in its text does not end where the table says.
    if (CharAt(base + b - 1) >= 0x20)
        plat::NoteDamage("주석 끝 손상");
    FlushBytes();
    // Notes inside a note are not placed; notes inside a text box are.
    const bool wasInNote = m_inNote;
    if (kind != kTextBoxes)
        m_inNote = true;
    WriteStory(t.story, base + a, base + b);
    m_inNote = wasInNote;
}

void CMSWord2Text::ReadDrawingAnchors()
{
    m_anchors.clear();
    m_anchorNext = 0;
    const std::uint32_t fc = U32(kFib6.doaMom);
    const std::uint32_t lcb = U32(kFib6.doaMom + 4);
    if (lcb <= 4 || fc >= m_doc.size() || lcb > m_doc.size() - fc) {
        if (lcb != 0)
            plat::NoteDamage("그림 표 손상");
        return;
    }
    // n + 1 character positions, then n entries {object position, box count}.
    const size_t n = (lcb - 4) / 10;
    m_anchors.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        DrawingAnchor a;
        a.cp = U32(fc + 4 * i);
        a.fc = U32(fc + 4 * (n + 1) + 6 * i);
        a.boxes = U16(fc + 4 * (n + 1) + 6 * i + 4);
        // Entries must rise; a damaged one is left out.
        if (!m_anchors.empty() && a.cp <= m_anchors.back().cp) {
            plat::NoteDamage("그림 표 손상");
            continue;
        }
        m_anchors.push_back(a);
    }
}

void CMSWord2Text::WriteDrawingObject(std::uint32_t cp)
{
    // The entry of this anchor character: entries are taken in text order,
    // each once; an anchor character without an entry writes nothing.
    auto it = std::lower_bound(m_anchors.begin() + static_cast<std::ptrdiff_t>(m_anchorNext), m_anchors.end(), cp,
                               [](const DrawingAnchor& a, std::uint32_t v) { return a.cp < v; });
    if (it == m_anchors.end() || it->cp != cp)
        return;
    m_anchorNext = static_cast<size_t>(it - m_anchors.begin()) + 1;
    // The object: a 10-byte header whose second word is the object's size,
    // header included, then its primitives.
    const std::uint64_t at = it->fc;
    const std::uint32_t size = at + 12 > m_doc.size() ? 0 : U16(static_cast<size_t>(at) + 2);
    if (size < 10 || at + size > m_doc.size()) {
        plat::NoteDamage("그림이 스트림을 넘음");
        return;
    }
    const unsigned char* body = reinterpret_cast<const unsigned char*>(m_doc.data()) + at + 10;
    WalkDrawingPrimitives(body, size - 10);
}

void CMSWord2Text::WalkDrawingPrimitives(const unsigned char* primitives, size_t size)
{
    using namespace officeart;
    using namespace officeart::word6draw;
    // Each primitive is walked while its offset is below its list's limit
    // and it lies inside its list. A primitive of no length or past its list,
    // or a kind not known here, ends the list it is in; the walk goes on after
    // the group that holds the list.
    ReaderPolicy policy;
    policy.format = HeaderFormat::kWord6Primitive;
    policy.containerEnd = ContainerEnd::kByPosition;
    policy.pastParentIsDamage = true;
    policy.maxDepth = kMaxDrawingDepth;
    RecordReader walk(primitives, size, policy);
    Record r;
    for (;;) {
        const ReadResult read = walk.Read(r);
        if (read == ReadResult::kDamaged)
            plat::NoteDamage("그림 손상");
        bool listEnds = read != ReadResult::kRecord;
        if (!listEnds) {
            switch (r.header.type) {
            case kTextBox: case kTextBoxVariant:
            case kCallout: case kCalloutVariant:
                FlushBytes();
                WriteNextNote(kTextBoxes);
                break;
            case kGroup: {
                const std::uint64_t whole = r.end - r.offset;
                if (whole > kGroupTrailer && walk.OpenAt(r, kGroupChildOffset, whole - kGroupTrailer))
                    continue;
                break;
            }
            case kLine: case kRectangle: case kEllipse: case kArc: case kPolyline:
            case kEllipseVariant: case kArcVariant: case kPolylineVariant:
                break;  // other shapes
            case kGroupOnly:
                listEnds = walk.Depth() == 0;
                break;
            default:
                listEnds = true;
                break;
            }
        }
        if (listEnds) {
            if (walk.Depth() == 0)
                return;
            walk.SkipBody(walk.Close());
            continue;
        }
        walk.SkipBody(r);
    }
}

void CMSWord2Text::WriteRemainingNotes(int kind)
{
    NoteTable& t = m_notes[kind];
    const int story = t.story;
    if (!t.present || t.cps.size() < 2) {
        // No usable position table: the whole story as it stands.
        if (t.next == 0)
            WriteStory(story, m_storyStart[story], m_storyStart[story + 1]);
        return;
    }
    // Notes whose reference was never met keep their text.
    while (t.next + 1 < t.cps.size())
        WriteNextNote(kind);
}
