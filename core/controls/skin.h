// Skin bitmaps and the drawing rules shared by every skinned window.
#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QRect>

class QPainter;

namespace ps::ui {

// The transparent colour of every skin bitmap.
inline constexpr QRgb kTransparentColour = qRgb(255, 0, 255);

// The skin bitmap with the given number, magenta keyed out (an alpha mask).
// A number without an image gives a null pixmap. Images are cached.
QPixmap SkinBitmap(int id);
// The bitmap exactly as drawn, magenta included (for tests and tools).
QImage SkinBitmapRaw(int id);
// An icon resource (program icon, header check boxes).
QPixmap SkinIcon(int id);

// Draws `src` of a keyed bitmap into `dst`, stretched, skipping transparent
// pixels (what the windows call a transparent copy).
void TransparentBlt(QPainter& p, const QRect& dst, const QPixmap& bmp, const QRect& src);
// Plain copy of `src` into `dst`, stretched.
void PlainBlt(QPainter& p, const QRect& dst, const QPixmap& bmp, const QRect& src);
// A band bitmap across `width` pixels from `at`: the bitmap as drawn, then
// its last column repeated to the width (a heading as wide as its window).
void DrawBandToWidth(QPainter& p, const QPoint& at, int width, const QPixmap& bmp);

// The program's font: face "돋움" with the Nanum fonts as fallback, at a
// pixel height.
QFont UiFont(int pixelHeight, bool bold);
// The four shared fonts.
inline QFont FontBold12() { return UiFont(12, true); }
inline QFont FontBold11() { return UiFont(11, true); }
inline QFont Font12() { return UiFont(12, false); }
inline QFont Font11() { return UiFont(11, false); }

// Windows-style colours from a COLORREF (0x00BBGGRR).
inline QColor FromColorRef(unsigned v) { return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF); }

}  // namespace ps::ui
