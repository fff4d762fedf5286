// The drawing model of the PowerPoint 97-2003 reader: one CPowerPointDrawAccess
// per drawing container of a slide (owning its shapes), one CPowerPointShapeObj
// per shape container (type, flags, property table, text); the picture store
// of a document is CMsoBLIPStoreManager (office/drawing/blipstore.h). The
// reader fills them; they have no behaviour of their own beyond the property
// lookup.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "office/drawing/blipstore.h"
#include "office/drawing/drawingrecords.h"

// One entry of a shape's property table.
using PptPropertyEntry = officeart::PropertyEntry;

// A paragraph or character run of a style atom; kept for the drawing model.
struct PptTextRun {
    std::uint32_t count = 0;       // characters the run covers
    std::uint16_t indentLevel = 0; // paragraph runs only
    std::uint32_t mask = 0;
};

struct PptPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

struct PptGroupData {
    std::int32_t rect[4] = {0, 0, 0, 0};  // left, top, right, bottom
    std::uint8_t extra[16] = {};
};

class CPowerPointShapeObj {
public:
    CPowerPointShapeObj() = default;
    virtual ~CPowerPointShapeObj() = default;
    CPowerPointShapeObj(const CPowerPointShapeObj&) = delete;
    CPowerPointShapeObj& operator=(const CPowerPointShapeObj&) = delete;

    // The first entry with that id: fixed-point (16.16) properties give their
    // signed integer part, all others the 32-bit value; 0 when absent.
    int GetProperty(int propertyId) const;
    int HasProperty(int propertyId) const;

    std::uint32_t shapeType = 0;      // instance of the shape record
    std::uint32_t shapeId = 0;        // the shape record's 8 bytes
    std::uint32_t shapeFlags = 0;
    std::uint32_t flags = 0;          // bits 0-9 and 11 of shapeFlags; bit 0 = group
    std::vector<PptPropertyEntry> properties;
    std::int32_t pictureId = -1;
    std::int32_t fillPictureId = -1;
    std::string pictureName;
    std::string fillPictureName;
    std::vector<PptPoint> vertices;
    std::uint32_t segmentKind = 0;
    std::u16string formName;
    std::vector<std::int32_t> adjustValues;
    std::u16string text;
    std::uint32_t textType = 0;
    std::int32_t outlineTextIndex = -1;
    std::vector<PptTextRun> paragraphRuns;
    std::vector<PptTextRun> characterRuns;
    std::uint8_t placeholder[8] = {};
    // Date, footer, slide number, header.
    std::int32_t metaPositions[4] = {-1, -1, -1, -1};
    std::uint32_t hasInteraction = 0;
    std::uint8_t interaction[16] = {};
    std::u16string hyperlinkName;
    std::u16string hyperlinkTarget;
    std::uint32_t hasExternalObject = 0;
    std::int32_t externalObjectId = -1;
};

class CPowerPointDrawAccess {
public:
    CPowerPointDrawAccess() = default;
    virtual ~CPowerPointDrawAccess();
    CPowerPointDrawAccess(const CPowerPointDrawAccess&) = delete;
    CPowerPointDrawAccess& operator=(const CPowerPointDrawAccess&) = delete;

    // Appends a new shape and makes it current.
    CPowerPointShapeObj* AddShape();
    // Deletes every shape and empties the list.
    void ClearShapes();

    std::vector<CPowerPointShapeObj*> shapes;  // owned
    CPowerPointShapeObj* currentShape = nullptr;
    std::int32_t shapeCount = -1;  // the drawing header record (officeart::kDg)
    std::int32_t lastShapeId = -1;
    PptGroupData group;
    std::vector<PptGroupData> groupStack;
};
