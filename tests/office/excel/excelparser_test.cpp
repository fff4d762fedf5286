#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "extract/textcollector.h"
#include "office/excel/excelparser.h"
#include "platform/docfile.h"
#include "platform/text.h"
#include "support/cfb_writer.h"
#include "support/isolation.h"
#include "xlsbuilder.h"

using namespace xls_test;

namespace {

struct Result {
    int ok = -1;
    std::string text;  // UTF-8
    std::vector<std::u16string> sst;
    const char* damage = nullptr;  // the first damage noted, null when none
};

Result ReadStream(const std::string& stream)
{
    Result r;
    std::u16string text;
    CTextCollector collector;
    collector.SetOutput(&text);
    plat::DamageScope damage;
    CIExcelParser parser(&collector, 0);
    r.ok = parser.ConvertStream(stream);
    r.text = plat::WideToUtf8(text);
    r.sst = parser.SharedStrings();
    r.damage = damage.Reason();
    return r;
}

}  // namespace

TEST(ExcelCells, PositionMarksAndCellKinds)
{
    struct Case {
        const char* name;
        std::string records;
        const char* expected;
    } cases[] = {
        {"labelsst A1 B1 A2", Sst({Narrow("a1"), Narrow("b1"), Narrow("a2")}) + LabelSst(0, 0, 0) + LabelSst(0, 1, 1) + LabelSst(1, 0, 2),
         "a1\tb1\n\ta2"},
        {"labelsst beyond the table", Sst({Narrow("a1")}) + LabelSst(3, 3, 1), ""},
        // Cells of every kind are placed by the same marks, so that no two
        // cells run together whatever records hold them.
        {"numbers", R(0x0203, Cell(0, 0) + F64(1)) + R(0x0203, Cell(0, 1) + F64(2)) + R(0x0203, Cell(1, 0) + F64(3)),
         "1\t2\n\t3"},
        {"rk negative integer", Rk(0, 0, 5, RkInt(-5)), "-5"},
        {"rk x100", Rk(0, 0, 5, RkInt(1234, true)), "12.34"},
        {"rk float", Rk(0, 0, 5, 0x3FF80000), "1.5"},
        {"mulrk", Sst({Narrow("x")}) + LabelSst(0, 0, 0) +
                      R(0x00BD, U16(1) + U16(0) + U16(0) + U32(RkInt(1)) + U16(0) + U32(RkInt(2)) + U16(1)),
         "x\n1\t2"},
        {"mulrk float kind", R(0x00BD, U16(0) + U16(0) + U16(0) + U32(0x3FF80000) + U16(0)), "1.5"},
        {"rk number formula label in one row, a label below",
         Sst({Narrow("x")}) + Rk(0, 0, 0, RkInt(4500000)) + R(0x0203, Cell(0, 1) + F64(0.65)) +
             R(0x0006, Cell(0, 2) + F64(2) + U16(0) + U32(0) + U16(0)) + LabelSst(1, 0, 0),
         "4500000\t0.65\t2\n\tx"},
        {"formula results",
         R(0x0006, Cell(0, 0) + U8(1) + U8(0) + U8(1) + std::string(3, '\0') + U16(0xFFFF) + U16(0) + U32(0) + U16(0)) +
             R(0x0006, Cell(0, 1) + U8(2) + U8(0) + U8(7) + std::string(3, '\0') + U16(0xFFFF) + U16(0) + U32(0) + U16(0)) +
             R(0x0006, Cell(0, 2) + U8(0) + std::string(5, '\0') + U16(0xFFFF) + U16(0) + U32(0) + U16(0)) +
             R(0x0207, Wide(u"res")),
         "TRUE\t#DIV/0!\tres"},
        {"boolerr", R(0x0205, Cell(0, 0) + U8(0x2A) + U8(1)) + R(0x0205, Cell(0, 1) + U8(1) + U8(0)), "#N/A!\tTRUE"},
        {"label biff8", R(0x0204, Cell(0, 0) + U16(2) + U8(1) + Utf16(u"\uD55C\uAE00")), "\xED\x95\x9C\xEA\xB8\x80"},
        // The runs of a rich string change fonts; they do not cut its words.
        {"rstring runs", R(0x00D6, Cell(0, 0) + Narrow("abcdef") + U16(2) + U16(2) + U16(0) + U16(3) + U16(0)),
         "abcdef"},
        {"relative to the sheet bounds",
         Sst({Narrow("a"), Narrow("b")}) + R(0x0200, U32(5) + U32(9) + U16(2) + U16(4) + U16(0)) + LabelSst(5, 2, 0) +
             LabelSst(6, 2, 1),
         "a\nb"},
        {"rstring without runs", R(0x00D6, Cell(0, 0) + Narrow("plain") + U16(0)), "plain"},
    };
    for (const Case& c : cases) {
        const Result r = ReadStream(Sheet(c.records));
        EXPECT_EQ(r.ok, 1) << c.name;
        EXPECT_EQ(r.text, c.expected) << c.name;
    }
}

