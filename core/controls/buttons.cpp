#include "core/controls/buttons.h"

#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>

#include "core/controls/skin.h"
#include "core/controls/wnd.h"

namespace ps::ui {

namespace {

void DrawFocusFrame(QPainter& p, const QRect& r)
{
    QPen pen(QColor(0x3A, 0x7B, 0xBE), 1, Qt::DotLine);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(1, 1, -2, -2));
}

bool FromKeyboard(Qt::FocusReason r)
{
    return r == Qt::TabFocusReason || r == Qt::BacktabFocusReason || r == Qt::ShortcutFocusReason;
}

}  // namespace

// --- ImageButton -----------------------------------------------------------

ImageButton::ImageButton(QWidget* parent) : QAbstractButton(parent)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

void ImageButton::Release()
{
    normalBmp_ = pressedBmp_ = hoverBmp_ = disabledBmp_ = strip_ = QPixmap();
    rcNormal_ = rcHover_ = rcPressed_ = rcDisabled_ = QRect();
    imageW_ = imageH_ = 0;
}

bool ImageButton::LoadBitmapStrip(int id, int code)
{
    Release();
    strip_ = SkinBitmap(id);
    if (strip_.isNull()) return false;
    if (code < 0 || code > 3) return true;  // kept without rectangles
    const int count = code + 1;
    imageW_ = strip_.width() / count;
    imageH_ = strip_.height();
    if (imageW_ <= 0 || imageH_ <= 0) return true;
    auto image = [&](int n) { return QRect((n - 1) * imageW_, 0, imageW_, imageH_); };
    // Normal, hover, pressed, disabled per code.
    static const int kTable[4][4] = {{1, 1, 1, 1}, {1, 2, 1, 1}, {1, 2, 3, 1}, {1, 2, 3, 4}};
    rcNormal_ = image(kTable[code][0]);
    rcHover_ = image(kTable[code][1]);
    rcPressed_ = image(kTable[code][2]);
    rcDisabled_ = image(kTable[code][3]);
    resize(imageW_, imageH_);
    update();
    return true;
}

bool ImageButton::LoadBitmaps(int normalId, int pressedId, int hoverId)
{
    Release();
    normalBmp_ = SkinBitmap(normalId);
    if (pressedId) pressedBmp_ = SkinBitmap(pressedId);
    if (hoverId) hoverBmp_ = SkinBitmap(hoverId);
    if (normalBmp_.isNull()) return false;
    resize(normalBmp_.size());
    update();
    return true;
}

ImageButton::Face ImageButton::CurrentFace() const
{
    if (!isEnabled()) return Face::Disabled;
    if (isDown()) return Face::Pressed;
    if (hover_) return Face::Hover;
    return Face::Normal;
}

QRect ImageButton::StripRect(Face f) const
{
    switch (f) {
    case Face::Normal: return rcNormal_;
    case Face::Hover: return rcHover_;
    case Face::Pressed: return rcPressed_;
    case Face::Disabled: return rcDisabled_;
    }
    return {};
}

QSize ImageButton::sizeHint() const
{
    if (imageW_ > 0) return {imageW_, imageH_};
    if (!normalBmp_.isNull()) return normalBmp_.size();
    return {20, 20};
}

void ImageButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const Face f = CurrentFace();
    if (!strip_.isNull()) {
        TransparentBlt(p, rect(), strip_, StripRect(f));
    } else {
        const QPixmap* bmp = &normalBmp_;
        if (f == Face::Disabled && !disabledBmp_.isNull())
            bmp = &disabledBmp_;
        else if (f == Face::Pressed && !pressedBmp_.isNull())
            bmp = &pressedBmp_;
        else if (f == Face::Hover && !hoverBmp_.isNull())
            bmp = &hoverBmp_;
        if (!bmp->isNull()) p.drawPixmap(0, 0, *bmp);
    }
    if (hasFocus() && keyboardFocus_) DrawFocusFrame(p, rect());
}

void ImageButton::mouseMoveEvent(QMouseEvent* e)
{
    const bool inside = rect().contains(e->position().toPoint());
    const bool want = inside && CanHover();
    if (want != hover_) {
        hover_ = want;
        update();
    }
    QAbstractButton::mouseMoveEvent(e);
}

