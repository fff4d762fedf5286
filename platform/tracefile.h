// The file side of the trace logs: where they live, their time stamps,
// rotation and whole-line appends. Both trace logs of the program and the
// extraction library's log write through here.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/system.h"
#include "platform/text.h"

namespace plat {

// A log larger than this (bytes) is moved aside before the next line.
constexpr uint64_t kTraceRotateSize = 10485760;

// The folder of the trace logs is plat::TraceLogDir() (platform/system.h).

// "[%d-%02d-%02d %02d:%02d:%02d.%03d]" of the given local time.
WString TraceTimeStamp(const LocalTime& t);

// Base name of the running program: no folder, no extension.
WString ProgramBaseName();

// The lock every trace-log writer of the process holds from building a line
// to the end of its write, so lines of different loggers never interleave.
std::mutex& TraceLock();

// When the file at `path` is larger than `limit` bytes it is renamed to the
// path without its extension plus "_YYYYMMDD_HHMM.log" of `now`. When that
// name is taken (a second rotation within the same minute), "_2", "_3", ...
// is added before ".log": a rotated log is never replaced. Returns the new
// path, or an empty text when nothing was moved.
WString RotateTraceFile(const WString& path, uint64_t limit, const LocalTime& now);

// Appends the bytes to the file (created when missing) with one write on a
// descriptor opened for appending, so concurrent writers (also in other
// processes) never split a line. False when the file cannot be written.
bool AppendTraceBytes(const WString& path, std::string_view bytes);

}  // namespace plat