TEST(ExcelCells, NumberTextsFollowTheCellFormat)
{
    // XF 0: built-in format 0; XF 1: format 0x00A4 of a FORMAT record;
    // XF 2: format 0x00B0 that no record defines.
    auto xf = [](std::uint16_t fmt) { return R(0x00E0, U16(0) + U16(fmt) + std::string(16, '\0')); };
    const std::string globals = Bof8(0x0005) + xf(0) + xf(0x00A4) + xf(0x00B0) +
                                R(0x041E, U16(0x00A4) + Wide(u"0")) + Eof();
    const Result r = ReadStream(globals + Sheet(Rk(0, 0, 0, RkInt(42)) + Rk(0, 1, 1, RkInt(7)) + Rk(0, 2, 2, RkInt(9)) +
                                         R(0x0006, Cell(0, 3, 2) + F64(3) + U16(0) + U32(0) + U16(0))));
    EXPECT_EQ(r.ok, 1);
    // A format id without its FORMAT record shows the number as General does.
    EXPECT_EQ(r.text, "42\t7\t9\t3");

    // One NUMBER cell in XF 0 of the given format id, with the FORMAT record
    // when a text is given.
    const struct {
        std::uint16_t id;
        const char16_t* format;  // null: no FORMAT record
        double value;
        const char* expected;
    } cases[] = {
        {0, nullptr, 0.65, "0.65"},                 // General keeps the decimals
        {0, nullptr, 1.0 / 3, "0.333333333333333"},
        {0, nullptr, 8001011234567, "8001011234567"},
        {0, nullptr, 4123456789012345, "4123456789012345"},  // a card number stored as a number
        {0, nullptr, 1.5e20, "1.5E+20"},
        {1, nullptr, 2.7, "3"},
        {4, nullptr, 1234.5, "1,234.50"},
        {10, nullptr, 0.1234, "12.34%"},
        {14, nullptr, 40293.7378, "04/25/2010"},     // a time part leaves the month alone
        {22, nullptr, 40293.75, "4/25/10 18: 0"},
        {5, u"\"\u20A9\"#,##0;\\-\"\u20A9\"#,##0", 1234, "\xE2\x82\xA9" "1,234"},
        {5, nullptr, 1234, "1,234"},              // the language's currency format, no record
        {42, nullptr, 1234.7, "1,235"},
        {11, nullptr, 12345.678, "1.23E+04"},     // scientific, as the workbook shows it
        {11, nullptr, 8001011234567, "8001011234567"},  // a long whole number keeps its digits
        {12, nullptr, 1.5, "1 1/2"},
        {49, nullptr, 17, "17"},                  // text format
        {164, u"dd/mm/yyyy", 40293.7378, "25/04/2010"},
        {164, u"YYYY-MM-DD hh:mm", 40293.75, "2010-04-25 18: 0"},
        {164, u"mm:ss", 0.5 + 65.0 / 86400, " 1: 5"},
        {164, u"General", 2.25, "2.25"},
        {164, u"General\"\uAC1C\"", 12, "12\xEA\xB0\x9C"},
        {164, u"General\"\uAC1C\"", -12, "-12\xEA\xB0\x9C"},
        {164, u"General;\\(General\\)", -2.5, "(2.5)"},
        {164, u"000000-0000000", 8001011234567, "800101-1234567"},
    };
    for (const auto& c : cases) {
        std::string g = Bof8(0x0005) + xf(c.id);
        if (c.format)
            g += R(0x041E, U16(c.id) + Wide(c.format));
        const Result n = ReadStream(g + Eof() + Sheet(R(0x0203, Cell(0, 0) + F64(c.value))));
        EXPECT_EQ(n.text, c.expected) << c.id << " " << c.value;
    }
}

