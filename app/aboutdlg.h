// The about window: program information and the licence text.
#pragma once

#include <QLabel>
#include <QPlainTextEdit>

#include "core/controls/buttons.h"
#include "core/controls/edits.h"
#include "core/controls/wnd.h"

class CProgramInfo : public QWidget {
    Q_OBJECT
public:
    explicit CProgramInfo(QWidget* parent);
    QLabel* Version() const { return version_; }
    QLabel* Link() const { return link_; }

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    QLabel* picture_ = nullptr;
    QLabel* link_;
    QLabel* version_;
};

class CLicenseInfo : public QWidget {
    Q_OBJECT
public:
    explicit CLicenseInfo(QWidget* parent);
    QPlainTextEdit* Text() const { return text_; }
    // The licence text of a file: UTF-8 when it is valid UTF-8, else code
    // page 949; empty when the file is missing or unreadable.
    static QString ReadLicenseText(const QString& path);

protected:
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    QPlainTextEdit* text_;
};

class CAboutInfoDlg : public ps::ui::CSkinDialog {
    Q_OBJECT
public:
    explicit CAboutInfoDlg(QWidget* parent = nullptr);
    void SelectPage(int tabId);  // 1187 program, 1188 licence
    CProgramInfo* ProgramPage() const { return program_; }
    CLicenseInfo* LicensePage() const { return license_; }
    QWidget* CurrentPage() const { return current_; }

protected:
    bool OnInitDialog() override;
    void paintEvent(QPaintEvent* e) override;
    bool event(QEvent* e) override;

private:
    void Layout();
    CProgramInfo* program_;
    CLicenseInfo* license_;
    QWidget* current_;
    ps::ui::CTabButton* tabProgram_;
    ps::ui::CTabButton* tabLicense_;
    ps::ui::CTabButton* currentTab_;
    ps::ui::ImageButton* btnClose_;
};
