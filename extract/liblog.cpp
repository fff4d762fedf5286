#include "extract/liblog.h"

#include <cstdint>
#include <mutex>
#include <sys/stat.h>

#include "core/registry.h"
#include "platform/text.h"
#include "platform/codec.h"
#include "platform/system.h"
#include "platform/tracefile.h"
#include "platform/wformat.h"

CConvertLogMgr::CConvertLogMgr(const std::u16string& fileName, const std::u16string& folder)
    : m_strFileName(fileName)
{
    const std::u16string dir = folder.empty() ? plat::TraceLogDir() : folder;
    m_strPath = dir + u"/" + m_strFileName;
    m_nMode = static_cast<int>(ReadRegistryDword(kRunStateKey, 0, u"LogStream"));
}

CConvertLogMgr::~CConvertLogMgr() = default;

void CConvertLogMgr::Write(const char16_t* format, ...)
{
    if (m_nMode == 0) return;
    va_list ap;
    va_start(ap, format);
    FormatLine(format, ap);
    va_end(ap);
}

void CConvertLogMgr::FormatLine(const char16_t* format, va_list args)
{
    if (!format) return;
    std::u16string text = plat::FormatWideV(format, args);
    if (text.size() >= kFormatBufferChars) return;  // does not fit the line buffer
    BuildPrefix(text.c_str());
}

void CConvertLogMgr::BuildPrefix(const char16_t* text)
{
    if (!text) return;
    std::lock_guard<std::mutex> lock(plat::TraceLock());
    if (plat::WideLength(text) >= kOverflowChars) {
        AppendToFile(u"[logMgr] buffer overflow");
        return;
    }
    std::u16string module = plat::ProgramBaseName();
    // A name in the text cannot end the line or write one of its own.
    const std::u16string escaped = plat::EscapeLine(text, false);
    std::u16string line;
    if (m_strTag.empty()) {
        line = plat::FormatWide(u"[%s(%d) %d %d] : %s", module.c_str(), plat::ProcessId(), plat::SessionId(),
                                plat::ThreadId(), escaped.c_str());
    } else {
        line = plat::FormatWide(u"[%s(%d) %d %d][%s] : %s", module.c_str(), plat::ProcessId(),
                                plat::SessionId(), plat::ThreadId(), m_strTag.c_str(), escaped.c_str());
    }
    AppendToFile(line);
}

void CConvertLogMgr::AppendToFile(const std::u16string& line)
{
    if (m_strPath.empty()) return;
    plat::RotateTraceFile(m_strPath, plat::kTraceRotateSize, plat::LocalTimeNow());
    if (m_nMode == 1) {
        std::u16string full = TimeStamp() + line + u"\n";
        plat::AppendTraceBytes(m_strPath, plat::EncodeCodePage(plat::kCpAcp, full));
    } else if (m_nMode == 2) {
        plat::DebugOutput(TimeStamp() + line + u"\n");
    }
}

std::u16string CConvertLogMgr::TimeStamp()
{
    return plat::TraceTimeStamp(plat::LocalTimeNow()) + u" ";
}

CConvertLogMgr& ConvertLog()
{
    static CConvertLogMgr log(u"NRVCTFLog.log");
    return log;
}

std::u16string GetLibraryModuleFolder(bool addSeparator)
{
    std::u16string dir = plat::ProgramDir();
    if (addSeparator && (dir.empty() || dir.back() != u'/')) dir += u'/';
    return dir;
}

uint64_t GetFileSizeByPath(const std::u16string& path)
{
    struct stat st {};
    if (stat(plat::PathToNative(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 0;
    return static_cast<uint64_t>(st.st_size);
}
