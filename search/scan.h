// One document's scan: its text read by the reader of its format, matched,
// and the document listed in the day's error-file list when it was not read
// to its end. The one place where a file meets the matcher.
#pragma once

#include <string>

#include "core/records.h"
#include "platform/docfile.h"
#include "platform/system.h"
#include "search/matcher.h"

// Scans one document: extracts its text by extension, matches the groups of
// the mask and appends hits (when hits is given) and counts. cancel may be
// null; when given it also stops the reader (plat::ReadCancelScope). A
// document not read to its end is listed with its reason; the text a reader
// gave before it failed is still matched (ScanStatus::Partial). identity,
// when given, receives the identity of the file the reader opened (not known
// when none was opened): what an action on the document later checks.
ScanStatus FindPersonalInfoInFile(const std::u16string& path, PersonalInfoCounts& counts,
                           PersonalInfoMask mask, const CancelFlag* cancel,
                           PersonalInfoHitList* hits, plat::FileIdentity* identity = nullptr);

// Appends "[hh:mm:ss] path" and, when a reason is given, a tab and the
// reason, to PrivasweepErrFileList.txt in the day's folder
// <documents>/Privasweep/PrivasweepErrorFile/YYYYMMDD. Lines end in CR LF.
// True when the whole line was written; a line that could not be (a full
// disk, no documents folder, a folder that cannot be made) is counted in
// ErrorFileListLinesLost so that the user is told rather than left with a
// list shorter than the count.
bool WriteErrorFileList(const std::u16string& path, const std::u16string& reason = {});
// The folder of the daily lists, and the list of the day of now.
std::u16string ErrorFileListFolder();
std::u16string ErrorFileListPath(const plat::LocalTime& now);
bool WriteErrorFileListAt(const std::u16string& path, const plat::LocalTime& now,
                          const std::u16string& reason = {});
// Lines of the error-file list that could not be written since the program
// started (a search takes the difference over its run).
int ErrorFileListLinesLost();
