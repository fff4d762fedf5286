#include "search/matcher.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/logmgr.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

// ---------------------------------------------------------------------------
// Compiled patterns

// What a line must contain for a pattern to have any chance of matching in it.
// Each test is a necessary condition only, so skipping a line that fails it
// never changes the hits.
enum LineFeature : uint32_t {
    kFeatDashPair = 1u << 0,  // [0-9,] [ \t]? '-' [ \t]? [0-9,]
    kFeatDots = 1u << 1,      // three '.' each right after a digit
    kFeatAt = 1u << 2,        // '@' between two e-mail characters
    kFeatLeadShift = 3,       // then one bit per province lead character
};

// Lead characters of the province patterns, in pattern order 63..79.
constexpr char16_t kProvinceLead[] = {u'강', u'경', u'경', u'경', u'광', u'대', u'대', u'부', u'서',
                                      u'세', u'울', u'인', u'전', u'전', u'제', u'충', u'충'};
constexpr char16_t kDistinctLeads[] = {u'강', u'경', u'광', u'대', u'부', u'서',
                                       u'세', u'울', u'인', u'전', u'제', u'충'};
constexpr int kDistinctLeadCount = sizeof(kDistinctLeads) / sizeof(kDistinctLeads[0]);

int LeadBit(char16_t c)
{
    for (int i = 0; i < kDistinctLeadCount; ++i)
        if (kDistinctLeads[i] == c)
            return i;
    return -1;
}

// Digits every match of an account pattern holds at least: each bracket
// expression of digits only counts with its repetition; one that also allows
// a comma counts nothing. The account patterns have no alternation.
int MinDigitsOfAccountPattern(std::u16string_view p)
{
    int total = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        if (p[i] != u'[')
            continue;
        size_t close = p.find(u']', i + 1);
        if (close == std::u16string_view::npos)
            break;
        std::u16string_view set = p.substr(i + 1, close - i - 1);
        bool digitsOnly = !set.empty();
        for (char16_t c : set)
            if (!((c >= u'0' && c <= u'9') || c == u'-'))
                digitsOnly = false;
        int reps = 1;
        size_t next = close + 1;
        if (next < p.size() && p[next] == u'{') {
            reps = 0;
            for (size_t k = next + 1; k < p.size() && p[k] >= u'0' && p[k] <= u'9'; ++k)
                reps = reps * 10 + (p[k] - u'0');
        }
        if (digitsOnly)
            total += reps;
        i = close;
    }
    return total;
}

// Group lengths of an account pattern: "\\b(" groups joined by
// "[ ]{0,1}-[ ]{0,1}" ")\\b", each group a run of single-character sets
// (digits, some also a comma) with fixed repetitions.
std::vector<int> AccountGroupLengths(std::u16string_view p)
{
    constexpr std::u16string_view kSep = u"[ ]{0,1}-[ ]{0,1}";
    std::vector<int> lengths;
    if (p.size() < 6 || p.substr(0, 3) != u"\\b(" || p.substr(p.size() - 3) != u")\\b")
        return lengths;
    std::u16string_view body = p.substr(3, p.size() - 6);
    while (true) {
        size_t sep = body.find(kSep);
        std::u16string_view group = body.substr(0, sep);
        int len = 0;
        for (size_t i = 0; i < group.size(); ++i) {
            if (group[i] != u'[')
                return {};
            size_t close = group.find(u']', i + 1);
            if (close == std::u16string_view::npos)
                return {};
            int reps = 1;
            if (close + 1 < group.size() && group[close + 1] == u'{') {
                reps = 0;
                size_t k = close + 2;
                for (; k < group.size() && group[k] >= u'0' && group[k] <= u'9'; ++k)
                    reps = reps * 10 + (group[k] - u'0');
                if (k >= group.size() || group[k] != u'}')
                    return {};
                close = k;
            }
            len += reps;
            i = close;
        }
        lengths.push_back(len);
        if (sep == std::u16string_view::npos)
            break;
        body = body.substr(sep + kSep.size());
    }
    return lengths;
}

constexpr int kAccountPatternCount = kPatternAccountLast - kPatternAccountFirst + 1;
static_assert(kAccountPatternCount <= 64);

