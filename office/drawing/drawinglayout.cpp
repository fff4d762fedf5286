// Geometry of the drawing items: rotation of points, the outline polygons of
// the outline shapes, placement on the page and the rotated bounds.
//
// All arithmetic is done in 64 bits (128 for the group mapping) and every
// result is kept within 32 bits, so hostile rectangles and adjust values give
// odd shapes, never overflow.
#include "office/drawing/drawingcontext.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace {

constexpr std::int64_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMax32 = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kFull = 21600;  // adjust values are in 1/21600 of the box
constexpr std::int32_t kHalf = 10800;

std::int32_t Clamp32(std::int64_t v)
{
    return static_cast<std::int32_t>(std::clamp(v, kMin32, kMax32));
}

// Rounds half away from zero and keeps the result within 32 bits.
std::int32_t Round32(double v)
{
    if (std::isnan(v))
        return 0;
    v = std::round(v);
    if (v <= static_cast<double>(kMin32))
        return static_cast<std::int32_t>(kMin32);
    if (v >= static_cast<double>(kMax32))
        return static_cast<std::int32_t>(kMax32);
    return static_cast<std::int32_t>(v);
}

// The signed whole degrees of a 16.16 rotation.
int RotationDegrees(std::uint32_t rotation)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(rotation >> 16));
}

bool IsOutlineClass(DrawShapeClass c)
{
    return c == DrawShapeClass::StandardSupport2 || c == DrawShapeClass::Seal || c == DrawShapeClass::ArrowSupport;
}

// A point of an outline: in thousandths of the box, or in 1/21600 of it.
struct OutlinePoint {
    std::int32_t x;
    std::int32_t y;
};

// Fixed outlines, in thousandths of the box.
const OutlinePoint kDiamond[] = {{500, 0}, {1000, 500}, {500, 1000}, {0, 500}};
const OutlinePoint kRightTriangle[] = {{0, 0}, {1000, 1000}, {0, 1000}};
const OutlinePoint kRectangle[] = {{0, 0}, {1000, 0}, {1000, 1000}, {0, 1000}};
const OutlinePoint kStar5[] = {{500, 0},   {618, 382}, {1000, 382}, {691, 618}, {809, 1000},
                               {500, 764}, {191, 1000}, {309, 618}, {0, 382},   {382, 382}};
const OutlinePoint kPentagon[] = {{500, 0}, {1000, 382}, {809, 1000}, {191, 1000}, {0, 382}};
const OutlinePoint kCollate[] = {{0, 0}, {1000, 0}, {500, 500}, {1000, 1000}, {0, 1000}, {500, 500}};
const OutlinePoint kSealJagged1[] = {{0, 226},   {262, 302}, {196, 0},    {447, 250}, {621, 49},
                                     {652, 303}, {952, 168}, {793, 416},  {1000, 537}, {790, 625},
                                     {895, 876}, {618, 744}, {597, 1000}, {432, 789}, {279, 936},
                                     {250, 712}, {40, 793},  {153, 578},  {0, 452}};
const OutlinePoint kSealJagged2[] = {{0, 400},   {150, 300}, {120, 100}, {330, 190},  {420, 0},
                                     {530, 160}, {700, 60},  {720, 250}, {1000, 230}, {850, 430},
                                     {980, 600}, {800, 680}, {860, 900}, {640, 820},  {560, 1000},
                                     {430, 840}, {260, 960}, {250, 740}, {40, 760},   {130, 560}};

template <size_t N>
std::vector<OutlinePoint> Table(const OutlinePoint (&t)[N])
{
    return std::vector<OutlinePoint>(t, t + N);
}

