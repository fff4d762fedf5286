// Bitmap buttons, check box, drop-down, tab button and splitter, driven
// offscreen.
#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "core/controls/buttons.h"
#include "core/controls/skin.h"
#include "core/controls/wnd.h"

using namespace ps::ui;
using Face = ImageButton::Face;

namespace {

void Enter(QWidget* w)
{
    QEnterEvent e(QPointF(2, 2), QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(w, &e);
}

void Leave(QWidget* w)
{
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(w, &e);
}

}  // namespace

TEST(SkinTest, BitmapsLoadKeyedAndRawKeepMagenta)
{
    const QImage raw = SkinBitmapRaw(224);
    ASSERT_FALSE(raw.isNull());
    EXPECT_EQ(raw.size(), QSize(320, 178));
    // The rounded corner lies outside the window shape: magenta in the file,
    // transparent once keyed.
    EXPECT_EQ(raw.pixel(0, 0) & 0xFFFFFF, kTransparentColour & 0xFFFFFF);
    EXPECT_EQ(qAlpha(SkinBitmap(224).toImage().pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(SkinBitmap(224).toImage().pixel(160, 100)), 255);
    EXPECT_TRUE(SkinBitmap(99999).isNull());
}

TEST(SkinTest, SizesTheWindowsRelyOn)
{
    const struct { int id; QSize size; } cases[] = {
        {224, {320, 178}}, {195, {222, 21}}, {194, {222, 21}}, {155, {17, 17}}, {156, {17, 17}},
        {157, {17, 17}},   {196, {26, 13}},  {267, {30, 16}},  {147, {52, 16}}, {217, {400, 158}},
        {219, {222, 21}},  {218, {222, 21}}, {249, {282, 21}}, {286, {255, 21}}, {269, {26, 13}},
        {200, {730, 480}}, {252, {730, 480}}, {253, {708, 26}}, {251, {340, 46}}, {285, {337, 315}},
        {292, {440, 298}}, {230, {730, 412}}, {231, {730, 412}}, {264, {338, 285}}, {173, {182, 150}},
        {247, {24, 24}},   {248, {24, 24}},
    };
    for (const auto& c : cases) EXPECT_EQ(SkinBitmapRaw(c.id).size(), c.size) << "bitmap " << c.id;
}

TEST(ImageButtonTest, StripCodesPickTheStateImages)
{
    // Strip 195: three 74-pixel images.
    const int w = 74;
    auto img = [&](int n) { return QRect((n - 1) * w, 0, w, 21); };
    ImageButton b;
    ASSERT_TRUE(b.LoadBitmapStrip(195, 2));
    EXPECT_EQ(b.size(), QSize(74, 21));
    EXPECT_EQ(b.StripRect(Face::Normal), img(1));
    EXPECT_EQ(b.StripRect(Face::Hover), img(2));
    EXPECT_EQ(b.StripRect(Face::Pressed), img(3));
    EXPECT_EQ(b.StripRect(Face::Disabled), img(1));  // a disabled button shows the normal image

    // Code 0: one image for every state (the whole strip is that image).
    ImageButton one;
    ASSERT_TRUE(one.LoadBitmapStrip(195, 0));
    EXPECT_EQ(one.size(), QSize(222, 21));
    for (Face f : {Face::Normal, Face::Hover, Face::Pressed, Face::Disabled})
        EXPECT_EQ(one.StripRect(f), QRect(0, 0, 222, 21));

    // Code 1 on a two-image strip; code 3 would cut four images.
    ImageButton two;
    ASSERT_TRUE(two.LoadBitmapStrip(198, 1));
    EXPECT_EQ(two.StripRect(Face::Pressed), two.StripRect(Face::Normal));
    EXPECT_NE(two.StripRect(Face::Hover), two.StripRect(Face::Normal));

    // An unknown code keeps the strip without rectangles and without resizing.
    ImageButton odd;
    odd.resize(50, 50);
    EXPECT_TRUE(odd.LoadBitmapStrip(195, 7));
    EXPECT_TRUE(odd.StripRect(Face::Normal).isNull());
    EXPECT_EQ(odd.size(), QSize(50, 50));

    // A missing bitmap fails and leaves no strip.
    ImageButton none;
    EXPECT_FALSE(none.LoadBitmapStrip(99999, 2));
    EXPECT_FALSE(none.HasStrip());
}

TEST(ImageButtonTest, FacesFollowHoverPressAndEnable)
{
    QWidget host;
    auto* b = new ImageButton(&host);
    b->LoadBitmapStrip(195, 2);
    host.show();
    EXPECT_EQ(b->CurrentFace(), Face::Normal);
    Enter(b);
    EXPECT_EQ(b->CurrentFace(), Face::Hover);
    b->setDown(true);
    EXPECT_EQ(b->CurrentFace(), Face::Pressed);
    b->setDown(false);
    Leave(b);
    EXPECT_EQ(b->CurrentFace(), Face::Normal);
    b->setEnabled(false);
    EXPECT_EQ(b->CurrentFace(), Face::Disabled);

    // Separate bitmaps without a hover image never show hover.
    auto* plain = new ImageButton(&host);
    ASSERT_TRUE(plain->LoadBitmaps(155, 157, 0));
    EXPECT_EQ(plain->size(), QSize(17, 17));
    Enter(plain);
    QTest::mouseMove(plain, QPoint(5, 5));
    EXPECT_FALSE(plain->IsHovering());
    auto* withHover = new ImageButton(&host);
    withHover->LoadBitmaps(155, 157, 156);
    Enter(withHover);
    EXPECT_TRUE(withHover->IsHovering());
}

TEST(ImageButtonTest, ClicksReachTheOwnerAndPaintTheStateImage)
{
    QWidget host;
    auto* b = new ImageButton(&host);
    b->LoadBitmapStrip(195, 2);
    host.resize(100, 40);
    host.show();
    QSignalSpy clicked(b, &QAbstractButton::clicked);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicked.count(), 1);
    b->setEnabled(false);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicked.count(), 1);