struct CompiledPattern {
    pcre2_code* code = nullptr;
    bool jit = false;
    uint32_t features = 0;  // required line features
    int minDigits = 0;      // required digits in the line
};

class PatternSet {
public:
    PatternSet()
    {
        for (int i = 0; i < kPersonalInfoPatternCount; ++i) {
            const char16_t* text = kPersonalInfoPatterns[i];
            int err = 0;
            PCRE2_SIZE errOffset = 0;
            CompiledPattern& cp = m_patterns[i];
            cp.code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text),
                                    std::char_traits<char16_t>::length(text), 0, &err,
                                    &errOffset, nullptr);
            if (!cp.code) {
                // The texts are constants of the program: this cannot happen in a
                // correct build.
                std::fprintf(stderr, "personal-information pattern %d does not compile (%d)\n", i,
                             err);
                std::abort();
            }
            cp.jit = pcre2_jit_compile(cp.code, PCRE2_JIT_COMPLETE) == 0;
            if (i <= kPatternCard || (i >= kPatternPhoneFirst && i <= kPatternPhoneLast) ||
                (i >= kPatternAccountFirst && i <= kPatternAccountLast))
                cp.features = kFeatDashPair;
            if (i == kPatternResident)
                cp.minDigits = 13;
            else if (i == kPatternCard)
                cp.minDigits = 15;
            else if (i == kPatternPhoneFirst)
                cp.minDigits = 9;
            else if (i == kPatternPhoneFirst + 1)
                cp.minDigits = 11;
            else if (i > kPatternPhoneFirst + 1 && i <= kPatternPhoneLast)
                cp.minDigits = 10;
            else if (i == kPatternIp) {
                cp.features = kFeatDots;
                cp.minDigits = 4;
            } else if (i == kPatternEmail)
                cp.features = kFeatAt;
            else if (i >= kPatternAccountFirst && i <= kPatternAccountLast) {
                cp.minDigits = MinDigitsOfAccountPattern(text);
                m_accountLayouts[i - kPatternAccountFirst] = AccountGroupLengths(text);
                if (m_accountLayouts[i - kPatternAccountFirst].size() < 2) {
                    std::fprintf(stderr, "account pattern %d has no group layout\n", i);
                    std::abort();
                }
            }
            else if (i >= kPatternAddressFirst)
                cp.features = 1u << (kFeatLeadShift + LeadBit(kProvinceLead[i - kPatternAddressFirst]));
            if (cp.features == 0) {
                std::fprintf(stderr, "personal-information pattern %d has no line test\n", i);
                std::abort();
            }
        }
    }
    ~PatternSet()
    {
        for (auto& cp : m_patterns)
            pcre2_code_free(cp.code);
    }
    const CompiledPattern& operator[](int i) const { return m_patterns[i]; }
    // Group lengths of the account patterns, by pattern minus the first.
    const std::vector<int>& AccountLayout(int k) const { return m_accountLayouts[k]; }

private:
    CompiledPattern m_patterns[kPersonalInfoPatternCount];
    std::vector<int> m_accountLayouts[kAccountPatternCount];
};

const PatternSet& Patterns()
{
    static const PatternSet set;
    return set;
}

// Match data of the calling thread (one pair: only the whole match is used).
pcre2_match_data* ThreadMatchData()
{
    struct Holder {
        pcre2_match_data* data = pcre2_match_data_create(1, nullptr);
        ~Holder() { pcre2_match_data_free(data); }
    };
    thread_local Holder holder;
    return holder.data;
}

// Leftmost match of the pattern in subject[0, length): true with its start and
// end (relative to the subject).
bool FindFirst(const CompiledPattern& cp, const char16_t* subject, size_t length, size_t& start,
               size_t& end)
{
    pcre2_match_data* md = ThreadMatchData();
    auto s = reinterpret_cast<PCRE2_SPTR>(subject);
    int rc = cp.jit ? pcre2_jit_match(cp.code, s, length, 0, 0, md, nullptr)
                    : pcre2_match(cp.code, s, length, 0, 0, md, nullptr);
    if (rc < 0)
        return false;
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
    start = ov[0];
    end = ov[1];
    return true;
}

