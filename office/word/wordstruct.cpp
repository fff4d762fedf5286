#include "office/word/wordstruct.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "extract/io/h2s_storage.h"
#include "extract/libstring.h"
#include "platform/codec.h"
#include "platform/docfile.h"

namespace {

// Runs a load; an allocation failure answers 0 with library error 2.
template <class F>
int Guarded(F&& f)
{
    try {
        return f();
    } catch (const std::bad_alloc&) {
        SetLibraryError(kLibErrorOutOfMemory);
        return 0;
    }
}

// Largest crun whose FCs and per-run bytes fit in front of the crun byte of
// a 512-byte page: 4 * (crun + 1) + size * crun <= 511.
constexpr int MaxRuns(int perRunBytes) { return (511 - 4) / (4 + perRunBytes); }

// The pages a bin table names. A table whose length holds no whole number
// of entries, or a page past the end of the stream, is damage.
std::vector<std::uint64_t> PageOffsets(const WordBytes& plc, std::uint64_t streamSize)
{
    std::vector<std::uint64_t> pages;
    if (plc.size() == 0)
        return pages;
    if (plc.size() < 4 || (plc.size() - 4) % 8 != 0)
        plat::NoteDamage("서식 표 길이 불일치");
    if (plc.size() < 4)
        return pages;
    const std::uint64_t n = (plc.size() - 4) / 8;
    pages.reserve(n);
    for (std::uint64_t i = 0; i < n; ++i) {
        const std::uint64_t page = static_cast<std::uint64_t>(plc.U32(4 * (n + 1) + 4 * i) & 0xFFFF) * 512;
        if (page + 512 > streamSize)
            plat::NoteDamage("서식 페이지가 스트림을 넘음");
        pages.push_back(page);
    }
    return pages;
}

template <class Run>
bool RunsSorted(const std::vector<Run>& runs)
{
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (runs[i].fcEnd <= runs[i].fcStart)
            return false;
        if (i > 0 && runs[i].fcStart < runs[i - 1].fcEnd)
            return false;
    }
    return true;
}

template <class Run>
int FindRun(const std::vector<Run>& runs, bool sorted, std::int64_t fc)
{
    if (sorted) {
        auto it = std::upper_bound(runs.begin(), runs.end(), fc,
                                   [](std::int64_t v, const Run& r) { return v < r.fcEnd; });
        if (it != runs.end() && it->fcStart <= fc)
            return static_cast<int>(it - runs.begin());
        return static_cast<int>(runs.size());
    }
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (runs[i].fcStart <= fc && fc < runs[i].fcEnd)
            return static_cast<int>(i);
    }
    return static_cast<int>(runs.size());
}

}  // namespace

// ---- Streams ---------------------------------------------------------------------

std::size_t WordBytes::ReadAt(std::uint64_t offset, void* out, std::size_t n) const
{
    std::size_t got = 0;
    if (offset < data_.size())
        got = static_cast<std::size_t>(std::min<std::uint64_t>(n, data_.size() - offset));
    if (got)
        std::memcpy(out, data_.data() + offset, got);
    if (got < n)
        std::memset(static_cast<std::uint8_t*>(out) + got, 0, n - got);
    return got;
}

WordBytes WordBytes::Block(std::uint64_t offset, std::int64_t length) const
{
    if (length <= 0 || offset >= data_.size())
        return WordBytes();
    const std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(length), data_.size() - offset);
    return WordBytes(data_.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(n)));
}

int ReadStreamAt(plat::CfbStream* stream, void* buffer, std::uint32_t count, std::int64_t offset,
                 std::uint32_t* got)
{
    if (got)
        *got = 0;
    if (!stream || (!buffer && count))
        return 0;
    if (offset != -1 && !SeekStreamTo(stream, offset))
        return 0;
    std::uint32_t n = 0;
    const bool read = ReadStreamChunk(stream, buffer, count, &n);
    if (n > count)
        n = count;
    if (n < count)
        std::memset(static_cast<std::uint8_t*>(buffer) + n, 0, count - n);
    if (got)
        *got = n;
    return read ? 1 : 0;
}

int ReadWholeStream(plat::CfbStream* stream, std::string* out)
{
    out->clear();
    if (!stream)
        return 0;
    plat::CfbStat st;
    if (!StreamSize(stream, &st.size))
        return 0;
    if (!SeekStreamTo(stream, 0))
        return 0;
    return Guarded([&] {
        // The size comes from the compound file, which bounds it by the file's
        // own size; the read loop stops at whatever the stream really delivers.
        out->resize(static_cast<std::size_t>(st.size));
        std::size_t have = 0;
        while (have < out->size()) {
            const std::uint32_t chunk = static_cast<std::uint32_t>(std::min<std::size_t>(out->size() - have, 1u << 20));
            std::uint32_t got = 0;
            if (!ReadStreamBytes(stream, out->data() + have, chunk, &got) || got == 0)
                return 0;  // the stream ends before its size: its bytes cannot be read
            have += std::min(got, chunk);
        }
        return 1;
    });
}

