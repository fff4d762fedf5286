#include "office/drawing/shapetable.h"

#include <algorithm>

#include "office/drawing/drawingrecords.h"
#include "office/drawing/recordreader.h"
#include "platform/docfile.h"

using namespace officeart;

namespace {

std::int32_t I32At(const std::uint8_t* p, std::uint64_t length, std::uint64_t at)
{
    std::uint8_t b[4] = {};
    for (int i = 0; i < 4; ++i)
        b[i] = at + i < length ? p[at + i] : 0;
    return static_cast<std::int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24));
}

std::uint16_t U16At(const std::uint8_t* p, std::uint64_t length, std::uint64_t at)
{
    const std::uint8_t lo = at < length ? p[at] : 0;
    const std::uint8_t hi = at + 1 < length ? p[at + 1] : 0;
    return static_cast<std::uint16_t>(lo | (hi << 8));
}

template <class Key>
int FindFirst(const std::vector<std::pair<Key, int>>& index, Key key)
{
    auto it = std::lower_bound(index.begin(), index.end(), key,
                               [](const std::pair<Key, int>& e, Key v) { return e.first < v; });
    return it != index.end() && it->first == key ? it->second : -1;
}

bool SkippedWhole(std::uint16_t type)
{
    switch (type) {
    case kBSE: case kDg: case kTextbox: case kAnchor:
    case kRegroupItems: case kSelection: case kColorMru:
    case kDeletedPspl: case kSplitMenuColors: case kOleObject: case kColorScheme: case kTertiaryOpt:
        return true;
    default:
        return type >= kClientAnchor && type <= kBlipFirst;
    }
}

bool Known(std::uint16_t type)
{
    switch (type) {
    case kDggContainer: case kBStoreContainer: case kDgContainer: case kSpgrContainer: case kSolverContainer:
    case kSpContainer: case kDgg: case kSpgr: case kSp: case kOpt: case kClientTextbox: case kChildAnchor:
        return true;
    default:
        return SkippedWhole(type);
    }
}

}  // namespace

void DrawingShapeTable::ReadNone()
{
    shapes_.clear();
    shapeById_.clear();
    current_ = previous_ = DrawingShapeRecord::kNone;
    shapes_.resize(1);
    shapeById_.emplace_back(0u, 0);
}

void DrawingShapeTable::Read(const std::uint8_t* data, std::uint64_t size, bool linkGroups)
{
    shapes_.clear();
    shapeById_.clear();
    current_ = previous_ = DrawingShapeRecord::kNone;
    linkGroups_ = linkGroups;
    std::int64_t index = -1;
    // A flat walk: containers are stepped into without tracking their end,
    // atoms passed over by their length, and at a type it does not know the
    // walk tries again one byte further.
    ReaderPolicy policy;
    policy.maxDepth = 0;
    RecordReader walk(data, size, policy);
    Record r;
    while (walk.Read(r) == ReadResult::kRecord) {
        const RecordHeader& header = r.header;
        const std::uint16_t type = header.type;
        const std::uint64_t length = header.length;
        const std::uint8_t* body = r.body;
        const std::uint64_t have = r.available;
        DrawingShapeRecord* cur = current_ >= 0 ? &shapes_[static_cast<std::size_t>(current_)] : nullptr;
        // A record of a kind the walk knows that is longer than the data
        // left is cut short.
        if (!r.Whole() && Known(type))
            plat::NoteDamage("그림 손상");
        switch (type) {
        case kDggContainer: case kBStoreContainer: case kDgContainer: case kSpgrContainer: case kSolverContainer:
            break;
        case kSpContainer:
            LinkCurrent();
            previous_ = current_;
            ++index;
            if (index >= static_cast<std::int64_t>(shapes_.size())) {
                // More shapes than the drawing group has room for.
                plat::NoteDamage("그림 손상");
                walk.SkipBody(r);
            } else
                current_ = static_cast<int>(index);
            break;
        case kDgg: {
            // One record per shape container at most: a container takes at
            // least 8 bytes, so more slots than that could never be used.
            const std::uint64_t spidMax = static_cast<std::uint32_t>(I32At(body, have, 0));
            const std::uint64_t slots = std::min<std::uint64_t>(spidMax + 1, size / 8 + 1);
            shapes_.assign(static_cast<std::size_t>(slots), DrawingShapeRecord());
            if (current_ >= static_cast<int>(slots))
                current_ = DrawingShapeRecord::kNone;
            if (previous_ >= static_cast<int>(slots))
                previous_ = DrawingShapeRecord::kNone;
            walk.SkipBody(r);
            break;
        }
        case kSpgr:
            if (cur && length >= 1)
                for (int i = 0; i < 4; ++i)
                    cur->groupRect[i] = I32At(body, have, 4 * i);
            walk.SkipBody(r);
            break;
        case kSp:
            if (cur && length >= 1) {
                cur->spid = static_cast<std::uint32_t>(I32At(body, have, 0));
                const std::uint32_t flags = static_cast<std::uint32_t>(I32At(body, have, 4));
                cur->isGroup = (flags & kShapeFlagGroup) != 0;
                cur->isChild = (flags & kShapeFlagChild) != 0;
                cur->shapeType = static_cast<std::uint32_t>(header.Instance());
            }
            walk.SkipBody(r);
            break;
        case kOpt:
            if (cur)
                ReadVertices(body, have);
            walk.SkipBody(r);
            break;
        case kClientTextbox:
            if (cur && length > 0)
                cur->hasTextBox = 1;
            walk.SkipBody(r);
            break;
        case kChildAnchor:
            if (cur && length >= 1)
                for (int i = 0; i < 4; ++i)
                    cur->childRect[i] = I32At(body, have, 4 * i);
            walk.SkipBody(r);
            break;
        default:
            // Not a record: the byte that labels each drawing (main text,
            // headers) stands in front of its container, and the walk finds
            // the container one byte further.
            if (SkippedWhole(type))
                walk.SkipBody(r);
            else
                walk.Resync(r);
            break;
        }
    }
    LinkCurrent();
    BuildIndex();
}