    // What is painted is the chosen image of the strip.
    b->setEnabled(true);
    const QImage strip = SkinBitmapRaw(195);
    b->setDown(true);
    const QImage shot = b->grab().toImage();
    EXPECT_EQ(shot.pixel(37, 10) & 0xFFFFFF, strip.pixel(2 * 74 + 37, 10) & 0xFFFFFF);
}

TEST(CheckButtonTest, ToggleIsVisibleToTheClickHandler)
{
    QWidget host;
    auto* c = new CCheckButtonEx(QStringLiteral("주민등록번호"), &host);
    host.show();
    EXPECT_EQ(c->GetCheck(), 0);
    int seen = -1;
    QObject::connect(c, &QAbstractButton::clicked, [&] { seen = c->GetCheck(); });
    QTest::mouseClick(c, Qt::LeftButton, {}, QPoint(5, 8));
    EXPECT_EQ(seen, 1);
    QTest::mouseClick(c, Qt::LeftButton, {}, QPoint(5, 8));
    EXPECT_EQ(seen, 0);

    // A double click counts as one more click.
    QSignalSpy clicked(c, &QAbstractButton::clicked);
    const QPointF at(5, 8);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, at, c->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(c, &dbl);
    QMouseEvent up(QEvent::MouseButtonRelease, at, c->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, {});
    QApplication::sendEvent(c, &up);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(c->GetCheck(), 1);

    // Any non-zero value checks; the answer is 0 or 1.
    c->SetCheck(7);
    EXPECT_EQ(c->GetCheck(), 1);
    c->SetCheck(0);
    EXPECT_EQ(c->GetCheck(), 0);
}

TEST(CheckButtonTest, SizesItselfToItsTextInItsFont)
{
    CCheckButtonEx c(QStringLiteral("신용카드번호"));
    const QFontMetrics fm(c.font());
    const int textW = fm.horizontalAdvance(c.text());
    EXPECT_GE(c.width(), 17 + textW);
    EXPECT_LE(c.width(), 17 + textW + 8);
    CCheckButtonEx twoLines(QStringLiteral("이메일 주소\n(회사 메일 포함)"));
    EXPECT_GE(twoLines.height(), 2 * fm.height());
    CCheckButtonEx empty;
    EXPECT_EQ(empty.size(), QSize(17, 17));
}

TEST(DropDownTest, StripFacesAndNoPaintWithoutStrip)
{
    QWidget host;
    auto* d = new CDropDownButton(&host);
    d->addItems({QStringLiteral("전체"), QStringLiteral("검색")});
    host.show();
    ASSERT_TRUE(d->LoadBitmapStrip(266));
    EXPECT_EQ(d->size(), QSize(100, 21));
    EXPECT_EQ(d->CurrentFace(), CDropDownButton::Face::Normal);
    Enter(d);
    EXPECT_EQ(d->CurrentFace(), CDropDownButton::Face::Hover);
    d->showPopup();
    EXPECT_EQ(d->CurrentFace(), CDropDownButton::Face::Dropped);
    d->hidePopup();
    Leave(d);
    d->setEnabled(false);
    EXPECT_EQ(d->CurrentFace(), CDropDownButton::Face::Disabled);
    EXPECT_FALSE(d->LoadBitmapStrip(99999));
}

TEST(TabButtonTest, SelectedTabIsWhiteAndOpenBelow)
{
    CTabButton t(QStringLiteral("전체(3)"));
    t.resize(100, 26);
    const QImage normal = t.grab().toImage();
    t.SetSelected(true);
    const QImage selected = t.grab().toImage();
    EXPECT_EQ(QColor(selected.pixel(5, 5)), QColor(Qt::white));
    EXPECT_EQ(QColor(normal.pixel(5, 5)), FromColorRef(0xF0F4F5));
    // Bottom edge: drawn only when not selected.
    EXPECT_EQ(QColor(normal.pixel(50, 25)), FromColorRef(0xC5C7C7));
    EXPECT_EQ(QColor(selected.pixel(50, 25)), QColor(Qt::white));
}

