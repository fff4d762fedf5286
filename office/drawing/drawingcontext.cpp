#include "office/drawing/drawingcontext.h"

#include <cstring>
#include <initializer_list>

#include "office/drawing/drawingrecords.h"
#include "office/drawing/recordreader.h"

namespace {

// Items one walk may create, and how deep groups may nest.
constexpr int kMaxItems = 4096;

using officeart::ReadLe16;
using officeart::ReadLe32;

bool InList(int v, std::initializer_list<int> list)
{
    for (int x : list) {
        if (x == v)
            return true;
    }
    return false;
}

bool InRange(int v, int lo, int hi)
{
    return v >= lo && v <= hi;
}

// Property numbers the shapes recognise.
bool IsRecognisedProperty(int n)
{
    return n == 0x004 || InRange(n, 0x077, 0x08B) || InRange(n, 0x0BB, 0x0C5) || InRange(n, 0x0F0, 0x111) ||
           InRange(n, 0x13C, 0x150) || InRange(n, 0x17A, 0x19C) || InRange(n, 0x1BB, 0x1D7) ||
           InRange(n, 0x1FB, 0x211) || InRange(n, 0x23E, 0x24B) || InRange(n, 0x27F, 0x288) ||
           InRange(n, 0x2BC, 0x2DA) || InRange(n, 0x2FB, 0x2FF) || n == 0x301 || InRange(n, 0x303, 0x306) ||
           InRange(n, 0x33A, 0x33C) || InRange(n, 0x33E, 0x345) || InRange(n, 0x379, 0x388) ||
           InRange(n, 0x3B9, 0x3BF);
}

}  // namespace

DrawShapeClass ShapeClassOfType(int t)
{
    using C = DrawShapeClass;
    if (t == kDrawingGroupKind)
        return C::Group;
    if (InList(t, {1, 2, 3, 109, 120, 176}))
        return C::StandardSupport;
    if (InRange(t, 4, 11) || InList(t, {16, 56, 84, 110, 111, 112, 113, 117, 118, 119, 121, 125, 126, 127, 128, 177}))
        return C::StandardSupport2;
    if (InList(t, {12, 58, 59, 60, 71, 72, 92, 187}))
        return C::Seal;
    if (InList(t, {13, 15, 55, 66, 67, 68, 69, 70, 76, 77, 78, 79, 80, 81, 82, 83, 89, 90, 94, 182}))
        return C::ArrowSupport;
    if (t == 19)
        return C::Arc;
    if (t == 20)
        return C::Line;
    if (InList(t, {21, 22, 23, 57, 65, 73, 74, 85, 86, 87, 88, 95, 96, 183, 184, 185, 186}))
        return C::Standard;
    if (InRange(t, 41, 52) || InList(t, {61, 62, 63, 106, 178, 179, 180, 181}))
        return C::Callout;
    if (InList(t, {53, 54, 107, 108}))
        return C::Ribbon;
    if (InList(t, {64, 188}))
        return C::Wave;
    if (t == 75)
        return C::PictureFrame;
    if (InList(t, {91, 93, 99, 101, 102, 103, 104, 105}))
        return C::Arrow;
    if (InList(t, {97, 98}))
        return C::Scroll;
    if (InList(t, {114, 115, 116, 122, 123, 124}) || InRange(t, 129, 135))
        return C::FlowChart;
    if (t == 202)
        return C::TextBox;
    return C::Common;
}

bool HasShapeObject(int t)
{
    return t == kDrawingGroupKind || (t >= 0 && t <= 202 && t != 18);
}

