#include "extract/io/h2s_archive.h"

#include "extract/libstring.h"
#include "platform/docfile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>


CH2sArchive::CH2sArchive(CH2sBufIO* device, int bufferSize)
    : device_(device), bufferSize_(bufferSize > 0 ? bufferSize : kDefaultBufferSize)
{
}

CH2sArchive::~CH2sArchive() { std::free(buffer_); }

void CH2sArchive::Attach(CH2sBufIO* device, int bufferSize)
{
    Detach();
    device_ = device;
    bufferSize_ = bufferSize > 0 ? bufferSize : kDefaultBufferSize;
}

void CH2sArchive::Detach()
{
    device_ = nullptr;
    std::free(buffer_);
    buffer_ = nullptr;
    pos_ = nullptr;
    available_ = 0;
    consumed_ = 0;
}

bool CH2sArchive::EnsureBuffer()
{
    if (!buffer_) {
        buffer_ = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(bufferSize_)));
        pos_ = buffer_;
        available_ = 0;
    }
    return buffer_ != nullptr;
}

int CH2sArchive::FillBuffer()
{
    if (!device_) {
        RaiseLibraryError();
        return -1;
    }
    if (!EnsureBuffer()) {
        SetLibraryError(2);  // out of memory
        RaiseLibraryError();
        return -1;
    }
    int got = device_->compressed() ? InflateStreamRead(device_->filter(), buffer_, bufferSize_)
                                    : device_->Read(buffer_, bufferSize_);
    if (got < 0) {
        // Compressed data that does not decode, or ends inside a block; a
        // stopped read is no damage.
        if (device_->compressed() && !plat::ReadCancelled())
            plat::NoteDamage("압축 스트림 손상");
        RaiseLibraryError();
        return -1;
    }
    pos_ = buffer_;
    available_ = std::min(got, bufferSize_);
    return available_;
}

int CH2sArchive::Read(void* buffer, int n)
{
    if (n <= 0 || !buffer)
        return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    if (n == 1) {
        if (available_ == 0) {
            int r = FillBuffer();
            if (r <= 0)
                return r;
        }
        *out = *pos_++;
        --available_;
        ++consumed_;
        return 1;
    }
    int copied = 0;
    while (copied < n) {
        if (available_ == 0) {
            int r = FillBuffer();
            if (r < 0)
                return -1;
            if (r == 0)
                break;
        }
        int take = std::min(available_, n - copied);
        std::memcpy(out + copied, pos_, static_cast<size_t>(take));
        pos_ += take;
        available_ -= take;
        consumed_ += take;
        copied += take;
    }
    return copied;
}

int CH2sArchive::Skip(int n)
{
    int skipped = 0;
    while (skipped < n) {
        if (available_ == 0) {
            int r = FillBuffer();
            if (r < 0)
                return -1;
            if (r == 0)
                break;
        }
        int take = std::min(available_, n - skipped);
        pos_ += take;
        available_ -= take;
        consumed_ += take;
        skipped += take;
    }
    return skipped;
}

void CH2sArchive::DropReadAhead()
{
    if (available_ > 0 && device_ && !device_->compressed())
        device_->Seek(-static_cast<std::int64_t>(available_), 1);
    available_ = 0;
    pos_ = buffer_;
}

int CH2sArchive::Write(const void* buffer, int n)
{
    if (!device_)
        return -1;
    DropReadAhead();
    if (device_->compressed())
        return DeflateStreamWrite(device_->filter(), buffer, n);
    return device_->Write(buffer, n);
}

std::uint8_t CH2sArchive::ReadByte()
{
    std::uint8_t v = 0;
    Read(&v, 1);
    return v;
}

std::uint16_t CH2sArchive::ReadWord()
{
    unsigned char b[2] = {};
    Read(b, 2);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t CH2sArchive::ReadDword()
{
    unsigned char b[4] = {};
    Read(b, 4);
    return std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16) |
           (std::uint32_t(b[3]) << 24);
}

double CH2sArchive::ReadDouble()
{
    unsigned char b[8] = {};
    Read(b, 8);
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | b[i];
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

std::uint32_t CH2sArchive::ReadDwordRaw()
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        if (available_ == 0 && FillBuffer() <= 0)
            break;
        v |= std::uint32_t(*pos_++) << (8 * i);
        --available_;
        ++consumed_;
    }
    return v;
}

int CH2sArchive::WriteDword(std::uint32_t value)
{
    if (!device_)
        return 0;
    DropReadAhead();
    unsigned char b[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                          static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    int r = device_->compressed() ? DeflateStreamWrite(device_->filter(), b, 4) : device_->Write(b, 4);
    return r == 4 ? 1 : 0;
}

int CH2sArchive::SkipBytes(int n, std::uint8_t fill)
{
    if (device_ && (device_->direction() & 1)) {
        Skip(n);
    } else {
        for (int i = 0; i < n; ++i)
            Write(&fill, 1);
    }
    return 1;
}

int CH2sArchive::SkipWords(int n, std::uint16_t fill)
{
    if (device_ && (device_->direction() & 1)) {
        Skip(n > 0 && n <= 0x3FFFFFFF ? 2 * n : 0);
    } else {
        unsigned char b[2] = {static_cast<unsigned char>(fill), static_cast<unsigned char>(fill >> 8)};
        for (int i = 0; i < n; ++i)
            Write(b, 2);
    }
    return 1;
}

int CH2sArchive::SkipDwords(int n, std::uint32_t fill)
{
    if (device_ && (device_->direction() & 1)) {
        Skip(n > 0 && n <= 0x1FFFFFFF ? 4 * n : 0);
    } else {
        unsigned char b[4] = {static_cast<unsigned char>(fill), static_cast<unsigned char>(fill >> 8),
                              static_cast<unsigned char>(fill >> 16), static_cast<unsigned char>(fill >> 24)};
        for (int i = 0; i < n; ++i)
            Write(b, 4);
    }
    return 1;
}

int CH2sArchive::BeginCompression()
{
    if (!device_)
        return 0;
    DropReadAhead();
    return device_->BeginCompression();
}

int CH2sArchive::EndCompression() { return device_ ? device_->EndCompression() : 0; }

CH2sArchive& CH2sArchive::ReadTransform(double m[9])
{
    for (int i = 0; i < 6; ++i)
        m[i] = ReadDouble();
    m[6] = 0;
    m[7] = 0;
    m[8] = 1;
    return *this;
}

int CH2sArchive::SetPassword(int, const char16_t*)
{
    if (device_ && device_->direction() != kH2sRead)
        device_->Write(nullptr, 0);
    return 0;
}
