#include "app/aboutdlg.h"

#include <QRegularExpression>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStringDecoder>
#include <QTimer>

#include "app/appcore.h"
#include "core/controls/edits.h"
#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/util.h"
#include "platform/system.h"

using namespace ps::ui;

namespace {
const char kMakerSite[] = "https://www.norvane.example/";
constexpr bool kMakerSiteReachable = false;
}

CProgramInfo::CProgramInfo(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    const QString picturePath = ToQ(GetModuleFolder(false)) + "/about.bmp";
    if (QFile::exists(picturePath)) {
        QPixmap pm(picturePath);
        if (!pm.isNull()) {
            picture_ = new QLabel(this);
            picture_->setPixmap(pm);
            picture_->setGeometry(2, 2, pm.width(), pm.height());
        }
    }
    version_ = new QLabel(ToQ(GetFileVersionText(plat::ProgramPath(), 4)), this);
    version_->setFont(FontBold12());
    version_->setStyleSheet("color: rgb(94, 106, 123); background: transparent;");
    version_->adjustSize();
    version_->move(375, 25);
    link_ = new QLabel(this);
    // The maker's site has no address on the network yet: its name stands
    // as disabled text, not as a link that would open nothing. A real
    // address (kMakerSiteReachable) makes it a link again, and a failed open
    // is said.
    if (kMakerSiteReachable) {
        link_->setText(QString("<a style=\"color: rgb(252, 98, 50); text-decoration: none;\" href=\"%1\">%1</a>")
                           .arg(kMakerSite));
    } else {
        link_->setText(QString::fromLatin1(kMakerSite));
        link_->setEnabled(false);
    }
    QFont f("Dotum");
    f.setPointSize(8);
    f.setFamilies({"Dotum", "돋움", "NanumGothic", "NanumBarunGothic"});
    link_->setFont(f);
    link_->setStyleSheet(kMakerSiteReachable ? "background: transparent;"
                                             : "background: transparent; color: rgb(153, 153, 153);");
    link_->setTextInteractionFlags(kMakerSiteReachable ? Qt::LinksAccessibleByMouse : Qt::NoTextInteraction);
    link_->setOpenExternalLinks(false);
    connect(link_, &QLabel::linkActivated, this, [this](const QString& url) {
        OpenOnDesktopThen(url, this, [this] { ShowMessageBox(HyperLinkTransparent::kOpenLinkFailedText, u"", 1, this); });
    });
    link_->adjustSize();
    link_->move(39, 209);
    // The product name and a line about what it does, beside the version.
    // The one version the window shows is the build's (above): the name
    // goes without the version its text carries.
    QString productName = Tx(u"PRODUCT_NAME");
    productName.remove(QRegularExpression(QStringLiteral("\\s+[0-9][0-9.]*$")));
    auto* name = new QLabel(productName, this);
    name->setFont(UiFont(18, true));
    name->setStyleSheet("color: rgb(52, 74, 110); background: transparent;");
    name->adjustSize();
    name->move(39, 60);
    auto* line = new QLabel(QString::fromUtf16(u"문서 속 개인정보를 찾아 안전하게 관리합니다."), this);
    line->setFont(Font12());
    line->setStyleSheet("color: rgb(94, 106, 123); background: transparent;");
    line->adjustSize();
    line->move(39, 92);
}

void CProgramInfo::mouseReleaseEvent(QMouseEvent* e)
{
    if (rect().adjusted(10, 10, -10, -10).contains(e->position().toPoint()) && parentWidget())
        QTimer::singleShot(0, parentWidget(), [p = parentWidget()] { p->close(); });
    QWidget::mouseReleaseEvent(e);
}

QString CLicenseInfo::ReadLicenseText(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QString();
    const QByteArray bytes = f.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError()) return text;
    return ToQ(ToWide(std::string(bytes.constData(), static_cast<size_t>(bytes.size()))));
}

CLicenseInfo::CLicenseInfo(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    text_ = new QPlainTextEdit(this);
    text_->setReadOnly(true);
    text_->setFont(Font12());
    text_->setStyleSheet("QPlainTextEdit { border: 1px solid #c7c7c5; background: #fbfbfb; }");
    // A "License.txt" beside the program takes precedence over the
    // agreement the program carries.
    const QString file = ToQ(GetModuleFolder(false)) + "/License.txt";
    text_->setPlainText(ReadLicenseText(QFile::exists(file) ? file : QStringLiteral(":/license/License.txt")));
    text_->installEventFilter(this);
}

void CLicenseInfo::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    text_->setGeometry(3, 3, width() - 6, height() - 6);
}

void CLicenseInfo::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    text_->setFocus();
}

bool CLicenseInfo::eventFilter(QObject* o, QEvent* e)
{
    if (o == text_ && e->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(e);
        if (ke->key() == Qt::Key_Escape) {
            if (parentWidget()) QTimer::singleShot(0, parentWidget(), [p = parentWidget()] { p->close(); });
            return true;
        }
        if (ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter || ke->key() == Qt::Key_Space) return true;
    }
    return QWidget::eventFilter(o, e);
}