// The cross of the quad arrow and its relatives: arms (top, right, bottom,
// left) end in arrowheads of half-width hw and length len; a missing arm
// ends flat at the centre square. Units of 1/21600.
std::vector<OutlinePoint> ArrowCross(bool top, bool right, bool bottom, bool left, std::int32_t hw, std::int32_t s,
                                     std::int32_t len)
{
    const std::int32_t C = kHalf, W = kFull;
    std::vector<OutlinePoint> p;
    if (top) {
        p.insert(p.end(), {{C - s, len}, {C - hw, len}, {C, 0}, {C + hw, len}, {C + s, len}});
    } else {
        p.insert(p.end(), {{C - s, C - s}, {C + s, C - s}});
    }
    if (right) {
        p.insert(p.end(), {{C + s, C - s}, {W - len, C - s}, {W - len, C - hw}, {W, C}, {W - len, C + hw},
                           {W - len, C + s}});
    }
    if (bottom) {
        p.insert(p.end(), {{C + s, C + s}, {C + s, W - len}, {C + hw, W - len}, {C, W}, {C - hw, W - len},
                           {C - s, W - len}});
    } else {
        p.insert(p.end(), {{C + s, C + s}, {C - s, C + s}});
    }
    if (left) {
        p.insert(p.end(), {{C - s, C + s}, {len, C + s}, {len, C + hw}, {0, C}, {len, C - hw}, {len, C - s}});
    }
    p.push_back({C - s, C - s});
    return p;
}