void ImageButton::enterEvent(QEnterEvent* e)
{
    if (CanHover() && !hover_) {
        hover_ = true;
        update();
    }
    QAbstractButton::enterEvent(e);
}

void ImageButton::leaveEvent(QEvent* e)
{
    if (hover_) {
        hover_ = false;
        update();
    }
    QAbstractButton::leaveEvent(e);
}

void ImageButton::focusInEvent(QFocusEvent* e)
{
    keyboardFocus_ = FromKeyboard(e->reason());
    QAbstractButton::focusInEvent(e);
}

void ImageButton::focusOutEvent(QFocusEvent* e)
{
    keyboardFocus_ = false;
    QAbstractButton::focusOutEvent(e);
}

void ImageButton::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::EnabledChange && !isEnabled()) hover_ = false;
    QAbstractButton::changeEvent(e);
}

// --- CCheckButtonEx --------------------------------------------------------

CCheckButtonEx::CCheckButtonEx(QWidget* parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setFont(Font12());
    checks_ = SkinBitmap(196);
    FitToText();
}

CCheckButtonEx::CCheckButtonEx(const QString& text, QWidget* parent) : CCheckButtonEx(parent)
{
    setText(text);
    FitToText();
}

void CCheckButtonEx::SetBackgroundColour(unsigned colorRef)
{
    background_ = colorRef;
    update();
}

QRect CCheckButtonEx::TextRect() const
{
    if (text().isEmpty()) return {};
    QFontMetrics fm(font());
    // Lines break where the text breaks them; a wide limit keeps single lines whole.
    return fm.boundingRect(QRect(17, 0, 2000, 2000), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text());
}

void CCheckButtonEx::FitToText()
{
    const QRect tr = TextRect();
    // Without text the control is the box with its margins.
    const QSize s = tr.isEmpty() ? QSize(17, 17) : QSize(tr.width() + 20, std::max(tr.height() + 6, 17));
    resize(s);
    updateGeometry();
}

QSize CCheckButtonEx::sizeHint() const
{
    const QRect tr = TextRect();
    return tr.isEmpty() ? QSize(17, 17) : QSize(tr.width() + 20, std::max(tr.height() + 6, 17));
}

void CCheckButtonEx::changeEvent(QEvent* e)
{
    QAbstractButton::changeEvent(e);
    if (e->type() == QEvent::FontChange) FitToText();
}

void CCheckButtonEx::focusInEvent(QFocusEvent* e)
{
    keyboardFocus_ = FromKeyboard(e->reason());
    QAbstractButton::focusInEvent(e);
}

void CCheckButtonEx::paintEvent(QPaintEvent*)
{
    // The size follows the text (also after setText, which sends no event);
    // a change shows at the next paint.
    if (size() != sizeHint()) {
        FitToText();
        update();
    }
    QPainter p(this);
    p.fillRect(rect(), background_ == 0 ? QColor(Qt::white) : FromColorRef(background_));
    if (!checks_.isNull()) {
        const QRect src(isChecked() ? 13 : 0, 0, 13, 13);
        TransparentBlt(p, QRect(0, 2, 13, 13), checks_, src);
    }
    if (!text().isEmpty()) {
        p.setPen(isEnabled() ? QColor(0x2B, 0x3A, 0x48) : QColor(0xA0, 0xA0, 0xA0));
        p.setFont(font());
        QFontMetrics fm(font());
        // The first line is centred on the box.
        const int top = 2 + (13 - fm.height()) / 2;
        p.drawText(QRect(17, top, width() - 17, height() - top), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                   text());
    }
    if (hasFocus() && keyboardFocus_) DrawFocusFrame(p, rect());
}

void CCheckButtonEx::mouseDoubleClickEvent(QMouseEvent* e)
{
    // A double click counts as one more click.
    mousePressEvent(e);
}

// --- CDropDownButton -------------------------------------------------------

CDropDownButton::CDropDownButton(QWidget* parent) : QComboBox(parent)
{
    setMouseTracking(true);
    setFont(Font12());
}

bool CDropDownButton::LoadBitmapStrip(int id)
{
    strip_ = QPixmap();
    for (QRect& r : rc_) r = QRect();
    strip_ = SkinBitmap(id);
    if (strip_.isNull()) return false;
    const int w = strip_.width() / 4, h = strip_.height();
    if (w <= 0 || h <= 0) return true;
    for (int i = 0; i < 4; ++i) rc_[i] = QRect(i * w, 0, w, h);
    resize(w, h);
    setFixedHeight(h);
    update();
    return true;
}

