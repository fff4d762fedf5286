// Edits, progress bar and transparent link shared by the windows.
#pragma once

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QUrl>

namespace ps::ui {

// True when the text holds a Hangul syllable or jamo.
bool ContainsHangul(const QString& text);

// Read-only comment edit in window colours that ignores the focus until it
// is first clicked (so a dialog opening does not put a caret into it).
class CommentEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CommentEdit(QWidget* parent = nullptr);
    // COLORREF values 0x00BBGGRR.
    void SetColours(unsigned backgroundRef, unsigned textRef);
    bool WasClicked() const { return clicked_; }

protected:
    void focusInEvent(QFocusEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    bool clicked_ = false;
};

// Single-line edit whose text sits centred in a taller box; the bands above
// and below the text are grey (0xF0F0F0) when disabled or read-only.
class CEditVC : public QLineEdit {
    Q_OBJECT
public:
    explicit CEditVC(QWidget* parent = nullptr);
    QColor BandColour() const;

protected:
    void paintEvent(QPaintEvent* e) override;
};

// Password edit that keeps input to Latin letters, digits and signs: typed,
// composed or pasted Hangul is refused with a notice and leaves the text
// unchanged.
class CPasswordInputEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CPasswordInputEdit(QWidget* parent = nullptr);
    // How many times the Hangul notice was shown (for the owner's tests).
    int NoticeCount() const { return notices_; }

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;

private:
    void RefuseHangul();
    int notices_ = 0;
};

// Progress bar drawn from the six-piece strip (bitmap 267) with a centred
// percentage; without a strip it paints as a plain progress bar.
class CProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit CProgressBar(QWidget* parent = nullptr);
    bool LoadBitmap(int id);
    // Marquee mode: a moving block and no text.
    void SetMarquee(bool on, int intervalMs = 30);
    bool IsMarquee() const { return marqueeTimer_ != 0; }
    // Moves the marquee block one step (its timer does this).
    void StepMarquee();

    // Fraction of the bar filled (position / upper bound, 0 without range)
    // and the filled width in pixels for the current width.
    double Fraction() const;
    int FilledWidth() const;
    QString PercentText() const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    QPixmap strip_;
    double lastFraction_ = 0;
    int marqueeTimer_ = 0;
    int marqueePos_ = 0;
};

// Hyperlink label drawn with no background of its own, in the link colour
// and font; a click opens its address on the desktop.
class HyperLinkTransparent : public QLabel {
    Q_OBJECT
public:
    explicit HyperLinkTransparent(QWidget* parent = nullptr);

    // What a click says when the desktop could not open the address.
    static constexpr char16_t kOpenLinkFailedText[] =
        u"링크를 열지 못했습니다. 주소를 여는 프로그램이 없거나 실행되지 않았습니다.";
    // The address a click opens; without one (empty or invalid) the link is
    // disabled: grey, not underlined, not clickable.
    void SetUrl(const QUrl& url);
    QUrl Url() const { return url_; }
    void SetLinkColour(const QColor& c)
    {
        colour_ = c;
        update();
    }
    QColor LinkColour() const { return colour_; }
    void SetUnderline(bool on);
    // Rebuilds the link font in the face (at most 31 characters), 8 points,
    // normal weight, underlined as the link is.
    void SetLinkFont(const QString& face);
    // How the text is cut when it does not fit on its line.
    void SetElideMode(Qt::TextElideMode m)
    {
        elide_ = m;
        update();
    }

signals:
    void Clicked();

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    QUrl url_;
    QColor colour_{0x1F, 0x5F, 0xB0};
    bool underline_ = true;
    Qt::TextElideMode elide_ = Qt::ElideNone;
};

// A path cut to `width` pixels with an ellipsis in the middle of its
// folders, so that the document's name stays whole ("/home/…/명단.hwp");
// only a name wider than the line is itself cut in the middle.
QString ElidePath(const QString& path, const QFontMetrics& fm, int width);

// A one-line label for a path, or for a line that holds one path among
// other text (counts, brackets): the path is cut as ElidePath cuts it and
// the rest of the line, figures included, is never cut. The whole line is
// its tooltip while it is cut.
class CPathLabel : public QLabel {
    Q_OBJECT
public:
    explicit CPathLabel(QWidget* parent = nullptr);
    // The line: `before`, the path, `after`.
    void SetPathLine(const QString& before, const QString& path, const QString& after = QString());
    void SetPath(const QString& path) { SetPathLine(QString(), path); }
    // A line with no path (cut at its end when it must be).
    void SetPlainLine(const QString& text);
    QString Path() const { return path_; }
    QString WholeText() const { return before_ + path_ + after_; }
    // The text drawn at the label's present width.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void Changed();
    QString before_, path_, after_;
};

}  // namespace ps::ui
