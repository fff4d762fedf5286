/* PDF text through MuPDF: open the document, run every page through the
   structured-text device and hand the text, line by line, to a callback. */
#include "extract/pdf/pdfglue.h"
#include "extract/parsermessages.h"
#include "platform/docfile.h"

#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

/* Store limit of one extraction's context (at most a third of its memory
   budget). */
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

/* ---------------------------------------------------------------------------
   The work of one extraction: the document's budget (platform/docfile.h), what
   it has used, and what stopped it. An extraction runs on one thread; the
   operator wrappers below find it through a thread-local pointer. */

typedef struct PdfWork {
    PsDocumentBudget budget;
    unsigned long long operations; /* content operators run */
    unsigned int depth;            /* forms being run inside each other */
    size_t live;                   /* bytes the context's allocator holds */
    PsMemoryAccount* account;      /* the document's memory (null: read outside a search) */
    unsigned int allocations;      /* for a look at the clock now and then */
    int limit;                     /* PsReadLimit reached (kReadLimitNone: none) */
    int stopped;                   /* the read was asked to stop (search stop or time) */
    int flushed;                   /* the text under way was handed on at the end */
    int pageRefLeaks;              /* a page loaded holds one reference too many (LookupKeepsPage) */
    int glyphBoxes;                /* the page's text needs glyph bounds (GlyphBoxesNeeded) */
    int boxlessCount;              /* fonts in boxless */
    fz_font* boxless[64];          /* fonts whose glyph bounds are off for the page being run */
    fz_cookie* cookie;             /* of the page being run, or null */
    pdf_processor original;        /* the run processor's operators before wrapping */
    const char* damage;            /* the first damage noted (a reason), or null */
    pdf_document* pdoc;            /* the document being read, or null */
    struct DocStream* file;        /* its bytes, or null */
    pdf_font_desc* fallbackFont;   /* the font MuPDF puts in for one it cannot load (kept) */
    int fallbackTried;             /* fallbackFont was asked for */
    unsigned char* checked;        /* objects whose references were checked, by number */
    int checkedLength;
} PdfWork;

static _Thread_local PdfWork* t_work;

static void ReachLimit(PdfWork* w, int limit)
{
    if (!w->limit) {
        w->limit = limit;
        PsNoteReadLimit(limit);
    }
    if (w->cookie)
        w->cookie->abort = 1;
}

/* Non-zero when the extraction is to end: stopped, or a limit reached. A
   page being run is aborted through its cookie. */
static int WorkEnds(PdfWork* w)
{
    if (!w)
        return 0;
    if (!w->stopped && PsReadCancelled())
        w->stopped = 1;
    if ((w->stopped || w->limit) && w->cookie)
        w->cookie->abort = 1;
    return w->stopped || w->limit;
}

/* The context's allocator: every block carries its size in front, so that
   the bytes held are known and held to the memory budget, and taken from
   the document's memory account (the search's ceiling) before they are
   allocated. A refused block is what MuPDF meets when memory runs out: it
   empties its store, tries again, and fails what it was doing. */
#define BLOCK_HEADER 16 /* keeps the blocks aligned as malloc's */

static int TakeMemory(PdfWork* w, size_t size)
{
    const int taken = PsTakeMemory(w->account, size);
    if (taken == 0)
        ReachLimit(w, kReadLimitMemory);
    else if (taken < 0)
        WorkEnds(w);
    return taken > 0;
}

static void* WorkMalloc(void* user, size_t size)
{
    PdfWork* w = (PdfWork*)user;
    unsigned char* block;
    if (size > SIZE_MAX - BLOCK_HEADER)
        return NULL;
    if (w->budget.memory && (w->live > w->budget.memory || size > w->budget.memory - w->live)) {
        ReachLimit(w, kReadLimitMemory);
        return NULL;
    }
    if (!TakeMemory(w, size))
        return NULL;
    block = (unsigned char*)malloc(size + BLOCK_HEADER);
    if (!block) {
        PsGiveMemory(w->account, size);
        return NULL;
    }
    memcpy(block, &size, sizeof size);
    w->live += size;
    /* The clock is also asked here: MuPDF allocates in all its long loops. */
    if ((++w->allocations & 1023) == 0)
        WorkEnds(w);
    return block + BLOCK_HEADER;
}

static void WorkFree(void* user, void* ptr)
{
    PdfWork* w = (PdfWork*)user;
    unsigned char* block;
    size_t size;
    if (!ptr)
        return;
    block = (unsigned char*)ptr - BLOCK_HEADER;
    memcpy(&size, block, sizeof size);
    w->live -= size;
    free(block);
    PsGiveMemory(w->account, size);
}

static void* WorkRealloc(void* user, void* ptr, size_t size)
{
    PdfWork* w = (PdfWork*)user;
    unsigned char* block;
    unsigned char* grown;
    size_t old;
    if (!ptr)
        return WorkMalloc(user, size);
    if (size == 0) {
        WorkFree(user, ptr);
        return NULL;
    }
    if (size > SIZE_MAX - BLOCK_HEADER)
        return NULL;
    block = (unsigned char*)ptr - BLOCK_HEADER;
    memcpy(&old, block, sizeof old);
    if (size > old && w->budget.memory &&
        (w->live > w->budget.memory || size - old > w->budget.memory - w->live)) {
        ReachLimit(w, kReadLimitMemory);
        return NULL;
    }
    if (size > old && !TakeMemory(w, size - old))
        return NULL;
    grown = (unsigned char*)realloc(block, size + BLOCK_HEADER);
    if (!grown) {
        if (size > old)
            PsGiveMemory(w->account, size - old);
        return NULL;
    }
    memcpy(grown, &size, sizeof size);
    w->live = w->live - old + size;
    if (size < old)
        PsGiveMemory(w->account, old - size);
    return grown + BLOCK_HEADER;
}

/* ---------------------------------------------------------------------------
   The document's bytes. A regular file opened without blocking; one of a
   sane size is read whole into memory once (MuPDF seeks and reads small
   pieces all over the file: from memory that costs nothing), a larger one is
   read in windows that a seek inside the window keeps. Every window handed
   to MuPDF first asks whether the extraction is to end. */

#define WINDOW (64 * 1024)
#define WHOLE_FILE_MAX ((int64_t)128 << 20)
#define READ_PIECE (1 << 20)

typedef struct DocStream {
    PdfWork* work;
    int fd;
    struct stat opened;  /* the file when it was opened */
    int changed;         /* the file changed while it was read */
    unsigned char* data; /* the whole file, or null: read in windows */
    int64_t size;        /* bytes in data, or the file's size when opened */
    int64_t window_at;   /* file offset of buffer[0] */
    size_t window_length;
    unsigned char* buffer; /* WINDOW bytes (windowed reading) */
} DocStream;

static int SameFile(const struct stat* a, const struct stat* b)
{
    return a->st_dev == b->st_dev && a->st_ino == b->st_ino && a->st_size == b->st_size &&
           a->st_mtim.tv_sec == b->st_mtim.tv_sec && a->st_mtim.tv_nsec == b->st_mtim.tv_nsec &&
           a->st_ctim.tv_sec == b->st_ctim.tv_sec && a->st_ctim.tv_nsec == b->st_ctim.tv_nsec;
}

/* Notes a file that is no longer the one opened; 1 when it changed. */
static int CheckUnchanged(DocStream* d)
{
    struct stat now;
    if (!d->changed && (fstat(d->fd, &now) != 0 || !SameFile(&now, &d->opened)))
        d->changed = 1;
    return d->changed;
}

static int NextMemoryWindow(fz_context* ctx, fz_stream* stm, size_t max)
{
    DocStream* d = (DocStream*)stm->state;
    int64_t at = stm->pos;
    int64_t n;
    (void)max;
    if (WorkEnds(d->work))
        fz_throw(ctx, FZ_ERROR_ABORT, "read stopped");
    if (at < 0 || at >= d->size)
        return EOF; /* the file's end: MuPDF reads up to it to find it */
    n = d->size - at;
    if (n > WINDOW)
        n = WINDOW;
    stm->rp = d->data + at;
    stm->wp = stm->rp + n;
    stm->pos += n;
    return *stm->rp++;
}

