// The exception list window: the documents excepted from later searches.
#pragma once

#include <QLabel>

#include "core/controls/buttons.h"
#include "core/controls/wnd.h"

class CExceptionConfigurationDlg : public ps::ui::CSkinDialog {
    Q_OBJECT
public:
    enum { IDD = 246, IDC_CLOSE = 1003, IDB_FRAME = 252, IDB_HEADING = 251 };

    explicit CExceptionConfigurationDlg(QWidget* parent = nullptr);

    ps::ui::ImageButton* CloseButton() const { return m_btnClose; }

protected:
    bool OnInitDialog() override;
    void paintEvent(QPaintEvent* e) override;

private:
    ps::ui::ImageButton* m_btnClose;
};
