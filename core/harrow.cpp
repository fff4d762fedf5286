#include "core/harrow.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/util.h"
#include "platform/system.h"
#include "platform/text.h"

namespace harrow {

// ---- Loader ----------------------------------------------------------------------

std::u16string& Harrow::ModulePathOverride()
{
    static std::u16string path;
    return path;
}

std::u16string Harrow::ModulePath()
{
    if (!ModulePathOverride().empty()) return ModulePathOverride();
    return GetModuleFolder(true) + u"harrow32.so";
}

Harrow::~Harrow()
{
    if (module) plat::UnloadModule(module);
    Clear();
}

void Harrow::Clear()
{
    module = nullptr;
#define HARROW_CLEAR(name) name = nullptr;
    HARROW_ENTRY_POINTS(HARROW_CLEAR)
#undef HARROW_CLEAR
}

bool Harrow::Load()
{
    if (module) return true;
    void* m = plat::LoadModule(ModulePath());
    if (!m) return false;
    bool all = true;
#define HARROW_RESOLVE(name)                   \
    name = plat::ModuleSymbol(m, #name);       \
    all = all && name != nullptr;
    HARROW_ENTRY_POINTS(HARROW_RESOLVE)
#undef HARROW_RESOLVE
    if (!all) {
        plat::UnloadModule(m);
        Clear();
        return false;
    }
    module = m;
    return true;
}

Archive::~Archive()
{
    if (handle && harrow && harrow->HARROW_DeleteArchive)
        reinterpret_cast<HARROW_DeleteArchive_t>(harrow->HARROW_DeleteArchive)(handle);
    handle = 0;
}

FileStream::~FileStream()
{
    if (fd >= 0) close(fd);
}

// ---- Events ----------------------------------------------------------------------

namespace {

uint32_t ThunkRead(void* c, void* buffer, uint32_t size, uint32_t* n)
{
    auto* ctx = static_cast<StreamContext*>(c);
    return ctx->owner->ReadStream(ctx, buffer, size, n);
}
uint32_t ThunkSeek(void* c, uint32_t lo, int32_t hi, uint32_t origin, uint64_t* pos)
{
    auto* ctx = static_cast<StreamContext*>(c);
    return ctx->owner->SeekStream(ctx, lo, hi, origin, pos);
}
uint32_t ThunkSize(void* c, uint64_t* size)
{
    auto* ctx = static_cast<StreamContext*>(c);
    return ctx->owner->GetStreamSize(ctx, size);
}
uint32_t ThunkFind(void* c, HarrowFileInfo* info)
{
    auto* ctx = static_cast<StreamContext*>(c);
    return ctx->owner->FindFile(ctx, info);
}
uint32_t ThunkWrite(void* c, const void* buffer, uint32_t size, uint32_t* n)
{
    auto* ctx = static_cast<StreamContext*>(c);
    return ctx->owner->WriteStream(ctx, buffer, size, n);
}
uint32_t ThunkNotify(void* c, uintptr_t argument)
{
    auto* ctx = static_cast<StreamContext*>(c);
    return ctx->owner->WriteStreamNotify(ctx, argument);
}

std::u16string Str(const char16_t* s) { return s ? std::u16string(s) : std::u16string(); }

}  // namespace

extern "C" uint32_t HarrowEventCallback(void* events, HarrowEvent* event)
{
    if (!events) return 1;
    return static_cast<Events*>(events)->DispatchEvent(event);
}

Events::Events()
{
    registration.callback = &HarrowEventCallback;
    registration.object = this;
}

Events::~Events() = default;

uint32_t Events::DispatchEvent(HarrowEvent* event)
{
    if (!event) return 1;
    switch (event->type) {
    case kHarrowEventOpenRead: {
        if (!event->readCallbacks) return 0;
        auto* ctx = new StreamContext{this, Str(event->volumeName), u"", event->value, nullptr};
        HarrowReadCallbacks& t = *event->readCallbacks;
        t.read = &ThunkRead;
        t.seek = &ThunkSeek;
        t.size = &ThunkSize;
        t.findFile = &ThunkFind;
        t.context = ctx;
        const uint32_t answer = OpenVolumeForRead(event, ctx);
        if ((answer & 1) == 0) {
            delete ctx->stream;
            delete ctx;
            t.context = nullptr;
        }
        return answer;
    }
    case kHarrowEventCreateWrite: {
        if (!event->writeCallbacks) return 0;
        auto* ctx = new StreamContext{this, Str(event->targetPath), Str(event->fileName), 0, nullptr};
        HarrowWriteCallbacks& t = *event->writeCallbacks;
        t.write = &ThunkWrite;
        t.seek = &ThunkSeek;
        t.notify = &ThunkNotify;
        t.context = ctx;
        const uint32_t answer = CreateVolumeForWrite(event, ctx);
        if ((answer & 1) == 0) {
            delete ctx->stream;
            delete ctx;
            t.context = nullptr;
        }
        return answer;
    }
    case kHarrowEventCloseRead:
    case kHarrowEventCloseWrite: {
        void** slot = nullptr;
        if (event->type == kHarrowEventCloseRead && event->readCallbacks) slot = &event->readCallbacks->context;
        if (event->type == kHarrowEventCloseWrite && event->writeCallbacks) slot = &event->writeCallbacks->context;
        auto* ctx = slot ? static_cast<StreamContext*>(*slot) : nullptr;
        const uint32_t answer = CloseStream(event, ctx);
        if (ctx) {
            delete ctx->stream;
            delete ctx;
            *slot = nullptr;
        }
        return answer;
    }
    default:
        if (event->type >= 4 && event->type <= kHarrowEventLast) return OnEngineEvent(event);
        return 1;
    }
}

uint32_t Events::OnEngineEvent(HarrowEvent* event)
{
    return event->type == kHarrowEventPassword ? kHarrowPasswordNotGiven : 1;
}

// ---- Helpers -----------------------------------------------------------------------

uint32_t OpenErrorAnswer(int error)
{
    switch (error) {
    case ENOENT: return 0x1000200;
    case ENOTDIR:
    case EINVAL:
    case ELOOP: return 0x1000700;
    case EACCES:
    case EPERM:
    case EROFS: return 0x1000500;
    case ENOMEM: return 0x800;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM: return 0x1000F00;
    case EBUSY:
    case ETXTBSY: return 0x1000600;
    case EEXIST: return 0x1000300;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return 0x1000400;
    case ENAMETOOLONG: return 0x1000800;
    default: return 0x1000100;
    }
}

uint32_t AttributeBits(uint32_t mode, const std::u16string& name)
{
    uint32_t bits = 0;
    if (S_ISDIR(mode)) bits |= 0x1;
    else bits |= 0x2;  // an ordinary file is an archive candidate
    if ((mode & 0222) == 0) bits |= 0x80;
    if (!name.empty() && name[0] == u'.') bits |= 0x10;
    if (S_ISLNK(mode)) bits |= 0x100;
    if (bits == 0x2) bits |= 0x20;
    return bits;
}

std::u16string VolumeFileName(const std::u16string& name, int volume, const std::u16string& formatName)
{
    if (volume == 0 || volume == -1) return name;
    const std::u16string lower = plat::ToLowerAscii(name);
    if (plat::EqualsNoCase(formatName, u"ovm")) {
        const size_t at = lower.find(u".vol");
        if (at == std::u16string::npos) return lower;
        std::string n = std::to_string(volume + 1);
        return lower.substr(0, at) + u".vol" + plat::AsciiToWide(n) + u".ovm";
    }
    if (plat::EqualsNoCase(formatName, u"qvz")) {
        const size_t dot = lower.find_last_of(u'.');
        if (dot == std::u16string::npos) return lower;
        const int k = volume - 1;
        char ext[8];
        snprintf(ext, sizeof ext, "%c%02d", 'a' + k / 100, k % 100);
        return lower.substr(0, dot + 1) + plat::AsciiToWide(ext);
    }
    return std::u16string();
}

}  // namespace harrow

// ---- CHarrowEventHandler -------------------------------------------------------------

using harrow::FileStream;
using harrow::StreamContext;

uint32_t CHarrowEventHandler::ReadStream(StreamContext* ctx, void* buffer, uint32_t size, uint32_t* bytesRead)
{
    uint32_t total = 0;
    FileStream* s = ctx ? ctx->stream : nullptr;
    if (s && s->fd >= 0) {
        auto* p = static_cast<unsigned char*>(buffer);
        while (total < size) {
            const ssize_t n = read(s->fd, p + total, size - total);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            total += static_cast<uint32_t>(n);
        }
        s->position += total;
    }
    if (bytesRead) *bytesRead = total;
    return 1;
}

uint32_t CHarrowEventHandler::SeekStream(StreamContext* ctx, uint32_t lo, int32_t hi, uint32_t origin,
                                         uint64_t* position)
{
    FileStream* s = ctx ? ctx->stream : nullptr;
    if (!s || s->fd < 0) {
        if (position) *position = 0;
        return 1;
    }
    const uint64_t distance = (static_cast<uint64_t>(static_cast<uint32_t>(hi)) << 32) | lo;
    off_t to;
    if (origin == 1) {
        to = static_cast<off_t>(s->position + distance);
    } else if (origin == 2) {
        struct stat st{};
        fstat(s->fd, &st);
        to = st.st_size - static_cast<off_t>(distance);
    } else {
        to = static_cast<off_t>(distance);
    }
    const off_t at = lseek(s->fd, to, SEEK_SET);
    if (at >= 0) s->position = static_cast<uint64_t>(at);
    if (position) *position = s->position;
    return 1;
}

uint32_t CHarrowEventHandler::GetStreamSize(StreamContext* ctx, uint64_t* size)
{
    uint64_t n = 0;
    FileStream* s = ctx ? ctx->stream : nullptr;
    struct stat st{};
    if (s && s->fd >= 0 && fstat(s->fd, &st) == 0) n = static_cast<uint64_t>(st.st_size);
    if (size) *size = n;
    return 1;
}

uint32_t CHarrowEventHandler::FindFile(StreamContext* ctx, HarrowFileInfo* info)
{
    FileStream* s = ctx ? ctx->stream : nullptr;
    if (!s || !info) return 1;
    struct stat st{};
    if (lstat(plat::PathToNative(s->name).c_str(), &st) != 0) return 1;
    foundName = GetFileNamePart(s->name);
    info->attributes = harrow::AttributeBits(st.st_mode, foundName);
    info->creationTime = st.st_ctim.tv_sec;
    info->lastWriteTime = st.st_mtim.tv_sec;
    info->lastAccessTime = st.st_atim.tv_sec;
    info->size = static_cast<uint64_t>(st.st_size);
    info->name = foundName.c_str();
    return 1;
}

uint32_t CHarrowEventHandler::WriteStream(StreamContext* ctx, const void* buffer, uint32_t size,
                                          uint32_t* bytesWritten)
{
    uint32_t total = 0;
    FileStream* s = ctx ? ctx->stream : nullptr;
    if (s && s->fd >= 0 && s->writeError == 0) {
        const auto* p = static_cast<const unsigned char*>(buffer);
        while (total < size) {
            const ssize_t n = write(s->fd, p + total, size - total);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                s->writeError = n < 0 ? errno : ENOSPC;
                break;
            }
            total += static_cast<uint32_t>(n);
        }
        s->position += total;
    }
    if (bytesWritten) *bytesWritten = total;
    return 1;
}

