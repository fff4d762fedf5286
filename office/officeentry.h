// Entry points of the extraction library for Microsoft Office documents.
//
// The contract of extract/extractlib.h: (path, options text or null, output
// string, failure or null) -> Read, NotRead, or Failed (no output string, or
// an exception ended the reader: *failure says which). The option "xml"
// (default false) chooses the OOXML manager when "true", the binary one
// otherwise. Every non-zero manager status becomes NotRead.
#pragma once

#include <string>

#include "extract/readerror.h"

// Word documents (and RTF files carrying a Word name).
EntryResult ConvertWordToText(const char16_t* path, const char16_t* options, std::u16string* output,
                              ReadError* failure = nullptr);
EntryResult ConvertPowerPointToText(const char16_t* path, const char16_t* options, std::u16string* output,
                                    ReadError* failure = nullptr);
EntryResult ConvertExcelToText(const char16_t* path, const char16_t* options, std::u16string* output,
                               ReadError* failure = nullptr);
