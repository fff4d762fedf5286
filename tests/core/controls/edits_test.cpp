// Edits, progress bar and link.
#include <QClipboard>
#include <QFile>
#include <QLibraryInfo>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QTest>
#include <gtest/gtest.h>

#include "core/controls/edits.h"
#include "core/controls/skin.h"
#include "core/controls/wnd.h"

using namespace ps::ui;

TEST(ProgressBarTest, FractionFillAndText)
{
    const struct { int pos, max, width; double fraction; int filled; const char* text; } cases[] = {
        {7, 1000, 200, 0.007, 1, "0 %"},
        {42, 100, 360, 0.42, 151, "42 %"},
        {15, 200, 200, 0.075, 15, "7 %"},
        {100, 100, 300, 1.0, 300, "100 %"},
        {0, 0, 200, 0.0, 0, "0 %"},        // no range: empty
    };
    for (const auto& c : cases) {
        CProgressBar bar;
        bar.LoadBitmap(267);
        bar.setRange(0, c.max);
        bar.setValue(c.pos);
        bar.resize(c.width, 16);
        EXPECT_EQ(bar.height(), 16);
        EXPECT_NEAR(bar.Fraction(), c.fraction, 1e-9) << c.pos << "/" << c.max;
        EXPECT_EQ(bar.FilledWidth(), c.filled) << c.pos << "/" << c.max;
        EXPECT_EQ(bar.PercentText(), QString::fromUtf8(c.text));
    }
}

TEST(ProgressBarTest, PaintedPiecesFollowTheFill)
{
    const QImage strip = SkinBitmapRaw(267);
    auto shot = [](int pos, int max, int width) {
        CProgressBar bar;
        bar.LoadBitmap(267);
        bar.setRange(0, max);
        bar.setValue(pos);
        bar.resize(width, 16);
        return bar.grab().toImage();
    };
    // The filled middle's colour at mid height, and the empty middle's.
    const QRgb filledMid = strip.pixel(7, 4) & 0xFFFFFF, emptyMid = strip.pixel(22, 8) & 0xFFFFFF;
    // 7 of 1000 on 200 pixels: one filled pixel, no ends.
    QImage a = shot(7, 1000, 200);
    EXPECT_EQ(a.pixel(0, 4) & 0xFFFFFF, filledMid);
    EXPECT_EQ(a.pixel(1, 4) & 0xFFFFFF, strip.pixel(16, 4) & 0xFFFFFF);  // empty left end shows
    // Exactly 15 pixels filled: both filled ends are drawn.
    QImage b = shot(15, 200, 200);
    EXPECT_EQ(b.pixel(12, 8) & 0xFFFFFF, strip.pixel(12, 8) & 0xFFFFFF);  // filled right end
    EXPECT_EQ(b.pixel(40, 3) & 0xFFFFFF, emptyMid == 0 ? 0 : strip.pixel(22, 3) & 0xFFFFFF);
    // No magenta on screen, whatever the fill.
    for (int pos : {0, 3, 15, 50, 100}) {
        const QImage s = shot(pos, 100, 200).convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < s.height(); ++y)
            for (int x = 0; x < s.width(); ++x) ASSERT_NE(s.pixel(x, y) & 0xFFFFFF, 0xFF00FFu) << pos;
    }
}

namespace {

struct NoticeCounter {
    int count = 0;
    std::u16string text, caption;
    int type = -1;
    NoticeCounter()
    {
        Seams().messageBox = [this](const std::u16string& t, const std::u16string& c, int ty, QWidget*) {
            ++count;
            text = t;
            caption = c;
            type = ty;
            return IDOK;
        };
    }
    ~NoticeCounter() { Seams().messageBox = nullptr; }
};

}  // namespace

