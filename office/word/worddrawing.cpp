#include "office/word/worddrawing.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "extract/libstring.h"
#include "office/word/presetshapes.h"
#include "platform/docfile.h"

namespace {

template <class Key>
int FindFirst(const std::vector<std::pair<Key, int>>& index, Key key)
{
    auto it = std::lower_bound(index.begin(), index.end(), key,
                               [](const std::pair<Key, int>& e, Key v) { return e.first < v; });
    return it != index.end() && it->first == key ? it->second : -1;
}

}  // namespace

int WordDrawingData::LoadAnchors(const WordBytes& table, const CMsWordFIB80& fib)
{
    try {
        anchors_.clear();
        anchorByCp_.clear();
        const WordBytes hdr = table.Block(fib.U32(CMsWordFIB80::kFcPlcSpaHdr), fib.I32(CMsWordFIB80::kLcbPlcSpaHdr));
        const WordBytes mom = table.Block(fib.U32(CMsWordFIB80::kFcPlcSpaMom), fib.I32(CMsWordFIB80::kLcbPlcSpaMom));
        const std::uint64_t h = hdr.size() > 4 ? (hdr.size() - 4) / 30 : 0;
        const std::uint64_t m = mom.size() > 4 ? (mom.size() - 4) / 30 : 0;
        // n + 1 CPs and n 26-byte anchors each.
        for (const WordBytes* plc : {&hdr, &mom})
            if (plc->size() != 0 && (plc->size() < 4 || (plc->size() - 4) % 30 != 0))
                plat::NoteDamage("그림 표 길이 불일치");
        if (h + m == 0)
            return 1;
        anchors_.resize(static_cast<std::size_t>(h + m));
        // Counts from a damaged header may be anything: summed as the
        // 32-bit positions they are, wrapping instead of overflowing.
        const std::int32_t headerBase = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(fib.I32(CMsWordFIB80::kCcpText)) +
            static_cast<std::uint32_t>(fib.I32(CMsWordFIB80::kCcpFtn)));
        for (std::uint64_t i = 0; i < h; ++i) {
            WordShapeAnchor& a = anchors_[static_cast<std::size_t>(i)];
            a.cp = static_cast<std::int32_t>(static_cast<std::uint32_t>(headerBase) + hdr.U32(4 * i));
            hdr.ReadAt(4 * (h + 1) + 26 * i, a.fspa, sizeof a.fspa);
        }
        for (std::uint64_t i = 0; i < m; ++i) {
            WordShapeAnchor& a = anchors_[static_cast<std::size_t>(h + i)];
            a.cp = mom.I32(4 * i);
            mom.ReadAt(4 * (m + 1) + 26 * i, a.fspa, sizeof a.fspa);
        }
        anchorByCp_.reserve(anchors_.size());
        for (std::size_t i = 0; i < anchors_.size(); ++i)
            anchorByCp_.emplace_back(anchors_[i].cp, static_cast<int>(i));
        std::stable_sort(anchorByCp_.begin(), anchorByCp_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        return 1;
    } catch (const std::bad_alloc&) {
        SetLibraryError(kLibErrorOutOfMemory);
        return 0;
    }
}

int WordDrawingData::Load(const WordBytes& table, const CMsWordFIB80& fib)
{
    try {
        if (fib.I32(CMsWordFIB80::kLcbDggInfo) <= 0) {
            shapes_.ReadNone();
            return 1;
        }
        const WordBytes dgg = table.Block(fib.U32(CMsWordFIB80::kFcDggInfo), fib.I32(CMsWordFIB80::kLcbDggInfo));
        // Shapes are linked into their groups only where the text anchors any.
        shapes_.Read(dgg.bytes(), dgg.size(), !anchors_.empty());
        return 1;
    } catch (const std::bad_alloc&) {
        SetLibraryError(kLibErrorOutOfMemory);
        return 0;
    }
}

int WordDrawingData::FindAnchor(std::int32_t cp) const { return FindFirst(anchorByCp_, cp); }

int WordDrawingData::FindShape(std::uint32_t spid) const { return shapes_.FindShape(spid); }

int CMsDrawObject::CheckShape(ShapeCheckRequest& request)
{
    const std::int32_t type = request.shapeType;
    if (type > 202 || type < 0) {
        request.shapeType = 1;
        return 1;
    }
    if (type == 0)
        return request.vertices && !request.vertices->empty() ? 1 : 0;
    switch (type) {
    case 1: case 2: case 3: case 19: case 20: case 75: case 202:
        return 1;
    default:
        break;
    }
    const bool preset = (type >= 4 && type <= 16) || (type >= 21 && type <= 23) || type == 33 ||
                        (type >= 41 && type <= 64) || (type >= 66 && type <= 74) || (type >= 76 && type <= 94) ||
                        (type >= 96 && type <= 98) || type == 101 || type == 106 || (type >= 109 && type <= 121) ||
                        (type >= 123 && type <= 128) || (type >= 130 && type <= 135) || (type >= 176 && type <= 187);
    if (!preset) {
        request.shapeType = 1;
        return 1;
    }
    CMsDraw draw;
    const std::vector<std::int32_t>* adjust =
        request.adjustValues && !request.adjustValues->empty() ? request.adjustValues : nullptr;
    const PresetShapeEntry* entry = draw.GetShape(static_cast<unsigned>(type), 100, 100, adjust);
    if (!entry || entry->shapeType == PresetShapeEntry::kNoOutline || entry->paths.empty())
        return 0;
    int result = 0;
    for (const PresetPath& p : entry->paths) {
        switch (p.kind) {
        case PresetPath::kPoints: {
            std::vector<std::int32_t> scratch(p.points);
            result = p.pointCount >= 1 && (p.flags == 0 || p.flags == 1 || p.flags == 2) ? 1 : 0;
            break;
        }
        case PresetPath::kRectangle: case PresetPath::kRoundRectangle: case PresetPath::kEllipse:
        case PresetPath::kQuarterArc: case PresetPath::kLine:
            result = 1;
            break;
        default:
            result = 0;
            break;
        }
    }
    return result;
}
