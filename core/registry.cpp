#include "core/registry.h"

#include <algorithm>
#include <cstdint>

#include "platform/keystore.h"

const char16_t kRunStateKey[] = u"Software\\Norvane\\Privasweep";

const std::u16string& SettingsKey()
{
    static const std::u16string key = u"Software\\Norvane\\Privasweep\\Config";
    return key;
}

namespace {

// The user's store. The document the analysis is reading (lastCheckFile) is
// written for every document; it is kept in a small file of its own, so
// that write costs the same whatever the settings hold, while every other
// value keeps its atomic replace of the settings file.
plat::KeyStore& Store()
{
    static plat::KeyStore& store = [] () -> plat::KeyStore& {
        plat::KeyStore& s = plat::KeyStore::User();
        s.KeepInPlace(kRunStateKey, u"lastCheckFile");
        return s;
    }();
    return store;
}

std::u16string Numbered(const char16_t* prefix, int n)
{
    std::u16string s = prefix;
    for (char c : std::to_string(n))
        s.push_back(static_cast<char16_t>(c));
    return s;
}

}  // namespace

std::u16string ReadRegistryString(const std::u16string& keyPath, const std::u16string& valueName,
                                  const std::u16string& defaultText)
{
    auto v = Store().Get(keyPath, valueName);
    if (!v)
        return defaultText;
    if (v->type == plat::KeyValue::Type::String) {
        // The text up to the first zero character.
        auto z = v->text.find(u'\0');
        return z == std::u16string::npos ? v->text : v->text.substr(0, z);
    }
    // A DWORD read as text: its four bytes as two UTF-16 units.
    std::u16string s{static_cast<char16_t>(v->dword & 0xFFFF), static_cast<char16_t>(v->dword >> 16)};
    auto z = s.find(u'\0');
    return z == std::u16string::npos ? s : s.substr(0, z);
}

uint32_t ReadRegistryDword(const std::u16string& keyPath, uint32_t defaultValue, const std::u16string& valueName)
{
    auto v = Store().Get(keyPath, valueName);
    if (!v)
        return defaultValue;
    if (v->type == plat::KeyValue::Type::Dword)
        return v->dword;
    // Text data: at most 4 bytes fit, i.e. up to two UTF-16 units.
    if (v->text.size() > 2)
        return defaultValue;
    uint32_t r = 0;
    if (!v->text.empty())
        r = v->text[0];
    if (v->text.size() == 2)
        r |= static_cast<uint32_t>(v->text[1]) << 16;
    return r;
}

int WriteRegistryString(RegistryRoot, const std::u16string& keyPath, const std::u16string& valueName,
                        const std::u16string& text, bool deleteValue)
{
    if (keyPath.empty())
        return 0;
    auto& store = Store();
    if (deleteValue) {
        store.DeleteValue(keyPath, valueName);
        return 0;
    }
    return store.SetString(keyPath, valueName, text) ? 1 : 0;
}

int WriteRegistryDword(RegistryRoot, const std::u16string& keyPath, const std::u16string& valueName, uint32_t value,
                       bool deleteValue)
{
    if (keyPath.empty())
        return 0;
    auto& store = Store();
    if (deleteValue) {
        store.DeleteValue(keyPath, valueName);
        return 0;
    }
    return store.SetDword(keyPath, valueName, value) ? 1 : 0;
}

namespace {

// A stored count is trusted only as far as it can be true: entries beyond
// the highest one present would all be empty, so a damaged count (up to
// 0x7FFFFFFF) cannot make a reader loop for hours or fill the memory.
constexpr int kMaxEmptyFolderEntries = 1024;

int UsableCount(uint32_t stored, int highestPresent)
{
    const int count = static_cast<int>(stored);  // 0xFFFFFFFF and the like read as "none"
    if (count <= 0)
        return 0;
    return std::min(count, std::max(highestPresent, kMaxEmptyFolderEntries));
}

// The highest n for which the settings key holds a value prefix + n.
int HighestNumbered(const std::vector<std::pair<std::u16string, plat::KeyValue>>& values, std::u16string_view prefix)
{
    int highest = 0;
    for (const auto& [name, value] : values) {
        if (name.size() <= prefix.size() || name.size() > prefix.size() + 10 ||
            !plat::EqualsNoCase(std::u16string_view(name).substr(0, prefix.size()), prefix))
            continue;
        int64_t n = 0;
        bool digits = true;
        for (size_t i = prefix.size(); i < name.size(); ++i) {
            if (name[i] < u'0' || name[i] > u'9') {
                digits = false;
                break;
            }
            n = n * 10 + (name[i] - u'0');
        }
        if (digits && n <= INT32_MAX)
            highest = std::max(highest, static_cast<int>(n));
    }
    return highest;
}

}  // namespace

