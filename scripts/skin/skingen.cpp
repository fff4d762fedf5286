// Draws the program's skin bitmaps: one PNG per bitmap number, at the sizes and
// strip layouts the windows expect, magenta (255, 0, 255) where a bitmap is
// transparent. Run through scripts/make-skin.sh; the output is committed under
// resources/skin/ together with skin.txt, the list of what was drawn.
//
// Style: one calm light theme. White bodies, a soft blue-grey caption band,
// thin blue-grey borders, one blue accent for primary actions, neutral grey for
// secondary ones. Hover lightens, pressed darkens and shifts the label by one
// pixel. Anti-aliased edges are flattened onto the colour the bitmap will lie
// on, so that no pink fringe survives the magenta keying.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

const QColor kMagenta(255, 0, 255);
const QColor kBody(0xFF, 0xFF, 0xFF);
const QColor kBandTop(0xEE, 0xF3, 0xF8);
const QColor kBandBottom(0xDF, 0xE8, 0xF1);
const QColor kBorder(0x9A, 0xAF, 0xC3);
const QColor kLine(0xC5, 0xC7, 0xC7);
const QColor kText(0x2B, 0x3A, 0x48);
const QColor kTextSoft(0x5E, 0x6E, 0x7C);
const QColor kAccent(0x3A, 0x7B, 0xBE);
const QColor kAccentHover(0x4C, 0x8D, 0xCF);
const QColor kAccentPressed(0x2C, 0x66, 0xA3);
const QColor kSecondary(0xF5, 0xF7, 0xF9);
const QColor kSecondaryHover(0xE7, 0xF0, 0xF9);
const QColor kSecondaryPressed(0xD6, 0xE3, 0xEF);
const QColor kDisabled(0xEC, 0xEE, 0xF0);
const QColor kDisabledText(0xA3, 0xAA, 0xB1);
const QColor kClose(0xD9, 0x4F, 0x4A);
const QColor kTabColumn(0xF0, 0xF4, 0xF5);

enum State { Normal, Hover, Pressed, Disabled };
enum Style { Primary, Secondary };

QString g_outDir;
QStringList g_manifest;

QFont UiFont(int px, bool bold)
{
    QFont f;
    f.setFamilies({QStringLiteral("NanumGothic"), QStringLiteral("NanumBarunGothic")});
    f.setPixelSize(px);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

// An ARGB canvas drawn with anti-aliasing, then flattened: nearly transparent
// pixels become magenta, the others are composed over the matte colour.
struct Canvas {
    QImage img;
    explicit Canvas(int w, int h) : img(w, h, QImage::Format_ARGB32_Premultiplied)
    {
        img.fill(Qt::transparent);
    }
    QImage Flatten(const QColor& matte) const
    {
        QImage out(img.size(), QImage::Format_RGB888);
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = QColor::fromRgba(img.pixel(x, y));
                if (c.alpha() < 24) {
                    out.setPixelColor(x, y, kMagenta);
                    continue;
                }
                const double a = c.alphaF();
                QColor o(qRound(c.red() * a + matte.red() * (1 - a)),
                         qRound(c.green() * a + matte.green() * (1 - a)),
                         qRound(c.blue() * a + matte.blue() * (1 - a)));
                if (o == kMagenta) o = QColor(254, 0, 254);
                out.setPixelColor(x, y, o);
            }
        }
        return out;
    }
};

void Save(int id, const QImage& img, const QString& what)
{
    const QString path = QStringLiteral("%1/%2.png").arg(g_outDir).arg(id);
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    g_manifest << QStringLiteral("%1\t%2x%3\t%4").arg(id).arg(img.width()).arg(img.height()).arg(what);
}

void SaveIcon(int id, const QImage& img, const QString& what)
{
    const QString path = QStringLiteral("%1/icon-%2.png").arg(g_outDir).arg(id);
    img.save(path, "PNG");
    g_manifest << QStringLiteral("icon %1\t%2x%3\t%4").arg(id).arg(img.width()).arg(img.height()).arg(what);
}

void DrawLabel(QPainter& p, const QRectF& r, const QString& text, const QColor& color, int px,
               bool bold = true)
{
    p.setFont(UiFont(px, bold));
    p.setPen(color);
    p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, text);
}