static int NextFileWindow(fz_context* ctx, fz_stream* stm, size_t max)
{
    DocStream* d = (DocStream*)stm->state;
    ssize_t n;
    (void)max;
    if (WorkEnds(d->work))
        fz_throw(ctx, FZ_ERROR_ABORT, "read stopped");
    do
        n = pread(d->fd, d->buffer, WINDOW, (off_t)stm->pos);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        fz_throw(ctx, FZ_ERROR_GENERIC, "read error");
    d->window_at = stm->pos;
    d->window_length = (size_t)n;
    stm->rp = d->buffer;
    stm->wp = d->buffer + n;
    stm->pos += (int64_t)n;
    if (n == 0)
        return EOF; /* the file's end (a file that shrank shows as changed) */
    return *stm->rp++;
}

/* fz_seek hands over a position from the start (whence 0) or the end (2). */
static int64_t SeekTarget(fz_context* ctx, DocStream* d, int64_t offset, int whence)
{
    int64_t target = whence == SEEK_END ? d->size + offset : offset;
    if (whence != SEEK_SET && whence != SEEK_END)
        fz_throw(ctx, FZ_ERROR_GENERIC, "cannot seek");
    if (target < 0)
        target = 0; /* a seek back from the end of a file shorter than the piece MuPDF looks at */
    return target;
}

static void SeekMemory(fz_context* ctx, fz_stream* stm, int64_t offset, int whence)
{
    DocStream* d = (DocStream*)stm->state;
    int64_t target = SeekTarget(ctx, d, offset, whence);
    if (target > d->size)
        target = d->size; /* past the end: the next read finds the end there */
    /* The next read asks for its window (and whether to go on). */
    stm->pos = target;
    stm->rp = stm->wp = d->data + target;
}

static void SeekFile(fz_context* ctx, fz_stream* stm, int64_t offset, int whence)
{
    DocStream* d = (DocStream*)stm->state;
    int64_t target = SeekTarget(ctx, d, offset, whence);
    if (d->window_length > 0 && target >= d->window_at &&
        target < d->window_at + (int64_t)d->window_length) {
        stm->rp = d->buffer + (target - d->window_at);
        stm->wp = d->buffer + d->window_length;
        stm->pos = d->window_at + (int64_t)d->window_length;
        return;
    }
    stm->pos = target;
    stm->rp = stm->wp = d->buffer;
    d->window_length = 0;
}

static void DropDocStream(fz_context* ctx, void* state)
{
    DocStream* d = (DocStream*)state;
    close(d->fd);
    fz_free(ctx, d->data);
    fz_free(ctx, d->buffer);
    fz_free(ctx, d);
}

static size_t FileBytesAt(DocStream* d, int64_t at, unsigned char* buffer, size_t n)
{
    ssize_t got;
    if (at < 0 || at >= d->size)
        return 0;
    if ((int64_t)n > d->size - at)
        n = (size_t)(d->size - at);
    if (d->data) {
        memcpy(buffer, d->data + at, n);
        return n;
    }
    do
        got = pread(d->fd, buffer, n, (off_t)at);
    while (got < 0 && errno == EINTR);
    return got > 0 ? (size_t)got : 0;
}

/* Reads the whole file into d->data; 0 when the read was stopped or failed.
   A file that is not the size it was when opened has changed. */
static int ReadWholeFile(fz_context* ctx, DocStream* d)
{
    int64_t have = 0;
    d->data = (unsigned char*)fz_malloc_no_throw(ctx, d->size > 0 ? (size_t)d->size : 1);
    if (!d->data)
        return 0;
    while (have < d->size) {
        ssize_t n;
        size_t want = (size_t)(d->size - have < READ_PIECE ? d->size - have : READ_PIECE);
        if (WorkEnds(d->work))
            return 0;
        do
            n = read(d->fd, d->data + have, want);
        while (n < 0 && errno == EINTR);
        if (n < 0)
            return 0;
        if (n == 0)
            break; /* shorter than when opened */
        have += n;
    }
    if (have != d->size)
        d->changed = 1;
    d->size = have;
    CheckUnchanged(d);
    return 1;
}

/* ---------------------------------------------------------------------------
   Damage (platform/docfile.h): a document that contradicts itself is read as
   far as it goes and never reported read to its end. */

static void NoteWorkDamage(PdfWork* w, const char* reason)
{
    if (!w->damage)
        w->damage = reason;
    PsNoteDamage(reason);
}

/* MuPDF reads on past most of what is wrong in a document and says so only
   in a warning, or in the message of an error it catches itself: a stream
   that does not decode to its end gives what was decoded so far, a missing
   part of a content array is left out, a font or a Unicode map that cannot
   be loaded is replaced or left out, a cross-reference table is rebuilt. The
   messages that mean damage are known by a piece of their text (MuPDF 1.21's
   wording). The signs are tried in order: the first ones are messages that
   name no damage although a later sign's text is in them. Not damage: fonts
   the system lacks and the stand-ins for them, features MuPDF leaves out,
   producers' habits that lose no text (an unbalanced q/Q, an odd date, a
   line feed missing after "stream"), and any message not recognised here
   (the checks of the glue itself still hold for them). */
typedef struct DamageSign {
    const char* text;   /* a piece of the message */
    const char* reason; /* null: not damage */
} DamageSign;

static const DamageSign kDamageSigns[] = {
    {"gstate underflow", NULL},
    {"with subtype PS", NULL},
    {"Root/Version", NULL},
    {"invalid date", NULL},
    {"date overflow", NULL},
    {"ineariz", NULL},
    {"link", NULL},
    {"font missing encoding", NULL},
    {"non-embedded font", NULL},
    {"builtin font", NULL},
    {"builtin CJK font", NULL},
    {"substitute font", NULL},
    {"assuming Adobe-Identity", NULL},
    {"unknown cid collection", NULL},
    {"freetype", NULL},
    {"FT_Get_Advance", NULL},
    {"line feed missing", NULL},
    {"dropping unclosed", NULL},
    /* Decoders: flate, LZW, ASCII85, ASCII hex, run length, DCT, fax, JBIG2,
       AES, predictors, and a read that failed under one of them. */
    {"zlib", "압축 스트림 손상"},
    {"premature end", "압축 스트림이 끝나지 않음"},
    {"lzw", "압축 스트림 손상"},
    {"a85d", "압축 스트림 손상"},
    {"ahxd", "압축 스트림 손상"},
    {"run length", "압축 스트림 손상"},
    {"jpeg", "압축 스트림 손상"},
    {"faxd", "압축 스트림 손상"},
    {"jbig2", "압축 스트림 손상"},
    {"aes ", "압축 스트림 손상"},
    {"predictor", "압축 스트림 손상"},
    {"unknown filter", "압축 스트림 손상"},
    {"crypt filter", "압축 스트림 손상"},
    {"read error", "스트림을 끝까지 읽지 못함"},
    {"EOF reading", "스트림을 끝까지 읽지 못함"},
    {"Buffer overrun", "스트림을 끝까지 읽지 못함"},
    {"bomb", "한도에 이르러 건너뜀"},
    {"size exceeded", "한도에 이르러 건너뜀"},
    {"Length incorrect", "스트림 길이가 데이터와 다름"},
    /* The file's structure: cross-reference sections, objects, syntax. */
    {"xref", "상호 참조 표 손상"},
    {"repair", "상호 참조 표 손상"},
    {"trailer", "상호 참조 표 손상"},
    {"object", "객체 손상"},
    {"endobj", "객체 손상"},
    {"endstream", "객체 손상"},
    {"expected", "구문 오류"},
    {"syntax error", "구문 오류"},
    {"unknown keyword", "구문 오류"},
    {"unknown token", "구문 오류"},
    {"invalid key", "구문 오류"},
    {"invalid indirect", "구문 오류"},
    {"invalid character", "구문 오류"},
    {"invalid generation", "구문 오류"},
    {"not closed", "구조가 끝나지 않음"},
    {"cannot parse", "구문 오류"},
    {"stack overflow", "구문 오류"},
    {"cycle", "구조가 순환함"},
    {"recursi", "구조가 순환함"},
    {"out of range", "값이 범위를 벗어남"},
    {"malformed", "구조 손상"},
    {"corrupt", "구조 손상"},
    {"truncated", "구조가 끝나지 않음"},
    {"broken", "구조 손상"},
    /* Content, the parts it names, fonts and their maps, the page tree. */
    {"content stream", "내용 스트림 일부 없음"},
    {"resource '", "참조된 리소스 없음"},
    {"XObject", "양식 XObject를 실행하지 못함"},
    {"font and size not set", "글꼴 없이 글자를 보임"},
    {"ToUnicode", "유니코드 대응표를 읽지 못함"},
    {"no unicode cmap", "글꼴의 유니코드 대응표 없음"},
    {"no builtin cmap", "글꼴의 문자 대응표 없음"},
    {"cmap", "문자 대응표 손상"},
    {"CMap", "문자 대응표 손상"},
    {"embedded font", "글꼴을 읽지 못함"},
    {"unknown font format", "글꼴 종류를 모름"},
    {"font descriptor", "글꼴을 읽지 못함"},
    {"descendant", "글꼴을 읽지 못함"},
    {"Type3", "글꼴을 읽지 못함"},
    {"TTF", "글꼴을 읽지 못함"},
    {"page tree", "페이지 트리 손상"},
    {"pages tree", "페이지 트리 손상"},
    {"page object", "페이지 트리 손상"},
};

