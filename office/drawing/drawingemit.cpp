// Output of the drawing items of a context bound to a document reader: text
// boxes and callouts write their story where their anchor character stands,
// groups write their members in order, and picture frames process their
// picture (those inside a group after the whole drawing was written).
#include "office/drawing/drawingcontext.h"

#include <unistd.h>

#include <algorithm>

namespace {

std::uint32_t Le32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

// The largest blip record a picture frame reads from the document.
constexpr std::uint64_t kMaxBlipBytes = 64u << 20;
// Where a blip store entry keeps the blip's position in the document stream.
constexpr size_t kBlipOffsetField = 28;

// The picture of a frame: its blip written to a file and read back, or the
// embedded object that stands for it.
void EmitPicture(DrawingContext& ctx, drawObject& frame)
{
    DrawingReader* reader = ctx.Reader();
    frame.pictureWritten = false;
    frame.objectFound = false;
    if (!reader)
        return;
    const std::uint32_t pictureId = frame.PictureId();
    if ((pictureId >> 16) != 0)
        frame.objectNumber = reader->FindPictureRef(static_cast<int>(pictureId >> 16) - 1);

    std::string path, extension;
    const auto& blips = ctx.BlipEntries();
    if (frame.blipIndex >= 1 && static_cast<size_t>(frame.blipIndex) <= blips.size()) {
        const std::vector<unsigned char>& entry = blips[static_cast<size_t>(frame.blipIndex) - 1];
        const std::uint32_t offset = entry.size() >= kBlipOffsetField + 4 ? Le32(entry.data() + kBlipOffsetField) : 0;
        unsigned char header[8];
        if (reader->ReadAt(offset, header, sizeof header) == sizeof header) {
            const std::uint64_t total = std::uint64_t(Le32(header + 4)) + 8;
            if (total <= kMaxBlipBytes) {
                std::vector<unsigned char> record(static_cast<size_t>(total));
                const size_t got = reader->ReadAt(offset, record.data(), record.size());
                frame.pictureWritten =
                    WriteBlipFile(record.data(), std::min(got, record.size()), reader->Counters(), path, extension);
            }
        }
    }
    // Without a blip the picture's name stands for it: a named file is
    // never touched.
    if (frame.objectNumber != 0 &&
        CheckEmbeddedObject(reader->RootStorage(), frame.objectNumber, frame.pictureWritten)) {
        frame.objectFound = true;
        ++reader->Counters().objects;
        if (frame.pictureWritten)
            ::unlink(path.c_str());
    } else if (frame.pictureWritten) {
        ReadBackFile(path);
    }
}

}  // namespace

void drawObject::Emit(DrawingContext& ctx, std::u16string& output, std::uint32_t value, ObjectItem* owner)
{
    switch (shapeClass) {
    case DrawShapeClass::TextBox:
    case DrawShapeClass::Callout:
        if (ctx.Reader() && (textId >> 16) != 0)
            ctx.Reader()->WriteTextBoxStory(static_cast<int>(textId >> 16) - 1, output);
        break;
    case DrawShapeClass::Group:
        if (owner && owner->CountOutputShapes() != 0)
            owner->EmitChildren(ctx, output, value);
        break;
    case DrawShapeClass::PictureFrame:
        // A frame inside a group waits until its drawing was written.
        if (owner && owner->parent && !deferredDone) {
            deferredValue = value;
            ctx.DeferPictureFrame(this);
            break;
        }
        EmitPicture(ctx, *this);
        break;
    default:
        break;
    }
}

void drawObject::EmitDeferred(DrawingContext& ctx, std::u16string& output)
{
    Emit(ctx, output, deferredValue, item);
}

void drawObject::MarkDeferredDone()
{
    deferredDone = true;
}

void ObjectItem::Emit(DrawingContext& ctx, std::u16string& output, std::uint32_t value)
{
    if (shape)
        shape->Emit(ctx, output, value, this);
}

void ObjectItem::EmitChildren(DrawingContext& ctx, std::u16string& output, std::uint32_t value)
{
    if (!canHaveChildren)
        return;
    // The chain of following items is walked here rather than recursively.
    for (ObjectItem* item = this; item;) {
        for (item->emitCursor = 0; item->emitCursor < item->children.size(); ++item->emitCursor)
            item->children[item->emitCursor]->Emit(ctx, output, value);
        ObjectItem* following = item->next.get();
        if (following)
            following->Emit(ctx, output, value);
        item = following;
    }
}

bool ObjectItem::HasMoreChildren() const
{
    return canHaveChildren && (emitCursor + 1 < children.size() || next);
}

bool ObjectItem::HasFollowing() const
{
    if (!canHaveChildren)
        return false;
    if (type != kDrawingGroupKind)
        return static_cast<bool>(next);
    return parent && parent->HasMoreChildren();
}

std::uint32_t ObjectItem::MaxLineWidth(std::uint32_t start) const
{
    std::uint32_t widest = std::max(start, shape ? shape->lineWidth : 0u);
    if (!canHaveChildren)
        return widest;
    for (const ObjectItem* item = this; item; item = item->next.get()) {
        if (item->shape)
            widest = std::max(widest, item->shape->lineWidth);
        for (const auto& c : item->children)
            widest = c->MaxLineWidth(widest);
    }
    return widest;
}

void drawingObject::Emit(DrawingContext& ctx, std::u16string& output)
{
    if (!root)
        return;
    if (!laidOut) {
        const std::int32_t margin = ctx.Reader() ? ctx.Reader()->LeftMargin() : 1800;
        root->PlaceOnPage(margin, anchor.flags);
        if (drawObject* shape = root->shape.get()) {
            // A switched-off fill or line gets no colour of its own.
            if ((shape->fillFlags & 0x100010) != 0x100010)
                shape->fillColor = 0x10000000;
            if ((shape->lineFlags & 0xFFFF) != (shape->lineFlags >> 16))
                shape->lineColor = 0x10000000;
        }
        root->Layout();
        laidOut = true;
    }
    root->Emit(ctx, output, anchor.shapeId);
}

bool DrawingContext::EmitNextAnchor(std::u16string& output)
{
    if (m_nextAnchor >= m_anchors.size())
        return false;
    m_anchors[m_nextAnchor++].Emit(*this, output);
    FlushDeferredFrames(output);
    return true;
}

void DrawingContext::DeferPictureFrame(drawObject* shape)
{
    if (!shape || std::find(m_deferred.begin(), m_deferred.end(), shape) != m_deferred.end())
        return;
    m_deferred.push_back(shape);
}

void DrawingContext::FlushDeferredFrames(std::u16string& output)
{
    std::vector<drawObject*> frames;
    frames.swap(m_deferred);
    for (drawObject* frame : frames) {
        frame->MarkDeferredDone();
        frame->EmitDeferred(*this, output);
    }
}
