// Item identifier lists over the program's own model of the computer, and
// the display-name holder that goes with them.
//
// The model: the empty list is the desktop; below it one "computer" item;
// below that the drives (mount points a user would search); below a drive its
// folders. A list is a sequence of items, each starting with a 16-bit byte
// count that includes the count itself, ended by a 16-bit zero. An item here
// holds, after its count, one kind byte and a UTF-16 text: nothing for the
// computer, the mount point for a drive, the folder name for a folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ps::ui {

using PIDL = std::uint8_t*;
using PCIDL = const std::uint8_t*;

class CShellPidl {
public:
    enum Kind : std::uint8_t { kComputer = 1, kDrive = 2, kFolder = 3 };

    CShellPidl() = default;
    explicit CShellPidl(PIDL owned) : pidl_(owned) {}
    CShellPidl(const CShellPidl&) = delete;
    CShellPidl& operator=(const CShellPidl&) = delete;
    CShellPidl(CShellPidl&& o) noexcept : pidl_(o.pidl_) { o.pidl_ = nullptr; }
    CShellPidl& operator=(CShellPidl&& o) noexcept;
    virtual ~CShellPidl();

    PIDL Get() const { return pidl_; }
    void Reset(PIDL owned = nullptr);
    PIDL Release()
    {
        PIDL p = pidl_;
        pidl_ = nullptr;
        return p;
    }

    // Frees a list and sets the pointer to null; a null list is left alone.
    static void Free(PIDL* list);
    // A new list holding the items of a then those of b; null when both are
    // null or on allocation failure. The caller owns the result.
    static PIDL Concat(PCIDL a, PCIDL b);
    // A byte copy of the list (null for null).
    static void Copy(PIDL* out, PCIDL list);
    // Bytes of the items, without the terminating zero; 0 for null.
    static std::size_t Size(PCIDL list);
    // The last item of a list (null for an empty or null list).
    static PCIDL LastItem(PCIDL list);
    // One-item list of the given kind and text.
    static PIDL Make(Kind kind, const std::u16string& text);
    // Kind and text of one item.
    static Kind ItemKind(PCIDL item);
    static std::u16string ItemText(PCIDL item);
    // Number of items.
    static int Count(PCIDL list);

    // The file-system path of the held list; empty for the desktop, the
    // computer and anything else without a path.
    static std::u16string GetPath(const CShellPidl& holder);
    static std::u16string PathOf(PCIDL list);

private:
    PIDL pidl_ = nullptr;
};

// A display name as the model answers it: a wide text it allocated, an offset
// to a narrow text inside the item list, or an inline narrow text. The holder
// keeps its own copy of the list so that an offset stays valid after the
// caller's list is gone.
struct STRRET {
    enum : std::uint32_t { kWide = 0, kOffset = 1, kNarrow = 2 };
    std::uint32_t uType = 0;
    char16_t* pOleStr = nullptr;
    std::uint32_t uOffset = 0;
    char cStr[260] = {};
};

class CShellString {
public:
    CShellString() = default;
    CShellString(const CShellString&) = delete;
    CShellString& operator=(const CShellString&) = delete;
    virtual ~CShellString();

    // Clears the name, keeps a copy of the list and returns the name to fill.
    STRRET* Prepare(PCIDL absoluteList);
    // The text of the name (narrow texts are code page 949).
    std::u16string GetText() const;
    void Clear();

private:
    CShellPidl list_;
    STRRET str_;
};

// Display name of the last item of an absolute list, filled as a wide text.
void GetDisplayNameOf(PCIDL absoluteList, STRRET* out);

// The drives the trees list: fixed and removable media that a user would
// search (no pseudo, network, optical, memory or boot file systems), each with
// a label that stays the same from run to run.
struct DriveEntry {
    std::u16string label;
    std::u16string path;
};
std::vector<DriveEntry> ListSearchableDrives();
// Drives read from mount-table text (the format of /proc/self/mountinfo).
std::vector<DriveEntry> DrivesFromMountInfo(const std::string& mountinfo);
// Replaces the drive list (tests, the gallery); an empty list restores the
// real one.
void SetDriveListForTesting(std::vector<DriveEntry> drives);

// The display name of the computer item.
std::u16string ComputerName();

}  // namespace ps::ui
