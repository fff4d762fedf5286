#include "app/pwconfirmdlg.h"

#include <QPainter>
#include <QUrl>

#include "app/appcore.h"
#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/crypt.h"
#include "core/registry.h"
#include "core/uitext.h"

using namespace ps::ui;

namespace {
constexpr int kBackground = 221;
const char kHelpPage[] = "https://www.norvane.example/privasweep/help/encryption";
// The window is this much taller than its bitmap while an AES entry (and
// its two lines of explanation) is chosen.
constexpr int kAesExtraHeight = 40;

void WipeQ(QString& s)
{
    s.fill(QChar(0));
    s.clear();
}
}  // namespace

CPasswordConfirmDlg::CPasswordConfirmDlg(QWidget* parent) : CSkinDialog(parent)
{
    auto label = [this](int id, const QFont& font, const char* colour = "rgb(51, 51, 51)") {
        auto* l = new QLabel(this);
        l->setObjectName(QString::number(id));
        l->setFont(font);
        l->setStyleSheet(QString("background: transparent; color: %1;").arg(colour));
        return l;
    };
    m_title = label(IDC_TITLE, FontBold12());
    m_explain1 = label(IDC_EXPLAIN1, FontBold12());
    m_explain2 = label(IDC_EXPLAIN2, FontBold12());
    m_sub1 = label(IDC_SUB_EXPLAIN1, Font11(), "rgb(102, 102, 100)");
    m_sub2 = label(IDC_SUB_EXPLAIN2, Font11(), "rgb(102, 102, 100)");
    m_pwLabel = label(IDC_PASSWORD_LABEL, Font12());
    m_confirmLabel = label(IDC_CONFIRM_LABEL, Font12());
    m_algorithmLabel = label(IDC_ALGORITHM_LABEL, FontBold12());
    m_aes1 = label(IDC_AES_EXPLAIN1, Font11(), "rgb(255, 0, 0)");
    m_aes2 = label(IDC_AES_EXPLAIN2, Font11(), "rgb(255, 0, 0)");
    m_password = new CPasswordInputEdit(this);
    m_password->setObjectName(QString::number(IDC_PASSWORD));
    m_confirm = new CPasswordInputEdit(this);
    m_confirm->setObjectName(QString::number(IDC_CONFIRM));
    for (auto* e : {m_password, m_confirm}) {
        e->setFrame(false);
        e->setFont(Font12());
        connect(e, &QLineEdit::textChanged, this, [this] { OnTyped(); });
    }
    m_changeLetter = new CCheckButtonEx(this);
    m_useStored = new CCheckButtonEx(this);
    m_useStoredAlgorithm = new CCheckButtonEx(this);
    m_changeLetter->setObjectName(QString::number(IDC_CHANGE_LETTER));
    m_useStored->setObjectName(QString::number(IDC_USE_STORED_PASSWORD));
    m_useStoredAlgorithm->setObjectName(QString::number(IDC_USE_STORED_ALGORITHM));
    connect(m_changeLetter, &QAbstractButton::clicked, this, [this] { OnBnClickedChangeLetter(); });
    connect(m_useStored, &QAbstractButton::clicked, this, [this] { OnBnClickedUseStoredPassword(); });
    connect(m_useStoredAlgorithm, &QAbstractButton::clicked, this, [this] { OnBnClickedUseStoredAlgorithm(); });
    m_algorithm = new CDropDownButton(this);
    m_algorithm->setObjectName(QString::number(IDC_ALGORITHM));
    connect(m_algorithm, &QComboBox::currentIndexChanged, this, [this] { OnSelChangeAlgorithm(); });
    m_help = new HyperLinkTransparent(this);
    m_help->setObjectName(QString::number(IDC_HELP));
    m_ok = new ImageButton(this);
    m_cancel = new ImageButton(this);
    m_btnX = new ImageButton(this);
    m_ok->setObjectName(QString::number(IDC_OK));
    m_cancel->setObjectName(QString::number(IDC_CANCEL));
    m_btnX->setObjectName(QString::number(IDC_CLOSE_X));
    connect(m_ok, &QAbstractButton::clicked, this, [this] { OnBnClickedOk(); });
    connect(m_cancel, &QAbstractButton::clicked, this, [this] { EndDialog(IDCANCEL); });
    connect(m_btnX, &QAbstractButton::clicked, this, [this] { EndDialog(IDCANCEL); });
    SetCaptionBand(30);
    // Enter anywhere runs OK; Escape cancels.
    SetKeyPolicy({KeyAction::Ok, KeyAction::Cancel, KeyAction::Default});
}