// ---------------------------------------------------------------------------
// Lines

struct Line {
    size_t start;
    size_t length;
    uint32_t features;
    int digits;
    uint64_t accounts;  // account patterns whose group layout the line has
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsGroupChar(char16_t c) { return IsDigit(c) || c == u','; }
bool IsMailChar(char16_t c)
{
    return IsDigit(c) || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' ||
           c == u'-';
}

// Account patterns that may match in a line. A match is groups of [0-9,]
// joined by one '-' with at most one space on each side; so the line must
// hold a chain of such runs in which the inner groups have exactly their
// lengths and the outer ones at least theirs (a comma or digit may stand
// beside the match). Only a necessary condition: the pattern still decides.
uint64_t AccountCandidates(const char16_t* p, size_t n)
{
    uint64_t result = 0;
    thread_local std::vector<int> chain;  // run lengths of the current chain
    auto check = [&]() {
        if (chain.size() < 2)
            return;
        for (int k = 0; k < kAccountPatternCount; ++k) {
            if (result & (uint64_t{1} << k))
                continue;
            const std::vector<int>& L = Patterns().AccountLayout(k);
            const size_t m = L.size();
            for (size_t i = 0; i + m <= chain.size(); ++i) {
                bool ok = chain[i] >= L[0] && chain[i + m - 1] >= L[m - 1];
                for (size_t j = 1; ok && j + 1 < m; ++j)
                    ok = chain[i + j] == L[j];
                if (ok) {
                    result |= uint64_t{1} << k;
                    break;
                }
            }
        }
    };
    size_t i = 0;
    while (i < n) {
        if (!IsGroupChar(p[i])) {
            ++i;
            continue;
        }
        // A chain starts at this run.
        chain.clear();
        while (true) {
            size_t runStart = i;
            while (i < n && IsGroupChar(p[i]))
                ++i;
            chain.push_back(static_cast<int>(i - runStart));
            size_t j = i;
            if (j < n && p[j] == u' ')
                ++j;
            if (j >= n || p[j] != u'-')
                break;
            ++j;
            if (j < n && p[j] == u' ')
                ++j;
            if (j >= n || !IsGroupChar(p[j]))
                break;
            i = j;
        }
        check();
    }
    return result;
}

// Province lead characters by their low ten bits (no two share them).
struct LeadSlot {
    char16_t ch = 0;
    uint8_t bit = 0;
};
const LeadSlot* LeadTable()
{
    static const auto table = [] {
        std::vector<LeadSlot> t(1024);
        for (int i = 0; i < kDistinctLeadCount; ++i) {
            LeadSlot& slot = t[kDistinctLeads[i] & 0x3FF];
            if (slot.ch != 0)
                std::abort();  // two leads would share a slot
            slot = {kDistinctLeads[i], static_cast<uint8_t>(i)};
        }
        return t;
    }();
    return table.data();
}

// The features that need a look at the neighbours, for a line that has a
// '-' or an '@' at all.
uint32_t NeighbourFeatures(const char16_t* p, size_t n, bool dash, bool at)
{
    uint32_t f = 0;
    for (size_t i = 0; i < n; ++i) {
        if (dash && p[i] == u'-' && !(f & kFeatDashPair)) {
            size_t l = i;
            if (l > 0 && (p[l - 1] == u' ' || p[l - 1] == u'\t'))
                --l;
            size_t r = i + 1;
            if (r < n && (p[r] == u' ' || p[r] == u'\t'))
                ++r;
            if (l > 0 && IsGroupChar(p[l - 1]) && r < n && IsGroupChar(p[r]))
                f |= kFeatDashPair;
        } else if (at && p[i] == u'@' && !(f & kFeatAt)) {
            if (i > 0 && IsMailChar(p[i - 1]) && i + 1 < n && IsMailChar(p[i + 1]))
                f |= kFeatAt;
        }
    }
    return f;
}

// Lines end at LF or NUL; lines shorter than 7 characters are never searched
// and are left out here. One pass gathers what each line holds.
constexpr size_t kMinLineLength = 7;

// The searchable lines, and for each feature the lines that have it: a
// pattern only visits the lines of its first required feature.
constexpr int kFeatureCount = kFeatLeadShift + kDistinctLeadCount;
struct Lines {
    std::vector<Line> all;
    std::vector<uint32_t> byFeature[kFeatureCount];
};

Lines SplitLines(std::u16string_view text)
{
    Lines table;
    std::vector<Line>& lines = table.all;
    // Room for the lines of an ordinary page at once; a long text grows the
    // table as it goes, never by a guess from its length (a text of few,
    // long lines would reserve as many bytes as it has characters).
    lines.reserve(std::min<size_t>(text.size() / 32 + 1, 4096));
    const LeadSlot* leads = LeadTable();
    const char16_t* p = text.data();
    const size_t n = text.size();
    size_t pos = 0;
    while (pos < n) {
        uint32_t f = 0;
        int digits = 0, dots = 0;
        bool dash = false, at = false;
        size_t i = pos;
        for (; i < n; ++i) {
            const char16_t c = p[i];
            if (c < 0x80) {
                if (c <= u'9') {
                    if (c >= u'0') {
                        ++digits;
                    } else if (c == u'\n' || c == 0) {
                        break;
                    } else if (c == u'-') {
                        dash = true;
                    } else if (c == u'.' && i > pos && IsDigit(p[i - 1])) {
                        ++dots;
                    }
                } else if (c == u'@') {
                    at = true;
                }
            } else {
                const LeadSlot& slot = leads[c & 0x3FF];
                if (slot.ch == c)
                    f |= 1u << (kFeatLeadShift + slot.bit);
            }
        }
        const size_t length = i - pos;
        if (length >= kMinLineLength) {
            if (dash || at)
                f |= NeighbourFeatures(p + pos, length, dash, at);
            if (dots >= 3)
                f |= kFeatDots;
            Line line{pos, length, f, digits, 0};
            if (f & kFeatDashPair)
                line.accounts = AccountCandidates(p + pos, length);
            for (uint32_t bits = f; bits; bits &= bits - 1)
                table.byFeature[__builtin_ctz(bits)].push_back(static_cast<uint32_t>(lines.size()));
            lines.push_back(line);
        }
        pos = i + 1;
    }
    return table;
}

bool Cancelled(const CancelFlag* cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed) != 0;
}

