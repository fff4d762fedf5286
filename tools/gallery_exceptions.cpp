// The exception list and the error report for ui-gallery: the list with
// rows (one excepted from the error report) and its detail panel open and
// closed, the empty list, and the error report with a short and a long path.
#include <QApplication>
#include <QTemporaryDir>
#include <functional>

#include "platform/crashnote.h"
#include "platform/system.h"
#include "platform/text.h"
#include <cstdio>
#include "app/appcore.h"
#include "app/errorreportdlg.h"
#include "app/exceptionlistdlg.h"
#include "core/eventstore/eventstore.h"
#include "core/eventstore/eventtables.h"
#include "core/eventstore/eventtypes.h"
#include "core/registry.h"

using namespace ps::ui;

using SaveFn = std::function<void(const QString&, QWidget*)>;

void ExceptionWindowGallery(const SaveFn& save)
{
    QTemporaryDir tmp;
    try {
        StartEventStore(FromQ(tmp.path()) + u"/events.db", TemplateDatabasePath());
    } catch (...) {
        std::fprintf(stderr, "no event database: the exception windows are left out\n");
        return;
    }
    {
        CExceptionConfigurationDlg dlg;
        dlg.setAttribute(Qt::WA_DontShowOnScreen);
        dlg.EnsureInitialized();
        dlg.show();
        save("exception-list-empty", &dlg);
        dlg.hide();
    }
    const struct {
        const char16_t* folder;
        const char16_t* name;
        PersonalInfoCounts counts;
        int32_t type;
    } docs[] = {
        {u"/home/user/문서/인사기록", u"직원 연락처.hwp", {12, 0, 0, 30, 4, 8, 0}, 0x10000},
        {u"/home/user/문서", u"2024 고객 명단.xlsx", {250, 12, 3, 250, 180, 77, 0}, 0x10000},
        {u"/home/user/다운로드", u"손상된 보고서.docx", {}, 0x70000},
        {u"/home/user/문서/계약/2023년/하반기/협력업체/서명본", u"업무 위탁 계약서 사본 (최종 서명본, 법무팀 확인 완료).pdf",
         {1, 1, 0, 2, 1, 1, 0}, 0x10000},
        {u"/home/user/문서", u"회의록.ppt", {0, 0, 0, 3, 0, 2, 1}, 0x10000},
    };
    const int64_t added = AddEvent(0x10000);
    const int64_t fromError = AddEvent(0x70000);
    int n = 0;
    for (const auto& d : docs) {
        SearchFileInfo record;
        record.SetFolderAndName(d.folder, d.name);
        record.documentKey = u"GALLERY" + std::u16string(1, static_cast<char16_t>(u'A' + n++));
        AddExceptionInfo(AddFileInfoRow(d.counts, record), d.type == 0x70000 ? fromError : added);
    }
    {
        CExceptionConfigurationDlg dlg;
        dlg.setAttribute(Qt::WA_DontShowOnScreen);
        dlg.EnsureInitialized();
        dlg.show();
        dlg.Report()->SetChecked(dlg.Report()->Record(1), true);
        dlg.Report()->setCurrentIndex(dlg.Report()->IndexOf(dlg.Report()->Record(1)));
        save("exception-list", &dlg);
        dlg.OnBnClickedToggle();
        save("exception-list-panel-closed", &dlg);
        dlg.hide();
    }
    const std::u16string paths[] = {
        u"/home/user/다운로드/손상된 보고서.docx",
        u"/home/user/문서/계약/2023년/하반기/협력업체/서명본/업무 위탁 계약서 사본 (최종 서명본, 법무팀 확인 완료).pdf",
    };
    int i = 0;
    for (const auto& path : paths) {
        // The first as a reader's fault names it, the second among the
        // documents in hand when the run was killed.
        WriteRegistryString(HKEY_CURRENT_USER_ROOT, kRunKey, u"lastCheckFile", path + u"\n/home/user/other.hwp", false);
        plat::ClearCrashNote();
        if (i == 0) {
            plat::MakeDirs(plat::VendorSubdir(plat::StateDir()));
            if (FILE* f = std::fopen(plat::PathToNative(plat::CrashNotePath()).c_str(), "wb")) {
                const std::string line = plat::PathToNative(path) + "\n";
                std::fwrite(line.data(), 1, line.size(), f);
                std::fclose(f);
            }
        }
        CErrorReportDlg dlg;
        dlg.setAttribute(Qt::WA_DontShowOnScreen);
        dlg.EnsureInitialized();
        dlg.show();
        save(i++ == 0 ? "error-report" : "error-report-several", &dlg);
        dlg.hide();
    }
    DeleteLastCheckFile();
    ExitEventDatabase();
}
