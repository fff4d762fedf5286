// The application object: the program's start and end. It brings the
// services up (single instance, modules, event database, the reader
// library), runs the main window and tears everything down in order. This
// is the program layer's top floor: nothing else in app/ includes it.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "core/modules.h"

namespace plat {
class SingleInstance;
}

class CPrivasweepApp {
public:
    CPrivasweepApp();
    ~CPrivasweepApp();
    CPrivasweepApp(const CPrivasweepApp&) = delete;
    CPrivasweepApp& operator=(const CPrivasweepApp&) = delete;

    static CPrivasweepApp* Instance();

    // Brings the services up, runs the main window and returns false, so
    // that ExitInstance follows at once.
    bool InitInstance();
    int ExitInstance();
    // InitInstance then ExitInstance; the process's exit code (non-zero when
    // the event database could not be opened).
    int Run();

    // Test seam: when set, called instead of running the main window
    // modally (the window is built and initialised).
    std::function<void(QWidget* mainWindow)> runMainWindow;

    QWidget* MainWindow() const { return mainWindow_; }
    int ExitCode() const { return exitCode_; }
    bool IsSecondInstance() const { return secondInstance_; }

    Crashlet crashlet;

private:
    void StartCrashReporter();
    // Runs the main window between the reader library's start and its end,
    // so no document is read before the one or after the other.
    void RunMainWindow();

    std::unique_ptr<plat::SingleInstance> mutex_;
    QWidget* mainWindow_ = nullptr;
    int exitCode_ = 0;
    bool secondInstance_ = false;
};
