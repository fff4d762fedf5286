#include "core/docarchiver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include <openssl/evp.h>

#include "core/util.h"
#include "platform/pending.h"
#include "platform/text.h"

namespace {
const char16_t kStartText[] = u"Privasweep";

void WipeText(std::u16string& s)
{
    if (!s.empty()) explicit_bzero(s.data(), s.size() * sizeof(char16_t));
    s.clear();
    s.shrink_to_fit();
}
}  // namespace

DocumentArchiver::DocumentArchiver() : handler_(this) {}

DocumentArchiver::~DocumentArchiver()
{
    ClearPassword();
    archive_.reset();  // releases the engine's archive before the module goes
}

bool DocumentArchiver::Start()
{
    if (Started()) return true;
    if (!loader_.Load()) return false;
    HarrowStartRecord start{sizeof(HarrowStartRecord), kStartText, kStartText};
    reinterpret_cast<HARROW_StartUp_t>(loader_.HARROW_StartUp)(&start);
    const HarrowHandle h =
        reinterpret_cast<HARROW_CreateArchive_t>(loader_.HARROW_CreateArchive)(&handler_.registration);
    archive_ = std::make_unique<harrow::Archive>(h, &loader_);
    handler_.harrow = &loader_;
    handler_.archive = archive_.get();
    return h != 0;
}

void DocumentArchiver::SetPassword(const std::u16string& password)
{
    WipeText(password_);
    password_ = password;
}

void DocumentArchiver::ClearPassword() { WipeText(password_); }