// One rounded push-button face of w x h.
void DrawButtonFace(QPainter& p, const QRectF& cell, Style style, State st, const QString& label)
{
    QColor fill, border, text;
    if (style == Primary) {
        fill = st == Hover ? kAccentHover : st == Pressed ? kAccentPressed : kAccent;
        border = st == Pressed ? kAccentPressed.darker(115) : kAccent.darker(112);
        text = Qt::white;
    } else {
        fill = st == Hover ? kSecondaryHover : st == Pressed ? kSecondaryPressed : kSecondary;
        border = st == Hover || st == Pressed ? QColor(0x7F, 0xA4, 0xC8) : QColor(0xB4, 0xC0, 0xCC);
        text = kText;
    }
    if (st == Disabled) {
        fill = kDisabled;
        border = QColor(0xCB, 0xD1, 0xD6);
        text = kDisabledText;
    }
    const QRectF r = cell.adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, st == Pressed ? fill : fill.lighter(106));
    g.setColorAt(1, st == Pressed ? fill.lighter(104) : fill);
    p.setPen(QPen(border, 1));
    p.setBrush(g);
    p.drawRoundedRect(r, 3, 3);
    QRectF tr = cell;
    if (st == Pressed) tr.translate(0, 1);
    const int px = cell.height() >= 40 ? 16 : 12;
    DrawLabel(p, tr, label, text, px);
}

