// The archive engine: builds password-protected ZIP archives (ZIP 2.0
// traditional encryption, AES-128, AES-256; deflate) over libzip.
//
// The engine opens no archive file itself. Every archive stream is opened,
// written, read and closed by the program through the events of
// core/harrowabi.h; the engine only reads the documents it adds. After an
// archive has been written and closed it is opened again through the
// program, decrypted with the password and compared with what was read from
// each document (CRC-32 and size; for AES also the entry's authentication
// code). Only then does the item-end event carry kHarrowItemVerified.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/harrowabi.h"

namespace {

constexpr uint32_t kZipFormatId = 0x5A495031;  // "ZIP1"
const HarrowFormatInfo kZipFormat = {kZipFormatId, 0x3, {0, 0, 0, 0, 0}, 1, u"ZIP"};

std::string ToUtf8(const char16_t* s)
{
    std::string out;
    if (!s) return out;
    for (size_t i = 0; s[i]; ++i) {
        uint32_t c = s[i];
        if (c >= 0xDC80 && c <= 0xDCFF) {  // a raw byte of a name that is not UTF-8
            out.push_back(static_cast<char>(c - 0xDC00));
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

void Wipe(std::string& s)
{
    if (!s.empty()) explicit_bzero(s.data(), s.size());
    s.clear();
}

struct Entry {
    std::u16string name;
    std::u16string source;
    uint32_t encryption = 0;
    // What was read from the document while it was added.
    uint64_t bytesRead = 0;
    uLong crc = 0;
    bool opened = false;
    bool readError = false;
    bool changed = false;
    int32_t result = kHarrowItemFailed;
};

struct Archive {
    HarrowEventRegistration registration{};
    bool prepared = false;
    std::vector<Entry> entries;
    // Set once the program has answered a progress event with "stop".
    bool cancelled = false;
    uint64_t bytesDone = 0;
    uint64_t bytesTotal = 0;
    uint64_t lastReported = 0;

    uint32_t Raise(HarrowEvent& e)
    {
        if (!registration.callback) return kHarrowOk;
        return registration.callback(registration.object, &e);
    }
    // Raises a progress event; false (and cancelled) when the program asks to stop.
    bool Progress()
    {
        if (cancelled) return false;
        HarrowEvent e{};
        e.type = kHarrowEventProgress;
        e.bytesDone = bytesDone;
        e.bytesTotal = bytesTotal;
        if (Raise(e) != kHarrowOk) cancelled = true;
        return !cancelled;
    }
};

// ---- The document being added: read by the engine, CRC computed on the way ----

struct DocumentSource {
    Archive* archive = nullptr;
    size_t index = 0;
    std::string path;
    int fd = -1;
    struct stat before{};
    zip_error_t error{};
};

zip_int64_t DocumentSourceCallback(void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd)
{
    auto* s = static_cast<DocumentSource*>(state);
    Entry& entry = s->archive->entries[s->index];
    switch (cmd) {
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SUPPORTS, -1);
    case ZIP_SOURCE_OPEN: {
        if (s->archive->cancelled) {
            zip_error_set(&s->error, ZIP_ER_CANCELLED, 0);
            return -1;
        }
        s->fd = open(s->path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (s->fd < 0 || fstat(s->fd, &s->before) != 0 || !S_ISREG(s->before.st_mode)) {
            entry.readError = true;
            zip_error_set(&s->error, ZIP_ER_OPEN, s->fd < 0 ? errno : EINVAL);
            if (s->fd >= 0) close(s->fd);
            s->fd = -1;
            return -1;
        }
        posix_fadvise(s->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        entry.opened = true;
        entry.bytesRead = 0;
        entry.crc = crc32(0L, Z_NULL, 0);
        HarrowEvent e{};
        e.type = kHarrowEventItemBegin;
        e.itemIndex = static_cast<uint32_t>(s->index);
        e.itemName = entry.name.c_str();
        e.itemPath = entry.source.c_str();
        s->archive->Raise(e);
        return 0;
    }
    case ZIP_SOURCE_READ: {
        if (s->archive->cancelled) {
            zip_error_set(&s->error, ZIP_ER_CANCELLED, 0);
            return -1;
        }
        ssize_t n;
        do {
            n = read(s->fd, data, len);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            entry.readError = true;
            zip_error_set(&s->error, ZIP_ER_READ, errno);
            return -1;
        }
        entry.crc = crc32_z(entry.crc, static_cast<const Bytef*>(data), static_cast<size_t>(n));
        entry.bytesRead += static_cast<uint64_t>(n);
        s->archive->bytesDone += static_cast<uint64_t>(n);
        // The program is asked whether to go on after every 256 KiB.
        if (s->archive->bytesDone - s->archive->lastReported >= (256u << 10) || n == 0) {
            s->archive->lastReported = s->archive->bytesDone;
            if (!s->archive->Progress()) {
                zip_error_set(&s->error, ZIP_ER_CANCELLED, 0);
                return -1;
            }
        }
        return n;
    }
    case ZIP_SOURCE_CLOSE: {
        if (s->fd >= 0) {
            struct stat after{};
            if (fstat(s->fd, &after) != 0 || after.st_size != s->before.st_size ||
                after.st_mtim.tv_sec != s->before.st_mtim.tv_sec ||
                after.st_mtim.tv_nsec != s->before.st_mtim.tv_nsec ||
                entry.bytesRead != static_cast<uint64_t>(s->before.st_size))
                entry.changed = true;
            close(s->fd);
            s->fd = -1;
        }
        return 0;
    }
    case ZIP_SOURCE_STAT: {
        auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &s->error);
        if (!st) return -1;
        zip_stat_init(st);
        struct stat info{};
        if (stat(s->path.c_str(), &info) == 0) {
            st->mtime = info.st_mtime;
            st->size = static_cast<zip_uint64_t>(info.st_size);
            st->valid |= ZIP_STAT_MTIME | ZIP_STAT_SIZE;
        }
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&s->error, data, len);
    case ZIP_SOURCE_FREE:
        if (s->fd >= 0) close(s->fd);
        delete s;
        return 0;
    default: zip_error_set(&s->error, ZIP_ER_OPNOTSUPP, 0); return -1;
    }
}

// ---- The archive being written: every byte goes through the program ----

struct WriteTarget {
    Archive* archive = nullptr;
    std::u16string targetPath;
    std::u16string fileName;
    HarrowWriteCallbacks callbacks{};
    bool open = false;
    bool committed = false;
    uint64_t position = 0;
    uint64_t end = 0;
    zip_error_t error{};
};

uint32_t CloseWrite(WriteTarget* t)
{
    HarrowEvent e{};
    e.type = kHarrowEventCloseWrite;
    e.writeCallbacks = &t->callbacks;
    t->open = false;
    return t->archive->Raise(e);
}

bool SeekTo(const HarrowSeekFn seek, void* context, uint64_t to)
{
    uint64_t at = 0;
    seek(context, static_cast<uint32_t>(to & 0xFFFFFFFFu), static_cast<int32_t>(to >> 32), 0, &at);
    return at == to;
}

zip_int64_t WriteTargetCallback(void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd)
{
    auto* t = static_cast<WriteTarget*>(state);
    switch (cmd) {
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                              ZIP_SOURCE_SUPPORTS, ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_COMMIT_WRITE,
                                              ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE,
                                              ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, -1);
    case ZIP_SOURCE_STAT:
        // A new archive: nothing exists yet.
        zip_error_set(&t->error, ZIP_ER_READ, ENOENT);
        return -1;
    case ZIP_SOURCE_BEGIN_WRITE: {
        HarrowEvent e{};
        e.type = kHarrowEventCreateWrite;
        e.fileName = t->fileName.c_str();
        e.writeCallbacks = &t->callbacks;
        e.targetPath = t->targetPath.c_str();
        const uint32_t answer = t->archive->Raise(e);
        if ((answer & 1) == 0 || !t->callbacks.write || !t->callbacks.context) {
            zip_error_set(&t->error, ZIP_ER_OPEN, answer == 0x1000300 ? EEXIST : EIO);
            return -1;
        }
        t->open = true;
        t->position = t->end = 0;
        return 0;
    }
    case ZIP_SOURCE_WRITE: {
        const auto* p = static_cast<const unsigned char*>(data);
        zip_uint64_t left = len;
        while (left > 0) {
            const uint32_t chunk = left > (1u << 30) ? (1u << 30) : static_cast<uint32_t>(left);
            uint32_t written = 0;
            t->callbacks.write(t->callbacks.context, p, chunk, &written);
            if (written != chunk) {
                zip_error_set(&t->error, ZIP_ER_WRITE, ENOSPC);
                return -1;
            }
            p += chunk;
            left -= chunk;
            t->position += chunk;
        }
        if (t->position > t->end) t->end = t->position;
        return static_cast<zip_int64_t>(len);
    }
    case ZIP_SOURCE_SEEK_WRITE: {
        const zip_int64_t to = zip_source_seek_compute_offset(t->position, t->end, data, len, &t->error);
        if (to < 0) return -1;
        if (!SeekTo(t->callbacks.seek, t->callbacks.context, static_cast<uint64_t>(to))) {
            zip_error_set(&t->error, ZIP_ER_SEEK, EIO);
            return -1;
        }
        t->position = static_cast<uint64_t>(to);
        return 0;
    }
    case ZIP_SOURCE_TELL_WRITE: return static_cast<zip_int64_t>(t->position);
    case ZIP_SOURCE_COMMIT_WRITE:
        // The close makes the data durable; its failure means the archive is not complete.
        if (CloseWrite(t) != kHarrowOk) {
            zip_error_set(&t->error, ZIP_ER_WRITE, EIO);
            return -1;
        }
        t->committed = true;
        return 0;
    case ZIP_SOURCE_ROLLBACK_WRITE:
        if (t->open) CloseWrite(t);
        return 0;
    case ZIP_SOURCE_REMOVE: return 0;
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_CLOSE: return 0;
    case ZIP_SOURCE_READ: zip_error_set(&t->error, ZIP_ER_READ, EIO); return -1;
    case ZIP_SOURCE_SEEK:
    case ZIP_SOURCE_TELL: return 0;
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&t->error, data, len);
    case ZIP_SOURCE_FREE: return 0;  // owned by ProceedNewArchive
    default: zip_error_set(&t->error, ZIP_ER_OPNOTSUPP, 0); return -1;
    }
}

// ---- The written archive read back through the program ----

struct ReadBack {
    HarrowReadCallbacks callbacks{};
    uint64_t size = 0;
    uint64_t position = 0;
    zip_error_t error{};
};

zip_int64_t ReadBackCallback(void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd)
{
    auto* r = static_cast<ReadBack*>(state);
    switch (cmd) {
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                              ZIP_SOURCE_SUPPORTS, -1);
    case ZIP_SOURCE_OPEN:
        r->position = 0;
        return SeekTo(r->callbacks.seek, r->callbacks.context, 0) ? 0 : (zip_error_set(&r->error, ZIP_ER_SEEK, EIO), -1);
    case ZIP_SOURCE_READ: {
        const uint32_t chunk = len > (1u << 30) ? (1u << 30) : static_cast<uint32_t>(len);
        uint32_t got = 0;
        r->callbacks.read(r->callbacks.context, data, chunk, &got);
        r->position += got;
        return got;
    }
    case ZIP_SOURCE_SEEK: {
        const zip_int64_t to = zip_source_seek_compute_offset(r->position, r->size, data, len, &r->error);
        if (to < 0) return -1;
        if (!SeekTo(r->callbacks.seek, r->callbacks.context, static_cast<uint64_t>(to))) {
            zip_error_set(&r->error, ZIP_ER_SEEK, EIO);
            return -1;
        }
        r->position = static_cast<uint64_t>(to);
        return 0;
    }
    case ZIP_SOURCE_TELL: return static_cast<zip_int64_t>(r->position);
    case ZIP_SOURCE_STAT: {
        auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &r->error);
        if (!st) return -1;
        zip_stat_init(st);
        st->size = r->size;
        st->valid |= ZIP_STAT_SIZE;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_CLOSE: return 0;
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&r->error, data, len);
    case ZIP_SOURCE_FREE: return 0;  // owned by Verify
    default: zip_error_set(&r->error, ZIP_ER_OPNOTSUPP, 0); return -1;
    }
}