/* The reason of the damage a MuPDF message names, or null. */
static const char* DamageOfMessage(const char* message)
{
    size_t i;
    if (!message)
        return NULL;
    for (i = 0; i < sizeof kDamageSigns / sizeof kDamageSigns[0]; ++i)
        if (strstr(message, kDamageSigns[i].text))
            return kDamageSigns[i].reason;
    return NULL;
}

/* MuPDF's warnings and errors go to the trace log; those that name damage
   mark the document. Once the read was stopped or reached a limit, what
   fails after is the stop's doing, not the document's. */
static void Quiet(void* user, const char* message)
{
    PdfWork* w = (PdfWork*)user;
    const char* reason;
    TraceParserMessage("pdf", message);
    if (!w || w->stopped || w->limit)
        return;
    reason = DamageOfMessage(message);
    if (reason)
        NoteWorkDamage(w, reason);
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
   that are no character become U+FFFD; zero is no text. (The values are the
   document's own, from its fonts' maps: a map may give what it likes, and
   the text keeps a place for each.) */
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
            continue; /* a picture: no text */
        for (line = block->u.t.first_line; line; line = line->next) {
            fz_stext_char* ch;
            for (ch = line->first_char; ch; ch = ch->next)
                PutChar(e, ch->c);
            PutUnit(e, '\n');
            Flush(e);
        }
    }
}

/* ---------------------------------------------------------------------------
   Every operator of a page's content, and of the forms it draws, is counted
   against the operations budget before MuPDF runs it, and a form is run only
   while the nesting budget allows. A limit reached, or a read asked to stop,
   aborts the page (FZ_ERROR_ABORT, and the cookie for the page's own loop).
   The originals are the run processor's, kept in the extraction's work. */

/* Ends the page being run: the text of the text object under way is handed
   to the device first (it goes there only at the object's end), so that the
   text shown before the limit is kept. */
static void EndPage(fz_context* ctx, pdf_processor* proc, const char* why)
{
    PdfWork* w = t_work;
    if (!w->flushed && w->original.op_ET) {
        w->flushed = 1;
        fz_try(ctx)
            w->original.op_ET(ctx, proc);
        fz_catch(ctx) {
            /* nothing more to keep */
        }
    }
    fz_throw(ctx, FZ_ERROR_ABORT, "%s", why);
}

static void CountOperator(fz_context* ctx, pdf_processor* proc)
{
    PdfWork* w = t_work;
    ++w->operations;
    if (w->budget.operations && w->operations > w->budget.operations)
        ReachLimit(w, kReadLimitOperations);
    if ((w->operations & 1023) == 0)
        WorkEnds(w);
    if (w->limit || w->stopped)
        EndPage(ctx, proc, "work budget reached or read stopped");
}

#define ORIGINAL(op) (t_work->original.op_##op)
#define WRAP0(op)                                                                   \
    static void Count_##op(fz_context* ctx, pdf_processor* proc)                    \
    {                                                                               \
        CountOperator(ctx, proc);                                                   \
        ORIGINAL(op)(ctx, proc);                                                    \
    }
#define WRAP(op, params, args)                                                      \
    static void Count_##op(fz_context* ctx, pdf_processor* proc, params)            \
    {                                                                               \
        CountOperator(ctx, proc);                                                   \
        ORIGINAL(op)(ctx, proc, args);                                              \
    }
#define P(...) __VA_ARGS__

WRAP(w, float a, a)
WRAP(j, int a, a)
WRAP(J, int a, a)
WRAP(M, float a, a)
WRAP(d, P(pdf_obj* a, float b), P(a, b))
WRAP(ri, const char* a, a)
WRAP(i, float a, a)
WRAP(gs_begin, P(const char* a, pdf_obj* b), P(a, b))
WRAP(gs_BM, const char* a, a)
WRAP(gs_ca, float a, a)
WRAP(gs_CA, float a, a)
WRAP(gs_SMask, P(pdf_obj* a, pdf_obj* b, float* c, int d), P(a, b, c, d))
WRAP0(gs_end)
WRAP0(q)
WRAP0(Q)
WRAP(cm, P(float a, float b, float c, float d, float e, float f), P(a, b, c, d, e, f))
WRAP(m, P(float a, float b), P(a, b))
WRAP(l, P(float a, float b), P(a, b))
WRAP(c, P(float a, float b, float c, float d, float e, float f), P(a, b, c, d, e, f))
WRAP(v, P(float a, float b, float c, float d), P(a, b, c, d))
WRAP(y, P(float a, float b, float c, float d), P(a, b, c, d))
WRAP0(h)
WRAP(re, P(float a, float b, float c, float d), P(a, b, c, d))
WRAP0(S)
WRAP0(s)
WRAP0(F)
WRAP0(f)
WRAP0(fstar)
WRAP0(B)
WRAP0(Bstar)
WRAP0(b)
WRAP0(bstar)
WRAP0(n)
WRAP0(W)
WRAP0(Wstar)
WRAP0(BT)
WRAP0(ET)
WRAP(Tc, float a, a)
WRAP(Tw, float a, a)
WRAP(Tz, float a, a)
WRAP(TL, float a, a)
WRAP(Tr, int a, a)
WRAP(Ts, float a, a)
WRAP(Td, P(float a, float b), P(a, b))
WRAP(TD, P(float a, float b), P(a, b))
WRAP(Tm, P(float a, float b, float c, float d, float e, float f), P(a, b, c, d, e, f))
WRAP0(Tstar)
WRAP(TJ, pdf_obj* a, a)
WRAP(Tj, P(char* a, size_t b), P(a, b))
WRAP(squote, P(char* a, size_t b), P(a, b))
WRAP(dquote, P(float a, float b, char* c, size_t d), P(a, b, c, d))
WRAP(d0, P(float a, float b), P(a, b))
WRAP(d1, P(float a, float b, float c, float d, float e, float f), P(a, b, c, d, e, f))
WRAP(CS, P(const char* a, fz_colorspace* b), P(a, b))
WRAP(cs, P(const char* a, fz_colorspace* b), P(a, b))
WRAP(SC_color, P(int a, float* b), P(a, b))
WRAP(sc_color, P(int a, float* b), P(a, b))
WRAP(G, float a, a)
WRAP(g, float a, a)
WRAP(RG, P(float a, float b, float c), P(a, b, c))
WRAP(rg, P(float a, float b, float c), P(a, b, c))
WRAP(K, P(float a, float b, float c, float d), P(a, b, c, d))
WRAP(k, P(float a, float b, float c, float d), P(a, b, c, d))
WRAP(SC_shade, P(const char* a, fz_shade* b), P(a, b))
WRAP(sc_shade, P(const char* a, fz_shade* b), P(a, b))
WRAP(BI, P(fz_image* a, const char* b), P(a, b))
WRAP(sh, P(const char* a, fz_shade* b), P(a, b))
WRAP(Do_image, P(const char* a, fz_image* b), P(a, b))
WRAP(MP, const char* a, a)
WRAP(DP, P(const char* a, pdf_obj* b, pdf_obj* c), P(a, b, c))
WRAP(BMC, const char* a, a)
WRAP(BDC, P(const char* a, pdf_obj* b, pdf_obj* c), P(a, b, c))
WRAP0(EMC)
WRAP0(BX)
WRAP0(EX)
WRAP(gs_OP, int a, a)
WRAP(gs_op, int a, a)
WRAP(gs_OPM, int a, a)
WRAP(gs_UseBlackPtComp, pdf_obj* a, a)

