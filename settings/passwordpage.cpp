#include "settings/passwordpage.h"

#include <QPainter>
#include <QSignalBlocker>
#include <algorithm>

#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/controls/wnd.h"
#include "core/crypt.h"
#include "core/eventstore/eventtables.h"
#include "core/registry.h"
#include "core/uitext.h"

using namespace ps::ui;

namespace {

// The encryption help has no page to open yet: the link is disabled.
const char kCryptHelpUrl[] = "";
constexpr int kMinPasswordLength = 6;
const QColor kFieldFrame(199, 199, 197);

void WipeWide(std::u16string& s)
{
    std::fill(s.begin(), s.end(), u'\0');
    s.clear();
}

}  // namespace

CPasswordSettingPage::CPasswordSettingPage(QWidget* parent) : CConfigPageBase(parent)
{
    MakeLabel(u"PASSWORD_SETTING_PAGE", FontBold12(), 20, 20);
    MakeLabel(u"PASSWORD_CONFIRM_MAIN_EXPLAIN", FontBold12(), 20, 45);
    for (auto [key, y] : {std::pair{u"PASSWORD_CONFIRM_SUB_EXPLAIN1", 65}, std::pair{u"PASSWORD_CONFIRM_SUB_EXPLAIN2", 78}}) {
        QLabel* l = MakeLabel(key, Font11(), 20, y);
        l->setStyleSheet("background: transparent; color: rgb(102, 102, 100);");
    }
    m_lblCurrent = MakeLabel(u"CONFIG_CURRENT_PASSWORD", Font12(), 20, 112);
    m_lblNew = MakeLabel(u"CONFIG_NEW_PASSWORD", Font12(), 20, 151);
    m_lblConfirm = MakeLabel(u"CONFIG_NEW_PASSWORD_CONFIRM", Font12(), 20, 179);
    auto edit = [this](int y) {
        auto* e = new CPasswordInputEdit(this);
        e->setFont(Font12());
        e->setFrame(false);
        e->setMaxLength(static_cast<int>(kMaxSettingsPasswordChars));
        e->setGeometry(120, y, 150, 20);
        // Masked with '*', as the check box below says (and as the
        // password window shows it). The edit takes a new mask character
        // only from a style change once it is polished.
        e->ensurePolished();
        e->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
        return e;
    };
    m_editCurrent = edit(108);
    m_editNew = edit(147);
    m_editConfirm = edit(175);
    m_chkMask = new CCheckButtonEx(ToQ(GetText(u"PASSWORD_CHANGE_LETTER")), this);
    m_chkMask->setFont(Font11());
    m_chkMask->SetBackgroundColour(0xFFFFFF);
    m_chkMask->adjustSize();
    m_chkMask->move(120, 206);
    MakeLabel(u"PASSWORD_CRYPT_ALGORITHM", FontBold12(), 20, 250);
    m_cmbAlgorithm = new CDropDownButton(this);
    m_cmbAlgorithm->LoadBitmapStrip(266);
    m_cmbAlgorithm->setFont(Font12());
    m_cmbAlgorithm->setGeometry(140, 245, 100, 21);
    m_linkHelp = new HyperLinkTransparent(this);
    m_linkHelp->setText(ToQ(GetText(u"PASSWORD_CRYPT_HELP")));
    m_linkHelp->SetLinkFont(QStringLiteral("돋움"));
    m_linkHelp->SetLinkColour(FromColorRef(0xFF0000));
    m_linkHelp->SetUrl(QUrl(QString::fromLatin1(kCryptHelpUrl)));
    m_linkHelp->adjustSize();
    m_linkHelp->move(250, 250);
    m_lblAes1 = MakeLabel(u"PASSWORD_CRYPT_AES_EXPLAIN1", Font11(), 20, 285);
    m_lblAes2 = MakeLabel(u"PASSWORD_CRYPT_AES_EXPLAIN2", Font11(), 20, 300);
    for (QLabel* l : {m_lblAes1, m_lblAes2}) l->setStyleSheet("background: transparent; color: rgb(255, 0, 0);");

    connect(m_editCurrent, &QLineEdit::textChanged, this, [this] { OnCurrentChanged(); });
    connect(m_editNew, &QLineEdit::textChanged, this, [this] { OnNewChanged(false); });
    connect(m_editConfirm, &QLineEdit::textChanged, this, [this] { OnNewChanged(true); });
    connect(m_chkMask, &QAbstractButton::clicked, this, [this] { OnMaskClicked(); });
    connect(m_cmbAlgorithm, &QComboBox::activated, this, [this](int index) { OnAlgorithmChanged(index); });
    Initialize(true);
}

CPasswordSettingPage::~CPasswordSettingPage()
{
    m_bLoading = true;
    ClearEdits();
}

void CPasswordSettingPage::Wipe(QString& s)
{
    s.fill(QChar(0));
    s.clear();
}