TEST(ExcelStrings, SharedStringTableAndContinuations)
{
    // One record: compressed, wide with a line feed, rich with extended data, empty.
    std::string rich = U16(4) + U8(0x0C) + U16(1) + U32(4) + "rich" + U16(0) + U16(1) + "EXT!";
    Result r = ReadStream(Sheet(Sst({Narrow("plain"), Wide(u"wide\nline"), rich, Narrow(""), Narrow("last")})));
    EXPECT_EQ(r.sst, (std::vector<std::u16string>{u"plain", u"wide line", u"rich", u"", u"last"}));

    // Continued strings: "ABCDEF" split after three wide characters and
    // continued as single bytes; "GHIJKLMNOP" with one character in the SST
    // record (fewer than half) continued wide; then a string that starts at
    // the beginning of the next CONTINUE record.
    std::string sst = R(0x00FC, U32(4) + U32(4) + U16(6) + U8(1) + Utf16(u"ABC"));
    sst += R(0x003C, U8(0) + "DEF" + U16(10) + U8(1) + Utf16(u"G"));
    sst += R(0x003C, U8(1) + Utf16(u"HIJKLMNOP"));
    sst += R(0x003C, Narrow("next") + U16(3) + U8(0) + "xy");
    sst += R(0x003C, U8(1) + Utf16(u"z"));
    r = ReadStream(Sheet(sst + LabelSst(0, 0, 0) + LabelSst(0, 1, 1) + LabelSst(0, 2, 2) + LabelSst(0, 3, 3)));
    EXPECT_EQ(r.sst, (std::vector<std::u16string>{u"ABCDEF", u"GHIJKLMNOP", u"next", u"xyz"}));
    EXPECT_EQ(r.text, "ABCDEF\tGHIJKLMNOP\tnext\txyz");

    // A compressed string holds the low bytes of characters U+0000 to
    // U+00FF, also where it continues in a CONTINUE record.
    r = ReadStream(Sheet(R(0x00FC, U32(2) + U32(2) + Narrow("Entr\xE9" "e") + U16(4) + U8(0) + "a\xF1") +
                         R(0x003C, U8(0) + "o\xBA")));
    EXPECT_EQ(r.sst, (std::vector<std::u16string>{u"Entr\u00E9e", u"a\u00F1o\u00BA"}));

    // A table that ends inside a string keeps the strings before it.
    r = ReadStream(Sheet(R(0x00FC, U32(3) + U32(3) + Narrow("one") + U16(9) + U8(0) + "two")));
    EXPECT_EQ(r.sst, (std::vector<std::u16string>{u"one"}));
}

