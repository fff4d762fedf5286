// Entry points of the extraction library for Microsoft Office documents.
//
// (path, options text or null, output string) -> 0 text extracted, 1 not
// extracted, 2 no output string. The option "xml" (default false) chooses
// the OOXML manager when "true", the binary one otherwise. Every non-zero
// manager status becomes 1.
#pragma once

#include <string>

// Word documents (and RTF files carrying a Word name).
int ConvertWordToText(const char16_t* path, const char16_t* options, std::u16string* output);
int ConvertPowerPointToText(const char16_t* path, const char16_t* options, std::u16string* output);
int ConvertExcelToText(const char16_t* path, const char16_t* options, std::u16string* output);