// setText, unlike clear, also drops the undo history, so the text cannot be
// brought back with Ctrl+Z.
void CPasswordSettingPage::ClearEdits()
{
    for (QLineEdit* e : {m_editNew, m_editConfirm}) e->setText(QString());
    if (m_editCurrent->isEnabled()) m_editCurrent->setText(QString());
}

// A stored value that does not decipher to a password is treated as no
// password at all: otherwise nobody could ever type the "current" one.
bool CPasswordSettingPage::StoredPasswordUsable()
{
    if (m_strStored.isEmpty()) return false;
    std::u16string plain = DecryptSettingsPassword(FromQ(m_strStored));
    const bool usable = !plain.empty();
    WipeWide(plain);
    return usable;
}

void CPasswordSettingPage::Initialize(bool atCreation)
{
    m_bLoading = true;
    if (atCreation) {
        m_strStored = ToQ(GetCryptPassword());
        if (!StoredPasswordUsable()) m_strStored.clear();
    }
    m_chkMask->SetCheck(1);
    if (!m_bTextsSet) {
        m_editCurrent->clear();
        m_editNew->clear();
        m_editConfirm->clear();
        m_bTextsSet = true;
    }
    if (m_strStored.isEmpty()) {
        m_editCurrent->setEchoMode(QLineEdit::Normal);
        m_editCurrent->setText(ToQ(GetText(u"CONFIG_PASSWORD_NO_SETTTING_PASSWORD")));
        m_editCurrent->setEnabled(false);
        m_lblCurrent->setEnabled(false);
        SetPasswordFieldsEnabled(true);
    } else {
        m_editCurrent->clear();
        m_editCurrent->setEnabled(true);
        m_lblCurrent->setEnabled(true);
        SetPasswordFieldsEnabled(false);
    }
    ApplyMask();
    m_cmbAlgorithm->clear();
    for (const char16_t* key : {u"PASSWORD_CRYPT_KEY_BASE", u"PASSWORD_CRYPT_AES128", u"PASSWORD_CRYPT_AES256"})
        m_cmbAlgorithm->addItem(ToQ(GetText(key)));
    uint32_t algorithm = GetCryptAlgorithm();
    if (algorithm > 2) algorithm = 2;  // a damaged value reads as the default
    m_cmbAlgorithm->setCurrentIndex(static_cast<int>(algorithm));
    m_lblAes1->setVisible(algorithm != 0);
    m_lblAes2->setVisible(algorithm != 0);
    m_bLoading = false;
    update();
}

void CPasswordSettingPage::SetPasswordFieldsEnabled(bool enabled)
{
    for (QWidget* w : {static_cast<QWidget*>(m_lblNew), static_cast<QWidget*>(m_editNew),
                       static_cast<QWidget*>(m_lblConfirm), static_cast<QWidget*>(m_editConfirm)})
        w->setEnabled(enabled);
}

void CPasswordSettingPage::ApplyMask()
{
    const bool mask = m_chkMask->GetCheck() != 0;
    if (m_editCurrent->isEnabled() || !mask)
        m_editCurrent->setEchoMode(mask ? QLineEdit::Password : QLineEdit::Normal);
    m_editNew->setEchoMode(mask ? QLineEdit::Password : QLineEdit::Normal);
    m_editConfirm->setEchoMode(mask ? QLineEdit::Password : QLineEdit::Normal);
    for (QWidget* w : {m_editCurrent, m_editNew, m_editConfirm}) w->update();
}

void CPasswordSettingPage::OnCurrentChanged()
{
    if (m_bLoading) return;
    QString typed = m_editCurrent->text();
    if (typed.isEmpty()) {
        m_bCurrentEntered = false;
        update();
        return;
    }
    m_bCurrentEntered = true;
    std::u16string stored = DecryptSettingsPassword(FromQ(m_strStored));
    if (!stored.empty()) m_bCurrentCorrect = FromQ(typed) == stored;
    WipeWide(stored);
    Wipe(typed);
    SetPasswordFieldsEnabled(m_bCurrentCorrect);
    update();
}

void CPasswordSettingPage::OnNewChanged(bool fromConfirm)
{
    if (m_bLoading) return;
    QString a = m_editNew->text(), b = m_editConfirm->text();
    if (a.isEmpty() && b.isEmpty()) {
        m_bConfirmEntered = false;
        m_bNewValid = false;
        NotifyChanged(3, 0);
        m_bPasswordChanged = false;
    } else {
        m_bConfirmEntered = !b.isEmpty();
        const bool longEnough = a.size() >= kMinPasswordLength && b.size() >= kMinPasswordLength;
        if (a == b && longEnough) {
            m_bNewValid = true;
            NotifyChanged(3, 1);
            m_bPasswordChanged = true;
        } else if (a == b && fromConfirm) {
            // Equal but short: pending all the same; the length is judged at OK.
            NotifyChanged(3, 1);
            m_bPasswordChanged = true;
        } else {
            m_bNewValid = false;
        }
    }
    Wipe(a);
    Wipe(b);
    update();
}