namespace {

// A parent that records where the splitter says it moved.
class SplitHost : public QWidget {
public:
    QList<QRect> moves;
    void Watch(CSplitBar* bar)
    {
        QObject::connect(bar, &CSplitBar::Moved, this, [this](const QRect& r) { moves << r; });
    }
};

}  // namespace

TEST(SplitBarTest, DragsWithinLimitsAndTellsTheParent)
{
    SplitHost host;
    host.resize(300, 400);
    auto* bar = new CSplitBar(&host);
    host.Watch(bar);
    bar->setGeometry(10, 200, 280, 4);
    bar->SetLimits(100, 300);
    host.show();

    // Not movable: nothing happens.
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(5, 2));
    QTest::mouseMove(bar, QPoint(5, 40));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(5, 40));
    EXPECT_EQ(bar->y(), 200);
    EXPECT_TRUE(host.moves.isEmpty());

    bar->SetMovable(true);
    auto drag = [&](int dy) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 2), bar->mapToGlobal(QPointF(5, 2)), Qt::LeftButton,
                          Qt::LeftButton, {});
        QApplication::sendEvent(bar, &press);
        const QPointF to(5, 2 + dy);
        QMouseEvent move(QEvent::MouseMove, to, bar->mapToGlobal(QPointF(5, 2)) + QPointF(0, dy), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(bar, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, to, bar->mapToGlobal(QPointF(5, 2)) + QPointF(0, dy),
                            Qt::LeftButton, Qt::NoButton, {});
        QApplication::sendEvent(bar, &release);
    };
    drag(30);
    EXPECT_EQ(bar->y(), 230);
    ASSERT_EQ(host.moves.size(), 1);
    EXPECT_EQ(host.moves[0], QRect(10, 230, 280, 4));
    // Above the lowest allowed top: refused, no message.
    drag(-200);
    EXPECT_EQ(bar->y(), 230);
    EXPECT_EQ(host.moves.size(), 1);
    // Bottom below the highest allowed bottom: refused.
    drag(80);
    EXPECT_EQ(bar->y(), 230);
    EXPECT_EQ(host.moves.size(), 1);
    // Exactly at the limits: allowed.
    drag(300 - 4 - 230);
    EXPECT_EQ(bar->y(), 296);
    drag(100 - 296);
    EXPECT_EQ(bar->y(), 100);
    EXPECT_EQ(host.moves.size(), 3);
    EXPECT_FALSE(bar->IsDragging());
}

TEST(SkinTest, NoControlShowsMagentaInAnyState)
{
    QWidget host;
    host.resize(600, 200);
    QPalette pal = host.palette();
    pal.setColor(QPalette::Window, Qt::white);
    host.setPalette(pal);
    host.setAutoFillBackground(true);
    QList<ImageButton*> buttons;
    int x = 0;
    for (int id : {195, 194, 218, 219, 249, 250, 286, 293, 294, 258, 259, 216, 211}) {
        auto* b = new ImageButton(&host);
        b->LoadBitmapStrip(id, 2);
        b->move(x % 560, 10 + 30 * (x / 560));
        x += b->width() + 4;
        buttons << b;
    }
    for (int ids : {155, 149, 152, 236, 239}) {
        auto* b = new ImageButton(&host);
        b->LoadBitmaps(ids, ids + 2, ids + 1);
        b->move(x % 560, 10 + 30 * (x / 560));
        x += 22;
        buttons << b;
    }
    auto* check = new CCheckButtonEx(QStringLiteral("전화번호"), &host);
    check->move(10, 150);
    auto* drop = new CDropDownButton(&host);
    drop->LoadBitmapStrip(265);
    drop->move(150, 150);
    host.show();
    auto countMagenta = [&] {
        const QImage shot = host.grab().toImage().convertToFormat(QImage::Format_RGB32);
        int n = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int xx = 0; xx < shot.width(); ++xx)
                if ((shot.pixel(xx, y) & 0xFFFFFF) == 0xFF00FF) ++n;
        return n;
    };
    EXPECT_EQ(countMagenta(), 0);
    for (ImageButton* b : buttons) Enter(b);
    check->SetCheck(1);
    Enter(drop);
    EXPECT_EQ(countMagenta(), 0);
    for (ImageButton* b : buttons) b->setDown(true);
    EXPECT_EQ(countMagenta(), 0);
    for (ImageButton* b : buttons) b->setEnabled(false);
    drop->setEnabled(false);
    check->setEnabled(false);
    EXPECT_EQ(countMagenta(), 0);
}
