#include "core/logmgr.h"

#include <mutex>

#include "core/registry.h"
#include "platform/codec.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/tracefile.h"
#include "platform/wformat.h"

CLogMgr::CLogMgr()
    : m_strFileName(u"PrivasweepLog.log"), m_strFolder(plat::TraceLogDir())
{
    m_nDestination = static_cast<int>(ReadRegistryDword(kRunStateKey, 0, u"LogStream"));
}

CLogMgr::~CLogMgr() = default;

void CLogMgr::Write(const char16_t* format, ...)
{
    va_list ap;
    va_start(ap, format);
    WriteV(format, ap);
    va_end(ap);
}

void CLogMgr::WriteV(const char16_t* format, va_list args)
{
    if (!format)
        return;
    std::u16string text = plat::FormatWideV(format, args);
    if (text.size() >= kFormatBufferChars)
        return;  // does not fit the format buffer: nothing is logged

    std::lock_guard<std::mutex> lock(plat::TraceLock());
    std::u16string line;
    if (text.size() >= kOverflowChars) {
        line = u"[logMgr] buffer overflow";
    } else {
        std::u16string module = plat::ProgramBaseName();
        if (m_strTag.empty()) {
            line = plat::FormatWide(u"[%s(%d) %d %d] : ", module.c_str(), plat::ProcessId(),
                                    plat::SessionId(), plat::ThreadId());
        } else {
            line = plat::FormatWide(u"[%s(%d) %d %d][%s] : ", module.c_str(), plat::ProcessId(),
                                    plat::SessionId(), plat::ThreadId(), m_strTag.c_str());
        }
        // A name in the text cannot end the line or write one of its own.
        line += plat::EscapeLine(text, false);
    }
    Emit(line);
}

void CLogMgr::Emit(const std::u16string& lineText)
{
    if (m_strFolder.empty())
        m_strFolder = plat::TraceLogDir();
    const std::u16string path = m_strFolder + u"/" + m_strFileName;
    const plat::LocalTime now = plat::LocalTimeNow();

    // A full log is moved aside whatever the destination.
    plat::RotateTraceFile(path, plat::kTraceRotateSize, now);

    if (m_nDestination != 1 && m_nDestination != 2)
        return;
    std::u16string full = plat::TraceTimeStamp(now) + u" " + lineText + u"\n";
    if (m_nDestination == 1)
        plat::AppendTraceBytes(path, plat::EncodeCodePage(plat::kCpAcp, full));
    else
        plat::DebugOutput(full);
}

CLogMgr& AppLog()
{
    static CLogMgr log;
    return log;
}

CLogMgr& SearchLog()
{
    static CLogMgr log;
    return log;
}