// A strip of `count` equal images: normal, hover, pressed, disabled.
void ButtonStrip(int id, const QString& label, int count, int w, int h, Style style,
                 const QColor& matte = kBody)
{
    Canvas c(w * count, h);
    QPainter p(&c.img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    for (int i = 0; i < count; ++i) DrawButtonFace(p, QRectF(i * w, 0, w, h), style, State(i), label);
    p.end();
    Save(id, c.Flatten(matte),
         QStringLiteral("button strip \"%1\", %2 images of %3x%4").arg(label).arg(count).arg(w).arg(h));
}

// Separate images for one button: ids of the normal, pressed and hover image.
void ButtonSet(int normal, int pressed, int hover, const QString& label, int w, int h, Style style)
{
    const std::pair<int, State> parts[] = {{normal, Normal}, {pressed, Pressed}, {hover, Hover}};
    for (auto [id, st] : parts) {
        if (id == 0) continue;
        Canvas c(w, h);
        QPainter p(&c.img);
        p.setRenderHint(QPainter::Antialiasing);
        DrawButtonFace(p, QRectF(0, 0, w, h), style, st, label);
        p.end();
        Save(id, c.Flatten(kBody), QStringLiteral("button \"%1\" (%2)").arg(label).arg(
                                       st == Normal ? "normal" : st == Pressed ? "pressed" : "hover"));
    }
}

enum class Glyph { Menu, Minimise, Maximise, Restore, Close };

// The 17x17 caption buttons: a glyph, and a soft rounded square behind it on
// hover and press (red behind the close cross).
void CaptionButton(int normal, int pressed, int hover, Glyph glyph, const QString& what)
{
    const std::pair<int, State> parts[] = {{normal, Normal}, {pressed, Pressed}, {hover, Hover}};
    for (auto [id, st] : parts) {
        Canvas c(17, 17);
        QPainter p(&c.img);
        p.setRenderHint(QPainter::Antialiasing);
        QColor ink = QColor(0x4A, 0x5B, 0x6B);
        if (st != Normal) {
            QColor back = glyph == Glyph::Close ? (st == Pressed ? kClose.darker(115) : kClose)
                                                : (st == Pressed ? QColor(0xB9, 0xCC, 0xDF)
                                                                 : QColor(0xD3, 0xE1, 0xEE));
            p.setPen(Qt::NoPen);
            p.setBrush(back);
            p.drawRoundedRect(QRectF(0, 0, 17, 17), 3, 3);
            if (glyph == Glyph::Close) ink = Qt::white;
        }
        QPen pen(ink, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        switch (glyph) {
        case Glyph::Menu:
            for (double y : {5.5, 8.5, 11.5}) p.drawLine(QPointF(4.5, y), QPointF(12.5, y));
            break;
        case Glyph::Minimise:
            p.drawLine(QPointF(4.5, 11.5), QPointF(12.5, 11.5));
            break;
        case Glyph::Maximise:
            p.setPen(QPen(ink, 1.3));
            p.drawRect(QRectF(4.5, 4.5, 8, 8));
            p.drawLine(QPointF(4.5, 5.5), QPointF(12.5, 5.5));
            break;
        case Glyph::Restore:
            p.setPen(QPen(ink, 1.2));
            p.drawRect(QRectF(4.5, 6.5, 6, 6));
            p.drawPolyline(QPolygonF({QPointF(6.5, 6.5), QPointF(6.5, 4.5), QPointF(12.5, 4.5),
                                      QPointF(12.5, 10.5), QPointF(10.5, 10.5)}));
            break;
        case Glyph::Close:
            p.drawLine(QPointF(5, 5), QPointF(12, 12));
            p.drawLine(QPointF(12, 5), QPointF(5, 12));
            break;
        }
        p.end();
        // Caption buttons lie on the caption band.
        Save(id, c.Flatten(kBandTop), QStringLiteral("caption button %1 (%2)").arg(what).arg(
                                          st == Normal ? "normal" : st == Pressed ? "pressed" : "hover"));
    }
}

// A window background: white body, caption band, thin border, rounded corners
// (magenta outside them). Everything between the corners is uniform along
// each edge, so windows may stretch the middle rows and columns.
void Background(int id, int w, int h, const QString& what, int band = 29,
                const std::function<void(QPainter&)>& extra = {})
{
    Canvas c(w, h);
    QPainter p(&c.img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(0, 0, w, h), 4, 4);
    p.setClipPath(outline);
    p.fillRect(QRect(0, 0, w, h), kBody);
    if (band > 0) {
        QLinearGradient g(0, 0, 0, band);
        g.setColorAt(0, kBandTop);
        g.setColorAt(1, kBandBottom);
        p.fillRect(QRect(0, 0, w, band), g);
        p.fillRect(QRect(0, band - 1, w, 1), QColor(0xC9, 0xD5, 0xE0));
    }
    if (extra) extra(p);
    p.setClipping(false);
    p.setPen(QPen(kBorder, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 3.5, 3.5);
    p.end();
    Save(id, c.Flatten(kBody), what);
}

// A plain page or panel background (no caption band).
void Page(int id, int w, int h, const QString& what, bool framed)
{
    Canvas c(w, h);
    QPainter p(&c.img);
    p.fillRect(QRect(0, 0, w, h), kBody);
    if (framed) {
        p.setPen(kLine);
        p.drawRect(QRect(0, 0, w - 1, h - 1));
        QLinearGradient g(0, 1, 0, 28);
        g.setColorAt(0, QColor(0xF7, 0xF9, 0xFB));
        g.setColorAt(1, QColor(0xEE, 0xF2, 0xF6));
        p.fillRect(QRect(1, 1, w - 2, 27), g);
        p.fillRect(QRect(1, 28, w - 2, 1), QColor(0xDD, 0xE3, 0xE9));
    }
    p.end();
    Save(id, c.Flatten(kBody), what);
}

// A heading image: a bold title and a one-line explanation on a light band.
void Header(int id, int w, int h, const QString& title, const QString& note)
{
    Canvas c(w, h);
    QPainter p(&c.img);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRect(0, 0, w, h), QColor(0xF7, 0xF9, 0xFB));
    p.fillRect(QRect(0, h - 1, w, 1), QColor(0xDD, 0xE3, 0xE9));
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(12, 9, 4, 13), 1.5, 1.5);
    p.setFont(UiFont(13, true));
    p.setPen(kText);
    p.drawText(QRectF(22, 6, w - 30, 18), Qt::AlignLeft | Qt::AlignVCenter, title);
    p.setFont(UiFont(11, false));
    p.setPen(kTextSoft);
    p.drawText(QRectF(22, 25, w - 30, 16), Qt::AlignLeft | Qt::AlignVCenter, note);
    p.end();
    Save(id, c.Flatten(kBody), QStringLiteral("heading \"%1\"").arg(title));
}

// A thin bar that heads a detail panel; the column at x = 300 is plain so
// that the bar can be stretched there.
void PanelBar(int id, int w, int h, const QString& title)
{
    Canvas c(w, h);
    QPainter p(&c.img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(0xF4, 0xF7, 0xFA));
    g.setColorAt(1, QColor(0xE4, 0xEB, 0xF2));
    p.fillRect(QRect(0, 0, w, h), g);
    p.fillRect(QRect(0, 0, w, 1), QColor(0xCF, 0xD9, 0xE3));
    p.fillRect(QRect(0, h - 1, w, 1), QColor(0xCF, 0xD9, 0xE3));
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawEllipse(QRectF(10, h / 2.0 - 3, 6, 6));
    p.setFont(UiFont(12, true));
    p.setPen(kText);
    p.drawText(QRectF(22, 0, 200, h), Qt::AlignLeft | Qt::AlignVCenter, title);
    p.end();
    Save(id, c.Flatten(kBody), QStringLiteral("panel bar \"%1\"").arg(title));
}

// Check-box images: count boxes of 13 wide side by side.
// kinds: 0 none, 1 unchecked, 2 checked, 3 partly checked.
void CheckStrip(int id, const QList<int>& kinds, int cellW, int cellH, int boxY, const QString& what)
{
    Canvas c(cellW * kinds.size(), cellH);
    QPainter p(&c.img);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < kinds.size(); ++i) {
        const int kind = kinds[i];
        if (kind == 0) continue;
        const QRectF box(i * cellW + 0.5, boxY + 0.5, 12, 12);
        const bool on = kind != 1;
        p.setPen(QPen(on ? kAccent.darker(110) : QColor(0x8C, 0x9B, 0xA9), 1));
        p.setBrush(kind == 2 ? kAccent : Qt::white);
        p.drawRoundedRect(box, 2, 2);
        if (kind == 2) {
            p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawPolyline(QPolygonF({box.topLeft() + QPointF(2.8, 6.2), box.topLeft() + QPointF(5.2, 8.6),
                                      box.topLeft() + QPointF(9.4, 3.6)}));
        } else if (kind == 3) {
            p.setPen(Qt::NoPen);
            p.setBrush(kAccent);
            p.drawRoundedRect(QRectF(box.left() + 3, box.top() + 3, 6.5, 6.5), 1, 1);
        }
    }
    p.end();
    Save(id, c.Flatten(kBody), what);
}

