#include "platform/pending.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cerrno>
#include <string>
#include <unistd.h>

namespace plat {

const char16_t kPendingDeleteKey[] = u"Software\\Norvane\\Privasweep\\PendingDelete";

namespace {

WString EntryName(unsigned n)
{
    return AsciiToWide("File_" + std::to_string(n));
}

}  // namespace

bool DeleteAtNextStart(WStringView path, KeyStore& store)
{
    if (path.empty())
        return false;
    // The next free number: one above the highest in use.
    unsigned next = 1;
    for (const auto& [name, value] : store.Values(kPendingDeleteKey)) {
        if (value.type == KeyValue::Type::String && value.text == path)
            return true;  // already listed
        const std::string n = WideToUtf8(name);
        if (n.size() > 5 && EqualsNoCase(name.substr(0, 5), u"File_")) {
            // A name without a number, or with one too large, takes no number.
            unsigned used = 0;
            const auto [end, ec] = std::from_chars(n.data() + 5, n.data() + n.size(), used);
            (void)end;
            if (ec == std::errc() && used < UINT_MAX)
                next = std::max(next, used + 1);
        }
    }
    return store.SetString(kPendingDeleteKey, EntryName(next), path);
}

int PurgePendingDeletions(KeyStore& store)
{
    int removed = 0;
    for (const auto& [name, value] : store.Values(kPendingDeleteKey)) {
        if (value.type == KeyValue::Type::String && !value.text.empty()) {
            const std::string native = PathToNative(value.text);
            if (::unlink(native.c_str()) == 0 || errno == ENOENT)
                ++removed;
            else if (errno == EISDIR || errno == EPERM) {
                if (::rmdir(native.c_str()) == 0 || errno == ENOENT)
                    ++removed;
            }
        }
        store.DeleteValue(kPendingDeleteKey, name);
    }
    return removed;
}

}  // namespace plat
