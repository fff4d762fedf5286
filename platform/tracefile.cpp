#include "platform/tracefile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/wformat.h"

namespace plat {

WString TraceTimeStamp(const LocalTime& t)
{
    return FormatWide(u"[%d-%02d-%02d %02d:%02d:%02d.%03d]", t.year, t.month, t.day, t.hour,
                      t.minute, t.second, t.millisecond);
}

WString ProgramBaseName()
{
    WString p = ProgramPath();
    auto slash = p.rfind(u'/');
    if (slash != WString::npos) p.erase(0, slash + 1);
    auto dot = p.rfind(u'.');
    if (dot != WString::npos && dot > 0) p.erase(dot);
    return p;
}

std::mutex& TraceLock()
{
    // guards: the trace files' lines, from building one to the end of its
    // write. Innermost: a line is written under any other lock, and nothing
    // is taken under this one.
    static std::mutex lock;
    return lock;
}

namespace {

// Renames without replacing an existing target; false when the target exists
// or the move failed.
bool RenameNoReplace(const std::string& from, const std::string& to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without the flag: a hard link fails on an existing name.
    if (link(from.c_str(), to.c_str()) != 0)
        return false;
    unlink(from.c_str());
    return true;
}

}  // namespace

WString RotateTraceFile(const WString& path, uint64_t limit, const LocalTime& now)
{
    std::string native = PathToNative(path);
    struct stat st {};
    if (stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    if (static_cast<uint64_t>(st.st_size) <= limit)
        return {};
    WString base = path;
    auto slash = base.rfind(u'/');
    auto dot = base.rfind(u'.');
    if (dot != WString::npos && (slash == WString::npos || dot > slash))
        base.erase(dot);
    WString stem = base + FormatWide(u"_%04d%02d%02d_%02d%02d", now.year, now.month, now.day,
                                     now.hour, now.minute);
    for (int n = 1; n < 10000; ++n) {
        WString target = n == 1 ? stem + u".log" : stem + FormatWide(u"_%d.log", n);
        if (RenameNoReplace(native, PathToNative(target)))
            return target;
        if (errno != EEXIST)
            return {};
    }
    return {};
}

bool AppendTraceBytes(const WString& path, std::string_view bytes)
{
    int fd = open(PathToNative(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = true;
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    close(fd);
    return ok;
}

}  // namespace plat
