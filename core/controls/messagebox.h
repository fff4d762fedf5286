// The program's one message box: a skinned modal box with a caption line,
// the message, a close button and one or two buttons.
#pragma once

#include <QLabel>
#include <QPixmap>
#include <string>

#include "core/controls/buttons.h"
#include "core/controls/wnd.h"

namespace ps::ui {

// Shows the box modally: type 0 OK and Cancel, 1 OK only. An empty caption
// shows the default caption. IDOK for OK or Enter; IDCANCEL for Cancel, the
// close button or Escape.
int ShowMessageBox(std::u16string text, std::u16string caption, int type, QWidget* parent);

class CMessageBox : public CSkinDialog {
    Q_OBJECT
public:
    enum {
        IDD = 223,
        IDC_CAPTION = 1101,
        IDC_CLOSE = 1003,
        IDC_OK = 1068,
        IDC_CANCEL = 1069,
        IDC_MESSAGE = 1097,
        IDB_BACKGROUND = 224,
        IDB_OK = 195,
        IDB_CANCEL = 194,
        IDB_CLOSE = 155,
        IDB_CLOSE_PRESSED = 157,
        IDB_CLOSE_HOVER = 156,
    };
    // The message is never wider than this before it wraps.
    static constexpr int kMaxTextWidth = 640;

    explicit CMessageBox(QWidget* parent = nullptr);

    void SetType(int type) { type_ = type; }
    void SetText(std::u16string text) { text_ = std::move(text); }
    void SetCaption(std::u16string caption) { caption_ = std::move(caption); }

    // Controls, for owners' tests.
    QLabel* CaptionLabel() const { return captionLabel_; }
    QLabel* MessageLabel() const { return messageLabel_; }
    ImageButton* OkButton() const { return ok_; }
    ImageButton* CancelButton() const { return cancel_; }
    ImageButton* CloseButton() const { return close_; }

protected:
    bool OnInitDialog() override;
    void paintEvent(QPaintEvent* e) override;

private:
    void LoadSkin();
    void SetTexts();
    void ArrangeControls();

    int type_ = 0;
    std::u16string text_;
    std::u16string caption_;
    QLabel* captionLabel_;
    QLabel* messageLabel_;
    ImageButton* close_;
    ImageButton* ok_;
    ImageButton* cancel_;
    QPixmap background_;
};

}  // namespace ps::ui
