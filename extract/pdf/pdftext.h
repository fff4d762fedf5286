// PDF text extraction over the C glue (extract/pdf/pdfglue.h).
#pragma once

#include "extract/pdf/pdfglue.h"

class CTextCollector;

// Reads a PDF file and hands its text to the callback, one line at a time.
// Returns 1 when the document was read (also when it held no text), 0 when
// it was not. stats may be null. An exception that the callback throws
// stops the delivery of text and is thrown again once MuPDF is done.
int ExtractPdfText(const char16_t* path, TextChunkCallback callback, void* user,
                   PdfExtractStats* stats = nullptr);

// The callback of the PDF manager: user is its CTextCollector; the chunk is
// appended to the collector's output as it stands.
void OnPdfTextChunk(void* user, const void* text, int length, int utf8);