TEST(PasswordEditTest, HangulIsRefusedHoweverItComes)
{
    NoticeCounter notices;
    CPasswordInputEdit e;
    e.show();
    QTest::keyClicks(&e, QStringLiteral("abc1"));
    EXPECT_EQ(e.text(), QStringLiteral("abc1"));
    EXPECT_EQ(notices.count, 0);

    // Typed Hangul: one notice per key, text unchanged.
    for (const QString& key : {QStringLiteral("한"), QStringLiteral("글")}) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, key);
        QApplication::sendEvent(&e, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, key);
        QApplication::sendEvent(&e, &release);
    }
    EXPECT_EQ(notices.count, 2);
    EXPECT_EQ(e.text(), QStringLiteral("abc1"));
    EXPECT_EQ(notices.text, u"한글로 암호를 설정하실 수 없습니다.");
    EXPECT_EQ(notices.caption, u"");
    EXPECT_EQ(notices.type, 1);

    // Composed through an input method.
    QInputMethodEvent compose(QStringLiteral("ㅎ"), {});
    QApplication::sendEvent(&e, &compose);
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("하"));
    QApplication::sendEvent(&e, &commit);
    EXPECT_EQ(e.text(), QStringLiteral("abc1"));
    EXPECT_EQ(notices.count, 4);

    // Pasted.
    QGuiApplication::clipboard()->setText(QStringLiteral("pass한글"));
    QTest::keyClick(&e, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(e.text(), QStringLiteral("abc1"));
    e.paste();  // the context menu's way
    EXPECT_EQ(e.text(), QStringLiteral("abc1"));
    QGuiApplication::clipboard()->setText(QStringLiteral("XY"));
    e.paste();
    EXPECT_EQ(e.text(), QStringLiteral("abc1XY"));
    EXPECT_EQ(e.echoMode(), QLineEdit::Password);
}

TEST(PasswordEditTest, HangulDetection)
{
    EXPECT_TRUE(ContainsHangul(QStringLiteral("가")));
    EXPECT_TRUE(ContainsHangul(QStringLiteral("abcㄱ")));
    EXPECT_TRUE(ContainsHangul(QString(QChar(0x1100))));
    EXPECT_FALSE(ContainsHangul(QStringLiteral("Pa$$w0rd!")));
    EXPECT_FALSE(ContainsHangul(QStringLiteral("漢字")));
}

TEST(EditVCTest, BandsAreGreyWhenDisabledOrReadOnly)
{
    const struct { bool enabled, readOnly; QColor band; } cases[] = {
        {true, false, Qt::white},
        {false, false, QColor(0xF0, 0xF0, 0xF0)},
        {true, true, QColor(0xF0, 0xF0, 0xF0)},
    };
    for (const auto& c : cases) {
        CEditVC e;
        e.resize(200, 30);
        e.setText(QStringLiteral("검색어"));
        e.setEnabled(c.enabled);
        e.setReadOnly(c.readOnly);
        const QImage shot = e.grab().toImage();
        EXPECT_EQ(QColor(shot.pixel(100, 2)), c.band);   // band above the text
        EXPECT_EQ(QColor(shot.pixel(100, 27)), c.band);  // band below it
    }
}

TEST(CommentEditTest, FocusShowsOnlyAfterTheFirstClick)
{
    QWidget host;
    auto* e = new CommentEdit(&host);
    e->setPlainText(QStringLiteral("주민등록번호 1건\n전화번호 2건"));
    host.show();
    EXPECT_TRUE(e->isReadOnly());
    EXPECT_FALSE(e->WasClicked());
    QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(e->WasClicked());
    EXPECT_EQ(e->textCursor().position(), 0);
}

TEST(HyperLinkTest, LinkFontAndClick)
{
    HyperLinkTransparent link;
    link.setText(QStringLiteral("홈페이지"));
    link.SetLinkFont(QString(40, QLatin1Char('F')));
    EXPECT_EQ(link.font().families().value(0), QString(31, QLatin1Char('F')));
    EXPECT_EQ(link.font().pointSize(), 8);
    EXPECT_TRUE(link.font().underline());
    EXPECT_EQ(link.font().weight(), QFont::Normal);
    link.SetUnderline(false);
    link.SetLinkFont(QStringLiteral("NanumGothic"));
    EXPECT_FALSE(link.font().underline());

    QList<QUrl> opened;
    Seams().openDesktop = [&](const QUrl& u) {
        opened << u;
        return true;
    };
    link.SetUrl(QUrl(QStringLiteral("https://example.org/")));
    link.resize(100, 20);
    link.show();
    QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(5, 5));
    Seams().openDesktop = nullptr;
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QUrl(QStringLiteral("https://example.org/")));
}

