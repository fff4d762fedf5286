#include "core/controls/edits.h"

#include <QClipboard>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>
#include <QValidator>

#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/controls/wnd.h"

namespace ps::ui {

bool ContainsHangul(const QString& text)
{
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x1100 && u <= 0x11FF) || (u >= 0x3130 && u <= 0x318F) || (u >= 0xA960 && u <= 0xA97F) ||
            (u >= 0xAC00 && u <= 0xD7AF) || (u >= 0xD7B0 && u <= 0xD7FF) || (u >= 0xFFA0 && u <= 0xFFDC))
            return true;
    }
    return false;
}

// --- CommentEdit -------------------------------------------------------------

CommentEdit::CommentEdit(QWidget* parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setFont(Font12());
    SetColours(0xFFFFFF, 0x000000);
}

void CommentEdit::SetColours(unsigned backgroundRef, unsigned textRef)
{
    QPalette pal = palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Base, FromColorRef(backgroundRef));
        pal.setColor(group, QPalette::Window, FromColorRef(backgroundRef));
        pal.setColor(group, QPalette::Text, FromColorRef(textRef));
    }
    setPalette(pal);
}

void CommentEdit::focusInEvent(QFocusEvent* e)
{
    // Before the first click the focus is held but not shown.
    if (!clicked_) return;
    QPlainTextEdit::focusInEvent(e);
}

void CommentEdit::mousePressEvent(QMouseEvent* e)
{
    if (!clicked_) {
        clicked_ = true;
        QTextCursor c = textCursor();
        c.setPosition(0);
        setTextCursor(c);
        ensureCursorVisible();
        QFocusEvent fe(QEvent::FocusIn, Qt::MouseFocusReason);
        QPlainTextEdit::focusInEvent(&fe);
    }
    QPlainTextEdit::mousePressEvent(e);
}

// --- CEditVC -------------------------------------------------------------------

CEditVC::CEditVC(QWidget* parent) : QLineEdit(parent)
{
    setFrame(false);
    setFont(Font12());
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setTextMargins(4, 0, 4, 0);
    QPalette pal = palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::Base, Qt::transparent);
    setPalette(pal);
    setAutoFillBackground(false);
}

QColor CEditVC::BandColour() const
{
    return (!isEnabled() || isReadOnly()) ? QColor(0xF0, 0xF0, 0xF0) : QColor(Qt::white);
}

void CEditVC::paintEvent(QPaintEvent* e)
{
    {
        QPainter p(this);
        p.fillRect(rect(), BandColour());
        p.setPen(hasFocus() ? QColor(0x6F, 0x99, 0xC4) : QColor(0xB4, 0xC0, 0xCC));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    QLineEdit::paintEvent(e);
}

// --- CPasswordInputEdit ----------------------------------------------------------

namespace {

// The last line of defence: no path (typing, paste, drop, undo) may put
// Hangul into the field.
class NoHangulValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        return ContainsHangul(input) ? Invalid : Acceptable;
    }
};

}  // namespace

CPasswordInputEdit::CPasswordInputEdit(QWidget* parent) : QLineEdit(parent)
{
    setEchoMode(QLineEdit::Password);
    setFont(Font12());
    // The input method stays out: letters arrive as plain Latin keys.
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText | Qt::ImhLatinOnly);
    setValidator(new NoHangulValidator(this));
    setAcceptDrops(false);
}

void CPasswordInputEdit::RefuseHangul()
{
    ++notices_;
    ShowMessageBox(UiText(u"PASSWORD_NOT_USE_HANGUL"), std::u16string(), 1, this);
    // Back to plain input.
    if (QGuiApplication::inputMethod()) QGuiApplication::inputMethod()->reset();
    setAttribute(Qt::WA_InputMethodEnabled, false);
}