// The outline of an outline-shape type in units of 1/21600 (adjustUnits) or
// in thousandths; empty for types without one. a holds the adjust values,
// each within 0 to 21600.
std::vector<OutlinePoint> OutlineOf(int type, const std::int32_t a[4], bool& adjustUnits)
{
    const std::int32_t W = kFull, C = kHalf;
    adjustUnits = true;
    switch (type) {
    case 5:  // isosceles triangle
    case 127:  // extract
        return {{a[0], 0}, {W, W}, {0, W}};
    case 7:  // parallelogram
    case 111:  // input / output
        return {{a[0], 0}, {W, 0}, {W - a[0], W}, {0, W}};
    case 8:  // trapezoid
    case 119:  // manual operation
        return {{0, 0}, {W, 0}, {W - a[0], W}, {a[0], W}};
    case 9:  // hexagon
    case 117:  // preparation
        return {{a[0], 0}, {W - a[0], 0}, {W, C}, {W - a[0], W}, {a[0], W}, {0, C}};
    case 10:  // octagon
        return {{a[0], 0}, {W - a[0], 0}, {W, a[0]}, {W, W - a[0]}, {W - a[0], W}, {a[0], W}, {0, W - a[0]}, {0, a[0]}};
    case 11: {  // plus
        const std::int32_t p = std::min(a[0], C);
        return {{p, 0},         {W - p, 0}, {W - p, p},     {W, p},     {W, W - p}, {W - p, W - p},
                {W - p, W},     {p, W},     {p, W - p},     {0, W - p}, {0, p},     {p, p}};
    }
    case 13:  // right arrow
        return {{0, a[1]}, {a[0], a[1]}, {a[0], 0}, {W, C}, {a[0], W}, {a[0], W - a[1]}, {0, W - a[1]}};
    case 15:  // home plate
        return {{0, 0}, {a[0], 0}, {W, C}, {a[0], W}, {0, W}};
    case 16:  // cube
        return {{0, a[0]}, {a[0], 0}, {W, 0}, {W, W - a[0]}, {W - a[0], W}, {0, W}};
    case 55:  // chevron
        return {{0, 0}, {a[0], 0}, {W, C}, {a[0], W}, {0, W}, {W - a[0], C}};
    case 66:  // left arrow
        return {{W, a[1]}, {a[0], a[1]}, {a[0], 0}, {0, C}, {a[0], W}, {a[0], W - a[1]}, {W, W - a[1]}};
    case 67:  // down arrow
        return {{a[1], 0}, {W - a[1], 0}, {W - a[1], a[0]}, {W, a[0]}, {C, W}, {0, a[0]}, {a[1], a[0]}};
    case 68:  // up arrow
        return {{C, 0}, {W, a[0]}, {W - a[1], a[0]}, {W - a[1], W}, {a[1], W}, {a[1], a[0]}, {0, a[0]}};
    case 69:  // left-right arrow
    case 81:  // left-right arrow callout
        return {{0, C},        {a[0], 0},     {a[0], a[1]}, {W - a[0], a[1]}, {W - a[0], 0},
                {W, C},        {W - a[0], W}, {W - a[0], W - a[1]}, {a[0], W - a[1]}, {a[0], W}};
    case 70:  // up-down arrow
    case 82:  // up-down arrow callout
        return {{C, 0},        {W, a[0]},     {W - a[1], a[0]}, {W - a[1], W - a[0]}, {W, W - a[0]},
                {C, W},        {0, W - a[0]}, {a[1], W - a[0]}, {a[1], a[0]}, {0, a[0]}};
    case 76:  // quad arrow
    case 83:  // quad arrow callout
    case 89:  // left-up arrow
    case 90:  // bent-up arrow
    case 182: {  // left-right-up arrow
        const std::int32_t hw = std::max(C - a[0], 0), s = std::min(std::max(C - a[1], 0), hw);
        const std::int32_t len = std::min(a[2], C - s);
        const bool right = type == 76 || type == 83 || type == 182;
        const bool bottom = type == 76 || type == 83;
        return ArrowCross(true, right, bottom, true, hw, s, len);
    }
    case 77:  // right arrow callout
    case 78:  // left arrow callout
    case 79:  // up arrow callout
    case 80: {  // down arrow callout
        // A box of width a1 and an arrow to the far side: shaft at a2 from
        // the edge, arrowhead of length a3.
        const std::int32_t head = W - a[2];
        const std::int32_t box = std::min(a[0], head);
        const std::int32_t t = std::min(a[1], C), ht = t / 2;
        std::vector<OutlinePoint> p = {{0, 0},    {box, 0},      {box, t},      {head, t},     {head, ht}, {W, C},
                                       {head, W - ht}, {head, W - t}, {box, W - t}, {box, W}, {0, W}};
        for (OutlinePoint& q : p) {
            if (type == 78 || type == 79)
                q.x = W - q.x;
            if (type == 79 || type == 80)
                std::swap(q.x, q.y);
        }
        return p;
    }
    case 94: {  // notched right arrow
        const std::int32_t notch = std::min(a[0], W - a[0]);
        return {{0, a[1]}, {a[0], a[1]}, {a[0], 0}, {W, C}, {a[0], W}, {a[0], W - a[1]}, {0, W - a[1]}, {notch, C}};
    }
    case 118:  // manual input
        return {{0, a[0]}, {W, 0}, {W, W}, {0, W}};
    case 121:  // punched card
        return {{a[0], 0}, {W, 0}, {W, W}, {0, W}, {0, a[0]}};
    case 128:  // merge
        return {{0, 0}, {W, 0}, {a[0], W}};
    case 177:  // off-page connector
        return {{0, 0}, {W, 0}, {W, a[0]}, {C, W}, {0, a[0]}};
    default:
        break;
    }
    adjustUnits = false;
    switch (type) {
    case 4:  // diamond
    case 110:  // decision
    case 126:  // sort
        return Table(kDiamond);
    case 6:
        return Table(kRightTriangle);
    case 12:
        return Table(kStar5);
    case 56:
        return Table(kPentagon);
    case 71:
        return Table(kSealJagged1);
    case 72:
        return Table(kSealJagged2);
    case 84:  // bevel: its outer edge
    case 112:  // predefined process
    case 113:  // internal storage
        return Table(kRectangle);
    case 125:
        return Table(kCollate);
    default:
        return {};
    }
}

int StarPoints(int type)
{
    switch (type) {
    case 58: return 8;
    case 59: return 16;
    case 60: return 32;
    case 92: return 24;
    case 187: return 4;
    default: return 0;
    }
}

