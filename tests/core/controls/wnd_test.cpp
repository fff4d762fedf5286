// The window layer: messages, timers, key policies, shape, dragging, seams.
#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>
#include <memory>
#include <cstdlib>
#include <cstdio>
#include <sys/stat.h>

#include "core/controls/wnd.h"

using namespace ps::ui;

namespace {

class Probe : public CSkinDialog {
public:
    using CSkinDialog::CSkinDialog;
    QList<std::tuple<int, quintptr, qintptr>> messages;
    QList<int> timerHits;
    int inits = 0, oks = 0, cancels = 0;
    bool endWhileInitialising = false;
    QLineEdit* edit = new QLineEdit(this);
    QPushButton* button = new QPushButton(QStringLiteral("단추"), this);

    qintptr OnUserMessage(int n, quintptr w, qintptr l) override
    {
        messages << std::make_tuple(n, w, l);
        return n * 10;
    }

protected:
    bool OnInitDialog() override
    {
        ++inits;
        if (endWhileInitialising) EndDialog(IDOK);
        return true;
    }
    void OnTimer(int id) override { timerHits << id; }
    void OnOK() override
    {
        ++oks;
        CSkinDialog::OnOK();
    }
    void OnCancel() override
    {
        ++cancels;
        CSkinDialog::OnCancel();
    }
};

}  // namespace

TEST(WindowLayerTest, PostedMessagesKeepTheirNumbersAndArrive)
{
    Probe p;
    EXPECT_EQ(UserMessageType(712), QEvent::Type(QEvent::User + 712));
    ASSERT_TRUE(PostUserMessage(&p, 700, 0, 1));
    ASSERT_TRUE(PostUserMessage(&p, 5, 42, -7));
    EXPECT_TRUE(p.messages.isEmpty());  // posted, not yet delivered
    QCoreApplication::processEvents();
    ASSERT_EQ(p.messages.size(), 2);
    EXPECT_EQ(p.messages[0], std::make_tuple(700, quintptr(0), qintptr(1)));
    EXPECT_EQ(p.messages[1], std::make_tuple(5, quintptr(42), qintptr(-7)));
    // No target: nowhere to deliver.
    EXPECT_FALSE(PostUserMessage(nullptr, 700));
}

