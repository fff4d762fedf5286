// The one walk over drawing records that every binary Office reader uses:
// the Word 97-2003 shape table (office/drawing/shapetable.h), the PowerPoint
// document and slide walks (office/powerpoint/pptaccess.cpp), the Word 6
// drawing primitives (office/word/word6text.cpp) and the Word 6 picture
// records (office/drawing/drawingcontext.cpp).
//
// The reader decodes one record header at a time at its cursor and keeps the
// stack of containers the caller opened; the caller decides, record by
// record, whether to open a container, pass over a body or try again one
// byte further. It never recurses, never reads outside the bytes it was
// given, and every step moves the cursor forward, so any input ends the walk.
//
// What counts as damage differs between the formats and the readers, and
// their results depend on it, so the caller picks a policy:
//  - the header format (the 8-byte drawing header, or the 4-byte header of
//    Word 6 drawing primitives whose size includes the header);
//  - how an open container ends: once the lengths of the records read in it
//    add up to its own length (a child that stopped early still counts as
//    whole), or once the cursor reaches its end;
//  - whether a record whose length runs past its container (or, for the
//    Word 6 primitives, has no room for its own header) is damage, or is
//    read with the bytes really present;
//  - the deepest nesting of open containers.
//
//   officeart::RecordReader walk(data, size, officeart::ReaderPolicy{});
//   officeart::Record r;
//   while (walk.Read(r) == officeart::ReadResult::kRecord) {
//       if (r.header.IsContainer() && walk.Open(r)) continue;
//       ... r.body, r.available ...
//       walk.SkipBody(r);
//       while (walk.Depth() > 0 && walk.InnermostComplete()) walk.Close();
//   }
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "office/drawing/drawingrecords.h"

namespace officeart {

enum class HeaderFormat {
    kOfficeArt,       // version/instance, type, 32-bit length of the body
    kWord6Primitive,  // 16-bit kind, 16-bit size of the whole record
};

enum class ContainerEnd {
    kByClaimedLengths,  // complete once its children's lengths add up to its own
    kByPosition,        // complete once the cursor reaches its end
};

struct ReaderPolicy {
    HeaderFormat format = HeaderFormat::kOfficeArt;
    ContainerEnd containerEnd = ContainerEnd::kByClaimedLengths;
    // A record running past its open container (or past the end of the data
    // when none is open) is damage: Read reports it and reads nothing.
    bool pastParentIsDamage = false;
    // Containers open at once, at most.
    int maxDepth = 64;
};

// One record as the walk met it. Offsets count from the start of the data;
// end is what the header claims and may lie past the data.
struct Record {
    RecordHeader header;
    std::uint64_t offset = 0;      // of the header
    std::uint64_t bodyOffset = 0;
    std::uint64_t end = 0;         // bodyOffset + header.length
    const std::uint8_t* body = nullptr;  // null when no byte of the body is there
    std::size_t available = 0;     // bytes of the body really present (up to its length)
    bool pastParent = false;       // runs past its open container

    bool Whole() const { return available == header.length; }
};

enum class ReadResult {
    kRecord,   // a record header was read
    kEnd,      // no further header in the open container or the data
    kDamaged,  // a header whose length the policy does not accept
};

class RecordReader {
public:
    RecordReader(const std::uint8_t* data, std::uint64_t size, const ReaderPolicy& policy);

    // Reads the header at the cursor and moves the cursor to its body. A
    // header is read only where all of it lies inside the data and, with
    // containers ending by position, before the innermost container's end.
    // The record's length is charged to the innermost open container.
    ReadResult Read(Record& record);

    // Opens the record as a container: the records read next are its
    // children. False at the nesting cap (or beyond depthLimit when given):
    // nothing is opened, the caller passes over the body, and the document
    // is marked damaged (plat::NoteDamage): what the container holds is not
    // read. The same for OpenAt.
    bool Open(const Record& record, int depthLimit = -1);
    // Opens a Word 6 group whose children start childOffset bytes into the
    // record and whose headers start before childLimit (also from the
    // record's start); the cursor moves to the first child.
    bool OpenAt(const Record& record, std::uint64_t childOffset, std::uint64_t childLimit);
    // Closes the innermost container and returns its record; the cursor
    // stays where it is.
    Record Close();

    int Depth() const { return static_cast<int>(frames_.size()); }
    const Record& Innermost() const { return frames_.back().record; }
    bool InnermostComplete() const;

    // Moves the cursor past the record's body (possibly past the data, where
    // the next Read ends the walk).
    void SkipBody(const Record& record) { cursor_ = record.end; }
    // Tries again one byte after the record's first byte.
    void Resync(const Record& record) { cursor_ = record.offset + 1; }
    void Seek(std::uint64_t position) { cursor_ = position; }
    std::uint64_t Position() const { return cursor_; }

private:
    struct Frame {
        Record record;
        std::uint64_t charged = 0;  // 8 + length of each child read
        std::uint64_t limit = 0;    // headers start before it
        std::uint64_t end = 0;      // children end at it
    };
    std::uint64_t HeaderSize() const { return policy_.format == HeaderFormat::kOfficeArt ? 8 : 4; }
    std::uint64_t RegionEnd() const;

    const std::uint8_t* data_;
    std::uint64_t size_;
    ReaderPolicy policy_;
    std::uint64_t cursor_ = 0;
    std::vector<Frame> frames_;
};

}  // namespace officeart
