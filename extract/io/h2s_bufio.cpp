#include "extract/io/h2s_bufio.h"

#include "extract/libstring.h"
#include "platform/docfile.h"
#include "platform/text.h"

#include <cerrno>
#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


// --- CH2sBufIO -------------------------------------------------------------

CH2sBufIO::~CH2sBufIO()
{
    // The derived device is gone by now: drop the filter without touching it.
    if (filter_) {
        CompressStreamFree(filter_);
        filter_ = nullptr;
    }
}

void CH2sBufIO::Raise() { RaiseLibraryError(); }

void CH2sBufIO::Close()
{
    if (filter_)
        EndCompression();
}

int CH2sBufIO::ReadCallback(CompressStream*, void* user, void* buffer, int n)
{
    return static_cast<CH2sBufIO*>(user)->Read(buffer, n);
}

int CH2sBufIO::WriteCallback(CompressStream*, void* user, const void* buffer, int n)
{
    return static_cast<CH2sBufIO*>(user)->Write(buffer, n);
}

int CH2sBufIO::BeginCompression()
{
    if (filter_ || direction_ == kH2sReadWrite) {
        Raise();
        return 0;
    }
    if (direction_ == kH2sRead)
        filter_ = InflateStreamOpen(&CH2sBufIO::ReadCallback, this);
    else
        filter_ = DeflateStreamOpen(&CH2sBufIO::WriteCallback, this);
    if (!filter_) {
        Raise();
        return 0;
    }
    return 1;
}

int CH2sBufIO::EndCompression()
{
    if (!filter_) {
        Raise();
        return 0;
    }
    CompressStream* f = filter_;
    // Cleared first: the device's own calls below run uncompressed.
    filter_ = nullptr;
    if (direction_ == kH2sRead) {
        // Only the device's position is settled here: whether the data and
        // its trailer were whole is the reader's to check while the stream
        // is open (HWP 5 sections: InflateStreamEndedCleanly), as only the
        // reader knows whether its stream carries a trailer.
        int over = InflateStreamClose(f);
        if (over > 0)
            Seek(-static_cast<std::int64_t>(over), 1);
    } else {
        DeflateStreamClose(f);
    }
    return 1;
}

// --- CH2sFile --------------------------------------------------------------

CH2sFile::~CH2sFile()
{
    if (fd_ >= 0)
        Close();
}

int CH2sFile::Open(const std::u16string& path, int mode)
{
    if (fd_ >= 0)
        Close();
    int flags;
    int dir;
    switch (mode) {
    case 1: flags = O_WRONLY; dir = kH2sReadWrite; break;
    case 2: flags = O_RDWR; dir = kH2sReadWrite; break;
    case 3: flags = O_WRONLY | O_CREAT | O_TRUNC; dir = kH2sWrite; break;
    default: flags = O_RDONLY; dir = kH2sRead; break;
    }
    const std::string native = plat::PathToNative(path);
    // Reading: only a regular file, opened without blocking.
    int fd = native.empty() ? -1
             : dir == kH2sRead ? plat::OpenDocumentFile(native)
                               : ::open(native.c_str(), flags | O_CLOEXEC, 0666);
    if (fd >= 0) {
        struct stat st;
        if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        // The error word is left as it is.
        Raise();
        return 0;
    }
    fd_ = fd;
    name_ = path;
    setDirection(dir);
    return 1;
}

