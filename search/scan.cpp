#include "search/scan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>

#include "core/logmgr.h"
#include "platform/docfile.h"
#include "platform/text.h"
#include "search/extractors.h"

namespace {

// The text after the last '.', upper case; the whole text when there is none.
std::u16string UpperExtension(const std::u16string& path)
{
    size_t dot = path.rfind(u'.');
    return plat::ToUpperAscii(dot == std::u16string::npos ? std::u16string_view(path)
                                                          : std::u16string_view(path).substr(dot + 1));
}

// Characters of text a reading thread keeps room for between documents.
constexpr size_t kKeptTextRoom = size_t{4} << 20;

bool Cancelled(const CancelFlag* cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed) != 0;
}

bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

namespace {

ScanStatus ScanInScope(ScanContext& context, const std::u16string& path, const std::u16string& extension,
                       std::u16string& text, const plat::ReadCancelScope& scope, PersonalInfoCounts& counts,
                       PersonalInfoMask mask, const CancelFlag* cancel, PersonalInfoHitList* hits)
{
    std::u16string reason;
    EntryResult ret = ExtractDocumentText(context.Readers(), path, extension, text, &reason);
    const plat::ReadLimit limit = scope.LimitReached();
    SearchLog().Write(u"ret[%d], filePath(%s)", static_cast<int>(ret), path.c_str());
    if (Cancelled(cancel)) {
        plat::DebugOutput(u"IS_CANCLED_RETURN_VALUE");
        return ScanStatus::Cancelled;
    }
    if (limit != kReadLimitNone) {
        // Stopped at its budget: read in part, whatever the reader said.
        ret = ret == EntryResult::Read ? EntryResult::NotRead : ret;
        reason = limit == kReadLimitTime     ? u"작업 한도에 이름 (시간)"
                 : limit == kReadLimitMemory ? u"작업 한도에 이름 (메모리)"
                                             : u"작업 한도에 이름 (연산)";
    }
    if (ret != EntryResult::Read) {
        // Not read to its end: listed with its reason; the text the reader
        // gave before it failed is still matched.
        if (!text.empty())
            reason += u" - 일부만 읽음";
        WriteErrorFileList(context, path, reason);
        if (text.empty())
            return ret == EntryResult::NotRead ? ScanStatus::NoText : ScanStatus::Failed;
    }
    try {
        const ScanStatus status = FindPersonalInfoInText(text, counts, mask, cancel, hits);
        return status == ScanStatus::Done && ret != EntryResult::Read ? ScanStatus::Partial : status;
    } catch (const std::bad_alloc&) {
        // A text too large for the hit list or the position map: report it like
        // a document that could not be read rather than losing the search.
        counts.Clear();
        if (hits)
            hits->clear();
        WriteErrorFileList(context, path, u"텍스트가 너무 김");
        return ScanStatus::Failed;
    }
}

}  // namespace

ScanStatus FindPersonalInfoInFile(const std::u16string& path, PersonalInfoCounts& counts,
                           PersonalInfoMask mask, const CancelFlag* cancel,
                           PersonalInfoHitList* hits, plat::FileIdentity* identity)
{
    ScanContext context;
    return FindPersonalInfoInFile(context, path, counts, mask, cancel, hits, identity);
}

ScanStatus FindPersonalInfoInFile(ScanContext& context, const std::u16string& path, PersonalInfoCounts& counts,
                                  PersonalInfoMask mask, const CancelFlag* cancel, PersonalInfoHitList* hits,
                                  plat::FileIdentity* identity)
{
    const std::u16string extension = UpperExtension(path);
    // The text buffer is the reading thread's own and keeps its room from one
    // document to the next: a fresh buffer per document grew by copying into
    // newly mapped pages, and every reading thread waited on the kernel for
    // them. A room past kKeptTextRoom is given back after the document.
    thread_local std::u16string text;
    text.clear();
    struct GiveBackLargeRoom {
        ~GiveBackLargeRoom()
        {
            if (text.capacity() > kKeptTextRoom) {
                text.clear();
                text.shrink_to_fit();
            }
        }
    };
    // The stop flag and the document's work budget reach into the reader's
    // loops and reads. The scope (the document's memory account) stays
    // while the text is matched: the text's room, taken from the account as
    // it grew, counts against the search's memory until it is given back.
    plat::ReadCancelScope scope(cancel, plat::CurrentDocumentBudget());
    GiveBackLargeRoom giveBack;
    const ScanStatus status = ScanInScope(context, path, extension, text, scope, counts, mask, cancel, hits);
    // The document the reader opened: what an action on it must find again.
    if (identity)
        *identity = scope.FirstFileOpened();
    return status;
}

namespace {

// A line not written: counted in the context, and logged once per count.
bool LineLost(ScanContext& context, const std::u16string& path)
{
    if (context.CountLineLost())
        SearchLog().Write(u"The error-file list could not be written: %s", path.c_str());
    return false;
}

}  // namespace

std::u16string ErrorFileListFolder()
{
    const std::u16string docs = plat::DocumentsDir();
    return docs.empty() ? std::u16string() : docs + u"/Privasweep/PrivasweepErrorFile";
}

std::u16string ErrorFileListPath(const plat::LocalTime& now)
{
    const std::u16string folder = ErrorFileListFolder();
    if (folder.empty())
        return {};
    char day[16];
    std::snprintf(day, sizeof day, "%04d%02d%02d", now.year, now.month, now.day);
    return folder + u"/" + plat::AsciiToWide(day) + u"/PrivasweepErrFileList.txt";
}

bool WriteErrorFileList(ScanContext& context, const std::u16string& path, const std::u16string& reason)
{
    return WriteErrorFileListAt(context, path, plat::LocalTimeNow(), reason);
}

bool WriteErrorFileListAt(ScanContext& context, const std::u16string& path, const plat::LocalTime& now,
                          const std::u16string& reason)
{
    const std::u16string list = ErrorFileListPath(now);
    if (list.empty())
        return LineLost(context, path);
    plat::MakeDirs(list.substr(0, list.rfind(u'/')));
    std::string file = plat::PathToNative(list);
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return LineLost(context, path);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%02d:%02d:%02d] ", now.hour, now.minute, now.second);
    // One write per line, never cut; CR LF as the list has always had.
    // A name cannot end its line or forge the reason: its control
    // characters are written escaped.
    std::string line = stamp + plat::PathToNative(plat::EscapeLine(path));
    if (!reason.empty()) {
        // The reason stays on its line whatever it holds.
        std::string text = plat::WideToUtf8(reason);
        for (char& c : text)
            if (c == '\r' || c == '\n' || c == '\t')
                c = ' ';
        line += "\t" + text;
    }
    line += "\r\n";
    // A short write leaves part of a line: cut it off again, so that the
    // list holds whole lines only and each line is one unread document.
    struct stat st;
    const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : -1;
    bool written = WriteAll(fd, line);
    if (!written && before >= 0)
        (void)!::ftruncate(fd, before);
    if (::close(fd) != 0)
        written = false;
    return written ? true : LineLost(context, path);
}
