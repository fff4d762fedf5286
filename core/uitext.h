// User-interface texts by upper-case key. The texts are compiled in (table in
// resources/uitexts.inc); a process-wide language word picks one of four
// tables: 1 English, 2 Japanese, 3 Chinese, anything else Korean.
#pragma once

#include <cstddef>
#include <string>

// The text of a key in the current language; "" for an unknown key. Keys
// compare exactly (case-sensitive, whole text).
std::u16string GetText(const std::u16string& key);
std::u16string GetTextByLanguage(const std::u16string& key, int language);

// The language word (0 at start; the application sets 0, Korean).
void SetTextLanguage(int language);
int GetTextLanguage();

// The keys of the tables, in table order.
size_t TextKeyCount();
const char* TextKeyAt(size_t index);