CAboutInfoDlg::CAboutInfoDlg(QWidget* parent) : CSkinDialog(parent)
{
    SetCaptionBand(27);
    tabProgram_ = new CTabButton(QString::fromUtf16(u"프로그램 정보"), this);
    tabLicense_ = new CTabButton(QString::fromUtf16(u"라이선스 정보"), this);
    for (auto* t : {tabProgram_, tabLicense_}) {
        t->setFont(Font12());
        t->resize(110, 26);
    }
    btnClose_ = new ImageButton(this);
    btnClose_->LoadBitmaps(155, 157, 156);
    program_ = new CProgramInfo(this);
    license_ = new CLicenseInfo(this);
    current_ = program_;
    currentTab_ = tabProgram_;
    connect(tabProgram_, &QAbstractButton::clicked, this, [this] { SelectPage(1187); });
    connect(tabLicense_, &QAbstractButton::clicked, this, [this] { SelectPage(1188); });
    connect(btnClose_, &QAbstractButton::clicked, this, [this] { EndDialog(IDOK); });
}

bool CAboutInfoDlg::OnInitDialog()
{
    resize(465, 350);
    SetRoundRegion(465, 350, 2, 2);
    tabProgram_->SetSelected(true);
    program_->show();
    license_->hide();
    Layout();
    // Centred on the window that opened it, else on the screen.
    if (parentWidget() && parentWidget()->window()->isVisible())
        CenterWindow();
    else if (const QRect area = GetMonitorWorkArea(this); !area.isEmpty())
        move(area.center() - QPoint(width() / 2, height() / 2));
    return true;
}

void CAboutInfoDlg::Layout()
{
    const int W = width(), H = height();
    const int w = tabProgram_->width(), h = tabProgram_->height();
    btnClose_->move(W - 22, 6);
    tabProgram_->move(10, 40);
    tabLicense_->move(w + 9, 40);
    for (QWidget* p : {static_cast<QWidget*>(program_), static_cast<QWidget*>(license_)})
        p->setGeometry(11, h + 40, W - 22, H - h - 50);
}

void CAboutInfoDlg::SelectPage(int tabId)
{
    current_->hide();
    currentTab_->SetSelected(false);
    if (tabId == 1188) {
        current_ = license_;
        currentTab_ = tabLicense_;
    } else {
        current_ = program_;
        currentTab_ = tabProgram_;
    }
    currentTab_->SetSelected(true);
    current_->show();
    update();
}

bool CAboutInfoDlg::event(QEvent* e)
{
    if (e->type() == QEvent::Close) {
        // A click on the program page or Escape on the licence page.
        EndDialog(IDOK);
        return true;
    }
    return CSkinDialog::event(e);
}

void CAboutInfoDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QPixmap bmp = SkinBitmap(252);
    const int bw = bmp.width(), bh = bmp.height(), W = width(), H = height();
    // Top band, bottom band, edges and middle from one-pixel strips.
    TransparentBlt(p, QRect(0, 0, bw - 100, bh - 50), bmp, QRect(0, 0, bw - 100, bh - 50));
    TransparentBlt(p, QRect(W - 30, 0, 30, bh - 50), bmp, QRect(bw - 30, 0, 30, bh - 50));
    PlainBlt(p, QRect(bw - 100, 0, W - (bw - 100) - 30, bh - 50), bmp, QRect(30, 0, 1, bh - 50));
    TransparentBlt(p, QRect(0, H - 50, bw - 100, 50), bmp, QRect(0, bh - 50, bw - 100, 50));
    TransparentBlt(p, QRect(W - 30, H - 50, 30, 50), bmp, QRect(bw - 30, bh - 50, 30, 50));
    PlainBlt(p, QRect(bw - 100, H - 50, W - (bw - 100) - 30, 50), bmp, QRect(30, bh - 50, 1, 50));
    // With a window smaller than the bitmap the parts overlap; draw the
    // right-hand corners last so the frame closes.
    const QRect pr = current_->geometry();
    const int L = pr.left(), T = pr.top(), R = pr.right() + 1, B = pr.bottom() + 1;
    const int w = tabProgram_->width();
    p.setPen(QColor(199, 199, 197));
    p.drawLine(L - 1, T - 1, L - 1, B);
    p.drawLine(L - 1, B, R, B);
    p.drawLine(R, B, R, T - 2);
    p.drawLine(L + 2 * w - 3, T - 1, R, T - 1);
    p.setFont(FontBold12());
    p.setPen(Qt::black);
    p.drawText(QRect(10, 10, 300, 16), Qt::AlignLeft | Qt::AlignTop, Tx(u"MAIN_MENU_ABOUT_PRIVASWEEP"));
}