// A link with nowhere to go is disabled and opens nothing; a link whose
// opener fails says so once.
TEST(HyperLinkTest, ALinkWithoutAddressIsDisabledAndAFailedOpenIsSaid)
{
    QList<QUrl> opened;
    bool answer = false;
    Seams().openDesktop = [&](const QUrl& u) {
        opened << u;
        return answer;
    };
    std::vector<std::u16string> said;
    Seams().messageBox = [&](const std::u16string& text, const std::u16string&, int, QWidget*) {
        said.push_back(text);
        return 1;
    };
    HyperLinkTransparent link;
    link.setText(QStringLiteral("도움말"));
    link.resize(100, 20);
    link.show();
    link.SetUrl(QUrl());
    EXPECT_FALSE(link.isEnabled());
    QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(opened.isEmpty());

    link.SetUrl(QUrl(QStringLiteral("https://example.org/help")));
    EXPECT_TRUE(link.isEnabled());
    QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(5, 5));
    QTRY_COMPARE(said.size(), size_t{1});
    EXPECT_EQ(said[0], HyperLinkTransparent::kOpenLinkFailedText);
    EXPECT_EQ(opened.size(), 1);
    Seams().openDesktop = nullptr;
    Seams().messageBox = nullptr;
}

TEST(PathLabelTest, PathsAreCutInTheirMiddleWithTheNameAndTheFiguresWhole)
{
    const QFontMetrics fm(ps::ui::Font12());
    const QString name = QString::fromUtf16(u"개인정보 명단.hwp");
    const QString path = QStringLiteral("/home/tester/documents/2026/archive/deep/folder/") + name;
    struct Case { int width; bool cut; } cases[] = {{2000, false}, {260, true}, {160, true}};
    for (const Case& c : cases) {
        const QString shown = ps::ui::ElidePath(path, fm, c.width);
        EXPECT_LE(fm.horizontalAdvance(shown), c.width) << c.width;
        EXPECT_EQ(shown != path, c.cut) << c.width;
        EXPECT_TRUE(shown.endsWith(QStringLiteral("/") + name)) << shown.toStdString();
        if (c.cut) {
            EXPECT_TRUE(shown.startsWith(QStringLiteral("/ho"))) << shown.toStdString();
            EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
        }
    }
    // A name wider than the line is cut in its own middle.
    EXPECT_LE(fm.horizontalAdvance(ps::ui::ElidePath(path, fm, 60)), 60);

    // In a line with figures, only the path is cut; the whole line is the tooltip.
    ps::ui::CPathLabel label;
    label.setFont(ps::ui::Font12());
    label.resize(300, 16);
    label.show();
    label.SetPathLine(QString(), path, QStringLiteral(" (144000/432000)"));
    EXPECT_TRUE(label.ShownText().endsWith(name + QStringLiteral(" (144000/432000)"))) << label.ShownText().toStdString();
    EXPECT_LE(fm.horizontalAdvance(label.ShownText()), 300);
    EXPECT_EQ(label.toolTip(), path + QStringLiteral(" (144000/432000)"));
    label.resize(2000, 16);
    EXPECT_EQ(label.ShownText(), label.WholeText());
    EXPECT_TRUE(label.toolTip().isEmpty());
    label.hide();
    label.SetPlainLine(QStringLiteral("done"));
    EXPECT_EQ(label.ShownText(), QStringLiteral("done"));
}

TEST(QtTranslationsTest, StandardDialogsSpeakKorean)
{
    if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ko.qm")))
        GTEST_SKIP() << "qt6-translations-l10n is not installed";
    ASSERT_TRUE(ps::ui::InstallQtKoreanTranslations());
    EXPECT_TRUE(ps::ui::InstallQtKoreanTranslations());  // once is enough
    // The file dialog's labels and the standard buttons.
    EXPECT_NE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));
    EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "Save"), QStringLiteral("Save"));
    EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}