TEST(ExcelWorkbook, SheetCaptionsAndSubstreams)
{
    auto boundSheet = [](std::uint32_t pos, const std::string& name) {
        return R(0x0085, U32(pos) + U16(0) + U8(std::uint8_t(name.size())) + U8(0) + name);
    };
    const std::string sst = Sst({Narrow("in one"), Narrow("in two"), Narrow("in three"), Narrow("hidden")});
    const std::string sheet1 = Sheet(LabelSst(0, 0, 0));
    // A chart, a substream of an unknown type whose body holds a record that
    // must not be read, and a BIFF4 record 0x0056 hiding another one.
    const std::string chart = Bof8(0x0020) + R(0x1002, std::string(16, '\0')) + Eof();
    const std::string unknown = R(0x0809, U16(0x0600) + U16(0x0099) + U32(0) + LabelSst(0, 0, 3));
    const std::string biff4 = R(0x0056, LabelSst(5, 5, 3));
    const std::string sheet2 = Sheet(LabelSst(0, 0, 1) + biff4);
    const std::string sheet3 = Sheet(LabelSst(0, 0, 2));
    const std::size_t globalsSize = Bof8(0x0005).size() + sst.size() + 3 * boundSheet(0, "One").size() + Eof().size();
    const std::uint32_t p1 = std::uint32_t(globalsSize);
    const std::uint32_t p2 = std::uint32_t(p1 + sheet1.size() + chart.size() + unknown.size());
    const std::uint32_t p3 = std::uint32_t(p2 + sheet2.size());
    const std::string globals =
        Bof8(0x0005) + sst + boundSheet(p1, "One") + boundSheet(p2, "Two") + boundSheet(p3, "Thr") + Eof();
    ASSERT_EQ(globals.size(), globalsSize);
    const Result r = ReadStream(globals + sheet1 + chart + unknown + sheet2 + sheet3);
    EXPECT_EQ(r.ok, 1);
    // Each caption starts a line of its own.
    EXPECT_EQ(r.text, "[Sheet Name : One]\nin one\n[Sheet Name : Two]\nin two\n[Sheet Name : Thr]\nin three");
}

TEST(ExcelWorkbook, StreamStartEndAndEncryption)
{
    const std::string cells = Sst({Narrow("a"), Narrow("b")}) + LabelSst(0, 0, 0);
    // The first BOF is found by a four-byte scan.
    Result r = ReadStream(std::string(8, '\x11') + Sheet(cells));
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.text, "a");
    // A record of type 0 and length 0 ends the reading.
    r = ReadStream(Bof8() + cells + R(0, "") + LabelSst(0, 1, 1) + Eof());
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.text, "a");
    // FILEPASS: an encrypted workbook is not read.
    r = ReadStream(Bof8(0x0005) + R(0x002F, std::string(54, '\x33')) + Eof() + Sheet(cells));
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.text, "");
    // No BOF at all.
    EXPECT_EQ(ReadStream(std::string(64, '\0')).ok, 0);
    EXPECT_EQ(ReadStream("").ok, 0);
}

TEST(ExcelWorkbook, Biff5BookStreamInACompoundFile)
{
    const std::string name = "\xC7\xA5";  // code page 949
    std::string globals = Bof5(0x0005) + R(0x0085, U32(0) + U16(0) + U8(2) + name) + Eof();
    const std::uint32_t pos = std::uint32_t(globals.size());
    ps_test::PutLe32(globals, Bof5().size() + 4, pos);
    const std::string sheet = Bof5() + R(0x0204, Cell(0, 0) + U16(4) + "\xC7\xD1\xB1\xDB") +
                              R(0x0207, U16(3) + "abc") + Eof();
    ps_test::CfbWriter w(3);
    w.AddStream(u"Book", globals + sheet);
    ps_test::TempDir dir;
    const std::string path = dir.file("old.xls");
    ps_test::WriteFileBytes(path, w.Build());

    std::u16string text;
    CTextCollector collector;
    collector.SetOutput(&text);
    CIExcelParser parser(&collector, 0);
    EXPECT_EQ(parser.Convert(plat::PathFromNative(path).c_str()), 1);
    EXPECT_EQ(parser.Version(), kBiff5);
    EXPECT_EQ(plat::WideToUtf8(text), "[Sheet Name : \xED\x91\x9C]\n\xED\x95\x9C\xEA\xB8\x80\tabc");

    // No workbook stream.
    ps_test::CfbWriter other(3);
    other.AddStream(u"Something", "x");
    ps_test::WriteFileBytes(path, other.Build());
    CIExcelParser none(&collector, 0);
    EXPECT_EQ(none.Convert(plat::PathFromNative(path).c_str()), 0);
}

