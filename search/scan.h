// One document's scan: its text read by the reader of its format, matched,
// and the document listed in the day's error-file list when it was not read
// to its end. The one place where a file meets the matcher.
#pragma once

#include <atomic>
#include <string>

#include "core/records.h"
#include "platform/docfile.h"
#include "platform/system.h"
#include "search/extractors.h"
#include "search/matcher.h"

// What the scans of one search share: the readers the dispatch calls and
// the count of error-file list lines that could not be written. A search
// session owns one and passes it down to every scan of its analysis and to
// its walk; a scan outside a session (the tools, a test of one document)
// uses a context of its own, which by default has the program's readers.
class ScanContext {
public:
    ScanContext() = default;
    explicit ScanContext(const ExtractorTable& readers) : m_readers(readers) {}
    ScanContext(const ScanContext&) = delete;
    ScanContext& operator=(const ScanContext&) = delete;

    const ExtractorTable& Readers() const { return m_readers; }
    // Replaces the readers (tests put their own in). Not while a scan of
    // this context runs: the scans read the table without a lock.
    void SetReaders(const ExtractorTable& readers) { m_readers = readers; }

    // Lines of the error-file list this context's writers could not write
    // (a full disk, no documents folder) since it was made or reset: the
    // unread documents the list does not name.
    int LinesLost() const { return m_linesLost.load(); }
    // A new count (a search's start).
    void ResetLinesLost() { m_linesLost = 0; }
    // Counts a lost line; true for the first one since the reset.
    bool CountLineLost() { return m_linesLost.fetch_add(1) == 0; }

private:
    ExtractorTable m_readers = DefaultExtractorTable();
    std::atomic<int> m_linesLost{0};
};

// Scans one document: extracts its text by extension, matches the groups of
// the mask and appends hits (when hits is given) and counts. cancel may be
// null; when given it also stops the reader (plat::ReadCancelScope). A
// document not read to its end is listed with its reason; the text a reader
// gave before it failed is still matched (ScanStatus::Partial). identity,
// when given, receives the identity of the file the reader opened (not known
// when none was opened): what an action on the document later checks.
// The scan reads with the context's readers and counts in it the lines of
// the error-file list it could not write. The form without a context reads
// with the program's readers.
ScanStatus FindPersonalInfoInFile(ScanContext& context, const std::u16string& path, PersonalInfoCounts& counts,
                                  PersonalInfoMask mask, const CancelFlag* cancel, PersonalInfoHitList* hits,
                                  plat::FileIdentity* identity = nullptr);
ScanStatus FindPersonalInfoInFile(const std::u16string& path, PersonalInfoCounts& counts,
                           PersonalInfoMask mask, const CancelFlag* cancel,
                           PersonalInfoHitList* hits, plat::FileIdentity* identity = nullptr);

// Appends "[hh:mm:ss] path" and, when a reason is given, a tab and the
// reason, to PrivasweepErrFileList.txt in the day's folder
// <documents>/Privasweep/PrivasweepErrorFile/YYYYMMDD. Lines end in CR LF.
// True when the whole line was written; a line that could not be (a full
// disk, no documents folder, a folder that cannot be made) is counted in
// the context (ScanContext::LinesLost) so that the user is told rather than
// left with a list shorter than the count.
bool WriteErrorFileList(ScanContext& context, const std::u16string& path, const std::u16string& reason = {});
// The folder of the daily lists, and the list of the day of now.
std::u16string ErrorFileListFolder();
std::u16string ErrorFileListPath(const plat::LocalTime& now);
bool WriteErrorFileListAt(ScanContext& context, const std::u16string& path, const plat::LocalTime& now,
                          const std::u16string& reason = {});
