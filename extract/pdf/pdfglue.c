/* PDF text through MuPDF: open the document, run every page through the
   structured-text device and hand the text, line by line, to a callback. */
#include "extract/pdf/pdfglue.h"
#include "extract/parsermessages.h"

#include <limits.h>
#include <stdint.h>
#include <stdlib.h>

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

/* Store limit of one extraction's context. */
#define PDF_STORE_LIMIT (256u << 20)

/* Text waiting to be handed on: a fixed chunk, flushed when full, at the end
   of every line and at the end of every page. */
#define EMIT_CHUNK 1024

typedef struct Emitter {
    TextChunkCallback callback;
    void* user;
    int length;
    uint16_t units[EMIT_CHUNK];
} Emitter;

enum { PAGE_READ = 0, PAGE_PARTIAL = 1, PAGE_FAILED = 2, PAGE_NOT_LOADED = 3 };

/* A page tree can claim more pages than the file holds: after this many pages
   in a row that cannot be loaded, the rest of the range is given up. */
#define MAX_UNLOADABLE_IN_A_ROW 1000

/* MuPDF's warnings and errors go to the trace log. */
static void Quiet(void* user, const char* message)
{
    (void)user;
    TraceParserMessage("pdf", message);
}

static void Flush(Emitter* e)
{
    if (e->length > 0 && e->callback)
        e->callback(e->user, e->units, e->length, 0);
    e->length = 0;
}

static void PutUnit(Emitter* e, uint16_t unit)
{
    if (e->length == EMIT_CHUNK)
        Flush(e);
    e->units[e->length++] = unit;
}

/* One character: code points beyond U+FFFF become a surrogate pair; values
   that are no character become U+FFFD; zero is no text. */
static void PutChar(Emitter* e, int c)
{
    if (c <= 0)
        return;
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        PutUnit(e, 0xFFFD);
    } else if (c > 0xFFFF) {
        c -= 0x10000;
        if (e->length >= EMIT_CHUNK - 1)
            Flush(e); /* keep the pair in one chunk */
        PutUnit(e, (uint16_t)(0xD800 + (c >> 10)));
        PutUnit(e, (uint16_t)(0xDC00 + (c & 0x3FF)));
    } else {
        PutUnit(e, (uint16_t)c);
    }
}

/* Every character of every line, a line feed after each line. */
static void EmitTextPage(Emitter* e, fz_stext_page* text)
{
    fz_stext_block* block;
    for (block = text->first_block; block; block = block->next) {
        fz_stext_line* line;
        if (block->type != FZ_STEXT_BLOCK_TEXT)
            continue;
        for (line = block->u.t.first_line; line; line = line->next) {
            fz_stext_char* ch;
            for (ch = line->first_char; ch; ch = ch->next)
                PutChar(e, ch->c);
            PutUnit(e, '\n');
            Flush(e);
        }
    }
}

/* The page's content through MuPDF's own interpreter, with the operators
   that only paint pictures left out: image XObjects and shadings painted by
   "sh" are never loaded or decoded, since no text can come of them. (A
   shading used as a fill colour is still loaded: the interpreter refuses the
   content stream when its colour operators are missing.) Annotations and form
   fields follow as fz_run_page runs them. */
static void RunPageForText(fz_context* ctx, fz_document* doc, fz_page* page, fz_device* dev,
                           fz_cookie* cookie)
{
    pdf_page* ppage = pdf_page_from_fz_page(ctx, page);
    pdf_processor* proc = NULL;
    fz_rect mediabox;
    fz_matrix ctm;

    if (!ppage) {
        fz_run_page(ctx, page, dev, fz_identity, cookie);
        return;
    }
    fz_var(proc);
    pdf_page_transform(ctx, ppage, &mediabox, &ctm);
    fz_try(ctx) {
        proc = pdf_new_run_processor(ctx, dev, ctm, "View", NULL, NULL, cookie);
        proc->op_Do_image = NULL;
        proc->op_sh = NULL;
        pdf_process_contents(ctx, proc, pdf_document_from_fz_document(ctx, doc),
                             pdf_page_resources(ctx, ppage), pdf_page_contents(ctx, ppage), cookie);
        pdf_close_processor(ctx, proc);
    }
    fz_always(ctx)
        pdf_drop_processor(ctx, proc);
    fz_catch(ctx)
        fz_rethrow(ctx);
    fz_run_page_annots(ctx, page, dev, fz_identity, cookie);
    fz_run_page_widgets(ctx, page, dev, fz_identity, cookie);
}

