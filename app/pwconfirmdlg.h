// The password window of an encryption: asks for the archive password twice
// and the algorithm, can take the stored ones instead, and hands both to its
// owner (the search window).
#pragma once

#include <QLabel>
#include <QPixmap>
#include <string>

#include "core/controls/buttons.h"
#include "core/controls/edits.h"
#include "core/controls/wnd.h"

// What receives the chosen password and algorithm (1 ZIP 2.0, 2 AES-128,
// 3 AES-256).
struct ArchivePasswordOwner {
    std::u16string password;
    int algorithm = 3;
};

class CPasswordConfirmDlg : public ps::ui::CSkinDialog {
    Q_OBJECT
public:
    enum Control {
        IDD = 175,
        IDC_TITLE = 1092,
        IDC_CLOSE_X = 1003,
        IDC_EXPLAIN1 = 1093,
        IDC_EXPLAIN2 = 1095,
        IDC_SUB_EXPLAIN1 = 1094,
        IDC_SUB_EXPLAIN2 = 1096,
        IDC_PASSWORD_LABEL = 1078,
        IDC_CONFIRM_LABEL = 1079,
        IDC_PASSWORD = 1080,
        IDC_CONFIRM = 1081,
        IDC_CHANGE_LETTER = 1212,
        IDC_USE_STORED_PASSWORD = 1213,
        IDC_ALGORITHM_LABEL = 1226,
        IDC_ALGORITHM = 1222,
        IDC_HELP = 1228,
        IDC_USE_STORED_ALGORITHM = 1229,
        IDC_AES_EXPLAIN1 = 1230,
        IDC_AES_EXPLAIN2 = 1231,
        IDC_OK = 1083,
        IDC_CANCEL = 1211,
    };

    explicit CPasswordConfirmDlg(QWidget* parent = nullptr);
    ~CPasswordConfirmDlg() override;
    // The owner that receives the password and the algorithm on OK (may be none).
    void SetOwner(ArchivePasswordOwner* owner) { m_owner = owner; }

    // The algorithm value handed over for a list index (1, 2 or 3).
    static int AlgorithmValue(int index);

    // Commands (tests drive these).
    void OnBnClickedOk();
    void OnBnClickedChangeLetter();
    void OnBnClickedUseStoredPassword();
    void OnBnClickedUseStoredAlgorithm();
    void OnSelChangeAlgorithm();
    void OnTyped();

    ps::ui::CPasswordInputEdit* PasswordEdit() const { return m_password; }
    ps::ui::CPasswordInputEdit* ConfirmEdit() const { return m_confirm; }
    ps::ui::CCheckButtonEx* ChangeLetterCheck() const { return m_changeLetter; }
    ps::ui::CCheckButtonEx* UseStoredPasswordCheck() const { return m_useStored; }
    ps::ui::CCheckButtonEx* UseStoredAlgorithmCheck() const { return m_useStoredAlgorithm; }
    ps::ui::CDropDownButton* AlgorithmList() const { return m_algorithm; }
    QLabel* AesExplain1() const { return m_aes1; }
    ps::ui::ImageButton* OkButton() const { return m_ok; }
    bool Valid() const { return m_valid; }
    bool ConfirmEntered() const { return m_confirmEntered; }

protected:
    bool OnInitDialog() override;
    void OnOK() override { OnBnClickedOk(); }
    void paintEvent(QPaintEvent* e) override;

public:
    // What the fields show while the stored password is in use.
    static constexpr char16_t kStoredMask[] = u"********";

private:
    void ApplyMasking();
    void PlaceButtons();
    void ClearFields();

    ArchivePasswordOwner* m_owner = nullptr;
    int m_valid = 0;
    int m_confirmEntered = 0;
    int m_previousSelection = 2;
    // The stored password is in use: the fields show kStoredMask, which
    // tells neither its characters nor its length, and m_stored holds it.
    bool m_storedShown = false;
    QString m_stored;
    QChar m_maskChar = QChar(u'*');
    QPixmap m_background;

    QLabel* m_title = nullptr;
    QLabel* m_explain1 = nullptr;
    QLabel* m_explain2 = nullptr;
    QLabel* m_sub1 = nullptr;
    QLabel* m_sub2 = nullptr;
    QLabel* m_pwLabel = nullptr;
    QLabel* m_confirmLabel = nullptr;
    QLabel* m_algorithmLabel = nullptr;
    QLabel* m_aes1 = nullptr;
    QLabel* m_aes2 = nullptr;
    ps::ui::CPasswordInputEdit* m_password = nullptr;
    ps::ui::CPasswordInputEdit* m_confirm = nullptr;
    ps::ui::CCheckButtonEx* m_changeLetter = nullptr;
    ps::ui::CCheckButtonEx* m_useStored = nullptr;
    ps::ui::CCheckButtonEx* m_useStoredAlgorithm = nullptr;
    ps::ui::CDropDownButton* m_algorithm = nullptr;
    ps::ui::HyperLinkTransparent* m_help = nullptr;
    ps::ui::ImageButton* m_ok = nullptr;
    ps::ui::ImageButton* m_cancel = nullptr;
    ps::ui::ImageButton* m_btnX = nullptr;
};
