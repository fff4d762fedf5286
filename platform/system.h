// Folders, identities, times and modules: the small system services the
// program needs, in the forms its callers expect.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/text.h"

namespace plat {

// Folders (UTF-16 paths, no trailing separator). Each is created on demand by
// the caller that writes into it, except where said.
WString AppDataDir();    // $XDG_DATA_HOME or ~/.local/share
WString ConfigDir();     // $XDG_CONFIG_HOME or ~/.config
WString StateDir();      // $XDG_STATE_HOME or ~/.local/state
WString RuntimeDir();    // $XDG_RUNTIME_DIR, or a private folder under the temporary folder
WString DocumentsDir();  // the XDG documents folder (XDG_DOCUMENTS_DIR, user-dirs.dirs, ~/Documents)
WString TempDir();       // $TMPDIR or /tmp
WString ProgramDir();    // folder of the running executable
WString ProgramPath();   // the running executable itself

// The program's own folder below a base folder: base + "/Norvane/Privasweep".
WString VendorSubdir(const WString& base);

// The folder of the trace logs: the program folder when it is writable,
// otherwise VendorSubdir(StateDir()), created on demand (returned even when
// it cannot be created; the writer then fails quietly).
WString TraceLogDir();
// The choice itself, for any pair of folders.
WString ChooseTraceLogDir(const WString& programDir, const WString& stateDir);

// Creates a new private file (mode 0600, close-on-exec) in `folder` (the
// temporary folder when empty) named prefix + random part + suffix. Returns
// the open descriptor and stores the full path, or -1 when it fails. The
// caller closes and removes it.
int CreateTempFile(WStringView prefix, WStringView suffix, WString& path, const WString& folder = WString());

// Creates a folder and its parents; true when it exists afterwards.
bool MakeDirs(const WString& path);

// Identities.
WString UserName();       // login name of the effective user
uint32_t ProcessId();
uint32_t SessionId();     // getsid(0)
uint32_t ThreadId();      // gettid()

// Writes a text to the debugger output (standard error here).
void DebugOutput(WStringView text);

// Windows FILETIME: 100 ns ticks since 1601-01-01 UTC.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;
uint64_t FileTimeFromTimespec(const timespec& ts);
uint64_t FileTimeNow();

// Broken-down calendar time in the shape of the Windows SYSTEMTIME (day of
// week 0 = Sunday). The conversions accept the years 1601 to 30827 and
// refuse a date or time that does not exist (false, output untouched).
struct SystemTime {
    uint16_t year = 1601, month = 1, dayOfWeek = 1, day = 1;
    uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
    friend bool operator==(const SystemTime&, const SystemTime&) = default;
};
constexpr uint64_t kFileTimeTicksPerDay = 864000000000ULL;
bool FileTimeToSystemTime(uint64_t fileTime, SystemTime& out);
bool SystemTimeToFileTime(const SystemTime& in, uint64_t& out);
int DaysInMonth(int year, int month);  // 0 for a month outside 1..12

// Local broken-down time with milliseconds (the trace-log time stamps).
struct LocalTime {
    int year, month, day, hour, minute, second, millisecond, dayOfWeek;
};
LocalTime LocalTimeNow();
SystemTime LocalSystemTimeNow();

// Optional modules, loaded by full path; nullptr when absent.
void* LoadModule(const WString& fullPath);
void* ModuleSymbol(void* module, const char* name);
void UnloadModule(void* module);

}  // namespace plat
