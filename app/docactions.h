// The document actions of the search window: the ticked documents of the
// shown result control (or the one document of a row's menu) are deleted,
// encrypted or excepted through the action windows, and the documents
// processed, or found gone, are taken out of every result control.
//
// The actions know their window only through CSearchDocumentActions::Host:
// the result controls, the tab captions, the owner of the windows they open
// and the modal runs of those windows (where the window's test seams go).
#pragma once

#include <string>
#include <vector>

#include "app/actiondlg.h"
#include "app/filereport.h"
#include "app/pwconfirmdlg.h"

class QWidget;

class CSearchDocumentActions {
public:
    enum class Action { Delete, Encrypt, Except };

    // What the actions need of the window they act for.
    class Host {
    public:
        // The result control shown: the buttons act on its ticked documents.
        virtual CFileReportControl* ShownReport() const = 0;
        // Every result control: a finished document leaves each of them.
        virtual std::vector<CFileReportControl*> AllReports() const = 0;
        // Counts the tab captions again from the rows each control holds.
        virtual void RecountTabCaptions() = 0;
        // The owner of the message boxes and of the action windows.
        virtual QWidget* ActionOwner() = 0;
        // Runs an action window, or the password window, to its end (a modal
        // run unless a test seam stands in for it); returns its result.
        virtual int RunActionWindow(CDocumentActionDlg& dlg) = 0;
        virtual int RunPasswordWindow(CPasswordConfirmDlg& dlg) = 0;

    protected:
        ~Host() = default;
    };

    explicit CSearchDocumentActions(Host& host) : host_(host) {}

    // The buttons' commands: the statistics action, the ticked documents of
    // the shown control (nothing ticked is said and ends there), the check
    // for documents held open elsewhere (delete and encrypt), the question
    // before a deletion, the action window, then DropFinishedDocuments.
    void RunOnTicked(Action action);
    // The same for the one document of a row's menu (`path` is the row's
    // document); a missing row or path ends after the statistics action.
    void RunOnRow(Action action, CFileInfoRecord* row, const std::u16string& path);

    // The ticked documents of a control: the ticked rows (a ticked folder row
    // after its ticked documents), and per document its item and its row.
    // Nothing ticked is said in a message box and gives false.
    bool CollectTickedDocuments(CFileReportControl* control, std::vector<CFileInfoRecord*>& rows,
                                DocumentList& documents, std::vector<CFileInfoRecord*>& documentRows);
    // Run the action windows; each returns the number processed and fills
    // the list positions of the processed documents. Encrypt asks for the
    // password first and does nothing when it is not given.
    int DeleteRecords(const DocumentList& documents, std::vector<size_t>& processed);
    int EncryptRecords(const DocumentList& documents, std::vector<size_t>& processed);
    int ExceptRecords(const DocumentList& documents, std::vector<size_t>& processed);
    // After an action: a document at a processed position, or one no longer
    // on disk, leaves every control (not only the one it was chosen in),
    // with every folder row it leaves empty; then the captions are counted
    // again.
    void DropFinishedDocuments(const DocumentList& documents, const std::vector<size_t>& processed);

private:
    int RunAction(Action action, const DocumentList& documents, std::vector<size_t>& processed);

    Host& host_;
};