// A BIFF8 workbook in a compound file with cells of every record kind in
// two sheets: no two cells run together, numbers follow their formats, a
// sheet's caption starts its own line, single-byte strings and names are
// Latin-1 also across a CONTINUE record.
TEST(ExcelWorkbook, Biff8WorkbookThroughACompoundFile)
{
    auto xf = [](std::uint16_t fmt) { return R(0x00E0, U16(0) + U16(fmt) + std::string(16, '\0')); };
    auto boundSheet = [](std::uint32_t pos, const std::string& nameChars, bool wide, std::size_t count) {
        return R(0x0085, U32(pos) + U16(0) + U8(std::uint8_t(count)) + U8(wide ? 1 : 0) + nameChars);
    };
    const std::string sst = R(0x00FC, U32(3) + U32(3) + Narrow("Entr\xE9" "e") + Wide(u"\uD64D\uAE38\uB3D9") +
                                          U16(4) + U8(0) + "ma") +
                            R(0x003C, U8(0) + "\xF1" "a");
    const std::string formulaString =
        R(0x0006, Cell(1, 1) + U8(0) + std::string(5, '\0') + U16(0xFFFF) + U16(0) + U32(0) + U16(0)) +
        R(0x0207, Wide(u"calc"));
    const std::string sheet1 = Sheet(LabelSst(0, 0, 0) + R(0x0203, Cell(0, 1, 1) + F64(8001011234567)) +
                                     Rk(0, 2, 0, RkInt(4500000)) + R(0x0203, Cell(0, 3, 0) + F64(0.65)) +
                                     R(0x0006, Cell(1, 0, 2) + F64(40293.7378) + U16(0) + U32(0) + U16(0)) +
                                     formulaString + R(0x0205, Cell(1, 2) + U8(1) + U8(0)));
    const std::string sheet2 =
        Sheet(LabelSst(2, 1, 1) + R(0x00BD, U16(2) + U16(2) + U16(0) + U32(RkInt(1)) + U16(0) + U32(RkInt(2)) + U16(3)) +
              LabelSst(3, 0, 2));
    auto globals = [&](std::uint32_t p1, std::uint32_t p2) {
        return Bof8(0x0005) + xf(0) + xf(164) + xf(14) + R(0x041E, U16(164) + Wide(u"000000-0000000")) + sst +
               boundSheet(p1, "Donn\xE9" "es", false, 7) + boundSheet(p2, Utf16(u"\uB458"), true, 1) + Eof();
    };
    const std::uint32_t p1 = std::uint32_t(globals(0, 0).size());
    const std::uint32_t p2 = std::uint32_t(p1 + sheet1.size());
    ps_test::CfbWriter w(3);
    w.AddStream(u"Workbook", globals(p1, p2) + sheet1 + sheet2);
    ps_test::TempDir dir;
    const std::string path = dir.file("book.xls");
    ps_test::WriteFileBytes(path, w.Build());

    std::u16string text;
    CTextCollector collector;
    collector.SetOutput(&text);
    CIExcelParser parser(&collector, 0);
    ASSERT_EQ(parser.Convert(plat::PathFromNative(path).c_str()), 1);
    EXPECT_EQ(plat::WideToUtf8(text),
              "[Sheet Name : Donn\xC3\xA9" "es]\n"
              "Entr\xC3\xA9" "e\t800101-1234567\t4500000\t0.65\n"
              "\t04/25/2010\tcalc\tTRUE\n"
              "[Sheet Name : \xEB\x91\x98]\n"
              "\n\t\xED\x99\x8D\xEA\xB8\xB8\xEB\x8F\x99\t1\t2\n"
              "\tma\xC3\xB1" "a");
}

