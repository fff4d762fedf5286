// Buffered little-endian reader and writer over a byte device. The HWP record
// readers derive from it and narrow Read and Skip to their record.
#pragma once

#include "extract/io/h2s_bufio.h"

#include <cstdint>

class CH2sArchive {
public:
    static constexpr int kDefaultBufferSize = 10240;

    explicit CH2sArchive(CH2sBufIO* device = nullptr, int bufferSize = kDefaultBufferSize);
    virtual ~CH2sArchive();
    CH2sArchive(const CH2sArchive&) = delete;
    CH2sArchive& operator=(const CH2sArchive&) = delete;

    // Detaches (through the virtual Detach), then takes the device.
    void Attach(CH2sBufIO* device, int bufferSize = kDefaultBufferSize);
    // Forgets the device and the read-ahead; the consumed count starts again.
    virtual void Detach();

    // Bytes copied; 0 at the end of the data; -1 when a refill failed.
    virtual int Read(void* buffer, int n);
    // Drops the read-ahead (moving the device back over it unless in
    // compressed mode), then writes through the filter or the device.
    virtual int Write(const void* buffer, int n);
    // Reads and drops n bytes (the device is not seeked): the bytes passed
    // over, or -1 when a refill failed.
    virtual int Skip(int n);

    // Refills the buffer: bytes read, or -1 (the counts stay as they were).
    int FillBuffer();

    // Typed little-endian reads through Read: bytes not there stay zero.
    std::uint8_t ReadByte();
    std::uint16_t ReadWord();
    std::uint32_t ReadDword();
    double ReadDouble();
    // Four bytes through the buffer, bypassing Read (and a derived record's limit).
    std::uint32_t ReadDwordRaw();

    // 1 when all four bytes were written.
    int WriteDword(std::uint32_t value);

    // Reading devices skip n values; the others write n copies of the fill value.
    int SkipBytes(int n, std::uint8_t fill = 0);
    int SkipWords(int n, std::uint16_t fill = 0);
    int SkipDwords(int n, std::uint32_t fill = 0);

    int BeginCompression();
    int EndCompression();

    // Six doubles (two rows of three) completed by the row 0, 0, 1.
    CH2sArchive& ReadTransform(double matrix[9]);
    // Reading is never changed; a writing device receives an empty write. 0.
    int SetPassword(int kind, const char16_t* password);

    CH2sBufIO* device() const { return device_; }
    int available() const { return available_; }
    std::int64_t consumed() const { return consumed_; }

protected:
    // Empties the read-ahead, moving the device back over it unless compressed.
    void DropReadAhead();

private:
    bool EnsureBuffer();

    CH2sBufIO* device_ = nullptr;
    int bufferSize_ = kDefaultBufferSize;
    unsigned char* buffer_ = nullptr;
    unsigned char* pos_ = nullptr;
    int available_ = 0;
    std::int64_t consumed_ = 0;
};
