#include "core/controls/wnd.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>

#include <QGuiApplication>
#include <QScreen>

#include <QAbstractButton>
#include <QApplication>
#include <QBitmap>
#include <QDesktopServices>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QRegion>
#include <QThread>
#include <QTimer>
#include <QTimerEvent>
#include <QToolTip>
#include <QWindow>
#include <algorithm>
#include <memory>
#include <vector>

namespace ps::ui {

QRect GetMonitorWorkArea(const QWidget* window)
{
    QScreen* s = window ? window->screen() : nullptr;
    if (!s) s = QGuiApplication::primaryScreen();
    return s ? s->availableGeometry() : QRect();
}

namespace {

QWidget* WidgetOf(QObject* o)
{
    return qobject_cast<QWidget*>(o);
}

// The window that owns a window: the top-level window of its parent.
QWidget* OwnerOf(const QWidget* w)
{
    QWidget* p = w ? w->parentWidget() : nullptr;
    return p ? p->window() : nullptr;
}

// The innermost modal window and its owners, outermost first.
std::vector<QWidget*> ModalGroup()
{
    std::vector<QWidget*> group;
    for (QWidget* w = QApplication::activeModalWidget(); w; w = OwnerOf(w)) {
        if (std::find(group.begin(), group.end(), w) != group.end()) break;
        group.insert(group.begin(), w);
    }
    return group;
}

void SetMinimised(QWidget* w, bool minimised)
{
    if (!w->isVisible() || w->isMinimized() == minimised) return;
    w->setWindowState(minimised ? (w->windowState() | Qt::WindowMinimized)
                                : (w->windowState() & ~Qt::WindowMinimized));
}

void BringToFront(QWidget* w)
{
    w->raise();
    w->activateWindow();
}

bool g_followingState = false;

}  // namespace

bool SessionEnding() { return Seams().sessionEnding; }

QString SkinToolTipStyleSheet()
{
    return QStringLiteral(
        "QToolTip { color: #1e2a38; background-color: #f7f9fc; border: 1px solid #9aafc3;"
        " border-radius: 2px; padding: 4px 6px; }");
}

void ApplySkinToolTipStyle()
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) return;
    const QString rule = SkinToolTipStyleSheet();
    if (app->styleSheet().contains(rule)) return;
    app->setStyleSheet(app->styleSheet() + rule);
    QPalette tips = QToolTip::palette();
    tips.setColor(QPalette::ToolTipBase, QColor(0xF7, 0xF9, 0xFC));
    tips.setColor(QPalette::ToolTipText, QColor(0x1E, 0x2A, 0x38));
    QToolTip::setPalette(tips);
}

void EndSession()
{
    Seams().sessionEnding = true;
    // The innermost modal window first: its owner's close may wait for it.
    for (int guard = 0; guard < 64; ++guard) {
        QPointer<QWidget> w = QApplication::activeModalWidget();
        if (!w) break;
        w->close();
        if (w && w->isVisible() && w == QApplication::activeModalWidget()) break;
    }
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && qobject_cast<QDialog*>(w)) w->close();
}

bool PostUserMessage(QObject* target, int number, quintptr wParam, qintptr lParam)
{
    if (!target) return false;
    QCoreApplication::postEvent(target, new UserMessageEvent(number, wParam, lParam));
    return true;
}

qintptr SendUserMessage(QObject* target, int number, quintptr wParam, qintptr lParam)
{
    auto* handler = dynamic_cast<MessageTarget*>(target);
    if (!handler) return 0;
    if (target->thread() == QThread::currentThread()) return handler->OnUserMessage(number, wParam, lParam);
    qintptr result = 0;
    QMetaObject::invokeMethod(
        target, [&] { result = handler->OnUserMessage(number, wParam, lParam); }, Qt::BlockingQueuedConnection);
    return result;
}

bool MessageSink::event(QEvent* e)
{
    if (e->type() >= QEvent::User && e->type() <= QEvent::MaxUser) {
        if (auto* m = dynamic_cast<UserMessageEvent*>(e)) {
            OnUserMessage(m->Number(), m->WParam(), m->LParam());
            return true;
        }
    }
    return QObject::event(e);
}

UiSeams& Seams()
{
    static UiSeams seams;
    return seams;
}

