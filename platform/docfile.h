// Opening a document for reading, and the stop request that reaches into a
// reader while it reads.
//
// A document is opened without blocking (a FIFO put where a document was, or
// a link to a device, never holds the reader) and read only when the opened
// descriptor is a regular file. A thread that reads documents on behalf of a
// search installs a ReadCancelScope with the search's stop flag and the
// document's work budget; the byte reads and the readers' main loops ask
// ReadCancelled() and end early, when the search is stopped or when the
// document has used up its budget.
//
// The work budget (the one place where it is set: kDocumentBudget below).
// Every document may take so much time, so many operations and so much
// memory; a document that reaches one of them is read in part: the reader
// stops, the text it gathered so far is matched, and the document is listed
// with the reason. The search goes on with the next document.
//  - time: wall time from the scope's start; every reader is held to it
//    through ReadCancelled(), which also notes the limit for the thread.
//  - operations and memory: what a reader can count itself (the PDF glue:
//    content-stream operators and the nesting of forms, and the bytes its
//    own allocator hands out). Such a reader notes the limit it reached with
//    PsNoteReadLimit; from then on ReadCancelled() is true for that scope.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Why a document could not be opened (also the calling thread's last one). */
enum PsDocOpenError {
    kDocOpenOk = 0,
    kDocOpenNotFound = 1,    /* no such file, or a folder of its path is missing */
    kDocOpenNoAccess = 2,    /* permission denied */
    kDocOpenNameTooLong = 3, /* the path or one of its names is too long */
    kDocOpenNotRegular = 4,  /* a folder, FIFO, device, socket */
    kDocOpenFailed = 5,      /* any other failure */
};

/* Opens path (as the file system spells it) read-only without blocking;
   -1 on failure with the reason in *why (may be null) and in the thread's
   last reason. The descriptor is blocking again when returned. */
int PsOpenDocumentFile(const char* nativePath, int* why);

/* Non-zero when the calling thread's read is asked to stop: the search was
   stopped, or the document reached a limit of its budget. */
int PsReadCancelled(void);

/* The work one document may take. */
typedef struct PsDocumentBudget {
    double seconds;                /* wall time; 0: no limit */
    unsigned long long operations; /* operators a reader runs (PDF content); 0: no limit */
    unsigned int nesting;          /* depth of nested forms (PDF); 0: no limit */
    unsigned long long memory;     /* bytes a reader's own allocator holds at once; 0: no limit */
} PsDocumentBudget;

/* The budget every document gets unless a test sets another
   (plat::SetDocumentBudget). A search reads documents on up to one thread a
   core, so the memory limit is held by several documents at once. */
#define PS_DOCUMENT_BUDGET_SECONDS 60.0
#define PS_DOCUMENT_BUDGET_OPERATIONS 40000000ull
#define PS_DOCUMENT_BUDGET_NESTING 32u
#define PS_DOCUMENT_BUDGET_MEMORY (768ull << 20)

/* Which limit stopped a read. */
enum PsReadLimit {
    kReadLimitNone = 0,
    kReadLimitTime = 1,
    kReadLimitOperations = 2,
    kReadLimitMemory = 3,
};

/* The budget of the calling thread's document: the innermost
   ReadCancelScope's, or the process's (see plat::SetDocumentBudget) when no
   scope is installed. */
PsDocumentBudget PsCurrentDocumentBudget(void);

/* A reader reached a limit it counts itself (kReadLimitOperations or
   kReadLimitMemory): noted for the innermost scope, which from now on
   answers ReadCancelled() with true. Without a scope nothing is noted (the
   reader reports its own stop). */
void PsNoteReadLimit(int limit);

/* Damage. A reader that meets input contradicting itself (a length, offset
   or count that points past its data or disagrees with what is there; a
   stream that does not decompress cleanly or fails its check value; a part,
   stream or record that another part names and that is missing; a structure
   still open at the end of the data; anything skipped because a cap was
   reached) goes on reading what it can and notes the damage here with a
   short reason. The entry then reports the document read in part (or not
   read when no text came): a damaged document never reads clean.
   reason: a short UTF-8 text with static storage duration (kept as the
   pointer, never copied or freed). Noted for the calling thread's innermost
   DamageScope; the first reason of a scope is the one it keeps. Without a
   scope nothing is noted. */
void PsNoteDamage(const char* reason);

/* Non-zero when damage was noted in the calling thread's innermost
   DamageScope (or a scope it holds) so far. */
