#include <gtest/gtest.h>

#include "office/powerpoint/pptdrawing.h"

TEST(PowerPointDrawing, PropertyLookup)
{
    CPowerPointShapeObj shape;
    EXPECT_EQ(shape.GetProperty(0x004), 0);
    EXPECT_EQ(shape.HasProperty(0x004), 0);
    shape.properties = {
        {0x0004, 0x002D0000},        // rotation 45.0
        {0x0181, 0x08000002},        // fill colour, kept as it is
        {0x4104, 3},                 // picture id with fBid: the id is the low 14 bits
        {0x0147, 111}, {0x0147, 222},  // the first entry of an id wins
        {0x0182, 0xFFFF8000},        // fixed point -0.5 gives its integer part -1
    };
    EXPECT_EQ(shape.GetProperty(0x004), 45);
    EXPECT_EQ(shape.GetProperty(0x181), 0x08000002);
    EXPECT_EQ(shape.GetProperty(0x104), 3);
    EXPECT_EQ(shape.GetProperty(0x147), 111);
    EXPECT_EQ(shape.GetProperty(0x182), -1);
    EXPECT_EQ(shape.HasProperty(0x147), 1);
    EXPECT_EQ(shape.HasProperty(0x148), 0);
}

TEST(PowerPointDrawing, InitialValuesAndOwnership)
{
    CPowerPointShapeObj shape;
    EXPECT_EQ(shape.pictureId, -1);
    EXPECT_EQ(shape.fillPictureId, -1);
    for (int p : shape.metaPositions)
        EXPECT_EQ(p, -1);
    EXPECT_EQ(shape.externalObjectId, -1);

    CPowerPointDrawAccess drawing;
    EXPECT_EQ(drawing.shapeCount, -1);
    EXPECT_EQ(drawing.lastShapeId, -1);
    CPowerPointShapeObj* a = drawing.AddShape();
    CPowerPointShapeObj* b = drawing.AddShape();
    EXPECT_NE(a, b);
    EXPECT_EQ(drawing.currentShape, b);
    ASSERT_EQ(drawing.shapes.size(), 2u);
    drawing.ClearShapes();
    EXPECT_TRUE(drawing.shapes.empty());
    EXPECT_EQ(drawing.currentShape, nullptr);

    CMsoBLIPStoreManager store;
    auto* unnamed = new CMsoBlipEntry;
    store.entries.push_back(unnamed);
    EXPECT_EQ(unnamed->NameLength(), 0);
    EXPECT_TRUE(unnamed->name.empty());
    EXPECT_EQ(store.PicturesStream(), nullptr);
}
