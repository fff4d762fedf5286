// The calling convention between the program and the archive engine module
// (harrow32.so): the records both sides pass and the plain C entry points the
// module exports. The engine never touches a file of the archive itself: it
// asks the program to open, read, write and close each archive stream through
// events, and the program answers with the callback tables below.
#pragma once

#include <cstdint>

extern "C" {

// Answers of the callbacks and events: 1 is success or "go on".
constexpr uint32_t kHarrowOk = 1;
constexpr uint32_t kHarrowPasswordNotGiven = 0x100;

// Engine event types.
enum HarrowEventType : uint32_t {
    kHarrowEventOpenRead = 0,     // open a volume for reading
    kHarrowEventCreateWrite = 1,  // create a volume for writing
    kHarrowEventCloseRead = 2,
    kHarrowEventCloseWrite = 3,
    kHarrowEventPassword = 4,     // the listener stores the password pointer
    kHarrowEventItemBegin = 7,
    kHarrowEventItemEnd = 8,
    kHarrowEventProgress = 11,    // an answer other than 1 cancels the archive
    kHarrowEventLast = 14,
};

// Outcome of one item, carried by the item-end event.
enum HarrowItemResult : int32_t {
    kHarrowItemVerified = 0,    // written, closed and read back with the password
    kHarrowItemFailed = 1,      // not written, or the archive could not be completed
    kHarrowItemCancelled = 2,   // stopped before the archive was complete
    kHarrowItemMismatch = 3,    // read back, but the data differs from the file
    kHarrowItemChanged = 4,     // the file changed while it was being read
    kHarrowItemSourceError = 5, // the file could not be read
};

// File information filled by the find-file callback.
struct HarrowFileInfo {
    uint32_t reserved;
    uint32_t attributes;      // engine attribute bits
    int64_t creationTime;     // seconds since 1970-01-01
    int64_t lastWriteTime;
    int64_t lastAccessTime;
    uint64_t size;
    const char16_t* name;
};

using HarrowReadFn = uint32_t (*)(void* context, void* buffer, uint32_t size, uint32_t* bytesRead);
using HarrowSeekFn = uint32_t (*)(void* context, uint32_t distanceLow, int32_t distanceHigh, uint32_t origin,
                                  uint64_t* position);
using HarrowSizeFn = uint32_t (*)(void* context, uint64_t* size);
using HarrowFindFileFn = uint32_t (*)(void* context, HarrowFileInfo* info);
using HarrowWriteFn = uint32_t (*)(void* context, const void* buffer, uint32_t size, uint32_t* bytesWritten);
using HarrowNotifyFn = uint32_t (*)(void* context, uintptr_t argument);

// Filled by the program when it opens a stream for the engine.
struct HarrowReadCallbacks {
    HarrowReadFn read;
    HarrowSeekFn seek;
    HarrowSizeFn size;
    HarrowFindFileFn findFile;
    void* context;
};

struct HarrowWriteCallbacks {
    HarrowWriteFn write;
    HarrowSeekFn seek;
    HarrowNotifyFn notify;
    void* context;
};

// One engine event. Which fields are meaningful depends on the type:
//   0 open for reading: volume (number), value, readCallbacks, volumeName
//   1 create for writing: fileName, writeCallbacks, targetPath
//   2, 3 close: readCallbacks or writeCallbacks of the stream
//   4 password: the listener stores the password (zero-terminated) in password
//   7, 8 item begin / end: itemIndex, itemName, itemPath; itemResult (end only)
//   11 progress: bytesDone, bytesTotal
struct HarrowEvent {
    uint32_t type;
    int32_t volume;
    intptr_t value;
    HarrowReadCallbacks* readCallbacks;
    HarrowWriteCallbacks* writeCallbacks;
    const char16_t* volumeName;
    const char16_t* fileName;
    const char16_t* targetPath;
    const char16_t* password;
    uint32_t itemIndex;
    int32_t itemResult;
    const char16_t* itemName;
    const char16_t* itemPath;
    uint64_t bytesDone;
    uint64_t bytesTotal;
};

// The registration handed to HARROW_CreateArchive: the callback and the
// object it is called with.
using HarrowEventCallbackFn = uint32_t (*)(void* events, HarrowEvent* event);
struct HarrowEventRegistration {
    HarrowEventCallbackFn callback;
    void* object;
};

struct HarrowStartRecord {
    uint32_t size;  // sizeof the record
    const char16_t* text1;
    const char16_t* text2;
};

// What HARROW_GetFormatFromName returns.
struct HarrowFormatInfo {
    uint32_t formatId;
    uint32_t capabilities;
    uint32_t reserved[5];
    uint32_t variant;
    const char16_t* name;
};

struct HarrowNewArchive {
    uint32_t formatId;
    uint32_t variant;
    uint8_t zero;
    uint32_t zero1;
    uint32_t zero2;
};

// Encryption methods of an entry.
enum HarrowEncryption : uint32_t {
    kHarrowEncryptZip20 = 1,
    kHarrowEncryptAes128 = 2,
    kHarrowEncryptAes256 = 3,
};

struct HarrowEntry {
    const char16_t* entryName;
    uint32_t zero1;
    uint32_t zero2;
    uint32_t encryption;
    const char16_t* sourcePath;
};

using HarrowHandle = uintptr_t;

// The 26 entry points, in the order the client resolves them.
#define HARROW_ENTRY_POINTS(X)                  \
    X(HARROW_StartUp)                           \
    X(HARROW_ShutDown)                          \
    X(HARROW_CreateArchive)                     \
    X(HARROW_DeleteArchive)                     \
    X(HARROW_GetGlobalFormatInfo)               \
    X(HARROW_GetFormatPresetInfo)               \
    X(HARROW_GetFormatFromFormat)               \
    X(HARROW_GetFormatFromName)                 \
    X(HARROW_Archive_Open)                      \
    X(HARROW_Archive_CheckFormat)               \
    X(HARROW_Archive_GetArchiveInfo)            \
    X(HARROW_Archive_GetFileInfo)               \
    X(HARROW_Archive_GetFormatInfo)             \
    X(HARROW_Archive_PrepareModify)             \
    X(HARROW_Archive_Add)                       \
    X(HARROW_Archive_AddFile)                   \
    X(HARROW_Archive_Rename)                    \
    X(HARROW_Archive_RenameFile)                \
    X(HARROW_Archive_Delete)                    \
    X(HARROW_Archive_DeleteFile)                \
    X(HARROW_Archive_ProceedModify)             \
    X(HARROW_Archive_Extract)                   \
    X(HARROW_Archive_ExtractAll)                \
    X(HARROW_Archive_Close)                     \
    X(HARROW_Archive_PrepareNewArchive)         \
    X(HARROW_Archive_ProceedNewArchive)

// Signatures of the entry points the program calls; the others take a
// handle and an opaque record and answer 0 (not supported).
using HARROW_StartUp_t = uint32_t (*)(const HarrowStartRecord*);
using HARROW_ShutDown_t = uint32_t (*)();
using HARROW_CreateArchive_t = HarrowHandle (*)(const HarrowEventRegistration*);
using HARROW_DeleteArchive_t = uint32_t (*)(HarrowHandle);
using HARROW_GetFormatFromName_t = const HarrowFormatInfo* (*)(const char16_t*);
using HARROW_Archive_PrepareNewArchive_t = uint32_t (*)(HarrowHandle, const HarrowNewArchive*, uint32_t);
using HARROW_Archive_AddFile_t = uint32_t (*)(HarrowHandle, const HarrowEntry*);
using HARROW_Archive_ProceedNewArchive_t = uint32_t (*)(HarrowHandle, const char16_t*);
using HARROW_Archive_Close_t = uint32_t (*)(HarrowHandle);
using HARROW_Generic_t = uint32_t (*)(HarrowHandle, void*);

}  // extern "C"