bool HoldsProtectedContent(plat::CfbStorage* root)
{
    std::vector<plat::CfbStat> children;
    if (!root || !StorageElements(root, &children))
        return false;
    for (const plat::CfbStat& c : children) {
        if ((c.type == plat::stg::kTypeStorage && plat::CfbNameCompare(c.name, u"\x06" u"DataSpaces") == 0) ||
            (c.type == plat::stg::kTypeStream && plat::CfbNameCompare(c.name, u"\x09" u"DRMContent") == 0))
            return true;
    }
    return false;
}

// ---- FIB, DOP, pieces --------------------------------------------------------------

int CMsWordFIB80::Load(const WordBytes& wordDocument)
{
    std::memset(raw, 0, sizeof raw);
    wordDocument.ReadAt(0, raw, sizeof raw);
    return 1;
}

int CMsWordDOP80::Load(const WordBytes& table, const CMsWordFIB80& fib)
{
    std::memset(raw, 0, sizeof raw);
    table.ReadAt(fib.U32(CMsWordFIB80::kFcDop), raw, sizeof raw);
    return 1;
}

int MsWordPieceTable::Load(const WordBytes& table, const CMsWordFIB80& fib)
{
    return Guarded([&] {
        pieces_.clear();
        const WordBytes clx = table.Block(fib.U32(CMsWordFIB80::kFcClx), fib.I32(CMsWordFIB80::kLcbClx));
        const std::uint64_t size = clx.size();
        std::uint64_t pos = 0;
        while (pos < size) {
            const std::uint8_t kind = clx.U8(pos);
            if (kind == 1) {
                pos += 3 + static_cast<std::uint64_t>(clx.U16(pos + 1));
                if (pos > size)
                    plat::NoteDamage("조각 표 손상");  // a property run past the Clx
            } else if (kind == 2) {
                // The piece count follows from what is left of the Clx; it
                // keeps every CP and PCD inside the Clx. The Pcdt ends the Clx,
                // so its own length must be what is left, a whole number of
                // pieces.
                const std::uint64_t left = size - pos;
                const std::uint64_t n = left >= 9 ? (left - 9) / 12 : 0;
                const std::uint64_t lcb = clx.U32(pos + 1);
                if (left < 5 || lcb != left - 5 || lcb < 4 || (lcb - 4) % 12 != 0)
                    plat::NoteDamage("조각 표 길이 불일치");
                const std::uint64_t cps = pos + 5;
                const std::uint64_t pcds = cps + 4 * (n + 1);
                for (std::uint64_t i = 0; i < n; ++i) {
                    WordPiece p;
                    p.cpStart = clx.I32(cps + 4 * i);
                    p.cpEnd = clx.I32(cps + 4 * (i + 1));
                    clx.ReadAt(pcds + 8 * i, p.pcd, 8);
                    const std::uint32_t fc = static_cast<std::uint32_t>(p.pcd[2] | (p.pcd[3] << 8) | (p.pcd[4] << 16) |
                                                                         (static_cast<std::uint32_t>(p.pcd[5]) << 24));
                    if (fc & 0x40000000u) {
                        p.compressed = 1;
                        p.fcStart = (fc >> 1) & 0x1FFFFFFF;
                    } else {
                        p.fcStart = fc;
                    }
                    const std::int64_t chars = static_cast<std::int64_t>(p.cpEnd) - p.cpStart;
                    p.fcEnd = p.fcStart + chars * (p.compressed ? 1 : 2);
                    pieces_.push_back(p);
                }
                pos = pcds + 8 * n;
            } else {
                plat::NoteDamage("조각 표 손상");  // neither a property run nor the pieces
                pos += 1;
            }
        }
        sorted_ = true;
        for (std::size_t i = 0; i < pieces_.size(); ++i) {
            if (pieces_[i].cpEnd <= pieces_[i].cpStart || (i > 0 && pieces_[i].cpStart < pieces_[i - 1].cpEnd)) {
                sorted_ = false;
                break;
            }
        }
        return 1;
    });
}