TEST(ExcelWorkbook, HostileRecordsAndRandomDamage)
{
    const std::string hostile[] = {
        Bof8() + R(0x00BD, U16(0)),                          // MULRK shorter than its fields
        Bof8() + R(0x00FC, U32(1) + U32(0xFFFFFFFF)),          // SST counting far more strings than it has
        Bof8() + R(0x00FC, U32(1) + U32(1) + U16(0xFFFF) + U8(1) + "ab") + R(0x003C, "") + R(0x003C, U8(1)),
        Bof8() + U16(0x00FD) + U16(0xFFFF) + U32(0),           // a record that runs past the stream
        Bof8() + R(0x0085, U32(0) + U16(0) + U8(200) + U8(1)),  // a sheet name longer than its record
        Bof8() + R(0x00D6, Cell(0, 0) + Narrow("ab") + U16(0xFFFF)),
    };
    for (const std::string& s : hostile)
        EXPECT_EQ(ReadStream(s).ok, 1);

    // Many sheets at one position and many BOFs, many formats and cells.
    std::string many = Bof8(0x0005);
    for (int i = 0; i < 20000; ++i)
        many += R(0x0085, U32(0) + U16(0) + U8(1) + U8(0) + "S") + R(0x041E, U16(std::uint16_t(100 + i)) + Wide(u"0"));
    many += R(0x00E0, U16(0) + U16(150) + std::string(16, '\0'));
    for (int i = 0; i < 20000; ++i)
        many += Bof8() + Rk(0, 0, 0, RkInt(i));
    EXPECT_EQ(ReadStream(many).ok, 1);

    std::string good = Bof8(0x0005) + R(0x0085, U32(0) + U16(0) + U8(1) + U8(0) + "S") +
                       Sst({Narrow("one"), Wide(u"two"), Narrow("three")}) + Eof() +
                       Sheet(LabelSst(0, 0, 0) + Rk(1, 1, 0, RkInt(5)) + R(0x0203, Cell(2, 2) + F64(1.5)) +
                             R(0x00BD, U16(3) + U16(0) + U16(0) + U32(RkInt(1)) + U16(0) + U32(RkInt(2)) + U16(1)) +
                             R(0x00D6, Cell(0, 0) + Narrow("abcdef") + U16(1) + U16(2) + U16(0)));
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        std::string bad = good;
        const int flips = 1 + int(rng() % 6);
        for (int i = 0; i < flips; ++i)
            bad[rng() % bad.size()] = char(rng() % 2 ? 0xFF : rng());
        const Result r = ReadStream(bad);
        EXPECT_TRUE(r.ok == 0 || r.ok == 1);
    }
}

