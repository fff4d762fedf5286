// Privasweep: finds personal information in the documents on this computer.
#include "core/services.h"

int main()
{
    // The process-wide services exist before the application object and
    // end after it.
    CoreServices services;
    return 0;
}