CPasswordConfirmDlg::~CPasswordConfirmDlg()
{
    ClearFields();
    WipeQ(m_stored);
}

int CPasswordConfirmDlg::AlgorithmValue(int index)
{
    switch (index) {
    case 1: return 2;
    case 2: return 3;
    default: return 1;
    }
}

bool CPasswordConfirmDlg::OnInitDialog()
{
    m_background = SkinBitmap(kBackground);
    m_algorithm->LoadBitmapStrip(266);
    m_ok->LoadBitmapStrip(222, 2);
    m_cancel->LoadBitmapStrip(194, 2);
    m_btnX->LoadBitmaps(155, 157, 156);

    m_changeLetter->setText(Tx(u"PASSWORD_CHANGE_LETTER"));
    m_useStored->setText(Tx(u"PASSWORD_SET_CONFIGURATION"));
    m_useStoredAlgorithm->setText(Tx(u"PASSWORD_CRYPT_SETTING"));
    for (auto* c : {m_changeLetter, m_useStored, m_useStoredAlgorithm}) {
        c->setFont(Font11());
        c->adjustSize();
    }
    m_changeLetter->SetCheck(GetChangeLetter() != 0);
    ApplyMasking();
    if (!GetCryptPassword().empty()) {
        m_useStored->SetCheck(GetUsePassword() != 0);
        if (m_useStored->GetCheck()) OnBnClickedUseStoredPassword();
    } else {
        m_useStored->setEnabled(false);
    }

    m_title->setText(Tx(u"PASSWORD_CONFIRM_TITLE"));
    m_explain1->setText(Tx(u"PASSWORD_CONFIRM_EXPLAIN1"));
    m_explain2->setText(Tx(u"PASSWORD_CONFIRM_EXPLAIN2"));
    m_sub1->setText(Tx(u"PASSWORD_CONFIRM_SUB_EXPLAIN1"));
    m_sub2->setText(Tx(u"PASSWORD_CONFIRM_SUB_EXPLAIN2"));
    m_pwLabel->setText(Tx(u"PASSWORD_CONFIRM_PASSWORD"));
    m_confirmLabel->setText(Tx(u"PASSWORD_CONFIRM_PASSWORD_CONFIRM"));
    m_algorithmLabel->setText(Tx(u"PASSWORD_CRYPT_ALGORITHM"));
    m_aes1->setText(Tx(u"PASSWORD_CRYPT_AES_EXPLAIN1"));
    m_aes2->setText(Tx(u"PASSWORD_CRYPT_AES_EXPLAIN2"));
    for (QLabel* l : {m_title, m_explain1, m_explain2, m_sub1, m_sub2, m_pwLabel, m_confirmLabel, m_algorithmLabel,
                      m_aes1, m_aes2})
        l->adjustSize();
    setWindowTitle(m_title->text());

    {
        const QSignalBlocker block(m_algorithm);
        m_algorithm->clear();
        m_algorithm->addItem(Tx(u"PASSWORD_CRYPT_KEY_BASE"));
        m_algorithm->addItem(Tx(u"PASSWORD_CRYPT_AES128"));
        m_algorithm->addItem(Tx(u"PASSWORD_CRYPT_AES256"));
        m_algorithm->setCurrentIndex(2);
    }
    m_algorithm->setFont(Font12());
    m_previousSelection = 2;
    m_aes1->hide();
    m_aes2->hide();
    m_help->setText(Tx(u"PASSWORD_CRYPT_HELP"));
    m_help->SetUrl(QUrl(QString::fromLatin1(kHelpPage)));
    m_help->adjustSize();

    const int w = m_background.isNull() ? 380 : m_background.width();
    const int h = m_background.isNull() ? 340 : m_background.height();
    setFixedSize(w, h);
    SetRoundRegion(w + 1, h + 1, 2, 2);
    m_title->move(10, 10);
    m_explain1->move(100, 54);
    m_explain2->move(100, 68);
    m_sub1->move(100, 86);
    m_sub2->move(100, 99);
    m_pwLabel->move(30, 134);
    m_confirmLabel->move(30, 158);
    m_password->setGeometry(100, 130, 229, 18);
    m_confirm->setGeometry(100, 155, 229, 18);
    m_algorithmLabel->move(30, 240);
    m_btnX->move(w - 23, 6);
    m_changeLetter->move(98, 185);
    m_useStored->move(210, 185);
    m_algorithm->move(150, 235);
    m_help->move(260, 240);
    m_useStoredAlgorithm->move(150, 265);
    m_aes1->move(30, 290);
    m_aes2->move(30, 305);
    PlaceButtons();

    if (GetUseCryptAlgorithm() != 0) {
        m_useStoredAlgorithm->SetCheck(1);
        OnBnClickedUseStoredAlgorithm();
    }
    OnSelChangeAlgorithm();
    m_password->setFocus();
    return true;
}

