// The password page of the settings window: the default password of the
// encrypted archives (kept enciphered in the key store) and the default
// archive algorithm.
#pragma once

#include <QLabel>
#include <QString>

#include "core/controls/buttons.h"
#include "core/controls/edits.h"
#include "settings/configpages.h"

class CPasswordSettingPage : public CConfigPageBase {
    Q_OBJECT
public:
    enum {
        IDD = 137,
        IDC_CURRENT = 1055,
        IDC_NEW = 1057,
        IDC_CONFIRM = 1059,
        IDC_CHANGE_LETTER = 1212,
        IDC_ALGORITHM = 1222,
        IDC_AES_EXPLAIN1 = 1223,
        IDC_AES_EXPLAIN2 = 1224,
        IDC_HELP = 1225,
    };

    explicit CPasswordSettingPage(QWidget* parent);
    ~CPasswordSettingPage() override;

    // 0 after showing the length message.
    int ValidatePasswordLength();
    // 1 when done or nothing to do; 0 after a refusal message or when the
    // key store could not be written (WriteFailed tells which).
    int SaveSettings();
    // Removes the stored password, sets the algorithm to AES 256bit and
    // records the event at once; false when the key store refused.
    bool SetDefaults();

    ps::ui::CPasswordInputEdit* CurrentEdit() const { return m_editCurrent; }
    ps::ui::CPasswordInputEdit* NewEdit() const { return m_editNew; }
    ps::ui::CPasswordInputEdit* ConfirmEdit() const { return m_editConfirm; }
    ps::ui::CCheckButtonEx* MaskBox() const { return m_chkMask; }
    ps::ui::CDropDownButton* AlgorithmBox() const { return m_cmbAlgorithm; }
    QLabel* AesExplain(int n) const { return n == 1 ? m_lblAes1 : m_lblAes2; }
    bool HasStoredPassword() const { return !m_strStored.isEmpty(); }
    bool IsCurrentCorrect() const { return m_bCurrentCorrect; }
    bool IsNewValid() const { return m_bNewValid; }
    bool IsPasswordChanged() const { return m_bPasswordChanged; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    void Initialize(bool atCreation);
    void OnCurrentChanged();
    void OnNewChanged(bool fromConfirm);
    void OnMaskClicked();
    void OnAlgorithmChanged(int index);
    void SetPasswordFieldsEnabled(bool enabled);
    void ApplyMask();
    bool StoredPasswordUsable();
    static void Wipe(QString& s);
    void ClearEdits();

    QLabel* m_lblCurrent;
    QLabel* m_lblNew;
    QLabel* m_lblConfirm;
    QLabel* m_lblAes1;
    QLabel* m_lblAes2;
    ps::ui::CPasswordInputEdit* m_editCurrent;
    ps::ui::CPasswordInputEdit* m_editNew;
    ps::ui::CPasswordInputEdit* m_editConfirm;
    ps::ui::CCheckButtonEx* m_chkMask;
    ps::ui::CDropDownButton* m_cmbAlgorithm;
    ps::ui::HyperLinkTransparent* m_linkHelp;

    bool m_bCurrentEntered = false;
    bool m_bCurrentCorrect = false;
    bool m_bConfirmEntered = false;
    bool m_bNewValid = false;
    bool m_bPasswordChanged = false;
    bool m_bAlgorithmChanged = false;
    bool m_bTextsSet = false;
    bool m_bLoading = false;
    // The stored (enciphered) text of CryptPassword; empty when none.
    QString m_strStored;
};
