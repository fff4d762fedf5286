// Privasweep: finds personal information in the documents on this computer.
#include <QApplication>

#include "app/appcore.h"
#include "core/services.h"

int main(int argc, char** argv)
{
    // The process-wide services exist before the application object and
    // end after it.
    CoreServices services;
    QApplication qt(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    CPrivasweepApp app;
    return app.Run();
}
