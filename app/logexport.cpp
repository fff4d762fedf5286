// The event-log export. For now it writes the header line only; the rows of
// the events come with the event-log windows.
#include "app/logexport.h"

#include <fcntl.h>
#include <unistd.h>

#include "core/uitext.h"
#include "core/util.h"
#include "platform/text.h"

bool WriteEventLogExport(const std::u16string& path, const std::vector<int64_t>& eventIds, bool crlf)
{
    (void)eventIds;
    static const char16_t* const kColumns[] = {
        u"EVENT_LOG_COLUMN_DATE",     u"EVENT_LOG_COLUMN_TYPE",    u"EVENT_LOG_COLUMN_CONTENT",
        u"EVENT_LOG_COLUMN_USER",     u"EVENT_LOG_COLUMN_DOCUMENT", u"EVENT_LOG_COLUMN_ID",
        u"EVENT_LOG_COLUMN_ACCOUNT",  u"EVENT_LOG_COLUMN_CREDIT_CARD", u"EVENT_LOG_COLUMN_PHONE",
        u"EVENT_LOG_COLUMN_ADDRESS",  u"EVENT_LOG_COLUMN_EMAIL",   u"EVENT_LOG_COLUMN_IPADDRESS",
    };
    std::u16string header;
    for (const char16_t* key : kColumns) {
        if (!header.empty()) header += u',';
        header += GetText(key);
    }
    std::string line = ToNarrow(header);
    line += crlf ? "\r\n" : "\n";
    const int fd = ::open(plat::PathToNative(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; done < line.size();) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    return ::close(fd) == 0 && ok;
}