/* ---------------------------------------------------------------------------
   Parts the text comes from that the page names and that are not there.
   MuPDF reads a reference to a free or absent object as null and goes on
   without a word: a font whose Unicode map is missing shows its text as
   codes nobody can read, a font it cannot load at all is replaced by its
   stand-in font. The page's resources are checked before it runs: each
   object once per document. */

/* Resources nested deeper than this (forms, Type 3 fonts and patterns in
   each other's resources) are not checked: the nesting budget stops their
   content long before. Every step of the checks' recursion goes one deeper. */
#define MAX_RESOURCE_DEPTH 32

/* 1 the first time an object is met in this document's checks (a direct
   object is met every time its container is). */
static int FirstCheck(fz_context* ctx, PdfWork* w, pdf_obj* obj)
{
    int num;
    if (!pdf_is_indirect(ctx, obj))
        return 1;
    num = pdf_to_num(ctx, obj);
    if (!w->checked) {
        int length = pdf_xref_len(ctx, w->pdoc);
        w->checked = (unsigned char*)fz_calloc_no_throw(ctx, (size_t)(length > 0 ? length : 1), 1);
        if (!w->checked)
            return 0; /* out of memory: the memory budget says so */
        w->checkedLength = length;
    }
    if (num <= 0 || num >= w->checkedLength)
        return 1; /* no such object: checked (and found missing) each time */
    if (w->checked[num])
        return 0;
    w->checked[num] = 1;
    return 1;
}

/* A part that an entry names and that is not there (a free or absent
   object, or one that could not be read). */
static int Missing(fz_context* ctx, pdf_obj* part)
{
    return part && pdf_is_null(ctx, part);
}

static void CheckResources(fz_context* ctx, PdfWork* w, pdf_obj* resources, int depth);

/* Up to n bytes of the file from offset at into buffer; how many (0 after a
   read error). */
static size_t FileBytesAt(struct DocStream* d, int64_t at, unsigned char* buffer, size_t n);

/* A stream's /Length against its data: "endstream" follows the data (after
   an end of line). MuPDF finds the end of a stream whose length is short
   and warns; one whose length runs past its end it reads to "endstream"
   in silence. */
static void CheckStreamLength(fz_context* ctx, PdfWork* w, pdf_obj* stream)
{
    pdf_xref_entry* entry;
    unsigned char tail[24];
    size_t got, at = 0;
    int64_t length;
    if (!w->file || !pdf_is_indirect(ctx, stream))
        return;
    entry = pdf_get_xref_entry_no_null(ctx, w->pdoc, pdf_to_num(ctx, stream));
    if (!entry || entry->stm_ofs <= 0 || entry->stm_buf)
        return; /* not read from the file */
    length = pdf_to_int64(ctx, pdf_dict_get(ctx, stream, PDF_NAME(Length)));
    if (length < 0 || length >= w->file->size - entry->stm_ofs) {
        NoteWorkDamage(w, "스트림 길이가 데이터와 다름");
        return;
    }
    got = FileBytesAt(w->file, entry->stm_ofs + length, tail, sizeof tail);
    if (got == 0)
        return; /* a read error: the reads MuPDF makes say so */
    while (at < got && at < 8 && (tail[at] == '\r' || tail[at] == '\n' || tail[at] == ' ' || tail[at] == '\t'))
        ++at;
    if (got - at < 9 || memcmp(tail + at, "endstream", 9) != 0)
        NoteWorkDamage(w, "스트림 길이가 데이터와 다름");
}

static void CheckFont(fz_context* ctx, PdfWork* w, pdf_obj* font, int depth)
{
    static const char* const kFontFiles[] = {"FontFile", "FontFile2", "FontFile3"};
    pdf_obj* part;
    int i, n;
    if (depth > MAX_RESOURCE_DEPTH)
        return;
    if (!pdf_is_dict(ctx, font)) {
        NoteWorkDamage(w, "참조된 글꼴 없음");
        return;
    }
    part = pdf_dict_get(ctx, font, PDF_NAME(Type));
    if (part && !pdf_name_eq(ctx, part, PDF_NAME(Font)))
        NoteWorkDamage(w, "글꼴이 아닌 객체를 글꼴로 씀");
    part = pdf_dict_get(ctx, font, PDF_NAME(ToUnicode));
    if (part && !pdf_is_stream(ctx, part) && !pdf_is_name(ctx, part))
        NoteWorkDamage(w, "참조된 유니코드 대응표 없음");
    else if (pdf_is_stream(ctx, part))
        CheckStreamLength(ctx, w, part);
    if (Missing(ctx, pdf_dict_get(ctx, font, PDF_NAME(Encoding))))
        NoteWorkDamage(w, "참조된 글꼴 인코딩 없음");
    part = pdf_dict_get(ctx, font, PDF_NAME(FontDescriptor));
    if (part && FirstCheck(ctx, w, part)) {
        if (!pdf_is_dict(ctx, part))
            NoteWorkDamage(w, "참조된 글꼴 정보 없음");
        for (i = 0; i < 3; ++i) {
            pdf_obj* file = pdf_dict_gets(ctx, part, kFontFiles[i]);
            if (file && !pdf_is_stream(ctx, file))
                NoteWorkDamage(w, "참조된 글꼴 파일 없음");
            else if (file)
                CheckStreamLength(ctx, w, file);
        }
    }
    part = pdf_dict_get(ctx, font, PDF_NAME(DescendantFonts));
    if (part) {
        n = pdf_array_len(ctx, part);
        if (n == 0)
            NoteWorkDamage(w, "참조된 글꼴 없음");
        for (i = 0; i < n; ++i) {
            pdf_obj* descendant = pdf_array_get(ctx, part, i);
            if (FirstCheck(ctx, w, descendant))
                CheckFont(ctx, w, descendant, depth + 1);
        }
    }
    part = pdf_dict_get(ctx, font, PDF_NAME(CharProcs));
    n = pdf_dict_len(ctx, part);
    for (i = 0; i < n; ++i) {
        pdf_obj* glyph = pdf_dict_get_val(ctx, part, i);
        if (!pdf_is_stream(ctx, glyph))
            NoteWorkDamage(w, "참조된 글리프 없음");
        else
            CheckStreamLength(ctx, w, glyph);
    }
    part = pdf_dict_get(ctx, font, PDF_NAME(Resources));
    if (part)
        CheckResources(ctx, w, part, depth + 1);
}

/* The fonts and forms of a resource dictionary, and of the forms' and
   tiling patterns' own resources. (Colours, images and graphics states
   give no text; MuPDF warns of a missing one as it runs the content.) */
static void CheckResources(fz_context* ctx, PdfWork* w, pdf_obj* resources, int depth)
{
    pdf_obj* group;
    int i, n;
    if (!resources || depth > MAX_RESOURCE_DEPTH || !FirstCheck(ctx, w, resources))
        return;
    if (Missing(ctx, resources)) {
        NoteWorkDamage(w, "참조된 리소스 없음");
        return;
    }
    group = pdf_dict_get(ctx, resources, PDF_NAME(Font));
    n = pdf_dict_len(ctx, group);
    for (i = 0; i < n; ++i) {
        pdf_obj* font = pdf_dict_get_val(ctx, group, i);
        if (FirstCheck(ctx, w, font))
            CheckFont(ctx, w, font, depth + 1);
    }
    group = pdf_dict_get(ctx, resources, PDF_NAME(XObject));
    n = pdf_dict_len(ctx, group);
    for (i = 0; i < n; ++i) {
        pdf_obj* xobject = pdf_dict_get_val(ctx, group, i);
        if (!FirstCheck(ctx, w, xobject))
            continue;
        if (!pdf_is_stream(ctx, xobject)) {
            NoteWorkDamage(w, "참조된 XObject 없음");
            continue;
        }
        CheckStreamLength(ctx, w, xobject);
        if (pdf_name_eq(ctx, pdf_dict_get(ctx, xobject, PDF_NAME(Subtype)), PDF_NAME(Form)))
            CheckResources(ctx, w, pdf_dict_get(ctx, xobject, PDF_NAME(Resources)), depth + 1);
    }
    group = pdf_dict_get(ctx, resources, PDF_NAME(Pattern));
    n = pdf_dict_len(ctx, group);
    for (i = 0; i < n; ++i) {
        pdf_obj* pattern = pdf_dict_get_val(ctx, group, i);
        if (FirstCheck(ctx, w, pattern) && pdf_is_stream(ctx, pattern))
            CheckResources(ctx, w, pdf_dict_get(ctx, pattern, PDF_NAME(Resources)), depth + 1);
    }
}

