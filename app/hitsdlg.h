// The window that lists the personal information found in one document (its
// stored, masked hits by kind) and opens the document.
#pragma once

#include <QLabel>
#include <QPixmap>
#include <cstdint>
#include <functional>
#include <string>

#include "core/controls/buttons.h"
#include "core/controls/edits.h"
#include "core/controls/wnd.h"
#include "core/eventstore/eventqueries.h"
#include "core/records.h"

class CPersonalInfoDlg : public ps::ui::CSkinDialog {
    Q_OBJECT
public:
    enum Control {
        IDD = 273,
        IDC_HITS = 1193,
        IDC_CLOSE_X = 1004,
        IDC_OPEN_DOCUMENT = 1217,
        IDC_CLOSE = 1069,
        IDC_HEADING = 1219,
    };

    explicit CPersonalInfoDlg(QWidget* parent = nullptr);
    // The document (not owned) and the kinds to show (mask bits; every kind
    // by default).
    void SetFileInfo(const SearchFileInfo* record) { m_record = record; }
    void SetPersonalInfoMask(::PersonalInfoMask mask) { m_mask = mask; }
    ::PersonalInfoMask PersonalInfoMask() const { return m_mask; }

    // The text of the hits: an empty line, then per kind with hits a heading,
    // the hits and an empty line.
    static std::u16string BuildHitsText(const PersonalInfoTextLists& lists, ::PersonalInfoMask mask);

    void OnBnClickedOpenDocument();

    // Runs the window modally, or through the test hook when one is set.
    static int Run(CPersonalInfoDlg& dlg);
    static std::function<int(CPersonalInfoDlg&)>& RunHook();
    ps::ui::CommentEdit* HitsEdit() const { return m_edit; }

protected:
    bool OnInitDialog() override;
    void paintEvent(QPaintEvent* e) override;

private:
    const SearchFileInfo* m_record = nullptr;
    ::PersonalInfoMask m_mask = 0xFFFF;
    QPixmap m_background;
    ps::ui::CommentEdit* m_edit = nullptr;
    QLabel* m_heading = nullptr;
    ps::ui::ImageButton* m_btnX = nullptr;
    ps::ui::ImageButton* m_btnOpen = nullptr;
    ps::ui::ImageButton* m_btnClose = nullptr;
};
