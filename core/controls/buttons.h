// Bitmap buttons, check box, drop-down list, tab button and splitter drawn
// from the skin.
#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QPixmap>
#include <QRect>
#include <QWidget>

namespace ps::ui {

// Push button drawn from one to four state images: a strip cut into equal
// images, or separate bitmaps.
class ImageButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Face { Normal, Hover, Pressed, Disabled };

    explicit ImageButton(QWidget* parent = nullptr);

    // Strip of code + 1 images (codes 0..3): see the table in the source.
    // False when the bitmap did not load.
    bool LoadBitmapStrip(int id, int code);
    // Separate images; 0 for none. False when the normal one did not load.
    bool LoadBitmaps(int normalId, int pressedId = 0, int hoverId = 0);

    // The face the button shows now, and the strip rectangle of a face.
    Face CurrentFace() const;
    QRect StripRect(Face f) const;
    bool HasStrip() const { return !strip_.isNull(); }
    bool IsHovering() const { return hover_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void Release();
    bool CanHover() const { return !strip_.isNull() || !hoverBmp_.isNull(); }

    QPixmap normalBmp_, pressedBmp_, hoverBmp_, disabledBmp_, strip_;
    QRect rcNormal_, rcHover_, rcPressed_, rcDisabled_;
    int imageW_ = 0, imageH_ = 0;
    bool hover_ = false;
    bool keyboardFocus_ = false;
};

// Check box drawn from the two-image check strip (bitmap 196) with its text
// on the right; it sizes itself to its text.
class CCheckButtonEx : public QAbstractButton {
    Q_OBJECT
public:
    explicit CCheckButtonEx(QWidget* parent = nullptr);
    explicit CCheckButtonEx(const QString& text, QWidget* parent = nullptr);

    void SetCheck(int check) { setChecked(check != 0); }
    int GetCheck() const { return isChecked() ? 1 : 0; }
    // COLORREF 0x00BBGGRR; 0 paints white.
    void SetBackgroundColour(unsigned colorRef);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;

private:
    void FitToText();
    QRect TextRect() const;

    unsigned background_ = 0;
    QPixmap checks_;
    bool keyboardFocus_ = false;
};

// Drop-down list whose face is a four-image strip: normal, hover, dropped,
// disabled.
class CDropDownButton : public QComboBox {
    Q_OBJECT
public:
    enum class Face { Normal, Hover, Dropped, Disabled };
    explicit CDropDownButton(QWidget* parent = nullptr);
    bool LoadBitmapStrip(int id);
    Face CurrentFace() const;
    bool IsHovering() const { return hover_; }
    bool IsDropped() const { return dropped_; }
    void showPopup() override;
    void hidePopup() override;

protected:
    void paintEvent(QPaintEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    QPixmap strip_;
    QRect rc_[4];
    bool hover_ = false;
    bool dropped_ = false;
};

// Flat tab header: white and bold when selected, grey-blue otherwise; a
// selected tab has no bottom edge so it opens onto its page.
class CTabButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CTabButton(QWidget* parent = nullptr);
    explicit CTabButton(const QString& text, QWidget* parent = nullptr);
    void SetSelected(bool selected)
    {
        selected_ = selected;
        update();
    }
    bool IsSelected() const { return selected_; }
    QSize sizeHint() const override { return {100, 26}; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    bool selected_ = false;
};

// Thin horizontal bar dragged vertically between limits set by its owner.
// Each accepted move emits Moved with the new rectangle (parent coordinates).
class CSplitBar : public QWidget {
    Q_OBJECT
public:
    explicit CSplitBar(QWidget* parent = nullptr);

    void SetMovable(bool movable);
    bool IsMovable() const { return movable_; }
    // Lowest allowed top and highest allowed bottom, in parent coordinates.
    void SetLimits(int minTop, int maxBottom)
    {
        minTop_ = minTop;
        maxBottom_ = maxBottom;
    }
    int MinTop() const { return minTop_; }
    int MaxBottom() const { return maxBottom_; }
    bool IsDragging() const { return dragging_; }

signals:
    void Moved(const QRect& rect);

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    bool movable_ = false;
    bool dragging_ = false;
    QPoint startCursor_;  // global
    QPoint startTopLeft_;  // parent coordinates
    int minTop_ = 0;
    int maxBottom_ = 0;
};

}  // namespace ps::ui
