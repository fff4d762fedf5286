#include "app/application.h"

#include <QApplication>

#include "app/maindlg.h"
#include "core/controls/messagebox.h"
#include "core/eventstore/eventstore.h"
#include "core/eventstore/eventtypes.h"
#include "core/logmgr.h"
#include "core/registry.h"
#include "core/uitext.h"
#include "core/util.h"
#include "extract/extractlib.h"
#include "platform/instance.h"
#include "platform/system.h"

namespace {
CPrivasweepApp* g_app = nullptr;
}

CPrivasweepApp::CPrivasweepApp() { g_app = this; }

CPrivasweepApp::~CPrivasweepApp()
{
    if (g_app == this) g_app = nullptr;
}

CPrivasweepApp* CPrivasweepApp::Instance() { return g_app; }

void CPrivasweepApp::StartCrashReporter()
{
    const std::u16string folder = GetModuleFolder(false);
    const std::u16string module = folder + u"/CrashletC.so";
    const std::u16string resources = folder + u"/CrashletC_KR.so";
    const std::u16string version = GetFileVersionText(plat::ProgramPath(), 2) + u"_KOR_FREE";
    crashlet.Start(module, version, resources);
}

bool CPrivasweepApp::InitInstance()
{
    SetTextLanguage(0);
    InitUpdater(u"Privasweep");

    // One program per user: a later start raises the first one's window.
    mutex_ = std::make_unique<plat::SingleInstance>();
    const bool first = mutex_->Acquire([] {
        QMetaObject::invokeMethod(
            qApp,
            [] {
                if (g_app && g_app->mainWindow_) {
                    g_app->mainWindow_->raise();
                    g_app->mainWindow_->activateWindow();
                }
            },
            Qt::QueuedConnection);
    });
    if (!first) {
        secondInstance_ = true;
        return false;
    }

    AppLog().Write(u"Privasweep Start.");
    AllowCloseMessage();
    Statistics().Load(u"VOZEZ.so");
    StartCrashReporter();

    // The event database: copied from the template when missing (its folder
    // is created), opened and migrated once.
    try {
        const std::u16string setAside = StartEventStore();
        if (!setAside.empty()) {
            // The user learns that the recorded history starts again and
            // where the damaged records are kept.
            const std::u16string text =
                u"이벤트 데이터베이스가 손상되어 새 데이터베이스로 시작합니다.\n손상된 파일은 다음 이름으로 보관했습니다.\n" +
                setAside;
            AppLog().Write(u"Damaged event database set aside: %s", setAside.c_str());
            ps::ui::ShowMessageBox(text, u"", 1, nullptr);
        }
    } catch (const CppSQLite3Exception&) {
        const std::u16string text = u"이벤트 데이터베이스를 열 수 없습니다.\n" + EventDatabasePath();
        AppLog().Write(u"OpenEventDatabase failed: %s", text.c_str());
        ps::ui::ShowMessageBox(text, u"", 1, nullptr);
        exitCode_ = 1;
        return false;
    }

    RunMainWindow();
    return false;
}

void CPrivasweepApp::RunMainWindow()
{
    SearchLog().m_strTag = u"EG";
    SearchLog().Write(u"InitializeLibrary()");
    InitializeLibrary();
    {
        CPrivasweepDlg dlg;
        mainWindow_ = &dlg;
        if (runMainWindow) {
            dlg.EnsureInitialized();
            runMainWindow(&dlg);
        } else {
            dlg.DoModal();
        }
        mainWindow_ = nullptr;
    }
    // The main window and every window it opened are gone, and with them
    // every search: no reader runs any more.
    SearchLog().Write(u"FinalizeLibrary()");
    FinalizeLibrary();
}

int CPrivasweepApp::ExitInstance()
{
    if (mutex_) mutex_->Release();
    if (IsEventDatabaseOpen()) {
        try {
            CloseEventDatabase();
        } catch (const CppSQLite3Exception&) {
            AppLog().Write(u"CloseEventDatabase failed.");
            if (exitCode_ == 0) exitCode_ = 1;
        }
    }
    ExitUpdater();
    Statistics().Unload();
    crashlet.Stop();
    AppLog().Write(u"Privasweep End.");
    return exitCode_;
}

int CPrivasweepApp::Run()
{
    InitInstance();
    return ExitInstance();
}