uint16_t ZipMethod(uint32_t encryption)
{
    switch (encryption) {
    case kHarrowEncryptZip20: return ZIP_EM_TRAD_PKWARE;
    case kHarrowEncryptAes128: return ZIP_EM_AES_128;
    case kHarrowEncryptAes256: return ZIP_EM_AES_256;
    default: return ZIP_EM_NONE;
    }
}

bool IsAes(uint32_t encryption) { return encryption == kHarrowEncryptAes128 || encryption == kHarrowEncryptAes256; }

// Whether an entry's stored CRC-32 is the one read from the document.
// Traditional encryption always stores it. An AES entry need not: in the
// AE-2 kind its headers hold 0, and writers leave the CRC out so for entries
// under 20 bytes (an empty document among them), whose CRC would give their
// few bytes away; the reader then reports it as absent. Such an entry is
// still checked: its authentication code (AuthenticationHolds), and the
// CRC-32 and size of the bytes decrypted against the document's.
bool CrcAsStored(const zip_stat_t& st, const Entry& entry)
{
    if (st.valid & ZIP_STAT_CRC) return st.crc == entry.crc;
    return IsAes(entry.encryption);
}

// Whether an AES entry's authentication code matches its stored data. The
// code follows the data and is compared only by a read that reaches the end
// of the data; the inflater stops at the end of the deflate stream and never
// makes that read, so the data is read here once more, decrypted but not
// inflated, to its end. Clients check the code before they give anything
// out: an entry whose code is wrong cannot be extracted, even when its data
// still inflates to the document's bytes (a changed bit after the end of the
// deflate stream does).
bool AuthenticationHolds(zip_t* za, zip_uint64_t index, std::vector<unsigned char>& buffer)
{
    zip_file_t* f = zip_fopen_index(za, index, ZIP_FL_COMPRESSED);
    if (!f) return false;
    bool ok = true;
    for (;;) {
        const zip_int64_t n = zip_fread(f, buffer.data(), buffer.size());
        if (n < 0) ok = false;
        if (n <= 0) break;
    }
    if (zip_fclose(f) != 0) ok = false;
    return ok;
}