uint32_t CHarrowEventHandler::WriteStreamNotify(StreamContext*, uintptr_t) { return 1; }

uint32_t CHarrowEventHandler::OpenVolumeForRead(HarrowEvent* event, StreamContext* ctx)
{
    if (!event->volumeName || !event->volumeName[0]) return 0;
    const std::u16string name = harrow::VolumeFileName(event->volumeName, event->volume, formatName);
    const int fd = name.empty() ? -1 : open(plat::PathToNative(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        ctx->stream = nullptr;
        return name.empty() ? 0x1000700 : harrow::OpenErrorAnswer(errno);
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    auto* s = new FileStream;
    s->fd = fd;
    s->name = name;
    ctx->stream = s;
    return 1;
}

uint32_t CHarrowEventHandler::CreateVolumeForWrite(HarrowEvent* event, StreamContext* ctx)
{
    lastCreateAnswer = lastCloseAnswer = 0;
    lastError = 0;
    lastCreatedPath.clear();
    if (!event->targetPath || !event->targetPath[0]) return lastCreateAnswer = 0;
    std::u16string path = event->targetPath;
    if (path.back() == u'/' && event->fileName) path += event->fileName;
    const size_t slash = path.find_last_of(u'/');
    if (slash != std::u16string::npos && slash > 0) plat::MakeDirs(path.substr(0, slash));
    // Private while it is written; the owner of the archive decides later.
    const int fd = open(plat::PathToNative(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
                        0600);
    if (fd < 0) {
        lastError = errno;
        ctx->stream = nullptr;
        return lastCreateAnswer = harrow::OpenErrorAnswer(lastError);
    }
    auto* s = new FileStream;
    s->fd = fd;
    s->name = path;
    s->forWriting = true;
    ctx->stream = s;
    lastCreatedPath = path;
    return lastCreateAnswer = 1;
}

uint32_t CHarrowEventHandler::CloseStream(HarrowEvent*, StreamContext* ctx)
{
    FileStream* s = ctx ? ctx->stream : nullptr;
    if (!s) return 1;
    uint32_t answer = 1;
    if (s->fd >= 0) {
        if (s->forWriting) {
            int error = s->writeError;
            if (error == 0 && fsync(s->fd) != 0) error = errno;
            if (close(s->fd) != 0 && error == 0) error = errno;
            if (error != 0) answer = harrow::OpenErrorAnswer(error) == 0x1000400 ? 0x1000400 : 0x1000100;
            lastCloseAnswer = answer;
            lastError = error;
        } else {
            close(s->fd);
        }
        s->fd = -1;
    }
    delete s;
    ctx->stream = nullptr;
    return answer;
}

uint32_t CHarrowEventHandler::OnEngineEvent(HarrowEvent* event)
{
    if (!listener) return harrow::Events::OnEngineEvent(event);
    switch (event->type) {
    case kHarrowEventPassword: return listener->OnQueryPassword(event);
    case kHarrowEventItemBegin: return listener->OnItemBegin(event);
    case kHarrowEventItemEnd: return listener->OnItemEnd(event);
    case kHarrowEventProgress: return listener->OnOtherEvent(event);
    default: return 1;
    }
}

// ---- CreateZipArchive --------------------------------------------------------------

std::u16string ArchiveEntryName(const std::u16string& path)
{
    const size_t slash = path.find_last_of(u'/');
    std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
    std::u16string out;
    for (char16_t c : name)
        if (c != u':') out.push_back(c);
    return out;
}

void CreateZipArchive(harrow::Events* events, const CreateZipRequest* request)
{
    if (!events || !request || !events->harrow || !events->archive || !events->archive->handle) return;
    harrow::Harrow& h = *events->harrow;
    const HarrowHandle handle = events->archive->handle;

    std::vector<std::u16string> paths;
    const std::u16string list = request->fileList ? request->fileList : u"";
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(u'\n', start);
        if (end == std::u16string::npos) end = list.size();
        if (end > start) paths.push_back(list.substr(start, end - start));
        start = end + 1;
    }

    const HarrowFormatInfo* format =
        reinterpret_cast<HARROW_GetFormatFromName_t>(h.HARROW_GetFormatFromName)(u"ZIP");
    HarrowNewArchive rec{};
    if (format) {
        rec.formatId = format->formatId;
        rec.variant = format->variant;
        events->formatName = format->name;
    }
    uint32_t answer = reinterpret_cast<HARROW_Archive_PrepareNewArchive_t>(h.HARROW_Archive_PrepareNewArchive)(
        handle, &rec, static_cast<uint32_t>(paths.size()));
    if (answer & 1) {
        for (const std::u16string& p : paths) {
            const std::u16string name = ArchiveEntryName(p);
            HarrowEntry entry{name.c_str(), 0, 0, request->encryption, p.c_str()};
            answer = reinterpret_cast<HARROW_Archive_AddFile_t>(h.HARROW_Archive_AddFile)(handle, &entry);
            if ((answer & 1) == 0) break;
        }
        if (answer & 1)
            reinterpret_cast<HARROW_Archive_ProceedNewArchive_t>(h.HARROW_Archive_ProceedNewArchive)(
                handle, request->targetPath ? request->targetPath : u"");
    }
    events->archive->open = false;
    reinterpret_cast<HARROW_Archive_Close_t>(h.HARROW_Archive_Close)(handle);
}