/* The parts of a page: its content (each part of a content array a
   stream) and its resources. An error met on the way (an object that cannot
   be read) has said what it is through the messages. */
static void CheckPageParts(fz_context* ctx, PdfWork* w, pdf_page* page)
{
    fz_try(ctx) {
        pdf_obj* contents = pdf_page_contents(ctx, page);
        int i, n = pdf_array_len(ctx, contents);
        if (pdf_is_array(ctx, contents)) {
            for (i = 0; i < n; ++i) {
                pdf_obj* part = pdf_array_get(ctx, contents, i);
                if (!pdf_is_stream(ctx, part))
                    NoteWorkDamage(w, "내용 스트림 일부 없음");
                else
                    CheckStreamLength(ctx, w, part);
            }
        } else if (contents && !pdf_is_stream(ctx, contents)) {
            NoteWorkDamage(w, "내용 스트림 없음");
        } else if (contents) {
            CheckStreamLength(ctx, w, contents);
        }
        CheckResources(ctx, w, pdf_page_resources(ctx, page), 0);
    }
    fz_catch(ctx) {
        /* said by the error's message, or the read is ending */
    }
}

/* The font a text object selects: MuPDF's stand-in means the font named
   could not be found or loaded. */
static void CheckSelectedFont(fz_context* ctx, PdfWork* w, pdf_font_desc* font)
{
    if (!font || !w->pdoc)
        return;
    if (!w->fallbackTried) {
        w->fallbackTried = 1;
        fz_try(ctx)
            w->fallbackFont = pdf_load_hail_mary_font(ctx, w->pdoc);
        fz_catch(ctx)
            w->fallbackFont = NULL; /* out of memory: the memory budget says so */
    }
    if (font == w->fallbackFont)
        NoteWorkDamage(w, "글꼴을 읽지 못함");
}

/* Glyph bounds. MuPDF bounds every glyph shown: from the outline the font
   program gives (loaded through FreeType for every new glyph) or by running a
   Type 3 glyph's procedure. The structured text takes nothing from those
   bounds; the run processor uses them only for the area of the text object:
   a blend group, the clip by the text and the area a shading or pattern
   fills through it, none of which the text device looks at, except for a
   tiling pattern: its cell, which can hold text, is run once for every tile
   of the area. So the fonts selected on a page give the font's own box
   instead, until the page sets a tiling pattern as its colour or selects a
   Type 3 font that draws its glyphs through the device (a glyph procedure
   that sets its own colours runs with the page's state, out of sight of
   these operators): from then on the page bounds every glyph again. The
   fonts are shared with the rest of the document (annotations, other
   pages), so each gets its bounds back when the page's content ends.
   What the processor and the text device do with the bounds was read off
   MuPDF 1.21: another version bounds every glyph as MuPDF does. */
#define SKIP_GLYPH_BOXES (FZ_VERSION_MAJOR == 1 && FZ_VERSION_MINOR == 21)

static void RestoreGlyphBoxes(fz_context* ctx, PdfWork* w)
{
    while (w->boxlessCount > 0) {
        fz_font* font = w->boxless[--w->boxlessCount];
        font->use_glyph_bbox = 1;
        fz_drop_font(ctx, font);
    }
}

static void GlyphBoxesNeeded(fz_context* ctx, PdfWork* w)
{
    w->glyphBoxes = 1;
    RestoreGlyphBoxes(ctx, w);
}

/* A Type 3 font some glyph of which is run through the device. */
static int DrawsThroughDevice(const fz_font* font)
{
    int i;
    if (!font->t3flags)
        return 0;
    for (i = 0; i < 256; ++i)
        if (font->t3flags[i] & FZ_DEVFLAG_UNCACHEABLE)
            return 1;
    return 0;
}

static void SkipGlyphBoxes(fz_context* ctx, PdfWork* w, fz_font* font)
{
    if (!SKIP_GLYPH_BOXES || w->glyphBoxes || !font || !font->use_glyph_bbox)
        return;
    if (font->t3procs && DrawsThroughDevice(font)) {
        GlyphBoxesNeeded(ctx, w);
        return;
    }
    if (w->boxlessCount == (int)(sizeof w->boxless / sizeof w->boxless[0]))
        return; /* the font keeps its glyph bounds: slower, the same text */
    font->use_glyph_bbox = 0;
    w->boxless[w->boxlessCount++] = fz_keep_font(ctx, font);
}

static void Count_Tf(fz_context* ctx, pdf_processor* proc, const char* name, pdf_font_desc* font,
                     float size)
{
    CountOperator(ctx, proc);
    ORIGINAL(Tf)(ctx, proc, name, font, size);
    CheckSelectedFont(ctx, t_work, font);
    SkipGlyphBoxes(ctx, t_work, font ? font->font : NULL);
}

#define WRAP_PATTERN(op, params, args)                                              \
    static void Count_##op(fz_context* ctx, pdf_processor* proc, params)            \
    {                                                                               \
        CountOperator(ctx, proc);                                                   \
        GlyphBoxesNeeded(ctx, t_work);                                              \
        ORIGINAL(op)(ctx, proc, args);                                              \
    }
WRAP_PATTERN(SC_pattern, P(const char* a, pdf_pattern* b, int c, float* d), P(a, b, c, d))
WRAP_PATTERN(sc_pattern, P(const char* a, pdf_pattern* b, int c, float* d), P(a, b, c, d))

/* A form drawn inside forms: counted like every operator, and run only while
   the nesting budget allows (a form that draws the next one ten times, ten
   deep, is ten billion forms). */
static void Count_Do_form(fz_context* ctx, pdf_processor* proc, const char* name, pdf_obj* form,
                          pdf_obj* resources)
{
    PdfWork* w = t_work;
    CountOperator(ctx, proc);
    if (w->budget.nesting && w->depth >= w->budget.nesting) {
        ReachLimit(w, kReadLimitOperations);
        EndPage(ctx, proc, "forms nested too deep");
    }
    ++w->depth;
    fz_try(ctx)
        ORIGINAL(Do_form)(ctx, proc, name, form, resources);
    fz_always(ctx)
        --w->depth;
    fz_catch(ctx)
        fz_rethrow(ctx);
}

/* Puts the counting operators in front of the processor's own (an operator
   the processor leaves out stays out). */
