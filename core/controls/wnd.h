// The window layer: skinned frameless dialogs, private messages, numbered
// timers, modal runs, key policies and the seams through which tests replace
// what a window would show or start outside itself.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QEvent>
#include <QMouseEvent>
#include <QHash>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QUrl>
#include <functional>
#include <string>
#include <string_view>

namespace ps::ui {

// The work area (the screen less panels and docks) of the monitor nearest to
// the window; the primary screen's when the window has none yet.
QRect GetMonitorWorkArea(const QWidget* window);

// Dialog results.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Private messages keep their numbers: message WM_USER + n is the event type
// QEvent::User + n.
inline QEvent::Type UserMessageType(int n) { return static_cast<QEvent::Type>(QEvent::User + n); }

// Numbers of the private messages the shared controls use.
inline constexpr int UM_CONFIG_PAGE_CHANGED = 700;  // folder tree check changed (wParam 0, lParam 1)
inline constexpr int UM_CONFIG_PAGE_SAVED = 701;

class UserMessageEvent : public QEvent {
public:
    UserMessageEvent(int number, quintptr wParam, qintptr lParam)
        : QEvent(UserMessageType(number)), number_(number), wParam_(wParam), lParam_(lParam)
    {
    }
    int Number() const { return number_; }
    quintptr WParam() const { return wParam_; }
    qintptr LParam() const { return lParam_; }

private:
    int number_;
    quintptr wParam_;
    qintptr lParam_;
};

// An object that handles private messages.
class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual qintptr OnUserMessage(int number, quintptr wParam, qintptr lParam) = 0;
};

// Posts message `number` to `target` (delivered later on the target's thread).
// A null target has no queue here: the message is dropped and false returned.
bool PostUserMessage(QObject* target, int number, quintptr wParam = 0, qintptr lParam = 0);
// Sends message `number`: a direct call on the target's own thread, a
// blocking queued call from any other thread. 0 when the target handles no
// messages.
qintptr SendUserMessage(QObject* target, int number, quintptr wParam = 0, qintptr lParam = 0);

// A plain object that receives private messages through a callback (owners
// that are not dialogs, tests).
class MessageSink : public QObject, public MessageTarget {
public:
    using Handler = std::function<qintptr(int, quintptr, qintptr)>;
    explicit MessageSink(Handler h, QObject* parent = nullptr) : QObject(parent), handler_(std::move(h)) {}
    qintptr OnUserMessage(int number, quintptr wParam, qintptr lParam) override
    {
        return handler_ ? handler_(number, wParam, lParam) : 0;
    }

protected:
    bool event(QEvent* e) override;

private:
    Handler handler_;
};

// What a window does with Enter, Escape and Space typed anywhere inside it.
enum class KeyAction {
    Default,  // the normal handling of the focused control and the dialog
    Swallow,  // dropped
    Ok,       // OnOK()
    Cancel,   // OnCancel()
};
struct KeyPolicy {
    KeyAction enter = KeyAction::Default;
    KeyAction escape = KeyAction::Default;
    KeyAction space = KeyAction::Default;
};

// Seams for tests: each is empty by default, which means the real thing.
struct UiSeams {
    // Replaces the skinned message box: (text, caption, type, parent) -> result.
    std::function<int(const std::u16string&, const std::u16string&, int, QWidget*)> messageBox;
    // Replaces the file dialog: (parent, caption, folder, filter, save) -> chosen path or empty.
    std::function<QString(QWidget*, const QString&, const QString&, const QString&, bool)> fileDialog;
    // Replaces opening a file, folder or address on the desktop.
    std::function<bool(const QUrl&)> openDesktop;
    // Replaces showing a file in its folder (the path of the file).
    std::function<bool(const QString&)> showInFolder;
    // Replaces the clock.
    std::function<QDateTime()> clock;
    // Receives the numbered user actions that windows report.
    std::function<void(int)> statisticsAction;
    // Set by EndSession: the session is ending.
    bool sessionEnding = false;
};
UiSeams& Seams();

// Loads Qt's own Korean texts (the standard dialogs and buttons: file
// dialog, colour dialog, "Save", "Cancel"...) into the application; false
// when the system has none (qt6-translations-l10n not installed).
bool InstallQtKoreanTranslations();

// Gives the application the skin's one tooltip look (light body, blue-grey
// border, dark text, padding). Every skinned window applies it once.
void ApplySkinToolTipStyle();
// The style sheet rule of that look.
QString SkinToolTipStyleSheet();

// The session is ending (log-out, SIGTERM): windows close without asking.
bool SessionEnding();
// Ends the session: every open window, the innermost modal one first, gets
// a close request as from the window manager while SessionEnding() is true.
void EndSession();

