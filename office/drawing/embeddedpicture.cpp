#include "office/drawing/embeddedpicture.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "extract/io/h2s_storage.h"
#include "office/drawing/drawingcontext.h"
#include "office/drawing/drawingrecords.h"
#include "platform/codec.h"

namespace {

std::uint16_t Le16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Le32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

// Creates the file exclusively (no existing file, no link followed) and
// writes the parts in order; removes it again on any failure.
bool WriteNewFile(const std::string& path, std::initializer_list<std::pair<const unsigned char*, size_t>> parts)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = true;
    for (const auto& part : parts) {
        size_t done = 0;
        while (ok && done < part.second) {
            size_t n = std::min<size_t>(part.second - done, 1024);
            ssize_t w = ::write(fd, part.first + done, n);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                ok = false;
            else
                done += static_cast<size_t>(w);
        }
    }
    if (::close(fd) != 0)
        ok = false;
    if (!ok)
        ::unlink(path.c_str());
    return ok;
}

// Reads the file to its end without following a link, then removes it.
bool ReadBackAndRemove(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ::unlink(path.c_str());
        return false;
    }
    unsigned char buf[256];
    while (true) {
        ssize_t r = ::read(fd, buf, sizeof buf);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
    }
    ::close(fd);
    ::unlink(path.c_str());
    return true;
}

// The BMP file header for a device-independent bitmap, or false when its
// sizes do not agree.
bool BitmapFileHeader(const unsigned char* dib, size_t count, unsigned char header[14])
{
    if (count < 12)
        return false;
    const std::uint32_t headerSize = Le32(dib);
    std::uint64_t colours = 0;
    if (headerSize == 12) {
        const unsigned bits = Le16(dib + 10);
        colours = (bits >= 24 || bits > 16) ? 0 : 3ull << bits;
    } else {
        if (count < 40 || headerSize < 16)
            return false;
        const unsigned bits = Le16(dib + 14);
        const std::uint32_t used = headerSize >= 36 ? Le32(dib + 32) : 0;
        colours = used ? 4ull * used : ((bits >= 24 || bits > 16) ? 0 : 4ull << bits);
    }
    const std::uint64_t fileSize = 14 + static_cast<std::uint64_t>(count);
    const std::uint64_t pixels = 14 + static_cast<std::uint64_t>(headerSize) + colours;
    if (headerSize != 12) {
        const std::uint32_t imageSize = Le32(dib + 20);
        if (fileSize != pixels + imageSize)
            return false;
    }
    if (fileSize > 0xFFFFFFFFu)
        return false;
    std::memset(header, 0, 14);
    header[0] = 'B';
    header[1] = 'M';
    for (int k = 0; k < 4; ++k) {
        header[2 + k] = static_cast<unsigned char>((fileSize >> (8 * k)) & 0xFF);
        header[10 + k] = static_cast<unsigned char>((pixels >> (8 * k)) & 0xFF);
    }
    return true;
}

}  // namespace

// Writes the picture of a blip record; the path of the file in `path`.
bool WriteBlipFile(const unsigned char* blip, size_t avail, PictureCounters& counters, std::string& path,
                   std::string& extension)
{
    const std::string folder = PictureTempFolder();
    char name[32];
    std::snprintf(name, sizeof name, "$EM%04d.", counters.pictures);
    ++counters.pictures;
    path.clear();
    if (folder.empty() || avail < 8)
        return false;
    const int instance = Le16(blip) >> 4;
    const std::uint64_t bodyLength = Le32(blip + 4);
    // Only bytes inside the block are written.
    const size_t end = static_cast<size_t>(std::min<std::uint64_t>(avail, 8 + bodyLength));
    const unsigned char* body = blip + 8;
    const size_t bodyAvail = end - 8;
    const unsigned char* start = nullptr;
    size_t count = 0;
    bool bitmap = false;
    switch (instance) {
    case officeart::kBlipJpeg:
        extension = "jpg";
        if (bodyAvail > 17) {
            start = body + 17;
            count = bodyAvail - 17;
        }
        break;
    case officeart::kBlipPng:
    case officeart::kBlipPngTwoIds:
        extension = "png";
        for (size_t off = 8; off < 512 && off + 4 <= end; ++off) {
            if (blip[off] == 0x89 && blip[off + 1] == 'P' && blip[off + 2] == 'N' && blip[off + 3] == 'G') {
                start = blip + off;
                count = end - off;
                break;
            }
        }
        break;
    case officeart::kBlipDib:
    case officeart::kBlipDibTwoIds: {
        extension = "bmp";
        const size_t skip = instance == officeart::kBlipDib ? 17 : 33;
        if (bodyAvail > skip) {
            start = body + skip;
            count = bodyAvail - skip;
            bitmap = true;
        }
        break;
    }
    default:
        return false;
    }
    if (!start || !count)
        return false;
    path = folder + "/" + name + extension;
    ::unlink(path.c_str());
    bool ok;
    if (bitmap) {
        unsigned char header[14];
        ok = BitmapFileHeader(start, count, header) && WriteNewFile(path, {{header, 14}, {start, count}});
    } else {
        ok = WriteNewFile(path, {{start, count}});
    }
    if (!ok)
        path.clear();
    return ok;
}

