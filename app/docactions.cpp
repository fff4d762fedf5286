// The document actions of the search window (app/docactions.h).
#include "app/docactions.h"

#include <algorithm>
#include <set>

#include "app/appcore.h"
#include "core/controls/messagebox.h"
#include "core/docfiles.h"
#include "core/uitext.h"
#include "platform/wformat.h"

using namespace ps::ui;

namespace {

using Action = CSearchDocumentActions::Action;

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

// The message when n of the chosen documents are held open elsewhere.
std::u16string OpenElsewhereText(Action action, int n)
{
    return Formatted(action == Action::Delete ? u"DELETE_MSG_OPENED_FILE_EXIST" : u"ENCRYPT_MSG_OPENED_FILE_EXIST", n);
}

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

}  // namespace

void CSearchDocumentActions::DropFinishedDocuments(const DocumentList& documents, const std::vector<size_t>& processed)
{
    std::set<std::u16string> leaving;
    for (size_t i : processed)
        if (i < documents.size()) leaving.insert(documents[i].path);
    for (const DocumentItem& d : documents)
        if (DocumentIsGone(d.path)) leaving.insert(d.path);
    if (!leaving.empty()) {
        for (CFileReportControl* control : host_.AllReports()) {
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
    host_.RecountTabCaptions();
}

bool CSearchDocumentActions::CollectTickedDocuments(CFileReportControl* control, std::vector<CFileInfoRecord*>& rows,
                                                    DocumentList& documents,
                                                    std::vector<CFileInfoRecord*>& documentRows)
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
        ShowMessageBox(GetText(u"EMPTY_SELECTED_FILELIST"), u"", 1, host_.ActionOwner());
        return false;
    }
    return true;
}

int CSearchDocumentActions::DeleteRecords(const DocumentList& documents, std::vector<size_t>& processed)
{
    int count = 0;
    CDocumentDeleteDlg dlg(host_.ActionOwner());
    dlg.SetDocuments(&documents, &count);
    host_.RunActionWindow(dlg);
    processed = dlg.ProcessedPositions();
    return count;
}

int CSearchDocumentActions::EncryptRecords(const DocumentList& documents, std::vector<size_t>& processed)
{
    ArchivePasswordOwner choice;
    {
        CPasswordConfirmDlg pw(host_.ActionOwner());
        pw.SetOwner(&choice);
        if (host_.RunPasswordWindow(pw) != IDOK) return 0;
    }
    int count = 0;
    CDocumentEncryptDlg dlg(host_.ActionOwner());
    dlg.SetDocuments(&documents, &count);
    dlg.SetPassword(choice.password);
    dlg.SetAlgorithm(choice.algorithm);
    std::fill(choice.password.begin(), choice.password.end(), u'\0');
    choice.password.clear();
    host_.RunActionWindow(dlg);
    processed = dlg.ProcessedPositions();
    return count;
}

int CSearchDocumentActions::ExceptRecords(const DocumentList& documents, std::vector<size_t>& processed)
{
    int count = 0;
    CDocumentExceptionDlg dlg(host_.ActionOwner(), 0);
    dlg.SetDocuments(&documents, &count);
    host_.RunActionWindow(dlg);
    processed = dlg.ProcessedPositions();
    return count;
}

int CSearchDocumentActions::RunAction(Action action, const DocumentList& documents, std::vector<size_t>& processed)
{
    switch (action) {
    case Action::Delete: return DeleteRecords(documents, processed);
    case Action::Encrypt: return EncryptRecords(documents, processed);
    case Action::Except: return ExceptRecords(documents, processed);
    }
    return 0;
}

void CSearchDocumentActions::RunOnTicked(Action action)
{
    Act(action == Action::Encrypt ? 5 : action == Action::Delete ? 6 : 7);
    std::vector<CFileInfoRecord*> rows, documentRows;
    DocumentList documents;
    if (!CollectTickedDocuments(host_.ShownReport(), rows, documents, documentRows)) return;
    if (action != Action::Except) {
        const int open = CountOpenDocuments(documents);
        if (open > 0) {
            ShowMessageBox(OpenElsewhereText(action, open), u"", 1, host_.ActionOwner());
            return;
        }
    }
    if (action == Action::Delete && ShowMessageBox(GetText(u"DELETE_EXPLAIN"), u"", 0, host_.ActionOwner()) != IDOK)
        return;
    std::vector<size_t> processed;
    RunAction(action, documents, processed);
    DropFinishedDocuments(documents, processed);
}

void CSearchDocumentActions::RunOnRow(Action action, CFileInfoRecord* row, const std::u16string& pathText)
{
    Act(action == Action::Encrypt ? 9 : action == Action::Delete ? 10 : 11);
    if (!row || pathText.empty()) return;
    // The row may leave its control below: the path is kept apart from it.
    const std::u16string path = pathText;
    if (action != Action::Except && IsDocumentOpenElsewhere(path)) {
        ShowMessageBox(OpenElsewhereText(action, 1), u"", 1, host_.ActionOwner());
        return;
    }
    if (action == Action::Delete && ShowMessageBox(GetText(u"DELETE_EXPLAIN"), u"", 0, host_.ActionOwner()) != IDOK)
        return;
    const DocumentList documents{DocumentOfRow(row, path)};
    std::vector<size_t> processed;
    RunAction(action, documents, processed);
    DropFinishedDocuments(documents, processed);
}
