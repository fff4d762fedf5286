#include "app/hitsdlg.h"

#include "app/filereport.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QScopeGuard>
#include <unistd.h>

#include "app/appcore.h"
#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/logmgr.h"
#include "core/eventstore/eventstore.h"
#include "core/uitext.h"
#include "core/util.h"
#include "platform/text.h"

using namespace ps::ui;

CPersonalInfoDlg::CPersonalInfoDlg(QWidget* parent) : CSkinDialog(parent)
{
    m_edit = new CommentEdit(this);
    m_edit->setObjectName(QString::number(IDC_HITS));
    m_heading = new QLabel(QString::fromUtf16(u"검색 상세보기"), this);
    m_heading->setObjectName(QString::number(IDC_HEADING));
    // Colours through the palette: the heading's tooltip keeps the skin's look.
    m_heading->setAttribute(Qt::WA_TranslucentBackground);
    QPalette pal = m_heading->palette();
    pal.setColor(QPalette::WindowText, QColor(51, 51, 51));
    m_heading->setPalette(pal);
    m_btnX = new ImageButton(this);
    m_btnOpen = new ImageButton(this);
    m_btnClose = new ImageButton(this);
    m_btnX->setObjectName(QString::number(IDC_CLOSE_X));
    m_btnOpen->setObjectName(QString::number(IDC_OPEN_DOCUMENT));
    m_btnClose->setObjectName(QString::number(IDC_CLOSE));
    connect(m_btnX, &QAbstractButton::clicked, this, [this] { EndDialog(IDOK); });
    connect(m_btnClose, &QAbstractButton::clicked, this, [this] { EndDialog(IDOK); });
    connect(m_btnOpen, &QAbstractButton::clicked, this, [this] { OnBnClickedOpenDocument(); });
    SetCaptionBand(40);
}

std::u16string CPersonalInfoDlg::BuildHitsText(const PersonalInfoTextLists& lists, ::PersonalInfoMask mask)
{
    // Result-code order; the lists are in mask-bit order.
    static const struct {
        uint32_t bit;
        int list;
        const char16_t* key;
    } kinds[] = {
        {kMaskResidentNumber, 0, u"PERSONALINFO_ID"},   {kMaskAccount, 2, u"PERSONALINFO_ACCOUNT"},
        {kMaskCreditCard, 1, u"PERSONALINFO_CREDIT"},   {kMaskPhoneNumber, 3, u"PERSONALINFO_PHONE_NUM"},
        {kMaskAddress, 4, u"PERSONALINFO_ADDRESS"},     {kMaskEMail, 5, u"PERSONALINFO_EMAIL"},
        {kMaskIpAddress, 6, u"PERSONALINFO_IP_ADDRESS"},
    };
    std::u16string text = u"\r\n";
    for (const auto& k : kinds) {
        const auto& hits = lists[static_cast<size_t>(k.list)];
        if (!(mask & k.bit) || hits.empty()) continue;
        text += GetText(k.key) + u"\r\n";
        for (const std::u16string& h : hits) text += h + u"\r\n";
        text += u"\r\n";
    }
    return text;
}

bool CPersonalInfoDlg::OnInitDialog()
{
    m_background = SkinBitmap(285);
    m_btnX->LoadBitmaps(155, 157, 156);
    m_btnOpen->LoadBitmapStrip(286, 2);
    m_btnClose->LoadBitmapStrip(249, 2);

    {
        // A document with hundreds of thousands of hits takes seconds to
        // read and lay out: the pointer says so until the window shows.
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        PersonalInfoTextLists lists;
        if (m_record) {
            try {
                GetPersonalInfoRows(m_record->fileIndex, lists);
            } catch (const CppSQLite3Exception& e) {
                // A store that cannot be read shows no hits; the trace says why.
                AppLog().Write(u"CPersonalInfoDlg: hits of FileIndex %d not read: %s",
                               static_cast<int>(m_record->fileIndex), e.ErrorMessage().c_str());
                lists = {};
            } catch (const std::exception& e) {
                AppLog().Write(u"CPersonalInfoDlg: hits of FileIndex %d not read: %s",
                               static_cast<int>(m_record->fileIndex), plat::Utf8ToWide(e.what()).c_str());
                lists = {};
            } catch (...) {
                AppLog().Write(u"CPersonalInfoDlg: hits of FileIndex %d not read: unknown exception",
                               static_cast<int>(m_record->fileIndex));
                lists = {};
            }
        }
        std::u16string text = BuildHitsText(lists, m_mask);
        // The edit shows line feeds.
        std::u16string shown;
        shown.reserve(text.size());
        for (char16_t c : text)
            if (c != u'\r') shown.push_back(c);
        m_edit->setPlainText(ToQ(shown));
    }
    m_edit->setFont(Font12());
    m_heading->setFont(FontBold12());
    // The heading names the document the hits belong to.
    if (m_record) {
        const std::u16string name(m_record->FileName());
        if (!name.empty()) m_heading->setText(m_heading->text() + QStringLiteral(" - ") + ToQ(name));
    }
    m_heading->adjustSize();

    const int w = m_background.isNull() ? 337 : m_background.width();
    const int h = m_background.isNull() ? 315 : m_background.height();
    setFixedSize(w, h);
    SetRoundRegion(w, h, 2, 2);
    m_heading->move(10, 10);
    // A long name is cut in its middle; the whole name is the tooltip.
    {
        const int room = w - 10 - 30;
        const QString whole = m_heading->text();
        const QString cut = QFontMetrics(m_heading->font()).elidedText(whole, Qt::ElideMiddle, room);
        if (cut != whole) {
            m_heading->setText(cut);
            m_heading->setToolTip(whole);
            m_heading->resize(room, m_heading->height());
        }
    }
    m_btnX->move(w - 25, 6);
    m_edit->setGeometry(1, 28, w - 2, h - 62);
    const int bw = m_btnOpen->width();
    const int x = (w - 2 * bw - 10) / 2;
    const int y = h - m_btnOpen->height() - 7;
    m_btnOpen->move(x, y);
    m_btnClose->move(x + bw + 10, y);
    setWindowTitle(m_heading->toolTip().isEmpty() ? m_heading->text() : m_heading->toolTip());
    if (parentWidget()) {
        const QRect owner = parentWidget()->window()->geometry();
        move(owner.center() - QPoint(w / 2, h / 2));
    }
    return true;
}

void CPersonalInfoDlg::OnBnClickedOpenDocument()
{
    if (!m_record) return;
    // Gone, or no program opens it: the window says so.
    OpenOrSayWhy(m_record->path, this);
}

void CPersonalInfoDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (!m_background.isNull()) p.drawPixmap(0, 0, m_background);
}

std::function<int(CPersonalInfoDlg&)>& CPersonalInfoDlg::RunHook()
{
    static std::function<int(CPersonalInfoDlg&)> hook;
    return hook;
}

int CPersonalInfoDlg::Run(CPersonalInfoDlg& dlg)
{
    if (RunHook()) return RunHook()(dlg);
    return dlg.DoModal();
}
