#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <thread>

#include "core/util.h"
#include "platform/text.h"
#include "core/records.h"
#include "support/isolation.h"

using plat::SystemTime;

namespace {

SystemTime Time(int y, int m, int d, int hh = 13, int mm = 45, int ss = 7, int ms = 250)
{
    SystemTime t;
    t.year = static_cast<uint16_t>(y);
    t.month = static_cast<uint16_t>(m);
    t.day = static_cast<uint16_t>(d);
    t.hour = static_cast<uint16_t>(hh);
    t.minute = static_cast<uint16_t>(mm);
    t.second = static_cast<uint16_t>(ss);
    t.milliseconds = static_cast<uint16_t>(ms);
    return t;
}

DateRecord Date(int y, int m, int d)
{
    DateRecord r;
    EXPECT_TRUE(MakeDateRecord(Time(y, m, d), r)) << y << "-" << m << "-" << d;
    return r;
}

// Day of week from the C library, as an independent reference.
int ReferenceDayOfWeek(int y, int m, int d)
{
    tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = m - 1;
    t.tm_mday = d;
    const time_t s = timegm(&t);
    tm out{};
    gmtime_r(&s, &out);
    return out.tm_wday;
}

std::string Ymd(const DateRecord& r)
{
    return std::to_string(r.time.year) + "-" + std::to_string(r.time.month) + "-" + std::to_string(r.time.day);
}

// A record is consistent: both halves agree, the day of week is right and
// the time of day is the one every test date carries.
void ExpectConsistent(const DateRecord& r)
{
    DateRecord again;
    ASSERT_TRUE(MakeDateRecord(r.time, again)) << Ymd(r);
    EXPECT_EQ(again.fileTime, r.fileTime) << Ymd(r);
    EXPECT_EQ(r.time.dayOfWeek, ReferenceDayOfWeek(r.time.year, r.time.month, r.time.day)) << Ymd(r);
    EXPECT_EQ(r.time.hour, 13);
    EXPECT_EQ(r.time.minute, 45);
    EXPECT_EQ(r.time.second, 7);
    EXPECT_EQ(r.time.milliseconds, 250);
}

}  // namespace

TEST(Dates, FileTimeConversionsAgreeWithTheCLibrary)
{
    EXPECT_EQ(Date(2014, 3, 5).fileTime - 13 * 36000000000ULL - 45 * 600000000ULL - 7 * 10000000ULL - 2500000ULL,
              130384512000000000ULL);
    DateRecord first;
    ASSERT_TRUE(MakeDateRecord(Time(1601, 1, 1, 0, 0, 0, 0), first));
    EXPECT_EQ(first.fileTime, 0u);
    EXPECT_EQ(first.time.dayOfWeek, 1);  // a Monday

    std::mt19937_64 rng(20140305);
    for (int i = 0; i < 5000; ++i) {
        // Seconds between 1601 and 2400.
        const int64_t unixSeconds = static_cast<int64_t>(rng() % 25246080000ULL) - 11644473600LL;
        const uint64_t ft = static_cast<uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL + rng() % 10000000ULL;
        SystemTime st;
        ASSERT_TRUE(plat::FileTimeToSystemTime(ft, st));
        const time_t s = static_cast<time_t>(unixSeconds);
        tm ref{};
        gmtime_r(&s, &ref);
        ASSERT_EQ(st.year, ref.tm_year + 1900) << unixSeconds;
        ASSERT_EQ(st.month, ref.tm_mon + 1) << unixSeconds;
        ASSERT_EQ(st.day, ref.tm_mday) << unixSeconds;
        ASSERT_EQ(st.dayOfWeek, ref.tm_wday) << unixSeconds;
        ASSERT_EQ(st.hour, ref.tm_hour);
        ASSERT_EQ(st.minute, ref.tm_min);
        ASSERT_EQ(st.second, ref.tm_sec);
        uint64_t back = 0;
        ASSERT_TRUE(plat::SystemTimeToFileTime(st, back));
        ASSERT_EQ(back, ft - ft % 10000);  // below a millisecond is dropped
    }
}

