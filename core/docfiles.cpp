#include "core/docfiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <set>
#include <utility>

#include "core/util.h"
#include "platform/pending.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

bool Exists(const std::u16string& path)
{
    struct stat st{};
    return lstat(plat::PathToNative(path).c_str(), &st) == 0;
}

std::u16string Numbered(const std::u16string& base, int n)
{
    return base + u" (" + plat::AsciiToWide(std::to_string(n)) + u").zip";
}

std::u16string FolderOf(const std::u16string& path)
{
    const size_t slash = path.find_last_of(u'/');
    if (slash == std::u16string::npos) return u".";
    return slash == 0 ? u"/" : path.substr(0, slash);
}

}  // namespace

DocumentFolder::DocumentFolder(const std::u16string& documentPath) : path_(documentPath)
{
    const std::string native = plat::PathToNative(documentPath);
    const size_t slash = native.find_last_of('/');
    folder_ = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
    name_ = slash == std::string::npos ? native : native.substr(slash + 1);
    if (name_.empty() || name_ == "." || name_ == "..") {
        openError_ = EISDIR;
        return;
    }
    fd_ = open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) openError_ = errno;
}

DocumentFolder::~DocumentFolder()
{
    if (fd_ >= 0) close(fd_);
}

std::u16string DocumentFolder::ShownPath(const std::string& name) const
{
    return plat::PathFromNative(folder_ == "/" ? "/" + name : folder_ + "/" + name);
}

std::u16string DocumentFolder::PathInside(const std::string& name) const
{
    return plat::PathFromNative("/proc/self/fd/" + std::to_string(fd_) + "/" + name);
}

int DocumentFolder::StatName(const std::string& name, struct stat& st) const
{
    if (fd_ < 0) return openError_ ? openError_ : EBADF;
    return fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

IdentityCheck CheckDocumentIdentity(const DocumentFolder& folder, const plat::FileIdentity& expected, int* error,
                                    struct stat* found)
{
    if (error) *error = 0;
    struct stat st{};
    const int e = folder.StatDocument(st);
    if (e != 0) {
        if (error) *error = e;
        return e == ENOENT || e == ENOTDIR ? IdentityCheck::Missing : IdentityCheck::Failed;
    }
    if (found) *found = st;
    // The search reads regular files only: a link or a folder by that name
    // now is not what was read.
    if (!S_ISREG(st.st_mode)) {
        if (error) *error = S_ISDIR(st.st_mode) ? EISDIR : 0;
        return IdentityCheck::Replaced;
    }
    if (expected.Known() && !(plat::IdentityOf(st) == expected)) return IdentityCheck::Replaced;
    return IdentityCheck::Same;
}

std::string MakeArchiveNameIn(const DocumentFolder& folder)
{
    auto exists = [&](const std::string& name) {
        struct stat st{};
        return folder.StatName(name, st) != ENOENT;
    };
    std::string name = folder.Name() + ".zip";
    for (int n = 2; exists(name); ++n) name = folder.Name() + " (" + std::to_string(n) + ").zip";
    return name;
}

std::u16string MakeArchiveName(const std::u16string& documentPath)
{
    std::u16string name = documentPath + u".zip";
    for (int n = 2; Exists(name); ++n) name = Numbered(documentPath, n);
    return name;
}

std::u16string MakeTemporaryArchiveName(const std::u16string& documentPath)
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char tag[24];
    snprintf(tag, sizeof tag, "%012llx", static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFULL));
    const std::u16string folder = FolderOf(documentPath);
    const std::u16string sep = folder == u"/" ? u"" : u"/";
    return folder + sep + u"." + GetFileNamePart(documentPath) + u".zip." + plat::AsciiToWide(tag) + u".tmp";
}

int RenameNoReplace(const std::u16string& from, const std::u16string& to)
{
    return RenameNoReplaceAt(AT_FDCWD, plat::PathToNative(from), AT_FDCWD, plat::PathToNative(to));
}