void CancelledReturn() { plat::DebugOutput(u"IS_CANCLED_RETURN"); }

bool LineMaySuit(int pattern, const CompiledPattern& cp, const Line& line)
{
    if ((line.features & cp.features) != cp.features || line.digits < cp.minDigits)
        return false;
    if (pattern >= kPatternAccountFirst && pattern <= kPatternAccountLast)
        return (line.accounts >> (pattern - kPatternAccountFirst)) & 1;
    return true;
}

// Walks the matches of one pattern along every line: each match is followed by
// a new search on the rest of the line. visit(start, end) gets absolute
// positions. false when cancelled.
template <typename Visit>
bool ForEachMatch(std::u16string_view text, const Lines& lines, int pattern,
                  const CancelFlag* cancel, Visit&& visit)
{
    const CompiledPattern& cp = Patterns()[pattern];
    if (Cancelled(cancel)) {
        CancelledReturn();
        return false;
    }
    // Every pattern requires at least one feature.
    const std::vector<uint32_t>& candidates = lines.byFeature[__builtin_ctz(cp.features)];
    for (uint32_t index : candidates) {
        const Line& line = lines.all[index];
        if (Cancelled(cancel)) {
            CancelledReturn();
            return false;
        }
        if (!LineMaySuit(pattern, cp, line))
            continue;
        size_t offset = 0;
        while (offset < line.length) {
            size_t s = 0, e = 0;
            if (!FindFirst(cp, text.data() + line.start + offset, line.length - offset, s, e))
                break;
            visit(line.start + offset + s, line.start + offset + e);
            // An empty match would not move on; none of the patterns has one.
            offset += e > s ? e : s + 1;
        }
    }
    return true;
}