QString AskFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter, bool save)
{
    if (Seams().fileDialog) return Seams().fileDialog(parent, caption, folder, filter, save);
    return save ? QFileDialog::getSaveFileName(parent, caption, folder, filter)
                : QFileDialog::getOpenFileName(parent, caption, folder, filter);
}

bool OpenOnDesktop(const QUrl& url)
{
    if (Seams().openDesktop) return Seams().openDesktop(url);
    return QDesktopServices::openUrl(url);
}

void OpenOnDesktopThen(const QString& target, QObject* context, std::function<void()> onFailure)
{
    QPointer<QObject> alive(context);
    auto fail = [alive, hadContext = context != nullptr, onFailure = std::move(onFailure)] {
        if (onFailure && (!hadContext || alive)) onFailure();
    };
    if (Seams().openDesktop) {
        const QUrl url = target.startsWith(QLatin1Char('/')) ? QUrl::fromLocalFile(target) : QUrl(target);
        if (!Seams().openDesktop(url))
            QTimer::singleShot(0, qApp, fail);
        return;
    }
    if (target.isEmpty()) {
        QTimer::singleShot(0, qApp, fail);
        return;
    }
    // Owned by the application: closing the asking window must not end the
    // opener before it has handed the file on.
    auto* opener = new QProcess(qApp);
    opener->setProgram(QStringLiteral("xdg-open"));
    // A path starting with '-' would be read as an option (never, for the
    // absolute paths the windows pass).
    opener->setArguments({target.startsWith(QLatin1Char('-')) ? QStringLiteral("./") + target : target});
    opener->setStandardInputFile(QProcess::nullDevice());
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    auto done = std::make_shared<bool>(false);
    QObject::connect(opener, &QProcess::finished, qApp, [opener, fail, done](int code, QProcess::ExitStatus status) {
        if (!*done && (status != QProcess::NormalExit || code != 0)) fail();
        *done = true;
        opener->deleteLater();
    });
    QObject::connect(opener, &QProcess::errorOccurred, qApp, [opener, fail, done](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart || *done) return;
        *done = true;
        fail();
        opener->deleteLater();
    });
    opener->start();
}

bool ShowInFolder(const QString& path, QObject* context, std::function<void()> onFailure)
{
    if (Seams().showInFolder) {
        const bool ok = Seams().showInFolder(path);
        if (!ok && onFailure) QTimer::singleShot(0, qApp, [alive = QPointer<QObject>(context), had = context != nullptr, onFailure] {
            if (!had || alive) onFailure();
        });
        return ok;
    }
    if (path.isEmpty()) return false;
    const QString folderPath = QFileInfo(path).absolutePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        OpenOnDesktopThen(folderPath, context, onFailure);
        return true;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("/org/freedesktop/FileManager1"),
                                                       QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    // Answered later: the window goes on meanwhile, and a bus without a
    // file manager (or one that refuses) falls back to the plain folder.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [folderPath, alive = QPointer<QObject>(context), had = context != nullptr,
                      onFailure](QDBusPendingCallWatcher* w) {
                         if (w->isError() && (!had || alive)) OpenOnDesktopThen(folderPath, alive.data(), onFailure);
                         w->deleteLater();
                     });
    return true;
}

QDateTime Now()
{
    if (Seams().clock) return Seams().clock();
    return QDateTime::currentDateTime();
}

void ReportUserAction(int action)
{
    if (Seams().statisticsAction) Seams().statisticsAction(action);
}

bool InstallQtKoreanTranslations()
{
    auto* app = QCoreApplication::instance();
    if (!app) return false;
    static QTranslator* installed = nullptr;
    if (installed) return true;
    auto* t = new QTranslator(app);
    if (!t->load(QLocale(QLocale::Korean, QLocale::SouthKorea), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete t;
        return false;
    }
    QCoreApplication::installTranslator(t);
    installed = t;
    return true;
}

std::u16string UiText(std::u16string_view key)
{
    if (key == u"MESSAGE_DEFAULT_CAPTION") return u"알림";
    if (key == u"PASSWORD_NOT_USE_HANGUL") return u"한글로 암호를 설정하실 수 없습니다.";
    return std::u16string(key);
}

// ---------------------------------------------------------------------------

CSkinDialog::CSkinDialog(QWidget* parent) : QDialog(parent)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::Dialog);
    // Whatever the skin leaves unpainted is white, as the skin's bodies are.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setMouseTracking(true);
    setSizeGripEnabled(false);
    ApplySkinToolTipStyle();
}

