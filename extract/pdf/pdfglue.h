/* The glue between the PDF manager and MuPDF, in C because MuPDF's error
   frames jump over the stack (setjmp/longjmp). A callback receives the text:
   one chunk per line (the line's characters in UTF-16 with a line feed), and
   one more line feed at the end of every page. */
#ifndef PRIVASWEEP_EXTRACT_PDF_PDFGLUE_H
#define PRIVASWEEP_EXTRACT_PDF_PDFGLUE_H

#ifdef __cplusplus
extern "C" {
#endif

/* text: length UTF-16 units, or length UTF-8 bytes when utf8 is non-zero
   (the glue itself always passes UTF-16). The callback must not throw. */
typedef void (*TextChunkCallback)(void* user, const void* text, int length, int utf8);

/* What one extraction did. */
typedef struct PdfExtractStats {
    int pageCount;   /* pages the document has */
    int pagesRead;   /* pages loaded and run (their content may have had errors) */
    int pagesFailed; /* pages that could not be loaded or whose run was stopped by an error */
    int pagesWithErrors; /* pages read whose content had errors (the text before them is kept) */
} PdfExtractStats;

/* path: the file name as the file system spells it. Returns 1 when the
   document was read (also when it holds no text or no pages), 0 when it
   could not be opened as a PDF, needs a password, or none of its pages could
   be read. stats
   may be null. */
int PdfExtractTextNative(const char* path, TextChunkCallback callback, void* user,
                         PdfExtractStats* stats);

/* Page count of a PDF file, -1 when it cannot be opened. */
int PdfCountPagesNative(const char* path);

/* Reads the next piece of a page range text ("1-", "3-1", "-2", "4", pieces
   separated by ","), for a document of pageCount pages: first and last page,
   both from 1 and clamped to 1..pageCount (at least 1). Advances *cursor.
   Returns 0 when no piece is left. */
int PdfNextPageRange(const char** cursor, int pageCount, int* first, int* last);

#ifdef __cplusplus
}
#endif

#endif