void DropDown(int id, int w, int h, const QString& what)
{
    Canvas c(w * 4, h);
    QPainter p(&c.img);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 4; ++i) {
        // normal, hover, dropped, disabled
        const QRectF r(i * w + 0.5, 0.5, w - 1, h - 1);
        const bool dis = i == 3;
        const QColor border = i == 1 || i == 2 ? QColor(0x6F, 0x99, 0xC4) : QColor(0xB4, 0xC0, 0xCC);
        p.setPen(QPen(dis ? QColor(0xCB, 0xD1, 0xD6) : border, 1));
        p.setBrush(dis ? kDisabled : Qt::white);
        p.drawRoundedRect(r, 2.5, 2.5);
        const QRectF arrowBox(i * w + w - 18, 1, 17, h - 2);
        p.setPen(Qt::NoPen);
        p.setBrush(dis ? kDisabled : i == 2 ? kSecondaryPressed : i == 1 ? kSecondaryHover : kSecondary);
        p.drawRoundedRect(arrowBox.adjusted(0, 0, -0.5, 0), 2, 2);
        p.setPen(QPen(dis ? QColor(0xCB, 0xD1, 0xD6) : QColor(0xD5, 0xDD, 0xE5), 1));
        p.drawLine(QPointF(arrowBox.left() - 0.5, 3), QPointF(arrowBox.left() - 0.5, h - 3));
        const QPointF m = arrowBox.center();
        p.setPen(Qt::NoPen);
        p.setBrush(dis ? kDisabledText : QColor(0x4A, 0x5B, 0x6B));
        p.drawPolygon(QPolygonF({m + QPointF(-4, -2), m + QPointF(4, -2), m + QPointF(0, 2.5)}));
    }
    p.end();
    Save(id, c.Flatten(kBody), what);
}

void ProgressStrip(int id)
{
    // Six 5x16 pieces: filled left, middle, right; empty left, middle, right.
    Canvas filled(15, 16), empty(15, 16);
    auto track = [](QImage& img, const QColor& top, const QColor& bottom, const QColor& border) {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, 0, 16);
        g.setColorAt(0, top);
        g.setColorAt(1, bottom);
        p.setPen(QPen(border, 1));
        p.setBrush(g);
        p.drawRoundedRect(QRectF(0.5, 0.5, 14, 15), 4, 4);
    };
    track(filled.img, QColor(0x9C, 0xCB, 0xF3), QColor(0x6C, 0xAB, 0xE4), QColor(0x4E, 0x8F, 0xCC));
    track(empty.img, QColor(0xF2, 0xF4, 0xF6), QColor(0xFA, 0xFB, 0xFC), QColor(0xB4, 0xC0, 0xCC));
    QImage out(30, 16, QImage::Format_RGB888);
    QPainter p(&out);
    p.drawImage(0, 0, filled.Flatten(kBody));
    p.drawImage(15, 0, empty.Flatten(kBody));
    p.end();
    Save(id, out, "progress bar pieces: filled left/middle/right, empty left/middle/right, 5x16 each");
}