int MsWordPieceTable::Find(std::int32_t cp) const
{
    if (sorted_) {
        auto it = std::upper_bound(pieces_.begin(), pieces_.end(), cp,
                                   [](std::int32_t v, const WordPiece& p) { return v < p.cpEnd; });
        if (it != pieces_.end() && it->cpStart <= cp)
            return static_cast<int>(it - pieces_.begin());
        return Count();
    }
    for (std::size_t i = 0; i < pieces_.size(); ++i) {
        if (pieces_[i].cpStart <= cp && cp < pieces_[i].cpEnd)
            return static_cast<int>(i);
    }
    return Count();
}

std::int64_t MsWordPieceTable::FcOf(std::int32_t cp) const
{
    const int i = Find(cp);
    if (i >= Count())
        return 0;
    const WordPiece& p = pieces_[static_cast<std::size_t>(i)];
    return p.fcStart + (static_cast<std::int64_t>(cp) - p.cpStart) * (p.compressed ? 1 : 2);
}

int GetBytesPerChar(std::int32_t cp, const MsWordPieceTable& pieces)
{
    const int i = pieces.Find(cp);
    if (i >= pieces.Count())
        return 1;
    return pieces.Pieces()[static_cast<std::size_t>(i)].compressed ? 1 : 2;
}

void CheckTextRanges(std::vector<WordTextRange> ranges, std::uint64_t fibSize, const std::vector<std::uint64_t>& pages)
{
    const auto before = [](const WordTextRange& a, const WordTextRange& b) {
        return a.start != b.start ? a.start < b.start : a.end < b.end;
    };
    std::sort(ranges.begin(), ranges.end(), before);
    const WordTextRange* reach = nullptr;  // the range reaching furthest so far
    for (const WordTextRange& r : ranges) {
        if (r.start < static_cast<std::int64_t>(fibSize))
            plat::NoteDamage("조각이 FIB를 가리킴");
        if (reach && r.start < reach->end &&
            ((r.end > reach->end && r.start > reach->start) || r.width != reach->width ||
             (r.start - reach->start) % r.width != 0))
            plat::NoteDamage("조각이 서로 겹침");
        if (!reach || r.end > reach->end)
            reach = &r;
    }
    // furthest[i]: the furthest end of ranges[0..i].
    std::vector<std::int64_t> furthest;
    furthest.reserve(ranges.size());
    for (const WordTextRange& r : ranges)
        furthest.push_back(furthest.empty() ? r.end : std::max(furthest.back(), r.end));
    for (std::uint64_t page : pages) {
        const std::int64_t start = static_cast<std::int64_t>(page);
        const auto after = std::lower_bound(ranges.begin(), ranges.end(), WordTextRange{start + 512, 0, 1}, before);
        if (after != ranges.begin() && furthest[static_cast<std::size_t>(after - ranges.begin()) - 1] > start)
            plat::NoteDamage("조각이 서식 페이지를 가리킴");
    }
}

// ---- Runs -------------------------------------------------------------------------

int MsWordChpx::LoadPageTable(const WordBytes& table, const CMsWordFIB80& fib, std::uint64_t streamSize)
{
    return Guarded([&] {
        pages_ = PageOffsets(table.Block(fib.U32(CMsWordFIB80::kFcPlcfBteChpx), fib.I32(CMsWordFIB80::kLcbPlcfBteChpx)),
                             streamSize);
        return 1;
    });
}

int MsWordChpx::LoadRuns(const WordBytes& wordDocument)
{
    return Guarded([&] {
        runs_.clear();
        props_.clear();
        std::uint8_t page[512];
        for (std::uint64_t offset : pages_) {
            wordDocument.ReadAt(offset, page, sizeof page);
            if (page[511] > MaxRuns(1))
                plat::NoteDamage("서식 페이지 손상");
            const int crun = std::min<int>(page[511], MaxRuns(1));
            const std::size_t rgb = 4 * static_cast<std::size_t>(crun + 1);
            std::uint32_t recordOf[256];
            bool seen[256] = {};
            for (int i = 0; i < crun; ++i) {
                WordCharRun run;
                run.fcStart = static_cast<std::uint32_t>(page[4 * i] | (page[4 * i + 1] << 8) | (page[4 * i + 2] << 16) |
                                                         (static_cast<std::uint32_t>(page[4 * i + 3]) << 24));
                const int j = i + 1;
                run.fcEnd = static_cast<std::uint32_t>(page[4 * j] | (page[4 * j + 1] << 8) | (page[4 * j + 2] << 16) |
                                                       (static_cast<std::uint32_t>(page[4 * j + 3]) << 24));
                const std::uint8_t b = page[rgb + static_cast<std::size_t>(i)];
                if (!seen[b]) {
                    seen[b] = true;
                    recordOf[b] = static_cast<std::uint32_t>(props_.size());
                    CharProps props;
                    if (b != 0) {
                        const std::size_t at = 2 * static_cast<std::size_t>(b);
                        const std::size_t cb = page[at];
                        // The list stays inside the page, in front of its crun byte.
                        const std::size_t have = std::min<std::size_t>(cb, at + 1 < 511 ? 511 - (at + 1) : 0);
                        if (have < cb)
                            plat::NoteDamage("서식 페이지 손상");
                        if (cb >= 3 && have >= 3)
                            ApplyPropertyList(page + at + 1, have, nullptr, &props, nullptr, nullptr, nullptr);
                    }
                    props_.push_back(props);
                }
                run.props = recordOf[b];
                runs_.push_back(run);
            }
        }
        sorted_ = RunsSorted(runs_);
        if (!sorted_)
            plat::NoteDamage("서식 페이지 손상");
        return 1;
    });
}

