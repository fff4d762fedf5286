#include "extract/hwp/hwp_datablock.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "extract/libstring.h"
#include "platform/docfile.h"

namespace {

// The first tag of the format: no stream holds a record below it.
constexpr unsigned kFirstTag = 16;

// A paragraph's header and the records that belong to it alone.
constexpr unsigned kTagParaHeader = 66;

bool IsParagraphPart(unsigned tag)
{
    return tag >= 67 && tag <= 70;  // text, character shapes, line segments, range tags
}

}  // namespace

CH2sDataBlock::CH2sDataBlock() : CH2sArchive(nullptr, kBufferSize) {}

CH2sDataBlock::~CH2sDataBlock()
{
    // A record being written is written out; a failing device must not
    // leave the destructor.
    try {
        if (size_ != 0 || openCount_ != 0)
            EndRecord();
    } catch (...) {
    }
    std::free(recordBuffer_);
}

bool CH2sDataBlock::Writing() const
{
    return device() && device()->direction() != kH2sRead;
}

void CH2sDataBlock::Detach()
{
    if (Writing() && openCount_ != 0)
        EndRecord();
    size_ = 0;
    openCount_ = 0;
    bodyStart_ = -1;
    flags_ = 0;
    currentLevel_ = 0;
    previousLevel_ = -1;
    std::fill(std::begin(lastTag_), std::end(lastTag_), std::uint16_t(0));
    CH2sArchive::Detach();
}

std::int64_t CH2sDataBlock::Remaining() const
{
    if (size_ == 0 || bodyStart_ < 0)
        return 0;
    const std::int64_t left = bodyStart_ + static_cast<std::int64_t>(size_) - consumed();
    return left > 0 ? left : 0;
}

void CH2sDataBlock::NoteBodyCut()
{
    plat::NoteDamage("레코드 길이가 데이터를 넘음");
}

int CH2sDataBlock::Read(void* buffer, int n)
{
    if (n <= 0 || !buffer)
        return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    const std::int64_t left = Remaining();
    const int take = static_cast<int>(std::min<std::int64_t>(n, left));
    // A field the record's body does not hold: the record is shorter than
    // its kind (the zeros given for it are no value of the document).
    if (take < n && openCount_ != 0 && !(flags_ & kPending))
        plat::NoteDamage("레코드가 짧음");
    int got = take > 0 ? CH2sArchive::Read(out, take) : 0;
    if (got >= 0 && got < take)
        NoteBodyCut();
    const int filled = got > 0 ? got : 0;
    if (filled < n)
        std::memset(out + filled, 0, static_cast<size_t>(n - filled));
    return got;
}

int CH2sDataBlock::Skip(int n)
{
    if (n <= 0)
        return 0;
    const std::int64_t left = Remaining();
    const int take = static_cast<int>(std::min<std::int64_t>(n, left));
    // Fields passed over may be missing from the records of older
    // versions (they end before them): no damage while nothing is read.
    if (take <= 0)
        return 0;
    const int skipped = CH2sArchive::Skip(take);
    if (skipped >= 0 && skipped < take)
        NoteBodyCut();
    return take;
}

int CH2sDataBlock::Write(const void* buffer, int n)
{
    if (n <= 0)
        return n < 0 ? 0 : 0;
    const std::uint64_t need = std::uint64_t(size_) + std::uint64_t(n);
    if (need > 0xFFFFFFFFull) {
        SetLibraryError(kLibErrorOutOfMemory);
        RaiseLibraryError();
        return 0;
    }
    if (need > recordCapacity_) {
        void* grown = std::realloc(recordBuffer_, static_cast<size_t>(need));
        if (!grown) {
            SetLibraryError(kLibErrorOutOfMemory);
            RaiseLibraryError();
            return 0;
        }
        recordBuffer_ = static_cast<unsigned char*>(grown);
        recordCapacity_ = static_cast<std::uint32_t>(need);
    }
    std::memcpy(recordBuffer_ + size_, buffer, static_cast<size_t>(n));
    size_ = static_cast<std::uint32_t>(need);
    return n;
}

