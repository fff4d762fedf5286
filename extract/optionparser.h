// Reader of an entry's options text: pairs of a key and a value joined by ":"
// and separated by ";", for instance "xml:true". Only the first 259
// characters of the text are looked at.
#pragma once

#include <string>

class COptionParser {
public:
    // The text is borrowed; null reads as an empty text.
    explicit COptionParser(const char16_t* options) : m_pszOptions(options ? options : u"") {}

    // 1 when a token begins with the key (the value after its ":", possibly
    // empty, is stored in value), else 0. The first such token counts.
    int GetValue(const char16_t* key, std::u16string& value) const;
    // The default when the key is absent; 1 when its value is empty or
    // equals "true" in any letter case; else 0.
    int GetBool(const char16_t* key, int defaultValue) const;

    static constexpr size_t kMaxOptionsLength = 259;

private:
    const char16_t* m_pszOptions;
};