// A workbook that contradicts itself is read as far as it goes and marked
// damaged, so that it never reads clean with text missing; a sound one is
// not marked.
TEST(ExcelDamage, ContradictionsAreNotedAndTheRestIsRead)
{
    const std::string sst = Sst({Narrow("one"), Narrow("two")});
    const std::string cells = LabelSst(0, 0, 0) + LabelSst(1, 0, 1);
    // Globals with one sheet at the position given.
    auto book = [&](std::uint32_t sheetAt, const std::string& sheet) {
        const std::string g = Bof8(0x0005) + sst + BoundSheet(sheetAt, "S") + Eof();
        return g + sheet;
    };
    const std::uint32_t at = std::uint32_t((Bof8(0x0005) + sst + BoundSheet(0, "S") + Eof()).size());
    // A string that runs past its SST record with no CONTINUE after it.
    const std::string cutSst = R(0x00FC, U32(2) + U32(2) + Narrow("one") + U16(9) + U8(0) + "tw");
    const struct {
        const char* name;
        std::string stream;
        const char* damage;  // null: sound
        const char* text;
    } cases[] = {
        {"sound", book(at, Sheet(cells)), nullptr, "[Sheet Name : S]\none\ntwo"},
        {"sheet without its EOF", book(at, Bof8() + cells), "구조가 끝나지 않음", "[Sheet Name : S]\none\ntwo"},
        {"globals without their EOF", Bof8(0x0005) + sst + Sheet(cells), "구조가 끝나지 않음", "one\ntwo"},
        {"sheet offset past the stream", book(at + 4096, Sheet(cells)), "시트 위치가 데이터를 넘음", "one\ntwo"},
        {"sheet offset at no BOF", book(at + 4, Sheet(cells)), "참조된 시트 없음", "one\ntwo"},
        // What is there of a cut record is read.
        {"record past the stream", book(at, Sheet(cells) + U16(0x00FD) + U16(200) + U32(0)), "길이가 데이터를 넘음",
         "[Sheet Name : S]\none\ntwo\none"},
        {"table counts more strings than it has", Sheet(Sst({Narrow("one")}, 2) + cells), "문자열 표 손상", "one"},
        {"table holds more strings than it counts", Sheet(Sst({Narrow("one"), Narrow("two")}, 1) + cells),
         "문자열 표 손상", "one"},
        {"string past its record, no CONTINUE", Sheet(cutSst + cells), "문자열 표 손상", "one"},
        {"cell index outside the table", Sheet(sst + LabelSst(0, 0, 0) + LabelSst(1, 0, 7)), "참조된 문자열 없음", "one"},
        {"cell record longer than its fields", Sheet(sst + R(0x00FD, Cell(0, 0) + U32(0) + U16(0)) + LabelSst(1, 0, 1)),
         "레코드 길이가 맞지 않음", "one\ntwo"},
        {"cell record shorter than its fields", Sheet(sst + R(0x00FD, Cell(0, 0) + U16(0)) + LabelSst(1, 0, 1)),
         "레코드가 필드보다 짧음", "one\ntwo"},
    };
    for (const auto& c : cases) {
        const Result r = ReadStream(c.stream);
        EXPECT_EQ(r.ok, 1) << c.name;
        EXPECT_EQ(r.text, c.text) << c.name;
        if (c.damage) {
            EXPECT_STREQ(r.damage, c.damage) << c.name;
        } else {
            EXPECT_EQ(r.damage, nullptr) << c.name << ": " << r.damage;
        }
    }
    // A text cell whose characters end with a zero character (some writers
    // add one) is sound.
    const Result zero = ReadStream(Sheet(R(0x0204, Cell(0, 0) + U16(2) + U8(0) + "ab" + U16(0))));
    EXPECT_EQ(zero.text, "ab");
    EXPECT_EQ(zero.damage, nullptr);
}

// A formula's text result longer than one record goes on in CONTINUE
// records (each starting with its own option byte): all of it is read.
TEST(ExcelStrings, FormulaTextResultAcrossContinueRecords)
{
    const std::string formula =
        R(0x0006, Cell(0, 0) + U8(0) + std::string(5, '\0') + U16(0xFFFF) + U16(0) + U32(0) + U16(0));
    const std::string text = R(0x0207, U16(9) + U8(1) + Utf16(u"ABCD")) + R(0x003C, U8(0) + "EFGHI");
    Result r = ReadStream(Sheet(formula + text));
    EXPECT_EQ(r.text, "ABCDEFGHI");
    EXPECT_EQ(r.damage, nullptr);
    // Without its CONTINUE the text is cut: read in part, and marked.
    r = ReadStream(Sheet(formula + R(0x0207, U16(9) + U8(1) + Utf16(u"ABCD"))));
    EXPECT_EQ(r.text, "ABCD");
    EXPECT_STREQ(r.damage, "레코드가 필드보다 짧음");
}