void CPasswordConfirmDlg::PlaceButtons()
{
    const int gap = 10;
    const int total = m_ok->width() + gap + m_cancel->width();
    const int x = (width() - total) / 2;
    const int y = height() - 10 - m_ok->height();
    m_ok->move(x, y);
    m_cancel->move(x + m_ok->width() + gap, y);
}

void CPasswordConfirmDlg::ApplyMasking()
{
    // The toggle shows what the user types; the stored password is never
    // shown, whatever the toggle says.
    // The stored password's stand-in is shown as it is: one kind of mask
    // character, one length.
    const bool mask = m_changeLetter->GetCheck() != 0 && !m_storedShown;
    for (auto* e : {m_password, m_confirm}) {
        e->setEchoMode(mask ? QLineEdit::Password : QLineEdit::Normal);
        e->setStyleSheet(QString("lineedit-password-character: %1; background: white;").arg(m_maskChar.unicode()));
        e->update();
    }
}

void CPasswordConfirmDlg::OnBnClickedChangeLetter() { ApplyMasking(); }

void CPasswordConfirmDlg::OnBnClickedUseStoredPassword()
{
    if (m_useStored->GetCheck()) {
        Act(15);
        std::u16string stored = DecryptSettingsPassword(GetCryptPassword());
        if (!stored.empty()) {
            m_storedShown = true;
            WipeQ(m_stored);
            m_stored = ToQ(stored);
            ApplyMasking();
            m_password->setText(QString::fromUtf16(kStoredMask));
            m_confirm->setText(QString::fromUtf16(kStoredMask));
            m_password->setEnabled(false);
            m_confirm->setEnabled(false);
            m_confirmEntered = 1;
        }
        std::fill(stored.begin(), stored.end(), u'\0');
    } else {
        ClearFields();
        m_storedShown = false;
        WipeQ(m_stored);
        ApplyMasking();
        m_password->setEnabled(true);
        m_confirm->setEnabled(true);
        m_confirmEntered = 0;
    }
    update();
}

void CPasswordConfirmDlg::OnBnClickedUseStoredAlgorithm()
{
    if (m_useStoredAlgorithm->GetCheck()) {
        m_algorithm->setEnabled(false);
        const uint32_t stored = GetCryptAlgorithm();
        const QSignalBlocker block(m_algorithm);
        m_algorithm->setCurrentIndex(stored <= 2 ? static_cast<int>(stored) : 2);
    } else {
        m_algorithm->setEnabled(true);
    }
    OnSelChangeAlgorithm();
}

