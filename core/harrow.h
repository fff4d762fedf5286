// The program's side of the archive engine (harrow32.so): the module loader,
// the archive handle, the event interface through which the engine asks for
// its archive streams and reports its progress, the handler of those events
// over our own files, the listener interface a window implements, and
// CreateZipArchive, which builds one archive from a list of files.
#pragma once

#include <cstdint>
#include <string>

#include "core/harrowabi.h"

namespace harrow {

class Harrow {
public:
    Harrow() = default;
    ~Harrow();
    Harrow(const Harrow&) = delete;
    Harrow& operator=(const Harrow&) = delete;

    // Loads the module from the program folder once and resolves the 26
    // entry points; true only when every one was found. Nothing may be
    // called when it answers false.
    bool Load();
    bool IsLoaded() const { return module != nullptr; }
    // The module file: "harrow32.so" in the program folder, or the test
    // override below when it is set.
    static std::u16string ModulePath();
    static std::u16string& ModulePathOverride();

    void* module = nullptr;
#define HARROW_FIELD(name) void* name = nullptr;
    HARROW_ENTRY_POINTS(HARROW_FIELD)
#undef HARROW_FIELD

private:
    void Clear();
};

class Archive {
public:
    Archive(HarrowHandle h, Harrow* loader) : handle(h), harrow(loader), open(h != 0) {}
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    HarrowHandle handle = 0;
    Harrow* harrow = nullptr;
    bool open = false;  // cleared when the archive is closed
};

class Events;

// One open archive stream: the descriptor (-1 when closed), the position and
// the file name.
struct FileStream {
    ~FileStream();
    int fd = -1;
    uint64_t position = 0;
    std::u16string name;
    bool forWriting = false;
    int writeError = 0;  // errno of the first failed write
};

// Made for each stream the engine opens, freed at its close.
struct StreamContext {
    Events* owner = nullptr;
    std::u16string volumeName;  // read: the volume name; write: the target path
    std::u16string second;      // write: the event's file name
    intptr_t value = 0;         // read: the event's value
    FileStream* stream = nullptr;
};

// The callback handed to the engine in the registration record.
extern "C" uint32_t HarrowEventCallback(void* events, HarrowEvent* event);

class Events {
public:
    Events();
    virtual ~Events();
    Events(const Events&) = delete;
    Events& operator=(const Events&) = delete;

    // Stream operations, called through the callback tables.
    virtual uint32_t ReadStream(StreamContext* ctx, void* buffer, uint32_t size, uint32_t* bytesRead) = 0;
    virtual uint32_t SeekStream(StreamContext* ctx, uint32_t distanceLow, int32_t distanceHigh, uint32_t origin,
                                uint64_t* position) = 0;
    virtual uint32_t GetStreamSize(StreamContext* ctx, uint64_t* size) = 0;
    virtual uint32_t FindFile(StreamContext* ctx, HarrowFileInfo* info) = 0;
    virtual uint32_t WriteStream(StreamContext* ctx, const void* buffer, uint32_t size, uint32_t* bytesWritten) = 0;
    virtual uint32_t WriteStreamNotify(StreamContext* ctx, uintptr_t argument) = 0;
    virtual uint32_t OpenVolumeForRead(HarrowEvent* event, StreamContext* ctx) = 0;
    virtual uint32_t CreateVolumeForWrite(HarrowEvent* event, StreamContext* ctx) = 0;
    virtual uint32_t CloseStream(HarrowEvent* event, StreamContext* ctx) = 0;
    // Routes one engine event (see the event types of harrowabi.h).
    virtual uint32_t DispatchEvent(HarrowEvent* event);
    // Events 4 to 14: the password request answers 0x100 (none given), the
    // others 1.
    virtual uint32_t OnEngineEvent(HarrowEvent* event);

    HarrowEventRegistration registration{};
    Harrow* harrow = nullptr;
    Archive* archive = nullptr;
    const char16_t* formatName = u"ZIP";
};

// What a window implements to follow an archive.
class UIEventHandler {
public:
    virtual uint32_t OnQueryPassword(HarrowEvent* event) = 0;
    virtual uint32_t OnItemBegin(HarrowEvent* event) = 0;
    virtual uint32_t OnOtherEvent(HarrowEvent* event) = 0;
    virtual uint32_t OnItemEnd(HarrowEvent* event) = 0;

protected:
    ~UIEventHandler() = default;
};

// The name of volume n of a multi-volume archive (empty for an unknown
// format).
std::u16string VolumeFileName(const std::u16string& name, int volume, const std::u16string& formatName);
// The answer for an errno of a failed open.
uint32_t OpenErrorAnswer(int error);
// Engine attribute bits of a file mode.
uint32_t AttributeBits(uint32_t mode, const std::u16string& name);

}  // namespace harrow

// Stream operations over our own files; events 4, 7, 8 and 11 go to the
// listener.
class CHarrowEventHandler : public harrow::Events {
public:
    explicit CHarrowEventHandler(harrow::UIEventHandler* l = nullptr) : listener(l) {}
    ~CHarrowEventHandler() override = default;

    uint32_t ReadStream(harrow::StreamContext* ctx, void* buffer, uint32_t size, uint32_t* bytesRead) override;
    uint32_t SeekStream(harrow::StreamContext* ctx, uint32_t distanceLow, int32_t distanceHigh, uint32_t origin,
                        uint64_t* position) override;
    uint32_t GetStreamSize(harrow::StreamContext* ctx, uint64_t* size) override;
    uint32_t FindFile(harrow::StreamContext* ctx, HarrowFileInfo* info) override;
    uint32_t WriteStream(harrow::StreamContext* ctx, const void* buffer, uint32_t size,
                         uint32_t* bytesWritten) override;
    uint32_t WriteStreamNotify(harrow::StreamContext* ctx, uintptr_t argument) override;
    uint32_t OpenVolumeForRead(HarrowEvent* event, harrow::StreamContext* ctx) override;
    // Creates the archive file exclusively: an existing file is never
    // replaced (the answer is then 0x1000300).
    uint32_t CreateVolumeForWrite(HarrowEvent* event, harrow::StreamContext* ctx) override;
    // A written stream is flushed to the disk before it is closed; a failed
    // flush, close or earlier write is the answer's failure.
    uint32_t CloseStream(HarrowEvent* event, harrow::StreamContext* ctx) override;
    uint32_t OnEngineEvent(HarrowEvent* event) override;

    harrow::UIEventHandler* listener = nullptr;
    std::u16string foundName;
    std::string foundNameStorage;
    // Outcome of the last archive stream written: the answer of its create
    // and of its close (0 until then).
    uint32_t lastCreateAnswer = 0;
    uint32_t lastCloseAnswer = 0;
    // The errno behind a failed create or close of that stream (0 when none).
    int lastError = 0;
    std::u16string lastCreatedPath;
};

// The request of CreateZipArchive.
struct CreateZipRequest {
    uint32_t size = 28;
    uint32_t zero1 = 0;
    const char16_t* targetPath = nullptr;
    const char16_t* fileList = nullptr;  // paths, each followed by "\n"
    const char16_t* empty = u"";
    uint32_t encryption = kHarrowEncryptAes256;  // 1 ZIP 2.0, 2 AES-128, 3 AES-256
    uint32_t zero2 = 0;
};

// The entry name of a path: the text after its last '/', every ':' removed.
std::u16string ArchiveEntryName(const std::u16string& path);
// Builds one archive of the listed files; the outcome comes through the
// events. The archive is closed in every case.
void CreateZipArchive(harrow::Events* events, const CreateZipRequest* request);