void CPasswordInputEdit::keyPressEvent(QKeyEvent* e)
{
    if (e->matches(QKeySequence::Paste)) {
        const QClipboard* cb = QGuiApplication::clipboard();
        if (cb && ContainsHangul(cb->text())) {
            RefuseHangul();
            e->accept();
            return;
        }
    } else if (ContainsHangul(e->text())) {
        RefuseHangul();
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

void CPasswordInputEdit::inputMethodEvent(QInputMethodEvent* e)
{
    if (ContainsHangul(e->commitString()) || ContainsHangul(e->preeditString())) {
        RefuseHangul();
        e->accept();
        return;
    }
    QLineEdit::inputMethodEvent(e);
}

// --- CProgressBar -------------------------------------------------------------

CProgressBar::CProgressBar(QWidget* parent) : QProgressBar(parent)
{
    setFixedHeight(16);
    setTextVisible(true);
    setRange(0, 100);
    setValue(0);
}

bool CProgressBar::LoadBitmap(int id)
{
    strip_ = SkinBitmap(id);
    update();
    return !strip_.isNull();
}

void CProgressBar::SetMarquee(bool on, int intervalMs)
{
    if (marqueeTimer_) killTimer(marqueeTimer_);
    marqueeTimer_ = on ? startTimer(intervalMs > 0 ? intervalMs : 30) : 0;
    marqueePos_ = 0;
    update();
}

void CProgressBar::timerEvent(QTimerEvent* e)
{
    if (marqueeTimer_ && e->timerId() == marqueeTimer_) {
        StepMarquee();
        return;
    }
    QProgressBar::timerEvent(e);
}

void CProgressBar::StepMarquee()
{
    marqueePos_ = (marqueePos_ + 3) % std::max(1, width() + 60);
    update();
}

double CProgressBar::Fraction() const
{
    // The lower bound is not used; a position outside 0..upper bound is
    // held inside it so that the bar never draws past its ends.
    if (maximum() <= 0) return 0;
    const double f = static_cast<double>(value()) / maximum();
    return f < 0 ? 0 : f > 1 ? 1 : f;
}

int CProgressBar::FilledWidth() const
{
    return static_cast<int>(Fraction() * width());
}

QString CProgressBar::PercentText() const
{
    return QStringLiteral("%1 %").arg(static_cast<int>(Fraction() * 100));
}

void CProgressBar::paintEvent(QPaintEvent* e)
{
    if (strip_.isNull()) {
        QProgressBar::paintEvent(e);
        return;
    }
    lastFraction_ = Fraction();
    const int w = width(), h = height();
    QPixmap buffer(size());
    buffer.fill(Qt::transparent);
    {
        QPainter p(&buffer);
        const int sh = strip_.height();
        auto piece = [&](int n) { return QRect(n * 5, 0, 5, sh); };
        // The empty track.
        TransparentBlt(p, QRect(0, 0, 5, h), strip_, piece(3));
        PlainBlt(p, QRect(5, 0, w - 10, h), strip_, piece(4));
        TransparentBlt(p, QRect(w - 5, 0, 5, h), strip_, piece(5));
        if (marqueeTimer_) {
            const int x = marqueePos_ - 60;
            p.setClipRect(QRect(1, 0, w - 2, h));
            TransparentBlt(p, QRect(x, 0, 5, h), strip_, piece(0));
            PlainBlt(p, QRect(x + 5, 0, 50, h), strip_, piece(1));
            TransparentBlt(p, QRect(x + 55, 0, 5, h), strip_, piece(2));
        } else {
            const int f = FilledWidth();
            if (f > 14) {
                TransparentBlt(p, QRect(0, 0, 5, h), strip_, piece(0));
                PlainBlt(p, QRect(5, 0, f - 10, h), strip_, piece(1));
                TransparentBlt(p, QRect(f - 5, 0, 5, h), strip_, piece(2));
            } else if (f > 0) {
                PlainBlt(p, QRect(0, 0, f, h), strip_, piece(1));
            }
            p.setFont(UiFont(12, true));
            p.setPen(QColor(0x1E, 0x2A, 0x36));
            p.drawText(QRect(0, 0, w, h), Qt::AlignCenter | Qt::TextSingleLine, PercentText());
        }
    }
    QPainter out(this);
    out.drawPixmap(0, 0, buffer);
}

// --- HyperLinkTransparent --------------------------------------------------------

HyperLinkTransparent::HyperLinkTransparent(QWidget* parent) : QLabel(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setCursor(Qt::PointingHandCursor);
    QFont f = Font12();
    f.setUnderline(true);
    setFont(f);
}

void HyperLinkTransparent::SetUnderline(bool on)
{
    underline_ = on;
    QFont f = font();
    f.setUnderline(on);
    setFont(f);
    update();
}

void HyperLinkTransparent::SetLinkFont(const QString& face)
{
    QFont f = font();
    f.setFamilies({face.left(31), QStringLiteral("NanumGothic")});
    f.setPointSize(8);
    f.setWeight(QFont::Normal);
    f.setUnderline(underline_);
    setFont(f);
    update();
    repaint();
}

void HyperLinkTransparent::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QFont f = font();
    if (!isEnabled()) f.setUnderline(false);
    p.setFont(f);
    p.setPen(isEnabled() ? colour_ : QColor(0x99, 0x99, 0x99));
    const Qt::Alignment a = alignment();
    const QRect r = contentsRect();
    if (wordWrap()) {
        p.drawText(r, int(a & Qt::AlignHorizontal_Mask) | Qt::AlignTop | Qt::TextWordWrap, text());
    } else {
        const QString t = elide_ == Qt::ElideNone ? text() : fontMetrics().elidedText(text(), elide_, r.width());
        p.drawText(r, int(a & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter | Qt::TextSingleLine, t);
    }
}

void HyperLinkTransparent::SetUrl(const QUrl& url)
{
    url_ = url;
    // A link with nowhere to go is shown, and behaves, as plain disabled
    // text.
    const bool live = url_.isValid() && !url_.isEmpty();
    setEnabled(live);
    setCursor(live ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
}

void HyperLinkTransparent::mouseReleaseEvent(QMouseEvent* e)
{
    if (isEnabled() && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) {
        emit Clicked();
        if (url_.isValid() && !url_.isEmpty())
            OpenOnDesktopThen(url_.toString(), this, [this] { ShowMessageBox(kOpenLinkFailedText, u"", 1, window()); });
    }
    QLabel::mouseReleaseEvent(e);
}

QString ElidePath(const QString& path, const QFontMetrics& fm, int width)
{
    if (width <= 0) return QString();
    if (fm.horizontalAdvance(path) <= width) return path;
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash > 0) {
        const QString name = path.mid(slash);  // "/name"
        const int room = width - fm.horizontalAdvance(name);
        if (room >= fm.horizontalAdvance(QStringLiteral("/\u2026"))) {
            const QString folder = fm.elidedText(path.left(slash), Qt::ElideMiddle, room);
            if (!folder.isEmpty()) return folder + name;
        }
    }
    return fm.elidedText(path, Qt::ElideMiddle, width);
}

CPathLabel::CPathLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

void CPathLabel::SetPathLine(const QString& before, const QString& path, const QString& after)
{
    before_ = before;
    path_ = path;
    after_ = after;
    Changed();
}

void CPathLabel::SetPlainLine(const QString& text) { SetPathLine(text, QString()); }

void CPathLabel::Changed()
{
    setText(WholeText());  // what accessibility, sizeHint and tests read
    const QString whole = WholeText();
    setToolTip(ShownText() == whole ? QString() : whole);
    update();
}

QString CPathLabel::ShownText() const
{
    const QFontMetrics fm(font());
    const int width = contentsRect().width();
    // Text set with QLabel::setText is a plain line.
    if (text() != WholeText()) return fm.horizontalAdvance(text()) <= width ? text() : fm.elidedText(text(), Qt::ElideRight, width);
    const QString whole = WholeText();
    if (fm.horizontalAdvance(whole) <= width) return whole;
    if (path_.isEmpty()) return fm.elidedText(whole, Qt::ElideRight, width);
    // The path gets what the rest of the line leaves; the rest is whole.
    const int room = width - fm.horizontalAdvance(before_ + after_);
    return before_ + ElidePath(path_, fm, room) + after_;
}

void CPathLabel::resizeEvent(QResizeEvent* e)
{
    QLabel::resizeEvent(e);
    const QString whole = WholeText();
    setToolTip(ShownText() == whole ? QString() : whole);
}

void CPathLabel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(foregroundRole()));
    const Qt::Alignment a = alignment();
    p.drawText(contentsRect(), int(a & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter | Qt::TextSingleLine,
               ShownText());
}

}  // namespace ps::ui
