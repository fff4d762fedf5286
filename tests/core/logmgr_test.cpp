#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "core/logmgr.h"
#include "core/registry.h"
#include "support/isolation.h"
#include "platform/codec.h"
#include "platform/tracefile.h"

namespace fs = std::filesystem;

namespace {

void SetLogStream(uint32_t v)
{
    WriteRegistryDword(HKEY_CURRENT_USER_ROOT, kRunStateKey, u"LogStream", v, false);
}

std::vector<std::string> Lines(const std::string& bytes)
{
    std::vector<std::string> out;
    std::istringstream in(bytes);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::string LogFile(const ps_test::TempDir& dir) { return dir.file("PrivasweepLog.log"); }

std::string Decode(const std::string& cp949) { return plat::WideToUtf8(plat::DecodeCodePage(949, cp949)); }

}  // namespace

TEST(TraceLog, LineLayoutWithAndWithoutTag)
{
    ps_test::TempDir dir;
    SetLogStream(1);
    CLogMgr log;
    log.m_strFolder = plat::PathFromNative(dir.path());
    log.Write(u"DeleteFile is Failed(%s)[%d]", u"/홈/문서.hwp", 5);
    log.m_strTag = u"EG";
    log.Write(u"Hwnd[0x%08X]", 0xBEEFu);

    std::string bytes = ps_test::ReadFileBytes(LogFile(dir));
    // Korean text is stored in code page 949, not UTF-8.
    EXPECT_NE(bytes.find("\xB9\xAE\xBC\xAD"), std::string::npos);  // 문서
    auto lines = Lines(Decode(bytes));
    ASSERT_EQ(lines.size(), 2u);
    const std::string stamp = R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )";
    const std::string who = R"(\[[^\]/]+\(\d+\) \d+ \d+\])";
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(stamp + who + R"( : DeleteFile is Failed\(/홈/문서\.hwp\)\[5\])")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(stamp + who + R"(\[EG\] : Hwnd\[0x0000BEEF\])")))
        << lines[1];
}

// A name with line ends in a traced text stays on its line.
TEST(TraceLog, ANameCannotWriteALineOfItsOwn)
{
    ps_test::TempDir dir;
    SetLogStream(1);
    CLogMgr log;
    log.m_strFolder = plat::PathFromNative(dir.path());
    log.Write(u"ret[%d], filePath(%s)", 0, u"/d/a.hwp\r\n[2024-01-01 00:00:00.000] forged");
    auto lines = Lines(Decode(ps_test::ReadFileBytes(LogFile(dir))));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("filePath(/d/a.hwp\\x0D\\x0A[2024-01-01 00:00:00.000] forged)"), std::string::npos) << lines[0];
}

TEST(TraceLog, OffWritesNoFileButStillRotates)
{
    ps_test::TempDir dir;
    SetLogStream(0);
    CLogMgr log;
    log.m_strFolder = plat::PathFromNative(dir.path());
    log.Write(u"nothing");
    EXPECT_FALSE(fs::exists(LogFile(dir)));

    ps_test::WriteFileBytes(LogFile(dir), "x");
    fs::resize_file(LogFile(dir), plat::kTraceRotateSize + 1);
    log.Write(u"again");
    EXPECT_FALSE(fs::exists(LogFile(dir)));
    int rotated = 0;
    for (auto& e : fs::directory_iterator(dir.path())) {
        std::string n = e.path().filename().string();
        EXPECT_TRUE(std::regex_match(n, std::regex(R"(PrivasweepLog_\d{8}_\d{4}\.log)"))) << n;
        ++rotated;
    }
    EXPECT_EQ(rotated, 1);
}

TEST(TraceLog, DebuggerDestinationWritesNoFile)
{
    ps_test::TempDir dir;
    SetLogStream(2);
    CLogMgr log;
    log.m_strFolder = plat::PathFromNative(dir.path());
    testing::internal::CaptureStderr();
    log.Write(u"to the debugger %d", 42);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(std::regex_search(err, std::regex(R"(^\[\d{4}-\d\d-\d\d [^\]]+\] \[.*\] : to the debugger 42\n$)")))
        << err;
    EXPECT_FALSE(fs::exists(LogFile(dir)));
}

TEST(TraceLog, OtherDestinationsWriteNothing)
{
    ps_test::TempDir dir;
    SetLogStream(7);
    CLogMgr log;
    log.m_strFolder = plat::PathFromNative(dir.path());
    testing::internal::CaptureStderr();
    log.Write(u"x");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(fs::exists(LogFile(dir)));
}

TEST(TraceLog, TextLengthLimits)
{
    ps_test::TempDir dir;
    SetLogStream(1);
    CLogMgr log;
    log.m_strFolder = plat::PathFromNative(dir.path());
    struct { size_t len; const char* expect; } cases[] = {
        {10189, "prefixed"},
        {10190, "overflow"},
        {10239, "overflow"},
        {10240, "none"},
        {50000, "none"},
    };
    for (const auto& c : cases) {
        fs::remove(LogFile(dir));
        std::u16string text(c.len, u'a');
        log.Write(u"%s", text.c_str());
        std::string bytes = ps_test::ReadFileBytes(LogFile(dir));
        auto lines = Lines(bytes);
        if (std::string(c.expect) == "none") {
            EXPECT_TRUE(lines.empty()) << c.len;
        } else if (std::string(c.expect) == "overflow") {
            ASSERT_EQ(lines.size(), 1u) << c.len;
            EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[[^\]]+\] \[logMgr\] buffer overflow)"))) << c.len;
        } else {
            ASSERT_EQ(lines.size(), 1u) << c.len;
            EXPECT_NE(lines[0].find("] : " + std::string(c.len, 'a')), std::string::npos);
        }
    }
}

