#include "extract/io/h2s_storage.h"

#include "extract/libstring.h"
#include "platform/docfile.h"

#include <cstring>

namespace stg = plat::stg;

bool IsCompoundFile(const std::u16string& path)
{
    return plat::CfbIsStorageFile(path) == stg::kOk;
}

plat::CfbPtr<plat::CfbStorage> OpenRootStorage(const std::u16string& path, std::uint32_t mode)
{
    plat::CfbPtr<plat::CfbStorage> root;
    if (plat::Failed(plat::CfbOpenStorage(path, mode, root.put())))
        root = plat::CfbPtr<plat::CfbStorage>();
    return root;
}

bool ReadStreamChunk(plat::CfbStream* stream, void* buffer, std::uint32_t count, std::uint32_t* got)
{
    return stream->Read(buffer, count, got) == stg::kOk;
}

bool ReadStreamBytes(plat::CfbStream* stream, void* buffer, std::uint32_t count, std::uint32_t* got)
{
    return plat::Succeeded(stream->Read(buffer, count, got));
}

namespace {

// Child is CfbStream or CfbStorage; open is the storage's opening call for it.
template <class Child, class Open>
bool OpenChild(plat::CfbStorage* storage, Open open, const std::u16string& name, Child** out, std::uint32_t mode)
{
    *out = nullptr;
    if (!storage)
        return false;
    if (plat::Failed((storage->*open)(name, mode, out)) || !*out) {
        if (*out)
            (*out)->Release();
        *out = nullptr;
        return false;
    }
    return true;
}

}  // namespace

bool OpenChildStream(plat::CfbStorage* storage, const std::u16string& name, plat::CfbStream** out,
                     std::uint32_t mode)
{
    return OpenChild(storage, &plat::CfbStorage::OpenStream, name, out, mode);
}

bool OpenChildStorage(plat::CfbStorage* storage, const std::u16string& name, plat::CfbStorage** out,
                      std::uint32_t mode)
{
    return OpenChild(storage, &plat::CfbStorage::OpenStorage, name, out, mode);
}

bool SeekStreamTo(plat::CfbStream* stream, std::int64_t offset)
{
    return stream && plat::Succeeded(stream->Seek(offset, stg::kSeekSet, nullptr));
}

bool StreamSize(plat::CfbStream* stream, std::uint64_t* size)
{
    plat::CfbStat st;
    if (!stream || plat::Failed(stream->Stat(&st, false)))
        return false;
    *size = st.size;
    return true;
}

bool StorageElements(plat::CfbStorage* storage, std::vector<plat::CfbStat>* out)
{
    return storage && plat::Succeeded(storage->Elements(out));
}

// --- CH2sStorage -----------------------------------------------------------

CH2sStorage::CH2sStorage(plat::CfbStorage* storage, bool addRef) : storage_(storage)
{
    if (storage_ && addRef)
        storage_->AddRef();
}

CH2sStorage::~CH2sStorage() { CH2sStorage::Close(); }

void CH2sStorage::Close()
{
    if (storage_) {
        storage_->Release();
        storage_ = nullptr;
    }
}

void CH2sStorage::SetStorage(plat::CfbStorage* s)
{
    if (storage_)
        storage_->Release();
    storage_ = s;
}

int CH2sStorage::OpenStream(const std::u16string& name, CH2sStream& device, std::uint32_t mode)
{
    if (!storage_ || name.empty())
        return 0;
    plat::CfbStream* s = nullptr;
    plat::HResult hr = storage_->OpenStream(name, mode, &s);
    if (plat::Failed(hr) || !s) {
        SetLibraryError(plat::Failed(hr) ? hr : stg::kInvalidPointer);
        return 0;
    }
    int ok = device.Attach(s, true);
    s->Release();
    return ok;
}

int CH2sStorage::OpenSubStorage(const std::u16string& name, CH2sStorage& target, std::uint32_t mode)
{
    plat::CfbStorage* sub = nullptr;
    plat::HResult hr = storage_ ? storage_->OpenStorage(name, mode, &sub) : stg::kInvalidPointer;
    if (plat::Failed(hr) || !sub) {
        SetLibraryError(plat::Failed(hr) ? hr : stg::kInvalidPointer);
        RaiseLibraryError();
        return 0;
    }
    target.SetStorage(sub);
    return 1;
}

// --- CH2sMainStorage -------------------------------------------------------

CH2sMainStorage::~CH2sMainStorage()
{
    // The table write may fail; a destructor must not throw.
    try {
        CH2sMainStorage::Close();
    } catch (...) {
        CH2sStorage::Close();
    }
}

int CH2sMainStorage::Open(const std::u16string& path, std::uint32_t mode)
{
    plat::CfbStorage* root = nullptr;
    plat::HResult hr = plat::CfbOpenStorage(path, mode, &root);
    if (plat::Failed(hr) || !root) {
        SetLibraryError(plat::Failed(hr) ? hr : stg::kInvalidPointer);
        RaiseLibraryError();
        return 0;
    }
    SetStorage(root);
    return 1;
}

int CH2sMainStorage::ReadFileHeader(unsigned char record[256])
{
    CH2sStream device;
    if (!OpenStream(u"FileHeader", device, kH2sStreamMode))
        return 0;
    int got = device.compressed() ? InflateStreamRead(device.filter(), record, 256) : device.Read(record, 256);
    // The header is 256 bytes long: the record past a shorter one stays as it was.
    if (got >= 0 && got < 256)
        plat::NoteDamage("파일 헤더가 짧음");
    if (got > 0)
        version_ = std::uint32_t(record[32]) | (std::uint32_t(record[33]) << 8) |
                   (std::uint32_t(record[34]) << 16) | (std::uint32_t(record[35]) << 24);
    device.Close();
    return 0;
}

