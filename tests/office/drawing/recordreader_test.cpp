// The shared walk over drawing records: its caps on hostile input hold for
// every policy the readers use, and each policy keeps its own idea of damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "office/drawing/drawingrecords.h"
#include "office/drawing/recordreader.h"
#include "platform/docfile.h"

#include "drawing_records.h"

namespace {

using namespace drawing_test;
using officeart::ContainerEnd;
using officeart::HeaderFormat;
using officeart::ReadResult;
using officeart::Record;
using officeart::RecordReader;
using officeart::ReaderPolicy;

const std::uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// A container header claiming `length` bytes, whatever follows.
std::string ContainerHeader(int type, std::uint32_t length)
{
    return U16(0x000F) + U16(static_cast<std::uint16_t>(type)) + U32(length);
}

// A Word 6 primitive: kind, size of the whole primitive, body.
std::string Primitive(int kind, const std::string& body, int size = -1)
{
    return U16(static_cast<std::uint16_t>(kind)) + U16(static_cast<std::uint16_t>(size >= 0 ? size : body.size() + 4)) +
           body;
}

struct WalkStats {
    int records = 0;
    int damaged = 0;
    int deepest = 0;
    int steps = 0;
};

// Walks everything the way the readers do: opens every container, passes
// over atoms, closes what is complete or cannot go on.
WalkStats WalkAll(const std::string& data, const ReaderPolicy& policy)
{
    WalkStats stats;
    RecordReader walk(Bytes(data), data.size(), policy);
    Record r;
    for (;;) {
        ++stats.steps;
        EXPECT_LE(stats.steps, static_cast<int>(2 * data.size() + 2)) << "the walk makes no progress";
        if (stats.steps > static_cast<int>(2 * data.size() + 2))
            break;
        while (walk.Depth() > 0 && walk.InnermostComplete())
            walk.Close();
        const ReadResult got = walk.Read(r);
        if (got != ReadResult::kRecord) {
            stats.damaged += got == ReadResult::kDamaged;
            if (walk.Depth() == 0)
                break;
            walk.Close();
            continue;
        }
        ++stats.records;
        EXPECT_LE(r.available, r.header.length);
        if (r.body) {
            EXPECT_LE(r.bodyOffset + r.available, data.size());
        }
        const bool container = policy.format == HeaderFormat::kOfficeArt ? r.header.IsContainer()
                                                                         : r.header.type == officeart::word6draw::kGroup;
        if (container && walk.Open(r)) {
            stats.deepest = std::max(stats.deepest, walk.Depth());
            continue;
        }
        walk.SkipBody(r);
    }
    return stats;
}

ReaderPolicy Policy(ContainerEnd end, bool pastParentIsDamage, int maxDepth,
                    HeaderFormat format = HeaderFormat::kOfficeArt)
{
    ReaderPolicy p;
    p.format = format;
    p.containerEnd = end;
    p.pastParentIsDamage = pastParentIsDamage;
    p.maxDepth = maxDepth;
    return p;
}

TEST(DrawingRecordReader, RecordPastItsParentIsCountedOrDamageByPolicy)
{
    // A container of 16 bytes whose only child claims 100; then a record
    // after the container that a walk counting the claim never reaches.
    const std::string child = U16(0) + U16(officeart::kSp) + U32(100) + std::string(8, 'x');
    const std::string data = ContainerHeader(officeart::kSpContainer, 16) + child + Rec(officeart::kDg, 0, "12345678");

    struct Case {
        const char* name;
        ReaderPolicy policy;
        ReadResult childRead;
        bool parentComplete;
    };
    const Case cases[] = {
        {"counted by claimed lengths", Policy(ContainerEnd::kByClaimedLengths, false, 8), ReadResult::kRecord, true},
        {"counted by position", Policy(ContainerEnd::kByPosition, false, 8), ReadResult::kRecord, true},
        {"damage", Policy(ContainerEnd::kByClaimedLengths, true, 8), ReadResult::kDamaged, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordReader walk(Bytes(data), data.size(), c.policy);
        Record parent, r;
        ASSERT_EQ(walk.Read(parent), ReadResult::kRecord);
        ASSERT_TRUE(walk.Open(parent));
        const std::uint64_t before = walk.Position();
        EXPECT_EQ(walk.Read(r), c.childRead);
        if (c.childRead == ReadResult::kRecord) {
            EXPECT_TRUE(r.pastParent);
            // Only the bytes really there are handed out.
            EXPECT_EQ(r.available, data.size() - r.bodyOffset);
            EXPECT_FALSE(r.Whole());
            walk.SkipBody(r);
            EXPECT_GT(walk.Position(), data.size());
            EXPECT_EQ(walk.InnermostComplete(), c.parentComplete);
            walk.Close();
            EXPECT_EQ(walk.Read(r), ReadResult::kEnd);  // the claim ran past the data
        } else {
            EXPECT_EQ(walk.Position(), before);
            EXPECT_FALSE(walk.InnermostComplete());
        }
    }

    // Word 6 primitives: one running past its group ends the group's list,
    // and one too short for its own header is damage too.
    const ReaderPolicy word6 = Policy(ContainerEnd::kByPosition, true, 16, HeaderFormat::kWord6Primitive);
    for (const std::string& bad : {Primitive(officeart::word6draw::kRectangle, "ab", 40), Primitive(3, "", 0),
                                   Primitive(3, "", 3)}) {
        const std::string group =
            Primitive(officeart::word6draw::kGroup, std::string(10, '\0') + bad + std::string(16, '\0'));
        RecordReader walk(Bytes(group), group.size(), word6);
        Record g, r;
        ASSERT_EQ(walk.Read(g), ReadResult::kRecord);
        ASSERT_TRUE(walk.OpenAt(g, officeart::word6draw::kGroupChildOffset,
                                g.end - g.offset - officeart::word6draw::kGroupTrailer));
        EXPECT_EQ(walk.Read(r), ReadResult::kDamaged);
    }
}

TEST(DrawingRecordReader, NestingStopsAtTheCap)
{
    // 200 containers, each holding the rest.
    std::string nested;
    for (int k = 0; k < 200; ++k)
        nested = ContainerHeader(officeart::kSpgrContainer, static_cast<std::uint32_t>(nested.size())) + nested;
    std::string word6 = Primitive(officeart::word6draw::kLine, "");
    for (int k = 0; k < 200; ++k)
        word6 = Primitive(officeart::word6draw::kGroup, std::string(10, '\0') + word6 + std::string(1, '\0'));

    for (const ReaderPolicy& policy :
         {Policy(ContainerEnd::kByClaimedLengths, false, 64), Policy(ContainerEnd::kByPosition, false, 64),
          Policy(ContainerEnd::kByPosition, true, 64)}) {
        const WalkStats stats = WalkAll(nested, policy);
        EXPECT_EQ(stats.deepest, 64);
        EXPECT_EQ(stats.records, 64 + 1);  // the one at the cap is passed over whole
    }

    // A caller's own, lower limit inside the reader's cap.
    RecordReader walk(Bytes(nested), nested.size(), Policy(ContainerEnd::kByClaimedLengths, false, 64));
    Record r;
    int opened = 0;
    while (walk.Read(r) == ReadResult::kRecord && walk.Open(r, 5))
        ++opened;
    EXPECT_EQ(opened, 5);
    EXPECT_EQ(walk.Depth(), 5);

    // Word 6 groups: opened with their child offsets, capped the same way.
    RecordReader groups(Bytes(word6), word6.size(), Policy(ContainerEnd::kByPosition, true, 16, HeaderFormat::kWord6Primitive));
    int depth = 0;
    while (groups.Read(r) == ReadResult::kRecord && r.header.type == officeart::word6draw::kGroup &&
           groups.OpenAt(r, officeart::word6draw::kGroupChildOffset, r.end - r.offset - officeart::word6draw::kGroupTrailer))
        depth = groups.Depth();
    EXPECT_EQ(depth, 16);
}

// A container passed over at the nesting cap marks the document damaged:
// what it holds is not read. Nesting within the cap marks nothing.
TEST(DrawingRecordReader, ContainerPassedOverAtTheCapIsDamage)
{
    auto nestedOf = [](int depth) {
        std::string nested = Rec(0xF00A, 0, std::string(8, '\0'));
        for (int k = 0; k < depth; ++k)
            nested = ContainerHeader(officeart::kSpgrContainer, static_cast<std::uint32_t>(nested.size())) + nested;
        return nested;
    };
    const std::string word6 = Primitive(officeart::word6draw::kGroup,
                                        std::string(10, '\0') + Primitive(officeart::word6draw::kLine, "") + std::string(1, '\0'));
    for (int depth : {8, 9}) {
        const std::string nested = nestedOf(depth);
        plat::DamageScope damage;
        WalkAll(nested, Policy(ContainerEnd::kByClaimedLengths, false, 8));
        EXPECT_EQ(damage.Damaged(), depth > 8) << depth;
        if (damage.Damaged()) {
            EXPECT_STREQ(damage.Reason(), "한도에 이르러 건너뜀");
        }
    }
    // A caller's own limit, and a Word 6 group at the cap.
    {
        const std::string nested = nestedOf(3);
        plat::DamageScope damage;
        RecordReader walk(Bytes(nested), nested.size(), Policy(ContainerEnd::kByClaimedLengths, false, 64));
        Record r;
        while (walk.Read(r) == ReadResult::kRecord && walk.Open(r, 2)) {
        }
        EXPECT_TRUE(damage.Damaged());
    }
    {
        plat::DamageScope damage;
        RecordReader groups(Bytes(word6), word6.size(), Policy(ContainerEnd::kByPosition, true, 0, HeaderFormat::kWord6Primitive));
        Record r;
        ASSERT_EQ(groups.Read(r), ReadResult::kRecord);
        EXPECT_FALSE(groups.OpenAt(r, officeart::word6draw::kGroupChildOffset, r.end - r.offset - officeart::word6draw::kGroupTrailer));
        EXPECT_TRUE(damage.Damaged());
    }
}

TEST(DrawingRecordReader, ZeroLengthRecordsAlwaysMoveOn)
{
    // Empty containers (inside one another and one after another) and empty
    // atoms: every step moves forward, nothing piles up.
    std::string empties;
    for (int k = 0; k < 500; ++k)
        empties += ContainerHeader(officeart::kSpContainer, 0) + Rec(officeart::kSp, 0, "");
    const std::string inside = ContainerHeader(officeart::kDgContainer, static_cast<std::uint32_t>(empties.size())) + empties;
    for (const ReaderPolicy& policy :
         {Policy(ContainerEnd::kByClaimedLengths, false, 64), Policy(ContainerEnd::kByPosition, false, 64),
          Policy(ContainerEnd::kByPosition, true, 64)}) {
        for (const std::string* data : {static_cast<const std::string*>(&empties), &inside}) {
            const WalkStats stats = WalkAll(*data, policy);
            EXPECT_EQ(stats.records, static_cast<int>(data->size() / 8));
            EXPECT_LE(stats.deepest, 2);
            EXPECT_EQ(stats.damaged, 0);
        }
    }

    // The flat walk of the Word 97 reader steps into containers without
    // opening them and tries unknown bytes again one further: zeros and
    // empty containers still end.
    const std::string junk = std::string(37, '\0') + empties.substr(0, 80) + std::string(5, '\xFF');
    RecordReader flat(Bytes(junk), junk.size(), Policy(ContainerEnd::kByClaimedLengths, false, 0));
    Record r;
    int steps = 0;
    while (flat.Read(r) == ReadResult::kRecord && steps <= static_cast<int>(junk.size())) {
        ++steps;
        if (r.header.type == officeart::kSp)
            flat.SkipBody(r);
        else if (!r.header.IsContainer())
            flat.Resync(r);
        EXPECT_GT(flat.Position(), r.offset);
    }
    EXPECT_LE(steps, static_cast<int>(junk.size()));
    EXPECT_FALSE(flat.Open(r));  // a flat walk opens nothing

    // A Word 6 primitive of size 0 is damage, not a step of no length.
    const std::string zero = Primitive(officeart::word6draw::kLine, "", 0) + Primitive(1, "");
    EXPECT_EQ(WalkAll(zero, Policy(ContainerEnd::kByPosition, true, 16, HeaderFormat::kWord6Primitive)).damaged, 1);
}

}  // namespace
