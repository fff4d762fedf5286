// Byte devices of the readers: a file (CH2sFile) or a compound-file stream
// (CH2sStream), both switchable into compressed mode, where reads pass
// through an inflating stream and writes through a deflating one.
//
// Failures follow the library convention: with the throw flag set the error
// word is thrown (as a ReadError); otherwise a failure value is returned.
#pragma once

#include "extract/io/compress_stream.h"
#include "platform/cfb.h"

#include <cstdint>
#include <string>

// Directions of a device.
enum : int {
    kH2sReadWrite = 0,  // opened for both: compressed mode cannot start
    kH2sRead = 1,
    kH2sWrite = 2,
};

class CH2sBufIO {
public:
    CH2sBufIO() = default;
    virtual ~CH2sBufIO();
    CH2sBufIO(const CH2sBufIO&) = delete;
    CH2sBufIO& operator=(const CH2sBufIO&) = delete;

    virtual int Read(void* buffer, int n) = 0;                 // bytes read, or -1
    virtual int Write(const void* buffer, int n) = 0;          // bytes written; failure -1 (file) or 0 (stream)
    virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;  // new position, or -1
    virtual std::int64_t GetLength() = 0;                      // length, or -1
    virtual int SetLength(std::int64_t n) = 0;
    virtual void Close();                                      // ends compressed mode
    virtual const char16_t* GetFileName() const { return nullptr; }

    // Switches into compressed mode: 1, or 0 (or a throw) when it is already
    // on, the device was opened for both directions, or no stream results.
    int BeginCompression();
    // Leaves compressed mode: 1, or 0 (or a throw) when it was off. After
    // reading, the device is moved back over source bytes read beyond the
    // compressed data's trailer.
    int EndCompression();

    CompressStream* filter() const { return filter_; }
    bool compressed() const { return filter_ != nullptr; }
    int direction() const { return direction_; }

protected:
    void setDirection(int d) { direction_ = d & 3; }
    // Fails the library way: throws the error word when asked, else returns.
    static void Raise();

private:
    static int ReadCallback(CompressStream*, void* user, void* buffer, int n);
    static int WriteCallback(CompressStream*, void* user, const void* buffer, int n);

    CompressStream* filter_ = nullptr;
    int direction_ = kH2sRead;
};

// A file on disk. Modes: 0 (and any value outside 1..3) read an existing
// file; 1 write an existing file; 2 read and write an existing file;
// 3 create or truncate for writing.
class CH2sFile : public CH2sBufIO {
public:
    CH2sFile() = default;
    ~CH2sFile() override;

    int Open(const std::u16string& path, int mode);
    int Read(void* buffer, int n) override;
    int Write(const void* buffer, int n) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;
    std::int64_t GetLength() override;
    int SetLength(std::int64_t n) override;
    void Close() override;
    const char16_t* GetFileName() const override { return fd_ >= 0 ? name_.c_str() : nullptr; }

    bool isOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    std::u16string name_;
};

// A stream of a compound file (one reference held). Failing calls store their
// result code in the error word and raise it.
class CH2sStream : public CH2sBufIO {
public:
    CH2sStream() = default;
    ~CH2sStream() override;

    // Holds the stream (taking a reference when asked) and sets the direction
    // from the mode it was opened with. 1 when a stream is now held.
    int Attach(plat::CfbStream* stream, bool addRef);
    int Read(void* buffer, int n) override;
    int Write(const void* buffer, int n) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;
    std::int64_t GetLength() override;
    int SetLength(std::int64_t n) override;
    void Close() override;

    plat::CfbStream* stream() const { return stream_; }

private:
    plat::CfbStream* stream_ = nullptr;
};
