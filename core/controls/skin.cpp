#include <algorithm>
#include "core/controls/skin.h"

#include <QBitmap>
#include <QHash>
#include <QImage>
#include <QMutex>
#include <QPainter>

namespace ps::ui {

namespace {

// guards: the cache of loaded skin bitmaps. Taken alone.
QMutex g_cacheLock;
QHash<int, QPixmap>& Cache()
{
    static QHash<int, QPixmap> cache;
    return cache;
}

}  // namespace

QImage SkinBitmapRaw(int id)
{
    return QImage(QStringLiteral(":/skin/%1.png").arg(id));
}

QPixmap SkinBitmap(int id)
{
    QMutexLocker lock(&g_cacheLock);
    auto it = Cache().constFind(id);
    if (it != Cache().constEnd()) return *it;
    const QImage raw = SkinBitmapRaw(id);
    QPixmap pm;
    if (!raw.isNull()) {
        QImage keyed = raw.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < keyed.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
            for (int x = 0; x < keyed.width(); ++x)
                if ((line[x] & 0xFFFFFF) == (kTransparentColour & 0xFFFFFF)) line[x] = 0;
        }
        pm = QPixmap::fromImage(keyed);
    }
    Cache().insert(id, pm);
    return pm;
}

QPixmap SkinIcon(int id)
{
    return QPixmap(QStringLiteral(":/skin/icon-%1.png").arg(id));
}

void TransparentBlt(QPainter& p, const QRect& dst, const QPixmap& bmp, const QRect& src)
{
    if (bmp.isNull() || dst.isEmpty() || src.isEmpty()) return;
    p.drawPixmap(dst, bmp, src);
}

void PlainBlt(QPainter& p, const QRect& dst, const QPixmap& bmp, const QRect& src)
{
    if (bmp.isNull() || dst.isEmpty() || src.isEmpty()) return;
    // The source is opaque where the skin is drawn this way; composition mode
    // Source keeps it a copy.
    const auto mode = p.compositionMode();
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.drawPixmap(dst, bmp, src);
    p.setCompositionMode(mode);
}

void DrawBandToWidth(QPainter& p, const QPoint& at, int width, const QPixmap& bmp)
{
    if (bmp.isNull() || width <= 0) return;
    const int bw = std::min(bmp.width(), width), bh = bmp.height();
    TransparentBlt(p, QRect(at, QSize(bw, bh)), bmp, QRect(0, 0, bw, bh));
    if (width > bw)
        TransparentBlt(p, QRect(at.x() + bw, at.y(), width - bw, bh), bmp, QRect(bmp.width() - 1, 0, 1, bh));
}

QFont UiFont(int pixelHeight, bool bold)
{
    QFont f;
    f.setFamilies({QStringLiteral("돋움"), QStringLiteral("NanumGothic"), QStringLiteral("NanumBarunGothic"),
                   QStringLiteral("NanumSquare")});
    f.setPixelSize(pixelHeight);
    f.setBold(bold);
    return f;
}

}  // namespace ps::ui