void CPasswordSettingPage::OnMaskClicked() { ApplyMask(); }

void CPasswordSettingPage::OnAlgorithmChanged(int index)
{
    m_lblAes1->setVisible(index == 1 || index == 2);
    m_lblAes2->setVisible(index == 1 || index == 2);
    NotifyChanged(6, 1);
    m_bAlgorithmChanged = true;
}

int CPasswordSettingPage::ValidatePasswordLength()
{
    if (m_editNew->text().size() >= kMinPasswordLength || m_editConfirm->text().size() >= kMinPasswordLength)
        return 1;
    ShowMessageBox(GetText(u"PASSWORD_LIMIT_PASSWORD"), u"", 1, this);
    return 0;
}

int CPasswordSettingPage::SaveSettings()
{
    ClearWriteFailed();
    if (m_bPasswordChanged) {
        QString a = m_editNew->text(), b = m_editConfirm->text();
        const bool shortA = a.size() < kMinPasswordLength, shortB = b.size() < kMinPasswordLength;
        int refusal = 0;
        if (shortA && shortB) {
            refusal = 1;
        } else if (!a.isEmpty() && !b.isEmpty()) {
            if (a != b) {
                refusal = 2;
            } else {
                m_bNewValid = true;
                std::u16string plain = FromQ(a);
                const std::u16string hex = EncryptSettingsPassword(plain);
                WipeWide(plain);
                const bool ok = !hex.empty() &&
                                WriteRegistryString(HKEY_CURRENT_USER_ROOT, SettingsKey(), u"CryptPassword", hex, false) == 1;
                if (!Written(ok)) {
                    Wipe(a);
                    Wipe(b);
                    return 0;
                }
                AddEvent(0x4000000);
                // The typed texts have served their purpose.
                ClearEdits();
            }
        }
        Wipe(a);
        Wipe(b);
        if (refusal == 1) {
            ShowMessageBox(GetText(u"PASSWORD_LIMIT_PASSWORD"), u"", 1, this);
            return 0;
        }
        if (refusal == 2) {
            ShowMessageBox(GetText(u"CONFIG_PASSWORD_NOT_MATCH"), u"", 1, this);
            return 0;
        }
    }
    if (m_bAlgorithmChanged) {
        const int index = m_cmbAlgorithm->currentIndex();
        if (!Written(WriteRegistryDword(HKEY_CURRENT_USER_ROOT, SettingsKey(), u"CryptAlgorithm",
                                        static_cast<uint32_t>(index), false) == 1))
            return 0;
        static const int32_t kEvents[3] = {0x8000000, 0x9000000, 0xA000000};
        if (index >= 0 && index <= 2) {
            AddEvent(kEvents[index]);
            ReportUserAction(75 + index);
        }
    }
    return 1;
}

bool CPasswordSettingPage::SetDefaults()
{
    DeleteCryptPassword();
    DeleteUsePassword();
    const bool ok = WriteRegistryDword(HKEY_CURRENT_USER_ROOT, SettingsKey(), u"CryptAlgorithm", 2, false) == 1 &&
                    GetCryptPassword().empty();
    if (!Written(ok)) return false;
    AddEvent(0x4000000);
    m_bConfirmEntered = false;
    m_strStored = ToQ(GetCryptPassword());
    Initialize(false);
    return true;
}

void CPasswordSettingPage::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QPixmap bmp = SkinBitmap(177);
    if (!bmp.isNull()) TransparentBlt(p, QRect(0, 0, bmp.width(), height()), bmp, bmp.rect());
    p.setPen(kFieldFrame);
    p.setBrush(Qt::NoBrush);
    for (QWidget* e : {m_editCurrent, m_editNew, m_editConfirm}) p.drawRect(e->geometry().adjusted(-1, -1, 0, 0));
    p.setRenderHint(QPainter::Antialiasing);
    auto mark = [&p](const QWidget* field, bool good) {
        const QRect r(field->geometry().right() + 1 + 8, field->geometry().top() + 5, 10, 10);
        if (good) {
            p.setPen(QPen(QColor(71, 200, 62), 2));
            p.drawEllipse(r.adjusted(1, 1, -1, -1));
        } else {
            p.setPen(QPen(QColor(255, 0, 0), 2));
            p.drawLine(r.topLeft(), r.bottomRight());
            p.drawLine(r.topRight(), r.bottomLeft());
        }
    };
    if (m_editCurrent->echoMode() == QLineEdit::Password && m_bCurrentEntered) mark(m_editCurrent, m_bCurrentCorrect);
    if (m_bConfirmEntered) mark(m_editConfirm, m_bNewValid);
}