int MsWordChpx::Find(std::int64_t fc) const { return FindRun(runs_, sorted_, fc); }


int MsWordPapx::LoadPageTable(const WordBytes& table, const CMsWordFIB80& fib, std::uint64_t streamSize)
{
    return Guarded([&] {
        pages_ = PageOffsets(table.Block(fib.U32(CMsWordFIB80::kFcPlcfBtePapx), fib.I32(CMsWordFIB80::kLcbPlcfBtePapx)),
                             streamSize);
        return 1;
    });
}

int MsWordPapx::LoadRuns(plat::CfbStorage* storage, const WordBytes& wordDocument)
{
    plat::CfbPtr<plat::CfbStream> data;
    bool dataTried = false;
    return Guarded([&] {
        runs_.clear();
        para_.clear();
        table_.clear();
        std::uint8_t page[512];
        for (std::uint64_t offset : pages_) {
            wordDocument.ReadAt(offset, page, sizeof page);
            if (page[511] > MaxRuns(13))
                plat::NoteDamage("서식 페이지 손상");
            const int crun = std::min<int>(page[511], MaxRuns(13));
            const std::size_t bx = 4 * static_cast<std::size_t>(crun + 1);
            std::uint32_t recordOf[256];
            bool seen[256] = {};
            for (int i = 0; i < crun; ++i) {
                WordParaRun run;
                run.fcStart = static_cast<std::uint32_t>(page[4 * i] | (page[4 * i + 1] << 8) | (page[4 * i + 2] << 16) |
                                                         (static_cast<std::uint32_t>(page[4 * i + 3]) << 24));
                const int j = i + 1;
                run.fcEnd = static_cast<std::uint32_t>(page[4 * j] | (page[4 * j + 1] << 8) | (page[4 * j + 2] << 16) |
                                                       (static_cast<std::uint32_t>(page[4 * j + 3]) << 24));
                const std::uint8_t bOffset = page[bx + 13 * static_cast<std::size_t>(i)];
                if (!seen[bOffset]) {
                    seen[bOffset] = true;
                    recordOf[bOffset] = static_cast<std::uint32_t>(para_.size());
                    ParaProps para;
                    TableProps tbl;
                    if (bOffset != 0) {
                        const std::size_t at = 2 * static_cast<std::size_t>(bOffset);
                        std::size_t start, len;
                        const std::size_t cb = page[at];
                        if (cb != 0) {
                            start = at + 1;
                            len = 2 * cb - 1;
                        } else {
                            start = at + 2;
                            len = 2 * static_cast<std::size_t>(at + 1 < 512 ? page[at + 1] : 0);
                        }
                        // Kept inside the page, in front of its crun byte.
                        const std::size_t room = start >= 511 ? 0 : 511 - start;
                        if (len > room)
                            plat::NoteDamage("서식 페이지 손상");
                        len = std::min(len, room);
                        if (len >= 2) {
                            para.istd = static_cast<std::uint16_t>(page[start] | (page[start + 1] << 8));
                            if (len - 2 >= 3)
                                ApplyPropertyList(page + start + 2, len - 2, &para, nullptr, &tbl, nullptr, nullptr);
                        } else if (len == 1) {
                            para.istd = page[start];
                        }
                    }
                    if (para.hasHuge) {
                        if (!dataTried) {
                            dataTried = true;
                            if (storage)
                                OpenChildStream(storage, u"Data", data.put());
                        }
                        if (!data)
                            return 0;
                        std::uint8_t sizeBytes[2];
                        std::uint32_t got = 0;
                        if (!ReadStreamAt(data.get(), sizeBytes, 2, para.hugeOffset, &got) || got != 2)
                            return 0;
                        const std::uint32_t cbGrpprl = static_cast<std::uint32_t>(sizeBytes[0] | (sizeBytes[1] << 8));
                        std::string list(cbGrpprl, '\0');
                        if (!ReadStreamAt(data.get(), list.data(), cbGrpprl, -1, &got) || got != cbGrpprl)
                            return 0;
                        if (cbGrpprl >= 3)
                            ApplyPropertyList(reinterpret_cast<const std::uint8_t*>(list.data()), cbGrpprl, &para,
                                              nullptr, &tbl, nullptr, nullptr);
                    }
                    para_.push_back(para);
                    table_.push_back(tbl);
                }
                run.props = recordOf[bOffset];
                runs_.push_back(run);
            }
        }
        sorted_ = RunsSorted(runs_);
        if (!sorted_)
            plat::NoteDamage("서식 페이지 손상");
        return 1;
    });
}

