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

/* What kept a document from being read to its end (PdfExtractStats.incomplete). */
#define PDF_INCOMPLETE_NOT_OPENED 0x01   /* not a PDF, damaged past opening, or a password */
#define PDF_INCOMPLETE_REPAIRED 0x02     /* the cross-reference table had to be rebuilt (a cut or damaged file) */
#define PDF_INCOMPLETE_NO_PAGE_TREE 0x04 /* the catalog names no page tree */
#define PDF_INCOMPLETE_PAGES 0x08        /* pages that could not be loaded or run, or none read */
#define PDF_INCOMPLETE_CONTENT 0x10      /* content with errors: what followed an error may be lost */
#define PDF_INCOMPLETE_CHANGED 0x20      /* the file changed while it was read */
#define PDF_INCOMPLETE_STOPPED 0x40      /* the read was asked to stop (the search's stop, the time budget) */
#define PDF_INCOMPLETE_LIMIT 0x80        /* the operations, nesting or memory budget was reached */
#define PDF_INCOMPLETE_DAMAGED 0x100     /* none of the above, but the document contradicts itself (stats.damage) */

/* What one extraction did. */
typedef struct PdfExtractStats {
    int pageCount;   /* pages the document has */
    int pagesRead;   /* pages loaded and run (their content may have had errors) */
    int pagesFailed; /* pages that could not be loaded or whose run was stopped by an error */
    int pagesWithErrors; /* pages read whose content had errors (the text before them is kept) */
    int incomplete;  /* PDF_INCOMPLETE_* bits; 0: read to the end */
    int limit;       /* the PsReadLimit reached (platform/docfile.h), 0 none */
    const char* damage; /* the first damage noted (a reason, also given to PsNoteDamage), or null */
} PdfExtractStats;

/* path: the file name as the file system spells it. Reads the document as
   far as it goes, within the calling thread's document budget
   (platform/docfile.h), and hands its text to the callback. Returns 1 when
   the document was read to its end (also when it holds no text or no
   pages), 0 otherwise: not opened, read in part, or damaged (the text
   handed on is what was read; stats->incomplete says why). Damage is also
   noted for the calling thread (PsNoteDamage) with its reason. stats may be
   null. */
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
