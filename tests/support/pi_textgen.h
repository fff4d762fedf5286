// Synthetic document text with personal information of every kind, for the
// matcher's tests and benchmark. Header-only.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "search/pipatterns.h"

namespace ps_gen {

class TextGenerator {
public:
    explicit TextGenerator(uint32_t seed) : m_rng(seed) {}

    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }
    bool Chance(int percent) { return Int(0, 99) < percent; }

    std::u16string Digits(int n)
    {
        std::u16string s;
        for (int i = 0; i < n; ++i)
            s.push_back(static_cast<char16_t>(u'0' + Int(0, 9)));
        return s;
    }
    std::u16string Num(int v, int width)
    {
        std::u16string s;
        for (int i = 0; i < width; ++i, v /= 10)
            s.insert(s.begin(), static_cast<char16_t>(u'0' + v % 10));
        return s;
    }
    template <typename T>
    const T& Pick(const std::vector<T>& v) { return v[Int(0, static_cast<int>(v.size()) - 1)]; }

    std::u16string Dash()
    {
        static const std::vector<std::u16string> d = {u"-", u"-", u"-", u" - ", u" -", u"- ",
                                                      u"\u2013", u"\u2010", u"\t-", u"  -", u"--"};
        return Pick(d);
    }

    std::u16string Resident()
    {
        std::u16string front = Num(Int(0, 99), 2) + Num(Int(Chance(90) ? 1 : 0, Chance(90) ? 12 : 13), 2) +
                               Num(Int(Chance(95) ? 1 : 0, Chance(90) ? 31 : 39), 2);
        std::u16string back = Digits(6);
        std::u16string all = front + back;
        int w[12] = {2, 3, 4, 5, 6, 7, 8, 9, 2, 3, 4, 5};
        int sum = 0;
        for (int i = 0; i < 12; ++i)
            sum += w[i] * (all[i] - u'0');
        int check = (11 - sum % 11) % 10;
        if (Chance(30))
            check = (check + Int(1, 9)) % 10;
        return front + Dash() + back + static_cast<char16_t>(u'0' + check);
    }
    std::u16string Card()
    {
        static const std::vector<std::u16string> first = {u"3", u"4", u"5", u"6", u"9", u"1", u","};
        std::u16string s = Pick(first) + Digits(3);
        for (int i = 0; i < 3; ++i)
            s += Dash() + Digits(Chance(90) ? 4 : Int(3, 5));
        return s;
    }
    std::u16string Phone()
    {
        static const std::vector<std::u16string> pre = {u"02", u"0505", u"060", u"070", u"080", u"010",
                                                        u"011", u"019", u"031", u"033", u"041", u"044",
                                                        u"050", u"055", u"061", u"064", u"065", u"034"};
        static const std::vector<std::u16string> sep = {u"-", u")", u" ", u") ", u")-", u"-)", u"", u" - ", u"    "};
        std::u16string s = Chance(20) ? u"(" : u"";
        s += Pick(pre) + Pick(sep);
        s += static_cast<char16_t>(u'0' + Int(Chance(90) ? 1 : 0, 9)) + Digits(Int(2, 3));
        return s + Dash() + Digits(Chance(90) ? 4 : 5);
    }
    std::u16string Ip()
    {
        std::u16string s;
        for (int i = 0; i < 4; ++i) {
            if (i)
                s += u".";
            int v = Chance(90) ? Int(0, 255) : Int(256, 999);
            if (Chance(5))
                s += u"0";
            s += Num(v, v >= 100 ? 3 : v >= 10 ? 2 : 1);
        }
        return s;
    }
    std::u16string Word(int lo, int hi)
    {
        static const std::u16string chars = u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";
        std::u16string s;
        int n = Int(lo, hi);
        for (int i = 0; i < n; ++i)
            s.push_back(chars[Int(0, static_cast<int>(chars.size()) - 1)]);
        return s;
    }
    std::u16string Email()
    {
        std::u16string s = Word(1, 10);
        if (Chance(30))
            s += u"." + Word(1, 6);
        s += u"@" + Word(2, 8);
        int labels = Int(1, 3);
        for (int i = 0; i < labels; ++i)
            s += u"." + Word(2, 4);
        return s;
    }
    // A text that an account pattern matches: each bracket set gives random
    // characters of its own (rarely the comma), each optional space appears
    // now and then.
    std::u16string FromAccountPattern(int pattern)
    {
        std::u16string_view p = kPersonalInfoPatterns[pattern];
        std::u16string out;
        for (size_t i = 0; i < p.size(); ++i) {
            if (p[i] == u'-' ) {
                out += u'-';
                continue;
            }
            if (p[i] != u'[')
                continue;
            size_t close = p.find(u']', i + 1);
            std::u16string set;
            for (size_t k = i + 1; k < close; ++k) {
                if (k + 2 < close && p[k + 1] == u'-') {
                    for (char16_t c = p[k]; c <= p[k + 2]; ++c)
                        set.push_back(c);
                    k += 2;
                } else {
                    set.push_back(p[k]);
                }
            }
            int lo = 1, hi = 1;
            i = close;
            if (i + 1 < p.size() && p[i + 1] == u'{') {
                size_t end = p.find(u'}', i + 1);
                std::u16string_view q = p.substr(i + 2, end - i - 2);
                size_t comma = q.find(u',');
                auto num = [](std::u16string_view v) {
                    int n = 0;
                    for (char16_t c : v)
                        n = n * 10 + (c - u'0');
                    return n;
                };
                lo = num(q.substr(0, comma));
                hi = comma == std::u16string_view::npos ? lo : num(q.substr(comma + 1));
                i = end;
            }
            int n = Int(lo, hi);
            if (set == u" ") {
                if (n && Chance(30))
                    out += u' ';
                continue;
            }
            for (int k = 0; k < n; ++k) {
                char16_t c;
                do
                    c = set[Int(0, static_cast<int>(set.size()) - 1)];
                while (c == u',' && set.size() > 1 && !Chance(5));
                out.push_back(c);
            }
        }
        return out;
    }

