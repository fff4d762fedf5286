#include "app/appcore.h"

#include <QDateTime>
#include <QFileInfo>
#include <QFileIconProvider>
#include <QGraphicsOpacityEffect>
#include <QMimeDatabase>
#include <QPainter>
#include <QPixmap>
#include <cstdarg>

#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/controls/wnd.h"
#include "core/documentkinds.h"
#include "core/logmgr.h"
#include "core/modules.h"
#include "core/registry.h"
#include "core/uitext.h"
#include "core/util.h"
#include "platform/wformat.h"

using ps::ui::FromQ;
using ps::ui::ToQ;


// ---- Icons -------------------------------------------------------------------

IconList::IconList()
{
    QPixmap blank(16, 16);
    blank.fill(Qt::transparent);
    icons_.push_back(QIcon(blank));
}

int IconList::Add(const QIcon& icon)
{
    icons_.push_back(icon);
    return static_cast<int>(icons_.size()) - 1;
}

int IconList::IndexOf(const std::u16string& key) const
{
    auto it = map_.find(key);
    return it == map_.end() ? 0 : it->second;
}

QIcon IconList::At(int index) const
{
    if (index < 0 || index >= icons_.size()) return icons_.front();
    return icons_[index];
}

namespace {

// A plain document icon drawn here when the desktop theme has none.
QIcon FallbackDocumentIcon(const QString& ext)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(QColor(120, 130, 150));
    p.setBrush(Qt::white);
    p.drawRect(2, 0, 11, 15);
    QColor band(70, 110, 170);
    const int kind = DocumentKindOfExtension(ext.toStdU16String());
    if (kind >= 0) band = QColor::fromRgb(static_cast<QRgb>(kDocumentKinds[kind].iconColour));
    p.fillRect(3, 9, 10, 5, band);
    return QIcon(pm);
}

QIcon FallbackFolderIcon()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(QColor(180, 140, 40));
    p.setBrush(QColor(250, 210, 100));
    p.drawRect(1, 4, 14, 10);
    p.drawRect(1, 2, 6, 2);
    return QIcon(pm);
}

}  // namespace

void IconList::FillExtensionIcons(const std::vector<std::u16string>& extensions)
{
    // Icons come from the MIME database through the theme; nothing is
    // created on disk for them.
    QMimeDatabase mime;
    for (const auto& ext : extensions) {
        const QString e = ToQ(ext);
        const QMimeType type = mime.mimeTypeForFile("x." + e.toLower(), QMimeDatabase::MatchExtension);
        QIcon icon = QIcon::fromTheme(type.iconName());
        if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
        if (icon.isNull()) icon = FallbackDocumentIcon(e);
        map_[ext] = Add(icon);
    }
    QIcon folder = QIcon::fromTheme("folder");
    if (folder.isNull()) folder = FallbackFolderIcon();
    map_[u"DIR"] = Add(folder);
    map_[u"CHKBOX"] = Add(QIcon(ps::ui::SkinIcon(146)));
    map_[u"UNCHKBOX"] = Add(QIcon(ps::ui::SkinIcon(268)));
}

IconList& AppIcons()
{
    static IconList list;
    return list;
}

// ---- Small helpers ------------------------------------------------------------

void Act(int action)
{
    if (ps::ui::Seams().statisticsAction)
        ps::ui::Seams().statisticsAction(action);
    else
        ReportAction(action);
}

QString Tx(const char16_t* key) { return ToQ(GetText(key)); }

std::u16string Fmt(const char16_t* key, ...)
{
    const std::u16string format = GetText(key);
    va_list ap;
    va_start(ap, key);
    std::u16string r = plat::FormatWideV(format.c_str(), ap);
    va_end(ap);
    return r;
}

QString QFmt(const char16_t* key, ...)
{
    const std::u16string format = GetText(key);
    va_list ap;
    va_start(ap, key);
    std::u16string r = plat::FormatWideV(format.c_str(), ap);
    va_end(ap);
    return ToQ(r);
}

void ShowDisabled(QWidget* w)
{
    if (!w) return;
    w->setEnabled(false);
    auto* fade = new QGraphicsOpacityEffect(w);
    fade->setOpacity(0.45);
    w->setGraphicsEffect(fade);
}

void ShowDocumentProperties(const std::u16string& path, QWidget* parent)
{
    if (path.empty()) return;
    const QFileInfo fi(ps::ui::ToQ(path));
    QString text = fi.fileName() + "\n\n" + QString::fromUtf16(u"위치: ") + fi.absolutePath();
    if (fi.isFile())
        text += QString::fromUtf16(u"\n크기: ") + ps::ui::ToQ(FormatThousands(fi.size())) + QString::fromUtf16(u" 바이트");
    if (fi.exists())
        text += QString::fromUtf16(u"\n수정한 날짜: ") + fi.lastModified().toString("yyyy-MM-dd HH:mm:ss");
    ps::ui::ShowMessageBox(ps::ui::FromQ(text), GetText(u"MENU_PROPERTY"), 1, parent);
}
