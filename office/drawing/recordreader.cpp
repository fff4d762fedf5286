#include "office/drawing/recordreader.h"

#include <algorithm>
#include <limits>

#include "platform/docfile.h"

namespace officeart {

namespace {
constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();
}

RecordReader::RecordReader(const std::uint8_t* data, std::uint64_t size, const ReaderPolicy& policy)
    : data_(data), size_(data ? size : 0), policy_(policy)
{
}

std::uint64_t RecordReader::RegionEnd() const
{
    if (frames_.empty() || policy_.format == HeaderFormat::kOfficeArt)
        return size_;
    return std::min(frames_.back().end, size_);
}

ReadResult RecordReader::Read(Record& record)
{
    const std::uint64_t headerSize = HeaderSize();
    const std::uint64_t regionEnd = RegionEnd();
    const std::uint64_t limit = frames_.empty() ? kNoLimit : frames_.back().limit;
    if (cursor_ >= limit || cursor_ > regionEnd || regionEnd - cursor_ < headerSize)
        return ReadResult::kEnd;
    const std::uint8_t* p = data_ + cursor_;
    Record r;
    r.offset = cursor_;
    r.bodyOffset = cursor_ + headerSize;
    if (policy_.format == HeaderFormat::kOfficeArt) {
        r.header = DecodeHeader(p);
    } else {
        // Kind and the size of the whole record; a record without room for
        // its own header has no length at all.
        const std::uint16_t whole = ReadLe16(p + 2);
        if (whole < headerSize)
            return ReadResult::kDamaged;
        r.header.type = ReadLe16(p);
        r.header.length = whole - static_cast<std::uint32_t>(headerSize);
    }
    r.end = r.bodyOffset + r.header.length;
    const std::uint64_t parentEnd = frames_.empty() ? size_ : frames_.back().record.end;
    r.pastParent = r.end > parentEnd;
    if (r.pastParent && policy_.pastParentIsDamage)
        return ReadResult::kDamaged;
    if (r.bodyOffset < size_) {
        r.body = data_ + r.bodyOffset;
        r.available = static_cast<std::size_t>(std::min<std::uint64_t>(r.header.length, size_ - r.bodyOffset));
    }
    if (!frames_.empty())
        frames_.back().charged += headerSize + r.header.length;
    cursor_ = r.bodyOffset;
    record = r;
    return ReadResult::kRecord;
}

bool RecordReader::Open(const Record& record, int depthLimit)
{
    const int cap = depthLimit >= 0 ? std::min(depthLimit, policy_.maxDepth) : policy_.maxDepth;
    if (Depth() >= cap) {
        // The container is passed over whole: what it holds is not read.
        plat::NoteDamage("한도에 이르러 건너뜀");
        return false;
    }
    frames_.push_back(Frame{record, 0, kNoLimit, record.end});
    cursor_ = record.bodyOffset;
    return true;
}

bool RecordReader::OpenAt(const Record& record, std::uint64_t childOffset, std::uint64_t childLimit)
{
    if (Depth() >= policy_.maxDepth) {
        plat::NoteDamage("한도에 이르러 건너뜀");
        return false;
    }
    frames_.push_back(Frame{record, 0, record.offset + childLimit, record.end});
    cursor_ = record.offset + childOffset;
    return true;
}

Record RecordReader::Close()
{
    Record r = frames_.back().record;
    frames_.pop_back();
    return r;
}

bool RecordReader::InnermostComplete() const
{
    const Frame& f = frames_.back();
    if (policy_.containerEnd == ContainerEnd::kByClaimedLengths)
        return f.charged >= f.record.header.length;
    return cursor_ >= f.record.end;
}

}  // namespace officeart