TEST(Dates, DatesThatDoNotExistAreRefused)
{
    const SystemTime bad[] = {
        Time(2013, 2, 29), Time(1900, 2, 29), Time(2014, 4, 31), Time(2014, 13, 1), Time(2014, 0, 1),
        Time(2014, 1, 0),  Time(1600, 12, 31), Time(30828, 1, 1), Time(2014, 1, 1, 24), Time(2014, 1, 1, 0, 60),
        Time(2014, 1, 1, 0, 0, 60), Time(2014, 1, 1, 0, 0, 0, 1000),
    };
    for (const auto& t : bad) {
        uint64_t ft = 42;
        EXPECT_FALSE(plat::SystemTimeToFileTime(t, ft)) << t.year << "-" << t.month << "-" << t.day;
        EXPECT_EQ(ft, 42u);
    }
    for (const auto& t : {Time(2012, 2, 29), Time(2000, 2, 29), Time(30827, 12, 31)}) {
        DateRecord r;
        EXPECT_TRUE(MakeDateRecord(t, r)) << t.year;
    }
}

TEST(Dates, ArithmeticAcrossMonthsYearsAndLeapDays)
{
    using Op = DateRecord (*)(DateRecord);
    struct Case { const char* what; Op op; int y, m, d; int wy, wm, wd; };
    const Case cases[] = {
        {"next day", DateNextDay, 2013, 12, 31, 2014, 1, 1},
        {"next day", DateNextDay, 2012, 2, 28, 2012, 2, 29},
        {"next day", DateNextDay, 2012, 2, 29, 2012, 3, 1},
        {"next day", DateNextDay, 2100, 2, 28, 2100, 3, 1},
        {"next day", DateNextDay, 2000, 2, 28, 2000, 2, 29},
        {"next day", DateNextDay, 2014, 4, 30, 2014, 5, 1},
        {"next week", DateNextWeek, 2014, 12, 28, 2015, 1, 4},
        {"next week", DateNextWeek, 2016, 2, 25, 2016, 3, 3},
        {"previous week", DatePreviousWeek, 2014, 3, 3, 2014, 2, 24},
        {"previous week", DatePreviousWeek, 2015, 1, 3, 2014, 12, 27},
        {"next month", DateNextMonth, 2014, 1, 31, 2014, 2, 28},
        {"next month", DateNextMonth, 2014, 1, 5, 2014, 2, 28},
        {"next month", DateNextMonth, 2013, 12, 15, 2014, 1, 28},
        {"previous month", DatePreviousMonth, 2014, 1, 15, 2013, 12, 28},
        {"previous month", DatePreviousMonth, 2014, 3, 31, 2014, 2, 28},
        {"next year", DateNextYear, 2011, 3, 31, 2012, 3, 31},
        {"next year", DateNextYear, 2012, 2, 29, 2013, 2, 28},
        {"next year", DateNextYear, 2015, 2, 28, 2016, 2, 28},
        {"next year", DateNextYear, 2013, 12, 31, 2014, 12, 31},
        {"previous year", DatePreviousYear, 2016, 2, 29, 2015, 2, 28},
        {"previous year", DatePreviousYear, 2014, 1, 1, 2013, 1, 1},
    };
    for (const auto& c : cases) {
        const DateRecord r = c.op(Date(c.y, c.m, c.d));
        EXPECT_EQ(Ymd(r), std::to_string(c.wy) + "-" + std::to_string(c.wm) + "-" + std::to_string(c.wd))
            << c.what << " of " << c.y << "-" << c.m << "-" << c.d;
        ExpectConsistent(r);
    }
}

