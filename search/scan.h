// One document's scan: its text read by the reader of its format, matched,
// and the document listed in the day's error-file list when it was not read
// to its end. The one place where a file meets the matcher.
#pragma once

#include <string>

#include "core/records.h"
#include "platform/system.h"
#include "search/matcher.h"

// Scans one document: extracts its text by extension, matches the groups of
// the mask and appends hits (when hits is given) and counts. cancel may be
// null; when given it also stops the reader (plat::ReadCancelScope). A
// document not read to its end is listed with its reason; the text a reader
// gave before it failed is still matched (kScanPartial).
int FindPersonalInfoInFile(const std::u16string& path, PersonalInfoCounts& counts,
                           PersonalInfoMask mask, const CancelFlag* cancel,
                           PersonalInfoHitList* hits);

// Appends "[hh:mm:ss] path" and, when a reason is given, a tab and the
// reason, to PrivasweepErrFileList.txt in the day's folder
// <documents>/Privasweep/PrivasweepErrorFile/YYYYMMDD. Lines end in CR LF.
void WriteErrorFileList(const std::u16string& path, const std::u16string& reason = {});
void WriteErrorFileListAt(const std::u16string& path, const plat::LocalTime& now,
                          const std::u16string& reason = {});