void drawObject::SetDefaultAdjustValues(int type)
{
    // Types (ending at -1) and their first adjust values (the rest are 0).
    struct Defaults {
        int types[6];
        std::int32_t values[4];
    };
    static const Defaults kTable[] = {
        {{2, -1}, {4000}},
        {{5, 127, 128, -1}, {10800}},
        {{7, 8, 9, 11, -1}, {5000}},
        {{10, -1}, {6000}},
        {{13, 67, -1}, {16600, 5500}},
        {{15, 55, -1}, {16000}},
        {{16, -1}, {5500}},
        {{58, 59, 60, 92, -1}, {2600}},
        {{66, 68, -1}, {5000, 5500}},
        {{69, 70, -1}, {5000, 5000}},
        {{76, -1}, {6500, 8500, 4300}},
        {{77, 79, 81, 82, -1}, {7600, 5000, 3600, 8000}},
        {{78, 80, -1}, {14000, 5000, 18000, 8000}},
        {{83, -1}, {5000, 8000, 2500, 9000}},
        {{84, -1}, {2700}},
        {{89, 90, -1}, {9300, 18000, 6000}},
        {{94, -1}, {16000, 5000}},
        {{111, 117, 118, 119, 121, -1}, {4320}},
        {{112, -1}, {2590}},
        {{113, -1}, {4270}},
        {{177, -1}, {17280}},
        {{182, -1}, {6500, 8500, 6000}},
        {{187, -1}, {8000}},
    };
    for (std::int32_t& a : adjust)
        a = 0;
    for (const Defaults& d : kTable) {
        for (int k = 0; k < 6 && d.types[k] >= 0; ++k) {
            if (d.types[k] == type) {
                for (int v = 0; v < 4; ++v)
                    adjust[v] = d.values[v];
                return;
            }
        }
    }
}

bool drawObject::SetProperty(int number, std::uint32_t value)
{
    if (!IsRecognisedProperty(number))
        return false;
    const bool textual = shapeClass == DrawShapeClass::TextBox || shapeClass == DrawShapeClass::Callout;
    const bool picture = shapeClass == DrawShapeClass::PictureFrame;
    const bool line = shapeClass == DrawShapeClass::Line;
    using namespace officeart;
    if (number >= kPropCropFromTop && number < kPropCropFromTop + 4) {
        if (picture)
            crop[number - kPropCropFromTop] = value;
        return true;
    }
    if (number >= kPropPictureFlags && number < kPropPictureFlags + 9) {
        if (picture)
            pictureSettings[number - kPropPictureFlags] = value;
        return true;
    }
    if (number >= kPropPictureWordFirst && number < kPropPictureWordFirst + 4) {
        if (picture)
            pictureWords[number - kPropPictureWordFirst] = value;
        return true;
    }
    if (number >= kPropAdjustFirst && number < kPropAdjustFirst + 4) {
        adjust[number - kPropAdjustFirst] = static_cast<std::int32_t>(value);
        return true;
    }
    switch (number) {
    case kPropRotation: rotation = value; break;
    case kPropTextId: if (textual) textId = value; break;
    case kPropBlip: if (picture) blipIndex = static_cast<std::int32_t>(value); break;
    case kPropShapePath: if (line) pathWord = value; break;
    case kPropGeometryFlags: if (line) geometryFlags = value; break;
    case kPropLineDashing: lineDashing = value; break;
    case kPropLineStartArrowhead: startArrowhead = value; break;
    case kPropLineEndArrowhead: endArrowhead = value; break;
    // The line's back colour is kept as the fill colour too.
    case kPropFillColor: case kPropLineBackColor: fillColor = value; break;
    case kPropFillFlags: fillFlags = value; break;
    case kPropLineColor: lineColor = value; break;
    case kPropLineWidth: lineWidth = value; break;
    case kPropLineFlags: lineFlags = value; break;
    default: break;
    }
    return true;
}

void drawObject::SetComplexProperty(const unsigned char* data, size_t length)
{
    if (shapeClass != DrawShapeClass::PictureFrame || !data)
        return;
    pictureName.clear();
    for (size_t k = 0; k + 1 < length; k += 2) {
        char16_t c = static_cast<char16_t>(ReadLe16(data + k));
        if (c == 0)
            break;
        pictureName.push_back(c);
    }
}

bool drawObject::CountsTowardGroup() const
{
    switch (shapeClass) {
    case DrawShapeClass::StandardSupport:
    case DrawShapeClass::StandardSupport2:
    case DrawShapeClass::Seal:
    case DrawShapeClass::ArrowSupport:
    case DrawShapeClass::Arc:
    case DrawShapeClass::Line:
    case DrawShapeClass::TextBox:
    case DrawShapeClass::Callout:
        return true;
    default:
        return false;
    }
}

