#include "office/word/msword97.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_set>

#include "extract/libstring.h"
#include "platform/docfile.h"

namespace {

constexpr std::size_t kInitialBuffer = 1024;

enum Story { kFootnotes = 0, kHeaders = 1, kComments = 2, kEndnotes = 3, kTextBoxes = 4, kHeaderTextBoxes = 5 };

std::int32_t ClampCp(std::int64_t v)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

void CTableHandler::Record(int depth, std::int64_t paragraphEnd, bool rowEnd)
{
    depth = std::clamp(depth, 1, 64);
    if (static_cast<int>(levels_.size()) < depth)
        levels_.resize(static_cast<std::size_t>(depth));
    CBaseTable& t = levels_[static_cast<std::size_t>(depth - 1)];
    t.depth = depth;
    if (rowEnd)
        ++t.rows;
    t.lastParagraphEnd = paragraphEnd;
}

CMSWord802Text::CMSWord802Text(CTextCollector* collector) : m_pCollector(collector)
{
    try {
        m_buffer.assign(kInitialBuffer, 0);
    } catch (const std::bad_alloc&) {
        SetLibraryError(kLibErrorOutOfMemory);
    }
}

CMSWord802Text::~CMSWord802Text() = default;

char16_t CMSWord802Text::MapCharacter(char16_t c)
{
    switch (c) {
    case 0x2D: return 0x2010;
    case 0x82: return 0x201A;
    case 0x83: return 0x0192;
    case 0x84: return 0x201E;
    case 0x85: return 0x2026;
    case 0x86: return 0x2020;
    case 0x87: return 0x2021;
    case 0x88: return 0x005E;
    case 0x89: return 0x2030;
    case 0x8A: return 0x0160;
    case 0x8B: return 0x2039;
    case 0x8C: return 0x0152;
    case 0x91: return 0x2018;
    case 0x92: return 0x2019;
    case 0x93: return 0x201C;
    case 0x94: return 0x201D;
    case 0x95: return 0x2022;
    case 0x96: return 0x2013;
    case 0x97: return 0x2015;
    case 0x98: return 0x02DC;
    case 0x99: return 0x2122;
    case 0x9A: return 0x0161;
    case 0x9B: return 0x203A;
    case 0x9C: return 0x0153;
    case 0x9F: return 0x0178;
    default: return c;
    }
}

// ---- Open ------------------------------------------------------------------------

int CMSWord802Text::OpenWordStorage(const char16_t* path)
{
    if (!path)
        return 0;
    m_storage = OpenRootStorage(path);
    return m_storage ? 1 : 0;
}

int CMSWord802Text::OpenWordDocumentStream()
{
    if (!m_storage)
        return 0;
    return OpenChildStream(m_storage.get(), u"WordDocument", m_wordDocument.put()) ? 1 : 0;
}

int CMSWord802Text::OpenTableStream(int which)
{
    if (!m_storage)
        return 0;
    const std::u16string name = which ? u"1Table" : u"0Table";
    return OpenChildStream(m_storage.get(), name, m_tableStream.put()) ? 1 : 0;
}

int CMSWord802Text::Convert(const char16_t* path)
{
    int ok = 0;
    if (OpenWordStorage(path))
        ok = Open() && WalkMainText();
    Release();
    return ok;
}

int CMSWord802Text::ConvertStorage(plat::CfbStorage* storage)
{
    int ok = 0;
    if (storage) {
        storage->AddRef();
        m_storage = plat::CfbPtr<plat::CfbStorage>(storage);
        ok = Open() && WalkMainText();
    }
    Release();
    return ok;
}

void CMSWord802Text::Release()
{
    m_wordDocument.reset();
    m_tableStream.reset();
    m_storage.reset();
}

int CMSWord802Text::Open()
{
    try {
        if (m_buffer.empty())
            return 0;
        // A rights-protected document keeps its text encrypted; what the
        // usual streams hold is a placeholder, not the document.
        if (HoldsProtectedContent(m_storage.get()))
            return 0;
        if (!OpenWordDocumentStream())
            return 0;
        std::string bytes;
        if (!ReadWholeStream(m_wordDocument.get(), &bytes))
            return 0;
        m_doc = WordBytes(std::move(bytes));

        m_pFib = std::make_unique<CMsWordFIB80>();
        if (!m_pFib->Load(m_doc) || m_pFib->Encrypted())
            return 0;
        const CMsWordFIB80& fib = *m_pFib;

        if (!OpenTableStream(fib.TableStreamNumber()))
            return 0;
        if (!ReadWholeStream(m_tableStream.get(), &bytes))
            return 0;
        m_table = WordBytes(std::move(bytes));

        m_pDop = std::make_unique<CMsWordDOP80>();
        if (!m_pDop->Load(m_table, fib))
            return 0;
        m_pPieces = std::make_unique<MsWordPieceTable>();
        if (!m_pPieces->Load(m_table, fib))
            return 0;
        m_pSepx = std::make_unique<CMsWordSepx>();
        if (!m_pSepx->Load(m_table, fib) || !m_pSepx->LoadProperties(m_doc))
            return 0;
        m_pChpx = std::make_unique<MsWordChpx>();
        if (!m_pChpx->LoadPageTable(m_table, fib, m_doc.size()) || !m_pChpx->LoadRuns(m_doc))
            return 0;
        m_pPapx = std::make_unique<MsWordPapx>();
        if (!m_pPapx->LoadPageTable(m_table, fib, m_doc.size()) || !m_pPapx->LoadRuns(m_storage.get(), m_doc))
            return 0;
        if (fib.I32(CMsWordFIB80::kCcpHdd) > 0) {
            m_pHeaderFooter = std::make_unique<CMsWordHeaderFooter>();
            if (!m_pHeaderFooter->Load(m_table, fib))
                return 0;
        }
        if (fib.I32(CMsWordFIB80::kLcbPlfLst) > 0) {
            m_pLists = std::make_unique<MsWordList>();
            if (!m_pLists->Load(m_table, fib))
                return 0;
        }
        if (fib.I32(CMsWordFIB80::kCcpEdn) > 0) {
            m_pEndNotes = std::make_unique<MsWordEndNote>();
            if (!m_pEndNotes->Load(m_table, fib))
                return 0;
        }
        if (fib.I32(CMsWordFIB80::kCcpFtn) > 0) {
            m_pFootNotes = std::make_unique<MsWordFootNote>();
            if (!m_pFootNotes->Load(m_table, fib))
                return 0;
        }
        if (fib.I32(CMsWordFIB80::kCcpAtn) > 0) {
            m_pComments = std::make_unique<MsWordComments>();
            if (!m_pComments->Load(m_table, fib))
                return 0;
        }
        if (fib.I32(CMsWordFIB80::kLcbSttbfBkmk) > 0) {
            m_pBookmarks = std::make_unique<MsWordBookMark>();
            if (!m_pBookmarks->Load(m_table, fib))
                return 0;
        }
        (void)m_field.HasControls();
        m_pShapes = std::make_unique<WordDrawingData>();
        m_pShapes->SetOwnerValue(reinterpret_cast<std::intptr_t>(m_wordDocument.get()));
        if (fib.I32(CMsWordFIB80::kLcbPlcSpaHdr) >= 1 || fib.I32(CMsWordFIB80::kLcbPlcSpaMom) >= 1) {
            if (!m_pShapes->LoadAnchors(m_table, fib))
                return 0;
        }
        if (!m_pShapes->Load(m_table, fib))
            return 0;
        CheckStructures();
        return 1;
    } catch (const std::bad_alloc&) {
        SetLibraryError(kLibErrorOutOfMemory);
        return 0;
    }
}

void CMSWord802Text::CheckStructures()
{
    using F = CMsWordFIB80;
    const CMsWordFIB80& fib = *m_pFib;
    // The FIB of this generation is 898 bytes at least, and the stream holds
    // every byte the FIB says has meaning.
    if (m_doc.size() < F::kSize)
        plat::NoteDamage("FIB가 잘림");
    if (fib.U32(F::kCbMac) > m_doc.size())
        plat::NoteDamage("스트림이 잘림");
    // Every block the reader takes from the table stream lies inside it.
    static const std::uint32_t kBlocks[] = {
        F::kFcPlcffndRef, F::kFcPlcffndTxt, F::kFcPlcfSed,    F::kFcPlcfHdd,      F::kFcPlcfBteChpx,
        F::kFcPlcfBtePapx, F::kFcSttbfBkmk, F::kFcPlcfBkf,    F::kFcDop,          F::kFcClx,
        F::kFcPlcSpaMom,   F::kFcPlcSpaHdr, F::kFcPlcfendRef, F::kFcPlcfendTxt,   F::kFcDggInfo,
        F::kFcPlcftxbxTxt, F::kFcPlcfHdrtxbxTxt, F::kFcPlfLst, F::kFcPlfLfo, F::kFcPlcfandRef, F::kFcPlcfandTxt,
    };
    for (std::uint32_t at : kBlocks)
        if (!m_table.Holds(fib.U32(at), fib.I32(at + 4)))
            plat::NoteDamage("표가 스트림을 넘음");

    // The stories the FIB names (and the final paragraph mark behind them
    // when there is more than the main text) lie in the pieces.
    static const std::uint32_t kStories[] = {F::kCcpText, F::kCcpFtn, F::kCcpHdd, F::kCcpMcr,
                                             F::kCcpAtn,  F::kCcpEdn, F::kCcpTxbx, F::kCcpHdrTxbx};
    std::int64_t total = 0;
    bool more = false;
    for (std::uint32_t at : kStories) {
        const std::int32_t n = fib.I32(at);
        if (n < 0)
            plat::NoteDamage("본문 길이 손상");
        total += std::max(n, 0);
        more = more || (at != F::kCcpText && n > 0);
    }
    if (more)
        total += 1;
    const std::vector<WordPiece>& pieces = m_pPieces->Pieces();
    if (!m_pPieces->Sorted() || (!pieces.empty() && pieces.front().cpStart != 0))
        plat::NoteDamage("조각 표 손상");
    // Every story ends with a mark (a paragraph's, a cell's, a field's).
    std::int64_t storyEnd = 0;
    for (std::uint32_t at : kStories) {
        storyEnd += std::max(fib.I32(at), 0);
        if (fib.I32(at) > 0 && CharAt(storyEnd - 1) >= 0x20)
            plat::NoteDamage("본문 끝 손상");
    }
    if (m_pPieces->LastCp() < total)
        plat::NoteDamage("본문 길이가 조각을 넘음");
    else if (m_pPieces->LastCp() > total)
        plat::NoteDamage("조각이 본문 길이를 넘음");
    // Each piece's text lies in the stream, behind the FIB and apart from
    // the formatted pages and the text of other pieces.
    std::vector<WordTextRange> ranges;
    for (const WordPiece& p : pieces) {
        if (p.fcStart < 0 || p.fcEnd < p.fcStart || static_cast<std::uint64_t>(p.fcEnd) > m_doc.size())
            plat::NoteDamage("조각이 스트림을 넘음");
        else if (p.fcEnd > p.fcStart)
            ranges.push_back({p.fcStart, p.fcEnd, p.compressed ? 1 : 2});
    }
    // Without a fast save the text is where the FIB says, in one block.
    if (!(fib.U16(F::kFlags) & F::kComplex))
        for (const WordTextRange& r : ranges)
            if (r.start < fib.I32(F::kFcMin) || r.end > fib.I32(F::kFcMac))
                plat::NoteDamage("조각이 본문 밖을 가리킴");
    std::vector<std::uint64_t> pages = m_pChpx->Pages();
    pages.insert(pages.end(), m_pPapx->Pages().begin(), m_pPapx->Pages().end());
    CheckTextRanges(std::move(ranges), F::kSize, pages);
    // Each section has its group of header stories.
    if (m_pHeaderFooter && m_pHeaderFooter->GroupCount() < m_pSepx->Count() + 1)
        plat::NoteDamage("머리글 표 손상");
}

char16_t CMSWord802Text::CharAt(std::int64_t cp) const
{
    if (cp < 0 || cp > INT32_MAX)
        return 0;
    const int i = m_pPieces->Find(static_cast<std::int32_t>(cp));
    if (i >= m_pPieces->Count())
        return 0;
    const WordPiece& p = m_pPieces->Pieces()[static_cast<std::size_t>(i)];
    const std::uint64_t fc = static_cast<std::uint64_t>(m_pPieces->FcOf(static_cast<std::int32_t>(cp)));
    return p.compressed ? m_doc.U8(fc) : m_doc.U16(fc);
}

bool CMSWord802Text::EndsStory(std::int64_t cp) const
{
    const char16_t c = CharAt(cp);
    return c == 13 || c == 7;
}

std::int64_t CMSWord802Text::StoryBase(int which) const
{
    const CMsWordFIB80& f = *m_pFib;
    std::int64_t base = f.I32(CMsWordFIB80::kCcpText);
    if (which >= kHeaders)
        base += f.I32(CMsWordFIB80::kCcpFtn);
    if (which >= kComments)
        base += f.I32(CMsWordFIB80::kCcpHdd);
    if (which >= kEndnotes)
        base += f.I32(CMsWordFIB80::kCcpAtn);
    if (which >= kTextBoxes)
        base += f.I32(CMsWordFIB80::kCcpEdn);
    if (which >= kHeaderTextBoxes)
        base += f.I32(CMsWordFIB80::kCcpTxbx);
    return base;
}

// ---- Walk helpers --------------------------------------------------------------------

bool CMSWord802Text::ReadChar(std::int64_t fc, char16_t* c)
{
    // A position outside the stream ends the story, and so does the end of
    // the walk's budget: either leaves text unread.
    if (fc < 0 || static_cast<std::uint64_t>(fc) + m_nBytesPerChar > m_doc.size()) {
        plat::NoteDamage("조각이 스트림을 넘음");
        return false;
    }
    if (m_nBudget == 0) {
        plat::NoteDamage("한도에 이르러 건너뜀");
        return false;
    }
    --m_nBudget;
    *c = m_nBytesPerChar == 1 ? m_doc.U8(static_cast<std::uint64_t>(fc))
                              : static_cast<char16_t>(m_doc.U16(static_cast<std::uint64_t>(fc)));
    return true;
}

void CMSWord802Text::Locate(std::int32_t cp, std::int64_t fc)
{
    // Tables out of order are searched one entry after the other; that work
    // is taken from the walk's budget so that damaged tables cannot make the
    // walk crawl.
    std::uint64_t cost = 0;
    if (!m_pChpx->Sorted())
        cost += static_cast<std::uint64_t>(m_pChpx->Count()) / 8;
    if (!m_pPapx->Sorted())
        cost += static_cast<std::uint64_t>(m_pPapx->Count()) / 8;
    if (!m_pPieces->Sorted())
        cost += static_cast<std::uint64_t>(m_pPieces->Count()) / 8;
    if (!m_pSepx->Sorted())
        cost += static_cast<std::uint64_t>(m_pSepx->Count()) / 8;
    m_nBudget -= std::min(m_nBudget, cost);
    m_nChp = m_pChpx->Find(fc);
    m_nPap = m_pPapx->Find(fc);
    m_nPiece = m_pPieces->Find(cp);
    m_nSec = m_pSepx->Find(cp);
}

bool CMSWord802Text::Grow()
{
    try {
        m_buffer.resize(m_buffer.size() * 2, 0);
        return true;
    } catch (const std::bad_alloc&) {
        SetLibraryError(kLibErrorOutOfMemory);
        m_bFailed = true;
        return false;
    }
}

void CMSWord802Text::FlushPending()
{
    int count = m_nPending;
    if (m_nPap >= 0 && m_nPap < m_pPapx->Count()) {
        const TableProps& t = m_pPapx->Table(m_nPap);
        if (t.itap != 0) {
            // Of two final paragraph marks one goes; a single one stays, also
            // in the paragraph that ends a cell of an inner table, so that the
            // texts of neighbouring cells never run together.
            if (count > 0 && m_buffer[static_cast<std::size_t>(count - 1)] == 13)
                --count;
            if (count == 0 || m_buffer[static_cast<std::size_t>(count - 1)] != 13)
                ++count;  // the character at the next position: a break character, 13 or 0
        }
    }
    if (count > 0 && m_pCollector) {
        char16_t* out = m_pCollector->GetBuffer(count + 1);
        if (out) {
            std::memcpy(out, m_buffer.data(), sizeof(char16_t) * static_cast<std::size_t>(count));
            out[count] = 0;
            m_pCollector->CommitText(0, count);
        }
    }
    // Everything written since the last flush (the break character at the
    // pending position included) goes back to 0.
    const std::size_t used = std::min(m_buffer.size(), static_cast<std::size_t>(std::max(count, m_nPending + 1)));
    std::fill(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(used), 0);
    m_nPending = 0;
}

bool CMSWord802Text::FieldTakes(char16_t c)
{
    bool& fieldCode = m_bHeader ? m_bFieldHeader : m_bFieldBody;
    switch (c) {
    case 11:
    case 12:
    case 14:
        // A manual line, page or column break ends the line: it goes out as
        // a paragraph mark, so that the words (or digits) on either side
        // never run together. In a table paragraph the mark is the one
        // FlushPending keeps.
        m_buffer[static_cast<std::size_t>(m_nPending)] = 13;
        ++m_nPending;
        FlushPending();
        return true;
    case 19:
        fieldCode = true;
        return true;
    case 20:
    case 21:
        fieldCode = false;
        return true;
    default:
        return fieldCode;
    }
}

void CMSWord802Text::CharacterSteps(char16_t c, std::int32_t cp)
{
    // An optional hyphen shows only where a line breaks: no text.
    if (c == 0x1F)
        return;
    if (static_cast<std::size_t>(m_nPending) + 1 >= m_buffer.size() && !Grow())
        return;
    const std::size_t at = static_cast<std::size_t>(m_nPending);
    m_buffer[at] = MapCharacter(c);
    if (FieldTakes(m_buffer[at])) {
        // A break went out as a line end through FlushPending, which cleared
        // the buffer; any other character taken here is cleared so it never
        // reaches the text.
        if (static_cast<std::size_t>(m_nPending) < m_buffer.size())
            m_buffer[static_cast<std::size_t>(m_nPending)] = 0;
        return;
    }
    if (m_nChp >= 0 && m_nChp < m_pChpx->Count()) {
        const CharProps& props = m_pChpx->Props(m_nChp);
        if (props.fSpec()) {
            m_buffer[at] = 0;
            switch (c) {
            case 2:
                EmitNote(cp);
                break;
            case 8:
                EmitShapeText(cp);
                break;
            case 40:
                if (props.hasSymbol)
                    m_buffer[static_cast<std::size_t>(m_nPending)] = MapCharacter(props.symbolChar);
                break;
            default:
                break;
            }
        }
    }
    ++m_nPending;
}

void CMSWord802Text::BoundaryChecks(std::int32_t cp, std::int64_t fc, bool last)
{
    if ((m_nSec >= 0 && m_nSec < m_pSepx->Count() && cp >= m_pSepx->Section(m_nSec).cpEnd) || last) {
        FlushPending();
        if (!last) {
            ++m_nSec;
            if (m_nSec < m_pSepx->Count() && !Nested())
                EmitSectionHeaders(m_nSec);
        }
    }
    if ((m_nPap >= 0 && m_nPap < m_pPapx->Count() && fc >= m_pPapx->Run(m_nPap).fcEnd) || last) {
        FlushPending();
        if (!last) {
            ++m_nPap;
            if (m_nPap < m_pPapx->Count() && m_pPapx->Para(m_nPap).fInTable)
                m_tables.Record(std::max<int>(1, m_pPapx->Table(m_nPap).itap), m_pPapx->Run(m_nPap).fcEnd,
                                m_pPapx->Para(m_nPap).fTtp != 0);
        }
    }
    if ((m_nChp >= 0 && m_nChp < m_pChpx->Count() && fc >= m_pChpx->Run(m_nChp).fcEnd) || last) {
        FlushPending();
        if (!last && m_pChpx->Count() > 0)
            m_nChp = std::min(m_nChp + 1, m_pChpx->Count() - 1);
    }
}

// ---- Walks -----------------------------------------------------------------------

int CMSWord802Text::WalkMainText()
{
    if (m_buffer.empty())
        return 0;
    // Every character position is read at most a few dozen times (headers
    // repeat per section); beyond that the document is going round in circles.
    m_nBudget = 64 * m_doc.size() + (std::uint64_t(1) << 22);
    m_nPending = 0;
    const std::vector<WordPiece>& pieces = m_pPieces->Pieces();
    std::int64_t fc = 0;
    m_nBytesPerChar = pieces.empty() ? 1 : (pieces[0].compressed ? 1 : 2);
    for (const WordPiece& p : pieces) {
        if (p.cpEnd > 0) {
            fc = p.fcStart - static_cast<std::int64_t>(p.cpStart) * (p.compressed ? 1 : 2);
            break;
        }
    }
    std::int32_t cp = 0;
    Locate(cp, fc);
    if (m_nSec < m_pSepx->Count())
        EmitSectionHeaders(m_nSec);
    if (m_nChp < m_pChpx->Count() && fc >= m_pChpx->Run(m_nChp).fcEnd)
        m_nChp = std::min(m_nChp + 1, m_pChpx->Count() - 1);

    const std::int32_t ccpText = m_pFib->I32(CMsWordFIB80::kCcpText);
    if (ccpText <= 0)
        return m_bFailed ? 0 : 1;
    while (cp < ccpText && !m_bFailed && !plat::ReadCancelled()) {
        if (m_nPiece < m_pPieces->Count() && cp >= pieces[static_cast<std::size_t>(m_nPiece)].cpEnd) {
            ++m_nPiece;
            if (m_nPiece < m_pPieces->Count()) {
                fc = m_pPieces->FcOf(cp);
                Locate(cp, fc);
                m_nBytesPerChar = GetBytesPerChar(cp, *m_pPieces);
                BoundaryChecks(cp, fc, false);
            }
        }
        char16_t c = 0;
        if (!ReadChar(fc, &c))
            break;
        if (c == 0) {
            fc += m_nBytesPerChar;
            continue;
        }
        CharacterSteps(c, cp);
        ++cp;
        fc += m_nBytesPerChar;
        BoundaryChecks(cp, fc, cp >= ccpText);
    }
    FlushPending();
    EmitRemainingNotes();
    return m_bFailed ? 0 : 1;
}

void CMSWord802Text::EmitRemainingNotes()
{
    // A note whose reference mark the walk never met (a reference in a
    // field instruction, or one that names another character) keeps its
    // text: it follows the main text. So do the comments, all of them: a
    // comment is no part of the sentence it remarks on, and written where
    // its mark stands it would split that sentence's line.
    const struct {
        const MsWordNotes* notes;
        std::vector<char>* done;
        int story;
    } kinds[] = {{m_pFootNotes.get(), &m_footnotesDone, kFootnotes},
                 {m_pEndNotes.get(), &m_endnotesDone, kEndnotes},
                 {m_pComments.get(), nullptr, kComments}};
    for (const auto& k : kinds) {
        if (!k.notes)
            continue;
        const std::int64_t base = StoryBase(k.story);
        for (int i = 0; i < k.notes->Count() && !m_bFailed; ++i) {
            if (k.done && static_cast<std::size_t>(i) < k.done->size() && (*k.done)[static_cast<std::size_t>(i)])
                continue;
            if (k.story == kComments)
                StartLine();
            const WordNote& note = k.notes->Note(i);
            const bool saved = m_bNote;
            m_bNote = true;
            WalkRange(base + note.txtStart + NoteTextOffset(k.story), base + note.txtEnd);
            m_bNote = saved;
        }
    }
}

void CMSWord802Text::WalkRange(std::int64_t start, std::int64_t end)
{
    if (m_bFailed || start >= end)
        return;
    if (m_nDepth >= kMaxNesting) {
        plat::NoteDamage("한도에 이르러 건너뜀");
        return;
    }
    ++m_nDepth;
    const int savedChp = m_nChp, savedPap = m_nPap, savedSec = m_nSec, savedPiece = m_nPiece;
    const int savedBytes = m_nBytesPerChar;
    // The enclosing text so far goes out first, so the nested story follows it.
    FlushPending();

    std::int32_t cp = ClampCp(start);
    const std::int32_t stop = ClampCp(end);
    std::int64_t fc = m_pPieces->FcOf(cp);
    Locate(cp, fc);
    m_nBytesPerChar = GetBytesPerChar(cp, *m_pPieces);
    const std::vector<WordPiece>& pieces = m_pPieces->Pieces();
    while (cp < stop && !m_bFailed) {
        if (m_nPiece < m_pPieces->Count() && cp >= pieces[static_cast<std::size_t>(m_nPiece)].cpEnd) {
            ++m_nPiece;
            if (m_nPiece < m_pPieces->Count()) {
                fc = m_pPieces->FcOf(cp);
                Locate(cp, fc);
                m_nBytesPerChar = GetBytesPerChar(cp, *m_pPieces);
                BoundaryChecks(cp, fc, false);
            }
        }
        char16_t c = 0;
        if (!ReadChar(fc, &c))
            break;
        CharacterSteps(c, cp);
        ++cp;
        fc += m_nBytesPerChar;
        BoundaryChecks(cp, fc, cp >= stop);
    }
    FlushPending();
    m_nChp = savedChp, m_nPap = savedPap, m_nSec = savedSec, m_nPiece = savedPiece;
    m_nBytesPerChar = savedBytes;
    --m_nDepth;
}

void CMSWord802Text::EmitSectionHeaders(int section)
{
    if (!m_pHeaderFooter || section < 0 || section + 1 >= m_pHeaderFooter->GroupCount())
        return;
    if (m_pCollector)
        m_pCollector->PushBuffer();
    const bool saved = m_bHeader;
    m_bHeader = true;
    const std::int64_t base = StoryBase(kHeaders);
    static const int kOrder[6] = {1, 0, 3, 2, 4, 5};
    for (int k : kOrder) {
        const WordStory& story = m_pHeaderFooter->Story(section + 1, k);
        if (!story.present)
            continue;
        // A story ends with its paragraph mark, which stays out, or with
        // another mark (a field's end); one that ends inside its text does
        // not end where the table says: its last character is kept.
        if (CharAt(base + story.end - 1) >= 0x20)
            plat::NoteDamage("머리글 끝 손상");
        WalkRange(base + story.start, base + story.end - (EndsStory(base + story.end - 1) ? 1 : 0));
    }
    m_bHeader = saved;
    if (m_pCollector)
        m_pCollector->PopBuffer();
}

void CMSWord802Text::EmitNote(std::int32_t cp)
{
    int index = -1;
    if (m_pFootNotes && (index = m_pFootNotes->FindByReference(cp)) >= 0)
        WalkNoteAt(*m_pFootNotes, m_footnotesDone, index, kFootnotes);
    else if (m_pEndNotes && (index = m_pEndNotes->FindByReference(cp)) >= 0)
        WalkNoteAt(*m_pEndNotes, m_endnotesDone, index, kEndnotes);
}

void CMSWord802Text::StartLine()
{
    FlushPending();
    const std::u16string* out = m_pCollector ? m_pCollector->GetOutput() : nullptr;
    if (out && !out->empty() && out->back() != u'\n') {
        m_buffer[static_cast<std::size_t>(m_nPending++)] = 13;
        FlushPending();
    }
}

int CMSWord802Text::NoteTextOffset(int story)
{
    // A note's text begins with its reference mark, which is left out. A
    // comment's mark gives no text wherever it stands, and the comment may
    // hold text before it: the whole range is walked.
    return story == kComments ? 0 : 1;
}

void CMSWord802Text::WalkNoteAt(const MsWordNotes& notes, std::vector<char>& done, int index, int story)
{
    if (done.size() != static_cast<std::size_t>(notes.Count()))
        done.assign(static_cast<std::size_t>(notes.Count()), 0);
    done[static_cast<std::size_t>(index)] = 1;
    const WordNote& note = notes.Note(index);
    if (m_pCollector)
        m_pCollector->PushBuffer();
    const bool saved = m_bNote;
    m_bNote = true;
    WalkRange(StoryBase(story) + note.txtStart + NoteTextOffset(story), StoryBase(story) + note.txtEnd);
    m_bNote = saved;
    if (m_pCollector)
        m_pCollector->PopBuffer();
}

void CMSWord802Text::EmitShapeText(std::int32_t cp)
{
    if (!m_pShapes)
        return;
    const int anchor = m_pShapes->FindAnchor(cp);
    if (anchor < 0)
        return;
    const int shape = m_pShapes->FindShape(static_cast<std::uint32_t>(m_pShapes->Anchors()[static_cast<std::size_t>(anchor)].spid()));
    if (shape < 0)
        return;
    std::unordered_set<int> visited;
    EmitShape(shape, visited, 0);
}

void CMSWord802Text::EmitShape(int index, std::unordered_set<int>& visited, int depth)
{
    // Every shape is handled once per anchor, so links that lead back into a
    // group or a sibling chain that loops end there.
    if (depth > 64)
        plat::NoteDamage("한도에 이르러 건너뜀");
    if (index < 0 || index >= m_pShapes->ShapeCount() || depth > 64 || m_bFailed || !visited.insert(index).second)
        return;
    const WordShapeRecord& rec = m_pShapes->Shapes()[static_cast<std::size_t>(index)];
    if (rec.isGroup) {
        int child = rec.firstChild;
        while (child >= 0 && child < m_pShapes->ShapeCount() && !visited.count(child)) {
            EmitShape(child, visited, depth + 1);
            const int next = m_pShapes->Shapes()[static_cast<std::size_t>(child)].nextSibling;
            if (next == child)
                break;
            child = next;
        }
        return;
    }
    if (rec.shapeType == 201) {
        EmitHostControlText(rec.spid);
        return;
    }
    // The text-box table names the shape that holds each story. Writers
    // that give the shape its text through the text-id property alone, with
    // no client text-box record, still have their story found there. The
    // story is read whatever the shape's outline (CMsDrawObject::CheckShape
    // answers for drawing it): a ribbon, or a free form without vertices,
    // shows its text all the same.
    EmitTextBoxes(rec.spid, true);
}

const MsWordTextBox* CMSWord802Text::TextBoxes(bool header)
{
    std::unique_ptr<MsWordTextBox>& slot = m_pTextBoxes[header ? 1 : 0];
    if (!slot) {
        slot = std::make_unique<MsWordTextBox>();
        slot->Load(m_table, *m_pFib, header);  // a failed load leaves no entries
    }
    return slot.get();
}

void CMSWord802Text::EmitTextBoxes(std::uint32_t spid, bool pushBuffer)
{
    // A text box whose story anchors its own shape again is not re-entered.
    if (std::find(m_activeShapes.begin(), m_activeShapes.end(), spid) != m_activeShapes.end())
        return;
    if (m_nDepth >= kMaxNesting) {
        plat::NoteDamage("한도에 이르러 건너뜀");
        return;
    }
    const bool header = m_bHeader;
    const MsWordTextBox* boxes = TextBoxes(header);
    const std::int64_t base = StoryBase(header ? kHeaderTextBoxes : kTextBoxes);
    m_activeShapes.push_back(spid);
    const bool saved = m_bTextBox;
    m_bTextBox = true;
    if (pushBuffer && m_pCollector)
        m_pCollector->PushBuffer();
    for (int i = boxes->FindFirst(spid); i >= 0 && i < boxes->Count() && !m_bFailed; i = boxes->FindNext(i)) {
        const WordTextBoxEntry& e = boxes->Entry(i);
        // No embedded control supplies the text instead.
        if (m_field.ReadControlText(m_storage.get(), m_pPieces->FcOf(ClampCp(base + e.cpStart))) >= 0)
            continue;
        WalkRange(base + e.cpStart, base + e.cpEnd);
    }
    if (pushBuffer && m_pCollector)
        m_pCollector->PopBuffer();
    m_bTextBox = saved;
    m_activeShapes.pop_back();
}