int PsDamageNoted(void);

#ifdef __cplusplus
}

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace plat {

// Which file a document was read from, and the state its bytes were in:
// device and inode name the file wherever its path leads later; size and
// modification time tell that its bytes were rewritten. An action on a
// document acts only on the file with the identity of the read. All zero:
// not known.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0;  // st_mtim in nanoseconds since 1970

    bool Known() const { return device != 0 || inode != 0; }
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
FileIdentity IdentityOf(const struct ::stat& st);

using DocOpenError = PsDocOpenError;

// See PsOpenDocumentFile; path in the program's wide form.
int OpenDocumentFile(std::u16string_view path, DocOpenError* why = nullptr);
int OpenDocumentFile(const std::string& nativePath, DocOpenError* why = nullptr);
// The same as a stdio stream ("rb"); null on failure.
FILE* OpenDocumentStream(std::u16string_view path, DocOpenError* why = nullptr);
FILE* OpenDocumentStream(const std::string& nativePath, DocOpenError* why = nullptr);

// The reason of the calling thread's last failed open (kDocOpenOk after a
// ClearDocumentOpenError or when every open since succeeded).
DocOpenError LastDocumentOpenError();
void ClearDocumentOpenError();

using DocumentBudget = PsDocumentBudget;
using ReadLimit = PsReadLimit;

constexpr DocumentBudget kDocumentBudget{PS_DOCUMENT_BUDGET_SECONDS, PS_DOCUMENT_BUDGET_OPERATIONS,
                                         PS_DOCUMENT_BUDGET_NESTING, PS_DOCUMENT_BUDGET_MEMORY};

// The budget of the documents read from now on (kDocumentBudget at the
// start); returns the previous one. For tests: not to be called while
// documents are read.
DocumentBudget SetDocumentBudget(const DocumentBudget& budget);
DocumentBudget CurrentDocumentBudget();  // PsCurrentDocumentBudget

// While alive, ReadCancelled() on this thread follows *flag (non-zero: stop).
// Scopes nest; a null flag stops nothing. A scope made with a budget also
// holds the document read inside it to that budget (its time counts from
// here); a scope without one takes over the budget of the scope around it.
class ReadCancelScope {
public:
    explicit ReadCancelScope(const std::atomic<int32_t>* flag);
    ReadCancelScope(const std::atomic<int32_t>* flag, const DocumentBudget& budget);
    ~ReadCancelScope();
    ReadCancelScope(const ReadCancelScope&) = delete;
    ReadCancelScope& operator=(const ReadCancelScope&) = delete;

    // The limit this scope's document reached (kReadLimitNone: none).
    ReadLimit LimitReached() const { return limit_; }
    // The identity of the first regular file opened (PsOpenDocumentFile)
    // inside this scope or a scope it held: the document itself. Not known
    // when none was opened.
    const FileIdentity& FirstFileOpened() const { return firstFile_; }

private:
    friend struct ReadScopeAccess;
    friend struct OpenedFileAccess;

    const std::atomic<int32_t>* flag_;
    ReadCancelScope* previous_;
    bool hasBudget_ = false;
    bool inherited_ = false;  // the budget and clock are the enclosing scope's
    DocumentBudget budget_{};
    int64_t deadline_ = 0;  // monotonic nanoseconds; 0: none
    ReadLimit limit_ = kReadLimitNone;
    FileIdentity firstFile_;
};

bool ReadCancelled();

// Collects the damage noted on this thread (PsNoteDamage, NoteDamage) while
// alive. Scopes nest: damage noted inside one also marks the scope around it
// when the inner one ends, so a damaged embedded part marks its document.
// Every reader entry runs inside one (RunReaderEntry), and so does the
// search's dispatch, which turns the reason into the error-file list's.
class DamageScope {
public:
    DamageScope();
    ~DamageScope();
    DamageScope(const DamageScope&) = delete;
    DamageScope& operator=(const DamageScope&) = delete;

    bool Damaged() const { return reason_ != nullptr; }
    // The first reason noted (UTF-8), null when none.
    const char* Reason() const { return reason_; }
    // How many times damage was noted in this scope and the scopes it held.
    unsigned Count() const { return count_; }

private:
    friend struct DamageScopeAccess;

    DamageScope* previous_;
    const char* reason_ = nullptr;
    unsigned count_ = 0;
};

inline void NoteDamage(const char* reason) { PsNoteDamage(reason); }

}  // namespace plat
#endif
