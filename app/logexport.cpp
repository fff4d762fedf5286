#include "app/logexport.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

#include "app/eventrows.h"
#include "core/eventstore/eventlogqueries.h"
#include "core/uitext.h"
#include "core/util.h"
#include "platform/text.h"
#include "platform/wformat.h"

// The export file: a header line and one comma-separated line per event, in
// code page 949, which a Korean spreadsheet opens directly. A field that
// holds a comma, a double quote or a line break is enclosed in double quotes
// with its double quotes doubled; every other field is written as it is.

namespace {

std::u16string QuoteExportField(const std::u16string& field);

// Removes a half-written export; only ever a regular file (a path naming a
// device or a link stays).
void RemovePartialFile(const std::string& native)
{
    struct stat st;
    if (::lstat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        std::remove(native.c_str());
}

std::u16string Number(int64_t n)
{
    return plat::FormatWide(u"%I64d", static_cast<long long>(n));
}

std::u16string JoinLine(const std::vector<std::u16string>& fields)
{
    std::u16string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i)
            line += u',';
        line += QuoteExportField(fields[i]);
    }
    return line;
}

std::u16string QuoteExportField(const std::u16string& field)
{
    if (field.find_first_of(u",\"\r\n") == std::u16string::npos)
        return field;
    std::u16string q = u"\"";
    for (char16_t c : field) {
        if (c == u'"')
            q += u'"';
        q += c;
    }
    q += u'"';
    return q;
}

std::vector<std::u16string> EventLogExportHeader()
{
    static const char16_t* const keys[12] = {
        u"EVENT_LOG_COLUMN_DATE",     u"EVENT_LOG_COLUMN_TYPE",    u"EVENT_LOG_COLUMN_CONTENT",
        u"EVENT_LOG_COLUMN_USER",     u"EVENT_LOG_COLUMN_DOCUMENT", u"EVENT_LOG_COLUMN_ID",
        u"EVENT_LOG_COLUMN_ACCOUNT",  u"EVENT_LOG_COLUMN_CREDIT_CARD", u"EVENT_LOG_COLUMN_PHONE",
        u"EVENT_LOG_COLUMN_ADDRESS",  u"EVENT_LOG_COLUMN_EMAIL",   u"EVENT_LOG_COLUMN_IPADDRESS"};
    std::vector<std::u16string> h;
    for (const char16_t* k : keys)
        h.push_back(GetText(k));
    return h;
}

// Fields 1-4 of every line (date without seconds, kind, event text without
// counts, user), then the documents and the seven counts of a search end, or
// the documents of an action end; the other fields stay empty.
std::vector<std::u16string> EventLogExportFields(const EventLogRow& row)
{
    const EventInfoRow& info = row.info;
    std::vector<std::u16string> f(12);
    f[0] = plat::FormatWide(u"%04d-%02d-%02d %s:%s", info.Year, info.Month, info.Day, TimePart(info.Time, 0).c_str(),
                            TimePart(info.Time, 1).c_str());
    int kind = 0;
    GetEventKindText(info.Type, kind, f[1]);
    GetPlainEventText(info.Type, f[2]);
    f[3] = info.User;
    if (IsSearchEndType(info.Type)) {
        int64_t documents = 0;
        for (int32_t k : row.kinds)
            documents += k;
        f[4] = Number(documents);
        for (int k = 0; k < kPersonalInfoKindCount; ++k)
            f[5 + k] = Number(row.counts[k]);
    } else if (IsActionEndType(info.Type)) {
        f[4] = Number(row.fileCount);
    }
    return f;
}

}  // namespace

bool WriteEventLogExport(const std::u16string& path, const std::vector<int64_t>& eventIds, bool crlf)
{
    const std::string native = plat::PathToNative(path);
    std::FILE* file = std::fopen(native.c_str(), "wb");
    if (!file)
        return false;
    const char* const eol = crlf ? "\r\n" : "\n";
    std::string out = ToNarrow(JoinLine(EventLogExportHeader())) + eol;
    bool ok = true;
    auto flush = [&] {
        if (!out.empty() && std::fwrite(out.data(), 1, out.size(), file) != out.size())
            ok = false;
        out.clear();
    };
    try {
        for (size_t first = 0; first < eventIds.size() && ok; first += kEventLogBatch) {
            const size_t n = std::min(kEventLogBatch, eventIds.size() - first);
            for (const EventLogRow& row : LoadEventLogRows(eventIds.data() + first, n)) {
                out += ToNarrow(JoinLine(EventLogExportFields(row)));
                out += eol;
            }
            if (out.size() > (1u << 20))
                flush();
        }
    } catch (...) {
        // A file cut short by a failing store is not left behind.
        std::fclose(file);
        RemovePartialFile(native);
        throw;
    }
    flush();
    if (std::fclose(file) != 0)
        ok = false;
    if (!ok)
        RemovePartialFile(native);  // a disk that filled up leaves no half file
    return ok;
}

const char16_t kCannotCreateLogFile[] = u"기록 파일을 만들 수 없습니다.\n%s";
const char16_t kCannotReadLogStore[] = u"기록을 읽지 못했습니다. 잠시 후 다시 시도해 주세요.\n(%s)";
const char16_t kCannotDeleteLog[] = u"기록을 삭제하지 못했습니다. 잠시 후 다시 시도해 주세요.";