void ObjectItem::CreateShape()
{
    // Types without a class of their own get none: their properties are
    // then dropped.
    if (!HasShapeObject(type))
        return;
    shape = std::make_unique<drawObject>();
    shape->shapeClass = ShapeClassOfType(type);
    shape->item = this;
    shape->SetDefaultAdjustValues(type);
}

int ObjectItem::CountOutputShapes() const
{
    int n = 0;
    for (const ObjectItem* item = this; item; item = item->next.get()) {
        if (item->shape && item->shape->CountsTowardGroup())
            ++n;
        for (const auto& c : item->children)
            n += c->CountOutputShapes();
    }
    return n;
}

ObjectItem* ObjectItem::AddChild(int kind)
{
    auto item = std::make_unique<ObjectItem>();
    item->canHaveChildren = true;
    ObjectItem* raw = item.get();
    if (kind == kDrawingGroupKind) {
        // A nested group hangs from this item.
        item->parent = this;
        children.push_back(std::move(item));
    } else {
        // A member of this item's group follows it.
        item->parent = parent ? parent : this;
        ObjectItem* tail = this;
        while (tail->next)
            tail = tail->next.get();
        tail->next = std::move(item);
    }
    return raw;
}

const std::u16string* ObjectItem::GetPictureName() const
{
    return shape && !shape->pictureName.empty() ? &shape->pictureName : nullptr;
}

namespace {

// Chains of following items are taken apart one by one, so that a long chain
// does not recurse.
void ReleaseChain(std::unique_ptr<ObjectItem>& head)
{
    std::unique_ptr<ObjectItem> item = std::move(head);
    while (item) {
        std::unique_ptr<ObjectItem> following = std::move(item->next);
        for (auto& c : item->children)
            ReleaseChain(c);
        item = std::move(following);
    }
}

int ItemDepth(const ObjectItem* item)
{
    int d = 0;
    for (; item && d <= kDrawingMaxDepth; item = item->parent)
        ++d;
    return d;
}

}  // namespace

DrawingContext::DrawingContext() : m_anchors(1) {}

DrawingContext::DrawingContext(DrawingReader* reader, const std::vector<FloatingAnchor>& anchors)
    : m_reader(reader), m_anchors(anchors.size())
{
    for (size_t k = 0; k < anchors.size(); ++k)
        m_anchors[k].anchor = anchors[k];
}

DrawingContext::~DrawingContext()
{
    for (drawingObject& a : m_anchors)
        ReleaseChain(a.root);
}

ObjectItem* drawingObject::CreateRootItem(int kind)
{
    if (root)
        return nullptr;
    root = std::make_unique<ObjectItem>();
    root->canHaveChildren = kind == kDrawingGroupKind;
    type = kind;
    return root.get();
}

int DrawingContext::ParseRecords(const unsigned char* data, size_t length)
{
    // Not damage to the document: the records walked here are those of a
    // picture (ProcessPicture), whose shapes, names and blips reach no
    // extracted text, so a container failed here loses none of it. The
    // nesting cap is checked before the walk's own (which would note it).
    using namespace officeart;
    if (!data)
        return 0;
    // Every record must lie whole inside its container, and a container's
    // children fill it exactly. A record that breaks the rules (a type not
    // known or not allowed in its container, too deep, cut short) fails its
    // container, and that container fails its own, up to the top; a group
    // of shapes keeps what it read before the failure and the walk goes on
    // after it.
    ReaderPolicy policy;
    policy.containerEnd = ContainerEnd::kByPosition;
    policy.pastParentIsDamage = true;
    policy.maxDepth = kDrawingMaxDepth + 1;
    RecordReader walk(data, length, policy);
    for (;;) {
        int ok = 1;
        const int parentType = walk.Depth() > 0 ? walk.Innermost().header.type : 0;
        const std::uint64_t parentEnd = walk.Depth() > 0 ? walk.Innermost().end : length;
        Record r;
        if (walk.Depth() > kDrawingMaxDepth || parentEnd - walk.Position() < 8 ||
            walk.Read(r) != ReadResult::kRecord) {
            ok = 0;
        } else {
            ok = ParseRecord(r, parentType);
            if (ok == kWalkChildren) {
                walk.Open(r);  // within the cap: the depth was checked above
                ok = 1;
            } else {
                walk.SkipBody(r);
            }
        }
        // Close the containers that end here (an empty one at once), innermost
        // first.
        for (;;) {
            if (walk.Depth() == 0) {
                if (!ok)
                    return 0;
                if (walk.Position() >= length)
                    return 1;
                break;
            }
            if (ok && walk.Position() < walk.Innermost().end)
                break;
            const Record closed = walk.Close();
            walk.SkipBody(closed);
            if (closed.header.type == kSpgrContainer) {
                m_current = m_current ? m_current->parent : nullptr;
                ok = 1;
            }
        }
    }
}