// Opens the archive again through the program and checks every entry: the
// encryption asked for, the size and CRC-32 read from the document (the CRC
// as far as the entry stores one), the data decrypted with the password and,
// for AES, its authentication code. Sets each entry's result.
void Verify(Archive& a, const std::u16string& target, const std::string& password)
{
    ReadBack rb;
    HarrowEvent open{};
    open.type = kHarrowEventOpenRead;
    open.volume = 0;
    open.readCallbacks = &rb.callbacks;
    open.volumeName = target.c_str();
    if ((a.Raise(open) & 1) == 0 || !rb.callbacks.read || !rb.callbacks.context) {
        for (Entry& e : a.entries) e.result = kHarrowItemFailed;
        return;
    }
    rb.callbacks.size(rb.callbacks.context, &rb.size);
    zip_error_t err;
    zip_error_init(&err);
    zip_source_t* src = zip_source_function_create(ReadBackCallback, &rb, &err);
    zip_t* za = src ? zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &err) : nullptr;
    if (!za && src) zip_source_free(src);
    if (za) zip_set_default_password(za, password.c_str());
    std::vector<unsigned char> buffer(1u << 16);
    for (size_t i = 0; i < a.entries.size(); ++i) {
        Entry& entry = a.entries[i];
        if (entry.result != kHarrowItemVerified) continue;  // already failed while writing
        entry.result = kHarrowItemMismatch;
        if (!za || zip_get_num_entries(za, 0) != static_cast<zip_int64_t>(a.entries.size())) continue;
        zip_stat_t st;
        if (zip_stat_index(za, i, 0, &st) != 0) continue;
        if (!(st.valid & ZIP_STAT_SIZE) || !(st.valid & ZIP_STAT_ENCRYPTION_METHOD)) continue;
        if (st.size != entry.bytesRead || st.encryption_method != ZipMethod(entry.encryption)) continue;
        if (!CrcAsStored(st, entry)) continue;
        zip_file_t* f = zip_fopen_index(za, i, 0);
        if (!f) continue;
        uLong crc = crc32(0L, Z_NULL, 0);
        uint64_t total = 0;
        bool ok = true;
        for (;;) {
            const zip_int64_t n = zip_fread(f, buffer.data(), buffer.size());
            if (n < 0) {
                ok = false;  // includes a CRC error found by libzip at the end
                break;
            }
            if (n == 0) break;
            crc = crc32_z(crc, buffer.data(), static_cast<size_t>(n));
            total += static_cast<uint64_t>(n);
        }
        if (zip_fclose(f) != 0) ok = false;
        if (ok && IsAes(entry.encryption)) ok = AuthenticationHolds(za, i, buffer);
        if (ok && total == entry.bytesRead && crc == entry.crc) entry.result = kHarrowItemVerified;
    }
    if (za) zip_discard(za);
    explicit_bzero(buffer.data(), buffer.size());
    zip_error_fini(&err);
    HarrowEvent close{};
    close.type = kHarrowEventCloseRead;
    close.readCallbacks = &rb.callbacks;
    a.Raise(close);
}

