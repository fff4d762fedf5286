#include "search/lastcheck.h"

#include "core/registry.h"
#include "platform/crashnote.h"
#include "platform/text.h"

const char16_t kRunKey[] = u"SOFTWARE\\Norvane\\Privasweep";

void DeleteLastCheckFile()
{
    WriteRegistryString(HKEY_CURRENT_USER_ROOT, kRunKey, u"lastCheckFile", u"", true);
    // No document in hand: no crash can name one.
    plat::ClearCrashNote();
}

std::u16string ReadLastCheckFile() { return ReadRegistryString(kRunKey, u"lastCheckFile", u""); }

std::vector<std::u16string> LastCheckFiles(const std::u16string& value)
{
    std::vector<std::u16string> paths;
    size_t start = 0;
    while (start < value.size()) {
        size_t end = value.find(u'\n', start);
        if (end == std::u16string::npos) end = value.size();
        if (end > start) paths.push_back(plat::UnescapeLine(std::u16string_view(value).substr(start, end - start)));
        start = end + 1;
    }
    return paths;
}

std::u16string FirstLastCheckFile(const std::u16string& value)
{
    std::vector<std::u16string> paths = LastCheckFiles(value);
    return paths.empty() ? std::u16string() : std::move(paths.front());
}