int CH2sFile::Read(void* buffer, int n)
{
    if (fd_ < 0 || n < 0 || (!buffer && n))
        return -1;
    auto* p = static_cast<char*>(buffer);
    int done = 0;
    while (done < n) {
        if (plat::ReadCancelled())
            return -1;
        ssize_t r = ::read(fd_, p + done, static_cast<size_t>(n - done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        done += static_cast<int>(r);
    }
    return done;
}

int CH2sFile::Write(const void* buffer, int n)
{
    if (fd_ < 0 || n < 0 || (!buffer && n))
        return -1;
    auto* p = static_cast<const char*>(buffer);
    int done = 0;
    while (done < n) {
        ssize_t r = ::write(fd_, p + done, static_cast<size_t>(n - done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return -1;
        done += static_cast<int>(r);
    }
    return done;
}

std::int64_t CH2sFile::Seek(std::int64_t offset, int origin)
{
    if (fd_ < 0)
        return -1;
    int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
    off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
    return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

std::int64_t CH2sFile::GetLength()
{
    if (fd_ < 0 || compressed())
        return -1;
    std::int64_t cur = Seek(0, 1);
    if (cur < 0)
        return -1;
    std::int64_t end = Seek(0, 2);
    Seek(cur, 0);
    return end;
}

int CH2sFile::SetLength(std::int64_t n)
{
    int ok = 0;
    if (fd_ >= 0 && n >= 0) {
        if (!compressed())
            Seek(n, 0);
        off_t at = compressed() ? ::lseek(fd_, 0, SEEK_CUR) : static_cast<off_t>(n);
        ok = at >= 0 && ::ftruncate(fd_, at) == 0;
    }
    if (!ok)
        Raise();
    return ok;
}

void CH2sFile::Close()
{
    if (fd_ < 0)
        return;
    CH2sBufIO::Close();
    ::close(fd_);
    fd_ = -1;
    name_.clear();
}

// --- CH2sStream ------------------------------------------------------------

namespace {

plat::HResult StoreAndRaise(plat::HResult hr)
{
    SetLibraryError(hr);
    RaiseLibraryError();
    return hr;
}

}  // namespace

CH2sStream::~CH2sStream()
{
    // A failing seek while compression ends must not leave the destructor.
    try {
        Close();
    } catch (...) {
        if (stream_) {
            stream_->Release();
            stream_ = nullptr;
        }
    }
}

int CH2sStream::Attach(plat::CfbStream* stream, bool addRef)
{
    if (stream_ && stream_ != stream)
        Close();
    if (stream && addRef && stream_ != stream)
        stream->AddRef();
    stream_ = stream;
    if (!stream_)
        return 0;
    plat::CfbStat st;
    plat::HResult hr = stream_->Stat(&st, false);
    if (plat::Failed(hr)) {
        StoreAndRaise(hr);
        return 1;
    }
    switch (st.mode & plat::stg::kModeAccessMask) {
    case plat::stg::kModeReadWrite: setDirection(kH2sReadWrite); break;
    case plat::stg::kModeWrite: setDirection(kH2sWrite); break;
    default: setDirection(kH2sRead); break;
    }
    return 1;
}

int CH2sStream::Read(void* buffer, int n)
{
    if (!stream_ || n < 0)
        return -1;
    std::uint32_t got = 0;
    plat::HResult hr = stream_->Read(buffer, static_cast<std::uint32_t>(n), &got);
    if (hr != plat::stg::kOk) {
        // A chain that leaves the file or ends early; a stopped read is no damage.
        if (!plat::ReadCancelled())
            plat::NoteDamage("스트림을 읽을 수 없음");
        StoreAndRaise(hr);
        return -1;
    }
    return static_cast<int>(got);
}

int CH2sStream::Write(const void* buffer, int n)
{
    if (n == 0)
        return 0;
    if (!stream_ || n < 0)
        return 0;
    std::uint32_t written = 0;
    plat::HResult hr = stream_->Write(buffer, static_cast<std::uint32_t>(n), &written);
    if (plat::Failed(hr)) {
        StoreAndRaise(hr);
        return 0;
    }
    return static_cast<int>(written);
}

std::int64_t CH2sStream::Seek(std::int64_t offset, int origin)
{
    if (!stream_)
        return -1;
    std::uint64_t pos = 0;
    plat::HResult hr = stream_->Seek(offset, origin, &pos);
    if (plat::Failed(hr)) {
        StoreAndRaise(hr);
        return -1;
    }
    return static_cast<std::int64_t>(std::min<std::uint64_t>(pos, INT64_MAX));
}

std::int64_t CH2sStream::GetLength()
{
    if (!stream_)
        return -1;
    plat::CfbStat st;
    plat::HResult hr = stream_->Stat(&st, false);
    if (plat::Failed(hr)) {
        StoreAndRaise(hr);
        return -1;
    }
    return static_cast<std::int64_t>(std::min<std::uint64_t>(st.size, INT64_MAX));
}

int CH2sStream::SetLength(std::int64_t n)
{
    if (!stream_)
        return plat::stg::kInvalidPointer;
    plat::HResult hr = stream_->SetSize(static_cast<std::uint64_t>(n < 0 ? 0 : n));
    if (plat::Failed(hr))
        StoreAndRaise(hr);
    return hr;
}

void CH2sStream::Close()
{
    CH2sBufIO::Close();
    if (stream_) {
        stream_->Release();
        stream_ = nullptr;
    }
}
