#include "platform/docfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/text.h"

namespace {

thread_local const std::atomic<int32_t>* t_cancel = nullptr;
thread_local PsDocOpenError t_lastOpenError = kDocOpenOk;

PsDocOpenError ReasonOfErrno(int e)
{
    switch (e) {
    case ENOENT:
    case ENOTDIR: return kDocOpenNotFound;
    case EACCES:
    case EPERM: return kDocOpenNoAccess;
    case ENAMETOOLONG: return kDocOpenNameTooLong;
    case ENXIO:  // a FIFO nobody writes to, or a device without its driver
    case ENODEV:
    case EISDIR: return kDocOpenNotRegular;
    default: return kDocOpenFailed;
    }
}

int Fail(PsDocOpenError reason, int* why)
{
    t_lastOpenError = reason;
    if (why)
        *why = reason;
    return -1;
}

}  // namespace

extern "C" int PsOpenDocumentFile(const char* nativePath, int* why)
{
    if (!nativePath || !*nativePath)
        return Fail(kDocOpenNotFound, why);
    // O_NONBLOCK: opening a FIFO or a device must not wait for a peer.
    const int fd = ::open(nativePath, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return Fail(ReasonOfErrno(errno), why);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return Fail(kDocOpenFailed, why);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Fail(kDocOpenNotRegular, why);
    }
    // A regular file: reads behave as usual from here on.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return Fail(kDocOpenFailed, why);
    }
    t_lastOpenError = kDocOpenOk;
    if (why)
        *why = kDocOpenOk;
    return fd;
}

extern "C" int PsReadCancelled(void) { return plat::ReadCancelled() ? 1 : 0; }

namespace plat {

int OpenDocumentFile(const std::string& nativePath, DocOpenError* why)
{
    int reason = kDocOpenOk;
    const int fd = PsOpenDocumentFile(nativePath.c_str(), &reason);
    if (why)
        *why = static_cast<DocOpenError>(reason);
    return fd;
}

int OpenDocumentFile(std::u16string_view path, DocOpenError* why)
{
    return OpenDocumentFile(PathToNative(path), why);
}

FILE* OpenDocumentStream(std::u16string_view path, DocOpenError* why)
{
    return OpenDocumentStream(PathToNative(path), why);
}

FILE* OpenDocumentStream(const std::string& nativePath, DocOpenError* why)
{
    const int fd = OpenDocumentFile(nativePath, why);
    if (fd < 0)
        return nullptr;
    FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        ::close(fd);
        Fail(kDocOpenFailed, nullptr);
        if (why)
            *why = kDocOpenFailed;
    }
    return f;
}

DocOpenError LastDocumentOpenError() { return t_lastOpenError; }
void ClearDocumentOpenError() { t_lastOpenError = kDocOpenOk; }

ReadCancelScope::ReadCancelScope(const std::atomic<int32_t>* flag) : previous_(t_cancel)
{
    t_cancel = flag;
}

ReadCancelScope::~ReadCancelScope() { t_cancel = previous_; }

bool ReadCancelled()
{
    const std::atomic<int32_t>* flag = t_cancel;
    return flag && flag->load(std::memory_order_relaxed) != 0;
}

}  // namespace plat
