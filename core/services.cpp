#include "core/services.h"

#include <atomic>
#include <cstdlib>

#include "core/logmgr.h"
#include "core/registry.h"
#include "platform/keystore.h"
#include "platform/pending.h"

namespace {

std::atomic<CoreServices*> g_current{nullptr};

}  // namespace

CoreServices::CoreServices() : updaterFileName_(u"RUDazoza.so")
{
    CoreServices* expected = nullptr;
    if (!g_current.compare_exchange_strong(expected, this))
        std::abort();  // a second set of process-wide services

    // The key store and the settings key come first: every later service
    // reads its settings from them. Files left for deletion at the last
    // run go now, before anything could open them.
    store_ = &plat::KeyStore::User();
    settingsKey_ = &SettingsKey();
    purgedAtStart_ = plat::PurgePendingDeletions(*store_);

    // Slots of the shared fonts, the event store and the statistics client.

    appLog_ = &AppLog();

    // Slot of the updater state.

    searchLog_ = &SearchLog();
}

CoreServices::~CoreServices()
{
    // Reverse order. The logs, the key store and the settings key are
    // objects of their own files that live until the process ends, so a
    // late trace line still finds them; here they are only let go.
    searchLog_ = nullptr;
    // Slot of the updater state: unload the module if still loaded.
    appLog_ = nullptr;
    // Slots of the statistics client, the event store and the fonts.
    settingsKey_ = nullptr;
    store_ = nullptr;
    g_current.store(nullptr);
}

CoreServices* CoreServices::Current() { return g_current.load(); }