TEST(Dates, MinusDays)
{
    struct Case { int n; int y, m, d; int wy, wm, wd; };
    const Case cases[] = {
        {1, 2014, 3, 1, 2014, 2, 28},
        {1, 2012, 3, 1, 2012, 2, 29},
        {1, 2014, 1, 1, 2013, 12, 31},
        {365, 2013, 1, 1, 2012, 1, 2},   // 2012 had 366 days
        {366, 2013, 1, 1, 2012, 1, 1},
        {120, 2014, 5, 10, 2014, 1, 10},
        {0, 2014, 5, 10, 2014, 5, 10},   // nothing to move
        {-5, 2014, 5, 10, 2014, 5, 10},
        {146097, 2014, 5, 10, 1614, 5, 10},  // a whole 400-year cycle
    };
    for (const auto& c : cases) {
        const DateRecord r = DateMinusDays(c.n, Date(c.y, c.m, c.d));
        EXPECT_EQ(Ymd(r), std::to_string(c.wy) + "-" + std::to_string(c.wm) + "-" + std::to_string(c.wd)) << c.n;
        ExpectConsistent(r);
    }
    // Before the first representable day: unchanged.
    const DateRecord early = Date(1601, 1, 3);
    EXPECT_EQ(DateMinusDays(5, early), early);
    EXPECT_EQ(DatePreviousMonth(Date(1601, 1, 20)), Date(1601, 1, 20));
}

TEST(Dates, WeekAndMonthRanges)
{
    struct Case { bool week; int y, m, d; int fy, fm, fd; int ly, lm, ld; };
    const Case cases[] = {
        {true, 2014, 3, 2, 2014, 3, 2, 2014, 3, 8},        // a Sunday: that Sunday to Saturday
        {true, 2014, 3, 1, 2014, 2, 23, 2014, 3, 1},       // a Saturday
        {true, 2014, 3, 5, 2014, 3, 2, 2014, 3, 8},
        {true, 2014, 1, 1, 2013, 12, 29, 2014, 1, 4},      // across the year
        {false, 2014, 1, 31, 2014, 1, 1, 2014, 1, 31},
        {false, 2012, 2, 15, 2012, 2, 1, 2012, 2, 29},
        {false, 2013, 2, 10, 2013, 2, 1, 2013, 2, 28},
        {false, 2000, 2, 1, 2000, 2, 1, 2000, 2, 29},
        {false, 1900, 2, 28, 1900, 2, 1, 1900, 2, 28},
        {false, 2013, 12, 5, 2013, 12, 1, 2013, 12, 31},   // December's next month is next year's January
        {false, 2014, 4, 1, 2014, 4, 1, 2014, 4, 30},
    };
    for (const auto& c : cases) {
        const DateRecord date = Date(c.y, c.m, c.d);
        const auto [first, last] = c.week ? GetWeekRange(date) : GetMonthRange(date);
        const std::string what = std::string(c.week ? "week of " : "month of ") + Ymd(date);
        EXPECT_EQ(Ymd(first), std::to_string(c.fy) + "-" + std::to_string(c.fm) + "-" + std::to_string(c.fd)) << what;
        EXPECT_EQ(Ymd(last), std::to_string(c.ly) + "-" + std::to_string(c.lm) + "-" + std::to_string(c.ld)) << what;
        ExpectConsistent(first);
        ExpectConsistent(last);
        if (c.week) {
            EXPECT_EQ(first.time.dayOfWeek, 0) << what;
            EXPECT_EQ(last.time.dayOfWeek, 6) << what;
        }
    }
}

TEST(Dates, FormatDateAndTimeText)
{
    EXPECT_EQ(FormatDate(Date(2014, 3, 5)), u"2014/3/5");
    EXPECT_EQ(FormatDate(Date(2014, 12, 25)), u"2014/12/25");
    EXPECT_EQ(FormatTimeText(Time(2014, 1, 1, 9, 5, 3)), u"090503");
    EXPECT_EQ(FormatTimeText(Time(2014, 1, 1, 23, 59, 59)), u"235959");
    const std::u16string now = GetTimeText();
    ASSERT_EQ(now.size(), 6u);
    for (char16_t c : now)
        EXPECT_TRUE(c >= u'0' && c <= u'9');
    const DateRecord today = DateToday();
    EXPECT_GE(today.time.year, 2020);
}

