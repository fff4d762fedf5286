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
//  - text: the characters one document gives (the text collector counts
//    them); the text past it is dropped and the document read in part with
//    the memory reason.
//
// Memory of the whole search. Documents are read on up to one thread a core,
// and every document may hold its memory budget and its text: on a machine
// of many cores and little memory, together more than it has. So the search
// also has one ceiling (PS_SEARCH_MEMORY_SHARE of the physical memory) that
// the memory of every document being read counts against: the PDF library's
// allocations and the text gathered (the text collector's output and scratch
// buffers, kept until the document's text has been matched). A document's
// memory is an account
// (PsCurrentMemoryAccount) owned by its ReadCancelScope; a reader takes from
// it before it allocates and gives back what it frees. A take that would
// pass the ceiling waits until other documents give memory back; it is
// refused (the document is read in part with the memory reason) when the
// document is the only one holding memory, when every other document holding
// memory waits as well (the one holding most is refused, so that the rest go
// on), or when the read is stopped; a stop of the search ends every wait at
// once (MemoryCeiling::WakeWaiters, and each wait also looks at its stop flag
// and deadline every few milliseconds).
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
    unsigned long long memory;     /* bytes a document's readers hold at once (its text
                                      apart); 0: no limit */
    unsigned long long text;       /* characters of text a document gives; 0: no limit */
} PsDocumentBudget;

/* The budget every document gets unless a test sets another
   (plat::SetDocumentBudget). A search reads documents on up to one thread a
   core, so the memory limit is held by several documents at once. */
#define PS_DOCUMENT_BUDGET_SECONDS 60.0
#define PS_DOCUMENT_BUDGET_OPERATIONS 40000000ull
#define PS_DOCUMENT_BUDGET_NESTING 32u
/* Eight documents read at once, each at its memory budget and its text
   limit, stay within 2 GB together on any machine; a page of text, its fonts
   and MuPDF's cache need far less. */
#define PS_DOCUMENT_BUDGET_MEMORY (192ull << 20)
/* 32 M characters (64 MB of UTF-16, some 15,000 pages of dense text). */
#define PS_DOCUMENT_BUDGET_TEXT (32ull << 20)
/* The search's memory ceiling: this share (1/N) of the physical memory,
   never less than one document's memory budget. */
#define PS_SEARCH_MEMORY_SHARE 4

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

/* A document's memory: the account of the calling thread's document (the
   innermost ReadCancelScope with a budget), null when no scope is installed.
   The account lives as long as that scope: a reader gives back what it took
   before the scope ends (what is left is given back when it ends). Takes and
   gives of one account come from the thread of its scope only. */
typedef struct PsMemoryAccount PsMemoryAccount;
PsMemoryAccount* PsCurrentMemoryAccount(void);
/* Takes bytes for the document before they are allocated: 1 when granted;
   0 when refused at a limit (the document's memory budget, or the search's
   ceiling when waiting cannot help), noted as kReadLimitMemory for the
   scope; -1 when refused because the read was stopped (the search, or a
   limit reached before). With a null account every take is granted. May
   wait (see the head of this file). */
int PsTakeMemory(PsMemoryAccount* account, unsigned long long bytes);
/* Gives back bytes taken before (freed or no longer needed). */
void PsGiveMemory(PsMemoryAccount* account, unsigned long long bytes);
/* The same for the room of the document's text (the text collector): held
   to the search's ceiling but not to the document's memory budget, which
   is the readers' own (the text is held to the budget's text limit). A
   reader stopped at its memory budget still hands on the text it read. */
int PsTakeTextMemory(PsMemoryAccount* account, unsigned long long bytes);
void PsGiveTextMemory(PsMemoryAccount* account, unsigned long long bytes);

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
                                         PS_DOCUMENT_BUDGET_NESTING, PS_DOCUMENT_BUDGET_MEMORY,
                                         PS_DOCUMENT_BUDGET_TEXT};

// The memory the documents read at once may hold together (see the head of
// this file). Accounts reserve from it in granules, so that an allocation
// that fits the granules already reserved costs no lock. What the accounts
// reserve together never passes the limit; an account keeps back at most two
// granules more than its readers hold.
class MemoryCeiling {
public:
    explicit MemoryCeiling(uint64_t limit, uint64_t granule = uint64_t{1} << 20);
    ~MemoryCeiling();
    MemoryCeiling(const MemoryCeiling&) = delete;
    MemoryCeiling& operator=(const MemoryCeiling&) = delete;

    uint64_t Limit() const;
    // Sets another limit (tests, tools); returns the previous one. Not to
    // be called while documents are read.
    uint64_t SetLimit(uint64_t limit);
    // Bytes reserved by the accounts now, and the most ever reserved at once.
    uint64_t Reserved() const;
    uint64_t PeakReserved() const;
    // How many takes wait for memory now.
    unsigned Waiting() const;
    // Every waiting take looks at its read's stop flag now: called when a
    // search is stopped.
    void WakeWaiters();

private:
    friend struct ::PsMemoryAccount;
    friend class ReadCancelScope;
    struct State;
    State* state_;
};

// The search's ceiling (one for the process: the machine's memory is one);
// its limit starts at DefaultSearchMemoryLimit().
MemoryCeiling& SearchMemoryCeiling();
// PS_SEARCH_MEMORY_SHARE of the physical memory, at least one document's
// memory budget (kDocumentBudget).
uint64_t DefaultSearchMemoryLimit();

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
    // The document's memory counts against ceiling (SearchMemoryCeiling()
    // unless another is given; null: against no ceiling).
    ReadCancelScope(const std::atomic<int32_t>* flag, const DocumentBudget& budget);
    ReadCancelScope(const std::atomic<int32_t>* flag, const DocumentBudget& budget, MemoryCeiling* ceiling);
    ~ReadCancelScope();
    ReadCancelScope(const ReadCancelScope&) = delete;
    ReadCancelScope& operator=(const ReadCancelScope&) = delete;

    // The limit this scope's document reached (kReadLimitNone: none).
    ReadLimit LimitReached() const { return limit_; }
    // The document's memory account (the enclosing scope's for a scope that
    // took over its budget); null for a scope without a budget.
    PsMemoryAccount* MemoryAccount() const { return account_; }
    // The identity of the first regular file opened (PsOpenDocumentFile)
    // inside this scope or a scope it held: the document itself. Not known
    // when none was opened.
    const FileIdentity& FirstFileOpened() const { return firstFile_; }

private:
    friend struct ReadScopeAccess;
    friend struct OpenedFileAccess;

    void OpenAccount(MemoryCeiling* ceiling);

    const std::atomic<int32_t>* flag_;
    ReadCancelScope* previous_;
    bool hasBudget_ = false;
    bool inherited_ = false;  // the budget and clock are the enclosing scope's
    DocumentBudget budget_{};
    int64_t deadline_ = 0;  // monotonic nanoseconds; 0: none
    ReadLimit limit_ = kReadLimitNone;
    PsMemoryAccount* account_ = nullptr;
    bool ownsAccount_ = false;
    FileIdentity firstFile_;
};

bool ReadCancelled();

// C++ names of the account calls.
inline PsMemoryAccount* CurrentMemoryAccount() { return PsCurrentMemoryAccount(); }
inline bool TakeMemory(PsMemoryAccount* account, uint64_t bytes) { return PsTakeMemory(account, bytes) > 0; }
inline void GiveMemory(PsMemoryAccount* account, uint64_t bytes) { PsGiveMemory(account, bytes); }


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
