// The trace log: printf-style lines to "PrivasweepLog.log" in the program
// folder (or the state folder when that is not writable) or to the debugger
// output, as the run-state value LogStream chooses (0 nothing, 1 the file,
// 2 the debugger output; any other value nothing).
//
// Line: "[YYYY-MM-DD hh:mm:ss.mmm] [program(pid) session thread] : text" (with
// a tag: "...thread][tag] : text"), written in code page 949. Both program
// logs share the file; every line is written whole under one process-wide
// lock and with one append. Never log a password or other secret.
#pragma once

#include <cstdarg>
#include <string>

class CLogMgr {
public:
    // Texts of this many characters or more are replaced by the overflow line;
    // texts that do not fit the format buffer are dropped.
    static constexpr size_t kFormatBufferChars = 10240;
    static constexpr size_t kOverflowChars = 10190;

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
    // "PrivasweepLog.log" and the folder it is written to (set again to the
    // trace-log folder when empty).
    std::u16string m_strFileName;
    std::u16string m_strFolder;

    int Destination() const { return m_nDestination; }

private:
    void Emit(const std::u16string& lineText);

    int m_nDestination = 0;
};

// The application log and the search-and-action log (static objects).
CLogMgr& AppLog();
CLogMgr& SearchLog();
