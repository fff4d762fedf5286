// Code pages 949 and 1361 against Python's codec tables (a committed sample,
// scripts/make_codec_table.py) and against iconv over every byte pair.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <optional>
#include <iconv.h>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/codec.h"

using plat::DecodeCodePage;
using plat::EncodeCodePage;
using plat::WString;

namespace {

std::string FromHex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

WString FromUnits(const std::string& text)
{
    WString out;
    std::istringstream in(text);
    std::string u;
    while (in >> u)
        out.push_back(static_cast<char16_t>(std::stoi(u, nullptr, 16)));
    return out;
}

std::string Hex(const std::string& bytes)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string Units(const WString& w)
{
    std::string out;
    char buf[8];
    for (char16_t c : w) {
        std::snprintf(buf, sizeof(buf), out.empty() ? "%04X" : " %04X", static_cast<unsigned>(c));
        out += buf;
    }
    return out;
}

// One conversion through iconv alone; nullopt when iconv refuses any of it.
std::optional<std::string> Iconv(const char* to, const char* from, const std::string& in)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    char out[64];
    char* ip = const_cast<char*>(in.data());
    size_t il = in.size();
    char* op = out;
    size_t ol = sizeof(out);
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || il != 0)
        return std::nullopt;
    return std::string(out, sizeof(out) - ol);
}

WString FromUtf16Le(const std::string& b)
{
    WString w;
    for (size_t i = 0; i + 1 < b.size(); i += 2)
        w.push_back(static_cast<char16_t>(static_cast<unsigned char>(b[i]) |
                                          (static_cast<unsigned char>(b[i + 1]) << 8)));
    return w;
}

std::string ToUtf16Le(const WString& w)
{
    std::string b;
    for (char16_t c : w) {
        b.push_back(static_cast<char>(c & 0xFF));
        b.push_back(static_cast<char>(c >> 8));
    }
    return b;
}

}  // namespace

// Python's 'cp949' and 'johab' codecs with errors='replace'. Where Python
// puts U+FFFD the converter puts its substitute character. The one known
// difference: glibc's JOHAB has a code for U+327E (0xD9E8), Python has none.
TEST(Codec, MatchesPythonTables)
{
    std::ifstream in(std::string(PS_SOURCE_DIR) + "/tests/platform/data/codec_cases.tsv");
    ASSERT_TRUE(in) << "codec_cases.tsv missing";
    std::string line;
    int cases = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string cpText, dir, input, expected;
        std::getline(fields, cpText, '\t');
        std::getline(fields, dir, '\t');
        std::getline(fields, input, '\t');
        std::getline(fields, expected, '\t');
        const unsigned cp = static_cast<unsigned>(std::stoul(cpText));
        ++cases;
        if (dir == "dec") {
            const std::string bytes = FromHex(input);
            if (cp == 1361 && input.find("D9E8") != std::string::npos)
                continue;
            WString want = FromUnits(expected);
            for (auto& c : want)
                if (c == 0xFFFD)
                    c = plat::kDecodeSubstitute;
            EXPECT_EQ(Units(DecodeCodePage(cp, bytes)), Units(want)) << cp << " decode " << input;
        } else {
            const WString text = FromUnits(input);
            if (cp == 1361 && text == u"\u327E")
                continue;
            EXPECT_EQ(Hex(EncodeCodePage(cp, text)), expected) << cp << " encode " << input;
        }
    }
    EXPECT_GT(cases, 3000);
}

// Every byte pair with a lead byte >= 0x80, against iconv: a pair iconv
// takes gives iconv's character; otherwise the lead byte is substituted and
// the second byte is read on its own (an ASCII byte stays itself).
TEST(Codec, EveryPairAgreesWithIconv)
{
    struct Page { unsigned cp; const char* name; };
    for (Page page : {Page{949, "CP949"}, Page{1361, "JOHAB"}}) {
        int mismatches = 0;
        for (int lead = 0x80; lead <= 0xFF; ++lead) {
            for (int trail = 0; trail <= 0xFF; ++trail) {
                const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
                const WString got = DecodeCodePage(page.cp, pair);
                WString want;
                auto viaIconv = Iconv("UTF-16LE", page.name, pair);
                if (viaIconv && FromUtf16Le(*viaIconv).size() == 1) {
                    want = FromUtf16Le(*viaIconv);
                } else if (page.cp == 1361 && lead == 0x84 && got.size() == 1 && got[0] >= 0x3000 &&
                           got[0] <= 0x314E) {
                    continue;  // lone final consonants, which glibc lacks (checked against Python above)
                } else {
                    want = WString(1, plat::kDecodeSubstitute) + DecodeCodePage(page.cp, pair.substr(1));
                }
                if (got != want && ++mismatches < 10)
                    ADD_FAILURE() << page.name << " " << Hex(pair) << ": " << Units(got) << " want " << Units(want);
            }
        }
        EXPECT_EQ(mismatches, 0) << page.name;
    }
}

