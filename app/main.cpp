// Privasweep: finds personal information in the documents on this computer.
#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "app/application.h"
#include "core/controls/wnd.h"
#include "core/eventstore/eventstore.h"
#include "core/services.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnTerminate(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &c, 1);
}

// SIGTERM and SIGINT (log-out, Ctrl+C) end the program the clean way: every
// window is closed as by the window manager, the search threads are stopped
// and joined, and the services are released in order.
void EndCleanlyOnSignals(QObject* parent)
{
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [] {
        char buf[16];
        while (read(g_signalPipe[0], buf, sizeof buf) > 0) {
        }
        // Every window takes its close path (a running search writes its
        // end event, the main window its exit steps); whatever still runs
        // after that ends with the loops.
        ps::ui::EndSession();
        QCoreApplication::exit(0);
    });
    struct sigaction sa {};
    sa.sa_handler = &OnTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    // The process-wide services exist before the application object and
    // end after it.
    CoreServices services;
    QApplication qt(argc, argv);
    ps::ui::InstallQtKoreanTranslations();
    QApplication::setQuitOnLastWindowClosed(false);
    EndCleanlyOnSignals(&qt);
    CPrivasweepApp app;
    // This thread runs the windows: its event-store writes never wait, they
    // are handed to the store's writer when they cannot be stored at once.
    SetEventStoreWindowThread(std::this_thread::get_id());
    const int code = app.Run();
    // What the writer still holds is stored before the program ends.
    SetEventStoreWindowThread(std::thread::id());
    FinishEventStoreWrites(std::chrono::milliseconds(CppSQLite3DB::kDefaultBusyTimeoutMs));
    return code;
}