void RunPattern(std::u16string_view text, const Lines& lines, int pattern,
                TakenPositions& taken, int32_t& counter, PersonalInfoMask kindBit,
                PersonalInfoHitList* hits, const CancelFlag* cancel)
{
    ForEachMatch(text, lines, pattern, cancel, [&](size_t s, size_t e) {
        if (taken.IsTaken(s))
            return;
        if (AddPersonalInfoHit(hits, text, s, e - s, kindBit)) {
            taken.Take(s);
            ++counter;
        }
    });
}

constexpr size_t kAddressWindow = 11;

void RunAddress(std::u16string_view text, const Lines& lines, int pattern,
                const ProvinceCityList& cities, TakenPositions& taken, int32_t& counter,
                PersonalInfoHitList* hits, const CancelFlag* cancel)
{
    ForEachMatch(text, lines, pattern, cancel, [&](size_t p, size_t) {
        if (taken.IsTaken(p))
            return;
        std::u16string_view window = text.substr(p, kAddressWindow);
        // The window is a copy of text: it ends at a NUL. It runs on past a line
        // feed, except that a line feed as its last character is left out.
        size_t nul = window.find(u'\0');
        if (nul != std::u16string_view::npos)
            window = window.substr(0, nul);
        if (!window.empty() && window.back() == u'\n')
            window.remove_suffix(1);
        bool found = false;
        for (int i = 0; i < cities.count && !found; ++i)
            found = window.find(cities.names[i], 1) != std::u16string_view::npos;
        if (!found)
            return;
        if (hits) {
            std::u16string shown(window);
            for (char16_t& c : shown)
                if (c == u'\n')
                    c = u' ';
            hits->push_back({kPersonalInfoAddress, std::move(shown)});
        }
        taken.Take(p);
        ++counter;
    });
}

// A resident number broken by a line end at its hyphen: "YYMMDD-" ending
// one line and the seven digits starting the next, or "YYMMDD" ending one
// and "-NNNNNNN" starting the next. A narrow column wraps a number so (a PDF
// keeps the wrap as a line end); the line-by-line pattern cannot see it. The
// parts take the same optional blank beside the hyphen as the pattern, and
// the check digit decides. The hit is the number without the line end.
bool IsDateDigits(const char16_t* p)
{
    for (int i = 0; i < 6; ++i)
        if (!IsDigit(p[i]))
            return false;
    const int month = (p[2] - u'0') * 10 + (p[3] - u'0');
    const int day = (p[4] - u'0') * 10 + (p[5] - u'0');
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

void RunSplitResidentNumbers(std::u16string_view text, TakenPositions& taken, int32_t& counter,
                             PersonalInfoHitList* hits)
{
    const size_t n = text.size();
    for (size_t nl = text.find(u'\n'); nl != std::u16string_view::npos; nl = text.find(u'\n', nl + 1)) {
        // Before the line end: [date][blank]?-[blank]? or [date][blank]?, then an optional CR.
        size_t j = nl;
        if (j > 0 && text[j - 1] == u'\r')
            --j;
        bool dashBefore = false;
        size_t before = j;
        if (before > 0 && IsBlank(text[before - 1]))
            --before;
        if (before > 0 && text[before - 1] == u'-') {
            dashBefore = true;
            --before;
            if (before > 0 && IsBlank(text[before - 1]))
                --before;
        }
        if (before < 6 || !IsDateDigits(text.data() + before - 6))
            continue;
        const size_t start = before - 6;
        // After it: [blank]? then, without a hyphen before the line end,
        // -[blank]?; then seven digits.
        size_t k = nl + 1;
        if (k < n && IsBlank(text[k]))
            ++k;
        if (!dashBefore) {
            if (k >= n || text[k] != u'-')
                continue;
            ++k;
            if (k < n && IsBlank(text[k]))
                ++k;
        }
        if (k + 7 > n)
            continue;
        bool digits = true;
        for (size_t d = 0; d < 7 && digits; ++d)
            digits = IsDigit(text[k + d]);
        if (!digits || taken.IsTaken(start))
            continue;
        std::u16string number(text.substr(start, 6));
        number += text.substr(k, 7);
        if (!IsValidResidentNumber(number))
            continue;
        if (hits)
            hits->push_back({kPersonalInfoResidentNumber, number.substr(0, 6) + u"-" + number.substr(6)});
        taken.Take(start);
        ++counter;
    }
}

}  // namespace