int DrawingContext::CreateShapeItem(const unsigned char* body, size_t length, int instance)
{
    if (length < 8)
        return 0;
    const std::uint32_t flags = ReadLe32(body + 4);
    const int kind = ((flags >> 8) & 0xF) == 0x2 ? kDrawingGroupKind : instance;
    ObjectItem* previous = m_current;
    m_current = nullptr;
    if (!m_reader) {
        // Free-standing: the first shape is the root of the only anchor;
        // every later one joins the previous item's group.
        if (m_anchors.empty())
            return 0;
        if (ObjectItem* root = m_anchors[0].CreateRootItem(kind)) {
            root->type = kind;
            root->flags = flags;
            m_current = root;
            m_current->CreateShape();
            m_itemCount = 1;
            return 1;
        }
    } else {
        // Bound: the anchor with this shape identifier, when still unused.
        const std::uint32_t shapeId = ReadLe32(body);
        for (drawingObject& a : m_anchors) {
            if (a.anchor.shapeId != shapeId)
                continue;
            if (a.type == -1 && !a.root && m_itemCount < kMaxItems) {
                ObjectItem* root = a.CreateRootItem(kind);
                root->type = kind;
                root->left = a.anchor.left;
                root->top = a.anchor.top;
                root->right = a.anchor.right;
                root->bottom = a.anchor.bottom;
                root->flags = flags;
                m_current = root;
                m_current->CreateShape();
                ++m_itemCount;
                return 1;
            }
            break;
        }
    }
    // A member of the group of the previous item.
    if (!previous || !previous->CanHaveChildren() || m_itemCount >= kMaxItems ||
        ItemDepth(previous) >= kDrawingMaxDepth)
        return 0;
    ObjectItem* raw = previous->AddChild(kind);
    raw->type = kind;
    raw->flags = flags;
    ++m_itemCount;
    m_current = raw;
    m_current->CreateShape();
    return 1;
}

int DrawingContext::ApplyProperties(const unsigned char* body, size_t length, int count)
{
    if (length == 0 || length < officeart::kPropertyEntrySize * static_cast<size_t>(count))
        return 0;
    if (!m_current || !m_current->shape || count == 0)
        return 1;
    drawObject* shape = m_current->shape.get();
    size_t complexOffset = 0;  // where the complex data of the next complex entry starts
    size_t nameOffset = 0;
    std::uint32_t nameLength = 0;
    for (int k = 0; k < count; ++k) {
        const officeart::PropertyEntry e = officeart::DecodePropertyEntry(body + officeart::kPropertyEntrySize * k);
        const int number = e.Id();
        const std::uint32_t value = e.value;
        shape->SetProperty(number, value);
        if (number == officeart::kPropBlipName) {
            nameOffset = complexOffset;
            nameLength = value;
        }
        if (e.IsComplex())
            complexOffset += value;
    }
    const size_t complexStart = officeart::kPropertyEntrySize * static_cast<size_t>(count);
    if (nameLength != 0 && nameOffset <= length - complexStart &&
        nameLength <= length - complexStart - nameOffset)
        shape->SetComplexProperty(body + complexStart + nameOffset, nameLength);
    return 1;
}