static int ExtractPdfPage(fz_context* ctx, fz_document* doc, int number, Emitter* e)
{
    fz_page* page = NULL;
    fz_stext_page* text = NULL;
    fz_device* dev = NULL;
    fz_cookie cookie = {0};
    fz_stext_options options = {0};
    int result = PAGE_READ;

    fz_var(page);
    fz_var(text);
    fz_var(dev);
    fz_var(result);

    fz_try(ctx)
        page = fz_load_page(ctx, doc, number - 1);
    fz_catch(ctx)
        page = NULL;
    if (!page) {
        fz_flush_warnings(ctx);
        return PAGE_NOT_LOADED;
    }

    fz_try(ctx) {
        text = fz_new_stext_page(ctx, fz_bound_page(ctx, page));
        dev = fz_new_stext_device(ctx, text, &options);
        fz_try(ctx) {
            RunPageForText(ctx, doc, page, dev, &cookie);
            fz_close_device(ctx, dev);
        }
        fz_catch(ctx)
            result = PAGE_FAILED; /* what was gathered before the error still counts as text */
        EmitTextPage(e, text);
        PutUnit(e, '\n');
        Flush(e);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        fz_drop_stext_page(ctx, text);
    }
    fz_catch(ctx)
        result = PAGE_FAILED;

    fz_drop_page(ctx, page);
    fz_flush_warnings(ctx);
    if (result == PAGE_READ && cookie.errors > 0)
        result = PAGE_PARTIAL;
    return result;
}

static fz_context* NewContext(void)
{
    fz_context* ctx = fz_new_context(NULL, NULL, PDF_STORE_LIMIT);
    if (!ctx)
        return NULL;
    fz_set_error_callback(ctx, Quiet, NULL);
    fz_set_warning_callback(ctx, Quiet, NULL);
    fz_set_aa_level(ctx, 8);
    /* Colours do not matter for text: no colour management. */
    fz_disable_icc(ctx);
    return ctx;
}

/* Opens a PDF document from its file (the cross-reference table, repaired by
   MuPDF when damaged). Null on any failure. */
static fz_document* OpenPdfDocument(fz_context* ctx, const char* path)
{
    fz_stream* stream = NULL;
    pdf_document* doc = NULL;

    fz_var(stream);
    fz_var(doc);

    fz_try(ctx) {
        stream = fz_open_file(ctx, path);
        doc = pdf_open_document_with_stream(ctx, stream);
    }
    fz_always(ctx)
        fz_drop_stream(ctx, stream);
    fz_catch(ctx) {
        pdf_drop_document(ctx, doc);
        doc = NULL;
    }
    return doc ? &doc->super : NULL;
}

/* 1 with the page count when the document opens without a password (a
   document that the empty password does not open cannot be read), else 0. */
static int CountReadablePages(fz_context* ctx, fz_document* doc, int* pageCount)
{
    int ok = 0;
    fz_var(ok);
    fz_try(ctx) {
        if (!fz_needs_password(ctx, doc)) {
            /* Every page is an object of its own: a count beyond the
               objects of the file is a lie of the page tree. */
            int objects = pdf_xref_len(ctx, pdf_document_from_fz_document(ctx, doc));
            *pageCount = fz_count_pages(ctx, doc);
            if (*pageCount > objects)
                *pageCount = objects;
            ok = 1;
        }
    }
    fz_catch(ctx)
        ok = 0;
    return ok;
}

static int IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

/* The decimal number at the start of s (0 when none), saturated. */
static int ReadNumber(const char* s, const char* end)
{
    long value = 0;
    while (s < end && IsDigit(*s)) {
        value = value * 10 + (*s - '0');
        if (value > INT_MAX)
            value = INT_MAX;
        ++s;
    }
    return (int)value;
}