int MsWordPapx::Find(std::int64_t fc) const { return FindRun(runs_, sorted_, fc); }


// ---- Sections and headers ----------------------------------------------------------

int CMsWordSepx::Load(const WordBytes& table, const CMsWordFIB80& fib)
{
    return Guarded([&] {
        sections_.clear();
        const WordBytes plc = table.Block(fib.U32(CMsWordFIB80::kFcPlcfSed), fib.I32(CMsWordFIB80::kLcbPlcfSed));
        if (plc.size() < 4)
            return 1;
        if ((plc.size() - 4) % 16 != 0)
            plat::NoteDamage("구역 표 길이 불일치");
        const std::uint64_t n = (plc.size() - 4) / 16;
        sections_.resize(static_cast<std::size_t>(n));
        for (std::uint64_t i = 0; i < n; ++i) {
            WordSection& s = sections_[static_cast<std::size_t>(i)];
            s.cpStart = plc.I32(4 * i);
            s.cpEnd = plc.I32(4 * (i + 1));
            plc.ReadAt(4 * (n + 1) + 12 * i, s.sed, sizeof s.sed);
        }
        sorted_ = true;
        for (std::size_t i = 0; i < sections_.size(); ++i) {
            if (sections_[i].cpEnd <= sections_[i].cpStart ||
                (i > 0 && sections_[i].cpStart < sections_[i - 1].cpEnd)) {
                sorted_ = false;
                break;
            }
        }
        // The sections follow one another from the first character to the
        // end of the main text.
        if (!sorted_ || (!sections_.empty() && (sections_.front().cpStart != 0 ||
                                                sections_.back().cpEnd < fib.I32(CMsWordFIB80::kCcpText))))
            plat::NoteDamage("구역 표 손상");
        return 1;
    });
}

int CMsWordSepx::LoadProperties(const WordBytes& wordDocument)
{
    if (sections_.empty())
        return 0;
    for (WordSection& s : sections_) {
        const std::uint32_t fcSepx = static_cast<std::uint32_t>(s.sed[2] | (s.sed[3] << 8) | (s.sed[4] << 16) |
                                                                (static_cast<std::uint32_t>(s.sed[5]) << 24));
        if (fcSepx == 0xFFFFFFFFu)
            continue;
        if (!wordDocument.Holds(fcSepx, 2) || !wordDocument.Holds(std::uint64_t(fcSepx) + 2, wordDocument.U16(fcSepx)))
            plat::NoteDamage("구역 속성이 스트림을 넘음");
        const std::uint16_t cb = wordDocument.U16(fcSepx);
        if (cb < 3)
            continue;
        const WordBytes list = wordDocument.Block(static_cast<std::uint64_t>(fcSepx) + 2, cb);
        if (list.size() >= 3)
            ApplyPropertyList(list.bytes(), list.size(), nullptr, nullptr, nullptr, nullptr, &s.props);
    }
    return 1;
}

int CMsWordSepx::Find(std::int32_t cp) const
{
    if (sorted_) {
        auto it = std::upper_bound(sections_.begin(), sections_.end(), cp,
                                   [](std::int32_t v, const WordSection& s) { return v < s.cpEnd; });
        if (it != sections_.end() && it->cpStart <= cp)
            return static_cast<int>(it - sections_.begin());
        return Count();
    }
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        if (sections_[i].cpStart <= cp && cp < sections_[i].cpEnd)
            return static_cast<int>(i);
    }
    return Count();
}