// 1 when the object's storage exists and the picture should be treated as
// the object.
bool CheckEmbeddedObject(plat::CfbStorage* root, std::uint32_t objectNumber, bool havePicture)
{
    if (!root)
        return false;
    plat::CfbPtr<plat::CfbStorage> pool;
    if (!OpenChildStorage(root, u"ObjectPool", pool.put()))
        return false;
    std::u16string name = u"_";
    for (char c : std::to_string(objectNumber))
        name.push_back(static_cast<char16_t>(c));
    plat::CfbPtr<plat::CfbStorage> object;
    if (!OpenChildStorage(pool.get(), name, object.put()))
        return false;
    plat::CfbPtr<plat::CfbStream> summary;
    if (!OpenChildStream(object.get(), u"\x05SummaryInformation", summary.put()))
        return true;
    return !havePicture;
}

bool ReadBackFile(const std::string& path)
{
    return ReadBackAndRemove(path);
}

namespace {

// The folder of this process; the state outlives every static object, so
// that the exit handler can still read it.
struct PictureFolderState {
    // guards: the fields below and the folder's making and removal. Taken
    // alone.
    std::mutex lock;
    std::string folder;
    pid_t owner = 0;  // the process that made the folder
    bool handlerRegistered = false;
};

PictureFolderState& FolderState()
{
    static PictureFolderState* state = new PictureFolderState;
    return *state;
}

// Removes the entries of the folder (links are removed, never followed) and
// the folder itself; only a folder of this user is touched.
void RemoveFolderTree(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
        ::close(fd);
        return;
    }
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    std::vector<std::string> names;
    while (struct dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    }
    for (const std::string& name : names)
        ::unlinkat(::dirfd(dir), name.c_str(), 0);
    ::closedir(dir);
    ::rmdir(folder.c_str());
}

void RemovePictureTempFolderAtExit()
{
    RemovePictureTempFolder();
}

}  // namespace

std::string PictureTempFolder()
{
    PictureFolderState& state = FolderState();
    std::lock_guard<std::mutex> guard(state.lock);
    // A child made by fork() gets a folder of its own; the parent's stays.
    if (!state.folder.empty() && state.owner == ::getpid())
        return state.folder;
    state.folder.clear();
    const char* tmp = std::getenv("TMPDIR");
    std::string base = (tmp && *tmp) ? tmp : "/tmp";
    std::string pattern = base + "/privasweep-pictures-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data()))
        return std::string();
    state.folder = buf.data();
    state.owner = ::getpid();
    if (!state.handlerRegistered)
        state.handlerRegistered = std::atexit(RemovePictureTempFolderAtExit) == 0;
    return state.folder;
}

void RemovePictureTempFolder()
{
    PictureFolderState& state = FolderState();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.folder.empty() || state.owner != ::getpid())
        return;
    RemoveFolderTree(state.folder);
    state.folder.clear();
}

PictureResult ProcessPicture(const unsigned char* block, size_t blockSize, std::uint32_t objectNumber,
                             plat::CfbStorage* root, PictureCounters& counters)
{
    // Nothing of a picture reaches the extracted text: a picture block that
    // contradicts itself is passed over without marking the document.
    PictureResult result;
    if (!block || blockSize < 12)
        return result;
    const std::uint64_t total = std::min<std::uint64_t>(Le32(block), blockSize);
    const std::uint16_t headerLength = Le16(block + 4);
    if (total < headerLength)
        return result;
    const unsigned char* data = block + headerLength;
    const size_t remaining = static_cast<size_t>(total - headerLength);

    // A picture that names its file.
    if (Le16(block + 8) != 0 && Le16(block + 10) != 0 && remaining >= 1) {
        const int n = static_cast<signed char>(data[0]);
        if (n >= 1 && static_cast<size_t>(n) + 9 <= remaining) {
            const unsigned char* rec = data + 1 + n;
            const std::uint64_t recLength = Le32(rec + 4);
            if (n + 9 + recLength <= remaining) {
                DrawingContext probe;
                probe.ParseRecords(rec, static_cast<size_t>(recLength + 8));
                const std::u16string* pictureName = probe.Root() ? probe.Root()->GetPictureName() : nullptr;
                if (pictureName) {
                    std::u16string narrow = plat::DecodeCodePage(
                        949, std::string_view(reinterpret_cast<const char*>(data + 1), static_cast<size_t>(n)));
                    if (!narrow.empty() && *pictureName == narrow) {
                        result.linked = true;
                        result.linkName = narrow;
                        return result;
                    }
                }
            }
        }
    }

    DrawingContext ctx;
    std::string picturePath;
    bool written = false;
    if (remaining >= 8) {
        const std::uint64_t first = std::uint64_t(Le32(data + 4)) + 8;
        if (first <= remaining) {
            ctx.ParseRecords(data, static_cast<size_t>(first));
            const size_t behind = remaining - static_cast<size_t>(first);
            if (behind > 44) {
                const unsigned char* blip = data + first + 44;
                written = WriteBlipFile(blip, behind - 44, counters, picturePath, result.savedExtension);
            }
        }
    }
    if (objectNumber != 0 && CheckEmbeddedObject(root, objectNumber, !picturePath.empty())) {
        result.object = true;
        ++counters.objects;
        if (!picturePath.empty())
            ::unlink(picturePath.c_str());
    } else if (written) {
        ReadBackAndRemove(picturePath);
    }
    result.saved = written;
    if (!result.saved)
        result.savedExtension.clear();
    return result;
}