int CancelCallback(zip_t*, void* state)
{
    auto* a = static_cast<Archive*>(state);
    return a->Progress() ? 0 : 1;
}

Archive* FromHandle(HarrowHandle h) { return reinterpret_cast<Archive*>(h); }

}  // namespace

extern "C" {

__attribute__((visibility("default"))) uint32_t HARROW_StartUp(const HarrowStartRecord* record)
{
    return record && record->size == sizeof(HarrowStartRecord) ? 1 : 0;
}

__attribute__((visibility("default"))) uint32_t HARROW_ShutDown() { return 1; }

__attribute__((visibility("default"))) HarrowHandle HARROW_CreateArchive(const HarrowEventRegistration* reg)
{
    if (!reg || !reg->callback) return 0;
    auto* a = new Archive;
    a->registration = *reg;
    return reinterpret_cast<HarrowHandle>(a);
}

__attribute__((visibility("default"))) uint32_t HARROW_DeleteArchive(HarrowHandle h)
{
    delete FromHandle(h);
    return 1;
}

__attribute__((visibility("default"))) const HarrowFormatInfo* HARROW_GetFormatFromName(const char16_t* name)
{
    if (!name) return nullptr;
    const char16_t* z = u"ZIP";
    for (size_t i = 0;; ++i) {
        char16_t c = name[i];
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
        if (c != z[i]) return nullptr;
        if (!c) return &kZipFormat;
    }
}

__attribute__((visibility("default"))) uint32_t HARROW_Archive_PrepareNewArchive(HarrowHandle h,
                                                                                 const HarrowNewArchive* rec,
                                                                                 uint32_t count)
{
    Archive* a = FromHandle(h);
    if (!a || !rec || rec->formatId != kZipFormatId) return 0;
    a->entries.clear();
    a->entries.reserve(count);
    a->prepared = true;
    a->cancelled = false;
    return 1;
}

__attribute__((visibility("default"))) uint32_t HARROW_Archive_AddFile(HarrowHandle h, const HarrowEntry* rec)
{
    Archive* a = FromHandle(h);
    if (!a || !a->prepared || !rec || !rec->entryName || !rec->sourcePath || !rec->entryName[0]) return 0;
    if (ZipMethod(rec->encryption) == ZIP_EM_NONE) return 0;  // never an archive without a password
    Entry e;
    e.name = rec->entryName;
    e.source = rec->sourcePath;
    e.encryption = rec->encryption;
    a->entries.push_back(std::move(e));
    return 1;
}

__attribute__((visibility("default"))) uint32_t HARROW_Archive_ProceedNewArchive(HarrowHandle h,
                                                                                 const char16_t* target)
{
    Archive* a = FromHandle(h);
    if (!a || !a->prepared || !target || !target[0]) return 0;
    a->bytesDone = a->lastReported = 0;
    a->bytesTotal = 0;
    for (Entry& e : a->entries) {
        e.result = kHarrowItemFailed;
        struct stat st{};
        if (stat(ToUtf8(e.source.c_str()).c_str(), &st) == 0) a->bytesTotal += static_cast<uint64_t>(st.st_size);
    }
    auto endItems = [a] {
        for (size_t i = 0; i < a->entries.size(); ++i) {
            HarrowEvent e{};
            e.type = kHarrowEventItemEnd;
            e.itemIndex = static_cast<uint32_t>(i);
            e.itemName = a->entries[i].name.c_str();
            e.itemPath = a->entries[i].source.c_str();
            e.itemResult = a->entries[i].result;
            a->Raise(e);
        }
    };

    // The password, asked once per archive; without one nothing is written.
    HarrowEvent ask{};
    ask.type = kHarrowEventPassword;
    const uint32_t answer = a->Raise(ask);
    std::string password = ToUtf8(ask.password);
    if (answer != kHarrowOk || password.empty()) {
        Wipe(password);
        endItems();
        return 0;
    }
    if (a->entries.empty()) {
        Wipe(password);
        return 1;  // an archive without entries is not written
    }

    WriteTarget target_{};
    target_.archive = a;
    target_.targetPath = target;
    const std::u16string t(target);
    const size_t slash = t.find_last_of(u'/');
    target_.fileName = slash == std::u16string::npos ? t : t.substr(slash + 1);
    zip_error_t err;
    zip_error_init(&err);
    zip_source_t* out = zip_source_function_create(WriteTargetCallback, &target_, &err);
    zip_t* za = out ? zip_open_from_source(out, ZIP_CREATE, &err) : nullptr;
    bool ok = za != nullptr;
    if (!za && out) zip_source_free(out);
    for (size_t i = 0; ok && i < a->entries.size(); ++i) {
        Entry& entry = a->entries[i];
        auto* ds = new DocumentSource;
        ds->archive = a;
        ds->index = i;
        ds->path = ToUtf8(entry.source.c_str());
        zip_error_init(&ds->error);
        zip_source_t* src = zip_source_function_create(DocumentSourceCallback, ds, &err);
        if (!src) {
            delete ds;
            ok = false;
            break;
        }
        const std::string name = ToUtf8(entry.name.c_str());
        const zip_int64_t idx = zip_file_add(za, name.c_str(), src, ZIP_FL_ENC_GUESS);
        if (idx < 0) {
            zip_source_free(src);
            ok = false;
            break;
        }
        struct stat st{};
        if (stat(ds->path.c_str(), &st) == 0) zip_file_set_mtime(za, static_cast<zip_uint64_t>(idx), st.st_mtime, 0);
        if (zip_set_file_compression(za, static_cast<zip_uint64_t>(idx), ZIP_CM_DEFLATE, 0) != 0 ||
            zip_file_set_encryption(za, static_cast<zip_uint64_t>(idx), ZipMethod(entry.encryption),
                                    password.c_str()) != 0)
            ok = false;
    }
    if (ok) {
        zip_register_cancel_callback_with_state(za, CancelCallback, nullptr, a);
        // zip_close writes everything: reads the documents, encrypts, and
        // commits the archive through the program's close.
        ok = zip_close(za) == 0;
        if (!ok) zip_discard(za);
    } else if (za) {
        zip_discard(za);
    }
    zip_error_fini(&err);

    if (ok && target_.committed && !a->cancelled) {
        for (Entry& e : a->entries)
            e.result = e.readError ? kHarrowItemSourceError : e.changed ? kHarrowItemChanged : kHarrowItemVerified;
        Verify(*a, t, password);
    } else {
        for (Entry& e : a->entries)
            e.result = a->cancelled ? kHarrowItemCancelled : e.readError ? kHarrowItemSourceError : kHarrowItemFailed;
    }
    Wipe(password);
    endItems();
    bool all = true;
    for (const Entry& e : a->entries) all = all && e.result == kHarrowItemVerified;
    return all ? 1 : 0;
}

__attribute__((visibility("default"))) uint32_t HARROW_Archive_Close(HarrowHandle h)
{
    Archive* a = FromHandle(h);
    if (!a) return 0;
    a->prepared = false;
    a->entries.clear();
    return 1;
}

// Entry points of reading and modifying existing archives: the program never
// calls them, and this engine does not offer them.
#define HARROW_UNSUPPORTED(name) \
    __attribute__((visibility("default"))) uint32_t name(HarrowHandle, void*) { return 0; }
HARROW_UNSUPPORTED(HARROW_GetGlobalFormatInfo)
HARROW_UNSUPPORTED(HARROW_GetFormatPresetInfo)
HARROW_UNSUPPORTED(HARROW_GetFormatFromFormat)
HARROW_UNSUPPORTED(HARROW_Archive_Open)
HARROW_UNSUPPORTED(HARROW_Archive_CheckFormat)
HARROW_UNSUPPORTED(HARROW_Archive_GetArchiveInfo)
HARROW_UNSUPPORTED(HARROW_Archive_GetFileInfo)
HARROW_UNSUPPORTED(HARROW_Archive_GetFormatInfo)
HARROW_UNSUPPORTED(HARROW_Archive_PrepareModify)
HARROW_UNSUPPORTED(HARROW_Archive_Add)
HARROW_UNSUPPORTED(HARROW_Archive_Rename)
HARROW_UNSUPPORTED(HARROW_Archive_RenameFile)
HARROW_UNSUPPORTED(HARROW_Archive_Delete)
HARROW_UNSUPPORTED(HARROW_Archive_DeleteFile)
HARROW_UNSUPPORTED(HARROW_Archive_ProceedModify)
HARROW_UNSUPPORTED(HARROW_Archive_Extract)
HARROW_UNSUPPORTED(HARROW_Archive_ExtractAll)

}  // extern "C"
