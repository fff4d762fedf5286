#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>

#include "core/registry.h"
#include "platform/keystore.h"

using plat::KeyStore;
using plat::KeyValue;
using Strings = std::vector<std::u16string>;

namespace {

class Registry : public testing::Test {
protected:
    void SetUp() override { KeyStore::User().DeleteKey(u"Software"); }
    void TearDown() override { KeyStore::User().DeleteKey(u"Software"); }

    static std::optional<KeyValue> Setting(const std::u16string& name)
    {
        return KeyStore::User().Get(SettingsKey(), name);
    }
    static void PutDword(const std::u16string& name, uint32_t v)
    {
        ASSERT_EQ(WriteRegistryDword(HKEY_CURRENT_USER_ROOT, SettingsKey(), name, v, false), 1);
    }
    static void PutString(const std::u16string& name, const std::u16string& v)
    {
        ASSERT_EQ(WriteRegistryString(HKEY_CURRENT_USER_ROOT, SettingsKey(), name, v, false), 1);
    }
};

}  // namespace

TEST_F(Registry, FreshProfileDefaults)
{
    EXPECT_EQ(SettingsKey(), u"Software\\Norvane\\Privasweep\\Config");
    EXPECT_EQ(GetCryptAlgorithm(), 2u);
    EXPECT_EQ(GetChangeLetter(), 1u);
    EXPECT_EQ(GetUsePassword(), 0u);
    EXPECT_EQ(GetUseCryptAlgorithm(), 0u);
    EXPECT_EQ(GetPersonalInfoSetting(), u"");
    EXPECT_EQ(GetKindOfDocumentSetting(), u"");
    EXPECT_EQ(GetCryptPassword(), u"");
    Strings in, ex;
    LoadSearchFolders(in, ex);
    EXPECT_TRUE(in.empty());
    EXPECT_TRUE(ex.empty());
    // Reading the defaults wrote nothing.
    EXPECT_FALSE(KeyStore::User().KeyExists(SettingsKey()));

    // The log retention is written back when missing.
    EXPECT_EQ(GetLogSaveLimitDay(), 120u);
    auto v = Setting(u"LogSaveLimitDay");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->type, KeyValue::Type::Dword);
    EXPECT_EQ(v->dword, 120u);
    EXPECT_EQ(KeyStore::User().Values(SettingsKey()).size(), 1u);
}

TEST_F(Registry, LogSaveLimitDay)
{
    PutDword(u"LogSaveLimitDay", 30);
    EXPECT_EQ(GetLogSaveLimitDay(), 30u);
    PutDword(u"LogSaveLimitDay", 0xFFFFFFFFu);
    EXPECT_EQ(GetLogSaveLimitDay(), 120u);
    EXPECT_EQ(Setting(u"LogSaveLimitDay")->dword, 120u);
}

TEST_F(Registry, TypedSettersAndDeleters)
{
    SetUsePassword(1);
    SetChangeLetter(0);
    SetUseCryptAlgorithm(1);
    PutString(u"CryptPassword", u"0a1b");
    EXPECT_EQ(GetUsePassword(), 1u);
    EXPECT_EQ(GetChangeLetter(), 0u);
    EXPECT_EQ(GetUseCryptAlgorithm(), 1u);
    EXPECT_EQ(GetCryptPassword(), u"0a1b");
    DeleteUsePassword();
    DeleteCryptPassword();
    EXPECT_FALSE(Setting(u"UsePassword"));
    EXPECT_FALSE(Setting(u"CryptPassword"));
    EXPECT_EQ(GetUsePassword(), 0u);
    EXPECT_EQ(GetChangeLetter(), 0u);
}

TEST_F(Registry, SearchFolders)
{
    // A count with a missing entry: the entry reads as empty.
    PutDword(u"IncludeFileCount", 2);
    PutString(u"Include_1", u"/home/user/문서");
    Strings in{u"kept"}, ex;
    LoadSearchFolders(in, ex);
    EXPECT_EQ(in, (Strings{u"kept", u"/home/user/문서", u""}));
    EXPECT_TRUE(ex.empty());

    // Saving writes the counts and every entry, empty ones included.
    SaveSearchFolders({u"/a", u"", u"/c"}, {u"/a/tmp"});
    in.clear();
    LoadSearchFolders(in, ex);
    EXPECT_EQ(in, (Strings{u"/a", u"", u"/c"}));
    EXPECT_EQ(ex, (Strings{u"/a/tmp"}));
    EXPECT_EQ(Setting(u"IncludeFileCount")->dword, 3u);

    // An empty list writes a count of 0; stale entries beyond it stay but are not read.
    SaveSearchFolders({}, {u"/x"});
    EXPECT_EQ(Setting(u"IncludeFileCount")->dword, 0u);
    EXPECT_TRUE(Setting(u"Include_1"));
    in.clear();
    ex.clear();
    LoadSearchFolders(in, ex);
    EXPECT_TRUE(in.empty());
    EXPECT_EQ(ex, (Strings{u"/x"}));

    // Deleting goes by the counts.
    SaveSearchFolders({u"/a", u"/b"}, {u"/x"});
    DeleteSearchFolders();
    for (auto name : {u"IncludeFileCount", u"Include_1", u"Include_2", u"ExcludeFileCount", u"Exclude_1"})
        EXPECT_FALSE(Setting(name)) << plat::WideToUtf8(name);
    EXPECT_TRUE(Setting(u"Include_3"));  // beyond the count: left, as the count said nothing of it
}

