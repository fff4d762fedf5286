// Clients of the maker's optional modules: statistics, updater and crash
// reporter. Each module is a shared object in the program folder, loaded at
// run time; a missing file, a missing entry point or a refusal leaves the
// client not loaded and the program runs on without it, silently.
#pragma once

#include <cstdint>
#include <string>

// Statistics client. One static instance (Statistics()) serves the program.
class VOZEZ {
public:
    using InitializeFn = int (*)(const char* productName);
    using FinalizeFn = void (*)();
    using ExecuteActionFn = unsigned char (*)(const char* actionCode);

    VOZEZ() = default;
    ~VOZEZ();
    VOZEZ(const VOZEZ&) = delete;
    VOZEZ& operator=(const VOZEZ&) = delete;

    // Loads the module by file name from the program folder (a full path is
    // taken as it is) and starts it. 1 started, 0 refused, -10000 not loaded
    // or an entry point missing, any other answer of the start unchanged.
    int Load(const std::u16string& fileName);
    // Finalises and unloads the module when loaded.
    void Unload();

    bool loaded = false;
    InitializeFn pInitialize = nullptr;
    FinalizeFn pFinalize = nullptr;
    ExecuteActionFn pExecuteAction = nullptr;
    void* module = nullptr;

private:
    void Clear();
};

VOZEZ& Statistics();

// "prv10_%03d" below 35, "prv12_%03d" from 35 on.
std::string ActionCodeText(int action);
// Reports one numbered user action; loads the module on first use. The
// module's answer, 0 when it cannot be loaded.
unsigned char ReportAction(int action);

// Updater. Entry points are looked up at each use.
std::u16string GetUpdaterPath();
int InitUpdater(const std::u16string& productName);
bool ExitUpdater();
unsigned char RunOnlineUpdate();
bool IsUpdaterLoaded();

// The start record handed to the crash reporter.
struct CrashletStartRecord {
    const char16_t* productName = nullptr;
    const char16_t* versionText = nullptr;
    uint32_t zero1 = 0;
    const char16_t* resourceModulePath = nullptr;
    int32_t (*propertyCallback)(void*) = nullptr;
    uint32_t zero2 = 0;
};

// Crash-reporter client.
class Crashlet {
public:
    using ProcessInitializeFn = int (*)(const CrashletStartRecord* record);
    using ProcessFinalizeFn = void (*)();

    Crashlet() = default;
    ~Crashlet();
    Crashlet(const Crashlet&) = delete;
    Crashlet& operator=(const Crashlet&) = delete;

    // Loads the module, resolves its five entry points and starts it; the
    // started flag.
    bool Start(const std::u16string& modulePath, const std::u16string& versionText,
               const std::u16string& resourceModulePath);
    void Stop();
    // The property callback of the start record: adds nothing, answers 1.
    static int32_t AppendProperties(void* argument);

    bool started = false;
    void* module = nullptr;
    ProcessInitializeFn pProcessInitialize = nullptr;
    ProcessFinalizeFn pProcessFinalize = nullptr;
    void* pThreadInitialize = nullptr;
    void* pThreadFinalize = nullptr;
    void* pAppendProperty = nullptr;
    CrashletStartRecord record;

private:
    void Clear();
    std::u16string version_;
    std::u16string resourcePath_;
};