CDropDownButton::Face CDropDownButton::CurrentFace() const
{
    if (dropped_) return Face::Dropped;
    if (!isEnabled()) return Face::Disabled;
    if (hover_) return Face::Hover;
    return Face::Normal;
}

void CDropDownButton::showPopup()
{
    dropped_ = true;
    update();
    QComboBox::showPopup();
}

void CDropDownButton::hidePopup()
{
    QComboBox::hidePopup();
    dropped_ = false;
    update();
}

void CDropDownButton::paintEvent(QPaintEvent*)
{
    if (strip_.isNull()) return;
    QPainter p(this);
    const Face f = CurrentFace();
    TransparentBlt(p, rect(), strip_, rc_[static_cast<int>(f)]);
    // The text stays clear of the arrow box at the right of the face.
    const QRect tr = rect().adjusted(6, 0, -21, 0);
    p.setFont(Font12());
    p.setPen(isEnabled() ? QColor(0x2B, 0x3A, 0x48) : QColor(0xA0, 0xA0, 0xA0));
    const QString t = QFontMetrics(p.font()).elidedText(currentText(), Qt::ElideRight, tr.width());
    p.drawText(tr, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, t);
}

void CDropDownButton::enterEvent(QEnterEvent* e)
{
    hover_ = true;
    update();
    QComboBox::enterEvent(e);
}

void CDropDownButton::leaveEvent(QEvent* e)
{
    hover_ = false;
    update();
    QComboBox::leaveEvent(e);
}

// --- CTabButton --------------------------------------------------------------

CTabButton::CTabButton(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::TabFocus);
}

CTabButton::CTabButton(const QString& text, QWidget* parent) : CTabButton(parent)
{
    setText(text);
}

void CTabButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, selected_ ? FromColorRef(0xFFFFFF) : FromColorRef(0xF0F4F5));
    p.setFont(selected_ ? FontBold12() : Font12());
    p.setPen(isEnabled() ? QColor(0x2B, 0x3A, 0x48) : QColor(0xA0, 0xA0, 0xA0));
    p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, text());
    p.setPen(QPen(FromColorRef(0xC5C7C7), 1));
    const int x0 = r.left(), x1 = r.right(), y0 = r.top(), y1 = r.bottom();
    p.drawLine(x0, y0, x0, y1);                   // left
    if (!selected_) p.drawLine(x0, y1, x1, y1);   // bottom
    p.drawLine(x1, y0, x1, y1);                   // right
    p.drawLine(x0, y0, x1, y0);                   // top
}

// --- CSplitBar ---------------------------------------------------------------

CSplitBar::CSplitBar(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
}

void CSplitBar::SetMovable(bool movable)
{
    movable_ = movable;
    if (!movable_) dragging_ = false;
    setCursor(movable_ ? Qt::SizeVerCursor : Qt::ArrowCursor);
}

void CSplitBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), FromColorRef(0xC8C8C8));
}

void CSplitBar::mousePressEvent(QMouseEvent* e)
{
    if (!movable_ || e->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(e);
        return;
    }
    dragging_ = true;
    startCursor_ = e->globalPosition().toPoint();
    startTopLeft_ = pos();
    e->accept();
}

void CSplitBar::mouseMoveEvent(QMouseEvent* e)
{
    if (!movable_) {
        QWidget::mouseMoveEvent(e);
        return;
    }
    if (dragging_) {
        const int dy = e->globalPosition().toPoint().y() - startCursor_.y();
        QRect r(QPoint(startTopLeft_.x(), startTopLeft_.y() + dy), size());
        if (r.top() < minTop_ || r.bottom() + 1 > maxBottom_) return;  // refused: stays, no message
        move(r.topLeft());
        update();
        emit Moved(r);
    }
    setCursor(Qt::SizeVerCursor);
    e->accept();
}

void CSplitBar::mouseReleaseEvent(QMouseEvent* e)
{
    if (!movable_) {
        QWidget::mouseReleaseEvent(e);
        return;
    }
    dragging_ = false;
    if (parentWidget()) parentWidget()->update();
    setCursor(Qt::ArrowCursor);
    e->accept();
}

}  // namespace ps::ui