static void CountOperators(pdf_processor* proc, PdfWork* w)
{
    w->original = *proc;
#define USE(op)              \
    if (proc->op_##op)       \
        proc->op_##op = Count_##op;
    USE(w) USE(j) USE(J) USE(M) USE(d) USE(ri) USE(i) USE(gs_begin) USE(gs_BM) USE(gs_ca)
    USE(gs_CA) USE(gs_SMask) USE(gs_end) USE(q) USE(Q) USE(cm) USE(m) USE(l) USE(c) USE(v)
    USE(y) USE(h) USE(re) USE(S) USE(s) USE(F) USE(f) USE(fstar) USE(B) USE(Bstar) USE(b)
    USE(bstar) USE(n) USE(W) USE(Wstar) USE(BT) USE(ET) USE(Tc) USE(Tw) USE(Tz) USE(TL) USE(Tf)
    USE(Tr) USE(Ts) USE(Td) USE(TD) USE(Tm) USE(Tstar) USE(TJ) USE(Tj) USE(squote) USE(dquote)
    USE(d0) USE(d1) USE(CS) USE(cs) USE(SC_pattern) USE(sc_pattern) USE(SC_shade) USE(sc_shade)
    USE(SC_color) USE(sc_color) USE(G) USE(g) USE(RG) USE(rg) USE(K) USE(k) USE(BI) USE(sh)
    USE(Do_image) USE(Do_form) USE(MP) USE(DP) USE(BMC) USE(BDC) USE(EMC) USE(BX) USE(EX)
    USE(gs_OP) USE(gs_op) USE(gs_OPM) USE(gs_UseBlackPtComp)
#undef USE
}

/* The page's content through MuPDF's own interpreter, with the operators
   that only paint pictures left out: image XObjects and shadings painted by
   "sh" are never loaded or decoded, since no text can come of them. (A
   shading used as a fill colour is still loaded: the interpreter refuses the
   content stream when its colour operators are missing.) Annotations and form
   fields follow as fz_run_page runs them (held to the budget by the clock and
   the memory it allocates). */
static void RunPageForText(fz_context* ctx, fz_document* doc, fz_page* page, fz_device* dev,
                           fz_cookie* cookie, PdfWork* work)
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
    CheckPageParts(ctx, work, ppage);
    fz_try(ctx) {
        proc = pdf_new_run_processor(ctx, dev, ctm, "View", NULL, NULL, cookie);
        proc->op_Do_image = NULL;
        proc->op_sh = NULL;
        CountOperators(proc, work);
        work->flushed = 0;
        work->glyphBoxes = 0;
        pdf_process_contents(ctx, proc, pdf_document_from_fz_document(ctx, doc),
                             pdf_page_resources(ctx, ppage), pdf_page_contents(ctx, ppage), cookie);
        pdf_close_processor(ctx, proc);
    }
    fz_always(ctx) {
        pdf_drop_processor(ctx, proc);
        RestoreGlyphBoxes(ctx, work);
    }
    fz_catch(ctx)
        fz_rethrow(ctx);
    if (WorkEnds(work))
        fz_throw(ctx, FZ_ERROR_ABORT, "work budget reached or read stopped");
    fz_run_page_annots(ctx, page, dev, fz_identity, cookie);
    fz_run_page_widgets(ctx, page, dev, fz_identity, cookie);
}

