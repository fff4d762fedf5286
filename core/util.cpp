#include "core/util.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/codec.h"
#include "platform/text.h"
#include "core/records.h"

extern char** environ;

namespace {

// The version of this program, as its file version.
constexpr int kProgramVersion[4] = {1, 0, 0, 0};

std::u16string Ascii(const std::string& s) { return plat::AsciiToWide(s); }

bool StatPath(const std::u16string& path, struct stat& st)
{
    return !path.empty() && ::stat(plat::PathToNative(path).c_str(), &st) == 0;
}

std::atomic<OpenWithAssociationHook> g_openHook{nullptr};

}  // namespace

// ---- Folders ----

std::u16string GetModuleFolder(bool trailingSeparator)
{
    std::u16string dir = plat::ProgramDir();
    if (trailingSeparator && (dir.empty() || dir.back() != u'/'))
        dir += u'/';
    return dir;
}

std::u16string GetShellFolder(bool common)
{
    if (!common)
        return plat::AppDataDir();
    // $XDG_DATA_DIRS: folders separated by ':'; the first absolute one.
    if (const char* dirs = std::getenv("XDG_DATA_DIRS")) {
        std::string all = dirs;
        size_t start = 0;
        while (start <= all.size()) {
            size_t end = all.find(':', start);
            if (end == std::string::npos)
                end = all.size();
            std::string d = all.substr(start, end - start);
            while (d.size() > 1 && d.back() == '/')
                d.pop_back();
            if (!d.empty() && d[0] == '/')
                return plat::PathFromNative(d);
            start = end + 1;
        }
    }
    return u"/usr/local/share";
}

std::u16string GetAppDataFolder() { return GetShellFolder(false); }
std::u16string GetCommonAppDataFolder() { return GetShellFolder(true); }
std::u16string GetProgramFilesFolder() { return u"/opt"; }
std::u16string GetDocumentsFolder() { return plat::DocumentsDir(); }

// ---- Paths ----

std::u16string GetUpperExtension(const std::u16string& name)
{
    const size_t dot = name.rfind(u'.');
    return plat::ToUpperAscii(dot == std::u16string::npos ? name : name.substr(dot + 1));
}

