#include "core/uitext.h"

#include <atomic>
#include <cstring>

namespace {

struct TextEntry {
    const char* key;
    const char16_t* text;
};

// The Korean table; the other languages differ only in the product name.
constexpr TextEntry kTexts[] = {
#define UI_TEXT(key, text) {#key, text},
#include "resources/uitexts.inc"
#undef UI_TEXT
};

constexpr char16_t kProductNameEnglish[] = u"Privasweep English 2.0";
constexpr char16_t kProductNameJapanese[] = u"Privasweep Japan 2.0";
constexpr char16_t kProductNameChinese[] = u"Privasweep China 2.0";

std::atomic<int> g_textLanguage{0};

bool KeyEquals(const char* key, const std::u16string& wanted)
{
    size_t n = std::strlen(key);
    if (n != wanted.size()) return false;
    for (size_t i = 0; i < n; ++i)
        if (static_cast<char16_t>(static_cast<unsigned char>(key[i])) != wanted[i]) return false;
    return true;
}

}  // namespace

std::u16string GetTextByLanguage(const std::u16string& key, int language)
{
    for (const auto& e : kTexts) {
        if (!KeyEquals(e.key, key)) continue;
        if (std::strcmp(e.key, "PRODUCT_NAME") == 0) {
            switch (language) {
            case 1: return kProductNameEnglish;
            case 2: return kProductNameJapanese;
            case 3: return kProductNameChinese;
            default: break;
            }
        }
        return e.text;
    }
    return {};
}

std::u16string GetText(const std::u16string& key)
{
    return GetTextByLanguage(key, g_textLanguage.load(std::memory_order_relaxed));
}

void SetTextLanguage(int language) { g_textLanguage.store(language, std::memory_order_relaxed); }
int GetTextLanguage() { return g_textLanguage.load(std::memory_order_relaxed); }

size_t TextKeyCount() { return sizeof kTexts / sizeof kTexts[0]; }
const char* TextKeyAt(size_t index) { return index < TextKeyCount() ? kTexts[index].key : nullptr; }