CSkinDialog::~CSkinDialog()
{
    if (filtering_) qApp->removeEventFilter(this);
}

void CSkinDialog::EnsureInitialized()
{
    if (initialized_) return;
    initialized_ = true;
    OnInitDialog();
}

int CSkinDialog::DoModal()
{
    ended_ = false;
    EnsureInitialized();
    // A window that ended itself while initialising is not shown.
    if (ended_) return result();
    return exec();
}

void CSkinDialog::SetRoundRegion(int w, int h, int ellipseW, int ellipseH)
{
    if (w <= 0 || h <= 0) return;
    QBitmap mask(w, h);
    mask.fill(Qt::color0);
    QPainter p(&mask);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::color1);
    const qreal rx = ellipseW / 2.0, ry = ellipseH / 2.0;
    if (rx > 0 && ry > 0)
        p.drawRoundedRect(QRectF(0, 0, w, h), rx, ry);
    else
        p.drawRect(QRect(0, 0, w, h));
    p.end();
    setMask(QRegion(mask));
}

void CSkinDialog::CenterWindow()
{
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (!owner || !owner->isVisible()) return;
    move(owner->geometry().center() - QPoint(width() / 2, height() / 2));
}

void CSkinDialog::SetResizeBorder(int px)
{
    resizeBorder_ = px < 0 ? 0 : px;
}

bool CSkinDialog::SetTimer(int id, int periodMs)
{
    KillTimer(id);
    const int qtId = startTimer(periodMs < 0 ? 0 : periodMs);
    if (qtId == 0) return false;
    timers_.insert(id, qtId);
    timerNumbers_.insert(qtId, id);
    return true;
}

void CSkinDialog::KillTimer(int id)
{
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    killTimer(*it);
    timerNumbers_.remove(*it);
    timers_.erase(it);
}

void CSkinDialog::timerEvent(QTimerEvent* e)
{
    auto it = timerNumbers_.constFind(e->timerId());
    if (it == timerNumbers_.constEnd()) {
        QDialog::timerEvent(e);
        return;
    }
    OnTimer(*it);
}

bool CSkinDialog::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate && !g_followingState) {
        // An owner activated while a modal window is open above it (a click
        // on it, its task-bar entry) hands the activation on to that window.
        const std::vector<QWidget*> group = ModalGroup();
        if (group.size() >= 2 && group.back() != this &&
            std::find(group.begin(), group.end(), this) != group.end()) {
            QPointer<QWidget> top = group.back();
            QTimer::singleShot(0, top, [top] {
                if (!top || !top->isVisible()) return;
                SetMinimised(top, false);
                BringToFront(top);
            });
        }
    }
    if (e->type() >= QEvent::User && e->type() <= QEvent::MaxUser) {
        if (auto* m = dynamic_cast<UserMessageEvent*>(e)) {
            OnUserMessage(m->Number(), m->WParam(), m->LParam());
            return true;
        }
    }
    return QDialog::event(e);
}

void CSkinDialog::showEvent(QShowEvent* e)
{
    EnsureInitialized();
    if (!filtering_) {
        qApp->installEventFilter(this);
        filtering_ = true;
    }
    QDialog::showEvent(e);
}

void CSkinDialog::hideEvent(QHideEvent* e)
{
    if (filtering_) {
        qApp->removeEventFilter(this);
        filtering_ = false;
    }
    QDialog::hideEvent(e);
}

void CSkinDialog::done(int r)
{
    ended_ = true;
    const bool modal = isModal() && isVisible();
    QDialog::done(r);
    // A modal window that ends never leaves its owner minimised with
    // nothing on screen.
    if (modal)
        if (QWidget* owner = OwnerOf(this); owner && owner->isMinimized() && !SessionEnding()) {
            SetMinimised(owner, false);
            BringToFront(owner);
        }
}

void CSkinDialog::closeEvent(QCloseEvent* e)
{
    if (!isVisible()) {
        e->accept();
        return;
    }
    QPointer<CSkinDialog> self(this);
    OnClose();
    if (self && isVisible())
        e->ignore();
    else
        e->accept();
}

void CSkinDialog::changeEvent(QEvent* e)
{
    QDialog::changeEvent(e);
    if (e->type() != QEvent::WindowStateChange) return;
    const bool was = static_cast<QWindowStateChangeEvent*>(e)->oldState() & Qt::WindowMinimized;
    if (was != isMinimized()) FollowMinimised(isMinimized());
}