void PreparePersonalInfoPatterns() { (void)Patterns(); }

int IsValidResidentNumber(std::u16string_view text)
{
    if (text.size() != 13)
        return 0;
    static const int weights[12] = {2, 3, 4, 5, 6, 7, 8, 9, 2, 3, 4, 5};
    int d[13];
    for (int i = 0; i < 13; ++i)
        d[i] = static_cast<int>(text[i]) - u'0';
    int sum = 0;
    for (int i = 0; i < 12; ++i)
        sum += weights[i] * d[i];
    int check = (11 - sum % 11) % 10;
    return check == d[12] ? 1 : 0;
}

int AddPersonalInfoHit(PersonalInfoHitList* hits, std::u16string_view text, size_t start,
                       size_t length, PersonalInfoMask kindBit)
{
    if (length == 0 || start > text.size())
        return 0;
    std::u16string_view match = text.substr(start, length);
    if (kindBit == kMaskResidentNumber) {
        std::u16string digits;
        digits.reserve(match.size());
        for (char16_t c : match)
            if (c != u' ' && c != u'\t' && c != u'-')
                digits.push_back(c);
        if (!IsValidResidentNumber(digits))
            return 0;
        if (hits)
            hits->push_back({kPersonalInfoResidentNumber, std::u16string(match)});
        return 1;
    }
    if (hits && kindBit != kMaskAddress) {
        int kind = KindOfMaskBit(kindBit);
        if (kind >= 0)
            hits->push_back({static_cast<PersonalInfoKind>(kind), std::u16string(match)});
    }
    return 1;
}

void MatchPatternByLine(std::u16string_view text, int pattern, TakenPositions& taken,
                        int32_t& counter, PersonalInfoMask kindBit, PersonalInfoHitList* hits,
                        const CancelFlag* cancel)
{
    if (pattern < 0 || pattern >= kPersonalInfoPatternCount)
        return;
    if (Cancelled(cancel)) {
        CancelledReturn();
        return;
    }
    RunPattern(text, SplitLines(text), pattern, taken, counter, kindBit, hits, cancel);
}

void MatchAddress(std::u16string_view text, int pattern, const ProvinceCityList& cities,
                  TakenPositions& taken, int32_t& counter, PersonalInfoHitList* hits,
                  const CancelFlag* cancel)
{
    if (pattern < 0 || pattern >= kPersonalInfoPatternCount)
        return;
    if (Cancelled(cancel)) {
        CancelledReturn();
        return;
    }
    RunAddress(text, SplitLines(text), pattern, cities, taken, counter, hits, cancel);
}

ScanStatus FindPersonalInfoInText(std::u16string& text, PersonalInfoCounts& counts,
                           PersonalInfoMask mask, const CancelFlag* cancel,
                           PersonalInfoHitList* hits)
{
    for (char16_t& c : text)
        if (c == u'\u2013' || c == u'\u2010')
            c = u'-';
    if (text.empty())
        return ScanStatus::Done;

    const Lines lines = SplitLines(text);
    TakenPositions taken(text.size());
    for (const PersonalInfoGroup& g : kPersonalInfoGroups) {
        if (mask & g.kindBit) {
            int32_t& counter = counts[g.kind];
            for (int p = g.firstPattern; p <= g.lastPattern; ++p) {
                if (g.kindBit == kMaskAddress)
                    RunAddress(text, lines, p, kProvinceCityLists[p - kPatternAddressFirst], taken,
                               counter, hits, cancel);
                else
                    RunPattern(text, lines, p, taken, counter, g.kindBit, hits, cancel);
            }
            if (g.kindBit == kMaskResidentNumber)
                RunSplitResidentNumbers(text, taken, counter, hits);
        }
        if (Cancelled(cancel)) {
            plat::DebugOutput(u"IS_CANCLED_RETURN_VALUE");
            return ScanStatus::Cancelled;
        }
    }
    return ScanStatus::Done;
}