int CMsWordHeaderFooter::Load(const WordBytes& table, const CMsWordFIB80& fib)
{
    try {
        groups_.clear();
        const WordBytes plc = table.Block(fib.U32(CMsWordFIB80::kFcPlcfHdd), fib.I32(CMsWordFIB80::kLcbPlcfHdd));
        const std::uint64_t cps = plc.size() / 4;
        // The stories' CPs rise to at most the length of the header story.
        const std::int32_t ccpHdd = fib.I32(CMsWordFIB80::kCcpHdd);
        // (The last two CPs, past the stories, may run up to three further.)
        // The table reaches the end of the story.
        bool damaged = plc.size() % 4 != 0 || cps < 2 || plc.I32(4 * (cps - 1)) < ccpHdd;
        for (std::uint64_t i = 0; i < cps; ++i) {
            const std::int32_t cp = plc.I32(4 * i);
            if (cp < 0 || (i + 2 < cps && cp > ccpHdd) || (i > 0 && cp < plc.I32(4 * (i - 1))))
                damaged = true;
        }
        if (damaged)
            plat::NoteDamage("머리글 표 손상");
        if (cps < 2)
            return 1;
        const std::uint64_t g = (cps - 2) / 6;
        groups_.resize(static_cast<std::size_t>(g * 6));
        for (std::uint64_t i = 0; i < g * 6; ++i) {
            const std::int32_t start = plc.I32(4 * i);
            const std::int32_t end = plc.I32(4 * (i + 1));
            if (start != end)
                groups_[static_cast<std::size_t>(i)] = {start, end, 1};
        }
        return 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

// ---- Notes, text boxes, bookmarks, lists ----------------------------------------------

int MsWordNotes::LoadPlcs(const WordBytes& table, const CMsWordFIB80& fib, std::uint32_t fcRef,
                          std::uint32_t lcbRef, std::uint32_t fcTxt, std::uint32_t lcbTxt, std::uint32_t storyLength,
                          std::uint32_t refDataSize)
{
    return Guarded([&] {
        notes_.clear();
        byRef_.clear();
        const WordBytes ref = table.Block(fib.U32(fcRef), fib.I32(lcbRef));
        const WordBytes txt = table.Block(fib.U32(fcTxt), fib.I32(lcbTxt));
        if (ref.size() < 4) {
            // A story of notes without its table of notes is damage too.
            if (ref.size() != 0 || fib.I32(storyLength) > 0)
                plat::NoteDamage("주석 표 길이 불일치");
            return 1;
        }
        const std::uint64_t entry = 4 + static_cast<std::uint64_t>(refDataSize);
        const std::uint64_t n = (ref.size() - 4) / entry;
        // n references (each with its data) and the n + 1 text CPs.
        if ((ref.size() - 4) % entry != 0 || txt.size() < 4 * (n + 1))
            plat::NoteDamage("주석 표 길이 불일치");
        notes_.resize(static_cast<std::size_t>(n));
        byRef_.reserve(static_cast<std::size_t>(n));
        for (std::uint64_t i = 0; i < n; ++i) {
            WordNote& note = notes_[static_cast<std::size_t>(i)];
            note.refCp = ref.I32(4 * i);
            note.txtStart = txt.I32(4 * i);
            note.txtEnd = txt.I32(4 * (i + 1));
            // Each reference lies in the main text; each note's text in its
            // story, after the note before it.
            if (note.refCp < 0 || note.refCp >= fib.I32(CMsWordFIB80::kCcpText) || note.txtStart < 0 ||
                note.txtEnd < note.txtStart || note.txtEnd > fib.I32(storyLength) ||
                (i > 0 && note.txtStart < notes_[static_cast<std::size_t>(i - 1)].txtEnd))
                plat::NoteDamage("주석 표 손상");
            byRef_.emplace_back(note.refCp, static_cast<int>(i));
        }
        // The notes hold their whole story, from its start to (at least) its
        // last paragraph mark.
        const std::int32_t length = fib.I32(storyLength);
        if (length > 0 && (notes_.empty() || notes_.front().txtStart != 0 || notes_.back().txtEnd < length - 1))
            plat::NoteDamage("주석 표 범위 불일치");
        std::stable_sort(byRef_.begin(), byRef_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        return 1;
    });
}

int MsWordNotes::FindByReference(std::int32_t cp) const
{
    auto it = std::lower_bound(byRef_.begin(), byRef_.end(), cp,
                               [](const std::pair<std::int32_t, int>& e, std::int32_t v) { return e.first < v; });
    if (it != byRef_.end() && it->first == cp)
        return it->second;
    return -1;
}

int MsWordFootNote::Load(const WordBytes& table, const CMsWordFIB80& fib)
{
    return LoadPlcs(table, fib, CMsWordFIB80::kFcPlcffndRef, CMsWordFIB80::kLcbPlcffndRef,
                    CMsWordFIB80::kFcPlcffndTxt, CMsWordFIB80::kLcbPlcffndTxt, CMsWordFIB80::kCcpFtn);
}

int MsWordEndNote::Load(const WordBytes& table, const CMsWordFIB80& fib)
{
    return LoadPlcs(table, fib, CMsWordFIB80::kFcPlcfendRef, CMsWordFIB80::kLcbPlcfendRef,
                    CMsWordFIB80::kFcPlcfendTxt, CMsWordFIB80::kLcbPlcfendTxt, CMsWordFIB80::kCcpEdn);
}

int MsWordComments::Load(const WordBytes& table, const CMsWordFIB80& fib)
{
    return LoadPlcs(table, fib, CMsWordFIB80::kFcPlcfandRef, CMsWordFIB80::kLcbPlcfandRef,
                    CMsWordFIB80::kFcPlcfandTxt, CMsWordFIB80::kLcbPlcfandTxt, CMsWordFIB80::kCcpAtn, 30);
}

int MsWordTextBox::Load(const WordBytes& table, const CMsWordFIB80& fib, bool header)
{
    return Guarded([&] {
        entries_.clear();
        const WordBytes plc =
            header ? table.Block(fib.U32(CMsWordFIB80::kFcPlcfHdrtxbxTxt), fib.I32(CMsWordFIB80::kLcbPlcfHdrtxbxTxt))
                   : table.Block(fib.U32(CMsWordFIB80::kFcPlcftxbxTxt), fib.I32(CMsWordFIB80::kLcbPlcftxbxTxt));
        if (plc.size() < 4) {
            if (plc.size() != 0)
                plat::NoteDamage("글상자 표 길이 불일치");
            return 1;
        }
        if ((plc.size() - 4) % 26 != 0)
            plat::NoteDamage("글상자 표 길이 불일치");
        const std::uint64_t n = (plc.size() - 4) / 26;
        const std::int32_t length = fib.I32(header ? CMsWordFIB80::kCcpHdrTxbx : CMsWordFIB80::kCcpTxbx);
        entries_.resize(static_cast<std::size_t>(n));
        for (std::uint64_t i = 0; i < n; ++i) {
            WordTextBoxEntry& e = entries_[static_cast<std::size_t>(i)];
            e.cpStart = plc.I32(4 * i);
            e.cpEnd = plc.I32(4 * (i + 1));
            // The last entry stands for no text box: its end may lie anywhere.
            if (e.cpStart < 0 || e.cpStart > length || (i + 1 < n && (e.cpEnd < e.cpStart || e.cpEnd > length)))
                plat::NoteDamage("글상자 표 손상");
            plc.ReadAt(4 * (n + 1) + 22 * i, e.ftxbxs, sizeof e.ftxbxs);
        }
        byLid_.clear();
        byLid_.reserve(entries_.size());
        for (std::size_t i = 0; i < entries_.size(); ++i)
            byLid_.emplace_back(static_cast<std::uint32_t>(entries_[i].lid()), static_cast<int>(i));
        std::sort(byLid_.begin(), byLid_.end());
        nextSame_.assign(entries_.size(), -1);
        for (std::size_t k = 0; k + 1 < byLid_.size(); ++k)
            if (byLid_[k].first == byLid_[k + 1].first)
                nextSame_[static_cast<std::size_t>(byLid_[k].second)] = byLid_[k + 1].second;
        return 1;
    });
}

int MsWordTextBox::FindFirst(std::uint32_t lid) const
{
    auto it = std::lower_bound(byLid_.begin(), byLid_.end(), std::make_pair(lid, -1));
    return it != byLid_.end() && it->first == lid ? it->second : -1;
}

int MsWordTextBox::FindNext(int i) const
{
    return i >= 0 && static_cast<std::size_t>(i) < nextSame_.size() ? nextSame_[static_cast<std::size_t>(i)] : -1;
}

int MsWordBookMark::Load(const WordBytes& table, const CMsWordFIB80& fib)
{
    return Guarded([&] {
        marks_.clear();
        const WordBytes sttb = table.Block(fib.U32(CMsWordFIB80::kFcSttbfBkmk), fib.I32(CMsWordFIB80::kLcbSttbfBkmk));
        const WordBytes plc = table.Block(fib.U32(CMsWordFIB80::kFcPlcfBkf), fib.I32(CMsWordFIB80::kLcbPlcfBkf));
        const bool wide = sttb.U16(0) == 0xFFFF;
        const int count = sttb.U8(2);
        marks_.resize(static_cast<std::size_t>(count));
        std::uint64_t at = 6;
        for (int i = 0; i < count; ++i) {
            WordBookmark& m = marks_[static_cast<std::size_t>(i)];
            const std::uint32_t length = sttb.U16(at) & 0xFF;
            const std::uint64_t chars = at + 2;
            if (wide) {
                for (std::uint32_t k = 0; k < length && k < 259; ++k)
                    m.name[k] = static_cast<char16_t>(sttb.U16(chars + 2 * k));
                at = chars + 2 * static_cast<std::uint64_t>(length);
            } else {
                std::string narrow;
                for (std::uint64_t k = chars; k < sttb.size() && sttb.U8(k) != 0; ++k)
                    narrow.push_back(static_cast<char>(sttb.U8(k)));
                const std::u16string name = plat::AnsiToWideString(narrow);
                for (std::uint32_t k = 0; k < length && k < name.size() && k < 259; ++k)
                    m.name[k] = name[k];
                at = chars + length;
            }
            m.cpStart = plc.I32(4 * static_cast<std::uint64_t>(i));
        }
        // The names and their positions are in their tables.
        if (count > 0 && (at > sttb.size() || plc.size() < 4 * static_cast<std::uint64_t>(count)))
            plat::NoteDamage("책갈피 표 손상");
        return 1;
    });
}

int MsWordList::Load(const WordBytes& table, const CMsWordFIB80& fib)
{
    return Guarded([&] {
        lists_.clear();
        lfos_.clear();
        const std::uint64_t fc = fib.U32(CMsWordFIB80::kFcPlfLst);
        const std::uint64_t available = fc < table.size() ? table.size() - fc : 0;
        // Each list needs its 28-byte LSTF in the stream.
        const std::uint64_t cLst = std::min<std::uint64_t>(table.U16(fc), available >= 2 ? (available - 2) / 28 : 0);
        if (cLst < table.U16(fc))
            plat::NoteDamage("목록 표 손상");
        lists_.resize(static_cast<std::size_t>(cLst));
        std::uint64_t level = fc + 2 + 28 * cLst;
        for (std::uint64_t i = 0; i < cLst; ++i) {
            WordListRecord& list = lists_[static_cast<std::size_t>(i)];
            table.ReadAt(fc + 2 + 28 * i, list.lstf, sizeof list.lstf);
            const int levels = (list.lstf[26] & 1) ? 1 : 9;
            for (int l = 0; l < levels; ++l) {
                WordListLevel& lv = list.levels[l];
                table.ReadAt(level, lv.lvlf, sizeof lv.lvlf);
                level += 28;
                const std::uint8_t cbPapx = lv.lvlf[25];
                const std::uint8_t cbChpx = lv.lvlf[24];
                if (cbPapx >= 3) {
                    const WordBytes papx = table.Block(level, cbPapx);
                    if (papx.size() >= 3)
                        ApplyPropertyList(papx.bytes(), papx.size(), &lv.para, nullptr, nullptr, nullptr, nullptr);
                }
                level += cbPapx;
                level += cbChpx;
                const std::uint16_t cch = table.U16(level);
                level += 2;
                // Level texts longer than their 31 places keep their start:
                // they are number patterns, never text of the document.
                const std::uint16_t startAt = static_cast<std::uint16_t>(lv.lvlf[0] | (lv.lvlf[1] << 8));
                lv.numberText[0] = cch;
                int out = 1;
                for (std::uint32_t k = 0; k < cch; ++k) {
                    const std::uint16_t unit = table.U16(level + 2 * static_cast<std::uint64_t>(k));
                    if (unit < 10) {
                        if (out + 2 > 31)
                            break;
                        lv.numberText[out++] = u'^';
                        lv.numberText[out++] = static_cast<char16_t>(48 + unit + startAt);
                    } else {
                        if (out + 1 > 31)
                            break;
                        lv.numberText[out++] = unit;
                    }
                }
                lv.numberText[out] = 0;
                level += 2 * static_cast<std::uint64_t>(cch);
            }
        }
        const WordBytes lfo = table.Block(fib.U32(CMsWordFIB80::kFcPlfLfo), fib.I32(CMsWordFIB80::kLcbPlfLfo));
        const std::uint64_t lfoMac = std::min<std::uint64_t>(lfo.U32(0), lfo.size() >= 4 ? (lfo.size() - 4) / 16 : 0);
        if (level > table.size() || lfoMac < lfo.U32(0))
            plat::NoteDamage("목록 표 손상");
        if (lfoMac)
            lfos_.assign(reinterpret_cast<const char*>(lfo.bytes()) + 4, static_cast<std::size_t>(16 * lfoMac));
        return 1;
    });
}

void CMsWordField::FindRange(std::int64_t, std::int64_t* start, std::int64_t* end) const
{
    if (start)
        *start = 0;
    if (end)
        *end = 0;
}

int CMsWordField::ReadControlText(plat::CfbStorage*, std::int64_t) const
{
    return -1;
}