// Every BMP character encodes as iconv encodes it, except where iconv would
// produce a byte below 0x80 for a non-ASCII character.
TEST(Codec, EveryCharacterEncodesAsIconv)
{
    struct Page { unsigned cp; const char* name; };
    for (Page page : {Page{949, "CP949"}, Page{1361, "JOHAB"}}) {
        int mismatches = 0;
        for (unsigned c = 0x80; c <= 0xFFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF)
                continue;
            const WString ch(1, static_cast<char16_t>(c));
            bool usedDefault = false;
            const std::string got = EncodeCodePage(page.cp, ch, nullptr, &usedDefault);
            auto viaIconv = Iconv(page.name, "UTF-16LE", ToUtf16Le(ch));
            std::string want = "?";
            if (viaIconv && !viaIconv->empty() && static_cast<unsigned char>((*viaIconv)[0]) >= 0x80)
                want = *viaIconv;
            if ((got != want || usedDefault != (want == "?")) && ++mismatches < 10)
                ADD_FAILURE() << page.name << " U+" << std::hex << c << ": " << Hex(got) << " want " << Hex(want);
        }
        EXPECT_EQ(mismatches, 0) << page.name;
    }
}

TEST(Codec, AsciiIsAsciiInBothCodePages)
{
    std::string ascii;
    WString wide;
    for (int b = 0; b < 0x80; ++b) {
        ascii.push_back(static_cast<char>(b));
        wide.push_back(static_cast<char16_t>(b));
    }
    for (unsigned cp : {949u, 1361u, plat::kCpAcp}) {
        EXPECT_EQ(DecodeCodePage(cp, ascii), wide) << cp;
        EXPECT_EQ(EncodeCodePage(cp, wide), ascii) << cp;
        EXPECT_EQ(DecodeCodePage(cp, "C:\\Docs\\a.hwp"), u"C:\\Docs\\a.hwp") << cp;
    }
    // The won sign has no code of its own in JOHAB: 0x5C is the backslash.
    bool usedDefault = false;
    EXPECT_EQ(EncodeCodePage(1361, u"\u20A9", nullptr, &usedDefault), "?");
    EXPECT_TRUE(usedDefault);
}

