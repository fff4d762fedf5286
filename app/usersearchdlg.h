// The user search window: folders to search and to leave out, kinds of
// personal information and kinds of documents.
#pragma once

#include <QLabel>
#include <QRect>
#include <array>
#include <string>
#include <vector>

#include "core/controls/buttons.h"
#include "core/controls/shelltree.h"
#include "core/controls/wnd.h"
#include "core/documentkinds.h"
#include "core/records.h"

class CMainDocumentSearchDlg;

class CUserSearchDlg : public ps::ui::CSkinDialog {
    Q_OBJECT
public:
    static constexpr int IDT_RESTORE_SYSMENU = 1507;
    // Check boxes in layout order: seven kinds of personal information,
    // then the document kinds in the order of kDocumentKinds.
    static constexpr int kPersonalInfoBoxes[7] = {1021, 1023, 1025, 1027, 1022, 1024, 1026};
    static constexpr int kDocumentBoxes[] = {1028, 1030, 1032, 1029, 1031};
    static_assert(std::size(kDocumentBoxes) == kDocumentKindCount, "a check box per document kind");

    explicit CUserSearchDlg(CMainDocumentSearchDlg* searchPage, QWidget* parent = nullptr);

    void SetOwnerRect(const QRect& r) { ownerRect_ = r; }
    void InitSelections();
    void ApplyStoredSettings();  // 1041
    void StartSearch();          // 1040
    PersonalInfoMask GetPersonalInfoMask();
    DocumentKindMask GetDocumentKindMask();

    ps::ui::CDriveSelectTree* Tree() const { return tree_; }
    ps::ui::CCheckButtonEx* Box(int id) const;
    const std::vector<std::u16string>& Include() const { return include_; }
    const std::vector<std::u16string>& Exclude() const { return exclude_; }

protected:
    bool OnInitDialog() override;
    void OnTimer(int id) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    Hit HitTest(const QPoint& local) const override;
    void closeEvent(QCloseEvent* e) override;

private:
    void Layout();
    void ToggleMaximize();
    uint32_t MaskOf(const int* ids, int count, int firstAction, const uint32_t* bits);

    CMainDocumentSearchDlg* page_;
    std::vector<std::u16string> include_, exclude_;
    PersonalInfoMask piMask_ = 0;
    DocumentKindMask kindMask_ = 0;
    QRect ownerRect_;
    bool maximized_ = false;
    QRect restoreRect_;
    ps::ui::ImageButton* btnMenu_;
    ps::ui::ImageButton* btnMin_;
    ps::ui::ImageButton* btnMax_;
    ps::ui::ImageButton* btnClose_;
    ps::ui::ImageButton* btnStored_;
    ps::ui::ImageButton* btnSearch_;
    QLabel* labelPath_;
    QLabel* labelKinds_;
    QLabel* labelDocs_;
    ps::ui::CDriveSelectTree* tree_;
    std::array<ps::ui::CCheckButtonEx*, kPersonalInfoKindCount + kDocumentKindCount> boxes_{};
};
