// File operations of the document actions: archive names, a rename that
// never replaces a file, the removal of a document with its outcome, and the
// test whether a document is held open by another program.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/docfile.h"

// Why an action left a document alone: the name no longer holds the file
// the search read (a folder of its path was replaced by a link to another
// folder, the document replaced by another file, or its bytes rewritten).
inline constexpr char16_t kDocumentReplacedText[] = u"검색한 뒤 문서가 바뀌거나 다른 파일로 바뀜";

// A document's folder held open, so that the document is looked at and acted
// on by its name inside that very folder: a folder of its path replaced by a
// link on the way cannot send the action to another folder's file of the
// same name. Links in the path are followed when the folder is opened (a
// searched folder may be reached through a link the user chose); the
// identity of the file found there is what tells it is the one read.
class DocumentFolder {
public:
    explicit DocumentFolder(const std::u16string& documentPath);
    ~DocumentFolder();
    DocumentFolder(const DocumentFolder&) = delete;
    DocumentFolder& operator=(const DocumentFolder&) = delete;

    bool Opened() const { return fd_ >= 0; }
    int OpenError() const { return openError_; }  // errno of the failed open
    int Fd() const { return fd_; }                 // O_PATH descriptor of the folder
    const std::string& Name() const { return name_; }            // the document's name (as on disk)
    const std::u16string& DocumentPath() const { return path_; }  // as given
    // The path of a name in the folder as the user knows it ("<folder>/<name>").
    std::u16string ShownPath(const std::string& name) const;
    // A path that resolves inside the held folder, whatever its path leads
    // to now ("/proc/self/fd/<fd>/<name>"), for code that takes paths. Valid
    // while this object lives.
    std::u16string PathInside(const std::string& name) const;
    // lstat of a name in the folder (a link at its end not followed); 0 or
    // the errno.
    int StatName(const std::string& name, struct stat& st) const;
    int StatDocument(struct stat& st) const { return StatName(name_, st); }

private:
    int fd_ = -1;
    int openError_ = 0;
    std::string name_;
    std::string folder_;  // native
    std::u16string path_;
};

enum class IdentityCheck {
    Same,      // the name holds the file read (or no identity was kept)
    Missing,   // nothing by that name (error: ENOENT, ENOTDIR)
    Replaced,  // another file, a link, a folder, or the file's bytes rewritten
    Failed,    // cannot be looked at (error: the errno)
};
// Compares the file the name in the held folder holds with the identity of
// the read; an identity not known compares Same for any regular file.
IdentityCheck CheckDocumentIdentity(const DocumentFolder& folder, const plat::FileIdentity& expected,
                                    int* error = nullptr, struct stat* found = nullptr);

// "<path>.zip", or "<path> (2).zip", "(3)" and so on when that name exists
// (as a file, folder or link).
std::u16string MakeArchiveName(const std::u16string& documentPath);

// A fresh hidden name in the document's folder for an archive being
// written: ".<name>.zip.<random>.tmp". Nothing is created.
std::u16string MakeTemporaryArchiveName(const std::u16string& documentPath);

// Renames without ever replacing an existing file; 0 or the errno
// (EEXIST when the target exists).
int RenameNoReplace(const std::u16string& from, const std::u16string& to);
// The same for names relative to folder descriptors (AT_FDCWD: the current folder).
int RenameNoReplaceAt(int fromDir, const std::string& from, int toDir, const std::string& to);
// The archive name MakeArchiveName gives, for the document of a held
// folder: the name inside that folder ("<name>.zip", "<name> (2).zip", ...).
std::string MakeArchiveNameIn(const DocumentFolder& folder);

// Flushes a folder's entries to the disk (after a rename).
void SyncFolderOf(const std::u16string& path);

enum class RemoveOutcome {
    Deleted,     // unlinked
    Missing,     // did not exist any more
    MovedAside,  // moved to the temporary folder, deleted at the next start
    Stayed,      // still in place
    Replaced,    // the name holds another file than the one read: left alone
};
// Deletes a document. When the deletion is refused (access denied), the
// document is moved to the temporary folder under "<name>.tmp" (numbered
// when that exists) and registered for deletion at the next start; when
// that move fails too, the document stays. `asideName` receives the name it
// was moved to; `error` the errno of the failed deletion.
RemoveOutcome RemoveDocument(const std::u16string& path, std::u16string* asideName = nullptr, int* error = nullptr);
// The same for the file the search read: acts by name inside the document's
// folder held open, and only when that name still holds a file with the
// identity of the read (Replaced otherwise; a folder of the path swapped for
// a link meanwhile leaves the other folder's file alone).
RemoveOutcome RemoveDocument(const std::u16string& path, const plat::FileIdentity& expected,
                             std::u16string* asideName = nullptr, int* error = nullptr);
RemoveOutcome RemoveDocument(const DocumentFolder& folder, const plat::FileIdentity& expected,
                             std::u16string* asideName = nullptr, int* error = nullptr);
inline bool IsGone(RemoveOutcome o)
{
    return o == RemoveOutcome::Deleted || o == RemoveOutcome::Missing || o == RemoveOutcome::MovedAside;
}
// True when nothing is at the path any more (the name or a folder of it was
// not found); false when something is there or the path cannot be checked.
bool DocumentIsGone(const std::u16string& path);

// Why a file operation failed, in the words the program shows the user
// ("디스크 공간 부족", "읽기 전용 파일 시스템", ...); the number for an error
// without words of its own. Empty for 0.
std::u16string FileErrorText(int error);

// True when a process of this user (other than this program) has the file
// open, or when an office lock file lies beside it (".~lock.<name>#",
// "~$<name>"). A missing file is not open.
bool IsDocumentOpenElsewhere(const std::u16string& path);
// How many of the documents are open elsewhere (the processes are looked at
// once for all of them).
int CountDocumentsOpenElsewhere(const std::vector<std::u16string>& paths);
