// The trace log: printf-style lines to "PrivasweepLog.log" in the program
// folder (or the state folder when that is not writable) or to the debugger
// output, as the run-state value LogStream chooses.
#pragma once

#include <cstdarg>
#include <string>

class CLogMgr {
public:
    CLogMgr();
    ~CLogMgr();
    CLogMgr(const CLogMgr&) = delete;
    CLogMgr& operator=(const CLogMgr&) = delete;

    // Formats with the wide formatter (Windows rules: %s is a UTF-16 text)
    // and writes one line.
    void Write(const char16_t* format, ...);
    void WriteV(const char16_t* format, va_list args);

    // Added to the prefix of every line when not empty ("EG").
    std::u16string m_strTag;

private:
    int m_nDestination = 0;
};

// The application log and the search-and-action log (static objects).
CLogMgr& AppLog();
CLogMgr& SearchLog();