// Calls f for every member of a group item: the items that follow it and
// the nested groups hanging from the group and from those items.
template <class F>
void ForEachMember(ObjectItem* group, F&& f)
{
    for (ObjectItem* item = group; item; item = item->next.get()) {
        if (item != group)
            f(item);
        for (auto& c : item->children)
            f(c.get());
    }
}

void LayoutItem(ObjectItem* item, int depth);

}  // namespace

DrawPoint RotatePoint::operator()(DrawPoint centre, int num, int den, DrawPoint p)
{
    if (num == 0 || den == 0)
        return p;
    if (num != m_num || den != m_den) {
        const double radians = static_cast<double>(num) / den * (M_PI / 180.0);
        m_sin = std::sin(radians);
        m_cos = std::cos(radians);
        m_num = num;
        m_den = den;
    }
    const double dx = static_cast<double>(p.x) - centre.x;
    const double dy = static_cast<double>(p.y) - centre.y;
    return {Round32(centre.x + dx * m_cos + dy * m_sin), Round32(centre.y + dy * m_cos - dx * m_sin)};
}

std::vector<DrawPoint> MakeStar(int n, std::int32_t w, std::int32_t h, std::int32_t inner)
{
    std::vector<DrawPoint> out;
    if (n <= 0)
        return out;
    n = std::min(n, 64);
    w = std::max(w, 0);
    h = std::max(h, 0);
    inner = std::clamp(inner, 0, w);
    // The star is turned in a square of side w and then fitted to the
    // box's height, so that every point stays inside the box.
    const DrawPoint centre{w / 2, w / 2};
    RotatePoint rotate;
    const double step = 360.0 / (2 * n);
    double angle = 0;
    out.reserve(2 * n + 1);
    for (int k = 0; k < 2 * n; ++k) {
        const DrawPoint start{(k % 2 == 0) ? 0 : inner, w / 2};
        DrawPoint q = rotate(centre, static_cast<int>(angle), 1, start);
        q.x = std::clamp(q.x, 0, w);
        q.y = w > 0 ? Clamp32(static_cast<std::int64_t>(std::clamp(q.y, 0, w)) * h / w) : h / 2;
        out.push_back(q);
        angle += step;
    }
    out.push_back(out.front());
    return out;
}

int drawObject::BuildVertices(std::vector<DrawPoint>& out)
{
    if (!verticesBuilt && item && IsOutlineClass(shapeClass)) {
        verticesBuilt = true;
        const std::int32_t w = Clamp32(std::max<std::int64_t>(std::int64_t(item->right) - item->left - 1, 0));
        const std::int32_t h = Clamp32(std::max<std::int64_t>(std::int64_t(item->bottom) - item->top - 1, 0));
        std::int32_t a[4];
        for (int k = 0; k < 4; ++k)
            a[k] = std::clamp(adjust[k], 0, kFull);
        if (const int points = StarPoints(item->type)) {
            vertices = MakeStar(points, w, h, Clamp32(std::int64_t(a[0]) * w / kFull));
        } else {
            bool adjustUnits = false;
            const std::vector<OutlinePoint> outline = OutlineOf(item->type, a, adjustUnits);
            const std::int64_t unit = adjustUnits ? kFull : 1000;
            for (const OutlinePoint& p : outline) {
                const std::int64_t x = std::clamp<std::int64_t>(p.x, 0, unit);
                const std::int64_t y = std::clamp<std::int64_t>(p.y, 0, unit);
                vertices.push_back({Clamp32(w * x / unit), Clamp32(h * y / unit)});
            }
            if (!vertices.empty())
                vertices.push_back(vertices.front());
        }
    }
    out = vertices;
    return static_cast<int>(vertices.size());
}