static int ExtractPdfPage(fz_context* ctx, fz_document* doc, int number, Emitter* e, PdfWork* work)
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
        page = NULL; /* counted as not loaded: damage (ExtractDocument) */
    if (!page) {
        fz_flush_warnings(ctx);
        return PAGE_NOT_LOADED;
    }
    if (work->pageRefLeaks) {
        pdf_page* ppage = pdf_page_from_fz_page(ctx, page);
        if (ppage && ppage->obj)
            pdf_drop_obj(ctx, ppage->obj);
    }

    work->cookie = &cookie;
    fz_try(ctx) {
        text = fz_new_stext_page(ctx, fz_bound_page(ctx, page));
        dev = fz_new_stext_device(ctx, text, &options);
        fz_try(ctx) {
            if (WorkEnds(work))
                fz_throw(ctx, FZ_ERROR_ABORT, "read stopped");
            RunPageForText(ctx, doc, page, dev, &cookie, work);
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
        result = PAGE_FAILED; /* damage, or the stop's doing (ExtractDocument) */
    work->cookie = NULL;
    if (cookie.abort)
        result = PAGE_FAILED;

    fz_drop_page(ctx, page);
    fz_flush_warnings(ctx);
    if (result == PAGE_READ && cookie.errors > 0)
        result = PAGE_PARTIAL;
    return result;
}

static fz_context* NewContext(PdfWork* work)
{
    fz_alloc_context alloc;
    size_t store = PDF_STORE_LIMIT;
    fz_context* ctx;
    alloc.user = work;
    alloc.malloc = WorkMalloc;
    alloc.realloc = WorkRealloc;
    alloc.free = WorkFree;
    if (work->budget.memory && store > work->budget.memory / 3)
        store = (size_t)(work->budget.memory / 3);
    ctx = fz_new_context(&alloc, NULL, store);
    if (!ctx)
        return NULL;
    fz_set_error_callback(ctx, Quiet, work);
    fz_set_warning_callback(ctx, Quiet, work);
    fz_set_aa_level(ctx, 8);
    /* Colours do not matter for text: no colour management. */
    fz_disable_icc(ctx);
    return ctx;
}

/* Opens a PDF document from its file (the cross-reference table, repaired by
   MuPDF when damaged). Null on any failure; *file is the document's byte
   stream state while the document lives. */
static fz_document* OpenPdfDocument(fz_context* ctx, const char* path, PdfWork* work, DocStream** file)
{
    fz_stream* stream = NULL;
    pdf_document* doc = NULL;
    DocStream* state = NULL;
    int handed = 0; /* the descriptor belongs to the stream (or was closed by it) */
    int fd;

    fz_var(stream);
    fz_var(doc);
    fz_var(state);
    fz_var(handed);

    *file = NULL;
    fd = PsOpenDocumentFile(path, NULL);
    if (fd < 0)
        return NULL;
    fz_try(ctx) {
        int whole;
        state = fz_malloc_struct(ctx, DocStream);
        state->fd = fd;
        state->work = work;
        if (fstat(fd, &state->opened) != 0)
            fz_throw(ctx, FZ_ERROR_GENERIC, "cannot stat");
        state->size = (int64_t)state->opened.st_size;
        whole = state->size <= WHOLE_FILE_MAX &&
                (!work->budget.memory || (unsigned long long)state->size <= work->budget.memory / 4);
        if (whole) {
            if (!ReadWholeFile(ctx, state))
                fz_throw(ctx, FZ_ERROR_GENERIC, "cannot read the file");
        } else {
            state->buffer = (unsigned char*)fz_malloc(ctx, WINDOW);
        }
        /* fz_new_stream drops the state itself when it fails. */
        handed = 1;
        stream = fz_new_stream(ctx, state, whole ? NextMemoryWindow : NextFileWindow, DropDocStream);
        stream->seek = whole ? SeekMemory : SeekFile;
        if (whole)
            stream->rp = stream->wp = state->data;
        *file = state;
        doc = pdf_open_document_with_stream(ctx, stream);
    }
    fz_always(ctx)
        fz_drop_stream(ctx, stream);
    fz_catch(ctx) {
        pdf_drop_document(ctx, doc);
        doc = NULL;
        if (!handed) {
            if (state) {
                fz_free(ctx, state->data);
                fz_free(ctx, state->buffer);
                fz_free(ctx, state);
            }
            close(fd);
        }
    }
    if (!doc)
        *file = NULL;
    return doc ? &doc->super : NULL;
}

/* 1 with the page count when the document opens without a password (a
   document that the empty password does not open cannot be read), else 0.
   *pageTree is 0 when the catalog names no page tree. */
static int CountReadablePages(fz_context* ctx, fz_document* doc, int* pageCount, int* claimed,
                              int* pageTree)
{
    int ok = 0;
    fz_var(ok);
    *pageTree = 0;
    fz_try(ctx) {
        if (!fz_needs_password(ctx, doc)) {
            /* Every page is an object of its own: a count beyond the
               objects of the file is a lie of the page tree. */
            pdf_document* pdoc = pdf_document_from_fz_document(ctx, doc);
            int objects = pdf_xref_len(ctx, pdoc);
            *pageCount = *claimed = fz_count_pages(ctx, doc);
            if (*pageCount > objects)
                *pageCount = objects;
            *pageTree = pdf_is_dict(ctx, pdf_dict_getp(ctx, pdf_trailer(ctx, pdoc), "Root/Pages"));
            ok = 1;
        }
    }
    fz_catch(ctx)
        ok = 0; /* not opened; an error that means damage said so in its message */
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
                                const char* range, Emitter* e, PdfExtractStats* stats,
                                PdfWork* work)
{
    int first, last;
    int unloadable = 0;
    while (PdfNextPageRange(&range, pageCount, &first, &last)) {
        int step = first <= last ? 1 : -1;
        int page;
        for (page = first;; page += step) {
            int result;
            if (WorkEnds(work))
                return;
            result = ExtractPdfPage(ctx, doc, page, e, work);
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

/* A page found through the page map comes back from the lookup with a
   reference of its own that the page loader keeps besides its own (MuPDF
   1.21): every page would stay in memory after its document is gone. Two
   lookups show whether this build does so; the pages it loads then give
   that reference back (ExtractPdfPage). */
static int LookupKeepsPage(fz_context* ctx, pdf_document* doc)
{
    pdf_obj* first = pdf_lookup_page_obj(ctx, doc, 0);
    int before = pdf_obj_refs(ctx, first);
    pdf_obj* second = pdf_lookup_page_obj(ctx, doc, 0);
    int after = pdf_obj_refs(ctx, second);
    if (first != second || after != before + 1)
        return 0;
    pdf_drop_obj(ctx, first);
    pdf_drop_obj(ctx, second);
    return 1;
}

/* ---------------------------------------------------------------------------
   Checks of the document as a whole. */

/* The page tree's leaves, counted by walking it (each node once), against
   the count its root claims: MuPDF reads as many pages as the root claims,
   and a count smaller than the tree would pass the rest over in silence. A
   kid that names nothing is a page missing. */
static void CheckPageTree(fz_context* ctx, PdfWork* w, pdf_document* doc, int claimed)
{
    pdf_obj** stack = NULL;
    unsigned char* seen = NULL;
    fz_var(stack);
    fz_var(seen);
    fz_try(ctx) {
        int top = 0, capacity, leaves = 0;
        int length = pdf_xref_len(ctx, doc);
        seen = (unsigned char*)fz_calloc(ctx, (size_t)(length > 0 ? length : 1), 1);
        capacity = 64;
        stack = (pdf_obj**)fz_malloc(ctx, (size_t)capacity * sizeof *stack);
        stack[top++] = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Pages");
        while (top > 0) {
            pdf_obj* node = stack[--top];
            pdf_obj* kids;
            int i, n, num = pdf_to_num(ctx, node);
            if (pdf_is_indirect(ctx, node) && num > 0 && num < length) {
                if (seen[num]) {
                    NoteWorkDamage(w, "페이지 트리 손상"); /* a node met twice */
                    continue;
                }
                seen[num] = 1;
            }
            if (!pdf_is_dict(ctx, node)) {
                NoteWorkDamage(w, "참조된 페이지 없음");
                continue;
            }
            kids = pdf_dict_get(ctx, node, PDF_NAME(Kids));
            if (!pdf_is_array(ctx, kids)) {
                ++leaves;
                continue;
            }
            n = pdf_array_len(ctx, kids);
            for (i = n - 1; i >= 0; --i) {
                if (top == capacity) {
                    stack = (pdf_obj**)fz_realloc(ctx, stack, (size_t)capacity * 2 * sizeof *stack);
                    capacity *= 2;
                }
                stack[top++] = pdf_array_get(ctx, kids, i);
            }
        }
        if (leaves != claimed)
            NoteWorkDamage(w, "페이지 수가 페이지 트리와 다름");
    }
    fz_always(ctx) {
        fz_free(ctx, stack);
        fz_free(ctx, seen);
    }
    fz_catch(ctx) {
        /* said by the error's message, or the read is ending */
    }
}

static int IsSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0;
}

static int IsDelimiterOrSpace(unsigned char c)
{
    return IsSpace(c) || strchr("()<>[]{}/%", c) != NULL;
}

/* Offset of the first / last occurrence of word in b[from, to), or -1. */
static int64_t FindFirst(const unsigned char* b, int64_t from, int64_t to, const char* word)
{
    size_t n = strlen(word);
    const unsigned char* at;
    const unsigned char* end;
    if (from < 0 || to - from < (int64_t)n)
        return -1;
    at = b + from;
    end = b + to - n + 1;
    while (at < end && (at = (const unsigned char*)memchr(at, word[0], (size_t)(end - at))) != NULL) {
        if (memcmp(at, word, n) == 0)
            return at - b;
        ++at;
    }
    return -1;
}

static int64_t FindLast(const unsigned char* b, int64_t from, int64_t to, const char* word)
{
    int64_t n = (int64_t)strlen(word);
    int64_t at;
    for (at = to - n; at >= from; --at)
        if (b[at] == (unsigned char)word[0] && memcmp(b + at, word, (size_t)n) == 0)
            return at;
    return -1;
}

/* The decimal number at *at (after spaces), or -1; *at moves past it. */
static int64_t NumberAt(const unsigned char* b, int64_t n, int64_t* at)
{
    int64_t p = *at, value = -1;
    while (p < n && IsSpace(b[p]))
        ++p;
    while (p < n && b[p] >= '0' && b[p] <= '9') {
        value = (value < 0 ? 0 : value) * 10 + (b[p] - '0');
        if (value > ((int64_t)1 << 53))
            value = (int64_t)1 << 53;
        ++p;
    }
    *at = p;
    return value;
}

/* The number after the key in b[from, to) ("/Prev 123"), or -1. */
static int64_t KeyNumber(const unsigned char* b, int64_t from, int64_t to, const char* key)
{
    int64_t at = from;
    size_t n = strlen(key);
    while ((at = FindFirst(b, at, to, key)) >= 0) {
        int64_t p = at + (int64_t)n;
        if (p < to && !IsDelimiterOrSpace(b[p])) {
            at = p; /* a longer key (/XRefStm for /XRef) */
            continue;
        }
        return NumberAt(b, to, &p);
    }
    return -1;
}

#define MAX_SECTIONS 256

/* The end of the file: the last save's end-of-file offset ("startxref")
   and what follows it, and the cross-reference sections it reaches. A save
   appended to a document and cut off leaves its objects after the earlier
   save's end, where MuPDF never looks (it finds the earlier save's offset and
   reads the earlier document, whole and clean); an offset that names an
   earlier section than the last leaves the later saves unread. b: the file's
   n bytes (or its last n bytes when base > 0: only what follows the last
   offset is checked then). */
static void CheckFileEnd(PdfWork* w, const unsigned char* b, int64_t n, int64_t base)
{
    int64_t chain[MAX_SECTIONS];
    int sections = 0, i;
    int64_t at = FindLast(b, 0, n, "startxref");
    int64_t last, p;
    if (at < 0)
        return; /* none: MuPDF rebuilt the table (PDF_INCOMPLETE_REPAIRED) */
    p = at + 9;
    last = NumberAt(b, n, &p);
    if (last < 0) {
        NoteWorkDamage(w, "마지막 저장이 잘림");
        return;
    }
    /* What follows the last save's end: a save appended and cut off leaves
       the start of an object ("12 0 obj", cut anywhere: it starts with a
       digit), or objects, a stream or a table there. Other bytes (padding, a
       mail program's or a download's leftovers) are no part of the document
       and leave it whole. */
    while (p < n) {
        if (IsSpace(b[p])) {
            ++p;
        } else if (b[p] == '%') {
            while (p < n && b[p] != '\n' && b[p] != '\r')
                ++p; /* the end-of-file marker, a comment */
        } else {
            break;
        }
    }
    if (p < n && ((b[p] >= '0' && b[p] <= '9') || FindFirst(b, p, n, "obj") >= 0 || FindFirst(b, p, n, "stream") >= 0 ||
                  FindFirst(b, p, n, "xref") >= 0 || FindFirst(b, p, n, "trailer") >= 0)) {
        NoteWorkDamage(w, "마지막 저장 뒤에 남은 데이터");
        return;
    }
    if (base > 0)
        return; /* a file read in windows: its sections are not searched */

    /* The chain of sections from the last one: /Prev, and /XRefStm of a
       table that also has a stream. */
    while (sections < MAX_SECTIONS && last >= 0 && last < n) {
        int64_t q = last, end;
        for (i = 0; i < sections && chain[i] != last; ++i)
            ;
        if (i < sections)
            break; /* met before: MuPDF says so */
        chain[sections++] = last;
        while (q < n && IsSpace(b[q]))
            ++q;
        if (n - q >= 4 && memcmp(b + q, "xref", 4) == 0) {
            q = FindFirst(b, q, n, "trailer");
            if (q < 0)
                break;
            end = FindFirst(b, q, n, "startxref");
            if (end < 0)
                end = n;
            p = KeyNumber(b, q, end, "/XRefStm");
            if (p >= 0 && sections < MAX_SECTIONS)
                chain[sections++] = p;
        } else {
            end = FindFirst(b, q, n, "stream");
            if (end < 0)
                end = n;
        }
        last = KeyNumber(b, q, end, "/Prev");
    }

    /* Every section of the file is in the chain: a table ("xref" at the
       start of a line) at an offset of the chain, a stream (/Type /XRef)
       inside an object that starts at one. */
    for (at = 0; (at = FindFirst(b, at, n, "xref")) >= 0; at += 4) {
        int reached = 0;
        if (at == 0 || (b[at - 1] != '\n' && b[at - 1] != '\r') || at + 4 >= n || !IsSpace(b[at + 4]))
            continue;
        for (i = 0; i < sections && !reached; ++i) {
            p = chain[i];
            while (p < at && IsSpace(b[p]))
                ++p;
            reached = p == at;
        }
        if (!reached) {
            NoteWorkDamage(w, "읽지 않은 저장이 있음");
            return;
        }
    }
    for (at = 0; (at = FindFirst(b, at, n, "/XRef")) >= 0; at += 5) {
        int reached = 0;
        if (at + 5 < n && !IsDelimiterOrSpace(b[at + 5]))
            continue; /* /XRefStm */
        for (i = 0; i < sections && !reached; ++i)
            reached = chain[i] <= at && at - chain[i] < 65536;
        if (!reached) {
            NoteWorkDamage(w, "읽지 않은 저장이 있음");
            return;
        }
    }
}

/* The end of the file as CheckFileEnd wants it: the whole file when it is
   in memory, else its last part (a read error leaves it unchecked: the
   reads MuPDF makes say so). */
#define TAIL_CHECKED (64 * 1024)

static void CheckDocumentEnd(fz_context* ctx, PdfWork* w, DocStream* d)
{
    unsigned char* tail;
    int64_t from;
    ssize_t got;
    if (d->data) {
        CheckFileEnd(w, d->data, d->size, 0);
        return;
    }
    from = d->size > TAIL_CHECKED ? d->size - TAIL_CHECKED : 0;
    tail = (unsigned char*)fz_malloc_no_throw(ctx, TAIL_CHECKED);
    if (!tail)
        return; /* out of memory: the memory budget says so */
    do
        got = pread(d->fd, tail, (size_t)(d->size - from), (off_t)from);
    while (got < 0 && errno == EINTR);
    if (got > 0)
        CheckFileEnd(w, tail, got, from > 0 ? from : 1);
    fz_free(ctx, tail);
}

/* Reads the document's pages; the stats say what was read and what kept
   the document from being read to its end. */
static void ExtractDocument(fz_context* ctx, fz_document* doc, DocStream* file, Emitter* e,
                            PdfExtractStats* stats, PdfWork* work)
{
    pdf_document* pdoc = pdf_document_from_fz_document(ctx, doc);
    int pageCount = 0;
    int claimed = 0;
    int pageTree = 0;
    int mapped = 0;

    fz_var(mapped);
    work->pdoc = pdoc;
    work->file = file;
    if (!CountReadablePages(ctx, doc, &pageCount, &claimed, &pageTree)) {
        stats->incomplete |= PDF_INCOMPLETE_NOT_OPENED;
    } else if (!pageTree) {
        stats->incomplete |= PDF_INCOMPLETE_NO_PAGE_TREE;
    } else {
        CheckPageTree(ctx, work, pdoc, claimed);
        CheckDocumentEnd(ctx, work, file);
    }
    if (stats->incomplete == 0 && pageCount > 0) {
        stats->pageCount = pageCount;
        /* The page tree walked once: each page is then found at once, not by
           a walk of its own (quadratic in a long list of pages). A tree
           that claims more pages than the file holds is walked page by page. */
        if (pageCount == claimed) {
            fz_try(ctx) {
                pdf_load_page_tree(ctx, pdoc);
                mapped = 1;
                work->pageRefLeaks = LookupKeepsPage(ctx, pdoc);
            }
            fz_catch(ctx) {
                if (mapped)
                    pdf_drop_page_tree(ctx, pdoc);
                mapped = 0;
                work->pageRefLeaks = 0;
                /* The pages are then looked up one by one; a tree that
                   cannot be walked is damaged (unless the read is ending). */
                if (!WorkEnds(work))
                    NoteWorkDamage(work, "페이지 트리 손상");
            }
        }
        ExtractPdfPageRange(ctx, doc, pageCount, "1-", e, stats, work);
        if (stats->pagesRead == 0 || stats->pagesFailed > 0 || pageCount < claimed)
            stats->incomplete |= PDF_INCOMPLETE_PAGES;
        if (stats->pagesWithErrors > 0)
            stats->incomplete |= PDF_INCOMPLETE_CONTENT;
        if (mapped)
            pdf_drop_page_tree(ctx, pdoc);
    }
    /* A repair can also happen while pages load: asked at the end. */
    if (pdf_was_repaired(ctx, pdoc))
        stats->incomplete |= PDF_INCOMPLETE_REPAIRED;
    if (CheckUnchanged(file))
        stats->incomplete |= PDF_INCOMPLETE_CHANGED;
    /* What kept the pages from being read is damage unless the read was
       stopped or reached a limit (those say so themselves). A file changed
       while it was read is not damaged; one that does not open may be no
       PDF or need a password. */
    if (!WorkEnds(work)) {
        if (stats->incomplete & PDF_INCOMPLETE_REPAIRED)
            NoteWorkDamage(work, "상호 참조 표를 다시 만듦");
        if (stats->incomplete & PDF_INCOMPLETE_NO_PAGE_TREE)
            NoteWorkDamage(work, "페이지 트리 없음");
        if (stats->incomplete & PDF_INCOMPLETE_PAGES)
            NoteWorkDamage(work, "페이지를 읽지 못함");
        if (stats->incomplete & PDF_INCOMPLETE_CONTENT)
            NoteWorkDamage(work, "내용 스트림 오류");
    }
    if (work->fallbackFont)
        pdf_drop_font(ctx, work->fallbackFont);
    work->fallbackFont = NULL;
    fz_free(ctx, work->checked);
    work->checked = NULL;
    work->pdoc = NULL;
    work->file = NULL;
}

int PdfExtractTextNative(const char* path, TextChunkCallback callback, void* user,
                         PdfExtractStats* stats)
{
    PdfExtractStats local;
    PdfWork* work;
    PdfWork* outer = t_work;
    fz_context* ctx;
    fz_document* doc;
    Emitter* e;
    DocStream* file = NULL;

    if (!stats)
        stats = &local;
    memset(stats, 0, sizeof *stats);
    stats->incomplete = PDF_INCOMPLETE_NOT_OPENED;
    if (!path)
        return 0;
    e = (Emitter*)malloc(sizeof(Emitter));
    work = (PdfWork*)calloc(1, sizeof(PdfWork));
    if (!e || !work) {
        free(e);
        free(work);
        return 0;
    }
    e->callback = callback;
    e->user = user;
    e->length = 0;
    work->budget = PsCurrentDocumentBudget();
    work->account = PsCurrentMemoryAccount();
    t_work = work;

    ctx = NewContext(work);
    if (ctx) {
        doc = OpenPdfDocument(ctx, path, work, &file);
        if (doc) {
            stats->incomplete = 0;
            ExtractDocument(ctx, doc, file, e, stats, work);
            fz_drop_document(ctx, doc);
        }
        fz_drop_context(ctx);
    }
    /* A read that was stopped, or reached a limit, did not reach the end. */
    WorkEnds(work);
    stats->damage = work->damage;
    if (work->damage && stats->incomplete == 0)
        stats->incomplete = PDF_INCOMPLETE_DAMAGED;
    if (work->stopped)
        stats->incomplete |= PDF_INCOMPLETE_STOPPED;
    if (work->limit) {
        stats->incomplete |= PDF_INCOMPLETE_LIMIT;
        stats->limit = work->limit;
    }
    t_work = outer;
    free(work);
    free(e);
    return stats->incomplete == 0;
}

int PdfCountPagesNative(const char* path)
{
    PdfWork work;
    PdfWork* outer = t_work;
    fz_context* ctx;
    fz_document* doc;
    DocStream* file = NULL;
    int count = -1;

    if (!path)
        return -1;
    memset(&work, 0, sizeof work);
    work.budget = PsCurrentDocumentBudget();
    work.account = PsCurrentMemoryAccount();
    t_work = &work;
    ctx = NewContext(&work);
    if (ctx) {
        doc = OpenPdfDocument(ctx, path, &work, &file);
        if (doc) {
            fz_var(count);
            fz_try(ctx)
                count = fz_count_pages(ctx, doc);
            fz_catch(ctx)
                count = -1;
            fz_drop_document(ctx, doc);
        }
        fz_drop_context(ctx);
    }
    t_work = outer;
    return count;
}
