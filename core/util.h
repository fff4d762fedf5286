// Path, folder, string, number and date helpers that every part of the
// program calls. None keeps state; each call stands alone and may come from
// any thread. Paths are UTF-16 with '/' as the separator and no length limit.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/system.h"

struct SearchFileInfo;

using StringVector = std::vector<std::u16string>;

// ---- Folders (no trailing separator unless asked; empty when unknown) ----

// The folder of the running program, with a trailing '/' when asked.
std::u16string GetModuleFolder(bool trailingSeparator);
// The user's application-data folder ($XDG_DATA_HOME) or, when common, the
// system-wide one (the first folder of $XDG_DATA_DIRS, else /usr/local/share).
std::u16string GetShellFolder(bool common);
std::u16string GetAppDataFolder();
std::u16string GetCommonAppDataFolder();
// Where add-on programs are installed: /opt.
std::u16string GetProgramFilesFolder();
// The user's documents folder.
std::u16string GetDocumentsFolder();

// ---- Paths ----

// The text after the last '.', upper case (ASCII letters); a name without a
// '.' gives the whole name in upper case.
std::u16string GetUpperExtension(const std::u16string& name);
// The text after the last '/'; a path without '/' is returned whole.
std::u16string GetFileNamePart(const std::u16string& path);
// Appends every part between '/' separators, empty parts included; returns
// the vector's size.
size_t SplitPathComponents(const std::u16string& path, StringVector& parts);
// The number of non-empty parts between separators.
size_t CountPathComponents(const std::u16string& path);
// 1 when either path is a component-wise prefix of the other (exact,
// case-sensitive comparison), else 0.
int IsPathUnderFolder(const std::u16string& a, const std::u16string& b);
// Creates every missing folder of the path; 1 when all that had to be
// created were created.
int CreateDirectoryTree(const std::u16string& path);
// "/" followed by the text.
std::u16string PrefixSlash(const std::u16string& text);
// 1 and the size when the name is an existing entry that is not a folder.
int GetFileSizeByName(const std::u16string& fileName, uint64_t& size);

// Opens a document with the program the desktop associates with it. The
// call goes through a replaceable hook (tests, and later the desktop layer);
// the default starts `xdg-open` with the path as its one argument, never
// through a shell, and does not wait for it. False when the file does not
// exist or the opener could not be started.
bool OpenWithAssociation(const std::u16string& file);
using OpenWithAssociationHook = bool (*)(const std::u16string& file);
// Installs a hook (nullptr restores the default); returns the previous one.
OpenWithAssociationHook SetOpenWithAssociationHook(OpenWithAssociationHook hook);
// True while a hook replaces the opener (tests).
bool HasOpenWithAssociationHook();
// The default opener, exposed so that a hook can fall back to it. `opener`
// names the program to start (looked up in PATH).
bool SpawnOpener(const std::u16string& file, const char* opener = "xdg-open");

// ---- Texts and numbers ----

// Wide text to the ANSI code page (949); characters without a code become "?".
std::string ToNarrow(const std::u16string& wide);
// ANSI code page (949) to wide text.
std::u16string ToWide(const std::string& narrow);
// Appends the parts of the text separated by any character of the delimiter
// set, skipping empty parts; returns the vector's size afterwards.
size_t SplitString(StringVector& parts, const std::u16string& text, const std::u16string& delimiters);
// Empties the vector and releases its storage.
void DestroyStringVector(StringVector& v);
// "%d" with a ',' between groups of three digits: 1234567 gives 1,234,567.
std::u16string FormatThousands(int64_t value);
// Inserts ',' before every group of three characters counted from the
// right; a leading sign stays in front.
std::u16string InsertThousandsSeparators(const std::u16string& digits);
// The six-digit local time "hhmmss" of the event records.
std::u16string GetTimeText();
std::u16string FormatTimeText(const plat::SystemTime& time);

// ---- Dates ----

// One calendar instant held twice: broken down and as a FILETIME. Every
// operation computes on the FILETIME and rebuilds the broken-down half, so
// the two always agree; the time of day is carried through.
struct DateRecord {
    plat::SystemTime time;
    uint64_t fileTime = 0;
    friend bool operator==(const DateRecord&, const DateRecord&) = default;
};

// A record of a broken-down time (its day of week is recomputed); false when
// the date does not exist.
bool MakeDateRecord(const plat::SystemTime& time, DateRecord& out);
DateRecord DateFromFileTime(uint64_t fileTime);
DateRecord DateToday();  // the local date and time now

DateRecord DateMinusDays(int days, DateRecord date);  // days <= 0 leaves it
DateRecord DateNextDay(DateRecord date);
DateRecord DateNextWeek(DateRecord date);
DateRecord DatePreviousWeek(DateRecord date);
// The 28th of the following / preceding month.
DateRecord DateNextMonth(DateRecord date);
DateRecord DatePreviousMonth(DateRecord date);
// The same month and day one year on / back; 29 February becomes 28 February
// in a year without it.
DateRecord DateNextYear(DateRecord date);
DateRecord DatePreviousYear(DateRecord date);
// The Sunday and the Saturday of the date's week.
std::pair<DateRecord, DateRecord> GetWeekRange(DateRecord date);
// The first and the last day of the date's month.
std::pair<DateRecord, DateRecord> GetMonthRange(DateRecord date);
// "%4d/%d/%d" of year, month and day.
std::u16string FormatDate(const DateRecord& date);

// ---- System ----

bool IsVistaOrLater();  // always true: the platform has every facility asked for
// The program's own version as "%d.%d.%d.%d" (4 parts) or "%d.%d" for the
// running program's file; empty for any other file or an empty name.
std::u16string GetFileVersionText(const std::u16string& file, int parts);
// The login name of the user.
std::u16string GetWindowsUserName();
// Nothing to allow here: every process of the user may ask the program to
// close. Always 1.
int AllowCloseMessage();