int DrawingContext::ParseRecord(const officeart::Record& record, int parentType)
{
    using namespace officeart;
    const int type = record.header.type;
    const std::uint32_t length = record.header.length;
    const int instance = record.header.Instance();
    const unsigned char* body = record.body;

    // The containers the record is allowed in.
    auto allowedIn = [&](std::initializer_list<int> parents) { return InList(parentType, parents); };

    switch (type) {
    case kDggContainer:
    case kDgContainer:
        return kWalkChildren;
        break;
    case kBStoreContainer:
        if (!allowedIn({kDggContainer}))
            return 0;
        return kWalkChildren;
        break;
    case kSpgrContainer:
        if (!allowedIn({kDgContainer, kSpgrContainer}))
            return 0;
        return kWalkChildren;  // the group ends in ParseRecords
    case kSpContainer:
        // A free-standing context takes a shape container anywhere.
        if (m_reader && !allowedIn({kDgContainer, kSpgrContainer}))
            return 0;
        return kWalkChildren;
        break;
    case kSolverContainer:
        if (!allowedIn({kDgContainer}))
            return 0;
        return kWalkChildren;
        break;
    case kDgg:
        if (!allowedIn({kDggContainer}))
            return 0;
        if (length >= 24) {
            for (int k = 0; k < 6; ++k)
                m_groupHeader[k] = ReadLe32(body + 4 * k);
        }
        break;
    case kBSE:
        if (!allowedIn({kBStoreContainer}))
            return 0;
        if (length >= 36 && m_blips.size() < static_cast<size_t>(kMaxItems))
            m_blips.emplace_back(body, body + 36);
        break;
    case kDg: case kRegroupItems: case kColorScheme:
        if (!allowedIn({kDgContainer}))
            return 0;
        break;
    case kSpgr: case kTextbox: case kClientTextbox: case kAnchor: case kDeletedPspl: case kOleObject:
        if (!allowedIn({kSpContainer}))
            return 0;
        break;
    case kSp:
        if (!allowedIn({kSpContainer}))
            return 0;
        if (length >= 8) {
            const std::uint32_t flags = ReadLe32(body + 4);
            const unsigned kindBits = (flags >> 8) & 0xF;
            if (kindBits == 0x2 || kindBits == 0xA)
                CreateShapeItem(body, length, instance);
        }
        break;
    case kSelection:
        break;
    case kOpt:
        if (!allowedIn({kDggContainer, kSpContainer}))
            return 0;
        if (parentType == kSpContainer)
            ApplyProperties(body, length, instance);
        break;
    case kChildAnchor:
        if (!allowedIn({kSpContainer}))
            return 0;
        if (length >= 16 && m_current) {
            m_current->left = static_cast<std::int32_t>(ReadLe32(body));
            m_current->top = static_cast<std::int32_t>(ReadLe32(body + 4));
            m_current->right = static_cast<std::int32_t>(ReadLe32(body + 8));
            m_current->bottom = static_cast<std::int32_t>(ReadLe32(body + 12));
        }
        break;
    case kClientAnchor:
        if (!allowedIn({kSpContainer}))
            return 0;
        if (length >= 4 && m_current)
            m_current->clientAnchor = ReadLe32(body);
        if (length >= 4 && m_reader)
            m_reader->RaiseClientAnchor(static_cast<std::int32_t>(ReadLe32(body)));
        break;
    case kClientData:
        if (!allowedIn({kSpContainer}))
            return 0;
        if (length >= 4 && m_current)
            m_current->clientData = ReadLe32(body);
        break;
    case kConnectorRule: case kAlignRule: case kArcRule: case kClientRule: case kCalloutRule:
        if (!allowedIn({kSolverContainer}))
            return 0;
        break;
    case kClsid: case kColorMru: case kSplitMenuColors:
        if (!allowedIn({kDggContainer}))
            return 0;
        break;
    case kBlipFirst:
        if (!allowedIn({kBStoreContainer}))
            return 0;
        break;
    default:
        return 0;
    }
    return 1;
}
