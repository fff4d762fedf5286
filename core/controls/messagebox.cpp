#include "core/controls/messagebox.h"

#include <QFontMetrics>
#include <QPainter>

#include "core/controls/skin.h"

namespace ps::ui {

int ShowMessageBox(std::u16string text, std::u16string caption, int type, QWidget* parent)
{
    if (Seams().messageBox) return Seams().messageBox(text, caption, type, parent);
    CMessageBox box(parent);
    box.SetType(type);
    box.SetText(std::move(text));
    box.SetCaption(std::move(caption));
    return box.DoModal();
}

CMessageBox::CMessageBox(QWidget* parent) : CSkinDialog(parent)
{
    setObjectName(QStringLiteral("CMessageBox"));
    captionLabel_ = new QLabel(QStringLiteral("알림"), this);
    messageLabel_ = new QLabel(QStringLiteral("Msg..."), this);
    close_ = new ImageButton(this);
    ok_ = new ImageButton(this);
    cancel_ = new ImageButton(this);
    close_->setText(QStringLiteral("X"));
    ok_->setText(QStringLiteral("확인"));
    cancel_->setText(QStringLiteral("취소"));
    close_->setFocusPolicy(Qt::NoFocus);
    for (QLabel* l : {captionLabel_, messageLabel_}) {
        l->setAttribute(Qt::WA_TranslucentBackground);
        l->setAutoFillBackground(false);
        l->setTextFormat(Qt::PlainText);
    }
    messageLabel_->setAlignment(Qt::AlignCenter);
    resize(320, 178);
    SetCaptionBand(40);
    SetKeyPolicy({KeyAction::Ok, KeyAction::Cancel, KeyAction::Default});
    connect(ok_, &QAbstractButton::clicked, this, [this] { done(IDOK); });
    connect(cancel_, &QAbstractButton::clicked, this, [this] { done(IDCANCEL); });
    connect(close_, &QAbstractButton::clicked, this, [this] { done(IDCANCEL); });
}

bool CMessageBox::OnInitDialog()
{
    LoadSkin();
    SetTexts();
    ArrangeControls();
    raise();
    activateWindow();
    ok_->setFocus(Qt::OtherFocusReason);
    return true;
}

void CMessageBox::LoadSkin()
{
    background_ = SkinBitmap(IDB_BACKGROUND);
    ok_->LoadBitmapStrip(IDB_OK, 2);
    cancel_->LoadBitmapStrip(IDB_CANCEL, 2);
    close_->LoadBitmaps(IDB_CLOSE, IDB_CLOSE_PRESSED, IDB_CLOSE_HOVER);
}

void CMessageBox::SetTexts()
{
    captionLabel_->setFont(FontBold12());
    messageLabel_->setFont(FontBold12());
    messageLabel_->setText(ToQ(text_));
    captionLabel_->setText(caption_.empty() ? ToQ(UiText(u"MESSAGE_DEFAULT_CAPTION")) : ToQ(caption_));
    captionLabel_->adjustSize();
}

void CMessageBox::ArrangeControls()
{
    // The message is measured in the font it is drawn in. Lines break where
    // the text breaks them; a line wider than the limit wraps.
    const QFontMetrics fm(messageLabel_->font());
    const QString text = messageLabel_->text();
    QRect tr = fm.boundingRect(QRect(0, 0, 100000, 100000), Qt::AlignCenter, text);
    if (tr.width() > kMaxTextWidth) {
        messageLabel_->setWordWrap(true);
        tr = fm.boundingRect(QRect(0, 0, kMaxTextWidth, 100000), Qt::AlignCenter | Qt::TextWordWrap, text);
        tr.setWidth(std::min(tr.width(), kMaxTextWidth));
    }
    const int bw = background_.isNull() ? 320 : background_.width();
    const int bh = background_.isNull() ? 178 : background_.height();
    // Text starts at x = 110 and keeps a 30-pixel margin on the right; it
    // stays clear of the caption band and of the buttons below it.
    const int w = std::max(bw, 110 + tr.width() + 30);
    const int h = std::max(bh, tr.height() + 40 + 48);
    resize(w, h);
    setFixedSize(w, h);
    SetRoundRegion(w + 1, h + 1, 8, 8);
    CenterWindow();

    captionLabel_->move(12, 10);
    int ty = (h - tr.height()) / 2 - 5;
    ty = std::max(ty, 40);
    messageLabel_->setGeometry(110, ty, tr.width(), tr.height());
    close_->move(w - 25, 6);
    const int top = h - 33;
    if (type_ == 1) {
        cancel_->hide();
        ok_->move(w / 2 - 37, top);
    } else {
        cancel_->show();
        ok_->move(w / 2 - 80, top);
        cancel_->move(w / 2 + 6, top);
    }
}

void CMessageBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (background_.isNull()) return;
    const int w = width(), h = height();
    const int bw = background_.width(), bh = background_.height();
    // Rows: the bitmap's rows as they are, or, for a taller box, its top rows,
    // one stretched row and its bottom 60 rows.
    auto columns = [&](int dy, int dh, int sy, int sh) {
        TransparentBlt(p, QRect(0, dy, 300, dh), background_, QRect(0, sy, 300, sh));
        PlainBlt(p, QRect(300, dy, w - 350, dh), background_, QRect(300, sy, 1, sh));
        TransparentBlt(p, QRect(w - 50, dy, 50, dh), background_, QRect(bw - 50, sy, 50, sh));
    };
    if (h <= bh) {
        columns(0, bh, 0, bh);
    } else {
        const int top = bh - 60;
        columns(0, top, 0, top);
        columns(top, h - bh, top, 1);
        columns(h - 60, 60, bh - 60, 60);
    }
}

}  // namespace ps::ui
