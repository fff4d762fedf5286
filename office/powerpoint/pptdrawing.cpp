#include "office/powerpoint/pptdrawing.h"

namespace {

// Properties stored as 16.16 fixed-point numbers.
bool IsFixedPointProperty(int id)
{
    switch (id) {
    case 0x004: case 0x0C3: case 0x0C4: case 0x108: case 0x10A: case 0x182: case 0x184:
    case 0x18B: case 0x1C1: case 0x1CC: case 0x204: case 0x24A: case 0x24B:
        return true;
    default:
        return (id >= 0x18D && id <= 0x190) || (id >= 0x209 && id <= 0x20E) ||
               (id >= 0x243 && id <= 0x248);
    }
}

}  // namespace

int CPowerPointShapeObj::GetProperty(int propertyId) const
{
    for (const PptPropertyEntry& e : properties) {
        if (e.Id() != propertyId)
            continue;
        if (IsFixedPointProperty(propertyId))
            return static_cast<std::int16_t>(e.value >> 16);
        return static_cast<int>(e.value);
    }
    return 0;
}

int CPowerPointShapeObj::HasProperty(int propertyId) const
{
    for (const PptPropertyEntry& e : properties)
        if (e.Id() == propertyId)
            return 1;
    return 0;
}

CPowerPointDrawAccess::~CPowerPointDrawAccess() { ClearShapes(); }

CPowerPointShapeObj* CPowerPointDrawAccess::AddShape()
{
    shapes.push_back(new CPowerPointShapeObj);
    currentShape = shapes.back();
    return currentShape;
}

void CPowerPointDrawAccess::ClearShapes()
{
    for (CPowerPointShapeObj* s : shapes)
        delete s;
    shapes.clear();
    currentShape = nullptr;
}
