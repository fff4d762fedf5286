// Entry points of the text-extraction library.
//
// Every conversion entry takes (path, options text or null, output string)
// and returns 0 when the document was read to its end (its text, possibly
// empty, is in the output), 1 when it was not, 2 when the output string is
// missing. Only the HWP entry passes a manager's status 2 (a library error
// ended the document) on to its caller; the others turn every non-zero
// manager status into 1. The Word, PowerPoint and Excel entries follow the
// same contract and live with the Office readers.
#pragma once

#include <string>

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
int ConvertHwpToText(const char16_t* path, const char16_t* options, std::u16string* output);
// The options text is not read.
int ConvertPdfToText(const char16_t* path, const char16_t* options, std::u16string* output);
