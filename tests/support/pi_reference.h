// A plain, slow reference of the personal-information matcher on std::wregex
// (which follows the ECMAScript grammar literally). Written straight from the
// matching rules, without any of the matcher's shortcuts; tests and the
// benchmark compare the matcher with it. Header-only so the benchmark can use
// it without the test libraries.
#pragma once

#include <map>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "search/matcher.h"
#include "search/pipatterns.h"
#include "core/records.h"

namespace ps_ref {

// One wchar_t per UTF-16 code unit, so positions agree with the matcher's.
inline std::wstring ToWchar(std::u16string_view s)
{
    return std::wstring(s.begin(), s.end());
}
inline std::u16string FromWchar(std::wstring_view s)
{
    std::u16string out;
    out.reserve(s.size());
    for (wchar_t c : s)
        out.push_back(static_cast<char16_t>(c));
    return out;
}

// Hits as plain pairs (kind, text), to compare lists.
inline std::vector<std::pair<int, std::u16string>> View(const PersonalInfoHitList& hits)
{
    std::vector<std::pair<int, std::u16string>> out;
    for (const PersonalInfoHit& h : hits)
        out.emplace_back(h.kind, h.text);
    return out;
}

class ReferenceMatcher {
public:
    ReferenceMatcher()
    {
        for (int i = 0; i < kPersonalInfoPatternCount; ++i)
            m_regex.emplace_back(ToWchar(kPersonalInfoPatterns[i]), std::regex::ECMAScript);
    }

    // Steps of the matcher after extraction: dash normalisation, then the
    // groups in order.
    void Scan(std::u16string text16, PersonalInfoCounts& counts, PersonalInfoMask mask,
              PersonalInfoHitList* hits) const
    {
        std::wstring text = ToWchar(text16);
        for (wchar_t& c : text)
            if (c == 0x2013 || c == 0x2010)
                c = L'-';
        if (text.empty())
            return;
        std::map<size_t, bool> taken;
        for (const PersonalInfoGroup& g : kPersonalInfoGroups) {
            if (!(mask & g.kindBit))
                continue;
            for (int p = g.firstPattern; p <= g.lastPattern; ++p) {
                if (g.kindBit == kMaskAddress)
                    Address(text, p, taken, counts[g.kind], hits);
                else
                    ByLine(text, p, taken, counts[g.kind], g.kindBit, hits);
            }
            if (g.kindBit == kMaskResidentNumber)
                SplitResident(text, taken, counts[g.kind], hits);
        }
    }

    // Every match of one pattern along the lines, each search starting after
    // the previous match, without any acceptance test.
    std::vector<std::u16string> AllMatches(const std::u16string& text16, int pattern) const
    {
        std::wstring text = ToWchar(text16);
        std::vector<std::u16string> out;
        EachMatch(text, pattern, [&](size_t s, size_t e) { out.push_back(FromWchar(text.substr(s, e - s))); });
        return out;
    }

private:
    // A resident number wrapped at its hyphen: the date and the seven digits
    // on two lines, the hyphen ending the first or starting the second.
    void SplitResident(const std::wstring& text, std::map<size_t, bool>& taken, int32_t& counter,
                       PersonalInfoHitList* hits) const
    {
        static const std::wregex split(
            L"([0-9]{2}(0[1-9]|1[0-2])(0[1-9]|[1-2][0-9]|3[0-1]))"
            L"(([ \t]?-[ \t]?\r?\n[ \t]?)|([ \t]?\r?\n[ \t]?-[ \t]?))([0-9]{7})");
        for (auto it = std::wsregex_iterator(text.begin(), text.end(), split); it != std::wsregex_iterator(); ++it) {
            const size_t start = static_cast<size_t>(it->position(0));
            const std::wstring digits = (*it)[1].str() + (*it)[7].str();
            if (taken.count(start) || !IsValidResidentNumber(FromWchar(digits)))
                continue;
            taken[start] = true;
            ++counter;
            if (hits)
                hits->push_back({kPersonalInfoResidentNumber, FromWchar((*it)[1].str() + L"-" + (*it)[7].str())});
        }
    }

    template <typename F>
    void EachMatch(const std::wstring& text, int pattern, F&& f) const
    {
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = pos;
            while (end < text.size() && text[end] != L'\n' && text[end] != L'\0')
                ++end;
            if (end - pos >= 7) {
                auto from = text.begin() + pos;
                auto to = text.begin() + end;
                std::wsmatch m;
                while (from < to && std::regex_search(from, to, m, m_regex[pattern])) {
                    size_t s = static_cast<size_t>(m[0].first - text.begin());
                    size_t e = static_cast<size_t>(m[0].second - text.begin());
                    f(s, e);
                    from = text.begin() + (e > s ? e : s + 1);
                }
            }
            pos = end + 1;
        }
    }

    void ByLine(const std::wstring& text, int pattern, std::map<size_t, bool>& taken,
                int32_t& counter, PersonalInfoMask bit, PersonalInfoHitList* hits) const
    {
        EachMatch(text, pattern, [&](size_t s, size_t e) {
            if (taken.count(s))
                return;
            std::wstring match = text.substr(s, e - s);
            if (bit == kMaskResidentNumber) {
                std::wstring digits;
                for (wchar_t c : match)
                    if (c != L' ' && c != L'\t' && c != L'-')
                        digits += c;
                if (!Valid(digits))
                    return;
            }
            if (hits && bit != kMaskAddress)
                hits->push_back({static_cast<PersonalInfoKind>(KindOfMaskBit(bit)), FromWchar(match)});
            taken[s] = true;
            ++counter;
        });
    }

    void Address(const std::wstring& text, int pattern, std::map<size_t, bool>& taken,
                 int32_t& counter, PersonalInfoHitList* hits) const
    {
        const ProvinceCityList& list = kProvinceCityLists[pattern - kPatternAddressFirst];
        EachMatch(text, pattern, [&](size_t s, size_t) {
            if (taken.count(s))
                return;
            std::wstring window = text.substr(s, 11);
            // A copy of the text as a C string: it ends at a NUL.
            window = std::wstring(window.c_str());
            if (!window.empty() && window.back() == L'\n')
                window.pop_back();
            bool found = false;
            for (int i = 0; i < list.count && !found; ++i)
                found = window.find(ToWchar(list.names[i]), 1) != std::wstring::npos;
            if (!found)
                return;
            if (hits) {
                for (wchar_t& c : window)
                    if (c == L'\n')
                        c = L' ';
                hits->push_back({kPersonalInfoAddress, FromWchar(window)});
            }
            taken[s] = true;
            ++counter;
        });
    }

    static bool Valid(const std::wstring& d)
    {
        if (d.size() != 13)
            return false;
        int w[12] = {2, 3, 4, 5, 6, 7, 8, 9, 2, 3, 4, 5};
        int sum = 0;
        for (int i = 0; i < 12; ++i)
            sum += w[i] * (static_cast<int>(d[i]) - L'0');
        return (11 - sum % 11) % 10 == static_cast<int>(d[12]) - L'0';
    }

    std::vector<std::wregex> m_regex;
};

}  // namespace ps_ref
