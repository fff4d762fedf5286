#include "platform/system.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace plat {

namespace {

std::string EnvOr(const char* name, const std::string& fallback)
{
    const char* v = std::getenv(name);
    return (v && *v == '/') ? std::string(v) : fallback;
}

std::string HomeNative()
{
    const char* h = std::getenv("HOME");
    if (h && *h)
        return h;
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* res = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &res) == 0 && res && res->pw_dir)
        return res->pw_dir;
    return "/tmp";
}

WString Strip(std::string p)
{
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return PathFromNative(p);
}

}  // namespace

WString AppDataDir() { return Strip(EnvOr("XDG_DATA_HOME", HomeNative() + "/.local/share")); }
WString ConfigDir() { return Strip(EnvOr("XDG_CONFIG_HOME", HomeNative() + "/.config")); }
WString StateDir() { return Strip(EnvOr("XDG_STATE_HOME", HomeNative() + "/.local/state")); }

WString TempDir() { return Strip(EnvOr("TMPDIR", "/tmp")); }

WString RuntimeDir()
{
    const char* v = std::getenv("XDG_RUNTIME_DIR");
    if (v && *v == '/')
        return Strip(v);
    // No runtime folder from the session: a private one under the temporary
    // folder, used only when it is really ours (a folder of that name made
    // by someone else, or open to others, is not).
    const std::string tmp = PathToNative(TempDir());
    const std::string p = tmp + "/privasweep-" + std::to_string(geteuid());
    mkdir(p.c_str(), 0700);
    struct stat st{};
    if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0)
        return PathFromNative(p);
    // guards: fallback (made once, made again when the temporary folder
    // changes). Taken alone.
    static std::mutex mutex;
    static std::string fallback;
    std::lock_guard<std::mutex> lock(mutex);
    if (fallback.empty() || fallback.compare(0, tmp.size() + 1, tmp + "/") != 0) {
        std::string tmpl = p + "-XXXXXX";
        fallback = mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    return PathFromNative(fallback.empty() ? tmp : fallback);
}

WString DocumentsDir()
{
    if (const char* v = std::getenv("XDG_DOCUMENTS_DIR"); v && *v == '/')
        return Strip(v);
    const std::string home = HomeNative();
    // user-dirs.dirs: XDG_DOCUMENTS_DIR="$HOME/Documents"
    std::ifstream in(PathToNative(ConfigDir()) + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DOCUMENTS_DIR=";
        if (line.rfind(key, 0) != 0)
            continue;
        std::string v = line.substr(key.size());
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
            v = v.substr(1, v.size() - 2);
        if (v.rfind("$HOME", 0) == 0)
            v = home + v.substr(5);
        if (!v.empty() && v[0] == '/')
            return Strip(v);
    }
    return Strip(home + "/Documents");
}

WString ProgramPath()
{
    std::vector<char> buf(4096);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0)
            return WString();
        if (static_cast<size_t>(n) < buf.size())
            return PathFromNative(std::string(buf.data(), static_cast<size_t>(n)));
        buf.resize(buf.size() * 2);
    }
}

WString ProgramDir()
{
    WString p = ProgramPath();
    auto slash = p.rfind(u'/');
    if (slash == WString::npos)
        return u".";
    return slash == 0 ? WString(u"/") : p.substr(0, slash);
}

WString VendorSubdir(const WString& base) { return base + u"/Norvane/Privasweep"; }

WString ChooseTraceLogDir(const WString& programDir, const WString& stateDir)
{
    if (!programDir.empty()) {
        const std::string native = PathToNative(programDir);
        struct stat st{};
        if (stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(native.c_str(), W_OK) == 0)
            return programDir;
    }
    const WString state = VendorSubdir(stateDir);
    MakeDirs(state);
    return state;
}

WString TraceLogDir() { return ChooseTraceLogDir(ProgramDir(), StateDir()); }

int CreateTempFile(WStringView prefix, WStringView suffix, WString& path, const WString& folder)
{
    std::string tmpl = PathToNative(folder.empty() ? TempDir() : folder) + "/" + PathToNative(prefix) + "XXXXXX";
    const std::string suffixNative = PathToNative(suffix);
    if (prefix.find(u'/') != WStringView::npos || suffix.find(u'/') != WStringView::npos)
        return -1;
    tmpl += suffixNative;
    const int fd = mkostemps(tmpl.data(), static_cast<int>(suffixNative.size()), O_CLOEXEC);
    if (fd < 0)
        return -1;
    fchmod(fd, 0600);
    path = PathFromNative(tmpl);
    return fd;
}