void DrawingShapeTable::BuildIndex()
{
    shapeById_.reserve(shapes_.size());
    for (std::size_t i = 0; i < shapes_.size(); ++i)
        shapeById_.emplace_back(shapes_[i].spid, static_cast<int>(i));
    std::stable_sort(shapeById_.begin(), shapeById_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

void DrawingShapeTable::LinkCurrent()
{
    if (!linkGroups_ || current_ < 0 || previous_ < 0)
        return;
    // Parent links always lead to records made earlier, but a walk up never
    // takes more steps than there are records.
    const int limit = static_cast<int>(shapes_.size());
    DrawingShapeRecord& cur = shapes_[static_cast<std::size_t>(current_)];
    if (cur.isChild) {
        int g = previous_;
        for (int steps = 0; g >= 0 && steps <= limit; ++steps) {
            const DrawingShapeRecord& s = shapes_[static_cast<std::size_t>(g)];
            if (s.groupRect[0] <= cur.childRect[0] && s.groupRect[2] >= cur.childRect[2] &&
                s.groupRect[3] >= cur.childRect[3] && s.groupRect[1] <= cur.childRect[1])
                break;
            g = s.parent;
        }
        if (g >= 0 && g != current_) {
            cur.parent = g;
            if (g == previous_)
                shapes_[static_cast<std::size_t>(g)].firstChild = current_;
        }
    }
    int s = previous_;
    for (int steps = 0; s >= 0 && steps <= limit; ++steps) {
        DrawingShapeRecord& rec = shapes_[static_cast<std::size_t>(s)];
        if (rec.parent == cur.parent) {
            if (s != current_)
                rec.nextSibling = current_;
            break;
        }
        if (rec.parent < 0)
            break;
        s = rec.parent;
    }
}

void DrawingShapeTable::ReadVertices(const std::uint8_t* body, std::uint64_t length)
{
    DrawingShapeRecord& cur = shapes_[static_cast<std::size_t>(current_)];
    std::uint64_t pos = 0;
    std::uint64_t complexSum = 0;
    std::uint64_t extra = 0;
    bool seen = false;
    while (pos + 6 + complexSum + extra < length) {
        const std::uint16_t id = U16At(body, length, pos);
        const std::uint32_t value = static_cast<std::uint32_t>(I32At(body, length, pos + 2));
        pos += kPropertyEntrySize;
        if (id & kPropertyComplexFlag) {
            complexSum += value;
            const int number = id & kPropertyNumberMask;
            if (number == kPropVertices || number == kPropSegmentInfo) {
                seen = true;
                extra = 6;
            }
        }
    }
    if (!seen || pos >= length)
        return;
    const std::uint64_t nElems = U16At(body, length, pos);
    pos += 6;
    // Only as many points as the body holds.
    const std::uint64_t fit = pos < length ? (length - pos) / 4 : 0;
    const std::uint64_t n = std::min(nElems, fit);
    for (std::uint64_t i = 0; i < n; ++i)
        cur.vertices.emplace_back(U16At(body, length, pos + 4 * i), U16At(body, length, pos + 4 * i + 2));
}

int DrawingShapeTable::FindShape(std::uint32_t spid) const { return FindFirst(shapeById_, spid); }