TEST(WindowLayerTest, SentMessagesAreCallsAlsoFromWorkers)
{
    Probe p;
    EXPECT_EQ(SendUserMessage(&p, 3, 1, 2), 30);
    ASSERT_EQ(p.messages.size(), 1);

    // From another thread the call blocks until the window's thread ran it.
    qintptr answer = 0;
    Qt::HANDLE handledOn = nullptr;
    MessageSink sink([&](int n, quintptr, qintptr) {
        handledOn = QThread::currentThreadId();
        return qintptr(n + 1);
    });
    std::thread worker([&] { answer = SendUserMessage(&sink, 41); });
    QElapsedTimer t;
    t.start();
    while (answer == 0 && t.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(handledOn, QThread::currentThreadId());

    QObject plain;
    EXPECT_EQ(SendUserMessage(&plain, 1), 0);
}

TEST(WindowLayerTest, NumberedTimersFireRestartAndStop)
{
    Probe p;
    ASSERT_TRUE(p.SetTimer(554, 10));
    ASSERT_TRUE(p.SetTimer(1500, 10));
    EXPECT_TRUE(p.HasTimer(554));
    QElapsedTimer t;
    t.start();
    while ((!p.timerHits.contains(554) || !p.timerHits.contains(1500)) && t.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_TRUE(p.timerHits.contains(554));
    EXPECT_TRUE(p.timerHits.contains(1500));
    p.KillTimer(554);
    p.KillTimer(1500);
    EXPECT_FALSE(p.HasTimer(554));
    p.timerHits.clear();
    QTest::qWait(40);
    EXPECT_TRUE(p.timerHits.isEmpty());
    // Setting a running number again leaves one timer under it.
    p.SetTimer(7, 1000);
    p.SetTimer(7, 1000);
    p.KillTimer(7);
    EXPECT_FALSE(p.HasTimer(7));
}

TEST(WindowLayerTest, KeyPoliciesSwallowOrMapKeysAnywhereInside)
{
    Probe p;
    p.show();
    // Swallowed: neither the edit nor the dialog sees Enter, Escape or Space.
    p.SetKeyPolicy({KeyAction::Swallow, KeyAction::Swallow, KeyAction::Swallow});
    QTest::keyClick(p.edit, Qt::Key_Return);
    QTest::keyClick(p.edit, Qt::Key_Escape);
    QTest::keyClick(p.edit, Qt::Key_Space);
    QTest::keyClick(p.edit, Qt::Key_A);
    EXPECT_EQ(p.edit->text(), QStringLiteral("a"));
    EXPECT_TRUE(p.isVisible());
    EXPECT_EQ(p.oks + p.cancels, 0);
    QSignalSpy pressed(p.button, &QPushButton::clicked);
    QTest::keyClick(p.button, Qt::Key_Space);
    EXPECT_EQ(pressed.count(), 0);

    // Mapped: Enter is OK, Escape is Cancel, from any control.
    p.SetKeyPolicy({KeyAction::Ok, KeyAction::Cancel, KeyAction::Default});
    QTest::keyClick(p.edit, Qt::Key_Enter);
    EXPECT_EQ(p.oks, 1);
    EXPECT_EQ(p.result(), IDOK);
    p.show();
    QTest::keyClick(p.button, Qt::Key_Escape);
    EXPECT_EQ(p.cancels, 1);
    EXPECT_EQ(p.result(), IDCANCEL);

    // Default: the focused control handles Space as usual.
    p.show();
    QTest::keyClick(p.button, Qt::Key_Space);
    EXPECT_EQ(pressed.count(), 1);
}

TEST(WindowLayerTest, EnterByDefaultPressesTheFocusedButtonOrRunsOk)
{
    Probe p;
    p.show();
    QSignalSpy pressed(p.button, &QPushButton::clicked);
    p.button->setFocus();
    QTest::keyClick(p.button, Qt::Key_Return);
    EXPECT_EQ(pressed.count(), 1);
    EXPECT_EQ(p.oks, 0);
    EXPECT_TRUE(p.isVisible());
    // From an edit the key reaches the window: OK.
    p.edit->setFocus();
    QTest::keyClick(p.edit, Qt::Key_Return);
    EXPECT_EQ(p.oks, 1);
    EXPECT_EQ(p.result(), IDOK);
    // Escape by default cancels.
    p.show();
    QTest::keyClick(p.edit, Qt::Key_Escape);
    EXPECT_EQ(p.cancels, 1);
}

TEST(WindowLayerTest, ModalRunAndEndingDuringInitialisation)
{
    Probe quick;
    quick.endWhileInitialising = true;
    EXPECT_EQ(quick.DoModal(), IDOK);  // never shown
    EXPECT_EQ(quick.inits, 1);

    Probe p;
    QTimer::singleShot(0, &p, [&] { p.EndDialog(77); });
    EXPECT_EQ(p.DoModal(), 77);
    EXPECT_EQ(p.inits, 1);
    QTimer::singleShot(0, &p, [&] { p.EndDialog(IDCANCEL); });
    p.DoModal();
    EXPECT_EQ(p.inits, 1);  // initialised once
}

TEST(WindowLayerTest, RoundRegionAndHitTest)
{
    Probe p;
    p.resize(200, 100);
    p.SetRoundRegion(200, 100, 8, 8);
    const QRegion m = p.mask();
    EXPECT_FALSE(m.contains(QPoint(0, 0)));
    EXPECT_TRUE(m.contains(QPoint(100, 50)));
    EXPECT_TRUE(m.contains(QPoint(4, 0)));

    p.SetCaptionBand(40);
    EXPECT_EQ(p.HitTest({50, 39}), CSkinDialog::Hit::Caption);
    EXPECT_EQ(p.HitTest({50, 40}), CSkinDialog::Hit::Client);
    p.SetResizeBorder(10);
    EXPECT_EQ(p.HitTest({2, 50}), CSkinDialog::Hit::Left);
    EXPECT_EQ(p.HitTest({195, 95}), CSkinDialog::Hit::BottomRight);
    EXPECT_EQ(p.HitTest({50, 5}), CSkinDialog::Hit::Top);
    EXPECT_EQ(p.HitTest({50, 20}), CSkinDialog::Hit::Caption);
}

TEST(WindowLayerTest, CaptionBandDragsAndBordersSize)
{
    Probe p;
    p.setGeometry(100, 100, 300, 200);
    p.SetCaptionBand(30);
    p.SetResizeBorder(8);
    p.show();
    auto drag = [&](QPoint from, QPoint by) {
        const QPoint g = p.mapToGlobal(from);
        QMouseEvent press(QEvent::MouseButtonPress, from, g, Qt::LeftButton, Qt::LeftButton, {});
        QApplication::sendEvent(&p, &press);
        QMouseEvent move(QEvent::MouseMove, from + by, g + by, Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(&p, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, from + by, g + by, Qt::LeftButton, Qt::NoButton, {});
        QApplication::sendEvent(&p, &release);
    };
    const QRect before = p.geometry();
    drag({150, 15}, {40, 25});
    // Offscreen the platform cannot move windows: the layer does.
    EXPECT_EQ(p.geometry(), before.translated(40, 25));
    const QRect moved = p.geometry();
    drag({297, 100}, {50, 0});
    EXPECT_EQ(p.geometry().width(), 350);
    EXPECT_EQ(p.geometry().topLeft(), moved.topLeft());
    // Clicks in the client area do not move the window.
    const QRect now = p.geometry();
    drag({150, 100}, {30, 30});
    EXPECT_EQ(p.geometry(), now);

    // A tap on the caption (press and release in the same instant) moves
    // nothing, and the pointer moving afterwards takes no window along.
    const QPoint at(150, 15), g = p.mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, g, Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(&p, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, g, Qt::LeftButton, Qt::NoButton, {});
    QApplication::sendEvent(&p, &release);
    for (int step = 1; step <= 5; ++step) {
        const QPoint by(step * 20, step * 10);
        QMouseEvent hover(QEvent::MouseMove, at + by, g + by, Qt::NoButton, Qt::NoButton, {});
        QApplication::sendEvent(&p, &hover);
    }
    EXPECT_EQ(p.geometry(), now);
    // A press that barely moves before its release is a click, not a move.
    drag({150, 15}, {1, 0});
    EXPECT_EQ(p.geometry(), now);
}

TEST(WindowLayerTest, APressTellsTheWindowItsTruePlace)
{
    // A window manager placed the window elsewhere than the window thinks
    // (the press's screen point says where it really is): the window takes
    // that place, so that a popup opens at its control and a later resize
    // keeps the window where it is.
    Probe p;
    p.setGeometry(100, 100, 300, 200);
    auto* child = new QPushButton(&p);
    child->setGeometry(150, 120, 80, 20);
    p.show();
    struct Case { QPoint truePlaceOffset; } cases[] = {{{522, 167}}, {{0, 0}}, {{-40, 12}}};
    for (const Case& c : cases) {
        const QRect before = p.geometry();
        const QPoint local(5, 5);
        const QPoint screen = child->mapToGlobal(local) + c.truePlaceOffset;
        QMouseEvent press(QEvent::MouseButtonPress, local, screen, Qt::LeftButton, Qt::LeftButton, {});
        QApplication::sendEvent(child, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, local, screen, Qt::LeftButton, Qt::NoButton, {});
        QApplication::sendEvent(child, &release);
        EXPECT_EQ(p.geometry(), before.translated(c.truePlaceOffset));
        EXPECT_EQ(child->mapToGlobal(local), screen);
        p.resize(300, 240);  // a resize keeps the true place
        EXPECT_EQ(p.pos(), before.topLeft() + c.truePlaceOffset);
        p.resize(300, 200);
    }
}

TEST(WindowLayerTest, SeamsReplaceTheOutsideWorld)
{
    const QDateTime fixed(QDate(2024, 5, 6), QTime(7, 8, 9));
    Seams().clock = [&] { return fixed; };
    EXPECT_EQ(Now(), fixed);
    Seams().clock = nullptr;
    EXPECT_NE(Now(), fixed);

    QList<QUrl> opened;
    Seams().openDesktop = [&](const QUrl& u) {
        opened << u;
        return true;
    };
    EXPECT_TRUE(OpenOnDesktop(QUrl::fromLocalFile(QStringLiteral("/tmp/문서 폴더"))));
    Seams().openDesktop = nullptr;
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].toLocalFile(), QStringLiteral("/tmp/문서 폴더"));

    Seams().fileDialog = [](QWidget*, const QString&, const QString&, const QString&, bool save) {
        return save ? QStringLiteral("/tmp/out.txt") : QString();
    };
    EXPECT_EQ(AskFileName(nullptr, {}, {}, {}, true), QStringLiteral("/tmp/out.txt"));
    EXPECT_TRUE(AskFileName(nullptr, {}, {}, {}, false).isEmpty());
    Seams().fileDialog = nullptr;

    QList<int> actions;
    Seams().statisticsAction = [&](int a) { actions << a; };
    ReportUserAction(23);
    Seams().statisticsAction = nullptr;
    ReportUserAction(24);  // no receiver: nothing happens
    EXPECT_EQ(actions, QList<int>{23});
}

// A window is maximised onto the work area of its own monitor.
TEST(MonitorWorkArea, IsTheAvailableGeometryOfTheWindowsScreen)
{
    QDialog window;
    window.show();
    const QRect area = GetMonitorWorkArea(&window);
    ASSERT_NE(window.screen(), nullptr);
    EXPECT_FALSE(area.isEmpty());
    EXPECT_EQ(area, window.screen()->availableGeometry());
    EXPECT_EQ(GetMonitorWorkArea(nullptr), QGuiApplication::primaryScreen()->availableGeometry());
}

namespace {

// A window that counts its close requests apart from its cancels.
class Closable : public Probe {
public:
    using Probe::Probe;
    int closes = 0;
    bool refuse = false;

protected:
    void OnClose() override
    {
        ++closes;
        if (!refuse) EndDialog(IDCANCEL);
    }
};

void Settle()
{
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace

TEST(WindowStateTest, ModalWindowAndOwnerMinimiseAndRestoreTogether)
{
    Probe owner;
    owner.show();
    Probe child(&owner);
    child.setWindowModality(Qt::ApplicationModal);
    child.show();
    Settle();

    // Minimising the modal window takes its owner along ...
    child.showMinimized();
    EXPECT_TRUE(owner.isMinimized());
    EXPECT_TRUE(owner.isVisible());  // minimised, not hidden or shrunk away
    // ... and restoring it brings the owner back, the modal window on top.
    child.setWindowState(child.windowState() & ~Qt::WindowMinimized);
    EXPECT_FALSE(owner.isMinimized());
    EXPECT_FALSE(child.isMinimized());

    // Restoring the owner (its task-bar entry) restores the modal window too.
    owner.showMinimized();
    EXPECT_TRUE(child.isMinimized());
    owner.setWindowState(owner.windowState() & ~Qt::WindowMinimized);
    EXPECT_FALSE(child.isMinimized());

    // The owner takes no input while the modal window is open.
    EXPECT_EQ(QApplication::activeModalWidget(), &child);

    // A modal window that ends leaves no minimised owner behind.
    child.showMinimized();
    ASSERT_TRUE(owner.isMinimized());
    child.EndDialog(IDOK);
    EXPECT_FALSE(owner.isMinimized());
    EXPECT_TRUE(owner.isVisible());
}

TEST(WindowStateTest, NonModalWindowsMinimiseAlone)
{
    Probe owner;
    owner.show();
    Probe other(&owner);
    other.show();
    Settle();
    other.showMinimized();
    EXPECT_FALSE(owner.isMinimized());
}

TEST(WindowStateTest, CloseRequestsAreApartFromEscape)
{
    Closable w;
    w.SetKeyPolicy({KeyAction::Default, KeyAction::Cancel, KeyAction::Default});
    w.show();
    Settle();
    QTest::keyClick(w.edit, Qt::Key_Escape);
    EXPECT_EQ(w.cancels, 1);
    EXPECT_EQ(w.closes, 0);

    w.show();
    w.refuse = true;
    EXPECT_FALSE(w.close());  // a window that keeps itself open stays
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.closes, 1);
    w.refuse = false;
    EXPECT_TRUE(w.close());
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.closes, 2);
    EXPECT_EQ(w.cancels, 1);

    // By default a close request is a cancel.
    Probe plain;
    plain.show();
    EXPECT_TRUE(plain.close());
    EXPECT_EQ(plain.cancels, 1);
}

TEST(WindowStateTest, EndSessionClosesTheInnermostModalWindowFirst)
{
    std::vector<std::string> order;
    struct Logged : Closable {
        Logged(std::vector<std::string>& o, std::string n, QWidget* parent)
            : Closable(parent), log(o), name(std::move(n))
        {
        }
        std::vector<std::string>& log;
        std::string name;
        void OnClose() override
        {
            log.push_back(name + (SessionEnding() ? " ending" : ""));
            Closable::OnClose();
        }
    };
    Logged outer(order, "outer", nullptr);
    outer.setWindowModality(Qt::ApplicationModal);
    outer.show();
    Logged inner(order, "inner", &outer);
    inner.setWindowModality(Qt::ApplicationModal);
    inner.show();
    Settle();
    EndSession();
    EXPECT_EQ(order, (std::vector<std::string>{"inner ending", "outer ending"}));
    EXPECT_FALSE(inner.isVisible());
    EXPECT_FALSE(outer.isVisible());
    Seams() = UiSeams();
    EXPECT_FALSE(SessionEnding());
}

TEST(WindowStateTest, OneTooltipLookForTheProgram)
{
    Probe w;
    EXPECT_TRUE(qApp->styleSheet().contains(SkinToolTipStyleSheet()));
    EXPECT_TRUE(SkinToolTipStyleSheet().contains(QStringLiteral("padding")));
    Probe again;  // applied once
    EXPECT_EQ(qApp->styleSheet().count(QStringLiteral("QToolTip")), 1);
}

namespace {

// A stand-in for the desktop's opener on PATH that ends with a given status.
class FakeOpener {
public:
    explicit FakeOpener(int status)
    {
        char tmpl[] = "/tmp/ps-opener-XXXXXX";
        dir_ = mkdtemp(tmpl);
        const std::string script = dir_ + "/xdg-open";
        FILE* f = std::fopen(script.c_str(), "w");
        std::fprintf(f, "#!/bin/sh\necho \"$1\" >> %s/args\nexit %d\n", dir_.c_str(), status);
        std::fclose(f);
        ::chmod(script.c_str(), 0755);
        oldPath_ = getenv("PATH") ? getenv("PATH") : "";
        setenv("PATH", dir_.c_str(), 1);
    }
    ~FakeOpener()
    {
        setenv("PATH", oldPath_.c_str(), 1);
        std::string cmd = "rm -rf '" + dir_ + "'";
        (void)!std::system(cmd.c_str());
    }
    std::string Args() const
    {
        std::string out;
        if (FILE* f = std::fopen((dir_ + "/args").c_str(), "r")) {
            char buf[512];
            while (size_t n = std::fread(buf, 1, sizeof buf, f)) out.append(buf, n);
            std::fclose(f);
        }
        return out;
    }

private:
    std::string dir_, oldPath_;
};

}  // namespace

// The opener's exit status decides, not its start: a desktop without a
// program for the file starts the opener, which fails; that is said once.
// Where no opener can start at all, the same.
TEST(DesktopOpen, TheOpenersExitStatusDecides)
{
    const struct {
        int status;   // -1: no opener on PATH
        bool failed;
    } cases[] = {{0, false}, {3, true}, {4, true}, {-1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        std::unique_ptr<FakeOpener> opener;
        std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
        if (c.status >= 0)
            opener = std::make_unique<FakeOpener>(c.status);
        else
            setenv("PATH", "/nonexistent", 1);
        QObject context;
        int failures = 0;
        OpenOnDesktopThen(QStringLiteral("/tmp/a document.pdf"), &context, [&] { ++failures; });
        QElapsedTimer t;
        t.start();
        // Until the verdict (a failure) or the opener's run (a success) is seen.
        while (t.elapsed() < 20000 && failures == 0 && !(opener && !c.failed && !opener->Args().empty()))
            QTest::qWait(20);
        QTest::qWait(200);
        EXPECT_EQ(failures, c.failed ? 1 : 0);
        if (opener) EXPECT_EQ(opener->Args(), "/tmp/a document.pdf\n");
        if (c.status < 0) setenv("PATH", oldPath.c_str(), 1);
    }
}