TEST_F(Registry, DamagedFolderCountsAreHarmless)
{
    PutDword(u"IncludeFileCount", 0xFFFFFFFFu);  // negative: nothing
    PutDword(u"ExcludeFileCount", 0x7FFFFFFFu);  // huge: bounded by what can be there
    PutString(u"Exclude_1", u"/x");
    const auto start = std::chrono::steady_clock::now();
    Strings in, ex;
    LoadSearchFolders(in, ex);
    DeleteSearchFolders();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_TRUE(in.empty());
    ASSERT_FALSE(ex.empty());
    EXPECT_EQ(ex[0], u"/x");
    EXPECT_LE(ex.size(), 1024u);
    EXPECT_FALSE(Setting(u"Exclude_1"));
}

TEST_F(Registry, GenericReadersAndWriters)
{
    const std::u16string key = u"Software\\Norvane\\Privasweep";
    // Empty key path: refused.
    EXPECT_EQ(WriteRegistryString(HKEY_CURRENT_USER_ROOT, u"", u"x", u"y", false), 0);
    EXPECT_EQ(WriteRegistryDword(HKEY_CURRENT_USER_ROOT, u"", u"x", 1, false), 0);
    // The unnamed default value.
    EXPECT_EQ(WriteRegistryString(HKEY_CURRENT_USER_ROOT, key, u"", u"default", false), 1);
    EXPECT_EQ(ReadRegistryString(key, u"", u"none"), u"default");
    // Both spellings of the run-state key are one key.
    EXPECT_EQ(WriteRegistryDword(HKEY_CURRENT_USER_ROOT, u"SOFTWARE\\Norvane\\Privasweep", u"LogStream", 1, false), 1);
    EXPECT_EQ(ReadRegistryDword(kRunStateKey, 0, u"logstream"), 1u);
    // Deleting answers 0 whatever happened.
    EXPECT_EQ(WriteRegistryDword(HKEY_CURRENT_USER_ROOT, key, u"LogStream", 0, true), 0);
    EXPECT_EQ(ReadRegistryDword(kRunStateKey, 7, u"LogStream"), 7u);
    EXPECT_EQ(WriteRegistryString(HKEY_CURRENT_USER_ROOT, key, u"missing", u"", true), 0);

    // A text longer than 520 bytes is read whole; text after a zero is not.
    const std::u16string longText(700, u'가');
    EXPECT_EQ(WriteRegistryString(HKEY_CURRENT_USER_ROOT, key, u"Long", longText, false), 1);
    EXPECT_EQ(ReadRegistryString(key, u"Long", u""), longText);
    EXPECT_EQ(WriteRegistryString(HKEY_CURRENT_USER_ROOT, key, u"Zero", std::u16string(u"ab\0cd", 5), false), 1);
    EXPECT_EQ(ReadRegistryString(key, u"Zero", u""), u"ab");
    EXPECT_EQ(ReadRegistryString(key, u"Missing", u"fallback"), u"fallback");
    EXPECT_EQ(ReadRegistryString(u"Software\\Nowhere", u"x", u"fallback"), u"fallback");

    // Types are not checked: a text of at most 4 bytes reads as a number,
    // a longer one gives the default; a number reads as its bytes.
    struct Case { std::u16string text; uint32_t want; };
    const Case cases[] = {{u"AB", 0x00420041u}, {u"A", 0x41u}, {u"", 0u}, {u"ABC", 99u}};
    for (const auto& c : cases) {
        WriteRegistryString(HKEY_CURRENT_USER_ROOT, key, u"T", c.text, false);
        EXPECT_EQ(ReadRegistryDword(key, 99, u"T"), c.want) << plat::WideToUtf8(c.text);
    }
    WriteRegistryDword(HKEY_CURRENT_USER_ROOT, key, u"D", 0x00420041u, false);
    EXPECT_EQ(ReadRegistryString(key, u"D", u""), u"AB");
    WriteRegistryDword(HKEY_CURRENT_USER_ROOT, key, u"D", 0x41u, false);
    EXPECT_EQ(ReadRegistryString(key, u"D", u""), u"A");
}

TEST_F(Registry, DocumentMarkIsWrittenWithoutReplacingTheSettingsFile)
{
    // The mark is written once per document: it must not rewrite the whole
    // settings file, however much that file holds.
    for (int i = 1; i <= 50; ++i)
        PutString(u"Filler_" + plat::AsciiToWide(std::to_string(i)), std::u16string(200, u'가'));
    const std::string file = KeyStore::User().FilePath();
    struct stat before;
    ASSERT_EQ(0, stat(file.c_str(), &before));
    for (const std::u16string path : {u"/home/u/문서/a.hwp", u"/b.pdf", u"/home/u/c.docx"}) {
        ASSERT_EQ(WriteRegistryString(HKEY_CURRENT_USER_ROOT, u"SOFTWARE\\Norvane\\Privasweep", u"lastCheckFile",
                                      path, false), 1);
        EXPECT_EQ(ReadRegistryString(kRunStateKey, u"lastCheckFile", u""), path);
    }
    struct stat after;
    ASSERT_EQ(0, stat(file.c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_size, after.st_size);
    // Deleting it works as for any other value.
    WriteRegistryString(HKEY_CURRENT_USER_ROOT, kRunStateKey, u"lastCheckFile", u"", true);
    EXPECT_EQ(ReadRegistryString(kRunStateKey, u"lastCheckFile", u"none"), u"none");
    // Other settings still replace the file atomically.
    PutString(u"Filler_1", u"changed");
    struct stat replaced;
    ASSERT_EQ(0, stat(file.c_str(), &replaced));
    EXPECT_NE(before.st_ino, replaced.st_ino);
}
