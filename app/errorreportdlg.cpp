#include "app/errorreportdlg.h"

#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <sys/stat.h>

#include "app/actiondlg.h"
#include "app/appcore.h"
#include "app/filereport.h"
#include "app/searchdlg.h"
#include "core/controls/edits.h"
#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/eventstore/eventstore.h"
#include "core/eventstore/eventtables.h"
#include "core/logmgr.h"
#include "core/registry.h"
#include "core/uitext.h"
#include "core/util.h"
#include "platform/system.h"
#include "platform/text.h"

using namespace ps::ui;

namespace {
constexpr int kBackground = 292;
constexpr int kCloseStrip = 249;
constexpr int kExceptStrip = 293;
constexpr int kOpenFolderStrip = 294;
constexpr QRgb kFrameColour = 0xC5C7C7;
constexpr QRgb kGreyText = 0x666666;
}  // namespace

CErrorReportDlg::CErrorReportDlg(QWidget* parent) : CSkinDialog(parent)
{
    setWindowIcon(QIcon(SkinIcon(128)));
    m_btnX = new ImageButton(this);
    m_btnX->setObjectName(QString::number(IDC_CLOSE_X));
    m_btnOpenFolder = new ImageButton(this);
    m_btnOpenFolder->setObjectName(QString::number(IDC_OPEN_FOLDER));
    m_btnExcept = new ImageButton(this);
    m_btnExcept->setObjectName(QString::number(IDC_EXCEPT));
    m_btnClose = new ImageButton(this);
    m_btnClose->setObjectName(QString::number(IDC_CLOSE));
    connect(m_btnX, &QAbstractButton::clicked, this, [this] { OnBnClickedX(); });
    connect(m_btnOpenFolder, &QAbstractButton::clicked, this, [this] { OnBnClickedOpenFolder(); });
    connect(m_btnExcept, &QAbstractButton::clicked, this, [this] { OnBnClickedExcept(); });
    connect(m_btnClose, &QAbstractButton::clicked, this, [this] { OnBnClickedClose(); });
    SetCaptionBand(30);
    // The window closes only through its buttons (and the window manager).
    SetKeyPolicy({KeyAction::Swallow, KeyAction::Swallow, KeyAction::Default});
}

bool CErrorReportDlg::OnInitDialog()
{
    m_background = SkinBitmap(kBackground);
    m_btnX->LoadBitmaps(155, 157, 156);
    m_btnClose->LoadBitmapStrip(kCloseStrip, 2);
    m_btnExcept->LoadBitmapStrip(kExceptStrip, 2);
    m_btnOpenFolder->LoadBitmapStrip(kOpenFolderStrip, 2);

    setWindowTitle(Tx(u"ERROR_REPORT_TITLE"));
    // lastCheckFile may name every document the analysis had in hand, one
    // per line: the report names the first.
    m_path = FirstLastCheckFile(ReadLastCheckFile());
    if (!m_path.empty()) m_icon = AppIcons().Of(IconKeyOfName(GetFileNamePart(m_path)));

    const int w = m_background.isNull() ? 440 : m_background.width();
    const int h = m_background.isNull() ? 298 : m_background.height();
    setFixedSize(w, h);
    SetRoundRegion(w, h, 2, 2);
    CenterWindow();
    m_btnX->move(w - 25, 6);
    // The three buttons centred, a clear gap between each two.
    const int gap = 8;
    int x = (w - (m_btnExcept->width() + m_btnOpenFolder->width() + m_btnClose->width() + 2 * gap)) / 2;
    for (QWidget* b : {static_cast<QWidget*>(m_btnExcept), static_cast<QWidget*>(m_btnOpenFolder),
                       static_cast<QWidget*>(m_btnClose)}) {
        b->move(x, h - 32);
        x += b->width() + gap;
    }
    Act(81);
    return true;
}

void CErrorReportDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (!m_background.isNull()) p.drawPixmap(0, 0, m_background);
    const QColor text(51, 51, 51), grey(kGreyText);
    auto draw = [&p](const QFont& font, const QColor& colour, int x, int y, const QString& s) {
        p.setFont(font);
        p.setPen(colour);
        const QRect r = QFontMetrics(font).boundingRect(QRect(x, y, 2000, 100), Qt::AlignLeft | Qt::AlignTop, s);
        p.drawText(r, Qt::AlignLeft | Qt::AlignTop, s);
        return r;
    };
    draw(FontBold12(), text, 10, 10, Tx(u"ERROR_REPORT_TITLE"));
    draw(FontBold12(), text, 83, 58, Tx(u"ERROR_REPORT_MAIN_DESC1"));
    draw(FontBold12(), text, 83, 77, Tx(u"ERROR_REPORT_MAIN_DESC2"));
    const QRect first = draw(FontBold11(), text, 18, 157, Tx(u"ERROR_REPORT_SUB_DESC1"));
    draw(Font11(), grey, first.right() + 1, 157, Tx(u"ERROR_REPORT_SUB_DESC2"));
    draw(Font11(), grey, 18, 171, Tx(u"ERROR_REPORT_SUB_DESC3"));
    draw(Font11(), grey, 18, 185, Tx(u"ERROR_REPORT_SUB_DESC4"));
    draw(Font11(), grey, 18, 210, Tx(u"ERROR_REPORT_SUB_DESC5"));
    draw(Font11(), grey, 18, 224, Tx(u"ERROR_REPORT_SUB_DESC6"));

    // The document: its icon and its path, cut at the end when too long.
    p.setPen(QColor(kFrameColour));
    p.setBrush(Qt::white);
    p.drawRect(QRect(18, 112, 404, 25));
    if (!m_icon.isNull()) m_icon.paint(&p, QRect(23, 117, 16, 16));
    p.setFont(Font12());
    p.setPen(text);
    const QRect pathRect(45, 119, kPathWidth, 16);
    // Cut in the middle of its folders: the document's name stays whole,
    // and the whole path is the tooltip of the box.
    const QString path = ElidePath(ToQ(m_path), QFontMetrics(Font12()), pathRect.width());
    p.drawText(pathRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, path);
}

bool CErrorReportDlg::event(QEvent* e)
{
    // Over the document's box, a cut path shows whole.
    if (e->type() == QEvent::ToolTip) {
        auto* he = static_cast<QHelpEvent*>(e);
        const QRect box(18, 112, 404, 25);
        const QString whole = ToQ(m_path);
        if (box.contains(he->pos()) &&
            ElidePath(whole, QFontMetrics(Font12()), kPathWidth) != whole) {
            QToolTip::showText(he->globalPos(), whole, this, box);
        } else {
            QToolTip::hideText();
            e->ignore();
        }
        return true;
    }
    return CSkinDialog::event(e);
}

void CErrorReportDlg::OnBnClickedOpenFolder()
{
    Act(82);
    if (!m_path.empty()) ShowInFolder(ToQ(m_path));
}

void CErrorReportDlg::OnBnClickedExcept()
{
    Act(83);
    // Only a regular file that is still there is excepted: a damaged value,
    // a relative path, a folder or a vanished document writes nothing.
    struct stat st{};
    const std::string native = plat::PathToNative(m_path);
    const bool found = !m_path.empty() && m_path.front() == u'/' && ::stat(native.c_str(), &st) == 0 &&
                       S_ISREG(st.st_mode);
    if (!found) {
        ShowMessageBox(GetText(u"ERROR_REPORT_FAIL_FOUND_FILE"), u"", 1, this);
        EndDialog(IDOK);
        return;
    }
    // The search never reads an empty file: nothing to except.
    if (st.st_size == 0) {
        EndDialog(IDOK);
        return;
    }
    SearchFileInfo record;
    record.path = m_path;
    record.fileSize = static_cast<uint64_t>(st.st_size);
    record.lastWriteTime = plat::FileTimeFromTimespec(st.st_mtim);
    // The key of the search that ended in the document: its mask.
    const uint32_t mask = ReadRegistryDword(kRunKey, 127, u"findPSInfoFlag");
    record.documentKey = MakeDocumentKey(record, mask);
    EventStoreFailureWatch watch;
    const int64_t fileIndex = AddFileInfoRow(PersonalInfoCounts{}, record);
    if (fileIndex <= 0) {
        AppLog().Write(u"The error document's FileInfo row was not written: %s", m_path.c_str());
        // Why, when the store said so.
        const auto failure = watch.FirstFailure();
        ShowMessageBox(failure ? std::u16string(kNotExceptedText) + u"\n" + EventStoreFailureText(*failure)
                               : std::u16string(kNotExceptedText),
                       u"", 1, this);
        return;
    }
    DocumentList list{DocumentItem{m_path, fileIndex}};
    int processed = 0;
    CDocumentExceptionDlg dlg(this, 1);
    dlg.SetDocuments(&list, &processed);
    if (actionWindowRunner)
        actionWindowRunner(dlg);
    else
        dlg.DoModal();
    EndDialog(IDOK);
}

void CErrorReportDlg::OnBnClickedClose()
{
    DeleteLastCheckFile();
    EndDialog(IDOK);
}

void CErrorReportDlg::OnBnClickedX()
{
    DeleteLastCheckFile();
    EndDialog(2);
}