void CSkinDialog::FollowMinimised(bool minimised)
{
    if (g_followingState) return;
    const std::vector<QWidget*> group = ModalGroup();
    if (group.size() < 2 || std::find(group.begin(), group.end(), this) == group.end()) return;
    g_followingState = true;
    // Owners first, so that the modal window is mapped last and lies on top.
    for (QWidget* w : group)
        if (w != this) SetMinimised(w, minimised);
    g_followingState = false;
    if (minimised) return;
    QPointer<QWidget> top = group.back();
    BringToFront(top);
    // The window manager maps the owners asynchronously: raise once more
    // when it has.
    QTimer::singleShot(50, top, [top] {
        if (top && top->isVisible() && !top->isMinimized()) BringToFront(top);
    });
}

void CSkinDialog::keyPressEvent(QKeyEvent* e)
{
    // Enter that no control took: a focused button is pressed, otherwise the
    // window's OK runs (the dialog default).
    if (!e->modifiers() || (e->modifiers() & Qt::KeypadModifier && e->key() == Qt::Key_Enter)) {
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
            if (auto* b = qobject_cast<QAbstractButton*>(focusWidget()); b && b->isEnabled() && b->isVisible())
                b->click();
            else
                OnOK();
            e->accept();
            return;
        }
    }
    QDialog::keyPressEvent(e);
}

void CSkinDialog::reject()
{
    // Escape reaches QDialog::reject through the dialog's own key handling;
    // the key policy has already had its say in the event filter.
    OnCancel();
}

bool CSkinDialog::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::MouseButtonPress) {
        if (QWidget* w = WidgetOf(watched); w && w->window() == this) FollowTruePosition(w, *static_cast<QMouseEvent*>(e));
        return false;
    }
    if (e->type() != QEvent::KeyPress && e->type() != QEvent::ShortcutOverride) return false;
    QWidget* w = WidgetOf(watched);
    if (!w || w->window() != this) return false;
    auto* ke = static_cast<QKeyEvent*>(e);
    KeyAction action = KeyAction::Default;
    switch (ke->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: action = keys_.enter; break;
    case Qt::Key_Escape: action = keys_.escape; break;
    case Qt::Key_Space: action = keys_.space; break;
    default: return false;
    }
    if (action == KeyAction::Default) return false;
    if (e->type() == QEvent::ShortcutOverride) {
        // Keep shortcuts from taking the key before the policy sees it.
        e->accept();
        return false;
    }
    if (ke->isAutoRepeat() && action != KeyAction::Swallow) return true;
    switch (action) {
    case KeyAction::Ok: OnOK(); break;
    case KeyAction::Cancel: OnCancel(); break;
    default: break;
    }
    return true;
}

void CSkinDialog::FollowTruePosition(QWidget* w, const QMouseEvent& e)
{
    // A press carries the point on the screen as the display server gives
    // it. Where the window's own idea of its place differs (a window
    // manager that placed or moved a frameless window without telling Qt
    // in time), popups would open away from their control and a resize
    // would throw the window to the old place: take the true place first.
    if (isMaximized() || isFullScreen() || !isVisible()) return;
    const QPoint local = w->mapTo(this, e.position().toPoint());
    const QPoint truePlace = e.globalPosition().toPoint() - local;
    if (w->mapToGlobal(e.position().toPoint()) == e.globalPosition().toPoint() && pos() == truePlace) return;
    // Both the widget's and the native window's idea are set: either may be
    // the stale one.
    if (QWindow* handle = windowHandle(); handle && handle->position() != truePlace) handle->setPosition(truePlace);
    if (pos() != truePlace) move(truePlace);
}

CSkinDialog::Hit CSkinDialog::HitTest(const QPoint& pt) const
{
    if (resizeBorder_ > 0 && !isMaximized()) {
        const int b = resizeBorder_;
        const bool l = pt.x() < b, r = pt.x() >= width() - b, t = pt.y() < b, bo = pt.y() >= height() - b;
        if (t && l) return Hit::TopLeft;
        if (t && r) return Hit::TopRight;
        if (bo && l) return Hit::BottomLeft;
        if (bo && r) return Hit::BottomRight;
        if (l) return Hit::Left;
        if (r) return Hit::Right;
        if (t) return Hit::Top;
        if (bo) return Hit::Bottom;
    }
    if (pt.y() < captionBand_) return Hit::Caption;
    return Hit::Client;
}