void CPasswordConfirmDlg::OnSelChangeAlgorithm()
{
    const int index = m_algorithm->currentIndex();
    const bool aes = index == 1 || index == 2;
    m_aes1->setVisible(aes);
    m_aes2->setVisible(aes);
    const int w = m_background.isNull() ? 380 : m_background.width();
    const int h = (m_background.isNull() ? 340 : m_background.height()) + (aes ? kAesExtraHeight : 0);
    setFixedSize(w, h);
    SetRoundRegion(w + 1, h + 1, 2, 2);
    PlaceButtons();
    m_previousSelection = index;
    update();
}

void CPasswordConfirmDlg::OnTyped()
{
    const QString a = m_password->text(), b = m_confirm->text();
    if (a.isEmpty() && b.isEmpty()) {
        m_valid = 0;
        m_confirmEntered = 0;
    } else {
        m_confirmEntered = !b.isEmpty();
        m_valid = a.size() >= 6 && b.size() >= 6 && a == b;
    }
    update(QRect(m_confirm->geometry().right() + 1, m_confirm->y() - 2, 30, m_confirm->height() + 4));
}

void CPasswordConfirmDlg::ClearFields()
{
    for (auto* e : {m_password, m_confirm}) {
        if (!e) continue;
        QString t = e->text();
        WipeQ(t);
        const QSignalBlocker block(e);
        e->clear();
    }
}

void CPasswordConfirmDlg::OnBnClickedOk()
{
    QString a = m_storedShown ? m_stored : m_password->text(), b = m_storedShown ? m_stored : m_confirm->text();
    if (a.isEmpty() && b.isEmpty()) {
        ShowMessageBox(GetText(u"PASSWORD_CONFIRM_NO_PASSWORD_MESSAGE"), u"", 1, this);
        return;
    }
    if (a.size() < 6 && b.size() < 6) {
        ShowMessageBox(GetText(u"PASSWORD_LIMIT_PASSWORD"), u"", 1, this);
        return;
    }
    if (a != b) {
        ShowMessageBox(GetText(u"PASSWORD_CONFIRM_CHECK_PASSWORD_MESSAGE"), u"", 1, this);
        WipeQ(a);
        WipeQ(b);
        ClearFields();
        m_valid = 0;
        m_confirmEntered = 0;
        update();
        return;
    }
    SetChangeLetter(m_changeLetter->GetCheck());
    SetUsePassword(m_useStored->GetCheck());
    if (m_useStored->GetCheck()) Act(36);
    if (m_owner) {
        m_owner->password = FromQ(a);
        const int index = m_algorithm->currentIndex();
        m_owner->algorithm = AlgorithmValue(index);
        Act(index == 1 ? 38 : index == 2 ? 39 : 37);
        SetUseCryptAlgorithm(m_useStoredAlgorithm->GetCheck());
        if (m_useStoredAlgorithm->GetCheck()) Act(40);
    }
    WipeQ(a);
    WipeQ(b);
    ClearFields();
    EndDialog(IDOK);
}

void CPasswordConfirmDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (!m_background.isNull()) {
        const int bw = m_background.width(), bh = m_background.height();
        // Top part, an extra middle band when the window is taller, bottom part.
        p.drawPixmap(QRect(0, 0, bw, 200), m_background, QRect(0, 0, bw, 200));
        if (height() > 350) p.drawPixmap(QRect(0, 200, bw, 80), m_background, QRect(0, 120, bw, 80));
        p.drawPixmap(QRect(0, height() - 150, bw, 150), m_background, QRect(0, bh - 150, bw, 150));
    }
    p.setPen(QColor(199, 199, 197));
    for (auto* e : {m_password, m_confirm}) p.drawRect(e->geometry().adjusted(-1, -1, 0, 0));
    if (m_confirmEntered) {
        const QRect mark(m_confirm->geometry().right() + 1 + 8, m_confirm->y() + 4, 10, 10);
        p.setRenderHint(QPainter::Antialiasing);
        if (m_valid) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(71, 200, 62));
            p.drawEllipse(mark);
        } else {
            p.setPen(QPen(QColor(255, 0, 0), 2));
            p.drawLine(mark.topLeft(), mark.bottomRight());
            p.drawLine(mark.topRight(), mark.bottomLeft());
        }
    }
}
