// The document actions of the search window: the ticked documents of the
// shown result control (or the one document of a row's menu) are deleted,
// encrypted or excepted through the action windows, and the documents
// processed, or found gone, are taken out of every tab.
#include <algorithm>
#include <set>

#include "app/appcore.h"
#include "app/searchdlg.h"
#include "core/controls/messagebox.h"
#include "core/docfiles.h"
#include "core/uitext.h"
#include "platform/wformat.h"

using namespace ps::ui;

namespace {

int RunAction(CAllSearchDlg& owner, CDocumentActionDlg& dlg)
{
    if (owner.actionWindowRunner) return owner.actionWindowRunner(dlg);
    return dlg.DoModal();
}

int CountOpenDocuments(const DocumentList& documents)
{
    std::vector<std::u16string> paths;
    for (const DocumentItem& d : documents) paths.push_back(d.path);
    return CountDocumentsOpenElsewhere(paths);
}

// The document of a result row: its FileInfo row and the identity of the
// file the search read, which the action checks before it acts.
DocumentItem DocumentOfRow(const CFileInfoRecord* row, const std::u16string& path)
{
    const SearchFileInfo* info = row->FileInfo();
    return DocumentItem{path, info ? info->fileIndex : 0, info ? info->identity : plat::FileIdentity{}};
}

std::u16string Formatted(const char16_t* key, int n) { return plat::FormatWide(GetText(key).c_str(), n); }

// Takes out the rows of the processed documents, and every folder row of
// theirs that is left without documents.
void RemoveProcessedRows(CFileReportControl* control, const std::vector<CFileInfoRecord*>& documentRows,
                         const std::vector<size_t>& processed)
{
    std::vector<CFileInfoRecord*> folders;
    for (size_t i : processed) {
        if (i >= documentRows.size()) continue;
        CFileInfoRecord* row = documentRows[i];
        if (CFileInfoRecord* folder = control->ParentRow(row)) {
            if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
        }
        control->RemoveRecord(row);
    }
    for (CFileInfoRecord* folder : folders)
        if (control->ChildCount(folder) == 0) control->RemoveRecord(folder);
}

// After an action: a document it processed, or one that is no longer on
// disk, leaves every tab (not only the one it was chosen in), and the tab
// captions count what is left.
void DropFinishedDocuments(CAllSearchDlg& dlg, const DocumentList& documents, const std::vector<size_t>& processed)
{
    std::set<std::u16string> leaving;
    for (size_t i : processed)
        if (i < documents.size()) leaving.insert(documents[i].path);
    for (const DocumentItem& d : documents)
        if (DocumentIsGone(d.path)) leaving.insert(d.path);
    if (!leaving.empty()) {
        for (int tab = 0; tab < CAllSearchDlg::kTabCount; ++tab) {
            CFileReportControl* control = dlg.Report(tab);
            std::vector<CFileInfoRecord*> rows;
            std::vector<size_t> positions;
            for (int f = 0; f < control->FolderRowCount(); ++f)
                for (int d = 0; CFileInfoRecord* row = control->DocumentRow(f, d); ++d)
                    if (leaving.count(row->GetFullPath())) {
                        positions.push_back(rows.size());
                        rows.push_back(row);
                    }
            RemoveProcessedRows(control, rows, positions);
        }
    }
    dlg.RecountTabCaptions();
}

}  // namespace

bool CAllSearchDlg::CollectTickedDocuments(CFileReportControl* control, std::vector<CFileInfoRecord*>& rows,
                                           DocumentList& documents, std::vector<CFileInfoRecord*>& documentRows)
{
    for (int f = 0; f < control->FolderRowCount(); ++f) {
        CFileInfoRecord* folder = control->FolderRow(f);
        for (int d = 0; CFileInfoRecord* row = control->DocumentRow(f, d); ++d) {
            if (!control->IsChecked(row)) continue;
            rows.push_back(row);
            documentRows.push_back(row);
            documents.push_back(DocumentOfRow(row, row->GetFullPath()));
        }
        if (control->IsChecked(folder)) rows.push_back(folder);
    }
    if (documents.empty()) {
        ShowMessageBox(GetText(u"EMPTY_SELECTED_FILELIST"), u"", 1, this);
        return false;
    }
    return true;
}

int CAllSearchDlg::DeleteRecords(const DocumentList& documents, std::vector<size_t>& processed)
{
    int count = 0;
    CDocumentDeleteDlg dlg(this);
    dlg.SetDocuments(&documents, &count);
    RunAction(*this, dlg);
    processed = dlg.ProcessedPositions();
    return count;
}

