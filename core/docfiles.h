// File operations of the document actions: archive names, a rename that
// never replaces a file, the removal of a document with its outcome, and the
// test whether a document is held open by another program.
#pragma once

#include <string>
#include <vector>

// "<path>.zip", or "<path> (2).zip", "(3)" and so on when that name exists
// (as a file, folder or link).
std::u16string MakeArchiveName(const std::u16string& documentPath);

// A fresh hidden name in the document's folder for an archive being
// written: ".<name>.zip.<random>.tmp". Nothing is created.
std::u16string MakeTemporaryArchiveName(const std::u16string& documentPath);

// Renames without ever replacing an existing file; 0 or the errno
// (EEXIST when the target exists).
int RenameNoReplace(const std::u16string& from, const std::u16string& to);

// Flushes a folder's entries to the disk (after a rename).
void SyncFolderOf(const std::u16string& path);

enum class RemoveOutcome {
    Deleted,     // unlinked
    Missing,     // did not exist any more
    MovedAside,  // moved to the temporary folder, deleted at the next start
    Stayed,      // still in place
};
// Deletes a document. When the deletion is refused (access denied), the
// document is moved to the temporary folder under "<name>.tmp" (numbered
// when that exists) and registered for deletion at the next start; when
// that move fails too, the document stays. `asideName` receives the name it
// was moved to; `error` the errno of the failed deletion.
RemoveOutcome RemoveDocument(const std::u16string& path, std::u16string* asideName = nullptr, int* error = nullptr);
inline bool IsGone(RemoveOutcome o) { return o != RemoveOutcome::Stayed; }
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
