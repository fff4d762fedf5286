// Entry points of the text-extraction library.
//
// Every conversion entry takes (path, options text or null, output string,
// failure or null) and returns an EntryResult (extract/readerror.h): Read
// when the document was read to its end (its text, possibly empty, is in the
// output), NotRead when it was not, Failed when the output string is missing
// or an exception ended the reader; *failure then says which (left alone
// otherwise). No exception leaves an entry. Only the HWP entry passes a
// manager's status 2 (a library error ended the document) on as Failed; the
// others turn every non-zero manager status into NotRead. The Word,
// PowerPoint and Excel entries follow the same contract and live with the
// Office readers.
#pragma once

#include <string>

#include "extract/readerror.h"

// Bracket the library's life; both return 0. Each InitializeLibrary holds one
// use of the XML parser; surplus FinalizeLibrary calls do nothing.
int InitializeLibrary();
int FinalizeLibrary();

// The same two operations under the names the OOXML managers use while they
// live.
int AcquireXmlParser();
int ReleaseXmlParser();

// Current use count of the XML parser (for diagnostics and tests).
int GetLibraryUseCount();

// "xml:true" chooses the HWPML manager, anything else the binary HWP manager.
EntryResult ConvertHwpToText(const char16_t* path, const char16_t* options, std::u16string* output,
                             ReadError* failure = nullptr);
// The options text is not read.
EntryResult ConvertPdfToText(const char16_t* path, const char16_t* options, std::u16string* output,
                             ReadError* failure = nullptr);
