// Opening a document for reading, and the stop request that reaches into a
// reader while it reads.
//
// A document is opened without blocking (a FIFO put where a document was, or
// a link to a device, never holds the reader) and read only when the opened
// descriptor is a regular file. A thread that reads documents on behalf of a
// search installs a ReadCancelScope with the search's stop flag; the byte
// reads and the readers' main loops ask ReadCancelled() and end early.
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

/* Non-zero when the calling thread's read is asked to stop. */
int PsReadCancelled(void);

#ifdef __cplusplus
}

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace plat {

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

// While alive, ReadCancelled() on this thread follows *flag (non-zero: stop).
// Scopes nest; a null flag stops nothing.
class ReadCancelScope {
public:
    explicit ReadCancelScope(const std::atomic<int32_t>* flag);
    ~ReadCancelScope();
    ReadCancelScope(const ReadCancelScope&) = delete;
    ReadCancelScope& operator=(const ReadCancelScope&) = delete;

private:
    const std::atomic<int32_t>* previous_;
};

bool ReadCancelled();

}  // namespace plat
#endif