TEST(Codec, BadInputIsSubstitutedAndConversionGoesOn)
{
    struct Case { unsigned cp; std::string in; std::u16string want; };
    const Case cases[] = {
        {949, "\x80" "abc", u"?abc"},                       // never a lead byte
        {949, "\xFF\xB0\xA1", u"?가"},
        {949, "\xC9" "A\xB0\xA1", u"?A가"},                 // lead byte with a trail that forms no character
        {949, "\xB0\xA1\xB0", u"가?"},                      // pair cut off at the end
        {949, "\xB0\n\xB0\xA1", u"?\n가"},                  // a line feed is never swallowed
        {949, "\xB0\\x", u"?\\x"},
        {1361, "\x88\x61\\\x88\x61", u"가\\가"},
        {1361, "\xFF\\", u"?\\"},
        {1361, "\x84\x42", u"\u3131"},                       // lone final consonant
        {1361, "\xD3", u"?"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeCodePage(c.cp, c.in), c.want) << c.cp << " " << Hex(c.in);

    // Unmappable characters and broken surrogates become the default
    // character; the rest of the text is kept.
    bool usedDefault = false;
    EXPECT_EQ(EncodeCodePage(949, u"a\u00A0b\U0001F600c\xD800" u"d\xDCFF" u"가", "#", &usedDefault),
              "a#b#c#d#\xB0\xA1");
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(EncodeCodePage(949, u"가나", nullptr, &usedDefault), "\xB0\xA1\xB3\xAA");
    EXPECT_FALSE(usedDefault);
}

TEST(Codec, WindowsShapedCalls)
{
    const char* src = "\xC7\xD1\xB1\xDB" "a";  // 한글a
    char16_t wbuf[16];
    // Size query with 0, -1 including the terminator.
    EXPECT_EQ(plat::MultiByteToWideChar(plat::kCpAcp, 0, src, -1, nullptr, 0), 4);
    EXPECT_EQ(plat::MultiByteToWideChar(plat::kCpAcp, 0, src, 5, nullptr, 0), 3);
    EXPECT_EQ(plat::MultiByteToWideChar(plat::kCpAcp, 0, src, -1, wbuf, 16), 4);
    EXPECT_EQ(WString(wbuf, 4), WString(u"한글a\0", 4));
    // Too small: 0; exact fit works.
    EXPECT_EQ(plat::MultiByteToWideChar(plat::kCpAcp, 0, src, -1, wbuf, 3), 0);
    EXPECT_EQ(plat::MultiByteToWideChar(plat::kCpAcp, 0, src, 5, wbuf, 3), 3);
    // Bad arguments.
    EXPECT_EQ(plat::MultiByteToWideChar(plat::kCpAcp, 0, nullptr, -1, wbuf, 16), 0);
    EXPECT_EQ(plat::MultiByteToWideChar(plat::kCpAcp, 0, src, 0, wbuf, 16), 0);
    EXPECT_EQ(plat::MultiByteToWideChar(plat::kCpAcp, 0, src, -2, wbuf, 16), 0);
    EXPECT_EQ(plat::MultiByteToWideChar(plat::kCpAcp, 0, src, 5, nullptr, 16), 0);

    const char16_t* wide = u"한글a";
    char buf[16];
    EXPECT_EQ(plat::WideCharToMultiByte(plat::kCpAcp, 0, wide, -1, nullptr, 0, nullptr, nullptr), 6);
    EXPECT_EQ(plat::WideCharToMultiByte(plat::kCpAcp, 0, wide, 3, nullptr, 0, nullptr, nullptr), 5);
    EXPECT_EQ(plat::WideCharToMultiByte(plat::kCpAcp, 0, wide, -1, buf, 16, nullptr, nullptr), 6);
    EXPECT_EQ(std::string(buf, 6), std::string(src, 6));
    EXPECT_EQ(plat::WideCharToMultiByte(plat::kCpAcp, 0, wide, -1, buf, 5, nullptr, nullptr), 0);
    EXPECT_EQ(plat::WideCharToMultiByte(plat::kCpAcp, 0, wide, 3, buf, 5, nullptr, nullptr), 5);
    bool usedDefault = true;
    EXPECT_EQ(plat::WideCharToMultiByte(plat::kCpAcp, 0, u"\u00A0", 1, buf, 16, nullptr, &usedDefault), 1);
    EXPECT_EQ(buf[0], '?');
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(plat::WideCharToMultiByte(plat::kCpJohab, 0, u"가", 1, buf, 16, nullptr, &usedDefault), 2);
    EXPECT_EQ(std::string(buf, 2), "\x88\x61");
    EXPECT_FALSE(usedDefault);
}

// Each thread has its own conversion descriptors; results do not depend on
// what other threads convert at the same time.
TEST(Codec, ConcurrentConversionsAgree)
{
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "\xC7\xD1\xB1\xDB \xC9" "A \x80\\";
    const WString want = DecodeCodePage(949, text);
    const std::string johab = EncodeCodePage(1361, want);
    std::vector<std::thread> threads;
    std::atomic<int> bad{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (t % 2 == 0 ? DecodeCodePage(949, text) != want : DecodeCodePage(1361, johab) != want)
                    ++bad;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(bad.load(), 0);
}

// A document may name any code page. One that iconv lacks reads as Latin-1;
// single-byte code pages iconv has are used as they are.
TEST(Codec, OtherCodePages)
{
    for (unsigned cp = 59000; cp < 59400; ++cp)
        ASSERT_EQ(DecodeCodePage(cp, "a\xE9"), u"a\u00E9") << cp;
    EXPECT_EQ(DecodeCodePage(1252, "\x80\xE9"), u"\u20AC\u00E9");
    EXPECT_EQ(EncodeCodePage(1252, u"\u20AC\u00E9"), "\x80\xE9");
    EXPECT_EQ(DecodeCodePage(plat::kCpUtf8, "\xED\x95\x9C\xFF"), u"한\uFFFD");
}
