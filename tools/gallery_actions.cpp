// The document action windows for ui-gallery: the delete, encrypt and
// exception windows while running, finished and cancelled, the password
// window with its fields masked and shown, and the hits window.
#include <QApplication>
#include <QTemporaryDir>
#include <functional>

#include "app/actiondlg.h"
#include "app/hitsdlg.h"
#include "app/pwconfirmdlg.h"
#include "core/eventstore/eventstore.h"
#include "core/eventstore/eventtables.h"
#include "core/eventstore/eventtypes.h"
#include "core/uitext.h"
#include "platform/wformat.h"

using namespace ps::ui;

using SaveFn = std::function<void(const QString&, QWidget*)>;

namespace {

// Shows a window in one state without letting it act: its timers are
// stopped before the event loop could run them.
void Freeze(CDocumentActionDlg& dlg)
{
    dlg.EnsureInitialized();
    for (int t : {CDocumentActionDlg::IDT_ACTION_START, CDocumentActionDlg::IDT_ACTION_STEP,
                  CDocumentActionDlg::IDT_ACTION_COMPLETE, CDocumentActionDlg::IDT_ACTION_CANCELLED})
        dlg.KillTimer(t);
    dlg.setAttribute(Qt::WA_DontShowOnScreen);
    dlg.show();
}

void States(CDocumentActionDlg& dlg, const QString& name, const DocumentList& list, const char16_t* explain,
            const SaveFn& save)
{
    Freeze(dlg);
    const int n = static_cast<int>(list.size());
    dlg.Line1()->setText(ToQ(GetText(u"STATE_ING")));
    // As the window writes it: the path cut in its middle, the count whole.
    dlg.Line2()->SetPathLine(QString(), ToQ(list[1].path), QStringLiteral(" (2/%1)").arg(n));
    dlg.Progress()->setValue(1);
    save("action-" + name + "-running", &dlg);
    dlg.Line1()->setText(ToQ(GetText(u"STATE_CANCEL")));
    dlg.Line2()->setText(ToQ(GetText(u"STATE_FIN_EXPLAIN")));
    dlg.Progress()->setValue(2);
    dlg.StopButton()->LoadBitmapStrip(218, 2);
    save("action-" + name + "-cancelled", &dlg);
    dlg.Line1()->setText(ToQ(GetText(u"STATE_FIN")));
    dlg.Line2()->setText(ToQ(GetText(explain)));
    dlg.Progress()->setValue(n);
    save("action-" + name + "-finished", &dlg);
    dlg.hide();
}

}  // namespace

void ActionWindowGallery(const SaveFn& save)
{
    QTemporaryDir tmp;
    try {
        StartEventStore(FromQ(tmp.path()) + u"/events.db", TemplateDatabasePath());
    } catch (...) {
        std::fprintf(stderr, "no event database: the action windows are left out\n");
        return;
    }
    Seams().messageBox = [](const std::u16string&, const std::u16string&, int, QWidget*) { return IDOK; };
    const DocumentList list = {
        {u"/home/user/문서/2024 고객 명단.xlsx", 1},
        {u"/home/user/문서/인사기록/직원 연락처.hwp", 2},
        {u"/home/user/문서/계약서 사본.pdf", 3},
        {u"/home/user/다운로드/회원가입 신청서.docx", 4},
    };
    int count = 0;
    {
        CDocumentDeleteDlg dlg;
        dlg.SetDocuments(&list, &count);
        States(dlg, "delete", list, u"STATE_FIN_EXPLAIN", save);
    }
    {
        CDocumentEncryptDlg dlg;
        dlg.SetDocuments(&list, &count);
        States(dlg, "encrypt", list, u"STATE_FIN_EXPLAIN", save);
    }
    {
        CDocumentExceptionDlg dlg(nullptr, 0);
        dlg.SetDocuments(&list, &count);
        States(dlg, "except", list, u"STATE_FIN_EXCEPTION_EXPLAIN", save);
    }
    {
        CDocumentDeleteDlg dlg;
        dlg.SetDocuments(&list, &count);
        Freeze(dlg);
        dlg.Line1()->setText(ToQ(GetText(u"STATE_FIN")));
        dlg.Line2()->setText(ToQ(plat::FormatWide(CDocumentActionDlg::kNotHandledText, 1)));
        dlg.Progress()->setValue(4);
        dlg.StopButton()->LoadBitmapStrip(218, 2);
        save("action-delete-finished-not-handled", &dlg);
        dlg.hide();
    }
    {
        CDocumentEncryptDlg dlg;
        dlg.SetDocuments(&list, &count);
        Freeze(dlg);
        dlg.Line1()->setText(ToQ(GetText(u"STATE_FIN")));
        dlg.Line2()->setText(ToQ(plat::FormatWide(CDocumentActionDlg::kNotHandledText, 2)));
        dlg.ReasonLine()->setText(ToQ(plat::FormatWide(CDocumentActionDlg::kNotHandledReasonText,
                                                       u"압축 파일을 쓰지 못함 (디스크 공간 부족) 외")));
        dlg.ReasonLine()->show();
        dlg.Progress()->setValue(4);
        dlg.StopButton()->LoadBitmapStrip(218, 2);
        save("action-encrypt-finished-not-handled", &dlg);
        dlg.hide();
    }
    for (bool masked : {true, false}) {
        ArchivePasswordOwner owner;
        CPasswordConfirmDlg dlg;
        dlg.SetOwner(&owner);
        dlg.setAttribute(Qt::WA_DontShowOnScreen);
        dlg.EnsureInitialized();
        if (!masked) dlg.ChangeLetterCheck()->click();
        dlg.PasswordEdit()->setText("secret-01");
        dlg.ConfirmEdit()->setText(masked ? "secret-01" : "secret-0");
        dlg.PasswordEdit()->deselect();
        dlg.ConfirmEdit()->deselect();
        dlg.show();
        save(masked ? "password-confirm-masked" : "password-confirm-shown", &dlg);
        if (masked) {
            dlg.AlgorithmList()->setCurrentIndex(0);
            save("password-confirm-zip20", &dlg);
        }
        dlg.hide();
    }
    {
        SearchFileInfo record;
        record.SetFolderAndName(u"/home/user/문서/인사기록", u"직원 연락처.hwp");
        record.documentKey = u"GALLERY";
        PersonalInfoCounts counts;
        counts[kPersonalInfoResidentNumber] = 2;
        counts[kPersonalInfoPhoneNumber] = 2;
        counts[kPersonalInfoEMail] = 1;
        record.fileIndex = AddFileInfoRow(counts, record);
        AddPersonalInfo(record.fileIndex, {{kPersonalInfoResidentNumber, u"800101-1234560"},
                                           {kPersonalInfoResidentNumber, u"901231-2345678"},
                                           {kPersonalInfoPhoneNumber, u"010-2345-6789"},
                                           {kPersonalInfoPhoneNumber, u"02-345-6789"},
                                           {kPersonalInfoEMail, u"hong.gildong@example.com"}});
        CPersonalInfoDlg dlg;
        dlg.SetFileInfo(&record);
        dlg.setAttribute(Qt::WA_DontShowOnScreen);
        dlg.EnsureInitialized();
        dlg.show();
        save("hits-window", &dlg);
        dlg.hide();
    }
    Seams() = UiSeams();
    ExitEventDatabase();
}