void CH2sMainStorage::CloseHeaderTable()
{
    if (tableStorage_.storage() && tableModified_) {
        while (!table_.empty() && table_.back().first == 0)
            table_.pop_back();
        CH2sStream device;
        if (tableStorage_.OpenStream(u"FileHeader", device, stg::kShareExclusive | stg::kModeReadWrite) &&
            device.Seek(256, 0) == 256) {
            auto put = [&device](std::uint32_t v) {
                unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                      static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
                device.Write(b, 4);
            };
            put(static_cast<std::uint32_t>(table_.size()));
            put(12);
            for (auto& [a, b] : table_) {
                put(a);
                put(b);
            }
        }
        tableModified_ = false;
    }
    tableStorage_.Close();
}

void CH2sMainStorage::Close()
{
    CloseHeaderTable();
    CH2sStorage::Close();
}

// --- CStorageAccess --------------------------------------------------------

CStorageAccess::CStorageAccess() = default;

CStorageAccess::CStorageAccess(const std::u16string& path) { OpenStorage(path, kH2sRootMode, nullptr); }

CStorageAccess::~CStorageAccess()
{
    if (clone_)
        clone_->Release();
    if (current_)
        current_->Release();
    if (root_)
        root_->Release();
}

int CStorageAccess::OpenStorage(const std::u16string& path, std::uint32_t, plat::CfbStorage** out)
{
    plat::CfbStorage** target = out ? out : &root_;
    if (!out && root_) {
        root_->Release();
        root_ = nullptr;
    }
    path_ = path;
    if (plat::CfbIsStorageFile(path) != stg::kOk)
        return 0;
    plat::CfbStorage* s = nullptr;
    plat::HResult hr = plat::CfbOpenStorage(path, kH2sRootMode, &s);
    *target = s;
    return plat::Succeeded(hr) && s ? 1 : 0;
}

int CStorageAccess::OpenStream(const std::u16string& name, std::uint32_t mode, plat::CfbStream** out)
{
    if (!root_)
        return 0;
    plat::CfbStream* s = nullptr;
    plat::HResult hr = root_->OpenStream(name, mode, &s);
    // The current stream is overwritten: callers release a held one first.
    *(out ? out : &current_) = s;
    return plat::Succeeded(hr) && s ? 1 : 0;
}

int CStorageAccess::ReadStream(std::uint32_t count, void* buffer, std::uint32_t* got, bool useClone)
{
    plat::CfbStream* s = useClone ? clone_ : current_;
    if (!current_ || !buffer || !s)
        return -1;
    std::uint32_t n = 0;
    plat::HResult hr = s->Read(buffer, count, &n);
    if (got)
        *got = n;
    if (plat::Failed(hr) || (count != 0 && n == 0))
        return 0;
    return 1;
}

int CStorageAccess::SkipStream(std::uint32_t low, std::int32_t high)
{
    if (!current_)
        return 0;
    const std::int64_t count = static_cast<std::int64_t>((std::uint64_t(std::uint32_t(high)) << 32) | low);
    return plat::Succeeded(current_->Seek(count, stg::kSeekCur, nullptr)) ? 1 : 0;
}

int CStorageAccess::SeekStream(int origin, std::uint32_t low, std::int32_t high, std::uint64_t* newPos,
                               bool useClone)
{
    if (!current_)
        return 0;
    const std::int64_t offset = static_cast<std::int64_t>((std::uint64_t(std::uint32_t(high)) << 32) | low);
    plat::CfbStream* s = current_;
    if (useClone) {
        if (clone_) {
            clone_->Release();
            clone_ = nullptr;
        }
        current_->Clone(&clone_);
        if (!clone_)
            return 1;
        s = clone_;
    }
    return plat::Succeeded(s->Seek(offset, origin, newPos)) ? 1 : 0;
}

int CStorageAccess::ReleaseStream()
{
    if (!current_)
        return 0;
    current_->Release();
    current_ = nullptr;
    return 1;
}

plat::CfbStream* CStorageAccess::GetMainStream()
{
    // The current stream always holds its own reference, so releasing it
    // (ReleaseStream, the destructor) never takes the derived class's reference.
    if (current_ != mainStream_) {
        if (mainStream_)
            mainStream_->AddRef();
        if (current_)
            current_->Release();
        current_ = mainStream_;
    }
    return mainStream_;
}

int CStorageAccess::IsStorageWith(const char16_t* streamName)
{
    if (!root_)
        return 0;
    plat::CfbStream* s = nullptr;
    plat::HResult hr = root_->OpenStream(streamName, 0x8000000, &s);
    if (s)
        s->Release();
    return plat::Succeeded(hr) && s ? 1 : 0;
}

int CStorageAccess::IsPowerPointStorage() { return IsStorageWith(u"PowerPoint Document"); }

int CStorageAccess::IsWordStorage() { return IsStorageWith(u"WordDocument"); }

int CStorageAccess::IsExcelStorage()
{
    if (!root_ || plat::CfbIsStorageFile(path_) != stg::kOk)
        return 0;
    return IsStorageWith(u"Workbook");
}