void Arrow(int id, bool up)
{
    Canvas c(24, 24);
    QPainter p(&c.img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xB4, 0xC0, 0xCC), 1));
    p.setBrush(kSecondary);
    p.drawRoundedRect(QRectF(0.5, 0.5, 23, 23), 3, 3);
    p.setPen(QPen(QColor(0x4A, 0x5B, 0x6B), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (up)
        p.drawPolyline(QPolygonF({QPointF(7, 14), QPointF(12, 9), QPointF(17, 14)}));
    else
        p.drawPolyline(QPolygonF({QPointF(7, 10), QPointF(12, 15), QPointF(17, 10)}));
    p.end();
    Save(id, c.Flatten(kBody), up ? "arrow up (detail area closed)" : "arrow down (detail area open)");
}

void Chevron(int id, bool left)
{
    const int w = 16, h = 20;
    Canvas c(w * 3, h);
    QPainter p(&c.img);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 3; ++i) {
        const QRectF r(i * w + 0.5, 0.5, w - 1, h - 1);
        p.setPen(QPen(i ? QColor(0x7F, 0xA4, 0xC8) : QColor(0xB4, 0xC0, 0xCC), 1));
        p.setBrush(i == 0 ? kSecondary : i == 1 ? kSecondaryHover : kSecondaryPressed);
        p.drawRoundedRect(r, 2.5, 2.5);
        p.setPen(QPen(QColor(0x4A, 0x5B, 0x6B), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const double cx = i * w + w / 2.0 + (i == 2 ? 0.5 : 0), cy = h / 2.0 + (i == 2 ? 0.5 : 0);
        if (left)
            p.drawPolyline(QPolygonF({QPointF(cx + 2, cy - 4), QPointF(cx - 2, cy), QPointF(cx + 2, cy + 4)}));
        else
            p.drawPolyline(QPolygonF({QPointF(cx - 2, cy - 4), QPointF(cx + 2, cy), QPointF(cx - 2, cy + 4)}));
    }
    p.end();
    Save(id, c.Flatten(kBody), left ? "previous period \"<\", 3 images of 16x20" : "next period \">\", 3 images of 16x20");
}

// Tabs of the settings window: a column of 141x42 entries on the tab column colour.
void SettingsTab(int normalId, int selectedId, const QString& label)
{
    for (bool sel : {false, true}) {
        Canvas c(141, 42);
        QPainter p(&c.img);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(QRect(0, 0, 141, 42), sel ? Qt::white : kTabColumn);
        p.fillRect(QRect(0, 41, 141, 1), QColor(0xDD, 0xE3, 0xE9));
        if (sel) {
            p.fillRect(QRect(0, 0, 4, 42), kAccent);
        } else {
            p.fillRect(QRect(140, 0, 1, 42), kLine);
        }
        p.setFont(UiFont(12, sel));
        p.setPen(sel ? kAccentPressed : kText);
        p.drawText(QRectF(18, 0, 120, 42), Qt::AlignLeft | Qt::AlignVCenter, label);
        p.end();
        Save(sel ? selectedId : normalId, c.Flatten(kBody),
             QStringLiteral("settings tab \"%1\" (%2)").arg(label).arg(sel ? "selected" : "normal"));
    }
}

// Page switch buttons of the main window, on the caption band: plain label,
// light square on hover, white with an accent line when selected.
void PageButton(int id, const QString& label, int kind /*0 normal 1 hover 2 selected*/)
{
    const int w = 96, h = 28;
    Canvas c(w, h);
    QPainter p(&c.img);
    p.setRenderHint(QPainter::Antialiasing);
    if (kind == 1) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xD3, 0xE1, 0xEE));
        p.drawRoundedRect(QRectF(0, 0, w, h), 3, 3);
    } else if (kind == 2) {
        p.setPen(QPen(QColor(0xC9, 0xD5, 0xE0), 1));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 3, 3);
        p.fillRect(QRectF(8, h - 3, w - 16, 2), kAccent);
    }
    DrawLabel(p, QRectF(0, 0, w, h - 1), label, kind == 2 ? kAccentPressed : kText, 12, true);
    p.end();
    Save(id, c.Flatten(kBandTop), QStringLiteral("page button \"%1\" (%2)").arg(label).arg(
                                      kind == 0 ? "normal" : kind == 1 ? "hover" : "selected"));
}