int CAllSearchDlg::EncryptRecords(const DocumentList& documents, std::vector<size_t>& processed)
{
    ArchivePasswordOwner choice;
    {
        CPasswordConfirmDlg pw(this);
        pw.SetOwner(&choice);
        const int result = passwordWindowRunner ? passwordWindowRunner(pw) : pw.DoModal();
        if (result != IDOK) return 0;
    }
    int count = 0;
    CDocumentEncryptDlg dlg(this);
    dlg.SetDocuments(&documents, &count);
    dlg.SetPassword(choice.password);
    dlg.SetAlgorithm(choice.algorithm);
    std::fill(choice.password.begin(), choice.password.end(), u'\0');
    choice.password.clear();
    RunAction(*this, dlg);
    processed = dlg.ProcessedPositions();
    return count;
}

int CAllSearchDlg::ExceptRecords(const DocumentList& documents, std::vector<size_t>& processed)
{
    int count = 0;
    CDocumentExceptionDlg dlg(this, 0);
    dlg.SetDocuments(&documents, &count);
    RunAction(*this, dlg);
    processed = dlg.ProcessedPositions();
    return count;
}

void CAllSearchDlg::RecountTabCaptions()
{
    std::array<int, kTabCount> counts{};
    for (int i = 0; i < kTabCount; ++i) counts[i] = m_reports[i]->DocumentRowCount();
    SetTabCaptions(counts);
}

namespace {
enum class Action { Delete, Encrypt, Except };
}

static void RunOnTicked(CAllSearchDlg& dlg, Action action)
{
    Act(action == Action::Encrypt ? 5 : action == Action::Delete ? 6 : 7);
    CFileReportControl* control = dlg.Report(dlg.CurrentTab());
    std::vector<CFileInfoRecord*> rows, documentRows;
    DocumentList documents;
    if (!dlg.CollectTickedDocuments(control, rows, documents, documentRows)) return;
    if (action != Action::Except) {
        const int open = CountOpenDocuments(documents);
        if (open > 0) {
            ShowMessageBox(Formatted(action == Action::Delete ? u"DELETE_MSG_OPENED_FILE_EXIST"
                                                              : u"ENCRYPT_MSG_OPENED_FILE_EXIST",
                                     open),
                           u"", 1, &dlg);
            return;
        }
    }
    if (action == Action::Delete && ShowMessageBox(GetText(u"DELETE_EXPLAIN"), u"", 0, &dlg) != IDOK) return;
    std::vector<size_t> processed;
    switch (action) {
    case Action::Delete: dlg.DeleteRecords(documents, processed); break;
    case Action::Encrypt: dlg.EncryptRecords(documents, processed); break;
    case Action::Except: dlg.ExceptRecords(documents, processed); break;
    }
    DropFinishedDocuments(dlg, documents, processed);
}

void CAllSearchDlg::OnBnClickedDelete() { RunOnTicked(*this, Action::Delete); }
void CAllSearchDlg::OnBnClickedEncrypt() { RunOnTicked(*this, Action::Encrypt); }
void CAllSearchDlg::OnBnClickedExcept() { RunOnTicked(*this, Action::Except); }

void CAllSearchDlg::OnRowCommand(RowCommand command, CFileInfoRecord* row, const std::u16string& pathText)
{
    switch (command) {
    case RowCommand::Open:
        Act(8);
        OpenOrSayWhy(pathText, this);
        return;
    case RowCommand::ExpandAll:
        Act(13);
        m_reports[m_current]->expandAll();
        return;
    case RowCommand::CollapseAll:
        Act(12);
        m_reports[m_current]->collapseAll();
        return;
    case RowCommand::Properties:
        Act(14);
        ShowDocumentProperties(pathText, this);
        return;
    case RowCommand::Encrypt:
    case RowCommand::Delete:
    case RowCommand::Except: break;
    }
    const Action action = command == RowCommand::Encrypt  ? Action::Encrypt
                          : command == RowCommand::Delete ? Action::Delete
                                                          : Action::Except;
    Act(action == Action::Encrypt ? 9 : action == Action::Delete ? 10 : 11);
    if (!row || pathText.empty()) return;
    const std::u16string path = pathText;
    if (action != Action::Except && IsDocumentOpenElsewhere(path)) {
        ShowMessageBox(Formatted(action == Action::Delete ? u"DELETE_MSG_OPENED_FILE_EXIST"
                                                          : u"ENCRYPT_MSG_OPENED_FILE_EXIST",
                                 1),
                       u"", 1, this);
        return;
    }
    if (action == Action::Delete && ShowMessageBox(GetText(u"DELETE_EXPLAIN"), u"", 0, this) != IDOK) return;
    const DocumentList documents{DocumentOfRow(row, path)};
    std::vector<size_t> processed;
    switch (action) {
    case Action::Delete: DeleteRecords(documents, processed); break;
    case Action::Encrypt: EncryptRecords(documents, processed); break;
    case Action::Except: ExceptRecords(documents, processed); break;
    }
    DropFinishedDocuments(*this, documents, processed);
}
