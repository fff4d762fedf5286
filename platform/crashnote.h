// The crash note: which document a reading thread had in hand when the
// process died of a fatal signal (a fault, an abort) inside it.
//
// Several documents are read at once, one a reading thread, so the list of
// documents in hand (lastCheckFile) cannot say which of them ended the run.
// A reading thread names its document in a CrashNoteScope; a fatal signal on
// that thread writes the document, with a line end, at the start of the note
// file before the process dies (only a write of bytes prepared beforehand:
// nothing in the handler allocates or locks). The next start reads it. A run
// that is killed from outside writes nothing: then every document in hand
// stands accused alike.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// The note file: VendorSubdir(StateDir()) + "/lastCrashDocument".
std::u16string CrashNotePath();

// Opens the note file afresh (empty) and installs the handlers of SIGSEGV,
// SIGBUS, SIGFPE, SIGILL and SIGABRT (once per process; later calls only
// empty the file). The handler writes the crashing thread's document, then
// gives the signal to the handler that was there before (the default one:
// the process dies as it would have). false when the file cannot be opened.
bool ArmCrashNote();

// The document the note names (written with EscapeLine, read back exactly);
// empty when there is none.
std::u16string ReadCrashNote();

// Empties the note (a run that ended cleanly, a report the user closed).
void ClearCrashNote();

// While alive, a fatal signal on this thread names path in the note. Scopes
// nest; the innermost names. The thread gets its own signal stack, so that a
// reader that overflows its stack is still named.
class CrashNoteScope {
public:
    explicit CrashNoteScope(std::u16string_view path);
    ~CrashNoteScope();
    CrashNoteScope(const CrashNoteScope&) = delete;
    CrashNoteScope& operator=(const CrashNoteScope&) = delete;

private:
    std::string line_;
    const std::string* previous_;
};

}  // namespace plat