namespace {

// What identifies the bytes of a document: a file replaced, rewritten or
// appended to since shows another inode, size, modification or change time.
bool SameFileState(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// File times are taken from a clock that may lag the real one by a tick,
// and some file systems keep them to the second or two: a document changed
// this shortly before it is first looked at could change again and keep the
// same times. Its bytes are compared instead.
constexpr int64_t kRacyWindowNs = 3'000'000'000;

int64_t Nanoseconds(const timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

// Opens the document by its name in its held folder, a link at the name not
// followed.
int OpenDocumentIn(const DocumentFolder& folder)
{
    return openat(folder.Fd(), folder.Name().c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
}

// SHA-256 of a file's bytes; false when it cannot be read to its end or the
// stop flag is raised.
bool DigestOf(const DocumentFolder& folder, unsigned char (&digest)[32], const std::atomic<bool>* stop)
{
    const int fd = OpenDocumentIn(folder);
    if (fd < 0) return false;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1;
    std::vector<unsigned char> buffer(1u << 20);
    while (ok) {
        if (stop && stop->load()) {
            ok = false;
            break;
        }
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        ok = EVP_DigestUpdate(ctx, buffer.data(), static_cast<size_t>(n)) == 1;
    }
    unsigned int length = 0;
    ok = ok && EVP_DigestFinal_ex(ctx, digest, &length) == 1 && length == 32;
    EVP_MD_CTX_free(ctx);
    close(fd);
    return ok;
}

// A temporary archive name listed for deletion at the next start whose file
// is gone (renamed or removed) or was never ours leaves the list: the list
// would otherwise grow by one entry for every document archived, and the
// settings file with it.
void ForgetPendingDeletion(const std::u16string& temp)
{
    plat::KeyStore& store = plat::KeyStore::User();
    for (const auto& [name, value] : store.Values(plat::kPendingDeleteKey))
        if (value.type == plat::KeyValue::Type::String && value.text == temp)
            store.DeleteValue(plat::kPendingDeleteKey, name);
}

// Removes a temporary archive (its name in the held folder; temp is the
// name it is listed under) that was not completed; it stays listed for the
// next start when it cannot be removed now.
void RemoveTemporary(const DocumentFolder& folder, const std::string& name, const std::u16string& temp, bool created)
{
    if (!created || unlinkat(folder.Fd(), name.c_str(), 0) == 0 || errno == ENOENT) ForgetPendingDeletion(temp);
}

// Flushes the held folder's entries to the disk (after a rename).
void SyncFolder(const DocumentFolder& folder)
{
    const int fd = openat(folder.Fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// Why the engine could not read the document: the errno of an open of our
// own, as the engine's open would have met it.
std::u16string SourceErrorText(const DocumentFolder& folder)
{
    const int fd = OpenDocumentIn(folder);
    if (fd < 0) return u"문서를 읽지 못함 (" + FileErrorText(errno) + u")";
    close(fd);
    return u"문서를 읽지 못함";
}

}  // namespace

ArchiveOutcome DocumentArchiver::EncryptDocument(const std::u16string& path, const plat::FileIdentity& expected)
{
    lastArchive_.clear();
    lastReason_.clear();
    itemResult_ = -1;
    engineSource_.clear();
    shownSource_.clear();
    if (!Started()) {
        lastReason_ = u"압축 엔진을 사용할 수 없음";
        return ArchiveOutcome::Failed;
    }
    if (password_.empty()) {
        lastReason_ = u"암호가 없음";
        return ArchiveOutcome::Failed;
    }
    if (stopFlag && stopFlag->load()) return ArchiveOutcome::Cancelled;

    // Everything happens inside the document's folder, held open: the
    // engine reads the document there, the temporary archive is written,
    // renamed and the document removed there, even when a folder of the
    // path is replaced meanwhile. The names the user sees, the logs and the
    // pending-deletion list keep the real path.
    const DocumentFolder folder(path);
    if (!folder.Opened()) {
        lastReason_ = FileErrorText(folder.OpenError());
        return ArchiveOutcome::Failed;
    }
    // The state of the document before the engine reads it: it must be the
    // file the search read, and it is removed at the end only when it is
    // still exactly that.
    timespec started{};
    clock_gettime(CLOCK_REALTIME, &started);
    struct stat document{};
    int statError = 0;
    switch (CheckDocumentIdentity(folder, expected, &statError, &document)) {
    case IdentityCheck::Same: break;
    case IdentityCheck::Replaced:
        lastReason_ = statError == EISDIR    ? FileErrorText(EISDIR)
                      : expected.Known()     ? std::u16string(kDocumentReplacedText)
                                             : std::u16string(u"일반 파일이 아님");
        return ArchiveOutcome::Failed;
    case IdentityCheck::Missing:
    case IdentityCheck::Failed: lastReason_ = FileErrorText(statError); return ArchiveOutcome::Failed;
    }
    const bool racy = Nanoseconds(document.st_ctim) > Nanoseconds(started) - kRacyWindowNs ||
                      Nanoseconds(document.st_mtim) > Nanoseconds(started) - kRacyWindowNs;
    unsigned char digestBefore[32] = {};
    if (racy && !DigestOf(folder, digestBefore, stopFlag)) {
        if (stopFlag && stopFlag->load()) return ArchiveOutcome::Cancelled;
        lastReason_ = SourceErrorText(folder);
        return ArchiveOutcome::Failed;
    }
    engineSource_ = folder.PathInside(folder.Name());
    shownSource_ = path;
    const std::u16string list = engineSource_ + u"\n";
    std::u16string temp;        // as listed for the next start
    std::string tempName;       // in the folder
    std::u16string tempInside;  // as the engine writes it
    for (int attempt = 0; attempt < 8; ++attempt) {
        temp = MakeTemporaryArchiveName(folder.ShownPath(folder.Name()));
        tempName = plat::PathToNative(GetFileNamePart(temp));
        tempInside = folder.PathInside(tempName);
        // Listed for the next start first, so that an archive left half
        // written by a crash is removed then (once renamed, the name is gone).
        plat::DeleteAtNextStart(temp);
        itemEnded_ = false;
        itemResult_ = -1;
        CreateZipRequest request;
        request.targetPath = tempInside.c_str();
        request.fileList = list.c_str();
        request.encryption = static_cast<uint32_t>(algorithm_);
        CreateZipArchive(&handler_, &request);
        if (handler_.lastCreateAnswer != 0x1000300) break;
        // A name taken meanwhile belongs to someone else: off the list, and
        // another name.
        ForgetPendingDeletion(temp);
    }
    const bool created = handler_.lastCreateAnswer == 1 && handler_.lastCreatedPath == tempInside;
    const bool complete = created && itemEnded_ && itemResult_ == kHarrowItemVerified && handler_.lastCloseAnswer == 1;
    if (!complete) {
        RemoveTemporary(folder, tempName, temp, created);
        const bool stopped = itemResult_ == kHarrowItemCancelled || (stopFlag && stopFlag->load());
        if (stopped) return ArchiveOutcome::Cancelled;
        // The archive's own failure first (no space, no right to write),
        // then what the engine said of the document.
        if (handler_.lastError != 0)
            lastReason_ = u"압축 파일을 쓰지 못함 (" + FileErrorText(handler_.lastError) + u")";
        else if (itemResult_ == kHarrowItemChanged)
            lastReason_ = u"암호화하는 동안 문서가 바뀜";
        else if (itemResult_ == kHarrowItemSourceError)
            lastReason_ = SourceErrorText(folder);
        else if (itemResult_ == kHarrowItemMismatch)
            lastReason_ = u"압축 파일 확인 실패 (내용이 다름)";
        else
            lastReason_ = u"압축 파일을 만들지 못함";
        return ArchiveOutcome::Failed;
    }
    // The verified archive takes its final name; a name taken meanwhile is
    // never replaced, the next number is taken instead.
    std::string finalName;
    int error = EEXIST;
    for (int attempt = 0; attempt < 16 && error == EEXIST; ++attempt) {
        finalName = MakeArchiveNameIn(folder);
        error = RenameNoReplaceAt(folder.Fd(), tempName, folder.Fd(), finalName);
    }
    if (error != 0) {
        RemoveTemporary(folder, tempName, temp, true);
        lastReason_ = u"압축 파일 이름을 정하지 못함 (" + FileErrorText(error) + u")";
        return ArchiveOutcome::Failed;
    }
    ForgetPendingDeletion(temp);
    // The archive may be read by whoever could read the document.
    fchmodat(folder.Fd(), finalName.c_str(), document.st_mode & 0666, 0);
    SyncFolder(folder);
    lastArchive_ = folder.ShownPath(finalName);
    if (beforeRemove) beforeRemove();
    // A document written to or replaced after it was read (while the
    // archive was verified, say) is not what the archive holds: both stay.
    struct stat now{};
    if (const int e = folder.StatDocument(now); e != 0) {
        lastReason_ = u"암호화하는 동안 문서가 없어짐 (" + FileErrorText(e) + u", 압축 파일은 남김)";
        return ArchiveOutcome::DocumentStayed;
    }
    unsigned char digestNow[32] = {};
    if (!SameFileState(document, now) ||
        (racy && (!DigestOf(folder, digestNow, nullptr) || memcmp(digestBefore, digestNow, 32) != 0))) {
        lastReason_ = u"암호화하는 동안 문서가 바뀜 (문서와 압축 파일을 모두 남김)";
        return ArchiveOutcome::DocumentStayed;
    }
    int removeError = 0;
    const RemoveOutcome removed = RemoveDocument(folder, plat::IdentityOf(document), nullptr, &removeError);
    if (IsGone(removed)) return ArchiveOutcome::Done;
    lastReason_ = removed == RemoveOutcome::Replaced ? u"암호화하는 동안 문서가 바뀜 (문서와 압축 파일을 모두 남김)"
                                                     : u"문서를 지우지 못함 (" + FileErrorText(removeError) + u")";
    return ArchiveOutcome::DocumentStayed;
}

uint32_t DocumentArchiver::OnQueryPassword(HarrowEvent* event)
{
    if (password_.empty()) return kHarrowPasswordNotGiven;
    event->password = password_.c_str();
    return 1;
}

uint32_t DocumentArchiver::OnItemBegin(HarrowEvent* event)
{
    if (!onItemBegin) return 1;
    // The engine knows the document by its path inside the held folder; the
    // user by its own.
    std::u16string item = event->itemPath ? std::u16string(event->itemPath) : std::u16string();
    if (!engineSource_.empty() && item == engineSource_) item = shownSource_;
    onItemBegin(item);
    return 1;
}

uint32_t DocumentArchiver::OnOtherEvent(HarrowEvent* event)
{
    if (event->type == kHarrowEventProgress && onProgress) onProgress(event->bytesDone, event->bytesTotal);
    return stopFlag && stopFlag->load() ? 0 : 1;
}

uint32_t DocumentArchiver::OnItemEnd(HarrowEvent* event)
{
    itemEnded_ = true;
    itemResult_ = event->itemResult;
    return 1;
}
