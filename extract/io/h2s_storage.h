// Compound storage access for the readers.
//
// CH2sStorage / CH2sMainStorage: storage wrappers of the HWP 5 reader that hand
// each stream to a CH2sStream device; failures go to the library error word.
// CStorageAccess: the base of the PowerPoint and Excel readers, keeping a root
// storage and one current stream (plus a clone); it never touches the error
// word and never throws.
#pragma once

#include "extract/io/h2s_bufio.h"
#include "platform/cfb.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Mode of a root storage open (priority, deny none, read) and of a stream or
// sub-storage open (exclusive, read).
inline constexpr std::uint32_t kH2sRootMode = 0x40040;
inline constexpr std::uint32_t kH2sStreamMode = 0x10;

// The error word of a stream or storage that is not there.
inline constexpr int kH2sErrorNotFound = static_cast<int>(plat::stg::kFileNotFound);

// True when the file at path starts with the compound-file signature.
bool IsCompoundFile(const std::u16string& path);

// The root storage of the compound file at path, or an empty pointer when
// it does not open; the error word is left alone and nothing is raised, so
// a format test can ask.
plat::CfbPtr<plat::CfbStorage> OpenRootStorage(const std::u16string& path, std::uint32_t mode = kH2sRootMode);

// Reads up to count bytes from the stream's position into buffer; *got
// receives how many came (fewer at the stream's end). True only when the
// stream answered with plain success: its "done, but" answer counts as a
// failed read here (Word's positioned read wants exactly that).
bool ReadStreamChunk(plat::CfbStream* stream, void* buffer, std::uint32_t count, std::uint32_t* got);

// The same, true whenever the stream reported no error (any success answer);
// *got receives how many bytes came, 0 at the end of the stream.
bool ReadStreamBytes(plat::CfbStream* stream, void* buffer, std::uint32_t count, std::uint32_t* got);

// Opens the stream (or sub-storage) called name directly below storage into
// *out, an empty slot (CfbPtr::put() gives one) that then holds one
// reference. True when it opened; false, with *out empty, when
// it is not there or cannot be opened (or storage is null). The error word
// is left alone and nothing is raised.
bool OpenChildStream(plat::CfbStorage* storage, const std::u16string& name, plat::CfbStream** out,
                     std::uint32_t mode = kH2sStreamMode);
bool OpenChildStorage(plat::CfbStorage* storage, const std::u16string& name, plat::CfbStorage** out,
                      std::uint32_t mode = kH2sStreamMode);

// Moves the stream's position to offset bytes from its start. False when the
// stream refuses (a negative offset).
bool SeekStreamTo(plat::CfbStream* stream, std::int64_t offset);

// The stream's length in bytes into *size; false when the stream cannot say.
bool StreamSize(plat::CfbStream* stream, std::uint64_t* size);

// The direct children of storage (names, types, sizes) in directory order
// into *out; false when the storage cannot list them (or is null).
bool StorageElements(plat::CfbStorage* storage, std::vector<plat::CfbStat>* out);

class CH2sStorage {
public:
    explicit CH2sStorage(plat::CfbStorage* storage = nullptr, bool addRef = false);
    virtual ~CH2sStorage();
    CH2sStorage(const CH2sStorage&) = delete;
    CH2sStorage& operator=(const CH2sStorage&) = delete;

    virtual void Close();

    // 1, or 0 with the failure stored in the error word (never raised, so a
    // missing stream can be passed over).
    int OpenStream(const std::u16string& name, CH2sStream& device, std::uint32_t mode = kH2sStreamMode);
    // 1, or 0 with the failure stored and raised.
    int OpenSubStorage(const std::u16string& name, CH2sStorage& target, std::uint32_t mode = kH2sStreamMode);

    plat::CfbStorage* storage() const { return storage_; }

protected:
    void SetStorage(plat::CfbStorage* s);  // adopts one reference

private:
    plat::CfbStorage* storage_ = nullptr;
};

// The root of an HWP 5 document.
class CH2sMainStorage : public CH2sStorage {
public:
    CH2sMainStorage() = default;
    ~CH2sMainStorage() override;

    // 1, or 0 with the failure stored and raised.
    int Open(const std::u16string& path, std::uint32_t mode = kH2sRootMode);
    // Reads the first 256 bytes of "FileHeader" into record (through the
    // device's filter when one is on) and keeps the version at offset 32. 0.
    // A header shorter than 256 bytes is noted as damage.
    int ReadFileHeader(unsigned char record[256]);
    void Close() override;

    std::uint32_t version() const { return version_; }

    // The header table written back into "FileHeader" at offset 256 on Close
    // when it was modified and the table storage is open.
    std::vector<std::pair<std::uint32_t, std::uint32_t>>& headerTable() { return table_; }
    void setHeaderTableModified(bool m) { tableModified_ = m; }
    CH2sStorage& tableStorage() { return tableStorage_; }

private:
    void CloseHeaderTable();

    std::uint32_t version_ = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> table_;
    bool tableModified_ = false;
    CH2sStorage tableStorage_;
};

class CStorageAccess {
public:
    CStorageAccess();
    explicit CStorageAccess(const std::u16string& path);
    virtual ~CStorageAccess();
    CStorageAccess(const CStorageAccess&) = delete;
    CStorageAccess& operator=(const CStorageAccess&) = delete;

    virtual int IsPowerPointStorage();
    virtual int IsExcelStorage();
    virtual int IsWordStorage();
    // Makes the main stream the current stream (with its own reference) and returns it.
    virtual plat::CfbStream* GetMainStream();

    // The mode argument is not read: roots always open with kH2sRootMode.
    // Without out, the root is the target (a root held before is released first).
    int OpenStorage(const std::u16string& path, std::uint32_t mode = kH2sRootMode, plat::CfbStorage** out = nullptr);
    // Without out, into the current stream (callers release a held one first).
    int OpenStream(const std::u16string& name, std::uint32_t mode = kH2sStreamMode, plat::CfbStream** out = nullptr);
    // -1 without a current stream, buffer or asked-for clone; 0 on failure or
    // when count > 0 and nothing was read; 1 otherwise.
    int ReadStream(std::uint32_t count, void* buffer, std::uint32_t* got = nullptr, bool useClone = false);
    int SkipStream(std::uint32_t low, std::int32_t high = 0);
    int SeekStream(int origin, std::uint32_t low, std::int32_t high, std::uint64_t* newPos = nullptr,
                   bool useClone = false);
    int ReleaseStream();

    plat::CfbStorage* root() const { return root_; }
    plat::CfbStream* currentStream() const { return current_; }
    plat::CfbStream* cloneStream() const { return clone_; }
    const std::u16string& path() const { return path_; }

protected:
    // Cached by a derived class, released by it.
    plat::CfbStream* mainStream_ = nullptr;

private:
    int IsStorageWith(const char16_t* streamName);

    plat::CfbStream* current_ = nullptr;
    plat::CfbStream* clone_ = nullptr;
    plat::CfbStorage* root_ = nullptr;
    std::u16string path_;
};