static int ClampPage(int value, int pageCount)
{
    if (value < 2)
        return 1;
    if (value >= pageCount)
        return pageCount < 1 ? 1 : pageCount;
    return value;
}

int PdfNextPageRange(const char** cursor, int pageCount, int* first, int* last)
{
    const char* s;
    const char* end;
    const char* dash;

    if (!cursor || !*cursor)
        return 0;
    s = *cursor;
    for (;;) {
        end = s;
        while (*end && *end != ',')
            ++end;
        if (end > s)
            break;
        if (!*end) {
            *cursor = end;
            return 0;
        }
        s = end + 1; /* an empty piece */
    }
    *cursor = *end ? end + 1 : end;

    for (dash = s; dash < end && *dash != '-'; ++dash)
        ;
    *first = (*s == '-') ? pageCount : ReadNumber(s, end);
    if (dash < end)
        *last = (dash + 1 == end) ? pageCount : ReadNumber(dash + 1, end);
    else
        *last = *first;
    *first = ClampPage(*first, pageCount);
    *last = ClampPage(*last, pageCount);
    return 1;
}

/* Runs the pages of a range text through ExtractPdfPage; a page that fails
   is passed over and the range goes on. */
static void ExtractPdfPageRange(fz_context* ctx, fz_document* doc, int pageCount,
                                const char* range, Emitter* e, PdfExtractStats* stats)
{
    int first, last;
    int unloadable = 0;
    while (PdfNextPageRange(&range, pageCount, &first, &last)) {
        int step = first <= last ? 1 : -1;
        int page;
        for (page = first;; page += step) {
            int result = ExtractPdfPage(ctx, doc, page, e);
            if (result == PAGE_PARTIAL)
                ++stats->pagesWithErrors;
            if (result == PAGE_READ || result == PAGE_PARTIAL)
                ++stats->pagesRead;
            else
                ++stats->pagesFailed;
            unloadable = result == PAGE_NOT_LOADED ? unloadable + 1 : 0;
            if (page == last || unloadable >= MAX_UNLOADABLE_IN_A_ROW)
                break;
        }
        if (unloadable >= MAX_UNLOADABLE_IN_A_ROW)
            break;
    }
}

int PdfExtractTextNative(const char* path, TextChunkCallback callback, void* user,
                         PdfExtractStats* stats)
{
    PdfExtractStats local = {0, 0, 0, 0};
    fz_context* ctx;
    fz_document* doc;
    Emitter* e;
    int pageCount = 0;
    int ok = 0;

    if (!stats)
        stats = &local;
    stats->pageCount = stats->pagesRead = stats->pagesFailed = stats->pagesWithErrors = 0;
    if (!path)
        return 0;
    e = (Emitter*)malloc(sizeof(Emitter));
    if (!e)
        return 0;
    e->callback = callback;
    e->user = user;
    e->length = 0;

    ctx = NewContext();
    if (!ctx) {
        free(e);
        return 0;
    }
    doc = OpenPdfDocument(ctx, path);
    if (doc) {
        ok = CountReadablePages(ctx, doc, &pageCount);
        /* A document without pages is read, and empty. Otherwise it is read
           when at least one page was; a page that fails in the middle does
           not hide the pages after it. */
        if (ok && pageCount > 0) {
            stats->pageCount = pageCount;
            ExtractPdfPageRange(ctx, doc, pageCount, "1-", e, stats);
            ok = stats->pagesRead > 0;
        }
        fz_drop_document(ctx, doc);
    }
    fz_drop_context(ctx);
    free(e);
    return ok;
}

int PdfCountPagesNative(const char* path)
{
    fz_context* ctx;
    fz_document* doc;
    int count = -1;

    if (!path)
        return -1;
    ctx = NewContext();
    if (!ctx)
        return -1;
    doc = OpenPdfDocument(ctx, path);
    if (doc) {
        fz_var(count);
        fz_try(ctx)
            count = fz_count_pages(ctx, doc);
        fz_catch(ctx)
            count = -1;
        fz_drop_document(ctx, doc);
    }
    fz_drop_context(ctx);
    return count;
}
