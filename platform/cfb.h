// Compound files (the container of HWP 5 and the binary Office formats),
// read only. A compound file holds a tree of storages (folders) and streams
// (byte sequences) inside sectors chained through allocation tables; versions
// 3 (512-byte sectors) and 4 (4096-byte sectors) are read.
//
// The objects are reference counted by hand (AddRef / Release) because the
// byte-I/O layer above passes raw pointers and takes or drops references
// explicitly; CfbPtr holds one reference for ordinary code.
//
// Every file is treated as hostile: allocation chains that loop or leave the
// file, directory trees with cycles or links outside the directory, sizes
// larger than the file give an error code, never a crash, a hang or an
// allocation beyond the file's size.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

// Result codes: 0 and 1 succeed, negative values fail.
using HResult = std::int32_t;

namespace stg {
inline constexpr HResult kOk = 0;
inline constexpr HResult kFalse = 1;
inline constexpr HResult kInvalidFunction = static_cast<HResult>(0x80030001u);
inline constexpr HResult kFileNotFound = static_cast<HResult>(0x80030002u);
inline constexpr HResult kPathNotFound = static_cast<HResult>(0x80030003u);
inline constexpr HResult kAccessDenied = static_cast<HResult>(0x80030005u);
inline constexpr HResult kInvalidPointer = static_cast<HResult>(0x80030009u);
inline constexpr HResult kWriteFault = static_cast<HResult>(0x8003001Du);
inline constexpr HResult kReadFault = static_cast<HResult>(0x8003001Eu);
inline constexpr HResult kInvalidParameter = static_cast<HResult>(0x80030057u);
inline constexpr HResult kInvalidHeader = static_cast<HResult>(0x800300FBu);
inline constexpr HResult kInvalidName = static_cast<HResult>(0x800300FCu);
inline constexpr HResult kInvalidFlag = static_cast<HResult>(0x800300FFu);
inline constexpr HResult kDocfileCorrupt = static_cast<HResult>(0x80030109u);
inline constexpr HResult kOutOfMemory = static_cast<HResult>(0x8007000Eu);

// Open modes (bit values of the storage open calls).
inline constexpr std::uint32_t kModeRead = 0x0;
inline constexpr std::uint32_t kModeWrite = 0x1;
inline constexpr std::uint32_t kModeReadWrite = 0x2;
inline constexpr std::uint32_t kModeAccessMask = 0x3;
inline constexpr std::uint32_t kShareExclusive = 0x10;
inline constexpr std::uint32_t kShareDenyNone = 0x40;
inline constexpr std::uint32_t kPriority = 0x40000;

// Seek origins.
inline constexpr int kSeekSet = 0;
inline constexpr int kSeekCur = 1;
inline constexpr int kSeekEnd = 2;

// Element types.
inline constexpr std::uint32_t kTypeStorage = 1;
inline constexpr std::uint32_t kTypeStream = 2;
inline constexpr std::uint32_t kTypeRoot = 5;
}  // namespace stg

inline bool Failed(HResult hr) { return hr < 0; }
inline bool Succeeded(HResult hr) { return hr >= 0; }

// What Stat reports about a stream or storage.
struct CfbStat {
    std::u16string name;       // empty when the name was not asked for
    std::uint32_t type = 0;    // stg::kType*
    std::uint64_t size = 0;    // streams: byte length; storages: 0
    std::uint64_t created = 0; // FILETIME values as stored (0 when absent)
    std::uint64_t modified = 0;
    std::uint8_t clsid[16] = {};
    std::uint32_t stateBits = 0;
    std::uint32_t mode = 0;    // the mode the object was opened with
};

// Hand-counted base: a new object holds one reference for its creator.
class CfbObject {
public:
    void AddRef() { refs_.fetch_add(1, std::memory_order_relaxed); }
    void Release()
    {
        if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }

protected:
    CfbObject() = default;
    virtual ~CfbObject() = default;
    CfbObject(const CfbObject&) = delete;
    CfbObject& operator=(const CfbObject&) = delete;

private:
    std::atomic<long> refs_{1};
};

// A byte stream. The compound-file reader's streams refuse writes
// (stg::kAccessDenied); other implementations (tests, memory streams) may
// accept them.
class CfbStream : public CfbObject {
public:
    // Reads up to n bytes at the position; *got (optional) receives the
    // count. A read at or past the end is kOk with 0 bytes.
    virtual HResult Read(void* buffer, std::uint32_t n, std::uint32_t* got) = 0;
    virtual HResult Write(const void* buffer, std::uint32_t n, std::uint32_t* written) = 0;
    // origin stg::kSeek*; a resulting position below 0 fails with
    // kInvalidFunction and leaves the position. Positions past the end are allowed.
    virtual HResult Seek(std::int64_t offset, int origin, std::uint64_t* newPos) = 0;
    virtual HResult SetSize(std::uint64_t size) = 0;
    virtual HResult Stat(CfbStat* stat, bool withName) = 0;
    // A second stream over the same data with its own position (copied).
    virtual HResult Clone(CfbStream** out) = 0;
};

class CfbStorage : public CfbObject {
public:
    // Names compare case-insensitively by the compound-file rule (CfbNameCompare).
    virtual HResult OpenStream(const std::u16string& name, std::uint32_t mode, CfbStream** out) = 0;
    virtual HResult OpenStorage(const std::u16string& name, std::uint32_t mode, CfbStorage** out) = 0;
    virtual HResult CreateStream(const std::u16string& name, std::uint32_t mode, CfbStream** out) = 0;
    virtual HResult Stat(CfbStat* stat, bool withName) = 0;
    // The direct children (names, types, sizes), in the file's directory order.
    virtual HResult Elements(std::vector<CfbStat>* out) = 0;
};

// Holds one reference; adopts the reference of a pointer given to it.
template <class T>
class CfbPtr {
public:
    CfbPtr() = default;
    explicit CfbPtr(T* adopt) : p_(adopt) {}
    CfbPtr(const CfbPtr& o) : p_(o.p_) { if (p_) p_->AddRef(); }
    CfbPtr(CfbPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    CfbPtr& operator=(CfbPtr o) noexcept { std::swap(p_, o.p_); return *this; }
    ~CfbPtr() { if (p_) p_->Release(); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Releases the held object and gives the slot for an out-parameter.
    T** put() { reset(); return &p_; }
    void reset() { if (p_) p_->Release(); p_ = nullptr; }
    T* detach() { T* p = p_; p_ = nullptr; return p; }

private:
    T* p_ = nullptr;
};

// kOk when the file starts with the compound-file signature, kFalse when it
// does not (or is shorter than a header), kFileNotFound / kAccessDenied when it
// cannot be opened.
HResult CfbIsStorageFile(const std::u16string& path);

// Opens the root storage of a compound file. Write access is refused
// (kAccessDenied); the sharing and priority bits are accepted and ignored.
// A header whose fixed fields (signature, byte order, sector sizes, the
// mini-stream cutoff of 4096) differ from the format's is kInvalidHeader.
HResult CfbOpenStorage(const std::u16string& path, std::uint32_t mode, CfbStorage** out);

// The same over bytes in memory (the bytes are copied).
HResult CfbOpenStorageOnMemory(std::string bytes, CfbStorage** out);

// Compares two element names as the compound-file directory does: shorter
// names first, then code unit by code unit after upper-casing. <0, 0, >0.
int CfbNameCompare(std::u16string_view a, std::u16string_view b);

// The upper-case form of one code unit used by CfbNameCompare.
char16_t CfbUpper(char16_t c);

}  // namespace plat