QString AskFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter,
                    bool save);
bool OpenOnDesktop(const QUrl& url);
// Opens target (a local path, or an address) with the desktop's opener and
// judges by how the opener ends, not by its start: when it cannot be started
// or ends with a failure status (a desktop with no program for the kind of
// file says so only there), onFailure runs once on the window thread, unless
// context is gone by then. The opener outlives the window that asked.
void OpenOnDesktopThen(const QString& target, QObject* context, std::function<void()> onFailure);
// Opens the folder of a file in the desktop's file manager with the file
// selected (the file manager's D-Bus interface); where no file manager
// answers, the folder is opened as OpenOnDesktopThen opens it, and
// onFailure runs when that fails too.
bool ShowInFolder(const QString& path, QObject* context = nullptr, std::function<void()> onFailure = {});
QDateTime Now();
void ReportUserAction(int action);

// UI text by key (stand-in until the text tables are on this branch: the two
// texts the shared controls use, otherwise the key itself).
std::u16string UiText(std::u16string_view key);

inline QString ToQ(const std::u16string& s) { return QString::fromStdU16String(s); }
inline std::u16string FromQ(const QString& s) { return s.toStdU16String(); }

// The base of every skinned window: frameless, clipped to a rounded region,
// dragged by its caption band and optionally sized by its borders.
class CSkinDialog : public QDialog, public MessageTarget {
    Q_OBJECT
public:
    explicit CSkinDialog(QWidget* parent = nullptr);
    ~CSkinDialog() override;

    // Runs the window modally; the result of EndDialog (or IDCANCEL when
    // closed otherwise).
    int DoModal();
    void EndDialog(int result) { done(result); }

    // Clips the window to a rectangle (0, 0, w, h) with rounded corners of the
    // given ellipse size.
    void SetRoundRegion(int w, int h, int ellipseW, int ellipseH);
    // Centres the window on its owner's window, from the position the owner
    // was given (a window manager may not have reported where it placed
    // the owner yet); nothing without a visible owner.
    void CenterWindow();
    // Points less than `height` pixels below the top drag the window.
    void SetCaptionBand(int height) { captionBand_ = height; }
    int CaptionBand() const { return captionBand_; }
    // Points within `px` of an edge size the window (0: not resizable).
    void SetResizeBorder(int px);
    void SetKeyPolicy(const KeyPolicy& policy) { keys_ = policy; }
    const KeyPolicy& Keys() const { return keys_; }

    // Numbered timers: setting a running number restarts it.
    bool SetTimer(int id, int periodMs);
    void KillTimer(int id);
    bool HasTimer(int id) const { return timers_.contains(id); }

    qintptr OnUserMessage(int, quintptr, qintptr) override { return 0; }

    // Runs OnInitDialog once (DoModal and the first show call it).
    void EnsureInitialized();

    enum class Hit { Client, Caption, Left, Right, Top, Bottom, TopLeft, TopRight, BottomLeft, BottomRight };
    // Where a point of the window lies (the windows' hit test).
    virtual Hit HitTest(const QPoint& local) const;

protected:
    virtual bool OnInitDialog() { return true; }
    virtual void OnTimer(int /*id*/) {}
    virtual void OnOK() { done(IDOK); }
    virtual void OnCancel() { done(IDCANCEL); }
    // A close request from outside the window (the window manager's close
    // button, Alt+F4, the session ending). Escape and the window's own
    // buttons never come here. By default the same as OnCancel.
    virtual void OnClose() { OnCancel(); }

    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void timerEvent(QTimerEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void reject() override;

public:
    void done(int r) override;

private:
    // A modal window and its owner minimise and restore together, and the
    // modal window stays above its owner.
    void FollowMinimised(bool minimised);
    // Corrects the window's idea of its place from a mouse press on `w`.
    void FollowTruePosition(QWidget* w, const QMouseEvent& e);
    bool ended_ = false;
    bool initialized_ = false;
    int captionBand_ = 0;
    int resizeBorder_ = 0;
    KeyPolicy keys_;
    QHash<int, int> timers_;        // number -> Qt timer id
    QHash<int, int> timerNumbers_;  // Qt timer id -> number
    // Manual move or size when the platform cannot do it.
    // A press on the caption or a border arms a drag (dragHit_); it begins
    // only when the pointer moves with the button held (dragging_), so a
    // press and release in the same instant never leaves a move going.
    Hit dragHit_ = Hit::Client;
    bool dragging_ = false;
    QPoint dragStartGlobal_;
    QRect dragStartGeometry_;
    bool filtering_ = false;
};

}  // namespace ps::ui