TEST(Paths, ExtensionsAndNameParts)
{
    struct Case { std::u16string in, ext, name; };
    const Case cases[] = {
        {u"report.final.docx", u"DOCX", u"report.final.docx"},
        {u"README", u"README", u"README"},
        {u"name.", u"", u"name."},
        {u"/home/user/문서/보고서.Hwp", u"HWP", u"보고서.Hwp"},
        {u"/home/user/.hidden", u"HIDDEN", u".hidden"},
        {u"/a/b/", u"/A/B/", u""},
        {u"", u"", u""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetUpperExtension(c.in), c.ext) << plat::WideToUtf8(c.in);
        EXPECT_EQ(GetFileNamePart(c.in), c.name) << plat::WideToUtf8(c.in);
    }
}

TEST(Paths, ComponentsAndPrefixes)
{
    StringVector parts{u"kept"};
    EXPECT_EQ(SplitPathComponents(u"/a//b/", parts), 6u);
    EXPECT_EQ(parts, (StringVector{u"kept", u"", u"a", u"", u"b", u""}));
    StringVector split;
    EXPECT_EQ(SplitString(split, u"/a//b/", u"/"), 2u);
    EXPECT_EQ(split, (StringVector{u"a", u"b"}));
    EXPECT_EQ(SplitString(split, u"1|0|;1", u"|;"), 5u);  // appends
    EXPECT_EQ(split.back(), u"1");
    EXPECT_EQ(SplitString(split, u"", u"|"), 5u);
    EXPECT_EQ(CountPathComponents(u"/home//user/a.hwp"), 3u);
    EXPECT_EQ(CountPathComponents(u"/"), 0u);
    DestroyStringVector(split);
    EXPECT_TRUE(split.empty());
    EXPECT_EQ(split.capacity(), 0u);

    struct Case { std::u16string a, b; int under; };
    const Case cases[] = {
        {u"/home/Docs", u"/home/Docs/x.doc", 1},
        {u"/home/docs", u"/home/Docs/x.doc", 0},   // case matters
        {u"/home/Docs/x.doc", u"/home/Docs", 1},   // symmetric
        {u"/home/Docs/", u"/home/Docs/x.doc", 0},  // a trailing separator is an empty part
        {u"/home/Doc", u"/home/Docs", 0},          // parts, not characters
        {u"", u"/anything", 1},
        {u"/", u"/home", 0},                       // "/" splits into two empty parts
        {u"/home", u"/home", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsPathUnderFolder(c.a, c.b), c.under) << plat::WideToUtf8(c.a) << " | " << plat::WideToUtf8(c.b);
    EXPECT_EQ(PrefixSlash(u"home"), u"/home");
}

TEST(Paths, CreateDirectoryTreeAndFileSize)
{
    ps_test::TempDir dir;
    const std::u16string base = plat::PathFromNative(dir.path());
    EXPECT_EQ(CreateDirectoryTree(base), 1);  // all there: nothing to do
    const std::u16string deep = base + u"/개인정보/2014/\xDCFF" + u"raw";
    EXPECT_EQ(CreateDirectoryTree(deep), 1);
    EXPECT_TRUE(std::filesystem::is_directory(plat::PathToNative(deep)));
    EXPECT_EQ(CreateDirectoryTree(deep + u"/"), 1);
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file("file"), "12345"));
    EXPECT_EQ(CreateDirectoryTree(base + u"/file/sub"), 0);  // a file is in the way

    uint64_t size = 0;
    EXPECT_EQ(GetFileSizeByName(base + u"/file", size), 1);
    EXPECT_EQ(size, 5u);
    size = 99;
    EXPECT_EQ(GetFileSizeByName(deep, size), 0);  // a folder
    EXPECT_EQ(GetFileSizeByName(base + u"/missing", size), 0);
    EXPECT_EQ(GetFileSizeByName(u"", size), 0);
    EXPECT_EQ(size, 99u);
}