// Simple flat pictures above the big buttons.
void Picture(int id, int w, int h, int motif, const QString& what)
{
    Canvas c(w, h);
    QPainter p(&c.img);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF m(w / 2.0, h / 2.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xEA, 0xF2, 0xFA));
    p.drawEllipse(m, std::min(w, h) * 0.45, std::min(w, h) * 0.45);
    auto magnifier = [&](QPointF at, double r) {
        p.setPen(QPen(kAccentPressed, r * 0.28, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(QColor(255, 255, 255, 220));
        p.drawEllipse(at, r, r);
        p.drawLine(at + QPointF(r * 0.72, r * 0.72), at + QPointF(r * 1.6, r * 1.6));
    };
    if (motif == 0) {  // computer
        p.setPen(QPen(QColor(0x4A, 0x5B, 0x6B), 3));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(m.x() - 46, m.y() - 40, 92, 62), 5, 5);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xBF, 0xD9, 0xF2));
        p.drawRect(QRectF(m.x() - 38, m.y() - 32, 76, 46));
        p.setBrush(QColor(0x4A, 0x5B, 0x6B));
        p.drawRect(QRectF(m.x() - 6, m.y() + 22, 12, 12));
        p.drawRoundedRect(QRectF(m.x() - 26, m.y() + 33, 52, 6), 3, 3);
        magnifier(m + QPointF(22, 0), 16);
    } else if (motif == 1) {  // folders
        p.setPen(QPen(QColor(0xC9, 0x93, 0x2B), 2));
        p.setBrush(QColor(0xF6, 0xC8, 0x5F));
        QPainterPath f;
        f.moveTo(m + QPointF(-48, -28));
        f.lineTo(m + QPointF(-18, -28));
        f.lineTo(m + QPointF(-10, -20));
        f.lineTo(m + QPointF(44, -20));
        f.lineTo(m + QPointF(44, 34));
        f.lineTo(m + QPointF(-48, 34));
        f.closeSubpath();
        p.drawPath(f);
        p.setBrush(QColor(0xFA, 0xDA, 0x8A));
        p.drawRect(QRectF(m.x() - 48, m.y() - 12, 92, 46));
        magnifier(m + QPointF(18, 6), 16);
    } else if (motif == 2) {  // log sheet
        p.setPen(QPen(QColor(0x8C, 0x9B, 0xA9), 2));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(m.x() - 36, m.y() - 46, 72, 92), 4, 4);
        p.setPen(QPen(QColor(0xB4, 0xC0, 0xCC), 3, Qt::SolidLine, Qt::RoundCap));
        for (int i = 0; i < 5; ++i) {
            const double y = m.y() - 28 + i * 14;
            p.drawLine(QPointF(m.x() - 14, y), QPointF(m.x() + 24, y));
        }
        p.setPen(Qt::NoPen);
        p.setBrush(kAccent);
        for (int i = 0; i < 5; ++i) p.drawEllipse(QPointF(m.x() - 22, m.y() - 28 + i * 14), 3, 3);
    } else {  // no search yet
        p.setPen(QPen(QColor(0x8C, 0x9B, 0xA9), 2));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(m.x() - 40, m.y() - 70, 80, 100), 4, 4);
        p.setPen(QPen(QColor(0xD0, 0xD8, 0xE0), 3, Qt::SolidLine, Qt::RoundCap));
        for (int i = 0; i < 5; ++i) {
            const double y = m.y() - 50 + i * 15;
            p.drawLine(QPointF(m.x() - 26, y), QPointF(m.x() + 26, y));
        }
        magnifier(m + QPointF(22, 10), 22);
        p.setFont(UiFont(13, true));
        p.setPen(kTextSoft);
        p.drawText(QRectF(0, h - 60, w, 24), Qt::AlignCenter, QStringLiteral("아직 검색한 기록이 없습니다."));
        p.setFont(UiFont(12, false));
        p.drawText(QRectF(0, h - 38, w, 20), Qt::AlignCenter, QStringLiteral("문서 검색을 시작해 보세요."));
    }
    p.end();
    Save(id, c.Flatten(kBody), what);
}

QImage AppIcon(int size)
{
    Canvas c(size, size);
    QPainter p(&c.img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    QPainterPath shield;
    shield.moveTo(16, 2);
    shield.lineTo(28, 6);
    shield.cubicTo(28, 18, 23, 26, 16, 30);
    shield.cubicTo(9, 26, 4, 18, 4, 6);
    shield.closeSubpath();
    p.setPen(QPen(kAccentPressed, 1.5));
    p.setBrush(kAccent);
    p.drawPath(shield);
    p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(14.5, 14), 5, 5);
    p.drawLine(QPointF(18, 17.5), QPointF(22, 21.5));
    p.end();
    return c.img;
}

}  // namespace