    std::u16string Account()
    {
        if (Chance(60))
            return FromAccountPattern(Int(kPatternAccountFirst, kPatternAccountLast));
        std::u16string s = Digits(Int(1, 6));
        int groups = Int(1, 4);
        for (int i = 0; i < groups; ++i)
            s += Dash() + Digits(Int(1, 9));
        return s;
    }
    std::u16string Province()
    {
        static const std::vector<std::u16string> p = {
            u"강원", u"강원도", u"경기", u"경기도", u"경남", u"경상남도", u"경북", u"경상북도", u"광주",
            u"광주광역시", u"대구", u"대구광역시", u"대전", u"대전시", u"부산", u"부산광역시", u"서울",
            u"서울특별시", u"세종", u"세종특별자치시", u"울산", u"울산시", u"인천", u"인천광역시", u"전남",
            u"전라남도", u"전북", u"전라북도", u"제주", u"제주특별자치도", u"충남", u"충청남도", u"충북",
            u"충청북도"};
        return Pick(p);
    }
    std::u16string City()
    {
        int list = Int(0, kPatternAddressLast - kPatternAddressFirst);
        const ProvinceCityList& l = kProvinceCityLists[list];
        return l.names[Int(0, l.count - 1)];
    }
    std::u16string Address()
    {
        std::u16string s = Province();
        s += Chance(15) ? u"\n" : Chance(80) ? u" " : u"";
        s += City() + (Chance(50) ? u"시 " : u"구 ") + Prose(1);
        return s;
    }
    std::u16string Prose(int words)
    {
        static const std::vector<std::u16string> w = {
            u"개인정보", u"문서", u"담당자", u"연락처", u"주소", u"계좌번호", u"의", u"및", u"대한민국",
            u"확인", u"report", u"Data", u"the", u"제출", u"역삼동", u"광산", u"중구", u"구로",
            u"2024년", u"제1조", u"(주)", u"회의록", u"서명"};
        std::u16string s;
        for (int i = 0; i < words; ++i) {
            if (i)
                s += u" ";
            s += Pick(w);
        }
        return s;
    }

    // One line of a personal-information document: a label and an item, or
    // several items, or prose.
    std::u16string Item()
    {
        switch (Int(0, 8)) {
        case 0: return Resident();
        case 1: return Card();
        case 2: return Phone();
        case 3: return Ip();
        case 4: return Email();
        case 5: return Account();
        case 6: return Address();
        case 7: return Digits(Int(1, 20));
        default: return Prose(Int(1, 4));
        }
    }
    std::u16string Line()
    {
        static const std::vector<std::u16string> sep = {u": ", u" ", u"\t", u", ", u"(", u")", u"", u"a", u"_", u"번호:"};
        std::u16string s = Chance(50) ? Prose(Int(0, 2)) + Pick(sep) : u"";
        int items = Int(1, 3);
        for (int i = 0; i < items; ++i)
            s += Item() + Pick(sep);
        return s;
    }
    std::u16string Document(int lines)
    {
        std::u16string s;
        for (int i = 0; i < lines; ++i) {
            s += Line();
            s += Chance(3) ? u"\r\n" : Chance(2) ? std::u16string(1, u'\0') : u"\n";
        }
        return s;
    }

    // Fragments glued at random: separators, digits, Hangul and the
    // patterns' own pieces next to one another in every order.
    std::u16string Noise(int pieces)
    {
        static const std::vector<std::u16string> p = {
            u"0", u"1", u"5", u"9", u"02", u"010", u"0505", u"123", u"4567", u"25", u"255", u"256",
            u"-", u"-", u" ", u" ", u"\t", u".", u"@", u",", u"(", u")", u"_", u"a", u"Z", u"\n",
            u"\u2013", u"\u2010", u"강원", u"경", u"상", u"남", u"북", u"도", u"광주", u"광", u"역", u"시",
            u"서울", u"특별", u"세종", u"자치", u"제주", u"충", u"청", u"전", u"라", u"대구", u"부산",
            u"강남", u"해운대", u"광산", u"중구", u"서귀포", u"가", u"\u00e9", u"\U0001F600", u"\r",
            u"900101", u"-\n", u"\r\n-", u"-\r\n "};
        std::u16string s;
        for (int i = 0; i < pieces; ++i) {
            switch (Int(0, 9)) {
            case 0: s += Item(); break;
            case 1: s += Digits(Int(1, 14)); break;
            default: s += Pick(p); break;
            }
        }
        return s;
    }

private:
    std::mt19937 m_rng;
};

}  // namespace ps_gen