TEST(Texts, NumbersAndCodePage)
{
    struct Case { int64_t n; std::u16string want; };
    const Case cases[] = {
        {0, u"0"}, {999, u"999"}, {1000, u"1,000"}, {1234567, u"1,234,567"}, {100000, u"100,000"},
        {-1234, u"-1,234"}, {-123, u"-123"}, {2147483647, u"2,147,483,647"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatThousands(c.n), c.want) << c.n;
    EXPECT_EQ(InsertThousandsSeparators(u"123"), u"123");
    EXPECT_EQ(InsertThousandsSeparators(u"1234567"), u"1,234,567");
    EXPECT_EQ(InsertThousandsSeparators(u""), u"");

    EXPECT_EQ(ToNarrow(u"한글 a\u00A0"), "\xC7\xD1\xB1\xDB a?");
    EXPECT_EQ(ToWide("\xC7\xD1\xB1\xDB a\\"), u"한글 a\\");
}

TEST(System, VersionUserAndFolders)
{
    EXPECT_EQ(GetFileVersionText(plat::ProgramPath(), 4), u"1.0.0.0");
    EXPECT_EQ(GetFileVersionText(plat::ProgramPath(), 2), u"1.0");
    EXPECT_EQ(GetFileVersionText(u"", 4), u"");
    EXPECT_EQ(GetFileVersionText(u"/etc/hostname", 4), u"");
    EXPECT_EQ(GetWindowsUserName(), plat::UserName());
    EXPECT_TRUE(IsVistaOrLater());
    EXPECT_EQ(AllowCloseMessage(), 1);

    EXPECT_EQ(GetModuleFolder(false), plat::ProgramDir());
    EXPECT_EQ(GetModuleFolder(true), plat::ProgramDir() + u"/");
    EXPECT_EQ(GetAppDataFolder(), plat::AppDataDir());
    EXPECT_EQ(GetDocumentsFolder(), plat::DocumentsDir());
    const char* saved = std::getenv("XDG_DATA_DIRS");
    const std::string keep = saved ? saved : "";
    setenv("XDG_DATA_DIRS", "relative:/usr/share/:/usr/local/share", 1);
    EXPECT_EQ(GetCommonAppDataFolder(), u"/usr/share");
    unsetenv("XDG_DATA_DIRS");
    EXPECT_EQ(GetCommonAppDataFolder(), u"/usr/local/share");
    if (saved)
        setenv("XDG_DATA_DIRS", keep.c_str(), 1);
}

namespace {

std::u16string g_opened;
bool RecordOpen(const std::u16string& file)
{
    g_opened = file;
    return true;
}

}  // namespace

TEST(OpenWithAssociation, GoesThroughTheHook)
{
    auto previous = SetOpenWithAssociationHook(RecordOpen);
    EXPECT_TRUE(OpenWithAssociation(u"/no/such/file.hwp"));
    EXPECT_EQ(g_opened, u"/no/such/file.hwp");
    EXPECT_EQ(SetOpenWithAssociationHook(previous), RecordOpen);
    EXPECT_FALSE(OpenWithAssociation(u"/no/such/file.hwp"));  // the default refuses a missing file
}

// The opener gets the path as its one argument: no shell sees it.
TEST(OpenWithAssociation, PassesThePathAsOneArgument)
{
    ps_test::TempDir dir;
    const std::string log = dir.file("argv.txt");
    const std::string opener = dir.file("fake-open");
    ASSERT_TRUE(ps_test::WriteFileBytes(opener, "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > \"" + log + ".tmp\"\nmv \"" +
                                                    log + ".tmp\" \"" + log + "\"\n"));
    chmod(opener.c_str(), 0700);
    const std::string name = "a b;$(touch pwned) 'q\" \xB0\xA1.hwp";
    ASSERT_TRUE(ps_test::WriteFileBytes(dir.file(name), "x"));
    const std::u16string path = plat::PathFromNative(dir.file(name));
    ASSERT_TRUE(SpawnOpener(path, opener.c_str()));
    std::string got;
    for (int i = 0; i < 500 && got.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        got = ps_test::ReadFileBytes(log);
    }
    EXPECT_EQ(got, "1\n" + dir.file(name) + "\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("pwned")));
    EXPECT_FALSE(std::filesystem::exists("pwned"));
    EXPECT_FALSE(SpawnOpener(path, "/no/such/opener"));
}
