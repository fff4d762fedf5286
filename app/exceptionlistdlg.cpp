#include "app/exceptionlistdlg.h"

#include <QPainter>

#include "core/controls/skin.h"
#include "core/uitext.h"

using namespace ps::ui;

CExceptionConfigurationDlg::CExceptionConfigurationDlg(QWidget* parent) : CSkinDialog(parent)
{
    setWindowIcon(QIcon(SkinIcon(128)));
    SetCaptionBand(28);
    m_btnClose = new ImageButton(this);
    m_btnClose->LoadBitmaps(155, 157, 156);
    connect(m_btnClose, &QAbstractButton::clicked, this, [this] { EndDialog(IDOK); });
}

bool CExceptionConfigurationDlg::OnInitDialog()
{
    setWindowTitle(ToQ(GetText(u"EXCEPTION_SETTING_PAGE")));
    const QPixmap frame = SkinBitmap(IDB_FRAME);
    resize(frame.isNull() ? QSize(730, 480) : frame.size());
    SetRoundRegion(width() + 1, height() + 1, 3, 3);
    m_btnClose->move(width() - 25, 6);
    return true;
}

void CExceptionConfigurationDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QPixmap frame = SkinBitmap(IDB_FRAME), heading = SkinBitmap(IDB_HEADING);
    TransparentBlt(p, rect(), frame, frame.rect());
    TransparentBlt(p, QRect(12, 40, heading.width(), heading.height()), heading, heading.rect());
    p.setFont(FontBold12());
    p.setPen(Qt::black);
    p.drawText(QRect(10, 10, 300, 16), Qt::AlignLeft | Qt::AlignTop, ToQ(GetText(u"EXCEPTION_SETTING_PAGE")));
}
