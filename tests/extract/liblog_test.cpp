#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/registry.h"
#include "extract/liblog.h"
#include "platform/codec.h"
#include "platform/tracefile.h"
#include "support/isolation.h"

namespace fs = std::filesystem;

namespace {

void SetLogStream(uint32_t v) { WriteRegistryDword(HKEY_CURRENT_USER_ROOT, kRunStateKey, u"LogStream", v, false); }

std::vector<std::string> Lines(const std::string& bytes)
{
    std::vector<std::string> out;
    std::istringstream in(bytes);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

}  // namespace

TEST(LibraryLog, OffDoesNothingAtAll)
{
    ps_test::TempDir dir;
    SetLogStream(0);
    CConvertLogMgr log(u"NRVCTFLog.log", plat::PathFromNative(dir.path()));
    ps_test::WriteFileBytes(dir.file("NRVCTFLog.log"), "");
    fs::resize_file(dir.file("NRVCTFLog.log"), plat::kTraceRotateSize + 1);
    log.Write(u"Convert Begin. >>> \"%s\"", u"a.hwp");
    EXPECT_EQ(fs::file_size(dir.file("NRVCTFLog.log")), plat::kTraceRotateSize + 1);  // not even rotated
}

TEST(LibraryLog, LinesPrefixTagAndOverflow)
{
    ps_test::TempDir dir;
    SetLogStream(1);
    CConvertLogMgr log(u"NRVCTFLog.log", plat::PathFromNative(dir.path()));
    EXPECT_EQ(log.Path(), plat::PathFromNative(dir.file("NRVCTFLog.log")));
    log.Write(u"Convert Begin. >>> \"%s\"", u"/문서/보고서.hwp");
    log.m_strTag = u"HWP";
    log.Write(u"Convert End.");
    log.m_strTag.clear();
    log.Write(u"%s", std::u16string(10189, u'a').c_str());
    log.Write(u"%s", std::u16string(10190, u'a').c_str());
    log.Write(u"%s", std::u16string(10240, u'a').c_str());

    auto lines = Lines(plat::WideToUtf8(plat::DecodeCodePage(949, ps_test::ReadFileBytes(dir.file("NRVCTFLog.log")))));
    ASSERT_EQ(lines.size(), 4u);
    const std::string stamp = R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )";
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(stamp + R"(\[[^\]]+\(\d+\) \d+ \d+\] : Convert Begin\. >>> "/문서/보고서\.hwp")")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(stamp + R"(\[[^\]]+\(\d+\) \d+ \d+\]\[HWP\] : Convert End\.)")))
        << lines[1];
    EXPECT_NE(lines[2].find("] : " + std::string(10189, 'a')), std::string::npos);
    EXPECT_TRUE(std::regex_match(lines[3], std::regex(stamp + R"(\[logMgr\] buffer overflow)"))) << lines[3];
}

TEST(LibraryLog, RotationAndDebugger)
{
    ps_test::TempDir dir;
    SetLogStream(2);
    CConvertLogMgr log(u"NRVCTFLog.log", plat::PathFromNative(dir.path()));
    ps_test::WriteFileBytes(dir.file("NRVCTFLog.log"), "");
    fs::resize_file(dir.file("NRVCTFLog.log"), plat::kTraceRotateSize);
    testing::internal::CaptureStderr();
    log.Write(u"one %d", 1);
    EXPECT_TRUE(fs::exists(dir.file("NRVCTFLog.log")));  // exactly 10 MiB stays
    fs::resize_file(dir.file("NRVCTFLog.log"), plat::kTraceRotateSize + 1);
    log.Write(u"two %d", 2);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(fs::exists(dir.file("NRVCTFLog.log")));  // moved aside, nothing new written
    EXPECT_NE(err.find("] : one 1\n"), std::string::npos);
    EXPECT_NE(err.find("] : two 2\n"), std::string::npos);
    int rotated = 0;
    for (auto& e : fs::directory_iterator(dir.path()))
        rotated += std::regex_match(e.path().filename().string(), std::regex(R"(NRVCTFLog_\d{8}_\d{4}\.log)"));
    EXPECT_EQ(rotated, 1);
}

TEST(LibraryLog, FileSizeByPath)
{
    ps_test::TempDir dir;
    ps_test::WriteFileBytes(dir.file("f"), "12345");
    EXPECT_EQ(GetFileSizeByPath(plat::PathFromNative(dir.file("f"))), 5u);
    EXPECT_EQ(GetFileSizeByPath(plat::PathFromNative(dir.path())), 0u);
    EXPECT_EQ(GetFileSizeByPath(plat::PathFromNative(dir.file("missing"))), 0u);
    EXPECT_EQ(GetLibraryModuleFolder(true).back(), u'/');
}