int main(int argc, char** argv)
{
    const char usage[] = "usage: skin-gen OUTDIR\nDraws the skin bitmaps into OUTDIR.\n";
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
            std::fputs(usage, stdout);
            return 0;
        }
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fputs(usage, stderr);
        return 2;
    }
    g_outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_outDir);

    // Window backgrounds.
    Background(224, 320, 178, "message box background (300 left, stretch column at 300, 50 right)", 29,
               [](QPainter& p) {
                   // Notice mark left of the message.
                   p.setPen(Qt::NoPen);
                   p.setBrush(QColor(0xE4, 0xEE, 0xF8));
                   p.drawEllipse(QPointF(60, 84), 27, 27);
                   p.setBrush(kAccent);
                   p.drawEllipse(QPointF(60, 84), 20, 20);
                   p.setBrush(Qt::white);
                   p.drawEllipse(QPointF(60, 74.5), 2.8, 2.8);
                   p.drawRoundedRect(QRectF(57.6, 80, 4.8, 15), 2, 2);
               });
    Background(148, 752, 470, "main window background");
    Background(178, 478, 360, "settings window background (tab column on the left)", 29, [](QPainter& p) {
        p.fillRect(QRect(0, 29, 141, 331), kTabColumn);
        p.fillRect(QRect(141, 29, 1, 331), kLine);
    });
    Page(177, 335, 334, "settings page background", false);
    Background(200, 730, 480, "large window frame (event log, user search)");
    Background(252, 730, 480, "large window frame (exception list, about)");
    Background(204, 732, 450, "search window background");
    Background(217, 400, 158, "progress window background (delete, encrypt, except)");
    Background(221, 380, 340, "password confirmation background");
    Page(230, 730, 412, "main window search page background", false);
    Page(231, 730, 412, "main window log page background", false);
    Page(243, 352, 410, "user search panel (folders)", true);
    Page(242, 352, 410, "user search panel (kinds)", true);
    Background(284, 360, 250, "record export window background");
    Background(285, 337, 315, "document hits window background");
    Background(288, 360, 200, "record delete window background");
    Background(292, 440, 298, "error report window background");
    Header(251, 340, 46, QStringLiteral("예외 처리 목록"),
           QStringLiteral("예외 처리된 문서는 다음 검색부터 제외됩니다."));
    Header(255, 340, 46, QStringLiteral("로그 보기"), QStringLiteral("검색과 문서 처리 기록을 기간과 종류별로 봅니다."));
    PanelBar(253, 708, 26, QStringLiteral("상세 정보"));

    // Pictures.
    Picture(173, 182, 150, 0, "picture above the whole-computer search button");
    Picture(174, 182, 150, 1, "picture above the user search button");
    Picture(235, 182, 150, 2, "picture above the event-log button");
    Picture(264, 338, 285, 3, "picture shown when there is no search yet");

    // Caption buttons: LoadBitmaps order is (normal, pressed, hover).
    CaptionButton(149, 151, 150, Glyph::Menu, "menu");
    CaptionButton(152, 154, 153, Glyph::Minimise, "minimise");
    CaptionButton(155, 157, 156, Glyph::Close, "close");
    CaptionButton(236, 238, 237, Glyph::Maximise, "maximise");
    CaptionButton(239, 241, 240, Glyph::Restore, "restore");

    // Main window page buttons.
    PageButton(160, QStringLiteral("문서검색"), 0);
    PageButton(159, QStringLiteral("문서검색"), 1);
    PageButton(161, QStringLiteral("문서검색"), 2);
    PageButton(163, QStringLiteral("로그보기"), 0);
    PageButton(162, QStringLiteral("로그보기"), 1);
    PageButton(164, QStringLiteral("로그보기"), 2);
    PageButton(165, QStringLiteral("환경설정"), 0);
    PageButton(166, QStringLiteral("환경설정"), 1);

    // Big buttons of the main window pages.
    ButtonSet(167, 168, 169, QStringLiteral("전체 검색"), 252, 46, Primary);
    ButtonSet(170, 171, 172, QStringLiteral("사용자 검색"), 252, 46, Primary);
    ButtonSet(232, 233, 234, QStringLiteral("로그 보기"), 252, 46, Secondary);

    // Settings tabs.
    SettingsTab(179, 180, QStringLiteral("검색 폴더"));
    SettingsTab(181, 182, QStringLiteral("개인 정보 종류"));
    SettingsTab(183, 184, QStringLiteral("문서 종류"));
    SettingsTab(185, 186, QStringLiteral("암호관리"));
    SettingsTab(187, 188, QStringLiteral("예외처리관리"));
    SettingsTab(189, 190, QStringLiteral("로그관리"));

    // Button strips.
    ButtonStrip(191, QStringLiteral("전체 기본값으로"), 2, 100, 21, Secondary);
    ButtonStrip(192, QStringLiteral("기본값으로"), 2, 86, 21, Secondary);
    ButtonStrip(193, QStringLiteral("적용"), 3, 74, 21, Primary);
    ButtonStrip(194, QStringLiteral("취소"), 3, 74, 21, Secondary);
    ButtonStrip(195, QStringLiteral("확인"), 3, 74, 21, Primary);
    ButtonStrip(197, QStringLiteral("예외 목록 보기"), 2, 110, 21, Secondary);
    ButtonStrip(198, QStringLiteral("로그삭제"), 2, 74, 21, Secondary);
    ButtonStrip(199, QStringLiteral("로그저장"), 2, 74, 21, Secondary);
    ButtonStrip(202, QStringLiteral("검색"), 2, 94, 25, Primary);
    ButtonStrip(203, QStringLiteral("저장된 설정"), 2, 94, 25, Secondary);
    ButtonStrip(211, QStringLiteral("암호화"), 3, 80, 23, Secondary);
    ButtonStrip(212, QStringLiteral("삭제"), 3, 80, 23, Secondary);
    ButtonStrip(213, QStringLiteral("예외처리"), 3, 80, 23, Secondary);
    ButtonStrip(215, QStringLiteral("중지"), 2, 80, 23, Secondary);
    ButtonStrip(216, QStringLiteral("검색"), 3, 80, 23, Primary);
    ButtonStrip(218, QStringLiteral("닫기"), 3, 74, 21, Primary);
    ButtonStrip(219, QStringLiteral("중지"), 3, 74, 21, Secondary);
    ButtonStrip(222, QStringLiteral("확인"), 3, 74, 21, Primary);
    ButtonStrip(249, QStringLiteral("닫기"), 3, 94, 21, Secondary);
    ButtonStrip(250, QStringLiteral("처리해제"), 3, 94, 21, Primary);
    ButtonStrip(257, QStringLiteral("로그관리"), 2, 74, 21, Secondary);
    ButtonStrip(260, QStringLiteral("검색"), 2, 60, 21, Secondary);
    ButtonStrip(287, QStringLiteral("검색 종료"), 2, 60, 21, Primary);
    ButtonStrip(263, QStringLiteral("검색 시작"), 2, 150, 32, Primary);
    ButtonStrip(281, QStringLiteral("삭제"), 2, 74, 21, Primary);
    ButtonStrip(282, QStringLiteral("저장"), 2, 74, 21, Primary);
    ButtonStrip(283, QStringLiteral("..."), 2, 30, 21, Secondary);
    ButtonStrip(286, QStringLiteral("문서 열기"), 3, 85, 21, Primary);
    ButtonStrip(293, QStringLiteral("예외처리"), 3, 94, 21, Secondary);
    ButtonStrip(294, QStringLiteral("폴더 열기"), 3, 94, 21, Primary);
    Chevron(258, true);
    Chevron(259, false);
    Arrow(247, true);
    Arrow(248, false);

    // Small images.
    CheckStrip(196, {1, 2}, 13, 13, 0, "check box: unchecked, checked (13x13 each)");
    CheckStrip(269, {1, 2}, 13, 13, 0, "report check box: unchecked, checked (13x13 each)");
    CheckStrip(147, {0, 1, 2, 3}, 13, 16, 2, "tree state images: none, unchecked, checked, partly checked (13x16)");
    DropDown(265, 100, 21, "drop-down (period): normal, hover, dropped, disabled");
    DropDown(266, 100, 21, "drop-down (kind): normal, hover, dropped, disabled");
    ProgressStrip(267);

    // Icons (alpha PNGs, not keyed).
    SaveIcon(128, AppIcon(32), "program icon");
    {
        Canvas on(16, 16), off(16, 16);
        QPainter p1(&on.img);
        p1.setRenderHint(QPainter::Antialiasing);
        p1.setPen(QPen(kAccent.darker(110), 1));
        p1.setBrush(kAccent);
        p1.drawRoundedRect(QRectF(2.5, 2.5, 11, 11), 2, 2);
        p1.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p1.drawPolyline(QPolygonF({QPointF(5, 8), QPointF(7.2, 10.2), QPointF(11, 5.6)}));
        p1.end();
        QPainter p2(&off.img);
        p2.setRenderHint(QPainter::Antialiasing);
        p2.setPen(QPen(QColor(0x8C, 0x9B, 0xA9), 1));
        p2.setBrush(Qt::white);
        p2.drawRoundedRect(QRectF(2.5, 2.5, 11, 11), 2, 2);
        p2.end();
        SaveIcon(146, on.img, "header check box, checked (CHKBOX)");
        SaveIcon(268, off.img, "header check box, unchecked (UNCHKBOX)");
    }

    QFile list(g_outDir + "/skin.txt");
    if (list.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        QTextStream ts(&list);
        ts << "# Skin bitmaps drawn by scripts/skin/skingen.cpp (id, size, what).\n";
        ts << "# Magenta (255, 0, 255) is transparent in every bitmap.\n";
        for (const QString& line : g_manifest) ts << line << '\n';
    }
    std::printf("%lld images written to %s\n", static_cast<long long>(g_manifest.size()), qPrintable(g_outDir));
    return 0;
}
