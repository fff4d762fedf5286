// The record archive of HWP 5 streams. A record is a 32-bit header (tag in
// bits 0-9, level in bits 10-19, body size in bits 20-31, where 0xFFF means
// that the size follows as a further 32-bit value) and its body. While a
// record is open, Read and Skip never pass the end of its body.
//
// Damage met on the way is noted (plat::NoteDamage) and the reading goes on:
// a header whose tag lies below the format's first tag, a record more than
// one level deeper than the one before it, a paragraph's own record (text,
// character shapes, line segments, range tags) not right below a paragraph
// header, a body that the data ends inside,
// and a read asking for more than the open record's body holds (a record
// shorter than the fields read from it). A skip past the body is none: the
// records of older versions end before fields that later ones added.
#pragma once

#include <cstdint>

#include "extract/io/h2s_archive.h"

class CH2sDataBlock : public CH2sArchive {
public:
    static constexpr int kBufferSize = 10240;

    CH2sDataBlock();
    ~CH2sDataBlock() override;

    // Ends an open record (a record being written is written out), clears
    // the pending header and the current level, then detaches the device.
    void Detach() override;
    // Within the open record's body; zero-fills the part of the buffer that
    // lies beyond it. Without an open record: zeros and 0.
    int Read(void* buffer, int n) override;
    // Appends to the record being written: n.
    int Write(const void* buffer, int n) override;
    // Within the open record's body: the bytes passed over.
    int Skip(int n) override;

    // Reads the next header. A header that the data does not hold completely
    // (the end of the stream, or a header cut short) is a damaged document:
    // the error word becomes 6 and is raised; 0 is returned. 1 otherwise.
    int ReadRecordHeader();
    // Writes the header of the pending record (short form below 0xFFF bytes).
    int WriteRecordHeader();

    // Opens the next (or the pending) record. With an expected tag other
    // than 0, another tag stores 6 in the error word and raises it. Returns
    // the tag, or 0 when no record was opened.
    unsigned NextRecord(unsigned expected);
    // Tag of the next record without opening it; 0 at the end of the data.
    unsigned PeekTag();
    // Leaves the open record: a record being read is passed over to its end,
    // one being written is written out. 1, or the result of the write.
    int EndRecord();
    // Opens the next record and passes over it and every record nested below
    // it; returns its tag.
    unsigned SkipRecord();

    // Starts a record for writing: tag and level of the header written by
    // EndRecord.
    void BeginWriteRecord(unsigned tag, unsigned level);

    // Bytes of the open record's body not yet read (0 when none is open).
    std::int64_t Remaining() const;

    unsigned tag() const { return tag_; }
    unsigned level() const { return level_; }
    std::uint32_t size() const { return size_; }
    std::uint32_t currentLevel() const { return currentLevel_; }
    void setCurrentLevel(std::uint32_t l) { currentLevel_ = l; }
    bool pending() const { return (flags_ & kPending) != 0; }
    // True when the pending header is the end of the data.
    bool atEnd() const { return (flags_ & kAtEnd) != 0; }

private:
    enum : std::uint16_t { kPending = 1, kAtEnd = 2 };

    bool Writing() const;
    // Reads the header fields; false when the data ends before the header.
    bool ReadHeaderFields(bool* cutShort);
    // Notes the damage of a body the data ends inside.
    void NoteBodyCut();

    unsigned char* recordBuffer_ = nullptr;
    std::uint32_t recordCapacity_ = 0;
    std::uint16_t tag_ = 0;
    std::uint16_t level_ = 0xFFFF;
    std::uint32_t size_ = 0;
    std::int64_t bodyStart_ = -1;
    std::uint32_t currentLevel_ = 0;
    std::uint16_t openCount_ = 0;
    std::uint16_t flags_ = 0;
    // Level of the header read before (-1: none yet in this stream).
    int previousLevel_ = -1;
    // Tag of the last header read at each level: a record's parent is the
    // last one a level above it.
    std::uint16_t lastTag_[1024] = {};
};