void ObjectItem::PlaceOnPage(std::int32_t leftMargin, std::uint16_t anchorFlags)
{
    const int horizontal = (anchorFlags >> 1) & 3;
    const int vertical = (anchorFlags >> 3) & 3;
    std::int64_t shift = 0;
    if (vertical == 1 && horizontal != 1)
        shift = leftMargin;
    else if ((vertical == 0 || vertical == 2) && horizontal == 1)
        shift = -std::int64_t(leftMargin);
    left = Clamp32(left + shift);
    right = Clamp32(right + shift);
    if (type == kDrawingGroupKind)
        MapMembers();
}

void ObjectItem::MapMembers(int depth)
{
    if (depth > kDrawingMaxDepth)
        return;
    bool any = false;
    std::int64_t minX = 0, minY = 0, maxX = 0, maxY = 0;
    ForEachMember(this, [&](ObjectItem* m) {
        if (!any) {
            minX = std::min(m->left, m->right);
            minY = std::min(m->top, m->bottom);
            maxX = std::max(m->left, m->right);
            maxY = std::max(m->top, m->bottom);
            any = true;
        }
        minX = std::min<std::int64_t>({minX, m->left, m->right});
        minY = std::min<std::int64_t>({minY, m->top, m->bottom});
        maxX = std::max<std::int64_t>({maxX, m->left, m->right});
        maxY = std::max<std::int64_t>({maxY, m->top, m->bottom});
    });
    if (!any)
        return;
    // Members' coordinates run from their extent to this item's rectangle;
    // an extent of 0 only moves that direction.
    const std::int64_t extentX = maxX - minX, extentY = maxY - minY;
    const std::int64_t width = std::int64_t(right) - left, height = std::int64_t(bottom) - top;
    auto mapX = [&](std::int32_t x) {
        const __int128 d = std::int64_t(x) - minX;
        const __int128 v = extentX > 0 ? d * width / extentX : d;
        return Clamp32(static_cast<std::int64_t>(std::clamp<__int128>(left + v, kMin32, kMax32)));
    };
    auto mapY = [&](std::int32_t y) {
        const __int128 d = std::int64_t(y) - minY;
        const __int128 v = extentY > 0 ? d * height / extentY : d;
        return Clamp32(static_cast<std::int64_t>(std::clamp<__int128>(top + v, kMin32, kMax32)));
    };
    std::vector<ObjectItem*> nested;
    ForEachMember(this, [&](ObjectItem* m) {
        m->left = mapX(m->left);
        m->right = mapX(m->right);
        m->top = mapY(m->top);
        m->bottom = mapY(m->bottom);
        if (m->type == kDrawingGroupKind)
            nested.push_back(m);
    });
    for (ObjectItem* g : nested)
        g->MapMembers(depth + 1);
}

void ObjectItem::Layout()
{
    LayoutItem(this, 0);
}