TEST(TraceLog, RotationThresholdIsStrictlyAboveTenMegabytes)
{
    ps_test::TempDir dir;
    SetLogStream(1);
    CLogMgr log;
    log.m_strFolder = plat::PathFromNative(dir.path());
    ps_test::WriteFileBytes(LogFile(dir), "");
    fs::resize_file(LogFile(dir), plat::kTraceRotateSize);
    log.Write(u"stays");
    EXPECT_GT(fs::file_size(LogFile(dir)), plat::kTraceRotateSize);  // appended, not moved
    log.Write(u"moves");
    EXPECT_LT(fs::file_size(LogFile(dir)), 200u);                     // a new file
    EXPECT_NE(ps_test::ReadFileBytes(LogFile(dir)).find("moves"), std::string::npos);
}

TEST(TraceLog, SecondRotationInTheSameMinuteKeepsTheFirst)
{
    ps_test::TempDir dir;
    const plat::WString path = plat::PathFromNative(LogFile(dir));
    const plat::LocalTime t{2026, 3, 9, 7, 5, 0, 0, 1};
    std::vector<std::string> names;
    for (int i = 0; i < 3; ++i) {
        ps_test::WriteFileBytes(LogFile(dir), std::string(1, char('A' + i)));
        plat::WString moved = plat::RotateTraceFile(path, 0, t);
        ASSERT_FALSE(moved.empty());
        names.push_back(plat::PathToNative(moved));
    }
    EXPECT_EQ(names[0], dir.file("PrivasweepLog_20260309_0705.log"));
    EXPECT_EQ(names[1], dir.file("PrivasweepLog_20260309_0705_2.log"));
    EXPECT_EQ(names[2], dir.file("PrivasweepLog_20260309_0705_3.log"));
    EXPECT_EQ(ps_test::ReadFileBytes(names[0]), "A");
    EXPECT_EQ(ps_test::ReadFileBytes(names[1]), "B");
    EXPECT_EQ(ps_test::ReadFileBytes(names[2]), "C");
    // Nothing to do for a missing or small file.
    EXPECT_TRUE(plat::RotateTraceFile(path, 0, t).empty());
}

TEST(TraceLog, TwoLoggersOnManyThreadsNeverInterleave)
{
    ps_test::TempDir dir;
    SetLogStream(1);
    CLogMgr a, b;
    a.m_strFolder = b.m_strFolder = plat::PathFromNative(dir.path());
    b.m_strTag = u"EG";
    const int kThreads = 8, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::u16string payload(300 + t * 50, char16_t(u'가' + t));
            for (int i = 0; i < kLines; ++i) (t % 2 ? a : b).Write(u"T%d #%d %s", t, i, payload.c_str());
        });
    }
    for (auto& th : threads) th.join();
    auto lines = Lines(Decode(ps_test::ReadFileBytes(LogFile(dir))));
    ASSERT_EQ(lines.size(), size_t(kThreads * kLines));
    std::regex head(R"(\[[^\]]+\] \[[^\]]+\](\[EG\])? : T(\d) #\d+ )");
    for (const auto& l : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(l, m, head) && m.position(0) == 0) << l.substr(0, 120);
        const int t = m[2].str()[0] - '0';
        const std::string payload = l.substr(static_cast<size_t>(m.length(0)));
        ASSERT_EQ(payload, plat::WideToUtf8(std::u16string(300 + t * 50, char16_t(u'가' + t))))
            << l.substr(0, 120);
    }
}

TEST(TraceLog, LeavesTheProcessLocaleAlone)
{
    ps_test::TempDir dir;
    SetLogStream(1);
    const std::string before = setlocale(LC_ALL, nullptr);
    CLogMgr log;
    log.m_strFolder = plat::PathFromNative(dir.path());
    log.Write(u"한글 %d %.2f", 1, 2.5);
    EXPECT_EQ(setlocale(LC_ALL, nullptr), before);
    auto lines = Lines(Decode(ps_test::ReadFileBytes(LogFile(dir))));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" : 한글 1 2.50"), std::string::npos);
}

TEST(TraceLog, TwoProcessesAppendingLongLinesNeverSplitThem)
{
    ps_test::TempDir dir;
    SetLogStream(1);
    const plat::WString folder = plat::PathFromNative(dir.path());
    const int kLines = 150;
    // Lines well above the pipe-buffer size, from a child and the parent at once.
    auto writeAll = [&](char16_t fill, const char16_t* tag) {
        CLogMgr log;
        log.m_strFolder = folder;
        log.m_strTag = tag;
        std::u16string payload(6000, fill);
        for (int i = 0; i < kLines; ++i) log.Write(u"#%d %s", i, payload.c_str());
    };
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        writeAll(u'B', u"CHILD");
        _exit(0);
    }
    writeAll(u'A', u"PARENT");
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    auto lines = Lines(ps_test::ReadFileBytes(LogFile(dir)));
    ASSERT_EQ(lines.size(), size_t(2 * kLines));
    std::regex head(R"(\[[^\]]+\] \[[^\]]+\]\[(PARENT|CHILD)\] : #\d+ )");
    for (const auto& l : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(l, m, head) && m.position(0) == 0) << l.substr(0, 100);
        const std::string payload = l.substr(static_cast<size_t>(m.length(0)));
        const char fill = m[1] == "PARENT" ? 'A' : 'B';
        ASSERT_EQ(payload, std::string(6000, fill)) << l.substr(0, 100);
    }
}