bool CH2sDataBlock::ReadHeaderFields(bool* cutShort)
{
    *cutShort = false;
    const std::int64_t before = consumed();
    const std::uint32_t header = ReadDwordRaw();
    const std::int64_t got = consumed() - before;
    if (got == 0)
        return false;
    if (got < 4) {
        *cutShort = true;
        return false;
    }
    tag_ = static_cast<std::uint16_t>(header & 0x3FF);
    level_ = static_cast<std::uint16_t>((header >> 10) & 0x3FF);
    size_ = header >> 20;
    if (tag_ < kFirstTag)
        plat::NoteDamage("알 수 없는 레코드");
    // A record nests one level below the one before it at most; a stream
    // starts at level 0. A paragraph's own records sit right below its header.
    if (static_cast<int>(level_) > previousLevel_ + 1)
        plat::NoteDamage("레코드 단계가 맞지 않음");
    else if (IsParagraphPart(tag_) && (level_ == 0 || lastTag_[level_ - 1] != kTagParaHeader))
        plat::NoteDamage("레코드 단계가 맞지 않음");
    previousLevel_ = level_;
    lastTag_[level_] = tag_;
    if (size_ == 0xFFF) {
        const std::int64_t at = consumed();
        size_ = ReadDwordRaw();
        if (consumed() - at < 4) {
            *cutShort = true;
            return false;
        }
    }
    bodyStart_ = consumed();
    return true;
}

int CH2sDataBlock::ReadRecordHeader()
{
    bool cutShort = false;
    if (ReadHeaderFields(&cutShort))
        return 1;
    // No record where the document needs one.
    tag_ = 0;
    level_ = 0;
    size_ = 0;
    bodyStart_ = consumed();
    SetLibraryError(kLibErrorUnexpectedRecord);
    RaiseLibraryError();
    return 0;
}

int CH2sDataBlock::WriteRecordHeader()
{
    const std::uint32_t size = size_;
    std::uint32_t header = (std::uint32_t(tag_) & 0x3FF) | ((std::uint32_t(level_) & 0x3FF) << 10);
    int ok;
    if (size < 0xFFF) {
        ok = WriteDword(header | (size << 20));
    } else {
        ok = WriteDword(header | (0xFFFu << 20));
        if (ok)
            ok = WriteDword(size);
    }
    bodyStart_ = consumed();
    return ok;
}

unsigned CH2sDataBlock::NextRecord(unsigned expected)
{
    if (!(flags_ & kPending)) {
        if (!ReadRecordHeader())
            return 0;
    } else if (flags_ & kAtEnd) {
        flags_ = 0;
        SetLibraryError(kLibErrorUnexpectedRecord);
        RaiseLibraryError();
        return 0;
    }
    flags_ &= static_cast<std::uint16_t>(~kPending);
    if (GetLibraryError() != 0)
        return 0;
    if (expected != 0 && expected != tag_) {
        SetLibraryError(kLibErrorUnexpectedRecord);
        RaiseLibraryError();
        return 0;
    }
    ++openCount_;
    currentLevel_ = level_;
    return tag_;
}

unsigned CH2sDataBlock::PeekTag()
{
    if (flags_ & kPending)
        return (flags_ & kAtEnd) ? 0 : tag_;
    bool cutShort = false;
    if (!ReadHeaderFields(&cutShort)) {
        if (cutShort) {
            SetLibraryError(kLibErrorUnexpectedRecord);
            RaiseLibraryError();
            return 0;
        }
        // The end of the data: nothing follows, and a record asked for
        // later is missing.
        tag_ = 0;
        level_ = 0;
        size_ = 0;
        bodyStart_ = consumed();
        flags_ |= kPending | kAtEnd;
        return 0;
    }
    flags_ |= kPending;
    if (GetLibraryError() != 0)
        return 0;
    return tag_;
}

int CH2sDataBlock::EndRecord()
{
    int result = 1;
    if (Writing()) {
        WriteRecordHeader();
        if (size_ != 0)
            result = CH2sArchive::Write(recordBuffer_, static_cast<int>(size_));
        tag_ = 0;
    } else if (!(flags_ & kPending)) {
        std::int64_t left = Remaining();
        while (left > 0) {
            const int chunk = static_cast<int>(std::min<std::int64_t>(left, 1 << 30));
            const int skipped = CH2sArchive::Skip(chunk);
            if (skipped <= 0) {
                NoteBodyCut();
                break;
            }
            left -= skipped;
        }
    }
    if (!(flags_ & kPending))
        size_ = 0;
    openCount_ = 0;
    return result;
}

unsigned CH2sDataBlock::SkipRecord()
{
    const unsigned tag = NextRecord(0);
    if (GetLibraryError() != 0 && tag == 0)
        return 0;
    const unsigned level = level_;
    for (;;) {
        EndRecord();
        PeekTag();
        if ((flags_ & kAtEnd) || level_ <= level)
            break;
        NextRecord(0);
    }
    return tag;
}

void CH2sDataBlock::BeginWriteRecord(unsigned tag, unsigned level)
{
    tag_ = static_cast<std::uint16_t>(tag & 0x3FF);
    level_ = static_cast<std::uint16_t>(level & 0x3FF);
    size_ = 0;
    ++openCount_;
}