void LoadSearchFolders(std::vector<std::u16string>& include, std::vector<std::u16string>& exclude)
{
    const auto values = Store().Values(SettingsKey());
    const int inCount = UsableCount(ReadRegistryDword(SettingsKey(), 0, u"IncludeFileCount"),
                                    HighestNumbered(values, u"Include_"));
    for (int i = 1; i <= inCount; ++i)
        include.push_back(ReadRegistryString(SettingsKey(), Numbered(u"Include_", i), u""));
    const int exCount = UsableCount(ReadRegistryDword(SettingsKey(), 0, u"ExcludeFileCount"),
                                    HighestNumbered(values, u"Exclude_"));
    for (int i = 1; i <= exCount; ++i)
        exclude.push_back(ReadRegistryString(SettingsKey(), Numbered(u"Exclude_", i), u""));
}

bool SaveSearchFolders(const std::vector<std::u16string>& include, const std::vector<std::u16string>& exclude)
{
    const auto root = HKEY_CURRENT_USER_ROOT;
    bool ok = WriteRegistryDword(root, SettingsKey(), u"IncludeFileCount", static_cast<uint32_t>(include.size()), false) == 1;
    ok = WriteRegistryDword(root, SettingsKey(), u"ExcludeFileCount", static_cast<uint32_t>(exclude.size()), false) == 1 && ok;
    for (size_t i = 0; ok && i < include.size(); ++i)
        ok = WriteRegistryString(root, SettingsKey(), Numbered(u"Include_", static_cast<int>(i + 1)), include[i], false) == 1;
    for (size_t i = 0; ok && i < exclude.size(); ++i)
        ok = WriteRegistryString(root, SettingsKey(), Numbered(u"Exclude_", static_cast<int>(i + 1)), exclude[i], false) == 1;
    return ok;
}

void DeleteSearchFolders()
{
    const auto root = HKEY_CURRENT_USER_ROOT;
    const auto values = Store().Values(SettingsKey());
    const int inCount = UsableCount(ReadRegistryDword(SettingsKey(), 0, u"IncludeFileCount"),
                                    HighestNumbered(values, u"Include_"));
    for (int i = 1; i <= inCount; ++i)
        WriteRegistryString(root, SettingsKey(), Numbered(u"Include_", i), u"", true);
    WriteRegistryDword(root, SettingsKey(), u"IncludeFileCount", 0, true);
    const int exCount = UsableCount(ReadRegistryDword(SettingsKey(), 0, u"ExcludeFileCount"),
                                    HighestNumbered(values, u"Exclude_"));
    for (int i = 1; i <= exCount; ++i)
        WriteRegistryString(root, SettingsKey(), Numbered(u"Exclude_", i), u"", true);
    WriteRegistryDword(root, SettingsKey(), u"ExcludeFileCount", 0, true);
}

std::u16string GetPersonalInfoSetting() { return ReadRegistryString(SettingsKey(), u"PersonalInfo", u""); }
std::u16string GetKindOfDocumentSetting() { return ReadRegistryString(SettingsKey(), u"KindOfDocument", u""); }
std::u16string GetCryptPassword() { return ReadRegistryString(SettingsKey(), u"CryptPassword", u""); }
uint32_t GetUsePassword() { return ReadRegistryDword(SettingsKey(), 0, u"UsePassword"); }
uint32_t GetUseCryptAlgorithm() { return ReadRegistryDword(SettingsKey(), 0, u"UseCryptAlgorithm"); }
uint32_t GetChangeLetter() { return ReadRegistryDword(SettingsKey(), 1, u"ChangeLetter"); }
uint32_t GetCryptAlgorithm() { return ReadRegistryDword(SettingsKey(), 2, u"CryptAlgorithm"); }

uint32_t GetLogSaveLimitDay()
{
    uint32_t days = ReadRegistryDword(SettingsKey(), 0xFFFFFFFFu, u"LogSaveLimitDay");
    if (days == 0xFFFFFFFFu) {
        days = 120;
        WriteRegistryDword(HKEY_CURRENT_USER_ROOT, SettingsKey(), u"LogSaveLimitDay", days, false);
    }
    return days;
}

void SetUsePassword(uint32_t n) { WriteRegistryDword(HKEY_CURRENT_USER_ROOT, SettingsKey(), u"UsePassword", n, false); }
void SetChangeLetter(uint32_t n) { WriteRegistryDword(HKEY_CURRENT_USER_ROOT, SettingsKey(), u"ChangeLetter", n, false); }
void SetUseCryptAlgorithm(uint32_t n)
{
    WriteRegistryDword(HKEY_CURRENT_USER_ROOT, SettingsKey(), u"UseCryptAlgorithm", n, false);
}
void DeleteUsePassword() { WriteRegistryDword(HKEY_CURRENT_USER_ROOT, SettingsKey(), u"UsePassword", 0, true); }
void DeleteCryptPassword() { WriteRegistryString(HKEY_CURRENT_USER_ROOT, SettingsKey(), u"CryptPassword", u"", true); }