namespace {

// Rotates the item about the centre of its rectangle and sets the rectangle
// to the bounds of the rotated corners and outline.
void LayoutOwn(ObjectItem* item)
{
    drawObject& shape = *item->shape;
    const int degrees = RotationDegrees(shape.rotation);
    std::int64_t l = item->left, t = item->top, r = item->right, b = item->bottom;
    if (r < l)
        std::swap(l, r);
    if (b < t)
        std::swap(t, b);
    const std::int64_t cx = l + (r - l) / 2, cy = t + (b - t) / 2;
    const int quadrant = degrees % 180;
    if ((quadrant >= 45 && quadrant <= 134) || (quadrant >= -135 && quadrant <= -46)) {
        // The stored box is that of the unrotated shape turned by a quarter.
        const std::int64_t w = r - l, h = b - t;
        l = cx - h / 2;
        r = l + h;
        t = cy - w / 2;
        b = t + w;
    }
    item->left = Clamp32(l);
    item->top = Clamp32(t);
    item->right = Clamp32(r);
    item->bottom = Clamp32(b);
    // Corners are inclusive points: the last column and row of the box.
    const std::int32_t x0 = item->left, y0 = item->top;
    const std::int32_t x1 = std::max(Clamp32(std::int64_t(item->right) - 1), x0);
    const std::int32_t y1 = std::max(Clamp32(std::int64_t(item->bottom) - 1), y0);
    DrawPoint corner[4] = {{x0, y0}, {x1, y0}, {x0, y1}, {x1, y1}};
    if (item->type == 19) {
        // The arc's corners follow its flips.
        const bool flipH = item->flags & 0x40, flipV = item->flags & 0x80;
        for (DrawPoint& p : corner) {
            if (flipH)
                p.x = p.x == x0 ? x1 : x0;
            if (flipV)
                p.y = p.y == y0 ? y1 : y0;
        }
    }
    std::vector<DrawPoint> polygon;
    shape.BuildVertices(polygon);
    for (DrawPoint& p : polygon)
        p = {Clamp32(std::int64_t(p.x) + x0), Clamp32(std::int64_t(p.y) + y0)};

    const DrawPoint centre{Clamp32(cx), Clamp32(cy)};
    RotatePoint rotate;
    for (DrawPoint& p : corner)
        p = rotate(centre, degrees, 1, p);
    for (DrawPoint& p : polygon)
        p = rotate(centre, degrees, 1, p);
    std::int64_t minX = corner[0].x, maxX = corner[0].x, minY = corner[0].y, maxY = corner[0].y;
    auto grow = [&](const DrawPoint& p) {
        minX = std::min<std::int64_t>(minX, p.x);
        maxX = std::max<std::int64_t>(maxX, p.x);
        minY = std::min<std::int64_t>(minY, p.y);
        maxY = std::max<std::int64_t>(maxY, p.y);
    };
    for (const DrawPoint& p : corner)
        grow(p);
    for (const DrawPoint& p : polygon)
        grow(p);
    item->left = Clamp32(minX);
    item->top = Clamp32(minY);
    item->right = Clamp32(maxX + 1);
    item->bottom = Clamp32(maxY + 1);
    for (int k = 0; k < 3; ++k)
        shape.corners[k] = {Clamp32(corner[k].x - minX), Clamp32(corner[k].y - minY)};
    shape.outline.clear();
    for (const DrawPoint& p : polygon)
        shape.outline.push_back({Clamp32((p.x - minX) * 1800 / 1440), Clamp32((p.y - minY) * 1800 / 1440)});
}

void LayoutItem(ObjectItem* item, int depth)
{
    if (!item->shape || depth > kDrawingMaxDepth)
        return;
    if (item->type == kDrawingGroupKind) {
        // Members first, each turned with the group about its centre.
        const int degrees = RotationDegrees(item->shape->rotation);
        const std::int64_t l = std::min(item->left, item->right), r = std::max(item->left, item->right);
        const std::int64_t t = std::min(item->top, item->bottom), b = std::max(item->top, item->bottom);
        const DrawPoint centre{Clamp32(l + (r - l) / 2), Clamp32(t + (b - t) / 2)};
        RotatePoint rotate;
        ForEachMember(item, [&](ObjectItem* m) {
            LayoutItem(m, depth + 1);
            if (degrees == 0)
                return;
            const std::int64_t mw = std::int64_t(m->right) - m->left, mh = std::int64_t(m->bottom) - m->top;
            const DrawPoint mc{Clamp32(m->left + mw / 2), Clamp32(m->top + mh / 2)};
            const DrawPoint moved = rotate(centre, degrees, 1, mc);
            const std::int64_t dx = std::int64_t(moved.x) - mc.x, dy = std::int64_t(moved.y) - mc.y;
            m->left = Clamp32(m->left + dx);
            m->right = Clamp32(m->right + dx);
            m->top = Clamp32(m->top + dy);
            m->bottom = Clamp32(m->bottom + dy);
        });
    }
    LayoutOwn(item);
}

}  // namespace
