// The process-wide services of the program, built in one fixed order before
// the windows start and torn down in the reverse order after they end. One
// object of this class lives in main(); nothing depends on the order in
// which the static objects of different source files happen to be built.
//
// Order of construction (destruction runs backwards):
//   1. updater file name          constant text
//   2. application object         made by main() after the services
//   3. key store and settings key the per-user store; pending deletions purged
//   4. shared fonts               slot: the window layer adds them
//   5. event store                slot: the event-store layer adds it
//   6. statistics client          slot: the module clients add it
//   7. application log            CLogMgr
//   8. updater state              slot: the module clients add it
//   9. search-and-action log      CLogMgr, tag "EG" set by the main window
#pragma once

#include <string>

class CLogMgr;

namespace plat {
class KeyStore;
}

class CoreServices {
public:
    CoreServices();
    ~CoreServices();
    CoreServices(const CoreServices&) = delete;
    CoreServices& operator=(const CoreServices&) = delete;

    // The services of this process; nullptr outside the lifetime of the one
    // object.
    static CoreServices* Current();

    // "RUDazoza.so", the updater module's file name in the program folder.
    const std::u16string& UpdaterFileName() const { return updaterFileName_; }
    plat::KeyStore& Store() const { return *store_; }
    // "Software\Norvane\Privasweep\Config".
    const std::u16string& SettingsKeyText() const { return *settingsKey_; }
    CLogMgr& ApplicationLog() const { return *appLog_; }
    CLogMgr& SearchActionLog() const { return *searchLog_; }

    // Pending deletions removed at this start.
    int PurgedAtStart() const { return purgedAtStart_; }

private:
    const std::u16string updaterFileName_;
    plat::KeyStore* store_ = nullptr;
    const std::u16string* settingsKey_ = nullptr;
    int purgedAtStart_ = 0;
    CLogMgr* appLog_ = nullptr;
    CLogMgr* searchLog_ = nullptr;
};
