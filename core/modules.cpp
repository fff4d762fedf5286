#include "core/modules.h"

#include <cstdio>
#include <mutex>

#include "core/util.h"
#include "platform/system.h"

namespace {

const char16_t kProductName[] = u"Privasweep";

// A bare file name is looked up in the program folder; a path is taken as is.
std::u16string ModulePathOf(const std::u16string& fileName)
{
    if (fileName.find(u'/') != std::u16string::npos) return fileName;
    return GetModuleFolder(true) + fileName;
}

template <typename Fn>
Fn Symbol(void* module, const char* name)
{
    return reinterpret_cast<Fn>(plat::ModuleSymbol(module, name));
}

}  // namespace

// ---- Statistics -------------------------------------------------------------

VOZEZ::~VOZEZ() { Unload(); }

void VOZEZ::Clear()
{
    pInitialize = nullptr;
    pFinalize = nullptr;
    pExecuteAction = nullptr;
    module = nullptr;
    loaded = false;
}

void VOZEZ::Unload()
{
    if (module) {
        if (loaded && pFinalize) pFinalize();
        plat::UnloadModule(module);
    }
    Clear();
}

int VOZEZ::Load(const std::u16string& fileName)
{
    if (module) Unload();
    module = plat::LoadModule(ModulePathOf(fileName));
    if (!module) return -10000;
    pInitialize = Symbol<InitializeFn>(module, "VOZEZ_Initialize");
    pFinalize = Symbol<FinalizeFn>(module, "VOZEZ_Finalize");
    pExecuteAction = Symbol<ExecuteActionFn>(module, "VOZEZ_ExecuteAction");
    if (!pInitialize || !pFinalize || !pExecuteAction) return -10000;
    const std::string name = ToNarrow(kProductName);
    const int r = pInitialize(name.c_str());
    if (r == 0) {
        plat::UnloadModule(module);
        Clear();
        return 0;
    }
    if (r == 1) loaded = true;
    return r;
}

VOZEZ& Statistics()
{
    static VOZEZ instance;
    return instance;
}

std::string ActionCodeText(int action)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, action < 35 ? "prv10_%03d" : "prv12_%03d", action);
    return buf;
}

unsigned char ReportAction(int action)
{
    VOZEZ& s = Statistics();
    if (!s.loaded && s.Load(u"VOZEZ.so") != 1) return 0;
    const std::string code = ActionCodeText(action);
    plat::DebugOutput(ToWide(code));
    return s.pExecuteAction(code.c_str());
}

// ---- Updater ----------------------------------------------------------------

namespace {

struct UpdaterState {
    bool loaded = false;
    std::u16string productName;
    void* module = nullptr;
};

UpdaterState& Updater()
{
    static UpdaterState state;
    return state;
}

}  // namespace

std::u16string GetUpdaterPath() { return GetModuleFolder(false) + u"/" + u"RUDazoza.so"; }

bool IsUpdaterLoaded() { return Updater().loaded; }

int InitUpdater(const std::u16string& productName)
{
    UpdaterState& u = Updater();
    if (u.loaded) return 1;
    u.module = plat::LoadModule(GetUpdaterPath());
    if (!u.module) return 0;
    u.productName = productName;
    using InitFn = int (*)(const char*);
    auto init = Symbol<InitFn>(u.module, "RUDazoza_Init");
    int r = 0;
    if (init) {
        const std::string name = ToNarrow(productName);
        r = init(name.c_str());
    }
    if (r != 0) {
        u.loaded = true;
        return r;
    }
    plat::UnloadModule(u.module);
    u.module = nullptr;
    u.productName.clear();
    return 0;
}

bool ExitUpdater()
{
    UpdaterState& u = Updater();
    if (u.loaded) {
        using ExitFn = void (*)(const char*);
        if (auto fn = Symbol<ExitFn>(u.module, "RUDazoza_Exit")) {
            const std::string name = ToNarrow(u.productName);
            fn(name.c_str());
        }
        plat::UnloadModule(u.module);
        u.module = nullptr;
        u.loaded = false;
        u.productName.clear();
    }
    return true;
}

unsigned char RunOnlineUpdate()
{
    UpdaterState& u = Updater();
    if (!u.loaded) return 0;
    using UpdateFn = unsigned char (*)(const char*);
    auto fn = Symbol<UpdateFn>(u.module, "RUDazoza_UpdateProduct");
    if (!fn) return 0;
    const std::string name = ToNarrow(u.productName);
    return fn(name.c_str());
}

// ---- Crash reporter -----------------------------------------------------------

Crashlet::~Crashlet() { Stop(); }

int32_t Crashlet::AppendProperties(void*) { return 1; }

void Crashlet::Clear()
{
    started = false;
    module = nullptr;
    pProcessInitialize = nullptr;
    pProcessFinalize = nullptr;
    pThreadInitialize = nullptr;
    pThreadFinalize = nullptr;
    pAppendProperty = nullptr;
    record = CrashletStartRecord();
    version_.clear();
    resourcePath_.clear();
}

void Crashlet::Stop()
{
    if (!started) return;
    if (pProcessFinalize) pProcessFinalize();
    plat::UnloadModule(module);
    Clear();
}

bool Crashlet::Start(const std::u16string& modulePath, const std::u16string& versionText,
                     const std::u16string& resourceModulePath)
{
    if (started) Stop();
    module = plat::LoadModule(modulePath);
    if (!module) return started;
    pProcessInitialize = Symbol<ProcessInitializeFn>(module, "CrashletCProcessInitializeW");
    pProcessFinalize = Symbol<ProcessFinalizeFn>(module, "CrashletCProcessFinalizeW");
    pThreadInitialize = plat::ModuleSymbol(module, "CrashletCThreadInitializeW");
    pThreadFinalize = plat::ModuleSymbol(module, "CrashletCThreadFinalizeW");
    pAppendProperty = plat::ModuleSymbol(module, "CrashletCAppendPropertyW");
    if (pProcessInitialize && pProcessFinalize && pThreadInitialize && pThreadFinalize && pAppendProperty) {
        version_ = versionText;
        resourcePath_ = resourceModulePath;
        record.productName = kProductName;
        record.versionText = version_.c_str();
        record.zero1 = 0;
        record.resourceModulePath = resourcePath_.c_str();
        record.propertyCallback = &Crashlet::AppendProperties;
        record.zero2 = 0;
        if (pProcessInitialize(&record) == 0) started = true;
    }
    if (!started) {
        plat::UnloadModule(module);
        Clear();
    }
    return started;
}