bool MakeDirs(const WString& path)
{
    std::error_code ec;
    std::filesystem::path p(PathToNative(path));
    std::filesystem::create_directories(p, ec);
    return std::filesystem::is_directory(p, ec);
}

WString UserName()
{
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* res = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &res) == 0 && res && res->pw_name)
        return PathFromNative(res->pw_name);
    if (const char* u = std::getenv("USER"))
        return PathFromNative(u);
    return u"user";
}

uint32_t ProcessId() { return static_cast<uint32_t>(getpid()); }
uint32_t SessionId() { return static_cast<uint32_t>(getsid(0)); }
uint32_t ThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

void DebugOutput(WStringView text)
{
    std::string s = WideToUtf8(text);
    std::fwrite(s.data(), 1, s.size(), stderr);
    if (s.empty() || s.back() != '\n')
        std::fputc('\n', stderr);
}

uint64_t FileTimeFromTimespec(const timespec& ts)
{
    // Times before 1601 cannot be expressed; they clamp to 0.
    const int64_t ticks = static_cast<int64_t>(ts.tv_sec) * 10000000LL + ts.tv_nsec / 100;
    const int64_t ft = ticks + static_cast<int64_t>(kFileTimeUnixEpoch);
    return ft < 0 ? 0 : static_cast<uint64_t>(ft);
}

uint64_t FileTimeNow()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return FileTimeFromTimespec(ts);
}

LocalTime LocalTimeNow()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    localtime_r(&ts.tv_sec, &t);
    return LocalTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                     t.tm_sec, static_cast<int>(ts.tv_nsec / 1000000), t.tm_wday};
}

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

// Days between 1601-01-01 and 1970-01-01.
constexpr int64_t kDays1601To1970 = 134774;
// The largest FILETIME that FileTimeToSystemTime accepts.
constexpr uint64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFFULL;

}  // namespace

int DaysInMonth(int year, int month)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

bool FileTimeToSystemTime(uint64_t fileTime, SystemTime& out)
{
    if (fileTime > kMaxFileTime)
        return false;
    const int64_t days = static_cast<int64_t>(fileTime / kFileTimeTicksPerDay);
    uint64_t rest = fileTime % kFileTimeTicksPerDay;
    int64_t y;
    unsigned m, d;
    CivilFromDays(days - kDays1601To1970, y, m, d);
    SystemTime st;
    st.year = static_cast<uint16_t>(y);
    st.month = static_cast<uint16_t>(m);
    st.day = static_cast<uint16_t>(d);
    st.dayOfWeek = static_cast<uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
    st.hour = static_cast<uint16_t>(rest / 36000000000ULL);
    rest %= 36000000000ULL;
    st.minute = static_cast<uint16_t>(rest / 600000000ULL);
    rest %= 600000000ULL;
    st.second = static_cast<uint16_t>(rest / 10000000ULL);
    rest %= 10000000ULL;
    st.milliseconds = static_cast<uint16_t>(rest / 10000ULL);
    out = st;
    return true;
}

bool SystemTimeToFileTime(const SystemTime& in, uint64_t& out)
{
    if (in.year < 1601 || in.year > 30827 || in.day < 1 || in.day > DaysInMonth(in.year, in.month) ||
        in.hour > 23 || in.minute > 59 || in.second > 59 || in.milliseconds > 999)
        return false;
    const int64_t days = DaysFromCivil(in.year, in.month, in.day) + kDays1601To1970;
    out = static_cast<uint64_t>(days) * kFileTimeTicksPerDay + in.hour * 36000000000ULL +
          in.minute * 600000000ULL + in.second * 10000000ULL + in.milliseconds * 10000ULL;
    return true;
}

SystemTime LocalSystemTimeNow()
{
    const LocalTime t = LocalTimeNow();
    SystemTime st;
    st.year = static_cast<uint16_t>(t.year);
    st.month = static_cast<uint16_t>(t.month);
    st.dayOfWeek = static_cast<uint16_t>(t.dayOfWeek);
    st.day = static_cast<uint16_t>(t.day);
    st.hour = static_cast<uint16_t>(t.hour);
    st.minute = static_cast<uint16_t>(t.minute);
    st.second = static_cast<uint16_t>(std::min(t.second, 59));  // a leap second
    st.milliseconds = static_cast<uint16_t>(t.millisecond);
    return st;
}

void* LoadModule(const WString& fullPath)
{
    std::string p = PathToNative(fullPath);
    struct stat st{};
    if (stat(p.c_str(), &st) != 0)
        return nullptr;
    return dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* ModuleSymbol(void* module, const char* name)
{
    return module ? dlsym(module, name) : nullptr;
}

void UnloadModule(void* module)
{
    if (module)
        dlclose(module);
}

}  // namespace plat