std::u16string GetFileNamePart(const std::u16string& path)
{
    const size_t slash = path.rfind(u'/');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

size_t SplitPathComponents(const std::u16string& path, StringVector& parts)
{
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find(u'/', start);
        if (slash == std::u16string::npos) {
            parts.push_back(path.substr(start));
            break;
        }
        parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts.size();
}

size_t CountPathComponents(const std::u16string& path)
{
    StringVector parts;
    return SplitString(parts, path, u"/");
}

int IsPathUnderFolder(const std::u16string& a, const std::u16string& b)
{
    StringVector pa, pb;
    SplitPathComponents(a, pa);
    SplitPathComponents(b, pb);
    const size_t n = std::min(pa.size(), pb.size());
    for (size_t i = 0; i < n; ++i)
        if (pa[i] != pb[i])
            return 0;
    return 1;
}

int CreateDirectoryTree(const std::u16string& path)
{
    StringVector parts;
    SplitPathComponents(path, parts);
    int result = 1;
    std::u16string prefix;
    for (const auto& part : parts) {
        prefix += part;
        prefix += u'/';
        const std::string native = plat::PathToNative(prefix);
        if (::access(native.c_str(), F_OK) != 0) {
            const bool made = ::mkdir(native.c_str(), 0777) == 0 || errno == EEXIST;
            result = result && made ? 1 : 0;
        }
    }
    return result;
}

std::u16string PrefixSlash(const std::u16string& text) { return u"/" + text; }

int GetFileSizeByName(const std::u16string& fileName, uint64_t& size)
{
    struct stat st{};
    if (!StatPath(fileName, st) || S_ISDIR(st.st_mode))
        return 0;
    size = static_cast<uint64_t>(st.st_size);
    return 1;
}

bool SpawnOpener(const std::u16string& file, const char* opener)
{
    const std::string native = plat::PathToNative(file);
    std::string program = opener;
    // A name starting with '-' would be read as an option.
    std::string arg = (!native.empty() && native[0] == '-') ? "./" + native : native;
    char* argv[] = {program.data(), arg.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0)
        return false;
    // Reap the opener when it ends, without making the caller wait.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    }).detach();
    return true;
}

OpenWithAssociationHook SetOpenWithAssociationHook(OpenWithAssociationHook hook)
{
    return g_openHook.exchange(hook);
}

bool HasOpenWithAssociationHook() { return g_openHook.load() != nullptr; }

bool OpenWithAssociation(const std::u16string& file)
{
    if (OpenWithAssociationHook hook = g_openHook.load())
        return hook(file);
    struct stat st{};
    if (!StatPath(file, st))
        return false;
    return SpawnOpener(file);
}

// ---- Texts and numbers ----

std::string ToNarrow(const std::u16string& wide) { return plat::EncodeCodePage(plat::kCpAcp, wide, "?"); }

std::u16string ToWide(const std::string& narrow) { return plat::DecodeCodePage(plat::kCpAcp, narrow); }

size_t SplitString(StringVector& parts, const std::u16string& text, const std::u16string& delimiters)
{
    size_t start = 0;
    while (start < text.size()) {
        const size_t begin = text.find_first_not_of(delimiters, start);
        if (begin == std::u16string::npos)
            break;
        size_t end = text.find_first_of(delimiters, begin);
        if (end == std::u16string::npos)
            end = text.size();
        parts.push_back(text.substr(begin, end - begin));
        start = end;
    }
    return parts.size();
}

void DestroyStringVector(StringVector& v)
{
    StringVector().swap(v);
}

std::u16string InsertThousandsSeparators(const std::u16string& digits)
{
    size_t signLength = (!digits.empty() && (digits[0] == u'-' || digits[0] == u'+')) ? 1 : 0;
    std::u16string out = digits.substr(0, signLength);
    const std::u16string body = digits.substr(signLength);
    for (size_t i = 0; i < body.size(); ++i) {
        if (i > 0 && (body.size() - i) % 3 == 0)
            out += u',';
        out += body[i];
    }
    return out;
}

std::u16string FormatThousands(int64_t value)
{
    return InsertThousandsSeparators(Ascii(std::to_string(value)));
}

std::u16string FormatTimeText(const plat::SystemTime& t)
{
    char buf[16];
    std::snprintf(buf, sizeof(buf), "%02u%02u%02u", t.hour % 100u, t.minute % 100u, t.second % 100u);
    return Ascii(buf);
}

std::u16string GetTimeText() { return FormatTimeText(plat::LocalSystemTimeNow()); }

// ---- Dates ----

bool MakeDateRecord(const plat::SystemTime& time, DateRecord& out)
{
    uint64_t ft = 0;
    plat::SystemTime st;
    if (!plat::SystemTimeToFileTime(time, ft) || !plat::FileTimeToSystemTime(ft, st))
        return false;
    out.time = st;
    out.fileTime = ft;
    return true;
}

DateRecord DateFromFileTime(uint64_t fileTime)
{
    DateRecord r;
    if (plat::FileTimeToSystemTime(fileTime, r.time))
        r.fileTime = fileTime;
    else
        plat::SystemTimeToFileTime(r.time, r.fileTime);
    return r;
}

DateRecord DateToday()
{
    DateRecord r;
    MakeDateRecord(plat::LocalSystemTimeNow(), r);
    return r;
}

namespace {

// Moves the record by whole days; a move out of the representable range
// leaves it unchanged.
DateRecord AddDays(DateRecord date, int64_t days)
{
    const int64_t ticks = days * static_cast<int64_t>(plat::kFileTimeTicksPerDay);
    const int64_t now = static_cast<int64_t>(date.fileTime);
    if ((ticks < 0 && now + ticks < 0) || (ticks > 0 && date.fileTime + static_cast<uint64_t>(ticks) > 0x7FFFFFFFFFFFFFFFULL))
        return date;
    const uint64_t moved = static_cast<uint64_t>(now + ticks);
    plat::SystemTime st;
    if (!plat::FileTimeToSystemTime(moved, st))
        return date;
    date.fileTime = moved;
    date.time = st;
    return date;
}

// The record for a changed year, month and day (time of day kept); the
// record unchanged when the date cannot be had.
DateRecord WithDate(DateRecord date, int year, int month, int day)
{
    if (year < 1601 || year > 30827)
        return date;
    plat::SystemTime st = date.time;
    st.year = static_cast<uint16_t>(year);
    st.month = static_cast<uint16_t>(month);
    st.day = static_cast<uint16_t>(day);
    DateRecord out;
    return MakeDateRecord(st, out) ? out : date;
}

}  // namespace

DateRecord DateMinusDays(int days, DateRecord date) { return days <= 0 ? date : AddDays(date, -days); }
DateRecord DateNextDay(DateRecord date) { return AddDays(date, 1); }
DateRecord DateNextWeek(DateRecord date) { return AddDays(date, 7); }
DateRecord DatePreviousWeek(DateRecord date) { return AddDays(date, -7); }

DateRecord DateNextMonth(DateRecord date)
{
    const int y = date.time.year, m = date.time.month;
    return m == 12 ? WithDate(date, y + 1, 1, 28) : WithDate(date, y, m + 1, 28);
}

DateRecord DatePreviousMonth(DateRecord date)
{
    const int y = date.time.year, m = date.time.month;
    return m == 1 ? WithDate(date, y - 1, 12, 28) : WithDate(date, y, m - 1, 28);
}

DateRecord DateNextYear(DateRecord date)
{
    const int y = date.time.year + 1, m = date.time.month;
    return WithDate(date, y, m, std::min<int>(date.time.day, plat::DaysInMonth(y, m)));
}

DateRecord DatePreviousYear(DateRecord date)
{
    const int y = date.time.year - 1, m = date.time.month;
    return WithDate(date, y, m, std::min<int>(date.time.day, plat::DaysInMonth(y, m)));
}

std::pair<DateRecord, DateRecord> GetWeekRange(DateRecord date)
{
    const int dow = date.time.dayOfWeek;
    return {AddDays(date, -dow), AddDays(date, 6 - dow)};
}

std::pair<DateRecord, DateRecord> GetMonthRange(DateRecord date)
{
    const DateRecord first = AddDays(date, -(static_cast<int>(date.time.day) - 1));
    const int y = date.time.year, m = date.time.month;
    DateRecord nextFirst = m == 12 ? WithDate(date, y + 1, 1, 1) : WithDate(date, y, m + 1, 1);
    if (nextFirst == date)  // no following month (the last representable one)
        return {first, date};
    return {first, AddDays(nextFirst, -1)};
}

std::u16string FormatDate(const DateRecord& date)
{
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%4u/%u/%u", date.time.year, date.time.month, date.time.day);
    return Ascii(buf);
}

// ---- System ----

bool IsVistaOrLater() { return true; }

std::u16string GetFileVersionText(const std::u16string& file, int parts)
{
    struct stat st{}, self{};
    if (!StatPath(file, st) || ::stat("/proc/self/exe", &self) != 0 || st.st_dev != self.st_dev ||
        st.st_ino != self.st_ino)
        return std::u16string();
    char buf[64];
    if (parts == 4)
        std::snprintf(buf, sizeof(buf), "%d.%d.%d.%d", kProgramVersion[0], kProgramVersion[1], kProgramVersion[2],
                      kProgramVersion[3]);
    else
        std::snprintf(buf, sizeof(buf), "%d.%d", kProgramVersion[0], kProgramVersion[1]);
    return Ascii(buf);
}

std::u16string GetWindowsUserName() { return plat::UserName(); }

int AllowCloseMessage() { return 1; }