namespace {

Qt::CursorShape CursorFor(CSkinDialog::Hit h)
{
    using H = CSkinDialog::Hit;
    switch (h) {
    case H::Left:
    case H::Right: return Qt::SizeHorCursor;
    case H::Top:
    case H::Bottom: return Qt::SizeVerCursor;
    case H::TopLeft:
    case H::BottomRight: return Qt::SizeFDiagCursor;
    case H::TopRight:
    case H::BottomLeft: return Qt::SizeBDiagCursor;
    default: return Qt::ArrowCursor;
    }
}

Qt::Edges EdgesFor(CSkinDialog::Hit h)
{
    using H = CSkinDialog::Hit;
    switch (h) {
    case H::Left: return Qt::LeftEdge;
    case H::Right: return Qt::RightEdge;
    case H::Top: return Qt::TopEdge;
    case H::Bottom: return Qt::BottomEdge;
    case H::TopLeft: return Qt::TopEdge | Qt::LeftEdge;
    case H::TopRight: return Qt::TopEdge | Qt::RightEdge;
    case H::BottomLeft: return Qt::BottomEdge | Qt::LeftEdge;
    case H::BottomRight: return Qt::BottomEdge | Qt::RightEdge;
    default: return {};
    }
}

}  // namespace

void CSkinDialog::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(e);
        return;
    }
    const Hit hit = HitTest(e->position().toPoint());
    if (hit == Hit::Client) {
        QDialog::mousePressEvent(e);
        return;
    }
    // Armed, not begun: a tap (a touchpad's press and release in the same
    // instant) must not start a move the window manager then keeps going
    // for want of a release it never sees.
    dragHit_ = hit;
    dragging_ = false;
    dragStartGlobal_ = e->globalPosition().toPoint();
    dragStartGeometry_ = geometry();
    e->accept();
}

void CSkinDialog::mouseMoveEvent(QMouseEvent* e)
{
    if (dragHit_ == Hit::Client || !(e->buttons() & Qt::LeftButton)) {
        dragHit_ = Hit::Client;
        dragging_ = false;
        setCursor(CursorFor(HitTest(e->position().toPoint())));
        QDialog::mouseMoveEvent(e);
        return;
    }
    const QPoint d = e->globalPosition().toPoint() - dragStartGlobal_;
    if (!dragging_) {
        if (d.manhattanLength() < QApplication::startDragDistance()) return;
        dragging_ = true;
        // Under X11 the window follows the pointer itself (it holds the
        // pointer while the button is down, and a release always reaches
        // it); elsewhere the compositor moves it, asked while the button is
        // still held.
        QWindow* win = windowHandle();
        if (win && QGuiApplication::platformName() != QLatin1String("xcb") &&
            QGuiApplication::platformName() != QLatin1String("offscreen") &&
            (dragHit_ == Hit::Caption ? win->startSystemMove() : win->startSystemResize(EdgesFor(dragHit_)))) {
            dragHit_ = Hit::Client;
            dragging_ = false;
            return;
        }
    }
    if (dragHit_ == Hit::Caption) {
        move(dragStartGeometry_.topLeft() + d);
        return;
    }
    QRect g = dragStartGeometry_;
    const Qt::Edges edges = EdgesFor(dragHit_);
    const QSize minSize = minimumSize().expandedTo(QSize(40, 40));
    if (edges & Qt::LeftEdge) g.setLeft(std::min(g.left() + d.x(), g.right() - minSize.width() + 1));
    if (edges & Qt::RightEdge) g.setRight(std::max(g.right() + d.x(), g.left() + minSize.width() - 1));
    if (edges & Qt::TopEdge) g.setTop(std::min(g.top() + d.y(), g.bottom() - minSize.height() + 1));
    if (edges & Qt::BottomEdge) g.setBottom(std::max(g.bottom() + d.y(), g.top() + minSize.height() - 1));
    setGeometry(g);
}

void CSkinDialog::mouseReleaseEvent(QMouseEvent* e)
{
    // A release ends any drag, whatever its timing.
    dragHit_ = Hit::Client;
    dragging_ = false;
    QDialog::mouseReleaseEvent(e);
}

}  // namespace ps::ui
