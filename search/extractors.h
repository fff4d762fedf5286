// Extractor dispatch by file extension: the extension decides the format,
// the format the reader.
#pragma once

#include <string>

#include "core/documentkinds.h"
#include "extract/readerror.h"
#include "platform/system.h"

// The extension decides the kind (its reader) and the format (for the
// Office readers which of their two managers, binary or OOXML), both from
// kDocumentKinds (core/documentkinds.h).

// The format of an upper-case extension (no dot).
DocumentFormat FormatOfExtension(const std::u16string& upperExtension);

// The reader entries take their choice as an option text: the one place
// that writes it ("xml:true", "xml:false"; none for HWP).
const char16_t* ReaderOptions(DocumentFormat format);

// An extraction entry (the contract of extract/extractlib.h): (path, options
// text or null, output text, failure or null) -> Read (text appended to the
// output), NotRead, Failed (*failure, when set, says why).
using ExtractEntry = EntryResult (*)(const char16_t* path, const char16_t* options,
                                     std::u16string* text, ReadError* failure);

// The entries the dispatch calls, one per DocumentReader of the kinds table
// (EntryOf in extractors.cpp maps them). A null entry gives no text
// (NotRead): the reader of that format is not part of the build.
struct ExtractorTable {
    ExtractEntry hwp = nullptr;         // "HWP"
    ExtractEntry word = nullptr;        // "DOC", "DOCX"
    ExtractEntry powerPoint = nullptr;  // "PPT", "PPTX"
    ExtractEntry excel = nullptr;       // "XLS", "XLSX"
    ExtractEntry pdf = nullptr;         // "PDF"
};

// The program's readers (see extractors.cpp).
ExtractorTable DefaultExtractorTable();

// True when the readers (by default the program's) have a reader for the
// upper-case extension.
bool HasExtractorFor(const ExtractorTable& readers, const std::u16string& upperExtension);
bool HasExtractorFor(const std::u16string& upperExtension);

// Extracts a document's text by its upper-case extension (no dot) with one
// of the readers. Returns the entry's result; Read with no text for an
// extension of none of the kinds; Failed when the entry failed on an
// exception (the search log names the failure). When the result is not
// Read, *reason (when given) says for the error-file list why the document
// was not read: the file could not be opened (and why), no reader, the
// reader's failure. A read stopped by the thread's ReadCancelScope ends
// NotRead. Throws nothing. A search passes its own readers (its scan
// context, search/scan.h); the forms without a table read with the
// program's.
EntryResult ExtractDocumentText(const ExtractorTable& readers, const std::u16string& path,
                                const std::u16string& upperExtension, std::u16string& text,
                                std::u16string* reason) noexcept;
EntryResult ExtractDocumentText(const std::u16string& path, const std::u16string& upperExtension,
                                std::u16string& text) noexcept;
EntryResult ExtractDocumentText(const std::u16string& path, const std::u16string& upperExtension,
                                std::u16string& text, std::u16string* reason) noexcept;

// The error-file list's text for a document that could not be opened.
std::u16string DocumentOpenFailureText(int docOpenError);
