// The extraction library's own trace log ("NRVCTFLog.log"), built like the
// program's: one line per call, "[YYYY-MM-DD hh:mm:ss.mmm] [module(pid)
// session thread] : text", in code page 949. The run-state value LogStream,
// read once, chooses: 0 nothing, 1 the file, 2 the debugger output.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

class CConvertLogMgr {
public:
    static constexpr size_t kFormatBufferChars = 10240;
    static constexpr size_t kOverflowChars = 10190;

    // The file goes to the trace-log folder, or to `folder` when given.
    explicit CConvertLogMgr(const std::u16string& fileName, const std::u16string& folder = {});
    ~CConvertLogMgr();
    CConvertLogMgr(const CConvertLogMgr&) = delete;
    CConvertLogMgr& operator=(const CConvertLogMgr&) = delete;

    // Nothing (not even formatting) when the mode is 0.
    void Write(const char16_t* format, ...);
    void FormatLine(const char16_t* format, va_list args);
    void BuildPrefix(const char16_t* text);
    void AppendToFile(const std::u16string& line);
    static std::u16string TimeStamp();

    int Mode() const { return m_nMode; }
    const std::u16string& Path() const { return m_strPath; }

    std::u16string m_strTag;

private:
    int m_nMode = 0;
    std::u16string m_strFileName;
    std::u16string m_strPath;
};

// The library's log, created on first use.
CConvertLogMgr& ConvertLog();

// The folder of the running executable, with a trailing "/" when asked.
std::u16string GetLibraryModuleFolder(bool addSeparator);
// Size of a file; 0 for a folder or when nothing is found.
uint64_t GetFileSizeByPath(const std::u16string& path);
