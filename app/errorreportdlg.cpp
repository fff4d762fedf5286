#include "app/errorreportdlg.h"

#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QToolTip>
#include <QVBoxLayout>
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
#include "platform/crashnote.h"
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
// The document's box: where the path stands, and below which the window
// grows when several documents are listed.
constexpr int kBoxTop = 112;
constexpr int kBoxBottom = 137;

void OpenFolderOf(const std::u16string& path, QWidget* owner)
{
    if (path.empty()) return;
    QPointer<QWidget> window(owner);
    ShowInFolder(ToQ(path), owner, [window] { ShowMessageBox(kOpenFolderFailedText, u"", 1, window); });
}

// One document of several: its icon and path, and its own two buttons.
class DocumentRow : public QWidget {
public:
    DocumentRow(const std::u16string& path, QWidget* parent) : QWidget(parent), m_path(ToQ(path))
    {
        m_icon = AppIcons().Of(IconKeyOfName(GetFileNamePart(path)));
        setFixedHeight(CErrorReportDlg::kRowHeight - 2);
        openFolder = new QPushButton(QStringLiteral("폴더 열기"), this);
        except = new QPushButton(QStringLiteral("예외처리"), this);
        for (QPushButton* b : {openFolder, except}) {
            b->setFont(Font11());
            b->setFixedSize(62, 19);
            b->setFocusPolicy(Qt::NoFocus);
        }
        setToolTip(m_path);
    }
    QPushButton* openFolder = nullptr;
    QPushButton* except = nullptr;

protected:
    void resizeEvent(QResizeEvent*) override
    {
        except->move(width() - except->width() - 3, 3);
        openFolder->move(except->x() - openFolder->width() - 3, 3);
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setPen(QColor(kFrameColour));
        p.setBrush(Qt::white);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        if (!m_icon.isNull()) m_icon.paint(&p, QRect(5, 5, 16, 16));
        p.setFont(Font12());
        p.setPen(QColor(51, 51, 51));
        const QRect pathRect(27, 6, openFolder->x() - 27 - 4, 16);
        p.drawText(pathRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   ElidePath(m_path, QFontMetrics(Font12()), pathRect.width()));
    }

private:
    QString m_path;
    QIcon m_icon;
};
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
    // lastCheckFile names every document the analysis had in hand, one per
    // line. A fault in a reader left the crash note naming its document:
    // that one alone. Otherwise each of them stands accused alike.
    m_paths = LastCheckFiles(ReadLastCheckFile());
    const std::u16string crashed = plat::ReadCrashNote();
    for (const std::u16string& p : m_paths) {
        if (!crashed.empty() && p == crashed) {
            m_paths = {crashed};
            break;
        }
    }
    if (!m_paths.empty()) m_path = m_paths.front();
    if (!m_path.empty()) m_icon = AppIcons().Of(IconKeyOfName(GetFileNamePart(m_path)));
    if (m_paths.size() > 1) {
        // The rows in the document's box, which grows for them (a scroll
        // bar past kMaxVisibleRows); the bottom buttons give way to each
        // row's own.
        auto* area = new QScrollArea(this);
        area->setFrameShape(QFrame::NoFrame);
        area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        auto* inner = new QWidget(area);
        auto* column = new QVBoxLayout(inner);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(2);
        for (size_t i = 0; i < m_paths.size(); ++i) {
            auto* row = new DocumentRow(m_paths[i], inner);
            const std::u16string path = m_paths[i];
            connect(row->openFolder, &QAbstractButton::clicked, this, [this, path] {
                Act(82);
                OpenFolderOf(path, this);
            });
            connect(row->except, &QAbstractButton::clicked, this, [this, path, row] {
                Act(83);
                if (ExceptDocument(path) == ExceptOutcome::Excepted) row->except->setEnabled(false);
            });
            column->addWidget(row);
            m_rowButtons.emplace_back(row->openFolder, row->except);
        }
        area->setWidget(inner);
        area->setWidgetResizable(true);
        m_list = area;
        for (QWidget* b : {static_cast<QWidget*>(m_btnExcept), static_cast<QWidget*>(m_btnOpenFolder)}) {
            b->hide();
            b->setEnabled(false);
        }
    }

    const int w = m_background.isNull() ? 440 : m_background.width();
    const int h = (m_background.isNull() ? 298 : m_background.height()) + Extra();
    setFixedSize(w, h);
    if (m_list) {
        const int rows = std::min<int>(static_cast<int>(m_paths.size()), kMaxVisibleRows);
        m_list->setGeometry(18, kBoxTop, 404, rows * kRowHeight - 2 + 16);
    }
    SetRoundRegion(w, h, 2, 2);
    CenterWindow();
    m_btnX->move(w - 25, 6);
    // The three buttons centred, a clear gap between each two.
    const int gap = 8;
    std::vector<QWidget*> bottom;
    for (QWidget* b : {static_cast<QWidget*>(m_btnExcept), static_cast<QWidget*>(m_btnOpenFolder),
                       static_cast<QWidget*>(m_btnClose)})
        if (!b->isHidden()) bottom.push_back(b);
    int span = gap * (static_cast<int>(bottom.size()) - 1);
    for (QWidget* b : bottom) span += b->width();
    int x = (w - span) / 2;
    for (QWidget* b : bottom) {
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
    if (!m_background.isNull()) {
        // Grown for several documents: the background's top and bottom
        // apart, its line below the box stretched between them.
        const int extra = Extra();
        const int bw = m_background.width(), bh = m_background.height();
        p.drawPixmap(QRect(0, 0, bw, kBoxBottom), m_background, QRect(0, 0, bw, kBoxBottom));
        if (extra > 0)
            p.drawPixmap(QRect(0, kBoxBottom, bw, extra), m_background, QRect(0, kBoxBottom, bw, 1));
        p.drawPixmap(QRect(0, kBoxBottom + extra, bw, bh - kBoxBottom), m_background,
                     QRect(0, kBoxBottom, bw, bh - kBoxBottom));
    }
    const QColor text(51, 51, 51), grey(kGreyText);
    auto draw = [&p](const QFont& font, const QColor& colour, int x, int y, const QString& s) {
        p.setFont(font);
        p.setPen(colour);
        const QRect r = QFontMetrics(font).boundingRect(QRect(x, y, 2000, 100), Qt::AlignLeft | Qt::AlignTop, s);
        p.drawText(r, Qt::AlignLeft | Qt::AlignTop, s);
        return r;
    };
    const int extra = Extra();
    draw(FontBold12(), text, 10, 10, Tx(u"ERROR_REPORT_TITLE"));
    draw(FontBold12(), text, 83, 58, Tx(u"ERROR_REPORT_MAIN_DESC1"));
    draw(FontBold12(), text, 83, 77, m_list ? ToQ(kSeveralText) : Tx(u"ERROR_REPORT_MAIN_DESC2"));
    const QRect first = draw(FontBold11(), text, 18, 157 + extra, Tx(u"ERROR_REPORT_SUB_DESC1"));
    draw(Font11(), grey, first.right() + 1, 157 + extra, Tx(u"ERROR_REPORT_SUB_DESC2"));
    draw(Font11(), grey, 18, 171 + extra, Tx(u"ERROR_REPORT_SUB_DESC3"));
    draw(Font11(), grey, 18, 185 + extra, Tx(u"ERROR_REPORT_SUB_DESC4"));
    draw(Font11(), grey, 18, 210 + extra, Tx(u"ERROR_REPORT_SUB_DESC5"));
    draw(Font11(), grey, 18, 224 + extra, Tx(u"ERROR_REPORT_SUB_DESC6"));
    if (m_list) return;  // the rows draw themselves

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

int CErrorReportDlg::Extra() const
{
    if (!m_list) return 0;
    const int rows = std::min<int>(static_cast<int>(m_paths.size()), kMaxVisibleRows);
    return rows * kRowHeight - 2 + 16 - (kBoxBottom - kBoxTop);
}

QAbstractButton* CErrorReportDlg::RowOpenFolderButton(size_t row) const
{
    return row < m_rowButtons.size() ? m_rowButtons[row].first : nullptr;
}

QAbstractButton* CErrorReportDlg::RowExceptButton(size_t row) const
{
    return row < m_rowButtons.size() ? m_rowButtons[row].second : nullptr;
}

void CErrorReportDlg::OnBnClickedOpenFolder()
{
    Act(82);
    OpenFolderOf(m_path, this);
}

void CErrorReportDlg::OnBnClickedExcept()
{
    Act(83);
    if (m_list) return;  // each row has its own
    // The window stays open when only the store failed (the user may try
    // again); it closes otherwise.
    if (ExceptDocument(m_path) != ExceptOutcome::StoreFailed) EndDialog(IDOK);
}

CErrorReportDlg::ExceptOutcome CErrorReportDlg::ExceptDocument(const std::u16string& path)
{
    // Only a regular file that is still there is excepted: a damaged value,
    // a relative path, a folder or a vanished document writes nothing.
    struct stat st{};
    const std::string native = plat::PathToNative(path);
    const bool found = !path.empty() && path.front() == u'/' && ::stat(native.c_str(), &st) == 0 &&
                       S_ISREG(st.st_mode);
    if (!found) {
        ShowMessageBox(GetText(u"ERROR_REPORT_FAIL_FOUND_FILE"), u"", 1, this);
        return ExceptOutcome::NotExcepted;
    }
    // The search never reads an empty file: nothing to except.
    if (st.st_size == 0) return ExceptOutcome::NotExcepted;
    SearchFileInfo record;
    record.path = path;
    record.fileSize = static_cast<uint64_t>(st.st_size);
    record.lastWriteTime = plat::FileTimeFromTimespec(st.st_mtim);
    // The key of the search that ended in the document: its mask.
    const PersonalInfoMask mask = ReadRegistryDword(kRunKey, 127, u"findPSInfoFlag");
    record.documentKey = MakeDocumentKey(record, mask);
    EventStoreFailureWatch watch;
    const int64_t fileIndex = AddFileInfoRow(PersonalInfoCounts{}, record);
    if (fileIndex <= 0) {
        AppLog().Write(u"The error document's FileInfo row was not written: %s", path.c_str());
        // Why, when the store said so.
        const auto failure = watch.FirstFailure();
        ShowMessageBox(failure ? std::u16string(kNotExceptedText) + u"\n" + EventStoreFailureText(*failure)
                               : std::u16string(kNotExceptedText),
                       u"", 1, this);
        return ExceptOutcome::StoreFailed;
    }
    DocumentList list{DocumentItem{path, fileIndex}};
    int processed = 0;
    CDocumentExceptionDlg dlg(this, 1);
    dlg.SetDocuments(&list, &processed);
    if (actionWindowRunner)
        actionWindowRunner(dlg);
    else
        dlg.DoModal();
    return ExceptOutcome::Excepted;
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
