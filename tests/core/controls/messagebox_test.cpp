// The skinned message box: answers, layout and the text's room.
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "core/controls/messagebox.h"
#include "core/controls/skin.h"

using namespace ps::ui;

namespace {

struct Box {
    CMessageBox box;
    Box(int type, const char16_t* text, const char16_t* caption = u"")
    {
        box.SetType(type);
        box.SetText(text);
        box.SetCaption(caption);
        box.EnsureInitialized();
        box.show();
    }
};

// Runs the box modally and acts on it once it is up.
int RunModal(int type, const std::function<void(CMessageBox&)>& act)
{
    CMessageBox box;
    box.SetType(type);
    box.SetText(u"프로그램을 종료하시겠습니까?");
    QTimer::singleShot(0, &box, [&] { act(box); });
    QTimer::singleShot(3000, &box, [&] { box.done(99); });  // never hang
    return box.DoModal();
}

}  // namespace

TEST(MessageBoxTest, AnswersForKeysAndButtons)
{
    const struct { const char* what; int type; std::function<void(CMessageBox&)> act; int expected; } cases[] = {
        {"enter", 0, [](CMessageBox& b) { QTest::keyClick(&b, Qt::Key_Return); }, IDOK},
        {"keypad enter", 1, [](CMessageBox& b) { QTest::keyClick(&b, Qt::Key_Enter); }, IDOK},
        {"escape", 0, [](CMessageBox& b) { QTest::keyClick(&b, Qt::Key_Escape); }, IDCANCEL},
        {"escape with one button", 1, [](CMessageBox& b) { QTest::keyClick(&b, Qt::Key_Escape); }, IDCANCEL},
        {"enter on the cancel button", 0,
         [](CMessageBox& b) { QTest::keyClick(b.CancelButton(), Qt::Key_Return); }, IDOK},
        {"ok", 0, [](CMessageBox& b) { QTest::mouseClick(b.OkButton(), Qt::LeftButton); }, IDOK},
        {"cancel", 0, [](CMessageBox& b) { QTest::mouseClick(b.CancelButton(), Qt::LeftButton); }, IDCANCEL},
        {"close", 0, [](CMessageBox& b) { QTest::mouseClick(b.CloseButton(), Qt::LeftButton); }, IDCANCEL},
        {"closed by other means", 0, [](CMessageBox& b) { b.close(); }, IDCANCEL},
    };
    for (const auto& c : cases) EXPECT_EQ(RunModal(c.type, c.act), c.expected) << c.what;
}

TEST(MessageBoxTest, CaptionDefaultsToTheNoticeText)
{
    Box empty(1, u"확인해 주십시오.");
    EXPECT_EQ(empty.box.CaptionLabel()->text(), QStringLiteral("알림"));
    Box one(1, u"확인해 주십시오.", u"X");
    EXPECT_EQ(one.box.CaptionLabel()->text(), QStringLiteral("X"));
}

TEST(MessageBoxTest, ButtonLayoutPerType)
{
    Box two(0, u"짧은 글");
    EXPECT_EQ(two.box.size(), QSize(320, 178));
    EXPECT_TRUE(two.box.CancelButton()->isVisible());
    EXPECT_EQ(two.box.OkButton()->pos(), QPoint(160 - 80, 178 - 33));
    EXPECT_EQ(two.box.CancelButton()->pos(), QPoint(160 + 6, 178 - 33));
    EXPECT_EQ(two.box.CloseButton()->pos(), QPoint(320 - 25, 6));

    Box one(1, u"짧은 글");
    EXPECT_FALSE(one.box.CancelButton()->isVisible());
    EXPECT_EQ(one.box.OkButton()->pos(), QPoint(160 - 37, 178 - 33));
}

TEST(MessageBoxTest, TextIsMeasuredInItsFontAndNeverClipped)
{
    const char16_t* texts[] = {
        u"짧은 글",
        u"선택한 문서 12개를 삭제합니다. 삭제한 문서는 되살릴 수 없습니다.",
        u"첫째 줄\n둘째 줄\n셋째 줄",
        u"다음 문서를 열 수 없습니다: /home/사용자/문서/2024년 상반기 고객 명단 및 연락처 정리본(최종).hwp",
        u"아주 긴 글 아주 긴 글 아주 긴 글 아주 긴 글 아주 긴 글 아주 긴 글 아주 긴 글 아주 긴 글 아주 긴 글 "
        u"아주 긴 글 아주 긴 글 아주 긴 글 아주 긴 글 아주 긴 글 아주 긴 글 아주 긴 글 아주 긴 글",
    };
    for (const char16_t* t : texts) {
        Box b(0, t);
        QLabel* msg = b.box.MessageLabel();
        const QFontMetrics fm(msg->font());
        EXPECT_EQ(msg->font().pixelSize(), 12);
        EXPECT_TRUE(msg->font().bold());
        // Every line fits the label, and the label fits the box with a margin.
        const QRect need = fm.boundingRect(QRect(0, 0, msg->width(), 100000),
                                           Qt::AlignCenter | (msg->wordWrap() ? Qt::TextWordWrap : 0), msg->text());
        EXPECT_LE(need.width(), msg->width()) << QString::fromStdU16String(t).toStdString();
        EXPECT_LE(need.height(), msg->height());
        EXPECT_LE(msg->geometry().right() + 20, b.box.width());
        EXPECT_GE(msg->y(), 40);  // below the caption band
        EXPECT_LE(msg->geometry().bottom(), b.box.OkButton()->y());
        // The buttons stay centred on the box's width.
        EXPECT_EQ(b.box.OkButton()->x(), b.box.width() / 2 - 80);
    }
}

TEST(MessageBoxTest, WideTextWidensTheBoxAndLinesKeepTheHeight)
{
    Box wide(0, u"선택한 문서 12개를 삭제합니다. 삭제한 문서는 되살릴 수 없습니다.");
    EXPECT_GT(wide.box.width(), 320);
    EXPECT_EQ(wide.box.height(), 178);

    Box lines(1, u"첫째 줄\n둘째 줄\n셋째 줄");
    EXPECT_EQ(lines.box.height(), 178);
    const QLabel* msg = lines.box.MessageLabel();
    // Centred vertically, 5 pixels above the middle.
    EXPECT_EQ(msg->y(), (178 - msg->height()) / 2 - 5);
    EXPECT_EQ(msg->x(), 110);
}

TEST(MessageBoxTest, PaintedBoxShowsNoMagenta)
{
    for (int type : {0, 1}) {
        Box b(type, u"선택한 문서 12개를 삭제합니다. 삭제한 문서는 되살릴 수 없습니다.\n계속하시겠습니까?");
        const QImage shot = b.box.grab().toImage().convertToFormat(QImage::Format_RGB32);
        int magenta = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if ((shot.pixel(x, y) & 0xFFFFFF) == 0xFF00FF) ++magenta;
        EXPECT_EQ(magenta, 0);
    }
}

TEST(MessageBoxTest, ShowMessageBoxGoesThroughTheSeam)
{
    std::u16string seenText, seenCaption;
    int seenType = -1;
    Seams().messageBox = [&](const std::u16string& t, const std::u16string& c, int type, QWidget*) {
        seenText = t;
        seenCaption = c;
        seenType = type;
        return IDCANCEL;
    };
    EXPECT_EQ(ShowMessageBox(u"본문", u"", 0, nullptr), IDCANCEL);
    Seams().messageBox = nullptr;
    EXPECT_EQ(seenText, u"본문");
    EXPECT_EQ(seenCaption, u"");
    EXPECT_EQ(seenType, 0);
}
