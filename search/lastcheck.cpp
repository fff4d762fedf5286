#include "search/lastcheck.h"

#include "core/registry.h"

const char16_t kRunKey[] = u"SOFTWARE\\Norvane\\Privasweep";

void DeleteLastCheckFile()
{
    WriteRegistryString(HKEY_CURRENT_USER_ROOT, kRunKey, u"lastCheckFile", u"", true);
}

std::u16string ReadLastCheckFile() { return ReadRegistryString(kRunKey, u"lastCheckFile", u""); }

std::u16string FirstLastCheckFile(const std::u16string& value)
{
    size_t start = 0;
    while (start < value.size()) {
        size_t end = value.find(u'\n', start);
        if (end == std::u16string::npos) end = value.size();
        if (end > start) return value.substr(start, end - start);
        start = end + 1;
    }
    return std::u16string();
}