int RenameNoReplaceAt(int fromDir, const std::string& from, int toDir, const std::string& to)
{
    if (renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // File systems without the flag: a hard link fails on an existing target.
    if (linkat(fromDir, from.c_str(), toDir, to.c_str(), 0) != 0) return errno;
    unlinkat(fromDir, from.c_str(), 0);
    return 0;
}

void SyncFolderOf(const std::u16string& path)
{
    const int fd = open(plat::PathToNative(FolderOf(path)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

RemoveOutcome RemoveDocument(const std::u16string& path, std::u16string* asideName, int* error)
{
    return RemoveDocument(path, plat::FileIdentity{}, asideName, error);
}

RemoveOutcome RemoveDocument(const std::u16string& path, const plat::FileIdentity& expected,
                             std::u16string* asideName, int* error)
{
    const DocumentFolder folder(path);
    if (!folder.Opened()) {
        const int e = folder.OpenError();
        if (error) *error = e;
        return e == ENOENT || e == ENOTDIR ? RemoveOutcome::Missing : RemoveOutcome::Stayed;
    }
    return RemoveDocument(folder, expected, asideName, error);
}

RemoveOutcome RemoveDocument(const DocumentFolder& folder, const plat::FileIdentity& expected,
                             std::u16string* asideName, int* error)
{
    if (error) *error = 0;
    int e = 0;
    struct stat st{};
    switch (CheckDocumentIdentity(folder, expected, &e, &st)) {
    case IdentityCheck::Same: break;
    case IdentityCheck::Missing:
        if (error) *error = e;
        return RemoveOutcome::Missing;
    case IdentityCheck::Failed:
        if (error) *error = e;
        return RemoveOutcome::Stayed;
    case IdentityCheck::Replaced:
        // A folder by the name is never removed; a link by the name (the
        // search never reads one) only when no identity was kept, as before.
        if (S_ISDIR(st.st_mode)) {
            if (error) *error = EISDIR;
            return RemoveOutcome::Stayed;
        }
        if (expected.Known()) return RemoveOutcome::Replaced;
        break;
    }
    const std::string& name = folder.Name();
    if (unlinkat(folder.Fd(), name.c_str(), 0) == 0) return RemoveOutcome::Deleted;
    e = errno;
    if (error) *error = e;
    if (e == ENOENT) return RemoveOutcome::Missing;
    if (e != EACCES && e != EPERM) return RemoveOutcome::Stayed;
    // Refused: out of the way into the temporary folder, purged at the next start.
    const std::u16string base = plat::TempDir() + u"/" + plat::PathFromNative(name) + u".tmp";
    std::u16string aside = base;
    for (int n = 2; Exists(aside); ++n) aside = base + u" (" + plat::AsciiToWide(std::to_string(n)) + u")";
    if (RenameNoReplaceAt(folder.Fd(), name, AT_FDCWD, plat::PathToNative(aside)) != 0) return RemoveOutcome::Stayed;
    plat::DeleteAtNextStart(aside);
    if (asideName) *asideName = aside;
    return RemoveOutcome::MovedAside;
}

bool DocumentIsGone(const std::u16string& path)
{
    struct stat st{};
    if (lstat(plat::PathToNative(path).c_str(), &st) == 0) return false;
    return errno == ENOENT || errno == ENOTDIR;
}

std::u16string FileErrorText(int error)
{
    switch (error) {
    case 0: return std::u16string();
    case ENOSPC: return u"디스크 공간 부족";
    case EDQUOT: return u"디스크 할당량 초과";
    case EFBIG: return u"파일 크기 제한 초과";
    case EROFS: return u"읽기 전용 파일 시스템";
    case EACCES:
    case EPERM: return u"접근 권한 없음";
    case ENOENT: return u"파일을 찾을 수 없음";
    case ENOTDIR: return u"폴더를 찾을 수 없음";
    case EISDIR: return u"파일이 아닌 폴더임";
    case ENAMETOOLONG: return u"경로가 너무 김";
    case ELOOP: return u"심볼릭 링크가 순환함";
    case EIO: return u"입출력 오류";
    case EBUSY:
    case ETXTBSY: return u"다른 곳에서 사용 중";
    case ENOMEM: return u"메모리 부족";
    case EMFILE:
    case ENFILE: return u"열린 파일이 너무 많음";
    case EXDEV: return u"다른 드라이브로 옮길 수 없음";
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM: return u"장치를 사용할 수 없음";
    default: return u"시스템 오류 " + plat::AsciiToWide(std::to_string(error));
    }
}

namespace {

bool HasLockFile(const std::u16string& path)
{
    const std::u16string folder = FolderOf(path);
    const std::u16string name = GetFileNamePart(path);
    const std::u16string sep = folder == u"/" ? u"" : u"/";
    return Exists(folder + sep + u".~lock." + name + u"#") || Exists(folder + sep + u"~$" + name);
}

// Device and inode of every file that another process of this user holds open.
std::set<std::pair<dev_t, ino_t>> FilesOpenElsewhere()
{
    std::set<std::pair<dev_t, ino_t>> open;
    DIR* proc = opendir("/proc");
    if (!proc) return open;
    const pid_t self = getpid();
    const uid_t uid = geteuid();
    while (dirent* d = readdir(proc)) {
        char* end = nullptr;
        const long pid = strtol(d->d_name, &end, 10);
        if (!end || *end || pid <= 0 || pid == self) continue;
        const std::string base = std::string("/proc/") + d->d_name;
        struct stat ps{};
        if (stat(base.c_str(), &ps) != 0 || ps.st_uid != uid) continue;
        const std::string fdDir = base + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (!fds) continue;
        while (dirent* f = readdir(fds)) {
            if (f->d_name[0] == '.') continue;
            struct stat st{};
            if (stat((fdDir + "/" + f->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
                open.emplace(st.st_dev, st.st_ino);
        }
        closedir(fds);
    }
    closedir(proc);
    return open;
}

}  // namespace

int CountDocumentsOpenElsewhere(const std::vector<std::u16string>& paths)
{
    std::set<std::pair<dev_t, ino_t>> open;
    bool scanned = false;
    int count = 0;
    for (const std::u16string& path : paths) {
        struct stat target{};
        if (stat(plat::PathToNative(path).c_str(), &target) != 0) continue;  // missing: not open
        if (HasLockFile(path)) {
            ++count;
            continue;
        }
        if (!scanned) {
            open = FilesOpenElsewhere();
            scanned = true;
        }
        if (open.count({target.st_dev, target.st_ino})) ++count;
    }
    return count;
}

bool IsDocumentOpenElsewhere(const std::u16string& path) { return CountDocumentsOpenElsewhere({path}) > 0; }
