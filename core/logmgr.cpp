#include "core/logmgr.h"

#include "core/registry.h"

CLogMgr::CLogMgr()
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

void CLogMgr::WriteV(const char16_t*, va_list)
{
    // Lines are written once the formatter and the file writer are in place.
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
